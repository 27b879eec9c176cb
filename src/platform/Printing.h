#pragma once

#include "platform/AppContext.h"

#include <QString>

class QTextDocument;

namespace kv {

// The message of the error raised when there is no printer to print on.
QString NoPrinterMessage();

// Prints the document on the context's printer (the system's default one unless a test supplied a
// factory), with title as the job's document name. Raises kv::Error when no printer is installed or
// the printer cannot be used, so the handler that asked ends in the standard error box.
void PrintDocument(const AppContext& context, const QTextDocument& document, const QString& title);

} // namespace kv
