#include "database/SaveTest.h"

#include "database/DurableIo.h"
#include "database/Journal.h"
#include "database/RecordFile.h"
#include "platform/Errors.h"

#include <QByteArray>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kv {

TvsDBSave::TvsDBSave(const QString& dataDir, int lockWaitMs) : m_dataDir(dataDir)
{
    // Always this order: instances that lock in the same order cannot deadlock.
    m_tests = std::make_unique<RecordFile>(TestsFileName(dataDir), TvsDBTestRec::kSize, lockWaitMs);
    m_values = std::make_unique<RecordFile>(ValuesFileName(dataDir), TvsDBValueRec::kSize, lockWaitMs);
    m_answers = std::make_unique<RecordFile>(AnswersFileName(dataDir), TvsDBAnswerRec::kSize, lockWaitMs);

    // A writer that died before us left its journal; under our locks nobody else can be at it, so
    // its half is undone before anything of ours is measured.
    const int fds[3] = {m_tests->fd(), m_values->fd(), m_answers->fd()};
    try {
        if (RecoverLocked(dataDir, fds) != RecoveryOutcome::Clean) {
            m_tests->Measure();
            m_values->Measure();
            m_answers->Measure();
        }
    } catch (const Error& e) {
        throw Error(QStringLiteral("Тест не сохранен. ") + e.message());
    }
}

TvsDBSave::TvsDBSave(const QString& testsFile, const QString&, int lockWaitMs)
    : TvsDBSave(QFileInfo(testsFile).absolutePath(), lockWaitMs)
{
}

TvsDBSave::~TvsDBSave()
{
    if (!m_committed) {
        bool restored = m_answers->Rollback();
        restored = m_values->Rollback() && restored;
        restored = m_tests->Rollback() && restored;
        // With a file that could not be put back, the journal stays: the next one to open the
        // folder finishes the rollback.
        if (m_journalFd >= 0 && restored)
            ClearJournal(m_journalFd);
    }
    if (m_journalFd >= 0)
        ::close(m_journalFd);
}

void TvsDBSave::BeginJournal()
{
    if (m_journalStarted)
        return;
    std::vector<JournalEntry> entries;
    for (const RecordFile* file : {m_tests.get(), m_values.get(), m_answers.get()})
        entries.push_back({QFileInfo(file->fileName()).fileName(), file->wholeEnd(), file->tail()});
    const QByteArray bytes = EncodeJournal(entries);

    const QString journal = JournalFileName(m_dataDir);
    const QByteArray path = QFile::encodeName(journal);
    m_journalStarted = true;
    // Recovery under our locks has left any journal zeroed, so this one holds only our entries.
    bool created = false;
    m_journalFd = ::open(path.constData(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, S_IRUSR | S_IWUSR);
    if (m_journalFd >= 0)
        created = true;
    else if (errno == EEXIST)
        m_journalFd = ::open(path.constData(), O_RDWR | O_CLOEXEC);
    if (m_journalFd < 0)
        throw Error(SaveErrorText(errno, journal));
    // The journal must be on disk before any append can be; a journal just made, with its name.
    // fdatasync carries a grown size along; over an earlier journal's zeros there is none.
    if (!WriteAt(m_journalFd, bytes.constData(), bytes.size(), 0) || !SyncFileData(m_journalFd))
        throw Error(SaveErrorText(errno, journal));
    if (created && !SyncDirectory(m_dataDir))
        throw Error(SaveErrorText(errno, journal));
}

void TvsDBSave::AppendTest(TvsDBTestRec& rec)
{
    BeginJournal();
    m_tests->Append(rec.bytes.data());
}

void TvsDBSave::AppendValue(TvsDBValueRec& rec)
{
    BeginJournal();
    m_values->Append(rec.bytes.data());
}

void TvsDBSave::AppendAnswer(TvsDBAnswerRec& rec)
{
    BeginJournal();
    m_answers->Append(rec.bytes.data());
}

void TvsDBSave::Commit()
{
    m_tests->StartSync();
    m_values->StartSync();
    m_answers->StartSync();
    m_tests->Sync();
    m_values->Sync();
    m_answers->Sync();
    // Once the emptied journal is on disk the save stands; should that fail, the destructor undoes
    // the save in this process instead, so "not saved" is never a lie either way.
    if (m_journalFd >= 0 && !ClearJournal(m_journalFd))
        throw Error(SaveErrorText(errno, JournalFileName(m_dataDir)));
    m_committed = true;
}

} // namespace kv
