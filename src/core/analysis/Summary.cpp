#include "core/analysis/Summary.h"

#include "core/platform/Codec.h"
#include "core/platform/Errors.h"
#include "core/storage/Journal.h"
#include "core/storage/RecordFile.h"
#include "core/storage/RecordLayout.h"
#include "core/storage/uvsDataBase.h"

#include <QDir>
#include <QFileInfo>
#include <QtEndian>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <exception>
#include <mutex>
#include <string>
#include <string_view>
#include <system_error>
#include <thread>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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

// Reads from offset until size bytes have arrived or the file ends; -1 when a read fails.
qint64 ReadBlock(int fd, char* into, size_t size, off_t offset)
{
    size_t filled = 0;
    while (filled < size) {
        const ssize_t n = ::pread(fd, into + filled, size - filled, offset + off_t(filled));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return -1;
        if (n == 0)
            break;
        filled += size_t(n);
    }
    return qint64(filled);
}

// Calls each(record) for every whole record of fd from record first on, a quarter of a megabyte at
// a time: nothing of the file stays in memory, and a block is still in the processor's cache when it
// is scanned. end < 0 reads to the end of the file. False when a read
// fails: a summary quietly missing the end of a file would look like a smaller sample.
template <typename Each> bool ScanRecords(int fd, size_t recordSize, qint64 first, qint64 end, Each&& each)
{
    const size_t capacity = (size_t(256) << 10) / recordSize * recordSize;
    std::vector<char> block(capacity);
    off_t offset = off_t(first) * off_t(recordSize);
    const off_t stop = end < 0 ? -1 : off_t(end) * off_t(recordSize);
    for (;;) {
        const size_t wanted = stop < 0 ? capacity : std::min<size_t>(capacity, size_t(stop - offset));
        if (wanted == 0)
            return true;
        const qint64 filled = ReadBlock(fd, block.data(), wanted, offset);
        if (filled < 0)
            return false;
        const size_t whole = size_t(filled) / recordSize;
        for (size_t i = 0; i < whole; ++i)
            each(block.data() + i * recordSize);
        if (size_t(filled) < wanted)
            return true;
        offset += off_t(filled);
    }
}

class FileHandle
{
public:
    explicit FileHandle(int fd) : m_fd(fd) {}
    ~FileHandle()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;
    int get() const { return m_fd; }

private:
    int m_fd;
};

std::string_view ShortBytes(const char* at)
{
    return std::string_view(at + 1, std::min<size_t>(static_cast<quint8>(*at), kShortStringChars));
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
    const qint64 n = ValuesOfComparisons(points);
    return n > std::numeric_limits<qint32>::max() ? 0 : qint32(n);
}

namespace {

// One stored value as a reader thread met it, before the tests are known: its test's number as
// stored and its name's number in that thread's own table. Resolved in place into a ScoreOf.
struct RawScore
{
    quint32 test; // the stored test number; once resolved, the index into Tests
    quint32 value;
    qint32 wins;
};

struct NewName
{
    quint8 group;
    std::string text;
};

struct ValueChunk
{
    enum State
    {
        Waiting,
        Reading,
        Read,
        Failed
    };
    std::atomic<int> state{Waiting};
    int reader = 0;
    std::vector<RawScore> scores;
    // The names its reader met first in this chunk, in the order that reader numbered them: whoever
    // puts the chunks together learns them from here, never from the reader's own table.
    std::vector<NewName> names;
};

// Reads the value records of chunk (records first .. end, end < 0: to the end of the file).
bool ReadValueChunk(int fd, qint64 first, qint64 end, RawTexts& names, ValueChunk& chunk)
{
    chunk.scores.reserve(size_t(end < 0 ? 1024 : end - first));
    return ScanRecords(fd, TvsDBValueRec::kSize, first, end, [&](const char* bytes) {
        const quint8 group = static_cast<quint8>(bytes[kValueTypeNumber]);
        const std::string_view text = ShortBytes(bytes + kValueName);
        const auto [name, added] = names.Get(group, text);
        if (added)
            chunk.names.push_back({group, std::string(text)});
        chunk.scores.push_back({Field<quint32>(bytes, kValueTestId), name, Field<qint32>(bytes, kValueScore)});
    });
}

// Joins a helper thread however the reading ends, so that no exception leaves it running.
struct Joiner
{
    std::thread thread;
    ~Joiner()
    {
        if (thread.joinable())
            thread.join();
    }
};

} // namespace

TvsSummaryData ReadSummaryData(const QString& dataDir, const TvsSummaryReading& reading)
{
    TvsSummaryData data;
    const QDir dir(dataDir);
    // A save cut short by a crash is undone before anything of it is counted.
    if (dir.exists())
        RecoverDataDir(dataDir);
    const QString testsFile = dir.filePath(QStringLiteral("tests.dat"));
    const QString valuesFile = dir.filePath(QStringLiteral("values.dat"));
    const QString answersFile = dir.filePath(QStringLiteral("answers.dat"));

    // Locked in the order every writer takes them.
    const FileHandle tests(OpenLocked(testsFile, O_RDONLY, kLockWaitMs));
    if (tests.get() < 0) {
        if (!QFileInfo::exists(testsFile))
            return data;
        throw Error(UnreadableText(testsFile));
    }
    const FileHandle values(OpenLocked(valuesFile, O_RDONLY, kLockWaitMs));
    if (values.get() < 0 && QFileInfo::exists(valuesFile))
        throw Error(UnreadableText(valuesFile));

    // values.dat is cut into chunks that the two threads take as they are free: the helper starts on
    // them at once, this thread reads tests.dat first and then joins in. Each thread interns names
    // in its own table. Once the tests are known, the chunks are put together in file order by
    // whichever thread finds the next one read, between the chunks it reads itself, so little of it
    // is left for after the reading.
    const qint64 chunkRecords = std::max<qint64>(1, reading.ChunkRecords);
    qint64 valueRecords = 0;
    struct stat st
    {
    };
    if (values.get() >= 0 && ::fstat(values.get(), &st) == 0)
        valueRecords = qint64(st.st_size) / TvsDBValueRec::kSize;
    std::vector<ValueChunk> chunks(values.get() < 0 ? 0 : size_t(valueRecords / chunkRecords + 1));
    std::array<RawTexts, 2> names;
    std::atomic<size_t> nextChunk{0};
    std::atomic<bool> testsRead{false};

    QHash<quint32, quint32> byId; // the first test of a number wins, as in the history window
    std::vector<bool> firstOfId;
    auto testOf = [&](quint32 id) -> qint64 {
        if (id >= 1 && id <= data.Tests.size() && data.Tests[id - 1].Id == id && firstOfId[id - 1])
            return qint64(id - 1);
        const auto found = byId.constFind(id);
        return found == byId.constEnd() ? -1 : qint64(*found);
    };

    // Putting together, under one lock: each record's test found, each name given its number among
    // all values as it is first met in a record that counts, the records of unknown tests dropped.
    // One save writes a test's records together, so they are nearly always in test order already
    // and go straight to their place, each chunk freed when done; the first record out of order
    // stops this, and the rest goes through a sort after the reading.
    std::mutex joining;
    size_t placedChunks = 0; // chunks before this one are in place
    size_t stoppedAt = 0;    // the record of chunk placedChunks that came out of order
    bool sorted = true;
    quint32 lastTest = 0;
    std::array<std::vector<NewName>, 2> namesOf;     // a thread's names, by its numbers
    std::array<std::vector<quint32>, 2> valueOfName; // a thread's name number -> value index + 1
    std::vector<quint32> lastTestOf;                 // a value's last test index + 1: is it new to this one?
    const auto learnNames = [&](ValueChunk& chunk) {
        for (NewName& name : chunk.names)
            namesOf[size_t(chunk.reader)].push_back(std::move(name));
        std::vector<NewName>().swap(chunk.names);
        valueOfName[size_t(chunk.reader)].resize(namesOf[size_t(chunk.reader)].size(), 0);
    };
    // A test's records come one after another: its number is looked up once for all of them.
    quint32 lastId = 0;
    qint64 lastIdTest = -2; // not looked up yet
    // A reader's number for a name -> the name's index among all values, given as first met.
    const auto valueOfRaw = [&](int reader, quint32 number) {
        quint32& value = valueOfName[size_t(reader)][number];
        if (value == 0) {
            const NewName& name = namesOf[size_t(reader)][number];
            value = data.ValueIndex(name.group, Decode(name.text)) + 1;
        }
        return value - 1;
    };
    const auto resolve = [&](const ValueChunk& chunk, const RawScore& s, RawScore& into) {
        if (s.test != lastId || lastIdTest == -2) {
            lastId = s.test;
            lastIdTest = testOf(s.test);
        }
        const qint64 test = lastIdTest;
        if (test < 0)
            return false;
        into = {quint32(test), valueOfRaw(chunk.reader, s.value), s.wins};
        return true;
    };
    // Puts records first .. last, one test's (test t) and in their order, after what is in place:
    // their scores, and how many different values they name. valueOf gives a record's value index.
    const auto placeRun = [&](quint32 t, const RawScore* first, const RawScore* last, auto valueOf) {
        TvsSummaryTest& test = data.Tests[t];
        if (test.ScoreCount == 0)
            test.FirstScore = quint32(data.Scores.size());
        test.ScoreCount += quint32(last - first);
        for (const RawScore* at = first; at < last; ++at) {
            const quint32 value = valueOf(*at);
            data.Scores.push_back({value, at->wins});
            if (value >= lastTestOf.size())
                lastTestOf.resize(data.Values.size(), 0);
            if (lastTestOf[value] != t + 1) {
                lastTestOf[value] = t + 1;
                ++test.Known;
            }
        }
    };
    // Where the run of one test's records that starts at first ends.
    const auto runEnd = [](const RawScore* first, const RawScore* last) {
        const RawScore* end = first + 1;
        while (end < last && end->test == first->test)
            ++end;
        return end;
    };
    // Places the chunks that are read, in order; wait: whether to wait for the lock.
    const auto placeReadChunks = [&](bool wait) {
        if (!testsRead.load(std::memory_order_acquire))
            return;
        std::unique_lock lock(joining, std::defer_lock);
        if (wait)
            lock.lock();
        else if (!lock.try_lock())
            return;
        while (sorted && placedChunks < chunks.size()) {
            ValueChunk& chunk = chunks[placedChunks];
            if (chunk.state.load(std::memory_order_acquire) != ValueChunk::Read)
                return;
            learnNames(chunk);
            // A run of one test's records at a time: its test is looked up and checked once.
            const RawScore* const first = chunk.scores.data();
            const RawScore* const last = first + chunk.scores.size();
            for (const RawScore* at = first; at < last;) {
                const RawScore* const end = runEnd(at, last);
                if (at->test != lastId || lastIdTest == -2) {
                    lastId = at->test;
                    lastIdTest = testOf(at->test);
                }
                if (lastIdTest >= 0) {
                    const quint32 t = quint32(lastIdTest);
                    if (t < lastTest) {
                        sorted = false;
                        stoppedAt = size_t(at - first);
                        return;
                    }
                    lastTest = t;
                    placeRun(t, at, end, [&](const RawScore& s) { return valueOfRaw(chunk.reader, s.value); });
                }
                at = end;
            }
            std::vector<RawScore>().swap(chunk.scores);
            ++placedChunks;
        }
    };
    auto readChunks = [&](int reader, bool leftOver) {
        const auto next = [&](size_t done) -> size_t {
            if (leftOver) {
                size_t c = done == SIZE_MAX ? 0 : done + 1;
                while (c < chunks.size() && chunks[c].state.load() != ValueChunk::Waiting)
                    ++c;
                return c;
            }
            return reading.InTurn ? (done == SIZE_MAX ? size_t(1 - reader) : done + 2) : nextChunk.fetch_add(1);
        };
        for (size_t c = next(SIZE_MAX); c < chunks.size(); c = next(c)) {
            placeReadChunks(false);
            // The last chunk reads on to the end, should the file have grown since its size was taken.
            const qint64 first = qint64(c) * chunkRecords;
            const qint64 end = c + 1 == chunks.size() ? -1 : first + chunkRecords;
            ValueChunk& chunk = chunks[c];
            chunk.state.store(ValueChunk::Reading);
            chunk.reader = reader;
            const bool read = ReadValueChunk(values.get(), first, end, names[size_t(reader)], chunk);
            chunk.state.store(read ? ValueChunk::Read : ValueChunk::Failed, std::memory_order_release);
        }
        placeReadChunks(false);
    };
    data.Scores.reserve(size_t(valueRecords));
    std::exception_ptr helperFailure;
    Joiner helper;
    if (reading.Threads > 1 && !chunks.empty()) {
        try {
            helper.thread = std::thread([&] {
                try {
                    readChunks(1, false);
                } catch (...) {
                    helperFailure = std::current_exception();
                }
            });
        } catch (const std::system_error&) {
            // Without a second thread this one reads everything.
        }
    }

    std::array<RawTexts, kQuestionCount> answerTexts;
    std::array<std::vector<quint16>, kQuestionCount> answerIndex;
    const qint64 expectedTests = std::max<qint64>(0, QFileInfo(testsFile).size()) / TvsDBTestRec::kSize;
    data.Tests.reserve(size_t(expectedTests));
    firstOfId.reserve(size_t(expectedTests));
    const bool readTests = ScanRecords(tests.get(), TvsDBTestRec::kSize, 0, -1, [&](const char* bytes) {
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
        throw Error(UnreadableText(testsFile));
    testsRead.store(true, std::memory_order_release);
    readChunks(0, false);
    if (helper.thread.joinable())
        helper.thread.join();
    if (helperFailure)
        std::rethrow_exception(helperFailure);
    // Chunks left for a helper that could not be started, read in its place and in its order.
    readChunks(1, true);
    placeReadChunks(true);
    for (const ValueChunk& chunk : chunks) {
        if (chunk.state.load() == ValueChunk::Failed)
            throw Error(UnreadableText(valuesFile));
    }

    if (!sorted) {
        std::vector<RawScore> all;
        all.reserve(size_t(valueRecords));
        // What was placed is in test order: the tests' ranges give it back as it came.
        for (quint32 t = 0; t < quint32(data.Tests.size()); ++t) {
            TvsSummaryTest& test = data.Tests[t];
            for (quint32 j = 0; j < test.ScoreCount; ++j) {
                const TvsSummaryScore& score = data.Scores[test.FirstScore + j];
                all.push_back({t, score.Value, score.Wins});
            }
            test.FirstScore = test.ScoreCount = test.Known = 0;
        }
        std::vector<TvsSummaryScore>().swap(data.Scores);
        for (size_t k = placedChunks, i = stoppedAt; k < chunks.size(); ++k, i = 0) {
            ValueChunk& chunk = chunks[k];
            if (k > placedChunks)
                learnNames(chunk);
            for (; i < chunk.scores.size(); ++i) {
                RawScore resolved;
                if (resolve(chunk, chunk.scores[i], resolved))
                    all.push_back(resolved);
            }
            std::vector<RawScore>().swap(chunk.scores);
        }
        std::sort(all.begin(), all.end(), [](const RawScore& a, const RawScore& b) { return a.test < b.test; });
        lastTestOf.assign(data.Values.size(), 0);
        data.Scores.reserve(all.size());
        for (const RawScore* at = all.data(); at < all.data() + all.size();) {
            const RawScore* const end = runEnd(at, all.data() + all.size());
            placeRun(at->test, at, end, [](const RawScore& s) { return s.value; });
            at = end;
        }
    }
    data.Scores.shrink_to_fit();

    // Answer logs are small beside the values; they are read on this thread alone, their names
    // looked up among the values already met.
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
    const FileHandle answers(OpenLocked(answersFile, O_RDONLY, kLockWaitMs));
    if (answers.get() < 0 && QFileInfo::exists(answersFile))
        throw Error(UnreadableText(answersFile));
    if (answers.get() >= 0) {
        if (::fstat(answers.get(), &st) == 0)
            pairs.reserve(size_t(st.st_size / TvsDBAnswerRec::kSize));
        const bool readAnswers = ScanRecords(answers.get(), TvsDBAnswerRec::kSize, 0, -1, [&](const char* bytes) {
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
            throw Error(UnreadableText(answersFile));
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

// What one run of consecutive tests adds to a summary. Each thread updates its own for every test,
// so they never share a cache line.
struct alignas(64) PartSums
{
    qint64 tests = 0, withAnswers = 0, undecidable = 0;
    std::array<Running, 4> shares;
    std::array<qint64, 4> led{};
    std::vector<ValueSums> values;
    std::vector<TvsComparison> pairs;
    TvsConsistencySummary consistency;
};

// Chan, Golub and LeVeque's update: the mean and squared deviations of two samples taken together.
void MergeInto(Running& into, const Running& other)
{
    const qint64 n = into.n + other.n;
    if (other.n == 0)
        return;
    const double delta = other.mean - into.mean;
    into.mean += delta * double(other.n) / double(n);
    into.m2 += other.m2 + delta * delta * double(into.n) * double(other.n) / double(n);
    into.n = n;
}

void MergeInto(PartSums& into, const PartSums& other)
{
    into.tests += other.tests;
    into.withAnswers += other.withAnswers;
    into.undecidable += other.undecidable;
    for (size_t g = 0; g < 4; ++g) {
        MergeInto(into.shares[g], other.shares[g]);
        into.led[g] += other.led[g];
    }
    for (size_t v = 0; v < into.values.size(); ++v) {
        ValueSums& a = into.values[v];
        const ValueSums& b = other.values[v];
        a.won += b.won;
        a.chosen += b.chosen;
        a.counted += b.counted;
        a.first += b.first;
        a.share += b.share;
        a.rank += b.rank;
    }
    into.pairs.insert(into.pairs.end(), other.pairs.begin(), other.pairs.end());
    for (size_t b = 0; b < into.consistency.Bins.size(); ++b)
        into.consistency.Bins[b] += other.consistency.Bins[b];
    into.consistency.Tests += other.consistency.Tests;
    into.consistency.LikeRandom += other.consistency.LikeRandom;
}

// Where a test's consistency comes from: computed for it alone, taken from a complete cache, or
// computed into the cache for every test of the part, kept by the filter or not.
struct ConsistencySource
{
    ConsistencyFunction function = nullptr;
    const qint8* cached = nullptr;
    qint8* filling = nullptr;
};

// Tests begin .. end of data: the ones rest and the sorted ids keep, summed into part.
void SummarizePart(const TvsSummaryData& data, size_t begin, size_t end, const TvsSummaryFilter& rest,
                   const std::vector<quint32>& ids, const ConsistencySource& consistency, PartSums& part)
{
    part.values.assign(data.Values.size(), {});
    KnownValues values(data.Values.size());
    std::vector<qint64> allWins;
    for (size_t t = begin; t < end; ++t) {
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
        ++part.tests;
        if (test.PairCount > 0)
            ++part.withAnswers;
        part.pairs.insert(part.pairs.end(), data.Pairs.begin() + test.FirstPair,
                          data.Pairs.begin() + test.FirstPair + test.PairCount);
        const qint32 n = test.N;
        if (!Decidable(test)) {
            ++part.undecidable;
            if (consistency.filling)
                consistency.filling[t] = -1;
            continue;
        }
        std::vector<KnownValue>& known = values.Of(data, test);

        const double pairCount = PairCountOf(n);
        qint32 maxPoints = 0;
        for (int g = 0; g < 4; ++g) {
            part.shares[size_t(g)].Add(test.Points[size_t(g)] / pairCount);
            maxPoints = std::max(maxPoints, test.Points[size_t(g)]);
        }
        for (int g = 0; g < 4; ++g) {
            if (maxPoints > 0 && test.Points[size_t(g)] == maxPoints)
                ++part.led[size_t(g)];
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
                ValueSums& v = part.values[k.value];
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
            CountConsistency(part.consistency, code);
        }
    }
}

// Below this many tests a second thread costs more than it saves.
constexpr size_t kTestsWorthASecondThread = 4096;

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

    // The tests are cut into consecutive runs, one per thread, summed apart and put together in
    // order; the answers of the kept tests stay in test order for the scale.
    const size_t parts = options.Threads > 1 && data.Tests.size() >= kTestsWorthASecondThread ? 2 : 1;
    std::array<PartSums, 2> sums;
    const auto run = [&](size_t p) {
        const size_t begin = data.Tests.size() * p / parts;
        const size_t end = data.Tests.size() * (p + 1) / parts;
        SummarizePart(data, begin, end, rest, ids, consistency, sums[p]);
    };
    std::exception_ptr helperFailure;
    {
        Joiner helper;
        if (parts == 2) {
            try {
                helper.thread = std::thread([&] {
                    try {
                        run(1);
                    } catch (...) {
                        helperFailure = std::current_exception();
                    }
                });
            } catch (const std::system_error&) {
                run(1); // without a second thread this one does both runs, the same way
            }
        }
        run(0);
    }
    if (helperFailure)
        std::rethrow_exception(helperFailure);
    if (parts == 2)
        MergeInto(sums[0], sums[1]);
    if (consistency.filling)
        cache->m_complete = true;
    const PartSums& total = sums[0];

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
