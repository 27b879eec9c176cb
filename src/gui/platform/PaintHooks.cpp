#include "gui/platform/PaintHooks.h"

#include <QPaintEvent>
#include <QPainter>

namespace kv {

void HookedTreeWidget::SetAfterPaint(AfterPaint hook)
{
    m_afterPaint = std::move(hook);
    update();
}

bool HookedTreeWidget::event(QEvent* event)
{
    const bool handled = QTreeWidget::event(event);
    if (event->type() == QEvent::Paint && m_afterPaint) {
        QPainter painter(this);
        m_afterPaint(*this, painter);
    }
    return handled;
}

void HookedPanel::SetAfterPaint(AfterPaint hook)
{
    m_afterPaint = std::move(hook);
    update();
}

void HookedPanel::paintEvent(QPaintEvent* event)
{
    QWidget::paintEvent(event);
    if (m_afterPaint) {
        QPainter painter(this);
        m_afterPaint(*this, painter);
    }
}

} // namespace kv
