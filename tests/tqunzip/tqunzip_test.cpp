// Command tests of tqunzip: the program is run as a user runs it, in a scratch folder, on archives
// that Info-ZIP zip, bsdtar, 7z and Python's zipfile make at test time from a fixed payload. The
// tests check exit statuses, the engine's texts on standard error, the files written and the
// listing. A test whose archiver is not installed is skipped.
#include "files.h"

#include <gtest/gtest.h>

#include <bzlib.h>

#include <fcntl.h>
#include <pty.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
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

std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

void Put32At(Bytes& bytes, size_t at, uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        bytes[at + (size_t)i] = (uint8_t)(value >> (8 * i));
}

// An extra field: its id, its length and the data (APPNOTE 4.5.1).
Bytes Extra(uint16_t id, const Bytes& data)
{
    Bytes field{(uint8_t)id, (uint8_t)(id >> 8), (uint8_t)data.size(), (uint8_t)(data.size() >> 8)};
    field.insert(field.end(), data.begin(), data.end());
    return field;
}

// One bzip2 stream of data, as method 12 stores it (APPNOTE 5.7), at the smallest block size.
Bytes Bzip2(const Bytes& data)
{
    unsigned size = (unsigned)(data.size() + data.size() / 100 + 600);
    Bytes out(size);
    char none = 0;   // libbz2 takes no null source, not even for no bytes
    char* source = data.empty() ? &none : (char*)data.data();
    int made = BZ2_bzBuffToBuffCompress((char*)out.data(), &size, source, (unsigned)data.size(), 1, 0, 0);
    EXPECT_EQ(made, BZ_OK);
    out.resize(size);
    return out;
}

// The bytes of one bzip2 stream; empty where it is damaged.
Bytes Bunzip2(const Bytes& stream)
{
    constexpr unsigned Largest = 1 << 20;
    Bytes out(Largest);
    unsigned size = Largest;
    if (BZ2_bzBuffToBuffDecompress((char*)out.data(), &size, (char*)stream.data(), (unsigned)stream.size(), 0, 0) != BZ_OK)
        return Bytes();
    out.resize(size);
    return out;
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
        {{"-y", "a.zip"}, "unknown option -y"},
        {{"a.zip", "-x"}, "-x needs the NAMEs to leave out after it"},
        {{"a.zip", "-x", "-q"}, "-x needs the NAMEs to leave out after it"},
        {{"-x", "b", "c"}, "no archive given"},
        {{"--frobnicate", "a.zip"}, "unknown option --frobnicate"},
        {{"a.zip", "-d"}, "option -d needs a value"},
        {{"--offset=12x", "a.zip"}, "bad offset: 12x"},
        {{"--offset", "-5", "a.zip"}, "bad offset: -5"},
        {{"a.zip", "--offset"}, "option --offset needs a value"},
        {{"-o", "-n", "a.zip"}, "-o and -n exclude each other"},
        {{"-t", "-l", "a.zip"}, "-t, -l (or -v) and -p (or -c) exclude each other"},
        {{"-t", "-d", "out", "a.zip"}, "-d goes with extraction only, not with -t, -l, -v, -p or -c"},
        {{"-d", "", "a.zip"}, "-d needs a folder name"},
        {{"--jobs=0", "a.zip"}, "--jobs takes a number of processes from 1 to 64: 0"},
        {{"-w", "65", "a.zip"}, "--jobs takes a number of processes from 1 to 64: 65"},
        {{"-w2x", "a.zip"}, "--jobs takes a number of processes from 1 to 64: 2x"},
        // unzip's letters keep unzip's meaning, or are refused with what to use instead.
        {{"-s", "a.zip"}, "-s is not taken: unzip's -s (spaces to underscores) is not offered; --skip-empty "
                          "skips empty entries"},
        {{"-i", "a.zip"}, "-i is not taken: --ignore-crc leaves the CRC-32 unchecked"},
        {{"-a", "a.zip"}, "-a is not taken: unzip's -a (text conversion) is not offered: the data is written "
                          "as stored"},
        {{"-P", "", "a.zip"}, "-P needs a password; an empty one is none"},
        {{"a.zip", "-P"}, "-P needs a password"},
        {{"-p", "-t", "a.zip"}, "-t, -l (or -v) and -p (or -c) exclude each other"},
        {{"-c", "-l", "a.zip"}, "-t, -l (or -v) and -p (or -c) exclude each other"},
        {{"-v", "-d", "out", "a.zip"}, "-d goes with extraction only, not with -t, -l, -v, -p or -c"},
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
        EXPECT_EQ(run.out.rfind("Usage: tqunzip [OPTION]... ARCHIVE [NAME]... [-x NAME...]\n", 0), 0u);
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
    ToolRun run = Run({"-q", "-j", "-d", "out", "z.zip"});
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
    ToolRun run = Run({"-j", "z.zip"});
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

TEST_F(Tqunzip, NamesSelectEntriesRegardlessOfCaseUnderC)
{
    MakeWith("zip -q -X", "z.zip");
    ASSERT_EQ(Shell("mkdir out"), 0);
    ToolRun run = Run({"-q", "-C", "-j", "-d", "out", "z.zip", "SUB/Deep/C.TXT", "a.txt", "bin.dat"});
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
    // Two archives one behind the other: the directory found is the second's, and only its
    // entries are extracted (the first counts as data in front of the archive).
    ASSERT_EQ(Shell("cat front.zip back.zip >hidden.zip && rm front.zip back.zip"),
        0);
    auto make = [&](const char* name, std::vector<ZipEntry> entries) {
        ZipArchive archive;
        archive.Entries = entries;
        Write(name, ToText(archive.Build()));
    };
    // Names that the system resolves to one file, a file where another entry needs a folder,
    // a device name at the top, a "\\" separator beside a refused name, a leading "/".
    make("dots.zip", {Entry("d/x", ToBytes("one")), Entry("d/./x", ToBytes("two")), Entry("d//x", ToBytes("three"))});
    make("dup.zip", {Entry("a", ToBytes("file")), Entry("a/b/", {})});
    make("con.zip", {Entry("a.txt", ToBytes("a")), Entry("con.txt", ToBytes("c")), Entry("z.txt", ToBytes("z"))});
    make("bs.zip", {Entry("../up.txt", ToBytes("u")), Entry("a\\b.txt", ToBytes("ab")), Entry("z.txt", ToBytes("z"))});
    make("root.zip", {Entry("/abs.txt", ToBytes("abs"))});
    // Work enough for several processes: two entries of 9 MB on one file under -j, and a test
    // of an archive with a damaged entry behind one whose name is too long to be tested alone.
    make("big2.zip", {Entry("a/x", Bytes(9000000, 'A'), 8), Entry("b/x", Bytes(9000000, 'B'), 8)});
    ZipEntry damaged = Entry("dmg.txt", Bytes(1000, 'x'));
    damaged.CrcOverride = Crc32(std::string(1000, 'y'));
    damaged.UseCrcOverride = true;
    make("damaged.zip", {Entry("zeros", Bytes(18000000, 0), 8), Entry(std::string(240, 'n'), ToBytes("long")),
                         damaged, Entry("late.txt", ToBytes("late"))});
    // Code-page names whose trail byte is "\\" (0x5C), which the engine's list turns into "/".
    make("sjis.zip", {Entry("\x95\x5C.txt", ToBytes("hyo")), Entry("\x83\x5C\x83\x74\x83\x67", ToBytes("soft")),
                      Entry("zeros", Bytes(18000000, 0), 8)});
    // Folders in any order: files before and after their folder entries, a folder entry before
    // its files, a deep tree, folder names that differ in letter case only.
    make("tree.zip", {Entry("x/y/z/f1", ToBytes("f1")), Entry("w/", {}), Entry("x/f2", ToBytes("f2")),
                      Entry("x/y/f3", ToBytes("f3")), Entry("x/y/z/", {}), Entry("q/r/", {}), Entry("q/r/s", ToBytes("s")),
                      Entry("d1/d2/d3/d4/d5/d6/d7/d8/d9/d10/deep", ToBytes("deep")), Entry("Case/a", ToBytes("1")),
                      Entry("case/a", ToBytes("2")), Entry("CASE/A", ToBytes("3"))});
    // A file where a later entry needs a folder, found by the entry that comes first.
    make("fileafter.zip", {Entry("p/q/r", ToBytes("r")), Entry("p/q", ToBytes("q"))});
    // Unix modes: the one of creation (0644 under the usual umask) and others; entries on one
    // file under -j with either mode last; an extended timestamp (2023-11-14 22:13:20 UTC).
    auto moded = [](const char* name, uint32_t mode) {
        ZipEntry entry = Entry(name, ToBytes(strrchr(name, '/') != nullptr ? std::string(1, name[0]) : name));
        entry.MadeBy = 0x0314;
        entry.ExternalAttributes = (0100000u | mode) << 16;
        entry.Extra = Extra(0x5455, Bytes{1, 0x00, 0xF1, 0x53, 0x65});
        return entry;
    };
    make("modes.zip", {moded("m/plain", 0644), moded("m/exec", 0755), moded("a/same", 0600), moded("b/same", 0644),
                       moded("a/other", 0644), moded("b/other", 0600)});
    const std::string archives = "clash.zip evil.zip twins.zip many.zip hidden.zip dots.zip dup.zip con.zip bs.zip "
                                 "root.zip big2.zip damaged.zip sjis.zip tree.zip fileafter.zip modes.zip";
    const std::string tree = "test $(cat t/x/y/z/f1)$(cat t/x/f2)$(cat t/x/y/f3)$(cat t/q/r/s) = f1f2f3s "
                             "&& test -d t/w && test -d t/x/y/z && test $(cat t/d1/d2/d3/d4/d5/d6/d7/d8/d9/d10/deep) = deep "
                             "&& test $(cat t/Case/a)$(cat t/case/a)$(cat t/CASE/A) = 123";
    const std::string crcError = "tqunzip: damaged.zip: dmg.txt: computed CRC-32 " + Hex8(Crc32(std::string(1000, 'x')))
        + ", stored " + Hex8(Crc32(std::string(1000, 'y'))) + ": the data is damaged (message 1033)\n";
    const std::string stop = "tqunzip: nothing extracted: -o overwrites, -n keeps existing files";
    struct Case {
        const char* present;   // shell commands that make the files present before the run
        std::vector<std::string> args;
        int status;
        std::string err;
        const char* check;     // shell test of the result
    } cases[] = {
        // Two entries on one name stop the run before anything is written, -d folder included.
        {"", {"-j", "-d", "out", "clash.zip"}, 1,
            "tqunzip: clash.zip: b/x.txt: lands on out/x.txt like a/x.txt\n" + stop
                + ", without -j the entries' folders stay apart\n",
            "test ! -e out"},
        {"", {"-k", "clash.zip"}, 0, "", "test $(cat a/x.txt)$(cat b/x.txt) = onetwo && test -d docs"},
        {"", {"clash.zip"}, 0, "", "test $(cat a/x.txt)$(cat b/x.txt) = onetwo && test -d docs"},
        // -n skips quietly, as unzip -n does.
        {"", {"-j", "-n", "clash.zip"}, 0, "", "test $(cat x.txt) = one"},
        {"", {"-j", "-o", "clash.zip"}, 1, "tqunzip: clash.zip: b/x.txt: replaces a/x.txt at x.txt\n",
            "test $(cat x.txt) = two"},
        // An existing file.
        {"echo old >x.txt", {"-j", "clash.zip", "a/x.txt"}, 1,
            "tqunzip: clash.zip: a/x.txt: x.txt exists\n" + stop + "\n",
            "test $(cat x.txt) = old"},
        {"echo old >x.txt", {"-j", "-n", "clash.zip", "a/*"}, 0, "", "test $(cat x.txt) = old"},
        {"echo old >x.txt", {"-j", "-o", "clash.zip", "a/x.txt"}, 0, "", "test $(cat x.txt) = one"},
        // Names that differ in letter case only are two entries: either goes alone, or is left
        // out alone (the engine writes the entries it is given, whatever their names).
        {"echo old >A.TXT", {"-n", "twins.zip"}, 0, "", "test $(cat A.TXT) = old && test $(cat a.txt) = lower"},
        {"", {"twins.zip", "A.TXT"}, 0, "", "test $(cat A.TXT) = upper && test ! -e a.txt"},
        {"", {"twins.zip", "-x", "a.txt"}, 0, "", "test $(cat A.TXT) = upper && test ! -e a.txt"},
        {"", {"-C", "twins.zip", "A.txt"}, 0, "", "test $(cat A.TXT) = upper && test $(cat a.txt) = lower"},
        // An entry the directory does not know is never written, here not over a file.
        {"echo mine >x.txt", {"hidden.zip"}, 0, "", "test $(cat x.txt) = mine && test $(cat y.txt) = back"},
        {"", {"--offset=113", "hidden.zip"}, 0, "", "test $(cat y.txt) = back && test ! -e x.txt"},
        // An archive without entries is no success to report silently.
        {"printf 'PK\\005\\006%018d' 0 | tr 0 '\\000' >empty.zip", {"-d", "out", "empty.zip"}, 1,
            "tqunzip: empty.zip: the archive holds no entries\n", "test ! -e out"},
        // Ten clashes are named, the rest counted.
        {"", {"-j", "many.zip"}, 1,
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
         "tqunzip: many.zip: and 1 more\n" + stop + ", without -j the entries' folders stay apart\n",
         "test ! -e x.txt"},
        // -o replaces a link by the file, never writes where it points.
        {"ln -s ../outside x.txt", {"-j", "-o", "clash.zip", "a/x.txt"}, 0, "",
            "test ! -L x.txt && test ! -e ../outside"},
        {"mkdir x.txt", {"-j", "-o", "clash.zip", "a/x.txt"}, 50,
            "tqunzip: clash.zip: a/x.txt: cannot create x.txt: Is a directory (message 1030)\n",
            "test -d x.txt"},
        // -d is created with its parents; a file in its way is named.
        {"", {"-d", "new/deeper", "clash.zip", "b/*"}, 0, "", "test $(cat new/deeper/b/x.txt) = two"},
        {"echo f >file", {"-d", "file/sub", "clash.zip", "b/x.txt"}, 50,
            "tqunzip: clash.zip: cannot create the folder file/sub: Not a directory\n", "test -f file"},
        // The archive name as given first, then with .zip; NAMEs without regard to case, wildcards.
        {"cp clash.zip noext", {"-C", "-j", "noext", "A/X.TXT"}, 0, "", "test $(cat x.txt) = one"},
        {"cp clash.zip noext", {"noext", "A/X.TXT"}, 11, "tqunzip: noext: A/X.TXT: no entry matches this name\n",
            "test ! -e x.txt && test ! -e a"},
        {"", {"clash", "?/x.t*", "-k"}, 0, "", "test -f a/x.txt && test -f b/x.txt && test ! -e docs"},
        {"", {"-j", "clash.zip", "a/x.txt", "nothing", "no*"}, 11,
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
        // A test of chosen entries builds no output paths, as a test of the whole archive.
        {"", {"-t", "-q", "evil.zip", "dir/*", "ok.txt"}, 0, "", "true"},
        {"", {"-t", "-q", "evil.zip", "dir/*"}, 0, "", "true"},
        {"", {"-t", "evil.zip"}, 0, "", "true"},
        // d/x, d/./x and d//x are one file.
        {"", {"dots.zip"}, 1,
            "tqunzip: dots.zip: d/./x: lands on d/./x like d/x\ntqunzip: dots.zip: d//x: lands on d//x like d/x\n"
                + stop + "\n",
            "test ! -e d"},
        {"", {"-o", "dots.zip"}, 1,
            "tqunzip: dots.zip: d/./x: replaces d/x at d/./x\ntqunzip: dots.zip: d//x: replaces d/x at d//x\n",
            "test $(cat d/x) = three"},
        {"", {"-n", "dots.zip"}, 0, "", "test $(cat d/x) = one"},
        // A file entry where a folder entry needs a folder is found before anything is written.
        {"", {"-d", "o", "dup.zip"}, 1, "tqunzip: dup.zip: a: o/a would be a folder for a/b/\n" + stop + "\n",
            "test ! -e o"},
        {"", {"-n", "-d", "o", "dup.zip"}, 1, "tqunzip: dup.zip: a: skipped: o/a would be a folder for a/b/\n",
            "test -d o/a/b"},
        {"", {"-t", "dup.zip"}, 0, "", "true"},
        // A device name is refused up front; the entries behind it are extracted.
        {"", {"-d", "q", "con.zip"}, 2, "tqunzip: con.zip: con.txt: refused: the name is a device on Windows\n",
            "test $(cat q/a.txt)$(cat q/z.txt) = az && test ! -e q/con.txt"},
        // "\\" is a separator; the refused entry leaves the others where they belong.
        {"", {"-d", "q", "bs.zip"}, 2,
            "tqunzip: bs.zip: ../up.txt: refused: the name leads out of the destination folder\n",
            "test $(cat q/a/b.txt)$(cat q/z.txt) = abz && test ! -e up.txt"},
        // A leading "/" is dropped: the file stays inside the destination.
        {"", {"-d", "q", "root.zip"}, 0, "", "test $(cat q/abs.txt) = abs"},
        // Several processes: entries on one output file go to one process, in archive order.
        {"", {"--jobs=2", "-j", "-o", "big2.zip"}, 1, "tqunzip: big2.zip: b/x: replaces a/x at x\n",
            "test $(wc -c <x) = 9000000 && test -z \"$(tr -d B <x)\""},
        // A test in several processes gives one process's verdict: the damage, not a warning.
        {"", {"--jobs=2", "-t", "damaged.zip"}, 2, crcError, "true"},
        // The run goes on behind a damaged entry.
        {"", {"damaged.zip"}, 2, crcError, "test -f zeros && test -f dmg.txt && test $(cat late.txt) = late"},
        {"", {"-t", "damaged.zip"}, 2, crcError, "true"},
        {"", {"--jobs=2", "damaged.zip"}, 2, crcError, "test -f zeros && test -f dmg.txt && test $(cat late.txt) = late"},
        {"", {"--jobs=2", "-t", "sjis.zip"}, 0, "", "true"},
        // Names of an MS-DOS archive are code page 850, turned into ISO 8859-1 bytes: 0x95 is 0xF2.
        {"", {"--jobs=2", "sjis.zip"}, 0, "", "test $(cat \"$(printf '\\362')\"/.txt) = hyo"},
        // -x leaves entries out; [...] classes; -qq keeps warnings back too.
        {"", {"clash.zip", "-x", "b/*", "docs/"}, 0, "", "test -f a/x.txt && test ! -e b && test ! -e docs"},
        {"", {"clash.zip", "[a-b]/x.txt", "-x", "[!a]*"}, 0, "", "test -f a/x.txt && test ! -e b"},
        {"", {"-C", "clash.zip", "[A]/X.txt"}, 0, "", "test -f a/x.txt && test ! -e b"},
        {"", {"clash.zip", "[A]/x.txt"}, 11, "tqunzip: clash.zip: [A]/x.txt: no entry matches this name\n",
            "test ! -e a"},
        {"", {"-q", "-j", "-o", "clash.zip"}, 1, "", "test $(cat x.txt) = two"},
        // The process count of earlier versions is now an archive name: the hint says why.
        {"", {"-j", "2", "clash.zip"}, 9,
            "tqunzip: 2: no such file (nor with .zip or .ZIP); -j junks folders, --jobs=N runs N processes\n",
            "test ! -e x.txt"},
        // Folders in any order, into a new destination and into one that partly stands: a file
        // in a folder that stands is found, one below a new folder cannot be there.
        {"", {"-d", "t", "tree.zip"}, 0, "", tree.c_str()},
        {"", {"--jobs=2", "-d", "t", "tree.zip"}, 0, "", tree.c_str()},
        {"mkdir -p t/x/y t/q && echo old >t/x/y/f3", {"-d", "t", "tree.zip"}, 1,
            "tqunzip: tree.zip: x/y/f3: t/x/y/f3 exists\n" + stop + "\n", "test $(cat t/x/y/f3) = old && test ! -e t/x/f2"},
        {"mkdir -p t/x/y t/q && echo old >t/x/y/f3", {"-o", "-d", "t", "tree.zip"}, 0, "", tree.c_str()},
        {"mkdir -p t/x/y/z && echo old >t/x/y/z/f1", {"-n", "-d", "t", "tree.zip"}, 0, "",
            "test $(cat t/x/y/z/f1) = old && test $(cat t/x/f2) = f2"},
        // Through a link to a folder, as the system resolves it; a file that stands behind it.
        {"mkdir real && ln -s real t", {"-d", "t", "tree.zip"}, 0, "", "test $(cat real/x/f2) = f2 && test -L t"},
        {"mkdir -p real/x && echo old >real/x/f2 && ln -s real t", {"-d", "t", "tree.zip"}, 1,
            "tqunzip: tree.zip: x/f2: t/x/f2 exists\n" + stop + "\n", "test $(cat real/x/f2) = old && test ! -e real/q"},
        // A file where a folder is needed, and a link that leads nowhere: named, nothing written.
        {"mkdir t && echo f >t/x", {"-d", "t", "tree.zip"}, 50,
            "tqunzip: tree.zip: cannot create the folder t/x/y/z: Not a directory\n", "test -f t/x && test ! -e t/q"},
        {"mkdir t && ln -s nowhere t/w", {"-o", "-d", "t", "tree.zip"}, 50,
            "tqunzip: tree.zip: cannot create the folder t/w: File exists\n", "test -L t/w && test ! -e t/x/f2"},
        // A file where a later entry needs a folder.
        {"", {"-d", "o", "fileafter.zip"}, 1, "tqunzip: fileafter.zip: p/q: o/p/q would be a folder for p/q/r\n" + stop + "\n",
            "test ! -e o"},
        {"", {"-o", "-d", "o", "fileafter.zip"}, 1, "tqunzip: fileafter.zip: p/q: skipped: o/p/q would be a folder for p/q/r\n",
            "test $(cat o/p/q/r) = r"},
        // Modes and times: a new file, one that stood with another mode, one file written by two
        // entries with either mode last.
        {"", {"modes.zip"}, 0, "",
            "test $(stat -c %a m/plain) = 644 && test $(stat -c %a m/exec) = 755 && test $(stat -c %Y m/plain) = 1700000000"
            " && test $(stat -c %Y m/exec) = 1700000000 && test $(stat -c %a a/same) = 600"},
        {"mkdir m && echo old >m/plain && chmod 600 m/plain && echo old >m/exec && chmod 644 m/exec", {"-o", "modes.zip"}, 0,
            "", "test $(stat -c %a m/plain) = 644 && test $(cat m/plain) = m && test $(stat -c %a m/exec) = 755"
                " && test $(stat -c %Y m/plain) = 1700000000"},
        // Under a default access list new files take its mode (here none for others): the
        // archive's mode is set all the same. Where the file system has no such lists the row
        // checks the modes alone.
        {"mkdir t && { setfacl -d -m o::- t 2>/dev/null || true; }", {"-d", "t", "modes.zip"}, 0, "",
            "test $(stat -c %a t/m/plain) = 644 && test $(stat -c %a t/m/exec) = 755 && test $(stat -c %a t/a/other) = 644"},
        {"", {"-j", "-o", "modes.zip"}, 1,
            "tqunzip: modes.zip: b/same: replaces a/same at same\ntqunzip: modes.zip: b/other: replaces a/other at other\n",
            "test $(stat -c %a same) = 644 && test $(cat same) = b && test $(stat -c %a other) = 600 && test $(cat other) = b"},
    };
    for (Case& c : cases) {
        std::string label = c.present;
        for (const std::string& a : c.args)
            label += " " + a;
        ASSERT_EQ(Shell("mkdir run && mv " + archives + " run/"), 0);
        work += "/run";
        ASSERT_EQ(Shell(*c.present ? c.present : "true"), 0) << label;
        c.args.insert(c.args.begin(), "-q");
        ToolRun run = Run(c.args);
        EXPECT_EQ(run.status, c.status) << label;
        EXPECT_EQ(run.err, c.err) << label;
        EXPECT_EQ(Shell(c.check), 0) << label;
        ASSERT_EQ(Shell("mv " + archives + " .. && cd .. && rm -rf run outside"), 0);
        work.resize(work.size() - 4);
    }
}

// -p and -c write the chosen entries' data to standard output in archive order and nothing to
// disk; -v alone lists verbosely, as in unzip.
TEST_F(Tqunzip, PipeAndVerboseListingAsUnzipHasThem)
{
    MakeWith("zip -q -X", "z.zip");
    ZipArchive odd;
    odd.Entries = {Entry("a\\b.txt", ToBytes("back")), Entry("Same", ToBytes("first")), Entry("same", ToBytes("second"))};
    Write("odd.zip", ToText(odd.Build()));
    struct Case {
        std::vector<std::string> args;
        int status;
        std::string out, err;
    } cases[] = {
        {{"-p", "z.zip", "sub/deep/c.txt", "a.txt"}, 0, text + small, ""},
        {{"-c", "z.zip", "sub/deep/*"}, 0, "  extracting: sub/deep/c.txt\n" + small, ""},
        {{"-p", "z.zip", "*.txt", "-x", "a*"}, 0, small, ""},
        {{"-p", "odd.zip", "a/b.txt"}, 0, "back", ""},
        {{"-p", "odd.zip", "same"}, 0, "second", ""},
        {{"-pC", "odd.zip", "same"}, 0, "firstsecond", ""},
        {{"-p", "z.zip", "none"}, 11, "", "tqunzip: z.zip: none: no entry matches this name\n"},
    };
    for (Case& c : cases) {
        ToolRun run = Run(c.args);
        EXPECT_EQ(run.status, c.status) << c.args[1];
        EXPECT_EQ(run.out, c.out) << c.args[1];
        EXPECT_EQ(run.err, c.err) << c.args[1];
    }
    EXPECT_EQ(Shell("test \"$(ls | tr '\\n' ' ')\" = 'a.txt empty.txt odd.zip sub z.zip '"), 0);   // nothing new

    ToolRun verbose = Run({"-v", "z.zip"}), listed = Run({"-lv", "z.zip"});
    EXPECT_EQ(verbose.status, 0);
    EXPECT_EQ(verbose.out, listed.out);
    EXPECT_NE(verbose.out.find("Offset  Name"), std::string::npos) << verbose.out;
    EXPECT_FALSE(Exists("bin.dat"));
}

TEST_F(Tqunzip, SkipEmptyLeavesEmptyEntriesOut)
{
    MakeWith("zip -q -X", "z.zip");
    ASSERT_EQ(Shell("mkdir out"), 0);
    ToolRun run = Run({"-q", "--skip-empty", "-j", "-d", "out", "z.zip"});
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
    run = Run({"-t", "z.zip", "sub/*"});
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
        ToolRun run = Run({std::string("--jobs=") + jobs, "-k", "-d", folder, "z.zip"});
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
    ToolRun run = Run({"--jobs=2", "-t", "z.zip"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out.substr(run.out.rfind("No errors")), "No errors detected in z.zip\n");
}

// --jobs against one process over generated archives: names that the system resolves to one
// file (a/x, a/./x, a//x), that differ in letter case only (a/x, A/X), that the engine's list
// does not tell apart ("\" for "/"), files where other entries need folders, and now and then a
// damaged entry. Each archive has 400 entries. Half the archives are work enough for several
// processes (16 KB entries under the traditional cipher, which costs more than their size), the
// others so little that --jobs keeps them in one process. Every mode must give the same exit
// status, standard output and error (in order) and the same files.
TEST_F(Tqunzip, SeveralProcessesMatchOneOverGeneratedArchives)
{
    uint32_t seed = TestSeed();
    std::mt19937 random(seed);
    SCOPED_TRACE("TQ_TEST_SEED=" + std::to_string(seed));
    const char* folders[] = {"a", "a/.", "A", "a/", "b", "b\\c", "b/c", "B/c"};
    const char* files[] = {"x", "X", "y", "c", "e.txt", "E.TXT"};
    const std::vector<std::vector<std::string>> modes = {{"-o"}, {"-n"}, {"-j", "-o"}, {"-t"}, {"-o", "-x", "b*"}};
    int compared = 0, parallelFailures = 0;
    for (int round = 0; round < 8; ++round) {
        ZipArchive archive;
        std::set<std::string> used;
        for (int i = 0; i < 400; ++i) {
            std::string name = std::string(folders[random() % 8]) + "/" + files[random() % 6];
            if (random() % 40 == 0)
                name = folders[random() % 4 * 2];   // a file where other entries need a folder
            // Half the archives hold no two names that the engine's list takes for one (letter
            // case, "\\"): their entries on one file can then be shared out under -o and -n too,
            // where names alike keep a file in one process or stop the run.
            std::string alike = name;
            for (char& c : alike)
                c = c == '\\' ? '/' : (char)tolower((unsigned char)c);
            if (random() % 10 == 0 || (round % 2 == 1 && !used.insert(alike).second))
                name = "u" + std::to_string(i) + "/" + files[random() % 6];
            bool heavy = round % 4 < 2;
            Bytes data = heavy ? RandomBytes(16384 + random() % 64, random()) : Bytes(random() % 64, (uint8_t)('a' + i % 26));
            data.push_back((uint8_t)i);
            ZipEntry entry = Entry(name, data, random() % 2 ? 8 : 0);
            if (heavy) {
                entry.Encrypt = true;
                entry.Password = TestDefaultPassword;
            }
            if (random() % 150 == 0) {   // a damaged entry: its CRC does not match (the check byte does)
                entry.CrcOverride = Crc32(data) ^ 1;
                entry.UseCrcOverride = true;
            }
            archive.Entries.push_back(entry);
        }
        Write("g.zip", ToText(archive.Build()));
        for (const std::vector<std::string>& mode : modes) {
            std::string label = "round " + std::to_string(round);
            for (const std::string& m : mode)
                label += " " + m;
            ToolRun runs[2];
            std::string jobs[2] = {"--jobs=1", "--jobs=3"};
            for (int k = 0; k < 2; ++k) {
                // Options may follow the archive; -x and its NAMEs come last.
                std::vector<std::string> args{jobs[k], "g.zip"};
                if (mode[0] != "-t")
                    args.insert(args.end(), {"-d", "out"});
                args.insert(args.end(), mode.begin(), mode.end());
                runs[k] = Run(args);
                ASSERT_EQ(Shell(std::string("rm -rf out") + (k ? "1" : "0") + " && { test ! -e out || mv out out"
                                + (k ? "1" : "0") + "; }"),
                    0);
            }
            EXPECT_EQ(runs[0].status, runs[1].status) << label << "\n" << runs[0].err << "--\n" << runs[1].err;
            EXPECT_EQ(runs[0].out, runs[1].out) << label;
            EXPECT_EQ(runs[0].err, runs[1].err) << label;
            EXPECT_EQ(Shell("diff -r out0 out1 || { test ! -e out0 && test ! -e out1; }"), 0) << label;
            parallelFailures += runs[0].status >= 2;
            ++compared;
        }
    }
    EXPECT_EQ(compared, 40);
    // The generator makes damage often enough that the stop at a failure is compared too.
    EXPECT_GT(parallelFailures, 0);
}

// --jobs shares a run out only where that pays (WorthSharing in parallel.cpp): by the data to
// decode, in all and per entry. Whether the run started processes is read from its system calls
// under strace; the files are those of one process either way.
TEST_F(Tqunzip, JobsShareOutOnlyWorkThatPays)
{
    if (!HaveProgram("strace") || Shell("strace -f -o /dev/null true") != 0)
        GTEST_SKIP() << "strace missing or not permitted here";
    struct Case {
        const char* archive;
        unsigned count;
        size_t size;
        uint16_t method;
        bool encrypt;
        bool shared;
    } cases[] = {
        // Many small files: one process, whatever --jobs asks for.
        {"small.zip", 2000, 1000, 8, false, false},
        // Data enough in all, but 50 KB deflated per entry: the files cost what sharing saves.
        {"middling.zip", 400, 51200, 8, false, false},
        // 64 KB stored under the cipher, which costs seven times more; 2 MB deflated per entry.
        {"secret.zip", 300, 65536, 0, true, true},
        {"large.zip", 12, 2 << 20, 8, false, true},
        // Little data in all.
        {"few.zip", 3, 2 << 20, 8, false, false},
    };
    for (const Case& c : cases) {
        ZipArchive archive;
        for (unsigned i = 0; i < c.count; ++i) {
            ZipEntry entry = Entry("d" + std::to_string(i % 7) + "/e" + std::to_string(i), TextBytes(c.size, i), c.method);
            entry.Encrypt = c.encrypt;
            entry.Password = TestDefaultPassword;
            archive.Entries.push_back(entry);
        }
        Write(c.archive, ToText(archive.Build()));
        // LeakSanitizer, in a sanitizer build, cannot work under a tracer; it would start a thread too.
        ASSERT_EQ(Shell(std::string("ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0 ")
                        + "strace -f -qq -e trace=clone,clone3,fork,vfork -o trace.txt " + TQUNZIP
                        + " -q --jobs=2 -d jobs " + c.archive),
            0) << c.archive;
        std::string trace = Read("trace.txt");
        bool started = trace.find("clone") != std::string::npos || trace.find("fork") != std::string::npos;
        EXPECT_EQ(started, c.shared) << c.archive << "\n" << trace;
        ToolRun one = Run({"-q", "-d", "one", c.archive});
        EXPECT_EQ(one.status, 0) << one.err;
        EXPECT_EQ(Shell("diff -r one jobs"), 0) << c.archive;
        ASSERT_EQ(Shell(std::string("rm -rf one jobs trace.txt ") + c.archive), 0);
    }
}

// A listing of what stands below folder: every folder, every file with its mode and time.
std::string TreeListing(const std::string& folder)
{
    std::string listing;
    FILE* find = popen(("cd '" + folder + "' && find . -mindepth 1 \\( -type d -printf 'folder %P\\n' \\) -o "
                        "\\( -printf '%y %P %m %T@\\n' \\)").c_str(), "r");
    char line[4096];
    std::vector<std::string> files;
    while (fgets(line, sizeof line, find))
        files.push_back(line);
    pclose(find);
    std::sort(files.begin(), files.end());
    for (const std::string& each : files)
        listing += each;
    return listing;
}

// Thousands of entries in folders of any order and depth, against Info-ZIP unzip: folder
// entries before, after or without their files, folder and file names that differ in letter
// case only, stored and deflated data, Unix modes and extended timestamps on some entries,
// MS-DOS times on the others. tqunzip, alone and with --jobs (one process here: the entries are
// small), must make the tree unzip makes: the same folders, the same files with the same bytes,
// modes and times; and so with a list of hundreds of names, some in another letter case under -C.
TEST_F(Tqunzip, ThousandsOfEntriesInAnyFolderOrderComeOutAsUnzipMakesThem)
{
    if (!HaveProgram("unzip"))
        GTEST_SKIP() << "unzip missing";
    const uint32_t seed = TestSeed();
    std::mt19937 random(seed);
    SCOPED_TRACE("TQ_TEST_SEED=" + std::to_string(seed));
    auto below = [&](size_t bound) { return (unsigned)(random() % bound); };
    const char* parts[] = {"a", "A", "b", "src", "Src", "deep", "x y", "d.e"};
    const uint32_t modes[] = {0644, 0755, 0600, 0640, 0444};
    for (int round = 0; round < 2; ++round) {
        std::vector<std::string> folders;
        for (int i = 0; i < 150; ++i) {
            std::string path = parts[below(8)];
            for (unsigned depth = below(8); depth > 0; --depth)
                path += std::string("/") + parts[below(8)];
            folders.push_back(path);
        }
        ZipArchive archive;
        for (const std::string& folder : folders)
            if (below(4) == 0)
                archive.Entries.push_back(Entry(folder + "/", {}));
        for (int i = 0; i < 3000; ++i) {
            std::string folder = folders[below(folders.size())];
            size_t size = below(10) == 0 ? below(20000) : below(1500);
            ZipEntry entry = Entry(folder + "/f" + std::to_string(i) + (below(2) ? ".txt" : ""),
                                   below(2) ? TextBytes(size, random()) : RandomBytes(size, random()), below(2) ? 8 : 0);
            entry.Time = (uint16_t)((10 + below(7)) << 11 | below(60) << 5 | below(30));   // no daylight-saving gap
            entry.Date = (uint16_t)((20 + below(30)) << 9 | (1 + below(12)) << 5 | (1 + below(28)));
            if (below(2) == 0) {
                entry.MadeBy = 0x0314;
                entry.ExternalAttributes = (0100000u | modes[below(5)]) << 16;
            }
            if (below(3) == 0) {
                uint32_t time = 946684800u + below(900000000);
                entry.Extra = Extra(0x5455, Bytes{1, (uint8_t)time, (uint8_t)(time >> 8), (uint8_t)(time >> 16),
                                                  (uint8_t)(time >> 24)});
            }
            archive.Entries.push_back(entry);
            if (below(20) == 0) {   // the same name but for letter case, beside it
                entry.Name = folder + "/F" + std::to_string(i) + (entry.Name.back() == 't' ? ".txt" : "");
                archive.Entries.push_back(entry);
            }
        }
        std::shuffle(archive.Entries.begin(), archive.Entries.end(), random);
        Write("g.zip", ToText(archive.Build()));
        ASSERT_EQ(Shell("rm -rf ref one jobs && unzip -qq g.zip -d ref"), 0) << "round " << round;
        ToolRun one = Run({"-q", "-d", "one", "g.zip"});
        ToolRun jobs = Run({"-q", "--jobs=2", "-d", "jobs", "g.zip"});
        EXPECT_EQ(one.status, 0) << one.err;
        EXPECT_EQ(jobs.status, 0) << jobs.err;
        EXPECT_EQ(Shell("diff -r ref one && diff -r ref jobs"), 0) << "round " << round;
        std::string expected = TreeListing(work + "/ref");
        EXPECT_GT(expected.size(), 3000u * 10);
        EXPECT_EQ(TreeListing(work + "/one"), expected) << "round " << round;
        EXPECT_EQ(TreeListing(work + "/jobs"), expected) << "round " << round;

        // Names without wildcards, looked up among thousands: those of some entries (folder
        // entries too), under -C now and then in capitals. unzip credits an entry to the first
        // name that matches it and reports the others as matching nothing: under -C no two
        // names are alike.
        bool ignoreCase = round == 1;
        std::vector<std::string> names{"-q", "-d", "one", "g.zip"};
        std::string quoted;
        std::set<std::string> folded;
        for (const ZipEntry& entry : archive.Entries)
            if (below(12) == 0) {
                std::string name = entry.Name;
                std::string lower = name;
                for (char& c : lower)
                    c = (char)tolower((unsigned char)c);
                if (ignoreCase && !folded.insert(lower).second)
                    continue;
                if (ignoreCase && below(2) == 0)
                    for (char& c : name)
                        c = (char)toupper((unsigned char)c);
                names.push_back(name);
                quoted += " '" + name + "'";
            }
        if (ignoreCase)
            names.insert(names.begin(), "-C");
        ASSERT_EQ(Shell("rm -rf ref one && unzip -qq " + std::string(ignoreCase ? "-C " : "") + "g.zip" + quoted + " -d ref"), 0);
        one = Run(names);
        EXPECT_EQ(one.status, 0) << one.err;
        EXPECT_EQ(TreeListing(work + "/one"), TreeListing(work + "/ref")) << "round " << round << " with names";
        if (HasFailure())
            break;
    }
    ASSERT_EQ(Shell("chmod -R u+w ref one jobs"), 0);
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
    ToolRun run = Run({"-q", "--jobs=2", "-P", "secret", "-j", "-d", "out", "z.zip"});
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
            execl(TQUNZIP, TQUNZIP, "-q", "-w", "2", "-P", "secret", "-d", "out", "z.zip", (char*)nullptr);
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
            execl(TQUNZIP, TQUNZIP, "-w", jobs, "-t", "z.zip", (char*)nullptr);
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
        ToolRun run = Run({"-q", "-j", "-d", out, archive});
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
    ToolRun run = Run({"-q", "-j", "-d", ".", "default.zip", "sub/bin.dat"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(Read("bin.dat"), binary);

    ASSERT_EQ(Shell("mkdir out"), 0);
    run = Run({"-q", "-j", "-P", "secret", "-d", "out", "secret.zip"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(Read("out/a.txt"), text);
    EXPECT_EQ(Read("out/bin.dat"), binary);

    if (HaveProgram("7z")) {
        MakeWith("7z a -tzip -mem=ZipCrypto -psecret -bd", "7z-secret.zip");
        ASSERT_EQ(Shell("mkdir out7"), 0);
        run = Run({"-q", "-j", "-P", "secret", "-d", "out7", "7z-secret.zip"});
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(Read("out7/bin.dat"), binary);
    }
}

TEST_F(Tqunzip, WrongPasswordIsAnError)
{
    MakeWith("zip -q -X -P secret", "secret.zip");
    ASSERT_EQ(Shell("mkdir out"), 0);
    ToolRun run = Run({"-q", "-P", "wrong", "-d", "out", "secret.zip"});
    // One wrong password in 256 passes the one-byte check; the data then decrypts to garbage,
    // which the CRC comparison reports instead.
    // Every entry is tried and reported, as a damaged one would be.
    bool refused = (run.status == 82 || run.status == 2) && run.err.find("a.txt: incorrect password\n") != std::string::npos
        && run.err.find("sub/deep/c.txt: ") != std::string::npos;
    for (const std::string& line : Lines(run.err))
        refused = refused
            && (line.find(": incorrect password") != std::string::npos
                || line.find("the data is damaged or the password wrong (message 1033)") != std::string::npos);
    EXPECT_TRUE(refused) << run.status << " " << run.err;
}

// Archives written by streaming archivers keep the CRC and sizes in a data descriptor after the
// data and put zeros in the local header. The central directory holds them too: the entries are
// extracted and checked by them.
TEST_F(Tqunzip, StreamedEntriesTakeSizesAndCrcFromTheCentralDirectory)
{
    if (!HaveProgram("bsdtar"))
        GTEST_SKIP() << "bsdtar missing";
    MakeWith("bsdtar --format zip -cf", "streamed.zip");
    for (const char* ignore : {"-q", "--ignore-crc"}) {
        ToolRun run = Run({ignore, "-o", "-d", "out", "streamed.zip", "a.txt"});
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(Read("out/a.txt"), text);
    }

    // bsdtar's stored entries carry their sizes but a CRC of 0 in the local header.
    MakeWith("bsdtar --format zip --options zip:compression=store -cf", "stored.zip");
    ToolRun run = Run({"-q", "-j", "-d", "stored", "stored.zip"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(Read("stored/bin.dat"), binary);
    EXPECT_EQ(Read("stored/c.txt"), small);
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
    run = Run({"-q", "-t", "--ignore-crc", "bad.zip"});
    EXPECT_EQ(run.status, 0) << run.err;
}

// A write that fails names the output file and the system's reason; the partly written file
// goes. A file-size limit stands in for a full disk: the write then fails with EFBIG.
TEST_F(Tqunzip, FailedWriteNamesTheFileAndTheSystemReason)
{
    MakeWith("zip -q -X -0", "z.zip");
    std::string command = "(ulimit -f 40 && trap '' XFSZ && exec '" + std::string(TQUNZIP) + "' -q -j -d out z.zip)";
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
        // The central directory's size is the one used: the local header's does not matter.
        {"overlong.zip", 0, ""},
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
    // zip's bzip2 between two stored entries: decoded like the others.
    ASSERT_EQ(
        Shell(
            "zip -q -X z.zip empty.txt && zip -q -X -Z bzip2 z.zip a.txt && zip -q -X -0 z.zip sub/deep/c.txt"),
        0);
    ToolRun run = Run({"-q", "-j", "-d", "out", "z.zip"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(Read("out/a.txt"), text);
    EXPECT_EQ(Read("out/c.txt"), small);
    run = Run({"-lv", "z.zip", "a.txt"});
    EXPECT_NE(run.out.find("BZip2"), std::string::npos) << run.out;
    EXPECT_EQ(run.out.find("not supported"), std::string::npos) << run.out;

    // LZMA (method 14) there instead: left out with its name, the rest extracted.
    ZipArchive a;
    a.Entries = {Entry("empty.txt", {}), Entry("a.txt", ToBytes(text), 14), Entry("sub/deep/c.txt", ToBytes(small))};
    Write("m.zip", ToText(a.Build()));
    run = Run({"-q", "-j", "-d", "m", "m.zip"});
    EXPECT_EQ(run.status, 81);
    EXPECT_EQ(run.err, "tqunzip: m.zip: a.txt: skipped: compression method 14 (LZMA) is not supported: only "
                       "stored, deflated and bzip2\n");
    EXPECT_TRUE(Exists("m/empty.txt"));
    EXPECT_FALSE(Exists("m/a.txt"));
    EXPECT_EQ(Read("m/c.txt"), small);
    run = Run({"-lv", "m.zip", "a.txt"});
    EXPECT_NE(run.out.find("  (method not supported)"), std::string::npos) << run.out;
}

// Archives as writers in use make them: streamed entries, ZIP64 records, a program in front
// (signed or not), damaged entries among good ones, methods the engine lacks, very long names,
// Unicode and code-page names, Unix modes, extended timestamps and links.
TEST_F(Tqunzip, ArchivesAsWritersMakeThem)
{
    auto make = [&](const char* name, const ZipArchive& archive) { Write(name, ToText(archive.Build())); };
    auto streamed = [](ZipEntry entry, Descriptor descriptor) {
        entry.DataDescriptor = descriptor;
        entry.ZeroSizesInHeader = true;
        return entry;
    };
    const Bytes bigText = TextBytes(70000, 7);
    ZipArchive a;
    a.Entries = {streamed(Entry("s/def.txt", bigText, 8), Descriptor::WithSignature),
                 streamed(Entry("s/sto.txt", ToBytes("stored")), Descriptor::WithoutSignature),
                 streamed(Entry("s/empty", {}), Descriptor::WithSignature)};
    make("streamed.zip", a);
    ZipEntry badCrc = streamed(Entry("bad.txt", ToBytes("xxxx"), 8), Descriptor::WithSignature);
    badCrc.CrcOverride = Crc32(std::string("yyyy"));
    badCrc.UseCrcOverride = true;
    a.Entries = {Entry("first.txt", ToBytes("1")), badCrc, Entry("last.txt", ToBytes("2"))};
    make("streamedbad.zip", a);

    a.Entries = {Entry("z/a.txt", ToBytes("a64")), Entry("z/b.txt", bigText, 8)};
    a.Zip64End = true;
    make("zip64.zip", a);
    a.Zip64End = false;
    ZipEntry far = Entry("far.txt", ToBytes("far"));
    far.Zip64Offset = 0x100000000ull;
    a.Entries = {Entry("near.txt", ToBytes("near")), far};
    make("zip64far.zip", a);

    // A program in front whose archive counts its offsets from its own start, as writers that
    // append to a program leave them; and one signed, a certificate table of 70,000 bytes behind.
    a.Entries = {Entry("setup/run.txt", ToBytes("run")), Entry("setup/data.bin", bigText, 8)};
    a.Prefix = Bytes(93696, 0);
    a.Prefix[0] = 'M';
    a.Prefix[1] = 'Z';
    a.OffsetsFromArchive = true;
    make("sfx.exe", a);
    constexpr size_t Pe = 0x80, SecurityEntry = Pe + 24 + 112 + 8 * 4;
    Put32At(a.Prefix, 0x3C, Pe);
    a.Prefix[Pe] = 'P';
    a.Prefix[Pe + 1] = 'E';
    a.Prefix[Pe + 24] = 0x0B;   // PE32+
    a.Prefix[Pe + 25] = 0x02;
    a.Suffix = RandomBytes(70000, 3);
    Bytes signedFile = a.Build();
    Put32At(signedFile, SecurityEntry, (uint32_t)(signedFile.size() - a.Suffix.size()));
    Put32At(signedFile, SecurityEntry + 4, (uint32_t)a.Suffix.size());
    Write("signed.exe", ToText(signedFile));
    a = ZipArchive();

    ZipEntry damaged = Entry("d/two.txt", ToBytes("two"));
    damaged.CrcOverride = 1;
    damaged.UseCrcOverride = true;
    ZipEntry broken = Entry("d/four.txt", Bytes{0xFF, 0xFF, 0xFF}, 8);   // block type 3
    broken.Compressed = Bytes{0xFF, 0xFF, 0xFF};
    a.Entries = {Entry("d/one.txt", ToBytes("one")), damaged, Entry("d/three.txt", ToBytes("three")), broken,
                 Entry("d/five.txt", ToBytes("five"))};
    make("damaged.zip", a);

    // bzip2 (method 12), plain and under the traditional cipher with the default password; a
    // stream with a flipped byte in its first block, and one cut short.
    ZipEntry bz = Entry("b/text.txt", bigText, 12);
    bz.Compressed = Bzip2(bigText);
    ZipEntry bzSecret = Entry("b/secret.txt", ToBytes("hidden in bzip2"), 12);
    bzSecret.Compressed = Bzip2(bzSecret.Data);
    bzSecret.Encrypt = true;
    bzSecret.Password = TestDefaultPassword;
    ZipEntry bzStreamed = streamed(Entry("b/streamed.txt", ToBytes("streamed bzip2"), 12), Descriptor::WithSignature);
    bzStreamed.Compressed = Bzip2(bzStreamed.Data);
    a.Entries = {bz, bzSecret, bzStreamed, Entry("b/plain.txt", ToBytes("plain"))};
    make("bzip2.zip", a);
    ZipEntry bzFlipped = bz;
    bzFlipped.Name = "b/flipped.txt";
    bzFlipped.Compressed[bzFlipped.Compressed.size() / 2] ^= 0x10;
    ZipEntry bzShort = bz;
    bzShort.Name = "b/short.txt";
    bzShort.Compressed.resize(bzShort.Compressed.size() - 40);
    a.Entries = {Entry("b/first.txt", ToBytes("1")), bzFlipped, bzShort, Entry("b/last.txt", ToBytes("2"))};
    make("bzip2bad.zip", a);

    a.Entries.clear();
    for (uint16_t method : {9, 14, 93, 95, 98, 99})
        a.Entries.push_back(Entry("m" + std::to_string(method), ToBytes("data"), method));
    a.Entries.push_back(Entry("ok.txt", ToBytes("ok")));
    make("methods.zip", a);

    a.Entries = {Entry(std::string(300, 'n') + ".txt", ToBytes("long")), Entry("short.txt", ToBytes("short"))};
    make("longname.zip", a);

    // A Unicode path field whose CRC-32 matches the stored name gives the name; a stale one is
    // ignored. An MS-DOS name is code page 850 (0x82 is e acute, 0xE9 in ISO 8859-1); a Unix one
    // keeps its bytes.
    ZipEntry unicode = Entry("caf?.txt", ToBytes("u"));
    Bytes field{1};
    uint32_t nameCrc = Crc32(std::string("caf?.txt"));
    for (int i = 0; i < 4; ++i)
        field.push_back((uint8_t)(nameCrc >> (8 * i)));
    for (char c : std::string("caf\xC3\xA9.txt"))
        field.push_back((uint8_t)c);
    unicode.CentralExtra = Extra(0x7075, field);
    ZipEntry stale = Entry("old.txt", ToBytes("s"));
    field[1] ^= 1;
    stale.CentralExtra = Extra(0x7075, field);
    ZipEntry dos = Entry("r\x82sum\x82.txt", ToBytes("d"));
    ZipEntry unix = Entry("u\x82.txt", ToBytes("x"));
    unix.MadeBy = 0x0314;
    a.Entries = {unicode, stale, dos, unix};
    make("names.zip", a);

    // Unix modes and the extended timestamp (flags 1: modification time, 2023-11-14 22:13:20 UTC).
    ZipEntry tool = Entry("bin/tool", ToBytes("#!/bin/sh\n"));
    tool.MadeBy = 0x0314;
    tool.ExternalAttributes = 0100755u << 16;
    tool.CentralExtra = Extra(0x5455, Bytes{1, 0x00, 0xF1, 0x53, 0x65});
    ZipEntry secret = Entry("bin/private", ToBytes("p"));
    secret.MadeBy = 0x0314;
    secret.ExternalAttributes = 0104600u << 16;   // set-user-id is never restored
    ZipEntry link = Entry("bin/link", ToBytes("../../etc/passwd"));
    link.MadeBy = 0x0314;
    link.ExternalAttributes = 0120777u << 16;
    a.Entries = {tool, secret, link};
    make("unix.zip", a);

    const std::string bigHash = ToText(bigText);
    Write("big.expected", bigHash);
    struct Case {
        std::vector<std::string> args;
        int status;
        const char* err;      // the whole standard error, or after "~" a part of it
        const char* check;    // shell command run in the working folder; must succeed
    } cases[] = {
        {{"streamed.zip"}, 0, "", "cmp s/def.txt big.expected && test $(cat s/sto.txt) = stored && test ! -s s/empty"},
        {{"-t", "streamed.zip"}, 0, "", "test ! -e s"},
        {{"streamedbad.zip"}, 2, "~bad.txt: computed CRC-32 ", "test $(cat first.txt)$(cat last.txt) = 12"},
        {{"zip64.zip"}, 0, "", "test $(cat z/a.txt) = a64 && cmp z/b.txt big.expected"},
        {{"zip64far.zip"}, 81,
            "tqunzip: zip64far.zip: far.txt: skipped: ZIP64 entry standing beyond 2 GiB in the archive (ZIP64 "
            "extends the format beyond 4 GiB): not supported\n",
            "test $(cat near.txt) = near && test ! -e far.txt"},
        {{"sfx.exe"}, 0, "", "test $(cat setup/run.txt) = run && cmp setup/data.bin big.expected"},
        {{"-t", "signed.exe"}, 0, "", "true"},
        {{"-d", "s", "signed.exe"}, 0, "", "test $(cat s/setup/run.txt) = run && cmp s/setup/data.bin big.expected"},
        {{"damaged.zip"}, 2, "~d/four.txt: ",
            "test $(cat d/one.txt)$(cat d/three.txt)$(cat d/five.txt) = onethreefive"},
        {{"-t", "damaged.zip"}, 2, "~d/two.txt: computed CRC-32 ", "true"},
        {{"bzip2.zip"}, 0, "",
            "cmp b/text.txt big.expected && test \"$(cat b/secret.txt)\" = 'hidden in bzip2' "
            "&& test \"$(cat b/streamed.txt)\" = 'streamed bzip2' && test $(cat b/plain.txt) = plain"},
        {{"-t", "bzip2.zip"}, 0, "", "test ! -e b"},
        {{"-p", "bzip2.zip", "b/secret.txt"}, 0, "", "test ! -e b"},
        {{"bzip2bad.zip"}, 2, "~b/flipped.txt: computed CRC-32 ",
            "test $(cat b/first.txt)$(cat b/last.txt) = 12"},
        {{"-t", "bzip2bad.zip"}, 2, "~b/short.txt: computed CRC-32 ", "true"},
        {{"methods.zip"}, 81,
            "tqunzip: methods.zip: m9: skipped: compression method 9 (Deflate64) is not supported: only stored, "
            "deflated and bzip2\n"
            "tqunzip: methods.zip: m14: skipped: compression method 14 (LZMA) is not supported: only stored, deflated "
            "and bzip2\n"
            "tqunzip: methods.zip: m93: skipped: compression method 93 (Zstandard) is not supported: only stored, "
            "deflated and bzip2\n"
            "tqunzip: methods.zip: m95: skipped: compression method 95 (XZ) is not supported: only stored, deflated "
            "and bzip2\n"
            "tqunzip: methods.zip: m98: skipped: compression method 98 (PPMd) is not supported: only stored, deflated "
            "and bzip2\n"
            "tqunzip: methods.zip: m99: skipped: AES encryption (method 99) is not supported: only the traditional ZIP "
            "encryption\n",
            "test $(cat ok.txt) = ok && test ! -e m9"},
        {{"-t", "-q", "longname.zip"}, 0, "", "true"},
        {{"longname.zip"}, 2, "~: refused: the output path would exceed 259 characters\n",
            "test $(cat short.txt) = short"},
        {{"names.zip"}, 0, "",
            "test $(cat caf\303\251.txt) = u && test $(cat old.txt) = s && test $(cat \"$(printf 'r\\351sum\\351.txt')\") = d "
            "&& test $(cat \"$(printf 'u\\202.txt')\") = x"},
        {{"unix.zip"}, 1,
            "tqunzip: unix.zip: bin/link: a symbolic link: written as a file that holds the link's target (links are "
            "never created)\n",
            "test -x bin/tool && test $(stat -c %Y bin/tool) = 1700000000 && test $(stat -c %a bin/private) = 600 "
            "&& test ! -L bin/link && test $(cat bin/link) = ../../etc/passwd"},
    };
    for (Case& c : cases) {
        ASSERT_EQ(Shell("rm -rf s z d b bin setup m[0-9]* *.txt"), 0);
        std::vector<std::string> args{"-q"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        ToolRun run = Run(args);
        std::string where = c.args.back() + " " + c.args.front();
        EXPECT_EQ(run.status, c.status) << where << ": " << run.err;
        if (c.err[0] == '~')
            EXPECT_NE(run.err.find(c.err + 1), std::string::npos) << where << ": " << run.err;
        else
            EXPECT_EQ(run.err, c.err) << where;
        EXPECT_EQ(Shell(c.check), 0) << where << ": " << c.check;
    }
}

// Every file below folder, as paths relative to it ("a/b.txt").
std::vector<std::string> FilesBelow(const std::string& folder, const std::string& prefix = "")
{
    std::vector<std::string> files;
    for (const std::string& name : ListFolder(folder)) {
        std::string path = folder + "/" + name;
        if (FolderExists(path)) {
            for (const std::string& below : FilesBelow(path, prefix + name + "/"))
                files.push_back(below);
        } else {
            files.push_back(prefix + name);
        }
    }
    return files;
}

// Generated archives from the tests' writer, as many shapes at once as the run loop meets:
// stored, deflated and bzip2 entries, streamed ones with and without the descriptor's
// signature, entries under the default password, damaged entries among sound ones (a wrong
// CRC-32, or a flipped byte of the data), a program in front, and archives of hundreds of entries.
// Each is extracted (sometimes tested, sometimes by two processes) and compared with what the
// writer put in: every sound entry's bytes, every damaged one reported, the exit status the
// worst met.
TEST_F(Tqunzip, GeneratedArchivesComeOutAsWritten)
{
    const uint32_t seed = TestSeed();
    std::mt19937 random(seed);
    auto below = [&](unsigned bound) { return (unsigned)(random() % bound); };
    constexpr int Archives = 60;
    auto shape = [](const ZipEntry& entry) {
        return entry.Name + " (method " + std::to_string(entry.Method) + ", " + std::to_string(entry.Data.size())
            + " bytes, descriptor " + std::to_string((int)entry.DataDescriptor) + (entry.ZeroSizesInHeader ? ", streamed" : "")
            + (entry.Encrypt ? ", encrypted" : "") + (entry.UseCrcOverride ? ", CRC-32 given" : "") + ")";
    };
    for (int round = 0; round < Archives; ++round) {
        ZipArchive archive;
        if (below(3) == 0) {
            archive.Prefix = RandomBytes(1 + below(5000), random());
            archive.OffsetsFromArchive = below(2) == 0;
        }
        unsigned count = below(8) == 0 ? 150 + below(250) : 1 + below(24);
        std::set<std::string> damaged;
        for (unsigned i = 0; i < count; ++i) {
            ZipEntry entry;
            entry.Name = "g" + std::to_string(below(4)) + "/" + (below(2) ? "d/" : "") + "e" + std::to_string(i) + ".bin";
            // Sizes about the engine's blocks (a read-ahead of 64 KiB, reads of 28 KiB, 4 KiB
            // and more going past the read-ahead) now and then, so that headers and data
            // straddle their ends in every way.
            static const size_t EdgeSizes[] = {4096, 28672, 65536, 131072};
            size_t size = below(10) == 0 ? below(80000)
                : below(10) == 0        ? EdgeSizes[below(4)] - 64 + below(128)
                                        : below(2000);
            entry.Data = below(2) ? TextBytes(size, random()) : RandomBytes(size, random());
            static const uint16_t Methods[] = {0, 8, 12};
            entry.Method = Methods[below(3)];
            if (entry.Method == 12)
                entry.Compressed = Bzip2(entry.Data);
            else if (entry.Method == 8)
                entry.Compressed = below(2) ? DeflateFixed(entry.Data) : DeflateStored(entry.Data);
            static const Descriptor Descriptors[] = {Descriptor::None, Descriptor::WithSignature,
                                                     Descriptor::WithoutSignature};
            entry.DataDescriptor = Descriptors[below(3)];
            entry.ZeroSizesInHeader = entry.DataDescriptor != Descriptor::None && below(4) != 0;
            if (below(4) == 0) {
                entry.Encrypt = true;
                entry.Password = TestDefaultPassword;
                entry.CheckByTime = entry.DataDescriptor != Descriptor::None;
            }
            unsigned harm = below(14);
            if (harm == 0) {
                entry.CrcOverride = Crc32(entry.Data) ^ (1u << below(24));   // the check byte stays
                entry.UseCrcOverride = true;
                damaged.insert(entry.Name);
            } else if (harm == 1 && entry.Data.size() >= 64) {
                Bytes& bytes = entry.Method == 0 ? entry.Data : entry.Compressed;
                if (entry.Method == 0) {
                    entry.CrcOverride = Crc32(entry.Data);   // the CRC-32 of the bytes before the flip
                    entry.UseCrcOverride = true;
                }
                bytes[bytes.size() / 2] ^= (uint8_t)(1u << below(8));
                // A few bits of a bzip2 stream change nothing decoded (a table entry never used):
                // libbz2 itself tells whether the flip is damage.
                if (entry.Method != 12 || Bunzip2(entry.Compressed) != entry.Data)
                    damaged.insert(entry.Name);
            }
            archive.Entries.push_back(entry);
        }
        std::string where = "archive " + std::to_string(round) + " of seed " + std::to_string(seed);
        Write("g.zip", ToText(archive.Build()));
        ASSERT_EQ(Shell("rm -rf out && mkdir out"), 0);

        bool test = below(4) == 0;
        std::vector<std::string> args{"-q"};
        if (below(4) == 0)
            args.push_back("--jobs=2");
        if (test)
            args.push_back("-t");
        else
            args.insert(args.end(), {"-d", "out"});
        args.push_back("g.zip");
        ToolRun run = Run(args);
        EXPECT_EQ(run.status, damaged.empty() ? 0 : 2) << where << ": " << run.err;
        for (const ZipEntry& entry : archive.Entries) {
            bool reported = run.err.find("g.zip: " + entry.Name + ": ") != std::string::npos;
            EXPECT_EQ(reported, damaged.count(entry.Name) != 0) << where << ": " << shape(entry) << "\n" << run.err;
        }
        std::vector<std::string> files = FilesBelow(work + "/out");
        if (test) {
            EXPECT_TRUE(files.empty()) << where;
            continue;
        }
        std::set<std::string> written(files.begin(), files.end());
        size_t expected = 0;
        for (const ZipEntry& entry : archive.Entries) {
            if (damaged.count(entry.Name) != 0) {
                written.erase(entry.Name);   // kept as decoded, or never made
                continue;
            }
            ++expected;
            EXPECT_TRUE(written.erase(entry.Name) == 1 && ReadWholeBytes(work + "/out/" + entry.Name) == entry.Data)
                << where << ": " << shape(entry);
        }
        EXPECT_TRUE(written.empty()) << where << ": " << written.size() << " files the archive does not hold";
        if (::testing::Test::HasFailure())
            break;   // the seed and the first archive that went wrong are enough
        EXPECT_GE(files.size(), expected);
    }
}

TEST_F(Tqunzip, DataInFrontIsFoundWithoutAnOffset)
{
    MakeWith("zip -q -X", "z.zip");
    // In front: an end-of-central-directory record of 22 bytes, which would end a walk at once.
    std::string fakeEnd("PK\x05\x06", 4);
    fakeEnd += std::string(18, '\0');
    Write("prefixed.zip", fakeEnd + Read("z.zip"));
    ASSERT_EQ(Shell("mkdir a b"), 0);
    ToolRun run = Run({"-q", "-d", "a", "prefixed.zip"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(Read("a/a.txt"), text);
    // The verbose listing names where the archive starts, on a line of its own; the plain one
    // and a quiet one do not.
    run = Run({"-lv", "prefixed.zip"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(Lines(run.out).at(0), "Archive at offset 22, behind other data (a program, for instance)") << run.out;
    EXPECT_EQ(Run({"-l", "prefixed.zip"}).out.find("Archive at"), std::string::npos);
    EXPECT_EQ(Run({"-lvq", "prefixed.zip"}).out.find("Archive at"), std::string::npos);
    EXPECT_EQ(Run({"-lv", "z.zip"}).out.find("Archive at"), std::string::npos);
    // --offset leaves out the entries in front of it.
    run = Run({"-q", "-j", "--offset=22", "-d", "b", "prefixed.zip"});
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
    ToolRun run = Run({"-l", "-q", "-C", "prefixed.zip", "SUB/BIN.DAT"});
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
