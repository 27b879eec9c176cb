#pragma once

#include "gui/platform/AppContext.h"
#include "gui/platform/Dialogs.h"
#include "support/CoreSupport.h"

#include <QByteArray>
#include <QList>
#include <QMessageBox>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <functional>
#include <memory>

namespace kvtest {

// Dialogs that record what the program asked and answer from a script, so no test waits on a
// real modal loop. An unscripted question is answered with the first button offered after No /
// Cancel preference is not guessed: the test must script every answer it relies on.
class FakeDialogs final : public kv::Dialogs
{
public:
    struct Shown
    {
        Kind kind;
        QString text;
        QMessageBox::StandardButtons buttons;
    };

    QMessageBox::StandardButton Message(QWidget* parent, Kind kind, const QString& text,
                                        QMessageBox::StandardButtons buttons) override;
    void ShowError(QWidget* parent, const QString& message) override;
    QString SaveFileName(QWidget* parent, const QString& caption, const QString& filter,
                         const QString& defaultSuffix) override;
    QString ExistingDirectory(QWidget* parent, const QString& caption) override;
    bool OfferCopy(QWidget* parent, const QString& text) override;
    // Records the address; passes it on to QDesktopServices (where a test's URL handler catches it)
    // while desktopOpensUrls holds, and otherwise answers that no program took it.
    bool OpenUrl(const QUrl& url) override;

    // Answers for the next message boxes, in order; when none is left, the box answers No (or
    // Cancel, or OK), whichever it offers first in that order.
    QList<QMessageBox::StandardButton> answers;
    // Answers for the next save dialogs ("" = cancelled).
    QStringList saveNames;
    // Answers for the next folder dialogs ("" = cancelled).
    QStringList directoryNames;
    // Answers for the next offers to copy (true = «Копировать»); when none is left, «Закрыть».
    QList<bool> copyAnswers;
    bool desktopOpensUrls = true;

    QList<Shown> messages;
    QStringList errors;
    QStringList saveFilters;
    QStringList directoryCaptions;
    QStringList copyOffers;
    QList<QUrl> openedUrls;
};

// Arms a timer that waits for a modal widget (up to timeoutMs), then hands it to answer. Returns
// a flag the test can check to see whether the modal widget was met.
std::shared_ptr<bool> AnswerModal(std::function<void(QWidget*)> answer, int timeoutMs = 5000);

// Presses the button with this text on a modal box or dialog; true when it was found.
bool ClickButton(QWidget* modal, const QString& text);

} // namespace kvtest
