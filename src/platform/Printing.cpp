#include "platform/Printing.h"

#include "platform/Errors.h"

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

void PrintDocumentAndPage(const AppContext& context, const QTextDocument& document, const PagePainter& lastPage,
                          const QString& title)
{
    const auto printer = MakePrinter(context, title);
    // The document is laid out again for the page on a copy, as QTextDocument::print does, so that
    // the last page can follow in the same job.
    const std::unique_ptr<QTextDocument> copy(document.clone());
    copy->documentLayout()->setPaintDevice(printer.get());
    const QRectF area = PageArea(*printer);
    copy->setPageSize(area.size());
    QPainter painter;
    if (!painter.begin(printer.get()))
        throw Error(QStringLiteral("Не удалось напечатать документ"));
    const int pages = copy->pageCount();
    for (int i = 0; i < pages; ++i) {
        if (i > 0)
            printer->newPage();
        painter.save();
        painter.translate(0, -i * area.height());
        copy->drawContents(&painter, QRectF(0, i * area.height(), area.width(), area.height()));
        painter.restore();
    }
    if (lastPage) {
        if (pages > 0)
            printer->newPage();
        lastPage(painter, area);
    }
    painter.end();
    CheckPrinted(*printer);
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
