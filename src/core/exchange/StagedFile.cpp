#include "core/exchange/TableSink.h"

#include "core/platform/Errors.h"
#include "core/storage/RecordFile.h"

#include <QDate>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstdlib>

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kv {

QString WriteErrorText(int error, const QString& fileName)
{
    // The reasons are the database's own; only a missing folder is the output's, not the database's.
    const QString reason = error == ENOENT || error == ENOTDIR ? QStringLiteral("папка не найдена") : ReasonText(error);
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

size_t FormatIsoDateTime(qint64 days, qint32 ms, char* out)
{
    // Days to a Gregorian date without a calendar object (H. Hinnant's civil_from_days): one per
    // test of a large export, where QDate and a QString per row would cost more than the row.
    const qint64 z = days + 693899; // 1899-12-30 is day -25569 from 1970-01-01, which is 719468 from 0000-03-01
    const qint64 era = (z >= 0 ? z : z - 146096) / 146097;
    const qint64 doe = z - era * 146097;
    const qint64 yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const qint64 doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const qint64 mp = (5 * doy + 2) / 153;
    const qint64 day = doy - (153 * mp + 2) / 5 + 1;
    const qint64 month = mp < 10 ? mp + 3 : mp - 9;
    const qint64 year = yoe + era * 400 + (month <= 2);
    if (year < 1 || year > 9999)
        return 0;
    const auto two = [](char* at, qint64 value) {
        at[0] = char('0' + value / 10);
        at[1] = char('0' + value % 10);
    };
    two(out, year / 100);
    two(out + 2, year % 100);
    out[4] = '-';
    two(out + 5, month);
    out[7] = '-';
    two(out + 8, day);
    out[10] = 'T';
    two(out + 11, ms / 3600000);
    out[13] = ':';
    two(out + 14, ms / 60000 % 60);
    out[16] = ':';
    two(out + 17, ms / 1000 % 60);
    out[19] = '.';
    out[20] = char('0' + ms % 1000 / 100);
    two(out + 21, ms % 100);
    return kIsoDateTimeLength;
}

QString IsoDateTime(qint64 days, qint32 ms)
{
    char text[kIsoDateTimeLength];
    return QString::fromLatin1(text, qsizetype(FormatIsoDateTime(days, ms, text)));
}

} // namespace kv
