// The sample distribution as Windows sees it under Wine: every text file carries setup.exe's
// last-write time in all 64 bits (what setup compares), and the stand-in main program records
// the command line and current folder it was started with when it gets "/install".
#include <windows.h>

#include <gtest/gtest.h>
#include <string>

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

std::string ReadTextFile(const std::string& path)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return std::string();
    char buffer[8192];
    DWORD count = 0;
    ReadFile(file, buffer, sizeof buffer, &count, nullptr);
    CloseHandle(file);
    return std::string(buffer, count);
}

} // namespace

TEST(SampleDist, TextFilesCarrySetupTimeInAll64Bits)
{
    FILETIME setupTime;
    if (!LastWriteTime(DistFolder + "/setup.exe", setupTime))
        GTEST_SKIP() << "no sample distribution at " << DistFolder;
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
    FILETIME unused;
    if (!LastWriteTime(program, unused))
        GTEST_SKIP() << "no stand-in at " << program;
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

    std::string text = ReadTextFile(record);
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
