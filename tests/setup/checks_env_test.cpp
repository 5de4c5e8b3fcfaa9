// Environment checks: the registry access probe, the wait for a running main program, closing
// the tray helper and unloading the File Manager extension, against stand-in programs.
#include "checks_support.h"

#include "res/resource.h"
#include "setup/setup.h"
#include "ui/ui.h"

#include <gtest/gtest.h>
#include <algorithm>
#include <stdio.h>
#include <string>

static const char NullGuidKey[] = "CLSID\\{00000000-0000-0000-0000-000000000000}";
static const char ProbeValue[] = "K82M4TV7QP3RJ";
static const char SnapdeckKey[] = "Software\\Ostrel Computing\\Tessel\\Tessel";
static const char SnapdeckValue[] = "Snapdeck Window Handle";

// ---- access probe ---------------------------------------------------------------------------

TEST(HasLimitedAccess, ProbeLeavesNoKeyAndNoValueBehind)
{
    ASSERT_FALSE(KeyExists(HKEY_CLASSES_ROOT, NullGuidKey));
    EXPECT_EQ(0, HasLimitedAccess());
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, NullGuidKey));
    EXPECT_FALSE(ValueExists(HKEY_CLASSES_ROOT, "CLSID", ProbeValue));
    EXPECT_EQ(1, CanWriteUnderKey(HKEY_CLASSES_ROOT, "CLSID", "{00000000-0000-0000-0000-000000000000}"));
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, NullGuidKey));
}

TEST(HasLimitedAccess, ExistingNullGuidKeyIsProbedWithAValueAndKept)
{
    SetStringValue(HKEY_CLASSES_ROOT, NullGuidKey, "Owner", "someone else");
    EXPECT_EQ(0, HasLimitedAccess());
    EXPECT_TRUE(ValueExists(HKEY_CLASSES_ROOT, NullGuidKey, "Owner"));
    EXPECT_FALSE(ValueExists(HKEY_CLASSES_ROOT, NullGuidKey, ProbeValue));
    DeleteTree(HKEY_CLASSES_ROOT, NullGuidKey);
}

TEST(CanOpenKey, OpensOnlyKeysThatExist)
{
    EXPECT_EQ(1, CanOpenKey(HKEY_CLASSES_ROOT, "CLSID", KEY_READ));
    EXPECT_EQ(0, CanOpenKey(HKEY_CLASSES_ROOT, "CLSID\\{no such class}", KEY_READ));
    EXPECT_EQ(0, CanWriteUnderKey(HKEY_CLASSES_ROOT, "No Such Key Here", "child"));
}

// Wine grants every access to its single user, so refusals are made at the import table: the
// product code calls the registry through the same slots as the test program.
typedef LONG(WINAPI* OpenKeyProc)(HKEY, LPCSTR, DWORD, REGSAM, PHKEY);
typedef LONG(WINAPI* ValueProc)(HKEY, LPCSTR);
static OpenKeyProc RealOpenKey;
static REGSAM RefusedRights;

static LONG WINAPI RefusingOpenKey(HKEY root, LPCSTR path, DWORD options, REGSAM rights, PHKEY key)
{
    if (root == HKEY_CLASSES_ROOT && lstrcmpiA(path, "CLSID") == 0 && (rights & RefusedRights) != 0)
        return ERROR_ACCESS_DENIED;
    return RealOpenKey(root, path, options, rights, key);
}

static LONG WINAPI FailingDeleteValue(HKEY, LPCSTR)
{
    return ERROR_ACCESS_DENIED;
}

TEST(HasLimitedAccess, ReaderWithoutWriteRightsIsRefused)
{
    ImportPatch patch("advapi32.dll", "RegOpenKeyExA", (void*)RefusingOpenKey);
    ASSERT_TRUE(patch.Active());
    RealOpenKey = (OpenKeyProc)patch.Original();
    RefusedRights = KEY_SET_VALUE | KEY_CREATE_SUB_KEY;
    EXPECT_EQ(1, HasLimitedAccess());
}

TEST(HasLimitedAccess, UserWhoCannotReadIsNotRefused)
{
    ImportPatch patch("advapi32.dll", "RegOpenKeyExA", (void*)RefusingOpenKey);
    ASSERT_TRUE(patch.Active());
    RealOpenKey = (OpenKeyProc)patch.Original();
    RefusedRights = KEY_ALL_ACCESS; // every open of CLSID fails
    EXPECT_EQ(0, HasLimitedAccess());
}

TEST(HasLimitedAccess, ValueThatCouldNotBeRemovedCountsAsFailure)
{
    CreateKey(HKEY_CLASSES_ROOT, NullGuidKey);
    {
        ImportPatch patch("advapi32.dll", "RegDeleteValueA", (void*)FailingDeleteValue);
        ASSERT_TRUE(patch.Active());
        EXPECT_EQ(1, HasLimitedAccess());
    }
    // The value stays where the probe wrote it; the key was there before and stays too.
    EXPECT_TRUE(ValueExists(HKEY_CLASSES_ROOT, NullGuidKey, ProbeValue));
    DeleteTree(HKEY_CLASSES_ROOT, NullGuidKey);
}

static LONG WINAPI RefusingNullGuidOpen(HKEY root, LPCSTR path, DWORD options, REGSAM rights, PHKEY key)
{
    if (lstrcmpiA(path, "{00000000-0000-0000-0000-000000000000}") == 0 && (rights & KEY_SET_VALUE) != 0)
        return ERROR_ACCESS_DENIED;
    return RealOpenKey(root, path, options, rights, key);
}

// A null-GUID key that exists but refuses the write rights is opened by the create call; the
// probe did not make it, so it must not delete it, and nothing was written.
TEST(HasLimitedAccess, ExistingKeyThatRefusesWritingIsNeverDeleted)
{
    SetStringValue(HKEY_CLASSES_ROOT, NullGuidKey, "Owner", "someone else");
    {
        ImportPatch patch("advapi32.dll", "RegOpenKeyExA", (void*)RefusingNullGuidOpen);
        ASSERT_TRUE(patch.Active());
        RealOpenKey = (OpenKeyProc)patch.Original();
        EXPECT_EQ(1, HasLimitedAccess());
    }
    EXPECT_TRUE(ValueExists(HKEY_CLASSES_ROOT, NullGuidKey, "Owner"));
    EXPECT_FALSE(ValueExists(HKEY_CLASSES_ROOT, NullGuidKey, ProbeValue));
    DeleteTree(HKEY_CLASSES_ROOT, NullGuidKey);
}

// ---- running main program -------------------------------------------------------------------

class MainProgramTest : public ::testing::Test {
protected:
    void SetUp() override { LoadSetupStrings(); }
};

TEST_F(MainProgramTest, NoWindowMeansNoMessage)
{
    MessageBoxRecorder boxes;
    EXPECT_EQ(1, WaitForMainProgramToClose());
    EXPECT_TRUE(boxes.Boxes().empty());
}

TEST_F(MainProgramTest, RetryWhileRunningAsksAgainAndRetryAfterCloseGoesOn)
{
    for (const char* windowClass : {"Tessel2WClass", "TesselWClass"}) {
        SCOPED_TRACE(windowClass);
        StandIn program;
        ASSERT_TRUE(program.Start(std::string("main ") + windowClass));
        ASSERT_TRUE(WaitUntil([&] { return FindWindowA(windowClass, nullptr) != nullptr; }, 10000));

        TraceRecorder trace;
        MessageBoxRecorder boxes;
        // The second time round the user closes the program before pressing Retry.
        ScriptedMessageBoxes answers([&](size_t index) {
            if (index == 1)
                program.CloseWindowOfClass(windowClass);
            return IDRETRY;
        });
        EXPECT_EQ(1, WaitForMainProgramToClose());
        ASSERT_EQ(2u, boxes.Boxes().size());
        for (const RecordedBox& box : boxes.Boxes()) {
            EXPECT_EQ(nullptr, box.owner);
            EXPECT_EQ(UINT(MB_RETRYCANCEL | MB_ICONERROR), box.type);
            EXPECT_STREQ(SetupTitle, box.caption.c_str());
            EXPECT_EQ(0u, box.text.find("Setup cannot install Tessel now because another version"));
        }
        EXPECT_EQ(2, std::count(trace.Texts.begin(), trace.Texts.end(),
                                std::string("Setup detected that Tessel is runnning")));
    }
}

TEST_F(MainProgramTest, CancelEnds)
{
    StandIn program;
    ASSERT_TRUE(program.Start("main Tessel2WClass"));
    ASSERT_TRUE(WaitUntil([] { return FindWindowA("Tessel2WClass", nullptr) != nullptr; }, 10000));
    MessageBoxRecorder boxes;
    boxes.Answer(IDCANCEL);
    EXPECT_EQ(0, WaitForMainProgramToClose());
    ASSERT_EQ(1u, boxes.Boxes().size());
    EXPECT_EQ((std::vector<int>{IDCANCEL, IDRETRY}), boxes.Boxes()[0].buttons);

    // A box that could not be shown (0) counts as Cancel, never as Retry.
    {
        ScriptedMessageBoxes failing([](size_t index) { return index == 0 ? 0 : IDCANCEL; });
        EXPECT_EQ(0, WaitForMainProgramToClose());
        EXPECT_EQ(1u, failing.Count);
    }
    EXPECT_TRUE(program.CloseWindowOfClass("Tessel2WClass"));
}

// ---- tray helper ----------------------------------------------------------------------------

static void SetRawValue(DWORD type, const void* data, DWORD size)
{
    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, SnapdeckKey, 0, nullptr, 0, KEY_ALL_ACCESS,
                                             nullptr, &key, nullptr));
    RegSetValueExA(key, SnapdeckValue, 0, type, (const BYTE*)data, size);
    RegCloseKey(key);
}

TEST(GetSnapdeckWindow, ReadsTheDecimalHandleAndNothingElse)
{
    DeleteTree(HKEY_CURRENT_USER, SnapdeckKey);
    EXPECT_EQ(nullptr, GetSnapdeckWindow()); // no key

    SetStringValue(HKEY_CURRENT_USER, SnapdeckKey, SnapdeckValue, "123456");
    EXPECT_EQ((HWND)123456, GetSnapdeckWindow());
    SetStringValue(HKEY_CURRENT_USER, SnapdeckKey, SnapdeckValue, "not a handle");
    EXPECT_EQ(nullptr, GetSnapdeckWindow());
    SetStringValue(HKEY_CURRENT_USER, SnapdeckKey, SnapdeckValue, "");
    EXPECT_EQ(nullptr, GetSnapdeckWindow());

    // 32 digits without a terminating NUL fill the whole buffer: still read, never overrun.
    const char digits[] = "00000000000000000000000000004660";
    SetRawValue(REG_BINARY, digits, 32);
    EXPECT_EQ((HWND)4660, GetSnapdeckWindow());
    // A value longer than 32 bytes cannot be read and counts as none.
    const char tooLong[] = "0000000000000000000000000000000004660";
    SetRawValue(REG_SZ, tooLong, sizeof tooLong);
    EXPECT_EQ(nullptr, GetSnapdeckWindow());

    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CURRENT_USER, SnapdeckKey, 0, KEY_ALL_ACCESS, &key));
    RegDeleteValueA(key, SnapdeckValue);
    RegCloseKey(key);
    EXPECT_EQ(nullptr, GetSnapdeckWindow()); // key without the value
    DeleteTree(HKEY_CURRENT_USER, SnapdeckKey);
}

class SnapdeckTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char temp[MAX_PATH];
        GetTempPathA(sizeof temp, temp);
        logPath = std::string(temp) + "tq_snapdeck.log";
        DeleteFileA(logPath.c_str());
        DeleteTree(HKEY_CURRENT_USER, SnapdeckKey);
    }
    void TearDown() override
    {
        DeleteFileA(logPath.c_str());
        DeleteTree(HKEY_CURRENT_USER, SnapdeckKey);
    }
    std::string logPath;
};

TEST_F(SnapdeckTest, RunningHelperGetsTheCloseCommandAndEnds)
{
    StandIn helper;
    ASSERT_TRUE(helper.Start("tray \"" + logPath + "\""));
    ASSERT_TRUE(WaitUntil([] { return GlobalFindAtomA("Tessel Snapdeck Active") != 0; }, 10000));
    CloseSnapdeck();
    // SendMessageA has returned, so the helper has handled the command by now.
    EXPECT_EQ("WM_COMMAND 3 0\n", ReadWholeFile(logPath));
    EXPECT_TRUE(helper.WaitForExit(10000));
    EXPECT_EQ(0, GlobalFindAtomA("Tessel Snapdeck Active"));
}

TEST_F(SnapdeckTest, AtomWithoutRegistryValueSendsNothing)
{
    StandIn helper;
    ASSERT_TRUE(helper.Start("tray \"" + logPath + "\""));
    ASSERT_TRUE(WaitUntil([] { return GlobalFindAtomA("Tessel Snapdeck Active") != 0; }, 10000));
    HWND window = GetSnapdeckWindow();
    ASSERT_NE(nullptr, window);
    DeleteTree(HKEY_CURRENT_USER, SnapdeckKey);
    CloseSnapdeck();
    // A command that was sent would be in the log before this one.
    SendMessageA(window, WM_COMMAND, 7, 0);
    EXPECT_EQ("WM_COMMAND 7 0\n", ReadWholeFile(logPath));
    EXPECT_TRUE(helper.CloseWindowOfClass("TesselSnapdeckStandIn"));
}

TEST_F(SnapdeckTest, RegistryValueWithoutAtomSendsNothing)
{
    StandIn helper;
    ASSERT_TRUE(helper.Start("tray \"" + logPath + "\""));
    ASSERT_TRUE(WaitUntil([] { return GlobalFindAtomA("Tessel Snapdeck Active") != 0; }, 10000));
    HWND window = GetSnapdeckWindow();
    ASSERT_NE(nullptr, window);
    // Take the helper's atom away (a global atom goes when its count drops to zero).
    while (ATOM atom = GlobalFindAtomA("Tessel Snapdeck Active"))
        GlobalDeleteAtom(atom);
    CloseSnapdeck();
    SendMessageA(window, WM_COMMAND, 7, 0);
    EXPECT_EQ("WM_COMMAND 7 0\n", ReadWholeFile(logPath));
    EXPECT_TRUE(helper.CloseWindowOfClass("TesselSnapdeckStandIn"));
}

// ---- File Manager extension -----------------------------------------------------------------

class FileManagerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        LoadSetupStrings();
        char temp[MAX_PATH];
        GetTempPathA(sizeof temp, temp);
        library = std::string(temp) + "tqfmx.dll";
        HANDLE file = CreateFileA(library.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        CloseHandle(file);
    }
    void TearDown() override
    {
        WritePrivateProfileStringA("AddOns", "Tessel", nullptr, "winfile.ini");
        DeleteFileA(library.c_str());
    }
    static std::string Entry()
    {
        char value[MAX_PATH];
        GetPrivateProfileStringA("AddOns", "Tessel", "", value, sizeof value, "winfile.ini");
        return value;
    }
    std::string library;
};

TEST_F(FileManagerTest, NoEntryGoesOn)
{
    TraceRecorder trace;
    MessageBoxRecorder boxes;
    EXPECT_EQ(1, UnloadFileManagerExtension());
    EXPECT_TRUE(boxes.Boxes().empty());
    EXPECT_EQ((std::vector<std::string>{"Inside unload FMX", "FMX not being used"}), trace.Texts);
}

TEST_F(FileManagerTest, FileManagerNotRunningLeavesTheEntry)
{
    ASSERT_EQ(nullptr, FindWindowA("WFS_Frame", nullptr));
    WritePrivateProfileStringA("AddOns", "Tessel", library.c_str(), "winfile.ini");
    TraceRecorder trace;
    MessageBoxRecorder boxes;
    EXPECT_EQ(1, UnloadFileManagerExtension());
    EXPECT_TRUE(boxes.Boxes().empty());
    EXPECT_EQ(library, Entry());
    EXPECT_EQ((std::vector<std::string>{"Inside unload FMX", "FMX is not running"}), trace.Texts);
}

TEST_F(FileManagerTest, ReleasedLibraryGoesOnAndTheEntryIsGone)
{
    WritePrivateProfileStringA("AddOns", "Tessel", library.c_str(), "winfile.ini");
    StandIn fileManager;
    ASSERT_TRUE(fileManager.Start("filemanager \"" + library + "\" release"));
    ASSERT_TRUE(WaitUntil([] { return FindWindowA("WFS_Frame", nullptr) != nullptr; }, 10000));
    ASSERT_EQ(INVALID_HANDLE_VALUE, CreateFileA(library.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr))
        << "the stand-in holds the library";

    TraceRecorder trace;
    MessageBoxRecorder boxes;
    EXPECT_EQ(1, UnloadFileManagerExtension());
    EXPECT_TRUE(boxes.Boxes().empty());
    EXPECT_EQ("", Entry());
    EXPECT_TRUE(trace.Contains("FMX has been unloaded"));
    EXPECT_TRUE(fileManager.CloseWindowOfClass("WFS_Frame"));
}

static void ExpectUnloadFailsAfterTheWait()
{
    TraceRecorder trace;
    MessageBoxRecorder boxes;
    // The box is answered at once, so the time to it is the wait alone.
    DWORD start = GetTickCount();
    DWORD elapsed = 0;
    ScriptedMessageBoxes answer([&](size_t) {
        elapsed = GetTickCount() - start;
        return IDOK;
    });
    EXPECT_EQ(0, UnloadFileManagerExtension());
    EXPECT_GE(elapsed, ExtensionReleaseTimeout);
    ASSERT_EQ(1u, boxes.Boxes().size());
    const RecordedBox& box = boxes.Boxes()[0];
    EXPECT_EQ(nullptr, box.owner);
    EXPECT_EQ(UINT(MB_ICONERROR), box.type);
    EXPECT_STREQ(SetupTitle, box.caption.c_str());
    // 1044 and 1045 joined, without the continuation mark.
    EXPECT_EQ(0u, box.text.find("The Tessel installation procedure can not close the \"Tessel File Manager Extension\""));
    EXPECT_NE(std::string::npos, box.text.find("please\n\n1) Close the File Manager, or, if you are running"));
    EXPECT_EQ(std::string::npos, box.text.find('!'));
    EXPECT_TRUE(trace.Contains("FMX could not be unloaded"));
}

TEST_F(FileManagerTest, LibraryStillHeldAfterTheWaitFails)
{
    WritePrivateProfileStringA("AddOns", "Tessel", library.c_str(), "winfile.ini");
    StandIn fileManager;
    ASSERT_TRUE(fileManager.Start("filemanager \"" + library + "\" hold"));
    ASSERT_TRUE(WaitUntil([] { return FindWindowA("WFS_Frame", nullptr) != nullptr; }, 10000));
    ExpectUnloadFailsAfterTheWait();
    EXPECT_EQ("", Entry()) << "the entry stays deleted";
    EXPECT_TRUE(fileManager.CloseWindowOfClass("WFS_Frame"));
}

TEST_F(FileManagerTest, MissingLibraryRunsTheFullWait)
{
    std::string missing = library + ".missing";
    WritePrivateProfileStringA("AddOns", "Tessel", missing.c_str(), "winfile.ini");
    StandIn fileManager;
    ASSERT_TRUE(fileManager.Start("filemanager \"" + library + "\" release"));
    ASSERT_TRUE(WaitUntil([] { return FindWindowA("WFS_Frame", nullptr) != nullptr; }, 10000));
    ExpectUnloadFailsAfterTheWait();
    EXPECT_TRUE(fileManager.CloseWindowOfClass("WFS_Frame"));
}
