#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

namespace kv {

// Every file the program reads or writes holds single-byte Windows-1251 text. These two functions
// are the only places where that text meets QString; both go through Qt's own codec.
QString FromCp1251(QByteArrayView bytes);

// Characters that Windows-1251 cannot hold become '?', as the platform's own conversion does.
QByteArray ToCp1251(const QString& text);

} // namespace kv
