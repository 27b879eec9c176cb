// The About box with its logo and link, and the help command with its search for the manual.
#include "core/platform/Errors.h"
#include "gui/main/kvendar_main.h"
#include "gui/platform/Jpeg.h"
#include "gui/settings/HelpWindow.h"
#include "gui/settings/uvsAbout.h"
#include "support/TestSupport.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QDesktopServices>
#include <QFile>
#include <QLabel>
#include <QMenu>
#include <QRegularExpression>
#include <QTextBrowser>
#include <QtTest/QtTest>

using namespace kv;

namespace {

QByteArray ShippedFile(const QString& name)
{
    QFile f(QStringLiteral(KVENDAR_SHIPPED_DATA_DIR "/") + name);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QByteArray LogoBytes()
{
    QFile f(QStringLiteral(":/settings/kvendar_logo.jpg"));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Points the user's and the system's data folders into a temporary folder for one test.
class DataDirs
{
public:
    DataDirs() : m_oldHome(qgetenv("XDG_DATA_HOME")), m_oldDirs(qgetenv("XDG_DATA_DIRS"))
    {
        qputenv("XDG_DATA_HOME", QFile::encodeName(home()));
        qputenv("XDG_DATA_DIRS", QFile::encodeName(system()));
    }
    ~DataDirs()
    {
        qputenv("XDG_DATA_HOME", m_oldHome);
        qputenv("XDG_DATA_DIRS", m_oldDirs);
    }
    QString home() const { return m_dir.filePath(QStringLiteral("home")); }
    QString system() const { return m_dir.filePath(QStringLiteral("system")); }

private:
    QTemporaryDir m_dir;
    QByteArray m_oldHome;
    QByteArray m_oldDirs;
};

void Put(const QString& fileName, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(fileName).absolutePath());
    QFile f(fileName);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(f.write(bytes), bytes.size());
}

} // namespace

// Stands in for the desktop's browser.
class UrlCatcher : public QObject
{
    Q_OBJECT

public:
    QList<QUrl> urls;

public slots:
    void open(const QUrl& url) { urls.append(url); }
};

class TestAboutHelp : public QObject
{
    Q_OBJECT

private slots:
    void logoIsA100By88ColourPicture()
    {
        const QImage logo = AboutLogo();
        QCOMPARE(logo.size(), QSize(100, 88));
        int coloured = 0;
        for (int y = 0; y < logo.height(); ++y)
            for (int x = 0; x < logo.width(); ++x) {
                const QColor c = logo.pixelColor(x, y);
                if (std::abs(c.red() - c.green()) > 40 || std::abs(c.green() - c.blue()) > 40)
                    ++coloured;
            }
        QVERIFY2(coloured > logo.width() * logo.height() / 2, qPrintable(QString::number(coloured)));
    }

    void damagedJpegIsRefused_data()
    {
        QTest::addColumn<QByteArray>("data");
        const QByteArray logo = LogoBytes();
        QVERIFY(logo.size() > 1000);
        QTest::newRow("empty") << QByteArray();
        QTest::newRow("not a JPEG") << QByteArray("GIF89a this is something else entirely");
        QTest::newRow("header only") << logo.left(300);
        QTest::newRow("cut in the middle") << logo.left(logo.size() / 2);
    }

    void damagedJpegIsRefused()
    {
        QFETCH(QByteArray, data);
        QVERIFY_THROWS_EXCEPTION(Error, DecodeJpeg(data));
    }

    void aboutBoxCloses_data()
    {
        QTest::addColumn<bool>("byEscape");
        QTest::newRow("Закрыть") << false;
        QTest::newRow("Esc") << true;
    }

    void aboutBoxCloses()
    {
        QFETCH(bool, byEscape);
        kvtest::FakeDialogs dialogs;
        kvtest::ExeDir exe;
        exe.copyShippedCatalogue();
        AppContext context{exe.path(), dialogs};
        context.settingsFile = exe.file(QStringLiteral("no-settings.ini"));
        TfmMain window(context);

        QString title, caption;
        bool bold = false;
        QSize logoSize;
        auto met = kvtest::AnswerModal([&](QWidget* modal) {
            title = modal->windowTitle();
            auto* laCaption = modal->findChild<QLabel*>(QStringLiteral("laCaption"));
            caption = laCaption->text();
            bold = laCaption->font().bold();
            logoSize = modal->findChild<QLabel*>(QStringLiteral("imLogo"))->pixmap().size();
            if (byEscape)
                QTest::keyClick(modal, Qt::Key_Escape);
            else
                kvtest::ClickButton(modal, QStringLiteral("Закрыть"));
        });
        window.findChild<QAction*>(QStringLiteral("miAbout"))->trigger();
        QVERIFY(*met);
        QCOMPARE(title, QStringLiteral("О программе"));
        QCOMPARE(caption, QStringLiteral("Квендар v1.0"));
        QVERIFY(bold);
        QCOMPARE(logoSize, QSize(100, 88));
        QVERIFY(QApplication::activeModalWidget() == nullptr);
        QVERIFY(window.findChildren<TfmAbout*>().isEmpty());
        QVERIFY(dialogs.errors.isEmpty());
    }

    void linkOpensTheAddressAtEveryClick()
    {
        kvtest::FakeDialogs dialogs;
        UrlCatcher browser;
        QDesktopServices::setUrlHandler(QStringLiteral("https"), &browser, "open");
        TfmAbout box(dialogs);
        box.show();
        QVERIFY(QTest::qWaitForWindowExposed(&box));
        auto* link = box.findChild<QLabel*>(QStringLiteral("laRef"));
        QCOMPARE(link->cursor().shape(), Qt::PointingHandCursor);
        QVERIFY(!link->font().underline());
        QCOMPARE(link->palette().color(QPalette::WindowText), QColor(Qt::blue));
        QTest::mouseClick(link, Qt::LeftButton);
        QTest::mouseClick(link, Qt::LeftButton);
        QDesktopServices::unsetUrlHandler(QStringLiteral("https"));
        QCOMPARE(browser.urls, QList<QUrl>({QUrl(link->text()), QUrl(link->text())}));
        QVERIFY(box.isVisible());
        QVERIFY(dialogs.errors.isEmpty());
    }

    void linkWithoutBrowserOffersTheAddress_data()
    {
        QTest::addColumn<bool>("copy");
        QTest::newRow("Копировать") << true;
        QTest::newRow("Закрыть") << false;
    }

    void linkWithoutBrowserOffersTheAddress()
    {
        QFETCH(bool, copy);
        kvtest::FakeDialogs dialogs;
        dialogs.desktopOpensUrls = false;
        dialogs.copyAnswers = {copy};
        QApplication::clipboard()->setText(QStringLiteral("прежнее содержимое"));
        TfmAbout box(dialogs);
        box.show();
        QVERIFY(QTest::qWaitForWindowExposed(&box));
        auto* link = box.findChild<QLabel*>(QStringLiteral("laRef"));
        QTest::mouseClick(link, Qt::LeftButton);
        QCOMPARE(dialogs.openedUrls, QList<QUrl>{QUrl(link->text())});
        QCOMPARE(dialogs.copyOffers.size(), 1);
        QVERIFY2(dialogs.copyOffers[0].contains(link->text()), qPrintable(dialogs.copyOffers[0]));
        QCOMPARE(QApplication::clipboard()->text(), copy ? link->text() : QStringLiteral("прежнее содержимое"));
        QVERIFY(box.isVisible());
        QVERIFY(dialogs.errors.isEmpty());
    }

    void helpFileSearchOrder_data()
    {
        QTest::addColumn<bool>("besideExe");
        QTest::addColumn<bool>("inUserData");
        QTest::addColumn<bool>("inSystemData");
        QTest::addColumn<bool>("inInstalled"); // an installed program's share/kvendar outside the data dirs
        QTest::addColumn<QString>("found");    // exe, user, system, installed or nothing
        QTest::newRow("beside the executable first") << true << true << true << true << QStringLiteral("exe");
        QTest::newRow("then the user's data") << false << true << true << true << QStringLiteral("user");
        QTest::newRow("then the system's data") << false << false << true << true << QStringLiteral("system");
        QTest::newRow("then the installed folder") << false << false << false << true << QStringLiteral("installed");
        QTest::newRow("nowhere") << false << false << false << false << QString();
    }

    void helpFileSearchOrder()
    {
        QFETCH(bool, besideExe);
        QFETCH(bool, inUserData);
        QFETCH(bool, inSystemData);
        QFETCH(bool, inInstalled);
        QFETCH(QString, found);
        DataDirs data;
        kvtest::ExeDir exe;
        kvtest::ExeDir installed;
        const QString exeFile = exe.file(QStringLiteral("kvendar.html"));
        const QString userFile = data.home() + QStringLiteral("/kvendar/kvendar.html");
        const QString systemFile = data.system() + QStringLiteral("/kvendar/kvendar.html");
        const QString installedFile = installed.file(QStringLiteral("kvendar.html"));
        if (besideExe)
            Put(exeFile, "<p>exe</p>");
        if (inUserData)
            Put(userFile, "<p>user</p>");
        if (inSystemData)
            Put(systemFile, "<p>system</p>");
        if (inInstalled)
            Put(installedFile, "<p>installed</p>");
        const QString expected = found == QLatin1String("exe")         ? exeFile
                                 : found == QLatin1String("user")      ? userFile
                                 : found == QLatin1String("system")    ? systemFile
                                 : found == QLatin1String("installed") ? installedFile
                                                                       : QString();
        QCOMPARE(FindHelpFile(exe.path(), QStringLiteral("kvendar"), installed.path()), expected);
        // Without an installed folder the search is the one it always was.
        if (found != QLatin1String("installed"))
            QCOMPARE(FindHelpFile(exe.path(), QStringLiteral("kvendar")), expected);
        else
            QCOMPARE(FindHelpFile(exe.path(), QStringLiteral("kvendar")), QString());
    }

    void menuAndF1ShowTheSameContents()
    {
        DataDirs data;
        kvtest::FakeDialogs dialogs;
        kvtest::ExeDir exe;
        exe.copyShippedCatalogue();
        exe.write(QStringLiteral("kvendar.html"), ShippedFile(QStringLiteral("kvendar.html")));
        AppContext context{exe.path(), dialogs};
        context.settingsFile = exe.file(QStringLiteral("no-settings.ini"));
        TfmMain window(context);
        window.show();
        QVERIFY(QTest::qWaitForWindowActive(&window));

        // The menu item under "Справка" is the F1 action itself.
        auto* menu = window.findChild<QMenu*>(QStringLiteral("miQuestion"));
        auto* help = window.findChild<QAction*>(QStringLiteral("acHelp"));
        QVERIFY(menu->actions().contains(help));
        QCOMPARE(help->text(), QStringLiteral("Помощь..."));
        QCOMPARE(help->shortcut(), QKeySequence(Qt::Key_F1));

        QUrl contents = QUrl::fromLocalFile(exe.file(QStringLiteral("kvendar.html")));
        contents.setFragment(QStringLiteral("contents"));

        help->trigger(); // as the menu does
        auto* browser = window.findChild<QTextBrowser*>(QStringLiteral("reHelp"));
        QVERIFY(browser != nullptr);
        QVERIFY(browser->window()->isVisible());
        QCOMPARE(browser->source(), contents);
        const QString text = browser->toPlainText();
        QVERIFY(text.contains(QStringLiteral("Содержание")));

        browser->setSource(QUrl(QStringLiteral("#settings")));
        QVERIFY(browser->source() != contents);
        window.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        QTest::keyClick(&window, Qt::Key_F1);
        QCOMPARE(window.findChildren<QTextBrowser*>(QStringLiteral("reHelp")).size(), 1);
        QCOMPARE(browser->source(), contents);
        QCOMPARE(browser->toPlainText(), text);
        QVERIFY(dialogs.errors.isEmpty());
    }

    void missingHelpFileIsExplainedInTheWindow()
    {
        DataDirs data;
        kvtest::FakeDialogs dialogs;
        kvtest::ExeDir exe;
        exe.copyShippedCatalogue();
        AppContext context{exe.path(), dialogs};
        context.settingsFile = exe.file(QStringLiteral("no-settings.ini"));
        TfmMain window(context);
        window.findChild<QAction*>(QStringLiteral("acHelp"))->trigger();
        auto* browser = window.findChild<QTextBrowser*>(QStringLiteral("reHelp"));
        QVERIFY(browser != nullptr);
        const QString text = browser->toPlainText();
        QVERIFY2(text.contains(QStringLiteral("Не найден файл справки «kvendar.html»")), qPrintable(text));
        QVERIFY(text.contains(exe.file(QStringLiteral("kvendar.html"))));
        QVERIFY(text.contains(data.system() + QStringLiteral("/kvendar/kvendar.html")));
        QVERIFY(dialogs.errors.isEmpty());
        QVERIFY(dialogs.messages.isEmpty());

        // Put in place afterwards, the manual is shown by the next help command.
        exe.write(QStringLiteral("kvendar.html"), ShippedFile(QStringLiteral("kvendar.html")));
        window.findChild<QAction*>(QStringLiteral("acHelp"))->trigger();
        QVERIFY(browser->toPlainText().contains(QStringLiteral("Содержание")));
    }

    void manualLinksLeadToItsOwnSections()
    {
        const QString html = QString::fromUtf8(ShippedFile(QStringLiteral("kvendar.html")));
        QVERIFY(!html.isEmpty());
        QSet<QString> anchors;
        for (const auto& m : QRegularExpression(QStringLiteral("\\b(?:id|name)=\"([^\"]+)\"")).globalMatch(html))
            anchors.insert(m.captured(1));
        QVERIFY(anchors.contains(QStringLiteral("contents")));
        int links = 0;
        for (const auto& m : QRegularExpression(QStringLiteral("href=\"#([^\"]+)\"")).globalMatch(html)) {
            ++links;
            QVERIFY2(anchors.contains(m.captured(1)), qPrintable(m.captured(1)));
        }
        QVERIFY(links >= 7); // the contents list every section
    }
};

QTEST_MAIN(TestAboutHelp)
#include "test_about_help.moc"
