#pragma once

#include "core/storage/Journal.h"

#include <QString>

#include <memory>

namespace kv {

// The database files of one data folder as they stood at one moment. The files only ever grow, so
// the bytes below the sizes seen while every file was locked stay what they were: the snapshot
// takes the locks in the writers' order, notes the sizes and lets go at once, and a save that comes
// during a long export does not have to wait for it.
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

    // Raises kv::Error (in Russian) when the folder is missing or not a folder, an unfinished save
    // cannot be undone, or a file that exists cannot be opened or stays locked by another program.
    explicit DataSnapshot(const QString& dataDir);
    ~DataSnapshot();
    DataSnapshot(const DataSnapshot&) = delete;
    DataSnapshot& operator=(const DataSnapshot&) = delete;

    static int RecordSize(FileKind kind);
    static QString FileName(FileKind kind);

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
        bool failed() const { return m_failed; }

    private:
        int m_fd;
        int m_recordSize;
        qint64 m_end;
        qint64 m_at = 0;
        bool m_failed = false;
        std::unique_ptr<char[]> m_block;
        size_t m_capacity = 0;
    };

private:
    struct File
    {
        int fd = -1;
        qint64 size = 0;
    };
    File m_files[FileCount];
    RecoveryOutcome m_recovery = RecoveryOutcome::Clean;
};

} // namespace kv
