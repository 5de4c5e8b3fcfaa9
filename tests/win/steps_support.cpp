// Scratch folders, file helpers and the message-box recorder of the steps test groups.
#include "steps_support.h"

#include <stdio.h>

static HHOOK BoxHook;
static int BoxAnswer;
static std::vector<RecordedBox> Boxes;

static BOOL CALLBACK FindBoxText(HWND child, LPARAM param)
{
    char className[32];
    GetClassNameA(child, className, sizeof className);
    if (lstrcmpiA(className, "Static") != 0 || (GetWindowLongA(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON)
        return TRUE;
    char text[1100];
    if (GetWindowTextA(child, text, sizeof text) > 0)
        *(std::string*)param = text;
    return TRUE;
}

static BOOL CALLBACK FindBoxIcon(HWND child, LPARAM param)
{
    if ((GetWindowLongA(child, GWL_STYLE) & SS_TYPEMASK) != SS_ICON)
        return TRUE;
    HICON icon = (HICON)SendMessageA(child, STM_GETICON, 0, 0);
    if (icon == LoadIconA(nullptr, (LPCSTR)IDI_HAND))
        *(UINT*)param |= MB_ICONERROR;
    else if (icon == LoadIconA(nullptr, (LPCSTR)IDI_QUESTION))
        *(UINT*)param |= MB_ICONQUESTION;
    else if (icon == LoadIconA(nullptr, (LPCSTR)IDI_ASTERISK))
        *(UINT*)param |= MB_ICONINFORMATION;
    else if (icon == LoadIconA(nullptr, (LPCSTR)IDI_EXCLAMATION))
        *(UINT*)param |= MB_ICONWARNING;
    return TRUE;
}

static LRESULT CALLBACK BoxHookProc(int code, WPARAM wParam, LPARAM lParam)
{
    if (code == HCBT_ACTIVATE) {
        HWND box = (HWND)wParam;
        char className[32];
        GetClassNameA(box, className, sizeof className);
        if (lstrcmpA(className, "#32770") == 0) {
            RecordedBox record;
            char caption[256];
            GetWindowTextA(box, caption, sizeof caption);
            record.Caption = caption;
            EnumChildWindows(box, FindBoxText, (LPARAM)&record.Text);
            record.Owner = GetWindow(box, GW_OWNER);
            record.Type = 0;
            EnumChildWindows(box, FindBoxIcon, (LPARAM)&record.Type);
            bool yes = GetDlgItem(box, IDYES) != nullptr, no = GetDlgItem(box, IDNO) != nullptr;
            bool retry = GetDlgItem(box, IDRETRY) != nullptr;
            if (yes && no)
                record.Type |= MB_YESNO;
            else if (retry)
                record.Type |= MB_RETRYCANCEL;
            Boxes.push_back(record);
            PostMessageA(box, WM_COMMAND, BoxAnswer, 0);
        }
    }
    return CallNextHookEx(BoxHook, code, wParam, lParam);
}

void StartBoxRecorder(int button)
{
    Boxes.clear();
    BoxAnswer = button;
    BoxHook = SetWindowsHookExA(WH_CBT, BoxHookProc, nullptr, GetCurrentThreadId());
}

std::vector<RecordedBox> StopBoxRecorder(void)
{
    if (BoxHook != nullptr)
        UnhookWindowsHookEx(BoxHook);
    BoxHook = nullptr;
    return Boxes;
}

std::string MakeScratchFolder(const char* tag)
{
    static int counter;
    char temp[MAX_PATH];
    GetTempPathA(sizeof temp, temp);
    char folder[MAX_PATH];
    snprintf(folder, sizeof folder, "%stq_%s_%lu_%d\\", temp, tag, GetCurrentProcessId(), ++counter);
    CreateDirectoryA(folder, nullptr);
    return folder;
}

void RemoveScratchFolder(const std::string& folder)
{
    WIN32_FIND_DATAA data;
    HANDLE search = FindFirstFileA((folder + "*").c_str(), &data);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            std::string name = data.cFileName;
            if (name == "." || name == "..")
                continue;
            if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                RemoveScratchFolder(folder + name + "\\");
            else
                DeleteFileA((folder + name).c_str());
        } while (FindNextFileA(search, &data));
        FindClose(search);
    }
    RemoveDirectoryA(folder.c_str());
}

void WriteBytes(const std::string& path, const std::vector<unsigned char>& bytes)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written = 0;
    if (!bytes.empty())
        WriteFile(file, bytes.data(), (DWORD)bytes.size(), &written, nullptr);
    CloseHandle(file);
}

std::vector<unsigned char> ReadBytes(const std::string& path)
{
    std::vector<unsigned char> bytes;
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return bytes;
    bytes.resize(GetFileSize(file, nullptr));
    DWORD got = 0;
    if (!bytes.empty())
        ReadFile(file, bytes.data(), (DWORD)bytes.size(), &got, nullptr);
    bytes.resize(got);
    CloseHandle(file);
    return bytes;
}

std::vector<unsigned char> PatternBytes(size_t count, unsigned seed)
{
    std::vector<unsigned char> bytes(count);
    unsigned state = seed * 2654435761u + 1;
    for (size_t i = 0; i < count; i++) {
        state = state * 1103515245u + 12345u;
        bytes[i] = (unsigned char)(state >> 16);
    }
    return bytes;
}

void SetAllTimes(const std::string& path, const FILETIME& time)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    SetFileTime(file, &time, &time, &time);
    CloseHandle(file);
}

bool GetTimes(const std::string& path, FILETIME* creation, FILETIME* access, FILETIME* write)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    BOOL ok = GetFileTime(file, creation, access, write);
    CloseHandle(file);
    return ok != FALSE;
}

bool FileExists(const std::string& path)
{
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool SameTime(const FILETIME& a, const FILETIME& b)
{
    return a.dwLowDateTime == b.dwLowDateTime && a.dwHighDateTime == b.dwHighDateTime;
}

FILETIME MakeFileTime(WORD year, WORD month, WORD day, WORD hour, WORD minute, WORD second)
{
    SYSTEMTIME system = {};
    system.wYear = year;
    system.wMonth = month;
    system.wDay = day;
    system.wHour = hour;
    system.wMinute = minute;
    system.wSecond = second;
    FILETIME time;
    SystemTimeToFileTime(&system, &time);
    return time;
}
