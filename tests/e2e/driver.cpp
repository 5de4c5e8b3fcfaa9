// Window driving and outcome probes for the whole-installation tests and the demo.
#include "driver.h"

#include <tlhelp32.h>

#include <stdio.h>
#include <set>
#include <string.h>

bool SetupProcess::Running() const
{
    return Info.hProcess != nullptr && WaitForSingleObject(Info.hProcess, 0) == WAIT_TIMEOUT;
}

DWORD SetupProcess::WaitForExit(DWORD timeoutMs)
{
    DWORD code = STILL_ACTIVE;
    if (Info.hProcess == nullptr)
        return code;
    WaitForSingleObject(Info.hProcess, timeoutMs);
    GetExitCodeProcess(Info.hProcess, &code);
    return code;
}

void SetupProcess::Kill()
{
    if (Running()) {
        TerminateProcess(Info.hProcess, 3);
        WaitForSingleObject(Info.hProcess, 5000);
    }
}

bool StartSetup(SetupProcess* process, const std::string& program, const std::string& tail,
                const std::string& currentFolder)
{
    std::string line = "\"" + program + "\"";
    if (!tail.empty())
        line += " " + tail;
    std::vector<char> buffer(line.begin(), line.end());
    buffer.push_back('\0');
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    return CreateProcessA(program.c_str(), buffer.data(), nullptr, nullptr, FALSE, 0, nullptr,
                          currentFolder.c_str(), &startup, &process->Info) != 0;
}

bool FindChildProcess(const SetupProcess& parent, const char* fileName, SetupProcess* child, DWORD timeoutMs)
{
    DWORD start = GetTickCount();
    for (;;) {
        HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
        PROCESSENTRY32 entry{};
        entry.dwSize = sizeof entry;
        DWORD found = 0;
        if (snapshot != INVALID_HANDLE_VALUE && Process32First(snapshot, &entry)) {
            do {
                if (entry.th32ParentProcessID == parent.Info.dwProcessId && _stricmp(entry.szExeFile, fileName) == 0)
                    found = entry.th32ProcessID;
            } while (found == 0 && Process32Next(snapshot, &entry));
        }
        if (snapshot != INVALID_HANDLE_VALUE)
            CloseHandle(snapshot);
        if (found != 0) {
            child->Info = PROCESS_INFORMATION{};
            child->Info.hProcess = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_TERMINATE | SYNCHRONIZE, FALSE, found);
            child->Info.dwProcessId = found;
            return child->Info.hProcess != nullptr;
        }
        if (!parent.Running() || GetTickCount() - start > timeoutMs)
            return false;
        Sleep(10);
    }
}

std::string WindowText(HWND window)
{
    char text[2048] = "";
    DWORD_PTR length = 0;
    // WM_GETTEXT across processes: the system copies the text back.
    if (!SendMessageTimeoutA(window, WM_GETTEXT, sizeof text, (LPARAM)text, SMTO_ABORTIFHUNG, 5000, &length))
        return std::string();
    return std::string(text, strnlen(text, sizeof text));
}

std::string ItemText(HWND dialog, int id)
{
    HWND item = GetDlgItem(dialog, id);
    return item ? WindowText(item) : std::string();
}

static std::string ClassOf(HWND window)
{
    char name[64] = "";
    GetClassNameA(window, name, sizeof name);
    return name;
}

// A box is ready for reading once its buttons exist: a dialog of the setup process without any
// is still being made or taken down.
static bool HasPushButton(HWND dialog)
{
    for (int id = IDOK; id <= IDNO; ++id)
        if (GetDlgItem(dialog, id) != nullptr)
            return true;
    return false;
}

static SetupWindow KindOf(HWND dialog)
{
    if (GetDlgItem(dialog, 101) != nullptr && GetDlgItem(dialog, 106) != nullptr)
        return SetupWindow::InstallDialog;
    if (GetDlgItem(dialog, 104) != nullptr && GetDlgItem(dialog, 103) != nullptr)
        return SetupWindow::ProgressDialog;
    return SetupWindow::MessageBox;
}

struct FindRequest {
    DWORD ProcessId;
    SetupWindow Kind;
    HWND Found;
};

static BOOL CALLBACK FindProc(HWND window, LPARAM context)
{
    auto* request = (FindRequest*)context;
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner != request->ProcessId || !IsWindowVisible(window) || ClassOf(window) != "#32770")
        return TRUE;
    if (KindOf(window) != request->Kind)
        return TRUE;
    if (request->Kind == SetupWindow::MessageBox && !HasPushButton(window))
        return TRUE;
    request->Found = window;
    return FALSE;
}

HWND FindSetupWindow(DWORD processId, SetupWindow kind)
{
    FindRequest request{processId, kind, nullptr};
    EnumWindows(FindProc, (LPARAM)&request);
    return request.Found;
}

HWND WaitForSetupWindow(const SetupProcess& process, SetupWindow kind, DWORD timeoutMs)
{
    DWORD start = GetTickCount();
    for (;;) {
        HWND window = FindSetupWindow(process.Info.dwProcessId, kind);
        if (window != nullptr)
            return window;
        if (!process.Running() || GetTickCount() - start > timeoutMs)
            return nullptr;
        Sleep(10);
    }
}

static BOOL CALLBACK ReadChildProc(HWND child, LPARAM context)
{
    auto* box = (BoxInfo*)context;
    std::string className = ClassOf(child);
    LONG style = GetWindowLongA(child, GWL_STYLE);
    if (_stricmp(className.c_str(), "Button") == 0) {
        LONG kind = style & 0x0F;
        if (kind == BS_PUSHBUTTON || kind == BS_DEFPUSHBUTTON)
            box->Buttons.push_back(GetDlgCtrlID(child));
    } else if (_stricmp(className.c_str(), "Static") == 0 && (style & 0x1F) != SS_ICON) {
        std::string text = WindowText(child);
        if (!text.empty()) {
            if (!box->Text.empty())
                box->Text += "\n";
            box->Text += text;
        }
    }
    return TRUE;
}

BoxInfo ReadBox(HWND window)
{
    BoxInfo box;
    box.Window = window;
    box.Owner = GetWindow(window, GW_OWNER);
    box.Caption = WindowText(window);
    EnumChildWindows(window, ReadChildProc, (LPARAM)&box);
    return box;
}

void PressButton(HWND dialog, int id)
{
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), (LPARAM)GetDlgItem(dialog, id));
}

void TypeText(HWND dialog, int id, const std::string& text)
{
    DWORD_PTR result = 0;
    SendMessageTimeoutA(GetDlgItem(dialog, id), WM_SETTEXT, 0, (LPARAM)text.c_str(), SMTO_ABORTIFHUNG, 5000, &result);
}

int SendToItem(HWND dialog, int id, UINT msg, DWORD timeoutMs, bool* answered)
{
    DWORD_PTR result = 0;
    BOOL ok = SendMessageTimeoutA(GetDlgItem(dialog, id), msg, 0, 0, SMTO_ABORTIFHUNG, timeoutMs, &result);
    if (answered != nullptr)
        *answered = ok != 0;
    return (int)result;
}

// The window's pixels as the screen shows them, frame and caption included, as 24-bit rows
// bottom-up (BMP order); empty when the window has no area.
static std::string CaptureWindow(HWND window, BITMAPINFOHEADER* header)
{
    RECT rect;
    if (!GetWindowRect(window, &rect))
        return std::string();
    int width = rect.right - rect.left, height = rect.bottom - rect.top;
    if (width <= 0 || height <= 0)
        return std::string();
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = height; // bottom-up, as BMP files store rows
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(memory, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, width, height, screen, rect.left, rect.top, SRCCOPY);
    GdiFlush();
    DWORD stride = ((DWORD)width * 3 + 3) & ~3u;
    std::string pixels((const char*)bits, stride * (DWORD)height);
    SelectObject(memory, old);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    *header = info.bmiHeader;
    return pixels;
}

static bool WriteBitmap(const BITMAPINFOHEADER& info, const std::string& pixels, const std::string& path)
{
    BITMAPFILEHEADER header{};
    header.bfType = 0x4D42; // "BM"
    header.bfOffBits = sizeof header + sizeof info;
    header.bfSize = header.bfOffBits + (DWORD)pixels.size();
    std::string bytes((const char*)&header, sizeof header);
    bytes.append((const char*)&info, sizeof info);
    bytes.append(pixels);
    return WriteWholeFile(path, bytes);
}

bool SaveScreenshot(HWND window, const std::string& path)
{
    BITMAPINFOHEADER info;
    std::string pixels = CaptureWindow(window, &info);
    return !pixels.empty() && WriteBitmap(info, pixels, path);
}

// How many colours the picture holds, counted up to limit.
static int CountColours(const std::string& pixels, int limit)
{
    std::set<DWORD> colours;
    for (size_t i = 0; i + 3 <= pixels.size() && (int)colours.size() < limit; i += 3)
        colours.insert((DWORD)(unsigned char)pixels[i] | (DWORD)(unsigned char)pixels[i + 1] << 8 |
                       (DWORD)(unsigned char)pixels[i + 2] << 16);
    return (int)colours.size();
}

bool SaveScreenshotWhenPainted(HWND window, const std::string& path, DWORD timeoutMs)
{
    // A window that has not painted yet shows one colour (black on a fresh display) or what lay
    // beneath it; a painted dialog has a face, a frame, a caption bar and text.
    constexpr int PaintedColours = 4;
    constexpr DWORD PollMs = 100;
    BITMAPINFOHEADER info;
    std::string pixels;
    for (DWORD waited = 0;; waited += PollMs) {
        if (!IsWindow(window))
            return false;
        pixels = CaptureWindow(window, &info);
        if (CountColours(pixels, PaintedColours) >= PaintedColours || waited >= timeoutMs)
            break;
        Sleep(PollMs);
    }
    // Painting goes on for a moment after the first strokes (the texts after the face).
    Sleep(PollMs);
    if (IsWindow(window))
        pixels = CaptureWindow(window, &info);
    return !pixels.empty() && WriteBitmap(info, pixels, path);
}

std::string UnixToWindowsPath(const char* path)
{
    std::string result = "Z:";
    for (const char* p = path; *p != '\0'; ++p)
        result += *p == '/' ? '\\' : *p;
    return result;
}

bool GetFileTimes(const std::string& path, FILETIME* lastWrite, DWORDLONG* size)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data))
        return false;
    *lastWrite = data.ftLastWriteTime;
    if (size != nullptr)
        *size = ((DWORDLONG)data.nFileSizeHigh << 32) | data.nFileSizeLow;
    return true;
}

bool SetLastWriteTime(const std::string& path, const FILETIME& time)
{
    HANDLE file = CreateFileA(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    BOOL ok = SetFileTime(file, nullptr, nullptr, &time);
    CloseHandle(file);
    return ok != 0;
}

bool CopyFolder(const std::string& from, const std::string& to)
{
    CreateDirectoryA(to.c_str(), nullptr);
    for (const std::string& name : ListFolder(from)) {
        std::string source = from + "\\" + name;
        if (FolderExists(source))
            continue;
        if (!CopyFileA(source.c_str(), (to + "\\" + name).c_str(), FALSE))
            return false;
    }
    return true;
}

std::string FormatFileTime(const FILETIME& time)
{
    SYSTEMTIME system;
    if (!FileTimeToSystemTime(&time, &system))
        return "?";
    char text[64];
    snprintf(text, sizeof text, "%04u-%02u-%02u %02u:%02u:%02u UTC", system.wYear, system.wMonth, system.wDay,
             system.wHour, system.wMinute, system.wSecond);
    return text;
}

bool SameTime(const FILETIME& a, const FILETIME& b)
{
    return a.dwLowDateTime == b.dwLowDateTime && a.dwHighDateTime == b.dwHighDateTime;
}

FILETIME ZipEntryInfo::Time() const
{
    FILETIME local{}, utc{};
    DosDateTimeToFileTime(DosDate, DosTime, &local);
    LocalFileTimeToFileTime(&local, &utc);
    return utc;
}

std::string ZipEntryInfo::BaseName() const
{
    size_t cut = Name.find_last_of("/\\");
    return cut == std::string::npos ? Name : Name.substr(cut + 1);
}

static unsigned int Read16(const std::string& bytes, size_t at)
{
    return (unsigned char)bytes[at] | (unsigned)(unsigned char)bytes[at + 1] << 8;
}

static unsigned int Read32(const std::string& bytes, size_t at)
{
    return Read16(bytes, at) | Read16(bytes, at + 2) << 16;
}

// APPNOTE 4.3.16: the end-of-central-directory record (22 bytes and a comment) closes the
// archive; 4.3.12: the central directory headers it points to.
bool ReadZipDirectory(const std::string& bytes, std::vector<ZipEntryInfo>* entries)
{
    entries->clear();
    if (bytes.size() < 22)
        return false;
    size_t end = bytes.size() - 22;
    for (;; --end) {
        if (Read32(bytes, end) == 0x06054b50)
            break;
        if (end == 0)
            return false;
    }
    unsigned int count = Read16(bytes, end + 10);
    size_t at = Read32(bytes, end + 16);
    for (unsigned int i = 0; i < count; ++i) {
        if (at + 46 > bytes.size() || Read32(bytes, at) != 0x02014b50)
            return false;
        ZipEntryInfo entry;
        entry.DosTime = (unsigned short)Read16(bytes, at + 12);
        entry.DosDate = (unsigned short)Read16(bytes, at + 14);
        entry.Crc = Read32(bytes, at + 16);
        entry.CompressedSize = Read32(bytes, at + 20);
        entry.Size = Read32(bytes, at + 24);
        unsigned int nameLength = Read16(bytes, at + 28);
        unsigned int extraLength = Read16(bytes, at + 30);
        unsigned int commentLength = Read16(bytes, at + 32);
        entry.LocalHeaderOffset = Read32(bytes, at + 42);
        entry.Name = bytes.substr(at + 46, nameLength);
        entries->push_back(entry);
        at += 46 + nameLength + extraLength + commentLength;
    }
    return true;
}

bool KeyExists(HKEY root, const std::string& path)
{
    HKEY key;
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

bool CreateKey(HKEY root, const std::string& path)
{
    HKEY key;
    if (RegCreateKeyExA(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

bool ReadStringValue(HKEY root, const std::string& path, const char* name, std::string* data, DWORD* size)
{
    HKEY key;
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    char buffer[1024];
    DWORD length = sizeof buffer;
    DWORD type = 0;
    LONG status = RegQueryValueExA(key, name, nullptr, &type, (BYTE*)buffer, &length);
    RegCloseKey(key);
    if (status != ERROR_SUCCESS)
        return false;
    if (size != nullptr)
        *size = length;
    data->assign(buffer, strnlen(buffer, length));
    return true;
}
