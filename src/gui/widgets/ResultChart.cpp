#include "gui/widgets/ResultChart.h"

#include <QBuffer>
#include <QCursor>
#include <QEvent>
#include <QFontMetricsF>
#include <QGraphicsRectItem>
#include <QGraphicsSimpleTextItem>
#include <QLocale>
#include <QPainter>
#include <QScrollArea>
#include <QToolTip>
#include <QVBoxLayout>
#include <QtCharts/QBarCategoryAxis>
#include <QtCharts/QBarSet>
#include <QtCharts/QChart>
#include <QtCharts/QChartView>
#include <QtCharts/QHorizontalStackedBarSeries>
#include <QtCharts/QLegend>
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

// The chart library gives the labels of the left axis at most about 40% of the chart's width and
// cuts what is wider to "..."; measured here, a label fits when it is 44 pixels narrower than that.
double LabelRoom(double chartWidth)
{
    return std::max(60.0, 0.4 * chartWidth - 44);
}

constexpr int kMaxLabelLines = 3;
constexpr int kLegendGap = 8;

struct FittedLabel
{
    QStringList lines;
    bool shortened = false;
};

// A label broken at blanks into as few lines as fit the room, the two-line case balanced; what still
// does not fit in three lines is shortened, and its bar's tooltip gives the whole text.
FittedLabel Fit(const QString& text, const QFontMetricsF& metrics, double room)
{
    if (metrics.horizontalAdvance(text) <= room)
        return {{text}, false};
    const QStringList words = text.split(u' ', Qt::SkipEmptyParts);
    double bestWidest = room + 1;
    FittedLabel best;
    for (qsizetype cut = 1; cut < words.size(); ++cut) {
        const QString first = words.mid(0, cut).join(u' '), second = words.mid(cut).join(u' ');
        const double widest = std::max(metrics.horizontalAdvance(first), metrics.horizontalAdvance(second));
        if (widest <= room && widest < bestWidest) {
            bestWidest = widest;
            best.lines = {first, second};
        }
    }
    if (!best.lines.isEmpty())
        return best;
    FittedLabel greedy;
    for (const QString& word : words) {
        if (!greedy.lines.isEmpty() && metrics.horizontalAdvance(greedy.lines.last() + u' ' + word) <= room)
            greedy.lines.last() += u' ' + word;
        else
            greedy.lines.append(word);
    }
    for (QString& line : greedy.lines) {
        if (metrics.horizontalAdvance(line) > room) {
            line = metrics.elidedText(line, Qt::ElideRight, room);
            greedy.shortened = true;
        }
    }
    if (greedy.lines.size() > kMaxLabelLines) {
        greedy.lines.resize(kMaxLabelLines);
        greedy.lines.last() = metrics.elidedText(greedy.lines.last() + QChar(0x2026), Qt::ElideRight, room);
        greedy.shortened = true;
    }
    return greedy;
}

// Round ticks that take in 0: the step is 1, 2, 2.5 or 5 times a power of ten, with at most
// maxSteps of them between the ends, which are whole steps; counts step by whole numbers only.
struct Ticks
{
    double low = 0, high = 1;
    int count = 2;
    int decimals = 0;
};

Ticks NiceTicks(double bottom, double top, bool whole, int maxSteps)
{
    bottom = std::min(bottom, 0.0);
    top = std::max(top, 0.0);
    if (!std::isfinite(top - bottom) || top - bottom <= 0)
        bottom = 0, top = 1;
    const double raw = (top - bottom) / maxSteps;
    const double power = std::pow(10.0, std::floor(std::log10(raw)));
    double step = 10 * power;
    int extraDecimal = 0;
    for (const double factor : {1.0, 2.0, 2.5, 5.0}) {
        const double candidate = factor * power;
        if (whole && candidate != std::floor(candidate))
            continue;
        if (candidate >= raw * (1 - 1e-9)) {
            step = candidate;
            extraDecimal = factor == 2.5 ? 1 : 0;
            break;
        }
    }
    if (whole)
        step = std::max(step, 1.0), extraDecimal = 0;
    Ticks ticks;
    ticks.low = std::floor(bottom / step + 1e-9) * step;
    ticks.high = std::ceil(top / step - 1e-9) * step;
    ticks.count = int(std::lround((ticks.high - ticks.low) / step)) + 1;
    ticks.decimals = whole ? 0 : std::max(0, int(-std::floor(std::log10(step) + 1e-9)) + extraDecimal);
    return ticks;
}

} // namespace

struct TvsChartView::Parts
{
    QChart* chart = nullptr;
    QChartView* view = nullptr;
    QScrollArea* scroll = nullptr;
    // What the bars were built for: rows of the same groups in the same order, with the same legend
    // and axis, only change their values and labels, and the chart keeps its series and axes.
    std::vector<std::pair<int, bool>> shape;
    QMap<int, QString> groupNames;
    int decimals = -1;
    std::vector<std::pair<std::pair<int, bool>, QBarSet*>> sets;
    QBarCategoryAxis* axisY = nullptr;
    QValueAxis* axisX = nullptr;
    // The rows' whole labels, top to bottom, and how many lines the widest of them takes at the width
    // the axis was last fitted to.
    QStringList labels;
    int lines = 1;
    double fittedWidth = -1;
    // The legend is drawn here rather than by the library, which keeps it to one line and cuts the
    // names; this one wraps onto as many lines as the width needs.
    struct LegendEntry
    {
        QGraphicsRectItem* swatch;
        QGraphicsSimpleTextItem* text;
        QString name;
    };
    std::vector<LegendEntry> legend;
    double legendHeight = 0;
    bool rendering = false;
};

namespace {

// The height each row needs for its label lines. The library gives a label the plot's height shared
// among one more than the rows, less a padding above and below, and cuts a taller label to "...".
double RowHeight(const QFont& font, int lines)
{
    const QFontMetricsF metrics(font);
    return lines * metrics.lineSpacing() + 16;
}

double PlotHeight(const QFont& font, int lines, int rows)
{
    return (rows + 1) * RowHeight(font, lines);
}

// The chart library draws the first category at the bottom; the result reads from the top. It reads
// a label as rich text, so the lines are joined by a line break and their text is escaped. Labels
// must be unique on the axis, so a repeated one gets invisible spaces until it is.
QStringList Categories(const QStringList& labels, const QFont& font, double chartWidth, int* lines)
{
    const QFontMetricsF metrics(font);
    const double room = LabelRoom(chartWidth);
    QStringList categories;
    int most = 1;
    for (auto label = labels.rbegin(); label != labels.rend(); ++label) {
        const FittedLabel fitted = Fit(*label, metrics, room);
        most = std::max(most, int(fitted.lines.size()));
        QStringList escaped;
        for (const QString& line : fitted.lines)
            escaped << line.toHtmlEscaped();
        QString category = escaped.join(QStringLiteral("<br>"));
        while (categories.contains(category))
            category += QChar(0x200B);
        categories.append(category);
    }
    if (lines)
        *lines = most;
    return categories;
}

void SetValueRange(QValueAxis* axisX, const std::vector<TvsChartRow>& rows, int decimals)
{
    double top = 0, bottom = 0;
    for (const TvsChartRow& row : rows) {
        top = std::max(top, row.Value);
        bottom = std::min(bottom, row.Value);
    }
    const Ticks ticks = NiceTicks(bottom, top, decimals == 0, 8);
    axisX->setRange(ticks.low, ticks.high);
    axisX->setTickCount(ticks.count);
    axisX->setLabelFormat(QStringLiteral("%.") + QString::number(ticks.decimals) + QStringLiteral("f"));
}

} // namespace

TvsChartView::TvsChartView(QWidget* parent) : QWidget(parent), m_parts(std::make_unique<Parts>())
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    m_parts->chart = new QChart;
    m_parts->chart->setAnimationOptions(QChart::NoAnimation);
    // Numbers as the tables write them: a decimal comma.
    m_parts->chart->setLocalizeNumbers(true);
    m_parts->chart->setLocale(QLocale(QLocale::Russian));
    m_parts->chart->legend()->setVisible(false);
    m_parts->view = new QChartView(m_parts->chart);
    m_parts->view->setObjectName(QStringLiteral("chartView"));
    m_parts->view->setRenderHint(QPainter::Antialiasing);
    // A picture, not a control: the keyboard passes it by, and a screen reader hears its title.
    m_parts->view->setFocusPolicy(Qt::NoFocus);
    m_parts->view->setAccessibleName(QStringLiteral("Диаграмма"));
    m_parts->view->viewport()->setFocusPolicy(Qt::NoFocus);
    m_parts->view->viewport()->setAccessibleName(QStringLiteral("Диаграмма"));
    setAccessibleName(QStringLiteral("Диаграмма"));
    // Many rows get the height their labels need and scroll where the window leaves less; the width
    // always fits, the labels wrapping to it.
    m_parts->scroll = new QScrollArea(this);
    m_parts->scroll->setObjectName(QStringLiteral("chartScroll"));
    m_parts->scroll->setFrameShape(QFrame::NoFrame);
    m_parts->scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_parts->scroll->setWidgetResizable(true);
    m_parts->scroll->setFocusPolicy(Qt::NoFocus);
    m_parts->scroll->setWidget(m_parts->view);
    m_parts->view->installEventFilter(this);
    layout->addWidget(m_parts->scroll);
    // The exact room the title, the value axis and the legend take is known once the library has
    // laid the chart out; the minimum height then follows it.
    connect(m_parts->chart, &QChart::plotAreaChanged, this, [this](const QRectF& plot) {
        if (m_parts->rendering || m_rows == 0)
            return;
        const double needed = PlotHeight(m_parts->axisY->labelsFont(), m_parts->lines, m_rows);
        const int height = int(std::ceil(m_parts->chart->size().height() - plot.height() + needed));
        if (std::abs(height - m_parts->view->minimumHeight()) > 1)
            m_parts->view->setMinimumHeight(height);
    });
    connect(m_parts->chart, &QGraphicsWidget::geometryChanged, this, [this] { PlaceLegend(); });
}

TvsChartView::~TvsChartView() = default;

bool TvsChartView::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_parts->view && event->type() == QEvent::Resize && !m_parts->rendering)
        FitToWidth(m_parts->view->width());
    return QWidget::eventFilter(watched, event);
}

void TvsChartView::FitToWidth(double width)
{
    if (m_parts->axisY == nullptr || width == m_parts->fittedWidth)
        return;
    m_parts->fittedWidth = width;
    const QStringList categories = Categories(m_parts->labels, m_parts->axisY->labelsFont(), width, &m_parts->lines);
    if (categories != m_parts->axisY->categories())
        m_parts->axisY->setCategories(categories);
    PlaceLegend();
    if (!m_parts->rendering)
        m_parts->view->setMinimumHeight(EstimatedHeight(width));
}

int TvsChartView::EstimatedHeight(double width) const
{
    if (m_rows == 0 || m_parts->axisY == nullptr)
        return 0;
    int lines = 1;
    Categories(m_parts->labels, m_parts->axisY->labelsFont(), width, &lines);
    const QFontMetricsF title(m_parts->chart->titleFont());
    const double legend = LegendHeight(width);
    return int(
        std::ceil(PlotHeight(m_parts->axisY->labelsFont(), lines, m_rows) + 2 * title.lineSpacing() + legend + 110));
}

double TvsChartView::LegendHeight(double width) const
{
    double x = 0;
    int lines = m_parts->legend.empty() ? 0 : 1;
    const QFontMetricsF metrics(m_parts->chart->font());
    const double room = width - 2 * kLegendGap;
    for (const Parts::LegendEntry& entry : m_parts->legend) {
        const double wide =
            std::min(room, metrics.height() + 4 + metrics.horizontalAdvance(entry.name)) + 2 * kLegendGap;
        if (x > 0 && x + wide > room)
            ++lines, x = 0;
        x += wide;
    }
    return lines * (metrics.lineSpacing() + 6);
}

void TvsChartView::PlaceLegend()
{
    QChart* chart = m_parts->chart;
    const double width = chart->size().width();
    const QFontMetricsF metrics(chart->font());
    const double box = metrics.height() - 4;
    const double lineHeight = metrics.lineSpacing() + 6;
    const double height = LegendHeight(width);
    if (height != m_parts->legendHeight) {
        m_parts->legendHeight = height;
        QMargins margins = chart->margins();
        margins.setBottom(int(std::ceil(height)) + kLegendGap);
        chart->setMargins(margins);
    }
    const double room = width - 2 * kLegendGap;
    double x = 0, y = chart->size().height() - height - kLegendGap;
    for (Parts::LegendEntry& entry : m_parts->legend) {
        const double textRoom = room - box - 4 - 2 * kLegendGap;
        const bool fits = metrics.horizontalAdvance(entry.name) <= textRoom;
        entry.text->setText(fits ? entry.name : metrics.elidedText(entry.name, Qt::ElideRight, textRoom));
        entry.text->setToolTip(fits ? QString() : entry.name);
        const double wide = box + 4 + metrics.horizontalAdvance(entry.text->text()) + 2 * kLegendGap;
        if (x > 0 && x + wide > room)
            x = 0, y += lineHeight;
        entry.swatch->setRect(kLegendGap + x + kLegendGap, y + (lineHeight - box) / 2, box, box);
        entry.text->setPos(kLegendGap + x + kLegendGap + box + 4, y + (lineHeight - metrics.height()) / 2);
        x += wide;
    }
}

void TvsChartView::SetRows(const QString& title, const std::vector<TvsChartRow>& rows,
                           const QMap<int, QString>& groupNames, int decimals)
{
    QChart* chart = m_parts->chart;
    std::vector<std::pair<int, bool>> shape;
    shape.reserve(rows.size());
    for (const TvsChartRow& row : rows)
        shape.emplace_back(row.Group, row.Strong);
    m_parts->labels.clear();
    for (const TvsChartRow& row : rows)
        m_parts->labels << row.Label;
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
        m_parts->fittedWidth = -1;
        FitToWidth(m_parts->view->width());
        SetValueRange(m_parts->axisX, rows, decimals);
        return;
    }
    m_parts->shape.clear();
    m_parts->sets.clear();
    m_parts->axisY = nullptr;
    m_parts->axisX = nullptr;
    for (Parts::LegendEntry& entry : m_parts->legend) {
        delete entry.swatch;
        delete entry.text;
    }
    m_parts->legend.clear();
    m_parts->legendHeight = -1;
    chart->removeAllSeries();
    for (QAbstractAxis* axis : chart->axes())
        chart->removeAxis(axis), delete axis;
    chart->setTitle(title);
    m_parts->view->setAccessibleName(title);
    m_rows = int(rows.size());
    m_parts->fittedWidth = -1;
    if (rows.empty()) {
        PlaceLegend();
        m_parts->view->setMinimumHeight(0);
        return;
    }

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
    // A shortened label is whole in its bar's tooltip.
    connect(series, &QAbstractBarSeries::hovered, this, [this](bool status, int index) {
        const int row = int(m_parts->labels.size()) - 1 - index;
        if (status && row >= 0 && row < m_parts->labels.size())
            QToolTip::showText(QCursor::pos(), m_parts->labels[row], m_parts->view);
        else
            QToolTip::hideText();
    });

    auto* axisY = new QBarCategoryAxis;
    m_parts->axisY = axisY;
    axisY->append(
        Categories(m_parts->labels, axisY->labelsFont(), std::max(1, m_parts->view->width()), &m_parts->lines));
    chart->addAxis(axisY, Qt::AlignLeft);
    series->attachAxis(axisY);
    auto* axisX = new QValueAxis;
    SetValueRange(axisX, rows, decimals);
    chart->addAxis(axisX, Qt::AlignBottom);
    series->attachAxis(axisX);

    for (const auto& [key, set] : sets) {
        if (!key.strong || set->label().isEmpty())
            continue;
        auto* swatch = new QGraphicsRectItem(chart);
        swatch->setBrush(set->color());
        swatch->setPen(QPen(set->borderColor()));
        auto* text = new QGraphicsSimpleTextItem(chart);
        text->setFont(chart->font());
        m_parts->legend.push_back({swatch, text, set->label()});
    }

    m_parts->shape = std::move(shape);
    m_parts->groupNames = groupNames;
    m_parts->decimals = decimals;
    for (const auto& [key, set] : sets)
        m_parts->sets.push_back({{key.group, key.strong}, set});
    m_parts->axisX = axisX;
    FitToWidth(m_parts->view->width());
}

void TvsChartView::Render(QPainter& painter, const QRectF& target)
{
    // Laid out at the target's size, so text keeps its point size whatever the device's resolution;
    // the labels wrap to that width and come back to the screen's afterwards.
    const QSizeF size = target.size() / (painter.device()->logicalDpiX() / 96.0);
    m_parts->rendering = true;
    FitToWidth(size.width());
    m_parts->chart->resize(size);
    QGraphicsScene* scene = m_parts->chart->scene();
    if (scene != nullptr) {
        painter.save();
        painter.setRenderHint(QPainter::Antialiasing);
        scene->render(&painter, target, m_parts->chart->sceneBoundingRect());
        painter.restore();
    }
    m_parts->chart->resize(m_parts->view->viewport()->size());
    FitToWidth(m_parts->view->width());
    m_parts->rendering = false;
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

int TvsChartView::PreferredHeight(int width) const
{
    return std::max(EstimatedHeight(width), 90 + 22 * std::max(1, m_rows));
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
