// Times the consistency of every test of a database against a plain sequential read of values.dat:
//   kvendar_bench_consistency <folder made by kvendar_bench_gen> [repeats=7]
// values.dat is read into memory once beforehand; the measured span is ConsistencyOfEveryTest over
// those records on two threads: it walks them, gathers each test's stored scores (a save writes them
// together, so a test's records are consecutive) and computes its circular triads, coefficient of
// consistence and chance at random. The same on one thread, and its two halves (the walk that
// gathers the scores, the computation over scores gathered beforehand), follow. Each figure is the
// median of the repeats after one unmeasured run.

#include "core/analysis/Consistency.h"
#include "core/storage/uvsDataBase.h"

#include "PlainRead.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QStringList>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <span>
#include <vector>

using namespace kv;

namespace {

double g_firstMs = 0;

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

struct Totals
{
    qint64 tests = 0, valid = 0, triads = 0;
};

volatile double g_sink;

// As a caller that makes the pass again and again keeps its result list.
std::vector<TvsTestConsistency> g_all;

Totals ConsistencyOfAll(const TvsDBValueList& values, int threads)
{
    std::vector<TvsTestConsistency>& all = g_all;
    ConsistencyOfEveryTest(values, all, threads);
    Totals totals;
    double pSum = 0;
    for (const TvsTestConsistency& c : all) {
        ++totals.tests;
        totals.valid += c.Valid;
        totals.triads += c.Triads;
        pSum += c.PRandom;
    }
    g_sink = pSum;
    return totals;
}

// The two halves of the span on their own: the walk that gathers the scores, and the computation
// over scores gathered beforehand.
struct Gathered
{
    std::vector<qint64> scores;
    std::vector<std::size_t> starts; // where each test's scores begin; one more at the end
};

Gathered Gather(const TvsDBValueList& values)
{
    Gathered g;
    g.scores.reserve(std::size_t(values.Count()));
    qint32 current = 0;
    for (int i = 0; i < values.Count(); ++i) {
        const TvsDBValueRec& rec = values.Items(i);
        if (rec.TestId() != current || g.starts.empty()) {
            current = rec.TestId();
            g.starts.push_back(g.scores.size());
        }
        g.scores.push_back(rec.Score());
    }
    g.starts.push_back(g.scores.size());
    return g;
}

void ComputeGathered(const Gathered& g)
{
    double sum = 0;
    for (std::size_t t = 0; t + 1 < g.starts.size(); ++t)
        sum += ConsistencyFromScores(std::span(g.scores).subspan(g.starts[t], g.starts[t + 1] - g.starts[t])).PRandom;
    g_sink = sum;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 2) {
        std::fprintf(stderr, "usage: kvendar_bench_consistency <folder> [repeats]\n");
        return 2;
    }
    const QString valuesFile = args.at(1) + QStringLiteral("/values.dat");
    const int repeats = args.size() > 2 ? std::max(1, args.at(2).toInt()) : 7;

    const std::unique_ptr<TvsDBValueList> values = ReadValues(valuesFile);
    if (!values) {
        std::fprintf(stderr, "cannot read %s\n", qPrintable(valuesFile));
        return 1;
    }
    const double plainMs = MedianMs(repeats, [&] { kvbench::PlainRead(valuesFile); });
    Totals totals;
    const double consistencyMs = MedianMs(repeats, [&] { totals = ConsistencyOfAll(*values, 2); });
    const double firstMs = g_firstMs;
    const double oneThreadMs = MedianMs(repeats, [&] { ConsistencyOfAll(*values, 1); });
    Gathered gathered;
    const double gatherMs = MedianMs(repeats, [&] { gathered = Gather(*values); });
    const double computeMs = MedianMs(repeats, [&] { ComputeGathered(gathered); });
    std::printf("values.dat: %d records of %lld tests, %lld with a valid comparison, %lld circular triads\n",
                values->Count(), totals.tests, totals.valid, totals.triads);
    std::printf("plain read values.dat        %8.2f ms\n", plainMs);
    std::printf("consistency of every test    %8.2f ms = %.2f x plain read (its unmeasured first run %.2f ms)\n",
                consistencyMs, consistencyMs / plainMs, firstMs);
    std::printf("  the same on one thread     %8.2f ms = %.2f\n", oneThreadMs, oneThreadMs / plainMs);
    std::printf("  one thread gathering alone %8.2f ms = %.2f\n", gatherMs, gatherMs / plainMs);
    std::printf("  one thread computing alone %8.2f ms = %.2f\n", computeMs, computeMs / plainMs);
    return 0;
}
