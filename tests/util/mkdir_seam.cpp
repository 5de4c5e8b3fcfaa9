// The _mkdir recorder of mkdir_seam.h.
#include "mkdir_seam.h"

std::vector<std::string> MkdirCalls;
bool MkdirAlwaysFails;

static int __cdecl RecordingMkdir(const char* path);

// References to the import slot __imp__mkdir become references to __wrap___imp__mkdir; the real
// slot stays reachable as __real___imp__mkdir.
extern "C" {
extern int(__cdecl* __real___imp__mkdir)(const char*);
int(__cdecl* __wrap___imp__mkdir)(const char*) = RecordingMkdir;
}

static int __cdecl RecordingMkdir(const char* path)
{
    MkdirCalls.push_back(path);
    if (MkdirAlwaysFails)
        return -1;
    return __real___imp__mkdir(path);
}
