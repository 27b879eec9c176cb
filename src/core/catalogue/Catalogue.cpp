#include "core/catalogue/Catalogue.h"

#include "core/platform/Codec.h"
#include "core/platform/Errors.h"
#include "core/platform/ProfileFile.h"

#include <QFile>
#include <QFileInfo>

namespace kv {

namespace {

QByteArray ReadAllBytes(const QString& fileName)
{
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        throw Error(QStringLiteral("Не удаётся открыть файл \"%1\": %2").arg(fileName, file.errorString()));
    QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        throw Error(QStringLiteral("Ошибка чтения файла \"%1\": %2").arg(fileName, file.errorString()));
    return bytes;
}

} // namespace

QStringList SplitItemLines(const QByteArray& bytes)
{
    QStringList lines;
    const qsizetype nul = bytes.indexOf('\0');
    const qsizetype end = nul < 0 ? bytes.size() : nul;
    qsizetype start = 0;
    qsizetype i = 0;
    while (i < end) {
        const char c = bytes.at(i);
        if (c == '\r' || c == '\n') {
            lines.append(FromCp1251(QByteArrayView(bytes).sliced(start, i - start)));
            i += (c == '\r' && i + 1 < end && bytes.at(i + 1) == '\n') ? 2 : 1;
            start = i;
        } else {
            ++i;
        }
    }
    if (start < end)
        lines.append(FromCp1251(QByteArrayView(bytes).sliced(start, end - start)));
    return lines;
}

QStringList ReadTextLines(const QString& fileName)
{
    return SplitItemLines(ReadAllBytes(fileName));
}

QString ReadTextFile(const QString& fileName)
{
    return FromCp1251(ReadAllBytes(fileName));
}

void LoadValueTypeItems(TvsValueTypeRec& group, qint32 number)
{
    group.Values = std::make_unique<TvsValueList>();
    const QStringList lines = ReadTextLines(group.ItemsFile);
    for (const QString& line : lines)
        group.Values->Add(line, number, group.Name);
}

QString ReadCatalogue(const QString& exeDir, const QString& fileName, TvsValueTypeList& valueTypes)
{
    const ProfileFile profile(exeDir + fileName);
    const QString missing = QString::fromUtf16(kMissingKey);
    valueTypes.Clear();

    const QString lines = profile.ReadString(QStringLiteral("MAIN"), QStringLiteral("Lines"), missing);
    if (lines == missing)
        return lines;
    try {
        for (qint32 number = 1; number <= 4; ++number) {
            const QString name = profile.ReadString(QStringLiteral("ValueTypes"),
                                                    QStringLiteral("ValueTypeName%1").arg(number), missing);
            if (name == missing)
                break;
            const QString items = profile.ReadString(QStringLiteral("ValueTypes"),
                                                     QStringLiteral("ValueTypeItems%1").arg(number), missing);
            if (items == missing)
                break;
            TvsValueTypeRec& group = valueTypes.Items(valueTypes.Add(name, exeDir + items));
            group.Number = number;
            LoadValueTypeItems(group, number);
        }
    } catch (const std::exception&) {
        // A missing or unreadable item file ends the reading without a word; the groups read so
        // far, the one being read included, stay.
    }
    return lines;
}

QStringList GroupNamesOf(const QString& configFile)
{
    const ProfileFile profile(configFile);
    QStringList names;
    for (qint32 number = 1; number <= 4; ++number)
        names << profile.ReadString(QStringLiteral("ValueTypes"), QStringLiteral("ValueTypeName%1").arg(number),
                                    QString());
    return names;
}

void AppendValueToItemFile(const QString& fileName, const QString& text)
{
    // Appending must never create the file: a deleted item file stays deleted.
    if (!QFileInfo(fileName).isFile())
        return;
    QFile file(fileName);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::ExistingOnly))
        return;
    file.write("\r\n");
    file.write(ToCp1251(text));
    file.flush();
    file.close();
}

} // namespace kv
