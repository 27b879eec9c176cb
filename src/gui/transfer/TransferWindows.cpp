#include "gui/transfer/TransferWindows.h"

#include "core/exchange/Export.h"
#include "core/exchange/Merge.h"
#include "core/platform/Errors.h"
#include "gui/transfer/BackgroundWork.h"

#include <QDir>
#include <QFileInfo>

#include <vector>

namespace kv {

namespace {

const QString kExportFilters = QStringLiteral("Таблицы CSV (*.csv);;Книга Excel (*.xlsx);;Таблицы SPSS (*.sav)");

bool ProgramExport(const QString& dataDir, const QString& format, const QList<quint32>& testIds, const QString& output,
                   const WorkProgress& progress)
{
    const ExportFormat kind = ExportFormatNamed(format).value_or(ExportFormat::Csv);
    const TestSelection selection =
        testIds.isEmpty() ? TestSelection() : TestSelection::Of(std::vector<quint32>(testIds.begin(), testIds.end()));
    return !ExportTables(dataDir, kind, selection, output, progress).Cancelled;
}

// Raised out of the summary's table writing when the user cancelled it; the writing then takes away
// what it had written.
struct TablesCancelled
{
};

void TellExportCancelled(QWidget* parent, Dialogs& dialogs)
{
    dialogs.Message(parent, Dialogs::Kind::Information, QStringLiteral("Экспорт отменен: файлы не созданы."),
                    QMessageBox::Ok);
}

} // namespace

void ImportTests(QWidget* parent, AppContext& context, const MergeRunner& merge)
{
    const QString chosen =
        context.dialogs.ExistingDirectory(parent, QStringLiteral("Импорт тестов: папка Data другого компьютера"));
    if (chosen.isEmpty())
        return;
    QString source = chosen;
    // The program's own folder is picked as often as the Data folder inside it.
    const QString inner = chosen + QStringLiteral("/Data");
    if (!QFileInfo::exists(chosen + QStringLiteral("/tests.dat")) &&
        QFileInfo::exists(inner + QStringLiteral("/tests.dat")))
        source = inner;

    const QString target = context.dataDir();
    const MergeRunner& run =
        merge ? merge : MergeRunner([](const QString& from, const QString& into, const WorkProgress& progress) {
            return MergeDataFolders(from, into, progress);
        });
    MergeResult result;
    try {
        result = RunInBackground(parent,
                                 {QStringLiteral("Импорт тестов"), QStringLiteral("Добавление тестов в базу данных..."),
                                  context.progressDelayMs},
                                 [&](const WorkProgress& progress) { return run(source, target, progress); });
    } catch (const MergeCancelled& e) {
        context.dialogs.Message(parent, Dialogs::Kind::Information, e.message(), QMessageBox::Ok);
        return;
    }
    context.dialogs.Message(parent, Dialogs::Kind::Information, MergeReport(result), QMessageBox::Ok);
}

std::optional<ExportTarget> AskExportTarget(QWidget* parent, Dialogs& dialogs, const QString& caption)
{
    const QString name = dialogs.SaveFileName(parent, caption, kExportFilters, QStringLiteral("csv"));
    if (name.isEmpty())
        return std::nullopt;
    const QFileInfo info(name);
    const QString formatName = info.suffix().toLower();
    const std::optional<ExportFormat> format = ExportFormatNamed(formatName);
    if (!format)
        throw Error(QStringLiteral("Неизвестный тип файла «%1»: выберите CSV, Excel (xlsx) или SPSS (sav)")
                        .arg(info.fileName()));
    const QString output = *format == ExportFormat::Xlsx ? name : info.path() + u'/' + info.completeBaseName();
    return ExportTarget{formatName, *format, output};
}

void ExportTests(QWidget* parent, AppContext& context, const QList<quint32>& testIds)
{
    const QString caption =
        testIds.isEmpty() ? QStringLiteral("Экспорт данных") : QStringLiteral("Экспорт выбранных тестов");
    const std::optional<ExportTarget> target = AskExportTarget(parent, context.dialogs, caption);
    if (!target)
        return;
    const QString& output = target->output;
    const QString dataDir = context.dataDir();
    const ExportRunner& run = context.exportRunner ? context.exportRunner : ExportRunner(&ProgramExport);
    const bool finished = RunInBackground(
        parent, {caption, QStringLiteral("Запись таблиц..."), context.progressDelayMs},
        [&](const WorkProgress& progress) { return run(dataDir, target->formatName, testIds, output, progress); });
    if (!finished) {
        TellExportCancelled(parent, context.dialogs);
        return;
    }
    context.dialogs.Message(parent, Dialogs::Kind::Information,
                            QStringLiteral("Данные экспортированы: %1").arg(QDir::toNativeSeparators(output)),
                            QMessageBox::Ok);
}

void ExportSummaryTables(QWidget* parent, AppContext& context, const std::function<void(TableSink&)>& fill)
{
    const QString caption = QStringLiteral("Экспорт таблиц сводки");
    const std::optional<ExportTarget> target = AskExportTarget(parent, context.dialogs, caption);
    if (!target)
        return;
    try {
        RunInBackground(parent, {caption, QStringLiteral("Запись таблиц..."), context.progressDelayMs},
                        [&](const WorkProgress& progress) {
                            WriteTables(target->format, target->output, [&](TableSink& sink) {
                                fill(sink);
                                // The tables are small: the one chance to cancel is before they are
                                // committed.
                                if (!progress(1, 1))
                                    throw TablesCancelled();
                            });
                        });
    } catch (const TablesCancelled&) {
        TellExportCancelled(parent, context.dialogs);
        return;
    }
    context.dialogs.Message(
        parent, Dialogs::Kind::Information,
        QStringLiteral("Таблицы сводки сохранены: %1").arg(QDir::toNativeSeparators(target->output)), QMessageBox::Ok);
}

} // namespace kv
