#include "gui/platform/Dialogs.h"

#include "gui/platform/ErrorBox.h"

#include <QClipboard>
#include <QDesktopServices>
#include <QFileDialog>
#include <QGuiApplication>
#include <QPushButton>
#include <QRegularExpression>
#include <QUrl>

namespace kv {

namespace {

QString CaptionFor(Dialogs::Kind kind)
{
    switch (kind) {
    case Dialogs::Kind::Error:
        return QStringLiteral("Ошибка");
    case Dialogs::Kind::Warning:
        return QStringLiteral("Предупреждение");
    case Dialogs::Kind::Confirmation:
        return QStringLiteral("Подтверждение");
    case Dialogs::Kind::Information:
        break;
    }
    return QStringLiteral("Информация");
}

QMessageBox::Icon IconFor(Dialogs::Kind kind)
{
    switch (kind) {
    case Dialogs::Kind::Error:
        return QMessageBox::Critical;
    case Dialogs::Kind::Warning:
        return QMessageBox::Warning;
    case Dialogs::Kind::Confirmation:
        return QMessageBox::Question;
    case Dialogs::Kind::Information:
        break;
    }
    return QMessageBox::Information;
}

} // namespace

QMessageBox::StandardButton QtDialogs::Message(QWidget* parent, Kind kind, const QString& text,
                                               QMessageBox::StandardButtons buttons)
{
    QMessageBox box(IconFor(kind), CaptionFor(kind), text, buttons, parent);
    return static_cast<QMessageBox::StandardButton>(box.exec());
}

void QtDialogs::ShowError(QWidget* parent, const QString& message)
{
    QMessageBox box(QMessageBox::Critical, ApplicationTitle(), ErrorBoxText(message), QMessageBox::Ok, parent);
    box.setObjectName(QStringLiteral("kvErrorBox"));
    box.exec();
}

QString QtDialogs::SaveFileName(QWidget* parent, const QString& caption, const QString& filter,
                                const QString& defaultSuffix)
{
    QFileDialog dialog(parent, caption, QString(), filter);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setDefaultSuffix(defaultSuffix);
    dialog.setOption(QFileDialog::DontConfirmOverwrite, false);
    // "Таблицы CSV (*.csv)" chosen and "итоги" typed must give итоги.csv, not the first filter's.
    QObject::connect(&dialog, &QFileDialog::filterSelected, &dialog, [&dialog, defaultSuffix](const QString& chosen) {
        const QRegularExpressionMatch m = QRegularExpression(QStringLiteral("\\*\\.(\\w+)")).match(chosen);
        dialog.setDefaultSuffix(m.hasMatch() ? m.captured(1) : defaultSuffix);
    });
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return QString();
    return dialog.selectedFiles().constFirst();
}

QString QtDialogs::ExistingDirectory(QWidget* parent, const QString& caption)
{
    return QFileDialog::getExistingDirectory(parent, caption);
}

bool QtDialogs::OfferCopy(QWidget* parent, const QString& text)
{
    QMessageBox box(QMessageBox::Information, ApplicationTitle(), text, QMessageBox::NoButton, parent);
    // The address in the text can be selected too, for one who wants only that.
    box.setTextInteractionFlags(Qt::TextSelectableByMouse);
    QPushButton* copy = box.addButton(QStringLiteral("Копировать"), QMessageBox::AcceptRole);
    QPushButton* close = box.addButton(QStringLiteral("Закрыть"), QMessageBox::RejectRole);
    box.setDefaultButton(copy);
    box.setEscapeButton(close);
    box.exec();
    return box.clickedButton() == copy;
}

bool QtDialogs::OpenUrl(const QUrl& url)
{
    return QDesktopServices::openUrl(url);
}

void OpenLink(Dialogs& dialogs, QWidget* parent, const QUrl& url, const QString& failure, const QString& copyText)
{
    if (dialogs.OpenUrl(url))
        return;
    if (dialogs.OfferCopy(parent, failure))
        QGuiApplication::clipboard()->setText(copyText);
}

} // namespace kv
