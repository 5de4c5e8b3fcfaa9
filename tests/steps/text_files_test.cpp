// Text-file check and copy: the walk over the seven files in check and copy mode, the copy loop
// with its Meter moves, the error boxes and a cancel confirmed between two files. A parent window
// with a static 104 and a recording control 100 stands in for the progress dialog.
#include "res/resource.h"
#include "setup/setup.h"
#include "steps/steps.h"
#include "steps_support.h"
#include "tests/support/win_test.h"
#include "ui/ui.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <string.h>

static std::vector<WPARAM> MeterPositions;
static bool CancelOnFirstMeterMove;
constexpr UINT WM_TEST_CONFIRM_CANCEL = WM_APP + 1;

static LRESULT CALLBACK TestMeterWndProc(HWND window, UINT msg, WPARAM wParam, LPARAM lParam)
{
    if (msg == MTR_SETPOS) {
        MeterPositions.push_back(wParam);
        // Queued, so the copier only sees it when it dispatches before the next file.
        if (CancelOnFirstMeterMove && MeterPositions.size() == 1)
            PostMessageA(GetParent(window), WM_TEST_CONFIRM_CANCEL, 0, 0);
        return 0;
    }
    return DefWindowProcA(window, msg, wParam, lParam);
}

static LRESULT CALLBACK TestProgressWndProc(HWND window, UINT msg, WPARAM wParam, LPARAM lParam)
{
    if (msg == WM_TEST_CONFIRM_CANCEL) {
        CancelRequested = 1; // what the progress dialog does after a Yes to message 1005
        return 0;
    }
    return DefWindowProcA(window, msg, wParam, lParam);
}

static void RegisterTestClasses(void)
{
    static bool registered;
    if (registered)
        return;
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = TestMeterWndProc;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = "StepsTestMeter";
    RegisterClassA(&windowClass);
    windowClass.lpfnWndProc = TestProgressWndProc;
    windowClass.lpszClassName = "StepsTestProgress";
    RegisterClassA(&windowClass);
    registered = true;
}

static const char* const Names[] = { "README.TXT", "TESSEL.TXT", "LICENSE.TXT", "VENDOR.TXT",
                                     "WHATSNEW.TXT", "FILE_ID.DIZ", "ORDER.TXT" };

static std::vector<unsigned char> CompressedHeader(DWORD secondMagic, DWORD size, size_t total, unsigned seed)
{
    std::vector<unsigned char> bytes = RandomBytes(total, seed);
    const unsigned char header[14] = { 'S', 'Z', 'D', 'D',
                                       (unsigned char)secondMagic, (unsigned char)(secondMagic >> 8),
                                       (unsigned char)(secondMagic >> 16), (unsigned char)(secondMagic >> 24),
                                       'A', 'T',
                                       (unsigned char)size, (unsigned char)(size >> 8),
                                       (unsigned char)(size >> 16), (unsigned char)(size >> 24) };
    memcpy(bytes.data(), header, total < 14 ? total : 14);
    return bytes;
}

class TextFileSteps : public ::testing::Test {
protected:
    ScratchFolder sourceFolder;
    ScratchFolder installFolder;
    std::string source = sourceFolder.Path();
    std::string install = installFolder.Path();
    HWND progress = nullptr;
    std::vector<std::vector<unsigned char>> contents;

    void SetUp() override
    {
        ModuleInstance = GetModuleHandleA(nullptr);
        LoadStringA(ModuleInstance, IDS_SETUP_TITLE, SetupTitle, sizeof SetupTitle);
        RegisterTestClasses();
        progress = CreateWindowA("StepsTestProgress", "progress", WS_OVERLAPPEDWINDOW, 0, 0, 300, 120,
                                 nullptr, nullptr, ModuleInstance, nullptr);
        CreateWindowA("STATIC", "", WS_CHILD | WS_VISIBLE, 0, 20, 280, 16, progress,
                      (HMENU)(INT_PTR)IDC_FILENAME_TEXT, ModuleInstance, nullptr);
        CreateWindowA("StepsTestMeter", "", WS_CHILD | WS_VISIBLE, 0, 40, 280, 16, progress,
                      (HMENU)(INT_PTR)IDC_METER, ModuleInstance, nullptr);
        ProgressDialog = progress;
        MeterPositions.clear();
        CancelOnFirstMeterMove = false;
        CancelRequested = 0;
        CopiedBytes = 0;
        CopiedAtLastReport = 0;

        // Like setup, take the time stamp from a real program file: this test's own.
        char self[MAX_PATH];
        GetModuleFileNameA(nullptr, self, sizeof self);
        ASSERT_TRUE(GetTimes(self, nullptr, nullptr, &SetupTimestamp));
        PayloadTimestamp = MakeFileTime(2001, 2, 3, 4, 5, 6);

        lstrcpyA(SourceFolder, source.c_str());
        lstrcpyA(InstallFolder, install.c_str());
    }

    void TearDown() override
    {
        ProgressDialog = nullptr;
        DestroyWindow(progress);
        CancelRequested = 0;
    }

    // Writes the seven files with the given contents, all stamped with SetupTimestamp.
    void WriteSources(std::vector<std::vector<unsigned char>> files)
    {
        contents = files;
        for (size_t i = 0; i < contents.size(); i++) {
            WriteWholeFile(source + Names[i], contents[i]);
            SetAllTimes(source + Names[i], SetupTimestamp);
        }
    }

    void WriteSourcesOfSizes(std::vector<size_t> sizes)
    {
        std::vector<std::vector<unsigned char>> files;
        for (size_t i = 0; i < sizes.size(); i++)
            files.push_back(RandomBytes(sizes[i], (unsigned)i + 1));
        WriteSources(files);
    }

    // Wine on a Linux file system reports the last-write time as the creation time, so there
    // only the last-access and last-write checks can tell a missing stamp; Windows checks all three.
    void ExpectPayloadTimes(const std::string& path)
    {
        FILETIME creation, access, write;
        ASSERT_TRUE(GetTimes(path, &creation, &access, &write)) << path;
        EXPECT_TRUE(SameTime(PayloadTimestamp, creation)) << path;
        EXPECT_TRUE(SameTime(PayloadTimestamp, access)) << path;
        EXPECT_TRUE(SameTime(PayloadTimestamp, write)) << path;
    }

    void ExpectOneErrorBox(const std::vector<RecordedBox>& boxes, HWND owner, const std::string& text)
    {
        ASSERT_EQ(1u, boxes.size());
        EXPECT_EQ(text, boxes[0].text);
        EXPECT_EQ(SetupTitle, boxes[0].caption);
        EXPECT_EQ(owner, boxes[0].owner);
        EXPECT_EQ((UINT)MB_ICONERROR, boxes[0].type);
    }
};

TEST_F(TextFileSteps, CheckModeTotalsTheSevenFilesInBytes)
{
    WriteSources({
        RandomBytes(100, 1),
        CompressedHeader(0x3327F088, 123456, 64, 2),  // counts with the size in its header
        {},
        CompressedHeader(0x3327F089, 123456, 40, 4),  // second magic wrong: directory size
        CompressedHeader(0x3327F088, 123456, 10, 5),  // shorter than a header: directory size
        RandomBytes(15360, 6),
        RandomBytes(70000, 7),
    });
    InstallSizeKB = 5;
    MessageBoxRecorder boxes;
    EXPECT_EQ(1, ProcessTextFiles(progress, 0));
    EXPECT_TRUE(boxes.Boxes().empty());
    EXPECT_EQ(5u + 100 + 123456 + 0 + 40 + 10 + 15360 + 70000, InstallSizeKB);

    // Check mode writes nothing and moves nothing.
    WIN32_FIND_DATAA data;
    HANDLE search = FindFirstFileA((install + "*.*").c_str(), &data);
    int entries = 0;
    if (search != INVALID_HANDLE_VALUE) {
        do
            entries += data.cFileName[0] != '.';
        while (FindNextFileA(search, &data));
        FindClose(search);
    }
    EXPECT_EQ(0, entries);
    EXPECT_TRUE(MeterPositions.empty());
    EXPECT_EQ(0u, CopiedBytes);
}

TEST_F(TextFileSteps, CheckModeStopsAtAMissingFile)
{
    WriteSourcesOfSizes({ 10, 20, 30, 40, 50, 60, 70 });
    DeleteFileA((source + "LICENSE.TXT").c_str());
    InstallSizeKB = 0;
    MessageBoxRecorder boxes;
    EXPECT_EQ(0, ProcessTextFiles(progress, 0));
    ExpectOneErrorBox(boxes.Boxes(), progress,
                      "Cannot find required file LICENSE.TXT.  Please verify that the file exists on the installation disk.");
    EXPECT_EQ(30u, InstallSizeKB); // the two files before it were counted
}

TEST_F(TextFileSteps, CheckModeStopsAtAFileTouchedLater)
{
    WriteSourcesOfSizes({ 10, 20, 30, 40, 50, 60, 70 });
    ULARGE_INTEGER later;
    later.LowPart = SetupTimestamp.dwLowDateTime;
    later.HighPart = SetupTimestamp.dwHighDateTime;
    later.QuadPart += 1; // one tick of 100 ns is already a different time
    FILETIME touched = { later.LowPart, later.HighPart };
    SetAllTimes(source + "WHATSNEW.TXT", touched);
    MessageBoxRecorder boxes;
    EXPECT_EQ(0, ProcessTextFiles(progress, 0));
    ExpectOneErrorBox(boxes.Boxes(), progress,
                      "Date/time stamp on the file WHATSNEW.TXT does not match the date/time stamp on SETUP.EXE.");
}

TEST_F(TextFileSteps, ASourceFolderTooLongForThePathIsAMissingFile)
{
    WriteSourcesOfSizes({ 10, 20, 30, 40, 50, 60, 70 });
    std::string longFolder = "C:\\" + std::string(250, 'x') + "\\";
    lstrcpyA(SourceFolder, longFolder.c_str());
    MessageBoxRecorder boxes;
    EXPECT_EQ(0, ProcessTextFiles(progress, 0));
    ExpectOneErrorBox(boxes.Boxes(), progress,
                      "Cannot find required file README.TXT.  Please verify that the file exists on the installation disk.");
}

TEST_F(TextFileSteps, CopyModeCopiesByteForByteWithProgressAndPayloadTimes)
{
    WriteSources({
        RandomBytes(25600, 1),  // Meter to 1 after 15360 bytes, to 2 after the other 10240
        RandomBytes(3000, 2),
        RandomBytes(3000, 3),
        RandomBytes(3000, 4),
        RandomBytes(3000, 5),   // small files add up: 37600 bytes reach the next move, to 3
        CompressedHeader(0x3327F088, 999999, 15360, 6), // two reads, the second empty; copied as is
        RandomBytes(100, 7),
    });
    WriteWholeFile(install + "README.TXT", RandomBytes(40000, 99)); // an older, longer copy
    MessageBoxRecorder boxes;
    EXPECT_EQ(1, ProcessTextFiles(progress, 1));
    EXPECT_TRUE(boxes.Boxes().empty());

    // Times first: reading a copy moves its last-access time.
    for (size_t i = 0; i < contents.size(); i++) {
        ExpectPayloadTimes(install + Names[i]);
        EXPECT_EQ(contents[i], ReadWholeBytes(install + Names[i])) << Names[i];
    }
    EXPECT_EQ((std::vector<WPARAM>{ 1, 2, 3, 5 }), MeterPositions);
    EXPECT_EQ(53060u, CopiedBytes);
    EXPECT_EQ(52960u, CopiedAtLastReport);
    char shown[64];
    GetDlgItemTextA(progress, IDC_FILENAME_TEXT, shown, sizeof shown);
    EXPECT_STREQ("ORDER.TXT", shown);
}

// The distribution folder under another spelling: each text file would be created over itself
// and emptied before it is read. The copy refuses with message 1016; the files keep their bytes
// and their time.
TEST_F(TextFileSteps, CopyModeNeverCopiesAFileOntoItself)
{
    WriteSourcesOfSizes({ 10, 20, 30, 40, 50, 60, 70 });
    char alias[MAX_PATH];
    ASSERT_NE(0u, GetShortPathNameA(source.c_str(), alias, sizeof alias));
    std::string slashes = source;
    CharLowerA(&slashes[0]);
    for (char& c : slashes)
        if (c == '\\')
            c = '/';
    for (const std::string& folder : { source + ".\\", std::string(alias), slashes }) {
        SCOPED_TRACE(folder);
        lstrcpyA(InstallFolder, folder.c_str());
        MessageBoxRecorder boxes;
        EXPECT_EQ(0, ProcessTextFiles(progress, 1));
        ExpectOneErrorBox(boxes.Boxes(), progress, LoadMessage(IDS_SAME_AS_SOURCE));
        for (size_t i = 0; i < contents.size(); i++) {
            FILETIME write;
            ASSERT_TRUE(GetTimes(source + Names[i], nullptr, nullptr, &write));
            EXPECT_TRUE(SameTime(SetupTimestamp, write)) << Names[i];
            EXPECT_EQ(contents[i], ReadWholeBytes(source + Names[i])) << Names[i];
        }
    }
}

TEST_F(TextFileSteps, CopyModeReportsADestinationThatCannotBeCreated)
{
    WriteSourcesOfSizes({ 10, 20, 30, 40, 50, 60, 70 });
    std::string missing = install + "no such folder\\";
    lstrcpyA(InstallFolder, missing.c_str());
    MessageBoxRecorder boxes;
    EXPECT_EQ(0, ProcessTextFiles(progress, 1));
    ExpectOneErrorBox(boxes.Boxes(), progress, "Cannot open " + missing + "README.TXT for writing");
    EXPECT_EQ(0u, CopiedBytes);
}

TEST_F(TextFileSteps, CancelConfirmedBeforeAFileEndsTheWalkAfterItsFirstBuffer)
{
    WriteSourcesOfSizes({ 12000, 25600, 30, 40, 50, 60, 70 });
    CancelOnFirstMeterMove = true; // the cancel is confirmed while README.TXT is copied
    MessageBoxRecorder boxes;
    EXPECT_EQ(0, ProcessTextFiles(progress, 1));
    EXPECT_TRUE(boxes.Boxes().empty());

    ExpectPayloadTimes(install + "TESSEL.TXT");
    EXPECT_EQ(contents[0], ReadWholeBytes(install + "README.TXT"));
    std::vector<unsigned char> firstBuffer(contents[1].begin(), contents[1].begin() + 15360);
    EXPECT_EQ(firstBuffer, ReadWholeBytes(install + "TESSEL.TXT"));
    EXPECT_FALSE(FileExists(install + "LICENSE.TXT"));
    EXPECT_EQ(12000u + 15360u, CopiedBytes);
}

TEST_F(TextFileSteps, CopyFileContentsReportsASourceThatCannotBeOpened)
{
    EXPECT_EQ(IDS_CANNOT_OPEN, CopyFileContents((source + "absent.txt").c_str(), (install + "out.txt").c_str()));
    EXPECT_FALSE(FileExists(install + "out.txt"));
}

// A source that opens but cannot be read: the kernel answers every read of offset 0 of a
// process's memory file with an I/O error. The failed read writes nothing and is reported with
// the message that names the source, never as a complete copy.
TEST_F(TextFileSteps, CopyFileContentsReportsAFailedReadAsTheSource)
{
    const char unreadable[] = "Z:\\proc\\self\\mem";
    HFILE probe = _lopen(unreadable, OF_READ);
    ASSERT_NE(HFILE_ERROR, probe) << "this test needs the Unix root mapped as drive Z:";
    char byte;
    UINT got = _lread(probe, &byte, 1);
    _lclose(probe);
    ASSERT_EQ((UINT)HFILE_ERROR, got);

    std::string destination = install + "out.txt";
    EXPECT_EQ(IDS_CANNOT_OPEN, CopyFileContents(unreadable, destination.c_str()));
    ASSERT_TRUE(FileExists(destination)); // the open and the create succeeded
    EXPECT_TRUE(ReadWholeBytes(destination).empty());
    EXPECT_EQ(0u, CopiedBytes);
    FILETIME write;
    ASSERT_TRUE(GetTimes(destination, nullptr, nullptr, &write));
    EXPECT_FALSE(SameTime(PayloadTimestamp, write)); // not stamped as a finished copy
}

TEST(SizeIfCompressed, GivesTheDirectorySizeForAFileThatCannotBeOpened)
{
    EXPECT_EQ(4711u, SizeIfCompressed("C:\\no such folder\\no such file.txt", 4711));
}

// The same walk with the real progress dialog and Meter: the copier's moves land on the Meter, and
// the dialog's own Cancel, confirmed with Yes while the copier dispatches before the first file,
// stops the walk after that file's first buffer.
class TextFilesWithProgressDialog : public TextFileSteps {
protected:
    HWND dialog = nullptr;

    void SetUp() override
    {
        TextFileSteps::SetUp();
        static bool registered;
        if (!registered)
            registered = RegisterMeterClass(ModuleInstance) != 0;
        dialog = CreateDialogParamA(ModuleInstance, MAKEINTRESOURCEA(IDD_PROGRESS), nullptr, ProgressDlgProc, 0);
        ASSERT_NE(nullptr, dialog);
        ShowWindow(dialog, SW_SHOW);
        UpdateWindow(dialog);
        ProgressDialog = dialog;
        SendDlgItemMessageA(dialog, IDC_METER, MTR_SETPOS, 0, 0);
        SendDlgItemMessageA(dialog, IDC_METER, MTR_SETRANGE, 100, 0);
    }

    void TearDown() override
    {
        DestroyWindow(dialog);
        TextFileSteps::TearDown();
    }
};

TEST_F(TextFilesWithProgressDialog, CopiesMoveTheMeter)
{
    WriteSourcesOfSizes({ 25600, 3000, 3000, 3000, 3000, 15360, 100 });
    MessageBoxRecorder boxes;
    EXPECT_EQ(1, ProcessTextFiles(dialog, 1));
    EXPECT_TRUE(boxes.Boxes().empty());
    EXPECT_EQ(5, SendDlgItemMessageA(dialog, IDC_METER, MTR_GETPOS, 0, 0));
    char shown[64];
    GetDlgItemTextA(dialog, IDC_FILENAME_TEXT, shown, sizeof shown);
    EXPECT_STREQ("ORDER.TXT", shown);
}

TEST_F(TextFilesWithProgressDialog, ACancelConfirmedBeforeTheFirstFileStopsAfterItsFirstBuffer)
{
    WriteSourcesOfSizes({ 25600, 3000, 3000, 3000, 3000, 15360, 100 });
    MessageBoxRecorder boxes;
    boxes.Answer(IDYES);
    PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0); // the user presses Cancel
    EXPECT_EQ(0, ProcessTextFiles(dialog, 1));

    ASSERT_EQ(1u, boxes.Boxes().size());
    EXPECT_EQ(dialog, boxes.Boxes()[0].owner);
    EXPECT_EQ((UINT)(MB_YESNO | MB_ICONQUESTION), boxes.Boxes()[0].type);
    EXPECT_EQ(1, CancelRequested);
    ExpectPayloadTimes(install + "README.TXT");
    std::vector<unsigned char> firstBuffer(contents[0].begin(), contents[0].begin() + 15360);
    EXPECT_EQ(firstBuffer, ReadWholeBytes(install + "README.TXT"));
    EXPECT_FALSE(FileExists(install + "TESSEL.TXT"));
    EXPECT_EQ(1, SendDlgItemMessageA(dialog, IDC_METER, MTR_GETPOS, 0, 0));
}

// The message of a copy failure names the file it concerns and is owned by the progress dialog.
class CopyErrors : public ::testing::Test {
protected:
    void SetUp() override
    {
        ModuleInstance = GetModuleHandleA(nullptr);
        ASSERT_GT(LoadStringA(ModuleInstance, IDS_SETUP_TITLE, SetupTitle, sizeof SetupTitle), 0);
    }
    MessageBoxRecorder boxes;
};

TEST_F(CopyErrors, ReportCopyErrorNamesTheRightFile)
{
    HWND dialog = CreateWindowExA(0, "STATIC", "progress", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(nullptr, dialog);
    ProgressDialog = dialog;
    EXPECT_EQ(0, ReportCopyError(IDS_CANNOT_OPEN, "A:\\src.txt", "C:\\dst.txt"));
    EXPECT_EQ(0, ReportCopyError(IDS_CANNOT_OPEN_FOR_WRITING, "A:\\src.txt", "C:\\dst.txt"));
    EXPECT_EQ(0, ReportCopyError(IDS_ERROR_WRITING, "A:\\src.txt", "C:\\dst.txt"));
    EXPECT_EQ(0, ReportCopyError(IDS_SAME_AS_SOURCE, "A:\\src.txt", "A:\\SRC.TXT"));
    for (int code : { 0, 1015, 1020, -1 })
        EXPECT_EQ(1, ReportCopyError(code, "A:\\src.txt", "C:\\dst.txt")) << code;
    ProgressDialog = nullptr;
    DestroyWindow(dialog);

    ASSERT_EQ(4u, boxes.Boxes().size());
    EXPECT_EQ("Cannot open A:\\src.txt", boxes.Boxes()[0].text);
    EXPECT_EQ("Cannot open C:\\dst.txt for writing", boxes.Boxes()[1].text);
    EXPECT_EQ("Error writing to C:\\dst.txt", boxes.Boxes()[2].text);
    EXPECT_EQ(0u, boxes.Boxes()[3].text.find("\"Install To\" folder must be different"));
    for (const RecordedBox& box : boxes.Boxes()) {
        EXPECT_EQ(dialog, box.owner);
        EXPECT_EQ((UINT)MB_ICONERROR, box.type);
        EXPECT_EQ("Tessel Setup", box.caption);
    }
}

// Short writes: the group win.steps.text_files_short_write runs this program under a file-size
// limit (file-size-limit.sh), where a write that crosses the limit comes back short, as on a disk
// that fills up; the copy must report it as error 1019.
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
