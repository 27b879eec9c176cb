#include "gui/platform/Translation.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>

#include <memory>

namespace kv {

bool InstallRussianTranslation(QCoreApplication& app)
{
    auto translator = std::make_unique<QTranslator>();
    if (!translator->load(QStringLiteral("qtbase_ru"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        return false;
    // The application owns the translator from here on.
    translator->setParent(&app);
    return QCoreApplication::installTranslator(translator.release());
}

} // namespace kv
