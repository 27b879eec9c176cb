#include "core/session/ResultAssembly.h"

namespace kv {

void ResetGroupScores(TvsValueTypeList& valueTypes)
{
    for (int g = 0; g < valueTypes.Count(); ++g)
        valueTypes.Items(g).Score = 0;
}

void CollectCheckedValues(const QList<TvsCheckedNode>& nodes, const TvsValueTypeList& valueTypes,
                          TvsValueList& checkedValues)
{
    checkedValues.Clear();
    for (const TvsCheckedNode& node : nodes)
        checkedValues.Add(node.Text, node.TypeNumber, valueTypes.Items(node.TypeNumber - 1).Name);
}

int CompareValueScores(const TvsValueRec& a, const TvsValueRec& b)
{
    return a.Score > b.Score ? -1 : (a.Score < b.Score ? 1 : 0);
}

int CompareValueTypeScores(const TvsValueTypeRec& a, const TvsValueTypeRec& b)
{
    return a.Score > b.Score ? -1 : (a.Score < b.Score ? 1 : 0);
}

namespace {

// Sorts even when filling failed part-way, so whatever is in the list is still ranked.
template <typename List, typename Fill, typename Compare> void FillThenSort(List& list, Fill fill, Compare compare)
{
    try {
        fill();
    } catch (...) {
        list.Sort(compare);
        throw;
    }
    list.Sort(compare);
}

} // namespace

void BuildResults(const TvsValueTypeList& valueTypes, const TvsValueList& checkedValues, TvsValueTypeList& resultList)
{
    FillThenSort(
        resultList,
        [&] {
            for (int g = 0; g < valueTypes.Count(); ++g) {
                const TvsValueTypeRec& group = valueTypes.Items(g);
                if (group.Score <= 0)
                    continue;
                TvsValueTypeRec& ranked = resultList.Items(resultList.Add(group.Name, QString()));
                ranked.Number = group.Number;
                ranked.Score = group.Score;
                ranked.Values = std::make_unique<TvsValueList>();
                TvsValueList& values = *ranked.Values;
                FillThenSort(
                    values,
                    [&] {
                        for (int v = 0; v < checkedValues.Count(); ++v) {
                            const TvsValueRec& value = checkedValues.Items(v);
                            if (value.TypeNumber != group.Number || value.Score <= 0)
                                continue;
                            values.Items(values.Add(value.Name, group.Number, value.TypeName)).Score = value.Score;
                        }
                    },
                    CompareValueScores);
            }
        },
        CompareValueTypeScores);
}

} // namespace kv
