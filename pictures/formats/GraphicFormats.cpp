#include "pictures/formats/GraphicFormats.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <memory>
#include <utility>

#include "framework/ByteOrder.h"
#include "framework/Checked.h"
#include "framework/Forms.h"
#include "pictures/formats/GraphicCompression.h"
#include "pictures/common/PixelSwap.h"
#include "platform/display/Bell.h"

namespace lumora {

namespace {

[[noreturn]] void InvalidTiff() { throw EInvalidGraphic("Invalid TIFF file."); }
[[noreturn]] void Unsupported(const std::string& what) { throw EInvalidGraphic("TIFF: " + what + " not supported"); }
[[noreturn]] void InvalidTarga() { throw EInvalidGraphic("Targa: invalid image"); }
[[noreturn]] void UnsupportedTarga(const std::string& what) { throw EInvalidGraphic("Targa: " + what + " not supported"); }
[[noreturn]] void WrongPcxFormat() { throw EInvalidGraphic("PCX: wrong pixel format"); }
[[noreturn]] void ReadError() { throw EReadError("Stream read error"); }

uint16_t Le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

// Logical palette entries from red, green, blue triples.
TRGBQuad Quad(uint8_t r, uint8_t g, uint8_t b) { return TRGBQuad{b, g, r, 0}; }

std::vector<TRGBQuad> GreyRamp(int count) {
    std::vector<TRGBQuad> p(count);
    for (int i = 0; i < count; ++i) {
        auto v = static_cast<uint8_t>(i * 255 / (count - 1));
        p[i] = Quad(v, v, v);
    }
    return p;
}

// Rounds as the system's MulDiv does: half away from zero.
int64_t MulDiv(int64_t a, int64_t b, int64_t c) {
    int64_t p = a * b;
    return p >= 0 ? (p + c / 2) / c : -((-p + c / 2) / c);
}

uint8_t Clamp255(int64_t v) { return static_cast<uint8_t>(std::clamp<int64_t>(v, 0, 255)); }

// Clears the rows from first to the bottom (the rows of a bitmap are one block).
void ClearRowsFrom(TBitmap& bmp, int first) {
    if (first < bmp.Height())
        std::memset(bmp.ScanLine(first), 0, static_cast<size_t>(bmp.Height() - first) * bmp.BytesPerLine());
}

// Starts a bitmap over: no pixels, the given format, then the size (checked against the budget).
void Reset(TBitmap& bmp, TPixelFormat format, int width, int height) {
    bmp.Assign(static_cast<TGraphic*>(nullptr));
    bmp.SetPixelFormat(format);
    if (width > 0 && height > 0) bmp.SetSize(width, height);
}

// ---- TIFF row converters ----

enum class TiffConv { Copy, FirstSample, RGB, RGBA, CMYK, Lab, YCbCr };

// Reference white of the Lab conversion, with Y scaled to 100.
struct LabWhite {
    float X0 = 0, Y0 = 100, Z0 = 0;
};

// YCbCr to RGB in lookup tables, in 16-bit fixed point as libtiff computes them: each colour is
// the luma's level plus the chroma terms.
struct YCbCrTables {
    int32_t Y[256], CrR[256], CbB[256], CrG[256], CbG[256];
    int blockW = 1, blockH = 1; // chroma subsampling

    // luma: the red, green and blue weights; range: black and white codes of Y, Cb and Cr.
    void Init(const float luma[3], const float range[6]) {
        auto fix = [](float v) { return static_cast<int32_t>(std::clamp(v, 0.0f, 2.0f) * 65536 + 0.5f); };
        auto code = [](float c, float black, float white, float scale) {
            const float span = white - black != 0 ? white - black : 1;
            return static_cast<int32_t>(std::clamp((c - black) * scale / span, -128.0f * 32, 128.0f * 32));
        };
        const float f1 = 2 - 2 * luma[0], f3 = 2 - 2 * luma[2];
        const int32_t d1 = fix(f1), d2 = -fix(luma[0] * f1 / luma[1]), d3 = fix(f3), d4 = -fix(luma[2] * f3 / luma[1]);
        for (int i = 0; i < 256; ++i) {
            const float c = static_cast<float>(i - 128);
            const int32_t cr = code(c, range[4] - 128, range[5] - 128, 127);
            const int32_t cb = code(c, range[2] - 128, range[3] - 128, 127);
            CrR[i] = (d1 * cr + 32768) >> 16;
            CbB[i] = (d3 * cb + 32768) >> 16;
            CrG[i] = d2 * cr;
            CbG[i] = d4 * cb + 32768;
            Y[i] = code(static_cast<float>(i), range[0], range[1], 255);
        }
    }
};

struct TiffRowFormat {
    TiffConv conv = TiffConv::Copy;
    int bits = 8;      // bits per sample
    int spp = 1;       // samples per pixel
    int hi = 0;        // index of a 16-bit sample's high byte (file byte order)
    int width = 0;
    int64_t rowBytes = 0; // decoded bytes per row
    bool alpha = false;   // RGBA: the fourth sample is an opacity, kept in byte 3 for the moment
    LabWhite white;
};

// The display's response, as libtiff's sRGB display model has it: light output 1..100 in 1500 steps,
// each turned into a level through a gamma of 2.4.
const std::array<uint8_t, 1501>& LabGammaTable() {
    static const std::array<uint8_t, 1501> table = [] {
        std::array<uint8_t, 1501> t{};
        for (int i = 0; i <= 1500; ++i)
            t[i] = static_cast<uint8_t>(std::lround(255.0 * std::pow(i / 1500.0, 1.0 / 2.4)));
        return t;
    }();
    return table;
}

uint8_t LabLevel(float light) {
    const float step = 99.0f / 1500;
    light = std::clamp(light, 1.0f, 100.0f);
    return LabGammaTable()[std::min(1500, static_cast<int>((light - 1) / step))];
}

// CIE L*a*b* to blue, green, red: to XYZ against the file's white point, then through the sRGB
// primaries and the display gamma.
void LabToBgr(const uint8_t* p, uint8_t* dst, const LabWhite& w) {
    const float L = p[0] * 100.0f / 255.0f, a = static_cast<int8_t>(p[1]), b = static_cast<int8_t>(p[2]);
    float Y, cby;
    if (L < 8.856f) {
        Y = L * w.Y0 / 903.292f;
        cby = 7.787f * (Y / w.Y0) + 16.0f / 116.0f;
    } else {
        cby = (L + 16.0f) / 116.0f;
        Y = w.Y0 * cby * cby * cby;
    }
    auto inverse = [](float t, float white) {
        return t < 0.2069f ? white * (t - 0.13793f) / 7.787f : white * t * t * t;
    };
    const float X = inverse(a / 500.0f + cby, w.X0), Z = inverse(cby - b / 200.0f, w.Z0);
    dst[2] = LabLevel(3.2410f * X - 1.5374f * Y - 0.4986f * Z);
    dst[1] = LabLevel(-0.9692f * X + 1.8760f * Y + 0.0416f * Z);
    dst[0] = LabLevel(0.0556f * X - 0.2040f * Y + 1.0570f * Z);
}

// Converts one group of blockH rows of subsampled YCbCr blocks (blockW x blockH luma samples, then
// Cb and Cr) into up to `rows` bitmap rows.
void YCbCrGroupToBgr(const uint8_t* src, uint8_t* const* dstRows, int rows, int width, const YCbCrTables& t) {
    const int bw = t.blockW, bh = t.blockH;
    for (int x0 = 0; x0 < width; x0 += bw) {
        const uint8_t* lumas = src;
        const uint8_t cb = src[bw * bh], cr = src[bw * bh + 1];
        src += bw * bh + 2;
        const int64_t red = t.CrR[cr], green = (t.CrG[cr] + t.CbG[cb]) >> 16, blue = t.CbB[cb];
        for (int dy = 0; dy < rows; ++dy)
            for (int dx = 0; dx < bw && x0 + dx < width; ++dx) {
                const int64_t y = t.Y[lumas[dy * bw + dx]];
                uint8_t* d = dstRows[dy] + 3 * (x0 + dx);
                d[0] = Clamp255(y + blue);
                d[1] = Clamp255(y + green);
                d[2] = Clamp255(y + red);
            }
    }
}

// Sample n (n counts samples along the row) as an 8-bit value.
inline uint8_t Sample8(const uint8_t* row, int64_t n, const TiffRowFormat& f) {
    return f.bits == 16 ? row[2 * n + f.hi] : row[n];
}

void ConvertTiffRow(const uint8_t* src, uint8_t* dst, int64_t dstBytes, const TiffRowFormat& f) {
    const int64_t w = f.width;
    const int spp = f.spp;
    switch (f.conv) {
    case TiffConv::Copy:
        std::memcpy(dst, src, static_cast<size_t>(std::min(f.rowBytes, dstBytes)));
        return;
    case TiffConv::FirstSample:
        // One colour channel with extra samples (or 16-bit samples): take each pixel's first sample.
        if (f.bits == 8 || f.bits == 16) {
            for (int64_t x = 0; x < w; ++x) dst[x] = Sample8(src, x * spp, f);
        } else {
            const int bits = f.bits;
            const unsigned mask = (1u << bits) - 1;
            std::memset(dst, 0, static_cast<size_t>(dstBytes));
            for (int64_t x = 0; x < w; ++x) {
                int64_t bit = x * spp * bits;
                unsigned v = (src[bit >> 3] >> (8 - bits - (bit & 7))) & mask;
                int64_t out = x * bits;
                dst[out >> 3] |= static_cast<uint8_t>(v << (8 - bits - (out & 7)));
            }
        }
        return;
    case TiffConv::RGB:
        if (f.bits == 8 && spp == 3) {
            SwapRedBlue24(src, dst, w);
            return;
        }
        for (int64_t x = 0; x < w; ++x) {
            dst[3 * x] = Sample8(src, x * spp + 2, f);
            dst[3 * x + 1] = Sample8(src, x * spp + 1, f);
            dst[3 * x + 2] = Sample8(src, x * spp, f);
        }
        return;
    case TiffConv::RGBA:
        // An opacity goes to byte 3 until the picture is whole (TakeAlphaFromPixels); any other
        // fourth sample is not shown.
        for (int64_t x = 0; x < w; ++x) {
            dst[4 * x] = Sample8(src, x * spp + 2, f);
            dst[4 * x + 1] = Sample8(src, x * spp + 1, f);
            dst[4 * x + 2] = Sample8(src, x * spp, f);
            dst[4 * x + 3] = f.alpha ? Sample8(src, x * spp + 3, f) : 0;
        }
        return;
    case TiffConv::CMYK:
        for (int64_t x = 0; x < w; ++x) {
            int64_t s = x * spp;
            if (f.bits == 16) {
                auto get = [&](int c) -> int64_t {
                    const uint8_t* p = src + 2 * (s + c);
                    return f.hi == 0 ? (p[0] << 8) | p[1] : (p[1] << 8) | p[0];
                };
                int64_t k = get(3);
                auto chan = [&](int64_t c) { return Clamp255(255 - ((c - MulDiv(c, k, 65535) + k) >> 8)); };
                dst[3 * x + 2] = chan(get(0));
                dst[3 * x + 1] = chan(get(1));
                dst[3 * x] = chan(get(2));
            } else {
                int64_t k = src[s + 3];
                auto chan = [&](int64_t c) { return Clamp255(255 - (c - MulDiv(c, k, 255) + k)); };
                dst[3 * x + 2] = chan(src[s]);
                dst[3 * x + 1] = chan(src[s + 1]);
                dst[3 * x] = chan(src[s + 2]);
            }
        }
        return;
    case TiffConv::Lab:
        for (int64_t x = 0; x < w; ++x) LabToBgr(src + x * spp, dst + 3 * x, f.white);
        return;
    case TiffConv::YCbCr: return; // converted a group of rows at a time
    }
}

// Undoes horizontal differencing on one row of 8-bit samples, Channels to a pixel. The running
// sums stay in registers: adding each byte to the one stored a pixel before would wait on that store.
template <int Channels> void UndoPredictor8(uint8_t* row, int64_t width) {
    uint8_t sum[Channels];
    for (int c = 0; c < Channels; ++c) sum[c] = row[c];
    for (uint8_t* p = row + Channels; p < row + width * Channels; p += Channels)
        for (int c = 0; c < Channels; ++c) p[c] = sum[c] = static_cast<uint8_t>(sum[c] + p[c]);
}

// The same for 8-bit RGB rows whose bitmap rows they are, swapping red and blue on the way, so
// the row is passed over once.
void UndoPredictorRgbToBgr(uint8_t* row, int64_t width) {
    uint8_t r = row[0], g = row[1], b = row[2];
    row[0] = b;
    row[2] = r;
    for (uint8_t* p = row + 3; p < row + width * 3; p += 3) {
        r = static_cast<uint8_t>(r + p[0]);
        g = static_cast<uint8_t>(g + p[1]);
        b = static_cast<uint8_t>(b + p[2]);
        p[0] = b;
        p[1] = g;
        p[2] = r;
    }
}

// Undoes horizontal differencing on one row, sample by sample (8- and 16-bit samples).
void UndoPredictor(uint8_t* row, const TiffRowFormat& f) {
    const int64_t n = static_cast<int64_t>(f.width) * f.spp;
    const int spp = f.spp;
    if (f.bits == 8) {
        switch (spp) {
        case 1: UndoPredictor8<1>(row, f.width); break;
        case 3: UndoPredictor8<3>(row, f.width); break;
        case 4: UndoPredictor8<4>(row, f.width); break;
        default:
            for (int64_t i = spp; i < n; ++i) row[i] = static_cast<uint8_t>(row[i] + row[i - spp]);
        }
    } else if (f.bits == 16) {
        const bool big = f.hi == 0;
        for (int64_t i = spp; i < n; ++i) {
            uint8_t* p = row + 2 * i;
            const uint8_t* q = row + 2 * (i - spp);
            uint16_t v = static_cast<uint16_t>(Get16(p, big) + Get16(q, big));
            p[big ? 0 : 1] = static_cast<uint8_t>(v >> 8);
            p[big ? 1 : 0] = static_cast<uint8_t>(v);
        }
    }
}

int TypeSize(uint16_t type) {
    switch (type) {
    case 1: case 2: case 6: case 7: return 1; // BYTE, ASCII, SBYTE, UNDEFINED
    case 3: case 8: return 2;                 // SHORT, SSHORT
    case 4: case 9: case 13: return 4;        // LONG, SLONG, IFD
    default: return 0;                        // rationals and floats carry no integer list
    }
}

} // namespace

// ---- opacity ----

void TAlphaBitmap::TakeAlphaFromPixels(bool premultiplied) {
    DropAlpha();
    premultiplied_ = premultiplied;
    if (PixelFormat() != TPixelFormat::pf32bit || Empty()) return;
    bool clear = false;
    for (int y = 0; y < Height() && !clear; ++y) {
        const uint32_t* row = Row32(y);
        for (int x = 0; x < Width() && !clear; ++x) clear = (row[x] >> 24) != 255;
    }
    if (clear) {
        clearness_.SetPixelFormat(TPixelFormat::pf8bit);
        clearness_.SetSize(Width(), Height());
    }
    // A picture opaque throughout keeps no opacities.
    for (int y = 0; y < Height(); ++y) {
        uint32_t* row = Row32(y);
        auto* out = clear ? static_cast<uint8_t*>(clearness_.ScanLine(y)) : nullptr;
        for (int x = 0; x < Width(); ++x) {
            if (out) out[x] = static_cast<uint8_t>(255 - (row[x] >> 24));
            row[x] &= 0xFFFFFF;
        }
    }
    // With its opacities kept apart, the colours need no fourth byte: held at 24 bits, the picture and
    // its opacities together take no more than the 32-bit picture it is shown as.
    if (clear) SetPixelFormat(TPixelFormat::pf24bit);
}

void TAlphaBitmap::AssignOver(TBitmap& dest, TColor background) {
    // Straight to the 32 bits it is shown at: a copy at the picture's own format first would hold
    // the picture once more.
    dest.AssignAs(*this, TPixelFormat::pf32bit);
    if (HasAlpha()) BlendOverBackground(dest, clearness_, background, premultiplied_);
}

// ---- TIFF ----

TTIFFGraphic::TTIFFGraphic() { SetPixelFormat(TPixelFormat::pf24bit); }

const TTIFFGraphic::TDirectoryEntry* TTIFFGraphic::FindTag(uint16_t tag) const {
    auto it = std::lower_bound(entries_.begin(), entries_.end(), tag,
                               [](const TDirectoryEntry& e, uint16_t t) { return e.Tag < t; });
    return it != entries_.end() && it->Tag == tag ? &*it : nullptr;
}

std::vector<uint32_t> TTIFFGraphic::TagList(uint16_t tag) {
    const TDirectoryEntry* e = FindTag(tag);
    std::vector<uint32_t> values;
    if (!e || e->Count == 0) return values;
    int size = TypeSize(e->Type);
    if (size == 0) return values;
    auto bytes = CheckedMul(e->Count, size);
    if (!bytes || *bytes > size_) InvalidTiff();
    std::vector<uint8_t> raw;
    const uint8_t* p = e->Value;
    // Values that fit in the entry's four bytes are stored there; longer lists lie at the offset.
    if (*bytes > 4) {
        uint32_t offset = Get32(e->Value, bigEndian_);
        if (offset > size_ - *bytes) InvalidTiff();
        raw.resize(static_cast<size_t>(*bytes));
        stream_->SetPosition(base_ + offset);
        stream_->ReadBuffer(raw.data(), *bytes);
        p = raw.data();
    }
    values.resize(e->Count);
    for (uint32_t i = 0; i < e->Count; ++i) {
        switch (size) {
        case 1: values[i] = p[i]; break;
        case 2: values[i] = Get16(p + 2 * i, bigEndian_); break;
        default: values[i] = Get32(p + 4 * i, bigEndian_); break;
        }
    }
    return values;
}

std::vector<float> TTIFFGraphic::TagRationals(uint16_t tag) {
    const TDirectoryEntry* e = FindTag(tag);
    std::vector<float> values;
    if (!e || (e->Type != 5 && e->Type != 10) || e->Count == 0 || e->Count > 16) return values;
    const int64_t bytes = 8 * static_cast<int64_t>(e->Count);
    const uint32_t offset = Get32(e->Value, bigEndian_);
    if (offset > size_ || bytes > size_ - offset) InvalidTiff();
    uint8_t raw[128];
    stream_->SetPosition(base_ + offset);
    stream_->ReadBuffer(raw, bytes);
    for (uint32_t i = 0; i < e->Count; ++i) {
        const uint32_t num = Get32(raw + 8 * i, bigEndian_), den = Get32(raw + 8 * i + 4, bigEndian_);
        const double n = e->Type == 10 ? static_cast<int32_t>(num) : num;
        const double d = e->Type == 10 ? static_cast<int32_t>(den) : den;
        values.push_back(d != 0 ? static_cast<float>(n / d) : 0.0f);
    }
    return values;
}

uint32_t TTIFFGraphic::TagValue(uint16_t tag, uint32_t fallback) {
    std::vector<uint32_t> values = TagList(tag);
    return values.empty() ? fallback : values[0];
}

void TTIFFGraphic::LoadFromStream(TStream& stream) {
    Reset(*this, TPixelFormat::pf24bit, 0, 0);
    DropAlpha();
    stream_ = &stream;
    base_ = stream.Position();
    size_ = std::max<int64_t>(stream.Size() - base_, 0);
    entries_.clear();

    uint8_t header[8];
    stream.ReadBuffer(header, 8);
    bigEndian_ = header[0] == 0x4D && header[1] == 0x4D;
    if (Get16(header + 2, bigEndian_) != 42) InvalidTiff();
    uint32_t ifd = Get32(header + 4, bigEndian_);
    if (ifd > size_ - 2) InvalidTiff();
    stream.SetPosition(base_ + ifd);
    uint8_t countBytes[2];
    stream.ReadBuffer(countBytes, 2);
    uint16_t count = Get16(countBytes, bigEndian_);
    if (static_cast<int64_t>(count) * 12 > size_ - ifd - 2) InvalidTiff();
    std::vector<uint8_t> raw(static_cast<size_t>(count) * 12);
    stream.ReadBuffer(raw.data(), static_cast<int64_t>(raw.size()));
    entries_.resize(count);
    for (int i = 0; i < count; ++i) {
        const uint8_t* p = raw.data() + 12 * i;
        entries_[i].Tag = Get16(p, bigEndian_);
        entries_[i].Type = Get16(p + 2, bigEndian_);
        entries_[i].Count = Get32(p + 4, bigEndian_);
        std::memcpy(entries_[i].Value, p + 8, 4);
    }
    // Writers are meant to sort the tags; a stable sort makes an unsorted directory readable too.
    std::stable_sort(entries_.begin(), entries_.end(),
                     [](const TDirectoryEntry& a, const TDirectoryEntry& b) { return a.Tag < b.Tag; });

    const uint32_t photometric = TagValue(262, 0);
    const uint32_t spp = TagValue(277, 1);
    std::vector<uint32_t> bitsPerSample = TagList(258);
    if (bitsPerSample.empty()) bitsPerSample.push_back(1);
    const uint32_t bits = bitsPerSample[0];
    const int64_t bitsPerPixel = static_cast<int64_t>(bits) * spp;
    if (spp == 0 || bits == 0 || bitsPerPixel > 128) InvalidTiff();
    const TDirectoryEntry* extraTag = FindTag(338);
    const uint32_t extra = extraTag ? extraTag->Count : 0;
    const int64_t channels = static_cast<int64_t>(spp) - extra;

    // Layouts this loader does not read are refused, so the show draws its notice instead of a
    // picture that is not the file's.
    if (FindTag(322) || FindTag(324)) Unsupported("tiled images");
    if (!FindTag(273)) InvalidTiff();
    if (spp > 1 && TagValue(284, 1) != 1) Unsupported("separate sample planes");
    for (uint32_t b : bitsPerSample)
        if (b != bits) Unsupported("mixed sample sizes");
    for (uint32_t kind : TagList(339))
        if (kind != 1) Unsupported("sample formats other than unsigned integers");
    if (TagValue(266, 1) != 1) Unsupported("reversed bit order");

    TiffRowFormat f;
    uint32_t alphaKind = 0;
    f.bits = static_cast<int>(bits);
    f.spp = static_cast<int>(spp);
    f.hi = bigEndian_ ? 0 : 1;
    TPixelFormat format = TPixelFormat::pf24bit;
    bool onePlane = false;
    const bool wide = bits == 8 || bits == 16;
    if (channels == 1 && (photometric <= 1 || photometric == 3) && (wide || bits == 1 || bits == 4)) {
        onePlane = true;
        format = bits == 1 ? TPixelFormat::pf1bit : bits == 4 ? TPixelFormat::pf4bit : TPixelFormat::pf8bit;
        if (spp > 1 || bits == 16) f.conv = TiffConv::FirstSample;
    } else if (channels == 3 && photometric == 2 && wide) {
        format = extra == 0 ? TPixelFormat::pf24bit : TPixelFormat::pf32bit;
        f.conv = extra == 0 ? TiffConv::RGB : TiffConv::RGBA;
        // The first extra sample is an opacity when it says so: 1 associated (premultiplied into the
        // colours), 2 unassociated.
        alphaKind = extra == 0 ? 0 : TagValue(338, 0);
        f.alpha = alphaKind == 1 || alphaKind == 2;
    } else if (channels == 3 && photometric == 6 && bits == 8 && spp == 3) {
        f.conv = TiffConv::YCbCr;
    } else if (channels == 3 && photometric == 8 && bits == 8) {
        f.conv = TiffConv::Lab;
    } else if (channels == 4 && photometric == 2 && wide) {
        format = TPixelFormat::pf32bit;
        f.conv = TiffConv::RGBA;
    } else if (channels == 4 && photometric == 5 && wide) {
        f.conv = TiffConv::CMYK;
    } else {
        Unsupported("this kind of pixel (" + std::to_string(channels) + " channels of " + std::to_string(bits) +
                    " bits, photometric " + std::to_string(photometric) + ")");
    }
    const uint32_t predictorKind = TagValue(317, 1);
    if (predictorKind != 1 && (predictorKind != 2 || !wide)) Unsupported("this predictor");

    YCbCrTables ycc;
    if (f.conv == TiffConv::YCbCr) {
        // Without the tag, chroma covers blocks of 2 x 2 pixels.
        std::vector<uint32_t> sampling = TagList(530);
        const uint32_t w = sampling.size() > 0 ? sampling[0] : 2, h = sampling.size() > 1 ? sampling[1] : 2;
        // The pair itself is looked up: a code such as 10 * w + h would take 0 x 41 for 4 x 1.
        static constexpr std::pair<uint32_t, uint32_t> kKnown[] = {{1, 1}, {1, 2}, {2, 1}, {2, 2},
                                                                   {4, 1}, {4, 2}, {4, 4}};
        if (std::find(std::begin(kKnown), std::end(kKnown), std::pair(w, h)) == std::end(kKnown))
            Unsupported("this YCbCr subsampling");
        ycc.blockW = static_cast<int>(w);
        ycc.blockH = static_cast<int>(h);
        if (predictorKind == 2 && (w != 1 || h != 1)) Unsupported("a predictor on subsampled YCbCr");
        float luma[3] = {0.299f, 0.587f, 0.114f};
        float range[6] = {0, 255, 128, 255, 128, 255};
        std::vector<float> given = TagRationals(529);
        if (given.size() == 3 && given[1] != 0) std::copy(given.begin(), given.end(), luma);
        given = TagRationals(532);
        if (given.size() == 6) std::copy(given.begin(), given.end(), range);
        ycc.Init(luma, range);
    } else if (f.conv == TiffConv::Lab) {
        // Without the tag, the white point is D50.
        float white[2] = {96.425f / 278.893f, 100.0f / 278.893f};
        std::vector<float> given = TagRationals(318);
        if (given.size() == 2) std::copy(given.begin(), given.end(), white);
        if (white[1] <= 0) InvalidTiff();
        f.white.X0 = white[0] / white[1] * 100;
        f.white.Z0 = (1 - white[0] - white[1]) / white[1] * 100;
    }

    std::vector<TRGBQuad> palette;
    if (onePlane) {
        const int entries = bits == 1 ? 2 : bits == 4 ? 16 : 256;
        if (photometric == 0) {
            palette = GreyRamp(entries);
            std::reverse(palette.begin(), palette.end());
        } else if (photometric == 1) {
            palette = GreyRamp(entries);
        } else if (photometric == 3) {
            // The colour map holds one entry per sample value; wider samples do not fit a palette.
            if (bits > 8) InvalidTiff();
            std::vector<uint32_t> map = TagList(320);
            palette.resize(entries);
            if (map.size() >= 3u * entries)
                for (int i = 0; i < entries; ++i)
                    palette[i] = Quad(static_cast<uint8_t>(map[i] >> 8), static_cast<uint8_t>(map[entries + i] >> 8),
                                      static_cast<uint8_t>(map[2 * entries + i] >> 8));
        }
    }

    const uint32_t width = TagValue(256, 0), height = TagValue(257, 0);
    if (width == 0 || height == 0) InvalidTiff();
    if (!FitsPixelBudget(width, height))
        throw EOutOfMemory("Out of memory: bitmap of " + std::to_string(width) + "x" + std::to_string(height));
    f.width = static_cast<int>(width);
    f.rowBytes = (static_cast<int64_t>(width) * bitsPerPixel + 7) / 8;

    const bool predictor = predictorKind == 2;
    // The TIFF standard makes an absent Compression tag mean uncompressed strips.
    const uint32_t compression = TagValue(259, 1);
    std::unique_ptr<TDecoder> decoder;
    if (compression == 5) decoder = std::make_unique<TTIFFLZW>();
    else if (compression == 32773) decoder = std::make_unique<TPackbitsRLE>();
    else if (compression != 1) throw EInvalidGraphic("TIFF: Unknown compression scheme");

    std::vector<uint32_t> offsets = TagList(273);
    std::vector<uint32_t> byteCounts = TagList(279);
    if (offsets.empty()) InvalidTiff();
    std::vector<uint32_t> rowsPerStrip = TagList(278);
    if (rowsPerStrip.empty() || offsets.size() == 1) rowsPerStrip.assign(1, height);
    // Strips of no rows would leave the picture black; libtiff refuses such a file too.
    if (std::find(rowsPerStrip.begin(), rowsPerStrip.end(), 0u) != rowsPerStrip.end()) InvalidTiff();
    // A compressed strip ends where its byte count says. Without the counts, or with a count of 0 (which
    // libtiff takes for a writer that did not know it), one strip runs to the end of the file, as
    // libtiff reads it; where several strips end cannot be known.
    const bool severalStrips = offsets.size() > 1;
    if (!severalStrips && !byteCounts.empty() && byteCounts[0] == 0) byteCounts.clear();
    if (decoder && byteCounts.empty()) {
        if (offsets.size() > 1) InvalidTiff();
        byteCounts.push_back(static_cast<uint32_t>(std::clamp<int64_t>(size_ - offsets[0], 0, UINT32_MAX)));
    }

    // Strips hold groups of rows: one row each, or for subsampled YCbCr one row of chroma blocks.
    const int groupRows = f.conv == TiffConv::YCbCr ? ycc.blockH : 1;
    const int64_t groupBytes = f.conv == TiffConv::YCbCr
                                   ? (static_cast<int64_t>(width) + ycc.blockW - 1) / ycc.blockW *
                                         (ycc.blockW * ycc.blockH + 2)
                                   : f.rowBytes;
    // Each strip must be able to give its rows: one whose bytes could not, even at the most its
    // compression expands to, is cut short or junk, and the picture is refused before its memory is
    // taken. Rows that no strip stands for stay black, as libtiff shows them.
    int64_t covered = 0;
    for (size_t i = 0; i < offsets.size() && covered < height; ++i) {
        const int64_t rows =
            std::min<int64_t>(i < rowsPerStrip.size() ? rowsPerStrip[i] : rowsPerStrip.back(), height - covered);
        if (severalStrips && !byteCounts.empty() && (i >= byteCounts.size() || byteCounts[i] == 0)) InvalidTiff();
        const int64_t available = std::max<int64_t>(size_ - offsets[i], 0);
        const int64_t packedSize = decoder && i < byteCounts.size() ? byteCounts[i] : 0;
        const int64_t most = decoder ? decoder->MaxUnpackedSize(std::min(packedSize, available)) : available;
        if (most < (rows + groupRows - 1) / groupRows * groupBytes) ReadError();
        covered += rows;
    }

    Reset(*this, format, 0, 0);
    SetSizeForOverwrite(static_cast<int>(width), static_cast<int>(height));
    if (!palette.empty()) SetPalette(palette);
    std::vector<uint8_t> strip, packed;
    const int64_t dstBytes = BytesPerLine();
    // When the bitmap's rows have the file's layout, strips are decoded straight into them and any
    // conversion runs in place.
    const bool inPlace = f.rowBytes == dstBytes && (f.conv == TiffConv::Copy ||
                                                    (f.conv == TiffConv::RGB && bits == 8 && spp == 3));
    // Rows are filled in order. Whole-row writers start on an uncleared bitmap, so whatever the strips
    // leave (a short strip table, or bad data that stops the load) is cleared on the way out.
    uint32_t row = 0;
    struct ClearUnreached {
        TBitmap& bitmap;
        const uint32_t& row;
        bool active;
        ~ClearUnreached() {
            if (active) ClearRowsFrom(bitmap, static_cast<int>(row));
        }
    } clearUnreached{*this, row, inPlace};
    if (!inPlace) ClearRowsFrom(*this, 0);
    for (size_t i = 0; i < offsets.size() && row < height; ++i) {
        int64_t rows = i < rowsPerStrip.size() ? rowsPerStrip[i] : rowsPerStrip.back();
        rows = std::min<int64_t>(rows, height - row);
        if (rows <= 0) continue;
        const int64_t groups = (rows + groupRows - 1) / groupRows;
        const int64_t decodedSize = groups * groupBytes;
        const int64_t offset = offsets[i];
        uint8_t* out;
        if (inPlace) {
            out = static_cast<uint8_t*>(ScanLine(static_cast<int>(row)));
        } else {
            strip.resize(static_cast<size_t>(decodedSize));
            out = strip.data();
        }
        // Among several strips, one of 0 bytes has lost its data or its count: libtiff refuses it, and
        // a strip of black in its place would pass a damaged file for a picture.
        if (severalStrips && !byteCounts.empty() && (i >= byteCounts.size() || byteCounts[i] == 0)) InvalidTiff();
        if (decoder) {
            const int64_t packedSize = i < byteCounts.size() ? byteCounts[i] : 0;
            if (offset > size_ || packedSize > size_ - offset) ReadError();
            // Placed at the file's own alignment within a cache line, so the copy out of it runs aligned.
            packed.resize(static_cast<size_t>(packedSize) + 128);
            uint8_t* at = packed.data() + ((64 - (reinterpret_cast<uintptr_t>(packed.data()) & 63)) & 63) +
                          ((base_ + offset) & 63);
            if (stream.ReadAt(base_ + offset, at, packedSize) != packedSize) ReadError();
            const uint8_t* src = at;
            const int64_t written = decoder->Decode(src, out, packedSize, decodedSize);
            // What the data did not reach stays black.
            std::memset(out + written, 0, static_cast<size_t>(decodedSize - written));
        } else {
            if (offset > size_ || decodedSize > size_ - offset) ReadError();
            stream.SetPosition(base_ + offset);
            stream.ReadBuffer(out, decodedSize);
        }
        if (f.conv == TiffConv::YCbCr) {
            for (int64_t g = 0; g < groups; ++g) {
                uint8_t* src = out + g * groupBytes;
                if (predictor) UndoPredictor(src, f);
                uint8_t* targets[4];
                const int n = static_cast<int>(std::min<int64_t>(groupRows, rows - g * groupRows));
                for (int r = 0; r < n; ++r) targets[r] = static_cast<uint8_t*>(ScanLine(static_cast<int>(row + r)));
                YCbCrGroupToBgr(src, targets, n, f.width, ycc);
                row += n;
            }
            continue;
        }
        for (int64_t r = 0; r < rows; ++r, ++row) {
            uint8_t* src = out + r * f.rowBytes;
            if (inPlace && f.conv == TiffConv::RGB) {
                if (predictor) UndoPredictorRgbToBgr(src, width);
                else SwapRedBlue24(src, src, width);
                continue;
            }
            if (predictor) UndoPredictor(src, f);
            if (!inPlace) ConvertTiffRow(src, static_cast<uint8_t*>(ScanLine(static_cast<int>(row))), dstBytes, f);
        }
    }
    // Orientations outside 1 to 8 are taken as the usual one, as other readers do.
    const uint32_t orientation = TagValue(274, 1);
    if (orientation >= 2 && orientation <= 8) {
        // The rows are cleared where they are stored, before the picture is turned.
        if (inPlace) ClearRowsFrom(*this, static_cast<int>(row));
        clearUnreached.active = false;
        OrientUpright(*this, static_cast<int>(orientation));
    }
    if (f.alpha) TakeAlphaFromPixels(alphaKind == 1);
    stream_ = nullptr;
}

// ---- Targa ----

void TTargaGraphic::LoadFromStream(TStream& stream) {
    Reset(*this, TPixelFormat::pf24bit, 0, 0);
    DropAlpha();
    uint8_t h[18];
    stream.ReadBuffer(h, 18);
    const int idLength = h[0], mapType = h[1], imageType = h[2];
    const int mapOrigin = Le16(h + 3), mapLength = Le16(h + 5), mapEntrySize = h[7];
    const int width = Le16(h + 12), height = Le16(h + 14), pixelSize = h[16];
    const bool topDown = (h[17] & 0x20) != 0, rightToLeft = (h[17] & 0x10) != 0;

    ImageID.assign(static_cast<size_t>(idLength), '\0');
    if (idLength) stream.ReadBuffer(ImageID.data(), idLength);

    // Kinds this loader does not read are refused, so the show draws its notice instead of a picture
    // that is not the file's.
    if (imageType != 1 && imageType != 2 && imageType != 3 && imageType != 9 && imageType != 10 && imageType != 11)
        UnsupportedTarga("image type " + std::to_string(imageType));
    const bool mapped = (imageType & 7) == 1;
    // True colour of one byte a pixel has no colour to give: other readers show those bytes as grey.
    const bool grey = (imageType & 7) == 3 || ((imageType & 7) == 2 && pixelSize == 8);
    if (mapped && mapType != 1) UnsupportedTarga("colour-mapped image without a colour map");

    // The descriptor's alpha bits: how many bits of each pixel are its opacity.
    const bool alphaBits = (h[17] & 0x0F) != 0;
    // How a stored pixel becomes a bitmap pixel.
    enum class Pixel { AsStored, GreyOfGreyAlpha, GreyAlpha, MapIndex16, Alpha1555 } pixel = Pixel::AsStored;
    TPixelFormat format;
    int bpp; // bytes of a stored pixel
    switch (pixelSize) {
    case 8: format = TPixelFormat::pf8bit; bpp = 1; break;
    case 15:
    case 16: format = TPixelFormat::pf15bit; bpp = 2; break;
    case 24: format = TPixelFormat::pf24bit; bpp = 3; break;
    case 32: format = TPixelFormat::pf32bit; bpp = 4; break;
    default: InvalidTarga();
    }
    if (mapped && pixelSize != 8) {
        // Indexes of 16 bits reach beyond a palette: each pixel takes its colour from the map.
        if (pixelSize != 16) UnsupportedTarga("colour-mapped pixels of " + std::to_string(pixelSize) + " bits");
        format = TPixelFormat::pf24bit;
        pixel = Pixel::MapIndex16;
    } else if (grey && pixelSize != 8) {
        // Sixteen bits of grey are a grey byte and an alpha byte: the opacity when the descriptor
        // gives the pixels alpha bits, else not shown.
        if (pixelSize != 16) UnsupportedTarga("grey pixels of " + std::to_string(pixelSize) + " bits");
        format = alphaBits ? TPixelFormat::pf32bit : TPixelFormat::pf8bit;
        pixel = alphaBits ? Pixel::GreyAlpha : Pixel::GreyOfGreyAlpha;
    } else if (pixelSize == 16 && alphaBits && !mapped) {
        // Sixteen bits of colour with an alpha bit: five bits each of red, green and blue, and the top
        // bit opaque when set.
        format = TPixelFormat::pf32bit;
        pixel = Pixel::Alpha1555;
    }

    // The map's first entry stands for the index of the map origin; indexes outside the map show black.
    std::vector<TRGBQuad> colours;
    if (mapType == 1) {
        // The whole map is read past, so the pixels that follow are found even when the image does
        // not use it.
        const int entrySize = mapEntrySize == 24 ? 3 : mapEntrySize == 32 ? 4 : 2;
        std::vector<uint8_t> map(static_cast<size_t>(mapLength) * entrySize);
        stream.ReadBuffer(map.data(), static_cast<int64_t>(map.size()));
        if (mapped) {
            colours.resize(static_cast<size_t>(mapLength));
            for (size_t i = 0; i < colours.size(); ++i) {
                const uint8_t* p = map.data() + i * entrySize;
                if (entrySize >= 3) {
                    colours[i] = Quad(p[2], p[1], p[0]);
                } else {
                    unsigned v = Le16(p);
                    colours[i] = Quad(static_cast<uint8_t>((v & 0x7C00) >> 7), static_cast<uint8_t>((v & 0x3E0) >> 2),
                                      static_cast<uint8_t>((v & 31) * 8));
                }
            }
        }
    }
    std::vector<TRGBQuad> palette;
    if (grey) {
        palette = GreyRamp(256);
    } else if (mapped && pixel == Pixel::AsStored) {
        palette.assign(256, TRGBQuad{});
        for (int i = mapOrigin; i < 256 && i - mapOrigin < mapLength; ++i) palette[i] = colours[i - mapOrigin];
    }

    const int64_t rowBytes = static_cast<int64_t>(bpp) * width;
    const int64_t total = rowBytes * height;
    // A file too short for its picture is refused before the picture's memory is taken: uncompressed
    // rows need all their bytes, and a run-length packet covers at most 128 pixels with a packet byte
    // and one pixel.
    const int64_t available = std::max<int64_t>(stream.Size() - stream.Position(), 0);
    const bool runLength = imageType >= 9;
    if (!runLength && available < total) InvalidTarga();
    if (runLength && available < (static_cast<int64_t>(width) * height + 127) / 128 * (1 + bpp)) ReadError();

    Reset(*this, format, width, height);
    if (!palette.empty()) SetPalette(palette);
    if (width == 0 || height == 0) return;

    const int outBpp = BitsPerPixel(format) / 8;
    const bool alpha = alphaBits && outBpp == 4 && pixel != Pixel::MapIndex16;
    // Rows are stored bottom-up unless the descriptor says top-down, and pixels right to left when
    // it says so.
    auto targetRow = [&](int y) { return static_cast<uint8_t*>(ScanLine(topDown ? y : height - 1 - y)); };
    auto finish = [&](const uint8_t* src, uint8_t* row) {
        switch (pixel) {
        case Pixel::AsStored:
            if (src != row) std::memcpy(row, src, static_cast<size_t>(rowBytes));
            break;
        case Pixel::GreyOfGreyAlpha:
            for (int x = 0; x < width; ++x) row[x] = src[2 * x];
            break;
        case Pixel::GreyAlpha:
            for (int x = 0; x < width; ++x) {
                row[4 * x] = row[4 * x + 1] = row[4 * x + 2] = src[2 * x];
                row[4 * x + 3] = src[2 * x + 1];
            }
            break;
        case Pixel::Alpha1555:
            for (int x = 0; x < width; ++x) {
                const unsigned v = Le16(src + 2 * x);
                // Five bits widened to eight as the bitmap widens them.
                auto widen = [](unsigned c) { return static_cast<uint8_t>((c << 3) | (c >> 2)); };
                row[4 * x] = widen(v & 31);
                row[4 * x + 1] = widen((v >> 5) & 31);
                row[4 * x + 2] = widen((v >> 10) & 31);
                row[4 * x + 3] = v & 0x8000 ? 255 : 0;
            }
            break;
        case Pixel::MapIndex16:
            for (int x = 0; x < width; ++x) {
                const int i = Le16(src + 2 * x) - mapOrigin;
                const TRGBQuad c = i >= 0 && i < mapLength ? colours[static_cast<size_t>(i)] : TRGBQuad{};
                row[3 * x] = c.rgbBlue;
                row[3 * x + 1] = c.rgbGreen;
                row[3 * x + 2] = c.rgbRed;
            }
            break;
        }
        if (rightToLeft)
            for (int a = 0, b = width - 1; a < b; ++a, --b)
                std::swap_ranges(row + a * outBpp, row + (a + 1) * outBpp, row + b * outBpp);
        // Byte 3 holds the opacity when the descriptor gives the pixels alpha bits, until the picture
        // is whole (TakeAlphaFromPixels); other attribute bits are not shown.
        if (outBpp == 4 && !alpha)
            for (int x = 0; x < width; ++x) row[4 * x + 3] = 0;
    };
    if (!runLength) {
        std::vector<uint8_t> stored(pixel == Pixel::AsStored ? 0 : static_cast<size_t>(rowBytes));
        for (int y = 0; y < height; ++y) {
            uint8_t* row = targetRow(y);
            uint8_t* src = stored.empty() ? row : stored.data();
            if (stream.Read(src, rowBytes) != rowBytes) InvalidTarga();
            finish(src, row);
        }
    } else {
        // Packets may run across row ends, so the pixels are decoded as one sequence.
        const int64_t start = stream.Position();
        // The longest encoding spends one packet byte per pixel; more data than that is never needed.
        std::vector<uint8_t> data(static_cast<size_t>(std::min(available, total + total / bpp + 16)));
        const int64_t got = stream.Read(data.data(), static_cast<int64_t>(data.size()));
        // Pixels kept as stored in rows without padding are decoded straight into the bitmap, in
        // the file's row order, and the rows put in place after: a second picture's worth of memory
        // is spared.
        const bool direct = pixel == Pixel::AsStored && BytesPerLine() == rowBytes;
        std::vector<uint8_t> pixels(direct ? 0 : static_cast<size_t>(total), 0);
        uint8_t* decoded = direct ? static_cast<uint8_t*>(ScanLine(0)) : pixels.data();
        int64_t written = 0;
        const int64_t used = TargaRleDecode(data.data(), got, decoded, total, pixelSize, &written);
        stream.SetPosition(start + used);
        // Packets that end before the picture does: the file is cut short.
        if (written < total) ReadError();
        if (direct && !topDown)
            for (int y = 0, z = height - 1; y < z; ++y, --z)
                std::swap_ranges(decoded + y * rowBytes, decoded + (y + 1) * rowBytes, decoded + z * rowBytes);
        for (int y = 0; y < height; ++y) {
            uint8_t* row = targetRow(y);
            finish(direct ? row : pixels.data() + y * rowBytes, row);
        }
    }
    if (alpha) TakeAlphaFromPixels(false);
}

void TTargaGraphic::SaveToStreamCompressed(TStream& stream, bool compressed) {
    TPixelFormat format = PixelFormat();
    if (format == TPixelFormat::pf1bit || format == TPixelFormat::pf4bit) {
        if (MessageBox("Targa image: 1 or 4 bit color depth not allowed. Convert to 256 colors?", "Warning",
                       TMsgIcon::Warning, 1) != 1)
            return;
        // Indexes keep their values and the palette its colours, so the conversion loses nothing.
        TBitmap converted(Width(), Height(), TPixelFormat::pf8bit);
        std::vector<TRGBQuad> palette = Palette();
        for (int y = 0; y < Height(); ++y) {
            const auto* s = static_cast<const uint8_t*>(ScanLine(y));
            auto* d = static_cast<uint8_t*>(converted.ScanLine(y));
            for (int x = 0; x < Width(); ++x)
                d[x] = format == TPixelFormat::pf1bit ? (s[x >> 3] >> (7 - (x & 7))) & 1
                                                      : (s[x >> 1] >> ((x & 1) ? 0 : 4)) & 15;
        }
        converted.SetPalette(palette);
        Assign(converted);
        format = TPixelFormat::pf8bit;
    }
    int bpp;
    switch (format) {
    case TPixelFormat::pf8bit: bpp = 1; break;
    case TPixelFormat::pf15bit:
    case TPixelFormat::pf16bit: bpp = 2; break;
    case TPixelFormat::pf24bit: bpp = 3; break;
    default: bpp = 4; break; // 32-bit, and device bitmaps (32 bits here)
    }
    if (Width() <= 0 || Height() <= 0) return;

    const int width = Width(), height = Height();
    const bool mapped = bpp == 1;
    uint8_t h[18] = {};
    h[0] = static_cast<uint8_t>(std::min<size_t>(ImageID.size(), 255));
    h[1] = mapped ? 1 : 0;
    h[2] = static_cast<uint8_t>(compressed ? (mapped ? 9 : 10) : (mapped ? 1 : 2));
    if (mapped) {
        // A colour map is described only when one follows, so other readers do not skip pixel data.
        h[5] = 0;
        h[6] = 1; // 256 entries
        h[7] = 24;
    }
    h[12] = static_cast<uint8_t>(width);
    h[13] = static_cast<uint8_t>(width >> 8);
    h[14] = static_cast<uint8_t>(height);
    h[15] = static_cast<uint8_t>(height >> 8);
    h[16] = static_cast<uint8_t>(bpp * 8);
    h[17] = 0x20; // rows are written top-down
    auto write = [&](const void* p, int64_t n) {
        if (stream.Write(p, n) != n) throw EInvalidGraphic("Targa: could not write image data");
    };
    write(h, 18);
    write(ImageID.data(), h[0]);
    if (mapped) {
        uint8_t map[768] = {};
        const auto& pal = Palette();
        for (size_t i = 0; i < 256 && i < pal.size(); ++i) {
            map[3 * i] = pal[i].rgbBlue;
            map[3 * i + 1] = pal[i].rgbGreen;
            map[3 * i + 2] = pal[i].rgbRed;
        }
        write(map, sizeof map);
    }
    const int64_t rowBytes = static_cast<int64_t>(bpp) * width;
    std::vector<uint8_t> row(static_cast<size_t>(rowBytes)), packed(static_cast<size_t>(2 * rowBytes + 2));
    for (int y = 0; y < height; ++y) {
        std::memcpy(row.data(), ScanLine(y), static_cast<size_t>(rowBytes));
        if (format == TPixelFormat::pf16bit) {
            // Targa's 16-bit pixels are 5-5-5; a 5-6-5 bitmap is narrowed to that.
            for (int x = 0; x < width; ++x) {
                unsigned v = Le16(row.data() + 2 * x);
                v = ((v >> 1) & 0x7FE0) | (v & 31);
                row[2 * x] = static_cast<uint8_t>(v);
                row[2 * x + 1] = static_cast<uint8_t>(v >> 8);
            }
        }
        if (compressed) write(packed.data(), TargaRleEncode(row.data(), packed.data(), width, bpp));
        else write(row.data(), rowBytes);
    }
}

// ---- PCX ----

namespace {
// The system's default 16 colours, for version 3 files that carry no palette of their own.
const uint8_t kDefault16[16][3] = {{0, 0, 0},       {128, 0, 0},   {0, 128, 0},   {128, 128, 0},
                                   {0, 0, 128},     {128, 0, 128}, {0, 128, 128}, {192, 192, 192},
                                   {128, 128, 128}, {255, 0, 0},   {0, 255, 0},   {255, 255, 0},
                                   {0, 0, 255},     {255, 0, 255}, {0, 255, 255}, {255, 255, 255}};

std::vector<TRGBQuad> DefaultPalette16() {
    std::vector<TRGBQuad> palette;
    for (auto& c : kDefault16) palette.push_back(Quad(c[0], c[1], c[2]));
    return palette;
}
} // namespace

void TPCXGraphic::LoadFromStream(TStream& stream) {
    Reset(*this, TPixelFormat::pf24bit, 0, 0);
    uint8_t h[128];
    stream.ReadBuffer(h, 128);
    const int64_t dataStart = stream.Position();
    int64_t dataSize = std::max<int64_t>(stream.Size() - dataStart, 0);
    if (h[0] != 10 && h[0] != 0xC3) throw EInvalidGraphic("Not a PCX or SCR file.");
    const int version = h[1], encoding = h[2], bitsPerPixel = h[3];
    const int planes = h[65], bytesPerLine = Le16(h + 66), paletteInfo = Le16(h + 68);

    TPixelFormat format;
    if (bitsPerPixel == 1 && planes == 1) format = TPixelFormat::pf1bit;
    else if (bitsPerPixel == 1 && planes == 4) format = TPixelFormat::pf4bit;
    else if (bitsPerPixel == 8 && planes == 1) format = TPixelFormat::pf8bit;
    else if (bitsPerPixel == 8 && planes == 3) format = TPixelFormat::pf24bit;
    else WrongPcxFormat();

    const int width = Le16(h + 8) - Le16(h + 4) + 1, height = Le16(h + 10) - Le16(h + 6) + 1;
    // Each plane line must hold a whole row, or rows would be read from the next line's bytes.
    const int64_t bitsPerLine = static_cast<int64_t>(bytesPerLine) * 8 / bitsPerPixel;
    if (width <= 0 || height <= 0 || bitsPerLine < width) WrongPcxFormat();

    std::vector<TRGBQuad> palette;
    bool marked = false; // an 8-bit file's closing palette was found
    // Version 3 files carry no palette of their own.
    const bool noPalette = version == 3;
    if (format == TPixelFormat::pf1bit) {
        palette = {Quad(0, 0, 0), Quad(255, 255, 255)};
    } else if (format == TPixelFormat::pf4bit) {
        if (noPalette) {
            palette = DefaultPalette16();
        } else if (paletteInfo == 2) {
            palette = GreyRamp(16);
        } else {
            for (int i = 0; i < 16; ++i) palette.push_back(Quad(h[16 + 3 * i], h[17 + 3 * i], h[18 + 3 * i]));
        }
    } else if (format == TPixelFormat::pf8bit) {
        // An 8-bit file ends with a marker byte 12 and 256 colours, which are not image data.
        uint8_t tail[769] = {};
        if (dataSize >= 769) {
            dataSize -= 769;
            stream.SetPosition(dataStart + dataSize);
            stream.ReadBuffer(tail, 769);
            marked = tail[0] == 12;
        }
        // A closing palette wins even in a version 3 file: it is the file's own, and every other
        // reader shows it.
        if (marked) {
            for (int i = 0; i < 256; ++i) palette.push_back(Quad(tail[1 + 3 * i], tail[2 + 3 * i], tail[3 + 3 * i]));
        } else if (noPalette) {
            palette = DefaultPalette16();
        } else if (paletteInfo == 2) {
            palette = GreyRamp(256);
        } else {
            // Without its palette the file's colours are unknown: the user hears so, and a grey ramp
            // shows the picture's shapes.
            palette = GreyRamp(256);
            Bell().Ring();
        }
        stream.SetPosition(dataStart);
    }

    if (!FitsPixelBudget(width, height))
        throw EOutOfMemory("Out of memory: bitmap of " + std::to_string(width) + "x" + std::to_string(height));
    const int64_t lineSize = static_cast<int64_t>(planes) * bytesPerLine;
    const int64_t unpacked = lineSize * height;
    // A line may carry padding beyond the row, but never more than the pixel budget allows.
    if (unpacked > PixelBudget() * 4) WrongPcxFormat();
    // Data that could not fill the lines even at the run length's most (or, stored plainly, byte for
    // byte) is cut short or junk: the picture is refused before its memory is taken.
    if ((encoding == 1 ? TPCXRLE().MaxUnpackedSize(dataSize) : dataSize) < unpacked) ReadError();
    Reset(*this, format, width, height);
    if (!palette.empty()) SetPalette(palette);

    // The data is read in pieces and unpacked one line at a time straight into the rows, so the picture
    // costs its bitmap and no second copy. A run may go on into the next line, as the whole data would
    // be unpacked at once; data that ends before the last line is a file cut short.
    std::vector<uint8_t> piece(static_cast<size_t>(std::min<int64_t>(dataSize, 1 << 16)));
    size_t at = 0, held = 0;
    int64_t unread = dataSize;
    auto next = [&]() -> uint8_t {
        if (at == held) {
            if (unread == 0) ReadError();
            held = static_cast<size_t>(std::min<int64_t>(unread, static_cast<int64_t>(piece.size())));
            stream.ReadBuffer(piece.data(), static_cast<int64_t>(held));
            unread -= static_cast<int64_t>(held);
            at = 0;
        }
        return piece[at++];
    };
    std::vector<uint8_t> line(static_cast<size_t>(lineSize));
    int runLeft = 0;
    uint8_t runValue = 0;
    for (int y = 0; y < height; ++y) {
        for (int64_t i = 0; i < lineSize;) {
            if (runLeft > 0) {
                const int64_t n = std::min<int64_t>(runLeft, lineSize - i);
                std::memset(line.data() + i, runValue, static_cast<size_t>(n));
                i += n;
                runLeft -= static_cast<int>(n);
                continue;
            }
            const uint8_t b = next();
            if (encoding == 1 && (b & 0xC0) == 0xC0) {
                runLeft = b & 63;
                runValue = next();
            } else {
                line[static_cast<size_t>(i++)] = b;
            }
        }
        const uint8_t* src = line.data();
        auto* dst = static_cast<uint8_t*>(ScanLine(y));
        switch (format) {
        case TPixelFormat::pf1bit: std::memcpy(dst, src, static_cast<size_t>((width + 7) / 8)); break;
        case TPixelFormat::pf8bit: std::memcpy(dst, src, static_cast<size_t>(width)); break;
        case TPixelFormat::pf4bit:
            for (int x = 0; x < width; ++x) {
                const int byte = x >> 3, shift = 7 - (x & 7);
                unsigned v = 0;
                for (int p = 0; p < 4; ++p) v |= ((src[p * bytesPerLine + byte] >> shift) & 1) << p;
                dst[x >> 1] |= static_cast<uint8_t>((x & 1) ? v : v << 4);
            }
            break;
        default:
            for (int x = 0; x < width; ++x) {
                dst[3 * x] = src[2 * bytesPerLine + x];
                dst[3 * x + 1] = src[bytesPerLine + x];
                dst[3 * x + 2] = src[x];
            }
            break;
        }
    }
    // A closing palette begun right after the lines but ended early is a file cut short, not a file
    // without one.
    if (format == TPixelFormat::pf8bit && !marked) {
        const int64_t end = dataStart + dataSize - unread - static_cast<int64_t>(held - at);
        uint8_t after = 0;
        stream.SetPosition(end);
        if (stream.Read(&after, 1) == 1 && after == 12 && stream.Size() - end < 769) ReadError();
    }
}

// ---- GIF ----

void TGIFGraphic::LoadFromStream(TStream& stream) {
    Reset(*this, TPixelFormat::pf8bit, 0, 0);
    uint8_t sig[6];
    stream.ReadBuffer(sig, 6);
    if (UpperCase(std::string(reinterpret_cast<char*>(sig), 3)) != "GIF") throw EInvalidGraphic("Not a valid GIF file.");
    uint8_t screen[7];
    stream.ReadBuffer(screen, 7);
    auto readTable = [&](int flags) {
        const int entries = 2 << (flags & 7);
        uint8_t rgb[768];
        stream.ReadBuffer(rgb, entries * 3);
        std::vector<TRGBQuad> p(entries);
        for (int i = 0; i < entries; ++i) p[i] = Quad(rgb[3 * i], rgb[3 * i + 1], rgb[3 * i + 2]);
        return p;
    };
    std::vector<TRGBQuad> global;
    if (screen[4] & 0x80) global = readTable(screen[4]);
    auto readByte = [&] {
        uint8_t b;
        stream.ReadBuffer(&b, 1);
        return b;
    };
    auto skipBlocks = [&] {
        // Data sub-blocks, each led by its length, up to the empty one.
        for (uint8_t n; (n = readByte()) != 0;) stream.Seek(n, TSeekOrigin::soCurrent);
    };
    // The first image the decoder can serve is shown: one whose minimum code size is beyond the
    // decoder's 12-bit table is passed over whole, so the next image is found where it starts.
    bool passedOver = false;
    uint8_t d[9];
    std::vector<TRGBQuad> palette;
    TGIFLZW lzw;
    for (;;) {
        uint8_t b = readByte();
        if (b == ';') {
            if (passedOver) throw EInvalidGraphic("GIF LZW: invalid opcode.");
            return; // no image: the bitmap stays empty
        }
        if (b == '!') {
            readByte(); // the extension's label
            skipBlocks();
        } else if (b == ',') {
            stream.ReadBuffer(d, 9);
            palette = d[8] & 0x80 ? readTable(d[8]) : global;
            lzw.InitialCodeSize = readByte();
            if (lzw.InitialCodeSize >= 1 && lzw.InitialCodeSize <= 11) break;
            skipBlocks();
            passedOver = true;
        }
    }
    int width = Le16(d + 4), height = Le16(d + 6);
    if (width == 0) width = Le16(screen);
    if (height == 0) height = Le16(screen + 2);
    std::vector<uint8_t> data;
    for (uint8_t n; (n = readByte()) != 0;) {
        size_t at = data.size();
        data.resize(at + n);
        stream.ReadBuffer(data.data() + at, n);
    }
    if (width == 0 || height == 0) return;
    if (!FitsPixelBudget(width, height))
        throw EOutOfMemory("Out of memory: bitmap of " + std::to_string(width) + "x" + std::to_string(height));
    // An image larger than its data could give even as the most compressed LZW codes is cut short or
    // junk: it is refused before its memory is taken.
    if (static_cast<int64_t>(width) * height > lzw.MaxUnpackedSize(static_cast<int64_t>(data.size()))) ReadError();
    Reset(*this, TPixelFormat::pf8bit, width, height);
    if (!palette.empty()) SetPalette(palette);
    const int64_t total = static_cast<int64_t>(width) * height;
    std::vector<uint8_t> pixels(static_cast<size_t>(total), 0);
    const uint8_t* src = data.data();
    const int64_t decoded = lzw.Decode(src, pixels.data(), static_cast<int64_t>(data.size()), total);
    // Pixels the data did not reach show colour 0.
    std::memset(pixels.data() + decoded, 0, static_cast<size_t>(total - decoded));

    auto place = [&](int y, int from) {
        std::memcpy(ScanLine(y), pixels.data() + static_cast<int64_t>(from) * width, static_cast<size_t>(width));
    };
    if (d[8] & 0x40) {
        static const int kStart[4] = {0, 4, 2, 1}, kStep[4] = {8, 8, 4, 2};
        int from = 0;
        for (int pass = 0; pass < 4; ++pass)
            for (int y = kStart[pass]; y < height; y += kStep[pass]) place(y, from++);
    } else {
        for (int y = 0; y < height; ++y) place(y, y);
    }
}

void RegisterGraphicFormats() {
    RegisterFileFormat("tiff", "TIFF images", [] { return std::make_unique<TTIFFGraphic>(); });
    RegisterFileFormat("tif", "TIFF images", [] { return std::make_unique<TTIFFGraphic>(); });
    RegisterFileFormat("tga", "Truevision images", [] { return std::make_unique<TTargaGraphic>(); });
    RegisterFileFormat("pcx", "ZSoft PCX images", [] { return std::make_unique<TPCXGraphic>(); });
    RegisterFileFormat("gif", "CompuServe images", [] { return std::make_unique<TGIFGraphic>(); });
}

} // namespace lumora
