// tqpack: builds, verifies and lists a distribution folder (setup.exe, the payload archive
// "setup.tq" and the seven text files). Shared declarations of the tool's files; every
// operation reports its problems as lines of text in a Problems list and returns false.
#ifndef TQ_TOOLS_TQPACK_H
#define TQ_TOOLS_TQPACK_H

#include "tools/common/archive.h"
#include "tools/common/cli.h"
#include "unzip/unzip.h"

#include <cstdint>
#include <string>
#include <vector>

typedef std::vector<std::string> Problems;

// Exit codes: ExitSuccess, 1 failure (the problems are listed), ExitUsage (tools/common/cli.h).
constexpr int ExitFailure = 1;

constexpr const char SetupProgramName[] = "setup.exe";
constexpr const char PayloadArchiveName[] = "setup.tq";
constexpr const char PayloadMainProgram[] = "tessel32.ex_"; // setup renames it to TESSEL32.EXE
constexpr const char InstalledMainProgram[] = "TESSEL32.EXE";
extern const char* const TextFileNames[7];

// Engine limits on a stored name and an output path (its EntryName and CreateName buffers).
constexpr size_t MaxStoredName = 263;
constexpr size_t MaxOutputPath = OutputPathLimit;
// The longest folder setup proposes by itself ("C:\Program Files (x86)\Tessel32\"): a payload
// name must fit behind it within MaxOutputPath.
constexpr const char LongestProposedFolder[] = "C:\\Program Files (x86)\\Tessel32\\";

// ---- files (files.cpp) ----
// File times are counted as Windows counts them: 100-ns ticks since 1601-01-01 UTC. On POSIX
// systems this is the nanosecond mtime cut to whole 100-ns ticks, the mapping Wine uses.
bool ReadWholeFile(const std::string& path, std::vector<unsigned char>& data, Problems& problems);
bool WriteWholeFile(const std::string& path, const std::vector<unsigned char>& data, Problems& problems);
bool GetFileTime100ns(const std::string& path, int64_t& ticks);
bool SetFileTime100ns(const std::string& path, int64_t ticks);
bool IsRegularFile(const std::string& path);
bool IsDirectory(const std::string& path);
bool MakeDirectory(const std::string& path);
// Names in a folder (not "." or ".."), sorted by byte value; folders get a trailing "/".
bool ListDirectory(const std::string& path, std::vector<std::string>& names);
// Canonical absolute form of an existing folder; empty when it cannot be resolved.
std::string CanonicalFolder(const std::string& path);

// ---- MS-DOS date and time, local time (files.cpp) ----
// Packs a file time into MS-DOS time (low 16 bits) and date (high 16 bits) of the local
// clock; seconds are cut to even values, times before 1980 become 1980-01-01 00:00:00 and
// times after 2107 become 2107-12-31 23:59:58.
// FormatDosDateTime (tools/common/archive.h) shows them.
uint32_t DosDateTimeFromTicks(int64_t ticks);

// ---- archive writing (zipwrite.cpp) ----
struct PayloadFile {
    std::string Name;       // name stored in the archive
    std::string SourcePath; // file it is read from
};
struct PackStats {
    uint64_t StoredBytes = 0;   // uncompressed bytes of all entries
    uint64_t ArchiveBytes = 0;  // size of the written archive
    int Entries = 0;
};
enum class Compressor { Libdeflate, Zlib };
struct ArchiveOptions {
    std::string Password = DefaultPassword;
    bool Encrypt = true;                 // every entry with the traditional cipher
    Compressor UseCompressor = Compressor::Libdeflate;
    // Bytes written in front of the archive (a self-extractor's program). Offsets in the central
    // directory count from the start of the file, so other ZIP readers find the entries too.
    std::vector<unsigned char> Prefix;
};
// The sizes of the files together, the total of a progress bar over packing them.
uint64_t FilesSize(const std::vector<PayloadFile>& files);
// progress, when given, is advanced by each file's size as the file is packed.
bool WriteArchive(const std::string& archivePath, std::vector<PayloadFile> files,
                  const ArchiveOptions& options, PackStats& stats, Problems& problems,
                  ProgressBar* progress = nullptr);
uint32_t Crc32(uint32_t crc, const unsigned char* data, size_t size);
// Raw Deflate (RFC 1951) of data at the library's strongest level; false when it fails.
bool DeflateData(Compressor compressor, const std::vector<unsigned char>& data,
                 std::vector<unsigned char>& output);

// ---- archive reading (zipread.cpp); ArchiveEntry is in tools/common/archive.h ----
// Walks the local headers in file order from start, as the extraction engine does, then
// checks the central directory against them. HeaderOffset counts from the start of the file.
bool ReadArchiveEntries(const std::string& archivePath, std::vector<ArchiveEntry>& entries,
                        Problems& problems, uint64_t start = 0);
// Empty when the engine can extract a file of this name into the install folder safely,
// otherwise the reason.
std::string CheckPayloadName(const std::string& name);

// ---- commands (build.cpp, verify.cpp) ----
struct BuildOptions {
    std::string SetupPath;
    std::string PayloadFolder;
    std::string TextsFolder;
    std::string OutFolder;
    std::string Password = DefaultPassword;
    Compressor UseCompressor = Compressor::Libdeflate;
    bool ShowProgress = false;   // a progress bar on standard error while the payload is packed
};
bool BuildDistribution(const BuildOptions& options, PackStats& stats, Problems& problems);
// Runs every check of the distribution; the engine's own messages are added to problems.
bool VerifyDistribution(const std::string& distFolder, Problems& problems);
// Prints the payload's entries in the listing format tqunzip -l shares.
bool ListDistribution(const std::string& distFolder, bool verbose, Problems& problems);
// Test run of the extraction engine over an archive with the default password and CRC errors
// reported; false with the engine's messages when the run ends in an error.
bool TestArchiveWithEngine(const std::string& archivePath, Problems& problems);
// The same run extracting into destFolder (keep-paths off), or a test run when it is null; the
// archive begins at startOffset in its file.
bool RunEngine(const std::string& archivePath, uint32_t startOffset, const char* destFolder,
               Problems& problems);

// ---- self-extracting bundles (bundle.cpp) ----
// A bundle is the self-extractor (tqsfx.exe) with an archive of a distribution folder appended
// behind its PE image: stored or deflated, not encrypted, every file with its own time.
struct BundleOptions {
    std::string DistFolder;
    std::string OutFile;
    std::string StubPath;  // the self-extractor program
    Compressor UseCompressor = Compressor::Libdeflate;
    bool ShowProgress = false;   // a progress bar on standard error while the files are packed
};
// Verifies the distribution first; writes nothing when it would not install.
bool BundleDistribution(const BundleOptions& options, PackStats& stats, Problems& problems);
// Everything the self-extractor and setup will meet: the program, the archive behind it and
// its entries, the distribution's files with the times setup compares, and then the
// distribution itself after the engine has unpacked it into a scratch folder.
bool VerifyBundle(const std::string& bundlePath, Problems& problems);
bool ListBundle(const std::string& bundlePath, bool verbose, Problems& problems);

#endif
