// tqunzip --jobs N: the planned entries are split into shares of about equal work and each share
// is extracted by a process of its own, with an engine of its own (the engine serves one request
// at a time): each process is given the entries of its share. Shares follow output files:
// every entry that lands on one file goes to one process, in archive order. The processes tell
// what they do as records (tqunzip.h) that say which entry they are about; this process shows
// them in archive order, one entry after the other, so the user reads what one process would
// say. The first report in that order that ended its process's run ends the whole run there:
// the others are stopped, what they said about later entries is dropped and the files they
// wrote for later entries are removed (a file that stood there before, under -o, stays
// replaced). Warnings never stop anything. Small work runs in this one process (WorthSharing).
#include "tools/tqunzip/tqunzip.h"

#include <errno.h>
#include <poll.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <map>
#include <set>

// Work of an entry in bytes of stored output: the output is written and passed through the
// CRC; inflating costs about as much again per output byte, and decryption, one chain of
// dependent steps per byte, about seven times as much per compressed byte. Every entry also
// costs the creation of its file, worth some 32 KiB, which the shares are balanced by too.
constexpr uint64_t EntryCost = 32768;
constexpr uint64_t DecryptionFactor = 7;

// When sharing pays. Processes save time on the data they decode side by side; the files they
// create save little (the file system serialises creations in one folder), and every entry
// costs a process of a share a record to this one and this one a wake-up, about what one
// process spends on a small file in all. Starting the processes and merging what they say
// costs some milliseconds more, which the data of some 20 ms of work in one process no more
// than repays. So a run is shared only when its data work (DataCost) comes to SmallWork bytes
// and to SmallEntryWork bytes per entry on average: the 64 MiB of a program distribution in
// 300 files is shared, 10,000 source files of 1 KB are not, whatever their total.
constexpr uint64_t SmallWork = 32u << 20;
constexpr uint64_t SmallEntryWork = 128u << 10;

enum Stream { Output, Errors, Progress, StreamCount };

struct Worker {
    pid_t Pid = -1;
    int Pipe[StreamCount] = {-1, -1, -1};   // read ends, -1 once closed
    std::string Partial[StreamCount];       // what came after the last line break
    uint64_t Share = 0;                     // bytes of entry data in its share
    uint64_t Done = 0;                      // bytes read, as its last progress line said
    int Status = ExitSuccess;
    bool Stopped = false;                   // stopped here after another process failed
    bool Ended = false;                     // its pipes have closed and it was waited for
    size_t Begun = 0;                       // 1 + the last order it has reported about, 0 before
};

static volatile sig_atomic_t Interrupted;   // one of StopSignals reached this process

static void OnInterrupt(int)
{
    Interrupted = 1;
}

static uint64_t DataCost(const ArchiveEntry& entry)
{
    uint64_t cost = entry.UncompressedSize;
    if (entry.Method == MethodDeflated)
        cost += entry.UncompressedSize;
    if (entry.Flags & FlagEncrypted)
        cost += DecryptionFactor * entry.CompressedSize;
    return cost;
}

static uint64_t CostOf(const ArchiveEntry& entry)
{
    return EntryCost + DataCost(entry);
}

// Whether shares of processes finish the run sooner than this one alone (see SmallWork).
static bool WorthSharing(const Plan& plan)
{
    uint64_t work = 0;
    for (const PlannedEntry& planned : plan.Run)
        work += DataCost(planned.Entry);
    return work >= SmallWork && work / plan.Run.size() >= SmallEntryWork;
}

static size_t Root(std::vector<size_t>& parent, size_t i)
{
    while (parent[i] != i)
        i = parent[i] = parent[parent[i]];
    return i;
}

// Entries that must go to one share: those on one output file (LandingKey, letter case folded
// whatever the file system does, which only joins more). Groups go, largest first, to the share
// with the least work so far; each share keeps the archive's order.
static std::vector<std::vector<PlannedEntry>> Split(const std::vector<PlannedEntry>& run, int shares)
{
    std::vector<size_t> parent(run.size());
    std::map<std::string, size_t> firstOfKey;
    for (size_t i = 0; i < run.size(); ++i) {
        parent[i] = i;
        if (run[i].Target.empty())
            continue;   // a test run has no output files
        auto found = firstOfKey.emplace(LandingKey(run[i].Target, true), i);
        if (!found.second)
            parent[Root(parent, i)] = Root(parent, found.first->second);
    }
    std::map<size_t, size_t> groupOfRoot;
    std::vector<std::vector<size_t>> groups;
    std::vector<uint64_t> groupCost;
    for (size_t i = 0; i < run.size(); ++i) {
        auto found = groupOfRoot.emplace(Root(parent, i), groups.size());
        if (found.second) {
            groups.emplace_back();
            groupCost.push_back(0);
        }
        groups[found.first->second].push_back(i);
        groupCost[found.first->second] += CostOf(run[i].Entry);
    }
    std::vector<size_t> order(groups.size());
    for (size_t g = 0; g < order.size(); ++g)
        order[g] = g;
    std::stable_sort(order.begin(), order.end(),
                     [&](size_t a, size_t b) { return groupCost[a] > groupCost[b]; });
    std::vector<uint64_t> load((size_t)shares, 0);
    std::vector<std::vector<size_t>> chosen((size_t)shares);
    for (size_t g : order) {
        size_t least = (size_t)(std::min_element(load.begin(), load.end()) - load.begin());
        load[least] += groupCost[g];
        chosen[least].insert(chosen[least].end(), groups[g].begin(), groups[g].end());
    }
    std::vector<std::vector<PlannedEntry>> result;
    for (std::vector<size_t>& indexes : chosen) {
        if (indexes.empty())
            continue;
        std::sort(indexes.begin(), indexes.end());
        result.emplace_back();
        for (size_t i : indexes)
            result.back().push_back(run[i]);
    }
    return result;
}

// Starts a process for one share; its standard output and error and its progress go into pipes.
// It runs in a process group of its own, so that only this process, not the terminal, decides
// when it is interrupted (a second interrupt would end it at once, leaving a partial file).
static bool StartWorker(const Options& options, const Plan& plan, std::vector<PlannedEntry>& share,
                        std::vector<Worker>& workers, Worker& worker)
{
    int ends[StreamCount][2];
    for (int s = 0; s < StreamCount; ++s)
        if (pipe(ends[s]) != 0) {
            for (int k = 0; k < s; ++k) {
                close(ends[k][0]);
                close(ends[k][1]);
            }
            return false;
        }
    fflush(stdout);
    fflush(stderr);
    pid_t pid = fork();
    if (pid < 0) {
        for (auto& end : ends) {
            close(end[0]);
            close(end[1]);
        }
        return false;
    }
    if (pid == 0) {
        // Progress records wake this process up; they are sent only for a bar to draw.
        bool barShown = !options.Quiet && isatty(STDERR_FILENO);
        // Until the engine's run sets its own handlers, a stop simply ends the process: it has
        // written nothing yet.
        for (int stop : StopSignals)
            signal(stop, SIG_DFL);
        setpgid(0, 0);
        for (Worker& other : workers)
            for (int fd : other.Pipe)
                if (fd >= 0)
                    close(fd);
        dup2(ends[Output][1], STDOUT_FILENO);
        dup2(ends[Errors][1], STDERR_FILENO);
        for (auto& end : ends) {
            close(end[0]);
            if (end[1] != ends[Progress][1])
                close(end[1]);
        }
        Plan part;
        part.EnginePath = plan.EnginePath;
        part.Run.swap(share);
        int status = RunEngine(options, part, ends[Progress][1], barShown);
        fflush(stdout);
        fflush(stderr);
        _exit(status);
    }
    setpgid(pid, pid);   // also here: a signal sent before the child ran must find its group
    worker.Pid = pid;
    for (const PlannedEntry& planned : share)
        worker.Share += planned.Entry.CompressedSize;
    for (int s = 0; s < StreamCount; ++s) {
        close(ends[s][1]);
        worker.Pipe[s] = ends[s][0];
    }
    return true;
}

static void Stop(Worker& worker)
{
    if (worker.Pid > 0)
        kill(worker.Pid, SIGTERM);
}

// One record of a process, kept until its entry's turn to be shown.
struct Record {
    RecordKind Kind;
    int Status;
    std::string Text;
};

// The merged view: the records in archive order, one progress bar over all processes.
struct Merge {
    bool ShowNames = false;   // standard output is no terminal and not quiet: name lines pass
    ProgressBar Bar;
    std::string Label;        // the entry named last by any process
    std::map<size_t, std::vector<Record>> Waiting;   // by order
    std::vector<size_t> Owner;                        // order -> the worker with that entry
    size_t Next = 0;          // the first order not shown yet
    size_t Cut = SIZE_MAX;    // the order whose report ended the run, if any
    int Status = ExitSuccess; // the worst status of what was shown
    std::set<size_t> Begun;   // orders whose entry a process began
};

static void ShowSum(Merge& merge, const std::vector<Worker>& workers)
{
    uint64_t done = 0;
    for (const Worker& each : workers)
        done += each.Done;
    ShowProgress(merge.Bar, done, merge.Label);
}

static void StopAll(std::vector<Worker>& workers)
{
    for (Worker& other : workers)
        if (other.Pid > 0 && !other.Stopped && !other.Ended) {
            other.Stopped = true;
            Stop(other);
        }
}

// Shows the records of every entry whose process has gone past it, in order, up to the report
// that ended the run.
static void ShowReady(const Options& options, Merge& merge, std::vector<Worker>& workers)
{
    while (merge.Next < merge.Owner.size() && merge.Cut == SIZE_MAX) {
        const Worker& owner = workers[merge.Owner[merge.Next]];
        if (!owner.Ended && owner.Begun <= merge.Next + 1)
            return;   // still at work on it, or not there yet
        auto found = merge.Waiting.find(merge.Next);
        if (found != merge.Waiting.end()) {
            for (const Record& record : found->second) {
                if (record.Kind == RecordName) {
                    if (merge.ShowNames) {
                        EndProgress(merge.Bar);
                        printf("%s\n", record.Text.c_str());
                        fflush(stdout);
                    }
                    continue;
                }
                EndProgress(merge.Bar);
                fflush(stdout);
                if (record.Kind == RecordStop || record.Status != ExitWarning || options.Quiet < 2)
                    fprintf(stderr, "%s\n", record.Text.c_str());
                fflush(stderr);
                merge.Status = WorseStatus(merge.Status, record.Status);
                if (record.Kind == RecordStop) {
                    merge.Cut = merge.Next;
                    break;
                }
            }
            merge.Waiting.erase(found);
        }
        if (merge.Cut != SIZE_MAX) {
            StopAll(workers);
            return;
        }
        ++merge.Next;
    }
}

static void TakeLine(const Options& options, Merge& merge, std::vector<Worker>& workers, Worker& worker,
                     Stream stream, const std::string& line)
{
    if (stream != Progress) {
        // Not a record: passed on as it comes.
        EndProgress(merge.Bar);
        fflush(stdout);
        fprintf(stream == Output ? stdout : stderr, "%s\n", line.c_str());
        fflush(stream == Output ? stdout : stderr);
        return;
    }
    char kind = 0;
    unsigned long long order = 0;
    int status = 0, used = 0;
    if (sscanf(line.c_str(), "%c %llu %d%n", &kind, &order, &status, &used) < 3 || used == 0
        || (size_t)used >= line.size())
        return;
    std::string text = line.substr((size_t)used + 1);   // behind the blank after STATUS
    if (kind == RecordProgress) {
        worker.Done = strtoull(text.c_str(), nullptr, 10);
        ShowSum(merge, workers);
        return;
    }
    if (order >= merge.Owner.size())
        return;
    worker.Begun = std::max(worker.Begun, (size_t)order + 1);
    if (kind == RecordName) {
        merge.Begun.insert((size_t)order);
        size_t colon = text.find(": ");
        merge.Label = colon == std::string::npos ? text : text.substr(colon + 2);
        ShowSum(merge, workers);
    }
    if (merge.Cut == SIZE_MAX || order <= merge.Cut)
        merge.Waiting[(size_t)order].push_back(Record{(RecordKind)kind, status, text});
    ShowReady(options, merge, workers);
}

// Reads what a pipe has; false at its end.
static bool ReadPipe(const Options& options, Merge& merge, std::vector<Worker>& workers, Worker& worker,
                     Stream stream)
{
    char buffer[4096];
    ssize_t got = read(worker.Pipe[stream], buffer, sizeof buffer);
    if (got < 0 && errno == EINTR)
        return true;
    if (got <= 0) {
        if (!worker.Partial[stream].empty())
            TakeLine(options, merge, workers, worker, stream, worker.Partial[stream]);
        worker.Partial[stream].clear();
        close(worker.Pipe[stream]);
        worker.Pipe[stream] = -1;
        return false;
    }
    std::string& partial = worker.Partial[stream];
    partial.append(buffer, (size_t)got);
    size_t start = 0, end;
    while ((end = partial.find('\n', start)) != std::string::npos) {
        TakeLine(options, merge, workers, worker, stream, partial.substr(start, end - start));
        start = end + 1;
    }
    partial.erase(0, start);
    return true;
}

// Waits for a worker whose pipes have all ended: its whole share counts as read once it has
// succeeded (the engine reports progress in steps, the last of them before its end).
static void Finish(const Options& options, Merge& merge, std::vector<Worker>& workers, Worker& worker)
{
    int wait;
    while (waitpid(worker.Pid, &wait, 0) < 0 && errno == EINTR) {
    }
    worker.Pid = -1;
    worker.Ended = true;
    if (WIFEXITED(wait)) {
        worker.Status = WEXITSTATUS(wait);
    } else if (worker.Stopped || Interrupted) {
        worker.Status = ExitInterrupted;   // stopped before it could answer the stop
    } else {
        EndProgress(merge.Bar);
        Report(options.Archive, "", std::string("a process of the run ended abnormally: ")
                                        + strsignal(WTERMSIG(wait)));
        worker.Status = ExitDamaged;
        merge.Status = WorseStatus(merge.Status, ExitDamaged);
        StopAll(workers);
    }
    if (worker.Status == ExitSuccess) {
        worker.Done = worker.Share;
        ShowSum(merge, workers);
    }
    ShowReady(options, merge, workers);
}

int RunInParallel(const Options& options, Plan& plan)
{
    if (plan.Run.empty() || !WorthSharing(plan))
        return RunEngine(options, plan, -1);
    Plan whole = plan;
    for (size_t i = 0; i < whole.Run.size(); ++i)
        whole.Run[i].Order = i;
    // A test of chosen entries decodes them in a scratch folder under names a test of the whole
    // archive never builds; where one would not fit, one process tests the whole archive.
    // Two processes never write one file: entries that land on one file (the plan leaves none
    // under -o, where only the last is written) would leave another file than one process does
    // if a failure fell between them.
    bool alone = true;
    std::set<std::string> keys;
    for (const PlannedEntry& planned : whole.Run) {
        if (options.Mode == RunMode::Test && plan.WholeArchive)
            alone = alone && TestAloneRefusal(planned.Entry.Name).empty();
        if (!planned.Target.empty())
            alone = alone && keys.insert(LandingKey(planned.Target, plan.FoldsCase)).second;
    }
    std::vector<std::vector<PlannedEntry>> shares = Split(whole.Run, options.Jobs);
    if (shares.size() < 2 || !alone)
        return RunEngine(options, whole, -1);

    uint64_t total = 0;
    for (const PlannedEntry& planned : whole.Run)
        total += planned.Entry.CompressedSize;

    // A stop of any kind reaches the processes as TERM (Stop), which each answers like its own.
    constexpr size_t StopCount = sizeof StopSignals / sizeof StopSignals[0];
    struct sigaction action, oldActions[StopCount];
    memset(&action, 0, sizeof action);
    action.sa_handler = OnInterrupt;
    for (size_t i = 0; i < StopCount; ++i)
        sigaction(StopSignals[i], &action, &oldActions[i]);

    Merge merge;
    merge.ShowNames = !options.Quiet && !isatty(STDOUT_FILENO);
    merge.Owner.assign(whole.Run.size(), 0);
    for (size_t w = 0; w < shares.size(); ++w)
        for (const PlannedEntry& planned : shares[w])
            merge.Owner[planned.Order] = w;
    StartProgress(merge.Bar, stderr, total, !options.Quiet && isatty(STDERR_FILENO));
    std::vector<Worker> workers;
    workers.reserve(shares.size());
    int status = plan.Status;
    for (std::vector<PlannedEntry>& share : shares) {
        workers.emplace_back();
        if (!StartWorker(options, whole, share, workers, workers.back())) {
            workers.pop_back();
            Report(options.Archive, "", std::string("cannot start a process: ") + strerror(errno));
            status = WorseStatus(status, ExitDamaged);
            StopAll(workers);
            merge.Cut = 0;
            break;
        }
    }

    bool stopping = false;
    for (;;) {
        if (Interrupted && !stopping) {
            stopping = true;
            for (Worker& worker : workers)
                Stop(worker);
        }
        std::vector<pollfd> watched;
        std::vector<std::pair<Worker*, Stream>> owner;
        for (Worker& worker : workers)
            for (int s = 0; s < StreamCount; ++s)
                if (worker.Pipe[s] >= 0) {
                    watched.push_back({worker.Pipe[s], POLLIN, 0});
                    owner.push_back({&worker, (Stream)s});
                }
        if (watched.empty())
            break;
        if (poll(watched.data(), watched.size(), -1) < 0)
            continue;   // EINTR: an interrupt, handled at the top
        for (size_t i = 0; i < watched.size(); ++i) {
            if (watched[i].revents == 0)
                continue;
            Worker& worker = *owner[i].first;
            if (!ReadPipe(options, merge, workers, worker, owner[i].second)) {
                bool open = false;
                for (int fd : worker.Pipe)
                    open = open || fd >= 0;
                if (!open)
                    Finish(options, merge, workers, worker);
            }
        }
    }
    ShowReady(options, merge, workers);
    EndProgress(merge.Bar);
    for (size_t i = 0; i < StopCount; ++i)
        sigaction(StopSignals[i], &oldActions[i], nullptr);

    status = WorseStatus(status, merge.Status);
    if (Interrupted) {
        Report(options.Archive, "", "interrupted; the files being written were removed");
        return WorseStatus(status, ExitInterrupted);
    }
    if (merge.Cut != SIZE_MAX) {
        // One process would have stopped there: what others wrote for later entries goes.
        for (size_t order : merge.Begun)
            if (order > merge.Cut && !whole.Run[order].Target.empty() && !whole.Run[order].Replaces)
                unlink(whole.Run[order].Target.c_str());
    } else {
        // A process that failed without a record (it could not make its scratch folder, say).
        for (const Worker& worker : workers)
            status = WorseStatus(status, worker.Status);
    }
    if (status == ExitSuccess && options.Mode == RunMode::Test && !options.Quiet)
        ReportNoErrors(options.Archive, plan.Run.size(), plan.WholeArchive);
    return status;
}
