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
