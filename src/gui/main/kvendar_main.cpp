#include "gui/main/kvendar_main.h"

#include "core/catalogue/Catalogue.h"
#include "core/platform/Errors.h"
#include "core/session/ResultAssembly.h"
#include "core/settings/SettingsStore.h"
#include "gui/catalogue/uvsAddValueDialog.h"
#include "gui/compare/uvsValuesCompare.h"
#include "gui/history/uvsTestGrid.h"
#include "gui/platform/ErrorBox.h"
#include "gui/results/uvsResults.h"
#include "gui/settings/HelpWindow.h"
#include "gui/settings/uvsAbout.h"
#include "gui/settings/uvsSettings.h"
#include "gui/summary/uvsSummary.h"
#include "gui/transfer/TransferWindows.h"
#include "gui/widgets/NodeTag.h"

#include "ui_kvendar_main.h"

#include <QAction>
#include <QCloseEvent>
#include <QCollator>
#include <QDir>
#include <QHeaderView>
#include <QKeyEvent>
#include <QPainter>
#include <QResizeEvent>
#include <QScreen>
#include <QTextBrowser>
#include <QTreeWidgetItemIterator>
#include <QtWidgets/qdrawutil.h>

#include <algorithm>
#include <exception>

namespace kv {

namespace {

const QString kAddItemText = QStringLiteral("Добавить...");

// Draws the two-pixel sunken edge of a classic 3-D control on the chosen sides of rect.
enum EdgeSide
{
    kLeft = 1,
    kRight = 4,
    kBottom = 8
};

void DrawSunkenEdge(QPainter& painter, const QRect& rect, int sides, const QPalette& palette)
{
    const QColor shadow = palette.color(QPalette::Mid);
    const QColor darkShadow = palette.color(QPalette::Shadow);
    const QColor highlight = palette.color(QPalette::Light);
    const QColor light = palette.color(QPalette::Midlight);
    const int l = rect.left();
    const int t = rect.top();
    const int r = rect.right();
    const int b = rect.bottom();
    if (sides & kLeft) {
        painter.setPen(shadow);
        painter.drawLine(l, t, l, b);
        painter.setPen(darkShadow);
        painter.drawLine(l + 1, t, l + 1, b - 1);
    }
    if (sides & kRight) {
        painter.setPen(highlight);
        painter.drawLine(r, t, r, b);
        painter.setPen(light);
        painter.drawLine(r - 1, t, r - 1, b - 1);
    }
    if (sides & kBottom) {
        painter.setPen(highlight);
        painter.drawLine(l, b, r, b);
        painter.setPen(light);
        painter.drawLine(l + 1, b - 1, r - 1, b - 1);
    }
}

// The windows opened from here have no owner, so nothing hands the keyboard back when they close:
// without a window manager it would go nowhere. Held for the run of such a window.
class TakeFocusBack
{
public:
    explicit TakeFocusBack(QWidget* window) : m_window(window) {}
    ~TakeFocusBack()
    {
        if (m_window->isVisible())
            m_window->activateWindow();
    }
    TakeFocusBack(const TakeFocusBack&) = delete;
    TakeFocusBack& operator=(const TakeFocusBack&) = delete;

private:
    QWidget* m_window;
};

QList<TvsTreeItem*> AllNodes(QTreeWidget* tree)
{
    QList<TvsTreeItem*> nodes;
    for (QTreeWidgetItemIterator it(tree); *it != nullptr; ++it)
        if (auto* node = dynamic_cast<TvsTreeItem*>(*it))
            nodes.append(node);
    return nodes;
}

} // namespace

TfmMain::TfmMain(AppContext& context, QWidget* parent)
    : QMainWindow(parent), ui(std::make_unique<Ui::TfmMain>()), m_context(context)
{
    ui->setupUi(this);
    ui->Splitter->setStretchFactor(0, 0);
    ui->Splitter->setStretchFactor(1, 1);
    ui->Splitter->setSizes({185, 359});
    ui->Splitter2->setStretchFactor(0, 1);
    ui->Splitter2->setStretchFactor(1, 0);
    ui->Splitter2->setSizes({150, 145});
    ui->tvSource->setExpandsOnDoubleClick(true);
    ui->tvChecked->setExpandsOnDoubleClick(true);
    // Long values scroll sideways instead of being cut short, as in a classic tree control.
    for (QTreeWidget* tree : {static_cast<QTreeWidget*>(ui->tvSource), static_cast<QTreeWidget*>(ui->tvChecked)}) {
        tree->header()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
        tree->header()->setStretchLastSection(false);
    }

    Dialogs& dialogs = m_context.dialogs;
    connect(ui->bbExit, &QPushButton::clicked, this, Guarded(this, dialogs, &TfmMain::bbExitClick));
    connect(ui->bbTest, &QPushButton::clicked, this, Guarded(this, dialogs, &TfmMain::bbTestClick));
    connect(ui->miTestRun, &QAction::triggered, this, Guarded(this, dialogs, &TfmMain::miTestRunClick));
    connect(ui->miExport, &QAction::triggered, this, Guarded(this, dialogs, &TfmMain::miExportClick));
    connect(ui->miImport, &QAction::triggered, this, Guarded(this, dialogs, &TfmMain::miImportClick));
    connect(ui->miExit, &QAction::triggered, this, Guarded(this, dialogs, &TfmMain::bbExitClick));
    connect(ui->miSettings, &QAction::triggered, this, Guarded(this, dialogs, &TfmMain::miSettingsClick));
    connect(ui->miTestResults, &QAction::triggered, this, Guarded(this, dialogs, &TfmMain::miTestResultsClick));
    connect(ui->miSummary, &QAction::triggered, this, Guarded(this, dialogs, &TfmMain::miSummaryClick));
    connect(ui->miAbout, &QAction::triggered, this, Guarded(this, dialogs, &TfmMain::miAboutClick));
    // The menu item and F1 are one action, so both always do the same.
    connect(ui->acHelp, &QAction::triggered, this, Guarded(this, dialogs, &TfmMain::acHelpExecute));
    connect(ui->tvSource, &QTreeWidget::itemDoubleClicked, this, Guarded(this, dialogs, &TfmMain::tvSourceDblClick));
    connect(ui->tvChecked, &QTreeWidget::itemDoubleClicked, this, Guarded(this, dialogs, &TfmMain::tvCheckedDblClick));
    // The count follows every addition, removal and change of selection in tvChecked.
    connect(ui->tvChecked->model(), &QAbstractItemModel::rowsInserted, this,
            Guarded(this, dialogs, &TfmMain::UpdateCheckedCount));
    connect(ui->tvChecked->model(), &QAbstractItemModel::rowsRemoved, this,
            Guarded(this, dialogs, &TfmMain::UpdateCheckedCount));
    connect(ui->tvChecked, &QTreeWidget::currentItemChanged, this,
            Guarded(this, dialogs, &TfmMain::UpdateCheckedCount));
    // Item views take no name from a buddy label, so the labels above them are given as names.
    ui->tvSource->setAccessibleName(ui->laValues->text());
    ui->tvChecked->setAccessibleName(ui->laCheckedValues->text());
    ui->meLines->setAccessibleName(QStringLiteral("Инструкция"));
    UpdateCheckedCount();
    // The keyboard starts in the catalogue, where choosing begins.
    ui->tvSource->setFocus();
    // F10 opens the first menu, as Alt does, for those used to it from other desktops.
    auto* openMenu = new QAction(this);
    openMenu->setObjectName(QStringLiteral("acOpenMenu"));
    openMenu->setShortcut(QKeySequence(Qt::Key_F10));
    openMenu->setShortcutContext(Qt::WindowShortcut);
    connect(openMenu, &QAction::triggered, this, [this] {
        if (!ui->mmMain->actions().isEmpty())
            ui->mmMain->setActiveAction(ui->mmMain->actions().constFirst());
    });
    addAction(openMenu);
    ui->pnBottom->installEventFilter(this);
    ui->tvSource->installEventFilter(this);
    ui->tvChecked->installEventFilter(this);

    FormCreate();
}

TfmMain::~TfmMain() = default;

void TfmMain::FormCreate()
{
    // Qt paints every widget double-buffered, so nothing is needed against flicker.
    // The geometry is restored in a step of its own: a settings file left without values by a run
    // that never closed its window must cost the user the stored geometry only, not the catalogue.
    RunHandler(this, m_context.dialogs, [this] {
        if (SettingsKeyExists())
            LoadGeometry();
    });
    RunHandler(this, m_context.dialogs, [this] { LoadCatalogueAndHooks(); });
    // A user folder that could not be made is said once, here; the shipped catalogue is shown all
    // the same, and every save repeats the message instead of writing somewhere else.
    if (!m_context.places.storageError.isEmpty())
        RunHandler(this, m_context.dialogs, [this] { throw Error(m_context.places.storageError); });
}

void TfmMain::LoadCatalogueAndHooks()
{
    LoadConfig(QStringLiteral("config.ini"));
    ui->tvChecked->SetAfterPaint([this](QWidget& tree, QPainter& painter) { PaintCheckedFrame(tree, painter); });
    ui->pnCheckedTree->SetAfterPaint([this](QWidget& panel, QPainter& painter) { PaintCheckedCount(panel, painter); });
}

QString TfmMain::CheckedCountText() const
{
    return QStringLiteral("Количество выбранных ценностей: %1").arg(m_checkedCount);
}

void TfmMain::LoadConfig(const QString& fileName)
{
    const QString dir = m_context.catalogueDir();
    const QString linesName = ReadCatalogue(dir, fileName, m_valueTypes);
    QString lines = ReadTextFile(dir + linesName);
    lines.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    lines.replace(u'\r', u'\n');
    ui->meLines->setPlainText(lines);
    FillSourceTree();
}

void TfmMain::FillSourceTree()
{
    QTreeWidget* tree = ui->tvSource;
    tree->setUpdatesEnabled(false);
    try {
        tree->clear();
        for (int g = 0; g < m_valueTypes.Count(); ++g) {
            const TvsValueTypeRec& group = m_valueTypes.Items(g);
            auto* heading = new TvsTreeItem(group.Name, NewNodeTag(kGroupNode, group.Number, false));
            tree->addTopLevelItem(heading);
            QList<QTreeWidgetItem*> values;
            if (group.Values)
                for (int v = 0; v < group.Values->Count(); ++v)
                    values.append(
                        new TvsTreeItem(group.Values->Items(v).Name, NewNodeTag(kValueNode, group.Number, false)));
            std::stable_sort(values.begin(), values.end(), [](const QTreeWidgetItem* a, const QTreeWidgetItem* b) {
                return CompareNodeText(a, b) < 0;
            });
            heading->addChildren(values);
            heading->addChild(new TvsTreeItem(kAddItemText, NewNodeTag(kAddNode, group.Number, false)));
        }
        if (tree->topLevelItemCount() > 0)
            tree->topLevelItem(0)->setExpanded(true);
    } catch (...) {
        tree->setUpdatesEnabled(true);
        throw;
    }
    tree->setUpdatesEnabled(true);
}

int TfmMain::CompareNodeText(const QTreeWidgetItem* node1, const QTreeWidgetItem* node2)
{
    static const QCollator collator = [] {
        QCollator c(QLocale::system());
        c.setCaseSensitivity(Qt::CaseInsensitive);
        return c;
    }();
    const int result = collator.compare(node1->text(0), node2->text(0));
    return result < 0 ? -1 : (result > 0 ? 1 : 0);
}

void TfmMain::ApplyChosenColour(QTreeWidgetItem* node)
{
    const TvsNodeTag* tag = NodeTag(node);
    if (tag != nullptr && tag->Kind == kValueNode && tag->Checked)
        node->setForeground(0, palette().color(QPalette::Disabled, QPalette::Text));
    else
        node->setData(0, Qt::ForegroundRole, QVariant());
}

void TfmMain::CheckValue(QTreeWidgetItem* node)
{
    TvsNodeTag* tag = NodeTag(node);
    if (tag == nullptr)
        return;
    switch (tag->Kind) {
    case kValueNode: {
        if (tag->Checked)
            return;
        QTreeWidgetItem* heading = FindCheckedGroup(tag->TypeNumber);
        heading->addChild(new TvsTreeItem(node->text(0), NewNodeTag(kValueNode, tag->TypeNumber, true)));
        heading->setExpanded(true);
        tag->Checked = true;
        ApplyChosenColour(node);
        return;
    }
    case kAddNode:
        AddValueNode(node);
        return;
    default:
        return;
    }
}

QTreeWidgetItem* TfmMain::FindCheckedGroup(qint32 typeNumber)
{
    for (TvsTreeItem* node : AllNodes(ui->tvChecked))
        if (node->Tag.Kind == kGroupNode && node->Tag.TypeNumber == typeNumber)
            return node;
    auto* heading = new TvsTreeItem(m_valueTypes.Items(typeNumber - 1).Name, NewNodeTag(kGroupNode, typeNumber, false));
    ui->tvChecked->addTopLevelItem(heading);
    return heading;
}

void TfmMain::UncheckValue(QTreeWidgetItem* node)
{
    const TvsNodeTag* tag = NodeTag(node);
    if (tag == nullptr || tag->Kind != kValueNode)
        return;
    QTreeWidgetItem* heading = node->parent();
    const QString text = node->text(0);
    const qint32 typeNumber = tag->TypeNumber;
    for (TvsTreeItem* source : AllNodes(ui->tvSource)) {
        if (source->text(0) == text && source->Tag.TypeNumber == typeNumber) {
            source->Tag.Checked = false;
            ApplyChosenColour(source);
            delete node;
            break;
        }
    }
    if (heading != nullptr && heading->childCount() == 0)
        delete heading;
}

void TfmMain::UpdateCheckedCount()
{
    int count = 0;
    for (TvsTreeItem* node : AllNodes(ui->tvChecked))
        if (node->Tag.Kind == kValueNode)
            ++count;
    m_checkedCount = count;
    ui->pnCheckedTree->update();
    // The count is painted, so a screen reader hears it only as the description of the tree it
    // counts; setting the description tells assistive technology of the change. A change of
    // selection alone leaves the count, and says nothing.
    const QString text = CheckedCountText();
    if (ui->tvChecked->accessibleDescription() != text)
        ui->tvChecked->setAccessibleDescription(text);
}

void TfmMain::AddValueNode(QTreeWidgetItem* node)
{
    const TakeFocusBack focusBack(this);
    const qint32 number = NodeTag(node)->TypeNumber;
    TfmAddValueDialog dialog;
    if (dialog.Execute(m_valueTypes.Items(number - 1).Name))
        AppendValue(number, dialog.Value(), node);
}

void TfmMain::AppendValue(qint32 number, const QString& text, QTreeWidgetItem* node)
{
    TvsValueTypeRec& group = m_valueTypes.Items(number - 1);
    group.Values->Add(text, number, group.Name);

    QTreeWidget* tree = ui->tvSource;
    QTreeWidgetItem* heading = node->parent();
    tree->setUpdatesEnabled(false);
    delete node;
    auto* added = new TvsTreeItem(text, NewNodeTag(kValueNode, number, false));
    heading->addChild(added);
    tree->setCurrentItem(added);
    heading->addChild(new TvsTreeItem(kAddItemText, NewNodeTag(kAddNode, number, false)));
    tree->setUpdatesEnabled(true);

    // The shipped catalogue of an installed program is never written to: the value lives until the
    // next load, as with any item file that cannot be written.
    if (!m_context.places.catalogueReadOnly)
        AppendValueToItemFile(group.ItemsFile, text);
}

void TfmMain::tvSourceDblClick()
{
    if (QTreeWidgetItem* node = ui->tvSource->currentItem())
        CheckValue(node);
}

void TfmMain::tvCheckedDblClick()
{
    if (QTreeWidgetItem* node = ui->tvChecked->currentItem())
        UncheckValue(node);
}

void TfmMain::bbExitClick()
{
    close();
}

void TfmMain::miTestRunClick()
{
    ui->bbTest->click();
}

void TfmMain::bbTestClick()
{
    const TakeFocusBack focusBack(this);
    if (!CheckSelection())
        return;
    TvsAnswerLog answers;
    if (!RunComparison(answers))
        return;
    // Once the comparison is complete the next respondent must get a fresh window whatever happens
    // to the results, so a failure is held until the reset has run.
    std::exception_ptr failure;
    try {
        TvsValueTypeList resultList;
        BuildResults(resultList);
        TfmResults window(m_context);
        window.Execute(resultList, &answers);
    } catch (...) {
        failure = std::current_exception();
    }
    ResetAfterTest();
    if (failure)
        std::rethrow_exception(failure);
}

bool TfmMain::CheckSelection()
{
    int n = 0;
    for (TvsTreeItem* node : AllNodes(ui->tvChecked))
        if (node->Tag.Kind == kValueNode)
            ++n;
    if (n < 3) {
        m_context.dialogs.Message(this, Dialogs::Kind::Error,
                                  QStringLiteral("Количество выбранных ценностей должно быть больше двух."),
                                  QMessageBox::Ok);
        return false;
    }
    if (n >= 16) {
        const QString text = QStringLiteral("Количество выбранных ценносте больше 15. Вам придется сделать ") +
                             QString::number(PairCount(n)) + QStringLiteral(" сравнений. Продолжить?");
        return m_context.dialogs.Message(this, Dialogs::Kind::Confirmation, text, QMessageBox::Yes | QMessageBox::No) ==
               QMessageBox::Yes;
    }
    return true;
}

bool TfmMain::RunComparison(TvsAnswerLog& answers)
{
    ResetGroupScores(m_valueTypes);
    m_checkedValues.Clear();
    CollectCheckedValues();
    TvsPairLists pairLists; // frees whatever pair lists a cancelled or failed run leaves behind
    BuildPairLists(pairLists);
    TfmValuesCompare dialog(m_context.dialogs, this);
    const bool completed = dialog.Execute(pairLists, m_valueTypes, m_checkedValues);
    answers = dialog.AnswerLog();
    return completed;
}

void TfmMain::CollectCheckedValues()
{
    QList<TvsCheckedNode> nodes;
    for (TvsTreeItem* node : AllNodes(ui->tvChecked))
        if (node->Tag.Kind == kValueNode)
            nodes.append({node->text(0), node->Tag.TypeNumber});
    kv::CollectCheckedValues(nodes, m_valueTypes, m_checkedValues);
}

void TfmMain::BuildPairLists(TvsPairLists& pairLists)
{
    kv::BuildPairLists(m_checkedValues, pairLists);
}

void TfmMain::BuildResults(TvsValueTypeList& resultList)
{
    kv::BuildResults(m_valueTypes, m_checkedValues, resultList);
}

void TfmMain::ResetAfterTest()
{
    ui->tvChecked->clear();
    LoadConfig(QStringLiteral("config.ini"));
    UpdateCheckedCount();
}

void TfmMain::pnBottomResize()
{
    QWidget* panel = ui->pnBottom;
    ui->bbExit->move(panel->contentsRect().width() - ui->bbExit->width() - 16, ui->bbExit->y());
    ui->bbTest->move(ui->bbExit->x() - ui->bbTest->width() - 8, ui->bbTest->y());
}

bool TfmMain::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == ui->pnBottom && event->type() == QEvent::Resize)
        RunHandler(this, m_context.dialogs, [this] { pnBottomResize(); });
    // Enter on a node does what a double-click does, so values can be chosen without a mouse.
    if (event->type() == QEvent::KeyPress && (watched == ui->tvSource || watched == ui->tvChecked)) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            if (watched == ui->tvSource)
                RunHandler(this, m_context.dialogs, [this] { tvSourceDblClick(); });
            else
                RunHandler(this, m_context.dialogs, [this] { tvCheckedDblClick(); });
            return true;
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

void TfmMain::PaintCheckedFrame(QWidget& tree, QPainter& painter)
{
    const int w = tree.width();
    const int h = tree.height();
    // The bottom of the sunken border takes the tree's background, so the tree opens into the
    // counter strip below it; the side borders are drawn again over the whole height.
    painter.fillRect(QRect(2, h - 2, w - 4, 2), tree.palette().color(QPalette::Base));
    DrawSunkenEdge(painter, QRect(0, 0, w, h), kLeft, tree.palette());
    DrawSunkenEdge(painter, QRect(0, 0, w, h), kRight, tree.palette());
}

void TfmMain::PaintCheckedCount(QWidget& panel, QPainter& painter)
{
    const QRect r = ui->blCount->geometry();
    DrawSunkenEdge(painter, r, kLeft, panel.palette());
    DrawSunkenEdge(painter, r, kRight | kBottom, panel.palette());
    const QString text = CheckedCountText();
    painter.setPen(Qt::black);
    painter.setBackgroundMode(Qt::TransparentMode);
    const QFontMetrics metrics(painter.font());
    const int y = r.top() + (r.height() - metrics.height()) / 2;
    painter.drawText(QRect(r.left() + 8, y, r.width() - 8, metrics.height()), Qt::AlignLeft | Qt::AlignTop, text);
}

bool TfmMain::SettingsKeyExists() const
{
    return SettingsStore(m_context.settingsFile).KeyExists();
}

void TfmMain::CreateSettingsKey() const
{
    SettingsStore(m_context.settingsFile).CreateKey();
}

bool TfmMain::DeleteSettingsKey() const
{
    return SettingsStore(m_context.settingsFile).DeleteKey();
}

void TfmMain::LoadGeometry()
{
    const SettingsStore store(m_context.settingsFile);
    if (!store.KeyExists())
        return;
    // Whatever was applied before a bad value stays; the window must still end up on a screen.
    struct PlaceOnExit
    {
        TfmMain* window;
        ~PlaceOnExit() { window->PlaceOnScreen(); }
    } placeOnExit{this};

    const QStringList names = GeometryValueNames();
    // Until the window is shown it has no frame, so the outer size is the client size then.
    const QSize frameExtra = frameGeometry().size() - size();
    move(store.ReadInteger(names[0]), y());
    move(x(), store.ReadInteger(names[1]));
    resize(store.ReadInteger(names[2]) - frameExtra.width(), height());
    resize(width(), store.ReadInteger(names[3]) - frameExtra.height());
    m_restoredOuterSize = size() + frameExtra;

    const int treeWidth = std::max(store.ReadInteger(names[4]), ui->pnTree->minimumWidth());
    QList<int> sizes = ui->Splitter->sizes();
    const int across = sizes.value(0) + sizes.value(1);
    ui->Splitter->setSizes({treeWidth, std::max(across - treeWidth, 0)});

    const int stringsHeight = store.ReadInteger(names[5]);
    sizes = ui->Splitter2->sizes();
    const int down = sizes.value(0) + sizes.value(1);
    ui->Splitter2->setSizes({std::max(down - stringsHeight, 0), stringsHeight});
}

void TfmMain::SaveGeometry()
{
    const SettingsStore store(m_context.settingsFile);
    if (!store.KeyExists())
        return;
    const QRect outer = frameGeometry();
    const QList<qint32> values{outer.left(),   outer.top(),         outer.width(),
                               outer.height(), ui->pnTree->width(), ui->pnStrings->height()};
    const QStringList names = GeometryValueNames();
    for (int i = 0; i < names.size(); ++i)
        store.WriteInteger(names[i], values[i]);
}

void TfmMain::PlaceOnScreen()
{
    const QRect outer = frameGeometry();
    for (const QScreen* screen : QGuiApplication::screens())
        if (screen->availableGeometry().intersects(outer))
            return;
    // A stored position on a monitor that is gone: centre the window on the primary screen.
    const QScreen* primary = QGuiApplication::primaryScreen();
    if (primary == nullptr)
        return;
    const QRect area = primary->availableGeometry();
    move(area.left() + std::max((area.width() - outer.width()) / 2, 0),
         area.top() + std::max((area.height() - outer.height()) / 2, 0));
}

void TfmMain::showEvent(QShowEvent* event)
{
    QMainWindow::showEvent(event);
    // The stored width and height are outer ones, but before its first showing the window has no
    // frame; without this the window would grow by its frame at every start.
    if (!m_restoredOuterSize.isValid())
        return;
    const QSize outer = m_restoredOuterSize;
    m_restoredOuterSize = QSize();
    const QSize frameExtra = frameGeometry().size() - size();
    if (!frameExtra.isNull())
        resize(outer - frameExtra);
}

void TfmMain::closeEvent(QCloseEvent* event)
{
    // A geometry that cannot be stored is reported, and the window closes all the same: losing its
    // position is better than a program that cannot be quit.
    RunHandler(this, m_context.dialogs, [this] { FormClose(); });
    event->accept();
}

void TfmMain::FormClose()
{
    if (SettingsKeyExists())
        SaveGeometry();
}

void TfmMain::miTestResultsClick()
{
    const TakeFocusBack focusBack(this);
    // Each opening reads the database afresh; the window lives for its modal run only.
    TfmTestGrid grid(m_context, m_valueTypes);
    grid.exec();
}

void TfmMain::miExportClick()
{
    ExportTests(this, m_context, {});
}

void TfmMain::miImportClick()
{
    ImportTests(this, m_context);
}

void TfmMain::miSummaryClick()
{
    TfmSummary summary(m_context, m_valueTypes);
    summary.Execute();
}

void TfmMain::miSettingsClick()
{
    const TakeFocusBack focusBack(this);
    TfmSettings dialog(m_context.settingsFile);
    dialog.SetSaveForm(SettingsKeyExists());
    if (dialog.exec() != QDialog::Accepted)
        return;
    if (dialog.SaveForm()) {
        CreateSettingsKey();
    } else if (!DeleteSettingsKey()) {
        // While the file stays, the setting stays on; the user has to know to remove it by hand.
        m_context.dialogs.Message(this, Dialogs::Kind::Warning,
                                  QStringLiteral("Не удалось удалить файл настроек %1. Размер и позиция формы "
                                                 "по-прежнему будут сохраняться. Удалите этот файл вручную.")
                                      .arg(QDir::toNativeSeparators(m_context.settingsFile)),
                                  QMessageBox::Ok);
    }
}

void TfmMain::miAboutClick()
{
    // Parented only so that the box opens centred over this window; it lives for this call alone.
    TfmAbout dialog(m_context.dialogs, this);
    dialog.exec();
}

void TfmMain::acHelpExecute()
{
    auto* help = findChild<TfmHelp*>(QStringLiteral("fmHelp"), Qt::FindDirectChildrenOnly);
    if (help == nullptr)
        help = new TfmHelp(m_context.exeDir, this, m_context.installedDataDir);
    help->ShowContents();
    help->show();
    help->raise();
    help->activateWindow();
    // The keyboard lands in the text, so the arrows scroll it and Escape closes the window.
    help->Browser()->setFocus();
}

} // namespace kv
