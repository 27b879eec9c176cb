#include "core/analysis/BradleyTerry.h"

#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>
#include <random>

using kv::FitBradleyTerry;
using kv::TvsBradleyTerry;
using kv::TvsComparison;

namespace {

void Add(std::vector<TvsComparison>& into, quint32 winner, quint32 loser, int times)
{
    for (int i = 0; i < times; ++i)
        into.push_back({winner, loser});
}

} // namespace

class TestBradleyTerry : public QObject
{
    Q_OBJECT

private slots:
    // Abilities 4 : 2 : 1 with 3, 3 and 5 comparisons: the observed wins are exactly the expected ones,
    // so (ln 2, 0, -ln 2) solves the likelihood equations. The standard errors come from inverting the
    // information matrix by hand with the last value as reference (31/102, 1/3, 31/102 after centring).
    void workedExample()
    {
        std::vector<TvsComparison> c;
        Add(c, 0, 1, 2);
        Add(c, 1, 0, 1);
        Add(c, 1, 2, 2);
        Add(c, 2, 1, 1);
        Add(c, 0, 2, 4);
        Add(c, 2, 0, 1);
        const TvsBradleyTerry fit = FitBradleyTerry(c, 3);
        QCOMPARE(fit.State, TvsBradleyTerry::Status::Fitted);
        QCOMPARE(fit.Items, (std::vector<quint32>{0, 1, 2}));
        const double ln2 = std::log(2.0);
        QVERIFY(std::abs(fit.Scale[0] - ln2) < 1e-9);
        QVERIFY(std::abs(fit.Scale[1]) < 1e-9);
        QVERIFY(std::abs(fit.Scale[2] + ln2) < 1e-9);
        QVERIFY(std::abs(fit.StdError[0] - std::sqrt(31.0 / 102)) < 1e-9);
        QVERIFY(std::abs(fit.StdError[1] - std::sqrt(1.0 / 3)) < 1e-9);
        QVERIFY(std::abs(fit.StdError[2] - std::sqrt(31.0 / 102)) < 1e-9);
        QCOMPARE(fit.Comparisons, (std::vector<qint64>{8, 6, 8}));
    }

    // Two values, 3 : 1: the abilities are 3 : 1, so the centred scale is +-ln(3)/2, and the variance
    // of the difference is 1 / (4 * 3/4 * 1/4), a third of it for each centred half.
    void twoValues()
    {
        std::vector<TvsComparison> c;
        Add(c, 5, 7, 3);
        Add(c, 7, 5, 1);
        const TvsBradleyTerry fit = FitBradleyTerry(c, 8);
        QCOMPARE(fit.State, TvsBradleyTerry::Status::Fitted);
        QCOMPARE(fit.Items, (std::vector<quint32>{5, 7}));
        QVERIFY(std::abs(fit.Scale[0] - std::log(3.0) / 2) < 1e-9);
        QVERIFY(std::abs(fit.StdError[0] - std::sqrt(1.0 / 3)) < 1e-9);
        QVERIFY(std::abs(fit.StdError[1] - std::sqrt(1.0 / 3)) < 1e-9);
    }

    // Simulated answers of many respondents: whatever the abilities, the fit must solve the likelihood
    // equations (each value's expected wins equal its observed wins) and be centred.
    void simulatedSolvesLikelihoodEquations()
    {
        const std::vector<double> truth{0.8, 0.3, 0.0, -0.2, -0.9};
        std::mt19937 random(20260);
        std::uniform_real_distribution<double> uniform(0, 1);
        std::vector<TvsComparison> c;
        for (int r = 0; r < 200; ++r) {
            for (quint32 a = 0; a < truth.size(); ++a) {
                for (quint32 b = a + 1; b < truth.size(); ++b) {
                    const double pa = 1 / (1 + std::exp(truth[b] - truth[a]));
                    c.push_back(uniform(random) < pa ? TvsComparison{a, b} : TvsComparison{b, a});
                }
            }
        }
        const TvsBradleyTerry fit = FitBradleyTerry(c, 5);
        QCOMPARE(fit.State, TvsBradleyTerry::Status::Fitted);
        double sum = 0;
        for (double s : fit.Scale)
            sum += s;
        QVERIFY(std::abs(sum) < 1e-9);
        for (quint32 i = 0; i < 5; ++i) {
            double observed = 0, expected = 0;
            for (const TvsComparison& x : c) {
                if (x.Winner == i)
                    observed += 1;
                if (x.Winner == i || x.Loser == i) {
                    const quint32 other = x.Winner == i ? x.Loser : x.Winner;
                    expected += 1 / (1 + std::exp(fit.Scale[other] - fit.Scale[i]));
                }
            }
            QVERIFY2(std::abs(observed - expected) < 1e-6, qPrintable(QString::number(observed - expected)));
            // 800 comparisons per value recover the abilities to within a few standard errors.
            QVERIFY(std::abs(fit.Scale[i] - (truth[i] - 0.0)) < 4 * fit.StdError[i] + 0.01);
        }
    }

    // The same kind of data fitted by R's BradleyTerry2 (BTm, a logit model with the first value as
    // reference): after centring both scales agree to 1e-3. Unequal numbers of comparisons per pair
    // make it more than the symmetric case.
    void agreesWithBradleyTerry2()
    {
        if (QStandardPaths::findExecutable(QStringLiteral("Rscript")).isEmpty())
            QSKIP("Rscript is not installed");
        const std::vector<double> truth{1.1, 0.4, 0.0, -0.3, -0.6, -1.2};
        const quint32 n = quint32(truth.size());
        std::mt19937 random(4711);
        std::uniform_real_distribution<double> uniform(0, 1);
        std::vector<TvsComparison> c;
        std::vector<std::vector<int>> wins(n, std::vector<int>(n, 0));
        for (quint32 a = 0; a < n; ++a) {
            for (quint32 b = a + 1; b < n; ++b) {
                const int games = 20 + int(a * 7 + b * 3) % 40;
                for (int g = 0; g < games; ++g) {
                    const bool aWins = uniform(random) < 1 / (1 + std::exp(truth[b] - truth[a]));
                    c.push_back(aWins ? TvsComparison{a, b} : TvsComparison{b, a});
                    ++wins[aWins ? a : b][aWins ? b : a];
                }
            }
        }
        const TvsBradleyTerry fit = FitBradleyTerry(c, n);
        QCOMPARE(fit.State, TvsBradleyTerry::Status::Fitted);
        QCOMPARE(fit.Items.size(), size_t(n));

        QTemporaryDir dir;
        QFile table(dir.filePath(QStringLiteral("pairs.csv")));
        QVERIFY(table.open(QIODevice::WriteOnly));
        table.write("player1,player2,win1,win2\n");
        for (quint32 a = 0; a < n; ++a)
            for (quint32 b = a + 1; b < n; ++b)
                table.write(QStringLiteral("v%1,v%2,%3,%4\n").arg(a).arg(b).arg(wins[a][b]).arg(wins[b][a]).toLatin1());
        table.close();
        static const char* const script = R"(
if (!requireNamespace("BradleyTerry2", quietly = TRUE)) quit(status = 77)
d <- read.csv(commandArgs(trailingOnly = TRUE)[1])
levels <- paste0("v", 0:5)
d$player1 <- factor(d$player1, levels = levels)
d$player2 <- factor(d$player2, levels = levels)
fit <- BradleyTerry2::BTm(cbind(win1, win2), player1, player2, data = d)
a <- BradleyTerry2::BTabilities(fit)[, "ability"]
cat(format(a - mean(a), digits = 15), sep = "
")
)";
        QProcess r;
        r.start(QStringLiteral("Rscript"), {QStringLiteral("-e"), QString::fromUtf8(script), table.fileName()});
        QVERIFY(r.waitForFinished(120000));
        if (r.exitCode() == 77)
            QSKIP("R's BradleyTerry2 is not installed");
        QVERIFY2(r.exitCode() == 0, r.readAllStandardError().constData());
        const QStringList lines = QString::fromLatin1(r.readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), qsizetype(n));
        for (quint32 i = 0; i < n; ++i) {
            const double reference = lines[qsizetype(i)].trimmed().toDouble();
            QVERIFY2(std::abs(fit.Scale[i] - reference) < 1e-3,
                     qPrintable(QStringLiteral("v%1: %2 against %3").arg(i).arg(fit.Scale[i]).arg(reference)));
        }
    }

    void notStronglyConnected_data()
    {
        QTest::addColumn<QList<quint32>>("winners");
        QTest::addColumn<QList<quint32>>("losers");
        QTest::addColumn<QList<QList<quint32>>>("components");
        // Value 0 won every comparison it took part in: nothing bounds its ability from above.
        QTest::newRow("one value always won")
            << QList<quint32>{0, 0, 1, 2} << QList<quint32>{1, 2, 2, 1} << QList<QList<quint32>>{{0}, {1, 2}};
        // Two pairs that never met: their scales cannot be put side by side.
        QTest::newRow("values that never met")
            << QList<quint32>{0, 1, 2, 3} << QList<quint32>{1, 0, 3, 2} << QList<QList<quint32>>{{0, 1}, {2, 3}};
        QTest::newRow("a strict order") << QList<quint32>{0, 0, 1} << QList<quint32>{1, 2, 2}
                                        << QList<QList<quint32>>{{0}, {1}, {2}};
    }
    void notStronglyConnected()
    {
        QFETCH(QList<quint32>, winners);
        QFETCH(QList<quint32>, losers);
        QFETCH(QList<QList<quint32>>, components);
        std::vector<TvsComparison> c;
        for (qsizetype i = 0; i < winners.size(); ++i)
            c.push_back({winners[i], losers[i]});
        const TvsBradleyTerry fit = FitBradleyTerry(c, 4);
        QCOMPARE(fit.State, TvsBradleyTerry::Status::Disconnected);
        QVERIFY(fit.Scale.empty());
        QVERIFY(fit.Items.empty());
        QList<QList<quint32>> got;
        for (const auto& part : fit.Components)
            got.append(QList<quint32>(part.begin(), part.end()));
        QCOMPARE(got, components);
    }

    // A value compared fewer times than asked stays off the scale, and its comparisons with it.
    void rarelyComparedValuesAreLeftOut()
    {
        std::vector<TvsComparison> c;
        Add(c, 0, 1, 3);
        Add(c, 1, 0, 1);
        Add(c, 2, 0, 1); // value 2: one comparison, and it would make 0 - 1 - 2 disconnected
        const TvsBradleyTerry fit = FitBradleyTerry(c, 3, 2);
        QCOMPARE(fit.State, TvsBradleyTerry::Status::Fitted);
        QCOMPARE(fit.Items, (std::vector<quint32>{0, 1}));
        QVERIFY(std::abs(fit.Scale[0] - std::log(3.0) / 2) < 1e-9);

        QCOMPARE(FitBradleyTerry(c, 3, 10).State, TvsBradleyTerry::Status::TooFew);
        QCOMPARE(FitBradleyTerry({}, 0).State, TvsBradleyTerry::Status::TooFew);
    }
};

QTEST_GUILESS_MAIN(TestBradleyTerry)
#include "test_bradley_terry.moc"
