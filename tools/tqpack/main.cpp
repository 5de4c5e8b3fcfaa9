// tqpack's command line: `build`, `verify`, `list`, `bundle` and `sign`, each with -h/--help;
// --version anywhere.
// Options take their value as `--opt value` or `--opt=value`. A usage error is one line naming
// the problem and a pointer to the command's help, exit status 64; failures exit with 1 and a
// list of the problems found.
#include "tqpack.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

static const char MainUsage[] =
    "Usage: tqpack COMMAND [OPTION]...\n"
    "Build, verify, list and bundle a distribution of the Tessel setup program.\n"
    "\n"
    "Commands:\n"
    "  build    make a distribution folder (setup.exe, setup.tq, the text files)\n"
    "  verify   check that a distribution folder (or a bundle) would install\n"
    "  list     list the payload of a distribution folder (or a bundle's archive)\n"
    "  bundle   make the one file to download: the self-extractor and a distribution\n"
    "  sign     sign a program (setup.exe, a download) with an Authenticode signature\n"
    "\n"
    "  -h, --help     show this help; `tqpack COMMAND --help` describes a command\n"
    "      --version  show the version\n"
    "\n"
    "Exit status: 0 success, 1 problems found (listed), 64 usage error.\n";

// The signing options of build, bundle and sign.
#define SIGNING_OPTIONS_HELP \
    "  --sign-pkcs12=FILE    sign with the key and certificate of a PKCS#12 file, or\n" \
    "  --sign-key=FILE       with this private key (PEM or DER) and\n" \
    "  --sign-cert=FILE      its certificate with the chain (PEM, DER or PKCS#7)\n" \
    "  --sign-pass-file=FILE the key's password is the first line of FILE, or\n" \
    "  --sign-pass-env=NAME  the value of the environment variable NAME; it is\n" \
    "                        handed to osslsigncode on a pipe, never on a command line\n" \
    "  --timestamp=URL       have the signature time-stamped by this RFC 3161 server\n"

static const char BuildUsage[] =
    "Usage: tqpack build --setup=SETUP.EXE --payload=DIR --texts=DIR --out=DIST\n"
    "                    [OPTION]...\n"
    "\n"
    "Writes DIST/setup.exe (a copy keeping its last-write time), DIST/setup.tq\n"
    "(every file of the payload folder, deflated or stored, encrypted) and the\n"
    "seven text files README.TXT, TESSEL.TXT, LICENSE.TXT, VENDOR.TXT,\n"
    "WHATSNEW.TXT, FILE_ID.DIZ and ORDER.TXT from the text folder, stamped with\n"
    "setup.exe's exact last-write time.\n"
    "\n"
    "The payload folder must be flat and hold the main program, either as\n"
    "tessel32.ex_ or as TESSEL32.EXE (stored as tessel32.ex_; setup renames it back\n"
    "when it installs). File names must be printable ASCII without\n"
    "\\ / : < > \" | ? *, and short enough for setup to write them into its longest\n"
    "proposed install folder.\n"
    "\n"
    "  --setup=FILE      the setup program; by default the one installed under\n"
    "                    tqpack's prefix (share/tessel/setup.exe)\n"
    "  --deflate=LIB     libdeflate (level 12, the default) or zlib (level 9)\n"
    "  --password=TEXT   accepted only as setup's built-in password: setup decrypts\n"
    "                    the payload with that one alone, so any other would make a\n"
    "                    distribution that cannot install\n"
    "  -q, --quiet       no progress bar\n"
    "  -h, --help        show this help\n"
    "\n"
    "Signing (Authenticode, SHA-256, by osslsigncode) writes DIST/setup.exe signed,\n"
    "before the text files are stamped with its time, so setup accepts them:\n"
    SIGNING_OPTIONS_HELP
    "\n"
    "The same input gives the same bytes (but for a signature's time): entries are sorted by name and the\n"
    "encryption headers come from a generator seeded by each entry's name and\n"
    "content, or by SOURCE_DATE_EPOCH.\n";

static const char VerifyUsage[] =
    "Usage: tqpack verify DIST|BUNDLE.exe\n"
    "\n"
    "Checks what setup checks (setup.exe, setup.tq and the seven text files\n"
    "present, each text file last written at exactly setup.exe's time), walks the\n"
    "payload's records and runs the extraction engine in a test run over it with\n"
    "the built-in password, CRC errors reported. A bundle: the archive behind the\n"
    "self-extractor is found and walked, it holds the distribution's files with the\n"
    "text files stored at setup.exe's time, and the engine unpacks it into a\n"
    "scratch folder, which must then pass as a distribution folder.\n"
    "\n"
    "setup.exe must be a Windows GUI program carrying setup's resources. The\n"
    "Authenticode signature of setup.exe and of a bundle is shown: not signed, or\n"
    "signed by whom, and whether the signature matches the file's bytes (a broken\n"
    "one is a problem) and whether the certificate chains to a trusted root of the\n"
    "system's store (shown only: a vendor's test certificate does not). A setup.exe\n"
    "signed after the build is named: the text files no longer carry its time.\n"
    "\n"
    "Exits 0 when the distribution would install, 1 with the list of problems\n"
    "otherwise.\n";

static const char ListUsage[] =
    "Usage: tqpack list [-v] DIST|BUNDLE.exe\n"
    "\n"
    "Lists the entries of DIST/setup.tq, or of the archive behind a bundle's\n"
    "self-extractor, as tqunzip -l does: size, packed size, method, ratio, date and\n"
    "time (the stored MS-DOS time, local), CRC-32, an encryption mark (*) and the\n"
    "name, then the totals.\n"
    "\n"
    "  -v, --verbose  add the seconds, each entry's local header offset and notes,\n"
    "                 and the signature of setup.exe or of the bundle\n";

static const char BundleUsage[] =
    "Usage: tqpack bundle DIST --out=FILE.exe [OPTION]...\n"
    "\n"
    "Verifies DIST as `verify` does, then writes FILE.exe: the self-extractor\n"
    "followed by a ZIP archive of setup.exe, setup.tq and the seven text files\n"
    "(deflated or stored, not encrypted, each with its own time; offsets count from\n"
    "the start of FILE.exe). Run on Windows, FILE.exe unpacks them into a new\n"
    "temporary folder, runs setup.exe with -argv0 and its own path, and removes the\n"
    "folder afterwards.\n"
    "\n"
    "  --stub=PATH    the self-extractor, a Windows build's tqsfx.exe; by default\n"
    "                 the one installed under tqpack's prefix (share/tessel)\n"
    "  --deflate=LIB  libdeflate (level 12, the default) or zlib (level 9)\n"
    "  -q, --quiet    no progress bar\n"
    "  -h, --help     show this help\n"
    "\n"
    "Signing options sign the finished FILE.exe (the self-extractor finds its\n"
    "archive in front of the signature). A signed self-extractor's own signature\n"
    "is left out of FILE.exe: only a signature of the whole download holds.\n"
    SIGNING_OPTIONS_HELP
    "\n"
    "The same input gives the same bytes (but for a signature's time).\n";

static const char SignUsage[] =
    "Usage: tqpack sign FILE (--sign-pkcs12=FILE | --sign-key=FILE --sign-cert=FILE)\n"
    "                   [OPTION]...\n"
    "\n"
    "Signs the Windows program FILE in place with an Authenticode signature\n"
    "(SHA-256) made by osslsigncode; an earlier signature is replaced. Sign a\n"
    "bundle this way, or let `tqpack bundle` do it. setup.exe is better signed by\n"
    "`tqpack build`: signing a built setup.exe gives it a new time, which its text\n"
    "files no longer carry.\n"
    "\n"
    SIGNING_OPTIONS_HELP
    "  -h, --help            show this help\n";

// One option of a command. Value receives the text of an option that takes one; Flag is set by
// one that does not.
struct CommandOption {
    const char* Name;   // "--name"
    char Short;         // 'x' for -x, or 0
    std::string* Value;
    bool* Flag;
};

static int CommandUsageError(const std::string& command, const std::string& problem)
{
    return UsageError(command.empty() ? "tqpack" : "tqpack " + command, problem);
}

// Parses a command's arguments: options from the table, -h/--help, --version, "--" and the
// positional arguments. Returns -1 to go on, otherwise the exit status (help shown, or a usage
// error reported).
static int ParseArguments(const std::string& command, const char* usage, int argc, char** argv,
                          const std::vector<CommandOption>& table, std::vector<std::string>& positional)
{
    bool optionsEnd = false;
    for (int i = 0; i < argc; i++) {
        std::string argument = argv[i];
        if (optionsEnd || argument.size() < 2 || argument[0] != '-') {
            positional.push_back(argument);
            continue;
        }
        if (argument == "--") {
            optionsEnd = true;
            continue;
        }
        if (argument == "-h" || argument == "--help") {
            std::fputs(usage, stdout);
            return ExitSuccess;
        }
        if (argument == "--version") {
            return PrintVersion("tqpack");
        }
        std::string name = argument, value;
        bool inlineValue = false;
        std::string::size_type equals = argument.find('=');
        if (argument.compare(0, 2, "--") == 0 && equals != std::string::npos) {
            name = argument.substr(0, equals);
            value = argument.substr(equals + 1);
            inlineValue = true;
        }
        const CommandOption* match = nullptr;
        for (const CommandOption& option : table)
            if (name == option.Name || (option.Short && name.size() == 2 && name[1] == option.Short))
                match = &option;
        if (!match)
            return CommandUsageError(command, "unknown option " + name);
        if (match->Flag) {
            if (inlineValue)
                return CommandUsageError(command, name + " takes no value");
            *match->Flag = true;
            continue;
        }
        if (!inlineValue) {
            if (i + 1 >= argc)
                return CommandUsageError(command, name + " needs a value");
            value = argv[++i];
        }
        *match->Value = value;
    }
    return -1;
}

// A file installed under tqpack's own prefix (its path relative to tqpack's folder), or empty
// when there is none.
static std::string InstalledFile(const char* relative)
{
    char self[PATH_MAX];
    ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
    if (length <= 0)
        return std::string();
    std::string folder(self, static_cast<size_t>(length));
    folder.resize(folder.find_last_of('/') + 1);
    std::string file = folder + relative;
    return IsRegularFile(file) ? file : std::string();
}

// Adds the signing options to a command's table.
static void AddSigningOptions(std::vector<CommandOption>& table, SigningOptions& signing)
{
    table.push_back({"--sign-pkcs12", 0, &signing.Pkcs12Path, nullptr});
    table.push_back({"--sign-key", 0, &signing.KeyPath, nullptr});
    table.push_back({"--sign-cert", 0, &signing.CertificatePath, nullptr});
    table.push_back({"--sign-pass-file", 0, &signing.PasswordFile, nullptr});
    table.push_back({"--sign-pass-env", 0, &signing.PasswordVariable, nullptr});
    table.push_back({"--timestamp", 0, &signing.TimestampUrl, nullptr});
}

static void PrintNotes(const Problems& notes)
{
    for (const std::string& note : notes)
        std::printf("  %s\n", note.c_str());
}

static int ReportProblems(const char* command, const std::string& what, const Problems& problems)
{
    std::fprintf(stderr, "tqpack %s: %s:\n", command, what.c_str());
    for (const std::string& problem : problems)
        std::fprintf(stderr, "  - %s\n", problem.c_str());
    return ExitFailure;
}

// --deflate: libdeflate (the default, left as it is when the option is absent) or zlib.
static bool ChooseCompressor(const std::string& name, Compressor& chosen)
{
    if (name == "zlib")
        chosen = Compressor::Zlib;
    else if (!name.empty() && name != "libdeflate")
        return false;
    return true;
}

static int RunBuild(int argc, char** argv)
{
    BuildOptions options;
    std::string password, deflate;
    bool quiet = false;
    std::vector<std::string> positional;
    std::vector<CommandOption> table = {{"--setup", 0, &options.SetupPath, nullptr},
                                        {"--payload", 0, &options.PayloadFolder, nullptr},
                                        {"--texts", 0, &options.TextsFolder, nullptr},
                                        {"--out", 0, &options.OutFolder, nullptr},
                                        {"--password", 0, &password, nullptr},
                                        {"--deflate", 0, &deflate, nullptr},
                                        {"--quiet", 'q', nullptr, &quiet}};
    AddSigningOptions(table, options.Signing);
    int parsed = ParseArguments("build", BuildUsage, argc, argv, table, positional);
    if (parsed != -1)
        return parsed;
    if (!positional.empty())
        return CommandUsageError("build", "unexpected argument " + positional[0]);
    if (options.SetupPath.empty())
        options.SetupPath = InstalledFile(TQ_INSTALLED_SETUP);
    if (options.PayloadFolder.empty() || options.TextsFolder.empty() || options.OutFolder.empty())
        return CommandUsageError("build", "--payload, --texts and --out are all needed");
    if (options.SetupPath.empty())
        return CommandUsageError("build", "--setup is needed: no setup.exe is installed under tqpack's prefix");
    if (!ChooseCompressor(deflate, options.UseCompressor))
        return CommandUsageError("build", "--deflate takes libdeflate or zlib");
    // Setup has no way to learn another password: it decrypts with its built-in one.
    if (!password.empty() && password != DefaultPassword)
        return CommandUsageError("build", "--password: setup decrypts the payload with its built-in password only, "
                                   "so a payload encrypted with another one would not install");
    if (SigningWanted(options.Signing) && !CheckSigningOptions(options.Signing).empty())
        return CommandUsageError("build", CheckSigningOptions(options.Signing));
    options.ShowProgress = !quiet && isatty(STDERR_FILENO);

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
    bool verbose = false;
    std::vector<CommandOption> table;
    if (std::strcmp(command, "list") == 0)
        table.push_back({"--verbose", 'v', nullptr, &verbose});
    std::vector<std::string> positional;
    int parsed = ParseArguments(command, usage, argc, argv, table, positional);
    if (parsed != -1)
        return parsed;
    if (positional.size() != 1)
        return CommandUsageError(
            command, positional.empty() ? "no distribution folder given" : "one distribution folder, please");
    Problems problems;
    const std::string& folder = positional[0];
    bool bundle = IsRegularFile(folder); // a bundle is one file, a distribution a folder
    if (std::strcmp(command, "list") == 0) {
        if (!(bundle ? ListBundle(folder, verbose, problems) : ListDistribution(folder, verbose, problems)))
            return ReportProblems(command, "cannot list " + folder, problems);
        return ExitSuccess;
    }
    Problems notes;
    bool sound = bundle ? VerifyBundle(folder, problems, &notes) : VerifyDistribution(folder, problems, &notes);
    PrintNotes(notes);
    if (!sound)
        return ReportProblems(command, folder + " would not install", problems);
    std::printf("tqpack verify: %s would install\n", folder.c_str());
    return ExitSuccess;
}

static int RunBundle(int argc, char** argv)
{
    BundleOptions options;
    std::string deflate;
    bool quiet = false;
    std::vector<std::string> positional;
    std::vector<CommandOption> table = {{"--out", 0, &options.OutFile, nullptr},
                                        {"--stub", 0, &options.StubPath, nullptr},
                                        {"--deflate", 0, &deflate, nullptr},
                                        {"--quiet", 'q', nullptr, &quiet}};
    AddSigningOptions(table, options.Signing);
    int parsed = ParseArguments("bundle", BundleUsage, argc, argv, table, positional);
    if (parsed != -1)
        return parsed;
    if (positional.size() > 1)
        return CommandUsageError("bundle", "one distribution folder, please");
    if (positional.empty() || options.OutFile.empty())
        return CommandUsageError("bundle", "a distribution folder and --out are needed");
    if (options.StubPath.empty())
        options.StubPath = InstalledFile(TQ_INSTALLED_STUB);
    if (options.StubPath.empty())
        return CommandUsageError("bundle", "--stub is needed: no tqsfx.exe is installed under tqpack's prefix");
    options.DistFolder = positional[0];
    if (!ChooseCompressor(deflate, options.UseCompressor))
        return CommandUsageError("bundle", "--deflate takes libdeflate or zlib");
    if (SigningWanted(options.Signing) && !CheckSigningOptions(options.Signing).empty())
        return CommandUsageError("bundle", CheckSigningOptions(options.Signing));
    options.ShowProgress = !quiet && isatty(STDERR_FILENO);

    PackStats stats;
    Problems problems;
    if (!BundleDistribution(options, stats, problems))
        return ReportProblems("bundle", "cannot bundle " + options.DistFolder, problems);
    std::printf("tqpack bundle: wrote %s: the self-extractor and %d files, %llu bytes packed into %llu\n",
                options.OutFile.c_str(), stats.Entries, static_cast<unsigned long long>(stats.StoredBytes),
                static_cast<unsigned long long>(stats.ArchiveBytes));
    return ExitSuccess;
}

static int RunSign(int argc, char** argv)
{
    SigningOptions signing;
    std::vector<CommandOption> table;
    AddSigningOptions(table, signing);
    std::vector<std::string> positional;
    int parsed = ParseArguments("sign", SignUsage, argc, argv, table, positional);
    if (parsed != -1)
        return parsed;
    if (positional.size() != 1)
        return CommandUsageError("sign", positional.empty() ? "no program given" : "one program, please");
    std::string wrong = CheckSigningOptions(signing);
    if (!wrong.empty())
        return CommandUsageError("sign", wrong);
    const std::string& program = positional[0];
    Problems problems;
    std::vector<unsigned char> bytes;
    ProgramHeaders headers;
    if (!ReadWholeFile(program, bytes, problems))
        return ReportProblems("sign", "cannot sign " + program, problems);
    if (!ReadProgramHeaders(bytes, headers)) {
        problems.push_back(program + " is not a Windows program");
        return ReportProblems("sign", "cannot sign " + program, problems);
    }
    if (!SignProgram(signing, program, program, problems))
        return ReportProblems("sign", "cannot sign " + program, problems);
    std::printf("tqpack sign: %s %s\n", program.c_str(), DescribeSignature(CheckSignature(program)).c_str());
    return ExitSuccess;
}

static int RunVerify(int argc, char** argv)
{
    return RunFolderCommand("verify", VerifyUsage, argc, argv);
}

static int RunList(int argc, char** argv)
{
    return RunFolderCommand("list", ListUsage, argc, argv);
}

// The commands, each run with the arguments behind its name.
struct Command {
    const char* Name;
    int (*Run)(int argc, char** argv);
};
static const Command Commands[] = {
    {"build", RunBuild},
    {"verify", RunVerify},
    {"list", RunList},
    {"bundle", RunBundle},
    {"sign", RunSign},
};

int main(int argc, char** argv)
{
    if (argc < 2)
        return CommandUsageError("", "no command given");
    std::string command = argv[1];
    for (const Command& entry : Commands)
        if (command == entry.Name)
            return entry.Run(argc - 2, argv + 2);
    if (command == "help") {
        std::fputs(MainUsage, stdout);
        return ExitSuccess;
    }
    std::vector<std::string> positional;
    int parsed = ParseArguments("", MainUsage, argc - 1, argv + 1, {}, positional);
    if (parsed != -1)
        return parsed;
    return CommandUsageError("", "unknown command " + command);
}
