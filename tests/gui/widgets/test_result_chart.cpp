// The chart of one result: drawn from the result list, shown on the results window's own tab and below
// the detailed document, printed as vector graphics and kept in the saved RTF as a picture.
#include "core/platform/RtfDocument.h"
#include "gui/history/uvsDetailedResult.h"
#include "gui/results/uvsResults.h"
#include "gui/widgets/ResultChart.h"
#include "support/TestSupport.h"

#include <QPrinter>
#include <QProcess>
#include <QPushButton>
#include <QStandardPaths>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTextDocument>
#include <QTextEdit>
#include <QUrl>
#include <QtTest/QtTest>

using namespace kv;

namespace {

// Two groups as the history window rebuilds them: numbered by position, the values keeping the
// catalogue number.
void Ranking(TvsValueTypeList& list, int healthWins = 3)
{
    auto add = [&](const QString& name, int number, const QList<QPair<QString, int>>& values) {
        TvsValueTypeRec& group = list.Items(list.Add(name, QString()));
        group.Values = std::make_unique<TvsValueList>();
        for (const auto& [valueName, score] : values) {
            group.Values->Items(group.Values->Add(valueName, number, name)).Score = score;
            group.Score += score;
        }
    };
    add(QStringLiteral("Материальные ценности"), 2, {{QStringLiteral("Деньги"), 5}, {QStringLiteral("Дом"), 2}});
    add(QStringLiteral("Витальные ценности"), 4, {{QStringLiteral("Здоровье"), healthWins}});
}

TvsDBTestRec Respondent()
{
    TvsDBTestRec rec;
    rec.SetId(1);
    rec.SetFio(QStringLiteral("Петрова Анна"));
    rec.SetSex(2);
    rec.SetAge(34);
    return rec;
}

QImage Drawn(const TvsValueTypeList& list)
{
    TvsChartView chart;
    chart.resize(640, 320);
    chart.SetRows(ResultChartTitle(), ResultChartRows(list), ResultGroupNames(list));
    chart.show();
    if (!QTest::qWaitForWindowExposed(&chart))
        return {};
    return chart.grab().toImage().convertToFormat(QImage::Format_RGB32);
}

int CountColour(const QImage& image, QRgb colour)
{
    int count = 0;
    for (int y = 0; y < image.height(); ++y) {
        const QRgb* line = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        for (int x = 0; x < image.width(); ++x)
            count += (line[x] & 0xffffff) == (colour & 0xffffff);
    }
    return count;
}

// Runs a poppler tool on a file; a null string when it is not installed.
QString Poppler(const QString& tool, const QStringList& args)
{
    if (QStandardPaths::findExecutable(tool).isEmpty())
        return QString();
    QProcess p;
    p.start(tool, args);
    p.waitForFinished(60000);
    return QString::fromUtf8(p.readAllStandardOutput());
}

// pdfimages -list prints two header lines and one line per picture.
int PictureCount(const QString& pdf)
{
    const QString list = Poppler(QStringLiteral("pdfimages"), {QStringLiteral("-list"), pdf});
    return int(list.split(u'\n', Qt::SkipEmptyParts).size()) - 2;
}

PrinterFactory PdfTo(const QString& pdf)
{
    return [pdf] {
        auto printer = std::make_unique<QPrinter>(QPrinter::HighResolution);
        printer->setOutputFormat(QPrinter::PdfFormat);
        printer->setOutputFileName(pdf);
        return printer;
    };
}

// Chart labels may be laid out with other text on the same line; blanks do not matter here.
QString Squeezed(QString text)
{
    text.remove(u' ');
    text.remove(u'\n');
    return text;
}

using Rows = std::vector<TvsChartRow>;

// What a chart shows once it has settled: the chart library lays itself out in posted events.
QImage Settled(TvsChartView& chart)
{
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
    return chart.grab().toImage().convertToFormat(QImage::Format_RGB32);
}

} // namespace

Q_DECLARE_METATYPE(Rows)

class TestResultChart : public QObject
{
    Q_OBJECT

private slots:
    void rowsOfAResult()
    {
        TvsValueTypeList list;
        Ranking(list);
        const std::vector<TvsChartRow> rows = ResultChartRows(list);
        QCOMPARE(rows.size(), size_t(5));
        QCOMPARE(rows[0].Label, QStringLiteral("Материальные ценности: 7"));
        QVERIFY(rows[0].Strong);
        QCOMPARE(rows[0].Group, 2);
        QCOMPARE(rows[1].Label, QStringLiteral("Деньги: 5"));
        QCOMPARE(rows[1].Value, 5.0);
        QVERIFY(!rows[1].Strong);
        QCOMPARE(rows[3].Group, 4);
        QCOMPARE(ResultGroupNames(list).value(4), QStringLiteral("Витальные ценности"));
    }

    // The same result draws the same pixels; one bar longer draws different ones; and the groups'
    // colours are both on screen.
    void drawnBarsFollowTheResult()
    {
        TvsValueTypeList list, same, changed;
        Ranking(list);
        Ranking(same);
        Ranking(changed, 1);
        const QImage a = Drawn(list);
        QVERIFY(!a.isNull());
        QCOMPARE(Drawn(same), a);
        const QImage b = Drawn(changed);
        QCOMPARE(b.size(), a.size());
        QVERIFY(b != a);
        const QRgb material = qRgb(0xc0, 0x6a, 0x10), vital = qRgb(0x2e, 0x8b, 0x3e);
        QVERIFY(CountColour(a, material) > 100);
        QVERIFY(CountColour(a, vital) > 100);
        // Health's three wins became one; the axis still ends at the other group's 7, so both of the
        // vital bars lose two thirds of their length and the material bars stay as they were.
        const QRgb vitalLight = QColor(vital).lighter(160).rgb();
        QVERIFY(CountColour(b, vital) < CountColour(a, vital) / 2);
        QVERIFY(CountColour(b, vitalLight) < CountColour(a, vitalLight) / 2);
        QVERIFY(std::abs(CountColour(b, material) - CountColour(a, material)) < CountColour(a, material) / 20);
    }

    // A chart given new rows of the same groups keeps its series and axes and changes their values
    // and labels: it must draw exactly what a chart built for those rows draws.
    void updatedInPlaceDrawsAsBuiltAfresh_data()
    {
        QTest::addColumn<Rows>("before");
        QTest::addColumn<Rows>("after");
        QTest::addColumn<int>("decimals");
        QTest::newRow("wins, few ticks to nice numbers")
            << Rows{{u"A: 3"_qs, 3, 1, true}, {u"B: 1"_qs, 1, 1, false}, {u"C: 2"_qs, 2, 2, false}}
            << Rows{{u"A: 23"_qs, 23, 1, true}, {u"B: 17"_qs, 17, 1, false}, {u"C: 6"_qs, 6, 2, false}} << 0;
        QTest::newRow("shares, labels longer")
            << Rows{{u"x: 0,10"_qs, 0.1, 3, true}, {u"y: 0,20"_qs, 0.2, 4, true}}
            << Rows{{u"длинная подпись: 0,61"_qs, 0.61, 3, true}, {u"y: 0,05"_qs, 0.05, 4, true}} << 2;
        QTest::newRow("scale below zero, repeated label")
            << Rows{{u"p: 0,5"_qs, 0.5, 1, true}, {u"q: 0,1"_qs, 0.1, 2, true}, {u"r: -0,6"_qs, -0.6, 2, true}}
            << Rows{{u"p: 0,0"_qs, 0.0, 1, true}, {u"p: 0,0"_qs, 0.0, 2, true}, {u"r: -1,2"_qs, -1.2, 2, true}} << 2;
    }
    void updatedInPlaceDrawsAsBuiltAfresh()
    {
        QFETCH(Rows, before);
        QFETCH(Rows, after);
        QFETCH(int, decimals);
        const QMap<int, QString> names{{1, u"Первая"_qs}, {2, u"Вторая"_qs}, {3, u"Третья"_qs}, {4, u"Четвёртая"_qs}};
        TvsChartView updated, fresh;
        for (TvsChartView* chart : {&updated, &fresh}) {
            chart->resize(640, 320);
            chart->show();
            QVERIFY(QTest::qWaitForWindowExposed(chart));
        }
        updated.SetRows(u"До"_qs, before, names, decimals);
        const QImage old = Settled(updated);
        updated.SetRows(u"После"_qs, after, names, decimals);
        fresh.SetRows(u"После"_qs, after, names, decimals);
        const QImage now = Settled(updated);
        QCOMPARE(updated.RowCount(), int(after.size()));
        QVERIFY(now != old);
        QCOMPARE(now, Settled(fresh));
    }

    void emptyResultDrawsNoBars()
    {
        TvsChartView chart;
        chart.SetRows(ResultChartTitle(), {}, {});
        QVERIFY(chart.IsEmpty());
    }

    void resultsWindowHasTheChartTabLast()
    {
        kvtest::FakeDialogs dialogs;
        kvtest::ExeDir exe;
        AppContext context{exe.path(), dialogs};
        const QString pdf = exe.file(QStringLiteral("chart.pdf"));
        context.printerFactory = PdfTo(pdf);
        TvsValueTypeList list;
        Ranking(list);
        TfmResults window{context};
        auto* tabs = window.findChild<QTabWidget*>(QStringLiteral("pcData"));
        QVERIFY(tabs);
        QCOMPARE(tabs->tabText(0), QStringLiteral("Личные данные"));
        QCOMPARE(tabs->tabText(1), QStringLiteral("Текст письма"));
        QCOMPARE(tabs->tabText(tabs->count() - 1), QStringLiteral("Диаграмма"));
        QCOMPARE(tabs->widget(tabs->count() - 1)->objectName(), QStringLiteral("tsChart"));
        QCOMPARE(tabs->currentIndex(), 0);

        auto met = kvtest::AnswerModal([&](QWidget* modal) {
            tabs->setCurrentIndex(tabs->count() - 1);
            QCOMPARE(window.Chart()->RowCount(), 5);
            QVERIFY(window.Chart()->isVisible());
            modal->findChild<QPushButton*>(QStringLiteral("btPrintChart"))->click();
            dialogs.answers = {QMessageBox::Yes};
            modal->findChild<QPushButton*>(QStringLiteral("btClose"))->click();
        });
        window.Execute(list);
        QVERIFY(*met);
        QVERIFY2(dialogs.errors.isEmpty(), qPrintable(dialogs.errors.join(u'|')));
        QVERIFY(QFileInfo(pdf).size() > 0);
        const QString text = Poppler(QStringLiteral("pdftotext"), {pdf, QStringLiteral("-")});
        if (text.isNull())
            QSKIP("poppler-utils is not installed: the printed chart was not read back");
        QVERIFY2(Squeezed(text).contains(QStringLiteral("Материальныеценности:7")), qPrintable(text));
        QVERIFY(Squeezed(text).contains(QStringLiteral("Здоровье:3")));
        // Drawn, not pasted in as a picture: it stays sharp at any zoom.
        QCOMPARE(PictureCount(pdf), 0);
    }

    void detailedWindowShowsAndPrintsTheChart()
    {
        kvtest::FakeDialogs dialogs;
        kvtest::ExeDir exe;
        AppContext context{exe.path(), dialogs};
        const QString pdf = exe.file(QStringLiteral("detailed.pdf"));
        context.printerFactory = PdfTo(pdf);
        TvsValueTypeList list;
        Ranking(list);
        TfmDetailedResult window(context);
        window.Compose(Respondent(), list);
        QCOMPARE(window.Chart()->RowCount(), 5);
        QVERIFY(!window.Chart()->isHidden());

        window.findChild<QPushButton*>(QStringLiteral("btPrint"))->click();
        QVERIFY2(dialogs.errors.isEmpty(), qPrintable(dialogs.errors.join(u'|')));
        const QString text = Poppler(QStringLiteral("pdftotext"), {pdf, QStringLiteral("-")});
        if (text.isNull())
            QSKIP("poppler-utils is not installed: the printed chart was not read back");
        // The document first, then the chart on a page of its own.
        QVERIFY2(text.contains(QStringLiteral("ФИО: Петрова Анна")), qPrintable(text));
        QVERIFY(Squeezed(text).contains(QStringLiteral("Деньги:5")));
        QCOMPARE(Poppler(QStringLiteral("pdfinfo"), {pdf}).contains(QRegularExpression(QStringLiteral("Pages:\\s+2"))),
                 true);
        QCOMPARE(PictureCount(pdf), 0);

        TfmDetailedResult empty(context);
        empty.Compose(Respondent(), TvsValueTypeList());
        QVERIFY(empty.Chart()->isHidden());
    }

    // The RTF holds the picture; a word processor finds it; the plain-text save stays text.
    void savedDocumentKeepsThePicture()
    {
        kvtest::FakeDialogs dialogs;
        kvtest::ExeDir exe;
        AppContext context{exe.path(), dialogs};
        TvsValueTypeList list;
        Ranking(list);
        TfmDetailedResult window(context);
        window.Compose(Respondent(), list);
        const QString rtfName = exe.file(QStringLiteral("result.rtf"));
        const QString txtName = exe.file(QStringLiteral("result.txt"));
        dialogs.saveNames << rtfName << txtName;
        auto* save = window.findChild<QPushButton*>(QStringLiteral("btSaveAs"));
        save->click();
        save->click();
        QVERIFY2(dialogs.errors.isEmpty(), qPrintable(dialogs.errors.join(u'|')));

        const QByteArray rtf = exe.read(QStringLiteral("result.rtf"));
        QVERIFY(rtf.contains("{\\pict\\pngblip"));
        // The picture is a whole PNG in hexadecimal.
        const qsizetype start = rtf.indexOf("\\pichgoal");
        QVERIFY(start > 0);
        const qsizetype hexStart = rtf.indexOf("\r\n", start) + 2;
        QByteArray hex = rtf.mid(hexStart, rtf.indexOf('}', hexStart) - hexStart);
        hex.replace("\r\n", "");
        const QImage picture = QImage::fromData(QByteArray::fromHex(hex), "PNG");
        QVERIFY(!picture.isNull());
        QCOMPARE(picture.width(), 1280);
        // Our own reader still reads the text around it.
        const auto parsed = ParseRtf(rtf);
        QVERIFY(parsed && parsed->plainText().contains(QStringLiteral("ФИО: Петрова Анна")));

        const QByteArray txt = exe.read(QStringLiteral("result.txt"));
        QVERIFY(!txt.contains("pict"));
        QVERIFY(!txt.contains("\x89PNG"));
        QVERIFY(txt.contains(QStringLiteral("\nДеньги: 5\n").toUtf8()));

        const QString office = QStandardPaths::findExecutable(QStringLiteral("soffice"));
        if (office.isEmpty())
            QSKIP("LibreOffice is not installed: the word processor's reading of the picture was not checked");
        QTemporaryDir out;
        QProcess convert;
        const QString profile = QUrl::fromLocalFile(out.filePath(QStringLiteral("profile"))).toString();
        convert.start(office, {QStringLiteral("-env:UserInstallation=") + profile, QStringLiteral("--headless"),
                               QStringLiteral("--convert-to"), QStringLiteral("pdf"), QStringLiteral("--outdir"),
                               out.path(), rtfName});
        QVERIFY(convert.waitForFinished(240000));
        const QString converted = out.filePath(QStringLiteral("result.pdf"));
        QVERIFY2(QFileInfo::exists(converted), qPrintable(QString::fromLocal8Bit(convert.readAllStandardError())));
        QCOMPARE(PictureCount(converted), 1);
        QVERIFY(Poppler(QStringLiteral("pdftotext"), {converted, QStringLiteral("-")})
                    .contains(QStringLiteral("Петрова Анна")));
    }
};

QTEST_MAIN(TestResultChart)
#include "test_result_chart.moc"
