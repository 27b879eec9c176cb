#include "core/platform/ProfileFile.h"

#include "core/platform/Codec.h"

#include <QFile>

namespace kv {

namespace {

bool IsBlank(QChar c)
{
    return c == u' ' || c == u'\t';
}

QStringView TrimBlanks(QStringView text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && IsBlank(text.at(begin)))
        ++begin;
    while (end > begin && IsBlank(text.at(end - 1)))
        --end;
    return text.mid(begin, end - begin);
}

} // namespace

QString ProfileFile::ReadString(const QString& section, const QString& key, const QString& defaultValue) const
{
    QFile file(m_fileName);
    if (!file.open(QIODevice::ReadOnly))
        return defaultValue;
    const QString text = FromCp1251(file.readAll());

    bool inSection = false;
    for (QStringView rawLine : QStringView(text).split(u'\n')) {
        QStringView line = TrimBlanks(rawLine.endsWith(u'\r') ? rawLine.chopped(1) : rawLine);
        if (line.isEmpty() || line.startsWith(u';'))
            continue;
        if (line.startsWith(u'[')) {
            const qsizetype close = line.indexOf(u']');
            const QStringView name = TrimBlanks(close < 0 ? line.mid(1) : line.mid(1, close - 1));
            inSection = name.compare(section, Qt::CaseInsensitive) == 0;
            continue;
        }
        if (!inSection)
            continue;
        const qsizetype eq = line.indexOf(u'=');
        if (eq < 0)
            continue;
        if (TrimBlanks(line.left(eq)).compare(key, Qt::CaseInsensitive) != 0)
            continue;
        return TrimBlanks(line.mid(eq + 1)).left(kMaxValueLength).toString();
    }
    return defaultValue;
}

} // namespace kv
