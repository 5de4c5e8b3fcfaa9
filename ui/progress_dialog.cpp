// The modeless progress dialog: the name of the file being written, the Meter and a Cancel
// button. The dialog stops nothing itself; a confirmed Cancel sets CancelRequested, which the
// extraction engine and the text-file copier poll while they dispatch messages.
#include "ui/ui.h"

#include "res/resource.h"
#include "steps/record.h"
#include "steps/steps.h"
#include "unzip/unzip.h"
#include "util/path.h"

// Meter positions count units of this many bytes, the same unit as the extraction engine's
// progress reports.

static INT_PTR ProgressOnInitDialog(HWND dialog)
{
    SetWindowTextA(dialog, SetupTitle);
    CentreWindow(dialog);
    return TRUE;
}

static INT_PTR ProgressOnShowWindow(HWND dialog, BOOL shown)
{
    if (shown) {
        EnableWindow(GetDlgItem(dialog, IDCANCEL), TRUE);
        SetDlgItemTextA(dialog, IDC_FILENAME_TEXT, "");
    }
    return FALSE;
}

// Cancel (and OK, which the template lacks but Enter produces) asks first; only a Yes disables
// the button for good and raises the flag.
static INT_PTR ProgressOnCommand(HWND dialog, WPARAM command)
{
    if (command != IDOK && command != IDCANCEL)
        return TRUE;
    if (ShowMessage(dialog, IDS_CONFIRM_CANCEL, MB_YESNO | MB_ICONQUESTION) == IDYES) {
        EnableWindow(GetDlgItem(dialog, IDCANCEL), FALSE);
        CancelRequested = 1;
    }
    return TRUE;
}

static INT_PTR ProgressOnFileName(HWND dialog, const char* name)
{
    SetDlgItemTextA(dialog, IDC_FILENAME_TEXT, name);
    return TRUE;
}

// The engine reports its own count; the bytes of text files copied so far are added so that
// one Meter shows both.
static INT_PTR ProgressOnProgress(HWND dialog, WPARAM extractedUnits)
{
    WPARAM position = extractedUnits + CopiedBytes / ProgressUnitBytes;
    SendDlgItemMessageA(dialog, IDC_METER, MTR_SETPOS, position, 0);
    return CancelRequested;
}

INT_PTR CALLBACK ProgressDlgProc(HWND dialog, UINT msg, WPARAM wParam, LPARAM lParam)
{
    switch (msg) {
    case WM_INITDIALOG:
        return ProgressOnInitDialog(dialog);
    case WM_SHOWWINDOW:
        return ProgressOnShowWindow(dialog, (BOOL)wParam);
    case WM_COMMAND:
        return ProgressOnCommand(dialog, wParam);
    case WM_SETUP_FILENAME:
        return ProgressOnFileName(dialog, (const char*)lParam);
    case WM_SETUP_PROGRESS:
        return ProgressOnProgress(dialog, wParam);
    default:
        return FALSE;
    }
}
