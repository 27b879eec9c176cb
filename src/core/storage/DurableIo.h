#pragma once

#include <QString>
#include <QtGlobal>

namespace kv {

// Every step that changes the Data folder on disk goes through these few calls, so that a test can
// end the process right after any one of them and look at what a crash at that moment leaves. They
// retry on EINTR and return false with errno set on failure.
bool WriteAt(int fd, const char* data, qint64 size, qint64 offset);
// Reads from offset until size bytes have arrived or the file ends: how many arrived, or -1 with
// errno set when a read fails. Every read of the Data folder's files goes through it. No step: it
// changes nothing.
qint64 ReadUpTo(int fd, char* data, qint64 size, qint64 offset);
// Exactly size bytes at offset; false with errno set, EIO when the file ends first.
bool ReadAt(int fd, char* data, qint64 size, qint64 offset);
bool SyncFile(int fd);
// fdatasync: enough for a file whose size did not change, and cheaper, as no metadata goes with it.
bool SyncFileData(int fd);
// Starts writing the file's dirty pages out without waiting. Saves with several files call it for
// each before the first SyncFile, so the disk works on all of them at once instead of one fsync
// after another; it makes nothing durable by itself and is no step of its own.
void StartWriteback(int fd);
bool TruncateFile(int fd, qint64 size);

// Makes the folder's entries (files made or removed in it) durable.
bool SyncDirectory(const QString& dir);
// ENOENT counts as done: the file is gone either way.
bool RemoveFile(const QString& fileName);

// The crash seam. Armed with k > 0, the k-th step from now ends the process with _exit(kCrashExit);
// a write that is the k-th step stops half-way first, as a power cut in the middle of it would.
// Every writer of the Data folder (the save, a merge, recovery itself) counts its steps here. Only
// code in the same process arms it (the tests); the environment cannot.
namespace crashseam {
constexpr int kCrashExit = 77;
// k == 0 disarms. Either way the step count starts again from 0.
void Arm(int k);
// Steps taken since the last Arm (or since the start).
int Steps();
} // namespace crashseam

} // namespace kv
