#pragma once

#include "core/analysis/Consistency.h"

#include <QString>
#include <QStringList>

namespace kv {

// The Russian form of a noun phrase for a count: one for 1, 21, 31 ...; few for 2-4, 22-24 ...;
// many for 0, 5-20, 25-30 ...
QString RussianPlural(qint64 count, const QString& one, const QString& few, const QString& many);

// The consistency in plain Russian, one paragraph a line with empty lines between: the headline with the coefficient
// and the triads, what it means, the chance of as few triads at random, and the circular triads by name when they are
// known (withAnswers false: the test has no answer log, and the last line says so).
QStringList ConsistencyLines(const TvsConsistency& consistency, bool withAnswers);

} // namespace kv
