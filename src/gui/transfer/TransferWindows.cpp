#include "gui/transfer/TransferWindows.h"

#include "core/exchange/Export.h"
#include "core/exchange/Merge.h"
#include "core/platform/Errors.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QProgressDialog>

#include <algorithm>
#include <vector>

namespace kv {

namespace {

// The bar counts in thousandths, so that totals beyond the range of an int still fit.
constexpr int kBarSteps = 1000;

const QString kExportFilters = QStringLiteral("Таблицы CSV (*.csv);;Книга Excel (*.xlsx);;Таблицы SPSS (*.sav)");

bool ProgramExport(const QString& dataDir, const QString& format, const QList<quint32>& testIds, const QString& output,
                   const WorkProgress& progress)
{
    const ExportFormat kind = ExportFormatNamed(format).value_or(ExportFormat::Csv);
    const TestSelection selection =
        testIds.isEmpty() ? TestSelection() : TestSelection::Of(std::vector<quint32>(testIds.begin(), testIds.end()));
    return !ExportTables(dataDir, kind, selection, output, progress).Cancelled;
}

} // namespace

ProgressWindow::ProgressWindow(QWidget* parent, const QString& caption, const QString& label, int delayMs)
    : m_dialog(std::make_unique<QProgressDialog>(label, QStringLiteral("Отмена"), 0, 0, parent))
{
    m_dialog->setObjectName(QStringLiteral("kvProgress"));
    m_dialog->setWindowTitle(caption);
    m_dialog->setWindowModality(Qt::ApplicationModal);
    m_dialog->setAutoReset(false);
    m_dialog->setAutoClose(false);
    m_dialog->setMinimumDuration(delayMs);
    // Starts the clock after which the window appears.
    m_dialog->setValue(0);
}

ProgressWindow::~ProgressWindow() = default;

bool ProgressWindow::Report(qint64 done, qint64 total)
{
    const int maximum = total > 0 ? kBarSteps : 0;
    if (m_dialog->maximum() != maximum)
        m_dialog->setRange(0, maximum);
    if (total > 0)
        m_dialog->setValue(int(std::clamp<qint64>(done, 0, total) * kBarSteps / total));
    // The work runs inside a handler of the window underneath: until the progress window is up to
    // block it, a click there must not start a second import in the middle of this one.
    QCoreApplication::processEvents(m_dialog->isVisible() ? QEventLoop::AllEvents : QEventLoop::ExcludeUserInputEvents);
    return !m_dialog->wasCanceled();
}

WorkProgress ProgressWindow::Callback()
{
    return [this](qint64 done, qint64 total) { return Report(done, total); };
}

void ProgressWindow::Finish()
{
    m_dialog->hide();
}

void ImportTests(QWidget* parent, AppContext& context)
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

    MergeResult result;
    {
        ProgressWindow progress(parent, QStringLiteral("Импорт тестов"),
                                QStringLiteral("Добавление тестов в базу данных..."), context.progressDelayMs);
        try {
            result = MergeDataFolders(source, context.dataDir(), progress.Callback());
        } catch (const MergeCancelled& e) {
            progress.Finish();
            context.dialogs.Message(parent, Dialogs::Kind::Information, e.message(), QMessageBox::Ok);
            return;
        }
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

    bool finished;
    {
        ProgressWindow progress(parent, caption, QStringLiteral("Запись таблиц..."), context.progressDelayMs);
        const ExportRunner& run = context.exportRunner ? context.exportRunner : ExportRunner(&ProgramExport);
        finished = run(context.dataDir(), target->formatName, testIds, output, progress.Callback());
    }
    if (!finished) {
        context.dialogs.Message(parent, Dialogs::Kind::Information,
                                QStringLiteral("Экспорт отменен: файлы не созданы."), QMessageBox::Ok);
        return;
    }
    context.dialogs.Message(parent, Dialogs::Kind::Information,
                            QStringLiteral("Данные экспортированы: %1").arg(QDir::toNativeSeparators(output)),
                            QMessageBox::Ok);
}

} // namespace kv
