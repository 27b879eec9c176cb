#include "analysis/Summary.h"

#include "database/Journal.h"
#include "database/RecordFile.h"
#include "database/uvsDataBase.h"
#include "platform/Codec.h"
#include "platform/Errors.h"

#include <QDir>
#include <QFileInfo>
#include <QtEndian>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <string>
#include <string_view>
#include <unordered_map>

#include <fcntl.h>
#include <unistd.h>

namespace kv {

namespace {

// Records are read through their classes; only the names are taken from the raw bytes, so that a
// name met a million times is decoded once.
constexpr int kAnswerUpper = 13;
constexpr int kAnswerLower = 95;
constexpr int kValueName = 13;
constexpr int kShortStringChars = 80;
// The stored text fields of the test record follow one another from here, 81 bytes each.
constexpr int kTestFirstAnswer = 98;
constexpr int kShortStringSize = 81;

// Calls each(record) for every whole record of fileName, a megabyte at a time, so nothing of the
// file stays in memory. False when the file cannot be opened or a read fails: a summary quietly
// missing the end of a file would look like a smaller sample.
template <typename Each> bool ScanRecords(const QString& fileName, size_t recordSize, Each&& each)
{
    const int fd = OpenLocked(fileName, O_RDONLY, kLockWaitMs);
    if (fd < 0)
        return false;
    struct Closer
    {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};
    const size_t capacity = (size_t(1) << 20) / recordSize * recordSize;
    std::vector<char> block(capacity);
    off_t offset = 0;
    for (;;) {
        size_t filled = 0;
        while (filled < capacity) {
            const ssize_t n = ::pread(fd, block.data() + filled, capacity - filled, offset + off_t(filled));
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0)
                return false;
            if (n == 0)
                break;
            filled += size_t(n);
        }
        const size_t whole = filled / recordSize;
        for (size_t i = 0; i < whole; ++i)
            each(block.data() + i * recordSize);
        if (filled < capacity)
            return true;
        offset += off_t(filled);
    }
}

std::string_view ShortBytes(const char* at)
{
    return std::string_view(at + 1, std::min<size_t>(static_cast<quint8>(*at), kShortStringChars));
}

QString Decode(std::string_view raw)
{
    return FromCp1251(QByteArrayView(raw.data(), qsizetype(raw.size())));
}

struct ViewHash
{
    using is_transparent = void;
    size_t operator()(std::string_view s) const noexcept { return std::hash<std::string_view>{}(s); }
};

// Interns raw Windows-1251 texts so that a text met a million times is decoded once.
template <typename Index> class Interner
{
public:
    template <typename Add> Index Get(std::string_view raw, Add&& add)
    {
        const auto found = m_map.find(raw);
        if (found != m_map.end())
            return found->second;
        const Index index = add(raw);
        m_map.emplace(std::string(raw), index);
        return index;
    }

private:
    std::unordered_map<std::string, Index, ViewHash, std::equal_to<>> m_map;
};

constexpr qint32 kEpochJulianDay = 2415019; // 1899-12-30

qint32 JulianDayOf(double date)
{
    if (!std::isfinite(date) || std::fabs(date) > 1e7)
        return 0;
    // The stored number is already local time: its whole part is the day, the fraction (of either
    // sign) the time of day, and a time that rounds to midnight belongs to the next day.
    const double whole = std::trunc(date);
    qint64 days = qint64(whole);
    if (std::llround(std::fabs(date - whole) * 86400000.0) >= 86400000)
        days += date >= 0 ? 1 : -1;
    return qint32(kEpochJulianDay + days);
}

QString UnreadableText(const QString& fileName)
{
    return QStringLiteral("Не удалось прочитать файл %1").arg(QDir::toNativeSeparators(fileName));
}

double PairCountOf(qint32 n)
{
    return double(n) * double(n - 1) / 2.0;
}

} // namespace

quint32 TvsSummaryData::ValueIndex(qint32 group, const QString& name)
{
    const QString key = QString::number(group) + QLatin1Char(':') + name;
    const auto found = m_valueIndex.constFind(key);
    if (found != m_valueIndex.constEnd())
        return *found;
    const quint32 index = quint32(Values.size());
    Values.push_back({name, group});
    m_valueIndex.insert(key, index);
    return index;
}

quint16 TvsSummaryData::AnswerIndex(TvsQuestion question, const QString& text)
{
    QStringList& texts = AnswerTexts[size_t(question)];
    const qsizetype found = texts.indexOf(text);
    if (found >= 0)
        return quint16(found);
    // A questionnaire has a dozen answers; tens of thousands of different ones is damage, and they
    // all fall together into the last slot rather than overflow.
    if (texts.size() >= 65535)
        return 65534;
    texts.append(text);
    return quint16(texts.size() - 1);
}

qint32 ValuesFromPoints(qint64 points)
{
    if (points < 1)
        return 0;
    const qint64 n = qint64(std::llround((1.0 + std::sqrt(1.0 + 8.0 * double(points))) / 2.0));
    for (qint64 k = std::max<qint64>(2, n - 1); k <= n + 1; ++k) {
        if (k * (k - 1) / 2 == points)
            return k > std::numeric_limits<qint32>::max() ? 0 : qint32(k);
    }
    return 0;
}

TvsSummaryData ReadSummaryData(const QString& dataDir)
{
    TvsSummaryData data;
    const QDir dir(dataDir);
    // A save cut short by a crash is undone before anything of it is counted.
    if (dir.exists())
        RecoverDataDir(dataDir);
    QHash<quint32, quint32> byId; // the first test of a number wins, as in the history window
    std::vector<bool> firstOfId;
    std::array<Interner<quint16>, kQuestionCount> answerTexts;

    const QString testsFile = dir.filePath(QStringLiteral("tests.dat"));
    const qint64 expectedTests = std::max<qint64>(0, QFileInfo(testsFile).size()) / TvsDBTestRec::kSize;
    byId.reserve(expectedTests);
    data.Tests.reserve(size_t(expectedTests));
    firstOfId.reserve(size_t(expectedTests));
    const bool readTests = ScanRecords(testsFile, TvsDBTestRec::kSize, [&](const char* bytes) {
        TvsDBTestRec rec;
        std::memcpy(rec.bytes.data(), bytes, TvsDBTestRec::kSize);
        TvsSummaryTest test;
        test.Id = rec.Id();
        test.Age = rec.Age();
        test.Sex = rec.Sex();
        test.DateDay = JulianDayOf(rec.Date());
        qint64 total = 0;
        for (int g = 0; g < 4; ++g) {
            test.Points[size_t(g)] = rec.TypeScore(g + 1);
            total += test.Points[size_t(g)];
        }
        test.N = ValuesFromPoints(total);
        for (int q = 0; q < kQuestionCount; ++q) {
            const auto question = TvsQuestion(q);
            test.Answers[size_t(q)] = answerTexts[size_t(q)].Get(
                ShortBytes(bytes + kTestFirstAnswer + q * kShortStringSize),
                [&](std::string_view raw) { return data.AnswerIndex(question, Decode(raw)); });
        }
        // Value and answer records name their test by number; when two tests share one, the first in
        // file order owns them, as in the history window.
        const bool first = !byId.contains(test.Id);
        if (first)
            byId.insert(test.Id, quint32(data.Tests.size()));
        firstOfId.push_back(first);
        data.Tests.push_back(test);
    });
    if (!readTests) {
        if (!QFileInfo::exists(testsFile))
            return data;
        throw Error(UnreadableText(testsFile));
    }

    // One table per group byte, so a lookup needs no key built from the group and the name.
    std::vector<Interner<quint32>> valueNames(256);
    auto valueOf = [&](quint8 group, const char* shortString) {
        return valueNames[group].Get(ShortBytes(shortString),
                                     [&](std::string_view raw) { return data.ValueIndex(group, Decode(raw)); });
    };
    // Tests are numbered 1, 2, 3 ... in file order unless something went wrong; the table is for the rest.
    auto testOf = [&](quint32 id) -> qint64 {
        if (id >= 1 && id <= data.Tests.size() && data.Tests[id - 1].Id == id && firstOfId[id - 1])
            return qint64(id - 1);
        const auto found = byId.constFind(id);
        return found == byId.constEnd() ? -1 : qint64(*found);
    };

    struct Owned
    {
        quint32 test;
        TvsSummaryScore score;
    };
    std::vector<Owned> scores;
    scores.reserve(size_t(std::max<qint64>(0, QFileInfo(dir.filePath(QStringLiteral("values.dat"))).size())) /
                   TvsDBValueRec::kSize);
    const QString valuesFile = dir.filePath(QStringLiteral("values.dat"));
    const bool readValues = ScanRecords(valuesFile, TvsDBValueRec::kSize, [&](const char* bytes) {
        TvsDBValueRec rec;
        std::memcpy(rec.bytes.data(), bytes, TvsDBValueRec::kSize);
        const qint64 test = testOf(quint32(rec.TestId()));
        if (test < 0)
            return;
        scores.push_back({quint32(test), {valueOf(rec.TypeNumber(), bytes + kValueName), rec.Score()}});
    });
    if (!readValues && QFileInfo::exists(valuesFile))
        throw Error(UnreadableText(valuesFile));
    // One save writes a test's records together, so they are nearly always in order already.
    const auto byTest = [](const auto& a, const auto& b) { return a.test < b.test; };
    if (!std::is_sorted(scores.begin(), scores.end(), byTest))
        std::sort(scores.begin(), scores.end(), byTest);
    data.Scores.reserve(scores.size());
    for (const Owned& s : scores) {
        TvsSummaryTest& test = data.Tests[s.test];
        if (test.ScoreCount == 0)
            test.FirstScore = quint32(data.Scores.size());
        ++test.ScoreCount;
        data.Scores.push_back(s.score);
    }
    std::vector<Owned>().swap(scores);

    struct OwnedPair
    {
        quint32 test;
        TvsComparison pair;
    };
    std::vector<OwnedPair> pairs;
    pairs.reserve(size_t(std::max<qint64>(0, QFileInfo(dir.filePath(QStringLiteral("answers.dat"))).size())) /
                  TvsDBAnswerRec::kSize);
    const QString answersFile = dir.filePath(QStringLiteral("answers.dat"));
    const bool readAnswers = ScanRecords(answersFile, TvsDBAnswerRec::kSize, [&](const char* bytes) {
        TvsDBAnswerRec rec;
        std::memcpy(rec.bytes.data(), bytes, TvsDBAnswerRec::kSize);
        const qint64 test = testOf(rec.TestId());
        if (test < 0 || !rec.ChoiceKnown()) {
            ++data.SkippedAnswers;
            return;
        }
        const quint32 upper = valueOf(rec.UpperGroup(), bytes + kAnswerUpper);
        const quint32 lower = valueOf(rec.LowerGroup(), bytes + kAnswerLower);
        pairs.push_back({quint32(test), rec.Chosen() == TvsDBAnswerRec::kChoseUpper ? TvsComparison{upper, lower}
                                                                                    : TvsComparison{lower, upper}});
    });
    if (!readAnswers && QFileInfo::exists(answersFile))
        throw Error(UnreadableText(answersFile));
    if (!std::is_sorted(pairs.begin(), pairs.end(), byTest))
        std::sort(pairs.begin(), pairs.end(), byTest);
    data.Pairs.reserve(pairs.size());
    for (const OwnedPair& p : pairs) {
        TvsSummaryTest& test = data.Tests[p.test];
        if (test.PairCount == 0)
            test.FirstPair = quint32(data.Pairs.size());
        ++test.PairCount;
        data.Pairs.push_back(p.pair);
    }
    return data;
}

namespace {

// Continued fraction of the regularised incomplete beta function (Lentz's method).
double BetaFraction(double a, double b, double x)
{
    constexpr double kTiny = 1e-300;
    double c = 1, d = 1 - (a + b) * x / (a + 1);
    d = 1 / (std::abs(d) < kTiny ? kTiny : d);
    double h = d;
    for (int m = 1; m <= 300; ++m) {
        const double m2 = 2.0 * m;
        double aa = m * (b - m) * x / ((a + m2 - 1) * (a + m2));
        d = 1 + aa * d;
        d = 1 / (std::abs(d) < kTiny ? kTiny : d);
        c = 1 + aa / c;
        c = std::abs(c) < kTiny ? kTiny : c;
        h *= d * c;
        aa = -(a + m) * (a + b + m) * x / ((a + m2) * (a + m2 + 1));
        d = 1 + aa * d;
        d = 1 / (std::abs(d) < kTiny ? kTiny : d);
        c = 1 + aa / c;
        c = std::abs(c) < kTiny ? kTiny : c;
        const double step = d * c;
        h *= step;
        if (std::abs(step - 1) < 1e-15)
            break;
    }
    return h;
}

double IncompleteBeta(double a, double b, double x)
{
    if (x <= 0)
        return 0;
    if (x >= 1)
        return 1;
    const double front =
        std::exp(std::lgamma(a + b) - std::lgamma(a) - std::lgamma(b) + a * std::log(x) + b * std::log1p(-x));
    if (x < (a + 1) / (a + b + 2))
        return front * BetaFraction(a, b, x) / a;
    return 1 - front * BetaFraction(b, a, 1 - x) / b;
}

// P(T <= t) for t >= 0.
double StudentCdf(double t, double df)
{
    return 1 - 0.5 * IncompleteBeta(df / 2, 0.5, df / (df + t * t));
}

struct Running
{
    qint64 n = 0;
    double mean = 0;
    double m2 = 0;
    void Add(double x)
    {
        ++n;
        const double delta = x - mean;
        mean += delta / double(n);
        m2 += delta * (x - mean);
    }
};

} // namespace

double StudentT975(qint64 df)
{
    if (df < 1)
        return std::nan("");
    double low = 0, high = 1000;
    for (int i = 0; i < 200 && high - low > 1e-12; ++i) {
        const double mid = (low + high) / 2;
        (StudentCdf(mid, double(df)) < 0.975 ? low : high) = mid;
    }
    return (low + high) / 2;
}

QString NoTestsText()
{
    return QStringLiteral("нет тестов");
}

bool Matches(const TvsSummaryData& data, const TvsSummaryTest& test, const TvsSummaryFilter& filter)
{
    if (filter.Sex >= 0 && test.Sex != filter.Sex)
        return false;
    if (filter.AgeFrom >= 0 || filter.AgeTo >= 0) {
        // An empty age field is stored as 0: it tells nothing about the respondent's age.
        if (test.Age <= 0)
            return false;
        if (filter.AgeFrom >= 0 && test.Age < filter.AgeFrom)
            return false;
        if (filter.AgeTo >= 0 && test.Age > filter.AgeTo)
            return false;
    }
    if (filter.DateFrom.isValid() || filter.DateTo.isValid()) {
        if (test.DateDay == 0)
            return false;
        if (filter.DateFrom.isValid() && test.DateDay < filter.DateFrom.toJulianDay())
            return false;
        if (filter.DateTo.isValid() && test.DateDay > filter.DateTo.toJulianDay())
            return false;
    }
    for (int q = 0; q < kQuestionCount; ++q) {
        const QString& wanted = filter.Answers[size_t(q)];
        if (wanted.isEmpty())
            continue;
        const QStringList& texts = data.AnswerTexts[size_t(q)];
        const quint16 index = test.Answers[size_t(q)];
        if (index >= texts.size() || texts[index] != wanted)
            return false;
    }
    if (!filter.Ids.empty() && std::find(filter.Ids.begin(), filter.Ids.end(), test.Id) == filter.Ids.end())
        return false;
    return true;
}

TvsSummary Summarize(const TvsSummaryData& data, const TvsSummaryFilter& filter, const TvsSummaryOptions& options)
{
    TvsSummary summary;
    TvsSummaryFilter byIds = filter;
    // A selection of thousands of rows is looked up for every test: sorted once, searched by halves.
    std::sort(byIds.Ids.begin(), byIds.Ids.end());
    TvsSummaryFilter rest = filter;
    rest.Ids.clear();

    std::array<Running, 4> shares;
    std::array<qint64, 4> led{};
    struct ValueSums
    {
        qint64 won = 0, chosen = 0, counted = 0, first = 0;
        double share = 0, rank = 0;
    };
    std::vector<ValueSums> sums(data.Values.size());
    std::vector<TvsComparison> pairs;

    struct Known
    {
        quint32 value;
        qint64 wins;
        bool logged;
    };
    std::vector<Known> known;
    std::vector<qint64> allWins;
    std::vector<quint32> seenIn(data.Values.size(), 0), slot(data.Values.size(), 0);
    quint32 stamp = 0;

    for (const TvsSummaryTest& test : data.Tests) {
        if (!Matches(data, test, rest))
            continue;
        if (!byIds.Ids.empty() && !std::binary_search(byIds.Ids.begin(), byIds.Ids.end(), test.Id))
            continue;
        ++summary.Tests;
        if (test.PairCount > 0)
            ++summary.WithAnswers;
        pairs.insert(pairs.end(), data.Pairs.begin() + test.FirstPair,
                     data.Pairs.begin() + test.FirstPair + test.PairCount);

        // A value named twice in one test (only in a damaged file) counts once, with its wins added.
        ++stamp;
        known.clear();
        auto knownOf = [&](quint32 value) -> Known* {
            if (seenIn[value] == stamp)
                return &known[slot[value]];
            seenIn[value] = stamp;
            slot[value] = quint32(known.size());
            known.push_back({value, 0, false});
            return &known.back();
        };
        for (quint32 i = 0; i < test.ScoreCount; ++i) {
            const TvsSummaryScore& s = data.Scores[test.FirstScore + i];
            knownOf(s.Value)->wins += s.Wins;
        }
        for (quint32 i = 0; i < test.PairCount; ++i) {
            const TvsComparison& p = data.Pairs[test.FirstPair + i];
            knownOf(p.Winner)->logged = true;
            knownOf(p.Loser)->logged = true;
        }
        const qint32 n = test.N;
        if (n < 2 || qint64(known.size()) > n) {
            ++summary.Undecidable;
            continue;
        }

        const double pairCount = PairCountOf(n);
        qint32 maxPoints = 0;
        for (int g = 0; g < 4; ++g) {
            shares[size_t(g)].Add(test.Points[size_t(g)] / pairCount);
            maxPoints = std::max(maxPoints, test.Points[size_t(g)]);
        }
        for (int g = 0; g < 4; ++g) {
            if (maxPoints > 0 && test.Points[size_t(g)] == maxPoints)
                ++led[size_t(g)];
        }

        // Values that won nothing are not stored; without an answer log they are only a count, and
        // they share the last places.
        const qint64 hidden = n - qint64(known.size());
        std::sort(known.begin(), known.end(), [](const Known& a, const Known& b) { return a.wins > b.wins; });
        const qint64 maxWins = known.empty() ? 0 : known.front().wins;
        for (size_t start = 0; start < known.size();) {
            size_t end = start;
            while (end < known.size() && known[end].wins == known[start].wins)
                ++end;
            // Places start + 1 .. end, and the unnamed values shared the last ones with any known zero.
            const qint64 equal = qint64(end - start) + (known[start].wins == 0 ? hidden : 0);
            const double rank = double(start) + double(equal + 1) / 2.0;
            for (size_t i = start; i < end; ++i) {
                const Known& k = known[i];
                ValueSums& v = sums[k.value];
                ++v.counted;
                v.won += k.wins > 0;
                v.chosen += k.logged;
                v.first += maxWins > 0 && k.wins == maxWins;
                v.share += double(k.wins) / double(n - 1);
                v.rank += rank;
            }
            start = end;
        }

        if (options.Consistency) {
            allWins.clear();
            for (const Known& k : known)
                allWins.push_back(k.wins);
            allWins.resize(size_t(n), 0);
            const TvsConsistency c = options.Consistency(allWins);
            if (c.Valid) {
                const int bin = std::clamp(int(std::floor(c.Zeta * TvsConsistencySummary::kBins)), 0,
                                           TvsConsistencySummary::kBins - 1);
                ++summary.Consistency.Bins[size_t(bin)];
                ++summary.Consistency.Tests;
                summary.Consistency.LikeRandom += c.PRandom > 0.05;
            }
        }
    }

    summary.HasConsistency = options.Consistency != nullptr;
    for (int g = 0; g < 4; ++g) {
        TvsGroupSummary group;
        group.Group = g + 1;
        group.Tests = shares[size_t(g)].n;
        group.Led = led[size_t(g)];
        group.MeanShare = group.Tests > 0 ? shares[size_t(g)].mean : std::nan("");
        group.CiLow = group.CiHigh = std::nan("");
        if (group.Tests >= 2) {
            const double se = std::sqrt(shares[size_t(g)].m2 / double(group.Tests - 1) / double(group.Tests));
            const double half = StudentT975(group.Tests - 1) * se;
            // A share lies in 0 .. 1, and so does every interval worth showing for it.
            group.CiLow = std::max(0.0, group.MeanShare - half);
            group.CiHigh = std::min(1.0, group.MeanShare + half);
        }
        summary.Groups.push_back(group);
    }
    for (quint32 i = 0; i < quint32(sums.size()); ++i) {
        const ValueSums& v = sums[i];
        if (v.counted == 0)
            continue;
        TvsValueSummary value;
        value.Value = i;
        value.Won = v.won;
        value.Chosen = v.chosen;
        value.Counted = v.counted;
        value.First = v.first;
        value.MeanShare = v.share / double(v.counted);
        value.MeanRank = v.rank / double(v.counted);
        summary.Values.push_back(value);
    }
    summary.Scale = FitBradleyTerry(pairs, quint32(data.Values.size()), options.MinComparisons);
    return summary;
}

} // namespace kv
