// Times whole saves, fsyncs included, in a folder on the disk under test:
//   kvendar_bench_save <folder> [repeats=41]
// Three kinds of save of a 15-value test, each into its own Data folder inside <folder>:
//   plain    - the two data files locked, appended and fsynced the way the transaction does it, but
//              with no journal and no answer log (a save before the journal existed, with today's
//              writeback hint, so that the ratio is the journal's alone);
//   journal  - the transaction as the program uses it, without an answer log;
//   answers  - the same with the test's 105 answers.
// Each figure is the median of the repeats after one unmeasured save; the kinds take turns, so a
// disk that slows down for a while slows all three alike.

#include "core/platform/Errors.h"
#include "core/storage/RecordFile.h"
#include "core/storage/SaveTransaction.h"
#include "core/storage/uvsDataBase.h"

#include "Measure.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QStringList>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

using namespace kv;

using kvbench::Median;
using kvbench::Ms;

namespace {

constexpr int kValues = 15;
constexpr int kAnswers = kValues * (kValues - 1) / 2;

TvsDBTestRec Test()
{
    TvsDBTestRec test;
    test.SetFio(QStringLiteral("Испытуемый"));
    test.SetAge(30);
    return test;
}

// The names are made once, outside the timed saves: the program has them at hand when it saves,
// and formatting them would only be this benchmark's own cost.
const std::vector<QString>& Names()
{
    static const std::vector<QString> names = [] {
        std::vector<QString> n;
        for (int i = 0; i < kValues; ++i)
            n.push_back(QStringLiteral("Ценность номер %1").arg(i));
        return n;
    }();
    return names;
}

TvsDBValueRec Value(const TvsDBTestRec& test, int i)
{
    TvsDBValueRec value;
    value.SetTestId(qint32(test.Id()));
    value.SetTypeNumber(quint8(1 + i % 4));
    value.SetScore(kValues - 1 - i);
    value.SetName(Names()[size_t(i)]);
    return value;
}

void PlainSave(const QString& dir)
{
    RecordFile tests(dir + QStringLiteral("/tests.dat"), TvsDBTestRec::kSize, kLockWaitMs);
    RecordFile values(dir + QStringLiteral("/values.dat"), TvsDBValueRec::kSize, kLockWaitMs);
    TvsDBTestRec test = Test();
    tests.Append(test.bytes.data());
    for (int i = 0; i < kValues; ++i) {
        TvsDBValueRec value = Value(test, i);
        values.Append(value.bytes.data());
    }
    tests.StartSync();
    values.StartSync();
    tests.Sync();
    values.Sync();
}

void JournalSave(const QString& dir, bool withAnswers)
{
    TvsDBSave save(dir);
    TvsDBTestRec test = Test();
    save.AppendTest(test);
    for (int i = 0; i < kValues; ++i) {
        TvsDBValueRec value = Value(test, i);
        save.AppendValue(value);
    }
    if (withAnswers) {
        // As the results window saves them: the whole log in one write.
        std::vector<TvsDBAnswerRec> answers(kAnswers);
        for (int q = 0; q < kAnswers; ++q) {
            TvsDBAnswerRec& answer = answers[size_t(q)];
            answer.SetTestId(test.Id());
            answer.SetQuestion(quint32(q + 1));
            answer.SetUpper(Names()[size_t(q % kValues)]);
            answer.SetLower(Names()[size_t((q + 1) % kValues)]);
            answer.SetChosen(quint8(1 + q % 2));
            answer.SetResponseMs(quint32(800 + q));
        }
        save.AppendAnswers(answers);
    }
    save.Commit();
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 2) {
        std::fprintf(stderr, "usage: kvendar_bench_save <folder> [repeats]\n");
        return 2;
    }
    const int repeats = args.size() > 2 ? std::max(1, args.at(2).toInt()) : 41;
    const QString kinds[3] = {QStringLiteral("plain"), QStringLiteral("journal"), QStringLiteral("answers")};
    QString dirs[3];
    for (int k = 0; k < 3; ++k) {
        dirs[k] = args.at(1) + u'/' + kinds[k];
        QDir(dirs[k]).removeRecursively();
        if (!QDir().mkpath(dirs[k])) {
            std::fprintf(stderr, "cannot make %s\n", qPrintable(dirs[k]));
            return 1;
        }
    }
    const std::function<void()> saves[3] = {[&] { PlainSave(dirs[0]); }, [&] { JournalSave(dirs[1], false); },
                                            [&] { JournalSave(dirs[2], true); }};
    std::vector<double> times[3];
    try {
        for (const auto& save : saves)
            save();
        for (int r = 0; r < repeats; ++r) {
            for (int k = 0; k < 3; ++k)
                times[k].push_back(Ms(saves[k]));
        }
    } catch (const Error& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    const double plain = Median(times[0]);
    const double journal = Median(times[1]);
    const double answers = Median(times[2]);
    std::printf("save, no journal, no answers (15 values)   %8.3f ms\n", plain);
    std::printf("save with journal, no answers              %8.3f ms  ratio to no journal %.2f\n", journal,
                journal / plain);
    std::printf("save with journal and 105 answers          %8.3f ms  ratio to no answers %.2f\n", answers,
                answers / journal);
    for (const QString& dir : dirs)
        QDir(dir).removeRecursively();
    return 0;
}
