// Fuzzes the Deflate decoder through the engine's own entry point: the input becomes the data
// of the one deflated entry of an archive held in a memory file, and a test run decodes it. The
// run reports CRC errors, so the abort path and its clean-up are taken on almost every input.
#include "fuzz/run_checked.h"
#include "base/posix/sink.h"
#include "unzip/unzip.h"

#include <stdint.h>
#include <stdio.h>
#include <string.h>
#include <sys/mman.h>
#include <unistd.h>

#include <vector>

static void Put16(std::vector<uint8_t>& out, unsigned value)
{
    out.push_back((uint8_t)value);
    out.push_back((uint8_t)(value >> 8));
}

static void Put32(std::vector<uint8_t>& out, uint32_t value)
{
    Put16(out, value & 0xFFFF);
    Put16(out, value >> 16);
}

static int SilentBox(HWND, const char*, const char*, UINT) { return IDOK; }
static LRESULT SilentOwner(HWND, UINT, WPARAM, LPARAM) { return 0; }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static int file = -1;
    static char path[64];
    if (file < 0) {
        file = memfd_create("entry.zip", 0);
        // The "." keeps the engine from appending ".ZIP" to a name without one.
        snprintf(path, sizeof path, "/proc/self/fd/./%d", file);
        SetMessageBoxSink(SilentBox);
        SetMessageSink(SilentOwner);
    }

    std::vector<uint8_t> archive;
    Put32(archive, 0x04034b50);   // local file header, APPNOTE 4.3.7
    Put16(archive, 20);           // version needed
    Put16(archive, 0);            // flags: not encrypted, no data descriptor
    Put16(archive, 8);            // deflated
    Put16(archive, 0);            // time
    Put16(archive, 0x21);         // date: 1980-01-01
    Put32(archive, 0);            // CRC-32
    Put32(archive, (uint32_t)size);
    Put32(archive, 1);            // uncompressed size: anything but 0
    Put16(archive, 1);            // name length
    Put16(archive, 0);            // extra field length
    archive.push_back('f');
    archive.insert(archive.end(), data, data + size);
    Put32(archive, 0x06054b50);   // end of central directory, APPNOTE 4.3.16
    archive.resize(archive.size() + 18, 0);
    if (ftruncate(file, 0) != 0 || pwrite(file, archive.data(), archive.size(), 0) != (ssize_t)archive.size())
        return 0;

    ExtractRequest request;
    memset(&request, 0, sizeof request);
    request.ReportCrcErrors = 1;
    request.ArchivePath = path;
    RunChecked(&request);
    return 0;
}
