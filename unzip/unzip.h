// The extraction engine: one request record, one entry point. The caller clears the record,
// sets the fields it needs and keeps it (and everything it points to) valid until
// ExtractArchive returns.
#ifndef TQ_UNZIP_UNZIP_H
#define TQ_UNZIP_UNZIP_H

#include <windows.h>

#include <stdint.h>

// One name of a request's name list. The name is held in the node itself: allocate the node
// with room for the whole text behind Name.
struct NameNode {
    NameNode* Next;
    char Name[1];
};

// An entry placed by a caller that has read the archive's central directory itself (a tool;
// setup places none). The engine goes straight to the local header and takes the data's size
// and CRC-32 from here, which covers entries whose local header leaves them to a data
// descriptor, and writes the entry to OutputName below DestFolder ("/" or "\\" between
// components; checked by CheckOutputName like any output name). In a test run OutputName only
// names the entry in messages. A placed run reads the archive ahead in large blocks, so entries
// that follow each other in the file cost no seek and no read of their own.
struct PlacedEntry {
    uint32_t HeaderOffset;       // position of the local header in the file, below 2 GiB
    uint32_t CompressedSize;
    uint32_t Crc;
    const char* OutputName;      // shorter than the engine's name buffer (264 bytes)
    FILETIME LastWrite;          // the output file's time; zero: the local header's MS-DOS time
};

struct ExtractRequest {
    unsigned short ReportCrcErrors; // 1: a CRC mismatch is reported and ends the run
    const char* ArchivePath;
    const char* DestFolder;         // null: test run, nothing is written
    NameNode* NameList;             // null: every entry
    int KeepPaths;
    int StartOffset;
    HWND OwnerWindow;               // owns the error boxes, receives the progress messages
    int Result;                     // set only by an aborted run: AbortError or AbortCancelled
    int SkipEmpty;
    int HasPassword;
    const char* Password;
    // Left zero by setup. With Placed set the run handles these entries in this order instead
    // of walking the archive, and ignores NameList, KeepPaths, SkipEmpty and StartOffset.
    const PlacedEntry* Placed;
    unsigned PlacedCount;
    unsigned PlacedReached;      // set by the run: the index of the entry it handled last
    // Left zero by setup. A decoder a tool brings for one more compression method: entries of
    // OtherMethod are decoded by it, with the engine's decryption, output, CRC-32 check and
    // progress around it. It reads the entry's data through ReadEntryData and hands what it
    // decodes to WriteEntryData; it returns 0 when its stream ended, nonzero for damaged data.
    // A run may end inside it (a read error, a full disk, a cancel) and not return: its state
    // belongs to the tool, which releases it after ExtractArchive.
    unsigned OtherMethod;
    int (*DecodeOtherMethod)(void);
};

// Outcomes of an aborted run, stored in ExtractRequest::Result.
constexpr int AbortError = 2;       // the engine has shown why
constexpr int AbortCancelled = 99;  // the owner window answered a progress message with 1

// For a DecodeOtherMethod: the entry's next piece of data, decrypted (0 bytes at the end of its
// compressed size), valid until the next call; and decoded bytes on their way to the output.
unsigned ReadEntryData(const unsigned char** bytes);
void WriteEntryData(const unsigned char* bytes, unsigned count);

// 0: refused, a run is in progress. 1: the request was run; its outcome is in Result.
int ExtractArchive(ExtractRequest* request);

// While it reads an entry, the engine sends its owner window WM_SETUP_PROGRESS (res/resource.h)
// with the compressed bytes read so far in this run, counted in units of this many bytes (the
// count's low 16 bits).
constexpr unsigned ProgressUnitBytes = 10240;

// The password of the setup payload's entries, used unless a request brings its own.
extern const char DefaultPassword[];

// The one rule for the name of an output file below a destination folder. The engine refuses
// (message 1030, no file created) every name that breaks it; the tools check names by it before
// they hand them over. name is the part below the folder, "\" or "/" between components; folder
// may be null, which leaves the length out.
enum OutputNameVerdict {
    OutputNameSafe = 0,
    OutputNameFromRoot,      // begins with a separator: a root or a server
    OutputNameHasColon,      // a drive or a stream
    OutputNameLeavesFolder,  // a component of dots and blanks that Windows reads as the parent
    OutputNameIsDevice,      // a component Windows opens as a device (CON, COM1, CLOCK$, ...)
    OutputNameTooLong,       // folder, a separator and name are longer than OutputPathLimit
};
constexpr unsigned OutputPathLimit = 259;   // characters of an output path
int CheckOutputName(const char* folder, const char* name);

#endif
