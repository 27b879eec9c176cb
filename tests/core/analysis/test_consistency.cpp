// Kendall's circular triads and coefficient of consistence, and the chance of as few under random
// answers, checked against hand-worked cases and against brute force over whole tournaments.
#include "core/analysis/Consistency.h"
#include "core/session/PairDraw.h"

#include <QRandomGenerator>
#include <QSet>
#include <QtTest/QtTest>

#include <cmath>
#include <limits>
#include <map>

using namespace kv;

namespace {

using Wins = QList<qint64>;

// Every tournament among n values, by the direction of each of its n(n-1)/2 games: the triads are
// counted one by one, not by Kendall's formula, and their distribution built from the counts.
struct BruteForce
{
    std::vector<double> Cumulative;                              // P(D <= d)
    std::vector<std::pair<std::vector<qint64>, qint64>> Samples; // wins and directly counted d
};

BruteForce Enumerate(int n)
{
    std::vector<std::pair<int, int>> games;
    for (int i = 0; i < n; ++i)
        for (int j = i + 1; j < n; ++j)
            games.emplace_back(i, j);
    const std::uint64_t total = std::uint64_t{1} << games.size();
    BruteForce result;
    std::vector<double> density(std::size_t(n * n * n), 0.0);
    std::vector<std::uint8_t> beats(std::size_t(n * n));
    for (std::uint64_t mask = 0; mask < total; ++mask) {
        std::fill(beats.begin(), beats.end(), 0);
        std::vector<qint64> wins(std::size_t(n), 0);
        for (std::size_t g = 0; g < games.size(); ++g) {
            auto [i, j] = games[g];
            if (mask >> g & 1)
                std::swap(i, j);
            beats[std::size_t(i * n + j)] = 1;
            ++wins[std::size_t(i)];
        }
        qint64 d = 0;
        for (int i = 0; i < n; ++i)
            for (int j = i + 1; j < n; ++j)
                for (int k = j + 1; k < n; ++k) {
                    const bool ij = beats[std::size_t(i * n + j)], jk = beats[std::size_t(j * n + k)],
                               ki = beats[std::size_t(k * n + i)];
                    d += (ij && jk && ki) || (!ij && !jk && !ki);
                }
        density[std::size_t(d)] += 1.0 / double(total);
        if (mask % 97 == 0)
            result.Samples.emplace_back(wins, d);
    }
    double sum = 0;
    for (double p : density)
        result.Cumulative.push_back(sum += p);
    return result;
}

// One whole comparison in the program's question order with random choices.
TvsAnswerLog RandomLog(int n, quint32 seed)
{
    TvsValueList checked;
    for (int i = 0; i < n; ++i)
        checked.Add(QStringLiteral("Ценность %1").arg(i + 1), i % 4 + 1, QString());
    TvsPairLists lists;
    BuildPairLists(checked, lists);
    TvsRandom random(seed);
    QRandomGenerator choices(seed);
    TvsAnswerLog log;
    TvsValueRec item1, item2;
    while (DrawNextPair(lists, random, item1, item2)) {
        TvsAnswer a;
        a.Question = qint32(log.size()) + 1;
        a.Upper = item1.Name;
        a.UpperGroup = item1.TypeNumber;
        a.UpperIndex = item1.SourceIndex;
        a.Lower = item2.Name;
        a.LowerGroup = item2.TypeNumber;
        a.LowerIndex = item2.SourceIndex;
        a.Chosen = quint8(choices.bounded(2) + 1);
        log.push_back(a);
    }
    return log;
}

// The circular triads of a log found by looking at every triple of names and the answers between them.
QSet<QString> TriadsByBruteForce(const TvsAnswerLog& log)
{
    std::map<std::pair<QString, QString>, bool> beats; // (x, y) -> x beat y
    QStringList names;
    for (const TvsAnswer& a : log) {
        for (const QString& name : {a.Upper, a.Lower})
            if (!names.contains(name))
                names.append(name);
        const QString& winner = a.Chosen == 1 ? a.Upper : a.Lower;
        const QString& loser = a.Chosen == 1 ? a.Lower : a.Upper;
        beats[{winner, loser}] = true;
    }
    auto beat = [&](const QString& x, const QString& y) { return beats.count({x, y}) > 0; };
    QSet<QString> triads;
    for (const QString& x : names)
        for (const QString& y : names)
            for (const QString& z : names)
                if (x < y && x < z && y != z && beat(x, y) && beat(y, z) && beat(z, x))
                    triads.insert(x + u'>' + y + u'>' + z);
    return triads;
}

// The same triad written from its smallest name on, so both sides compare regardless of where each starts.
QString Canonical(const TvsTriad& t)
{
    QStringList ring{t.A, t.B, t.C};
    while (ring.first() > ring.at(1) || ring.first() > ring.at(2))
        ring.move(0, 2);
    return ring.join(u'>');
}

} // namespace

class TestConsistency : public QObject
{
    Q_OBJECT

private slots:
    void handWorked_data();
    void handWorked();
    void invalidWins_data();
    void invalidWins();
    void exactAgainstEnumeration();
    void distributionMoments();
    void approximationNearExact();
    void fromScores_data();
    void fromScores();
    void fromAnswersAgainstBruteForce_data();
    void fromAnswersAgainstBruteForce();
    void invalidLogs_data();
    void invalidLogs();
    void zetaBinsAreExact();
};

void TestConsistency::handWorked_data()
{
    QTest::addColumn<Wins>("wins");
    QTest::addColumn<qint64>("triads");
    QTest::addColumn<qint64>("maxTriads");
    QTest::addColumn<double>("zeta");
    QTest::addColumn<double>("pRandom");

    QTest::newRow("n=3 cyclic") << Wins{1, 1, 1} << qint64(1) << qint64(1) << 0.0 << 1.0;
    QTest::newRow("n=3 transitive") << Wins{2, 1, 0} << qint64(0) << qint64(1) << 1.0 << 0.75;
    // 24 of the 64 tournaments on four values are orders.
    QTest::newRow("n=4 transitive") << Wins{3, 2, 1, 0} << qint64(0) << qint64(2) << 1.0 << 0.375;
    QTest::newRow("n=4 transitive, any order") << Wins{0, 2, 3, 1} << qint64(0) << qint64(2) << 1.0 << 0.375;
    QTest::newRow("n=4 two-two-one-one") << Wins{2, 2, 1, 1} << qint64(2) << qint64(2) << 0.0 << 1.0;
    // 7 - (9 + 1 + 1 + 1) / 2 = 1; 24 orders and 16 tournaments with one triad (a 3-cycle with a source or a sink).
    QTest::newRow("n=4 one triad") << Wins{3, 1, 1, 1} << qint64(1) << qint64(2) << 0.5 << 0.625;
    QTest::newRow("n=5 regular") << Wins{2, 2, 2, 2, 2} << qint64(5) << qint64(5) << 0.0 << 1.0;
    QTest::newRow("n=5 transitive") << Wins{4, 3, 2, 1, 0} << qint64(0) << qint64(5) << 1.0 << 120.0 / 1024;
    QTest::newRow("n=2") << Wins{0, 1} << qint64(0) << qint64(0) << 1.0 << 1.0;
    QTest::newRow("n=1") << Wins{0} << qint64(0) << qint64(0) << 1.0 << 1.0;
}

void TestConsistency::handWorked()
{
    QFETCH(Wins, wins);
    QFETCH(qint64, triads);
    QFETCH(qint64, maxTriads);
    QFETCH(double, zeta);
    QFETCH(double, pRandom);

    const std::vector<qint64> w(wins.begin(), wins.end());
    const TvsConsistency c = ConsistencyFromWins(w);
    QVERIFY(c.Valid);
    QCOMPARE(c.N, qint32(wins.size()));
    QCOMPARE(c.Triads, triads);
    QCOMPARE(c.MaxTriads, maxTriads);
    QCOMPARE(c.Zeta, zeta);
    QVERIFY2(qAbs(c.PRandom - pRandom) < 1e-12, qPrintable(QString::number(c.PRandom, 'g', 17)));
    QVERIFY(c.PExact);
    QVERIFY(c.Circular.empty());
}

void TestConsistency::invalidWins_data()
{
    constexpr qint64 big = std::numeric_limits<qint64>::max();
    QTest::addColumn<Wins>("wins");
    QTest::newRow("sum too small") << Wins{2, 2, 1, 0};
    QTest::newRow("sum too large") << Wins{3, 2, 1, 1};
    QTest::newRow("a win above n-1") << Wins{4, 1, 1, 0};
    QTest::newRow("negative") << Wins{3, 3, 1, -1};
    // Right sum and ranges, but two values cannot both beat everyone else.
    QTest::newRow("no tournament gives it") << Wins{3, 3, 0, 0};
    // Summed naively in 64 bits these wrap round to exactly 3.
    QTest::newRow("sum wraps round") << Wins{big, big, 5};
    QTest::newRow("square wraps round") << Wins{qint64(1) << 32, 0, 0};
    QTest::newRow("lowest") << Wins{std::numeric_limits<qint64>::min(), 1, 2};
}

void TestConsistency::invalidWins()
{
    QFETCH(Wins, wins);
    const std::vector<qint64> w(wins.begin(), wins.end());
    QVERIFY(!ConsistencyFromWins(w).Valid);
    QVERIFY(!ConsistencyFromScores(w).Valid);
}

void TestConsistency::exactAgainstEnumeration()
{
    for (int n = 3; n <= 7; ++n) {
        const BruteForce brute = Enumerate(n);
        for (const auto& [wins, d] : brute.Samples) {
            const TvsConsistency c = ConsistencyFromWins(wins);
            QVERIFY(c.Valid);
            QCOMPARE(c.Triads, d);
            QVERIFY(c.PExact);
            QVERIFY2(qAbs(c.PRandom - brute.Cumulative[std::size_t(d)]) < 1e-12,
                     qPrintable(QStringLiteral("n=%1 d=%2: %3 against %4")
                                    .arg(n)
                                    .arg(d)
                                    .arg(c.PRandom, 0, 'g', 17)
                                    .arg(brute.Cumulative[std::size_t(d)], 0, 'g', 17)));
        }
        // Kendall's d_max is the largest d any tournament reaches.
        const qint64 maxTriads = ConsistencyFromWins(brute.Samples.front().first).MaxTriads;
        QVERIFY(qAbs(brute.Cumulative[std::size_t(maxTriads)] - 1.0) < 1e-12);
        QVERIFY(brute.Cumulative[std::size_t(maxTriads - 1)] < 1.0);
    }
}

void TestConsistency::distributionMoments()
{
    // Each triple is circular with probability 1/4, and triples sharing an edge are still independent
    // given it, so E[d] = C(n,3)/4 and Var[d] = 3/16 C(n,3) exactly: a check of the exact
    // distribution where brute force is out of reach.
    for (int n = 8; n <= 10; ++n) {
        bool exact = false;
        PRandomOfTriads(n, 0, &exact);
        QVERIFY(exact);
        const qint64 maxTriads = n % 2 ? (n * n * n - n) / 24 : (n * n * n - 4 * n) / 24;
        double mean = 0, square = 0, previous = 0;
        for (qint64 d = 0; d <= maxTriads; ++d) {
            const double p = PRandomOfTriads(n, d);
            QVERIFY(p >= previous);
            mean += double(d) * (p - previous);
            square += double(d) * double(d) * (p - previous);
            previous = p;
        }
        const double triples = n * (n - 1) * (n - 2) / 6.0;
        QVERIFY2(qAbs(mean - triples / 4) < 1e-9, qPrintable(QString::number(mean)));
        QVERIFY2(qAbs(square - mean * mean - 3 * triples / 16) < 1e-7, qPrintable(QString::number(square)));
    }
}

void TestConsistency::approximationNearExact()
{
    // Where the exact distribution stops, the approximation that takes over must be close to it
    // over the part of the distribution that matters.
    for (int n = 9; n <= 10; ++n) {
        const qint64 maxTriads = n % 2 ? (n * n * n - n) / 24 : (n * n * n - 4 * n) / 24;
        int compared = 0;
        for (qint64 d = 0; d <= maxTriads; ++d) {
            const double exact = PRandomOfTriads(n, d);
            if (exact < 0.001 || exact > 0.999)
                continue;
            ++compared;
            const double approx = PRandomApproximate(n, d);
            QVERIFY2(qAbs(approx - exact) < 0.015,
                     qPrintable(QStringLiteral("n=%1 d=%2: %3 against exact %4").arg(n).arg(d).arg(approx).arg(exact)));
        }
        QVERIFY(compared > 10);
    }
    bool exact = true;
    PRandomOfTriads(11, 0, &exact);
    QVERIFY(!exact);
    const double p = PRandomOfTriads(20, 0, &exact);
    QVERIFY(!exact);
    QVERIFY(p > 0 && p < 1e-12);
    QCOMPARE(PRandomOfTriads(20, 330), 1.0);
}

void TestConsistency::fromScores_data()
{
    QTest::addColumn<Wins>("stored");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<qint32>("n");
    QTest::addColumn<qint64>("triads");

    QTest::newRow("the loser not stored") << Wins{3, 2, 1} << true << 4 << qint64(0);
    QTest::newRow("the loser stored as 0") << Wins{3, 2, 1, 0} << true << 4 << qint64(0);
    QTest::newRow("no value without a win") << Wins{2, 2, 1, 1} << true << 4 << qint64(2);
    QTest::newRow("cyclic three") << Wins{1, 1, 1} << true << 3 << qint64(1);
    QTest::newRow("fifteen values, one without")
        << Wins{14, 13, 12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1} << true << 15 << qint64(0);
    QTest::newRow("sum not n(n-1)/2") << Wins{3, 2} << false << 0 << qint64(0);
    QTest::newRow("two values without a win") << Wins{3, 3} << false << 0 << qint64(0);
    QTest::newRow("more stored than the sum allows") << Wins{1, 1, 1, 0, 0} << false << 0 << qint64(0);
    QTest::newRow("huge") << Wins{std::numeric_limits<qint64>::max()} << false << 0 << qint64(0);
}

void TestConsistency::fromScores()
{
    QFETCH(Wins, stored);
    QFETCH(bool, valid);
    QFETCH(qint32, n);
    QFETCH(qint64, triads);
    const std::vector<qint64> s(stored.begin(), stored.end());
    const TvsConsistency c = ConsistencyFromScores(s);
    QCOMPARE(c.Valid, valid);
    if (!valid)
        return;
    QCOMPARE(c.N, n);
    QCOMPARE(c.Triads, triads);
    std::vector<qint64> full = s;
    full.resize(std::size_t(n), 0);
    QCOMPARE(c.PRandom, ConsistencyFromWins(full).PRandom);
}

void TestConsistency::fromAnswersAgainstBruteForce_data()
{
    QTest::addColumn<int>("n");
    QTest::addColumn<quint32>("seed");
    QTest::newRow("n=3") << 3 << 7u;
    QTest::newRow("n=9") << 9 << 12345u;
    QTest::newRow("n=12") << 12 << 99u;
    QTest::newRow("n=15") << 15 << 2026u;
    QTest::newRow("n=25") << 25 << 31337u;
}

void TestConsistency::fromAnswersAgainstBruteForce()
{
    QFETCH(int, n);
    QFETCH(quint32, seed);
    TvsAnswerLog log = RandomLog(n, seed);
    QCOMPARE(qint64(log.size()), qint64(n) * (n - 1) / 2);
    const QSet<QString> expected = TriadsByBruteForce(log);

    // In memory with positions, and as read back from a file with names and groups only.
    TvsAnswerLog fromFile = log;
    for (TvsAnswer& a : fromFile)
        a.UpperIndex = a.LowerIndex = -1;
    for (const TvsAnswerLog* l : {&log, &fromFile}) {
        const TvsConsistency c = ConsistencyFromAnswers(*l, std::numeric_limits<qint64>::max());
        QVERIFY(c.Valid);
        QCOMPARE(c.N, n);
        QCOMPARE(c.Triads, qint64(expected.size()));
        QCOMPARE(qint64(c.Circular.size()), c.Triads);
        // By default only the first triads are named, in the same order, and the count stays whole.
        const TvsConsistency named = ConsistencyFromAnswers(*l);
        QCOMPARE(named.Triads, c.Triads);
        QCOMPARE(qint64(named.Circular.size()), std::min(c.Triads, kNamedTriadsAtMost));
        for (std::size_t i = 0; i < named.Circular.size(); ++i)
            QCOMPARE(named.Circular[i].A + named.Circular[i].B + named.Circular[i].C,
                     c.Circular[i].A + c.Circular[i].B + c.Circular[i].C);
        QSet<QString> found;
        for (const TvsTriad& t : c.Circular) {
            found.insert(Canonical(t));
            // Named from the value chosen earliest: its number is the smallest of the three.
            const auto number = [](const QString& name) { return name.section(u' ', 1).toInt(); };
            QVERIFY(number(t.A) < number(t.B) && number(t.A) < number(t.C));
            QCOMPARE(t.GroupA, (number(t.A) - 1) % 4 + 1);
        }
        QCOMPARE(found, expected);
    }
}

void TestConsistency::invalidLogs_data()
{
    QTest::addColumn<int>("damage");
    QTest::newRow("an answer missing") << 0;
    QTest::newRow("a pair asked twice") << 1;
    QTest::newRow("a choice byte of 3") << 2;
    QTest::newRow("a choice byte of 0") << 3;
    QTest::newRow("a value against itself") << 4;
}

void TestConsistency::invalidLogs()
{
    QFETCH(int, damage);
    TvsAnswerLog log = RandomLog(6, 5);
    QVERIFY(ConsistencyFromAnswers(log).Valid);
    switch (damage) {
    case 0:
        log.pop_back();
        break;
    case 1:
        log.back() = log.front();
        break;
    case 2:
        log[3].Chosen = 3;
        break;
    case 3:
        log[3].Chosen = 0;
        break;
    case 4:
        log[3].Lower = log[3].Upper;
        log[3].LowerGroup = log[3].UpperGroup;
        log[3].LowerIndex = log[3].UpperIndex;
        break;
    }
    QVERIFY(!ConsistencyFromAnswers(log).Valid);
}

QTEST_GUILESS_MAIN(TestConsistency)
// Every (n, d) for n up to 15: the bin is the b with b/10 <= (d_max - d)/d_max < (b + 1)/10, decided
// by cross-multiplying integers; zeta itself is 1 - d/d_max as the program computes it.
void TestConsistency::zetaBinsAreExact()
{
    int floatingWrong = 0;
    for (qint64 n = 3; n <= 15; ++n) {
        std::vector<qint64> transitive;
        for (qint64 v = n - 1; v >= 0; --v)
            transitive.push_back(v);
        const qint64 dMax = ConsistencyFromWins(transitive).MaxTriads;
        QVERIFY(dMax > 0);
        for (qint64 d = 0; d <= dMax; ++d) {
            TvsConsistency c;
            c.Valid = true;
            c.N = qint32(n);
            c.Triads = d;
            c.MaxTriads = dMax;
            c.Zeta = 1.0 - double(d) / double(dMax);
            const qint64 bin = ZetaBin(c, 10);
            const qint64 top = 10 * (dMax - d);
            if (bin < 9)
                QVERIFY2(bin * dMax <= top && top < (bin + 1) * dMax,
                         qPrintable(QStringLiteral("n=%1 d=%2").arg(n).arg(d)));
            else
                QVERIFY2(9 * dMax <= top, qPrintable(QStringLiteral("n=%1 d=%2").arg(n).arg(d)));
            if (std::clamp(int(std::floor(c.Zeta * 10)), 0, 9) != bin)
                ++floatingWrong;
        }
    }
    // The floating-point floor that this replaces went wrong in these cases (zeta of exactly 0.1 or 0.2).
    QCOMPARE(floatingWrong, 12);
    // Wins 3, 2, 2, 2, 1: d = 4 of 5, zeta exactly 0.2.
    const std::vector<qint64> wins = {3, 2, 2, 2, 1};
    QCOMPARE(ZetaBin(ConsistencyFromWins(wins), 10), 2);
}

#include "test_consistency.moc"
