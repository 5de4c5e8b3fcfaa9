// Raw Deflate streams (RFC 1951) made by the peer compressors, zlib and libdeflate, over the
// whole of their parameter space: the decoder's controls in the differential test and the
// round-trip fuzz target. Native builds only: the Windows trees link neither library.
#ifndef TQ_TESTS_SUPPORT_PEER_DEFLATE_H
#define TQ_TESTS_SUPPORT_PEER_DEFLATE_H

#include "archive_writer.h"

#include <string>

// zlib's settings. The input goes in pieces of ChunkSize bytes, each followed by Flush; halfway
// through, when SwitchLevel is 0 to 9, deflateParams changes to it and SwitchStrategy.
struct ZlibSettings {
    int Level = 6;              // 0 to 9
    int WindowBits = 15;        // 9 to 15
    int MemLevel = 8;           // 1 to 9
    int Strategy = 0;           // Z_DEFAULT_STRATEGY, Z_FILTERED, Z_HUFFMAN_ONLY, Z_RLE, Z_FIXED
    int Flush = 0;              // Z_NO_FLUSH, Z_PARTIAL_FLUSH, Z_SYNC_FLUSH, Z_FULL_FLUSH, Z_BLOCK
    size_t ChunkSize = 0;       // 0: the whole input at once
    int SwitchLevel = -1;
    int SwitchStrategy = 0;
};

// Draws the settings from 32-bit values, a field at a time.
ZlibSettings DrawZlibSettings(uint32_t first, uint32_t second, size_t dataSize);
std::string Describe(const ZlibSettings& settings);

// Both return false when the library refuses (it should not): the reason is in *failure.
bool ZlibDeflate(const Bytes& data, const ZlibSettings& settings, Bytes* stream,
                 std::string* failure);
bool LibdeflateDeflate(const Bytes& data, int level, Bytes* stream, std::string* failure);  // 0 to 12

#endif
