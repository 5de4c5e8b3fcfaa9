// Message-box recorder, scratch folder and throw-away registry key of the Windows tests. See
// win_test.h for how boxes are recorded and answered.
#include "win_test.h"

#include <gtest/gtest.h>
#include <string.h>

// The box's text control: a static with this ID in every message box (Windows and Wine).
constexpr int MessageBoxTextId = 0xFFFF;
constexpr int HighestButtonId = IDCONTINUE;

static MessageBoxRecorder* ActiveRecorder;
static int PendingBox = -1;  // index in ActiveRecorder->boxes of the call in progress
static int AnsweredBox = -1; // the box the hook has already answered

static int WINAPI RecordingMessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type);

// The link-time seam: every call of MessageBoxA in a test executable reads its target from
// __imp_MessageBoxA, which --wrap turns into __wrap___imp_MessageBoxA; the real import slot stays
// reachable as __real___imp_MessageBoxA.
extern "C" {
extern int(WINAPI* __real___imp_MessageBoxA)(HWND, LPCSTR, LPCSTR, UINT);
int(WINAPI* __wrap___imp_MessageBoxA)(HWND, LPCSTR, LPCSTR, UINT) = RecordingMessageBoxA;
}

static int WINAPI RecordingMessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type)
{
    if (ActiveRecorder == nullptr)
        return __real___imp_MessageBoxA(owner, text, caption, type);
    RecordedBox box;
    box.owner = owner;
    box.defaultCaption = caption == nullptr;
    box.caption = caption != nullptr ? caption : "";
    box.text = text != nullptr ? text : "";
    box.type = type;
    box.result = 0;
    ActiveRecorder->boxes.push_back(box);
    int index = (int)ActiveRecorder->boxes.size() - 1;

    int outerBox = PendingBox;
    PendingBox = index;
    int result = __real___imp_MessageBoxA(owner, text, caption, type);
    PendingBox = outerBox;
    if (ActiveRecorder != nullptr && index < (int)ActiveRecorder->boxes.size())
        ActiveRecorder->boxes[index].result = result;
    return result;
}

static int FallbackAnswer(const std::vector<int>& buttons)
{
    for (int id : { IDOK, IDCANCEL, IDNO }) {
        for (int shown : buttons) {
            if (shown == id)
                return id;
        }
    }
    return buttons.empty() ? IDCANCEL : buttons.front();
}

static void AnswerBox(HWND window, RecordedBox& box)
{
    char text[2048];
    if (box.defaultCaption) {
        GetWindowTextA(window, text, sizeof text);
        box.caption = text;
    }
    text[0] = '\0';
    GetDlgItemTextA(window, MessageBoxTextId, text, sizeof text);
    box.shownText = text;
    // At activation the box itself may not be visible yet; its buttons' own style tells which
    // of them it shows.
    for (int id = IDOK; id <= HighestButtonId; ++id) {
        HWND button = GetDlgItem(window, id);
        if (button != nullptr && (GetWindowLongA(button, GWL_STYLE) & WS_VISIBLE) != 0)
            box.buttons.push_back(id);
    }

    int answer = FallbackAnswer(box.buttons);
    if (!ActiveRecorder->answers.empty()) {
        int wanted = ActiveRecorder->answers.front();
        ActiveRecorder->answers.pop_front();
        bool offered = false;
        for (int id : box.buttons)
            offered = offered || id == wanted;
        if (offered)
            answer = wanted;
        else
            ADD_FAILURE() << "message box \"" << box.text << "\" has no button " << wanted;
    }
    PostMessageA(window, WM_COMMAND, MAKEWPARAM(answer, BN_CLICKED), (LPARAM)GetDlgItem(window, answer));
}

static LRESULT CALLBACK MessageBoxHookProc(int code, WPARAM wParam, LPARAM lParam)
{
    if (code == HCBT_ACTIVATE && ActiveRecorder != nullptr && PendingBox >= 0 && PendingBox != AnsweredBox) {
        HWND window = (HWND)wParam;
        char className[16];
        if (GetClassNameA(window, className, sizeof className) > 0 && strcmp(className, "#32770") == 0) {
            AnsweredBox = PendingBox;
            AnswerBox(window, ActiveRecorder->boxes[PendingBox]);
        }
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

MessageBoxRecorder::MessageBoxRecorder()
{
    if (ActiveRecorder != nullptr)
        ADD_FAILURE() << "two MessageBoxRecorders at once";
    ActiveRecorder = this;
    AnsweredBox = -1;
    hook = SetWindowsHookExA(WH_CBT, MessageBoxHookProc, nullptr, GetCurrentThreadId());
    if (hook == nullptr)
        ADD_FAILURE() << "SetWindowsHookExA(WH_CBT) failed: " << GetLastError();
}

MessageBoxRecorder::~MessageBoxRecorder()
{
    if (hook != nullptr)
        UnhookWindowsHookEx(hook);
    ActiveRecorder = nullptr;
    PendingBox = -1;
    AnsweredBox = -1;
}

void MessageBoxRecorder::Answer(int id)
{
    answers.push_back(id);
}

void MessageBoxRecorder::Clear()
{
    boxes.clear();
    answers.clear();
    AnsweredBox = -1;
}

ScratchFolder::ScratchFolder()
{
    static unsigned int counter;
    char temp[MAX_PATH];
    DWORD length = GetTempPathA(sizeof temp, temp);
    if (length == 0 || length >= sizeof temp)
        lstrcpyA(temp, "C:\\");
    for (;;) {
        char name[MAX_PATH + 64];
        wsprintfA(name, "%stqtest-%lu-%lu-%u", temp, GetCurrentProcessId(), GetTickCount(), ++counter);
        if (CreateDirectoryA(name, nullptr)) {
            path = std::string(name) + "\\";
            return;
        }
        if (GetLastError() != ERROR_ALREADY_EXISTS) {
            ADD_FAILURE() << "cannot create scratch folder " << name << ": " << GetLastError();
            path = std::string(temp);
            return;
        }
    }
}

ScratchFolder::~ScratchFolder()
{
    if (!path.empty() && !RemoveFolderTree(path.substr(0, path.size() - 1)))
        ADD_FAILURE() << "cannot remove scratch folder " << path;
}

bool RemoveFolderTree(const std::string& folder)
{
    WIN32_FIND_DATAA entry;
    HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &entry);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            std::string name = entry.cFileName;
            if (name == "." || name == "..")
                continue;
            std::string child = folder + "\\" + name;
            SetFileAttributesA(child.c_str(), FILE_ATTRIBUTE_NORMAL);
            if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                RemoveFolderTree(child);
            else
                DeleteFileA(child.c_str());
        } while (FindNextFileA(search, &entry));
        FindClose(search);
    }
    SetFileAttributesA(folder.c_str(), FILE_ATTRIBUTE_NORMAL);
    return RemoveDirectoryA(folder.c_str()) || GetFileAttributesA(folder.c_str()) == INVALID_FILE_ATTRIBUTES;
}

ScratchRegistryKey::ScratchRegistryKey(HKEY rootKey) : root(rootKey), key(nullptr)
{
    static unsigned int counter;
    char name[128];
    wsprintfA(name, "Software\\TesselTests\\key-%lu-%lu-%u", GetCurrentProcessId(), GetTickCount(), ++counter);
    path = name;
    if (RegCreateKeyExA(root, name, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) != ERROR_SUCCESS) {
        ADD_FAILURE() << "cannot create registry key " << name;
        key = nullptr;
    }
}

ScratchRegistryKey::~ScratchRegistryKey()
{
    if (key != nullptr)
        RegCloseKey(key);
    if (!DeleteRegistryTree(root, path))
        ADD_FAILURE() << "cannot delete registry key " << path;
    RegDeleteKeyA(root, "Software\\TesselTests"); // only goes when no other test key is left
}

bool DeleteRegistryTree(HKEY root, const std::string& path)
{
    // Children are opened relative to their parent's handle, so a tree deeper than a full
    // path can name is still reached, and a child that cannot be removed ends the walk
    // instead of being asked for again.
    HKEY key;
    LONG opened = RegOpenKeyExA(root, path.c_str(), 0, KEY_ALL_ACCESS, &key);
    if (opened == ERROR_FILE_NOT_FOUND)
        return true;
    if (opened != ERROR_SUCCESS)
        return false;
    char child[256];
    bool whole = true;
    while (whole && RegEnumKeyA(key, 0, child, sizeof child) == ERROR_SUCCESS)
        whole = DeleteRegistryTree(key, child);
    RegCloseKey(key);
    return whole && RegDeleteKeyA(root, path.c_str()) == ERROR_SUCCESS;
}
