#pragma once

#include <QFile>
#include <QString>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

namespace kvtest {

// Another process that holds an exclusive flock on a file until Release (or for holdMs), the way a
// second instance of the program in the middle of a save would.
class ForeignLock
{
public:
    explicit ForeignLock(const QString& fileName, int holdMs = -1)
    {
        // Everything the child needs is ready before the fork: it only makes system calls.
        const QByteArray path = QFile::encodeName(fileName);
        int ready[2];
        if (::pipe(ready) != 0 || ::pipe(m_release) != 0)
            qFatal("pipe");
        m_pid = ::fork();
        if (m_pid == 0) {
            ::close(ready[0]);
            ::close(m_release[1]);
            const int fd = ::open(path.constData(), O_RDWR | O_CREAT, 0600);
            const bool locked = fd >= 0 && ::flock(fd, LOCK_EX) == 0;
            [[maybe_unused]] ssize_t n = ::write(ready[1], locked ? "L" : "E", 1);
            if (holdMs >= 0) {
                ::usleep(useconds_t(holdMs) * 1000);
            } else {
                char c;
                n = ::read(m_release[0], &c, 1); // returns when the parent closes its end
            }
            ::_exit(0);
        }
        ::close(ready[1]);
        ::close(m_release[0]);
        char c = 0;
        m_locked = ::read(ready[0], &c, 1) == 1 && c == 'L';
        ::close(ready[0]);
    }
    ~ForeignLock() { Release(); }
    ForeignLock(const ForeignLock&) = delete;
    ForeignLock& operator=(const ForeignLock&) = delete;

    bool locked() const { return m_locked; }
    void Release()
    {
        if (m_pid > 0) {
            ::close(m_release[1]);
            ::waitpid(m_pid, nullptr, 0);
            m_pid = -1;
        }
    }

private:
    pid_t m_pid = -1;
    int m_release[2] = {-1, -1};
    bool m_locked = false;
};

} // namespace kvtest
