#pragma once
// Row converters shared by the decoders, with a vector path where the processor offers one.

#include <cstdint>

namespace lumora {

// Red-green-blue triples to blue-green-red (the bitmap's order); src and dst are the same row or do not overlap.
void SwapRedBlue24(const uint8_t* src, uint8_t* dst, int64_t pixels);
// Red-green-blue-alpha quadruples to blue-green-red triples, and 255 minus alpha into alpha (may be null).
void RgbaToBgr(const uint8_t* src, uint8_t* dst, uint8_t* alpha, int64_t pixels);

} // namespace lumora
