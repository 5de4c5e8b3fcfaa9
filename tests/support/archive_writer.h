// Test data made by our own code, shared by every test program: the CRC-32 of the tests, a bit
// writer for hand-built Deflate streams (RFC 1951 bit order), a small fixed-Huffman compressor,
// the traditional ZIP cipher for encrypting entries, and a ZIP writer (APPNOTE 4.3) with the
// variations the engine must cope with. Portable: native and Windows test programs link it.
#ifndef TQ_TESTS_SUPPORT_ARCHIVE_WRITER_H
#define TQ_TESTS_SUPPORT_ARCHIVE_WRITER_H

#include <stdint.h>
#include <string>
#include <vector>

typedef std::vector<uint8_t> Bytes;

// Bits go in from the lowest bit of each byte, as RFC 1951 3.1.1 packs them.
struct BitWriter {
    Bytes Out;
    unsigned Pending = 0;
    unsigned PendingCount = 0;
    void PutBits(unsigned value, unsigned count);     // data fields: lowest bit first
    void PutCode(unsigned code, unsigned length);     // Huffman codes: highest bit first
    void AlignToByte();
    Bytes Finish();                                   // pads the last byte with zeros
};

// Fixed-Huffman pieces (RFC 1951 3.2.6) for hand-built blocks.
void PutFixedLiteral(BitWriter& writer, unsigned symbol);   // 0 to 287
void PutFixedMatch(BitWriter& writer, unsigned length, unsigned distance);
void PutFixedDistanceSymbol(BitWriter& writer, unsigned symbol); // raw 5-bit code, 0 to 31
void PutStoredBlock(BitWriter& writer, const Bytes& data, bool last);

// Deflate streams of our own: stored blocks only, or greedy LZ77 matches in fixed blocks.
Bytes DeflateStored(const Bytes& data);
Bytes DeflateFixed(const Bytes& data);

// The password of setup's payload archive, used when a request brings none.
extern const char TestDefaultPassword[];

// CRC-32 (APPNOTE 4.4.7), bit by bit: the control for the table-driven ones of the programs.
uint32_t Crc32Step(uint32_t crc, uint8_t byte);   // one byte into the register, no inversions
uint32_t Crc32(const void* data, size_t size);
inline uint32_t Crc32(const Bytes& data) { return Crc32(data.data(), data.size()); }
inline uint32_t Crc32(const std::string& data) { return Crc32(data.data(), data.size()); }

inline Bytes ToBytes(const std::string& text) { return Bytes(text.begin(), text.end()); }
inline std::string ToText(const Bytes& bytes) { return std::string(bytes.begin(), bytes.end()); }

Bytes RandomBytes(size_t count, uint32_t seed);
Bytes TextBytes(size_t count, uint32_t seed);   // compressible: words from a small vocabulary
// The seed of a test's random data: TQ_TEST_SEED when set, else the clock. Printed, so that a
// failing run can be repeated with it.
uint32_t TestSeed();

// Traditional PKWARE encryption (APPNOTE 6.1) of an entry's data with its 12-byte header.
Bytes EncryptEntry(const Bytes& data, const std::string& password, uint8_t checkByte,
                   uint32_t seed);

enum class Descriptor { None, WithSignature, WithoutSignature };

struct ZipEntry {
    std::string Name;
    Bytes Data;                 // the uncompressed bytes
    uint16_t Method = 0;        // 0 stored, 8 deflated, anything else is written as stored data
    Bytes Compressed;           // for method 8 (and unknown methods): the data as written; empty: made here
    bool Encrypt = false;
    std::string Password;
    bool CheckByTime = false;   // the encryption check byte comes from the time (flag bit 3)
    Descriptor DataDescriptor = Descriptor::None;
    bool ZeroSizesInHeader = false;  // streaming tools: CRC and sizes only in the descriptor
    uint32_t CrcOverride = 0;
    bool UseCrcOverride = false;
    uint16_t Time = 0x6C25;     // 13:33:10
    uint16_t Date = 0x5A2C;     // 2025-01-12
    Bytes Extra;
    Bytes CentralExtra;         // extra fields of the central header only (Unicode path, timestamp)
    uint16_t MadeBy = 20;       // "version made by": host in the high byte (3 Unix)
    uint32_t ExternalAttributes = 0;   // a Unix mode in the high 16 bits
    uint64_t Zip64Offset = 0;   // nonzero: the central offset escaped, this one in a ZIP64 field
    std::string Comment;
};

// The common entry: a name, its bytes and the method, everything else as the defaults give it.
inline ZipEntry Entry(const std::string& name, const Bytes& data, uint16_t method = 0)
{
    ZipEntry entry;
    entry.Name = name;
    entry.Data = data;
    entry.Method = method;
    return entry;
}

struct ZipArchive {
    Bytes Prefix;               // junk in front, like a program the archive is appended to
    std::vector<ZipEntry> Entries;
    std::string Comment;
    bool WriteCentral = true;
    bool OffsetsFromArchive = false;   // offsets count from the archive's start, not the file's
    bool Zip64End = false;      // ZIP64 end record and locator; the classic end record escaped
    Bytes Suffix;               // behind the end record, like a signature's certificate table
    Bytes Build() const;
};

#endif
