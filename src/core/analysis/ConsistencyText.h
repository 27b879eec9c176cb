#pragma once

#include "core/analysis/Consistency.h"
#include "core/platform/Plural.h"

#include <QString>
#include <QStringList>

namespace kv {

// The consistency in plain Russian, one paragraph a line with empty lines between: the headline with the coefficient
// and the triads, what it means, the chance of as few triads at random, and the circular triads by name when they are
// known (withAnswers false: the test has no answer log, and the last line says so).
QStringList ConsistencyLines(const TvsConsistency& consistency, bool withAnswers);

} // namespace kv
