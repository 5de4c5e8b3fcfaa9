// tqpack bundle, and verify and list of a bundle: the self-extractor (here a small PE image made
// by the test) with the distribution appended, found where the image ends; the same bytes from
// the same input; text files whose time survives the MS-DOS time of the archive and the engine's
// unpacking; refusals of a distribution or a self-extractor that would not do; damage found.
#include "fixture.h"

#include <cstdio>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

#include "sfx/sfx.h"

namespace {

// A program image as the PE/COFF specification lays it out, as far as the end of the image
// depends on it: the MS-DOS header pointing at "PE\0\0" (0x3C), the file header (section count,
// optional header size), a PE32 or PE32+ optional header with the certificate directory (entry
// 4, a file offset), and sections whose raw data ends at the given offsets, in any order.
struct ProgramShape {
    bool Wide;
    std::vector<uint32_t> SectionEnds;
    uint32_t CertificateSize; // placed behind the last section when not 0
};

std::vector<unsigned char> MakeProgram(const ProgramShape& shape)
{
    constexpr size_t peOffset = 0x40;
    const size_t optionalSize = shape.Wide ? 240 : 224;
    const size_t directories = shape.Wide ? 112 : 96;
    uint32_t end = 0;
    for (uint32_t sectionEnd : shape.SectionEnds)
        end = sectionEnd > end ? sectionEnd : end;
    std::vector<unsigned char> bytes(end + shape.CertificateSize, 0xCC);
    std::memset(bytes.data(), 0, 0x200);
    bytes[0] = 'M';
    bytes[1] = 'Z';
    Put32(bytes, 0x3C, peOffset);
    std::memcpy(&bytes[peOffset], "PE\0\0", 4);
    size_t file = peOffset + 4;
    Put16(bytes, file, shape.Wide ? 0x8664 : 0x14C);
    Put16(bytes, file + 2, static_cast<uint32_t>(shape.SectionEnds.size()));
    Put16(bytes, file + 16, static_cast<uint32_t>(optionalSize));
    size_t optional = file + 20;
    Put16(bytes, optional, shape.Wide ? 0x20B : 0x10B);
    Put32(bytes, optional + directories - 4, 16);
    if (shape.CertificateSize != 0) {
        Put32(bytes, optional + directories + 8 * 4, end);
        Put32(bytes, optional + directories + 8 * 4 + 4, shape.CertificateSize);
    }
    size_t table = optional + optionalSize;
    uint32_t rawStart = 0x200;
    for (size_t i = 0; i < shape.SectionEnds.size(); i++) {
        size_t header = table + 40 * i;
        uint32_t rawEnd = shape.SectionEnds[i];
        Put32(bytes, header + 16, rawEnd - rawStart);
        Put32(bytes, header + 20, rawStart);
    }
    return bytes;
}

void WriteBytes(const std::string& path, const Bytes& bytes)
{
    ASSERT_TRUE(WriteWholeFile(path, bytes)) << path;
}

class BundleTest : public TqpackTest {
protected:
    void SetUp() override
    {
        TqpackTest::SetUp();
        Stub = Root + "/tqsfx.exe";
        Bundle = Root + "/tessel81.exe";
        WriteBytes(Stub, MakeProgram({false, {0x600, 0x400}, 0}));
    }

    CommandResult MakeBundle(const std::string& out = std::string())
    {
        return RunTqpack("bundle " + Quote(Dist) + " --out " + Quote(out.empty() ? Bundle : out) + " --stub "
                         + Quote(Stub));
    }

    std::string Stub;
    std::string Bundle;
};

} // namespace

TEST_F(BundleTest, BundleVerifiesListsAndReproduces)
{
    ASSERT_EQ(Build().Status, 0);
    CommandResult made = MakeBundle();
    ASSERT_EQ(made.Status, 0) << made.Output;
    std::vector<unsigned char> bundle = ReadWholeBytes(Bundle);
    std::vector<unsigned char> stub = ReadWholeBytes(Stub);
    ASSERT_GT(bundle.size(), stub.size());
    EXPECT_TRUE(std::equal(stub.begin(), stub.end(), bundle.begin()));
    EXPECT_EQ(std::memcmp(&bundle[stub.size()], "PK\3\4", 4), 0);

    ASSERT_EQ(MakeBundle(Root + "/again.exe").Status, 0);
    EXPECT_EQ(ReadWholeBytes(Root + "/again.exe"), bundle);

    // verify unpacks with the engine: setup.exe's time has a fraction of a second, and the text
    // files still carry exactly setup.exe's time afterwards.
    CommandResult verified = RunTqpack("verify " + Quote(Bundle));
    EXPECT_EQ(verified.Status, 0) << verified.Output;
    CommandResult listed = RunTqpack("list " + Quote(Bundle));
    ASSERT_EQ(listed.Status, 0) << listed.Output;
    for (const std::string& text : {std::string("self-extractor: 1536 bytes"), std::string("setup.tq"),
                                    std::string("README.TXT"), std::string("9 entries")})
        EXPECT_NE(listed.Output.find(text), std::string::npos) << text << "\n" << listed.Output;

    if (!std::string(UNZIP_PROGRAM).empty()) {
        // Offsets count from the start of the file, so other readers take the bundle as it is.
        CommandResult tested = RunCommand(Quote(UNZIP_PROGRAM) + " -t " + Quote(Bundle));
        EXPECT_EQ(tested.Status, 0) << tested.Output;
    }
}

// The archive begins where the image ends, whatever the image's shape.
TEST_F(BundleTest, ArchiveBeginsWhereTheImageEnds)
{
    ASSERT_EQ(Build().Status, 0);
    const ProgramShape shapes[] = {
        {false, {0x400}, 0},
        {true, {0xA00, 0x600, 0x800}, 0},  // the last section in the table is not the last in the file
        // signed: the self-extractor's own signature is left out (it would be broken inside
        // the download), so the archive begins behind the sections
        {false, {0x400, 0x600}, 0x180},
    };
    for (const ProgramShape& shape : shapes) {
        std::vector<unsigned char> program = MakeProgram(shape);
        WriteBytes(Stub, program);
        CommandResult made = MakeBundle();
        ASSERT_EQ(made.Status, 0) << made.Output;
        std::vector<unsigned char> bundle = ReadWholeBytes(Bundle);
        size_t start = program.size() - shape.CertificateSize;
        ASSERT_GT(bundle.size(), start + 4);
        EXPECT_EQ(std::memcmp(&bundle[start], "PK\3\4", 4), 0);
        CommandResult verified = RunTqpack("verify " + Quote(Bundle));
        EXPECT_EQ(verified.Status, 0) << program.size() << "\n" << verified.Output;
        EXPECT_NE(verified.Output.find("tessel81.exe: not signed"), std::string::npos) << verified.Output;
    }
}

TEST_F(BundleTest, BundleRefusesWhatWouldNotInstall)
{
    ASSERT_EQ(Build().Status, 0);
    struct Case {
        const char* Reason;
        void (*Prepare)(const std::string& dist, const std::string& stub);
        const char* Expected;
        int Status;
    };
    const Case cases[] = {
        {"a text file touched later", [](const std::string& dist, const std::string&) { SetMtime(dist + "/VENDOR.TXT", SetupSeconds + 2, 0); },
         "would not install, so it is not bundled", 1},
        {"no self-extractor there", [](const std::string&, const std::string& stub) { std::remove(stub.c_str()); }, "not found", 1},
        {"a self-extractor that is no program", [](const std::string&, const std::string& stub) { WriteText(stub, "MZ but no more"); },
         "is not a Windows program", 1},
        {"a bundle given as the self-extractor",
         [](const std::string&, const std::string& stub) {
             std::vector<unsigned char> program = MakeProgram({false, {0x400}, 0});
             program.insert(program.end(), {'P', 'K', 3, 4, 0});
             WriteBytes(stub, program);
         },
         "5 bytes behind its program image", 1},
    };
    std::vector<unsigned char> stub = ReadWholeBytes(Stub);
    for (const Case& c : cases) {
        Build();
        WriteBytes(Stub, stub);
        c.Prepare(Dist, Stub);
        CommandResult result = MakeBundle();
        EXPECT_EQ(result.Status, c.Status) << c.Reason << "\n" << result.Output;
        EXPECT_NE(result.Output.find(c.Expected), std::string::npos) << c.Reason << "\n" << result.Output;
        EXPECT_NE(access(Bundle.c_str(), F_OK), 0) << c.Reason << ": a bundle was written";
    }
    CommandResult usage = RunTqpack("bundle " + Quote(Dist));
    EXPECT_EQ(usage.Status, 64) << usage.Output;
}

TEST_F(BundleTest, VerifyFindsDamageInABundle)
{
    ASSERT_EQ(Build().Status, 0);
    ASSERT_EQ(MakeBundle().Status, 0);
    const std::vector<unsigned char> sound = ReadWholeBytes(Bundle);
    const size_t archive = ReadWholeBytes(Stub).size();
    std::vector<ArchiveEntry> entries;
    Problems problems;
    ASSERT_TRUE(ReadArchiveEntries(Bundle, entries, problems, archive));
    const ArchiveEntry* payload = nullptr;
    const ArchiveEntry* readme = nullptr;
    for (const ArchiveEntry& entry : entries) {
        payload = entry.Name == "setup.tq" ? &entry : payload;
        readme = entry.Name == "README.TXT" ? &entry : readme;
    }
    ASSERT_TRUE(payload && readme);

    struct Case {
        const char* Reason;
        std::vector<unsigned char> Bytes;
        const char* Expected;
    };
    std::vector<Case> cases;
    std::vector<unsigned char> bytes = sound;
    bytes[payload->HeaderOffset + 30 + payload->Name.size() + payload->CompressedSize / 2] ^= 0x10;
    cases.push_back({"one flipped byte in setup.tq", bytes, "Bad CRC"});
    bytes = sound;
    // README.TXT two seconds later in its local header and its central header alike.
    for (size_t at = archive; at + 4 <= bytes.size(); at++) {
        bool local = std::memcmp(&bytes[at], "PK\3\4", 4) == 0;
        bool central = std::memcmp(&bytes[at], "PK\1\2", 4) == 0;
        size_t name = at + (local ? 30 : 46);
        if ((local || central) && name + 10 <= bytes.size() && std::memcmp(&bytes[name], "README.TXT", 10) == 0)
            bytes[at + (local ? 10 : 12)] += 1; // MS-DOS time, in 2-second units
    }
    cases.push_back({"a text file stored with another time", bytes,
                     "README.TXT is stored with the time"});
    cases.push_back({"cut short", std::vector<unsigned char>(sound.begin(), sound.end() - 300), "setup would fail"});
    cases.push_back({"nothing appended", ReadWholeBytes(Stub), "no archive behind the program image"});
    for (const Case& c : cases) {
        WriteBytes(Bundle, c.Bytes);
        CommandResult result = RunTqpack("verify " + Quote(Bundle));
        EXPECT_EQ(result.Status, 1) << c.Reason << "\n" << result.Output;
        EXPECT_NE(result.Output.find(c.Expected), std::string::npos) << c.Reason << "\n" << result.Output;
    }
}

// A download signed as a vendor signs it: by `tqpack bundle` itself, or afterwards by a signer
// (osslsigncode, as `tqpack sign` runs it). The archive then lies between the sections and
// the certificate table; verify finds it there, shows the signer, and fails on any byte
// changed after signing, wherever it lies.
TEST_F(BundleTest, SignedBundleVerifiesAndAnyLaterChangeBreaksIt)
{
    if (RunCommand("command -v osslsigncode && command -v openssl").Status != 0)
        GTEST_SKIP() << "osslsigncode or openssl is not installed (scripts/bootstrap.sh installs both)";
    TestCertificate certificate;
    ASSERT_TRUE(MakeTestCertificate(Root, certificate));
    ProgramSpec shape;
    shape.Resources = {{5, nullptr, 400, nullptr}, {16, nullptr, 1, nullptr}};
    WriteBytes(Stub, MakeWindowsProgram(shape));
    ASSERT_EQ(Build().Status, 0);

    const std::string pkcs12 = " --sign-pkcs12 " + Quote(certificate.Pkcs12) + " --sign-pass-file "
                               + Quote(certificate.PasswordFile);
    CommandResult made = RunTqpack("bundle -q " + Quote(Dist) + " --out " + Quote(Bundle) + " --stub " + Quote(Stub)
                                   + pkcs12);
    ASSERT_EQ(made.Status, 0) << made.Output;
    std::string unsignedBundle = Root + "/later.exe";
    ASSERT_EQ(RunTqpack("bundle -q " + Quote(Dist) + " --out " + Quote(unsignedBundle) + " --stub " + Quote(Stub)).Status, 0);
    CommandResult later = RunCommand("TQ_SIGN_PASSWORD=" + Quote(TestCertificate::Password) + " " + Quote(TQPACK_PROGRAM)
                                     + " sign " + Quote(unsignedBundle) + " --sign-key " + Quote(certificate.Key)
                                     + " --sign-cert " + Quote(certificate.Certificate) + " --sign-pass-env TQ_SIGN_PASSWORD");
    ASSERT_EQ(later.Status, 0) << later.Output;

    for (const std::string& bundle : {Bundle, unsignedBundle}) {
        CommandResult verified = RunTqpack("verify " + Quote(bundle));
        EXPECT_EQ(verified.Status, 0) << verified.Output;
        for (const char* text : {": signed by /CN=Tessel Test Vendor/O=Tessel Tests, the signature matches the "
                                 "file's bytes; the certificate does not chain to a trusted root (self-signed",
                                 "once unpacked: setup.exe: not signed"})
            EXPECT_NE(verified.Output.find(text), std::string::npos) << text << "\n" << verified.Output;
    }
    CommandResult listed = RunTqpack("list -v " + Quote(Bundle));
    EXPECT_EQ(listed.Status, 0) << listed.Output;
    EXPECT_NE(listed.Output.find("\nsignature: signed by /CN=Tessel Test Vendor"), std::string::npos) << listed.Output;

    const std::vector<unsigned char> sound = ReadWholeBytes(Bundle);
    const size_t stubSize = ReadWholeBytes(Stub).size();
    AppendedArchive archive;
    ASSERT_TRUE(FindAppendedArchive(Bundle.c_str(), &archive));
    ASSERT_EQ(archive.Start, stubSize);
    ASSERT_LT(archive.Start + archive.Size, sound.size()); // the certificate table follows
    struct Case {
        const char* Reason;
        std::vector<unsigned char> Bytes;
        const char* Expected;
    };
    std::vector<Case> cases;
    auto flipped = [&](size_t at) {
        std::vector<unsigned char> bytes = sound;
        bytes[at] ^= 0x01;
        return bytes;
    };
    cases.push_back({"a byte of the self-extractor's code", flipped(0x200), "the file's bytes changed after signing"});
    cases.push_back({"a byte in the archive's central directory", flipped(archive.Start + archive.Size - 30),
                     "the file's bytes changed after signing"});
    cases.push_back({"the program's timestamp in its headers", flipped(0x80 + 8), "the file's bytes changed after signing"});
    std::vector<unsigned char> appended = sound;
    appended.insert(appended.end(), 16, 'x');
    cases.push_back({"bytes appended behind the signature", appended, "16 bytes were added behind the certificate table"});
    cases.push_back({"cut short inside the signature", std::vector<unsigned char>(sound.begin(), sound.end() - 100),
                     "its certificate table reaches past the end of the file"});
    for (const Case& c : cases) {
        WriteBytes(Bundle, c.Bytes);
        CommandResult result = RunTqpack("verify " + Quote(Bundle));
        EXPECT_EQ(result.Status, 1) << c.Reason << "\n" << result.Output;
        EXPECT_NE(result.Output.find("signature broken: " + std::string(c.Expected)), std::string::npos)
            << c.Reason << "\n" << result.Output;
    }
}

// The key's password reaches the signer on its standard input, never in its arguments, where
// every user of the machine could read it; a signer that fails leaves no download behind.
TEST_F(BundleTest, ThePasswordGoesThroughAPipe)
{
    ASSERT_EQ(Build().Status, 0);
    std::string bin = Root + "/bin";
    ASSERT_EQ(mkdir(bin.c_str(), 0777), 0);
    WriteText(bin + "/osslsigncode", "#!/bin/sh\necho \"$@\" > \"$0.arguments\"\ncat > \"$0.input\"\n"
                                     "echo 'Error: no signing here'\nexit 1\n");
    ASSERT_EQ(chmod((bin + "/osslsigncode").c_str(), 0755), 0);
    WriteText(Root + "/p12", "not read by the stand-in");
    const char* password = "pass word 7";
    CommandResult result = RunCommand("PATH=" + Quote(bin) + ":\"$PATH\" SIGNPW=" + Quote(password) + " "
                                      + Quote(TQPACK_PROGRAM) + " bundle -q " + Quote(Dist) + " --out " + Quote(Bundle)
                                      + " --stub " + Quote(Stub) + " --sign-pkcs12 " + Quote(Root + "/p12")
                                      + " --sign-pass-env SIGNPW --timestamp http://tsa.invalid/");
    EXPECT_EQ(result.Status, 1) << result.Output;
    EXPECT_NE(result.Output.find("osslsigncode could not sign"), std::string::npos) << result.Output;
    EXPECT_NE(result.Output.find("no signing here"), std::string::npos) << result.Output;
    EXPECT_NE(access(Bundle.c_str(), F_OK), 0) << "an unsigned download was left behind";
    std::vector<unsigned char> arguments = ReadWholeBytes(bin + "/osslsigncode.arguments");
    std::vector<unsigned char> input = ReadWholeBytes(bin + "/osslsigncode.input");
    std::string argumentText(arguments.begin(), arguments.end());
    EXPECT_EQ(std::string(input.begin(), input.end()), password);
    EXPECT_EQ(argumentText.find("pass word"), std::string::npos) << argumentText;
    for (const char* expected : {"sign -pkcs12 ", " -readpass - -h sha256 -ts http://tsa.invalid/ -in "})
        EXPECT_NE(argumentText.find(expected), std::string::npos) << expected << "\n" << argumentText;
}
