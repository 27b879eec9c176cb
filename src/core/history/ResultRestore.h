#pragma once

#include "core/catalogue/uvsValues.h"
#include "core/session/AnswerLog.h"
#include "core/storage/uvsDataBase.h"

namespace kv {

// The group of result for the catalogue group with this number (1 .. 4), added when result has
// none of that name yet. Groups are matched by name, so two catalogue groups that share a name
// share one rebuilt group. A number the catalogue lacks raises ListIndexError(number - 1).
TvsValueTypeRec& FindResultGroup(qint32 number, TvsValueTypeList& result, const TvsValueTypeList& catalogue);

// Rebuilds a saved test's ranking from its value records, in file order and unsorted: the stored
// order is already the ranking that was saved. Group names come from the catalogue as it is now,
// and each group's Score is the sum of its values, whatever the test record says.
void RestoreResults(const TvsDBValueList& values, TvsValueTypeList& result, const TvsValueTypeList& catalogue);

// A saved test's answer log from its answer records, in file order (the order they were asked and
// saved in). The values carry names and groups only: positions are not stored.
TvsAnswerLog RestoreAnswers(const TvsDBAnswerList& answers);

} // namespace kv
