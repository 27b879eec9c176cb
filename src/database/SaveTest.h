#pragma once

#include "database/uvsDataBase.h"

#include <QString>

#include <functional>
#include <memory>
#include <span>

namespace kv {

class RecordFile;

// Stores one test with its value records as a unit. Both files are locked from construction to the
// end of the object's life, so another instance's records can never fall between this test and its
// values, and a rollback only ever removes this save's own records. Unless Commit succeeds, the
// destructor cuts both files back to exactly what they held before.
//
// Every failure raises kv::Error with a Russian message naming the reason and the file.
class TvsDBSave final
{
public:
    TvsDBSave(const QString& testsFile, const QString& valuesFile, int lockWaitMs = kLockWaitMs);
    ~TvsDBSave();
    TvsDBSave(const TvsDBSave&) = delete;
    TvsDBSave& operator=(const TvsDBSave&) = delete;

    // Numbers rec and writes it after the last whole record of its file.
    void AppendTest(TvsDBTestRec& rec);
    void AppendValue(TvsDBValueRec& rec);
    // Many records at once, numbered in place one after another: a merge writes thousands, and a
    // system call per record would cost more than the copying.
    void AppendTests(std::span<TvsDBTestRec> recs);
    void AppendValues(std::span<TvsDBValueRec> recs);

    // The records each file held when it was locked, a run at a time. The files are locked by this
    // object, so this is the only way to read them before writing.
    void ReadTests(const std::function<void(std::span<const TvsDBTestRec>)>& block) const;
    void ReadValues(const std::function<void(std::span<const TvsDBValueRec>)>& block) const;

    // Flushes both files to disk; only after it returns is the test saved.
    void Commit();

private:
    std::unique_ptr<RecordFile> m_tests;
    std::unique_ptr<RecordFile> m_values;
    bool m_committed = false;
};

} // namespace kv
