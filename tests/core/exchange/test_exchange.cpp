// The data tool's export and check on small databases made here: exit statuses, test lists, and
// that nothing half-written is ever left behind.
#include "core/exchange/Check.h"
#include "core/exchange/Export.h"
#include "core/exchange/TableSink.h"
#include "core/exchange/TestSelection.h"
#include "core/platform/Errors.h"
#include "core/storage/Journal.h"
#include "support/ForeignLock.h"
#include "support/HistoryFixtures.h"

#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest/QtTest>

#include <cerrno>

#include <array>
#include <charconv>
#include <cmath>
#include <functional>
#include <limits>

using namespace kv;
using namespace Qt::Literals::StringLiterals;

namespace {

const QString kTool = QStringLiteral(KVENDAR_BIN_DIR "/kvendar-data");

struct Run
{
    int status;
    QString out;
    QString err;
};

// The tool as a user runs it; shellPrefix may set limits before it starts.
Run RunTool(const QStringList& args, const QString& shellPrefix = QString())
{
    QProcess process;
    if (shellPrefix.isEmpty()) {
        process.start(kTool, args);
    } else {
        QStringList quoted;
        for (const QString& arg : args)
            quoted << u'\'' + arg + u'\'';
        process.start(QStringLiteral("/bin/bash"),
                      {QStringLiteral("-c"),
                       shellPrefix + QStringLiteral("; exec '") + kTool + QStringLiteral("' ") + quoted.join(u' ')});
    }
    if (!process.waitForFinished(60000))
        qFatal("kvendar-data did not finish");
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            QString::fromUtf8(process.readAllStandardOutput()), QString::fromUtf8(process.readAllStandardError())};
}

TvsDBTestRec Test(quint32 id, double date = 46000.5)
{
    TvsDBTestRec rec;
    rec.SetId(id);
    rec.SetFio(QStringLiteral("Испытуемый %1").arg(id));
    rec.SetDate(date);
    rec.SetSocial(QStringLiteral("Холост"));
    return rec;
}

TvsDBValueRec Value(qint32 id, qint32 testId, quint8 group = 1, qint32 wins = 1)
{
    TvsDBValueRec rec;
    rec.SetId(id);
    rec.SetTestId(testId);
    rec.SetTypeNumber(group);
    rec.SetScore(wins);
    rec.SetName(QStringLiteral("Ценность %1").arg(id));
    return rec;
}

TvsDBAnswerRec Answer(quint32 id, quint32 testId)
{
    TvsDBAnswerRec rec;
    rec.SetId(id);
    rec.SetTestId(testId);
    rec.SetQuestion(1);
    rec.SetUpperGroup(1);
    rec.SetUpper(QStringLiteral("Ценность %1").arg(2 * testId - 1));
    rec.SetLowerGroup(3);
    rec.SetLower(QStringLiteral("Ценность %1").arg(2 * testId));
    rec.SetChosen(TvsDBAnswerRec::kChoseUpper);
    rec.SetResponseMs(900);
    return rec;
}

// A data folder of tests 1 .. count with two values each.
QByteArray TestsBytes(int count)
{
    QByteArray bytes;
    for (int t = 1; t <= count; ++t)
        bytes += kvtest::Bytes(Test(quint32(t)));
    return bytes;
}

QByteArray ValuesBytes(int count)
{
    QByteArray bytes;
    for (int t = 1; t <= count; ++t)
        bytes += kvtest::Bytes(Value(2 * t - 1, t, 1, 1)) + kvtest::Bytes(Value(2 * t, t, 3, 0));
    return bytes;
}

void WriteFile(const QString& fileName, const QByteArray& bytes)
{
    QFile file(fileName);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(file.write(bytes), bytes.size());
}

QByteArray ReadFile(const QString& fileName)
{
    QFile file(fileName);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Every name in the folder, hidden ones too: a temporary file left behind shows here.
QStringList Entries(const QString& folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
}

QList<QByteArray> CsvIds(const QString& fileName)
{
    QList<QByteArray> ids;
    const QList<QByteArray> lines = ReadFile(fileName).split('\n');
    for (qsizetype i = 1; i < lines.size(); ++i)
        if (!lines[i].isEmpty())
            ids << lines[i].left(lines[i].indexOf(','));
    return ids;
}

// Chosen columns of every row of a CSV file without quoted fields, joined by ':'.
QStringList CsvColumns(const QString& fileName, std::initializer_list<int> columns)
{
    QStringList rows;
    const QList<QByteArray> lines = ReadFile(fileName).split('\n');
    for (qsizetype i = 1; i < lines.size(); ++i) {
        if (lines[i].isEmpty())
            continue;
        const QList<QByteArray> fields = lines[i].chopped(1).split(',');
        QStringList chosen;
        for (const int c : columns)
            chosen << QString::fromUtf8(fields.value(c));
        rows << chosen.join(u':');
    }
    return rows;
}

// A value record per {id, test, wins}, in the order given.
QByteArray ValueRecords(const std::vector<std::array<int, 3>>& values)
{
    QByteArray bytes;
    for (const auto& [id, test, wins] : values)
        bytes += kvtest::Bytes(Value(id, test, 1, wins));
    return bytes;
}

using Damage = std::function<void(QByteArray& tests, QByteArray& values, QByteArray& answers)>;

} // namespace

Q_DECLARE_METATYPE(Damage)
Q_DECLARE_METATYPE(std::vector<qint64>)
Q_DECLARE_METATYPE(std::vector<double>)
Q_DECLARE_METATYPE(kv::ExportFormat)

class TestExchange : public QObject
{
    Q_OBJECT

private slots:
    void selection_data()
    {
        QTest::addColumn<QString>("list");
        QTest::addColumn<QList<quint32>>("in");
        QTest::addColumn<QList<quint32>>("out");
        QTest::newRow("numbers and a range") << u"1,5-9"_s << QList<quint32>{1, 5, 7, 9} << QList<quint32>{0, 2, 4, 10};
        QTest::newRow("blanks and a one-number range")
            << u" 3 , 4-4 "_s << QList<quint32>{3, 4} << QList<quint32>{2, 5};
        QTest::newRow("overlapping ranges") << u"5-9,1-6"_s << QList<quint32>{1, 6, 9} << QList<quint32>{0, 10};
        QTest::newRow("the largest number")
            << u"4294967295"_s << QList<quint32>{4294967295u} << QList<quint32>{4294967294u, 0};
    }

    void selection()
    {
        QFETCH(QString, list);
        QFETCH(QList<quint32>, in);
        QFETCH(QList<quint32>, out);
        const TestSelection selection = TestSelection::Parse(list);
        for (const quint32 id : in)
            QVERIFY2(selection.Contains(id), qPrintable(QString::number(id)));
        for (const quint32 id : out)
            QVERIFY2(!selection.Contains(id), qPrintable(QString::number(id)));
    }

    void badSelection_data()
    {
        QTest::addColumn<QString>("list");
        for (const char* list : {"", "a", "1,,2", "5-3", "-1", "1-", "+3", "4294967296", "1;2", "1-2-3"})
            QTest::newRow(list) << QString::fromLatin1(list);
    }

    void badSelection()
    {
        QFETCH(QString, list);
        QVERIFY_THROWS_EXCEPTION(Error, TestSelection::Parse(list));
        // The tool refuses it as an unusable argument and writes nothing.
        QTemporaryDir dir;
        QDir(dir.path()).mkpath(QStringLiteral("Data"));
        WriteFile(dir.filePath(QStringLiteral("Data/tests.dat")), TestsBytes(1));
        const Run run = RunTool({QStringLiteral("export"), QStringLiteral("--tests"), list, dir.filePath(u"Data"_s),
                                 dir.filePath(u"out"_s)});
        QCOMPARE(run.status, 2);
        QVERIFY(!QFileInfo::exists(dir.filePath(u"out"_s)));
    }

    // Only the listed tests, with their values; values of tests that do not exist are left out.
    void exportsTheListedTests()
    {
        QTemporaryDir dir;
        const QString data = dir.filePath(u"Data"_s);
        QDir().mkpath(data);
        WriteFile(data + u"/tests.dat"_s, TestsBytes(7));
        WriteFile(data + u"/values.dat"_s,
                  ValuesBytes(7) + kvtest::Bytes(Value(99, 6)) + kvtest::Bytes(Value(100, 42)));
        const QString out = dir.filePath(u"out"_s);
        const ExportResult result = ExportTables(data, ExportFormat::Csv, TestSelection::Parse(u"2,5-6,40-50"_s), out);
        QCOMPARE(result.Tests, 3);
        QCOMPARE(result.Values, 7);
        QCOMPARE(result.SkippedOrphans, 1);
        QCOMPARE(CsvIds(out + u"/tests.csv"_s), (QList<QByteArray>{"2", "5", "6"}));
        QCOMPARE(CsvIds(out + u"/values.csv"_s), (QList<QByteArray>{"2", "2", "5", "5", "6", "6", "6"}));
        QCOMPARE(Entries(out), (QStringList{u"tests.csv"_s, u"values.csv"_s}));
    }

    // Ranks, the number of values and the rows' order whatever the order of values.dat: a test's
    // values together (as every save writes them), interleaved with another test's, a test coming
    // back after another, a value without a record tied with one that has it, and a test whose
    // values fill more than one read of the file.
    void valuesRankedInAnyOrder_data()
    {
        QTest::addColumn<QByteArray>("values");
        QTest::addColumn<QByteArray>("answers");
        QTest::addColumn<QStringList>("ranks");   // value_id:rank of values.csv, in its order
        QTest::addColumn<QStringList>("nValues"); // test_id:n_values of tests.csv
        const QStringList counts{u"1:3"_s, u"2:2"_s, u"3:0"_s};
        QTest::newRow("each test's values together")
            << ValueRecords({{1, 1, 3}, {2, 1, 1}, {3, 1, 1}, {4, 2, 2}, {5, 2, 2}}) << QByteArray()
            << QStringList{u"1:1"_s, u"2:2.5"_s, u"3:2.5"_s, u"4:1.5"_s, u"5:1.5"_s} << counts;
        QTest::newRow("interleaved") << ValueRecords({{4, 2, 2}, {1, 1, 3}, {2, 1, 1}, {5, 2, 2}, {3, 1, 1}})
                                     << QByteArray()
                                     << QStringList{u"4:1.5"_s, u"1:1"_s, u"2:2.5"_s, u"5:1.5"_s, u"3:2.5"_s} << counts;
        QTest::newRow("a test comes back after another")
            << ValueRecords({{2, 1, 1}, {1, 1, 3}, {4, 2, 2}, {5, 2, 2}, {3, 1, 1}}) << QByteArray()
            << QStringList{u"2:2.5"_s, u"1:1"_s, u"4:1.5"_s, u"5:1.5"_s, u"3:2.5"_s} << counts;

        // Test 3 compared three values: value 7 won nothing and still has a record, the third has
        // none; the two share places 2 and 3. Test 1's value without a record takes the last place.
        TvsDBAnswerRec tied = Answer(1, 3);
        tied.SetUpper(u"Ценность 6"_s);
        tied.SetLower(u"Ценность 8"_s);
        TvsDBAnswerRec last = Answer(2, 1);
        last.SetUpper(u"Ценность 1"_s);
        last.SetLower(u"Ценность 9"_s);
        QTest::newRow("a value without a record tied with one that has it")
            << ValueRecords({{1, 1, 3}, {2, 1, 1}, {3, 1, 1}, {6, 3, 2}, {7, 3, 0}})
            << kvtest::Bytes(tied) + kvtest::Bytes(last)
            << QStringList{u"1:1"_s, u"2:2.5"_s, u"3:2.5"_s, u"6:1"_s, u"7:2.5"_s, u":2.5"_s, u":4"_s}
            << QStringList{u"1:4"_s, u"2:0"_s, u"3:3"_s};

        // Test 2's values run over several reads of the file (about 11,000 records each): once
        // together after another test's, once split by test 3's after more than a megabyte of rows.
        std::vector<std::array<int, 3>> together{{1, 1, 3}, {2, 1, 1}};
        QStringList togetherRanks{u"1:1"_s, u"2:2"_s};
        std::vector<std::array<int, 3>> scattered = together;
        QStringList scatteredRanks = togetherRanks;
        const int many = 60000;
        for (int k = 0; k < many; ++k) {
            // Wins fall by one every other value: pairs share a rank.
            together.push_back({100 + k, 2, many - k / 2});
            togetherRanks << u"%1:%2"_s.arg(100 + k).arg(k / 2 * 2 + 1.5);
        }
        for (int k = 0; k < many; k += 2) {
            scattered.push_back({100 + k, 2, many - k / 2});
            scatteredRanks << u"%1:%2"_s.arg(100 + k).arg(k / 2 * 2 + 1.5);
        }
        together.push_back({3, 3, 1});
        togetherRanks << u"3:1"_s;
        scattered.push_back({3, 3, 1});
        scatteredRanks << u"3:1"_s;
        for (int k = 1; k < many; k += 2) {
            scattered.push_back({100 + k, 2, many - k / 2});
            scatteredRanks << u"%1:%2"_s.arg(100 + k).arg(k / 2 * 2 + 1.5);
        }
        // Test 3's one value won its one comparison: two values were compared, the loser unrecorded.
        const QStringList manyCounts{u"1:2"_s, u"2:%1"_s.arg(many), u"3:2"_s};
        QTest::newRow("a test longer than one read")
            << ValueRecords(together) << QByteArray() << togetherRanks << manyCounts;
        QTest::newRow("a test longer than one read, scattered")
            << ValueRecords(scattered) << QByteArray() << scatteredRanks << manyCounts;
    }

    void valuesRankedInAnyOrder()
    {
        QFETCH(QByteArray, values);
        QFETCH(QByteArray, answers);
        QFETCH(QStringList, ranks);
        QFETCH(QStringList, nValues);
        QTemporaryDir dir;
        const QString data = dir.filePath(u"Data"_s);
        QDir().mkpath(data);
        WriteFile(data + u"/tests.dat"_s, TestsBytes(3));
        WriteFile(data + u"/values.dat"_s, values);
        if (!answers.isEmpty())
            WriteFile(data + u"/answers.dat"_s, answers);
        const QString out = dir.filePath(u"out"_s);
        const ExportResult result = ExportTables(data, ExportFormat::Csv, TestSelection(), out);
        QCOMPARE(result.Values, ranks.size());
        QCOMPARE(CsvColumns(out + u"/values.csv"_s, {1, 6}), ranks);
        QCOMPARE(CsvColumns(out + u"/tests.csv"_s, {0, 16}), nValues);
    }

    // Every number as the shortest text that reads back as itself, in the C locale: the quick
    // paths for small whole numbers and for ranks give what the general conversion gives.
    void csvNumbers_data()
    {
        QTest::addColumn<std::vector<qint64>>("integers");
        QTest::addColumn<std::vector<double>>("reals");
        QTest::newRow("integers") << std::vector<qint64>{0,
                                                         9,
                                                         10,
                                                         99,
                                                         100,
                                                         2147483647,
                                                         -1,
                                                         -9,
                                                         -10,
                                                         -99,
                                                         -100,
                                                         std::numeric_limits<qint64>::max(),
                                                         std::numeric_limits<qint64>::min()}
                                  << std::vector<double>{};
        std::vector<double> halves;
        for (int twice = 0; twice <= 20002; ++twice)
            halves.push_back(twice / 2.0);
        QTest::newRow("ranks") << std::vector<qint64>{} << halves;
        QTest::newRow("other reals") << std::vector<qint64>{}
                                     << std::vector<double>{-0.0,      -1.5,
                                                            0.25,      0.1,
                                                            1.25,      9999.75,
                                                            1e-7,      123456.5,
                                                            100000.0,  1e6,
                                                            1e21,      0.999999,
                                                            2.0000001, std::numeric_limits<double>::max()};
    }

    void csvNumbers()
    {
        QFETCH(std::vector<qint64>, integers);
        QFETCH(std::vector<double>, reals);
        QTemporaryDir dir;
        const TableLayout layout{
            "numbers",
            u"Числа"_s,
            {Column{"n", {}, ColumnKind::Integer, {}, false, {}}, Column{"x", {}, ColumnKind::Real, {}, false, {}}}};
        QByteArray expected = "\xEF\xBB\xBFn,x\r\n";
        {
            const std::unique_ptr<TableSink> sink = MakeCsvSink(dir.path());
            sink->BeginTable(layout, 0);
            for (size_t i = 0; i < std::max(integers.size(), reals.size()); ++i) {
                std::vector<Cell> cells(2);
                if (i < integers.size()) {
                    cells[0].Empty = false;
                    cells[0].Int = integers[i];
                    expected += QByteArray::number(integers[i]);
                }
                expected += ',';
                if (i < reals.size()) {
                    cells[1].Empty = false;
                    cells[1].Real = reals[i];
                    char text[64];
                    expected += QByteArray(text, std::to_chars(text, text + sizeof text, reals[i]).ptr - text);
                }
                expected += "\r\n";
                sink->Row(cells);
            }
            sink->EndTable();
            sink->Commit();
        }
        QCOMPARE(ReadFile(dir.filePath(u"numbers.csv"_s)), expected);
    }

    // What a researcher reads off the tests and values tables: the number of values compared
    // (a value that won nothing has no record without an answer log and still took part), an age
    // left empty as missing rather than 0, and every group's name from config.ini though an earlier
    // group's item file is missing (the catalogue itself stops loading there).
    void testsTableCountsWhatWasCompared()
    {
        QTemporaryDir dir;
        const QString data = dir.filePath(u"Data"_s);
        QDir().mkpath(data);
        WriteFile(dir.filePath(u"config.ini"_s),
                  kvtest::Cp(u"[MAIN]\r\nLines=lines.txt\r\n[ValueTypes]\r\nValueTypeName1=Первая\r\n"
                             "ValueTypeItems1=missing.txt\r\nValueTypeName2=Вторая\r\nValueTypeItems2=b.txt\r\n"
                             "ValueTypeName3=Третья\r\nValueTypeItems3=c.txt\r\nValueTypeName4=Четвёртая\r\n"
                             "ValueTypeItems4=d.txt\r\n"_s));
        TvsDBTestRec first = Test(1);
        first.SetAge(0);
        TvsDBTestRec second = Test(2);
        second.SetAge(41);
        WriteFile(data + u"/tests.dat"_s, kvtest::Bytes(first) + kvtest::Bytes(second));
        // Test 1: three values, wins 2, 1 and a 0 that has no record. Test 2: wins 3, 1 (sum 4: no
        // complete comparison), so its two rows are all that is known.
        WriteFile(data + u"/values.dat"_s, kvtest::Bytes(Value(1, 1, 1, 2)) + kvtest::Bytes(Value(2, 1, 4, 1)) +
                                               kvtest::Bytes(Value(3, 2, 3, 3)) + kvtest::Bytes(Value(4, 2, 2, 1)));
        const QString out = dir.filePath(u"out"_s);
        ExportTables(data, ExportFormat::Csv, TestSelection(), out);
        const QList<QByteArray> tests = ReadFile(out + u"/tests.csv"_s).split('\n');
        const QList<QByteArray> header = tests.at(0).trimmed().split(',');
        const qsizetype age = header.indexOf("age"), n = header.indexOf("n_values");
        QVERIFY(age > 0 && n > 0);
        const QList<QByteArray> one = tests.at(1).trimmed().split(','), two = tests.at(2).trimmed().split(',');
        QCOMPARE(one.at(age), QByteArray());
        QCOMPARE(one.at(n), QByteArray("3"));
        QCOMPARE(two.at(age), QByteArray("41"));
        QCOMPARE(two.at(n), QByteArray("2"));
        QStringList groups;
        const QList<QByteArray> values = ReadFile(out + u"/values.csv"_s).split('\n');
        for (qsizetype i = 1; i < values.size(); ++i)
            if (!values[i].isEmpty())
                groups << QString::fromUtf8(values[i].split(',').at(3));
        QCOMPARE(groups, (QStringList{u"Первая"_s, u"Четвёртая"_s, u"Третья"_s, u"Вторая"_s}));
    }

    // One rule tells a date from damage: a day of the years 1 to 9999. A date that check accepts is
    // written by every export; one it reports is missing in every export, never a number.
    void oneRuleForDates_data()
    {
        QTest::addColumn<double>("date");
        QTest::addColumn<bool>("usable");
        QTest::newRow("0001-01-01") << -693593.0 << true;
        QTest::newRow("9999-12-31 23:59") << 2958465.99 << true;
        QTest::newRow("year 0") << -693594.0 << false;
        QTest::newRow("year 10000") << 2958466.0 << false;
        QTest::newRow("1e9") << 1e9 << false;
        QTest::newRow("-1e9") << -1e9 << false;
    }
    void oneRuleForDates()
    {
        QFETCH(double, date);
        QFETCH(bool, usable);
        QTemporaryDir dir;
        const QString data = dir.filePath(u"Data"_s);
        QDir().mkpath(data);
        WriteFile(data + u"/tests.dat"_s, kvtest::Bytes(Test(1, date)));
        WriteFile(data + u"/values.dat"_s, QByteArray());
        QCOMPARE(CheckDataFolder(data).BadDates, usable ? 0 : 1);
        const QString csv = dir.filePath(u"csv"_s);
        ExportTables(data, ExportFormat::Csv, TestSelection(), csv);
        const QList<QByteArray> row = ReadFile(csv + u"/tests.csv"_s).split('\n').value(1).split(',');
        QCOMPARE(row.value(2).isEmpty(), !usable);
        if (QStandardPaths::findExecutable(u"readstat"_s).isEmpty())
            return;
        const QString sav = dir.filePath(u"sav"_s);
        ExportTables(data, ExportFormat::Sav, TestSelection(), sav);
        QProcess readstat;
        readstat.start(u"readstat"_s, {sav + u"/tests.sav"_s, u"-"_s});
        QVERIFY(readstat.waitForFinished(60000));
        const QList<QByteArray> lines = readstat.readAllStandardOutput().split('\n');
        QCOMPARE(lines.value(1).split(',').value(2).isEmpty(), !usable);
    }

    // An answer stored without the blank that ends the list's «Другое » still gets its code.
    void otherWithoutItsBlankHasItsCode()
    {
        if (QStandardPaths::findExecutable(u"readstat"_s).isEmpty())
            QSKIP("readstat (Debian readstat) is not installed");
        QTemporaryDir dir;
        const QString data = dir.filePath(u"Data"_s);
        QDir().mkpath(data);
        TvsDBTestRec plain = Test(1), blank = Test(2);
        plain.SetSocialStatus(u"Другое"_s);
        blank.SetSocialStatus(u"Другое "_s);
        WriteFile(data + u"/tests.dat"_s, kvtest::Bytes(plain) + kvtest::Bytes(blank));
        WriteFile(data + u"/values.dat"_s, QByteArray());
        const QString sav = dir.filePath(u"sav"_s);
        ExportTables(data, ExportFormat::Sav, TestSelection(), sav);
        QProcess readstat;
        readstat.start(u"readstat"_s, {sav + u"/tests.sav"_s, u"-"_s});
        QVERIFY(readstat.waitForFinished(60000));
        const QList<QByteArray> lines = readstat.readAllStandardOutput().split('\n');
        const QList<QByteArray> header = lines.value(0).split(',');
        const qsizetype code = header.indexOf("\"social_status\""), other = header.indexOf("\"social_status_other\"");
        QVERIFY2(code > 0 && other > 0, lines.value(0).constData());
        for (int row : {1, 2}) {
            const QList<QByteArray> cells = lines.value(row).split(',');
            QCOMPARE(cells.value(code).toDouble(), 10.0);
            QCOMPARE(cells.value(other), QByteArray("\"\""));
        }
    }

    // An export's failure reads as the database's own do, in Russian whatever the system's language.
    void writeErrorsInRussian_data()
    {
        QTest::addColumn<int>("error");
        QTest::addColumn<QString>("text");
        QTest::newRow("disk full") << ENOSPC << u"Экспорт не выполнен: на диске нет места (/x/tests.csv)"_s;
        QTest::newRow("input/output") << EIO << u"Экспорт не выполнен: ошибка ввода-вывода (/x/tests.csv)"_s;
        QTest::newRow("no folder") << ENOENT << u"Экспорт не выполнен: папка не найдена (/x/tests.csv)"_s;
        QTest::newRow("unknown") << 12345 << u"Экспорт не выполнен: системная ошибка 12345 (/x/tests.csv)"_s;
    }
    void writeErrorsInRussian()
    {
        QFETCH(int, error);
        QFETCH(QString, text);
        QCOMPARE(WriteErrorText(error, u"/x/tests.csv"_s), text);
    }

    // A text cell that a spreadsheet would take for a formula gets a leading apostrophe, through the
    // sink's UTF-8 cells and through the names the export copies from the records; numbers never do.
    void csvGuardsFormulaLikeText_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QByteArray>("field");
        QTest::newRow("=") << u"=HYPERLINK(\"http://x\")"_s << QByteArray("\"'=HYPERLINK(\"\"http://x\"\")\"");
        QTest::newRow("+") << u"+7 999"_s << QByteArray("'+7 999");
        QTest::newRow("-") << u"-Иванов"_s << QByteArray("'-Иванов");
        QTest::newRow("@") << u"@SUM(A1)"_s << QByteArray("'@SUM(A1)");
        QTest::newRow("tab") << u"\tx"_s << QByteArray("'\tx");
        QTest::newRow("carriage return") << u"\rx"_s << QByteArray("\"'\rx\"");
        QTest::newRow("plain") << u"Иванов"_s << QByteArray("Иванов");
        QTest::newRow("inside") << u"Анна=Мария"_s << QByteArray("Анна=Мария");
        QTest::newRow("empty") << QString() << QByteArray();
    }
    void csvGuardsFormulaLikeText()
    {
        QFETCH(QString, text);
        QFETCH(QByteArray, field);
        QTemporaryDir dir;
        const TableLayout layout{
            "cells",
            u"Ячейки"_s,
            {Column{"t", {}, ColumnKind::Text, {}, false, {}}, Column{"n", {}, ColumnKind::Integer, {}, false, {}}}};
        {
            const std::unique_ptr<TableSink> sink = MakeCsvSink(dir.path());
            sink->BeginTable(layout, 0);
            const std::string utf8 = text.toStdString();
            std::vector<Cell> cells(2);
            cells[0].Empty = false;
            cells[0].Text = utf8;
            cells[1].Empty = false;
            cells[1].Int = -5;
            sink->Row(cells);
            sink->EndTable();
            sink->Commit();
        }
        QCOMPARE(ReadFile(dir.filePath(u"cells.csv"_s)), QByteArray("\xEF\xBB\xBFt,n\r\n") + field + ",-5\r\n");

        // The same text as a respondent's name in tests.dat.
        const QString data = dir.filePath(u"Data"_s);
        QDir().mkpath(data);
        TvsDBTestRec rec = Test(1);
        rec.SetFio(text);
        WriteFile(data + u"/tests.dat"_s, kvtest::Bytes(rec));
        WriteFile(data + u"/values.dat"_s, QByteArray());
        const QString out = dir.filePath(u"out"_s);
        ExportTables(data, ExportFormat::Csv, TestSelection(), out);
        const QList<QByteArray> lines = ReadFile(out + u"/tests.csv"_s).split('\n');
        QVERIFY(lines.size() >= 2);
        QVERIFY2(lines.at(1).startsWith("1," + field + ','), lines.at(1).constData());
    }

    // Text that looks like a workbook's own _xHHHH_ escape reads back as written: R's readxl, like the
    // spreadsheets, turns _x0041_ in a string into "A".
    void xlsxEscapesItsOwnEscapes()
    {
        if (QStandardPaths::findExecutable(u"Rscript"_s).isEmpty())
            QSKIP("Rscript (Debian r-base-core) is not installed");
        QTemporaryDir dir;
        const QString data = dir.filePath(u"Data"_s);
        QDir().mkpath(data);
        TvsDBTestRec rec = Test(1);
        const QString name = u"_x0041_B и _x00e9_ _x12_ _xABCD"_s;
        rec.SetFio(name);
        WriteFile(data + u"/tests.dat"_s, kvtest::Bytes(rec));
        WriteFile(data + u"/values.dat"_s, QByteArray());
        const QString book = dir.filePath(u"out.xlsx"_s);
        ExportTables(data, ExportFormat::Xlsx, TestSelection(), book);
        QProcess r;
        r.start(u"Rscript"_s,
                {u"-e"_s,
                 u"args <- commandArgs(TRUE); if (!requireNamespace('readxl', quietly = TRUE)) quit(status = 77); "
                 "x <- readxl::read_excel(args[1], sheet = 'tests'); writeLines(enc2utf8(x$name[1]))"_s,
                 book});
        QVERIFY(r.waitForFinished(120000));
        if (r.exitCode() == 77)
            QSKIP("R's readxl (Debian r-cran-readxl) is not installed");
        QVERIFY2(r.exitCode() == 0, r.readAllStandardError().constData());
        QCOMPARE(QString::fromUtf8(r.readAllStandardOutput()).trimmed(), name);
    }

    void cancelLeavesNothing_data()
    {
        QTest::addColumn<ExportFormat>("format");
        QTest::addColumn<bool>("outputExists");
        QTest::addColumn<int>("cancelAt"); // the progress call that says stop
        QTest::newRow("csv into a new folder, at once") << ExportFormat::Csv << false << 1;
        QTest::newRow("csv over an earlier export, while writing") << ExportFormat::Csv << true << 3;
        QTest::newRow("sav, while writing values") << ExportFormat::Sav << true << 4;
        QTest::newRow("xlsx over an earlier workbook, at the end") << ExportFormat::Xlsx << true << 4;
    }

    void cancelLeavesNothing()
    {
        QFETCH(ExportFormat, format);
        QFETCH(bool, outputExists);
        QFETCH(int, cancelAt);
        QTemporaryDir dir;
        const QString data = dir.filePath(u"Data"_s);
        QDir().mkpath(data);
        WriteFile(data + u"/tests.dat"_s, TestsBytes(3));
        WriteFile(data + u"/values.dat"_s, ValuesBytes(3));
        const bool xlsx = format == ExportFormat::Xlsx;
        const QString out = dir.filePath(xlsx ? u"out.xlsx"_s : u"out"_s);
        const QString earlier = xlsx ? out : out + (format == ExportFormat::Csv ? u"/tests.csv"_s : u"/tests.sav"_s);
        if (outputExists) {
            QDir().mkpath(QFileInfo(earlier).path());
            WriteFile(earlier, "earlier export");
        }
        int calls = 0;
        const ExportResult result = ExportTables(data, format, TestSelection(), out, [&](qint64 done, qint64 total) {
            [&] { QVERIFY(done <= total); }();
            return ++calls < cancelAt;
        });
        QVERIFY(result.Cancelled);
        QCOMPARE(calls, cancelAt);
        if (outputExists)
            QCOMPARE(ReadFile(earlier), QByteArray("earlier export"));
        // Nothing beside what was there before, no temporary file either.
        QStringList before{u"Data"_s};
        if (outputExists)
            before << QFileInfo(out).fileName();
        QCOMPARE(Entries(dir.path()), before);
        if (outputExists && !xlsx)
            QCOMPARE(Entries(out), QStringList{QFileInfo(earlier).fileName()});
    }

    // A file-size limit stops the writing part-way: the tool fails with the reason, and the output
    // is as it was before.
    void failedWriteLeavesNothing_data()
    {
        QTest::addColumn<QString>("format");
        QTest::addColumn<bool>("outputExists");
        QTest::newRow("csv, new folder") << u"csv"_s << false;
        QTest::newRow("csv, earlier export kept") << u"csv"_s << true;
        QTest::newRow("sav, earlier export kept") << u"sav"_s << true;
        QTest::newRow("xlsx, earlier workbook kept") << u"xlsx"_s << true;
    }

    void failedWriteLeavesNothing()
    {
        QFETCH(QString, format);
        QFETCH(bool, outputExists);
        QTemporaryDir dir;
        const QString data = dir.filePath(u"Data"_s);
        QDir().mkpath(data);
        // Big enough that every format's files pass the limit.
        WriteFile(data + u"/tests.dat"_s, TestsBytes(3000));
        WriteFile(data + u"/values.dat"_s, ValuesBytes(3000));
        const bool xlsx = format == u"xlsx";
        const QString out = dir.filePath(xlsx ? u"out.xlsx"_s : u"out"_s);
        const QString earlier = xlsx ? out : out + u"/tests."_s + format;
        if (outputExists) {
            QDir().mkpath(QFileInfo(earlier).path());
            WriteFile(earlier, "earlier export");
        }
        // bash counts the limit in kilobytes; an ignored SIGXFSZ makes the write fail with EFBIG.
        const Run run = RunTool({u"export"_s, u"--format"_s, format, data, out}, u"trap '' XFSZ; ulimit -f 16"_s);
        QCOMPARE(run.status, 1);
        QVERIFY2(run.err.contains(u"Экспорт не выполнен"_s), qPrintable(run.err));
        if (!xlsx)
            QVERIFY2(run.err.contains(u"предельного размера"_s), qPrintable(run.err));
        if (outputExists)
            QCOMPARE(ReadFile(earlier), QByteArray("earlier export"));
        // Nothing beside what was there before, no temporary file either.
        QStringList before{u"Data"_s};
        if (outputExists)
            before << QFileInfo(out).fileName();
        QCOMPARE(Entries(dir.path()), before);
        if (outputExists && !xlsx)
            QCOMPARE(Entries(out), QStringList{QFileInfo(earlier).fileName()});
        // Without the limit the same export goes through.
        QCOMPARE(RunTool({u"export"_s, u"--format"_s, format, data, out}).status, 0);
        QVERIFY(ReadFile(earlier) != QByteArray("earlier export"));
    }

    void check_data()
    {
        QTest::addColumn<Damage>("damage");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("expected");
        const auto none = [](QByteArray&, QByteArray&, QByteArray&) {};
        QTest::newRow("clean") << Damage(none) << 0 << u"Тестов: 3\nЗначений: 6\nОтветов: 3\nПроблем не найдено.\n"_s;
        QTest::newRow("torn tests.dat") << Damage([](QByteArray& t, QByteArray&, QByteArray&) {
            t += QByteArray(100, 'x');
        }) << 1 << u"tests.dat: в конце оборванная запись, байт: 100"_s;
        QTest::newRow("torn values.dat") << Damage([](QByteArray&, QByteArray& v, QByteArray&) {
            v.chop(10);
        }) << 1 << u"Значений: 5\nОтветов: 3\nvalues.dat: в конце оборванная запись, байт: 84"_s;
        QTest::newRow("tests.dat shorter than a record")
            << Damage([](QByteArray& t, QByteArray&, QByteArray&) { t.truncate(680); }) << 1
            << u"Тестов: 0\nЗначений: 6\nОтветов: 3\ntests.dat: в конце оборванная запись, байт: 680\nЗначений, "
               "чей тест не существует: 6\nОтветов, чей тест не существует: 3\n"_s;
        QTest::newRow("value of a missing test")
            << Damage([](QByteArray&, QByteArray& v, QByteArray&) { v += kvtest::Bytes(Value(7, 9)); }) << 1
            << u"Значений, чей тест не существует: 1\n"_s;
        QTest::newRow("test without values")
            << Damage([](QByteArray& t, QByteArray&, QByteArray&) { t += kvtest::Bytes(Test(4)); }) << 1
            << u"Тестов без значений: 1\n"_s;
        QTest::newRow("duplicate test number")
            << Damage([](QByteArray& t, QByteArray&, QByteArray&) { t += kvtest::Bytes(Test(2)); }) << 1
            << u"Тестов с повторяющимся номером: 1\n"_s;
        QTest::newRow("length bytes over 80") << Damage([](QByteArray& t, QByteArray& v, QByteArray&) {
            t[4] = char(81);          // the first test's name
            t[681 + 584] = char(255); // the second test's last answer
            v[13] = char(200);        // the first value's name
        }) << 1 << u"Строк с длиной больше 80 символов: 3\n"_s;
        QTest::newRow("dates that are not finite") << Damage([](QByteArray& t, QByteArray&, QByteArray&) {
            for (const double date : {std::nan(""), std::numeric_limits<double>::infinity(), 1e300}) {
                TvsDBTestRec rec = Test(1, date);
                t += kvtest::Bytes(rec);
            }
        }) << 1 << u"Тестов с повторяющимся номером: 3\nНедопустимых дат: 3\n"_s;
        QTest::newRow("group numbers outside 1-4") << Damage([](QByteArray&, QByteArray& v, QByteArray&) {
            v[8] = 0;
            v[94 + 8] = 5;
        }) << 1 << u"Записей с номером группы вне 1–4: 2\n"_s;
    }

    void check()
    {
        QFETCH(Damage, damage);
        QFETCH(int, status);
        QFETCH(QString, expected);
        QTemporaryDir dir;
        QByteArray tests = TestsBytes(3);
        QByteArray values = ValuesBytes(3);
        QByteArray answers;
        for (quint32 t = 1; t <= 3; ++t)
            answers += kvtest::Bytes(Answer(t, t));
        damage(tests, values, answers);
        WriteFile(dir.filePath(u"tests.dat"_s), tests);
        WriteFile(dir.filePath(u"values.dat"_s), values);
        WriteFile(dir.filePath(u"answers.dat"_s), answers);
        const Run run = RunTool({u"check"_s, dir.path()});
        QCOMPARE(run.status, status);
        QVERIFY2(run.out.contains(expected), qPrintable(run.out));
        QCOMPARE(run.err, QString());
    }

    // A save that died after appending its test record left a journal: check and export see the
    // folder as it was before that save, as the program would.
    void unfinishedSaveIsUndoneFirst()
    {
        QTemporaryDir dir;
        const QString data = dir.path();
        WriteFile(data + u"/tests.dat"_s, TestsBytes(3) + kvtest::Bytes(Test(4)));
        WriteFile(data + u"/values.dat"_s, ValuesBytes(3));
        WriteFile(JournalFileName(data), EncodeJournal({{u"tests.dat"_s, 3 * TvsDBTestRec::kSize, {}},
                                                        {u"values.dat"_s, 6 * TvsDBValueRec::kSize, {}},
                                                        {u"answers.dat"_s, 0, {}}}));
        const Run run = RunTool({u"check"_s, data});
        QCOMPARE(run.status, 0);
        QVERIFY2(run.out.startsWith(u"Тестов: 3\nЗначений: 6\nОтветов: 0\nНезавершенное сохранение теста отменено"_s),
                 qPrintable(run.out + run.err));
        // The journal stays once made; what counts is that it no longer holds a write.
        QFile journal(JournalFileName(data));
        QVERIFY(!journal.exists() || (journal.open(QIODevice::ReadOnly) && !JournalHoldsWrite(journal.readAll())));
        QCOMPARE(QFileInfo(data + u"/tests.dat"_s).size(), 3 * TvsDBTestRec::kSize);
        // Undone once: the next check finds nothing left to undo.
        const Run again = RunTool({u"check"_s, data});
        QCOMPARE(again.status, 0);
        QVERIFY2(!again.out.contains(u"отменено"_s), qPrintable(again.out));
    }

    void checkUnusable_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("message");
        QTest::newRow("no arguments") << u"none"_s << u"Использование: kvendar-data check"_s;
        QTest::newRow("two folders") << u"two"_s << u"Использование: kvendar-data check"_s;
        QTest::newRow("missing folder") << u"missing"_s << u"Папка не найдена"_s;
        QTest::newRow("a file, not a folder") << u"file"_s << u"Это не папка"_s;
        QTest::newRow("a folder without a database") << u"empty"_s << u"В папке нет базы данных"_s;
        QTest::newRow("tests.dat locked by another program") << u"locked"_s << u"Файл занят другой программой"_s;
    }

    void checkUnusable()
    {
        QFETCH(QString, kind);
        QFETCH(QString, message);
        QTemporaryDir dir;
        WriteFile(dir.filePath(u"tests.dat"_s), TestsBytes(1));
        WriteFile(dir.filePath(u"values.dat"_s), ValuesBytes(1));
        QDir().mkpath(dir.filePath(u"empty"_s));
        std::unique_ptr<kvtest::ForeignLock> lock;
        QStringList args{u"check"_s};
        if (kind == u"two")
            args << dir.path() << dir.path();
        else if (kind == u"missing")
            args << dir.filePath(u"nothing"_s);
        else if (kind == u"file")
            args << dir.filePath(u"tests.dat"_s);
        else if (kind == u"empty")
            args << dir.filePath(u"empty"_s);
        else if (kind == u"locked") {
            lock = std::make_unique<kvtest::ForeignLock>(dir.filePath(u"tests.dat"_s));
            QVERIFY(lock->locked());
            args << dir.path();
        }
        const Run run = RunTool(args);
        QCOMPARE(run.status, 2);
        QVERIFY2(run.err.contains(message), qPrintable(run.err));
    }

    void toolArguments_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("text");
        QTest::newRow("help") << QStringList{u"--help"_s} << 0 << u"kvendar-data check ПАПКА_ДАННЫХ"_s;
        QTest::newRow("nothing") << QStringList{} << 2 << u"Использование: kvendar-data КОМАНДА"_s;
        QTest::newRow("unknown command") << QStringList{u"convert"_s} << 2 << u"Неизвестная команда «convert»"_s;
        QTest::newRow("export help") << QStringList{u"export"_s, u"--help"_s} << 0 << u"--format csv|xlsx|sav"_s;
        QTest::newRow("unknown format") << QStringList{u"export"_s, u"--format=ods"_s, u"."_s, u"o"_s} << 2
                                        << u"Неизвестный формат «ods»"_s;
        QTest::newRow("format without a value") << QStringList{u"export"_s, u"."_s, u"o"_s, u"--format"_s} << 2
                                                << u"Неизвестный или неполный параметр «--format»"_s;
        QTest::newRow("one folder only") << QStringList{u"export"_s, u"."_s} << 2 << u"Использование:"_s;
        QTest::newRow("missing data folder")
            << QStringList{u"export"_s, u"/nonexistent/Data"_s, u"o"_s} << 2 << u"Папка данных не найдена"_s;
    }

    void toolArguments()
    {
        QFETCH(QStringList, args);
        QFETCH(int, status);
        QFETCH(QString, text);
        const Run run = RunTool(args);
        QCOMPARE(run.status, status);
        QVERIFY2((run.out + run.err).contains(text), qPrintable(run.out + run.err));
        QVERIFY(!QFileInfo::exists(u"o"_s));
    }
};

QTEST_GUILESS_MAIN(TestExchange)
#include "test_exchange.moc"
