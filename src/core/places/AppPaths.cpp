#include "core/places/AppPaths.h"

#include <QCoreApplication>

namespace kv {

QString ExecutableDir()
{
    QString dir = QCoreApplication::applicationDirPath();
    if (!dir.endsWith(u'/'))
        dir += u'/';
    return dir;
}

QString DataDirFor(const QString& exeDir)
{
    return exeDir + QStringLiteral("Data");
}

} // namespace kv
