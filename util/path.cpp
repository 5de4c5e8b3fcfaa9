// Path and file helpers shared by the setup steps. Paths are 8-bit texts in the ANSI code page,
// which may be a double-byte one: every scan steps with CharNextA and looks only at the first
// byte of each character, so the trail byte of a double-byte character (which may be 0x5C, the
// code of "\") is never taken for a separator or for the character sought. Both "\" and "/"
// count as separators; where a helper writes one it writes "\". No helper allocates, and none
// shows a message: each reports through its result only.
#include "util/path.h"

#include <direct.h>

// _lopen mode for the exclusive probe: read and write, every other open denied (the value 18).
constexpr UINT ExclusiveOpenMode = OF_READWRITE | OF_SHARE_EXCLUSIVE;

// A character matches a byte value only when it is a single-byte character: a character whose
// first byte is a lead byte never matches.
static int CharacterIs(const char* character, unsigned int byteValue)
{
    BYTE first = (BYTE)*character;
    return first == byteValue && !IsDBCSLeadByte(first);
}

char* FindNextSeparator(const char* text)
{
    const char* p = text;
    while (*p != '\0' && !IsSeparator((BYTE)*p))
        p = CharNextA(p);
    return (char*)p;
}

char* FindChar(const char* text, unsigned int byteValue)
{
    const char* p = text;
    while (*p != '\0' && !CharacterIs(p, byteValue))
        p = CharNextA(p);
    return (char*)p;
}

char* FindLastSeparator(const char* text)
{
    const char* last = nullptr;
    for (const char* p = text; *p != '\0'; p = CharNextA(p)) {
        if (IsSeparator((BYTE)*p))
            last = p;
    }
    return (char*)last;
}

char* FindLastChar(const char* text, unsigned int byteValue)
{
    const char* last = nullptr;
    for (const char* p = text; *p != '\0'; p = CharNextA(p)) {
        if (CharacterIs(p, byteValue))
            last = p;
    }
    return (char*)last;
}

char* LastChar(const char* text)
{
    const char* last = text;
    for (const char* p = text; *p != '\0'; p = CharNextA(p))
        last = p;
    return (char*)last;
}

int IsDriveLetter(unsigned int code)
{
    return (code >= 'A' && code <= 'Z') || (code >= 'a' && code <= 'z');
}

int IsSeparator(unsigned int code)
{
    return code == '\\' || code == '/';
}

int IsDriveRoot(const char* path)
{
    return IsDriveLetter((BYTE)path[0]) && path[1] == ':' && IsSeparator((BYTE)path[2]) && path[3] == '\0';
}

void AppendBackslash(char* text)
{
    char* last = LastChar(text);
    if (IsSeparator((BYTE)*last))
        return;
    lstrcatA(text, "\\");
}

// Creates the folder and every missing parent above it, but never cuts the path before the
// lowest cut point, so a drive or a network share is never created. The path's buffer is
// changed while the parents are created; every separator cut there is put back as "\".
int CreateFolderChain(char* path, char* lowest)
{
    if (_mkdir(path) == 0)
        return 0;
    char* separator = FindLastSeparator(path);
    if (separator == nullptr || separator < lowest)
        return -1;
    *separator = '\0';
    int parent = CreateFolderChain(path, lowest);
    *separator = '\\';
    if (parent == -1)
        return -1;
    return _mkdir(path);
}

int CreateFolderPath(char* path)
{
    char* lowest = path;
    if (path[0] == '\\' && path[1] == '\\') {
        // \\server\share: the cut may not go above the share.
        char* afterServer = FindChar(path + 2, '\\');
        if (*afterServer == '\0')
            return _mkdir(path);
        lowest = FindNextSeparator(afterServer + 1);
    } else if (IsDriveLetter((BYTE)path[0]) && path[1] == ':') {
        lowest = path + 2;
    }
    if (*lowest == '\0')
        return _mkdir(path);
    return CreateFolderChain(path, lowest);
}

int ProbeFile(const char* path, WIN32_FIND_DATAA* record)
{
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(path, &found);
    if (search == INVALID_HANDLE_VALUE)
        return 1;
    FindClose(search);
    *record = found;
    return 0;
}

int RemoveFile(const char* path)
{
    return DeleteFileA(path) ? 0 : 1;
}

int RenameFile(const char* existing, const char* newPath)
{
    return MoveFileA(existing, newPath) ? 0 : 1;
}

int CanOpenExclusive(const char* path)
{
    if (path == nullptr || path[0] == '\0')
        return 1;
    HFILE file = _lopen(path, ExclusiveOpenMode);
    if (file == HFILE_ERROR)
        return 0;
    _lclose(file);
    return 1;
}

// Retries the exclusive open as fast as it can until the time-out, dispatching the thread's
// window messages between tries so that its windows stay responsive. A missing file is retried
// like a busy one. The deadline is computed once with 32-bit wrap-around and compared unsigned.
int WaitForExclusiveAccess(const char* path, DWORD timeout)
{
    DWORD deadline = GetTickCount() + timeout;
    if (GetTickCount() >= deadline)
        return 0;
    do {
        DispatchWaitingMessages();
        HFILE file = _lopen(path, ExclusiveOpenMode);
        if (file != HFILE_ERROR) {
            _lclose(file);
            return 1;
        }
    } while (GetTickCount() < deadline);
    return 0;
}

// Signed division truncating toward zero: a window larger than the screen gets a negative
// position, so its middle still lies in the middle of the screen.
void CentreWindow(HWND window)
{
    RECT rect;
    GetWindowRect(window, &rect);
    int left = (GetSystemMetrics(SM_CXSCREEN) + rect.left - rect.right) / 2;
    int top = (GetSystemMetrics(SM_CYSCREEN) + rect.top - rect.bottom) / 2;
    SetWindowPos(window, nullptr, left, top, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
}
