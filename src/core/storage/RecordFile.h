#pragma once

#include "core/platform/Errors.h"

#include <QByteArray>
#include <QString>

#include <cstddef>
#include <functional>

namespace kv {

// Opens fileName with flags and takes an exclusive flock on it, retrying for up to waitMs while
// another process holds it. Returns the descriptor, or -1 with errno set (EWOULDBLOCK when the wait
// ran out).
int OpenLocked(const QString& fileName, int flags, int waitMs);

// Opens a file of the Data folder for reading, and takes its lock (waiting as OpenLocked does) unless
// waitMs < 0. A Data folder may hold anything: a symbolic link is not followed (ELOOP), nothing
// blocks on a FIFO or a device, and only a regular file is read (EISDIR for a folder, ENXIO for
// anything else). Returns the descriptor, or -1 with errno set, ENOENT for a missing file.
int OpenForReading(const QString& fileName, int waitMs);

// A write into the Data folder that failed: the message is the save's sentence; the system's error
// code and the file stay available to a writer that words the failure for its own operation.
class SaveError final : public Error
{
public:
    SaveError(int code, const QString& fileName);
    int code() const { return m_code; }
    const QString& fileName() const { return m_fileName; }

private:
    int m_code;
    QString m_fileName;
};

// One database file opened for appending fixed-size records, locked for the object's whole life.
// Records go after the last whole record, so a torn tail left by a crash is overwritten instead of
// shifting every later record off its boundary; Rollback puts back the exact bytes that were there.
class RecordFile final
{
public:
    // Raises kv::Error when the file can neither be opened nor created, or stays locked.
    RecordFile(const QString& fileName, int recordSize, int lockWaitMs);
    ~RecordFile();
    RecordFile(const RecordFile&) = delete;
    RecordFile& operator=(const RecordFile&) = delete;

    // Stores the next number in the record's first four bytes, then writes the record. On failure
    // the number stays in the record and kv::Error is raised; the file may hold part of the record
    // until Rollback.
    void Append(char* record) { Append(record, 1); }
    // The same for count records laid one after another, written in one go.
    void Append(char* records, size_t count);
    // Hands the whole records the file held when it was locked to block, a run of records at a time,
    // so that a writer can look at what is there without a second open, which its own lock would
    // refuse. Raises kv::Error when a read fails.
    void ReadExisting(const std::function<void(const char* records, size_t count)>& block) const;
    // Flushes the data (and a newly made directory entry) to disk; raises kv::Error on failure. A
    // file nothing was written to is left alone.
    void Sync();
    // Starts writing this session's records out (see StartWriteback), for a caller about to Sync
    // several files.
    void StartSync();
    // Returns the file to its size and bytes from before the first Append. Never raises; false when
    // the file could not be put back (the journal then stays for recovery to finish the job).
    bool Rollback() noexcept;
    // Takes the size, the torn tail and the next number afresh, for a caller that has changed the
    // file under the lock since construction (recovery of an earlier crash). Raises like the
    // constructor.
    void Measure();

    const QString& fileName() const { return m_fileName; }
    int fd() const { return m_fd; }
    // Whether this session has written to the file (or tried to).
    bool written() const { return m_touched; }
    // Where the file ends after this session's records, and the CRC-32 of everything they put from
    // wholeEnd() on: what a journal's seal records.
    qint64 end() const { return m_end; }
    quint32 writtenCrc() const { return m_writtenCrc; }
    // Where this session's first record goes, and the bytes from there to the original end.
    qint64 wholeEnd() const { return m_wholeEnd; }
    const QByteArray& tail() const { return m_tail; }

    // The number the next appended record gets: the last whole record's plus one, unless set.
    quint32 NextId() const { return m_nextId; }
    void SetNextId(quint32 id) { m_nextId = id; }

private:
    QString m_fileName;
    int m_fd = -1;
    int m_size;
    bool m_created = false;
    qint64 m_originalSize = 0;
    qint64 m_wholeEnd = 0; // where the first record of this session goes
    QByteArray m_tail;     // the bytes past m_wholeEnd that a write will cover
    qint64 m_end = 0;      // where the next record goes
    quint32 m_nextId = 1;
    quint32 m_writtenCrc = 0;
    bool m_touched = false; // a write was attempted
};

// The reason for this errno in Russian, e.g. "на диске нет места".
QString ReasonText(int error);
// The Russian sentence for a failed save of fileName with this errno.
QString SaveErrorText(int error, const QString& fileName);

} // namespace kv
