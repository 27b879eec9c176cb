#pragma once

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

    QString dataDir() const;
};

} // namespace kv
