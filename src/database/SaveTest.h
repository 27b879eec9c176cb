#pragma once

#include "database/uvsDataBase.h"

#include <QString>

#include <memory>

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

    // Flushes both files to disk; only after it returns is the test saved.
    void Commit();

private:
    std::unique_ptr<RecordFile> m_tests;
    std::unique_ptr<RecordFile> m_values;
    bool m_committed = false;
};

} // namespace kv
