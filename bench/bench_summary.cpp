// The summary window over the benchmark database: from its creation to the first paint of its
// groups' table, against a plain read of tests.dat and values.dat; a filter change recomputed and
// repainted, against a plain read of values.dat; and the rise of the peak resident size while one
// window is created, filled and painted, against the size of tests.dat.
#include "Measure.h"
#include "PlainRead.h"

#include "core/catalogue/uvsValues.h"
#include "gui/platform/AppContext.h"
#include "gui/platform/Dialogs.h"
#include "gui/summary/uvsSummary.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTableWidget>
#include <QTextStream>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

using namespace kv;

using kvbench::Median;
using kvbench::Ms;
using kvbench::ResetPeak;
using kvbench::StatusKb;

namespace {

// Runs the event loop until watched has painted once.
class PaintWait final : public QObject
{
public:
    explicit PaintWait(QObject* watched) : m_watched(watched) { watched->installEventFilter(this); }
    void Wait()
    {
        while (!m_painted)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
        m_painted = false;
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (watched == m_watched && event->type() == QEvent::Paint)
            m_painted = true;
        return false;
    }

private:
    QObject* m_watched;
    bool m_painted = false;
};

class QuietDialogs final : public Dialogs
{
public:
    QMessageBox::StandardButton Message(QWidget*, Kind, const QString&, QMessageBox::StandardButtons) override
    {
        return QMessageBox::Ok;
    }
    void ShowError(QWidget*, const QString& message) override { std::fprintf(stderr, "%s\n", qPrintable(message)); }
    QString SaveFileName(QWidget*, const QString&, const QString&, const QString&) override { return QString(); }
    QString ExistingDirectory(QWidget*, const QString&) override { return QString(); }
    bool OfferCopy(QWidget*, const QString&) override { return false; }
    bool OpenUrl(const QUrl&) override { return false; }
};

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 2) {
        std::fprintf(stderr, "usage: kvendar_bench_summary <folder with tests.dat and values.dat> [repeats=5]\n");
        return 2;
    }
    const QString dataDir = args[1];
    const int repeats = args.size() > 2 ? args[2].toInt() : 5;
    const QString tests = QDir(dataDir).filePath(QStringLiteral("tests.dat"));
    const QString values = QDir(dataDir).filePath(QStringLiteral("values.dat"));

    // The window takes its data from the executable's Data folder: point one at the given folder.
    QuietDialogs dialogs;
    const QString exeDir = QFileInfo(dataDir).absolutePath() + u'/';
    AppContext context{exeDir, dialogs};
    if (QFileInfo(context.dataDir()).canonicalFilePath() != QFileInfo(dataDir).canonicalFilePath()) {
        std::fprintf(stderr, "the folder must be named Data (the window reads <exe>/Data)\n");
        return 2;
    }
    TvsValueTypeList catalogue;
    for (int g = 1; g <= 4; ++g)
        catalogue.Items(catalogue.Add(QStringLiteral("Группа %1").arg(g), QString())).Number = g;

    // Peak memory of one window first, in a process that has not yet held a summary.
    const long before = StatusKb("VmRSS:");
    const bool reset = ResetPeak();
    double peakMb = 0;
    {
        TfmSummary window(context, catalogue);
        window.Load();
        window.show();
        PaintWait paint(window.findChild<QTableWidget*>(QStringLiteral("sgGroups"))->viewport());
        paint.Wait();
        peakMb = double(StatusKb("VmHWM:") - before) / 1024.0;
    }

    std::vector<double> openRatio, openMs, changeRatio, changeMs;
    for (int r = 0; r <= repeats; ++r) {
        const double plainBoth = Ms([&] { kvbench::PlainRead(tests); }) + Ms([&] { kvbench::PlainRead(values); });
        double open = 0, change = 0;
        {
            QElapsedTimer timer;
            timer.start();
            TfmSummary window(context, catalogue);
            window.Load();
            window.show();
            PaintWait paint(window.findChild<QTableWidget*>(QStringLiteral("sgGroups"))->viewport());
            paint.Wait();
            open = double(timer.nsecsElapsed()) / 1e6;

            const double plainValues = Ms([&] { kvbench::PlainRead(values); });
            auto* sex = window.findChild<QComboBox*>(QStringLiteral("cxSex"));
            timer.restart();
            sex->setCurrentIndex(2);
            paint.Wait();
            change = double(timer.nsecsElapsed()) / 1e6;
            if (r > 0) {
                changeMs.push_back(change);
                changeRatio.push_back(change / plainValues);
            }
        }
        // The first run warms the caches and is not counted.
        if (r > 0) {
            openMs.push_back(open);
            openRatio.push_back(open / plainBoth);
        }
    }
    // Where the opening goes: the reading on its own, and one computation over what was read.
    std::vector<double> readMs, computeMs;
    for (int r = 0; r <= repeats; ++r) {
        TvsSummaryData data;
        const double read = Ms([&] { data = ReadSummaryData(dataDir); });
        const double compute = Ms([&] { Summarize(data, {}); });
        if (r > 0) {
            readMs.push_back(read);
            computeMs.push_back(compute);
        }
    }
    const double testsMb = double(QFileInfo(tests).size()) / (1024.0 * 1024.0);
    std::printf("summary window to first paint: %.1f ms = %.2f x plain read of tests.dat + values.dat\n",
                Median(openMs), Median(openRatio));
    std::printf("filter change to repaint:      %.1f ms = %.2f x plain read of values.dat\n", Median(changeMs),
                Median(changeRatio));
    std::printf("peak memory rise%s:          %.1f MB = %.2f x tests.dat (%.1f MB)\n", reset ? "" : " (peak not reset)",
                peakMb, peakMb / testsMb, testsMb);
    std::printf("  of which reading the files:  %.1f ms; one computation over all tests: %.1f ms\n", Median(readMs),
                Median(computeMs));
    return 0;
}
