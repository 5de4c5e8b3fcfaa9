// tqpack's command line: `build`, `verify`, `list` and `bundle`, each with --help. Usage errors exit
// with 64, failures with 1 and a list of the problems found.
#include "tqpack.h"

#include <cstdio>
#include <cstring>

static const char MainUsage[] =
    "usage: tqpack <command> [options]\n"
    "\n"
    "commands:\n"
    "  build    make a distribution folder (setup.exe, setup.tq, the seven text files)\n"
    "  verify   check that a distribution folder would install\n"
    "  list     list the payload archive of a distribution folder\n"
    "  bundle   make the one file to download: the self-extractor with a distribution appended\n"
    "\n"
    "`tqpack <command> --help` describes each command.\n";

static const char BuildUsage[] =
    "usage: tqpack build --setup SETUP.EXE --payload DIR --texts DIR --out DIST\n"
    "                    [--password TEXT] [--deflate libdeflate|zlib]\n"
    "\n"
    "Writes DIST/setup.exe (a copy keeping its last-write time), DIST/setup.tq (every file of\n"
    "the payload folder, deflated or stored, encrypted) and the seven text files README.TXT,\n"
    "TESSEL.TXT, LICENSE.TXT, VENDOR.TXT, WHATSNEW.TXT, FILE_ID.DIZ and ORDER.TXT from the\n"
    "text folder, stamped with setup.exe's exact last-write time.\n"
    "\n"
    "The payload folder must be flat and hold the main program, either as tessel32.ex_ or as\n"
    "TESSEL32.EXE (stored as tessel32.ex_; setup renames it back when it installs). File names\n"
    "must be printable ASCII without \\ / : < > \" | ? *, and short enough for setup to write\n"
    "them into its longest proposed install folder.\n"
    "\n"
    "  --password TEXT   encrypt with TEXT instead of setup's built-in password\n"
    "  --deflate LIB     libdeflate (level 12, the default) or zlib (level 9)\n"
    "\n"
    "The same input gives the same bytes: entries are sorted by name and the encryption headers\n"
    "come from a generator seeded by each entry's name and content, or by SOURCE_DATE_EPOCH.\n";

static const char VerifyUsage[] =
    "usage: tqpack verify DIST|BUNDLE.exe\n"
    "\n"
    "Checks what setup checks (setup.exe, setup.tq and the seven text files present, each text\n"
    "file last written at exactly setup.exe's time), walks the payload's records and runs the\n"
    "extraction engine in a test run over it with the built-in password, CRC errors reported.\n"
    "A bundle: the archive behind the self-extractor is found and walked, it holds the\n"
    "distribution's files with the text files stored at setup.exe's time, and the engine\n"
    "unpacks it into a scratch folder, which must then pass as a distribution folder.\n"
    "Exits 0 when the distribution would install, 1 with the list of problems otherwise.\n";

static const char ListUsage[] =
    "usage: tqpack list DIST|BUNDLE.exe\n"
    "\n"
    "Lists the entries of DIST/setup.tq, or of the archive in a bundle: name, size, packed\n"
    "size, method, encryption, CRC-32 and the stored MS-DOS time (local time).\n";

static const char BundleUsage[] =
    "usage: tqpack bundle DIST --out FILE.exe [--stub TQSFX.EXE] [--deflate libdeflate|zlib]\n"
    "\n"
    "Verifies DIST as `verify` does, then writes FILE.exe: the self-extractor followed by a ZIP\n"
    "archive of setup.exe, setup.tq and the seven text files (deflated or stored, not\n"
    "encrypted, each with its own time; offsets count from the start of FILE.exe). Run on\n"
    "Windows, FILE.exe unpacks them into a new temporary folder, runs setup.exe with -argv0 and\n"
    "its own path, and removes the folder afterwards.\n"
    "\n"
    "  --stub PATH   the self-extractor (a build's sfx/tqsfx.exe); by default tqsfx.exe in\n"
    "                tqpack's own folder\n"
    "  --deflate LIB libdeflate (level 12, the default) or zlib (level 9)\n"
    "\n"
    "The same input gives the same bytes.\n";

static int UsageError(const char* command, const std::string& text, const char* usage)
{
    std::fprintf(stderr, "tqpack%s%s: %s\n\n%s", command ? " " : "", command ? command : "",
                 text.c_str(), usage);
    return ExitUsage;
}

static int ReportProblems(const char* command, const std::string& what, const Problems& problems)
{
    std::fprintf(stderr, "tqpack %s: %s:\n", command, what.c_str());
    for (const std::string& problem : problems)
        std::fprintf(stderr, "  - %s\n", problem.c_str());
    return ExitFailure;
}

static bool IsHelp(const char* argument)
{
    return std::strcmp(argument, "--help") == 0 || std::strcmp(argument, "-h") == 0;
}

static int RunBuild(int argc, char** argv)
{
    BuildOptions options;
    for (int i = 0; i < argc; i++) {
        if (IsHelp(argv[i])) {
            std::fputs(BuildUsage, stdout);
            return ExitSuccess;
        }
    }
    for (int i = 0; i < argc; i++) {
        std::string option = argv[i];
        std::string* target = option == "--setup" ? &options.SetupPath
                            : option == "--payload" ? &options.PayloadFolder
                            : option == "--texts" ? &options.TextsFolder
                            : option == "--out" ? &options.OutFolder
                            : option == "--password" ? &options.Password : nullptr;
        if (!target && option != "--deflate")
            return UsageError("build", "unknown argument " + option, BuildUsage);
        if (i + 1 >= argc)
            return UsageError("build", option + " needs a value", BuildUsage);
        std::string value = argv[++i];
        if (target) {
            *target = value;
        } else if (value == "libdeflate") {
            options.UseCompressor = Compressor::Libdeflate;
        } else if (value == "zlib") {
            options.UseCompressor = Compressor::Zlib;
        } else {
            return UsageError("build", "--deflate takes libdeflate or zlib", BuildUsage);
        }
    }
    if (options.SetupPath.empty() || options.PayloadFolder.empty() || options.TextsFolder.empty()
        || options.OutFolder.empty())
        return UsageError("build", "--setup, --payload, --texts and --out are all needed", BuildUsage);

    PackStats stats;
    Problems problems;
    if (!BuildDistribution(options, stats, problems))
        return ReportProblems("build", "cannot build " + options.OutFolder, problems);
    std::printf("tqpack build: wrote %s: %d payload entries, %llu bytes packed into %llu\n",
                options.OutFolder.c_str(), stats.Entries, static_cast<unsigned long long>(stats.StoredBytes),
                static_cast<unsigned long long>(stats.ArchiveBytes));
    return ExitSuccess;
}

// verify and list take exactly one folder.
static int RunFolderCommand(const char* command, const char* usage, int argc, char** argv)
{
    for (int i = 0; i < argc; i++) {
        if (IsHelp(argv[i])) {
            std::fputs(usage, stdout);
            return ExitSuccess;
        }
    }
    if (argc != 1 || argv[0][0] == '-')
        return UsageError(command, argc == 0 ? "no distribution folder given"
                                   : argc > 1 ? "one distribution folder, please"
                                   : std::string("unknown option ") + argv[0], usage);
    Problems problems;
    std::string folder = argv[0];
    bool bundle = IsRegularFile(folder); // a bundle is one file, a distribution a folder
    if (std::strcmp(command, "list") == 0) {
        std::string listing;
        if (!(bundle ? ListBundle(folder, listing, problems) : ListDistribution(folder, listing, problems)))
            return ReportProblems(command, "cannot list " + folder, problems);
        std::fputs(listing.c_str(), stdout);
        return ExitSuccess;
    }
    if (!(bundle ? VerifyBundle(folder, problems) : VerifyDistribution(folder, problems)))
        return ReportProblems(command, folder + " would not install", problems);
    std::printf("tqpack verify: %s would install\n", folder.c_str());
    return ExitSuccess;
}

static int RunBundle(int argc, char** argv)
{
    BundleOptions options;
    for (int i = 0; i < argc; i++) {
        if (IsHelp(argv[i])) {
            std::fputs(BundleUsage, stdout);
            return ExitSuccess;
        }
    }
    for (int i = 0; i < argc; i++) {
        std::string option = argv[i];
        if (option.empty() || option[0] != '-') {
            if (!options.DistFolder.empty())
                return UsageError("bundle", "one distribution folder, please", BundleUsage);
            options.DistFolder = option;
            continue;
        }
        std::string* target = option == "--out" ? &options.OutFile
                            : option == "--stub" ? &options.StubPath : nullptr;
        if (!target && option != "--deflate")
            return UsageError("bundle", "unknown argument " + option, BundleUsage);
        if (i + 1 >= argc)
            return UsageError("bundle", option + " needs a value", BundleUsage);
        std::string value = argv[++i];
        if (target) {
            *target = value;
        } else if (value == "libdeflate") {
            options.UseCompressor = Compressor::Libdeflate;
        } else if (value == "zlib") {
            options.UseCompressor = Compressor::Zlib;
        } else {
            return UsageError("bundle", "--deflate takes libdeflate or zlib", BundleUsage);
        }
    }
    if (options.DistFolder.empty() || options.OutFile.empty())
        return UsageError("bundle", "a distribution folder and --out are needed", BundleUsage);

    PackStats stats;
    Problems problems;
    if (!BundleDistribution(options, stats, problems))
        return ReportProblems("bundle", "cannot bundle " + options.DistFolder, problems);
    std::printf("tqpack bundle: wrote %s: the self-extractor and %d files, %llu bytes packed into %llu\n",
                options.OutFile.c_str(), stats.Entries, static_cast<unsigned long long>(stats.StoredBytes),
                static_cast<unsigned long long>(stats.ArchiveBytes));
    return ExitSuccess;
}

int main(int argc, char** argv)
{
    if (argc < 2)
        return UsageError(nullptr, "no command given", MainUsage);
    std::string command = argv[1];
    if (IsHelp(argv[1]) || command == "help") {
        std::fputs(MainUsage, stdout);
        return ExitSuccess;
    }
    if (command == "build")
        return RunBuild(argc - 2, argv + 2);
    if (command == "verify")
        return RunFolderCommand("verify", VerifyUsage, argc - 2, argv + 2);
    if (command == "list")
        return RunFolderCommand("list", ListUsage, argc - 2, argv + 2);
    if (command == "bundle")
        return RunBundle(argc - 2, argv + 2);
    return UsageError(nullptr, "unknown command " + command, MainUsage);
}
