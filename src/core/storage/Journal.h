#pragma once

#include "core/storage/uvsDataBase.h"

#include <QByteArray>
#include <QString>

#include <vector>

namespace kv {

// The rollback journal of the Data folder. A writer records, before its first append, how long each
// data file was and the torn-tail bytes its appends will cover. Before it flushes its files it seals
// the journal with what the finished write holds, and once everything is on disk it zeroes the
// journal's start. A journal found later with something in it belongs to a writer that died
// half-way: unless its seal is found whole in the files, putting the files back to what it recorded
// undoes exactly that writer's appends.
//
// The file stays once made. A write overwrites it in place, so no save changes its size (once it has
// grown to its largest) or waits for more than one flush of it: removing the journal would take a
// sync of the folder, cutting it to nothing waits for the file system's own journal, and a zeroing
// that had to be flushed would be a second wait after the files', on every save.

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
// The journal file open on fd, whole; one longer than any journal reads as empty, which decodes
// as damaged. False with errno set when a read fails.
bool ReadJournal(int fd, QByteArray& into);
// False for an empty file or one whose first eight bytes are zero: no write is under way.
bool JournalHoldsWrite(const QByteArray& bytes);

// What a committing writer puts behind its journal before it flushes the files, one entry per
// journal entry in the same order: where the file ends once the write is done, and the checksum of
// every byte the write puts from the entry's wholeEnd to there. A journal with a seal whose bytes
// are all in the files is a write that only has to be made durable, not undone.
struct SealEntry
{
    qint64 end;
    quint32 crc;
};

// A CRC-32 (the one of zip and PNG) over size bytes, carried on from crc (0 to begin).
quint32 Crc32Update(quint32 crc, const char* data, qsizetype size);

// The seal's bytes, to be written right behind journal in the file.
QByteArray EncodeSeal(const QByteArray& journal, const std::vector<SealEntry>& entries);
// False unless bytes (the whole journal file) hold an intact journal followed by an intact seal made
// for that very journal: a torn seal, or one an older journal left behind, is no seal.
bool DecodeSeal(const QByteArray& bytes, std::vector<SealEntry>& entries);

enum class RecoveryOutcome
{
    Clean,      // no journal: nothing to do
    RolledBack, // a writer's unfinished appends were undone
    Completed,  // a sealed writer's appends were all there: they were made durable and kept
    TornJournal // the journal itself was cut short, so nothing had been appended: it was zeroed
};

// Called by everything that reads or writes the Data folder before it starts. Without a journal, or
// with one that holds no write, it costs a stat and a read of eight bytes. With one, it takes the locks of all three
// files (waiting up to lockWaitMs for a writer that still holds them, and then finding the journal gone when that
// writer finishes), puts the files back (or keeps a sealed write found whole), makes that durable and zeroes the
// journal. Raises kv::Error in Russian,
// changing nothing, when the folder is read-only, a file cannot be written or the locks stay taken.
RecoveryOutcome RecoverDataDir(const QString& dataDir, int lockWaitMs = kLockWaitMs);

// The journal file as a writer found it, still open, so that the journal it is about to write
// costs no second open; fd is -1 when there was none. size is its length (all zeros unless the
// recovery failed), -1 when unknown.
struct OpenJournal
{
    int fd = -1;
    qint64 size = -1;
};

// The same for a writer that already holds the locks of the three files; fds are theirs in the
// fixed order. With keep, an existing journal file is left open and handed over to the caller,
// who closes it.
RecoveryOutcome RecoverLocked(const QString& dataDir, const int (&fds)[3], OpenJournal* keep = nullptr);

// Zeroes the journal open on fd durably: the moment a write stands or is undone for good. A caller
// that knows the file's length passes it and saves asking for it.
bool ClearJournal(int fd, qint64 knownSize = -1);

// The Russian sentence for a recovery that could not be done.
QString RecoveryErrorText(int error, const QString& fileName);

} // namespace kv
