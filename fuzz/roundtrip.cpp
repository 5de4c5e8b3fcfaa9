// The round trip: the input chooses a data shape, its size and a peer compressor's settings; the
// data, compressed by zlib or libdeflate, becomes the one deflated entry of an archive in a
// memory file, with its true CRC and size, and the engine extracts it into a scratch folder.
// The run must succeed without a message, and the file must hold the data byte for byte: the
// compare also says where a wrong decode starts, and it covers the output path, which a test
// run's CRC check would not.
//
// Input: byte 0 the compressor (bit 0) and the shape, bytes 1 to 4 the compressor's settings,
// bytes 5 and 6 the size (a power of two from 1 to 128 KiB and a fraction of it), then the bytes
// the shape's random choices come from. 128 KiB passes the window's end four times: enough for
// every state there, and small enough for a hundred inputs a second; the differential test of
// the engine suite covers entries of megabytes.
#include "fuzz/run_checked.h"
#include "tests/support/archive_writer.h"
#include "tests/support/data_shapes.h"
#include "tests/support/peer_deflate.h"
#include "base/posix/sink.h"
#include "unzip/unzip.h"

#include <zlib.h>

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <unistd.h>

#include <string>

constexpr size_t HeaderSize = 7;
constexpr unsigned LargestSizeBits = 17;   // data up to 128 KiB

static bool BoxShown;

static int RecordBox(HWND, const char* text, const char*, UINT)
{
    fprintf(stderr, "engine message: %s\n", text != nullptr ? text : "");
    BoxShown = true;
    return IDOK;
}

static LRESULT SilentOwner(HWND, UINT, WPARAM, LPARAM) { return 0; }

// The one deflated entry, with zlib's CRC (the writer's bit-by-bit one is slow at this volume).
static Bytes OneEntryArchive(const Bytes& data, const Bytes& stream)
{
    ZipArchive archive;
    archive.Entries.push_back(Entry("f", data, 8));
    archive.Entries[0].Compressed = stream;
    archive.Entries[0].UseCrcOverride = true;
    archive.Entries[0].CrcOverride = (uint32_t)crc32(0, data.data(), (uInt)data.size());
    return archive.Build();
}

static std::string folder, output;

static void RemoveScratch(void)
{
    unlink(output.c_str());
    rmdir(folder.c_str());
}

static void Fail(const char* what, const std::string& settings, size_t size)
{
    fprintf(stderr, "round trip failed: %s (%zu bytes, %s)\n", what, size, settings.c_str());
    abort();
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* input, size_t inputSize)
{
    static int file = -1;
    static char path[64];
    if (file < 0) {
        file = memfd_create("roundtrip.zip", 0);
        snprintf(path, sizeof path, "/proc/self/fd/./%d", file);   // "." keeps ".ZIP" off
        char pattern[] = "/tmp/tq-fuzz-roundtrip-XXXXXX";
        if (file < 0 || mkdtemp(pattern) == nullptr)
            abort();
        folder = pattern;
        output = folder + "/f";
        SetMessageBoxSink(RecordBox);
        SetMessageSink(SilentOwner);
        atexit(RemoveScratch);
    }
    uint8_t header[HeaderSize] = {};
    memcpy(header, input, inputSize < HeaderSize ? inputSize : HeaderSize);
    ShapeSource source(input + (inputSize < HeaderSize ? inputSize : HeaderSize),
                       inputSize < HeaderSize ? 0 : inputSize - HeaderSize);

    unsigned sizeBits = header[5] % (LargestSizeBits + 1);
    size_t size = ((size_t)1 << sizeBits) - 1 + (((size_t)header[6] << sizeBits) >> 8);
    if (size > (size_t)1 << LargestSizeBits)
        size = (size_t)1 << LargestSizeBits;
    Shape shape = (Shape)((header[0] >> 1) % ShapeCount);
    Bytes data = MakeShape(shape, size, source);

    Bytes stream;
    std::string settings, failure;
    bool compressed;
    if ((header[0] & 1) == 0) {
        uint32_t first = header[1] | header[2] << 8 | header[3] << 16 | (uint32_t)header[4] << 24;
        ZlibSettings zlib = DrawZlibSettings(first, source.Next(), size);
        settings = Describe(zlib);
        compressed = ZlibDeflate(data, zlib, &stream, &failure);
    } else {
        int level = header[1] % 13;
        settings = "libdeflate level " + std::to_string(level);
        compressed = LibdeflateDeflate(data, level, &stream, &failure);
    }
    settings += std::string(", ") + ShapeName(shape);
    if (!compressed)
        Fail(failure.c_str(), settings, size);

    Bytes archive = OneEntryArchive(data, stream);
    if (ftruncate(file, 0) != 0 || pwrite(file, archive.data(), archive.size(), 0) != (ssize_t)archive.size())
        abort();
    ExtractRequest request;
    memset(&request, 0, sizeof request);
    request.ReportCrcErrors = 1;
    request.ArchivePath = path;
    request.DestFolder = folder.c_str();
    BoxShown = false;
    RunChecked(&request);
    if (request.Result != 0 || BoxShown)
        Fail("the run reported an error", settings, size);
    FILE* extracted = fopen(output.c_str(), "rb");
    if (extracted == nullptr)
        Fail("no file came out", settings, size);
    Bytes back(size + 1);
    size_t got = fread(back.data(), 1, back.size(), extracted);
    fclose(extracted);
    unlink(output.c_str());
    if (got != size)
        Fail("the file's size differs", settings, size);
    back.resize(size);
    if (back != data) {
        size_t at = 0;
        while (back[at] == data[at])
            ++at;
        fprintf(stderr, "first wrong byte at %zu\n", at);
        Fail("the bytes differ", settings, size);
    }
    return 0;
}
