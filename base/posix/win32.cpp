// The Win32 calls of the engine and the message helpers over POSIX, for native builds. Files
// are descriptors; "\" in paths is taken as "/". There are no OEM and ANSI code pages here, so
// the character-set conversions keep the bytes as they are: names in modern archives are mostly
// UTF-8 already, a byte-preserving conversion never changes a name's length, and the Windows
// build does the real conversion. CharNextA steps over single bytes unless a test asks for the
// double-byte code page 932. Time stamps follow the local time-zone rules of the C library.
#include "base/posix/sink.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

struct StringEntry {
    UINT Id;
    const char* Text;
};

// Generated at build time from res/strings.rc.
static const StringEntry StringTable[] = {
#include "strings_table.inc"
};

constexpr size_t NativePathSize = 4096;
constexpr int FormatLimit = 1025;                  // wsprintfA writes at most 1024 characters
constexpr int64_t SecondsFrom1601To1970 = 11644473600LL;
constexpr int64_t FileTimeUnitsPerSecond = 10000000; // FILETIME counts 100-ns units
constexpr uint32_t LargestPosition = 0xFFFFFFFFu;    // file positions are 32-bit values
static_assert(sizeof(off_t) > sizeof(uint32_t), "positions up to 4 GiB need a 64-bit off_t");

constexpr UINT DoubleByteCodePage = 932;
constexpr UINT DefaultCodePage = 1252;

static UINT AnsiCodePage = DefaultCodePage;
static MessageBoxSink CurrentBoxSink;
static MessageSink CurrentMessageSink;
static long long WriteLimit = -1;
static long long BytesWritten;
static const char* MissingExport;
static char KernelModule;   // the address that stands for kernel32.dll's handle

void SetMessageBoxSink(MessageBoxSink sink)
{
    CurrentBoxSink = sink;
}

void SetMessageSink(MessageSink sink)
{
    CurrentMessageSink = sink;
}

void SetWriteLimit(long long bytes)
{
    WriteLimit = bytes;
    BytesWritten = 0;
}

void SetMissingExport(const char* name)
{
    MissingExport = name;
}

HMODULE GetModuleHandleA(LPCSTR name)
{
    return strcasecmp(name, "kernel32.dll") == 0 ? (HMODULE)(void*)&KernelModule : nullptr;
}

FARPROC GetProcAddress(HMODULE module, LPCSTR name)
{
    if (module != (HMODULE)(void*)&KernelModule || strcmp(name, "IsProcessorFeaturePresent") != 0
        || (MissingExport != nullptr && strcmp(name, MissingExport) == 0))
        return nullptr;
    return (FARPROC)(void*)IsProcessorFeaturePresent;
}

BOOL IsProcessorFeaturePresent(DWORD feature)
{
#if (defined(__x86_64__) || defined(__i386__)) && (defined(__GNUC__) || defined(__clang__))
    if (feature == PF_XMMI64_INSTRUCTIONS_AVAILABLE)
        return __builtin_cpu_supports("sse2") ? 1 : 0;
#else
    (void)feature;
#endif
    return 0;
}

// A path too long for the platform is cut to an empty one, which no call accepts. Only a "\\"
// that begins a character is a separator.
static void NativePath(const char* path, char* native)
{
    size_t length = strlen(path);
    if (length >= NativePathSize)
        length = 0;
    memcpy(native, path, length);
    native[length] = '\0';
    for (char* p = native; *p != '\0'; p = CharNextA(p))
        if (*p == '\\')
            *p = '/';
}

HFILE _lopen(LPCSTR path, int mode)
{
    char native[NativePathSize];
    NativePath(path, native);
    int access = (mode & 3) == OF_WRITE ? O_WRONLY : (mode & 3) == OF_READWRITE ? O_RDWR : O_RDONLY;
    int file = open(native, access | O_CLOEXEC);
    return file < 0 ? HFILE_ERROR : file;
}

HFILE _lcreat(LPCSTR path, int)
{
    char native[NativePathSize];
    NativePath(path, native);
    int file = open(native, O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    return file < 0 ? HFILE_ERROR : file;
}

UINT _lread(HFILE file, LPVOID buffer, UINT count)
{
    UINT total = 0;
    while (total < count) {
        ssize_t got = read(file, (char*)buffer + total, count - total);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return (UINT)HFILE_ERROR;
        if (got == 0)
            break;
        total += (UINT)got;
    }
    return total;
}

UINT _lwrite(HFILE file, LPCCH buffer, UINT count)
{
    UINT allowed = count;
    if (WriteLimit >= 0 && BytesWritten + count > WriteLimit)
        allowed = (UINT)(WriteLimit - BytesWritten);
    UINT total = 0;
    while (total < allowed) {
        ssize_t put = write(file, buffer + total, allowed - total);
        if (put < 0 && errno == EINTR)
            continue;
        if (put <= 0)
            return total == 0 ? (UINT)HFILE_ERROR : total;
        total += (UINT)put;
    }
    BytesWritten += total;
    return total;
}

// As the Windows call, which has no high part of the position: a move to a position that does
// not fit 32 bits (or before the start) fails and leaves the file where it was; a position from
// 2 to 4 GiB comes back as its low 32 bits.
LONG _llseek(HFILE file, LONG offset, int origin)
{
    off_t base = 0;
    if (origin != FILE_BEGIN)
        base = lseek(file, 0, origin == FILE_CURRENT ? SEEK_CUR : SEEK_END);
    if (base < 0)
        return HFILE_ERROR;
    off_t target = base + offset;
    if (target < 0 || target > (off_t)LargestPosition || lseek(file, target, SEEK_SET) < 0)
        return HFILE_ERROR;
    return (LONG)(uint32_t)target;
}

HFILE _lclose(HFILE file)
{
    return close(file) == 0 ? 0 : HFILE_ERROR;
}

BOOL DeleteFileA(LPCSTR path)
{
    char native[NativePathSize];
    NativePath(path, native);
    return unlink(native) == 0;
}

// Days from 1970-01-01 to a date of the proleptic Gregorian calendar.
static int64_t DaysFromCivil(int64_t year, unsigned month, unsigned day)
{
    year -= month <= 2;
    int64_t era = (year >= 0 ? year : year - 399) / 400;
    unsigned yearOfEra = (unsigned)(year - era * 400);
    unsigned dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    unsigned dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + (int64_t)dayOfEra - 719468;
}

static void SecondsToFileTime(int64_t seconds, FILETIME* fileTime)
{
    uint64_t units = (uint64_t)(seconds + SecondsFrom1601To1970) * FileTimeUnitsPerSecond;
    fileTime->dwLowDateTime = (DWORD)units;
    fileTime->dwHighDateTime = (DWORD)(units >> 32);
}

static int64_t FileTimeToSeconds(const FILETIME* fileTime)
{
    uint64_t units = (uint64_t)fileTime->dwHighDateTime << 32 | fileTime->dwLowDateTime;
    return (int64_t)(units / FileTimeUnitsPerSecond) - SecondsFrom1601To1970;
}

// MS-DOS date: bits 9-15 year since 1980, 5-8 month, 0-4 day; time: bits 11-15 hour, 5-10
// minute, 0-4 seconds in units of two.
BOOL DosDateTimeToFileTime(WORD date, WORD time, FILETIME* fileTime)
{
    unsigned month = (date >> 5) & 15, day = date & 31;
    unsigned hour = time >> 11, minute = (time >> 5) & 63, second = (time & 31) * 2;
    if (month < 1 || month > 12 || day < 1 || hour > 23 || minute > 59 || second > 59)
        return 0;
    int64_t days = DaysFromCivil(1980 + (date >> 9), month, day);
    SecondsToFileTime(days * 86400 + hour * 3600 + minute * 60 + second, fileTime);
    return 1;
}

// The universal time at which a local clock shows the given time, by the rules in force then.
BOOL LocalFileTimeToFileTime(const FILETIME* local, FILETIME* universal)
{
    time_t seconds = (time_t)FileTimeToSeconds(local);
    struct tm fields;
    if (gmtime_r(&seconds, &fields) == nullptr)
        return 0;
    fields.tm_isdst = -1;
    time_t result = mktime(&fields);
    if (result == (time_t)-1)
        return 0;
    SecondsToFileTime(result, universal);
    return 1;
}

// A zero time leaves that time unchanged, as on Windows.
BOOL SetFileTime(HANDLE file, const FILETIME*, const FILETIME*, const FILETIME* lastWrite)
{
    if (lastWrite == nullptr || (lastWrite->dwLowDateTime == 0 && lastWrite->dwHighDateTime == 0))
        return 1;
    struct timespec times[2];
    times[0].tv_sec = 0;
    times[0].tv_nsec = UTIME_OMIT;
    times[1].tv_sec = (time_t)FileTimeToSeconds(lastWrite);
    times[1].tv_nsec = 0;
    return futimens((int)(INT_PTR)file, times) == 0;
}

// Memory handles are the blocks themselves; locking hands out the same address.
HGLOBAL GlobalAlloc(UINT flags, size_t bytes)
{
    return (flags & GMEM_ZEROINIT) ? calloc(1, bytes) : malloc(bytes);
}

LPVOID GlobalLock(HGLOBAL memory)
{
    return memory;
}

BOOL GlobalUnlock(HGLOBAL)
{
    return 0;   // no lock remains
}

HGLOBAL GlobalFree(HGLOBAL memory)
{
    free(memory);
    return nullptr;
}

void SetAnsiCodePage(UINT codePage)
{
    AnsiCodePage = codePage;
}

// Lead bytes of code page 932 (Shift JIS); half-width katakana (0xA1 to 0xDF) are single bytes.
static bool IsLeadByte(unsigned char byte)
{
    return AnsiCodePage == DoubleByteCodePage && ((byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC));
}

LPSTR CharNextA(LPCSTR text)
{
    if (*text == '\0')
        return (LPSTR)text;
    if (IsLeadByte((unsigned char)*text) && text[1] != '\0')
        return (LPSTR)(text + 2);
    return (LPSTR)(text + 1);
}

BOOL OemToCharA(LPCSTR source, LPSTR destination)
{
    if (source != destination)
        memmove(destination, source, strlen(source) + 1);
    return 1;
}

BOOL CharToOemA(LPCSTR source, LPSTR destination)
{
    return OemToCharA(source, destination);
}

int lstrcmpiA(LPCSTR first, LPCSTR second)
{
    int result = strcasecmp(first, second);
    return result < 0 ? -1 : result > 0 ? 1 : 0;
}

LPSTR lstrcpynA(LPSTR destination, LPCSTR source, int size)
{
    if (size <= 0)
        return destination;
    int i = 0;
    for (; i < size - 1 && source[i] != '\0'; ++i)
        destination[i] = source[i];
    destination[i] = '\0';
    return destination;
}

int wvsprintfA(LPSTR buffer, LPCSTR format, va_list arguments)
{
    int length = vsnprintf(buffer, FormatLimit, format, arguments);
    if (length < 0) {
        buffer[0] = '\0';
        return 0;
    }
    return length < FormatLimit ? length : FormatLimit - 1;
}

int wsprintfA(LPSTR buffer, LPCSTR format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    int length = wvsprintfA(buffer, format, arguments);
    va_end(arguments);
    return length;
}

int LoadStringA(HINSTANCE, UINT id, LPSTR buffer, int size)
{
    for (const StringEntry& entry : StringTable)
        if (entry.Id == id) {
            if (size <= 0)
                return 0;
            lstrcpynA(buffer, entry.Text, size);
            return (int)strlen(buffer);
        }
    if (size > 0)
        buffer[0] = '\0';
    return 0;
}

int MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type)
{
    if (CurrentBoxSink != nullptr)
        return CurrentBoxSink(owner, text, caption, type);
    fprintf(stderr, "%s\n", text);
    return IDOK;
}

LRESULT SendMessageA(HWND window, UINT msg, WPARAM wParam, LPARAM lParam)
{
    if (CurrentMessageSink != nullptr)
        return CurrentMessageSink(window, msg, wParam, lParam);
    return 0;
}

BOOL PeekMessageA(MSG*, HWND, UINT, UINT, UINT)
{
    return 0;   // no window system, no messages
}

BOOL TranslateMessage(const MSG*)
{
    return 0;
}

LRESULT DispatchMessageA(const MSG*)
{
    return 0;
}
