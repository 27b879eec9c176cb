#pragma once

#include "core/places/AppPlaces.h"
#include "core/settings/SettingsStore.h"
#include "gui/platform/Dialogs.h"

#include <QList>
#include <QString>

#include <functional>
#include <memory>

class QPrinter;

namespace kv {

// Makes the printer a print job goes to. Empty means the system's default printer; tests put a
// factory here that prints to a PDF file instead.
using PrinterFactory = std::function<std::unique_ptr<QPrinter>()>;

// Told how far long work is (done of total, total 0 while unknown); returning false cancels it.
using WorkProgress = std::function<bool(qint64 done, qint64 total)>;

// Exports the tests of dataDir (every test when testIds is empty) into output in the format "csv",
// "xlsx" or "sav"; false when progress cancelled it. Empty means the program's own export; tests put
// a recorder here.
using ExportRunner = std::function<bool(const QString& dataDir, const QString& format, const QList<quint32>& testIds,
                                        const QString& output, const WorkProgress& progress)>;

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
    ExportRunner exportRunner = {};
    // How long an import or export runs before its progress window appears; tests show it at once.
    int progressDelayMs = 400;

    // The folder of config.ini and the files it names, ending in "/".
    QString catalogueDir() const;
    // The database folder, without a trailing separator.
    QString dataDir() const;
};

} // namespace kv
