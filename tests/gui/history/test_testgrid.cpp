// The history window: what it lists, how it closes, and what a double-click opens or reports.
#include "core/history/TestGridModel.h"
#include "core/settings/SettingsStore.h"
#include "core/storage/DurableIo.h"
#include "core/storage/Journal.h"
#include "core/storage/SaveTransaction.h"
#include "gui/history/uvsDetailedResult.h"
#include "gui/history/uvsTestGrid.h"
#include "gui/main/kvendar_main.h"
#include "support/HistoryFixtures.h"
#include "support/TestSupport.h"

#include <QAbstractItemModelTester>
#include <QHeaderView>
#include <QLocale>
#include <QTableView>
#include <QTextEdit>
#include <QToolTip>
#include <QtTest/QtTest>

#include <sys/wait.h>
#include <unistd.h>

using namespace kv;

namespace {

const QDateTime kEvening(QDate(2024, 3, 5), QTime(18, 45));
const QDateTime kMorning(QDate(2023, 12, 31), QTime(7, 5));

// The history's dates are Russian whatever the system's locale (the tests run under C.UTF-8).
QString Short(const QDate& date)
{
    return date.toString(u"dd.MM.yyyy");
}

// The three-test database: test 2's values are in groups 2, 4, 2; its record's totals disagree
// with its values on purpose, and tests 1 and 3 have values of their own.
void WriteThreeTests(const kvtest::ExeDir& dir)
{
    kvtest::WriteData(dir, QStringLiteral("tests.dat"),
                      kvtest::Bytes(kvtest::TestRecord(1, QStringLiteral("Иванов"), kEvening, {3, 0, 1, 0})) +
                          kvtest::Bytes(kvtest::TestRecord(2, QStringLiteral("Петрова"), kMorning, {0, 99, 0, 3})) +
                          kvtest::Bytes(kvtest::TestRecord(3, QString(), kEvening, {0, 0, 0, 6})));
    kvtest::WriteData(dir, QStringLiteral("values.dat"),
                      kvtest::ValueRecords({{1, 1, QStringLiteral("Вера"), 3},
                                            {2, 2, QStringLiteral("Деньги"), 5},
                                            {1, 3, QStringLiteral("Любовь"), 1},
                                            {2, 4, QStringLiteral("Здоровье"), 3},
                                            {2, 2, QStringLiteral("Дом"), 2},
                                            {3, 4, QStringLiteral("Сон"), 6}}));
}

// Three respondents whose every total is the number of another of them.
void WriteThreeRespondents(const kvtest::ExeDir& dir)
{
    kvtest::WriteData(dir, QStringLiteral("tests.dat"),
                      kvtest::Bytes(kvtest::TestRecord(1, u"Респондент 1"_qs, kEvening, {2, 3, 2, 3})) +
                          kvtest::Bytes(kvtest::TestRecord(2, u"Респондент 2"_qs, kMorning, {3, 1, 3, 1})) +
                          kvtest::Bytes(kvtest::TestRecord(3, u"Респондент 3"_qs, kEvening, {1, 2, 1, 2})));
    kvtest::WriteData(dir, QStringLiteral("values.dat"),
                      kvtest::ValueRecords({{1, 1, QStringLiteral("Вера"), 1},
                                            {2, 2, QStringLiteral("Деньги"), 1},
                                            {3, 3, QStringLiteral("Любовь"), 1}}));
}

// Answer records for tests 1 and 2 interleaved as two saves never write them, so that only the
// filter keeps them apart: test 2's three answers go round in a circle.
QByteArray AnswerRecords()
{
    struct Answer
    {
        quint32 testId, question;
        const char16_t *upper, *lower;
        quint8 chosen;
        quint32 ms;
    };
    const Answer answers[] = {{2, 1, u"Деньги", u"Дом", 1, 1500},
                              {1, 1, u"Вера", u"Любовь", 1, 10},
                              {2, 2, u"Дом", u"Здоровье", 1, 900},
                              {2, 3, u"Деньги", u"Здоровье", 2, 4200},
                              {1, 2, u"Любовь", u"Вера", 2, 20}};
    QByteArray bytes;
    quint32 id = 1;
    for (const Answer& a : answers) {
        TvsDBAnswerRec rec;
        rec.SetId(id++);
        rec.SetTestId(a.testId);
        rec.SetQuestion(a.question);
        rec.SetUpper(QString::fromUtf16(a.upper));
        rec.SetUpperGroup(2);
        rec.SetLower(QString::fromUtf16(a.lower));
        rec.SetLowerGroup(2);
        rec.SetChosen(a.chosen);
        rec.SetResponseMs(a.ms);
        bytes += kvtest::Bytes(rec);
    }
    return bytes;
}

QStringList Row(const TestGridModel& model, int row)
{
    QStringList cells;
    for (int c = 0; c < model.columnCount(); ++c)
        cells << model.data(model.index(row, c)).toString();
    return cells;
}

// Another instance killed in the middle of a save: its test record and part of its first value
// are written, its journal says how to undo them. Returns the child's exit code.
int KilledSave(const QString& dataDir)
{
    const pid_t pid = ::fork();
    if (pid == 0) {
        crashseam::Arm(5); // the journal's write, fsync and folder sync, the test, half a value
        try {
            TvsDBSave save(dataDir);
            TvsDBTestRec test;
            test.SetFio(QStringLiteral("Недописанный"));
            save.AppendTest(test);
            for (int i = 0; i < 3; ++i) {
                TvsDBValueRec value;
                value.SetTestId(qint32(test.Id()));
                value.SetTypeNumber(2);
                value.SetName(QStringLiteral("Деньги"));
                save.AppendValue(value);
            }
            save.Commit();
        } catch (...) {
        }
        ::_exit(0);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

QByteArray FileBytes(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void DoubleClickRow(QTableView* view, int row, int logicalColumn = 1)
{
    const QRect cell = view->visualRect(view->model()->index(row, logicalColumn));
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, cell.center());
    QTest::mouseDClick(view->viewport(), Qt::LeftButton, {}, cell.center());
}

struct Fixture
{
    kvtest::ExeDir dir;
    kvtest::FakeDialogs dialogs;
    AppContext context{dir.path(), dialogs};
    TvsValueTypeList catalogue;
    Fixture() { kvtest::FillCatalogue(catalogue, kvtest::ShippedGroupNames()); }
};

enum class Opening
{
    DoubleClick,
    Enter
};

// Opens the row and returns the detailed window's text ("" when no window came up). Enter goes to
// the grid with the row made current and the selection left as it is.
QString OpenRow(TfmTestGrid& grid, int row, int* windows, Opening how = Opening::DoubleClick)
{
    QString shown;
    auto met = kvtest::AnswerModal(
        [&](QWidget* modal) {
            if (auto* detailed = qobject_cast<TfmDetailedResult*>(modal)) {
                ++*windows;
                shown = detailed->View()->toPlainText();
                detailed->accept();
            }
        },
        300);
    if (how == Opening::DoubleClick) {
        DoubleClickRow(grid.Grid(), row);
    } else {
        QTableView* view = grid.Grid();
        view->selectionModel()->setCurrentIndex(view->model()->index(row, 1), QItemSelectionModel::NoUpdate);
        QTest::keyClick(view, Qt::Key_Return);
    }
    QTest::qWait(350); // let the answering timer give up when nothing opened
    Q_UNUSED(met);
    return shown;
}

} // namespace

class TestTestGrid : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QLocale::setDefault(QLocale::c()); }

    void headersAndWidths()
    {
        Fixture f;
        TfmTestGrid grid(f.context, f.catalogue);
        QCOMPARE(grid.windowTitle(), QStringLiteral("Результаты тестов"));
        const QStringList headers{QStringLiteral("№"),
                                  QStringLiteral("ФИО"),
                                  QStringLiteral("Дата"),
                                  QStringLiteral("Идеологические ценности"),
                                  QStringLiteral("Материальные ценности"),
                                  QStringLiteral("Эмоциональные ценности"),
                                  QStringLiteral("Витальные ценности")};
        const QList<int> widths{49, 106, 65, 147, 143, 142, 112};
        QHeaderView* header = grid.Grid()->horizontalHeader();
        QCOMPARE(header->count(), 7);
        for (int c = 0; c < 7; ++c) {
            QCOMPARE(grid.Model()->headerData(c, Qt::Horizontal).toString(), headers[c]);
            // The designed widths are the least a column gets; a header that needs more has it.
            QVERIFY(header->sectionSize(c) >= widths[c]);
            QVERIFY2(header->sectionSize(c) >= header->sectionSizeHint(c),
                     qPrintable(headers[c] + u' ' + QString::number(header->sectionSize(c)) + u'<' +
                                QString::number(header->sectionSizeHint(c))));
        }
        QVERIFY(header->sectionsMovable());
        QCOMPARE(header->sectionResizeMode(0), QHeaderView::Interactive);
        QCOMPARE(grid.Grid()->selectionBehavior(), QAbstractItemView::SelectRows);
        QVERIFY(!grid.Grid()->verticalHeader()->isVisible());
        QCOMPARE(grid.Grid()->verticalHeader()->defaultSectionSize(), 19);
    }

    void rows_data()
    {
        QTest::addColumn<int>("fixture"); // 0 no file, 1 empty file, 2 three tests
        QTest::addColumn<QList<QStringList>>("expected");
        QTest::newRow("no tests.dat: one empty row") << 0 << QList<QStringList>{QStringList(7, QString())};
        QTest::newRow("empty tests.dat: headers alone") << 1 << QList<QStringList>{};
        QTest::newRow("three tests in file order, dates without time")
            << 2
            << QList<QStringList>{{u"1"_qs, u"Иванов"_qs, Short(kEvening.date()), u"3"_qs, u"0"_qs, u"1"_qs, u"0"_qs},
                                  {u"2"_qs, u"Петрова"_qs, Short(kMorning.date()), u"0"_qs, u"99"_qs, u"0"_qs, u"3"_qs},
                                  {u"3"_qs, QString(), Short(kEvening.date()), u"0"_qs, u"0"_qs, u"0"_qs, u"6"_qs}};
    }

    void rows()
    {
        QFETCH(int, fixture);
        QFETCH(QList<QStringList>, expected);
        Fixture f;
        if (fixture == 1)
            kvtest::WriteData(f.dir, QStringLiteral("tests.dat"), QByteArray());
        if (fixture == 2)
            WriteThreeTests(f.dir);
        TfmTestGrid grid(f.context, f.catalogue);
        QAbstractItemModelTester tester(grid.Model(), QAbstractItemModelTester::FailureReportingMode::QtTest);
        QCOMPARE(grid.Model()->rowCount(), expected.size());
        for (int r = 0; r < expected.size(); ++r)
            QCOMPARE(Row(*grid.Model(), r), expected[r]);
        QVERIFY(f.dialogs.errors.isEmpty());
        // The date cell holds no time of day.
        if (fixture == 2)
            QVERIFY(!Row(*grid.Model(), 0)[2].contains(u':'));
    }

    // The names are kept as raw bytes: a damaged length byte still gives at most 80 characters, and
    // each row gets its own name back.
    void namesFromRawBytes()
    {
        Fixture f;
        TvsDBTestRec damaged = kvtest::TestRecord(1, QString(80, u'Я'), kEvening);
        damaged.bytes[4] = char(200);
        kvtest::WriteData(f.dir, u"tests.dat"_qs,
                          kvtest::Bytes(damaged) + kvtest::Bytes(kvtest::TestRecord(2, u"Ёж"_qs, kEvening)));
        TfmTestGrid grid(f.context, f.catalogue);
        QCOMPARE(grid.Model()->CellText(0, TestGridModel::ColFio), QString(80, u'Я'));
        QCOMPARE(grid.Model()->CellText(1, TestGridModel::ColFio), u"Ёж"_qs);
    }

    void escapeCloses()
    {
        Fixture f;
        WriteThreeTests(f.dir);
        TfmTestGrid grid(f.context, f.catalogue);
        QTimer::singleShot(50, &grid, [&] { QTest::keyClick(grid.Grid(), Qt::Key_Escape); });
        // Should Escape be ignored, this closes the window the other way and the comparison fails.
        QTimer::singleShot(3000, &grid, [&] { grid.done(QDialog::Accepted); });
        QCOMPARE(grid.exec(), int(QDialog::Rejected));
    }

    void doubleClickOpensTheTestOnce()
    {
        Fixture f;
        WriteThreeTests(f.dir);
        TfmTestGrid grid(f.context, f.catalogue);
        grid.show();
        QVERIFY(QTest::qWaitForWindowExposed(&grid));
        int windows = 0;
        const QStringList lines = OpenRow(grid, 1, &windows).split(u'\n');
        QCOMPARE(windows, 1);
        QVERIFY2(f.dialogs.errors.isEmpty(), qPrintable(f.dialogs.errors.join(u'|')));
        QCOMPARE(lines.value(4), QStringLiteral("ФИО: Петрова"));
        // Exactly test 2's values, groups by first mention, totals summed from the values.
        QCOMPARE(lines.mid(16),
                 QStringList({QStringLiteral("Материальные ценности: 7"), QStringLiteral("Деньги: 5"),
                              QStringLiteral("Дом: 2"), QString(), QStringLiteral("Витальные ценности: 3"),
                              QStringLiteral("Здоровье: 3"), QString()}));
        QVERIFY(grid.isVisible()); // back on the grid
        QCOMPARE(WantedTestId, 2u);
    }

    // The test's saved answers reach the detailed view (here a module that writes back what it got),
    // those of other tests do not.
    void openingPassesTheSavedAnswers()
    {
        Fixture f;
        WriteThreeTests(f.dir);
        kvtest::WriteData(f.dir, QStringLiteral("answers.dat"), AnswerRecords());
        QVERIFY(QFile::copy(QStringLiteral(KVENDAR_TEST_MODULES_DIR "/extra/libkvendarres.so"),
                            f.dir.file(QStringLiteral("libkvendarres.so"))));
        TfmTestGrid grid(f.context, f.catalogue);
        grid.show();
        QVERIFY(QTest::qWaitForWindowExposed(&grid));
        int windows = 0;
        const QStringList lines = OpenRow(grid, 1, &windows).split(u'\n');
        QCOMPARE(windows, 1);
        QVERIFY2(f.dialogs.errors.isEmpty(), qPrintable(f.dialogs.errors.join(u'|')));
        QCOMPARE(lines, QStringList({u"via BuildResultEx"_qs, u"version 1 size ok"_qs,
                                     u"source 2 n 3 triads 1 of 1 zeta 0.000 p 1.0000 exact 1"_qs,
                                     u"triad Деньги>Дом>Здоровье"_qs, u"answer 1|Деньги|2|Дом|2|1|1500"_qs,
                                     u"answer 2|Дом|2|Здоровье|2|1|900"_qs, u"answer 3|Деньги|2|Здоровье|2|2|4200"_qs,
                                     u"end"_qs}));
    }

    void nothingHappens_data()
    {
        QTest::addColumn<bool>("withFile");
        QTest::addColumn<int>("moveColumn"); // logical column dragged to the front, -1 none
        QTest::addColumn<int>("row");        // -1: the header
        QTest::newRow("empty row when there is no file") << false << -1 << 0;
        QTest::newRow("header") << true << -1 << -1;
    }

    void nothingHappens()
    {
        QFETCH(bool, withFile);
        QFETCH(int, moveColumn);
        QFETCH(int, row);
        Fixture f;
        if (withFile)
            WriteThreeTests(f.dir);
        TfmTestGrid grid(f.context, f.catalogue);
        grid.show();
        QVERIFY(QTest::qWaitForWindowExposed(&grid));
        if (moveColumn >= 0)
            grid.Grid()->horizontalHeader()->moveSection(moveColumn, 0);
        int windows = 0;
        if (row >= 0) {
            OpenRow(grid, row, &windows);
        } else {
            QHeaderView* header = grid.Grid()->horizontalHeader();
            const QPoint at(header->sectionViewportPosition(1) + 10, header->height() / 2);
            QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, at);
            QTest::mouseDClick(header->viewport(), Qt::LeftButton, {}, at);
            QTest::qWait(100);
        }
        QCOMPARE(windows, 0);
        QVERIFY2(f.dialogs.errors.isEmpty(), qPrintable(f.dialogs.errors.join(u'|')));
        QVERIFY(grid.isVisible());
    }

    void killedSaveIsUndoneBeforeShowing()
    {
        Fixture f;
        WriteThreeTests(f.dir);
        const QString data = f.dir.file(u"Data"_qs);
        const QByteArray tests = FileBytes(data + u"/tests.dat"_qs);
        const QByteArray values = FileBytes(data + u"/values.dat"_qs);
        QCOMPARE(KilledSave(data), crashseam::kCrashExit);
        QCOMPARE(FileBytes(data + u"/tests.dat"_qs).size(), tests.size() + TvsDBTestRec::kSize);

        // Opening the history undoes the remnant instead of listing a fourth test without values.
        TfmTestGrid grid(f.context, f.catalogue);
        grid.show();
        QVERIFY(QTest::qWaitForWindowExposed(&grid));
        QCOMPARE(grid.Grid()->model()->rowCount(), 3);
        QCOMPARE(FileBytes(data + u"/tests.dat"_qs), tests);
        QCOMPARE(FileBytes(data + u"/values.dat"_qs), values);
        QVERIFY(!JournalHoldsWrite(FileBytes(data + u"/journal.dat"_qs)));

        // A save killed while the history is open is undone before a test is read for display.
        QCOMPARE(KilledSave(data), crashseam::kCrashExit);
        int windows = 0;
        OpenRow(grid, 1, &windows);
        QCOMPARE(windows, 1);
        QVERIFY2(f.dialogs.errors.isEmpty(), qPrintable(f.dialogs.errors.join(u'|')));
        QCOMPARE(FileBytes(data + u"/tests.dat"_qs), tests);
        QCOMPARE(FileBytes(data + u"/values.dat"_qs), values);
        QVERIFY(!JournalHoldsWrite(FileBytes(data + u"/journal.dat"_qs)));
    }

    void errors_data()
    {
        QTest::addColumn<QString>("breakage");
        QTest::addColumn<int>("row");
        QTest::addColumn<QString>("message");
        QTest::newRow("tests.dat deleted after the grid was filled")
            << u"delete tests"_qs << 1 << u"Запись не найдена"_qs;
        QTest::newRow("test no longer in the file") << u"other tests"_qs << 1 << u"Запись не найдена"_qs;
        QTest::newRow("values.dat missing") << u"delete values"_qs << 1 << u"Записи не найдены"_qs;
        QTest::newRow("no values for the test") << u"other values"_qs << 1 << u"Записи не найдены"_qs;
        QTest::newRow("group number the catalogue lacks")
            << u"three groups"_qs << 1 << u"List index out of bounds (3)"_qs;
    }

    void errors()
    {
        QFETCH(QString, breakage);
        QFETCH(int, row);
        QFETCH(QString, message);
        Fixture f;
        WriteThreeTests(f.dir);
        TfmTestGrid grid(f.context, f.catalogue);
        grid.show();
        QVERIFY(QTest::qWaitForWindowExposed(&grid));
        if (breakage == u"delete tests")
            QVERIFY(QFile::remove(f.dir.file(u"Data/tests.dat"_qs)));
        if (breakage == u"other tests")
            kvtest::WriteData(f.dir, u"tests.dat"_qs, kvtest::Bytes(kvtest::TestRecord(7, u"Другой"_qs, kEvening)));
        if (breakage == u"delete values")
            QVERIFY(QFile::remove(f.dir.file(u"Data/values.dat"_qs)));
        if (breakage == u"other values")
            kvtest::WriteData(f.dir, u"values.dat"_qs, kvtest::ValueRecords({{1, 1, u"Вера"_qs, 3}}));
        if (breakage == u"three groups")
            kvtest::FillCatalogue(f.catalogue, kvtest::ShippedGroupNames().mid(0, 3));
        int windows = 0;
        OpenRow(grid, row, &windows);
        QCOMPARE(windows, 0);
        QCOMPARE(f.dialogs.errors, QStringList{message});
        QVERIFY(grid.isVisible());
    }

    // Whatever column the user drags before «№», the row opens its own respondent. Every total of
    // these tests is another test's number and names and dates are no numbers at all, so reading the
    // column that stands first would open someone else or nothing.
    void movedColumnsOpenTheRowsOwnTest_data()
    {
        QTest::addColumn<int>("moved"); // logical column dragged before «№»
        QTest::addColumn<int>("how");
        for (int c = 1; c < TestGridModel::ColumnCount; ++c)
            for (const Opening how : {Opening::DoubleClick, Opening::Enter})
                QTest::addRow("%s first, %s", qPrintable(TestGridModel::HeaderText(c)),
                              how == Opening::DoubleClick ? "double-click" : "Enter")
                    << c << int(how);
    }

    void movedColumnsOpenTheRowsOwnTest()
    {
        QFETCH(int, moved);
        QFETCH(int, how);
        Fixture f;
        WriteThreeRespondents(f.dir);
        TfmTestGrid grid(f.context, f.catalogue);
        grid.show();
        QVERIFY(QTest::qWaitForWindowExposed(&grid));
        QHeaderView* header = grid.Grid()->horizontalHeader();
        header->moveSection(header->visualIndex(moved), 0);
        QCOMPARE(header->logicalIndex(0), moved);
        for (int row = 0; row < 3; ++row) {
            int windows = 0;
            const QStringList lines = OpenRow(grid, row, &windows, Opening(how)).split(u'\n');
            QCOMPARE(windows, 1);
            QVERIFY2(f.dialogs.errors.isEmpty(), qPrintable(f.dialogs.errors.join(u'|')));
            QCOMPARE(lines.value(4), u"ФИО: Респондент "_qs + QString::number(row + 1));
        }
    }

    // Numbers from 2^31 up open like any other; a number two tests carry opens the first with a
    // notice heading its document.
    void highAndSharedNumbersOpen_data()
    {
        QTest::addColumn<int>("row");
        QTest::addColumn<QString>("fio");
        QTest::addColumn<bool>("notice");
        QTest::newRow("2^31") << 0 << u"Респондент 2147483648"_qs << false;
        QTest::newRow("4294967295") << 1 << u"Респондент 4294967295"_qs << false;
        QTest::newRow("number of two tests, first row") << 2 << u"Первый из двух"_qs << true;
        QTest::newRow("number of two tests, second row") << 3 << u"Первый из двух"_qs << true;
    }

    void highAndSharedNumbersOpen()
    {
        QFETCH(int, row);
        QFETCH(QString, fio);
        QFETCH(bool, notice);
        Fixture f;
        const quint32 low = 2147483648u, high = 4294967295u;
        kvtest::WriteData(
            f.dir, u"tests.dat"_qs,
            kvtest::Bytes(kvtest::TestRecord(low, u"Респондент 2147483648"_qs, kEvening, {1, 0, 0, 0})) +
                kvtest::Bytes(kvtest::TestRecord(high, u"Респондент 4294967295"_qs, kEvening, {0, 1, 0, 0})) +
                kvtest::Bytes(kvtest::TestRecord(7, u"Первый из двух"_qs, kEvening, {2, 0, 0, 0})) +
                kvtest::Bytes(kvtest::TestRecord(7, u"Второй из двух"_qs, kEvening, {0, 0, 0, 1})));
        kvtest::WriteData(f.dir, u"values.dat"_qs,
                          kvtest::ValueRecords({{qint32(low), 1, u"Вера"_qs, 1},
                                                {qint32(high), 2, u"Деньги"_qs, 1},
                                                {7, 1, u"Надежда"_qs, 2},
                                                {7, 4, u"Сон"_qs, 1}}));
        TfmTestGrid grid(f.context, f.catalogue);
        grid.show();
        QVERIFY(QTest::qWaitForWindowExposed(&grid));
        QCOMPARE(grid.Model()->CellText(0, TestGridModel::ColId), u"2147483648"_qs);
        QCOMPARE(grid.Model()->CellText(1, TestGridModel::ColId), u"4294967295"_qs);
        int windows = 0;
        const QString text = OpenRow(grid, row, &windows);
        QCOMPARE(windows, 1);
        QVERIFY2(f.dialogs.errors.isEmpty(), qPrintable(f.dialogs.errors.join(u'|')));
        QVERIFY2(text.contains(u"ФИО: "_qs + fio + u'\n'), qPrintable(text));
        QCOMPARE(text.startsWith(u"Внимание: в базе данных 2 теста с номером 7"_qs), notice);
        if (notice) {
            // The first test's own value only, not the second's «Сон».
            QVERIFY2(text.contains(u"\nНадежда: 2\n"_qs) && !text.contains(u"Сон"_qs), qPrintable(text));
        }
    }

    // The longest number, a date, a total and a long name at the default size: the first three fit
    // whole, the name is cut short and shows its whole text in a tooltip.
    void columnsFitTheirText()
    {
        Fixture f;
        const QString longName = u"Константинопольская-Задунайская Александра Вячеславовна"_qs;
        kvtest::WriteData(f.dir, u"tests.dat"_qs,
                          kvtest::Bytes(kvtest::TestRecord(1, u"Ли"_qs, kEvening, {1, 0, 0, 0})) +
                              kvtest::Bytes(kvtest::TestRecord(4294967295u, longName, kMorning, {0, -1234567, 0, 0})));
        TfmTestGrid grid(f.context, f.catalogue);
        grid.show();
        QVERIFY(QTest::qWaitForWindowExposed(&grid));
        QTableView* view = grid.Grid();
        for (int c : {int(TestGridModel::ColId), int(TestGridModel::ColDate), int(TestGridModel::ColScore2)}) {
            const QModelIndex cell = view->model()->index(1, c);
            QVERIFY2(view->columnWidth(c) >= view->sizeHintForIndex(cell).width(),
                     qPrintable(grid.Model()->CellText(1, c)));
        }
        const QModelIndex name = view->model()->index(1, TestGridModel::ColFio);
        QVERIFY(view->columnWidth(TestGridModel::ColFio) < view->sizeHintForIndex(name).width());
        QCOMPARE(view->textElideMode(), Qt::ElideRight);
        const QPoint at = view->visualRect(name).center();
        QHelpEvent tip(QEvent::ToolTip, at, view->viewport()->mapToGlobal(at));
        QCoreApplication::sendEvent(view->viewport(), &tip);
        QCOMPARE(QToolTip::text(), longName);
        // A name that fits has no tooltip.
        const QPoint shortAt = view->visualRect(view->model()->index(0, TestGridModel::ColFio)).center();
        QHelpEvent none(QEvent::ToolTip, shortAt, view->viewport()->mapToGlobal(shortAt));
        QCoreApplication::sendEvent(view->viewport(), &none);
        QTRY_VERIFY(QToolTip::text().isEmpty());
    }

    // Header clicks: the smallest first, then the largest first, then the file's order again.
    void headerClicksSort_data()
    {
        QTest::addColumn<int>("column");
        QTest::addColumn<QList<quint32>>("ascending");
        QTest::addColumn<QList<quint32>>("descending");
        QTest::newRow("№ as numbers") << int(TestGridModel::ColId) << QList<quint32>{4, 17, 30, 200}
                                      << QList<quint32>{200, 30, 17, 4};
        QTest::newRow("ФИО alphabetically, ties in file order")
            << int(TestGridModel::ColFio) << QList<quint32>{200, 4, 30, 17} << QList<quint32>{30, 17, 4, 200};
        QTest::newRow("Дата as dates") << int(TestGridModel::ColDate) << QList<quint32>{17, 4, 30, 200}
                                       << QList<quint32>{200, 30, 4, 17};
        QTest::newRow("a total as numbers")
            << int(TestGridModel::ColScore1) << QList<quint32>{200, 30, 17, 4} << QList<quint32>{4, 17, 30, 200};
    }

    void headerClicksSort()
    {
        QFETCH(int, column);
        QFETCH(QList<quint32>, ascending);
        QFETCH(QList<quint32>, descending);
        Fixture f;
        // Names: «ёлка» sorts with «е», after «Ежов»; the two «Иванов» tie. Dates 2 and 10 January
        // differ from their text's order.
        kvtest::WriteData(
            f.dir, u"tests.dat"_qs,
            kvtest::Bytes(kvtest::TestRecord(30, u"Иванов"_qs, QDateTime(QDate(2024, 1, 10), QTime(9, 0)), {-5})) +
                kvtest::Bytes(kvtest::TestRecord(4, u"ёлка"_qs, QDateTime(QDate(2023, 5, 2), QTime(9, 0)), {100})) +
                kvtest::Bytes(kvtest::TestRecord(200, u"Ежов"_qs, QDateTime(QDate(2024, 1, 20), QTime(9, 0)), {-9})) +
                kvtest::Bytes(kvtest::TestRecord(17, u"Иванов"_qs, QDateTime(QDate(2023, 1, 2), QTime(9, 0)), {9})));
        kvtest::WriteData(
            f.dir, u"values.dat"_qs,
            kvtest::ValueRecords(
                {{30, 1, u"Вера"_qs, 1}, {4, 1, u"Вера"_qs, 1}, {200, 1, u"Вера"_qs, 1}, {17, 1, u"Вера"_qs, 1}}));
        TfmTestGrid grid(f.context, f.catalogue);
        grid.show();
        QVERIFY(QTest::qWaitForWindowExposed(&grid));
        const auto ids = [&] {
            QList<quint32> shown;
            for (int r = 0; r < grid.Model()->rowCount(); ++r)
                shown << grid.Model()->CellText(r, TestGridModel::ColId).toUInt();
            return shown;
        };
        const QList<quint32> file{30, 4, 200, 17};
        QCOMPARE(ids(), file);
        QHeaderView* header = grid.Grid()->horizontalHeader();
        // Moved, the column still sorts by itself.
        header->moveSection(header->visualIndex(column), 0);
        const auto click = [&] {
            const QPoint at(header->sectionViewportPosition(column) + header->sectionSize(column) / 2,
                            header->height() / 2);
            QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, at);
        };
        click();
        QCOMPARE(ids(), ascending);
        click();
        QCOMPARE(ids(), descending);
        // A row opened now is the test it shows.
        int windows = 0;
        const QString text = OpenRow(grid, 0, &windows);
        QCOMPARE(windows, 1);
        QCOMPARE(text.split(u'\n').value(4), u"ФИО: "_qs + grid.Model()->CellText(0, TestGridModel::ColFio));
        QVERIFY(text.contains(u"Дата тестирования: "_qs + grid.Model()->CellText(0, TestGridModel::ColDate)));
        click();
        QCOMPARE(ids(), file);
        QCOMPARE(header->sortIndicatorSection(), -1);
    }

    // The selection follows its tests when they are sorted.
    void selectionFollowsSorting()
    {
        Fixture f;
        WriteThreeRespondents(f.dir);
        TfmTestGrid grid(f.context, f.catalogue);
        QTableView* view = grid.Grid();
        view->selectionModel()->setCurrentIndex(view->model()->index(0, 0),
                                                QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        view->sortByColumn(TestGridModel::ColId, Qt::DescendingOrder);
        QCOMPARE(grid.SelectedTestIds(), QList<quint32>{1});
        QCOMPARE(view->currentIndex().row(), 2);
    }

    // Column widths are kept with the window settings: while they are on, not otherwise.
    void columnWidthsKept_data()
    {
        QTest::addColumn<bool>("settingsOn");
        QTest::newRow("settings on") << true;
        QTest::newRow("settings off") << false;
    }

    void columnWidthsKept()
    {
        QFETCH(bool, settingsOn);
        Fixture f;
        WriteThreeRespondents(f.dir);
        f.context.settingsFile = f.dir.file(u"settings/Kvendar.ini"_qs);
        if (settingsOn)
            SettingsStore(f.context.settingsFile).CreateKey();
        int designed = 0;
        {
            TfmTestGrid grid(f.context, f.catalogue);
            designed = grid.Grid()->columnWidth(TestGridModel::ColFio);
            grid.Grid()->setColumnWidth(TestGridModel::ColFio, designed + 77);
            grid.done(QDialog::Rejected);
        }
        QCOMPARE(QFileInfo::exists(f.context.settingsFile), settingsOn);
        TfmTestGrid again(f.context, f.catalogue);
        QCOMPARE(again.Grid()->columnWidth(TestGridModel::ColFio), settingsOn ? designed + 77 : designed);
        QVERIFY(f.dialogs.errors.isEmpty());
        if (settingsOn) {
            // The main window's geometry values are untouched by the grid's.
            QVERIFY(!SettingsStore(f.context.settingsFile).FindInteger(u"Left"_qs, designed));
        }
    }

    // Enter opens the focused row even when a range above it is selected.
    void enterOpensTheFocusedRowOfASelection()
    {
        Fixture f;
        WriteThreeRespondents(f.dir);
        TfmTestGrid grid(f.context, f.catalogue);
        grid.show();
        QVERIFY(QTest::qWaitForWindowExposed(&grid));
        QTableView* view = grid.Grid();
        view->selectionModel()->select(QItemSelection(view->model()->index(0, 0), view->model()->index(2, 6)),
                                       QItemSelectionModel::ClearAndSelect);
        int windows = 0;
        const QStringList lines = OpenRow(grid, 2, &windows, Opening::Enter).split(u'\n');
        QCOMPARE(windows, 1);
        QCOMPARE(lines.value(4), u"ФИО: Респондент 3"_qs);
        QCOMPARE(view->selectionModel()->selectedRows().size(), 3);
    }

    // The main window's menu opens the history over its own catalogue, and a double-click there
    // names groups from that catalogue.
    void openedFromTheMainWindow()
    {
        Fixture f;
        f.dir.copyShippedCatalogue();
        WriteThreeTests(f.dir);
        TfmMain main(f.context);
        auto* action = main.findChild<QAction*>(u"miTestResults"_qs);
        QVERIFY(action != nullptr);
        QVERIFY(action->isEnabled());
        int rows = -1;
        int windows = 0;
        QString shown;
        auto met = kvtest::AnswerModal([&](QWidget* modal) {
            auto* grid = qobject_cast<TfmTestGrid*>(modal);
            QVERIFY(grid != nullptr);
            rows = grid->Model()->rowCount();
            shown = OpenRow(*grid, 1, &windows);
            grid->done(QDialog::Rejected);
        });
        action->trigger();
        QVERIFY(*met);
        QCOMPARE(rows, 3);
        QCOMPARE(windows, 1);
        QVERIFY2(shown.contains(u"\nМатериальные ценности: 7\n"_qs), qPrintable(shown));
        QVERIFY2(f.dialogs.errors.isEmpty(), qPrintable(f.dialogs.errors.join(u'|')));
    }
};

QTEST_MAIN(TestTestGrid)
#include "test_testgrid.moc"
