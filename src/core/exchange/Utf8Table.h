#pragma once

#include <QtGlobal>

#include <array>

namespace kv {

// Windows-1251 to UTF-8 a byte at a time, the table made once through the program's codec: the
// writers convert the names of a million records without a QString each.
class Utf8Table final
{
public:
    struct Code
    {
        char bytes[3]; // the character's UTF-8, length bytes of it used
        quint8 length;
    };

    // The one table of the process.
    static const Utf8Table& Get();

    const Code& operator[](unsigned char byte) const { return m_codes[byte]; }

private:
    Utf8Table();
    std::array<Code, 256> m_codes;
};

} // namespace kv
