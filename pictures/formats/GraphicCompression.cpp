#include "pictures/formats/GraphicCompression.h"

#include <algorithm>
#include <cstring>

#include "framework/SysUtils.h"
#include "pictures/gif/GIFLZW.h"

namespace lumora {

namespace {

// Copies an earlier string of the output to out. The source lies before out; when it is at least a
// chunk's size back, whole chunks (16 or 8 bytes) are safe even where the string overlaps its own copy.
inline void CopyString(uint8_t* out, const uint8_t* src, uint32_t length, const uint8_t* outEnd) {
    const int64_t back = out - src;
    if (outEnd - out >= static_cast<int64_t>(length) + 16) {
        if (back >= 16) {
            for (uint32_t i = 0; i < length; i += 16) std::memcpy(out + i, src + i, 16);
            return;
        }
        if (back >= 8) {
            for (uint32_t i = 0; i < length; i += 8) std::memcpy(out + i, src + i, 8);
            return;
        }
    }
    for (uint32_t i = 0; i < length; ++i) out[i] = src[i];
}

// The LZW core shared by both flavours; the bit order and the code-size rule are the template's.
template <bool MsbFirst>
int64_t DecodeLzw(const uint8_t*& source, uint8_t* dest, int64_t packedSize, int64_t unpackedSize,
                  unsigned rootBits, const char* error, uint32_t* positions, uint32_t* lengths) {
    if (packedSize <= 0 || unpackedSize <= 0) return 0;
    // Positions are 32-bit; the pixel budget keeps real outputs far below that.
    unpackedSize = std::min<int64_t>(unpackedSize, 0xFFFFFFF0);
    const uint8_t* s = source;
    const uint8_t* const sEnd = source + packedSize;
    uint8_t* out = dest;
    uint8_t* const outEnd = dest + unpackedSize;

    const uint32_t clearCode = 1u << rootBits;
    const uint32_t endCode = clearCode + 1;
    const unsigned initialSize = rootBits + 1;
    unsigned codeSize = initialSize;
    uint32_t nextFree = clearCode + 2;
    bool haveOld = false;
    uint32_t oldPos = 0, oldLen = 0;
    uint64_t bits = 0;
    unsigned held = 0;

    for (;;) {
        if (held < codeSize) {
            if (sEnd - s >= 8) {
                // Refill whole bytes at once; the buffer keeps its next bit at the top (MSB first) or
                // at the bottom (LSB first).
                uint64_t v;
                std::memcpy(&v, s, 8);
                const unsigned take = (63 - held) >> 3;
                if constexpr (MsbFirst) bits |= __builtin_bswap64(v) >> held;
                else bits |= v << held;
                s += take;
                held += take * 8;
                if constexpr (!MsbFirst) {
                    // Bytes beyond the ones taken were shifted in too; keep only whole taken bytes.
                    bits &= held >= 64 ? ~uint64_t(0) : (uint64_t(1) << held) - 1;
                } else {
                    bits &= held >= 64 ? ~uint64_t(0) : ~(~uint64_t(0) >> held);
                }
            } else {
                while (held < codeSize) {
                    if (s >= sEnd) goto done;
                    if constexpr (MsbFirst) bits |= static_cast<uint64_t>(*s++) << (56 - held);
                    else bits |= static_cast<uint64_t>(*s++) << held;
                    held += 8;
                }
            }
        }
        uint32_t code;
        if constexpr (MsbFirst) {
            code = static_cast<uint32_t>(bits >> (64 - codeSize));
            bits <<= codeSize;
        } else {
            code = static_cast<uint32_t>(bits) & ((1u << codeSize) - 1);
            bits >>= codeSize;
        }
        held -= codeSize;

        if (code == endCode) break;
        if (code == clearCode) {
            codeSize = initialSize;
            nextFree = clearCode + 2;
            haveOld = false;
            continue;
        }
        if (out >= outEnd) break;
        const uint32_t start = static_cast<uint32_t>(out - dest);
        if (!haveOld) {
            // After a clear only a root can follow: nothing else is in the table yet.
            if (code >= clearCode) throw EInvalidGraphic(error);
            *out++ = static_cast<uint8_t>(code);
            haveOld = true;
            oldPos = start;
            oldLen = 1;
            continue;
        }
        if (code > nextFree) throw EInvalidGraphic(error);
        uint32_t length;
        if (code < clearCode) {
            length = 1;
            *out = static_cast<uint8_t>(code);
        } else {
            uint32_t from;
            if (code == nextFree) {
                // The string being defined: the previous one plus its own first byte.
                from = oldPos;
                length = oldLen + 1;
            } else {
                from = positions[code];
                length = lengths[code];
            }
            uint32_t room = static_cast<uint32_t>(outEnd - out);
            CopyString(out, dest + from, std::min(length, room), outEnd);
            if (length > room) {
                out = outEnd;
                break;
            }
        }
        out += length;
        if (nextFree < 4096) {
            positions[nextFree] = oldPos;
            lengths[nextFree] = oldLen + 1;
            if constexpr (MsbFirst) {
                // TIFF writers switch to the wider code one code early.
                ++nextFree;
                if (nextFree == (1u << codeSize) - 1 && codeSize < 12) ++codeSize;
            } else {
                if (nextFree == (1u << codeSize) - 1 && codeSize < 12) ++codeSize;
                ++nextFree;
            }
        }
        oldPos = start;
        oldLen = length;
    }
done:
    source = s;
    return out - dest;
}

} // namespace

int64_t TTIFFLZW::Decode(const uint8_t*& source, uint8_t* dest, int64_t packedSize, int64_t unpackedSize) {
    uint32_t positions[4096], lengths[4096];
    return DecodeLzw<true>(source, dest, packedSize, unpackedSize, 8, "TIF LZW: invalid opcode.", positions,
                           lengths);
}

int64_t TGIFLZW::Decode(const uint8_t*& source, uint8_t* dest, int64_t packedSize, int64_t unpackedSize) {
    if (InitialCodeSize < 1 || InitialCodeSize > 11) throw EInvalidGraphic("GIF LZW: invalid opcode.");
    uint32_t positions[4096], lengths[4096];
    return DecodeLzw<false>(source, dest, packedSize, unpackedSize, InitialCodeSize, "GIF LZW: invalid opcode.",
                            positions, lengths);
}

// A code gives at most one byte more than the table's longest string, which grows by one byte a code
// from the clear code to the full table; 12-bit codes of the longest strings give the most.
int64_t TTIFFLZW::MaxUnpackedSize(int64_t packedSize) const {
    return (std::max<int64_t>(packedSize, 0) * 8 / 12 + 1) * (4096 + 1 - 256);
}

int64_t TGIFLZW::MaxUnpackedSize(int64_t packedSize) const { return MaxGIFDataPixels(packedSize, InitialCodeSize); }

// A repeat packet of two bytes gives 128.
int64_t TPackbitsRLE::MaxUnpackedSize(int64_t packedSize) const { return std::max<int64_t>(packedSize, 0) / 2 * 128; }

// A run of two bytes gives 63; a lone last byte is one literal.
int64_t TPCXRLE::MaxUnpackedSize(int64_t packedSize) const {
    const int64_t n = std::max<int64_t>(packedSize, 0);
    return n / 2 * 63 + n % 2;
}

int64_t TPackbitsRLE::Decode(const uint8_t*& source, uint8_t* dest, int64_t packedSize, int64_t unpackedSize) {
    const uint8_t* s = source;
    const uint8_t* const sEnd = source + std::max<int64_t>(packedSize, 0);
    uint8_t* out = dest;
    uint8_t* const outEnd = dest + std::max<int64_t>(unpackedSize, 0);
    // Away from both ends a packet (at most 128 bytes) is copied in whole 16-byte pieces; the few
    // bytes written beyond it are overwritten by the packets that follow.
    while (sEnd - s > 130 && outEnd - out > 144) {
        const int n = static_cast<int8_t>(*s++);
        if (n >= 0) {
            for (int i = 0; i <= n; i += 16) std::memcpy(out + i, s + i, 16);
            out += n + 1;
            s += n + 1;
        } else if (n != -128) {
            uint8_t fill[16];
            std::memset(fill, *s++, 16);
            for (int i = 0; i < 1 - n; i += 16) std::memcpy(out + i, fill, 16);
            out += 1 - n;
        }
    }
    while (s < sEnd && out < outEnd) {
        int n = static_cast<int8_t>(*s++);
        if (n >= 0) {
            int64_t count = std::min<int64_t>(std::min<int64_t>(n + 1, sEnd - s), outEnd - out);
            std::memcpy(out, s, static_cast<size_t>(count));
            out += count;
            s += count;
        } else if (n != -128) {
            if (s >= sEnd) break;
            int64_t count = std::min<int64_t>(1 - n, outEnd - out);
            std::memset(out, *s++, static_cast<size_t>(count));
            out += count;
        }
    }
    source = s;
    return out - dest;
}

int64_t TPCXRLE::Decode(const uint8_t*& source, uint8_t* dest, int64_t packedSize, int64_t unpackedSize) {
    const uint8_t* s = source;
    const uint8_t* const sEnd = source + std::max<int64_t>(packedSize, 0);
    uint8_t* out = dest;
    uint8_t* const outEnd = dest + std::max<int64_t>(unpackedSize, 0);
    while (out < outEnd && s < sEnd) {
        uint8_t b = *s++;
        if ((b & 0xC0) == 0xC0) {
            if (s >= sEnd) break;
            int64_t count = std::min<int64_t>(b & 63, outEnd - out);
            std::memset(out, *s++, static_cast<size_t>(count));
            out += count;
        } else {
            *out++ = b;
        }
    }
    source = s;
    return out - dest;
}

static int TargaBytesPerPixel(int bitsPerPixel) {
    switch (bitsPerPixel) {
    case 8: return 1;
    case 15:
    case 16: return 2;
    case 24: return 3;
    default: return 4;
    }
}

int64_t TargaRleDecode(const uint8_t* source, int64_t sourceSize, uint8_t* dest, int64_t count, int bitsPerPixel,
                       int64_t* written) {
    const int bpp = TargaBytesPerPixel(bitsPerPixel);
    const uint8_t* s = source;
    const uint8_t* const sEnd = source + std::max<int64_t>(sourceSize, 0);
    uint8_t* out = dest;
    uint8_t* const outEnd = dest + std::max<int64_t>(count, 0);
    while (out < outEnd && s < sEnd) {
        uint8_t header = *s++;
        int64_t pixels = (header & 127) + 1;
        if (header & 0x80) {
            if (sEnd - s < bpp) break;
            for (int64_t i = 0; i < pixels && outEnd - out >= bpp; ++i, out += bpp) std::memcpy(out, s, bpp);
            s += bpp;
        } else {
            int64_t bytes = std::min<int64_t>(pixels * bpp, sEnd - s);
            int64_t room = std::min<int64_t>(bytes, outEnd - out);
            std::memcpy(out, s, static_cast<size_t>(room));
            out += room;
            s += bytes;
        }
        // A packet that ends between whole pixels leaves the row's remainder untouched.
        if (outEnd - out < bpp) break;
    }
    if (written) *written = out - dest;
    return s - source;
}

uint32_t ReadPackedPixel(const uint8_t* p, int bytesPerPixel) {
    uint32_t v = 0;
    for (int i = 0; i < bytesPerPixel; ++i) v = (v << 8) | p[i];
    return v;
}

int CountLiteralPixels(const uint8_t* p, int64_t remaining, int bytesPerPixel) {
    if (remaining <= 1) return remaining > 0 ? 1 : 0;
    int n = 0;
    while (n < 128 && n + 1 < remaining &&
           ReadPackedPixel(p + n * bytesPerPixel, bytesPerPixel) !=
               ReadPackedPixel(p + (n + 1) * bytesPerPixel, bytesPerPixel))
        ++n;
    // A last pixel without a successor is a literal of its own.
    if (n + 1 == remaining && n < 128) ++n;
    return n;
}

int CountRepeatedPixels(const uint8_t* p, int64_t remaining, int bytesPerPixel) {
    if (remaining <= 0) return 0;
    uint32_t first = ReadPackedPixel(p, bytesPerPixel);
    int n = 1;
    while (n < 128 && n < remaining && ReadPackedPixel(p + n * bytesPerPixel, bytesPerPixel) == first) ++n;
    return n;
}

int64_t TargaRleEncode(const uint8_t* source, uint8_t* dest, int64_t pixelCount, int bytesPerPixel) {
    uint8_t* out = dest;
    int64_t i = 0;
    while (i < pixelCount) {
        const uint8_t* p = source + i * bytesPerPixel;
        int literals = CountLiteralPixels(p, pixelCount - i, bytesPerPixel);
        if (literals > 0) {
            *out++ = static_cast<uint8_t>(literals - 1);
            std::memcpy(out, p, static_cast<size_t>(literals) * bytesPerPixel);
            out += literals * bytesPerPixel;
            i += literals;
            continue;
        }
        int repeats = CountRepeatedPixels(p, pixelCount - i, bytesPerPixel);
        *out++ = static_cast<uint8_t>((repeats - 1) | 0x80);
        std::memcpy(out, p, bytesPerPixel);
        out += bytesPerPixel;
        i += repeats;
    }
    return out - dest;
}

} // namespace lumora
