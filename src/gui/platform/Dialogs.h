#pragma once

#include <QMessageBox>
#include <QString>

class QUrl;
class QWidget;

namespace kv {

// Every message box and file dialog of the program goes through this seam, and so does every link
// handed to the desktop, so that tests answer them without a real modal loop or a real browser.
// Windows receive it from whoever creates them.
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

    // An information box with the buttons «Копировать» and «Закрыть»; true when «Копировать» was
    // pressed.
    virtual bool OfferCopy(QWidget* parent, const QString& text) = 0;

    // Hands the address to the desktop's program for it; false when no program took it.
    virtual bool OpenUrl(const QUrl& url) = 0;
};

// Opens url with the desktop's program for it. When none takes it, says so with failure and offers
// to put copyText on the clipboard, so that the user can carry on by hand.
void OpenLink(Dialogs& dialogs, QWidget* parent, const QUrl& url, const QString& failure, const QString& copyText);

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
    bool OfferCopy(QWidget* parent, const QString& text) override;
    bool OpenUrl(const QUrl& url) override;
};

} // namespace kv
