// tqunzip: the setup program's extraction engine as a command-line tool that behaves the way
// unzip users expect. The tool reads the archive's central directory first, decides which
// entries run and where they land (names, wildcards, overwrite policy, folders), then hands
// the engine one request and words its outcome.
#ifndef TQ_TOOLS_TQUNZIP_H
#define TQ_TOOLS_TQUNZIP_H

#include "tools/common/archive.h"
#include "tools/common/cli.h"

#include <signal.h>

#include <string>
#include <vector>

// Exit statuses besides ExitSuccess and ExitUsage (tools/common/cli.h), after unzip's documented
// meanings where one fits.
constexpr int ExitWarning = 1;        // entries skipped, no entries, or stopped before overwriting
constexpr int ExitDamaged = 2;        // a damaged or refused entry
constexpr int ExitSevere = 3;         // the archive's structure is damaged
constexpr int ExitNotFound = 9;       // no such archive, or not a ZIP archive
constexpr int ExitNoMatch = 11;       // a NAME matched no entry
constexpr int ExitDiskFull = 50;      // an output file could not be created or written
constexpr int ExitInterrupted = 80;   // stopped by one of StopSignals; partial files removed
constexpr int ExitUnsupported = 81;   // compression method, encryption or streamed entry
constexpr int ExitBadPassword = 82;

// The signals that stop a run, all the same way: Ctrl-C, kill or timeout, a closed terminal.
constexpr int StopSignals[] = {SIGINT, SIGTERM, SIGHUP};

enum class RunMode { Extract, Test, List };
enum class OverwritePolicy {
    Stop,        // an existing file or two entries on one name stop the run before it writes
    Overwrite,   // -o
    Never,       // -n: such entries are skipped
};

struct Options {
    RunMode Mode = RunMode::Extract;
    std::string Archive;
    std::vector<std::string> Names;    // NAMEs (patterns) in command-line order
    std::string Destination;           // empty: the current folder
    bool HasDestination = false;
    bool HasPassword = false;
    std::string Password;
    bool KeepPaths = false;
    bool SkipEmpty = false;
    bool IgnoreCrc = false;
    bool Quiet = false;
    bool Verbose = false;
    OverwritePolicy Policy = OverwritePolicy::Stop;
    int StartOffset = 0;
    int Jobs = 1;                      // -j: processes that share the entries
};
constexpr int MaxJobs = 64;


// ---- status.cpp: outcomes, the leaf every other file reports through ----
// The worse of two exit statuses: the one a run that met both reports.
int WorseStatus(int a, int b);
// Reports a problem as "tqunzip: ARCHIVE: ENTRY: reason" (archive or entry left out when empty)
// on standard error, clearing the progress line of the bar given to ClearBeforeReports first.
void Report(const std::string& archive, const std::string& entry, const std::string& reason);
void ClearBeforeReports(ProgressBar* bar);
// The closing line of a test run that found no error, of the whole archive or of some entries.
void ReportNoErrors(const std::string& archive, size_t entries, bool wholeArchive);

// ---- main.cpp ----
// Fills options from the command line. Returns -1 when the run goes on, otherwise the exit
// status: 0 after --help or --version, ExitUsage after a usage error (already reported).
int ParseCommandLine(int argc, char** argv, Options& options);


// ---- plan.cpp ----
// One entry the engine is to decode, in the order the engine meets them (local header order).
struct PlannedEntry {
    ArchiveEntry Entry;      // as the central directory describes it, Name from the local header
    std::string Target;      // output path ("/" separators); empty in a test run
};

struct Plan {
    std::string EnginePath;               // the archive path as handed to the engine
    std::vector<ArchiveEntry> Entries;    // every entry, central directory order
    std::vector<PlannedEntry> Run;        // what the engine decodes, in file order
    bool WholeArchive = false;            // Run is every entry the engine decodes without a name list
    int Status = ExitSuccess;                  // worst outcome found while planning
};

// Finds the archive (as given, then with .zip and .ZIP), reads its directory, selects the
// entries, applies the overwrite policy and creates the folders. Returns -1 when the engine
// is to run, otherwise the exit status (the reasons are reported).
int MakePlan(const Options& options, Plan& plan);

// The engine's BaseName: the text after the last separator that stands after the first character.
std::string EngineBaseName(const std::string& name);

// ---- run.cpp: the only file that talks to the engine ----
// Runs the engine over the plan; returns the exit status. A process of tqunzip -j runs its
// share with progressFile, where its progress goes as lines "BYTES NAME" for its parent to sum
// (no bar of its own, no closing summary); -1 otherwise.
int RunEngine(const Options& options, Plan& plan, int progressFile);

// ---- parallel.cpp: uses run.cpp in each process ----
// tqunzip -j: options.Jobs processes share the plan's entries (parallel.cpp).
int RunInParallel(const Options& options, const Plan& plan);

// tqunzip -l (plan.cpp).
int ListEntries(const Options& options);

#endif
