#include "gui/platform/ErrorBox.h"

#include "core/platform/Errors.h"

#include <QWidget>

#include <new>

namespace kv {

QString ApplicationTitle()
{
    return QStringLiteral("Квендар v1.0");
}

QString ErrorBoxText(const QString& message)
{
    if (!message.isEmpty() && message.back() > u'.')
        return message + u'.';
    return message;
}

bool RunHandler(QWidget* window, Dialogs& dialogs, const std::function<void()>& handler)
{
    QString message;
    try {
        handler();
        return true;
    } catch (const Error& e) {
        message = e.message();
    } catch (const std::bad_alloc&) {
        message = QStringLiteral("Недостаточно памяти");
    } catch (const std::exception& e) {
        message = QString::fromLocal8Bit(e.what());
    } catch (...) {
        message = QStringLiteral("Неизвестная ошибка");
    }
    dialogs.ShowError(window, message);
    return false;
}

} // namespace kv
