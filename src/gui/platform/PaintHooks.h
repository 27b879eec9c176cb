#pragma once

#include <QTreeWidget>
#include <QWidget>

#include <functional>

class QPainter;

namespace kv {

// A function that draws on a widget after the widget's own painting, frame included.
using AfterPaint = std::function<void(QWidget& widget, QPainter& painter)>;

// A tree whose owner can draw over its finished frame and client area.
class HookedTreeWidget : public QTreeWidget
{
    Q_OBJECT

public:
    using QTreeWidget::QTreeWidget;
    void SetAfterPaint(AfterPaint hook);
    bool HasAfterPaint() const { return static_cast<bool>(m_afterPaint); }

protected:
    // The frame is painted by the scroll area's own paint event (the viewport paints separately),
    // so the hook runs right after that event.
    bool event(QEvent* event) override;

private:
    AfterPaint m_afterPaint;
};

// A panel whose owner can draw over it after its own painting.
class HookedPanel : public QWidget
{
    Q_OBJECT

public:
    using QWidget::QWidget;
    void SetAfterPaint(AfterPaint hook);
    bool HasAfterPaint() const { return static_cast<bool>(m_afterPaint); }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    AfterPaint m_afterPaint;
};

} // namespace kv
