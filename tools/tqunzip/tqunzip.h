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

enum class RunMode {
    Extract,
    Test,
    List,
    Print,   // -p and -c: the entries' data to standard output, nothing written to disk
};
enum class OverwritePolicy {
    Stop,        // an existing file or two entries on one name stop the run before it writes
    Overwrite,   // -o
    Never,       // -n: such entries are skipped
};

struct Options {
    RunMode Mode = RunMode::Extract;
    std::string Archive;
    std::vector<std::string> Names;        // NAMEs (patterns) in command-line order
    std::vector<std::string> Exclusions;   // -x NAMEs: entries they match are left out
    std::string Destination;               // empty: the current folder
    bool HasDestination = false;
    bool HasPassword = false;
    std::string Password;
    bool KeepPaths = true;                 // -j clears it: every entry in the destination itself
    bool IgnoreCase = false;               // -C: NAMEs and -x match without regard to letter case
    bool SkipEmpty = false;
    bool IgnoreCrc = false;
    int Quiet = 0;                         // -q 1, -qq 2: warnings too are left out
    bool Verbose = false;
    bool PrintNames = false;               // -c: a line naming each entry before its data
    OverwritePolicy Policy = OverwritePolicy::Stop;
    int StartOffset = 0;
    int Jobs = 1;                          // --jobs: processes that share the entries
};
constexpr int MaxJobs = 64;


// ---- status.cpp: outcomes, the leaf every other file reports through ----
// The worse of two exit statuses: the one a run that met both reports.
int WorseStatus(int a, int b);
// Reports a problem as "tqunzip: ARCHIVE: ENTRY: reason" (archive or entry left out when empty)
// on standard error, clearing the progress line of the bar given to ClearBeforeReports first.
void Report(const std::string& archive, const std::string& entry, const std::string& reason);
// The same line as text, without its line break.
std::string ReportText(const std::string& archive, const std::string& entry, const std::string& reason);
// Reports a warning (an entry skipped or replaced) unless -qq asked for none.
void ReportWarning(const std::string& archive, const std::string& entry, const std::string& reason);
void ShowWarnings(bool shown);
void ClearBeforeReports(ProgressBar* bar);
// The closing line of a test run that found no error, of the whole archive or of some entries.
void ReportNoErrors(const std::string& archive, size_t entries, bool wholeArchive);

// A process of --jobs tells its parent everything through one pipe, a record a line:
// "KIND ORDER STATUS TEXT", where ORDER is the place in the whole run of the entry the record is
// about. A record is written whole (one write of at most PIPE_BUF bytes); a line break in the
// text becomes "?".
enum RecordKind : char {
    RecordProgress = 'p',   // TEXT: bytes of entry data read so far
    RecordName = 'n',       // TEXT: the line naming an entry begun
    RecordProblem = 'w',    // TEXT: a report that did not stop the run
    RecordStop = 's',       // TEXT: a report of what ended the run
};
void SendRecord(int file, RecordKind kind, size_t order, int status, const std::string& text);

// ---- entries.cpp: single entries, a leaf like status.cpp ----
// A compression method's name: "deflated", "bzip2", "AES encryption", "method 77".
std::string MethodDescription(uint16_t method);
// Why the engine cannot decode entry (method and flags as its local header gives them), with
// the exit status that reason carries; empty when it can.
std::string EntryRefusal(const ArchiveEntry& entry, uint16_t localMethod, uint16_t localFlags, int& status);

// ---- main.cpp ----
// Fills options from the command line. Returns -1 when the run goes on, otherwise the exit
// status: 0 after --help or --version, ExitUsage after a usage error (already reported).
int ParseCommandLine(int argc, char** argv, Options& options);


// ---- plan.cpp ----
// One entry the engine is to decode, in the order the engine meets them (local header order).
struct PlannedEntry {
    ArchiveEntry Entry;      // as the central directory describes it, Name from the local header
    std::string Target;      // output path ("/" separators); empty in a test run
    size_t Order = 0;        // its place in the whole run, which a process of --jobs reports
    bool Replaces = false;   // a file stood at Target before the run (-o)
    bool Fresh = false;      // the engine creates the file at Target: none stood there, no
                             // earlier entry of the run writes it
};

struct Plan {
    std::string EnginePath;               // the archive path as handed to the engine
    std::vector<ArchiveEntry> Entries;    // every entry, central directory order
    std::vector<PlannedEntry> Run;        // what the engine decodes, in file order
    bool WholeArchive = false;            // Run is every entry the engine decodes without a name list
    int Status = ExitSuccess;                  // worst outcome found while planning
    bool FoldsCase = false;               // the destination's file system ignores letter case
};

// Finds the archive (as given, then with .zip and .ZIP), reads its directory, selects the
// entries, applies the overwrite policy and creates the folders. Returns -1 when the engine
// is to run, otherwise the exit status (the reasons are reported).
int MakePlan(const Options& options, Plan& plan);

// The file an output path names, as the system resolves it: "." components and repeated
// separators gone, letter case folded when foldCase is set. Entries whose keys are equal write
// one file.
std::string LandingKey(const std::string& target, bool foldCase);

// A stored name as the engine's name list compares it: "\\" as "/", letter case folded.
std::string FoldedName(const std::string& name);

// Whether a test of chosen entries can decode this entry alone: the scratch file the engine
// would create for it has a name it can create (empty when it can, else why not).
std::string TestAloneRefusal(const std::string& name);

// The engine's BaseName: the text after the last separator that stands after the first character.
std::string EngineBaseName(const std::string& name);

// ---- run.cpp: the only file that talks to the engine ----
// Where a test of chosen entries puts its scratch folder: a mkdtemp pattern below TMPDIR.
std::string ScratchPattern();

// Runs the engine over the plan; returns the exit status. A process of tqunzip --jobs runs its
// share with progressFile, where it sends its records for its parent (no bar of its own, no
// closing summary; progress records only when barShown, the parent drawing a bar); -1 otherwise.
int RunEngine(const Options& options, Plan& plan, int progressFile, bool barShown = false);

// tqunzip -p and -c: each planned entry's data to standard output, in archive order.
int PrintEntries(const Options& options, Plan& plan);

// After the engine has written an entry: its permission bits restored (entries made on Unix;
// the extended timestamp the engine sets itself); a symbolic link is reported as written as a
// file. Returns the exit status it adds (a warning for a link).
struct PlannedEntry;
int RestoreAttributes(const Options& options, const PlannedEntry& planned);

// ---- bzip2.cpp: method 12 for the engine, a leaf ----
// Sets the request's decoder for bzip2 entries; ReleaseBzip2 frees what a run that ended inside
// the decoder left (call it after every ExtractArchive of such a request).
struct ExtractRequest;
void LendBzip2(ExtractRequest& request);
void ReleaseBzip2(void);

// ---- parallel.cpp: uses run.cpp in each process ----
// tqunzip --jobs: options.Jobs processes share the plan's entries where that pays, else this
// process runs them (parallel.cpp).
int RunInParallel(const Options& options, Plan& plan);

// tqunzip -l (plan.cpp).
int ListEntries(const Options& options);

#endif
