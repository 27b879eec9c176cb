#pragma once

#include "core/catalogue/uvsValues.h"
#include "core/session/AnswerLog.h"
#include "core/session/Questionnaire.h"
#include "core/storage/uvsDataBase.h"

#include <QDateTime>

namespace kv {

// The answers a test record holds, as the questionnaire shows them: the sex as its item (empty for a
// code past the items), the age empty when none was given.
TvsQuestionnaire QuestionnaireOf(const TvsDBTestRec& rec);

// Writes the answers into a test record: the name and the texts as shown (cut to 80 characters by
// the record), the sex as its item's index. The age is left alone: it is a number in the record, and
// turning the text into one can fail.
void SetQuestionnaire(TvsDBTestRec& rec, const TvsQuestionnaire& answers);

// Saves a completed test into dataDir, making the folder when it is missing: a test record with the
// answers, the time of saving and each group's score (groups numbered outside 1 .. 4 score nowhere),
// one value record per value of results in list order, and one answer record per entry of log, if
// any. The three land together or not at all, even if the program is killed half-way. Raises
// kv::Error with the reason, in Russian, and then nothing of the test is in the files. Returns the
// test record as written, with its number.
TvsDBTestRec SaveCompletedTest(const QString& dataDir, const TvsQuestionnaire& answers, const TvsValueTypeList& results,
                               const TvsAnswerLog* log, const QDateTime& when);

} // namespace kv
