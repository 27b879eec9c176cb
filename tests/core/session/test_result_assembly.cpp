// Turning the scores of a finished test into the ranking: what is left out, how ties fall, and the
// lists the test is built from.
#include "core/session/PairDraw.h"
#include "core/session/ResultAssembly.h"

#include <QtTest/QtTest>

using namespace kv;

namespace {

// A catalogue of four groups with the scores given, and the chosen values "name:group:score".
struct Test
{
    TvsValueTypeList groups;
    TvsValueList checked;

    Test(const QList<int>& groupScores, const QStringList& values)
    {
        const QStringList names = {QStringLiteral("Материальные"), QStringLiteral("Витальные"),
                                   QStringLiteral("Эмоциональные"), QStringLiteral("Идейные")};
        for (int g = 0; g < 4; ++g) {
            TvsValueTypeRec& group = groups.Items(groups.Add(names[g], QStringLiteral("/x/%1.txt").arg(g)));
            group.Number = g + 1;
            group.Score = groupScores.value(g);
        }
        for (const QString& spec : values) {
            const QStringList parts = spec.split(u':');
            const int number = parts[1].toInt();
            checked.Items(checked.Add(parts[0], number, groups.Items(number - 1).Name)).Score = parts[2].toInt();
        }
    }
};

// "group=score[value=score,...]" per group, in list order.
QStringList Describe(const TvsValueTypeList& result)
{
    QStringList out;
    for (int g = 0; g < result.Count(); ++g) {
        const TvsValueTypeRec& group = result.Items(g);
        QStringList values;
        for (int v = 0; v < group.Values->Count(); ++v)
            values << QStringLiteral("%1=%2").arg(group.Values->Items(v).Name).arg(group.Values->Items(v).Score);
        out << QStringLiteral("%1:%2=%3[%4]").arg(group.Number).arg(group.Name).arg(group.Score).arg(values.join(u','));
    }
    return out;
}

} // namespace

class TestResultAssembly : public QObject
{
    Q_OBJECT

private slots:
    void ranking_data()
    {
        QTest::addColumn<QList<int>>("groupScores");
        QTest::addColumn<QStringList>("values");
        QTest::addColumn<QStringList>("ranking");

        QTest::newRow("losers and empty groups left out")
            << QList<int>{1, 0, 5, 0}
            << QStringList{QStringLiteral("а:1:1"), QStringLiteral("б:1:0"), QStringLiteral("в:3:2"),
                           QStringLiteral("г:3:3"), QStringLiteral("д:2:0")}
            << QStringList{QStringLiteral("3:Эмоциональные=5[г=3,в=2]"), QStringLiteral("1:Материальные=1[а=1]")};

        QTest::newRow("two tied values come out reversed")
            << QList<int>{4, 0, 0, 0} << QStringList{QStringLiteral("первая:1:2"), QStringLiteral("вторая:1:2")}
            << QStringList{QStringLiteral("1:Материальные=4[вторая=2,первая=2]")};

        QTest::newRow("three tied values come out third, second, first")
            << QList<int>{0, 3, 0, 0}
            << QStringList{QStringLiteral("x:2:1"), QStringLiteral("y:2:1"), QStringLiteral("z:2:1")}
            << QStringList{QStringLiteral("2:Витальные=3[z=1,y=1,x=1]")};

        // Four tied entries, traced by hand: the first pass gives d,c,b,a, then each half is swapped
        // again, so the order is not simply reversed.
        QTest::newRow("four tied values") << QList<int>{0, 0, 0, 4}
                                          << QStringList{QStringLiteral("a:4:1"), QStringLiteral("b:4:1"),
                                                         QStringLiteral("c:4:1"), QStringLiteral("d:4:1")}
                                          << QStringList{QStringLiteral("4:Идейные=4[c=1,d=1,a=1,b=1]")};

        QTest::newRow("tied groups reversed too")
            << QList<int>{2, 2, 0, 0} << QStringList{QStringLiteral("m:1:2"), QStringLiteral("v:2:2")}
            << QStringList{QStringLiteral("2:Витальные=2[v=2]"), QStringLiteral("1:Материальные=2[m=2]")};

        QTest::newRow("nothing won") << QList<int>{0, 0, 0, 0} << QStringList{QStringLiteral("a:1:0")} << QStringList{};
    }

    void ranking()
    {
        QFETCH(QList<int>, groupScores);
        QFETCH(QStringList, values);
        QFETCH(QStringList, ranking);
        Test test(groupScores, values);
        TvsValueTypeList result;
        BuildResults(test.groups, test.checked, result);
        QCOMPARE(Describe(result), ranking);
        for (int g = 0; g < result.Count(); ++g) {
            QVERIFY(result.Items(g).ItemsFile.isEmpty());
            for (int v = 0; v < result.Items(g).Values->Count(); ++v) {
                const TvsValueRec& value = result.Items(g).Values->Items(v);
                QCOMPARE(value.TypeNumber, result.Items(g).Number);
                QCOMPARE(value.TypeName, result.Items(g).Name);
            }
        }
    }

    void compareOrdersHigherFirst()
    {
        TvsValueRec low, high;
        low.Score = 1;
        high.Score = 9;
        QCOMPARE(CompareValueScores(high, low), -1);
        QCOMPARE(CompareValueScores(low, high), 1);
        QCOMPARE(CompareValueScores(low, low), 0);
        TvsValueTypeRec a, b;
        a.Score = 3;
        b.Score = 2;
        QCOMPARE(CompareValueTypeScores(a, b), -1);
        QCOMPARE(CompareValueTypeScores(b, a), 1);
        b.Score = 3;
        QCOMPARE(CompareValueTypeScores(a, b), 0);
    }

    void collectedValuesTakeTheirGroupName()
    {
        Test test({}, {QStringLiteral("старое:1:5")});
        CollectCheckedValues({{QStringLiteral("Здоровье"), 2}, {QStringLiteral("Любовь"), 3}, {QString(), 2}},
                             test.groups, test.checked);
        QCOMPARE(test.checked.Count(), 3);
        QCOMPARE(test.checked.Items(0).Name, QStringLiteral("Здоровье"));
        QCOMPARE(test.checked.Items(0).TypeName, QStringLiteral("Витальные"));
        QCOMPARE(test.checked.Items(1).TypeNumber, 3);
        QCOMPARE(test.checked.Items(1).TypeName, QStringLiteral("Эмоциональные"));
        QCOMPARE(test.checked.Items(2).Name, QString());
        for (int i = 0; i < 3; ++i)
            QCOMPARE(test.checked.Items(i).Score, 0);
    }

    // A cancelled run leaves points behind; the next run starts from zero and its ranking adds up.
    void rerunAfterCancelCountsOnlyTheSecondRun()
    {
        Test test({}, {});
        const QList<TvsCheckedNode> nodes = {
            {QStringLiteral("a"), 1}, {QStringLiteral("b"), 1}, {QStringLiteral("c"), 2}, {QStringLiteral("d"), 4}};
        TvsRandom random;
        auto start = [&] {
            ResetGroupScores(test.groups);
            CollectCheckedValues(nodes, test.groups, test.checked);
        };
        start();
        TvsPairLists first;
        BuildPairLists(test.checked, first);
        TvsValueRec item1, item2;
        for (int i = 0; i < 3 && DrawNextPair(first, random, item1, item2); ++i)
            ScoreAnswer(item2, test.checked, test.groups); // three answers, then cancelled

        start();
        TvsPairLists second;
        BuildPairLists(test.checked, second);
        while (DrawNextPair(second, random, item1, item2))
            ScoreAnswer(item1, test.checked, test.groups);
        TvsValueTypeList result;
        BuildResults(test.groups, test.checked, result);

        // Upper always wins: a=3, b=2, c=1, d=0, so group 1 has 5 and group 2 has 1.
        QCOMPARE(Describe(result),
                 QStringList({QStringLiteral("1:Материальные=5[a=3,b=2]"), QStringLiteral("2:Витальные=1[c=1]")}));
        int total = 0;
        for (int g = 0; g < result.Count(); ++g) {
            int sum = 0;
            for (int v = 0; v < result.Items(g).Values->Count(); ++v)
                sum += result.Items(g).Values->Items(v).Score;
            QCOMPARE(result.Items(g).Score, sum);
            total += sum;
        }
        QCOMPARE(total, PairCount(4));
    }
};

QTEST_GUILESS_MAIN(TestResultAssembly)
#include "test_result_assembly.moc"
