// A comparison run without its window: the order of the questions, the scores, the answer log and
// going back one question at a time.
#include "core/session/CompareSession.h"

#include <QRandomGenerator>
#include <QtTest/QtTest>

using namespace kv;
using namespace Qt::StringLiterals;

namespace {

struct Chosen
{
    TvsValueTypeList groups;
    TvsValueList checked;
    TvsPairLists pairs;

    explicit Chosen(const QStringList& names)
    {
        for (int g = 1; g <= 4; ++g)
            groups.Items(groups.Add(u"Группа %1"_s.arg(g), QString())).Number = g;
        for (int i = 0; i < names.size(); ++i)
            checked.Add(names[i], i % 2 + 1, groups.Items(i % 2).Name);
        BuildPairLists(checked, pairs);
    }

    QList<int> scores() const
    {
        QList<int> out;
        for (int i = 0; i < checked.Count(); ++i)
            out << checked.Items(i).Score;
        return out;
    }
    QList<int> groupScores() const
    {
        QList<int> out;
        for (int g = 0; g < groups.Count(); ++g)
            out << groups.Items(g).Score;
        return out;
    }
};

QString Pair(const TvsCompareSession& session)
{
    return session.Item1().Name + u'/' + session.Item2().Name;
}

// The questions a run asks when nobody goes back, and the generator's state after.
QStringList QuestionsWithoutGoingBack(const QStringList& names, quint32 seed, quint32* stateAfter)
{
    Chosen chosen(names);
    TvsRandom random(seed);
    QStringList questions;
    TvsValueRec item1, item2;
    while (DrawNextPair(chosen.pairs, random, item1, item2))
        questions << item1.Name + u'/' + item2.Name;
    *stateAfter = random.State();
    return questions;
}

} // namespace

class TestCompareSession : public QObject
{
    Q_OBJECT

private slots:
    void answersScoreAndEndPastTheTotal()
    {
        Chosen chosen({u"А"_s, u"Б"_s, u"В"_s});
        TvsRandom random;
        TvsCompareSession session(chosen.pairs, chosen.groups, chosen.checked, random);
        session.Start();
        QCOMPARE(session.PairTotal(), 3);
        QCOMPARE(session.PairNumber(), 1);
        QVERIFY(!session.CanGoBack());
        QStringList asked;
        for (quint8 chosenButton : {quint8(1), quint8(2), quint8(1)}) {
            QVERIFY(!session.Finished());
            asked << Pair(session);
            session.Answer(chosenButton, 100u * chosenButton);
        }
        QVERIFY(session.Finished());
        QCOMPARE(session.PairNumber(), 4); // one past the total, as the caption shows it
        QVERIFY(!session.CanGoBack());
        QVERIFY(chosen.pairs.empty());
        const TvsAnswerLog& log = session.Answers();
        QCOMPARE(log.size(), size_t(3));
        QList<int> wins(3, 0);
        for (size_t i = 0; i < log.size(); ++i) {
            QCOMPARE(log[i].Question, qint32(i + 1));
            QCOMPARE(log[i].Upper + u'/' + log[i].Lower, asked[qsizetype(i)]);
            QCOMPARE(log[i].ResponseMs, 100u * log[i].Chosen);
            QCOMPARE(chosen.checked.Items(log[i].UpperIndex).Name, log[i].Upper);
            QCOMPARE(chosen.checked.Items(log[i].LowerIndex).Name, log[i].Lower);
            ++wins[log[i].Chosen == 1 ? log[i].UpperIndex : log[i].LowerIndex];
        }
        QCOMPARE(chosen.scores(), wins);
        int groupTotal = 0;
        for (int g : chosen.groupScores())
            groupTotal += g;
        QCOMPARE(groupTotal, 3);
    }

    void backRestoresTheQuestionAndTheScores()
    {
        Chosen chosen({u"а"_s, u"б"_s, u"в"_s, u"г"_s});
        TvsRandom random(77);
        TvsCompareSession session(chosen.pairs, chosen.groups, chosen.checked, random);
        session.Start();
        const QString first = Pair(session);
        const quint32 stateAtFirst = random.State();
        session.Answer(2, 10);
        const QString second = Pair(session);
        QVERIFY(session.CanGoBack());
        session.Back();
        QCOMPARE(session.PairNumber(), 1);
        QCOMPARE(Pair(session), first);
        QCOMPARE(random.State(), stateAtFirst);
        QCOMPARE(chosen.scores(), QList<int>({0, 0, 0, 0}));
        QCOMPARE(chosen.groupScores(), QList<int>({0, 0, 0, 0}));
        QVERIFY(session.Answers().empty());
        QVERIFY(!session.CanGoBack());
        session.Back(); // nothing to take back: nothing changes
        QCOMPARE(session.PairNumber(), 1);
        QCOMPARE(Pair(session), first);
        // Answered again, the next question is the one it was before.
        session.Answer(1, 10);
        QCOMPARE(Pair(session), second);
        QCOMPARE(session.Answers().size(), size_t(1));
        QCOMPARE(session.Answers()[0].Chosen, quint8(1));
    }

    void goingBackNeverChangesTheQuestions()
    {
        QRandomGenerator script(20261210);
        for (int run = 0; run < 40; ++run) {
            const int n = int(script.bounded(3, 9));
            const quint32 seed = script.generate();
            QStringList names;
            for (int i = 0; i < n; ++i)
                names << u"Ценность %1"_s.arg(i + 1);
            quint32 expectedState = 0;
            const QStringList expected = QuestionsWithoutGoingBack(names, seed, &expectedState);

            TvsRandom random(seed);
            Chosen chosen(names);
            TvsCompareSession session(chosen.pairs, chosen.groups, chosen.checked, random);
            session.Start();
            QMap<int, quint8> lastChoice;
            int backs = 0;
            for (int step = 0; !session.Finished() && step < 2000; ++step) {
                const int k = session.PairNumber();
                QCOMPARE(Pair(session), expected.value(k - 1));
                if (k > 1 && script.bounded(3) == 0) {
                    for (int b = int(script.bounded(1, 4)); b > 0; --b, ++backs)
                        session.Back();
                    continue;
                }
                const quint8 choice = quint8(script.bounded(1, 3));
                lastChoice[k] = choice;
                session.Answer(choice, 0);
            }
            QVERIFY(session.Finished());
            QCOMPARE(random.State(), expectedState);

            const TvsAnswerLog& log = session.Answers();
            QCOMPARE(qsizetype(log.size()), expected.size());
            QList<int> wins(n, 0);
            for (std::size_t i = 0; i < log.size(); ++i) {
                QCOMPARE(log[i].Question, qint32(i + 1));
                QCOMPARE(log[i].Upper + u'/' + log[i].Lower, expected[qsizetype(i)]);
                QCOMPARE(log[i].Chosen, lastChoice.value(int(i + 1)));
                ++wins[log[i].Chosen == 1 ? log[i].UpperIndex : log[i].LowerIndex];
            }
            QCOMPARE(chosen.scores(), wins);
            int groupTotal = 0;
            for (int g : chosen.groupScores())
                groupTotal += g;
            QCOMPARE(groupTotal, PairCount(n));
            if (run == 0)
                QVERIFY(backs > 0);
        }
    }
};

QTEST_GUILESS_MAIN(TestCompareSession)
#include "test_compare_session.moc"
