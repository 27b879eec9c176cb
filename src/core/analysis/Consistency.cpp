#include "core/analysis/Consistency.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <limits>
#include <map>
#include <mutex>
#include <unordered_map>
#include <utility>

namespace kv {

namespace {

// Beyond a million values the cubic terms of Kendall's formula would no longer fit in 64 bits; no
// test comes anywhere near it, so such input is simply not a valid comparison.
constexpr qint64 kMaxValues = qint64{1} << 20;

// Up to this n the distribution of d under random answers is enumerated exactly (once per n, then
// cached); that takes about ten milliseconds at n = 10 but grows fivefold with every further value.
// Above it Kendall and Babington Smith's chi-square approximation is used, which they recommend
// from n = 8 on; at n = 10 it is within 0.01 of the exact values already.
constexpr int kMaxExactN = 10;

qint64 MaxTriadsFor(qint64 n)
{
    if (n < 3)
        return 0;
    return n % 2 != 0 ? (n * n * n - n) / 24 : (n * n * n - 4 * n) / 24;
}

// Twice Kendall's n(n-1)(2n-1)/12, kept integral: d = (SumOfSquaresBound(n) - sum of squared wins) / 2.
qint64 SumOfSquaresBound(qint64 n)
{
    return n * (n - 1) * (2 * n - 1) / 6;
}

// Exact distribution of d for random answers among n values, as cumulative probabilities P(D <= d).
// The triad count depends only on the sorted wins, so the tournament is built one value at a time
// over the multiset of wins so far, four bits per value (every win stays below 16).
std::vector<double> ExactCumulative(int n)
{
    using Key = std::uint64_t;
    auto pack = [](const std::array<int, 16>& wins, int count) {
        Key key = 0;
        for (int i = 0; i < count; ++i)
            key |= Key(wins[i]) << (4 * i);
        return key;
    };

    std::unordered_map<Key, double> states{{Key{0}, 1.0}};
    for (int k = 1; k < n; ++k) {
        // Value k meets the k values before it; every outcome has probability 2^-k.
        const double weight = std::ldexp(1.0, -k);
        std::unordered_map<Key, double> next;
        next.reserve(states.size() * 4);
        for (const auto& [key, probability] : states) {
            // The wins so far, grouped into runs of equal wins: choosing j of the m values in a run
            // to beat the newcomer gives C(m, j) tournaments with the same multiset.
            std::array<int, 16> wins{};
            for (int i = 0; i < k; ++i)
                wins[i] = int((key >> (4 * i)) & 0xF);
            std::array<int, 16> runValue{}, runSize{};
            int runs = 0;
            for (int i = 0; i < k; ++i) {
                if (runs > 0 && runValue[runs - 1] == wins[i])
                    ++runSize[runs - 1];
                else {
                    runValue[runs] = wins[i];
                    runSize[runs] = 1;
                    ++runs;
                }
            }
            std::array<int, 16> chosen{};
            for (;;) {
                double ways = 1;
                int beaten = k; // the newcomer's wins: every earlier value that did not beat it
                std::array<int, 16> out{};
                int count = 0;
                for (int r = 0; r < runs; ++r) {
                    const int j = chosen[r];
                    const int m = runSize[r];
                    double c = 1;
                    for (int t = 0; t < j; ++t)
                        c = c * (m - t) / (t + 1);
                    ways *= c;
                    beaten -= j;
                    for (int t = 0; t < m - j; ++t)
                        out[count++] = runValue[r];
                    for (int t = 0; t < j; ++t)
                        out[count++] = runValue[r] + 1;
                }
                // The runs ascend and a run's raised values reach at most the next run's value, so
                // the earlier values are still in order; the newcomer's wins go in their place.
                int at = count;
                while (at > 0 && out[at - 1] > beaten) {
                    out[at] = out[at - 1];
                    --at;
                }
                out[at] = beaten;
                ++count;
                next[pack(out, count)] += probability * ways * weight;

                int r = 0;
                while (r < runs && chosen[r] == runSize[r])
                    chosen[r++] = 0;
                if (r == runs)
                    break;
                ++chosen[r];
            }
        }
        states = std::move(next);
    }

    const qint64 bound = SumOfSquaresBound(n);
    std::vector<double> density(std::size_t(MaxTriadsFor(n)) + 1, 0.0);
    for (const auto& [key, probability] : states) {
        qint64 squares = 0;
        for (int i = 0; i < n; ++i) {
            const qint64 w = qint64((key >> (4 * i)) & 0xF);
            squares += w * w;
        }
        density[std::size_t((bound - squares) / 2)] += probability;
    }
    double sum = 0;
    for (double& p : density) {
        sum += p;
        p = sum;
    }
    density.back() = 1.0; // the whole distribution, without the last bits of rounding
    return density;
}

// A table per n, made by the first caller that needs it. Once made it never changes, so a reader
// pays one acquire load; std::call_once would cost a call into the thread library on every test
// of a pass over a whole database.
template <int MaxN> class TablePerN
{
public:
    template <typename Make> const std::vector<double>& Get(int n, Make make)
    {
        const auto at = std::size_t(n);
        if (!m_ready[at].load(std::memory_order_acquire)) {
            const std::lock_guard lock(m_making);
            if (!m_ready[at].load(std::memory_order_relaxed)) {
                m_tables[at] = make(n);
                m_ready[at].store(true, std::memory_order_release);
            }
        }
        return m_tables[at];
    }

private:
    std::array<std::atomic<bool>, MaxN + 1> m_ready{};
    std::array<std::vector<double>, MaxN + 1> m_tables;
    std::mutex m_making;
};

double ExactPRandom(int n, qint64 triads)
{
    static TablePerN<kMaxExactN> cumulative;
    return cumulative.Get(n, ExactCumulative)[std::size_t(triads)];
}

// Regularised upper incomplete gamma function Q(a, x), by its series below a + 1 and its continued
// fraction above, as usual.
double UpperGamma(double a, double x)
{
    if (x <= 0)
        return 1.0;
    const double logPrefix = a * std::log(x) - x - std::lgamma(a);
    constexpr double eps = 1e-15;
    if (x < a + 1) {
        double term = 1.0 / a, sum = term;
        for (int i = 1; i < 10000 && std::abs(term) > std::abs(sum) * eps; ++i) {
            term *= x / (a + i);
            sum += term;
        }
        return std::clamp(1.0 - sum * std::exp(logPrefix), 0.0, 1.0);
    }
    constexpr double tiny = 1e-300;
    double b = x + 1 - a, c = 1 / tiny, d = 1 / b, h = d;
    for (int i = 1; i < 10000; ++i) {
        const double an = -i * (i - a);
        b += 2;
        d = an * d + b;
        if (std::abs(d) < tiny)
            d = tiny;
        c = b + an / c;
        if (std::abs(c) < tiny)
            c = tiny;
        d = 1 / d;
        const double delta = d * c;
        h *= delta;
        if (std::abs(delta - 1) < eps)
            break;
    }
    return std::clamp(std::exp(logPrefix) * h, 0.0, 1.0);
}

// Kendall and Babington Smith: 8/(n-4) * (C(n,3)/4 - d) + nu is roughly chi-square with
// nu = n(n-1)(n-2)/(n-4)^2 degrees of freedom; few triads mean a large statistic, so "d or fewer"
// is its upper tail. The continuity correction takes d half a step up, to d + 1/2: "d or fewer"
// of a whole number is "below d + 1/2". Against the exact distribution at n = 10 the largest
// difference is then about 0.01, where half a step down would give 0.1.
double ApproxPRandom(qint64 n, qint64 triads)
{
    const double nn = double(n);
    const double nu = nn * (nn - 1) * (nn - 2) / ((nn - 4) * (nn - 4));
    const double triples = nn * (nn - 1) * (nn - 2) / 6;
    const double chi2 = 8 / (nn - 4) * (triples / 4 - (double(triads) + 0.5)) + nu;
    return UpperGamma(nu / 2, chi2 / 2);
}

// Up to this many values the per-call work needs no heap, and the approximated distribution is
// tabled per n the first time it is needed (about 11,000 entries at the top), so a long run over
// many saved tests pays for the incomplete gamma function once per n rather than once per test.
constexpr int kMaxSmallN = 64;

// Per n up to kMaxSmallN, what every test of n values needs: twice Kendall's bound and d_max, which
// cost integer divisions each; and for every sum of wins up to the largest n(n-1)/2, its n, or 0
// when the sum is no n(n-1)/2.
struct SmallN
{
    std::array<qint64, kMaxSmallN + 1> bound{};
    std::array<qint64, kMaxSmallN + 1> maxTriads{};
    std::array<qint8, kMaxSmallN*(kMaxSmallN - 1) / 2 + 1> root{};
};

constexpr SmallN MakeSmallN()
{
    SmallN t;
    for (qint64 n = 0; n <= kMaxSmallN; ++n) {
        t.bound[std::size_t(n)] = n * (n - 1) * (2 * n - 1) / 6;
        t.maxTriads[std::size_t(n)] = n < 3 ? 0 : n % 2 != 0 ? (n * n * n - n) / 24 : (n * n * n - 4 * n) / 24;
        // n = 0 and n = 1 both have the sum 0; the larger root is the one the formula gives.
        t.root[std::size_t(n * (n - 1) / 2)] = qint8(n);
    }
    return t;
}

constexpr SmallN kSmallN = MakeSmallN();

double TabledApproxPRandom(int n, qint64 triads)
{
    static TablePerN<kMaxSmallN> table;
    const auto make = [](int m) {
        std::vector<double> t(std::size_t(MaxTriadsFor(m)) + 1);
        for (std::size_t d = 0; d < t.size(); ++d)
            t[d] = ApproxPRandom(m, qint64(d));
        return t;
    };
    return table.Get(n, make)[std::size_t(triads)];
}

// The consistency of n values of which `wins` lists the first ones, the rest having won nothing.
// Landau's condition decides whether the wins can come from a complete comparison: taken in
// ascending order, the k weakest values must have won at least the k(k-1)/2 games among
// themselves, and all together exactly n(n-1)/2.
TvsConsistency Evaluate(std::span<const qint64> wins, qint64 n)
{
    TvsConsistency result;
    if (n > kMaxValues || qint64(wins.size()) > n)
        return result;
    // Landau's condition over the wins in ascending order, taken from a count of each number of
    // wins rather than a sort. Within a run of equal wins the margin sum - k(k-1)/2 is concave in
    // how many of the run are taken, so checking the run's end is enough when its start already
    // passed. Each win is range-checked before it is squared or counted, so nothing overflows.
    const auto check = [&](auto& counts) {
        qint64 squares = 0;
        for (qint64 w : wins) {
            if (w < 0 || w >= n)
                return false;
            squares += w * w;
            ++counts[std::size_t(w)];
        }
        counts[0] += n - qint64(wins.size());
        qint64 sum = 0;
        qint64 k = 0;
        for (qint64 w = 0; w < n; ++w) {
            const qint64 c = qint64(counts[std::size_t(w)]);
            if (c == 0)
                continue;
            sum += w * c;
            k += c;
            if (sum < k * (k - 1) / 2)
                return false;
        }
        result.Triads = ((n <= kMaxSmallN ? kSmallN.bound[std::size_t(n)] : SumOfSquaresBound(n)) - squares) / 2;
        return sum == n * (n - 1) / 2;
    };
    bool valid = false;
    if (n <= kMaxSmallN) {
        // A test's few values: the counts live on the stack, and clearing them costs a few stores.
        std::array<quint8, kMaxSmallN> counts{};
        valid = check(counts);
    } else {
        std::vector<qint64> counts(std::size_t(n), 0);
        valid = check(counts);
    }
    if (!valid) {
        result.Triads = 0;
        return result;
    }
    result.Valid = true;
    result.N = qint32(n);
    result.MaxTriads = n <= kMaxSmallN ? kSmallN.maxTriads[std::size_t(n)] : MaxTriadsFor(n);
    result.Zeta = result.MaxTriads > 0 ? 1.0 - double(result.Triads) / double(result.MaxTriads) : 1.0;
    result.PRandom = PRandomOfTriads(result.N, result.Triads, &result.PExact);
    return result;
}

} // namespace

TvsConsistency ConsistencyFromWins(std::span<const qint64> wins)
{
    return Evaluate(wins, qint64(wins.size()));
}

double PRandomOfTriads(qint32 n, qint64 triads, bool* exact)
{
    if (exact)
        *exact = n <= kMaxExactN;
    if (triads < 0)
        return 0.0;
    if (triads >= MaxTriadsFor(n))
        return 1.0;
    if (n <= kMaxExactN)
        return ExactPRandom(int(n), triads);
    if (n <= kMaxSmallN)
        return TabledApproxPRandom(int(n), triads);
    return ApproxPRandom(n, triads);
}

double PRandomApproximate(qint32 n, qint64 triads)
{
    return n > 4 ? ApproxPRandom(n, triads) : 1.0;
}

int ZetaBin(const TvsConsistency& c, int bins)
{
    if (c.MaxTriads <= 0)
        return bins - 1; // fewer than three values: nothing can go round in a circle
    // floor(bins * (d_max - d) / d_max); d_max stays below 2^56 for any n this file accepts, so the
    // product fits.
    const qint64 bin = qint64(bins) * (c.MaxTriads - std::clamp<qint64>(c.Triads, 0, c.MaxTriads)) / c.MaxTriads;
    return int(std::min<qint64>(bin, bins - 1));
}

qint64 ValuesOfComparisons(qint64 comparisons)
{
    if (comparisons < 1)
        return 0;
    if (comparisons < qint64(kSmallN.root.size()))
        return kSmallN.root[std::size_t(comparisons)];
    // n(n-1)/2 = comparisons has the one root n = (1 + sqrt(1 + 8 comparisons)) / 2; checked in
    // integers, and only where n(n-1)/2 cannot overflow.
    if (comparisons > std::numeric_limits<qint64>::max() / 8)
        return 0;
    qint64 n = qint64((1 + std::sqrt(1.0 + 8.0 * double(comparisons))) / 2);
    while (n * (n - 1) / 2 > comparisons)
        --n;
    while ((n + 1) * n / 2 <= comparisons)
        ++n;
    return n * (n - 1) / 2 == comparisons ? n : 0;
}

TvsConsistency ConsistencyFromScores(std::span<const qint64> storedScores)
{
    const qint64 maxSum = kMaxValues * (kMaxValues - 1) / 2;
    qint64 sum = 0;
    for (qint64 s : storedScores) {
        if (s < 0 || s >= kMaxValues)
            return {};
        sum += s;
        if (sum > maxSum)
            return {};
    }
    // Nothing won at all: a single value, compared with nothing.
    const qint64 n = sum == 0 ? 1 : ValuesOfComparisons(sum);
    return n > 0 ? Evaluate(storedScores, n) : TvsConsistency{};
}

TvsConsistency ConsistencyFromResults(const TvsValueTypeList& resultList)
{
    std::vector<qint64> scores;
    for (int g = 0; g < resultList.Count(); ++g)
        if (const TvsValueList* values = resultList.Items(g).Values.get())
            for (int v = 0; v < values->Count(); ++v)
                scores.push_back(values->Items(v).Score);
    return ConsistencyFromScores(scores);
}

TvsConsistency ConsistencyFromAnswers(const TvsAnswerLog& answers, qint64 nameAtMost)
{
    // In memory the answers carry the values' positions; read back from a file they carry only
    // names and groups, which then identify the values.
    const bool byIndex = std::all_of(answers.begin(), answers.end(),
                                     [](const TvsAnswer& a) { return a.UpperIndex >= 0 && a.LowerIndex >= 0; });
    struct Value
    {
        QString Name;
        qint32 Group = 0;
        qint64 Earlier = 0; // how many values stood before it: the upper button always shows the earlier
        qint64 FirstSeen = 0;
    };
    std::vector<Value> values;
    std::map<std::pair<qint32, QString>, std::size_t> byName;
    std::map<qint32, std::size_t> byPosition;
    auto identify = [&](qint32 index, qint32 group, const QString& name) {
        std::size_t id = 0;
        if (byIndex) {
            const auto [it, added] = byPosition.try_emplace(index, values.size());
            id = it->second;
            if (!added)
                return id;
        } else {
            const auto [it, added] = byName.try_emplace(std::pair{group, name}, values.size());
            id = it->second;
            if (!added)
                return id;
        }
        values.push_back({name, group, 0, qint64(values.size())});
        return id;
    };

    struct Game
    {
        std::size_t Winner, Loser;
    };
    std::vector<Game> games;
    games.reserve(answers.size());
    for (const TvsAnswer& a : answers) {
        if (a.Chosen != 1 && a.Chosen != 2)
            return {};
        const std::size_t upper = identify(a.UpperIndex, a.UpperGroup, a.Upper);
        const std::size_t lower = identify(a.LowerIndex, a.LowerGroup, a.Lower);
        if (upper == lower)
            return {};
        ++values[lower].Earlier;
        games.push_back(a.Chosen == 1 ? Game{upper, lower} : Game{lower, upper});
    }

    const std::size_t n = values.size();
    if (qint64(n) > kMaxValues || games.size() != n * (n - 1) / 2)
        return {};

    // Positions in the order the values were chosen, so the triads read in the respondent's order.
    std::vector<std::size_t> order(n);
    for (std::size_t i = 0; i < n; ++i)
        order[i] = i;
    std::sort(order.begin(), order.end(), [&](std::size_t x, std::size_t y) {
        return std::pair{values[x].Earlier, values[x].FirstSeen} < std::pair{values[y].Earlier, values[y].FirstSeen};
    });
    std::vector<std::size_t> position(n);
    for (std::size_t p = 0; p < n; ++p)
        position[order[p]] = p;

    // beats[i * n + j]: 1 when i beat j, by position; every pair must have been asked exactly once.
    std::vector<quint8> beats(n * n, 0);
    std::vector<qint64> wins(n, 0);
    for (const Game& g : games) {
        const std::size_t w = position[g.Winner], l = position[g.Loser];
        if (beats[w * n + l] || beats[l * n + w])
            return {};
        beats[w * n + l] = 1;
        ++wins[w];
    }

    TvsConsistency result = ConsistencyFromWins(wins);
    if (!result.Valid)
        return result;
    const auto triad = [&](std::size_t a, std::size_t b, std::size_t c) {
        const Value& va = values[order[a]];
        const Value& vb = values[order[b]];
        const Value& vc = values[order[c]];
        return TvsTriad{va.Name, vb.Name, vc.Name, va.Group, vb.Group, vc.Group};
    };
    // The count is known from the wins, so the search stops at the last triad it is to name.
    const std::size_t named = std::size_t(std::clamp<qint64>(nameAtMost, 0, result.Triads));
    result.Circular.reserve(named);
    for (std::size_t i = 0; i < n && result.Circular.size() < named; ++i)
        for (std::size_t j = i + 1; j < n && result.Circular.size() < named; ++j)
            for (std::size_t k = j + 1; k < n && result.Circular.size() < named; ++k) {
                // Named from the earliest value on, in the direction of the wins.
                if (beats[i * n + j] && beats[j * n + k] && beats[k * n + i])
                    result.Circular.push_back(triad(i, j, k));
                else if (beats[j * n + i] && beats[k * n + j] && beats[i * n + k])
                    result.Circular.push_back(triad(i, k, j));
            }
    return result;
}

} // namespace kv
