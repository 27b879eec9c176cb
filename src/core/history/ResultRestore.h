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

// A saved test as it is shown again: its record, its ranking rebuilt over the catalogue and its
// answer log (empty for a test saved before answers were kept).
struct TvsSavedTest
{
    TvsDBTestRec Test;
    TvsValueTypeList Results;
    TvsAnswerLog Answers;
    // How many records of tests.dat carry the number. More than one is damage: Test is then the first
    // of them in file order.
    int SameNumber = 1;
    // With SameNumber above 1: true when Results and Answers are that first test's own, told apart
    // from the others'; false when they could not be, and Results holds every such test's values
    // together (and Answers none).
    bool OwnValues = true;
};

// Reads test number id and its values and answers from the files of dataDir and rebuilds it into
// test, whose Results must be empty. Raises kv::Error "Запись не найдена" when tests.dat has no such
// test and "Записи не найдены" when it has no values; a missing answers.dat means no answers.
void LoadSavedTest(const QString& dataDir, quint32 id, const TvsValueTypeList& catalogue, TvsSavedTest& test);

// What a reader of test must be told before its result: empty for a number only one test carries,
// otherwise which of the tests is shown and whether its values are its own.
QString SameNumberNotice(const TvsSavedTest& test);

} // namespace kv
