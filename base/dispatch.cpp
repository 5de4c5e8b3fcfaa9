// Message dispatching while setup works without a modal loop: the extraction engine and the
// text-file copier call it so that the progress dialog repaints and its Cancel button answers.
#include "ui/ui.h"

int CancelRequested;

int DispatchPendingMessages(void)
{
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    return CancelRequested;
}
