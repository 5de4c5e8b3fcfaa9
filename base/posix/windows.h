// The part of the Win32 interface that the engine and the message helpers use, declared for
// native builds. base/posix/win32.cpp supplies the calls over POSIX; nothing else is offered,
// so a call that the Windows build would need but this file lacks fails to compile here.
#ifndef TQ_UNZIP_POSIX_WINDOWS_H
#define TQ_UNZIP_POSIX_WINDOWS_H

#include <stdarg.h>
#include <stddef.h>
#include <stdint.h>

typedef int BOOL;
typedef unsigned char BYTE;
typedef unsigned short WORD;
typedef uint32_t DWORD;
typedef unsigned int UINT;
typedef int32_t LONG;
typedef intptr_t INT_PTR;
typedef uintptr_t UINT_PTR;
typedef intptr_t LONG_PTR;
typedef UINT_PTR WPARAM;
typedef LONG_PTR LPARAM;
typedef LONG_PTR LRESULT;
typedef WORD ATOM;
typedef DWORD REGSAM;
typedef int HFILE;
typedef void* HANDLE;
typedef char* LPSTR;
typedef const char* LPCSTR;
typedef const char* LPCCH;
typedef void* LPVOID;

typedef struct HWND__* HWND;
typedef struct HINSTANCE__* HINSTANCE;
typedef HINSTANCE HMODULE;
typedef struct HCURSOR__* HCURSOR;
typedef struct HKEY__* HKEY;
typedef HANDLE HGLOBAL;
typedef INT_PTR (*FARPROC)(void);

#define WINAPI
#define CALLBACK

struct FILETIME {
    DWORD dwLowDateTime;
    DWORD dwHighDateTime;
};

struct POINT {
    LONG x;
    LONG y;
};

struct MSG {
    HWND hwnd;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    DWORD time;
    POINT pt;
};

constexpr HFILE HFILE_ERROR = -1;
constexpr int OF_READ = 0x0000;
constexpr int OF_WRITE = 0x0001;
constexpr int OF_READWRITE = 0x0002;
constexpr int OF_SHARE_DENY_WRITE = 0x0020;
constexpr int FILE_BEGIN = 0;
constexpr int FILE_CURRENT = 1;
constexpr int FILE_END = 2;

constexpr UINT MB_OK = 0x00;
constexpr UINT MB_YESNO = 0x04;
constexpr UINT MB_RETRYCANCEL = 0x05;
constexpr UINT MB_ICONERROR = 0x10;
constexpr UINT MB_ICONQUESTION = 0x20;
constexpr UINT MB_ICONINFORMATION = 0x40;
constexpr UINT MB_DEFBUTTON2 = 0x100;
constexpr UINT MB_TASKMODAL = 0x2000;
constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;
constexpr int IDRETRY = 4;
constexpr int IDYES = 6;
constexpr int IDNO = 7;

constexpr DWORD PF_XMMI64_INSTRUCTIONS_AVAILABLE = 10;   // SSE2, with the system's part of it

constexpr UINT PM_REMOVE = 0x0001;
constexpr UINT GMEM_MOVEABLE = 0x0002;
constexpr UINT GMEM_ZEROINIT = 0x0040;

// File handle calls: HFILE is a file descriptor. Paths may use "\" or "/" between names.
HFILE _lopen(LPCSTR path, int mode);
HFILE _lcreat(LPCSTR path, int attributes);
UINT _lread(HFILE file, LPVOID buffer, UINT count);
UINT _lwrite(HFILE file, LPCCH buffer, UINT count);
LONG _llseek(HFILE file, LONG offset, int origin);
HFILE _lclose(HFILE file);
BOOL DeleteFileA(LPCSTR path);

BOOL DosDateTimeToFileTime(WORD date, WORD time, FILETIME* fileTime);
BOOL LocalFileTimeToFileTime(const FILETIME* local, FILETIME* universal);
BOOL SetFileTime(HANDLE file, const FILETIME* creation, const FILETIME* lastAccess,
                 const FILETIME* lastWrite);

HGLOBAL GlobalAlloc(UINT flags, size_t bytes);
LPVOID GlobalLock(HGLOBAL memory);
BOOL GlobalUnlock(HGLOBAL memory);
HGLOBAL GlobalFree(HGLOBAL memory);

// The system: one module, kernel32.dll, whose one export is IsProcessorFeaturePresent. POSIX
// kernels save the vector registers of every process, so the answer is the processor's.
HMODULE GetModuleHandleA(LPCSTR name);
FARPROC GetProcAddress(HMODULE module, LPCSTR name);
BOOL IsProcessorFeaturePresent(DWORD feature);

// Texts.
LPSTR CharNextA(LPCSTR text);
BOOL OemToCharA(LPCSTR source, LPSTR destination);
BOOL CharToOemA(LPCSTR source, LPSTR destination);
int lstrcmpiA(LPCSTR first, LPCSTR second);
LPSTR lstrcpynA(LPSTR destination, LPCSTR source, int size);
int wsprintfA(LPSTR buffer, LPCSTR format, ...);
int wvsprintfA(LPSTR buffer, LPCSTR format, va_list arguments);
int LoadStringA(HINSTANCE instance, UINT id, LPSTR buffer, int size);

// Windows and messages: boxes and sent messages go to the sinks of base/posix/sink.h.
int MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type);
LRESULT SendMessageA(HWND window, UINT msg, WPARAM wParam, LPARAM lParam);
BOOL PeekMessageA(MSG* msg, HWND window, UINT first, UINT last, UINT remove);
BOOL TranslateMessage(const MSG* msg);
LRESULT DispatchMessageA(const MSG* msg);

#endif
