// Lookup tables of canonical Huffman codes (RFC 1951 3.2.2) for the Deflate decoder, built for
// each block: a first level of 2^L entries indexed by the next L bits in the order they arrive,
// and sub-tables behind it for the longer codes, all in one allocation per code. An entry
// carries the bits it consumes with the extra bits of its base added, so that one shift of the
// bit buffer takes both.
#include "unzip/decode.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

constexpr unsigned MaxSymbols = 288;   // the fixed literal/length code's, the largest

static inline uint32_t Mask(unsigned n)
{
    return (1u << n) - 1;
}

static inline unsigned HighestBit(unsigned x)   // x != 0
{
#if defined(__GNUC__)
    return 31 - (unsigned)__builtin_clz(x);
#else
    unsigned n = 0;
    while (x >>= 1)
        ++n;
    return n;
#endif
}

// A code's symbols sorted by code length, and what their entries are made of.
struct CodeList {
    const unsigned* LengthCount;   // codes of each length, fillers included
    const unsigned* Sorted;        // symbols with a nonzero length, by length, then by symbol
    unsigned SymbolTotal;
    unsigned SimpleCount;
    const uint16_t* Bases;
    const uint16_t* Extras;
    unsigned Shortest, Longest, Lookup;
};

static TableEntry MakeEntry(const CodeList& list, unsigned placed, unsigned codeBits)
{
    TableEntry entry;
    entry.Bits = (uint8_t)codeBits;
    if (placed >= list.SymbolTotal) {
        entry.Operation = InvalidCode;   // filler of an incomplete code
        entry.Value = 0;                 // reads as code length 0
        return entry;
    }
    unsigned symbol = list.Sorted[placed];
    if (symbol < list.SimpleCount) {
        entry.Operation = symbol < 256 ? Literal : EndOfBlock;
        entry.Value = (uint16_t)(symbol < 256 ? symbol | LiteralFlag : symbol);
    } else {
        entry.Operation = (uint8_t)list.Extras[symbol - list.SimpleCount];
        entry.Value = list.Bases[symbol - list.SimpleCount];
        if (entry.Operation != InvalidCode)
            entry.Bits = (uint8_t)(codeBits + entry.Operation);
    }
    return entry;
}

// Generates the codes in canonical order (RFC 1951 3.2.2), the current code kept bit-reversed
// so that it indexes the tables in the order the bits arrive; a code longer than the open levels
// opens a sub-table sized for the codes that will share its prefix. Sub-tables follow the
// first level in the order they are opened. Returns the number of entries; fills them when
// entries is not null.
static unsigned PlaceCodes(const CodeList& list, TableEntry* entries)
{
    unsigned lookup = list.Lookup;
    unsigned levelOffset[MaxCodeLength + 1];
    unsigned levelCode[MaxCodeLength + 1];
    levelCode[0] = 0;
    int level = -1;
    int start = -(int)lookup;         // first bit of the deepest open level
    unsigned code = 0;                // bit-reversed
    unsigned placed = 0;
    unsigned used = 0;                // entries handed out so far
    unsigned currentOffset = 0;       // the deepest level's table
    unsigned currentSize = 0;

    for (unsigned k = list.Shortest; k <= list.Longest; ++k) {
        for (unsigned left = list.LengthCount[k]; left != 0; --left) {
            while ((int)k > start + (int)lookup) {
                ++level;
                start += (int)lookup;
                unsigned limit = list.Longest - (unsigned)start;
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
                        if (spare <= list.LengthCount[++longer])
                            break;
                        spare -= list.LengthCount[longer];
                    }
                }
                currentOffset = used;
                currentSize = 1u << j;
                used += currentSize;
                levelOffset[level] = currentOffset;
                if (level > 0) {
                    levelCode[level] = code;
                    if (entries != nullptr) {
                        TableEntry link;
                        link.Operation = (uint8_t)(Literal + j);
                        link.Bits = (uint8_t)lookup;
                        link.Value = (uint16_t)currentOffset;
                        entries[levelOffset[level - 1] + (code >> (start - (int)lookup))] = link;
                    }
                }
            }

            if (entries != nullptr) {
                TableEntry entry = MakeEntry(list, placed, k - (unsigned)start);
                TableEntry* table = entries + currentOffset;
                unsigned step = 1u << (k - (unsigned)start);
                for (unsigned index = code >> start; index < currentSize; index += step)
                    table[index] = entry;
            }
            ++placed;

            // The next code, bit-reversed: the ones from the top down to the first zero are
            // cleared, that zero set (after the last code of all, none is left: 0).
            unsigned zeros = ~code & Mask(k);
            code = zeros != 0 ? (code & Mask(HighestBit(zeros))) | (1u << HighestBit(zeros)) : 0;
            while ((code & Mask((unsigned)start)) != levelCode[level]) {
                --level;
                start -= (int)lookup;
            }
        }
    }
    return used;
}

// One allocation of lookup tables, sized by a first pass over the codes and filled by a
// second; an incomplete code is completed with invalid filler codes (results: decode.h).
int BuildDecodeTable(const unsigned* lengths, unsigned count, unsigned simpleCount,
                     const uint16_t* bases, const uint16_t* extras, TableEntry** table,
                     unsigned* width)
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
    // A code whose longest code is shorter than the width asked for fills the first level at
    // that width all the same, each entry repeated, so that its users may take the width as fixed.
    unsigned lookup = *width;
    if (lookup < shortest)
        lookup = *width = shortest;
    if (lookup > longest)
        lookup = longest;

    int freeCodes = 1 << shortest;
    for (unsigned k = shortest; k < longest; ++k, freeCodes <<= 1)
        if ((freeCodes -= (int)lengthCount[k]) < 0)
            return 2;
    if ((freeCodes -= (int)lengthCount[longest]) < 0)
        return 2;
    unsigned fillers = (unsigned)freeCodes;
    lengthCount[longest] += fillers;

    unsigned sorted[MaxSymbols];
    unsigned next[MaxCodeLength + 2];
    next[1] = 0;
    for (unsigned k = 1; k <= MaxCodeLength; ++k)
        next[k + 1] = next[k] + lengthCount[k];
    for (unsigned i = 0; i < count; ++i)
        if (lengths[i] != 0)
            sorted[next[lengths[i]]++] = i;

    CodeList list = {lengthCount, sorted, count - lengthCount[0], simpleCount, bases, extras,
                     shortest, longest, lookup};
    unsigned size = PlaceCodes(list, nullptr);
    if (size < (1u << *width))
        size = 1u << *width;   // no sub-tables: the first level repeated
    TableEntry* entries = (TableEntry*)malloc(size * sizeof(TableEntry));
    if (entries == nullptr) {
        fputs("\n*** inflate out of memory *** ", stderr);
        return 3;
    }
    PlaceCodes(list, entries);
    // entries[i] = entries[i mod 2^lookup] up to the width, by doubling copies: a small block's
    // short codes would otherwise cost a store per entry of the 2^width, which is most of the
    // decoding of a file of a few hundred bytes.
    for (unsigned filled = 1u << lookup; filled < (1u << *width); filled *= 2)
        memcpy(entries + filled, entries, filled * sizeof(TableEntry));
    *table = entries;
    return fillers != 0 && longest != 1 ? 1 : 0;
}
