#include "gui/summary/uvsSummary.h"

#include "core/analysis/SummaryTables.h"
#include "core/exchange/SummaryExport.h"
#include "core/platform/Errors.h"
#include "core/session/Questionnaire.h"
#include "gui/platform/ErrorBox.h"
#include "gui/platform/Printing.h"
#include "gui/transfer/TransferWindows.h"
#include "gui/widgets/ResultChart.h"

#include "ui_uvsSummary.h"

#include <QHeaderView>
#include <QLocale>
#include <QPainter>
#include <QTableWidget>
#include <QTextDocument>

#include <algorithm>
#include <cmath>

namespace kv {

namespace {

const QString kTitle = QStringLiteral("Сводка по тестам");
const QString kAny = QStringLiteral("Все");
constexpr int kValuesCharted = 30;

// Sorts by the number behind the text, not by the text.
class NumberItem final : public QTableWidgetItem
{
public:
    NumberItem(const QString& text, double number) : QTableWidgetItem(text), m_number(number)
    {
        setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
    }
    bool operator<(const QTableWidgetItem& other) const override
    {
        if (const auto* number = dynamic_cast<const NumberItem*>(&other)) {
            // Blank cells (NaN) go last whichever way the column is sorted.
            if (std::isnan(m_number) || std::isnan(number->m_number))
                return !std::isnan(m_number) && std::isnan(number->m_number);
            return m_number < number->m_number;
        }
        return QTableWidgetItem::operator<(other);
    }

private:
    double m_number;
};

QString Number(double x, int decimals)
{
    return SummaryNumberText(x, decimals);
}

// Each row's place in its core table, kept on the row's first item so that the report can list the
// rows in the order the user has sorted them to.
constexpr int kTableRowRole = Qt::UserRole + 1;

void Show(QTableWidget* table, const SummaryTable& source)
{
    QStringList headers;
    for (const SummaryColumn& column : source.Columns)
        headers << column.Header;
    table->setSortingEnabled(false);
    table->clearContents();
    table->setColumnCount(int(headers.size()));
    table->setHorizontalHeaderLabels(headers);
    table->setRowCount(int(source.Rows.size()));
    for (int r = 0; r < int(source.Rows.size()); ++r) {
        const std::vector<SummaryCell>& row = source.Rows[size_t(r)];
        for (int c = 0; c < int(row.size()); ++c) {
            const SummaryColumnKind kind = source.Columns[size_t(c)].Kind;
            const bool number = kind == SummaryColumnKind::Count || kind == SummaryColumnKind::Decimal;
            QTableWidgetItem* item = number ? new NumberItem(row[size_t(c)].Text, row[size_t(c)].Number)
                                            : new QTableWidgetItem(row[size_t(c)].Text);
            if (c == 0)
                item->setData(kTableRowRole, r);
            table->setItem(r, c, item);
        }
    }
    table->setSortingEnabled(true);
    table->resizeColumnsToContents();
    if (source.SortColumn >= 0)
        table->sortItems(source.SortColumn, Qt::DescendingOrder);
}

QString Html(const QString& text)
{
    return text.toHtmlEscaped();
}

// The table as the report prints it, its rows in the order shown in the window.
QString TableHtml(const SummaryTable& source, const QTableWidget* shown)
{
    QString html = QStringLiteral("<table border=\"1\" cellspacing=\"0\" cellpadding=\"3\"><tr>");
    for (const SummaryColumn& column : source.Columns)
        html += QStringLiteral("<th>") + Html(column.Header) + QStringLiteral("</th>");
    html += QStringLiteral("</tr>");
    for (int shownRow = 0; shownRow < shown->rowCount(); ++shownRow) {
        const QTableWidgetItem* first = shown->item(shownRow, 0);
        const int r = first ? first->data(kTableRowRole).toInt() : shownRow;
        if (r < 0 || r >= int(source.Rows.size()))
            continue;
        const std::vector<SummaryCell>& row = source.Rows[size_t(r)];
        html += QStringLiteral("<tr>");
        for (size_t c = 0; c < row.size(); ++c) {
            const SummaryColumnKind kind = source.Columns[c].Kind;
            const bool number = kind == SummaryColumnKind::Count || kind == SummaryColumnKind::Decimal;
            html += (number ? QStringLiteral("<td align=\"right\">") : QStringLiteral("<td>")) + Html(row[c].Text) +
                    QStringLiteral("</td>");
        }
        html += QStringLiteral("</tr>");
    }
    return html + QStringLiteral("</table>");
}

} // namespace

TfmSummary::TfmSummary(AppContext& context, const TvsValueTypeList& valueTypes, QWidget* parent)
    : QDialog(parent), ui(std::make_unique<Ui::TfmSummary>()), m_context(context), m_valueTypes(valueTypes)
{
    ui->setupUi(this);
    // The filter lists bear the questionnaire's names.
    for (int q = 0; q < kQuestionCount; ++q)
        m_answerBoxes.push_back(findChild<QComboBox*>(Question(TvsQuestion(q)).Control));

    // One chart under each table; the consistency tab has its histogram alone.
    const QList<QWidget*> tabs{ui->tsGroups, ui->tsValues, ui->tsScale, ui->tsConsistency};
    for (QWidget* tab : tabs) {
        auto* chart = new TvsChartView(tab);
        chart->setObjectName(QStringLiteral("ch") + tab->objectName().mid(2));
        chart->setMinimumHeight(220);
        auto* layout = static_cast<QBoxLayout*>(tab->layout());
        layout->insertWidget(tab == ui->tsConsistency ? 0 : 1, chart, 1);
        if (tab != ui->tsConsistency)
            layout->setStretch(0, 1);
        m_charts.push_back(chart);
        m_chartTabs.push_back(tab);
    }
    m_chartContent.resize(m_charts.size());
    for (QTableWidget* table : {ui->sgGroups, ui->sgValues, ui->sgScale}) {
        table->setEditTriggers(QAbstractItemView::NoEditTriggers);
        table->setSelectionBehavior(QAbstractItemView::SelectRows);
        table->verticalHeader()->setVisible(false);
        table->horizontalHeader()->setStretchLastSection(true);
    }
    ui->cxSex->addItem(kAny);
    ui->cxSex->addItems(SexQuestion().Items);
    for (QSpinBox* age : {ui->edAgeFrom, ui->edAgeTo}) {
        // 0 is "no bound", the way an empty age is stored.
        age->setRange(0, 150);
        age->setSpecialValueText(QStringLiteral("—"));
    }
    for (QDateEdit* date : {ui->edDateFrom, ui->edDateTo}) {
        date->setCalendarPopup(true);
        date->setMinimumDate(QDate(1899, 12, 30));
        date->setSpecialValueText(QStringLiteral("—"));
        date->setDate(date->minimumDate());
    }

    Dialogs& dialogs = m_context.dialogs;
    const auto changed = Guarded(this, dialogs, &TfmSummary::FilterChange);
    connect(ui->cxSex, &QComboBox::currentIndexChanged, this, changed);
    for (QComboBox* box : m_answerBoxes)
        connect(box, &QComboBox::currentIndexChanged, this, changed);
    for (QSpinBox* age : {ui->edAgeFrom, ui->edAgeTo})
        connect(age, &QSpinBox::valueChanged, this, changed);
    for (QDateEdit* date : {ui->edDateFrom, ui->edDateTo})
        connect(date, &QDateEdit::dateChanged, this, changed);
    connect(ui->pcSummary, &QTabWidget::currentChanged, this, Guarded(this, dialogs, &TfmSummary::TabChange));
    connect(ui->btPrint, &QPushButton::clicked, this, Guarded(this, dialogs, &TfmSummary::btPrintClick));
    connect(ui->btSavePdf, &QPushButton::clicked, this, Guarded(this, dialogs, &TfmSummary::btSavePdfClick));
    connect(ui->btExportTables, &QPushButton::clicked, this, Guarded(this, dialogs, &TfmSummary::btExportTablesClick));
    connect(ui->btClose, &QPushButton::clicked, this, &QDialog::accept);
    RunHandler(this, dialogs, [this] { FormCreate(); });
}

TfmSummary::~TfmSummary() = default;

void TfmSummary::FormCreate()
{
    ui->pcSummary->setCurrentWidget(ui->tsGroups);
}

void TfmSummary::Execute(const std::vector<quint32>& ids)
{
    Load(ids);
    exec();
}

void TfmSummary::Load(const std::vector<quint32>& ids)
{
    m_data = ReadSummaryData(m_context.dataDir());
    m_consistencyCache.Clear();
    m_filter = TvsSummaryFilter{};
    m_filter.Ids = ids;
    if (!ids.empty())
        setWindowTitle(kTitle + QStringLiteral(" (выбранные тесты: %1)").arg(ids.size()));
    FillFilterLists();
    Recompute();
}

void TfmSummary::FillFilterLists()
{
    m_filling = true;
    for (int q = 0; q < kQuestionCount; ++q) {
        QComboBox* box = m_answerBoxes[size_t(q)];
        QStringList texts = m_data.AnswerTexts[size_t(q)];
        // "Нет ответа" first, then the answers as the respondents gave them, alphabetically.
        const bool noAnswer = texts.removeAll(NoAnswerText()) > 0;
        texts.sort(Qt::CaseInsensitive);
        if (noAnswer)
            texts.prepend(NoAnswerText());
        box->clear();
        box->addItem(kAny);
        box->addItems(texts);
    }
    m_filling = false;
}

void TfmSummary::FilterChange()
{
    if (m_filling)
        return;
    const int sex = ui->cxSex->currentIndex();
    m_filter.Sex = sex <= 0 ? -1 : sex - 1;
    m_filter.AgeFrom = ui->edAgeFrom->value() > 0 ? ui->edAgeFrom->value() : -1;
    m_filter.AgeTo = ui->edAgeTo->value() > 0 ? ui->edAgeTo->value() : -1;
    for (int q = 0; q < kQuestionCount; ++q) {
        QComboBox* box = m_answerBoxes[size_t(q)];
        m_filter.Answers[size_t(q)] = box->currentIndex() > 0 ? box->currentText() : QString();
    }
    const auto bound = [](const QDateEdit* edit) {
        return edit->date() == edit->minimumDate() ? QDate() : edit->date();
    };
    m_filter.DateFrom = bound(ui->edDateFrom);
    m_filter.DateTo = bound(ui->edDateTo);
    Recompute();
}

void TfmSummary::Recompute()
{
    m_summary = Summarize(m_data, m_filter, m_options, &m_consistencyCache);
    m_tables = BuildSummaryTables(m_data, m_summary, m_valueTypes);
    ui->laCount->setText(SummaryCountText(m_summary));
    ShowGroups();
    ShowValues();
    ShowScale();
    ShowConsistency();
}

void TfmSummary::SetChart(int chart, const QString& title, std::vector<TvsChartRow> rows, QMap<int, QString> names,
                          int decimals)
{
    ChartContent& content = m_chartContent[size_t(chart)];
    content.title = title;
    content.rows = std::move(rows);
    content.names = std::move(names);
    content.decimals = decimals;
    content.pending = true;
    if (ui->pcSummary->currentWidget() == m_chartTabs[size_t(chart)])
        DrawChart(chart);
}

void TfmSummary::DrawChart(int chart) const
{
    ChartContent& content = m_chartContent[size_t(chart)];
    if (!content.pending)
        return;
    content.pending = false;
    m_charts[size_t(chart)]->SetRows(content.title, content.rows, content.names, content.decimals);
}

TvsChartView* TfmSummary::Chart(int tab) const
{
    DrawChart(tab);
    return m_charts[size_t(tab)];
}

std::vector<TvsChartView*> TfmSummary::AllCharts() const
{
    for (size_t c = 0; c < m_charts.size(); ++c)
        DrawChart(int(c));
    return m_charts;
}

void TfmSummary::TabChange()
{
    for (size_t c = 0; c < m_chartTabs.size(); ++c) {
        if (m_chartTabs[c] == ui->pcSummary->currentWidget())
            DrawChart(int(c));
    }
}

QString TfmSummary::GroupName(qint32 number) const
{
    return SummaryGroupName(m_valueTypes, number);
}

void TfmSummary::ShowGroups()
{
    Show(ui->sgGroups, m_tables.Groups);
    std::vector<TvsChartRow> rows;
    QMap<int, QString> names;
    if (m_summary.Tests > 0) {
        for (const TvsGroupSummary& g : m_summary.Groups) {
            if (!std::isnan(g.MeanShare)) {
                rows.push_back(
                    {GroupName(g.Group) + QStringLiteral(": ") + Number(g.MeanShare, 3), g.MeanShare, g.Group, true});
                names.insert(g.Group, GroupName(g.Group));
            }
        }
    }
    SetChart(0, QStringLiteral("Средняя доля очков группы"), std::move(rows), std::move(names), 2);
}

void TfmSummary::ShowValues()
{
    Show(ui->sgValues, m_tables.Values);

    std::vector<TvsValueSummary> best = m_summary.Values;
    std::stable_sort(best.begin(), best.end(),
                     [](const TvsValueSummary& a, const TvsValueSummary& b) { return a.MeanShare > b.MeanShare; });
    if (best.size() > size_t(kValuesCharted))
        best.resize(size_t(kValuesCharted));
    std::vector<TvsChartRow> rows;
    QMap<int, QString> names;
    for (const TvsValueSummary& v : best) {
        const TvsSummaryValue& value = m_data.Values[v.Value];
        rows.push_back({value.Name + QStringLiteral(": ") + Number(v.MeanShare, 3), v.MeanShare, value.Group, true});
        names.insert(value.Group, GroupName(value.Group));
    }
    const QString title = m_summary.Values.size() > size_t(kValuesCharted)
                              ? QStringLiteral("Средняя доля побед (первые %1 ценностей)").arg(kValuesCharted)
                              : QStringLiteral("Средняя доля побед");
    SetChart(1, title, std::move(rows), std::move(names), 2);
}

void TfmSummary::ShowScale()
{
    Show(ui->sgScale, m_tables.Scale);
    ui->laScaleNote->setText(ScaleNote(m_summary, m_options));

    const TvsBradleyTerry& fit = m_summary.Scale;
    std::vector<std::pair<double, size_t>> order;
    if (fit.State == TvsBradleyTerry::Status::Fitted) {
        for (size_t i = 0; i < fit.Items.size(); ++i)
            order.emplace_back(fit.Scale[i], i);
    }
    std::sort(order.begin(), order.end(), [](const auto& a, const auto& b) { return a.first > b.first; });
    std::vector<TvsChartRow> rows;
    QMap<int, QString> names;
    for (const auto& [scale, i] : order) {
        const TvsSummaryValue& value = m_data.Values[fit.Items[i]];
        rows.push_back({value.Name + QStringLiteral(": ") + Number(scale, 2), scale, value.Group, true});
        names.insert(value.Group, GroupName(value.Group));
    }
    SetChart(2, QStringLiteral("Шкала Брэдли — Терри"), std::move(rows), std::move(names), 2);
}

void TfmSummary::ShowConsistency()
{
    const TvsConsistencySummary& c = m_summary.Consistency;
    ui->laConsistency->setText(ConsistencyNote(m_summary));
    std::vector<TvsChartRow> rows;
    if (m_summary.HasConsistency && c.Tests > 0) {
        for (int b = 0; b < TvsConsistencySummary::kBins; ++b) {
            const QString range = Number(b / 10.0, 1) + QStringLiteral("–") + Number((b + 1) / 10.0, 1);
            rows.push_back({range + QStringLiteral(": ") + QString::number(c.Bins[size_t(b)]),
                            double(c.Bins[size_t(b)]), 0, true});
        }
    }
    SetChart(3, QStringLiteral("Тестов по коэффициенту согласованности ζ"), std::move(rows), {}, 0);
}

QString TfmSummary::FilterText() const
{
    QStringList parts;
    if (ui->cxSex->currentIndex() > 0)
        parts << ui->laSex->text() + u' ' + ui->cxSex->currentText();
    if (m_filter.AgeFrom >= 0)
        parts << QStringLiteral("возраст от %1").arg(m_filter.AgeFrom);
    if (m_filter.AgeTo >= 0)
        parts << QStringLiteral("возраст до %1").arg(m_filter.AgeTo);
    const QList<QLabel*> labels{ui->laSocial,       ui->laChildren, ui->laPlaceOfLiving, ui->laEducation,
                                ui->laSocialStatus, ui->laBussines, ui->laMaterialLevel};
    for (int q = 0; q < kQuestionCount; ++q) {
        if (!m_filter.Answers[size_t(q)].isEmpty())
            parts << labels[q]->text() + u' ' + m_filter.Answers[size_t(q)];
    }
    const QLocale russian(QLocale::Russian);
    if (m_filter.DateFrom.isValid())
        parts << QStringLiteral("с ") + russian.toString(m_filter.DateFrom, QLocale::ShortFormat);
    if (m_filter.DateTo.isValid())
        parts << QStringLiteral("по ") + russian.toString(m_filter.DateTo, QLocale::ShortFormat);
    if (!m_filter.Ids.empty())
        parts << QStringLiteral("выбранные в истории тесты (%1)").arg(m_filter.Ids.size());
    return parts.isEmpty() ? QStringLiteral("все тесты") : parts.join(QStringLiteral("; "));
}

std::unique_ptr<QTextDocument> TfmSummary::Report() const
{
    QString html = QStringLiteral("<h2>") + Html(kTitle) + QStringLiteral("</h2>");
    html += QStringLiteral("<p>Отбор: ") + Html(FilterText()) + QStringLiteral("</p>");
    html += QStringLiteral("<p><b>") + Html(SummaryCountText(m_summary)) + QStringLiteral("</b></p>");
    if (m_summary.Tests > 0) {
        const auto heading = [](const SummaryTable& table) {
            return QStringLiteral("<h3>") + Html(table.Title) + QStringLiteral("</h3>");
        };
        html += heading(m_tables.Groups) + TableHtml(m_tables.Groups, ui->sgGroups);
        html += heading(m_tables.Values) + TableHtml(m_tables.Values, ui->sgValues);
        html += heading(m_tables.Scale) + QStringLiteral("<p>") + Html(ScaleNote(m_summary, m_options)) +
                QStringLiteral("</p>");
        if (!m_tables.Scale.Rows.empty())
            html += TableHtml(m_tables.Scale, ui->sgScale);
        html +=
            QStringLiteral("<h3>Согласованность</h3><p>") + Html(ConsistencyNote(m_summary)) + QStringLiteral("</p>");
    }
    auto document = std::make_unique<QTextDocument>();
    document->setHtml(html);
    return document;
}

namespace {

std::vector<PagePainter> ChartPages(const std::vector<TvsChartView*>& charts)
{
    std::vector<PagePainter> pages;
    for (TvsChartView* chart : charts) {
        if (chart->IsEmpty())
            continue;
        pages.push_back([chart](QPainter& painter, const QRectF& page) {
            const double height = std::min(page.height(), page.width() * chart->PreferredHeight() / 640.0);
            chart->Render(painter, QRectF(page.topLeft(), QSizeF(page.width(), height)));
        });
    }
    return pages;
}

} // namespace

void TfmSummary::btPrintClick()
{
    PrintDocumentAndPages(m_context, this, *Report(), ChartPages(AllCharts()), kTitle);
}

void TfmSummary::btSavePdfClick()
{
    const QString fileName = AskPdfFileName(m_context.dialogs, this);
    if (fileName.isEmpty())
        return;
    WriteDocumentAndPagesPdf(fileName, *Report(), ChartPages(AllCharts()), kTitle);
    TellPdfWritten(m_context.dialogs, this, fileName);
}

void TfmSummary::btExportTablesClick()
{
    // The tables are written on a worker thread; the modal progress window keeps the filter, and so
    // what is read here, as it is until they are.
    ExportSummaryTables(this, m_context, [this](TableSink& sink) { WriteSummaryTables(m_data, m_summary, sink); });
}

} // namespace kv
