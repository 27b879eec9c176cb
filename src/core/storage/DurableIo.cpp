#include "core/storage/DurableIo.h"

#include <QByteArray>
#include <QFile>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <mutex>
#include <system_error>
#include <thread>

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

bool ReadAt(int fd, char* data, qint64 size, qint64 offset)
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

struct FlushBeside::Ticket
{
    std::function<void()> job;
    std::mutex lock;
    std::condition_variable finished;
    bool done = false;
};

namespace {

// A queue served by two threads: a save flushes two files beside its own thread.
class FlushThread
{
public:
    static constexpr int kThreads = 2;

    // The threads of this process. A child made by fork has none of its parent's threads, so it
    // starts its own; the parent's queue, whatever state fork caught it in, is never touched again.
    static FlushThread* Get()
    {
        static std::mutex made;
        static FlushThread* current = nullptr;
        const std::lock_guard lock(made);
        if (current == nullptr || current->m_owner != ::getpid()) {
            auto* fresh = new FlushThread;
            int started = 0;
            for (int i = 0; i < kThreads; ++i) {
                try {
                    std::thread(&FlushThread::Run, fresh).detach();
                    ++started;
                } catch (const std::system_error&) {
                }
            }
            if (started == 0) {
                delete fresh;
                return nullptr;
            }
            current = fresh; // kept for the process's life, like its threads
        }
        return current;
    }

    void Post(std::shared_ptr<FlushBeside::Ticket> ticket)
    {
        {
            const std::lock_guard lock(m_lock);
            m_queue.push_back(std::move(ticket));
        }
        m_posted.notify_one();
    }

private:
    void Run()
    {
        for (;;) {
            std::shared_ptr<FlushBeside::Ticket> ticket;
            {
                std::unique_lock lock(m_lock);
                m_posted.wait(lock, [this] { return !m_queue.empty(); });
                ticket = std::move(m_queue.front());
                m_queue.pop_front();
            }
            ticket->job();
            {
                const std::lock_guard lock(ticket->lock);
                ticket->done = true;
            }
            ticket->finished.notify_all();
        }
    }

    const pid_t m_owner = ::getpid();
    std::mutex m_lock;
    std::condition_variable m_posted;
    std::deque<std::shared_ptr<FlushBeside::Ticket>> m_queue;
};

} // namespace

FlushBeside::FlushBeside(std::function<void()> job) : m_ticket(std::make_shared<Ticket>())
{
    m_ticket->job = std::move(job);
    if (FlushThread* thread = FlushThread::Get()) {
        thread->Post(m_ticket);
    } else {
        m_ticket->job();
        m_ticket->done = true;
    }
}

void FlushBeside::Wait()
{
    std::unique_lock lock(m_ticket->lock);
    m_ticket->finished.wait(lock, [this] { return m_ticket->done; });
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
