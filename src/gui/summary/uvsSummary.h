#pragma once

#include "core/analysis/Summary.h"
#include "core/analysis/SummaryTables.h"
#include "core/catalogue/uvsValues.h"
#include "gui/platform/AppContext.h"
#include "gui/widgets/ResultChart.h"

#include <QDialog>
#include <QMap>

#include <memory>
#include <vector>

class QComboBox;
class QTableWidget;
class QTextDocument;

namespace Ui {
class TfmSummary;
}

namespace kv {

// The summary over many saved tests: filters by the questionnaire that apply at once, the groups'
// shares, the values' wins and ranks, the pooled scale and the consistency of the answers, each with
// its chart. Printable and savable as PDF.
class TfmSummary final : public QDialog
{
    Q_OBJECT

public:
    // valueTypes names the groups (the main window's catalogue); it must outlive the window.
    TfmSummary(AppContext& context, const TvsValueTypeList& valueTypes, QWidget* parent = nullptr);
    ~TfmSummary() override;

    // Reads the database and shows the window modally; ids limits it to those tests (empty: all).
    void Execute(const std::vector<quint32>& ids = {});
    // Everything Execute does before showing the window.
    void Load(const std::vector<quint32>& ids = {});

    // How a test's consistency is computed; none leaves that part empty.
    void SetConsistency(ConsistencyFunction consistency)
    {
        m_options.Consistency = consistency;
        m_consistencyCache.Clear();
    }

    const TvsSummary& Current() const { return m_summary; }
    const TvsSummaryFilter& Filter() const { return m_filter; }
    // The chart of a tab, brought up to date with the current filter.
    TvsChartView* Chart(int tab) const;
    // The printable form of what the window shows: the filter, the count and the tables.
    std::unique_ptr<QTextDocument> Report() const;

private:
    void FormCreate();
    void FillFilterLists();
    void FilterChange();
    void Recompute();
    void ShowGroups();
    void ShowValues();
    void ShowScale();
    void ShowConsistency();
    void SetChart(int chart, const QString& title, std::vector<TvsChartRow> rows, QMap<int, QString> names,
                  int decimals);
    void DrawChart(int chart) const;
    std::vector<TvsChartView*> AllCharts() const;
    void TabChange();
    QString GroupName(qint32 number) const;
    QString FilterText() const;
    void btPrintClick();
    void btExportTablesClick();
    void btSavePdfClick();

    std::unique_ptr<Ui::TfmSummary> ui;
    AppContext& m_context;
    const TvsValueTypeList& m_valueTypes;
    TvsSummaryData m_data;
    TvsSummaryFilter m_filter;
    TvsSummaryOptions m_options;
    TvsConsistencyCache m_consistencyCache;
    TvsSummary m_summary;
    SummaryTables m_tables; // m_summary as the tables and the report show it
    std::vector<TvsChartView*> m_charts;
    std::vector<QWidget*> m_chartTabs;
    // What each chart is to show. Building a chart costs more than computing the summary, so a
    // filter change redraws only the chart in view, and the others when their tab is opened.
    struct ChartContent
    {
        QString title;
        std::vector<TvsChartRow> rows;
        QMap<int, QString> names;
        int decimals = 0;
        bool pending = false;
    };
    mutable std::vector<ChartContent> m_chartContent;
    std::vector<QComboBox*> m_answerBoxes; // in TvsQuestion order
    bool m_filling = false;
};

} // namespace kv
