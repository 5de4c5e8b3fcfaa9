// The Windows version check under the versions that Wine reports to one program. Wine reads
// HKCU\Software\Wine\AppDefaults\<program file name>\Version when the program starts, so the
// test sets it for its own file name and runs itself again as a child, which performs the check
// and reports through its exit code.
#include "checks_support.h"

#include "setup/setup.h"
#include "ui/ui.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <string.h>
#include <string>

static const char ChildVariable[] = "TQ_VERSION_CHECK_CHILD";

// Exit code of the child: bit 0 the check's result, bit 1 a box was shown, bit 2 it was the
// box of message 1052 (text, caption, flags, no owner), bits 4-7 the platform, bits 8-15 the
// major version, bits 16-23 the minor version.
struct ChildReport {
    int Result;
    bool BoxShown;
    bool BoxRight;
    DWORD Platform, Major, Minor;
};

// The child performs the check before any test runs and reports through its exit code.
static void RunCheckAsChild()
{
    LoadSetupStrings();
    MessageBoxRecorder boxes;
    int result = CheckWindowsVersion(nullptr);
    OSVERSIONINFOA version{};
    version.dwOSVersionInfoSize = sizeof version;
    GetVersionExA(&version);
    const std::vector<RecordedBox>& shown = boxes.Boxes();
    bool right = shown.size() == 1 && shown[0].owner == nullptr && shown[0].type == MB_ICONERROR
        && shown[0].caption == SetupTitle
        && shown[0].text == "Tessel cannot be installed under this version of Windows";
    UINT code = (result & 1) | (shown.empty() ? 0 : 2) | (right ? 4 : 0)
        | (version.dwPlatformId & 15) << 4 | (version.dwMajorVersion & 255) << 8
        | (version.dwMinorVersion & 255) << 16;
    ExitProcess(code);
}

static const bool RunAsChild = GetEnvironmentVariableA(ChildVariable, nullptr, 0) != 0
    && (RunCheckAsChild(), true);

static std::string ProgramFileName()
{
    char path[MAX_PATH];
    GetModuleFileNameA(nullptr, path, sizeof path);
    return strrchr(path, '\\') + 1;
}

static ChildReport RunChildAs(const char* windowsVersion)
{
    std::string key = "Software\\Wine\\AppDefaults\\" + ProgramFileName();
    if (windowsVersion != nullptr)
        SetStringValue(HKEY_CURRENT_USER, key.c_str(), "Version", windowsVersion);
    else
        DeleteTree(HKEY_CURRENT_USER, key.c_str());

    char path[MAX_PATH];
    GetModuleFileNameA(nullptr, path, sizeof path);
    std::string line = std::string("\"") + path + "\"";
    SetEnvironmentVariableA(ChildVariable, "1");
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    ChildReport report{};
    report.Result = -1;
    BOOL started = CreateProcessA(path, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process);
    SetEnvironmentVariableA(ChildVariable, nullptr);
    DWORD code = 0xFFFFFFFF;
    if (started) {
        // The child reads the setting while it starts, so it stays until the child has ended.
        if (WaitForSingleObject(process.hProcess, 60000) == WAIT_OBJECT_0)
            GetExitCodeProcess(process.hProcess, &code);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
    if (windowsVersion != nullptr)
        DeleteTree(HKEY_CURRENT_USER, key.c_str());
    if (code == 0xFFFFFFFF)
        return report;
    report.Result = code & 1;
    report.BoxShown = (code & 2) != 0;
    report.BoxRight = (code & 4) != 0;
    report.Platform = (code >> 4) & 15;
    report.Major = (code >> 8) & 255;
    report.Minor = (code >> 16) & 255;
    return report;
}

TEST(VersionCheck, WindowsNt351IsRefusedWithMessage1052)
{
    ChildReport report = RunChildAs("nt351");
    ASSERT_EQ(DWORD(VER_PLATFORM_WIN32_NT), report.Platform) << "Wine did not report NT 3.51";
    ASSERT_EQ(3u, report.Major);
    EXPECT_EQ(51u, report.Minor);
    EXPECT_EQ(0, report.Result);
    EXPECT_TRUE(report.BoxShown);
    EXPECT_TRUE(report.BoxRight);
}

TEST(VersionCheck, WindowsNt40AndLaterPass)
{
    for (const char* version : {"nt40", "win2k", "winxp", "win10"}) {
        SCOPED_TRACE(version);
        ChildReport report = RunChildAs(version);
        ASSERT_EQ(DWORD(VER_PLATFORM_WIN32_NT), report.Platform);
        EXPECT_GE(report.Major, 4u);
        EXPECT_EQ(1, report.Result);
        EXPECT_FALSE(report.BoxShown);
    }
}

TEST(VersionCheck, Windows95FamilyPasses)
{
    for (const char* version : {"win95", "win98", "winme"}) {
        SCOPED_TRACE(version);
        ChildReport report = RunChildAs(version);
        ASSERT_EQ(DWORD(VER_PLATFORM_WIN32_WINDOWS), report.Platform);
        EXPECT_EQ(4u, report.Major);
        EXPECT_EQ(1, report.Result);
        EXPECT_FALSE(report.BoxShown);
    }
}

TEST(VersionCheck, Win32sIsRefused)
{
    ChildReport report = RunChildAs("win31");
    if (report.Platform != VER_PLATFORM_WIN32s)
        GTEST_SKIP() << "Wine reported platform " << report.Platform << " for win31";
    EXPECT_EQ(0, report.Result);
    EXPECT_TRUE(report.BoxRight);
}

TEST(VersionCheck, WineDefaultPasses)
{
    ChildReport report = RunChildAs(nullptr);
    EXPECT_EQ(1, report.Result);
    EXPECT_FALSE(report.BoxShown);
}
