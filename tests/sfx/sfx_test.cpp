// The self-extractor called directly on bundles made here: its own built program with an
// archive from the engine tests' ZIP writer appended. A sound bundle whose setup.exe is a
// stand-in that records how it was started; then a table of bundles that must not install, each
// with the boxes shown, the exit code, and no unpack folder left in the temporary folder; and a
// full disk (run apart, under the file-size limit of file-size-limit.sh).
#include "sfx/sfx.h"

#include "archive_writer.h"
#include "tests/support/win_test.h"

#include <gtest/gtest.h>

#include <stdlib.h>
#include <string.h>

namespace {

constexpr char SfxCaption[] = "Tessel Self-Extractor";
constexpr int StandInExitCode = 7; // tqstandin's exit code as setup.exe

Bytes FileBytes(const char* path)
{
    std::string bytes = ReadWholeFile(path);
    return Bytes(bytes.begin(), bytes.end());
}

// The self-extractor with an archive of a text file and setup.exe behind it.
ZipArchive BundleWithSetup(const Bytes& setup)
{
    ZipArchive archive;
    archive.Prefix = FileBytes(TQ_SFX_STUB);
    archive.Entries.push_back(Entry("README.TXT", TextBytes(3000, 11), 8));
    archive.Entries.push_back(Entry("setup.exe", setup));
    return archive;
}

class SelfExtractor : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(FindUnpackFolders().empty());
        CreateDirectoryA(Scratch.File("my downloads").c_str(), nullptr);
        Record = Scratch.File("record.txt");
        SetEnvironmentVariableA("TQ_STANDIN_RECORD", Record.c_str());
    }

    int Run(const Bytes& bundle)
    {
        EXPECT_TRUE(WriteWholeFile(Bundle, std::string(bundle.begin(), bundle.end())));
        return RunSelfExtractor(GetModuleHandleA(nullptr), Bundle.c_str());
    }

    ScratchFolder Scratch;
    std::string Bundle = Scratch.File("my downloads\\tessel 81.exe");
    std::string Record;
    MessageBoxRecorder Boxes;
};

// setup.exe runs from a new folder under the temporary folder, which is its current folder, with
// the bundle's path unquoted after -argv0; its exit code comes back; the folder goes. A second
// run takes another folder.
TEST_F(SelfExtractor, RunsSetupFromANewFolderAndRemovesIt)
{
    Bytes bundle = BundleWithSetup(FileBytes(TQ_STANDIN)).Build();
    std::string folders[2];
    for (std::string& folder : folders) {
        DeleteFileA(Record.c_str());
        EXPECT_EQ(StandInExitCode, Run(bundle));
        EXPECT_TRUE(Boxes.Boxes().empty());
        std::string record = ReadWholeFile(Record);
        size_t lineEnd = record.find('\n');
        ASSERT_NE(std::string::npos, lineEnd) << record;
        std::string commandLine = record.substr(0, lineEnd);
        std::string current = record.substr(lineEnd + 1, record.find('\n', lineEnd + 1) - lineEnd - 1);
        const std::string tail = "\\setup.exe\" -argv0 " + Bundle;
        ASSERT_GT(commandLine.size(), tail.size() + 1) << commandLine;
        EXPECT_EQ(tail, commandLine.substr(commandLine.size() - tail.size())) << commandLine;
        EXPECT_EQ('"', commandLine[0]);
        folder = commandLine.substr(1, commandLine.size() - tail.size() - 1);
        EXPECT_EQ(folder, current);
        char temporary[MAX_PATH];
        GetTempPathA(sizeof temporary, temporary);
        EXPECT_EQ(std::string(temporary) + "tqsfx-", folder.substr(0, strlen(temporary) + 6)) << folder;
        EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(folder.c_str())) << folder << " stayed";
    }
    EXPECT_NE(folders[0], folders[1]);
}

TEST_F(SelfExtractor, BundlesThatDoNotInstall)
{
    const Bytes stub = FileBytes(TQ_SFX_STUB);
    ZipArchive damaged = BundleWithSetup(FileBytes(TQ_STANDIN));
    damaged.Entries[1].CrcOverride = 0x12345678;
    damaged.Entries[1].UseCrcOverride = true;
    Bytes cut = BundleWithSetup(FileBytes(TQ_STANDIN)).Build();
    cut.resize(cut.size() - 60);
    ZipArchive noSetup = BundleWithSetup(Bytes());
    noSetup.Entries.pop_back();
    Bytes junk = stub;
    for (const char* p = "this is no archive"; *p; ++p)
        junk.push_back((uint8_t)*p);
    const std::string missingTemporary = Scratch.File("no such folder");

    struct Case {
        const char* Reason;
        Bytes Bundle;
        std::vector<std::string> Texts; // a part of each box's text, in order; the last is ours
        const std::string* Temporary;   // TMP while it runs, when given
    };
    const Case cases[] = {
        {"nothing appended", stub, {Bundle + " holds no installation files."}, nullptr},
        {"no archive behind the program", junk, {"holds no installation files."}, nullptr},
        {"no setup.exe in the archive", noSetup.Build(), {"does not contain Tessel Setup (setup.exe)"}, nullptr},
        {"a damaged entry", damaged.Build(),
         {"\\setup.exe: Bad CRC", "Tessel Setup could not be unpacked from " + Bundle}, nullptr},
        {"cut short", cut, {"Error reading " + Bundle, "could not be unpacked"}, nullptr},
        {"setup.exe is no program", BundleWithSetup(TextBytes(500, 3)).Build(), {"cannot be started."}, nullptr},
        {"no temporary folder", BundleWithSetup(FileBytes(TQ_STANDIN)).Build(),
         {"No new folder can be created in the temporary folder " + missingTemporary}, &missingTemporary},
    };
    char savedTemporary[MAX_PATH];
    DWORD savedLength = GetEnvironmentVariableA("TMP", savedTemporary, sizeof savedTemporary);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Reason);
        Boxes.Clear();
        DeleteFileA(Record.c_str());
        if (c.Temporary != nullptr)
            SetEnvironmentVariableA("TMP", c.Temporary->c_str());
        int code = Run(c.Bundle);
        if (c.Temporary != nullptr)
            SetEnvironmentVariableA("TMP", savedLength != 0 ? savedTemporary : nullptr);
        EXPECT_EQ(SfxExitFailed, code);
        const std::vector<RecordedBox>& boxes = Boxes.Boxes();
        ASSERT_EQ(c.Texts.size(), boxes.size());
        for (size_t i = 0; i < boxes.size(); ++i)
            EXPECT_NE(std::string::npos, boxes[i].text.find(c.Texts[i])) << boxes[i].text;
        EXPECT_EQ(SfxCaption, boxes.back().caption);
        EXPECT_EQ((UINT)MB_ICONERROR, boxes.back().type & MB_ICONMASK);
        if (boxes.size() > 1) {
            EXPECT_TRUE(boxes[0].defaultCaption) << "the engine's own box";
        }
        EXPECT_TRUE(FindUnpackFolders().empty());
        EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(Record.c_str())) << "setup was started";
    }
}

// The disk fills up while an entry is unpacked: the engine's 1036, then the self-extractor's box.
TEST_F(SelfExtractor, DiskFull)
{
    char limitText[16];
    ASSERT_NE(0u, GetEnvironmentVariableA("TQ_FILE_SIZE_LIMIT_KIB", limitText, sizeof limitText))
        << "run this case through file-size-limit.sh";
    const size_t limit = (size_t)atoi(limitText) * 1024;
    ZipArchive archive = BundleWithSetup(TextBytes(500, 5));
    archive.Entries.insert(archive.Entries.begin() + 1, Entry("TQCORE.DLL", TextBytes(limit + 40000, 6), 8));
    Bytes bundle = archive.Build();
    ASSERT_LT(bundle.size(), limit);
    EXPECT_EQ(SfxExitFailed, Run(bundle));
    const std::vector<RecordedBox>& boxes = Boxes.Boxes();
    ASSERT_EQ(2u, boxes.size());
    EXPECT_NE(std::string::npos, boxes[0].text.find("\\TQCORE.DLL.  Possible cause: disk full")) << boxes[0].text;
    EXPECT_EQ(SfxCaption, boxes[1].caption);
    EXPECT_NE(std::string::npos, boxes[1].text.find("could not be unpacked")) << boxes[1].text;
    EXPECT_TRUE(FindUnpackFolders().empty());
}

} // namespace
