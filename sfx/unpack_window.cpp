// The self-extractor's window while the archive is unpacked: the name of the file being
// written, the Meter and a Cancel button. It has no thread and no loop of its own: the engine
// sends it WM_SETUP_FILENAME before each entry and WM_SETUP_PROGRESS as it reads, and dispatches
// the pending messages at each report, which is when a click on Cancel arrives. Cancel needs no
// confirmation: nothing has been installed yet, and the engine removes the file it was writing.
#include "base/base.h"
#include "sfx/sfx.h"

#include "res/resource.h"
#include "ui/ui.h"
#include "util/path.h"

static INT_PTR UnpackOnInitDialog(HWND dialog)
{
    SetWindowTextA(dialog, SetupTitle);
    CentreWindow(dialog);
    return TRUE;
}

// Cancel, Escape and the close box all arrive as IDCANCEL.
static INT_PTR UnpackOnCommand(HWND dialog, WPARAM command)
{
    if (LOWORD(command) != IDCANCEL)
        return TRUE;
    EnableWindow(GetDlgItem(dialog, IDCANCEL), FALSE);
    CancelRequested = 1;
    return TRUE;
}

static INT_PTR UnpackOnFileName(HWND dialog, const char* name)
{
    SetDlgItemTextA(dialog, IDC_FILENAME_TEXT, name);
    return TRUE;
}

// The engine's count of 10240-byte units read goes straight to the Meter; the answer tells the
// engine whether to stop.
static INT_PTR UnpackOnProgress(HWND dialog, WPARAM units)
{
    SendDlgItemMessageA(dialog, IDC_METER, MTR_SETPOS, units, 0);
    SetWindowLongPtrA(dialog, DWLP_MSGRESULT, CancelRequested);
    return TRUE;
}

INT_PTR CALLBACK UnpackDlgProc(HWND dialog, UINT msg, WPARAM wParam, LPARAM lParam)
{
    switch (msg) {
    case WM_INITDIALOG:
        return UnpackOnInitDialog(dialog);
    case WM_COMMAND:
        return UnpackOnCommand(dialog, wParam);
    case WM_SETUP_FILENAME:
        return UnpackOnFileName(dialog, (const char*)lParam);
    case WM_SETUP_PROGRESS:
        return UnpackOnProgress(dialog, wParam);
    default:
        return FALSE;
    }
}
