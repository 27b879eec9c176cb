// kvendar-data summary: the summary's tables as CSV files, for scripts.
#include "support/SummaryFixture.h"
#include "tool/Commands.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>

namespace {

struct Run
{
    int code;
    QString out, err;
};

Run Summary(const QStringList& args)
{
    QString out, err;
    QTextStream o(&out), e(&err);
    const int code = kv::RunSummary(args, o, e);
    o.flush();
    e.flush();
    return {code, out, err};
}

// The rows of a CSV file the export's way (BOM, CRLF), split at commas; none of these cells is quoted.
QList<QStringList> Rows(const QString& fileName, bool* bomAndCrlf)
{
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QByteArray bytes = file.readAll();
    *bomAndCrlf = bytes.startsWith("\xEF\xBB\xBF") && bytes.endsWith("\r\n") && !bytes.contains("\n\n");
    bytes.remove(0, 3);
    QList<QStringList> rows;
    for (const QString& line : QString::fromUtf8(bytes).split(QStringLiteral("\r\n"), Qt::SkipEmptyParts))
        rows.append(line.split(u','));
    return rows;
}

} // namespace

class TestSummaryTool : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(m_data.isValid());
        QVERIFY(kvtest::WriteDatabase(m_data.path(), true));
    }

    // Respondents 1 and 3 are male: group 1 has 2/3 and 2/6 of the points, group 3 0 and 3/6.
    void maleRespondents()
    {
        QTemporaryDir out;
        const Run run = Summary({QStringLiteral("--sex"), QStringLiteral("1"), m_data.path(), out.path()});
        QCOMPARE(run.code, 0);
        QVERIFY2(run.out.contains(QStringLiteral("Тестов: 2")), qPrintable(run.out + run.err));
        bool form = false;
        const QList<QStringList> groups = Rows(out.filePath(QStringLiteral("groups.csv")), &form);
        QVERIFY(form);
        QCOMPARE(groups.value(0),
                 (QStringList{u"group"_qs, u"tests"_qs, u"mean_share"_qs, u"ci_low"_qs, u"ci_high"_qs, u"led"_qs}));
        QCOMPARE(groups.size(), 5);
        const double mean[] = {0.5, 0.25, 0.25, 0};
        const int led[] = {1, 0, 1, 0};
        for (int g = 0; g < 4; ++g) {
            const QStringList& row = groups[g + 1];
            QCOMPARE(row[0].toInt(), g + 1);
            QCOMPARE(row[1].toInt(), 2);
            QVERIFY2(std::abs(row[2].toDouble() - mean[g]) < 1e-9, qPrintable(row.join(u',')));
            QCOMPARE(row[5].toInt(), led[g]);
        }

        const QList<QStringList> values = Rows(out.filePath(QStringLiteral("values.csv")), &form);
        QVERIFY(form);
        QCOMPARE(values.value(0).value(0), QStringLiteral("value"));
        // A: first with 2 of 2, then second behind D with 2 of 3.
        const auto a = std::find_if(values.begin(), values.end(), [](const QStringList& r) { return r[0] == u"A"; });
        QVERIFY(a != values.end());
        QCOMPARE((*a)[1], QStringLiteral("1"));
        QCOMPARE((*a)[2], QStringLiteral("2"));
        QVERIFY(std::abs((*a)[4].toDouble() - (1 + 2.0 / 3) / 2) < 1e-9);
        QVERIFY(std::abs((*a)[5].toDouble() - 1.5) < 1e-9);

        // One strict order cannot be scaled: the header alone, and a word why.
        const QList<QStringList> scale = Rows(out.filePath(QStringLiteral("scale.csv")), &form);
        QCOMPARE(scale.size(), 1);
        QCOMPARE(scale[0], (QStringList{u"value"_qs, u"group"_qs, u"scale"_qs, u"se"_qs, u"comparisons"_qs}));
        QVERIFY(run.err.contains(QStringLiteral("Шкала не построена")));
    }

    void filtersFromTheCommandLine_data()
    {
        QTest::addColumn<QStringList>("filter");
        QTest::addColumn<int>("valuesRows");
        QTest::newRow("ages 40 and up") << QStringList{u"--age"_qs, u"40-"_qs} << 3;      // respondent 2: A, C, B
        QTest::newRow("from a date") << QStringList{u"--from"_qs, u"2025-01-01"_qs} << 4; // 3 (and 4, undecided)
        QTest::newRow("to a date") << QStringList{u"--to"_qs, u"2024-03-01"_qs} << 2;     // respondent 1: A, B
    }
    void filtersFromTheCommandLine()
    {
        QFETCH(QStringList, filter);
        QFETCH(int, valuesRows);
        QTemporaryDir out;
        const Run run = Summary(filter + QStringList{m_data.path(), out.path()});
        QCOMPARE(run.code, 0);
        bool form = false;
        QCOMPARE(Rows(out.filePath(QStringLiteral("values.csv")), &form).size(), valuesRows + 1);
    }

    // The export's other writers hold the same tables, read back by readers of their own.
    void everyFormatHoldsTheSameTables_data()
    {
        QTest::addColumn<QString>("format");
        QTest::newRow("workbook") << QStringLiteral("xlsx");
        QTest::newRow("SPSS files") << QStringLiteral("sav");
    }
    void everyFormatHoldsTheSameTables()
    {
        QFETCH(QString, format);
        QTemporaryDir out;
        QVERIFY(Summary({m_data.path(), out.filePath(QStringLiteral("csv"))}).code == 0);
        const QString other = out.filePath(format == u"xlsx" ? QStringLiteral("summary.xlsx") : QStringLiteral("sav"));
        const Run run = Summary({QStringLiteral("--format"), format, m_data.path(), other});
        QCOMPARE(run.code, 0);
        QVERIFY2(run.out.contains(QStringLiteral("Тестов: 4")), qPrintable(run.out + run.err));

        // Every table as rows of cells, through openpyxl or ReadStat's command-line tool.
        static const char* const script = R"(
import csv, io, json, os, subprocess, sys
fmt, path = sys.argv[1], sys.argv[2]
tables = {}
try:
    if fmt == "xlsx":
        import openpyxl
        book = openpyxl.load_workbook(path)
        for name in book.sheetnames:
            tables[name] = [["" if c is None else c for c in row] for row in book[name].iter_rows(values_only=True)]
    else:
        for name in sorted(os.listdir(path)):
            text = subprocess.run(["readstat", os.path.join(path, name), "-"], capture_output=True, check=True).stdout
            tables[name[:-4]] = list(csv.reader(io.StringIO(text.decode("utf-8"), newline="")))
except (ImportError, FileNotFoundError):
    sys.exit(77)
print(json.dumps(tables))
)";
        QProcess reader;
        if (QStringLiteral(KVENDAR_PYTHON3).isEmpty() || QStringLiteral(KVENDAR_PYTHON3).endsWith(u"-NOTFOUND"))
            QSKIP("no python3");
        reader.start(QStringLiteral(KVENDAR_PYTHON3), {QStringLiteral("-c"), QString::fromUtf8(script), format, other});
        QVERIFY(reader.waitForFinished(60000));
        if (reader.exitCode() == 77)
            QSKIP("openpyxl or readstat is not installed");
        QVERIFY2(reader.exitCode() == 0, reader.readAllStandardError().constData());
        const QJsonObject tables = QJsonDocument::fromJson(reader.readAllStandardOutput()).object();
        QCOMPARE(tables.keys(), (QStringList{u"groups"_qs, u"scale"_qs, u"values"_qs}));

        for (const QString& name : tables.keys()) {
            bool form = false;
            const QList<QStringList> expected = Rows(out.filePath(QStringLiteral("csv/%1.csv").arg(name)), &form);
            const QJsonArray rows = tables.value(name).toArray();
            QCOMPARE(rows.size(), expected.size());
            QVERIFY(expected.size() > 1 || name == u"scale");
            for (qsizetype r = 0; r < rows.size(); ++r) {
                const QJsonArray row = rows[r].toArray();
                QCOMPARE(row.size(), expected[r].size());
                for (qsizetype c = 0; c < row.size(); ++c) {
                    const QString want = expected[r][c];
                    const QJsonValue got = row[c];
                    bool number = false;
                    const double wanted = want.toDouble(&number);
                    const QString where = QStringLiteral("%1 row %2 column %3").arg(name).arg(r).arg(c);
                    if (number) {
                        const double value = got.isDouble() ? got.toDouble() : got.toString().toDouble();
                        QVERIFY2(std::abs(value - wanted) < 1e-9, qPrintable(where));
                    } else {
                        QVERIFY2(got.toString() == want,
                                 qPrintable(QStringLiteral("%1: %2 != %3").arg(where, got.toString(), want)));
                    }
                }
            }
        }
    }

    // A selection that leaves no test is an error with its reason; no empty tables are written.
    void emptySelectionIsAnError()
    {
        QTemporaryDir out;
        const Run run = Summary({QStringLiteral("--age"), QStringLiteral("90-99"), m_data.path(), out.path()});
        QCOMPARE(run.code, 1);
        QVERIFY(run.err.contains(QStringLiteral("нет тестов")));
        QVERIFY(!QFileInfo::exists(out.filePath(QStringLiteral("groups.csv"))));
        QVERIFY(!QFileInfo::exists(out.filePath(QStringLiteral("values.csv"))));
    }

    void wrongArguments_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::newRow("no folders") << QStringList{};
        QTest::newRow("sex out of range") << QStringList{u"--sex"_qs, u"3"_qs, u"a"_qs, u"b"_qs};
        QTest::newRow("age without numbers") << QStringList{u"--age"_qs, u"-"_qs, u"a"_qs, u"b"_qs};
        QTest::newRow("not a date") << QStringList{u"--from"_qs, u"10.12.2026"_qs, u"a"_qs, u"b"_qs};
        QTest::newRow("unknown option") << QStringList{u"--format"_qs, u"csv"_qs, u"a"_qs, u"b"_qs};
        QTest::newRow("missing data folder") << QStringList{u"/no/such/folder"_qs, u"/tmp"_qs};
    }
    void wrongArguments()
    {
        QFETCH(QStringList, args);
        const Run run = Summary(args);
        QCOMPARE(run.code, 2);
        QVERIFY(!run.err.isEmpty());
    }

private:
    QTemporaryDir m_data;
};

QTEST_GUILESS_MAIN(TestSummaryTool)
#include "test_summary_tool.moc"
