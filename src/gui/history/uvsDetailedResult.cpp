#include "gui/history/uvsDetailedResult.h"

#include "core/interpretation/FallbackText.h"
#include "core/interpretation/ModuleBridge.h"
#include "core/platform/Errors.h"
#include "core/platform/RtfDocument.h"
#include "gui/platform/ErrorBox.h"
#include "gui/platform/Printing.h"
#include "gui/platform/RichTextDocument.h"
#include "gui/widgets/ResultChart.h"

#include "ui_uvsDetailedResult.h"

#include <QDir>
#include <QFileInfo>
#include <QKeyEvent>
#include <QPushButton>
#include <QSaveFile>
#include <QStyle>
#include <QStyleOptionButton>
#include <QTextCharFormat>
#include <QTextCursor>
#include <QTextDocument>

#include <algorithm>
#include <array>

namespace kv {

namespace {

// The chart's picture in a saved document: sharp enough to print, 16.5 cm wide on the page.
constexpr int kChartPictureWidth = 1280;
constexpr int kChartPictureTwips = 9360;

// The buttons are placed by hand at their designed widths; one whose caption would be cut short at
// the user's font grows to what the style asks for it.
void WidenToCaption(QPushButton* button)
{
    QStyleOptionButton option;
    option.initFrom(button);
    option.text = button->text();
    const QRect room = button->style()->subElementRect(QStyle::SE_PushButtonContents, &option, button);
    if (button->fontMetrics().size(Qt::TextShowMnemonic, button->text()).width() > room.width())
        button->resize(std::max(button->width(), button->sizeHint().width()), button->height());
}

} // namespace

TfmDetailedResult::TfmDetailedResult(AppContext& context, QWidget* parent)
    : QDialog(parent), ui(std::make_unique<Ui::TfmDetailedResult>()), m_context(context)
{
    ui->setupUi(this);
    // The chart comes from the program, so it is there whether a module composed the document or not.
    m_chart = new TvsChartView(this);
    m_chart->setObjectName(QStringLiteral("chResult"));
    m_chart->setFocusPolicy(Qt::NoFocus);
    m_chart->hide();
    ui->layMain->insertWidget(1, m_chart);
    Dialogs& dialogs = m_context.dialogs;
    connect(ui->btClose, &QPushButton::clicked, this, &QDialog::accept);
    connect(ui->btSaveAs, &QPushButton::clicked, this, Guarded(this, dialogs, &TfmDetailedResult::btSaveAsClick));
    connect(ui->btPrint, &QPushButton::clicked, this, Guarded(this, dialogs, &TfmDetailedResult::btPrintClick));
    ui->reMain->setAccessibleName(QStringLiteral("Результат теста"));
    for (QPushButton* button : {ui->btSaveAs, ui->btPrint, ui->btClose})
        WidenToCaption(button);
    ui->pnBottom->installEventFilter(this);
    ui->reMain->installEventFilter(this);
    ui->reMain->setFocus();
}

TfmDetailedResult::~TfmDetailedResult() = default;

QTextEdit* TfmDetailedResult::View() const
{
    return ui->reMain;
}

bool TfmDetailedResult::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == ui->pnBottom && event->type() == QEvent::Resize) {
        RunHandler(this, m_context.dialogs, [this] { pnBottomResize(); });
    } else if (watched == ui->reMain && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Escape) {
            RunHandler(this, m_context.dialogs, [this, key] { reMainKeyDown(key); });
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void TfmDetailedResult::Execute(TvsDBTestRec rec, const TvsValueTypeList& list, const TvsAnswerLog* answers)
{
    Compose(rec, list, answers);
    ui->reMain->setFocus();
    exec();
}

void TfmDetailedResult::Compose(const TvsDBTestRec& rec, const TvsValueTypeList& list, const TvsAnswerLog* answers)
{
    const QString fio = rec.Fio();
    setWindowTitle(QStringLiteral("Интерпретация результатов теста. Тестируемый: ") + fio);
    FPrintTitle = fio;
    m_chart->SetRows(ResultChartTitle(), ResultChartRows(list), ResultGroupNames(list));
    m_chart->setVisible(!m_chart->IsEmpty());
    m_chart->setMinimumHeight(std::min(m_chart->PreferredHeight(), 240));

    if (!LoadModule()) {
        BuildFallbackText(rec, list);
        InsertNotice();
        return;
    }
    // The module goes as soon as the view holds its document, whichever way this block ends.
    struct Unload
    {
        TfmDetailedResult* window;
        ~Unload() { window->UnloadModule(); }
    } unload{this};

    ModuleStream stream;
    CallBuildResult(rec, list, answers, stream.stream());
    // The document starts where the module left the stream; a module that leaves it at the end of
    // what it wrote has given nothing to show.
    QTextDocument* document = ui->reMain->document();
    if (!LoadRichText(*document, stream.fromPosition()))
        throw Error(QStringLiteral("Failed to Load Stream"));
    InsertNotice();
    ui->reMain->moveCursor(QTextCursor::Start);
}

void TfmDetailedResult::InsertNotice()
{
    if (m_notice.isEmpty())
        return;
    QTextCursor cursor(ui->reMain->document());
    cursor.movePosition(QTextCursor::Start);
    QTextCharFormat bold;
    bold.setFontWeight(QFont::Bold);
    cursor.insertText(m_notice, bold);
    cursor.insertBlock();
    cursor.insertBlock();
    ui->reMain->moveCursor(QTextCursor::Start);
}

bool TfmDetailedResult::LoadModule()
{
    FBuildResult = nullptr;
    if (!FModule.Open(m_context.exeDir, ModuleFileName(), m_context.installedModuleDir))
        return false;
    FBuildResult = reinterpret_cast<KvBuildResultFn>(FModule.Symbol("BuildResult"));
    FBuildResultEx = reinterpret_cast<KvBuildResultExFn>(FModule.Symbol("BuildResultEx"));
    // A library without the entry point is not a module: the built-in text is shown instead.
    if (FBuildResult == nullptr) {
        UnloadModule();
        return false;
    }
    return true;
}

void TfmDetailedResult::CallBuildResult(const TvsDBTestRec& rec, const TvsValueTypeList& list,
                                        const TvsAnswerLog* answers, KvStream* stream)
{
    // The module gets copies of everything: whatever it writes stays on its side.
    std::array<unsigned char, TvsDBTestRec::kSize> record{};
    std::copy(rec.bytes.begin(), rec.bytes.end(), record.begin());
    const ModuleResultList results(list);
    if (FBuildResultEx == nullptr) {
        FBuildResult(record.data(), results.data(), stream);
        return;
    }
    // Saved answers that do not make a whole comparison (a damaged file) say nothing reliable about
    // the respondent; the scores still do.
    TvsConsistency consistency;
    if (answers && !answers->empty())
        consistency = ConsistencyFromAnswers(*answers);
    const bool fromAnswers = consistency.Valid;
    if (!fromAnswers)
        consistency = ConsistencyFromResults(list);
    const ModuleExtra extra(consistency, fromAnswers ? answers : nullptr);
    FBuildResultEx(record.data(), results.data(), extra.data(), stream);
}

void TfmDetailedResult::UnloadModule()
{
    FBuildResult = nullptr;
    FBuildResultEx = nullptr;
    FModule.Close();
}

void TfmDetailedResult::BuildFallbackText(const TvsDBTestRec& rec, const TvsValueTypeList& list)
{
    QTextEdit* view = ui->reMain;
    view->setUpdatesEnabled(false);
    struct Resume
    {
        QTextEdit* view;
        ~Resume() { view->setUpdatesEnabled(true); }
    } resume{view};
    view->setPlainText(BuildFallbackLines(rec, list).join(u'\n'));
    view->moveCursor(QTextCursor::Start);
}

void TfmDetailedResult::pnBottomResize()
{
    constexpr int kGap = 8;
    QWidget* panel = ui->pnBottom;
    ui->btClose->move(panel->width() - ui->btClose->width() - kGap, ui->btClose->y());
    ui->btPrint->move(ui->btClose->x() - ui->btPrint->width() - kGap, ui->btPrint->y());
    ui->btSaveAs->move(ui->btPrint->x() - ui->btSaveAs->width() - kGap, ui->btSaveAs->y());
}

void TfmDetailedResult::btSaveAsClick()
{
    const QString fileName = m_context.dialogs.SaveFileName(
        this, QStringLiteral("Сохранить как"), QStringLiteral("Rich Text Format (*.rtf)"), QStringLiteral("rtf"));
    if (fileName.isEmpty())
        return;
    const QTextDocument& document = *ui->reMain->document();
    const bool plain = QFileInfo(fileName).suffix().compare(u"txt", Qt::CaseInsensitive) == 0;
    QByteArray bytes = plain ? SavePlainText(document) : SaveRtf(document);
    if (!plain && !m_chart->IsEmpty()) {
        const QSize size(kChartPictureWidth, m_chart->PreferredHeight(kChartPictureWidth));
        bytes = AppendRtfPicture(bytes, m_chart->Png(size), size.width(), size.height(), kChartPictureTwips);
    }

    // Written beside the target and renamed over it, so a failed save leaves an old file whole.
    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly))
        throw Error(QStringLiteral("Не удаётся создать файл \"%1\". %2")
                        .arg(QDir::toNativeSeparators(fileName), file.errorString()));
    if (file.write(bytes) != bytes.size() || !file.commit())
        throw Error(QStringLiteral("Failed to Save Stream"));
}

void TfmDetailedResult::btPrintClick()
{
    if (m_chart->IsEmpty()) {
        PrintDocument(m_context, this, *ui->reMain->document(), FPrintTitle);
        return;
    }
    const PagePainter chart = [this](QPainter& painter, const QRectF& page) {
        const double height = std::min(page.height(), page.width() * m_chart->PreferredHeight() / 640.0);
        m_chart->Render(painter, QRectF(page.topLeft(), QSizeF(page.width(), height)));
    };
    PrintDocumentAndPages(m_context, this, *ui->reMain->document(), {chart}, FPrintTitle);
}

void TfmDetailedResult::reMainKeyDown(int key)
{
    if (key == Qt::Key_Escape)
        done(QDialog::Rejected);
}

} // namespace kv
