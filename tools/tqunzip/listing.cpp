// The listing of tqunzip: finds the end-of-central-directory record from the end of the file
// (APPNOTE 4.3.16), walks the central directory headers (APPNOTE 4.3.12) and prints one line per
// entry: uncompressed and compressed size, method, CRC-32, encryption flag and stored name.
// The central directory is found from the end record's own position less the directory's size,
// so an archive with other data in front of it (a program, for instance) lists correctly.
#include "tools/tqunzip/tqunzip.h"

#include <stdint.h>
#include <stdio.h>
#include <string.h>
#include <strings.h>

#include <string>
#include <vector>

constexpr uint32_t CentralHeaderSignature = 0x02014b50;
constexpr uint32_t EndRecordSignature = 0x06054b50;
constexpr size_t CentralHeaderSize = 46;   // signature included
constexpr size_t EndRecordSize = 22;       // signature included
constexpr size_t MaxCommentLength = 0xFFFF;
constexpr unsigned EncryptedFlag = 0x0001; // general-purpose bit 0

static uint16_t Get16(const unsigned char* p)
{
    return (uint16_t)(p[0] | p[1] << 8);
}

static uint32_t Get32(const unsigned char* p)
{
    return (uint32_t)p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 | (uint32_t)p[3] << 24;
}

int NamesMatch(const char* stored, const char* requested)
{
    std::string normalised(stored);
    for (char& c : normalised)
        if (c == '\\')
            c = '/';
    return strcasecmp(normalised.c_str(), requested) == 0;
}

static int IsRequested(const char* name, char** names, int count)
{
    if (count == 0)
        return 1;
    for (int i = 0; i < count; ++i)
        if (NamesMatch(name, names[i]))
            return 1;
    return 0;
}

static const char* MethodName(unsigned method, char* buffer, size_t size)
{
    if (method == 0)
        return "Stored";
    if (method == 8)
        return "Deflate";
    snprintf(buffer, size, "M%u", method);
    return buffer;
}

static int ListFailed(const char* path, const char* reason)
{
    fprintf(stderr, "tqunzip: %s: %s\n", path, reason);
    return ExitFailed;
}

// Reads the whole central directory into memory. On success directory holds it and count the
// number of entries that the end record announces.
static const char* ReadDirectory(FILE* file, std::vector<unsigned char>& directory, unsigned& count)
{
    if (fseek(file, 0, SEEK_END) != 0)
        return "cannot seek";
    long fileSize = ftell(file);
    if (fileSize < (long)EndRecordSize)
        return "no end-of-central-directory record";

    // The end record is the last record; only its comment (at most 65535 bytes) may follow it.
    size_t tailSize = (size_t)fileSize < EndRecordSize + MaxCommentLength
        ? (size_t)fileSize : EndRecordSize + MaxCommentLength;
    std::vector<unsigned char> tail(tailSize);
    long tailStart = fileSize - (long)tailSize;
    if (fseek(file, tailStart, SEEK_SET) != 0 || fread(tail.data(), 1, tailSize, file) != tailSize)
        return "cannot read the end of the file";

    const unsigned char* end = nullptr;
    for (size_t at = tailSize - EndRecordSize + 1; at-- > 0;) {
        const unsigned char* p = tail.data() + at;
        if (Get32(p) == EndRecordSignature && at + EndRecordSize + Get16(p + 20) <= tailSize) {
            end = p;
            break;
        }
    }
    if (end == nullptr)
        return "no end-of-central-directory record";

    count = Get16(end + 10);
    uint32_t directorySize = Get32(end + 12);
    long endPosition = tailStart + (long)(end - tail.data());
    if (directorySize > (uint32_t)endPosition)
        return "central directory larger than the file";
    directory.resize(directorySize);
    if (fseek(file, endPosition - (long)directorySize, SEEK_SET) != 0
        || fread(directory.data(), 1, directorySize, file) != directorySize)
        return "cannot read the central directory";
    return nullptr;
}

int ListArchive(const char* path, char** names, int count, int quiet)
{
    FILE* file = fopen(path, "rb");
    if (file == nullptr)
        return ListFailed(path, "cannot open");
    std::vector<unsigned char> directory;
    unsigned announced = 0;
    const char* failure = ReadDirectory(file, directory, announced);
    fclose(file);
    if (failure != nullptr)
        return ListFailed(path, failure);

    if (!quiet) {
        printf("    Length  Compressed  Method      CRC-32  Enc  Name\n");
        printf("----------  ----------  -------  --------  ---  ----\n");
    }
    uint64_t totalLength = 0, totalCompressed = 0;
    unsigned listed = 0, seen = 0;
    size_t at = 0;
    while (at + CentralHeaderSize <= directory.size() && Get32(&directory[at]) == CentralHeaderSignature) {
        const unsigned char* h = &directory[at];
        size_t nameLength = Get16(h + 28);
        size_t recordSize = CentralHeaderSize + nameLength + Get16(h + 30) + Get16(h + 32);
        if (at + recordSize > directory.size())
            return ListFailed(path, "truncated central directory");
        std::string name((const char*)h + CentralHeaderSize, nameLength);
        ++seen;
        at += recordSize;
        if (!IsRequested(name.c_str(), names, count))
            continue;

        uint32_t compressed = Get32(h + 20), length = Get32(h + 24);
        char method[16];
        printf("%10lu  %10lu  %-7s  %08lx  %-3s  %s\n", (unsigned long)length,
            (unsigned long)compressed, MethodName(Get16(h + 10), method, sizeof method),
            (unsigned long)Get32(h + 16), (Get16(h + 8) & EncryptedFlag) ? "yes" : "no",
            name.c_str());
        totalLength += length;
        totalCompressed += compressed;
        ++listed;
    }
    if (seen != announced)
        return ListFailed(path, "damaged central directory");
    if (!quiet) {
        printf("----------  ----------                         ----\n");
        printf("%10llu  %10llu                         %u %s\n", (unsigned long long)totalLength,
            (unsigned long long)totalCompressed, listed, listed == 1 ? "entry" : "entries");
    }
    return 0;
}
