#include "compare/uvsValuesCompare.h"

#include "platform/ErrorBox.h"

#include "ui_uvsValuesCompare.h"

#include <QKeyEvent>

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
}

TfmValuesCompare::~TfmValuesCompare() = default;

bool TfmValuesCompare::Execute(TvsPairLists& pairLists, TvsValueTypeList& valueTypes, TvsValueList& checkedValues)
{
    bool completed = false;
    m_pairLists = &pairLists;
    m_valueTypes = &valueTypes;
    m_checkedValues = &checkedValues;
    m_finished = false;
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
    return completed;
}

void TfmValuesCompare::NextPair()
{
    ++m_pairNumber;
    // The counter moves on also for the call that only closes the dialog.
    setWindowTitle(QStringLiteral("Попарное сравнение %1 из %2").arg(m_pairNumber).arg(m_pairTotal));
    // A screen reader speaks the caption only when the window opens; the description carries the
    // question and how far along it is to every answer.
    setAccessibleDescription(
        QStringLiteral("%1 Вопрос %2 из %3").arg(ui->laQuestion->text()).arg(m_pairNumber).arg(m_pairTotal));
    if (!DrawNextPair(*m_pairLists, m_random, m_item1, m_item2)) {
        m_finished = true;
        done(QDialog::Accepted);
        return;
    }
    ui->bbItem1->setText(ButtonText(m_item1.Name));
    ui->bbItem2->setText(ButtonText(m_item2.Name));
}

void TfmValuesCompare::bbItem1Click()
{
    ScoreAnswer(m_item1, *m_checkedValues, *m_valueTypes);
    NextPair();
}

void TfmValuesCompare::bbItem2Click()
{
    ScoreAnswer(m_item2, *m_checkedValues, *m_valueTypes);
    NextPair();
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
    QDialog::keyPressEvent(event);
}

} // namespace kv
