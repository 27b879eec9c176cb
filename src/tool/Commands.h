#pragma once

#include "tool/CommandLine.h"

#include <QStringList>
#include <QTextStream>

namespace kv {

// Each subcommand takes the arguments after its name and writes what it has to say to out, its
// complaints to err. Every one answers --help and --version with 0 and a wrong option with 2.

// export [--format csv|xlsx|sav] [--tests LIST] DATA_FOLDER OUTPUT: 0 done, 1 the export failed,
// 2 the arguments are unusable.
const ToolCommand& ExportCommand();
int RunExport(const QStringList& args, QTextStream& out, QTextStream& err);

// check DATA_FOLDER: prints the counts and the problems; 0 clean, 1 problems found, 2 the arguments
// or the folder are unusable.
const ToolCommand& CheckCommand();
int RunCheck(const QStringList& args, QTextStream& out, QTextStream& err);

// merge SOURCE TARGET: 0 merged, 1 the merge failed and the target is unchanged, 2 unusable arguments
// or folders.
const ToolCommand& MergeCommand();
int RunMerge(const QStringList& args, QTextStream& out, QTextStream& err);

// summary [--format csv|xlsx|sav] [--sex N] [--age FROM-TO] [--from DATE] [--to DATE] DATA_FOLDER
// OUTPUT: the summary's tables as groups, values and scale in the output folder (CSV or SPSS files),
// or as the sheets of one workbook named OUTPUT. 0 written, 1 the data cannot be read or the files
// written, 2 wrong arguments.
const ToolCommand& SummaryCommand();
int RunSummary(const QStringList& args, QTextStream& out, QTextStream& err);

// The whole tool: args are the arguments after the program's name, the first of them the
// subcommand's. Returns the exit status.
int RunDataTool(const QStringList& args, QTextStream& out, QTextStream& err);

} // namespace kv
