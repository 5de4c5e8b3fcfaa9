// Stand-in for the main program TESSEL32.EXE, shipped in the sample payload. Started with
// "/install" (as setup starts it at the end of an installation) it records how it was started,
// so that tests can check the command line and the current folder setup gave it:
//   the file named by the environment variable TQ_INSTALL_RECORD, when set, otherwise
//   "install-record.txt" in the program's own folder, is written afresh with three lines
//     CommandLine=<the whole command line>
//     CurrentFolder=<the current folder>
//     ProgramFile=<the program's own path>
// With "/demo" on its command line, or TQ_DEMO set to anything but "0", it then shows the
// message box "Tessel has been installed." (caption "Tessel") until someone closes it.
#include <windows.h>

constexpr char RecordVariable[] = "TQ_INSTALL_RECORD";
constexpr char DemoVariable[] = "TQ_DEMO";
constexpr char RecordFileName[] = "install-record.txt";
constexpr char DemoCaption[] = "Tessel";
constexpr char DemoText[] = "Tessel has been installed.";
constexpr int TextSize = 32768;

// True when a word of the command line begins with the switch, in any letter case: setup
// passes "/install" with its flags attached ("/installS").
static bool HasSwitch(const char* commandLine, const char* name)
{
    int length = lstrlenA(name);
    for (const char* p = commandLine; *p; p++) {
        bool starts = p == commandLine || *(p - 1) == ' ' || *(p - 1) == '\t' || *(p - 1) == '"';
        int i = 0;
        while (starts && i < length && p[i] && (p[i] | 0x20) == (name[i] | 0x20))
            i++;
        if (starts && i == length)
            return true;
    }
    return false;
}

static void RecordPath(char* path, DWORD size)
{
    DWORD length = GetEnvironmentVariableA(RecordVariable, path, size);
    if (length > 0 && length < size)
        return;
    length = GetModuleFileNameA(nullptr, path, size);
    char* slash = nullptr;
    for (char* p = path; *p; p = CharNextA(p))
        if (*p == '\\' || *p == '/')
            slash = p;
    if (slash && static_cast<DWORD>(slash + 1 - path) + sizeof RecordFileName <= size)
        lstrcpyA(slash + 1, RecordFileName);
    else
        lstrcpynA(path, RecordFileName, static_cast<int>(size));
}

static void WriteLine(HANDLE file, const char* key, const char* value)
{
    DWORD written;
    WriteFile(file, key, lstrlenA(key), &written, nullptr);
    WriteFile(file, value, lstrlenA(value), &written, nullptr);
    WriteFile(file, "\r\n", 2, &written, nullptr);
}

static void RecordInstallStart(const char* commandLine)
{
    static char path[MAX_PATH];
    static char folder[TextSize];
    static char program[TextSize];
    RecordPath(path, sizeof path);
    if (GetCurrentDirectoryA(sizeof folder, folder) == 0)
        folder[0] = '\0';
    if (GetModuleFileNameA(nullptr, program, sizeof program) == 0)
        program[0] = '\0';
    HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    WriteLine(file, "CommandLine=", commandLine);
    WriteLine(file, "CurrentFolder=", folder);
    WriteLine(file, "ProgramFile=", program);
    CloseHandle(file);
}

static bool DemoRequested(const char* commandLine)
{
    char value[8];
    DWORD length = GetEnvironmentVariableA(DemoVariable, value, sizeof value);
    if (length > 0 && length < sizeof value && lstrcmpA(value, "0") != 0)
        return true;
    return HasSwitch(commandLine, "/demo");
}

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    const char* commandLine = GetCommandLineA();
    if (HasSwitch(commandLine, "/install"))
        RecordInstallStart(commandLine);
    if (DemoRequested(commandLine))
        MessageBoxA(nullptr, DemoText, DemoCaption, MB_OK | MB_ICONINFORMATION);
    return 0;
}
