#pragma once

#include "core/session/AnswerLog.h"
#include "core/session/CompareSession.h"
#include "core/session/PairDraw.h"
#include "gui/platform/Dialogs.h"

#include <QDialog>

#include <QElapsedTimer>

#include <functional>
#include <memory>

namespace Ui {
class TfmValuesCompare;
}

namespace kv {

// Shows a comparison session to the respondent, one pair at a time, and passes the answers, "Назад"
// and the break on to it.
class TfmValuesCompare final : public QDialog
{
    Q_OBJECT

public:
    // The dialog opens centred over parent; random is the generator the questions are drawn from.
    explicit TfmValuesCompare(Dialogs& dialogs, QWidget* parent = nullptr, TvsRandom& random = TvsRandom::Program());
    ~TfmValuesCompare() override;

    // Runs one whole comparison over the pair lists; used-up pair lists are dropped from pairLists.
    // True when every pair was answered, false when the respondent cancelled or the run failed.
    bool Execute(TvsPairLists& pairLists, TvsValueTypeList& valueTypes, TvsValueList& checkedValues);

    // The final answer of every question answered in the last run of Execute, in question order.
    const TvsAnswerLog& AnswerLog() const { return m_session ? m_session->Answers() : m_answers; }

    // Where response times are measured from: a monotonic clock in milliseconds; tests drive it.
    void SetClock(std::function<qint64()> nowMs) { m_nowMs = std::move(nowMs); }

    qint32 PairTotal() const { return m_pairTotal; }
    qint32 PairNumber() const { return m_pairNumber; }
    const TvsValueRec& Item1() const { return m_item1; }
    const TvsValueRec& Item2() const { return m_item2; }

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    // Shows where the session stands: the next pair, or the end of the run.
    void ShowSession();
    void ShowPair();
    void Answer(quint8 chosen);
    void bbItem1Click();
    void bbItem2Click();
    void bbBreakClick();
    void bbBackClick();

    std::unique_ptr<Ui::TfmValuesCompare> ui;
    Dialogs& m_dialogs;
    TvsRandom& m_random;
    std::unique_ptr<TvsCompareSession> m_session; // during Execute only
    // What the last run showed, kept for the caller once the session is gone.
    TvsValueRec m_item1;
    TvsValueRec m_item2;
    qint32 m_pairTotal = 0;
    qint32 m_pairNumber = 0;
    TvsAnswerLog m_answers;
    QElapsedTimer m_monotonic;
    std::function<qint64()> m_nowMs;
    qint64 m_shownAtMs = 0;
};

} // namespace kv
