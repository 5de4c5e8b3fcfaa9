// Declarations shared by the engine's files: the state of a run, the archive walk and the entry
// output. All of it is module-level because the engine serves one request at a time; the
// platform-free part lives in decode.h.
#ifndef TQ_UNZIP_ENGINE_H
#define TQ_UNZIP_ENGINE_H

#include <windows.h>

#include "unzip/decode.h"
#include "unzip/unzip.h"
#include "util/bytes.h"

constexpr unsigned IoBufferSize = 28692;    // InputBuffer and OutputBuffer; BlockSize of each is used
constexpr unsigned ArchiveNameSize = 288;   // ArchivePath, possibly with ".ZIP" added
constexpr unsigned EntryNameSize = 264;     // a stored name of up to 263 characters
constexpr unsigned OutputPathSize = OutputPathLimit + 1;
constexpr unsigned MessageTextSize = 1025;  // wsprintfA writes at most 1024 characters

// State of the run (walk.cpp).
extern ExtractRequest* Request;
extern HFILE ArchiveFile;                 // HFILE_ERROR when not open
extern HFILE OutputFile;                  // HFILE_ERROR between entries
extern unsigned char* InputBuffer;
extern unsigned char* OutputBuffer;
extern char EntryName[EntryNameSize];     // stored name, then the output path of an extracted entry
extern char CreateName[EntryNameSize];    // EntryName with its file name in the ANSI character set
extern int TestOnly;                      // 1 when the request has no DestFolder

// Archive walk and run (walk.cpp).
[[noreturn]] void AbortRun(int code);
void EngineErrorBox(const char* text);
void ShowEngineError(UINT id, const char* argument); // text id formatted with one "%s"
const char* BaseName(const char* path);
void MoveArchivePosition(LONG offset);    // relative seek; ends the run with 1034 where it fails
// Reads up to count bytes ahead and leaves the archive position where it was; returns how many
// came (0 at the end of the file, -1 when the read failed).
LONG PeekArchiveBytes(unsigned char* buffer, unsigned count);
void CreateOutputFile(void);

// Entry output (output.cpp).
extern uint32_t CrcRegister;
extern uint32_t BytesRead;                // compressed entry bytes read in this run
extern uint32_t LastReported;             // BytesRead at the last progress report
void ExtractEntry(void);
void UpdateCrc(const unsigned char* bytes, unsigned count);
bool SystemSavesVectorState(void);        // the system saves the XMM registers of every thread

#endif
