#pragma once

#include "core/storage/uvsDataBase.h"

#include <QString>

#include <functional>
#include <memory>
#include <span>

namespace kv {

class RecordFile;

// Writes to the Data folder as one transaction: a test with its value and answer records, or a
// merge of many tests. tests.dat, values.dat and answers.dat are locked, in that order, from
// construction to the end of the object's life, so another instance's records can never fall
// between this save's and a rollback only ever removes this save's own records. Before the first
// append a rollback journal records the files' sizes, so that even a process killed half-way leaves
// either everything or nothing once the folder is next opened (RecoverDataDir). Unless Commit
// succeeds, the destructor cuts all three files back to exactly what they held before.
//
// Every failure raises kv::Error with a Russian message naming the reason and the file.
class TvsDBSave final
{
public:
    explicit TvsDBSave(const QString& dataDir, int lockWaitMs = kLockWaitMs);
    // For callers that name the files: they must be the tests.dat and values.dat of one folder,
    // whose answers.dat and journal go with them.
    TvsDBSave(const QString& testsFile, const QString& valuesFile, int lockWaitMs = kLockWaitMs);
    ~TvsDBSave();
    TvsDBSave(const TvsDBSave&) = delete;
    TvsDBSave& operator=(const TvsDBSave&) = delete;

    // Numbers rec and writes it after the last whole record of its file.
    void AppendTest(TvsDBTestRec& rec);
    void AppendValue(TvsDBValueRec& rec);
    void AppendAnswer(TvsDBAnswerRec& rec);
    // Many records at once, numbered in place one after another: a merge writes thousands, and a
    // system call per record would cost more than the copying.
    void AppendTests(std::span<TvsDBTestRec> recs);
    void AppendValues(std::span<TvsDBValueRec> recs);
    void AppendAnswers(std::span<TvsDBAnswerRec> recs);

    // The records each file held when it was locked (after any recovery), a run at a time. The
    // files are locked by this object, so this is the only way to read them before writing.
    void ReadTests(const std::function<void(std::span<const TvsDBTestRec>)>& block) const;
    void ReadValues(const std::function<void(std::span<const TvsDBValueRec>)>& block) const;
    void ReadAnswers(const std::function<void(std::span<const TvsDBAnswerRec>)>& block) const;
    // The number the next appended test gets (by default the last test record's plus one).
    void SetNextTestId(quint32 id);

    // Flushes the files to disk and retires the journal; only after it returns is the save done.
    void Commit();

private:
    void BeginJournal();

    QString m_dataDir;
    std::unique_ptr<RecordFile> m_tests;
    std::unique_ptr<RecordFile> m_values;
    std::unique_ptr<RecordFile> m_answers;
    int m_journalFd = -1;
    QByteArray m_journal; // the journal as written, which the seal goes behind
    qsizetype m_sealSize = 0;
    qint64 m_journalSize = -1; // -1: unknown, measured when cleared
    bool m_journalStarted = false;
    bool m_committed = false;
};

} // namespace kv
