// Drives a running setup.exe from another process the way a person would: finds its windows by
// class, caption and control IDs, reads their texts, presses buttons, types into the folder
// field, and takes screenshots. Also the probes of the outcome: files with their times, the
// payload archive's directory, registry keys, and the record of the stand-in main program.
#ifndef TQ_TESTS_E2E_DRIVER_H
#define TQ_TESTS_E2E_DRIVER_H

#include "files.h"
#include "shell_keys.h"

#include <windows.h>

#include <string>
#include <vector>

// The kinds of top-level window that setup shows, told apart by their controls.
enum class SetupWindow {
    InstallDialog,  // template 100: the folder field, item 101
    ProgressDialog, // template 300: the file-name line, item 104
    MessageBox,     // any other dialog of setup's process
};

struct BoxInfo {
    HWND Window = nullptr;
    HWND Owner = nullptr;
    std::string Caption;
    std::string Text;          // the message of a box; the statics joined for a dialog
    std::vector<int> Buttons;  // control IDs of the push buttons
};

struct SetupProcess {
    PROCESS_INFORMATION Info{};
    bool Running() const;
    DWORD WaitForExit(DWORD timeoutMs); // exit code, or STILL_ACTIVE after the time-out
    void Kill();
};

// Starts setup.exe with the given command tail and current folder.
bool StartSetup(SetupProcess* process, const std::string& program, const std::string& tail,
                const std::string& currentFolder);
// Waits for a process of that file name (any letter case) started by parent, and opens it as
// child; false after the time-out or when the parent has ended.
bool FindChildProcess(const SetupProcess& parent, const char* fileName, SetupProcess* child, DWORD timeoutMs);

// Waits for a visible window of that kind in the process; null after the time-out or when
// the process has ended.
HWND WaitForSetupWindow(const SetupProcess& process, SetupWindow kind, DWORD timeoutMs);
HWND FindSetupWindow(DWORD processId, SetupWindow kind);
BoxInfo ReadBox(HWND window);
std::string WindowText(HWND window);
std::string ItemText(HWND dialog, int id);
void PressButton(HWND dialog, int id);      // as a click: WM_COMMAND posted to the dialog
void TypeText(HWND dialog, int id, const std::string& text); // WM_SETTEXT to the control
int SendToItem(HWND dialog, int id, UINT msg, DWORD timeoutMs, bool* answered = nullptr);

// Saves the window's pixels as read from the screen, frame and caption included, into a 24-bit
// BMP file; SaveScreenshotWhenPainted first waits (timeoutMs at most) until the window shows
// what a painted dialog shows rather than one colour.
bool SaveScreenshot(HWND window, const std::string& path);
bool SaveScreenshotWhenPainted(HWND window, const std::string& path, DWORD timeoutMs);

// Files.
std::string UnixToWindowsPath(const char* path);  // "/a/b" -> "Z:\a\b"
bool GetFileTimes(const std::string& path, FILETIME* lastWrite, DWORDLONG* size = nullptr);
bool SetLastWriteTime(const std::string& path, const FILETIME& time);
bool CopyFolder(const std::string& from, const std::string& to); // flat copy, times kept
std::string FormatFileTime(const FILETIME& time);
bool SameTime(const FILETIME& a, const FILETIME& b);
// The self-extractor's unpack folders ("tqsfx-*") in the temporary folder, as full paths.

// The entries of a ZIP archive as its central directory lists them.
struct ZipEntryInfo {
    std::string Name;
    unsigned int Crc = 0;
    unsigned int CompressedSize = 0;
    unsigned int Size = 0;
    unsigned short DosTime = 0, DosDate = 0;
    unsigned int LocalHeaderOffset = 0;
    FILETIME Time() const;     // the stored time as the engine stamps it (local time to UTC)
    std::string BaseName() const;
};
bool ReadZipDirectory(const std::string& bytes, std::vector<ZipEntryInfo>* entries);

// Registry.
bool KeyExists(HKEY root, const std::string& path);
bool CreateKey(HKEY root, const std::string& path);
bool ReadStringValue(HKEY root, const std::string& path, const char* name, std::string* data, DWORD* size = nullptr);

#endif
