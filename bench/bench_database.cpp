// Times the database readers and the append against a plain sequential read of the same file:
//   kvendar_bench_db <folder made by kvendar_bench_gen> [repeats=7]
// Each figure is the median of the repeats; the ratios are what matters, since the machine's own
// speed cancels out of them.

#include "core/storage/uvsDataBase.h"

#include "PlainRead.h"
#include <QCoreApplication>

#include <QElapsedTimer>
#include <QFile>
#include <QStringList>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

using namespace kv;

namespace {

// Set by MedianMs: the time of its unmeasured first run.
double g_firstMs = 0;

// One unmeasured run first, as the page cache is warmed before anything is timed: on a virtual
// machine, memory the guest has never touched since boot costs several times more the first time,
// which says more about the host than about the code.
double MedianMs(int repeats, const std::function<void()>& run)
{
    QElapsedTimer first;
    first.start();
    run();
    g_firstMs = double(first.nsecsElapsed()) / 1e6;
    std::vector<double> times;
    for (int i = 0; i < repeats; ++i) {
        QElapsedTimer timer;
        timer.start();
        run();
        times.push_back(double(timer.nsecsElapsed()) / 1e6);
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

using kvbench::PlainRead;

double AppendMs(const QString& fileName, int repeats)
{
    const qint64 before = QFileInfo(fileName).size();
    const double ms = MedianMs(repeats, [&] {
        TvsDBTestRec rec;
        rec.SetFio(QStringLiteral("Новый испытуемый"));
        AppendTestRec(fileName, rec);
        // Back to the original size so every repeat appends to the same file.
        if (::truncate(QFile::encodeName(fileName).constData(), before) != 0)
            std::perror("truncate");
    });
    return ms;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 2) {
        std::fprintf(stderr, "usage: kvendar_bench_db <folder> [repeats]\n");
        return 2;
    }
    const QString tests = args.at(1) + QStringLiteral("/tests.dat");
    const QString values = args.at(1) + QStringLiteral("/values.dat");
    const int repeats = args.size() > 2 ? args.at(2).toInt() : 7;
    if (!QFile::exists(tests) || !QFile::exists(values)) {
        std::fprintf(stderr, "run kvendar_bench_gen first\n");
        return 1;
    }

    // Warm the page cache so the first measurement is not the only one that meets the disk.
    PlainRead(tests);
    PlainRead(values);

    int kept = 0;
    const double plainTests = MedianMs(repeats, [&] { PlainRead(tests); });
    const double plainValues = MedianMs(repeats, [&] { PlainRead(values); });
    const double whole = MedianMs(repeats, [&] { kept = ReadTests(tests)->Count(); });
    const int wholeCount = kept;
    const double wholeFirst = g_firstMs;
    // What it costs only to fill that many records in the list's own storage, on one thread and
    // without any file: on a machine where fresh memory is dear this alone exceeds the plain read.
    const double holdOnly = MedianMs(repeats, [&] {
        TvsDBTestList list;
        std::memset(list.Room(size_t(wholeCount)), 0, size_t(wholeCount) * sizeof(TvsDBTestRec));
        list.Keep(size_t(wholeCount));
        kept = list.Count();
    });
    WantedTestId = 50000;
    const double wantedTest = MedianMs(repeats, [&] { kept = ReadTests(tests, IsWantedTest)->Count(); });
    const int wantedTestCount = kept;
    const double wantedValues = MedianMs(repeats, [&] { kept = ReadValues(values, IsWantedValue)->Count(); });
    const int wantedValueCount = kept;

    QTemporaryDir emptyDir;
    const QString empty = emptyDir.filePath(QStringLiteral("tests.dat"));
    QFile(empty).open(QIODevice::WriteOnly);
    const double appendLarge = AppendMs(tests, repeats);
    const double appendEmpty = AppendMs(empty, repeats);

    std::printf("tests.dat %lld bytes, values.dat %lld bytes, median of %d runs\n", QFileInfo(tests).size(),
                QFileInfo(values).size(), repeats);
    std::printf("plain read tests.dat            %9.2f ms\n", plainTests);
    std::printf("plain read values.dat           %9.2f ms\n", plainValues);
    std::printf("ReadTests whole (%d)       %9.2f ms  ratio %.2f\n", wholeCount, whole, whole / plainTests);
    std::printf("  its unmeasured first run      %9.2f ms\n", wholeFirst);
    std::printf("  filling %d records, no file %9.2f ms\n", wholeCount, holdOnly);
    std::printf("ReadTests IsWantedTest (%d)      %9.2f ms  ratio %.2f\n", wantedTestCount, wantedTest,
                wantedTest / plainTests);
    std::printf("ReadValues IsWantedValue (%d)   %9.2f ms  ratio %.2f\n", wantedValueCount, wantedValues,
                wantedValues / plainValues);
    std::printf("AppendTestRec on large file     %9.3f ms\n", appendLarge);
    std::printf("AppendTestRec on empty file     %9.3f ms  ratio large/empty %.2f\n", appendEmpty,
                appendLarge / appendEmpty);
    return 0;
}
