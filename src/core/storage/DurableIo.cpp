#include "core/storage/DurableIo.h"

#include <QByteArray>
#include <QFile>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>

#include <fcntl.h>
#include <unistd.h>

namespace kv {

namespace {

std::atomic<int> g_steps{0};
// Armed only by a test in its own process: nothing outside the program (no environment variable, no
// file) can end a save half-way.
std::atomic<int> g_crashAt{0};

int CrashAt()
{
    return g_crashAt.load();
}

// Counts one step; true when it is the one to crash at.
bool CrashDue()
{
    const int step = ++g_steps;
    const int at = CrashAt();
    return at > 0 && step == at;
}

[[noreturn]] void Crash()
{
    ::_exit(crashseam::kCrashExit);
}

// Ends a step that is already done: a crash here comes after it, and errno survives the count.
void AfterStep()
{
    const int saved = errno;
    if (CrashDue())
        Crash();
    errno = saved;
}

bool WriteWhole(int fd, const char* data, qint64 size, qint64 offset)
{
    while (size > 0) {
        const ssize_t n = ::pwrite(fd, data, size_t(size), off_t(offset));
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

bool WriteAt(int fd, const char* data, qint64 size, qint64 offset)
{
    if (CrashDue()) {
        WriteWhole(fd, data, size / 2, offset);
        Crash();
    }
    return WriteWhole(fd, data, size, offset);
}

qint64 ReadUpTo(int fd, char* data, qint64 size, qint64 offset)
{
    qint64 filled = 0;
    while (filled < size) {
        const ssize_t n = ::pread(fd, data + filled, size_t(size - filled), off_t(offset + filled));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return -1;
        }
        if (n == 0)
            break;
        filled += n;
    }
    return filled;
}

bool ReadAt(int fd, char* data, qint64 size, qint64 offset)
{
    const qint64 filled = ReadUpTo(fd, data, size, offset);
    if (filled < 0)
        return false;
    if (filled < size) {
        errno = EIO;
        return false;
    }
    return true;
}

bool SyncFile(int fd)
{
    const bool ok = ::fsync(fd) == 0;
    AfterStep();
    return ok;
}

bool SyncFileData(int fd)
{
    const bool ok = ::fdatasync(fd) == 0;
    AfterStep();
    return ok;
}

void StartWriteback(int fd)
{
    // Only a hint: where it fails, the fsync that follows does all the work as before.
    ::sync_file_range(fd, 0, 0, SYNC_FILE_RANGE_WRITE);
}

bool TruncateFile(int fd, qint64 size)
{
    int rc;
    do {
        rc = ::ftruncate(fd, off_t(size));
    } while (rc != 0 && errno == EINTR);
    AfterStep();
    return rc == 0;
}

bool SyncDirectory(const QString& dir)
{
    const QByteArray path = QFile::encodeName(dir);
    const int fd = ::open(path.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool ok = ::fsync(fd) == 0;
    const int saved = errno;
    ::close(fd);
    errno = saved;
    AfterStep();
    return ok;
}

bool RemoveFile(const QString& fileName)
{
    const QByteArray path = QFile::encodeName(fileName);
    const bool ok = ::unlink(path.constData()) == 0 || errno == ENOENT;
    AfterStep();
    return ok;
}

namespace crashseam {

void Arm(int k)
{
    g_crashAt = std::max(0, k);
    g_steps = 0;
}

int Steps()
{
    return g_steps.load();
}

} // namespace crashseam

} // namespace kv
