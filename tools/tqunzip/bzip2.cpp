// Method 12 (APPNOTE 4.4.5 and 5.7: one bzip2 stream) for the engine, through libbz2. The engine
// stays the owner of the entry: it reads and decrypts the data, writes, checks the CRC-32 and
// reports progress; this decoder only turns the pieces it is handed into bytes. A run may end
// inside the decoder (a read error, a full disk, an interrupt) by the engine's jump, so the
// stream is module state, released by ReleaseBzip2 after ExtractArchive, and the frames between
// hold only trivially destructible locals.
#include "tools/tqunzip/tqunzip.h"

#include "unzip/unzip.h"

#include <bzlib.h>
#include <string.h>

constexpr unsigned DecodedBlock = 32768;   // bytes handed to the engine's output per call

static bz_stream Stream;
static bool StreamOpen;
static char Decoded[DecodedBlock];

void ReleaseBzip2(void)
{
    if (StreamOpen)
        BZ2_bzDecompressEnd(&Stream);
    StreamOpen = false;
}

// 0: the stream ended (what follows it within the compressed size is ignored, as Deflate's is);
// 1: damaged, cut short, or no memory for the decoder's tables.
static int DecodeBzip2(void)
{
    ReleaseBzip2();
    memset(&Stream, 0, sizeof Stream);
    if (BZ2_bzDecompressInit(&Stream, 0, 0) != BZ_OK)
        return 1;
    StreamOpen = true;
    bool inputEnded = false;
    int result = 1;
    for (;;) {
        if (Stream.avail_in == 0 && !inputEnded) {
            const unsigned char* bytes = nullptr;
            unsigned count = ReadEntryData(&bytes);
            inputEnded = count == 0;
            Stream.next_in = (char*)bytes;
            Stream.avail_in = count;
        }
        Stream.next_out = Decoded;
        Stream.avail_out = DecodedBlock;
        int step = BZ2_bzDecompress(&Stream);
        unsigned produced = DecodedBlock - Stream.avail_out;
        WriteEntryData((const unsigned char*)Decoded, produced);
        if (step == BZ_STREAM_END) {
            result = 0;
            break;
        }
        // Data that is all read yet leaves the stream unfinished, with nothing more coming
        // out, is cut short.
        if (step != BZ_OK || (inputEnded && Stream.avail_in == 0 && produced == 0))
            break;
    }
    ReleaseBzip2();
    return result;
}

void LendBzip2(ExtractRequest& request)
{
    request.OtherMethod = MethodBzip2;
    request.DecodeOtherMethod = DecodeBzip2;
}
