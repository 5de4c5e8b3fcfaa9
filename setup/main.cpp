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

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int showState)
{
    RestrictLibrarySearch();
    return RunSetup(instance, nullptr, SkipProgramName(GetCommandLineA()), showState);
}
