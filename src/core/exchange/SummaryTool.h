#pragma once

#include <QStringList>
#include <QTextStream>

namespace kv {

class TableSink;
struct TvsSummary;
struct TvsSummaryData;

// The summary's three tables (groups, values, scale) into sink, whichever of the export's writers it
// is; the caller commits it.
void WriteSummaryTables(const TvsSummaryData& data, const TvsSummary& summary, TableSink& sink);

// kvendar-data summary [--format csv|xlsx|sav] [--sex N] [--age FROM-TO] [--from DATE] [--to DATE]
// DATA_FOLDER OUTPUT: the summary's tables as groups, values and scale in the output folder (CSV or
// SPSS files), or as the sheets of one workbook named OUTPUT. Returns 0 when they are written, 1
// when the data cannot be read or the files written, 2 for wrong arguments.
int RunSummary(const QStringList& args, QTextStream& out, QTextStream& err);

} // namespace kv
