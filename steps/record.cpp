// The module-level state that the install sequence shares with the dialogs and steps.
#include "setup/setup.h"

HINSTANCE ModuleInstance;
char SetupTitle[29];
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
