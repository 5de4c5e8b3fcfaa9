// Test data writers; see archive_writer.h.
#include "archive_writer.h"

#include <stdio.h>
#include <stdlib.h>
#include <time.h>

static const uint16_t LengthBase[29] = {3, 4, 5, 6, 7, 8, 9, 10, 11, 13, 15, 17, 19, 23, 27, 31,
                                        35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
static const uint8_t LengthExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2,
                                        3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
static const uint16_t DistanceBase[30] = {1, 2, 3, 4, 5, 7, 9, 13, 17, 25, 33, 49, 65, 97, 129,
                                          193, 257, 385, 513, 769, 1025, 1537, 2049, 3073, 4097,
                                          6145, 8193, 12289, 16385, 24577};
static const uint8_t DistanceExtra[30] = {0, 0, 0, 0, 1, 1, 2, 2, 3, 3, 4, 4, 5, 5, 6,
                                          6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};

const char TestDefaultPassword[] = "Rv4-Tg9 Lm2 Qz7-Kp5 Vx8 Hc3-Nb6 Js1 Df0-Ya7E";

void BitWriter::PutBits(unsigned value, unsigned count)
{
    for (unsigned i = 0; i < count; ++i) {
        Pending |= ((value >> i) & 1) << PendingCount;
        if (++PendingCount == 8) {
            Out.push_back((uint8_t)Pending);
            Pending = 0;
            PendingCount = 0;
        }
    }
}

void BitWriter::PutCode(unsigned code, unsigned length)
{
    for (unsigned i = length; i-- > 0;)
        PutBits((code >> i) & 1, 1);
}

void BitWriter::AlignToByte()
{
    if (PendingCount != 0)
        PutBits(0, 8 - PendingCount);
}

Bytes BitWriter::Finish()
{
    AlignToByte();
    return Out;
}

void PutFixedLiteral(BitWriter& writer, unsigned symbol)
{
    if (symbol < 144)
        writer.PutCode(0x30 + symbol, 8);
    else if (symbol < 256)
        writer.PutCode(0x190 + symbol - 144, 9);
    else if (symbol < 280)
        writer.PutCode(symbol - 256, 7);
    else
        writer.PutCode(0xC0 + symbol - 280, 8);
}

void PutFixedDistanceSymbol(BitWriter& writer, unsigned symbol)
{
    writer.PutCode(symbol, 5);
}

void PutFixedMatch(BitWriter& writer, unsigned length, unsigned distance)
{
    unsigned i = 28;
    while (LengthBase[i] > length)
        --i;
    PutFixedLiteral(writer, 257 + i);
    writer.PutBits(length - LengthBase[i], LengthExtra[i]);
    unsigned d = 29;
    while (DistanceBase[d] > distance)
        --d;
    PutFixedDistanceSymbol(writer, d);
    writer.PutBits(distance - DistanceBase[d], DistanceExtra[d]);
}

void PutStoredBlock(BitWriter& writer, const Bytes& data, bool last)
{
    writer.PutBits(last ? 1 : 0, 1);
    writer.PutBits(0, 2);
    writer.AlignToByte();
    writer.PutBits((unsigned)data.size(), 16);
    writer.PutBits(~(unsigned)data.size() & 0xFFFF, 16);
    for (uint8_t byte : data)
        writer.PutBits(byte, 8);
}

Bytes DeflateStored(const Bytes& data)
{
    BitWriter writer;
    size_t at = 0;
    do {
        size_t piece = data.size() - at < 65535 ? data.size() - at : 65535;
        PutStoredBlock(writer, Bytes(data.begin() + at, data.begin() + at + piece),
                       at + piece == data.size());
        at += piece;
    } while (at < data.size());
    return writer.Finish();
}

// Greedy matching through a table of the last position of each 3-byte prefix.
Bytes DeflateFixed(const Bytes& data)
{
    BitWriter writer;
    writer.PutBits(1, 1);
    writer.PutBits(1, 2);
    std::vector<int64_t> last(1 << 15, -1);
    size_t at = 0;
    while (at < data.size()) {
        unsigned length = 0;
        size_t distance = 0;
        if (at + 3 <= data.size()) {
            unsigned hash = (data[at] << 10 ^ data[at + 1] << 5 ^ data[at + 2]) & 0x7FFF;
            int64_t candidate = last[hash];
            last[hash] = (int64_t)at;
            if (candidate >= 0 && at - (size_t)candidate <= 32768) {
                while (length < 258 && at + length < data.size()
                       && data[(size_t)candidate + length] == data[at + length])
                    ++length;
                distance = at - (size_t)candidate;
            }
        }
        if (length >= 3) {
            PutFixedMatch(writer, length, (unsigned)distance);
            at += length;
        } else {
            PutFixedLiteral(writer, data[at]);
            ++at;
        }
    }
    PutFixedLiteral(writer, 256);
    return writer.Finish();
}

uint32_t Crc32Step(uint32_t crc, uint8_t byte)
{
    crc ^= byte;
    for (int bit = 0; bit < 8; ++bit)
        crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1)));
    return crc;
}

uint32_t Crc32(const void* data, size_t size)
{
    uint32_t crc = 0xFFFFFFFFu;
    for (size_t i = 0; i < size; ++i)
        crc = Crc32Step(crc, ((const uint8_t*)data)[i]);
    return ~crc;
}

static uint32_t NextRandom(uint32_t& state)
{
    state = state * 1664525u + 1013904223u;
    return state >> 8;
}

Bytes RandomBytes(size_t count, uint32_t seed)
{
    Bytes out(count);
    for (auto& byte : out)
        byte = (uint8_t)NextRandom(seed);
    return out;
}

uint32_t TestSeed()
{
    uint32_t seed = (uint32_t)time(nullptr);
    if (const char* fixed = getenv("TQ_TEST_SEED"))
        seed = (uint32_t)strtoul(fixed, nullptr, 10);
    printf("seed %u (TQ_TEST_SEED=%u repeats this run)\n", seed, seed);
    fflush(stdout);
    return seed;
}

Bytes TextBytes(size_t count, uint32_t seed)
{
    static const char* const Words[] = {"the ", "archive ", "entry ", "window ", "of ", "data ",
                                        "Tessel ", "setup ", "bytes\n", "and ", "a ", "block "};
    Bytes out;
    while (out.size() < count) {
        const char* word = Words[NextRandom(seed) % 12];
        while (*word != '\0' && out.size() < count)
            out.push_back((uint8_t)*word++);
    }
    return out;
}

namespace {
struct Keys {
    uint32_t K0 = 0x12345678u, K1 = 0x23456789u, K2 = 0x34567890u;
    void Update(uint8_t c)
    {
        K0 = Crc32Step(K0, c);
        K1 = (K1 + (K0 & 0xFF)) * 134775813u + 1;
        K2 = Crc32Step(K2, (uint8_t)(K1 >> 24));
    }
    uint8_t Stream() const
    {
        uint32_t t = (K2 | 2) & 0xFFFF;
        return (uint8_t)((t * (t ^ 1)) >> 8);
    }
};
}

Bytes EncryptEntry(const Bytes& data, const std::string& password, uint8_t checkByte,
                   uint32_t seed)
{
    Keys keys;
    for (char c : password)
        keys.Update((uint8_t)c);
    Bytes plain = RandomBytes(11, seed);
    plain.push_back(checkByte);
    plain.insert(plain.end(), data.begin(), data.end());
    Bytes out;
    for (uint8_t p : plain) {
        out.push_back(p ^ keys.Stream());
        keys.Update(p);
    }
    return out;
}

static void Put16(Bytes& out, unsigned value)
{
    out.push_back((uint8_t)value);
    out.push_back((uint8_t)(value >> 8));
}

static void Put32(Bytes& out, uint32_t value)
{
    Put16(out, value & 0xFFFF);
    Put16(out, value >> 16);
}

static void PutText(Bytes& out, const std::string& text)
{
    out.insert(out.end(), text.begin(), text.end());
}

Bytes ZipArchive::Build() const
{
    Bytes out = Prefix;
    Bytes central;
    for (size_t i = 0; i < Entries.size(); ++i) {
        const ZipEntry& entry = Entries[i];
        uint32_t crc = entry.UseCrcOverride ? entry.CrcOverride : Crc32(entry.Data);
        Bytes stored;
        if (entry.Method == 0)
            stored = entry.Data;
        else if (!entry.Compressed.empty())
            stored = entry.Compressed;
        else
            stored = entry.Method == 8 ? DeflateFixed(entry.Data) : entry.Data;
        if (entry.Encrypt) {
            uint8_t check = entry.CheckByTime ? (uint8_t)(entry.Time >> 8) : (uint8_t)(crc >> 24);
            stored = EncryptEntry(stored, entry.Password, check, (uint32_t)i + 7);
        }
        unsigned flags = (entry.Encrypt ? 1 : 0)
            | (entry.DataDescriptor != Descriptor::None ? 8 : 0);
        uint32_t offset = (uint32_t)(out.size() - (OffsetsFromArchive ? Prefix.size() : 0));
        bool zero = entry.ZeroSizesInHeader;

        Put32(out, 0x04034b50u);
        Put16(out, 20);
        Put16(out, flags);
        Put16(out, entry.Method);
        Put16(out, entry.Time);
        Put16(out, entry.Date);
        Put32(out, zero ? 0 : crc);
        Put32(out, zero ? 0 : (uint32_t)stored.size());
        Put32(out, zero ? 0 : (uint32_t)entry.Data.size());
        Put16(out, (unsigned)entry.Name.size());
        Put16(out, (unsigned)entry.Extra.size());
        PutText(out, entry.Name);
        out.insert(out.end(), entry.Extra.begin(), entry.Extra.end());
        out.insert(out.end(), stored.begin(), stored.end());
        if (entry.DataDescriptor == Descriptor::WithSignature)
            Put32(out, 0x08074b50u);
        if (entry.DataDescriptor != Descriptor::None) {
            Put32(out, crc);
            Put32(out, (uint32_t)stored.size());
            Put32(out, (uint32_t)entry.Data.size());
        }

        Put32(central, 0x02014b50u);
        Put16(central, entry.MadeBy);
        Put16(central, 20);
        Put16(central, flags);
        Put16(central, entry.Method);
        Put16(central, entry.Time);
        Put16(central, entry.Date);
        Put32(central, crc);
        Put32(central, (uint32_t)stored.size());
        Put32(central, (uint32_t)entry.Data.size());
        Put16(central, (unsigned)entry.Name.size());
        Bytes zip64;
        if (entry.Zip64Offset != 0) {
            Put16(zip64, 0x0001);
            Put16(zip64, 8);
            Put32(zip64, (uint32_t)entry.Zip64Offset);
            Put32(zip64, (uint32_t)(entry.Zip64Offset >> 32));
        }
        Put16(central, (unsigned)(entry.Extra.size() + entry.CentralExtra.size() + zip64.size()));
        Put16(central, (unsigned)entry.Comment.size());
        Put16(central, 0);
        Put16(central, 0);
        Put32(central, entry.ExternalAttributes);
        Put32(central, entry.Zip64Offset != 0 ? 0xFFFFFFFFu : offset);
        PutText(central, entry.Name);
        central.insert(central.end(), entry.Extra.begin(), entry.Extra.end());
        central.insert(central.end(), zip64.begin(), zip64.end());
        central.insert(central.end(), entry.CentralExtra.begin(), entry.CentralExtra.end());
        PutText(central, entry.Comment);
    }
    uint32_t centralOffset = (uint32_t)(out.size() - (OffsetsFromArchive ? Prefix.size() : 0));
    uint32_t centralSize = WriteCentral ? (uint32_t)central.size() : 0;
    if (WriteCentral)
        out.insert(out.end(), central.begin(), central.end());
    if (Zip64End) {
        // APPNOTE 4.3.14 and 4.3.15: the ZIP64 end record, then the locator that points to it.
        uint32_t recordOffset = (uint32_t)(out.size() - (OffsetsFromArchive ? Prefix.size() : 0));
        Put32(out, 0x06064b50u);
        Put32(out, 44);   // size of the rest of the record, low and high halves
        Put32(out, 0);
        Put16(out, 45);
        Put16(out, 45);
        Put32(out, 0);
        Put32(out, 0);
        for (int count = 0; count < 2; ++count) {
            Put32(out, (uint32_t)Entries.size());
            Put32(out, 0);
        }
        Put32(out, centralSize);
        Put32(out, 0);
        Put32(out, centralOffset);
        Put32(out, 0);
        Put32(out, 0x07064b50u);
        Put32(out, 0);
        Put32(out, recordOffset);
        Put32(out, 0);
        Put32(out, 1);
    }
    Put32(out, 0x06054b50u);
    Put16(out, 0);
    Put16(out, 0);
    Put16(out, Zip64End ? 0xFFFF : (unsigned)Entries.size());
    Put16(out, Zip64End ? 0xFFFF : (unsigned)Entries.size());
    Put32(out, Zip64End ? 0xFFFFFFFFu : centralSize);
    Put32(out, Zip64End ? 0xFFFFFFFFu : centralOffset);
    Put16(out, (unsigned)Comment.size());
    PutText(out, Comment);
    out.insert(out.end(), Suffix.begin(), Suffix.end());
    return out;
}
