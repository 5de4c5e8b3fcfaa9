// The extraction run and the archive walk. ExtractArchive owns the run: its buffers, the abort
// point that every error and cancel returns to, and the one clean-up. The walk reads the archive
// strictly in file order from the request's start offset to the end-of-central-directory record
// (APPNOTE 4.3.6): local entries are handled where they stand, central headers passed over. A
// run of placed entries instead goes from local header to local header through a read-ahead
// block, where an archive of many small entries costs a read per block, not two seeks and two
// reads per entry.
#include "unzip/engine.h"

#include "res/resource.h"
#include "base/base.h"

#include <setjmp.h>
#include <stdlib.h>
#include <string.h>

// Record signatures, APPNOTE 4.3.7, 4.3.12 and 4.3.16.
constexpr uint32_t LocalHeaderSignature = 0x04034b50u;
constexpr uint32_t CentralHeaderSignature = 0x02014b50u;
constexpr uint32_t EndRecordSignature = 0x06054b50u;
constexpr unsigned SignatureSize = 4;
constexpr unsigned CentralHeaderSize = 42;     // fixed part after the signature
constexpr unsigned EndRecordSize = 18;
constexpr unsigned DataDescriptorSize = 16;    // skipped whole, signature assumed
constexpr const char DefaultExtension[] = ".ZIP";
constexpr long LongestSkip = 0x7FFFFFFF;       // largest forward move of one relative seek
// The record scan starts one byte after the rejected 4 bytes began: 3 bytes back from behind
// them. After an entry with a data descriptor it starts where the 16 skipped bytes began, 20
// bytes back. It moves only by such relative steps, so positions between 2 and 4 GiB, which a
// signed 32-bit position cannot hold, are scanned like any other.
constexpr LONG ScanStep = -(LONG)(SignatureSize - 1);
constexpr LONG DescriptorRescan = -(LONG)DataDescriptorSize - 1;
// A placed run's read-ahead block, and the rest of a read that goes past it straight into the
// caller's buffer instead: a large entry's data is read once, never copied through the block.
constexpr unsigned ReadAheadSize = 65536;
constexpr unsigned DirectReadSize = 4096;

// Offsets in the central directory header and the end record (after their signatures),
// APPNOTE 4.3.12 and 4.3.16.
constexpr int CentralNameLengthOffset = 24;
constexpr int CentralExtraLengthOffset = 26;
constexpr int CentralCommentLengthOffset = 28;
constexpr int EndCommentLengthOffset = 16;

// Offsets in LocalHeader (after the signature), APPNOTE 4.3.7.
constexpr int FlagsOffset = 2;
constexpr int UncompressedSizeOffset = 18;
constexpr int CompressedSizeOffset = 14;
constexpr int CrcOffset = 10;
constexpr int NameLengthOffset = 22;
constexpr int ExtraLengthOffset = 24;
constexpr unsigned EncryptedFlag = 0x0001;     // general-purpose flags, APPNOTE 4.4.4
constexpr unsigned DataDescriptorFlag = 0x0008;

ExtractRequest* Request;
HFILE ArchiveFile = HFILE_ERROR;
HFILE OutputFile = HFILE_ERROR;
unsigned char* InputBuffer;
unsigned char* OutputBuffer;
unsigned char* InflateWindow;
unsigned char LocalHeader[LocalHeaderSize];
uint32_t RemainingCompressed;
char EntryName[EntryNameSize];
char CreateName[EntryNameSize];
int TestOnly;
int Encrypted;
int HasDataDescriptor;

static int EngineBusy;
static char ArchiveName[ArchiveNameSize];
static int ArchivePathTooLong;
static HGLOBAL WindowMemory;
static char* PasswordCopy;
static jmp_buf AbortPoint;
static int AbortCode;
// A placed run's view of the archive: the file stands at AheadStart + AheadCount, the run's
// archive position at AheadStart + AheadNext (AheadNext <= AheadCount). Null in a walk.
static unsigned char* ReadAhead;
static uint64_t AheadStart;
static unsigned AheadCount;
static unsigned AheadNext;

[[noreturn]] void AbortRun(int code)
{
    AbortCode = code;
    longjmp(AbortPoint, 1);
}

void EngineErrorBox(const char* text)
{
    MessageBoxA(Request->OwnerWindow, text, nullptr, MB_ICONERROR);
}

void ShowEngineError(UINT id, const char* argument)
{
    char text[MessageTextSize];
    wsprintfA(text, LoadMessage(id), argument);
    EngineErrorBox(text);
}

[[noreturn]] void FailRead(void)
{
    ShowEngineError(IDS_READ_ERROR, Request->ArchivePath);
    AbortRun(AbortError);
}

// Reads up to count bytes of a placed run from its archive position on: those the block
// holds, then the rest straight from the file when it is large, else through a refilled block.
// Returns the bytes read (fewer at the end of the file), or HFILE_ERROR as _lread does.
static UINT ReadPlacedBytes(unsigned char* buffer, unsigned count)
{
    unsigned done = 0;
    while (done < count) {
        unsigned held = AheadCount - AheadNext;
        if (held != 0) {
            unsigned piece = held < count - done ? held : count - done;
            memcpy(buffer + done, ReadAhead + AheadNext, piece);
            AheadNext += piece;
            done += piece;
            continue;
        }
        AheadStart += AheadCount;
        AheadCount = AheadNext = 0;
        if (count - done >= DirectReadSize) {
            UINT got = _lread(ArchiveFile, buffer + done, count - done);
            if (got == (UINT)HFILE_ERROR)
                return (UINT)HFILE_ERROR;
            AheadStart += got;
            return done + got;
        }
        UINT got = _lread(ArchiveFile, ReadAhead, ReadAheadSize);
        if (got == (UINT)HFILE_ERROR)
            return (UINT)HFILE_ERROR;
        if (got == 0)
            break;
        AheadCount = got;
    }
    return done;
}

// Moves a placed run to a position below 2 GiB: inside the block without a system call,
// elsewhere by a seek that empties the block. False where the seek fails.
static bool SetPlacedPosition(uint32_t position)
{
    if (position >= AheadStart && position - AheadStart <= AheadCount) {
        AheadNext = (unsigned)(position - AheadStart);
        return true;
    }
    if (position > (uint32_t)LongestSkip || _llseek(ArchiveFile, (LONG)position, FILE_BEGIN) == HFILE_ERROR)
        return false;
    AheadStart = position;
    AheadCount = AheadNext = 0;
    return true;
}

void ReadArchiveBytes(void* buffer, unsigned count)
{
    UINT got = ReadAhead != nullptr ? ReadPlacedBytes((unsigned char*)buffer, count)
                                    : _lread(ArchiveFile, buffer, count);
    if (got != count)
        FailRead();
}

LONG PeekArchiveBytes(unsigned char* buffer, unsigned count)
{
    if (ReadAhead == nullptr) {
        LONG got = (LONG)_lread(ArchiveFile, buffer, count);
        if (got > 0)
            MoveArchivePosition(-got);
        return got;
    }
    if (AheadCount - AheadNext < count) {
        // The bytes held go to the front of the block, the file fills in behind them.
        memmove(ReadAhead, ReadAhead + AheadNext, AheadCount - AheadNext);
        AheadStart += AheadNext;
        AheadCount -= AheadNext;
        AheadNext = 0;
        UINT got = _lread(ArchiveFile, ReadAhead + AheadCount, ReadAheadSize - AheadCount);
        if (got != (UINT)HFILE_ERROR)
            AheadCount += got;
    }
    unsigned held = AheadCount - AheadNext;
    unsigned piece = held < count ? held : count;
    memcpy(buffer, ReadAhead + AheadNext, piece);
    return (LONG)piece;
}

// A relative seek. The file calls hold positions in 32 bits: a move that fails lands beyond
// what they can address (or before the start), where no record of the archive can be read, so
// the run ends there with 1034 instead of reading on from a wrong position. A result of
// HFILE_ERROR is taken as that failure even for the one position 0xFFFFFFFF, where no whole
// record fits below 4 GiB either.
void MoveArchivePosition(LONG offset)
{
    if (_llseek(ArchiveFile, offset, FILE_CURRENT) == HFILE_ERROR) {
        EngineErrorBox(LoadMessage(IDS_INVALID_HEADER));
        AbortRun(AbortError);
    }
}

// Relative seeks forward only: sizes are unsigned and may exceed what one LONG offset moves.
static void SkipForward(uint32_t count)
{
    while (count > (uint32_t)LongestSkip) {
        MoveArchivePosition(LongestSkip);
        count -= (uint32_t)LongestSkip;
    }
    if (count != 0)
        MoveArchivePosition((LONG)count);
}

// A stored name that does not fit EntryName cannot be handled faithfully; the archive is
// treated as unreadable rather than extracting under a shortened name.
static void ReadEntryName(unsigned length)
{
    if (length >= EntryNameSize)
        FailRead();
    ReadArchiveBytes(EntryName, length);
    EntryName[length] = '\0';
}

// Every scan of a name steps with CharNextA and looks at the first byte of each character only:
// under a double-byte code page the trail byte of a character may have the code of "\" (0x5C),
// and it is no separator.
static int IsSeparatorAt(const char* p)
{
    return *p == '\\' || *p == '/';
}

const char* BaseName(const char* path)
{
    const char* base = path;
    if (*path == '\0')
        return path;
    for (const char* p = CharNextA(path); *p != '\0'; p = CharNextA(p))
        if (IsSeparatorAt(p))
            base = p + 1;
    return base;
}

// The last character of a text, or the text itself when it is empty.
static const char* LastCharacter(const char* text)
{
    const char* last = text;
    for (const char* p = text; *p != '\0'; p = CharNextA(p))
        last = p;
    return last;
}

static void ReplaceSeparators(char* text, char from, char to)
{
    for (char* p = text; *p != '\0'; p = CharNextA(p))
        if (*p == from)
            *p = to;
}

static int IsSelected(void)
{
    if (Request->NameList == nullptr)
        return 1;
    ReplaceSeparators(EntryName, '\\', '/');
    for (NameNode* node = Request->NameList; node != nullptr; node = node->Next)
        if (lstrcmpiA(EntryName, node->Name) == 0)
            return 1;
    return 0;
}

// A component that Windows may read as the parent folder: ".." itself, or dots and blanks
// that path normalisation trims to it (".. ", "...").
static int IsParentComponent(const char* component, const char* end)
{
    int dots = 0;
    for (const char* p = component; p != end; p = CharNextA(p)) {
        if (*p == '.')
            ++dots;
        else if (*p != ' ')
            return 0;
    }
    return dots >= 2;
}

// Compares with ASCII capitals without regard to case: only a letter's two cases differ in
// nothing but bit 5.
static int SameLetters(const char* text, const char* upper, size_t length)
{
    for (size_t i = 0; i < length; ++i)
        if ((text[i] & ~0x20) != upper[i])
            return 0;
    return 1;
}

// The bytes of the superscript digits 1, 2 and 3 in the ANSI code pages of Western Windows.
static int IsSuperscriptDigitByte(unsigned char byte)
{
    return byte == 0xB9 || byte == 0xB2 || byte == 0xB3;
}

// The digit that Windows accepts after COM and LPT for a device: 0 to 9, or a superscript 1, 2
// or 3, as the name is stored or as its OEM-to-ANSI conversion creates it.
static int IsPortDigit(char character)
{
    if (character >= '0' && character <= '9')
        return 1;
    char stored[2] = {character, '\0'};
    char created[2];
    OemToCharA(stored, created);
    return IsSuperscriptDigitByte((unsigned char)character) || IsSuperscriptDigitByte((unsigned char)created[0]);
}

// A component that Windows opens as a device wherever it stands in a path: CON, PRN, AUX, NUL,
// CLOCK$, COM0 to COM9 and LPT0 to LPT9 (with superscript 1, 2 and 3 too), in any case, with any
// extension, and with the blanks that normalisation drops before the extension ("nul.txt",
// "Con .log"). Writing to it would reach the device, never a file in the folder.
static int IsDeviceComponent(const char* component, const char* end)
{
    const char* stemEnd = component;
    while (stemEnd != end && *stemEnd != '.')
        stemEnd = CharNextA(stemEnd);
    while (stemEnd != component && stemEnd[-1] == ' ')
        --stemEnd;
    size_t length = (size_t)(stemEnd - component);
    if (length == 3)
        return SameLetters(component, "CON", 3) || SameLetters(component, "PRN", 3)
            || SameLetters(component, "AUX", 3) || SameLetters(component, "NUL", 3);
    if (length == 4 && IsPortDigit(component[3]))
        return SameLetters(component, "COM", 3) || SameLetters(component, "LPT", 3);
    if (length == 6)
        return SameLetters(component, "CLOCK", 5) && component[5] == '$';
    return 0;
}

// A relative name stays below the destination folder, in files of its own, unless it names a
// drive or stream (":"), starts at a root or server (a separator in front), climbs with a parent
// component, or has a component that is a device; and the whole output path fits its buffer.
int CheckOutputName(const char* folder, const char* name)
{
    if (IsSeparatorAt(name))
        return OutputNameFromRoot;
    const char* component = name;
    for (const char* p = name;; p = CharNextA(p)) {
        if (*p == ':')
            return OutputNameHasColon;
        if (IsSeparatorAt(p) || *p == '\0') {
            if (IsParentComponent(component, p))
                return OutputNameLeavesFolder;
            if (IsDeviceComponent(component, p))
                return OutputNameIsDevice;
            if (*p == '\0')
                break;
            component = p + 1;
        }
    }
    if (folder != nullptr) {
        size_t length = strlen(folder);
        int needsSeparator = length != 0 && !IsSeparatorAt(LastCharacter(folder));
        if (length + needsSeparator + strlen(name) > OutputPathLimit)
            return OutputNameTooLong;
    }
    return OutputNameSafe;
}

static void BuildOutputPath(void)
{
    char path[OutputPathSize];
    const char* folder = Request->DestFolder;
    size_t length = strlen(folder);
    const char* name = EntryName;
    if (Request->KeepPaths || Request->Placed != nullptr) {
        if (IsSeparatorAt(name))
            ++name;
    } else {
        name = BaseName(EntryName);
    }
    int needsSeparator = length != 0 && !IsSeparatorAt(LastCharacter(folder));
    if (CheckOutputName(folder, name) != OutputNameSafe) {
        ShowEngineError(IDS_CANT_CREATE_OUTPUT, EntryName);
        AbortRun(AbortError);
    }
    memcpy(path, folder, length);
    if (needsSeparator)
        path[length++] = '\\';
    strcpy(path + length, name);
    strcpy(EntryName, path);   // fits: OutputPathSize < EntryNameSize
    ReplaceSeparators(EntryName, '/', '\\');
}

// ZIP stores names in the OEM character set; only the file name is converted for creation, the
// folder part came from the caller in the ANSI set.
void CreateOutputFile(void)
{
    const char* fileName = EntryName;
    for (const char* p = EntryName; *p != '\0'; p = CharNextA(p))
        if (*p == '\\')
            fileName = p + 1;
    size_t folderLength = (size_t)(fileName - EntryName);
    memcpy(CreateName, EntryName, folderLength);
    OemToCharA(fileName, CreateName + folderLength);
    OutputFile = _lcreat(CreateName, 0);
    if (OutputFile == HFILE_ERROR) {
        ShowEngineError(IDS_CANT_CREATE_OUTPUT, EntryName);
        AbortRun(AbortError);
    }
}

static void WriteLittle32(unsigned char* p, uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        p[i] = (unsigned char)(value >> (8 * i));
}

// An entry the request placed: the local header is read for its flags, method, time and the
// lengths to pass over; name, size and CRC-32 are the placement's. The name in the header may
// be of any length, it is never read.
static void ProcessPlacedEntry(const PlacedEntry* placed)
{
    unsigned flags = ReadLittle16(LocalHeader + FlagsOffset);
    Encrypted = (flags & EncryptedFlag) != 0;
    // The flag still chooses the password check byte (APPNOTE 6.1.6); the size is known.
    HasDataDescriptor = (flags & DataDescriptorFlag) != 0;
    RemainingCompressed = placed->CompressedSize;
    WriteLittle32(LocalHeader + CompressedSizeOffset, placed->CompressedSize);
    WriteLittle32(LocalHeader + CrcOffset, placed->Crc);
    uint32_t data = placed->HeaderOffset + SignatureSize + LocalHeaderSize
        + ReadLittle16(LocalHeader + NameLengthOffset) + ReadLittle16(LocalHeader + ExtraLengthOffset);
    if (!SetPlacedPosition(data))
        FailRead();
    size_t length = strlen(placed->OutputName);
    if (length >= EntryNameSize)
        FailRead();
    memcpy(EntryName, placed->OutputName, length + 1);
    if (!TestOnly)
        BuildOutputPath();
    if (Encrypted && !CheckEncryptionHeader()) {
        EngineErrorBox("INCORRECT PASSWORD");
        AbortRun(AbortError);
    }
    ExtractEntry();
}

// The signature and the fixed part of the local header come from the read-ahead block, and the
// data behind the header's lengths too where the entries follow each other.
static void WalkPlacedEntries(void)
{
    // No block yet, and the file stands at the start offset: the first position seeks.
    AheadStart = UINT64_MAX;
    AheadCount = AheadNext = 0;
    for (unsigned i = 0; i < Request->PlacedCount; ++i) {
        const PlacedEntry* placed = &Request->Placed[i];
        Request->PlacedReached = i;
        unsigned char header[SignatureSize + LocalHeaderSize];
        if (!SetPlacedPosition(placed->HeaderOffset)
            || ReadPlacedBytes(header, sizeof header) != sizeof header
            || ReadLittle32(header) != LocalHeaderSignature) {
            EngineErrorBox(LoadMessage(IDS_INVALID_HEADER));
            AbortRun(AbortError);
        }
        memcpy(LocalHeader, header + SignatureSize, LocalHeaderSize);
        ProcessPlacedEntry(placed);
    }
}

static void ProcessLocalEntry(void)
{
    ReadArchiveBytes(LocalHeader, LocalHeaderSize);
    unsigned flags = ReadLittle16(LocalHeader + FlagsOffset);
    HasDataDescriptor = (flags & DataDescriptorFlag) != 0;
    Encrypted = (flags & EncryptedFlag) != 0;
    RemainingCompressed = ReadLittle32(LocalHeader + CompressedSizeOffset);
    ReadEntryName(ReadLittle16(LocalHeader + NameLengthOffset));
    SkipForward(ReadLittle16(LocalHeader + ExtraLengthOffset));

    int skipped;
    if (EntryName[0] != '\0' && IsSeparatorAt(LastCharacter(EntryName)))
        skipped = 1;   // folder entry; folders are never created
    else if (ReadLittle32(LocalHeader + UncompressedSizeOffset) == 0 && Request->SkipEmpty)
        skipped = 1;
    else if (!TestOnly && !IsSelected())
        skipped = 1;
    else
        skipped = 0;

    if (skipped) {
        SkipForward(RemainingCompressed);
    } else {
        if (!TestOnly)
            BuildOutputPath();
        if (Encrypted && !CheckEncryptionHeader()) {
            char text[MessageTextSize];
            wsprintfA(text, "INCORRECT PASSWORD");
            EngineErrorBox(text);
            AbortRun(AbortError);
        }
        ExtractEntry();
    }
    if (HasDataDescriptor)
        SkipForward(DataDescriptorSize);
}

static void SkipCentralHeader(void)
{
    unsigned char header[CentralHeaderSize];
    ReadArchiveBytes(header, CentralHeaderSize);
    unsigned nameLength = ReadLittle16(header + CentralNameLengthOffset);
    // The central name is not used; one too long for EntryName is passed over unread.
    if (nameLength >= EntryNameSize)
        SkipForward(nameLength);
    else
        ReadEntryName(nameLength);
    SkipForward(ReadLittle16(header + CentralExtraLengthOffset));
    SkipForward(ReadLittle16(header + CentralCommentLengthOffset));
}

static void ReadEndRecord(void)
{
    unsigned char record[EndRecordSize];
    ReadArchiveBytes(record, EndRecordSize);
    SkipForward(ReadLittle16(record + EndCommentLengthOffset));
}

static int IsSignature(uint32_t value)
{
    return value == LocalHeaderSignature || value == CentralHeaderSignature
        || value == EndRecordSignature;
}

// Looks for the next record one byte position at a time, reading the archive in blocks into
// InputBuffer (free between entries). After an entry with a data descriptor the scan starts
// where the assumed 16-byte descriptor began, so a 12-byte descriptor without its signature, or
// none at all, is tolerated; otherwise one byte after the rejected 4 bytes began. A start before
// the beginning of the file, the end of the file, or a position the file calls cannot hold ends
// the scan with not found; on a find the archive stands at the record, so that the walk reads
// its signature again. Every block moves the scan forward by at least one byte.
static int FindNextSignature(void)
{
    LONG start = (HasDataDescriptor ? DescriptorRescan : 0) + ScanStep;
    if (_llseek(ArchiveFile, start, FILE_CURRENT) == HFILE_ERROR)
        return 0;
    for (;;) {
        UINT got = _lread(ArchiveFile, InputBuffer, BlockSize);
        if (got == (UINT)HFILE_ERROR || got < SignatureSize)
            return 0;
        for (UINT i = 0; i + SignatureSize <= got; ++i)
            if (IsSignature(ReadLittle32(InputBuffer + i)))
                return _llseek(ArchiveFile, -(LONG)(got - i), FILE_CURRENT) != HFILE_ERROR;
        if (_llseek(ArchiveFile, ScanStep, FILE_CURRENT) == HFILE_ERROR)
            return 0;
    }
}

static void WalkArchive(void)
{
    for (;;) {
        // Reading may have carried the archive past what a 32-bit position holds; no record
        // is taken from there.
        MoveArchivePosition(0);
        unsigned char bytes[SignatureSize];
        ReadArchiveBytes(bytes, SignatureSize);
        uint32_t signature = ReadLittle32(bytes);
        if (signature == LocalHeaderSignature) {
            ProcessLocalEntry();
        } else if (signature == CentralHeaderSignature) {
            SkipCentralHeader();
        } else if (signature == EndRecordSignature) {
            ReadEndRecord();
            return;
        } else if (!FindNextSignature()) {
            EngineErrorBox(LoadMessage(IDS_INVALID_HEADER));
            AbortRun(AbortError);
        }
    }
}

static void OpenArchive(void)
{
    if (ArchivePathTooLong) {
        ShowEngineError(IDS_CANT_OPEN_INPUT, Request->ArchivePath);
        AbortRun(AbortError);
    }
    ArchiveFile = _lopen(ArchiveName, OF_READ | OF_SHARE_DENY_WRITE);
    if (ArchiveFile == HFILE_ERROR) {
        CharToOemA(ArchiveName, ArchiveName);
        ShowEngineError(IDS_CANT_OPEN_INPUT, ArchiveName);
        AbortRun(AbortError);
    }
    _llseek(ArchiveFile, Request->StartOffset, FILE_BEGIN);
}

static void AllocateBuffers(void)
{
    WindowMemory = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, WindowAllocSize);
    if (WindowMemory != nullptr)
        InflateWindow = (unsigned char*)GlobalLock(WindowMemory);
    if (InflateWindow != nullptr) {
        InputBuffer = (unsigned char*)malloc(IoBufferSize);
        if (InputBuffer != nullptr)
            OutputBuffer = (unsigned char*)malloc(IoBufferSize);
    }
    if (InflateWindow != nullptr && InputBuffer != nullptr && OutputBuffer != nullptr && Request->Placed != nullptr)
        ReadAhead = (unsigned char*)malloc(ReadAheadSize);
    if (InflateWindow == nullptr || InputBuffer == nullptr || OutputBuffer == nullptr
        || (Request->Placed != nullptr && ReadAhead == nullptr)) {
        EngineErrorBox(LoadMessage(IDS_NO_MEMORY));
        AbortRun(AbortError);
    }
    // The password copy lives for this run only, so a later request without a password uses
    // the built-in one again.
    ActivePassword = DefaultPassword;
    if (Request->HasPassword) {
        const char* password = Request->Password != nullptr ? Request->Password : "";
        size_t length = strlen(password);
        PasswordCopy = (char*)malloc(length + 1);
        if (PasswordCopy == nullptr) {
            EngineErrorBox(LoadMessage(IDS_NO_MEMORY));
            AbortRun(AbortError);
        }
        memcpy(PasswordCopy, password, length + 1);
        ActivePassword = PasswordCopy;
    }
}

static void CleanUp(void)
{
    if (ArchiveFile != HFILE_ERROR)
        _lclose(ArchiveFile);
    ArchiveFile = HFILE_ERROR;
    if (OutputFile != HFILE_ERROR) {
        _lclose(OutputFile);
        DeleteFileA(CreateName);   // the file whose writing was interrupted
    }
    OutputFile = HFILE_ERROR;
    ReleaseDecodeTables();
    if (InflateWindow != nullptr)
        GlobalUnlock(WindowMemory);
    if (WindowMemory != nullptr)
        GlobalFree(WindowMemory);
    InflateWindow = nullptr;
    WindowMemory = nullptr;
    free(InputBuffer);
    InputBuffer = nullptr;
    free(OutputBuffer);
    OutputBuffer = nullptr;
    free(ReadAhead);
    ReadAhead = nullptr;
    free(PasswordCopy);
    PasswordCopy = nullptr;
    ActivePassword = DefaultPassword;
    EngineBusy = 0;
}

int ExtractArchive(ExtractRequest* request)
{
    if (EngineBusy)
        return 0;
    EngineBusy = 1;
    Request = request;
    ArchiveFile = HFILE_ERROR;
    OutputFile = HFILE_ERROR;
    TestOnly = request->DestFolder == nullptr;
    Encrypted = 0;
    HasDataDescriptor = 0;
    UseCrcFolding(SystemSavesVectorState());

    // A path without any "." (folder names included) is taken to mean a .ZIP file.
    size_t length = strlen(request->ArchivePath);
    int addExtension = strchr(request->ArchivePath, '.') == nullptr;
    ArchivePathTooLong = length + (addExtension ? strlen(DefaultExtension) : 0) >= ArchiveNameSize;
    ArchiveName[0] = '\0';
    if (!ArchivePathTooLong) {
        memcpy(ArchiveName, request->ArchivePath, length + 1);
        if (addExtension)
            strcpy(ArchiveName + length, DefaultExtension);
    }
    BytesRead = 0;
    LastReported = 0;

    if (setjmp(AbortPoint) == 0) {
        AllocateBuffers();
        OpenArchive();
        if (Request->Placed != nullptr)
            WalkPlacedEntries();
        else
            WalkArchive();
        _lclose(ArchiveFile);
        ArchiveFile = HFILE_ERROR;
    } else {
        request->Result = AbortCode;
    }
    CleanUp();
    return 1;
}
