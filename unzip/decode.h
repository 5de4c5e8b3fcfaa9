// The engine's platform-free half: the CRC-32 tables, the traditional ZIP cipher, the Deflate
// decoder and the byte source and sink it works between. No Windows header is included here, so
// crc32.cpp, decrypt.cpp and inflate.cpp compile the same everywhere.
#ifndef TQ_UNZIP_DECODE_H
#define TQ_UNZIP_DECODE_H

#include <stddef.h>
#include <stdint.h>

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

// Deflate decoder, RFC 1951 (inflate.cpp). Inflate returns 0 when the stream was decoded to
// its last block, 1 for damaged data, 2 for an over-subscribed code or block type 3, 3 when a
// table could not be allocated. ReleaseDecodeTables frees the tables of a block that an abort
// left behind.
int Inflate(void);
void ReleaseDecodeTables(void);

#endif
