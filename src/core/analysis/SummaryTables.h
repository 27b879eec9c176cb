#pragma once

#include "core/analysis/Summary.h"

#include <QString>
#include <QtGlobal>

#include <vector>

namespace kv {

class TvsValueTypeList;

// How a column of the summary's tables is shown and exported.
enum class SummaryColumnKind
{
    Text,   // a name: shown and exported as its text
    Group,  // a group: shown by the group's name, exported as its number 1 .. 4
    Count,  // a whole number
    Decimal // a fraction, shown with the column's decimals; blank where it cannot be told
};

struct SummaryColumn
{
    const char* Name; // the column's name in the exported files
    QString Header;   // its heading in the window and the printed report
    QString Label;    // what it means, in the exported files (SPSS variable label)
    SummaryColumnKind Kind;
    int Decimals = 0; // Decimal: how many the window and the report show
};

struct SummaryCell
{
    QString Text;      // what the window and the report show
    double Number = 0; // Group, Count, Decimal: the figure itself (NaN for a blank Decimal), exact for
                       // whole numbers, which stay far below 2^53
};

struct SummaryTable
{
    const char* Name; // groups, values, scale: file and sheet name
    QString Title;    // the report's heading over the table
    QString Label;    // the exported table's label
    std::vector<SummaryColumn> Columns;
    std::vector<std::vector<SummaryCell>> Rows; // in the summary's order, which the files keep
    int SortColumn = -1;                        // the window opens the table sorted by it, largest first; -1 unsorted
};

// The three tables of a summary as every view of it gives them.
struct SummaryTables
{
    SummaryTable Groups;
    SummaryTable Values;
    SummaryTable Scale;
};

// groups names the catalogue's groups for the display texts; a number it does not hold, or every one
// when it is empty (the data tool has no catalogue), is shown as "Группа N". The groups' table is
// empty when no test is selected, the scale's when no scale was fitted.
SummaryTables BuildSummaryTables(const TvsSummaryData& data, const TvsSummary& summary, const TvsValueTypeList& groups);

// A figure in Russian notation with that many decimals; empty for NaN.
QString SummaryNumberText(double x, int decimals);
// The group's catalogue name, or "Группа N".
QString SummaryGroupName(const TvsValueTypeList& groups, qint32 number);

// The line over the tables: how many tests, how many of them count, how many have an answer log.
QString SummaryCountText(const TvsSummary& summary);
// What the window says under the scale: how to read it, or why there is none.
QString ScaleNote(const TvsSummary& summary, const TvsSummaryOptions& options);
// Why no scale was built, in one line for the data tool; empty when it was, or with no test selected.
QString ScaleNotBuiltText(const TvsSummary& summary);
// The line over the consistency histogram.
QString ConsistencyNote(const TvsSummary& summary);

} // namespace kv
