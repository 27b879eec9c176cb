#include "exchange/TableSink.h"

#include "platform/Errors.h"

#include <QDate>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kv {

QString WriteErrorText(int error, const QString& fileName)
{
    QString reason;
    switch (error) {
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
    case ENOENT:
    case ENOTDIR:
        reason = QStringLiteral("папка не найдена");
        break;
    case EISDIR:
        reason = QStringLiteral("на этом месте папка");
        break;
    default:
        reason = QString::fromLocal8Bit(std::strerror(error));
        break;
    }
    return QStringLiteral("Экспорт не выполнен: %1 (%2)").arg(reason, QDir::toNativeSeparators(fileName));
}

StagedFile::StagedFile(const QString& finalName) : m_finalName(finalName)
{
    const QFileInfo info(finalName);
    // A dot name in the same folder: the rename stays on one file system, and a folder listing
    // does not offer the half-written file as an export.
    QByteArray pattern = QFile::encodeName(info.absolutePath() + QStringLiteral("/.") + info.fileName()) + ".XXXXXX";
    m_fd = ::mkostemp(pattern.data(), O_CLOEXEC);
    if (m_fd < 0)
        throw Error(WriteErrorText(errno, finalName));
    // Names and ages of respondents: the export is the owner's alone, like the database.
    ::fchmod(m_fd, S_IRUSR | S_IWUSR);
    m_tempPath = pattern;
    m_tempName = QFile::decodeName(pattern);
}

StagedFile::~StagedFile()
{
    if (m_fd >= 0)
        ::close(m_fd);
    if (!m_committed)
        ::unlink(m_tempPath.constData());
}

void StagedFile::CloseFd()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

void StagedFile::Sync()
{
    int fd = m_fd;
    if (fd < 0)
        fd = ::open(m_tempPath.constData(), O_RDONLY | O_CLOEXEC);
    const bool ok = fd >= 0 && ::fsync(fd) == 0;
    const int saved = errno;
    if (fd != m_fd && fd >= 0)
        ::close(fd);
    if (!ok)
        throw Error(WriteErrorText(saved, m_finalName));
}

void StagedFile::Commit()
{
    if (::rename(m_tempPath.constData(), QFile::encodeName(m_finalName).constData()) != 0)
        throw Error(WriteErrorText(errno, m_finalName));
    m_committed = true;
}

QString IsoDateTime(qint64 days, qint32 ms)
{
    const QDate day = QDate(1899, 12, 30).addDays(days);
    if (!day.isValid() || day.year() < 1 || day.year() > 9999)
        return QString();
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03d", day.year(), day.month(), day.day(),
                  ms / 3600000, ms / 60000 % 60, ms / 1000 % 60, ms % 1000);
    return QString::fromLatin1(text);
}

} // namespace kv
