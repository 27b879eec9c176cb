#pragma once

#include <QString>

namespace kv {

// A shared library loaded for the length of one operation. The directory given first is searched
// before the system's own library search, the way the program's home folder comes first for its
// plug-in; the library is released when the object goes.
class Library final
{
public:
    Library() = default;
    Library(const Library&) = delete;
    Library& operator=(const Library&) = delete;
    ~Library() { Close(); }

    // Tries firstDir + fileName, then fileName alone through the system's search, then lastDir +
    // fileName (an installed program's private folder). Returns false (and holds nothing) when none
    // loads.
    bool Open(const QString& firstDir, const QString& fileName, const QString& lastDir = QString());
    void Close();

    bool IsOpen() const { return m_handle != nullptr; }
    // The address of an exported symbol, or nullptr when the library does not export it.
    void* Symbol(const char* name) const;
    // What the loader said about the last failed Open (for diagnostics only).
    const QString& LastError() const { return m_lastError; }

private:
    bool TryOpen(const QString& path);

    void* m_handle = nullptr;
    QString m_lastError;
};

} // namespace kv
