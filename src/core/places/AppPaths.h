#pragma once

#include <QString>

namespace kv {

// The folder of the running executable, ending in "/": every catalogue file is named by it followed
// directly by a configured name, and the database lives in its "Data" subfolder.
QString ExecutableDir();

// The executable directory followed by "Data", without a trailing separator.
QString DataDirFor(const QString& exeDir);

} // namespace kv
