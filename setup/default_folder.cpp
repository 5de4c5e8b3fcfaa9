// The install folder that setup proposes: the folder of an existing installation when the
// program registered for the product's archives is the product, else the system's program-files
// folder with "\Tessel", else "C:\Tessel". A folder that holds the old 16-bit "tessel.exe" is
// avoided, and the proposal is turned into its long form, since registered commands often carry
// short (8.3) folder names.
#include "setup/setup.h"

#include "util/path.h"

#include <string.h>

constexpr const char DefaultProposal[] = "C:\\Tessel";
constexpr const char ProductFolderName[] = "\\Tessel";
constexpr const char NewFolderSuffix[] = "32";
constexpr const char SixteenBitProgram[] = "tessel.exe";
constexpr const char ProgramPrefix[] = "tessel";
constexpr int ProgramPrefixLength = 6;

constexpr const char CurrentVersionKey[] = "Software\\Microsoft\\Windows\\CurrentVersion";
constexpr const char ProgramFilesValue[] = "ProgramFilesDir";
constexpr DWORD ProgramFilesRoom = 200; // bytes offered: at most 199 characters and the NUL

constexpr const char OpenCommandKey[] = "Tessel\\shell\\open\\command";
// The "extensions" section of the Windows profile keys its entries by the extension without
// the dot ("zip=C:\TESSEL\TESSEL.EXE ^.zip"), so that is the key that can name the program.
constexpr const char ProfileExtensions[] = "extensions";
constexpr const char ProfileArchiveKey[] = "zip";
constexpr int CommandBufferSize = 300;

// Appends a text to the path in a buffer of PathBufferSize bytes; refuses (and leaves the path
// unchanged) when the result would not fit.
static int AppendToPath(char* path, const char* tail)
{
    size_t length = strlen(path);
    size_t tailLength = strlen(tail);
    if (length + tailLength >= (size_t)PathBufferSize)
        return 0;
    memcpy(path + length, tail, tailLength + 1);
    return 1;
}

// Ends the text after its first `count` characters (double-byte characters count as one).
static void KeepFirstCharacters(char* text, int count)
{
    char* end = text;
    for (int i = 0; i < count && *end != '\0'; ++i)
        end = CharNextA(end);
    *end = '\0';
}

void ProposeInstallFolder(void)
{
    lstrcpyA(ProposedFolder, DefaultProposal);
    if (GetProgramFilesDir(ProposedFolder))
        AppendToPath(ProposedFolder, ProductFolderName);
    Trace("Will suggest %s unless it contains a 16-bit version of Tessel", ProposedFolder);
    if (No16BitCopy(ProposedFolder) == 0)
        AppendToPath(ProposedFolder, NewFolderSuffix);

    Trace("See if we have an existing association");
    char command[CommandBufferSize];
    GetAssociatedCommand(command, sizeof command);
    if (command[0] == '\0')
        return;

    // Drop the argument part. A command without arguments whose program path holds a blank is
    // cut inside the path and then not recognised.
    char* blank = FindLastChar(command, ' ');
    if (blank != nullptr)
        *blank = '\0';
    char* separator = FindLastSeparator(command);
    if (separator == nullptr)
        return;
    char* name = separator + 1;
    KeepFirstCharacters(name, ProgramPrefixLength);
    if (lstrcmpiA(name, ProgramPrefix) != 0)
        return;
    Trace("Found Tessel as the associated .zip program");

    *separator = '\0';
    if (No16BitCopy(command) == 1) {
        const char* folder = command[0] == '"' ? command + 1 : command;
        // A folder too long for the proposal is not taken rather than taken cut short.
        if (strlen(folder) < (size_t)PathBufferSize)
            lstrcpyA(ProposedFolder, folder);
        Trace("Will Suggest %s as the install folder now", ProposedFolder);
    }

    Trace("Getting longname of install folder");
    ExpandLongNameInPlace(ProposedFolder);
    Trace("Longname is %s", ProposedFolder);
}

int GetProgramFilesDir(char* buffer)
{
    HKEY key = nullptr;
    if (RegOpenKeyA(HKEY_LOCAL_MACHINE, CurrentVersionKey, &key) != ERROR_SUCCESS) {
        Trace("Failed to get registry key to Windows CurrentVersion");
        return 0;
    }
    char value[PathBufferSize];
    DWORD size = ProgramFilesRoom;
    int result = 0;
    // The type is not looked at; a value stored without its NUL is ended after its last byte.
    if (RegQueryValueExA(key, ProgramFilesValue, nullptr, nullptr, (BYTE*)value, &size) == ERROR_SUCCESS
        && size <= ProgramFilesRoom) {
        value[size] = '\0';
        lstrcpyA(buffer, value);
        result = 1;
    }
    RegCloseKey(key);
    return result;
}

int No16BitCopy(const char* folder)
{
    if (folder[0] == '\0')
        return 1;
    // "\tessel.exe" must fit behind the folder; a folder too long for that cannot hold the file
    // under a path the find call accepts.
    if (strlen(folder) + 1 + strlen(SixteenBitProgram) >= (size_t)PathBufferSize)
        return 1;
    char path[PathBufferSize];
    lstrcpyA(path, folder);
    AppendBackslash(path);
    lstrcatA(path, SixteenBitProgram);
    Trace("Checking for a 16 bit Tessel file in %s", path);

    WIN32_FIND_DATAA found;
    return ProbeFile(path, &found) == 0 ? 0 : 1;
}

void GetAssociatedCommand(char* buffer, int size)
{
    LONG room = size;
    if (RegQueryValueA(HKEY_CLASSES_ROOT, OpenCommandKey, buffer, &room) == ERROR_SUCCESS) {
        buffer[size - 1] = '\0';
        return;
    }
    GetProfileStringA(ProfileExtensions, ProfileArchiveKey, "", buffer, size);
}

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
