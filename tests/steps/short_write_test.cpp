// Short writes. The group runs under a file-size limit (see file-size-limit.sh): a write that
// crosses the limit comes back short, exactly as on a disk that fills up. The text-file copy must
// report it as error 1019, and the stub library's write must fail.
#include "res/resource.h"
#include "setup/setup.h"
#include "steps/steps.h"
#include "steps_support.h"
#include "tests/support/win_test.h"
#include "ui/ui.h"

#include <gtest/gtest.h>
#include <stdlib.h>

TEST(ShortWrite, IsReportedAsAWriteErrorWithNoMoreWrittenThanRead)
{
    char limitText[16];
    ASSERT_NE(0u, GetEnvironmentVariableA("TQ_FILE_SIZE_LIMIT_KIB", limitText, sizeof limitText))
        << "run this group through file-size-limit.sh";
    const size_t limit = (size_t)atoi(limitText) * 1024;
    ASSERT_EQ(0u, limit % 1024);
    ASSERT_NE(0u, limit % 15360) << "the limit must fall inside a buffer to give a short write";

    ModuleInstance = GetModuleHandleA(nullptr);
    LoadStringA(ModuleInstance, IDS_SETUP_TITLE, SetupTitle, sizeof SetupTitle);
    ProgressDialog = CreateWindowA("STATIC", "progress", WS_OVERLAPPEDWINDOW, 0, 0, 200, 100, nullptr, nullptr,
                                   ModuleInstance, nullptr);
    PayloadTimestamp = MakeFileTime(2001, 2, 3, 4, 5, 6);
    CopiedBytes = 0;
    CopiedAtLastReport = 0;

    // The source is this program's own file: larger than the limit, and it need not be written.
    char self[MAX_PATH];
    GetModuleFileNameA(nullptr, self, sizeof self);
    std::vector<unsigned char> source = ReadWholeBytes(self);
    ASSERT_GT(source.size(), limit + 15360);

    ScratchFolder scratch;
    std::string install = scratch.Path();
    lstrcpyA(InstallFolder, install.c_str());
    MessageBoxRecorder recorder;
    EXPECT_EQ(0, CopyTextFile(self, 0));
    const std::vector<RecordedBox>& boxes = recorder.Boxes();

    ASSERT_EQ(1u, boxes.size());
    EXPECT_EQ("Error writing to " + install + "README.TXT", boxes[0].text);
    EXPECT_EQ(ProgressDialog, boxes[0].owner);
    EXPECT_EQ(SetupTitle, boxes[0].caption);
    EXPECT_EQ((UINT)MB_ICONERROR, boxes[0].type);

    // Whole buffers before the limit are counted; the short one is not.
    EXPECT_EQ(limit / 15360 * 15360, CopiedBytes);
    FILETIME write;
    ASSERT_TRUE(GetTimes(install + "README.TXT", nullptr, nullptr, &write));
    EXPECT_FALSE(SameTime(PayloadTimestamp, write));
    std::vector<unsigned char> copied = ReadWholeBytes(install + "README.TXT");
    ASSERT_EQ(limit, copied.size());
    EXPECT_TRUE(std::equal(copied.begin(), copied.end(), source.begin()));

    DestroyWindow(ProgressDialog);
    ProgressDialog = nullptr;
}

static std::vector<std::string> Traced;
static void RecordTrace(const char* text)
{
    Traced.push_back(text);
}

// A stub payload larger than the limit: the one write comes back short, WriteStub fails and the
// partly written file stays.
TEST(ShortWrite, OfTheStubLibraryFailsTheWrite)
{
    char limitText[16];
    ASSERT_NE(0u, GetEnvironmentVariableA("TQ_FILE_SIZE_LIMIT_KIB", limitText, sizeof limitText));
    const size_t limit = (size_t)atoi(limitText) * 1024;
    char self[MAX_PATH];
    GetModuleFileNameA(nullptr, self, sizeof self);
    std::vector<unsigned char> large = ReadWholeBytes(self);
    ASSERT_GT(large.size(), limit);
    StubData = large.data();
    StubSize = (DWORD)large.size();

    ScratchFolder scratch;
    lstrcpyA(InstallFolder, scratch.Path().c_str());
    Traced.clear();
    SetTraceSink(RecordTrace);
    EXPECT_EQ(0, WriteStub());
    SetTraceSink(nullptr);
    EXPECT_EQ((std::vector<std::string>{ "Extracting stub DLL to " + scratch.File("TQSHLSTB.DLL"),
                                         "Failed to write to file for stub DLL." }),
              Traced);
    EXPECT_EQ(limit, ReadWholeBytes(scratch.File("TQSHLSTB.DLL")).size());
    StubData = nullptr;
    StubSize = 0;
}
