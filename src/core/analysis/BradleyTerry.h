#pragma once

#include <QtGlobal>

#include <vector>

namespace kv {

// One decided comparison between two items, by their indexes.
struct TvsComparison
{
    quint32 Winner = 0;
    quint32 Loser = 0;
};

// The Bradley-Terry scale of a set of items from their pairwise comparisons.
struct TvsBradleyTerry
{
    enum class Status
    {
        Fitted,       // Items, Scale and StdError hold the fit
        TooFew,       // fewer than two items were compared often enough
        Disconnected, // the comparisons among those items do not join them into one strongly connected graph
        NoConvergence // the iteration did not settle; nothing is reported
    };
    Status State = Status::TooFew;
    std::vector<quint32> Items;                   // the items on the scale, in the order of the input's indexes
    std::vector<double> Scale;                    // log-ability, centred on mean 0
    std::vector<double> StdError;                 // standard error of each centred log-ability
    std::vector<qint64> Comparisons;              // comparisons each scaled item took part in (among the scaled items)
    std::vector<std::vector<quint32>> Components; // when Disconnected: the strongly connected parts
    int Iterations = 0;
};

// Fits the model by Hunter's minorisation-maximisation iteration over the items that took part in at
// least minComparisons comparisons (counting only comparisons with other such items would make the
// threshold depend on itself, so it counts all). The maximum-likelihood scale exists only when every
// item, split off with any group of others, both beat and lost to someone outside the group: the graph
// of "beat" among the items must be strongly connected. Otherwise no scale is given and the parts are
// named, since the iteration would only drift toward infinity.
TvsBradleyTerry FitBradleyTerry(const std::vector<TvsComparison>& comparisons, quint32 itemCount,
                                qint64 minComparisons = 1);

} // namespace kv
