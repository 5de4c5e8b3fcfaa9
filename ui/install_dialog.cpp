// The install-folder dialog: proposes the install folder, lets the user type one or pick one
// with the shell's folder browser, and on OK validates and creates the folder, checks the text
// files and the payload archive, and installs the shell-extension stub library. The dialog ends
// with 1 (go on), 1006 (cancelled, or a failure already reported) or 0 (the shell extension was
// turned off and the user must restart Windows first).
#include "ui/ui.h"

#include "res/resource.h"
#include "steps/record.h"
#include "steps/steps.h"
#include "util/path.h"

#include <direct.h>
#include <shlobj.h>
#include <string.h>

constexpr int ResultGoOn = 1;
constexpr int ResultFailed = IDS_NOT_INSTALLED;  // 1006: the sequence reports the failure
constexpr int ResultQuietExit = 0;

constexpr int FolderFieldLimit = PathBufferSize - 1;
constexpr int MinimumFolderLength = 2;
// The longest name that is put after InstallFolder ("TQSHLSTB.DLL", "tqsnapdk.exe"); a folder
// must leave room for it in a path buffer.
constexpr int LongestNameInFolder = 12;
constexpr char ProductFolderName[] = "Tessel";
constexpr int ProductPrefixLength = 6;           // "tessel", compared without regard to case
constexpr UINT BrowseFlags = BIF_RETURNONLYFSDIRS | BIF_RETURNFSANCESTORS;

constexpr int UnloadingTextSize = 255;           // string 1029, at most 254 characters
constexpr int StarsTextSize = 256;               // static 107 read back, at most 255 characters
constexpr int BusyMessageSize = 516;

// The folder browser, bound at run time from the system folder's "Shell32.dll"; all three are
// set or the Browse button is removed. The library stays loaded for the life of the process.
typedef LPITEMIDLIST(WINAPI* BrowseForFolderProc)(LPBROWSEINFOA);
typedef HRESULT(WINAPI* GetMallocProc)(IMalloc**);
typedef BOOL(WINAPI* GetPathFromIDListProc)(LPCITEMIDLIST, LPSTR);
static HMODULE Shell32Library;
static BrowseForFolderProc BrowseForFolder;
static GetMallocProc GetShellMalloc;
static GetPathFromIDListProc GetPathFromIDList;

// Loads "Shell32.dll" by its full path in the system folder, never through the search order
// that would also look in the (download) folder of setup.exe.
static int BindFolderBrowser(void)
{
    if (Shell32Library == nullptr) {
        Shell32Library = LoadSystemLibrary("Shell32.dll");
        if (Shell32Library == nullptr)
            return 0;
    }
    BrowseForFolder = (BrowseForFolderProc)(void*)GetProcAddress(Shell32Library, "SHBrowseForFolder");
    GetShellMalloc = (GetMallocProc)(void*)GetProcAddress(Shell32Library, "SHGetMalloc");
    GetPathFromIDList = (GetPathFromIDListProc)(void*)GetProcAddress(Shell32Library, "SHGetPathFromIDList");
    return BrowseForFolder != nullptr && GetShellMalloc != nullptr && GetPathFromIDList != nullptr;
}

static INT_PTR InstallOnInitDialog(HWND dialog)
{
    Trace("in init dialog");
    if (!BindFolderBrowser())
        DestroyWindow(GetDlgItem(dialog, IDC_BROWSE));
    SetWindowTextA(dialog, SetupTitle);
    CentreWindow(dialog);
    SetDlgItemTextA(dialog, ID_DESTPATH, ProposedFolder);
    SendDlgItemMessageA(dialog, ID_DESTPATH, EM_LIMITTEXT, FolderFieldLimit, 0);
    Trace("exit init dialog");
    return TRUE;
}

// OK can be pressed only while the field holds text.
static INT_PTR InstallOnFieldNotification(HWND dialog)
{
    Trace("in ID_DESTPATH dialog");
    LRESULT length = SendDlgItemMessageA(dialog, ID_DESTPATH, EM_LINELENGTH, 0, 0);
    EnableWindow(GetDlgItem(dialog, IDOK), length > 0);
    Trace("exit ID_DESTPATH dialog");
    return TRUE;
}

// A chosen folder whose last component begins with the product's name is taken as the product
// folder itself; any other gets "Tessel" below it. Returns 0, with the path unchanged, when the
// result would not fit into `size` bytes.
int AppendProductFolder(char* path, int size)
{
    const char* separator = FindLastSeparator(path);
    if (separator != nullptr && _strnicmp(separator + 1, ProductFolderName, ProductPrefixLength) == 0)
        return 1;
    int length = lstrlenA(path);
    int needed = length + (int)sizeof ProductFolderName;   // name and NUL
    if (length == 0 || !IsSeparator((unsigned char)*LastChar(path)))
        ++needed;
    if (needed > size)
        return 0;
    AppendBackslash(path);
    lstrcatA(path, ProductFolderName);
    return 1;
}

static int CALLBACK BrowseCallbackProc(HWND browser, UINT msg, LPARAM, LPARAM)
{
    if (msg == BFFM_INITIALIZED)
        CentreWindow(browser);
    return 0;
}

static INT_PTR InstallOnBrowse(HWND dialog)
{
    IMalloc* allocator;
    if (GetShellMalloc == nullptr || FAILED(GetShellMalloc(&allocator)))
        return TRUE;

    char displayName[PathBufferSize];
    BROWSEINFOA browse;
    browse.hwndOwner = dialog;
    browse.pidlRoot = nullptr;
    browse.pszDisplayName = displayName;
    browse.lpszTitle = LoadMessage(IDS_BROWSE_TITLE);
    browse.ulFlags = BrowseFlags;
    browse.lpfn = BrowseCallbackProc;
    browse.lParam = 0;
    browse.iImage = 0;
    LPITEMIDLIST chosen = BrowseForFolder(&browse);
    if (chosen != nullptr) {
        char path[PathBufferSize];
        if (GetPathFromIDList(chosen, path)) {
            if (AppendProductFolder(path, FolderFieldLimit + 1))
                SetDlgItemTextA(dialog, ID_DESTPATH, path);
            else
                ShowMessage(dialog, IDS_INVALID_FOLDER, MB_ICONERROR);
        }
        allocator->Free(chosen);
    }
    allocator->Release();
    return TRUE;
}

// A network form begins with the same separator twice, a drive form with an ASCII letter and a
// colon. Both tests look only at the first two bytes, which are single-byte characters whenever
// the first one is a letter or a separator.
static int IsAcceptedFolderForm(const char* text)
{
    unsigned char first = (unsigned char)text[0];
    if (IsSeparator(first) && text[1] == text[0])
        return 1;
    return IsDriveLetter(first) && text[1] == ':';
}

// The folder as one absolute path, the only form that later steps use: a bare drive gets its
// root ("D:" becomes "D:\"), then a drive-relative or relative part is resolved against the
// current folder of its drive as Windows resolves it, "." and ".." are taken out and "/" becomes
// "\" (GetFullPathNameA). Any folder but a root loses its trailing separator; a root keeps it,
// so that entering the folder at the launch enters the root, not the drive's last folder.
// 0 when the result does not fit a path buffer.
static int MakeFolderAbsolute(const char* text, char* folder)
{
    char typed[PathBufferSize];
    lstrcpynA(typed, text, PathBufferSize);
    if (IsDriveLetter((unsigned char)typed[0]) && typed[1] == ':' && typed[2] == '\0')
        lstrcatA(typed, "\\");
    DWORD length = GetFullPathNameA(typed, PathBufferSize, folder, nullptr);
    if (length == 0 || length >= (DWORD)PathBufferSize)
        return 0;
    char* last = LastChar(folder);
    if (IsSeparator((unsigned char)*last) && !IsDriveRoot(folder))
        *last = '\0';
    return 1;
}

// Forms folder and name in a path buffer; 0 when they do not fit, with the buffer empty.
static int FormInFolder(char* path, const char* folder, const char* name)
{
    if (lstrlenA(folder) + lstrlenA(name) >= PathBufferSize) {
        path[0] = '\0';
        return 0;
    }
    wsprintfA(path, "%s%s", folder, name);
    return 1;
}

// The form of the folder, first when OK is pressed: the field's text becomes InstallPath and
// InstallFolder, absolute. Returns 0 after the message when the text is no usable folder.
static int TakeFolderFromField(HWND dialog)
{
    char text[PathBufferSize];
    GetDlgItemTextA(dialog, ID_DESTPATH, text, FolderFieldLimit + 1);
    if (lstrlenA(text) < MinimumFolderLength || !IsAcceptedFolderForm(text)) {
        ShowMessage(dialog, IDS_INVALID_FOLDER, MB_ICONERROR);
        return 0;
    }
    char folder[PathBufferSize];
    // The folder with its backslash and the longest name put into it must fit a path buffer.
    if (!MakeFolderAbsolute(text, folder) || lstrlenA(folder) + 1 + LongestNameInFolder > FolderFieldLimit) {
        ShowMessage(dialog, IDS_INVALID_FOLDER, MB_ICONERROR);
        return 0;
    }
    lstrcpyA(InstallPath, folder);
    lstrcpyA(InstallFolder, InstallPath);
    AppendBackslash(InstallFolder);
    // Any spelling of the distribution folder counts: the text files would be copied onto
    // themselves.
    if (IsSamePath(InstallFolder, SourceFolder)) {
        ShowMessage(dialog, IDS_SAME_AS_SOURCE, MB_ICONERROR);
        return 0;
    }
    return 1;
}

// What the folder already holds: a help file that stays locked means a folder we cannot write to; a 16-bit
// copy of the product is deleted only after two Yes answers.
static int PrepareFolderContents(HWND dialog)
{
    char path[PathBufferSize];
    WIN32_FIND_DATAA found;
    FormInFolder(path, InstallFolder, "tessel.hlp");
    if (ProbeFile(path, &found) == 0 && !WaitForExclusiveAccess(path, HelpFileWait)) {
        ShowMessage(dialog, IDS_READ_ONLY_FOLDER, MB_ICONERROR);
        return 0;
    }
    if (No16BitCopy(InstallFolder) == 0) {
        if (ShowMessage(dialog, IDS_16BIT_FOUND, MB_YESNO | MB_ICONERROR | MB_DEFBUTTON2) != IDYES)
            return 0;
        if (ShowMessage(dialog, IDS_CONFIRM_DELETE_16BIT, MB_YESNO | MB_ICONQUESTION, InstallPath) != IDYES)
            return 0;
        FormInFolder(path, InstallFolder, "tessel.exe");
        RemoveFile(path);
    }
    return 1;
}

// The distribution: the text files and the payload archive must be there; their sizes give
// InstallSizeKB, counted afresh on every OK.
static int TotalInstallSize(HWND dialog)
{
    InstallSizeKB = 0;
    if (!ProcessTextFiles(dialog, 0))
        return 0;
    char path[PathBufferSize];
    WIN32_FIND_DATAA found;
    if (!FormInFolder(path, SourceFolder, "setup.tq") || ProbeFile(path, &found) != 0) {
        MessageBoxA(nullptr, "setup.tq is missing", nullptr, MB_OK);
        return 0;
    }
    InstallSizeKB = (InstallSizeKB + found.nFileSizeLow) >> 10;
    return 1;
}

// The folder becomes the current directory, created with its parents when needed.
static int EnterInstallFolder(HWND dialog)
{
    if (_chdir(InstallPath) == 0)
        return 1;
    char path[PathBufferSize];
    lstrcpyA(path, InstallPath);
    CreateFolderPath(path);
    if (_chdir(InstallPath) == 0)
        return 1;
    ShowMessage(dialog, IDS_CANNOT_CREATE_FOLDER, MB_ICONINFORMATION, InstallPath);
    return 0;
}

static void SetControlsEnabled(HWND dialog, BOOL enabled)
{
    EnableWindow(GetDlgItem(dialog, ID_DESTPATH), enabled);
    EnableWindow(GetDlgItem(dialog, IDOK), enabled);
    EnableWindow(GetDlgItem(dialog, IDCANCEL), enabled);
}

static int ShowLoadedMessage(HWND dialog, UINT id, UINT type)
{
    return MessageBoxA(dialog, LoadMessage(id), SetupTitle, type);
}

// The longer waits for the old libraries, with a line of "*" that grows by one for every
// second that they stay busy. Ends with the outcome of one last wait.
static int WaitForLibrariesShowingStars(HWND dialog, const char* stubPath, const char* workerPath)
{
    char unloading[UnloadingTextSize];
    LoadStringA(ModuleInstance, IDS_UNLOADING_EXTENSION, unloading, sizeof unloading);
    SetDlgItemTextA(dialog, IDC_INTRO_TEXT, unloading);
    SetDlgItemTextA(dialog, IDC_CHANGE_TEXT, "");
    HWND starsLine = GetDlgItem(dialog, IDC_CHANGE_TEXT);
    for (int step = 0; step < LibraryWaitSteps; ++step) {
        if (WaitForLibraryAccess(LibraryWaitStep, stubPath, workerPath))
            break;
        char stars[StarsTextSize + 1];
        GetWindowTextA(starsLine, stars, StarsTextSize);
        if (lstrlenA(stars) < StarsTextSize - 1)
            lstrcatA(stars, "*");
        SetWindowTextA(starsLine, stars);
        UpdateWindow(starsLine);
    }
    return WaitForLibraryAccess(LibraryWaitStep, stubPath, workerPath);
}

// Once the folder is settled: the stub library from the resources, the wait for
// the installed libraries, the busy program files, and writing the stub. Returns the dialog's
// result.
static int InstallStubStep(HWND dialog)
{
    if (!LoadStubPayload()) {
        Trace("Access to TQSHLEXT.DLL in resources failed.");
        ShowLoadedMessage(dialog, IDS_STUB_ACCESS_FAILED, MB_TASKMODAL | MB_ICONERROR);
        return ResultFailed;
    }

    char stubPath[PathBufferSize];
    char workerPath[PathBufferSize];
    WIN32_FIND_DATAA found;
    FormInFolder(stubPath, InstallFolder, "TQSHLSTB.DLL");
    if (ProbeFile(stubPath, &found) != 0) {
        Trace("Stub DLL does not already exist.");
        stubPath[0] = '\0';
    } else {
        Trace("Stub DLL exists - checking versions.");
        CompareStubVersion(stubPath);
    }
    FormInFolder(workerPath, InstallFolder, "tqshell1.dll");
    if (ProbeFile(workerPath, &found) == 0) {
        Trace("Worker DLL already exists.");
    } else {
        Trace("Worker DLL does not already exist.");
        workerPath[0] = '\0';
    }

    if (stubPath[0] == '\0' && workerPath[0] == '\0') {
        Trace("No exclusive access check required for shell extension DLLs.");
    } else {
        if (stubPath[0] != '\0')
            Trace("Must wait for exclusive access to stub DLL.");
        if (workerPath[0] != '\0')
            Trace("Must wait for exclusive access to worker DLL.");
        if (!WaitForLibraryAccess(FirstLibraryWait, stubPath, workerPath)
            && !WaitForLibrariesShowingStars(dialog, stubPath, workerPath)) {
            if (ShowLoadedMessage(dialog, IDS_EXTENSION_BUSY, MB_YESNO | MB_ICONERROR) != IDYES)
                return ResultFailed;
            TurnOffShellExtension();
            ShowLoadedMessage(dialog, IDS_EXTENSION_TURNED_OFF, MB_ICONINFORMATION);
            return ResultQuietExit;
        }
    }

    int busy = FindBusyFile();
    if (busy >= 0) {
        char text[BusyMessageSize];
        wsprintfA(text, LoadMessage(IDS_FILE_IN_USE), BusyCheckList[busy]);
        MessageBoxA(dialog, text, SetupTitle, MB_ICONERROR);
        return ResultFailed;
    }
    if (StubIsCurrent) {
        Trace("NOT extracting stub DLL.");
        return ResultGoOn;
    }
    if (!WriteStub()) {
        ShowLoadedMessage(dialog, IDS_STUB_CREATE_FAILED, MB_TASKMODAL | MB_ICONERROR);
        return ResultFailed;
    }
    return ResultGoOn;
}

// Until the folder is created every failure leaves the dialog open for another try; after that
// the controls are disabled and every outcome ends the dialog.
static INT_PTR InstallOnOk(HWND dialog)
{
    Trace("in IDOK dialog");
    if (!TakeFolderFromField(dialog) || !PrepareFolderContents(dialog) || !TotalInstallSize(dialog)
        || !EnterInstallFolder(dialog))
        return FALSE;
    SetControlsEnabled(dialog, FALSE);
    EndDialog(dialog, InstallStubStep(dialog));
    return FALSE;
}

static INT_PTR InstallOnCancel(HWND dialog)
{
    Trace("in IDCANCEL dialog");
    EndDialog(dialog, ResultFailed);
    return TRUE;
}

static INT_PTR InstallOnCommand(HWND dialog, WPARAM wParam)
{
    switch (LOWORD(wParam)) {
    case IDCANCEL:
        return InstallOnCancel(dialog);
    case IDOK:
        return InstallOnOk(dialog);
    case ID_DESTPATH:
        return InstallOnFieldNotification(dialog);
    case IDC_BROWSE:
        return InstallOnBrowse(dialog);
    default:
        return TRUE;
    }
}

INT_PTR CALLBACK InstallFolderDlgProc(HWND dialog, UINT msg, WPARAM wParam, LPARAM)
{
    switch (msg) {
    case WM_INITDIALOG:
        return InstallOnInitDialog(dialog);
    case WM_COMMAND:
        return InstallOnCommand(dialog, wParam);
    default:
        return FALSE;
    }
}
