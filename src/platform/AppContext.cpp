#include "platform/AppContext.h"

#include "platform/AppPaths.h"

namespace kv {

QString AppContext::dataDir() const
{
    return DataDirFor(exeDir);
}

} // namespace kv
