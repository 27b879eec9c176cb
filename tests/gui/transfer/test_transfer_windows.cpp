// Import and export from the windows: the two items of the main window's "Файл" menu, the import of
// another computer's Data folder with its report, cancelling under the progress window, and the
// history's context menu exporting the selected tests.
#include "gui/history/uvsTestGrid.h"
#include "gui/main/kvendar_main.h"
#include "support/DbFiles.h"
#include "support/HistoryFixtures.h"
#include "support/TestSupport.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QMenu>
#include <QMenuBar>
#include <QProgressDialog>
#include <QTableView>
#include <QTextEdit>
#include <QTimer>
#include <QtTest/QtTest>

using namespace kv;

namespace {

const QDateTime kMorning(QDate(2024, 3, 5), QTime(9, 15, 30, 125));

struct Fixture
{
    kvtest::ExeDir exe;
    kvtest::FakeDialogs dialogs;
    AppContext context{exe.path(), dialogs};
    QTemporaryDir other; // another computer's program folder, with its Data inside

    Fixture()
    {
        exe.copyShippedCatalogue();
        context.progressDelayMs = 0;
        // This computer: one test. The other: that same test again and one of its own.
        kvtest::WriteData(exe, QStringLiteral("tests.dat"),
                          kvtest::Bytes(kvtest::TestRecord(1, QStringLiteral("Иванов"), kMorning, {3, 0, 0, 0})));
        kvtest::WriteData(exe, QStringLiteral("values.dat"), kvtest::ValueRecords({{1, 1, QStringLiteral("Вера"), 3}}));
        QDir(other.path()).mkpath(QStringLiteral("Data"));
        WriteOther(QStringLiteral("tests.dat"),
                   kvtest::Bytes(kvtest::TestRecord(1, QStringLiteral("Петрова"), kMorning, {0, 2, 0, 0})) +
                       kvtest::Bytes(kvtest::TestRecord(2, QStringLiteral("Иванов"), kMorning, {3, 0, 0, 0})));
        WriteOther(QStringLiteral("values.dat"),
                   kvtest::ValueRecords({{1, 2, QStringLiteral("Дом"), 2}, {2, 1, QStringLiteral("Вера"), 3}}));
    }
    QString otherData() const { return other.path() + QStringLiteral("/Data"); }
    void WriteOther(const QString& name, const QByteArray& bytes) const
    {
        QFile f(otherData() + u'/' + name);
        if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size())
            qFatal("cannot write the other computer's data");
    }
    QByteArray Target() const
    {
        return exe.read(QStringLiteral("Data/tests.dat")) + '|' + exe.read(QStringLiteral("Data/values.dat"));
    }
};

QAction* Action(QWidget* window, const char* name)
{
    auto* action = window->findChild<QAction*>(QLatin1StringView(name));
    if (action == nullptr)
        qFatal("no action %s", name);
    return action;
}

// Presses the progress window's cancel button as soon as it appears (the work goes on in the same
// thread, so a polling timer could miss a short import); the flag tells whether it came up.
class CancelProgress final : public QObject
{
public:
    CancelProgress() { qApp->installEventFilter(this); }
    ~CancelProgress() override { qApp->removeEventFilter(this); }
    bool shown = false;
    bool modal = false;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        auto* progress = qobject_cast<QProgressDialog*>(watched);
        if (progress != nullptr && event->type() == QEvent::Show && !shown) {
            shown = true;
            modal = progress->isModal();
            // Pressed at the next look the work takes at its window, as a user's click would be.
            QTimer::singleShot(0, progress,
                               [progress] { QVERIFY(kvtest::ClickButton(progress, QStringLiteral("Отмена"))); });
        }
        return false;
    }
};

struct ExportCall
{
    QString dataDir;
    QString format;
    QList<quint32> testIds;
    QString output;
};

// Records what the window asked the export to do, instead of exporting.
ExportRunner Recorder(QList<ExportCall>& calls)
{
    return [&calls](const QString& dataDir, const QString& format, const QList<quint32>& ids, const QString& output,
                    const WorkProgress&) {
        calls.append({dataDir, format, ids, output});
        return true;
    };
}

void ClickRow(QTableView* grid, int row, Qt::KeyboardModifiers modifiers = {})
{
    const QRect cell = grid->visualRect(grid->model()->index(row, 1));
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, modifiers, cell.center());
}

// A right-click on a row, as the window system delivers it: a context-menu event at the viewport.
void RightClickRow(QTableView* grid, int row)
{
    const QPoint at = grid->visualRect(grid->model()->index(row, 1)).center();
    QContextMenuEvent event(QContextMenuEvent::Mouse, at, grid->viewport()->mapToGlobal(at));
    QApplication::sendEvent(grid->viewport(), &event);
}

void ClickMenuItem(QMenu* menu, const char* name)
{
    QVERIFY(menu->isVisible());
    QAction* action = Action(menu, name);
    QVERIFY(action->isEnabled());
    QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(action).center());
}

} // namespace

class TestTransferWindows : public QObject
{
    Q_OBJECT

private slots:
    void fileMenuHasExportAndImportBeforeExit()
    {
        Fixture f;
        TfmMain window(f.context);
        auto* file = window.findChild<QMenu*>(QStringLiteral("miFile"));
        QVERIFY(file != nullptr);
        QStringList items;
        for (QAction* action : file->actions())
            items << (action->isSeparator() ? QStringLiteral("---") : action->objectName() + u' ' + action->text());
        QCOMPARE(items,
                 (QStringList{QStringLiteral("miExport Экспорт данных..."), QStringLiteral("miImport Импорт тестов..."),
                              QStringLiteral("---"), QStringLiteral("miExit Выход")}));
        // The menu bar itself is as it was.
        QStringList menus;
        for (QAction* action : window.menuBar()->actions())
            menus << action->text();
        QCOMPARE(menus, (QStringList{QStringLiteral("Файл"), QStringLiteral("Тестирование"),
                                     QStringLiteral("Настройка"), QStringLiteral("Справка")}));
    }

    void importMergesAndReports_data()
    {
        QTest::addColumn<bool>("pickProgramFolder");
        QTest::newRow("the Data folder picked") << false;
        QTest::newRow("the program's folder picked") << true;
    }

    void importMergesAndReports()
    {
        QFETCH(bool, pickProgramFolder);
        Fixture f;
        TfmMain window(f.context);
        f.dialogs.directoryNames = {pickProgramFolder ? f.other.path() : f.otherData()};
        const QByteArray sourceBefore = kvtest::ReadFile(f.otherData() + QStringLiteral("/tests.dat"));
        Action(&window, "miImport")->trigger();

        QVERIFY2(f.dialogs.errors.isEmpty(), qPrintable(f.dialogs.errors.join(u'|')));
        QCOMPARE(f.dialogs.directoryCaptions.size(), 1);
        QCOMPARE(f.dialogs.messages.size(), 1);
        QCOMPARE(f.dialogs.messages[0].kind, Dialogs::Kind::Information);
        QCOMPARE(f.dialogs.messages[0].text, QStringLiteral("Добавлено тестов: 1, пропущено повторов: 1"));
        const auto tests = ReadTests(f.context.dataDir() + QStringLiteral("/tests.dat"));
        QCOMPARE(tests->Count(), 2);
        QCOMPARE(tests->Items(1).Id(), 2u);
        QCOMPARE(tests->Items(1).Fio(), QStringLiteral("Петрова"));
        QCOMPARE(kvtest::ReadFile(f.otherData() + QStringLiteral("/tests.dat")), sourceBefore);
    }

    void importCancelledChangesNothing()
    {
        Fixture f;
        TfmMain window(f.context);
        f.dialogs.directoryNames = {f.otherData()};
        const QByteArray before = f.Target();
        CancelProgress cancel;
        Action(&window, "miImport")->trigger();
        QVERIFY(cancel.shown);
        QVERIFY(cancel.modal);
        QVERIFY(f.dialogs.errors.isEmpty());
        QCOMPARE(f.dialogs.messages.size(), 1);
        QCOMPARE(f.dialogs.messages[0].text, QStringLiteral("Импорт отменен: база данных не изменена."));
        QCOMPARE(f.Target(), before);
        QVERIFY(window.findChild<QProgressDialog*>() == nullptr || !window.findChild<QProgressDialog*>()->isVisible());
    }

    void importOfAFolderWithoutDatabaseShowsError()
    {
        Fixture f;
        TfmMain window(f.context);
        QTemporaryDir empty;
        f.dialogs.directoryNames = {empty.path()};
        const QByteArray before = f.Target();
        Action(&window, "miImport")->trigger();
        QCOMPARE(f.dialogs.errors.size(), 1);
        QVERIFY2(f.dialogs.errors[0].contains(QStringLiteral("нет базы данных (tests.dat)")),
                 qPrintable(f.dialogs.errors[0]));
        QCOMPARE(f.Target(), before);

        // A cancelled folder dialog does nothing at all.
        Action(&window, "miImport")->trigger();
        QCOMPARE(f.dialogs.errors.size(), 1);
        QVERIFY(f.dialogs.messages.isEmpty());
    }

    void exportFromTheMenu_data()
    {
        QTest::addColumn<QString>("chosen");
        QTest::addColumn<QString>("format");
        QTest::addColumn<QString>("output"); // relative to the folder chosen in
        QTest::addColumn<QString>("error");
        QTest::newRow("csv into a folder")
            << QStringLiteral("итоги.csv") << QStringLiteral("csv") << QStringLiteral("итоги") << QString();
        QTest::newRow("spss into a folder")
            << QStringLiteral("итоги.SAV") << QStringLiteral("sav") << QStringLiteral("итоги") << QString();
        QTest::newRow("excel workbook") << QStringLiteral("итоги.xlsx") << QStringLiteral("xlsx")
                                        << QStringLiteral("итоги.xlsx") << QString();
        QTest::newRow("unknown type") << QStringLiteral("итоги.txt") << QString() << QString()
                                      << QStringLiteral("Неизвестный тип файла «итоги.txt»");
    }

    void exportFromTheMenu()
    {
        QFETCH(QString, chosen);
        QFETCH(QString, format);
        QFETCH(QString, output);
        QFETCH(QString, error);
        Fixture f;
        QList<ExportCall> calls;
        f.context.exportRunner = Recorder(calls);
        TfmMain window(f.context);
        QTemporaryDir out;
        f.dialogs.saveNames = {out.filePath(chosen)};
        Action(&window, "miExport")->trigger();
        QCOMPARE(f.dialogs.saveFilters,
                 QStringList{QStringLiteral("Таблицы CSV (*.csv);;Книга Excel (*.xlsx);;Таблицы SPSS (*.sav)")});
        if (!error.isEmpty()) {
            QCOMPARE(calls.size(), 0);
            QCOMPARE(f.dialogs.errors.size(), 1);
            QVERIFY2(f.dialogs.errors[0].startsWith(error), qPrintable(f.dialogs.errors[0]));
            return;
        }
        QVERIFY2(f.dialogs.errors.isEmpty(), qPrintable(f.dialogs.errors.join(u'|')));
        QCOMPARE(calls.size(), 1);
        QCOMPARE(calls[0].dataDir, f.context.dataDir());
        QCOMPARE(calls[0].format, format);
        QCOMPARE(calls[0].testIds, QList<quint32>());
        QCOMPARE(calls[0].output, out.filePath(output));
        QCOMPARE(f.dialogs.messages.size(), 1);
        QCOMPARE(f.dialogs.messages[0].text, QStringLiteral("Данные экспортированы: ") + out.filePath(output));
    }

    void exportCancelledUnderProgress()
    {
        Fixture f;
        int reports = 0;
        // An export that goes on until it is told to stop.
        f.context.exportRunner = [&](const QString&, const QString&, const QList<quint32>&, const QString&,
                                     const WorkProgress& progress) {
            while (reports < 100000) {
                if (!progress(++reports, 100000))
                    return false;
            }
            return true;
        };
        TfmMain window(f.context);
        QTemporaryDir out;
        f.dialogs.saveNames = {out.filePath(QStringLiteral("итоги.xlsx"))};
        CancelProgress cancel;
        Action(&window, "miExport")->trigger();
        QVERIFY(cancel.shown);
        QVERIFY(cancel.modal);
        QVERIFY(reports < 100000);
        QCOMPARE(f.dialogs.messages.size(), 1);
        QCOMPARE(f.dialogs.messages[0].text, QStringLiteral("Экспорт отменен: файлы не созданы."));
    }

    void programExportThroughTheWindow_data()
    {
        QTest::addColumn<QString>("chosen");
        QTest::addColumn<QString>("written"); // what appears in the folder chosen in
        QTest::newRow("csv") << QStringLiteral("итоги.csv") << QStringLiteral("итоги/tests.csv");
        QTest::newRow("xlsx") << QStringLiteral("итоги.xlsx") << QStringLiteral("итоги.xlsx");
    }

    void programExportThroughTheWindow()
    {
        QFETCH(QString, chosen);
        QFETCH(QString, written);
        Fixture f;
        TfmMain window(f.context);
        QTemporaryDir out;
        f.dialogs.saveNames = {out.filePath(chosen)};
        Action(&window, "miExport")->trigger();
        QVERIFY2(f.dialogs.errors.isEmpty(), qPrintable(f.dialogs.errors.join(u'|')));
        QCOMPARE(f.dialogs.messages.size(), 1);
        QVERIFY2(f.dialogs.messages[0].text.startsWith(QStringLiteral("Данные экспортированы: ")),
                 qPrintable(f.dialogs.messages[0].text));
        QVERIFY2(QFileInfo(out.filePath(written)).isFile(), qPrintable(written));
        QVERIFY(QFileInfo(out.filePath(written)).size() > 0);
    }

    void cancelledProgramExportLeavesNoFile_data()
    {
        QTest::addColumn<QString>("chosen");
        QTest::newRow("csv") << QStringLiteral("итоги.csv");
        QTest::newRow("xlsx") << QStringLiteral("итоги.xlsx");
        QTest::newRow("sav") << QStringLiteral("итоги.sav");
    }

    void cancelledProgramExportLeavesNoFile()
    {
        QFETCH(QString, chosen);
        Fixture f;
        // Enough tests that the export reports its progress more than once.
        QByteArray tests;
        for (quint32 id = 1; id <= 3000; ++id)
            tests += kvtest::Bytes(kvtest::TestRecord(id, QStringLiteral("Тест %1").arg(id), kMorning, {3, 0, 0, 0}));
        kvtest::WriteData(f.exe, QStringLiteral("tests.dat"), tests);
        TfmMain window(f.context);
        QTemporaryDir out;
        f.dialogs.saveNames = {out.filePath(chosen)};
        CancelProgress cancel;
        Action(&window, "miExport")->trigger();
        QVERIFY(cancel.shown);
        QVERIFY2(f.dialogs.errors.isEmpty(), qPrintable(f.dialogs.errors.join(u'|')));
        QCOMPARE(f.dialogs.messages.size(), 1);
        QCOMPARE(f.dialogs.messages[0].text, QStringLiteral("Экспорт отменен: файлы не созданы."));
        QCOMPARE(QDir(out.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden), QStringList());
    }

    void historyExportsTheSelectedTests()
    {
        Fixture f;
        QByteArray tests;
        for (quint32 id = 1; id <= 5; ++id)
            tests += kvtest::Bytes(kvtest::TestRecord(id * 10, QStringLiteral("Тест %1").arg(id), kMorning));
        kvtest::WriteData(f.exe, QStringLiteral("tests.dat"), tests);
        QList<ExportCall> calls;
        f.context.exportRunner = Recorder(calls);
        TvsValueTypeList catalogue;
        kvtest::FillCatalogue(catalogue, kvtest::ShippedGroupNames());
        TfmTestGrid grid(f.context, catalogue);
        grid.show();
        QVERIFY(QTest::qWaitForWindowExposed(&grid));
        QTableView* view = grid.Grid();
        QCOMPARE(grid.TestGridMenu()->objectName(), QStringLiteral("pmTestGrid"));

        // Rows 4 and 2 picked one by one, then row 1 added: the export gets them in file order.
        ClickRow(view, 3);
        ClickRow(view, 1, Qt::ControlModifier);
        ClickRow(view, 0, Qt::ControlModifier);
        QCOMPARE(grid.SelectedTestIds(), (QList<quint32>{10, 20, 40}));
        RightClickRow(view, 1);
        QTemporaryDir out;
        f.dialogs.saveNames = {out.filePath(QStringLiteral("выбранные.csv"))};
        ClickMenuItem(grid.TestGridMenu(), "miExportSelected");
        QVERIFY2(f.dialogs.errors.isEmpty(), qPrintable(f.dialogs.errors.join(u'|')));
        QCOMPARE(calls.size(), 1);
        QCOMPARE(calls[0].testIds, (QList<quint32>{10, 20, 40}));
        QCOMPARE(calls[0].format, QStringLiteral("csv"));
        QCOMPARE(calls[0].output, out.filePath(QStringLiteral("выбранные")));

        // A right-click outside the selection acts on the row clicked alone.
        RightClickRow(view, 4);
        QCOMPARE(grid.SelectedTestIds(), QList<quint32>{50});
        f.dialogs.saveNames = {out.filePath(QStringLiteral("один.xlsx"))};
        ClickMenuItem(grid.TestGridMenu(), "miExportSelected");
        QCOMPARE(calls.size(), 2);
        QCOMPARE(calls[1].testIds, QList<quint32>{50});
    }

    void doubleClickAfterSelectingSeveralOpensOne()
    {
        Fixture f;
        QByteArray tests;
        QByteArray values;
        for (quint32 id = 1; id <= 4; ++id)
            tests += kvtest::Bytes(
                kvtest::TestRecord(id, QStringLiteral("Тест %1").arg(id), kMorning, {qint32(id), 0, 0, 0}));
        kvtest::WriteData(f.exe, QStringLiteral("tests.dat"), tests);
        kvtest::WriteData(f.exe, QStringLiteral("values.dat"),
                          kvtest::ValueRecords({{1, 1, QStringLiteral("Первая"), 1},
                                                {2, 1, QStringLiteral("Вторая"), 2},
                                                {3, 1, QStringLiteral("Третья"), 3},
                                                {4, 1, QStringLiteral("Четвертая"), 4}}));
        TvsValueTypeList catalogue;
        kvtest::FillCatalogue(catalogue, kvtest::ShippedGroupNames());
        TfmTestGrid grid(f.context, catalogue);
        grid.show();
        QVERIFY(QTest::qWaitForWindowExposed(&grid));
        ClickRow(grid.Grid(), 0);
        ClickRow(grid.Grid(), 3, Qt::ControlModifier);
        QCOMPARE(grid.SelectedTestIds(), (QList<quint32>{1, 4}));

        // The double-click's first press picks its row alone, so that row's test opens, once.
        QStringList shown;
        auto met = kvtest::AnswerModal([&](QWidget* modal) {
            if (auto* detailed = qobject_cast<QDialog*>(modal)) {
                shown << modal->objectName();
                for (QTextEdit* text : modal->findChildren<QTextEdit*>())
                    shown << text->toPlainText();
                detailed->accept();
            }
        });
        const QRect cell = grid.Grid()->visualRect(grid.Grid()->model()->index(2, 1));
        QTest::mouseClick(grid.Grid()->viewport(), Qt::LeftButton, {}, cell.center());
        QTest::mouseDClick(grid.Grid()->viewport(), Qt::LeftButton, {}, cell.center());
        QVERIFY(*met);
        QVERIFY2(f.dialogs.errors.isEmpty(), qPrintable(f.dialogs.errors.join(u'|')));
        const QString text = shown.join(u'\n');
        QVERIFY2(text.contains(QStringLiteral("Третья")), qPrintable(text));
        QVERIFY(!text.contains(QStringLiteral("Первая")));
        QVERIFY(!text.contains(QStringLiteral("Четвертая")));
        QCOMPARE(grid.SelectedTestIds(), QList<quint32>{3});
    }

    void historyWithoutTestsOffersNoExport()
    {
        Fixture f;
        QFile::remove(f.context.dataDir() + QStringLiteral("/tests.dat"));
        TvsValueTypeList catalogue;
        kvtest::FillCatalogue(catalogue, kvtest::ShippedGroupNames());
        TfmTestGrid grid(f.context, catalogue);
        grid.show();
        QVERIFY(QTest::qWaitForWindowExposed(&grid));
        // The one empty row under the headers holds no test to export.
        RightClickRow(grid.Grid(), 0);
        QVERIFY(grid.TestGridMenu()->isVisible());
        QVERIFY(!Action(grid.TestGridMenu(), "miExportSelected")->isEnabled());
        grid.TestGridMenu()->close();
    }
};

QTEST_MAIN(TestTransferWindows)
#include "test_transfer_windows.moc"
