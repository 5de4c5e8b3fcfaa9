// The install-folder dialog, the progress dialog and the Meter control.
#ifndef TQ_UI_UI_H
#define TQ_UI_UI_H

#include "base/base.h"

// Meter control (ui/meter.cpp): window class "Meter".
ATOM RegisterMeterClass(HINSTANCE instance);
LRESULT CALLBACK MeterWndProc(HWND window, UINT msg, WPARAM wParam, LPARAM lParam);

// Progress dialog, template 300 (ui/progress_dialog.cpp).
INT_PTR CALLBACK ProgressDlgProc(HWND dialog, UINT msg, WPARAM wParam, LPARAM lParam);

// Install-folder dialog, template 100 (ui/install_dialog.cpp). Ends with 1 (go on),
// 1006 (cancelled or failed) or 0 (quiet exit).
INT_PTR CALLBACK InstallFolderDlgProc(HWND dialog, UINT msg, WPARAM wParam, LPARAM lParam);
// The folder browser's rule: a chosen folder whose last component begins with "Tessel" (any
// case) is kept, any other gets "\Tessel" appended. 0, with the path unchanged, when the result
// would not fit into `size` bytes.
int AppendProductFolder(char* path, int size);

#endif
