// Generated data in the shapes that take a Deflate decoder to its edge states, shared by the
// differential test and the round-trip fuzz target. Every choice is drawn from a ShapeSource:
// the fuzzer's bytes first, so that it steers the data, then a generator seeded from them.
#ifndef TQ_TESTS_SUPPORT_DATA_SHAPES_H
#define TQ_TESTS_SUPPORT_DATA_SHAPES_H

#include "archive_writer.h"

#include <stddef.h>
#include <stdint.h>

class ShapeSource {
public:
    explicit ShapeSource(uint32_t seed);                 // the generator alone
    ShapeSource(const uint8_t* data, size_t size);      // those bytes, then the generator
    uint32_t Next();                                     // 32 random bits
    uint8_t NextByte();
    uint32_t Below(uint32_t limit);                      // 0 to limit - 1; 0 when limit is 0
    uint32_t Between(uint32_t low, uint32_t high);       // low to high, both included

private:
    const uint8_t* bytes = nullptr;
    size_t left = 0;
    uint64_t state;
};

enum class Shape {
    LiteralsBetweenZeros,   // 1 to 30 random bytes, then 258 to 2,000 zeros, over and over
    FarRepeats,             // copies from 32,000 to 32,768 bytes back, a few bytes changed
    Text,                   // words of a small vocabulary, lines of varying length
    Incompressible,         // random bytes
    Skewed,                 // byte frequencies halving from one byte to the next: 15-bit codes
    WindowEnds,             // records of literals and a longest match ending at or a few bytes
                            // around every window end, literals between zeros in between
    Patchwork,              // short pieces of every other shape: many small blocks
};
constexpr int ShapeCount = 7;

const char* ShapeName(Shape shape);
Bytes MakeShape(Shape shape, size_t size, ShapeSource& source);

#endif
