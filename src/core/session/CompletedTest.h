#pragma once

#include "core/session/Questionnaire.h"
#include "core/storage/uvsDataBase.h"

namespace kv {

// The answers a test record holds, as the questionnaire shows them: the sex as its item (empty for a
// code past the items), the age empty when none was given.
TvsQuestionnaire QuestionnaireOf(const TvsDBTestRec& rec);

// Writes the answers into a test record: the name and the texts as shown (cut to 80 characters by
// the record), the sex as its item's index. The age is left alone: it is a number in the record, and
// turning the text into one can fail.
void SetQuestionnaire(TvsDBTestRec& rec, const TvsQuestionnaire& answers);

} // namespace kv
