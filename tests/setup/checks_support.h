// Test support of the environment-check groups, beside the shared support/win_test.h: imported
// functions replaced for a test, message boxes answered by script, the trace collected, the stand-in programs started, and
// throw-away registry keys and folders.
#ifndef TQ_TESTS_WIN_CHECKS_SUPPORT_H
#define TQ_TESTS_WIN_CHECKS_SUPPORT_H

#include <windows.h>

#include "tests/support/win_test.h"

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

// Answers MessageBoxA calls without showing a box, below the shared recorder (which still
// records each call): the script sees the number of the box, from 0, and returns the button.
class ScriptedMessageBoxes {
public:
    explicit ScriptedMessageBoxes(std::function<int(size_t index)> script);
    std::function<int(size_t index)> Script;
    size_t Count = 0;
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


#endif
