#include "gui/settings/uvsAbout.h"

#include "core/platform/Errors.h"
#include "gui/platform/ErrorBox.h"
#include "gui/platform/Jpeg.h"

#include "ui_uvsAbout.h"

#include <QFile>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPixmap>
#include <QUrl>

// The resources live in a static library, so nothing would pull them into the executable unless
// their initialiser is called; Q_INIT_RESOURCE must be used outside any namespace.
static void InitSettingsResources()
{
    Q_INIT_RESOURCE(settings);
}

namespace kv {

QImage AboutLogo()
{
    InitSettingsResources();
    QFile file(QStringLiteral(":/settings/kvendar_logo.jpg"));
    if (!file.open(QIODevice::ReadOnly))
        throw Error(QStringLiteral("Не найден рисунок логотипа"));
    return DecodeJpeg(file.readAll());
}

TfmAbout::TfmAbout(Dialogs& dialogs, QWidget* parent)
    : QDialog(parent), ui(std::make_unique<Ui::TfmAbout>()), m_dialogs(dialogs)
{
    ui->setupUi(this);
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    layout()->setSizeConstraint(QLayout::SetFixedSize);
    connect(ui->btClose, &QPushButton::clicked, this, &QDialog::reject);
    // The link can be reached with Tab and followed with Enter or Space; underlined while it has the
    // focus, so the keyboard user sees where it is.
    ui->laRef->setFocusPolicy(Qt::TabFocus);
    ui->laRef->setStyleSheet(QStringLiteral("QLabel { color: blue; text-decoration: none; }"
                                            "QLabel:focus { text-decoration: underline; }"));
    setTabOrder(ui->laRef, ui->btClose);
    ui->laRef->installEventFilter(this);

    // A damaged logo must not keep the box from opening: the error is shown and the box opens without it.
    RunHandler(this, m_dialogs, [this] { ui->imLogo->setPixmap(QPixmap::fromImage(AboutLogo())); });
}

TfmAbout::~TfmAbout() = default;

bool TfmAbout::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == ui->laRef && event->type() == QEvent::MouseButtonRelease &&
        static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton &&
        ui->laRef->rect().contains(static_cast<QMouseEvent*>(event)->position().toPoint())) {
        RunHandler(this, m_dialogs, [this] { laRefClick(); });
        return true;
    }
    if (watched == ui->laRef && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Space) {
            RunHandler(this, m_dialogs, [this] { laRefClick(); });
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void TfmAbout::laRefClick()
{
    const QString address = ui->laRef->text();
    OpenLink(m_dialogs, this, QUrl(address),
             QStringLiteral("Не найдена программа, которая открыла бы адрес %1. Кнопка «Копировать» "
                            "поместит адрес в буфер обмена, откуда его можно вставить в окно браузера.")
                 .arg(address),
             address);
}

} // namespace kv
