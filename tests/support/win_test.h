// Support for the Windows tests (run under Wine): a recorder that answers message boxes, a
// scratch folder and a throw-away registry key. Link with tqtestsupport.
//
// MessageBoxRecorder. While one exists, every MessageBoxA call of the test process is recorded
// and answered:
//  - The flags, owner, caption and text exactly as the caller passed them come from a thin seam:
//    test executables are linked with -Wl,--wrap=__imp_MessageBoxA (see tests/CMakeLists.txt),
//    so calls to MessageBoxA go through a recording function here, which notes the arguments and
//    then calls the real MessageBoxA. Message-box flags do not survive in the box's window (a
//    task-modal box looks like any other), which is why they are taken at the call.
//  - A WH_CBT hook on the current thread sees the box window being activated (class "#32770")
//    while such a call is in progress; it reads the caption as shown (the platform's default
//    caption when the caller passed none), the text of the box's static control 0xFFFF and the
//    IDs of the buttons shown, and then presses the button taken from the front of the answer
//    queue by posting the box a WM_COMMAND for that ID.
//  - With no answer queued, the box is answered with IDOK, or IDCANCEL, or IDNO, whichever it
//    has first. An answer that the box does not offer is a test failure; the fallback is pressed.
// Only one recorder may exist at a time. Without one, MessageBoxA behaves as usual and would
// wait for a user, so every test that can show a box holds a recorder.
#ifndef TQ_TESTS_SUPPORT_WIN_TEST_H
#define TQ_TESTS_SUPPORT_WIN_TEST_H

#include "files.h"

#include <windows.h>

#include <deque>
#include <string>
#include <vector>

struct RecordedBox {
    HWND owner;               // as passed
    bool defaultCaption;      // the caller passed no caption
    std::string caption;      // as passed; as shown when the caller passed none
    std::string text;         // as passed
    std::string shownText;    // as the box's static text control shows it
    UINT type;                // MB_* flags as passed
    std::vector<int> buttons; // IDs of the buttons the box showed, in ID order
    int result;               // what MessageBoxA returned
};

class MessageBoxRecorder {
public:
    MessageBoxRecorder();
    ~MessageBoxRecorder();
    MessageBoxRecorder(const MessageBoxRecorder&) = delete;
    MessageBoxRecorder& operator=(const MessageBoxRecorder&) = delete;

    // Queues the button (IDOK, IDCANCEL, IDRETRY, IDYES, IDNO, ...) that answers the next box.
    void Answer(int id);
    const std::vector<RecordedBox>& Boxes() const { return boxes; }
    size_t UnusedAnswers() const { return answers.size(); }
    void Clear();

    // Used by the seam and the hook.
    std::vector<RecordedBox> boxes;
    std::deque<int> answers;
    HHOOK hook;
};

// A fresh empty folder under the temporary folder, removed with its whole content at the end.
class ScratchFolder {
public:
    ScratchFolder();
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    const std::string& Path() const { return path; } // ends in "\"
    std::string File(const std::string& name) const { return path + name; }

private:
    std::string path;
};

// Removes a folder and everything below it, read-only files included. Returns true when done.
bool RemoveFolderTree(const std::string& folder);

// A throw-away registry key "Software\TesselTests\<unique>" below root, deleted with its subkeys
// at the end. Groups that write the registry are registered with FRESH_PREFIX as well.
class ScratchRegistryKey {
public:
    explicit ScratchRegistryKey(HKEY root = HKEY_CURRENT_USER);
    ~ScratchRegistryKey();
    ScratchRegistryKey(const ScratchRegistryKey&) = delete;
    ScratchRegistryKey& operator=(const ScratchRegistryKey&) = delete;

    HKEY Root() const { return root; }
    HKEY Key() const { return key; }           // open with all access
    const std::string& Path() const { return path; } // below Root()

private:
    HKEY root;
    HKEY key;
    std::string path;
};

// Deletes a registry key with all its subkeys. Returns true when the key is gone.
bool DeleteRegistryTree(HKEY root, const std::string& path);

#endif
