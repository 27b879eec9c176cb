#pragma once

#include "core/platform/Errors.h"
#include "core/storage/Journal.h"

#include <QString>

#include <memory>

namespace kv {

// A record file that could not be opened or read: the message says so in Russian; the system's
// error code and the file stay available to a caller that words the failure for its own operation.
class ReadError final : public Error
{
public:
    ReadError(int code, const QString& fileName);
    int code() const { return m_code; }
    const QString& fileName() const { return m_fileName; }

private:
    int m_code;
    QString m_fileName;
};

// The one reader of the Data folder: its record files as they stood at one moment. The files only
// ever grow, so the bytes below the sizes seen while every file was locked stay what they were: the
// snapshot takes the locks in the writers' order, looks at the journal, notes the sizes and lets go
// at once, and a save that comes during a long read does not have to wait for it.
class DataSnapshot final
{
public:
    enum FileKind
    {
        Tests,
        Values,
        Answers,
        FileCount
    };

    // What to do with a save that died half-way, whose journal is still in the folder.
    enum class Journal
    {
        // Undo it first (RecoverDataDir), as the program does before it reads.
        Undo,
        // Never write to the folder: read each file only up to the size the journal would cut it
        // back to. For a folder that is only read (a merge's source), or whose caller has already
        // undone what could be undone.
        Respect
    };

    // Raises kv::Error (in Russian) when the folder is missing or not a folder, an unfinished save
    // cannot be undone, and ReadError when a file that exists cannot be opened or stays locked by
    // another program.
    explicit DataSnapshot(const QString& dataDir, Journal journal = Journal::Undo);
    ~DataSnapshot();
    DataSnapshot(const DataSnapshot&) = delete;
    DataSnapshot& operator=(const DataSnapshot&) = delete;

    static int RecordSize(FileKind kind);
    static QString FileName(FileKind kind);
    QString FilePath(FileKind kind) const;

    // What the recovery before the snapshot did.
    RecoveryOutcome Recovery() const { return m_recovery; }

    bool Exists(FileKind kind) const { return m_files[kind].fd >= 0; }
    qint64 Size(FileKind kind) const { return m_files[kind].size; }
    qint64 Records(FileKind kind) const { return m_files[kind].size / RecordSize(kind); }
    // Bytes after the last whole record: what a write that never finished left behind.
    qint64 TornBytes(FileKind kind) const { return m_files[kind].size % RecordSize(kind); }

    // Reads whole records in file order, a block at a time; records beyond the snapshot are not seen.
    class Reader final
    {
    public:
        Reader(const DataSnapshot& snapshot, FileKind kind);
        // The next block of whole records, or 0 at the end. The bytes stay valid until the next call.
        // A read error ends the reading as the end of the file would, and sets failed().
        size_t Next(const char*& records);
        // The same straight into the caller's memory: up to count records into `into`.
        size_t Fill(char* into, size_t count);
        bool failed() const { return m_failed; }
        // The system's error code of a read that failed; 0 when the file only got shorter.
        int error() const { return m_error; }

    private:
        int m_fd;
        int m_recordSize;
        qint64 m_end;
        qint64 m_at = 0;
        bool m_failed = false;
        int m_error = 0;
        std::unique_ptr<char[]> m_block;
        size_t m_capacity = 0;
    };

private:
    struct File
    {
        int fd = -1;
        qint64 size = 0;
    };
    QString m_dataDir;
    File m_files[FileCount];
    RecoveryOutcome m_recovery = RecoveryOutcome::Clean;
};

} // namespace kv
