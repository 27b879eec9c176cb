#pragma once

#include "gui/platform/Dialogs.h"

#include <QString>

#include <functional>
#include <type_traits>

class QWidget;

namespace kv {

// The program's title, shown on the standard error box.
QString ApplicationTitle();

// The text the standard error box shows for a raised message: a full stop is added when the last
// character sorts above ".", so "Запись не найдена" gains one and "Готово." or "Да?" keep theirs.
QString ErrorBoxText(const QString& message);

// Runs one event handler. An error it raises ends it and is shown in the standard error box; nothing
// escapes into Qt's event loop, so the window stays usable. Returns false when the handler failed.
bool RunHandler(QWidget* window, Dialogs& dialogs, const std::function<void()>& handler);

// Wraps a member handler for connect(): the slot runs through RunHandler. Signal arguments are
// dropped; handlers that need them are connected with a lambda that calls RunHandler itself.
template <typename Window> auto Guarded(Window* window, Dialogs& dialogs, void (Window::*handler)())
{
    return [window, &dialogs, handler] { RunHandler(window, dialogs, [window, handler] { (window->*handler)(); }); };
}

} // namespace kv
