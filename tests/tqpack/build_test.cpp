// tqpack build: the distribution it writes (files, time stamps to the 100-ns tick, stored or
// deflated entries, MS-DOS times), reproducible output, and every input it refuses.
#include "fixture.h"

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <ctime>
#include <pty.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

ArchiveEntry FindEntry(const std::vector<ArchiveEntry>& entries, const std::string& name)
{
    for (const ArchiveEntry& entry : entries)
        if (entry.Name == name)
            return entry;
    ADD_FAILURE() << "no entry " << name;
    return ArchiveEntry();
}

} // namespace

TEST_F(TqpackTest, BuildWritesEveryFileWithSetupTimeToTheTick)
{
    CommandResult result = Build();
    ASSERT_EQ(result.Status, 0) << result.Output;
    EXPECT_EQ(ReadWholeBytes(Dist + "/setup.exe"), ReadWholeBytes(Setup));
    // 535897932 ns is 5358979 whole ticks of 100 ns: Windows (and Wine) see 535897900 ns.
    long long expected = SetupSeconds * 1000000000LL + 535897900;
    EXPECT_EQ(MtimeNanoseconds(Dist + "/setup.exe"), expected);
    for (const char* name : TextFileNames) {
        EXPECT_EQ(ReadWholeBytes(Dist + "/" + name), ReadWholeBytes(Texts + "/" + name)) << name;
        EXPECT_EQ(MtimeNanoseconds(Dist + "/" + name), expected) << name;
    }
    int64_t setupTicks = 0, ticks = 0;
    ASSERT_TRUE(GetFileTime100ns(Setup, setupTicks));
    EXPECT_EQ(setupTicks, (SetupSeconds + 11644473600LL) * 10000000LL + 5358979);
    ASSERT_TRUE(GetFileTime100ns(Dist + "/README.TXT", ticks));
    EXPECT_EQ(ticks, setupTicks);
}

TEST_F(TqpackTest, EntriesAreSortedEncryptedAndStoredOnlyWhenSmaller)
{
    ASSERT_EQ(Build().Status, 0);
    std::vector<ArchiveEntry> entries;
    Problems problems;
    ASSERT_TRUE(ReadArchiveEntries(Dist + "/setup.tq", entries, problems)) << problems[0];
    ASSERT_EQ(entries.size(), 4u);
    EXPECT_EQ(entries[0].Name, "TQFAVS.LST");
    EXPECT_EQ(entries[1].Name, "TQSOUNDS.DAT");
    EXPECT_EQ(entries[2].Name, "tessel.hlp");
    EXPECT_EQ(entries[3].Name, "tessel32.ex_"); // given as TESSEL32.EXE
    for (const ArchiveEntry& entry : entries)
        EXPECT_EQ(entry.Flags, 1) << entry.Name; // encrypted, no data descriptor

    ArchiveEntry empty = FindEntry(entries, "TQFAVS.LST");
    EXPECT_EQ(empty.Method, 0);
    EXPECT_EQ(empty.CompressedSize, 12u); // the encryption header alone
    EXPECT_EQ(empty.Crc, 0u);
    ArchiveEntry noise = FindEntry(entries, "TQSOUNDS.DAT");
    EXPECT_EQ(noise.Method, 0);
    EXPECT_EQ(noise.CompressedSize, noise.UncompressedSize + 12);
    ArchiveEntry help = FindEntry(entries, "tessel.hlp");
    EXPECT_EQ(help.Method, 8);
    EXPECT_LT(help.CompressedSize, help.UncompressedSize / 10);
    std::vector<unsigned char> content = ReadWholeBytes(Payload + "/tessel.hlp");
    EXPECT_EQ(help.Crc, Crc32(content));
}

TEST_F(TqpackTest, EntryTimesAreLocalMsDosTimes)
{
    const char* oldZone = std::getenv("TZ");
    std::string saved = oldZone ? oldZone : "";
    setenv("TZ", "XST-2", 1); // two hours east of UTC
    tzset();
    constexpr int64_t epochTicks = 11644473600LL * 10000000LL;
    // 2026-06-01 12:00:01 UTC: 14:00:00 local, odd seconds cut to even.
    uint32_t packed = DosDateTimeFromTicks(epochTicks + 1780315201LL * 10000000LL);
    EXPECT_EQ(packed & 0xFFFF, 14u << 11);
    EXPECT_EQ(packed >> 16, (46u << 9) | (6u << 5) | 1u);
    EXPECT_EQ(FormatDosDateTime(static_cast<uint16_t>(packed >> 16), static_cast<uint16_t>(packed)),
              "2026-06-01 14:00:00");
    // 1975 lies before the MS-DOS epoch.
    EXPECT_EQ(DosDateTimeFromTicks(epochTicks + 157766400LL * 10000000LL), (1u << 5 | 1u) << 16);
    // 2200 lies beyond it.
    uint32_t last = DosDateTimeFromTicks(epochTicks + 7258118400LL * 10000000LL);
    EXPECT_EQ(FormatDosDateTime(static_cast<uint16_t>(last >> 16), static_cast<uint16_t>(last)),
              "2107-12-31 23:59:58");

    ASSERT_EQ(Build().Status, 0); // tqpack inherits TZ
    std::vector<ArchiveEntry> entries;
    Problems problems;
    ASSERT_TRUE(ReadArchiveEntries(Dist + "/setup.tq", entries, problems));
    ArchiveEntry noise = FindEntry(entries, "TQSOUNDS.DAT"); // 12:00:01.999999999 UTC
    EXPECT_EQ(FormatDosDateTime(noise.DosDate, noise.DosTime), "2026-06-01 14:00:00");
    if (oldZone)
        setenv("TZ", saved.c_str(), 1);
    else
        unsetenv("TZ");
    tzset();
}

TEST_F(TqpackTest, SameInputGivesSameBytes)
{
    ASSERT_EQ(Build().Status, 0);
    // Setup's own password is the one --password accepts; the bytes are the same.
    ASSERT_EQ(Build("--password=" + Quote(DefaultPassword), Root + "/second").Status, 0);
    std::vector<unsigned char> first = ReadWholeBytes(Dist + "/setup.tq");
    ASSERT_FALSE(first.empty());
    EXPECT_EQ(first, ReadWholeBytes(Root + "/second/setup.tq"));

    // SOURCE_DATE_EPOCH seeds the encryption headers instead of the content: again the same
    // bytes run to run, but other headers than the content-seeded ones.
    std::string epoch = "SOURCE_DATE_EPOCH=1700000000 ";
    ASSERT_EQ(RunCommand(epoch + Quote(TQPACK_PROGRAM) + " build --setup " + Quote(Setup) + " --payload "
                         + Quote(Payload) + " --texts " + Quote(Texts) + " --out " + Quote(Root + "/e1")).Status, 0);
    ASSERT_EQ(RunCommand(epoch + Quote(TQPACK_PROGRAM) + " build --setup " + Quote(Setup) + " --payload "
                         + Quote(Payload) + " --texts " + Quote(Texts) + " --out " + Quote(Root + "/e2")).Status, 0);
    std::vector<unsigned char> seeded = ReadWholeBytes(Root + "/e1/setup.tq");
    EXPECT_EQ(seeded, ReadWholeBytes(Root + "/e2/setup.tq"));
    EXPECT_EQ(seeded.size(), first.size());
    EXPECT_NE(seeded, first);
}

TEST_F(TqpackTest, CompressorsAreMeasuredAgainstEachOther)
{
    ASSERT_EQ(Build("--deflate=zlib", Root + "/zlib").Status, 0);
    ASSERT_EQ(Build("--deflate libdeflate").Status, 0);
    // Both pass the engine's test run; level 12 of libdeflate is never larger here.
    for (const std::string& dist : {Root + "/zlib", Dist}) {
        CommandResult verified = RunTqpack("verify " + Quote(dist));
        EXPECT_EQ(verified.Status, 0) << verified.Output;
    }
    std::vector<ArchiveEntry> zlibEntries, libdeflateEntries;
    Problems problems;
    ASSERT_TRUE(ReadArchiveEntries(Root + "/zlib/setup.tq", zlibEntries, problems));
    ASSERT_TRUE(ReadArchiveEntries(Dist + "/setup.tq", libdeflateEntries, problems));
    EXPECT_LE(FindEntry(libdeflateEntries, "tessel.hlp").CompressedSize,
              FindEntry(zlibEntries, "tessel.hlp").CompressedSize);
}

TEST_F(TqpackTest, PayloadNamesSetupCannotWriteSafely)
{
    struct Case { std::string Name; bool Accepted; };
    const std::string longest(MaxOutputPath - std::string(LongestProposedFolder).size(), 'n');
    const Case cases[] = {
        {"tessel.hlp", true},
        {"TQ CORE.DLL", true},
        {longest, true},
        {longest + "n", false},         // output path of 260 characters
        {std::string(264, 'n'), false}, // beyond the engine's name buffer
        {"sub\\a.txt", false},
        {"sub/a.txt", false},
        {"c:a.txt", false},
        {"a.txt:stream", false},
        {"caf\xc3\xa9.txt", false},
        {"tab\tname", false},
        {"what?.txt", false},
        {"trailing.", false},
        {"CON", false},
        {"nul.txt", false},
        {"Com1.log", false},
        {"COM10.log", true},
        {"COM0", false},
        {"lpt0.txt", false},
        {"CLOCK$", false},
        {"clock$.dat", false},
        {"CON .txt", false},
        {"CLOCK.txt", true},
        {"", false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(CheckPayloadName(c.Name).empty(), c.Accepted) << "\"" << c.Name << "\"";
}

// On a terminal, build draws a progress bar on standard error and clears it before its summary;
// not on a terminal (every other test here) or with --quiet, the output is the summary alone.
TEST_F(TqpackTest, BuildShowsProgressOnATerminalOnly)
{
    for (bool quiet : {false, true}) {
        int terminal;
        pid_t child = forkpty(&terminal, nullptr, nullptr, nullptr);
        ASSERT_GE(child, 0);
        if (child == 0) {
            std::string out = Root + (quiet ? "/quiet" : "/bar");
            execl(TQPACK_PROGRAM, TQPACK_PROGRAM, "build", "--setup", Setup.c_str(), "--payload", Payload.c_str(),
                  "--texts", Texts.c_str(), "--out", out.c_str(), quiet ? "-q" : "--deflate=zlib", (char*)nullptr);
            _exit(127);
        }
        std::string screen;
        char buffer[512];
        ssize_t n;
        while ((n = read(terminal, buffer, sizeof buffer)) > 0)
            screen.append(buffer, static_cast<size_t>(n));
        int status = 0;
        waitpid(child, &status, 0);
        close(terminal);
        EXPECT_EQ(WEXITSTATUS(status), 0) << screen;
        if (quiet) {
            EXPECT_EQ(screen.rfind("tqpack build: wrote ", 0), 0u) << screen;
        } else {
            EXPECT_NE(screen.find("[---"), std::string::npos) << screen;   // before the first entry
            EXPECT_NE(screen.find("%  tessel.hlp"), std::string::npos) << screen;
            EXPECT_NE(screen.find("\r\033[Ktqpack build: wrote "), std::string::npos) << screen;
        }
    }
}

// Each refusal: exit status 1, a message naming the problem, nothing written, no folder made.
TEST_F(TqpackTest, RefusalsWriteNothing)
{
    struct Refusal {
        const char* Problem;
        std::function<void()> Spoil;   // what is wrong with the fixture's inputs
        std::string Out;               // below Root; empty: Dist
    };
    const Refusal refusals[] = {
        {"text file FILE_ID.DIZ missing", [&] { std::remove((Texts + "/FILE_ID.DIZ").c_str()); }, ""},
        {"setup program", [&] { Setup = Root + "/in/nothing.exe"; }, ""},
        {"setup program /etc/passwd is not a Windows program", [&] { Setup = "/etc/passwd"; }, ""},
        {"is a console program, not a Windows GUI program",
         [&] {
             ProgramSpec console;
             console.Subsystem = 3;
             console.Resources = SetupResources();
             ASSERT_TRUE(WriteWholeFile(Setup, MakeWindowsProgram(console)));
         }, ""},
        {"lacks setup's resources (the install-folder dialog, the progress dialog, the message texts, the "
         "shell-extension stub library, the version record, the manifest)",
         [&] { ASSERT_TRUE(WriteWholeFile(Setup, MakeWindowsProgram(ProgramSpec{false, 2, false, {{3, nullptr, 1, nullptr}}}))); },
         ""},
        {"\"a:b.txt\" cannot be extracted safely", [&] { WriteText(Payload + "/a:b.txt", "x"); }, ""},
        {"path separator", [&] { WriteText(Payload + "/sub\\a.txt", "x"); }, ""},
        {"output path would exceed 259", [&] { WriteText(Payload + "/" + std::string(240, 'x'), "x"); }, ""},
        {"the payload must be flat", [&] { mkdir((Payload + "/docs").c_str(), 0777); }, ""},
        {"holds no main program", [&] { std::remove((Payload + "/TESSEL32.EXE").c_str()); }, ""},
        {"main program twice", [&] { WriteText(Payload + "/tessel32.ex_", "MZ"); }, ""},
        {"same name on Windows", [&] { WriteText(Payload + "/TESSEL.HLP", "x"); }, ""},
        {"setup copies the text file", [&] { WriteText(Payload + "/readme.txt", "x"); }, ""},
        {"is the payload folder", [] {}, "payload"},
        {"is the payload folder", [] {}, "payload/./"},
        {"lies inside it", [] {}, "payload/dist"},
    };
    for (const Refusal& refusal : refusals) {
        SCOPED_TRACE(refusal.Problem);
        TearDown();
        SetUp();
        refusal.Spoil();
        std::string out = refusal.Out.empty() ? Dist : Root + "/" + refusal.Out;
        bool existed = FileExists(out);
        CommandResult result = Build("", out);
        EXPECT_EQ(result.Status, 1) << result.Output;
        EXPECT_NE(result.Output.find(refusal.Problem), std::string::npos) << result.Output;
        EXPECT_FALSE(FileExists(out + "/setup.tq"));
        EXPECT_EQ(existed, FileExists(out));
    }
}

// A usage error is one line naming the problem and the command's help, exit status 64.
TEST(TqpackUsage, UsageErrorsExit64WithOneLine)
{
    struct Case {
        const char* arguments;
        const char* output;
    } cases[] = {
        {"", "tqpack: no command given\nTry 'tqpack --help' for more information.\n"},
        {"pack x", "tqpack: unknown command pack\nTry 'tqpack --help' for more information.\n"},
        {"--frobnicate", "tqpack: unknown option --frobnicate\nTry 'tqpack --help' for more information.\n"},
        {"build --setup a --payload b --texts c", "tqpack build: --payload, --texts and --out are all needed\n"},
        {"build --payload=b --texts=c --out=d",
         "tqpack build: --setup is needed: no setup.exe is installed under tqpack's prefix\n"},
        {"build --setup", "tqpack build: --setup needs a value\n"},
        {"build --frobnicate x", "tqpack build: unknown option --frobnicate\n"},
        {"build --quiet=yes", "tqpack build: --quiet takes no value\n"},
        {"build --setup=a --payload=b --texts=c --out=d stray", "tqpack build: unexpected argument stray\n"},
        {"build --setup=a --payload=b --texts=c --out=d --deflate=lzma", "tqpack build: --deflate takes libdeflate or zlib\n"},
        {"build --setup=a --payload=b --texts=c --out=d --password=other",
         "tqpack build: --password: setup decrypts the payload with its built-in password only, so a payload "
         "encrypted with another one would not install\n"},
        {"verify", "tqpack verify: no distribution folder given\n"},
        {"verify a b", "tqpack verify: one distribution folder, please\n"},
        {"verify -v a", "tqpack verify: unknown option -v\n"},
        {"list --all x", "tqpack list: unknown option --all\n"},
        {"build --setup=a --payload=b --texts=c --out=d --sign-key=k",
         "tqpack build: --sign-key and --sign-cert go together\n"},
        {"bundle d --out=x --stub=s --sign-pkcs12=p --sign-pass-file=f --sign-pass-env=V",
         "tqpack bundle: --sign-pass-file or --sign-pass-env, not both\n"},
        {"sign", "tqpack sign: no program given\n"},
        {"sign a.exe", "tqpack sign: signing needs --sign-pkcs12, or --sign-key with --sign-cert\n"},
        {"sign a.exe --sign-pkcs12=p --sign-cert=c", "tqpack sign: --sign-pkcs12 or --sign-key with --sign-cert, not both\n"},
        {"sign a.exe --sign-pkcs12 p --password x", "tqpack sign: unknown option --password\n"},
    };
    for (const Case& c : cases) {
        CommandResult result = RunTqpack(c.arguments);
        EXPECT_EQ(result.Status, 64) << c.arguments;
        EXPECT_EQ(result.Output.rfind(c.output, 0), 0u) << c.arguments << "\n" << result.Output;
        EXPECT_EQ(std::count(result.Output.begin(), result.Output.end(), '\n'), 2) << result.Output;
    }
}

TEST(TqpackUsage, HelpAndVersionOfEveryCommand)
{
    for (const char* command : {"--help", "-h", "help", "build --help", "build -h", "verify --help", "list -h",
                                "bundle --help", "sign --help"}) {
        CommandResult result = RunTqpack(command);
        EXPECT_EQ(result.Status, 0) << command;
        EXPECT_EQ(result.Output.rfind("Usage: tqpack", 0), 0u) << command;
    }
    EXPECT_NE(RunTqpack("build --help").Output.find("TESSEL32.EXE"), std::string::npos);
    for (const char* command : {"build --help", "bundle --help", "sign --help"})
        EXPECT_NE(RunTqpack(command).Output.find("--sign-pass-env=NAME"), std::string::npos) << command;
    for (const char* command : {"--version", "build --version", "list --version"})
        EXPECT_EQ(RunTqpack(command).Output.rfind("tqpack (Tessel tools) ", 0), 0u) << command;
}
