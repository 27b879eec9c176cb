// The order of the questions and the scoring of the answers, without the dialog.
#include "core/session/PairDraw.h"

#include <QSet>
#include <QtTest/QtTest>

using namespace kv;

namespace {

using Pair = QPair<int, int>; // positions in the chosen values, counted from 1 as a respondent sees them

// n chosen values spread over the four groups, named by their position.
void FillChosen(TvsValueList& checked, TvsValueTypeList& groups, int n)
{
    for (int g = 1; g <= 4; ++g)
        groups.Items(groups.Add(QStringLiteral("Группа %1").arg(g), QString())).Number = g;
    for (int i = 0; i < n; ++i)
        checked.Add(QStringLiteral("Ценность %1").arg(i + 1), i % 4 + 1, groups.Items(i % 4).Name);
}

struct Run
{
    QList<Pair> pairs;
    int listsLeft = 0;
};

// Plays one whole comparison the way the dialog does; chooseUpper picks the answer.
Run PlayTest(
    int n, TvsRandom& random, TvsValueList& checked, TvsValueTypeList& groups,
    const std::function<bool(int, int)>& chooseUpper = [](int, int) { return true; })
{
    TvsPairLists lists;
    BuildPairLists(checked, lists);
    Run run;
    TvsValueRec item1, item2;
    while (DrawNextPair(lists, random, item1, item2)) {
        run.pairs.append({item1.SourceIndex + 1, item2.SourceIndex + 1});
        ScoreAnswer(chooseUpper(item1.SourceIndex, item2.SourceIndex) ? item1 : item2, checked, groups);
        if (run.pairs.size() > n * n)
            break; // a drawing that never ends would otherwise hang the test
    }
    run.listsLeft = static_cast<int>(lists.size());
    return run;
}

Run PlayFresh(int n, TvsRandom& random)
{
    TvsValueList checked;
    TvsValueTypeList groups;
    FillChosen(checked, groups, n);
    return PlayTest(n, random, checked, groups);
}

} // namespace

class TestPairDraw : public QObject
{
    Q_OBJECT

private slots:
    void programGeneratorStartsAtZero()
    {
        // Nothing in this process has drawn yet.
        QCOMPARE(TvsRandom::Program().State(), 0u);
        QCOMPARE(&TvsRandom::Program(), &TvsRandom::Program());
    }

    void pairCount_data()
    {
        QTest::addColumn<int>("n");
        QTest::addColumn<int>("count");
        QTest::newRow("3") << 3 << 3;
        QTest::newRow("4") << 4 << 6;
        QTest::newRow("15") << 15 << 105;
        QTest::newRow("16") << 16 << 120;
        QTest::newRow("40") << 40 << 780;
    }

    void pairCount()
    {
        QFETCH(int, n);
        QFETCH(int, count);
        QCOMPARE(PairCount(n), count);
    }

    void drawSteps_data()
    {
        QTest::addColumn<quint32>("state");
        QTest::addColumn<quint32>("range");
        QTest::addColumn<quint32>("nextState");
        QTest::addColumn<quint32>("result");
        // nextState = state * 134775813 + 1 mod 2^32; result = (range * nextState) >> 32.
        QTest::newRow("from zero") << 0u << 5u << 1u << 0u;
        QTest::newRow("second step") << 1u << 5u << 134775814u << 0u;
        QTest::newRow("third step, big range") << 134775814u << 0xFFFFFFFFu << 3698175007u << 3698175006u;
        QTest::newRow("range 0 still advances") << 134775814u << 0u << 3698175007u << 0u;
        QTest::newRow("wraps") << 0xFFFFFFFFu << 100u << 4160191484u << 96u;
    }

    void drawSteps()
    {
        QFETCH(quint32, state);
        QFETCH(quint32, range);
        QFETCH(quint32, nextState);
        QFETCH(quint32, result);
        TvsRandom random(state);
        QCOMPARE(random.Draw(range), result);
        QCOMPARE(random.State(), nextState);
    }

    void firstTestOfFourAfterStart()
    {
        TvsRandom random;
        const Run run = PlayFresh(4, random);
        QCOMPARE(run.pairs, QList<Pair>({{1, 2}, {2, 3}, {1, 3}, {1, 4}, {2, 4}, {3, 4}}));
        QCOMPARE(run.listsLeft, 0);
    }

    void threeValuesWhateverTheState_data()
    {
        QTest::addColumn<quint32>("state");
        for (quint32 s : {0u, 1u, 7u, 123456789u, 0x80000000u, 0xFFFFFFFFu})
            QTest::addRow("state %u", s) << s;
    }

    void threeValuesWhateverTheState()
    {
        QFETCH(quint32, state);
        TvsRandom random(state);
        QCOMPARE(PlayFresh(3, random).pairs, QList<Pair>({{1, 2}, {1, 3}, {2, 3}}));
    }

    void everyPairOnceLastPairLast_data()
    {
        QTest::addColumn<int>("n");
        QTest::addColumn<quint32>("state");
        for (int n : {3, 4, 5, 7, 15, 16, 30})
            for (quint32 s : {0u, 99u, 0xDEADBEEFu})
                QTest::addRow("n %d state %u", n, s) << n << s;
    }

    void everyPairOnceLastPairLast()
    {
        QFETCH(int, n);
        QFETCH(quint32, state);
        TvsRandom random(state);
        TvsValueList checked;
        TvsValueTypeList groups;
        FillChosen(checked, groups, n);
        const Run run = PlayTest(n, random, checked, groups);

        QCOMPARE(run.pairs.size(), PairCount(n));
        QSet<Pair> seen;
        for (const Pair& pair : run.pairs) {
            QVERIFY2(pair.first < pair.second, "the earlier value belongs on the upper button");
            QVERIFY(pair.first >= 1 && pair.second <= n);
            seen.insert(pair);
        }
        QCOMPARE(seen.size(), PairCount(n));
        QCOMPARE(run.pairs.constLast(), Pair(n - 1, n));

        // Two draws per question, none for the call that finds nothing left.
        TvsRandom twin(state);
        for (int i = 0; i < 2 * PairCount(n); ++i)
            twin.Draw(0);
        QCOMPARE(random.State(), twin.State());
    }

    void alwaysUpperGivesDescendingWins_data()
    {
        QTest::addColumn<int>("n");
        for (int n : {3, 4, 6, 16})
            QTest::addRow("%d", n) << n;
    }

    void alwaysUpperGivesDescendingWins()
    {
        QFETCH(int, n);
        TvsRandom random(42);
        TvsValueList checked;
        TvsValueTypeList groups;
        FillChosen(checked, groups, n);
        PlayTest(n, random, checked, groups);
        int groupPoints = 0;
        QList<int> expectedGroups(4, 0);
        for (int k = 0; k < n; ++k) {
            QCOMPARE(checked.Items(k).Score, n - 1 - k);
            expectedGroups[k % 4] += n - 1 - k;
        }
        for (int g = 0; g < 4; ++g) {
            QCOMPARE(groups.Items(g).Score, expectedGroups[g]);
            groupPoints += groups.Items(g).Score;
        }
        QCOMPARE(groupPoints, PairCount(n));
    }

    void mixedAnswersSumToPairCount()
    {
        const int n = 9;
        TvsRandom random(5);
        TvsValueList checked;
        TvsValueTypeList groups;
        FillChosen(checked, groups, n);
        // The lower button whenever the two positions add up to an odd number.
        PlayTest(n, random, checked, groups, [](int a, int b) { return (a + b) % 2 == 0; });
        int wins = 0, points = 0;
        for (int k = 0; k < n; ++k) {
            QVERIFY(checked.Items(k).Score >= 0 && checked.Items(k).Score <= n - 1);
            wins += checked.Items(k).Score;
        }
        for (int g = 0; g < 4; ++g)
            points += groups.Items(g).Score;
        QCOMPARE(wins, PairCount(n));
        QCOMPARE(points, PairCount(n));
    }

    void stateCarriesIntoTheNextTest()
    {
        TvsRandom random;
        const Run first = PlayFresh(5, random);
        const quint32 between = random.State();
        QVERIFY(between != 0u);
        const Run second = PlayFresh(5, random);
        TvsRandom resumed(between);
        QCOMPARE(second.pairs, PlayFresh(5, resumed).pairs);
        QVERIFY2(second.pairs != first.pairs, "the second test must not restart the sequence");
    }

    void pairListsHoldTheValuesAfterTheHead()
    {
        TvsValueList checked;
        TvsValueTypeList groups;
        FillChosen(checked, groups, 4);
        checked.Items(2).Score = 7; // left over from an earlier run; pair lists start from zero
        TvsPairLists lists;
        BuildPairLists(checked, lists);
        QCOMPARE(lists.size(), size_t(3));
        for (int i = 0; i < 3; ++i) {
            const TvsValueList& list = *lists[size_t(i)];
            QCOMPARE(list.Count(), 4 - i);
            for (int e = 0; e < list.Count(); ++e) {
                const TvsValueRec& entry = list.Items(e);
                QCOMPARE(entry.SourceIndex, i + e);
                QCOMPARE(entry.Name, checked.Items(i + e).Name);
                QCOMPARE(entry.TypeNumber, checked.Items(i + e).TypeNumber);
                QVERIFY(entry.TypeName.isEmpty());
                QCOMPARE(entry.Score, 0);
            }
        }
    }

    void drawnItemsAreCopies()
    {
        TvsValueList checked;
        TvsValueTypeList groups;
        FillChosen(checked, groups, 3);
        TvsPairLists lists;
        BuildPairLists(checked, lists);
        TvsRandom random;
        TvsValueRec item1, item2;
        QVERIFY(DrawNextPair(lists, random, item1, item2));
        // The partner was removed from its list, yet the copy is still whole.
        QCOMPARE(item2.Name, QStringLiteral("Ценность 2"));
        QCOMPARE(lists[0]->Count(), 2);
        QCOMPARE(lists[0]->Items(1).Name, QStringLiteral("Ценность 3"));
    }
};

QTEST_GUILESS_MAIN(TestPairDraw)
#include "test_pairdraw.moc"
