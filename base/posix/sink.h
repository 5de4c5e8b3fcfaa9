// Where the native build's message boxes and sent window messages go. tqunzip leaves the
// defaults (boxes to the standard error stream, answered with IDOK; messages answered with 0);
// tests install sinks that record and answer.
#ifndef TQ_UNZIP_POSIX_SINK_H
#define TQ_UNZIP_POSIX_SINK_H

#include <windows.h>

typedef int (*MessageBoxSink)(HWND owner, const char* text, const char* caption, UINT type);
typedef LRESULT (*MessageSink)(HWND window, UINT msg, WPARAM wParam, LPARAM lParam);

void SetMessageBoxSink(MessageBoxSink sink);   // null: the default
void SetMessageSink(MessageSink sink);         // null: the default

// Makes _lwrite behave like a full disk once this many bytes have been written in all; a
// negative limit lifts it.
void SetWriteLimit(long long bytes);

// The ANSI code page that CharNextA follows: 932 makes it step over Shift JIS double-byte
// characters as Windows does there; any other value (1252 at start) steps single bytes.
void SetAnsiCodePage(UINT codePage);

// Makes GetProcAddress find no export of this name, as on a system older than the call; null
// finds every export again.
void SetMissingExport(const char* name);

#endif
