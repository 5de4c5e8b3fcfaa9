// The whole-installation test program. Without arguments (or with GoogleTest's) it runs the
// installations. The demo uses three more modes around an installation that a person clicks
// through:
//   --plant-keys         creates the sixteen shell-extension keys that setup removes
//   --watch DIR          saves a screenshot of every new dialog and message box into DIR until
//                        the file DIR\stop exists
//   --report [FOLDER]    prints what the installation left in FOLDER (by default the folder in
//                        which the stand-in main program was started), the registry, the start
//   --bench RUNS         times whole installations from the distribution folder (TQ_SETUP_DIST)
//                        and from the bundle (TQ_SETUP_BUNDLE), RUNS of each in turn, and prints
//                        the medians (bench/bundle.sh runs it; not a test)
#include "driver.h"
#include "e2e.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <stdlib.h>
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

// Under qemu-i386 a dialog may take seconds to paint.
constexpr DWORD PaintTimeoutMs = 10000;

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
    std::string caption = WindowText(window);
    char file[64];
    snprintf(file, sizeof file, "\\%d-", *state->Count + 1);
    std::string tidy;
    for (char c : caption)
        tidy += isalnum((unsigned char)c) ? c : '-';
    if (IsWindowVisible(window) && SaveScreenshotWhenPainted(window, *state->Folder + file + tidy + ".bmp", PaintTimeoutMs))
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

// One whole installation into a folder of its own, timed from the start of the first process
// until it has ended (the self-extractor ends after setup and the removal of its folder). The
// install-folder dialog is answered as soon as it shows; dialogMs receives when that was.
// Milliseconds; negative on failure.
static double TimeInstall(const E2eConfig& config, bool fromBundle, int run, double* dialogMs)
{
    const std::string downloaded = "C:\\Downloads\\tessel81.exe";
    LARGE_INTEGER frequency, start, shown, end;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    SetupProcess first, setup;
    bool started = fromBundle ? StartSetup(&first, downloaded, "", "C:\\Downloads")
                              : StartSetup(&first, config.Dist + "\\setup.exe", "-argv0 " + downloaded, config.Dist);
    if (!started || (fromBundle && !FindChildProcess(first, "setup.exe", &setup, 60000)))
        return -1;
    HWND dialog = WaitForSetupWindow(fromBundle ? setup : first, SetupWindow::InstallDialog, 60000);
    if (dialog == nullptr)
        return -1;
    QueryPerformanceCounter(&shown);
    *dialogMs = 1000.0 * (double)(shown.QuadPart - start.QuadPart) / (double)frequency.QuadPart;
    TypeText(dialog, 101, "C:\\Bench\\" + std::string(fromBundle ? "bundle-" : "folder-") + std::to_string(run));
    PressButton(dialog, IDOK);
    DWORD code = first.WaitForExit(120000);
    QueryPerformanceCounter(&end);
    if (code != 0)
        return -1;
    return 1000.0 * (double)(end.QuadPart - start.QuadPart) / (double)frequency.QuadPart;
}

static double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

static int Bench(int runs)
{
    E2eConfig config;
    if (!LoadE2eConfig(&config) || !FileExists(config.Bundle)) {
        fprintf(stderr, "TQ_SETUP_DIST and TQ_SETUP_BUNDLE must name the distribution and its bundle\n");
        return 1;
    }
    CreateDirectoryA("C:\\Downloads", nullptr);
    CreateDirectoryA("C:\\Bench", nullptr);
    if (!CopyFileA(config.Bundle.c_str(), "C:\\Downloads\\tessel81.exe", FALSE))
        return 1;
    std::vector<double> folder, bundle, folderDialog, bundleDialog;
    double dialogMs = 0;
    TimeInstall(config, false, 0, &dialogMs); // warm-up: the first start of a program under Wine is slower
    TimeInstall(config, true, 0, &dialogMs);
    for (int run = 1; run <= runs; ++run) {
        double fromFolder = TimeInstall(config, false, run, &dialogMs);
        folderDialog.push_back(dialogMs);
        double fromBundle = TimeInstall(config, true, run, &dialogMs);
        bundleDialog.push_back(dialogMs);
        if (fromFolder < 0 || fromBundle < 0) {
            fprintf(stderr, "run %d: an installation failed\n", run);
            return 1;
        }
        printf("run %d: folder %.0f ms (dialog after %.0f), bundle %.0f ms (dialog after %.0f)\n", run,
               fromFolder, folderDialog.back(), fromBundle, bundleDialog.back());
        fflush(stdout);
        folder.push_back(fromFolder);
        bundle.push_back(fromBundle);
    }
    double folderMedian = Median(folder), bundleMedian = Median(bundle);
    printf("\n| installation | median of %d (ms) | min (ms) | max (ms) | install-folder dialog after (median, ms) |\n"
           "|---|---|---|---|---|\n", runs);
    printf("| from the distribution folder | %.0f | %.0f | %.0f | %.0f |\n", folderMedian,
           *std::min_element(folder.begin(), folder.end()), *std::max_element(folder.begin(), folder.end()),
           Median(folderDialog));
    printf("| from the bundle (self-extractor) | %.0f | %.0f | %.0f | %.0f |\n", bundleMedian,
           *std::min_element(bundle.begin(), bundle.end()), *std::max_element(bundle.begin(), bundle.end()),
           Median(bundleDialog));
    double folderFastest = *std::min_element(folder.begin(), folder.end());
    double bundleFastest = *std::min_element(bundle.begin(), bundle.end());
    printf("\nThe self-extractor adds %.0f ms to the median, %.1f %% of the installation from the folder;\n"
           "to the fastest run, the one least disturbed by other work, %.0f ms, %.1f %%.\n",
           bundleMedian - folderMedian, 100.0 * (bundleMedian - folderMedian) / folderMedian,
           bundleFastest - folderFastest, 100.0 * (bundleFastest - folderFastest) / folderFastest);
    return 0;
}

int main(int argc, char** argv)
{
    if (argc == 3 && strcmp(argv[1], "--bench") == 0)
        return Bench(atoi(argv[2]));
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
