// The install-folder dialog, run modally from its real template and driven from inside its own
// modal loop: the field is filled, OK pressed, and the outcome read from the message boxes, the
// shared state, the folders and files, and the dialog's result. Distribution and install
// folders are scratch folders; the registry writes land in a throw-away Wine prefix.
#include "res/resource.h"
#include "setup/setup.h"
#include "steps/steps.h"
#include "tests/support/win_test.h"
#include "ui/ui.h"

#include <gtest/gtest.h>

#include <shlobj.h>
#include <string.h>

#include <functional>
#include <string>
#include <vector>

namespace {

constexpr INT_PTR StillOpen = -2;  // the runner ended a dialog that was still open
constexpr UINT DriveMessage = WM_APP + 1;
constexpr UINT CheckOpenMessage = WM_APP + 2;

const char* const TextFileNames[] = { "README.TXT", "TESSEL.TXT", "LICENSE.TXT", "VENDOR.TXT",
                                      "WHATSNEW.TXT", "FILE_ID.DIZ", "ORDER.TXT" };
constexpr unsigned int PayloadSize = 50000;

std::function<void(HWND)> CurrentDrive;
HWND CurrentDialog;

// Runs the real dialog procedure. Once the dialog is set up, `drive` runs inside the dialog's
// modal loop; if the dialog is still open after it, the runner ends it with StillOpen.
INT_PTR CALLBACK RunnerDlgProc(HWND dialog, UINT msg, WPARAM wParam, LPARAM lParam)
{
    switch (msg) {
    case WM_INITDIALOG: {
        CurrentDialog = dialog;
        INT_PTR result = InstallFolderDlgProc(dialog, msg, wParam, lParam);
        PostMessageA(dialog, DriveMessage, 0, 0);
        return result;
    }
    case DriveMessage:
        if (CurrentDrive)
            CurrentDrive(dialog);
        // Reaches the dialog only when the drive did not end it.
        PostMessageA(dialog, CheckOpenMessage, 0, 0);
        return TRUE;
    case CheckOpenMessage:
        EndDialog(dialog, StillOpen);
        return TRUE;
    default:
        return InstallFolderDlgProc(dialog, msg, wParam, lParam);
    }
}

INT_PTR RunDialog(std::function<void(HWND)> drive)
{
    CurrentDrive = std::move(drive);
    INT_PTR result = DialogBoxParamA(ModuleInstance, MAKEINTRESOURCEA(IDD_INSTALL_FOLDER), nullptr, RunnerDlgProc, 0);
    CurrentDrive = nullptr;
    return result;
}

void PressOk(HWND dialog)
{
    SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), (LPARAM)GetDlgItem(dialog, IDOK));
}

std::string ItemText(HWND dialog, int id)
{
    char text[600];
    GetDlgItemTextA(dialog, id, text, sizeof text);
    return text;
}

std::vector<std::string> Traces;
void RecordTrace(const char* text)
{
    Traces.push_back(text);
}

bool Contains(const std::vector<std::string>& texts, const std::string& text)
{
    for (const std::string& t : texts)
        if (t == text)
            return true;
    return false;
}

FILETIME TimeOf(WORD year, WORD month, WORD day)
{
    SYSTEMTIME system = {};
    system.wYear = year;
    system.wMonth = month;
    system.wDay = day;
    system.wHour = 9;
    FILETIME time;
    SystemTimeToFileTime(&system, &time);
    return time;
}

bool SetFileTimes(const std::string& path, const FILETIME& time)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    BOOL done = SetFileTime(file, &time, &time, &time);
    CloseHandle(file);
    return done != FALSE;
}

FILETIME LastWriteOf(const std::string& path)
{
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data);
    return data.ftLastWriteTime;
}

bool SameTime(const FILETIME& a, const FILETIME& b)
{
    return a.dwLowDateTime == b.dwLowDateTime && a.dwHighDateTime == b.dwHighDateTime;
}

// Holds a file open with every other access denied, as a running program would.
class HeldFile {
public:
    explicit HeldFile(const std::string& path)
        : handle(CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr)) {}
    ~HeldFile() { Release(); }
    bool Held() const { return handle != INVALID_HANDLE_VALUE; }
    void Release()
    {
        if (handle != INVALID_HANDLE_VALUE)
            CloseHandle(handle);
        handle = INVALID_HANDLE_VALUE;
    }

private:
    HANDLE handle;
};

class InstallDialogTest : public testing::Test {
protected:
    void SetUp() override
    {
        ModuleInstance = GetModuleHandleA(nullptr);
        LoadStringA(ModuleInstance, IDS_SETUP_TITLE, SetupTitle, sizeof SetupTitle);
        SetupTimestamp = TimeOf(2024, 5, 6);
        lstrcpyA(SourceFolder, source.Path().c_str());
        InstallPath[0] = '\0';
        InstallFolder[0] = '\0';
        InstallSizeKB = 12345;
        StubIsCurrent = 0;
        Traces.clear();
        SetTraceSink(RecordTrace);
    }
    void TearDown() override
    {
        SetTraceSink(nullptr);
        // The OK handler enters the install folder; leave it so that it can be removed.
        char temp[MAX_PATH];
        GetTempPathA(sizeof temp, temp);
        SetCurrentDirectoryA(temp);
    }

    // The distribution folder: the seven text files with the setup program's time and the
    // payload archive. Returns the total of their sizes in bytes.
    unsigned int MakeDistribution(const char* leaveOut = nullptr, bool withPayload = true)
    {
        unsigned int total = 0;
        for (const char* name : TextFileNames) {
            if (leaveOut != nullptr && lstrcmpA(name, leaveOut) == 0)
                continue;
            std::string content = std::string("Contents of ") + name + "\r\n" + std::string(700, 'x');
            WriteWholeFile(source.File(name), content);
            SetFileTimes(source.File(name), SetupTimestamp);
            total += (unsigned int)content.size();
        }
        if (withPayload) {
            WriteWholeFile(source.File("setup.tq"), std::string(PayloadSize, 'p'));
            total += PayloadSize;
        }
        return total;
    }

    std::string Target(const char* name = "Tessel") const { return target.Path() + name; }

    // Runs the dialog with `text` in the field and presses OK once.
    INT_PTR RunWithOk(const std::string& text, std::function<void(HWND)> after = nullptr)
    {
        return RunDialog([&](HWND dialog) {
            SetDlgItemTextA(dialog, ID_DESTPATH, text.c_str());
            PressOk(dialog);
            if (after)
                after(dialog);
        });
    }

    ScratchFolder source;
    ScratchFolder target;
    MessageBoxRecorder boxes;
};

// --- Dialog start, the field and Cancel ---------------------------------------------------

TEST_F(InstallDialogTest, StartsCentredWithTheProposedFolderAndTheFolderBrowser)
{
    lstrcpyA(ProposedFolder, "D:\\Programs\\Tessel");
    INT_PTR result = RunDialog([](HWND dialog) {
        char caption[64];
        GetWindowTextA(dialog, caption, sizeof caption);
        EXPECT_STREQ("Tessel Setup", caption);
        EXPECT_EQ("D:\\Programs\\Tessel", ItemText(dialog, ID_DESTPATH));
        EXPECT_EQ(259, SendDlgItemMessageA(dialog, ID_DESTPATH, EM_GETLIMITTEXT, 0, 0));
        EXPECT_NE(nullptr, GetDlgItem(dialog, IDC_BROWSE));
        RECT rect;
        GetWindowRect(dialog, &rect);
        EXPECT_EQ((GetSystemMetrics(SM_CXSCREEN) - (rect.right - rect.left)) / 2, rect.left);
        EXPECT_EQ((GetSystemMetrics(SM_CYSCREEN) - (rect.bottom - rect.top)) / 2, rect.top);
    });
    EXPECT_EQ(StillOpen, result);
    EXPECT_TRUE(boxes.Boxes().empty());
    ASSERT_GE(Traces.size(), 2u);
    EXPECT_EQ("in init dialog", Traces[0]);
    EXPECT_TRUE(Contains(Traces, "exit init dialog"));

    // The folder browser's library came from the system folder.
    HMODULE shell = GetModuleHandleA("shell32.dll");
    ASSERT_NE(nullptr, shell);
    char loaded[MAX_PATH], system[MAX_PATH];
    GetModuleFileNameA(shell, loaded, sizeof loaded);
    GetSystemDirectoryA(system, sizeof system);
    EXPECT_EQ(0, _strnicmp(loaded, system, strlen(system))) << loaded;
}

TEST_F(InstallDialogTest, OkIsEnabledOnlyWhileTheFieldHoldsText)
{
    RunDialog([](HWND dialog) {
        HWND ok = GetDlgItem(dialog, IDOK);
        SetDlgItemTextA(dialog, ID_DESTPATH, "");
        EXPECT_FALSE(IsWindowEnabled(ok));
        SetDlgItemTextA(dialog, ID_DESTPATH, "C");
        EXPECT_TRUE(IsWindowEnabled(ok));
    });
    EXPECT_TRUE(Contains(Traces, "in ID_DESTPATH dialog"));
    EXPECT_TRUE(Contains(Traces, "exit ID_DESTPATH dialog"));
}

TEST_F(InstallDialogTest, CancelEndsWith1006)
{
    INT_PTR result = RunDialog([](HWND dialog) {
        SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), (LPARAM)GetDlgItem(dialog, IDCANCEL));
    });
    EXPECT_EQ(1006, result);
    EXPECT_TRUE(Contains(Traces, "in IDCANCEL dialog"));
    EXPECT_TRUE(boxes.Boxes().empty());
}

// --- The form of the folder ----------------------------------------------------------------

TEST_F(InstallDialogTest, RejectsTextsThatAreNoFolderAndStaysOpen)
{
    for (const char* text : { "C", "1:\\x", "Tessel", "\\x", "\\/", "/\\server" }) {
        boxes.Clear();
        std::string left;
        INT_PTR result = RunWithOk(text, [&](HWND dialog) { left = ItemText(dialog, ID_DESTPATH); });
        EXPECT_EQ(StillOpen, result) << text;
        EXPECT_EQ(text, left);
        ASSERT_EQ(1u, boxes.Boxes().size()) << text;
        EXPECT_EQ("Invalid destination folder", boxes.Boxes()[0].text);
        EXPECT_EQ((UINT)MB_ICONERROR, boxes.Boxes()[0].type);
        EXPECT_EQ("Tessel Setup", boxes.Boxes()[0].caption);
        EXPECT_NE(nullptr, boxes.Boxes()[0].owner);
        EXPECT_STREQ("", InstallPath) << text;
    }
}

// With an empty distribution folder an accepted folder gets as far as the text-file check,
// whose message names the first file; nothing is created.
// Every accepted text becomes one absolute folder; a drive-relative one is resolved against the
// current folder of its drive, here the scratch folder, and a root keeps its separator so that
// the launch enters the root itself.
TEST_F(InstallDialogTest, AcceptsDriveAndNetworkFormsAndMakesThemAbsolute)
{
    struct Case {
        std::string Text;
        std::string Path;
        std::string Folder;
    };
    const std::string current = target.Path();
    ASSERT_TRUE(SetCurrentDirectoryA(current.c_str()));
    const std::string drive = current.substr(0, 2);
    const Case cases[] = {
        { "C:", "C:\\", "C:\\" },
        { "C:\\", "C:\\", "C:\\" },
        { "C:\\Tessel\\", "C:\\Tessel", "C:\\Tessel\\" },
        { "c:/Apps/Tessel/", "c:\\Apps\\Tessel", "c:\\Apps\\Tessel\\" },
        { "C:\\Apps\\.\\Old\\..\\Tessel", "C:\\Apps\\Tessel", "C:\\Apps\\Tessel\\" },
        { drive + "Tessel", current + "Tessel", current + "Tessel\\" },
        { drive + ".\\Tessel\\", current + "Tessel", current + "Tessel\\" },
        { "\\\\server\\share\\folder", "\\\\server\\share\\folder", "\\\\server\\share\\folder\\" },
        { "//server/share", "\\\\server\\share", "\\\\server\\share\\" },
    };
    for (const Case& c : cases) {
        boxes.Clear();
        EXPECT_EQ(StillOpen, RunWithOk(c.Text)) << c.Text;
        EXPECT_EQ(c.Path, std::string(InstallPath)) << c.Text;
        EXPECT_EQ(c.Folder, std::string(InstallFolder)) << c.Text;
        ASSERT_EQ(1u, boxes.Boxes().size()) << c.Text;
        EXPECT_EQ(0u, boxes.Boxes()[0].text.find("Cannot find required file README.TXT.")) << boxes.Boxes()[0].text;
    }
    EXPECT_FALSE(FileExists("C:\\Tessel"));
}

// Every spelling of the distribution folder: letter case, separators, "." and "..", its 8.3
// alias, and the drive's current folder when that is the distribution folder.
TEST_F(InstallDialogTest, RefusesTheSetupProgramsOwnFolderUnderAnySpelling)
{
    std::string folder = source.Path();
    std::string upper = folder;
    CharUpperA(&upper[0]);
    std::string bare = folder.substr(0, folder.size() - 1);
    std::string slashes = folder;
    for (char& c : slashes)
        if (c == '\\')
            c = '/';
    char alias[MAX_PATH];
    ASSERT_NE(0u, GetShortPathNameA(bare.c_str(), alias, sizeof alias));
    ASSERT_NE(bare, std::string(alias)) << "the scratch folder needs a long name";
    ASSERT_TRUE(SetCurrentDirectoryA(bare.c_str()));
    const std::string drive = folder.substr(0, 2);
    const std::string name = bare.substr(bare.rfind('\\') + 1);
    for (const std::string& text : { folder, upper, bare, folder + ".", upper + "\\", slashes,
                                     folder + "sub\\..", std::string(alias), drive + ".",
                                     drive + "..\\" + name }) {
        boxes.Clear();
        EXPECT_EQ(StillOpen, RunWithOk(text)) << text;
        ASSERT_EQ(1u, boxes.Boxes().size()) << text;
        EXPECT_EQ(0u, boxes.Boxes()[0].text.find("\"Install To\" folder must be different")) << boxes.Boxes()[0].text;
        EXPECT_EQ((UINT)MB_ICONERROR, boxes.Boxes()[0].type);
    }
}

TEST_F(InstallDialogTest, RefusesAFolderWhoseTooLongPathLeavesNoRoomForItsFiles)
{
    // 247 characters and a backslash leave no room for "TQSHLSTB.DLL" in a 260-byte path.
    std::string text = "C:\\" + std::string(244, 'a');
    EXPECT_EQ(StillOpen, RunWithOk(text));
    ASSERT_EQ(1u, boxes.Boxes().size());
    EXPECT_EQ("Invalid destination folder", boxes.Boxes()[0].text);
}

// Under a double-byte code page the last byte of a folder name may have the value of "\\"
// (0x5C) as the second byte of a character; it is no separator and stays. The group
// install_dialog_dbcs runs this under code page 932. (Wine here cannot create folders with such
// names, so the empty distribution stops the handler at the text-file check.)
TEST_F(InstallDialogTest, DoubleByteFolderKeepsTheTrailByteThatLooksLikeABackslash)
{
    ASSERT_EQ(932u, GetACP()) << "run as install_dialog_dbcs (LANG=ja_JP.UTF-8)";
    const std::string table = "\x95\x5C";  // U+8868 in code page 932
    const std::string folder = "C:\\Apps\\" + table;
    for (const std::string& text : { folder, folder + "\\" }) {
        boxes.Clear();
        EXPECT_EQ(StillOpen, RunWithOk(text));
        EXPECT_EQ(folder, std::string(InstallPath));
        EXPECT_EQ(folder + "\\", std::string(InstallFolder));
        ASSERT_EQ(1u, boxes.Boxes().size());
        EXPECT_EQ(0u, boxes.Boxes()[0].text.find("Cannot find required file README.TXT."));
    }
}

// --- What the folder already holds ------------------------------------------------------

TEST_F(InstallDialogTest, AHelpFileHeldByAnotherProgramMeansReadOnly)
{
    CreateDirectoryA(Target().c_str(), nullptr);
    std::string help = Target() + "\\tessel.hlp";
    WriteWholeFile(help, "help");
    HeldFile held(help);
    ASSERT_TRUE(held.Held());
    DWORD start = GetTickCount();
    EXPECT_EQ(StillOpen, RunWithOk(Target()));
    DWORD elapsed = GetTickCount() - start;
    ASSERT_EQ(1u, boxes.Boxes().size());
    EXPECT_EQ("\"Install To\" folder appears to be read-only or write protected.  Please specify a different folder.",
              boxes.Boxes()[0].text);
    EXPECT_GE(elapsed, HelpFileWait);

    // Once free, the help file is no obstacle (the next message is the text-file check).
    held.Release();
    boxes.Clear();
    RunWithOk(Target());
    ASSERT_EQ(1u, boxes.Boxes().size());
    EXPECT_EQ(0u, boxes.Boxes()[0].text.find("Cannot find required file"));
}

TEST_F(InstallDialogTest, A16BitCopyIsDeletedOnlyAfterTwoYesAnswers)
{
    CreateDirectoryA(Target().c_str(), nullptr);
    std::string old = Target() + "\\tessel.exe";
    WriteWholeFile(old, "MZ 16-bit");

    boxes.Answer(IDNO);
    EXPECT_EQ(StillOpen, RunWithOk(Target()));
    ASSERT_EQ(1u, boxes.Boxes().size());
    EXPECT_EQ((UINT)(MB_YESNO | MB_ICONERROR | MB_DEFBUTTON2), boxes.Boxes()[0].type);
    EXPECT_EQ(0u, boxes.Boxes()[0].text.find("The selected \"Install To\" folder contains the 16-bit"));
    EXPECT_TRUE(FileExists(old));

    boxes.Clear();
    boxes.Answer(IDYES);
    boxes.Answer(IDNO);
    EXPECT_EQ(StillOpen, RunWithOk(Target()));
    ASSERT_EQ(2u, boxes.Boxes().size());
    EXPECT_EQ((UINT)(MB_YESNO | MB_ICONQUESTION), boxes.Boxes()[1].type);
    EXPECT_NE(std::string::npos, boxes.Boxes()[1].text.find("from the folder\n\n\t" + Target() + "\n\nNote"));
    EXPECT_TRUE(FileExists(old));

    boxes.Clear();
    boxes.Answer(IDYES);
    boxes.Answer(IDYES);
    EXPECT_EQ(StillOpen, RunWithOk(Target()));
    ASSERT_EQ(3u, boxes.Boxes().size());
    EXPECT_EQ(0u, boxes.Boxes()[2].text.find("Cannot find required file"));  // went on
    EXPECT_FALSE(FileExists(old));
}

// --- The distribution ----------------------------------------------------------------------

TEST_F(InstallDialogTest, AMissingTextFileIsNamed)
{
    MakeDistribution("VENDOR.TXT");
    EXPECT_EQ(StillOpen, RunWithOk(Target()));
    ASSERT_EQ(1u, boxes.Boxes().size());
    EXPECT_EQ("Cannot find required file VENDOR.TXT.  Please verify that the file exists on the installation disk.",
              boxes.Boxes()[0].text);
    EXPECT_EQ(CurrentDialog, boxes.Boxes()[0].owner);
    EXPECT_FALSE(FileExists(Target()));
}

TEST_F(InstallDialogTest, ATextFileFromAnotherBuildIsNamed)
{
    MakeDistribution();
    SetFileTimes(source.File("ORDER.TXT"), TimeOf(2024, 5, 7));
    EXPECT_EQ(StillOpen, RunWithOk(Target()));
    ASSERT_EQ(1u, boxes.Boxes().size());
    EXPECT_EQ("Date/time stamp on the file ORDER.TXT does not match the date/time stamp on SETUP.EXE.",
              boxes.Boxes()[0].text);
    EXPECT_EQ(CurrentDialog, boxes.Boxes()[0].owner);
    EXPECT_FALSE(FileExists(Target()));
}

TEST_F(InstallDialogTest, AMissingPayloadIsReportedWithoutCaptionAndCountedAfreshNextTime)
{
    unsigned int total = MakeDistribution(nullptr, false);
    INT_PTR result = RunDialog([&](HWND dialog) {
        SetDlgItemTextA(dialog, ID_DESTPATH, Target().c_str());
        PressOk(dialog);
        ASSERT_EQ(1u, boxes.Boxes().size());
        EXPECT_EQ("setup.tq is missing", boxes.Boxes()[0].text);
        EXPECT_TRUE(boxes.Boxes()[0].defaultCaption);
        EXPECT_EQ(nullptr, boxes.Boxes()[0].owner);
        EXPECT_EQ((UINT)MB_OK, boxes.Boxes()[0].type);
        EXPECT_FALSE(FileExists(Target()));
        EXPECT_TRUE(IsWindowEnabled(GetDlgItem(dialog, IDOK)));

        // The payload turns up; the second OK totals the sizes again from 0.
        WriteWholeFile(source.File("setup.tq"), std::string(PayloadSize, 'p'));
        PressOk(dialog);
    });
    EXPECT_EQ(1, result);
    EXPECT_EQ(1u, boxes.Boxes().size());
    EXPECT_EQ((total + PayloadSize) / 1024, InstallSizeKB);
}

TEST_F(InstallDialogTest, AFolderThatCannotBeCreatedKeepsTheDialogOpen)
{
    MakeDistribution();
    // A file stands where a parent folder would have to be.
    WriteWholeFile(target.File("blocked"), "not a folder");
    std::string text = target.Path() + "blocked\\Tessel";
    bool stillEnabled = false;
    EXPECT_EQ(StillOpen, RunWithOk(text, [&](HWND dialog) {
        stillEnabled = IsWindowEnabled(GetDlgItem(dialog, IDOK)) && IsWindowEnabled(GetDlgItem(dialog, ID_DESTPATH));
    }));
    ASSERT_EQ(1u, boxes.Boxes().size());
    EXPECT_EQ("The " + text + " folder cannot be created.\nEnter another folder or try another drive.", boxes.Boxes()[0].text);
    EXPECT_EQ((UINT)MB_ICONINFORMATION, boxes.Boxes()[0].type);
    EXPECT_TRUE(stillEnabled);
}

// --- The folder is created and the stub installed ------------------------------------------

TEST_F(InstallDialogTest, CreatesTheFolderWithItsParentsAndWritesTheStub)
{
    unsigned int total = MakeDistribution();
    std::string folder = target.Path() + "Programs\\Vendor\\Tessel";
    bool disabled = false;
    INT_PTR result = RunWithOk(folder + "\\", [&](HWND dialog) {
        disabled = !IsWindowEnabled(GetDlgItem(dialog, IDOK)) && !IsWindowEnabled(GetDlgItem(dialog, IDCANCEL))
                && !IsWindowEnabled(GetDlgItem(dialog, ID_DESTPATH));
    });
    EXPECT_EQ(1, result);
    EXPECT_TRUE(boxes.Boxes().empty());
    EXPECT_TRUE(disabled);
    EXPECT_STREQ(folder.c_str(), InstallPath);
    EXPECT_EQ(folder + "\\", std::string(InstallFolder));
    EXPECT_EQ(total / 1024, InstallSizeKB);

    char current[MAX_PATH];
    GetCurrentDirectoryA(sizeof current, current);
    EXPECT_EQ(0, lstrcmpiA(folder.c_str(), current));

    std::string stub = folder + "\\TQSHLSTB.DLL";
    HRSRC resource = FindResourceA(ModuleInstance, STUB_RESOURCE_NAME, STUB_RESOURCE_TYPE);
    ASSERT_NE(nullptr, resource);
    std::string expected((const char*)LockResource(LoadResource(ModuleInstance, resource)),
                         SizeofResource(ModuleInstance, resource));
    EXPECT_EQ(expected, ReadWholeFile(stub));
    EXPECT_TRUE(SameTime(SetupTimestamp, LastWriteOf(stub)));
    EXPECT_TRUE(Contains(Traces, "in IDOK dialog"));
    EXPECT_TRUE(Contains(Traces, "No exclusive access check required for shell extension DLLs."));
}

TEST_F(InstallDialogTest, KeepsAnInstalledStubOfTheSameVersion)
{
    MakeDistribution();
    CreateDirectoryA(Target().c_str(), nullptr);
    HRSRC resource = FindResourceA(ModuleInstance, STUB_RESOURCE_NAME, STUB_RESOURCE_TYPE);
    ASSERT_NE(nullptr, resource);
    std::string bytes((const char*)LockResource(LoadResource(ModuleInstance, resource)),
                      SizeofResource(ModuleInstance, resource));
    std::string stub = Target() + "\\TQSHLSTB.DLL";
    WriteWholeFile(stub, bytes);
    FILETIME earlier = TimeOf(2020, 1, 2);
    SetFileTimes(stub, earlier);

    EXPECT_EQ(1, RunWithOk(Target()));
    EXPECT_TRUE(boxes.Boxes().empty());
    EXPECT_EQ(1, StubIsCurrent);
    EXPECT_TRUE(SameTime(earlier, LastWriteOf(stub)));  // not written again
    EXPECT_TRUE(Contains(Traces, "NOT extracting stub DLL."));
}

TEST_F(InstallDialogTest, ABusyProgramFileIsNamedBare)
{
    MakeDistribution();
    CreateDirectoryA(Target().c_str(), nullptr);
    std::string program = Target() + "\\tqsfx32.exe";
    WriteWholeFile(program, "MZ");
    HeldFile held(program);
    ASSERT_TRUE(held.Held());
    EXPECT_EQ(1006, RunWithOk(Target()));
    ASSERT_EQ(1u, boxes.Boxes().size());
    EXPECT_EQ("The file tqsfx32.exe is in use, possibly by another user. That user must log off before you can "
              "install Tessel.",
              boxes.Boxes()[0].text);
    EXPECT_EQ((UINT)MB_ICONERROR, boxes.Boxes()[0].type);
    EXPECT_EQ("Tessel Setup", boxes.Boxes()[0].caption);
    EXPECT_FALSE(FileExists(Target() + "\\TQSHLSTB.DLL"));
}

// Every text that the stars line (IDC_CHANGE_TEXT) of the running dialog takes, read back as
// each WM_SETTEXT returns, so that no star goes unseen however the waits are timed. OnStarsLine
// runs on each.
std::vector<std::string> StarsLines;
std::function<void(const std::string&)> OnStarsLine;
LRESULT CALLBACK RecordStarsLine(int code, WPARAM wParam, LPARAM lParam)
{
    const CWPRETSTRUCT* sent = (const CWPRETSTRUCT*)lParam;
    if (code == HC_ACTION && sent->message == WM_SETTEXT && CurrentDialog != nullptr
        && sent->hwnd == GetDlgItem(CurrentDialog, IDC_CHANGE_TEXT)) {
        StarsLines.push_back(ItemText(CurrentDialog, IDC_CHANGE_TEXT));
        if (OnStarsLine)
            OnStarsLine(StarsLines.back());
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

class StarsLineRecorder {
public:
    explicit StarsLineRecorder(std::function<void(const std::string&)> onLine = nullptr)
        : hook(SetWindowsHookExA(WH_CALLWNDPROCRET, RecordStarsLine, nullptr, GetCurrentThreadId()))
    {
        StarsLines.clear();
        OnStarsLine = std::move(onLine);
    }
    ~StarsLineRecorder()
    {
        UnhookWindowsHookEx(hook);
        OnStarsLine = nullptr;
    }
    bool Hooked() const { return hook != nullptr; }

    // The lines that are stars only, in order: one more for every wait step that ran out.
    static std::vector<std::string> Stars()
    {
        std::vector<std::string> stars;
        for (const std::string& line : StarsLines)
            if (!line.empty() && line.find_first_not_of('*') == std::string::npos)
                stars.push_back(line);
        return stars;
    }

private:
    HHOOK hook;
};

std::vector<std::string> StarsUpTo(size_t count)
{
    std::vector<std::string> lines;
    for (size_t n = 1; n <= count; ++n)
        lines.push_back(std::string(n, '*'));
    return lines;
}

// Counts the timer's ticks, which come only while the waits dispatch the thread's messages.
int WaitTicks;
void CALLBACK CountWaitTick(HWND, UINT, UINT_PTR, DWORD)
{
    ++WaitTicks;
}

// An old worker library that some process keeps loaded for the whole time: the first wait,
// LibraryWaitSteps steps with a star each and one step more, then the question.
class BusyLibraryTest : public InstallDialogTest {
protected:
    INT_PTR RunWithHeldWorker()
    {
        MakeDistribution();
        CreateDirectoryA(Target().c_str(), nullptr);
        std::string worker = Target() + "\\tqshell1.dll";
        WriteWholeFile(worker, "old worker");
        HeldFile held(worker);
        EXPECT_TRUE(held.Held());
        // Between the first star and the last only the waits can dispatch the timer's ticks.
        StarsLineRecorder recorder([&](const std::string& line) {
            if (line == "*")
                ticksAtFirstStar = WaitTicks;
            else if (line == std::string(LibraryWaitSteps, '*'))
                ticksAtLastStar = WaitTicks;
        });
        EXPECT_TRUE(recorder.Hooked());
        WaitTicks = 0;
        UINT_PTR timer = SetTimer(nullptr, 0, USER_TIMER_MINIMUM, CountWaitTick);
        DWORD start = GetTickCount();
        INT_PTR result = RunWithOk(Target(), [&](HWND dialog) {
            intro = ItemText(dialog, IDC_INTRO_TEXT);
            stars = ItemText(dialog, IDC_CHANGE_TEXT);
        });
        elapsed = GetTickCount() - start;
        KillTimer(nullptr, timer);
        starsLines = recorder.Stars();
        return result;
    }
    std::string intro;
    std::string stars;
    std::vector<std::string> starsLines;
    int ticksAtFirstStar = 0;
    int ticksAtLastStar = 0;
    DWORD elapsed = 0;
};

TEST_F(BusyLibraryTest, NeverReleasedShowsFifteenStarsThenYesTurnsTheExtensionOff)
{
    boxes.Answer(IDYES);
    EXPECT_EQ(0, RunWithHeldWorker());
    EXPECT_GE(elapsed, FirstLibraryWait + (LibraryWaitSteps + 1) * LibraryWaitStep);
    EXPECT_EQ("Please wait a moment while the Tessel Shell Extension is unloaded.", intro);
    EXPECT_EQ(std::string(15, '*'), stars);
    // The stars came one by one, and the waits kept dispatching the thread's messages.
    EXPECT_EQ(StarsUpTo(15), starsLines);
    EXPECT_GT(ticksAtLastStar, ticksAtFirstStar);

    ASSERT_EQ(2u, boxes.Boxes().size());
    EXPECT_EQ(0u, boxes.Boxes()[0].text.find("Setup can not close the \"Tessel Shell Extension\""));
    EXPECT_EQ(402u, boxes.Boxes()[0].text.size());  // the whole chain 1039 to 1042
    EXPECT_EQ((UINT)(MB_YESNO | MB_ICONERROR), boxes.Boxes()[0].type);
    EXPECT_EQ(0u, boxes.Boxes()[1].text.find("\nTessel's Shell Extension has been temporarily turned off."));
    EXPECT_EQ((UINT)MB_ICONINFORMATION, boxes.Boxes()[1].type);

    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Ostrel Computing\\Tessel\\fm", 0, KEY_READ, &key));
    char value[8] = {};
    DWORD size = sizeof value;
    EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExA(key, "shlExt", nullptr, nullptr, (BYTE*)value, &size));
    EXPECT_STREQ("0", value);
    RegCloseKey(key);
    EXPECT_FALSE(FileExists(Target() + "\\TQSHLSTB.DLL"));
}

TEST_F(BusyLibraryTest, NeverReleasedAndNoEndsWith1006)
{
    boxes.Answer(IDNO);
    EXPECT_EQ(1006, RunWithHeldWorker());
    EXPECT_EQ(std::string(15, '*'), stars);
    ASSERT_EQ(1u, boxes.Boxes().size());
    EXPECT_EQ((UINT)(MB_YESNO | MB_ICONERROR), boxes.Boxes()[0].type);
    EXPECT_FALSE(FileExists(Target() + "\\TQSHLSTB.DLL"));
}

TEST_F(InstallDialogTest, ALibraryReleasedDuringTheWaitLetsTheInstallGoOn)
{
    MakeDistribution();
    CreateDirectoryA(Target().c_str(), nullptr);
    std::string stub = Target() + "\\TQSHLSTB.DLL";
    WriteWholeFile(stub, "an old stub without a version record");
    HeldFile held(stub);
    ASSERT_TRUE(held.Held());
    // The holder lets go once the second star is shown: a later wait step finds it free (the
    // next one, unless the thread lost the whole step to other processes before trying).
    StarsLineRecorder recorder([&](const std::string& line) {
        if (line == "**")
            held.Release();
    });
    ASSERT_TRUE(recorder.Hooked());
    std::string stars;
    EXPECT_EQ(1, RunWithOk(Target(), [&](HWND dialog) { stars = ItemText(dialog, IDC_CHANGE_TEXT); }));
    EXPECT_TRUE(boxes.Boxes().empty());
    EXPECT_GE(stars.size(), 2u);
    EXPECT_LT(stars.size(), (size_t)LibraryWaitSteps);
    EXPECT_EQ(StarsUpTo(stars.size()), recorder.Stars());
    EXPECT_TRUE(Contains(Traces, "Must wait for exclusive access to stub DLL."));
    EXPECT_NE("an old stub without a version record", ReadWholeFile(stub));  // replaced
}

// --- The browse flow -------------------------------------------------------------------

TEST(AppendProductFolder, AddsTesselUnlessTheLastComponentStartsWithIt)
{
    struct Case {
        const char* Chosen;
        const char* Result;
    };
    const Case cases[] = {
        { "D:\\Apps", "D:\\Apps\\Tessel" },
        { "E:\\", "E:\\Tessel" },
        { "D:/Apps/", "D:/Apps/Tessel" },
        { "D:\\Apps\\TESSEL Old", "D:\\Apps\\TESSEL Old" },
        { "D:\\Apps\\tessel", "D:\\Apps\\tessel" },
        { "D:\\Tessel\\Apps", "D:\\Tessel\\Apps\\Tessel" },
        { "D:\\Apps\\Tesse", "D:\\Apps\\Tesse\\Tessel" },
        { "Tessel", "Tessel\\Tessel" },  // no separator at all
        { "", "\\Tessel" },
    };
    for (const Case& c : cases) {
        char path[MAX_PATH];
        lstrcpyA(path, c.Chosen);
        EXPECT_EQ(1, AppendProductFolder(path, sizeof path)) << c.Chosen;
        EXPECT_STREQ(c.Result, path) << c.Chosen;
    }
}

TEST(AppendProductFolder, LeavesAPathThatWouldNotFitUnchanged)
{
    char path[MAX_PATH];
    std::string chosen = "C:\\" + std::string(249, 'f');  // 252 characters
    lstrcpyA(path, chosen.c_str());
    EXPECT_EQ(1, AppendProductFolder(path, 260));  // 252 + 7 characters and the NUL fill 260
    EXPECT_EQ(chosen + "\\Tessel", std::string(path));

    chosen += "g";
    lstrcpyA(path, chosen.c_str());
    EXPECT_EQ(0, AppendProductFolder(path, 260));
    EXPECT_EQ(chosen, std::string(path));
}

// Drives the system's folder browser: once it is up, press its OK, which takes the folder it
// starts with, the desktop. (Wine's browser does not follow BFFM_SETSELECTION to a folder.)
RECT BrowserRect;
bool BrowserSeen;
BOOL CALLBACK FindBrowser(HWND window, LPARAM found)
{
    char className[16] = "";
    GetClassNameA(window, className, sizeof className);
    if (IsWindowVisible(window) && lstrcmpA(className, "#32770") == 0 && window != CurrentDialog) {
        *(HWND*)found = window;
        return FALSE;
    }
    return TRUE;
}

void CALLBACK ChooseInBrowser(HWND, UINT, UINT_PTR timer, DWORD)
{
    HWND browser = nullptr;
    EnumThreadWindows(GetCurrentThreadId(), FindBrowser, (LPARAM)&browser);
    if (browser == nullptr)
        return;
    KillTimer(nullptr, timer);
    BrowserSeen = true;
    GetWindowRect(browser, &BrowserRect);
    PostMessageA(browser, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), (LPARAM)GetDlgItem(browser, IDOK));
}

TEST_F(InstallDialogTest, BrowsingToAFolderPutsTesselBelowIt)
{
    BrowserSeen = false;
    std::string field;
    RunDialog([&](HWND dialog) {
        ShowWindow(dialog, SW_SHOW);
        UINT_PTR timer = SetTimer(nullptr, 0, 300, ChooseInBrowser);
        SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDC_BROWSE, BN_CLICKED), (LPARAM)GetDlgItem(dialog, IDC_BROWSE));
        KillTimer(nullptr, timer);
        field = ItemText(dialog, ID_DESTPATH);
    });
    ASSERT_TRUE(BrowserSeen);
    typedef BOOL(WINAPI * SpecialFolderPathProc)(HWND, LPSTR, int, BOOL);
    auto specialFolderPath = (SpecialFolderPathProc)(void*)GetProcAddress(GetModuleHandleA("shell32.dll"), "SHGetSpecialFolderPathA");
    ASSERT_NE(nullptr, specialFolderPath);
    char desktop[MAX_PATH];
    ASSERT_TRUE(specialFolderPath(nullptr, desktop, CSIDL_DESKTOPDIRECTORY, FALSE));
    EXPECT_EQ(0, lstrcmpiA((std::string(desktop) + "\\Tessel").c_str(), field.c_str())) << field;

    // The browser was centred by the callback when it reported itself initialised.
    int width = BrowserRect.right - BrowserRect.left;
    int height = BrowserRect.bottom - BrowserRect.top;
    EXPECT_EQ((GetSystemMetrics(SM_CXSCREEN) - width) / 2, BrowserRect.left);
    EXPECT_EQ((GetSystemMetrics(SM_CYSCREEN) - height) / 2, BrowserRect.top);
}

}  // namespace
