// The folder the archive is unpacked into: new, with an unpredictable name, under the user's
// temporary folder, closed to everyone who may not change the self-extractor's own files
// (sfx/folder_access.cpp) and held open until it is removed; and its removal with everything in
// it. A folder that exists already is never used, since it may hold files that someone planted
// beside setup.exe: CreateDirectoryA fails for it, and the next attempt takes another name. The
// removal never follows a link or junction: what one points to lies outside the folder.
#include "base/base.h"
#include "sfx/sfx.h"
#include "sfx/folder_access.h"
#include "ui/ui.h"
#include "util/path.h"

#include <winternl.h>
#include <string.h>

constexpr char FolderPrefix[] = "tqsfx-";
constexpr int NameDigits = 16;          // 64 random bits in hexadecimal
constexpr int CreateAttempts = 32;
constexpr int RemoveAttempts = 300;
constexpr DWORD RemoveRetryMs = 10;     // a program's image may stay held briefly after it ended
constexpr DWORD FolderHoldAccess = FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | READ_CONTROL;
constexpr DWORD FolderHoldSharing = FILE_SHARE_READ | FILE_SHARE_WRITE; // and never FILE_SHARE_DELETE
constexpr int NativePrefixSize = 8;                                   // "\??\UNC" and its end
constexpr NTSTATUS ObjectNameCollision = (NTSTATUS)0xC0000035;        // STATUS_OBJECT_NAME_COLLISION

enum FolderOutcome { FolderMade, FolderExists, FolderFailed };

typedef BOOLEAN(WINAPI* GenerateRandomProc)(PVOID, ULONG);
typedef NTSTATUS(NTAPI* CreateFileProc)(PHANDLE, ACCESS_MASK, POBJECT_ATTRIBUTES, PIO_STATUS_BLOCK, PLARGE_INTEGER,
                                        ULONG, ULONG, ULONG, ULONG, PVOID, ULONG);

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

// Opens a folder for holding: no delete sharing, so it cannot be renamed or deleted while the
// handle lives, and never through a link. INVALID_HANDLE_VALUE where it cannot be opened (the
// oldest Windows versions open no folders).
static HANDLE OpenFolderHold(const char* path)
{
    return CreateFileA(path, FolderHoldAccess, FolderHoldSharing, nullptr, OPEN_EXISTING,
                       FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
}

// 1 when the opened object is a folder and no link or junction.
static int IsPlainFolder(HANDLE hold)
{
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(hold, &info))
        return 0;
    return (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) ==
           FILE_ATTRIBUTE_DIRECTORY;
}

// The folder's security for this process: 1 and access filled, or 0 where the system has no
// access lists of this kind (the folder then inherits the temporary folder's).
static int PrepareFolderAccess(UnpackFolderAccess* access)
{
    HANDLE token;
    if (!OpenOwnToken(&token))
        return 0;
    int built = BuildUnpackFolderAccess(token, IsTokenElevated(token), access);
    CloseHandle(token);
    return built;
}

// The native call that creates a folder and opens it in one step (every NT version has it);
// null on Windows without it.
static CreateFileProc BindNativeCreateFile(void)
{
    static CreateFileProc create;
    static int bound;
    if (!bound) {
        bound = 1;
        HMODULE library = LoadSystemLibrary("ntdll.dll");
        if (library != nullptr)
            create = (CreateFileProc)(void*)GetProcAddress(library, "NtCreateFile");
    }
    return create;
}

// Creates the folder at path (no trailing separator) with the given security and, where the
// system allows, holds it open from the moment it exists: a folder made and opened in two steps
// could be renamed in between by anyone who may change the temporary folder, and another put
// in its place.
static FolderOutcome MakeHeldFolder(const char* path, SECURITY_ATTRIBUTES* security, HANDLE* hold)
{
    *hold = INVALID_HANDLE_VALUE;
    CreateFileProc create = BindNativeCreateFile();
    if (create == nullptr) {
        if (CreateDirectoryA(path, security))
            return FolderMade;
        return GetLastError() == ERROR_ALREADY_EXISTS ? FolderExists : FolderFailed;
    }
    // The native name: "\??\C:\..." or, for a network share "\\server\share\...", "\??\UNC\...".
    WCHAR name[NativePrefixSize + PathBufferSize];
    int isShare = path[0] == '\\' && path[1] == '\\';
    lstrcpyW(name, isShare ? L"\\??\\UNC" : L"\\??\\");
    int prefix = lstrlenW(name);
    int length = MultiByteToWideChar(CP_ACP, 0, path + (isShare ? 1 : 0), -1, name + prefix, PathBufferSize);
    if (length <= 1)
        return FolderFailed;
    UNICODE_STRING nativeName;
    nativeName.Length = (USHORT)((prefix + length - 1) * sizeof(WCHAR));
    nativeName.MaximumLength = (USHORT)(nativeName.Length + sizeof(WCHAR));
    nativeName.Buffer = name;
    OBJECT_ATTRIBUTES object;
    memset(&object, 0, sizeof object);
    object.Length = sizeof object;
    object.ObjectName = &nativeName;
    object.Attributes = OBJ_CASE_INSENSITIVE;
    object.SecurityDescriptor = security != nullptr ? security->lpSecurityDescriptor : nullptr;
    IO_STATUS_BLOCK status;
    NTSTATUS result = create(hold, FolderHoldAccess | SYNCHRONIZE, &object, &status, nullptr, FILE_ATTRIBUTE_NORMAL,
                             FolderHoldSharing, FILE_CREATE,
                             FILE_DIRECTORY_FILE | FILE_SYNCHRONOUS_IO_NONALERT | FILE_OPEN_REPARSE_POINT, nullptr, 0);
    if (result >= 0)
        return FolderMade;
    *hold = INVALID_HANDLE_VALUE;
    return result == ObjectNameCollision ? FolderExists : FolderFailed;
}

int CreateUnpackFolder(char* folder, HANDLE* hold)
{
    folder[0] = '\0';
    *hold = INVALID_HANDLE_VALUE;
    char parent[PathBufferSize];
    DWORD length = GetTempPathA(sizeof parent, parent);
    if (length == 0 || length >= sizeof parent)
        return 0;
    lstrcpyA(folder, parent);
    if (length + sizeof FolderPrefix - 1 + NameDigits + 1 >= (DWORD)PathBufferSize)
        return 0;
    UnpackFolderAccess access;
    SECURITY_ATTRIBUTES* security = PrepareFolderAccess(&access) ? &access.Attributes : nullptr;
    for (int attempt = 0; attempt < CreateAttempts; ++attempt) {
        unsigned long long value = RandomValue();
        char candidate[PathBufferSize];
        wsprintfA(candidate, "%s%s%08lx%08lx", parent, FolderPrefix, (unsigned long)(value >> 32),
                  (unsigned long)(value & 0xFFFFFFFFu));
        FolderOutcome outcome = MakeHeldFolder(candidate, security, hold);
        if (outcome == FolderMade) {
            wsprintfA(folder, "%s\\", candidate);
            return 1;
        }
        if (outcome == FolderFailed)
            return 0; // the temporary folder itself is missing or closed to us
    }
    return 0;
}

// Removes the folder or link at path (no trailing separator; the buffer holds PathBufferSize
// bytes and is restored on return). A folder is held open while what lies below it goes, and
// entered only when the held object is a plain folder; a link or junction is removed itself.
// attributes are the entry's as its folder listed them. Returns 1 when it went.
static int DeleteFolderEntry(char* path, DWORD attributes);

// Deletes what lies below path (which ends in "\"; the buffer holds PathBufferSize bytes and is
// restored on return). Returns 1 when everything went.
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
        if (record.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            complete &= DeleteFolderEntry(path, record.dwFileAttributes);
        } else {
            // A read-only mark would stop the deletion; a link's own attributes are not touched,
            // since setting them may reach through to its target.
            if (!(record.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
                SetFileAttributesA(path, FILE_ATTRIBUTE_NORMAL);
            complete &= DeleteFileA(path) ? 1 : 0;
        }
        path[length] = '\0';
    } while (FindNextFileA(search, &record));
    FindClose(search);
    return complete;
}

static int DeleteFolderEntry(char* path, DWORD attributes)
{
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT)
        return RemoveDirectoryA(path) ? 1 : 0;
    HANDLE hold = OpenFolderHold(path);
    int plain = hold != INVALID_HANDLE_VALUE ? IsPlainFolder(hold) : 1; // unheld: as listed
    int complete = 1;
    if (plain) {
        int length = lstrlenA(path);
        lstrcatA(path, "\\");
        complete = DeleteFolderContents(path);
        path[length] = '\0';
    }
    if (hold != INVALID_HANDLE_VALUE)
        CloseHandle(hold);
    if (plain)
        SetFileAttributesA(path, FILE_ATTRIBUTE_NORMAL);
    return complete & (RemoveDirectoryA(path) ? 1 : 0);
}

int DeleteFolderTree(const char* folder, HANDLE hold)
{
    char path[PathBufferSize];
    if (lstrlenA(folder) >= PathBufferSize || *LastChar(folder) != '\\') {
        if (hold != INVALID_HANDLE_VALUE)
            CloseHandle(hold);
        return 0;
    }
    // The folder is entered only when it is no link or junction.
    lstrcpyA(path, folder);
    *LastChar(path) = '\0';
    DWORD attributes = GetFileAttributesA(path);
    int enter = hold != INVALID_HANDLE_VALUE
                    ? IsPlainFolder(hold)
                    : attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_REPARSE_POINT);
    if (enter) {
        // What a program started from the folder keeps open may go a moment after it ended.
        lstrcpyA(path, folder);
        for (int attempt = 0; attempt < RemoveAttempts && !DeleteFolderContents(path); ++attempt) {
            Sleep(RemoveRetryMs);
            DispatchPendingMessages();
        }
        *LastChar(path) = '\0';
    }
    if (hold != INVALID_HANDLE_VALUE)
        CloseHandle(hold);
    for (int attempt = 0; attempt < RemoveAttempts; ++attempt) {
        if (RemoveDirectoryA(path) || GetFileAttributesA(path) == INVALID_FILE_ATTRIBUTES)
            return 1;
        Sleep(RemoveRetryMs);
        DispatchPendingMessages();
    }
    return 0;
}
