#pragma once

#include <QDialog>

#include <memory>

namespace Ui {
class TfmSettings;
}

namespace kv {

// The settings dialog: one check box that says whether the main window keeps its geometry. The
// dialog itself stores nothing; its caller turns the answer into the settings file, which the hint
// names.
class TfmSettings final : public QDialog
{
    Q_OBJECT
    Q_PROPERTY(bool SaveForm READ SaveForm WRITE SetSaveForm)

public:
    explicit TfmSettings(const QString& settingsFile, QWidget* parent = nullptr);
    ~TfmSettings() override;

    bool SaveForm() const;
    void SetSaveForm(bool value);

private:
    std::unique_ptr<Ui::TfmSettings> ui;
};

} // namespace kv
