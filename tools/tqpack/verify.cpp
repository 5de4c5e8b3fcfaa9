// `tqpack verify` and `tqpack list`: everything setup checks in a distribution folder before
// it installs (the seven text files with setup.exe's exact time, the payload archive), the
// payload's records as the engine walks them, and a test run of the engine itself; besides,
// that setup.exe is a setup program, and whether it is signed and the signature holds.
#include "tqpack.h"

#include <cctype>
#include <cstdio>
#include <ctime>

#ifdef TQPACK_WITH_ENGINE
#include "base/posix/sink.h"
#include "unzip/unzip.h"

// The engine's error boxes of the current run; the native layer hands them here.
static Problems* EngineMessages;

static int CollectEngineMessage(HWND, const char* text, const char*, UINT)
{
    if (EngineMessages)
        EngineMessages->push_back(std::string("extraction engine: ") + text);
    return IDOK;
}
#endif

constexpr uint32_t EncryptionHeaderSize = 12;

// A file time as UTC with all seven decimal places of the 100-ns tick.
static std::string FormatTicks(int64_t ticks)
{
    constexpr int64_t ticksPerSecond = 10000000;
    time_t seconds = static_cast<time_t>(ticks / ticksPerSecond - 11644473600LL);
    struct tm utc;
    char text[64];
    if (!gmtime_r(&seconds, &utc))
        return std::to_string(ticks);
    size_t length = std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &utc);
    std::snprintf(text + length, sizeof text - length, ".%07lld UTC",
                  static_cast<long long>(ticks % ticksPerSecond));
    return text;
}

static bool SameNameIgnoringCase(const std::string& a, const std::string& b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); i++)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

// setup.exe is a setup program, and its signature, if any, holds. Signing is the one change
// after the build that a vendor makes on purpose, so a signed setup.exe whose time the text
// files do not share is named as such.
static void CheckSetupFile(const std::string& distFolder, Problems& problems, Problems* notes, bool& signedLater)
{
    std::string setupPath = JoinPath(distFolder, SetupProgramName);
    bool wide = false;
    std::string reason = CheckSetupProgram(setupPath, &wide);
    if (!reason.empty()) {
        problems.push_back(std::string(SetupProgramName) + " " + reason);
        return;
    }
    if (wide && notes)
        notes->push_back(std::string(SetupProgramName) + " is the 64-bit test build; a release ships the 32-bit one");
    SignatureReport report = CheckSignature(setupPath);
    std::string line = std::string(SetupProgramName) + ": " + DescribeSignature(report);
    if (report.State == SignatureState::Broken)
        problems.push_back(line);
    else if (notes)
        notes->push_back(line);
    signedLater = report.State == SignatureState::Intact;
}

static void CheckTextFiles(const std::string& distFolder, bool setupSigned, Problems& problems)
{
    std::string setupPath = JoinPath(distFolder, SetupProgramName);
    int64_t setupTicks = 0;
    if (!IsRegularFile(setupPath) || !GetFileTime100ns(setupPath, setupTicks)) {
        problems.push_back(std::string(SetupProgramName) + " missing");
        return;
    }
    // A signed setup.exe newer than every text file: signed after the build.
    int64_t latestText = 0;
    int older = 0;
    for (const char* name : TextFileNames) {
        int64_t ticks = 0;
        if (GetFileTime100ns(JoinPath(distFolder, name), ticks) && ticks < setupTicks) {
            latestText = ticks > latestText ? ticks : latestText;
            older++;
        }
    }
    if (setupSigned && older == static_cast<int>(sizeof TextFileNames / sizeof TextFileNames[0])) {
        problems.push_back("setup.exe was signed after the build: it was last written " + FormatTicks(setupTicks)
                           + ", the text files before, up to " + FormatTicks(latestText)
                           + " (setup stops with message 1023); sign it with tqpack build's --sign options, "
                             "which sign setup.exe before the text files take its time");
        return;
    }
    for (const char* name : TextFileNames) {
        std::string path = JoinPath(distFolder, name);
        int64_t ticks = 0;
        if (!IsRegularFile(path) || !GetFileTime100ns(path, ticks))
            problems.push_back(std::string(name) + " missing (setup stops with message 1013)");
        else if (ticks != setupTicks)
            problems.push_back(std::string(name) + " last written " + FormatTicks(ticks) + ", not at "
                               + FormatTicks(setupTicks) + " like setup.exe (setup stops with message 1023)");
    }
}

static void CheckEntries(const std::vector<ArchiveEntry>& entries, Problems& problems)
{
    bool mainProgram = false;
    for (const ArchiveEntry& entry : entries) {
        std::string reason = CheckPayloadName(entry.Name);
        if (!reason.empty())
            problems.push_back("payload entry \"" + entry.Name + "\": " + reason);
        if (entry.Method != MethodStored && entry.Method != MethodDeflated)
            problems.push_back("payload entry " + entry.Name + ": compression method "
                               + std::to_string(entry.Method) + " (setup reads only 0 and 8)");
        if ((entry.Flags & FlagEncrypted) && entry.CompressedSize < EncryptionHeaderSize)
            problems.push_back("payload entry " + entry.Name + ": shorter than its encryption header");
        if (SameNameIgnoringCase(entry.Name, PayloadMainProgram))
            mainProgram = true;
    }
    if (!mainProgram)
        problems.push_back(std::string("payload holds no ") + PayloadMainProgram
                           + ", the main program that setup puts in place");
}

// The engine's run as setup's request would run it: the built-in password, and a CRC mismatch
// (or Deflate data that does not decode to its end) reported, so a damaged or wrongly encrypted
// archive is found. A test run writes nothing.
bool RunEngine(const std::string& archivePath, uint32_t startOffset, const char* destFolder,
               Problems& problems)
{
#ifdef TQPACK_WITH_ENGINE
    ExtractRequest request{};
    request.ReportCrcErrors = 1;
    request.ArchivePath = archivePath.c_str();
    request.DestFolder = destFolder;
    request.StartOffset = static_cast<int>(startOffset);
    size_t problemsBefore = problems.size();
    EngineMessages = &problems;
    SetMessageBoxSink(CollectEngineMessage);
    int ran = ExtractArchive(&request);
    SetMessageBoxSink(nullptr);
    EngineMessages = nullptr;
    if (ran != 1) {
        problems.push_back("the extraction engine refused the run");
        return false;
    }
    if (request.Result != 0 || problems.size() != problemsBefore) {
        problems.push_back("the extraction engine's " + std::string(destFolder ? "extraction" : "test run")
                           + " of " + archivePath + " ended with result " + std::to_string(request.Result)
                           + " (setup would fail to install)");
        return false;
    }
    return true;
#else
    (void)startOffset;
    (void)destFolder;
    problems.push_back("this tqpack was built without the extraction engine, so " + archivePath
                       + " was not run through it");
    return false;
#endif
}

bool TestArchiveWithEngine(const std::string& archivePath, Problems& problems)
{
    return RunEngine(archivePath, 0, nullptr, problems);
}

bool VerifyDistribution(const std::string& distFolder, Problems& problems, Problems* notes)
{
    size_t problemsBefore = problems.size();
    if (!IsDirectory(distFolder)) {
        problems.push_back("distribution folder " + distFolder + " not found");
        return false;
    }
    bool setupSigned = false;
    if (IsRegularFile(JoinPath(distFolder, SetupProgramName)))
        CheckSetupFile(distFolder, problems, notes, setupSigned);
    CheckTextFiles(distFolder, setupSigned, problems);
    std::string archive = JoinPath(distFolder, PayloadArchiveName);
    if (!IsRegularFile(archive)) {
        problems.push_back(std::string(PayloadArchiveName) + " missing");
        return false;
    }
    std::vector<ArchiveEntry> entries;
    if (ReadArchiveEntries(archive, entries, problems))
        CheckEntries(entries, problems);
    // The engine runs in every case: it is what setup will meet, whatever the walk above said.
    TestArchiveWithEngine(archive, problems);
    return problems.size() == problemsBefore;
}

bool ListDistribution(const std::string& distFolder, bool verbose, Problems& problems)
{
    std::vector<ArchiveEntry> entries;
    if (!ReadArchiveEntries(JoinPath(distFolder, PayloadArchiveName), entries, problems))
        return false;
    if (verbose)
        std::printf("%s: %s\n", SetupProgramName,
                    DescribeSignature(CheckSignature(JoinPath(distFolder, SetupProgramName))).c_str());
    PrintListing(stdout, entries, verbose, false);
    return true;
}
