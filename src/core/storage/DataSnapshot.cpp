#include "core/storage/DataSnapshot.h"

#include "core/platform/Errors.h"
#include "core/storage/Journal.h"
#include "core/storage/RecordFile.h"
#include "core/storage/uvsDataBase.h"

#include <QDir>
#include <QFile>

#include <algorithm>
#include <cerrno>
#include <cstring>

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
    return QStringLiteral("Не удалось открыть файл %1: %2").arg(where, QString::fromLocal8Bit(std::strerror(error)));
}

} // namespace

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

DataSnapshot::DataSnapshot(const QString& dataDir)
{
    struct stat st
    {
    };
    if (::stat(QFile::encodeName(dataDir).constData(), &st) != 0)
        throw Error(QStringLiteral("Папка не найдена: %1").arg(QDir::toNativeSeparators(dataDir)));
    if (!S_ISDIR(st.st_mode))
        throw Error(QStringLiteral("Это не папка: %1").arg(QDir::toNativeSeparators(dataDir)));

    // A save that died half-way is undone first, as the program does before it reads.
    m_recovery = RecoverDataDir(dataDir);

    try {
        for (int k = 0; k < FileCount; ++k) {
            const QString fileName = dataDir + u'/' + FileName(FileKind(k));
            const int fd = OpenLocked(fileName, O_RDONLY, kLockWaitMs);
            if (fd < 0) {
                if (errno == ENOENT)
                    continue;
                throw Error(OpenErrorText(errno, fileName));
            }
            m_files[k].fd = fd;
            struct stat fst
            {
            };
            if (::fstat(fd, &fst) != 0)
                throw Error(OpenErrorText(errno, fileName));
            m_files[k].size = fst.st_size;
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
    // Never more than the file holds, and left uninitialised: the reads fill it.
    const size_t wanted = size_t(std::min<qint64>(qint64(kBlockBytes / size_t(m_recordSize)), m_end / m_recordSize));
    m_capacity = std::max<size_t>(wanted, 1) * size_t(m_recordSize);
    m_block.reset(new char[m_capacity]);
}

size_t DataSnapshot::Reader::Next(const char*& records)
{
    if (m_fd < 0 || m_failed || m_at >= m_end)
        return 0;
    const size_t want = size_t(std::min<qint64>(qint64(m_capacity), m_end - m_at));
    size_t filled = 0;
    while (filled < want) {
        const ssize_t n = ::pread(m_fd, m_block.get() + filled, want - filled, off_t(m_at + qint64(filled)));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            // The file got shorter than it was, or the disk failed: what arrived whole still counts.
            m_failed = true;
            break;
        }
        filled += size_t(n);
    }
    const size_t whole = filled / size_t(m_recordSize);
    m_at += qint64(whole) * m_recordSize;
    records = m_block.get();
    return whole;
}

} // namespace kv
