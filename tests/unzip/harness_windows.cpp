// The Windows half of the engine test harness: a hidden owner window records the progress
// messages, and the test support's recorder takes and answers the message boxes.
#ifdef _WIN32
#include "harness.h"

#include "setup/setup.h"
#include "tests/support/win_test.h"

#include <stdio.h>
#include <string.h>
#include <algorithm>

static MessageBoxRecorder* Recorder;
static HWND Owner;

const std::vector<EngineBox>& Boxes()
{
    static std::vector<EngineBox> boxes;
    boxes.clear();
    if (Recorder != nullptr)
        for (const RecordedBox& box : Recorder->Boxes())
            boxes.push_back({box.owner, box.text, box.defaultCaption, box.type});
    return boxes;
}

void ClearBoxes()
{
    if (Recorder != nullptr)
        Recorder->Clear();
}

void ReleaseEngineSeams()
{
    delete Recorder;
    Recorder = nullptr;
}

static LRESULT CALLBACK OwnerWndProc(HWND window, UINT msg, WPARAM wParam, LPARAM lParam)
{
    if (msg >= WM_USER)
        return RecordMessage(msg, wParam, lParam);
    return DefWindowProcA(window, msg, wParam, lParam);
}

void InstallEngineSeams()
{
    ModuleInstance = GetModuleHandleA(nullptr);
    if (Recorder == nullptr)
        Recorder = new MessageBoxRecorder;
    ClearRecords();
}

HWND TestOwnerWindow()
{
    if (Owner == nullptr) {
        WNDCLASSA windowClass = {};
        windowClass.lpfnWndProc = OwnerWndProc;
        windowClass.hInstance = GetModuleHandleA(nullptr);
        windowClass.lpszClassName = "EngineTestOwner";
        RegisterClassA(&windowClass);
        Owner = CreateWindowA("EngineTestOwner", "engine tests", WS_OVERLAPPEDWINDOW, 0, 0, 200,
                              100, nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
    }
    return Owner;
}

std::string MakeScratchFolder()
{
    static int counter;
    char base[MAX_PATH];
    GetTempPathA(sizeof base, base);
    for (;;) {
        char folder[MAX_PATH];
        snprintf(folder, sizeof folder, "%stqengine-%lu-%d", base, GetCurrentProcessId(), ++counter);
        if (CreateDirectoryA(folder, nullptr))
            return folder;
    }
}

void RemoveScratchFolder(const std::string& folder)
{
    RemoveFolderTree(folder);
}

std::string JoinPath(const std::string& folder, const std::string& name)
{
    return folder + "\\" + name;
}

bool MakeFolder(const std::string& path)
{
    return CreateDirectoryA(path.c_str(), nullptr) != 0;
}

// FILETIME counts 100-ns units from 1601.
long long FileModificationTime(const std::string& path)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data))
        return -1;
    unsigned long long units = (unsigned long long)data.ftLastWriteTime.dwHighDateTime << 32
        | data.ftLastWriteTime.dwLowDateTime;
    return (long long)(units / 10000000ULL) - 11644473600LL;
}
#endif
