// What tqunzip knows of single entries beyond their place in the plan: which ones the engine
// cannot decode and why (methods by name, encryption other than the traditional one, ZIP64
// positions beyond what the engine addresses), and what an extraction restores after the engine
// has written a file (the Unix mode's permission bits) or warns about (symbolic links, written as
// files). A leaf beside status.cpp: it calls no other file of the tool.
#include "tools/tqunzip/tqunzip.h"

#include <sys/stat.h>

constexpr uint16_t FlagStrongEncryption = 1 << 6;   // APPNOTE 4.4.4
constexpr uint16_t MethodAes = 99;                  // WinZip AES (AE-1, AE-2)
constexpr uint64_t LargestPosition = 0x7FFFFFFF;    // what the engine's file calls address
constexpr uint64_t LargestSize = 0xFFFFFFFF;
constexpr uint32_t PermissionBits = 0777;           // set-id and sticky bits are never restored
constexpr mode_t CreationMode = 0666;               // the engine's new files, less the umask

std::string MethodDescription(uint16_t method)
{
    // APPNOTE 4.4.5, and the methods of other writers that archives in use carry.
    switch (method) {
    case 0: return "stored";
    case 1: return "shrunk";
    case 2: case 3: case 4: case 5: return "reduced (factor " + std::to_string(method - 1) + ")";
    case 6: return "imploded";
    case 8: return "deflated";
    case 9: return "Deflate64";
    case 10: return "PKWARE DCL imploded";
    case 12: return "bzip2";
    case 14: return "LZMA";
    case 16: return "IBM z/OS CMPSC";
    case 18: return "IBM TERSE";
    case 19: return "IBM LZ77";
    case 20: case 93: return "Zstandard";
    case 94: return "MP3";
    case 95: return "XZ";
    case 96: return "JPEG variant";
    case 97: return "WavPack";
    case 98: return "PPMd";
    case MethodAes: return "AES encryption";
    default: return "method " + std::to_string(method);
    }
}

std::string EntryRefusal(const ArchiveEntry& entry, uint16_t localMethod, uint16_t localFlags, int& status)
{
    status = ExitUnsupported;
    if (localMethod == MethodAes || entry.Method == MethodAes)
        return "AES encryption (method 99) is not supported: only the traditional ZIP encryption";
    if (localMethod != MethodStored && localMethod != MethodDeflated && localMethod != MethodBzip2)
        return "compression method " + std::to_string(localMethod) + " (" + MethodDescription(localMethod)
            + ") is not supported: only stored, deflated and bzip2";
    if (localFlags & FlagStrongEncryption)
        return "strong encryption is not supported: only the traditional ZIP encryption";
    if (entry.CompressedSize > LargestSize || entry.UncompressedSize > LargestSize)
        return "ZIP64 entry of more than 4 GiB (ZIP64 extends the format beyond 4 GiB): not supported";
    if (entry.HeaderOffset + entry.CompressedSize > LargestPosition)
        return "ZIP64 entry standing beyond 2 GiB in the archive (ZIP64 extends the format beyond 4 GiB): "
               "not supported";
    status = ExitSuccess;
    return std::string();
}

int RestoreAttributes(const Options& options, const PlannedEntry& planned)
{
    const ArchiveEntry& entry = planned.Entry;
    uint32_t mode = UnixMode(entry);
    if (planned.Target.empty())
        return ExitSuccess;   // a test: nothing was written
    if (S_ISLNK(mode)) {
        ReportWarning(options.Archive, entry.Name,
                      "a symbolic link: written as a file that holds the link's target (links are never created)");
        return ExitWarning;
    }
    // A file the engine created has the mode of creation already; most archives ask for that.
    static mode_t created = 0;
    static bool knowsCreated = false;
    if (!knowsCreated) {
        mode_t mask = umask(0);
        umask(mask);
        created = CreationMode & ~mask;
        knowsCreated = true;
    }
    if ((S_ISREG(mode) || (mode != 0 && (mode & S_IFMT) == 0))
        && !(planned.Fresh && (mode & PermissionBits) == created))
        chmod(planned.Target.c_str(), (mode_t)(mode & PermissionBits));
    return ExitSuccess;
}
