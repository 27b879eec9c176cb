#pragma once

#include "core/catalogue/uvsValues.h"
#include "core/platform/Library.h"
#include "core/session/AnswerLog.h"
#include "core/storage/uvsDataBase.h"
#include "gui/platform/AppContext.h"

#include <kvendarres.h>

#include <QDialog>

#include <memory>

class QTextEdit;

namespace Ui {
class TfmDetailedResult;
}

namespace kv {

class TvsChartView;

// One saved test as a document: composed by the interpretation module when it is there, by the
// window's own summary otherwise. The document can be saved as RTF or text and printed.
class TfmDetailedResult final : public QDialog
{
    Q_OBJECT

public:
    explicit TfmDetailedResult(AppContext& context, QWidget* parent = nullptr);
    ~TfmDetailedResult() override;

    // Composes the document for rec and list and shows the window modally until it is closed.
    // An error while the module composes or the view reads its document ends it before the window
    // is shown. list and answers (the test's saved answers; none for a test saved without them) are
    // only read, and only during the call.
    void Execute(TvsDBTestRec rec, const TvsValueTypeList& list, const TvsAnswerLog* answers = nullptr);

    // Everything Execute does before showing the window.
    void Compose(const TvsDBTestRec& rec, const TvsValueTypeList& list, const TvsAnswerLog* answers = nullptr);

    // A warning that opens the document, for the result as it is shown, saved and printed; empty for
    // none. Set before Compose.
    void SetNotice(const QString& text) { m_notice = text; }

    QTextEdit* View() const;
    // The chart of the result below the document; hidden for a result without groups.
    TvsChartView* Chart() const { return m_chart; }
    const QString& PrintTitle() const { return FPrintTitle; }
    // True while the interpretation module is loaded: only inside Compose.
    bool ModuleLoaded() const { return FModule.IsOpen(); }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    bool LoadModule();
    void CallBuildResult(const TvsDBTestRec& rec, const TvsValueTypeList& list, const TvsAnswerLog* answers,
                         KvStream* stream);
    void UnloadModule();
    void BuildFallbackText(const TvsDBTestRec& rec, const TvsValueTypeList& list);
    void InsertNotice();

    void pnBottomResize();
    void btSaveAsClick();
    void btPrintClick();
    void reMainKeyDown(int key);

    std::unique_ptr<Ui::TfmDetailedResult> ui;
    AppContext& m_context;
    QString FPrintTitle;
    Library FModule;
    KvBuildResultFn FBuildResult = nullptr;
    KvBuildResultExFn FBuildResultEx = nullptr; // a module of the second version also takes the consistency
    TvsChartView* m_chart = nullptr;
    QString m_notice;
};

} // namespace kv
