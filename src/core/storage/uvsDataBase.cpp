#include "core/storage/uvsDataBase.h"

#include "core/platform/Codec.h"
#include "core/platform/Errors.h"
#include "core/session/Questionnaire.h"
#include "core/storage/DataSnapshot.h"
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
#include <type_traits>
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
    return FromCp1251(ShortStringAt(bytes.data() + offset));
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

// The kind of file a record class is stored in.
template <typename Rec> constexpr DataSnapshot::FileKind KindOf()
{
    if constexpr (std::is_same_v<Rec, TvsDBTestRec>)
        return DataSnapshot::Tests;
    else if constexpr (std::is_same_v<Rec, TvsDBValueRec>)
        return DataSnapshot::Values;
    else
        return DataSnapshot::Answers;
}

// A whole file goes straight into the list's storage, sized from the snapshot, without a copy.
template <typename Rec, typename List> void ReadAll(DataSnapshot::Reader& reader, qint64 records, List& list)
{
    if (records <= 0)
        return;
    char* const into = list.Room(size_t(records));
    list.Keep(reader.Fill(into, size_t(records)));
}

// Only the kept records are copied; the rest are looked at where they were read, a block of whole
// records at a time that stays in the processor's cache between the read and the filter.
template <typename Rec, typename List>
void ReadFiltered(DataSnapshot::Reader& reader, List& list, bool (*filter)(const Rec&))
{
    const char* block;
    while (const size_t count = reader.Next(block)) {
        const auto* records = reinterpret_cast<const Rec*>(block);
        for (size_t i = 0; i < count; ++i) {
            if (filter(records[i]))
                list.AppendCopy(records[i]);
        }
    }
}

template <typename Rec, typename List>
std::unique_ptr<List> ReadRecords(const QString& fileName, bool (*filter)(const Rec&))
{
    constexpr DataSnapshot::FileKind kind = KindOf<Rec>();
    try {
        // The window that reads has undone what a crashed save left, or told why it could not.
        const DataSnapshot snapshot(QFileInfo(fileName).absolutePath(), DataSnapshot::Journal::Respect);
        if (!snapshot.Exists(kind))
            return nullptr;
        DataSnapshot::Reader reader(snapshot, kind);
        auto list = std::make_unique<List>();
        if (filter)
            ReadFiltered<Rec>(reader, *list, filter);
        else
            ReadAll<Rec>(reader, snapshot.Records(kind), *list);
        return list;
    } catch (...) {
        // A folder or file that cannot be read, out of memory or a filter that raised: no
        // half-filled list is handed out.
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
    return ShortStringAt(bytes.data() + offset);
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
    qint64 days;
    qint32 ms;
    if (!SplitRecordDate(date, days, ms))
        return QDateTime();
    const QDate day = kEpoch.addDays(days);
    if (!day.isValid())
        return QDateTime();
    return QDateTime(day, QTime::fromMSecsSinceStartOfDay(ms));
}

} // namespace kv
