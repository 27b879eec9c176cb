#include "gui/summary/uvsSummary.h"

#include "core/exchange/SummaryTool.h"
#include "core/platform/Errors.h"
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
    if (std::isnan(x))
        return QString();
    return QLocale(QLocale::Russian).toString(x, 'f', decimals);
}

QTableWidgetItem* Text(const QString& text)
{
    return new QTableWidgetItem(text);
}

QTableWidgetItem* Count(qint64 n)
{
    return new NumberItem(QString::number(n), double(n));
}

QTableWidgetItem* Decimal(double x, int decimals)
{
    return new NumberItem(Number(x, decimals), x);
}

void Prepare(QTableWidget* table, const QStringList& headers, int rows)
{
    table->setSortingEnabled(false);
    table->clearContents();
    table->setColumnCount(int(headers.size()));
    table->setHorizontalHeaderLabels(headers);
    table->setRowCount(rows);
}

void Finish(QTableWidget* table)
{
    table->setSortingEnabled(true);
    table->resizeColumnsToContents();
}

QString Html(const QString& text)
{
    return text.toHtmlEscaped();
}

QString TableHtml(const QTableWidget* table)
{
    QString html = QStringLiteral("<table border=\"1\" cellspacing=\"0\" cellpadding=\"3\"><tr>");
    for (int c = 0; c < table->columnCount(); ++c)
        html += QStringLiteral("<th>") + Html(table->horizontalHeaderItem(c)->text()) + QStringLiteral("</th>");
    html += QStringLiteral("</tr>");
    for (int r = 0; r < table->rowCount(); ++r) {
        html += QStringLiteral("<tr>");
        for (int c = 0; c < table->columnCount(); ++c) {
            const QTableWidgetItem* item = table->item(r, c);
            const bool number = dynamic_cast<const NumberItem*>(item) != nullptr;
            html += (number ? QStringLiteral("<td align=\"right\">") : QStringLiteral("<td>")) +
                    Html(item ? item->text() : QString()) + QStringLiteral("</td>");
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
    m_answerBoxes = {ui->cxSocial,       ui->cxChildren, ui->cxPlaceOfLiving, ui->cxEducation,
                     ui->cxSocialStatus, ui->cxBussines, ui->cxMaterialLevel};
    static_assert(kQuestionCount == 7);

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
    ui->cxSex->addItems({kAny, QStringLiteral("Нет ответа"), QStringLiteral("Мужской"), QStringLiteral("Женский")});
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
        const bool noAnswer = texts.removeAll(QStringLiteral("Нет ответа")) > 0;
        texts.sort(Qt::CaseInsensitive);
        if (noAnswer)
            texts.prepend(QStringLiteral("Нет ответа"));
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
    if (m_summary.Tests == 0) {
        ui->laCount->setText(NoTestsText());
    } else {
        QString text = QStringLiteral("Тестов: %1").arg(m_summary.Tests);
        if (m_summary.Undecidable > 0)
            text += QStringLiteral(", из них без полного числа сравнений (не учтены в долях): %1")
                        .arg(m_summary.Undecidable);
        text += QStringLiteral(", с журналом ответов: %1").arg(m_summary.WithAnswers);
        ui->laCount->setText(text);
    }
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
    if (number >= 1 && number <= m_valueTypes.Count())
        return m_valueTypes.Items(number - 1).Name;
    return QStringLiteral("Группа %1").arg(number);
}

void TfmSummary::ShowGroups()
{
    QTableWidget* table = ui->sgGroups;
    Prepare(table,
            {QStringLiteral("Группа"), QStringLiteral("Тестов"), QStringLiteral("Средняя доля очков"),
             QStringLiteral("95% ДИ от"), QStringLiteral("95% ДИ до"), QStringLiteral("Лидировала, тестов")},
            m_summary.Tests > 0 ? int(m_summary.Groups.size()) : 0);
    std::vector<TvsChartRow> rows;
    QMap<int, QString> names;
    if (m_summary.Tests > 0) {
        for (int r = 0; r < int(m_summary.Groups.size()); ++r) {
            const TvsGroupSummary& g = m_summary.Groups[size_t(r)];
            table->setItem(r, 0, Text(GroupName(g.Group)));
            table->setItem(r, 1, Count(g.Tests));
            table->setItem(r, 2, Decimal(g.MeanShare, 3));
            table->setItem(r, 3, Decimal(g.CiLow, 3));
            table->setItem(r, 4, Decimal(g.CiHigh, 3));
            table->setItem(r, 5, Count(g.Led));
            if (!std::isnan(g.MeanShare)) {
                rows.push_back(
                    {GroupName(g.Group) + QStringLiteral(": ") + Number(g.MeanShare, 3), g.MeanShare, g.Group, true});
                names.insert(g.Group, GroupName(g.Group));
            }
        }
    }
    Finish(table);
    SetChart(0, QStringLiteral("Средняя доля очков группы"), std::move(rows), std::move(names), 2);
}

void TfmSummary::ShowValues()
{
    QTableWidget* table = ui->sgValues;
    Prepare(table,
            {QStringLiteral("Ценность"), QStringLiteral("Группа"), QStringLiteral("Побеждала, тестов"),
             QStringLiteral("Выбрана (по журналу), тестов"), QStringLiteral("Средняя доля побед"),
             QStringLiteral("Средний ранг"), QStringLiteral("Первая, тестов")},
            int(m_summary.Values.size()));
    for (int r = 0; r < int(m_summary.Values.size()); ++r) {
        const TvsValueSummary& v = m_summary.Values[size_t(r)];
        const TvsSummaryValue& value = m_data.Values[v.Value];
        table->setItem(r, 0, Text(value.Name));
        table->setItem(r, 1, Text(GroupName(value.Group)));
        table->setItem(r, 2, Count(v.Won));
        table->setItem(r, 3, Count(v.Chosen));
        table->setItem(r, 4, Decimal(v.MeanShare, 3));
        table->setItem(r, 5, Decimal(v.MeanRank, 2));
        table->setItem(r, 6, Count(v.First));
    }
    Finish(table);
    table->sortItems(4, Qt::DescendingOrder);

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
    QTableWidget* table = ui->sgScale;
    const TvsBradleyTerry& fit = m_summary.Scale;
    const bool fitted = fit.State == TvsBradleyTerry::Status::Fitted;
    Prepare(table,
            {QStringLiteral("Ценность"), QStringLiteral("Группа"), QStringLiteral("Шкала"),
             QStringLiteral("Стандартная ошибка"), QStringLiteral("Сравнений")},
            fitted ? int(fit.Items.size()) : 0);
    std::vector<std::pair<double, size_t>> order;
    if (fitted) {
        for (size_t i = 0; i < fit.Items.size(); ++i) {
            const TvsSummaryValue& value = m_data.Values[fit.Items[i]];
            table->setItem(int(i), 0, Text(value.Name));
            table->setItem(int(i), 1, Text(GroupName(value.Group)));
            table->setItem(int(i), 2, Decimal(fit.Scale[i], 3));
            table->setItem(int(i), 3, Decimal(fit.StdError[i], 3));
            table->setItem(int(i), 4, Count(fit.Comparisons[i]));
            order.emplace_back(fit.Scale[i], i);
        }
    }
    Finish(table);
    table->sortItems(2, Qt::DescendingOrder);

    QString note;
    if (m_summary.WithAnswers == 0) {
        note = QStringLiteral("У отобранных тестов нет журналов ответов: шкалу строить не из чего.");
    } else if (fitted) {
        note =
            QStringLiteral("Шкала Брэдли — Терри по всем ответам отобранных тестов: чем выше, тем чаще ценность "
                           "предпочитали другим. Среднее по ценностям равно 0; если у ценности A шкала a, а у B — b, "
                           "то модель ожидает выбор A в доле 1 / (1 + e^(b − a)) их сравнений. В шкалу входят "
                           "ценности, сравнивавшиеся не менее %1 раз.")
                .arg(m_options.MinComparisons);
    } else if (fit.State == TvsBradleyTerry::Status::Disconnected) {
        note = QStringLiteral("Шкалу построить нельзя: ответы распадаются на %1 не связанных частей (есть ценность, "
                              "которая всегда выигрывала или всегда проигрывала, или ценности, которые не "
                              "сравнивались с остальными ни прямо, ни через другие).")
                   .arg(fit.Components.size());
    } else if (fit.State == TvsBradleyTerry::Status::NoConvergence) {
        note = QStringLiteral("Шкалу построить не удалось: расчёт не сошёлся.");
    } else {
        note = QStringLiteral("Слишком мало сравнений: в шкалу входят ценности, сравнивавшиеся не менее %1 раз.")
                   .arg(m_options.MinComparisons);
    }
    ui->laScaleNote->setText(note);

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
    std::vector<TvsChartRow> rows;
    if (!m_summary.HasConsistency) {
        ui->laConsistency->setText(QStringLiteral("Согласованность ответов не рассчитывается."));
    } else if (c.Tests == 0) {
        ui->laConsistency->setText(NoTestsText());
    } else {
        ui->laConsistency->setText(
            QStringLiteral("Коэффициент согласованности ζ по %1 тестам; похожи на случайные ответы (p > 0,05): %2.")
                .arg(c.Tests)
                .arg(c.LikeRandom));
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
    html += QStringLiteral("<p><b>") + Html(ui->laCount->text()) + QStringLiteral("</b></p>");
    if (m_summary.Tests > 0) {
        html += QStringLiteral("<h3>Группы</h3>") + TableHtml(ui->sgGroups);
        html += QStringLiteral("<h3>Ценности</h3>") + TableHtml(ui->sgValues);
        html += QStringLiteral("<h3>Шкала</h3><p>") + Html(ui->laScaleNote->text()) + QStringLiteral("</p>");
        if (ui->sgScale->rowCount() > 0)
            html += TableHtml(ui->sgScale);
        html +=
            QStringLiteral("<h3>Согласованность</h3><p>") + Html(ui->laConsistency->text()) + QStringLiteral("</p>");
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
    PrintDocumentAndPages(m_context, *Report(), ChartPages(AllCharts()), kTitle);
}

void TfmSummary::btSavePdfClick()
{
    const QString fileName = m_context.dialogs.SaveFileName(this, QStringLiteral("Сохранить в PDF"),
                                                            QStringLiteral("PDF (*.pdf)"), QStringLiteral("pdf"));
    if (fileName.isEmpty())
        return;
    WriteDocumentAndPagesPdf(fileName, *Report(), ChartPages(AllCharts()), kTitle);
}

void TfmSummary::btExportTablesClick()
{
    // The tables are written on a worker thread; the modal progress window keeps the filter, and so
    // what is read here, as it is until they are.
    ExportSummaryTables(this, m_context, [this](TableSink& sink) { WriteSummaryTables(m_data, m_summary, sink); });
}

} // namespace kv
