// The install record: the folders and times of one installation and the flags the steps share.
// The install sequence (setup/) and its dialogs (ui/) fill it in; the steps read it. Alive for
// the whole process (steps/record.cpp).
#ifndef TQ_STEPS_RECORD_H
#define TQ_STEPS_RECORD_H

#include "base/base.h"

extern char SourceFolder[PathBufferSize];   // folder of setup.exe, ends in a backslash
extern char InstallFolder[PathBufferSize];  // chosen folder, ends in a backslash
extern char InstallPath[PathBufferSize];    // the same without the trailing backslash
extern char ProposedFolder[PathBufferSize]; // the dialog's proposal, initially "C:\Tessel"
extern char OriginPath[PathBufferSize];     // text after "-argv0", at most 259 characters
extern FILETIME SetupTimestamp;         // last-write time of setup.exe
extern FILETIME PayloadTimestamp;       // last-write time of the extracted "tessel32.ex_"
extern unsigned int InstallSizeKB;      // bytes while the dialog totals them, then KiB
extern HWND ProgressDialog;             // the modeless progress dialog, or null
extern HCURSOR CurrentCursor;           // arrow, or the wait cursor during the progress phase

// How long setup waits for another program to let go of a file, in milliseconds (defined in
// steps/waits.cpp). The test programs link a build of that file with TQ_SHORT_WAITS, whose waits
// are shorter; setup.exe, and so every whole installation, waits the real times.
extern const DWORD HelpFileWait;            // an earlier installation's help file
extern const DWORD ExtensionReleaseTimeout; // the File Manager extension's library
extern const DWORD FirstLibraryWait;        // the old shell-extension libraries, at first
extern const DWORD LibraryWaitStep;         // then LibraryWaitSteps waits of this, a star each
constexpr int LibraryWaitSteps = 15;

// 1 when the folder holds no copy of the old 16-bit program (or the folder is empty or too long
// to hold one); 0 when it does (steps/record.cpp).
int No16BitCopy(const char* folder);

#endif
