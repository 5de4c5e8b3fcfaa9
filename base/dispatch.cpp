// Message dispatching while setup works without a modal loop: the extraction engine and the
// text-file copier call it so that the progress dialog repaints and its Cancel button answers.
#include "base/base.h"

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

// The waits for a file keep the thread's windows alive between tries; keyboard messages need no
// translation there, since no window of the waiting thread takes typing while it waits.
void DispatchWaitingMessages(void)
{
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE))
        DispatchMessageA(&msg);
}
