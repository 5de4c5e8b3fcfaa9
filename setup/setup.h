// Shared state of the install sequence and the operations of the setup driver: start-up and
// install sequence, environment checks, default install folder, and the diagnostic trace.
#ifndef TQ_SETUP_SETUP_H
#define TQ_SETUP_SETUP_H

#include <windows.h>

// Paths are 8-bit ANSI texts in buffers of this size.
constexpr int PathBufferSize = 260;

// Module-level state of the sequence, alive for the whole process (defined in setup/state.cpp).
extern HINSTANCE ModuleInstance;        // loads strings, dialog templates and the stub resource
extern char SetupTitle[29];             // string 1021, at most 28 characters
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

constexpr const char MainProgramName[] = "TESSEL32.EXE";

// How long setup waits for another program to let go of a file, in milliseconds (defined in
// setup/waits.cpp). The test programs link a build of that file with TQ_SHORT_WAITS, whose waits
// are shorter; setup.exe, and so every whole installation, waits the real times.
extern const DWORD HelpFileWait;            // an earlier installation's help file
extern const DWORD ExtensionReleaseTimeout; // the File Manager extension's library
extern const DWORD FirstLibraryWait;        // the old shell-extension libraries, at first
extern const DWORD LibraryWaitStep;         // then LibraryWaitSteps waits of this, a star each
constexpr int LibraryWaitSteps = 15;

// Command tail (setup/command_line.cpp): the command line after the program name and the
// characters of code 1 to 32 that follow it; points into line.
char* SkipProgramName(char* line);

// Install sequence (setup/run_setup.cpp). RunSetup always returns 0, the process exit code.
int RunSetup(HINSTANCE instance, HINSTANCE previous, char* commandTail, int showState);
int ExtractSetupArchive(HWND owner);
int ReplaceMainProgram(HWND owner, const char* folder, const char* fileName);
// The text after "-argv0" in the command tail, at most 259 characters; empty when absent.
void ParseOriginPath(const char* commandTail, char* originPath);
// The command line that starts the main program: by its quoted full path, or (fallback) by its
// name relative to the current folder. The buffer holds the longest folder and origin path.
constexpr int LaunchCommandSize = 2 * (PathBufferSize - 1) + 31;
void BuildLaunchCommand(char* commandLine, int fallback);
// Makes InstallPath the current folder and starts the main program by the first command line,
// then, should the platform refuse that, by the fallback. 1 when one of the starts succeeded.
int LaunchMainProgram(void);

// Environment checks (setup/checks.cpp).
int CheckWindowsVersion(HWND owner);
int HasLimitedAccess(void);
int CanOpenKey(HKEY root, const char* path, REGSAM rights);
int CanWriteUnderKey(HKEY root, const char* path, const char* child);
int WaitForMainProgramToClose(void);
void CloseSnapdeck(void);
HWND GetSnapdeckWindow(void);
int UnloadFileManagerExtension(void);

// Default install folder (setup/default_folder.cpp).
void ProposeInstallFolder(void);
int GetProgramFilesDir(char* buffer);
int No16BitCopy(const char* folder);
void GetAssociatedCommand(char* buffer, int size);
int ExpandLongName(const char* source, char* output, int capacity);
char* ExpandLongNameInPlace(char* path);
// 1 when both paths name the same file or folder: compared by their full long forms, with
// relative parts, "." and "..", 8.3 aliases, letter case and a trailing separator resolved.
int IsSamePath(const char* first, const char* second);

// Diagnostic trace (setup/trace.cpp). The program itself installs no sink, so every text is
// discarded; tests install one to read the order of the steps.
void Trace(const char* format, ...);
typedef void (*TraceSink)(const char* text);
void SetTraceSink(TraceSink sink);

#endif
