#pragma once

#include "gui/platform/AppContext.h"

#include <QRectF>
#include <QString>

#include <functional>
#include <vector>

class QPainter;
class QPrinter;
class QTextDocument;
class QWidget;

namespace kv {

// The words that say there is no printer to print on; the offer of a PDF file follows them.
QString NoPrinterMessage();

// Every print job below goes to the context's printer (the system's default one unless a test
// supplied a factory), with title as the job's document name, and without a print dialog. When no
// printer is installed or the printer cannot be used, the user is told so and offered a PDF file
// instead: a question, then the save dialog, and afterwards the file's name; a No or a cancelled
// dialog ends the job with nothing written. A failure raises kv::Error, so the handler that asked
// ends in the standard error box. parent is the window the questions belong to.

// Prints the document.
void PrintDocument(const AppContext& context, QWidget* parent, const QTextDocument& document, const QString& title);

// Paints into the page's printable area (in the painter's units), vector on every printer.
using PagePainter = std::function<void(QPainter& painter, const QRectF& page)>;

// The document's pages, then one more page for each of pages, as one print job.
void PrintDocumentAndPages(const AppContext& context, QWidget* parent, const QTextDocument& document,
                           const std::vector<PagePainter>& pages, const QString& title);

// Pages painted by the caller: page(painter, area, index) for index 0 .. count - 1, as one job.
void PrintPages(const AppContext& context, QWidget* parent, int count,
                const std::function<void(QPainter& painter, const QRectF& page, int index)>& page,
                const QString& title);

// The same as PrintDocumentAndPages into a PDF file; raises kv::Error when it cannot be written.
void WriteDocumentAndPagesPdf(const QString& fileName, const QTextDocument& document,
                              const std::vector<PagePainter>& pages, const QString& title);

// Asks for the name of a PDF file to write; empty when the user cancelled.
QString AskPdfFileName(Dialogs& dialogs, QWidget* parent);

// Tells the user which file a PDF went into.
void TellPdfWritten(Dialogs& dialogs, QWidget* parent, const QString& fileName);

} // namespace kv
