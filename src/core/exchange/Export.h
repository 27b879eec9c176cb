#pragma once

#include "core/exchange/TestSelection.h"

#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <functional>
#include <optional>

namespace kv {

class TableSink;

enum class ExportFormat
{
    Csv,  // tests.csv, values.csv, answers.csv in the output folder
    Xlsx, // one workbook, the output file
    Sav   // tests.sav, values.sav, answers.sav in the output folder
};

struct ExportResult
{
    qint64 Tests = 0; // rows written to each table
    qint64 Values = 0;
    qint64 Answers = 0;
    qint64 SkippedOrphans = 0; // value and answer records of tests that do not exist
    bool Cancelled = false;
};

// The format of that name (csv, xlsx, sav: the data tool's --format, a chosen file's suffix);
// nullopt for any other.
std::optional<ExportFormat> ExportFormatNamed(const QString& name);

// done and total count records worked through; returning false cancels the export.
using ExportProgress = std::function<bool(qint64 done, qint64 total)>;

// Writes the tables of the data folder's tests that selection takes. Every file is written under a
// temporary name and renamed into place only when all of them are complete, so a failed or
// cancelled export leaves nothing behind. Raises kv::Error (in Russian) on failure; a cancel
// returns with Cancelled set.
ExportResult ExportTables(const QString& dataDir, ExportFormat format, const TestSelection& selection,
                          const QString& output, const ExportProgress& progress = {});

// Tables of another kind (the summary's) through the export's writers, into output the way
// ExportTables writes its own: the workbook output, or the folder output for CSV and SPSS files,
// made when missing and removed again when the writing fails. fill writes the tables; they are
// committed once it returns. Raises kv::Error (in Russian) on failure.
void WriteTables(ExportFormat format, const QString& output, const std::function<void(TableSink&)>& fill);

} // namespace kv
