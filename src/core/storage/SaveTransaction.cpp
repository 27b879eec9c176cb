#include "core/storage/SaveTransaction.h"

#include "core/platform/Errors.h"
#include "core/storage/DurableIo.h"
#include "core/storage/Journal.h"
#include "core/storage/RecordFile.h"

#include <QByteArray>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <functional>
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
        OpenJournal found;
        const RecoveryOutcome outcome = RecoverLocked(dataDir, fds, &found);
        m_journalFd = found.fd;
        m_journalSize = found.size;
        if (outcome != RecoveryOutcome::Clean) {
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
        // A seal on disk would have recovery keep the very records this rollback removes, should
        // the rollback not get through; it goes first.
        if (m_sealSize > 0) {
            const QByteArray zeros(m_sealSize, '\0');
            if (WriteAt(m_journalFd, zeros.constData(), zeros.size(), m_journal.size()))
                SyncFileData(m_journalFd);
        }
        bool restored = m_answers->Rollback();
        restored = m_values->Rollback() && restored;
        restored = m_tests->Rollback() && restored;
        // With a file that could not be put back, the journal stays: the next one to open the
        // folder finishes the rollback.
        if (m_journalStarted && restored)
            ClearJournal(m_journalFd, m_journalSize);
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
    // Recovery under our locks has left any journal zeroed, so this one holds only our entries.
    bool created = false;
    if (m_journalFd < 0) {
        const QByteArray path = QFile::encodeName(journal);
        m_journalFd = ::open(path.constData(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, S_IRUSR | S_IWUSR);
        if (m_journalFd >= 0) {
            created = true;
            m_journalSize = 0;
        } else if (errno == EEXIST) {
            m_journalFd = ::open(path.constData(), O_RDWR | O_CLOEXEC);
            m_journalSize = -1;
        }
        if (m_journalFd < 0)
            throw SaveError(errno, journal);
    }
    m_journalStarted = true;
    m_journal = bytes;
    if (m_journalSize >= 0)
        m_journalSize = std::max(m_journalSize, qint64(bytes.size()));
    // The journal must be on disk before any append can be; a journal just made, with its name.
    // fdatasync carries a grown size along; over an earlier journal's zeros there is none.
    if (!WriteAt(m_journalFd, bytes.constData(), bytes.size(), 0) || !SyncFileData(m_journalFd))
        throw SaveError(errno, journal);
    if (created && !SyncDirectory(m_dataDir))
        throw SaveError(errno, journal);
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

namespace {

template <typename Rec> void AppendRun(RecordFile& file, std::span<Rec> recs)
{
    if (!recs.empty())
        file.Append(recs.front().bytes.data(), recs.size());
}

// The record classes are their bytes alone, so a run of records read from a file is an array of them.
template <typename Rec> void ReadAs(const RecordFile& file, const std::function<void(std::span<const Rec>)>& block)
{
    file.ReadExisting([&](const char* records, size_t count) {
        block(std::span<const Rec>(reinterpret_cast<const Rec*>(records), count));
    });
}

} // namespace

void TvsDBSave::AppendTests(std::span<TvsDBTestRec> recs)
{
    BeginJournal();
    AppendRun(*m_tests, recs);
}

void TvsDBSave::AppendValues(std::span<TvsDBValueRec> recs)
{
    BeginJournal();
    AppendRun(*m_values, recs);
}

void TvsDBSave::AppendAnswers(std::span<TvsDBAnswerRec> recs)
{
    BeginJournal();
    AppendRun(*m_answers, recs);
}

void TvsDBSave::ReadTests(const std::function<void(std::span<const TvsDBTestRec>)>& block) const
{
    ReadAs<TvsDBTestRec>(*m_tests, block);
}

void TvsDBSave::ReadValues(const std::function<void(std::span<const TvsDBValueRec>)>& block) const
{
    ReadAs<TvsDBValueRec>(*m_values, block);
}

void TvsDBSave::ReadAnswers(const std::function<void(std::span<const TvsDBAnswerRec>)>& block) const
{
    ReadAs<TvsDBAnswerRec>(*m_answers, block);
}

void TvsDBSave::SetNextTestId(quint32 id)
{
    m_tests->SetNextId(id);
}

void TvsDBSave::Commit()
{
    RecordFile* const files[3] = {m_tests.get(), m_values.get(), m_answers.get()};
    if (m_journalStarted) {
        // The seal says what the finished write holds. Once it is on disk, recovery keeps a write
        // whose every byte is found, and undoes any other; so it may reach the disk before, with or
        // after the files, and the journal need not be flushed again after them.
        std::vector<SealEntry> entries;
        for (const RecordFile* file : files)
            entries.push_back({file->end(), file->writtenCrc()});
        const QByteArray seal = EncodeSeal(m_journal, entries);
        m_sealSize = seal.size();
        if (!WriteAt(m_journalFd, seal.constData(), seal.size(), m_journal.size()))
            throw SaveError(errno, JournalFileName(m_dataDir));
        if (m_journalSize >= 0)
            m_journalSize = std::max(m_journalSize, qint64(m_journal.size() + seal.size()));
        StartWriteback(m_journalFd);
    }
    for (RecordFile* file : files)
        file->StartSync();

    // Nothing orders these flushes against each other; the writeback started above lets the disk
    // take them together.
    if (m_journalStarted && !SyncFileData(m_journalFd))
        throw SaveError(errno, JournalFileName(m_dataDir));
    m_tests->Sync();
    m_values->Sync();
    m_answers->Sync();
    m_committed = true;
    // The write stands from here. Zeroing the journal's first bytes tells the next writer so
    // without a flush: should they never reach the disk, recovery finds the seal and the files
    // whole and keeps them. A failure here changes nothing for the same reason.
    if (m_journalStarted) {
        const char none[8] = {};
        WriteAt(m_journalFd, none, sizeof none, 0);
    }
}

} // namespace kv
