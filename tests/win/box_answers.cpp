// The message-box hook of the dialog tests. A box is recognised by its dialog class and its
// text control (ID 0xFFFF); its buttons and icon give back the flags it was shown with.
#include "box_answers.h"

static HHOOK Hook;
static std::vector<int> Answers;
static size_t NextAnswer;
static std::vector<RecordedBox> Boxes;

static UINT ButtonsOf(HWND box)
{
    bool yes = GetDlgItem(box, IDYES) != nullptr, no = GetDlgItem(box, IDNO) != nullptr;
    bool retry = GetDlgItem(box, IDRETRY) != nullptr, cancel = GetDlgItem(box, IDCANCEL) != nullptr;
    bool ok = GetDlgItem(box, IDOK) != nullptr;
    if (yes && no)
        return cancel ? MB_YESNOCANCEL : MB_YESNO;
    if (retry && cancel)
        return MB_RETRYCANCEL;
    if (ok && cancel)
        return MB_OKCANCEL;
    return MB_OK;
}

struct IconSearch {
    HICON Found;
};

static BOOL CALLBACK FindIconControl(HWND child, LPARAM data)
{
    auto search = (IconSearch*)data;
    HICON icon = (HICON)SendMessageA(child, STM_GETICON, 0, 0);
    if ((GetWindowLongA(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON && icon != nullptr) {
        search->Found = icon;
        return FALSE;
    }
    return TRUE;
}

static UINT IconOf(HWND box)
{
    IconSearch search = { nullptr };
    EnumChildWindows(box, FindIconControl, (LPARAM)&search);
    if (search.Found == nullptr)
        return 0;
    if (search.Found == LoadIconA(nullptr, (LPCSTR)IDI_HAND))
        return MB_ICONERROR;
    if (search.Found == LoadIconA(nullptr, (LPCSTR)IDI_QUESTION))
        return MB_ICONQUESTION;
    if (search.Found == LoadIconA(nullptr, (LPCSTR)IDI_ASTERISK))
        return MB_ICONINFORMATION;
    if (search.Found == LoadIconA(nullptr, (LPCSTR)IDI_EXCLAMATION))
        return MB_ICONWARNING;
    return 0xFFFFFFFF;
}

static LRESULT CALLBACK BoxHook(int code, WPARAM wParam, LPARAM lParam)
{
    if (code == HCBT_ACTIVATE) {
        HWND box = (HWND)wParam;
        char className[16];
        GetClassNameA(box, className, sizeof className);
        HWND textControl = GetDlgItem(box, 0xFFFF);
        if (lstrcmpA(className, "#32770") == 0 && textControl != nullptr && GetPropA(box, "TqRecorded") == nullptr) {
            SetPropA(box, "TqRecorded", (HANDLE)1);
            RecordedBox record;
            char text[2048];
            GetWindowTextA(box, text, sizeof text);
            record.Caption = text;
            GetWindowTextA(textControl, text, sizeof text);
            record.Text = text;
            record.Owner = GetWindow(box, GW_OWNER);
            record.Buttons = ButtonsOf(box);
            record.Icon = IconOf(box);
            int answer;
            if (NextAnswer < Answers.size())
                answer = Answers[NextAnswer++];
            else
                answer = GetDlgItem(box, IDOK) ? IDOK : GetDlgItem(box, IDNO) ? IDNO : IDCANCEL;
            record.Answer = answer;
            Boxes.push_back(record);
            PostMessageA(box, WM_COMMAND, MAKEWPARAM(answer, BN_CLICKED), (LPARAM)GetDlgItem(box, answer));
        }
    }
    return CallNextHookEx(Hook, code, wParam, lParam);
}

void AnswerBoxes(std::vector<int> answers)
{
    Answers = answers;
    NextAnswer = 0;
    Boxes.clear();
    if (Hook == nullptr)
        Hook = SetWindowsHookExA(WH_CBT, BoxHook, nullptr, GetCurrentThreadId());
}

std::vector<RecordedBox> RecordedBoxes(void)
{
    if (Hook != nullptr)
        UnhookWindowsHookEx(Hook);
    Hook = nullptr;
    return Boxes;
}
