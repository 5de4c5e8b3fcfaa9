// Program entry: hardens the library search, takes the command tail after the program's own
// name and runs the install sequence, whose result is the exit code.
#include "setup/setup.h"

typedef BOOL(WINAPI* SetDefaultDllDirectoriesProc)(DWORD);

// No library may come from the program's own (download) folder. Windows versions that know
// SetDefaultDllDirectories are told to search the system folder only; older ones lack it, so
// it is looked up at run time.
static void RestrictLibrarySearch(void)
{
    HMODULE kernel = GetModuleHandleA("kernel32.dll");
    if (kernel == nullptr)
        return;
    auto setDirectories = (SetDefaultDllDirectoriesProc)(void*)GetProcAddress(kernel, "SetDefaultDllDirectories");
    if (setDirectories != nullptr)
        setDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
}

// The runtime start-up rule: skip the program name (a quoted one up to and including the next
// double quote, or to the end; otherwise up to the first character of code 32 or below), then
// every following character of code 1 to 32.
static char* SkipProgramName(char* line)
{
    unsigned char* p = (unsigned char*)line;
    if (*p == '"') {
        ++p;
        while (*p != '\0' && *p != '"')
            ++p;
        if (*p == '"')
            ++p;
    } else {
        while (*p > ' ')
            ++p;
    }
    while (*p != '\0' && *p <= ' ')
        ++p;
    return (char*)p;
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int showState)
{
    RestrictLibrarySearch();
    return RunSetup(instance, nullptr, SkipProgramName(GetCommandLineA()), showState);
}
