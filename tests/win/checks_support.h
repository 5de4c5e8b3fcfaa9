// Test support of the environment-check groups: message boxes answered and recorded through the
// test program's own import table, the trace collected, the stand-in programs started, and
// throw-away registry keys and folders.
#ifndef TQ_TESTS_WIN_CHECKS_SUPPORT_H
#define TQ_TESTS_WIN_CHECKS_SUPPORT_H

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

// Replaces one imported function of the test program (the product code is linked into it, so
// its calls go through the same slot) for the life of the object.
class ImportPatch {
public:
    ImportPatch(const char* library, const char* function, void* replacement);
    ~ImportPatch();
    void* Original() const { return original_; }
    bool Active() const { return slot_ != nullptr; }
private:
    void** slot_;
    void* original_;
};

struct RecordedBox {
    HWND Owner;
    std::string Text;
    std::string Caption;
    UINT Type;
};

// Records every MessageBoxA call and answers it: with the answerer's result when one is set
// (it sees the box number, from 0), else with `DefaultAnswer`.
class MessageBoxRecorder {
public:
    explicit MessageBoxRecorder(int defaultAnswer = IDOK);
    ~MessageBoxRecorder();
    std::vector<RecordedBox> Boxes;
    std::function<int(size_t index, const RecordedBox& box)> Answerer;
    int DefaultAnswer;
private:
    ImportPatch patch_;
};

// Collects Trace texts.
class TraceRecorder {
public:
    TraceRecorder();
    ~TraceRecorder();
    std::vector<std::string> Texts;
    bool Contains(const std::string& text) const;
};

// Loads the module instance and SetupTitle as the program does at start-up.
void LoadSetupStrings();

// The folder of the test program, ending in a backslash.
std::string TestProgramFolder();

// A stand-in program (tqstandin.exe beside the test program) started with the given arguments.
struct StandIn {
    PROCESS_INFORMATION Process{};
    bool Start(const std::string& arguments);
    // Posts WM_CLOSE to the stand-in's window of that class and waits for the process to end.
    bool CloseWindowOfClass(const char* windowClass);
    bool WaitForExit(DWORD milliseconds);
    ~StandIn();
};

// Polls until the predicate holds or the time runs out.
bool WaitUntil(const std::function<bool()>& predicate, DWORD milliseconds);

bool KeyExists(HKEY root, const char* path);
bool ValueExists(HKEY root, const char* path, const char* name);
void CreateKey(HKEY root, const char* path);
void SetStringValue(HKEY root, const char* path, const char* name, const char* data);
void DeleteTree(HKEY root, const char* path);

// A fresh folder under the temporary folder, removed with everything in it at the end.
class ScratchFolder {
public:
    explicit ScratchFolder(const char* name);
    ~ScratchFolder();
    const std::string& Path() const { return path_; } // without a trailing backslash
    std::string Make(const std::string& relative) const;      // creates a folder, returns its path
    std::string Touch(const std::string& relative) const;     // creates an empty file
private:
    std::string path_;
};

#endif
