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

void GetAssociatedCommand(char* buffer, int size)
{
    LONG room = size;
    if (RegQueryValueA(HKEY_CLASSES_ROOT, OpenCommandKey, buffer, &room) == ERROR_SUCCESS) {
        buffer[size - 1] = '\0';
        return;
    }
    GetProfileStringA(ProfileExtensions, ProfileArchiveKey, "", buffer, size);
}
