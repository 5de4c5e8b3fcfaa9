// The archive walk: which entries are written where, how records are found, and how damaged or
// hostile archives end the run.
#include "harness.h"

#include <stdio.h>
#include <string.h>
#include <time.h>

#ifdef _WIN32
#include <windows.h>
#else
#include "base/posix/sink.h"
#endif

class WalkTest : public EngineTest {};

// Pieces of bytes at their offsets in a sparse file: the space between them costs no disk.
static bool WriteSparseFile(const std::string& path, const std::vector<std::pair<uint64_t, Bytes>>& pieces)
{
    FILE* file = fopen(path.c_str(), "wb");
    bool ok = file != nullptr;
    for (const auto& piece : pieces) {
#ifdef _WIN32
        ok = ok && _fseeki64(file, (long long)piece.first, SEEK_SET) == 0;
#else
        ok = ok && fseeko(file, (off_t)piece.first, SEEK_SET) == 0;
#endif
        ok = ok && fwrite(piece.second.data(), 1, piece.second.size(), file) == piece.second.size();
    }
    return file != nullptr && fclose(file) == 0 && ok;
}

// The local header of a stored entry whose `size` bytes of data lie anywhere behind it.
static Bytes StoredHeader(const std::string& name, uint32_t size)
{
    ZipArchive archive;
    archive.Entries.push_back(Entry(name, {}));
    Bytes header = archive.Build();
    header.resize(30 + name.size());
    for (int i = 0; i < 4; ++i)
        header[18 + i] = header[22 + i] = (uint8_t)(size >> (8 * i));   // APPNOTE 4.3.7
    return header;
}

// Selects entries by name; the node holds the whole text.
struct NameListNode {
    NameNode Head;
    char Rest[32];
};

TEST_F(WalkTest, ExtractsStoredAndDeflatedEntriesWithTheirTimes)
{
    ZipArchive archive;
    Bytes text = TextBytes(70000, 1);
    archive.Entries.push_back(Entry("a.txt", text, 0));
    archive.Entries.push_back(Entry("b.txt", text, 8));
    archive.Entries.push_back(Entry("empty.txt", {}, 0));
    archive.Comment = "archive comment";
    archive.Entries[1].Extra = Bytes(9, 0x55);
    archive.Entries[1].Comment = "entry comment";
    WriteArchive(archive);

    ExtractRequest request = NewRequest();
    EXPECT_EQ(1, ExtractArchive(&request));
    EXPECT_EQ(0, request.Result);
    EXPECT_TRUE(Boxes().empty());
    EXPECT_EQ(text, OutputFile("a.txt"));
    EXPECT_EQ(text, OutputFile("b.txt"));
    EXPECT_TRUE(OutputExists("empty.txt"));
    EXPECT_TRUE(OutputFile("empty.txt").empty());

    // 0x5A2C, 0x6C25: 2025-01-12 13:33:10 on the local clock.
    struct tm local = {};
    local.tm_year = 125;
    local.tm_mon = 0;
    local.tm_mday = 12;
    local.tm_hour = 13;
    local.tm_min = 33;
    local.tm_sec = 10;
    local.tm_isdst = -1;
    long long expected = (long long)mktime(&local);
    EXPECT_EQ(expected, FileModificationTime(JoinPath(Dest, "a.txt")));
    EXPECT_EQ(expected, FileModificationTime(JoinPath(Dest, "empty.txt")));
}

TEST_F(WalkTest, SkipsFolderEntriesAndOptionallyEmptyOnes)
{
    ZipArchive archive;
    archive.Entries.push_back(Entry("docs/", {}));
    archive.Entries.push_back(Entry("docs\\", {}));
    archive.Entries.push_back(Entry("docs/empty.txt", {}));
    archive.Entries.push_back(Entry("docs/full.txt", TextBytes(10, 2)));
    WriteArchive(archive);

    ExtractRequest request = NewRequest();
    request.KeepPaths = 0;
    ExtractArchive(&request);
    EXPECT_EQ(0, request.Result);
    EXPECT_EQ((std::vector<std::string>{"empty.txt", "full.txt"}), OutputNames());

    FreshOutput();
    request = NewRequest();
    request.SkipEmpty = 1;
    ExtractArchive(&request);
    EXPECT_EQ((std::vector<std::string>{"full.txt"}), OutputNames());
}

TEST_F(WalkTest, NameListSelectsByFullStoredNameIgnoringCaseAndSeparator)
{
    ZipArchive archive;
    archive.Entries.push_back(Entry("SUB\\A.TXT", TextBytes(5, 3)));
    archive.Entries.push_back(Entry("sub/b.txt", TextBytes(6, 4)));
    archive.Entries.push_back(Entry("c.txt", TextBytes(7, 5)));
    WriteArchive(archive);

    struct Node {
        NameNode Head;
        char Rest[32];
    } first = {}, second = {}, third = {};
    first.Head.Next = &second.Head;
    strcpy(first.Head.Name, "sub/a.txt");       // selects SUB\A.TXT
    second.Head.Next = &third.Head;
    strcpy(second.Head.Name, "b.txt");          // a base name alone selects nothing
    strcpy(third.Head.Name, "sub\\b.txt");      // only the entry's name is normalised
    ExtractRequest request = NewRequest();
    request.NameList = &first.Head;
    ExtractArchive(&request);
    EXPECT_EQ(0, request.Result);
    EXPECT_EQ((std::vector<std::string>{"A.TXT"}), OutputNames());

    // A test run decodes every entry whatever the list holds.
    ClearRecords();
    request = NewRequest(true);
    request.NameList = &first.Head;
    ExtractArchive(&request);
    EXPECT_EQ((std::vector<std::string>{"A.TXT", "b.txt", "c.txt"}), ReportedNames());
}

TEST_F(WalkTest, KeepPathsWritesBelowTheFolderAndNeedsItsSubfolders)
{
    ZipArchive archive;
    archive.Entries.push_back(Entry("sub/dir/a.txt", TextBytes(11, 6)));
    archive.Entries.push_back(Entry("/x/b.txt", TextBytes(12, 7)));
    WriteArchive(archive);
    ASSERT_TRUE(MakeFolder(JoinPath(Dest, "sub")));
    ASSERT_TRUE(MakeFolder(JoinPath(JoinPath(Dest, "sub"), "dir")));
    ASSERT_TRUE(MakeFolder(JoinPath(Dest, "x")));

    ExtractRequest request = NewRequest();
    request.KeepPaths = 1;
    ExtractArchive(&request);
    EXPECT_EQ(0, request.Result);
    EXPECT_EQ(TextBytes(11, 6), OutputFile("sub/dir/a.txt"));
    EXPECT_EQ(TextBytes(12, 7), OutputFile("x/b.txt"));

    // Without the folder the file cannot be created; no folder is ever made.
    FreshOutput();
    request = NewRequest();
    request.KeepPaths = 1;
    ExtractArchive(&request);
    EXPECT_EQ(2, request.Result);
    std::string expected = "Can't create output file: " + ShownPath("sub/dir/a.txt");
    EXPECT_EQ(expected, OnlyBoxText());
    EXPECT_TRUE(OutputNames().empty());
}

TEST_F(WalkTest, DestFolderWithTrailingSeparatorGetsNoSecondOne)
{
    ZipArchive archive;
    archive.Entries.push_back(Entry("sub/a.txt", TextBytes(3, 8)));
    archive.Entries.push_back(Entry("nodir/b.txt", TextBytes(3, 8)));
    WriteArchive(archive);
    std::string folder = Dest + "\\";
    ExtractRequest request = NewRequest();
    request.DestFolder = folder.c_str();
    ExtractArchive(&request);
    EXPECT_EQ(0, request.Result);
    EXPECT_EQ(TextBytes(3, 8), OutputFile("a.txt"));

    ClearRecords();
    ASSERT_TRUE(MakeFolder(JoinPath(Dest, "sub")));
    request = NewRequest();
    request.DestFolder = folder.c_str();
    request.KeepPaths = 1;
    ExtractArchive(&request);
    EXPECT_EQ(2, request.Result);
    EXPECT_EQ("Can't create output file: " + ShownPath("nodir/b.txt"), OnlyBoxText());
}

// Keep-paths extraction never writes outside the destination folder.
TEST_F(WalkTest, RefusesNamesThatLeaveTheDestinationFolder)
{
    const char* const hostile[] = {"../evil.txt", "sub/../../evil.txt", "..\\evil.txt",
                                   "C:evil.txt", "c:/evil.txt", "//server/share/evil.txt",
                                   "\\\\server\\evil.txt", "sub/..", "a:b", ".. /evil.txt",
                                   "sub/.../../evil.txt", "x/. ./evil.txt",
                                   // devices, which Windows opens in place of a file
                                   "CON", "nul.txt", "Prn .log", "aux", "COM1", "com9.x",
                                   "LPT1.dat", "sub/lpt5", "nul/evil.txt", "x\\CON.tar.gz",
                                   "COM0", "lpt0.txt", "CLOCK$", "clock$ .txt", "sub/Clock$",
                                   // COM and LPT with a superscript 1, 2 or 3 (Windows-1252)
                                   "COM\xB9", "lpt\xB2.log", "Com\xB3.x"};
    for (const char* name : hostile) {
        SCOPED_TRACE(name);
        ClearRecords();
        ZipArchive archive;
        archive.Entries.push_back(Entry(name, TextBytes(20, 9)));
        WriteArchive(archive);
        ExtractRequest request = NewRequest();
        request.KeepPaths = 1;
        EXPECT_EQ(1, ExtractArchive(&request));
        EXPECT_EQ(2, request.Result);
        EXPECT_EQ(std::string("Can't create output file: ") + name, OnlyBoxText());
        EXPECT_TRUE(OutputNames().empty());
        EXPECT_FALSE(FileExists(JoinPath(Folder, "evil.txt")));
    }
    // Without KeepPaths only the last component counts, so these are harmless, and so are
    // names that only look like devices...
    ZipArchive archive;
    for (const char* name : {"../../safe.txt", "nul/safe2.txt", "CONSOLE.txt", "COM10", "xcon", "a.nul", "LPTX", "CLOCK.txt", "COMA"})
        archive.Entries.push_back(Entry(name, TextBytes(20, 9)));
    WriteArchive(archive);
    ClearRecords();
    ExtractRequest request = NewRequest();
    ExtractArchive(&request);
    EXPECT_EQ(0, request.Result);
    EXPECT_EQ((std::vector<std::string>{"CLOCK.txt", "COM10", "COMA", "CONSOLE.txt", "LPTX", "a.nul", "safe.txt", "safe2.txt", "xcon"}),
              OutputNames());
    // ...but a component that is itself a way out, a drive or a device is refused.
    archive.Entries.resize(1);
    for (const char* name : {"sub/..", "C:evil.txt", "CON", "x/nul.txt", "Lpt3.dat", "x/COM0", "clock$"}) {
        ClearRecords();
        archive.Entries[0].Name = name;
        WriteArchive(archive);
        request = NewRequest();
        ExtractArchive(&request);
        EXPECT_EQ(2, request.Result) << name;
        EXPECT_EQ(std::string("Can't create output file: ") + name, OnlyBoxText());
    }
}

// Archives past 2 GiB, as sparse files. An entry that the name list passes over is skipped by
// its size; junk behind it makes the walk scan for the next record from there.
TEST_F(WalkTest, FindsRecordsUpTo4GiBAndEndsBeyond)
{
    NameListNode wanted = {};
    strcpy(wanted.Head.Name, "b.txt");
    const Bytes hello = {'h', 'e', 'l', 'l', 'o'};
    const Bytes junk = {'X', 'X', 'X', 'X'};

    // Between 2 and 4 GiB a signed 32-bit position is negative: the scan still finds the record.
    const uint64_t dataEnd = 0x90000000u;
    ZipArchive rest;
    rest.Entries.push_back(Entry("b.txt", hello));
    ASSERT_TRUE(WriteSparseFile(ArchivePath, {{0, StoredHeader("skip.bin", (uint32_t)(dataEnd - 38))},
                                              {dataEnd, junk}, {dataEnd + 4, rest.Build()}}));
    ExtractRequest request = NewRequest();
    request.NameList = &wanted.Head;
    ExtractArchive(&request);
    EXPECT_EQ(0, request.Result);
    EXPECT_TRUE(Boxes().empty());
    EXPECT_EQ(hello, OutputFile("b.txt"));

#ifndef _WIN32
    // Beyond 4 GiB no 32-bit position is left to read from: the run ends with 1034 instead of
    // finding the second header, inside the first entry's data, over and over. (Windows has
    // the same limit; Wine's file calls move on past it, so this part runs natively.)
    const uint64_t farEnd = 0x10000001Eull;
    ASSERT_TRUE(WriteSparseFile(ArchivePath, {{0, StoredHeader("a", (uint32_t)(farEnd - 31))},
                                              {40, StoredHeader("b", (uint32_t)(farEnd - 71))},
                                              {farEnd, junk}, {farEnd + 4, ZipArchive().Build()}}));
    ClearRecords();
    request = NewRequest();
    request.NameList = &wanted.Head;
    ExtractArchive(&request);
    EXPECT_EQ(2, request.Result);
    EXPECT_EQ("Invalid Zipfile Header", OnlyBoxText());
#endif
}

TEST_F(WalkTest, FindsTheFirstHeaderBehindOtherData)
{
    // Sizes around the scan's 28672-byte reads: the signature inside one read, across two.
    for (size_t size : {5, 5000, 28668, 28669, 28670, 28671, 28672, 70000}) {
        SCOPED_TRACE(size);
        ZipArchive archive;
        archive.Prefix = RandomBytes(size, 10);
        archive.Prefix[size / 2] = 'P';   // near misses on the way
        if (size > 3) {
            archive.Prefix[size - 3] = 'P';
            archive.Prefix[size - 2] = 'K';
        }
        archive.Entries.push_back(Entry("a.txt", TextBytes(300, 11), 8));
        WriteArchive(archive);
        ClearRecords();
        ExtractRequest request = NewRequest();
        ExtractArchive(&request);
        EXPECT_EQ(0, request.Result);
        EXPECT_EQ(TextBytes(300, 11), OutputFile("a.txt"));
    }
}

TEST_F(WalkTest, StartOffsetSkipsWhatLiesBefore)
{
    ZipArchive archive;
    archive.Entries.push_back(Entry("first.txt", TextBytes(50, 12)));
    archive.Entries.push_back(Entry("second.txt", TextBytes(60, 13)));
    Bytes bytes = archive.Build();
    WriteArchiveBytes(bytes);
    ExtractRequest request = NewRequest();
    request.StartOffset = 30 + 9 + 50;   // the second local header
    ExtractArchive(&request);
    EXPECT_EQ(0, request.Result);
    EXPECT_EQ((std::vector<std::string>{"second.txt"}), OutputNames());
}

TEST_F(WalkTest, DataDescriptorsWithAndWithoutSignature)
{
    for (Descriptor kind : {Descriptor::WithSignature, Descriptor::WithoutSignature}) {
        for (uint16_t method : {0, 8}) {
            SCOPED_TRACE(method);
            ClearRecords();
            ZipArchive archive;
            archive.Entries.push_back(Entry("a.txt", TextBytes(1000, 14), method));
            archive.Entries.push_back(Entry("b.txt", TextBytes(2000, 15), method));
            archive.Entries.push_back(Entry("c.txt", TextBytes(10, 16), method));
            for (ZipEntry& entry : archive.Entries)
                entry.DataDescriptor = kind;
            WriteArchive(archive);
            ExtractRequest request = NewRequest();
            ExtractArchive(&request);
            EXPECT_EQ(0, request.Result);
            EXPECT_TRUE(Boxes().empty());
            EXPECT_EQ(TextBytes(1000, 14), OutputFile("a.txt"));
            EXPECT_EQ(TextBytes(2000, 15), OutputFile("b.txt"));
            EXPECT_EQ(TextBytes(10, 16), OutputFile("c.txt"));
        }
    }
}

TEST_F(WalkTest, AppendsZipOnlyWhenThePathHasNoDot)
{
    ZipArchive archive;
    archive.Entries.push_back(Entry("a.txt", TextBytes(10, 17)));
    std::string plain = JoinPath(Folder, "DATA");
    ASSERT_TRUE(WriteWholeFile(plain + ".ZIP", archive.Build()));
    ExtractRequest request = NewRequest();
    if (plain.find('.') != std::string::npos)
        GTEST_SKIP() << "the scratch folder's path holds a dot";
    request.ArchivePath = plain.c_str();
    ExtractArchive(&request);
    EXPECT_EQ(0, request.Result);
    EXPECT_TRUE(OutputExists("a.txt"));

    // Text 1031 shows the name that was tried, with the added ".ZIP".
    std::string missing = JoinPath(Folder, "NONE");
    request = NewRequest();
    request.ArchivePath = missing.c_str();
    ExtractArchive(&request);
    EXPECT_EQ(2, request.Result);
    EXPECT_EQ("Can't open input file: " + missing + ".ZIP", OnlyBoxText());
}

TEST_F(WalkTest, ReadErrorNamesThePathAsGiven)
{
    ZipArchive archive;
    archive.Entries.push_back(Entry("a.txt", TextBytes(100, 18)));
    Bytes bytes = archive.Build();
    bytes.resize(30 + 5 + 50);   // cut inside the entry's data
    std::string plain = JoinPath(Folder, "CUT");
    if (plain.find('.') != std::string::npos)
        GTEST_SKIP() << "the scratch folder's path holds a dot";
    ASSERT_TRUE(WriteWholeFile(plain + ".ZIP", bytes));
    ExtractRequest request = NewRequest();
    request.ArchivePath = plain.c_str();
    ExtractArchive(&request);
    EXPECT_EQ(2, request.Result);
    EXPECT_EQ("Error reading " + plain + ".  Possible cause: bad disk", OnlyBoxText());
    EXPECT_TRUE(OutputNames().empty());   // the partly written file is deleted
}

TEST_F(WalkTest, NoSignatureAnywhereIsAnInvalidHeader)
{
    WriteArchiveBytes(RandomBytes(3000, 19));
    ExtractRequest request = NewRequest();
    ExtractArchive(&request);
    EXPECT_EQ(2, request.Result);
    EXPECT_EQ("Invalid Zipfile Header", OnlyBoxText());
}

// Every prefix of a valid archive up to its comment ends the run with an error; the walk never
// runs away on a cut archive.
TEST_F(WalkTest, TruncationAtEveryOffsetEndsWithAnError)
{
    ZipArchive archive;
    archive.Entries.push_back(Entry("a.txt", TextBytes(700, 20), 8));
    archive.Entries.push_back(Entry("b.txt", TextBytes(300, 21), 0));
    archive.Entries[1].DataDescriptor = Descriptor::WithoutSignature;
    archive.Entries.push_back(Entry("c.txt", TextBytes(500, 22), 8));
    archive.Entries[2].Encrypt = true;
    archive.Entries[2].Password = TestDefaultPassword;
    archive.Comment = "end";
    Bytes full = archive.Build();
#ifdef _WIN32
    const size_t stride = 11;   // every box is a real window under Wine
#else
    const size_t stride = 1;
#endif
    for (size_t length = 0; length < full.size(); length += stride) {
        SCOPED_TRACE(length);
        ClearRecords();
        WriteArchiveBytes(Bytes(full.begin(), full.begin() + length));
        ExtractRequest request = NewRequest(true);
        EXPECT_EQ(1, ExtractArchive(&request));
        if (length >= full.size() - archive.Comment.size()) {
            EXPECT_EQ(0, request.Result);   // the comment is passed over unread
            continue;
        }
        EXPECT_EQ(2, request.Result);
        ASSERT_EQ(1u, Boxes().size());
        bool expectedText = Boxes()[0].Text.rfind("Error reading ", 0) == 0
            || Boxes()[0].Text == "Invalid Zipfile Header"
            || Boxes()[0].Text.rfind("ZIP damaged: file ", 0) == 0;
        EXPECT_TRUE(expectedText) << Boxes()[0].Text;
    }
    ClearRecords();
    WriteArchiveBytes(full);
    ExtractRequest request = NewRequest();
    ExtractArchive(&request);
    EXPECT_EQ(0, request.Result);
    EXPECT_EQ((std::vector<std::string>{"a.txt", "b.txt", "c.txt"}), OutputNames());
}

TEST_F(WalkTest, NamesLongerThanTheBuffersAreRefused)
{
    // A stored name of 263 characters still fits; 264 does not.
    ZipArchive archive;
    archive.Entries.push_back(Entry(std::string(263, 'n'), TextBytes(5, 23)));
    WriteArchive(archive);
    ExtractRequest request = NewRequest(true);
    ExtractArchive(&request);
    EXPECT_EQ(0, request.Result);

    archive.Entries[0].Name = std::string(264, 'n');
    WriteArchive(archive);
    ClearRecords();
    request = NewRequest(true);
    ExtractArchive(&request);
    EXPECT_EQ(2, request.Result);
    EXPECT_EQ(1u, Boxes().size());

    // An output path longer than 259 characters is refused before anything is created.
    archive.Entries[0].Name = std::string(260 - Dest.size(), 'p');
    WriteArchive(archive);
    ClearRecords();
    request = NewRequest();
    ExtractArchive(&request);
    EXPECT_EQ(2, request.Result);
    EXPECT_EQ("Can't create output file: " + archive.Entries[0].Name, OnlyBoxText());
    EXPECT_TRUE(OutputNames().empty());

    // An archive path too long for the engine's copy is refused, not cut.
    std::string longPath = Folder + std::string(300, 'q') + ".zip";
    ClearRecords();
    request = NewRequest();
    request.ArchivePath = longPath.c_str();
    EXPECT_EQ(1, ExtractArchive(&request));
    EXPECT_EQ(2, request.Result);
    EXPECT_EQ("Can't open input file: " + longPath, OnlyBoxText());
}

TEST_F(WalkTest, UnknownMethodLeavesNoFile)
{
    ZipArchive archive;
    archive.Entries.push_back(Entry("ok.txt", TextBytes(40, 24)));
    archive.Entries.push_back(Entry("shrunk.txt", TextBytes(40, 25), 12));
    WriteArchive(archive);
    ExtractRequest request = NewRequest();
    ExtractArchive(&request);
    EXPECT_EQ(2, request.Result);
    EXPECT_EQ("unknown compression", OnlyBoxText());
    EXPECT_EQ((std::vector<std::string>{"ok.txt"}), OutputNames());
}

TEST_F(WalkTest, SecondCallDuringARunIsRefused)
{
    ZipArchive archive;
    archive.Entries.push_back(Entry("a.txt", TextBytes(30000, 26)));
    WriteArchive(archive);
    int nested = -1;
    ExtractRequest inner = NewRequest();
    OnProgress = [&](int index) {
        if (index == 1)
            nested = ExtractArchive(&inner);
    };
    ExtractRequest request = NewRequest();
    ExtractArchive(&request);
    EXPECT_EQ(0, nested);
    EXPECT_EQ(0, inner.Result);
    EXPECT_EQ(0, request.Result);
    EXPECT_EQ(TextBytes(30000, 26), OutputFile("a.txt"));
}

// Archives with random bytes changed always end, with at most one box, and never write
// outside the destination folder.
TEST_F(WalkTest, RandomlyDamagedArchivesAlwaysEnd)
{
    ZipArchive archive;
    archive.Prefix = RandomBytes(40, 30);
    archive.Entries.push_back(Entry("a/one.txt", TextBytes(3000, 31), 8));
    archive.Entries.push_back(Entry("two.bin", RandomBytes(500, 32), 0));
    archive.Entries[1].DataDescriptor = Descriptor::WithoutSignature;
    archive.Entries.push_back(Entry("three.txt", TextBytes(2000, 33), 8));
    archive.Entries[2].Encrypt = true;
    archive.Entries[2].Password = TestDefaultPassword;
    archive.Entries[2].DataDescriptor = Descriptor::WithSignature;
    archive.Entries[2].CheckByTime = true;
    archive.Entries.push_back(Entry("four.txt", TextBytes(800, 34), 8));
    archive.Entries[3].Compressed = DeflateStored(archive.Entries[3].Data);
    const Bytes full = archive.Build();

    uint32_t seed = TestSeed();
#ifdef _WIN32
    const int rounds = 25;
#else
    const int rounds = 400;
#endif
    for (int round = 0; round < rounds; ++round) {
        Bytes damaged = full;
        Bytes noise = RandomBytes(16, seed + (uint32_t)round);
        int changes = 1 + noise[0] % 4;
        for (int i = 0; i < changes; ++i) {
            size_t at = ((size_t)noise[1 + 3 * i] << 8 | noise[2 + 3 * i]) % damaged.size();
            damaged[at] = noise[3 + 3 * i];
        }
        WriteArchiveBytes(damaged);
        for (int testRun = 0; testRun < 2; ++testRun) {
            SCOPED_TRACE(round);
            ClearRecords();
            ExtractRequest request = NewRequest(testRun == 1);
            request.KeepPaths = 1;
            ASSERT_EQ(1, ExtractArchive(&request));
            EXPECT_TRUE(request.Result == 0 || request.Result == 2) << request.Result;
            EXPECT_EQ(request.Result == 2 ? 1u : 0u, Boxes().size());
            EXPECT_EQ((std::vector<std::string>{"out", "test.zip"}), ListFolder(Folder));
        }
    }
}

// Under the double-byte code page 932 the character U+8868 is 0x95 0x5C: its trail byte has the
// code of "\\", and a name scan that looked at every byte would cut the name there. Natively the
// POSIX layer is told the code page; under Wine the group win.unzip.dbcs gets it from
// LANG=ja_JP.UTF-8.
TEST_F(WalkTest, DoubleByteNamesKeepTheTrailByteThatLooksLikeABackslash)
{
#ifdef _WIN32
    ASSERT_EQ(932u, GetACP()) << "run as win.unzip.dbcs (LANG=ja_JP.UTF-8)";
#else
    struct CodePage932 {
        CodePage932() { SetAnsiCodePage(932); }
        ~CodePage932() { SetAnsiCodePage(1252); }
    } codePage;
#endif
    const std::string table = "\x95\x5C";
    ZipArchive archive;
    archive.Entries.push_back(Entry(table + ".txt", TextBytes(10, 41)));
    archive.Entries.push_back(Entry("sub/" + table, TextBytes(11, 42)));   // a file, no folder
    WriteArchive(archive);

    ExtractRequest request = NewRequest(true);
    ExtractArchive(&request);
    EXPECT_EQ(0, request.Result);
    EXPECT_EQ((std::vector<std::string>{table + ".txt", table}), ReportedNames());

    // Selected by the full stored name and written under it, with its folder.
    NameListNode first = {}, second = {};
    first.Head.Next = &second.Head;
    strcpy(first.Head.Name, (table + ".txt").c_str());
    strcpy(second.Head.Name, ("sub/" + table).c_str());
    FreshOutput();
    ASSERT_TRUE(MakeFolder(JoinPath(Dest, "sub")));
    request = NewRequest();
    request.NameList = &first.Head;
    request.KeepPaths = 1;
    ExtractArchive(&request);
#ifdef _WIN32
    // Wine makes only file names that its Unix locale can spell, and no Japanese locale is
    // installed here: the create fails, and the message shows the path that was built.
    EXPECT_EQ(2, request.Result);
    EXPECT_EQ("Can't create output file: " + ShownPath(table + ".txt"), OnlyBoxText());
#else
    EXPECT_EQ(0, request.Result);
    EXPECT_EQ(TextBytes(10, 41), OutputFile(table + ".txt"));
    EXPECT_EQ(TextBytes(11, 42), OutputFile("sub/" + table));
#endif
}

// Stored names are in the OEM character set; the file is created under its ANSI name, while
// the progress dialog is told the name as stored.
TEST_F(WalkTest, FileNamesAreConvertedFromTheOemCharacterSet)
{
    ZipArchive archive;
    archive.Entries.push_back(Entry("caf\x82.txt", TextBytes(5, 40)));
    WriteArchive(archive);
    ExtractRequest request = NewRequest();
    ExtractArchive(&request);
    EXPECT_EQ(0, request.Result);
#ifdef _WIN32
    const char* expected = "caf\xe9.txt";   // code page 437 to 1252
#else
    const char* expected = "caf\x82.txt";   // no code pages natively: the bytes as stored
#endif
    EXPECT_EQ((std::vector<std::string>{expected}), OutputNames());
    EXPECT_EQ((std::vector<std::string>{"caf\x82.txt"}), ReportedNames());
}
