#pragma once

#include "core/catalogue/uvsValues.h"
#include "core/storage/uvsDataBase.h"

#include <QStringList>

namespace kv {

// The document shown when no interpretation module is present: the respondent's answers, then the
// ranking as "name: score" lines, one group after another, each followed by an empty line. One entry
// is one paragraph.
QStringList BuildFallbackLines(const TvsDBTestRec& rec, const TvsValueTypeList& results);

// The date part of a record date in the Russian short date format (dd.MM.yyyy); empty for a date no
// calendar has.
QString ShortDateText(double recordDate);

} // namespace kv
