#include "gui/widgets/ResultChart.h"

#include <QBuffer>
#include <QPainter>
#include <QVBoxLayout>
#include <QtCharts/QBarCategoryAxis>
#include <QtCharts/QBarSet>
#include <QtCharts/QChart>
#include <QtCharts/QChartView>
#include <QtCharts/QHorizontalStackedBarSeries>
#include <QtCharts/QLegendMarker>
#include <QtCharts/QValueAxis>

#include <algorithm>
#include <cmath>

namespace kv {

namespace {

// One hue per catalogue group, dark enough for its values' lighter shade to stay visible on white.
QColor GroupColour(int group, bool strong)
{
    static const QColor kColours[] = {QColor(0x1f, 0x5f, 0xa8), QColor(0xc0, 0x6a, 0x10), QColor(0xb0, 0x2a, 0x4a),
                                      QColor(0x2e, 0x8b, 0x3e)};
    const QColor base = group >= 1 && group <= 4 ? kColours[group - 1] : QColor(0x70, 0x70, 0x70);
    return strong ? base : base.lighter(160);
}

} // namespace

struct TvsChartView::Parts
{
    QChart* chart = nullptr;
    QChartView* view = nullptr;
    // What the bars were built for: rows of the same groups in the same order, with the same legend
    // and axis, only change their values and labels, and the chart keeps its series and axes.
    std::vector<std::pair<int, bool>> shape;
    QMap<int, QString> groupNames;
    int decimals = -1;
    std::vector<std::pair<std::pair<int, bool>, QBarSet*>> sets;
    QBarCategoryAxis* axisY = nullptr;
    QValueAxis* axisX = nullptr;
};

namespace {

// The chart library draws the first category at the bottom; the result reads from the top. Labels
// must be unique on the axis, so a repeated one gets invisible spaces until it is.
QStringList Categories(const std::vector<TvsChartRow>& rows)
{
    QStringList categories;
    for (auto row = rows.rbegin(); row != rows.rend(); ++row) {
        QString label = row->Label;
        while (categories.contains(label))
            label += QChar(0x200B);
        categories.append(label);
    }
    return categories;
}

void SetValueRange(QValueAxis* axisX, const std::vector<TvsChartRow>& rows, int decimals)
{
    double top = 0, bottom = 0;
    for (const TvsChartRow& row : rows) {
        top = std::max(top, row.Value);
        bottom = std::min(bottom, row.Value);
    }
    if (decimals == 0) {
        // Whole numbers of wins: ticks on whole numbers.
        const int ceiling = std::max(1, int(std::ceil(top)));
        axisX->setRange(0, ceiling);
        if (ceiling <= 10) {
            axisX->setTickCount(ceiling + 1);
        } else {
            // The nice numbers start from the tick count, which a chart updated in place still has
            // from its last range.
            axisX->setTickCount(5);
            axisX->applyNiceNumbers();
        }
    } else if (top > bottom) {
        axisX->setRange(bottom * 1.05, top * 1.05);
    } else {
        axisX->setRange(0, 1);
    }
}

} // namespace

TvsChartView::TvsChartView(QWidget* parent) : QWidget(parent), m_parts(std::make_unique<Parts>())
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    m_parts->chart = new QChart;
    m_parts->chart->setAnimationOptions(QChart::NoAnimation);
    m_parts->chart->legend()->setAlignment(Qt::AlignBottom);
    m_parts->view = new QChartView(m_parts->chart, this);
    m_parts->view->setObjectName(QStringLiteral("chartView"));
    m_parts->view->setRenderHint(QPainter::Antialiasing);
    // A picture, not a control: the keyboard passes it by, and a screen reader hears its title.
    m_parts->view->setFocusPolicy(Qt::NoFocus);
    m_parts->view->setAccessibleName(QStringLiteral("Диаграмма"));
    m_parts->view->viewport()->setFocusPolicy(Qt::NoFocus);
    m_parts->view->viewport()->setAccessibleName(QStringLiteral("Диаграмма"));
    setAccessibleName(QStringLiteral("Диаграмма"));
    layout->addWidget(m_parts->view);
}

TvsChartView::~TvsChartView() = default;

void TvsChartView::SetRows(const QString& title, const std::vector<TvsChartRow>& rows,
                           const QMap<int, QString>& groupNames, int decimals)
{
    QChart* chart = m_parts->chart;
    std::vector<std::pair<int, bool>> shape;
    shape.reserve(rows.size());
    for (const TvsChartRow& row : rows)
        shape.emplace_back(row.Group, row.Strong);
    if (!rows.empty() && shape == m_parts->shape && groupNames == m_parts->groupNames &&
        decimals == m_parts->decimals) {
        chart->setTitle(title);
        m_parts->view->setAccessibleName(title);
        for (auto& [key, set] : m_parts->sets) {
            qsizetype i = 0;
            for (auto row = rows.rbegin(); row != rows.rend(); ++row, ++i) {
                const double value = row->Group == key.first && row->Strong == key.second ? row->Value : 0.0;
                if (set->at(i) != value)
                    set->replace(i, value);
            }
        }
        const QStringList categories = Categories(rows);
        if (categories != m_parts->axisY->categories())
            m_parts->axisY->setCategories(categories);
        SetValueRange(m_parts->axisX, rows, decimals);
        return;
    }
    m_parts->shape.clear();
    m_parts->sets.clear();
    m_parts->axisY = nullptr;
    m_parts->axisX = nullptr;
    chart->removeAllSeries();
    for (QAbstractAxis* axis : chart->axes())
        chart->removeAxis(axis), delete axis;
    chart->setTitle(title);
    m_parts->view->setAccessibleName(title);
    m_rows = int(rows.size());
    if (rows.empty())
        return;

    const QStringList categories = Categories(rows);

    // Stacked, one set per colour: every row has a value in one set only, so the empty ones take no room.
    auto* series = new QHorizontalStackedBarSeries;
    series->setBarWidth(0.7);
    struct Key
    {
        int group;
        bool strong;
    };
    std::vector<std::pair<Key, QBarSet*>> sets;
    for (const TvsChartRow& row : rows) {
        const auto found = std::find_if(sets.begin(), sets.end(), [&](const auto& s) {
            return s.first.group == row.Group && s.first.strong == row.Strong;
        });
        if (found != sets.end())
            continue;
        auto* set = new QBarSet(groupNames.value(row.Group));
        set->setColor(GroupColour(row.Group, row.Strong));
        set->setBorderColor(GroupColour(row.Group, true));
        sets.push_back({{row.Group, row.Strong}, set});
    }
    // Strong sets first, so the legend names each group once with its full colour.
    std::stable_sort(sets.begin(), sets.end(), [](const auto& a, const auto& b) {
        return a.first.strong != b.first.strong ? a.first.strong : a.first.group < b.first.group;
    });
    for (auto& [key, set] : sets) {
        for (auto row = rows.rbegin(); row != rows.rend(); ++row)
            set->append(row->Group == key.group && row->Strong == key.strong ? row->Value : 0.0);
        series->append(set);
    }
    chart->addSeries(series);

    auto* axisY = new QBarCategoryAxis;
    axisY->append(categories);
    chart->addAxis(axisY, Qt::AlignLeft);
    series->attachAxis(axisY);
    auto* axisX = new QValueAxis;
    axisX->setLabelFormat(QStringLiteral("%.") + QString::number(decimals) + QStringLiteral("f"));
    SetValueRange(axisX, rows, decimals);
    chart->addAxis(axisX, Qt::AlignBottom);
    series->attachAxis(axisX);

    // The lighter sets repeat a group already in the legend; markers come in the order of the sets.
    const auto markers = chart->legend()->markers(series);
    bool anyNamed = false;
    for (qsizetype i = 0; i < markers.size() && i < qsizetype(sets.size()); ++i) {
        const bool shown = sets[size_t(i)].first.strong && !sets[size_t(i)].second->label().isEmpty();
        markers[i]->setVisible(shown);
        anyNamed |= shown;
    }
    chart->legend()->setVisible(anyNamed);

    m_parts->shape = std::move(shape);
    m_parts->groupNames = groupNames;
    m_parts->decimals = decimals;
    for (const auto& [key, set] : sets)
        m_parts->sets.push_back({{key.group, key.strong}, set});
    m_parts->axisY = axisY;
    m_parts->axisX = axisX;
}

void TvsChartView::Render(QPainter& painter, const QRectF& target)
{
    // Laid out at the target's size, so text keeps its point size whatever the device's resolution.
    m_parts->chart->resize(target.size() / (painter.device()->logicalDpiX() / 96.0));
    QGraphicsScene* scene = m_parts->chart->scene();
    if (scene == nullptr)
        return;
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    scene->render(&painter, target, m_parts->chart->sceneBoundingRect());
    painter.restore();
    m_parts->chart->resize(m_parts->view->viewport()->size());
}

QImage TvsChartView::Picture(const QSize& size)
{
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::white);
    QPainter painter(&image);
    Render(painter, QRectF(QPointF(0, 0), QSizeF(size)));
    return image;
}

QByteArray TvsChartView::Png(const QSize& size)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    // Without an alpha channel, which word processors would keep as a second, masking picture.
    Picture(size).convertToFormat(QImage::Format_RGB32).save(&buffer, "PNG");
    return bytes;
}

int TvsChartView::PreferredHeight() const
{
    return 90 + 22 * std::max(1, m_rows);
}

std::vector<TvsChartRow> ResultChartRows(const TvsValueTypeList& list)
{
    std::vector<TvsChartRow> rows;
    for (int g = 0; g < list.Count(); ++g) {
        const TvsValueTypeRec& group = list.Items(g);
        // A list rebuilt from the database numbers its groups by position; the values keep the catalogue's.
        int number = group.Number;
        if (group.Values && group.Values->Count() > 0)
            number = group.Values->Items(0).TypeNumber;
        rows.push_back(
            {group.Name + QStringLiteral(": ") + QString::number(group.Score), double(group.Score), number, true});
        const int values = group.Values ? group.Values->Count() : 0;
        for (int v = 0; v < values; ++v) {
            const TvsValueRec& value = group.Values->Items(v);
            rows.push_back(
                {value.Name + QStringLiteral(": ") + QString::number(value.Score), double(value.Score), number, false});
        }
    }
    return rows;
}

QMap<int, QString> ResultGroupNames(const TvsValueTypeList& list)
{
    QMap<int, QString> names;
    for (const TvsChartRow& row : ResultChartRows(list)) {
        if (row.Strong)
            names.insert(row.Group, row.Label.left(row.Label.lastIndexOf(QStringLiteral(": "))));
    }
    return names;
}

QString ResultChartTitle()
{
    return QStringLiteral("Очки групп и победы ценностей");
}

} // namespace kv
