// tqunzip's outcomes: the exit statuses and which of two is worse, the one form of every problem
// report on standard error, and the closing line of a test run without errors. A leaf: it calls
// no other file of the tool.
#include "tools/tqunzip/tqunzip.h"

#include <stdio.h>

static ProgressBar* ShownBar;   // the bar a report clears first; none at start

// Ranks exit statuses so that the worst outcome of a run is the one reported.
static int Rank(int status)
{
    static const int order[] = {ExitSuccess, ExitWarning, ExitNoMatch, ExitDamaged, ExitUnsupported,
                                ExitBadPassword, ExitSevere, ExitNotFound, ExitDiskFull, ExitInterrupted};
    for (int i = 0; i < (int)(sizeof order / sizeof order[0]); ++i)
        if (order[i] == status)
            return i;
    return 0;
}

int WorseStatus(int a, int b)
{
    return Rank(b) > Rank(a) ? b : a;
}

void ClearBeforeReports(ProgressBar* bar)
{
    ShownBar = bar;
}

void Report(const std::string& archive, const std::string& entry, const std::string& reason)
{
    if (ShownBar != nullptr)
        EndProgress(*ShownBar);
    fflush(stdout);
    std::string text = "tqunzip: ";
    if (!archive.empty())
        text += archive + ": ";
    if (!entry.empty())
        text += entry + ": ";
    fprintf(stderr, "%s%s\n", text.c_str(), reason.c_str());
    fflush(stderr);
}

void ReportNoErrors(const std::string& archive, size_t entries, bool wholeArchive)
{
    if (wholeArchive)
        printf("No errors detected in %s\n", archive.c_str());
    else
        printf("No errors detected in %zu %s of %s\n", entries, entries == 1 ? "entry" : "entries", archive.c_str());
}
