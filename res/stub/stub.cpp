// The shell-extension stub library that setup carries in its resources and writes into the
// install folder as "TQSHLSTB.DLL". Setup reads nothing in it but its version record, so this
// library only has to load cleanly: it attaches without per-thread notifications and exports one
// harmless function that reports its own file version.
#include <windows.h>

#include "stub_version.h"

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH)
        DisableThreadLibraryCalls(instance);
    return TRUE;
}

// The file version as the version record holds it: major and minor in the most significant half.
extern "C" __declspec(dllexport) DWORD StubFileVersionMS(void)
{
    return MAKELONG(StubVersionMinor, StubVersionMajor);
}
