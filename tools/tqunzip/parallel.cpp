// tqunzip -j N: the planned entries are split into N shares of about equal work and each share is
// extracted by a process of its own, with an engine of its own (the engine serves one request at
// a time): each process walks the archive and takes the names of its share. Their standard output
// and error come back here through pipes and leave line by line, their progress is summed into
// one bar, and the first process that fails has the others stopped, as the first error stops a
// single run. The exit status is the worst of theirs.
#include "tools/tqunzip/tqunzip.h"

#include <ctype.h>
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
// costs the creation of its file, worth some 32 KiB.
constexpr uint64_t EntryCost = 32768;
constexpr uint64_t DecryptionFactor = 7;

enum Stream { Output, Errors, Progress, StreamCount };

struct Worker {
    pid_t Pid = -1;
    int Pipe[StreamCount] = {-1, -1, -1};   // read ends, -1 once closed
    std::string Partial[StreamCount];       // what came after the last line break
    uint64_t Share = 0;                     // bytes of entry data in its share
    uint64_t Done = 0;                      // bytes read, as its last progress line said
    int Status = ExitSuccess;
    bool Stopped = false;                   // stopped here after another process failed
};

static volatile sig_atomic_t Interrupted;   // one of StopSignals reached this process

static void OnInterrupt(int)
{
    Interrupted = 1;
}

static uint64_t CostOf(const ArchiveEntry& entry)
{
    uint64_t cost = EntryCost + entry.UncompressedSize;
    if (entry.Method == MethodDeflated)
        cost += entry.UncompressedSize;
    if (entry.Flags & FlagEncrypted)
        cost += DecryptionFactor * entry.CompressedSize;
    return cost;
}

// The engine selects entries by name, letter case ignored and "\" as "/": entries whose names
// are equal that way go to one share, in their order, so that no name selects an entry of
// another share. Groups go, largest first, to the share with the least work so far; each share
// keeps the archive's order.
static std::vector<std::vector<PlannedEntry>> Split(const std::vector<PlannedEntry>& run, int shares)
{
    std::map<std::string, size_t> groupOfName;
    std::vector<std::vector<size_t>> groups;
    std::vector<uint64_t> groupCost;
    for (size_t i = 0; i < run.size(); ++i) {
        std::string key = run[i].Entry.Name;
        for (char& c : key)
            c = c == '\\' ? '/' : (char)tolower((unsigned char)c);
        auto found = groupOfName.emplace(key, groups.size());
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
        part.Entries = plan.Entries;
        part.Run.swap(share);
        int status = RunEngine(options, part, ends[Progress][1]);
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

// The merged view: the workers' lines as they come, one progress bar over all of them.
struct Merge {
    bool ShowNames;     // standard output is no terminal and not quiet: name lines pass
    ProgressBar Bar;
    std::string Label;  // the entry named last by any worker
    std::set<std::string> ErrorsShown;
};

static void ShowSum(Merge& merge, const std::vector<Worker>& workers)
{
    uint64_t done = 0;
    for (const Worker& each : workers)
        done += each.Done;
    ShowProgress(merge.Bar, done, merge.Label);
}

static void TakeLine(Merge& merge, std::vector<Worker>& workers, Worker& worker, Stream stream,
                     const std::string& line)
{
    if (stream == Output) {
        if (merge.ShowNames) {
            EndProgress(merge.Bar);
            printf("%s\n", line.c_str());
            fflush(stdout);
        }
    } else if (stream == Errors) {
        // The same line from several workers (a cancel, for instance) is shown once.
        if (merge.ErrorsShown.insert(line).second) {
            EndProgress(merge.Bar);
            fflush(stdout);
            fprintf(stderr, "%s\n", line.c_str());
            fflush(stderr);
        }
    } else {
        char* rest = nullptr;
        worker.Done = strtoull(line.c_str(), &rest, 10);
        if (rest != nullptr && *rest == ' ' && rest[1] != '\0')
            merge.Label = rest + 1;
        ShowSum(merge, workers);
    }
}

// Reads what a pipe has; false at its end.
static bool ReadPipe(Merge& merge, std::vector<Worker>& workers, Worker& worker, Stream stream)
{
    char buffer[4096];
    ssize_t got = read(worker.Pipe[stream], buffer, sizeof buffer);
    if (got < 0 && errno == EINTR)
        return true;
    if (got <= 0) {
        if (!worker.Partial[stream].empty())
            TakeLine(merge, workers, worker, stream, worker.Partial[stream]);
        worker.Partial[stream].clear();
        close(worker.Pipe[stream]);
        worker.Pipe[stream] = -1;
        return false;
    }
    std::string& partial = worker.Partial[stream];
    partial.append(buffer, (size_t)got);
    size_t start = 0, end;
    while ((end = partial.find('\n', start)) != std::string::npos) {
        TakeLine(merge, workers, worker, stream, partial.substr(start, end - start));
        start = end + 1;
    }
    partial.erase(0, start);
    return true;
}

// Waits for a worker whose pipes have all ended: its whole share counts as read once it has
// succeeded (the engine reports progress in steps, the last of them before its end). A
// failure stops the others.
static void Finish(const Options& options, Merge& merge, std::vector<Worker>& workers, Worker& worker)
{
    int wait;
    while (waitpid(worker.Pid, &wait, 0) < 0 && errno == EINTR) {
    }
    worker.Pid = -1;
    if (WIFEXITED(wait)) {
        worker.Status = WEXITSTATUS(wait);
    } else if (worker.Stopped || Interrupted) {
        worker.Status = ExitInterrupted;   // stopped before it could answer the stop
    } else {
        EndProgress(merge.Bar);
        Report(options.Archive, "", std::string("a process of the run ended abnormally: ")
                                        + strsignal(WTERMSIG(wait)));
        worker.Status = ExitDamaged;
    }
    if (worker.Status == ExitSuccess) {
        worker.Done = worker.Share;
        ShowSum(merge, workers);
    }
    if (worker.Status == ExitSuccess || worker.Stopped || Interrupted)
        return;
    for (Worker& other : workers)
        if (other.Pid > 0 && !other.Stopped) {
            other.Stopped = true;
            Stop(other);
        }
}

int RunInParallel(const Options& options, const Plan& plan)
{
    std::vector<std::vector<PlannedEntry>> shares = Split(plan.Run, options.Jobs);
    uint64_t total = 0;
    for (const PlannedEntry& planned : plan.Run)
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
    StartProgress(merge.Bar, stderr, total, !options.Quiet && isatty(STDERR_FILENO));
    std::vector<Worker> workers;
    workers.reserve(shares.size());
    int status = plan.Status;
    for (std::vector<PlannedEntry>& share : shares) {
        workers.emplace_back();
        if (!StartWorker(options, plan, share, workers, workers.back())) {
            workers.pop_back();
            Report(options.Archive, "", std::string("cannot start a process: ") + strerror(errno));
            status = WorseStatus(status, ExitDamaged);
            for (Worker& other : workers) {
                other.Stopped = true;
                Stop(other);
            }
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
            if (!ReadPipe(merge, workers, worker, owner[i].second)) {
                bool open = false;
                for (int fd : worker.Pipe)
                    open = open || fd >= 0;
                if (!open)
                    Finish(options, merge, workers, worker);
            }
        }
    }
    EndProgress(merge.Bar);
    for (size_t i = 0; i < StopCount; ++i)
        sigaction(StopSignals[i], &oldActions[i], nullptr);

    // A process stopped here after another failed is no failure of its own.
    for (const Worker& worker : workers)
        if (!worker.Stopped || Interrupted)
            status = WorseStatus(status, worker.Status);
    if (Interrupted) {
        Report(options.Archive, "", "interrupted; the files being written were removed");
        return WorseStatus(status, ExitInterrupted);
    }
    if (status == ExitSuccess && options.Mode == RunMode::Test && !options.Quiet)
        ReportNoErrors(options.Archive, plan.Run.size(), plan.WholeArchive);
    return status;
}
