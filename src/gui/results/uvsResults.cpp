#include "gui/results/uvsResults.h"

#include "core/analysis/ConsistencyText.h"

#include "core/session/CompletedTest.h"
#include "gui/platform/ErrorBox.h"
#include "gui/platform/Printing.h"
#include "gui/widgets/ResultChart.h"

#include "ui_uvsResults.h"

#include <QAction>
#include <QComboBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QMenu>
#include <QPainter>
#include <QScreen>
#include <QTextEdit>
#include <QUrl>

#include <QVBoxLayout>
#include <QValidator>
#include <vector>

namespace kv {

namespace {

const QString kProductTitle = QStringLiteral("Квендар");

// Keeps the age field to digits whichever way text arrives (typing, pasting, dropping, an input
// method), by dropping every other character from the edit's text rather than filtering key
// presses: Tab, Escape and Delete carry text on X11, and a key filter that ate them would hold the
// keyboard in the field.
class AgeValidator final : public QValidator
{
public:
    using QValidator::QValidator;

    State validate(QString& input, int& pos) const override
    {
        QString digits;
        digits.reserve(input.size());
        int newPos = pos;
        for (qsizetype i = 0; i < input.size(); ++i) {
            const QChar c = input.at(i);
            if (c >= u'0' && c <= u'9')
                digits.append(c);
            else if (i < pos)
                --newPos;
        }
        input = digits;
        pos = newPos;
        return Acceptable;
    }
};

} // namespace

TfmResults::TfmResults(AppContext& context, QWidget* parent)
    : QDialog(parent), ui(std::make_unique<Ui::TfmResults>()), m_context(context)
{
    ui->setupUi(this);
    for (const TvsChoiceQuestion* question : ChoiceQuestions())
        Box(*question)->addItems(question->Items);
    // Opens at its designed size and grows with the user, so a long chart has room when wanted.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowMaximizeButtonHint |
                   Qt::WindowCloseButtonHint);
    setSizeGripEnabled(true);

    ui->meToUser->setPlainText(NoteToUser().join(u'\n'));
    ui->laSend->setText(QStringLiteral("<a href=\"#send\" style=\"color: blue; font-weight: bold; "
                                       "text-decoration: underline;\">Отправить письмо Орвело</a>"));

    // The chart tab follows the two questionnaire tabs; it is built here rather than in the form so
    // the tabs before it stay exactly as they are.
    auto* tsChart = new QWidget;
    tsChart->setObjectName(QStringLiteral("tsChart"));
    auto* chartLayout = new QVBoxLayout(tsChart);
    m_chart = new TvsChartView(tsChart);
    m_chart->setObjectName(QStringLiteral("chResult"));
    chartLayout->addWidget(m_chart, 1);
    auto* chartButtons = new QHBoxLayout;
    chartButtons->addStretch(1);
    btPrintChart = new QPushButton(QStringLiteral("Печать"), tsChart);
    btPrintChart->setObjectName(QStringLiteral("btPrintChart"));
    btPrintChart->setAutoDefault(false);
    chartButtons->addWidget(btPrintChart);
    chartLayout->addLayout(chartButtons);
    ui->pcData->addTab(tsChart, QStringLiteral("Диаграмма"));

    pmResults = new QMenu(this);
    pmResults->setObjectName(QStringLiteral("pmResults"));
    QAction* miSelectAll = pmResults->addAction(QStringLiteral("Выделить все"));
    miSelectAll->setObjectName(QStringLiteral("miSelectAll"));
    miSelectAll->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_A));
    QAction* miCopy = pmResults->addAction(QStringLiteral("Скопировать"));
    miCopy->setObjectName(QStringLiteral("miCopy"));
    miCopy->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Insert));
    // The shortcuts work while the mail text has the focus, as they do in its menu.
    for (QAction* action : {miSelectAll, miCopy}) {
        action->setShortcutContext(Qt::WidgetShortcut);
        ui->reMail->addAction(action);
    }

    // Ctrl+Tab and Ctrl+PgDn/PgUp turn the pages wherever the focus is: the mail text would
    // otherwise keep Ctrl+PgUp for itself.
    const QList<std::pair<QKeySequence, int>> pageKeys{{QKeySequence(Qt::CTRL | Qt::Key_Tab), 1},
                                                       {QKeySequence(Qt::CTRL | Qt::Key_PageDown), 1},
                                                       {QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Backtab), -1},
                                                       {QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Tab), -1},
                                                       {QKeySequence(Qt::CTRL | Qt::Key_PageUp), -1}};
    for (const auto& [keys, step] : pageKeys) {
        auto* action = new QAction(this);
        action->setShortcut(keys);
        action->setShortcutContext(Qt::WindowShortcut);
        connect(action, &QAction::triggered, this, [this, step = step] {
            const int count = ui->pcData->count();
            ui->pcData->setCurrentIndex((ui->pcData->currentIndex() + step + count) % count);
        });
        addAction(action);
    }

    Dialogs& dialogs = m_context.dialogs;
    connect(ui->reMail, &QWidget::customContextMenuRequested, this, [this](const QPoint& pos) {
        RunHandler(this, m_context.dialogs, [&] { pmResults->popup(ui->reMail->mapToGlobal(pos)); });
    });
    connect(miSelectAll, &QAction::triggered, this, Guarded(this, dialogs, &TfmResults::miSelectAllClick));
    connect(miCopy, &QAction::triggered, this, Guarded(this, dialogs, &TfmResults::miCopyClick));
    connect(ui->pcData, &QTabWidget::currentChanged, this, Guarded(this, dialogs, &TfmResults::pcDataChange));
    connect(ui->laSend, &QLabel::linkActivated, this, Guarded(this, dialogs, &TfmResults::laSendClick));
    connect(ui->btPrint, &QPushButton::clicked, this, Guarded(this, dialogs, &TfmResults::btPrintClick));
    connect(ui->btSave, &QPushButton::clicked, this, Guarded(this, dialogs, &TfmResults::btSaveClick));
    connect(btPrintChart, &QPushButton::clicked, this, Guarded(this, dialogs, &TfmResults::btPrintChartClick));
    connect(ui->btClose, &QPushButton::clicked, this, &QDialog::reject);
    ui->edAge->setValidator(new AgeValidator(ui->edAge));
    // The pages and their texts have no label of their own to be announced by; a page's text is
    // named after its tab.
    ui->pcData->setAccessibleName(QStringLiteral("Закладки"));
    for (int i = 0; i < ui->pcData->count(); ++i)
        for (QTextEdit* text : ui->pcData->widget(i)->findChildren<QTextEdit*>())
            if (text->accessibleName().isEmpty())
                text->setAccessibleName(ui->pcData->tabText(i));
    ui->laSend->installEventFilter(this);

    RunHandler(this, dialogs, [this] { FormCreate(); });
    // The keyboard starts in the first question, not on the page tabs, where it would go unseen.
    ui->edFio->setFocus();
}

TfmResults::~TfmResults() = default;

QStringList TfmResults::NoteToUser()
{
    const QString address = QString::fromUtf16(kAuthorAddress);
    return {
        QStringLiteral("Тест, который Вы только что прошли, является частью большой научной работы,"),
        QStringLiteral("посвященной системам ценностей различных слоев общества."),
        QString(),
        QStringLiteral("Пожалуйста, заполните анкету на этой странице, не пропуская ни одного вопроса."),
        QStringLiteral("Отвечайте честно. Если же Вы не хотите отвечать на какой-либо вопрос,"),
        QStringLiteral("выберите вариант \"Нет ответа\"."),
        QString(),
        QStringLiteral("Затем перейдите на закладку \"Текст письма\" и щелкните по ссылке"),
        QStringLiteral("\"Отправить письмо Орвело\", чтобы отправить результаты Орвело"),
        QStringLiteral("по адресу электронной почты %1.").arg(address),
        QStringLiteral("В ответ Вы получите модуль, который интерпретирует результаты"),
        QStringLiteral("Вашего тестирования."),
        QString(),
        QStringLiteral("Предоставив свои результаты, Вы примете участие в широком психологическом"),
        QStringLiteral("исследовании, которое проводится по всей России."),
        QString(),
        QStringLiteral("С благодарностью,"),
        QStringLiteral("Орвело."),
        QStringLiteral("01.09.2003 Санкт-Петербург"),
    };
}

void TfmResults::Execute(TvsValueTypeList& resultList, const TvsAnswerLog* answers)
{
    m_resultList = &resultList;
    m_answers = answers;
    try {
        m_chart->SetRows(ResultChartTitle(), ResultChartRows(resultList), ResultGroupNames(resultList));
        ShowConsistency();
        if (const QScreen* screen = QGuiApplication::primaryScreen())
            move(screen->availableGeometry().center() - rect().center());
        exec();
    } catch (...) {
        m_resultList = nullptr;
        m_answers = nullptr;
        throw;
    }
    m_resultList = nullptr;
    m_answers = nullptr;
}

void TfmResults::ShowConsistency()
{
    const TvsConsistency consistency =
        m_answers ? ConsistencyFromAnswers(*m_answers) : ConsistencyFromResults(*m_resultList);
    ui->reConsistency->setPlainText(ConsistencyLines(consistency, m_answers != nullptr).join(u'\n'));
}

void TfmResults::FormCreate()
{
    ui->pcData->setCurrentWidget(ui->tsPrivateData);
}

QComboBox* TfmResults::Box(const TvsChoiceQuestion& question) const
{
    return findChild<QComboBox*>(question.Control);
}

TvsQuestionnaire TfmResults::Answers() const
{
    TvsQuestionnaire answers;
    answers.Fio = ui->edFio->text();
    answers.Age = ui->edAge->text();
    answers.Sex = Box(SexQuestion())->currentText();
    for (int q = 0; q < kQuestionCount; ++q)
        answers.Answers[size_t(q)] = Box(Question(TvsQuestion(q)))->currentText();
    return answers;
}

void TfmResults::pcDataChange()
{
    if (ui->pcData->currentWidget() != ui->tsMail)
        return;
    static const TvsValueTypeList kNoResults;
    const QStringList lines = BuildMailLines(Answers(), m_resultList ? *m_resultList : kNoResults);
    ui->reMail->setUpdatesEnabled(false);
    ui->reMail->setPlainText(lines.join(u'\n'));
    ui->reMail->setUpdatesEnabled(true);
}

bool TfmResults::eventFilter(QObject* watched, QEvent* event)
{
    // The link follows Enter or Space as soon as Tab has put the focus on it, like a button.
    if (watched == ui->laSend && event->type() == QEvent::KeyPress) {
        const int key = static_cast<const QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Space) {
            RunHandler(this, m_context.dialogs, [this] { laSendClick(); });
            return true;
        }
        // A label with a link keeps Shift+Tab among its own links, and with one link it never lets
        // go; both directions move on to the neighbouring control instead.
        const auto modifiers = static_cast<const QKeyEvent*>(event)->modifiers();
        if ((key == Qt::Key_Tab || key == Qt::Key_Backtab) && !(modifiers & (Qt::ControlModifier | Qt::AltModifier))) {
            focusNextPrevChild(key == Qt::Key_Tab && !(modifiers & Qt::ShiftModifier));
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void TfmResults::laSendClick()
{
    const QStringList lines = ui->reMail->toPlainText().split(u'\n');
    const QString address = QString::fromUtf16(kAuthorAddress);
    const QByteArray url = BuildMailtoUrl(address, kProductTitle, lines);
    OpenLink(m_context.dialogs, this, QUrl::fromEncoded(url, QUrl::StrictMode),
             QStringLiteral("Не найдена программа для отправки почты. Отправьте письмо сами по адресу %1 "
                            "с темой «%2». Кнопка «Копировать» поместит текст письма в буфер обмена, откуда "
                            "его можно вставить в письмо.")
                 .arg(address, kProductTitle),
             ui->reMail->toPlainText());
}

void TfmResults::btPrintClick()
{
    PrintDocument(m_context, this, *ui->reMail->document(), kProductTitle);
}

void TfmResults::btPrintChartClick()
{
    PrintPages(
        m_context, this, 1,
        [this](QPainter& painter, const QRectF& page, int) {
            const double height = std::min(page.height(), page.width() * m_chart->PreferredHeight() / 640.0);
            m_chart->Render(painter, QRectF(page.topLeft(), QSizeF(page.width(), height)));
        },
        kProductTitle);
}

void TfmResults::miSelectAllClick()
{
    ui->reMail->selectAll();
}

void TfmResults::miCopyClick()
{
    ui->reMail->copy();
}

bool TfmResults::FormCloseQuery()
{
    if (Saved)
        return true;
    return m_context.dialogs.Message(this, Dialogs::Kind::Warning,
                                     QStringLiteral("Результаты теста не будут сохранены. Закрыть окно?"),
                                     QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes;
}

void TfmResults::btSaveClick()
{
    if (!m_context.places.storageError.isEmpty())
        throw Error(m_context.places.storageError);
    // A failure raises with its reason and leaves the window unsaved, so the respondent can try again.
    static const TvsValueTypeList kNoResults;
    const TvsDBTestRec saved = SaveCompletedTest(m_context.dataDir(), Answers(),
                                                 m_resultList ? *m_resultList : kNoResults, m_answers, m_now());
    // A greyed button alone does not tell the respondent that the test is in; the number lets the
    // researcher find it in the history.
    ui->laSaved->setText(QStringLiteral("Тест сохранён (№ %1)").arg(saved.Id()));

    Saved = true;
    ui->edFio->setReadOnly(true);
    ui->edAge->setReadOnly(true);
    for (const TvsChoiceQuestion* question : ChoiceQuestions())
        Box(*question)->setEnabled(false);
    ui->btSave->setEnabled(false);
}

void TfmResults::done(int result)
{
    // "Закрыть", Escape and the title bar all end here, so the close question covers each of them.
    bool canClose = false;
    RunHandler(this, m_context.dialogs, [&] { canClose = FormCloseQuery(); });
    if (canClose)
        QDialog::done(result);
}

void TfmResults::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        ui->btClose->click();
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

} // namespace kv
