// The Deflate decoder by fault class: valid streams of our own writers (and, natively, of zlib
// as a control) must come out exactly; invalid streams, one per line, give their result code.
#include "harness.h"
#include "unzip/engine.h"

#include <algorithm>
#include <stdio.h>
#include <stdlib.h>
#include <time.h>

#if __has_include(<zlib.h>) && !defined(_WIN32)
#include <zlib.h>
#define TQ_TESTS_HAVE_ZLIB 1
#endif

namespace {

// Canonical codes of RFC 1951 3.2.2: code[i] for a symbol of length lengths[i].
std::vector<unsigned> CanonicalCodes(const std::vector<unsigned>& lengths)
{
    unsigned count[16] = {};
    for (unsigned length : lengths)
        ++count[length];
    count[0] = 0;
    unsigned next[16] = {};
    unsigned code = 0;
    for (int bits = 1; bits < 16; ++bits) {
        code = (code + count[bits - 1]) << 1;
        next[bits] = code;
    }
    std::vector<unsigned> codes(lengths.size());
    for (size_t i = 0; i < lengths.size(); ++i)
        if (lengths[i] != 0)
            codes[i] = next[lengths[i]]++;
    return codes;
}

// A dynamic block's header whose code-length code gives 4 bits to lengths 0 to 13 and 5 bits
// to 14, 16, 17 and 18 (complete: 14/16 + 4/32).
struct DynamicWriter {
    BitWriter Bits;
    std::vector<unsigned> CodeLengthLengths = std::vector<unsigned>(19, 0);
    std::vector<unsigned> CodeLengthCodes;
    std::vector<unsigned> LiteralCodes, LiteralLengths, DistanceCodes, DistanceLengths;

    DynamicWriter()
    {
        for (unsigned symbol = 0; symbol < 14; ++symbol)
            CodeLengthLengths[symbol] = 4;
        for (unsigned symbol : {14, 16, 17, 18})
            CodeLengthLengths[symbol] = 5;
        CodeLengthCodes = CanonicalCodes(CodeLengthLengths);
    }
    // HLIT, HDIST, HCLEN and the code-length code (RFC 1951 3.2.7).
    void Preamble(bool last, unsigned literalCount, unsigned distanceCount)
    {
        static const unsigned order[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2,
                                           14, 1, 15};
        Bits.PutBits(last ? 1 : 0, 1);
        Bits.PutBits(2, 2);
        Bits.PutBits(literalCount - 257, 5);
        Bits.PutBits(distanceCount - 1, 5);
        Bits.PutBits(19 - 4, 4);
        for (unsigned symbol : order)
            Bits.PutBits(CodeLengthLengths[symbol], 3);
    }
    void LengthSymbol(unsigned symbol, unsigned extra = 0)
    {
        Bits.PutCode(CodeLengthCodes[symbol], CodeLengthLengths[symbol]);
        if (symbol >= 16)
            Bits.PutBits(extra, symbol == 16 ? 2 : symbol == 17 ? 3 : 7);
    }
    // A whole header: each length sent as it is.
    void Header(bool last, const std::vector<unsigned>& literals,
                const std::vector<unsigned>& distances)
    {
        Preamble(last, (unsigned)literals.size(), (unsigned)distances.size());
        for (unsigned length : literals)
            LengthSymbol(length);
        for (unsigned length : distances)
            LengthSymbol(length);
        LiteralLengths = literals;
        DistanceLengths = distances;
        LiteralCodes = CanonicalCodes(literals);
        DistanceCodes = CanonicalCodes(distances);
    }
    void Literal(unsigned symbol)
    {
        Bits.PutCode(LiteralCodes[symbol], LiteralLengths[symbol]);
    }
    void Distance(unsigned symbol)
    {
        Bits.PutCode(DistanceCodes[symbol], DistanceLengths[symbol]);
    }
};

std::vector<unsigned> Lengths(size_t count, std::initializer_list<std::pair<unsigned, unsigned>> set)
{
    std::vector<unsigned> lengths(count, 0);
    for (auto& symbolAndLength : set)
        lengths[symbolAndLength.first] = symbolAndLength.second;
    return lengths;
}

// Literals 'a' and 'b', end of block, length 3 (symbol 257): four codes of length 2.
std::vector<unsigned> SmallLiteralCode()
{
    return Lengths(258, {{'a', 2}, {'b', 2}, {256, 2}, {257, 2}});
}

void FixedHeader(BitWriter& writer, bool last = true)
{
    writer.PutBits(last ? 1 : 0, 1);
    writer.PutBits(1, 2);
}

Bytes Stream(BitWriter& writer)
{
    return writer.Finish();
}

// Invalid and edge streams with the decoder's result.
struct Case {
    const char* What;
    Bytes Data;
    int Expected;   // AnyFailure: 1 or 2, depending on what the bits past the data decode to
};
constexpr int AnyFailure = -1;

std::vector<Case> InvalidStreams()
{
    std::vector<Case> cases;
    BitWriter w;
    // Block type 3 is reserved.
    w = {}; w.PutBits(1, 1); w.PutBits(3, 2); w.PutBits(0, 16);
    cases.push_back({"block type 3", Stream(w), 2});
    // Stored block: LEN 5 but NLEN 0 instead of 0xFFFA.
    w = {}; w.PutBits(1, 1); w.PutBits(0, 2); w.AlignToByte(); w.PutBits(5, 16); w.PutBits(0, 16);
    cases.push_back({"stored LEN without its complement", Stream(w), 1});
    // Stored block announcing 100 bytes with 10 present: runs past the data.
    w = {}; PutStoredBlock(w, Bytes(100, 7), true);
    cases.push_back({"stored block cut short", Bytes(w.Out.begin(), w.Out.begin() + 15), 1});
    // Fixed block: literal/length symbols 286 and 287 do not exist.
    w = {}; FixedHeader(w); PutFixedLiteral(w, 'a'); PutFixedLiteral(w, 286); PutFixedLiteral(w, 256);
    cases.push_back({"fixed literal/length 286", Stream(w), 1});
    w = {}; FixedHeader(w); PutFixedLiteral(w, 287); PutFixedLiteral(w, 256);
    cases.push_back({"fixed literal/length 287", Stream(w), 1});
    // Fixed block: distance symbols 30 and 31 do not exist.
    w = {}; FixedHeader(w); PutFixedLiteral(w, 'a'); PutFixedLiteral(w, 257); PutFixedDistanceSymbol(w, 30); PutFixedLiteral(w, 256);
    cases.push_back({"fixed distance 30", Stream(w), 1});
    w = {}; FixedHeader(w); PutFixedLiteral(w, 'a'); PutFixedLiteral(w, 257); PutFixedDistanceSymbol(w, 31); PutFixedLiteral(w, 256);
    cases.push_back({"fixed distance 31", Stream(w), 1});
    // Fixed block without end-of-block code: the data runs out and the decoder must stop.
    w = {}; FixedHeader(w); for (int i = 0; i < 20; ++i) PutFixedLiteral(w, 'a' + i);
    cases.push_back({"no end of block", Stream(w), AnyFailure});
    // The end-of-block code cut in the middle: its last bits would come from beyond the data.
    w = {}; FixedHeader(w); PutFixedLiteral(w, 0); PutFixedLiteral(w, 256);
    cases.push_back({"end of block cut", Bytes(w.Out.begin(), w.Out.begin() + 2), AnyFailure});
    // Dynamic headers announcing 287 or 288 literal/length codes, or 31 or 32 distance codes.
    for (unsigned hlit : {30u, 31u}) {
        w = {}; w.PutBits(1, 1); w.PutBits(2, 2); w.PutBits(hlit, 5); w.PutBits(0, 5); w.PutBits(15, 4);
        for (int i = 0; i < 40; ++i) w.PutBits(0x5A, 8);
        cases.push_back({"dynamic HLIT above 286", Stream(w), 1});
    }
    for (unsigned hdist : {30u, 31u}) {
        w = {}; w.PutBits(1, 1); w.PutBits(2, 2); w.PutBits(0, 5); w.PutBits(hdist, 5); w.PutBits(15, 4);
        for (int i = 0; i < 40; ++i) w.PutBits(0x5A, 8);
        cases.push_back({"dynamic HDIST above 30", Stream(w), 1});
    }
    // Code-length code: three codes of length 1 are over-subscribed.
    w = {}; w.PutBits(1, 1); w.PutBits(2, 2); w.PutBits(0, 5); w.PutBits(0, 5); w.PutBits(0, 4);
    w.PutBits(1, 3); w.PutBits(1, 3); w.PutBits(1, 3); w.PutBits(0, 3); w.PutBits(0, 16);
    cases.push_back({"over-subscribed code-length code", Stream(w), 2});
    // Code-length code: one code of length 2 is incomplete.
    w = {}; w.PutBits(1, 1); w.PutBits(2, 2); w.PutBits(0, 5); w.PutBits(0, 5); w.PutBits(0, 4);
    w.PutBits(0, 3); w.PutBits(0, 3); w.PutBits(0, 3); w.PutBits(2, 3); w.PutBits(0, 16);
    cases.push_back({"incomplete code-length code", Stream(w), 1});
    // No code-length code at all: nothing can describe the lengths.
    w = {}; w.PutBits(1, 1); w.PutBits(2, 2); w.PutBits(0, 5); w.PutBits(0, 5); w.PutBits(0, 4);
    w.PutBits(0, 12); w.PutBits(0, 16);
    cases.push_back({"empty code-length code", Stream(w), 1});
    {   // 138 zeros twice and then 138 more: past the 258 lengths announced.
        DynamicWriter d; d.Preamble(true, 257, 1);
        d.LengthSymbol(18, 127); d.LengthSymbol(18, 127); d.LengthSymbol(18, 127);
        d.Bits.PutBits(0, 16);
        cases.push_back({"repetition past the end of the lengths", Stream(d.Bits), 1});
    }
    {   // Literal/length code with every length zero: not even an end of block.
        DynamicWriter d; d.Header(true, std::vector<unsigned>(257, 0), {1});
        d.Bits.PutBits(0, 16);
        cases.push_back({"no literal/length codes", Stream(d.Bits), 1});
    }
    {   // Over-subscribed literal/length code: five codes of length 2.
        DynamicWriter d; d.Header(true, Lengths(258, {{'a', 2}, {'b', 2}, {'c', 2}, {256, 2}, {257, 2}}), {1});
        d.Bits.PutBits(0, 16);
        cases.push_back({"over-subscribed literal/length code", Stream(d.Bits), 2});
    }
    {   // Incomplete literal/length code: three codes of length 2.
        DynamicWriter d; d.Header(true, Lengths(257, {{'a', 2}, {'b', 2}, {256, 2}}), {1});
        d.Literal('a'); d.Literal(256);
        cases.push_back({"incomplete literal/length code", Stream(d.Bits), 1});
    }
    {   // Distance code of two codes of length 2: incomplete.
        DynamicWriter d; d.Header(true, SmallLiteralCode(), Lengths(2, {{0, 2}, {1, 2}}));
        d.Literal('a'); d.Literal(256);
        cases.push_back({"incomplete distance code", Stream(d.Bits), 1});
    }
    {   // No distance codes is valid, but then a length code cannot be decoded.
        DynamicWriter d; d.Header(true, SmallLiteralCode(), {0});
        d.Literal('a'); d.Literal(257); d.Bits.PutBits(0, 16); d.Literal(256);
        cases.push_back({"length without distance codes", Stream(d.Bits), 1});
    }
    return cases;
}

}

TEST(Inflate, InvalidStreamsGiveTheirResult)
{
    for (const Case& c : InvalidStreams()) {
        int result = InflateStream(c.Data);
        if (c.Expected == AnyFailure)
            EXPECT_TRUE(result == 1 || result == 2) << c.What << ": " << result;
        else
            EXPECT_EQ(c.Expected, result) << c.What;
    }
}

TEST(Inflate, EdgeStreamsThatAreValid)
{
    BitWriter w;
    // One final stored block of length 0.
    PutStoredBlock(w, {}, true);
    EXPECT_EQ(0, InflateStream(w.Finish()));
    // A single distance code of length 1 is accepted.
    DynamicWriter d;
    d.Header(true, SmallLiteralCode(), {1});
    d.Literal('a'); d.Literal(257); d.Distance(0); d.Literal(256);
    EXPECT_EQ(0, InflateStream(d.Bits.Finish()));
    // Lookahead at the very end reads past the data without harm: the table is 3 bits wide and
    // the 1-bit end-of-block code ends the stream at every alignment in turn.
    for (int shift = 0; shift < 8; ++shift) {
        DynamicWriter e;
        e.Header(true, Lengths(258, {{256, 1}, {'a', 2}, {'b', 3}, {257, 3}}), {0});
        for (int i = 0; i < shift; ++i)
            e.Literal('a');
        e.Literal('b');
        e.Literal(256);
        EXPECT_EQ(0, InflateStream(e.Bits.Finish())) << shift;
    }
}

// The lookup tables by code, one row each: every code, followed by every pattern of the bits
// after it that the first level sees (a short code's entry repeated over them, up to the width
// asked for even where every code is shorter) or, for a code longer than the first level, by a
// few patterns and through its link, gives its own entry: its symbol, its code's length and its
// extra bits. The width comes back as asked unless the shortest code is longer.
TEST(Inflate, DecodeTablesGiveEveryCodeItsEntry)
{
    struct Row {
        const char* What;
        std::vector<unsigned> Lengths;
        unsigned SimpleCount, Width, WidthUsed;
        int Result;
    };
    std::vector<unsigned> fixed(288, 8);
    std::fill(fixed.begin() + 144, fixed.begin() + 256, 9);
    std::fill(fixed.begin() + 256, fixed.begin() + 280, 7);
    std::vector<unsigned> longCodes(16);   // 1 to 15 bits, and a second code of 15: complete
    for (unsigned symbol = 0; symbol < 16; ++symbol)
        longCodes[symbol] = symbol < 15 ? symbol + 1 : 15;
    const Row rows[] = {
        {"four codes of 2 bits", SmallLiteralCode(), 257, 11, 11, 0},
        {"fixed literal/length code", fixed, 257, 11, 11, 0},
        {"fixed distance code", std::vector<unsigned>(30, 5), 0, 8, 8, 1},
        {"one distance code of 1 bit", {1}, 0, 8, 8, 0},
        {"codes of up to 15 bits", longCodes, 8, 11, 11, 0},
        {"shortest code longer than the width", std::vector<unsigned>(256, 8), 257, 7, 8, 0},
    };
    uint16_t bases[31], extras[31];
    for (unsigned i = 0; i < 31; ++i) {
        bases[i] = (uint16_t)(100 + 7 * i);
        extras[i] = (uint16_t)(i % 6);
    }
    for (const Row& row : rows) {
        TableEntry* table = nullptr;
        unsigned width = row.Width;
        int result = BuildDecodeTable(row.Lengths.data(), (unsigned)row.Lengths.size(),
                                      row.SimpleCount, bases, extras, &table, &width);
        EXPECT_EQ(row.Result, result) << row.What;
        EXPECT_EQ(row.WidthUsed, width) << row.What;
        ASSERT_NE(nullptr, table) << row.What;
        std::vector<unsigned> codes = CanonicalCodes(row.Lengths);
        for (unsigned symbol = 0; symbol < row.Lengths.size(); ++symbol) {
            unsigned length = row.Lengths[symbol];
            if (length == 0)
                continue;
            unsigned code = 0;   // bit-reversed: the order in which the bits arrive
            for (unsigned i = 0; i < length; ++i)
                code = code << 1 | (codes[symbol] >> i & 1);
            unsigned patterns = length < width ? 1u << (width - length) : 4;
            for (unsigned pattern = 0; pattern < patterns; ++pattern) {
                uint32_t bits = code | pattern << length;
                const TableEntry* entry = &table[bits & ((1u << width) - 1)];
                unsigned taken = 0;
                for (int links = 0; links < 2 && entry->Operation > Literal &&
                                    entry->Operation != InvalidCode; ++links) {
                    taken += entry->Bits;
                    unsigned n = entry->Operation - Literal;
                    entry = &table[entry->Value + ((bits >> taken) & ((1u << n) - 1))];
                }
                std::string where = std::string(row.What) + ", symbol " + std::to_string(symbol);
                bool simple = symbol < row.SimpleCount;
                unsigned extra = simple ? 0 : extras[symbol - row.SimpleCount];
                ASSERT_EQ(length, taken + entry->Bits - extra) << where;
                if (simple && symbol < 256) {
                    EXPECT_EQ(Literal, entry->Operation) << where;
                    EXPECT_EQ(symbol | LiteralFlag, entry->Value) << where;
                } else if (simple) {
                    EXPECT_EQ(EndOfBlock, entry->Operation) << where;
                    EXPECT_EQ(symbol, entry->Value) << where;
                } else {
                    EXPECT_EQ(extra, entry->Operation) << where;
                    EXPECT_EQ(bases[symbol - row.SimpleCount], entry->Value) << where;
                }
            }
        }
        free(table);
    }
}

// A final fixed block written symbol by symbol, with the bytes it must decode to.
struct FixedScript {
    BitWriter Writer;
    Bytes Expected;
    FixedScript() { FixedHeader(Writer); }
    void Literals(const Bytes& bytes)
    {
        for (uint8_t byte : bytes) {
            PutFixedLiteral(Writer, byte);
            Expected.push_back(byte);
        }
    }
    void Match(unsigned length, unsigned distance)
    {
        PutFixedMatch(Writer, length, distance);
        size_t at = Expected.size();
        Expected.resize(at + length);
        uint8_t* bytes = Expected.data();   // byte by byte: the copy may overlap itself
        for (unsigned i = 0; i < length; ++i)
            bytes[at + i] = bytes[at + i - distance];
    }
    Bytes Finish()   // the end of the block
    {
        PutFixedLiteral(Writer, 256);
        return Writer.Finish();
    }
};

class InflateOutputTest : public EngineTest {
protected:
    // Runs one deflated entry made of the stream and returns what was written; the CRC in the
    // header is that of the expected bytes, so a wrong decode also shows as text 1033.
    Bytes Decode(const Bytes& stream, const Bytes& expected)
    {
        ZipArchive archive;
        archive.Entries.push_back(Entry("x", expected, 8));
        archive.Entries[0].Compressed = stream.empty() ? Bytes{3, 0} : stream;
        WriteArchive(archive);
        ClearRecords();
        ExtractRequest request = NewRequest();
        ExtractArchive(&request);
        EXPECT_EQ(0, request.Result);
        EXPECT_TRUE(Boxes().empty()) << (Boxes().empty() ? "" : Boxes()[0].Text);
        return OutputFile("x");
    }
};

TEST_F(InflateOutputTest, OwnWritersRoundTrip)
{
    for (size_t size : {0, 1, 100, 32767, 32768, 32769, 100000, 300000}) {
        Bytes text = TextBytes(size, (uint32_t)size);
        EXPECT_EQ(text, Decode(DeflateFixed(text), text)) << "fixed " << size;
        EXPECT_EQ(text, Decode(DeflateStored(text), text)) << "stored " << size;
    }
    Bytes random = RandomBytes(70000, 5);
    EXPECT_EQ(random, Decode(DeflateFixed(random), random));
}

TEST_F(InflateOutputTest, MatchesRepeatAndWrapAroundTheWindow)
{
    BitWriter w;
    // Distance 1, length 258: the byte before, 258 times.
    FixedHeader(w);
    PutFixedLiteral(w, 'x');
    PutFixedMatch(w, 258, 1);
    PutFixedLiteral(w, 256);
    Bytes expected(259, 'x');
    EXPECT_EQ(expected, Decode(w.Finish(), expected));

    // A match that crosses the end of the window: 32760 literals, then 258 bytes copied from
    // the start, handed over in two pieces.
    Bytes data = RandomBytes(32760, 6);
    w = {};
    FixedHeader(w);
    for (uint8_t byte : data)
        PutFixedLiteral(w, byte);
    PutFixedMatch(w, 258, 32760);
    PutFixedMatch(w, 100, 32768);   // the farthest distance
    PutFixedLiteral(w, 256);
    expected = data;
    expected.insert(expected.end(), data.begin(), data.begin() + 258);
    for (int i = 0; i < 100; ++i)
        expected.push_back(expected[expected.size() - 32768]);
    EXPECT_EQ(expected, Decode(w.Finish(), expected));

    // Stored, fixed, dynamic and fixed blocks in one stream, matches reaching across blocks: the
    // second fixed block decodes with the fixed codes kept from the first, not the dynamic ones.
    w = {};
    PutStoredBlock(w, {'a', 'b', 'c'}, false);
    FixedHeader(w, false);
    PutFixedMatch(w, 3, 3);
    PutFixedLiteral(w, 256);
    DynamicWriter d;
    d.Bits = w;
    d.Header(false, SmallLiteralCode(), {1});
    d.Literal('b');
    d.Literal(257);
    d.Distance(0);
    d.Literal(256);
    FixedHeader(d.Bits);
    PutFixedLiteral(d.Bits, 'z');
    PutFixedMatch(d.Bits, 4, 3);
    PutFixedLiteral(d.Bits, 256);
    expected = {'a', 'b', 'c', 'a', 'b', 'c', 'b', 'b', 'b', 'b', 'z', 'b', 'b', 'z', 'b'};
    EXPECT_EQ(expected, Decode(d.Bits.Finish(), expected));
}

// Every way a match is copied while the decoder runs at full speed, each checked against a
// byte-by-byte copy: distances 1 to 20 (patterns shorter than a word, then words, then sources
// that the match's own first words overwrite) with every length of a short match and lengths
// beyond, and after the window has wrapped, sources ahead of the output: far enough for words,
// closer than a word, and running over the window's end; then short matches from 0 to 24 bytes
// ahead, and from sources that end at the window's end, just before it and just over it.
TEST_F(InflateOutputTest, EveryKindOfMatchCopy)
{
    FixedScript script;
    script.Literals(RandomBytes(40000, 7));
    for (unsigned distance = 1; distance <= 20; ++distance) {
        for (unsigned length = 3; length <= 18; ++length)
            script.Match(length, distance);
        for (unsigned length : {31, 64, 258})
            script.Match(length, distance);
    }
    // Up to 100 bytes into the window's third round, so that distances above 100 reach ahead.
    script.Literals(RandomBytes(2 * 32768 + 100 - script.Expected.size(), 8));
    script.Match(100, 150);     // from 50 bytes before the window's end, over it
    script.Match(258, 32768);   // the byte about to be replaced, and on
    script.Match(200, 32700);
    script.Match(50, 32758);    // 10 bytes ahead
    script.Match(43, 32764);    // 4 and 6 bytes ahead: closer than a word, so that the last word
    script.Match(41, 32762);    // would read bytes already replaced
    script.Literals(RandomBytes(300, 9));
    for (unsigned ahead = 0; ahead <= 24; ++ahead)
        for (unsigned length = 3; length <= 17; ++length) {
            script.Match(length, 32768 - ahead);
            script.Literals(RandomBytes(1, ahead * 32 + length));
        }
    // 20 bytes into the next round, then sources starting 40 to 1 bytes before the window's end.
    script.Literals(RandomBytes(32768 + 20 - script.Expected.size() % 32768, 10));
    for (unsigned before = 40; before >= 1; --before) {
        unsigned at = (unsigned)(script.Expected.size() % 32768);
        script.Match(3 + before % 14, at + before);   // the source: window position 32768 - before
    }
    script.Literals(RandomBytes(300, 11));
    Bytes stream = script.Finish();
    EXPECT_EQ(script.Expected, Decode(stream, script.Expected));
}

// The window's end approached at every phase. Each entry starts with one literal and a match
// of 3 to 258 bytes, then repeats three literals and a 258-byte match (the most one step of the
// fast gear stores) past the window's end, so that across the entries a step ends at
// each of the last few hundred window positions, exactly at the end among them, and the next
// symbols go the careful way. The matches copy a repeated byte, by words from behind, and, in
// the second round, from ahead of the output over the window's end. One archive, one test run:
// every entry's CRC is checked.
TEST_F(InflateOutputTest, EveryPhaseOfTheWindowsEnd)
{
    ZipArchive archive;
    uint32_t seed = 1;
    for (unsigned distance : {1u, 300u, 32760u}) {
        for (unsigned firstMatch = 3; firstMatch <= 258; ++firstMatch) {
            FixedScript script;
            script.Literals(RandomBytes(1, seed++));
            script.Match(firstMatch, 1);
            // Sources ahead of the output need a second window round.
            size_t end = (distance > 32768 - 300 ? 2 : 1) * 32768 + 600;
            while (script.Expected.size() < end) {
                script.Literals(RandomBytes(3, seed++));
                // Before the window holds the distance, the match reaches back to the start.
                script.Match(258, std::min<unsigned>(distance, (unsigned)script.Expected.size()));
            }
            script.Literals(RandomBytes(40, seed++));   // the fast gear's input bound lies behind
            ZipEntry entry = Entry(std::to_string(distance) + "-" + std::to_string(firstMatch),
                                   Bytes(), 8);
            entry.Compressed = script.Finish();
            entry.Data = script.Expected;
            archive.Entries.push_back(entry);
        }
    }
    WriteArchive(archive);
    ExtractRequest request = NewRequest(true);
    ExtractArchive(&request);
    EXPECT_EQ(0, request.Result);
    EXPECT_TRUE(Boxes().empty()) << (Boxes().empty() ? "" : Boxes()[0].Text);
}

// A distance reaching before the entry's first byte copies what the window holds: zeros in a
// fresh request, no error.
TEST_F(InflateOutputTest, DistanceBeforeTheFirstByteCopiesTheWindow)
{
    BitWriter w;
    FixedHeader(w);
    PutFixedLiteral(w, 'a');
    PutFixedMatch(w, 4, 3);
    PutFixedLiteral(w, 256);
    Bytes expected = {'a', 0, 0, 'a', 0};
    EXPECT_EQ(expected, Decode(w.Finish(), expected));
}

TEST_F(InflateOutputTest, CodeSixteenFirstRepeatsZero)
{
    DynamicWriter d;
    d.Preamble(true, 258, 1);
    d.LengthSymbol(16, 0);               // three zeros (0 to 2): no length read yet
    d.LengthSymbol(18, 83);              // 94 zeros: 3 to 96
    d.LengthSymbol(2);                   // 'a'
    d.LengthSymbol(2);                   // 'b'
    d.LengthSymbol(18, 127);             // 138 zeros: 99 to 236
    d.LengthSymbol(17, 7);               // 10 zeros: 237 to 246
    for (unsigned symbol = 247; symbol < 256; ++symbol)
        d.LengthSymbol(0);
    d.LengthSymbol(2);                   // end of block
    d.LengthSymbol(2);                   // 257
    d.LengthSymbol(0);                   // the one distance length
    d.LiteralLengths = SmallLiteralCode();
    d.LiteralCodes = CanonicalCodes(d.LiteralLengths);
    d.Literal('a');
    d.Literal('b');
    d.Literal(256);
    Bytes expected = {'a', 'b'};
    EXPECT_EQ(expected, Decode(d.Bits.Finish(), expected));
}

// With CRC reports on, a stream that fails to decode is damage even when the CRCs agree.
TEST_F(InflateOutputTest, UndecodableStreamWithMatchingCrcIsReported)
{
    BitWriter w;
    FixedHeader(w);
    PutFixedLiteral(w, 'a');
    PutFixedLiteral(w, 286);
    ZipArchive archive;
    archive.Entries.push_back(Entry("x", {}, 8));   // CRC 0: what a decode that handed nothing on gives
    archive.Entries[0].Compressed = w.Finish();
    WriteArchive(archive);
    ExtractRequest request = NewRequest();
    ExtractArchive(&request);
    EXPECT_EQ(2, request.Result);
    EXPECT_EQ("ZIP damaged: file " + ShownPath("x") + ": Bad CRC 00000000 (should be 00000000)",
              OnlyBoxText());
    ClearRecords();
    request = NewRequest();
    request.ReportCrcErrors = 0;
    ExtractArchive(&request);
    EXPECT_EQ(0, request.Result);
    EXPECT_TRUE(Boxes().empty());
}

#ifdef TQ_TESTS_HAVE_ZLIB
static Bytes ZlibDeflate(const Bytes& data, int level, int strategy)
{
    z_stream stream = {};
    EXPECT_EQ(Z_OK, deflateInit2(&stream, level, Z_DEFLATED, -15, 8, strategy));
    Bytes out(deflateBound(&stream, data.size()) + 16);
    stream.next_in = (Bytef*)data.data();
    stream.avail_in = (uInt)data.size();
    stream.next_out = out.data();
    stream.avail_out = (uInt)out.size();
    EXPECT_EQ(Z_STREAM_END, deflate(&stream, Z_FINISH));
    out.resize(stream.total_out);
    deflateEnd(&stream);
    return out;
}

// zlib as the control: every level and strategy over random sizes and kinds of data, all in
// one archive so that entries also inherit each other's window.
TEST_F(InflateOutputTest, ZlibStreamsOfEveryLevel)
{
    srand(TestSeed());
    ZipArchive archive;
    const int strategies[] = {Z_DEFAULT_STRATEGY, Z_FILTERED, Z_HUFFMAN_ONLY, Z_RLE, Z_FIXED};
    int index = 0;
    for (int level = 0; level <= 9; ++level)
        for (int strategy : strategies) {
            size_t size = (size_t)(rand() % 200000);
            Bytes data = rand() % 3 == 0 ? RandomBytes(size, (uint32_t)rand())
                                         : TextBytes(size, (uint32_t)rand());
            ZipEntry entry;
            entry.Name = "z" + std::to_string(index++);
            entry.Method = 8;
            entry.Data = data;
            entry.Compressed = ZlibDeflate(data, level, strategy);
            archive.Entries.push_back(entry);
        }
    WriteArchive(archive);
    ExtractRequest request = NewRequest();
    ExtractArchive(&request);
    EXPECT_EQ(0, request.Result);
    EXPECT_TRUE(Boxes().empty()) << (Boxes().empty() ? "" : Boxes()[0].Text);
    for (const ZipEntry& entry : archive.Entries)
        EXPECT_EQ(entry.Data, OutputFile(entry.Name)) << entry.Name;
}
#endif
