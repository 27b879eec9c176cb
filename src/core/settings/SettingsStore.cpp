#include "core/settings/SettingsStore.h"

#include "core/platform/Errors.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

namespace kv {

namespace {

const QString kSection = QStringLiteral("[Kvendar]");

Error GetError(const QString& name)
{
    return Error(QStringLiteral("Failed to get data for '%1'").arg(name));
}

Error SetError(const QString& name)
{
    return Error(QStringLiteral("Failed to set data for '%1'").arg(name));
}

// The value part of a "Name=Value" line for this name, or a null string. Names are matched without
// regard to letter case, as the registry matches value names.
QString ValueOf(const QString& line, const QString& name)
{
    const qsizetype eq = line.indexOf(u'=');
    if (eq < 0 || line.left(eq).trimmed().compare(name, Qt::CaseInsensitive) != 0)
        return QString();
    return line.mid(eq + 1).trimmed();
}

bool ReadLines(const QString& fileName, QStringList& lines)
{
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return false;
    lines = QString::fromUtf8(bytes).split(u'\n');
    for (QString& line : lines)
        if (line.endsWith(u'\r'))
            line.chop(1);
    while (!lines.isEmpty() && lines.constLast().isEmpty())
        lines.removeLast();
    return true;
}

} // namespace

QString DefaultSettingsFile()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/Orvanta/Kvendar.ini");
}

QStringList GeometryValueNames()
{
    return {QStringLiteral("Left"),   QStringLiteral("Top"),         QStringLiteral("Width"),
            QStringLiteral("Height"), QStringLiteral("pnTreeWidth"), QStringLiteral("pnStringsHeight")};
}

bool SettingsStore::KeyExists() const
{
    if (!QFileInfo(m_fileName).isFile())
        return false;
    QFile file(m_fileName);
    return file.open(QIODevice::ReadOnly);
}

void SettingsStore::CreateKey() const
{
    if (KeyExists())
        return;
    QDir().mkpath(QFileInfo(m_fileName).absolutePath());
    QFile file(m_fileName);
    // NewOnly: a key created meanwhile by another instance keeps its values.
    if (file.open(QIODevice::WriteOnly | QIODevice::NewOnly))
        file.close();
}

bool SettingsStore::DeleteKey() const
{
    QFile::remove(m_fileName);
    return !QFileInfo::exists(m_fileName);
}

qint32 SettingsStore::ReadInteger(const QString& name) const
{
    QStringList lines;
    if (!ReadLines(m_fileName, lines))
        throw GetError(name);
    for (const QString& line : std::as_const(lines)) {
        const QString text = ValueOf(line, name);
        if (text.isNull())
            continue;
        bool ok = false;
        const qint32 value = text.toInt(&ok, 10);
        if (!ok)
            throw Error(QStringLiteral("Invalid data type for '%1'").arg(name));
        return value;
    }
    throw GetError(name);
}

bool SettingsStore::FindInteger(const QString& name, qint32& value) const
{
    try {
        value = ReadInteger(name);
        return true;
    } catch (const Error&) {
        return false;
    }
}

void SettingsStore::WriteInteger(const QString& name, qint32 value) const
{
    QStringList lines;
    if (QFileInfo::exists(m_fileName) && !ReadLines(m_fileName, lines))
        throw SetError(name);
    const QString entry = name + u'=' + QString::number(value);
    bool replaced = false;
    for (QString& line : lines) {
        if (!ValueOf(line, name).isNull()) {
            line = entry;
            replaced = true;
            break;
        }
    }
    if (!replaced) {
        if (!lines.contains(kSection))
            lines.prepend(kSection);
        lines.append(entry);
    }

    // Written beside the old file and renamed over it, so a crash or a full disk never leaves a
    // half-written settings file behind.
    // Unbuffered: with Qt's write buffer a failing write (a full disk, a file-size limit) still
    // lets commit() report success and leaves an empty file in place of the key.
    QSaveFile file(m_fileName);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        throw SetError(name);
    const QByteArray bytes = lines.join(u'\n').toUtf8() + '\n';
    if (file.write(bytes) != bytes.size() || !file.commit())
        throw SetError(name);
}

} // namespace kv
