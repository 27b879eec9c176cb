#include "core/exchange/Utf8Table.h"

#include "core/platform/Codec.h"

#include <QByteArray>
#include <QString>

#include <cstring>

namespace kv {

Utf8Table::Utf8Table()
{
    for (int b = 0; b < 256; ++b) {
        const char byte = char(b);
        // A zero byte inside stored text is damage; C strings downstream would end there.
        const QString text = b == 0 ? QString(QChar::ReplacementCharacter) : FromCp1251(QByteArrayView(&byte, 1));
        // Every Windows-1251 character is at most three bytes of UTF-8.
        const QByteArray utf8 = text.toUtf8().left(3);
        Code& code = m_codes[size_t(b)];
        std::memset(code.bytes, 0, sizeof code.bytes);
        std::memcpy(code.bytes, utf8.constData(), size_t(utf8.size()));
        code.length = quint8(utf8.size());
    }
}

const Utf8Table& Utf8Table::Get()
{
    static const Utf8Table table;
    return table;
}

} // namespace kv
