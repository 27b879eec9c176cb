#pragma once

#include <QMessageBox>
#include <QString>

class QWidget;

namespace kv {

// Every message box and file dialog of the program goes through this seam, so that tests answer
// them without a real modal loop. Windows receive it from whoever creates them.
class Dialogs
{
public:
    enum class Kind
    {
        Error,
        Warning,
        Confirmation,
        Information
    };

    virtual ~Dialogs() = default;

    // A standard message box of the given kind; returns the button pressed.
    virtual QMessageBox::StandardButton Message(QWidget* parent, Kind kind, const QString& text,
                                                QMessageBox::StandardButtons buttons) = 0;

    // The standard error box for an error raised in a handler (see ErrorBox.h for its text rule).
    virtual void ShowError(QWidget* parent, const QString& message) = 0;

    // A save-file dialog that asks before overwriting; an empty result means cancelled. With several
    // filters, a name typed without an extension gets the one of the filter chosen.
    virtual QString SaveFileName(QWidget* parent, const QString& caption, const QString& filter,
                                 const QString& defaultSuffix) = 0;

    // A dialog that picks an existing folder; an empty result means cancelled.
    virtual QString ExistingDirectory(QWidget* parent, const QString& caption) = 0;
};

// The real dialogs, shown modally with Qt's standard boxes.
class QtDialogs final : public Dialogs
{
public:
    QMessageBox::StandardButton Message(QWidget* parent, Kind kind, const QString& text,
                                        QMessageBox::StandardButtons buttons) override;
    void ShowError(QWidget* parent, const QString& message) override;
    QString SaveFileName(QWidget* parent, const QString& caption, const QString& filter,
                         const QString& defaultSuffix) override;
    QString ExistingDirectory(QWidget* parent, const QString& caption) override;
};

} // namespace kv
