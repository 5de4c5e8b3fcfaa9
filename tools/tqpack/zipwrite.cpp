// Writes the payload archive: a ZIP file (PKWARE APPNOTE 6.3) of local headers with CRC and
// sizes filled in (no data descriptors: the extraction engine reads only local headers),
// followed by the central directory and the end record. Entries are deflated at the strongest
// level of the chosen library, or stored when that is smaller, and encrypted with the
// traditional PKWARE cipher (APPNOTE 6.1). The output depends on the input alone.
#include "tqpack.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <libdeflate.h>
#include <zlib.h>

constexpr uint32_t LocalHeaderSignature = 0x04034b50;
constexpr uint32_t CentralHeaderSignature = 0x02014b50;
constexpr uint32_t EndRecordSignature = 0x06054b50;
constexpr uint16_t VersionNeeded = 20;        // 2.0: Deflate and traditional encryption
constexpr uint16_t VersionMadeBy = 0 << 8 | 20; // host 0 (MS-DOS/FAT attributes), 2.0
constexpr uint32_t DosArchiveAttribute = 0x20;
constexpr size_t EncryptionHeaderSize = 12;
constexpr uint64_t MaxZipField = 0xFFFFFFFFu; // no ZIP64: every size and offset fits 32 bits
constexpr size_t MaxEntries = 0xFFFF;
constexpr int LibdeflateStrongest = 12;

// ---- CRC-32 (ISO 3309, reflected polynomial 0xEDB88320) ----

static uint32_t CrcTable[256];

static void MakeCrcTable()
{
    if (CrcTable[1] != 0)
        return;
    for (uint32_t n = 0; n < 256; n++) {
        uint32_t c = n;
        for (int k = 0; k < 8; k++)
            c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        CrcTable[n] = c;
    }
}

uint32_t Crc32(uint32_t crc, const unsigned char* data, size_t size)
{
    MakeCrcTable();
    crc = ~crc;
    for (size_t i = 0; i < size; i++)
        crc = CrcTable[(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
    return ~crc;
}

// ---- traditional encryption (APPNOTE 6.1.5 to 6.1.7) ----

struct CipherKeys {
    uint32_t Key0, Key1, Key2;
};

static void UpdateKeys(CipherKeys& keys, unsigned char c)
{
    keys.Key0 = CrcTable[(keys.Key0 ^ c) & 0xFF] ^ (keys.Key0 >> 8);
    keys.Key1 = (keys.Key1 + (keys.Key0 & 0xFF)) * 134775813u + 1;
    keys.Key2 = CrcTable[(keys.Key2 ^ (keys.Key1 >> 24)) & 0xFF] ^ (keys.Key2 >> 8);
}

static unsigned char KeystreamByte(const CipherKeys& keys)
{
    uint32_t t = (keys.Key2 | 2) & 0xFFFF;
    return static_cast<unsigned char>((t * (t ^ 1)) >> 8);
}

static void InitKeys(CipherKeys& keys, const std::string& password)
{
    MakeCrcTable();
    keys = {0x12345678u, 0x23456789u, 0x34567890u};
    for (unsigned char c : password)
        UpdateKeys(keys, c);
}

static void EncryptBytes(CipherKeys& keys, unsigned char* data, size_t size)
{
    for (size_t i = 0; i < size; i++) {
        unsigned char plain = data[i];
        data[i] = plain ^ KeystreamByte(keys);
        UpdateKeys(keys, plain);
    }
}

// ---- the generator for the encryption headers ----

// SplitMix64: small, well mixed, and the same everywhere, which is all the 11 filler bytes of
// an encryption header need here; their only job is to differ between entries.
static uint64_t NextRandom(uint64_t& state)
{
    uint64_t z = (state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

static uint64_t Fnv1a(uint64_t hash, const unsigned char* data, size_t size)
{
    for (size_t i = 0; i < size; i++)
        hash = (hash ^ data[i]) * 0x100000001B3ull;
    return hash;
}

// Seed of one entry: its name and its content, or its name and SOURCE_DATE_EPOCH when set.
static uint64_t EntrySeed(const std::string& name, const std::vector<unsigned char>& content)
{
    uint64_t hash = Fnv1a(0xCBF29CE484222325ull, reinterpret_cast<const unsigned char*>(name.data()),
                          name.size());
    const char* epoch = std::getenv("SOURCE_DATE_EPOCH");
    char* end = nullptr;
    if (epoch && *epoch) {
        unsigned long long value = std::strtoull(epoch, &end, 10);
        if (*end == '\0')
            return hash ^ value;
    }
    return Fnv1a(hash, content.data(), content.size());
}

// ---- Deflate ----

bool DeflateData(Compressor compressor, const std::vector<unsigned char>& data,
                 std::vector<unsigned char>& output)
{
    if (compressor == Compressor::Libdeflate) {
        libdeflate_compressor* state = libdeflate_alloc_compressor(LibdeflateStrongest);
        if (!state)
            return false;
        output.resize(libdeflate_deflate_compress_bound(state, data.size()));
        size_t size = libdeflate_deflate_compress(state, data.data(), data.size(),
                                                  output.data(), output.size());
        libdeflate_free_compressor(state);
        output.resize(size);
        return size != 0;
    }
    // zlib: raw Deflate (negative window bits), 32 KiB window, level 9, most memory.
    z_stream stream{};
    if (deflateInit2(&stream, Z_BEST_COMPRESSION, Z_DEFLATED, -15, 9, Z_DEFAULT_STRATEGY) != Z_OK)
        return false;
    output.resize(deflateBound(&stream, static_cast<uLong>(data.size())));
    stream.next_in = const_cast<unsigned char*>(data.data());
    stream.avail_in = static_cast<uInt>(data.size());
    stream.next_out = output.data();
    stream.avail_out = static_cast<uInt>(output.size());
    int status = deflate(&stream, Z_FINISH);
    output.resize(stream.total_out);
    deflateEnd(&stream);
    return status == Z_STREAM_END;
}

// ---- records ----

static void Put16(std::vector<unsigned char>& out, uint32_t value)
{
    out.push_back(static_cast<unsigned char>(value));
    out.push_back(static_cast<unsigned char>(value >> 8));
}

static void Put32(std::vector<unsigned char>& out, uint32_t value)
{
    Put16(out, value & 0xFFFF);
    Put16(out, value >> 16);
}

struct WrittenEntry {
    std::string Name;
    uint16_t Flags, Method, DosTime, DosDate;
    uint32_t Crc, CompressedSize, UncompressedSize, HeaderOffset;
};

// The fields shared by the local header (APPNOTE 4.3.7) and the central header (4.3.12),
// from "version needed" to "extra field length".
static void PutCommonFields(std::vector<unsigned char>& out, const WrittenEntry& entry)
{
    Put16(out, VersionNeeded);
    Put16(out, entry.Flags);
    Put16(out, entry.Method);
    Put16(out, entry.DosTime);
    Put16(out, entry.DosDate);
    Put32(out, entry.Crc);
    Put32(out, entry.CompressedSize);
    Put32(out, entry.UncompressedSize);
    Put16(out, static_cast<uint32_t>(entry.Name.size()));
    Put16(out, 0); // extra field length
}

static bool PutRecord(FILE* file, const std::vector<unsigned char>& bytes, uint64_t& offset)
{
    offset += bytes.size();
    return bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
}

// Builds the entry data (encryption header included, when encrypted) for one file.
static bool PackEntry(const PayloadFile& file, const ArchiveOptions& options, WrittenEntry& entry,
                      std::vector<unsigned char>& data, Problems& problems)
{
    std::vector<unsigned char> content;
    if (!ReadWholeFile(file.SourcePath, content, problems))
        return false;
    if (content.size() > MaxZipField - EncryptionHeaderSize) {
        problems.push_back(file.SourcePath + ": larger than a ZIP archive without ZIP64 can hold");
        return false;
    }
    int64_t ticks = 0;
    if (!GetFileTime100ns(file.SourcePath, ticks)) {
        problems.push_back("cannot read the time of " + file.SourcePath);
        return false;
    }
    uint32_t dosDateTime = DosDateTimeFromTicks(ticks);
    entry.Name = file.Name;
    entry.DosTime = static_cast<uint16_t>(dosDateTime);
    entry.DosDate = static_cast<uint16_t>(dosDateTime >> 16);
    entry.Crc = Crc32(0, content.data(), content.size());
    entry.UncompressedSize = static_cast<uint32_t>(content.size());

    std::vector<unsigned char> deflated;
    if (!content.empty() && !DeflateData(options.UseCompressor, content, deflated)) {
        problems.push_back(file.SourcePath + ": the Deflate library failed");
        return false;
    }
    bool store = content.empty() || deflated.size() >= content.size();
    entry.Method = store ? MethodStored : MethodDeflated;
    const std::vector<unsigned char>& body = store ? content : deflated;
    if (!options.Encrypt) {
        entry.Flags = 0;
        data = body;
        entry.CompressedSize = static_cast<uint32_t>(data.size());
        return true;
    }

    // APPNOTE 6.1.6: 11 filler bytes and a check byte, the high byte of the CRC (no data
    // descriptor here, so the CRC is known before the data), all run through the cipher.
    entry.Flags = FlagEncrypted;
    uint64_t state = EntrySeed(file.Name, content);
    data.resize(EncryptionHeaderSize);
    for (size_t i = 0; i < EncryptionHeaderSize - 1; i++)
        data[i] = static_cast<unsigned char>(NextRandom(state) >> 56);
    data[EncryptionHeaderSize - 1] = static_cast<unsigned char>(entry.Crc >> 24);
    data.insert(data.end(), body.begin(), body.end());
    CipherKeys keys;
    InitKeys(keys, options.Password);
    EncryptBytes(keys, data.data(), data.size());
    entry.CompressedSize = static_cast<uint32_t>(data.size());
    return true;
}

bool WriteArchive(const std::string& archivePath, std::vector<PayloadFile> files,
                  const ArchiveOptions& options, PackStats& stats, Problems& problems,
                  ProgressBar* progress)
{
    if (files.size() > MaxEntries) {
        problems.push_back("more than 65535 payload files");
        return false;
    }
    std::sort(files.begin(), files.end(),
              [](const PayloadFile& a, const PayloadFile& b) { return a.Name < b.Name; });
    FILE* out = std::fopen(archivePath.c_str(), "wb");
    if (!out) {
        problems.push_back(ErrnoText("cannot create", archivePath));
        return false;
    }
    stats = PackStats();
    std::vector<WrittenEntry> written;
    uint64_t offset = 0;
    bool ok = PutRecord(out, options.Prefix, offset);
    if (!ok)
        problems.push_back("cannot write " + archivePath);
    uint64_t packed = 0;
    for (const PayloadFile& file : files) {
        if (!ok)
            break;
        if (progress)
            ShowProgress(*progress, packed, file.Name);
        WrittenEntry entry{};
        std::vector<unsigned char> data;
        if (!PackEntry(file, options, entry, data, problems)) {
            ok = false;
            break;
        }
        if (offset + 30 + entry.Name.size() + data.size() > MaxZipField) {
            problems.push_back("the payload archive would exceed 4 GiB (no ZIP64 here)");
            ok = false;
            break;
        }
        entry.HeaderOffset = static_cast<uint32_t>(offset);
        std::vector<unsigned char> header;
        Put32(header, LocalHeaderSignature);
        PutCommonFields(header, entry);
        header.insert(header.end(), entry.Name.begin(), entry.Name.end());
        if (!PutRecord(out, header, offset) || !PutRecord(out, data, offset)) {
            problems.push_back("cannot write " + archivePath);
            ok = false;
            break;
        }
        stats.StoredBytes += entry.UncompressedSize;
        packed += entry.UncompressedSize;
        written.push_back(entry);
    }
    if (progress)
        EndProgress(*progress);

    if (ok) {
        std::vector<unsigned char> directory;
        for (const WrittenEntry& entry : written) {
            Put32(directory, CentralHeaderSignature);
            Put16(directory, VersionMadeBy);
            PutCommonFields(directory, entry);
            Put16(directory, 0); // file comment length
            Put16(directory, 0); // disk number start
            Put16(directory, 0); // internal attributes
            Put32(directory, DosArchiveAttribute);
            Put32(directory, entry.HeaderOffset);
            directory.insert(directory.end(), entry.Name.begin(), entry.Name.end());
        }
        uint64_t directoryOffset = offset;
        std::vector<unsigned char> end; // APPNOTE 4.3.16
        Put32(end, EndRecordSignature);
        Put16(end, 0); // this disk
        Put16(end, 0); // disk of the central directory
        Put16(end, static_cast<uint32_t>(written.size()));
        Put16(end, static_cast<uint32_t>(written.size()));
        Put32(end, static_cast<uint32_t>(directory.size()));
        Put32(end, static_cast<uint32_t>(directoryOffset));
        Put16(end, 0); // comment length
        if (directoryOffset + directory.size() + end.size() > MaxZipField) {
            problems.push_back("the payload archive would exceed 4 GiB (no ZIP64 here)");
            ok = false;
        } else if (!PutRecord(out, directory, offset) || !PutRecord(out, end, offset)) {
            problems.push_back("cannot write " + archivePath);
            ok = false;
        }
    }
    if (std::fclose(out) != 0 && ok) {
        problems.push_back("cannot write " + archivePath);
        ok = false;
    }
    if (!ok) {
        std::remove(archivePath.c_str());
        return false;
    }
    stats.ArchiveBytes = offset - options.Prefix.size();
    stats.Entries = static_cast<int>(written.size());
    return true;
}
