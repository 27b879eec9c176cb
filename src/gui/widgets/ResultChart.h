#pragma once

#include "core/catalogue/uvsValues.h"

#include <QImage>
#include <QMap>
#include <QString>
#include <QWidget>

#include <memory>
#include <vector>

class QPainter;

namespace kv {

// One bar of a horizontal bar chart, drawn top to bottom in the order given.
struct TvsChartRow
{
    QString Label;
    double Value = 0;
    int Group = 0;       // 1 .. 4 picks the group's colour; anything else is grey
    bool Strong = false; // the group's own bar, drawn in the full colour; its values' bars are lighter
};

// A horizontal bar chart. The chart library is reached only from this file's implementation, so the
// rest of the program sees a plain widget that can also paint itself as vector graphics.
class TvsChartView final : public QWidget
{
    Q_OBJECT

public:
    explicit TvsChartView(QWidget* parent = nullptr);
    ~TvsChartView() override;

    // groupNames names the colours in the legend; decimals is how the axis writes its numbers.
    void SetRows(const QString& title, const std::vector<TvsChartRow>& rows, const QMap<int, QString>& groupNames,
                 int decimals = 0);
    bool IsEmpty() const { return m_rows == 0; }
    int RowCount() const { return m_rows; }

    // The chart painted into target (in the painter's units); on a printer or PDF it stays vector.
    void Render(QPainter& painter, const QRectF& target);
    // A picture of the chart at this size, for documents that can only hold images.
    QImage Picture(const QSize& size);
    QByteArray Png(const QSize& size);

    // A height that leaves each bar and its label readable at this width.
    int PreferredHeight(int width = 640) const;
    // However many rows there are, the chart asks its window for no more than a table would: it
    // scrolls inside what it gets.
    QSize sizeHint() const override { return {480, 240}; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void FitToWidth(double width);
    int EstimatedHeight(double width) const;
    double LegendHeight(double width) const;
    void PlaceLegend();

    struct Parts;
    std::unique_ptr<Parts> m_parts;
    int m_rows = 0;
};

// The bars of one result: each group's points, and under it its values' wins.
std::vector<TvsChartRow> ResultChartRows(const TvsValueTypeList& list);
QMap<int, QString> ResultGroupNames(const TvsValueTypeList& list);
QString ResultChartTitle();

} // namespace kv
