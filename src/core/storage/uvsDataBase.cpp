#include "core/storage/uvsDataBase.h"

#include "core/platform/Codec.h"
#include "core/platform/Errors.h"
#include "core/session/Questionnaire.h"
#include "core/storage/DurableIo.h"
#include "core/storage/Journal.h"
#include "core/storage/RecordFile.h"
#include "core/storage/RecordLayout.h"

#include <QFile>
#include <QFileInfo>
#include <QtEndian>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <system_error>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kv {

using namespace layout;

namespace {

template <typename T, size_t N> T Get(const std::array<char, N>& bytes, int offset)
{
    return qFromLittleEndian<T>(bytes.data() + offset);
}

template <typename T, size_t N> void Put(std::array<char, N>& bytes, int offset, T value)
{
    qToLittleEndian<T>(value, bytes.data() + offset);
}

template <size_t N> QString GetShort(const std::array<char, N>& bytes, int offset)
{
    const int length = std::min<int>(static_cast<quint8>(bytes[size_t(offset)]), kShortStringChars);
    return FromCp1251(QByteArrayView(bytes.data() + offset + 1, length));
}

template <size_t N> void PutShort(std::array<char, N>& bytes, int offset, const QString& text)
{
    // Windows-1251 is one byte per character, so the first 80 bytes are the first 80 characters.
    const QByteArray encoded = ToCp1251(text).left(kShortStringChars);
    // Zeroing the unused bytes keeps a shorter name from carrying a remnant of the previous one.
    std::memset(bytes.data() + offset, 0, kShortStringSize);
    bytes[size_t(offset)] = static_cast<char>(encoded.size());
    std::memcpy(bytes.data() + offset + 1, encoded.constData(), size_t(encoded.size()));
}

int TypeScoreOffset(int number)
{
    if (number < 1 || number > 4)
        throw ListIndexError(number);
    return kTestTypeScore1 + (number - 1) * 4;
}

// Reads from offset until size bytes have arrived, the file ends or a read fails; returns what
// arrived.
size_t ReadUpTo(int fd, char* into, size_t size, off_t offset)
{
    size_t filled = 0;
    while (filled < size) {
        const ssize_t n = ::pread(fd, into + filled, size - filled, offset + off_t(filled));
        if (n < 0 && errno == EINTR)
            continue;
        // End of file, or a read error, which ends the read as a short read would.
        if (n <= 0)
            break;
        filled += size_t(n);
    }
    return filled;
}

// The same, with a large read split between two threads: most of its time goes into the kernel
// clearing fresh pages and copying into them, which a second core halves.
size_t ReadUpToInParallel(int fd, char* into, size_t size, off_t offset)
{
    constexpr size_t kSplitFrom = size_t(16) << 20;
    // On a huge-page boundary, so the two threads never fault in the same page.
    constexpr size_t kStep = size_t(2) << 20;
    if (size < kSplitFrom)
        return ReadUpTo(fd, into, size, offset);
    const size_t half = size / 2 / kStep * kStep;
    size_t second = 0;
    std::thread helper;
    try {
        helper = std::thread([&] { second = ReadUpTo(fd, into + half, size - half, offset + off_t(half)); });
    } catch (const std::system_error&) {
        return ReadUpTo(fd, into, size, offset);
    }
    const size_t first = ReadUpTo(fd, into, half, offset);
    helper.join();
    // A file that ended inside the first half has nothing after it.
    return first < half ? first : half + second;
}

// A whole file goes straight into the list's storage, sized from the file, without a copy.
template <typename Rec, typename List> void ReadAll(int fd, List& list)
{
    struct stat st
    {
    };
    size_t expected = 0;
    if (::fstat(fd, &st) == 0 && st.st_size > 0)
        expected = size_t(st.st_size) / sizeof(Rec);
    off_t offset = 0;
    for (;;) {
        // One record more than the file holds, so that its end shows as a short read in the same
        // block. Should the file grow meanwhile (a writer that ignores the lock), go on in steps.
        const size_t room = expected + 1;
        char* const into = list.Room(room);
        const size_t filled = ReadUpToInParallel(fd, into, room * sizeof(Rec), offset);
        list.Keep(filled / sizeof(Rec));
        if (filled < room * sizeof(Rec))
            return;
        offset += off_t(filled);
        expected = (1 << 20) / sizeof(Rec);
    }
}

// Only the kept records are copied; the rest are looked at where they were read, a block of whole
// records at a time that stays in the processor's cache between the read and the filter (smaller
// blocks measured slower).
template <typename Rec, typename List> void ReadFiltered(int fd, List& list, bool (*filter)(const Rec&))
{
    std::vector<Rec> block((1 << 20) / sizeof(Rec));
    const size_t capacity = block.size() * sizeof(Rec);
    off_t offset = 0;
    for (;;) {
        const size_t filled = ReadUpTo(fd, reinterpret_cast<char*>(block.data()), capacity, offset);
        // A short block is the end of the file; a partial record at its end is ignored.
        const size_t whole = filled / sizeof(Rec);
        for (size_t i = 0; i < whole; ++i) {
            if (filter(block[i]))
                list.AppendCopy(block[i]);
        }
        if (filled < capacity)
            return;
        offset += off_t(filled);
    }
}

template <typename Rec, typename List>
std::unique_ptr<List> ReadRecords(const QString& fileName, bool (*filter)(const Rec&))
{
    const int fd = OpenLocked(fileName, O_RDONLY, kLockWaitMs);
    if (fd < 0)
        return nullptr;
    struct Closer
    {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};

    try {
        auto list = std::make_unique<List>();
        if (filter)
            ReadFiltered<Rec>(fd, *list, filter);
        else
            ReadAll<Rec>(fd, *list);
        return list;
    } catch (...) {
        // Out of memory or a filter that raised: no half-filled list is handed out.
        return nullptr;
    }
}

template <typename Rec> void AppendOne(const QString& fileName, Rec& rec)
{
    // A killed save's remnant is undone first: appended after it, this record would be cut away
    // with it by the next recovery.
    RecoverDataDir(QFileInfo(fileName).absolutePath());
    RecordFile file(fileName, Rec::kSize, kLockWaitMs);
    try {
        file.Append(rec.bytes.data());
        file.Sync();
    } catch (...) {
        file.Rollback();
        throw;
    }
}

} // namespace

quint32 TvsDBTestRec::Id() const
{
    return Get<quint32>(bytes, kTestId);
}
void TvsDBTestRec::SetId(quint32 id)
{
    Put<quint32>(bytes, kTestId, id);
}
QString TvsDBTestRec::Fio() const
{
    return GetShort(bytes, kTestFio);
}
void TvsDBTestRec::SetFio(const QString& text)
{
    PutShort(bytes, kTestFio, text);
}

double TvsDBTestRec::Date() const
{
    const quint64 bits = Get<quint64>(bytes, kTestDate);
    double date;
    std::memcpy(&date, &bits, sizeof date);
    return date;
}

void TvsDBTestRec::SetDate(double date)
{
    quint64 bits;
    std::memcpy(&bits, &date, sizeof bits);
    Put<quint64>(bytes, kTestDate, bits);
}

qint32 TvsDBTestRec::Age() const
{
    return Get<qint32>(bytes, kTestAge);
}
void TvsDBTestRec::SetAge(qint32 age)
{
    Put<qint32>(bytes, kTestAge, age);
}
quint8 TvsDBTestRec::Sex() const
{
    return static_cast<quint8>(bytes[kTestSex]);
}
void TvsDBTestRec::SetSex(quint8 sex)
{
    bytes[kTestSex] = static_cast<char>(sex);
}
QString TvsDBTestRec::Social() const
{
    return GetShort(bytes, kTestSocial);
}
void TvsDBTestRec::SetSocial(const QString& text)
{
    PutShort(bytes, kTestSocial, text);
}
QString TvsDBTestRec::Children() const
{
    return GetShort(bytes, kTestChildren);
}
void TvsDBTestRec::SetChildren(const QString& text)
{
    PutShort(bytes, kTestChildren, text);
}
QString TvsDBTestRec::PlaceOfLiving() const
{
    return GetShort(bytes, kTestPlaceOfLiving);
}
void TvsDBTestRec::SetPlaceOfLiving(const QString& text)
{
    PutShort(bytes, kTestPlaceOfLiving, text);
}
QString TvsDBTestRec::Education() const
{
    return GetShort(bytes, kTestEducation);
}
void TvsDBTestRec::SetEducation(const QString& text)
{
    PutShort(bytes, kTestEducation, text);
}
QString TvsDBTestRec::SocialStatus() const
{
    return GetShort(bytes, kTestSocialStatus);
}
void TvsDBTestRec::SetSocialStatus(const QString& text)
{
    PutShort(bytes, kTestSocialStatus, text);
}
QString TvsDBTestRec::Bussines() const
{
    return GetShort(bytes, kTestBussines);
}
void TvsDBTestRec::SetBussines(const QString& text)
{
    PutShort(bytes, kTestBussines, text);
}
QString TvsDBTestRec::MaterialLevel() const
{
    return GetShort(bytes, kTestMaterialLevel);
}
void TvsDBTestRec::SetMaterialLevel(const QString& text)
{
    PutShort(bytes, kTestMaterialLevel, text);
}
qint32 TvsDBTestRec::TypeScore(int number) const
{
    return Get<qint32>(bytes, TypeScoreOffset(number));
}
void TvsDBTestRec::SetTypeScore(int number, qint32 score)
{
    Put<qint32>(bytes, TypeScoreOffset(number), score);
}

qint32 TvsDBValueRec::Id() const
{
    return Get<qint32>(bytes, kValueId);
}
void TvsDBValueRec::SetId(qint32 id)
{
    Put<qint32>(bytes, kValueId, id);
}
void TvsDBValueRec::SetTestId(qint32 id)
{
    Put<qint32>(bytes, kValueTestId, id);
}
void TvsDBValueRec::SetTypeNumber(quint8 number)
{
    bytes[kValueTypeNumber] = static_cast<char>(number);
}
void TvsDBValueRec::SetScore(qint32 score)
{
    Put<qint32>(bytes, kValueScore, score);
}
QString TvsDBValueRec::Name() const
{
    return GetShort(bytes, kValueName);
}
void TvsDBValueRec::SetName(const QString& text)
{
    PutShort(bytes, kValueName, text);
}

namespace {
constexpr int kTestTextOffsets[] = {kTestFio,       kTestSocial,       kTestChildren, kTestPlaceOfLiving,
                                    kTestEducation, kTestSocialStatus, kTestBussines, kTestMaterialLevel};

template <size_t N> QByteArrayView ShortBytes(const std::array<char, N>& bytes, int offset)
{
    const int length = std::min<int>(static_cast<quint8>(bytes[size_t(offset)]), kShortStringChars);
    return QByteArrayView(bytes.data() + offset + 1, length);
}
} // namespace

QByteArrayView TvsDBTestRec::TextBytes(Text field) const
{
    return ShortBytes(bytes, kTestTextOffsets[int(field)]);
}

int TvsDBTestRec::OverlongStrings() const
{
    int count = 0;
    for (const int offset : kTestTextOffsets)
        count += static_cast<quint8>(bytes[size_t(offset)]) > kShortStringChars;
    return count;
}

QByteArrayView TvsDBValueRec::NameBytes() const
{
    return ShortBytes(bytes, kValueName);
}

int TvsDBValueRec::OverlongStrings() const
{
    return static_cast<quint8>(bytes[kValueName]) > kShortStringChars;
}

quint32 TvsDBAnswerRec::Id() const
{
    return Get<quint32>(bytes, kAnswerId);
}
void TvsDBAnswerRec::SetId(quint32 id)
{
    Put<quint32>(bytes, kAnswerId, id);
}
quint32 TvsDBAnswerRec::TestId() const
{
    return Get<quint32>(bytes, kAnswerTestId);
}
void TvsDBAnswerRec::SetTestId(quint32 id)
{
    Put<quint32>(bytes, kAnswerTestId, id);
}
quint32 TvsDBAnswerRec::Question() const
{
    return Get<quint32>(bytes, kAnswerQuestion);
}
void TvsDBAnswerRec::SetQuestion(quint32 question)
{
    Put<quint32>(bytes, kAnswerQuestion, question);
}
quint8 TvsDBAnswerRec::UpperGroup() const
{
    return static_cast<quint8>(bytes[kAnswerUpperGroup]);
}
void TvsDBAnswerRec::SetUpperGroup(quint8 number)
{
    bytes[kAnswerUpperGroup] = static_cast<char>(number);
}
QString TvsDBAnswerRec::Upper() const
{
    return GetShort(bytes, kAnswerUpper);
}
void TvsDBAnswerRec::SetUpper(const QString& text)
{
    PutShort(bytes, kAnswerUpper, text);
}
quint8 TvsDBAnswerRec::LowerGroup() const
{
    return static_cast<quint8>(bytes[kAnswerLowerGroup]);
}
void TvsDBAnswerRec::SetLowerGroup(quint8 number)
{
    bytes[kAnswerLowerGroup] = static_cast<char>(number);
}
QString TvsDBAnswerRec::Lower() const
{
    return GetShort(bytes, kAnswerLower);
}
void TvsDBAnswerRec::SetLower(const QString& text)
{
    PutShort(bytes, kAnswerLower, text);
}
quint8 TvsDBAnswerRec::Chosen() const
{
    return static_cast<quint8>(bytes[kAnswerChosen]);
}
void TvsDBAnswerRec::SetChosen(quint8 chosen)
{
    bytes[kAnswerChosen] = static_cast<char>(chosen);
}
quint32 TvsDBAnswerRec::ResponseMs() const
{
    return Get<quint32>(bytes, kAnswerResponseMs);
}
void TvsDBAnswerRec::SetResponseMs(quint32 ms)
{
    Put<quint32>(bytes, kAnswerResponseMs, ms);
}
bool TvsDBAnswerRec::ChoiceKnown() const
{
    return Chosen() == kChoseUpper || Chosen() == kChoseLower;
}
bool TvsDBAnswerRec::NamesFit() const
{
    return static_cast<quint8>(bytes[kAnswerUpper]) <= kShortStringChars &&
           static_cast<quint8>(bytes[kAnswerLower]) <= kShortStringChars;
}
QByteArrayView TvsDBAnswerRec::UpperBytes() const
{
    return ShortBytes(bytes, kAnswerUpper);
}
QByteArrayView TvsDBAnswerRec::LowerBytes() const
{
    return ShortBytes(bytes, kAnswerLower);
}
int TvsDBAnswerRec::OverlongStrings() const
{
    return (static_cast<quint8>(bytes[kAnswerUpper]) > kShortStringChars) +
           (static_cast<quint8>(bytes[kAnswerLower]) > kShortStringChars);
}

std::unique_ptr<TvsDBTestList> ReadTests(const QString& fileName, TestFilter filter)
{
    return ReadRecords<TvsDBTestRec, TvsDBTestList>(fileName, filter);
}

std::unique_ptr<TvsDBValueList> ReadValues(const QString& fileName, ValueFilter filter)
{
    return ReadRecords<TvsDBValueRec, TvsDBValueList>(fileName, filter);
}

std::unique_ptr<TvsDBAnswerList> ReadAnswers(const QString& fileName, AnswerFilter filter)
{
    return ReadRecords<TvsDBAnswerRec, TvsDBAnswerList>(fileName, filter);
}

bool CheckDataDir(const QString& dataDir)
{
    const QByteArray path = QFile::encodeName(dataDir);
    struct stat st
    {
    };
    if (::stat(path.constData(), &st) == 0)
        return S_ISDIR(st.st_mode);
    // Names, ages and family status: nobody but the owner may look into the folder.
    if (::mkdir(path.constData(), S_IRWXU) != 0)
        return false;
    // A save that is durable inside a folder whose own entry is not would still vanish with it.
    SyncDirectory(QFileInfo(dataDir).absolutePath());
    return true;
}

void AppendTestRec(const QString& fileName, TvsDBTestRec& rec)
{
    AppendOne(fileName, rec);
}

void AppendValueRec(const QString& fileName, TvsDBValueRec& rec)
{
    AppendOne(fileName, rec);
}

thread_local quint32 WantedTestId = 0;

bool IsWantedTest(const TvsDBTestRec& rec)
{
    return rec.Id() == WantedTestId;
}

bool IsWantedValue(const TvsDBValueRec& rec)
{
    return static_cast<quint32>(rec.TestId()) == WantedTestId;
}

bool IsWantedAnswer(const TvsDBAnswerRec& rec)
{
    return rec.TestId() == WantedTestId;
}

QString SexText(quint8 sex)
{
    return SexAnswerText(sex);
}

namespace {
const QDate kEpoch(1899, 12, 30);
constexpr double kMsPerDay = 86400000.0;
} // namespace

double DateTimeToRecordDate(const QDateTime& local)
{
    const QDateTime t = local.toLocalTime();
    const qint64 days = kEpoch.daysTo(t.date());
    const double fraction = t.time().msecsSinceStartOfDay() / kMsPerDay;
    // Before the epoch the whole part counts days back while the fraction still counts forward
    // from midnight: -1.25 is 1899-12-29 06:00.
    return days >= 0 ? double(days) + fraction : double(days) - fraction;
}

QDateTime RecordDateToDateTime(double date)
{
    // Beyond about 2.9 million years QDate gives up anyway; refuse early and keep the casts defined.
    if (!std::isfinite(date) || std::fabs(date) > 1e9)
        return QDateTime();
    const double whole = std::trunc(date);
    qint64 ms = std::llround(std::fabs(date - whole) * kMsPerDay);
    qint64 days = qint64(whole);
    if (ms >= qint64(kMsPerDay)) {
        // Rounding carried the time of day past midnight.
        ms -= qint64(kMsPerDay);
        days += date >= 0 ? 1 : -1;
    }
    const QDate day = kEpoch.addDays(days);
    if (!day.isValid())
        return QDateTime();
    return QDateTime(day, QTime::fromMSecsSinceStartOfDay(int(ms)));
}

} // namespace kv
