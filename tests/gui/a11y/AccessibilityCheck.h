#pragma once

#include <QStringList>

class QWidget;

namespace kvtest {

// What a screen reader user would miss in a shown window: the window itself without a window role
// or a caption, a focusable control without a spoken name (through the accessibility tree or not in
// it at all), and a button, label or tab caption whose text does not fit the room it is given. One
// line per fault, naming the widget.
QStringList AccessibilityProblems(QWidget* window);

} // namespace kvtest
