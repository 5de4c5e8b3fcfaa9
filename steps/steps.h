// Installation steps: the text files, the shell-extension stub library and the removal of the
// old shell-extension registrations.
#ifndef TQ_STEPS_STEPS_H
#define TQ_STEPS_STEPS_H

#include "steps/record.h"

// Text files (steps/text_files.cpp).
struct TextFileEntry {
    const char* Name;   // relative to SourceFolder; null ends the list
    char Replacement;   // replaces the last character of the destination name; 0 for none
};
extern const TextFileEntry TextFiles[];
extern unsigned int CopiedBytes;         // bytes copied over all text files
extern unsigned int CopiedAtLastReport;  // CopiedBytes when the Meter was last moved
extern WIN32_FIND_DATAA FindRecord;      // filled by ProbeFile for the file just checked

int ProcessTextFiles(HWND owner, int copyMode);
int CopyTextFile(const char* sourcePath, int index);
int CopyFileContents(const char* sourcePath, const char* destinationPath); // 0 or 1017/1018/1019
// Shows the message of a copy failure (a code of CopyFileContents) naming the file it concerns,
// owned by the progress dialog; 0 when shown, 1 for a code that is no copy failure.
int ReportCopyError(int code, const char* source, const char* destination);
int MatchesSetupTimestamp(void);
unsigned int SizeIfCompressed(const char* path, unsigned int size);
void StampWithPayloadTime(HFILE file);

// Shell-extension stub library (steps/stub.cpp).
struct FileVersion {
    DWORD MostSignificant;   // major << 16 | minor
    DWORD LeastSignificant;  // build << 16 | revision
};
constexpr int FixedFileInfoSize = 52;
extern const unsigned char* StubData;
extern DWORD StubSize;
extern int StubIsCurrent;
extern const char* const BusyCheckList[];

int LoadStubPayload(void);
int ReadInstalledVersion(const char* path, FileVersion* version);
int FindFixedFileInfo(const unsigned char* bytes, int count, unsigned short limit, unsigned char* record);
int SameFileVersion(const FileVersion* first, const FileVersion* second);
void CompareStubVersion(char* stubPath);
int WaitForLibraryAccess(DWORD timeout, const char* stubPath, const char* workerPath);
int FindBusyFile(void);
int WriteStub(void);
void TurnOffShellExtension(void);

// Shell-extension registrations (steps/shell_keys.cpp).
int RemoveShellExtensionKeys(void);
LONG DeleteKeyTree(HKEY root, const char* path);

#endif
