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
static volatile sig_atomic_t Interrupted;   // set by the first SIGINT, SIGTERM or SIGHUP

// The entry an engine message is about: the one begun last for messages about its data, the
// next one for messages that come before its output exists.
static const PlannedEntry* EntryOfMessage(bool begun)
{
    size_t index = begun ? Announced - 1 : Announced;
    if ((begun && Announced == 0) || index >= RunPlan->Run.size())
        return nullptr;
    return &RunPlan->Run[index];
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
        reason = WithNumber("damaged: no ZIP record where one should stand", id);
        status = ExitSevere;
        break;
    case IDS_NO_MEMORY:
        reason = WithNumber("out of memory", id);
        break;
    case IDS_DISK_FULL:
        entry = EntryOfMessage(true);
        reason = entry != nullptr && !entry->Target.empty() ? entry->Target : "the output file";
        reason = WithNumber("cannot write " + reason + ": " + SystemReason(error, "disk full"), id);
        status = ExitDiskFull;
        break;
    case IDS_READ_ERROR:
        reason = WithNumber(
            "cannot read: " + SystemReason(error == EIO ? error : 0, "the archive ends too early"), id);
        status = ExitSevere;
        break;
    default:
        reason = text;
        break;
    }
    Report(RunOptions->Archive, entry != nullptr ? entry->Entry.Name : "", reason);
    RunStatus = WorseStatus(RunStatus, status);
    errno = 0;
    return IDOK;
}

static void OnInterrupt(int)
{
    Interrupted = 1;
}

// Progress of a process of tqunzip -j, for its parent: a line at each new entry and after each
// 1/256 of its share, never split (a pipe takes a write of up to PIPE_BUF bytes whole).
static void SendProgress(uint64_t done, const std::string& label)
{
    if (ProgressFile < 0 || (label.empty() && done < ProgressSent + ProgressStride))
        return;
    ProgressSent = done;
    char line[512];
    int length = snprintf(line, sizeof line, "%llu %s\n", (unsigned long long)done, label.c_str());
    if (length >= (int)sizeof line) {
        line[sizeof line - 2] = '\n';
        length = (int)sizeof line - 1;
    }
    if (write(ProgressFile, line, (size_t)length) < 0)
        return;   // the parent is gone; the run goes on
}

static void OnFileName(const char* baseName)
{
    const PlannedEntry* entry = Announced < RunPlan->Run.size() ? &RunPlan->Run[Announced] : nullptr;
    ++Announced;
    // In a test run of chosen entries the output is created in the scratch folder; its name goes
    // at once, so nothing of it stays on disk once the engine closes it.
    if (!ScratchFolder.empty())
        unlink((ScratchFolder + "/" + baseName).c_str());
    std::string shown = entry == nullptr ? baseName : entry->Target.empty() ? entry->Entry.Name : entry->Target;
    if (ShowNames) {
        EndProgress(Bar);
        printf("  %s: %s\n", RunOptions->Mode == RunMode::Test ? "testing" : "extracting", shown.c_str());
        fflush(stdout);
    }
    ShowProgress(Bar, (Wraps * ProgressWrap + LastUnits) * ProgressUnitBytes, shown);
    SendProgress((Wraps * ProgressWrap + LastUnits) * ProgressUnitBytes, shown);
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
        SendProgress((Wraps * ProgressWrap + units) * ProgressUnitBytes, "");
        answer = Interrupted;
    }
    errno = 0;   // an error box that follows names the system's reason of its own failure only
    return answer;
}

// The request's name list: the stored names of the planned entries, each held in its node.
static NameNode* BuildNameList(const Plan& plan)
{
    NameNode* first = nullptr;
    NameNode** link = &first;
    for (const PlannedEntry& planned : plan.Run) {
        const std::string& name = planned.Entry.Name;
        NameNode* node = (NameNode*)calloc(1, offsetof(NameNode, Name) + name.size() + 1);
        if (node == nullptr) {
            fprintf(stderr, "tqunzip: out of memory\n");
            exit(ExitDamaged);
        }
        memcpy(node->Name, name.c_str(), name.size() + 1);
        *link = node;
        link = &node->Next;
    }
    return first;
}

static void FreeNameList(NameNode* node)
{
    while (node != nullptr) {
        NameNode* next = node->Next;
        free(node);
        node = next;
    }
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

int RunEngine(const Options& options, Plan& plan, int progressFile)
{
    RunOptions = &options;
    RunPlan = &plan;
    RunStatus = plan.Status;
    ProgressFile = progressFile;
    bool worker = progressFile >= 0;
    uint64_t total = 0;
    for (const PlannedEntry& planned : plan.Run)
        total += planned.Entry.CompressedSize;
    ProgressStride = total / 256;
    // A process of tqunzip -j writes into pipes; its parent decides what reaches the user.
    ShowNames = !options.Quiet && (worker || !isatty(STDOUT_FILENO));
    StartProgress(Bar, stderr, total, !worker && !options.Quiet && isatty(STDERR_FILENO));
    ClearBeforeReports(&Bar);

    bool test = options.Mode == RunMode::Test;
    bool testAll = test && plan.WholeArchive;
    if (test && !testAll) {
        const char* temporary = getenv("TMPDIR");
        std::string pattern
            = std::string(temporary != nullptr && *temporary ? temporary : "/tmp") + "/tqunzip-XXXXXX";
        if (mkdtemp(&pattern[0]) == nullptr) {
            Report("", "", "cannot create a scratch folder for the test run: " + std::string(strerror(errno)));
            return ExitDiskFull;
        }
        ScratchFolder = pattern;
        // The engine builds output paths here that a test of the whole archive never builds.
        std::vector<PlannedEntry> testable;
        for (const PlannedEntry& planned : plan.Run) {
            std::string refusal = OutputNameRefusal(ScratchFolder, EngineBaseName(planned.Entry.Name));
            if (refusal.empty()) {
                testable.push_back(planned);
            } else {
                Report(options.Archive, planned.Entry.Name, "not tested alone: " + refusal
                                                                + "; a test of the whole archive takes it");
                RunStatus = WorseStatus(RunStatus, ExitWarning);
            }
        }
        plan.Run = testable;
        if (plan.Run.empty()) {   // an empty name list would choose every entry
            RemoveScratchFolder();
            return RunStatus;
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

    ExtractRequest request;
    memset(&request, 0, sizeof request);
    request.ReportCrcErrors = options.IgnoreCrc ? 0 : 1;
    request.ArchivePath = plan.EnginePath.c_str();
    request.DestFolder = testAll ? nullptr : test ? ScratchFolder.c_str() : options.Destination.c_str();
    // The engine looks each entry up in the name list from its start; the whole archive needs
    // none, which keeps an archive of many entries from costing entries times names.
    request.NameList = plan.WholeArchive ? nullptr : BuildNameList(plan);
    request.KeepPaths = test ? 0 : options.KeepPaths;
    request.StartOffset = options.StartOffset;
    request.SkipEmpty = options.SkipEmpty;
    request.HasPassword = options.HasPassword;
    request.Password = options.Password.c_str();

    errno = 0;
    int ran = ExtractArchive(&request);
    EndProgress(Bar);
    FreeNameList(request.NameList);
    RemoveScratchFolder();
    if (!ran) {
        Report(options.Archive, "", "the extraction engine is busy");
        return WorseStatus(RunStatus, ExitDamaged);
    }
    if (request.Result == AbortCancelled) {
        if (!worker)
            Report(options.Archive, "", "interrupted; the file being written was removed");
        return WorseStatus(RunStatus, ExitInterrupted);
    }
    if (request.Result == 0 && Announced < plan.Run.size()) {
        // The walk met the end record before these entries: data in front of the archive that
        // holds records of its own, for instance.
        uint64_t first = UINT64_MAX;
        for (const ArchiveEntry& entry : plan.Entries)
            first = entry.HeaderOffset < first ? entry.HeaderOffset : first;
        std::string hint;
        if (first > (uint64_t)options.StartOffset)
            hint = " (the archive's first entry stands at byte " + std::to_string(first) + ": try --offset="
                + std::to_string(first) + ")";
        Report(options.Archive, plan.Run[Announced].Entry.Name,
            "not reached: the records end before this entry" + hint);
        return WorseStatus(RunStatus, ExitSevere);
    }
    if (request.Result == 0 && test && !options.Quiet && !worker)
        ReportNoErrors(options.Archive, plan.Run.size(), testAll);
    return RunStatus;
}
