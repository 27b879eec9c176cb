#include "database/RecordFile.h"

#include "database/DurableIo.h"
#include "platform/Errors.h"

#include <QDir>
#include <QFileInfo>
#include <QtEndian>

#include <cerrno>
#include <cstring>
#include <ctime>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kv {

namespace {

constexpr int kLockPollMs = 20;

qint64 MonotonicMs()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return qint64(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

bool LockWithin(int fd, int waitMs)
{
    const qint64 deadline = MonotonicMs() + waitMs;
    for (;;) {
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0)
            return true;
        if (errno == EINTR)
            continue;
        if (errno != EWOULDBLOCK || MonotonicMs() >= deadline)
            return false;
        const timespec pause{0, kLockPollMs * 1000000L};
        ::nanosleep(&pause, nullptr);
    }
}

bool ReadAll(int fd, char* data, qint64 size, qint64 offset)
{
    while (size > 0) {
        const ssize_t n = ::pread(fd, data, size_t(size), off_t(offset));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (n == 0) {
            errno = EIO;
            return false;
        }
        data += n;
        size -= n;
        offset += n;
    }
    return true;
}

} // namespace

int OpenLocked(const QString& fileName, int flags, int waitMs)
{
    const QByteArray path = QFile::encodeName(fileName);
    int fd;
    do {
        // Personal data: a file made here is readable by its owner alone.
        fd = ::open(path.constData(), flags | O_CLOEXEC, S_IRUSR | S_IWUSR);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0)
        return -1;
    if (!LockWithin(fd, waitMs)) {
        const int saved = errno;
        ::close(fd);
        errno = saved;
        return -1;
    }
    return fd;
}

QString ReasonText(int error)
{
    QString reason;
    switch (error) {
    case EWOULDBLOCK:
        reason = QStringLiteral("база данных занята другой программой");
        break;
    case ENOSPC:
    case EDQUOT:
        reason = QStringLiteral("на диске нет места");
        break;
    case EFBIG:
        reason = QStringLiteral("файл достиг предельного размера");
        break;
    case EACCES:
    case EPERM:
        reason = QStringLiteral("нет права на запись");
        break;
    case EROFS:
        reason = QStringLiteral("диск доступен только для чтения");
        break;
    case EIO:
        reason = QStringLiteral("ошибка ввода-вывода");
        break;
    case ENOENT:
    case ENOTDIR:
        reason = QStringLiteral("папка базы данных не найдена");
        break;
    default:
        reason = QStringLiteral("системная ошибка %1").arg(error);
        break;
    }
    return reason;
}

QString SaveErrorText(int error, const QString& fileName)
{
    return QStringLiteral("Тест не сохранен: %1 (%2)").arg(ReasonText(error), QDir::toNativeSeparators(fileName));
}

RecordFile::RecordFile(const QString& fileName, int recordSize, int lockWaitMs)
    : m_fileName(fileName), m_size(recordSize)
{
    const QByteArray path = QFile::encodeName(fileName);
    struct stat before
    {
    };
    const bool existed = ::stat(path.constData(), &before) == 0;
    m_fd = OpenLocked(fileName, O_RDWR | O_CREAT, lockWaitMs);
    if (m_fd < 0)
        throw Error(SaveErrorText(errno, fileName));
    m_created = !existed;

    try {
        Measure();
    } catch (...) {
        ::close(m_fd);
        throw;
    }
}

void RecordFile::Measure()
{
    struct stat st
    {
    };
    if (::fstat(m_fd, &st) != 0)
        throw Error(SaveErrorText(errno, m_fileName));
    m_originalSize = st.st_size;
    m_wholeEnd = m_originalSize - m_originalSize % m_size;
    m_end = m_wholeEnd;
    m_tail.resize(m_originalSize - m_wholeEnd);
    m_nextId = 1;
    bool ok = m_tail.isEmpty() || ReadAll(m_fd, m_tail.data(), m_tail.size(), m_wholeEnd);
    if (ok && m_wholeEnd >= m_size) {
        char id[4];
        ok = ReadAll(m_fd, id, 4, m_wholeEnd - m_size);
        if (ok)
            m_nextId = qFromLittleEndian<quint32>(id) + 1u;
    }
    if (!ok)
        throw Error(SaveErrorText(errno, m_fileName));
}

RecordFile::~RecordFile()
{
    ::close(m_fd);
}

void RecordFile::Append(char* record)
{
    qToLittleEndian<quint32>(m_nextId, record);
    m_touched = true;
    if (!WriteAt(m_fd, record, m_size, m_end))
        throw Error(SaveErrorText(errno, m_fileName));
    m_end += m_size;
    ++m_nextId;
}

void RecordFile::Sync()
{
    if (!m_touched)
        return;
    if (!SyncFile(m_fd))
        throw Error(SaveErrorText(errno, m_fileName));
    // A newly created file is only durable once its directory entry is on disk too.
    if (m_created && !SyncDirectory(QFileInfo(m_fileName).absolutePath()))
        throw Error(SaveErrorText(errno, m_fileName));
}

void RecordFile::StartSync()
{
    if (m_touched)
        StartWriteback(m_fd);
}

bool RecordFile::Rollback() noexcept
{
    if (!m_touched)
        return true;
    // Shrinking first frees the space a full disk needs to put the old tail back.
    bool ok = TruncateFile(m_fd, m_wholeEnd);
    if (ok && !m_tail.isEmpty())
        ok = WriteAt(m_fd, m_tail.constData(), m_tail.size(), m_wholeEnd);
    ok = SyncFile(m_fd) && ok;
    if (ok) {
        m_end = m_wholeEnd;
        m_touched = false;
    }
    return ok;
}

} // namespace kv
