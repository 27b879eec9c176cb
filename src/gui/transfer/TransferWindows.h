#pragma once

#include "core/exchange/Export.h"
#include "core/exchange/Merge.h"
#include "gui/platform/AppContext.h"

#include <QList>
#include <QString>

#include <functional>
#include <optional>

class QWidget;

namespace kv {

// Merges the tests of sourceDir into targetDir; called on a worker thread. Empty means the program's
// own merge (MergeDataFolders); tests put one here that holds the work at a point of their choosing.
using MergeRunner =
    std::function<MergeResult(const QString& sourceDir, const QString& targetDir, const WorkProgress& progress)>;

// "Импорт тестов...": asks for the data folder of another computer and merges its tests into this
// program's database off the GUI thread, then says how many were added and how many were already
// there.
void ImportTests(QWidget* parent, AppContext& context, const MergeRunner& merge = {});

// Where an export goes, as the user chose it: the format named by the file's suffix, and the output
// the export's writers take (the workbook itself; for CSV and SPSS, a folder named like the file).
struct ExportTarget
{
    QString formatName; // csv, xlsx or sav
    ExportFormat format;
    QString output;
};

// Asks for the file to export to, offering the export's three types; nullopt when cancelled.
// Raises kv::Error for a file of another type.
std::optional<ExportTarget> AskExportTarget(QWidget* parent, Dialogs& dialogs, const QString& caption);

// "Экспорт данных..." (testIds empty: every test) and the history's "Экспортировать выбранные...":
// asks for the file and its type, then exports off the GUI thread. CSV and SPSS write one file per
// table, into a folder named like the file chosen; Excel writes the workbook itself.
void ExportTests(QWidget* parent, AppContext& context, const QList<quint32>& testIds);

// The summary's "Экспорт таблиц сводки": asks for the file and its type, then writes the tables fill
// makes through the export's writers off the GUI thread. fill runs on the worker thread; what it reads
// must stay as it is while the modal progress window stands.
void ExportSummaryTables(QWidget* parent, AppContext& context, const std::function<void(TableSink&)>& fill);

} // namespace kv
