#pragma once

#include "core/catalogue/uvsValues.h"

#include <QtGlobal>

#include <memory>
#include <vector>

namespace kv {

// The number of comparisons for n chosen values: every unordered pair once.
qint32 PairCount(qint32 n);

// The linear congruential generator behind the order of the questions. It starts from state 0 and is
// never seeded, so the first test after every start asks the same pairs for the same number of
// values; the one instance of the program carries its state from one test to the next.
class TvsRandom final
{
public:
    explicit TvsRandom(quint32 state = 0) : m_state(state) {}

    // The process-wide generator that the comparison dialog draws from.
    static TvsRandom& Program();

    // Advances the state and returns an integer in 0 .. range - 1 (0 when range is 0).
    quint32 Draw(quint32 range);

    quint32 State() const { return m_state; }
    void SetState(quint32 state) { m_state = state; }

private:
    quint32 m_state;
};

// The pair lists of one test. Each holds a chosen value (entry 0, the head) and the values after it
// among the chosen ones (its partners); lists are dropped as soon as they are used up.
using TvsPairLists = std::vector<std::unique_ptr<TvsValueList>>;

// Builds the n - 1 pair lists of n chosen values: list i holds the values at positions i .. n - 1,
// each with an empty TypeName, Score 0 and its position in SourceIndex.
void BuildPairLists(const TvsValueList& checkedValues, TvsPairLists& pairLists);

// Draws the next question from the pair lists and consumes it: item1 becomes a copy of the drawn
// list's head, item2 a copy of the drawn partner, which is removed from its list, and a list left
// with its head alone is dropped. Makes exactly two draws, list first, partner second. Returns false
// (and draws nothing) when no pair is left.
bool DrawNextPair(TvsPairLists& pairLists, TvsRandom& random, TvsValueRec& item1, TvsValueRec& item2);

// Scores one answer in place: a win for the chosen value in the list of chosen values (through its
// SourceIndex) and a point for its group in the catalogue (group N at position N - 1).
void ScoreAnswer(const TvsValueRec& chosen, TvsValueList& checkedValues, TvsValueTypeList& valueTypes);

// Takes back what ScoreAnswer gave for the same value.
void UnscoreAnswer(const TvsValueRec& chosen, TvsValueList& checkedValues, TvsValueTypeList& valueTypes);

// A deep copy of pair lists, entry by entry.
TvsPairLists ClonePairLists(const TvsPairLists& pairLists);

} // namespace kv
