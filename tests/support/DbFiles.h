#pragma once

// Helpers shared by the tests of the record files: hand-made hex fixtures, whole-file reads and
// writes, and a forked child for faults that must not touch the test process itself.

#include <QByteArray>
#include <QFile>
#include <QList>
#include <QString>
#include <QTest>

#include <functional>

#include <sys/wait.h>
#include <unistd.h>

namespace kvtest {

// Reads a "<offset> <hex bytes> # comment" fixture; each line's offset must be where the previous
// line ended, so a slip in the fixture itself is caught too.
inline QByteArray LoadHex(const QString& name)
{
    QFile f(QStringLiteral(KVENDAR_TEST_DATA_DIR "/database/") + name);
    if (!f.open(QIODevice::ReadOnly))
        qFatal("missing fixture");
    QByteArray bytes;
    while (!f.atEnd()) {
        QByteArray line = f.readLine();
        const int hash = line.indexOf('#');
        if (hash >= 0)
            line.truncate(hash);
        const QList<QByteArray> parts = line.simplified().split(' ');
        if (parts.isEmpty() || parts.first().isEmpty())
            continue;
        if (parts.first().toInt() != bytes.size())
            qFatal("fixture offset out of step");
        for (int i = 1; i < parts.size(); ++i)
            bytes.append(char(parts[i].toInt(nullptr, 16)));
    }
    return bytes;
}

inline void WriteFile(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(f.write(bytes), bytes.size());
}

inline QByteArray ReadFile(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return QByteArray("<missing>");
    return f.readAll();
}

struct ChildResult
{
    int exitCode = -1;
    QString message;
};

// Runs fn in a forked child, so process-wide limits and identities it sets die with it. fn returns
// the exit code; what it puts in message comes back through a pipe.
inline ChildResult RunInChild(const std::function<int(QString&)>& fn)
{
    int out[2];
    if (::pipe(out) != 0)
        qFatal("pipe");
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(out[0]);
        QString message;
        int code = 99;
        try {
            code = fn(message);
        } catch (...) {
            code = 98;
        }
        const QByteArray utf8 = message.toUtf8();
        [[maybe_unused]] ssize_t n = ::write(out[1], utf8.constData(), size_t(utf8.size()));
        ::_exit(code);
    }
    ::close(out[1]);
    QByteArray received;
    char buf[512];
    ssize_t n;
    while ((n = ::read(out[0], buf, sizeof buf)) > 0)
        received.append(buf, n);
    ::close(out[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    ChildResult r;
    r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    r.message = QString::fromUtf8(received);
    return r;
}

} // namespace kvtest
