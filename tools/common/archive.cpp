// The listing format, name patterns and the progress bar that tqunzip and tqpack share (the
// central directory reader is directory.cpp).
#include "tools/common/archive.h"
#include "util/bytes.h"

#include "unzip/unzip.h"

#include <ctype.h>
#include <errno.h>
#include <string.h>

constexpr int BarWidth = 30;
constexpr size_t LabelWidth = 40;          // characters of the current item shown beside the bar

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
    case MethodBzip2: return "BZip2";
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

void PrintListing(FILE* out, const std::vector<ArchiveEntry>& entries, bool verbose, bool quiet, uint16_t otherMethod)
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
        if (verbose && entry.Method != MethodStored && entry.Method != MethodDeflated && entry.Method != otherMethod)
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

// Where a "[...]" class starting at pattern[p] ends (the index after "]"), or npos when it is
// not closed, in which case "[" stands for itself. A "]" right after "[" or "[!" is a member.
static size_t ClassEnd(const std::string& pattern, size_t p)
{
    size_t q = p + 1;
    if (q < pattern.size() && (pattern[q] == '!' || pattern[q] == '^'))
        ++q;
    if (q < pattern.size() && pattern[q] == ']')
        ++q;
    while (q < pattern.size() && pattern[q] != ']')
        ++q;
    return q < pattern.size() ? q + 1 : std::string::npos;
}

// Whether c is a member of the class pattern[p, end): single characters and ranges "a-z".
static bool InClass(const std::string& pattern, size_t p, size_t end, char c, bool ignoreCase)
{
    size_t q = p + 1;
    bool negated = pattern[q] == '!' || pattern[q] == '^';
    q += negated;
    unsigned char wanted = (unsigned char)(ignoreCase ? Fold(c) : c == '\\' ? '/' : c);
    bool member = false;
    for (; q < end - 1; ++q) {
        unsigned char low = (unsigned char)pattern[q], high = low;
        if (q + 2 < end - 1 && pattern[q + 1] == '-') {
            high = (unsigned char)pattern[q + 2];
            q += 2;
        }
        if (ignoreCase) {
            // A range of letters holds both cases of each of them.
            for (unsigned code = low; code <= high && !member; ++code)
                member = (unsigned char)Fold((char)code) == wanted;
        } else {
            member = member || (wanted >= low && wanted <= high);
        }
    }
    return member != negated;
}

static bool CharacterMatches(char p, char s, bool ignoreCase)
{
    if (ignoreCase)
        return Fold(p) == Fold(s);
    return (p == '\\' ? '/' : p) == (s == '\\' ? '/' : s);
}

bool NameMatches(const std::string& stored, const std::string& pattern, bool ignoreCase)
{
    // Greedy matching with one backtracking point: the last "*" seen and where its run ended.
    size_t s = 0, p = 0, star = std::string::npos, resume = 0;
    while (s < stored.size()) {
        size_t classEnd = p < pattern.size() && pattern[p] == '[' ? ClassEnd(pattern, p) : std::string::npos;
        if (p < pattern.size() && pattern[p] == '*') {
            star = p++;
            resume = s;
        } else if (classEnd != std::string::npos && InClass(pattern, p, classEnd, stored[s], ignoreCase)) {
            p = classEnd;
            ++s;
        } else if (classEnd == std::string::npos && p < pattern.size()
                   && (pattern[p] == '?' || CharacterMatches(pattern[p], stored[s], ignoreCase))) {
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
