// Times a merge of a smaller database into a large one against a plain copy of the source's files:
//   kvendar_bench_merge <folder made by kvendar_bench_gen> [repeats=5] [source tests=10000]
//                       [answers per source test=0]
// The source is made from the first tests of the folder, moved to other dates so that every one of
// them is new to the target, with as many answer records per test as asked (105 for 15 values). After each merge the
// target is cut back to its size before, so every repeat merges into the same 100,000 tests. Each figure is the median
// of the repeats, after one unmeasured run.

#include "core/exchange/Merge.h"

#include "PlainRead.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
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

double MedianMs(int repeats, const std::function<void()>& run, const std::function<void()>& after = {})
{
    std::vector<double> times;
    for (int i = 0; i <= repeats; ++i) {
        QElapsedTimer timer;
        timer.start();
        run();
        const double ms = double(timer.nsecsElapsed()) / 1e6;
        if (after)
            after();
        if (i > 0)
            times.push_back(ms);
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

// What any program pays to copy a file: read() and write() in 1 MB blocks, and with durable set an
// fsync of the copy, as a merge must make its writes durable too.
void PlainCopy(const QString& from, const QString& to, bool durable)
{
    const int in = ::open(QFile::encodeName(from).constData(), O_RDONLY);
    const int out = ::open(QFile::encodeName(to).constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (in < 0 || out < 0) {
        std::perror("copy");
        std::exit(1);
    }
    std::vector<char> block(1 << 20);
    ssize_t n;
    while ((n = ::read(in, block.data(), block.size())) > 0) {
        if (::write(out, block.data(), size_t(n)) != n) {
            std::perror("write");
            std::exit(1);
        }
    }
    if (durable)
        ::fsync(out);
    ::close(in);
    ::close(out);
}

void CutBack(const QString& fileName, qint64 size)
{
    if (::truncate(QFile::encodeName(fileName).constData(), size) != 0)
        std::perror("truncate");
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 2) {
        std::fprintf(stderr, "usage: kvendar_bench_merge <folder> [repeats] [source tests]\n");
        return 2;
    }
    const QString target = args.at(1);
    const int repeats = args.size() > 2 ? args.at(2).toInt() : 5;
    const int sourceCount = args.size() > 3 ? args.at(3).toInt() : 10000;
    const int answersPerTest = args.size() > 4 ? args.at(4).toInt() : 0;
    const QString targetTests = target + QStringLiteral("/tests.dat");
    const QString targetValues = target + QStringLiteral("/values.dat");
    const auto tests = ReadTests(targetTests);
    const auto values = ReadValues(targetValues);
    if (!tests || !values || tests->Count() < sourceCount) {
        std::fprintf(stderr, "run kvendar_bench_gen first\n");
        return 1;
    }

    // The source: the first tests with their values, dated a hundred years on.
    QTemporaryDir sourceDir;
    const QString source = sourceDir.path();
    {
        QByteArray t;
        QByteArray v;
        const quint32 lastId = tests->Items(sourceCount - 1).Id();
        for (int i = 0; i < sourceCount; ++i) {
            TvsDBTestRec rec = tests->Items(i);
            rec.SetDate(rec.Date() + 36525);
            t.append(rec.bytes.data(), TvsDBTestRec::kSize);
        }
        for (int i = 0; i < values->Count() && quint32(values->Items(i).TestId()) <= lastId; ++i)
            v.append(values->Items(i).bytes.data(), TvsDBValueRec::kSize);
        QByteArray a;
        quint32 answerId = 0;
        for (int i = 0; i < sourceCount; ++i) {
            for (int q = 1; q <= answersPerTest; ++q) {
                TvsDBAnswerRec rec;
                rec.SetId(++answerId);
                rec.SetTestId(tests->Items(i).Id());
                rec.SetQuestion(quint32(q));
                rec.SetUpperGroup(1);
                rec.SetUpper(QStringLiteral("Ценность номер %1").arg(q % 15 + 1));
                rec.SetLowerGroup(2);
                rec.SetLower(QStringLiteral("Ценность номер %1").arg((q + 7) % 15 + 1));
                rec.SetChosen(quint8(1 + q % 2));
                rec.SetResponseMs(quint32(800 + q));
                a.append(rec.bytes.data(), TvsDBAnswerRec::kSize);
            }
        }
        QFile ft(source + QStringLiteral("/tests.dat"));
        QFile fv(source + QStringLiteral("/values.dat"));
        QFile fa(source + QStringLiteral("/answers.dat"));
        if (!ft.open(QIODevice::WriteOnly) || ft.write(t) != t.size() || !fv.open(QIODevice::WriteOnly) ||
            fv.write(v) != v.size() || !fa.open(QIODevice::WriteOnly) || fa.write(a) != a.size()) {
            std::fprintf(stderr, "cannot write the source\n");
            return 1;
        }
    }
    QStringList sourceFiles = {source + QStringLiteral("/tests.dat"), source + QStringLiteral("/values.dat")};
    if (answersPerTest > 0)
        sourceFiles << source + QStringLiteral("/answers.dat");
    qint64 sourceBytes = 0;
    for (const QString& f : sourceFiles)
        sourceBytes += QFileInfo(f).size();

    const QString targetAnswers = target + QStringLiteral("/answers.dat");
    const qint64 testsSize = QFileInfo(targetTests).size();
    const qint64 valuesSize = QFileInfo(targetValues).size();
    const qint64 answersSize = QFileInfo(targetAnswers).size();
    auto cutBack = [&] {
        CutBack(targetTests, testsSize);
        CutBack(targetValues, valuesSize);
        if (QFileInfo::exists(targetAnswers))
            CutBack(targetAnswers, answersSize);
    };

    QTemporaryDir copyDir;
    auto copy = [&](bool durable) {
        return [&, durable] {
            for (const QString& f : sourceFiles)
                PlainCopy(f, copyDir.filePath(QFileInfo(f).fileName()), durable);
        };
    };
    for (const QString& f : sourceFiles)
        kvbench::PlainRead(f);
    kvbench::PlainRead(targetTests);

    const double copyDurable = MedianMs(repeats, copy(true));
    const double copyCached = MedianMs(repeats, copy(false));
    MergeResult result;
    const double merge = MedianMs(
        repeats, [&] { result = MergeDataFolders(source, target); }, cutBack);
    const qint64 added = result.added;
    // The same source once it is in: every test a repeat, so the target's values are read too.
    result = MergeDataFolders(source, target);
    const double again = MedianMs(repeats, [&] { result = MergeDataFolders(source, target); });
    const qint64 skipped = result.skipped;
    cutBack();

    std::printf("target %d tests, source %d tests, %d answers each (%lld bytes), median of %d runs\n", tests->Count(),
                sourceCount, answersPerTest, sourceBytes, repeats);
    std::printf("plain copy of the source, fsync'd  %9.2f ms\n", copyDurable);
    std::printf("plain copy of the source, cached   %9.2f ms\n", copyCached);
    std::printf("merge, %lld new tests             %9.2f ms  ratio %.2f to the fsync'd copy, %.2f to the cached\n",
                added, merge, merge / copyDurable, merge / copyCached);
    std::printf("merge again, %lld repeats         %9.2f ms  ratio %.2f to the fsync'd copy\n", skipped, again,
                again / copyDurable);
    return 0;
}
