#include "core/storage/DataSnapshot.h"

#include "core/storage/DurableIo.h"
#include "core/storage/Journal.h"
#include "core/storage/RecordFile.h"
#include "core/storage/uvsDataBase.h"

#include <QDir>
#include <QFile>

#include <algorithm>
#include <cerrno>
#include <vector>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kv {

namespace {

constexpr size_t kBlockBytes = size_t(1) << 20;

QString OpenErrorText(int error, const QString& fileName)
{
    const QString where = QDir::toNativeSeparators(fileName);
    if (error == EWOULDBLOCK)
        return QStringLiteral("Файл занят другой программой: %1").arg(where);
    if (error == EACCES || error == EPERM)
        return QStringLiteral("Нет права на чтение файла: %1").arg(where);
    return QStringLiteral("Не удалось открыть файл %1: %2").arg(where, ReasonText(error));
}

// Where a journal left in the folder would cut each file back to, for the files it names; -1 for
// the others. A torn journal means its writer had appended nothing yet.
void JournalCuts(const QString& dataDir, qint64 (&cuts)[DataSnapshot::FileCount])
{
    const QString journal = JournalFileName(dataDir);
    const int fd = OpenForReading(journal, -1);
    if (fd < 0) {
        if (errno == ENOENT)
            return;
        throw ReadError(errno, journal);
    }
    QByteArray bytes;
    const bool read = ReadJournal(fd, bytes);
    ::close(fd);
    std::vector<JournalEntry> entries;
    if (!read || !JournalHoldsWrite(bytes) || !DecodeJournal(bytes, entries))
        return;
    for (const JournalEntry& entry : entries) {
        for (int k = 0; k < DataSnapshot::FileCount; ++k) {
            if (entry.name == DataSnapshot::FileName(DataSnapshot::FileKind(k)))
                cuts[k] = entry.wholeEnd;
        }
    }
}

} // namespace

ReadError::ReadError(int code, const QString& fileName)
    : Error(OpenErrorText(code, fileName)), m_code(code), m_fileName(fileName)
{
}

int DataSnapshot::RecordSize(FileKind kind)
{
    switch (kind) {
    case Tests:
        return TvsDBTestRec::kSize;
    case Values:
        return TvsDBValueRec::kSize;
    default:
        return TvsDBAnswerRec::kSize;
    }
}

QString DataSnapshot::FileName(FileKind kind)
{
    switch (kind) {
    case Tests:
        return QStringLiteral("tests.dat");
    case Values:
        return QStringLiteral("values.dat");
    default:
        return QStringLiteral("answers.dat");
    }
}

QString DataSnapshot::FilePath(FileKind kind) const
{
    return m_dataDir + u'/' + FileName(kind);
}

DataSnapshot::DataSnapshot(const QString& dataDir, Journal journal) : m_dataDir(dataDir)
{
    struct stat st
    {
    };
    if (::stat(QFile::encodeName(dataDir).constData(), &st) != 0)
        throw Error(QStringLiteral("Папка не найдена: %1").arg(QDir::toNativeSeparators(dataDir)));
    if (!S_ISDIR(st.st_mode))
        throw Error(QStringLiteral("Это не папка: %1").arg(QDir::toNativeSeparators(dataDir)));

    if (journal == Journal::Undo)
        m_recovery = RecoverDataDir(dataDir);

    try {
        // Locked in the order every writer takes them, so that no save falls between two files.
        for (int k = 0; k < FileCount; ++k) {
            const QString fileName = FilePath(FileKind(k));
            const int fd = OpenForReading(fileName, kLockWaitMs);
            if (fd < 0) {
                if (errno == ENOENT)
                    continue;
                throw ReadError(errno, fileName);
            }
            m_files[k].fd = fd;
            struct stat fst
            {
            };
            if (::fstat(fd, &fst) != 0)
                throw ReadError(errno, fileName);
            m_files[k].size = fst.st_size;
        }
        // Under the locks no writer is at work, so a journal with a write in it belongs to one that
        // died: what it appended is not read. After a recovery there is none.
        qint64 cuts[FileCount] = {-1, -1, -1};
        JournalCuts(dataDir, cuts);
        for (int k = 0; k < FileCount; ++k) {
            if (cuts[k] >= 0)
                m_files[k].size = std::min(m_files[k].size, cuts[k]);
        }
    } catch (...) {
        for (File& file : m_files)
            if (file.fd >= 0)
                ::close(file.fd);
        throw;
    }
    // Every size is noted; writers may go on.
    for (File& file : m_files)
        if (file.fd >= 0)
            ::flock(file.fd, LOCK_UN);
}

DataSnapshot::~DataSnapshot()
{
    for (File& file : m_files)
        if (file.fd >= 0)
            ::close(file.fd);
}

DataSnapshot::Reader::Reader(const DataSnapshot& snapshot, FileKind kind)
    : m_fd(snapshot.m_files[kind].fd), m_recordSize(RecordSize(kind)), m_end(snapshot.Records(kind) * RecordSize(kind))
{
}

size_t DataSnapshot::Reader::Fill(char* into, size_t count)
{
    if (m_fd < 0 || m_failed || m_at >= m_end)
        return 0;
    const qint64 want = std::min<qint64>(qint64(count) * m_recordSize, m_end - m_at);
    const qint64 filled = ReadUpTo(m_fd, into, want, m_at);
    // The file got shorter than it was, or the disk failed: what arrived whole still counts.
    if (filled < want) {
        m_failed = true;
        m_error = filled < 0 ? errno : 0;
    }
    const size_t whole = size_t(std::max<qint64>(filled, 0) / m_recordSize);
    m_at += qint64(whole) * m_recordSize;
    return whole;
}

size_t DataSnapshot::Reader::Next(const char*& records)
{
    if (!m_block) {
        // Never more than the file holds, and left uninitialised: the reads fill it.
        const size_t wanted =
            size_t(std::min<qint64>(qint64(kBlockBytes / size_t(m_recordSize)), m_end / m_recordSize));
        m_capacity = std::max<size_t>(wanted, 1);
        m_block.reset(new char[m_capacity * size_t(m_recordSize)]);
    }
    records = m_block.get();
    return Fill(m_block.get(), m_capacity);
}

} // namespace kv
