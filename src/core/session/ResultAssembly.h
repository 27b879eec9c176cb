#pragma once

#include "core/catalogue/uvsValues.h"

#include <QList>
#include <QString>

namespace kv {

// A value node of the tree of chosen values, as the test collects it.
struct TvsCheckedNode
{
    QString Text;
    qint32 TypeNumber = 0;
};

// Sets every group's points to 0, so that a test starts from zero totals whatever an earlier,
// cancelled run left behind.
void ResetGroupScores(TvsValueTypeList& valueTypes);

// Refills checkedValues from the chosen value nodes in tree order, each with its group's name taken
// from the catalogue (group N at position N - 1) and Score 0.
void CollectCheckedValues(const QList<TvsCheckedNode>& nodes, const TvsValueTypeList& valueTypes,
                          TvsValueList& checkedValues);

// The sort orders of a ranking: a higher Score first, no second key.
int CompareValueScores(const TvsValueRec& a, const TvsValueRec& b);
int CompareValueTypeScores(const TvsValueTypeRec& a, const TvsValueTypeRec& b);

// Fills an empty result list from a finished test: the groups with points, each with its values
// that won, both ranked with the list's own quicksort (so ties come out in the order it leaves them).
void BuildResults(const TvsValueTypeList& valueTypes, const TvsValueList& checkedValues, TvsValueTypeList& resultList);

} // namespace kv
