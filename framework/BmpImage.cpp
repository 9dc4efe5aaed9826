// BMP reading and writing for TBitmap: the common variants (core and info headers up to V5,
// 1/4/8/16/24/32 bits, RLE4/RLE8, bit fields, bottom-up and top-down).

#include <algorithm>
#include <cstring>

#include "framework/Checked.h"
#include "framework/Graphics.h"

namespace lumora {

namespace {

uint16_t U16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t U32(const uint8_t* p) { return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24); }
void Put16(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}
void Put32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

[[noreturn]] void Invalid() { throw EInvalidGraphic("Bitmap image is not valid"); }

int MaskShift(uint32_t mask) {
    if (!mask) return 0;
    int s = 0;
    while (!(mask & 1)) {
        mask >>= 1;
        ++s;
    }
    return s;
}

int MaskBits(uint32_t mask) {
    mask >>= MaskShift(mask);
    int n = 0;
    while (mask & 1) {
        mask >>= 1;
        ++n;
    }
    return n;
}

uint8_t Scale(uint32_t v, int bits) {
    if (bits <= 0) return 0;
    if (bits >= 8) return static_cast<uint8_t>(v >> (bits - 8));
    // Replicate the high bits into the low ones so full scale maps to 255.
    uint32_t r = v << (8 - bits);
    for (int have = bits; have < 8; have += bits) r |= r >> bits;
    return static_cast<uint8_t>(r);
}

// Decodes RLE8/RLE4 into index rows (bottom-up order as stored); stops at the data's end.
void DecodeRle(const uint8_t* src, size_t size, bool rle4, int width, int height, std::vector<uint8_t>& indexes) {
    indexes.assign(static_cast<size_t>(width) * height, 0);
    size_t i = 0;
    int x = 0, y = 0;
    auto put = [&](uint8_t v) {
        if (x < width && y < height) indexes[static_cast<size_t>(y) * width + x] = v;
        ++x;
    };
    while (i + 1 < size && y < height) {
        uint8_t count = src[i], value = src[i + 1];
        i += 2;
        if (count) {
            for (int k = 0; k < count; ++k) put(rle4 ? ((k & 1) ? value & 15 : value >> 4) : value);
            continue;
        }
        if (value == 0) {
            x = 0;
            ++y;
        } else if (value == 1) {
            break;
        } else if (value == 2) {
            if (i + 1 >= size) break;
            x += src[i];
            y += src[i + 1];
            i += 2;
        } else {
            int n = value;
            size_t bytes = rle4 ? (n + 1) / 2 : n;
            if (i + bytes > size) break;
            for (int k = 0; k < n; ++k) put(rle4 ? ((k & 1) ? src[i + k / 2] & 15 : src[i + k / 2] >> 4) : src[i + k]);
            i += (bytes + 1) & ~size_t(1);
        }
    }
}

} // namespace

void TBitmap::LoadFromStream(TStream& stream) {
    int64_t start = stream.Position();
    int64_t total = stream.Size() - start;
    uint8_t fh[14];
    if (total < 26 || stream.Read(fh, 14) != 14 || fh[0] != 'B' || fh[1] != 'M') Invalid();
    uint32_t offBits = U32(fh + 10);
    uint8_t hsz[4];
    stream.ReadBuffer(hsz, 4);
    uint32_t headerSize = U32(hsz);
    if (headerSize != 12 && (headerSize < 40 || headerSize > 124)) Invalid();
    std::vector<uint8_t> h(headerSize);
    std::memcpy(h.data(), hsz, 4);
    stream.ReadBuffer(h.data() + 4, headerSize - 4);

    int64_t width, height;
    int bpp;
    uint32_t compression = 0, colorsUsed = 0;
    int paletteEntrySize = 4;
    if (headerSize == 12) {
        width = U16(&h[4]);
        height = static_cast<int16_t>(U16(&h[6]));
        bpp = U16(&h[10]);
        paletteEntrySize = 3;
    } else {
        width = static_cast<int32_t>(U32(&h[4]));
        height = static_cast<int32_t>(U32(&h[8]));
        bpp = U16(&h[14]);
        compression = U32(&h[16]);
        colorsUsed = U32(&h[32]);
    }
    bool topDown = height < 0;
    if (topDown) height = -height;
    if (width <= 0 || !FitsPixelBudget(width, height)) Invalid();
    if (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 16 && bpp != 24 && bpp != 32) Invalid();

    uint32_t masks[3] = {0, 0, 0};
    if (compression == 3 || compression == 6) { // BI_BITFIELDS
        if (headerSize >= 52) {
            for (int i = 0; i < 3; ++i) masks[i] = U32(&h[40 + 4 * i]);
        } else {
            uint8_t m[12];
            stream.ReadBuffer(m, 12);
            for (int i = 0; i < 3; ++i) masks[i] = U32(m + 4 * i);
        }
    } else if (compression == 0) {
        if (bpp == 16) masks[0] = 0x7C00, masks[1] = 0x03E0, masks[2] = 0x001F;
        if (bpp == 32) masks[0] = 0xFF0000, masks[1] = 0xFF00, masks[2] = 0xFF;
    } else if (!((compression == 1 && bpp == 8) || (compression == 2 && bpp == 4))) {
        Invalid();
    }

    std::vector<TRGBQuad> palette;
    if (bpp <= 8) {
        uint32_t n = colorsUsed ? std::min<uint32_t>(colorsUsed, 1u << bpp) : (1u << bpp);
        std::vector<uint8_t> raw(static_cast<size_t>(n) * paletteEntrySize);
        stream.ReadBuffer(raw.data(), static_cast<int64_t>(raw.size()));
        palette.resize(1u << bpp);
        for (uint32_t i = 0; i < n; ++i)
            palette[i] = TRGBQuad{raw[i * paletteEntrySize], raw[i * paletteEntrySize + 1],
                                  raw[i * paletteEntrySize + 2], 0};
    }

    int64_t rowBytes = ((width * bpp + 31) / 32) * 4;
    stream.SetPosition(start + offBits);
    int64_t avail = std::max<int64_t>(0, stream.Size() - (start + offBits));
    std::vector<uint8_t> data;
    // A file cut short raises the stream's read error, as any short read of its stated parts does.
    if (compression == 1 || compression == 2) {
        const int64_t stated = headerSize >= 40 ? U32(&h[20]) : 0;
        if (stated > avail) throw EReadError("Stream read error");
        data.resize(static_cast<size_t>(avail));
        stream.ReadBuffer(data.data(), avail);
    } else {
        auto need = CheckedMul(rowBytes, height);
        if (!need) Invalid();
        if (*need > avail) throw EReadError("Stream read error");
        data.resize(static_cast<size_t>(*need));
        stream.ReadBuffer(data.data(), *need);
    }

    TPixelFormat format = bpp == 1 ? TPixelFormat::pf1bit
                          : bpp == 4 ? TPixelFormat::pf4bit
                          : bpp == 8 ? TPixelFormat::pf8bit
                          : bpp == 24 ? TPixelFormat::pf24bit
                                      : TPixelFormat::pf32bit;
    TBitmap result;
    result.SetPixelFormat(format);
    result.SetSize(static_cast<int>(width), static_cast<int>(height));
    if (bpp <= 8) result.SetPalette(palette);
    int w = static_cast<int>(width), hgt = static_cast<int>(height);

    if (compression == 1 || compression == 2) {
        std::vector<uint8_t> idx;
        DecodeRle(data.data(), data.size(), compression == 2, w, hgt, idx);
        // RLE data is bottom-up; rebuild as an 8-bit picture with the same palette.
        result.SetPixelFormat(TPixelFormat::pf8bit);
        std::vector<TRGBQuad> pal8(256);
        std::copy(palette.begin(), palette.end(), pal8.begin());
        result.SetPalette(pal8);
        for (int y = 0; y < hgt; ++y) {
            int srcRow = topDown ? y : hgt - 1 - y;
            std::memcpy(result.ScanLine(y), idx.data() + static_cast<size_t>(srcRow) * w, w);
        }
    } else {
        for (int y = 0; y < hgt; ++y) {
            int srcRow = topDown ? y : hgt - 1 - y;
            const uint8_t* s = data.data() + static_cast<int64_t>(srcRow) * rowBytes;
            if (bpp == 16 || bpp == 32) {
                uint32_t* d = result.Row32(y);
                int sr = MaskShift(masks[0]), sg = MaskShift(masks[1]), sb = MaskShift(masks[2]);
                int br = MaskBits(masks[0]), bg = MaskBits(masks[1]), bb = MaskBits(masks[2]);
                for (int x = 0; x < w; ++x) {
                    uint32_t v = bpp == 16 ? U16(s + 2 * x) : U32(s + 4 * x);
                    d[x] = (Scale((v & masks[0]) >> sr, br) << 16) | (Scale((v & masks[1]) >> sg, bg) << 8) |
                           Scale((v & masks[2]) >> sb, bb);
                }
            } else {
                std::memcpy(result.ScanLine(y), s, static_cast<size_t>(result.BytesPerLine()));
            }
        }
    }
    Assign(result);
}

void TBitmap::SaveToStream(TStream& stream) {
    // 32-bit pictures are written as 24-bit BMPs, the variant every reader takes.
    TPixelFormat f = PixelFormat();
    bool paletted = f == TPixelFormat::pf1bit || f == TPixelFormat::pf4bit || f == TPixelFormat::pf8bit;
    int bpp = paletted ? BitsPerPixel(f) : 24;
    int64_t rowBytes = ((static_cast<int64_t>(width_) * bpp + 31) / 32) * 4;
    uint32_t paletteBytes = paletted ? static_cast<uint32_t>(4 * palette_.size()) : 0;
    uint32_t offBits = 14 + 40 + paletteBytes;
    uint8_t header[54] = {};
    header[0] = 'B';
    header[1] = 'M';
    Put32(header + 2, static_cast<uint32_t>(offBits + rowBytes * height_));
    Put32(header + 10, offBits);
    Put32(header + 14, 40);
    Put32(header + 18, static_cast<uint32_t>(width_));
    Put32(header + 22, static_cast<uint32_t>(height_));
    Put16(header + 26, 1);
    Put16(header + 28, static_cast<uint32_t>(bpp));
    Put32(header + 34, static_cast<uint32_t>(rowBytes * height_));
    Put32(header + 38, 3780);
    Put32(header + 42, 3780);
    stream.WriteBuffer(header, 54);
    for (auto& q : palette_) {
        if (!paletted) break;
        uint8_t e[4] = {q.rgbBlue, q.rgbGreen, q.rgbRed, 0};
        stream.WriteBuffer(e, 4);
    }
    std::vector<uint8_t> row(static_cast<size_t>(rowBytes));
    for (int y = height_ - 1; y >= 0; --y) {
        std::fill(row.begin(), row.end(), 0);
        if (paletted) {
            std::memcpy(row.data(), ScanLine(y), static_cast<size_t>(std::min<int64_t>(rowBytes, stride_)));
        } else {
            for (int x = 0; x < width_; ++x) {
                TColor c = GetPixel(x, y);
                row[3 * x] = GetBValue(c);
                row[3 * x + 1] = GetGValue(c);
                row[3 * x + 2] = GetRValue(c);
            }
        }
        stream.WriteBuffer(row.data(), rowBytes);
    }
}

} // namespace lumora
