#include "gui/compare/uvsValuesCompare.h"

#include "gui/platform/ErrorBox.h"

#include "ui_uvsValuesCompare.h"

#include <QKeyEvent>

#include <algorithm>
#include <limits>

namespace kv {

namespace {

// A value's text on a button: "&" would otherwise turn into a shortcut underline.
QString ButtonText(const QString& name)
{
    QString text = name;
    return text.replace(u'&', QStringLiteral("&&"));
}

} // namespace

TfmValuesCompare::TfmValuesCompare(Dialogs& dialogs, QWidget* parent, TvsRandom& random)
    : QDialog(parent), ui(std::make_unique<Ui::TfmValuesCompare>()), m_dialogs(dialogs), m_random(random)
{
    ui->setupUi(this);
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                   Qt::WindowMinimizeButtonHint);
    setFixedSize(size());
    connect(ui->bbItem1, &QPushButton::clicked, this, Guarded(this, m_dialogs, &TfmValuesCompare::bbItem1Click));
    connect(ui->bbItem2, &QPushButton::clicked, this, Guarded(this, m_dialogs, &TfmValuesCompare::bbItem2Click));
    connect(ui->bbBreak, &QPushButton::clicked, this, Guarded(this, m_dialogs, &TfmValuesCompare::bbBreakClick));
    connect(ui->bbBack, &QPushButton::clicked, this, Guarded(this, m_dialogs, &TfmValuesCompare::bbBackClick));
    m_monotonic.start();
    m_nowMs = [this] { return m_monotonic.elapsed(); };
}

TfmValuesCompare::~TfmValuesCompare() = default;

bool TfmValuesCompare::Execute(TvsPairLists& pairLists, TvsValueTypeList& valueTypes, TvsValueList& checkedValues)
{
    bool completed = false;
    m_pairLists = &pairLists;
    m_valueTypes = &valueTypes;
    m_checkedValues = &checkedValues;
    m_finished = false;
    m_shown.clear();
    m_answers.clear();
    try {
        m_pairTotal = PairCount(checkedValues.Count());
        m_pairNumber = 0;
        NextPair();
        ui->bbItem1->setFocus();
        completed = m_finished || exec() != QDialog::Rejected;
    } catch (...) {
        // A failure before the first question or of the modal run is a cancelled test for the
        // driver; the respondent gets no message for it.
        completed = false;
    }
    m_pairLists = nullptr;
    m_valueTypes = nullptr;
    m_checkedValues = nullptr;
    m_shown.clear();
    return completed;
}

void TfmValuesCompare::NextPair()
{
    ++m_pairNumber;
    // The counter moves on also for the call that only closes the dialog.
    setWindowTitle(QStringLiteral("Попарное сравнение %1 из %2").arg(m_pairNumber).arg(m_pairTotal));
    if (!DrawNextPair(*m_pairLists, m_random, m_item1, m_item2)) {
        m_finished = true;
        done(QDialog::Accepted);
        return;
    }
    m_shown.push_back({m_item1, m_item2, m_random.State(), ClonePairLists(*m_pairLists)});
    ShowPair();
}

void TfmValuesCompare::ShowPair()
{
    ui->bbItem1->setText(ButtonText(m_item1.Name));
    ui->bbItem2->setText(ButtonText(m_item2.Name));
    ui->bbBack->setEnabled(m_pairNumber > 1);
    // A screen reader speaks the caption only when the window opens; the description carries the
    // question and how far along it is to every answer, and back.
    setAccessibleDescription(
        QStringLiteral("%1 Вопрос %2 из %3").arg(ui->laQuestion->text()).arg(m_pairNumber).arg(m_pairTotal));
    m_shownAtMs = m_nowMs();
}

void TfmValuesCompare::Answer(quint8 chosen)
{
    const qint64 elapsed = m_nowMs() - m_shownAtMs;
    TvsAnswer answer;
    answer.Question = m_pairNumber;
    answer.Upper = m_item1.Name;
    answer.UpperGroup = m_item1.TypeNumber;
    answer.UpperIndex = m_item1.SourceIndex;
    answer.Lower = m_item2.Name;
    answer.LowerGroup = m_item2.TypeNumber;
    answer.LowerIndex = m_item2.SourceIndex;
    answer.Chosen = chosen;
    answer.ResponseMs = quint32(std::clamp<qint64>(elapsed, 0, std::numeric_limits<quint32>::max()));
    ScoreAnswer(chosen == 1 ? m_item1 : m_item2, *m_checkedValues, *m_valueTypes);
    m_answers.push_back(answer);
    NextPair();
}

void TfmValuesCompare::bbItem1Click()
{
    Answer(1);
}

void TfmValuesCompare::bbItem2Click()
{
    Answer(2);
}

void TfmValuesCompare::bbBackClick()
{
    if (m_pairNumber <= 1 || m_shown.size() < 2 || m_answers.empty())
        return;
    // The previous question comes back exactly as it was drawn: same pair, and the generator and the
    // pair lists as they stood after drawing it, so every later question stays the one it would be.
    const Shown& previous = m_shown[m_shown.size() - 2];
    UnscoreAnswer(m_answers.back().Chosen == 1 ? previous.Item1 : previous.Item2, *m_checkedValues, *m_valueTypes);
    m_answers.pop_back();
    *m_pairLists = ClonePairLists(previous.PairLists);
    m_random.SetState(previous.RandomState);
    m_item1 = previous.Item1;
    m_item2 = previous.Item2;
    m_shown.pop_back();
    --m_pairNumber;
    setWindowTitle(QStringLiteral("Попарное сравнение %1 из %2").arg(m_pairNumber).arg(m_pairTotal));
    ShowPair();
}

void TfmValuesCompare::bbBreakClick()
{
    if (m_dialogs.Message(this, Dialogs::Kind::Confirmation,
                          QStringLiteral("Результаты тестирования будут потеряны. Отменить тестирование?"),
                          QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes)
        reject();
}

void TfmValuesCompare::keyPressEvent(QKeyEvent* event)
{
    // No button is the cancel button, so Escape must not end the test behind the respondent's back;
    // the title bar's close (and Alt+F4) still cancels, through closeEvent.
    if (event->key() == Qt::Key_Escape) {
        event->accept();
        return;
    }
    if (event->key() == Qt::Key_Backspace && event->modifiers() == Qt::NoModifier) {
        event->accept();
        if (ui->bbBack->isEnabled())
            ui->bbBack->click();
        return;
    }
    QDialog::keyPressEvent(event);
}

void TfmValuesCompare::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    // The first pair is prepared before the window appears; its time runs from when it can be seen.
    if (m_answers.empty() && m_pairNumber == 1)
        m_shownAtMs = m_nowMs();
}

} // namespace kv
