// The self-extractor: the one file a customer downloads, a small program with the distribution
// appended to it as a ZIP archive. It unpacks the archive with the extraction engine into a new
// folder under the user's temporary folder, runs setup.exe from there with "-argv0" and its own
// path, waits for it, and removes the folder again on every path.
#ifndef TQ_SFX_SFX_H
#define TQ_SFX_SFX_H

#include <windows.h>

// Exit codes of the self-extractor's own outcomes; when setup has run, its exit code is passed on.
constexpr int SfxExitFailed = 1;     // a message box has said why
constexpr int SfxExitCancelled = 2;  // the user cancelled the unpacking

// The whole sequence for the program file at programPath (the self-extractor's own file); the
// result is the process exit code. ModuleInstance and SetupTitle are set here.
int RunSelfExtractor(HINSTANCE instance, const char* programPath);

// The archive appended to a program file (sfx/appended_archive.cpp). It begins where the
// program's PE image ends, behind its last section and a certificate table right behind them,
// and must begin with a local file header; it ends at the certificate table of a download
// signed after bundling, or at the end of the file.
struct AppendedArchive {
    DWORD Start;  // file offset of the first local header
    DWORD Size;   // bytes from there to the certificate table or the end of the file
};
int FindAppendedArchive(const char* programPath, AppendedArchive* archive); // 1 found, 0 not
// Where the PE image of the program file ends (its sections, and a certificate table right
// behind them); 0 when the file holds no PE image. Also built
// natively, for tqpack.
DWORD GetImageEnd(const char* programPath);

// The unpack folder (sfx/unpack_folder.cpp). CreateUnpackFolder makes a new folder with an
// unpredictable name under the temporary folder, with the access of sfx/folder_access.cpp, and
// writes its path, ending in "\", into folder (PathBufferSize bytes); on failure folder holds the
// temporary folder's path, maybe empty. The folder is open in *hold from its creation on, without
// delete sharing, so that nobody can rename or delete it (and put something else in its place)
// until DeleteFolderTree closes the handle; *hold is INVALID_HANDLE_VALUE where the system cannot
// hold a folder. DeleteFolderTree removes a folder (path ending in "\") with everything below
// it; a link or junction, the folder itself or any entry below it, is removed as a link and
// what it points to stays untouched.
int CreateUnpackFolder(char* folder, HANDLE* hold);    // 1 created, 0 not
int DeleteFolderTree(const char* folder, HANDLE hold); // 1 gone, 0 something stayed

// The unpack window, template IDD_UNPACK (sfx/unpack_window.cpp).
INT_PTR CALLBACK UnpackDlgProc(HWND dialog, UINT msg, WPARAM wParam, LPARAM lParam);

#endif
