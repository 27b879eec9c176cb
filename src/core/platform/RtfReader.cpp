#include "core/platform/Codec.h"
#include "core/platform/RtfDocument.h"

#include <QStringDecoder>
#include <QStringList>

#include <algorithm>
#include <map>
#include <memory>
#include <string_view>

namespace kv {

QString RtfParagraph::text() const
{
    QString result;
    for (const RtfRun& run : runs)
        result += run.text;
    return result;
}

QString RtfDocument::plainText() const
{
    QStringList lines;
    for (const RtfParagraph& paragraph : paragraphs)
        lines << paragraph.text();
    return lines.join(u'\n');
}

bool LooksLikeRtf(QByteArrayView data)
{
    return data.startsWith("{\\rtf");
}

namespace {

// Real documents nest a handful of levels; past this the braces are still counted so the document
// ends in the right place, but their formatting is no longer kept apart.
constexpr int kMaxDepth = 200;
// Control words are at most 32 letters; anything longer is garbage we only need to step over.
constexpr int kMaxWordLength = 32;
// Parameters are 16-bit in practice; saturating far above that keeps huge digit strings harmless.
constexpr long long kParamLimit = 1'000'000'000;
constexpr int kDefaultCodePage = 1251;

enum class Destination
{
    Text,
    Skip,
    FontTable,
    ColorTable
};

struct GroupState
{
    RtfCharFormat format;
    RtfAlignment alignment = RtfAlignment::Left;
    Destination destination = Destination::Text;
    int font = -1; // -1: the document's default font
    int unicodeSkip = 1;
};

// Destinations that hold no text of the document body.
constexpr std::string_view kSkippedDestinations[] = {
    "stylesheet",   "info",      "pict",    "header",     "headerl",  "headerr",   "headerf",
    "footer",       "footerl",   "footerr", "footerf",    "footnote", "listtable", "listoverridetable",
    "revtbl",       "rsidtbl",   "filetbl", "generator",  "xmlnstbl", "themedata", "colorschememapping",
    "latentstyles", "datastore", "objdata", "nonshppict", "fldinst",  "pgdsctbl",  "bkmkstart",
    "bkmkend",      "xe",        "tc",      "txe",        "template", "atnid",     "atnauthor",
    "annotation",   "private"};

int CodePageForCharset(int charset)
{
    switch (charset) {
    case 77:
        return 10000;
    case 128:
        return 932;
    case 129:
        return 949;
    case 134:
        return 936;
    case 136:
        return 950;
    case 161:
        return 1253;
    case 162:
        return 1254;
    case 163:
        return 1258;
    case 177:
        return 1255;
    case 178:
        return 1256;
    case 186:
        return 1257;
    case 204:
        return 1251;
    case 222:
        return 874;
    case 238:
        return 1250;
    case 254:
        return 437;
    case 255:
        return 850;
    default:
        return 0; // ANSI, default, symbol and unknown sets follow the document's code page
    }
}

QByteArray CodecName(int codePage)
{
    switch (codePage) {
    case 65001:
        return QByteArrayLiteral("UTF-8");
    case 10000:
        return QByteArrayLiteral("macintosh");
    case 437:
        return QByteArrayLiteral("IBM437");
    case 850:
        return QByteArrayLiteral("IBM850");
    case 866:
        return QByteArrayLiteral("IBM866");
    case 932:
        return QByteArrayLiteral("Shift_JIS");
    case 936:
        return QByteArrayLiteral("GBK");
    case 949:
        return QByteArrayLiteral("windows-949");
    case 950:
        return QByteArrayLiteral("Big5");
    case 20866:
        return QByteArrayLiteral("KOI8-R");
    default:
        return "windows-" + QByteArray::number(codePage);
    }
}

class RtfReader final
{
public:
    explicit RtfReader(QByteArrayView data) : m_data(data) {}

    RtfDocument read()
    {
        m_stack.push_back(GroupState{});
        // The opening brace of "{\rtf" is the document's own group, already on the stack.
        m_pos = 1;
        while (m_pos < m_data.size() && !m_finished)
            step();
        flushBytes();
        if (!m_paragraph.runs.empty())
            endParagraph();
        return std::move(m_document);
    }

private:
    void step()
    {
        const char c = m_data[m_pos++];
        switch (c) {
        case '{':
            openGroup();
            return;
        case '}':
            closeGroup();
            return;
        case '\\':
            controlWord();
            return;
        case '\r':
        case '\n':
            return; // line ends in RTF source carry no meaning
        default:
            break;
        }
        if (m_skipCount > 0) {
            --m_skipCount;
            return;
        }
        literal(c);
    }

    void literal(char c)
    {
        switch (state().destination) {
        case Destination::Text:
            if (c == '\t') {
                appendText(QStringLiteral("\t"));
            } else if (static_cast<unsigned char>(c) >= 0x20) {
                m_pendingCodePage = currentCodePage();
                m_pendingBytes.append(c);
            }
            return;
        case Destination::ColorTable:
            if (c == ';') {
                m_colors.push_back(m_colorSet ? std::optional<std::uint32_t>(m_color) : std::nullopt);
                m_color = 0;
                m_colorSet = false;
            }
            return;
        case Destination::FontTable:
        case Destination::Skip:
            return;
        }
    }

    void openGroup()
    {
        flushBytes();
        m_skipCount = 0;
        if (static_cast<int>(m_stack.size()) >= kMaxDepth) {
            ++m_overflow;
            return;
        }
        m_stack.push_back(m_stack.back());
    }

    void closeGroup()
    {
        flushBytes();
        m_skipCount = 0;
        if (m_overflow > 0) {
            --m_overflow;
            return;
        }
        if (m_stack.size() <= 1) {
            // The document's own group has closed; whatever follows is not part of it.
            m_finished = true;
            return;
        }
        m_stack.pop_back();
    }

    void controlWord()
    {
        if (m_pos >= m_data.size())
            return;
        const char first = m_data[m_pos];
        if (!IsLetter(first)) {
            ++m_pos;
            controlSymbol(first);
            return;
        }
        const qsizetype start = m_pos;
        while (m_pos < m_data.size() && IsLetter(m_data[m_pos]))
            ++m_pos;
        const std::string_view word(m_data.data() + start,
                                    static_cast<size_t>(std::min<qsizetype>(m_pos - start, kMaxWordLength)));
        std::optional<int> param;
        bool negative = false;
        if (m_pos + 1 < m_data.size() && m_data[m_pos] == '-' && IsDigit(m_data[m_pos + 1])) {
            negative = true;
            ++m_pos;
        }
        if (m_pos < m_data.size() && IsDigit(m_data[m_pos])) {
            long long value = 0;
            while (m_pos < m_data.size() && IsDigit(m_data[m_pos])) {
                value = std::min(kParamLimit, value * 10 + (m_data[m_pos] - '0'));
                ++m_pos;
            }
            param = static_cast<int>(negative ? -value : value);
        }
        if (m_pos < m_data.size() && m_data[m_pos] == ' ')
            ++m_pos;

        if (word == "bin") {
            // Binary data is one "character" for \uc skipping and never text.
            const qsizetype length = std::max(0, param.value_or(0));
            m_pos += std::min(length, m_data.size() - m_pos);
            if (m_skipCount > 0)
                --m_skipCount;
            return;
        }
        if (m_skipCount > 0) {
            --m_skipCount;
            return;
        }
        applyWord(word, param);
    }

    void controlSymbol(char symbol)
    {
        if (symbol == '\'') {
            int value = 0;
            int digits = 0;
            while (digits < 2 && m_pos < m_data.size() && HexValue(m_data[m_pos]) >= 0) {
                value = value * 16 + HexValue(m_data[m_pos]);
                ++m_pos;
                ++digits;
            }
            if (m_skipCount > 0) {
                --m_skipCount;
                return;
            }
            // A cut escape names no byte; dropping it beats inventing one.
            if (digits == 2)
                literalByte(static_cast<char>(value));
            return;
        }
        if (m_skipCount > 0) {
            --m_skipCount;
            return;
        }
        switch (symbol) {
        case '\\':
        case '{':
        case '}':
            literalByte(symbol);
            return;
        case '~':
            appendText(QString(QChar(0x00A0)));
            return;
        case '-':
            appendText(QString(QChar(0x00AD)));
            return;
        case '_':
            appendText(QString(QChar(0x2011)));
            return;
        case '*':
            setDestination(Destination::Skip);
            return;
        case '\r':
        case '\n':
            paragraphBreak();
            return;
        case '\t':
            appendText(QStringLiteral("\t"));
            return;
        default:
            return;
        }
    }

    // A byte named by an escape is text even where a bare one would be syntax (the ';' of a table).
    void literalByte(char c)
    {
        if (c == '\t') {
            appendText(QStringLiteral("\t"));
            return;
        }
        // Other control bytes would break lines behind the paragraph structure's back, as with \u.
        if (static_cast<unsigned char>(c) < 0x20)
            return;
        if (state().destination == Destination::Text) {
            m_pendingCodePage = currentCodePage();
            m_pendingBytes.append(c);
        }
    }

    void applyWord(std::string_view word, std::optional<int> param)
    {
        GroupState& s = state();
        const bool on = param.value_or(1) != 0;

        // Table destinations first: their control words mean something else there.
        if (s.destination == Destination::FontTable) {
            if (word == "f")
                m_definingFont = param.value_or(0);
            else if (word == "fcharset")
                m_fontCodePages[m_definingFont] = CodePageForCharset(param.value_or(0));
            else if (word == "cpg" && param.value_or(0) > 0)
                m_fontCodePages[m_definingFont] = *param;
            return;
        }
        if (s.destination == Destination::ColorTable) {
            const int component = std::clamp(param.value_or(0), 0, 255);
            if (word == "red") {
                m_color = (m_color & 0x00FFFFu) | (std::uint32_t(component) << 16);
                m_colorSet = true;
            } else if (word == "green") {
                m_color = (m_color & 0xFF00FFu) | (std::uint32_t(component) << 8);
                m_colorSet = true;
            } else if (word == "blue") {
                m_color = (m_color & 0xFFFF00u) | std::uint32_t(component);
                m_colorSet = true;
            }
            return;
        }

        if (word == "fonttbl") {
            setDestination(Destination::FontTable);
        } else if (word == "colortbl") {
            setDestination(Destination::ColorTable);
        } else if (std::find(std::begin(kSkippedDestinations), std::end(kSkippedDestinations), word) !=
                   std::end(kSkippedDestinations)) {
            setDestination(Destination::Skip);
        } else if (word == "ansicpg") {
            if (param.value_or(0) > 0)
                m_codePage = *param;
        } else if (word == "ansi") {
            // Without \ansicpg the platform takes its own ANSI code page, Windows-1251 here.
        } else if (word == "mac") {
            m_codePage = 10000;
        } else if (word == "pc") {
            m_codePage = 437;
        } else if (word == "pca") {
            m_codePage = 850;
        } else if (word == "deff") {
            m_defaultFont = param.value_or(0);
        } else if (word == "f") {
            changeFormat([&] { s.font = param.value_or(0); });
        } else if (word == "par" || word == "row" || word == "page" || word == "sect") {
            paragraphBreak();
        } else if (word == "line") {
            appendText(QString(QChar(QChar::LineSeparator)));
        } else if (word == "tab" || word == "cell") {
            appendText(QStringLiteral("\t"));
        } else if (word == "b") {
            changeFormat([&] { s.format.bold = on; });
        } else if (word == "i") {
            changeFormat([&] { s.format.italic = on; });
        } else if (word == "ul" || word == "uld" || word == "uldb" || word == "ulw" || word == "ulth" ||
                   word == "uldash" || word == "ulwave") {
            changeFormat([&] { s.format.underline = on; });
        } else if (word == "ulnone") {
            changeFormat([&] { s.format.underline = false; });
        } else if (word == "fs") {
            const int halfPoints = param.value_or(24);
            changeFormat([&] { s.format.halfPoints = halfPoints > 0 ? std::min(halfPoints, 3276) : 24; });
        } else if (word == "cf") {
            const int index = param.value_or(0);
            changeFormat([&] {
                s.format.color =
                    (index > 0 && index < static_cast<int>(m_colors.size())) ? m_colors[index] : std::nullopt;
            });
        } else if (word == "plain") {
            changeFormat([&] {
                s.format = RtfCharFormat{};
                s.font = -1;
            });
        } else if (word == "pard") {
            s.alignment = RtfAlignment::Left;
        } else if (word == "ql") {
            s.alignment = RtfAlignment::Left;
        } else if (word == "qc") {
            s.alignment = RtfAlignment::Center;
        } else if (word == "qr") {
            s.alignment = RtfAlignment::Right;
        } else if (word == "qj") {
            s.alignment = RtfAlignment::Justify;
        } else if (word == "uc") {
            s.unicodeSkip = std::clamp(param.value_or(1), 0, 255);
        } else if (word == "u") {
            unicode(param.value_or(0));
        } else if (word == "emdash") {
            appendText(QString(QChar(0x2014)));
        } else if (word == "endash") {
            appendText(QString(QChar(0x2013)));
        } else if (word == "bullet") {
            appendText(QString(QChar(0x2022)));
        } else if (word == "lquote") {
            appendText(QString(QChar(0x2018)));
        } else if (word == "rquote") {
            appendText(QString(QChar(0x2019)));
        } else if (word == "ldblquote") {
            appendText(QString(QChar(0x201C)));
        } else if (word == "rdblquote") {
            appendText(QString(QChar(0x201D)));
        } else if (word == "emspace") {
            appendText(QString(QChar(0x2003)));
        } else if (word == "enspace") {
            appendText(QString(QChar(0x2002)));
        }
    }

    void unicode(int value)
    {
        // The format stores code units as signed 16-bit numbers.
        if (value < 0)
            value += 65536;
        // Control characters other than a tab would break lines behind the paragraph structure's back.
        const bool usable = (value >= 0x20 || value == '\t') && value <= 0xFFFF;
        if (usable && state().destination == Destination::Text)
            appendText(QString(QChar(char16_t(value))));
        // The fallback that follows is for readers that do not know \u; we do.
        m_skipCount = state().unicodeSkip;
    }

    template <typename Change> void changeFormat(Change change)
    {
        flushBytes();
        change();
    }

    void setDestination(Destination destination)
    {
        flushBytes();
        GroupState& s = state();
        // A table or a skipped part never turns back into text further down its group.
        if (s.destination == Destination::Text || destination == Destination::Skip)
            s.destination = destination;
        if (destination == Destination::FontTable)
            m_definingFont = 0;
        if (destination == Destination::ColorTable) {
            m_colors.clear();
            m_color = 0;
            m_colorSet = false;
        }
    }

    void paragraphBreak()
    {
        if (state().destination != Destination::Text)
            return;
        flushBytes();
        endParagraph();
    }

    void endParagraph()
    {
        m_paragraph.alignment = state().alignment;
        m_document.paragraphs.push_back(std::move(m_paragraph));
        m_paragraph = RtfParagraph{};
    }

    void appendText(const QString& text)
    {
        if (state().destination != Destination::Text || text.isEmpty())
            return;
        flushBytes();
        appendDecoded(text);
    }

    void appendDecoded(const QString& text)
    {
        const RtfCharFormat& format = state().format;
        if (!m_paragraph.runs.empty() && m_paragraph.runs.back().format == format)
            m_paragraph.runs.back().text += text;
        else
            m_paragraph.runs.push_back(RtfRun{text, format});
    }

    void flushBytes()
    {
        if (m_pendingBytes.isEmpty())
            return;
        QString text = decode(m_pendingBytes, m_pendingCodePage);
        m_pendingBytes.clear();
        // A cut double-byte character comes back from some codecs as SUB; no control character but
        // the tab belongs in a run.
        text.removeIf([](QChar ch) { return ch.unicode() < 0x20 && ch != u'\t'; });
        if (!text.isEmpty())
            appendDecoded(text);
    }

    int currentCodePage() const
    {
        const int font = state().font >= 0 ? state().font : m_defaultFont;
        const auto it = m_fontCodePages.find(font);
        if (it != m_fontCodePages.end() && it->second > 0)
            return it->second;
        return m_codePage;
    }

    QString decode(const QByteArray& bytes, int codePage)
    {
        if (codePage != kDefaultCodePage) {
            auto& decoder = m_decoders[codePage];
            if (!decoder)
                decoder = std::make_unique<QStringDecoder>(CodecName(codePage).constData());
            if (decoder->isValid()) {
                decoder->resetState();
                return decoder->decode(bytes);
            }
            // A code page this system cannot decode: the program's own one is the best guess.
        }
        return FromCp1251(bytes);
    }

    GroupState& state() { return m_stack.back(); }
    const GroupState& state() const { return m_stack.back(); }

    static bool IsLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
    static bool IsDigit(char c) { return c >= '0' && c <= '9'; }
    static int HexValue(char c)
    {
        if (c >= '0' && c <= '9')
            return c - '0';
        if (c >= 'a' && c <= 'f')
            return c - 'a' + 10;
        if (c >= 'A' && c <= 'F')
            return c - 'A' + 10;
        return -1;
    }

    QByteArrayView m_data;
    qsizetype m_pos = 0;
    bool m_finished = false;
    std::vector<GroupState> m_stack;
    int m_overflow = 0;
    int m_skipCount = 0;

    int m_codePage = kDefaultCodePage;
    int m_defaultFont = 0;
    int m_definingFont = 0;
    std::map<int, int> m_fontCodePages;
    std::map<int, std::unique_ptr<QStringDecoder>> m_decoders;

    std::vector<std::optional<std::uint32_t>> m_colors;
    std::uint32_t m_color = 0;
    bool m_colorSet = false;

    QByteArray m_pendingBytes;
    int m_pendingCodePage = kDefaultCodePage;

    RtfDocument m_document;
    RtfParagraph m_paragraph;
};

} // namespace

std::optional<RtfDocument> ParseRtf(QByteArrayView data)
{
    if (!LooksLikeRtf(data))
        return std::nullopt;
    return RtfReader(data).read();
}

} // namespace kv
