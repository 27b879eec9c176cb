#pragma once

#include "core/catalogue/uVSLists.h"

#include <QByteArrayView>
#include <QDateTime>
#include <QString>
#include <QtEndian>

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

namespace kv {

// One record of tests.dat, held as the 681 bytes it has on disk. Every field sits at a fixed,
// unaligned offset and is read and written byte by byte, so files stay interchangeable with any
// other program that writes the same layout, whatever this compiler would do with a struct.
class TvsDBTestRec
{
public:
    static constexpr int kSize = 681;
    std::array<char, kSize> bytes{};

    quint32 Id() const;
    void SetId(quint32 id);
    // Short strings: a length byte and 80 bytes of Windows-1251 text. Setters keep the first 80
    // characters; getters take min(length byte, 80) of them.
    QString Fio() const;
    void SetFio(const QString& text);
    // Days since 1899-12-30 00:00 local time, the fraction being the time of day.
    double Date() const;
    void SetDate(double date);
    qint32 Age() const;
    void SetAge(qint32 age);
    quint8 Sex() const;
    void SetSex(quint8 sex);
    QString Social() const;
    void SetSocial(const QString& text);
    QString Children() const;
    void SetChildren(const QString& text);
    QString PlaceOfLiving() const;
    void SetPlaceOfLiving(const QString& text);
    QString Education() const;
    void SetEducation(const QString& text);
    QString SocialStatus() const;
    void SetSocialStatus(const QString& text);
    QString Bussines() const;
    void SetBussines(const QString& text);
    QString MaterialLevel() const;
    void SetMaterialLevel(const QString& text);
    // number is the group number 1 .. 4; anything else raises ListIndexError.
    qint32 TypeScore(int number) const;
    void SetTypeScore(int number, qint32 score);
    // The Windows-1251 bytes of a short string as stored (at most 80), for bulk readers that convert
    // text themselves.
    enum class Text
    {
        Fio,
        Social,
        Children,
        PlaceOfLiving,
        Education,
        SocialStatus,
        Bussines,
        MaterialLevel
    };
    QByteArrayView TextBytes(Text field) const;
    // How many short strings claim more than 80 characters: only damage or another writer does that.
    int OverlongStrings() const;
};

// One record of values.dat, 94 bytes, held the same way.
class TvsDBValueRec
{
public:
    static constexpr int kSize = 94;
    // Where the fields that whole-file passes read for every record sit: their getters are inline,
    // since a call each would cost more than the load over a million and a half records.
    static constexpr int kTestIdOffset = 4;
    static constexpr int kTypeNumberOffset = 8;
    static constexpr int kScoreOffset = 9;
    std::array<char, kSize> bytes{};

    qint32 Id() const;
    void SetId(qint32 id);
    qint32 TestId() const { return qFromLittleEndian<qint32>(bytes.data() + kTestIdOffset); }
    void SetTestId(qint32 id);
    quint8 TypeNumber() const { return static_cast<quint8>(bytes[kTypeNumberOffset]); }
    void SetTypeNumber(quint8 number);
    qint32 Score() const { return qFromLittleEndian<qint32>(bytes.data() + kScoreOffset); }
    void SetScore(qint32 score);
    QString Name() const;
    void SetName(const QString& text);
    QByteArrayView NameBytes() const;
    int OverlongStrings() const;
};

// One record of answers.dat, 181 bytes, held the same way: one answered question of a saved test.
class TvsDBAnswerRec
{
public:
    static constexpr int kSize = 181;
    // The Chosen byte; any other value is damage that the reader keeps for a checker to report.
    static constexpr quint8 kChoseUpper = 1;
    static constexpr quint8 kChoseLower = 2;
    std::array<char, kSize> bytes{};

    quint32 Id() const;
    void SetId(quint32 id);
    quint32 TestId() const;
    void SetTestId(quint32 id);
    // 1 .. N in the order the questions were asked.
    quint32 Question() const;
    void SetQuestion(quint32 question);
    quint8 UpperGroup() const;
    void SetUpperGroup(quint8 number);
    QString Upper() const;
    void SetUpper(const QString& text);
    quint8 LowerGroup() const;
    void SetLowerGroup(quint8 number);
    QString Lower() const;
    void SetLower(const QString& text);
    quint8 Chosen() const;
    void SetChosen(quint8 chosen);
    quint32 ResponseMs() const;
    void SetResponseMs(quint32 ms);

    // False for a choice byte other than 1 or 2.
    bool ChoiceKnown() const;
    // False when a name's length byte claims more than the 80 bytes there is room for; the getters
    // then give the 80 that are there.
    bool NamesFit() const;
    // The Windows-1251 bytes of the two names as stored (at most 80 each), for bulk readers.
    QByteArrayView UpperBytes() const;
    QByteArrayView LowerBytes() const;
    int OverlongStrings() const;
};

static_assert(sizeof(TvsDBTestRec) == TvsDBTestRec::kSize, "a test record must be its bytes alone");
static_assert(sizeof(TvsDBValueRec) == TvsDBValueRec::kSize, "a value record must be its bytes alone");
static_assert(sizeof(TvsDBAnswerRec) == TvsDBAnswerRec::kSize, "an answer record must be its bytes alone");

// The database lists hold what the readers copy out of a file in a few large blocks rather than a
// heap block per record: a whole tests.dat is 100,000 records, and allocating and first touching
// them one by one costs many times the read itself. Each record is still a private copy the list
// owns. Delete and Clear forget a record; its room goes back with its block when the list is
// destroyed. Records appended with Append keep their own heap block, as in any TvsList.
template <typename Rec> class TvsDBList : public TvsList<Rec>
{
public:
    TvsDBList() = default;
    ~TvsDBList() override
    {
        // The slots point into the blocks, so they go first.
        this->Clear();
        for (const Block& block : m_blocks)
            ::operator delete(block.first);
    }

    // Room for count records in one piece, for a reader to fill straight from the file; nothing is
    // in the list until Keep takes the first records of it.
    char* Room(size_t count)
    {
        NewBlock(count);
        return reinterpret_cast<char*>(m_blocks.back().first);
    }
    // Appends the next count records of the last Room.
    void Keep(size_t count)
    {
        Block& block = m_blocks.back();
        count = std::min(count, block.capacity - block.used);
        this->ReserveMore(static_cast<int>(count));
        for (size_t i = 0; i < count; ++i)
            this->AppendHeld(block.first + block.used++);
    }

    // Appends a copy of rec.
    int AppendCopy(const Rec& rec)
    {
        if (m_blocks.empty() || m_blocks.back().used == m_blocks.back().capacity) {
            // Filtered reads keep a few records, whole reads many: start small and double.
            const size_t last = m_blocks.empty() ? 0 : m_blocks.back().capacity;
            NewBlock(std::clamp<size_t>(last * 2, 16, 65536));
        }
        Block& block = m_blocks.back();
        Rec* slot = block.first + block.used;
        std::memcpy(static_cast<void*>(slot), &rec, sizeof(Rec));
        ++block.used;
        return this->AppendHeld(slot);
    }

private:
    struct Block
    {
        Rec* first;
        size_t capacity;
        size_t used;
    };

    void NewBlock(size_t count)
    {
        if (count > size_t(-1) / sizeof(Rec))
            throw std::bad_alloc();
        m_blocks.reserve(m_blocks.size() + 1);
        // Left uninitialised: every byte is written by the file or by AppendCopy before it is read.
        m_blocks.push_back(Block{static_cast<Rec*>(::operator new(count * sizeof(Rec))), count, 0});
    }

    std::vector<Block> m_blocks;
};

class TvsDBTestList final : public TvsDBList<TvsDBTestRec>
{
};
class TvsDBValueList final : public TvsDBList<TvsDBValueRec>
{
};
class TvsDBAnswerList final : public TvsDBList<TvsDBAnswerRec>
{
};

using TestFilter = bool (*)(const TvsDBTestRec&);
using ValueFilter = bool (*)(const TvsDBValueRec&);
using AnswerFilter = bool (*)(const TvsDBAnswerRec&);

// How long a read or an append waits for a file that another instance holds locked.
constexpr int kLockWaitMs = 2000;

// Whole file, or only the records the filter keeps, in file order. nullptr when the file is missing,
// cannot be opened, stays locked by another process past the wait, or the filter raised. A read error
// ends the read quietly with the records read so far; trailing bytes short of a record are ignored.
std::unique_ptr<TvsDBTestList> ReadTests(const QString& fileName, TestFilter filter = nullptr);
std::unique_ptr<TvsDBValueList> ReadValues(const QString& fileName, ValueFilter filter = nullptr);
// A test saved before answers.dat existed has no answers: a missing file reads as nullptr like the
// others, and callers treat it as an empty log.
std::unique_ptr<TvsDBAnswerList> ReadAnswers(const QString& fileName, AnswerFilter filter = nullptr);

// True when dataDir is a directory or has just been created (owner-only, it holds personal data).
bool CheckDataDir(const QString& dataDir);

// Numbers rec (Id := the last whole record's Id + 1, or 1) and appends it to fileName on its own,
// durably: the file is locked for the call, flushed to disk before returning, and cut back to what it
// was when anything fails; then kv::Error is raised with the reason in Russian. A killed save's
// remnant in the folder is undone first (RecoverDataDir). A save of a whole test uses TvsDBSave
// instead so that its records stay together.
void AppendTestRec(const QString& fileName, TvsDBTestRec& rec);
void AppendValueRec(const QString& fileName, TvsDBValueRec& rec);

// The number of the test whose records IsWantedTest / IsWantedValue / IsWantedAnswer keep; filters get the record
// alone, so the number reaches them through this. Test numbers are unsigned 32-bit fields; a value
// record's signed TestId names the same test by the same four bytes.
extern thread_local quint32 WantedTestId;
bool IsWantedTest(const TvsDBTestRec& rec);
bool IsWantedValue(const TvsDBValueRec& rec);
bool IsWantedAnswer(const TvsDBAnswerRec& rec);

// "Мужской" for 1, "Женский" for 2, "" for every other code.
QString SexText(quint8 sex);

double DateTimeToRecordDate(const QDateTime& local);
// An invalid QDateTime for a value no calendar date matches (NaN, infinities, far out of range).
QDateTime RecordDateToDateTime(double date);

} // namespace kv
