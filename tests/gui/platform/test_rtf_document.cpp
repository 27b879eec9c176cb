#include "core/platform/RtfDocument.h"
#include "gui/platform/RichTextDocument.h"

#include "support/TestSupport.h"

#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QtTest>

using kv::RtfAlignment;
using kv::RtfCharFormat;
using kv::RtfDocument;
using kv::RtfParagraph;
using kv::RtfRun;

namespace {

RtfCharFormat Format(bool bold, bool italic, bool underline, std::optional<std::uint32_t> color, int halfPoints)
{
    RtfCharFormat f;
    f.bold = bold;
    f.italic = italic;
    f.underline = underline;
    f.color = color;
    f.halfPoints = halfPoints;
    return f;
}

// A document that uses every format the writer knows, text that needs every kind of escape, and
// characters both inside and outside Windows-1251.
RtfDocument EveryFormat()
{
    RtfDocument doc;
    doc.paragraphs.push_back(
        RtfParagraph{RtfAlignment::Center, {RtfRun{QStringLiteral("Заголовок"), Format(true, false, false, {}, 36)}}});
    doc.paragraphs.push_back(
        RtfParagraph{RtfAlignment::Left,
                     {RtfRun{QStringLiteral("обычный "), RtfCharFormat{}},
                      RtfRun{QStringLiteral("курсив"), Format(false, true, false, {}, 24)},
                      RtfRun{QStringLiteral(" подчёркнуто"), Format(false, false, true, {}, 24)},
                      RtfRun{QStringLiteral(" красный"), Format(false, false, false, 0xC00000u, 24)},
                      RtfRun{QStringLiteral(" всё сразу"), Format(true, true, true, 0x0080FFu, 20)}}});
    doc.paragraphs.push_back(RtfParagraph{RtfAlignment::Right, {}});
    doc.paragraphs.push_back(RtfParagraph{
        RtfAlignment::Right,
        {RtfRun{QStringLiteral("{скобки} \\ и\tтаб") + QChar(QChar::LineSeparator) + QStringLiteral("строка"),
                RtfCharFormat{}}}});
    doc.paragraphs.push_back(
        RtfParagraph{RtfAlignment::Justify,
                     {RtfRun{QStringLiteral("€ №ЁёЯ ") + QChar(0x00A0) + QChar(0x00AD) + QChar(0x2011) +
                                 QStringLiteral(" 中文 ÿ ") + QString::fromUcs4(U"\U0001F600", 1) + QChar(0xFF01),
                             Format(false, false, false, 0x00FF00u, 28)}}});
    return doc;
}

QString BlockTexts(const QTextDocument& document)
{
    QStringList lines;
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next())
        lines << block.text();
    return lines.join(u'\n');
}

} // namespace

class TestRtfDocument final : public QObject
{
    Q_OBJECT

private slots:
    void writerOutputIsReadBackUnchanged();
    void writerEscapes_data();
    void writerEscapes();
    void loadsRtfWithFormats();
    void loadsStreams_data();
    void loadsStreams();
    void refusesBinaryAndKeepsTheDocument();
    void viewDocumentRoundTrip();
    void savesPlainText();
    void wordProcessorReadsOurText();
    void wordProcessorReadsOurFormats();
};

void TestRtfDocument::writerOutputIsReadBackUnchanged()
{
    const RtfDocument original = EveryFormat();
    const QByteArray rtf = kv::WriteRtf(original);
    QVERIFY(rtf.startsWith("{\\rtf1\\ansi\\ansicpg1251"));
    // The output is pure 7-bit: Cyrillic goes out as escapes, never as raw bytes.
    for (const char c : rtf)
        QVERIFY2(static_cast<unsigned char>(c) < 0x80, rtf.constData());
    const std::optional<RtfDocument> back = kv::ParseRtf(rtf);
    QVERIFY(back);
    QCOMPARE(back->plainText(), original.plainText());
    QVERIFY(*back == original);
}

void TestRtfDocument::writerEscapes_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("Cyrillic as hex") << QStringLiteral("Яё") << QByteArray("\\'df\\'b8");
    QTest::newRow("cp1251 punctuation") << QStringLiteral("€№") << QByteArray("\\'88\\'b9");
    QTest::newRow("outside 1251, below 0x8000") << QStringLiteral("中") << QByteArray("\\u20013?");
    QTest::newRow("outside 1251, signed") << QString(QChar(0xFF01)) << QByteArray("\\u-255?");
    QTest::newRow("Latin letter 1251 lacks") << QStringLiteral("é") << QByteArray("\\u233?");
    QTest::newRow("syntax characters") << QStringLiteral("{a}\\") << QByteArray("\\{a\\}\\\\");
    QTest::newRow("tab and line") << QStringLiteral("a\tb") + QChar(QChar::LineSeparator)
                                  << QByteArray("a\\tab b\\line ");
    QTest::newRow("question mark stays") << QStringLiteral("?") << QByteArray(" ?}");
}

void TestRtfDocument::writerEscapes()
{
    QFETCH(QString, text);
    QFETCH(QByteArray, expected);
    RtfDocument doc;
    doc.paragraphs.push_back(RtfParagraph{RtfAlignment::Left, {RtfRun{text, RtfCharFormat{}}}});
    const QByteArray rtf = kv::WriteRtf(doc);
    QVERIFY2(rtf.contains(expected), rtf.constData());
    QCOMPARE(kv::ParseRtf(rtf)->plainText(), text);
}

void TestRtfDocument::loadsRtfWithFormats()
{
    QTextDocument document;
    QVERIFY(kv::LoadRichText(document, "{\\rtf1\\ansi{\\colortbl;\\red255\\green0\\blue0;}"
                                       "\\qc{\\b\\fs40 \\'c7\\'e0}\\par\\pard\\i\\ul\\cf1 x\\par}"));
    QCOMPARE(BlockTexts(document), QStringLiteral("За\nx"));
    const QTextBlock first = document.begin();
    QVERIFY(first.blockFormat().alignment() & Qt::AlignHCenter);
    const QTextCharFormat heading = first.begin().fragment().charFormat();
    QCOMPARE(heading.fontWeight(), int(QFont::Bold));
    QCOMPARE(heading.fontPointSize(), 20.0);
    QVERIFY(!heading.fontItalic());
    const QTextBlock second = first.next();
    QVERIFY(second.blockFormat().alignment() & Qt::AlignLeft);
    const QTextCharFormat body = second.begin().fragment().charFormat();
    QVERIFY(body.fontItalic());
    QVERIFY(body.fontUnderline());
    QCOMPARE(body.fontWeight(), int(QFont::Normal));
    QCOMPARE(body.foreground().color(), QColor(255, 0, 0));
}

void TestRtfDocument::loadsStreams_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<QString>("expected");
    QTest::newRow("Windows-1251 text, CR LF")
        << kvtest::Cp(QStringLiteral("Строка 1\r\nСтрока 2\r\n")) << QStringLiteral("Строка 1\nСтрока 2\n");
    QTest::newRow("LF and CR line ends") << QByteArray("a\nb\rc") << QStringLiteral("a\nb\nc");
    QTest::newRow("text that mentions RTF later") << QByteArray("x {\\rtf1 y}") << QStringLiteral("x {\\rtf1 y}");
    QTest::newRow("empty stream") << QByteArray() << QString();
    QTest::newRow("cut RTF still reads as RTF") << QByteArray("{\\rtf1 {\\b a\\par b") << QStringLiteral("a\nb");
    QTest::newRow("RTF holding a NUL") << QByteArray("{\\rtf1 a\0b}", 11) << QStringLiteral("ab");
}

void TestRtfDocument::loadsStreams()
{
    QFETCH(QByteArray, data);
    QFETCH(QString, expected);
    QTextDocument document;
    document.setPlainText(QStringLiteral("old content"));
    QVERIFY(kv::LoadRichText(document, data));
    QCOMPARE(BlockTexts(document), expected);
}

void TestRtfDocument::refusesBinaryAndKeepsTheDocument()
{
    // A picture, a UTF-16 file: not RTF, and a NUL byte means it is no Windows-1251 text either.
    const QByteArray samples[] = {QByteArray("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16), QByteArray("\xff\xfe"
                                                                                              "a\0b\0",
                                                                                              6)};
    for (const QByteArray& data : samples) {
        QTextDocument document;
        document.setPlainText(QStringLiteral("old content"));
        QVERIFY(!kv::LoadRichText(document, data));
        QCOMPARE(document.toPlainText(), QStringLiteral("old content"));
    }
}

void TestRtfDocument::viewDocumentRoundTrip()
{
    // A document built the way the view holds one, saved and loaded again, must keep every format;
    // a second save must then give the very same bytes.
    QTextDocument original;
    QTextCursor cursor(&original);
    QTextBlockFormat centered;
    centered.setAlignment(Qt::AlignHCenter);
    cursor.setBlockFormat(centered);
    QTextCharFormat bold;
    bold.setFontWeight(QFont::Bold);
    bold.setFontPointSize(16);
    cursor.insertText(QStringLiteral("Итог"), bold);
    QTextBlockFormat right;
    right.setAlignment(Qt::AlignRight);
    cursor.insertBlock(right);
    QTextCharFormat colored;
    colored.setForeground(QColor(0, 0, 200));
    colored.setFontItalic(true);
    colored.setFontUnderline(true);
    colored.setFontPointSize(9);
    cursor.insertText(QStringLiteral("синий 中"), colored);
    cursor.insertText(QStringLiteral(" обычный"), QTextCharFormat());

    const QByteArray rtf = kv::SaveRtf(original);
    QTextDocument loaded;
    QVERIFY(kv::LoadRichText(loaded, rtf));
    QCOMPARE(BlockTexts(loaded), QStringLiteral("Итог\nсиний 中 обычный"));

    const QTextBlock first = loaded.begin();
    QVERIFY(first.blockFormat().alignment() & Qt::AlignHCenter);
    QCOMPARE(first.begin().fragment().charFormat().fontWeight(), int(QFont::Bold));
    QCOMPARE(first.begin().fragment().charFormat().fontPointSize(), 16.0);
    const QTextBlock second = first.next();
    QVERIFY(second.blockFormat().alignment() & Qt::AlignRight);
    const QTextCharFormat blue = second.begin().fragment().charFormat();
    QCOMPARE(blue.foreground().color(), QColor(0, 0, 200));
    QVERIFY(blue.fontItalic());
    QVERIFY(blue.fontUnderline());
    QCOMPARE(blue.fontPointSize(), 9.0);
    // The unformatted run takes the document's default size rather than some fixed one.
    auto it = second.begin();
    ++it;
    QCOMPARE(it.fragment().text(), QStringLiteral(" обычный"));
    QCOMPARE(it.fragment().charFormat().fontPointSize(), original.defaultFont().pointSizeF());
    QVERIFY(!it.fragment().charFormat().fontItalic());

    QCOMPARE(kv::SaveRtf(loaded), rtf);
}

void TestRtfDocument::savesPlainText()
{
    QTextDocument document;
    QVERIFY(kv::LoadRichText(document, "{\\rtf1 {\\b \\'c0}\\line b\\tab c\\par\\par \\u20013?\\'b8}"));
    // UTF-8 with LF, a character outside Windows-1251 kept whole, and a line end after the last line.
    QCOMPARE(kv::SavePlainText(document), QStringLiteral("А\nb\tc\n\n中ё\n").toUtf8());
}

namespace {

// Runs the word processor's converter on our RTF and returns what it wrote; on failure it returns
// nothing and says why in `error`.
QString ConvertWithOffice(const QString& office, const QByteArray& rtfData, const QString& format,
                          const QString& extension, QString& error)
{
    QTemporaryDir dir;
    const QString rtfPath = dir.filePath(QStringLiteral("result.rtf"));
    QFile rtf(rtfPath);
    if (!dir.isValid() || !rtf.open(QIODevice::WriteOnly)) {
        error = QStringLiteral("cannot write the RTF file");
        return {};
    }
    rtf.write(rtfData);
    rtf.close();

    QProcess process;
    // A profile of its own keeps the run from touching, or waiting on, anybody's real one.
    const QString profile = QUrl::fromLocalFile(dir.filePath(QStringLiteral("profile"))).toString();
    process.start(office, {QStringLiteral("-env:UserInstallation=") + profile, QStringLiteral("--headless"),
                           QStringLiteral("--convert-to"), format, QStringLiteral("--outdir"), dir.path(), rtfPath});
    if (!process.waitForFinished(240000) || process.exitCode() != 0) {
        error = QStringLiteral("the converter failed: ") + QString::fromLocal8Bit(process.readAllStandardError());
        return {};
    }
    QFile out(dir.filePath(QStringLiteral("result.") + extension));
    if (!out.open(QIODevice::ReadOnly)) {
        error = QStringLiteral("no output: ") + QString::fromLocal8Bit(process.readAllStandardError());
        return {};
    }
    QString text = QString::fromUtf8(out.readAll());
    text.remove(QChar(0xFEFF));
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    return text;
}

QString FindOffice()
{
    return QStandardPaths::findExecutable(QStringLiteral("libreoffice"));
}

} // namespace

void TestRtfDocument::wordProcessorReadsOurText()
{
    const QString office = FindOffice();
    if (office.isEmpty())
        QSKIP("libreoffice is not on PATH: the check that a word processor reads our RTF did not run");
    QTextDocument document;
    QVERIFY(kv::LoadRichText(document, kv::WriteRtf(EveryFormat())));
    QString error;
    const QString text = ConvertWithOffice(office, kv::SaveRtf(document), QStringLiteral("txt:Text (encoded):UTF8"),
                                           QStringLiteral("txt"), error);
    QVERIFY2(error.isEmpty(), qPrintable(error));
    QStringList lines = text.split(u'\n');
    while (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();

    // A line break inside a paragraph comes out of the text filter as a line end of its own.
    QString wanted = EveryFormat().plainText();
    wanted.replace(QChar(QChar::LineSeparator), u'\n');
    const QStringList expected = wanted.split(u'\n');
    QCOMPARE(lines.size(), expected.size());
    for (int i = 0; i < lines.size(); ++i) {
        // The text filter is free to drop the optional hyphen and keep the rest as it is.
        QString want = expected[i];
        QString got = lines[i];
        want.remove(QChar(0x00AD));
        got.remove(QChar(0x00AD));
        QCOMPARE(got, want);
    }
}

void TestRtfDocument::wordProcessorReadsOurFormats()
{
    const QString office = FindOffice();
    if (office.isEmpty())
        QSKIP("libreoffice is not on PATH: the check that a word processor reads our formats did not run");
    QString error;
    const QString html =
        ConvertWithOffice(office, kv::WriteRtf(EveryFormat()), QStringLiteral("html"), QStringLiteral("html"), error);
    QVERIFY2(error.isEmpty(), qPrintable(error));
    const QString marks[] = {QStringLiteral("<b>Заголовок</b>"),  QStringLiteral("font-size: 18pt"),
                             QStringLiteral("курсив</i>"),        QStringLiteral("подчёркнуто</u>"),
                             QStringLiteral("color=\"#c00000\""), QStringLiteral("color=\"#0080ff\""),
                             QStringLiteral("font-size: 10pt"),   QStringLiteral("align=\"center\""),
                             QStringLiteral("align=\"right\""),   QStringLiteral("align=\"justify\"")};
    for (const QString& mark : marks)
        QVERIFY2(html.contains(mark), qPrintable(mark));
}

QTEST_MAIN(TestRtfDocument)
#include "test_rtf_document.moc"
