#include "gui/settings/uvsSettings.h"

#include "ui_uvsSettings.h"

namespace kv {

TfmSettings::TfmSettings(QWidget* parent) : QDialog(parent), ui(std::make_unique<Ui::TfmSettings>())
{
    ui->setupUi(this);
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    connect(ui->btOk, &QPushButton::clicked, this, &QDialog::accept);
    connect(ui->btCancel, &QPushButton::clicked, this, &QDialog::reject);
    // Fixed size: the hint wraps to the dialog's width rather than the dialog growing with it.
    layout()->setSizeConstraint(QLayout::SetFixedSize);
}

TfmSettings::~TfmSettings() = default;

bool TfmSettings::SaveForm() const
{
    return ui->cbSaveForm->isChecked();
}

void TfmSettings::SetSaveForm(bool value)
{
    ui->cbSaveForm->setChecked(value);
}

} // namespace kv
