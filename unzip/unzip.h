// The extraction engine: one request record, one entry point. The caller clears the record,
// sets the fields it needs and keeps it (and everything it points to) valid until
// ExtractArchive returns.
#ifndef TQ_UNZIP_UNZIP_H
#define TQ_UNZIP_UNZIP_H

#include <windows.h>

// One name of a request's name list. The name is held in the node itself: allocate the node
// with room for the whole text behind Name.
struct NameNode {
    NameNode* Next;
    char Name[1];
};

struct ExtractRequest {
    unsigned short ReportCrcErrors; // 1: a CRC mismatch is reported and ends the run
    const char* ArchivePath;
    const char* DestFolder;         // null: test run, nothing is written
    NameNode* NameList;             // null: every entry
    int KeepPaths;
    int StartOffset;
    HWND OwnerWindow;               // owns the error boxes, receives the progress messages
    int Result;                     // set only by an aborted run: 2 error, 99 cancelled
    int SkipEmpty;
    int HasPassword;
    const char* Password;
};

// 0: refused, a run is in progress. 1: the request was run; its outcome is in Result.
int ExtractArchive(ExtractRequest* request);

#endif
