#pragma once

#include <QFile>
#include <QString>

#include <csignal>
#include <sys/fsuid.h>
#include <sys/resource.h>

namespace kvtest {

// Makes every file write of this process fail while it lives: the folder loses its write permission
// and, because the tests may run as root (which ignores permissions), the process's file-size limit
// drops to zero, so a write gets EFBIG instead of a signal.
class WritesFail
{
public:
    explicit WritesFail(QString folder) : m_folder(std::move(folder))
    {
        m_permissions = QFile::permissions(m_folder);
        QFile::setPermissions(m_folder, QFile::ReadOwner | QFile::ExeOwner);
        m_oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        getrlimit(RLIMIT_FSIZE, &m_old);
        rlimit none = m_old;
        none.rlim_cur = 0;
        setrlimit(RLIMIT_FSIZE, &none);
    }
    ~WritesFail()
    {
        setrlimit(RLIMIT_FSIZE, &m_old);
        std::signal(SIGXFSZ, m_oldHandler);
        QFile::setPermissions(m_folder, m_permissions);
    }
    WritesFail(const WritesFail&) = delete;
    WritesFail& operator=(const WritesFail&) = delete;

private:
    QString m_folder;
    QFile::Permissions m_permissions;
    rlimit m_old{};
    void (*m_oldHandler)(int) = nullptr;
};

// Takes the file-system identity of an unprivileged user while it lives, so that permissions bind
// even when the tests run as root; an unprivileged run keeps its own identity, which they bind anyway.
// Folders on the way to a file must be searchable by others for the file to be seen at all.
class ActAsNobody
{
public:
    ActAsNobody() : m_uid(setfsuid(kNobody)), m_gid(setfsgid(kNobody)) {}
    ~ActAsNobody()
    {
        setfsgid(m_gid);
        setfsuid(m_uid);
    }
    ActAsNobody(const ActAsNobody&) = delete;
    ActAsNobody& operator=(const ActAsNobody&) = delete;

private:
    static constexpr unsigned kNobody = 65534;
    int m_uid;
    int m_gid;
};

} // namespace kvtest
