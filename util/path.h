// Path and file helpers. Every scan steps with CharNextA, so a double-byte character is never
// split; "\" and "/" both count as separators, and a helper that writes one writes "\".
#ifndef TQ_UTIL_PATH_H
#define TQ_UTIL_PATH_H

#include "base/base.h"

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
void CentreWindow(HWND window);

// Long names (util/long_name.cpp). ExpandLongName writes source with its 8.3 aliases expanded into
// output (capacity characters and the NUL); the length written, or 0 when a part is missing or
// the result does not fit. ExpandLongNameInPlace keeps the path as it is when it cannot expand it.
int ExpandLongName(const char* source, char* output, int capacity);
char* ExpandLongNameInPlace(char* path);
// 1 when both paths name the same file or folder: compared by their full long forms, with
// relative parts, "." and "..", 8.3 aliases, letter case and a trailing separator resolved.
int IsSamePath(const char* first, const char* second);

// Library loading (util/library.cpp). RestrictLibrarySearch comes first in a program: from then
// on no library is looked for in the program's own (download) folder where Windows allows it.
// LoadSystemLibrary loads a library by its full path in the system folder; null when it fails.
void RestrictLibrarySearch(void);
HMODULE LoadSystemLibrary(const char* name);

#endif
