// The comparison dialog as the respondent meets it: captions, answers from the keyboard, breaking
// off, and the title bar's close.
#include "core/session/PairDraw.h"
#include "gui/compare/uvsValuesCompare.h"
#include "support/TestSupport.h"

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QRandomGenerator>
#include <QtTest/QtTest>

using namespace kv;

namespace {

struct Chosen
{
    TvsValueTypeList groups;
    TvsValueList checked;
    TvsPairLists pairs;

    explicit Chosen(const QStringList& names)
    {
        for (int g = 1; g <= 4; ++g)
            groups.Items(groups.Add(QStringLiteral("Группа %1").arg(g), QString())).Number = g;
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

QPushButton* Button(QWidget* dialog, const char* name)
{
    return dialog->findChild<QPushButton*>(QLatin1String(name));
}

// What the respondent sees at one question.
struct Screen
{
    QString caption, upper, lower;
};

Screen Look(QWidget* dialog)
{
    return {dialog->windowTitle(), Button(dialog, "bbItem1")->text(), Button(dialog, "bbItem2")->text()};
}

// The questions a run asks when nobody goes back, as "upper/lower", and the generator's state after.
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

qint32 Number(const QString& caption)
{
    return caption.section(u' ', 2, 2).toInt();
}

} // namespace

class TestValuesCompare : public QObject
{
    Q_OBJECT

private slots:
    void layoutAndFirstQuestion()
    {
        kvtest::FakeDialogs dialogs;
        TvsRandom random;
        TfmValuesCompare dialog(dialogs, nullptr, random);
        QCOMPARE(dialog.findChild<QLabel*>(QStringLiteral("laQuestion"))->text(),
                 QStringLiteral("Что для Вас важнее?"));
        QCOMPARE(Button(&dialog, "bbBreak")->text(), QStringLiteral("Прервать тест"));
        for (const char* name : {"bbItem1", "bbItem2", "bbBreak"})
            QVERIFY2(!Button(&dialog, name)->isDefault(), name);
        QCOMPARE(Button(&dialog, "bbItem1")->nextInFocusChain(), Button(&dialog, "bbItem2"));
        QCOMPARE(Button(&dialog, "bbItem2")->nextInFocusChain(), Button(&dialog, "bbBreak"));

        Chosen chosen({QStringLiteral("Здоровье"), QStringLiteral("Дом & семья"), QStringLiteral("Свобода")});
        Screen first;
        QWidget* focused = nullptr;
        auto met = kvtest::AnswerModal([&](QWidget* modal) {
            first = Look(modal);
            // The focus arrives with the window's activation, which may come a little after it is shown.
            QVERIFY(QTest::qWaitFor([&] { return QApplication::focusWidget() == Button(modal, "bbItem1"); }));
            focused = QApplication::focusWidget();
            modal->close();
        });
        QVERIFY(!dialog.Execute(chosen.pairs, chosen.groups, chosen.checked));
        QVERIFY(*met);
        QCOMPARE(first.caption, QStringLiteral("Попарное сравнение 1 из 3"));
        QCOMPARE(first.upper, QStringLiteral("Здоровье"));
        // A literal "&": doubled so that it is not taken for a shortcut marker.
        QCOMPARE(first.lower, QStringLiteral("Дом && семья"));
        QCOMPARE(focused, Button(&dialog, "bbItem1"));
        QVERIFY(dialogs.messages.isEmpty());
        QCOMPARE(chosen.scores(), QList<int>({0, 0, 0}));
    }

    // Space and Enter on the focused answer, Tab to move: the whole comparison without a mouse.
    void keyboardOnlyRun()
    {
        kvtest::FakeDialogs dialogs;
        TvsRandom random;
        TfmValuesCompare dialog(dialogs, nullptr, random);
        Chosen chosen({QStringLiteral("А"), QStringLiteral("Б"), QStringLiteral("В")});
        QList<Screen> seen;
        QString finalCaption;
        auto met = kvtest::AnswerModal([&](QWidget* modal) {
            QVERIFY(QTest::qWaitFor([&] { return QApplication::focusWidget() == Button(modal, "bbItem1"); }));
            seen << Look(modal);
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space); // upper: А over Б
            seen << Look(modal);
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return); // lower: В over А
            seen << Look(modal);
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Enter); // lower, still focused: В over Б
            finalCaption = modal->windowTitle();
        });
        QVERIFY(dialog.Execute(chosen.pairs, chosen.groups, chosen.checked));
        QVERIFY(*met);
        QCOMPARE(seen.size(), 3);
        const QStringList captions = {seen[0].caption, seen[1].caption, seen[2].caption};
        QCOMPARE(captions,
                 QStringList({QStringLiteral("Попарное сравнение 1 из 3"), QStringLiteral("Попарное сравнение 2 из 3"),
                              QStringLiteral("Попарное сравнение 3 из 3")}));
        QCOMPARE(seen[1].upper + seen[1].lower, QStringLiteral("АВ"));
        QCOMPARE(seen[2].upper + seen[2].lower, QStringLiteral("БВ"));
        // The call that closes the dialog counts on too.
        QCOMPARE(finalCaption, QStringLiteral("Попарное сравнение 4 из 3"));
        QCOMPARE(chosen.scores(), QList<int>({1, 0, 2}));
        QCOMPARE(chosen.groupScores(), QList<int>({3, 0, 0, 0})); // А and В are in group 1
        QVERIFY(chosen.pairs.empty());
        QCOMPARE(dialog.PairTotal(), 3);
    }

    // Back, by button and by Backspace, down to the first question and no further: the pair, the
    // caption and the scores go back with it, and the log keeps each question's final answer with
    // the time since its pair was last shown.
    void backTakesBackTheLastAnswer()
    {
        kvtest::FakeDialogs dialogs;
        TvsRandom random;
        TfmValuesCompare dialog(dialogs, nullptr, random);
        qint64 now = 0;
        dialog.SetClock([&] { return now; });
        QCOMPARE(Button(&dialog, "bbBreak")->nextInFocusChain(), Button(&dialog, "bbBack"));
        QCOMPARE(Button(&dialog, "bbBack")->text(), QStringLiteral("Назад"));
        QVERIFY(!Button(&dialog, "bbBack")->isDefault());
        Chosen chosen({QStringLiteral("а"), QStringLiteral("б"), QStringLiteral("в"), QStringLiteral("г")});
        QList<Screen> seen;
        QList<bool> backEnabled;
        QList<QList<int>> scores;
        auto look = [&](QWidget* modal) {
            seen << Look(modal);
            backEnabled << Button(modal, "bbBack")->isEnabled();
            scores << chosen.scores();
        };
        auto met = kvtest::AnswerModal([&](QWidget* modal) {
            now = 1000;  // the window is up; the first pair has been on screen since it appeared
            look(modal); // 0: question 1
            now = 1700;
            Button(modal, "bbItem2")->click(); // б over а, 700 ms
            look(modal);                       // 1: question 2
            now = 2000;
            QTest::keyClick(modal, Qt::Key_Backspace);
            look(modal);                               // 2: question 1 again
            QTest::keyClick(modal, Qt::Key_Backspace); // nothing before the first question
            Button(modal, "bbBack")->click();
            look(modal); // 3: still question 1
            now = 4500;
            Button(modal, "bbItem1")->click(); // а over б this time, 2500 ms
            now = 4600;
            Button(modal, "bbItem1")->click(); // question 2, 100 ms
            now = 4800;
            Button(modal, "bbItem1")->click(); // question 3, 200 ms
            look(modal);                       // 4: question 4
            now = 5000;
            Button(modal, "bbBack")->click();
            Button(modal, "bbBack")->click();
            look(modal); // 5: question 2 again
            for (int k = 0; k < 5; ++k) {
                now += 10 * (k + 1);
                Button(modal, "bbItem1")->click(); // 2 to 6: 10, 20, 30, 40, 50 ms
            }
        });
        QVERIFY(dialog.Execute(chosen.pairs, chosen.groups, chosen.checked));
        QVERIFY(*met);

        QCOMPARE(seen.size(), 6);
        QCOMPARE(seen[0].caption, QStringLiteral("Попарное сравнение 1 из 6"));
        QCOMPARE(seen[1].caption, QStringLiteral("Попарное сравнение 2 из 6"));
        QCOMPARE(seen[2].caption, QStringLiteral("Попарное сравнение 1 из 6"));
        QCOMPARE(seen[3].caption, QStringLiteral("Попарное сравнение 1 из 6"));
        QCOMPARE(seen[4].caption, QStringLiteral("Попарное сравнение 4 из 6"));
        QCOMPARE(seen[5].caption, QStringLiteral("Попарное сравнение 2 из 6"));
        QCOMPARE(seen[2].upper + seen[2].lower, seen[0].upper + seen[0].lower);
        QCOMPARE(seen[3].upper + seen[3].lower, seen[0].upper + seen[0].lower);
        QCOMPARE(seen[5].upper + seen[5].lower, seen[1].upper + seen[1].lower);
        QCOMPARE(backEnabled, QList<bool>({false, true, false, false, true, true}));
        QCOMPARE(scores[1], QList<int>({0, 1, 0, 0}));
        QCOMPARE(scores[2], QList<int>({0, 0, 0, 0}));
        QCOMPARE(scores[5], QList<int>({1, 0, 0, 0})); // only question 1's answer is left

        // Every answer taken the upper value in the end: the scores of a run without going back.
        QCOMPARE(chosen.scores(), QList<int>({3, 2, 1, 0}));
        QCOMPARE(chosen.groupScores(), QList<int>({4, 2, 0, 0})); // а and в in group 1, б and г in group 2
        const TvsAnswerLog& log = dialog.AnswerLog();
        QCOMPARE(log.size(), std::size_t(6));
        const QStringList order = {QStringLiteral("а/б"), QStringLiteral("б/в"), QStringLiteral("а/в"),
                                   QStringLiteral("а/г"), QStringLiteral("б/г"), QStringLiteral("в/г")};
        const QList<quint32> times = {2500, 10, 20, 30, 40, 50};
        for (std::size_t i = 0; i < log.size(); ++i) {
            QCOMPARE(log[i].Question, qint32(i + 1));
            QCOMPARE(log[i].Upper + u'/' + log[i].Lower, order[qsizetype(i)]);
            QCOMPARE(log[i].Chosen, quint8(1));
            QCOMPARE(log[i].ResponseMs, times[qsizetype(i)]);
            QCOMPARE(chosen.checked.Items(log[i].UpperIndex).Name, log[i].Upper);
            QCOMPARE(log[i].UpperGroup, chosen.checked.Items(log[i].UpperIndex).TypeNumber);
            QCOMPARE(chosen.checked.Items(log[i].LowerIndex).Name, log[i].Lower);
        }
        QVERIFY(chosen.pairs.empty());
    }

    // Whatever the answers and however often the respondent goes back, question k is always the
    // pair the generator gives without going back, the generator ends where it would have, and the
    // log and the scores hold the final answers.
    void goingBackNeverChangesTheQuestions()
    {
        QRandomGenerator script(20261210);
        for (int run = 0; run < 40; ++run) {
            const int n = int(script.bounded(3, 9));
            const quint32 seed = script.generate();
            QStringList names;
            for (int i = 0; i < n; ++i)
                names << QStringLiteral("Ценность %1").arg(i + 1);
            quint32 expectedState = 0;
            const QStringList expected = QuestionsWithoutGoingBack(names, seed, &expectedState);

            kvtest::FakeDialogs dialogs;
            TvsRandom random(seed);
            TfmValuesCompare dialog(dialogs, nullptr, random);
            Chosen chosen(names);
            QStringList mismatches;
            QMap<int, quint8> lastChoice;
            int backs = 0;
            auto met = kvtest::AnswerModal([&](QWidget* modal) {
                for (int step = 0; modal->isVisible() && step < 2000; ++step) {
                    const int k = Number(modal->windowTitle());
                    const Screen now = Look(modal);
                    if (now.upper + u'/' + now.lower != expected.value(k - 1))
                        mismatches << QStringLiteral("question %1: %2/%3").arg(k).arg(now.upper, now.lower);
                    if (k > 1 && script.bounded(3) == 0) {
                        for (int b = int(script.bounded(1, 4)); b > 0; --b, ++backs)
                            QTest::keyClick(modal, Qt::Key_Backspace);
                        continue;
                    }
                    const quint8 choice = quint8(script.bounded(1, 3));
                    lastChoice[k] = choice;
                    Button(modal, choice == 1 ? "bbItem1" : "bbItem2")->click();
                }
            });
            QVERIFY(dialog.Execute(chosen.pairs, chosen.groups, chosen.checked));
            QVERIFY(*met);
            QVERIFY2(mismatches.isEmpty(), qPrintable(mismatches.join(u'\n')));
            QCOMPARE(random.State(), expectedState);

            const TvsAnswerLog& log = dialog.AnswerLog();
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

    void breakAsksAndNoKeepsTheQuestion()
    {
        kvtest::FakeDialogs dialogs;
        dialogs.answers = {QMessageBox::No, QMessageBox::Yes};
        TvsRandom random;
        TfmValuesCompare dialog(dialogs, nullptr, random);
        Chosen chosen({QStringLiteral("а"), QStringLiteral("б"), QStringLiteral("в"), QStringLiteral("г")});
        Screen before, afterNo;
        bool visibleAfterNo = false;
        auto met = kvtest::AnswerModal([&](QWidget* modal) {
            Button(modal, "bbItem2")->click();
            before = Look(modal);
            Button(modal, "bbBreak")->click(); // No
            afterNo = Look(modal);
            visibleAfterNo = modal->isVisible();
            Button(modal, "bbBreak")->click(); // Yes
        });
        QVERIFY(!dialog.Execute(chosen.pairs, chosen.groups, chosen.checked));
        QVERIFY(*met);
        QVERIFY(visibleAfterNo);
        QCOMPARE(afterNo.caption, before.caption);
        QCOMPARE(afterNo.upper + afterNo.lower, before.upper + before.lower);
        QCOMPARE(dialogs.messages.size(), 2);
        QCOMPARE(dialogs.messages[0].kind, Dialogs::Kind::Confirmation);
        QCOMPARE(dialogs.messages[0].text,
                 QStringLiteral("Результаты тестирования будут потеряны. Отменить тестирование?"));
        QCOMPARE(dialogs.messages[0].buttons, QMessageBox::Yes | QMessageBox::No);
        // The one answer given stays; the driver decides what to do with it.
        QCOMPARE(chosen.scores(), QList<int>({0, 1, 0, 0}));
        QCOMPARE(dialog.PairNumber(), 2);
    }

    void escapeDoesNotCancelTitleBarDoes()
    {
        kvtest::FakeDialogs dialogs;
        TvsRandom random;
        TfmValuesCompare dialog(dialogs, nullptr, random);
        Chosen chosen({QStringLiteral("а"), QStringLiteral("б"), QStringLiteral("в")});
        bool visibleAfterEscape = false;
        auto met = kvtest::AnswerModal([&](QWidget* modal) {
            QTest::keyClick(modal, Qt::Key_Escape);
            visibleAfterEscape = modal->isVisible();
            modal->close();
        });
        QVERIFY(!dialog.Execute(chosen.pairs, chosen.groups, chosen.checked));
        QVERIFY(*met);
        QVERIFY(visibleAfterEscape);
        QVERIFY2(dialogs.messages.isEmpty(), "closing from the title bar asks nothing");
    }

    void failureBeforeTheFirstQuestionIsACancel()
    {
        kvtest::FakeDialogs dialogs;
        TvsRandom random;
        TfmValuesCompare dialog(dialogs, nullptr, random);
        Chosen chosen({QStringLiteral("а"), QStringLiteral("б"), QStringLiteral("в")});
        // A pair list with its head alone has no partner to draw.
        chosen.pairs.front()->Delete(2);
        chosen.pairs.front()->Delete(1);
        auto met = kvtest::AnswerModal([](QWidget* modal) { modal->close(); }, 300);
        QVERIFY(!dialog.Execute(chosen.pairs, chosen.groups, chosen.checked));
        QVERIFY2(!*met, "the dialog must not be shown");
        QVERIFY(dialogs.messages.isEmpty());
        QVERIFY(dialogs.errors.isEmpty());
    }
};

QTEST_MAIN(TestValuesCompare)
#include "test_valuescompare.moc"
