// RunSetup in this process, up to the install-folder dialog: the checks run, the origin path is
// taken from the tail, the source folder and time come from the program's own file, the steps
// leave their trace texts in order, and each early exit shows what it must and nothing more.
#include "setup/setup.h"
#include "tests/support/win_test.h"

#include <gtest/gtest.h>

#include <string.h>
#include <string>
#include <vector>

namespace {

std::vector<std::string> Traces;
bool DialogShown;
bool RefuseNextWindow;   // the next top-level window is not created, as when memory runs out
bool ModulePathTooLong;
HHOOK DialogHook;

void CollectTrace(const char* text)
{
    Traces.push_back(text);
}

// Answers the install-folder dialog with Cancel as soon as its folder field (item 101) is
// created; the posted command waits in the queue until the dialog's modal loop runs. Creation,
// unlike activation, happens exactly once and after the dialog window exists.
LRESULT CALLBACK CancelFolderDialog(int code, WPARAM wParam, LPARAM lParam)
{
    if (code == HCBT_CREATEWND) {
        const CREATESTRUCTA* create = ((const CBT_CREATEWNDA*)lParam)->lpcs;
        if (RefuseNextWindow && !(create->style & WS_CHILD)) {
            RefuseNextWindow = false;
            return 1;
        }
        char parentClass[16] = "";
        if (create->hwndParent != nullptr)
            GetClassNameA(create->hwndParent, parentClass, sizeof parentClass);
        if ((create->style & WS_CHILD) && create->hMenu == (HMENU)101 && strcmp(parentClass, "#32770") == 0) {
            DialogShown = true;
            PostMessageA(create->hwndParent, WM_COMMAND, IDCANCEL, 0);
        }
    }
    return CallNextHookEx(DialogHook, code, wParam, lParam);
}

// GetModuleFileNameA as the platform answers for a program whose path does not fit the buffer:
// the buffer filled with the path's start and ended, the buffer's size as the result.
DWORD WINAPI ModuleFileName(HMODULE module, LPSTR buffer, DWORD size);
extern "C" {
extern DWORD(WINAPI* __real___imp_GetModuleFileNameA)(HMODULE, LPSTR, DWORD);
DWORD(WINAPI* __wrap___imp_GetModuleFileNameA)(HMODULE, LPSTR, DWORD) = ModuleFileName;
}

const std::string LongProgramPath = "C:\\" + std::string(150, 'd') + "\\" + std::string(150, 'e') + "\\setup.exe";

DWORD WINAPI ModuleFileName(HMODULE module, LPSTR buffer, DWORD size)
{
    if (!ModulePathTooLong)
        return __real___imp_GetModuleFileNameA(module, buffer, size);
    lstrcpynA(buffer, LongProgramPath.c_str(), (int)size);
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return size;
}

// True when the texts appear in this order among the traces (others may stand between them).
bool TracedInOrder(const std::vector<std::string>& expected)
{
    size_t next = 0;
    for (const std::string& trace : Traces)
        if (next < expected.size() && trace == expected[next])
            ++next;
    return next == expected.size();
}

class RunSetupTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        Traces.clear();
        DialogShown = false;
        RefuseNextWindow = false;
        ModulePathTooLong = false;
        SetTraceSink(CollectTrace);
        DialogHook = SetWindowsHookExA(WH_CBT, CancelFolderDialog, nullptr, GetCurrentThreadId());
    }
    void TearDown() override
    {
        UnhookWindowsHookEx(DialogHook);
        SetTraceSink(nullptr);
    }
    MessageBoxRecorder Recorder;
};

TEST_F(RunSetupTest, CancelledFolderDialogEndsWithMessage1006)
{
    char tail[] = "  -ARGV0   C:\\Down loads\\t.exe ";
    EXPECT_EQ(0, RunSetup(GetModuleHandleA(nullptr), nullptr, tail, SW_HIDE));

    ASSERT_EQ(1u, Recorder.Boxes().size());
    const RecordedBox& box = Recorder.Boxes()[0];
    EXPECT_EQ(nullptr, box.owner);
    EXPECT_EQ("Tessel Setup", box.caption);
    EXPECT_EQ((UINT)(MB_TASKMODAL | MB_ICONINFORMATION), box.type);
    EXPECT_EQ(0u, box.text.find("The software has not been successfully installed.")) << box.text;
    EXPECT_TRUE(DialogShown);

    EXPECT_STREQ("C:\\Down loads\\t.exe ", OriginPath);
    char program[MAX_PATH];
    GetModuleFileNameA(nullptr, program, sizeof program);
    std::string folder(program, strrchr(program, '\\') + 1);
    EXPECT_EQ(folder, SourceFolder);
    WIN32_FILE_ATTRIBUTE_DATA data;
    ASSERT_TRUE(GetFileAttributesExA(program, GetFileExInfoStandard, &data));
    EXPECT_EQ(0, CompareFileTime(&data.ftLastWriteTime, &SetupTimestamp));

    EXPECT_TRUE(TracedInOrder({"Setup has been started", "Calling unload fmx",
                               "Setup install file is C:\\Down loads\\t.exe ", "Determining source directory",
                               "Source Directory is: " + folder, "registering control class",
                               "Displaying Welcome Dialog"}));
}

// A folder dialog that cannot be created (DialogBoxParamA gives -1) chose no folder: setup ends
// as after Cancel, with message 1006 and nothing installed.
TEST_F(RunSetupTest, AFolderDialogThatCannotBeCreatedEndsLikeCancel)
{
    RefuseNextWindow = true;
    char tail[] = "";
    EXPECT_EQ(0, RunSetup(GetModuleHandleA(nullptr), nullptr, tail, SW_HIDE));
    EXPECT_FALSE(RefuseNextWindow);
    EXPECT_FALSE(DialogShown);
    ASSERT_EQ(1u, Recorder.Boxes().size());
    EXPECT_EQ((UINT)(MB_TASKMODAL | MB_ICONINFORMATION), Recorder.Boxes()[0].type);
    EXPECT_EQ(0u, Recorder.Boxes()[0].text.find("The software has not been successfully installed."));
}

// A cut path of setup's own file names another folder; setup stops before it reads anything
// from there.
TEST_F(RunSetupTest, ASetupPathTooLongForItsBufferStopsSetup)
{
    ModulePathTooLong = true;
    char tail[] = "";
    EXPECT_EQ(0, RunSetup(GetModuleHandleA(nullptr), nullptr, tail, SW_HIDE));
    ModulePathTooLong = false;
    ASSERT_EQ(1u, Recorder.Boxes().size());
    EXPECT_EQ("Cannot open " + LongProgramPath.substr(0, MAX_PATH - 1), Recorder.Boxes()[0].text);
    EXPECT_EQ((UINT)MB_ICONERROR, Recorder.Boxes()[0].type);
    EXPECT_FALSE(DialogShown);
    EXPECT_FALSE(TracedInOrder({"registering control class"}));
}

TEST_F(RunSetupTest, WithoutTheSwitchTheOriginPathIsEmpty)
{
    char tail[] = "\t-argv0 C:\\x";
    EXPECT_EQ(0, RunSetup(GetModuleHandleA(nullptr), nullptr, tail, SW_HIDE));
    EXPECT_STREQ("", OriginPath);
    EXPECT_TRUE(TracedInOrder({"Did not find setup install file in arg list.", "Displaying Welcome Dialog"}));
    EXPECT_EQ(1u, Recorder.Boxes().size());
}

TEST_F(RunSetupTest, CancelWhileTheMainProgramRunsEndsWithoutAnotherWord)
{
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = DefWindowProcA;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = "Tessel2WClass";
    RegisterClassA(&windowClass);
    HWND mainProgram = CreateWindowA("Tessel2WClass", "Tessel", WS_OVERLAPPED, 0, 0, 100, 100, nullptr, nullptr,
                                     GetModuleHandleA(nullptr), nullptr);
    ASSERT_NE(nullptr, mainProgram);
    Recorder.Answer(IDCANCEL);
    char tail[] = "";
    EXPECT_EQ(0, RunSetup(GetModuleHandleA(nullptr), nullptr, tail, SW_HIDE));
    DestroyWindow(mainProgram);

    ASSERT_EQ(1u, Recorder.Boxes().size());
    EXPECT_EQ((UINT)(MB_RETRYCANCEL | MB_ICONERROR), Recorder.Boxes()[0].type);
    EXPECT_NE(std::string::npos, Recorder.Boxes()[0].text.find("another version of Tessel is running"));
    EXPECT_FALSE(TracedInOrder({"Calling unload fmx"}));
    EXPECT_FALSE(DialogShown);
}

} // namespace
