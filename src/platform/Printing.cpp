#include "platform/Printing.h"

#include "platform/Errors.h"

#include <QPrinter>
#include <QPrinterInfo>
#include <QTextDocument>

namespace kv {

QString NoPrinterMessage()
{
    return QStringLiteral("Принтер не установлен, печать невозможна");
}

void PrintDocument(const AppContext& context, const QTextDocument& document, const QString& title)
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
    // QTextDocument::print lays the text out again for the page, so the caller's document (and the
    // editor showing it) keeps its own layout.
    document.print(printer.get());
    if (printer->printerState() == QPrinter::Error)
        throw Error(QStringLiteral("Не удалось напечатать документ"));
}

} // namespace kv
