#pragma once

#include "core/catalogue/uvsValues.h"
#include "core/session/AnswerLog.h"

#include <QString>
#include <QtGlobal>

#include <span>
#include <vector>

namespace kv {

// A circular triad of one respondent: a beat b, b beat c and c beat a.
struct TvsTriad
{
    QString A, B, C;
    qint32 GroupA = 0, GroupB = 0, GroupC = 0;
};

// Kendall's consistency of one respondent's paired comparisons.
struct TvsConsistency
{
    bool Valid = false;             // false when the wins cannot come from a complete comparison of n values
    qint32 N = 0;                   // values compared
    qint64 Triads = 0;              // d: circular triads
    qint64 MaxTriads = 0;           // d_max for this n
    double Zeta = 0;                // coefficient of consistence 1 - d / d_max (1 for n < 3)
    double PRandom = 0;             // probability that random answers give d or fewer circular triads
    bool PExact = false;            // PRandom is exact rather than the chi-square approximation
    std::vector<TvsTriad> Circular; // only from an answer log: the first circular triads, by name
};

// From the wins of all n values of a test (values that won nothing count with 0). The wins must sum
// to n(n-1)/2 and each lie in 0 .. n-1, otherwise the result is not Valid. Sums are 64-bit.
TvsConsistency ConsistencyFromWins(std::span<const qint64> wins);

// The bin of zeta among `bins` equal bins of [0, 1], the last one closed, decided on the integers d
// and d_max: 1 - d/d_max in floating point puts a zeta of exactly 0.1 or 0.2 into the bin below.
int ZetaBin(const TvsConsistency& c, int bins);

// The number of values n >= 2 whose complete comparison takes exactly `comparisons` = n(n-1)/2 pairs;
// 0 when no n does.
qint64 ValuesOfComparisons(qint64 comparisons);

// From the stored scores of a test without an answer log: only the values that won at least once are
// stored, so n is the number of values whose wins can sum to n(n-1)/2, the missing ones having 0.
TvsConsistency ConsistencyFromScores(std::span<const qint64> storedScores);

// The figures of one test in a pass over a whole database: TvsConsistency without the triads' names,
// which need an answer log.
// From the value scores of a result list, as ConsistencyFromScores.
TvsConsistency ConsistencyFromResults(const TvsValueTypeList& resultList);

// How many circular triads a document names: they grow as n³ (a 1,000-value test can have 41 million),
// and past a screenful a reader learns nothing more from them; the count says how many there are.
inline constexpr qint64 kNamedTriadsAtMost = 20;

// From an answer log: wins counted per value, and the first nameAtMost circular triads named, each
// from its earliest chosen value on in the direction of the wins (Triads counts them all). Not Valid
// unless every pair was answered exactly once with a choice of 1 or 2.
TvsConsistency ConsistencyFromAnswers(const TvsAnswerLog& answers, qint64 nameAtMost = kNamedTriadsAtMost);

// The probability that random answers among n values give `triads` circular triads or fewer: exact
// for small n (then *exact is set true), Kendall and Babington Smith's chi-square approximation above.
double PRandomOfTriads(qint32 n, qint64 triads, bool* exact = nullptr);

// The chi-square approximation alone, for n > 4.
double PRandomApproximate(qint32 n, qint64 triads);

} // namespace kv
