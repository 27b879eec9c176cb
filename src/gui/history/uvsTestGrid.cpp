#include "gui/history/uvsTestGrid.h"

#include "core/history/ResultRestore.h"
#include "core/history/TestGridModel.h"
#include "core/platform/Errors.h"
#include "core/storage/Journal.h"
#include "gui/history/uvsDetailedResult.h"
#include "gui/platform/ErrorBox.h"
#include "gui/summary/uvsSummary.h"
#include "gui/transfer/TransferWindows.h"

#include "ui_uvsTestGrid.h"

#include "core/settings/SettingsStore.h"

#include <QContextMenuEvent>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMenu>
#include <QToolTip>

#include <algorithm>

namespace kv {

TfmTestGrid::TfmTestGrid(AppContext& context, const TvsValueTypeList& valueTypes, QWidget* parent)
    : QDialog(parent), ui(std::make_unique<Ui::TfmTestGrid>()), m_context(context), m_valueTypes(valueTypes)
{
    ui->setupUi(this);
    m_model = new TestGridModel(this);
    ui->sgTest->setModel(m_model);

    QHeaderView* columns = ui->sgTest->horizontalHeader();
    columns->setSectionsMovable(true);
    columns->setSectionResizeMode(QHeaderView::Interactive);
    columns->setHighlightSections(false);
    columns->setStretchLastSection(false);
    // A header click sorts by that column, a second click the other way, a third brings back the
    // order of the file, which is also how the history opens.
    columns->setSortIndicatorClearable(true);
    columns->setSortIndicator(-1, Qt::AscendingOrder);
    ui->sgTest->setSortingEnabled(true);
    ui->sgTest->setTextElideMode(Qt::ElideRight);
    // Every row has the same height, so the view never has to measure 100,000 of them.
    QHeaderView* rows = ui->sgTest->verticalHeader();
    rows->setVisible(false);
    rows->setSectionResizeMode(QHeaderView::Fixed);
    rows->setMinimumSectionSize(1);
    rows->setDefaultSectionSize(19);

    Dialogs& dialogs = m_context.dialogs;
    connect(ui->sgTest, &QAbstractItemView::doubleClicked, this, [this](const QModelIndex& index) {
        RunHandler(this, m_context.dialogs, [this, row = index.row()] { sgTestDblClick(row); });
    });
    ui->sgTest->installEventFilter(this);
    // An item view takes no name from the window, so a screen reader would announce a bare table.
    ui->sgTest->setAccessibleName(windowTitle());
    // A right-click arrives at the viewport, the context-menu key at the grid itself.
    ui->sgTest->viewport()->installEventFilter(this);

    m_pmTestGrid = new QMenu(this);
    m_pmTestGrid->setObjectName(QStringLiteral("pmTestGrid"));
    QAction* miExportSelected = m_pmTestGrid->addAction(QStringLiteral("Экспортировать выбранные..."));
    miExportSelected->setObjectName(QStringLiteral("miExportSelected"));
    connect(miExportSelected, &QAction::triggered, this, Guarded(this, dialogs, &TfmTestGrid::miExportSelectedClick));

    QAction* miSummarySelected = m_pmTestGrid->addAction(QStringLiteral("Сводка по выбранным..."));
    miSummarySelected->setObjectName(QStringLiteral("miSummarySelected"));
    connect(miSummarySelected, &QAction::triggered, this, Guarded(this, dialogs, &TfmTestGrid::miSummarySelectedClick));

    RunHandler(this, dialogs, [this] { FormCreate(); });
}

TfmTestGrid::~TfmTestGrid() = default;

void TfmTestGrid::miSummarySelectedClick()
{
    const QList<quint32> ids = SelectedTestIds();
    if (ids.isEmpty())
        return;
    TfmSummary summary(m_context, m_valueTypes);
    summary.Execute(std::vector<quint32>(ids.begin(), ids.end()));
}

QTableView* TfmTestGrid::Grid() const
{
    return ui->sgTest;
}

void TfmTestGrid::FormCreate()
{
    // A save killed half-way is undone before its remnant can show as a test with part of its
    // ranking. Should that be impossible (a read-only folder), the history still opens, after the
    // error has said what may be incomplete.
    RunHandler(this, m_context.dialogs, [this] { RecoverDataDir(m_context.dataDir()); });
    m_model->Load(m_context.dataDir() + QStringLiteral("/tests.dat"));
    SizeColumns();
    RestoreColumnWidths();
}

namespace {

// A name may be long: past this the column stops growing and the name is cut short with «…», its
// whole text in a tooltip.
constexpr int kNameWidthLimit = 260;

QString ColumnWidthKey(int column)
{
    return QStringLiteral("sgTestColumn%1Width").arg(column);
}

} // namespace

void TfmTestGrid::SizeColumns()
{
    QTableView* grid = ui->sgTest;
    QHeaderView* header = grid->horizontalHeader();
    for (int c = 0; c < TestGridModel::ColumnCount; ++c) {
        // The designed width, or what the header and the column's longest text need at this font.
        int width = std::max(TestGridModel::DesignedWidth(c), header->sectionSizeHint(c));
        if (const int row = m_model->LongestRow(c); row >= 0) {
            int content = grid->sizeHintForIndex(m_model->index(row, c)).width() + 2 * grid->frameWidth() + 1;
            if (c == TestGridModel::ColFio)
                content = std::min(content, kNameWidthLimit);
            width = std::max(width, content);
        }
        grid->setColumnWidth(c, width);
    }
}

void TfmTestGrid::RestoreColumnWidths()
{
    // Widths the user gave are kept with the window settings, and only while they are switched on.
    const SettingsStore store(m_context.settingsFile);
    if (!store.KeyExists())
        return;
    for (int c = 0; c < TestGridModel::ColumnCount; ++c) {
        qint32 width = 0;
        if (store.FindInteger(ColumnWidthKey(c), width) && width > 0 && width <= 10000)
            ui->sgTest->setColumnWidth(c, width);
    }
}

void TfmTestGrid::SaveColumnWidths() const
{
    const SettingsStore store(m_context.settingsFile);
    if (!store.KeyExists())
        return;
    for (int c = 0; c < TestGridModel::ColumnCount; ++c)
        store.WriteInteger(ColumnWidthKey(c), ui->sgTest->columnWidth(c));
}

void TfmTestGrid::done(int result)
{
    // A settings file that cannot be written is said, but does not keep the window open.
    RunHandler(this, m_context.dialogs, [this] { SaveColumnWidths(); });
    QDialog::done(result);
}

void TfmTestGrid::ShowCellTip(const QHelpEvent& event)
{
    QTableView* grid = ui->sgTest;
    const QModelIndex index = grid->indexAt(event.pos());
    const QString text = index.isValid() ? m_model->CellText(index.row(), index.column()) : QString();
    // Only a text cut short needs its whole self shown.
    if (text.isEmpty() || grid->sizeHintForIndex(index).width() <= grid->visualRect(index).width()) {
        QToolTip::hideText();
        return;
    }
    QToolTip::showText(event.globalPos(), text, grid->viewport(), grid->visualRect(index));
}

bool TfmTestGrid::eventFilter(QObject* watched, QEvent* event)
{
    if ((watched == ui->sgTest || watched == ui->sgTest->viewport()) && event->type() == QEvent::ContextMenu) {
        const auto& menuEvent = *static_cast<QContextMenuEvent*>(event);
        RunHandler(this, m_context.dialogs, [this, &menuEvent] { sgTestContextPopup(menuEvent); });
        return true;
    }
    if (watched == ui->sgTest->viewport() && event->type() == QEvent::ToolTip) {
        ShowCellTip(*static_cast<QHelpEvent*>(event));
        return true;
    }
    if (watched == ui->sgTest && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Escape) {
            RunHandler(this, m_context.dialogs, [this, key] { sgTestKeyDown(key); });
            return true;
        }
        // Enter opens the row with the keyboard focus, as a double-click opens the row clicked, so the
        // history needs no mouse. In a range of selected rows that is the one the user moved to last,
        // not the top one.
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            const int row = ui->sgTest->currentIndex().row();
            RunHandler(this, m_context.dialogs, [this, row] { sgTestDblClick(row); });
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void TfmTestGrid::sgTestKeyDown(int key)
{
    if (key == Qt::Key_Escape)
        done(QDialog::Rejected);
}

void TfmTestGrid::sgTestContextPopup(const QContextMenuEvent& event)
{
    QTableView* grid = ui->sgTest;
    QPoint at = event.globalPos();
    if (event.reason() == QContextMenuEvent::Mouse) {
        // A right-click outside the selection acts on the row clicked, as in a file manager.
        const QPoint local = grid->viewport()->mapFromGlobal(event.globalPos());
        const QModelIndex index = grid->indexAt(local);
        if (index.isValid() && !grid->selectionModel()->isRowSelected(index.row(), QModelIndex())) {
            grid->selectionModel()->setCurrentIndex(index,
                                                    QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        }
    } else if (const QModelIndex current = grid->currentIndex(); current.isValid()) {
        // From the keyboard the menu opens at the current row rather than wherever the mouse is.
        at = grid->viewport()->mapToGlobal(grid->visualRect(current).bottomLeft());
    }
    const bool any = !SelectedTestIds().isEmpty();
    for (QAction* action : m_pmTestGrid->actions())
        action->setEnabled(any);
    m_pmTestGrid->popup(at);
}

QList<quint32> TfmTestGrid::SelectedTestIds() const
{
    QList<int> rows;
    for (const QModelIndex& index : ui->sgTest->selectionModel()->selectedRows())
        rows.append(index.row());
    std::sort(rows.begin(), rows.end());
    QList<quint32> ids;
    for (int row : rows) {
        quint32 id = 0;
        if (m_model->TestIdAt(row, id))
            ids.append(id);
    }
    return ids;
}

void TfmTestGrid::miExportSelectedClick()
{
    const QList<quint32> ids = SelectedTestIds();
    if (!ids.isEmpty())
        ExportTests(this, m_context, ids);
}

void TfmTestGrid::sgTestDblClick(int row)
{
    // The header is not a row of the model, so a double-click on it never reaches here.
    if (row < 0)
        return;
    // The number is read from the «№» column wherever the user has dragged it: the column that
    // stands first may now hold a name, a date or a total, and a total that happens to be another
    // test's number would open another respondent's report under this row.
    quint32 id = 0;
    if (!m_model->TestIdAt(row, id))
        return;

    // Another instance may have been killed in a save since the history was opened.
    RunHandler(this, m_context.dialogs, [this] { RecoverDataDir(m_context.dataDir()); });
    TvsSavedTest test;
    LoadSavedTest(m_context.dataDir(), id, m_valueTypes, test);
    TfmDetailedResult detailed(m_context);
    // Several tests under one number are damage the reader must know of before trusting the result.
    detailed.SetNotice(SameNumberNotice(test));
    // Tests saved before answers were kept have none; the view then works from the scores alone.
    detailed.Execute(test.Test, test.Results, test.Answers.empty() ? nullptr : &test.Answers);
    // The detailed window has no owner, so nothing else gives the keyboard back to the list.
    activateWindow();
}

void TfmTestGrid::RestoreResults(const TvsDBValueList& values, TvsValueTypeList& result) const
{
    kv::RestoreResults(values, result, m_valueTypes);
}

TvsValueTypeRec& TfmTestGrid::FindResultGroup(qint32 number, TvsValueTypeList& result) const
{
    return kv::FindResultGroup(number, result, m_valueTypes);
}

} // namespace kv
