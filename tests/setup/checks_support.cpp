// Test support of the environment-check groups (see checks_support.h).
#include "checks_support.h"

#include "res/resource.h"
#include "setup/setup.h"

#include <shellapi.h>
#include <string.h>

static void** FindImportSlot(const char* library, const char* function)
{
    auto base = (BYTE*)GetModuleHandleA(nullptr);
    auto dos = (IMAGE_DOS_HEADER*)base;
    auto nt = (IMAGE_NT_HEADERS*)(base + dos->e_lfanew);
    IMAGE_DATA_DIRECTORY directory = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    for (auto entry = (IMAGE_IMPORT_DESCRIPTOR*)(base + directory.VirtualAddress); entry->Name != 0; ++entry) {
        if (lstrcmpiA((const char*)(base + entry->Name), library) != 0)
            continue;
        auto names = (IMAGE_THUNK_DATA*)(base + entry->OriginalFirstThunk);
        auto slots = (IMAGE_THUNK_DATA*)(base + entry->FirstThunk);
        for (; names->u1.AddressOfData != 0; ++names, ++slots) {
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal))
                continue;
            auto byName = (IMAGE_IMPORT_BY_NAME*)(base + names->u1.AddressOfData);
            if (strcmp((const char*)byName->Name, function) == 0)
                return (void**)&slots->u1.Function;
        }
    }
    return nullptr;
}

static void WriteSlot(void** slot, void* value)
{
    DWORD protection;
    VirtualProtect(slot, sizeof *slot, PAGE_READWRITE, &protection);
    *slot = value;
    VirtualProtect(slot, sizeof *slot, protection, &protection);
}

ImportPatch::ImportPatch(const char* library, const char* function, void* replacement)
    : slot_(FindImportSlot(library, function)), original_(nullptr)
{
    if (slot_ == nullptr)
        return;
    original_ = *slot_;
    WriteSlot(slot_, replacement);
}

ImportPatch::~ImportPatch()
{
    if (slot_ != nullptr)
        WriteSlot(slot_, original_);
}

static ScriptedMessageBoxes* ActiveScript;

static int WINAPI ScriptedMessageBox(HWND, LPCSTR, LPCSTR, UINT)
{
    ScriptedMessageBoxes* script = ActiveScript;
    return script->Script(script->Count++);
}

ScriptedMessageBoxes::ScriptedMessageBoxes(std::function<int(size_t index)> script)
    : Script(std::move(script)), patch_("user32.dll", "MessageBoxA", (void*)ScriptedMessageBox)
{
    ActiveScript = this;
}

static TraceRecorder* ActiveTrace;

static void CollectTrace(const char* text)
{
    if (ActiveTrace != nullptr)
        ActiveTrace->Texts.push_back(text);
}

TraceRecorder::TraceRecorder()
{
    ActiveTrace = this;
    SetTraceSink(CollectTrace);
}

TraceRecorder::~TraceRecorder()
{
    SetTraceSink(nullptr);
    ActiveTrace = nullptr;
}

bool TraceRecorder::Contains(const std::string& text) const
{
    for (const std::string& t : Texts)
        if (t == text)
            return true;
    return false;
}

void LoadSetupStrings()
{
    ModuleInstance = GetModuleHandleA(nullptr);
    LoadStringA(ModuleInstance, IDS_SETUP_TITLE, SetupTitle, sizeof SetupTitle);
}

std::string TestProgramFolder()
{
    char path[MAX_PATH];
    GetModuleFileNameA(nullptr, path, sizeof path);
    *(strrchr(path, '\\') + 1) = '\0';
    return path;
}

bool StandIn::Start(const std::string& arguments)
{
    std::string program = TestProgramFolder() + "tqstandin.exe";
    std::string line = "\"" + program + "\" " + arguments;
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    std::vector<char> buffer(line.begin(), line.end());
    buffer.push_back('\0');
    return CreateProcessA(program.c_str(), buffer.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                          &startup, &Process) != 0;
}

bool StandIn::CloseWindowOfClass(const char* windowClass)
{
    HWND window = FindWindowA(windowClass, nullptr);
    if (window != nullptr)
        PostMessageA(window, WM_CLOSE, 0, 0);
    return WaitForExit(10000);
}

bool StandIn::WaitForExit(DWORD milliseconds)
{
    return Process.hProcess == nullptr || WaitForSingleObject(Process.hProcess, milliseconds) == WAIT_OBJECT_0;
}

StandIn::~StandIn()
{
    if (Process.hProcess == nullptr)
        return;
    if (WaitForSingleObject(Process.hProcess, 0) != WAIT_OBJECT_0) {
        TerminateProcess(Process.hProcess, 1);
        WaitForSingleObject(Process.hProcess, 5000);
    }
    CloseHandle(Process.hThread);
    CloseHandle(Process.hProcess);
}

bool WaitUntil(const std::function<bool()>& predicate, DWORD milliseconds)
{
    DWORD start = GetTickCount();
    while (!predicate()) {
        if (GetTickCount() - start > milliseconds)
            return false;
        Sleep(10);
    }
    return true;
}

bool KeyExists(HKEY root, const char* path)
{
    HKEY key;
    if (RegOpenKeyExA(root, path, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

bool ValueExists(HKEY root, const char* path, const char* name)
{
    HKEY key;
    if (RegOpenKeyExA(root, path, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    bool exists = RegQueryValueExA(key, name, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
    RegCloseKey(key);
    return exists;
}

void CreateKey(HKEY root, const char* path)
{
    HKEY key;
    if (RegCreateKeyExA(root, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) == ERROR_SUCCESS)
        RegCloseKey(key);
}

void SetStringValue(HKEY root, const char* path, const char* name, const char* data)
{
    HKEY key;
    if (RegCreateKeyExA(root, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) != ERROR_SUCCESS)
        return;
    RegSetValueExA(key, name, 0, REG_SZ, (const BYTE*)data, (DWORD)strlen(data) + 1);
    RegCloseKey(key);
}

// Deletes through handles relative to the parent, so that trees deeper than the 260 characters
// that a path from the root may have under Wine are removed too. Returns true when the key went.
static bool DeleteSubtree(HKEY parent, const char* name)
{
    HKEY key;
    if (RegOpenKeyExA(parent, name, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS)
        return false;
    char child[256];
    DWORD index = 0;
    while (RegEnumKeyA(key, index, child, sizeof child) == ERROR_SUCCESS) {
        if (!DeleteSubtree(key, child))
            ++index; // step over a subkey that stays, so the loop ends
    }
    RegCloseKey(key);
    return RegDeleteKeyA(parent, name) == ERROR_SUCCESS;
}

void DeleteTree(HKEY root, const char* path)
{
    DeleteSubtree(root, path);
}

