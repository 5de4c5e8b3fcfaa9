// Long names and path identity: a path with its 8.3 aliases expanded to their long forms, and
// whether two paths name the same file or folder.
#include "util/path.h"

#include <string.h>

// Length of the root part that ExpandLongName copies without looking it up: "C:\", "C:", or a
// UNC "\\server\share\" (the whole source when it names no more than server and share).
static size_t RootPartLength(const char* source)
{
    unsigned char first = (unsigned char)source[0];
    if (IsDriveLetter(first) && source[1] == ':')
        return IsSeparator((unsigned char)source[2]) ? 3 : 2;
    if (IsSeparator(first) && source[1] == source[0]) {
        char* serverEnd = FindNextSeparator(source + 2);
        if (*serverEnd == '\0')
            return strlen(source);
        char* shareEnd = FindNextSeparator(serverEnd + 1);
        if (*shareEnd == '\0')
            return strlen(source);
        return (size_t)(shareEnd - source) + 1;
    }
    return 0;
}

// "." and ".." name a folder relative to the one before them. Looking them up on Windows NT (and
// Wine) gives the name of the folder they resolve to, which would put a wrong name in their
// place, so they are kept as written once the lookup has shown that they lead somewhere.
static bool IsDotName(const char* name, size_t length)
{
    return (length == 1 && name[0] == '.') || (length == 2 && name[0] == '.' && name[1] == '.');
}

static int NotEnoughRoom(void)
{
    Trace("not enough room to expand the name");
    return 0;
}

// The output holds capacity characters and the NUL, so the caller's buffer has capacity + 1
// bytes. Every append is checked against the capacity before it is made.
int ExpandLongName(const char* source, char* output, int capacity)
{
    if (capacity < 0)
        return 0;
    memset(output, 0, (size_t)capacity);
    char work[PathBufferSize] = "";
    size_t room = (size_t)capacity;

    size_t outputLength = RootPartLength(source);
    if (outputLength > room)
        return NotEnoughRoom();
    memcpy(output, source, outputLength);
    output[outputLength] = '\0';

    WIN32_FIND_DATAA found;
    const char* component = source + outputLength;
    const char* separator = FindNextSeparator(component);
    while (*separator != '\0') {
        // The short path up to this component.
        size_t workLength = (size_t)(separator - source);
        if (workLength >= sizeof work)
            return NotEnoughRoom();
        memcpy(work, source, workLength);
        work[workLength] = '\0';

        HANDLE search = FindFirstFileA(work, &found);
        if (search == INVALID_HANDLE_VALUE)
            return 0;
        FindClose(search);
        const char* name = found.cFileName;
        size_t nameLength = strlen(name);
        if (IsDotName(component, (size_t)(separator - component))) {
            name = component;
            nameLength = (size_t)(separator - component);
        }
        if (outputLength + workLength > room || outputLength + nameLength + 1 > room)
            return NotEnoughRoom();
        memcpy(output + outputLength, name, nameLength);
        outputLength += nameLength;
        output[outputLength++] = '\\';
        output[outputLength] = '\0';

        component = separator + 1;
        separator = FindNextSeparator(component);
    }

    // The last part: a pattern is kept as written; a name is looked up for its long form, and
    // "." (the folder itself) leaves the result ending in its separator.
    const char* lastPart = component;
    if (*FindChar(component, '*') == '\0' && *FindChar(component, '?') == '\0') {
        HANDLE search = FindFirstFileA(source, &found);
        if (search == INVALID_HANDLE_VALUE)
            return 0;
        FindClose(search);
        // An empty last part (a source that is only a root, such as "\\server\share") adds
        // nothing, whatever name the lookup gives for the root.
        if (*component != '\0' && !IsDotName(component, strlen(component)))
            lastPart = found.cFileName;
        if (strcmp(lastPart, ".") == 0)
            lastPart = "";
    }
    size_t lastLength = strlen(lastPart);
    if (outputLength + lastLength > room)
        return NotEnoughRoom();
    memcpy(output + outputLength, lastPart, lastLength + 1);
    return (int)(outputLength + lastLength);
}

char* ExpandLongNameInPlace(char* path)
{
    char expanded[PathBufferSize];
    if (ExpandLongName(path, expanded, PathBufferSize - 1) != 0)
        lstrcpyA(path, expanded);
    return path;
}

// The absolute form of a path (GetFullPathNameA: the drive's current folder, "." and "..", "/"
// as "\") with its 8.3 aliases expanded where the path exists, and without a trailing
// separator unless it is a drive's root. 0 when it does not fit a path buffer.
static int FullLongForm(const char* path, char* form)
{
    char full[PathBufferSize];
    DWORD length = GetFullPathNameA(path, sizeof full, full, nullptr);
    if (length == 0 || length >= sizeof full)
        return 0;
    char* last = LastChar(full);
    if (IsSeparator((unsigned char)*last) && !IsDriveRoot(full))
        *last = '\0';
    // A path that does not exist (yet) has no aliases to expand: its full form is its long form.
    if (ExpandLongName(full, form, PathBufferSize - 1) == 0)
        lstrcpyA(form, full);
    return 1;
}

int IsSamePath(const char* first, const char* second)
{
    char firstForm[PathBufferSize];
    char secondForm[PathBufferSize];
    if (!FullLongForm(first, firstForm) || !FullLongForm(second, secondForm))
        return lstrcmpiA(first, second) == 0;
    return lstrcmpiA(firstForm, secondForm) == 0;
}
