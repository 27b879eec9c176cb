#include "core/analysis/ConsistencyText.h"

namespace kv {

namespace {

QString Decimal(double value, int decimals)
{
    return QString::number(value, 'f', decimals).replace(u'.', u',');
}

QString Probability(double p)
{
    if (p < 0.001)
        return QStringLiteral("менее 0,001");
    return QString::number(p, 'g', 3).replace(u'.', u',');
}

QString Quoted(const QString& name)
{
    return u'«' + name + u'»';
}

} // namespace

QStringList ConsistencyLines(const TvsConsistency& c, bool withAnswers)
{
    if (!c.Valid)
        return {QStringLiteral("Согласованность ответов вычислить нельзя: баллы теста не складываются в полное "
                               "попарное сравнение.")};

    QStringList lines;
    // "из N возможных" takes the genitive, which is singular only after 1, 21, 31 ...
    const QString possible = RussianPlural(c.MaxTriads, QStringLiteral("возможной"), QStringLiteral("возможных"),
                                           QStringLiteral("возможных"));
    lines << QStringLiteral("Согласованность ответов: %1 (%2 %3 из %4 %5)")
                 .arg(Decimal(c.Zeta, 2))
                 .arg(c.Triads)
                 .arg(RussianPlural(c.Triads, QStringLiteral("противоречивая тройка"),
                                    QStringLiteral("противоречивые тройки"), QStringLiteral("противоречивых троек")))
                 .arg(c.MaxTriads)
                 .arg(possible);
    lines << QString()
          << QStringLiteral("Противоречивая тройка — это три ценности, ответы о которых идут по кругу: первая "
                            "важнее второй, вторая важнее третьей, а третья важнее первой. Согласованность 1 "
                            "значит, что таких троек нет, 0 — что их столько, сколько вообще может быть.");
    QString chance = QStringLiteral("Вероятность получить столько же противоречивых троек или меньше, отвечая "
                                    "наугад: %1")
                         .arg(Probability(c.PRandom));
    if (!c.PExact)
        chance += QStringLiteral(" (приближённая оценка)");
    chance += c.PRandom < 0.05 ? QStringLiteral(". Такие ответы вряд ли даны наугад.")
                               : QStringLiteral(". По этому показателю ответы не отличить от случайных.");
    lines << QString() << chance << QString();

    if (!withAnswers) {
        lines << QStringLiteral("Ответы этого теста не записаны, поэтому согласованность вычислена по баллам, а "
                                "назвать противоречивые тройки нельзя.");
    } else if (c.Circular.empty()) {
        lines << QStringLiteral("Противоречивых троек нет.");
    } else {
        lines << QStringLiteral("Противоречивые тройки:");
        for (const TvsTriad& t : c.Circular)
            lines << QStringLiteral("    %1 важнее %2, %2 важнее %3, а %3 важнее %1")
                         .arg(Quoted(t.A), Quoted(t.B), Quoted(t.C));
        // A test with many circular triads has only the first of them named.
        if (const qint64 more = c.Triads - qint64(c.Circular.size()); more > 0)
            lines << QStringLiteral("    и ещё %1 %2")
                         .arg(more)
                         .arg(RussianPlural(more, QStringLiteral("противоречивая тройка"),
                                            QStringLiteral("противоречивые тройки"),
                                            QStringLiteral("противоречивых троек")));
    }
    return lines;
}

} // namespace kv
