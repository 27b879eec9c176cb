#include "core/platform/Codec.h"
#include "core/platform/RtfDocument.h"

#include <algorithm>
#include <unordered_map>
#include <vector>

namespace kv {

namespace {

const char* AlignmentWord(RtfAlignment alignment)
{
    switch (alignment) {
    case RtfAlignment::Center:
        return "\\qc";
    case RtfAlignment::Right:
        return "\\qr";
    case RtfAlignment::Justify:
        return "\\qj";
    case RtfAlignment::Left:
        break;
    }
    return "\\ql";
}

void AppendHex(QByteArray& out, unsigned char byte)
{
    static constexpr char kDigits[] = "0123456789abcdef";
    out += "\\'";
    out += kDigits[byte >> 4];
    out += kDigits[byte & 0x0F];
}

// The upper half of Windows-1251 read through the program's codec, turned around: a character is
// written as a byte only when that byte reads back as the very same character, never as a look-alike.
const std::unordered_map<char16_t, unsigned char>& Cp1251Bytes()
{
    static const std::unordered_map<char16_t, unsigned char> table = [] {
        std::unordered_map<char16_t, unsigned char> bytes;
        for (int b = 0x80; b <= 0xFF; ++b) {
            const char byte = static_cast<char>(b);
            const QString decoded = FromCp1251(QByteArrayView(&byte, 1));
            if (decoded.size() == 1 && decoded[0] != QChar::ReplacementCharacter)
                bytes.emplace(decoded[0].unicode(), static_cast<unsigned char>(b));
        }
        return bytes;
    }();
    return table;
}

void AppendText(QByteArray& out, const QString& text)
{
    for (const QChar ch : text) {
        const char16_t u = ch.unicode();
        switch (u) {
        case u'\\':
            out += "\\\\";
            continue;
        case u'{':
            out += "\\{";
            continue;
        case u'}':
            out += "\\}";
            continue;
        case u'\t':
            out += "\\tab ";
            continue;
        case QChar::LineSeparator:
            out += "\\line ";
            continue;
        case 0x00A0:
            out += "\\~";
            continue;
        case 0x00AD:
            out += "\\-";
            continue;
        case 0x2011:
            out += "\\_";
            continue;
        default:
            break;
        }
        if (u < 0x20)
            continue; // control characters have no place in the text
        if (u < 0x80) {
            out += static_cast<char>(u);
            continue;
        }
        if (const auto it = Cp1251Bytes().find(u); it != Cp1251Bytes().end()) {
            AppendHex(out, it->second);
        } else {
            // Signed 16-bit as the format wants; '?' is the fallback for readers without \u.
            out += "\\u" + QByteArray::number(u > 0x7FFF ? int(u) - 65536 : int(u)) + "?";
        }
    }
}

} // namespace

QByteArray WriteRtf(const RtfDocument& document)
{
    std::vector<std::uint32_t> colors;
    for (const RtfParagraph& paragraph : document.paragraphs)
        for (const RtfRun& run : paragraph.runs)
            if (run.format.color && std::find(colors.begin(), colors.end(), *run.format.color) == colors.end())
                colors.push_back(*run.format.color);

    QByteArray out;
    // \fcharset204 tells word processors that \'hh bytes of the font are Cyrillic as well.
    out += "{\\rtf1\\ansi\\ansicpg1251\\deff0{\\fonttbl{\\f0\\fnil\\fcharset204 Arial;}}\r\n";
    // Entry 0 stays empty: \cf0 is the automatic colour.
    out += "{\\colortbl ;";
    for (const std::uint32_t color : colors) {
        out += "\\red" + QByteArray::number((color >> 16) & 0xFF) + "\\green" +
               QByteArray::number((color >> 8) & 0xFF) + "\\blue" + QByteArray::number(color & 0xFF) + ";";
    }
    out += "}\r\n\\uc1\r\n";

    for (const RtfParagraph& paragraph : document.paragraphs) {
        out += "\\pard";
        out += AlignmentWord(paragraph.alignment);
        for (const RtfRun& run : paragraph.runs) {
            if (run.text.isEmpty())
                continue;
            const RtfCharFormat& f = run.format;
            out += "{";
            if (f.bold)
                out += "\\b";
            if (f.italic)
                out += "\\i";
            if (f.underline)
                out += "\\ul";
            if (f.color) {
                const auto index = std::find(colors.begin(), colors.end(), *f.color) - colors.begin() + 1;
                out += "\\cf" + QByteArray::number(qsizetype(index));
            }
            out += "\\fs" + QByteArray::number(std::clamp(f.halfPoints, 1, 3276)) + " ";
            AppendText(out, run.text);
            out += "}";
        }
        out += "\\par\r\n";
    }
    out += "}\r\n";
    return out;
}

QByteArray AppendRtfPicture(const QByteArray& rtf, QByteArrayView png, int widthPx, int heightPx, int widthTwips)
{
    if (png.isEmpty() || widthPx <= 0 || heightPx <= 0)
        return rtf;
    // The document's closing brace goes after the picture.
    const qsizetype end = rtf.lastIndexOf('}');
    if (end < 0)
        return rtf;
    const qint64 heightTwips = qint64(widthTwips) * heightPx / widthPx;
    QByteArray picture = "\\pard\\qc{\\pict\\pngblip\\picw" + QByteArray::number(widthPx) + "\\pich" +
                         QByteArray::number(heightPx) + "\\picwgoal" + QByteArray::number(widthTwips) + "\\pichgoal" +
                         QByteArray::number(heightTwips) + "\r\n";
    // Hexadecimal in lines of 128 digits, as word processors write it.
    const QByteArray hex = png.toByteArray().toHex();
    for (qsizetype i = 0; i < hex.size(); i += 128)
        picture += hex.mid(i, 128) + "\r\n";
    picture += "}\\par\r\n";
    return rtf.left(end) + picture + rtf.mid(end);
}

} // namespace kv
