// The chart of one result: drawn from the result list, shown on the results window's own tab and below
// the detailed document, printed as vector graphics and kept in the saved RTF as a picture.
#include "core/catalogue/Catalogue.h"
#include "core/platform/RtfDocument.h"
#include "core/session/CompletedTest.h"
#include "gui/history/uvsDetailedResult.h"
#include "gui/results/uvsResults.h"
#include "gui/summary/uvsSummary.h"
#include "gui/widgets/ResultChart.h"
#include "support/TestSupport.h"

#include <QGraphicsSimpleTextItem>
#include <QGraphicsTextItem>
#include <QGraphicsView>
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

// The shipped catalogue, as the main window loads it.
void ShippedCatalogue(const kvtest::ExeDir& exe, TvsValueTypeList& catalogue)
{
    exe.copyShippedCatalogue();
    ReadCatalogue(exe.path(), QStringLiteral("config.ini"), catalogue);
}

// A whole test of the fifteen longest names of the catalogue, the longest winning most: every group
// and value label of the chart is as long as the catalogue makes one.
void LongestResult(const TvsValueTypeList& catalogue, TvsValueTypeList& result)
{
    struct Named
    {
        QString name;
        int group;
        QString groupName;
    };
    std::vector<Named> all;
    for (int g = 0; g < catalogue.Count(); ++g)
        for (int v = 0; v < catalogue.Items(g).Values->Count(); ++v)
            all.push_back(
                {catalogue.Items(g).Values->Items(v).Name, catalogue.Items(g).Number, catalogue.Items(g).Name});
    std::stable_sort(all.begin(), all.end(),
                     [](const Named& a, const Named& b) { return a.name.size() > b.name.size(); });
    all.resize(15);
    int wins = 14;
    for (const Named& value : all) {
        int g = 0;
        while (g < result.Count() && result.Items(g).Name != value.groupName)
            ++g;
        if (g == result.Count()) {
            TvsValueTypeRec& group = result.Items(result.Add(value.groupName, QString()));
            group.Number = value.group;
            group.Values = std::make_unique<TvsValueList>();
        }
        TvsValueTypeRec& group = result.Items(g);
        group.Values->Items(group.Values->Add(value.name, value.group, value.groupName)).Score = wins;
        group.Score += wins;
        --wins;
    }
}

// Every text the chart draws, read from its scene, line breaks as blanks.
QStringList DrawnTexts(const TvsChartView* chart)
{
    QStringList texts;
    const auto* view = chart->findChild<QGraphicsView*>(QStringLiteral("chartView"));
    if (view == nullptr || view->scene() == nullptr)
        return texts;
    for (const QGraphicsItem* item : view->scene()->items()) {
        if (!item->isVisible())
            continue;
        QString text;
        if (const auto* rich = dynamic_cast<const QGraphicsTextItem*>(item))
            text = rich->toPlainText();
        else if (const auto* simple = dynamic_cast<const QGraphicsSimpleTextItem*>(item))
            text = simple->text();
        text.replace(u'\n', u' ').replace(QChar(0x2028), u' ').remove(QChar(0x200B));
        if (!text.isEmpty())
            texts << text;
    }
    return texts;
}

// The chart library lays itself out in posted events, and the height follows the layout.
void Settle()
{
    for (int i = 0; i < 6; ++i) {
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents();
    }
}

const QRegularExpression kAxisNumber(QStringLiteral("^-?[0-9]+([.,][0-9]+)?$"));

// Every row's label and every legend name drawn whole, nothing cut to an ellipsis, and the value
// axis in Russian notation with 0 among its ticks.
QString Unreadable(const TvsChartView* chart, const QStringList& wanted, bool decimalsWanted)
{
    const QStringList texts = DrawnTexts(chart);
    QStringList faults;
    for (const QString& text : texts)
        if (text.contains(QStringLiteral("...")) || text.contains(QChar(0x2026)))
            faults << QStringLiteral("cut: ") + text;
    for (const QString& label : wanted)
        if (!texts.contains(label))
            faults << QStringLiteral("missing: ") + label;
    const QStringList numbers = texts.filter(kAxisNumber);
    if (numbers.isEmpty())
        faults << QStringLiteral("no axis numbers");
    for (const QString& number : numbers)
        if (number.contains(u'.'))
            faults << QStringLiteral("decimal point: ") + number;
    if (numbers.filter(QRegularExpression(QStringLiteral("^0(,0+)?$"))).isEmpty())
        faults << QStringLiteral("no 0 among: ") + numbers.join(u' ');
    if (decimalsWanted && numbers.filter(QStringLiteral(",")).isEmpty())
        faults << QStringLiteral("no decimal comma among: ") + numbers.join(u' ');
    return faults.join(u'\n');
}

QStringList Labels(const std::vector<TvsChartRow>& rows, const QMap<int, QString>& names)
{
    QStringList labels;
    for (const TvsChartRow& row : rows)
        labels << row.Label;
    for (const QString& name : names)
        labels << name;
    return labels;
}

const QList<QSize> kWindowSizes{QSize(), QSize(1280, 1024)};

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

    // Round ticks from 0 or below it to just past the data, written with a decimal comma.
    void axisHasRoundTicksWithZero_data()
    {
        QTest::addColumn<Rows>("rows");
        QTest::addColumn<int>("decimals");
        QTest::addColumn<QStringList>("ticks");
        QTest::newRow("shares end at the next tenth")
            << Rows{{u"a: 0,61"_qs, 0.61, 1, true}, {u"b: 0,05"_qs, 0.05, 2, true}} << 2
            << QStringList{u"0,0"_qs, u"0,1"_qs, u"0,2"_qs, u"0,3"_qs, u"0,4"_qs, u"0,5"_qs, u"0,6"_qs, u"0,7"_qs};
        QTest::newRow("shares under a tenth")
            << Rows{{u"a: 0,043"_qs, 0.043, 1, true}, {u"b: 0,012"_qs, 0.012, 2, true}} << 2
            << QStringList{u"0,00"_qs, u"0,01"_qs, u"0,02"_qs, u"0,03"_qs, u"0,04"_qs, u"0,05"_qs};
        QTest::newRow("scale on both sides of 0")
            << Rows{{u"a: 1,71"_qs, 1.71, 1, true}, {u"b: -0,02"_qs, -0.02, 2, true}, {u"c: -3,48"_qs, -3.48, 3, true}}
            << 2 << QStringList{u"-4"_qs, u"-3"_qs, u"-2"_qs, u"-1"_qs, u"0"_qs, u"1"_qs, u"2"_qs};
        QTest::newRow("few wins, every whole number")
            << Rows{{u"a: 7"_qs, 7, 1, true}, {u"b: 2"_qs, 2, 1, false}} << 0
            << QStringList{u"0"_qs, u"1"_qs, u"2"_qs, u"3"_qs, u"4"_qs, u"5"_qs, u"6"_qs, u"7"_qs};
        QTest::newRow("many wins in fives") << Rows{{u"a: 23"_qs, 23, 1, true}, {u"b: 6"_qs, 6, 1, false}} << 0
                                            << QStringList{u"0"_qs, u"5"_qs, u"10"_qs, u"15"_qs, u"20"_qs, u"25"_qs};
        QTest::newRow("counts never step by a half") << Rows{{u"a: 18"_qs, 18, 0, true}, {u"b: 3"_qs, 3, 0, true}} << 0
                                                     << QStringList{u"0"_qs, u"5"_qs, u"10"_qs, u"15"_qs, u"20"_qs};
        QTest::newRow("counts all 0") << Rows{{u"a: 0"_qs, 0, 0, true}, {u"b: 0"_qs, 0, 0, true}} << 0
                                      << QStringList{u"0"_qs, u"1"_qs};
    }
    void axisHasRoundTicksWithZero()
    {
        QFETCH(Rows, rows);
        QFETCH(int, decimals);
        QFETCH(QStringList, ticks);
        TvsChartView chart;
        chart.resize(640, 320);
        chart.show();
        QVERIFY(QTest::qWaitForWindowExposed(&chart));
        chart.SetRows(u"Оси"_qs, rows, {{1, u"Первая"_qs}, {2, u"Вторая"_qs}, {3, u"Третья"_qs}}, decimals);
        Settle();
        QStringList drawn = DrawnTexts(&chart).filter(kAxisNumber);
        const auto byValue = [](const QString& a, const QString& b) {
            return QString(a).replace(u',', u'.').toDouble() < QString(b).replace(u',', u'.').toDouble();
        };
        std::sort(drawn.begin(), drawn.end(), byValue);
        QCOMPARE(drawn, ticks);
    }

    // Long names wrap rather than end in "...", and many rows take the height they need, a scroll bar
    // appearing where the chart has less.
    void longLabelsAreDrawnWhole_data()
    {
        QTest::addColumn<QSize>("size");
        QTest::newRow("narrow and low") << QSize(420, 260);
        QTest::newRow("detailed window") << QSize(620, 240);
        QTest::newRow("wide") << QSize(1260, 700);
    }
    void longLabelsAreDrawnWhole()
    {
        QFETCH(QSize, size);
        kvtest::ExeDir exe;
        TvsValueTypeList catalogue, result;
        ShippedCatalogue(exe, catalogue);
        QCOMPARE(catalogue.Count(), 4);
        LongestResult(catalogue, result);
        TvsChartView chart;
        chart.resize(size);
        chart.show();
        QVERIFY(QTest::qWaitForWindowExposed(&chart));
        const auto rows = ResultChartRows(result);
        const auto names = ResultGroupNames(result);
        chart.SetRows(ResultChartTitle(), rows, names);
        Settle();
        const QString faults = Unreadable(&chart, Labels(rows, names), false);
        QVERIFY2(faults.isEmpty(), qPrintable(faults));
        QCOMPARE(chart.size(), size);
    }

    // A value's name comes from a file anyone can edit; the axis reads labels as rich text, so markup
    // in a name must be drawn as the characters it is made of.
    void markupInANameIsDrawnAsText()
    {
        TvsChartView chart;
        chart.resize(640, 320);
        chart.show();
        QVERIFY(QTest::qWaitForWindowExposed(&chart));
        const Rows rows{{u"a < b & <b>c</b>: 2"_qs, 2, 1, true}, {u"<br>d: 1"_qs, 1, 2, true}};
        chart.SetRows(u"Разметка"_qs, rows, {{1, u"<i>Первая</i>"_qs}, {2, u"Вторая"_qs}});
        Settle();
        const QStringList texts = DrawnTexts(&chart);
        for (const QString& label : {u"a < b & <b>c</b>: 2"_qs, u"<br>d: 1"_qs, u"<i>Первая</i>"_qs})
            QVERIFY2(texts.contains(label), qPrintable(texts.join(u'|')));
    }

    void resultsWindowGrowsAndItsChartIsReadable()
    {
        kvtest::FakeDialogs dialogs;
        kvtest::ExeDir exe;
        AppContext context{exe.path(), dialogs};
        TvsValueTypeList catalogue, result;
        ShippedCatalogue(exe, catalogue);
        LongestResult(catalogue, result);
        const QStringList wanted = Labels(ResultChartRows(result), ResultGroupNames(result));
        TfmResults window{context};
        QStringList faults;
        QSize opened;
        auto met = kvtest::AnswerModal([&](QWidget* modal) {
            opened = modal->size();
            auto* tabs = modal->findChild<QTabWidget*>(QStringLiteral("pcData"));
            tabs->setCurrentIndex(tabs->count() - 1);
            for (const QSize& size : kWindowSizes) {
                if (size.isValid())
                    modal->resize(size);
                Settle();
                if (size.isValid() && modal->size() != size)
                    faults << QStringLiteral("stays at %1×%2").arg(modal->width()).arg(modal->height());
                const QString fault = Unreadable(window.Chart(), wanted, false);
                if (!fault.isEmpty())
                    faults << QStringLiteral("at %1×%2: ").arg(modal->width()).arg(modal->height()) + fault;
            }
            dialogs.answers = {QMessageBox::Yes};
            modal->findChild<QPushButton*>(QStringLiteral("btClose"))->click();
        });
        window.Execute(result);
        QVERIFY(*met);
        QCOMPARE(opened, QSize(520, 560));
        QVERIFY(window.windowFlags() & Qt::WindowMaximizeButtonHint);
        QVERIFY2(faults.isEmpty(), qPrintable(faults.join(u'\n')));
    }

    void detailedChartIsReadable()
    {
        kvtest::FakeDialogs dialogs;
        kvtest::ExeDir exe;
        AppContext context{exe.path(), dialogs};
        TvsValueTypeList catalogue, result;
        ShippedCatalogue(exe, catalogue);
        LongestResult(catalogue, result);
        const QStringList wanted = Labels(ResultChartRows(result), ResultGroupNames(result));
        TfmDetailedResult window(context);
        window.Compose(Respondent(), result);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QCOMPARE(window.size(), QSize(640, 480));
        for (const QSize& size : kWindowSizes) {
            if (size.isValid())
                window.resize(size);
            Settle();
            const QString faults = Unreadable(window.Chart(), wanted, false);
            QVERIFY2(faults.isEmpty(),
                     qPrintable(QStringLiteral("at %1×%2: ").arg(window.width()).arg(window.height()) + faults));
        }
    }

    // The summary of tests that between them take in the whole catalogue: the values chart shows the
    // first thirty, the scale all of them.
    void summaryChartsAreReadable()
    {
        kvtest::FakeDialogs dialogs;
        kvtest::ExeDir exe;
        AppContext context{exe.path(), dialogs};
        TvsValueTypeList catalogue;
        ShippedCatalogue(exe, catalogue);
        struct Value
        {
            QString name, groupName;
            int group;
        };
        std::vector<Value> all;
        for (int g = 0; g < catalogue.Count(); ++g)
            for (int v = 0; v < catalogue.Items(g).Values->Count(); ++v)
                all.push_back(
                    {catalogue.Items(g).Values->Items(v).Name, catalogue.Items(g).Name, catalogue.Items(g).Number});
        QVERIFY(all.size() > 30);
        // Overlapping tests of ten values, each answered by a fixed rule that is not a strict order,
        // so that the scale can be fitted.
        for (size_t start = 0; start < all.size(); start += 5) {
            std::vector<Value> chosen;
            for (size_t i = 0; i < 10; ++i)
                chosen.push_back(all[(start + i) % all.size()]);
            std::vector<int> wins(chosen.size());
            TvsAnswerLog log;
            for (int a = 0; a < int(chosen.size()); ++a) {
                for (int b = a + 1; b < int(chosen.size()); ++b) {
                    TvsAnswer answer;
                    answer.Question = int(log.size()) + 1;
                    answer.Upper = chosen[size_t(a)].name;
                    answer.UpperGroup = chosen[size_t(a)].group;
                    answer.Lower = chosen[size_t(b)].name;
                    answer.LowerGroup = chosen[size_t(b)].group;
                    answer.Chosen = quint8((a * 7 + b * 3 + int(start)) % 5 < 3 ? 1 : 2);
                    ++wins[size_t(answer.Chosen == 1 ? a : b)];
                    log.push_back(answer);
                }
            }
            TvsValueTypeList result;
            for (size_t i = 0; i < chosen.size(); ++i) {
                if (wins[i] == 0)
                    continue;
                int g = 0;
                while (g < result.Count() && result.Items(g).Name != chosen[i].groupName)
                    ++g;
                if (g == result.Count()) {
                    TvsValueTypeRec& group = result.Items(result.Add(chosen[i].groupName, QString()));
                    group.Number = chosen[i].group;
                    group.Values = std::make_unique<TvsValueList>();
                }
                TvsValueTypeRec& group = result.Items(g);
                group.Values->Items(group.Values->Add(chosen[i].name, chosen[i].group, chosen[i].groupName)).Score =
                    wins[i];
                group.Score += wins[i];
            }
            TvsQuestionnaire answers;
            answers.Fio = QStringLiteral("Респондент %1").arg(start);
            SaveCompletedTest(context.dataDir(), answers, result, &log, QDateTime(QDate(2026, 1, 1), QTime(12, 0)));
        }

        TfmSummary window(context, catalogue);
        window.Load();
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        auto* tabs = window.findChild<QTabWidget*>(QStringLiteral("pcSummary"));
        QVERIFY(tabs);
        for (const QSize& size : kWindowSizes) {
            if (size.isValid())
                window.resize(size);
            for (int tab : {0, 1, 2}) {
                TvsChartView* chart = window.Chart(tab);
                tabs->setCurrentWidget(chart->parentWidget());
                Settle();
                QVERIFY2(!chart->IsEmpty(), qPrintable(QString::number(tab)));
                if (tab == 1)
                    QCOMPARE(chart->RowCount(), 30);
                if (tab == 2)
                    QCOMPARE(chart->RowCount(), int(all.size()));
                QStringList wanted;
                // The value names themselves: the numbers after them come from the summary.
                for (const QString& text : DrawnTexts(chart))
                    if (text.contains(QStringLiteral(": ")))
                        wanted << text.left(text.lastIndexOf(QStringLiteral(": ")));
                QCOMPARE(wanted.size(), chart->RowCount());
                for (const QString& name : wanted) {
                    const bool known = std::any_of(all.begin(), all.end(), [&](const Value& v) {
                        return (tab == 0 ? v.groupName : v.name) == name;
                    });
                    QVERIFY2(known, qPrintable(name));
                }
                const QString faults = Unreadable(chart, {}, true);
                QVERIFY2(
                    faults.isEmpty(),
                    qPrintable(QStringLiteral("tab %1 at %2×%3: ").arg(tab).arg(window.width()).arg(window.height()) +
                               faults));
            }
        }
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
