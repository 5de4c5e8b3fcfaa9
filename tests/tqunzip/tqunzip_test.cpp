// Command tests of tqunzip: the program is run as a user runs it, in a scratch folder, on archives
// that Info-ZIP zip, bsdtar, 7z and Python's zipfile make at test time from a fixed payload. The
// tests check exit statuses, the engine's texts on standard error, the files written and the
// listing. A test whose archiver is not installed is skipped.
#include "files.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <pty.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct ToolRun {
    int status;
    std::string out;
    std::string err;
};

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

    // Files of the working folder.
    void Write(const std::string& name, const std::string& bytes)
    {
        ASSERT_TRUE(WriteWholeFile(work + "/" + name, bytes)) << name;
    }
    std::string Read(const std::string& name) { return ReadWholeFile(work + "/" + name); }
    bool Exists(const std::string& name) { return FileExists(work + "/" + name); }

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
        {{"--offset=12x", "a.zip"}, "bad offset: 12x"},
        {{"--offset", "-5", "a.zip"}, "bad offset: -5"},
        {{"a.zip", "--offset"}, "option --offset needs a value"},
        {{"-o", "-n", "a.zip"}, "-o and -n exclude each other"},
        {{"-t", "-l", "a.zip"}, "-t and -l exclude each other"},
        {{"-t", "-d", "out", "a.zip"}, "-d does not go with -t or -l"},
        {{"-d", "", "a.zip"}, "-d needs a folder name"},
        {{"-j", "0", "a.zip"}, "-j takes a number of processes from 1 to 64: 0"},
        {{"-j", "65", "a.zip"}, "-j takes a number of processes from 1 to 64: 65"},
        {{"-j2x", "a.zip"}, "-j takes a number of processes from 1 to 64: 2x"},
    };
    for (Case& c : cases) {
        ToolRun run = Run(c.args);
        EXPECT_EQ(run.status, 64) << c.reason;
        EXPECT_EQ(
            run.err, std::string("tqunzip: ") + c.reason + "\nTry 'tqunzip --help' for more information.\n");
        EXPECT_EQ(run.out, "");
    }
}

TEST_F(Tqunzip, HelpAndVersionGoToStandardOutput)
{
    for (const char* option : {"--help", "-h"}) {
        ToolRun run = Run({option, "ignored.zip"});
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(run.out.rfind("Usage: tqunzip [OPTION]... ARCHIVE [NAME]...\n", 0), 0u);
        // Every exit status is explained.
        for (const char* status : {" 0  success", " 1  warnings", " 2  a damaged", " 3  a damaged archive",
                 " 9  archive", "11  a NAME", "50  disk full", "80  interrupted", "81  unsupported",
                 "82  wrong password", "64  usage"})
            EXPECT_NE(run.out.find(status), std::string::npos) << status;
        EXPECT_EQ(run.err, "");
    }
    ToolRun run = Run({"--version"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out.rfind("tqunzip (Tessel tools) ", 0), 0u) << run.out;
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

TEST_F(Tqunzip, KeepPathsCreatesTheFoldersInsideTheDestination)
{
    ASSERT_EQ(Shell("zip -q -X -r z.zip a.txt sub"), 0);   // with the folder entries sub/ and sub/deep/
    ToolRun run = Run({"-q", "-k", "-d", "new/out", "z.zip"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(Read("new/out/a.txt"), text);
    EXPECT_EQ(Read("new/out/sub/bin.dat"), binary);
    EXPECT_EQ(Read("new/out/sub/deep/c.txt"), small);
}

TEST_F(Tqunzip, NamesSelectEntriesRegardlessOfCase)
{
    MakeWith("zip -q -X", "z.zip");
    ASSERT_EQ(Shell("mkdir out"), 0);
    ToolRun run = Run({"-q", "-d", "out", "z.zip", "SUB/Deep/C.TXT", "a.txt", "bin.dat"});
    EXPECT_EQ(run.status, 11);
    EXPECT_EQ(run.err, "tqunzip: z.zip: bin.dat: no entry matches this name\n");
    EXPECT_EQ(Read("out/c.txt"), small);
    EXPECT_EQ(Read("out/a.txt"), text);
    EXPECT_FALSE(Exists("out/bin.dat"));   // its stored name is sub/bin.dat
    EXPECT_FALSE(Exists("out/empty.txt"));
}

// What a command does with the files present: one row per case, with the files made before
// the run, the exit status, standard error and a shell check of the result afterwards.
TEST_F(Tqunzip, OverwritePolicyNamesAndFolders)
{
    ASSERT_EQ(Shell("python3 -c \"import zipfile\n"
                    "with zipfile.ZipFile('clash.zip','w') as z:\n"
                    "    z.writestr('a/x.txt','one')\n"
                    "    z.writestr('b/x.txt','two')\n"
                    "    z.writestr('docs/','')\n"
                    "with zipfile.ZipFile('evil.zip','w') as z:\n"
                    "    z.writestr('../evil.txt','evil')\n"
                    "    z.writestr('ok.txt','ok')\n"
                    "    z.writestr('dir/a:b.txt','colon')\n"
                    "    z.writestr('sub/Con.txt','device')\n"
                    "with zipfile.ZipFile('twins.zip','w') as z:\n"
                    "    z.writestr('a.txt','lower')\n"
                    "    z.writestr('A.TXT','upper')\n"
                    "with zipfile.ZipFile('many.zip','w') as z:\n"
                    "    [z.writestr('d%02d/x.txt' % i, str(i)) for i in range(12)]\n"
                    "with zipfile.ZipFile('front.zip','w') as z:\n"
                    "    z.writestr('x.txt','front')\n"
                    "with zipfile.ZipFile('back.zip','w') as z:\n"
                    "    z.writestr('y.txt','back')\""),
        0);
    // Two archives one behind the other: the directory found is the second's, the engine's walk
    // meets the first's entries.
    ASSERT_EQ(Shell("cat front.zip back.zip >hidden.zip && rm front.zip back.zip"),
        0);
    const std::string stop = "tqunzip: nothing extracted: -o overwrites, -n keeps existing files";
    struct Case {
        const char* present;   // shell commands that make the files present before the run
        std::vector<std::string> args;
        int status;
        std::string err;
        const char* check;     // shell test of the result
    } cases[] = {
        // Two entries on one name stop the run before anything is written, -d folder included.
        {"", {"-d", "out", "clash.zip"}, 1,
            "tqunzip: clash.zip: b/x.txt: lands on out/x.txt like a/x.txt\n" + stop
                + ", -k keeps the entries' folders apart\n",
            "test ! -e out"},
        {"", {"-k", "clash.zip"}, 0, "", "test $(cat a/x.txt)$(cat b/x.txt) = onetwo && test -d docs"},
        {"", {"-n", "clash.zip"}, 1, "tqunzip: clash.zip: b/x.txt: skipped: lands on x.txt like a/x.txt\n",
            "test $(cat x.txt) = one"},
        {"", {"-o", "clash.zip"}, 1, "tqunzip: clash.zip: b/x.txt: replaces a/x.txt at x.txt\n",
            "test $(cat x.txt) = two"},
        // An existing file.
        {"echo old >x.txt", {"clash.zip", "a/x.txt"}, 1,
            "tqunzip: clash.zip: a/x.txt: x.txt exists\n" + stop + "\n",
            "test $(cat x.txt) = old"},
        {"echo old >x.txt", {"-n", "clash.zip", "a/*"}, 1,
            "tqunzip: clash.zip: a/x.txt: skipped: x.txt exists\n", "test $(cat x.txt) = old"},
        {"echo old >x.txt", {"-o", "clash.zip", "a/x.txt"}, 0, "", "test $(cat x.txt) = one"},
        // The engine selects names regardless of case: an entry -n leaves out must not be taken
        // along with its twin, so the run stops.
        {"echo old >A.TXT", {"-n", "twins.zip"}, 2,
         "tqunzip: twins.zip: A.TXT: skipped: A.TXT exists\ntqunzip: twins.zip: A.TXT: cannot be left out: another "
         "entry of the same name but for letter case is extracted, and the extractor takes both\n",
         "test $(cat A.TXT) = old && test ! -e a.txt"},
        // The walk meets an entry the directory does not know: it is not written over a file.
        {"echo mine >x.txt", {"hidden.zip"}, 3,
            "tqunzip: hidden.zip: y.txt: not reached: the records end before this entry (the archive's first "
            "entry stands at byte 113: try --offset=113)\n",
            "test $(cat x.txt) = mine && test ! -e y.txt"},
        {"", {"--offset=113", "hidden.zip"}, 0, "", "test $(cat y.txt) = back && test ! -e x.txt"},
        // An archive without entries is no success to report silently.
        {"printf 'PK\\005\\006%018d' 0 | tr 0 '\\000' >empty.zip", {"-d", "out", "empty.zip"}, 1,
            "tqunzip: empty.zip: the archive holds no entries\n", "test ! -e out"},
        // Ten clashes are named, the rest counted.
        {"", {"many.zip"}, 1,
         "tqunzip: many.zip: d01/x.txt: lands on x.txt like d00/x.txt\n"
         "tqunzip: many.zip: d02/x.txt: lands on x.txt like d00/x.txt\n"
         "tqunzip: many.zip: d03/x.txt: lands on x.txt like d00/x.txt\n"
         "tqunzip: many.zip: d04/x.txt: lands on x.txt like d00/x.txt\n"
         "tqunzip: many.zip: d05/x.txt: lands on x.txt like d00/x.txt\n"
         "tqunzip: many.zip: d06/x.txt: lands on x.txt like d00/x.txt\n"
         "tqunzip: many.zip: d07/x.txt: lands on x.txt like d00/x.txt\n"
         "tqunzip: many.zip: d08/x.txt: lands on x.txt like d00/x.txt\n"
         "tqunzip: many.zip: d09/x.txt: lands on x.txt like d00/x.txt\n"
         "tqunzip: many.zip: d10/x.txt: lands on x.txt like d00/x.txt\n"
         "tqunzip: many.zip: and 1 more\n" + stop + ", -k keeps the entries' folders apart\n",
         "test ! -e x.txt"},
        // -o replaces a link by the file, never writes where it points.
        {"ln -s ../outside x.txt", {"-o", "clash.zip", "a/x.txt"}, 0, "",
            "test ! -L x.txt && test ! -e ../outside"},
        {"mkdir x.txt", {"-o", "clash.zip", "a/x.txt"}, 50,
            "tqunzip: clash.zip: a/x.txt: cannot create x.txt: Is a directory (message 1030)\n",
            "test -d x.txt"},
        // -d is created with its parents; a file in its way is named.
        {"", {"-d", "new/deeper", "clash.zip", "b/*"}, 0, "", "test $(cat new/deeper/x.txt) = two"},
        {"echo f >file", {"-d", "file/sub", "clash.zip", "b/x.txt"}, 50,
            "tqunzip: clash.zip: cannot create the folder file/sub: Not a directory\n", "test -f file"},
        // The archive name as given first, then with .zip; NAMEs without regard to case, wildcards.
        {"cp clash.zip noext", {"noext", "A/X.TXT"}, 0, "", "test $(cat x.txt) = one"},
        {"", {"clash", "?/x.t*", "-k"}, 0, "", "test -f a/x.txt && test -f b/x.txt && test ! -e docs"},
        {"", {"clash.zip", "a/x.txt", "nothing", "no*"}, 11,
            "tqunzip: clash.zip: nothing: no entry matches this name\ntqunzip: clash.zip: no*: no entry "
            "matches this name\n",
            "test $(cat x.txt) = one"},
        {"", {"-t", "clash.zip", "b/x.txt"}, 0, "", "test ! -e x.txt"},
        // The engine's containment rule: the entry is refused, the others are extracted.
        {"", {"-k", "evil.zip"}, 2,
            "tqunzip: evil.zip: ../evil.txt: refused: the name leads out of the destination folder\n"
            "tqunzip: evil.zip: dir/a:b.txt: refused: the name holds a \":\", a drive or stream on Windows\n"
            "tqunzip: evil.zip: sub/Con.txt: refused: the name is a device on Windows\n",
            "test $(cat ok.txt) = ok && test ! -e ../evil.txt && test ! -e dir && test ! -e sub"},
        // A device name is skipped up front without -k too; the run goes on with the others.
        {"", {"evil.zip", "ok.txt", "sub/*"}, 2,
            "tqunzip: evil.zip: sub/Con.txt: refused: the name is a device on Windows\n",
            "test $(cat ok.txt) = ok && test ! -e Con.txt"},
        // A test of chosen entries builds output paths, which a test of the whole archive does not.
        {"", {"-t", "evil.zip", "dir/*", "ok.txt"}, 1,
            "tqunzip: evil.zip: dir/a:b.txt: not tested alone: the name holds a \":\", a drive or stream on "
            "Windows; a test of the whole archive takes it\n",
            "true"},
        {"", {"-t", "evil.zip", "dir/*"}, 1,
            "tqunzip: evil.zip: dir/a:b.txt: not tested alone: the name holds a \":\", a drive or stream on "
            "Windows; a test of the whole archive takes it\n",
            "true"},
        {"", {"-t", "evil.zip"}, 0, "", "true"},
    };
    for (Case& c : cases) {
        std::string label = c.present;
        for (const std::string& a : c.args)
            label += " " + a;
        ASSERT_EQ(Shell("mkdir run && mv clash.zip evil.zip twins.zip many.zip hidden.zip run/"), 0);
        work += "/run";
        ASSERT_EQ(Shell(*c.present ? c.present : "true"), 0) << label;
        c.args.insert(c.args.begin(), "-q");
        ToolRun run = Run(c.args);
        EXPECT_EQ(run.status, c.status) << label;
        EXPECT_EQ(run.err, c.err) << label;
        EXPECT_EQ(Shell(c.check), 0) << label;
        ASSERT_EQ(Shell("mv clash.zip evil.zip twins.zip many.zip hidden.zip .. && cd .. && rm -rf run outside"), 0);
        work.resize(work.size() - 4);
    }
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
    ASSERT_EQ(Shell("mkdir t tmp && mv z.zip t/"), 0);
    work += "/t";
    ToolRun run = Run({"-t", "z.zip"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out,
        "  testing: a.txt\n  testing: sub/bin.dat\n  testing: sub/deep/c.txt\n  testing: empty.txt\n"
        "No errors detected in z.zip\n");
    // A test of chosen entries decodes them into a scratch folder of TMPDIR, which goes again.
    setenv("TMPDIR", (root + "/cwd/tmp").c_str(), 1);
    run = Run({"-t", "z.zip", "SUB/*"});
    unsetenv("TMPDIR");
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out,
        "  testing: sub/bin.dat\n  testing: sub/deep/c.txt\nNo errors detected in 2 entries of z.zip\n");
    for (std::string folder : {work, root + "/cwd/tmp"}) {
        FILE* listing = popen(("ls -A '" + folder + "'").c_str(), "r");
        char line[256] = "";
        std::string names;
        while (fgets(line, sizeof line, listing))
            names += line;
        pclose(listing);
        EXPECT_EQ(names, folder == work ? "z.zip\n" : "") << folder;
    }
}

// -j: the processes together extract and test what one process does, each entry once, with
// the names and the test's summary merged as one run gives them.
TEST_F(Tqunzip, SeveralProcessesDoWhatOneDoes)
{
    ASSERT_EQ(Shell("zip -q -X -r z.zip a.txt sub empty.txt"), 0);
    ToolRun one = Run({"-k", "-d", "one", "z.zip"});
    ASSERT_EQ(one.status, 0) << one.err;
    for (const char* jobs : {"2", "3", "9"}) {
        std::string folder = std::string("j") + jobs;
        ToolRun run = Run({"-j", jobs, "-k", "-d", folder, "z.zip"});
        EXPECT_EQ(run.status, 0) << jobs << run.err;
        EXPECT_EQ(run.err, "");
        EXPECT_EQ(Shell("diff -r one " + folder), 0) << jobs;
        std::multiset<std::string> lines, expected;
        std::istringstream shown(run.out), single(one.out);
        for (std::string line; std::getline(shown, line);)
            lines.insert(line.substr(line.find(folder) + folder.size()));
        for (std::string line; std::getline(single, line);)
            expected.insert(line.substr(line.find("one") + 3));
        EXPECT_EQ(lines, expected) << jobs << run.out;
    }
    ToolRun run = Run({"-j", "2", "-t", "z.zip"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out.substr(run.out.rfind("No errors")), "No errors detected in z.zip\n");
}

// -j: the first failure, and an interrupt, stop every process; the file each was writing is
// removed and the exit status is that of the failure. The large entry, 120 MB stored and
// encrypted, takes a second of decryption or more; the work shares put it in a process of its
// own. Whether the failure's stop reaches that process before it has finished is a race that
// a busy machine can lose (the entry then stands complete), so the failure half checks that no
// partial file is left; the interrupt half waits for the file to exist and proves the stop.
// The archive is grown in place and its byte flipped in place: a file of this size replaced by
// a rename or a truncation is written through to the disk at once.
TEST_F(Tqunzip, FailureOrInterruptStopsEveryProcess)
{
    Write("bad.txt", std::string(1000, 'x'));
    Write("late.txt", "late");
    ASSERT_EQ(Shell("head -c 120000000 /dev/zero > big && zip -q -X -0 -P secret z.zip big"
                    " && rm big && zip -q -X -0 -g z.zip bad.txt late.txt"),
        0);
    std::string archive = Read("z.zip");
    size_t data = archive.find(std::string(1000, 'x'));   // bad.txt, stored as it is
    ASSERT_NE(data, std::string::npos);
    archive.clear();
    auto setByte = [&](char value) {
        FILE* file = fopen((work + "/z.zip").c_str(), "r+b");
        ASSERT_NE(file, nullptr);
        ASSERT_EQ(fseek(file, (long)(data + 500), SEEK_SET), 0);
        EXPECT_EQ(fputc(value, file), value);
        EXPECT_EQ(fclose(file), 0);
    };
    setByte('y');
    ToolRun run = Run({"-q", "-j", "2", "-p", "secret", "-d", "out", "z.zip"});
    EXPECT_EQ(run.status, 2) << run.err;
    EXPECT_EQ(run.err.find("tqunzip: z.zip: bad.txt: computed CRC-32 "), 0u) << run.err;
    EXPECT_EQ(run.err.find('\n'), run.err.size() - 1) << run.err;   // one line: no other complaint
    struct stat big;
    if (stat((work + "/out/big").c_str(), &big) == 0) {
        EXPECT_EQ(big.st_size, 120000000) << "a partial file was left behind";
    }

    setByte('x');
    // Each stop signal reaches the parent, which passes it on to every process.
    for (int stop : {SIGINT, SIGTERM, SIGHUP}) {
        SCOPED_TRACE(strsignal(stop));
        ASSERT_EQ(Shell("rm -rf out"), 0);
        int err[2];
        ASSERT_EQ(pipe(err), 0);
        pid_t child = fork();
        if (child == 0) {
            if (chdir(work.c_str()) != 0)
                _exit(126);
            dup2(err[1], 2);
            execl(TQUNZIP, TQUNZIP, "-q", "-j", "2", "-p", "secret", "-d", "out", "z.zip", (char*)nullptr);
            _exit(127);
        }
        close(err[1]);
        for (int wait = 0; wait < 3000 && !Exists("out/big"); ++wait)
            usleep(10000);
        kill(child, stop);
        std::string error;
        char buffer[256];
        ssize_t n;
        while ((n = read(err[0], buffer, sizeof buffer)) > 0)
            error.append(buffer, (size_t)n);
        close(err[0]);
        int status = 0;
        waitpid(child, &status, 0);
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 80) << error;
        EXPECT_EQ(error, "tqunzip: z.zip: interrupted; the files being written were removed\n");
        EXPECT_FALSE(Exists("out/big"));
    }
}

TEST_F(Tqunzip, ProgressOnATerminalEndsAtTheWholeArchive)
{
    MakeWith("zip -q -X -0", "z.zip");   // stored, so the archive is mostly entry data
    // One process, and two whose progress the first sums into one bar.
    for (const char* jobs : {"1", "2"}) {
        int master;
        pid_t child = forkpty(&master, nullptr, nullptr, nullptr);
        ASSERT_GE(child, 0);
        if (child == 0) {
            if (chdir(work.c_str()) != 0)
                _exit(126);
            execl(TQUNZIP, TQUNZIP, "-j", jobs, "-t", "z.zip", (char*)nullptr);
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
        // The bar is redrawn in place; names are not listed on a terminal.
        EXPECT_NE(screen.find("\r\033[K[#"), std::string::npos) << screen;
        EXPECT_NE(screen.find("%  sub/bin.dat"), std::string::npos) << screen;
        EXPECT_EQ(screen.find("testing:"), std::string::npos) << screen;
        // Of some 92000 bytes of entry data, the last report after bin.dat counts 9 units of 10240.
        size_t last = screen.rfind("%  ");
        ASSERT_NE(last, std::string::npos);
        EXPECT_GE(atoi(screen.substr(last - 3, 3).c_str()), 90) << screen;
        // The bar's line is cleared before the result.
        EXPECT_NE(screen.find("\r\033[KNo errors detected in z.zip"), std::string::npos) << screen;
    }
}

// Ctrl-C, kill or timeout, and a closed terminal stop the run alike, in the middle of an entry.
TEST_F(Tqunzip, InterruptCancelsAndDeletesTheFileBeingWritten)
{
    // 400 MB of zeros deflate to some 400 KB, which take the engine long enough to interrupt.
    ASSERT_EQ(Shell("python3 -c \"import zipfile\n"
                    "with zipfile.ZipFile('zeros.zip','w',zipfile.ZIP_DEFLATED) as z:\n"
                    "    z.writestr('first.txt','first\\n')\n"
                    "    with z.open('zeros','w',force_zip64=False) as f:\n"
                    "        [f.write(bytes(1 << 20)) for i in range(400)]\""),
        0);
    for (int stop : {SIGINT, SIGTERM, SIGHUP}) {
        SCOPED_TRACE(strsignal(stop));
        ASSERT_EQ(Shell("rm -rf out && mkdir out"), 0);
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
        while (shown.find("extracting: out/zeros\n") == std::string::npos
               && (n = read(out[0], buffer, sizeof buffer)) > 0)
            shown.append(buffer, (size_t)n);
        kill(child, stop);
        std::string error;
        while ((n = read(err[0], buffer, sizeof buffer)) > 0)
            error.append(buffer, (size_t)n);
        int status = 0;
        waitpid(child, &status, 0);
        close(out[0]);
        close(err[0]);
        ASSERT_TRUE(WIFEXITED(status)) << shown;
        EXPECT_EQ(WEXITSTATUS(status), 80) << shown;
        EXPECT_EQ(error, "tqunzip: zeros.zip: interrupted; the file being written was removed\n");
        EXPECT_EQ(Read("out/first.txt"), "first\n");
        EXPECT_FALSE(Exists("out/zeros"));
    }
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
    // One wrong password in 256 passes the one-byte check; the data then decrypts to garbage,
    // which the CRC comparison reports instead.
    bool refused = (run.status == 82 && run.err == "tqunzip: secret.zip: a.txt: incorrect password\n")
        || (run.status == 2
            && run.err.find("the data is damaged or the password wrong (message 1033)\n") != std::string::npos);
    EXPECT_TRUE(refused) << run.status << " " << run.err;
}

// Archives written by streaming archivers keep the CRC and sizes in a data descriptor after the
// data and put zeros in the local header, which is all the engine reads. Such entries are left
// out with the reason, never passed as success (a deflated one would come out empty).
TEST_F(Tqunzip, StreamedEntriesAreLeftOutWithTheReason)
{
    if (!HaveProgram("bsdtar"))
        GTEST_SKIP() << "bsdtar missing";
    MakeWith("bsdtar --format zip -cf", "streamed.zip");
    for (const char* ignore : {"-q", "-i"}) {
        ToolRun run = Run({ignore, "-d", "out", "streamed.zip", "a.txt"});
        EXPECT_EQ(run.status, 81);
        EXPECT_EQ(run.err,
            "tqunzip: streamed.zip: a.txt: skipped: streamed entry: its sizes are only in the data "
            "descriptor after the data, which this extractor does not read\n");
        EXPECT_FALSE(Exists("out"));
    }

    // bsdtar's stored entries carry their sizes but a CRC of 0 in the local header: -i takes them.
    MakeWith("bsdtar --format zip --options zip:compression=store -cf", "stored.zip");
    ToolRun run = Run({"-q", "-d", "out", "stored.zip", "a.txt"});
    EXPECT_EQ(run.status, 81);
    EXPECT_EQ(run.err,
        "tqunzip: stored.zip: a.txt: skipped: streamed entry: its CRC-32 is only in the data descriptor "
        "after the data, which this extractor does not read (-i extracts it unchecked)\n");
    EXPECT_FALSE(Exists("out/a.txt"));

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
    EXPECT_EQ(run.err,
        "tqunzip: bad.zip: a.txt: computed CRC-32 " + Hex8(Crc32(damaged)) + ", stored " + Hex8(Crc32(text))
            + ": the data is damaged (message 1033)\n");
    run = Run({"-q", "-t", "-i", "bad.zip"});
    EXPECT_EQ(run.status, 0) << run.err;
}

// A write that fails names the output file and the system's reason; the partly written file
// goes. A file-size limit stands in for a full disk: the write then fails with EFBIG.
TEST_F(Tqunzip, FailedWriteNamesTheFileAndTheSystemReason)
{
    MakeWith("zip -q -X -0", "z.zip");
    std::string command = "(ulimit -f 40 && trap '' XFSZ && exec '" + std::string(TQUNZIP) + "' -q -d out z.zip)";
    ASSERT_EQ(Shell(command + " 2>../err; echo $? >../status"), 0);
    std::ifstream status(root + "/status"), err(root + "/err");
    std::string code, message((std::istreambuf_iterator<char>(err)), {});
    status >> code;
    EXPECT_EQ(code, "50");
    EXPECT_EQ(message, "tqunzip: z.zip: sub/bin.dat: cannot write out/bin.dat: File too large (message 1036)\n");
    EXPECT_EQ(Read("out/a.txt"), text);   // written before, and kept
    EXPECT_FALSE(Exists("out/bin.dat"));
}

TEST_F(Tqunzip, ArchiveErrorsShowTheEngineTexts)
{
    MakeWith("zip -q -X -0", "z.zip");
    std::string archive = Read("z.zip");
    Write("short.zip", archive.substr(0, archive.size() / 2));
    Write("junk.zip", std::string(3000, 'x'));
    // The first local header claims more data than the file holds; the directory is intact.
    std::string overlong = archive;
    overlong[18 + 3] = 0x7f;   // compressed size, APPNOTE 4.3.7: 0x7fxxxxxx bytes
    Write("overlong.zip", overlong);
    std::string noLocal = archive;
    noLocal[0] = 'X';   // the first local header's signature
    Write("nolocal.zip", noLocal);

    struct Case {
        const char* archive;
        int status;
        const char* err;
    } cases[] = {
        {"nosuch", 9, "tqunzip: nosuch: no such file (nor with .zip or .ZIP)\n"},
        {"nosuch.zip", 9, "tqunzip: nosuch.zip: no such file (nor with .zip or .ZIP)\n"},
        {"short.zip", 9,
            "tqunzip: short.zip: no end-of-central-directory record: not a ZIP archive, or one cut short\n"},
        {"junk.zip", 9,
            "tqunzip: junk.zip: no end-of-central-directory record: not a ZIP archive, or one cut short\n"},
        {"overlong.zip", 3, "tqunzip: overlong.zip: cannot read: the archive ends too early (message 1037)\n"},
        {"nolocal.zip", 3, "tqunzip: nolocal.zip: a.txt: damaged: no local header at offset 0\n"},
    };
    for (Case& c : cases) {
        ToolRun run = Run({"-t", "-q", c.archive});
        EXPECT_EQ(run.status, c.status) << c.archive;
        EXPECT_EQ(run.err, c.err);
        EXPECT_EQ(run.out, "");
    }
}

TEST_F(Tqunzip, UnknownMethodIsLeftOutAndTheRestExtracted)
{
    // method 12 between two stored entries
    ASSERT_EQ(
        Shell(
            "zip -q -X z.zip empty.txt && zip -q -X -Z bzip2 z.zip a.txt && zip -q -X -0 z.zip sub/deep/c.txt"),
        0);
    ToolRun run = Run({"-q", "-d", "out", "z.zip"});
    EXPECT_EQ(run.status, 81);
    EXPECT_EQ(run.err,
        "tqunzip: z.zip: a.txt: skipped: compression method 12 is not supported (only stored and deflated)\n");
    EXPECT_TRUE(Exists("out/empty.txt"));
    EXPECT_FALSE(Exists("out/a.txt"));
    EXPECT_EQ(Read("out/c.txt"), small);
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
    EXPECT_EQ(run.status, 3);
    EXPECT_EQ(run.err,
        "tqunzip: prefixed.zip: a.txt: not reached: the records end before this entry (the archive's "
        "first entry stands at byte 22: try --offset=22)\n");
    EXPECT_FALSE(Exists("a/a.txt"));
    run = Run({"-q", "--offset=22", "-d", "b", "prefixed.zip"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(Read("b/bin.dat"), binary);
}

// ---- listing ------------------------------------------------------------------------------

TEST_F(Tqunzip, ListsEveryEntryWithSizesMethodRatioTimeCrcAndEncryption)
{
    ASSERT_EQ(Shell("touch -d '2026-06-01 14:00:58' a.txt sub/bin.dat sub/deep/c.txt empty.txt"), 0);
    MakeWith("zip -q -X -n .dat -P secret", "z.zip");   // -n: *.dat stored
    ToolRun run = Run({"-l", "z.zip"});
    EXPECT_EQ(run.status, 0) << run.err;
    std::istringstream lines(run.out);
    std::string line;
    std::vector<std::string> all;
    while (std::getline(lines, line))
        all.push_back(line);
    ASSERT_EQ(all.size(), 8u) << run.out;
    EXPECT_EQ(all[0], "    Length      Packed  Method   Ratio  Modified          CRC-32    Enc  Name");
    // The encryption header adds 12 bytes, which makes the ratio a little below 0.
    EXPECT_EQ(all[3],
        "     70000       70012  Stored      0%  2026-06-01 14:00  " + Hex8(Crc32(binary))
            + "  *    sub/bin.dat");
    EXPECT_EQ(all[2].substr(0, 10), Pad10(text.size()));
    EXPECT_NE(all[2].find("  Deflate    9"), std::string::npos) << all[2];   // a text that repeats itself
    EXPECT_NE(all[2].find("%  2026-06-01 14:00  " + Hex8(Crc32(text)) + "  *    a.txt"), std::string::npos)
        << all[2];
    EXPECT_EQ(all[5], "         0          12  Stored      0%  2026-06-01 14:00  00000000  *    empty.txt");
    EXPECT_EQ(all[7].substr(0, 10), Pad10(text.size() + binary.size() + small.size()));
    EXPECT_NE(all[7].find("4 entries"), std::string::npos);

    // -v: seconds, the local header offset and notes.
    run = Run({"-lv", "z.zip", "a.txt"});
    EXPECT_EQ(run.status, 0) << run.err;
    // zip writes a data descriptor behind each encrypted entry.
    EXPECT_NE(run.out.find("2026-06-01 14:00:58  " + Hex8(Crc32(text))
                  + "  *             0  a.txt  (data descriptor "
                    "follows the data)\n"),
        std::string::npos)
        << run.out;
    EXPECT_NE(run.out.find("1 entry\n"), std::string::npos) << run.out;
}

TEST_F(Tqunzip, ListingFollowsNamesAndQuiet)
{
    ASSERT_EQ(Shell("touch -d '2026-06-01 14:00:00' sub/bin.dat"), 0);
    MakeWith("zip -q -X -n .dat", "z.zip");
    Write("prefixed.zip", std::string(1000, 'p') + Read("z.zip"));
    ToolRun run = Run({"-l", "-q", "prefixed.zip", "SUB/BIN.DAT"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out,
        "     70000       70000  Stored      0%  2026-06-01 14:00  " + Hex8(Crc32(binary))
            + "  -    sub/bin.dat\n");
    // Wildcards; a NAME that matches nothing is reported and the others still listed.
    run = Run({"-lq", "prefixed.zip", "*.t?t", "none*"});
    EXPECT_EQ(run.status, 11);
    EXPECT_EQ(run.err, "tqunzip: prefixed.zip: none*: no entry matches this name\n");
    EXPECT_NE(run.out.find("  a.txt\n"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("  sub/deep/c.txt\n"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("  empty.txt\n"), std::string::npos) << run.out;
    EXPECT_EQ(run.out.find("bin.dat"), std::string::npos) << run.out;
}

TEST_F(Tqunzip, ListingRefusesWhatIsNoArchive)
{
    Write("junk.zip", std::string(3000, 'x'));
    ToolRun run = Run({"-l", "junk.zip"});
    EXPECT_EQ(run.status, 9);
    EXPECT_EQ(run.err,
        "tqunzip: junk.zip: no end-of-central-directory record: not a ZIP archive, or one cut short\n");
    run = Run({"-l", "absent"});
    EXPECT_EQ(run.status, 9);
    EXPECT_EQ(run.err, "tqunzip: absent: no such file (nor with .zip or .ZIP)\n");
}

} // namespace
