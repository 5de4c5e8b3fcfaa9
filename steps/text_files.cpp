// The text files that travel beside the payload archive: each must carry the setup program's own
// last-write time. Check mode totals their sizes before anything is written; copy mode copies them
// into the install folder with progress on the Meter, stamps the copies with the payload's time
// and stops after the current buffer once the user has confirmed a cancel.
#include "steps/steps.h"
#include "util/bytes.h"

#include "res/resource.h"
#include "steps/record.h"
#include "unzip/unzip.h"
#include "util/path.h"

#include <string.h>

constexpr UINT CopyBufferSize = 15360;   // bytes per read and write

// MS-DOS COMPRESS ("SZDD") header, 14 bytes, little-endian: two magic values, the compression
// mode, the lost last character of the name, then the uncompressed size at offset 10.
constexpr int CompressedHeaderSize = 14;
constexpr DWORD CompressedMagic = 0x44445A53;       // "SZDD"
constexpr DWORD CompressedSecondMagic = 0x3327F088;
constexpr int CompressedSizeOffset = 10;

const TextFileEntry TextFiles[] = {
    { "README.TXT", 0 },
    { "TESSEL.TXT", 0 },
    { "LICENSE.TXT", 0 },
    { "VENDOR.TXT", 0 },
    { "WHATSNEW.TXT", 0 },
    { "FILE_ID.DIZ", 0 },
    { "ORDER.TXT", 0 },
    { nullptr, 0 },
};

unsigned int CopiedBytes;
unsigned int CopiedAtLastReport;
WIN32_FIND_DATAA FindRecord;

// Joins a folder (ending in a backslash) and a name into a 260-byte buffer. Returns 0 when the
// result does not fit; the buffer then holds as much as fits, so that a message can show it.
static int JoinPath(char* buffer, const char* folder, const char* name)
{
    size_t folderLength = strlen(folder);
    size_t nameLength = strlen(name);
    if (folderLength + nameLength >= (size_t)PathBufferSize) {
        lstrcpynA(buffer, folder, PathBufferSize);
        return 0;
    }
    memcpy(buffer, folder, folderLength);
    memcpy(buffer + folderLength, name, nameLength + 1);
    return 1;
}

int MatchesSetupTimestamp(void)
{
    return FindRecord.ftLastWriteTime.dwLowDateTime == SetupTimestamp.dwLowDateTime
        && FindRecord.ftLastWriteTime.dwHighDateTime == SetupTimestamp.dwHighDateTime;
}

unsigned int SizeIfCompressed(const char* path, unsigned int size)
{
    HFILE file = _lopen(path, OF_READ);
    if (file == HFILE_ERROR)
        return size;
    unsigned char header[CompressedHeaderSize];
    UINT bytesRead = _lread(file, header, CompressedHeaderSize);
    _lclose(file);
    if (bytesRead != (UINT)CompressedHeaderSize)
        return size;
    if (ReadLittle32(header) != CompressedMagic || ReadLittle32(header + 4) != CompressedSecondMagic)
        return size;
    return ReadLittle32(header + CompressedSizeOffset);
}

void StampWithPayloadTime(HFILE file)
{
    SetFileTime((HANDLE)(LONG_PTR)file, &PayloadTimestamp, &PayloadTimestamp, &PayloadTimestamp);
}

// Moves the Meter once the bytes copied since its last move, over all files, reach one unit.
static void ReportCopyProgress(void)
{
    if (CopiedBytes < CopiedAtLastReport + ProgressUnitBytes)
        return;
    SendDlgItemMessageA(ProgressDialog, IDC_METER, MTR_SETPOS, CopiedBytes / ProgressUnitBytes, 0);
    CopiedAtLastReport = CopiedBytes;
}

// One file under two names, the distribution folder under another spelling: creating the
// destination would empty the source before a byte of it is read. An open file is known by its
// volume and file index; where the platform gives no index, by its full long path.
static int IsSameFile(HFILE source, const char* sourcePath, const char* destinationPath)
{
    HFILE destination = _lopen(destinationPath, OF_READ);
    if (destination == HFILE_ERROR)
        return 0;   // nothing there yet that the create could empty
    BY_HANDLE_FILE_INFORMATION sourceInfo;
    BY_HANDLE_FILE_INFORMATION destinationInfo;
    int known = GetFileInformationByHandle((HANDLE)(LONG_PTR)source, &sourceInfo)
        && GetFileInformationByHandle((HANDLE)(LONG_PTR)destination, &destinationInfo)
        && (sourceInfo.nFileIndexHigh != 0 || sourceInfo.nFileIndexLow != 0);
    _lclose(destination);
    if (!known)
        return IsSamePath(sourcePath, destinationPath);
    return sourceInfo.dwVolumeSerialNumber == destinationInfo.dwVolumeSerialNumber
        && sourceInfo.nFileIndexHigh == destinationInfo.nFileIndexHigh
        && sourceInfo.nFileIndexLow == destinationInfo.nFileIndexLow;
}

// Copies the source in buffers of CopyBufferSize bytes. A failed read is reported as 1017, the
// message that names the source: the file opened but cannot be read, and the copy must not pass
// for complete. Nothing is written for a failed read, so the destination never holds more than
// was read; it stays as far as it got, unstamped, as after a failed write.
int CopyFileContents(const char* sourcePath, const char* destinationPath)
{
    HFILE source = _lopen(sourcePath, OF_READ);
    if (source == HFILE_ERROR)
        return IDS_CANNOT_OPEN;

    HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, CopyBufferSize);
    unsigned char* buffer = memory != nullptr ? (unsigned char*)GlobalLock(memory) : nullptr;
    if (buffer == nullptr) {
        if (memory != nullptr)
            GlobalFree(memory);
        _lclose(source);
        return IDS_CANNOT_OPEN;
    }

    int result = 0;
    HFILE destination = HFILE_ERROR;
    if (IsSameFile(source, sourcePath, destinationPath)) {
        result = IDS_SAME_AS_SOURCE;
    } else if ((destination = _lcreat(destinationPath, 0)) == HFILE_ERROR) {
        result = IDS_CANNOT_OPEN_FOR_WRITING;
    } else {
        for (;;) {
            UINT bytesRead = _lread(source, buffer, CopyBufferSize);
            if (bytesRead == (UINT)HFILE_ERROR) {
                result = IDS_CANNOT_OPEN;
                break;
            }
            UINT written = _lwrite(destination, (LPCCH)buffer, bytesRead);
            if (written != bytesRead) {
                result = IDS_ERROR_WRITING;
                break;
            }
            CopiedBytes += bytesRead;
            ReportCopyProgress();
            if (bytesRead < CopyBufferSize || CancelRequested) {
                StampWithPayloadTime(destination);
                break;
            }
        }
    }

    _lclose(source);
    if (destination != HFILE_ERROR)
        _lclose(destination);
    GlobalUnlock(memory);
    GlobalFree(memory);
    return result;
}

int ReportCopyError(int code, const char* source, const char* destination)
{
    const char* argument;
    switch (code) {
    case IDS_SAME_AS_SOURCE:    // names no file
    case IDS_CANNOT_OPEN:
        argument = source;
        break;
    case IDS_CANNOT_OPEN_FOR_WRITING:
    case IDS_ERROR_WRITING:
        argument = destination;
        break;
    default:
        return 1;
    }
    ShowMessage(ProgressDialog, code, MB_ICONERROR, argument);
    return 0;
}

int CopyTextFile(const char* sourcePath, int index)
{
    const TextFileEntry* entry = &TextFiles[index];
    char destinationName[PathBufferSize];
    lstrcpynA(destinationName, entry->Name, PathBufferSize);
    if (entry->Replacement != 0 && destinationName[0] != '\0')
        *LastChar(destinationName) = entry->Replacement;

    SetDlgItemTextA(ProgressDialog, IDC_FILENAME_TEXT, destinationName);

    char destinationPath[PathBufferSize];
    int code = JoinPath(destinationPath, InstallFolder, destinationName)
        ? CopyFileContents(sourcePath, destinationPath)
        : IDS_CANNOT_OPEN_FOR_WRITING;
    return ReportCopyError(code, sourcePath, destinationPath);
}

int ProcessTextFiles(HWND owner, int copyMode)
{
    for (int index = 0; TextFiles[index].Name != nullptr; index++) {
        const char* name = TextFiles[index].Name;
        char sourcePath[PathBufferSize];
        // A path too long for the buffer names no file that could be opened.
        if (!JoinPath(sourcePath, SourceFolder, name) || ProbeFile(sourcePath, &FindRecord) != 0) {
            ShowMessage(owner, IDS_MISSING_FILE, MB_ICONERROR, name);
            return 0;
        }
        if (!MatchesSetupTimestamp()) {
            ShowMessage(owner, IDS_TIMESTAMP_MISMATCH, MB_ICONERROR, name);
            return 0;
        }
        if (!copyMode) {
            InstallSizeKB += SizeIfCompressed(sourcePath, FindRecord.nFileSizeLow);
            continue;
        }
        DispatchPendingMessages();
        SetCursor(CurrentCursor);
        if (!CopyTextFile(sourcePath, index))
            return 0;
        if (CancelRequested)
            return 0;
    }
    return 1;
}
