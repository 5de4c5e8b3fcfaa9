// The peer compressors (peer_deflate.h).
#include "peer_deflate.h"

#include <libdeflate.h>
#include <zlib.h>

#include <stdio.h>

namespace {

constexpr int Strategies[] = {Z_DEFAULT_STRATEGY, Z_FILTERED, Z_HUFFMAN_ONLY, Z_RLE, Z_FIXED};
constexpr int Flushes[] = {Z_NO_FLUSH, Z_PARTIAL_FLUSH, Z_SYNC_FLUSH, Z_FULL_FLUSH, Z_BLOCK};
constexpr const char* FlushNames[] = {"none", "partial", "sync", "full", "block"};
constexpr size_t MaxChunks = 4096;       // flush points per stream, at most
constexpr size_t OutputStep = 1 << 16;   // room added whenever deflate fills the output

// At least OutputStep bytes of room behind what deflate has written.
void MakeRoom(z_stream& stream, Bytes& out)
{
    size_t used = out.size() - stream.avail_out;
    out.resize(used + OutputStep + stream.avail_out);
    stream.next_out = out.data() + used;
    stream.avail_out = (uInt)(out.size() - used);
}

// Runs deflate until it has taken all input and, for a flush, emitted everything pending.
bool Pump(z_stream& stream, Bytes& out, int flush, std::string* failure)
{
    for (;;) {
        if (stream.avail_out == 0)
            MakeRoom(stream, out);
        int result = deflate(&stream, flush);
        if (result == Z_STREAM_END)
            return true;
        if (result != Z_OK && result != Z_BUF_ERROR) {
            *failure = "deflate returned " + std::to_string(result);
            return false;
        }
        if (stream.avail_in == 0 && stream.avail_out != 0 && flush != Z_FINISH)
            return true;
    }
}

}

ZlibSettings DrawZlibSettings(uint32_t first, uint32_t second, size_t dataSize)
{
    ZlibSettings settings;
    settings.Level = first % 10;
    settings.WindowBits = 9 + (first >> 4) % 7;
    settings.MemLevel = 1 + (first >> 8) % 9;
    settings.Strategy = Strategies[(first >> 12) % 5];
    settings.Flush = Flushes[(first >> 16) % 5];
    // Pieces from one byte to 128 KiB, but no more than MaxChunks of them.
    size_t chunk = (size_t)1 << ((first >> 20) % 18);
    chunk += (second & 0xFFFF) % chunk;
    if (chunk * MaxChunks < dataSize)
        chunk = dataSize / MaxChunks + 1;
    settings.ChunkSize = (first >> 27) % 4 == 0 ? 0 : chunk;
    if ((second >> 16) % 4 == 0) {
        settings.SwitchLevel = (second >> 18) % 10;
        settings.SwitchStrategy = Strategies[(second >> 22) % 5];
    }
    return settings;
}

std::string Describe(const ZlibSettings& settings)
{
    char text[160];
    snprintf(text, sizeof text, "zlib level %d window %d memLevel %d strategy %d flush %s every %zu",
             settings.Level, settings.WindowBits, settings.MemLevel, settings.Strategy,
             FlushNames[settings.Flush == Z_BLOCK ? 4 : settings.Flush], settings.ChunkSize);
    std::string description = text;
    if (settings.SwitchLevel >= 0)
        description += ", then level " + std::to_string(settings.SwitchLevel) + " strategy " +
                       std::to_string(settings.SwitchStrategy);
    return description;
}

bool ZlibDeflate(const Bytes& data, const ZlibSettings& settings, Bytes* stream,
                 std::string* failure)
{
    z_stream z = {};
    if (deflateInit2(&z, settings.Level, Z_DEFLATED, -settings.WindowBits, settings.MemLevel,
                     settings.Strategy) != Z_OK) {
        *failure = "deflateInit2 refused " + Describe(settings);
        return false;
    }
    Bytes out;
    size_t chunk = settings.ChunkSize == 0 ? data.size() : settings.ChunkSize;
    bool ok = true;
    for (size_t at = 0; ok && at < data.size(); at += chunk) {
        if (settings.SwitchLevel >= 0 && at <= data.size() / 2 && at + chunk > data.size() / 2) {
            // deflateParams flushes what it has under the old settings; it may need room first.
            MakeRoom(z, out);
            int result;
            while ((result = deflateParams(&z, settings.SwitchLevel, settings.SwitchStrategy)) ==
                   Z_BUF_ERROR && z.avail_out == 0)
                ok = Pump(z, out, Z_NO_FLUSH, failure);
            if (result != Z_OK && result != Z_BUF_ERROR) {
                *failure = "deflateParams returned " + std::to_string(result);
                ok = false;
            }
        }
        z.next_in = (Bytef*)data.data() + at;
        z.avail_in = (uInt)(data.size() - at < chunk ? data.size() - at : chunk);
        ok = ok && Pump(z, out, settings.ChunkSize == 0 ? Z_NO_FLUSH : settings.Flush, failure);
    }
    ok = ok && Pump(z, out, Z_FINISH, failure);
    out.resize(out.size() - z.avail_out);
    deflateEnd(&z);
    *stream = out;
    return ok;
}

bool LibdeflateDeflate(const Bytes& data, int level, Bytes* stream, std::string* failure)
{
    libdeflate_compressor* compressor = libdeflate_alloc_compressor(level);
    if (compressor == nullptr) {
        *failure = "libdeflate refused level " + std::to_string(level);
        return false;
    }
    Bytes out(libdeflate_deflate_compress_bound(compressor, data.size()));
    size_t size = libdeflate_deflate_compress(compressor, data.data(), data.size(), out.data(),
                                              out.size());
    libdeflate_free_compressor(compressor);
    if (size == 0) {
        *failure = "libdeflate found no room";
        return false;
    }
    out.resize(size);
    *stream = out;
    return true;
}
