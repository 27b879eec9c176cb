#pragma once

#include "database/uvsDataBase.h"

#include <QByteArray>
#include <QString>

#include <vector>

namespace kv {

// The rollback journal of the Data folder. A writer records, before its first append, how long each
// data file was and the torn-tail bytes its appends will cover; it empties the journal once the
// appends are on disk. A journal found later with something in it belongs to a writer that died
// half-way, and putting the files back to what it recorded undoes exactly that writer's appends.
//
// The file stays once made, all zeros between writes. A write overwrites it in place and a commit
// zeroes it again, so neither changes the file's size (once it has grown to its largest) and each
// costs one fdatasync: removing the journal would take a sync of the folder, and cutting it to
// nothing waits for the file system's own journal, on every save.

// The folder's file names, in the order every writer and recovery lock them: two processes that lock
// in the same order can never deadlock.
QString TestsFileName(const QString& dataDir);
QString ValuesFileName(const QString& dataDir);
QString AnswersFileName(const QString& dataDir);
QString JournalFileName(const QString& dataDir);

struct JournalEntry
{
    QString name;    // file name inside the Data folder
    qint64 wholeEnd; // the size the file is cut back to
    QByteArray tail; // the bytes that stood after wholeEnd, put back after the cut
};

// The journal's bytes; its own length is inside, so whatever follows them in the file (the zeros of
// a longer journal before it) is ignored.
QByteArray EncodeJournal(const std::vector<JournalEntry>& entries);
// False for anything short of a whole, intact journal (a crash while it was being written).
bool DecodeJournal(const QByteArray& bytes, std::vector<JournalEntry>& entries);
// False for an empty file or one whose first eight bytes are zero: no write is under way.
bool JournalHoldsWrite(const QByteArray& bytes);

enum class RecoveryOutcome
{
    Clean,      // no journal: nothing to do
    RolledBack, // a writer's unfinished appends were undone
    TornJournal // the journal itself was cut short, so nothing had been appended: it was zeroed
};

// Called by everything that reads or writes the Data folder before it starts. Without a journal, or
// with one that holds no write, it costs a stat and a read of eight bytes. With one, it takes the locks of all three
// files (waiting up to lockWaitMs for a writer that still holds them, and then finding the journal gone when that
// writer finishes), puts the files back, makes that durable and zeroes the journal. Raises kv::Error in Russian,
// changing nothing, when the folder is read-only, a file cannot be written or the locks stay taken.
RecoveryOutcome RecoverDataDir(const QString& dataDir, int lockWaitMs = kLockWaitMs);

// The same for a writer that already holds the locks of the three files; fds are theirs in the
// fixed order.
RecoveryOutcome RecoverLocked(const QString& dataDir, const int (&fds)[3]);

// Zeroes the journal open on fd durably: the moment a write stands or is undone for good.
bool ClearJournal(int fd);

// The Russian sentence for a recovery that could not be done.
QString RecoveryErrorText(int error, const QString& fileName);

} // namespace kv
