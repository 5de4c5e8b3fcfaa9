// The install record: what the install sequence, its dialogs and its steps share.
#include "steps/record.h"

#include "util/path.h"

#include <string.h>

constexpr const char SixteenBitProgram[] = "tessel.exe";

char SourceFolder[PathBufferSize];
char InstallFolder[PathBufferSize];
char InstallPath[PathBufferSize];
char ProposedFolder[PathBufferSize] = "C:\\Tessel";
char OriginPath[PathBufferSize];
FILETIME SetupTimestamp;
FILETIME PayloadTimestamp;
unsigned int InstallSizeKB;
HWND ProgressDialog;
HCURSOR CurrentCursor;

// The old 16-bit program in a folder makes it a poor install folder: the proposal avoids it and
// the dialog asks before it installs there.
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
