// Program entry of the self-extractor: hardens the library search before anything else (the
// program runs from the download folder), finds its own full path and runs the sequence.
#include "base/base.h"
#include "sfx/sfx.h"
#include "util/path.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int)
{
    RestrictLibrarySearch();
    char programPath[PathBufferSize];
    DWORD length = GetModuleFileNameA(nullptr, programPath, sizeof programPath);
    if (length == 0 || length >= sizeof programPath)
        programPath[0] = '\0'; // a cut path names another file: reported as holding no archive
    return RunSelfExtractor(instance, programPath);
}
