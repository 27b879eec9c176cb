// The summary window: filters that apply at once, sortable tables with their charts, the selection
// handed over from the history window, and the PDF of the whole summary.
#include "gui/history/uvsTestGrid.h"
#include "gui/platform/Printing.h"
#include "gui/summary/uvsSummary.h"
#include "gui/widgets/ResultChart.h"
#include "support/SummaryFixture.h"
#include "support/TestSupport.h"
#include "tool/Commands.h"

#include <QComboBox>
#include <QDir>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QPrinter>
#include <QProcess>
#include <QPushButton>
#include <QSpinBox>
#include <QStandardPaths>
#include <QTabWidget>
#include <QTableView>
#include <QTableWidget>
#include <QtTest/QtTest>

using namespace kv;

namespace {

struct Fixture
{
    kvtest::FakeDialogs dialogs;
    kvtest::ExeDir exe;
    AppContext context{exe.path(), dialogs};
    TvsValueTypeList catalogue;

    explicit Fixture(bool withDatabase = true)
    {
        for (const char16_t* name :
             {u"Идеологические ценности", u"Материальные ценности", u"Эмоциональные ценности", u"Витальные ценности"})
            catalogue.Items(catalogue.Add(QString::fromUtf16(name), QString())).Number = catalogue.Count();
        if (withDatabase) {
            QDir(exe.path()).mkpath(QStringLiteral("Data"));
            kvtest::WriteDatabase(exe.file(QStringLiteral("Data")), true);
        }
    }
};

template <typename T> T* Find(QWidget* window, const QString& name)
{
    T* found = window->findChild<T*>(name);
    if (!found)
        qWarning("no %s", qPrintable(name));
    return found;
}

QStringList Column(QTableWidget* table, int column)
{
    QStringList texts;
    for (int r = 0; r < table->rowCount(); ++r)
        texts << (table->item(r, column) ? table->item(r, column)->text() : QString());
    return texts;
}

} // namespace

class TestSummaryWindow : public QObject
{
    Q_OBJECT

private slots:
    void opensOnEverything()
    {
        Fixture f;
        TfmSummary window(f.context, f.catalogue);
        window.Load();
        QCOMPARE(window.windowTitle(), QStringLiteral("Сводка по тестам"));
        auto* count = Find<QLabel>(&window, QStringLiteral("laCount"));
        QVERIFY2(count->text().startsWith(QStringLiteral("Тестов: 4")), qPrintable(count->text()));
        auto* groups = Find<QTableWidget>(&window, QStringLiteral("sgGroups"));
        QCOMPARE(Column(groups, 0),
                 (QStringList{QStringLiteral("Идеологические ценности"), QStringLiteral("Материальные ценности"),
                              QStringLiteral("Эмоциональные ценности"), QStringLiteral("Витальные ценности")}));
        // 5/9 of the points, in Russian notation.
        QCOMPARE(groups->item(0, 2)->text(), QStringLiteral("0,556"));
        QCOMPARE(window.Chart(0)->RowCount(), 4);
        // The family-status list offers what the respondents answered.
        auto* social = Find<QComboBox>(&window, QStringLiteral("cxSocial"));
        QCOMPARE(social->itemText(0), QStringLiteral("Все"));
        QVERIFY(social->findText(QStringLiteral("Холост")) > 0);
    }

    void filtersApplyAtOnce()
    {
        Fixture f;
        TfmSummary window(f.context, f.catalogue);
        window.Load();
        auto* count = Find<QLabel>(&window, QStringLiteral("laCount"));
        auto* sex = Find<QComboBox>(&window, QStringLiteral("cxSex"));
        sex->setCurrentIndex(sex->findText(QStringLiteral("Мужской")));
        QVERIFY2(count->text().startsWith(QStringLiteral("Тестов: 2")), qPrintable(count->text()));
        auto* education = Find<QComboBox>(&window, QStringLiteral("cxEducation"));
        education->setCurrentIndex(education->findText(QStringLiteral("Высшее")));
        QCOMPARE(window.Current().Tests, qint64(1));
        auto* ageFrom = Find<QSpinBox>(&window, QStringLiteral("edAgeFrom"));
        ageFrom->setValue(31);
        QCOMPARE(count->text(), QStringLiteral("нет тестов"));
        QCOMPARE(Find<QTableWidget>(&window, QStringLiteral("sgGroups"))->rowCount(), 0);
        QCOMPARE(Find<QTableWidget>(&window, QStringLiteral("sgValues"))->rowCount(), 0);
        QVERIFY(window.Chart(0)->IsEmpty());
        // Back to no bound: the two again.
        ageFrom->setValue(0);
        sex->setCurrentIndex(0);
        QCOMPARE(window.Current().Tests, qint64(2));
        QVERIFY(!window.Chart(0)->IsEmpty());
    }

    // The chart in view follows a filter at once; another tab's chart when that tab is opened.
    void chartsFollowTheFilter()
    {
        Fixture f;
        TfmSummary window(f.context, f.catalogue);
        window.Load();
        auto* groupsChart = Find<TvsChartView>(&window, QStringLiteral("chGroups"));
        auto* valuesChart = Find<TvsChartView>(&window, QStringLiteral("chValues"));
        QCOMPARE(groupsChart->RowCount(), 4);
        // Respondent 2 alone, with A, B and C.
        auto* sex = Find<QComboBox>(&window, QStringLiteral("cxSex"));
        sex->setCurrentIndex(sex->findText(QStringLiteral("Женский")));
        Find<QTabWidget>(&window, QStringLiteral("pcSummary"))->setCurrentWidget(valuesChart->parentWidget());
        QCOMPARE(valuesChart->RowCount(), 3);
        Find<QSpinBox>(&window, QStringLiteral("edAgeFrom"))->setValue(90);
        QVERIFY(valuesChart->IsEmpty());
        Find<QTabWidget>(&window, QStringLiteral("pcSummary"))->setCurrentWidget(groupsChart->parentWidget());
        QVERIFY(groupsChart->IsEmpty());
    }

    void valuesSortByTheirNumbers()
    {
        Fixture f;
        TfmSummary window(f.context, f.catalogue);
        window.Load();
        auto* values = Find<QTableWidget>(&window, QStringLiteral("sgValues"));
        QCOMPARE(values->rowCount(), 4);
        // Opens sorted by the share of wins: D 1, A 0.722, B 0.444, C 0.25.
        QCOMPARE(Column(values, 0), (QStringList{u"D"_qs, u"A"_qs, u"B"_qs, u"C"_qs}));
        // Mean rank 1, 1.67, 2.33, 3, ascending after a click on its header.
        values->horizontalHeader()->setSortIndicator(5, Qt::AscendingOrder);
        QCOMPARE(Column(values, 0), (QStringList{u"D"_qs, u"A"_qs, u"B"_qs, u"C"_qs}));
        values->horizontalHeader()->setSortIndicator(5, Qt::DescendingOrder);
        QCOMPARE(Column(values, 0), (QStringList{u"C"_qs, u"B"_qs, u"A"_qs, u"D"_qs}));
        values->horizontalHeader()->setSortIndicator(2, Qt::DescendingOrder);
        QCOMPARE(Column(values, 2).first(), QStringLiteral("3"));
    }

    // Respondent 3's log compares each value three times, under the ten the scale asks for.
    void scaleSaysWhyThereIsNone()
    {
        Fixture f;
        TfmSummary window(f.context, f.catalogue);
        window.Load();
        const QString note = Find<QLabel>(&window, QStringLiteral("laScaleNote"))->text();
        QVERIFY2(note.startsWith(QStringLiteral("Слишком мало сравнений")), qPrintable(note));
        QVERIFY(note.contains(QStringLiteral("не менее 10 раз")));
        QCOMPARE(Find<QTableWidget>(&window, QStringLiteral("sgScale"))->rowCount(), 0);
    }

    void noDatabase()
    {
        Fixture f(false);
        TfmSummary window(f.context, f.catalogue);
        window.Load();
        QCOMPARE(Find<QLabel>(&window, QStringLiteral("laCount"))->text(), QStringLiteral("нет тестов"));
    }

    void savedPdfHoldsTablesAndCharts()
    {
        Fixture f;
        TfmSummary window(f.context, f.catalogue);
        window.Load();
        const QString pdf = f.exe.file(QStringLiteral("summary.pdf"));
        f.dialogs.saveNames << pdf;
        Find<QPushButton>(&window, QStringLiteral("btSavePdf"))->click();
        QVERIFY2(f.dialogs.errors.isEmpty(), qPrintable(f.dialogs.errors.join(u'|')));
        QVERIFY(QFileInfo(pdf).size() > 0);
        // It says where it wrote.
        QCOMPARE(f.dialogs.messages.size(), 1);
        QCOMPARE(f.dialogs.messages[0].kind, Dialogs::Kind::Information);
        QVERIFY2(f.dialogs.messages[0].text.contains(QDir::toNativeSeparators(pdf)),
                 qPrintable(f.dialogs.messages[0].text));
        if (QStandardPaths::findExecutable(QStringLiteral("pdftotext")).isEmpty())
            QSKIP("poppler-utils is not installed: the PDF was not read back");
        QProcess p;
        p.start(QStringLiteral("pdftotext"), {pdf, QStringLiteral("-")});
        QVERIFY(p.waitForFinished(60000));
        const QString text = QString::fromUtf8(p.readAllStandardOutput());
        QVERIFY2(text.contains(QStringLiteral("Сводка по тестам")), qPrintable(text));
        QVERIFY(text.contains(QStringLiteral("Отбор: все тесты")));
        QVERIFY(text.contains(QStringLiteral("0,556")));
        // The groups' chart, drawn on a page after the tables.
        QVERIFY(text.contains(QStringLiteral("Средняя доля очков группы")));
    }

    void printWithoutPrinterWritesTheReportToPdf()
    {
        Fixture f;
        f.context.printerFactory = [] { return std::unique_ptr<QPrinter>(); };
        TfmSummary window(f.context, f.catalogue);
        window.Load();
        const QString pdf = f.exe.file(QStringLiteral("print.pdf"));
        f.dialogs.answers = {QMessageBox::Yes};
        f.dialogs.saveNames << pdf;
        Find<QPushButton>(&window, QStringLiteral("btPrint"))->click();
        QVERIFY2(f.dialogs.errors.isEmpty(), qPrintable(f.dialogs.errors.join(u'|')));
        QCOMPARE(f.dialogs.messages.size(), 2);
        QVERIFY(f.dialogs.messages[0].text.startsWith(NoPrinterMessage()));
        QVERIFY(f.dialogs.messages[1].text.contains(QDir::toNativeSeparators(pdf)));
        if (QStandardPaths::findExecutable(QStringLiteral("pdftotext")).isEmpty())
            QSKIP("poppler-utils is not installed: the PDF was not read back");
        QProcess p;
        p.start(QStringLiteral("pdftotext"), {pdf, QStringLiteral("-")});
        QVERIFY(p.waitForFinished(60000));
        QVERIFY(QString::fromUtf8(p.readAllStandardOutput()).contains(QStringLiteral("Сводка по тестам")));
    }

    // The printed report holds what the window shows, with the values in the order the user sorted them.
    void reportFollowsTheShownTables()
    {
        Fixture f;
        TfmSummary window(f.context, f.catalogue);
        window.Load();
        const auto valueOrder = [&window] {
            QStringList names;
            for (const QString& line : window.Report()->toPlainText().split(u'\n')) {
                if (line.size() == 1 && line[0] >= u'A' && line[0] <= u'D')
                    names << line;
            }
            return names;
        };
        QCOMPARE(valueOrder(), (QStringList{u"D"_qs, u"A"_qs, u"B"_qs, u"C"_qs}));
        auto* values = Find<QTableWidget>(&window, QStringLiteral("sgValues"));
        values->horizontalHeader()->setSortIndicator(5, Qt::DescendingOrder);
        QCOMPARE(valueOrder(), (QStringList{u"C"_qs, u"B"_qs, u"A"_qs, u"D"_qs}));

        const QString text = window.Report()->toPlainText();
        for (const QString& shown :
             {Find<QLabel>(&window, QStringLiteral("laCount"))->text(),
              Find<QLabel>(&window, QStringLiteral("laScaleNote"))->text(),
              Find<QLabel>(&window, QStringLiteral("laConsistency"))->text(), values->horizontalHeaderItem(3)->text(),
              QStringLiteral("Идеологические ценности"), QStringLiteral("0,556")})
            QVERIFY2(text.contains(shown), qPrintable(shown));
    }

    // The tables as shown, under the window's filter, through the export's writers: the CSV files are
    // byte for byte what the data tool writes for the same filter, a workbook is one file, and a file
    // type the export does not know is refused with nothing written.
    void exportedTablesFollowTheFilter()
    {
        Fixture f;
        TfmSummary window(f.context, f.catalogue);
        window.Load();
        auto* sex = Find<QComboBox>(&window, QStringLiteral("cxSex"));
        sex->setCurrentIndex(sex->findText(QStringLiteral("Мужской")));
        QCOMPARE(window.Current().Tests, 2);

        f.dialogs.saveNames << f.exe.file(QStringLiteral("men.csv")) << f.exe.file(QStringLiteral("men.xlsx"))
                            << f.exe.file(QStringLiteral("men.txt"));
        auto* button = Find<QPushButton>(&window, QStringLiteral("btExportTables"));
        button->click();
        QVERIFY2(f.dialogs.errors.isEmpty(), qPrintable(f.dialogs.errors.join(u'|')));
        QTemporaryDir tool;
        QString out, err;
        QTextStream o(&out), e(&err);
        QCOMPARE(
            RunSummary({QStringLiteral("--sex"), QStringLiteral("1"), f.exe.file(QStringLiteral("Data")), tool.path()},
                       o, e),
            0);
        for (const QString& table : {u"groups.csv"_qs, u"values.csv"_qs, u"scale.csv"_qs}) {
            const QByteArray shown = f.exe.read(QStringLiteral("men/") + table);
            QVERIFY2(!shown.isEmpty(), qPrintable(table));
            QFile written(tool.filePath(table));
            QVERIFY(written.open(QIODevice::ReadOnly));
            QCOMPARE(shown, written.readAll());
        }
        QVERIFY(f.dialogs.messages.last().text.contains(QStringLiteral("Таблицы сводки сохранены")));

        button->click();
        QVERIFY2(f.dialogs.errors.isEmpty(), qPrintable(f.dialogs.errors.join(u'|')));
        QVERIFY(f.exe.read(QStringLiteral("men.xlsx")).startsWith("PK"));

        button->click();
        QCOMPARE(f.dialogs.errors.size(), 1);
        QVERIFY(f.dialogs.errors.first().contains(QStringLiteral("men.txt")));
        QVERIFY(!QFileInfo::exists(f.exe.file(QStringLiteral("men.txt"))));
    }

    // The history window hands its selected rows over.
    void selectedRowsFromTheHistory()
    {
        Fixture f;
        TfmTestGrid grid(f.context, f.catalogue);
        QTableView* view = grid.Grid();
        view->selectionModel()->select(QItemSelection(view->model()->index(1, 0), view->model()->index(2, 0)),
                                       QItemSelectionModel::Select | QItemSelectionModel::Rows);
        QCOMPARE(grid.SelectedTestIds(), (QList<quint32>{2, 3}));
        auto* menu = Find<QMenu>(&grid, QStringLiteral("pmTestGrid"));
        QVERIFY(menu);
        QAction* item = menu->findChild<QAction*>(QStringLiteral("miSummarySelected"));
        QVERIFY(item);
        QCOMPARE(item->text(), QStringLiteral("Сводка по выбранным..."));

        qint64 shown = -1;
        auto met = kvtest::AnswerModal([&](QWidget* modal) {
            auto* summary = qobject_cast<TfmSummary*>(modal);
            QVERIFY(summary);
            shown = summary->Current().Tests;
            summary->close();
        });
        item->trigger();
        QVERIFY(*met);
        QCOMPARE(shown, qint64(2));
        QVERIFY2(f.dialogs.errors.isEmpty(), qPrintable(f.dialogs.errors.join(u'|')));
    }
};

QTEST_MAIN(TestSummaryWindow)
#include "test_summary_window.moc"
