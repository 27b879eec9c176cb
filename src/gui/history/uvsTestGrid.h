#pragma once

#include "core/catalogue/uvsValues.h"
#include "core/storage/uvsDataBase.h"
#include "gui/platform/AppContext.h"

#include <QDialog>

#include <memory>

class QContextMenuEvent;
class QHelpEvent;
class QMenu;
class QTableView;

namespace Ui {
class TfmTestGrid;
}

namespace kv {

class TestGridModel;

// The history of saved tests. Double-clicking a test rebuilds its ranking from the database, with
// group names from the catalogue the main window holds now, and opens it in the detailed view.
class TfmTestGrid final : public QDialog
{
    Q_OBJECT

public:
    // valueTypes is the main window's catalogue; it must outlive the window.
    TfmTestGrid(AppContext& context, const TvsValueTypeList& valueTypes, QWidget* parent = nullptr);
    ~TfmTestGrid() override;

    QTableView* Grid() const;
    TestGridModel* Model() const { return m_model; }

    // The numbers of the selected tests, top row first; the empty row has none.
    QList<quint32> SelectedTestIds() const;
    // The grid's context menu: what can be done with the selected tests.
    QMenu* TestGridMenu() const { return m_pmTestGrid; }

    void RestoreResults(const TvsDBValueList& values, TvsValueTypeList& result) const;
    TvsValueTypeRec& FindResultGroup(qint32 number, TvsValueTypeList& result) const;

    // Closing keeps the column widths in the settings file while the window settings are on.
    void done(int result) override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void FormCreate();
    void SizeColumns();
    void RestoreColumnWidths();
    void SaveColumnWidths() const;
    void ShowCellTip(const QHelpEvent& event);
    // Opens the test of this row of the model (the row double-clicked, or the focused one for Enter).
    void sgTestDblClick(int row);
    void sgTestKeyDown(int key);
    void sgTestContextPopup(const QContextMenuEvent& event);
    void miExportSelectedClick();
    void miSummarySelectedClick();

    std::unique_ptr<Ui::TfmTestGrid> ui;
    AppContext& m_context;
    const TvsValueTypeList& m_valueTypes;
    TestGridModel* m_model = nullptr;
    QMenu* m_pmTestGrid = nullptr;
};

} // namespace kv
