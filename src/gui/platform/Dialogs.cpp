#include "gui/platform/Dialogs.h"

#include "gui/platform/ErrorBox.h"

#include <QFileDialog>
#include <QRegularExpression>

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

} // namespace kv
