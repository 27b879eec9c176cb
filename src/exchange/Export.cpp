#include "exchange/Export.h"

#include "analysis/Consistency.h"
#include "catalogue/Catalogue.h"
#include "database/uvsDataBase.h"
#include "exchange/DataSnapshot.h"
#include "exchange/TableSink.h"
#include "platform/Codec.h"
#include "platform/Errors.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <string>

namespace kv {

namespace {

struct Cancelled
{
};

// Windows-1251 to UTF-8 a byte at a time, the table made once through the program's codec: names
// of a million value records are converted without a QString each.
class Utf8Table final
{
public:
    Utf8Table()
    {
        for (int b = 0; b < 256; ++b) {
            const char byte = char(b);
            // A zero byte inside stored text is damage; C strings downstream would end there.
            const QString text = b == 0 ? QString(QChar::ReplacementCharacter) : FromCp1251(QByteArrayView(&byte, 1));
            const QByteArray utf8 = text.toUtf8().left(3);
            m_codes[size_t(b)].length = quint8(utf8.size());
            m_codes[size_t(b)].special = b == ',' || b == '"' || b == '\r' || b == '\n';
            std::memcpy(m_codes[size_t(b)].bytes, utf8.constData(), size_t(utf8.size()));
        }
    }
    // Returns whether the text holds a character that CSV has to quote, found on the way.
    bool Convert(QByteArrayView from, std::string& to) const
    {
        // Every Windows-1251 character is at most three bytes of UTF-8.
        to.resize(size_t(from.size()) * 3);
        char* out = to.data();
        bool special = false;
        for (const char byte : from) {
            const Code& code = m_codes[static_cast<unsigned char>(byte)];
            std::memcpy(out, code.bytes, 3);
            out += code.length;
            special |= code.special;
        }
        to.resize(size_t(out - to.data()));
        return special;
    }

private:
    struct Code
    {
        quint8 length = 0;
        char bytes[3] = {};
        bool special = false;
    };
    std::array<Code, 256> m_codes;
};

const Utf8Table& Utf8Of()
{
    static const Utf8Table table;
    return table;
}

QStringList Items(std::initializer_list<const char16_t*> items)
{
    QStringList list;
    for (const char16_t* item : items)
        list << QString::fromUtf16(item);
    return list;
}

// The questionnaire's lists in the results window's order; a stored answer is its item's text.
const QStringList& SexItems()
{
    static const QStringList items = Items({u"Нет ответа", u"Мужской", u"Женский"});
    return items;
}

Column Col(const char* name, const char16_t* label, ColumnKind kind, QStringList items = {})
{
    Column column;
    column.Name = name;
    column.Label = QString::fromUtf16(label);
    column.Kind = kind;
    column.Items = std::move(items);
    return column;
}

TableSpec TestsSpec()
{
    using K = ColumnKind;
    const auto choice = [](const char* name, const char16_t* label, QStringList items) {
        Column column = Col(name, label, K::Choice);
        column.Items = std::move(items);
        column.KeepsOtherText = true;
        return column;
    };
    TableSpec spec{"tests", QStringLiteral("Тесты"), {}};
    spec.Columns = {
        Col("test_id", u"Номер теста", K::Integer),
        Col("name", u"Фамилия, имя, отчество", K::Text),
        Col("date", u"Дата и время теста", K::DateTime),
        Col("age", u"Возраст, полных лет", K::Integer),
        Col("sex", u"Пол", K::Choice, SexItems()),
        choice("family_status", u"Семейное положение",
               Items({u"Нет ответа", u"Холост", u"Гражданский брак", u"Женат / замужем", u"Разведен / разведена"})),
        choice("children", u"Наличие детей",
               Items({u"Нет ответа", u"Нет детей", u"Один ребенок", u"Два ребенка", u"Три и более детей",
                      u"Врослые самостоятельные дети", u"Другое"})),
        choice("residence", u"Место проживания",
               Items({u"Нет ответа", u"Москва", u"Санкт-Петербург", u"Областной, краевой центр", u"Районный центр",
                      u"Поселок, село"})),
        choice("education", u"Образование",
               Items({u"Нет ответа", u"Среднее", u"Среднее специальное", u"Высшее", u"Академическое"})),
        choice("social_status", u"Социальный статус",
               Items({u"Нет ответа", u"Учащийся, студент, аспирант", u"Рабочий", u"Безработный",
                      u"Госслужайщий / бюджетник", u"Сотрудник коммерческой компании", u"Топ-менеджер, руководитель",
                      u"Бизнесмен / предприниматель", u"Пенсионер", u"Безработный", u"Другое "})),
        choice("occupation", u"Сфера деятельности",
               Items({u"Нет ответа", u"Политика", u"Властные структуры", u"СМИ", u"Производство", u"Торговля",
                      u"Здравоохранение", u"Образование", u"Услуги населению", u"Услуги предприятиям",
                      u"Частный бизнес", u"Другое"})),
        choice("income_level", u"Уровень материального благосостояния",
               Items({u"Нет ответа", u"Недостаточный", u"Низкий", u"Ниже среднего", u"Средний", u"Выше среднего",
                      u"Высокий"})),
        Col("score_ideological", u"Баллы группы 1 (идеологические ценности)", K::Integer),
        Col("score_material", u"Баллы группы 2 (материальные ценности)", K::Integer),
        Col("score_emotional", u"Баллы группы 3 (эмоциональные ценности)", K::Integer),
        Col("score_vital", u"Баллы группы 4 (витальные ценности)", K::Integer),
        Col("n_values", u"Число ценностей теста", K::Integer),
        Col("circular_triads", u"Число циклических триад", K::Integer),
        Col("consistency", u"Коэффициент согласованности (1 — без противоречий)", K::Real),
        Col("p_random", u"Вероятность такой согласованности при случайных ответах", K::Real),
    };
    return spec;
}

TableSpec ValuesSpec()
{
    using K = ColumnKind;
    TableSpec spec{"values", QStringLiteral("Ценности тестов"), {}};
    spec.Columns = {
        Col("test_id", u"Номер теста", K::Integer),
        Col("value_id", u"Номер записи ценности", K::Integer),
        Col("group", u"Номер группы", K::Integer),
        Col("group_name", u"Группа", K::Text),
        Col("value", u"Ценность", K::Text),
        Col("wins", u"Число побед", K::Integer),
        Col("rank", u"Место в тесте (1 — больше всего побед)", K::Real),
    };
    return spec;
}

TableSpec AnswersSpec()
{
    using K = ColumnKind;
    TableSpec spec{"answers", QStringLiteral("Ответы на вопросы"), {}};
    spec.Columns = {
        Col("test_id", u"Номер теста", K::Integer), Col("question", u"Номер вопроса по порядку", K::Integer),
        Col("upper", u"Верхняя ценность", K::Text), Col("upper_group", u"Группа верхней ценности", K::Integer),
        Col("lower", u"Нижняя ценность", K::Text),  Col("lower_group", u"Группа нижней ценности", K::Integer),
        Col("chosen", u"Выбор", K::Integer),        Col("response_ms", u"Время ответа, мс", K::Integer),
    };
    spec.Columns[6].CodeLabels = {{1, QStringLiteral("верхняя")}, {2, QStringLiteral("нижняя")}};
    return spec;
}

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
    }

    ExportResult Run(TableSink& sink)
    {
        CollectTests();
        CollectValues();
        CollectUnrecordedValues();
        RankValues();
        const TableSpec tests = TestsSpec();
        sink.BeginTable(tests, qint64(m_testRows));
        WriteTests(sink, tests);
        sink.EndTable();
        const TableSpec values = ValuesSpec();
        sink.BeginTable(values, qint64(m_values.size()));
        WriteValues(sink, values);
        sink.EndTable();
        // Tests saved before the answer log existed have no answers; without any the table is
        // left out rather than written empty.
        if (m_snapshot.Exists(DataSnapshot::Answers)) {
            const TableSpec answers = AnswersSpec();
            sink.BeginTable(answers, m_answerRows);
            WriteAnswers(sink, answers);
            sink.EndTable();
        }
        m_result.Tests = qint64(m_testRows);
        m_result.Values = qint64(m_values.size());
        m_result.Answers = m_answerRows;
        return m_result;
    }

private:
    void Advance(size_t records)
    {
        m_done += qint64(records);
        if (m_progress && !m_progress(m_done, m_total))
            throw Cancelled();
    }

    // The groups are named as the catalogue beside the data folder names them now, as the history
    // window does; without a catalogue the names stay empty and the numbers still tell the groups.
    void LoadGroupNames(const QString& dataDir)
    {
        const QString exeDir = QFileInfo(QDir::cleanPath(QDir(dataDir).absolutePath())).path() + u'/';
        if (!QFileInfo::exists(exeDir + QStringLiteral("config.ini")))
            return;
        try {
            TvsValueTypeList catalogue;
            ReadCatalogue(exeDir, QStringLiteral("config.ini"), catalogue);
            for (int g = 0; g < catalogue.Count() && g < 255; ++g)
                m_groupNames.push_back(catalogue.Items(g).Name.toStdString());
        } catch (const Error&) {
            m_groupNames.clear();
        }
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
    // so the last answer is nearly always the next one too.
    qsizetype TestIndex(quint32 id) const
    {
        if (id == m_lastTestId && m_lastTestIndex != kUnknown)
            return m_lastTestIndex;
        const auto at = std::lower_bound(m_testIds.begin(), m_testIds.end(), id);
        m_lastTestId = id;
        m_lastTestIndex = at != m_testIds.end() && *at == id ? at - m_testIds.begin() : -1;
        return m_lastTestIndex;
    }

    bool Wanted(const TvsDBValueRec& value)
    {
        const quint32 testId = quint32(value.TestId());
        if (!m_selection.Contains(testId))
            return false;
        if (TestIndex(testId) < 0) {
            ++m_result.SkippedOrphans;
            return false;
        }
        return true;
    }

    // Ranks need every value of a test, and nothing makes a test's records adjacent in the file:
    // a first pass keeps the few bytes a rank needs, the second writes the rows in file order.
    void CollectValues()
    {
        // Only an answer log can name values that have no record.
        const bool keys = m_snapshot.Records(DataSnapshot::Answers) > 0;
        m_values.reserve(size_t(m_snapshot.Records(DataSnapshot::Values)));
        DataSnapshot::Reader reader(m_snapshot, DataSnapshot::Values);
        const char* block;
        while (const size_t count = reader.Next(block)) {
            const auto* records = reinterpret_cast<const TvsDBValueRec*>(block);
            for (size_t i = 0; i < count; ++i) {
                const TvsDBValueRec& value = records[i];
                if (!Wanted(value))
                    continue;
                m_values.push_back(ValueEntry{quint32(value.TestId()), value.Score()});
                if (keys)
                    m_valueKeys.push_back(ValueKey(quint32(value.TestId()), value.TypeNumber(), value.NameBytes()));
            }
            Advance(count);
        }
        m_storedValues = m_values.size();
        m_result.SkippedOrphans = 0; // counted again, and reported, by the writing pass
        std::sort(m_valueKeys.begin(), m_valueKeys.end());
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
        std::vector<quint64> seen;
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
                for (const auto& [group, name] : names) {
                    const quint64 key = ValueKey(answer.TestId(), group, name);
                    if (std::binary_search(m_valueKeys.begin(), m_valueKeys.end(), key))
                        continue;
                    const auto at = std::lower_bound(seen.begin(), seen.end(), key);
                    if (at != seen.end() && *at == key)
                        continue;
                    seen.insert(at, key);
                    std::string utf8;
                    Utf8Of().Convert(name, utf8);
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
            // Ties share the mean of the places they take: places p .. q give (p + q) / 2.
            for (size_t p = first; p < end;) {
                size_t q = p;
                while (q + 1 < end && m_values[order[q + 1]].Wins == m_values[order[p]].Wins)
                    ++q;
                const float rank = float(p - first + 1 + q - first + 1) / 2.0f;
                for (size_t k = p; k <= q; ++k)
                    m_ranks[order[k]] = rank;
                p = q + 1;
            }
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
        if (figures.Valid)
            m_consistency[test] = Figures{true, figures.Triads, figures.Zeta, figures.PRandom};
    }

    void SetText(Cell& cell, std::string& scratch, QByteArrayView bytes)
    {
        cell.MayNeedQuotes = Utf8Of().Convert(bytes, scratch);
        cell.Empty = false;
        cell.Text = scratch;
    }

    static void SetInt(Cell& cell, qint64 value)
    {
        cell.Empty = false;
        cell.Int = value;
    }

    static void SetReal(Cell& cell, double value)
    {
        cell.Empty = false;
        cell.Real = value;
    }

    // Matched as stored bytes against the items in Windows-1251: no text is decoded for it.
    void SetChoice(Cell& cell, std::string& scratch, QByteArrayView bytes, const std::vector<QByteArray>& items)
    {
        SetText(cell, scratch, bytes);
        cell.Int = -1;
        for (size_t i = 0; i < items.size(); ++i) {
            if (items[i] == bytes) {
                cell.Int = qint64(i);
                break;
            }
        }
    }

    void WriteTests(TableSink& sink, const TableSpec& spec)
    {
        std::vector<Cell> cells(spec.Columns.size());
        std::vector<std::string> scratch(spec.Columns.size());
        std::vector<std::vector<QByteArray>> items(spec.Columns.size());
        for (size_t c = 0; c < spec.Columns.size(); ++c)
            for (const QString& item : spec.Columns[c].Items)
                items[c].push_back(ToCp1251(item));
        DataSnapshot::Reader reader(m_snapshot, DataSnapshot::Tests);
        const char* block;
        using T = TvsDBTestRec::Text;
        while (const size_t count = reader.Next(block)) {
            const auto* records = reinterpret_cast<const TvsDBTestRec*>(block);
            for (size_t i = 0; i < count; ++i) {
                const TvsDBTestRec& test = records[i];
                if (!m_selection.Contains(test.Id()))
                    continue;
                std::fill(cells.begin(), cells.end(), Cell{});
                SetInt(cells[0], test.Id());
                SetText(cells[1], scratch[1], test.TextBytes(T::Fio));
                SetDate(cells[2], test.Date());
                SetInt(cells[3], test.Age());
                const quint8 sex = test.Sex();
                scratch[4] = sex < SexItems().size() ? SexItems().at(sex).toStdString() : std::to_string(sex);
                cells[4].Empty = false;
                cells[4].Int = sex;
                cells[4].Text = scratch[4];
                const T texts[] = {T::Social,       T::Children, T::PlaceOfLiving, T::Education,
                                   T::SocialStatus, T::Bussines, T::MaterialLevel};
                for (size_t t = 0; t < std::size(texts); ++t)
                    SetChoice(cells[5 + t], scratch[5 + t], test.TextBytes(texts[t]), items[5 + t]);
                for (int g = 1; g <= 4; ++g)
                    SetInt(cells[size_t(11 + g)], test.TypeScore(g));
                const size_t index = size_t(TestIndex(test.Id()));
                SetInt(cells[16], m_valueCounts[index]);
                if (const Figures& figures = m_consistency[index]; figures.Valid) {
                    SetInt(cells[17], figures.Triads);
                    SetReal(cells[18], figures.Zeta);
                    SetReal(cells[19], figures.PRandom);
                }
                sink.Row(cells);
            }
            Advance(count);
        }
    }

    static void SetDate(Cell& cell, double date)
    {
        // Beyond any calendar; IsoDateTime and the writers refuse days no year can hold. The record's
        // own day and time are taken as they are, not through a local clock: no zone shifts a test
        // taken in the hour that a change to summer time skips.
        if (!std::isfinite(date) || std::fabs(date) > 1e9)
            return;
        const double whole = std::trunc(date);
        qint64 ms = std::llround(std::fabs(date - whole) * 86400000.0);
        qint64 days = qint64(whole);
        if (ms >= 86400000) {
            ms -= 86400000;
            days += date >= 0 ? 1 : -1;
        }
        cell.Empty = false;
        cell.Days = days;
        cell.Ms = qint32(ms);
    }

    void WriteValues(TableSink& sink, const TableSpec& spec)
    {
        std::vector<Cell> cells(spec.Columns.size());
        std::string name;
        DataSnapshot::Reader reader(m_snapshot, DataSnapshot::Values);
        const char* block;
        size_t row = 0;
        while (const size_t count = reader.Next(block)) {
            const auto* records = reinterpret_cast<const TvsDBValueRec*>(block);
            for (size_t i = 0; i < count; ++i) {
                const TvsDBValueRec& value = records[i];
                if (!Wanted(value))
                    continue;
                std::fill(cells.begin(), cells.end(), Cell{});
                SetInt(cells[0], quint32(value.TestId()));
                SetInt(cells[1], value.Id());
                SetInt(cells[2], value.TypeNumber());
                const size_t group = value.TypeNumber();
                if (group >= 1 && group <= m_groupNames.size()) {
                    cells[3].Empty = false;
                    cells[3].Text = m_groupNames[group - 1];
                }
                SetText(cells[4], name, value.NameBytes());
                SetInt(cells[5], value.Score());
                cells[6].Empty = false;
                cells[6].Real = m_ranks[row++];
                sink.Row(cells);
            }
            Advance(count);
        }
        for (size_t k = 0; k < m_unrecorded.size(); ++k) {
            const UnrecordedValue& value = m_unrecorded[k];
            std::fill(cells.begin(), cells.end(), Cell{});
            SetInt(cells[0], value.TestId);
            SetInt(cells[2], value.Group);
            if (value.Group >= 1 && value.Group <= m_groupNames.size()) {
                cells[3].Empty = false;
                cells[3].Text = m_groupNames[value.Group - 1];
            }
            cells[4].Empty = false;
            cells[4].Text = value.Name;
            SetInt(cells[5], 0);
            cells[6].Empty = false;
            cells[6].Real = m_ranks[m_storedValues + k];
            sink.Row(cells);
        }
    }

    void WriteAnswers(TableSink& sink, const TableSpec& spec)
    {
        std::vector<Cell> cells(spec.Columns.size());
        std::string upper;
        std::string lower;
        DataSnapshot::Reader reader(m_snapshot, DataSnapshot::Answers);
        const char* block;
        while (const size_t count = reader.Next(block)) {
            const auto* records = reinterpret_cast<const TvsDBAnswerRec*>(block);
            for (size_t i = 0; i < count; ++i) {
                const TvsDBAnswerRec& answer = records[i];
                if (!WantedAnswer(answer))
                    continue;
                std::fill(cells.begin(), cells.end(), Cell{});
                SetInt(cells[0], answer.TestId());
                SetInt(cells[1], answer.Question());
                SetText(cells[2], upper, answer.UpperBytes());
                SetInt(cells[3], answer.UpperGroup());
                SetText(cells[4], lower, answer.LowerBytes());
                SetInt(cells[5], answer.LowerGroup());
                SetInt(cells[6], answer.Chosen());
                SetInt(cells[7], answer.ResponseMs());
                sink.Row(cells);
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
    std::vector<quint32> m_testIds; // selected tests, sorted, each once
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
    std::vector<quint64> m_valueKeys; // sorted; only while the answers are looked through
    std::vector<UnrecordedValue> m_unrecorded;
    qint64 m_answerRows = 0;
    std::vector<float> m_ranks;
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

} // namespace

ExportResult ExportTables(const QString& dataDir, ExportFormat format, const TestSelection& selection,
                          const QString& output, const ExportProgress& progress)
{
    Exporter exporter(dataDir, selection, progress);
    std::unique_ptr<OutputFolder> folder;
    std::unique_ptr<TableSink> sink;
    if (format == ExportFormat::Xlsx) {
        if (QFileInfo(output).isDir())
            throw Error(
                QStringLiteral("Для xlsx вывод — файл книги, а это папка: %1").arg(QDir::toNativeSeparators(output)));
        sink = MakeXlsxSink(output);
    } else {
        folder = std::make_unique<OutputFolder>(output);
        sink = format == ExportFormat::Csv ? MakeCsvSink(output) : MakeSavSink(output);
    }
    try {
        ExportResult result = exporter.Run(*sink);
        sink->Commit();
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

int RunExport(const QStringList& args, QTextStream& out, QTextStream& err)
{
    const QString usage = QStringLiteral(
        "Использование: kvendar-data export [--format csv|xlsx|sav] [--tests СПИСОК] ПАПКА_ДАННЫХ ВЫВОД");
    QString formatName = QStringLiteral("csv");
    QString list;
    bool haveList = false;
    QStringList positional;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString& arg = args.at(i);
        const auto option = [&](const QString& name, QString& value) {
            if (arg == name) {
                if (i + 1 >= args.size())
                    return false;
                value = args.at(++i);
                return true;
            }
            if (arg.startsWith(name + u'=')) {
                value = arg.mid(name.size() + 1);
                return true;
            }
            return false;
        };
        if (option(QStringLiteral("--format"), formatName))
            continue;
        if (option(QStringLiteral("--tests"), list)) {
            haveList = true;
            continue;
        }
        if (arg.startsWith(u'-') && arg != u"-") {
            err << QStringLiteral("Неизвестный или неполный параметр «%1»").arg(arg) << Qt::endl << usage << Qt::endl;
            return 2;
        }
        positional << arg;
    }
    if (positional.size() != 2) {
        err << usage << Qt::endl;
        return 2;
    }
    ExportFormat format;
    if (formatName == u"csv")
        format = ExportFormat::Csv;
    else if (formatName == u"xlsx")
        format = ExportFormat::Xlsx;
    else if (formatName == u"sav")
        format = ExportFormat::Sav;
    else {
        err << QStringLiteral("Неизвестный формат «%1»: допустимы csv, xlsx, sav").arg(formatName) << Qt::endl;
        return 2;
    }
    TestSelection selection;
    try {
        if (haveList)
            selection = TestSelection::Parse(list);
    } catch (const Error& e) {
        err << e.message() << Qt::endl;
        return 2;
    }
    if (!QFileInfo(positional.at(0)).isDir()) {
        err << QStringLiteral("Папка данных не найдена: %1").arg(QDir::toNativeSeparators(positional.at(0)))
            << Qt::endl;
        return 2;
    }
    try {
        const ExportResult result = ExportTables(positional.at(0), format, selection, positional.at(1));
        out << QStringLiteral("Экспортировано: тестов %1, значений %2, ответов %3")
                   .arg(result.Tests)
                   .arg(result.Values)
                   .arg(result.Answers)
            << Qt::endl;
        if (result.SkippedOrphans > 0)
            out << QStringLiteral("Пропущено записей без теста: %1 (подробнее: kvendar-data check)")
                       .arg(result.SkippedOrphans)
                << Qt::endl;
        return 0;
    } catch (const Error& e) {
        err << e.message() << Qt::endl;
        return 1;
    }
}

} // namespace kv
