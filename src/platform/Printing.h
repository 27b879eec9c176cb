#pragma once

#include "platform/AppContext.h"

#include <QRectF>
#include <QString>

#include <functional>

class QPainter;
class QTextDocument;

namespace kv {

// The message of the error raised when there is no printer to print on.
QString NoPrinterMessage();

// Prints the document on the context's printer (the system's default one unless a test supplied a
// factory), with title as the job's document name. Raises kv::Error when no printer is installed or
// the printer cannot be used, so the handler that asked ends in the standard error box.
void PrintDocument(const AppContext& context, const QTextDocument& document, const QString& title);

// Paints into the page's printable area (in the painter's units), vector on every printer.
using PagePainter = std::function<void(QPainter& painter, const QRectF& page)>;

// The document's pages, then one more page painted by lastPage, as one print job. Raises as
// PrintDocument does.
void PrintDocumentAndPage(const AppContext& context, const QTextDocument& document, const PagePainter& lastPage,
                          const QString& title);

// Pages painted by the caller: page(painter, area, index) for index 0 .. count - 1, as one job.
void PrintPages(const AppContext& context, int count,
                const std::function<void(QPainter& painter, const QRectF& page, int index)>& page,
                const QString& title);

} // namespace kv
