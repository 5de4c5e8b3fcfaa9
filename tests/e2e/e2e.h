// What the whole-installation tests share beyond window driving: where the distribution and
// the outputs are, what the stand-in main program recorded, the variants of the distribution,
// the stand-in window of a running main program, and the spy on the Meter's settings.
#ifndef TQ_TESTS_E2E_E2E_H
#define TQ_TESTS_E2E_E2E_H

#include <windows.h>

#include <string>
#include <vector>

struct E2eConfig {
    std::string Dist;        // the sample distribution made by tqpack (read only)
    std::string Bundle;      // the same bundled with the self-extractor (read only)
    bool BundleSigned = false; // the bundle carries a signature (TQ_BUNDLE_SIGNED=1)
    std::string Screenshots; // folder for the screenshots, created when missing
    std::string LaunchLog;   // where the stand-in main program records its starts
    std::string SpyLibrary;  // the Meter spy's library, next to the test program
};
bool LoadE2eConfig(E2eConfig* config);

// One start of the stand-in main program.
struct LaunchRecord {
    std::string CommandLine;   // its command line as the system gave it
    std::string CurrentFolder; // its current folder at start
};
std::vector<LaunchRecord> ReadLaunchRecords(const E2eConfig& config);

// Distribution variants, made on a copy.
extern const char BigPayloadName[];
bool AddBigEntry(const std::string& archivePath); // BigPayloadName, last in the archive
bool AddStoredEntry(const std::string& archivePath, const std::string& name, const std::string& data);
bool DamageFirstEntryCrc(const std::string& archivePath, std::string* entryName);
bool RenamePayloadEntry(const std::string& archivePath, const char* from, const char* to);

// A top-level window of the main program's class "Tessel2WClass" in this process.
HWND CreateMainProgramWindow(void);

// Records every MTR_SETRANGE and MTR_SETPOS that a Meter control receives in any process of
// the desktop, through a global WH_CALLWNDPROC hook whose library the system loads into them.
struct MeterTrace {
    unsigned int Range = 0;               // the last range set
    std::vector<unsigned int> Positions;  // the positions set after it, in order
    bool ZeroBeforeRange = false;         // position 0 was set just before that range
};
class MeterSpy {
public:
    bool Start(const E2eConfig& config);
    MeterTrace Stop();
    ~MeterSpy();

private:
    HMODULE Library = nullptr;
    HHOOK Hook = nullptr;
};

// Prints what an installation left behind: the folder's files with their times, the state of
// the shell-extension keys and of "shlExt", the starts of the main program, the Meter.
void PrintInstallReport(const E2eConfig& config, const std::string& installFolder, const MeterTrace* meter);

#endif
