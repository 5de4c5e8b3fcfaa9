// The generated data shapes (data_shapes.h). The generator is SplitMix64: fast, and every seed,
// 0 included, gives a full-period sequence.
#include "data_shapes.h"

namespace {

constexpr size_t WindowSize = 32768;        // RFC 1951 3.2: the farthest distance
constexpr size_t LongestMatch = 258;
constexpr unsigned SkewedSymbols = 40;      // enough halvings that a 15-bit limit must cut in

uint64_t Mix(uint64_t& state)
{
    uint64_t z = (state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

void Append(Bytes& out, size_t size, size_t count, uint8_t byte)
{
    for (size_t i = 0; i < count && out.size() < size; ++i)
        out.push_back(byte);
}

void Random(Bytes& out, size_t size, size_t count, ShapeSource& source)
{
    for (size_t i = 0; i < count && out.size() < size; ++i)
        out.push_back(source.NextByte());
}

void LiteralsBetweenZeros(Bytes& out, size_t size, ShapeSource& source)
{
    while (out.size() < size) {
        Random(out, size, source.Between(1, 30), source);
        Append(out, size, source.Between(LongestMatch, 2000), 0);
    }
}

// Records of a few literal bytes and one fixed 258-byte block, placed so that the decoder meets
// the end of its window in the middle of its longest steps: every compressor codes a record as
// its literals and one longest match (the block, found one record back at once), and before each
// window end (every 32 KiB) two to five records end at the window end half of the time, otherwise
// up to four bytes before or after it. The records hold mostly three literals or a multiple of
// three; literal runs between zero runs fill the rest.
void WindowEnds(Bytes& out, size_t size, ShapeSource& source)
{
    Bytes block;
    Random(block, LongestMatch, LongestMatch, source);
    while (out.size() < size) {
        size_t literals = source.Below(4) == 0 ? source.Between(1, 30) : 3 * source.Between(1, 10);
        size_t records = source.Between(2, 5);
        size_t end = (out.size() / WindowSize + 1) * WindowSize + 4;
        end -= source.Below(2) == 0 ? 4 : source.Below(9);
        size_t start = end - records * (literals + LongestMatch);
        if (start < out.size())
            start += WindowSize;   // too close: the next window end
        LiteralsBetweenZeros(out, start < size ? start : size, source);
        for (size_t i = 0; i < records; ++i) {
            Random(out, size, literals, source);
            for (size_t j = 0; j < LongestMatch && out.size() < size; ++j)
                out.push_back(block[j]);
        }
    }
}

// Random bytes for one window, then runs copied from just under a window back (and from just
// over, which no match can reach), every so often a byte changed so that matches end there.
void FarRepeats(Bytes& out, size_t size, ShapeSource& source)
{
    size_t start = out.size();
    Random(out, size, WindowSize + source.Below(800), source);
    while (out.size() < size) {
        size_t distance = source.Between(WindowSize - 768, WindowSize + 32);
        size_t run = source.Between(3, 3000);
        for (size_t i = 0; i < run && out.size() < size; ++i)
            out.push_back(out.size() - start >= distance ? out[out.size() - distance] : 0);
        Random(out, size, source.Below(4), source);
    }
}

void Text(Bytes& out, size_t size, ShapeSource& source)
{
    static const char* const Words[] = {"the ", "setup ", "program ", "copies ", "each ", "file ",
                                        "into ", "its ", "folder", ", ", "and ", "checks ", "it.",
                                        "Tessel ", "archive ", "window "};
    while (out.size() < size) {
        unsigned words = source.Between(1, 24);
        for (unsigned i = 0; i < words; ++i)
            for (const char* c = Words[source.Below(16)]; *c != '\0' && out.size() < size; ++c)
                out.push_back((uint8_t)*c);
        Append(out, size, 1, '\n');
    }
}

// Symbol k comes with probability 2^-(k+1): optimal code lengths grow to 40 bits, and the
// compressors must limit them to 15, so the decoder meets its longest codes.
void Skewed(Bytes& out, size_t size, ShapeSource& source)
{
    uint8_t alphabet[SkewedSymbols];
    uint32_t base = source.NextByte();
    for (unsigned k = 0; k < SkewedSymbols; ++k)
        alphabet[k] = (uint8_t)(base + k * 37);   // 37 is odd: 40 distinct bytes
    while (out.size() < size) {
        uint64_t bits = ((uint64_t)source.Next() << 32) | source.Next();
        unsigned k = 0;
        while (k < SkewedSymbols - 1 && (bits & 1) != 0) {
            bits >>= 1;
            ++k;
        }
        out.push_back(alphabet[k]);
    }
}

void Piece(Shape shape, Bytes& out, size_t size, ShapeSource& source)
{
    switch (shape) {
    case Shape::LiteralsBetweenZeros: LiteralsBetweenZeros(out, size, source); break;
    case Shape::FarRepeats: FarRepeats(out, size, source); break;
    case Shape::Text: Text(out, size, source); break;
    case Shape::Incompressible: Random(out, size, size - out.size(), source); break;
    case Shape::Skewed: Skewed(out, size, source); break;
    case Shape::WindowEnds: WindowEnds(out, size, source); break;
    case Shape::Patchwork:
        while (out.size() < size) {
            size_t end = out.size() + source.Between(1, 600);
            Piece((Shape)source.Below(ShapeCount - 1), out, end < size ? end : size, source);
        }
        break;
    }
}

}

ShapeSource::ShapeSource(uint32_t seed) : state(seed) {}

ShapeSource::ShapeSource(const uint8_t* data, size_t size) : bytes(data), left(size), state(size)
{
    for (size_t i = 0; i < size; ++i)
        state = state * 0x100000001B3ull ^ data[i];
}

uint32_t ShapeSource::Next()
{
    if (left >= 4) {
        uint32_t value = bytes[0] | bytes[1] << 8 | bytes[2] << 16 | (uint32_t)bytes[3] << 24;
        bytes += 4;
        left -= 4;
        return value;
    }
    return (uint32_t)(Mix(state) >> 32);
}

uint8_t ShapeSource::NextByte()
{
    if (left > 0) {
        --left;
        return *bytes++;
    }
    return (uint8_t)(Mix(state) >> 56);
}

uint32_t ShapeSource::Below(uint32_t limit)
{
    return limit == 0 ? 0 : Next() % limit;
}

uint32_t ShapeSource::Between(uint32_t low, uint32_t high)
{
    return low + Below(high - low + 1);
}

const char* ShapeName(Shape shape)
{
    static const char* const Names[ShapeCount] = {"literals-between-zeros", "far-repeats", "text",
                                                  "incompressible", "skewed", "window-ends",
                                                  "patchwork"};
    return Names[(int)shape];
}

Bytes MakeShape(Shape shape, size_t size, ShapeSource& source)
{
    Bytes out;
    out.reserve(size);
    Piece(shape, out, size, source);
    return out;
}
