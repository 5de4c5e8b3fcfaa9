// Path and file helpers in the default single-byte code page: the scanners, drive and separator
// tests, AppendBackslash, folder creation for drive, "/" and UNC paths, file probes, exclusive
// access and its wait, and CentreWindow.
//
// Folder creation is observed at the C runtime through the _mkdir recorder (mkdir_seam.h); for
// paths that cannot exist here (a server without a share) it fails every attempt.
#include "mkdir_seam.h"
#include "tests/support/win_test.h"
#include "util/path.h"

#include <gtest/gtest.h>
#include <string.h>

#include <string>
#include <vector>

TEST(PathScanners, FindSeparatorsAndCharacters)
{
    const char* text = "C:\\Tessel/bin\\x";
    EXPECT_EQ(text + 2, FindNextSeparator(text));
    EXPECT_EQ(text + 9, FindNextSeparator(text + 3));
    const char* plain = "setup.exe";
    EXPECT_EQ(plain + 9, FindNextSeparator(plain));

    EXPECT_EQ(text + 13, FindLastSeparator(text));
    const char* folder = "C:\\Tessel\\";
    EXPECT_EQ(folder + 9, FindLastSeparator(folder));
    EXPECT_EQ(nullptr, FindLastSeparator(plain));
    EXPECT_EQ(nullptr, FindLastSeparator(""));

    EXPECT_EQ(plain + 5, FindChar(plain, '.'));
    EXPECT_EQ(plain + 9, FindChar(plain, 'z'));
    EXPECT_EQ(plain + 9, FindChar(plain, 0));
    EXPECT_EQ(plain + 7, FindLastChar(plain, 'x'));
    EXPECT_EQ(plain + 8, FindLastChar(plain, 'e'));
    EXPECT_EQ(nullptr, FindLastChar(plain, 'z'));
    EXPECT_EQ(nullptr, FindLastChar(plain, 0));
    const char* accented = "caf\xE9.txt"; // 0xE9 is a letter of code page 1252, not a lead byte
    EXPECT_EQ(accented + 3, FindChar(accented, 0xE9));
    EXPECT_EQ(accented + 3, FindLastChar(accented, 0xE9));

    EXPECT_EQ(plain + 8, LastChar(plain));
    const char* empty = "";
    EXPECT_EQ(empty, LastChar(empty));
}

TEST(PathScanners, DriveLettersAndSeparators)
{
    for (unsigned int code = 0; code < 256; ++code) {
        bool letter = (code >= 'A' && code <= 'Z') || (code >= 'a' && code <= 'z');
        EXPECT_EQ(letter ? 1 : 0, IsDriveLetter(code)) << code;
        EXPECT_EQ(code == '\\' || code == '/' ? 1 : 0, IsSeparator(code)) << code;
    }
    EXPECT_EQ(0, IsDriveLetter(0xC1)); // a letter in 1252, but no drive
}

TEST(PathScanners, AppendBackslashOnlyWhenMissing)
{
    struct Case {
        const char* before;
        const char* after;
    } cases[] = {
        { "C:\\", "C:\\" }, { "C:/", "C:/" }, { "C:", "C:\\" }, { "", "\\" },
        { "C:\\Tessel", "C:\\Tessel\\" }, { "\\\\server\\share", "\\\\server\\share\\" },
    };
    for (const Case& c : cases) {
        char buffer[32];
        memset(buffer, 0x7F, sizeof buffer);
        lstrcpyA(buffer, c.before);
        AppendBackslash(buffer);
        EXPECT_STREQ(c.after, buffer) << c.before;
        EXPECT_EQ(0x7F, buffer[strlen(c.after) + 1]) << c.before; // nothing beyond the new NUL
    }
}

class FolderCreation : public ::testing::Test {
protected:
    void SetUp() override
    {
        MkdirCalls.clear();
        MkdirAlwaysFails = false;
    }
    void TearDown() override { MkdirAlwaysFails = false; }
    ScratchFolder scratch;
};

TEST_F(FolderCreation, CreatesMissingParentsTopDown)
{
    std::string base = scratch.Path();
    char path[MAX_PATH];
    lstrcpyA(path, (base + "A\\B\\C").c_str());
    EXPECT_EQ(0, CreateFolderPath(path));
    EXPECT_STREQ((base + "A\\B\\C").c_str(), path);
    std::vector<std::string> expected = { base + "A\\B\\C", base + "A\\B", base + "A", base + "A\\B", base + "A\\B\\C" };
    EXPECT_EQ(expected, MkdirCalls);
    EXPECT_TRUE(FolderExists(base + "A\\B\\C"));
}

TEST_F(FolderCreation, WritesBackslashWhereItCut)
{
    std::string base = scratch.Path();
    for (char& c : base) {
        if (c == '\\')
            c = '/';
    }
    char path[MAX_PATH];
    lstrcpyA(path, (base + "one/two/three").c_str());
    EXPECT_EQ(0, CreateFolderPath(path));
    EXPECT_STREQ((base + "one\\two\\three").c_str(), path); // only the two cuts changed
    EXPECT_TRUE(FolderExists(scratch.Path() + "one\\two\\three"));
}

TEST_F(FolderCreation, ExistingFolderFailsAndKeepsThePath)
{
    std::string existing = scratch.Path().substr(0, scratch.Path().size() - 1);
    char path[MAX_PATH];
    lstrcpyA(path, existing.c_str());
    EXPECT_EQ(-1, CreateFolderPath(path));
    EXPECT_STREQ(existing.c_str(), path);
    // It climbed to the drive without going past it.
    ASSERT_FALSE(MkdirCalls.empty());
    EXPECT_EQ(existing.substr(0, 2), MkdirCalls.back());
    EXPECT_EQ(':', MkdirCalls.back()[1]);
}

TEST_F(FolderCreation, BareDriveIsOneAttempt)
{
    char path[MAX_PATH] = "C:";
    EXPECT_EQ(-1, CreateFolderPath(path));
    EXPECT_EQ(std::vector<std::string>{ "C:" }, MkdirCalls);
}

TEST_F(FolderCreation, UncPathsNeverCutAboveTheShare)
{
    // No share can be created here, so every attempt fails; the order of the attempts shows
    // the cut points.
    MkdirAlwaysFails = true;
    char below[MAX_PATH] = "\\\\server\\share\\A\\B";
    EXPECT_EQ(-1, CreateFolderPath(below));
    EXPECT_STREQ("\\\\server\\share\\A\\B", below);
    EXPECT_EQ((std::vector<std::string>{ "\\\\server\\share\\A\\B", "\\\\server\\share\\A", "\\\\server\\share" }), MkdirCalls);

    MkdirCalls.clear();
    char share[MAX_PATH] = "\\\\server\\share";
    EXPECT_EQ(-1, CreateFolderPath(share));
    EXPECT_EQ(std::vector<std::string>{ "\\\\server\\share" }, MkdirCalls);

    MkdirCalls.clear();
    char server[MAX_PATH] = "\\\\server";
    EXPECT_EQ(-1, CreateFolderPath(server));
    EXPECT_EQ(std::vector<std::string>{ "\\\\server" }, MkdirCalls);

    MkdirCalls.clear();
    char slashes[MAX_PATH] = "\\\\server\\share/A";
    EXPECT_EQ(-1, CreateFolderPath(slashes));
    EXPECT_STREQ("\\\\server\\share\\A", slashes); // the cut at the share wrote "\"
    EXPECT_EQ((std::vector<std::string>{ "\\\\server\\share/A", "\\\\server\\share" }), MkdirCalls);
}

// Wine maps \\server\share\... to dosdevices/unc/server/share/... of its prefix, which gives a
// real share to create folders below.
TEST_F(FolderCreation, CreatesFoldersBelowARealShare)
{
    char prefix[MAX_PATH];
    DWORD length = GetEnvironmentVariableA("WINEPREFIX", prefix, sizeof prefix);
    if (length == 0 || length >= sizeof prefix || prefix[0] != '/')
        GTEST_SKIP() << "not under Wine with a known prefix";
    std::string unc = std::string("Z:") + prefix + "/dosdevices/unc";
    for (char& c : unc) {
        if (c == '/')
            c = '\\';
    }
    char server[64];
    wsprintfA(server, "tqsrv%lu", GetCurrentProcessId());
    std::string serverFolder = unc + "\\" + server;
    CreateDirectoryA(unc.c_str(), nullptr);
    ASSERT_TRUE(CreateDirectoryA(serverFolder.c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryA((serverFolder + "\\share").c_str(), nullptr));

    std::string target = std::string("\\\\") + server + "\\share\\X\\Y";
    char path[MAX_PATH];
    lstrcpyA(path, target.c_str());
    int result = CreateFolderPath(path);
    bool created = FolderExists(serverFolder + "\\share\\X\\Y");
    RemoveFolderTree(serverFolder);
    EXPECT_EQ(0, result);
    EXPECT_TRUE(created);
    std::string share = std::string("\\\\") + server + "\\share";
    EXPECT_EQ((std::vector<std::string>{ target, share + "\\X", target }), MkdirCalls);
}

class FileHelpers : public ::testing::Test {
protected:
    ScratchFolder scratch;
};

TEST_F(FileHelpers, ProbeFileFillsTheRecordOnlyOnAMatch)
{
    ASSERT_TRUE(WriteWholeFile(scratch.File("readme.txt"), "12345"));
    WIN32_FIND_DATAA record;
    memset(&record, 0xCD, sizeof record);
    EXPECT_EQ(0, ProbeFile(scratch.File("readme.txt").c_str(), &record));
    EXPECT_STREQ("readme.txt", record.cFileName);
    EXPECT_EQ(5u, record.nFileSizeLow);

    memset(&record, 0xCD, sizeof record);
    EXPECT_EQ(0, ProbeFile(scratch.File("*.txt").c_str(), &record));
    EXPECT_STREQ("readme.txt", record.cFileName);

    WIN32_FIND_DATAA poison;
    memset(&poison, 0xCD, sizeof poison);
    record = poison;
    EXPECT_EQ(1, ProbeFile(scratch.File("missing.txt").c_str(), &record));
    EXPECT_EQ(0, memcmp(&poison, &record, sizeof record));
}

TEST_F(FileHelpers, RemoveAndRenameReportZeroOnSuccess)
{
    std::string a = scratch.File("a.txt"), b = scratch.File("b.txt"), c = scratch.File("c.txt");
    ASSERT_TRUE(WriteWholeFile(a, "a"));
    ASSERT_TRUE(WriteWholeFile(b, "b"));
    EXPECT_EQ(1, RenameFile(a.c_str(), b.c_str())); // the new name exists
    EXPECT_EQ(0, RenameFile(a.c_str(), c.c_str()));
    EXPECT_EQ("a", ReadWholeFile(c));
    EXPECT_EQ(1, RenameFile(a.c_str(), c.c_str())); // a is gone
    EXPECT_EQ(0, RemoveFile(c.c_str()));
    EXPECT_EQ(1, RemoveFile(c.c_str()));
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(c.c_str()));
}

TEST_F(FileHelpers, ExclusiveOpenFailsWhileAnotherHandleIsOpen)
{
    std::string file = scratch.File("busy.dll");
    ASSERT_TRUE(WriteWholeFile(file, "MZ"));
    EXPECT_EQ(1, CanOpenExclusive(file.c_str()));
    EXPECT_EQ(1, CanOpenExclusive(nullptr));
    EXPECT_EQ(1, CanOpenExclusive(""));
    EXPECT_EQ(0, CanOpenExclusive(scratch.File("missing.dll").c_str()));

    // Even a reader that lets everybody else read and write keeps the exclusive open out.
    HANDLE other = CreateFileA(file.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                               nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, other);
    EXPECT_EQ(0, CanOpenExclusive(file.c_str()));
    CloseHandle(other);
    EXPECT_EQ(1, CanOpenExclusive(file.c_str()));
}

static HANDLE HeldFile;

static void CALLBACK ReleaseHeldFile(HWND, UINT, UINT_PTR timer, DWORD)
{
    KillTimer(nullptr, timer);
    CloseHandle(HeldFile);
    HeldFile = INVALID_HANDLE_VALUE;
}

TEST_F(FileHelpers, WaitForExclusiveAccessRetriesUntilTheDeadline)
{
    std::string file = scratch.File("worker.dll");
    ASSERT_TRUE(WriteWholeFile(file, "MZ"));
    EXPECT_EQ(0, WaitForExclusiveAccess(file.c_str(), 0)); // no attempt, though the file is free
    EXPECT_EQ(1, WaitForExclusiveAccess(file.c_str(), 600000));

    HeldFile = CreateFileA(file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, HeldFile);
    DWORD start = GetTickCount();
    EXPECT_EQ(0, WaitForExclusiveAccess(file.c_str(), 300));
    DWORD waited = GetTickCount() - start;
    EXPECT_GE(waited, 300u);

    // The holder lets go from a timer, which only runs because the wait dispatches messages.
    ASSERT_NE(0u, SetTimer(nullptr, 0, 100, ReleaseHeldFile));
    EXPECT_EQ(1, WaitForExclusiveAccess(file.c_str(), 600000));
    EXPECT_EQ(INVALID_HANDLE_VALUE, HeldFile);
    if (HeldFile != INVALID_HANDLE_VALUE)
        CloseHandle(HeldFile);

    start = GetTickCount();
    EXPECT_EQ(0, WaitForExclusiveAccess(scratch.File("missing.dll").c_str(), 200)); // retried like a busy one
    EXPECT_GE(GetTickCount() - start, 200u);
}

static RECT CentredRect(int width, int height)
{
    HWND window = CreateWindowExA(WS_EX_TOOLWINDOW, "STATIC", "", WS_POPUP, 5, 7, width, height, nullptr, nullptr, nullptr, nullptr);
    RECT rect = {};
    if (window == nullptr)
        return rect;
    CentreWindow(window);
    GetWindowRect(window, &rect);
    DestroyWindow(window);
    return rect;
}

TEST(CentreWindow, CentresOnTheScreenKeepingTheSize)
{
    int screenWidth = GetSystemMetrics(SM_CXSCREEN), screenHeight = GetSystemMetrics(SM_CYSCREEN);
    ASSERT_EQ(1024, screenWidth);
    ASSERT_EQ(768, screenHeight);
    RECT rect = CentredRect(300, 200);
    EXPECT_EQ(362, rect.left);
    EXPECT_EQ(284, rect.top);
    EXPECT_EQ(300, rect.right - rect.left);
    EXPECT_EQ(200, rect.bottom - rect.top);

    // Larger than the screen by an odd amount: negative, truncated toward zero.
    rect = CentredRect(1101, 901);
    EXPECT_EQ(-38, rect.left);
    EXPECT_EQ(-66, rect.top);
    EXPECT_EQ(1101, rect.right - rect.left);
}
