#pragma once

namespace kv {

// A write past the file-size limit (ulimit -f) raises SIGXFSZ, whose default action kills the
// process between two writes of a save. Ignored, the write fails with EFBIG instead and the save
// rolls back and says why. Called at the start of every executable that writes the Data folder.
void IgnoreFileSizeSignal();

} // namespace kv
