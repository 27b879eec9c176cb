// Every window worked by the keyboard alone: keys go through the application to whatever has the
// focus, as the window system delivers them, never to a slot.
#include "WindowFixture.h"
#include "core/session/PairDraw.h"
#include "gui/catalogue/uvsAddValueDialog.h"
#include "gui/compare/uvsValuesCompare.h"
#include "gui/history/uvsTestGrid.h"
#include "gui/main/kvendar_main.h"
#include "gui/results/uvsResults.h"
#include "gui/settings/HelpWindow.h"
#include "gui/settings/uvsAbout.h"
#include "gui/settings/uvsSettings.h"
#include "support/HistoryFixtures.h"
#include "support/TestSupport.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QDesktopServices>
#include <QLineEdit>
#include <QMenu>
#include <QTabWidget>
#include <QTableView>
#include <QTreeWidget>
#include <QtTest/QtTest>

using namespace kv;

// Stands in for the desktop's mail program and browser.
class UrlCatcher : public QObject
{
    Q_OBJECT

public:
    QList<QUrl> urls;

public slots:
    void open(const QUrl& url) { urls << url; }
};

namespace {

// Text that the window system sends with these keys: on X11 Tab, Escape, Delete and Enter carry
// control characters, elsewhere they carry none. Both must work.
struct KeyTexts
{
    bool x11 = false;
    QString Of(Qt::Key key) const
    {
        if (!x11)
            return QString();
        switch (key) {
        case Qt::Key_Tab:
        case Qt::Key_Backtab:
            return QStringLiteral("\t");
        case Qt::Key_Escape:
            return QStringLiteral("\x1b");
        case Qt::Key_Delete:
            return QStringLiteral("\x7f");
        case Qt::Key_Return:
            return QStringLiteral("\r");
        case Qt::Key_Backspace:
            return QStringLiteral("\b");
        default:
            return QString();
        }
    }
};

QWidget* Focus()
{
    return QApplication::focusWidget();
}

QString FocusName()
{
    return Focus() != nullptr ? Focus()->objectName() : QStringLiteral("<nothing>");
}

// One key press and release, sent to the widget that has the focus.
void Press(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier, const QString& text = QString())
{
    QWidget* target = Focus();
    QVERIFY2(target != nullptr, "nothing has the keyboard focus");
    QTest::sendKeyEvent(QTest::Click, target, key, text, modifiers);
}

void Type(const QString& text)
{
    for (QChar c : text)
        Press(Qt::Key_unknown, Qt::NoModifier, QString(c));
}

// The controls that Tab has to reach: visible, enabled and taking focus by Tab.
QSet<QWidget*> TabStops(QWidget* window)
{
    QSet<QWidget*> stops;
    for (QWidget* w : window->findChildren<QWidget*>())
        if (w->window() == window && w->isVisible() && w->isEnabled() && (w->focusPolicy() & Qt::TabFocus) &&
            w->focusProxy() == nullptr)
            stops.insert(w);
    return stops;
}

// Tab from the current focus: every stop is reached and the focus comes back where it started, then
// Shift+Tab does the same the other way round. A control that keeps the focus is a trap.
void TabCycles(QWidget* window, const KeyTexts& texts)
{
    const QSet<QWidget*> stops = TabStops(window);
    QVERIFY(!stops.isEmpty());
    for (bool back : {false, true}) {
        QWidget* start = Focus();
        QVERIFY(start != nullptr);
        QSet<QWidget*> seen;
        QStringList path;
        bool returned = false;
        for (int i = 0; i < 2 * stops.size() + 2 && !returned; ++i) {
            if (back)
                Press(Qt::Key_Backtab, Qt::ShiftModifier, texts.Of(Qt::Key_Backtab));
            else
                Press(Qt::Key_Tab, Qt::NoModifier, texts.Of(Qt::Key_Tab));
            seen.insert(Focus());
            path << FocusName();
            returned = Focus() == start;
        }
        QVERIFY2(returned, qPrintable(QStringLiteral("Tab never came back to %1: %2")
                                          .arg(start->objectName(), path.join(QStringLiteral(", ")))));
        for (QWidget* stop : stops)
            QVERIFY2(seen.contains(stop), qPrintable(QStringLiteral("Tab never reached %1").arg(stop->objectName())));
    }
}

void AddTextRows()
{
    QTest::addColumn<bool>("x11");
    QTest::newRow("keys without text") << false;
    QTest::newRow("keys with X11 text") << true;
}

using Fixture = kvtest::WindowFixture;
using kvtest::FillResults;

int CountValues(QTreeWidget* tree)
{
    int n = 0;
    for (int i = 0; i < tree->topLevelItemCount(); ++i)
        n += tree->topLevelItem(i)->childCount();
    return n;
}

} // namespace

class TestKeyboard : public QObject
{
    Q_OBJECT

private slots:
    void resultsWindow_data() { AddTextRows(); }

    void resultsWindow()
    {
        QFETCH(bool, x11);
        const KeyTexts texts{x11};
        Fixture f;
        TvsValueTypeList result;
        FillResults(result);
        TfmResults window(f.context);
        UrlCatcher mail;
        QDesktopServices::setUrlHandler(QStringLiteral("mailto"), &mail, "open");
        auto met = kvtest::AnswerModal([&](QWidget* modal) {
            // A check that fails part-way still leaves through a Yes, so the modal loop ends.
            struct CloseOnExit
            {
                Fixture& f;
                QWidget* modal;
                ~CloseOnExit()
                {
                    if (!modal->isVisible())
                        return;
                    f.dialogs.answers = {QMessageBox::Yes};
                    modal->close();
                }
            } closeOnExit{f, modal};
            QVERIFY(QTest::qWaitForWindowActive(modal));
            auto* age = modal->findChild<QLineEdit*>(QStringLiteral("edAge"));
            age->setFocus();
            QCOMPARE(Focus(), age);
            Type(QStringLiteral("3x5"));
            QCOMPARE(age->text(), QStringLiteral("35"));
            Press(Qt::Key_Tab, Qt::NoModifier, texts.Of(Qt::Key_Tab));
            QCOMPARE(FocusName(), QStringLiteral("cxSex"));
            Press(Qt::Key_Backtab, Qt::ShiftModifier, texts.Of(Qt::Key_Backtab));
            QCOMPARE(Focus(), age);

            // Editing keys work as in any line edit, and a pasted text keeps its digits only.
            Press(Qt::Key_Home);
            Press(Qt::Key_Delete, Qt::NoModifier, texts.Of(Qt::Key_Delete));
            QCOMPARE(age->text(), QStringLiteral("5"));
            Press(Qt::Key_End);
            Press(Qt::Key_Backspace, Qt::NoModifier, texts.Of(Qt::Key_Backspace));
            QCOMPARE(age->text(), QString());
            QApplication::clipboard()->setText(QStringLiteral("4 года, 2"));
            Press(Qt::Key_V, Qt::ControlModifier, QString(QChar(0x16)));
            QCOMPARE(age->text(), QStringLiteral("42"));
            Press(Qt::Key_A, Qt::ControlModifier, QString(QChar(0x01)));
            Press(Qt::Key_X, Qt::ControlModifier, QString(QChar(0x18)));
            QCOMPARE(age->text(), QString());
            QCOMPARE(QApplication::clipboard()->text(), QStringLiteral("42"));
            Press(Qt::Key_Z, Qt::ControlModifier, QString(QChar(0x1a)));
            QCOMPARE(age->text(), QStringLiteral("42"));

            // Escape asks the close question; No keeps the window.
            f.dialogs.answers = {QMessageBox::No};
            Press(Qt::Key_Escape, Qt::NoModifier, texts.Of(Qt::Key_Escape));
            QCOMPARE(f.dialogs.messages.size(), 1);
            QVERIFY(modal->isVisible());
            QCOMPARE(Focus(), age);

            TabCycles(modal, texts);

            // Between the tabs without leaving the keyboard.
            auto* tabs = modal->findChild<QTabWidget*>(QStringLiteral("pcData"));
            Press(Qt::Key_Tab, Qt::ControlModifier, texts.Of(Qt::Key_Tab));
            QCOMPARE(tabs->currentIndex(), 1);
            Press(Qt::Key_PageUp, Qt::ControlModifier);
            QCOMPARE(tabs->currentIndex(), 0);
            Press(Qt::Key_PageDown, Qt::ControlModifier);
            QCOMPARE(tabs->currentIndex(), 1);
            QVERIFY(Focus() != nullptr && Focus()->window() == modal);
            TabCycles(modal, texts);

            // The mail link follows Enter once Tab has reached it.
            for (int i = 0; i < 10 && FocusName() != QLatin1String("laSend"); ++i)
                Press(Qt::Key_Tab, Qt::NoModifier, texts.Of(Qt::Key_Tab));
            QCOMPARE(FocusName(), QStringLiteral("laSend"));
            Press(Qt::Key_Return, Qt::NoModifier, texts.Of(Qt::Key_Return));
            QCOMPARE(mail.urls.size(), 1);

            f.dialogs.answers = {QMessageBox::Yes};
            Press(Qt::Key_Escape, Qt::NoModifier, texts.Of(Qt::Key_Escape));
            QVERIFY(!modal->isVisible());
        });
        window.Execute(result);
        QDesktopServices::unsetUrlHandler(QStringLiteral("mailto"));
        QVERIFY(*met);
        QVERIFY(!window.isVisible());
        QCOMPARE(f.dialogs.messages.size(), 2);
    }

    void mainWindowChoosesAndTakesBack_data() { AddTextRows(); }

    void mainWindowChoosesAndTakesBack()
    {
        QFETCH(bool, x11);
        const KeyTexts texts{x11};
        Fixture f;
        TfmMain window(f.context);
        window.show();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        auto* source = window.findChild<QTreeWidget*>(QStringLiteral("tvSource"));
        auto* checked = window.findChild<QTreeWidget*>(QStringLiteral("tvChecked"));
        source->setFocus();
        QCOMPARE(Focus(), source);
        TabCycles(&window, texts);
        QCOMPARE(Focus(), source);

        // The first group is open: Down reaches its first value, Enter chooses it, and the next two.
        source->setCurrentItem(source->topLevelItem(0));
        for (int i = 0; i < 3; ++i) {
            Press(Qt::Key_Down);
            Press(Qt::Key_Return, Qt::NoModifier, texts.Of(Qt::Key_Return));
        }
        QCOMPARE(CountValues(checked), 3);
        QCOMPARE(window.CheckedCountText(), QStringLiteral("Количество выбранных ценностей: 3"));

        // A closed group opens with Right; its values are reached with the arrows.
        source->setCurrentItem(source->topLevelItem(1));
        QVERIFY(!source->topLevelItem(1)->isExpanded());
        Press(Qt::Key_Right);
        QVERIFY(source->topLevelItem(1)->isExpanded());

        // Over to the chosen values: Enter on a value takes it back.
        Press(Qt::Key_Tab, Qt::NoModifier, texts.Of(Qt::Key_Tab));
        QCOMPARE(Focus(), checked);
        checked->setCurrentItem(checked->topLevelItem(0));
        Press(Qt::Key_Down);
        Press(Qt::Key_Return, Qt::NoModifier, texts.Of(Qt::Key_Return));
        QCOMPARE(CountValues(checked), 2);

        // Enter on "Добавить..." opens the add-value dialog, which Escape closes.
        QTreeWidgetItem* group = source->topLevelItem(1);
        source->setFocus();
        source->setCurrentItem(group->child(group->childCount() - 1));
        QCOMPARE(source->currentItem()->text(0), QStringLiteral("Добавить..."));
        QString opened;
        auto met = kvtest::AnswerModal([&](QWidget* modal) {
            opened = QString::fromLatin1(modal->metaObject()->className());
            Press(Qt::Key_Escape, Qt::NoModifier, texts.Of(Qt::Key_Escape));
        });
        Press(Qt::Key_Return, Qt::NoModifier, texts.Of(Qt::Key_Return));
        QVERIFY(*met);
        QCOMPARE(opened, QStringLiteral("kv::TfmAddValueDialog"));
        QCOMPARE(group->child(group->childCount() - 1)->text(0), QStringLiteral("Добавить..."));
    }

    void comparisonAnswersByKeys_data() { AddTextRows(); }

    void comparisonAnswersByKeys()
    {
        QFETCH(bool, x11);
        const KeyTexts texts{x11};
        kvtest::FakeDialogs dialogs;
        TvsValueTypeList groups;
        for (int g = 1; g <= 4; ++g)
            groups.Items(groups.Add(QStringLiteral("Группа %1").arg(g), QString())).Number = g;
        TvsValueList chosen;
        for (const QString& name : {QStringLiteral("Любовь"), QStringLiteral("Здоровье"), QStringLiteral("Свобода")})
            chosen.Add(name, 1, groups.Items(0).Name);
        TvsPairLists pairs;
        BuildPairLists(chosen, pairs);
        TvsRandom random;
        TfmValuesCompare dialog(dialogs, nullptr, random);
        auto met = kvtest::AnswerModal([&](QWidget* modal) {
            QVERIFY(QTest::qWaitForWindowActive(modal));
            QCOMPARE(FocusName(), QStringLiteral("bbItem1"));
            TabCycles(modal, texts);
            // Escape does not end the test behind the respondent's back.
            Press(Qt::Key_Escape, Qt::NoModifier, texts.Of(Qt::Key_Escape));
            QVERIFY(modal->isVisible());
            Press(Qt::Key_Return, Qt::NoModifier, texts.Of(Qt::Key_Return)); // upper: Любовь over Здоровье
            QCOMPARE(modal->windowTitle(), QStringLiteral("Попарное сравнение 2 из 3"));
            Press(Qt::Key_Tab, Qt::NoModifier, texts.Of(Qt::Key_Tab));
            QCOMPARE(FocusName(), QStringLiteral("bbItem2"));
            Press(Qt::Key_Space, Qt::NoModifier, QStringLiteral(" ")); // lower: Свобода over Любовь
            Press(Qt::Key_Return, Qt::NoModifier, texts.Of(Qt::Key_Return));
        });
        QVERIFY(dialog.Execute(pairs, groups, chosen));
        QVERIFY(*met);
        int total = 0;
        for (int i = 0; i < chosen.Count(); ++i)
            total += chosen.Items(i).Score;
        QCOMPARE(total, 3);
        QCOMPARE(chosen.Items(0).Score, 1);
    }

    void historyOpensATestWithEnter_data() { AddTextRows(); }

    void historyOpensATestWithEnter()
    {
        QFETCH(bool, x11);
        const KeyTexts texts{x11};
        Fixture f;
        const QDateTime when(QDate(2024, 3, 5), QTime(10, 0));
        QDir().mkpath(f.context.dataDir());
        f.exe.write(QStringLiteral("Data/tests.dat"),
                    kvtest::Bytes(kvtest::TestRecord(1, QStringLiteral("Иванов"), when, {1, 0, 2, 0})) +
                        kvtest::Bytes(kvtest::TestRecord(2, QStringLiteral("Петрова"), when, {0, 3, 0, 0})));
        f.exe.write(QStringLiteral("Data/values.dat"), kvtest::ValueRecords({{1, 1, QStringLiteral("Свобода"), 1},
                                                                             {1, 3, QStringLiteral("Любовь"), 2},
                                                                             {2, 2, QStringLiteral("Здоровье"), 3}}));
        TvsValueTypeList catalogue;
        kvtest::FillCatalogue(catalogue, {QStringLiteral("Идеологические"), QStringLiteral("Материальные"),
                                          QStringLiteral("Эмоциональные"), QStringLiteral("Витальные")});
        TfmTestGrid grid(f.context, catalogue);
        QStringList shown;
        auto met = kvtest::AnswerModal([&](QWidget* modal) {
            QVERIFY(QTest::qWaitForWindowActive(modal));
            QCOMPARE(FocusName(), QStringLiteral("sgTest"));
            Press(Qt::Key_Down); // the first test, then the second
            Press(Qt::Key_Down);
            for (int i = 0; i < 2; ++i) {
                auto detailed = kvtest::AnswerModal([&](QWidget* inner) {
                    QVERIFY(QTest::qWaitForWindowActive(inner));
                    shown << inner->windowTitle();
                    TabCycles(inner, texts);
                    Press(Qt::Key_Escape, Qt::NoModifier, texts.Of(Qt::Key_Escape));
                });
                Press(i == 0 ? Qt::Key_Return : Qt::Key_Enter, i == 0 ? Qt::NoModifier : Qt::KeypadModifier,
                      texts.Of(Qt::Key_Return));
                QVERIFY(*detailed);
                // The offscreen platform leaves no window active once one hides; a desktop gives
                // the activation back to the window underneath.
                modal->activateWindow();
                QVERIFY(QTest::qWaitForWindowActive(modal));
                QCOMPARE(FocusName(), QStringLiteral("sgTest"));
            }
            Press(Qt::Key_Escape, Qt::NoModifier, texts.Of(Qt::Key_Escape));
        });
        grid.exec();
        QVERIFY(*met);
        QVERIFY(!grid.isVisible());
        const QString title = QStringLiteral("Интерпретация результатов теста. Тестируемый: Петрова");
        QCOMPARE(shown, QStringList({title, title}));
    }

    void helpClosesWithEscape_data() { AddTextRows(); }

    void helpClosesWithEscape()
    {
        QFETCH(bool, x11);
        const KeyTexts texts{x11};
        Fixture f;
        TfmMain window(f.context);
        window.show();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        Press(Qt::Key_F1);
        auto* help = window.findChild<TfmHelp*>();
        QVERIFY(help != nullptr);
        // The offscreen platform drops an activation asked for before the window is exposed, which
        // the program does right after showing it; a desktop honours it.
        QVERIFY(QTest::qWaitForWindowExposed(help));
        help->activateWindow();
        QTRY_COMPARE(QApplication::activeWindow(), help);
        QCOMPARE(FocusName(), QStringLiteral("reHelp"));
        Press(Qt::Key_Escape, Qt::NoModifier, texts.Of(Qt::Key_Escape));
        QVERIFY(!help->isVisible());
    }

    void menusOpenFromTheKeyboard()
    {
        Fixture f;
        TfmMain window(f.context);
        window.show();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        Press(Qt::Key_F10);
        QTRY_VERIFY(QApplication::activePopupWidget() != nullptr);
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        QVERIFY(menu != nullptr);
        QCOMPARE(menu->title(), QStringLiteral("Файл"));
        // While a menu is open the window system delivers keys to it, not to the focus widget.
        QTest::keyClick(menu, Qt::Key_Escape);
        QTRY_VERIFY(QApplication::activePopupWidget() == nullptr);
    }

    void settingsAndAbout_data() { AddTextRows(); }

    void settingsAndAbout()
    {
        QFETCH(bool, x11);
        const KeyTexts texts{x11};
        kvtest::FakeDialogs dialogs;
        TfmSettings settings(QStringLiteral("/home/anna/.config/Orvanta/Kvendar.ini"));
        settings.SetSaveForm(false);
        auto met = kvtest::AnswerModal([&](QWidget* modal) {
            QVERIFY(QTest::qWaitForWindowActive(modal));
            TabCycles(modal, texts);
            for (int i = 0; i < 5 && FocusName() != QLatin1String("cbSaveForm"); ++i)
                Press(Qt::Key_Tab, Qt::NoModifier, texts.Of(Qt::Key_Tab));
            QCOMPARE(FocusName(), QStringLiteral("cbSaveForm"));
            Press(Qt::Key_Space, Qt::NoModifier, QStringLiteral(" "));
            Press(Qt::Key_Return, Qt::NoModifier, texts.Of(Qt::Key_Return));
        });
        QCOMPARE(settings.exec(), int(QDialog::Accepted));
        QVERIFY(*met);
        QVERIFY(settings.SaveForm());

        UrlCatcher browser;
        QDesktopServices::setUrlHandler(QStringLiteral("https"), &browser, "open");
        TfmAbout about(dialogs);
        met = kvtest::AnswerModal([&](QWidget* modal) {
            QVERIFY(QTest::qWaitForWindowActive(modal));
            TabCycles(modal, texts);
            for (int i = 0; i < 5 && FocusName() != QLatin1String("laRef"); ++i)
                Press(Qt::Key_Tab, Qt::NoModifier, texts.Of(Qt::Key_Tab));
            QCOMPARE(FocusName(), QStringLiteral("laRef"));
            Press(Qt::Key_Return, Qt::NoModifier, texts.Of(Qt::Key_Return));
            QCOMPARE(browser.urls.size(), 1);
            QVERIFY(modal->isVisible());
            Press(Qt::Key_Escape, Qt::NoModifier, texts.Of(Qt::Key_Escape));
        });
        QCOMPARE(about.exec(), int(QDialog::Rejected));
        QDesktopServices::unsetUrlHandler(QStringLiteral("https"));
        QVERIFY(*met);
    }
};

QTEST_MAIN(TestKeyboard)
#include "test_keyboard.moc"
