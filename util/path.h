// Path and file helpers. Every scan steps with CharNextA, so a double-byte character is never
// split; "\" and "/" both count as separators, and a helper that writes one writes "\".
#ifndef TQ_UTIL_PATH_H
#define TQ_UTIL_PATH_H

#include <windows.h>

char* FindNextSeparator(const char* text);
char* FindChar(const char* text, unsigned int byteValue);
char* FindLastSeparator(const char* text);
char* FindLastChar(const char* text, unsigned int byteValue);
char* LastChar(const char* text);
int IsDriveLetter(unsigned int code);
int IsSeparator(unsigned int code);
int IsDriveRoot(const char* path);                 // "C:\" or "C:/" and nothing more
void AppendBackslash(char* text);

int CreateFolderPath(char* path);                  // 0 = created; -1 = failed
int CreateFolderChain(char* path, char* lowest);   // 0 = created; -1 = failed
int ProbeFile(const char* path, WIN32_FIND_DATAA* record); // 0 = found, record filled; 1 = not
int RemoveFile(const char* path);                  // 0 = deleted; 1 = failed
int RenameFile(const char* existing, const char* newPath); // 0 = renamed; 1 = failed
int CanOpenExclusive(const char* path);            // 1 = free (or no path); 0 = busy or missing
int WaitForExclusiveAccess(const char* path, DWORD timeout);
void DispatchWaitingMessages(void);                // every pending message, untranslated
void CentreWindow(HWND window);

// Library loading (util/library.cpp). RestrictLibrarySearch comes first in a program: from then
// on no library is looked for in the program's own (download) folder where Windows allows it.
// LoadSystemLibrary loads a library by its full path in the system folder; null when it fails.
void RestrictLibrarySearch(void);
HMODULE LoadSystemLibrary(const char* name);

#endif
