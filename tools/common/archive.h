// What tqunzip and tqpack share: an archive's entries as its central directory describes them
// (APPNOTE 4.3.12 and 4.3.16), the one listing format of both tools, name patterns, MS-DOS
// date and time as text, and the progress bar drawn on a terminal during long work.
#ifndef TQ_TOOLS_COMMON_ARCHIVE_H
#define TQ_TOOLS_COMMON_ARCHIVE_H

#include <stdint.h>
#include <stdio.h>

#include <string>
#include <vector>

constexpr uint16_t MethodStored = 0;
constexpr uint16_t MethodDeflated = 8;
constexpr uint16_t FlagEncrypted = 1 << 0;        // general-purpose flags, APPNOTE 4.4.4
constexpr uint16_t FlagDataDescriptor = 1 << 3;   // CRC and sizes follow the data

struct ArchiveEntry {
    std::string Name;
    uint16_t Flags = 0;
    uint16_t Method = 0;
    uint16_t DosTime = 0;
    uint16_t DosDate = 0;
    uint32_t Crc = 0;
    uint32_t CompressedSize = 0;
    uint32_t UncompressedSize = 0;
    uint64_t HeaderOffset = 0;   // where the local header stands in the file
};

// Fills Flags through UncompressedSize from a header's general-purpose flags onwards: the same
// 22 bytes in a local header (APPNOTE 4.3.7) and a central header (4.3.12).
void ReadEntryFields(const unsigned char* flags, ArchiveEntry& entry);

// Outcomes of reading a central directory.
enum class DirectoryStatus {
    Read,
    CannotOpen,     // errno tells why
    NotAnArchive,   // no end-of-central-directory record
    Damaged,        // a record of the directory is cut short or does not add up
};

// Reads the entries of the archive at path in central directory order. The directory is found
// from the end record's own position less the directory's size, so an archive with other data
// in front of it (a program, for instance) is read too; HeaderOffset is then moved by the
// length of that data. reason says what is wrong when the result is not Read; directoryStart,
// when given, receives where the central directory begins in the file.
DirectoryStatus ReadCentralDirectory(const std::string& path, std::vector<ArchiveEntry>& entries,
                                     std::string& reason, uint64_t* directoryStart = nullptr);

// Prints entries in the listing format of both tools: size, packed size, method, ratio, date
// and time, CRC-32, an encryption mark and the name, then a totals line. Quiet leaves out the
// heading and the totals; verbose adds seconds, the local header offset and notes on the
// entry's form (data descriptor, unknown method).
void PrintListing(FILE* out, const std::vector<ArchiveEntry>& entries, bool verbose, bool quiet);

// "2026-06-01 14:00:00": the stored MS-DOS date and time (local time, even seconds).
std::string FormatDosDateTime(uint16_t date, uint16_t time);

// Matches a stored name against a NAME given on the command line as unzip does: "*" stands for
// any run of characters ("/" included), "?" for one character; letter case is ignored and "\"
// in the stored name counts as "/", as the extraction engine selects names.
bool NameMatches(const std::string& stored, const std::string& pattern);

// folder "/" name, without a second "/" where folder ends in one; name alone for an empty folder.
std::string JoinPath(const std::string& folder, const std::string& name);

// Why the extraction engine would refuse to write name (the part of an output path below folder)
// by its one rule for output names (CheckOutputName, unzip/unzip.h); empty when it would not.
std::string OutputNameRefusal(const std::string& folder, const std::string& name);

// A one-line progress bar on a terminal: a bar, the percentage and the current item. Inactive
// (every call does nothing) unless it was started with enabled set, which callers give only
// when the stream is a terminal and the user did not ask for quiet.
struct ProgressBar {
    FILE* Stream = nullptr;
    uint64_t Total = 0;
    int LastPercent = -1;
    std::string LastLabel;
    bool Drawn = false;
};
void StartProgress(ProgressBar& bar, FILE* stream, uint64_t total, bool enabled);
void ShowProgress(ProgressBar& bar, uint64_t done, const std::string& label);
// Clears the bar's line, so that what is printed next starts on an empty line.
void EndProgress(ProgressBar& bar);

#endif
