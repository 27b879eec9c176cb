#include "gui/platform/AppContext.h"

#include "core/places/AppPaths.h"

namespace kv {

QString AppContext::catalogueDir() const
{
    return places.catalogueDir.isEmpty() ? exeDir : places.catalogueDir;
}

QString AppContext::dataDir() const
{
    return DataDirFor(places.dataHome.isEmpty() ? exeDir : places.dataHome);
}

} // namespace kv
