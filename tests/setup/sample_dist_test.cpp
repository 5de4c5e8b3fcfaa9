// The sample distribution as Windows sees it under Wine: every text file carries setup.exe's
// last-write time in all 64 bits (what setup compares), the engine extracts the payload with
// its times, and the stand-in main program records the command line and current folder it
// was started with when it gets "/install".
#include <windows.h>

#include "tests/support/win_test.h"
#include "unzip/unzip.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

const std::string DistFolder = TQ_SAMPLE_DIST;       // Z:/.../build/win64/sample-dist
const std::string PayloadFolder = TQ_SAMPLE_PAYLOAD; // Z:/.../build/win64/sample-payload

bool LastWriteTime(const std::string& path, FILETIME& time)
{
    WIN32_FIND_DATAA record;
    HANDLE find = FindFirstFileA(path.c_str(), &record);
    if (find == INVALID_HANDLE_VALUE)
        return false;
    FindClose(find);
    time = record.ftLastWriteTime;
    return true;
}

} // namespace

TEST(SampleDist, TextFilesCarrySetupTimeInAll64Bits)
{
    FILETIME setupTime;
    ASSERT_TRUE(LastWriteTime(DistFolder + "/setup.exe", setupTime)) << "no sample distribution at " << DistFolder;
    const char* const names[] = {"README.TXT", "TESSEL.TXT", "LICENSE.TXT", "VENDOR.TXT",
                                 "WHATSNEW.TXT", "FILE_ID.DIZ", "ORDER.TXT"};
    for (const char* name : names) {
        FILETIME time;
        ASSERT_TRUE(LastWriteTime(DistFolder + "/" + name, time)) << name;
        EXPECT_EQ(time.dwLowDateTime, setupTime.dwLowDateTime) << name;
        EXPECT_EQ(time.dwHighDateTime, setupTime.dwHighDateTime) << name;
    }
    FILETIME archiveTime;
    EXPECT_TRUE(LastWriteTime(DistFolder + "/setup.tq", archiveTime));
}

TEST(SampleDist, StandInRecordsItsInstallStart)
{
    std::string program = PayloadFolder + "/TESSEL32.EXE";
    ASSERT_TRUE(FileExists(program)) << "no stand-in at " << program;
    char temp[MAX_PATH];
    ASSERT_NE(GetTempPathA(sizeof temp, temp), 0u);
    std::string record = std::string(temp) + "tq-install-record.txt";
    DeleteFileA(record.c_str());
    ASSERT_TRUE(SetEnvironmentVariableA("TQ_INSTALL_RECORD", record.c_str()));
    SetEnvironmentVariableA("TQ_DEMO", nullptr);

    std::string commandLine = "\"" + program + "\" /installS /f:\"C:\\Downloads\\setup.exe\"";
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    ASSERT_TRUE(CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, temp,
                               &startup, &process));
    ASSERT_EQ(WaitForSingleObject(process.hProcess, 20000), WAIT_OBJECT_0);
    DWORD exitCode = 1;
    GetExitCodeProcess(process.hProcess, &exitCode);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    EXPECT_EQ(exitCode, 0u);

    std::string text = ReadWholeFile(record);
    std::string folder = temp;
    if (folder.size() > 3 && folder.back() == '\\')
        folder.pop_back(); // GetCurrentDirectoryA gives no trailing backslash
    EXPECT_NE(text.find("CommandLine=" + commandLine + "\r\n"), std::string::npos) << text;
    EXPECT_NE(text.find("CurrentFolder=" + folder + "\r\n"), std::string::npos) << text;
    EXPECT_NE(text.find("ProgramFile="), std::string::npos) << text;
    DeleteFileA(record.c_str());

    // Without "/install" nothing is recorded.
    commandLine = "\"" + program + "\"";
    ASSERT_TRUE(CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, temp,
                               &startup, &process));
    WaitForSingleObject(process.hProcess, 20000);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    EXPECT_EQ(GetFileAttributesA(record.c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST(SampleDist, EngineExtractsThePayloadWithItsTimes)
{
    std::string archive = DistFolder + "/setup.tq";
    ASSERT_TRUE(FileExists(archive)) << "no sample distribution at " << DistFolder;
    char temp[MAX_PATH];
    ASSERT_NE(GetTempPathA(sizeof temp, temp), 0u);
    std::string folder = std::string(temp) + "tq-sample-extract";
    CreateDirectoryA(folder.c_str(), nullptr);

    MessageBoxRecorder boxes;
    ExtractRequest request{};
    request.ReportCrcErrors = 1;
    request.ArchivePath = archive.c_str();
    request.DestFolder = folder.c_str();
    EXPECT_EQ(ExtractArchive(&request), 1);
    EXPECT_EQ(request.Result, 0);
    for (const RecordedBox& box : boxes.Boxes())
        ADD_FAILURE() << "message box: " << box.text;

    const char* const names[] = {"tessel.hlp", "TQCORE.DLL", "TQSOUNDS.DAT", "tqlang.ini",
                                 "DEFAULT.TQS", "TQFAVS.LST"};
    for (const char* name : names) {
        std::string extracted = folder + "\\" + name;
        EXPECT_EQ(ReadWholeBytes(extracted), ReadWholeBytes(PayloadFolder + "/" + name)) << name;
        // The payload files were written at 12:00:00 UTC, an even second: the MS-DOS time of
        // the local clock brings back exactly that.
        FILETIME original, written;
        ASSERT_TRUE(LastWriteTime(PayloadFolder + "/" + name, original));
        ASSERT_TRUE(LastWriteTime(extracted, written)) << name;
        EXPECT_EQ(CompareFileTime(&original, &written), 0) << name;
        DeleteFileA(extracted.c_str());
    }
    std::string program = folder + "\\tessel32.ex_";
    EXPECT_EQ(ReadWholeBytes(program), ReadWholeBytes(PayloadFolder + "/TESSEL32.EXE"));
    DeleteFileA(program.c_str());
    RemoveDirectoryA(folder.c_str());
}

TEST(SampleDist, StandInShowsTheDemoBoxUntilClosed)
{
    std::string program = PayloadFolder + "/TESSEL32.EXE";
    ASSERT_TRUE(FileExists(program)) << "no stand-in at " << program;
    char temp[MAX_PATH];
    ASSERT_NE(GetTempPathA(sizeof temp, temp), 0u);
    std::string record = std::string(temp) + "tq-demo-record.txt";
    SetEnvironmentVariableA("TQ_INSTALL_RECORD", record.c_str());
    SetEnvironmentVariableA("TQ_DEMO", "1");
    std::string commandLine = "\"" + program + "\" /installS /f:\"\"";
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    BOOL started = CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, temp,
                                  &startup, &process);
    SetEnvironmentVariableA("TQ_DEMO", nullptr);
    ASSERT_TRUE(started);

    HWND box = nullptr;
    for (int i = 0; i < 200 && !box; i++) {
        box = FindWindowA("#32770", "Tessel");
        if (!box)
            Sleep(50);
    }
    ASSERT_NE(box, nullptr) << "no message box \"Tessel\"";
    char text[256] = "";
    GetDlgItemTextA(box, 0xFFFF, text, sizeof text);
    EXPECT_STREQ(text, "Tessel has been installed.");
    EXPECT_EQ(WaitForSingleObject(process.hProcess, 300), static_cast<DWORD>(WAIT_TIMEOUT)); // still up
    PostMessageA(box, WM_COMMAND, IDOK, 0);
    EXPECT_EQ(WaitForSingleObject(process.hProcess, 10000), WAIT_OBJECT_0);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    EXPECT_NE(ReadWholeFile(record).find("/installS"), std::string::npos); // recorded before the box
    DeleteFileA(record.c_str());
}
