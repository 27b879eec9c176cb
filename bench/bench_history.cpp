// Times the history window and the detailed view over a large database, against a plain sequential
// read of the file each of them needs:
//   kvendar_bench_history <folder made by kvendar_bench_gen> [repeats=5]
// "Open" is from creating TfmTestGrid to the first paint of its table; "detail" from the double-click
// on the last test to the first paint of the detailed window's text. Peak memory is the rise of the
// process's peak resident size while one history window is created and painted.

#include "core/catalogue/uvsValues.h"
#include "core/history/TestGridModel.h"
#include "core/interpretation/ModuleBridge.h"
#include "gui/history/uvsDetailedResult.h"
#include "gui/history/uvsTestGrid.h"
#include "gui/platform/AppContext.h"
#include "gui/platform/Dialogs.h"

#include "Measure.h"
#include "PlainRead.h"
#include <QApplication>

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTableView>
#include <QTemporaryDir>
#include <QTextEdit>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

using namespace kv;

using kvbench::Median;
using kvbench::Ms;
using kvbench::ResetPeak;
using kvbench::StatusKb;

namespace {

using kvbench::PlainRead;

// Signals once when a widget matching the test has painted.
class FirstPaint final : public QObject
{
public:
    explicit FirstPaint(std::function<bool(QObject*)> matches) : m_matches(std::move(matches))
    {
        qApp->installEventFilter(this);
    }
    ~FirstPaint() override { qApp->removeEventFilter(this); }
    std::function<void()> onPaint;
    bool painted = false;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (!painted && event->type() == QEvent::Paint && m_matches(watched)) {
            // Let the paint happen, then note that it did.
            painted = true;
            watched->removeEventFilter(this);
            QTimer::singleShot(0, qApp, [this] {
                if (onPaint)
                    onPaint();
            });
        }
        return false;
    }

private:
    std::function<bool(QObject*)> m_matches;
};

struct Figures
{
    double open = 0;
    double detail = 0;
};

Figures RunOnce(AppContext& context, const TvsValueTypeList& catalogue)
{
    Figures f;
    QElapsedTimer timer;
    timer.start();
    QElapsedTimer detailTimer;
    {
        TfmTestGrid grid(context, catalogue);
        QWidget* viewport = grid.Grid()->viewport();
        FirstPaint gridPaint([viewport](QObject* o) { return o == viewport; });
        bool gridDone = false;
        gridPaint.onPaint = [&] {
            f.open = double(timer.nsecsElapsed()) / 1e6;
            gridDone = true;
        };
        grid.show();
        while (!gridDone)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);

        QTableView* view = grid.Grid();
        const QModelIndex last = view->model()->index(view->model()->rowCount() - 1, 0);
        view->scrollTo(last);
        view->setCurrentIndex(last);
        QCoreApplication::processEvents();

        FirstPaint detailPaint([](QObject* o) {
            auto* w = qobject_cast<QWidget*>(o);
            return w != nullptr && qobject_cast<TfmDetailedResult*>(w->window()) != nullptr &&
                   w->parentWidget() != nullptr && qobject_cast<QTextEdit*>(w->parentWidget()) != nullptr;
        });
        detailPaint.onPaint = [&] {
            f.detail = double(detailTimer.nsecsElapsed()) / 1e6;
            if (auto* modal = qobject_cast<QDialog*>(QApplication::activeModalWidget()))
                modal->done(QDialog::Accepted);
        };
        detailTimer.start();
        emit view->doubleClicked(last);
    }
    return f;
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 2) {
        std::fprintf(stderr, "usage: kvendar_bench_history <folder> [repeats] [module file]\n");
        return 2;
    }
    const QString source = QFileInfo(args.at(1)).absoluteFilePath();
    const int repeats = args.size() > 2 ? args.at(2).toInt() : 5;
    const QString tests = source + QStringLiteral("/tests.dat");
    const QString values = source + QStringLiteral("/values.dat");
    if (!QFile::exists(tests) || !QFile::exists(values)) {
        std::fprintf(stderr, "run kvendar_bench_gen first\n");
        return 1;
    }

    // A stand-in executable folder whose Data is the generated database.
    QTemporaryDir exeDir;
    QFile::link(source, exeDir.filePath(QStringLiteral("Data")));
    if (args.size() > 3)
        QFile::copy(args.at(3), exeDir.filePath(ModuleFileName()));
    QtDialogs dialogs;
    AppContext context{exeDir.path() + u'/', dialogs};
    TvsValueTypeList catalogue;
    for (const char16_t* name :
         {u"Идеологические ценности", u"Материальные ценности", u"Эмоциональные ценности", u"Витальные ценности"})
        catalogue.Items(catalogue.Add(QString::fromUtf16(name), QString())).Number = catalogue.Count();

    PlainRead(tests);
    PlainRead(values);

    // Peak memory of one history window, measured first while the process is still small.
    long peakKb = -1;
    {
        const long before = StatusKb("VmRSS:");
        if (ResetPeak()) {
            TfmTestGrid grid(context, catalogue);
            grid.show();
            QCoreApplication::processEvents();
            peakKb = StatusKb("VmHWM:") - before;
        }
    }

    std::vector<double> open, detail, plainTests, plainValues;
    for (int i = 0; i < repeats; ++i) {
        plainTests.push_back(Ms([&] { PlainRead(tests); }));
        plainValues.push_back(Ms([&] { PlainRead(values); }));
        const Figures f = RunOnce(context, catalogue);
        open.push_back(f.open);
        detail.push_back(f.detail);
    }
    const double pt = Median(plainTests);
    const double pv = Median(plainValues);
    const double o = Median(open);
    const double d = Median(detail);
    const qint64 testsSize = QFileInfo(tests).size();
    std::printf("tests.dat %lld bytes, values.dat %lld bytes, median of %d runs, module %s\n", testsSize,
                QFileInfo(values).size(), repeats, args.size() > 3 ? "present" : "absent");
    std::printf("plain read tests.dat              %9.2f ms\n", pt);
    std::printf("plain read values.dat             %9.2f ms\n", pv);
    std::printf("history window to first paint     %9.2f ms  ratio %.2f\n", o, o / pt);
    std::printf("double-click last to first paint  %9.2f ms  ratio %.2f (against values.dat)\n", d, d / pv);
    if (peakKb >= 0)
        std::printf("history window peak memory        %9.1f MB  (%.2f x tests.dat)\n", peakKb / 1024.0,
                    double(peakKb) * 1024.0 / double(testsSize));
    return 0;
}
