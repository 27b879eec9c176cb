#include "core/exchange/Export.h"

#include "core/analysis/Consistency.h"
#include "core/catalogue/Catalogue.h"
#include "core/exchange/CsvFile.h"
#include "core/exchange/TableSink.h"
#include "core/exchange/Utf8Table.h"
#include "core/platform/Codec.h"
#include "core/platform/Errors.h"
#include "core/session/Questionnaire.h"
#include "core/storage/DataSnapshot.h"
#include "core/storage/RecordLayout.h"
#include "core/storage/uvsDataBase.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <deque>
#include <string>
#include <unordered_set>
#include <vector>

namespace kv {

namespace {

struct Cancelled
{
};

Column Col(const char* name, const char16_t* label, ColumnKind kind, QStringList items = {})
{
    Column column;
    column.Name = name;
    column.Label = QString::fromUtf16(label);
    column.Kind = kind;
    column.Items = std::move(items);
    return column;
}

TableLayout TestsLayout()
{
    using K = ColumnKind;
    // A stored answer is its item's text, which SPSS writes as the item's index beside any other
    // text; sex is stored as the index itself.
    const auto choice = [](const TvsChoiceQuestion& question) {
        Column column;
        column.Name = question.ExportName;
        column.Label = question.Label;
        column.Kind = K::Choice;
        column.Items = question.Items;
        column.KeepsOtherText = &question != &SexQuestion();
        return column;
    };
    TableLayout layout{"tests", QStringLiteral("Тесты"), {}};
    layout.Columns = {
        Col("test_id", u"Номер теста", K::Integer),
        Col("name", u"Фамилия, имя, отчество", K::Text),
        Col("date", u"Дата и время теста", K::DateTime),
        Col("age", u"Возраст, полных лет", K::Integer),
        choice(SexQuestion()),
        choice(Question(TvsQuestion::Social)),
        choice(Question(TvsQuestion::Children)),
        choice(Question(TvsQuestion::PlaceOfLiving)),
        choice(Question(TvsQuestion::Education)),
        choice(Question(TvsQuestion::SocialStatus)),
        choice(Question(TvsQuestion::Bussines)),
        choice(Question(TvsQuestion::MaterialLevel)),
        Col("score_ideological", u"Баллы группы 1 (идеологические ценности)", K::Integer),
        Col("score_material", u"Баллы группы 2 (материальные ценности)", K::Integer),
        Col("score_emotional", u"Баллы группы 3 (эмоциональные ценности)", K::Integer),
        Col("score_vital", u"Баллы группы 4 (витальные ценности)", K::Integer),
        Col("n_values", u"Число ценностей, участвовавших в сравнении", K::Integer),
        Col("circular_triads", u"Число циклических триад", K::Integer),
        Col("consistency", u"Коэффициент согласованности (1 — без противоречий)", K::Real),
        Col("p_random", u"Вероятность такой согласованности при случайных ответах", K::Real),
    };
    return layout;
}

TableLayout ValuesLayout()
{
    using K = ColumnKind;
    TableLayout layout{"values", QStringLiteral("Ценности тестов"), {}};
    layout.Columns = {
        Col("test_id", u"Номер теста", K::Integer),
        Col("value_id", u"Номер записи ценности", K::Integer),
        Col("group", u"Номер группы", K::Integer),
        Col("group_name", u"Группа", K::Text),
        Col("value", u"Ценность", K::Text),
        Col("wins", u"Число побед", K::Integer),
        Col("rank", u"Место в тесте (1 — больше всего побед)", K::Real),
    };
    return layout;
}

TableLayout AnswersLayout()
{
    using K = ColumnKind;
    TableLayout layout{"answers", QStringLiteral("Ответы на вопросы"), {}};
    layout.Columns = {
        Col("test_id", u"Номер теста", K::Integer), Col("question", u"Номер вопроса по порядку", K::Integer),
        Col("upper", u"Верхняя ценность", K::Text), Col("upper_group", u"Группа верхней ценности", K::Integer),
        Col("lower", u"Нижняя ценность", K::Text),  Col("lower_group", u"Группа нижней ценности", K::Integer),
        Col("chosen", u"Выбор", K::Integer),        Col("response_ms", u"Время ответа, мс", K::Integer),
    };
    layout.Columns[6].CodeLabels = {{1, QStringLiteral("верхняя")}, {2, QStringLiteral("нижняя")}};
    return layout;
}

// Conversion of stored text for the writers that take whole rows.
std::string_view ToUtf8(QByteArrayView from, std::string& to)
{
    const Utf8Table& utf8 = Utf8Table::Get();
    // Every code is copied whole (four bytes), its length then decides how far the output moves on.
    to.resize(size_t(from.size()) * 3 + 1);
    char* out = to.data();
    for (const char byte : from) {
        const Utf8Table::Code& code = utf8[static_cast<unsigned char>(byte)];
        std::memcpy(out, &code, sizeof code);
        out += code.length;
    }
    to.resize(size_t(out - to.data()));
    return to;
}

// A row for the writers that take whole rows (XLSX, SAV): the cells are filled column by column,
// handed over by End and made empty again for the next row.
class CellRow final
{
public:
    CellRow(TableSink& sink, const TableLayout& layout)
        : m_sink(sink), m_cells(layout.Columns.size()), m_scratch(layout.Columns.size()), m_items(layout.Columns.size())
    {
        for (size_t c = 0; c < layout.Columns.size(); ++c)
            for (const QString& item : layout.Columns[c].Items)
                m_items[c].push_back(WithoutTrailingBlanks(ToCp1251(item)));
    }

    static QByteArrayView WithoutTrailingBlanks(QByteArrayView text)
    {
        while (!text.isEmpty() && text.back() == ' ')
            text.chop(1);
        return text;
    }
    static QByteArray WithoutTrailingBlanks(const QByteArray& text)
    {
        return WithoutTrailingBlanks(QByteArrayView(text)).toByteArray();
    }

    void Integer(qint64 value) { Next().Int = value; }
    void Real(double value) { Next().Real = value; }
    void Utf8(std::string_view text) { Next().Text = text; }
    void Cp1251(QByteArrayView text)
    {
        std::string& scratch = m_scratch[m_column];
        Next().Text = ToUtf8(text, scratch);
    }
    // A questionnaire answer: its item's index is found by matching the stored bytes against the
    // items in Windows-1251, so that no text is decoded for it.
    void Choice(QByteArrayView text)
    {
        const std::vector<QByteArray>& items = m_items[m_column];
        std::string& scratch = m_scratch[m_column];
        Cell& cell = Next();
        cell.Text = ToUtf8(text, scratch);
        cell.Int = -1;
        // The list's «Другое » ends in a blank that an answer stored by another writer may lack:
        // trailing blanks never tell two answers apart.
        const QByteArrayView key = WithoutTrailingBlanks(text);
        for (size_t i = 0; i < items.size(); ++i) {
            if (items[i] == key) {
                cell.Int = qint64(i);
                break;
            }
        }
    }
    // A questionnaire answer stored as its code.
    void Coded(qint64 code, std::string_view text)
    {
        Cell& cell = Next();
        cell.Int = code;
        cell.Text = text;
    }
    void DateTime(qint64 days, qint32 ms)
    {
        Cell& cell = Next();
        cell.Days = days;
        cell.Ms = ms;
    }
    void Empty() { ++m_column; }
    void End()
    {
        m_sink.Row(m_cells);
        std::fill(m_cells.begin(), m_cells.end(), Cell{});
        m_column = 0;
    }

private:
    Cell& Next()
    {
        Cell& cell = m_cells[m_column++];
        cell.Empty = false;
        return cell;
    }

    TableSink& m_sink;
    std::vector<Cell> m_cells;
    std::vector<std::string> m_scratch;
    std::vector<std::vector<QByteArray>> m_items;
    size_t m_column = 0;
};

// A row of a CSV table, written field by field: the text of an answer is all CSV shows of it.
class CsvRow final
{
public:
    explicit CsvRow(CsvFile& file) : m_file(file) {}

    void Integer(qint64 value) { m_file.Integer(value); }
    void Real(double value) { m_file.Real(value); }
    void Utf8(std::string_view text) { m_file.Utf8(text); }
    void Cp1251(QByteArrayView text) { m_file.Cp1251(text); }
    void Choice(QByteArrayView text) { m_file.Cp1251(text); }
    void Coded(qint64, std::string_view text) { m_file.Utf8(text); }
    void DateTime(qint64 days, qint32 ms) { m_file.DateTime(days, ms); }
    void Empty() { m_file.Empty(); }
    void End() { m_file.EndRow(); }

private:
    CsvFile& m_file;
};

// One selected value record: what its rank needs.
struct ValueEntry
{
    quint32 TestId;
    qint32 Wins;
};

// A value that won nothing has no value record; the answer log still names it.
struct UnrecordedValue
{
    quint32 TestId;
    quint8 Group;
    std::string Name; // UTF-8
};

// Which value of which test a name stands for, in eight bytes: comparing every answer's names
// with the value records needs no copy of the names.
quint64 ValueKey(quint32 testId, quint8 group, QByteArrayView name)
{
    quint64 hash = 14695981039346656037ull;
    const auto mix = [&hash](unsigned char byte) {
        hash ^= byte;
        hash *= 1099511628211ull;
    };
    for (int shift = 0; shift < 32; shift += 8)
        mix(static_cast<unsigned char>(testId >> shift));
    mix(group);
    for (const char byte : name)
        mix(static_cast<unsigned char>(byte));
    return hash;
}

// Ranks of one test's values, given in order of falling wins: 1 for the most wins, and ties share
// the mean of the places they take (places p .. q give (p + q) / 2). wins(k) is the k-th in that
// order; rank(k, r) takes its rank.
template <typename Wins, typename Rank> void RankInOrder(size_t count, const Wins& wins, const Rank& rank)
{
    for (size_t p = 0; p < count;) {
        size_t q = p;
        while (q + 1 < count && wins(q + 1) == wins(p))
            ++q;
        const float value = float(p + 1 + q + 1) / 2.0f;
        for (size_t k = p; k <= q; ++k)
            rank(k, value);
        p = q + 1;
    }
}

class Exporter final
{
public:
    Exporter(const QString& dataDir, const TestSelection& selection, const ExportProgress& progress)
        : m_snapshot(dataDir), m_selection(selection), m_progress(progress)
    {
        if (!m_snapshot.Exists(DataSnapshot::Tests) && !m_snapshot.Exists(DataSnapshot::Values))
            throw Error(QStringLiteral("В папке нет базы данных (tests.dat, values.dat): %1")
                            .arg(QDir::toNativeSeparators(dataDir)));
        m_total = 2 * (m_snapshot.Records(DataSnapshot::Tests) + m_snapshot.Records(DataSnapshot::Values) +
                       m_snapshot.Records(DataSnapshot::Answers));
        LoadGroupNames(dataDir);
        const QStringList& sex = SexQuestion().Items;
        for (int code = 0; code < 256; ++code)
            m_sexTexts[size_t(code)] = code < sex.size() ? sex.at(code).toStdString() : std::to_string(code);
    }

    // The writers that take the tables one after another.
    ExportResult Run(TableSink& sink)
    {
        CollectTests();
        CollectValues(nullptr);
        CollectUnrecordedValues();
        RankValues();
        const TableLayout tests = TestsLayout();
        sink.BeginTable(tests, qint64(m_testRows));
        {
            CellRow row(sink, tests);
            WriteTests(row);
        }
        sink.EndTable();
        const TableLayout values = ValuesLayout();
        sink.BeginTable(values, qint64(m_values.size()));
        {
            CellRow row(sink, values);
            WriteValues(row);
            WriteUnrecordedValues(row);
        }
        sink.EndTable();
        // Tests saved before the answer log existed have no answers; without any the table is
        // left out rather than written empty.
        if (m_snapshot.Exists(DataSnapshot::Answers)) {
            const TableLayout answers = AnswersLayout();
            sink.BeginTable(answers, m_answerRows);
            {
                CellRow row(sink, answers);
                WriteAnswers(row);
            }
            sink.EndTable();
        }
        return Result();
    }

    // CSV writes each table into a file of its own, so the values table can be written by the
    // same read of values.dat that gathers the ranks, before the tests table that needs them.
    // That holds while each test's values come together in the file, as every save writes them,
    // and while the values without a record (which won nothing) rank below every stored one, as
    // they do when every stored value won something: otherwise the table is written again by a
    // second read, the way the other formats are.
    ExportResult RunCsv(const QString& folder, std::vector<std::unique_ptr<CsvFile>>& files)
    {
        const TableLayout tests = TestsLayout();
        const TableLayout values = ValuesLayout();
        const TableLayout answers = AnswersLayout();
        files.push_back(std::make_unique<CsvFile>(folder, tests));
        files.push_back(std::make_unique<CsvFile>(folder, values));
        if (m_snapshot.Exists(DataSnapshot::Answers))
            files.push_back(std::make_unique<CsvFile>(folder, answers));
        CsvFile& valuesFile = *files[1];
        CollectTests();
        CollectValues(&valuesFile);
        if (m_oneRead)
            valuesFile.StartWriteback();
        CollectUnrecordedValues();
        RankValues();
        {
            CsvRow row(*files[0]);
            WriteTests(row);
        }
        files[0]->StartWriteback();
        {
            CsvRow row(valuesFile);
            if (OneReadHeld()) {
                m_result.SkippedOrphans += m_valueOrphans;
                Advance(size_t(m_snapshot.Records(DataSnapshot::Values)));
            } else {
                valuesFile.Rewind();
                WriteValues(row);
            }
            WriteUnrecordedValues(row);
        }
        valuesFile.StartWriteback();
        if (files.size() > 2) {
            CsvRow row(*files[2]);
            WriteAnswers(row);
        }
        // The disk has been writing each file since it was complete; the syncs wait for the rest.
        for (const auto& file : files)
            file->Finish();
        return Result();
    }

    // Whether the values table written while the ranks were gathered is the one a second read
    // would write.
    bool OneReadHeld() const
    {
        return m_oneRead && m_writtenRanks.size() == m_storedValues &&
               std::equal(m_writtenRanks.begin(), m_writtenRanks.end(), m_ranks.begin());
    }

private:
    ExportResult Result()
    {
        m_result.Tests = qint64(m_testRows);
        m_result.Values = qint64(m_values.size());
        m_result.Answers = m_answerRows;
        return m_result;
    }

    void Advance(size_t records)
    {
        m_done += qint64(records);
        if (m_progress && !m_progress(m_done, m_total))
            throw Cancelled();
    }

    // The groups are named as the catalogue beside the data folder names them now, as the history
    // window does, from config.ini itself: a group whose item file is missing keeps its name. Without
    // a catalogue the names stay empty and the numbers still tell the groups.
    void LoadGroupNames(const QString& dataDir)
    {
        const QString exeDir = QFileInfo(QDir::cleanPath(QDir(dataDir).absolutePath())).path() + u'/';
        if (!QFileInfo::exists(exeDir + QStringLiteral("config.ini")))
            return;
        for (const QString& name : GroupNamesOf(exeDir + QStringLiteral("config.ini")))
            m_groupNames.push_back(name.toStdString());
    }

    void CollectTests()
    {
        DataSnapshot::Reader reader(m_snapshot, DataSnapshot::Tests);
        const char* block;
        while (const size_t count = reader.Next(block)) {
            const auto* records = reinterpret_cast<const TvsDBTestRec*>(block);
            for (size_t i = 0; i < count; ++i) {
                if (m_selection.Contains(records[i].Id())) {
                    m_testIds.push_back(records[i].Id());
                    ++m_testRows;
                }
            }
            Advance(count);
        }
        std::sort(m_testIds.begin(), m_testIds.end());
        m_testIds.erase(std::unique(m_testIds.begin(), m_testIds.end()), m_testIds.end());
        m_lastTestIndex = kUnknown;
        m_valueCounts.assign(m_testIds.size(), 0);
        m_hasAnswers.assign(m_testIds.size(), false);
        m_consistency.assign(m_testIds.size(), Figures{});
    }

    // Position of the test among the selected ones, or -1. A test's records follow one another,
    // so the last answer is nearly always the next one too; and the tests are saved in the order
    // of their numbers, so the one after is nearly always the next test.
    qsizetype TestIndex(quint32 id) const
    {
        if (id == m_lastTestId && m_lastTestIndex != kUnknown)
            return m_lastTestIndex;
        const size_t next = size_t(m_lastTestIndex + 1);
        if (m_lastTestIndex >= 0 && next < m_testIds.size() && m_testIds[next] == id) {
            m_lastTestId = id;
            m_lastTestIndex = qsizetype(next);
            return m_lastTestIndex;
        }
        const auto at = std::lower_bound(m_testIds.begin(), m_testIds.end(), id);
        m_lastTestId = id;
        m_lastTestIndex = at != m_testIds.end() && *at == id ? at - m_testIds.begin() : -1;
        return m_lastTestIndex;
    }

    bool Wanted(quint32 testId)
    {
        if (!m_selection.Contains(testId))
            return false;
        if (TestIndex(testId) < 0) {
            ++m_result.SkippedOrphans;
            return false;
        }
        return true;
    }

    // Ranks need every value of a test, and nothing makes a test's records adjacent in the file:
    // this first read keeps the few bytes a rank needs. Given a CSV file, it also writes the rows of
    // each test as soon as the test's values end, for as long as no test comes back later.
    void CollectValues(CsvFile* csv)
    {
        // Only an answer log can name values that have no record.
        const bool keys = m_snapshot.Records(DataSnapshot::Answers) > 0;
        m_values.reserve(size_t(m_snapshot.Records(DataSnapshot::Values)));
        m_oneRead = csv != nullptr;
        if (m_oneRead)
            m_writtenRanks.reserve(m_values.capacity());
        std::vector<bool> started(m_oneRead ? m_testIds.size() : 0);
        const qint64 orphansBefore = m_result.SkippedOrphans;
        DataSnapshot::Reader reader(m_snapshot, DataSnapshot::Values);
        const char* block;
        while (const size_t count = reader.Next(block)) {
            const auto* records = reinterpret_cast<const TvsDBValueRec*>(block);
            for (size_t i = 0; i < count; ++i) {
                const TvsDBValueRec& value = records[i];
                const quint32 testId = quint32(value.TestId());
                if (!Wanted(testId))
                    continue;
                const qint32 wins = value.Score();
                m_values.push_back(ValueEntry{testId, wins});
                if (keys)
                    m_valueKeys.push_back(ValueKey(testId, value.TypeNumber(), value.NameBytes()));
                if (!m_oneRead)
                    continue;
                if (!m_run.empty() && m_runTestId != testId)
                    WriteRun(*csv);
                if (m_run.empty()) {
                    const size_t test = size_t(TestIndex(testId));
                    if (started[test]) {
                        // The test's values are scattered: the second read writes the table.
                        m_oneRead = false;
                        m_run.clear();
                        m_runWins.clear();
                        m_carried.clear();
                        std::vector<float>().swap(m_writtenRanks);
                        continue;
                    }
                    started[test] = true;
                    m_runTestId = testId;
                }
                m_run.push_back(&value);
                m_runWins.push_back(wins);
            }
            // The block is read over by the next one: the unfinished test's records are kept.
            for (size_t k = m_carried.size(); k < m_run.size(); ++k) {
                m_carried.push_back(*m_run[k]);
                m_run[k] = &m_carried.back();
            }
            Advance(count);
        }
        if (m_oneRead && !m_run.empty())
            WriteRun(*csv);
        m_storedValues = m_values.size();
        // Counted again, and reported, by the writing pass; kept for when there is none.
        m_valueOrphans = m_result.SkippedOrphans - orphansBefore;
        m_result.SkippedOrphans = orphansBefore;
        std::sort(m_valueKeys.begin(), m_valueKeys.end());
    }

    // The rows of one test's values in file order, ranked among themselves.
    void WriteRun(CsvFile& csv)
    {
        m_runOrder.resize(m_run.size());
        for (size_t k = 0; k < m_run.size(); ++k)
            m_runOrder[k] = quint32(k);
        const auto wins = [this](size_t k) { return m_runWins[m_runOrder[k]]; };
        std::sort(m_runOrder.begin(), m_runOrder.end(),
                  [this](quint32 a, quint32 b) { return m_runWins[a] > m_runWins[b]; });
        m_runRanks.resize(m_run.size());
        RankInOrder(m_run.size(), wins, [this](size_t k, float rank) { m_runRanks[m_runOrder[k]] = rank; });
        CsvRow row(csv);
        for (size_t k = 0; k < m_run.size(); ++k) {
            ValueRow(row, *m_run[k], m_runTestId, m_runWins[k], m_runRanks[k]);
            m_writtenRanks.push_back(m_runRanks[k]);
        }
        m_run.clear();
        m_runWins.clear();
        m_carried.clear();
    }

    bool WantedAnswer(const TvsDBAnswerRec& answer)
    {
        if (!m_selection.Contains(answer.TestId()))
            return false;
        if (TestIndex(answer.TestId()) < 0) {
            ++m_result.SkippedOrphans;
            return false;
        }
        return true;
    }

    void CollectUnrecordedValues()
    {
        // A value without a record is named by every answer about it: each is taken once. A test
        // has one or two such values, a large database a hundred thousand of them.
        std::unordered_set<quint64> seen;
        // The answers of a test come together and name its few values again and again: the names
        // of the current test already dealt with are kept, and only a new one is looked for among
        // all value records, a cache miss each.
        constexpr size_t kKnownNames = 32;
        std::vector<quint64> known;
        quint32 knownTest = 0;
        DataSnapshot::Reader reader(m_snapshot, DataSnapshot::Answers);
        const char* block;
        while (const size_t count = reader.Next(block)) {
            const auto* records = reinterpret_cast<const TvsDBAnswerRec*>(block);
            for (size_t i = 0; i < count; ++i) {
                const TvsDBAnswerRec& answer = records[i];
                if (!WantedAnswer(answer))
                    continue;
                ++m_answerRows;
                m_hasAnswers[size_t(TestIndex(answer.TestId()))] = true;
                const std::pair<quint8, QByteArrayView> names[] = {{answer.UpperGroup(), answer.UpperBytes()},
                                                                   {answer.LowerGroup(), answer.LowerBytes()}};
                if (answer.TestId() != knownTest) {
                    known.clear();
                    knownTest = answer.TestId();
                }
                for (const auto& [group, name] : names) {
                    const quint64 key = ValueKey(answer.TestId(), group, name);
                    if (std::find(known.begin(), known.end(), key) != known.end())
                        continue;
                    if (known.size() < kKnownNames)
                        known.push_back(key);
                    if (std::binary_search(m_valueKeys.begin(), m_valueKeys.end(), key))
                        continue;
                    if (!seen.insert(key).second)
                        continue;
                    std::string utf8;
                    ToUtf8(name, utf8);
                    m_unrecorded.push_back(UnrecordedValue{answer.TestId(), group, std::move(utf8)});
                    m_values.push_back(ValueEntry{answer.TestId(), 0});
                }
            }
            Advance(count);
        }
        m_result.SkippedOrphans = 0;
        std::vector<quint64>().swap(m_valueKeys);
    }

    void RankValues()
    {
        // Ranks need each test's values together. A save writes them one after another, so in any
        // file the program wrote they already are: then each run is ordered on its own, and only a
        // file where a test's values are scattered pays for ordering all of them at once.
        std::vector<quint32> order(m_values.size());
        for (size_t i = 0; i < order.size(); ++i)
            order[i] = quint32(i);
        const auto byTestThenWins = [this](quint32 a, quint32 b) {
            const ValueEntry& x = m_values[a];
            const ValueEntry& y = m_values[b];
            return x.TestId != y.TestId ? x.TestId < y.TestId : x.Wins > y.Wins;
        };
        std::vector<bool> started(m_testIds.size());
        bool adjacent = true;
        for (size_t first = 0; adjacent && first < order.size();) {
            size_t end = first + 1;
            while (end < order.size() && m_values[end].TestId == m_values[first].TestId)
                ++end;
            const size_t test = size_t(TestIndex(m_values[first].TestId));
            adjacent = !started[test];
            started[test] = true;
            std::sort(order.begin() + qsizetype(first), order.begin() + qsizetype(end), byTestThenWins);
            first = end;
        }
        if (!adjacent) {
            for (size_t i = 0; i < order.size(); ++i)
                order[i] = quint32(i);
            std::sort(order.begin(), order.end(), byTestThenWins);
        }
        m_ranks.assign(m_values.size(), 0);
        for (size_t first = 0; first < order.size();) {
            const quint32 testId = m_values[order[first]].TestId;
            size_t end = first;
            while (end < order.size() && m_values[order[end]].TestId == testId)
                ++end;
            const size_t test = size_t(TestIndex(testId));
            m_valueCounts[test] = qint32(end - first);
            Consistency(test, first, end, order);
            const quint32* run = order.data() + first;
            RankInOrder(
                end - first, [&](size_t k) { return m_values[run[k]].Wins; },
                [&](size_t k, float rank) { m_ranks[run[k]] = rank; });
            first = end;
        }
    }

    // With an answer log every value of the test is known, those that won nothing included; without
    // one the number of values is what the stored wins can add up to.
    void Consistency(size_t test, size_t first, size_t end, const std::vector<quint32>& order)
    {
        m_wins.clear();
        for (size_t k = first; k < end; ++k)
            m_wins.push_back(m_values[order[k]].Wins);
        const TvsConsistency figures = m_hasAnswers[test] ? ConsistencyFromWins(m_wins) : ConsistencyFromScores(m_wins);
        if (figures.Valid) {
            m_consistency[test] = Figures{true, figures.Triads, figures.Zeta, figures.PRandom};
            // The values compared, as the consistency counts them: a value that won nothing has no
            // record in a test saved without its answers, and still took part.
            m_valueCounts[test] = figures.N;
        }
    }

    // The record's own day and time are taken as they are, not through a local clock: no zone
    // shifts a test taken in the hour that a change to summer time skips.
    template <typename Row> static void Date(Row& row, double date)
    {
        qint64 days;
        qint32 ms;
        // Beyond any calendar; the writers refuse days no year can hold.
        if (!layout::SplitRecordDate(date, days, ms)) {
            row.Empty();
            return;
        }
        row.DateTime(days, ms);
    }

    template <typename Row> void GroupName(Row& row, size_t group) const
    {
        if (group >= 1 && group <= m_groupNames.size())
            row.Utf8(m_groupNames[group - 1]);
        else
            row.Empty();
    }

    template <typename Row> void WriteTests(Row& row)
    {
        DataSnapshot::Reader reader(m_snapshot, DataSnapshot::Tests);
        const char* block;
        using T = TvsDBTestRec::Text;
        static constexpr T kChoices[] = {T::Social,       T::Children, T::PlaceOfLiving, T::Education,
                                         T::SocialStatus, T::Bussines, T::MaterialLevel};
        while (const size_t count = reader.Next(block)) {
            const auto* records = reinterpret_cast<const TvsDBTestRec*>(block);
            for (size_t i = 0; i < count; ++i) {
                const TvsDBTestRec& test = records[i];
                if (!m_selection.Contains(test.Id()))
                    continue;
                row.Integer(test.Id());
                row.Cp1251(test.TextBytes(T::Fio));
                Date(row, test.Date());
                // An age left empty is stored as 0; as a number it would pull a mean age down.
                if (test.Age() != 0)
                    row.Integer(test.Age());
                else
                    row.Empty();
                const quint8 sex = test.Sex();
                row.Coded(sex, m_sexTexts[sex]);
                for (const T choice : kChoices)
                    row.Choice(test.TextBytes(choice));
                for (int g = 1; g <= 4; ++g)
                    row.Integer(test.TypeScore(g));
                const size_t index = size_t(TestIndex(test.Id()));
                row.Integer(m_valueCounts[index]);
                if (const Figures& figures = m_consistency[index]; figures.Valid) {
                    row.Integer(figures.Triads);
                    row.Real(figures.Zeta);
                    row.Real(figures.PRandom);
                } else {
                    row.Empty();
                    row.Empty();
                    row.Empty();
                }
                row.End();
            }
            Advance(count);
        }
    }

    // testId and wins are the record's, already read by the caller.
    template <typename Row>
    void ValueRow(Row& row, const TvsDBValueRec& value, quint32 testId, qint32 wins, float rank) const
    {
        const quint8 group = value.TypeNumber();
        row.Integer(testId);
        row.Integer(value.Id());
        row.Integer(group);
        GroupName(row, group);
        row.Cp1251(value.NameBytes());
        row.Integer(wins);
        row.Real(rank);
        row.End();
    }

    template <typename Row> void WriteValues(Row& row)
    {
        DataSnapshot::Reader reader(m_snapshot, DataSnapshot::Values);
        const char* block;
        size_t at = 0;
        while (const size_t count = reader.Next(block)) {
            const auto* records = reinterpret_cast<const TvsDBValueRec*>(block);
            for (size_t i = 0; i < count; ++i) {
                const TvsDBValueRec& value = records[i];
                const quint32 testId = quint32(value.TestId());
                if (Wanted(testId))
                    ValueRow(row, value, testId, value.Score(), m_ranks[at++]);
            }
            Advance(count);
        }
    }

    template <typename Row> void WriteUnrecordedValues(Row& row)
    {
        for (size_t k = 0; k < m_unrecorded.size(); ++k) {
            const UnrecordedValue& value = m_unrecorded[k];
            row.Integer(value.TestId);
            row.Empty();
            row.Integer(value.Group);
            GroupName(row, value.Group);
            row.Utf8(value.Name);
            row.Integer(0);
            row.Real(m_ranks[m_storedValues + k]);
            row.End();
        }
    }

    template <typename Row> void WriteAnswers(Row& row)
    {
        DataSnapshot::Reader reader(m_snapshot, DataSnapshot::Answers);
        const char* block;
        while (const size_t count = reader.Next(block)) {
            const auto* records = reinterpret_cast<const TvsDBAnswerRec*>(block);
            for (size_t i = 0; i < count; ++i) {
                const TvsDBAnswerRec& answer = records[i];
                if (!WantedAnswer(answer))
                    continue;
                row.Integer(answer.TestId());
                row.Integer(answer.Question());
                row.Cp1251(answer.UpperBytes());
                row.Integer(answer.UpperGroup());
                row.Cp1251(answer.LowerBytes());
                row.Integer(answer.LowerGroup());
                row.Integer(answer.Chosen());
                row.Integer(answer.ResponseMs());
                row.End();
            }
            Advance(count);
        }
    }

    DataSnapshot m_snapshot;
    const TestSelection& m_selection;
    const ExportProgress& m_progress;
    qint64 m_total = 0;
    qint64 m_done = 0;
    ExportResult m_result;
    std::vector<std::string> m_groupNames;
    std::array<std::string, 256> m_sexTexts; // the item of each stored code, or the code itself
    std::vector<quint32> m_testIds;          // selected tests, sorted, each once
    static constexpr qsizetype kUnknown = -2;
    mutable quint32 m_lastTestId = 0;
    mutable qsizetype m_lastTestIndex = kUnknown;
    size_t m_testRows = 0; // selected test records, a number twice counting twice
    std::vector<qint32> m_valueCounts;
    struct Figures
    {
        bool Valid = false; // false when the wins cannot come from one complete comparison
        qint64 Triads = 0;
        double Zeta = 0;
        double PRandom = 0;
    };
    std::vector<Figures> m_consistency; // per selected test
    std::vector<bool> m_hasAnswers;     // per selected test
    std::vector<qint64> m_wins;
    std::vector<ValueEntry> m_values; // the selected value records in file order, then m_unrecorded
    size_t m_storedValues = 0;
    qint64 m_valueOrphans = 0;        // value records of tests that do not exist
    std::vector<quint64> m_valueKeys; // sorted; only while the answers are looked through
    std::vector<UnrecordedValue> m_unrecorded;
    qint64 m_answerRows = 0;
    std::vector<float> m_ranks;
    // The values table written by the first read: the test being read and its ranks.
    bool m_oneRead = false;
    std::vector<const TvsDBValueRec*> m_run;
    std::vector<qint32> m_runWins;
    quint32 m_runTestId = 0;
    std::deque<TvsDBValueRec> m_carried; // its records from earlier blocks
    std::vector<quint32> m_runOrder;
    std::vector<float> m_runRanks;
    std::vector<float> m_writtenRanks; // of every row written, to be checked against m_ranks
};
// The folder an export writes into: made when missing, and taken away again when the export
// fails while it is still empty.
class OutputFolder final
{
public:
    explicit OutputFolder(const QString& path) : m_path(path)
    {
        const QFileInfo info(path);
        if (info.exists() && !info.isDir())
            throw Error(QStringLiteral("Вывод должен быть папкой, а это файл: %1").arg(QDir::toNativeSeparators(path)));
        if (!info.exists()) {
            if (!QDir().mkpath(path))
                throw Error(QStringLiteral("Не удалось создать папку: %1").arg(QDir::toNativeSeparators(path)));
            m_created = true;
        }
    }
    ~OutputFolder()
    {
        if (m_created && !m_kept)
            QDir().rmdir(m_path);
    }
    void Keep() { m_kept = true; }

private:
    QString m_path;
    bool m_created = false;
    bool m_kept = false;
};

void CheckWorkbookOutput(const QString& output)
{
    if (QFileInfo(output).isDir())
        throw Error(
            QStringLiteral("Для xlsx вывод — файл книги, а это папка: %1").arg(QDir::toNativeSeparators(output)));
}

} // namespace

std::optional<ExportFormat> ExportFormatNamed(const QString& name)
{
    if (name == u"csv")
        return ExportFormat::Csv;
    if (name == u"xlsx")
        return ExportFormat::Xlsx;
    if (name == u"sav")
        return ExportFormat::Sav;
    return std::nullopt;
}

void WriteTables(ExportFormat format, const QString& output, const std::function<void(TableSink&)>& fill)
{
    std::unique_ptr<OutputFolder> folder;
    // Declared after the folder: a failed writing takes its files away before the folder.
    std::unique_ptr<TableSink> sink;
    if (format == ExportFormat::Xlsx) {
        CheckWorkbookOutput(output);
        sink = MakeXlsxSink(output);
    } else {
        folder = std::make_unique<OutputFolder>(output);
        sink = format == ExportFormat::Sav ? MakeSavSink(output) : MakeCsvSink(output);
    }
    fill(*sink);
    sink->Commit();
    if (folder)
        folder->Keep();
}

ExportResult ExportTables(const QString& dataDir, ExportFormat format, const TestSelection& selection,
                          const QString& output, const ExportProgress& progress)
{
    Exporter exporter(dataDir, selection, progress);
    std::unique_ptr<OutputFolder> folder;
    // Declared after the folder: a failed export takes its files away before the folder.
    std::unique_ptr<TableSink> sink;
    std::vector<std::unique_ptr<CsvFile>> csvFiles;
    if (format == ExportFormat::Xlsx) {
        CheckWorkbookOutput(output);
        sink = MakeXlsxSink(output);
    } else {
        folder = std::make_unique<OutputFolder>(output);
        if (format == ExportFormat::Sav)
            sink = MakeSavSink(output);
    }
    try {
        ExportResult result;
        if (sink) {
            result = exporter.Run(*sink);
            sink->Commit();
        } else {
            result = exporter.RunCsv(output, csvFiles);
            for (const auto& file : csvFiles)
                file->Commit();
        }
        if (folder)
            folder->Keep();
        return result;
    } catch (const Cancelled&) {
        ExportResult result;
        result.Cancelled = true;
        return result;
    } catch (const std::bad_alloc&) {
        throw Error(QStringLiteral("Экспорт не выполнен: недостаточно памяти"));
    }
}

} // namespace kv
