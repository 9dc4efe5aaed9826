#pragma once
// Helpers of the picture tests: deterministic pixel data, PNG chunk building, and pixels of a
// decoded bitmap as colours.

#include <cstdint>
#include <string>
#include <vector>

#include "framework/Graphics.h"

namespace lumora::test {

using Bytes = std::vector<uint8_t>;

// The same bytes on every run for the same seed.
inline Bytes PseudoRandomBytes(size_t n, uint32_t seed) {
    Bytes b(n);
    uint32_t s = seed * 2654435761u + 1;
    for (auto& v : b) {
        s ^= s << 13;
        s ^= s >> 17;
        s ^= s << 5;
        v = static_cast<uint8_t>(s >> 7);
    }
    return b;
}

inline void Put32BE(Bytes& out, uint32_t v) {
    for (int i = 3; i >= 0; --i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

// One PNG chunk with its checksum.
Bytes PngChunk(const char* type, const Bytes& data);
// An IHDR chunk from its fields.
Bytes PngHeader(uint32_t width, uint32_t height, uint8_t depth, uint8_t colorType, uint8_t interlace = 0,
                uint8_t compression = 0, uint8_t filter = 0);
Bytes PngSignature();
// Zlib-compresses raw (filtered) scan lines.
Bytes Deflate(const Bytes& raw);
// Splits a PNG's image data into IDAT chunks of at most `size` bytes.
Bytes RechunkIdat(const Bytes& png, size_t size);

// RGB colour of every pixel, row by row, whatever the bitmap's format.
std::vector<TColor> Colors(const TBitmap& bitmap);

std::string BytesToString(const Bytes& b);

// The reference decoder: libpng's reading of a PNG as 8-bit RGBA (transparency keys become alpha),
// with the header's fields and every warning it gave. Throws when libpng fails.
struct LibpngImage {
    int width = 0, height = 0, colorType = -1, depth = 0, interlace = 0;
    Bytes rgba;
    std::vector<std::string> warnings;
};
LibpngImage ReadWithLibpng(const Bytes& file);

} // namespace lumora::test
