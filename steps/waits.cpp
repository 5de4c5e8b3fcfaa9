// The waits for other programs declared in steps/record.h, in milliseconds. setup.exe is built with the
// real times. The test programs link a build with TQ_SHORT_WAITS: the tests that run into a wait
// check its steps and its outcome, not its length, and one whole installation under the real
// setup.exe still sits through the full library wait. The File Manager's wait stays long enough
// for another process to answer a posted message on a loaded machine.
#include "steps/record.h"

#ifdef TQ_SHORT_WAITS
const DWORD HelpFileWait = 50;
const DWORD ExtensionReleaseTimeout = 1000;
const DWORD FirstLibraryWait = 25;
const DWORD LibraryWaitStep = 50;
#else
const DWORD HelpFileWait = 250;
const DWORD ExtensionReleaseTimeout = 2000;
const DWORD FirstLibraryWait = 500;
const DWORD LibraryWaitStep = 1000;
#endif
