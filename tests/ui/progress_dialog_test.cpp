// The progress dialog from its real template: caption and centring, what showing it resets,
// the file name, progress with the copied bytes added, and Cancel with both answers.
#include "res/resource.h"
#include "setup/setup.h"
#include "steps/steps.h"
#include "tests/support/win_test.h"
#include "ui/ui.h"
#include "util/path.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string ItemText(HWND dialog, int id)
{
    char text[300];
    GetDlgItemTextA(dialog, id, text, sizeof text);
    return text;
}

class ProgressDialogTest : public testing::Test {
protected:
    void SetUp() override
    {
        ModuleInstance = GetModuleHandleA(nullptr);
        static bool registered = false;
        if (!registered)
            registered = RegisterMeterClass(ModuleInstance) != 0;
        LoadStringA(ModuleInstance, IDS_SETUP_TITLE, SetupTitle, sizeof SetupTitle);
        CancelRequested = 0;
        CopiedBytes = 0;
        dialog = CreateDialogParamA(ModuleInstance, MAKEINTRESOURCEA(IDD_PROGRESS), nullptr, ProgressDlgProc, 0);
        ASSERT_NE(nullptr, dialog);
        meter = GetDlgItem(dialog, IDC_METER);
        cancel = GetDlgItem(dialog, IDCANCEL);
        ASSERT_NE(nullptr, meter);
    }
    void TearDown() override
    {
        DestroyWindow(dialog);
        CancelRequested = 0;
        CopiedBytes = 0;
    }
    HWND dialog = nullptr;
    HWND meter = nullptr;
    HWND cancel = nullptr;
};

TEST_F(ProgressDialogTest, TakesTheSetupTitleAndIsCentredOnTheScreen)
{
    char caption[64];
    GetWindowTextA(dialog, caption, sizeof caption);
    EXPECT_STREQ("Tessel Setup", caption);
    RECT rect;
    GetWindowRect(dialog, &rect);
    int screenWidth = GetSystemMetrics(SM_CXSCREEN);
    int screenHeight = GetSystemMetrics(SM_CYSCREEN);
    EXPECT_EQ((screenWidth - (rect.right - rect.left)) / 2, rect.left);
    EXPECT_EQ((screenHeight - (rect.bottom - rect.top)) / 2, rect.top);
    // The template's own position (10, 19 dialog units) is not where it stays.
    EXPECT_GT(rect.left, 100);
}

TEST(CentreWindow, Puts300By200AtItsPlaceOnA1024By768Screen)
{
    ASSERT_EQ(1024, GetSystemMetrics(SM_CXSCREEN)) << "the virtual display must be 1024x768";
    ASSERT_EQ(768, GetSystemMetrics(SM_CYSCREEN));
    HWND window = CreateWindowExA(0, "STATIC", "", WS_POPUP, 5, 7, 300, 200, nullptr, nullptr,
                                  GetModuleHandleA(nullptr), nullptr);
    ASSERT_NE(nullptr, window);
    CentreWindow(window);
    RECT rect;
    GetWindowRect(window, &rect);
    EXPECT_EQ(362, rect.left);
    EXPECT_EQ(284, rect.top);
    EXPECT_EQ(300, rect.right - rect.left);
    EXPECT_EQ(200, rect.bottom - rect.top);
    DestroyWindow(window);
}

TEST_F(ProgressDialogTest, ShowingClearsTheFileNameAndEnablesCancel)
{
    SetDlgItemTextA(dialog, IDC_FILENAME_TEXT, "left over");
    EnableWindow(cancel, FALSE);
    ShowWindow(dialog, SW_SHOW);
    EXPECT_EQ("", ItemText(dialog, IDC_FILENAME_TEXT));
    EXPECT_TRUE(IsWindowEnabled(cancel));

    // Hiding changes nothing.
    SetDlgItemTextA(dialog, IDC_FILENAME_TEXT, "README.TXT");
    ShowWindow(dialog, SW_HIDE);
    EXPECT_EQ("README.TXT", ItemText(dialog, IDC_FILENAME_TEXT));
    EXPECT_EQ("Installing", ItemText(dialog, IDC_INSTALLING_TEXT));
}

TEST_F(ProgressDialogTest, ShowsTheFileNameBeingWritten)
{
    const char name[] = "tessel32.ex_";
    SendMessageA(dialog, WM_SETUP_FILENAME, 0, (LPARAM)name);
    EXPECT_EQ(name, ItemText(dialog, IDC_FILENAME_TEXT));
    EXPECT_EQ(1, ProgressDlgProc(dialog, WM_SETUP_FILENAME, 0, (LPARAM)"ORDER.TXT"));
    EXPECT_EQ("ORDER.TXT", ItemText(dialog, IDC_FILENAME_TEXT));
}

TEST_F(ProgressDialogTest, ProgressAddsTheCopiedBytesInWholeUnits)
{
    CopiedBytes = 25600;  // 2.5 units of 10240 bytes
    EXPECT_EQ(0, ProgressDlgProc(dialog, WM_SETUP_PROGRESS, 3, 0));
    EXPECT_EQ(5, SendMessageA(meter, MTR_GETPOS, 0, 0));

    CopiedBytes = 10239;
    SendMessageA(dialog, WM_SETUP_PROGRESS, 7, 0);
    EXPECT_EQ(7, SendMessageA(meter, MTR_GETPOS, 0, 0));
}

TEST_F(ProgressDialogTest, CancelAnsweredNoLeavesTheWorkGoing)
{
    ShowWindow(dialog, SW_SHOW);
    MessageBoxRecorder boxes;
    boxes.Answer(IDNO);
    SendMessageA(cancel, BM_CLICK, 0, 0);
    ASSERT_EQ(1u, boxes.Boxes().size());
    const RecordedBox& box = boxes.Boxes()[0];
    EXPECT_EQ("Setup has not completed installing the software.\nAre you sure you want to cancel?", box.text);
    EXPECT_EQ("Tessel Setup", box.caption);
    EXPECT_EQ(dialog, box.owner);
    EXPECT_EQ((UINT)(MB_YESNO | MB_ICONQUESTION), box.type);

    EXPECT_TRUE(IsWindowEnabled(cancel));
    EXPECT_EQ(0, CancelRequested);
    EXPECT_EQ(0, ProgressDlgProc(dialog, WM_SETUP_PROGRESS, 1, 0));
}

TEST_F(ProgressDialogTest, CancelAnsweredYesStopsTheWorkAtTheNextReport)
{
    ShowWindow(dialog, SW_SHOW);
    MessageBoxRecorder boxes;
    boxes.Answer(IDYES);
    SendMessageA(cancel, BM_CLICK, 0, 0);
    ASSERT_EQ(1u, boxes.Boxes().size());
    EXPECT_FALSE(IsWindowEnabled(cancel));
    EXPECT_EQ(1, CancelRequested);
    EXPECT_EQ(1, ProgressDlgProc(dialog, WM_SETUP_PROGRESS, 4, 0));
    EXPECT_EQ(4, SendMessageA(meter, MTR_GETPOS, 0, 0));  // the report still moves the Meter
    EXPECT_EQ(1, DispatchPendingMessages());
}

TEST_F(ProgressDialogTest, EnterAsksLikeCancelButOtherCommandsDoNot)
{
    MessageBoxRecorder boxes;
    boxes.Answer(IDNO);
    EXPECT_EQ(1, ProgressDlgProc(dialog, WM_COMMAND, IDOK, 0));
    // A notification code in the high word makes it another command.
    EXPECT_EQ(1, ProgressDlgProc(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, 1), 0));
    EXPECT_EQ(1, ProgressDlgProc(dialog, WM_COMMAND, IDC_METER, 0));
    ASSERT_EQ(1u, boxes.Boxes().size());
    EXPECT_EQ(0, CancelRequested);
}

}  // namespace
