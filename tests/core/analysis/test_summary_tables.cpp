// The summary's tables as the window, its report and the data tool all take them: the columns, the
// rows' texts beside their figures, and the words for a scale that could not be built.
#include "core/analysis/SummaryTables.h"
#include "core/catalogue/uvsValues.h"
#include "support/SummaryFixture.h"

#include <QTemporaryDir>
#include <QTest>

#include <cmath>
#include <limits>

using namespace kv;
using namespace Qt::Literals::StringLiterals;

namespace {

QStringList Headers(const SummaryTable& table)
{
    QStringList headers;
    for (const SummaryColumn& column : table.Columns)
        headers << column.Header;
    return headers;
}

QStringList Names(const SummaryTable& table)
{
    QStringList names;
    for (const SummaryColumn& column : table.Columns)
        names << QString::fromLatin1(column.Name);
    return names;
}

const std::vector<SummaryCell>* RowNamed(const SummaryTable& table, const QString& name)
{
    for (const std::vector<SummaryCell>& row : table.Rows) {
        if (row[0].Text == name)
            return &row;
    }
    return nullptr;
}

} // namespace

class TestSummaryTables : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        QVERIFY(kvtest::WriteDatabase(m_dir.path(), true));
        m_data = ReadSummaryData(m_dir.path());
        for (const char16_t* name :
             {u"Идеологические ценности", u"Материальные ценности", u"Эмоциональные ценности", u"Витальные ценности"})
            m_groups.Items(m_groups.Add(QString::fromUtf16(name), QString())).Number = m_groups.Count();
    }

    // The window's headings and the files' column names, in the one order both keep.
    void columnsInOrder()
    {
        const SummaryTables tables = BuildSummaryTables(m_data, Summarize(m_data, {}), m_groups);
        QCOMPARE(Headers(tables.Groups), (QStringList{u"Группа"_s, u"Тестов"_s, u"Средняя доля очков"_s, u"95% ДИ от"_s,
                                                      u"95% ДИ до"_s, u"Лидировала, тестов"_s}));
        QCOMPARE(Names(tables.Groups),
                 (QStringList{u"group"_s, u"tests"_s, u"mean_share"_s, u"ci_low"_s, u"ci_high"_s, u"led"_s}));
        QCOMPARE(Headers(tables.Values),
                 (QStringList{u"Ценность"_s, u"Группа"_s, u"Побеждала, тестов"_s, u"Выбрана (по журналу), тестов"_s,
                              u"Средняя доля побед"_s, u"Средний ранг"_s, u"Первая, тестов"_s}));
        QCOMPARE(Names(tables.Values), (QStringList{u"value"_s, u"group"_s, u"won"_s, u"chosen"_s, u"mean_share"_s,
                                                    u"mean_rank"_s, u"first"_s}));
        QCOMPARE(Headers(tables.Scale),
                 (QStringList{u"Ценность"_s, u"Группа"_s, u"Шкала"_s, u"Стандартная ошибка"_s, u"Сравнений"_s}));
        QCOMPARE(Names(tables.Scale), (QStringList{u"value"_s, u"group"_s, u"scale"_s, u"se"_s, u"comparisons"_s}));
        // The window opens the values by their share of wins and the scale by its value.
        QCOMPARE(tables.Values.Columns[size_t(tables.Values.SortColumn)].Name, "mean_share");
        QCOMPARE(tables.Scale.Columns[size_t(tables.Scale.SortColumn)].Name, "scale");
    }

    // Every row of every table has a cell per column, its text the figure in Russian notation.
    void rowsShowTheirFigures()
    {
        const TvsSummary summary = Summarize(m_data, {});
        const SummaryTables tables = BuildSummaryTables(m_data, summary, m_groups);
        QCOMPARE(tables.Groups.Rows.size(), size_t(4));
        const std::vector<SummaryCell>& first = tables.Groups.Rows[0];
        QCOMPARE(first.size(), tables.Groups.Columns.size());
        QCOMPARE(first[0].Text, u"Идеологические ценности"_s);
        QCOMPARE(first[0].Number, 1.0);
        // Respondent 4's points tell no number of values: three tests in the shares.
        QCOMPARE(first[1].Text, u"3"_s);
        QCOMPARE(first[1].Number, 3.0);
        // 5/9 of the points.
        QCOMPARE(first[2].Text, u"0,556"_s);
        QVERIFY(std::abs(first[2].Number - 5.0 / 9) < 1e-12);
        QCOMPARE(first[2].Number, summary.Groups[0].MeanShare);
        QCOMPARE(first[3].Number, summary.Groups[0].CiLow);

        QCOMPARE(tables.Values.Rows.size(), summary.Values.size());
        const std::vector<SummaryCell>* a = RowNamed(tables.Values, u"A"_s);
        QVERIFY(a);
        QCOMPARE(a->size(), tables.Values.Columns.size());
        QCOMPARE((*a)[1].Text, u"Идеологические ценности"_s);
        QCOMPARE((*a)[4].Text, u"0,722"_s);
        // Two decimals for the rank.
        QCOMPARE((*a)[5].Text, u"1,67"_s);
        for (const std::vector<SummaryCell>& row : tables.Values.Rows)
            QCOMPARE(row.size(), tables.Values.Columns.size());
    }

    // The data tool has no catalogue; its groups are numbered.
    void groupsWithoutACatalogue()
    {
        const SummaryTables tables = BuildSummaryTables(m_data, Summarize(m_data, {}), TvsValueTypeList());
        QCOMPARE(tables.Groups.Rows[2][0].Text, u"Группа 3"_s);
        QCOMPARE(tables.Groups.Rows[2][0].Number, 3.0);
        QCOMPARE(RowNamed(tables.Values, u"D"_s)->at(1).Text, u"Группа 3"_s);
    }

    // One test has no confidence interval: the cell is blank and its figure NaN, not "nan" or 0.
    void blankWhereAFigureCannotBeTold()
    {
        TvsSummaryFilter women;
        women.Sex = 2;
        const SummaryTables tables = BuildSummaryTables(m_data, Summarize(m_data, women), m_groups);
        const std::vector<SummaryCell>& first = tables.Groups.Rows[0];
        QCOMPARE(first[1].Text, u"1"_s);
        QCOMPARE(first[3].Text, QString());
        QVERIFY(std::isnan(first[3].Number));
        QCOMPARE(first[4].Text, QString());
    }

    void emptySelection()
    {
        TvsSummaryFilter nobody;
        nobody.AgeFrom = 90;
        const TvsSummary summary = Summarize(m_data, nobody);
        const SummaryTables tables = BuildSummaryTables(m_data, summary, m_groups);
        QVERIFY(tables.Groups.Rows.empty());
        QVERIFY(tables.Values.Rows.empty());
        QVERIFY(tables.Scale.Rows.empty());
        QCOMPARE(SummaryCountText(summary), u"нет тестов"_s);
        QCOMPARE(ScaleNotBuiltText(summary), QString());
    }

    void countLine()
    {
        QCOMPARE(SummaryCountText(Summarize(m_data, {})),
                 u"Тестов: 4, из них без полного числа сравнений (не учтены в долях): 1, с журналом ответов: 1"_s);
        TvsSummaryFilter first;
        first.Ids = {1};
        QCOMPARE(SummaryCountText(Summarize(m_data, first)), u"Тестов: 1, с журналом ответов: 0"_s);
    }

    // A fitted scale gives a row per value on it, in the fit's order.
    void fittedScale()
    {
        TvsSummaryData data;
        data.Values = {{u"X"_s, 1}, {u"Y"_s, 4}};
        TvsSummary summary;
        summary.Tests = 12;
        summary.WithAnswers = 12;
        summary.Scale.State = TvsBradleyTerry::Status::Fitted;
        summary.Scale.Items = {1, 0};
        summary.Scale.Scale = {0.25, -0.25};
        summary.Scale.StdError = {0.125, 0.0625};
        summary.Scale.Comparisons = {12, 11};
        const SummaryTables tables = BuildSummaryTables(data, summary, m_groups);
        QCOMPARE(tables.Scale.Rows.size(), size_t(2));
        const std::vector<SummaryCell>& y = tables.Scale.Rows[0];
        QCOMPARE(y[0].Text, u"Y"_s);
        QCOMPARE(y[1].Text, u"Витальные ценности"_s);
        QCOMPARE(y[1].Number, 4.0);
        QCOMPARE(y[2].Text, u"0,250"_s);
        QCOMPARE(y[3].Text, u"0,125"_s);
        QCOMPARE(y[4].Text, u"12"_s);
        QCOMPARE(tables.Scale.Rows[1][0].Text, u"X"_s);
        QCOMPARE(tables.Scale.Rows[1][2].Number, -0.25);
        QCOMPARE(ScaleNotBuiltText(summary), QString());
    }

    // The window's note and the tool's line give the same reason for each way a scale can fail.
    void scaleStatusTexts_data()
    {
        QTest::addColumn<int>("state");
        QTest::addColumn<qint64>("withAnswers");
        QTest::addColumn<QString>("note");
        QTest::addColumn<QString>("line");
        using S = TvsBradleyTerry::Status;
        QTest::newRow("fitted") << int(S::Fitted) << qint64(3) << u"Шкала Брэдли — Терри по всем ответам"_s
                                << QString();
        QTest::newRow("no answer logs") << int(S::TooFew) << qint64(0) << u"У отобранных тестов нет журналов ответов"_s
                                        << u"Шкала не построена: у отобранных тестов нет журналов ответов"_s;
        QTest::newRow("too few") << int(S::TooFew) << qint64(3)
                                 << u"Слишком мало сравнений: в шкалу входят ценности, сравнивавшиеся не менее 7 раз."_s
                                 << u"Шкала не построена: слишком мало сравнений"_s;
        QTest::newRow("in three parts") << int(S::Disconnected) << qint64(3)
                                        << u"Шкалу построить нельзя: ответы распадаются на 3 не связанные части"_s
                                        << u"Шкала не построена: сравнения распадаются на 3 не связанные части"_s;
        QTest::newRow("no convergence") << int(S::NoConvergence) << qint64(3)
                                        << u"Шкалу построить не удалось: расчёт не сошёлся."_s
                                        << u"Шкала не построена: расчёт не сошёлся"_s;
    }
    void scaleStatusTexts()
    {
        QFETCH(int, state);
        QFETCH(qint64, withAnswers);
        QFETCH(QString, note);
        QFETCH(QString, line);
        TvsSummary summary;
        summary.Tests = 3;
        summary.WithAnswers = withAnswers;
        summary.Scale.State = TvsBradleyTerry::Status(state);
        summary.Scale.Components.resize(3);
        TvsSummaryOptions options;
        options.MinComparisons = 7;
        const QString shown = ScaleNote(summary, options);
        QVERIFY2(shown.startsWith(note), qPrintable(shown));
        QCOMPARE(ScaleNotBuiltText(summary), line);
        if (state == int(TvsBradleyTerry::Status::Fitted))
            QVERIFY(shown.contains(u"не менее 7 раз"_s));
    }

    void consistencyLine()
    {
        TvsSummary summary;
        QCOMPARE(ConsistencyNote(summary), u"Согласованность ответов не рассчитывается."_s);
        summary.HasConsistency = true;
        QCOMPARE(ConsistencyNote(summary), u"нет тестов"_s);
        summary.Consistency.Tests = 5;
        summary.Consistency.LikeRandom = 2;
        QCOMPARE(ConsistencyNote(summary),
                 u"Коэффициент согласованности ζ по 5 тестам; похожи на случайные ответы (p > 0,05): 2."_s);
        summary.Consistency.Tests = 1;
        summary.Consistency.LikeRandom = 0;
        QCOMPARE(ConsistencyNote(summary),
                 u"Коэффициент согласованности ζ по 1 тесту; похожи на случайные ответы (p > 0,05): 0."_s);
    }

    // Counts in sentences take the Russian form the number asks for.
    void countsTakeTheirForm_data()
    {
        QTest::addColumn<qint64>("parts");
        QTest::addColumn<qint64>("minimum");
        QTest::addColumn<QString>("line");
        QTest::addColumn<QString>("times");
        QTest::newRow("1, 1") << qint64(1) << qint64(1) << u"на 1 не связанную часть"_s << u"не менее 1 раза."_s;
        QTest::newRow("2, 2") << qint64(2) << qint64(2) << u"на 2 не связанные части"_s << u"не менее 2 раз."_s;
        QTest::newRow("5, 10") << qint64(5) << qint64(10) << u"на 5 не связанных частей"_s << u"не менее 10 раз."_s;
        QTest::newRow("21, 21") << qint64(21) << qint64(21) << u"на 21 не связанную часть"_s << u"не менее 21 раза."_s;
        QTest::newRow("12, 12") << qint64(12) << qint64(12) << u"на 12 не связанных частей"_s << u"не менее 12 раз."_s;
    }
    void countsTakeTheirForm()
    {
        QFETCH(qint64, parts);
        QFETCH(qint64, minimum);
        QFETCH(QString, line);
        QFETCH(QString, times);
        TvsSummary summary;
        summary.Tests = 3;
        summary.WithAnswers = 3;
        summary.Scale.State = TvsBradleyTerry::Status::Disconnected;
        summary.Scale.Components.resize(size_t(parts));
        QVERIFY2(ScaleNotBuiltText(summary).endsWith(line), qPrintable(ScaleNotBuiltText(summary)));
        summary.Scale.State = TvsBradleyTerry::Status::TooFew;
        TvsSummaryOptions options;
        options.MinComparisons = minimum;
        QVERIFY2(ScaleNote(summary, options).endsWith(times), qPrintable(ScaleNote(summary, options)));
    }

private:
    QTemporaryDir m_dir;
    TvsSummaryData m_data;
    TvsValueTypeList m_groups;
};

QTEST_GUILESS_MAIN(TestSummaryTables)
#include "test_summary_tables.moc"
