// The interpretation module: turns a test's ranking into an RTF document that explains it.
// It depends on nothing but the C++ standard library and include/kvendarres.h.
#include "kvendarres.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>
#include <vector>

namespace {

// ---- RTF text -------------------------------------------------------------------------------

void AppendEscapedByte(std::string& out, unsigned char byte)
{
    static const char kHex[] = "0123456789abcdef";
    if (byte == '\\' || byte == '{' || byte == '}') {
        out += '\\';
        out += static_cast<char>(byte);
    } else if (byte >= 0x80 || byte < 0x20) {
        out += "\\'";
        out += kHex[byte >> 4];
        out += kHex[byte & 0x0f];
    } else {
        out += static_cast<char>(byte);
    }
}

// Windows-1251 text from the program (names, questionnaire answers) goes in byte for byte.
void AppendCp1251(std::string& out, const char* data, int32_t length)
{
    for (int32_t i = 0; data != nullptr && i < length; ++i)
        AppendEscapedByte(out, static_cast<unsigned char>(data[i]));
}

// The byte of a code point in Windows-1251, or 0 when the code page lacks it.
unsigned char Cp1251Byte(char32_t c)
{
    if (c < 0x80)
        return static_cast<unsigned char>(c);
    if (c >= 0x0410 && c <= 0x044f)
        return static_cast<unsigned char>(0xc0 + (c - 0x0410));
    switch (c) {
    case 0x0401:
        return 0xa8; // Ё
    case 0x0451:
        return 0xb8; // ё
    case 0x00ab:
        return 0xab; // «
    case 0x00bb:
        return 0xbb; // »
    case 0x2013:
        return 0x96; // –
    case 0x2014:
        return 0x97; // —
    case 0x2116:
        return 0xb9; // №
    case 0x00a0:
        return 0xa0;
    default:
        return 0;
    }
}

// The module's own sentences are written in UTF-8 here and reach the document as \'hh under
// \ansicpg1251, with \u for anything the code page lacks.
void AppendUtf8(std::string& out, const std::string& text)
{
    for (size_t i = 0; i < text.size();) {
        const auto lead = static_cast<unsigned char>(text[i]);
        char32_t c = lead;
        size_t extra = 0;
        if (lead >= 0xf0) {
            c = lead & 0x07;
            extra = 3;
        } else if (lead >= 0xe0) {
            c = lead & 0x0f;
            extra = 2;
        } else if (lead >= 0xc0) {
            c = lead & 0x1f;
            extra = 1;
        }
        ++i;
        for (size_t k = 0; k < extra && i < text.size(); ++k, ++i)
            c = (c << 6) | (static_cast<unsigned char>(text[i]) & 0x3f);
        const unsigned char byte = Cp1251Byte(c);
        if (byte != 0 || c == 0) {
            AppendEscapedByte(out, byte);
        } else {
            out += "\\u";
            out += std::to_string(static_cast<int16_t>(c));
            out += '?';
        }
    }
}

std::string Number(long long n)
{
    return std::to_string(n);
}

// Russian agreement of a count with its noun: 1 балл, 2 балла, 5 баллов, 21 балл, 11 баллов.
std::string Plural(long long n, const char* one, const char* few, const char* many)
{
    const long long a = n < 0 ? -n : n;
    const long long tens = a % 100;
    const long long units = a % 10;
    if (tens >= 11 && tens <= 14)
        return many;
    if (units == 1)
        return one;
    if (units >= 2 && units <= 4)
        return few;
    return many;
}

std::string Points(long long n)
{
    return Number(n) + " " + Plural(n, "балл", "балла", "баллов");
}

std::string Choices(long long n)
{
    return Number(n) + " " + Plural(n, "выбор", "выбора", "выборов");
}

// ---- what the groups mean -------------------------------------------------------------------

struct GroupMeaning
{
    const char* leading; // when the group comes first
    const char* brief;   // its paragraph among the others
};

const GroupMeaning kMeanings[] = {
    {"Для Вас на первом месте стоят убеждения, идеи и принципы. Вы оцениваете жизнь по тому, насколько "
     "она согласуется с Вашими представлениями о справедливости, долге и смысле. Такие люди обычно "
     "последовательны в поступках, готовы отстаивать свою позицию и ищут дело, в которое можно верить.",
     "Убеждения, идеалы и принципы: то, во что человек верит и ради чего готов действовать."},
    {"Для Вас особенно важны достаток, надёжность и ощутимый результат труда. Вы цените то, что можно "
     "построить, заработать и сохранить, и склонны мыслить практично: материальное благополучие даёт Вам "
     "чувство свободы и уверенности в завтрашнем дне.",
     "Достаток, удобство и надёжность быта: то, что можно заработать, приобрести и сберечь."},
    {"Для Вас главное — чувства и отношения: любовь, дружба, близость, радость общения. Вы тонко "
     "воспринимаете настроение окружающих, а счастье для Вас прежде всего в тёплых связях с людьми и в "
     "ярких переживаниях.",
     "Чувства и отношения с людьми: любовь, дружба, признание, радость и душевный покой."},
    {"Для Вас на первом месте сама жизнь во всей её полноте: здоровье, сила, безопасность, движение и "
     "отдых. Вы цените бодрость и жизненную энергию, стремитесь беречь себя и близких и прислушиваетесь к "
     "тому, что нужно телу.",
     "Здоровье, сила, безопасность и жизненная энергия: то, на чём держится сама жизнь."},
};

const GroupMeaning* MeaningOf(const KvResultGroup& group)
{
    // A rebuilt list numbers its groups by position, so the catalogue group is read from the values.
    const int32_t number = group.valueCount > 0 && group.values != nullptr ? group.values[0].groupNumber : 0;
    if (number >= 1 && number <= 4)
        return &kMeanings[number - 1];
    return nullptr;
}

// ---- the date -------------------------------------------------------------------------------

std::string DateText(double days)
{
    if (!std::isfinite(days) || days < -657434.0 || days > 2958465.0)
        return std::string();
    // Days since 1899-12-30 to a civil date (proleptic Gregorian), by the days-from-civil inverse.
    long long z = static_cast<long long>(std::floor(days)) - 25569 + 719468; // 1970-01-01 is day 25569
    const long long era = (z >= 0 ? z : z - 146096) / 146097;
    const long long doe = z - era * 146097;
    const long long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    long long y = yoe + era * 400;
    const long long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const long long mp = (5 * doy + 2) / 153;
    const long long d = doy - (153 * mp + 2) / 5 + 1;
    const long long m = mp < 10 ? mp + 3 : mp - 9;
    if (m <= 2)
        ++y;
    char buffer[64]; // room for any three numbers, though the range check keeps them short
    std::snprintf(buffer, sizeof buffer, "%02lld.%02lld.%04lld", d, m, y);
    return buffer;
}

// ---- the record -----------------------------------------------------------------------------

struct ShortString
{
    const char* data;
    int32_t length;
};

ShortString ReadShortString(const unsigned char* record, int offset)
{
    const int32_t length = std::min<int32_t>(record[offset], KVENDARRES_SHORT_STRING_MAX);
    return {reinterpret_cast<const char*>(record + offset + 1), length};
}

double ReadDouble(const unsigned char* record, int offset)
{
    double value = 0;
    std::memcpy(&value, record + offset, sizeof value);
    return value;
}

// ---- the document ---------------------------------------------------------------------------

class Document
{
public:
    Document()
    {
        m_rtf = "{\\rtf1\\ansi\\ansicpg1251\\deff0"
                "{\\fonttbl{\\f0\\froman\\fcharset204 Times New Roman;}{\\f1\\fswiss\\fcharset204 Arial;}}"
                "{\\colortbl;\\red31\\green56\\blue100;\\red90\\green90\\blue90;}"
                "\\viewkind4\\uc1\n";
    }

    void Title(const std::string& text)
    {
        m_rtf += "\\pard\\qc\\sb120\\sa240\\f1\\fs36\\b\\cf1 ";
        AppendUtf8(m_rtf, text);
        m_rtf += "\\par\n";
    }

    void Heading(const std::string& text)
    {
        m_rtf += "\\pard\\ql\\sb240\\sa120\\f1\\fs28\\b\\cf1 ";
        AppendUtf8(m_rtf, text);
        m_rtf += "\\par\n";
    }

    void SubHeading(const std::string& text, const KvText& name)
    {
        m_rtf += "\\pard\\ql\\sb160\\sa60\\f1\\fs24\\b\\cf0 ";
        AppendCp1251(m_rtf, name.data, name.length);
        AppendUtf8(m_rtf, text);
        m_rtf += "\\par\n";
    }

    // A paragraph of body text, opened with BeginParagraph and filled by the Text/Name calls.
    void BeginParagraph(bool centred = false)
    {
        m_rtf += centred ? "\\pard\\qc" : "\\pard\\qj";
        m_rtf += "\\sa120\\plain\\f0\\fs24 ";
    }
    void Text(const std::string& text) { AppendUtf8(m_rtf, text); }
    void Bold(const std::string& text)
    {
        m_rtf += "{\\b ";
        AppendUtf8(m_rtf, text);
        m_rtf += "}";
    }
    void Name(const KvText& text, bool bold = true)
    {
        m_rtf += bold ? "{\\b " : "{";
        AppendCp1251(m_rtf, text.data, text.length);
        m_rtf += "}";
    }
    void Raw(const ShortString& text) { AppendCp1251(m_rtf, text.data, text.length); }
    void Italic(const std::string& text)
    {
        m_rtf += "{\\i\\cf2 ";
        AppendUtf8(m_rtf, text);
        m_rtf += "}";
    }
    void EndParagraph() { m_rtf += "\\par\n"; }

    const std::string& Finish()
    {
        m_rtf += "}";
        return m_rtf;
    }

private:
    std::string m_rtf;
};

struct RankedValue
{
    const KvResultValue* value;
    size_t order; // position in the list, to keep the program's order among equal scores
};

long long TotalOf(const KvResultList& list)
{
    long long total = 0;
    for (int32_t g = 0; g < list.count; ++g)
        total += list.groups[g].score;
    return total;
}

int Percent(long long part, long long total)
{
    return total > 0 ? static_cast<int>((part * 100 + total / 2) / total) : 0;
}

// The place of a group or value among others: one more than the number of those scoring more, so
// equal scores share their place (1, 1, 3).
template <typename Score> int32_t PlaceOf(const std::vector<Score>& scores, Score score)
{
    int32_t place = 1;
    for (Score other : scores)
        if (other > score)
            ++place;
    return place;
}

// "«A»", "«A» и «B»", "«A», «B» и «C»", for the groups at the given indices.
void Names(Document& doc, const KvResultList& list, const std::vector<int32_t>& groups)
{
    for (size_t i = 0; i < groups.size(); ++i) {
        if (i > 0)
            doc.Text(i + 1 == groups.size() ? " и " : ", ");
        doc.Name(list.groups[groups[i]].name);
    }
}

// The groups other than `group` whose score equals its own.
std::vector<int32_t> TiedWith(const KvResultList& list, int32_t group)
{
    std::vector<int32_t> tied;
    for (int32_t g = 0; g < list.count; ++g)
        if (g != group && list.groups[g].score == list.groups[group].score)
            tied.push_back(g);
    return tied;
}

void WriteRespondent(Document& doc, const unsigned char* record)
{
    const ShortString fio = ReadShortString(record, KVENDARRES_OFS_FIO);
    const std::string date = DateText(ReadDouble(record, KVENDARRES_OFS_DATE));
    doc.BeginParagraph(true);
    doc.Text("Тестируемый: ");
    doc.Raw(fio);
    if (!date.empty()) {
        doc.Text(", дата тестирования: ");
        doc.Text(date);
    }
    doc.EndParagraph();
}

void WriteLeadingGroup(Document& doc, const KvResultList& list, long long total)
{
    const KvResultGroup& first = list.groups[0];
    doc.Heading("Ведущая группа ценностей");
    doc.BeginParagraph();
    doc.Text("Больше всего баллов набрала группа ");
    doc.Name(first.name);
    doc.Text(": " + Points(first.score) + " из " + Number(total) + " (" + Number(Percent(first.score, total)) + "%). ");
    const std::vector<int32_t> tied = TiedWith(list, 0);
    if (tied.size() == 1) {
        doc.Text("Столько же набрала группа ");
        doc.Name(list.groups[tied[0]].name);
        doc.Text(", поэтому обе группы стоит считать ведущими. ");
    } else if (tied.size() > 1) {
        doc.Text("Столько же набрали группы ");
        Names(doc, list, tied);
        doc.Text(tied.size() == 2 ? ", поэтому все три группы стоит считать ведущими. "
                                  : ", поэтому все четыре группы стоит считать ведущими. ");
    }
    doc.EndParagraph();
    if (const GroupMeaning* meaning = MeaningOf(first)) {
        doc.BeginParagraph();
        doc.Text(meaning->leading);
        doc.EndParagraph();
    }
}

void WriteLeadingValues(Document& doc, const KvResultList& list)
{
    std::vector<RankedValue> all;
    for (int32_t g = 0; g < list.count; ++g)
        for (int32_t v = 0; v < list.groups[g].valueCount; ++v)
            all.push_back({&list.groups[g].values[v], all.size()});
    if (all.empty())
        return;
    std::stable_sort(all.begin(), all.end(),
                     [](const RankedValue& a, const RankedValue& b) { return a.value->score > b.value->score; });
    // The top three, and any value that ties with the third.
    size_t shown = std::min<size_t>(3, all.size());
    while (shown < all.size() && all[shown].value->score == all[shown - 1].value->score)
        ++shown;

    doc.Heading("Ведущие ценности");
    doc.BeginParagraph();
    doc.Text(shown == 1 ? "Чаще всего Вы выбирали ценность:" : "Чаще всего Вы выбирали следующие ценности:");
    doc.EndParagraph();
    for (size_t i = 0; i < shown; ++i) {
        const KvResultValue& value = *all[i].value;
        // Values with as many choices share their place: 1, 1, 3.
        size_t place = i;
        while (place > 0 && all[place - 1].value->score == value.score)
            --place;
        doc.BeginParagraph();
        doc.Text(Number(static_cast<long long>(place) + 1) + ". ");
        doc.Name(value.name);
        doc.Text(" — " + Choices(value.score) + " (группа «");
        doc.Name(value.groupName, false);
        doc.Text("»)");
        doc.EndParagraph();
    }
    doc.BeginParagraph();
    doc.Text("Именно эти ценности Вы ставили выше других, когда приходилось выбирать; на них Вы, скорее всего, "
             "опираетесь в важных решениях.");
    doc.EndParagraph();
}

// The groups that took part in the test but won nothing, known only from the answers: the result
// list holds the groups that scored.
std::vector<int32_t> ChosenWithoutWins(const KvResultList& list, const KvResultExtra* extra)
{
    std::vector<int32_t> groups;
    if (!KVENDARRES_EXTRA_HAS(extra, answers) || extra->answers == nullptr)
        return groups;
    for (int32_t i = 0; i < extra->answerCount; ++i)
        for (int32_t number : {extra->answers[i].upperGroup, extra->answers[i].lowerGroup})
            if (std::find(groups.begin(), groups.end(), number) == groups.end())
                groups.push_back(number);
    groups.erase(std::remove_if(groups.begin(), groups.end(),
                                [&](int32_t number) {
                                    for (int32_t g = 0; g < list.count; ++g)
                                        if (list.groups[g].number == number)
                                            return true;
                                    return false;
                                }),
                 groups.end());
    return groups;
}

void WriteGroups(Document& doc, const KvResultList& list, long long total, const KvResultExtra* extra)
{
    doc.Heading("Группы ценностей");
    std::vector<long long> scores;
    for (int32_t g = 0; g < list.count; ++g)
        scores.push_back(list.groups[g].score);
    for (int32_t g = 0; g < list.count; ++g) {
        const KvResultGroup& group = list.groups[g];
        doc.SubHeading(" — " + Points(group.score) + " (" + Number(Percent(group.score, total)) + "%)", group.name);
        doc.BeginParagraph();
        if (const GroupMeaning* meaning = MeaningOf(group)) {
            doc.Italic(meaning->brief);
            doc.Text(" ");
        }
        const std::vector<int32_t> tied = TiedWith(list, g);
        const int32_t place = PlaceOf(scores, static_cast<long long>(group.score));
        if (tied.empty()) {
            doc.Text(place == 1 ? "Эта группа на первом месте. " : "Эта группа на " + Number(place) + "-м месте. ");
        } else {
            doc.Text(std::string("Эта группа делит ") + (place == 1 ? "первое" : Number(place) + "-е") + " место с " +
                     (tied.size() == 1 ? "группой " : "группами "));
            Names(doc, list, tied);
            doc.Text(". ");
        }
        if (group.valueCount > 0) {
            doc.Text(group.valueCount == 1 ? "Выбранная ценность: " : "Выбранные ценности в порядке предпочтения: ");
            for (int32_t v = 0; v < group.valueCount; ++v) {
                if (v > 0)
                    doc.Text(", ");
                doc.Name(group.values[v].name, false);
                doc.Text(" (" + Number(group.values[v].score) + ")");
            }
            doc.Text(".");
        }
        doc.EndParagraph();
    }
    // Only groups known to have taken part are spoken of: a group the respondent did not choose from
    // has lost nothing.
    const std::vector<int32_t> silent = ChosenWithoutWins(list, extra);
    if (!silent.empty()) {
        doc.BeginParagraph();
        doc.Text(silent.size() == 1
                     ? "Ценности ещё одной выбранной Вами группы ни разу не победили в сравнении, поэтому "
                       "сейчас они для Вас отходят на второй план."
                     : "Ценности остальных выбранных Вами групп ни разу не победили в сравнении, поэтому "
                       "сейчас они для Вас отходят на второй план.");
        doc.EndParagraph();
    }
}

void WriteSummary(Document& doc, const KvResultList& list, long long total)
{
    doc.Heading("Итог");
    doc.BeginParagraph();
    const int lead = Percent(list.groups[0].score, total);
    if (list.count == 1 || lead > 50) {
        doc.Text("Ваши предпочтения выражены ярко: группа ");
        doc.Name(list.groups[0].name);
        doc.Text(" заметно опережает остальные. Это Ваша главная опора, но стоит помнить и о других сторонах жизни.");
    } else if (list.groups[0].score - list.groups[1].score <= total / 10) {
        std::vector<int32_t> close;
        for (int32_t g = 0; g < list.count; ++g)
            if (list.groups[0].score - list.groups[g].score <= total / 10)
                close.push_back(g);
        doc.Text("Ваши предпочтения делятся почти поровну между группами ");
        Names(doc, list, close);
        doc.Text(close.size() == 2
                     ? ": обе стороны жизни для Вас одинаково значимы, и выбор между ними даётся непросто."
                     : ": все эти стороны жизни для Вас одинаково значимы, и выбор между ними даётся "
                       "непросто.");
    } else {
        doc.Text("Ваши предпочтения уравновешены: группа ");
        doc.Name(list.groups[0].name);
        doc.Text(" лидирует, но и другие ценности занимают в Вашей жизни заметное место.");
    }
    doc.EndParagraph();
}

std::string Decimal(double value, int decimals)
{
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.*f", decimals, value);
    std::string text = buffer;
    std::replace(text.begin(), text.end(), '.', ',');
    return text;
}

std::string Probability(double p)
{
    if (!(p >= 0.001))
        return "менее 0,001";
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.3g", p);
    std::string text = buffer;
    std::replace(text.begin(), text.end(), '.', ',');
    return text;
}

// What the program tells a module of the second version: how consistent the answers were.
void WriteConsistency(Document& doc, const KvResultExtra* fields)
{
    if (!KVENDARRES_EXTRA_HAS(fields, pExact))
        return;
    const KvResultExtra& extra = *fields;
    doc.Heading("Согласованность ответов");
    doc.BeginParagraph();
    if (extra.source == KVENDARRES_CONSISTENCY_NONE) {
        doc.Text("Согласованность ответов вычислить нельзя: баллы теста не складываются в полное попарное "
                 "сравнение.");
        doc.EndParagraph();
        return;
    }
    doc.Text("Согласованность ответов: ");
    doc.Bold(Decimal(extra.zeta, 2));
    doc.Text(" (" + Number(extra.triads) + " " +
             Plural(extra.triads, "противоречивая тройка", "противоречивые тройки", "противоречивых троек") + " из " +
             Number(extra.maxTriads) + " " + Plural(extra.maxTriads, "возможной", "возможных", "возможных") + "). ");
    doc.Text("Противоречивая тройка — это три ценности, ответы о которых идут по кругу: первая важнее второй, "
             "вторая важнее третьей, а третья важнее первой. Согласованность 1 значит, что таких троек нет, 0 — что "
             "их столько, сколько вообще может быть.");
    doc.EndParagraph();
    doc.BeginParagraph();
    doc.Text("Вероятность получить столько же противоречивых троек или меньше, отвечая наугад: " +
             Probability(extra.pRandom) + (extra.pExact ? "" : " (приближённая оценка)") + ". ");
    doc.Text(extra.pRandom < 0.05 ? "Ваши ответы последовательны: так вряд ли отвечают наугад."
                                  : "По этому показателю Ваши ответы не отличить от случайных, поэтому к "
                                    "интерпретации стоит относиться осторожно.");
    doc.EndParagraph();

    if (extra.source != KVENDARRES_CONSISTENCY_FROM_ANSWERS) {
        doc.BeginParagraph();
        doc.Italic("Ответы этого теста не сохранились, поэтому согласованность вычислена по баллам, а назвать "
                   "противоречивые тройки нельзя.");
        doc.EndParagraph();
        return;
    }
    // A program that fills less than this header knows has named no triads.
    if (!KVENDARRES_EXTRA_HAS(fields, circular))
        return;
    if (extra.circularCount <= 0 || extra.circular == nullptr) {
        doc.BeginParagraph();
        doc.Text("Противоречивых троек нет: все Ваши ответы согласуются друг с другом.");
        doc.EndParagraph();
        return;
    }
    doc.BeginParagraph();
    doc.Text("Противоречивые тройки:");
    doc.EndParagraph();
    for (int32_t i = 0; i < extra.circularCount; ++i) {
        const KvTriad& t = extra.circular[i];
        doc.BeginParagraph();
        doc.Text("«");
        doc.Name(t.a, false);
        doc.Text("» важнее «");
        doc.Name(t.b, false);
        doc.Text("», «");
        doc.Name(t.b, false);
        doc.Text("» важнее «");
        doc.Name(t.c, false);
        doc.Text("», а «");
        doc.Name(t.c, false);
        doc.Text("» важнее «");
        doc.Name(t.a, false);
        doc.Text("»");
        doc.EndParagraph();
    }
    // A test with many circular triads has only the first of them named.
    if (extra.triads > extra.circularCount) {
        const long long more = extra.triads - extra.circularCount;
        doc.BeginParagraph();
        doc.Text("и ещё " + Number(more) + " " +
                 Plural(more, "противоречивая тройка", "противоречивые тройки", "противоречивых троек") + ".");
        doc.EndParagraph();
    }
}

std::string Compose(const unsigned char* record, const KvResultList& list, const KvResultExtra* extra)
{
    Document doc;
    doc.Title("Интерпретация результатов теста");
    WriteRespondent(doc, record);
    const long long total = TotalOf(list);
    if (list.count <= 0 || list.groups == nullptr || total <= 0) {
        doc.BeginParagraph();
        doc.Text("В этом тесте нет ни одного выбора, поэтому интерпретация невозможна.");
        doc.EndParagraph();
        return doc.Finish();
    }
    WriteLeadingGroup(doc, list, total);
    WriteLeadingValues(doc, list);
    WriteGroups(doc, list, total, extra);
    WriteSummary(doc, list, total);
    WriteConsistency(doc, extra);
    return doc.Finish();
}

void Build(const unsigned char* testRecord, const KvResultList* results, const KvResultExtra* extra, KvStream* stream)
{
    if (testRecord == nullptr || results == nullptr || stream == nullptr || stream->write == nullptr)
        return;
    // Nothing may escape into the program through a C boundary.
    try {
        const std::string rtf = Compose(testRecord, *results, extra);
        const int64_t start = stream->seek != nullptr ? stream->seek(stream->context, 0, KVENDARRES_SEEK_CUR) : 0;
        stream->write(stream->context, rtf.data(), static_cast<int32_t>(rtf.size()));
        // The program reads from the current position: point it back at the document's start.
        if (stream->seek != nullptr)
            stream->seek(stream->context, start, KVENDARRES_SEEK_SET);
    } catch (...) {
    }
}

} // namespace

extern "C" KVENDARRES_EXPORT void BuildResult(const unsigned char* testRecord, const KvResultList* results,
                                              KvStream* stream)
{
    Build(testRecord, results, nullptr, stream);
}

extern "C" KVENDARRES_EXPORT void BuildResultEx(const unsigned char* testRecord, const KvResultList* results,
                                                const KvResultExtra* extra, KvStream* stream)
{
    Build(testRecord, results, extra, stream);
}
