// kvendar-data's command line: every subcommand reads its options by the same rules, explains each of
// them in its help, and gives its version.
#include "support/SummaryFixture.h"
#include "tool/Commands.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::Literals::StringLiterals;

namespace {

struct Run
{
    int status;
    QString out;
    QString err;
};

Run Tool(const QStringList& args)
{
    QString out, err;
    QTextStream o(&out), e(&err);
    const int status = kv::RunDataTool(args, o, e);
    o.flush();
    e.flush();
    return {status, out, err};
}

} // namespace

class TestCommandLine : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(m_data.isValid());
        QVERIFY(kvtest::WriteDatabase(m_data.path(), true));
    }

    // DATA is the four respondents' folder, OUT a path where nothing is yet. written: what must be at
    // OUT afterwards ("." OUT itself as a file, else a file in the folder OUT; empty: nothing at all);
    // absent: a file in OUT that must not be there.
    void optionSpellings_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("written");
        QTest::addColumn<QString>("absent");
        const QString exported = u"Экспортировано: тестов 4"_s;
        const auto refused = [](const char* command, const char* arg) {
            return QStringLiteral("kvendar-data %1: Неизвестный или неполный параметр «%2»")
                .arg(QLatin1StringView(command), QString::fromUtf8(arg));
        };

        QTest::newRow("export --format xlsx") << QStringList{u"export"_s, u"--format"_s, u"xlsx"_s, u"DATA"_s, u"OUT"_s}
                                              << 0 << exported << u"."_s << QString();
        QTest::newRow("export --format=xlsx") << QStringList{u"export"_s, u"--format=xlsx"_s, u"DATA"_s, u"OUT"_s} << 0
                                              << exported << u"."_s << QString();
        QTest::newRow("summary --format xlsx")
            << QStringList{u"summary"_s, u"--format"_s, u"xlsx"_s, u"DATA"_s, u"OUT"_s} << 0 << u"Тестов: 4"_s << u"."_s
            << QString();
        QTest::newRow("summary --format=xlsx") << QStringList{u"summary"_s, u"--format=xlsx"_s, u"DATA"_s, u"OUT"_s}
                                               << 0 << u"Тестов: 4"_s << u"."_s << QString();
        QTest::newRow("export --tests 1-2") << QStringList{u"export"_s, u"--tests"_s, u"1-2"_s, u"DATA"_s, u"OUT"_s}
                                            << 0 << u"Экспортировано: тестов 2"_s << u"tests.csv"_s << QString();
        QTest::newRow("export --tests=1-2") << QStringList{u"export"_s, u"--tests=1-2"_s, u"DATA"_s, u"OUT"_s} << 0
                                            << u"Экспортировано: тестов 2"_s << u"tests.csv"_s << QString();
        QTest::newRow("summary --sex 1") << QStringList{u"summary"_s, u"--sex"_s, u"1"_s, u"DATA"_s, u"OUT"_s} << 0
                                         << u"Тестов: 2"_s << u"groups.csv"_s << QString();
        QTest::newRow("summary --sex=1") << QStringList{u"summary"_s, u"--sex=1"_s, u"DATA"_s, u"OUT"_s} << 0
                                         << u"Тестов: 2"_s << u"groups.csv"_s << QString();
        QTest::newRow("summary --age=40-") << QStringList{u"summary"_s, u"--age=40-"_s, u"DATA"_s, u"OUT"_s} << 0
                                           << u"Тестов: 1"_s << u"values.csv"_s << QString();
        QTest::newRow("summary --from=2025-01-01")
            << QStringList{u"summary"_s, u"--from=2025-01-01"_s, u"DATA"_s, u"OUT"_s} << 0 << u"Тестов: 2"_s
            << u"values.csv"_s << QString();
        QTest::newRow("summary --to=2024-03-01") << QStringList{u"summary"_s, u"--to=2024-03-01"_s, u"DATA"_s, u"OUT"_s}
                                                 << 0 << u"Тестов: 1"_s << u"values.csv"_s << QString();
        QTest::newRow("options after the folders") << QStringList{u"export"_s, u"DATA"_s, u"OUT"_s, u"--format=sav"_s}
                                                   << 0 << exported << u"tests.sav"_s << u"tests.csv"_s;
        QTest::newRow("-- ends the options") << QStringList{u"summary"_s, u"--"_s, u"DATA"_s, u"OUT"_s} << 0
                                             << u"Тестов: 4"_s << u"scale.csv"_s << QString();

        QTest::newRow("export, missing value") << QStringList{u"export"_s, u"DATA"_s, u"OUT"_s, u"--format"_s} << 2
                                               << refused("export", "--format") << QString() << QString();
        QTest::newRow("summary, missing value") << QStringList{u"summary"_s, u"DATA"_s, u"OUT"_s, u"--format"_s} << 2
                                                << refused("summary", "--format") << QString() << QString();
        QTest::newRow("summary, missing age") << QStringList{u"summary"_s, u"DATA"_s, u"OUT"_s, u"--age"_s} << 2
                                              << refused("summary", "--age") << QString() << QString();
        QTest::newRow("export, unknown option")
            << QStringList{u"export"_s, u"--colour"_s, u"red"_s, u"DATA"_s, u"OUT"_s} << 2
            << refused("export", "--colour") << QString() << QString();
        QTest::newRow("check, unknown option") << QStringList{u"check"_s, u"--colour"_s, u"DATA"_s} << 2
                                               << refused("check", "--colour") << QString() << QString();
        QTest::newRow("merge, unknown option") << QStringList{u"merge"_s, u"--colour=red"_s, u"DATA"_s, u"OUT"_s} << 2
                                               << refused("merge", "--colour=red") << QString() << QString();
        QTest::newRow("summary, unknown short option") << QStringList{u"summary"_s, u"-x"_s, u"DATA"_s, u"OUT"_s} << 2
                                                       << refused("summary", "-x") << QString() << QString();
        QTest::newRow("a switch given a value") << QStringList{u"check"_s, u"--version=2"_s, u"DATA"_s} << 2
                                                << refused("check", "--version=2") << QString() << QString();
        QTest::newRow("the tool, unknown option")
            << QStringList{u"--colour"_s, u"check"_s, u"DATA"_s} << 2
            << u"kvendar-data: Неизвестный или неполный параметр «--colour»"_s << QString() << QString();
        QTest::newRow("export, unknown format") << QStringList{u"export"_s, u"--format=ods"_s, u"DATA"_s, u"OUT"_s} << 2
                                                << u"Неизвестный формат «ods»"_s << QString() << QString();
        QTest::newRow("summary, unknown format")
            << QStringList{u"summary"_s, u"--format"_s, u"ods"_s, u"DATA"_s, u"OUT"_s} << 2
            << u"Неизвестный формат «ods»"_s << QString() << QString();

        QTest::newRow("export, repeated option")
            << QStringList{u"export"_s, u"--format"_s, u"sav"_s, u"--format"_s, u"csv"_s, u"DATA"_s, u"OUT"_s} << 0
            << exported << u"tests.csv"_s << u"tests.sav"_s;
        QTest::newRow("summary, repeated option")
            << QStringList{u"summary"_s, u"--format=xlsx"_s, u"--format=csv"_s, u"DATA"_s, u"OUT"_s} << 0
            << u"Тестов: 4"_s << u"groups.csv"_s << QString();
        QTest::newRow("summary, repeated filter")
            << QStringList{u"summary"_s, u"--sex"_s, u"2"_s, u"--sex=1"_s, u"DATA"_s, u"OUT"_s} << 0 << u"Тестов: 2"_s
            << u"groups.csv"_s << QString();
        // The window's questionnaire filters, by the export's codes; selections that cannot hold a
        // test are refused with their reason, and an empty one is an error, not a set of empty tables.
        QTest::newRow("summary --family-status 1")
            << QStringList{u"summary"_s, u"--family-status"_s, u"1"_s, u"DATA"_s, u"OUT"_s} << 0 << u"Тестов: 2"_s
            << u"groups.csv"_s << QString();
        QTest::newRow("summary --education=3 --sex=2")
            << QStringList{u"summary"_s, u"--education=3"_s, u"--sex=2"_s, u"DATA"_s, u"OUT"_s} << 0 << u"Тестов: 1"_s
            << u"groups.csv"_s << QString();
        QTest::newRow("summary --family-status 9")
            << QStringList{u"summary"_s, u"--family-status"_s, u"9"_s, u"DATA"_s, u"OUT"_s} << 2
            << u"Неверное значение «9» параметра «--family-status»"_s << QString() << QString();
        QTest::newRow("summary, an age too large for a number")
            << QStringList{u"summary"_s, u"--age"_s, u"99999999999-"_s, u"DATA"_s, u"OUT"_s} << 2
            << u"Неверное значение «99999999999-» параметра «--age»"_s << QString() << QString();
        QTest::newRow("summary, an inverted age range")
            << QStringList{u"summary"_s, u"--age=50-10"_s, u"DATA"_s, u"OUT"_s} << 2 << u"начало больше конца"_s
            << QString() << QString();
        QTest::newRow("summary, inverted dates")
            << QStringList{u"summary"_s, u"--from=2025-06-01"_s, u"--to=2025-01-01"_s, u"DATA"_s, u"OUT"_s} << 2
            << u"позже даты"_s << QString() << QString();
        QTest::newRow("summary, nothing selected") << QStringList{u"summary"_s, u"--age=90-"_s, u"DATA"_s, u"OUT"_s}
                                                   << 1 << u"нет тестов"_s << QString() << QString();
        QTest::newRow("summary, a file for the data folder")
            << QStringList{u"summary"_s, u"DATA/tests.dat"_s, u"OUT"_s} << 2 << u"Это не папка данных, а файл"_s
            << QString() << QString();
        QTest::newRow("export, a file for the data folder")
            << QStringList{u"export"_s, u"DATA/tests.dat"_s, u"OUT"_s} << 2 << u"Это не папка данных, а файл"_s
            << QString() << QString();
        QTest::newRow("help wins over a wrong option")
            << QStringList{u"export"_s, u"--colour"_s, u"--help"_s} << 0 << u"Использование: kvendar-data export"_s
            << QString() << QString();
    }

    void optionSpellings()
    {
        QFETCH(QStringList, args);
        QFETCH(int, status);
        QFETCH(QString, text);
        QFETCH(QString, written);
        QFETCH(QString, absent);
        QTemporaryDir dir;
        const QString output = dir.filePath(u"out"_s);
        args.replaceInStrings(u"DATA"_s, m_data.path());
        args.replaceInStrings(u"OUT"_s, output);
        const Run run = Tool(args);
        const QString said = run.out + run.err;
        QVERIFY2(run.status == status, qPrintable(QString::number(run.status) + u' ' + said));
        QVERIFY2(said.contains(text), qPrintable(said));
        // A refused line says so on the error stream and nothing on the other.
        if (status == 2)
            QCOMPARE(run.out, QString());
        if (written.isEmpty()) {
            QVERIFY(!QFileInfo::exists(output));
        } else if (written == u".") {
            QFile book(output);
            QVERIFY(book.open(QIODevice::ReadOnly));
            QVERIFY(book.read(2) == "PK");
        } else {
            QVERIFY2(QFileInfo(output + u'/' + written).size() > 0, qPrintable(written));
        }
        if (!absent.isEmpty())
            QVERIFY(!QFileInfo::exists(output + u'/' + absent));
    }

    // The options each subcommand takes, as this test knows them.
    void helpNamesEveryOption_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<QStringList>("options");
        QTest::newRow("export") << u"export"_s << QStringList{u"format"_s, u"tests"_s};
        QTest::newRow("check") << u"check"_s << QStringList{};
        QTest::newRow("merge") << u"merge"_s << QStringList{};
        QTest::newRow("summary") << u"summary"_s
                                 << QStringList{u"format"_s,    u"sex"_s,           u"age"_s,        u"from"_s,
                                                u"to"_s,        u"family-status"_s, u"children"_s,   u"residence"_s,
                                                u"education"_s, u"social-status"_s, u"occupation"_s, u"income-level"_s};
    }

    void helpNamesEveryOption()
    {
        QFETCH(QString, command);
        QFETCH(QStringList, options);
        options << u"help"_s << u"version"_s;
        for (const QString& spelling : {u"--help"_s, u"-h"_s}) {
            const Run run = Tool({command, spelling});
            QCOMPARE(run.status, 0);
            QCOMPARE(run.err, QString());
            QVERIFY2(run.out.startsWith(u"Использование: kvendar-data "_s + command), qPrintable(run.out));
            // Every option is explained on a line of its own, with the text under it.
            for (const QString& option : options) {
                const QRegularExpression entry(u"\\n  (-h, )?--"_s + option + u"[^\\n]*\\n      \\S"_s);
                QVERIFY2(entry.match(run.out).hasMatch(), qPrintable(option + u'\n' + run.out));
            }
            // And the help names no option that the command does not take.
            const QRegularExpression named(u"--([a-z]+(?:-[a-z]+)*)"_s);
            for (auto match = named.globalMatch(run.out); match.hasNext();) {
                const QString name = match.next().captured(1);
                QVERIFY2(options.contains(name), qPrintable(name));
            }
            QVERIFY(run.out.contains(u"\nКоды выхода:\n"_s));
            for (const char* code : {"\n  0  ", "\n  1  ", "\n  2  "})
                QVERIFY2(run.out.contains(QLatin1StringView(code)), code);
        }
    }

    void helpOfTheToolListsTheCommands()
    {
        const Run run = Tool({u"--help"_s});
        QCOMPARE(run.status, 0);
        for (const char* command : {"export", "check", "merge", "summary"})
            QVERIFY2(run.out.contains(u"\n  kvendar-data "_s + QLatin1StringView(command) + u' '), command);
        QVERIFY(run.out.contains(u"--version"_s));
        QCOMPARE(Tool({u"help"_s}).out, run.out);
    }

    void version()
    {
        const Run run = Tool({u"--version"_s});
        QCOMPARE(run.status, 0);
        QCOMPARE(run.err, QString());
        QVERIFY2(QRegularExpression(u"^kvendar-data \\d+\\.\\d+(\\.\\d+)?\\n$"_s).match(run.out).hasMatch(),
                 qPrintable(run.out));
        for (const QString& command : {u"export"_s, u"check"_s, u"merge"_s, u"summary"_s}) {
            const Run sub = Tool({command, u"--version"_s});
            QCOMPARE(sub.status, 0);
            QCOMPARE(sub.out, run.out);
        }
        // The program itself, as installed.
        QProcess tool;
        tool.start(QStringLiteral(KVENDAR_BIN_DIR "/kvendar-data"), {u"--version"_s});
        QVERIFY(tool.waitForFinished(30000));
        QCOMPARE(tool.exitCode(), 0);
        QCOMPARE(QString::fromUtf8(tool.readAllStandardOutput()), run.out);
    }

private:
    QTemporaryDir m_data;
};

QTEST_GUILESS_MAIN(TestCommandLine)
#include "test_command_line.moc"
