#pragma once

#include "gui/platform/AppContext.h"

#include <QString>

#include <functional>
#include <optional>
#include <type_traits>
#include <utility>

class QWidget;

namespace kv {

// The look of the progress window that stands over long work.
struct ProgressLook
{
    QString caption;
    QString label;
    int delayMs = 0; // how long the work runs before the window appears
};

// Runs work on a worker thread and returns once it has ended. Meanwhile a modal progress window with a
// cancel button stands over parent, and the calling handler waits in an event loop of its own, so every
// window goes on painting. Until that window is up, and after a cancel until the work has really
// stopped, input to the program's windows waits: no second import or export starts under this one and
// no window closes under it.
// work runs on the worker thread and must touch no widget. The progress it is handed may be called there
// as often as it likes; it passes done of total to the window (total 0 while unknown) and returns false
// once the user has asked to cancel. An error work raises is raised again here, on the GUI thread, so
// the handler's standard error box shows it.
void RunInBackground(QWidget* parent, const ProgressLook& look, const std::function<void(const WorkProgress&)>& work);

// The same for work that returns a result.
template <typename Work>
auto RunInBackground(QWidget* parent, const ProgressLook& look, Work&& work)
    -> std::enable_if_t<!std::is_void_v<std::invoke_result_t<Work&, const WorkProgress&>>,
                        std::invoke_result_t<Work&, const WorkProgress&>>
{
    std::optional<std::invoke_result_t<Work&, const WorkProgress&>> result;
    RunInBackground(parent, look,
                    std::function<void(const WorkProgress&)>(
                        [&result, &work](const WorkProgress& progress) { result.emplace(work(progress)); }));
    return std::move(*result);
}

} // namespace kv
