// tqpack verify and list, and the archives read back by Info-ZIP unzip: a fresh distribution
// passes; a flipped byte, a text file touched later, a wrong password or a missing file is
// found and named.
#include "fixture.h"

#include <cstdio>

namespace {

void FlipByte(const std::string& path, long offset)
{
    FILE* file = std::fopen(path.c_str(), "r+b");
    ASSERT_NE(file, nullptr);
    std::fseek(file, offset, SEEK_SET);
    int c = std::fgetc(file);
    std::fseek(file, offset, SEEK_SET);
    std::fputc(c ^ 0x10, file);
    std::fclose(file);
}

} // namespace

TEST_F(TqpackTest, VerifyPassesAFreshDistribution)
{
    ASSERT_EQ(Build().Status, 0);
    CommandResult result = RunTqpack("verify " + Quote(Dist));
    EXPECT_EQ(result.Status, 0) << result.Output;
    EXPECT_NE(result.Output.find("would install"), std::string::npos);
}

TEST_F(TqpackTest, VerifyFindsAFlippedByteInEveryKindOfEntry)
{
    ASSERT_EQ(Build().Status, 0);
    std::vector<ArchiveEntry> entries;
    Problems problems;
    ASSERT_TRUE(ReadArchiveEntries(Dist + "/setup.tq", entries, problems));
    std::vector<unsigned char> original = ReadWholeBytes(Dist + "/setup.tq");
    for (const ArchiveEntry& entry : entries) {
        if (entry.UncompressedSize == 0)
            continue;
        // A byte in the middle of the entry's data, behind its header, name and 12-byte
        // encryption header.
        long data = static_cast<long>(entry.HeaderOffset + 30 + entry.Name.size() + 12);
        FlipByte(Dist + "/setup.tq", data + (entry.CompressedSize - 12) / 2);
        CommandResult result = RunTqpack("verify " + Quote(Dist));
        EXPECT_EQ(result.Status, 1) << entry.Name << "\n" << result.Output;
        EXPECT_NE(result.Output.find("would not install"), std::string::npos) << result.Output;
        Problems written;
        ASSERT_TRUE(WriteWholeFile(Dist + "/setup.tq", original, written));
    }
    EXPECT_EQ(RunTqpack("verify " + Quote(Dist)).Status, 0);
}

TEST_F(TqpackTest, VerifyFindsATextFileTouchedLater)
{
    ASSERT_EQ(Build().Status, 0);
    // One tick of 100 ns later is another time to Windows; 99 ns later is not.
    SetMtime(Dist + "/ORDER.TXT", SetupSeconds, 535897999);
    CommandResult same = RunTqpack("verify " + Quote(Dist));
    EXPECT_EQ(same.Status, 0) << same.Output;
    SetMtime(Dist + "/ORDER.TXT", SetupSeconds, 535898000);
    CommandResult later = RunTqpack("verify " + Quote(Dist));
    EXPECT_EQ(later.Status, 1);
    EXPECT_NE(later.Output.find("ORDER.TXT last written 2026-03-14 15:09:26.5358980 UTC, not at "
                                "2026-03-14 15:09:26.5358979 UTC"), std::string::npos) << later.Output;
    EXPECT_EQ(later.Output.find("README.TXT"), std::string::npos) << later.Output;
}

TEST_F(TqpackTest, VerifyFindsAWrongPassword)
{
    ASSERT_EQ(Build().Status, 0);
    // tqpack build refuses another password, so the payload is written here directly.
    PackStats stats;
    Problems problems;
    ArchiveOptions options;
    options.Password = "not the built-in one";
    ASSERT_TRUE(WriteArchive(Dist + "/setup.tq", {{"tessel32.ex_", Payload + "/TESSEL32.EXE"}}, options, stats,
                             problems));
    CommandResult result = RunTqpack("verify " + Quote(Dist));
    EXPECT_EQ(result.Status, 1);
    EXPECT_NE(result.Output.find("extraction engine"), std::string::npos) << result.Output;
}

TEST_F(TqpackTest, VerifyListsEveryMissingFile)
{
    ASSERT_EQ(Build().Status, 0);
    std::remove((Dist + "/setup.tq").c_str());
    std::remove((Dist + "/TESSEL.TXT").c_str());
    std::remove((Dist + "/VENDOR.TXT").c_str());
    CommandResult result = RunTqpack("verify " + Quote(Dist));
    EXPECT_EQ(result.Status, 1);
    for (const char* name : {"TESSEL.TXT missing", "VENDOR.TXT missing", "setup.tq missing"})
        EXPECT_NE(result.Output.find(name), std::string::npos) << result.Output;
    EXPECT_EQ(RunTqpack("verify " + Quote(Root + "/nowhere")).Status, 1);
}

TEST_F(TqpackTest, ListShowsEveryEntryInTheFormatOfTqunzip)
{
    ASSERT_EQ(Build().Status, 0);
    CommandResult result = RunTqpack("list " + Quote(Dist));
    ASSERT_EQ(result.Status, 0) << result.Output;
    std::vector<unsigned char> help = ReadWholeBytes(Payload + "/tessel.hlp");
    char crc[16];
    std::snprintf(crc, sizeof crc, "%08x", Crc32(help));
    EXPECT_EQ(result.Output.rfind("    Length      Packed  Method   Ratio  Modified          CRC-32    Enc  Name\n", 0), 0u)
        << result.Output;
    // The empty entry is the 12-byte encryption header alone; the help text deflates well.
    EXPECT_NE(result.Output.find("         0          12  Stored      0%  "), std::string::npos) << result.Output;
    EXPECT_NE(result.Output.find("  00000000  *    TQFAVS.LST\n"), std::string::npos) << result.Output;
    EXPECT_NE(result.Output.find("  Deflate    9"), std::string::npos) << result.Output;
    EXPECT_NE(result.Output.find(std::string(crc) + "  *    tessel.hlp\n"), std::string::npos) << result.Output;
    EXPECT_NE(result.Output.find("  *    tessel32.ex_\n"), std::string::npos) << result.Output;
    EXPECT_NE(result.Output.find("  4 entries\n"), std::string::npos) << result.Output;
    // -v and --verbose: local header offsets, the first entry's at 0.
    for (const char* verbose : {"-v", "--verbose"}) {
        CommandResult detailed = RunTqpack(std::string("list ") + verbose + " " + Quote(Dist));
        EXPECT_EQ(detailed.Status, 0);
        EXPECT_NE(detailed.Output.find("  *             0  TQFAVS.LST\n"), std::string::npos) << detailed.Output;
    }
    EXPECT_EQ(RunTqpack("list " + Quote(Root)).Status, 1); // no setup.tq there
}

TEST_F(TqpackTest, InfoZipUnzipExtractsWithThePassword)
{
    if (std::string(UNZIP_PROGRAM).empty())
        GTEST_SKIP() << "Info-ZIP unzip is not installed";
    ASSERT_EQ(Build().Status, 0);
    std::string out = Root + "/unzipped";
    CommandResult wrong = RunCommand(Quote(UNZIP_PROGRAM) + " -o -P wrong -d " + Quote(out) + " "
                                     + Quote(Dist + "/setup.tq"));
    EXPECT_NE(wrong.Status, 0) << wrong.Output;
    CommandResult result = RunCommand(Quote(UNZIP_PROGRAM) + " -o -P " + Quote(DefaultPassword) + " -d "
                                      + Quote(out) + " " + Quote(Dist + "/setup.tq"));
    ASSERT_EQ(result.Status, 0) << result.Output;
    EXPECT_EQ(ReadWholeBytes(out + "/tessel32.ex_"), ReadWholeBytes(Payload + "/TESSEL32.EXE"));
    for (const char* name : {"tessel.hlp", "TQSOUNDS.DAT", "TQFAVS.LST"})
        EXPECT_EQ(ReadWholeBytes(out + "/" + name), ReadWholeBytes(Payload + "/" + name)) << name;
}

// setup.exe signed by tqpack build: signed before the text files take its time, so the
// distribution installs. Signed afterwards, it has a new time that the text files lack, and
// verify says that signing did it; changed after signing, the signature is broken.
TEST_F(TqpackTest, SetupSignedByBuildOrAfterIt)
{
    if (RunCommand("command -v osslsigncode && command -v openssl").Status != 0)
        GTEST_SKIP() << "osslsigncode or openssl is not installed (scripts/bootstrap.sh installs both)";
    TestCertificate certificate;
    ASSERT_TRUE(MakeTestCertificate(Root, certificate));
    const std::string keyAndCertificate = " --sign-key " + Quote(certificate.Key) + " --sign-cert "
                                          + Quote(certificate.Certificate) + " --sign-pass-file "
                                          + Quote(certificate.PasswordFile);
    CommandResult built = Build("-q" + keyAndCertificate);
    ASSERT_EQ(built.Status, 0) << built.Output;
    EXPECT_NE(ReadWholeBytes(Dist + "/setup.exe"), ReadWholeBytes(Setup));
    for (const char* name : TextFileNames)
        EXPECT_EQ(MtimeNanoseconds(Dist + "/" + name) / 100, MtimeNanoseconds(Dist + "/setup.exe") / 100) << name;
    CommandResult verified = RunTqpack("verify " + Quote(Dist));
    EXPECT_EQ(verified.Status, 0) << verified.Output;
    EXPECT_NE(verified.Output.find("setup.exe: signed by /CN=Tessel Test Vendor/O=Tessel Tests, the signature "
                                   "matches the file's bytes"), std::string::npos) << verified.Output;
    CommandResult listed = RunTqpack("list -v " + Quote(Dist));
    EXPECT_NE(listed.Output.rfind("setup.exe: signed by /CN=Tessel Test Vendor", 0), std::string::npos) << listed.Output;

    // Signed after an unsigned build.
    ASSERT_EQ(Build("-q").Status, 0);
    EXPECT_NE(RunTqpack("verify " + Quote(Dist)).Output.find("setup.exe: not signed"), std::string::npos);
    CommandResult signedLater = RunTqpack("sign " + Quote(Dist + "/setup.exe") + keyAndCertificate);
    ASSERT_EQ(signedLater.Status, 0) << signedLater.Output;
    CommandResult named = RunTqpack("verify " + Quote(Dist));
    EXPECT_EQ(named.Status, 1) << named.Output;
    EXPECT_NE(named.Output.find("setup.exe was signed after the build"), std::string::npos) << named.Output;
    EXPECT_NE(named.Output.find("message 1023"), std::string::npos) << named.Output;

    // One byte of the signed setup.exe changed, its time kept.
    ASSERT_EQ(Build("-q" + keyAndCertificate).Status, 0);
    long long time = MtimeNanoseconds(Dist + "/setup.exe");
    FlipByte(Dist + "/setup.exe", 0x210);
    SetMtime(Dist + "/setup.exe", time / 1000000000, static_cast<long>(time % 1000000000));
    CommandResult broken = RunTqpack("verify " + Quote(Dist));
    EXPECT_EQ(broken.Status, 1) << broken.Output;
    EXPECT_NE(broken.Output.find("setup.exe: signed by "), std::string::npos) << broken.Output;
    EXPECT_NE(broken.Output.find("signature broken: the file's bytes changed after signing"), std::string::npos)
        << broken.Output;
    EXPECT_EQ(broken.Output.find("signed after the build"), std::string::npos) << broken.Output;

    // A wrong password, and a variable that is not set: nothing signed, nothing written.
    std::string wrongPassword = Root + "/wrong.txt";
    WriteText(wrongPassword, "not it\n");
    CommandResult wrong = Build("-q --sign-pkcs12 " + Quote(certificate.Pkcs12) + " --sign-pass-file "
                                + Quote(wrongPassword), Root + "/wrong");
    EXPECT_EQ(wrong.Status, 1) << wrong.Output;
    EXPECT_NE(wrong.Output.find("osslsigncode could not sign"), std::string::npos) << wrong.Output;
    EXPECT_NE(access((Root + "/wrong/setup.exe").c_str(), F_OK), 0);
    CommandResult unset = Build("-q --sign-pkcs12 " + Quote(certificate.Pkcs12) + " --sign-pass-env TQ_UNSET_VARIABLE",
                                Root + "/unset");
    EXPECT_EQ(unset.Status, 1) << unset.Output;
    EXPECT_NE(unset.Output.find("TQ_UNSET_VARIABLE (--sign-pass-env) is not set"), std::string::npos) << unset.Output;
}

// verify refuses a setup.exe that Windows would not run as setup, and takes the 64-bit test
// build with a note.
TEST_F(TqpackTest, VerifyRefusesASetupThatIsNotSetup)
{
    ASSERT_EQ(Build().Status, 0);
    long long time = MtimeNanoseconds(Dist + "/setup.exe");
    auto program = [](bool wide, uint16_t subsystem, bool library, std::vector<ProgramResource> resources) {
        ProgramSpec spec;
        spec.Wide = wide;
        spec.Subsystem = subsystem;
        spec.Library = library;
        spec.Resources = resources;
        return MakeWindowsProgram(spec);
    };
    std::vector<ProgramResource> withoutStub = SetupResources();
    withoutStub.erase(withoutStub.begin() + 3);
    const std::vector<unsigned char> text = {'r', 'o', 'o', 't', ':', 'x', ':', '0', ':', '0', '\n'};
    struct Case {
        const char* Reason;
        std::vector<unsigned char> Bytes;
        const char* Expected; // empty: accepted
    };
    const Case cases[] = {
        {"a text file", text, "setup.exe is not a Windows program (no PE image)"},
        {"a console program", program(false, 3, false, SetupResources()), "is a console program"},
        {"a driver", program(false, 1, false, SetupResources()), "is not a Windows GUI program (subsystem 1)"},
        {"a library", program(false, 2, true, SetupResources()), "is a library, not a program"},
        {"the self-extractor", program(false, 2, false, {{5, nullptr, 400, nullptr}, {16, nullptr, 1, nullptr}}),
         "lacks setup's resources (the install-folder dialog, the progress dialog, the message texts, the "
         "shell-extension stub library, the manifest), so it is not setup"},
        {"no resources at all", program(false, 2, false, {}), "carries no resources"},
        {"setup without its stub", program(false, 2, false, withoutStub), "lacks setup's resources (the "
                                                                          "shell-extension stub library)"},
        {"the 64-bit test build", program(true, 2, false, SetupResources()), ""},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(WriteWholeFile(Dist + "/setup.exe", c.Bytes));
        SetMtime(Dist + "/setup.exe", time / 1000000000, static_cast<long>(time % 1000000000));
        CommandResult result = RunTqpack("verify " + Quote(Dist));
        if (*c.Expected == '\0') {
            EXPECT_EQ(result.Status, 0) << c.Reason << "\n" << result.Output;
            EXPECT_NE(result.Output.find("64-bit test build"), std::string::npos) << result.Output;
            continue;
        }
        EXPECT_EQ(result.Status, 1) << c.Reason << "\n" << result.Output;
        EXPECT_NE(result.Output.find(c.Expected), std::string::npos) << c.Reason << "\n" << result.Output;
    }
}
