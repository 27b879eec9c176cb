#include "core/exchange/SummaryExport.h"

#include "core/analysis/Summary.h"
#include "core/analysis/SummaryTables.h"
#include "core/catalogue/uvsValues.h"
#include "core/exchange/TableSink.h"

#include <cmath>

#include <string>

namespace kv {

namespace {

ColumnKind ExportedKind(SummaryColumnKind kind)
{
    switch (kind) {
    case SummaryColumnKind::Text:
        return ColumnKind::Text;
    case SummaryColumnKind::Decimal:
        return ColumnKind::Real;
    case SummaryColumnKind::Group:
    case SummaryColumnKind::Count:
        break;
    }
    return ColumnKind::Integer;
}

void WriteTable(const SummaryTable& table, TableSink& sink)
{
    TableLayout layout{table.Name, table.Label, {}};
    for (const SummaryColumn& column : table.Columns)
        layout.Columns.push_back({column.Name, column.Label, ExportedKind(column.Kind), {}, false, {}});
    sink.BeginTable(layout, qint64(table.Rows.size()));
    std::vector<std::string> texts(table.Columns.size()); // what the text cells point into
    std::vector<Cell> cells(table.Columns.size());
    for (const std::vector<SummaryCell>& row : table.Rows) {
        for (size_t c = 0; c < row.size(); ++c) {
            Cell& cell = cells[c];
            cell = Cell{};
            cell.Empty = false;
            switch (layout.Columns[c].Kind) {
            case ColumnKind::Text:
                texts[c] = row[c].Text.toStdString();
                cell.Text = texts[c];
                break;
            case ColumnKind::Real:
                cell.Empty = std::isnan(row[c].Number);
                cell.Real = row[c].Number;
                break;
            default:
                cell.Int = qint64(row[c].Number);
                break;
            }
        }
        sink.Row(cells);
    }
    sink.EndTable();
}

} // namespace

void WriteSummaryTables(const TvsSummaryData& data, const TvsSummary& summary, TableSink& sink)
{
    // The files carry group numbers, not the catalogue's names.
    const SummaryTables tables = BuildSummaryTables(data, summary, TvsValueTypeList());
    for (const SummaryTable* table : {&tables.Groups, &tables.Values, &tables.Scale})
        WriteTable(*table, sink);
}

} // namespace kv
