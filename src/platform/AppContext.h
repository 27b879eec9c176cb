#pragma once

#include "platform/AppPlaces.h"
#include "platform/Dialogs.h"
#include "settings/SettingsStore.h"

#include <QString>

#include <functional>
#include <memory>

class QPrinter;

namespace kv {

// Makes the printer a print job goes to. Empty means the system's default printer; tests put a
// factory here that prints to a PDF file instead.
using PrinterFactory = std::function<std::unique_ptr<QPrinter>()>;

// What every window needs from the program around it. The start-up builds one; tests build their own
// with a temporary folder and scripted dialogs.
struct AppContext
{
    QString exeDir;   // the executable directory, ending in "/"
    Dialogs& dialogs; // message boxes, the standard error box, file dialogs
    PrinterFactory printerFactory = {};
    // The file that stands for the settings key; tests point it into a temporary folder.
    QString settingsFile = DefaultSettingsFile();
    // Where this run keeps its catalogue and its database (see AppPlaces); left empty, both are the
    // executable directory, as in a portable run.
    AppPlaces places = {};
    // The installed program's folders, looked in after the usual places for the help and the
    // module. Empty in tests, so that an installed copy on the machine cannot change their outcome.
    QString installedDataDir = {};
    QString installedModuleDir = {};

    // The folder of config.ini and the files it names, ending in "/".
    QString catalogueDir() const;
    // The database folder, without a trailing separator.
    QString dataDir() const;
};

} // namespace kv
