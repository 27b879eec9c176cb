#pragma once

#include <QDialog>

#include <memory>

namespace Ui {
class TfmAddValueDialog;
}

namespace kv {

// Asks the respondent for the text of a value of their own.
class TfmAddValueDialog final : public QDialog
{
    Q_OBJECT

public:
    explicit TfmAddValueDialog(QWidget* parent = nullptr);
    ~TfmAddValueDialog() override;

    // Shows the dialog modally for the named group; true when the respondent pressed OK.
    bool Execute(const QString& typeName);

    // The text as typed: not trimmed, possibly empty.
    QString Value() const;

protected:
    void showEvent(QShowEvent* event) override;

private:
    void FormShow();

    std::unique_ptr<Ui::TfmAddValueDialog> ui;
};

} // namespace kv
