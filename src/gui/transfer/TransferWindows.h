#pragma once

#include "core/exchange/Export.h"
#include "gui/platform/AppContext.h"

#include <QList>
#include <QString>

#include <memory>
#include <optional>

class QProgressDialog;
class QWidget;

namespace kv {

// Long work run inside a window's handler, under a progress window with a cancel button that
// appears once the work has taken delayMs. The work calls Report (or the callback) now and then.
class ProgressWindow final
{
public:
    ProgressWindow(QWidget* parent, const QString& caption, const QString& label, int delayMs);
    ~ProgressWindow();
    ProgressWindow(const ProgressWindow&) = delete;
    ProgressWindow& operator=(const ProgressWindow&) = delete;

    // Shows how far the work is and lets the window answer; false once the user cancelled.
    bool Report(qint64 done, qint64 total);
    WorkProgress Callback();
    // Takes the window away before the work's result is shown.
    void Finish();

private:
    std::unique_ptr<QProgressDialog> m_dialog;
};

// "Импорт тестов...": asks for the data folder of another computer and merges its tests into this
// program's database, then says how many were added and how many were already there.
void ImportTests(QWidget* parent, AppContext& context);

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
// asks for the file and its type, then exports. CSV and SPSS write one file per table, into a folder
// named like the file chosen; Excel writes the workbook itself.
void ExportTests(QWidget* parent, AppContext& context, const QList<quint32>& testIds);

} // namespace kv
