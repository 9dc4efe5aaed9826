#include "pictures/PngStream.h"

#include <zlib.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "framework/Checked.h"
#include "pictures/PixelSwap.h"

namespace lumora {

namespace {

constexpr uint32_t ChunkType(const char (&s)[5]) {
    return (static_cast<uint32_t>(s[0]) << 24) | (static_cast<uint32_t>(s[1]) << 16) |
           (static_cast<uint32_t>(s[2]) << 8) | static_cast<uint32_t>(s[3]);
}
constexpr uint32_t kIHDR = ChunkType("IHDR"), kPLTE = ChunkType("PLTE"), kIDAT = ChunkType("IDAT"),
                   kIEND = ChunkType("IEND"), ktRNS = ChunkType("tRNS"), kbKGD = ChunkType("bKGD"),
                   kgAMA = ChunkType("gAMA"), ksBIT = ChunkType("sBIT"), kcHRM = ChunkType("cHRM"),
                   kpHYs = ChunkType("pHYs"), ktIME = ChunkType("tIME"), kgIFg = ChunkType("gIFg"),
                   ktEXt = ChunkType("tEXt"), ktpNg = ChunkType("tpNg");

enum : uint8_t { kHeaderSeen = 1, kImageDone = 2, kEndSeen = 4, kPaletteSeen = 8, kPrivateSeen = 16 };
enum { kKindGrey = 0, kKindRGB = 2, kKindPalette = 3 };
constexpr int64_t kInputSize = 24576;

const uint8_t kSignature[8] = {137, 80, 78, 71, 13, 10, 26, 10};

// Adam7: starting row, row step, starting column, column step per pass.
const int kPassRow[7] = {0, 0, 4, 0, 2, 0, 1}, kPassRowStep[7] = {8, 8, 8, 4, 4, 2, 2};
const int kPassCol[7] = {0, 4, 0, 2, 0, 1, 0}, kPassColStep[7] = {8, 8, 4, 4, 2, 2, 1};

[[noreturn]] void Fail(const char* message) { throw EPngError(message); }

template <int Bpp>
void UnfilterPaeth(uint8_t* row, const uint8_t* prev, int64_t len) {
    for (int i = 0; i < Bpp && i < len; ++i) row[i] = static_cast<uint8_t>(row[i] + prev[i]);
    for (int64_t i = Bpp; i < len; ++i) {
        const int a = row[i - Bpp], b = prev[i], c = prev[i - Bpp];
        const int pa = std::abs(b - c), pb = std::abs(a - c), pc = std::abs(a + b - 2 * c);
        const int pred = (pa <= pb && pa <= pc) ? a : (pb <= pc ? b : c);
        row[i] = static_cast<uint8_t>(row[i] + pred);
    }
}

template <int Bpp>
void UnfilterAverage(uint8_t* row, const uint8_t* prev, int64_t len) {
    for (int i = 0; i < Bpp && i < len; ++i) row[i] = static_cast<uint8_t>(row[i] + (prev[i] >> 1));
    for (int64_t i = Bpp; i < len; ++i) row[i] = static_cast<uint8_t>(row[i] + ((row[i - Bpp] + prev[i]) >> 1));
}

template <int Bpp>
void UnfilterSub(uint8_t* row, int64_t len) {
    for (int64_t i = Bpp; i < len; ++i) row[i] = static_cast<uint8_t>(row[i] + row[i - Bpp]);
}

template <int Bpp>
bool UnfilterFixed(int type, uint8_t* row, const uint8_t* prev, int64_t len) {
    switch (type) {
    case 0: return true;
    case 1: UnfilterSub<Bpp>(row, len); return true;
    case 2:
        for (int64_t i = 0; i < len; ++i) row[i] = static_cast<uint8_t>(row[i] + prev[i]);
        return true;
    case 3: UnfilterAverage<Bpp>(row, prev, len); return true;
    case 4: UnfilterPaeth<Bpp>(row, prev, len); return true;
    default: return false;
    }
}

// Undoes one row's filter; false for an unknown filter type.
bool Unfilter(int type, uint8_t* row, const uint8_t* prev, int64_t len, int bpp) {
    switch (bpp) {
    case 1: return UnfilterFixed<1>(type, row, prev, len);
    case 2: return UnfilterFixed<2>(type, row, prev, len);
    case 3: return UnfilterFixed<3>(type, row, prev, len);
    case 4: return UnfilterFixed<4>(type, row, prev, len);
    case 6: return UnfilterFixed<6>(type, row, prev, len);
    default: return UnfilterFixed<8>(type, row, prev, len);
    }
}

enum class Conv { Copy, Expand2, Grey16, GreyAlpha, RGB, RGBA, Pack15, Pack16 };

struct RowFormat {
    Conv conv = Conv::Copy;
    int sample = 1; // bytes per sample
    int depth = 8;
    int bitmapBits = 8;
    int channels = 1;
};

// Converts `pixels` pixels of one unfiltered row into the bitmap's format; alpha (may be null)
// receives 255 minus each pixel's alpha.
void ConvertRow(const uint8_t* src, uint8_t* dst, uint8_t* alpha, int64_t pixels, const RowFormat& f) {
    const int sb = f.sample;
    switch (f.conv) {
    case Conv::Copy:
        std::memcpy(dst, src, static_cast<size_t>((pixels * f.depth + 7) / 8));
        return;
    case Conv::Expand2:
        for (int64_t x = 0; x < pixels; ++x) {
            unsigned v = (src[x >> 2] >> (6 - 2 * (x & 3))) & 3;
            if (x & 1) dst[x >> 1] = static_cast<uint8_t>(dst[x >> 1] | v);
            else dst[x >> 1] = static_cast<uint8_t>(v << 4);
        }
        return;
    case Conv::Grey16:
        for (int64_t x = 0; x < pixels; ++x) dst[x] = src[2 * x];
        return;
    case Conv::GreyAlpha:
        for (int64_t x = 0; x < pixels; ++x) {
            dst[x] = src[2 * sb * x];
            if (alpha) alpha[x] = static_cast<uint8_t>(255 - src[2 * sb * x + sb]);
        }
        return;
    case Conv::RGB:
        if (sb == 1) {
            SwapRedBlue24(src, dst, pixels);
        } else {
            for (int64_t x = 0; x < pixels; ++x, src += 6, dst += 3) {
                dst[0] = src[4];
                dst[1] = src[2];
                dst[2] = src[0];
            }
        }
        return;
    case Conv::RGBA:
        if (sb == 1) {
            RgbaToBgr(src, dst, alpha, pixels);
            return;
        }
        for (int64_t x = 0; x < pixels; ++x, src += 4 * sb, dst += 3) {
            dst[0] = src[2 * sb];
            dst[1] = src[sb];
            dst[2] = src[0];
            if (alpha) alpha[x] = static_cast<uint8_t>(255 - src[3 * sb]);
        }
        return;
    case Conv::Pack15:
    case Conv::Pack16:
        // Wider samples contribute their high bytes.
        for (int64_t x = 0; x < pixels; ++x, src += f.channels * sb) {
            const unsigned r = src[0], g = src[sb], b = src[2 * sb];
            const unsigned v = f.conv == Conv::Pack16 ? ((r >> 3) << 11) | ((g >> 2) << 5) | (b >> 3)
                                                      : ((r >> 3) << 10) | ((g >> 3) << 5) | (b >> 3);
            dst[2 * x] = static_cast<uint8_t>(v);
            dst[2 * x + 1] = static_cast<uint8_t>(v >> 8);
            if (alpha && f.channels == 4) alpha[x] = static_cast<uint8_t>(255 - src[3 * sb]);
        }
        return;
    }
}

// Puts a converted pass row into the bitmap row at column start + k x step.
void PlaceInterlaced(const uint8_t* src, uint8_t* dst, int64_t pixels, int start, int step, int bits) {
    int64_t col = start;
    switch (bits) {
    case 1:
        for (int64_t k = 0; k < pixels; ++k, col += step) {
            unsigned v = (src[k >> 3] >> (7 - (k & 7))) & 1;
            uint8_t mask = static_cast<uint8_t>(0x80 >> (col & 7));
            dst[col >> 3] = static_cast<uint8_t>(v ? dst[col >> 3] | mask : dst[col >> 3] & ~mask);
        }
        return;
    case 4:
        for (int64_t k = 0; k < pixels; ++k, col += step) {
            unsigned v = (src[k >> 1] >> ((k & 1) ? 0 : 4)) & 15;
            uint8_t& d = dst[col >> 1];
            d = static_cast<uint8_t>((col & 1) ? (d & 0xF0) | v : (d & 0x0F) | (v << 4));
        }
        return;
    default: {
        const int bytes = bits == 8 ? 1 : bits == 24 ? 3 : 2;
        for (int64_t k = 0; k < pixels; ++k, col += step) std::memcpy(dst + col * bytes, src + k * bytes, bytes);
        return;
    }
    }
}

} // namespace

struct TPngReadStream::Inflater {
    z_stream zs{};
    bool open = false;
    std::vector<uint8_t> input = std::vector<uint8_t>(kInputSize);
    ~Inflater() {
        if (open) inflateEnd(&zs);
    }
};

TPngReadStream::TPngReadStream() = default;
TPngReadStream::~TPngReadStream() = default;

uint8_t TPngReadStream::ChunkByte() {
    if (remaining_ < 1) return 0;
    remaining_ -= 1;
    return ReadByte();
}

uint16_t TPngReadStream::ChunkWord() {
    if (remaining_ < 2) return 0;
    remaining_ -= 2;
    return ReadWord();
}

uint32_t TPngReadStream::ChunkLong() {
    if (remaining_ < 4) return 0;
    remaining_ -= 4;
    return ReadLong();
}

void TPngReadStream::Reset() {
    alphaInUse_ = nullptr;
    hasAlpha_ = grey_ = greyIndexed_ = transformRows_ = false;
    interlace_ = 0;
    colorKind_ = -1;
    depth_ = 0;
    flags_ = 0;
    paletteAlphaPending_ = needMask_ = false;
    background_ = transparent_ = kPngNoColor;
    sigBits_ = 0;
    gamma_ = 0;
    physX_ = physY_ = 0;
    physUnit_ = 0;
    rowsDecoded_ = 0;
    PaletteCount_ = 0;
    BitDepth_ = 0;
    std::fill(std::begin(paletteAlpha_), std::end(paletteAlpha_), 255);
    if (Time) *Time = TPngTime{};
    if (Chromaticities) *Chromaticities = TPngChromaticities{};
    if (GifExtension) *GifExtension = TPngGifExtension{};
    if (PrivateRecord) *PrivateRecord = TPngPrivateRecord{};
}

void TPngReadStream::LoadImage() {
    Reset();
    StartProgress();
    NewStage(0, 0, 30);
    if (CheckSignature) {
        uint8_t sig[8];
        if (ReadBytes(sig, 8) != 8 || std::memcmp(sig, kSignature, 8) != 0) Fail("PNG LoadStream: Not PNG Format");
    }
    while (!EndOfData() && !Stopped() && !(flags_ & kEndSeen)) {
        const uint32_t length = ReadLong();
        const uint32_t type = ReadLong();
        if (EndOfData()) break;
        remaining_ = length;
        const bool open = (flags_ & kHeaderSeen) && !(flags_ & kImageDone);
        const bool beforePalette = !(flags_ & kPaletteSeen);
        switch (type) {
        case kIHDR: ReadHeader(); break;
        case kPLTE:
            if (open && beforePalette &&
                (colorKind_ != kKindGrey || (hasAlpha_ && depth_ == 8 && greyIndexed_)))
                ReadPalette();
            break;
        case kIDAT:
            if (!(flags_ & kHeaderSeen)) Fail("Read Header(PNG): IHDR missing");
            if (!(flags_ & kImageDone)) DecodeImage();
            break;
        case kIEND: flags_ |= kEndSeen; break;
        case ktRNS:
            if (open && !hasAlpha_) ReadTransparency();
            break;
        case kbKGD:
            if (open) ReadBackground();
            break;
        case kgAMA:
            if (open && beforePalette && length == 4) {
                gamma_ = ChunkLong() / 100000.0;
                StepProgress();
            }
            break;
        case ksBIT:
            if (open && beforePalette && colorKind_ != kKindGrey && length == (hasAlpha_ ? 4u : 3u)) {
                uint32_t r = ChunkByte(), g = ChunkByte(), b = ChunkByte();
                uint32_t a = hasAlpha_ ? ChunkByte() : 0;
                sigBits_ = r | (g << 8) | (b << 16) | (a << 24);
                StepProgress();
            }
            break;
        case kcHRM:
            if (open && beforePalette && length == 32 && Chromaticities) {
                for (auto& v : Chromaticities->Values) v = ChunkLong();
                StepProgress();
            }
            break;
        case kpHYs:
            if (open && length == 9) {
                physX_ = ChunkLong();
                physY_ = ChunkLong();
                physUnit_ = ChunkByte();
                Values_[0] = physX_;
                Values_[1] = physY_;
                Values_[2] = physUnit_;
                StepProgress();
            }
            break;
        case ktIME:
            if (length == 7 && Time) {
                Time->Year = ChunkWord();
                Time->Month = ChunkByte();
                Time->Day = ChunkByte();
                Time->Hour = ChunkByte();
                Time->Minute = ChunkByte();
                Time->Second = ChunkByte();
                StepProgress();
            }
            break;
        case kgIFg:
            if (open && beforePalette && length == 4 && GifExtension) {
                for (auto& b : GifExtension->Bytes) b = ChunkByte();
                StepProgress();
            }
            break;
        case ktEXt:
            if (length > 0) ReadText();
            break;
        case ktpNg:
            if (open && !(flags_ & kPrivateSeen)) ReadPrivate();
            break;
        default: break;
        }
        Skip(remaining_);
        remaining_ = 0;
        ReadLong(); // the CRC, which is not checked
    }
    // A stream that gave no row at all is not a picture, whatever the reason it ended.
    if (rowsDecoded_ == 0) Fail("Read Image (PNG): Read Error");

    if (!EndOfData() && !Stopped() && !hasAlpha_ && transparent_ != kPngNoColor && !needMask_) {
        int32_t color = transparent_;
        if (color & kPngPaletteIndex) {
            const auto& pal = Bitmap_->Palette();
            unsigned i = color & 0xFF;
            color = i < pal.size() ? RGB(pal[i].rgbRed, pal[i].rgbGreen, pal[i].rgbBlue) : 0;
        }
        Bitmap_->SetTransparent(true);
        Bitmap_->SetTransparentColor(color);
    }
    if (needMask_ && alphaInUse_) {
        BuildPaletteMask();
        hasAlpha_ = true;
    }
    EndProgress();
    EndInflate();
}

void TPngReadStream::ReadHeader() {
    if (flags_ & kHeaderSeen) Fail("Read Header(PNG): appear two IHDR");
    if (remaining_ != 13) Fail("Read Header(PNG): Error Length");
    const uint32_t width = ChunkLong(), height = ChunkLong();
    depth_ = ChunkByte();
    const int colorType = ChunkByte() & 7;
    if (colorType == 1 || colorType == 5 || colorType == 7) Fail("Read Header(PNG): Error ColorType");
    hasAlpha_ = colorType == 4 || colorType == 6;
    colorKind_ = colorType & 3;
    grey_ = colorKind_ == kKindGrey;
    if (ChunkByte() > 1) Fail("Read Header(PNG): not support Compression");
    if (ChunkByte() > 1) Fail("Read Header(PNG): not supprt Filter");
    interlace_ = ChunkByte();
    if (interlace_ > 1) Fail("Read Header(PNG): not interlace type");
    if (width == 0 || height == 0 || width > 0x7FFFFFFF || height > 0x7FFFFFFF || !FitsPixelBudget(width, height))
        Fail("Read Header(PNG): Error Size");
    Width_ = static_cast<int>(width);
    Height_ = static_cast<int>(height);
    flags_ |= kHeaderSeen;
    StepProgress();
}

void TPngReadStream::ReadPalette() {
    const int count = static_cast<int>(std::min<int64_t>(remaining_ / 3, 256));
    auto& pal = PaletteBuffer();
    for (int i = 0; i < count; ++i) {
        uint8_t r = ChunkByte(), g = ChunkByte(), b = ChunkByte();
        pal[i] = TRGBQuad{b, g, r, 0};
    }
    PaletteCount_ = count;
    flags_ |= kPaletteSeen;
    StepProgress();
}

namespace {
// A grey sample of a low bit depth as the 8-bit level its palette ramp shows.
uint32_t GreyLevel(uint32_t v, int depth) {
    if (depth > 8) return (v >> 8) & 0xFF;
    // Depths are checked with the image data; a key met before it may carry any depth.
    if (depth == 8 || depth <= 0) return v & 0xFF;
    const uint32_t max = (1u << depth) - 1;
    return (v & max) * 255 / max;
}
} // namespace

void TPngReadStream::ReadTransparency() {
    if (colorKind_ == kKindGrey) {
        if (remaining_ < 2) return;
        uint32_t v = GreyLevel(ChunkWord(), depth_);
        transparent_ = static_cast<int32_t>(v + v * 0x10100);
    } else if (colorKind_ == kKindRGB) {
        if (remaining_ < 6) return;
        uint32_t c[3];
        for (auto& v : c) {
            uint32_t w = ChunkWord();
            v = depth_ > 8 ? w >> 8 : w & 0xFF;
        }
        transparent_ = RGB(static_cast<uint8_t>(c[0]), static_cast<uint8_t>(c[1]), static_cast<uint8_t>(c[2]));
    } else if (colorKind_ == kKindPalette && (flags_ & kPaletteSeen)) {
        const int n = static_cast<int>(std::min<int64_t>(remaining_, PaletteCount_));
        for (int i = 0; i < n; ++i) paletteAlpha_[i] = ChunkByte();
        transparent_ = 0x01FFFFFF;
        paletteAlphaPending_ = true;
    } else {
        return;
    }
    StepProgress();
}

void TPngReadStream::ReadBackground() {
    if (colorKind_ == kKindGrey) {
        if (remaining_ < 2) return;
        uint32_t w = ChunkWord();
        if (greyIndexed_) {
            background_ = kPngPaletteIndex | static_cast<int32_t>(w & 0xFF);
        } else {
            uint32_t v = GreyLevel(w, depth_);
            background_ = static_cast<int32_t>(v + v * 0x10100);
        }
    } else if (colorKind_ == kKindRGB) {
        if (remaining_ < 6) return;
        uint32_t c[3];
        for (auto& v : c) {
            uint32_t w = ChunkWord();
            v = depth_ > 8 ? w >> 8 : w & 0xFF;
        }
        background_ = RGB(static_cast<uint8_t>(c[0]), static_cast<uint8_t>(c[1]), static_cast<uint8_t>(c[2]));
    } else if (colorKind_ == kKindPalette) {
        if (remaining_ < 1) return;
        background_ = kPngPaletteIndex | ChunkByte();
    } else {
        return;
    }
    StepProgress();
}

void TPngReadStream::ReadText() {
    std::string keyword;
    while (remaining_ > 0) {
        uint8_t c = ChunkByte();
        if (c == 0 || EndOfData()) break;
        keyword.push_back(static_cast<char>(c));
    }
    if (keyword == "Comment") {
        // A length beyond the stream's end is a cut file: nothing is allocated for bytes not there.
        if (remaining_ > ByteCount() - Consumed()) return;
        if (!Comment.empty()) Comment += "\r\n";
        std::string text(static_cast<size_t>(remaining_), '\0');
        if (remaining_ > 0 && ReadBytes(text.data(), remaining_) != remaining_) return;
        remaining_ = 0;
        Comment += text;
        Comment += "\r\n";
    }
    StepProgress();
}

void TPngReadStream::ReadPrivate() {
    flags_ |= kPrivateSeen;
    const uint32_t tag = ChunkLong();
    if (remaining_ <= 0 || tag != 0x474C4433) return;
    if (ChunkByte() != 0) {
        std::string key = Key;
        if (OnGetKey) OnGetKey(key);
        Key = key;
        transformRows_ = true;
    }
    if (ChunkByte() == 1 && IndexedGrey) greyIndexed_ = true;
    if (ChunkWord() == 3 && PrivateRecord) {
        const uint32_t n = ChunkLong();
        if (n > remaining_ || n > ByteCount() - Consumed()) return;
        PrivateRecord->Text.assign(n, '\0');
        if (n > 0 && ReadBytes(PrivateRecord->Text.data(), n) != static_cast<int64_t>(n)) return;
        remaining_ -= n;
        for (auto& v : PrivateRecord->Values) v = ChunkLong();
        for (auto& v : PrivateRecord->Shorts) v = ChunkWord();
        const int64_t skip = std::min<int64_t>(32, remaining_);
        Skip(skip);
        remaining_ -= skip;
    }
    StepProgress();
}

TPngReadStream::FillResult TPngReadStream::FillInput() {
    auto& zs = inflater_->zs;
    // Image data may be split over any number of IDAT chunks, empty ones included.
    while (remaining_ <= 0) {
        ReadLong(); // CRC of the chunk just finished
        const uint32_t length = ReadLong();
        const uint32_t type = ReadLong();
        if (EndOfData() || Stopped()) return FillResult::End;
        if (type != kIDAT) return FillResult::Bad;
        remaining_ = length;
    }
    // A file cut inside the chunk still gives up the bytes it has.
    const int64_t n = std::min({remaining_, kInputSize, ByteCount() - Consumed()});
    if (n <= 0 || ReadBytes(inflater_->input.data(), n) != n) return FillResult::End;
    remaining_ -= n;
    zs.next_in = inflater_->input.data();
    zs.avail_in = static_cast<uInt>(n);
    return FillResult::Ok;
}

int TPngReadStream::InflateRow(uint8_t* row, int64_t bytes) {
    auto& zs = inflater_->zs;
    zs.next_out = row;
    zs.avail_out = static_cast<uInt>(bytes);
    while (zs.avail_out > 0) {
        if (zs.avail_in == 0) {
            FillResult r = FillInput();
            if (r == FillResult::End) return 0;
            if (r == FillResult::Bad) return -1;
        }
        int ret = inflate(&zs, Z_NO_FLUSH);
        if (ret == Z_STREAM_END) return zs.avail_out == 0 ? 1 : -1;
        if (ret == Z_BUF_ERROR && zs.avail_in == 0) continue;
        if (ret != Z_OK) return -1;
    }
    return 1;
}

void TPngReadStream::EndInflate() { inflater_.reset(); }

void TPngReadStream::PrepareBitmap() {
    // A grey image carries no palette of its own: it gets a ramp of its levels.
    if (colorKind_ == kKindGrey && !greyIndexed_) {
        const int bits = std::min(depth_, 8);
        const int count = 1 << bits;
        const int step = bits == 1 ? 255 : bits == 2 ? 85 : bits == 4 ? 17 : 1;
        auto& pal = PaletteBuffer();
        for (int i = 0; i < count; ++i) {
            auto v = static_cast<uint8_t>(i * step);
            pal[i] = TRGBQuad{v, v, v, 0};
        }
        PaletteCount_ = count;
    }
    if (paletteAlphaPending_) {
        int zeros = 0, opaque = 0, zeroIndex = 0;
        for (int i = 0; i < PaletteCount_; ++i) {
            if (paletteAlpha_[i] == 0) {
                ++zeros;
                zeroIndex = i;
            } else if (paletteAlpha_[i] == 255) {
                ++opaque;
            }
        }
        if (zeros == 1 && opaque == PaletteCount_ - 1) {
            transparent_ = kPngPaletteIndex | zeroIndex;
        } else {
            transparent_ = kPngNoColor;
            needMask_ = true;
        }
    }
    SetupBitmap();
    if ((background_ != kPngNoColor) && (background_ & kPngPaletteIndex) && HasPalette()) {
        const auto& p = PaletteBuffer()[background_ & 0xFF];
        background_ = RGB(p.rgbRed, p.rgbGreen, p.rgbBlue);
    }
    if ((hasAlpha_ || needMask_) && AlphaBitmap) {
        TBitmap& a = *AlphaBitmap;
        a.Assign(static_cast<TGraphic*>(nullptr));
        a.SetTransparent(false);
        a.SetPixelFormat(TPixelFormat::pf8bit);
        a.SetSize(Width_, Height_);
        std::vector<TRGBQuad> grey(256);
        for (int i = 0; i < 256; ++i) grey[i] = TRGBQuad{uint8_t(i), uint8_t(i), uint8_t(i), 0};
        a.SetPalette(grey);
        alphaInUse_ = &a;
    }
}

void TPngReadStream::DecodeImage() {
    inflater_ = std::make_unique<Inflater>();
    if (inflateInit(&inflater_->zs) != Z_OK) Fail("PNG LoadStream: Error ZLIB");
    inflater_->open = true;

    RowFormat f;
    f.depth = depth_;
    f.sample = depth_ == 16 ? 2 : 1;
    int pngBits = depth_;
    if (colorKind_ == kKindGrey) {
        if (hasAlpha_) {
            if (depth_ < 8) Fail("Read Header(PNG): not Use AlphaChannel");
            if (depth_ != 8 && depth_ != 16) Fail("Read Header(PNG): Error Bitdepth");
            f.conv = Conv::GreyAlpha;
            f.bitmapBits = 8;
            pngBits = depth_ * 2;
        } else {
            switch (depth_) {
            case 1:
            case 4: f.bitmapBits = depth_; break;
            case 2: f.bitmapBits = 4; f.conv = Conv::Expand2; break;
            case 8: f.bitmapBits = 8; break;
            case 16: f.bitmapBits = 8; f.conv = Conv::Grey16; break;
            default: Fail("Read Header(PNG): Error Bitdepth");
            }
        }
        BitDepth_ = depth_;
    } else if (colorKind_ == kKindRGB) {
        if (depth_ != 8 && depth_ != 16) Fail("Read Header(PNG): Error BitDepth");
        pngBits = depth_ * (hasAlpha_ ? 4 : 3);
        f.conv = hasAlpha_ ? Conv::RGBA : Conv::RGB;
        f.bitmapBits = 24;
        BitDepth_ = depth_ * 3;
        const uint32_t rgb = sigBits_ & 0xFFFFFF;
        if (Use16BitOutput && (rgb == 0x050505 || rgb == 0x050605)) {
            f.conv = rgb == 0x050505 ? Conv::Pack15 : Conv::Pack16;
            f.bitmapBits = BitDepth_ = rgb == 0x050505 ? 15 : 16;
        }
    } else {
        switch (depth_) {
        case 1:
        case 4:
        case 8: f.bitmapBits = depth_; break;
        case 2: f.bitmapBits = 4; f.conv = Conv::Expand2; break;
        default: Fail("Read Header(PNG): Error BitDepth");
        }
        BitDepth_ = depth_;
    }
    f.channels = colorKind_ == kKindRGB ? (hasAlpha_ ? 4 : 3) : (hasAlpha_ ? 2 : 1);
    BitmapBits_ = f.bitmapBits;
    PrepareBitmap();

    const int64_t width = Width_, height = Height_;
    const int64_t rowBytes = (width * pngBits + 7) / 8;
    const int filterBpp = std::max(1, (pngBits + 7) / 8);
    const int64_t outBytes = (width * f.bitmapBits + 7) / 8;
    // One block: two PNG rows (filter byte in front), the converted row and the alpha row.
    std::vector<uint8_t> block(static_cast<size_t>(2 * (rowBytes + 8) + outBytes + 4 + width + 4), 0);
    uint8_t* cur = block.data();
    uint8_t* prev = cur + rowBytes + 8;
    uint8_t* converted = prev + rowBytes + 8;
    uint8_t* alphaRow = converted + outBytes + 4;

    int64_t totalRows = 0;
    int64_t passWidth[7], passHeight[7];
    const int passes = interlace_ ? 7 : 1;
    for (int p = 0; p < passes; ++p) {
        if (interlace_) {
            passWidth[p] = width > kPassCol[p] ? (width - kPassCol[p] + kPassColStep[p] - 1) / kPassColStep[p] : 0;
            passHeight[p] = height > kPassRow[p] ? (height - kPassRow[p] + kPassRowStep[p] - 1) / kPassRowStep[p] : 0;
        } else {
            passWidth[p] = width;
            passHeight[p] = height;
        }
        if (passWidth[p] > 0) totalRows += passHeight[p];
    }
    NewStage(1, totalRows, 98);

    const bool transform = transformRows_ && !Key.empty() && OnRowTransform;
    int64_t running = 0;
    bool stopped = false;
    for (int p = 0; p < passes && !stopped; ++p) {
        if (passWidth[p] == 0 || passHeight[p] == 0) continue;
        const int64_t passRowBytes = (passWidth[p] * pngBits + 7) / 8;
        std::memset(prev, 0, static_cast<size_t>(passRowBytes + 1));
        for (int64_t r = 0; r < passHeight[p]; ++r) {
            const int y = static_cast<int>(interlace_ ? kPassRow[p] + r * kPassRowStep[p] : r);
            int got = InflateRow(cur, passRowBytes + 1);
            if (got == 0) {
                stopped = true;
                break;
            }
            if (got < 0 || !Unfilter(cur[0], cur + 1, prev + 1, passRowBytes, filterBpp))
                Fail("Read Image (PNG): Read Error");
            if (transform) {
                // The next row unfilters against this row as it was decoded, not as transformed.
                std::memcpy(prev, cur, static_cast<size_t>(passRowBytes + 1));
                OnRowTransform(cur + 1, Key, static_cast<int>(running), static_cast<int>(passRowBytes));
            }
            auto* line = static_cast<uint8_t*>(Bitmap_->ScanLine(y));
            uint8_t* alphaLine = alphaInUse_ ? static_cast<uint8_t*>(alphaInUse_->ScanLine(y)) : nullptr;
            if (!interlace_) {
                ConvertRow(cur + 1, line, alphaLine, width, f);
            } else {
                ConvertRow(cur + 1, converted, alphaLine ? alphaRow : nullptr, passWidth[p], f);
                PlaceInterlaced(converted, line, passWidth[p], kPassCol[p], kPassColStep[p], f.bitmapBits);
                if (alphaLine) PlaceInterlaced(alphaRow, alphaLine, passWidth[p], kPassCol[p], kPassColStep[p], 8);
            }
            if (!transform) std::swap(cur, prev);
            ++running;
            ++rowsDecoded_;
            if (running % 4 == 2 || height < 4) StepProgress(running);
            if (EndOfData() || Stopped()) {
                stopped = true;
                break;
            }
        }
    }
    flags_ |= kImageDone;
    EndInflate();
    NewStage(0, 0, 0);
}

void TPngReadStream::BuildPaletteMask() {
    const int bits = BitsPerPixel(Bitmap_->PixelFormat());
    for (int y = 0; y < Height_; ++y) {
        const auto* src = static_cast<const uint8_t*>(Bitmap_->ScanLine(y));
        auto* dst = static_cast<uint8_t*>(alphaInUse_->ScanLine(y));
        for (int x = 0; x < Width_; ++x) {
            unsigned i = bits == 1 ? (src[x >> 3] >> (7 - (x & 7))) & 1
                         : bits == 4 ? (src[x >> 1] >> ((x & 1) ? 0 : 4)) & 15
                                     : src[x];
            dst[x] = static_cast<uint8_t>(255 - paletteAlpha_[i]);
        }
    }
}

} // namespace lumora
