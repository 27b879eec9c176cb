#include "gui/platform/RichTextDocument.h"

#include "core/platform/Codec.h"
#include "core/platform/RtfDocument.h"

#include <QColor>
#include <QFont>
#include <QStringList>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

#include <cmath>

namespace kv {

namespace {

Qt::Alignment ToQt(RtfAlignment alignment)
{
    switch (alignment) {
    case RtfAlignment::Center:
        return Qt::AlignHCenter;
    case RtfAlignment::Right:
        return Qt::AlignRight;
    case RtfAlignment::Justify:
        return Qt::AlignJustify;
    case RtfAlignment::Left:
        break;
    }
    return Qt::AlignLeft;
}

RtfAlignment FromQt(Qt::Alignment alignment)
{
    if (alignment & Qt::AlignHCenter)
        return RtfAlignment::Center;
    if (alignment & Qt::AlignJustify)
        return RtfAlignment::Justify;
    if (alignment & Qt::AlignRight)
        return RtfAlignment::Right;
    return RtfAlignment::Left;
}

QTextCharFormat ToQt(const RtfCharFormat& format)
{
    QTextCharFormat result;
    result.setFontWeight(format.bold ? QFont::Bold : QFont::Normal);
    result.setFontItalic(format.italic);
    result.setFontUnderline(format.underline);
    result.setFontPointSize(format.halfPoints / 2.0);
    if (format.color)
        result.setForeground(QColor(QRgb(*format.color)));
    return result;
}

RtfCharFormat FromQt(const QTextCharFormat& format, double defaultPointSize)
{
    RtfCharFormat result;
    result.bold = format.fontWeight() >= QFont::DemiBold;
    result.italic = format.fontItalic();
    result.underline = format.fontUnderline();
    const double points = format.fontPointSize() > 0 ? format.fontPointSize() : defaultPointSize;
    result.halfPoints = points > 0 ? static_cast<int>(std::lround(points * 2)) : 24;
    if (format.foreground().style() != Qt::NoBrush)
        result.color = format.foreground().color().rgb() & 0xFFFFFFu;
    return result;
}

void Fill(QTextDocument& document, const RtfDocument& model)
{
    document.clear();
    QTextCursor cursor(&document);
    cursor.beginEditBlock();
    bool first = true;
    for (const RtfParagraph& paragraph : model.paragraphs) {
        QTextBlockFormat blockFormat;
        blockFormat.setAlignment(ToQt(paragraph.alignment));
        if (first)
            cursor.setBlockFormat(blockFormat);
        else
            cursor.insertBlock(blockFormat);
        first = false;
        // An empty paragraph still keeps the size of its line.
        if (!paragraph.runs.empty())
            cursor.setBlockCharFormat(ToQt(paragraph.runs.front().format));
        for (const RtfRun& run : paragraph.runs)
            cursor.insertText(run.text, ToQt(run.format));
    }
    cursor.endEditBlock();
}

RtfDocument ToModel(const QTextDocument& document)
{
    const double defaultPointSize = document.defaultFont().pointSizeF();
    RtfDocument model;
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
        RtfParagraph paragraph;
        paragraph.alignment = FromQt(block.blockFormat().alignment());
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment fragment = it.fragment();
            if (!fragment.isValid())
                continue;
            QString text = fragment.text();
            // Images and other embedded objects have no place in our documents.
            text.remove(QChar::ObjectReplacementCharacter);
            if (text.isEmpty())
                continue;
            const RtfCharFormat format = FromQt(fragment.charFormat(), defaultPointSize);
            if (!paragraph.runs.empty() && paragraph.runs.back().format == format)
                paragraph.runs.back().text += text;
            else
                paragraph.runs.push_back(RtfRun{text, format});
        }
        model.paragraphs.push_back(std::move(paragraph));
    }
    return model;
}

} // namespace

// The platform's control reads a stream as RTF first and, when that fails, as plain text; plain text
// only fails for data that cannot be text at all. Windows-1251 text never holds a NUL byte, so data
// with one (a picture, a zipped file, UTF-16) is what counts as "neither RTF nor text". Our reader
// does its best with any RTF, so data that opens with "{\rtf" always loads as RTF.
bool LoadRichText(QTextDocument& document, QByteArrayView data)
{
    if (const std::optional<RtfDocument> model = ParseRtf(data)) {
        Fill(document, *model);
        return true;
    }
    if (data.contains('\0'))
        return false;
    QString text = FromCp1251(data);
    // CR LF, a lone LF and a lone CR all end a line, as in the files people actually have.
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    text.replace(u'\r', u'\n');
    document.setPlainText(text);
    return true;
}

QByteArray SaveRtf(const QTextDocument& document)
{
    return WriteRtf(ToModel(document));
}

QByteArray SavePlainText(const QTextDocument& document)
{
    // Written for the editors of this system, which take UTF-8 and LF; the RTF names its own code
    // page, so only this file changes.
    QString text;
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
        QString line = block.text();
        line.remove(QChar::ObjectReplacementCharacter);
        line.replace(QChar::LineSeparator, u'\n');
        text += line;
        text += u'\n';
    }
    return text.toUtf8();
}

} // namespace kv
