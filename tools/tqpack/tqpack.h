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

// ---- Windows programs (program.cpp) ----
struct ProgramHeaders {
    uint16_t Machine = 0;
    uint16_t Characteristics = 0;
    uint16_t Subsystem = 0;
    bool Wide = false;               // PE32+
    int Sections = 0;
    size_t SectionTable = 0;         // file offset of the section headers
    uint32_t SectionsEnd = 0;        // where the sections' raw data ends in the file
    size_t CertificateEntry = 0;     // file offset of the certificate table's directory entry
    uint32_t CertificateStart = 0;   // a file offset, unlike the other directories' addresses
    uint32_t CertificateSize = 0;
    uint32_t ResourceRva = 0;
    uint32_t ResourceSize = 0;
};
// False when the bytes hold no PE image.
bool ReadProgramHeaders(const std::vector<unsigned char>& bytes, ProgramHeaders& headers);
// Empty when the file is a Windows GUI program (32-bit, or the 64-bit test build) carrying
// setup's resources: both dialogs, the message texts, the shell-extension stub, the version
// record and the manifest. Otherwise the reason, to follow the file's name. wide, when given,
// tells whether it is the 64-bit build.
std::string CheckSetupProgram(const std::string& path, bool* wide = nullptr);

// ---- Authenticode signatures (signing.cpp), made and checked with osslsigncode ----
struct SigningOptions {
    std::string Pkcs12Path;        // a PKCS#12 file with key and certificate, or
    std::string KeyPath;           // a private key and
    std::string CertificatePath;   // its certificate (with the chain, PEM or DER)
    std::string PasswordFile;      // the key's password: the first line of this file, or
    std::string PasswordVariable;  // the value of this environment variable
    std::string TimestampUrl;      // an RFC 3161 time-stamp server, or empty
};
bool SigningWanted(const SigningOptions& options);
// Empty when the options name one key and at most one password source, otherwise the problem.
std::string CheckSigningOptions(const SigningOptions& options);
// Signs the program at inPath with SHA-256 into outPath (the same path signs in place; an
// earlier signature is replaced). The password reaches the signer through a pipe, never
// through a command line.
bool SignProgram(const SigningOptions& options, const std::string& inPath, const std::string& outPath,
                 Problems& problems);

enum class SignatureState {
    Unsigned,
    Intact,   // the signature verifies and its digest matches the file's bytes
    Broken,   // Reason says why
};
struct SignatureReport {
    SignatureState State = SignatureState::Unsigned;
    std::string Subject;      // of the signer's certificate
    std::string Reason;       // why the signature is broken
    bool Trusted = false;     // the certificate chains to a root of the system's store
    std::string TrustNote;    // why it does not
};
SignatureReport CheckSignature(const std::string& path);
// "not signed", or "signed by SUBJECT: ..." with the state and the trust, on one line.
std::string DescribeSignature(const SignatureReport& report);

// ---- commands (build.cpp, verify.cpp) ----
struct BuildOptions {
    std::string SetupPath;
    std::string PayloadFolder;
    std::string TextsFolder;
    std::string OutFolder;
    std::string Password = DefaultPassword;
    Compressor UseCompressor = Compressor::Libdeflate;
    bool ShowProgress = false;   // a progress bar on standard error while the payload is packed
    SigningOptions Signing;      // setup.exe is signed before the text files take its time
};
bool BuildDistribution(const BuildOptions& options, PackStats& stats, Problems& problems);
// Runs every check of the distribution; the engine's own messages are added to problems, and
// what is worth knowing but does not stop the installation (setup.exe's signature) to notes.
bool VerifyDistribution(const std::string& distFolder, Problems& problems, Problems* notes = nullptr);
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
    SigningOptions Signing;      // the finished download is signed
};
// Verifies the distribution first; writes nothing when it would not install.
bool BundleDistribution(const BundleOptions& options, PackStats& stats, Problems& problems);
// Everything the self-extractor and setup will meet: the program, the archive behind it and
// its entries, the distribution's files with the times setup compares, and then the
// distribution itself after the engine has unpacked it into a scratch folder.
bool VerifyBundle(const std::string& bundlePath, Problems& problems, Problems* notes = nullptr);
bool ListBundle(const std::string& bundlePath, bool verbose, Problems& problems);

#endif
