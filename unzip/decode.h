// The engine's platform-free half: the CRC-32 tables, the traditional ZIP cipher, the Deflate
// decoder and its tables, and the byte source and sink it works between. No Windows header is
// included here, so crc32.cpp, decrypt.cpp, huffman.cpp and inflate.cpp compile the same
// everywhere.
#ifndef TQ_UNZIP_DECODE_H
#define TQ_UNZIP_DECODE_H

#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>

// Test and fuzz builds define TQ_CHECK_INVARIANTS: a broken invariant of the decoder aborts at
// once, where it breaks, instead of damaging memory further on.
#ifdef TQ_CHECK_INVARIANTS
#define TQ_INVARIANT(condition) ((condition) ? (void)0 : abort())
#else
#define TQ_INVARIANT(condition) ((void)0)
#endif

constexpr unsigned WindowSize = 32768;       // Deflate sliding window, RFC 1951 3.2
constexpr unsigned WindowAllocSize = 32776;  // allocated with 8 spare bytes behind the window
constexpr unsigned BlockSize = 0x7000;       // bytes per archive read and per output write
constexpr unsigned LocalHeaderSize = 26;     // fixed part of a local file header after its signature
constexpr unsigned EncryptionHeaderSize = 12; // APPNOTE 6.1.3

// State of the entry being decoded (engine state, defined in walk.cpp).
extern unsigned char LocalHeader[LocalHeaderSize];
extern uint32_t RemainingCompressed;  // bytes of entry data not yet read from the archive
extern int Encrypted;                 // general-purpose flag bit 0 of the last local header
extern int HasDataDescriptor;         // general-purpose flag bit 3 of the last local header

// Archive reads for the platform-free files (walk.cpp). ReadArchiveBytes reads exactly count
// bytes or ends the run with the read-error text; so does FailRead.
void ReadArchiveBytes(void* buffer, unsigned count);
[[noreturn]] void FailRead(void);

// CRC-32 of ISO 3309 / ITU-T V.42, reflected polynomial 0xEDB88320 (crc32.cpp). AddToCrc
// gives the register after count more bytes (no inversion at either end).
extern const uint32_t (&CrcTable)[256];
uint32_t AddToCrc(uint32_t crc, const unsigned char* bytes, size_t count);
// Entry CRCs fold by carry-less multiplication where the processor has it and the system saves
// the XMM registers it works in (a processor with the instructions under a system that leaves
// that state alone faults on the first of them); otherwise, and until this is called, the
// table runs. Returns whether entry CRCs fold from now on.
bool UseCrcFolding(bool systemSavesVectorState);

// Traditional PKWARE encryption, APPNOTE 6.1 (decrypt.cpp).
extern const char DefaultPassword[];
extern const char* ActivePassword;    // never null; DefaultPassword unless the request has one
extern uint32_t Key0, Key1, Key2;
void InitKeys(const char* password);
void UpdateKeys(unsigned char c);
unsigned char DecryptByte(void);
void DecryptBuffer(unsigned char* bytes, unsigned count); // in place, advancing the keys
int CheckEncryptionHeader(void);      // 1: the password passes the entry's check byte

// The entry's compressed bytes (output.cpp). The decoder may take bytes straight from the
// block read last (InputNext, InputCount) as long as it counts them off.
extern const unsigned char* InputNext;
extern unsigned InputCount;
unsigned FillInput(void);
inline unsigned ReadCompressedByte(unsigned short* out)
{
    if (InputCount == 0 && FillInput() == 0)
        return 0;   // end of the entry's data: out keeps its value
    *out = *InputNext++;
    --InputCount;
    return 8;
}

// Decoded bytes leave InflateWindow through WriteOutputBytes (output.cpp).
extern unsigned char* InflateWindow;
void WriteOutputBytes(unsigned count);

// Lookup tables of the Deflate decoder's Huffman codes (huffman.cpp). Operations of an entry:
constexpr uint8_t EndOfBlock = 15;
constexpr uint8_t Literal = 16;   // also a code-length symbol in the code-length table
constexpr uint8_t InvalidCode = 99;
constexpr unsigned MaxCodeLength = 16;   // lengths run 0 to 16 in the table builder

// The bits come first: the fast gear shifts the bit buffer by the low byte of an entry's word.
struct TableEntry {
    uint8_t Bits;       // bits the entry consumes: its code's bits at its level, plus a base's extra bits
    uint8_t Operation;  // 0-13 extra bits of a base, 15 end of block, 16 literal, 16+n link, 99 invalid
    uint16_t Value;     // literal, symbol, length or distance base, or a link's sub-table index
};
// A literal's or code-length symbol's Value also carries LiteralFlag: read as one word, with the
// Value in the high half, a literal's entry is negative.
constexpr uint16_t LiteralFlag = 0x8000;

// Builds the tables of the code given by count code lengths: symbols below simpleCount are
// literals (below 256) or the end of the block, the others take bases[] and extras[] from
// simpleCount on. *width is the first level's width asked for; it stays, also for a code whose
// codes are all shorter, unless the shortest code is longer (then it becomes that). Returns
// 0 (complete, a single code of length 1, or no codes: then *table is null), 1 (incomplete,
// completed with invalid codes; the table is handed back), 2 (over-subscribed; nothing
// allocated) or 3 (out of memory; nothing kept). The table is one allocation for free().
int BuildDecodeTable(const unsigned* lengths, unsigned count, unsigned simpleCount,
                     const uint16_t* bases, const uint16_t* extras, TableEntry** table,
                     unsigned* width);

// Deflate decoder, RFC 1951 (inflate.cpp). Inflate returns 0 when the stream was decoded to
// its last block, 1 for damaged data, 2 for an over-subscribed code or block type 3, 3 when a
// table could not be allocated. ReleaseDecodeTables frees the tables of a block that an abort
// left behind.
int Inflate(void);
void ReleaseDecodeTables(void);

#endif
