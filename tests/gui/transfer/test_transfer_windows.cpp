// Import and export from the windows: the two items of the main window's "Файл" menu, the import of
// another computer's Data folder with its report, cancelling under the progress window, the
// history's context menu exporting the selected tests, and the work running on a worker thread while
// the windows go on painting.
#include "core/exchange/Export.h"
#include "core/exchange/Merge.h"
#include "core/exchange/TableSink.h"
#include "gui/history/uvsTestGrid.h"
#include "gui/main/kvendar_main.h"
#include "gui/platform/ErrorBox.h"
#include "gui/transfer/TransferWindows.h"
#include "support/DbFiles.h"
#include "support/HistoryFixtures.h"
#include "support/TestSupport.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QCryptographicHash>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QMenu>
#include <QMenuBar>
#include <QProgressDialog>
#include <QTableView>
#include <QTextEdit>
#include <QThread>
#include <QTimer>
#include <QtTest/QtTest>

#include <atomic>

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

// Presses the progress window's cancel button once it is up and `when` says so (or cancels it another
// way); the flags tell whether it came up, whether it was modal and whether the press has happened.
class CancelProgress final : public QObject
{
public:
    using Press = std::function<void(QProgressDialog*)>;
    explicit CancelProgress(Press press = ByButton, std::function<bool()> when = {})
        : m_press(std::move(press)), m_when(std::move(when))
    {
        qApp->installEventFilter(this);
    }
    ~CancelProgress() override { qApp->removeEventFilter(this); }
    bool shown = false;
    bool modal = false;
    std::atomic<bool> pressed{false};

    static void ByButton(QProgressDialog* progress)
    {
        QVERIFY(kvtest::ClickButton(progress, QStringLiteral("Отмена")));
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        auto* progress = qobject_cast<QProgressDialog*>(watched);
        if (progress != nullptr && event->type() == QEvent::Show && !shown) {
            shown = true;
            modal = progress->isModal();
            // Pressed from the event loop, as a user's click would be.
            auto* timer = new QTimer(progress);
            timer->setInterval(1);
            connect(timer, &QTimer::timeout, progress, [this, progress, timer] {
                if (m_when && !m_when())
                    return;
                timer->stop();
                m_press(progress);
                pressed = true;
            });
            timer->start();
        }
        return false;
    }

private:
    Press m_press;
    std::function<bool()> m_when;
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

// How long a test lets held work wait for the window before it gives up: long enough for a loaded
// machine, short enough that a window that never answers fails the test instead of hanging it.
constexpr int kHoldLimitMs = 20000;

// Writes a database of that many tests, two values each, into folder, in large blocks.
void WriteManyTests(const QString& folder, quint32 count, const QString& name)
{
    QDir().mkpath(folder);
    QFile tests(folder + QStringLiteral("/tests.dat"));
    QFile values(folder + QStringLiteral("/values.dat"));
    if (!tests.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        !values.open(QIODevice::WriteOnly | QIODevice::Truncate))
        qFatal("cannot write the database");
    QByteArray testBlock;
    QByteArray valueBlock;
    qint32 valueId = 0;
    for (quint32 id = 1; id <= count; ++id) {
        testBlock +=
            kvtest::Bytes(kvtest::TestRecord(id, name.arg(id), kMorning.addSecs(id), {qint32(id % 7), 1, 0, 0}));
        for (quint8 group = 1; group <= 2; ++group) {
            kv::TvsDBValueRec value;
            value.SetId(++valueId);
            value.SetTestId(qint32(id));
            value.SetTypeNumber(group);
            value.SetScore(group == 1 ? qint32(id % 7) : 1);
            value.SetName(group == 1 ? QStringLiteral("Вера") : QStringLiteral("Дом"));
            valueBlock += kvtest::Bytes(value);
        }
        if (testBlock.size() > (8 << 20) || id == count) {
            if (tests.write(testBlock) != testBlock.size() || values.write(valueBlock) != valueBlock.size())
                qFatal("cannot write the database");
            testBlock.clear();
            valueBlock.clear();
        }
    }
}

// Every file under folder with a digest of its bytes, so that two folders compare byte for byte.
QStringList FolderDigest(const QString& folder)
{
    QStringList files;
    QDirIterator it(folder, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        QFile f(path);
        QCryptographicHash hash(QCryptographicHash::Sha256);
        if (!f.open(QIODevice::ReadOnly) || !hash.addData(&f))
            qFatal("cannot read %s", qPrintable(path));
        files << QDir(folder).relativeFilePath(path) + u' ' + QString::fromLatin1(hash.result().toHex());
    }
    files.sort();
    return files;
}

// The database of folder as its readers see it: the bytes of each record file (a missing one reads as
// empty) and whether a journal is pending. An undone write, like every finished one, leaves journal.dat
// behind with its first eight bytes zero, which holds no journal.
QStringList Database(const QString& folder)
{
    QStringList state;
    for (const QString& name :
         {QStringLiteral("tests.dat"), QStringLiteral("values.dat"), QStringLiteral("answers.dat")}) {
        QFile f(folder + u'/' + name);
        const QByteArray bytes = f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
        state << name + u' ' + QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());
    }
    QFile journal(folder + QStringLiteral("/journal.dat"));
    const QByteArray head = journal.open(QIODevice::ReadOnly) ? journal.read(8) : QByteArray();
    state << (head.size() == 8 && head != QByteArray(8, '\0') ? QStringLiteral("journal pending")
                                                              : QStringLiteral("no journal"));
    return state;
}

// Holds work on its worker thread at the first report `at` picks, calling the window's progress
// until `release` is true of its answer (or kHoldLimitMs pass), then goes on with what the window
// answers. held tells whether the hold came, released whether it ended in time.
struct Hold
{
    std::function<bool(qint64 done, qint64 total)> at;
    std::function<bool(bool goOn)> release;
    std::atomic<bool> held{false};
    std::atomic<bool> released{false};
    std::atomic<bool> offGuiThread{false};
    std::atomic<qint64> heldDone{-1};
    std::atomic<qint64> heldTotal{-1};

    WorkProgress Around(const WorkProgress& window)
    {
        return [this, window](qint64 done, qint64 total) {
            if (held || !at(done, total))
                return window(done, total);
            heldDone = done;
            heldTotal = total;
            held = true;
            offGuiThread = QThread::currentThread() != qApp->thread();
            QElapsedTimer clock;
            clock.start();
            bool goOn = window(done, total);
            while (!release(goOn) && clock.elapsed() < kHoldLimitMs) {
                QThread::msleep(1);
                goOn = window(done, total);
            }
            released = release(goOn);
            return goOn;
        };
    }
};

bool WhileWriting(qint64 done, qint64 total)
{
    return total > 0 && done > 0 && done < total;
}

// Watches the GUI thread from a timer of its own: how often it ticked, what the progress window's bar
// showed, and how often the progress window painted (each tick asks it to).
class Liveliness final : public QObject
{
public:
    Liveliness()
    {
        m_timer.setInterval(5);
        connect(&m_timer, &QTimer::timeout, this, [this] {
            ++ticks;
            auto* progress = qobject_cast<QProgressDialog*>(QApplication::activeModalWidget());
            if (progress == nullptr || !progress->isVisible()) {
                ++ticksWithoutProgress;
                return;
            }
            bar = progress->value();
            barMaximum = progress->maximum();
            progress->update();
        });
        m_timer.start();
        qApp->installEventFilter(this);
    }
    ~Liveliness() override { qApp->removeEventFilter(this); }
    std::atomic<int> ticks{0};
    std::atomic<int> ticksWithoutProgress{0}; // no progress window up, or not the modal one
    std::atomic<int> paints{0};
    std::atomic<int> bar{-1};
    std::atomic<int> barMaximum{-1};

    // A release for a Hold: since it began, the timer has ticked `more` times, the progress window has
    // painted, and its bar shows the report the work is held at.
    std::function<bool(bool)> Release(const Hold& hold, int more)
    {
        auto from = std::make_shared<std::optional<std::pair<int, int>>>();
        return [this, &hold, more, from](bool) {
            if (!*from)
                *from = std::pair(ticks.load(), paints.load());
            const qint64 total = hold.heldTotal;
            const bool shown = total > 0 && barMaximum > 0 && bar == int(hold.heldDone * barMaximum / total);
            return ticks - (*from)->first >= more && paints > (*from)->second && shown;
        };
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Paint && watched->isWidgetType() &&
            qobject_cast<QProgressDialog*>(static_cast<QWidget*>(watched)->window()) != nullptr)
            ++paints;
        return false;
    }

private:
    QTimer m_timer;
};

} // namespace

Q_DECLARE_METATYPE(CancelProgress::Press)

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

    // The merge is held at a point of its work until the cancel pressed in the window reaches it; the
    // target is then byte for byte as it was, wherever the cancel came.
    void importCancelledChangesNothing_data()
    {
        QTest::addColumn<int>("point");
        QTest::newRow("before the source is read") << 0;
        QTest::newRow("while the tests are written") << 1;
        QTest::newRow("with every test written") << 2;
    }

    void importCancelledChangesNothing()
    {
        QFETCH(int, point);
        Fixture f;
        WriteManyTests(f.otherData(), 100000, QStringLiteral("Приезжий %1"));
        TfmMain window(f.context);
        f.dialogs.directoryNames = {f.otherData()};
        const QStringList before = Database(f.context.dataDir());
        Hold hold;
        hold.at = [point](qint64 done, qint64 total) {
            return point == 0 || (point == 1 ? WhileWriting(done, total) : total > 0 && done == total);
        };
        hold.release = [](bool goOn) { return !goOn; };
        CancelProgress cancel(CancelProgress::ByButton, [&hold] { return hold.held.load(); });
        ImportTests(&window, f.context,
                    [&hold](const QString& from, const QString& into, const WorkProgress& progress) {
                        return MergeDataFolders(from, into, hold.Around(progress));
                    });
        QVERIFY(cancel.shown);
        QVERIFY(cancel.modal);
        QVERIFY(hold.held);
        QVERIFY(hold.released);
        QVERIFY(hold.offGuiThread);
        QVERIFY2(f.dialogs.errors.isEmpty(), qPrintable(f.dialogs.errors.join(u'|')));
        QCOMPARE(f.dialogs.messages.size(), 1);
        QCOMPARE(f.dialogs.messages[0].text, QStringLiteral("Импорт отменен: база данных не изменена."));
        QCOMPARE(Database(f.context.dataDir()), before);
        QVERIFY(window.findChild<QProgressDialog*>() == nullptr || !window.findChild<QProgressDialog*>()->isVisible());
    }

    // A merge of 100,000 tests runs on a worker thread: held in the middle of its writing, it waits
    // for the GUI thread's timer to tick, for the progress window to paint and for its bar to show
    // how far the merge is, none of which could happen with the merge on the GUI thread. The target
    // then holds what the same merge run directly makes of a copy of it.
    void importRunsWhileTheWindowPaints()
    {
        Fixture f;
        WriteManyTests(f.otherData(), 100000, QStringLiteral("Приезжий %1"));
        QTemporaryDir direct;
        for (const QString& name : QDir(f.context.dataDir()).entryList(QDir::Files))
            QVERIFY(QFile::copy(f.context.dataDir() + u'/' + name, direct.filePath(name)));
        const MergeResult expected = MergeDataFolders(f.otherData(), direct.path());
        QCOMPARE(expected.added, 100000);

        TfmMain window(f.context);
        f.dialogs.directoryNames = {f.otherData()};
        Liveliness live;
        Hold hold;
        hold.at = WhileWriting;
        hold.release = live.Release(hold, 10);
        QElapsedTimer clock;
        clock.start();
        ImportTests(&window, f.context,
                    [&hold](const QString& from, const QString& into, const WorkProgress& progress) {
                        return MergeDataFolders(from, into, hold.Around(progress));
                    });
        qInfo("import of 100000 tests under the window: %lld ms, %d ticks", clock.elapsed(), live.ticks.load());
        QVERIFY(hold.held);
        QVERIFY(hold.offGuiThread);
        QVERIFY2(hold.released, "the GUI thread did not tick, paint and show the progress while the merge was held");
        QVERIFY2(f.dialogs.errors.isEmpty(), qPrintable(f.dialogs.errors.join(u'|')));
        QCOMPARE(f.dialogs.messages.size(), 1);
        QCOMPARE(f.dialogs.messages[0].text, MergeReport(expected));
        QCOMPARE(FolderDigest(f.context.dataDir()), FolderDigest(direct.path()));
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

    // However the progress window is told to cancel, it stays up, modal, until the work has stopped:
    // hidden earlier, it would let the windows underneath start more work beside the winding-down one.
    void exportCancelledUnderProgress_data()
    {
        QTest::addColumn<CancelProgress::Press>("press");
        QTest::newRow("the cancel button") << CancelProgress::Press(CancelProgress::ByButton);
        QTest::newRow("Escape") << CancelProgress::Press(
            [](QProgressDialog* progress) { QTest::keyClick(progress, Qt::Key_Escape); });
        QTest::newRow("the window closed")
            << CancelProgress::Press([](QProgressDialog* progress) { progress->close(); });
    }

    void exportCancelledUnderProgress()
    {
        QFETCH(CancelProgress::Press, press);
        Fixture f;
        Liveliness live;
        std::atomic<bool> stopped{false};
        std::atomic<int> ticksWithoutProgress{-1};
        // An export that goes on until it is told to stop, then takes a while to wind down.
        f.context.exportRunner = [&](const QString&, const QString&, const QList<quint32>&, const QString&,
                                     const WorkProgress& progress) {
            QElapsedTimer clock;
            clock.start();
            for (qint64 done = 0; clock.elapsed() < kHoldLimitMs; QThread::msleep(1)) {
                if (!progress(++done, 0)) {
                    stopped = true;
                    const int without = live.ticksWithoutProgress;
                    for (const int from = live.ticks; live.ticks - from < 10 && clock.elapsed() < kHoldLimitMs;)
                        QThread::msleep(1);
                    ticksWithoutProgress = live.ticksWithoutProgress - without;
                    return false;
                }
            }
            return true;
        };
        TfmMain window(f.context);
        QTemporaryDir out;
        f.dialogs.saveNames = {out.filePath(QStringLiteral("итоги.xlsx"))};
        CancelProgress cancel(press);
        Action(&window, "miExport")->trigger();
        QVERIFY(cancel.shown);
        QVERIFY(cancel.modal);
        QVERIFY(stopped);
        QCOMPARE(ticksWithoutProgress.load(), 0);
        QCOMPARE(f.dialogs.messages.size(), 1);
        QCOMPARE(f.dialogs.messages[0].text, QStringLiteral("Экспорт отменен: файлы не созданы."));
        QVERIFY(window.findChild<QProgressDialog*>() == nullptr);
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

    // The export is held in the middle of its writing until the cancel reaches it; the output is then
    // as it was: nothing at all, or an earlier export untouched.
    void cancelledProgramExportLeavesTheOutputAsItWas_data()
    {
        QTest::addColumn<QString>("chosen");
        QTest::addColumn<bool>("earlier");
        for (const QString& chosen :
             {QStringLiteral("итоги.csv"), QStringLiteral("итоги.xlsx"), QStringLiteral("итоги.sav")}) {
            QTest::addRow("%s, nothing there", qPrintable(chosen)) << chosen << false;
            QTest::addRow("%s, an earlier export there", qPrintable(chosen)) << chosen << true;
        }
    }

    void cancelledProgramExportLeavesTheOutputAsItWas()
    {
        QFETCH(QString, chosen);
        QFETCH(bool, earlier);
        Fixture f;
        // Enough tests that the export reports its progress more than once.
        WriteManyTests(f.context.dataDir(), 3000, QStringLiteral("Тест %1"));
        QTemporaryDir out;
        const ExportTarget target = *[&] {
            f.dialogs.saveNames = {out.filePath(chosen)};
            return AskExportTarget(nullptr, f.dialogs, QString());
        }();
        if (earlier)
            QVERIFY(
                !ExportTables(f.context.dataDir(), target.format, TestSelection::Of({2, 3}), target.output).Cancelled);
        const QStringList entries = QDir(out.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
        QCOMPARE(entries.isEmpty(), !earlier);
        const QStringList before = FolderDigest(out.path());
        Hold hold;
        hold.at = WhileWriting;
        hold.release = [](bool goOn) { return !goOn; };
        f.context.exportRunner = [&](const QString& dataDir, const QString& format, const QList<quint32>&,
                                     const QString& output, const WorkProgress& progress) {
            return !ExportTables(dataDir, *ExportFormatNamed(format), TestSelection(), output, hold.Around(progress))
                        .Cancelled;
        };
        TfmMain window(f.context);
        f.dialogs.saveNames = {out.filePath(chosen)};
        CancelProgress cancel(CancelProgress::ByButton, [&hold] { return hold.held.load(); });
        Action(&window, "miExport")->trigger();
        QVERIFY(cancel.shown);
        QVERIFY(hold.held);
        QVERIFY(hold.released);
        QVERIFY(hold.offGuiThread);
        QVERIFY2(f.dialogs.errors.isEmpty(), qPrintable(f.dialogs.errors.join(u'|')));
        QCOMPARE(f.dialogs.messages.size(), 1);
        QCOMPARE(f.dialogs.messages[0].text, QStringLiteral("Экспорт отменен: файлы не созданы."));
        QCOMPARE(QDir(out.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden), entries);
        QCOMPARE(FolderDigest(out.path()), before);
    }

    // An export of 100,000 tests runs on a worker thread while the window ticks, paints and shows its
    // progress; the CSV files it writes are byte for byte what the same export run directly writes.
    void exportRunsWhileTheWindowPaints()
    {
        const QString chosen = QStringLiteral("итоги.csv");
        Fixture f;
        WriteManyTests(f.context.dataDir(), 100000, QStringLiteral("Тест %1"));
        QTemporaryDir direct;
        QVERIFY(!ExportTables(f.context.dataDir(), ExportFormat::Csv, TestSelection(), direct.path()).Cancelled);

        Liveliness live;
        Hold hold;
        hold.at = WhileWriting;
        hold.release = live.Release(hold, 10);
        f.context.exportRunner = [&](const QString& dataDir, const QString& name, const QList<quint32>&,
                                     const QString& output, const WorkProgress& progress) {
            return !ExportTables(dataDir, *ExportFormatNamed(name), TestSelection(), output, hold.Around(progress))
                        .Cancelled;
        };
        TfmMain window(f.context);
        QTemporaryDir out;
        f.dialogs.saveNames = {out.filePath(chosen)};
        QElapsedTimer clock;
        clock.start();
        Action(&window, "miExport")->trigger();
        qInfo("export of 100000 tests under the window: %lld ms, %d ticks", clock.elapsed(), live.ticks.load());
        QVERIFY(hold.held);
        QVERIFY(hold.offGuiThread);
        QVERIFY2(hold.released, "the GUI thread did not tick, paint and show the progress while the export was held");
        QVERIFY2(f.dialogs.errors.isEmpty(), qPrintable(f.dialogs.errors.join(u'|')));
        QCOMPARE(f.dialogs.messages.size(), 1);
        const QString output = out.filePath(QFileInfo(chosen).completeBaseName());
        QCOMPARE(f.dialogs.messages[0].text, QStringLiteral("Данные экспортированы: ") + output);
        const QStringList written = FolderDigest(output);
        QVERIFY(!written.isEmpty());
        QCOMPARE(written, FolderDigest(direct.path()));
    }

    // The summary's tables, written on the worker thread: a cancel before they are committed leaves no
    // file, and an error raised while writing them reaches the standard error box.
    void summaryTablesCancelledOrFailed_data()
    {
        QTest::addColumn<QString>("chosen");
        QTest::addColumn<bool>("fails");
        QTest::newRow("csv cancelled") << QStringLiteral("сводка.csv") << false;
        QTest::newRow("xlsx cancelled") << QStringLiteral("сводка.xlsx") << false;
        QTest::newRow("csv failing") << QStringLiteral("сводка.csv") << true;
        QTest::newRow("xlsx failing") << QStringLiteral("сводка.xlsx") << true;
    }

    void summaryTablesCancelledOrFailed()
    {
        QFETCH(QString, chosen);
        QFETCH(bool, fails);
        Fixture f;
        TfmMain window(f.context);
        QTemporaryDir out;
        f.dialogs.saveNames = {out.filePath(chosen)};
        CancelProgress cancel;
        std::atomic<bool> offGuiThread{false};
        std::atomic<bool> cancelSeen{false};
        const TableLayout layout{"groups",
                                 QStringLiteral("Группы"),
                                 {{"group", QStringLiteral("Номер группы"), ColumnKind::Integer, {}, false, {}}}};
        RunHandler(&window, f.dialogs, [&] {
            ExportSummaryTables(&window, f.context, [&](TableSink& sink) {
                offGuiThread = QThread::currentThread() != qApp->thread();
                Cell cell;
                cell.Empty = false;
                cell.Int = 1;
                sink.BeginTable(layout, 1);
                sink.Row({cell});
                sink.EndTable();
                if (fails)
                    throw Error(QStringLiteral("Таблица не записана"));
                // Written, and held until the cancel has been pressed.
                QElapsedTimer clock;
                clock.start();
                while (!cancel.pressed && clock.elapsed() < kHoldLimitMs)
                    QThread::msleep(1);
                cancelSeen = cancel.pressed.load();
            });
        });
        QVERIFY(offGuiThread);
        if (fails) {
            QCOMPARE(f.dialogs.errors, QStringList{QStringLiteral("Таблица не записана")});
            QVERIFY(f.dialogs.messages.isEmpty());
        } else {
            QVERIFY(cancelSeen);
            QVERIFY2(f.dialogs.errors.isEmpty(), qPrintable(f.dialogs.errors.join(u'|')));
            QCOMPARE(f.dialogs.messages.size(), 1);
            QCOMPARE(f.dialogs.messages[0].text, QStringLiteral("Экспорт отменен: файлы не созданы."));
        }
        QCOMPARE(QDir(out.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden), QStringList());
    }

    // The application told to quit while an export runs: every event loop ends at once from then on,
    // so the window tells the work to stop and waits for it rather than leave it running, or spin.
    void quittingStopsTheWork()
    {
        Fixture f;
        Hold hold;
        hold.at = [](qint64, qint64) { return true; };
        hold.release = [](bool goOn) { return !goOn; };
        f.context.exportRunner = [&](const QString&, const QString&, const QList<quint32>&, const QString&,
                                     const WorkProgress& progress) { return hold.Around(progress)(0, 0); };
        TfmMain window(f.context);
        QTemporaryDir out;
        f.dialogs.saveNames = {out.filePath(QStringLiteral("итоги.csv"))};
        QTimer quit;
        quit.setInterval(1);
        connect(&quit, &QTimer::timeout, &quit, [&] {
            if (hold.held) {
                quit.stop();
                QCoreApplication::exit(0);
            }
        });
        quit.start();
        QElapsedTimer clock;
        clock.start();
        Action(&window, "miExport")->trigger();
        const qint64 took = clock.elapsed();
        // Let the next tests run event loops again: the application's own loop clears the quit.
        QTimer::singleShot(0, qApp, [] { QCoreApplication::exit(0); });
        QCoreApplication::exec();
        QVERIFY(hold.held);
        QVERIFY(hold.released);
        QVERIFY2(took < kHoldLimitMs / 2, qPrintable(QString::number(took)));
        QCOMPARE(f.dialogs.messages.size(), 1);
        QCOMPARE(f.dialogs.messages[0].text, QStringLiteral("Экспорт отменен: файлы не созданы."));
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
