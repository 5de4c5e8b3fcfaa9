// Command tests of tqunzip: the program is run as a user runs it, in a scratch folder, on archives
// that Info-ZIP zip, bsdtar, 7z and Python's zipfile make at test time from a fixed payload. The
// tests check exit statuses, the engine's texts on standard error, the files written and the
// listing. A test whose archiver is not installed is skipped.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <pty.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct ToolRun {
    int status;
    std::string out;
    std::string err;
};

uint32_t Crc32(const std::string& bytes)
{
    uint32_t crc = 0xFFFFFFFF;
    for (unsigned char b : bytes) {
        crc ^= b;
        for (int k = 0; k < 8; ++k)
            crc = (crc >> 1) ^ (0xEDB88320 & (0 - (crc & 1)));
    }
    return ~crc;
}

std::string Hex8(uint32_t value)
{
    char text[9];
    snprintf(text, sizeof text, "%08x", value);
    return text;
}

std::string Pad10(size_t value)
{
    char text[32];
    snprintf(text, sizeof text, "%10zu", value);
    return text;
}

bool HaveProgram(const char* name)
{
    return system((std::string("command -v ") + name + " >/dev/null 2>&1").c_str()) == 0;
}

class Tqunzip : public testing::Test {
protected:
    std::string root;   // holds the captured output and the working folder
    std::string work;   // the tool's current folder; the payload and archives live here
    std::string text, binary, small;

    void SetUp() override
    {
        char pattern[] = "/tmp/tqunzip-test-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        root = pattern;
        work = root + "/cwd";
        ASSERT_EQ(mkdir(work.c_str(), 0755), 0);

        // A text that deflates well, 70000 bytes of noise (more than one window and one block),
        // a short file in a sub-folder and an empty one.
        std::ostringstream lines;
        for (int i = 0; i < 400; ++i)
            lines << "line " << i << " of the sample text, which repeats itself\n";
        text = lines.str();
        std::mt19937 random(20261208);
        for (int i = 0; i < 70000; ++i)
            binary += (char)(random() & 0xFF);
        small = "deep down\n";
        Write("a.txt", text);
        ASSERT_EQ(Shell("mkdir -p sub/deep"), 0);
        Write("sub/bin.dat", binary);
        Write("sub/deep/c.txt", small);
        Write("empty.txt", "");
    }

    void TearDown() override { system(("rm -rf '" + root + "'").c_str()); }

    void Write(const std::string& name, const std::string& bytes)
    {
        std::ofstream(work + "/" + name, std::ios::binary) << bytes;
    }

    std::string Read(const std::string& name)
    {
        std::ifstream in(work + "/" + name, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

    bool Exists(const std::string& name) { return access((work + "/" + name).c_str(), F_OK) == 0; }

    int Shell(const std::string& command)
    {
        return system(("cd '" + work + "' && { " + command + "; } >/dev/null 2>&1").c_str());
    }

    // Makes the archive name of the payload files with an archiver command line that ends in
    // the archive name and the files.
    void MakeWith(const std::string& command, const std::string& name)
    {
        ASSERT_EQ(Shell(command + " " + name + " a.txt sub/bin.dat sub/deep/c.txt empty.txt"), 0) << command;
    }

    ToolRun Run(std::vector<std::string> args)
    {
        std::string outPath = root + "/stdout", errPath = root + "/stderr";
        pid_t child = fork();
        if (child == 0) {
            if (chdir(work.c_str()) != 0)
                _exit(126);
            int in = open("/dev/null", O_RDONLY);
            int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            dup2(in, 0);
            dup2(out, 1);
            dup2(err, 2);
            std::vector<char*> argv{(char*)TQUNZIP};
            for (std::string& a : args)
                argv.push_back(&a[0]);
            argv.push_back(nullptr);
            execv(TQUNZIP, argv.data());
            _exit(127);
        }
        int status = 0;
        waitpid(child, &status, 0);
        ToolRun run{WIFEXITED(status) ? WEXITSTATUS(status) : -1, "", ""};
        std::ifstream o(outPath), e(errPath);
        run.out.assign(std::istreambuf_iterator<char>(o), {});
        run.err.assign(std::istreambuf_iterator<char>(e), {});
        return run;
    }
};

// ---- command line -------------------------------------------------------------------------

TEST_F(Tqunzip, UsageErrorsExitWith64AndSayWhy)
{
    struct Case {
        std::vector<std::string> args;
        const char* reason;
    } cases[] = {
        {{}, "no archive given"},
        {{"-x", "a.zip"}, "unknown option -x"},
        {{"--frobnicate", "a.zip"}, "unknown option --frobnicate"},
        {{"a.zip", "-d"}, "option -d needs a value"},
        {{"-o", "12x", "a.zip"}, "bad offset: 12x"},
        {{"-o", "-5", "a.zip"}, "bad offset: -5"},
        {{"-t", "-l", "a.zip"}, "-t and -l exclude each other"},
        {{"-t", "-d", "out", "a.zip"}, "-d does not go with -t or -l"},
        {{"-d", "", "a.zip"}, "-d needs a folder name"},
    };
    for (Case& c : cases) {
        ToolRun run = Run(c.args);
        EXPECT_EQ(run.status, 64) << c.reason;
        EXPECT_EQ(run.err.rfind(std::string("tqunzip: ") + c.reason + "\nusage: tqunzip", 0), 0u) << run.err;
        EXPECT_EQ(run.out, "");
    }
}

TEST_F(Tqunzip, HelpGoesToStandardOutput)
{
    ToolRun run = Run({"--help"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out.rfind("usage: tqunzip [options] ARCHIVE [NAME...]\n", 0), 0u);
    EXPECT_NE(run.out.find("-p PASSWORD"), std::string::npos);
    EXPECT_EQ(run.err, "");
}

// ---- extraction ---------------------------------------------------------------------------

TEST_F(Tqunzip, ExtractsInfoZipArchiveIntoFolderWithoutPaths)
{
    MakeWith("zip -q -X", "z.zip");
    ASSERT_EQ(Shell("mkdir out"), 0);
    ToolRun run = Run({"-q", "-d", "out", "z.zip"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(Read("out/a.txt"), text);
    EXPECT_EQ(Read("out/bin.dat"), binary);
    EXPECT_EQ(Read("out/c.txt"), small);
    EXPECT_TRUE(Exists("out/empty.txt"));
    EXPECT_EQ(Read("out/empty.txt"), "");
}

TEST_F(Tqunzip, ExtractsIntoCurrentFolderAndNamesEachFile)
{
    MakeWith("zip -q -X", "z.zip");
    ASSERT_EQ(Shell("mkdir here && mv z.zip here/"), 0);
    work += "/here";
    ToolRun run = Run({"z.zip"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "  extracting: a.txt\n  extracting: bin.dat\n  extracting: c.txt\n"
                       "  extracting: empty.txt\n");
    EXPECT_EQ(Read("bin.dat"), binary);
    EXPECT_EQ(Read("c.txt"), small);
}

TEST_F(Tqunzip, KeepPathsNeedsTheFoldersToExist)
{
    MakeWith("zip -q -X", "z.zip");
    ASSERT_EQ(Shell("mkdir -p out/sub/deep missing"), 0);
    ToolRun run = Run({"-q", "-k", "-d", "out", "z.zip"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(Read("out/sub/bin.dat"), binary);
    EXPECT_EQ(Read("out/sub/deep/c.txt"), small);

    run = Run({"-q", "-k", "-d", "missing", "z.zip"});
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.err, "Can't create output file: missing\\sub\\bin.dat\n");
    EXPECT_EQ(Read("missing/a.txt"), text);   // written before the failure, and kept
}

TEST_F(Tqunzip, NamesSelectEntriesRegardlessOfCase)
{
    MakeWith("zip -q -X", "z.zip");
    ASSERT_EQ(Shell("mkdir out"), 0);
    ToolRun run = Run({"-q", "-d", "out", "z.zip", "SUB/Deep/C.TXT", "a.txt", "bin.dat"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(Read("out/c.txt"), small);
    EXPECT_EQ(Read("out/a.txt"), text);
    EXPECT_FALSE(Exists("out/bin.dat"));   // its stored name is sub/bin.dat
    EXPECT_FALSE(Exists("out/empty.txt"));
}

TEST_F(Tqunzip, SkipEmptyLeavesEmptyEntriesOut)
{
    MakeWith("zip -q -X", "z.zip");
    ASSERT_EQ(Shell("mkdir out"), 0);
    ToolRun run = Run({"-q", "-s", "-d", "out", "z.zip"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(Exists("out/a.txt"));
    EXPECT_FALSE(Exists("out/empty.txt"));
}

TEST_F(Tqunzip, TestRunWritesNothing)
{
    MakeWith("zip -q -X", "z.zip");
    ASSERT_EQ(Shell("mkdir t && mv z.zip t/"), 0);
    work += "/t";
    ToolRun run = Run({"-t", "z.zip", "no-such-name"});   // a test run decodes every entry
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "  testing: a.txt\n  testing: bin.dat\n  testing: c.txt\n  testing: empty.txt\n"
                       "No errors detected in z.zip\n");
    FILE* listing = popen(("ls -A '" + work + "'").c_str(), "r");
    char line[256] = "";
    std::string names;
    while (fgets(line, sizeof line, listing))
        names += line;
    pclose(listing);
    EXPECT_EQ(names, "z.zip\n");
}

TEST_F(Tqunzip, ProgressOnATerminalEndsAtTheWholeArchive)
{
    MakeWith("zip -q -X -0", "z.zip");   // stored, so the archive is mostly entry data
    int master;
    pid_t child = forkpty(&master, nullptr, nullptr, nullptr);
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (chdir(work.c_str()) != 0)
            _exit(126);
        execl(TQUNZIP, TQUNZIP, "-t", "z.zip", (char*)nullptr);
        _exit(127);
    }
    std::string screen;
    char buffer[512];
    ssize_t n;
    while ((n = read(master, buffer, sizeof buffer)) > 0)
        screen.append(buffer, (size_t)n);
    int status = 0;
    waitpid(child, &status, 0);
    close(master);
    EXPECT_EQ(WEXITSTATUS(status), 0) << screen;
    EXPECT_NE(screen.find("\r\033[Ktesting bin.dat"), std::string::npos) << screen;
    // 70000 bytes of bin.dat read of roughly 75000: the last report after it is above 80%.
    EXPECT_NE(screen.find("testing empty.txt   9"), std::string::npos) << screen;
    EXPECT_NE(screen.find("No errors detected in z.zip"), std::string::npos);
}

TEST_F(Tqunzip, InterruptCancelsAndDeletesTheFileBeingWritten)
{
    // 400 MB of zeros deflate to some 400 KB, which take the engine long enough to interrupt.
    ASSERT_EQ(Shell("python3 -c \"import zipfile\n"
                    "with zipfile.ZipFile('zeros.zip','w',zipfile.ZIP_DEFLATED) as z:\n"
                    "    z.writestr('first.txt','first\\n')\n"
                    "    with z.open('zeros','w',force_zip64=False) as f:\n"
                    "        [f.write(bytes(1 << 20)) for i in range(400)]\""),
        0);
    ASSERT_EQ(Shell("mkdir out"), 0);
    int out[2], err[2];
    ASSERT_EQ(pipe(out), 0);
    ASSERT_EQ(pipe(err), 0);
    pid_t child = fork();
    if (child == 0) {
        if (chdir(work.c_str()) != 0)
            _exit(126);
        dup2(out[1], 1);
        dup2(err[1], 2);
        execl(TQUNZIP, TQUNZIP, "-d", "out", "zeros.zip", (char*)nullptr);
        _exit(127);
    }
    close(out[1]);
    close(err[1]);
    std::string shown;
    char buffer[256];
    ssize_t n;
    while (shown.find("extracting: zeros\n") == std::string::npos
           && (n = read(out[0], buffer, sizeof buffer)) > 0)
        shown.append(buffer, (size_t)n);
    kill(child, SIGINT);
    std::string error;
    while ((n = read(err[0], buffer, sizeof buffer)) > 0)
        error.append(buffer, (size_t)n);
    int status = 0;
    waitpid(child, &status, 0);
    close(out[0]);
    close(err[0]);
    ASSERT_TRUE(WIFEXITED(status)) << shown;
    EXPECT_EQ(WEXITSTATUS(status), 99) << shown;
    EXPECT_EQ(error, "tqunzip: cancelled\n");
    EXPECT_EQ(Read("out/first.txt"), "first\n");
    EXPECT_FALSE(Exists("out/zeros"));
}

TEST_F(Tqunzip, ExtractsArchivesOf7zAndPythonZipfile)
{
    if (!HaveProgram("7z") || !HaveProgram("python3"))
        GTEST_SKIP() << "7z or python3 missing";
    MakeWith("7z a -tzip -mx=9 -bd", "deflated.zip");
    MakeWith("7z a -tzip -mx=0 -bd", "stored.zip");
    ASSERT_EQ(Shell("python3 -c \"import zipfile,sys\n"
                    "with zipfile.ZipFile('py.zip','w',zipfile.ZIP_DEFLATED,compresslevel=1) as z:\n"
                    "    [z.write(f) for f in ('a.txt','sub/bin.dat','sub/deep/c.txt','empty.txt')]\""),
        0);
    for (const char* archive : {"deflated.zip", "stored.zip", "py.zip"}) {
        std::string out = std::string("out-") + archive;
        ASSERT_EQ(Shell("mkdir " + out), 0);
        ToolRun run = Run({"-q", "-d", out, archive});
        EXPECT_EQ(run.status, 0) << archive << ": " << run.err;
        EXPECT_EQ(Read(out + "/a.txt"), text) << archive;
        EXPECT_EQ(Read(out + "/bin.dat"), binary) << archive;
        EXPECT_EQ(Read(out + "/c.txt"), small) << archive;
    }
}

TEST_F(Tqunzip, DecryptsWithTheBuiltInOrTheGivenPassword)
{
    MakeWith("zip -q -X -P 'Rv4-Tg9 Lm2 Qz7-Kp5 Vx8 Hc3-Nb6 Js1 Df0-Ya7E'", "default.zip");
    MakeWith("zip -q -X -P secret", "secret.zip");
    ToolRun run = Run({"-q", "-d", ".", "default.zip", "sub/bin.dat"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(Read("bin.dat"), binary);

    ASSERT_EQ(Shell("mkdir out"), 0);
    run = Run({"-q", "-p", "secret", "-d", "out", "secret.zip"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(Read("out/a.txt"), text);
    EXPECT_EQ(Read("out/bin.dat"), binary);

    if (HaveProgram("7z")) {
        MakeWith("7z a -tzip -mem=ZipCrypto -psecret -bd", "7z-secret.zip");
        ASSERT_EQ(Shell("mkdir out7"), 0);
        run = Run({"-q", "-p", "secret", "-d", "out7", "7z-secret.zip"});
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(Read("out7/bin.dat"), binary);
    }
}

TEST_F(Tqunzip, WrongPasswordIsAnError)
{
    MakeWith("zip -q -X -P secret", "secret.zip");
    ASSERT_EQ(Shell("mkdir out"), 0);
    ToolRun run = Run({"-q", "-p", "wrong", "-d", "out", "secret.zip"});
    EXPECT_EQ(run.status, 2);
    // One wrong password in 256 passes the one-byte check; the data then decrypts to garbage,
    // which the CRC comparison reports instead.
    bool refused = run.err == "INCORRECT PASSWORD\n" || run.err.rfind("ZIP damaged: file out\\", 0) == 0;
    EXPECT_TRUE(refused) << run.err;
}

// Archives written by streaming archivers keep the CRC and sizes in a data descriptor after the
// data and put zeros in the local header, which is all the engine reads. The damage must be
// reported, never passed as success (the entry would come out empty).
TEST_F(Tqunzip, StreamedDeflateEntriesAreReportedDamaged)
{
    if (!HaveProgram("bsdtar"))
        GTEST_SKIP() << "bsdtar missing";
    MakeWith("bsdtar --format zip -cf", "streamed.zip");
    ASSERT_EQ(Shell("mkdir out"), 0);
    ToolRun run = Run({"-q", "-d", "out", "streamed.zip"});
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.err, "ZIP damaged: file out\\a.txt: Bad CRC 00000000 (should be 00000000)\n");
}

TEST_F(Tqunzip, CrcErrorsAreReportedUnlessIgnored)
{
    if (!HaveProgram("bsdtar"))
        GTEST_SKIP() << "bsdtar missing";
    // bsdtar's stored entries carry their sizes but a CRC of 0 in the local header.
    MakeWith("bsdtar --format zip --options zip:compression=store -cf", "stored.zip");
    ASSERT_EQ(Shell("mkdir out"), 0);
    ToolRun run = Run({"-q", "-d", "out", "stored.zip"});
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.err, "ZIP damaged: file out\\a.txt: Bad CRC " + Hex8(Crc32(text)) + " (should be 00000000)\n");
    EXPECT_EQ(Read("out/a.txt"), text);   // complete, and kept

    run = Run({"-q", "-i", "-d", "out", "stored.zip"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(Read("out/bin.dat"), binary);
    EXPECT_EQ(Read("out/c.txt"), small);
}

TEST_F(Tqunzip, FlippedByteInStoredDataIsACrcError)
{
    MakeWith("zip -q -X -0", "z.zip");
    // a.txt is the first entry: its data starts behind the 30-byte header and the 5-byte name.
    std::string archive = Read("z.zip");
    archive[30 + 5 + 100] ^= 0x20;
    Write("bad.zip", archive);
    std::string damaged = text;
    damaged[100] ^= 0x20;
    ToolRun run = Run({"-q", "-t", "bad.zip"});
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.err, "ZIP damaged: file a.txt: Bad CRC " + Hex8(Crc32(damaged)) + " (should be "
                           + Hex8(Crc32(text)) + ")\n");
    run = Run({"-q", "-t", "-i", "bad.zip"});
    EXPECT_EQ(run.status, 0) << run.err;
}

TEST_F(Tqunzip, ArchiveErrorsShowTheEngineTexts)
{
    MakeWith("zip -q -X", "z.zip");
    std::string archive = Read("z.zip");
    Write("short.zip", archive.substr(0, archive.size() / 2));
    Write("junk.zip", std::string(3000, 'x'));

    struct Case {
        const char* archive;
        const char* err;
    } cases[] = {
        {"nosuch", "Can't open input file: nosuch.ZIP\n"},   // no dot anywhere: ".ZIP" added
        {"nosuch.zip", "Can't open input file: nosuch.zip\n"},
        {"short.zip", "Error reading short.zip.  Possible cause: bad disk\n"},
        {"junk.zip", "Invalid Zipfile Header\n"},
    };
    for (Case& c : cases) {
        ToolRun run = Run({"-t", "-q", c.archive});
        EXPECT_EQ(run.status, 2) << c.archive;
        EXPECT_EQ(run.err, c.err);
        EXPECT_EQ(run.out, "");
    }
}

TEST_F(Tqunzip, UnknownMethodIsRefusedAndLeavesNoFile)
{
    ASSERT_EQ(Shell("zip -q -X z.zip empty.txt && zip -q -X -Z bzip2 z.zip a.txt"), 0);   // method 12
    ASSERT_EQ(Shell("mkdir out"), 0);
    ToolRun run = Run({"-q", "-d", "out", "z.zip"});
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.err, "unknown compression\n");
    EXPECT_TRUE(Exists("out/empty.txt"));
    EXPECT_FALSE(Exists("out/a.txt"));
}

TEST_F(Tqunzip, StartOffsetSkipsWhatStandsInFront)
{
    MakeWith("zip -q -X", "z.zip");
    // In front: an end-of-central-directory record of 22 bytes, which ends the walk at once.
    std::string fakeEnd("PK\x05\x06", 4);
    fakeEnd += std::string(18, '\0');
    Write("prefixed.zip", fakeEnd + Read("z.zip"));
    ASSERT_EQ(Shell("mkdir a b"), 0);
    ToolRun run = Run({"-q", "-d", "a", "prefixed.zip"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_FALSE(Exists("a/a.txt"));
    run = Run({"-q", "-o", "22", "-d", "b", "prefixed.zip"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(Read("b/bin.dat"), binary);
}

// ---- listing ------------------------------------------------------------------------------

TEST_F(Tqunzip, ListsEveryEntryWithSizesMethodCrcAndEncryption)
{
    MakeWith("zip -q -X -n .dat -P secret", "z.zip");   // -n: *.dat stored
    ToolRun run = Run({"-l", "z.zip"});
    EXPECT_EQ(run.status, 0) << run.err;
    std::istringstream lines(run.out);
    std::string line;
    std::vector<std::string> all;
    while (std::getline(lines, line))
        all.push_back(line);
    ASSERT_EQ(all.size(), 8u) << run.out;
    EXPECT_EQ(all[0], "    Length  Compressed  Method      CRC-32  Enc  Name");
    // The encryption header adds 12 bytes.
    EXPECT_EQ(all[3], "     70000       70012  Stored   " + Hex8(Crc32(binary)) + "  yes  sub/bin.dat");
    EXPECT_EQ(all[2].substr(0, 10), Pad10(text.size()));
    EXPECT_NE(all[2].find("  Deflate  " + Hex8(Crc32(text)) + "  yes  a.txt"), std::string::npos) << all[2];
    EXPECT_EQ(all[5], "         0          12  Stored   00000000  yes  empty.txt");
    EXPECT_EQ(all[7].substr(0, 10), Pad10(text.size() + binary.size() + small.size()));
    EXPECT_NE(all[7].find("4 entries"), std::string::npos);
}

TEST_F(Tqunzip, ListingFollowsNamesAndQuiet)
{
    MakeWith("zip -q -X -n .dat", "z.zip");
    Write("prefixed.zip", std::string(1000, 'p') + Read("z.zip"));
    ToolRun run = Run({"-l", "-q", "prefixed.zip", "SUB/BIN.DAT"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "     70000       70000  Stored   " + Hex8(Crc32(binary)) + "  no   sub/bin.dat\n");
}

TEST_F(Tqunzip, ListingRefusesWhatIsNoArchive)
{
    Write("junk.zip", std::string(3000, 'x'));
    ToolRun run = Run({"-l", "junk.zip"});
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.err, "tqunzip: junk.zip: no end-of-central-directory record\n");
    run = Run({"-l", "absent.zip"});
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.err, "tqunzip: absent.zip: cannot open\n");
}

} // namespace
