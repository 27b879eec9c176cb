// The main window keeps its geometry in the settings file exactly while that file exists, and the
// settings dialog switches this on and off.
#include "core/settings/SettingsStore.h"
#include "gui/main/kvendar_main.h"
#include "gui/platform/PaintHooks.h"
#include "gui/settings/uvsSettings.h"
#include "support/TestSupport.h"
#include "support/WriteFaults.h"

#include <QAction>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QSplitter>
#include <QTreeWidget>
#include <QtTest/QtTest>

using namespace kv;

namespace {

struct Fixture
{
    kvtest::FakeDialogs dialogs;
    kvtest::ExeDir exe;
    QTemporaryDir config;
    AppContext context{exe.path(), dialogs};

    Fixture()
    {
        exe.copyShippedCatalogue();
        context.settingsFile = config.filePath(QStringLiteral("Orvanta/Kvendar.ini"));
    }
    QString folder() const { return config.filePath(QStringLiteral("Orvanta")); }
    bool keyExists() const { return QFileInfo(context.settingsFile).isFile(); }
    void writeKey(const QByteArray& bytes) const
    {
        QDir().mkpath(folder());
        QFile f(context.settingsFile);
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(bytes) != bytes.size())
            qFatal("cannot write the settings file");
    }
    QByteArray key() const
    {
        QFile f(context.settingsFile);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
};

QWidget* Child(QWidget& window, const char* name)
{
    return window.findChild<QWidget*>(QLatin1String(name));
}

// The values as "Name=Value" lines, in the order the file holds them.
QStringList ValueLines(const QByteArray& key)
{
    QStringList lines = QString::fromUtf8(key).split(u'\n', Qt::SkipEmptyParts);
    lines.removeAll(QStringLiteral("[Kvendar]"));
    return lines;
}

bool CatalogueLoaded(QWidget& window)
{
    auto* source = window.findChild<QTreeWidget*>(QStringLiteral("tvSource"));
    auto* lines = window.findChild<QPlainTextEdit*>(QStringLiteral("meLines"));
    auto* checked = window.findChild<HookedTreeWidget*>(QStringLiteral("tvChecked"));
    auto* panel = window.findChild<HookedPanel*>(QStringLiteral("pnCheckedTree"));
    return source->topLevelItemCount() == 4 && !lines->toPlainText().isEmpty() && checked->HasAfterPaint() &&
           panel->HasAfterPaint();
}

// Opens the settings dialog from the menu, sets its box and presses the button.
bool AnswerSettings(TfmMain& window, bool tick, const QString& button, bool* shownTicked)
{
    auto met = kvtest::AnswerModal([=](QWidget* modal) {
        auto* box = modal->findChild<QCheckBox*>(QStringLiteral("cbSaveForm"));
        *shownTicked = box->isChecked();
        box->setChecked(tick);
        if (button == QLatin1String("Esc"))
            QTest::keyClick(modal, Qt::Key_Escape);
        else
            kvtest::ClickButton(modal, button);
    });
    window.findChild<QAction*>(QStringLiteral("miSettings"))->trigger();
    return *met;
}

} // namespace

class TestGeometry : public QObject
{
    Q_OBJECT

private slots:
    void settingsDialogLooksAsDesigned()
    {
        TfmSettings dialog(QStringLiteral("/home/anna/.config/Orvanta/Kvendar.ini"));
        QCOMPARE(dialog.windowTitle(), QStringLiteral("Настройка"));
        QCOMPARE(qobject_cast<QCheckBox*>(Child(dialog, "cbSaveForm"))->text(),
                 QStringLiteral("Сохранять размер и позицию формы"));
        auto* warning = qobject_cast<QLabel*>(Child(dialog, "laWarning"));
        QCOMPARE(warning->text(), QStringLiteral("Внимание!"));
        QVERIFY(warning->font().bold());
        auto* hint = qobject_cast<QLabel*>(Child(dialog, "laHint"));
        QCOMPARE(hint->text(), QStringLiteral("Для сохранения данных используется файл "
                                              "«/home/anna/.config/Orvanta/Kvendar.ini». Для удаления этого файла "
                                              "отмените сохранение данных перед удалением программы."));
        QVERIFY(hint->wordWrap());
        QCOMPARE(qobject_cast<QPushButton*>(Child(dialog, "btOk"))->text(), QStringLiteral("ОК"));
        QVERIFY(qobject_cast<QPushButton*>(Child(dialog, "btOk"))->isDefault());
        QCOMPARE(qobject_cast<QPushButton*>(Child(dialog, "btCancel"))->text(), QStringLiteral("Отмена"));
        dialog.SetSaveForm(true);
        QVERIFY(dialog.SaveForm());
        QVERIFY(dialog.property("SaveForm").toBool());
        dialog.setProperty("SaveForm", false);
        QVERIFY(!qobject_cast<QCheckBox*>(Child(dialog, "cbSaveForm"))->isChecked());
    }

    void hintNamesTheFileInUse()
    {
        // From the menu, the hint names the file this run keeps its settings in, wherever that is.
        Fixture f;
        TfmMain window(f.context);
        QString hint;
        auto met = kvtest::AnswerModal([&](QWidget* modal) {
            hint = modal->findChild<QLabel*>(QStringLiteral("laHint"))->text();
            kvtest::ClickButton(modal, QStringLiteral("Отмена"));
        });
        window.findChild<QAction*>(QStringLiteral("miSettings"))->trigger();
        QVERIFY(*met);
        QVERIFY2(hint.contains(QStringLiteral("«%1»").arg(QDir::toNativeSeparators(f.context.settingsFile))),
                 qPrintable(hint));
        QVERIFY(!hint.contains(QStringLiteral("реестр")));
        QVERIFY(!f.keyExists());
    }

    void withoutKeyNothingIsWritten()
    {
        Fixture f;
        QDir().mkpath(f.folder());
        {
            TfmMain window(f.context);
            window.show();
            QVERIFY(QTest::qWaitForWindowExposed(&window));
            QVERIFY(window.close());
        }
        QVERIFY(!f.keyExists());
        QCOMPARE(QDir(f.folder()).entryList(QDir::Files), QStringList());
        QVERIFY(f.dialogs.errors.isEmpty());
    }

    void dialogSwitchesTheSetting_data()
    {
        QTest::addColumn<bool>("keyBefore");
        QTest::addColumn<bool>("tick");
        QTest::addColumn<QString>("button");
        QTest::addColumn<bool>("keyAfter");
        QTest::newRow("tick, OK") << false << true << QStringLiteral("ОК") << true;
        QTest::newRow("clear, OK") << true << false << QStringLiteral("ОК") << false;
        QTest::newRow("tick, Cancel") << false << true << QStringLiteral("Отмена") << false;
        QTest::newRow("clear, Cancel") << true << false << QStringLiteral("Отмена") << true;
        QTest::newRow("clear, Esc") << true << false << QStringLiteral("Esc") << true;
        QTest::newRow("left ticked, OK") << true << true << QStringLiteral("ОК") << true;
        QTest::newRow("left clear, OK") << false << false << QStringLiteral("ОК") << false;
    }

    void dialogSwitchesTheSetting()
    {
        QFETCH(bool, keyBefore);
        QFETCH(bool, tick);
        QFETCH(QString, button);
        QFETCH(bool, keyAfter);
        Fixture f;
        const QByteArray stored(
            "[Kvendar]\nLeft=1\nTop=2\nWidth=600\nHeight=400\npnTreeWidth=200\npnStringsHeight=100\n");
        if (keyBefore)
            f.writeKey(stored);
        TfmMain window(f.context);
        bool shownTicked = !keyBefore;
        QVERIFY(AnswerSettings(window, tick, button, &shownTicked));
        QCOMPARE(shownTicked, keyBefore);
        QCOMPARE(f.keyExists(), keyAfter);
        if (keyBefore && keyAfter)
            QCOMPARE(f.key(), stored);
        if (!keyBefore && keyAfter)
            QCOMPARE(f.key(), QByteArray());
        if (keyBefore && !keyAfter)
            QVERIFY(QFileInfo(f.folder()).isDir());
        QVERIFY(f.dialogs.errors.isEmpty());
    }

    void geometryRoundTrip()
    {
        Fixture f;
        QRect outer;
        {
            TfmMain window(f.context);
            bool shownTicked = true;
            QVERIFY(AnswerSettings(window, true, QStringLiteral("ОК"), &shownTicked));
            QVERIFY(!shownTicked);
            QCOMPARE(f.key(), QByteArray()); // switched on, nothing stored yet
            window.show();
            QVERIFY(QTest::qWaitForWindowExposed(&window));
            window.move(31, 42);
            window.resize(612, 433);
            outer = window.frameGeometry();
            QCOMPARE(outer.topLeft(), QPoint(31, 42));
            QList<int> sizes = window.findChild<QSplitter*>(QStringLiteral("Splitter"))->sizes();
            window.findChild<QSplitter*>(QStringLiteral("Splitter"))->setSizes({222, sizes[0] + sizes[1] - 222});
            sizes = window.findChild<QSplitter*>(QStringLiteral("Splitter2"))->sizes();
            window.findChild<QSplitter*>(QStringLiteral("Splitter2"))->setSizes({sizes[0] + sizes[1] - 111, 111});
            QVERIFY(window.close());
        }
        QCOMPARE(
            ValueLines(f.key()),
            QStringList({QStringLiteral("Left=31"), QStringLiteral("Top=42"),
                         QStringLiteral("Width=%1").arg(outer.width()), QStringLiteral("Height=%1").arg(outer.height()),
                         QStringLiteral("pnTreeWidth=222"), QStringLiteral("pnStringsHeight=111")}));
        QVERIFY(outer.width() >= 612); // the outer size, frame included

        TfmMain again(f.context);
        again.show();
        QVERIFY(QTest::qWaitForWindowExposed(&again));
        QCOMPARE(again.frameGeometry(), outer);
        QCOMPARE(Child(again, "pnTree")->width(), 222);
        QCOMPARE(Child(again, "pnStrings")->height(), 111);
        QVERIFY(CatalogueLoaded(again));
        QVERIFY(f.dialogs.errors.isEmpty());
    }

    void narrowTreeIsWidenedToItsMinimum()
    {
        Fixture f;
        f.writeKey("Left=10\nTop=10\nWidth=600\nHeight=400\npnTreeWidth=40\npnStringsHeight=90\n");
        TfmMain window(f.context);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QCOMPARE(Child(window, "pnTree")->width(), 150);
        QCOMPARE(Child(window, "pnStrings")->height(), 90);
    }

    void positionOffEveryScreenMovesToThePrimary()
    {
        Fixture f;
        f.writeKey("Left=-30000\nTop=25000\nWidth=400\nHeight=300\npnTreeWidth=160\npnStringsHeight=90\n");
        TfmMain window(f.context);
        const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
        QVERIFY(area.contains(window.frameGeometry()));
        QCOMPARE(window.frameGeometry().size(), QSize(400, 300));
        QVERIFY(f.dialogs.errors.isEmpty());
    }

    void badValueReportsAndStartUpGoesOn_data()
    {
        QTest::addColumn<QByteArray>("key");
        QTest::addColumn<QString>("error");
        QTest::addColumn<QPoint>("position"); // null: the stored position was not reached
        QTest::newRow("empty key") << QByteArray() << QStringLiteral("Failed to get data for 'Left'") << QPoint();
        QTest::newRow("Width missing") << QByteArray("Left=33\nTop=44\nHeight=300\n")
                                       << QStringLiteral("Failed to get data for 'Width'") << QPoint(33, 44);
        QTest::newRow("Top of wrong type") << QByteArray("Left=55\nTop=high\nWidth=500\n")
                                           << QStringLiteral("Invalid data type for 'Top'") << QPoint();
        QTest::newRow("last one too big")
            << QByteArray("Left=20\nTop=30\nWidth=500\nHeight=350\npnTreeWidth=170\npnStringsHeight=9999999999\n")
            << QStringLiteral("Invalid data type for 'pnStringsHeight'") << QPoint(20, 30);
    }

    void badValueReportsAndStartUpGoesOn()
    {
        QFETCH(QByteArray, key);
        QFETCH(QString, error);
        QFETCH(QPoint, position);
        Fixture f;
        f.writeKey(key);
        TfmMain window(f.context);
        QCOMPARE(f.dialogs.errors, QStringList{error});
        QVERIFY(CatalogueLoaded(window));
        if (!position.isNull())
            QCOMPARE(window.frameGeometry().topLeft(), position);
        QVERIFY(f.keyExists());
    }

    // A settings file that cannot be read, written or deleted never keeps the user in or out.
    void settingsFileCannotTrap_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::newRow("unreadable: the setting is off") << QStringLiteral("unreadable");
        QTest::newRow("unwritable on close: reported, and the window closes") << QStringLiteral("unwritable");
        QTest::newRow("undeletable on switching off: a warning") << QStringLiteral("undeletable");
    }

    void settingsFileCannotTrap()
    {
        QFETCH(QString, fault);
        Fixture f;
        const QByteArray stored =
            "[Kvendar]\nLeft=31\nTop=41\nWidth=600\nHeight=420\npnTreeWidth=170\npnStringsHeight=140\n";
        f.writeKey(stored);
        // Everything on the way must be visible to the unprivileged identity the faults are made for.
        const auto open = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadOther | QFile::ExeOther |
                          QFile::ReadGroup | QFile::ExeGroup;
        for (const QString& dir : {f.config.path(), f.folder(), f.exe.path()})
            QFile::setPermissions(dir, open);
        for (const QString& file : QDir(f.exe.path()).entryList(QDir::Files))
            QFile::setPermissions(f.exe.file(file), QFile::ReadOwner | QFile::ReadOther | QFile::ReadGroup);

        if (fault == QLatin1String("unreadable")) {
            QFile::setPermissions(f.context.settingsFile, QFile::Permissions());
            kvtest::ActAsNobody nobody;
            TfmMain window(f.context);
            QVERIFY(!window.SettingsKeyExists());
            QCOMPARE(f.dialogs.errors, QStringList()); // no message at every start
            QVERIFY(CatalogueLoaded(window));
            bool shownTicked = true;
            QVERIFY(AnswerSettings(window, false, QStringLiteral("Отмена"), &shownTicked));
            QVERIFY(!shownTicked);
            window.show();
            QVERIFY(QTest::qWaitForWindowExposed(&window));
            QVERIFY(window.close());
            QCOMPARE(f.dialogs.errors, QStringList());
            QVERIFY(!window.isVisible());
        } else if (fault == QLatin1String("unwritable")) {
            f.writeKey("");
            TfmMain window(f.context);
            f.dialogs.errors.clear(); // the empty key's own message at start-up
            window.show();
            QVERIFY(QTest::qWaitForWindowExposed(&window));
            {
                kvtest::WritesFail fail(f.folder());
                QVERIFY(window.close());
            }
            QCOMPARE(f.dialogs.errors, QStringList{QStringLiteral("Failed to set data for 'Left'")});
            QVERIFY(!window.isVisible());
            QCOMPARE(f.key(), QByteArray());
        } else {
            TfmMain window(f.context);
            QCOMPARE(f.dialogs.errors, QStringList());
            QFile::setPermissions(f.folder(), QFile::ReadOwner | QFile::ExeOwner | QFile::ReadOther | QFile::ExeOther |
                                                  QFile::ReadGroup | QFile::ExeGroup);
            bool shownTicked = false;
            {
                kvtest::ActAsNobody nobody;
                QVERIFY(AnswerSettings(window, false, QStringLiteral("ОК"), &shownTicked));
            }
            QFile::setPermissions(f.folder(), open);
            QVERIFY(shownTicked);
            QVERIFY(f.keyExists());
            QCOMPARE(f.dialogs.messages.size(), 1);
            QCOMPARE(f.dialogs.messages[0].kind, Dialogs::Kind::Warning);
            QVERIFY2(f.dialogs.messages[0].text.startsWith(QStringLiteral("Не удалось удалить файл настроек")),
                     qPrintable(f.dialogs.messages[0].text));
            QVERIFY(f.dialogs.messages[0].text.contains(f.context.settingsFile));
        }
    }

    void switchingOffAnAbsentFileWarnsOfNothing()
    {
        Fixture f;
        TfmMain window(f.context);
        bool shownTicked = true;
        QVERIFY(AnswerSettings(window, false, QStringLiteral("ОК"), &shownTicked));
        QVERIFY(!shownTicked);
        QCOMPARE(f.dialogs.messages.size(), 0);
    }
};

QTEST_MAIN(TestGeometry)
#include "test_geometry.moc"
