#include "core/exchange/Merge.h"

#include "core/storage/DataSnapshot.h"
#include "core/storage/Journal.h"
#include "core/storage/RecordFile.h"
#include "core/storage/SaveTransaction.h"

#include <QDir>
#include <QFileInfo>
#include <QTextStream>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kv {

namespace {

// New tests go to the target in runs of this many, each run with one write per file.
constexpr size_t kTestsPerRun = 2048;

QString Native(const QString& path)
{
    return QDir::toNativeSeparators(path);
}

std::string_view View(QByteArrayView text)
{
    return std::string_view(text.data(), size_t(text.size()));
}

template <typename T> void AppendRaw(std::string& key, T value)
{
    key.append(reinterpret_cast<const char*>(&value), sizeof value);
}

// Dates to the millisecond; a date no calendar holds is kept by its bits, marked apart from those.
std::pair<quint8, qint64> DateKey(double date)
{
    if (std::isfinite(date) && std::fabs(date) < 1e9)
        return {0, qint64(std::llround(date * 86400000.0))};
    qint64 bits;
    std::memcpy(&bits, &date, sizeof bits);
    return {1, bits};
}

void AppendText(std::string& key, QByteArrayView text)
{
    AppendRaw(key, quint8(text.size()));
    key.append(View(text));
}

// What makes two tests the same apart from their values and answers: every stored field of the
// record but its own number. Two anonymous respondents of the same day and values who differ in sex,
// age or one answer of the questionnaire are two respondents, and both must arrive.
void AppendTestKey(std::string& key, const TvsDBTestRec& test)
{
    using T = TvsDBTestRec::Text;
    AppendText(key, test.TextBytes(T::Fio));
    const auto [kind, date] = DateKey(test.Date());
    AppendRaw(key, kind);
    AppendRaw(key, date);
    AppendRaw(key, test.Age());
    AppendRaw(key, test.Sex());
    for (const T text :
         {T::Social, T::Children, T::PlaceOfLiving, T::Education, T::SocialStatus, T::Bussines, T::MaterialLevel})
        AppendText(key, test.TextBytes(text));
    for (int g = 1; g <= 4; ++g)
        AppendRaw(key, test.TypeScore(g));
}

// The same as a hash, without building the key: it is taken for every test of a large target.
quint64 LightHash(const TvsDBTestRec& test)
{
    quint64 h = std::hash<std::string_view>()(View(test.TextBytes(TvsDBTestRec::Text::Fio)));
    const auto mix = [&h](quint64 v) { h ^= v + 0x9e3779b97f4a7c15ull + (h << 6) + (h >> 2); };
    const auto [kind, date] = DateKey(test.Date());
    mix(kind);
    mix(quint64(date));
    for (int g = 1; g <= 4; ++g)
        mix(quint32(test.TypeScore(g)));
    return h;
}

// Values as a set: by group, wins and name, so the order they were written in does not matter.
bool ValueBefore(const TvsDBValueRec* a, const TvsDBValueRec* b)
{
    if (a->TypeNumber() != b->TypeNumber())
        return a->TypeNumber() < b->TypeNumber();
    if (a->Score() != b->Score())
        return a->Score() < b->Score();
    return View(a->NameBytes()) < View(b->NameBytes());
}

// The whole identity of a test: its own key, its values and its answers. Both lists are sorted in
// place: values as a set, answers by question.
void BuildKey(std::string& key, const TvsDBTestRec& test, std::vector<const TvsDBValueRec*>& values,
              std::vector<const TvsDBAnswerRec*>& answers)
{
    key.clear();
    AppendTestKey(key, test);
    std::sort(values.begin(), values.end(), ValueBefore);
    AppendRaw(key, quint32(values.size()));
    for (const TvsDBValueRec* value : values) {
        AppendRaw(key, value->TypeNumber());
        AppendRaw(key, value->Score());
        AppendText(key, value->NameBytes());
    }
    std::stable_sort(answers.begin(), answers.end(),
                     [](const TvsDBAnswerRec* a, const TvsDBAnswerRec* b) { return a->Question() < b->Question(); });
    AppendRaw(key, quint32(answers.size()));
    for (const TvsDBAnswerRec* answer : answers) {
        AppendRaw(key, answer->Question());
        AppendRaw(key, answer->UpperGroup());
        AppendText(key, answer->UpperBytes());
        AppendRaw(key, answer->LowerGroup());
        AppendText(key, answer->LowerBytes());
        AppendRaw(key, answer->Chosen());
        AppendRaw(key, answer->ResponseMs());
    }
}

bool Report(const MergeProgress& progress, qint64 done, qint64 total)
{
    return !progress || progress(done, total);
}

void CheckCancel(const MergeProgress& progress, qint64 done, qint64 total)
{
    if (!Report(progress, done, total))
        throw MergeCancelled();
}

// Record numbers by test, ordered by test number and, within one test, by file order.
using ByTest = std::vector<std::pair<quint32, int>>;

template <typename List> ByTest IndexByTest(const List& list)
{
    ByTest index;
    index.reserve(size_t(list.Count()));
    for (int i = 0; i < list.Count(); ++i)
        index.emplace_back(quint32(list.Items(i).TestId()), i);
    // Saves leave the records in test order already; only a merged or damaged file needs the sort.
    if (!std::is_sorted(index.begin(), index.end()))
        std::sort(index.begin(), index.end());
    return index;
}

template <typename Rec, typename List>
void RecordsOf(quint32 testId, const List& list, const ByTest& index, std::vector<const Rec*>& found)
{
    found.clear();
    for (auto it = std::lower_bound(index.begin(), index.end(), std::pair<quint32, int>{testId, 0});
         it != index.end() && it->first == testId; ++it)
        found.push_back(&list.Items(it->second));
}

// The source, read whole: every test with its values and answers.
struct Source
{
    std::unique_ptr<TvsDBTestList> tests = std::make_unique<TvsDBTestList>();
    std::unique_ptr<TvsDBValueList> values = std::make_unique<TvsDBValueList>();
    std::unique_ptr<TvsDBAnswerList> answers = std::make_unique<TvsDBAnswerList>();
    ByTest valuesByTest;
    ByTest answersByTest;
    // LightHash of each test.
    std::vector<quint64> light;

    // The values of the test numbered testId, in file order, into found (emptied first).
    void ValuesOf(quint32 testId, std::vector<const TvsDBValueRec*>& found) const
    {
        RecordsOf(testId, *values, valuesByTest, found);
    }
    void AnswersOf(quint32 testId, std::vector<const TvsDBAnswerRec*>& found) const
    {
        RecordsOf(testId, *answers, answersByTest, found);
    }
};

QString SourceReadText(int error, const QString& fileName)
{
    const QString reason = error == EWOULDBLOCK ? QStringLiteral("файл занят другой программой") : ReasonText(error);
    return QStringLiteral("Не удалось прочитать %1: %2").arg(Native(fileName), reason);
}

// The whole records of one file of the snapshot, straight into the list's storage.
template <typename List> void ReadWholeRecords(const DataSnapshot& snapshot, DataSnapshot::FileKind kind, List& list)
{
    const qint64 count = snapshot.Records(kind);
    if (count == 0)
        return;
    DataSnapshot::Reader reader(snapshot, kind);
    list.Keep(reader.Fill(list.Room(size_t(count)), size_t(count)));
    // A file that got shorter than it was a moment ago gives only what is there.
    if (reader.error() != 0)
        throw Error(SourceReadText(reader.error(), snapshot.FilePath(kind)));
}

// The source is never written, not even to finish a crashed save's rollback there: a journal left
// in the folder is honoured by reading each file only up to the size it records, which is what
// recovery would cut it back to.
Source ReadSource(const QString& dir)
{
    const QString testsFile = TestsFileName(dir);
    if (!QFileInfo(testsFile).isFile())
        throw MergeFolderError(QStringLiteral("В папке %1 нет базы данных (tests.dat)").arg(Native(dir)));
    std::optional<DataSnapshot> snapshot;
    try {
        snapshot.emplace(dir, DataSnapshot::Journal::Respect);
    } catch (const ReadError& e) {
        throw Error(SourceReadText(e.code(), e.fileName()));
    }

    Source source;
    ReadWholeRecords(*snapshot, DataSnapshot::Tests, *source.tests);
    ReadWholeRecords(*snapshot, DataSnapshot::Values, *source.values);
    ReadWholeRecords(*snapshot, DataSnapshot::Answers, *source.answers);

    source.valuesByTest = IndexByTest(*source.values);
    source.answersByTest = IndexByTest(*source.answers);
    source.light.reserve(size_t(source.tests->Count()));
    for (int i = 0; i < source.tests->Count(); ++i)
        source.light.push_back(LightHash(source.tests->Items(i)));
    return source;
}

// A filter over the dates of the source's tests: most tests of a large target are told apart by
// their date alone, before anything is hashed. One bit per slot, a million slots.
class DateFilter
{
public:
    explicit DateFilter(const Source& source) : m_bits(size_t(1) << kSlotBits)
    {
        for (int i = 0; i < source.tests->Count(); ++i)
            m_bits[Slot(source.tests->Items(i))] = true;
    }
    bool MayHold(const TvsDBTestRec& test) const { return m_bits[Slot(test)]; }

private:
    static constexpr int kSlotBits = 20;
    static size_t Slot(const TvsDBTestRec& test)
    {
        const auto [kind, date] = DateKey(test.Date());
        return size_t(((quint64(date) + kind) * 0x9e3779b97f4a7c15ull) >> (64 - kSlotBits));
    }
    std::vector<bool> m_bits;
};

// The tests of the target that the source may repeat: the whole identity of each, and their
// LightHash. Only tests whose name, date and totals match a source test are looked at closely, so a
// merge of new tests never reads the target's values.dat.
struct TargetRepeats
{
    std::vector<std::string> keys;
    std::unordered_set<quint64> light;
    quint32 largestId = 0; // of every test of the target, 0 when it has none
};

TargetRepeats RepeatCandidates(const TvsDBSave& target, const Source& source, const MergeProgress& progress)
{
    const std::unordered_set<quint64> sourceHashes(source.light.begin(), source.light.end());
    const DateFilter dates(source);

    TargetRepeats repeats;
    std::unordered_map<quint32, std::vector<TvsDBTestRec>> candidates;
    quint32 lowest = std::numeric_limits<quint32>::max();
    quint32 highest = 0;
    target.ReadTests([&](std::span<const TvsDBTestRec> run) {
        for (const TvsDBTestRec& test : run) {
            repeats.largestId = std::max(repeats.largestId, test.Id());
            if (!dates.MayHold(test))
                continue;
            const quint64 light = LightHash(test);
            if (sourceHashes.count(light) != 0) {
                candidates[test.Id()].push_back(test);
                repeats.light.insert(light);
                lowest = std::min(lowest, test.Id());
                highest = std::max(highest, test.Id());
            }
        }
        CheckCancel(progress, 0, 0);
    });
    if (candidates.empty())
        return repeats;

    std::unordered_map<quint32, std::vector<TvsDBValueRec>> values;
    target.ReadValues([&](std::span<const TvsDBValueRec> run) {
        for (const TvsDBValueRec& value : run) {
            // Repeats are mostly the last tests merged, so most values fall outside at once.
            const quint32 testId = quint32(value.TestId());
            if (testId >= lowest && testId <= highest && candidates.count(testId) != 0)
                values[testId].push_back(value);
        }
        CheckCancel(progress, 0, 0);
    });

    std::unordered_map<quint32, std::vector<TvsDBAnswerRec>> answers;
    target.ReadAnswers([&](std::span<const TvsDBAnswerRec> run) {
        for (const TvsDBAnswerRec& answer : run) {
            const quint32 testId = answer.TestId();
            if (testId >= lowest && testId <= highest && candidates.count(testId) != 0)
                answers[testId].push_back(answer);
        }
        CheckCancel(progress, 0, 0);
    });

    std::string key;
    std::vector<const TvsDBValueRec*> own;
    std::vector<const TvsDBAnswerRec*> ownAnswers;
    for (const auto& [id, tests] : candidates) {
        for (const TvsDBTestRec& test : tests) {
            own.clear();
            ownAnswers.clear();
            if (const auto it = values.find(id); it != values.end())
                for (const TvsDBValueRec& value : it->second)
                    own.push_back(&value);
            if (const auto it = answers.find(id); it != answers.end())
                for (const TvsDBAnswerRec& answer : it->second)
                    ownAnswers.push_back(&answer);
            BuildKey(key, test, own, ownAnswers);
            repeats.keys.push_back(key);
        }
    }
    return repeats;
}

// The source tests (indices, file order) that the target does not hold yet. A test met twice in the
// source itself is taken once: after the merge the target holds it, and a second copy is a repeat.
std::vector<int> NewTests(const Source& source, const TargetRepeats& target)
{
    // Equal tests have equal LightHashes, so a test whose hash nothing else shares is new without
    // a closer look; only the rest have their whole identity built and compared.
    std::unordered_map<quint64, int> shared;
    shared.reserve(source.light.size());
    for (quint64 light : source.light)
        ++shared[light];

    // Whole keys of the added tests are rebuilt when a hash matches rather than kept: a source of
    // 100,000 tests would otherwise hold them all in memory at once.
    struct Known
    {
        int sourceIndex; // -1: a test of the target, its key in target.keys[targetIndex]
        int targetIndex;
    };
    std::unordered_multimap<quint64, Known> known;
    const std::hash<std::string_view> hash;
    for (size_t i = 0; i < target.keys.size(); ++i)
        known.emplace(hash(target.keys[i]), Known{-1, int(i)});

    std::vector<int> added;
    std::string key;
    std::string other;
    std::vector<const TvsDBValueRec*> own;
    std::vector<const TvsDBAnswerRec*> ownAnswers;
    for (int i = 0; i < source.tests->Count(); ++i) {
        const quint64 light = source.light[size_t(i)];
        if (shared[light] == 1 && target.light.count(light) == 0) {
            added.push_back(i);
            continue;
        }
        const TvsDBTestRec& test = source.tests->Items(i);
        source.ValuesOf(test.Id(), own);
        source.AnswersOf(test.Id(), ownAnswers);
        BuildKey(key, test, own, ownAnswers);
        const quint64 h = hash(key);
        bool repeat = false;
        const auto [first, last] = known.equal_range(h);
        for (auto it = first; it != last && !repeat; ++it) {
            if (it->second.sourceIndex < 0) {
                repeat = target.keys[size_t(it->second.targetIndex)] == key;
            } else {
                const TvsDBTestRec& earlier = source.tests->Items(it->second.sourceIndex);
                std::vector<const TvsDBValueRec*> theirs;
                std::vector<const TvsDBAnswerRec*> theirAnswers;
                source.ValuesOf(earlier.Id(), theirs);
                source.AnswersOf(earlier.Id(), theirAnswers);
                BuildKey(other, earlier, theirs, theirAnswers);
                repeat = other == key;
            }
        }
        if (!repeat) {
            known.emplace(h, Known{i, -1});
            added.push_back(i);
        }
    }
    return added;
}

void WriteNewTests(TvsDBSave& target, const Source& source, const std::vector<int>& added,
                   const MergeProgress& progress)
{
    const qint64 total = qint64(added.size());
    std::vector<TvsDBTestRec> tests;
    std::vector<TvsDBValueRec> values;
    std::vector<TvsDBAnswerRec> answers;
    std::vector<const TvsDBValueRec*> ownValues;
    std::vector<const TvsDBAnswerRec*> ownAnswers;
    for (size_t from = 0; from < added.size(); from += kTestsPerRun) {
        const size_t to = std::min(added.size(), from + kTestsPerRun);
        tests.clear();
        for (size_t k = from; k < to; ++k)
            tests.push_back(source.tests->Items(added[k]));
        // The append gives each test the target's next number; its values and answers then follow
        // that number.
        target.AppendTests(tests);
        values.clear();
        answers.clear();
        for (size_t k = from; k < to; ++k) {
            const quint32 oldId = source.tests->Items(added[k]).Id();
            const quint32 newId = tests[k - from].Id();
            source.ValuesOf(oldId, ownValues);
            for (const TvsDBValueRec* value : ownValues) {
                values.push_back(*value);
                values.back().SetTestId(qint32(newId));
            }
            source.AnswersOf(oldId, ownAnswers);
            for (const TvsDBAnswerRec* answer : ownAnswers) {
                answers.push_back(*answer);
                answers.back().SetTestId(newId);
            }
        }
        target.AppendValues(values);
        target.AppendAnswers(answers);
        CheckCancel(progress, qint64(to), total);
    }
}

} // namespace

MergeCancelled::MergeCancelled() : Error(QStringLiteral("Импорт отменен: база данных не изменена.")) {}

MergeResult MergeDataFolders(const QString& sourceDir, const QString& targetDir, const MergeProgress& progress,
                             int lockWaitMs)
{
    const QFileInfo sourceInfo(sourceDir);
    if (!sourceInfo.isDir())
        throw MergeFolderError(QStringLiteral("Папка не найдена: %1").arg(Native(sourceDir)));
    if (!CheckDataDir(targetDir))
        throw MergeFolderError(QStringLiteral("Невозможно создать папку %1").arg(Native(targetDir)));
    // Merging a folder into itself could only find every test a repeat; it is surely a slip.
    if (sourceInfo.canonicalFilePath() == QFileInfo(targetDir).canonicalFilePath())
        throw MergeFolderError(
            QStringLiteral("Исходная папка и папка базы данных совпадают: %1").arg(Native(targetDir)));

    CheckCancel(progress, 0, 0);
    const Source source = ReadSource(sourceDir);
    CheckCancel(progress, 0, 0);

    MergeResult result;
    try {
        // Locks the target's files until the end; unless Commit is reached, its destructor puts them
        // back as they were.
        TvsDBSave target(targetDir, lockWaitMs);
        const TargetRepeats repeats = RepeatCandidates(target, source, progress);
        const std::vector<int> added = NewTests(source, repeats);
        const qint64 total = qint64(added.size());
        // New numbers go on after the largest number in the target, wherever in the file it stands,
        // so no number is given twice; past the largest a record can hold there is no number left.
        if (quint64(repeats.largestId) + quint64(total) > std::numeric_limits<quint32>::max())
            throw Error(QStringLiteral("Тесты не добавлены: их номера превысили бы наибольший возможный (4294967295). "
                                       "База данных не изменена."));
        target.SetNextTestId(repeats.largestId + 1);
        CheckCancel(progress, 0, total);
        WriteNewTests(target, source, added, progress);
        // The last chance to cancel; after the commit the tests are in.
        CheckCancel(progress, total, total);
        target.Commit();
        result.added = total;
        result.skipped = source.tests->Count() - total;
    } catch (const SaveError& e) {
        throw Error(QStringLiteral("Тесты не добавлены: %1 (%2)").arg(ReasonText(e.code()), Native(e.fileName())));
    }
    return result;
}

QString MergeReport(const MergeResult& result)
{
    return QStringLiteral("Добавлено тестов: %1, пропущено повторов: %2").arg(result.added).arg(result.skipped);
}

} // namespace kv
