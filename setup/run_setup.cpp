// The install sequence: every step of one installation in a fixed order on the one thread, from
// the checks of the environment through the install-folder dialog and the progress phase to the
// start of the installed main program. Each step shows its own message boxes; the sequence only
// adds message 1006 where an installation ends unfinished, and always returns 0.
#include "setup/setup.h"

#include "res/resource.h"
#include "steps/steps.h"
#include "ui/ui.h"
#include "unzip/unzip.h"
#include "util/path.h"

#include <commctrl.h>
#include <direct.h>
#include <stdio.h>
#include <string.h>

constexpr char ArgvSwitch[] = "-argv0";
constexpr int ArgvSwitchLength = sizeof ArgvSwitch - 1;
constexpr char PayloadArchiveName[] = "setup.tq";
constexpr char InstallSwitchSuffix[] = "S"; // "/installS": the install command of the main program
constexpr UINT NotInstalledBoxType = MB_TASKMODAL | MB_ICONINFORMATION;
constexpr unsigned MeterUnitKB = ProgressUnitBytes / 1024;   // one Meter unit is one progress unit

// The main program is started by its quoted full path first and, should that fail, by its name
// relative to the install folder, which is then the current folder. The path is quoted because
// the folder may contain blanks; the relative form names the current folder explicitly so that
// the platform never looks for the program in setup's own (download) folder.
constexpr char LaunchFormat[] = "\"%s%s\" /install%s /f:\"%s\"";
constexpr char FallbackLaunchFormat[] = ".\\%s /install%s /f:\"%s\"";

// Room for the longest command line: an install folder and an origin path of 259 characters
// each, the program name, the switch suffix and the fixed characters of the format (the four
// "%s" directives take no room of their own), and the terminating NUL.
static_assert(LaunchCommandSize == (PathBufferSize - 1) + (int)(sizeof MainProgramName - 1) + (PathBufferSize - 1)
                  + (int)(sizeof InstallSwitchSuffix - 1) + (int)(sizeof LaunchFormat - 1) - 4 * 2 + 1,
              "LaunchCommandSize must follow the launch format");
static_assert((int)(sizeof FallbackLaunchFormat - 1) - 3 * 2 + (int)(sizeof MainProgramName - 1)
                  + (int)(sizeof InstallSwitchSuffix - 1) + (PathBufferSize - 1) + 1 <= LaunchCommandSize,
              "the fallback command line must fit the same buffer");

// The last-write time of a file, or false when the file is not there.
static bool GetLastWriteTime(const char* path, FILETIME* time)
{
    WIN32_FIND_DATAA record;
    if (ProbeFile(path, &record) != 0)
        return false;
    *time = record.ftLastWriteTime;
    return true;
}

void ParseOriginPath(const char* commandTail, char* originPath)
{
    originPath[0] = '\0';
    const char* p = commandTail;
    while (*p == ' ')
        ++p;
    if (*p == '\0' || _strnicmp(p, ArgvSwitch, ArgvSwitchLength) != 0)
        return;
    p += ArgvSwitchLength;
    while (*p == ' ')
        ++p;
    // Copied as it stands, inner and trailing blanks and double quotes included; characters
    // beyond the buffer's 259 are dropped.
    lstrcpynA(originPath, p, PathBufferSize);
}

// SourceFolder and SetupTimestamp from the setup program's own file. SourceFolder keeps the
// separator after the folder. A path that does not fit the buffer comes back cut short, and a
// cut path names another folder: setup must not read its files from there, so it stops after
// message 1017 with as much of the path as it got.
static int FindSourceFolder(void)
{
    Trace("Determining source directory");
    DWORD length = GetModuleFileNameA(ModuleInstance, SourceFolder, sizeof SourceFolder);
    if (length == 0 || length >= sizeof SourceFolder) {
        SourceFolder[sizeof SourceFolder - 1] = '\0';
        ShowMessage(nullptr, IDS_CANNOT_OPEN, MB_ICONERROR, SourceFolder);
        return 0;
    }
    GetLastWriteTime(SourceFolder, &SetupTimestamp);
    char* separator = FindLastSeparator(SourceFolder);
    if (separator != nullptr)
        separator[1] = '\0';
    Trace("Source Directory is: %s", SourceFolder);
    return 1;
}

int ExtractSetupArchive(HWND owner)
{
    ExtractRequest request;
    memset(&request, 0, sizeof request);
    // Room for the longest SourceFolder and the name: a path the platform cannot open is then
    // reported by the engine with its true name, never shortened into another one.
    char archivePath[PathBufferSize + sizeof PayloadArchiveName];
    wsprintfA(archivePath, "%s%s", SourceFolder, PayloadArchiveName);
    request.ArchivePath = archivePath;
    request.DestFolder = InstallPath;
    request.OwnerWindow = owner;
    // A damaged payload must not be installed as if it were sound: a CRC mismatch is reported
    // (message 1033) and ends the extraction.
    request.ReportCrcErrors = 1;
    if (ExtractArchive(&request) != 1)
        return 0;
    return request.Result == 0 ? 1 : 0;
}

int ReplaceMainProgram(HWND owner, const char* folder, const char* fileName)
{
    char target[PathBufferSize];
    if (snprintf(target, sizeof target, "%s%s", folder, fileName) >= (int)sizeof target) {
        // Such a path names no file on the platform; report it rather than shorten it.
        ShowMessage(owner, IDS_CANNOT_OPEN_FOR_WRITING, MB_ICONERROR, fileName);
        return 0;
    }
    char fresh[PathBufferSize];
    lstrcpyA(fresh, target);
    char* last = LastChar(fresh);
    if (last != nullptr)
        *last = '_';

    RemoveFile(target); // a missing old program is no error
    if (RenameFile(fresh, target) != 0) {
        ShowMessage(owner, IDS_CANNOT_OPEN_FOR_WRITING, MB_ICONERROR, target);
        RemoveFile(fresh);
        return 0;
    }
    return 1;
}

void BuildLaunchCommand(char* commandLine, int fallback)
{
    if (fallback)
        wsprintfA(commandLine, FallbackLaunchFormat, MainProgramName, InstallSwitchSuffix, OriginPath);
    else
        wsprintfA(commandLine, LaunchFormat, InstallFolder, MainProgramName, InstallSwitchSuffix, OriginPath);
}

int LaunchMainProgram(void)
{
    // InstallPath is absolute and keeps the separator of a root, so this enters the install
    // folder itself, never the last folder of its drive.
    _chdir(InstallPath);
    char commandLine[LaunchCommandSize];
    BuildLaunchCommand(commandLine, 0);
    if (WinExec(commandLine, SW_SHOW) >= 32)
        return 1;
    BuildLaunchCommand(commandLine, 1);
    return WinExec(commandLine, SW_SHOW) >= 32 ? 1 : 0;
}

static void SetMeter(UINT msg, unsigned int value)
{
    SendDlgItemMessageA(ProgressDialog, IDC_METER, msg, value, 0);
}

// The progress phase: the payload, then the text files, under the wait cursor. Returns 1 when
// both are complete. The progress dialog is left on the screen for the caller.
static int RunProgressPhase(void)
{
    ProgressDialog = CreateDialogParamA(ModuleInstance, MAKEINTRESOURCEA(IDD_PROGRESS), nullptr, ProgressDlgProc, 0);
    ShowWindow(ProgressDialog, SW_SHOW);
    CurrentCursor = LoadCursorA(nullptr, (LPCSTR)IDC_WAIT);
    HCURSOR savedCursor = SetCursor(CurrentCursor);
    UpdateWindow(ProgressDialog);
    unsigned int fullRange = InstallSizeKB / MeterUnitKB;
    SetMeter(MTR_SETPOS, 0);
    SetMeter(MTR_SETRANGE, fullRange);

    int outcome = ExtractSetupArchive(ProgressDialog);

    // The copied text files take the time of the unpacked main program; when the payload did
    // not deliver it, the time stays zero.
    char payloadPath[PathBufferSize + sizeof MainProgramName];
    wsprintfA(payloadPath, "%stessel32.ex_", InstallFolder);
    GetLastWriteTime(payloadPath, &PayloadTimestamp);

    if (outcome)
        outcome = ProcessTextFiles(ProgressDialog, 1);

    CurrentCursor = savedCursor;
    SetCursor(CurrentCursor);
    SetMeter(MTR_SETPOS, fullRange);
    return outcome;
}

int RunSetup(HINSTANCE instance, HINSTANCE, char* commandTail, int)
{
    ModuleInstance = instance;
    Trace("Setup has been started");
    InitCommonControls();
    LoadStringA(ModuleInstance, IDS_SETUP_TITLE, SetupTitle, sizeof SetupTitle);
    CurrentCursor = LoadCursorA(nullptr, (LPCSTR)IDC_ARROW);
    SetCursor(CurrentCursor);

    if (!CheckWindowsVersion(nullptr))
        return 0;
    if (HasLimitedAccess()) {
        Trace("Setup detected user has limited access");
        ShowMessage(nullptr, IDS_LIMITED_ACCESS, MB_ICONERROR);
        return 0;
    }
    if (!WaitForMainProgramToClose())
        return 0;
    CloseSnapdeck();
    Trace("Calling unload fmx");
    if (!UnloadFileManagerExtension())
        return 0;

    ParseOriginPath(commandTail, OriginPath);
    if (OriginPath[0] != '\0')
        Trace("Setup install file is %s", OriginPath);
    else
        Trace("Did not find setup install file in arg list.");
    if (!FindSourceFolder())
        return 0;

    ProposeInstallFolder();
    Trace("registering control class");
    RegisterMeterClass(ModuleInstance);

    Trace("Displaying Welcome Dialog");
    INT_PTR choice = DialogBoxParamA(ModuleInstance, MAKEINTRESOURCEA(IDD_INSTALL_FOLDER), nullptr,
                                     InstallFolderDlgProc, 0);
    // A dialog that could not be created (-1) ends like Cancel: no folder was chosen.
    if (choice == IDS_NOT_INSTALLED || choice == -1) {
        ShowMessage(nullptr, IDS_NOT_INSTALLED, NotInstalledBoxType);
        return 0;
    }
    if (choice == 0)
        return 0;

    int outcome = RunProgressPhase();
    if (outcome && !ReplaceMainProgram(ProgressDialog, InstallFolder, MainProgramName)) {
        // The progress dialog stays on the screen behind this last box.
        ShowMessage(nullptr, IDS_NOT_INSTALLED, MB_ICONINFORMATION);
        return 0;
    }
    ShowWindow(ProgressDialog, SW_HIDE);
    DestroyWindow(ProgressDialog);
    ProgressDialog = nullptr;
    if (!outcome) {
        ShowMessage(nullptr, IDS_NOT_INSTALLED, NotInstalledBoxType);
        return 0;
    }

    RemoveShellExtensionKeys();
    if (LaunchMainProgram())
        return 0;
    char text[PathBufferSize + sizeof MainProgramName + 16];
    wsprintfA(text, "Error running %s%s", InstallFolder, MainProgramName);
    MessageBoxA(nullptr, text, nullptr, MB_OK);
    return 0;
}
