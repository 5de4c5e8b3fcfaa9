// Library loading that never looks into the program's own folder. A downloaded program sits in
// the download folder, where any file may have been planted; the libraries the program binds at
// run time come from the system folder alone.
#include "util/path.h"

typedef BOOL(WINAPI* SetDefaultDllDirectoriesProc)(DWORD);

// LOAD_LIBRARY_SEARCH_SYSTEM32, which older SDK headers lack.
constexpr DWORD SearchSystemFolderOnly = 0x00000800;
constexpr int LibraryPathSize = 260;

// Windows versions that know SetDefaultDllDirectories are told to search the system folder
// only; older ones lack it, so it is looked up at run time.
void RestrictLibrarySearch(void)
{
    HMODULE kernel = GetModuleHandleA("kernel32.dll");
    if (kernel == nullptr)
        return;
    auto setDirectories = (SetDefaultDllDirectoriesProc)(void*)GetProcAddress(kernel, "SetDefaultDllDirectories");
    if (setDirectories != nullptr)
        setDirectories(SearchSystemFolderOnly);
}

HMODULE LoadSystemLibrary(const char* name)
{
    char path[LibraryPathSize];
    UINT length = GetSystemDirectoryA(path, sizeof path);
    if (length == 0 || length + 1 + lstrlenA(name) >= sizeof path)
        return nullptr;
    AppendBackslash(path);
    lstrcatA(path, name);
    return LoadLibraryA(path);
}
