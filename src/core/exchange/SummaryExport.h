#pragma once

namespace kv {

class TableSink;
struct TvsSummary;
struct TvsSummaryData;

// The summary's three tables (groups, values, scale) into sink, whichever of the export's writers it
// is; the caller commits it.
void WriteSummaryTables(const TvsSummaryData& data, const TvsSummary& summary, TableSink& sink);

} // namespace kv
