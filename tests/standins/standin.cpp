// Stand-ins for the programs that setup talks to but does not contain, for tests and demos:
//   tqstandin main <class>                  a main-program window of that class ("Tessel2WClass",
//                                           "TesselWClass") until WM_CLOSE
//   tqstandin tray <log file>               the tray helper: global atom, window handle in the
//                                           registry; logs every WM_COMMAND and ends on the close
//                                           command (wParam 3, lParam 0)
//   tqstandin filemanager <library> hold|release
//                                           the File Manager: holds the extension library open
//                                           with no sharing; on the reload-extensions message it
//                                           releases it ("release") or keeps it ("hold")
//   tqstandin -argv0 <path>                 setup.exe as the self-extractor starts it: writes its
//                                           command line and current folder, one a line, to the
//                                           file named by TQ_STANDIN_RECORD and exits with 7;
//                                           when TQ_STANDIN_HOLD names a file, not before that
//                                           file exists (a minute at most)
#include <windows.h>

#include "res/resource.h"

#include <stdio.h>
#include <string.h>

constexpr const char SnapdeckAtom[] = "Tessel Snapdeck Active";
constexpr const char SnapdeckKey[] = "Software\\Ostrel Computing\\Tessel\\Tessel";
constexpr const char SnapdeckValue[] = "Snapdeck Window Handle";

static const char* LogPath;
static HANDLE Library = INVALID_HANDLE_VALUE;
static bool KeepLibrary;
static ATOM HelperAtom;

static void AppendToLog(const char* text)
{
    FILE* log = fopen(LogPath, "ab");
    if (log == nullptr)
        return;
    fputs(text, log);
    fclose(log);
}

static LRESULT CALLBACK StandInWndProc(HWND window, UINT msg, WPARAM wParam, LPARAM lParam)
{
    switch (msg) {
    case WM_COMMAND:
        if (LogPath != nullptr) {
            char line[64];
            sprintf(line, "WM_COMMAND %u %ld\n", (unsigned)wParam, (long)lParam);
            AppendToLog(line);
            if (wParam == SNAPDECK_CMD_CLOSE && lParam == 0)
                DestroyWindow(window);
        }
        return 0;
    case FM_RELOAD_EXTENSIONS:
        if (!KeepLibrary && Library != INVALID_HANDLE_VALUE) {
            CloseHandle(Library);
            Library = INVALID_HANDLE_VALUE;
        }
        return 0;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcA(window, msg, wParam, lParam);
}

static HWND CreateStandInWindow(const char* className)
{
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = StandInWndProc;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = className;
    RegisterClassA(&windowClass);
    return CreateWindowA(className, className, WS_OVERLAPPEDWINDOW, 0, 0, 200, 100, nullptr, nullptr,
                         windowClass.hInstance, nullptr);
}

static void PublishHandle(HWND window)
{
    char text[32];
    sprintf(text, "%lu", (unsigned long)(ULONG_PTR)window);
    HKEY key;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, SnapdeckKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key,
                        nullptr) != ERROR_SUCCESS)
        return;
    RegSetValueExA(key, SnapdeckValue, 0, REG_SZ, (const BYTE*)text, (DWORD)strlen(text) + 1);
    RegCloseKey(key);
}

constexpr int SetupStandInExitCode = 7;
constexpr int HoldPolls = 600;
constexpr DWORD HoldPollMs = 100;

// Waits until the file named by TQ_STANDIN_HOLD exists, while a test looks at what the
// self-extractor has made.
static void WaitForRelease(void)
{
    char path[MAX_PATH];
    DWORD length = GetEnvironmentVariableA("TQ_STANDIN_HOLD", path, sizeof path);
    if (length == 0 || length >= sizeof path)
        return;
    for (int poll = 0; poll < HoldPolls && GetFileAttributesA(path) == INVALID_FILE_ATTRIBUTES; ++poll)
        Sleep(HoldPollMs);
}

static int RecordSetupStart(void)
{
    char path[MAX_PATH], folder[MAX_PATH];
    DWORD length = GetEnvironmentVariableA("TQ_STANDIN_RECORD", path, sizeof path);
    if (length == 0 || length >= sizeof path || GetCurrentDirectoryA(sizeof folder, folder) == 0)
        return 3;
    FILE* record = fopen(path, "wb");
    if (record == nullptr)
        return 3;
    fprintf(record, "%s\n%s\n", GetCommandLineA(), folder);
    fclose(record);
    WaitForRelease();
    return SetupStandInExitCode;
}

int main(int argc, char** argv)
{
    if (argc >= 2 && strcmp(argv[1], "-argv0") == 0)
        return RecordSetupStart();
    if (argc < 3)
        return 2;
    HWND window;
    if (strcmp(argv[1], "main") == 0) {
        window = CreateStandInWindow(argv[2]);
    } else if (strcmp(argv[1], "tray") == 0) {
        LogPath = argv[2];
        window = CreateStandInWindow("TesselSnapdeckStandIn");
        PublishHandle(window);
        HelperAtom = GlobalAddAtomA(SnapdeckAtom); // last: the atom says the helper is ready
    } else if (strcmp(argv[1], "filemanager") == 0 && argc >= 4) {
        KeepLibrary = strcmp(argv[3], "hold") == 0;
        Library = CreateFileA(argv[2], GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        window = CreateStandInWindow("WFS_Frame");
    } else {
        return 2;
    }
    if (window == nullptr)
        return 3;

    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0)
        DispatchMessageA(&msg);
    if (HelperAtom != 0)
        GlobalDeleteAtom(HelperAtom);
    if (Library != INVALID_HANDLE_VALUE)
        CloseHandle(Library);
    return 0;
}
