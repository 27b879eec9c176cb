#pragma once

#include "gui/platform/AppContext.h"

#include <QRectF>
#include <QString>

#include <functional>
#include <vector>

class QPainter;
class QPrinter;
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

// The document's pages, then one more page for each of pages, as one print job. Raises as
// PrintDocument does.
void PrintDocumentAndPages(const AppContext& context, const QTextDocument& document,
                           const std::vector<PagePainter>& pages, const QString& title);

// The same into a PDF file; raises kv::Error when it cannot be written.
void WriteDocumentAndPagesPdf(const QString& fileName, const QTextDocument& document,
                              const std::vector<PagePainter>& pages, const QString& title);

// Pages painted by the caller: page(painter, area, index) for index 0 .. count - 1, as one job.
void PrintPages(const AppContext& context, int count,
                const std::function<void(QPainter& painter, const QRectF& page, int index)>& page,
                const QString& title);

} // namespace kv
