// What both fuzz targets check after every run: the engine took the request (it is not left
// busy) and closed every handle it opened.
#ifndef TQ_FUZZ_RUN_CHECKED_H
#define TQ_FUZZ_RUN_CHECKED_H

#include "unzip/unzip.h"

#include <unistd.h>

inline void RunChecked(ExtractRequest* request)
{
    int lowestFree = dup(0);
    close(lowestFree);
    if (ExtractArchive(request) != 1)
        __builtin_trap();      // a run left the engine busy
    int probe = dup(0);
    if (close(probe) != 0 || probe != lowestFree)
        __builtin_trap();      // a handle of the run stayed open
}

#endif
