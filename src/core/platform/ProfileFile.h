#pragma once

#include <QString>

namespace kv {

// A read-only INI ("profile") file with the matching rules the catalogue relies on: section and key
// names are compared without regard to letter case, a value is the text after the first "=" with
// surrounding blanks removed, and at most its first 2047 characters are returned. The file is read
// at every ReadString, like the platform's profile API; constructing the object touches nothing.
class ProfileFile final
{
public:
    static constexpr int kMaxValueLength = 2047;

    explicit ProfileFile(QString fileName) : m_fileName(std::move(fileName)) {}

    const QString& fileName() const { return m_fileName; }

    // The value of Key in Section, or defaultValue when the file, the section or the key is missing.
    QString ReadString(const QString& section, const QString& key, const QString& defaultValue) const;

private:
    QString m_fileName;
};

} // namespace kv
