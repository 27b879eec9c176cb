#pragma once

#include "core/catalogue/uvsValues.h"
#include "core/session/AnswerLog.h"
#include "core/session/MailText.h"
#include "gui/platform/AppContext.h"

#include <QDateTime>
#include <QDialog>

#include <functional>
#include <memory>

class QComboBox;
class QMenu;
class QPushButton;

namespace Ui {
class TfmResults;
}

namespace kv {

class TvsChartView;

// Shows a finished test: the respondent's questionnaire, the mail text that combines it with the
// ranking, and the ways out for that text (print, copy, mail link, save).
class TfmResults final : public QDialog
{
    Q_OBJECT

public:
    explicit TfmResults(AppContext& context, QWidget* parent = nullptr);
    ~TfmResults() override;

    // Shows the window modally for the lent result list and returns when it closes. The list and the
    // answer log (none for a caller that has no answers) are only read, and the window forgets both
    // on every way out.
    void Execute(TvsValueTypeList& resultList, const TvsAnswerLog* answers = nullptr);

    // The list lent for the current run of Execute; nullptr outside it.
    TvsValueTypeList* ResultList() const { return m_resultList; }
    // The answer log lent for the current run of Execute; nullptr outside it or without one.
    const TvsAnswerLog* AnswerLog() const { return m_answers; }
    bool IsSaved() const { return Saved; }

    // Where the save takes the current local time from; tests pin it.
    void SetClock(std::function<QDateTime()> now) { m_now = std::move(now); }

    // The questionnaire as it stands, each list's shown item.
    TvsQuestionnaire Answers() const;

    // The fixed note to the respondent shown on the questionnaire tab.
    static QStringList NoteToUser();

    // The chart tab's picture of the result.
    TvsChartView* Chart() const { return m_chart; }

    // Every way of closing ends here and passes the close question first.
    void done(int result) override;

protected:
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void FormCreate();
    // The questionnaire's drop-down list for this question.
    QComboBox* Box(const TvsChoiceQuestion& question) const;
    // Fills the consistency tab from the answer log, or from the scores when there is none.
    void ShowConsistency();
    void pcDataChange();
    void laSendClick();
    void btPrintClick();
    void miSelectAllClick();
    void miCopyClick();
    bool FormCloseQuery();
    void btSaveClick();
    void btPrintChartClick();

    std::unique_ptr<Ui::TfmResults> ui;
    AppContext& m_context;
    QMenu* pmResults = nullptr;
    TvsChartView* m_chart = nullptr;
    QPushButton* btPrintChart = nullptr;
    TvsValueTypeList* m_resultList = nullptr;
    const TvsAnswerLog* m_answers = nullptr;
    // Set once the test is in the database; until then closing asks first.
    bool Saved = false;
    std::function<QDateTime()> m_now = [] { return QDateTime::currentDateTime(); };
};

} // namespace kv
