#pragma once

#include <QByteArray>
#include <QByteArrayView>

class QTextDocument;

namespace kv {

// Loads a stream into the view's document: RTF when the data opens with "{\rtf" (read as far as it goes), plain
// Windows-1251 text otherwise, the way the platform's rich-edit control falls back. Returns false
// (the caller raises "Failed to Load Stream") only when the data is neither: it holds a NUL byte,
// which no Windows-1251 text contains, and is not readable RTF. The document is untouched then.
bool LoadRichText(QTextDocument& document, QByteArrayView data);

// The whole document as RTF (paragraphs, alignment, bold, italic, underline, colour, size).
QByteArray SaveRtf(const QTextDocument& document);

// The whole document as UTF-8 text, each paragraph (and each line break inside one) ending in LF.
QByteArray SavePlainText(const QTextDocument& document);

} // namespace kv
