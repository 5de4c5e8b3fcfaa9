// The central directory reader, the listing format, name patterns and the progress bar that
// tqunzip and tqpack share. The reader finds the end-of-central-directory record from the end of
// the file (APPNOTE 4.3.16) and walks the central directory headers (APPNOTE 4.3.12).
#include "tools/common/archive.h"
#include "util/bytes.h"

#include "unzip/unzip.h"

#include <ctype.h>
#include <errno.h>
#include <string.h>

constexpr uint32_t CentralHeaderSignature = 0x02014b50;
constexpr uint32_t EndRecordSignature = 0x06054b50;
constexpr size_t CentralHeaderSize = 46;   // signature included
constexpr size_t EndRecordSize = 22;       // signature included
constexpr size_t MaxCommentLength = 0xFFFF;
constexpr int BarWidth = 30;
constexpr size_t LabelWidth = 40;          // characters of the current item shown beside the bar
constexpr char NoEndRecord[] = "no end-of-central-directory record: not a ZIP archive, or one cut short";

void ReadEntryFields(const unsigned char* flags, ArchiveEntry& entry)
{
    entry.Flags = ReadLittle16(flags);
    entry.Method = ReadLittle16(flags + 2);
    entry.DosTime = ReadLittle16(flags + 4);
    entry.DosDate = ReadLittle16(flags + 6);
    entry.Crc = ReadLittle32(flags + 8);
    entry.CompressedSize = ReadLittle32(flags + 12);
    entry.UncompressedSize = ReadLittle32(flags + 16);
}

static DirectoryStatus Fail(DirectoryStatus status, std::string& reason, const char* text)
{
    reason = text;
    return status;
}

// Reads the whole central directory of an open file; on success directory holds it, count the
// number of entries the end record announces and shift the length of whatever stands in front
// of the archive (the directory's position less the offset the end record gives it).
static DirectoryStatus ReadDirectoryBytes(FILE* file, std::vector<unsigned char>& directory,
                                          unsigned& count, int64_t& shift, long& start, std::string& reason)
{
    if (fseek(file, 0, SEEK_END) != 0)
        return Fail(DirectoryStatus::CannotOpen, reason, strerror(errno));
    long fileSize = ftell(file);
    if (fileSize < (long)EndRecordSize)
        return Fail(DirectoryStatus::NotAnArchive, reason, NoEndRecord);

    // The end record is the last record; only its comment (at most 65535 bytes) may follow it.
    size_t tailSize = (size_t)fileSize < EndRecordSize + MaxCommentLength
        ? (size_t)fileSize : EndRecordSize + MaxCommentLength;
    std::vector<unsigned char> tail(tailSize);
    long tailStart = fileSize - (long)tailSize;
    if (fseek(file, tailStart, SEEK_SET) != 0 || fread(tail.data(), 1, tailSize, file) != tailSize)
        return Fail(DirectoryStatus::CannotOpen, reason,
            ferror(file) ? strerror(errno) : "cannot read the end of the file");

    const unsigned char* end = nullptr;
    for (size_t at = tailSize - EndRecordSize + 1; at-- > 0;) {
        const unsigned char* p = tail.data() + at;
        if (ReadLittle32(p) == EndRecordSignature && at + EndRecordSize + ReadLittle16(p + 20) <= tailSize) {
            end = p;
            break;
        }
    }
    if (end == nullptr)
        return Fail(DirectoryStatus::NotAnArchive, reason, NoEndRecord);

    count = ReadLittle16(end + 10);
    uint32_t directorySize = ReadLittle32(end + 12);
    long endPosition = tailStart + (long)(end - tail.data());
    if (directorySize > (uint32_t)endPosition)
        return Fail(DirectoryStatus::Damaged, reason, "damaged: central directory larger than the file");
    start = endPosition - (long)directorySize;
    shift = (int64_t)start - (int64_t)ReadLittle32(end + 16);
    directory.resize(directorySize);
    if (fseek(file, start, SEEK_SET) != 0
        || fread(directory.data(), 1, directorySize, file) != directorySize)
        return Fail(DirectoryStatus::Damaged, reason, "damaged: cannot read the central directory");
    return DirectoryStatus::Read;
}

DirectoryStatus ReadCentralDirectory(const std::string& path, std::vector<ArchiveEntry>& entries,
                                     std::string& reason, uint64_t* directoryStart)
{
    entries.clear();
    FILE* file = fopen(path.c_str(), "rb");
    if (file == nullptr)
        return Fail(DirectoryStatus::CannotOpen, reason, strerror(errno));
    std::vector<unsigned char> directory;
    unsigned announced = 0;
    int64_t shift = 0;
    long start = 0;
    DirectoryStatus status = ReadDirectoryBytes(file, directory, announced, shift, start, reason);
    fclose(file);
    if (status != DirectoryStatus::Read)
        return status;
    if (directoryStart != nullptr)
        *directoryStart = (uint64_t)start;

    size_t at = 0;
    while (at + CentralHeaderSize <= directory.size() && ReadLittle32(&directory[at]) == CentralHeaderSignature) {
        const unsigned char* h = &directory[at];
        size_t nameLength = ReadLittle16(h + 28);
        size_t recordSize = CentralHeaderSize + nameLength + ReadLittle16(h + 30) + ReadLittle16(h + 32);
        if (at + recordSize > directory.size())
            return Fail(DirectoryStatus::Damaged, reason, "damaged: central directory cut short");
        ArchiveEntry entry;
        entry.Name.assign((const char*)h + CentralHeaderSize, nameLength);
        ReadEntryFields(h + 8, entry);
        int64_t offset = (int64_t)ReadLittle32(h + 42) + shift;
        if (offset < 0)
            return Fail(
                DirectoryStatus::Damaged, reason, "damaged: a local header offset lies before the file");
        entry.HeaderOffset = (uint64_t)offset;
        entries.push_back(entry);
        at += recordSize;
    }
    if (entries.size() != announced)
        return Fail(DirectoryStatus::Damaged, reason,
            "damaged: the central directory holds another number of entries than its end record says");
    return DirectoryStatus::Read;
}

std::string FormatDosDateTime(uint16_t date, uint16_t time)
{
    char text[32];
    snprintf(text, sizeof text, "%04u-%02u-%02u %02u:%02u:%02u", 1980u + (date >> 9), (date >> 5) & 15u,
             date & 31u, time >> 11, (time >> 5) & 63u, (time & 31u) * 2);
    return text;
}

static std::string MethodName(uint16_t method)
{
    switch (method) {
    case MethodStored: return "Stored";
    case MethodDeflated: return "Deflate";
    case 9: return "Defl64";
    case 12: return "BZip2";
    case 14: return "LZMA";
    case 93: return "Zstd";
    case 95: return "XZ";
    case 99: return "AES";
    default: return "M" + std::to_string(method);
    }
}

// Space saved by compression in whole percent, rounded toward zero; an encrypted entry's
// 12-byte header can make it slightly negative, which shows as 0%.
static int Ratio(uint64_t size, uint64_t packed)
{
    if (size == 0)
        return 0;
    return (int)(((int64_t)size - (int64_t)packed) * 100 / (int64_t)size);
}

void PrintListing(FILE* out, const std::vector<ArchiveEntry>& entries, bool verbose, bool quiet)
{
    // Date and time take 16 characters, 19 with the seconds of the verbose form.
    int dateWidth = verbose ? 19 : 16;
    if (!quiet) {
        fprintf(out, "    Length      Packed  Method   Ratio  %-*s  CRC-32    Enc  %sName\n", dateWidth,
                "Modified", verbose ? "    Offset  " : "");
        fprintf(out, "----------  ----------  -------  -----  %.*s  --------  ---  %s----\n", dateWidth,
                "-------------------", verbose ? "----------  " : "");
    }
    uint64_t totalSize = 0, totalPacked = 0;
    for (const ArchiveEntry& entry : entries) {
        std::string when = FormatDosDateTime(entry.DosDate, entry.DosTime).substr(0, (size_t)dateWidth);
        fprintf(out, "%10lu  %10lu  %-7s  %4d%%  %s  %08lx  %-3s  ", (unsigned long)entry.UncompressedSize,
                (unsigned long)entry.CompressedSize, MethodName(entry.Method).c_str(),
                Ratio(entry.UncompressedSize, entry.CompressedSize), when.c_str(), (unsigned long)entry.Crc,
                (entry.Flags & FlagEncrypted) ? "*" : "-");
        if (verbose)
            fprintf(out, "%10llu  ", (unsigned long long)entry.HeaderOffset);
        fputs(entry.Name.c_str(), out);
        if (verbose && (entry.Flags & FlagDataDescriptor))
            fputs("  (data descriptor follows the data)", out);
        if (verbose && entry.Method != MethodStored && entry.Method != MethodDeflated)
            fputs("  (method not supported)", out);
        fputc('\n', out);
        totalSize += entry.UncompressedSize;
        totalPacked += entry.CompressedSize;
    }
    if (!quiet) {
        fprintf(out, "----------  ----------           -----  %*s  %s----\n", dateWidth + 15, "",
                verbose ? "            " : "");
        fprintf(out, "%10llu  %10llu           %4d%%  %*s  %s%zu %s\n", (unsigned long long)totalSize,
                (unsigned long long)totalPacked, Ratio(totalSize, totalPacked), dateWidth + 15, "",
                verbose ? "            " : "", entries.size(), entries.size() == 1 ? "entry" : "entries");
    }
}

static char Fold(char c)
{
    return c == '\\' ? '/' : (char)tolower((unsigned char)c);
}

bool NameMatches(const std::string& stored, const std::string& pattern)
{
    // Greedy matching with one backtracking point: the last "*" seen and where its run ended.
    size_t s = 0, p = 0, star = std::string::npos, resume = 0;
    while (s < stored.size()) {
        if (p < pattern.size() && pattern[p] == '*') {
            star = p++;
            resume = s;
        } else if (p < pattern.size() && (pattern[p] == '?' || Fold(pattern[p]) == Fold(stored[s]))) {
            ++p;
            ++s;
        } else if (star != std::string::npos) {
            p = star + 1;
            s = ++resume;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*')
        ++p;
    return p == pattern.size();
}

void StartProgress(ProgressBar& bar, FILE* stream, uint64_t total, bool enabled)
{
    bar = ProgressBar();
    bar.Stream = enabled ? stream : nullptr;
    bar.Total = total;
}

void ShowProgress(ProgressBar& bar, uint64_t done, const std::string& label)
{
    if (bar.Stream == nullptr)
        return;
    int percent = bar.Total == 0 ? 100 : (int)(done >= bar.Total ? 100 : done * 100 / bar.Total);
    if (percent == bar.LastPercent && label == bar.LastLabel)
        return;
    bar.LastPercent = percent;
    bar.LastLabel = label;
    int filled = percent * BarWidth / 100;
    std::string shown
        = label.size() > LabelWidth ? "..." + label.substr(label.size() - (LabelWidth - 3)) : label;
    fprintf(bar.Stream, "\r\033[K[%s%s] %3d%%  %s", std::string((size_t)filled, '#').c_str(),
            std::string((size_t)(BarWidth - filled), '-').c_str(), percent, shown.c_str());
    fflush(bar.Stream);
    bar.Drawn = true;
}

void EndProgress(ProgressBar& bar)
{
    if (bar.Stream != nullptr && bar.Drawn) {
        fputs("\r\033[K", bar.Stream);
        fflush(bar.Stream);
    }
    bar.Drawn = false;
    bar.LastPercent = -1;
    bar.LastLabel.clear();
}

std::string OutputNameRefusal(const std::string& folder, const std::string& name)
{
    switch (CheckOutputName(folder.c_str(), name.c_str())) {
    case OutputNameSafe:
        return std::string();
    case OutputNameFromRoot:
        return "the name starts at a root";
    case OutputNameHasColon:
        return "the name holds a \":\", a drive or stream on Windows";
    case OutputNameLeavesFolder:
        return "the name leads out of the destination folder";
    case OutputNameIsDevice:
        return "the name is a device on Windows";
    default:
        return "the output path would exceed " + std::to_string(OutputPathLimit) + " characters";
    }
}

std::string JoinPath(const std::string& folder, const std::string& name)
{
    if (folder.empty())
        return name;
    return folder.back() == '/' ? folder + name : folder + "/" + name;
}
