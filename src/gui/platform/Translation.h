#pragma once

class QCoreApplication;

namespace kv {

// Loads Qt's own Russian translation, so standard buttons read "Да", "Нет", "Отмена".
// Returns false when the translation is not installed.
bool InstallRussianTranslation(QCoreApplication& app);

} // namespace kv
