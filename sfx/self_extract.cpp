// The self-extractor's sequence: find the archive appended to the program's own file, unpack it
// into a new folder under the user's temporary folder (closed to others and held open meanwhile),
// start setup.exe from there and wait until it has ended, then remove the folder, whatever
// happened on the way. Everything runs on the one thread: the unpack window lives on the
// engine's progress reports, and the wait for setup dispatches messages itself. The exit code is setup's, or SfxExitFailed after a message box,
// or SfxExitCancelled.
#include "base/base.h"
#include "sfx/sfx.h"

#include "res/resource.h"
#include "ui/ui.h"
#include "unzip/unzip.h"
#include "util/path.h"

#include <string.h>

constexpr char SetupProgramName[] = "setup.exe";
constexpr UINT ErrorBoxType = MB_ICONERROR;

// Setup takes everything after "-argv0" as the path of the downloaded file, blanks included, and
// quotes it itself when it passes it on; so the path goes unquoted. Setup's own path is quoted,
// since the temporary folder may hold blanks.
constexpr char SetupCommandFormat[] = "\"%s%s\" -argv0 %s";
constexpr int SetupPathSize = PathBufferSize + sizeof SetupProgramName;
constexpr int SetupCommandSize = SetupPathSize + (PathBufferSize - 1) + sizeof SetupCommandFormat;
static_assert(SetupCommandSize <= 1024, "wsprintfA writes at most 1024 characters");

// The unpack window, or null. It stays until setup has been started: a program that Windows
// starts for the foreground window's process may take the foreground itself, so setup's dialog
// comes up in front.
static HWND UnpackWindow;

static void SetMeter(UINT msg, DWORD value)
{
    SendDlgItemMessageA(UnpackWindow, IDC_METER, msg, value, 0);
}

static void CloseUnpackWindow(void)
{
    if (UnpackWindow != nullptr)
        DestroyWindow(UnpackWindow);
    UnpackWindow = nullptr;
}

// Unpacks the whole archive, flat, into folder, with CRC errors reported, under the unpack
// window. Returns the engine's Result: 0 unpacked, AbortError (the engine has said why) or
// AbortCancelled.
static int UnpackArchive(const char* programPath, const AppendedArchive& archive, const char* folder)
{
    RegisterMeterClass(ModuleInstance);
    UnpackWindow = CreateDialogParamA(ModuleInstance, MAKEINTRESOURCEA(IDD_UNPACK), nullptr, UnpackDlgProc, 0);
    DWORD fullRange = archive.Size / ProgressUnitBytes;
    if (UnpackWindow != nullptr) {
        ShowWindow(UnpackWindow, SW_SHOW);
        UpdateWindow(UnpackWindow);
        SetMeter(MTR_SETPOS, 0);
        SetMeter(MTR_SETRANGE, fullRange);
    }

    ExtractRequest request;
    memset(&request, 0, sizeof request);
    request.ReportCrcErrors = 1;
    request.ArchivePath = programPath;
    request.DestFolder = folder;
    request.KeepPaths = 0;
    request.StartOffset = (int)archive.Start;
    request.OwnerWindow = UnpackWindow;
    int ran = ExtractArchive(&request);
    if (UnpackWindow != nullptr)
        SetMeter(MTR_SETPOS, fullRange);
    return ran == 1 ? request.Result : 2;
}

// Starts setup.exe from folder, which becomes its current folder, closes the unpack window and
// waits until setup has ended, dispatching messages meanwhile. Returns 1 with setup's exit code,
// 0 when it cannot start.
static int RunSetupProgram(const char* folder, const char* programPath, DWORD* exitCode)
{
    char setupPath[SetupPathSize];
    char commandLine[SetupCommandSize];
    wsprintfA(setupPath, "%s%s", folder, SetupProgramName);
    wsprintfA(commandLine, SetupCommandFormat, folder, SetupProgramName, programPath);
    STARTUPINFOA startup;
    memset(&startup, 0, sizeof startup);
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process;
    BOOL started = CreateProcessA(setupPath, commandLine, nullptr, nullptr, FALSE, 0, nullptr, folder, &startup,
                                  &process);
    CloseUnpackWindow();
    if (!started)
        return 0;
    CloseHandle(process.hThread);
    for (;;) {
        DWORD woken = MsgWaitForMultipleObjects(1, &process.hProcess, FALSE, INFINITE, QS_ALLINPUT);
        if (woken != WAIT_OBJECT_0 + 1)
            break;
        DispatchPendingMessages();
    }
    WaitForSingleObject(process.hProcess, INFINITE);
    if (!GetExitCodeProcess(process.hProcess, exitCode))
        *exitCode = SfxExitFailed;
    CloseHandle(process.hProcess);
    return 1;
}

// Everything between the creation of the folder and its removal.
static int UnpackAndRunSetup(const char* programPath, const AppendedArchive& archive, const char* folder)
{
    int result = UnpackArchive(programPath, archive, folder);
    if (result != 0)
        CloseUnpackWindow();
    if (result == AbortCancelled)
        return SfxExitCancelled;
    if (result != 0) {
        ShowMessage(nullptr, IDS_SFX_NOT_UNPACKED, ErrorBoxType, programPath);
        return SfxExitFailed;
    }
    char setupPath[SetupPathSize];
    wsprintfA(setupPath, "%s%s", folder, SetupProgramName);
    WIN32_FIND_DATAA record;
    if (ProbeFile(setupPath, &record) != 0) {
        CloseUnpackWindow();
        ShowMessage(nullptr, IDS_SFX_NO_SETUP, ErrorBoxType, programPath);
        return SfxExitFailed;
    }
    DWORD exitCode = 0;
    if (!RunSetupProgram(folder, programPath, &exitCode)) {
        ShowMessage(nullptr, IDS_SFX_CANNOT_START, ErrorBoxType, setupPath);
        return SfxExitFailed;
    }
    return (int)exitCode;
}

int RunSelfExtractor(HINSTANCE instance, const char* programPath)
{
    ModuleInstance = instance;
    LoadStringA(ModuleInstance, IDS_SFX_TITLE, SetupTitle, sizeof SetupTitle);
    AppendedArchive archive;
    if (!FindAppendedArchive(programPath, &archive)) {
        ShowMessage(nullptr, IDS_SFX_NO_ARCHIVE, ErrorBoxType, programPath);
        return SfxExitFailed;
    }
    char folder[PathBufferSize];
    HANDLE hold;
    if (!CreateUnpackFolder(folder, &hold)) {
        ShowMessage(nullptr, IDS_SFX_NO_TEMP_FOLDER, ErrorBoxType, folder);
        return SfxExitFailed;
    }
    int exitCode = UnpackAndRunSetup(programPath, archive, folder);
    DeleteFolderTree(folder, hold);
    return exitCode;
}
