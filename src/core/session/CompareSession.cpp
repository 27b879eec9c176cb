#include "core/session/CompareSession.h"

namespace kv {

TvsCompareSession::TvsCompareSession(TvsPairLists& pairLists, TvsValueTypeList& valueTypes, TvsValueList& checkedValues,
                                     TvsRandom& random)
    : m_pairLists(pairLists), m_valueTypes(valueTypes), m_checkedValues(checkedValues), m_random(random),
      m_pairTotal(PairCount(checkedValues.Count()))
{
}

void TvsCompareSession::Start()
{
    NextPair();
}

void TvsCompareSession::NextPair()
{
    // The number moves on also past the last question, where nothing is drawn.
    ++m_pairNumber;
    if (!DrawNextPair(m_pairLists, m_random, m_item1, m_item2)) {
        m_finished = true;
        return;
    }
    m_shown.push_back({m_item1, m_item2, m_random.State(), ClonePairLists(m_pairLists)});
}

void TvsCompareSession::Answer(quint8 chosen, quint32 responseMs)
{
    if (m_finished)
        return;
    TvsAnswer answer;
    answer.Question = m_pairNumber;
    answer.Upper = m_item1.Name;
    answer.UpperGroup = m_item1.TypeNumber;
    answer.UpperIndex = m_item1.SourceIndex;
    answer.Lower = m_item2.Name;
    answer.LowerGroup = m_item2.TypeNumber;
    answer.LowerIndex = m_item2.SourceIndex;
    answer.Chosen = chosen;
    answer.ResponseMs = responseMs;
    ScoreAnswer(chosen == 1 ? m_item1 : m_item2, m_checkedValues, m_valueTypes);
    m_answers.push_back(answer);
    NextPair();
}

bool TvsCompareSession::CanGoBack() const
{
    return !m_finished && m_pairNumber > 1 && m_shown.size() >= 2 && !m_answers.empty();
}

void TvsCompareSession::Back()
{
    if (!CanGoBack())
        return;
    const Shown& previous = m_shown[m_shown.size() - 2];
    UnscoreAnswer(m_answers.back().Chosen == 1 ? previous.Item1 : previous.Item2, m_checkedValues, m_valueTypes);
    m_answers.pop_back();
    m_pairLists = ClonePairLists(previous.PairLists);
    m_random.SetState(previous.RandomState);
    m_item1 = previous.Item1;
    m_item2 = previous.Item2;
    m_shown.pop_back();
    --m_pairNumber;
}

} // namespace kv
