// tqunzip: extracts, tests or lists a ZIP archive with the setup program's own extraction engine.
// main reads the command line, has the plan made (plan.cpp) and runs it in this process
// (run.cpp) or in several (parallel.cpp).
//
// The command line takes unzip's letters with unzip's meanings (-d -l -t -v -o -n -q -qq -p -c
// -P -x -j -C), the engine's own switches (-k, --skip-empty, --ignore-crc, --offset), --jobs
// (-w) for several processes, GNU --help and --version. A letter unzip gives another meaning
// that this tool does not offer is refused with a hint, never taken in a meaning of its own. A
// usage error is one line naming the problem and a pointer to --help, exit status 64.
#include "tools/tqunzip/tqunzip.h"

#include <errno.h>
#include <getopt.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static const char HelpText[] =
    "Usage: tqunzip [OPTION]... ARCHIVE [NAME]... [-x NAME...]\n"
    "Extract, test or list the entries of a ZIP archive with the setup program's\n"
    "extraction engine. ARCHIVE is tried as given, then with .zip and .ZIP added.\n"
    "NAMEs choose entries by their stored name (folder/file): * stands for any run\n"
    "of characters, ? for one character, [a-z] for one of a class ([!a-z] for one\n"
    "not in it); letter case counts unless -C is given.\n"
    "\n"
    "  -d DIR         extract into DIR (created with its parents), not the current\n"
    "                 folder\n"
    "  -j             junk the entries' folders: every file lands in DIR itself\n"
    "                 (folders are kept by default; -k is accepted and keeps them)\n"
    "  -o             overwrite existing files\n"
    "  -n             never overwrite: skip entries whose file exists, silently\n"
    "  -t             test: decode the entries, check their CRC-32, write nothing\n"
    "  -l             list the entries: size, packed size, method, ratio, time,\n"
    "                 CRC-32, encryption, name\n"
    "  -v             list verbosely (with -l too): seconds, local header offsets\n"
    "                 and notes\n"
    "  -p             write the entries' data to standard output, nothing else\n"
    "  -c             as -p, with a line naming each entry before its data\n"
    "  -P PASSWORD    password of encrypted entries (default: setup's built-in one)\n"
    "  -x NAME...     leave out the entries these NAMEs match (after the archive)\n"
    "  -C             NAMEs and -x match without regard to letter case\n"
    "  -q             no progress bar, no file names, no listing heading\n"
    "  -qq            as -q, and no warnings (skipped or replaced entries)\n"
    "  -w, --jobs=N   extract (or test) with N processes at once, each taking the\n"
    "                 entries of some output files; small work stays in one\n"
    "      --skip-empty  skip empty entries\n"
    "      --ignore-crc  do not check the entries' CRC-32\n"
    "      --offset=N start reading the archive's records at byte N\n"
    "  -h, --help     show this help and exit\n"
    "      --version  show the version and exit\n"
    "\n"
    "Without -o or -n, an existing file, two entries that land on one file, or a\n"
    "file where another entry needs a folder stop the run before anything is\n"
    "written.\n"
    "\n"
    "Exit status:\n"
    "   0  success (also when -n skipped entries)\n"
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

// unzip's letters that this tool does not take, each with what to use instead or why not. Any
// other letter is simply unknown.
struct RefusedLetter {
    char Letter;
    const char* Hint;
};
static const RefusedLetter RefusedLetters[] = {
    {'s', "unzip's -s (spaces to underscores) is not offered; --skip-empty skips empty entries"},
    {'i', "--ignore-crc leaves the CRC-32 unchecked"},
    {'a', "unzip's -a (text conversion) is not offered: the data is written as stored"},
    {'b', "unzip's -b (binary) is not needed: the data is always written as stored"},
    {'f', "unzip's -f (freshen) is not offered; -o overwrites, -n keeps existing files"},
    {'u', "unzip's -u (update) is not offered; -o overwrites, -n keeps existing files"},
    {'z', "unzip's -z (archive comment) is not offered"},
    {'L', "unzip's -L (lower-case names) is not offered"},
    {'U', "unzip's -U is not needed: names are written as stored"},
    {'X', "unzip's -X (owners) is not offered"},
    {'T', "unzip's -T (archive time) is not offered"},
    {'D', "unzip's -D is not needed: file times are those of the run"},
    {'K', "unzip's -K is not needed"},
    {'M', "unzip's -M (pager) is not offered; pipe -p into a pager"},
    {'V', "unzip's -V (versions) is not offered"},
    {'W', "unzip's -W is not needed: * matches \"/\" too"},
    {'F', "unzip's -F is not offered"},
    {'E', "unzip's -E is not offered"},
    {'S', "unzip's -S is not offered"},
    {'Z', "unzip's -Z (zipinfo) is not offered; -l and -v list the entries"},
};

// Long options without a short letter get codes above the character range.
enum { OptionOffset = 256, OptionVersion, OptionSkipEmpty, OptionIgnoreCrc };

// unzip's "-x NAME..." stands after the archive and its NAMEs: the words behind it, up to the
// next option, are exclusions. They are taken out before the options are read.
static bool TakeExclusions(int& argc, char** argv, Options& options)
{
    int kept = 1;
    bool excluding = false, ended = false, empty = false;
    for (int i = 1; i < argc; ++i) {
        const char* word = argv[i];
        if (!ended && strcmp(word, "--") == 0) {
            ended = true;
            excluding = false;
        } else if (!ended && strcmp(word, "-x") == 0) {
            empty = empty || excluding;
            excluding = true;
            continue;
        } else if (excluding && word[0] == '-' && word[1] != '\0') {
            excluding = false;
            empty = true;
        } else if (excluding) {
            options.Exclusions.push_back(word);
            excluding = false;
            for (; i + 1 < argc && (argv[i + 1][0] != '-' || argv[i + 1][1] == '\0'); ++i)
                options.Exclusions.push_back(argv[i + 1]);
            continue;
        }
        argv[kept++] = argv[i];
    }
    argc = kept;
    argv[argc] = nullptr;
    return !empty && !excluding;
}

int ParseCommandLine(int argc, char** argv, Options& options)
{
    static const option longOptions[] = {
        {"help", no_argument, nullptr, 'h'},
        {"version", no_argument, nullptr, OptionVersion},
        {"quiet", no_argument, nullptr, 'q'},
        {"verbose", no_argument, nullptr, 'v'},
        {"jobs", required_argument, nullptr, 'w'},
        {"offset", required_argument, nullptr, OptionOffset},
        {"skip-empty", no_argument, nullptr, OptionSkipEmpty},
        {"ignore-crc", no_argument, nullptr, OptionIgnoreCrc},
        {nullptr, 0, nullptr, 0},
    };
    if (!TakeExclusions(argc, argv, options))
        return UsageError("-x needs the NAMEs to leave out after it");
    bool test = false, list = false, overwrite = false, never = false, print = false;
    opterr = 0;
    optind = 1;
    int code;
    while ((code = getopt_long(argc, argv, ":d:tlkjCP:pconqvhw:xsiabfuzLUXTDKMVWFESZ", longOptions, nullptr))
           != -1) {
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
        case 'j': options.KeepPaths = false; break;
        case 'C': options.IgnoreCase = true; break;
        case 'P':
            if (optarg[0] == '\0')
                return UsageError("-P needs a password; an empty one is none");
            options.HasPassword = true;
            options.Password = optarg;
            break;
        case 'p': print = true; break;
        case 'c':
            print = true;
            options.PrintNames = true;
            break;
        case OptionSkipEmpty: options.SkipEmpty = true; break;
        case OptionIgnoreCrc: options.IgnoreCrc = true; break;
        case 'o': overwrite = true; break;
        case 'n': never = true; break;
        case 'q': ++options.Quiet; break;
        case 'w':
            if (!ParseJobs(optarg, options.Jobs))
                return UsageError(std::string("--jobs takes a number of processes from 1 to ")
                                  + std::to_string(MaxJobs) + ": " + optarg);
            break;
        case 'v': options.Verbose = true; break;
        case 'x': return UsageError("-x needs the NAMEs to leave out after it");
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
            if (optopt == 'P')
                return UsageError("-P needs a password");
            return UsageError(std::string("option ") + argv[optind - 1] + " needs a value");
        default:
            for (const RefusedLetter& refused : RefusedLetters)
                if (code == refused.Letter)
                    return UsageError(std::string("-") + refused.Letter + " is not taken: " + refused.Hint);
            // getopt_long leaves optopt 0 for an unknown long option, whose text is argv[optind - 1].
            return UsageError(optopt != 0 ? std::string("unknown option -") + (char)optopt
                                          : std::string("unknown option ") + argv[optind - 1]);
        }
    }
    if (optind >= argc)
        return UsageError("no archive given");
    // -v alone asks for the verbose listing, as in unzip.
    if (options.Verbose && !test && !print)
        list = true;
    if (test + list + print > 1)
        return UsageError("-t, -l (or -v) and -p (or -c) exclude each other");
    if (options.HasDestination && (test || list || print))
        return UsageError("-d goes with extraction only, not with -t, -l, -v, -p or -c");
    if (overwrite && never)
        return UsageError("-o and -n exclude each other");
    options.Mode = test ? RunMode::Test : list ? RunMode::List : print ? RunMode::Print : RunMode::Extract;
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
    ShowWarnings(options.Quiet < 2);
    if (options.Mode == RunMode::List)
        return ListEntries(options);
    Plan plan;
    status = MakePlan(options, plan);
    if (status != -1)
        return status;
    if (plan.Run.empty())
        return plan.Status;
    if (options.Mode == RunMode::Print)
        return PrintEntries(options, plan);
    if (options.Jobs > 1 && plan.Run.size() > 1)
        return RunInParallel(options, plan);
    return RunEngine(options, plan, -1);
}
