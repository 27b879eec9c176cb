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
    m_answers.clear();
    try {
        m_session = std::make_unique<TvsCompareSession>(pairLists, valueTypes, checkedValues, m_random);
        m_session->Start();
        ShowSession();
        ui->bbItem1->setFocus();
        completed = m_session->Finished() || exec() != QDialog::Rejected;
    } catch (...) {
        // A failure before the first question or of the modal run is a cancelled test for the
        // driver; the respondent gets no message for it.
        completed = false;
    }
    if (m_session)
        m_answers = m_session->Answers();
    m_session.reset();
    return completed;
}

void TfmValuesCompare::ShowSession()
{
    m_pairTotal = m_session->PairTotal();
    m_pairNumber = m_session->PairNumber();
    m_item1 = m_session->Item1();
    m_item2 = m_session->Item2();
    // The counter moves on also for the call that only closes the dialog.
    setWindowTitle(QStringLiteral("Попарное сравнение %1 из %2").arg(m_pairNumber).arg(m_pairTotal));
    if (m_session->Finished()) {
        done(QDialog::Accepted);
        return;
    }
    ShowPair();
}

void TfmValuesCompare::ShowPair()
{
    ui->bbItem1->setText(ButtonText(m_item1.Name));
    ui->bbItem2->setText(ButtonText(m_item2.Name));
    ui->bbBack->setEnabled(m_session->CanGoBack());
    // A screen reader speaks the caption only when the window opens; the description carries the
    // question and how far along it is to every answer, and back.
    setAccessibleDescription(
        QStringLiteral("%1 Вопрос %2 из %3").arg(ui->laQuestion->text()).arg(m_pairNumber).arg(m_pairTotal));
    m_shownAtMs = m_nowMs();
}

void TfmValuesCompare::Answer(quint8 chosen)
{
    const qint64 elapsed = m_nowMs() - m_shownAtMs;
    m_session->Answer(chosen, quint32(std::clamp<qint64>(elapsed, 0, std::numeric_limits<quint32>::max())));
    ShowSession();
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
    if (!m_session->CanGoBack())
        return;
    m_session->Back();
    ShowSession();
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
    if (m_session && m_session->Answers().empty() && m_pairNumber == 1)
        m_shownAtMs = m_nowMs();
}

} // namespace kv
