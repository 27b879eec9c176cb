// A whole test through the main window: the selection check, the comparison, the results window and
// the reset that readies the window for the next respondent.
#include "core/session/PairDraw.h"
#include "gui/main/kvendar_main.h"
#include "gui/results/uvsResults.h"
#include "gui/widgets/NodeTag.h"
#include "support/TestSupport.h"

#include <QAction>
#include <QApplication>
#include <QPushButton>
#include <QTabWidget>
#include <QTextEdit>
#include <QTimer>
#include <QTreeWidget>
#include <QtTest/QtTest>

using namespace kv;
using kvtest::Cp;

namespace {

QTreeWidget* Tree(QWidget* window, const char* name)
{
    return window->findChild<QTreeWidget*>(QLatin1String(name));
}

// The value nodes of tvSource in tree order, group by group.
QList<QTreeWidgetItem*> SourceValues(QWidget* window, int group)
{
    QList<QTreeWidgetItem*> values;
    QTreeWidgetItem* heading = Tree(window, "tvSource")->topLevelItem(group - 1);
    for (int i = 0; i < heading->childCount(); ++i)
        if (NodeTag(heading->child(i))->Kind == kValueNode)
            values << heading->child(i);
    return values;
}

// Chooses n values, taking the groups in turn.
void Choose(TfmMain& window, int n)
{
    for (int i = 0; i < n; ++i)
        window.CheckValue(SourceValues(&window, i % 4 + 1).at(i / 4));
}

void DoubleClick(QTreeWidget* tree, QTreeWidgetItem* item)
{
    item->parent()->setExpanded(true);
    tree->scrollToItem(item);
    const QPoint at = tree->visualItemRect(item).center();
    QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, at);
    QTest::mouseDClick(tree->viewport(), Qt::LeftButton, {}, at);
}

int ChosenMarks(QWidget* window)
{
    int marks = 0;
    for (int g = 1; g <= 4; ++g)
        for (QTreeWidgetItem* node : SourceValues(window, g))
            marks += NodeTag(node)->Checked ? 1 : 0;
    return marks;
}

// Closes any modal window that turns up (a comparison that should not have started), so that a
// wrong program fails the test instead of hanging it.
class ModalGuard
{
public:
    ModalGuard()
    {
        m_timer.callOnTimeout([this] {
            if (QWidget* modal = QApplication::activeModalWidget(); modal && modal->isVisible()) {
                met = true;
                modal->close();
            }
        });
        m_timer.start(10);
    }
    bool met = false;

private:
    QTimer m_timer;
};

QPushButton* Button(QWidget* window, const char* name)
{
    return window->findChild<QPushButton*>(QLatin1String(name));
}

// Answers every question of the comparison dialog from the keyboard, always the upper value, and
// records the questions as "upper / lower".
void AnswerUpperFromKeyboard(QWidget* dialog, QStringList& questions)
{
    // The focus arrives with the window's activation, which may come a little after it is shown.
    QVERIFY(QTest::qWaitFor([&] { return QApplication::focusWidget() == Button(dialog, "bbItem1"); }));
    while (dialog->isVisible()) {
        questions << Button(dialog, "bbItem1")->text() + QStringLiteral(" / ") + Button(dialog, "bbItem2")->text();
        QWidget* focused = QApplication::focusWidget();
        if (focused != Button(dialog, "bbItem1") || questions.size() > 200)
            return;
        QTest::keyClick(focused, Qt::Key_Space);
    }
}

} // namespace

class TestDriver : public QObject
{
    Q_OBJECT

private slots:
    void checkSelection_data()
    {
        QTest::addColumn<int>("n");
        QTest::addColumn<int>("answer");
        QTest::addColumn<bool>("allowed");
        QTest::addColumn<QString>("message");
        QTest::newRow("2") << 2 << 0 << false
                           << QStringLiteral("Количество выбранных ценностей должно быть больше двух.");
        QTest::newRow("3") << 3 << 0 << true << QString();
        QTest::newRow("15") << 15 << 0 << true << QString();
        QTest::newRow("16, no") << 16 << int(QMessageBox::No) << false
                                << QStringLiteral("Количество выбранных ценносте больше 15. Вам придется сделать 120 "
                                                  "сравнений. Продолжить?");
        QTest::newRow("16, yes") << 16 << int(QMessageBox::Yes) << true
                                 << QStringLiteral("Количество выбранных ценносте больше 15. Вам придется сделать 120 "
                                                   "сравнений. Продолжить?");
    }

    void checkSelection()
    {
        QFETCH(int, n);
        QFETCH(int, answer);
        QFETCH(bool, allowed);
        QFETCH(QString, message);
        kvtest::ExeDir exe;
        exe.copyShippedCatalogue();
        kvtest::FakeDialogs dialogs;
        AppContext context{exe.path(), dialogs};
        TfmMain window(context);
        Choose(window, n);
        QCOMPARE(window.CheckedCount(), n);
        if (answer != 0)
            dialogs.answers = {QMessageBox::StandardButton(answer)};
        QCOMPARE(window.CheckSelection(), allowed);
        if (message.isNull()) {
            QVERIFY(dialogs.messages.isEmpty());
            return;
        }
        QCOMPARE(dialogs.messages.size(), 1);
        QCOMPARE(dialogs.messages[0].text, message);
        if (n < 3) {
            QCOMPARE(dialogs.messages[0].kind, Dialogs::Kind::Error);
            QCOMPARE(dialogs.messages[0].buttons, QMessageBox::Ok);
        } else {
            QCOMPARE(dialogs.messages[0].kind, Dialogs::Kind::Confirmation);
            QCOMPARE(dialogs.messages[0].buttons, QMessageBox::Yes | QMessageBox::No);
        }
    }

    // A refused press runs nothing: no draw from the generator, no window, the selection kept.
    void refusedPressChangesNothing_data()
    {
        QTest::addColumn<int>("n");
        QTest::addColumn<bool>("fromMenu");
        QTest::newRow("2 values, button") << 2 << false;
        QTest::newRow("2 values, menu") << 2 << true;
        QTest::newRow("16 values, no") << 16 << false;
    }

    void refusedPressChangesNothing()
    {
        QFETCH(int, n);
        QFETCH(bool, fromMenu);
        kvtest::ExeDir exe;
        exe.copyShippedCatalogue();
        kvtest::FakeDialogs dialogs;
        AppContext context{exe.path(), dialogs};
        TfmMain window(context);
        window.show();
        Choose(window, n);
        auto* button = Button(&window, "bbTest");
        auto* menu = window.findChild<QAction*>(QStringLiteral("miTestRun"));
        QVERIFY(button->isEnabled());
        QVERIFY(menu->isEnabled());
        const quint32 state = TvsRandom::Program().State();
        ModalGuard guard;
        if (fromMenu)
            menu->trigger();
        else
            button->click();
        QVERIFY(!guard.met);
        QCOMPARE(TvsRandom::Program().State(), state);
        QCOMPARE(dialogs.messages.size(), 1);
        QCOMPARE(window.CheckedCount(), n);
        QCOMPARE(ChosenMarks(&window), n);
    }

    void wholeTestEndToEnd()
    {
        TvsRandom::Program().SetState(0); // as right after start-up
        kvtest::ExeDir exe;
        exe.copyShippedCatalogue();
        kvtest::FakeDialogs dialogs;
        AppContext context{exe.path(), dialogs};
        TfmMain window(context);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));

        // Two values of group 1, then one of group 3 and one of group 2: tvChecked keeps this order.
        QTreeWidget* source = Tree(&window, "tvSource");
        const QList<QTreeWidgetItem*> g1 = SourceValues(&window, 1);
        const QStringList names = {g1[0]->text(0), g1[1]->text(0), SourceValues(&window, 3)[0]->text(0),
                                   SourceValues(&window, 2)[0]->text(0)};
        DoubleClick(source, g1[0]);
        DoubleClick(source, g1[1]);
        DoubleClick(source, SourceValues(&window, 3)[0]);
        DoubleClick(source, SourceValues(&window, 2)[0]);
        QCOMPARE(window.CheckedCount(), 4);

        QStringList questions, logged;
        QString consistency;
        QString shownTitle;
        QStringList mail;
        QList<int> groupNumbers, groupScores;
        auto compared = kvtest::AnswerModal([&](QWidget* dialog) {
            AnswerUpperFromKeyboard(dialog, questions);
            // The results window comes next, once the comparison is gone.
            kvtest::AnswerModal([&](QWidget* results) {
                shownTitle = results->windowTitle();
                auto* shown = qobject_cast<TfmResults*>(results);
                QVERIFY(shown != nullptr && shown->ResultList() != nullptr);
                QVERIFY(shown->AnswerLog() != nullptr);
                for (const TvsAnswer& a : *shown->AnswerLog())
                    logged << QStringLiteral("%1: %2 / %3 -> %4").arg(a.Question).arg(a.Upper, a.Lower).arg(a.Chosen);
                consistency =
                    results->findChild<QTextEdit*>(QStringLiteral("reConsistency"))->toPlainText().section(u'\n', 0, 0);
                for (int g = 0; g < shown->ResultList()->Count(); ++g) {
                    groupNumbers << shown->ResultList()->Items(g).Number;
                    groupScores << shown->ResultList()->Items(g).Score;
                }
                results->findChild<QTabWidget*>(QStringLiteral("pcData"))->setCurrentIndex(1);
                mail = results->findChild<QTextEdit*>(QStringLiteral("reMail"))->toPlainText().split(u'\n');
                // A value added to an item file meanwhile shows up: the catalogue is read again.
                exe.write(QStringLiteral("vital.txt"),
                          exe.read(QStringLiteral("vital.txt")) + Cp(QStringLiteral("\r\nНовая ценность")));
                dialogs.answers = {QMessageBox::Yes};
                QTest::keyClick(results, Qt::Key_Escape);
            });
        });
        QTest::mouseClick(Button(&window, "bbTest"), Qt::LeftButton);
        QVERIFY(*compared);

        auto q = [&](int a, int b) { return names[a - 1] + QStringLiteral(" / ") + names[b - 1]; };
        QCOMPARE(questions, QStringList({q(1, 2), q(2, 3), q(1, 3), q(1, 4), q(2, 4), q(3, 4)}));
        // The results window is lent the log of the comparison just finished.
        QStringList expectedLog;
        for (int i = 0; i < questions.size(); ++i)
            expectedLog << QStringLiteral("%1: %2 -> 1").arg(i + 1).arg(questions[i]);
        QCOMPARE(logged, expectedLog);
        // Always the upper value is an order of the four values: no circular triad.
        QCOMPARE(consistency, QStringLiteral("Согласованность ответов: 1,00 (0 противоречивых троек из 2 возможных)"));
        QCOMPARE(shownTitle, QStringLiteral("Результаты тестирования"));
        // Always the upper value: 3, 2, 1 and 0 wins, so group 1 has 5, group 3 has 1, group 2 none.
        QCOMPARE(groupNumbers, QList<int>({1, 3}));
        QCOMPARE(groupScores, QList<int>({5, 1}));
        const int at = mail.indexOf(QStringLiteral("Выбранные ценности:"));
        QVERIFY(at > 0);
        QCOMPARE(mail.mid(at + 2), QStringList({QStringLiteral("Идеологические ценности: 5"),
                                                QStringLiteral("    ") + names[0] + QStringLiteral(": 3"),
                                                QStringLiteral("    ") + names[1] + QStringLiteral(": 2"), QString(),
                                                QStringLiteral("Эмоциональные ценности: 1"),
                                                QStringLiteral("    ") + names[2] + QStringLiteral(": 1"), QString()}));
        QCOMPARE(dialogs.messages.size(), 1); // the close question, answered Yes
        QVERIFY(dialogs.errors.isEmpty());

        // Reset: nothing chosen, counter 0, no marks, zero group points, the file's new value there.
        QCOMPARE(Tree(&window, "tvChecked")->topLevelItemCount(), 0);
        QCOMPARE(window.CheckedCount(), 0);
        QCOMPARE(window.CheckedCountText(), QStringLiteral("Количество выбранных ценностей: 0"));
        QCOMPARE(ChosenMarks(&window), 0);
        for (int g = 0; g < window.ValueTypes().Count(); ++g)
            QCOMPARE(window.ValueTypes().Items(g).Score, 0);
        bool added = false;
        for (QTreeWidgetItem* node : SourceValues(&window, 4))
            added = added || node->text(0) == QStringLiteral("Новая ценность");
        QVERIFY(added);
        // Twelve draws were made; the next test goes on from there.
        TvsRandom twelve;
        for (int i = 0; i < 12; ++i)
            twelve.Draw(0);
        QCOMPARE(TvsRandom::Program().State(), twelve.State());
    }

    void cancelThenRerunCountsTheSecondRunOnly()
    {
        kvtest::ExeDir exe;
        exe.copyShippedCatalogue();
        kvtest::FakeDialogs dialogs;
        AppContext context{exe.path(), dialogs};
        TfmMain window(context);
        window.show();
        Choose(window, 3);

        dialogs.answers = {QMessageBox::Yes}; // to the break question
        auto cancelled = kvtest::AnswerModal([&](QWidget* dialog) {
            Button(dialog, "bbItem2")->click();
            Button(dialog, "bbItem2")->click();
            Button(dialog, "bbBreak")->click();
        });
        Button(&window, "bbTest")->click();
        QVERIFY(*cancelled);
        QCOMPARE(window.CheckedCount(), 3);
        QCOMPARE(ChosenMarks(&window), 3);

        QList<int> groupScores;
        QList<int> valueScores;
        auto completed = kvtest::AnswerModal([&](QWidget* dialog) {
            while (dialog->isVisible())
                Button(dialog, "bbItem1")->click();
            kvtest::AnswerModal([&](QWidget* results) {
                const TvsValueTypeList& list = *qobject_cast<TfmResults*>(results)->ResultList();
                for (int g = 0; g < list.Count(); ++g) {
                    groupScores << list.Items(g).Score;
                    for (int v = 0; v < list.Items(g).Values->Count(); ++v)
                        valueScores << list.Items(g).Values->Items(v).Score;
                }
                dialogs.answers = {QMessageBox::Yes};
                Button(results, "btClose")->click();
            });
        });
        Button(&window, "bbTest")->click();
        QVERIFY(*completed);
        // Choose() took one value from each of groups 1 to 3: 2, 1 and 0 wins.
        QCOMPARE(groupScores, QList<int>({2, 1}));
        QCOMPARE(valueScores, QList<int>({2, 1}));
        QCOMPARE(window.CheckedCount(), 0);
    }

    void failingReloadStillEmptiesAndReports()
    {
        kvtest::ExeDir exe;
        exe.copyShippedCatalogue();
        kvtest::FakeDialogs dialogs;
        AppContext context{exe.path(), dialogs};
        TfmMain window(context);
        window.show();
        Choose(window, 3);
        auto completed = kvtest::AnswerModal([&](QWidget* dialog) {
            while (dialog->isVisible())
                Button(dialog, "bbItem2")->click();
            kvtest::AnswerModal([&](QWidget* results) {
                QFile::remove(exe.file(QStringLiteral("lines.txt")));
                dialogs.answers = {QMessageBox::Yes};
                results->close();
            });
        });
        Button(&window, "bbTest")->click();
        QVERIFY(*completed);
        QCOMPARE(dialogs.errors.size(), 1);
        QVERIFY2(dialogs.errors[0].contains(QStringLiteral("lines.txt")), qPrintable(dialogs.errors[0]));
        QCOMPARE(Tree(&window, "tvChecked")->topLevelItemCount(), 0);
        // The window stays usable: another press is checked as usual.
        Button(&window, "bbTest")->click();
        QCOMPARE(dialogs.messages.constLast().text,
                 QStringLiteral("Количество выбранных ценностей должно быть больше двух."));
    }
};

QTEST_MAIN(TestDriver)
#include "test_driver.moc"
