// Printing a document: it reaches the printer with its title, and without a printer the user is told
// so and may have a PDF file instead.
#include "core/platform/Errors.h"
#include "gui/platform/Printing.h"
#include "support/TestSupport.h"

#include <QPainter>
#include <QPrinter>
#include <QPrinterInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTextDocument>
#include <QtTest/QtTest>

using namespace kv;

namespace {

// Runs a poppler tool on a PDF and returns its output, or a null string when the tool is missing.
QString Poppler(const QString& tool, const QString& pdf)
{
    if (QStandardPaths::findExecutable(tool).isEmpty())
        return QString();
    QProcess p;
    if (tool == QLatin1String("pdfinfo"))
        p.start(tool, {pdf});
    else
        p.start(tool, {pdf, QStringLiteral("-")});
    p.waitForFinished(30000);
    return QString::fromUtf8(p.readAllStandardOutput());
}

const QString kText = QStringLiteral("ФИО: Иванов\nПол: Нет ответа");

// The three kinds of job; each must take the same way round a missing printer.
enum class Job
{
    Document,
    DocumentAndPages,
    Pages
};

void Run(Job job, const AppContext& context)
{
    QTextDocument document;
    document.setPlainText(kText);
    const auto paintText = [](QPainter& painter, const QRectF& page) {
        painter.drawText(page, Qt::AlignLeft | Qt::AlignTop, QStringLiteral("Страница диаграммы"));
    };
    switch (job) {
    case Job::Document:
        PrintDocument(context, nullptr, document, QStringLiteral("Квендар"));
        break;
    case Job::DocumentAndPages:
        PrintDocumentAndPages(context, nullptr, document, {paintText}, QStringLiteral("Квендар"));
        break;
    case Job::Pages:
        PrintPages(
            context, nullptr, 1, [&](QPainter& painter, const QRectF& page, int) { paintText(painter, page); },
            QStringLiteral("Квендар"));
        break;
    }
}

// What the job must have written: the document's text, or the painted page for a job of pages.
QString Expected(Job job)
{
    return job == Job::Pages ? QStringLiteral("Страница диаграммы") : QStringLiteral("ФИО: Иванов");
}

} // namespace

class TestPrinting : public QObject
{
    Q_OBJECT

private slots:
    void printsTextWithTitleToTheSuppliedPrinter()
    {
        QTemporaryDir dir;
        const QString pdf = dir.filePath(QStringLiteral("out.pdf"));
        kvtest::FakeDialogs dialogs;
        AppContext context{dir.path() + u'/', dialogs};
        int made = 0;
        context.printerFactory = [&] {
            ++made;
            auto printer = std::make_unique<QPrinter>(QPrinter::HighResolution);
            printer->setOutputFormat(QPrinter::PdfFormat);
            printer->setOutputFileName(pdf);
            return printer;
        };
        Run(Job::Document, context);
        QCOMPARE(made, 1);
        QVERIFY(QFileInfo(pdf).size() > 0);
        // A printer that works asks nothing and says nothing.
        QVERIFY(dialogs.messages.isEmpty());
        QVERIFY(dialogs.saveFilters.isEmpty());

        const QString text = Poppler(QStringLiteral("pdftotext"), pdf);
        if (text.isNull())
            QSKIP("pdftotext is not installed; only the file was checked");
        QVERIFY2(text.contains(QStringLiteral("ФИО: Иванов")), qPrintable(text));
        QVERIFY2(text.contains(QStringLiteral("Пол: Нет ответа")), qPrintable(text));
        const QString info = Poppler(QStringLiteral("pdfinfo"), pdf);
        QVERIFY2(info.contains(QRegularExpression(QStringLiteral("Title:\\s+Квендар"))), qPrintable(info));
    }

    void noPrinterOffersPdf_data()
    {
        QTest::addColumn<int>("job");
        QTest::addColumn<bool>("agree");
        QTest::addColumn<bool>("chooseFile");
        for (const auto& [name, job] :
             {std::pair{"document", Job::Document}, std::pair{"document and pages", Job::DocumentAndPages},
              std::pair{"pages", Job::Pages}}) {
            QTest::addRow("%s, declined", name) << int(job) << false << false;
            QTest::addRow("%s, dialog cancelled", name) << int(job) << true << false;
            QTest::addRow("%s, written", name) << int(job) << true << true;
        }
    }

    void noPrinterOffersPdf()
    {
        QFETCH(int, job);
        QFETCH(bool, agree);
        QFETCH(bool, chooseFile);
        QTemporaryDir dir;
        const QString pdf = dir.filePath(QStringLiteral("итоги.pdf"));
        kvtest::FakeDialogs dialogs;
        AppContext context{dir.path() + u'/', dialogs};
        context.printerFactory = [] { return std::unique_ptr<QPrinter>(); };
        dialogs.answers = {agree ? QMessageBox::Yes : QMessageBox::No};
        dialogs.saveNames = {chooseFile ? pdf : QString()};

        Run(Job(job), context);

        // The old words stay first, and the offer follows them as a question.
        QVERIFY(!dialogs.messages.isEmpty());
        const auto& question = dialogs.messages[0];
        QCOMPARE(question.kind, Dialogs::Kind::Confirmation);
        QVERIFY2(question.text.startsWith(NoPrinterMessage()), qPrintable(question.text));
        QVERIFY2(question.text.contains(QStringLiteral("PDF")), qPrintable(question.text));
        QCOMPARE(question.buttons, QMessageBox::Yes | QMessageBox::No);
        QVERIFY(dialogs.errors.isEmpty());
        QCOMPARE(dialogs.saveFilters, agree ? QStringList{QStringLiteral("PDF (*.pdf)")} : QStringList());
        if (!chooseFile) {
            QCOMPARE(dialogs.messages.size(), 1);
            QVERIFY(QDir(dir.path()).isEmpty());
            return;
        }
        // Written, and the user is told where.
        QVERIFY(QFileInfo(pdf).size() > 0);
        QCOMPARE(dialogs.messages.size(), 2);
        QCOMPARE(dialogs.messages[1].kind, Dialogs::Kind::Information);
        QVERIFY2(dialogs.messages[1].text.contains(QDir::toNativeSeparators(pdf)),
                 qPrintable(dialogs.messages[1].text));
        const QString text = Poppler(QStringLiteral("pdftotext"), pdf);
        if (text.isNull())
            QSKIP("pdftotext is not installed; only the file was checked");
        QVERIFY2(text.contains(Expected(Job(job))), qPrintable(text));
        const QString info = Poppler(QStringLiteral("pdfinfo"), pdf);
        QVERIFY2(info.contains(QRegularExpression(QStringLiteral("Title:\\s+Квендар"))), qPrintable(info));
    }

    void pdfThatCannotBeWrittenNamesTheFile()
    {
        QTemporaryDir dir;
        const QString pdf = dir.filePath(QStringLiteral("нет/такой/папки/out.pdf"));
        kvtest::FakeDialogs dialogs;
        AppContext context{dir.path() + u'/', dialogs};
        context.printerFactory = [] { return std::unique_ptr<QPrinter>(); };
        dialogs.answers = {QMessageBox::Yes};
        dialogs.saveNames = {pdf};
        try {
            Run(Job::DocumentAndPages, context);
            QFAIL("no error raised");
        } catch (const Error& e) {
            QVERIFY2(e.message().contains(QDir::toNativeSeparators(pdf)), qPrintable(e.message()));
        }
        // Only the question: nothing claims the file was written.
        QCOMPARE(dialogs.messages.size(), 1);
    }

    void defaultPrinterMissingOffersPdf()
    {
        if (!QPrinterInfo::defaultPrinter().isNull())
            QSKIP("this machine has a default printer");
        kvtest::FakeDialogs dialogs;
        AppContext context{QStringLiteral("/nonexistent/"), dialogs};
        Run(Job::Document, context);
        QCOMPARE(dialogs.messages.size(), 1);
        QVERIFY(dialogs.messages[0].text.startsWith(NoPrinterMessage()));
    }
};

QTEST_MAIN(TestPrinting)
#include "test_printing.moc"
