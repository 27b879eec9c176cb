#include "core/storage/RecordFile.h"

#include "core/platform/Errors.h"
#include "core/storage/DurableIo.h"
#include "core/storage/Journal.h"

#include <QDir>
#include <QFileInfo>
#include <QtEndian>

#include <algorithm>
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

int OpenForReading(const QString& fileName, int waitMs)
{
    const QByteArray path = QFile::encodeName(fileName);
    int fd;
    do {
        fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0)
        return -1;
    struct stat st
    {
    };
    int error = 0;
    if (::fstat(fd, &st) != 0)
        error = errno;
    else if (S_ISDIR(st.st_mode))
        error = EISDIR;
    else if (!S_ISREG(st.st_mode))
        error = ENXIO;
    else if (waitMs >= 0 && !LockWithin(fd, waitMs))
        error = errno;
    if (error != 0) {
        ::close(fd);
        errno = error;
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
    case EISDIR:
        reason = QStringLiteral("на этом месте папка");
        break;
    case ELOOP:
        reason = QStringLiteral("на этом месте символическая ссылка");
        break;
    case ENXIO:
        reason = QStringLiteral("на этом месте не обычный файл");
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

SaveError::SaveError(int code, const QString& fileName)
    : Error(SaveErrorText(code, fileName)), m_code(code), m_fileName(fileName)
{
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
        throw SaveError(errno, fileName);
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
        throw SaveError(errno, m_fileName);
    m_originalSize = st.st_size;
    m_wholeEnd = m_originalSize - m_originalSize % m_size;
    m_end = m_wholeEnd;
    m_writtenCrc = 0;
    m_tail.resize(m_originalSize - m_wholeEnd);
    m_nextId = 1;
    bool ok = m_tail.isEmpty() || ReadAt(m_fd, m_tail.data(), m_tail.size(), m_wholeEnd);
    if (ok && m_wholeEnd >= m_size) {
        char id[4];
        ok = ReadAt(m_fd, id, 4, m_wholeEnd - m_size);
        if (ok)
            m_nextId = qFromLittleEndian<quint32>(id) + 1u;
    }
    if (!ok)
        throw SaveError(errno, m_fileName);
}

RecordFile::~RecordFile()
{
    ::close(m_fd);
}

void RecordFile::Append(char* records, size_t count)
{
    quint32 id = m_nextId;
    for (size_t i = 0; i < count; ++i)
        qToLittleEndian<quint32>(id++, records + i * size_t(m_size));
    m_touched = true;
    const qint64 bytes = qint64(count) * m_size;
    if (!WriteAt(m_fd, records, bytes, m_end))
        throw SaveError(errno, m_fileName);
    m_writtenCrc = Crc32Update(m_writtenCrc, records, bytes);
    m_end += bytes;
    m_nextId = id;
}

void RecordFile::ReadExisting(const std::function<void(const char* records, size_t count)>& block) const
{
    // About a megabyte of whole records: large enough that the system calls cost nothing next to
    // the copying, small enough to stay in the processor's cache while block looks at it.
    const qint64 step = std::max<qint64>(1, (1 << 20) / m_size) * m_size;
    QByteArray buffer(int(std::min(step, std::max<qint64>(m_wholeEnd, 1))), Qt::Uninitialized);
    for (qint64 at = 0; at < m_wholeEnd; at += step) {
        const qint64 n = std::min(step, m_wholeEnd - at);
        if (!ReadAt(m_fd, buffer.data(), n, at))
            throw SaveError(errno, m_fileName);
        block(buffer.constData(), size_t(n / m_size));
    }
}

void RecordFile::Sync()
{
    if (!m_touched)
        return;
    if (!SyncFile(m_fd))
        throw SaveError(errno, m_fileName);
    // A newly created file is only durable once its directory entry is on disk too.
    if (m_created && !SyncDirectory(QFileInfo(m_fileName).absolutePath()))
        throw SaveError(errno, m_fileName);
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
