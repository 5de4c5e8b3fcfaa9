// The central directory reader of both tools. It finds the end-of-central-directory record from
// the end of the file (APPNOTE 4.3.16), or in front of the certificate table that a signed
// Windows program carries behind everything else (PE/COFF "Attribute Certificate Table"); follows
// the ZIP64 locator to the ZIP64 end record where there is one (4.3.14, 4.3.15); and walks the
// central directory headers (4.3.12) with the extra fields the tools use: ZIP64 sizes and offset
// (4.5.3), the extended timestamp (0x5455) and the Unicode path (0x7075).
#include "tools/common/archive.h"
#include "util/bytes.h"

#include "unzip/decode.h"

#include <errno.h>
#include <string.h>

constexpr uint32_t CentralHeaderSignature = 0x02014b50;
constexpr uint32_t EndRecordSignature = 0x06054b50;
constexpr uint32_t Zip64LocatorSignature = 0x07064b50;
constexpr uint32_t Zip64EndSignature = 0x06064b50;
constexpr size_t CentralHeaderSize = 46;   // signature included
constexpr size_t EndRecordSize = 22;       // signature included
constexpr size_t Zip64LocatorSize = 20;
constexpr size_t Zip64EndSize = 56;        // without its extensible data
constexpr size_t MaxCommentLength = 0xFFFF;
constexpr uint32_t Escape32 = 0xFFFFFFFF;  // "see the ZIP64 field"
constexpr uint16_t Escape16 = 0xFFFF;
constexpr uint16_t Zip64ExtraId = 0x0001;
constexpr uint16_t TimestampExtraId = 0x5455;
constexpr uint16_t UnicodePathExtraId = 0x7075;
constexpr size_t PeHeaderPointer = 0x3C;   // e_lfanew in the MS-DOS header
constexpr size_t PeOptionalHeader = 24;    // after "PE\0\0" and the COFF header
constexpr uint16_t Pe32Magic = 0x10B, Pe32PlusMagic = 0x20B;
constexpr size_t Pe32DataDirectories = 96, Pe32PlusDataDirectories = 112;
constexpr size_t SecurityDirectory = 4;    // the certificate table's entry, 8 bytes each
constexpr char NoEndRecord[] = "no end-of-central-directory record: not a ZIP archive, or one cut short";

uint32_t UnixMode(const ArchiveEntry& entry)
{
    return (entry.MadeBy >> 8) == HostUnix ? entry.ExternalAttributes >> 16 : 0;
}

// Code page 850's upper half in ISO 8859-1: the same character where 8859-1 has it, "+", "-",
// "|" (0xA6) for line drawing, and nothing for 0x98, as users of the common Unix extractor know
// the names.
static const unsigned char Cp850Upper[128] = {
    0xC7, 0xFC, 0xE9, 0xE2, 0xE4, 0xE0, 0xE5, 0xE7, 0xEA, 0xEB, 0xE8, 0xEF, 0xEE, 0xEC, 0xC4, 0xC5,
    0xC9, 0xE6, 0xC6, 0xF4, 0xF6, 0xF2, 0xFB, 0xF9, 0x00, 0xD6, 0xDC, 0xF8, 0xA3, 0xD8, 0xD7, 0x83,
    0xE1, 0xED, 0xF3, 0xFA, 0xF1, 0xD1, 0xAA, 0xBA, 0xBF, 0xAE, 0xAC, 0xBD, 0xBC, 0xA1, 0xAB, 0xBB,
    0xA6, 0xA6, 0xA6, 0xA6, 0xA6, 0xC1, 0xC2, 0xC0, 0xA9, 0xA6, 0xA6, 0x2B, 0x2B, 0xA2, 0xA5, 0x2B,
    0x2B, 0x2D, 0x2D, 0x2B, 0x2D, 0x2B, 0xE3, 0xC3, 0x2B, 0x2B, 0x2D, 0x2D, 0xA6, 0x2D, 0x2B, 0xA4,
    0xF0, 0xD0, 0xCA, 0xCB, 0xC8, 0x69, 0xCD, 0xCE, 0xCF, 0x2B, 0x2B, 0xA6, 0x5F, 0xA6, 0xCC, 0xAF,
    0xD3, 0xDF, 0xD4, 0xD2, 0xF5, 0xD5, 0xB5, 0xFE, 0xDE, 0xDA, 0xDB, 0xD9, 0xFD, 0xDD, 0xAF, 0xB4,
    0xAD, 0xB1, 0x3D, 0xBE, 0xB6, 0xA7, 0xF7, 0xB8, 0xB0, 0xA8, 0xB7, 0xB9, 0xB3, 0xB2, 0xA6, 0xA0,
};

std::string Cp850ToLatin1(const std::string& name)
{
    std::string converted;
    converted.reserve(name.size());
    for (char c : name) {
        unsigned char byte = (unsigned char)c;
        if (byte < 0x80)
            converted += c;
        else if (Cp850Upper[byte - 0x80] != 0)
            converted += (char)Cp850Upper[byte - 0x80];
    }
    return converted;
}

static DirectoryStatus Fail(DirectoryStatus status, std::string& reason, const char* text)
{
    reason = text;
    return status;
}

static bool ReadAt(FILE* file, uint64_t position, void* buffer, size_t count)
{
    return fseeko(file, (off_t)position, SEEK_SET) == 0 && fread(buffer, 1, count, file) == count;
}

// Where the archive of a signed Windows program ends: the start of its certificate table when
// that table closes the file; 0 when the file is no such program.
static uint64_t CertificateTableStart(FILE* file, uint64_t fileSize)
{
    unsigned char dos[PeHeaderPointer + 4];
    if (!ReadAt(file, 0, dos, sizeof dos) || dos[0] != 'M' || dos[1] != 'Z')
        return 0;
    uint64_t pe = ReadLittle32(dos + PeHeaderPointer);
    unsigned char header[PeOptionalHeader + Pe32PlusDataDirectories + 8 * (SecurityDirectory + 1)];
    if (!ReadAt(file, pe, header, sizeof header) || ReadLittle32(header) != 0x00004550)
        return 0;
    uint16_t magic = ReadLittle16(header + PeOptionalHeader);
    size_t directories = magic == Pe32Magic ? Pe32DataDirectories : magic == Pe32PlusMagic ? Pe32PlusDataDirectories : 0;
    if (directories == 0)
        return 0;
    const unsigned char* security = header + PeOptionalHeader + directories + 8 * SecurityDirectory;
    uint64_t start = ReadLittle32(security), size = ReadLittle32(security + 4);
    return size != 0 && start + size == fileSize ? start : 0;
}

// The last end record whose comment fits between it and end, or -1.
static int64_t FindEndRecord(FILE* file, uint64_t end, std::vector<unsigned char>& tail)
{
    size_t tailSize = end < EndRecordSize + MaxCommentLength ? (size_t)end : EndRecordSize + MaxCommentLength;
    if (tailSize < EndRecordSize)
        return -1;
    tail.resize(tailSize);
    uint64_t tailStart = end - tailSize;
    if (!ReadAt(file, tailStart, tail.data(), tailSize))
        return -1;
    for (size_t at = tailSize - EndRecordSize + 1; at-- > 0;) {
        const unsigned char* p = tail.data() + at;
        if (ReadLittle32(p) == EndRecordSignature && at + EndRecordSize + ReadLittle16(p + 20) <= tailSize)
            return (int64_t)(tailStart + at);
    }
    return -1;
}

// Reads the whole central directory of an open file; on success directory holds it, count the
// number of entries the end record announces and shift the length of whatever stands in front
// of the archive (the directory's position less the offset the end record gives it).
static DirectoryStatus ReadDirectoryBytes(FILE* file, std::vector<unsigned char>& directory, uint64_t& count,
                                          int64_t& shift, ArchiveLayout& layout, std::string& reason)
{
    if (fseeko(file, 0, SEEK_END) != 0)
        return Fail(DirectoryStatus::CannotOpen, reason, strerror(errno));
    uint64_t fileSize = (uint64_t)ftello(file);
    std::vector<unsigned char> tail;
    int64_t endPosition = FindEndRecord(file, fileSize, tail);
    if (endPosition < 0) {
        uint64_t certificates = CertificateTableStart(file, fileSize);
        if (certificates != 0)
            endPosition = FindEndRecord(file, certificates, tail);
    }
    if (endPosition < 0)
        return Fail(ferror(file) ? DirectoryStatus::CannotOpen : DirectoryStatus::NotAnArchive, reason,
                    ferror(file) ? strerror(errno) : NoEndRecord);
    unsigned char end[EndRecordSize];
    if (!ReadAt(file, (uint64_t)endPosition, end, sizeof end))
        return Fail(DirectoryStatus::CannotOpen, reason, "cannot read the end of the file");

    count = ReadLittle16(end + 10);
    uint64_t directorySize = ReadLittle32(end + 12);
    uint64_t directoryOffset = ReadLittle32(end + 16);
    uint64_t recordsEnd = (uint64_t)endPosition;   // where the directory (and its ZIP64 records) end
    // A ZIP64 locator right in front of the end record points to the ZIP64 end record, whose
    // numbers hold where the classic ones are escaped (or wrong).
    unsigned char locator[Zip64LocatorSize];
    if ((uint64_t)endPosition >= Zip64LocatorSize + Zip64EndSize
        && ReadAt(file, (uint64_t)endPosition - Zip64LocatorSize, locator, sizeof locator)
        && ReadLittle32(locator) == Zip64LocatorSignature) {
        uint64_t stated = ReadLittle64(locator + 8);
        uint64_t expected = (uint64_t)endPosition - Zip64LocatorSize - Zip64EndSize;
        unsigned char record[Zip64EndSize];
        uint64_t found = expected;
        if (!ReadAt(file, found, record, sizeof record) || ReadLittle32(record) != Zip64EndSignature) {
            found = stated;
            if (!ReadAt(file, found, record, sizeof record) || ReadLittle32(record) != Zip64EndSignature)
                return Fail(DirectoryStatus::Damaged, reason,
                            "damaged: a ZIP64 locator points to no ZIP64 end-of-central-directory record");
        }
        count = ReadLittle64(record + 32);
        directorySize = ReadLittle64(record + 40);
        directoryOffset = ReadLittle64(record + 48);
        recordsEnd = found;
        layout.Zip64 = true;
    } else if (count == Escape16 || directorySize == Escape32 || directoryOffset == Escape32) {
        return Fail(DirectoryStatus::Damaged, reason,
                    "damaged: the end record leaves its numbers to ZIP64 records that are missing");
    }
    if (directorySize > recordsEnd)
        return Fail(DirectoryStatus::Damaged, reason, "damaged: central directory larger than the file");
    uint64_t start = recordsEnd - directorySize;
    shift = (int64_t)start - (int64_t)directoryOffset;
    layout.DirectoryStart = start;
    layout.Prefix = shift > 0 ? (uint64_t)shift : 0;
    if (directorySize > fileSize)
        return Fail(DirectoryStatus::Damaged, reason, "damaged: central directory larger than the file");
    directory.resize((size_t)directorySize);
    if (!ReadAt(file, start, directory.data(), (size_t)directorySize))
        return Fail(DirectoryStatus::Damaged, reason, "damaged: cannot read the central directory");
    return DirectoryStatus::Read;
}

// The extra fields of one central header: ZIP64 values replace the escaped ones in the order
// APPNOTE 4.5.3 gives, an extended timestamp gives the modification time, a Unicode path whose
// CRC-32 matches the stored name gives the name.
static void ReadExtraFields(const unsigned char* extra, size_t length, uint32_t offset32, ArchiveEntry& entry,
                            std::string& unicodeName)
{
    size_t at = 0;
    while (at + 4 <= length) {
        uint16_t id = ReadLittle16(extra + at);
        size_t size = ReadLittle16(extra + at + 2);
        const unsigned char* data = extra + at + 4;
        if (at + 4 + size > length)
            break;
        if (id == Zip64ExtraId) {
            size_t used = 0;
            auto take = [&](uint64_t& field) {
                if (used + 8 <= size) {
                    field = ReadLittle64(data + used);
                    used += 8;
                    entry.Zip64 = true;
                }
            };
            if (entry.UncompressedSize == Escape32)
                take(entry.UncompressedSize);
            if (entry.CompressedSize == Escape32)
                take(entry.CompressedSize);
            if (offset32 == Escape32)
                take(entry.HeaderOffset);
        } else if (id == TimestampExtraId && size >= 5 && (data[0] & 1)) {
            entry.HasUnixTime = true;
            entry.UnixTime = (int32_t)ReadLittle32(data + 1);
        } else if (id == UnicodePathExtraId && size >= 5 && data[0] == 1) {
            uint32_t crc = ~AddToCrc(0xFFFFFFFFu, (const unsigned char*)entry.StoredName.data(), entry.StoredName.size());
            if (crc == ReadLittle32(data + 1))
                unicodeName.assign((const char*)data + 5, size - 5);
        }
        at += 4 + size;
    }
}

DirectoryStatus ReadCentralDirectory(const std::string& path, std::vector<ArchiveEntry>& entries,
                                     std::string& reason, ArchiveLayout* layoutOut)
{
    entries.clear();
    FILE* file = fopen(path.c_str(), "rb");
    if (file == nullptr)
        return Fail(DirectoryStatus::CannotOpen, reason, strerror(errno));
    std::vector<unsigned char> directory;
    uint64_t announced = 0;
    int64_t shift = 0;
    ArchiveLayout layout;
    DirectoryStatus status = ReadDirectoryBytes(file, directory, announced, shift, layout, reason);
    fclose(file);
    if (status != DirectoryStatus::Read)
        return status;
    if (layoutOut != nullptr)
        *layoutOut = layout;

    size_t at = 0;
    entries.reserve(announced < directory.size() / CentralHeaderSize ? (size_t)announced
                                                                       : directory.size() / CentralHeaderSize);
    while (at + CentralHeaderSize <= directory.size() && ReadLittle32(&directory[at]) == CentralHeaderSignature) {
        const unsigned char* h = &directory[at];
        size_t nameLength = ReadLittle16(h + 28);
        size_t extraLength = ReadLittle16(h + 30);
        size_t recordSize = CentralHeaderSize + nameLength + extraLength + ReadLittle16(h + 32);
        if (at + recordSize > directory.size())
            return Fail(DirectoryStatus::Damaged, reason, "damaged: central directory cut short");
        ArchiveEntry entry;
        entry.StoredName.assign((const char*)h + CentralHeaderSize, nameLength);
        entry.MadeBy = ReadLittle16(h + 4);
        ReadEntryFields(h + 8, entry);
        entry.ExternalAttributes = ReadLittle32(h + 38);
        uint32_t offset32 = ReadLittle32(h + 42);
        entry.HeaderOffset = offset32;
        std::string unicodeName;
        ReadExtraFields(h + CentralHeaderSize + nameLength, extraLength, offset32, entry, unicodeName);
        uint8_t host = (uint8_t)(entry.MadeBy >> 8);
        if (!unicodeName.empty())
            entry.Name = unicodeName;
        else if (!(entry.Flags & FlagUtf8Name) && (host == HostMsDos || host == HostHpfs))
            entry.Name = Cp850ToLatin1(entry.StoredName);
        else
            entry.Name = entry.StoredName;
        int64_t offset = (int64_t)entry.HeaderOffset + shift;
        if (offset < 0)
            return Fail(
                DirectoryStatus::Damaged, reason, "damaged: a local header offset lies before the file");
        entry.HeaderOffset = (uint64_t)offset;
        entries.push_back(std::move(entry));
        at += recordSize;
    }
    if (entries.size() != announced)
        return Fail(DirectoryStatus::Damaged, reason,
            "damaged: the central directory holds another number of entries than its end record says");
    return DirectoryStatus::Read;
}
