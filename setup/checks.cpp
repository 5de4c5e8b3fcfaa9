// Environment checks run before setup shows any window: a Windows version that can take the
// product, write access under HKEY_CLASSES_ROOT\CLSID, no running copy of the main program, the
// tray helper closed and the File Manager extension unloaded. A check that stops setup shows its
// own message box; HasLimitedAccess leaves its message to the install sequence.
#include "setup/setup.h"

#include "res/resource.h"
#include "ui/ui.h"
#include "util/path.h"

#include <stdlib.h>

// The record size of OSVERSIONINFOA, which every Windows version accepts.
constexpr DWORD VersionRecordSize = 148;
constexpr DWORD FirstSuitableNtVersion = 4;

// The access probe writes a throw-away value (or key) under HKEY_CLASSES_ROOT\CLSID. Both opens
// of the probe ask for KEY_READ + KEY_SET_VALUE + KEY_CREATE_SUB_KEY.
constexpr REGSAM ProbeWriteRights = KEY_READ | KEY_SET_VALUE | KEY_CREATE_SUB_KEY;
constexpr const char ProbeKeyPath[] = "CLSID";
constexpr const char ProbeChildKey[] = "{00000000-0000-0000-0000-000000000000}";
constexpr const char ProbeValueName[] = "K82M4TV7QP3RJ";
constexpr const char ProbeValueData[] = "0"; // stored with its NUL: 2 bytes

constexpr const char MainProgramClass[] = "Tessel2WClass";
constexpr const char OldMainProgramClass[] = "TesselWClass";

// The tray helper announces itself with a global atom and leaves its window handle, as decimal
// text, in the registry.
constexpr const char SnapdeckAtom[] = "Tessel Snapdeck Active";
constexpr const char SnapdeckKey[] = "Software\\Ostrel Computing\\Tessel\\Tessel";
constexpr const char SnapdeckValue[] = "Snapdeck Window Handle";
constexpr DWORD SnapdeckTextSize = 32;

constexpr const char FileManagerIni[] = "winfile.ini";
constexpr const char FileManagerSection[] = "AddOns";
constexpr const char FileManagerEntry[] = "Tessel";
constexpr const char FileManagerClass[] = "WFS_Frame";

int CheckWindowsVersion(HWND owner)
{
    OSVERSIONINFOA version;
    ZeroMemory(&version, sizeof version);
    version.dwOSVersionInfoSize = VersionRecordSize;
    // Win32s is refused, and Windows NT before 4.0; every other platform passes.
    bool suitable = GetVersionExA(&version)
        && version.dwPlatformId != VER_PLATFORM_WIN32s
        && (version.dwPlatformId != VER_PLATFORM_WIN32_NT
            || version.dwMajorVersion >= FirstSuitableNtVersion);
    if (suitable)
        return 1;
    MessageBoxA(owner, LoadMessage(IDS_WRONG_WINDOWS), SetupTitle, MB_ICONERROR);
    return 0;
}

int HasLimitedAccess(void)
{
    // A user who cannot even read the class keys is not refused here.
    if (!CanOpenKey(HKEY_CLASSES_ROOT, ProbeKeyPath, KEY_READ))
        return 0;
    if (CanWriteUnderKey(HKEY_CLASSES_ROOT, ProbeKeyPath, ProbeChildKey))
        return 0;
    return 1;
}

int CanOpenKey(HKEY root, const char* path, REGSAM rights)
{
    HKEY key = nullptr;
    if (RegOpenKeyExA(root, path, 0, rights, &key) != ERROR_SUCCESS || key == nullptr)
        return 0;
    RegCloseKey(key);
    return 1;
}

// Writes the probe value into an existing child key and removes it again. A value that was
// written but could not be removed counts as a failure: the probe has then left a trace.
static int ProbeWithValue(HKEY child)
{
    if (RegSetValueExA(child, ProbeValueName, 0, REG_SZ, (const BYTE*)ProbeValueData,
                       sizeof ProbeValueData) != ERROR_SUCCESS)
        return 0;
    return RegDeleteValueA(child, ProbeValueName) == ERROR_SUCCESS;
}

// Creates the child key and deletes it again. Only a key that this probe created is deleted: a
// child that exists already but refused the write rights is left alone, and since nothing was
// written the probe has then not shown write access.
static int ProbeWithNewKey(HKEY parent, const char* child)
{
    HKEY created = nullptr;
    DWORD disposition = 0;
    if (RegCreateKeyExA(parent, child, 0, nullptr, REG_OPTION_NON_VOLATILE, MAXIMUM_ALLOWED,
                        nullptr, &created, &disposition) != ERROR_SUCCESS || created == nullptr)
        return 0;
    RegCloseKey(created);
    if (disposition != REG_CREATED_NEW_KEY)
        return 0;
    return RegDeleteKeyA(parent, child) == ERROR_SUCCESS;
}

int CanWriteUnderKey(HKEY root, const char* path, const char* child)
{
    HKEY parent = nullptr;
    if (RegOpenKeyExA(root, path, 0, ProbeWriteRights, &parent) != ERROR_SUCCESS || parent == nullptr)
        return 0;

    int result;
    HKEY childKey = nullptr;
    if (RegOpenKeyExA(parent, child, 0, ProbeWriteRights, &childKey) == ERROR_SUCCESS && childKey != nullptr) {
        result = ProbeWithValue(childKey);
        RegCloseKey(childKey);
    } else {
        result = ProbeWithNewKey(parent, child);
    }
    RegCloseKey(parent);
    return result;
}

int WaitForMainProgramToClose(void)
{
    for (;;) {
        if (FindWindowA(MainProgramClass, nullptr) == nullptr
            && FindWindowA(OldMainProgramClass, nullptr) == nullptr)
            return 1;
        Trace("Setup detected that Tessel is runnning");
        // Only Retry asks again: a box that could not be shown (0) counts as Cancel.
        if (ShowMessage(nullptr, IDS_PROGRAM_RUNNING, MB_RETRYCANCEL | MB_ICONERROR) != IDRETRY)
            return 0;
    }
}

void CloseSnapdeck(void)
{
    if (GlobalFindAtomA(SnapdeckAtom) == 0)
        return;
    HWND helper = GetSnapdeckWindow();
    // SendMessageA returns once the helper has handled the command; its answer means nothing.
    if (helper != nullptr)
        SendMessageA(helper, WM_COMMAND, SNAPDECK_CMD_CLOSE, 0);
}

HWND GetSnapdeckWindow(void)
{
    // One byte more than the value may fill, so that a value without a terminating NUL still
    // ends inside the buffer.
    char text[SnapdeckTextSize + 1] = "";
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, SnapdeckKey, 0, KEY_READ, &key) == ERROR_SUCCESS) {
        DWORD size = SnapdeckTextSize;
        if (RegQueryValueExA(key, SnapdeckValue, nullptr, nullptr, (BYTE*)text, &size) == ERROR_SUCCESS
            && size <= SnapdeckTextSize)
            text[size] = '\0';
        else
            text[0] = '\0';
        RegCloseKey(key);
    }
    return (HWND)(LONG_PTR)atol(text);
}

int UnloadFileManagerExtension(void)
{
    Trace("Inside unload FMX");
    char library[PathBufferSize];
    GetPrivateProfileStringA(FileManagerSection, FileManagerEntry, "", library, sizeof library,
                             FileManagerIni);
    if (library[0] == '\0') {
        Trace("FMX not being used");
        return 1;
    }
    HWND fileManager = FindWindowA(FileManagerClass, nullptr);
    if (fileManager == nullptr) {
        Trace("FMX is not running");
        return 1;
    }

    // With its entry gone, the File Manager drops the library when it reloads its extensions.
    WritePrivateProfileStringA(FileManagerSection, FileManagerEntry, nullptr, FileManagerIni);
    PostMessageA(fileManager, FM_RELOAD_EXTENSIONS, 0, 0);
    if (WaitForExclusiveAccess(library, ExtensionReleaseTimeout)) {
        Trace("FMX has been unloaded");
        return 1;
    }
    Trace("FMX could not be unloaded");
    MessageBoxA(nullptr, LoadMessage(IDS_FILE_MANAGER_BUSY), SetupTitle, MB_ICONERROR);
    return 0;
}
