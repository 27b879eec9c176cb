// The consistency as the respondent reads it: Russian plurals and the wording of every case.
#include "core/analysis/ConsistencyText.h"

#include <QtTest/QtTest>

using namespace kv;
using namespace Qt::StringLiterals;

namespace {

using Wins = QList<qint64>;

TvsConsistency FromWins(const Wins& wins)
{
    const std::vector<qint64> w(wins.begin(), wins.end());
    return ConsistencyFromWins(w);
}

} // namespace

class TestConsistencyText : public QObject
{
    Q_OBJECT

private slots:
    void plurals_data()
    {
        QTest::addColumn<qint64>("count");
        QTest::addColumn<QString>("form");
        const QList<QPair<qint64, QString>> rows = {
            {0, u"many"_s},  {1, u"one"_s},    {2, u"few"_s},    {4, u"few"_s},   {5, u"many"_s}, {11, u"many"_s},
            {12, u"many"_s}, {14, u"many"_s},  {20, u"many"_s},  {21, u"one"_s},  {22, u"few"_s}, {25, u"many"_s},
            {101, u"one"_s}, {111, u"many"_s}, {112, u"many"_s}, {1004, u"few"_s}};
        for (const auto& [count, form] : rows)
            QTest::addRow("%lld", count) << count << form;
    }
    void plurals()
    {
        QFETCH(qint64, count);
        QFETCH(QString, form);
        QCOMPARE(RussianPlural(count, u"one"_s, u"few"_s, u"many"_s), form);
    }

    void headline_data()
    {
        QTest::addColumn<Wins>("wins");
        QTest::addColumn<QString>("headline");
        QTest::addColumn<QString>("chance");
        QTest::newRow("one of twenty") << Wins{6, 6, 6, 4, 3, 2, 1, 0}
                                       << u"Согласованность ответов: 0,95 (1 противоречивая тройка из 20 возможных)"_s
                                       // 8! orders and 56 * 2 * 6! with one triad, of 2^28.
                                       << u"наугад: менее 0,001. Такие ответы вряд ли даны наугад."_s;
        // 5! orders and 10 * 2 * 3! with one triad, of 2^10: 0.234375.
        QTest::newRow("one of five") << Wins{3, 3, 3, 1, 0}
                                     << u"Согласованность ответов: 0,80 (1 противоречивая тройка из 5 возможных)"_s
                                     << u"наугад: 0,234. По этому показателю ответы не отличить от случайных."_s;
        QTest::newRow("none of two") << Wins{3, 2, 1, 0}
                                     << u"Согласованность ответов: 1,00 (0 противоречивых троек из 2 возможных)"_s
                                     << u"наугад: 0,375. По этому показателю ответы не отличить от случайных."_s;
        QTest::newRow("one of one") << Wins{1, 1, 1}
                                    << u"Согласованность ответов: 0,00 (1 противоречивая тройка из 1 возможной)"_s
                                    << u"наугад: 1. По этому показателю ответы не отличить от случайных."_s;
        QTest::newRow("two of two") << Wins{2, 2, 1, 1}
                                    << u"Согласованность ответов: 0,00 (2 противоречивые тройки из 2 возможных)"_s
                                    << u"наугад: 1. По этому показателю"_s;
        // Fifteen values in order: far beyond chance, and the approximation says it is one.
        QTest::newRow("fifteen in order")
            << Wins{14, 13, 12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1, 0}
            << u"Согласованность ответов: 1,00 (0 противоречивых троек из 140 возможных)"_s
            << u"наугад: менее 0,001 (приближённая оценка). Такие ответы вряд ли даны наугад."_s;
    }
    void headline()
    {
        QFETCH(Wins, wins);
        QFETCH(QString, headline);
        QFETCH(QString, chance);
        const QStringList lines = ConsistencyLines(FromWins(wins), false);
        QCOMPARE(lines.value(0), headline);
        QVERIFY2(lines.value(4).startsWith(u"Вероятность получить столько же противоречивых троек или меньше"_s),
                 qPrintable(lines.value(4)));
        QVERIFY2(lines.value(4).contains(chance), qPrintable(lines.value(4)));
        QVERIFY2(lines.last().contains(u"не записаны"_s), qPrintable(lines.last()));
    }

    void triadsByName()
    {
        TvsConsistency c = FromWins({1, 1, 1});
        c.Circular.push_back({u"Свобода"_s, u"Дом"_s, u"Здоровье"_s, 4, 2, 4});
        const QStringList lines = ConsistencyLines(c, true);
        QCOMPARE(
            lines.mid(lines.size() - 2),
            QStringList({u"Противоречивые тройки:"_s,
                         u"    «Свобода» важнее «Дом», «Дом» важнее «Здоровье», а «Здоровье» важнее «Свобода»"_s}));

        const QStringList none = ConsistencyLines(FromWins({3, 2, 1, 0}), true);
        QCOMPARE(none.last(), u"Противоречивых троек нет."_s);
    }

    // A test with more circular triads than are named says how many more there are, in the right
    // plural form.
    void triadsBeyondTheNamed_data()
    {
        QTest::addColumn<qint64>("more");
        QTest::addColumn<QString>("line");
        QTest::newRow("1") << qint64(1) << u"    и ещё 1 противоречивая тройка"_s;
        QTest::newRow("3") << qint64(3) << u"    и ещё 3 противоречивые тройки"_s;
        QTest::newRow("11") << qint64(11) << u"    и ещё 11 противоречивых троек"_s;
        QTest::newRow("41 million") << qint64(41541750) << u"    и ещё 41541750 противоречивых троек"_s;
    }
    void triadsBeyondTheNamed()
    {
        QFETCH(qint64, more);
        QFETCH(QString, line);
        TvsConsistency c = FromWins({1, 1, 1});
        c.Circular.push_back({u"Свобода"_s, u"Дом"_s, u"Здоровье"_s, 4, 2, 4});
        c.Triads = 1 + more;
        const QStringList lines = ConsistencyLines(c, true);
        QCOMPARE(lines.last(), line);
        QCOMPARE(lines.at(lines.size() - 2),
                 u"    «Свобода» важнее «Дом», «Дом» важнее «Здоровье», а «Здоровье» важнее «Свобода»"_s);
    }

    void notAComparison()
    {
        const QStringList lines = ConsistencyLines(FromWins({3, 3, 0, 0}), true);
        QCOMPARE(lines, QStringList({u"Согласованность ответов вычислить нельзя: баллы теста не складываются в полное "
                                     u"попарное сравнение."_s}));
    }
};

QTEST_GUILESS_MAIN(TestConsistencyText)
#include "test_consistency_text.moc"
