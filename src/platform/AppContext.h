#pragma once

#include "platform/Dialogs.h"

#include <QString>

namespace kv {

// What every window needs from the program around it. The start-up builds one; tests build their own
// with a temporary folder and scripted dialogs.
struct AppContext
{
    QString exeDir;   // the executable directory, ending in "/"
    Dialogs& dialogs; // message boxes, the standard error box, file dialogs

    QString dataDir() const;
};

} // namespace kv
