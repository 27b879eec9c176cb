#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <cstdint>
#include <optional>
#include <vector>

namespace kv {

// A deliberately small picture of a rich-text document: just what the result documents use and what
// the view can show. It lives in the core so the reader and writer can be tested and fuzzed without
// widgets; the view converts it to and from QTextDocument.

enum class RtfAlignment
{
    Left,
    Center,
    Right,
    Justify
};

struct RtfCharFormat
{
    bool bold = false;
    bool italic = false;
    bool underline = false;
    // 0xRRGGBB; empty means the reader's automatic colour (usually black).
    std::optional<std::uint32_t> color;
    // RTF measures font size in half-points; 24 is the format's own default of 12 pt.
    int halfPoints = 24;

    friend bool operator==(const RtfCharFormat&, const RtfCharFormat&) = default;
};

struct RtfRun
{
    QString text; // '\t' for a tab, QChar::LineSeparator for a line break inside the paragraph
    RtfCharFormat format;

    friend bool operator==(const RtfRun&, const RtfRun&) = default;
};

struct RtfParagraph
{
    RtfAlignment alignment = RtfAlignment::Left;
    std::vector<RtfRun> runs;

    QString text() const;
    friend bool operator==(const RtfParagraph&, const RtfParagraph&) = default;
};

struct RtfDocument
{
    std::vector<RtfParagraph> paragraphs;

    // Paragraph texts joined with '\n'; handy for tests and for the plain-text fallback.
    QString plainText() const;
    friend bool operator==(const RtfDocument&, const RtfDocument&) = default;
};

// True when the data opens with "{\rtf", the only thing the platform's control looks at to decide
// whether a stream is RTF at all.
bool LooksLikeRtf(QByteArrayView data);

// Reads RTF. Malformed input is read as far as it makes sense (missing closing braces, cut escapes,
// unknown control words, groups nested deeper than any real document, whose excess levels are read
// as if flat); the result is empty only when the data is not RTF ("{\rtf" missing). Never throws.
std::optional<RtfDocument> ParseRtf(QByteArrayView data);

// Writes the document under \ansicpg1251: Cyrillic as \'hh, everything Windows-1251 cannot hold as \uN?.
QByteArray WriteRtf(const RtfDocument& document);

// rtf, a document from WriteRtf, with a PNG picture of widthPx x heightPx pixels added as its last
// paragraph, widthTwips wide on the page (the height keeps the picture's proportions).
QByteArray AppendRtfPicture(const QByteArray& rtf, QByteArrayView png, int widthPx, int heightPx, int widthTwips);

} // namespace kv
