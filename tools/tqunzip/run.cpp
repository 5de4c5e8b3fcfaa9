// tqunzip's run of the extraction engine, the one file that talks to the engine's sinks.
// The plan (plan.cpp) has chosen the entries and prepared the destination; this file hands the
// engine one request, follows its file-name and progress messages (names on standard output when
// it is not a terminal, a progress bar on a terminal), and turns each engine error box into
// "tqunzip: ARCHIVE: ENTRY: reason (message N)" with the system's reason where there is one. A
// stop (INT from Ctrl-C, TERM, or HUP from a closed terminal) cancels the run at the engine's next
// progress report, at most 10240 bytes of entry data away, which deletes the file being written.
#include "tools/tqunzip/tqunzip.h"

#include "res/resource.h"
#include "base/base.h"
#include "base/posix/sink.h"
#include "unzip/unzip.h"

#include <dirent.h>
#include <errno.h>
#include <signal.h>
#include <stddef.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>


constexpr unsigned ProgressWrap = 65536;      // wParam carries the low 16 bits of the count
constexpr int64_t SecondsFrom1601To1970 = 11644473600LL;
constexpr int64_t FileTimeUnitsPerSecond = 10000000;   // FILETIME counts 100-ns units
constexpr char PasswordText[] = "INCORRECT PASSWORD";   // the engine's one text without a number

// What the run knows while the engine works.
static const Options* RunOptions;
static Plan* RunPlan;
static size_t Announced;             // WM_SETUP_FILENAME messages so far: entries begun
static int RunStatus;                // worst outcome reported during the run
static bool ShowNames;               // one line per entry on standard output
static ProgressBar Bar;              // on standard error when it is a terminal
static std::string ScratchFolder;    // test run of chosen entries: where their output vanishes
static unsigned LastUnits;           // last wParam seen, to notice the 16-bit wrap
static unsigned long long Wraps;
static int ProgressFile = -1;        // a process of tqunzip -j: its parent's progress pipe
static uint64_t ProgressSent;        // bytes last sent there
static uint64_t ProgressStride;      // bytes between sends: 1/256 of the process's share
static bool ProgressWanted;          // the parent draws a bar from the progress records
static volatile sig_atomic_t Interrupted;   // set by the first SIGINT, SIGTERM or SIGHUP

// The entry an engine message is about: the placed entry the engine handles.
static const ExtractRequest* ActiveRequest;
static size_t PlacedBase;            // the plan's index of the request's first placed entry
static bool StopRun;                 // a failure that no later entry escapes (disk full, memory)

static const PlannedEntry* EntryOfMessage(bool)
{
    size_t index = PlacedBase + (ActiveRequest != nullptr ? ActiveRequest->PlacedReached : 0);
    return index < RunPlan->Run.size() ? &RunPlan->Run[index] : nullptr;
}

// Which of the engine's texts this is: its string ID, 0 for the password text, -1 for another.
static int MessageId(const char* text)
{
    if (strcmp(text, PasswordText) == 0)
        return 0;
    for (UINT id = IDS_CANT_CREATE_OUTPUT; id <= IDS_READ_ERROR; ++id) {
        const char* format = LoadMessage(id);
        size_t fixed = strcspn(format, "%");
        if (strncmp(text, format, fixed) == 0 && (format[fixed] != '\0' || text[fixed] == '\0'))
            return (int)id;
    }
    return -1;
}

static std::string WithNumber(const std::string& reason, int id)
{
    return reason + " (message " + std::to_string(id) + ")";
}

static std::string SystemReason(int error, const char* otherwise)
{
    return error != 0 ? strerror(error) : otherwise;
}

// The order (place in the whole run) of the entry a message is about: the entry's own, else the
// one begun last, else the first of the process's share.
static size_t OrderOf(const PlannedEntry* entry)
{
    if (entry != nullptr)
        return entry->Order;
    if (Announced > 0 && Announced <= RunPlan->Run.size())
        return RunPlan->Run[Announced - 1].Order;
    return RunPlan->Run.empty() ? 0 : RunPlan->Run[0].Order;
}

// A problem of the run: reported here, or, in a process of --jobs, sent to the parent as a
// record that says which entry it is about and whether it stopped the run.
static void Tell(const PlannedEntry* entry, int status, bool stops, const std::string& reason)
{
    std::string name = entry != nullptr ? entry->Entry.Name : "";
    if (ProgressFile >= 0) {
        SendRecord(ProgressFile, stops ? RecordStop : RecordProblem, OrderOf(entry), status,
                   ReportText(RunOptions->Archive, name, reason));
    } else if (status == ExitWarning) {
        ReportWarning(RunOptions->Archive, name, reason);
    } else {
        Report(RunOptions->Archive, name, reason);
    }
}

// The engine's error box: worded with the archive and the entry, the reason and the number.
static int OnEngineMessageBox(HWND, const char* text, const char*, UINT)
{
    int error = errno;
    int id = MessageId(text);
    const PlannedEntry* entry = nullptr;
    std::string reason;
    int status = ExitDamaged;
    switch (id) {
    case 0:
        entry = EntryOfMessage(false);
        reason = "incorrect password";
        status = ExitBadPassword;
        break;
    case IDS_CANT_CREATE_OUTPUT:
        entry = EntryOfMessage(false);
        if (entry != nullptr && !entry->Target.empty())
            reason = "cannot create " + entry->Target + ": ";
        else
            reason = "cannot create the output file: ";
        reason = WithNumber(reason + SystemReason(error, "refused by the extractor"), id);
        status = error != 0 ? ExitDiskFull : ExitDamaged;
        break;
    case IDS_CANT_OPEN_INPUT:
        reason = WithNumber("cannot open: " + SystemReason(error, "path too long"), id);
        status = ExitNotFound;
        StopRun = true;
        break;
    case IDS_UNKNOWN_COMPRESSION:
        entry = EntryOfMessage(false);
        reason = WithNumber("compression method not supported", id);
        status = ExitUnsupported;
        break;
    case IDS_BAD_CRC: {
        entry = EntryOfMessage(true);
        const char* crc = strstr(text, "Bad CRC ");
        std::string crcs = crc != nullptr ? crc + 8 : "";
        size_t open = crcs.find(" (should be ");
        if (open != std::string::npos && crcs.size() > open + 12)
            crcs = crcs.substr(0, open) + ", stored " + crcs.substr(open + 12, crcs.size() - open - 13);
        reason = "computed CRC-32 " + crcs + ": the data is damaged";
        if (entry != nullptr && (entry->Entry.Flags & FlagEncrypted))
            reason += " or the password wrong";
        reason = WithNumber(reason, id);
        break;
    }
    case IDS_INVALID_HEADER:
        entry = EntryOfMessage(false);
        reason = WithNumber("damaged: no local header where the central directory places the entry", id);
        status = ExitSevere;
        break;
    case IDS_NO_MEMORY:
        reason = WithNumber("out of memory", id);
        StopRun = true;
        break;
    case IDS_DISK_FULL:
        entry = EntryOfMessage(true);
        reason = entry != nullptr && !entry->Target.empty() ? entry->Target : "the output file";
        reason = WithNumber("cannot write " + reason + ": " + SystemReason(error, "disk full"), id);
        status = ExitDiskFull;
        StopRun = true;
        break;
    case IDS_READ_ERROR:
        entry = EntryOfMessage(true);
        reason = WithNumber(
            "cannot read: " + SystemReason(error == EIO ? error : 0, "the archive ends too early"), id);
        status = ExitSevere;
        break;
    default:
        reason = text;
        break;
    }
    // Every error box ends the engine's run; the run goes on after the entry unless nothing
    // later could succeed.
    Tell(entry, status, StopRun, reason);
    RunStatus = WorseStatus(RunStatus, status);
    errno = 0;
    return IDOK;
}

static void OnInterrupt(int)
{
    Interrupted = 1;
}

// Progress of a process of --jobs, for its parent: a record after each 1/256 of its share.
static void SendProgress(uint64_t done)
{
    if (ProgressFile < 0 || !ProgressWanted || done < ProgressSent + ProgressStride)
        return;
    ProgressSent = done;
    SendRecord(ProgressFile, RecordProgress, 0, 0, std::to_string(done));
}

static void OnFileName(const char* baseName)
{
    const PlannedEntry* entry = Announced < RunPlan->Run.size() ? &RunPlan->Run[Announced] : nullptr;
    ++Announced;
    // In a test run of chosen entries the output is created in the scratch folder; its name goes
    // at once, so nothing of it stays on disk once the engine closes it.
    if (!ScratchFolder.empty() && RunOptions->Mode != RunMode::Print)
        unlink((ScratchFolder + "/" + baseName).c_str());
    if (ProgressFile < 0 && !ShowNames && Bar.Stream == nullptr)
        return;   // a quiet run: nobody reads the name
    std::string shown = entry == nullptr ? baseName : entry->Target.empty() ? entry->Entry.Name : entry->Target;
    std::string line = std::string("  ") + (RunOptions->Mode == RunMode::Test ? "testing" : "extracting") + ": " + shown;
    if (ProgressFile >= 0) {
        SendRecord(ProgressFile, RecordName, OrderOf(entry), 0, line);
    } else if (ShowNames) {
        EndProgress(Bar);
        printf("%s\n", line.c_str());
        fflush(stdout);
    }
    ShowProgress(Bar, (Wraps * ProgressWrap + LastUnits) * ProgressUnitBytes, shown);
}

// The engine's window messages to its owner. A nonzero answer to WM_SETUP_PROGRESS cancels the
// run: the tool gives it after an interrupt.
static LRESULT OnEngineWindowMessage(HWND, UINT msg, WPARAM wParam, LPARAM lParam)
{
    LRESULT answer = 0;
    if (msg == WM_SETUP_FILENAME) {
        OnFileName((const char*)lParam);
    } else if (msg == WM_SETUP_PROGRESS) {
        unsigned units = (unsigned)(wParam & 0xFFFF);
        if (units < LastUnits)
            ++Wraps;
        LastUnits = units;
        ShowProgress(Bar, (Wraps * ProgressWrap + units) * ProgressUnitBytes, Bar.LastLabel);
        SendProgress((Wraps * ProgressWrap + units) * ProgressUnitBytes);
        answer = Interrupted;
    }
    errno = 0;   // an error box that follows names the system's reason of its own failure only
    return answer;
}

static void RemoveScratchFolder(void)
{
    if (ScratchFolder.empty())
        return;
    if (DIR* folder = opendir(ScratchFolder.c_str())) {
        while (dirent* item = readdir(folder))
            if (strcmp(item->d_name, ".") != 0 && strcmp(item->d_name, "..") != 0)
                unlink((ScratchFolder + "/" + item->d_name).c_str());
        closedir(folder);
    }
    rmdir(ScratchFolder.c_str());
}

std::string ScratchPattern()
{
    const char* temporary = getenv("TMPDIR");
    return std::string(temporary != nullptr && *temporary ? temporary : "/tmp") + "/tqunzip-XXXXXX";
}

constexpr char PrintedName[] = "entry";   // -p and -c: the one file in the scratch folder

// The name an entry goes by in a test run, where nothing is written: its own where the engine
// holds it, else its end (the messages name the entry by the plan).
static std::string TestName(const std::string& name)
{
    constexpr size_t Kept = 200;
    return name.size() < Kept ? name : "..." + name.substr(name.size() - Kept);
}

// The part of an output path below the destination folder, as the plan joined them.
static std::string BelowDestination(const std::string& folder, const std::string& target)
{
    if (folder.empty())
        return target;
    return target.substr(folder.size() + (folder.back() == '/' ? 0 : 1));
}

// Copies the file at path to standard output.
static void CopyToOutput(const std::string& path)
{
    FILE* file = fopen(path.c_str(), "rb");
    if (file == nullptr)
        return;
    char buffer[65536];
    size_t got;
    while ((got = fread(buffer, 1, sizeof buffer, file)) > 0)
        fwrite(buffer, 1, got, stdout);
    fclose(file);
    fflush(stdout);
}

std::string TestAloneRefusal(const std::string& name)
{
    std::string base = EngineBaseName(name);
    if (base == "." || base.empty())
        return "its file name is a folder's";
    return OutputNameRefusal(ScratchPattern(), base);
}

int PrintEntries(const Options& options, Plan& plan)
{
    // One request per entry: the engine writes each into a scratch folder of its own, which
    // goes to standard output and is removed before the next.
    int status = plan.Status;
    for (const PlannedEntry& planned : plan.Run) {
        Plan one;
        one.EnginePath = plan.EnginePath;
        one.Run.push_back(planned);
        int ran = RunEngine(options, one, -1);
        status = WorseStatus(status, ran);
        if (ran != ExitSuccess && ran != ExitWarning)
            break;   // a failure ends the run, as it ends an extraction
    }
    return status;
}

int RunEngine(const Options& options, Plan& plan, int progressFile, bool barShown)
{
    ProgressWanted = barShown;
    RunOptions = &options;
    RunPlan = &plan;
    RunStatus = plan.Status;
    Announced = 0;
    LastUnits = 0;
    Wraps = 0;
    ProgressSent = 0;
    ScratchFolder.clear();
    ProgressFile = progressFile;
    bool worker = progressFile >= 0;
    uint64_t total = 0;
    for (const PlannedEntry& planned : plan.Run)
        total += planned.Entry.CompressedSize;
    ProgressStride = total / 256;
    // A process of tqunzip -j writes into pipes; its parent decides what reaches the user.
    bool print = options.Mode == RunMode::Print;
    ShowNames = print ? options.PrintNames : !options.Quiet && (worker || !isatty(STDOUT_FILENO));
    StartProgress(Bar, stderr, total, !worker && !print && !options.Quiet && isatty(STDERR_FILENO));
    ClearBeforeReports(&Bar);

    bool test = options.Mode == RunMode::Test || print;
    if (print) {
        std::string pattern = ScratchPattern();
        if (mkdtemp(&pattern[0]) == nullptr) {
            Report("", "", "cannot create a scratch folder: " + std::string(strerror(errno)));
            return ExitDiskFull;
        }
        ScratchFolder = pattern;
    }
    // Every entry is placed: the engine goes to its local header and takes size and CRC-32 from
    // the central directory, so streamed entries, data in front of the archive and records the
    // directory does not know cost nothing, and no name is looked up.
    std::vector<PlacedEntry> placed(plan.Run.size());
    std::vector<std::string> outputNames(plan.Run.size());
    for (size_t i = 0; i < plan.Run.size(); ++i) {
        const PlannedEntry& planned = plan.Run[i];
        outputNames[i] = print ? std::string(PrintedName)
            : test            ? TestName(planned.Entry.Name)
                              : BelowDestination(options.Destination, planned.Target);
        placed[i].HeaderOffset = (uint32_t)planned.Entry.HeaderOffset;
        placed[i].CompressedSize = (uint32_t)planned.Entry.CompressedSize;
        placed[i].Crc = planned.Entry.Crc;
        placed[i].OutputName = outputNames[i].c_str();
        // The extended timestamp's time, set by the engine instead of the MS-DOS one.
        if (planned.Entry.HasUnixTime && planned.Entry.UnixTime > -SecondsFrom1601To1970) {
            uint64_t units = (uint64_t)(planned.Entry.UnixTime + SecondsFrom1601To1970) * FileTimeUnitsPerSecond;
            placed[i].LastWrite.dwLowDateTime = (DWORD)units;
            placed[i].LastWrite.dwHighDateTime = (DWORD)(units >> 32);
        }
    }

    SetMessageBoxSink(OnEngineMessageBox);
    SetMessageSink(OnEngineWindowMessage);
    // The first stop cancels through the engine, a second one of its kind ends the process at once.
    struct sigaction action;
    memset(&action, 0, sizeof action);
    action.sa_handler = OnInterrupt;
    action.sa_flags = SA_RESETHAND | SA_RESTART;
    for (int stop : StopSignals)
        sigaction(stop, &action, nullptr);

    // A damaged entry ends the engine's run; the next run starts with the entry after it, so
    // every damaged entry is reported and the others extracted.
    std::vector<bool> failed(plan.Run.size(), false);
    StopRun = false;
    bool cancelled = false;
    for (PlacedBase = 0; PlacedBase < placed.size() && !StopRun;) {
        ExtractRequest request;
        memset(&request, 0, sizeof request);
        request.ReportCrcErrors = options.IgnoreCrc ? 0 : 1;
        request.ArchivePath = plan.EnginePath.c_str();
        request.DestFolder = print ? ScratchFolder.c_str() : test ? nullptr : options.Destination.c_str();
        request.HasPassword = options.HasPassword;
        request.Password = options.Password.c_str();
        request.Placed = &placed[PlacedBase];
        request.PlacedCount = (unsigned)(placed.size() - PlacedBase);
        LendBzip2(request);
        ActiveRequest = &request;
        Announced = PlacedBase;
        errno = 0;
        int ran = ExtractArchive(&request);
        ReleaseBzip2();
        ActiveRequest = nullptr;
        if (!ran) {
            Report(options.Archive, "", "the extraction engine is busy");
            return WorseStatus(RunStatus, ExitDamaged);
        }
        if (request.Result == AbortCancelled) {
            cancelled = true;
            break;
        }
        if (request.Result == 0)
            break;
        failed[PlacedBase + request.PlacedReached] = true;
        for (size_t i = PlacedBase + request.PlacedReached + 1; StopRun && i < placed.size(); ++i)
            failed[i] = true;
        PlacedBase += request.PlacedReached + 1;
    }
    EndProgress(Bar);
    if (print && !failed[0] && !cancelled)
        CopyToOutput(ScratchFolder + "/" + PrintedName);
    RemoveScratchFolder();
    if (cancelled) {
        if (!worker)
            Report(options.Archive, "", "interrupted; the file being written was removed");
        return WorseStatus(RunStatus, ExitInterrupted);
    }
    bool anyFailed = false;
    for (size_t i = 0; i < plan.Run.size(); ++i) {
        anyFailed = anyFailed || failed[i];
        if (!failed[i] && !print)
            RunStatus = WorseStatus(RunStatus, RestoreAttributes(options, plan.Run[i]));
    }
    if (!anyFailed && test && !print && !options.Quiet && !worker)
        ReportNoErrors(options.Archive, plan.Run.size(), plan.WholeArchive);
    return RunStatus;
}
