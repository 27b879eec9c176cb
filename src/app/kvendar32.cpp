// Start-up: the Russian interface, the program's title and help file, and the main window.
#include "core/places/AppPaths.h"
#include "core/places/AppPlaces.h"
#include "core/platform/ProcessSignals.h"
#include "gui/main/kvendar_main.h"
#include "gui/platform/AppContext.h"
#include "gui/platform/Dialogs.h"
#include "gui/platform/ErrorBox.h"
#include "gui/platform/Translation.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    kv::IgnoreFileSizeSignal();
    QApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("Orvanta"));
    QCoreApplication::setApplicationName(QStringLiteral("Kvendar"));
    // Lets the desktop match the windows to the menu entry and its icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("org.kvendar.Kvendar"));
    // The application's help file, a bare name that the help window resolves by its search order.
    app.setProperty("kvHelpFile", QStringLiteral("kvendar"));
    kv::InstallRussianTranslation(app);

    kv::QtDialogs dialogs;
    kv::AppContext context{kv::ExecutableDir(), dialogs};
    // Beside a config.ini the program is portable; otherwise it is installed and works in the
    // user's own folder, filled from the shipped catalogue at the first start.
    context.installedDataDir = kv::InstalledDataDir(context.exeDir);
    context.installedModuleDir = kv::InstalledModuleDir(context.exeDir);
    context.places = kv::DecideAppPlaces(context.exeDir, context.installedDataDir, kv::UserDataDir());
    kv::TfmMain mainWindow(context);
    mainWindow.show();
    return app.exec();
}
