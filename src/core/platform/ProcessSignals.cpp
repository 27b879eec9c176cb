#include "core/platform/ProcessSignals.h"

#include <csignal>

namespace kv {

void IgnoreFileSizeSignal()
{
    std::signal(SIGXFSZ, SIG_IGN);
}

} // namespace kv
