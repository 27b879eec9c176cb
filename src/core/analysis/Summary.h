#pragma once

#include "core/analysis/BradleyTerry.h"
#include "core/analysis/Consistency.h"
#include "core/session/Questionnaire.h"

#include <QDate>
#include <QHash>
#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <array>
#include <span>
#include <vector>

namespace kv {

// What a summary is computed over. Every unset part lets every test through.
struct TvsSummaryFilter
{
    int Sex = -1;                                // -1 any, else the stored code 0 .. 2
    int AgeFrom = -1;                            // -1 no lower bound; a bound leaves out tests without an age
    int AgeTo = -1;                              // -1 no upper bound; both bounds are inclusive
    std::array<QString, kQuestionCount> Answers; // empty: any; else the stored text exactly
    QDate DateFrom;                              // invalid: no bound; compared by the local date of saving
    QDate DateTo;
    // Only these test numbers (the history window's selection); empty: all.
    std::vector<quint32> Ids;
};

// One saved test as the summary needs it: a few dozen bytes instead of its 681, so a database of a
// hundred thousand tests stays well inside its own file's size in memory.
struct TvsSummaryTest
{
    quint32 Id = 0;
    qint32 Age = 0;
    qint32 DateDay = 0; // local date of saving as a Julian day, 0 when the record's date is not a date
    quint8 Sex = 0;
    std::array<quint16, kQuestionCount> Answers{}; // indexes into TvsSummaryData::AnswerTexts
    std::array<qint32, 4> Points{};                // TypeScore1 .. 4
    qint32 N = 0;           // values chosen; 0 when the stored points do not add up to a whole comparison
    quint32 FirstScore = 0; // this test's wins in TvsSummaryData::Scores
    quint32 ScoreCount = 0;
    quint32 FirstPair = 0; // this test's answers in TvsSummaryData::Pairs; none without an answer log
    quint32 PairCount = 0;
    quint32 Known = 0; // different values named in its scores and answer log, counted by the reader
};

struct TvsSummaryScore
{
    quint32 Value = 0; // index into TvsSummaryData::Values
    qint32 Wins = 0;
};

struct TvsSummaryValue
{
    QString Name;
    qint32 Group = 0; // the catalogue number 1 .. 4
};

// Everything a summary is computed from, read once; a filter change only walks these arrays.
struct TvsSummaryData
{
    std::vector<TvsSummaryTest> Tests; // in file order
    std::vector<TvsSummaryScore> Scores;
    std::vector<TvsComparison> Pairs; // winner and loser as indexes into Values
    std::vector<TvsSummaryValue> Values;
    std::array<QStringList, kQuestionCount> AnswerTexts; // every distinct text met, in order of first use
    qint64 SkippedAnswers = 0;                           // answer records of unknown tests or with a damaged choice

    quint32 ValueIndex(qint32 group, const QString& name);
    quint16 AnswerIndex(TvsQuestion question, const QString& text);

private:
    QHash<QString, quint32> m_valueIndex;
};

// Reads tests.dat, values.dat and, when it exists, answers.dat of dataDir a block at a time, keeping
// only the compact form. Raises kv::Error in Russian when tests.dat cannot be read; a missing values
// or answers file reads as empty.
TvsSummaryData ReadSummaryData(const QString& dataDir);

// The number of values n with n(n-1)/2 == points, or 0 when there is none.
qint32 ValuesFromPoints(qint64 points);

// Two-sided 95% quantile of Student's t with df degrees of freedom (df >= 1).
double StudentT975(qint64 df);

struct TvsGroupSummary
{
    qint32 Group = 0;
    qint64 Tests = 0;     // tests whose share could be told (n >= 2)
    double MeanShare = 0; // mean of points / PairCount(n)
    double CiLow = 0;     // 95% confidence interval of the mean (Student's t), cut to 0 .. 1; NaN below two tests
    double CiHigh = 0;
    qint64 Led = 0; // tests where the group had the most points, ties counted for each
};

struct TvsValueSummary
{
    quint32 Value = 0;    // index into TvsSummaryData::Values
    qint64 Won = 0;       // tests where it won at least once
    qint64 Chosen = 0;    // tests with an answer log where it was among the chosen values
    qint64 Counted = 0;   // tests the means run over: where it won, or where the log shows it chosen
    double MeanShare = 0; // mean of wins / (n - 1)
    double MeanRank = 0;  // 1 is first; tied values share the mean of their places
    qint64 First = 0;     // tests where it had the most wins, ties counted for each
};

struct TvsConsistencySummary
{
    static constexpr int kBins = 10;
    std::array<qint64, kBins> Bins{}; // zeta in [0, 0.1), [0.1, 0.2) ... [0.9, 1]
    qint64 Tests = 0;                 // tests with a valid consistency
    qint64 LikeRandom = 0;            // of these, p_random > 0.05
};

using ConsistencyFunction = TvsConsistency (*)(std::span<const qint64> wins);

struct TvsSummaryOptions
{
    qint64 MinComparisons = 10;                             // values compared fewer times stay off the pooled scale
    ConsistencyFunction Consistency = &ConsistencyFromWins; // none: no consistency section
};

struct TvsSummary
{
    qint64 Tests = 0;                    // tests the filter kept
    qint64 Undecidable = 0;              // of these, tests whose number of values cannot be told from their points
    qint64 WithAnswers = 0;              // of these, tests with an answer log
    std::vector<TvsGroupSummary> Groups; // the four groups in number order
    std::vector<TvsValueSummary> Values; // values met in the kept tests, in order of the data's Values
    TvsBradleyTerry Scale;               // over the answer logs of the kept tests
    TvsConsistencySummary Consistency;
    bool HasConsistency = false;
};

// The Russian line for an empty selection.
QString NoTestsText();

// What the consistency function gave each test, kept between summaries of the same data so that a
// filter change does not compute it again. It serves one TvsSummaryData and one function; Clear()
// it when either changes.
class TvsConsistencyCache
{
public:
    void Clear()
    {
        m_codes.clear();
        m_complete = false;
    }

private:
    friend TvsSummary Summarize(const TvsSummaryData&, const TvsSummaryFilter&, const TvsSummaryOptions&,
                                TvsConsistencyCache*);
    ConsistencyFunction m_function = nullptr;
    std::vector<qint8> m_codes; // per test: 0 not yet, -1 not valid, else 1 + bin, + 16 when it looks random
    bool m_complete = false;
};

bool Matches(const TvsSummaryData& data, const TvsSummaryTest& test, const TvsSummaryFilter& filter);
TvsSummary Summarize(const TvsSummaryData& data, const TvsSummaryFilter& filter, const TvsSummaryOptions& options = {},
                     TvsConsistencyCache* cache = nullptr);

} // namespace kv
