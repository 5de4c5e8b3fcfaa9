// Deflate decoder (RFC 1951). Input comes one byte at a time from the entry's data through
// ReadCompressedByte (or several at once straight from the block read last); output goes into
// the 32768-byte InflateWindow, which is handed on whole and, at the end, as far as it is filled.
// Huffman codes are decoded through multi-level lookup tables built for each block: a first
// level of 2^L entries, and sub-tables linked from it for the longer codes.
#include "unzip/decode.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

constexpr unsigned MaxCodeLength = 16;       // lengths run 0 to 16 in the table builder
constexpr unsigned MaxLiteralCodes = 286;    // RFC 1951 3.2.7: HLIT + 257
constexpr unsigned MaxDistanceCodes = 30;    // HDIST + 1, at most 30 here
constexpr unsigned FixedLiteralCodes = 288;  // RFC 1951 3.2.6
constexpr unsigned FixedDistanceCodes = 30;
constexpr unsigned CodeLengthCodes = 19;
constexpr unsigned SimpleLiteralCount = 257; // literals 0 to 255 and end of block
constexpr unsigned LiteralLookupBits = 9;
constexpr unsigned DistanceLookupBits = 6;
constexpr unsigned CodeLengthLookupBits = 7;
constexpr unsigned FixedLiteralLookupBits = 7;
constexpr unsigned FixedDistanceLookupBits = 5;
constexpr unsigned WindowMask = WindowSize - 1;
// A lookup at the end of a valid stream reads ahead at most two bytes that the data does not
// have; more than this many means the decoder is running on damaged data.
constexpr unsigned MaxOverrunBytes = 4;

// Dynamic block header, RFC 1951 3.2.7: HLIT (5 bits) + 257, HDIST (5) + 1, HCLEN (4) + 4,
// then 3 bits per code-length code length. Code-length symbols 16, 17 and 18 repeat.
constexpr unsigned DynamicCountsBits = 14;
constexpr unsigned CodeLengthFieldBits = 3;
constexpr unsigned RepeatPrevious = 16;    // 3 to 6 times, 2 extra bits
constexpr unsigned RepeatZeroShort = 17;   // 3 to 10 zeros, 3 extra bits
constexpr unsigned StoredLengthBits = 16;  // LEN and NLEN, RFC 1951 3.2.4
constexpr unsigned BlockHeaderBits = 3;    // BFINAL and BTYPE, RFC 1951 3.2.3

// Operations of a TableEntry.
constexpr uint8_t EndOfBlock = 15;
constexpr uint8_t Literal = 16;   // also a code-length symbol in the code-length table
constexpr uint8_t InvalidCode = 99;

struct TableEntry {
    uint8_t Operation;  // 0-13 extra bits of a base, 15 end of block, 16 literal, 16+n link, 99 invalid
    uint8_t Bits;       // bits the entry consumes
    union {
        uint16_t Value;         // literal, symbol, or length or distance base
        TableEntry* SubTable;   // links; in a table's leading entry, the next table of the chain
    };
};

// RFC 1951 3.2.5, for symbols 257 to 287; 286 and 287 are invalid (extra bits 99).
static const uint16_t LengthBases[31] = {
    3, 4, 5, 6, 7, 8, 9, 10, 11, 13, 15, 17, 19, 23, 27, 31,
    35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258, 0, 0};
static const uint16_t LengthExtras[31] = {
    0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2,
    3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0, 99, 99};
static const uint16_t DistanceBases[30] = {
    1, 2, 3, 4, 5, 7, 9, 13, 17, 25, 33, 49, 65, 97, 129, 193,
    257, 385, 513, 769, 1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
static const uint16_t DistanceExtras[30] = {
    0, 0, 0, 0, 1, 1, 2, 2, 3, 3, 4, 4, 5, 5, 6, 6,
    7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
// RFC 1951 3.2.7: the order in which code-length code lengths are sent.
static const uint8_t CodeLengthOrder[CodeLengthCodes] = {
    16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};

// Bit state between blocks; blocks work on local copies (BitState) held in registers.
static uint64_t BitBuffer;
static unsigned BitCount;
static unsigned WindowPos;
static unsigned short LastInputByte;   // what ReadCompressedByte leaves behind at the end
static unsigned OverrunBytes;          // bytes counted in after the entry's data ended

// Tables of the block being decoded, kept here so that an abort from inside
// ReadCompressedByte (a read error or a cancel) can release them.
static TableEntry* CodeLengthTable;
static TableEntry* LiteralTable;
static TableEntry* DistanceTable;

struct BitState {
    uint64_t Buffer;   // bits above Count are zero
    unsigned Count;
};

static inline uint32_t Mask(unsigned n)
{
    return (1u << n) - 1;
}

// One unaligned load on little-endian machines (every target we build for); the byte loop
// elsewhere, which compilers do not fuse into a load.
static inline uint64_t LoadLittle64(const unsigned char* p)
{
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    uint64_t word;
    memcpy(&word, p, sizeof word);
    return word;
#else
    uint64_t word = 0;
    for (int i = 7; i >= 0; --i)
        word = word << 8 | p[i];
    return word;
#endif
}

// One byte at a time; at the end of the data the source gives no byte and the previous one
// counts again, so that lookahead at the end of a valid stream stays harmless.
static bool FetchBytes(BitState& state, unsigned n)
{
    while (state.Count < n) {
        unsigned short byte = LastInputByte;
        if (ReadCompressedByte(&byte) == 0 && ++OverrunBytes > MaxOverrunBytes)
            return false;
        LastInputByte = byte;
        state.Buffer |= (uint64_t)byte << state.Count;
        state.Count += 8;
    }
    return true;
}

// Makes sure of n bits (n <= 32). While the block read last holds enough bytes they are taken
// several at a time; the bytes are the same that ReadCompressedByte would deliver next.
static inline bool NeedBits(BitState& state, unsigned n)
{
    if (state.Count >= n)
        return true;
    if (InputCount >= 8) {
        unsigned take = (63 - state.Count) >> 3;
        uint64_t word = LoadLittle64(InputNext) & ((uint64_t(1) << (take * 8)) - 1);
        state.Buffer |= word << state.Count;
        state.Count += take * 8;
        InputNext += take;
        InputCount -= take;
        LastInputByte = InputNext[-1];
        return true;
    }
    return FetchBytes(state, n);
}

static inline unsigned TakeBits(BitState& state, unsigned n)
{
    unsigned value = (unsigned)state.Buffer & Mask(n);
    state.Buffer >>= n;
    state.Count -= n;
    return value;
}

static void FreeDecodeTable(TableEntry* table)
{
    while (table != nullptr) {
        TableEntry* block = table - 1;
        TableEntry* next = block->SubTable;
        free(block);
        table = next;
    }
}

static void ReleaseTable(TableEntry*& table)
{
    FreeDecodeTable(table);
    table = nullptr;
}

void ReleaseDecodeTables(void)
{
    ReleaseTable(CodeLengthTable);
    ReleaseTable(LiteralTable);
    ReleaseTable(DistanceTable);
}

// Canonical Huffman codes (RFC 1951 3.2.2) into lookup tables indexed by the code's bits in the
// order they arrive, first bit lowest. Codes are generated by increasing length, the current
// code kept bit-reversed; a code longer than the open levels opens a sub-table sized for the
// codes that will share its prefix. An incomplete code is completed with invalid filler codes.
// Returns 0 (complete, a single code of length 1, or no codes), 1 (incomplete; the table is
// handed back), 2 (over-subscribed; nothing allocated) or 3 (out of memory; nothing kept).
static int BuildDecodeTable(const unsigned* lengths, unsigned count, unsigned simpleCount,
                            const uint16_t* bases, const uint16_t* extras,
                            TableEntry** table, unsigned* width)
{
    unsigned lengthCount[MaxCodeLength + 1] = {};
    for (unsigned i = 0; i < count; ++i)
        ++lengthCount[lengths[i]];
    *table = nullptr;
    if (lengthCount[0] == count) {
        *width = 0;
        return 0;
    }
    unsigned shortest = 1;
    while (lengthCount[shortest] == 0)
        ++shortest;
    unsigned longest = MaxCodeLength;
    while (lengthCount[longest] == 0)
        --longest;
    unsigned lookup = *width;
    if (lookup < shortest)
        lookup = shortest;
    if (lookup > longest)
        lookup = longest;
    *width = lookup;

    int freeCodes = 1 << shortest;
    for (unsigned k = shortest; k < longest; ++k, freeCodes <<= 1)
        if ((freeCodes -= (int)lengthCount[k]) < 0)
            return 2;
    if ((freeCodes -= (int)lengthCount[longest]) < 0)
        return 2;
    unsigned fillers = (unsigned)freeCodes;
    lengthCount[longest] += fillers;

    unsigned sorted[FixedLiteralCodes];
    unsigned next[MaxCodeLength + 2];
    next[1] = 0;
    for (unsigned k = 1; k <= MaxCodeLength; ++k)
        next[k + 1] = next[k] + lengthCount[k];
    for (unsigned i = 0; i < count; ++i)
        if (lengths[i] != 0)
            sorted[next[lengths[i]]++] = i;
    unsigned symbolTotal = count - lengthCount[0];

    TableEntry* levelTable[MaxCodeLength + 1];
    unsigned levelCode[MaxCodeLength + 1];
    levelCode[0] = 0;
    int level = -1;
    int start = -(int)lookup;         // first bit of the deepest open level
    unsigned code = 0;                // bit-reversed
    unsigned placed = 0;
    TableEntry** chainTail = table;
    TableEntry* current = nullptr;    // the table allocated last: the deepest level's
    unsigned currentSize = 0;

    for (unsigned k = shortest; k <= longest; ++k) {
        for (unsigned left = lengthCount[k]; left != 0; --left) {
            while ((int)k > start + (int)lookup) {
                ++level;
                start += (int)lookup;
                unsigned limit = longest - (unsigned)start;
                if (limit > lookup)
                    limit = lookup;
                // A level that another level will follow is a full L-bit table.
                unsigned j = k - (unsigned)start;
                if (j > limit)
                    j = limit;
                unsigned spare = 1u << j;
                if (spare > left && j < limit) {
                    // Widen the table while the longer codes sharing its prefix would fill it.
                    spare -= left;
                    unsigned longer = k;
                    while (++j < limit) {
                        spare <<= 1;
                        if (spare <= lengthCount[++longer])
                            break;
                        spare -= lengthCount[longer];
                    }
                }
                unsigned size = 1u << j;
                TableEntry* block = (TableEntry*)malloc((size + 1) * sizeof(TableEntry));
                if (block == nullptr) {
                    FreeDecodeTable(*table);
                    *table = nullptr;
                    fputs("\n*** inflate out of memory *** ", stderr);
                    return 3;
                }
                block[0].Operation = 0;
                block[0].Bits = 0;
                block[0].SubTable = nullptr;
                *chainTail = block + 1;
                chainTail = &block[0].SubTable;
                current = block + 1;
                currentSize = size;
                levelTable[level] = current;
                if (level > 0) {
                    levelCode[level] = code;
                    TableEntry link;
                    link.Operation = (uint8_t)(Literal + j);
                    link.Bits = (uint8_t)lookup;
                    link.SubTable = current;
                    levelTable[level - 1][code >> (start - (int)lookup)] = link;
                }
            }

            TableEntry entry;
            entry.Bits = (uint8_t)(k - (unsigned)start);
            if (placed >= symbolTotal) {
                entry.Operation = InvalidCode;   // filler of an incomplete code
                entry.Value = 0;                 // reads as code length 0
            } else {
                unsigned symbol = sorted[placed++];
                if (symbol < simpleCount) {
                    entry.Operation = symbol < 256 ? Literal : EndOfBlock;
                    entry.Value = (uint16_t)symbol;
                } else {
                    entry.Operation = (uint8_t)extras[symbol - simpleCount];
                    entry.Value = bases[symbol - simpleCount];
                }
            }
            unsigned step = 1u << (k - (unsigned)start);
            for (unsigned index = code >> start; index < currentSize; index += step)
                current[index] = entry;

            unsigned bit = 1u << (k - 1);
            while (code & bit) {
                code ^= bit;
                bit >>= 1;
            }
            code ^= bit;
            while ((code & Mask((unsigned)start)) != levelCode[level]) {
                --level;
                start -= (int)lookup;
            }
        }
    }
    return fillers != 0 && longest != 1 ? 1 : 0;
}

// Finds the entry for the next code, following links; null for an invalid code.
static inline const TableEntry* DecodeEntry(BitState& state, const TableEntry* table,
                                            unsigned width)
{
    if (!NeedBits(state, width))
        return nullptr;
    const TableEntry* entry = table + ((unsigned)state.Buffer & Mask(width));
    while (entry->Operation > Literal) {
        if (entry->Operation == InvalidCode)
            return nullptr;
        unsigned n = entry->Operation - Literal;
        TakeBits(state, entry->Bits);
        if (!NeedBits(state, n))
            return nullptr;
        entry = entry->SubTable + ((unsigned)state.Buffer & Mask(n));
    }
    TakeBits(state, entry->Bits);
    return entry;
}

// Copies length bytes from distance back in the window, in pieces that end at the window's end.
// Within a piece a source less than the piece's size behind the destination repeats the bytes
// being written, which the forward copy produces.
static inline unsigned CopyMatch(unsigned pos, unsigned source, unsigned length)
{
    unsigned char* window = InflateWindow;
    while (length != 0) {
        unsigned piece = WindowSize - (source > pos ? source : pos);
        if (piece > length)
            piece = length;
        unsigned char* to = window + pos;
        const unsigned char* from = window + source;
        if (source > pos) {
            memmove(to, from, piece);
        } else if (pos - source >= piece) {
            memcpy(to, from, piece);
        } else if (pos - source >= 8) {
            unsigned i = 0;
            for (; i + 8 <= piece; i += 8)
                memcpy(to + i, from + i, 8);
            for (; i < piece; ++i)
                to[i] = from[i];
        } else {
            for (unsigned i = 0; i < piece; ++i)
                to[i] = from[i];
        }
        pos += piece;
        source = (source + piece) & WindowMask;
        length -= piece;
        if (pos == WindowSize) {
            WriteOutputBytes(WindowSize);
            pos = 0;
        }
    }
    return pos;
}

// Literal/length and distance codes until the end of the block (RFC 1951 3.2.5).
static int DecodeSymbols(const TableEntry* literals, const TableEntry* distances,
                         unsigned literalBits, unsigned distanceBits)
{
    if (literals == nullptr)
        return 1;   // no literal/length code at all: not even the end of the block is there
    BitState state = {BitBuffer, BitCount};
    unsigned pos = WindowPos;
    unsigned char* window = InflateWindow;
    for (;;) {
        const TableEntry* entry = DecodeEntry(state, literals, literalBits);
        if (entry == nullptr)
            return 1;
        if (entry->Operation == Literal) {
            window[pos++] = (unsigned char)entry->Value;
            if (pos == WindowSize) {
                WriteOutputBytes(WindowSize);
                pos = 0;
            }
            continue;
        }
        if (entry->Operation == EndOfBlock)
            break;
        unsigned extra = entry->Operation;
        if (!NeedBits(state, extra))
            return 1;
        unsigned length = entry->Value + TakeBits(state, extra);

        if (distances == nullptr)
            return 1;
        entry = DecodeEntry(state, distances, distanceBits);
        if (entry == nullptr)
            return 1;
        extra = entry->Operation;
        if (!NeedBits(state, extra))
            return 1;
        unsigned distance = entry->Value + TakeBits(state, extra);
        pos = CopyMatch(pos, (pos - distance) & WindowMask, length);
    }
    BitBuffer = state.Buffer;
    BitCount = state.Count;
    WindowPos = pos;
    return 0;
}

// Decodes the block's symbols through the tables just built and releases them; 1 for damage.
static int DecodeWithBlockTables(unsigned literalBits, unsigned distanceBits)
{
    int result = DecodeSymbols(LiteralTable, DistanceTable, literalBits, distanceBits) != 0 ? 1 : 0;
    ReleaseTable(LiteralTable);
    ReleaseTable(DistanceTable);
    return result;
}

// RFC 1951 3.2.4: LEN and NLEN on a byte boundary, then LEN bytes as they stand.
static int CopyStoredBlock(void)
{
    BitState state = {BitBuffer, BitCount};
    unsigned pos = WindowPos;
    TakeBits(state, state.Count & 7);
    if (!NeedBits(state, StoredLengthBits))
        return 1;
    unsigned length = TakeBits(state, StoredLengthBits);
    if (!NeedBits(state, StoredLengthBits))
        return 1;
    if (length != (~(unsigned)state.Buffer & Mask(StoredLengthBits)))
        return 1;
    TakeBits(state, StoredLengthBits);
    while (length != 0) {
        if (state.Count == 0 && InputCount != 0) {
            unsigned piece = length;
            if (piece > InputCount)
                piece = InputCount;
            if (piece > WindowSize - pos)
                piece = WindowSize - pos;
            memcpy(InflateWindow + pos, InputNext, piece);
            InputNext += piece;
            InputCount -= piece;
            LastInputByte = InputNext[-1];
            pos += piece;
            length -= piece;
        } else {
            if (!NeedBits(state, 8))
                return 1;
            InflateWindow[pos++] = (unsigned char)TakeBits(state, 8);
            --length;
        }
        if (pos == WindowSize) {
            WriteOutputBytes(WindowSize);
            pos = 0;
        }
    }
    BitBuffer = state.Buffer;
    BitCount = state.Count;
    WindowPos = pos;
    return 0;
}

// RFC 1951 3.2.6: the fixed codes, built anew for every fixed block.
static int DecodeFixedBlock(void)
{
    unsigned lengths[FixedLiteralCodes];
    unsigned symbol = 0;
    for (; symbol < 144; ++symbol)
        lengths[symbol] = 8;
    for (; symbol < 256; ++symbol)
        lengths[symbol] = 9;
    for (; symbol < 280; ++symbol)
        lengths[symbol] = 7;
    for (; symbol < FixedLiteralCodes; ++symbol)
        lengths[symbol] = 8;
    unsigned literalBits = FixedLiteralLookupBits;
    int result = BuildDecodeTable(lengths, FixedLiteralCodes, SimpleLiteralCount, LengthBases,
                                  LengthExtras, &LiteralTable, &literalBits);
    if (result != 0) {
        ReleaseTable(LiteralTable);
        return result;
    }
    for (symbol = 0; symbol < FixedDistanceCodes; ++symbol)
        lengths[symbol] = 5;
    unsigned distanceBits = FixedDistanceLookupBits;
    result = BuildDecodeTable(lengths, FixedDistanceCodes, 0, DistanceBases, DistanceExtras,
                              &DistanceTable, &distanceBits);
    if (result > 1) {   // the fixed distance code is incomplete by design: 1 is expected
        ReleaseTable(LiteralTable);
        return result;
    }
    return DecodeWithBlockTables(literalBits, distanceBits);
}

// RFC 1951 3.2.7: code lengths sent through a code-length code, then the block's symbols.
static int DecodeDynamicBlock(void)
{
    BitState state = {BitBuffer, BitCount};
    if (!NeedBits(state, DynamicCountsBits))
        return 1;
    unsigned literalCount = 257 + TakeBits(state, 5);
    unsigned distanceCount = 1 + TakeBits(state, 5);
    unsigned codeLengthCount = 4 + TakeBits(state, 4);
    if (literalCount > MaxLiteralCodes || distanceCount > MaxDistanceCodes)
        return 1;

    unsigned codeLengths[CodeLengthCodes] = {};
    for (unsigned i = 0; i < codeLengthCount; ++i) {
        if (!NeedBits(state, CodeLengthFieldBits))
            return 1;
        codeLengths[CodeLengthOrder[i]] = TakeBits(state, CodeLengthFieldBits);
    }
    unsigned codeLengthBits = CodeLengthLookupBits;
    int result = BuildDecodeTable(codeLengths, CodeLengthCodes, CodeLengthCodes, nullptr, nullptr,
                                  &CodeLengthTable, &codeLengthBits);
    if (result == 1)
        ReleaseTable(CodeLengthTable);
    if (result != 0)
        return result;
    if (CodeLengthTable == nullptr)
        return 1;   // no code-length code: no lengths can follow

    unsigned lengths[MaxLiteralCodes + MaxDistanceCodes];
    unsigned total = literalCount + distanceCount;
    unsigned previous = 0;
    for (unsigned i = 0; i < total;) {
        if (!NeedBits(state, codeLengthBits)) {
            ReleaseTable(CodeLengthTable);
            return 1;
        }
        const TableEntry& entry = CodeLengthTable[(unsigned)state.Buffer & Mask(codeLengthBits)];
        TakeBits(state, entry.Bits);
        unsigned symbol = entry.Value;
        if (symbol < RepeatPrevious) {
            lengths[i++] = previous = symbol;
            continue;
        }
        unsigned repeat;
        unsigned value = 0;
        unsigned extraBits = symbol == RepeatPrevious ? 2 : symbol == RepeatZeroShort ? 3 : 7;
        if (!NeedBits(state, extraBits)) {
            ReleaseTable(CodeLengthTable);
            return 1;
        }
        if (symbol == RepeatPrevious) {
            repeat = 3 + TakeBits(state, extraBits);
            value = previous;
        } else if (symbol == RepeatZeroShort) {
            repeat = 3 + TakeBits(state, extraBits);
            previous = 0;
        } else {
            repeat = 11 + TakeBits(state, extraBits);
            previous = 0;
        }
        if (i + repeat > total) {
            ReleaseTable(CodeLengthTable);
            return 1;
        }
        while (repeat-- != 0)
            lengths[i++] = value;
    }
    ReleaseTable(CodeLengthTable);
    BitBuffer = state.Buffer;
    BitCount = state.Count;

    unsigned literalBits = LiteralLookupBits;
    result = BuildDecodeTable(lengths, literalCount, SimpleLiteralCount, LengthBases, LengthExtras,
                              &LiteralTable, &literalBits);
    if (result == 1)
        ReleaseTable(LiteralTable);
    if (result != 0)
        return result;
    unsigned distanceBits = DistanceLookupBits;
    result = BuildDecodeTable(lengths + literalCount, distanceCount, 0, DistanceBases,
                              DistanceExtras, &DistanceTable, &distanceBits);
    if (result == 1)
        ReleaseTable(DistanceTable);
    if (result != 0) {
        ReleaseTable(LiteralTable);
        return result;
    }
    return DecodeWithBlockTables(literalBits, distanceBits);
}

static int DecodeBlock(int* last)
{
    BitState state = {BitBuffer, BitCount};
    if (!NeedBits(state, BlockHeaderBits))
        return 1;
    *last = (int)TakeBits(state, 1);
    unsigned type = TakeBits(state, 2);
    BitBuffer = state.Buffer;
    BitCount = state.Count;
    switch (type) {
    case 0:
        return CopyStoredBlock();
    case 1:
        return DecodeFixedBlock();
    case 2:
        return DecodeDynamicBlock();
    default:
        return 2;
    }
}

int Inflate(void)
{
    WindowPos = 0;
    BitBuffer = 0;
    BitCount = 0;
    LastInputByte = 0;
    OverrunBytes = 0;
    int last = 0;
    do {
        int result = DecodeBlock(&last);
        if (result != 0)
            return result;
    } while (!last);
    WriteOutputBytes(WindowPos);
    // Bits past the end of the data may be looked at but never used: a stream that used them
    // was cut short.
    if (OverrunBytes * 8 > BitCount)
        return 1;
    return 0;
}
