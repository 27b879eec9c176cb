#pragma once

#include "core/catalogue/uvsValues.h"
#include "core/session/AnswerLog.h"
#include "core/session/PairDraw.h"
#include "gui/platform/AppContext.h"

#include <QMainWindow>

#include <memory>

class QTreeWidget;
class QTreeWidgetItem;

namespace Ui {
class TfmMain;
}

namespace kv {

// The program's home: the catalogue tree, the tree of chosen values with its live count, the
// instruction text and the menu. It owns the catalogue and the chosen values of the current test.
class TfmMain final : public QMainWindow
{
    Q_OBJECT

public:
    explicit TfmMain(AppContext& context, QWidget* parent = nullptr);
    ~TfmMain() override;

    TvsValueTypeList& ValueTypes() { return m_valueTypes; }
    TvsValueList& CheckedValues() { return m_checkedValues; }
    int CheckedCount() const { return m_checkedCount; }
    AppContext& Context() { return m_context; }

    // The counter's text as it is painted below tvChecked.
    QString CheckedCountText() const;

    // Loads config.ini (or another profile beside the executable) into ValueTypes, meLines and
    // tvSource. A lines file that cannot be read raises and leaves tvSource as it was.
    void LoadConfig(const QString& fileName);

    void CheckValue(QTreeWidgetItem* node);
    void UncheckValue(QTreeWidgetItem* node);
    QTreeWidgetItem* FindCheckedGroup(qint32 typeNumber);
    void UpdateCheckedCount();
    void AddValueNode(QTreeWidgetItem* node);

    // The settings key (see SettingsStore): looked up on disk at every call, never remembered.
    bool SettingsKeyExists() const;
    void CreateSettingsKey() const;
    // False when the file could not be removed.
    bool DeleteSettingsKey() const;
    // Apply or store the window's position and outer size and the sizes of pnTree and pnStrings.
    // A value that cannot be read or written raises and ends the call at that value.
    void LoadGeometry();
    void SaveGeometry();

    // The test run behind "Тест": check the selection, compare, show the results, reset.
    void bbTestClick();
    bool CheckSelection();
    // Runs the comparison dialog; answers receives its answer log.
    bool RunComparison(TvsAnswerLog& answers);
    void CollectCheckedValues();
    void BuildPairLists(TvsPairLists& pairLists);
    void BuildResults(TvsValueTypeList& resultList);
    // Empties the selection and reloads the catalogue from disk for the next respondent.
    void ResetAfterTest();

    // Sort order of value nodes: locale-aware, letter case ignored.
    static int CompareNodeText(const QTreeWidgetItem* node1, const QTreeWidgetItem* node2);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void FormCreate();
    void FormClose();
    void LoadCatalogueAndHooks();
    void PlaceOnScreen();
    void miTestResultsClick();
    void miExportClick();
    void miImportClick();
    void miSummaryClick();
    void miSettingsClick();
    void miAboutClick();
    void acHelpExecute();
    void FillSourceTree();
    void AppendValue(qint32 number, const QString& text, QTreeWidgetItem* node);
    void pnBottomResize();
    void tvSourceDblClick();
    void tvCheckedDblClick();
    void bbExitClick();
    void miTestRunClick();
    void PaintCheckedFrame(QWidget& tree, QPainter& painter);
    void PaintCheckedCount(QWidget& panel, QPainter& painter);
    void ApplyChosenColour(QTreeWidgetItem* node);

    std::unique_ptr<Ui::TfmMain> ui;
    AppContext& m_context;
    TvsValueTypeList m_valueTypes;
    TvsValueList m_checkedValues;
    int m_checkedCount = 0;
    // Outer size read by LoadGeometry, applied again once the window has a frame to subtract.
    QSize m_restoredOuterSize;
};

} // namespace kv
