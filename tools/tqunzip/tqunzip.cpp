// tqunzip: extracts, tests or lists a ZIP archive with the setup program's own extraction engine.
// The command line fills one ExtractRequest; the engine's error boxes arrive through the native
// layer's message sink and go to standard error unchanged, its file-name and progress messages
// drive a one-line progress display when standard output is a terminal. An interrupt (Ctrl-C)
// cancels the run at the engine's next progress report, which deletes the file being written.
// The exit status is the request's Result (0, 2 or 99), 1 when the engine refused the request,
// 64 for a usage error.
#include "tools/tqunzip/tqunzip.h"

#include "res/resource.h"
#include "unzip/unzip.h"
#include "unzip/posix/sink.h"

#include <errno.h>
#include <getopt.h>
#include <signal.h>
#include <stddef.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

constexpr unsigned ProgressUnit = 10240;      // bytes per WM_SETUP_PROGRESS unit
constexpr unsigned ProgressWrap = 65536;      // wParam carries the low 16 bits of the count
constexpr int NameBufferSize = 264;           // a stored name of up to 263 characters

static const char UsageText[] =
    "usage: tqunzip [options] ARCHIVE [NAME...]\n"
    "Extracts the entries of ARCHIVE (all, or the NAMEs given, as stored: folder/file) into the\n"
    "current folder.\n"
    "  -d DIR       extract into DIR instead\n"
    "  -t           test only: decode every entry, write nothing\n"
    "  -l           list the entries: sizes, method, CRC-32, encryption, name\n"
    "  -k           keep the stored paths below the destination (folders must exist)\n"
    "  -p PASSWORD  password of encrypted entries (default: the built-in one)\n"
    "  -s           skip empty entries\n"
    "  -o OFFSET    start reading the archive at byte OFFSET\n"
    "  -i           ignore CRC errors\n"
    "  -q           quiet: no progress, no listing header\n"
    "  --help       show this text\n"
    "Exit status: 0 done, 2 error, 99 cancelled (interrupt), 1 engine busy, 64 usage error.\n";

// What the progress display knows of the run.
static int ShowProgress;           // 1: a terminal line that is rewritten in place
static int ShowNames;              // 1: one line per entry (not quiet, no terminal)
static int LineOpen;               // a progress line is on the terminal without its line break
static const char* Verb = "extracting";
static char CurrentName[NameBufferSize];   // the name of the last WM_SETUP_FILENAME
static unsigned long long ArchiveSize;
static unsigned LastUnits;         // last wParam seen, to notice the 16-bit wrap
static unsigned long long Wraps;
static volatile sig_atomic_t Interrupted;   // set by the first SIGINT or SIGTERM

static int UsageError(const char* format, const char* detail)
{
    fprintf(stderr, "tqunzip: ");
    fprintf(stderr, format, detail);
    fprintf(stderr, "\n%s", UsageText);
    return ExitUsage;
}

static void CloseProgressLine(void)
{
    if (LineOpen) {
        fputc('\n', stdout);
        fflush(stdout);
        LineOpen = 0;
    }
}

static void DrawProgress(unsigned long long bytesRead)
{
    unsigned percent = ArchiveSize == 0 ? 100 : (unsigned)(bytesRead * 100 / ArchiveSize);
    if (percent > 100)
        percent = 100;
    printf("\r\033[K%s %s  %3u%%", Verb, CurrentName, percent);
    fflush(stdout);
    LineOpen = 1;
}

// The engine's error box: the text goes to standard error exactly as the engine formatted it.
static int OnEngineMessageBox(HWND, const char* text, const char*, UINT)
{
    CloseProgressLine();
    fprintf(stderr, "%s\n", text);
    fflush(stderr);
    return IDOK;
}

static void OnInterrupt(int)
{
    Interrupted = 1;
}

// The engine's window messages to its owner. A nonzero answer to WM_SETUP_PROGRESS cancels the
// run: the tool gives it after an interrupt.
static LRESULT OnEngineWindowMessage(HWND, UINT msg, WPARAM wParam, LPARAM lParam)
{
    if (msg == WM_SETUP_FILENAME) {
        snprintf(CurrentName, sizeof CurrentName, "%s", (const char*)lParam);
        if (ShowNames) {
            printf("  %s: %s\n", Verb, CurrentName);
            fflush(stdout);
        }
        else if (ShowProgress)
            DrawProgress((Wraps * ProgressWrap + LastUnits) * ProgressUnit);
    } else if (msg == WM_SETUP_PROGRESS) {
        unsigned units = (unsigned)(wParam & 0xFFFF);
        if (units < LastUnits)
            ++Wraps;
        LastUnits = units;
        if (ShowProgress)
            DrawProgress((Wraps * ProgressWrap + units) * ProgressUnit);
        return Interrupted;
    }
    return 0;
}

static int ParseOffset(const char* text, int* offset)
{
    char* end;
    errno = 0;
    long value = strtol(text, &end, 0);
    if (errno != 0 || end == text || *end != '\0' || value < 0 || value > 0x7FFFFFFF)
        return 0;
    *offset = (int)value;
    return 1;
}

// Builds the name list in command-line order. Each node holds its name behind its Next field.
static NameNode* BuildNameList(char** names, int count)
{
    NameNode* first = nullptr;
    NameNode** link = &first;
    for (int i = 0; i < count; ++i) {
        size_t length = strlen(names[i]);
        NameNode* node = (NameNode*)calloc(1, offsetof(NameNode, Name) + length + 1);
        if (node == nullptr) {
            fprintf(stderr, "tqunzip: out of memory\n");
            exit(ExitFailed);
        }
        memcpy(node->Name, names[i], length + 1);
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

int main(int argc, char** argv)
{
    static const option longOptions[] = {{"help", no_argument, nullptr, 'h'}, {nullptr, 0, nullptr, 0}};
    const char* destination = nullptr;
    const char* password = nullptr;
    int testOnly = 0, list = 0, keepPaths = 0, skipEmpty = 0, ignoreCrc = 0, quiet = 0;
    int startOffset = 0;

    opterr = 0;
    int option;
    while ((option = getopt_long(argc, argv, ":d:tlkp:so:iq", longOptions, nullptr)) != -1) {
        switch (option) {
        case 'd': destination = optarg; break;
        case 't': testOnly = 1; break;
        case 'l': list = 1; break;
        case 'k': keepPaths = 1; break;
        case 'p': password = optarg; break;
        case 's': skipEmpty = 1; break;
        case 'i': ignoreCrc = 1; break;
        case 'q': quiet = 1; break;
        case 'o':
            if (!ParseOffset(optarg, &startOffset))
                return UsageError("bad offset: %s", optarg);
            break;
        case 'h':
            fputs(UsageText, stdout);
            return 0;
        case ':':
            return UsageError("option %s needs a value", argv[optind - 1]);
        default:
            return UsageError("unknown option %s", argv[optind - 1]);
        }
    }
    if (optind >= argc)
        return UsageError("%s", "no archive given");
    if (testOnly + list > 1)
        return UsageError("%s", "-t and -l exclude each other");
    if (destination != nullptr && (testOnly || list))
        return UsageError("%s", "-d does not go with -t or -l");
    if (destination != nullptr && destination[0] == '\0')
        return UsageError("%s", "-d needs a folder name");

    const char* archive = argv[optind];
    char** names = argv + optind + 1;
    int nameCount = argc - optind - 1;
    if (list)
        return ListArchive(archive, names, nameCount, quiet);

    struct stat status;
    if (stat(archive, &status) == 0)
        ArchiveSize = (unsigned long long)status.st_size;
    int terminal = isatty(STDOUT_FILENO);
    ShowProgress = !quiet && terminal;
    ShowNames = !quiet && !terminal;
    Verb = testOnly ? "testing" : "extracting";
    SetMessageBoxSink(OnEngineMessageBox);
    SetMessageSink(OnEngineWindowMessage);
    // The first interrupt cancels through the engine, a second one ends the process at once.
    struct sigaction action;
    memset(&action, 0, sizeof action);
    action.sa_handler = OnInterrupt;
    action.sa_flags = SA_RESETHAND | SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);

    ExtractRequest request;
    memset(&request, 0, sizeof request);
    request.ReportCrcErrors = ignoreCrc ? 0 : 1;
    request.ArchivePath = archive;
    request.DestFolder = testOnly ? nullptr : (destination != nullptr ? destination : ""); // "": here
    request.NameList = BuildNameList(names, nameCount);
    request.KeepPaths = keepPaths;
    request.StartOffset = startOffset;
    request.SkipEmpty = skipEmpty;
    request.HasPassword = password != nullptr;
    request.Password = password;

    int ran = ExtractArchive(&request);
    CloseProgressLine();
    FreeNameList(request.NameList);
    if (!ran) {
        fprintf(stderr, "tqunzip: the extraction engine is busy\n");
        return ExitRefused;
    }
    if (request.Result == 99)
        fprintf(stderr, "tqunzip: cancelled\n");
    if (request.Result == 0 && testOnly && !quiet)
        printf("No errors detected in %s\n", archive);
    return request.Result;
}
