// The ground floor of every program here: the module handle and the program title, message
// texts and boxes, the message pump and the diagnostic trace. Every other folder may use it; it
// uses nothing above it.
#ifndef TQ_BASE_BASE_H
#define TQ_BASE_BASE_H

#include <windows.h>

// Paths are 8-bit ANSI texts in buffers of this size.
constexpr int PathBufferSize = 260;

// The module whose resources the program loads (strings, dialog templates, the stub resource),
// and the title of every message box (string 1021, at most 28 characters). Setup sets both at
// its start; the self-extractor fills them with its own module and its own title (base/module.cpp).
extern HINSTANCE ModuleInstance;
extern char SetupTitle[29];

// Message texts (base/messages.cpp). LoadMessage returns one of three rotating buffers.
char* LoadMessage(UINT id);
int ShowMessage(HWND owner, UINT id, UINT type, ...);

// Message dispatching during the work (base/dispatch.cpp). CancelRequested is set once the user
// has confirmed cancelling in the progress window and is never cleared.
extern int CancelRequested;
int DispatchPendingMessages(void); // translates and dispatches everything pending; returns CancelRequested
void DispatchWaitingMessages(void); // every pending message, untranslated

// Diagnostic trace (base/trace.cpp). The programs install no sink, so every text is discarded;
// tests install one to read the order of the steps.
void Trace(const char* format, ...);
typedef void (*TraceSink)(const char* text);
void SetTraceSink(TraceSink sink);

#endif
