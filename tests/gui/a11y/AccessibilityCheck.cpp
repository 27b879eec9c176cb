#include "AccessibilityCheck.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QSet>
#include <QStyle>
#include <QStyleOptionButton>
#include <QTabBar>
#include <QWidget>

namespace kvtest {

namespace {

QString Describe(const QWidget* w)
{
    return QStringLiteral("%1 (%2)").arg(w->objectName(), QString::fromLatin1(w->metaObject()->className()));
}

int TextWidth(const QWidget* w, const QString& text)
{
    return w->fontMetrics().size(Qt::TextShowMnemonic, text).width();
}

// The room the style leaves for a button's caption once its frame, margins and indicator are taken.
QRect ButtonTextRoom(const QAbstractButton* button)
{
    QStyleOptionButton option;
    option.initFrom(button);
    option.text = button->text();
    option.icon = button->icon();
    option.iconSize = button->iconSize();
    QStyle::SubElement element = QStyle::SE_PushButtonContents;
    if (qobject_cast<const QCheckBox*>(button))
        element = QStyle::SE_CheckBoxContents;
    else if (qobject_cast<const QRadioButton*>(button))
        element = QStyle::SE_RadioButtonContents;
    return button->style()->subElementRect(element, &option, button);
}

void CheckFit(QWidget* w, QStringList& problems)
{
    if (auto* button = qobject_cast<QAbstractButton*>(w)) {
        if (button->text().isEmpty())
            return;
        const QRect room = ButtonTextRoom(button);
        const QSize text = button->fontMetrics().size(Qt::TextShowMnemonic, button->text());
        if (text.width() > room.width() || text.height() > room.height())
            problems << QStringLiteral("%1: caption \"%2\" needs %3x%4, has %5x%6")
                            .arg(Describe(w), button->text())
                            .arg(text.width())
                            .arg(text.height())
                            .arg(room.width())
                            .arg(room.height());
    } else if (auto* label = qobject_cast<QLabel*>(w)) {
        if (label->text().isEmpty() || label->pixmap().isNull() == false)
            return;
        const QRect room = label->contentsRect();
        const int needWidth = label->wordWrap() ? 0 : label->sizeHint().width() - 2 * label->margin();
        const int needHeight = label->wordWrap() ? label->heightForWidth(label->width()) : label->sizeHint().height();
        if (needWidth > room.width() + label->frameWidth() * 2 || needHeight > label->height())
            problems << QStringLiteral("%1: text \"%2\" needs %3x%4, has %5x%6")
                            .arg(Describe(w), label->text())
                            .arg(needWidth)
                            .arg(needHeight)
                            .arg(label->width())
                            .arg(label->height());
    } else if (auto* tabs = qobject_cast<QTabBar*>(w)) {
        for (int i = 0; i < tabs->count(); ++i)
            if (tabs->tabRect(i).width() < TextWidth(tabs, tabs->tabText(i)))
                problems << QStringLiteral("%1: tab \"%2\" is cut short").arg(Describe(w), tabs->tabText(i));
    }
}

void Walk(QAccessibleInterface* iface, QSet<QWidget*>& seen, QStringList& problems, int depth)
{
    if (iface == nullptr || !iface->isValid() || depth > 64)
        return;
    auto* w = qobject_cast<QWidget*>(iface->object());
    if (w != nullptr && !seen.contains(w)) {
        seen.insert(w);
        const QAccessible::State state = iface->state();
        if (state.focusable && !state.invisible && iface->text(QAccessible::Name).trimmed().isEmpty())
            problems << QStringLiteral("%1: focusable without a name").arg(Describe(w));
    }
    for (int i = 0; i < iface->childCount(); ++i)
        Walk(iface->child(i), seen, problems, depth + 1);
}

} // namespace

QStringList AccessibilityProblems(QWidget* window)
{
    QStringList problems;
    QAccessibleInterface* root = QAccessible::queryAccessibleInterface(window);
    if (root == nullptr)
        return {QStringLiteral("%1: no accessibility interface").arg(Describe(window))};
    const QAccessible::Role role = root->role();
    if (role != QAccessible::Window && role != QAccessible::Dialog)
        problems << QStringLiteral("%1: reaches screen readers with role %2, not as a window")
                        .arg(Describe(window))
                        .arg(int(role));
    if (root->text(QAccessible::Name).trimmed().isEmpty())
        problems << QStringLiteral("%1: window without a caption").arg(Describe(window));

    QSet<QWidget*> seen;
    Walk(root, seen, problems, 0);

    // A focusable control that the tree leaves out is as silent as one without a name.
    const QList<QWidget*> widgets = window->findChildren<QWidget*>();
    for (QWidget* w : widgets) {
        if (!w->isVisibleTo(window) || w->window() != window)
            continue;
        CheckFit(w, problems);
        if (w->focusPolicy() == Qt::NoFocus || seen.contains(w))
            continue;
        // Parts that a control builds for itself (a combo box's line edit, a scroll area's
        // viewport) are spoken through their owner.
        if (w->focusProxy() != nullptr)
            continue;
        problems << QStringLiteral("%1: focusable but not in the accessibility tree").arg(Describe(w));
    }
    return problems;
}

} // namespace kvtest
