#include "core/session/PairDraw.h"

namespace kv {

qint32 PairCount(qint32 n)
{
    return n * (n - 1) / 2;
}

TvsRandom& TvsRandom::Program()
{
    static TvsRandom random;
    return random;
}

quint32 TvsRandom::Draw(quint32 range)
{
    m_state = m_state * 134775813u + 1u; // unsigned arithmetic wraps modulo 2^32
    return static_cast<quint32>((static_cast<quint64>(range) * m_state) >> 32);
}

void BuildPairLists(const TvsValueList& checkedValues, TvsPairLists& pairLists)
{
    const int n = checkedValues.Count();
    for (int i = 0; i + 1 < n; ++i) {
        auto list = std::make_unique<TvsValueList>();
        for (int j = i; j < n; ++j) {
            const TvsValueRec& value = checkedValues.Items(j);
            const int k = list->Add(value.Name, value.TypeNumber, QString());
            list->Items(k).SourceIndex = j;
        }
        pairLists.push_back(std::move(list));
    }
}

bool DrawNextPair(TvsPairLists& pairLists, TvsRandom& random, TvsValueRec& item1, TvsValueRec& item2)
{
    if (pairLists.empty())
        return false;
    // The ranges leave out the last list and the last partner while others remain; this is what
    // fixes the order every respondent has been asked in, so it stays as it is.
    const auto r = random.Draw(static_cast<quint32>(pairLists.size() - 1));
    TvsValueList& list = *pairLists[r];
    const int p = static_cast<int>(random.Draw(static_cast<quint32>(list.Count() - 2))) + 1;
    item1 = list.Items(0);
    item2 = list.Items(p);
    list.Delete(p);
    if (list.Count() <= 1)
        pairLists.erase(pairLists.begin() + static_cast<std::ptrdiff_t>(r));
    return true;
}

void ScoreAnswer(const TvsValueRec& chosen, TvsValueList& checkedValues, TvsValueTypeList& valueTypes)
{
    checkedValues.Items(chosen.SourceIndex).Score += 1;
    valueTypes.Items(chosen.TypeNumber - 1).Score += 1;
}

void UnscoreAnswer(const TvsValueRec& chosen, TvsValueList& checkedValues, TvsValueTypeList& valueTypes)
{
    checkedValues.Items(chosen.SourceIndex).Score -= 1;
    valueTypes.Items(chosen.TypeNumber - 1).Score -= 1;
}

TvsPairLists ClonePairLists(const TvsPairLists& pairLists)
{
    TvsPairLists copy;
    copy.reserve(pairLists.size());
    for (const auto& list : pairLists) {
        auto clone = std::make_unique<TvsValueList>();
        for (int i = 0; i < list->Count(); ++i)
            clone->Append(std::make_unique<TvsValueRec>(list->Items(i)));
        copy.push_back(std::move(clone));
    }
    return copy;
}

} // namespace kv
