#pragma once

#include "compare/PairDraw.h"
#include "platform/Dialogs.h"

#include <QDialog>

#include <memory>

namespace Ui {
class TfmValuesCompare;
}

namespace kv {

// Puts every pair of the chosen values to the respondent once, one at a time, and scores each answer
// in place in the lists it is lent.
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

    qint32 PairTotal() const { return m_pairTotal; }
    qint32 PairNumber() const { return m_pairNumber; }
    const TvsValueRec& Item1() const { return m_item1; }
    const TvsValueRec& Item2() const { return m_item2; }

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    void NextPair();
    void bbItem1Click();
    void bbItem2Click();
    void bbBreakClick();

    std::unique_ptr<Ui::TfmValuesCompare> ui;
    Dialogs& m_dialogs;
    TvsRandom& m_random;
    TvsPairLists* m_pairLists = nullptr;
    TvsValueTypeList* m_valueTypes = nullptr;
    TvsValueList* m_checkedValues = nullptr;
    TvsValueRec m_item1;
    TvsValueRec m_item2;
    qint32 m_pairTotal = 0;
    qint32 m_pairNumber = 0;
    bool m_finished = false;
};

} // namespace kv
