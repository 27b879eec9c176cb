#include "core/analysis/Summary.h"

#include "core/platform/Codec.h"
#include "core/platform/Errors.h"
#include "core/storage/DataSnapshot.h"
#include "core/storage/RecordLayout.h"
#include "core/storage/uvsDataBase.h"

#include <QDir>
#include <QFileInfo>
#include <QtEndian>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace kv {

namespace {

// The fields the summary takes are read straight from the blocks as they arrived, so that no record
// is copied into its class first.
using namespace layout;
constexpr int kTestFirstAnswer = kTestSocial; // the stored text fields follow one another from here

template <typename T> T Field(const char* record, int offset)
{
    return qFromLittleEndian<T>(record + offset);
}

// Calls each(record) for every whole record of the snapshot's file, a block at a time: nothing of
// the file stays in memory. False when a read fails: a summary quietly missing the end of a file
// would look like a smaller sample.
template <typename Each> bool ScanRecords(const DataSnapshot& snapshot, DataSnapshot::FileKind kind, Each&& each)
{
    DataSnapshot::Reader reader(snapshot, kind);
    const size_t size = size_t(DataSnapshot::RecordSize(kind));
    const char* block;
    while (const size_t count = reader.Next(block)) {
        for (size_t i = 0; i < count; ++i)
            each(block + i * size);
    }
    return !reader.failed();
}

std::string_view ShortBytes(const char* at)
{
    const QByteArrayView text = ShortStringAt(at);
    return std::string_view(text.data(), size_t(text.size()));
}

QString Decode(std::string_view raw)
{
    return FromCp1251(QByteArrayView(raw.data(), qsizetype(raw.size())));
}

// Interns raw Windows-1251 texts by their bytes and a tag (a value's group), numbering them in
// order of first use: a text met a million times is decoded once, and a lookup costs one hash and
// one compare of a few words, with no allocation and no copy. Open addressing over a power-of-two
// table that stays at most half full.
//
// A text is read a word at a time, so the bytes after it up to the next multiple of eight must be
// readable: a stored short string always has its 80 bytes of room after the length byte.
class RawTexts
{
public:
    RawTexts() : m_slots(64) {}

    // The text's number, and whether this was its first use.
    std::pair<quint32, bool> Get(quint8 tag, std::string_view text)
    {
        const quint64 hash = Hash(tag, text);
        const size_t mask = m_slots.size() - 1;
        for (size_t i = size_t(hash) & mask;; i = (i + 1) & mask) {
            Slot& slot = m_slots[i];
            if (slot.number == 0)
                return {Add(slot, hash, tag, text), true};
            if (slot.hash == hash && Same(m_texts[slot.number - 1], tag, text))
                return {slot.number - 1, false};
        }
    }
    quint8 Tag(quint32 number) const { return m_texts[number].tag; }
    std::string_view Text(quint32 number) const
    {
        return std::string_view(m_bytes.data() + m_texts[number].start, m_texts[number].size);
    }
    quint32 Size() const { return quint32(m_texts.size()); }

private:
    struct Slot
    {
        quint64 hash = 0;
        quint32 number = 0; // the text's number + 1; 0 is a free slot
    };
    struct Stored
    {
        size_t start; // in m_bytes, a multiple of eight, zero-padded to the next one
        quint32 size;
        quint8 tag;
    };

    // Eight bytes from at, of which only the first left count.
    static quint64 Word(const char* at, size_t left)
    {
        quint64 word;
        std::memcpy(&word, at, 8);
        return left >= 8 ? word : word & ((quint64(1) << (8 * left)) - 1);
    }

    static quint64 Hash(quint8 tag, std::string_view text)
    {
        constexpr quint64 kMul = 0x9e3779b97f4a7c15ull;
        quint64 h = (quint64(text.size()) << 8 | tag) * kMul;
        for (size_t i = 0; i < text.size(); i += 8) {
            h = (h ^ Word(text.data() + i, text.size() - i)) * kMul;
            h ^= h >> 31;
        }
        return h;
    }

    bool Same(const Stored& stored, quint8 tag, std::string_view text) const
    {
        if (stored.tag != tag || stored.size != text.size())
            return false;
        const char* mine = m_bytes.data() + stored.start;
        for (size_t i = 0; i < text.size(); i += 8) {
            if (Word(mine + i, 8) != Word(text.data() + i, text.size() - i))
                return false;
        }
        return true;
    }

    quint32 Add(Slot& slot, quint64 hash, quint8 tag, std::string_view text)
    {
        const quint32 number = quint32(m_texts.size());
        m_texts.push_back({m_bytes.size(), quint32(text.size()), tag});
        m_bytes.append(text);
        m_bytes.resize((m_bytes.size() + 7) / 8 * 8, '\0');
        slot = {hash, number + 1};
        if (2 * m_texts.size() > m_slots.size())
            Grow();
        return number;
    }

    void Grow()
    {
        std::vector<Slot> bigger(m_slots.size() * 2);
        const size_t mask = bigger.size() - 1;
        for (const Slot& slot : m_slots) {
            if (slot.number == 0)
                continue;
            size_t i = size_t(slot.hash) & mask;
            while (bigger[i].number != 0)
                i = (i + 1) & mask;
            bigger[i] = slot;
        }
        m_slots.swap(bigger);
    }

    std::vector<Slot> m_slots;
    std::vector<Stored> m_texts;
    std::string m_bytes;
};

constexpr qint32 kEpochJulianDay = 2415019; // 1899-12-30

qint32 JulianDayOf(double date)
{
    // The stored number is already local time: no clock is asked.
    qint64 days;
    qint32 ms;
    return SplitRecordDate(date, days, ms) ? qint32(kEpochJulianDay + days) : 0;
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
    const qint64 n = ValuesOfComparisons(points);
    return n > std::numeric_limits<qint32>::max() ? 0 : qint32(n);
}

namespace {

// A stored value once its test is known: the test's index into Tests, the value's into Values.
struct PlacedScore
{
    quint32 test;
    quint32 value;
    qint32 wins;
};

} // namespace

TvsSummaryData ReadSummaryData(const QString& dataDir)
{
    TvsSummaryData data;
    if (!QFileInfo(dataDir).isDir())
        return data;
    // A save cut short by a crash is undone before anything of it is counted.
    const DataSnapshot snapshot(dataDir);
    if (!snapshot.Exists(DataSnapshot::Tests))
        return data;

    QHash<quint32, quint32> byId; // the first test of a number wins, as in the history window
    std::vector<bool> firstOfId;
    auto testOf = [&](quint32 id) -> qint64 {
        if (id >= 1 && id <= data.Tests.size() && data.Tests[id - 1].Id == id && firstOfId[id - 1])
            return qint64(id - 1);
        const auto found = byId.constFind(id);
        return found == byId.constEnd() ? -1 : qint64(*found);
    };

    std::array<RawTexts, kQuestionCount> answerTexts;
    std::array<std::vector<quint16>, kQuestionCount> answerIndex;
    const qint64 expectedTests = snapshot.Records(DataSnapshot::Tests);
    data.Tests.reserve(size_t(expectedTests));
    firstOfId.reserve(size_t(expectedTests));
    const bool readTests = ScanRecords(snapshot, DataSnapshot::Tests, [&](const char* bytes) {
        TvsSummaryTest test;
        test.Id = Field<quint32>(bytes, kTestId);
        test.Age = Field<qint32>(bytes, kTestAge);
        test.Sex = static_cast<quint8>(bytes[kTestSex]);
        const quint64 dateBits = Field<quint64>(bytes, kTestDate);
        double date;
        std::memcpy(&date, &dateBits, sizeof date);
        test.DateDay = JulianDayOf(date);
        qint64 total = 0;
        for (int g = 0; g < 4; ++g) {
            test.Points[size_t(g)] = Field<qint32>(bytes, kTestTypeScore1 + 4 * g);
            total += test.Points[size_t(g)];
        }
        test.N = ValuesFromPoints(total);
        for (int q = 0; q < kQuestionCount; ++q) {
            const std::string_view raw = ShortBytes(bytes + kTestFirstAnswer + q * kShortStringSize);
            const auto [number, added] = answerTexts[size_t(q)].Get(0, raw);
            if (added)
                answerIndex[size_t(q)].push_back(data.AnswerIndex(TvsQuestion(q), Decode(raw)));
            test.Answers[size_t(q)] = answerIndex[size_t(q)][number];
        }
        // Value and answer records name their test by number; when two tests share one, the first in
        // file order owns them, as in the history window. Tests are numbered 1, 2, 3 ... in file
        // order unless something went wrong, and only the rest go into the table.
        const size_t position = data.Tests.size();
        bool first;
        if (test.Id == position + 1) {
            first = byId.isEmpty() || !byId.contains(test.Id);
        } else {
            const bool earlierAtItsPlace = test.Id >= 1 && test.Id <= position && data.Tests[test.Id - 1].Id == test.Id;
            first = !earlierAtItsPlace && !byId.contains(test.Id);
            if (first)
                byId.insert(test.Id, quint32(position));
        }
        firstOfId.push_back(first);
        data.Tests.push_back(test);
    });
    if (!readTests)
        throw Error(UnreadableText(snapshot.FilePath(DataSnapshot::Tests)));

    // Each value record's test is found (once for a run of one test's records), its name given its
    // number among all values as it is first met in a record that counts, and the records of unknown
    // tests dropped. One save writes a test's records together, so they nearly always come in test
    // order and go straight to their place; the first record out of order sends everything through
    // a sort instead.
    std::vector<quint32> lastTestOf; // a value's last test index + 1: is it new to this one?
    const auto place = [&](const PlacedScore& s) {
        TvsSummaryTest& test = data.Tests[s.test];
        if (test.ScoreCount == 0)
            test.FirstScore = quint32(data.Scores.size());
        ++test.ScoreCount;
        data.Scores.push_back({s.value, s.wins});
        if (s.value >= lastTestOf.size())
            lastTestOf.resize(data.Values.size(), 0);
        if (lastTestOf[s.value] != s.test + 1) {
            lastTestOf[s.value] = s.test + 1;
            ++test.Known;
        }
    };
    RawTexts names;
    std::vector<quint32> valueOfName;
    std::vector<PlacedScore> unsorted;
    bool sorted = true;
    quint32 lastTest = 0;
    quint32 lastId = 0;
    qint64 lastIdTest = -2; // not looked up yet
    {
        data.Scores.reserve(size_t(snapshot.Records(DataSnapshot::Values)));
        const bool readValues = ScanRecords(snapshot, DataSnapshot::Values, [&](const char* bytes) {
            const quint32 id = Field<quint32>(bytes, kValueTestId);
            if (id != lastId || lastIdTest == -2) {
                lastId = id;
                lastIdTest = testOf(id);
            }
            if (lastIdTest < 0)
                return;
            const quint8 group = static_cast<quint8>(bytes[kValueTypeNumber]);
            const std::string_view text = ShortBytes(bytes + kValueName);
            const auto [number, added] = names.Get(group, text);
            if (added)
                valueOfName.push_back(data.ValueIndex(group, Decode(text)));
            const PlacedScore score{quint32(lastIdTest), valueOfName[number], Field<qint32>(bytes, kValueScore)};
            if (sorted && score.test < lastTest) {
                sorted = false;
                // What was placed is in test order: the tests' ranges give it back as it came.
                unsorted.reserve(data.Scores.capacity());
                for (quint32 t = 0; t < quint32(data.Tests.size()); ++t) {
                    TvsSummaryTest& test = data.Tests[t];
                    for (quint32 j = 0; j < test.ScoreCount; ++j) {
                        const TvsSummaryScore& placed = data.Scores[test.FirstScore + j];
                        unsorted.push_back({t, placed.Value, placed.Wins});
                    }
                    test.FirstScore = test.ScoreCount = test.Known = 0;
                }
                std::vector<TvsSummaryScore>().swap(data.Scores);
            }
            if (sorted) {
                lastTest = score.test;
                place(score);
            } else {
                unsorted.push_back(score);
            }
        });
        if (!readValues)
            throw Error(UnreadableText(snapshot.FilePath(DataSnapshot::Values)));
    }
    if (!sorted) {
        // Stable, so that a test's records keep their file order.
        std::stable_sort(unsorted.begin(), unsorted.end(),
                         [](const PlacedScore& a, const PlacedScore& b) { return a.test < b.test; });
        lastTestOf.assign(data.Values.size(), 0);
        data.Scores.reserve(unsorted.size());
        for (const PlacedScore& s : unsorted)
            place(s);
        std::vector<PlacedScore>().swap(unsorted);
    }
    data.Scores.shrink_to_fit();

    // The answer logs' names are looked up among the values already met.
    RawTexts answerNames;
    std::vector<quint32> valueOfAnswerName;
    auto valueOf = [&](quint8 group, const char* shortString) {
        const auto [number, added] = answerNames.Get(group, ShortBytes(shortString));
        if (added)
            valueOfAnswerName.push_back(data.ValueIndex(group, Decode(ShortBytes(shortString))));
        return valueOfAnswerName[number];
    };
    struct OwnedPair
    {
        quint32 test;
        TvsComparison pair;
    };
    std::vector<OwnedPair> pairs;
    {
        pairs.reserve(size_t(snapshot.Records(DataSnapshot::Answers)));
        const bool readAnswers = ScanRecords(snapshot, DataSnapshot::Answers, [&](const char* bytes) {
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
        if (!readAnswers)
            throw Error(UnreadableText(snapshot.FilePath(DataSnapshot::Answers)));
    }
    const auto pairByTest = [](const OwnedPair& a, const OwnedPair& b) { return a.test < b.test; };
    if (!std::is_sorted(pairs.begin(), pairs.end(), pairByTest))
        std::sort(pairs.begin(), pairs.end(), pairByTest);
    data.Pairs.reserve(pairs.size());
    for (const OwnedPair& p : pairs) {
        TvsSummaryTest& test = data.Tests[p.test];
        if (test.PairCount == 0)
            test.FirstPair = quint32(data.Pairs.size());
        ++test.PairCount;
        data.Pairs.push_back(p.pair);
    }
    if (!data.Pairs.empty()) {
        // Values met only in a test's answer log are among its values too: a test with a log is
        // counted again over both.
        lastTestOf.assign(data.Values.size(), 0);
        for (quint32 t = 0; t < quint32(data.Tests.size()); ++t) {
            TvsSummaryTest& test = data.Tests[t];
            if (test.PairCount == 0)
                continue;
            test.Known = 0;
            const auto count = [&](quint32 value) {
                if (lastTestOf[value] != t + 1) {
                    lastTestOf[value] = t + 1;
                    ++test.Known;
                }
            };
            for (quint32 i = 0; i < test.ScoreCount; ++i)
                count(data.Scores[test.FirstScore + i].Value);
            for (quint32 i = 0; i < test.PairCount; ++i) {
                count(data.Pairs[test.FirstPair + i].Winner);
                count(data.Pairs[test.FirstPair + i].Loser);
            }
        }
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

struct KnownValue
{
    quint32 value;
    qint64 wins;
    bool logged;
};

bool Decidable(const TvsSummaryTest& test)
{
    return test.N >= 2 && qint64(test.Known) <= test.N;
}

// The values a test names, each once: its scores' wins added up, and whether its log shows it.
class KnownValues
{
public:
    explicit KnownValues(size_t valueCount) : m_seenIn(valueCount, 0), m_slot(valueCount, 0) {}

    std::vector<KnownValue>& Of(const TvsSummaryData& data, const TvsSummaryTest& test)
    {
        if (test.PairCount == 0 && test.Known == test.ScoreCount) {
            // Each value once and no log, as nearly every test: the scores are the values.
            m_known.resize(test.ScoreCount);
            for (quint32 i = 0; i < test.ScoreCount; ++i) {
                const TvsSummaryScore& s = data.Scores[test.FirstScore + i];
                m_known[i] = {s.Value, s.Wins, false};
            }
            return m_known;
        }
        // A value named twice in one test (only in a damaged file) counts once, with its wins added.
        ++m_stamp;
        m_known.clear();
        auto knownOf = [&](quint32 value) -> KnownValue* {
            if (m_seenIn[value] == m_stamp)
                return &m_known[m_slot[value]];
            m_seenIn[value] = m_stamp;
            m_slot[value] = quint32(m_known.size());
            m_known.push_back({value, 0, false});
            return &m_known.back();
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
        return m_known;
    }

private:
    std::vector<KnownValue> m_known;
    std::vector<quint32> m_seenIn, m_slot;
    quint32 m_stamp = 0;
};

void ByWins(std::vector<KnownValue>& known)
{
    std::sort(known.begin(), known.end(), [](const KnownValue& a, const KnownValue& b) { return a.wins > b.wins; });
}

// A test's consistency as the cache keeps it, from its values sorted by wins.
qint8 ConsistencyCode(ConsistencyFunction consistency, const std::vector<KnownValue>& known, qint32 n,
                      std::vector<qint64>& allWins)
{
    allWins.clear();
    for (const KnownValue& k : known)
        allWins.push_back(k.wins);
    allWins.resize(size_t(n), 0);
    const TvsConsistency c = consistency(allWins);
    if (!c.Valid)
        return -1;
    const int bin = ZetaBin(c, TvsConsistencySummary::kBins);
    return qint8(1 + bin + (c.PRandom > 0.05 ? 16 : 0));
}

void CountConsistency(TvsConsistencySummary& summary, qint8 code)
{
    if (code <= 0)
        return;
    ++summary.Bins[size_t((code - 1) % 16)];
    ++summary.Tests;
    summary.LikeRandom += code > 16;
}

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

namespace {

struct ValueSums
{
    qint64 won = 0, chosen = 0, counted = 0, first = 0;
    double share = 0, rank = 0;
};

// What the kept tests add up to.
struct Sums
{
    qint64 tests = 0, withAnswers = 0, undecidable = 0;
    std::array<Running, 4> shares;
    std::array<qint64, 4> led{};
    std::vector<ValueSums> values;
    std::vector<TvsComparison> pairs;
    TvsConsistencySummary consistency;
};

// Where a test's consistency comes from: computed for it alone, taken from a complete cache, or
// computed into the cache for every test, kept by the filter or not.
struct ConsistencySource
{
    ConsistencyFunction function = nullptr;
    const qint8* cached = nullptr;
    qint8* filling = nullptr;
};

// The tests of data that rest and the sorted ids keep, summed into sums.
void SumTests(const TvsSummaryData& data, const TvsSummaryFilter& rest, const std::vector<quint32>& ids,
              const ConsistencySource& consistency, Sums& sums)
{
    sums.values.assign(data.Values.size(), {});
    KnownValues values(data.Values.size());
    std::vector<qint64> allWins;
    for (size_t t = 0; t < data.Tests.size(); ++t) {
        const TvsSummaryTest& test = data.Tests[t];
        const bool kept =
            Matches(data, test, rest) && (ids.empty() || std::binary_search(ids.begin(), ids.end(), test.Id));
        if (!kept) {
            if (consistency.filling) {
                // The order of the values does not matter to the count of circular triads.
                consistency.filling[t] =
                    Decidable(test) ? ConsistencyCode(consistency.function, values.Of(data, test), test.N, allWins)
                                    : qint8(-1);
            }
            continue;
        }
        ++sums.tests;
        if (test.PairCount > 0)
            ++sums.withAnswers;
        sums.pairs.insert(sums.pairs.end(), data.Pairs.begin() + test.FirstPair,
                          data.Pairs.begin() + test.FirstPair + test.PairCount);
        const qint32 n = test.N;
        if (!Decidable(test)) {
            ++sums.undecidable;
            if (consistency.filling)
                consistency.filling[t] = -1;
            continue;
        }
        std::vector<KnownValue>& known = values.Of(data, test);

        const double pairCount = PairCountOf(n);
        qint32 maxPoints = 0;
        for (int g = 0; g < 4; ++g) {
            sums.shares[size_t(g)].Add(test.Points[size_t(g)] / pairCount);
            maxPoints = std::max(maxPoints, test.Points[size_t(g)]);
        }
        for (int g = 0; g < 4; ++g) {
            if (maxPoints > 0 && test.Points[size_t(g)] == maxPoints)
                ++sums.led[size_t(g)];
        }

        // Values that won nothing are not stored; without an answer log they are only a count, and
        // they share the last places.
        const qint64 hidden = n - qint64(known.size());
        ByWins(known);
        const qint64 maxWins = known.empty() ? 0 : known.front().wins;
        for (size_t start = 0; start < known.size();) {
            size_t stop = start;
            while (stop < known.size() && known[stop].wins == known[start].wins)
                ++stop;
            // Places start + 1 .. stop, and the unnamed values shared the last ones with any known zero.
            const qint64 equal = qint64(stop - start) + (known[start].wins == 0 ? hidden : 0);
            const double rank = double(start) + double(equal + 1) / 2.0;
            for (size_t i = start; i < stop; ++i) {
                const KnownValue& k = known[i];
                ValueSums& v = sums.values[k.value];
                ++v.counted;
                v.won += k.wins > 0;
                v.chosen += k.logged;
                v.first += maxWins > 0 && k.wins == maxWins;
                v.share += double(k.wins) / double(n - 1);
                v.rank += rank;
            }
            start = stop;
        }

        if (consistency.function) {
            qint8 code;
            if (consistency.cached)
                code = consistency.cached[t];
            else {
                code = ConsistencyCode(consistency.function, known, n, allWins);
                if (consistency.filling)
                    consistency.filling[t] = code;
            }
            CountConsistency(sums.consistency, code);
        }
    }
}

} // namespace

TvsSummary Summarize(const TvsSummaryData& data, const TvsSummaryFilter& filter, const TvsSummaryOptions& options,
                     TvsConsistencyCache* cache)
{
    if (cache && (cache->m_function != options.Consistency || cache->m_codes.size() != data.Tests.size())) {
        cache->m_function = options.Consistency;
        cache->m_codes.assign(data.Tests.size(), 0);
        cache->m_complete = false;
    }
    // The first summary with a cache computes every test's consistency, kept by the filter or
    // not, as the summaries after it will want them all anyway.
    ConsistencySource consistency;
    consistency.function = options.Consistency;
    if (options.Consistency && cache) {
        if (cache->m_complete)
            consistency.cached = cache->m_codes.data();
        else
            consistency.filling = cache->m_codes.data();
    }

    // A selection of thousands of rows is looked up for every test: sorted once, searched by halves.
    std::vector<quint32> ids = filter.Ids;
    std::sort(ids.begin(), ids.end());
    TvsSummaryFilter rest = filter;
    rest.Ids.clear();

    Sums total;
    SumTests(data, rest, ids, consistency, total);
    if (consistency.filling)
        cache->m_complete = true;

    TvsSummary summary;
    summary.Tests = total.tests;
    summary.WithAnswers = total.withAnswers;
    summary.Undecidable = total.undecidable;
    summary.Consistency = total.consistency;
    const std::array<Running, 4>& shares = total.shares;
    const std::array<qint64, 4>& led = total.led;
    const std::vector<ValueSums>& values = total.values;
    const std::vector<TvsComparison>& pairs = total.pairs;
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
    for (quint32 i = 0; i < quint32(values.size()); ++i) {
        const ValueSums& v = values[i];
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
