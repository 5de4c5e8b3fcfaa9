// The install sequence's own operations, called directly: the origin path from the command
// tail, the launch command lines, the payload request, the replacement of the main program.
#include "archive_writer.h"
#include "setup/setup.h"
#include "tests/support/win_test.h"
#include "ui/ui.h"
#include "util/path.h"

#include <gtest/gtest.h>

#include <string.h>
#include <string>
#include <vector>

namespace {

class SequenceTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ModuleInstance = GetModuleHandleA(nullptr);
        LoadStringA(ModuleInstance, 1021, SetupTitle, sizeof SetupTitle);
        Scratch = Folder.Path();
        Owner = CreateWindowA("STATIC", "owner", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, ModuleInstance, nullptr);
    }
    void TearDown() override
    {
        DestroyWindow(Owner);
        CancelRequested = 0;
    }
    const std::vector<RecordedBox>& Boxes() const { return Recorder.Boxes(); }

    MessageBoxRecorder Recorder;
    ScratchFolder Folder;
    std::string Scratch;
    HWND Owner = nullptr;
};

std::string ReadFileBytes(const std::string& path)
{
    std::string bytes;
    return ReadWholeFile(path, &bytes) ? bytes : "<missing>";
}

// ---- the origin path ----

std::string Origin(const char* tail)
{
    char originPath[PathBufferSize];
    memset(originPath, '#', sizeof originPath);
    ParseOriginPath(tail, originPath);
    return originPath;
}

TEST(ParseOriginPath, TakesTheTextAfterTheSwitch)
{
    EXPECT_EQ("C:\\My Files\\t.exe", Origin("-ARGV0    C:\\My Files\\t.exe"));
    EXPECT_EQ("C:\\x", Origin("   -argv0 C:\\x"));
    EXPECT_EQ("abc", Origin("-argv0abc"));      // no blank needed after the switch
    EXPECT_EQ("\"q\" r  ", Origin("-Argv0 \"q\" r  ")); // quotes and trailing blanks kept
    EXPECT_EQ("\tx", Origin("-argv0 \tx"));     // only blanks are skipped
}

TEST(ParseOriginPath, StaysEmptyWithoutTheSwitch)
{
    EXPECT_EQ("", Origin(""));
    EXPECT_EQ("", Origin("\t-argv0 C:\\x")); // a tab is no blank
    EXPECT_EQ("", Origin("/argv0 C:\\x"));
    EXPECT_EQ("", Origin("x -argv0 C:\\x"));
    EXPECT_EQ("", Origin("-argv C:\\x"));
    EXPECT_EQ("", Origin("-argv0"));
    EXPECT_EQ("", Origin("-argv0    "));
}

TEST(ParseOriginPath, KeepsAtMost259Characters)
{
    std::string tail = "-argv0 " + std::string(300, 'p');
    std::string origin = Origin(tail.c_str());
    EXPECT_EQ(std::string(259, 'p'), origin);
}

// ---- the launch command lines ----

TEST(BuildLaunchCommand, QuotesTheProgramPathAndTheOriginPath)
{
    lstrcpyA(InstallFolder, "C:\\Program Files\\Tessel\\");
    lstrcpyA(OriginPath, "D:\\get it\\setup.exe");
    char commandLine[LaunchCommandSize];
    BuildLaunchCommand(commandLine, 0);
    EXPECT_STREQ("\"C:\\Program Files\\Tessel\\TESSEL32.EXE\" /installS /f:\"D:\\get it\\setup.exe\"", commandLine);
    BuildLaunchCommand(commandLine, 1);
    EXPECT_STREQ(".\\TESSEL32.EXE /installS /f:\"D:\\get it\\setup.exe\"", commandLine);
    OriginPath[0] = '\0';
    BuildLaunchCommand(commandLine, 0);
    EXPECT_STREQ("\"C:\\Program Files\\Tessel\\TESSEL32.EXE\" /installS /f:\"\"", commandLine);
}

TEST(BuildLaunchCommand, HoldsTheLongestFolderAndOriginPath)
{
    std::string folder = "C:\\" + std::string(255, 'f') + "\\";
    ASSERT_EQ(259u, folder.size());
    lstrcpyA(InstallFolder, folder.c_str());
    ParseOriginPath(("-argv0 " + std::string(400, 'o')).c_str(), OriginPath);
    std::vector<char> commandLine(LaunchCommandSize + 64, '#');
    BuildLaunchCommand(commandLine.data(), 0);
    std::string expected = "\"" + folder + "TESSEL32.EXE\" /installS /f:\"" + std::string(259, 'o') + "\"";
    EXPECT_EQ(expected, commandLine.data());
    EXPECT_EQ((size_t)LaunchCommandSize, expected.size() + 1); // exactly the room it needs
    EXPECT_EQ('#', commandLine[LaunchCommandSize]);
}

// WinExec as the platform answers it, one scripted result per call (2, "file not found", when
// the script has run out), each call recorded with the current folder it was made in.
struct LaunchCall {
    std::string CommandLine;
    std::string CurrentFolder;
};
std::vector<LaunchCall> LaunchCalls;
std::vector<UINT> LaunchResults;

UINT WINAPI RecordingWinExec(LPCSTR commandLine, UINT)
{
    char folder[MAX_PATH];
    GetCurrentDirectoryA(sizeof folder, folder);
    LaunchCalls.push_back({ commandLine, folder });
    return LaunchCalls.size() <= LaunchResults.size() ? LaunchResults[LaunchCalls.size() - 1] : 2;
}

} // namespace
extern "C" {
UINT(WINAPI* __wrap___imp_WinExec)(LPCSTR, UINT) = RecordingWinExec;
}
namespace {

// The first start names the program by its full path; only when the platform refuses it is the
// program started by its name relative to the install folder, which is then the current folder.
// A root install makes the root the current folder.
TEST_F(SequenceTest, LaunchStartsFromTheInstallFolderAndFallsBackToItsRelativeName)
{
    struct Case {
        std::string Path;
        std::vector<UINT> Results;
        int Started;
        size_t Calls;
    };
    const std::string folder = Scratch.substr(0, Scratch.size() - 1);
    const Case cases[] = {
        { folder, { 33 }, 1, 1 },
        { folder, { 2, 33 }, 1, 2 },
        { folder, { 2, 31 }, 0, 2 },
        { "C:\\", { 33 }, 1, 1 },
    };
    ParseOriginPath("-argv0 x", OriginPath);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Path);
        lstrcpyA(InstallPath, c.Path.c_str());
        lstrcpyA(InstallFolder, c.Path.c_str());
        AppendBackslash(InstallFolder);
        SetCurrentDirectoryA("C:\\windows");
        LaunchCalls.clear();
        LaunchResults = c.Results;
        EXPECT_EQ(c.Started, LaunchMainProgram());
        ASSERT_EQ(c.Calls, LaunchCalls.size());
        EXPECT_EQ("\"" + std::string(InstallFolder) + "TESSEL32.EXE\" /installS /f:\"x\"", LaunchCalls[0].CommandLine);
        for (const LaunchCall& call : LaunchCalls)
            EXPECT_EQ(c.Path, call.CurrentFolder);
        if (c.Calls == 2) {
            EXPECT_EQ(".\\TESSEL32.EXE /installS /f:\"x\"", LaunchCalls[1].CommandLine);
        }
    }
    char temp[MAX_PATH];
    GetTempPathA(sizeof temp, temp);
    SetCurrentDirectoryA(temp);
}

// ---- the replacement of the main program ----

TEST_F(SequenceTest, ReplaceMainProgramPutsTheFreshFileInPlace)
{
    ASSERT_TRUE(WriteWholeFile(Scratch + "TESSEL32.EXE", "old"));
    ASSERT_TRUE(WriteWholeFile(Scratch + "TESSEL32.EX_", "new"));
    EXPECT_EQ(1, ReplaceMainProgram(Owner, Scratch.c_str(), "TESSEL32.EXE"));
    EXPECT_EQ("new", ReadFileBytes(Scratch + "TESSEL32.EXE"));
    EXPECT_FALSE(FileExists(Scratch + "TESSEL32.EX_"));
    EXPECT_TRUE(Boxes().empty());

    // No old program: no error. The fresh file's name differs in letter case only.
    DeleteFileA((Scratch + "TESSEL32.EXE").c_str());
    ASSERT_TRUE(WriteWholeFile(Scratch + "tessel32.ex_", "newer"));
    EXPECT_EQ(1, ReplaceMainProgram(Owner, Scratch.c_str(), "TESSEL32.EXE"));
    EXPECT_EQ("newer", ReadFileBytes(Scratch + "TESSEL32.EXE"));
    EXPECT_TRUE(Boxes().empty());
}

TEST_F(SequenceTest, ReplaceMainProgramReportsAFailedRename)
{
    // The old program is held open, so it can neither be deleted nor replaced.
    std::string target = Scratch + "TESSEL32.EXE";
    ASSERT_TRUE(WriteWholeFile(target, "old"));
    ASSERT_TRUE(WriteWholeFile(Scratch + "tessel32.ex_", "new"));
    HANDLE held = CreateFileA(target.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, held);
    EXPECT_EQ(0, ReplaceMainProgram(Owner, Scratch.c_str(), "TESSEL32.EXE"));
    CloseHandle(held);
    ASSERT_EQ(1u, Boxes().size());
    EXPECT_EQ("Cannot open " + target + " for writing", Boxes()[0].text);
    EXPECT_EQ("Tessel Setup", Boxes()[0].caption);
    EXPECT_EQ((UINT)MB_ICONERROR, Boxes()[0].type);
    EXPECT_EQ(Owner, Boxes()[0].owner);
    EXPECT_FALSE(FileExists(Scratch + "tessel32.ex_")); // the fresh file is deleted
    EXPECT_EQ("old", ReadFileBytes(target));

    // Without a fresh file the rename fails the same way, and nothing is left.
    Recorder.Clear();
    EXPECT_EQ(0, ReplaceMainProgram(Owner, Scratch.c_str(), "TESSEL32.EXE"));
    ASSERT_EQ(1u, Boxes().size());
    EXPECT_FALSE(FileExists(target));
}

TEST_F(SequenceTest, ReplaceMainProgramRefusesAPathBeyondItsBuffer)
{
    // A folder of 255 characters and the program's name make 267: reported, not shortened.
    std::string folder = "C:\\" + std::string(251, 'f') + "\\";
    ASSERT_EQ(255u, folder.size());
    EXPECT_EQ(0, ReplaceMainProgram(Owner, folder.c_str(), "TESSEL32.EXE"));
    ASSERT_EQ(1u, Boxes().size());
    EXPECT_EQ("Cannot open TESSEL32.EXE for writing", Boxes()[0].text);
    EXPECT_EQ(Owner, Boxes()[0].owner);
}

// ---- the payload request ----

// A payload archive of stored entries, the encrypted ones under setup's built-in password; a
// CRC delta damages an entry's recorded CRC.
struct PayloadEntry {
    const char* Name;
    std::string Data;
    bool Encrypt;
    uint32_t CrcDelta;
};

std::string PayloadArchive(const std::vector<PayloadEntry>& entries)
{
    ZipArchive archive;
    for (const PayloadEntry& payload : entries) {
        ZipEntry entry = Entry(payload.Name, ToBytes(payload.Data));
        entry.Encrypt = payload.Encrypt;
        entry.Password = TestDefaultPassword;
        entry.UseCrcOverride = payload.CrcDelta != 0;
        entry.CrcOverride = Crc32(payload.Data) + payload.CrcDelta;
        archive.Entries.push_back(entry);
    }
    return ToText(archive.Build());
}

class ExtractSetupArchiveTest : public SequenceTest {
protected:
    void SetUp() override
    {
        SequenceTest::SetUp();
        std::string source = Scratch + "dist\\", dest = Scratch + "Tessel";
        CreateDirectoryA(source.c_str(), nullptr);
        CreateDirectoryA(dest.c_str(), nullptr);
        lstrcpyA(SourceFolder, source.c_str());
        lstrcpyA(InstallPath, dest.c_str());
        lstrcpyA(InstallFolder, (dest + "\\").c_str());
    }
    void WriteArchive(const std::vector<PayloadEntry>& entries)
    {
        ASSERT_TRUE(WriteWholeFile(std::string(SourceFolder) + "setup.tq", PayloadArchive(entries)));
    }
};

TEST_F(ExtractSetupArchiveTest, UnpacksEveryEntryByItsFileNameWithTheBuiltInPassword)
{
    WriteArchive({{"sub/dir/a.txt", "alpha, encrypted", true, 0}, {"b.txt", "beta, plain", false, 0},
                  {"docs/", "", false, 0}, {"empty.txt", "", false, 0}});
    EXPECT_EQ(1, ExtractSetupArchive(Owner));
    EXPECT_TRUE(Boxes().empty());
    EXPECT_EQ("alpha, encrypted", ReadFileBytes(std::string(InstallFolder) + "a.txt"));
    EXPECT_EQ("beta, plain", ReadFileBytes(std::string(InstallFolder) + "b.txt"));
    EXPECT_EQ("", ReadFileBytes(std::string(InstallFolder) + "empty.txt")); // empty files are kept
    EXPECT_FALSE(FileExists(std::string(InstallFolder) + "sub"));
}

TEST_F(ExtractSetupArchiveTest, ReportsACrcMismatchAndFails)
{
    WriteArchive({{"first.txt", "sound", true, 0}, {"damaged.txt", "this entry's CRC is off by one", true, 1},
                  {"never.txt", "not reached", false, 0}});
    EXPECT_EQ(0, ExtractSetupArchive(Owner));
    ASSERT_EQ(1u, Boxes().size());
    EXPECT_NE(std::string::npos, Boxes()[0].text.find("ZIP damaged: file ")) << Boxes()[0].text;
    EXPECT_NE(std::string::npos, Boxes()[0].text.find("damaged.txt: Bad CRC")) << Boxes()[0].text;
    EXPECT_EQ(Owner, Boxes()[0].owner);
    EXPECT_TRUE(Boxes()[0].defaultCaption);
    EXPECT_EQ((UINT)MB_ICONERROR, Boxes()[0].type);
    EXPECT_EQ("sound", ReadFileBytes(std::string(InstallFolder) + "first.txt"));
    EXPECT_FALSE(FileExists(std::string(InstallFolder) + "never.txt"));
}

TEST_F(ExtractSetupArchiveTest, FailsQuietlyAfterACancelAndLoudlyWithoutAnArchive)
{
    WriteArchive({{"a.txt", "alpha", true, 0}});
    CancelRequested = 1;
    EXPECT_EQ(0, ExtractSetupArchive(Owner));
    EXPECT_TRUE(Boxes().empty());
    EXPECT_FALSE(FileExists(std::string(InstallFolder) + "a.txt"));
    CancelRequested = 0;

    // The archive is "setup.tq" in the source folder.
    DeleteFileA((std::string(SourceFolder) + "setup.tq").c_str());
    EXPECT_EQ(0, ExtractSetupArchive(Owner));
    ASSERT_EQ(1u, Boxes().size());
    EXPECT_NE(std::string::npos, Boxes()[0].text.find("Can't open input file: ")) << Boxes()[0].text;
    EXPECT_NE(std::string::npos, Boxes()[0].text.find("setup.tq")) << Boxes()[0].text;
}

} // namespace
