// Local copies of the path helpers the checks call, until the shared ones are in place.
#include "util/path.h"

char* FindNextSeparator(const char* text)
{
    while (*text != '\0' && *text != '\\' && *text != '/')
        text = CharNextA(text);
    return (char*)text;
}

char* FindChar(const char* text, unsigned int byteValue)
{
    while (*text != '\0' && (unsigned char)*text != byteValue)
        text = CharNextA(text);
    return (char*)text;
}

char* FindLastSeparator(const char* text)
{
    const char* last = nullptr;
    for (; *text != '\0'; text = CharNextA(text))
        if (*text == '\\' || *text == '/')
            last = text;
    return (char*)last;
}

char* FindLastChar(const char* text, unsigned int byteValue)
{
    const char* last = nullptr;
    for (; *text != '\0'; text = CharNextA(text))
        if ((unsigned char)*text == byteValue)
            last = text;
    return (char*)last;
}

char* LastChar(const char* text)
{
    const char* last = text;
    for (; *text != '\0'; text = CharNextA(text))
        last = text;
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

void AppendBackslash(char* text)
{
    char* last = LastChar(text);
    if (!IsSeparator((unsigned char)*last)) {
        while (*text != '\0')
            ++text;
        text[0] = '\\';
        text[1] = '\0';
    }
}

int WaitForExclusiveAccess(const char* path, DWORD timeout)
{
    DWORD deadline = GetTickCount() + timeout;
    if ((LONG)(GetTickCount() - deadline) >= 0)
        return 0;
    for (;;) {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageA(&msg);
        OFSTRUCT info;
        HFILE file = OpenFile(path, &info, OF_READWRITE | OF_SHARE_EXCLUSIVE);
        if (file != HFILE_ERROR) {
            _lclose(file);
            return 1;
        }
        if ((LONG)(GetTickCount() - deadline) >= 0)
            return 0;
    }
}
