#include "support/TestSupport.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDesktopServices>
#include <QDialog>
#include <QElapsedTimer>
#include <QPointer>
#include <QTimer>
#include <QtTest/QTest>

namespace kvtest {

QMessageBox::StandardButton FakeDialogs::Message(QWidget*, Kind kind, const QString& text,
                                                 QMessageBox::StandardButtons buttons)
{
    messages.append({kind, text, buttons});
    if (!answers.isEmpty())
        return answers.takeFirst();
    for (QMessageBox::StandardButton b : {QMessageBox::No, QMessageBox::Cancel, QMessageBox::Ok})
        if (buttons.testFlag(b))
            return b;
    return QMessageBox::NoButton;
}

void FakeDialogs::ShowError(QWidget*, const QString& message)
{
    errors.append(message);
}

QString FakeDialogs::SaveFileName(QWidget*, const QString&, const QString& filter, const QString&)
{
    saveFilters.append(filter);
    return saveNames.isEmpty() ? QString() : saveNames.takeFirst();
}

QString FakeDialogs::ExistingDirectory(QWidget*, const QString& caption)
{
    directoryCaptions.append(caption);
    return directoryNames.isEmpty() ? QString() : directoryNames.takeFirst();
}

bool FakeDialogs::OfferCopy(QWidget*, const QString& text)
{
    copyOffers.append(text);
    return !copyAnswers.isEmpty() && copyAnswers.takeFirst();
}

bool FakeDialogs::OpenUrl(const QUrl& url)
{
    openedUrls.append(url);
    return desktopOpensUrls && QDesktopServices::openUrl(url);
}

std::shared_ptr<bool> AnswerModal(std::function<void(QWidget*)> answer, int timeoutMs)
{
    auto met = std::make_shared<bool>(false);
    QElapsedTimer clock;
    clock.start();
    // Parented to the application, so a timer that never fires its answer is still released.
    auto* timer = new QTimer(qApp);
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, timer, [=] {
        QWidget* modal = QApplication::activeModalWidget();
        const bool found = modal != nullptr && modal->isVisible();
        if (!found && clock.elapsed() < timeoutMs)
            return;
        timer->stop();
        timer->deleteLater();
        if (found) {
            *met = true;
            QPointer<QWidget> guard(modal);
            answer(modal);
            // An answer that failed part-way (a QVERIFY returns early) must not leave the test
            // waiting on a modal loop forever.
            QTimer::singleShot(3000, qApp, [guard] {
                if (auto* dialog = qobject_cast<QDialog*>(guard.data()); dialog != nullptr && dialog->isVisible())
                    dialog->reject();
            });
        }
    });
    timer->start();
    return met;
}

bool ClickButton(QWidget* modal, const QString& text)
{
    for (QAbstractButton* button : modal->findChildren<QAbstractButton*>()) {
        if (button->text().remove(u'&') == text) {
            button->click();
            return true;
        }
    }
    return false;
}

} // namespace kvtest
