// The folder the archive is unpacked into: new, with an unpredictable name, under the user's
// temporary folder; and its removal with everything in it. A folder that exists already is
// never used, since it may hold files that someone planted beside setup.exe: CreateDirectoryA
// fails for it, and the next attempt takes another name.
#include "base/base.h"
#include "sfx/sfx.h"
#include "ui/ui.h"
#include "util/path.h"

constexpr char FolderPrefix[] = "tqsfx-";
constexpr int NameDigits = 16;          // 64 random bits in hexadecimal
constexpr int CreateAttempts = 32;
constexpr int RemoveAttempts = 300;
constexpr DWORD RemoveRetryMs = 10;     // a program's image may stay held briefly after it ended

typedef BOOLEAN(WINAPI* GenerateRandomProc)(PVOID, ULONG);

// The SplitMix64 finaliser: spreads every input bit over the whole value.
static unsigned long long Mix(unsigned long long value)
{
    value = (value ^ (value >> 30)) * 0xBF58476D1CE4E5B9ull;
    value = (value ^ (value >> 27)) * 0x94D049BB133111EBull;
    return value ^ (value >> 31);
}

// 64 unpredictable bits from the system's generator (RtlGenRandom, exported by advapi32 as
// SystemFunction036 and looked up, since older Windows lacks it); where it is missing, from the
// clocks and the process and thread IDs, mixed.
static unsigned long long RandomValue(void)
{
    static GenerateRandomProc generate;
    static int bound;
    if (!bound) {
        bound = 1;
        HMODULE library = LoadSystemLibrary("advapi32.dll");
        if (library != nullptr)
            generate = (GenerateRandomProc)(void*)GetProcAddress(library, "SystemFunction036");
    }
    unsigned long long value = 0;
    if (generate != nullptr && generate(&value, sizeof value))
        return value;
    static unsigned long long sequence;
    LARGE_INTEGER counter;
    FILETIME now;
    QueryPerformanceCounter(&counter);
    GetSystemTimeAsFileTime(&now);
    sequence += 0x9E3779B97F4A7C15ull;
    value = Mix((unsigned long long)counter.QuadPart ^ sequence);
    value = Mix(value ^ ((unsigned long long)now.dwHighDateTime << 32 | now.dwLowDateTime));
    return Mix(value ^ ((unsigned long long)GetCurrentProcessId() << 32 | GetCurrentThreadId()) ^ GetTickCount());
}

int CreateUnpackFolder(char* folder)
{
    folder[0] = '\0';
    char parent[PathBufferSize];
    DWORD length = GetTempPathA(sizeof parent, parent);
    if (length == 0 || length >= sizeof parent)
        return 0;
    lstrcpyA(folder, parent);
    if (length + sizeof FolderPrefix - 1 + NameDigits + 1 >= (DWORD)PathBufferSize)
        return 0;
    for (int attempt = 0; attempt < CreateAttempts; ++attempt) {
        unsigned long long value = RandomValue();
        char candidate[PathBufferSize];
        wsprintfA(candidate, "%s%s%08lx%08lx", parent, FolderPrefix, (unsigned long)(value >> 32),
                  (unsigned long)(value & 0xFFFFFFFFu));
        if (CreateDirectoryA(candidate, nullptr)) {
            wsprintfA(folder, "%s\\", candidate);
            return 1;
        }
        if (GetLastError() != ERROR_ALREADY_EXISTS)
            return 0; // the temporary folder itself is missing or closed to us
    }
    return 0;
}

// Deletes what lies below path (which ends in "\"; the buffer holds PathBufferSize bytes and is
// restored on return). A reparse point is removed as a link, never followed: what it points to
// lies outside the folder. Returns 1 when everything went.
static int DeleteFolderContents(char* path)
{
    int length = lstrlenA(path);
    if (length + 2 > PathBufferSize)
        return 0;
    lstrcatA(path, "*");
    WIN32_FIND_DATAA record;
    HANDLE search = FindFirstFileA(path, &record);
    path[length] = '\0';
    if (search == INVALID_HANDLE_VALUE)
        return GetLastError() == ERROR_FILE_NOT_FOUND;
    int complete = 1;
    do {
        const char* name = record.cFileName;
        if (lstrcmpA(name, ".") == 0 || lstrcmpA(name, "..") == 0)
            continue;
        if (length + lstrlenA(name) + 2 > PathBufferSize) {
            complete = 0;
            continue;
        }
        lstrcatA(path, name);
        SetFileAttributesA(path, FILE_ATTRIBUTE_NORMAL);
        if (record.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            if (!(record.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
                lstrcatA(path, "\\");
                complete &= DeleteFolderContents(path);
                path[length + lstrlenA(name)] = '\0';
            }
            complete &= RemoveDirectoryA(path) ? 1 : 0;
        } else {
            complete &= DeleteFileA(path) ? 1 : 0;
        }
        path[length] = '\0';
    } while (FindNextFileA(search, &record));
    FindClose(search);
    return complete;
}

int DeleteFolderTree(const char* folder)
{
    char path[PathBufferSize];
    if (lstrlenA(folder) >= PathBufferSize || *LastChar(folder) != '\\')
        return 0;
    for (int attempt = 0; attempt < RemoveAttempts; ++attempt) {
        lstrcpyA(path, folder);
        DeleteFolderContents(path);
        *LastChar(path) = '\0';
        if (RemoveDirectoryA(path) || GetFileAttributesA(path) == INVALID_FILE_ATTRIBUTES)
            return 1;
        Sleep(RemoveRetryMs);
        DispatchPendingMessages();
    }
    return 0;
}
