// Printing a document: it reaches the printer with its title, and a missing printer is an error with
// a message instead of silence.
#include "core/platform/Errors.h"
#include "gui/platform/Printing.h"
#include "support/TestSupport.h"

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
        QTextDocument document;
        document.setPlainText(QStringLiteral("ФИО: Иванов\nПол: Нет ответа"));
        PrintDocument(context, document, QStringLiteral("Квендар"));
        QCOMPARE(made, 1);
        QVERIFY(QFileInfo(pdf).size() > 0);

        const QString text = Poppler(QStringLiteral("pdftotext"), pdf);
        if (text.isNull())
            QSKIP("pdftotext is not installed; only the file was checked");
        QVERIFY2(text.contains(QStringLiteral("ФИО: Иванов")), qPrintable(text));
        QVERIFY2(text.contains(QStringLiteral("Пол: Нет ответа")), qPrintable(text));
        const QString info = Poppler(QStringLiteral("pdfinfo"), pdf);
        QVERIFY2(info.contains(QRegularExpression(QStringLiteral("Title:\\s+Квендар"))), qPrintable(info));
    }

    void noPrinterRaisesTheMessage()
    {
        kvtest::FakeDialogs dialogs;
        AppContext context{QStringLiteral("/nonexistent/"), dialogs};
        context.printerFactory = [] { return std::unique_ptr<QPrinter>(); };
        QTextDocument document(QStringLiteral("x"));
        try {
            PrintDocument(context, document, QStringLiteral("Квендар"));
            QFAIL("no error raised");
        } catch (const Error& e) {
            QCOMPARE(e.message(), NoPrinterMessage());
        }
    }

    void defaultPrinterMissingRaises()
    {
        if (!QPrinterInfo::defaultPrinter().isNull())
            QSKIP("this machine has a default printer");
        kvtest::FakeDialogs dialogs;
        AppContext context{QStringLiteral("/nonexistent/"), dialogs};
        QTextDocument document(QStringLiteral("x"));
        QVERIFY_THROWS_EXCEPTION(Error, PrintDocument(context, document, QStringLiteral("Квендар")));
    }
};

QTEST_MAIN(TestPrinting)
#include "test_printing.moc"
