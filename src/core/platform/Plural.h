#pragma once

#include <QString>
#include <QtGlobal>

namespace kv {

// The Russian form of a noun phrase for a count: one for 1, 21, 31 ...; few for 2-4, 22-24 ...;
// many for 0, 5-20, 25-30 ... Every count the program writes in a sentence goes through it.
QString RussianPlural(qint64 count, const QString& one, const QString& few, const QString& many);

} // namespace kv
