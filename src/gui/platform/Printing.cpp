#include "gui/platform/Printing.h"

#include "core/platform/Errors.h"

#include <QAbstractTextDocumentLayout>
#include <QPainter>
#include <QPrinter>
#include <QPrinterInfo>
#include <QTextDocument>

namespace kv {

QString NoPrinterMessage()
{
    return QStringLiteral("Принтер не установлен, печать невозможна");
}

namespace {

std::unique_ptr<QPrinter> MakePrinter(const AppContext& context, const QString& title)
{
    std::unique_ptr<QPrinter> printer;
    if (context.printerFactory) {
        printer = context.printerFactory();
    } else {
        const QPrinterInfo info = QPrinterInfo::defaultPrinter();
        if (!info.isNull())
            printer = std::make_unique<QPrinter>(info, QPrinter::HighResolution);
    }
    if (!printer || !printer->isValid())
        throw Error(NoPrinterMessage());
    printer->setDocName(title);
    return printer;
}

void CheckPrinted(const QPrinter& printer)
{
    if (printer.printerState() == QPrinter::Error)
        throw Error(QStringLiteral("Не удалось напечатать документ"));
}

QRectF PageArea(QPrinter& printer)
{
    const QRectF area = printer.pageLayout().paintRectPixels(printer.resolution());
    return QRectF(QPointF(0, 0), area.size());
}

} // namespace

void PrintDocument(const AppContext& context, const QTextDocument& document, const QString& title)
{
    const auto printer = MakePrinter(context, title);
    // QTextDocument::print lays the text out again for the page, so the caller's document (and the
    // editor showing it) keeps its own layout.
    document.print(printer.get());
    CheckPrinted(*printer);
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

void PrintDocumentAndPages(const AppContext& context, const QTextDocument& document,
                           const std::vector<PagePainter>& pages, const QString& title)
{
    const auto printer = MakePrinter(context, title);
    PaintDocumentAndPages(*printer, document, pages);
}

void WriteDocumentAndPagesPdf(const QString& fileName, const QTextDocument& document,
                              const std::vector<PagePainter>& pages, const QString& title)
{
    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(fileName);
    printer.setDocName(title);
    PaintDocumentAndPages(printer, document, pages);
}

void PrintPages(const AppContext& context, int count,
                const std::function<void(QPainter& painter, const QRectF& page, int index)>& page, const QString& title)
{
    const auto printer = MakePrinter(context, title);
    const QRectF area = PageArea(*printer);
    QPainter painter;
    if (!painter.begin(printer.get()))
        throw Error(QStringLiteral("Не удалось напечатать документ"));
    for (int i = 0; i < count; ++i) {
        if (i > 0)
            printer->newPage();
        painter.save();
        page(painter, area, i);
        painter.restore();
    }
    painter.end();
    CheckPrinted(*printer);
}

} // namespace kv
