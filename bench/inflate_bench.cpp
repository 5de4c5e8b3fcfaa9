// The Deflate decoder alone, against zlib and libdeflate on the same streams: every deflated,
// unencrypted entry of the archive given is loaded into memory, and each decoder turns all of
// them back into bytes and their CRC-32, several rounds each. The engine's decoder is driven
// the way its entry output drives it (bytes from the input block, output through the CRC),
// without the archive file, the progress reports or an output file.
//
// usage: inflate_bench ARCHIVE [ROUNDS [DECODER]]   DECODER alone: tqengine, zlib or libdeflate,
//        without the table (for counting instructions under callgrind)
#include "unzip/engine.h"

#include <libdeflate.h>
#include <zlib.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <vector>

struct Stream {
    const unsigned char* data;
    uint32_t compressedSize;
    uint32_t size;
    uint32_t crc;
};

static std::vector<unsigned char> Archive;
static std::vector<Stream> Streams;
static std::vector<unsigned char> Scratch;   // output of the zlib and libdeflate runs

// Central directory headers (APPNOTE 4.3.12) name each entry's local header; the data follows
// the local header's name and extra field (APPNOTE 4.3.7).
static void LoadStreams(void)
{
    size_t end = Archive.size() - 22;
    while (ReadLittle32(&Archive[end]) != 0x06054b50)
        --end;
    size_t at = ReadLittle32(&Archive[end + 16]);
    while (ReadLittle32(&Archive[at]) == 0x02014b50) {
        const unsigned char* h = &Archive[at];
        const unsigned char* local = &Archive[ReadLittle32(h + 42)];
        if (ReadLittle16(h + 10) == 8 && (ReadLittle16(h + 8) & 1) == 0)
            Streams.push_back({local + 30 + ReadLittle16(local + 26) + ReadLittle16(local + 28),
                               ReadLittle32(h + 20), ReadLittle32(h + 24), ReadLittle32(h + 16)});
        at += 46 + ReadLittle16(h + 28) + ReadLittle16(h + 30) + ReadLittle16(h + 32);
    }
}

static int EngineRound(void)
{
    for (const Stream& s : Streams) {
        InputNext = s.data;
        InputCount = s.compressedSize;
        RemainingCompressed = 0;
        CrcRegister = 0xFFFFFFFFu;
        if (Inflate() != 0)
            return 0;
    }
    return 1;
}

static int ZlibRound(void)
{
    z_stream z;
    memset(&z, 0, sizeof z);
    inflateInit2(&z, -15);   // raw Deflate, 32 KiB window
    for (const Stream& s : Streams) {
        inflateReset(&z);
        z.next_in = (Bytef*)s.data;
        z.avail_in = s.compressedSize;
        z.next_out = Scratch.data();
        z.avail_out = (uInt)Scratch.size();
        if (inflate(&z, Z_FINISH) != Z_STREAM_END || crc32(0, Scratch.data(), s.size) != s.crc)
            return 0;
    }
    inflateEnd(&z);
    return 1;
}

static int LibdeflateRound(void)
{
    libdeflate_decompressor* d = libdeflate_alloc_decompressor();
    int ok = 1;
    for (const Stream& s : Streams)
        if (libdeflate_deflate_decompress(d, s.data, s.compressedSize, Scratch.data(), s.size, nullptr)
                != LIBDEFLATE_SUCCESS
            || libdeflate_crc32(0, Scratch.data(), s.size) != s.crc)
            ok = 0;
    libdeflate_free_decompressor(d);
    return ok;
}

// CPU time of this thread: on a shared machine, time spent waiting for a processor is not the
// decoder's.
static double ThreadSeconds(void)
{
    timespec now;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return (double)now.tv_sec + (double)now.tv_nsec / 1e9;
}

struct Decoder {
    const char* name;
    int (*round)(void);
    std::vector<double> seconds;
};

// The decoders take turns round by round, so a change in the machine's load falls on all.
static void Measure(Decoder* decoders, int count, int rounds)
{
    for (int i = 0; i < rounds; ++i)
        for (int d = 0; d < count; ++d) {
            double start = ThreadSeconds();
            if (!decoders[d].round()) {
                printf("%s: decoding failed\n", decoders[d].name);
                exit(1);
            }
            decoders[d].seconds.push_back(ThreadSeconds() - start);
        }
}

static double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

int main(int argc, char** argv)
{
    if (argc < 2) {
        fprintf(stderr, "usage: inflate_bench ARCHIVE [ROUNDS [DECODER]]\n");
        return 64;
    }
    int rounds = argc > 2 ? atoi(argv[2]) : 7;
    std::ifstream in(argv[1], std::ios::binary);
    in.seekg(0, std::ios::end);
    Archive.resize((size_t)in.tellg());
    in.seekg(0);
    in.read((char*)Archive.data(), (std::streamsize)Archive.size());
    if (Archive.size() < 22)
        return 1;
    LoadStreams();
    double compressed = 0, bytes = 0;
    uint32_t largest = 0;
    for (const Stream& s : Streams) {
        compressed += s.compressedSize;
        bytes += s.size;
        largest = std::max(largest, s.size);
    }
    Scratch.resize(largest + 1);

    // The engine's own test run of the archive checks every CRC first.
    ExtractRequest request;
    memset(&request, 0, sizeof request);
    request.ReportCrcErrors = 1;
    request.ArchivePath = argv[1];
    if (ExtractArchive(&request) != 1 || request.Result != 0) {
        printf("the engine's test run of %s failed\n", argv[1]);
        return 1;
    }

    // What a run of the engine allocates, and a test run's setting: the output goes through
    // the CRC and is not written.
    InflateWindow = (unsigned char*)calloc(1, WindowAllocSize);
    OutputBuffer = (unsigned char*)malloc(IoBufferSize);
    TestOnly = 1;

    if (argc <= 3)
        printf("%zu Deflate streams, %.1f MiB compressed, %.1f MiB decoded; median CPU time of %d rounds\n\n",
               Streams.size(), compressed / 1048576, bytes / 1048576, rounds);
    Decoder decoders[] = {{"tqengine", EngineRound, {}}, {"zlib", ZlibRound, {}},
                          {"libdeflate", LibdeflateRound, {}}};
    if (argc > 3) {
        for (Decoder& d : decoders)
            if (strcmp(d.name, argv[3]) == 0) {
                Measure(&d, 1, rounds);
                return 0;
            }
        fprintf(stderr, "inflate_bench: no decoder %s\n", argv[3]);
        return 64;
    }
    Measure(decoders, 3, rounds);
    printf("| decoder    | CPU ms   | MiB/s    |\n|------------|----------|----------|\n");
    for (Decoder& d : decoders)
        printf("| %-10s | %8.1f | %8.1f |\n", d.name, Median(d.seconds) * 1000, bytes / Median(d.seconds) / 1048576);
    double engine = Median(decoders[0].seconds), zlib = Median(decoders[1].seconds);
    double libdeflate = Median(decoders[2].seconds);
    printf("\ntqengine / zlib: %.2f (throughput %.2f times zlib's); tqengine / libdeflate: %.2f "
           "(time ratios, below 1: tqengine faster)\n", engine / zlib, zlib / engine, engine / libdeflate);
    free(InflateWindow);
    free(OutputBuffer);
    return 0;
}
