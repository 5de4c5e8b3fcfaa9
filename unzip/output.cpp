// Entry output: the entry's compressed bytes come in through FillInput in blocks, decrypted in
// place; decoded bytes go out through OutputBuffer in blocks, each through the CRC-32 on its
// way. Progress reports to the owner window, the only place where a cancel stops the run, are
// made here too.
#include "unzip/engine.h"

#include "res/resource.h"
#include "base/base.h"

#include <string.h>

constexpr int CompressionOffset = 4;    // offsets in LocalHeader, APPNOTE 4.3.7
constexpr int TimeOffset = 6;
constexpr int DateOffset = 8;
constexpr int CrcOffset = 10;
constexpr int CompressedSizeOffset = 14;
constexpr unsigned MethodStored = 0;    // APPNOTE 4.4.5
constexpr unsigned MethodDeflated = 8;
constexpr uint32_t DataDescriptorSignature = 0x08074b50u; // APPNOTE 4.3.9.3
constexpr unsigned DescriptorFieldsSize = 12;  // CRC-32, compressed size, uncompressed size
constexpr unsigned DescriptorProbeSize = 16;   // the fields behind an optional signature

const unsigned char* InputNext;
unsigned InputCount;
uint32_t CrcRegister;
uint32_t BytesRead;
uint32_t LastReported;
static unsigned OutputCount;   // decoded bytes waiting in OutputBuffer

void UpdateCrc(const unsigned char* bytes, unsigned count)
{
    CrcRegister = AddToCrc(CrcRegister, bytes, count);
}

typedef BOOL(WINAPI* IsProcessorFeaturePresentProc)(DWORD feature);

// The processor's flag says only that the instructions exist: Windows 95 and NT 4.0 run on such
// processors without saving the XMM registers. The system's answer for SSE2 includes its own
// part; a kernel32 without the call (Windows 95) counts as no.
bool SystemSavesVectorState(void)
{
    HMODULE kernel = GetModuleHandleA("kernel32.dll");
    if (kernel == nullptr)
        return false;
    auto isPresent = (IsProcessorFeaturePresentProc)(void*)GetProcAddress(kernel, "IsProcessorFeaturePresent");
    return isPresent != nullptr && isPresent(PF_XMMI64_INSTRUCTIONS_AVAILABLE) != 0;
}

static void ReportProgress(int force, uint32_t count)
{
    BytesRead += count;
    if (!force && BytesRead < LastReported + ProgressUnitBytes)
        return;
    WPARAM units = (WPARAM)((BytesRead / ProgressUnitBytes) & 0xFFFF);
    if (SendMessageA(Request->OwnerWindow, WM_SETUP_PROGRESS, units, 0) != 0)
        AbortRun(AbortCancelled);
    if (DispatchPendingMessages())
        AbortRun(AbortCancelled);
    LastReported = BytesRead;
}

static void ReportFileName(void)
{
    char name[EntryNameSize];
    lstrcpynA(name, BaseName(EntryName), sizeof name);
    SendMessageA(Request->OwnerWindow, WM_SETUP_FILENAME, 0, (LPARAM)name);
    ReportProgress(1, 0);
}

// Reads the next block of the entry's data, never beyond its compressed size.
unsigned FillInput(void)
{
    if (RemainingCompressed == 0) {
        InputCount = 0;
        return 0;
    }
    unsigned count = RemainingCompressed < BlockSize ? RemainingCompressed : BlockSize;
    ReadArchiveBytes(InputBuffer, count);
    ReportProgress(0, count);
    RemainingCompressed -= count;
    InputNext = InputBuffer;
    InputCount = count;
    if (Encrypted)
        DecryptBuffer(InputBuffer, count);
    return count;
}

static void CheckWritten(UINT count)
{
    if (count == (UINT)HFILE_ERROR || count != OutputCount) {
        ShowEngineError(IDS_DISK_FULL, EntryName);
        AbortRun(AbortError);
    }
}

static void FlushOutput(void)
{
    UpdateCrc(OutputBuffer, OutputCount);
    if (!TestOnly)
        CheckWritten(_lwrite(OutputFile, (LPCCH)OutputBuffer, OutputCount));
    OutputCount = 0;
}

void WriteOutputBytes(unsigned count)
{
    WriteEntryData(InflateWindow, count);
}

void WriteEntryData(const unsigned char* bytes, unsigned count)
{
    while (count != 0) {
        unsigned piece = BlockSize - OutputCount;
        if (piece > count)
            piece = count;
        memcpy(OutputBuffer + OutputCount, bytes, piece);
        OutputCount += piece;
        bytes += piece;
        count -= piece;
        if (OutputCount == BlockSize)
            FlushOutput();
    }
}

unsigned ReadEntryData(const unsigned char** bytes)
{
    if (InputCount == 0 && FillInput() == 0)
        return 0;
    unsigned count = InputCount;
    *bytes = InputNext;
    InputNext += count;
    InputCount = 0;
    return count;
}

// A stored entry's bytes go straight from the input block to the output block.
static void CopyStoredEntry(void)
{
    for (;;) {
        if (InputCount == 0 && FillInput() == 0)
            return;
        unsigned piece = BlockSize - OutputCount;
        if (piece > InputCount)
            piece = InputCount;
        memcpy(OutputBuffer + OutputCount, InputNext, piece);
        InputNext += piece;
        InputCount -= piece;
        OutputCount += piece;
        if (OutputCount == BlockSize)
            FlushOutput();
    }
}

// The MS-DOS date and time are local time; the file gets the moment a local clock showing them
// stands for, unless the caller placed the entry with a time of its own. Failed conversions
// leave a zero time, which SetFileTime ignores.
static void SetOutputFileTime(void)
{
    FILETIME local = {0, 0};
    FILETIME universal = {0, 0};
    const PlacedEntry* placed = Request->Placed != nullptr ? &Request->Placed[Request->PlacedReached] : nullptr;
    if (placed != nullptr && (placed->LastWrite.dwLowDateTime != 0 || placed->LastWrite.dwHighDateTime != 0)) {
        universal = placed->LastWrite;
    } else {
        DosDateTimeToFileTime((WORD)ReadLittle16(LocalHeader + DateOffset),
                              (WORD)ReadLittle16(LocalHeader + TimeOffset), &local);
        LocalFileTimeToFileTime(&local, &universal);
    }
    SetFileTime((HANDLE)(INT_PTR)OutputFile, nullptr, nullptr, &universal);
}

// Streaming tools leave CRC and sizes 0 in the local header and put the real values in a data
// descriptor behind the data (APPNOTE 4.3.9). A deflated entry ends where its stream ends, but
// for a stored one nothing tells where its data ends: it is truly empty only when the descriptor
// of an empty entry follows at once. The look ahead is put back, so the walk reads on unchanged.
static int StoredDataMissing(void)
{
    unsigned char descriptor[DescriptorProbeSize];
    LONG got = PeekArchiveBytes(descriptor, DescriptorProbeSize);
    if (got < (LONG)DescriptorFieldsSize)
        return 1;
    const unsigned char* fields = descriptor;
    if (got == (LONG)DescriptorProbeSize && ReadLittle32(descriptor) == DataDescriptorSignature)
        fields = descriptor + 4;
    return ReadLittle32(fields) != 0 || ReadLittle32(fields + 4) != 0 || ReadLittle32(fields + 8) != 0;
}

void ExtractEntry(void)
{
    CrcRegister = 0xFFFFFFFFu;
    InputCount = 0;
    OutputCount = 0;
    if (!TestOnly)
        CreateOutputFile();
    unsigned method = ReadLittle16(LocalHeader + CompressionOffset);
    int other = Request->DecodeOtherMethod != nullptr && method == Request->OtherMethod;
    if (method != MethodStored && method != MethodDeflated && !other) {
        EngineErrorBox(LoadMessage(IDS_UNKNOWN_COMPRESSION));
        AbortRun(AbortError);
    }
    ReportFileName();

    int damaged = 0;
    int streamedStored = method == MethodStored && HasDataDescriptor &&
                         ReadLittle32(LocalHeader + CompressedSizeOffset) == 0;
    if (method == MethodStored)
        CopyStoredEntry();
    else if (other)
        damaged = Request->DecodeOtherMethod() != 0;
    else
        damaged = Inflate() != 0;

    if (OutputCount != 0) {
        UpdateCrc(OutputBuffer, OutputCount);
        if (!TestOnly)
            CheckWritten(_lwrite(OutputFile, (LPCCH)OutputBuffer, OutputCount));
    }
    if (!TestOnly) {
        SetOutputFileTime();
        _lclose(OutputFile);
    }
    OutputFile = HFILE_ERROR;

    // A Deflate stream that did not decode to its end counts as damage even when the CRCs
    // agree, and so does a streamed stored entry whose data was never in the local header's
    // sizes: either would otherwise come out empty without complaint.
    if (streamedStored && Request->ReportCrcErrors == 1)
        damaged = StoredDataMissing();
    uint32_t crc = ~CrcRegister;
    uint32_t stored = ReadLittle32(LocalHeader + CrcOffset);
    if ((crc != stored || damaged) && Request->ReportCrcErrors == 1) {
        char text[MessageTextSize];
        wsprintfA(text, LoadMessage(IDS_BAD_CRC), EntryName, (unsigned long)crc,
                  (unsigned long)stored);
        EngineErrorBox(text);
        AbortRun(AbortError);
    }
}
