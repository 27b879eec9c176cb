// The comparison dialog as the respondent meets it: captions, answers from the keyboard, breaking
// off, and the title bar's close.
#include "compare/PairDraw.h"
#include "compare/uvsValuesCompare.h"
#include "support/TestSupport.h"

#include <QApplication>
#include <QLabel>
#include <QPushButton>
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
