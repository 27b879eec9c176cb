#pragma once

#include <QString>
#include <QtGlobal>

#include <vector>

namespace kv {

// One answered question of a comparison, as it stands when the test ends: a question taken back
// and answered again keeps only its final answer.
struct TvsAnswer
{
    qint32 Question = 0;    // 1 .. PairCount(n), in the order asked
    QString Upper;          // the value on the upper button
    qint32 UpperGroup = 0;  // its group number, 1 to 4
    qint32 UpperIndex = -1; // its position among the chosen values; in memory only, never stored
    QString Lower;          // the value on the lower button
    qint32 LowerGroup = 0;
    qint32 LowerIndex = -1;
    quint8 Chosen = 0;      // 1 the upper value, 2 the lower one
    quint32 ResponseMs = 0; // from the moment the pair was (last) shown to the answer, monotonic clock
};

// Every answer of one test in question order.
using TvsAnswerLog = std::vector<TvsAnswer>;

} // namespace kv
