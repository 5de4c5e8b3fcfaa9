// The operations of the setup driver: start-up and install sequence, environment checks and the
// default install folder. The state they share with the dialogs and steps is the install record
// (steps/record.h).
#ifndef TQ_SETUP_SETUP_H
#define TQ_SETUP_SETUP_H

#include "base/base.h"
#include "steps/record.h"

constexpr const char MainProgramName[] = "TESSEL32.EXE";

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
void GetAssociatedCommand(char* buffer, int size);

#endif
