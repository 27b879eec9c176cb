#include "gui/platform/Printing.h"

#include "core/platform/Errors.h"

#include <QAbstractTextDocumentLayout>
#include <QDir>
#include <QPainter>
#include <QPrinter>
#include <QPrinterInfo>
#include <QTextDocument>

namespace kv {

QString NoPrinterMessage()
{
    return QStringLiteral("Принтер не установлен, печать невозможна");
}

QString AskPdfFileName(Dialogs& dialogs, QWidget* parent)
{
    return dialogs.SaveFileName(parent, QStringLiteral("Сохранить в PDF"), QStringLiteral("PDF (*.pdf)"),
                                QStringLiteral("pdf"));
}

void TellPdfWritten(Dialogs& dialogs, QWidget* parent, const QString& fileName)
{
    dialogs.Message(parent, Dialogs::Kind::Information,
                    QStringLiteral("Документ сохранён в файл «%1».").arg(QDir::toNativeSeparators(fileName)),
                    QMessageBox::Ok);
}

namespace {

void CheckPrinted(const QPrinter& printer)
{
    if (printer.printerState() == QPrinter::Error)
        throw Error(QStringLiteral("Не удалось напечатать документ"));
}

// Paints a whole job into a PDF file; a failure names the file rather than a printer.
void PaintPdf(const QString& fileName, const QString& title, const std::function<void(QPrinter&)>& paint)
{
    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(fileName);
    printer.setDocName(title);
    try {
        paint(printer);
    } catch (const Error&) {
        throw Error(QStringLiteral("Не удалось записать файл «%1»").arg(QDir::toNativeSeparators(fileName)));
    }
}

// Runs one job: on the printer when there is one, else, if the user agrees, into a PDF file.
void RunJob(const AppContext& context, QWidget* parent, const QString& title,
            const std::function<void(QPrinter&)>& paint)
{
    std::unique_ptr<QPrinter> printer;
    if (context.printerFactory) {
        printer = context.printerFactory();
    } else {
        const QPrinterInfo info = QPrinterInfo::defaultPrinter();
        if (!info.isNull())
            printer = std::make_unique<QPrinter>(info, QPrinter::HighResolution);
    }
    if (printer && printer->isValid()) {
        printer->setDocName(title);
        paint(*printer);
        return;
    }
    // A PDF file can be sent on or printed on another machine, so no printer need not mean no page.
    if (context.dialogs.Message(parent, Dialogs::Kind::Confirmation,
                                NoPrinterMessage() + QStringLiteral(".\nСохранить документ в файл PDF?"),
                                QMessageBox::Yes | QMessageBox::No) != QMessageBox::Yes)
        return;
    const QString fileName = AskPdfFileName(context.dialogs, parent);
    if (fileName.isEmpty())
        return;
    PaintPdf(fileName, title, paint);
    TellPdfWritten(context.dialogs, parent, fileName);
}

QRectF PageArea(QPrinter& printer)
{
    const QRectF area = printer.pageLayout().paintRectPixels(printer.resolution());
    return QRectF(QPointF(0, 0), area.size());
}

} // namespace

void PrintDocument(const AppContext& context, QWidget* parent, const QTextDocument& document, const QString& title)
{
    RunJob(context, parent, title, [&document](QPrinter& printer) {
        // QTextDocument::print lays the text out again for the page, so the caller's document (and
        // the editor showing it) keeps its own layout.
        document.print(&printer);
        CheckPrinted(printer);
    });
}

namespace {

void PaintDocumentAndPages(QPrinter& printer, const QTextDocument& document, const std::vector<PagePainter>& pages)
{
    // The document is laid out again for the page on a copy, as QTextDocument::print does, so that
    // the pages after it can follow in the same job.
    const std::unique_ptr<QTextDocument> copy(document.clone());
    copy->documentLayout()->setPaintDevice(&printer);
    const QRectF area = PageArea(printer);
    copy->setPageSize(area.size());
    QPainter painter;
    if (!painter.begin(&printer))
        throw Error(QStringLiteral("Не удалось напечатать документ"));
    const int count = copy->isEmpty() ? 0 : copy->pageCount();
    for (int i = 0; i < count; ++i) {
        if (i > 0)
            printer.newPage();
        painter.save();
        painter.translate(0, -i * area.height());
        copy->drawContents(&painter, QRectF(0, i * area.height(), area.width(), area.height()));
        painter.restore();
    }
    bool first = count == 0;
    for (const PagePainter& page : pages) {
        if (!first)
            printer.newPage();
        first = false;
        painter.save();
        page(painter, area);
        painter.restore();
    }
    painter.end();
    CheckPrinted(printer);
}

} // namespace

void PrintDocumentAndPages(const AppContext& context, QWidget* parent, const QTextDocument& document,
                           const std::vector<PagePainter>& pages, const QString& title)
{
    RunJob(context, parent, title, [&](QPrinter& printer) { PaintDocumentAndPages(printer, document, pages); });
}

void WriteDocumentAndPagesPdf(const QString& fileName, const QTextDocument& document,
                              const std::vector<PagePainter>& pages, const QString& title)
{
    PaintPdf(fileName, title, [&](QPrinter& printer) { PaintDocumentAndPages(printer, document, pages); });
}

void PrintPages(const AppContext& context, QWidget* parent, int count,
                const std::function<void(QPainter& painter, const QRectF& page, int index)>& page, const QString& title)
{
    RunJob(context, parent, title, [&](QPrinter& printer) {
        const QRectF area = PageArea(printer);
        QPainter painter;
        if (!painter.begin(&printer))
            throw Error(QStringLiteral("Не удалось напечатать документ"));
        for (int i = 0; i < count; ++i) {
            if (i > 0)
                printer.newPage();
            painter.save();
            page(painter, area, i);
            painter.restore();
        }
        painter.end();
        CheckPrinted(printer);
    });
}

} // namespace kv
