#include "exchange/Merge.h"

#include "database/RecordFile.h"
#include "database/SaveTest.h"

#include <QDir>
#include <QFileInfo>
#include <QTextStream>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

namespace kv {

namespace {

// New tests go to the target in runs of this many, each run with one write per file.
constexpr size_t kTestsPerRun = 2048;

constexpr int kShortStringChars = 80;
constexpr int kFioAt = 4;
constexpr int kValueNameAt = 13;

QString Native(const QString& path)
{
    return QDir::toNativeSeparators(path);
}

// The text of a short string as stored, without the meaningless bytes after it.
std::string_view ShortString(const char* field)
{
    const int length = std::min<int>(static_cast<quint8>(field[0]), kShortStringChars);
    return std::string_view(field + 1, size_t(length));
}

template <typename T> void AppendRaw(std::string& key, T value)
{
    key.append(reinterpret_cast<const char*>(&value), sizeof value);
}

// What makes two tests the same apart from their values: the name, the date to the millisecond and
// the four group totals. Dates no calendar holds are compared by their bits.
void AppendTestKey(std::string& key, const TvsDBTestRec& test)
{
    const std::string_view name = ShortString(test.bytes.data() + kFioAt);
    AppendRaw(key, quint8(name.size()));
    key.append(name);
    const double date = test.Date();
    if (std::isfinite(date) && std::fabs(date) < 1e9) {
        AppendRaw(key, quint8(0));
        AppendRaw(key, qint64(std::llround(date * 86400000.0)));
    } else {
        quint64 bits;
        std::memcpy(&bits, &date, sizeof bits);
        AppendRaw(key, quint8(1));
        AppendRaw(key, bits);
    }
    for (int g = 1; g <= 4; ++g)
        AppendRaw(key, test.TypeScore(g));
}

// The whole identity of a test: its own key and its values as a set (group, wins, name), so the
// order the values were written in does not matter.
void BuildKey(std::string& key, const TvsDBTestRec& test, const std::vector<const TvsDBValueRec*>& values)
{
    key.clear();
    AppendTestKey(key, test);
    std::vector<std::string> parts;
    parts.reserve(values.size());
    for (const TvsDBValueRec* value : values) {
        std::string part;
        AppendRaw(part, value->TypeNumber());
        AppendRaw(part, value->Score());
        const std::string_view name = ShortString(value->bytes.data() + kValueNameAt);
        AppendRaw(part, quint8(name.size()));
        part.append(name);
        parts.push_back(std::move(part));
    }
    std::sort(parts.begin(), parts.end());
    AppendRaw(key, quint32(parts.size()));
    for (const std::string& part : parts)
        key.append(part);
}

quint64 LightHash(const TvsDBTestRec& test, std::string& scratch)
{
    scratch.clear();
    AppendTestKey(scratch, test);
    return std::hash<std::string_view>()(scratch);
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

// The source, read whole: every test with its values. The files are read as the program reads them
// (locked while each is read, whole records only); tests.dat first, so that a test saved on the
// source meanwhile is either wholly in this picture or not at all.
struct Source
{
    std::unique_ptr<TvsDBTestList> tests;
    std::unique_ptr<TvsDBValueList> values;
    // Indices into values, ordered by the value's test number, file order within one test.
    std::vector<std::pair<qint32, int>> byTest;

    std::vector<const TvsDBValueRec*> ValuesOf(quint32 testId) const
    {
        std::vector<const TvsDBValueRec*> found;
        const std::pair<qint32, int> first{qint32(testId), 0};
        for (auto it = std::lower_bound(byTest.begin(), byTest.end(), first);
             it != byTest.end() && it->first == qint32(testId); ++it)
            found.push_back(&values->Items(it->second));
        return found;
    }
};

Source ReadSource(const QString& dir)
{
    Source source;
    const QString testsFile = dir + QStringLiteral("/tests.dat");
    const QString valuesFile = dir + QStringLiteral("/values.dat");
    if (!QFileInfo(testsFile).isFile())
        throw MergeFolderError(QStringLiteral("В папке %1 нет базы данных (tests.dat)").arg(Native(dir)));
    const QString unreadable = QStringLiteral("Не удалось прочитать %1: файл занят другой программой или недоступен");
    source.tests = ReadTests(testsFile);
    if (!source.tests)
        throw Error(unreadable.arg(Native(testsFile)));
    if (QFileInfo::exists(valuesFile)) {
        source.values = ReadValues(valuesFile);
        if (!source.values)
            throw Error(unreadable.arg(Native(valuesFile)));
    } else {
        source.values = std::make_unique<TvsDBValueList>();
    }

    const int count = source.values->Count();
    source.byTest.reserve(size_t(count));
    for (int i = 0; i < count; ++i)
        source.byTest.emplace_back(source.values->Items(i).TestId(), i);
    // Saves leave the values in test order already; only a merged or damaged file needs the sort.
    if (!std::is_sorted(source.byTest.begin(), source.byTest.end()))
        std::sort(source.byTest.begin(), source.byTest.end());
    return source;
}

// The tests of the target that the source may repeat, each as its whole identity. Only tests whose
// name, date and totals match a source test are looked at closely, so a merge of new tests never
// reads the target's values.dat.
std::vector<std::string> RepeatCandidates(const TvsDBSave& target, const Source& source, const MergeProgress& progress)
{
    std::string scratch;
    std::unordered_set<quint64> sourceHashes;
    sourceHashes.reserve(size_t(source.tests->Count()));
    for (int i = 0; i < source.tests->Count(); ++i)
        sourceHashes.insert(LightHash(source.tests->Items(i), scratch));

    std::unordered_map<quint32, std::vector<TvsDBTestRec>> candidates;
    target.ReadTests([&](std::span<const TvsDBTestRec> run) {
        for (const TvsDBTestRec& test : run)
            if (sourceHashes.count(LightHash(test, scratch)) != 0)
                candidates[test.Id()].push_back(test);
        CheckCancel(progress, 0, 0);
    });
    if (candidates.empty())
        return {};

    std::unordered_map<quint32, std::vector<TvsDBValueRec>> values;
    target.ReadValues([&](std::span<const TvsDBValueRec> run) {
        for (const TvsDBValueRec& value : run) {
            const quint32 testId = quint32(value.TestId());
            if (candidates.count(testId) != 0)
                values[testId].push_back(value);
        }
        CheckCancel(progress, 0, 0);
    });

    std::vector<std::string> keys;
    for (const auto& [id, tests] : candidates) {
        std::vector<const TvsDBValueRec*> own;
        if (const auto it = values.find(id); it != values.end())
            for (const TvsDBValueRec& value : it->second)
                own.push_back(&value);
        for (const TvsDBTestRec& test : tests) {
            BuildKey(scratch, test, own);
            keys.push_back(scratch);
        }
    }
    return keys;
}

// The source tests (indices, file order) that the target does not hold yet. A test met twice in the
// source itself is taken once: after the merge the target holds it, and a second copy is a repeat.
std::vector<int> NewTests(const Source& source, const std::vector<std::string>& targetKeys)
{
    // Whole keys of the added tests are rebuilt when a hash matches rather than kept: a source of
    // 100,000 tests would otherwise hold them all in memory at once.
    struct Known
    {
        int sourceIndex; // -1: a test of the target, its key in targetKeys[targetIndex]
        int targetIndex;
    };
    std::unordered_multimap<quint64, Known> known;
    known.reserve(targetKeys.size() + size_t(source.tests->Count()));
    const std::hash<std::string_view> hash;
    for (size_t i = 0; i < targetKeys.size(); ++i)
        known.emplace(hash(targetKeys[i]), Known{-1, int(i)});

    std::vector<int> added;
    std::string key;
    std::string other;
    for (int i = 0; i < source.tests->Count(); ++i) {
        const TvsDBTestRec& test = source.tests->Items(i);
        BuildKey(key, test, source.ValuesOf(test.Id()));
        const quint64 h = hash(key);
        bool repeat = false;
        const auto [first, last] = known.equal_range(h);
        for (auto it = first; it != last && !repeat; ++it) {
            if (it->second.sourceIndex < 0) {
                repeat = targetKeys[size_t(it->second.targetIndex)] == key;
            } else {
                const TvsDBTestRec& earlier = source.tests->Items(it->second.sourceIndex);
                BuildKey(other, earlier, source.ValuesOf(earlier.Id()));
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
    for (size_t from = 0; from < added.size(); from += kTestsPerRun) {
        const size_t to = std::min(added.size(), from + kTestsPerRun);
        tests.clear();
        for (size_t k = from; k < to; ++k)
            tests.push_back(source.tests->Items(added[k]));
        // The append gives each test the target's next number; its values then follow that number.
        target.AppendTests(tests);
        values.clear();
        for (size_t k = from; k < to; ++k) {
            const quint32 newId = tests[k - from].Id();
            for (const TvsDBValueRec* value : source.ValuesOf(source.tests->Items(added[k]).Id())) {
                values.push_back(*value);
                values.back().SetTestId(qint32(newId));
            }
        }
        target.AppendValues(values);
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
        TvsDBSave target(targetDir + QStringLiteral("/tests.dat"), targetDir + QStringLiteral("/values.dat"),
                         lockWaitMs);
        const std::vector<int> added = NewTests(source, RepeatCandidates(target, source, progress));
        const qint64 total = qint64(added.size());
        CheckCancel(progress, 0, total);
        WriteNewTests(target, source, added, progress);
        // The last chance to cancel; after the commit the tests are in.
        CheckCancel(progress, total, total);
        target.Commit();
        result.added = total;
        result.skipped = source.tests->Count() - total;
    } catch (const SaveError& e) {
        throw Error(QStringLiteral("Тесты не добавлены: %1 (%2)").arg(FileErrorReason(e.code()), Native(e.fileName())));
    }
    return result;
}

QString MergeReport(const MergeResult& result)
{
    return QStringLiteral("Добавлено тестов: %1, пропущено повторов: %2").arg(result.added).arg(result.skipped);
}

int RunMerge(const QStringList& args, QTextStream& out, QTextStream& err)
{
    const QString usage = QStringLiteral("Использование: kvendar-data merge ИСХОДНАЯ_ПАПКА ПАПКА_БАЗЫ\n"
                                         "Добавляет тесты из папки Data другого компьютера в папку базы данных.\n"
                                         "Тесты, которые уже есть в базе, пропускаются; исходная папка не меняется.\n");
    if (args.contains(QStringLiteral("--help")) || args.contains(QStringLiteral("-h"))) {
        out << usage;
        out.flush();
        return 0;
    }
    if (args.size() != 2) {
        err << QStringLiteral("kvendar-data merge: нужны две папки\n") << usage;
        err.flush();
        return 2;
    }
    try {
        const MergeResult result = MergeDataFolders(args.at(0), args.at(1));
        out << MergeReport(result) << u'\n';
        out.flush();
        return 0;
    } catch (const MergeFolderError& e) {
        err << QStringLiteral("kvendar-data merge: ") << e.message() << u'\n';
        err.flush();
        return 2;
    } catch (const Error& e) {
        err << QStringLiteral("kvendar-data merge: ") << e.message() << u'\n';
        err.flush();
        return 1;
    } catch (const std::bad_alloc&) {
        err << QStringLiteral("kvendar-data merge: недостаточно памяти; база данных не изменена\n");
        err.flush();
        return 1;
    }
}

} // namespace kv
