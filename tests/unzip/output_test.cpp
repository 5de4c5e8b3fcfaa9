// Entry output: progress reports and cancelling, write failures, CRC checks, and entries whose
// local header carries no CRC or sizes.
#include "harness.h"

#include "res/resource.h"
#include "ui/ui.h"

#include <stdio.h>
#include <algorithm>

class OutputTest : public EngineTest {};

// Forced report before the data, then one after each 28672-byte block once 10240 more bytes
// have been read: blocks end at 28672, 57344, 86016 and 100000.
TEST_F(OutputTest, ProgressOfOneStoredEntry)
{
    ZipArchive archive;
    archive.Entries.push_back(Entry("sub/big.bin", RandomBytes(100000, 1)));
    WriteArchive(archive);
    ExtractRequest request = NewRequest();
    ExtractArchive(&request);
    EXPECT_EQ(0, request.Result);
    EXPECT_EQ((std::vector<WPARAM>{0, 2, 5, 8, 9}), ProgressReports());
    ASSERT_EQ(6u, Messages.size());
    EXPECT_EQ((UINT)WM_SETUP_FILENAME, Messages[0].Msg);
    EXPECT_EQ(0u, Messages[0].WParam);
    EXPECT_EQ("big.bin", Messages[0].Name);
    EXPECT_EQ(RandomBytes(100000, 1), OutputFile("big.bin"));
}

// Counts run over the whole request; small entries only report once they add up to a unit.
TEST_F(OutputTest, ProgressAddsUpOverEntries)
{
    ZipArchive archive;
    for (int i = 0; i < 3; ++i)
        archive.Entries.push_back(Entry("e" + std::to_string(i), RandomBytes(12000, 2 + i)));
    WriteArchive(archive);
    ExtractRequest request = NewRequest(true);
    ExtractArchive(&request);
    EXPECT_EQ(0, request.Result);
    // Per entry: the forced report, then one after the block: 12000, 24000, 36000 bytes.
    EXPECT_EQ((std::vector<WPARAM>{0, 1, 1, 2, 2, 3}), ProgressReports());
    EXPECT_EQ((std::vector<std::string>{"e0", "e1", "e2"}), ReportedNames());
}

// A cancel at any report deletes the file being written and keeps the ones completed before.
TEST_F(OutputTest, CancelAtEveryReportDeletesOnlyTheFileBeingWritten)
{
    ZipArchive archive;
    archive.Entries.push_back(Entry("one.bin", RandomBytes(40000, 3)));
    archive.Entries.push_back(Entry("two.bin", TextBytes(70000, 4), 8));
    archive.Entries.push_back(Entry("three.bin", RandomBytes(30000, 5)));
    WriteArchive(archive);
    ExtractRequest request = NewRequest();
    ExtractArchive(&request);
    ASSERT_EQ(0, request.Result);
    size_t reports = ProgressReports().size();
    ASSERT_GE(reports, 6u);

    for (size_t cancelAt = 0; cancelAt < reports; ++cancelAt) {
        SCOPED_TRACE(cancelAt);
        FreshOutput();
        CancelAtReport = (int)cancelAt;
        request = NewRequest();
        EXPECT_EQ(1, ExtractArchive(&request));
        EXPECT_EQ(99, request.Result);
        EXPECT_TRUE(Boxes().empty());
        std::vector<std::string> names = ReportedNames();
        ASSERT_FALSE(names.empty());
        names.pop_back();   // the one being written when the cancel came
        std::sort(names.begin(), names.end());
        EXPECT_EQ(names, OutputNames());
    }
}

TEST_F(OutputTest, CancelRequestedWhileMessagesAreDispatchedStopsTheRun)
{
    ZipArchive archive;
    archive.Entries.push_back(Entry("a.bin", RandomBytes(50000, 6)));
    WriteArchive(archive);
    OnProgress = [](int index) {
        if (index == 1)
            CancelRequested = 1;
    };
    ExtractRequest request = NewRequest();
    ExtractArchive(&request);
    CancelRequested = 0;
    EXPECT_EQ(99, request.Result);
    EXPECT_EQ(2u, ProgressReports().size());
    EXPECT_TRUE(OutputNames().empty());
}

#ifndef _WIN32
// A full disk at any block: text 1036 with the output path, the partial file deleted.
TEST_F(OutputTest, WriteFailureAtEveryBlockDeletesThePartialFile)
{
    ZipArchive archive;
    archive.Entries.push_back(Entry("done.bin", RandomBytes(1000, 7)));
    archive.Entries.push_back(Entry("big.bin", TextBytes(100000, 8), 8));
    WriteArchive(archive);
    const long long limits[] = {1000, 1001, 1000 + 28671, 1000 + 28672, 1000 + 28673,
                                1000 + 3 * 28672, 1000 + 99999};
    for (long long limit : limits) {
        SCOPED_TRACE(limit);
        FailWritesAfter(limit);
        FreshOutput();
        ExtractRequest request = NewRequest();
        ExtractArchive(&request);
        EXPECT_EQ(2, request.Result);
        EXPECT_EQ("Error writing to " + ShownPath("big.bin") + ".  Possible cause: disk full",
                  OnlyBoxText());
        EXPECT_EQ((std::vector<std::string>{"done.bin"}), OutputNames());
    }
}
#endif

TEST_F(OutputTest, CrcMismatchIsReportedOnlyWhenAsked)
{
    ZipArchive archive;
    archive.Entries.push_back(Entry("a.txt", TextBytes(500, 9), 8));
    archive.Entries[0].UseCrcOverride = true;
    archive.Entries[0].CrcOverride = Crc32(archive.Entries[0].Data) ^ 0x00F00000u;
    archive.Entries.push_back(Entry("b.txt", TextBytes(10, 10)));
    WriteArchive(archive);
    char expected[200];
    snprintf(expected, sizeof expected,
             "ZIP damaged: file %s: Bad CRC %08lx (should be %08lx)", ShownPath("a.txt").c_str(),
             (unsigned long)Crc32(archive.Entries[0].Data),
             (unsigned long)archive.Entries[0].CrcOverride);

    ExtractRequest request = NewRequest();
    ExtractArchive(&request);
    EXPECT_EQ(2, request.Result);
    EXPECT_EQ(expected, OnlyBoxText());
    EXPECT_EQ((std::vector<std::string>{"a.txt"}), OutputNames());   // complete and kept
    EXPECT_EQ(TextBytes(500, 9), OutputFile("a.txt"));

    for (unsigned short report : {0, 2}) {
        ClearRecords();
        request = NewRequest();
        request.ReportCrcErrors = report;
        ExtractArchive(&request);
        EXPECT_EQ(0, request.Result);
        EXPECT_TRUE(Boxes().empty());
        EXPECT_EQ((std::vector<std::string>{"a.txt", "b.txt"}), OutputNames());
    }
}

TEST_F(OutputTest, CrcTextHasEightDigits)
{
    // A stored entry of one zero byte has CRC 0xD202EF8D; the header claims 0x2A.
    ZipArchive archive;
    archive.Entries.push_back(Entry("z", Bytes(1, 0)));
    archive.Entries[0].UseCrcOverride = true;
    archive.Entries[0].CrcOverride = 0x2A;
    WriteArchive(archive);
    ExtractRequest request = NewRequest(true);
    ExtractArchive(&request);
    EXPECT_EQ("ZIP damaged: file z: Bad CRC d202ef8d (should be 0000002a)", OnlyBoxText());
}

// Streaming tools write CRC 0 and sizes 0 in the local header and the real values in a data
// descriptor. With CRC reports on, such an entry is damage (a deflated one has no data for the
// decoder, a stored one no end that the header tells) unless the descriptor of an empty stored
// entry follows at once. Without them it comes out empty, as it always did, and the walk scans
// on to the next record.
TEST_F(OutputTest, StreamedEntriesWithZeroSizes)
{
    struct Streamed {
        const char* Name;
        Bytes Data;
        uint16_t Method;
        Descriptor Kind;
        bool Damage;   // with CRC reports
    };
    const Streamed cases[] = {
        {"deflated.txt", TextBytes(3000, 11), 8, Descriptor::WithSignature, true},
        {"stored.bin", TextBytes(3000, 12), 0, Descriptor::WithSignature, true},
        {"empty.txt", Bytes(), 0, Descriptor::WithSignature, false},
        {"empty.txt", Bytes(), 0, Descriptor::WithoutSignature, false},
    };
    for (const Streamed& c : cases) {
        for (int report : {1, 0}) {
            SCOPED_TRACE(std::string(c.Name) + (report ? ", CRC reports" : ", no CRC reports"));
            FreshOutput();
            ZipArchive archive;
            archive.Entries.push_back(Entry(c.Name, c.Data, c.Method));
            archive.Entries[0].DataDescriptor = c.Kind;
            archive.Entries[0].ZeroSizesInHeader = true;
            archive.Entries.push_back(Entry("next.txt", TextBytes(30, 13)));
            WriteArchive(archive);
            ExtractRequest request = NewRequest();
            request.ReportCrcErrors = report;
            ExtractArchive(&request);
            if (report && c.Damage) {
                EXPECT_EQ(2, request.Result);
                EXPECT_EQ("ZIP damaged: file " + ShownPath(c.Name) + ": Bad CRC 00000000 (should be 00000000)",
                          OnlyBoxText());
                EXPECT_FALSE(OutputExists("next.txt"));
            } else {
                EXPECT_EQ(0, request.Result);
                EXPECT_TRUE(Boxes().empty());
                EXPECT_TRUE(OutputExists(c.Name));
                EXPECT_TRUE(OutputFile(c.Name).empty());
                EXPECT_EQ(TextBytes(30, 13), OutputFile("next.txt"));
            }
        }
    }
}

TEST_F(OutputTest, BlockBoundariesOfStoredEntries)
{
    ZipArchive archive;
    for (size_t size : {28671, 28672, 28673, 57344, 0, 1})
        archive.Entries.push_back(Entry("s" + std::to_string(size), RandomBytes(size, 14)));
    WriteArchive(archive);
    ExtractRequest request = NewRequest();
    ExtractArchive(&request);
    EXPECT_EQ(0, request.Result);
    for (size_t size : {28671, 28672, 28673, 57344, 0, 1})
        EXPECT_EQ(RandomBytes(size, 14), OutputFile("s" + std::to_string(size))) << size;
}
