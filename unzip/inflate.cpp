// Deflate decoder (RFC 1951). Input comes from the entry's data through ReadCompressedByte, or
// several bytes at once straight from the block read last; output goes into the 32768-byte
// InflateWindow, which is handed on whole and, at the end, as far as it is filled. Huffman codes
// are decoded through lookup tables built for each block (huffman.cpp).
//
// Symbols are decoded by one loop in two gears. While the input block holds FastInputBytes more
// and the window has room for FastWindowRoom more, bounds are checked once per iteration: the
// bit buffer is topped up a word at a time without a test, up to three literals are stored per
// top-up, short matches are copied without a branch on their length and longer ones by words.
// Near the end of the input block, of the window or of the data, one symbol at a time goes the
// careful way, where every bit is asked for.
#include "unzip/decode.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

constexpr unsigned MaxLiteralCodes = 286;    // RFC 1951 3.2.7: HLIT + 257
constexpr unsigned MaxDistanceCodes = 30;    // HDIST + 1, at most 30 here
constexpr unsigned FixedLiteralCodes = 288;  // RFC 1951 3.2.6
constexpr unsigned FixedDistanceCodes = 30;
constexpr unsigned CodeLengthCodes = 19;
constexpr unsigned SimpleLiteralCount = 257; // literals 0 to 255 and end of block
// First-level widths: a literal/length code of up to 11 bits and a distance code of up to 8
// take one lookup (most codes of real streams); tables of 2048 and 256 entries of 4 bytes stay
// in the first-level data cache. Fixed blocks use the same widths, so that the fast gear's masks
// are constants.
constexpr unsigned LiteralLookupBits = 11;
constexpr unsigned DistanceLookupBits = 8;
constexpr unsigned CodeLengthLookupBits = 7;
constexpr unsigned WindowMask = WindowSize - 1;
// A lookup at the end of a valid stream reads ahead at most two bytes that the data does not
// have; more than this many means the decoder is running on damaged data.
constexpr unsigned MaxOverrunBytes = 4;

// The fast gear's bounds. A top-up loads 8 bytes and keeps at most 7; the gear tops up once
// before its first iteration and at most twice in each. An iteration stores at most three
// literals and a match of 258 bytes, and must leave the position inside the window: a step that
// filled it to the end would need the write-out that only the careful way does, so one byte of
// room is kept over. The fast gear never writes the window out.
constexpr unsigned MaxMatchLength = 258;
constexpr unsigned MaxExtraBits = 13;   // of a length or distance base; operations above are others
constexpr unsigned MaxFastStep = MaxMatchLength + 3;
constexpr unsigned FastInputBytes = 24;
constexpr unsigned FastWindowRoom = MaxFastStep + 1;
// After a top-up at least 56 bits are held: enough for a literal/length code with its extra
// bits (15 + 5) and a distance code with its extra bits (15 + 13), or for four lookups of
// literals of up to LiteralLookupBits, the last of which is not taken.
constexpr unsigned TopUpBits = 56;
static_assert(4 * LiteralLookupBits <= TopUpBits && 15 + 5 + 15 + 13 <= TopUpBits,
              "one top-up must cover an iteration's bits");

// Dynamic block header, RFC 1951 3.2.7: HLIT (5 bits) + 257, HDIST (5) + 1, HCLEN (4) + 4,
// then 3 bits per code-length code length. Code-length symbols 16, 17 and 18 repeat.
constexpr unsigned DynamicCountsBits = 14;
constexpr unsigned CodeLengthFieldBits = 3;
constexpr unsigned RepeatPrevious = 16;    // 3 to 6 times, 2 extra bits
constexpr unsigned RepeatZeroShort = 17;   // 3 to 10 zeros, 3 extra bits
constexpr unsigned StoredLengthBits = 16;  // LEN and NLEN, RFC 1951 3.2.4
constexpr unsigned BlockHeaderBits = 3;    // BFINAL and BTYPE, RFC 1951 3.2.3

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
// The fixed codes' tables, built at a run's first fixed block and kept until the run ends: an
// archive of small entries has a fixed block in nearly every entry, and a stream flushed often
// one every few bytes.
static TableEntry* FixedLiteralTable;
static TableEntry* FixedDistanceTable;
static unsigned FixedLiteralBits;
static unsigned FixedDistanceBits;

struct BitState {
    uint64_t Buffer;   // bits above Count are zero (in the fast loop: the bits that follow)
    unsigned Count;
};

static constexpr uint32_t Mask(unsigned n)
{
    return (1u << n) - 1;
}

// Unaligned little-endian loads and stores: one instruction each on the machines we build for.
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

static inline void CopyWord(unsigned char* to, const unsigned char* from)
{
    uint64_t word;
    memcpy(&word, from, sizeof word);
    memcpy(to, &word, sizeof word);
}

static inline void CopyHalfWords(unsigned char* to, const unsigned char* from, unsigned length)
{
    uint32_t head, tail;
    memcpy(&head, from, sizeof head);
    memcpy(&tail, from + length - 4, sizeof tail);
    memcpy(to, &head, sizeof head);
    memcpy(to + length - 4, &tail, sizeof tail);
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

static void ReleaseTable(TableEntry*& table)
{
    free(table);
    table = nullptr;
}

void ReleaseDecodeTables(void)
{
    ReleaseTable(CodeLengthTable);
    ReleaseTable(LiteralTable);
    ReleaseTable(DistanceTable);
    ReleaseTable(FixedLiteralTable);
    ReleaseTable(FixedDistanceTable);
}

// Finds the entry for the next code, following links, without taking its own bits; null for
// an invalid code.
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
        entry = table + entry->Value + ((unsigned)state.Buffer & Mask(n));
    }
    return entry;
}

// Takes a base entry's code and extra bits; the extra bits follow the code's, lowest first.
static inline bool TakeBase(BitState& state, const TableEntry* entry, unsigned* value)
{
    if (!NeedBits(state, entry->Bits))
        return false;
    *value = entry->Value + (TakeBits(state, entry->Bits) >> (entry->Bits - entry->Operation));
    return true;
}

// Copies by words a match whose source lies at least 8 bytes before or after its destination,
// writing exactly length bytes: the window beyond the match still holds bytes that later
// distances may reach. The last word may overlap the one before; it repeats bytes already right.
static inline void CopyWords(unsigned char* to, const unsigned char* from, unsigned length)
{
    if (length >= 8) {
        unsigned i = 0;
        do {
            CopyWord(to + i, from + i);
            i += 8;
        } while (i + 8 <= length);
        if (i < length)
            CopyWord(to + length - 8, from + length - 8);
    } else if (length >= 4) {
        CopyHalfWords(to, from, length);
    } else {
        for (unsigned i = 0; i < length; ++i)
            to[i] = from[i];
    }
}

// A match of up to ShortMatch bytes whose source lies at least 8 bytes before or after its
// destination, and inside the window, is copied without a branch on its length: the 16 bytes at
// the destination are loaded a machine word at a time and stored back with the match's bytes in
// place of their first length bytes, so the bytes behind the match keep what they hold (bytes
// of the window's previous round that later distances may reach). Each source word is loaded
// after the words before it are stored: a source 8 to 15 bytes behind reads bytes just laid
// down, one ahead reads bytes that no store of the match reaches.
constexpr unsigned ShortMatch = 16;
#if UINTPTR_MAX > 0xFFFFFFFFu
typedef uint64_t MachineWord;
#else
typedef uint32_t MachineWord;
#endif
constexpr unsigned WordBytes = sizeof(MachineWord);

// Stores the first n bytes of the word at from (n <= WordBytes) over those at to.
static inline void BlendWord(unsigned char* to, const unsigned char* from, unsigned n)
{
    MachineWord mask = (MachineWord(1) << (4 * n) << (4 * n)) - 1;
    MachineWord word, kept;
    memcpy(&word, from, sizeof word);
    memcpy(&kept, to, sizeof kept);
    word = kept ^ ((word ^ kept) & mask);
    memcpy(to, &word, sizeof word);
}

static inline unsigned TakeWord(unsigned& left)
{
    unsigned n = left < WordBytes ? left : WordBytes;
    left -= n;
    return n;
}

static inline void CopyShort(unsigned char* to, const unsigned char* from, unsigned length)
{
    static_assert(ShortMatch == 16 && (WordBytes == 8 || WordBytes == 4), "two or four words");
    unsigned left = length;
    BlendWord(to, from, TakeWord(left));
    BlendWord(to + WordBytes, from + WordBytes, TakeWord(left));
    if constexpr (WordBytes == 4) {
        BlendWord(to + 8, from + 8, TakeWord(left));
        BlendWord(to + 12, from + 12, TakeWord(left));
    }
}

// A match closer than 8 bytes repeats a pattern of distance bytes. Its first bytes are copied
// one at a time until the pattern has been laid down for a whole multiple of the distance of at
// least 8; from there words copy from that multiple back.
static inline void CopyPattern(unsigned char* to, unsigned distance, unsigned length)
{
    if (distance == 1) {
        memset(to, to[-1], length);
        return;
    }
    unsigned period = distance;
    while (period < 8)
        period += distance;
    unsigned head = length < period ? length : period;
    const unsigned char* from = to - distance;
    for (unsigned i = 0; i < head; ++i)
        to[i] = from[i];
    if (length > head)
        CopyWords(to + head, to + head - period, length - head);
}

// Copies length bytes from distance back in the window, in pieces that end at the window's end.
// Within a piece a source less than the piece's size behind the destination repeats the bytes
// being written, which the forward copy produces.
static unsigned CopyMatch(unsigned pos, unsigned source, unsigned length)
{
    unsigned char* window = InflateWindow;
    while (length != 0) {
        TQ_INVARIANT(pos < WindowSize && source < WindowSize);
        unsigned piece = WindowSize - (source > pos ? source : pos);
        if (piece > length)
            piece = length;
        unsigned char* to = window + pos;
        const unsigned char* from = window + source;
        if (source > pos)
            memmove(to, from, piece);
        else if (pos - source >= piece)
            memcpy(to, from, piece);
        else if (pos - source >= 8)
            CopyWords(to, from, piece);
        else if (pos != source)
            CopyPattern(to, pos - source, piece);
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

// Tops the bit buffer up to 56 to 63 bits with one load of 8 bytes, keeping whole bytes. The
// bits loaded beyond them are those that follow; the next top-up loads them again in the same
// places, so they may stay in the buffer.
static inline void TopUp(uint64_t& buffer, unsigned& count, const unsigned char*& in)
{
    buffer |= LoadLittle64(in) << (count & 63);
    in += (~count & 63) >> 3;   // (63 - count) / 8
    count |= TopUpBits;
}

// In the fast gear an entry is held as one word in the order of its fields, which spares
// registers: bits in the low byte, then the operation, then the value. On little-endian
// machines that is the entry's own memory, one load.
static inline uint32_t LoadEntry(const TableEntry* entry)
{
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    static_assert(sizeof(TableEntry) == 4, "an entry is one 32-bit word");
    uint32_t word;
    memcpy(&word, entry, sizeof word);
    return word;
#else
    return (uint32_t)entry->Bits | (uint32_t)entry->Operation << 8 | (uint32_t)entry->Value << 16;
#endif
}

static inline unsigned OperationOf(uint32_t entry)
{
    return (entry >> 8) & 0xFF;
}

static inline bool IsLiteral(uint32_t entry)
{
    return (int32_t)entry < 0;
}

// The count of bits held is the low 6 bits of count: the whole entry is taken off, whose bits
// above the low byte only change count's bits above those.
static inline void Consume(uint32_t entry, uint64_t& buffer, unsigned& count)
{
    buffer >>= (uint8_t)entry;
    count -= entry;
}

// Follows links from a first-level entry to the code's own entry; its bits are not taken.
static inline uint32_t FollowLinks(uint32_t entry, const TableEntry* table, uint64_t& buffer,
                                   unsigned& count)
{
    while (OperationOf(entry) - (Literal + 1) < MaxCodeLength) {   // 17 to 32: a link
        Consume(entry, buffer, count);
        entry = LoadEntry(table + (entry >> 16) + ((unsigned)buffer & Mask(OperationOf(entry) - Literal)));
    }
    return entry;
}

// Takes a base entry's bits and gives the base plus its extra bits.
static inline unsigned TakeBaseFast(uint32_t entry, uint64_t& buffer, unsigned& count)
{
    unsigned bits = (unsigned)buffer & Mask((uint8_t)entry);
    Consume(entry, buffer, count);
    return (entry >> 16) + (bits >> ((uint8_t)entry - OperationOf(entry)));
}

// The fast gear of DecodeSymbols: runs while the input block holds FastInputBytes and the window
// has FastWindowRoom, and leaves the position inside the window. Each iteration stores up to
// three literals from one top-up and then, if the next code is not a literal too, a match; the
// entry of the code after a match is looked up before the match is copied, so the copy hides the
// lookup. Literals are told by the sign of their entry's word, lengths and distances by an
// operation of at most MaxExtraBits; everything else (links, the end, invalid codes) is asked
// for after those.
// Returns 0 at the end of the block, 1 for damaged data, -1 when a bound is reached.
static int DecodeFast(const TableEntry* literals, const TableEntry* distances, BitState& state,
                      unsigned& pos)
{
    constexpr unsigned literalMask = Mask(LiteralLookupBits);
    constexpr unsigned distanceMask = Mask(DistanceLookupBits);
    unsigned char* const window = InflateWindow;
    unsigned char* out = window + pos;
    unsigned char* const outLast = window + (WindowSize - FastWindowRoom);
    const unsigned char* in = InputNext;
    const unsigned char* const inLast = InputNext + (InputCount - FastInputBytes);
    uint64_t buffer = state.Buffer;
    unsigned count = state.Count;
    int outcome = -1;
    TopUp(buffer, count, in);
    uint32_t entry = LoadEntry(literals + (buffer & literalMask));
    do {
        if (IsLiteral(entry)) {
            Consume(entry, buffer, count);
            *out++ = (unsigned char)(entry >> 16);
            entry = LoadEntry(literals + (buffer & literalMask));
            if (IsLiteral(entry)) {
                Consume(entry, buffer, count);
                *out++ = (unsigned char)(entry >> 16);
                entry = LoadEntry(literals + (buffer & literalMask));
                if (IsLiteral(entry)) {
                    Consume(entry, buffer, count);
                    *out++ = (unsigned char)(entry >> 16);
                    entry = LoadEntry(literals + (buffer & literalMask));
                }
            }
            TopUp(buffer, count, in);
            if (IsLiteral(entry))
                continue;
        }
        if (OperationOf(entry) > MaxExtraBits) {   // not a length: a link, the end or invalid
            entry = FollowLinks(entry, literals, buffer, count);
            if (IsLiteral(entry)) {
                Consume(entry, buffer, count);
                *out++ = (unsigned char)(entry >> 16);
                TopUp(buffer, count, in);
                entry = LoadEntry(literals + (buffer & literalMask));
                continue;
            }
            if (OperationOf(entry) == EndOfBlock) {
                Consume(entry, buffer, count);
                outcome = 0;
                break;
            }
            if (OperationOf(entry) == InvalidCode) {
                outcome = 1;
                break;
            }
        }
        unsigned length = TakeBaseFast(entry, buffer, count);
        entry = LoadEntry(distances + (buffer & distanceMask));
        if (OperationOf(entry) > MaxExtraBits) {   // not a distance: a link or invalid
            entry = FollowLinks(entry, distances, buffer, count);
            if (OperationOf(entry) == InvalidCode) {
                outcome = 1;
                break;
            }
        }
        unsigned distance = TakeBaseFast(entry, buffer, count);
        TopUp(buffer, count, in);
        entry = LoadEntry(literals + (buffer & literalMask));

        // The destination stays inside the window; the source lies behind it, or ahead of it
        // where the window still holds bytes of its previous round.
        unsigned at = (unsigned)(out - window);
        unsigned source = (at - distance) & WindowMask;
        // Short, from 8 to WindowSize - 8 bytes back (one unsigned comparison), from a source
        // that ends inside the window.
        bool shortCopy = length <= ShortMatch && distance - 8 <= WindowSize - 16 &&
                         source <= WindowSize - ShortMatch;
        if (shortCopy) {
            TQ_INVARIANT(at + ShortMatch <= WindowSize && source + ShortMatch <= WindowSize);
            CopyShort(out, window + source, length);
        } else if (distance <= at) {
            if (distance >= 8)
                CopyWords(out, out - distance, length);
            else
                CopyPattern(out, distance, length);
        } else {
            if (source >= at + 8 && source + length <= WindowSize)
                CopyWords(out, window + source, length);
            else {
                // The bound keeps the copy short of the window's end: it writes nothing out.
                unsigned end = CopyMatch(at, source, length);
                TQ_INVARIANT(end == at + length);
                (void)end;
            }
        }
        out += length;
        TQ_INVARIANT(out < window + WindowSize);
    } while (in <= inLast && out <= outLast);
    InputCount -= (unsigned)(in - InputNext);
    if (in != InputNext)
        LastInputByte = in[-1];
    InputNext = in;
    count &= 63;
    state.Buffer = buffer & ((uint64_t(1) << count) - 1);
    state.Count = count;
    pos = (unsigned)(out - window);
    return outcome;
}

// The distance table of a block without distance codes: invalid entries, which any length meets.
struct InvalidTable {
    TableEntry Entries[1u << DistanceLookupBits];
    constexpr InvalidTable() : Entries()
    {
        for (TableEntry& entry : Entries)
            entry = {0, InvalidCode, 0};
    }
};
static constexpr InvalidTable NoDistanceCodes;

// Literal/length and distance codes until the end of the block (RFC 1951 3.2.5): in the fast
// gear while the bounds allow, else one symbol at a time, each bit asked for.
static int DecodeSymbols(const TableEntry* literals, const TableEntry* distances,
                         unsigned literalBits, unsigned distanceBits)
{
    if (literals == nullptr)
        return 1;   // no literal/length code at all: not even the end of the block is there
    const TableEntry* fastDistances = distances != nullptr ? distances : NoDistanceCodes.Entries;
    bool fast = literalBits == LiteralLookupBits &&
                (distances == nullptr || distanceBits == DistanceLookupBits);
    BitState state = {BitBuffer, BitCount};
    unsigned pos = WindowPos;
    unsigned char* window = InflateWindow;
    for (;;) {
        if (fast && InputCount >= FastInputBytes && pos <= WindowSize - FastWindowRoom) {
            int outcome = DecodeFast(literals, fastDistances, state, pos);
            if (outcome == 1)
                return 1;
            if (outcome == 0)
                break;
            continue;
        }
        const TableEntry* entry = DecodeEntry(state, literals, literalBits);
        if (entry == nullptr)
            return 1;
        if (entry->Operation == Literal) {
            TakeBits(state, entry->Bits);
            TQ_INVARIANT(pos < WindowSize);
            window[pos++] = (unsigned char)entry->Value;
            if (pos == WindowSize) {
                WriteOutputBytes(WindowSize);
                pos = 0;
            }
            continue;
        }
        if (entry->Operation == EndOfBlock) {
            TakeBits(state, entry->Bits);
            break;
        }
        unsigned length;
        if (!TakeBase(state, entry, &length) || distances == nullptr)
            return 1;
        entry = DecodeEntry(state, distances, distanceBits);
        unsigned distance;
        if (entry == nullptr || !TakeBase(state, entry, &distance))
            return 1;
        TQ_INVARIANT(pos < WindowSize);
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
        TQ_INVARIANT(pos < WindowSize);
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

// RFC 1951 3.2.6: the fixed codes.
static int BuildFixedTables(void)
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
    FixedLiteralBits = LiteralLookupBits;
    int result = BuildDecodeTable(lengths, FixedLiteralCodes, SimpleLiteralCount, LengthBases,
                                  LengthExtras, &FixedLiteralTable, &FixedLiteralBits);
    if (result != 0) {
        ReleaseTable(FixedLiteralTable);
        return result;
    }
    for (symbol = 0; symbol < FixedDistanceCodes; ++symbol)
        lengths[symbol] = 5;
    FixedDistanceBits = DistanceLookupBits;
    result = BuildDecodeTable(lengths, FixedDistanceCodes, 0, DistanceBases, DistanceExtras,
                              &FixedDistanceTable, &FixedDistanceBits);
    if (result > 1) {   // the fixed distance code is incomplete by design: 1 is expected
        ReleaseTable(FixedLiteralTable);
        ReleaseTable(FixedDistanceTable);
        return result;
    }
    return 0;
}

static int DecodeFixedBlock(void)
{
    if (FixedDistanceTable == nullptr) {
        int result = BuildFixedTables();
        if (result != 0)
            return result;
    }
    int result = DecodeSymbols(FixedLiteralTable, FixedDistanceTable, FixedLiteralBits, FixedDistanceBits);
    return result != 0 ? 1 : 0;
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
        unsigned symbol = entry.Value & ~LiteralFlag;
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
