#include "gui/catalogue/uvsAddValueDialog.h"

#include "ui_uvsAddValueDialog.h"

#include <QGuiApplication>
#include <QScreen>

namespace kv {

TfmAddValueDialog::TfmAddValueDialog(QWidget* parent) : QDialog(parent), ui(std::make_unique<Ui::TfmAddValueDialog>())
{
    ui->setupUi(this);
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    setFixedSize(size());
    // Enter presses OK (the default button); Esc and the window frame reject, which is Cancel.
    connect(ui->btOk, &QPushButton::clicked, this, &QDialog::accept);
    connect(ui->btCancel, &QPushButton::clicked, this, &QDialog::reject);
}

TfmAddValueDialog::~TfmAddValueDialog() = default;

bool TfmAddValueDialog::Execute(const QString& typeName)
{
    ui->laType->setText(QStringLiteral("Группа: ") + typeName);
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
    return exec() == QDialog::Accepted;
}

QString TfmAddValueDialog::Value() const
{
    return ui->edValue->text();
}

void TfmAddValueDialog::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    FormShow();
}

void TfmAddValueDialog::FormShow()
{
    ui->edValue->clear();
    ui->edValue->setFocus();
}

} // namespace kv
