// Merging one data folder into another: numbering and remapping, repeats, the same source twice,
// torn tails, unusable folders, and merges that fail for real (a file-size limit, a full disk, a
// lock held by another process, a cancel) leaving the target byte for byte as it was.

#include "core/exchange/Merge.h"

#include "core/storage/DurableIo.h"
#include "core/storage/Journal.h"
#include "core/storage/SaveTransaction.h"
#include "core/storage/uvsDataBase.h"
#include "support/DbFiles.h"
#include "support/ForeignLock.h"
#include "tool/Commands.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QTextStream>

#include <csignal>
#include <cstring>
#include <functional>

#include <sys/wait.h>

#include <sched.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <unistd.h>

using namespace kv;
using namespace Qt::StringLiterals;

namespace {

// One test as the fixtures describe it; values are (group, wins, name).
struct Value
{
    int group;
    int score;
    QString name;
};
struct Test
{
    quint32 id;
    QString fio;
    double date;
    QList<Value> values;
    int age = 30;
};

TvsDBTestRec TestRecord(const Test& t)
{
    TvsDBTestRec r;
    r.SetId(t.id);
    r.SetFio(t.fio);
    r.SetDate(t.date);
    r.SetAge(t.age);
    r.SetSex(2);
    r.SetSocial(QStringLiteral("Холост"));
    r.SetMaterialLevel(QStringLiteral("Средний"));
    for (const Value& v : t.values)
        r.SetTypeScore(v.group, r.TypeScore(v.group) + v.score);
    return r;
}

QByteArray Bytes(const TvsDBTestRec& r)
{
    return QByteArray(r.bytes.data(), TvsDBTestRec::kSize);
}
QByteArray Bytes(const TvsDBValueRec& r)
{
    return QByteArray(r.bytes.data(), TvsDBValueRec::kSize);
}

void WriteFile(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(bytes) != bytes.size())
        qFatal("cannot write %s", qPrintable(path));
}

// A data folder written as the program would have written these tests, value records numbered from
// firstValueId over the whole file.
struct Folder
{
    QTemporaryDir dir;
    QString path() const { return dir.path(); }
    QString tests() const { return dir.filePath(QStringLiteral("tests.dat")); }
    QString values() const { return dir.filePath(QStringLiteral("values.dat")); }

    void Write(const QList<Test>& tests, qint32 firstValueId = 1, const QByteArray& testsTail = {},
               const QByteArray& valuesTail = {}) const
    {
        QByteArray t;
        QByteArray v;
        qint32 valueId = firstValueId;
        for (const Test& test : tests) {
            t += Bytes(TestRecord(test));
            for (const Value& value : test.values) {
                TvsDBValueRec r;
                r.SetId(valueId++);
                r.SetTestId(qint32(test.id));
                r.SetTypeNumber(quint8(value.group));
                r.SetScore(value.score);
                r.SetName(value.name);
                v += Bytes(r);
            }
        }
        WriteFile(this->tests(), t + testsTail);
        WriteFile(this->values(), v + valuesTail);
    }
    QString answers() const { return dir.filePath(QStringLiteral("answers.dat")); }
    // The three files' bytes and whether a write is under way, to see that nothing changed. A file
    // that is not there reads as an empty one, to every reader; a writer's locking makes the empty
    // file, which then stays.
    QByteArray Snapshot() const
    {
        QByteArray all;
        for (const char* name : {"tests.dat", "values.dat", "answers.dat"}) {
            QFile f(dir.filePath(QLatin1StringView(name)));
            all += QByteArray(name) + ':' + (f.open(QIODevice::ReadOnly) ? f.readAll().toHex() : QByteArray()) + '|';
        }
        // The journal file stays once made; what counts is whether it holds a write under way.
        QFile journal(JournalFileName(path()));
        return all + (journal.open(QIODevice::ReadOnly) && JournalHoldsWrite(journal.readAll()) ? "journal" : "");
    }
    // answers.dat with count answers per test of these numbers, numbered from firstId.
    void WriteAnswers(const QList<quint32>& testIds, int count, quint32 firstId = 1) const
    {
        QByteArray bytes;
        quint32 id = firstId;
        for (quint32 testId : testIds)
            for (int q = 1; q <= count; ++q)
                bytes += AnswerBytes(id++, testId, quint32(q));
        WriteFile(answers(), bytes);
    }
    static QByteArray AnswerBytes(quint32 id, quint32 testId, quint32 question)
    {
        TvsDBAnswerRec r;
        r.SetId(id);
        r.SetTestId(testId);
        r.SetQuestion(question);
        r.SetUpperGroup(1);
        r.SetUpper(QStringLiteral("Вера %1").arg(testId));
        r.SetLowerGroup(3);
        r.SetLower(QStringLiteral("Любовь"));
        r.SetChosen(quint8(1 + question % 2));
        r.SetResponseMs(1000 + question);
        return QByteArray(r.bytes.data(), TvsDBAnswerRec::kSize);
    }
};

const double kMonday = 45356.5; // 2024-03-05 12:00

QList<Value> ThreeValues(const QString& suffix = QString())
{
    return {{2, 2, QStringLiteral("Свобода") + suffix},
            {2, 1, QStringLiteral("Дружба")},
            {4, 0, QStringLiteral("Здоровье")}};
}

int RunTool(const QStringList& args, QString& out, QString& err)
{
    QTextStream o(&out);
    QTextStream e(&err);
    return RunMerge(args, o, e);
}

} // namespace

class TestMerge : public QObject
{
    Q_OBJECT

private slots:
    void numberingContinuesAndValuesFollow();
    void manyTestsInSeveralRuns();
    void repeats_data();
    void repeats();
    void sameSourceTwiceAddsNothing();
    void tornTailsInSourceAndTarget();
    void intoAMissingFolder();
    void unusableFolders_data();
    void unusableFolders();
    void theToolMergesAndSurvivesASizeLimit();
    void toolArguments_data();
    void toolArguments();
    void cancelAtEveryStepLeavesTarget();
    void sizeLimitLeavesTarget_data();
    void sizeLimitLeavesTarget();
    void fullDiskLeavesTarget_data();
    void fullDiskLeavesTarget();
    void answersFollowTheirTest();
    void journalInTheSourceIsHonoured_data();
    void journalInTheSourceIsHonoured();
    void crashAtEveryStepOfAMerge();
    void respondentsDifferingInOneFieldBothArrive_data();
    void respondentsDifferingInOneFieldBothArrive();
    void numbersGoOnAfterTheLargest_data();
    void numbersGoOnAfterTheLargest();
};

void TestMerge::numberingContinuesAndValuesFollow()
{
    Folder target;
    // The target's last test is number 7 and its last value 20, whatever comes before them.
    target.Write(
        {{3, QStringLiteral("Анна"), kMonday, ThreeValues()}, {7, QStringLiteral("Борис"), kMonday + 1, ThreeValues()}},
        15);
    Folder source;
    // Source numbers clash with the target's; a value of no test is not carried over.
    QByteArray t = Bytes(TestRecord({1, QStringLiteral("Вера, \"В.\""), kMonday + 2, {}}));
    t += Bytes(TestRecord({2, QStringLiteral("Глеб"), kMonday + 3, {}}));
    auto value = [](qint32 id, qint32 testId, int group, int score, const QString& name) {
        TvsDBValueRec r;
        r.SetId(id);
        r.SetTestId(testId);
        r.SetTypeNumber(quint8(group));
        r.SetScore(score);
        r.SetName(name);
        return Bytes(r);
    };
    // Values of test 2 come first and those of test 1 are split: remapping goes by test number.
    const QByteArray v = value(1, 2, 3, 5, QStringLiteral("Работа")) + value(2, 1, 1, 2, QStringLiteral("Вера")) +
                         value(3, 9, 1, 1, QStringLiteral("ничья")) + value(4, 1, 2, 0, QStringLiteral("Семья"));
    WriteFile(source.tests(), t);
    WriteFile(source.values(), v);
    const QByteArray sourceBefore = source.Snapshot();
    const QByteArray targetTestsBefore = kvtest::ReadFile(target.tests());
    const QByteArray targetValuesBefore = kvtest::ReadFile(target.values());

    QList<std::pair<qint64, qint64>> calls;
    const MergeResult r = MergeDataFolders(source.path(), target.path(), [&](qint64 done, qint64 total) {
        calls.append({done, total});
        return true;
    });
    QCOMPARE(r.added, 2);
    QCOMPARE(r.skipped, 0);
    QCOMPARE(MergeReport(r), QStringLiteral("Добавлено тестов: 2, пропущено повторов: 0"));
    QCOMPARE(calls.last(), std::make_pair(qint64(2), qint64(2)));
    QCOMPARE(source.Snapshot(), sourceBefore);

    // What was there stays in front, untouched.
    const QByteArray tests = kvtest::ReadFile(target.tests());
    const QByteArray values = kvtest::ReadFile(target.values());
    QVERIFY(tests.startsWith(targetTestsBefore));
    QVERIFY(values.startsWith(targetValuesBefore));
    const auto list = ReadTests(target.tests());
    QCOMPARE(list->Count(), 4);
    QCOMPARE(list->Items(2).Id(), 8u);
    QCOMPARE(list->Items(3).Id(), 9u);
    // A new test is the source's record with the target's next number, nothing else changed.
    TvsDBTestRec expected = TestRecord({8, QStringLiteral("Вера, \"В.\""), kMonday + 2, {}});
    QCOMPARE(Bytes(list->Items(2)).toHex(), Bytes(expected).toHex());

    const auto vals = ReadValues(target.values());
    QCOMPARE(vals->Count(), 6 + 3);
    struct Want
    {
        qint32 id;
        qint32 testId;
        QString name;
    };
    // Test 1 (now 8) first with its values in source file order, then test 2 (now 9).
    const QList<Want> want = {
        {21, 8, QStringLiteral("Вера")}, {22, 8, QStringLiteral("Семья")}, {23, 9, QStringLiteral("Работа")}};
    for (int i = 0; i < want.size(); ++i) {
        const TvsDBValueRec& got = vals->Items(6 + i);
        QCOMPARE(got.Id(), want[i].id);
        QCOMPARE(got.TestId(), want[i].testId);
        QCOMPARE(got.Name(), want[i].name);
    }
    QCOMPARE(int(vals->Items(8).TypeNumber()), 3);
    QCOMPARE(vals->Items(8).Score(), 5);
}

void TestMerge::manyTestsInSeveralRuns()
{
    // More tests than one write takes, so the runs must join without a gap or a repeat.
    Folder target;
    target.Write({{1, QStringLiteral("Первый"), kMonday, ThreeValues()}});
    Folder source;
    QList<Test> tests;
    for (quint32 i = 1; i <= 5000; ++i)
        tests.append({i,
                      QStringLiteral("Испытуемый %1").arg(i),
                      kMonday + i / 100.0,
                      {{1, int(i % 7), QStringLiteral("Ценность")}, {3, 1, QStringLiteral("Другая %1").arg(i)}}});
    source.Write(tests);

    const MergeResult r = MergeDataFolders(source.path(), target.path());
    QCOMPARE(r.added, 5000);
    const auto list = ReadTests(target.tests());
    const auto vals = ReadValues(target.values());
    QCOMPARE(list->Count(), 5001);
    QCOMPARE(vals->Count(), 3 + 10000);
    for (int i = 1; i <= 5000; ++i) {
        QCOMPARE(list->Items(i).Id(), quint32(i + 1));
        QCOMPARE(list->Items(i).Fio(), QStringLiteral("Испытуемый %1").arg(i));
        for (int j = 0; j < 2; ++j) {
            const TvsDBValueRec& v = vals->Items(3 + 2 * (i - 1) + j);
            QCOMPARE(v.Id(), 3 + 2 * (i - 1) + j + 1);
            QCOMPARE(v.TestId(), i + 1);
        }
        QCOMPARE(vals->Items(3 + 2 * (i - 1) + 1).Name(), QStringLiteral("Другая %1").arg(i));
    }
}

void TestMerge::repeats_data()
{
    // The target holds one test; the source holds one that differs from it as the row says.
    QTest::addColumn<QString>("fio");
    QTest::addColumn<double>("date");
    QTest::addColumn<QList<Value>>("values");
    QTest::addColumn<int>("age");
    QTest::addColumn<bool>("repeat");
    const QString fio = QStringLiteral("Анна");
    const QList<Value> same = ThreeValues();
    const double ms = 1.0 / 86400000.0;
    QTest::newRow("identical") << fio << kMonday << same << 30 << true;
    QTest::newRow("other name") << QStringLiteral("Анна ") << kMonday << same << 30 << false;
    QTest::newRow("a millisecond later") << fio << kMonday + ms << same << 30 << false;
    QTest::newRow("a tenth of a millisecond later") << fio << kMonday + ms / 10 << same << 30 << true;
    QTest::newRow("values in another order") << fio << kMonday << QList<Value>{same[2], same[0], same[1]} << 30 << true;
    QTest::newRow("a value with another name") << fio << kMonday << ThreeValues(QStringLiteral("!")) << 30 << false;
    QTest::newRow("a value won more, totals the same")
        << fio << kMonday << QList<Value>{{2, 3, same[0].name}, {2, 0, same[1].name}, same[2]} << 30 << false;
    QTest::newRow("a value in another group")
        << fio << kMonday << QList<Value>{{2, 2, same[0].name}, {2, 1, same[1].name}, {3, 0, same[2].name}} << 30
        << false;
    QTest::newRow("one value more") << fio << kMonday << same + QList<Value>{{1, 0, QStringLiteral("Вера")}} << 30
                                    << false;
    QTest::newRow("no values") << fio << kMonday << QList<Value>{} << 30 << false;
    // Identity is every stored field: another age is another respondent.
    QTest::newRow("another age") << fio << kMonday << same << 31 << false;
}

void TestMerge::repeats()
{
    QFETCH(QString, fio);
    QFETCH(double, date);
    QFETCH(QList<Value>, values);
    QFETCH(int, age);
    QFETCH(bool, repeat);
    Folder target;
    target.Write({{1, QStringLiteral("Анна"), kMonday, ThreeValues()}});
    Folder source;
    Test test{5, fio, date, values, age};
    source.Write({test});
    const QByteArray before = target.Snapshot();

    const MergeResult r = MergeDataFolders(source.path(), target.path());
    QCOMPARE(r.added, repeat ? 0 : 1);
    QCOMPARE(r.skipped, repeat ? 1 : 0);
    if (repeat)
        QCOMPARE(target.Snapshot(), before);
    else
        QCOMPARE(ReadTests(target.tests())->Count(), 2);
}

void TestMerge::sameSourceTwiceAddsNothing()
{
    Folder target;
    target.Write({{1, QStringLiteral("Анна"), kMonday, ThreeValues()}});
    Folder source;
    // The source repeats one of its own tests (3 is 1 again) and holds the target's test too.
    source.Write({{1, QStringLiteral("Борис"), kMonday + 1, ThreeValues()},
                  {2, QStringLiteral("Анна"), kMonday, ThreeValues()},
                  {3, QStringLiteral("Борис"), kMonday + 1, ThreeValues()},
                  {4, QStringLiteral("Вера"), kMonday + 2, ThreeValues(QStringLiteral("?"))}});

    MergeResult r = MergeDataFolders(source.path(), target.path());
    QCOMPARE(MergeReport(r), QStringLiteral("Добавлено тестов: 2, пропущено повторов: 2"));
    const QByteArray afterFirst = target.Snapshot();
    const auto list = ReadTests(target.tests());
    QCOMPARE(list->Count(), 3);
    QCOMPARE(list->Items(1).Fio(), QStringLiteral("Борис"));
    QCOMPARE(list->Items(2).Fio(), QStringLiteral("Вера"));

    r = MergeDataFolders(source.path(), target.path());
    QCOMPARE(MergeReport(r), QStringLiteral("Добавлено тестов: 0, пропущено повторов: 4"));
    QCOMPARE(target.Snapshot(), afterFirst);

    // And the target merged back into the source brings nothing new there either.
    r = MergeDataFolders(target.path(), source.path());
    QCOMPARE(r.added, 0);
    QCOMPARE(r.skipped, 3);
}

void TestMerge::tornTailsInSourceAndTarget()
{
    // The source lost power in the middle of a record of each file; the target too.
    Folder source;
    source.Write(
        {{1, QStringLiteral("Анна"), kMonday, ThreeValues()}, {2, QStringLiteral("Борис"), kMonday + 1, ThreeValues()}},
        1, QByteArray(300, 't'), QByteArray(50, 'v'));
    Folder target;
    target.Write({{1, QStringLiteral("Вера"), kMonday + 2, ThreeValues()}}, 1, QByteArray(100, 'x'),
                 QByteArray(10, 'y'));
    const QByteArray sourceBefore = source.Snapshot();

    const MergeResult r = MergeDataFolders(source.path(), target.path());
    QCOMPARE(r.added, 2);
    QCOMPARE(source.Snapshot(), sourceBefore);
    // Whole records only were taken, and they went over the target's torn tail, not after it.
    QCOMPARE(QFileInfo(target.tests()).size(), 3 * TvsDBTestRec::kSize);
    QCOMPARE(QFileInfo(target.values()).size(), 9 * TvsDBValueRec::kSize);
    const auto list = ReadTests(target.tests());
    QCOMPARE(list->Items(2).Id(), 3u);
    QCOMPARE(list->Items(2).Fio(), QStringLiteral("Борис"));
    const auto vals = ReadValues(target.values());
    QCOMPARE(vals->Items(8).Id(), 9);
    QCOMPARE(vals->Items(8).TestId(), 3);
}

void TestMerge::intoAMissingFolder()
{
    Folder source;
    source.Write({{1, QStringLiteral("Анна"), kMonday, ThreeValues()}});
    QTemporaryDir parent;
    const QString data = parent.filePath(QStringLiteral("Data"));
    const MergeResult r = MergeDataFolders(source.path(), data);
    QCOMPARE(r.added, 1);
    // A copy that starts a new database is numbered from 1 like any first save.
    QCOMPARE(kvtest::ReadFile(data + QStringLiteral("/tests.dat")), kvtest::ReadFile(source.tests()));
    QCOMPARE(kvtest::ReadFile(data + QStringLiteral("/values.dat")), kvtest::ReadFile(source.values()));
}

void TestMerge::unusableFolders_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("message");
    QTest::newRow("no source folder") << QStringLiteral("missing") << QStringLiteral("Папка не найдена");
    QTest::newRow("no tests.dat in the source")
        << QStringLiteral("empty") << QStringLiteral("нет базы данных (tests.dat)");
    QTest::newRow("source is the target") << QStringLiteral("same") << QStringLiteral("совпадают");
    QTest::newRow("target cannot be made")
        << QStringLiteral("file as target") << QStringLiteral("Невозможно создать папку");
}

void TestMerge::unusableFolders()
{
    QFETCH(QString, kind);
    QFETCH(QString, message);
    Folder target;
    target.Write({{1, QStringLiteral("Анна"), kMonday, ThreeValues()}});
    Folder source;
    source.Write({{1, QStringLiteral("Борис"), kMonday, ThreeValues()}});
    QString from = source.path();
    QString to = target.path();
    if (kind == QStringLiteral("missing"))
        from = source.dir.filePath(QStringLiteral("нет такой"));
    if (kind == QStringLiteral("empty"))
        QVERIFY(QFile::remove(source.tests()));
    if (kind == QStringLiteral("same"))
        from = target.path() + QStringLiteral("/./");
    if (kind == QStringLiteral("file as target"))
        to = target.tests();
    const QByteArray before = target.Snapshot();
    try {
        MergeDataFolders(from, to);
        QFAIL("the merge went ahead");
    } catch (const MergeFolderError& e) {
        QVERIFY2(e.message().contains(message), qPrintable(e.message()));
    }
    QCOMPARE(target.Snapshot(), before);
}

void TestMerge::toolArguments_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("out");
    QTest::addColumn<QString>("err");
    // SOURCE and TARGET stand for the two fixture folders.
    QTest::newRow("merged") << QStringList{QStringLiteral("SOURCE"), QStringLiteral("TARGET")} << 0
                            << QStringLiteral("Добавлено тестов: 1, пропущено повторов: 0\n") << QString();
    QTest::newRow("help") << QStringList{QStringLiteral("--help")} << 0
                          << QStringLiteral("Использование: kvendar-data merge") << QString();
    QTest::newRow("one folder") << QStringList{QStringLiteral("SOURCE")} << 2 << QString()
                                << QStringLiteral("нужны две папки");
    QTest::newRow("three folders") << QStringList{QStringLiteral("SOURCE"), QStringLiteral("TARGET"),
                                                  QStringLiteral("TARGET")}
                                   << 2 << QString() << QStringLiteral("нужны две папки");
    QTest::newRow("no such source") << QStringList{QStringLiteral("/nonexistent/kvendar"), QStringLiteral("TARGET")}
                                    << 2 << QString() << QStringLiteral("Папка не найдена: /nonexistent/kvendar");
    QTest::newRow("target locked") << QStringList{QStringLiteral("SOURCE"), QStringLiteral("TARGET"),
                                                  QStringLiteral("LOCK")}
                                   << 1 << QString()
                                   << QStringLiteral("Тесты не добавлены: база данных занята другой программой");
    QTest::newRow("source locked") << QStringList{QStringLiteral("SOURCE"), QStringLiteral("TARGET"),
                                                  QStringLiteral("LOCKSOURCE")}
                                   << 1 << QString() << QStringLiteral("tests.dat: файл занят другой программой");
}

void TestMerge::toolArguments()
{
    QFETCH(QStringList, args);
    QFETCH(int, status);
    QFETCH(QString, out);
    QFETCH(QString, err);
    Folder target;
    target.Write({{1, QStringLiteral("Анна"), kMonday, ThreeValues()}});
    Folder source;
    source.Write({{1, QStringLiteral("Борис"), kMonday, ThreeValues()}});
    std::unique_ptr<kvtest::ForeignLock> lock;
    if (args.removeAll(QStringLiteral("LOCK")) > 0)
        lock = std::make_unique<kvtest::ForeignLock>(target.values());
    if (args.removeAll(QStringLiteral("LOCKSOURCE")) > 0)
        lock = std::make_unique<kvtest::ForeignLock>(source.tests());
    if (lock)
        QVERIFY(lock->locked());
    args.replaceInStrings(QStringLiteral("SOURCE"), source.path());
    args.replaceInStrings(QStringLiteral("TARGET"), target.path());
    const QByteArray before = target.Snapshot();
    QString gotOut;
    QString gotErr;
    QCOMPARE(RunTool(args, gotOut, gotErr), status);
    if (out.isEmpty())
        QCOMPARE(gotOut, QString());
    QVERIFY2(gotOut.startsWith(out), qPrintable(gotOut));
    QVERIFY2(gotErr.contains(err), qPrintable(gotErr));
    if (status != 0)
        QCOMPARE(target.Snapshot(), before);
}

void TestMerge::cancelAtEveryStepLeavesTarget()
{
    Folder target;
    target.Write({{1, QStringLiteral("Анна"), kMonday, ThreeValues()}}, 1, QByteArray(20, 'x'));
    Folder source;
    QList<Test> tests;
    for (quint32 i = 1; i <= 3000; ++i)
        tests.append({i, QStringLiteral("Испытуемый %1").arg(i), kMonday + i, ThreeValues()});
    source.Write(tests);
    const QByteArray before = target.Snapshot();

    // Count the progress calls of a merge that runs through, on a copy of the target.
    Folder copy;
    WriteFile(copy.tests(), kvtest::ReadFile(target.tests()));
    WriteFile(copy.values(), kvtest::ReadFile(target.values()));
    int calls = 0;
    MergeDataFolders(source.path(), copy.path(), [&](qint64, qint64) {
        ++calls;
        return true;
    });
    // Reading, the target's tests, the count, two runs of writes and the last one before commit.
    QVERIFY2(calls >= 6, qPrintable(QString::number(calls)));

    for (int stop = 1; stop <= calls; ++stop) {
        int call = 0;
        try {
            MergeDataFolders(source.path(), target.path(), [&](qint64, qint64) { return ++call < stop; });
            QFAIL(qPrintable(QStringLiteral("cancel at call %1 went unnoticed").arg(stop)));
        } catch (const MergeCancelled& e) {
            QCOMPARE(e.message(), QStringLiteral("Импорт отменен: база данных не изменена."));
        }
        QCOMPARE(call, stop);
        QVERIFY2(target.Snapshot() == before,
                 qPrintable(QStringLiteral("changed after a cancel at call %1").arg(stop)));
    }
}

// A target whose values.dat is far larger than its tests.dat, so that one size limit (it binds every
// file alike) can be aimed into either file, and a source of 3000 tests of three values: two runs.
struct FaultFixture
{
    Folder target;
    Folder source;
    FaultFixture()
    {
        QList<Value> many;
        for (int i = 0; i < 20000; ++i)
            many.append({1 + i % 4, i % 5, QStringLiteral("Ранняя %1").arg(i)});
        target.Write({{1, QStringLiteral("Ранний"), kMonday - 1, many}}, 1, QByteArray(20, 'x'));
        QList<Test> tests;
        for (quint32 i = 1; i <= 3000; ++i)
            tests.append({i, QStringLiteral("Испытуемый %1").arg(i), kMonday + i, ThreeValues()});
        source.Write(tests);
    }
};

void TestMerge::theToolMergesAndSurvivesASizeLimit()
{
    FaultFixture f;
    const QByteArray before = f.target.Snapshot();
    const QString tool = QStringLiteral(KVENDAR_BIN_DIR "/kvendar-data");
    const qint64 limit = QFileInfo(f.target.tests()).size() + 5 * TvsDBTestRec::kSize;
    QProcess limited;
    // The limit, and the signal's default action (a kill), in the tool's process only.
    limited.setChildProcessModifier([limit] {
        std::signal(SIGXFSZ, SIG_DFL);
        const rlimit lim{rlim_t(limit), rlim_t(limit)};
        ::setrlimit(RLIMIT_FSIZE, &lim);
    });
    limited.start(tool, {QStringLiteral("merge"), f.source.path(), f.target.path()});
    QVERIFY(limited.waitForFinished(60000));
    QCOMPARE(limited.exitStatus(), QProcess::NormalExit);
    QCOMPARE(limited.exitCode(), 1);
    const QString message = QString::fromUtf8(limited.readAllStandardError());
    QVERIFY2(message.contains(QStringLiteral("Тесты не добавлены: файл достиг предельного размера")),
             qPrintable(message));
    QCOMPARE(f.target.Snapshot(), before);

    QProcess plain;
    plain.start(tool, {QStringLiteral("merge"), f.source.path(), f.target.path()});
    QVERIFY(plain.waitForFinished(60000));
    QCOMPARE(plain.exitCode(), 0);
    QCOMPARE(QString::fromUtf8(plain.readAllStandardOutput()),
             QStringLiteral("Добавлено тестов: 3000, пропущено повторов: 0\n"));
}

void TestMerge::sizeLimitLeavesTarget_data()
{
    // How far past its present size the named file may grow before a write fails.
    // testsFirst: how many tests are written before the cut comes.
    QTest::addColumn<QString>("file");
    QTest::addColumn<qint64>("room");
    QTest::addColumn<int>("testsFirst");
    QTest::newRow("first run of tests cut")
        << QStringLiteral("tests.dat") << qint64(TvsDBTestRec::kSize * 10 + 50) << 0;
    QTest::newRow("first run of values cut")
        << QStringLiteral("values.dat") << qint64(TvsDBValueRec::kSize * 100 + 7) << 2048;
    QTest::newRow("second run of values cut")
        << QStringLiteral("values.dat") << qint64(TvsDBValueRec::kSize * 3 * 2048 + 500) << 3000;
}

void TestMerge::sizeLimitLeavesTarget()
{
    QFETCH(QString, file);
    QFETCH(qint64, room);
    QFETCH(int, testsFirst);
    FaultFixture f;
    const qint64 limit = QFileInfo(f.target.dir.filePath(file)).size() + room;
    // tests.dat must get through what it writes before the cut.
    QVERIFY(limit > QFileInfo(f.target.tests()).size() + testsFirst * TvsDBTestRec::kSize);
    const QByteArray before = f.target.Snapshot();

    const kvtest::ChildResult r = kvtest::RunInChild([&](QString& message) {
        std::signal(SIGXFSZ, SIG_IGN);
        const rlimit lim{rlim_t(limit), rlim_t(limit)};
        if (::setrlimit(RLIMIT_FSIZE, &lim) != 0)
            return 2;
        try {
            MergeDataFolders(f.source.path(), f.target.path());
        } catch (const Error& e) {
            message = e.message();
            return 0;
        }
        return 1;
    });
    QCOMPARE(r.exitCode, 0);
    QVERIFY2(r.message.startsWith(QStringLiteral("Тесты не добавлены: файл достиг предельного размера")),
             qPrintable(r.message));
    QVERIFY2(r.message.contains(file), qPrintable(r.message));
    QCOMPARE(f.target.Snapshot().toHex(), before.toHex());

    // Nothing of the failed merge is left to disturb the next one.
    QCOMPARE(MergeDataFolders(f.source.path(), f.target.path()).added, 3000);
    QCOMPARE(ReadTests(f.target.tests())->Items(1).Id(), 2u);
}

void TestMerge::fullDiskLeavesTarget_data()
{
    // Free room on the disk once the target is there: not even the first run of tests fits, or it
    // fits and its values do not.
    QTest::addColumn<qint64>("free");
    QTest::addColumn<QString>("file");
    QTest::newRow("tests do not fit") << qint64(64 << 10) << QStringLiteral("tests.dat");
    QTest::newRow("values do not fit") << qint64(2048 * TvsDBTestRec::kSize + (300 << 10))
                                       << QStringLiteral("values.dat");
}

void TestMerge::fullDiskLeavesTarget()
{
    QFETCH(qint64, free);
    QFETCH(QString, file);
    FaultFixture f;
    QTemporaryDir mountPoint;
    // A small disk of its own: a private memory file system, mounted in a child's own mount
    // namespace, so that nothing outside the child ever sees it.
    const kvtest::ChildResult r = kvtest::RunInChild([&](QString& message) {
        if (::geteuid() != 0) {
            message = QStringLiteral("a private mount needs root here");
            return 3;
        }
        if (::unshare(CLONE_NEWNS) != 0 || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            ::mount("kvtest", QFile::encodeName(mountPoint.path()).constData(), "tmpfs", 0, "size=8m") != 0) {
            message = QStringLiteral("no private mount: %1").arg(QString::fromLocal8Bit(std::strerror(errno)));
            return 3;
        }
        const QString data = mountPoint.path() + QStringLiteral("/Data");
        QDir().mkpath(data);
        for (const char* name : {"tests.dat", "values.dat"})
            WriteFile(data + u'/' + QLatin1StringView(name),
                      kvtest::ReadFile(f.target.dir.filePath(QLatin1StringView(name))));
        const QByteArray before = kvtest::ReadFile(data + QStringLiteral("/tests.dat")) + '|' +
                                  kvtest::ReadFile(data + QStringLiteral("/values.dat"));
        // Fill the disk, then give back the free room the row asks for.
        const QString fillerName = mountPoint.path() + QStringLiteral("/filler");
        QFile filler(fillerName);
        if (!filler.open(QIODevice::WriteOnly))
            return 4;
        const QByteArray block(64 << 10, 'f');
        while (filler.write(block) == block.size() && filler.flush()) {
        }
        filler.close();
        if (!filler.resize(std::max<qint64>(0, QFileInfo(fillerName).size() - free)))
            return 5;
        try {
            MergeDataFolders(f.source.path(), data);
            message = QStringLiteral("the merge went through");
            return 1;
        } catch (const Error& e) {
            message = e.message();
        }
        const QByteArray after = kvtest::ReadFile(data + QStringLiteral("/tests.dat")) + '|' +
                                 kvtest::ReadFile(data + QStringLiteral("/values.dat"));
        if (after != before) {
            message += QStringLiteral(" / the target changed");
            return 6;
        }
        return 0;
    });
    if (r.exitCode == 3)
        QSKIP(qPrintable(r.message));
    QCOMPARE(r.exitCode, 0);
    QVERIFY2(r.message.startsWith(QStringLiteral("Тесты не добавлены: на диске нет места")), qPrintable(r.message));
    QVERIFY2(r.message.contains(file), qPrintable(r.message));
}

void TestMerge::answersFollowTheirTest()
{
    Folder target;
    target.Write({{4, QStringLiteral("Анна"), kMonday, ThreeValues()}});
    target.WriteAnswers({4}, 3, 11);
    Folder source;
    // Test 2 repeats the target's test; its answers stay behind with it.
    source.Write({{1, QStringLiteral("Борис"), kMonday + 1, ThreeValues()},
                  {2, QStringLiteral("Анна"), kMonday, ThreeValues()},
                  {3, QStringLiteral("Вера"), kMonday + 2, ThreeValues()}});
    // Answers out of test order: 3's first, then 1's, then 2's. Test 2's are the target test's own
    // three answers, so it is a repeat in every field.
    const auto repeated = [](quint32 id, quint32 question) {
        QByteArray bytes = Folder::AnswerBytes(id, 4, question);
        TvsDBAnswerRec r;
        std::memcpy(r.bytes.data(), bytes.constData(), TvsDBAnswerRec::kSize);
        r.SetTestId(2);
        return QByteArray(r.bytes.data(), TvsDBAnswerRec::kSize);
    };
    WriteFile(source.answers(), Folder::AnswerBytes(1, 3, 1) + Folder::AnswerBytes(2, 1, 1) +
                                    Folder::AnswerBytes(3, 1, 2) + repeated(4, 1) + Folder::AnswerBytes(5, 3, 2) +
                                    Folder::AnswerBytes(6, 3, 3) + repeated(7, 2) + repeated(8, 3));
    const QByteArray before = kvtest::ReadFile(target.answers());

    QCOMPARE(MergeReport(MergeDataFolders(source.path(), target.path())),
             QStringLiteral("Добавлено тестов: 2, пропущено повторов: 1"));
    QVERIFY(kvtest::ReadFile(target.answers()).startsWith(before));
    const auto answers = ReadAnswers(target.answers());
    QCOMPARE(answers->Count(), 3 + 5);
    // Борис became 5 and Вера 6; each test's answers in their source order, numbered on from 13.
    const QList<QPair<quint32, quint32>> want = {{5, 1}, {5, 2}, {6, 1}, {6, 2}, {6, 3}};
    for (int i = 0; i < want.size(); ++i) {
        const TvsDBAnswerRec& a = answers->Items(3 + i);
        QCOMPARE(a.Id(), quint32(14 + i));
        QCOMPARE(a.TestId(), want[i].first);
        QCOMPARE(a.Question(), want[i].second);
        // Everything else is the source's record as it was.
        TvsDBAnswerRec expected;
        const QByteArray original = Folder::AnswerBytes(quint32(14 + i), want[i].first == 5 ? 1 : 3, want[i].second);
        std::memcpy(expected.bytes.data(), original.constData(), TvsDBAnswerRec::kSize);
        expected.SetTestId(want[i].first);
        QCOMPARE(QByteArray(a.bytes.data(), TvsDBAnswerRec::kSize).toHex(),
                 QByteArray(expected.bytes.data(), TvsDBAnswerRec::kSize).toHex());
    }
}

void TestMerge::journalInTheSourceIsHonoured_data()
{
    QTest::addColumn<bool>("torn");
    QTest::newRow("a save killed half-way") << false;
    QTest::newRow("killed while its journal was written") << true;
}

void TestMerge::journalInTheSourceIsHonoured()
{
    QFETCH(bool, torn);
    // The source machine died in the middle of saving its third test: the test record and one
    // value are there, and the journal that would undo them.
    Folder source;
    source.Write({{1, QStringLiteral("Анна"), kMonday, ThreeValues()},
                  {2, QStringLiteral("Борис"), kMonday + 1, ThreeValues()}});
    const qint64 testsSize = QFileInfo(source.tests()).size();
    const qint64 valuesSize = QFileInfo(source.values()).size();
    QByteArray journal = EncodeJournal({{QStringLiteral("tests.dat"), testsSize, {}},
                                        {QStringLiteral("values.dat"), valuesSize, {}},
                                        {QStringLiteral("answers.dat"), 0, {}}});
    if (torn)
        journal.chop(5);
    WriteFile(JournalFileName(source.path()), journal);
    QFile t(source.tests());
    QVERIFY(t.open(QIODevice::Append));
    t.write(Bytes(TestRecord({3, QStringLiteral("Вера"), kMonday + 2, {}})));
    t.close();
    QFile v(source.values());
    QVERIFY(v.open(QIODevice::Append));
    TvsDBValueRec value;
    value.SetId(7);
    value.SetTestId(3);
    value.SetName(QStringLiteral("Половина"));
    v.write(Bytes(value));
    v.close();
    const QByteArray sourceBefore = source.Snapshot();

    Folder target;
    target.Write({});
    const MergeResult r = MergeDataFolders(source.path(), target.path());
    // Left alone, the source keeps its journal for the program there to finish the rollback.
    QCOMPARE(source.Snapshot(), sourceBefore);
    QVERIFY(QFile::exists(JournalFileName(source.path())));
    // A whole journal says the third test was never saved; a torn one was written before any
    // append, so what follows it cannot be its writer's (and is taken as it stands).
    QCOMPARE(r.added, torn ? 3 : 2);
    QCOMPARE(ReadValues(target.values())->Count(), torn ? 7 : 6);
}

void TestMerge::crashAtEveryStepOfAMerge()
{
    Folder target;
    target.Write({{1, QStringLiteral("Анна"), kMonday, ThreeValues()}}, 1, QByteArray(30, 'x'), QByteArray(9, 'y'));
    target.WriteAnswers({1}, 2);
    Folder source;
    source.Write({{1, QStringLiteral("Борис"), kMonday + 1, ThreeValues()},
                  {2, QStringLiteral("Вера"), kMonday + 2, ThreeValues()},
                  {3, QStringLiteral("Глеб"), kMonday + 3, ThreeValues()}});
    source.WriteAnswers({1, 2, 3}, 3);
    const QByteArray before = target.Snapshot();
    const auto restore = [&](const QByteArray& snapshot) {
        QFile::remove(JournalFileName(target.path()));
        for (const QByteArray& entry : snapshot.split('|')) {
            const int colon = entry.indexOf(':');
            if (colon > 0)
                WriteFile(target.dir.filePath(QString::fromUtf8(entry.left(colon))),
                          QByteArray::fromHex(entry.mid(colon + 1)));
        }
    };
    const auto crashChild = [&](int k) {
        const pid_t pid = ::fork();
        if (pid == 0) {
            crashseam::Arm(k);
            int code = 0;
            try {
                MergeDataFolders(source.path(), target.path());
            } catch (...) {
                code = 2;
            }
            ::_exit(code);
        }
        int status = 0;
        ::waitpid(pid, &status, 0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    };

    crashseam::Arm(0);
    MergeDataFolders(source.path(), target.path());
    const int steps = crashseam::Steps();
    const QByteArray after = target.Snapshot();
    QVERIFY(after != before);
    QVERIFY(steps > 5);

    int sawBefore = 0;
    int sawAfter = 0;
    for (int k = 1; k <= steps; ++k) {
        restore(before);
        QCOMPARE(crashChild(k), crashseam::kCrashExit);
        RecoverDataDir(target.path());
        const QByteArray now = target.Snapshot();
        if (now == before)
            ++sawBefore;
        else if (now == after)
            ++sawAfter;
        else
            QFAIL(qPrintable(QStringLiteral("a crash after step %1 of %2 left something between").arg(k).arg(steps)));
    }
    restore(before);
    QCOMPARE(crashChild(steps + 1), 0);
    QCOMPARE(target.Snapshot(), after);
    QVERIFY(sawBefore > 0);
    QVERIFY(sawAfter > 0);
}

using Change = std::function<void(TvsDBTestRec&, TvsDBAnswerRec&)>;
Q_DECLARE_METATYPE(Change)

// Two anonymous respondents of the same moment with the same values, who differ in one stored field
// only, are two respondents: the merge adds the second beside the first.
void TestMerge::respondentsDifferingInOneFieldBothArrive_data()
{
    QTest::addColumn<Change>("change");
    QTest::newRow("nothing: a repeat") << Change();
    QTest::newRow("sex") << Change([](TvsDBTestRec& t, TvsDBAnswerRec&) { t.SetSex(1); });
    QTest::newRow("age") << Change([](TvsDBTestRec& t, TvsDBAnswerRec&) { t.SetAge(31); });
    QTest::newRow("family status") << Change(
        [](TvsDBTestRec& t, TvsDBAnswerRec&) { t.SetSocial(u"Женат / замужем"_s); });
    QTest::newRow("children") << Change([](TvsDBTestRec& t, TvsDBAnswerRec&) { t.SetChildren(u"Один ребенок"_s); });
    QTest::newRow("residence") << Change([](TvsDBTestRec& t, TvsDBAnswerRec&) { t.SetPlaceOfLiving(u"Москва"_s); });
    QTest::newRow("education") << Change([](TvsDBTestRec& t, TvsDBAnswerRec&) { t.SetEducation(u"Высшее"_s); });
    QTest::newRow("social status") << Change([](TvsDBTestRec& t, TvsDBAnswerRec&) { t.SetSocialStatus(u"Рабочий"_s); });
    QTest::newRow("occupation") << Change([](TvsDBTestRec& t, TvsDBAnswerRec&) { t.SetBussines(u"СМИ"_s); });
    QTest::newRow("income level") << Change([](TvsDBTestRec& t, TvsDBAnswerRec&) { t.SetMaterialLevel(u"Низкий"_s); });
    QTest::newRow("one answer's choice") << Change([](TvsDBTestRec&, TvsDBAnswerRec& a) { a.SetChosen(2); });
    QTest::newRow("one response time") << Change([](TvsDBTestRec&, TvsDBAnswerRec& a) { a.SetResponseMs(4321); });
}

void TestMerge::respondentsDifferingInOneFieldBothArrive()
{
    QFETCH(Change, change);
    const Test anonymous{1, QString(), kMonday, ThreeValues()};
    const auto answer = [](quint32 testId) {
        TvsDBAnswerRec a;
        a.SetId(1);
        a.SetTestId(testId);
        a.SetQuestion(1);
        a.SetUpperGroup(2);
        a.SetUpper(u"Свобода"_s);
        a.SetLowerGroup(2);
        a.SetLower(u"Дружба"_s);
        a.SetChosen(1);
        a.SetResponseMs(1200);
        return a;
    };
    Folder target;
    target.Write({anonymous});
    TvsDBAnswerRec first = answer(1);
    WriteFile(target.answers(), QByteArray(first.bytes.data(), TvsDBAnswerRec::kSize));

    Folder source;
    source.Write({anonymous});
    TvsDBTestRec test = TestRecord(anonymous);
    TvsDBAnswerRec second = answer(1);
    if (change)
        change(test, second);
    WriteFile(source.tests(), Bytes(test));
    WriteFile(source.answers(), QByteArray(second.bytes.data(), TvsDBAnswerRec::kSize));

    const MergeResult r = MergeDataFolders(source.path(), target.path(), nullptr);
    QCOMPARE(r.added, change ? 1 : 0);
    QCOMPARE(r.skipped, change ? 0 : 1);
    QCOMPARE(ReadTests(target.tests())->Count(), change ? 2 : 1);
}

// The next number follows the largest in the target, wherever it stands; past 4294967295 there is
// no number left, and the merge is refused with nothing changed.
void TestMerge::numbersGoOnAfterTheLargest_data()
{
    QTest::addColumn<QList<quint32>>("ids");
    QTest::addColumn<quint32>("expected"); // the new test's number; 0: refused
    QTest::newRow("in order") << QList<quint32>{1, 2} << 3u;
    QTest::newRow("out of order") << QList<quint32>{5, 3} << 6u;
    QTest::newRow("largest in the middle") << QList<quint32>{1, 900, 2} << 901u;
    QTest::newRow("one below the largest possible") << QList<quint32>{1, 4294967294u} << 4294967295u;
    QTest::newRow("the largest possible") << QList<quint32>{1, 2, 4294967295u} << 0u;
}

void TestMerge::numbersGoOnAfterTheLargest()
{
    QFETCH(QList<quint32>, ids);
    QFETCH(quint32, expected);
    Folder target;
    QList<Test> tests;
    for (quint32 id : ids)
        tests.append({id, u"Тест %1"_s.arg(id), kMonday + id % 1000, ThreeValues()});
    target.Write(tests);
    Folder source;
    source.Write({{1, u"Новый"_s, kMonday + 5000, ThreeValues()}});
    const QByteArray before = target.Snapshot();
    if (expected == 0) {
        try {
            MergeDataFolders(source.path(), target.path(), nullptr);
            QFAIL("the merge was not refused");
        } catch (const Error& e) {
            QVERIFY2(e.message().contains(u"4294967295"_s), qPrintable(e.message()));
        }
        QCOMPARE(target.Snapshot(), before);
        return;
    }
    QCOMPARE(MergeDataFolders(source.path(), target.path(), nullptr).added, 1);
    const auto list = ReadTests(target.tests());
    QCOMPARE(list->Count(), int(ids.size()) + 1);
    QCOMPARE(list->Items(list->Count() - 1).Id(), expected);
}

QTEST_GUILESS_MAIN(TestMerge)
#include "test_merge.moc"
