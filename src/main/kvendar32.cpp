// Start-up: the Russian interface, the program's title and help file, and the main window.
#include "main/kvendar_main.h"
#include "platform/AppContext.h"
#include "platform/AppPaths.h"
#include "platform/Dialogs.h"
#include "platform/ErrorBox.h"
#include "platform/ProcessSignals.h"
#include "platform/Translation.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    kv::IgnoreFileSizeSignal();
    QApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("Orvanta"));
    QCoreApplication::setApplicationName(QStringLiteral("Kvendar"));
    // The application's help file, a bare name that the help window resolves by its search order.
    app.setProperty("kvHelpFile", QStringLiteral("kvendar"));
    kv::InstallRussianTranslation(app);

    kv::QtDialogs dialogs;
    kv::AppContext context{kv::ExecutableDir(), dialogs};
    kv::TfmMain mainWindow(context);
    mainWindow.show();
    return app.exec();
}
