#include "gui/transfer/BackgroundWork.h"

#include <QEventLoop>
#include <QFutureWatcher>
#include <QProgressBar>
#include <QProgressDialog>
#include <QTimer>
#include <QtConcurrent/QtConcurrentRun>

#include <algorithm>
#include <atomic>
#include <exception>

namespace kv {

namespace {

// The bar counts in thousandths, so that totals beyond the range of an int still fit.
constexpr int kBarSteps = 1000;
// How often the window looks at how far the work is: often enough to move smoothly, rarely enough to
// cost nothing.
constexpr int kLookMs = 50;

// What the worker and the GUI thread share while the work runs. Atomics only: the worker never waits
// for the GUI thread, and the GUI thread never waits for a report.
struct SharedProgress
{
    std::atomic<qint64> done{0};
    std::atomic<qint64> total{0};
    std::atomic<bool> cancelRequested{false};
};

// A progress window that stays up until the work has ended. Escape and the window's close button ask
// for a cancel, as the cancel button does, instead of hiding it: hidden, it would no longer keep the
// windows underneath from starting more work while this one winds down.
class WorkProgressDialog final : public QProgressDialog
{
public:
    using QProgressDialog::QProgressDialog;
    std::function<void()> shown;

    void reject() override { emit canceled(); }

protected:
    void showEvent(QShowEvent* event) override
    {
        QProgressDialog::showEvent(event);
        if (shown)
            shown();
    }
};

void ShowProgress(QProgressBar* bar, const SharedProgress& shared)
{
    const qint64 total = shared.total.load(std::memory_order_relaxed);
    const qint64 done = shared.done.load(std::memory_order_relaxed);
    const int maximum = total > 0 ? kBarSteps : 0;
    if (bar->maximum() != maximum)
        bar->setRange(0, maximum);
    // Set on the bar itself: QProgressDialog::setValue would run the event loop inside this one.
    if (total > 0)
        bar->setValue(int(std::clamp<qint64>(done, 0, total) * kBarSteps / total));
}

} // namespace

void RunInBackground(QWidget* parent, const ProgressLook& look, const std::function<void(const WorkProgress&)>& work)
{
    SharedProgress shared;
    const WorkProgress progress = [&shared](qint64 done, qint64 total) {
        shared.total.store(total, std::memory_order_relaxed);
        shared.done.store(done, std::memory_order_relaxed);
        return !shared.cancelRequested.load(std::memory_order_relaxed);
    };

    WorkProgressDialog dialog(look.label, QStringLiteral("Отмена"), 0, 0, parent);
    dialog.setObjectName(QStringLiteral("kvProgress"));
    dialog.setWindowTitle(look.caption);
    dialog.setWindowModality(Qt::ApplicationModal);
    dialog.setAutoReset(false);
    dialog.setAutoClose(false);
    dialog.setMinimumDuration(look.delayMs);
    // Starts the clock after which the window appears.
    dialog.setValue(0);
    QProgressBar* bar = dialog.findChild<QProgressBar*>();
    // The dialog's own handling of a cancel hides it; the work decides when it is over.
    QObject::disconnect(&dialog, &QProgressDialog::canceled, nullptr, nullptr);
    QObject::connect(&dialog, &QProgressDialog::canceled, &dialog,
                     [&shared] { shared.cancelRequested.store(true, std::memory_order_relaxed); });

    QEventLoop loop;
    bool woken = false;
    const auto wake = [&] {
        woken = true;
        loop.quit();
    };
    // Until the window is up, user input waits; once it is, the loop runs again taking everything, and
    // the window's modality keeps the clicks elsewhere from doing anything.
    dialog.shown = wake;
    QTimer poll;
    poll.setInterval(kLookMs);
    QObject::connect(&poll, &QTimer::timeout, &dialog, [bar, &shared] { ShowProgress(bar, shared); });

    std::exception_ptr error;
    QFutureWatcher<void> watcher;
    QObject::connect(&watcher, &QFutureWatcherBase::finished, &loop, wake);
    QFuture<void> future = QtConcurrent::run([&work, &progress, &error] {
        try {
            work(progress);
        } catch (...) {
            error = std::current_exception();
        }
    });
    watcher.setFuture(future);
    poll.start();
    // The future's own state, not the watcher's: that one changes only when its signal is delivered.
    while (!future.isFinished()) {
        woken = false;
        loop.exec(dialog.isVisible() ? QEventLoop::AllEvents : QEventLoop::ExcludeUserInputEvents);
        if (!woken) {
            // The application is quitting, which ends every event loop at once from now on. The work
            // is told to stop and waited for, so that it never outlives what it works on.
            shared.cancelRequested.store(true, std::memory_order_relaxed);
            future.waitForFinished();
        }
    }
    poll.stop();
    dialog.shown = nullptr;
    dialog.hide();
    if (error)
        std::rethrow_exception(error);
}

} // namespace kv
