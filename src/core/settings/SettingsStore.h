#pragma once

#include <QString>
#include <QStringList>

namespace kv {

// The file that stands for the program's settings key: one INI file under the user's configuration
// folder, in a path that mirrors Software/Orvanta/Kvendar (the configuration folder takes the place of
// "Software", the file the place of the key "Kvendar").
QString DefaultSettingsFile();

// The names of the main window's geometry values, in the order they are read and written.
QStringList GeometryValueNames();

// The settings key. The setting is on exactly while the file exists, so every call looks at the disk
// again: nothing is kept in memory between calls.
class SettingsStore final
{
public:
    explicit SettingsStore(QString fileName) : m_fileName(std::move(fileName)) {}

    const QString& fileName() const { return m_fileName; }

    // A file that is there but cannot be read counts as absent: the setting is then off, as a key
    // that cannot be opened is, instead of failing at every start.
    bool KeyExists() const;
    // Creates an empty file, with any missing folders; an existing file keeps its values. Reports nothing.
    void CreateKey() const;
    // Removes the file with its values; the folders above it stay. False when the file is still
    // there afterwards; an absent file is not a failure.
    bool DeleteKey() const;

    // A value that is missing, or a file that cannot be read, raises "Failed to get data for '<name>'";
    // a value that is not a 32-bit integer raises "Invalid data type for '<name>'".
    qint32 ReadInteger(const QString& name) const;
    // The same for a value that may well be missing: false, and value untouched, when it cannot be read.
    bool FindInteger(const QString& name, qint32& value) const;
    // Creates or replaces one value. The file is replaced as a whole, so a failed write leaves it as it
    // was; the failure raises "Failed to set data for '<name>'".
    void WriteInteger(const QString& name, qint32 value) const;

private:
    QString m_fileName;
};

} // namespace kv
