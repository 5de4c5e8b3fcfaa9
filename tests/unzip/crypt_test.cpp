// Traditional decryption and the CRC-32 it shares with the entry output.
#include "harness.h"

#include "unzip/engine.h"

#include <stdio.h>
#include <string.h>

#ifndef _WIN32
#include "base/posix/sink.h"
#endif


// What the processor offers the CRC: SSE2, and carry-less multiplication with it.
static bool ProcessorHasSse2()
{
#if defined(__x86_64__) || defined(__i386__)
    return __builtin_cpu_supports("sse2");
#else
    return false;
#endif
}

static bool ProcessorFolds()
{
#if defined(__x86_64__) || defined(__i386__)
    return ProcessorHasSse2() && __builtin_cpu_supports("pclmul");
#else
    return false;
#endif
}

// The table and, where the processor has it, the folding, over the same data: every length and
// alignment around the sixteen- and sixty-four-byte steps, then lengths around multiples of the
// fold's 64 bytes as large as an output block and the window, at unaligned starts.
TEST(Crc32, CheckValueAndSlicesAgreeWithOneByteAtATime)
{
    Bytes data = RandomBytes(70000, 1);
    const size_t longLengths[] = {1023, 1024, 1025, 1087, 4095, 4096, 4111, 4112, 4160, 28671,
                                  28672, 28687, 28736, 32767, 32768, 32769, 32831, 65535, 65553};
    for (bool fold : {false, true}) {
        SCOPED_TRACE(fold ? "folding" : "table");
        bool folding = UseCrcFolding(fold);
        ASSERT_EQ(fold && ProcessorFolds(), folding);
        if (fold && !folding) {
            printf("no carry-less multiplication on this processor: the table alone\n");
            continue;
        }
        CrcRegister = 0xFFFFFFFFu;
        UpdateCrc((const unsigned char*)"123456789", 9);
        EXPECT_EQ(0xCBF43926u, ~CrcRegister);
        for (size_t start = 0; start < 17; ++start)
            for (size_t length = 0; length < 280; ++length) {
                CrcRegister = 0xFFFFFFFFu;
                UpdateCrc(data.data() + start, (unsigned)length);
                ASSERT_EQ(Crc32(data.data() + start, length), ~CrcRegister) << start << " " << length;
            }
        for (size_t start : {0, 1, 7, 8, 15, 63})
            for (size_t length : longLengths) {
                CrcRegister = 0xFFFFFFFFu;
                UpdateCrc(data.data() + start, (unsigned)length);
                ASSERT_EQ(Crc32(data.data() + start, length), ~CrcRegister) << start << " " << length;
            }
    }
    UseCrcFolding(SystemSavesVectorState());
}

// The folding needs the system to save the XMM registers, which only the system can say: Windows
// (Wine here) through IsProcessorFeaturePresent, looked up at run time; the native build answers
// for POSIX kernels, which always save them. Where kernel32 lacks the call, as on Windows 95,
// the answer is no and the table runs.
TEST(Crc32, FoldsOnlyWhereTheSystemSavesTheVectorRegisters)
{
    EXPECT_EQ(ProcessorHasSse2(), SystemSavesVectorState());
    EXPECT_EQ(ProcessorFolds(), UseCrcFolding(SystemSavesVectorState()));
    EXPECT_FALSE(UseCrcFolding(false));
#ifndef _WIN32
    SetMissingExport("IsProcessorFeaturePresent");
    EXPECT_FALSE(SystemSavesVectorState());
    SetMissingExport(nullptr);
    EXPECT_EQ(ProcessorHasSse2(), SystemSavesVectorState());
#endif
    UseCrcFolding(SystemSavesVectorState());
}

TEST(Keys, EmptyPasswordLeavesTheStartValues)
{
    InitKeys("");
    EXPECT_EQ(0x12345678u, Key0);
    EXPECT_EQ(0x23456789u, Key1);
    EXPECT_EQ(0x34567890u, Key2);
}

static ZipEntry EncryptedEntry(const std::string& name, const Bytes& data, uint16_t method,
                          const std::string& password)
{
    ZipEntry entry = Entry(name, data, method);
    entry.Encrypt = true;
    entry.Password = password;
    return entry;
}

class CryptTest : public EngineTest {};

TEST_F(CryptTest, DefaultPasswordDecryptsStoredAndDeflatedEntries)
{
    ZipArchive archive;
    archive.Entries.push_back(EncryptedEntry("stored.bin", RandomBytes(100, 1), 0, TestDefaultPassword));
    archive.Entries.push_back(EncryptedEntry("deflated.txt", TextBytes(60000, 2), 8, TestDefaultPassword));
    archive.Entries.push_back(EncryptedEntry("empty", {}, 0, TestDefaultPassword));
    archive.Entries.push_back(Entry("plain.txt", TextBytes(50, 3)));
    WriteArchive(archive);

    ExtractRequest request = NewRequest();
    ExtractArchive(&request);
    EXPECT_EQ(0, request.Result);
    EXPECT_TRUE(Boxes().empty());
    EXPECT_EQ(RandomBytes(100, 1), OutputFile("stored.bin"));
    EXPECT_EQ(TextBytes(60000, 2), OutputFile("deflated.txt"));
    EXPECT_TRUE(OutputExists("empty"));
    EXPECT_EQ(TextBytes(50, 3), OutputFile("plain.txt"));
}

TEST_F(CryptTest, RequestPasswordIsUsedForThatRunOnly)
{
    ZipArchive archive;
    archive.Entries.push_back(EncryptedEntry("a.txt", TextBytes(500, 4), 8, "secret"));
    WriteArchive(archive);
    char password[] = "secret";
    ExtractRequest request = NewRequest();
    request.HasPassword = 1;
    request.Password = password;
    ExtractArchive(&request);
    EXPECT_EQ(0, request.Result);
    EXPECT_EQ(TextBytes(500, 4), OutputFile("a.txt"));

    // The next request without a password is back on the built-in one.
    ClearRecords();
    request = NewRequest();
    ExtractArchive(&request);
    EXPECT_EQ(2, request.Result);
    EXPECT_EQ("INCORRECT PASSWORD", OnlyBoxText());
}

TEST_F(CryptTest, CheckByteComesFromTheTimeWhenSizesFollowTheData)
{
    // With flag bit 3 the header's CRC field is right, but the check byte is the time's.
    ZipArchive archive;
    archive.Entries.push_back(EncryptedEntry("t.txt", TextBytes(300, 5), 8, "pw"));
    archive.Entries[0].DataDescriptor = Descriptor::WithSignature;
    archive.Entries[0].CheckByTime = true;
    archive.Entries[0].Time = 0xAB25;
    WriteArchive(archive);
    char password[] = "pw";
    ExtractRequest request = NewRequest();
    request.HasPassword = 1;
    request.Password = password;
    ExtractArchive(&request);
    EXPECT_EQ(0, request.Result);
    EXPECT_EQ(TextBytes(300, 5), OutputFile("t.txt"));

    // The same entry checked against its CRC's high byte fails.
    archive.Entries[0].CheckByTime = false;
    archive.Entries[0].UseCrcOverride = true;
    archive.Entries[0].CrcOverride = Crc32(archive.Entries[0].Data);
    Bytes bytes = archive.Build();
    // Check byte from the CRC, but flag bit 3 makes the engine compare with the time's.
    ASSERT_NE(0xABu, archive.Entries[0].CrcOverride >> 24) << "the two check bytes must differ";
    WriteArchiveBytes(bytes);
    FreshOutput();
    request = NewRequest();
    request.HasPassword = 1;
    request.Password = password;
    ExtractArchive(&request);
    EXPECT_EQ(2, request.Result);
    EXPECT_EQ("INCORRECT PASSWORD", OnlyBoxText());
    EXPECT_TRUE(OutputNames().empty());
}

TEST_F(CryptTest, WrongPasswordStopsBeforeTheFileIsCreated)
{
    ZipArchive archive;
    archive.Entries.push_back(Entry("first.txt", TextBytes(20, 6)));
    archive.Entries.push_back(EncryptedEntry("second.txt", TextBytes(20, 7), 0, "other"));
    WriteArchive(archive);
    ExtractRequest request = NewRequest();
    ExtractArchive(&request);
    EXPECT_EQ(2, request.Result);
    EXPECT_EQ("INCORRECT PASSWORD", OnlyBoxText());
    EXPECT_EQ((std::vector<std::string>{"first.txt"}), OutputNames());
}

// An encrypted entry too short for its 12-byte header is a read error before any file exists,
// instead of a header read from the next record and a size that wraps around.
TEST_F(CryptTest, EncryptedEntryShorterThanItsHeaderIsAReadError)
{
    ZipArchive archive;
    archive.Entries.push_back(EncryptedEntry("short.txt", {}, 0, TestDefaultPassword));
    archive.Entries.push_back(EncryptedEntry("next.txt", TextBytes(40, 8), 0, TestDefaultPassword));
    Bytes bytes = archive.Build();
    // Claim 11 bytes of entry data instead of 12.
    ASSERT_EQ(12u, bytes[18]);
    bytes[18] = 11;
    WriteArchiveBytes(bytes);
    ExtractRequest request = NewRequest();
    ExtractArchive(&request);
    EXPECT_EQ(2, request.Result);
    EXPECT_EQ("Error reading " + ArchivePath + ".  Possible cause: bad disk", OnlyBoxText());
    EXPECT_TRUE(OutputNames().empty());
}

TEST_F(CryptTest, SkippedEncryptedEntriesAreNotTested)
{
    ZipArchive archive;
    archive.Entries.push_back(EncryptedEntry("folder/", {}, 0, "wrong"));
    archive.Entries.push_back(EncryptedEntry("unwanted.txt", TextBytes(10, 9), 0, "wrong"));
    archive.Entries.push_back(EncryptedEntry("wanted.txt", TextBytes(10, 10), 0, TestDefaultPassword));
    WriteArchive(archive);
    struct {
        NameNode Head;
        char Rest[16];
    } node = {};
    strcpy(node.Head.Name, "wanted.txt");
    ExtractRequest request = NewRequest();
    request.NameList = &node.Head;
    ExtractArchive(&request);
    EXPECT_EQ(0, request.Result);
    EXPECT_EQ((std::vector<std::string>{"wanted.txt"}), OutputNames());
}
