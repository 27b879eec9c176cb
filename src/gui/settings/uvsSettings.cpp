#include "gui/settings/uvsSettings.h"

#include "ui_uvsSettings.h"

#include <QDir>

namespace kv {

TfmSettings::TfmSettings(const QString& settingsFile, QWidget* parent)
    : QDialog(parent), ui(std::make_unique<Ui::TfmSettings>())
{
    ui->setupUi(this);
    // There is no registry here: the user is told the file, so it can be found and removed by hand.
    ui->laHint->setText(QStringLiteral("Для сохранения данных используется файл «%1». Для удаления этого файла "
                                       "отмените сохранение данных перед удалением программы.")
                            .arg(QDir::toNativeSeparators(settingsFile)));
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
