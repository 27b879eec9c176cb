#include "analysis/BradleyTerry.h"

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
