// Under Wine on a bare virtual display no window manager runs, yet Wine treats top-level windows
// as managed and waits about two seconds for each hidden one to be withdrawn. Before any window
// exists, this test program asks Wine (for itself only, through its per-program defaults) to
// leave its windows unmanaged, which removes the wait. On Windows the key is never read.
#include <windows.h>

namespace {

struct UnmanagedWindows {
    UnmanagedWindows()
    {
        char path[MAX_PATH];
        DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
        if (length == 0 || length >= sizeof path)
            return;
        const char* name = path;
        for (const char* p = path; *p != '\0'; ++p)
            if (*p == '\\' || *p == '/')
                name = p + 1;
        char keyPath[MAX_PATH + 64];
        wsprintfA(keyPath, "Software\\Wine\\AppDefaults\\%s\\X11 Driver", name);
        HKEY key;
        if (RegCreateKeyExA(HKEY_CURRENT_USER, keyPath, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr) != ERROR_SUCCESS)
            return;
        RegSetValueExA(key, "Managed", 0, REG_SZ, (const BYTE*)"N", 2);
        RegCloseKey(key);
    }
};

UnmanagedWindows AtStart;

}  // namespace
