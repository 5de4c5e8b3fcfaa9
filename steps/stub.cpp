// The shell-extension stub library. Setup carries it as a resource and writes it into the install
// folder before anything is unpacked, unless an installed copy has the same file version. While a
// shell holds the installed stub or worker library they cannot be replaced, so the step waits for
// exclusive access, looks for product files in use, and can turn the shell extension off.
#include "steps/steps.h"
#include "util/bytes.h"

#include "res/resource.h"
#include "steps/record.h"
#include "util/path.h"

#include <stdlib.h>
#include <string.h>

// VS_FIXEDFILEINFO as raw little-endian bytes: the signature at 0, the file version's two halves
// at 8 and 12; the eight 16-bit version parts (file and product version) occupy offsets 8 to 23.
constexpr DWORD FixedFileInfoSignature = 0xFEEF04BD;
constexpr unsigned char FixedFileInfoFirstByte = 0xBD;
constexpr int FileVersionOffset = 8;
constexpr int VersionPartsEnd = 24;
constexpr unsigned short VersionPartLimit = 20;

constexpr const char StubFileName[] = "TQSHLSTB.DLL";
constexpr const char FmKeyPath[] = "Software\\Ostrel Computing\\Tessel\\fm";

const unsigned char* StubData;
DWORD StubSize;
int StubIsCurrent;

const char* const BusyCheckList[] = {
    "tessel32.exe",
    "tqsnapdk.exe",
    "tqsfx32.exe",
    "tqcab3.dll",
    "tqshell1.dll",
    "",
};

// The VERSION functions, bound from the system folder's version.dll on first use: setup never
// loads a library from its own (download) folder, so it does not import VERSION statically.
typedef DWORD(WINAPI* GetFileVersionInfoSizeAFunction)(LPCSTR, LPDWORD);
typedef BOOL(WINAPI* GetFileVersionInfoAFunction)(LPCSTR, DWORD, DWORD, LPVOID);
typedef BOOL(WINAPI* VerQueryValueAFunction)(LPCVOID, LPCSTR, LPVOID*, PUINT);

static GetFileVersionInfoSizeAFunction GetFileVersionInfoSizeAPointer;
static GetFileVersionInfoAFunction GetFileVersionInfoAPointer;
static VerQueryValueAFunction VerQueryValueAPointer;

// Joins InstallFolder and a name into a 260-byte buffer; 0 when it does not fit.
static int JoinInstallPath(char* buffer, const char* name)
{
    size_t folderLength = strlen(InstallFolder);
    size_t nameLength = strlen(name);
    if (folderLength + nameLength >= (size_t)PathBufferSize) {
        buffer[0] = '\0';
        return 0;
    }
    memcpy(buffer, InstallFolder, folderLength);
    memcpy(buffer + folderLength, name, nameLength + 1);
    return 1;
}

// Loads version.dll by its full path in the system folder. Where the platform can restrict the
// search for the library's own dependencies to the system folder, that is done first; older
// Windows lacks SetDefaultDllDirectories, so it is looked up rather than imported.
static int BindVersionFunctions(void)
{
    if (GetFileVersionInfoSizeAPointer != nullptr && GetFileVersionInfoAPointer != nullptr
        && VerQueryValueAPointer != nullptr)
        return 1;

    // From the system folder alone, never from setup's own (download) folder.
    RestrictLibrarySearch();
    HMODULE library = LoadSystemLibrary("version.dll");
    if (library == nullptr)
        return 0;
    GetFileVersionInfoSizeAPointer =
        (GetFileVersionInfoSizeAFunction)(void*)GetProcAddress(library, "GetFileVersionInfoSizeA");
    GetFileVersionInfoAPointer =
        (GetFileVersionInfoAFunction)(void*)GetProcAddress(library, "GetFileVersionInfoA");
    VerQueryValueAPointer = (VerQueryValueAFunction)(void*)GetProcAddress(library, "VerQueryValueA");
    return GetFileVersionInfoSizeAPointer != nullptr && GetFileVersionInfoAPointer != nullptr
        && VerQueryValueAPointer != nullptr;
}

int LoadStubPayload(void)
{
    HRSRC resource = FindResourceA(ModuleInstance, STUB_RESOURCE_NAME, STUB_RESOURCE_TYPE);
    if (resource == nullptr) {
        Trace("Failed to find resource for stub DLL.");
        return 0;
    }
    StubSize = SizeofResource(ModuleInstance, resource);
    HGLOBAL loaded = LoadResource(ModuleInstance, resource);
    const unsigned char* bytes = loaded != nullptr ? (const unsigned char*)LockResource(loaded) : nullptr;
    if (bytes == nullptr) {
        Trace("Failed to load resource for stub DLL.");
        return 0;
    }
    StubData = bytes;
    return 1;
}

int ReadInstalledVersion(const char* path, FileVersion* version)
{
    version->MostSignificant = 0;
    version->LeastSignificant = 0;
    if (!BindVersionFunctions())
        return 0;

    DWORD unused = 0;
    DWORD size = GetFileVersionInfoSizeAPointer(path, &unused);
    if (size == 0)
        return 0;
    void* block = malloc(size);
    if (block == nullptr)
        return 0;

    int result = 0;
    VS_FIXEDFILEINFO* info = nullptr;
    UINT infoLength = 0;
    if (GetFileVersionInfoAPointer(path, 0, size, block)
        && VerQueryValueAPointer(block, "\\", (LPVOID*)&info, &infoLength)
        && info != nullptr && infoLength >= sizeof(VS_FIXEDFILEINFO)) {
        version->MostSignificant = info->dwFileVersionMS;
        version->LeastSignificant = info->dwFileVersionLS;
        result = 1;
    }
    free(block);
    return result;
}

int FindFixedFileInfo(const unsigned char* bytes, int count, unsigned short limit, unsigned char* record)
{
    if (count < FixedFileInfoSize)
        return 0;
    for (int position = 0; position <= count - FixedFileInfoSize; position++) {
        const unsigned char* start = bytes + position;
        if (start[0] != FixedFileInfoFirstByte || ReadLittle32(start) != FixedFileInfoSignature)
            continue;
        unsigned char candidate[FixedFileInfoSize];
        memcpy(candidate, start, FixedFileInfoSize);
        int withinLimit = 1;
        for (int offset = FileVersionOffset; offset < VersionPartsEnd; offset += 2) {
            if (ReadLittle16(candidate + offset) > limit)
                withinLimit = 0;
        }
        if (!withinLimit)
            continue;
        memcpy(record, candidate, FixedFileInfoSize);
        return 1;
    }
    return 0;
}

int SameFileVersion(const FileVersion* first, const FileVersion* second)
{
    return first->MostSignificant == second->MostSignificant
        && first->LeastSignificant == second->LeastSignificant;
}

static void TraceVersion(const char* format, const FileVersion* version)
{
    Trace(format, (int)HIWORD(version->MostSignificant), (int)LOWORD(version->MostSignificant),
          (int)HIWORD(version->LeastSignificant), (int)LOWORD(version->LeastSignificant));
}

void CompareStubVersion(char* stubPath)
{
    FileVersion existing;
    if (!ReadInstalledVersion(stubPath, &existing)) {
        Trace("GetVersion failed for existing stub DLL.");
        return;
    }
    unsigned char record[FixedFileInfoSize];
    if (StubData == nullptr || !FindFixedFileInfo(StubData, (int)StubSize, VersionPartLimit, record)) {
        Trace("GetVersion failed for new stub DLL in resource.");
        return;
    }
    FileVersion payload;
    payload.MostSignificant = ReadLittle32(record + FileVersionOffset);
    payload.LeastSignificant = ReadLittle32(record + FileVersionOffset + 4);
    TraceVersion("Existing stub version = %d.%d.%d.%d", &existing);
    TraceVersion("New stub version = %d.%d.%d.%d", &payload);
    if (SameFileVersion(&existing, &payload)) {
        stubPath[0] = '\0';
        StubIsCurrent = 1;
    }
}

// Retries without pause until the deadline, dispatching the thread's messages between tries so
// that the dialog keeps repainting. The tick count wraps after 49.7 days; a deadline that wraps
// lies below the current count and ends the wait before the first try.
int WaitForLibraryAccess(DWORD timeout, const char* stubPath, const char* workerPath)
{
    DWORD deadline = GetTickCount() + timeout;
    if (GetTickCount() >= deadline)
        return 0;
    do {
        DispatchWaitingMessages();
        if (CanOpenExclusive(stubPath) && CanOpenExclusive(workerPath))
            return 1;
    } while (GetTickCount() < deadline);
    return 0;
}

int FindBusyFile(void)
{
    for (int index = 0; BusyCheckList[index][0] != '\0'; index++) {
        char path[PathBufferSize];
        // A name that does not fit the buffer cannot be opened by anyone, so it cannot be busy.
        if (!JoinInstallPath(path, BusyCheckList[index]))
            continue;
        WIN32_FIND_DATAA record;
        if (ProbeFile(path, &record) == 0 && !CanOpenExclusive(path))
            return index;
    }
    return -1;
}

int WriteStub(void)
{
    char path[PathBufferSize];
    if (!JoinInstallPath(path, StubFileName)) {
        Trace("Failed to create file for stub DLL.");
        return 0;
    }
    Trace("Extracting stub DLL to %s", path);
    HFILE file = _lcreat(path, 0);
    if (file == HFILE_ERROR) {
        Trace("Failed to create file for stub DLL.");
        return 0;
    }
    UINT written = _lwrite(file, (LPCCH)StubData, StubSize);
    if (written != StubSize) {
        _lclose(file);
        Trace("Failed to write to file for stub DLL.");
        return 0;
    }
    SetFileTime((HANDLE)(LONG_PTR)file, &SetupTimestamp, &SetupTimestamp, &SetupTimestamp);
    _lclose(file);
    return 1;
}

// The value "shlExt" = "0" tells the product that its shell extension is off; the main program
// turns it back on when it finishes the installation. Setup itself never reads it.
void TurnOffShellExtension(void)
{
    RemoveShellExtensionKeys();
    HKEY key;
    if (RegCreateKeyA(HKEY_CURRENT_USER, FmKeyPath, &key) != ERROR_SUCCESS)
        return;
    RegSetValueExA(key, "shlExt", 0, REG_SZ, (const BYTE*)"0", 1);
    RegCloseKey(key);
}
