/* A library of the right name that exports something else. */
#include <kvendarres.h>

KVENDARRES_EXPORT int BuildReport(void)
{
    return 42;
}
