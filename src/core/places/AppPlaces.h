#pragma once

#include <QString>
#include <QStringList>

namespace kv {

// Where a run keeps its catalogue and its database.
//
// A program started from a folder that holds config.ini (the build folder, an unpacked copy, a USB
// stick) is portable and keeps everything beside itself. An installed program cannot write to its
// own folder, so it works in the user's data folder instead and fills that folder from the shipped
// catalogue at its first start.
struct AppPlaces
{
    enum class Mode
    {
        Portable,
        Installed
    };

    Mode mode = Mode::Portable;
    // The folder config.ini and the files it names are read from and extended in, ending in "/".
    // Empty means the executable's folder.
    QString catalogueDir;
    // The folder that holds "Data", ending in "/". Empty means the executable's folder.
    QString dataHome;
    // The catalogue is the shipped one and must never be written to.
    bool catalogueReadOnly = false;
    // Set when the user's folder cannot be used: a message naming it, shown once at start-up and
    // raised by every save instead of writing anywhere else.
    QString storageError;
};

// The shipped catalogue and help of a program installed with its executable in exeDir (the
// install prefix's share/kvendar), ending in "/".
QString InstalledDataDir(const QString& exeDir);

// The folder the interpretation module is installed into, ending in "/".
QString InstalledModuleDir(const QString& exeDir);

// The user's own folder for an installed program: $XDG_DATA_HOME/kvendar/, ending in "/".
QString UserDataDir();

// The files of a catalogue: config.ini, then the lines file and the item files it names, read by the
// rules of catalogue loading (the first missing key ends the list). Empty when config.ini names no
// lines file, or when a named file does not exist or lies outside the folder.
QStringList CatalogueFiles(const QString& catalogueDir);

// Decides between portable and installed and, for an installed first start, copies the shipped
// catalogue into userDir. The copy is made in a temporary folder that is renamed into place, so
// another instance starting at the same moment sees either no catalogue or a whole one, and a file
// the user already has is never replaced. A shipped catalogue that is incomplete is not copied at
// all; the run then reads the shipped one, read-only, and meets the usual catalogue error there.
AppPlaces DecideAppPlaces(const QString& exeDir, const QString& shippedDir, const QString& userDir);

// The database folder a run with this executable folder uses, without copying anything: for tools
// that only read or append records.
QString DataDirForRun(const QString& exeDir, const QString& userDir);

} // namespace kv
