// The install sequence. Only its start is in place so far: caption, common controls and cursor.
#include "setup/setup.h"

#include "res/resource.h"

#include <commctrl.h>

int RunSetup(HINSTANCE instance, HINSTANCE, char*, int)
{
    ModuleInstance = instance;
    Trace("Setup has been started");
    InitCommonControls();
    LoadStringA(ModuleInstance, IDS_SETUP_TITLE, SetupTitle, sizeof SetupTitle);
    CurrentCursor = LoadCursorA(nullptr, (LPCSTR)IDC_ARROW);
    SetCursor(CurrentCursor);
    return 0;
}
