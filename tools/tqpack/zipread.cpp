// Reads a payload archive back the way setup's extraction engine does: local headers in file
// order from the start of the file (APPNOTE 4.3.7), each entry's data passed over by its
// compressed size, then the central directory (4.3.12), which must describe the same entries,
// and the end record (4.3.16). Also the rule for names that setup can write safely.
#include "tqpack.h"
#include "util/bytes.h"

#include <cctype>
#include <cstdio>
#include <cstring>

constexpr uint32_t LocalHeaderSignature = 0x04034b50;
constexpr uint32_t CentralHeaderSignature = 0x02014b50;
constexpr uint32_t EndRecordSignature = 0x06054b50;
constexpr size_t LocalFixedSize = 26;   // after the signature
constexpr size_t CentralFixedSize = 42;
constexpr size_t EndFixedSize = 18;

static bool ReadExactly(FILE* file, unsigned char* buffer, size_t size)
{
    return std::fread(buffer, 1, size, file) == size;
}

static std::string Hex32(uint32_t value)
{
    char text[16];
    std::snprintf(text, sizeof text, "%08x", value);
    return text;
}

static bool ReadName(FILE* file, size_t length, std::string& name)
{
    name.assign(length, '\0');
    return length == 0 || ReadExactly(file, reinterpret_cast<unsigned char*>(&name[0]), length);
}

// Reads one local header after its signature; leaves the file behind the entry's data.
static bool ReadLocalEntry(FILE* file, uint64_t offset, ArchiveEntry& entry, Problems& problems)
{
    unsigned char fixed[LocalFixedSize];
    if (!ReadExactly(file, fixed, sizeof fixed) || !ReadName(file, ReadLittle16(fixed + 22), entry.Name)) {
        problems.push_back("local header at offset " + std::to_string(offset) + " is cut short");
        return false;
    }
    ReadEntryFields(fixed + 2, entry);
    entry.HeaderOffset = offset;
    if (entry.Flags & FlagDataDescriptor) {
        // The engine takes CRC and sizes from the local header alone.
        problems.push_back(entry.Name + ": uses a data descriptor; setup reads only local headers");
        return false;
    }
    long skip = static_cast<long>(ReadLittle16(fixed + 24)) + static_cast<long>(entry.CompressedSize);
    if (std::fseek(file, skip, SEEK_CUR) != 0) {
        problems.push_back(entry.Name + ": entry data cut short");
        return false;
    }
    return true;
}

// Checks one central header against the local entry it must describe.
static bool ReadCentralEntry(FILE* file, const ArchiveEntry* local, Problems& problems)
{
    unsigned char fixed[CentralFixedSize];
    std::string name;
    if (!ReadExactly(file, fixed, sizeof fixed) || !ReadName(file, ReadLittle16(fixed + 24), name)) {
        problems.push_back("central directory cut short");
        return false;
    }
    std::fseek(file, static_cast<long>(ReadLittle16(fixed + 26)) + ReadLittle16(fixed + 28), SEEK_CUR);
    if (!local) {
        problems.push_back("central directory names " + name + ", which has no local header");
        return false;
    }
    if (name != local->Name || ReadLittle16(fixed + 4) != local->Flags || ReadLittle16(fixed + 6) != local->Method
        || ReadLittle32(fixed + 12) != local->Crc || ReadLittle32(fixed + 16) != local->CompressedSize
        || ReadLittle32(fixed + 20) != local->UncompressedSize || ReadLittle32(fixed + 38) != local->HeaderOffset) {
        problems.push_back("central directory disagrees with the local header of " + local->Name);
        return false;
    }
    return true;
}

bool ReadArchiveEntries(const std::string& archivePath, std::vector<ArchiveEntry>& entries,
                        Problems& problems, uint64_t start)
{
    entries.clear();
    FILE* file = std::fopen(archivePath.c_str(), "rb");
    if (!file || std::fseek(file, static_cast<long>(start), SEEK_SET) != 0) {
        problems.push_back("cannot open " + archivePath);
        if (file)
            std::fclose(file);
        return false;
    }
    size_t problemsBefore = problems.size();
    size_t centralCount = 0;
    bool ended = false;
    unsigned char signature[4];
    while (problems.size() == problemsBefore) {
        long position = std::ftell(file);
        if (!ReadExactly(file, signature, 4)) {
            problems.push_back(archivePath + ": no end-of-central-directory record");
            break;
        }
        uint32_t value = ReadLittle32(signature);
        if (value == LocalHeaderSignature && centralCount == 0) {
            ArchiveEntry entry;
            if (ReadLocalEntry(file, static_cast<uint64_t>(position), entry, problems))
                entries.push_back(entry);
        } else if (value == CentralHeaderSignature) {
            const ArchiveEntry* local = centralCount < entries.size() ? &entries[centralCount] : nullptr;
            ReadCentralEntry(file, local, problems);
            centralCount++;
        } else if (value == EndRecordSignature) {
            unsigned char fixed[EndFixedSize];
            if (!ReadExactly(file, fixed, sizeof fixed))
                problems.push_back(archivePath + ": end record cut short");
            else if (ReadLittle16(fixed + 6) != entries.size() || centralCount != entries.size())
                problems.push_back(archivePath + ": entry counts of the central directory and the "
                                   "local headers differ");
            ended = true;
            break;
        } else {
            problems.push_back(archivePath + ": unexpected bytes at offset " + std::to_string(position)
                               + " (signature " + Hex32(value) + ")");
        }
    }
    std::fclose(file);
    return ended && problems.size() == problemsBefore;
}

std::string CheckPayloadName(const std::string& name)
{
    if (name.empty())
        return "empty name";
    if (name.size() > MaxStoredName)
        return "name longer than " + std::to_string(MaxStoredName) + " characters";
    for (unsigned char c : name) {
        if (c == '/' || c == '\\')
            return "holds a path separator (setup writes every entry into the install folder itself)";
        if (c < 0x20 || c >= 0x7F)
            // Setup converts names from the OEM to the ANSI code page; only ASCII reads the
            // same in every pair of code pages.
            return "holds a character outside printable ASCII";
        if (std::strchr("<>\"|?*", c))
            return "holds a character that Windows does not allow in file names";
    }
    if (name.back() == '.' || name.back() == ' ')
        return "ends in a dot or a blank, which Windows drops";
    // The engine's own rule: no drive or stream, no device, and room behind the longest folder
    // that setup proposes.
    std::string refusal = OutputNameRefusal(LongestProposedFolder, name);
    return refusal.empty() ? refusal : "in " + std::string(LongestProposedFolder) + " " + refusal;
}
