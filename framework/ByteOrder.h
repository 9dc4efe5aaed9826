#pragma once
// The 16- and 32-bit numbers of TIFF structures (TIFF files, the EXIF blocks of JPEG files), which
// are stored in either byte order.

#include <cstdint>

namespace lumora {

inline uint16_t Get16(const uint8_t* p, bool bigEndian) {
    return bigEndian ? static_cast<uint16_t>((p[0] << 8) | p[1]) : static_cast<uint16_t>(p[0] | (p[1] << 8));
}

inline uint32_t Get32(const uint8_t* p, bool bigEndian) {
    return bigEndian ? (static_cast<uint32_t>(p[0]) << 24) | (p[1] << 16) | (p[2] << 8) | p[3]
                     : p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

} // namespace lumora
