#pragma once

// Test support that needs no widget: core tests link this and kvendar_core only.

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

namespace kvtest {

// A folder that stands in for the executable's directory. Files are written byte for byte.
class ExeDir
{
public:
    ExeDir();
    QString path() const; // ends with "/"
    QString file(const QString& name) const { return path() + name; }
    void write(const QString& name, const QByteArray& bytes) const;
    QByteArray read(const QString& name) const;
    // Copies the shipped catalogue (config.ini, item and lines files) here.
    void copyShippedCatalogue() const;
    bool ok() const { return m_dir.isValid(); }

private:
    QTemporaryDir m_dir;
};

// Windows-1251 bytes of a UTF-8 literal, for building fixtures.
QByteArray Cp(const QString& text);

} // namespace kvtest
