#pragma once

#include "core/catalogue/uvsValues.h"
#include "core/session/AnswerLog.h"
#include "core/session/PairDraw.h"

#include <QtGlobal>

#include <vector>

namespace kv {

// One comparison run: puts every pair of the chosen values once, in the order the generator draws
// them, scores each answer in place in the lists it is lent, and takes the last answer back on
// request. The lists and the generator must outlive the session.
class TvsCompareSession final
{
public:
    TvsCompareSession(TvsPairLists& pairLists, TvsValueTypeList& valueTypes, TvsValueList& checkedValues,
                      TvsRandom& random);

    // Draws the first question. Call once, before anything else.
    void Start();

    // Scores the answer to the current question (1 the upper value, 2 the lower one), taken
    // responseMs after it was shown, and draws the next question.
    void Answer(quint8 chosen, quint32 responseMs);

    // Whether there is an answer to take back: from the second question on.
    bool CanGoBack() const;
    // Takes back the last answer and puts its question again exactly as it was drawn, with the
    // generator and the pair lists as they stood after drawing it, so every later question stays the
    // one it would have been. Does nothing when there is nothing to take back.
    void Back();

    // 1 .. PairTotal while questions remain; one past the total once every pair is answered.
    qint32 PairNumber() const { return m_pairNumber; }
    qint32 PairTotal() const { return m_pairTotal; }
    bool Finished() const { return m_finished; }
    const TvsValueRec& Item1() const { return m_item1; }
    const TvsValueRec& Item2() const { return m_item2; }
    // The final answer of every question answered so far, in question order.
    const TvsAnswerLog& Answers() const { return m_answers; }

private:
    // A question as it stood right after its pair was drawn.
    struct Shown
    {
        TvsValueRec Item1, Item2;
        quint32 RandomState = 0;
        TvsPairLists PairLists;
    };

    void NextPair();

    TvsPairLists& m_pairLists;
    TvsValueTypeList& m_valueTypes;
    TvsValueList& m_checkedValues;
    TvsRandom& m_random;
    TvsValueRec m_item1;
    TvsValueRec m_item2;
    qint32 m_pairTotal = 0;
    qint32 m_pairNumber = 0;
    bool m_finished = false;
    std::vector<Shown> m_shown; // one per question up to the current one
    TvsAnswerLog m_answers;
};

} // namespace kv
