#include "core/platform/RtfDocument.h"

#include <QFile>
#include <QtTest>

using kv::RtfAlignment;
using kv::RtfCharFormat;
using kv::RtfDocument;
using kv::RtfParagraph;
using kv::RtfRun;

namespace {

// One line per paragraph: an alignment mark ("C:", "R:", "J:"), then the runs; a run that is not in
// the default format is shown as [attributes]text[/]. Line breaks are shown as <br>.
QString Describe(const RtfDocument& document)
{
    QStringList paragraphs;
    for (const RtfParagraph& paragraph : document.paragraphs) {
        QString line;
        switch (paragraph.alignment) {
        case RtfAlignment::Center:
            line += u"C:";
            break;
        case RtfAlignment::Right:
            line += u"R:";
            break;
        case RtfAlignment::Justify:
            line += u"J:";
            break;
        case RtfAlignment::Left:
            break;
        }
        for (const RtfRun& run : paragraph.runs) {
            QStringList attributes;
            if (run.format.bold)
                attributes << QStringLiteral("b");
            if (run.format.italic)
                attributes << QStringLiteral("i");
            if (run.format.underline)
                attributes << QStringLiteral("u");
            if (run.format.color)
                attributes << QStringLiteral("#%1").arg(*run.format.color, 6, 16, QChar(u'0'));
            if (run.format.halfPoints != 24)
                attributes << QStringLiteral("fs%1").arg(run.format.halfPoints);
            QString text = run.text;
            text.replace(QChar::LineSeparator, QStringLiteral("<br>"));
            if (attributes.isEmpty())
                line += text;
            else
                line += u'[' + attributes.join(u' ') + u']' + text + QStringLiteral("[/]");
        }
        paragraphs << line;
    }
    return paragraphs.join(u'\n');
}

QByteArray Rtf(const QByteArray& body)
{
    return "{\\rtf1\\ansi " + body + "}";
}

} // namespace

class TestRtfReader final : public QObject
{
    Q_OBJECT

private slots:
    void readsControlWords_data();
    void readsControlWords();
    void readsMalformedInput_data();
    void readsMalformedInput();
    void refusesWhatIsNotRtf_data();
    void refusesWhatIsNotRtf();
    void survivesDeepNesting();
    void readsHandMadeFixtures_data();
    void readsHandMadeFixtures();
};

void TestRtfReader::readsControlWords_data()
{
    QTest::addColumn<QByteArray>("rtf");
    QTest::addColumn<QString>("expected");

    // clang-format off
    QTest::newRow("plain text") << Rtf("Hello") << QStringLiteral("Hello");
    QTest::newRow("par splits paragraphs") << Rtf("a\\par b\\par c") << QStringLiteral("a\nb\nc");
    QTest::newRow("final par ends the last paragraph") << Rtf("a\\par b\\par") << QStringLiteral("a\nb");
    QTest::newRow("empty paragraphs stay") << Rtf("a\\par\\par\\par b") << QStringLiteral("a\n\n\nb");
    QTest::newRow("line") << Rtf("a\\line b") << QStringLiteral("a<br>b");
    QTest::newRow("tab word and tab byte") << Rtf("a\\tab b\tc") << QStringLiteral("a\tb\tc");
    QTest::newRow("source line ends mean nothing") << Rtf("a\r\nb\nc") << QStringLiteral("abc");
    QTest::newRow("backslash before a line end is par") << Rtf("a\\\r\nb") << QStringLiteral("a\nb");
    QTest::newRow("space after a word is its delimiter") << Rtf("\\b  x") << QStringLiteral("[b] x[/]");
    QTest::newRow("bold in a group") << Rtf("{\\b x}y") << QStringLiteral("[b]x[/]y");
    QTest::newRow("b0 ends bold") << Rtf("\\b x\\b0 y") << QStringLiteral("[b]x[/]y");
    QTest::newRow("italic") << Rtf("\\i x\\i0 y") << QStringLiteral("[i]x[/]y");
    QTest::newRow("underline ulnone") << Rtf("\\ul x\\ulnone y") << QStringLiteral("[u]x[/]y");
    QTest::newRow("underline ul0") << Rtf("\\ul x\\ul0 y") << QStringLiteral("[u]x[/]y");
    QTest::newRow("dotted underline is underline") << Rtf("\\uld x") << QStringLiteral("[u]x[/]");
    QTest::newRow("group restores every format") << Rtf("\\i a{\\b\\ul\\i0\\fs40 b}c") << QStringLiteral("[i]a[/][b u fs40]b[/][i]c[/]");
    QTest::newRow("fs in half-points") << Rtf("\\fs32 x\\fs24 y") << QStringLiteral("[fs32]x[/]y");
    QTest::newRow("fs0 falls back to 12 pt") << Rtf("\\fs0 x") << QStringLiteral("x");
    QTest::newRow("cf from the colour table")
        << Rtf("{\\colortbl;\\red255\\green0\\blue0;\\red0\\green128\\blue255;}\\cf2 x\\cf1 y\\cf0 z")
        << QStringLiteral("[#0080ff]x[/][#ff0000]y[/]z");
    QTest::newRow("cf past the table is automatic") << Rtf("{\\colortbl;\\red255\\green0\\blue0;}\\cf7 x") << QStringLiteral("x");
    QTest::newRow("colour components clamp") << Rtf("{\\colortbl;\\red999\\green-5\\blue16;}\\cf1 x") << QStringLiteral("[#ff0010]x[/]");
    QTest::newRow("qc qr qj ql") << Rtf("\\qc a\\par\\qr b\\par\\qj c\\par\\ql d") << QStringLiteral("C:a\nR:b\nJ:c\nd");
    QTest::newRow("alignment at the par counts") << Rtf("a\\qc\\par b") << QStringLiteral("C:a\nC:b");
    QTest::newRow("pard resets alignment") << Rtf("\\qc a\\par\\pard b") << QStringLiteral("C:a\nb");
    QTest::newRow("plain resets character format") << Rtf("\\b\\i\\ul\\fs30 x\\plain y") << QStringLiteral("[b i u fs30]x[/]y");
    QTest::newRow("Cyrillic by default code page") << Rtf("\\'cf\\'f0\\'e8\\'e2\\'e5\\'f2") << QStringLiteral("Привет");
    QTest::newRow("upper-case hex") << Rtf("\\'C0\\'DF") << QStringLiteral("АЯ");
    QTest::newRow("raw Windows-1251 bytes") << Rtf("\xe4\xe0 \xb8") << QStringLiteral("да ё");
    QTest::newRow("ansicpg1252") << Rtf("\\ansicpg1252 \\'e9\\'e0") << QStringLiteral("éà");
    QTest::newRow("ansicpg1250") << Rtf("\\ansicpg1250 \\'9a") << QStringLiteral("š");
    QTest::newRow("unknown code page falls back to 1251") << Rtf("\\ansicpg99999 \\'e0") << QStringLiteral("а");
    QTest::newRow("font charset beats the document code page")
        << Rtf("\\ansicpg1252\\deff0{\\fonttbl{\\f0\\fswiss Arial;}{\\f1\\fswiss\\fcharset204 Arial CYR;}}\\'e9\\f1\\'e9{\\f0\\'e9}\\'e0")
        << QStringLiteral("éйéа");
    QTest::newRow("default font's charset") << Rtf("\\ansicpg1252\\deff1{\\fonttbl{\\f1\\fcharset204 A;}}\\'e0") << QStringLiteral("а");
    QTest::newRow("plain returns to the default font")
        << Rtf("\\ansicpg1252\\deff0{\\fonttbl{\\f0 A;}{\\f1\\fcharset204 B;}}\\f1\\'e0\\plain\\'e0") << QStringLiteral("аà");
    QTest::newRow("cut double-byte character") << Rtf("\\ansicpg932 \\'82\\'a0\\'82") << QStringLiteral("\u3042");
    QTest::newRow("u with one fallback char") << Rtf("\\u1071?\\u1102?") << QStringLiteral("Яю");
    QTest::newRow("uc0 skips nothing") << Rtf("\\uc0\\u1071 x") << QStringLiteral("Яx");
    QTest::newRow("uc2 skips two hex escapes") << Rtf("\\uc2\\u1071\\'3f\\'3fz") << QStringLiteral("Яz");
    QTest::newRow("fallback control word counts as one") << Rtf("\\u1071\\'3fz\\u1102\\emdash y") << QStringLiteral("Яzюy");
    QTest::newRow("skipping stops at a group end") << Rtf("{\\uc3\\u1071}ab") << QStringLiteral("Яab");
    QTest::newRow("uc is kept per group") << Rtf("{\\uc2 x}\\u1071?b") << QStringLiteral("xЯb");
    QTest::newRow("u control characters other than tab dropped") << Rtf("a\\u10?b\\u0?\\u9?c") << QStringLiteral("ab\tc");
    QTest::newRow("hex control bytes other than tab dropped") << Rtf("a\\'0ab\\'00\\'09c\\'01") << QStringLiteral("ab\tc");
    QTest::newRow("negative u") << Rtf("\\u-3913?") << QString(QChar(0xF0B7));
    QTest::newRow("surrogate pair") << Rtf("\\u-10179?\\u-8704?") << QString::fromUcs4(U"\U0001F600", 1);
    QTest::newRow("escaped braces and backslash") << Rtf("\\{a\\}\\\\") << QStringLiteral("{a}\\");
    QTest::newRow("non-breaking and optional chars") << Rtf("a\\~b\\-c\\_d") << QStringLiteral("a\u00a0b\u00adc\u2011d");
    QTest::newRow("typographic words") << Rtf("\\ldblquote x\\rdblquote\\emdash\\endash\\bullet") << QStringLiteral("\u201cx\u201d\u2014\u2013\u2022");
    QTest::newRow("ignorable destination") << Rtf("{\\*\\generator Writer 1.0;}a{\\*\\unknown {nested} b}c") << QStringLiteral("ac");
    QTest::newRow("font table text is not shown") << Rtf("{\\fonttbl{\\f0\\fnil Arial;}{\\f1 Times;}}x") << QStringLiteral("x");
    QTest::newRow("stylesheet") << Rtf("{\\stylesheet{\\s0\\b Normal;}{\\s1 Heading;}}x") << QStringLiteral("x");
    QTest::newRow("info") << Rtf("{\\info{\\title T}{\\author A}}x") << QStringLiteral("x");
    QTest::newRow("pict hex") << Rtf("{\\pict\\pngblip\\picw10 89504e470d0a}x") << QStringLiteral("x");
    QTest::newRow("bin skips raw bytes, braces too") << Rtf("{\\pict\\bin4 }}\\{}x") << QStringLiteral("x");
    QTest::newRow("par inside a skipped part") << Rtf("a{\\info x\\par y}\\par b") << QStringLiteral("a\nb");
    QTest::newRow("field result shows") << Rtf("{\\field{\\*\\fldinst HYPERLINK x}{\\fldrslt link}}") << QStringLiteral("link");
    QTest::newRow("unknown words ignored") << Rtf("\\viewkind4\\lang1049\\sa200 x") << QStringLiteral("x");
    QTest::newRow("control symbols ignored") << Rtf("a\\|b\\:c") << QStringLiteral("abc");
    QTest::newRow("text after the document ends") << QByteArray("{\\rtf1 a}b{c}") << QStringLiteral("a");
    QTest::newRow("empty document") << QByteArray("{\\rtf1}") << QString();
    // clang-format on
}

void TestRtfReader::readsControlWords()
{
    QFETCH(QByteArray, rtf);
    QFETCH(QString, expected);
    const std::optional<RtfDocument> document = kv::ParseRtf(rtf);
    QVERIFY(document);
    QCOMPARE(Describe(*document), expected);
}

void TestRtfReader::readsMalformedInput_data()
{
    QTest::addColumn<QByteArray>("rtf");
    QTest::addColumn<QString>("expected");

    const QByteArray longWord(100000, 'x');
    // clang-format off
    QTest::newRow("missing closing braces") << QByteArray("{\\rtf1 {\\b abc\\par {\\i d") << QStringLiteral("[b]abc[/]\n[b i]d[/]");
    QTest::newRow("extra closing braces") << QByteArray("{\\rtf1 a}}}}") << QStringLiteral("a");
    QTest::newRow("close before any text") << QByteArray("{\\rtf}x") << QString();
    QTest::newRow("truncated hex, one digit") << QByteArray("{\\rtf1 a\\'4") << QStringLiteral("a");
    QTest::newRow("truncated hex, none") << QByteArray("{\\rtf1 a\\'") << QStringLiteral("a");
    QTest::newRow("bad hex digits") << QByteArray("{\\rtf1 a\\'zzb}") << QStringLiteral("azzb");
    QTest::newRow("lone backslash at the end") << QByteArray("{\\rtf1 a\\") << QStringLiteral("a");
    QTest::newRow("minus without digits") << QByteArray("{\\rtf1 \\fs- x}") << QStringLiteral("- x");
    QTest::newRow("huge font size") << QByteArray("{\\rtf1 \\fs99999999999999999999999 x}") << QStringLiteral("[fs3276]x[/]");
    QTest::newRow("huge negative font size") << QByteArray("{\\rtf1 \\fs-99999999999999999999 x}") << QStringLiteral("x");
    QTest::newRow("huge u is dropped with its fallback") << QByteArray("{\\rtf1 \\u99999999999999?y}") << QStringLiteral("y");
    QTest::newRow("huge uc") << QByteArray("{\\rtf1 \\uc99999999999\\u1071 abc}d") << QStringLiteral("Я");
    QTest::newRow("huge colour index") << QByteArray("{\\rtf1 {\\colortbl;\\red1;}\\cf-2147483648 x\\cf2147483647 y}") << QStringLiteral("xy");
    QTest::newRow("huge bin length") << QByteArray("{\\rtf1 a{\\pict\\bin99999999999 xyz") << QStringLiteral("a");
    QTest::newRow("negative bin length") << QByteArray("{\\rtf1 {\\pict\\bin-5 }x}") << QStringLiteral("x");
    QTest::newRow("very long control word") << QByteArray("{\\rtf1 \\" + longWord + " ok}") << QStringLiteral("ok");
    QTest::newRow("NUL bytes in the text") << QByteArray("{\\rtf1 a\0b}", 11) << QStringLiteral("ab");
    QTest::newRow("colour table without semicolons") << QByteArray("{\\rtf1 {\\colortbl\\red255}\\cf1 x}") << QStringLiteral("x");
    QTest::newRow("font table left open") << QByteArray("{\\rtf1 {\\fonttbl{\\f0 Arial;}x") << QString();
    QTest::newRow("u at the very end") << QByteArray("{\\rtf1 a\\u1071") << QStringLiteral("aЯ");
    // clang-format on
}

void TestRtfReader::readsMalformedInput()
{
    QFETCH(QByteArray, rtf);
    QFETCH(QString, expected);
    const std::optional<RtfDocument> document = kv::ParseRtf(rtf);
    QVERIFY(document);
    QCOMPARE(Describe(*document), expected);
}

void TestRtfReader::refusesWhatIsNotRtf_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("plain text") << QByteArray("Hello {\\rtf1}");
    QTest::newRow("cut header") << QByteArray("{\\rt");
    QTest::newRow("leading blank") << QByteArray(" {\\rtf1 x}");
    QTest::newRow("upper case") << QByteArray("{\\RTF1 x}");
}

void TestRtfReader::refusesWhatIsNotRtf()
{
    QFETCH(QByteArray, data);
    QVERIFY(!kv::LooksLikeRtf(data));
    QVERIFY(!kv::ParseRtf(data));
}

void TestRtfReader::survivesDeepNesting()
{
    // Far deeper than any real document: the reader must neither recurse nor keep a state per level,
    // and must still find where the text and the document end.
    constexpr int kLevels = 100000;
    const QByteArray open(kLevels, '{');
    const QByteArray close(kLevels, '}');
    const QByteArray data = "{\\rtf1 " + open + "\\b deep" + close + " end}tail";
    const std::optional<RtfDocument> document = kv::ParseRtf(data);
    QVERIFY(document);
    QCOMPARE(document->plainText(), QStringLiteral("deep end"));
    // The formatting of the shallow levels still comes back when they close.
    const QByteArray shallow = "{\\rtf1 {\\b " + open + "x" + close + "y}z}";
    const std::optional<RtfDocument> second = kv::ParseRtf(shallow);
    QVERIFY(second);
    QCOMPARE(Describe(*second), QStringLiteral("[b]xy[/]z"));

    // Never closed at all.
    const std::optional<RtfDocument> third = kv::ParseRtf("{\\rtf1 " + open + "x");
    QVERIFY(third);
    QCOMPARE(third->plainText(), QStringLiteral("x"));
}

void TestRtfReader::readsHandMadeFixtures_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("expected");
    QTest::newRow("Western code page with Cyrillic fonts")
        << QStringLiteral("western_cp_cyrillic_fonts.rtf")
        << QStringLiteral("C:[b fs32]Результаты теста[/]\n"
                          "Группа: [i]Семья[/] \u2014 12\n"
                          "[#c00000]Красный[/] и [u]подчёркнутый[/]\n"
                          "Caf\u00e9 \u2116\u00a05");
    QTest::newRow("program's own code page")
        << QStringLiteral("cp1251_formats.rtf")
        << QStringLiteral("R:[b i]Справа[/]\n\nТаб\tуляция<br>перенос\n[fs20]мелко[/] \u4e2d");
}

void TestRtfReader::readsHandMadeFixtures()
{
    QFETCH(QString, file);
    QFETCH(QString, expected);
    QFile f(QStringLiteral(KVENDAR_TEST_DATA_DIR "/rtf/") + file);
    QVERIFY2(f.open(QIODevice::ReadOnly), qPrintable(f.fileName()));
    const std::optional<RtfDocument> document = kv::ParseRtf(f.readAll());
    QVERIFY(document);
    QCOMPARE(Describe(*document), expected);
}

QTEST_GUILESS_MAIN(TestRtfReader)
#include "test_rtf_reader.moc"
