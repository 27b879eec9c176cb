#pragma once

#include <QStringList>
#include <QTextStream>

namespace kv {

// kvendar-data summary [--sex N] [--age FROM-TO] [--from DATE] [--to DATE] DATA_FOLDER OUTPUT_FOLDER:
// the summary's tables as groups.csv, values.csv and scale.csv. Returns 0 when they are written,
// 1 when the data cannot be read or the files written, 2 for wrong arguments.
int RunSummary(const QStringList& args, QTextStream& out, QTextStream& err);

} // namespace kv
