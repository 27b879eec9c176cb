#include "support/CoreSupport.h"

#include "core/platform/Codec.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace kvtest {

ExeDir::ExeDir() = default;

QString ExeDir::path() const
{
    return m_dir.path() + u'/';
}

void ExeDir::write(const QString& name, const QByteArray& bytes) const
{
    QFile f(file(name));
    QDir().mkpath(QFileInfo(f).absolutePath());
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(bytes) != bytes.size())
        qFatal("cannot write fixture %s", qPrintable(f.fileName()));
}

QByteArray ExeDir::read(const QString& name) const
{
    QFile f(file(name));
    if (!f.open(QIODevice::ReadOnly))
        return QByteArray();
    return f.readAll();
}

void ExeDir::copyShippedCatalogue() const
{
    const QDir shipped(QStringLiteral(KVENDAR_SHIPPED_DATA_DIR));
    for (const QString& name : shipped.entryList({QStringLiteral("*.ini"), QStringLiteral("*.txt")}, QDir::Files)) {
        QFile src(shipped.filePath(name));
        if (!src.open(QIODevice::ReadOnly))
            qFatal("cannot read %s", qPrintable(name));
        write(name, src.readAll());
    }
}

QByteArray Cp(const QString& text)
{
    return kv::ToCp1251(text);
}

} // namespace kvtest
