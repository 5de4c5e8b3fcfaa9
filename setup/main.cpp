// Program entry: hardens the library search, takes the command tail after the program's own
// name and runs the install sequence, whose result is the exit code.
#include "setup/setup.h"
#include "util/path.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int showState)
{
    RestrictLibrarySearch();
    return RunSetup(instance, nullptr, SkipProgramName(GetCommandLineA()), showState);
}
