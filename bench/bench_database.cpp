// Times the database readers and the append against a plain sequential read of the same file:
//   kvendar_bench_db <folder made by kvendar_bench_gen> [repeats=7]
// Each figure is the median of the repeats; the ratios are what matters, since the machine's own
// speed cancels out of them.

#include "database/uvsDataBase.h"

#include "PlainRead.h"
#include <QCoreApplication>

#include <QElapsedTimer>
#include <QFile>
#include <QStringList>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

using namespace kv;

namespace {

double MedianMs(int repeats, const std::function<void()>& run)
{
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
    // What it costs only to hold that many records in memory, without any file: the floor under a
    // whole read, which on some machines is dominated by faulting in fresh pages.
    const double holdOnly = MedianMs(repeats, [&] {
        TvsDBTestList list;
        const TvsDBTestRec rec;
        for (int i = 0; i < wholeCount; ++i)
            list.Append(std::make_unique<TvsDBTestRec>(rec));
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
    std::printf("  of which holding %d records  %9.2f ms  (whole / (plain + holding) %.2f)\n", wholeCount, holdOnly,
                whole / (plainTests + holdOnly));
    std::printf("ReadTests IsWantedTest (%d)      %9.2f ms  ratio %.2f\n", wantedTestCount, wantedTest,
                wantedTest / plainTests);
    std::printf("ReadValues IsWantedValue (%d)   %9.2f ms  ratio %.2f\n", wantedValueCount, wantedValues,
                wantedValues / plainValues);
    std::printf("AppendTestRec on large file     %9.3f ms\n", appendLarge);
    std::printf("AppendTestRec on empty file     %9.3f ms  ratio large/empty %.2f\n", appendEmpty,
                appendLarge / appendEmpty);
    return 0;
}
