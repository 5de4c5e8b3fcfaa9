// Test-only stand-ins for helpers that other branches provide (the path and file helpers); removed once those land.
#include "steps/steps.h"
#include "util/path.h"

char* LastChar(const char* text)
{
    const char* last = text;
    for (const char* p = text; *p != '\0'; p = CharNextA(p))
        last = p;
    return (char*)last;
}

int ProbeFile(const char* path, WIN32_FIND_DATAA* record)
{
    HANDLE search = FindFirstFileA(path, record);
    if (search == INVALID_HANDLE_VALUE)
        return 1;
    FindClose(search);
    return 0;
}

int CanOpenExclusive(const char* path)
{
    if (path == nullptr || path[0] == '\0')
        return 1;
    HFILE file = _lopen(path, OF_READWRITE | OF_SHARE_EXCLUSIVE);
    if (file == HFILE_ERROR)
        return 0;
    _lclose(file);
    return 1;
}
