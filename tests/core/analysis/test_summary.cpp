#include "core/analysis/Summary.h"
#include "core/platform/Codec.h"
#include "core/storage/uvsDataBase.h"
#include "support/SummaryFixture.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <numeric>
#include <random>

using kv::TvsSummary;
using kv::TvsSummaryData;
using kv::TvsSummaryFilter;

namespace {

using kvtest::WriteDatabase;

bool Near(double a, double b)
{
    return std::abs(a - b) < 1e-9;
}

const kv::TvsValueSummary* FindValue(const TvsSummaryData& data, const TvsSummary& s, const QString& name)
{
    for (const kv::TvsValueSummary& v : s.Values) {
        if (data.Values[v.Value].Name == name)
            return &v;
    }
    return nullptr;
}

// Kendall's coefficient from the wins of all n values; p_random made up as 1 - zeta so the count of
// random-looking tests shows which tests reached the histogram.
kv::TvsConsistency KendallForTest(std::span<const qint64> wins)
{
    kv::TvsConsistency c;
    const qint64 n = qint64(wins.size());
    qint64 sum = 0;
    double squares = 0;
    for (qint64 w : wins) {
        sum += w;
        squares += (double(w) - double(n - 1) / 2) * (double(w) - double(n - 1) / 2);
    }
    if (n < 3 || sum != n * (n - 1) / 2)
        return c;
    const double d = double(n) * double(n * n - 1) / 24 - squares / 2;
    const double dMax = n % 2 ? double(n * n * n - n) / 24 : double(n * n * n - 4 * n) / 24;
    c.Valid = true;
    c.N = qint32(n);
    c.Triads = std::llround(d);
    c.MaxTriads = std::llround(dMax);
    c.Zeta = 1 - d / dMax;
    c.PRandom = 1 - c.Zeta;
    return c;
}

// Thirty tests whose records a reader may cut anywhere: numbers out of file order, one number twice
// and one 0; values in several groups under one name, values of a test that does not exist (one
// name met only there), a value named twice in one test, and, when shuffled, a stretch of values out
// of test order. Tests 2 and 3 have answer logs; test 3's names two values its scores do not.
bool WriteUneven(const QString& dir, bool shuffled)
{
    const QStringList texts{QStringLiteral("Нет ответа"), QStringLiteral("Высшее"), QStringLiteral("Среднее")};
    QByteArray tests, values, answers;
    std::vector<quint32> ids;
    for (int p = 0; p < 30; ++p) {
        const quint32 id = p == 9 ? 40 : p == 19 ? 5 : p == 24 ? 0 : quint32(p + 1);
        ids.push_back(id);
        kv::TvsDBTestRec rec;
        rec.SetId(id);
        rec.SetSex(quint8(p % 3));
        rec.SetAge(p % 7 == 0 ? 0 : 20 + p);
        rec.SetDate(45000.25 + p);
        rec.SetSocial(texts[p % 3]);
        rec.SetEducation(texts[(p / 2) % 3]);
        rec.SetMaterialLevel(texts[(p * 5) % 3]);
        // k values compared in full: k(k-1)/2 points spread over the groups; every fifth test's do not add up.
        const int k = 2 + p % 4;
        const int points = k * (k - 1) / 2 + (p % 5 == 4 ? 1 : 0);
        rec.SetTypeScore(1 + p % 4, points);
        tests.append(rec.bytes.data(), kv::TvsDBTestRec::kSize);
    }
    std::vector<kv::TvsDBValueRec> recs;
    auto value = [&](quint32 test, quint8 group, const QString& name, qint32 wins) {
        kv::TvsDBValueRec rec;
        rec.SetId(qint32(recs.size() + 1));
        rec.SetTestId(qint32(test));
        rec.SetTypeNumber(group);
        rec.SetScore(wins);
        rec.SetName(name);
        recs.push_back(rec);
    };
    for (int p = 0; p < 30; ++p) {
        const int k = 2 + p % 4;
        for (int j = 0; j < k - 1; ++j)
            value(ids[size_t(p)], quint8(1 + (p + j) % 4), QStringLiteral("Ценность %1").arg((p * 7 + j) % 9),
                  k - 1 - j);
        if (p == 6)
            value(ids[size_t(p)], quint8(1 + p % 4), QStringLiteral("Ценность %1").arg((p * 7) % 9), 1);
        if (p == 12)
            value(77, 2, QStringLiteral("Только у неизвестного теста"), 3);
    }
    if (shuffled)
        std::rotate(recs.begin() + 10, recs.begin() + 25, recs.begin() + 40);
    for (const kv::TvsDBValueRec& rec : recs)
        values.append(rec.bytes.data(), kv::TvsDBValueRec::kSize);
    const kvtest::Answered logged[] = {
        {2, 2, u"Ценность 7", 3, u"Ценность 8", 1},
        {3, 3, u"Ценность 5", 4, u"Ценность 6", 2},
        {3, 4, u"Ценность 6", 1, u"Новая", 1},
        {3, 1, u"Новая", 2, u"Другая", 2},
    };
    quint32 question = 1;
    for (const kvtest::Answered& a : logged) {
        char rec[181] = {};
        qToLittleEndian<quint32>(question, rec);
        qToLittleEndian<quint32>(a.test, rec + 4);
        qToLittleEndian<quint32>(question++, rec + 8);
        rec[12] = char(a.upperGroup);
        kvtest::PutShort(rec + 13, QString::fromUtf16(a.upper));
        rec[94] = char(a.lowerGroup);
        kvtest::PutShort(rec + 95, QString::fromUtf16(a.lower));
        rec[176] = char(a.chosen);
        answers.append(rec, sizeof rec);
    }
    return kvtest::WriteFile(dir + QStringLiteral("/tests.dat"), tests) &&
           kvtest::WriteFile(dir + QStringLiteral("/values.dat"), values) &&
           kvtest::WriteFile(dir + QStringLiteral("/answers.dat"), answers);
}

// Each test as read, its scores by name in name order, one line per test, so that two readings of
// the same records in another order compare with a readable difference.
QStringList ScoresByName(const TvsSummaryData& data)
{
    QStringList lines;
    for (const kv::TvsSummaryTest& t : data.Tests) {
        QStringList scores;
        for (quint32 i = 0; i < t.ScoreCount; ++i) {
            const kv::TvsSummaryScore& s = data.Scores[t.FirstScore + i];
            const kv::TvsSummaryValue& v = data.Values[s.Value];
            scores << QStringLiteral("%1:%2=%3").arg(v.Group).arg(v.Name).arg(s.Wins);
        }
        scores.sort();
        lines << QStringLiteral("test %1 n %2 known %3 pairs %4 | %5")
                     .arg(t.Id)
                     .arg(t.N)
                     .arg(t.Known)
                     .arg(t.PairCount)
                     .arg(scores.join(u' '));
    }
    lines << QStringLiteral("skipped %1").arg(data.SkippedAnswers);
    return lines;
}

} // namespace

Q_DECLARE_METATYPE(TvsSummaryFilter)

namespace {

// A sample of count tests made in memory, large enough for the summary to share it between two
// threads: three to eight values from twelve, random complete comparisons, every fifth test with
// its answer log, every seventeenth with points that tell no number of values.
TvsSummaryData RandomSample(int count)
{
    TvsSummaryData data;
    std::mt19937 random(7);
    for (int v = 0; v < 12; ++v)
        data.ValueIndex(1 + v % 4, QStringLiteral("Ценность %1").arg(v));
    std::vector<quint32> order(12);
    for (int t = 0; t < count; ++t) {
        kv::TvsSummaryTest test;
        test.Id = quint32(t + 1);
        test.Sex = quint8(random() % 3);
        test.Age = qint32(18 + random() % 60);
        const int n = 3 + int(random() % 6);
        std::iota(order.begin(), order.end(), 0u);
        std::shuffle(order.begin(), order.end(), random);
        std::vector<qint32> wins(size_t(n), 0);
        const bool logged = t % 5 == 0;
        test.FirstPair = quint32(data.Pairs.size());
        for (int i = 0; i < n; ++i) {
            for (int j = i + 1; j < n; ++j) {
                const bool first = random() % 2 == 0;
                ++wins[size_t(first ? i : j)];
                if (logged)
                    data.Pairs.push_back({order[size_t(first ? i : j)], order[size_t(first ? j : i)]});
            }
        }
        test.PairCount = quint32(data.Pairs.size()) - test.FirstPair;
        test.FirstScore = quint32(data.Scores.size());
        for (int i = 0; i < n; ++i) {
            test.Points[size_t(data.Values[order[size_t(i)]].Group - 1)] += wins[size_t(i)];
            if (wins[size_t(i)] > 0)
                data.Scores.push_back({order[size_t(i)], wins[size_t(i)]});
        }
        test.ScoreCount = quint32(data.Scores.size()) - test.FirstScore;
        test.Known = logged ? quint32(n) : test.ScoreCount;
        if (t % 17 == 0)
            test.Points = {4, 0, 0, 0};
        test.N = kv::ValuesFromPoints(test.Points[0] + test.Points[1] + test.Points[2] + test.Points[3]);
        data.Tests.push_back(test);
    }
    return data;
}

bool SameNumber(double a, double b)
{
    return (std::isnan(a) && std::isnan(b)) || std::abs(a - b) <= 1e-12 * std::max(1.0, std::abs(a));
}

// Where two summaries differ, in words; empty when they agree (their means to rounding).
QString Difference(const TvsSummary& a, const TvsSummary& b)
{
    if (a.Tests != b.Tests || a.Undecidable != b.Undecidable || a.WithAnswers != b.WithAnswers)
        return QStringLiteral("counts");
    for (size_t g = 0; g < 4; ++g) {
        const kv::TvsGroupSummary &x = a.Groups[g], &y = b.Groups[g];
        if (x.Tests != y.Tests || x.Led != y.Led || !SameNumber(x.MeanShare, y.MeanShare) ||
            !SameNumber(x.CiLow, y.CiLow) || !SameNumber(x.CiHigh, y.CiHigh))
            return QStringLiteral("group %1").arg(g + 1);
    }
    if (a.Values.size() != b.Values.size())
        return QStringLiteral("number of values");
    for (size_t v = 0; v < a.Values.size(); ++v) {
        const kv::TvsValueSummary &x = a.Values[v], &y = b.Values[v];
        if (x.Value != y.Value || x.Won != y.Won || x.Chosen != y.Chosen || x.Counted != y.Counted ||
            x.First != y.First || !SameNumber(x.MeanShare, y.MeanShare) || !SameNumber(x.MeanRank, y.MeanRank))
            return QStringLiteral("value %1").arg(v);
    }
    if (a.Consistency.Bins != b.Consistency.Bins || a.Consistency.Tests != b.Consistency.Tests ||
        a.Consistency.LikeRandom != b.Consistency.LikeRandom)
        return QStringLiteral("consistency");
    if (a.Scale.State != b.Scale.State || a.Scale.Items != b.Scale.Items || a.Scale.Scale != b.Scale.Scale ||
        a.Scale.Comparisons != b.Scale.Comparisons)
        return QStringLiteral("scale");
    return QString();
}

} // namespace

class TestSummary : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        QVERIFY(WriteDatabase(m_dir.path(), true));
        m_data = kv::ReadSummaryData(m_dir.path());
    }

    void reading()
    {
        QCOMPARE(m_data.Tests.size(), size_t(4));
        QCOMPARE(m_data.Values.size(), size_t(4));
        QCOMPARE(m_data.Values[0].Name, QStringLiteral("A"));
        QCOMPARE(m_data.Values[3].Group, 3);
        QCOMPARE(m_data.Tests[2].N, 4);
        QCOMPARE(m_data.Tests[2].PairCount, quint32(6));
        QCOMPARE(m_data.Tests[3].N, 0);
        QCOMPARE(m_data.SkippedAnswers, qint64(2));
    }

    void valuesFromPoints_data()
    {
        QTest::addColumn<qint64>("points");
        QTest::addColumn<qint32>("n");
        QTest::newRow("nothing") << qint64(0) << 0;
        QTest::newRow("two values") << qint64(1) << 2;
        QTest::newRow("three") << qint64(3) << 3;
        QTest::newRow("between three and four") << qint64(4) << 0;
        QTest::newRow("fifteen") << qint64(105) << 15;
        QTest::newRow("negative") << qint64(-3) << 0;
        // Beyond the values any test has, where the root is taken rather than looked up.
        QTest::newRow("a hundred") << qint64(4950) << 100;
        QTest::newRow("just past a hundred") << qint64(4951) << 0;
        QTest::newRow("seventy thousand") << qint64(2449965000) << 70000;
        QTest::newRow("more values than a number holds") << qint64(3000000000) * 2999999999 / 2 << 0;
        QTest::newRow("largest") << std::numeric_limits<qint64>::max() << 0;
    }
    void valuesFromPoints()
    {
        QFETCH(qint64, points);
        QFETCH(qint32, n);
        QCOMPARE(kv::ValuesFromPoints(points), n);
    }

    // Printed tables of Student's t.
    void studentT_data()
    {
        QTest::addColumn<qint64>("df");
        QTest::addColumn<double>("quantile");
        QTest::newRow("1") << qint64(1) << 12.7062;
        QTest::newRow("2") << qint64(2) << 4.3027;
        QTest::newRow("4") << qint64(4) << 2.7764;
        QTest::newRow("10") << qint64(10) << 2.2281;
        QTest::newRow("30") << qint64(30) << 2.0423;
        QTest::newRow("large") << qint64(1000000) << 1.9600;
    }
    void studentT()
    {
        QFETCH(qint64, df);
        QFETCH(double, quantile);
        QVERIFY2(std::abs(kv::StudentT975(df) - quantile) < 1e-4, qPrintable(QString::number(kv::StudentT975(df))));
    }

    void filterCounts_data()
    {
        QTest::addColumn<TvsSummaryFilter>("filter");
        QTest::addColumn<qint64>("count");
        auto answer = [](kv::TvsQuestion q, const QString& text) {
            TvsSummaryFilter f;
            f.Answers[size_t(q)] = text;
            return f;
        };
        auto with = [](auto change) {
            TvsSummaryFilter f;
            change(f);
            return f;
        };
        QTest::newRow("no filter") << TvsSummaryFilter{} << qint64(4);
        QTest::newRow("male") << with([](auto& f) { f.Sex = 1; }) << qint64(2);
        QTest::newRow("female") << with([](auto& f) { f.Sex = 2; }) << qint64(1);
        QTest::newRow("sex not given") << with([](auto& f) { f.Sex = 0; }) << qint64(1);
        // Respondent 3 left the age empty: a bound leaves them out.
        QTest::newRow("age 20-40") << with([](auto& f) { f.AgeFrom = 20, f.AgeTo = 40; }) << qint64(2);
        QTest::newRow("age from 40") << with([](auto& f) { f.AgeFrom = 40; }) << qint64(1);
        QTest::newRow("age to 20") << with([](auto& f) { f.AgeTo = 20; }) << qint64(1);
        QTest::newRow("family status") << answer(kv::TvsQuestion::Social, QStringLiteral("Холост")) << qint64(2);
        QTest::newRow("children") << answer(kv::TvsQuestion::Children, QStringLiteral("Один ребенок")) << qint64(1);
        QTest::newRow("place") << answer(kv::TvsQuestion::PlaceOfLiving, QStringLiteral("Москва")) << qint64(1);
        QTest::newRow("education") << answer(kv::TvsQuestion::Education, QStringLiteral("Высшее")) << qint64(2);
        QTest::newRow("social status") << answer(kv::TvsQuestion::SocialStatus, QStringLiteral("Рабочий")) << qint64(1);
        QTest::newRow("field") << answer(kv::TvsQuestion::Bussines, QStringLiteral("СМИ")) << qint64(1);
        QTest::newRow("material") << answer(kv::TvsQuestion::MaterialLevel, QStringLiteral("Средний")) << qint64(2);
        QTest::newRow("an answer nobody gave")
            << answer(kv::TvsQuestion::Social, QStringLiteral("Разведен / разведена")) << qint64(0);
        QTest::newRow("education and sex") << with([](auto& f) {
            f.Answers[size_t(kv::TvsQuestion::Education)] = QStringLiteral("Высшее");
            f.Sex = 2;
        }) << qint64(1);
        QTest::newRow("date from") << with([](auto& f) { f.DateFrom = QDate(2025, 1, 1); }) << qint64(2);
        QTest::newRow("date to") << with([](auto& f) { f.DateTo = QDate(2024, 12, 31); }) << qint64(2);
        // Saved at 23:30 on that day: the bounds are whole days.
        QTest::newRow("one day") << with([](auto& f) { f.DateFrom = f.DateTo = QDate(2024, 6, 15); }) << qint64(1);
        QTest::newRow("selected rows") << with([](auto& f) { f.Ids = {4, 2, 77}; }) << qint64(2);
    }
    void filterCounts()
    {
        QFETCH(TvsSummaryFilter, filter);
        QFETCH(qint64, count);
        QCOMPARE(kv::Summarize(m_data, filter).Tests, count);
    }

    // Shares over respondents 1-3 (4 cannot be told): group 1 has 2/3, 2/3, 2/6, mean 5/9 with a
    // standard error of exactly 1/9; group 2 1/3, 1/3, 1/6 (interval 0.039 .. 0.517); group 3 0, 0, 3/6.
    void groups()
    {
        const TvsSummary s = kv::Summarize(m_data, {});
        QCOMPARE(s.Undecidable, qint64(1));
        QCOMPARE(s.WithAnswers, qint64(1));
        QCOMPARE(s.Groups.size(), size_t(4));
        const double t2 = 4.302652729749464;
        const double mean[] = {5.0 / 9, 5.0 / 18, 1.0 / 6, 0};
        const double half[] = {t2 / 9, t2 / 18, t2 / 6, 0};
        const qint64 led[] = {2, 0, 1, 0};
        for (int g = 0; g < 4; ++g) {
            const kv::TvsGroupSummary& group = s.Groups[size_t(g)];
            QCOMPARE(group.Group, g + 1);
            QCOMPARE(group.Tests, qint64(3));
            QVERIFY2(Near(group.MeanShare, mean[g]), qPrintable(QString::number(group.MeanShare)));
            // Cut to the range a share can take: group 1 reaches past 1, group 3 below 0.
            const double low = std::max(0.0, mean[g] - half[g]), high = std::min(1.0, mean[g] + half[g]);
            QVERIFY2(std::abs(group.CiLow - low) < 1e-6, qPrintable(QString::number(group.CiLow)));
            QVERIFY(std::abs(group.CiHigh - high) < 1e-6);
            QCOMPARE(group.Led, led[g]);
        }
    }

    // A: 2 of 2 wins and first (1), 1 of 2 tied three ways (rank 2, first), 2 of 3 behind D (rank 2).
    // B: ranks 2, 2 (tied), 3. C: only in respondent 2 (it won there) and in respondent 3's log with no
    // win (last of four); in respondent 1 it is an unnamed value with no win and is not counted.
    void values()
    {
        const TvsSummary s = kv::Summarize(m_data, {});
        QCOMPARE(s.Values.size(), size_t(4));
        struct Expected
        {
            QString name;
            qint64 won, chosen, counted, first;
            double share, rank;
        };
        const Expected expected[] = {
            {QStringLiteral("A"), 3, 1, 3, 2, (1 + 0.5 + 2.0 / 3) / 3, 5.0 / 3},
            {QStringLiteral("B"), 3, 1, 3, 1, (0.5 + 0.5 + 1.0 / 3) / 3, 7.0 / 3},
            {QStringLiteral("C"), 1, 1, 2, 1, 0.25, 3},
            {QStringLiteral("D"), 1, 1, 1, 1, 1, 1},
        };
        for (const Expected& e : expected) {
            const kv::TvsValueSummary* v = FindValue(m_data, s, e.name);
            QVERIFY2(v, qPrintable(e.name));
            QCOMPARE(v->Won, e.won);
            QCOMPARE(v->Chosen, e.chosen);
            QCOMPARE(v->Counted, e.counted);
            QCOMPARE(v->First, e.first);
            QVERIFY2(Near(v->MeanShare, e.share), qPrintable(e.name + QString::number(v->MeanShare)));
            QVERIFY2(Near(v->MeanRank, e.rank), qPrintable(e.name + QString::number(v->MeanRank)));
        }
    }

    // Respondent 3 answered in a strict order: the pooled comparisons cannot be put on one scale.
    void scaleOfAStrictOrderIsReported()
    {
        const TvsSummary s = kv::Summarize(m_data, {}, {1, nullptr});
        QCOMPARE(s.Scale.State, kv::TvsBradleyTerry::Status::Disconnected);
        QCOMPARE(s.Scale.Components.size(), size_t(4));
        QVERIFY(s.Scale.Scale.empty());
    }

    // Wins (2, 1, 0) and (3, 2, 1, 0) are transitive, (1, 1, 1) a circle: the unnamed value without a
    // win of respondent 1 must reach the coefficient, or its wins would not add up.
    void consistency()
    {
        kv::TvsSummaryOptions options;
        options.Consistency = &KendallForTest;
        const TvsSummary s = kv::Summarize(m_data, {}, options);
        QVERIFY(s.HasConsistency);
        QCOMPARE(s.Consistency.Tests, qint64(3));
        QCOMPARE(s.Consistency.Bins[9], qint64(2));
        QCOMPARE(s.Consistency.Bins[0], qint64(1));
        QCOMPARE(s.Consistency.LikeRandom, qint64(1));
        kv::TvsSummaryOptions none;
        none.Consistency = nullptr;
        QVERIFY(!kv::Summarize(m_data, {}, none).HasConsistency);

        // Kendall's own distribution: with three or four values even a strict order comes about by
        // chance often (3/4 and 3/8 of the time), so every one of these looks like random answering.
        const TvsSummary real = kv::Summarize(m_data, {});
        QCOMPARE(real.Consistency.Tests, qint64(3));
        QCOMPARE(real.Consistency.Bins[9], qint64(2));
        QCOMPARE(real.Consistency.Bins[0], qint64(1));
        QCOMPARE(real.Consistency.LikeRandom, qint64(3));
    }

    // A zeta of exactly 0.2 (wins 3, 2, 2, 2, 1: 4 circular triads of at most 5) lies in the bin
    // [0.2, 0.3), and one of exactly 0.1 in [0.1, 0.2), however 1 - d/d_max rounds.
    void consistencyBinsOnExactZeta()
    {
        TvsSummaryData data;
        for (int v = 0; v < 10; ++v)
            data.ValueIndex(1 + v % 4, QStringLiteral("Ценность %1").arg(v));
        const std::vector<std::vector<qint32>> tests = {{3, 2, 2, 2, 1}, {7, 5, 5, 5, 4, 4, 4, 4, 4, 3}};
        for (const std::vector<qint32>& wins : tests) {
            kv::TvsSummaryTest test;
            test.Id = quint32(data.Tests.size() + 1);
            test.FirstScore = quint32(data.Scores.size());
            for (size_t i = 0; i < wins.size(); ++i) {
                test.Points[size_t(data.Values[i].Group - 1)] += wins[i];
                if (wins[i] > 0)
                    data.Scores.push_back({quint32(i), wins[i]});
            }
            test.ScoreCount = quint32(data.Scores.size()) - test.FirstScore;
            test.Known = test.ScoreCount;
            test.N = kv::ValuesFromPoints(test.Points[0] + test.Points[1] + test.Points[2] + test.Points[3]);
            data.Tests.push_back(test);
        }
        const kv::TvsConsistency second = kv::ConsistencyFromWins(std::vector<qint64>{7, 5, 5, 5, 4, 4, 4, 4, 4, 3});
        QCOMPARE(second.Triads * 10, second.MaxTriads * 9); // zeta exactly 0.1
        const TvsSummary s = kv::Summarize(data, {});
        QCOMPARE(s.Consistency.Tests, qint64(2));
        QCOMPARE(s.Consistency.Bins[2], qint64(1));
        QCOMPARE(s.Consistency.Bins[1], qint64(1));
    }

    // Kept between summaries, each test's consistency is the one computed afresh whatever the
    // filters in between; another function computes it again.
    void consistencyKeptBetweenFilters()
    {
        kv::TvsConsistencyCache cache;
        kv::TvsSummaryOptions kendall;
        kendall.Consistency = &KendallForTest;
        TvsSummaryFilter men, women;
        men.Sex = 1; // respondents 1 and 3
        women.Sex = 2;
        for (const TvsSummaryFilter& filter : {men, TvsSummaryFilter{}, women, men, TvsSummaryFilter{}}) {
            const TvsSummary kept = kv::Summarize(m_data, filter, kendall, &cache);
            const TvsSummary fresh = kv::Summarize(m_data, filter, kendall);
            QVERIFY(kept.Consistency.Bins == fresh.Consistency.Bins);
            QCOMPARE(kept.Consistency.Tests, fresh.Consistency.Tests);
            QCOMPARE(kept.Consistency.LikeRandom, fresh.Consistency.LikeRandom);
        }
        QCOMPARE(kv::Summarize(m_data, {}, kendall, &cache).Consistency.LikeRandom, qint64(1));
        QCOMPARE(kv::Summarize(m_data, {}, {}, &cache).Consistency.LikeRandom, qint64(3));
    }

    void emptySelections()
    {
        TvsSummaryFilter none;
        none.Sex = 2;
        none.AgeFrom = 50;
        const TvsSummary s = kv::Summarize(m_data, none);
        QCOMPARE(s.Tests, qint64(0));
        QVERIFY(s.Values.empty());
        for (const kv::TvsGroupSummary& g : s.Groups) {
            QCOMPARE(g.Tests, qint64(0));
            QVERIFY(std::isnan(g.MeanShare));
            QVERIFY(std::isnan(g.CiLow));
        }
        QCOMPARE(s.Scale.State, kv::TvsBradleyTerry::Status::TooFew);
        QCOMPARE(kv::NoTestsText(), QStringLiteral("нет тестов"));

        // Only respondent 4, whose values cannot be counted: a test, but no share and no division by 0.
        TvsSummaryFilter onlyDamaged;
        onlyDamaged.Ids = {4};
        const TvsSummary d = kv::Summarize(m_data, onlyDamaged);
        QCOMPARE(d.Tests, qint64(1));
        QCOMPARE(d.Undecidable, qint64(1));
        QVERIFY(std::isnan(d.Groups[0].MeanShare));

        // One test: a mean but no interval.
        TvsSummaryFilter one;
        one.Ids = {1};
        const TvsSummary o = kv::Summarize(m_data, one);
        QVERIFY(Near(o.Groups[0].MeanShare, 2.0 / 3));
        QVERIFY(std::isnan(o.Groups[0].CiLow));
    }

    void missingFolderAndNoAnswerLogs()
    {
        QTemporaryDir empty;
        const TvsSummaryData nothing = kv::ReadSummaryData(empty.path());
        QVERIFY(nothing.Tests.empty());
        QCOMPARE(kv::Summarize(nothing, {}).Tests, qint64(0));

        // Without answers.dat, C of respondent 3 is an unnamed value without a win: it no longer
        // counts there, and no value is known to be chosen.
        QTemporaryDir dir;
        QVERIFY(WriteDatabase(dir.path(), false));
        const TvsSummaryData data = kv::ReadSummaryData(dir.path());
        QVERIFY(data.Pairs.empty());
        const TvsSummary s = kv::Summarize(data, {});
        QCOMPARE(s.WithAnswers, qint64(0));
        const kv::TvsValueSummary* c = FindValue(data, s, QStringLiteral("C"));
        QVERIFY(c);
        QCOMPARE(c->Counted, qint64(1));
        QCOMPARE(c->Chosen, qint64(0));
        QVERIFY(Near(c->MeanShare, 0.5));
        const kv::TvsValueSummary* b = FindValue(data, s, QStringLiteral("B"));
        QVERIFY(Near(b->MeanRank, 7.0 / 3)); // unchanged: C was below B either way
    }

    // A stretch of value records out of test order gives every test the scores that the same
    // records in order give.
    void valuesOutOfOrderReadAsInOrder()
    {
        QTemporaryDir inOrder, shuffled;
        QVERIFY(WriteUneven(inOrder.path(), false));
        QVERIFY(WriteUneven(shuffled.path(), true));
        const QStringList expected = ScoresByName(kv::ReadSummaryData(inOrder.path()));
        QCOMPARE(expected.size(), 31);
        QCOMPARE(ScoresByName(kv::ReadSummaryData(shuffled.path())), expected);
    }

    // Which tests count: the scores and the log together name the values of a test, a name given
    // twice counts once, and the records of a number are its first test's.
    void valuesOfEachTest()
    {
        QTemporaryDir dir;
        QVERIFY(WriteUneven(dir.path(), true));
        const TvsSummaryData data = kv::ReadSummaryData(dir.path());
        const auto test = [&](size_t position) { return data.Tests[position]; };
        // Test 3 (four values by its points) names five: three in its scores, Новая and Другая in its log.
        QCOMPARE(test(2).N, 4);
        QCOMPARE(test(2).Known, quint32(5));
        QCOMPARE(test(2).PairCount, quint32(3));
        // Test 7 names Ценность 6 of group 3 twice among its four scores.
        QCOMPARE(test(6).ScoreCount, quint32(4));
        QCOMPARE(test(6).Known, quint32(3));
        // The second test numbered 5 owns nothing; the first has its own value and the second's four.
        QCOMPARE(test(19).ScoreCount, quint32(0));
        QCOMPARE(test(4).ScoreCount, quint32(5));
        QCOMPARE(test(4).Known, quint32(5));
        // The name only an unknown test gave is not among the values.
        for (const kv::TvsSummaryValue& v : data.Values)
            QVERIFY(!v.Name.startsWith(QStringLiteral("Только")));
        QCOMPARE(data.Values.back().Name, QStringLiteral("Другая"));
        const TvsSummary s = kv::Summarize(data, {});
        QCOMPARE(s.Tests, qint64(30));
        // The six tests whose points do not add up, and test 3, which names more values than its
        // points allow.
        QCOMPARE(s.Undecidable, qint64(7));
        QCOMPARE(s.WithAnswers, qint64(2));
    }

    // Whether the consistency comes from the cache, is being put into it or is computed on the
    // spot, the summary is the same.
    void summaryDoesNotDependOnTheCache_data()
    {
        QTest::addColumn<int>("filter");
        QTest::newRow("all tests") << 0;
        QTest::newRow("one sex") << 1;
        QTest::newRow("ages 30 to 40") << 2;
        QTest::newRow("a selection of rows") << 3;
    }
    void summaryDoesNotDependOnTheCache()
    {
        QFETCH(int, filter);
        const TvsSummaryData data = RandomSample(6000);
        TvsSummaryFilter f;
        if (filter == 1)
            f.Sex = 2;
        if (filter == 2) {
            f.AgeFrom = 30;
            f.AgeTo = 40;
        }
        if (filter == 3) {
            for (quint32 id = 6000; id > 7; id -= 7)
                f.Ids.push_back(id);
        }
        const TvsSummary single = kv::Summarize(data, f);
        QVERIFY(single.Tests > 100);
        QVERIFY(single.Undecidable > 0);
        QVERIFY(single.WithAnswers > 0);
        QCOMPARE(single.Scale.State, kv::TvsBradleyTerry::Status::Fitted);

        kv::TvsConsistencyCache cache;
        const TvsSummary filling = kv::Summarize(data, f, {}, &cache);
        const TvsSummary cached = kv::Summarize(data, f, {}, &cache);
        QCOMPARE(Difference(filling, single), QString());
        QCOMPARE(Difference(cached, single), QString());
        // The cache filled under one filter serves every other.
        TvsSummaryFilter other;
        other.Sex = 0;
        QCOMPARE(Difference(kv::Summarize(data, other, {}, &cache), kv::Summarize(data, other)), QString());
    }

    // A summary that quietly lost a file would pass for a smaller sample.
    void unreadableFileRaises_data()
    {
        QTest::addColumn<QString>("name");
        QTest::newRow("tests") << QStringLiteral("tests.dat");
        QTest::newRow("values") << QStringLiteral("values.dat");
        QTest::newRow("answers") << QStringLiteral("answers.dat");
    }
    void unreadableFileRaises()
    {
        QFETCH(QString, name);
        QTemporaryDir dir;
        QVERIFY(WriteDatabase(dir.path(), false));
        QFile::remove(dir.filePath(name));
        QVERIFY(QDir(dir.path()).mkdir(name));
        QVERIFY_THROWS_EXCEPTION(kv::Error, kv::ReadSummaryData(dir.path()));
    }

private:
    QTemporaryDir m_dir;
    TvsSummaryData m_data;
};

QTEST_GUILESS_MAIN(TestSummary)
#include "test_summary.moc"
