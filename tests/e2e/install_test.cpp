// Whole installations: the real setup.exe in a fresh Wine prefix, driven through its windows as
// a person would, with the outcome checked on disk, in the registry and in what the stand-in
// main program recorded when setup started it.
#include "archive_writer.h"
#include "driver.h"
#include "e2e.h"
#include "res/resource.h"

#include <gtest/gtest.h>

#include <stdio.h>
#include <string.h>

namespace {

// The 32-bit build runs under qemu-i386, where a program takes seconds to start and a busy
// machine can stretch that to tens of seconds.
constexpr DWORD WindowTimeoutMs = sizeof(void*) == 4 ? 60000 : 20000;
constexpr DWORD ExitTimeoutMs = 60000;

const char* const TextFileNames[] = {"README.TXT", "TESSEL.TXT", "LICENSE.TXT", "VENDOR.TXT",
                                     "WHATSNEW.TXT", "FILE_ID.DIZ", "ORDER.TXT"};

constexpr char NotInstalledText[] = "The software has not been successfully installed.";
constexpr char ConfirmCancelText[] = "Are you sure you want to cancel?";
constexpr char OriginPathGiven[] = "C:\\users\\Public\\Downloads\\tessel 81 setup.exe";

constexpr DWORD MeterPollMs = 50;

// The dialogs' pictures show them as a person sees them: painted, with frame and caption; the
// progress dialog once its Meter stands part-way (or has run through, on a fast machine).
void SaveDialogPicture(HWND dialog, const std::string& path)
{
    SaveScreenshotWhenPainted(dialog, path, WindowTimeoutMs);
}

void SaveProgressPicture(HWND progress, const std::string& path)
{
    for (DWORD waited = 0; waited < WindowTimeoutMs; waited += MeterPollMs) {
        bool answered = false;
        int position = SendToItem(progress, IDC_METER, MTR_GETPOS, WindowTimeoutMs, &answered);
        if (!answered || position > 0)
            break;
        Sleep(MeterPollMs);
    }
    SaveScreenshotWhenPainted(progress, path, WindowTimeoutMs);
}

void PlantShellExtensionKeys()
{
    for (const char* path : ShellExtensionKeys)
        ASSERT_TRUE(CreateKey(HKEY_CLASSES_ROOT, std::string(path) + "\\InprocServer32")) << path;
}

void ExpectShellExtensionKeysGone()
{
    for (const char* path : ShellExtensionKeys)
        EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, path)) << path;
}

void ExpectShellExtensionKeysKept()
{
    for (const char* path : ShellExtensionKeys)
        EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, path)) << path;
}

class Install : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(LoadE2eConfig(&Config)) << "TQ_SETUP_DIST must name the sample distribution";
        CreateDirectoryA(Config.Screenshots.c_str(), nullptr);
        const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
        Dist = std::string("C:\\dist-") + info->name();
        ASSERT_TRUE(CopyFolder(Config.Dist, Dist));
        ASSERT_TRUE(FileExists(Dist + "\\setup.exe"));
        DeleteFileA(Config.LaunchLog.c_str());
    }

    void TearDown() override { Setup.Kill(); }

    void Start(const std::string& tail = std::string("-argv0 ") + OriginPathGiven)
    {
        ASSERT_TRUE(StartSetup(&Setup, Dist + "\\setup.exe", tail, Dist));
    }

    HWND Wait(SetupWindow kind, DWORD timeoutMs = WindowTimeoutMs)
    {
        return WaitForSetupWindow(Setup, kind, timeoutMs);
    }

    // Position 0, then the range, then the progress of the work, and the full range at the end.
    static void ExpectMeterRanToTheEnd(const MeterTrace& meter)
    {
        EXPECT_TRUE(meter.ZeroBeforeRange);
        EXPECT_GT(meter.Range, 0u);
        ASSERT_GE(meter.Positions.size(), 2u);
        EXPECT_EQ(meter.Range, meter.Positions.back());
    }

    // The next message box; fails the test when none comes.
    BoxInfo NextBox(DWORD timeoutMs = WindowTimeoutMs)
    {
        HWND window = Wait(SetupWindow::MessageBox, timeoutMs);
        EXPECT_NE(nullptr, window) << "no message box came";
        if (window == nullptr)
            return BoxInfo();
        Sleep(100); // let it paint before reading and capturing it
        return ReadBox(window);
    }

    // Presses a button of a box or dialog and waits until that window is gone.
    void Answer(HWND window, int id)
    {
        ASSERT_NE(nullptr, window);
        PressButton(window, id);
        DWORD start = GetTickCount();
        while (IsWindow(window) && IsWindowVisible(window) && GetTickCount() - start < WindowTimeoutMs)
            Sleep(10);
        ASSERT_FALSE(IsWindow(window) && IsWindowVisible(window)) << "the window stayed after button " << id;
    }

    // The install-folder dialog: optionally types a folder, then presses OK.
    HWND ConfirmFolder(const std::string& folder = std::string())
    {
        HWND dialog = Wait(SetupWindow::InstallDialog);
        EXPECT_NE(nullptr, dialog) << "the install-folder dialog did not come";
        if (dialog == nullptr)
            return nullptr;
        if (!folder.empty())
            TypeText(dialog, 101, folder);
        PressButton(dialog, IDOK);
        return dialog;
    }

    void ExpectEndsQuietly()
    {
        EXPECT_EQ(0u, Setup.WaitForExit(ExitTimeoutMs));
        EXPECT_EQ(nullptr, FindSetupWindow(Setup.Info.dwProcessId, SetupWindow::MessageBox));
    }

    // Message 1006 as the last box, with the progress dialog gone, then setup ends with 0.
    void ExpectNotInstalledEnd()
    {
        BoxInfo box = NextBox();
        EXPECT_NE(std::string::npos, box.Text.find(NotInstalledText)) << box.Text;
        EXPECT_EQ("Tessel Setup", box.Caption);
        EXPECT_EQ(nullptr, FindSetupWindow(Setup.Info.dwProcessId, SetupWindow::ProgressDialog));
        Answer(box.Window, IDOK);
        EXPECT_EQ(0u, Setup.WaitForExit(ExitTimeoutMs));
    }

    std::vector<ZipEntryInfo> PayloadEntries()
    {
        std::string bytes;
        std::vector<ZipEntryInfo> entries;
        EXPECT_TRUE(ReadWholeFile(Dist + "\\setup.tq", &bytes));
        EXPECT_TRUE(ReadZipDirectory(bytes, &entries));
        return entries;
    }

    void ExpectNothingStarted()
    {
        Sleep(500);
        EXPECT_TRUE(ReadLaunchRecords(Config).empty());
    }

    std::vector<LaunchRecord> WaitForLaunch()
    {
        std::vector<LaunchRecord> records;
        DWORD start = GetTickCount();
        while ((records = ReadLaunchRecords(Config)).empty() && GetTickCount() - start < WindowTimeoutMs)
            Sleep(50);
        Sleep(300); // a second start would show up now
        return ReadLaunchRecords(Config);
    }

    // Every payload entry in the folder with its content and stored time, the text files with
    // the payload time, the stub with setup's time (by default that of the distribution's
    // setup.exe), the main program under its own name.
    void ExpectInstalled(const std::string& folder, const FILETIME* setupTimeGiven = nullptr)
    {
        std::vector<ZipEntryInfo> entries = PayloadEntries();
        ASSERT_FALSE(entries.empty());
        FILETIME payloadTime{};
        for (const ZipEntryInfo& entry : entries) {
            if (entry.Name.empty() || entry.Name.back() == '/')
                continue;
            std::string name = entry.BaseName();
            if (_stricmp(name.c_str(), "tessel32.ex_") == 0) {
                payloadTime = entry.Time();
                name = "TESSEL32.EXE";
            }
            std::string path = folder + name, bytes;
            ASSERT_TRUE(ReadWholeFile(path, &bytes)) << path;
            EXPECT_EQ(entry.Size, bytes.size()) << path;
            EXPECT_EQ(entry.Crc, Crc32(bytes)) << path;
            FILETIME written{};
            ASSERT_TRUE(GetFileTimes(path, &written));
            EXPECT_TRUE(SameTime(entry.Time(), written))
                << path << ": " << FormatFileTime(written) << " instead of " << FormatFileTime(entry.Time());
        }
        EXPECT_FALSE(FileExists(folder + "tessel32.ex_"));
        FILETIME setupTime{};
        if (setupTimeGiven != nullptr)
            setupTime = *setupTimeGiven;
        else
            ASSERT_TRUE(GetFileTimes(Dist + "\\setup.exe", &setupTime));
        for (const char* name : TextFileNames) {
            std::string copied, original;
            ASSERT_TRUE(ReadWholeFile(folder + name, &copied)) << name;
            ASSERT_TRUE(ReadWholeFile(Dist + "\\" + name, &original));
            EXPECT_EQ(original, copied) << name;
            FILETIME written{};
            GetFileTimes(folder + name, &written);
            EXPECT_TRUE(SameTime(payloadTime, written)) << name << ": " << FormatFileTime(written);
        }
        FILETIME stubTime{};
        ASSERT_TRUE(GetFileTimes(folder + "TQSHLSTB.DLL", &stubTime));
        EXPECT_TRUE(SameTime(setupTime, stubTime)) << FormatFileTime(stubTime);
    }

    // The sample bundle as a customer downloads it, changed by `change` when given.
    void DownloadBundle(void (*change)(const std::string& path) = nullptr)
    {
        ASSERT_TRUE(FileExists(Config.Bundle)) << "TQ_SETUP_BUNDLE must name the sample bundle";
        CreateDirectoryA("C:\\Downloads", nullptr);
        ASSERT_TRUE(CopyFileA(Config.Bundle.c_str(), DownloadedBundle, FALSE));
        if (change != nullptr)
            change(DownloadedBundle);
        ASSERT_TRUE(FindUnpackFolders().empty());
    }

    // The bundle's entries, read from its central directory (its offsets count from the start
    // of the file).
    std::vector<ZipEntryInfo> BundleEntries()
    {
        std::string bytes;
        std::vector<ZipEntryInfo> entries;
        EXPECT_TRUE(ReadWholeFile(DownloadedBundle, &bytes));
        EXPECT_TRUE(ReadZipDirectory(bytes, &entries));
        return entries;
    }

    // The certificate table (PE/COFF data directory 4, a file offset) ends the download and
    // lies behind every entry of the archive.
    void ExpectSignedBehindTheArchive()
    {
        std::string bytes;
        ASSERT_TRUE(ReadWholeFile(DownloadedBundle, &bytes));
        auto get32 = [&](size_t at) {
            uint32_t value = 0;
            memcpy(&value, bytes.data() + at, 4);
            return value;
        };
        ASSERT_GT(bytes.size(), 0x400u);
        size_t optional = get32(0x3C) + 24;
        size_t directories = optional + (bytes[optional] == 0x0B && bytes[optional + 1] == 0x02 ? 112 : 96);
        uint32_t certificateStart = get32(directories + 8 * 4);
        uint32_t certificateSize = get32(directories + 8 * 4 + 4);
        ASSERT_NE(0u, certificateSize) << "TQ_BUNDLE_SIGNED=1, but the bundle is not signed";
        EXPECT_EQ(bytes.size(), (size_t)certificateStart + certificateSize);
        for (const ZipEntryInfo& entry : BundleEntries())
            EXPECT_LT(entry.LocalHeaderOffset + entry.CompressedSize, certificateStart) << entry.Name;
        printf("%s is signed: %u bytes of certificate table behind the archive\n", DownloadedBundle,
               (unsigned)certificateSize);
    }

    // Started as Explorer starts a program: by its full path, from its own folder.
    void StartBundle()
    {
        ASSERT_TRUE(StartSetup(&Setup, DownloadedBundle, "", "C:\\Downloads"));
    }

    static constexpr char DownloadedBundle[] = "C:\\Downloads\\tessel81.exe";
    E2eConfig Config;
    std::string Dist;
    SetupProcess Setup;
};

TEST_F(Install, HappyPathWithTheProposedFolder)
{
    PlantShellExtensionKeys();
    MeterSpy spy;
    ASSERT_TRUE(spy.Start(Config));
    Start();
    HWND dialog = Wait(SetupWindow::InstallDialog);
    ASSERT_NE(nullptr, dialog);
    Sleep(300);
    EXPECT_EQ("Tessel Setup", WindowText(dialog));
    std::string folder = ItemText(dialog, 101);
    EXPECT_EQ("C:\\Program Files\\Tessel", folder);
    SaveDialogPicture(dialog, Config.Screenshots + "\\1-install-folder-dialog.bmp");
    PressButton(dialog, IDOK);

    HWND progress = Wait(SetupWindow::ProgressDialog, WindowTimeoutMs);
    if (progress != nullptr) {
        EXPECT_EQ("Tessel Setup", WindowText(progress));
        SaveProgressPicture(progress, Config.Screenshots + "\\2-progress-dialog.bmp");
    }
    ExpectEndsQuietly();

    std::string installFolder = folder + "\\";
    ExpectInstalled(installFolder);
    ExpectShellExtensionKeysGone();
    std::vector<LaunchRecord> launches = WaitForLaunch();
    ASSERT_EQ(1u, launches.size());
    EXPECT_EQ("\"" + installFolder + "TESSEL32.EXE\" /installS /f:\"" + OriginPathGiven + "\"", launches[0].CommandLine);
    EXPECT_EQ(folder, launches[0].CurrentFolder);

    MeterTrace meter = spy.Stop();
    ExpectMeterRanToTheEnd(meter);
    PrintInstallReport(Config, installFolder, &meter);
}

TEST_F(Install, FolderTypedWithBlanksIsCreated)
{
    const std::string folder = "C:\\My Programs\\Tessel 8 x";
    ASSERT_FALSE(FolderExists("C:\\My Programs"));
    Start("-ARGV0    C:\\a b\\");
    ConfirmFolder(folder);
    ExpectEndsQuietly();
    ExpectInstalled(folder + "\\");
    std::vector<LaunchRecord> launches = WaitForLaunch();
    ASSERT_EQ(1u, launches.size());
    EXPECT_EQ("\"" + folder + "\\TESSEL32.EXE\" /installS /f:\"C:\\a b\\\"", launches[0].CommandLine);
    EXPECT_EQ(folder, launches[0].CurrentFolder);
}

TEST_F(Install, CancelDuringExtraction)
{
    ASSERT_TRUE(AddBigEntry(Dist + "\\setup.tq"));
    const std::string folder = "C:\\Cancelled";
    MeterSpy spy;
    ASSERT_TRUE(spy.Start(Config));
    Start();
    ConfirmFolder(folder);
    HWND progress = Wait(SetupWindow::ProgressDialog);
    ASSERT_NE(nullptr, progress);

    // No: the work goes on.
    PressButton(progress, IDCANCEL);
    BoxInfo question = NextBox();
    EXPECT_NE(std::string::npos, question.Text.find(ConfirmCancelText)) << question.Text;
    EXPECT_EQ(progress, question.Owner);
    bool answered = false;
    int before = SendToItem(progress, IDC_METER, MTR_GETPOS, 5000, &answered);
    EXPECT_TRUE(answered);
    Sleep(300);
    EXPECT_EQ(before, SendToItem(progress, IDC_METER, MTR_GETPOS, 5000)) << "the work waits while the question is up";
    Answer(question.Window, IDNO);
    int after = before;
    DWORD start = GetTickCount();
    do {
        Sleep(10);
        after = SendToItem(progress, 100, 1027, 5000, &answered);
    } while (answered && after == before && GetTickCount() - start < WindowTimeoutMs);
    ASSERT_TRUE(answered) << "extraction ended before the second cancel";
    EXPECT_GT(after, before) << "the work did not go on after No";
    EXPECT_TRUE(IsWindowEnabled(GetDlgItem(progress, IDCANCEL)));

    // Yes, while the big last entry is being written: it stops.
    start = GetTickCount();
    while (ItemText(progress, 104) != BigPayloadName && GetTickCount() - start < WindowTimeoutMs)
        Sleep(10);
    PressButton(progress, IDCANCEL);
    question = NextBox();
    ASSERT_NE(std::string::npos, question.Text.find(ConfirmCancelText));
    std::string being = ItemText(progress, 104);
    Answer(question.Window, IDYES);
    ExpectNotInstalledEnd();

    EXPECT_EQ(BigPayloadName, being);
    EXPECT_FALSE(FileExists(folder + "\\" + being));
    for (const ZipEntryInfo& entry : PayloadEntries()) // the entries before it stay
        EXPECT_TRUE(FileExists(folder + "\\" + entry.BaseName())) << entry.Name;
    for (const char* name : TextFileNames)
        EXPECT_FALSE(FileExists(folder + "\\" + name)) << name;
    EXPECT_TRUE(FileExists(folder + "\\TQSHLSTB.DLL"));
    ExpectNothingStarted();
    MeterTrace meter = spy.Stop(); // set to full whatever the outcome
    ASSERT_FALSE(meter.Positions.empty());
    EXPECT_EQ(meter.Range, meter.Positions.back());
}

TEST_F(Install, DamagedPayloadEntry)
{
    std::string damaged;
    ASSERT_TRUE(DamageFirstEntryCrc(Dist + "\\setup.tq", &damaged));
    Start();
    ConfirmFolder("C:\\Damaged");
    BoxInfo box = NextBox();
    EXPECT_NE(std::string::npos, box.Text.find("ZIP damaged: file C:\\Damaged\\" + damaged + ": Bad CRC")) << box.Text;
    EXPECT_EQ(Wait(SetupWindow::ProgressDialog, 0), box.Owner);
    Answer(box.Window, IDOK);
    ExpectNotInstalledEnd();
    for (const char* name : TextFileNames)
        EXPECT_FALSE(FileExists(std::string("C:\\Damaged\\") + name)) << name;
    EXPECT_FALSE(FileExists("C:\\Damaged\\TESSEL32.EXE"));
    ExpectNothingStarted();
}

// The one file a customer downloads: the self-extractor unpacks the distribution into a new
// folder under the temporary folder and runs setup from there, which installs exactly what the
// folder distribution installs, with the downloaded file's path for the main program. The text
// files' times survive the archive's MS-DOS times (else setup would stop with message 1023).
// A signed bundle (TQ_BUNDLE_SIGNED=1) carries its certificate table behind the archive, as
// every signer writes it, and installs the same.
TEST_F(Install, FromTheBundleInTheDownloadsFolder)
{
    PlantShellExtensionKeys();
    DownloadBundle();
    if (Config.BundleSigned)
        ExpectSignedBehindTheArchive();
    StartBundle();
    SetupProcess extractor = Setup;
    Setup = SetupProcess();
    ASSERT_TRUE(FindChildProcess(extractor, "setup.exe", &Setup, WindowTimeoutMs));
    // The self-extractor's Meter has done its work; the trace ends with setup's.
    MeterSpy spy;
    ASSERT_TRUE(spy.Start(Config));
    std::vector<std::string> unpacked = FindUnpackFolders();
    ASSERT_EQ(1u, unpacked.size());
    std::vector<std::string> files = ListFolder(unpacked[0] + "\\");
    EXPECT_EQ(9u, files.size());
    HWND dialog = Wait(SetupWindow::InstallDialog);
    ASSERT_NE(nullptr, dialog);
    Sleep(300);
    EXPECT_EQ("Tessel Setup", WindowText(dialog));
    EXPECT_EQ("C:\\Program Files\\Tessel", ItemText(dialog, 101));
    SaveDialogPicture(dialog, Config.Screenshots + "\\bundle-1-install-folder-dialog.bmp");
    PressButton(dialog, IDOK);
    HWND progress = Wait(SetupWindow::ProgressDialog);
    if (progress != nullptr)
        SaveProgressPicture(progress, Config.Screenshots + "\\bundle-2-progress-dialog.bmp");
    ExpectEndsQuietly();
    EXPECT_EQ(0u, extractor.WaitForExit(ExitTimeoutMs)) << "setup's exit code, passed on";
    EXPECT_TRUE(FindUnpackFolders().empty()) << unpacked[0] << " stayed";
    printf("\n%s unpacked %u files into %s, started setup.exe there and removed the folder after it\n",
           DownloadedBundle, (unsigned)files.size(), unpacked[0].c_str());

    FILETIME unpackedSetupTime{};
    for (const ZipEntryInfo& entry : BundleEntries())
        if (entry.Name == "setup.exe")
            unpackedSetupTime = entry.Time();
    ExpectInstalled("C:\\Program Files\\Tessel\\", &unpackedSetupTime);
    std::vector<LaunchRecord> launches = WaitForLaunch();
    ASSERT_EQ(1u, launches.size());
    EXPECT_EQ(std::string("\"C:\\Program Files\\Tessel\\TESSEL32.EXE\" /installS /f:\"") + DownloadedBundle + "\"",
              launches[0].CommandLine);
    EXPECT_EQ("C:\\Program Files\\Tessel", launches[0].CurrentFolder);
    ExpectShellExtensionKeysGone();
    MeterTrace meter = spy.Stop();
    ExpectMeterRanToTheEnd(meter);
    PrintInstallReport(Config, "C:\\Program Files\\Tessel\\", &meter);
}

// One flipped byte in setup.tq's data within the bundle: the engine's CRC message, then the
// self-extractor's own; nothing installed, nothing left in the temporary folder.
TEST_F(Install, BundleWithOneFlippedByte)
{
    DownloadBundle();
    std::string bytes;
    ASSERT_TRUE(ReadWholeFile(DownloadedBundle, &bytes));
    for (const ZipEntryInfo& entry : BundleEntries())
        if (entry.Name == "setup.tq")
            bytes[entry.LocalHeaderOffset + 30 + entry.Name.size() + entry.CompressedSize / 2] ^= 0x10;
    ASSERT_TRUE(WriteWholeFile(DownloadedBundle, bytes));
    StartBundle();
    BoxInfo box = NextBox();
    EXPECT_NE(std::string::npos, box.Text.find("\\setup.tq: Bad CRC")) << box.Text;
    EXPECT_EQ(Wait(SetupWindow::ProgressDialog, 0), box.Owner);
    Answer(box.Window, IDOK);
    box = NextBox();
    EXPECT_EQ("Tessel Self-Extractor", box.Caption);
    EXPECT_EQ(std::string("Tessel Setup could not be unpacked from ") + DownloadedBundle + " and has not been started.",
              box.Text);
    Answer(box.Window, IDOK);
    EXPECT_EQ(1u, Setup.WaitForExit(ExitTimeoutMs));
    EXPECT_TRUE(FindUnpackFolders().empty());
    EXPECT_FALSE(FolderExists("C:\\Program Files\\Tessel"));
    ExpectNothingStarted();
}

// Cancel while the self-extractor writes a big last entry: it stops at once, without a box,
// removes what it had unpacked and never starts setup.
TEST_F(Install, BundleCancelledWhileUnpacking)
{
    DownloadBundle([](const std::string& path) { ASSERT_TRUE(AddBigEntry(path)); });
    StartBundle();
    HWND window = Wait(SetupWindow::ProgressDialog);
    ASSERT_NE(nullptr, window);
    EXPECT_EQ("Tessel Self-Extractor", WindowText(window));
    DWORD start = GetTickCount();
    while (ItemText(window, 104) != BigPayloadName && GetTickCount() - start < WindowTimeoutMs)
        Sleep(10);
    std::vector<std::string> unpacked = FindUnpackFolders();
    ASSERT_EQ(1u, unpacked.size());
    EXPECT_TRUE(FileExists(unpacked[0] + "\\setup.exe"));
    PressButton(window, IDCANCEL);
    EXPECT_EQ(2u, Setup.WaitForExit(ExitTimeoutMs)); // a box would keep it running
    EXPECT_TRUE(FindUnpackFolders().empty()) << unpacked[0] << " stayed";
    ExpectNothingStarted();
}

TEST_F(Install, TextFileWithAnotherTime)
{
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    ASSERT_TRUE(SetLastWriteTime(Dist + "\\WHATSNEW.TXT", now));
    Start();
    HWND dialog = ConfirmFolder("C:\\Touched");
    BoxInfo box = NextBox();
    EXPECT_EQ("Date/time stamp on the file WHATSNEW.TXT does not match the date/time stamp on SETUP.EXE.", box.Text);
    EXPECT_EQ(dialog, box.Owner);
    Answer(box.Window, IDOK);
    // The dialog stays for another try; the user gives up.
    ASSERT_EQ(dialog, Wait(SetupWindow::InstallDialog));
    PressButton(dialog, IDCANCEL);
    ExpectNotInstalledEnd();
    EXPECT_FALSE(FolderExists("C:\\Touched"));
    ExpectNothingStarted();
}

TEST_F(Install, MainProgramRunning)
{
    HWND standIn = CreateMainProgramWindow();
    ASSERT_NE(nullptr, standIn);
    Start();
    BoxInfo box = NextBox();
    EXPECT_NE(std::string::npos, box.Text.find("another version of Tessel is running")) << box.Text;
    EXPECT_EQ((std::vector<int>{IDRETRY, IDCANCEL}), box.Buttons);
    Answer(box.Window, IDRETRY);
    box = NextBox(); // still running: asked again
    EXPECT_NE(std::string::npos, box.Text.find("another version of Tessel is running"));
    DestroyWindow(standIn);
    Answer(box.Window, IDRETRY);
    HWND dialog = Wait(SetupWindow::InstallDialog);
    ASSERT_NE(nullptr, dialog);
    PressButton(dialog, IDCANCEL);
    ExpectNotInstalledEnd();

    // Cancel ends setup without a further word.
    standIn = CreateMainProgramWindow();
    Setup.Kill();
    Setup = SetupProcess();
    Start();
    box = NextBox();
    EXPECT_NE(std::string::npos, box.Text.find("another version of Tessel is running"));
    Answer(box.Window, IDCANCEL);
    ExpectEndsQuietly();
    DestroyWindow(standIn);
    ExpectNothingStarted();
}

TEST_F(Install, OldStubLibraryHeldByAnotherProcess)
{
    const std::string folder = "C:\\Held";
    PlantShellExtensionKeys();
    CreateDirectoryA(folder.c_str(), nullptr);
    ASSERT_TRUE(WriteWholeFile(folder + "\\TQSHLSTB.DLL", "an old stub without a version record"));
    HANDLE held = CreateFileA((folder + "\\TQSHLSTB.DLL").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, held);

    Start();
    HWND dialog = ConfirmFolder(folder);
    // While it waits, the dialog says so and counts the seconds with stars.
    DWORD start = GetTickCount();
    std::string stars;
    auto allStars = [](const std::string& text) { return text.find_first_not_of('*') == std::string::npos; };
    while (GetTickCount() - start < 12000 && !(stars.size() >= 5 && allStars(stars))) {
        stars = ItemText(dialog, 107);
        Sleep(100);
    }
    EXPECT_EQ("Please wait a moment while the Tessel Shell Extension is unloaded.", ItemText(dialog, 106));
    EXPECT_EQ(std::string(stars.size(), '*'), stars);
    EXPECT_GE(stars.size(), 5u);

    BoxInfo box = NextBox(30000);
    EXPECT_NE(std::string::npos, box.Text.find("Setup can not close the \"Tessel Shell Extension\"")) << box.Text;
    EXPECT_EQ((std::vector<int>{IDYES, IDNO}), box.Buttons);
    EXPECT_EQ(std::string(15, '*'), ItemText(dialog, 107));
    Answer(box.Window, IDYES);
    box = NextBox();
    EXPECT_NE(std::string::npos, box.Text.find("Tessel's Shell Extension has been temporarily turned off")) << box.Text;
    Answer(box.Window, IDOK);
    ExpectEndsQuietly();
    CloseHandle(held);

    ExpectShellExtensionKeysGone();
    std::string value;
    ASSERT_TRUE(ReadStringValue(HKEY_CURRENT_USER, "Software\\Ostrel Computing\\Tessel\\fm", "shlExt", &value));
    EXPECT_EQ("0", value);
    EXPECT_FALSE(FileExists(folder + "\\TESSEL32.EXE"));
    ExpectNothingStarted();
}

TEST_F(Install, RenameOfTheMainProgramFails)
{
    // The payload delivers the main program under another name, so "tessel32.ex_" is missing
    // when it is to take the program's name; an old program is in the folder.
    ASSERT_TRUE(RenamePayloadEntry(Dist + "\\setup.tq", "tessel32.ex_", "tessel32.ex0"));
    const std::string folder = "C:\\Renamed";
    CreateDirectoryA(folder.c_str(), nullptr);
    ASSERT_TRUE(WriteWholeFile(folder + "\\TESSEL32.EXE", "the old main program"));
    PlantShellExtensionKeys();
    Start();
    ConfirmFolder(folder);
    BoxInfo box = NextBox();
    EXPECT_EQ("Cannot open " + folder + "\\TESSEL32.EXE for writing", box.Text);
    HWND progress = Wait(SetupWindow::ProgressDialog, 0);
    ASSERT_NE(nullptr, progress);
    EXPECT_EQ(progress, box.Owner);
    Answer(box.Window, IDOK);

    box = NextBox();
    EXPECT_NE(std::string::npos, box.Text.find(NotInstalledText));
    EXPECT_EQ(nullptr, box.Owner);
    EXPECT_TRUE(IsWindowVisible(progress));
    bool answered = false;
    int range = SendToItem(progress, 100, 1025 /* MTR_GETRANGE */, 5000, &answered);
    EXPECT_TRUE(answered);
    EXPECT_EQ(range, SendToItem(progress, 100, 1027 /* MTR_GETPOS */, 5000));
    Answer(box.Window, IDOK);
    EXPECT_EQ(0u, Setup.WaitForExit(ExitTimeoutMs));

    EXPECT_FALSE(FileExists(folder + "\\TESSEL32.EXE"));
    EXPECT_FALSE(FileExists(folder + "\\tessel32.ex_"));
    EXPECT_TRUE(FileExists(folder + "\\README.TXT"));
    ExpectShellExtensionKeysKept();
    ExpectNothingStarted();
}

TEST_F(Install, DriveRelativeFolderIsMadeAbsoluteOnce)
{
    // A folder typed relative to the current folder of drive C, the distribution folder. It is
    // made absolute once, when OK is accepted: the folder created, the files, the current folder
    // at the launch and the first start all name that one folder, so the first start finds the
    // program. (The fallback start, which the platform leaves no honest way to provoke here
    // once both starts name the same file, is tested in the sequence group.)
    const std::string folder = Dist + "\\Tessel";
    Start("-argv0 x");
    ConfirmFolder("C:Tessel");
    ExpectEndsQuietly();
    EXPECT_TRUE(FileExists(folder + "\\TESSEL32.EXE"));
    EXPECT_TRUE(FileExists(folder + "\\README.TXT"));
    EXPECT_FALSE(FileExists(folder + "\\Tessel"));
    std::vector<LaunchRecord> launches = WaitForLaunch();
    ASSERT_EQ(1u, launches.size());
    EXPECT_EQ("\"" + folder + "\\TESSEL32.EXE\" /installS /f:\"x\"", launches[0].CommandLine);
    EXPECT_EQ(folder, launches[0].CurrentFolder);
}

TEST_F(Install, BothStartsFail)
{
    // The payload's main program is no program: the real one comes under another name, and a
    // plain entry of text takes its place.
    ASSERT_TRUE(RenamePayloadEntry(Dist + "\\setup.tq", "tessel32.ex_", "tessel32.ex0"));
    ASSERT_TRUE(AddStoredEntry(Dist + "\\setup.tq", "tessel32.ex_", "this is no program\r\n"));
    PlantShellExtensionKeys();
    Start();
    ConfirmFolder("C:\\Broken");
    BoxInfo box = NextBox();
    EXPECT_EQ("Error running C:\\Broken\\TESSEL32.EXE", box.Text);
    EXPECT_NE("Tessel Setup", box.Caption); // the platform's default caption
    EXPECT_EQ(std::vector<int>{IDOK}, box.Buttons);
    EXPECT_EQ(nullptr, Wait(SetupWindow::ProgressDialog, 0));
    Answer(box.Window, IDOK);
    ExpectEndsQuietly();
    std::string program;
    ASSERT_TRUE(ReadWholeFile("C:\\Broken\\TESSEL32.EXE", &program));
    EXPECT_EQ("this is no program\r\n", program);
    ExpectShellExtensionKeysGone(); // removed on the way to the launch
    ExpectNothingStarted();
}

} // namespace
