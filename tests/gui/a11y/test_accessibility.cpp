// What a screen reader gets from every window: a window role and caption, a name for every control
// the keyboard can reach, captions that fit, the live count of chosen values and the question being
// asked.
#include "AccessibilityCheck.h"
#include "WindowFixture.h"
#include "core/session/PairDraw.h"
#include "gui/catalogue/uvsAddValueDialog.h"
#include "gui/compare/uvsValuesCompare.h"
#include "gui/history/uvsDetailedResult.h"
#include "gui/history/uvsTestGrid.h"
#include "gui/main/kvendar_main.h"
#include "gui/results/uvsResults.h"
#include "gui/settings/HelpWindow.h"
#include "gui/settings/uvsAbout.h"
#include "gui/settings/uvsSettings.h"
#include "support/TestSupport.h"

#include <QAccessible>
#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>
#include <QtTest/QtTest>

using namespace kv;

namespace {

using Fixture = kvtest::WindowFixture;
using kvtest::FillResults;

// Opens one window as the program would and hands it, shown, to check.
using Opener = std::function<void(Fixture&, const std::function<void(QWidget*)>& check)>;

void Shown(QWidget& window, const std::function<void(QWidget*)>& check)
{
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    check(&window);
    window.close();
}

} // namespace

Q_DECLARE_METATYPE(Opener)

class TestAccessibility : public QObject
{
    Q_OBJECT

private slots:
    void everyWindowSpeaksAndFits_data()
    {
        QTest::addColumn<Opener>("open");
        QTest::newRow("main") << Opener([](Fixture& f, const auto& check) {
            TfmMain window(f.context);
            Shown(window, check);
        });
        QTest::newRow("comparison") << Opener([](Fixture& f, const auto& check) {
            TvsValueTypeList groups;
            for (int g = 1; g <= 4; ++g)
                groups.Items(groups.Add(QStringLiteral("Группа %1").arg(g), QString())).Number = g;
            TvsValueList checked;
            for (const QString& name :
                 {QStringLiteral("Любовь"), QStringLiteral("Здоровье"), QStringLiteral("Свобода")})
                checked.Add(name, 1, groups.Items(0).Name);
            TvsPairLists pairs;
            BuildPairLists(checked, pairs);
            TvsRandom random;
            TfmValuesCompare dialog(f.dialogs, nullptr, random);
            auto met = kvtest::AnswerModal([&](QWidget* modal) {
                check(modal);
                modal->close();
            });
            dialog.Execute(pairs, groups, checked);
            QVERIFY(*met);
        });
        QTest::newRow("results") << Opener([](Fixture& f, const auto& check) {
            TvsValueTypeList result;
            FillResults(result);
            TfmResults window(f.context);
            auto met = kvtest::AnswerModal([&](QWidget* modal) {
                check(modal);
                // The mail tab's controls only get their room once it is shown.
                auto* tabs = modal->findChild<QTabWidget*>(QStringLiteral("pcData"));
                for (int i = 1; i < tabs->count(); ++i) {
                    tabs->setCurrentIndex(i);
                    check(modal);
                }
                f.dialogs.answers = {QMessageBox::Yes};
                modal->close();
            });
            window.Execute(result);
            QVERIFY(*met);
        });
        QTest::newRow("history") << Opener([](Fixture& f, const auto& check) {
            TvsValueTypeList catalogue;
            TfmTestGrid window(f.context, catalogue);
            Shown(window, check);
        });
        QTest::newRow("detailed") << Opener([](Fixture& f, const auto& check) {
            TvsValueTypeList result;
            FillResults(result);
            TvsDBTestRec rec;
            rec.SetFio(QStringLiteral("Петрова Анна"));
            TfmDetailedResult window(f.context);
            window.Compose(rec, result);
            Shown(window, check);
        });
        QTest::newRow("settings") << Opener([](Fixture& f, const auto& check) {
            TfmSettings window(f.context.settingsFile);
            Shown(window, check);
        });
        QTest::newRow("about") << Opener([](Fixture& f, const auto& check) {
            TfmAbout window(f.dialogs);
            Shown(window, check);
        });
        QTest::newRow("help") << Opener([](Fixture& f, const auto& check) {
            TfmMain main(f.context);
            TfmHelp window(f.exe.path(), &main);
            window.ShowContents();
            Shown(window, check);
        });
        QTest::newRow("add value") << Opener([](Fixture&, const auto& check) {
            TfmAddValueDialog window;
            auto met = kvtest::AnswerModal([&](QWidget* modal) {
                check(modal);
                modal->close();
            });
            window.Execute(QStringLiteral("Эмоциональные ценности"));
            QVERIFY(*met);
        });
    }

    void everyWindowSpeaksAndFits()
    {
        QFETCH(Opener, open);
        Fixture f;
        bool checked = false;
        open(f, [&](QWidget* window) {
            checked = true;
            const QStringList problems = kvtest::AccessibilityProblems(window);
            QVERIFY2(problems.isEmpty(), qPrintable(problems.join(u'\n')));
        });
        QVERIFY(checked);
    }

    // The walker itself must see the faults it is there for.
    void checkFindsSilentAndCutControls()
    {
        QWidget window;
        window.setWindowTitle(QStringLiteral("Окно"));
        auto* unnamed = new QPushButton(&window);
        unnamed->setObjectName(QStringLiteral("unnamed"));
        unnamed->setGeometry(0, 0, 40, 25);
        auto* narrow = new QPushButton(QStringLiteral("Сохранить в файл"), &window);
        narrow->setObjectName(QStringLiteral("narrow"));
        narrow->setGeometry(0, 30, 60, 25);
        auto* cut = new QLabel(QStringLiteral("Количество выбранных ценностей"), &window);
        cut->setObjectName(QStringLiteral("cut"));
        cut->setGeometry(0, 60, 50, 18);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        const QString problems = kvtest::AccessibilityProblems(&window).join(u'\n');
        QVERIFY2(problems.contains(QStringLiteral("reaches screen readers with role")), qPrintable(problems));
        QVERIFY2(problems.contains(QStringLiteral("unnamed (QPushButton): focusable without a name")),
                 qPrintable(problems));
        QVERIFY2(problems.contains(QStringLiteral("narrow (QPushButton): caption")), qPrintable(problems));
        QVERIFY2(problems.contains(QStringLiteral("cut (QLabel): text")), qPrintable(problems));
    }

    void counterIsTheDescriptionOfTheChosenTree()
    {
        Fixture f;
        TfmMain window(f.context);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        auto* checked = window.findChild<QTreeWidget*>(QStringLiteral("tvChecked"));
        auto* source = window.findChild<QTreeWidget*>(QStringLiteral("tvSource"));
        QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(checked);
        QCOMPARE(iface->text(QAccessible::Name), QStringLiteral("Ценности выбранные для тестирования"));
        QCOMPARE(iface->text(QAccessible::Description), QStringLiteral("Количество выбранных ценностей: 0"));

        QTreeWidgetItem* group = source->topLevelItem(0);
        window.CheckValue(group->child(0));
        window.CheckValue(group->child(1));
        QCOMPARE(iface->text(QAccessible::Description), QStringLiteral("Количество выбранных ценностей: 2"));
        window.UncheckValue(checked->topLevelItem(0)->child(0));
        QCOMPARE(iface->text(QAccessible::Description), QStringLiteral("Количество выбранных ценностей: 1"));
        QCOMPARE(iface->text(QAccessible::Description), window.CheckedCountText());
    }

    void comparisonDescribesTheQuestion()
    {
        kvtest::FakeDialogs dialogs;
        TvsValueTypeList groups;
        for (int g = 1; g <= 4; ++g)
            groups.Items(groups.Add(QStringLiteral("Группа %1").arg(g), QString())).Number = g;
        TvsValueList checked;
        for (const QString& name : {QStringLiteral("Любовь"), QStringLiteral("Здоровье"), QStringLiteral("Свобода")})
            checked.Add(name, 1, groups.Items(0).Name);
        TvsPairLists pairs;
        BuildPairLists(checked, pairs);
        TvsRandom random;
        TfmValuesCompare dialog(dialogs, nullptr, random);
        QStringList descriptions;
        auto met = kvtest::AnswerModal([&](QWidget* modal) {
            QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(modal);
            auto* upper = modal->findChild<QPushButton*>(QStringLiteral("bbItem1"));
            auto* back = modal->findChild<QPushButton*>(QStringLiteral("bbBack"));
            descriptions << iface->text(QAccessible::Description);
            upper->click();
            descriptions << iface->text(QAccessible::Description);
            back->click(); // the previous question again, and the description follows
            descriptions << iface->text(QAccessible::Description);
            for (int i = 0; i < 3; ++i) {
                upper->click();
                if (modal->isVisible())
                    descriptions << iface->text(QAccessible::Description);
            }
        });
        QVERIFY(dialog.Execute(pairs, groups, checked));
        QVERIFY(*met);
        const QString asked = QStringLiteral("Что для Вас важнее? Вопрос %1 из 3");
        QCOMPARE(descriptions, QStringList({asked.arg(1), asked.arg(2), asked.arg(1), asked.arg(2), asked.arg(3)}));
    }

    void helpIsAWindowWithItsCaption()
    {
        Fixture f;
        TfmMain main(f.context);
        TfmHelp help(f.exe.path(), &main);
        help.show();
        QVERIFY(QTest::qWaitForWindowExposed(&help));
        QVERIFY(help.isWindow());
        QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(&help);
        QCOMPARE(iface->role(), QAccessible::Window);
        QCOMPARE(iface->text(QAccessible::Name), help.windowTitle());
        QVERIFY(!help.windowTitle().isEmpty());
    }
};

QTEST_MAIN(TestAccessibility)
#include "test_accessibility.moc"
