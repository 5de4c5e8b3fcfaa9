// The whole-installation test program. Without arguments (or with GoogleTest's) it runs the
// installations. The demo uses three more modes around an installation that a person clicks
// through:
//   --plant-keys         creates the sixteen shell-extension keys that setup removes
//   --watch DIR          saves a screenshot of every new dialog and message box into DIR until
//                        the file DIR\stop exists
//   --report [FOLDER]    prints what the installation left in FOLDER (by default the folder in
//                        which the stand-in main program was started), the registry, the start
#include "driver.h"
#include "e2e.h"

#include <gtest/gtest.h>

#include <set>
#include <stdio.h>
#include <string.h>

static int PlantKeys(void)
{
    int planted = 0;
    for (const char* path : ShellExtensionKeys)
        planted += CreateKey(HKEY_CLASSES_ROOT, std::string(path) + "\\InprocServer32") ? 1 : 0;
    printf("Planted %d of 16 shell-extension keys of an earlier installation under HKEY_CLASSES_ROOT\n", planted);
    return planted == 16 ? 0 : 1;
}

struct WatchState {
    std::set<HWND>* Seen;
    const std::string* Folder;
    int* Count;
};

static BOOL CALLBACK WatchProc(HWND window, LPARAM context)
{
    auto* state = (WatchState*)context;
    char name[16] = "";
    GetClassNameA(window, name, sizeof name);
    if (strcmp(name, "#32770") != 0 || !IsWindowVisible(window) || state->Seen->count(window))
        return TRUE;
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    if (process == GetCurrentProcessId())
        return TRUE;
    state->Seen->insert(window);
    Sleep(250); // let it paint, frame and caption included
    std::string caption = WindowText(window);
    char file[64];
    snprintf(file, sizeof file, "\\%d-", *state->Count + 1);
    std::string tidy;
    for (char c : caption)
        tidy += isalnum((unsigned char)c) ? c : '-';
    if (IsWindowVisible(window) && SaveScreenshot(window, *state->Folder + file + tidy + ".bmp"))
        ++*state->Count;
    return TRUE;
}

static int Watch(const std::string& folder)
{
    CreateDirectoryA(folder.c_str(), nullptr);
    std::set<HWND> seen;
    int count = 0;
    WatchState state{&seen, &folder, &count};
    while (!FileExists(folder + "\\stop")) {
        EnumWindows(WatchProc, (LPARAM)&state);
        Sleep(50);
    }
    DeleteFileA((folder + "\\stop").c_str());
    return 0;
}

int main(int argc, char** argv)
{
    if (argc >= 2 && strcmp(argv[1], "--report") == 0) {
        E2eConfig config;
        LoadE2eConfig(&config);
        std::string folder = argc >= 3 ? argv[2] : "";
        if (folder.empty()) {
            std::vector<LaunchRecord> launches = ReadLaunchRecords(config);
            folder = launches.empty() ? "C:\\Program Files\\Tessel" : launches[0].CurrentFolder;
        }
        if (folder.back() != '\\')
            folder += '\\';
        PrintInstallReport(config, folder, nullptr);
        return 0;
    }
    if (argc == 2 && strcmp(argv[1], "--plant-keys") == 0)
        return PlantKeys();
    if (argc == 3 && strcmp(argv[1], "--watch") == 0)
        return Watch(argv[2]);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
