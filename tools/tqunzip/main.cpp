// tqunzip: extracts, tests or lists a ZIP archive with the setup program's own extraction engine.
// main reads the command line, has the plan made (plan.cpp) and runs it in this process
// (run.cpp) or in several (parallel.cpp).
//
// The command line: unzip's letters where unzip has them (-d -l -t -o -n -q -v -p), the
// engine's own switches (-k -s -i --offset), -j for several processes, GNU --help and
// --version. A usage error is one line naming the problem and a pointer to --help, exit
// status 64.
#include "tools/tqunzip/tqunzip.h"

#include <errno.h>
#include <getopt.h>
#include <stdio.h>
#include <stdlib.h>

static const char HelpText[] =
    "Usage: tqunzip [OPTION]... ARCHIVE [NAME]...\n"
    "Extract, test or list the entries of a ZIP archive with the setup program's\n"
    "extraction engine. ARCHIVE is tried as given, then with .zip and .ZIP added.\n"
    "NAMEs choose entries by their stored name (folder/file): * stands for any run\n"
    "of characters, ? for one character; letter case is ignored.\n"
    "\n"
    "  -d DIR         extract into DIR (created with its parents), not the current\n"
    "                 folder\n"
    "  -k             keep the entries' folders below the destination (created)\n"
    "  -o             overwrite existing files\n"
    "  -n             never overwrite: skip entries whose file exists\n"
    "  -t             test: decode the entries, check their CRC-32, write nothing\n"
    "  -l             list the entries: size, packed size, method, ratio, time,\n"
    "                 CRC-32, encryption, name\n"
    "  -p PASSWORD    password of encrypted entries (default: setup's built-in one)\n"
    "  -s             skip empty entries\n"
    "  -i             ignore CRC errors\n"
    "  -j N           extract (or test) with N processes at once, each taking a share of the\n"
    "                 entries of about equal work; the first failure stops them all\n"
    "  -q, --quiet    no progress bar, no file names, no listing heading\n"
    "  -v, --verbose  list with seconds, local header offsets and notes\n"
    "      --offset=N start reading the archive's records at byte N\n"
    "  -h, --help     show this help and exit\n"
    "      --version  show the version and exit\n"
    "\n"
    "Without -o or -n, an existing file, or two entries that land on one file\n"
    "name, stop the run before anything is written.\n"
    "\n"
    "Exit status:\n"
    "   0  success\n"
    "   1  warnings: entries skipped, an empty archive, or the run stopped\n"
    "      before overwriting\n"
    "   2  a damaged or refused entry\n"
    "   3  a damaged archive\n"
    "   9  archive not found, or not a ZIP archive\n"
    "  11  a NAME matched no entry\n"
    "  50  disk full, or an output file could not be created or written\n"
    "  64  usage error\n"
    "  80  interrupted\n"
    "  81  unsupported method, encryption or streamed entry\n"
    "  82  wrong password\n";

static int UsageError(const std::string& problem)
{
    return UsageError("tqunzip", problem);
}

static bool ParseJobs(const char* text, int& jobs)
{
    char* end;
    errno = 0;
    long value = strtol(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0' || value < 1 || value > MaxJobs)
        return false;
    jobs = (int)value;
    return true;
}

static bool ParseOffset(const char* text, int& offset)
{
    char* end;
    errno = 0;
    long value = strtol(text, &end, 0);
    if (errno != 0 || end == text || *end != '\0' || value < 0 || value > 0x7FFFFFFF)
        return false;
    offset = (int)value;
    return true;
}

// Long options without a short letter get codes above the character range.
enum { OptionOffset = 256, OptionVersion };

int ParseCommandLine(int argc, char** argv, Options& options)
{
    static const option longOptions[] = {
        {"help", no_argument, nullptr, 'h'},
        {"version", no_argument, nullptr, OptionVersion},
        {"quiet", no_argument, nullptr, 'q'},
        {"verbose", no_argument, nullptr, 'v'},
        {"offset", required_argument, nullptr, OptionOffset},
        {nullptr, 0, nullptr, 0},
    };
    bool test = false, list = false, overwrite = false, never = false;
    opterr = 0;
    optind = 1;
    int code;
    while ((code = getopt_long(argc, argv, ":d:tlkp:sionqvhj:", longOptions, nullptr)) != -1) {
        switch (code) {
        case 'd':
            if (optarg[0] == '\0')
                return UsageError("-d needs a folder name");
            options.Destination = optarg;
            options.HasDestination = true;
            break;
        case 't': test = true; break;
        case 'l': list = true; break;
        case 'k': options.KeepPaths = true; break;
        case 'p':
            options.HasPassword = true;
            options.Password = optarg;
            break;
        case 's': options.SkipEmpty = true; break;
        case 'i': options.IgnoreCrc = true; break;
        case 'o': overwrite = true; break;
        case 'n': never = true; break;
        case 'q': options.Quiet = true; break;
        case 'j':
            if (!ParseJobs(optarg, options.Jobs))
                return UsageError(std::string("-j takes a number of processes from 1 to ")
                                  + std::to_string(MaxJobs) + ": " + optarg);
            break;
        case 'v': options.Verbose = true; break;
        case OptionOffset:
            if (!ParseOffset(optarg, options.StartOffset))
                return UsageError(std::string("bad offset: ") + optarg);
            break;
        case 'h':
            fputs(HelpText, stdout);
            return ExitSuccess;
        case OptionVersion:
            return PrintVersion("tqunzip");
        case ':':
            return UsageError(std::string("option ") + argv[optind - 1] + " needs a value");
        default:
            // getopt_long leaves optopt 0 for an unknown long option, whose text is argv[optind - 1].
            return UsageError(optopt != 0 ? std::string("unknown option -") + (char)optopt
                                          : std::string("unknown option ") + argv[optind - 1]);
        }
    }
    if (optind >= argc)
        return UsageError("no archive given");
    if (test && list)
        return UsageError("-t and -l exclude each other");
    if (options.HasDestination && (test || list))
        return UsageError("-d does not go with -t or -l");
    if (overwrite && never)
        return UsageError("-o and -n exclude each other");
    options.Mode = test ? RunMode::Test : list ? RunMode::List : RunMode::Extract;
    options.Policy = overwrite ? OverwritePolicy::Overwrite
        : never                ? OverwritePolicy::Never
                               : OverwritePolicy::Stop;
    options.Archive = argv[optind];
    for (int i = optind + 1; i < argc; ++i)
        options.Names.push_back(argv[i]);
    return -1;
}

int main(int argc, char** argv)
{
    Options options;
    int status = ParseCommandLine(argc, argv, options);
    if (status != -1)
        return status;
    if (options.Mode == RunMode::List)
        return ListEntries(options);
    Plan plan;
    status = MakePlan(options, plan);
    if (status != -1)
        return status;
    if (plan.Run.empty())
        return plan.Status;
    if (options.Jobs > 1 && plan.Run.size() > 1)
        return RunInParallel(options, plan);
    return RunEngine(options, plan, -1);
}
