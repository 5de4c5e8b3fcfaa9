// CRC-32 tables of the ZIP format (ISO 3309 / ITU-T V.42, reflected polynomial 0xEDB88320),
// computed at compile time. Entry CRCs use them sixteen bytes at a time (slice-by-16, which gives
// the same register as one byte at a time); the traditional cipher uses CrcTable for its keys.
#include "unzip/decode.h"

constexpr uint32_t CrcPolynomial = 0xEDB88320u;
constexpr int SliceCount = 16;

struct CrcTables {
    uint32_t Slice[SliceCount][256];
};

static constexpr CrcTables MakeCrcTables()
{
    CrcTables tables{};
    for (uint32_t byte = 0; byte < 256; ++byte) {
        uint32_t crc = byte;
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? (crc >> 1) ^ CrcPolynomial : crc >> 1;
        tables.Slice[0][byte] = crc;
    }
    // One more zero byte through the register: the CRC step with a data byte of 0.
    for (int k = 1; k < SliceCount; ++k)
        for (int byte = 0; byte < 256; ++byte) {
            uint32_t previous = tables.Slice[k - 1][byte];
            tables.Slice[k][byte] = (previous >> 8) ^ tables.Slice[0][previous & 0xFF];
        }
    return tables;
}

static constexpr CrcTables Tables = MakeCrcTables();

const uint32_t (&CrcTable)[256] = Tables.Slice[0];
const uint32_t (&CrcSliceTable)[SliceCount][256] = Tables.Slice;
