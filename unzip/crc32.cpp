// CRC-32 of the ZIP format (ISO 3309 / ITU-T V.42, reflected polynomial 0xEDB88320). The tables
// are computed at compile time. Entry CRCs go sixteen bytes at a time through slice-by-16, or,
// on x86 processors with carry-less multiplication, by folding: 64 bytes at a time are reduced
// modulo the polynomial to 16 that leave the same remainder (the method of Intel's white paper
// "Fast CRC Computation for Generic Polynomials Using PCLMULQDQ Instruction"), and the table
// finishes the last of them. Both give the register of one byte at a time. Folding works in the
// XMM registers, so it also needs a system that saves them at each task switch, which the
// platform side answers (UseCrcFolding); until it has, the table runs. The traditional cipher
// uses CrcTable for its keys.
#include "unzip/decode.h"

#if (defined(__x86_64__) || defined(__i386__)) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>
#define TQ_CRC_FOLDING 1
#endif

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

static inline uint32_t ReadWord32(const unsigned char* p)
{
    return p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 | (uint32_t)p[3] << 24;
}

static uint32_t AddBytesBySlices(uint32_t crc, const unsigned char* bytes, size_t count)
{
    const uint32_t (*slice)[256] = Tables.Slice;
    for (; count >= 16; bytes += 16, count -= 16) {
        uint32_t a = ReadWord32(bytes) ^ crc;
        uint32_t b = ReadWord32(bytes + 4);
        uint32_t c = ReadWord32(bytes + 8);
        uint32_t d = ReadWord32(bytes + 12);
        crc = slice[15][a & 0xFF] ^ slice[14][(a >> 8) & 0xFF]
            ^ slice[13][(a >> 16) & 0xFF] ^ slice[12][a >> 24]
            ^ slice[11][b & 0xFF] ^ slice[10][(b >> 8) & 0xFF]
            ^ slice[9][(b >> 16) & 0xFF] ^ slice[8][b >> 24]
            ^ slice[7][c & 0xFF] ^ slice[6][(c >> 8) & 0xFF]
            ^ slice[5][(c >> 16) & 0xFF] ^ slice[4][c >> 24]
            ^ slice[3][d & 0xFF] ^ slice[2][(d >> 8) & 0xFF]
            ^ slice[1][(d >> 16) & 0xFF] ^ slice[0][d >> 24];
    }
    for (; count != 0; ++bytes, --count)
        crc = (crc >> 8) ^ Tables.Slice[0][(crc ^ *bytes) & 0xFF];
    return crc;
}

#ifdef TQ_CRC_FOLDING
constexpr unsigned FoldBytes = 64;   // four 16-byte lanes

// x^n mod P in the reflected 33-bit form that carry-less products of reflected data take:
// the product of a 64-bit half with it comes out 32 places lower than its degree needs, which
// folding constants of x^(n) make up for by being taken as x^(n - 32) here.
static constexpr uint64_t FoldConstant(unsigned n)
{
    uint64_t remainder = 1;   // x^0, not reflected, modulo the unreflected polynomial 0x104C11DB7
    for (unsigned i = 0; i < n - 32; ++i) {
        remainder <<= 1;
        if (remainder & (uint64_t(1) << 32))
            remainder ^= 0x104C11DB7u;
    }
    uint64_t reflected = 0;
    for (int bit = 0; bit < 32; ++bit)
        if (remainder & (uint64_t(1) << bit))
            reflected |= uint64_t(1) << (31 - bit);
    return reflected << 1;
}

// A 16-byte lane moved forward by d bits: its first 8 bytes (the higher-degree half) times
// x^(d + 64), its last 8 times x^d, both modulo P.
__attribute__((target("pclmul,sse2"))) static inline __m128i Fold(__m128i lane, __m128i constants)
{
    return _mm_xor_si128(_mm_clmulepi64_si128(lane, constants, 0x00),
                         _mm_clmulepi64_si128(lane, constants, 0x11));
}

__attribute__((target("pclmul,sse2"))) static inline __m128i LoadLane(const unsigned char* p)
{
    return _mm_loadu_si128((const __m128i*)p);
}

// Folds count bytes (a multiple of 16, at least 64) into 16 bytes whose CRC from 0 is the CRC
// of the whole from crc, and runs the table over those.
__attribute__((target("pclmul,sse2")))
static uint32_t AddBytesByFolding(uint32_t crc, const unsigned char* bytes, size_t count)
{
    const __m128i by512 = _mm_set_epi64x((long long)FoldConstant(4 * 128 + 64 - 64),
                                         (long long)FoldConstant(4 * 128 + 64));
    const __m128i by128 = _mm_set_epi64x((long long)FoldConstant(128 + 64 - 64),
                                         (long long)FoldConstant(128 + 64));
    __m128i x0 = _mm_xor_si128(LoadLane(bytes), _mm_cvtsi32_si128((int)crc));
    __m128i x1 = LoadLane(bytes + 16);
    __m128i x2 = LoadLane(bytes + 32);
    __m128i x3 = LoadLane(bytes + 48);
    bytes += FoldBytes;
    count -= FoldBytes;
    for (; count >= FoldBytes; bytes += FoldBytes, count -= FoldBytes) {
        x0 = _mm_xor_si128(Fold(x0, by512), LoadLane(bytes));
        x1 = _mm_xor_si128(Fold(x1, by512), LoadLane(bytes + 16));
        x2 = _mm_xor_si128(Fold(x2, by512), LoadLane(bytes + 32));
        x3 = _mm_xor_si128(Fold(x3, by512), LoadLane(bytes + 48));
    }
    x0 = _mm_xor_si128(Fold(x0, by128), x1);
    x0 = _mm_xor_si128(Fold(x0, by128), x2);
    x0 = _mm_xor_si128(Fold(x0, by128), x3);
    for (; count != 0; bytes += 16, count -= 16)
        x0 = _mm_xor_si128(Fold(x0, by128), LoadLane(bytes));
    unsigned char rest[16];
    _mm_storeu_si128((__m128i*)rest, x0);
    return AddBytesBySlices(0, rest, sizeof rest);
}

static bool ProcessorCanFold(void)
{
    __builtin_cpu_init();
    return __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("sse2");
}

static const bool ProcessorFolds = ProcessorCanFold();
static bool FoldingAvailable;   // the processor folds and the system saves the XMM registers
#endif

bool UseCrcFolding(bool systemSavesVectorState)
{
#ifdef TQ_CRC_FOLDING
    FoldingAvailable = systemSavesVectorState && ProcessorFolds;
    return FoldingAvailable;
#else
    (void)systemSavesVectorState;
    return false;
#endif
}

uint32_t AddToCrc(uint32_t crc, const unsigned char* bytes, size_t count)
{
#ifdef TQ_CRC_FOLDING
    if (count >= FoldBytes && FoldingAvailable) {
        size_t folded = count & ~size_t(15);
        crc = AddBytesByFolding(crc, bytes, folded);
        bytes += folded;
        count -= folded;
    }
#endif
    return AddBytesBySlices(crc, bytes, count);
}
