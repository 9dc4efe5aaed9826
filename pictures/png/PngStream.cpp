#include "pictures/png/PngStream.h"

#include <zlib.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <vector>

#include "framework/Checked.h"
#include "pictures/common/PixelSwap.h"
#include "pictures/common/PaletteRoutines.h"

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

// Marks the pixels of a row of 16-bit samples that equal the colour key in all their bits as clear
// (255), the others as opaque. True when an opaque one shares the key's high bytes, so that its
// 8-bit pixel cannot be told from the key's.
bool MarkKeyed16(const uint8_t* src, uint8_t* alpha, int64_t pixels, int channels, const uint16_t key[3]) {
    bool lookalike = false;
    for (int64_t x = 0; x < pixels; ++x) {
        bool keyed = true, highKeyed = true;
        for (int c = 0; c < channels; ++c) {
            const uint8_t* v = src + 2 * (x * channels + c);
            keyed = keyed && ((v[0] << 8) | v[1]) == key[c];
            highKeyed = highKeyed && v[0] == key[c] >> 8;
        }
        alpha[x] = keyed ? 255 : 0;
        lookalike = lookalike || (highKeyed && !keyed);
    }
    return lookalike;
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
    paletteAlphaPending_ = needMask_ = key16_ = key16Lookalike_ = false;
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

    if (key16_ && alphaInUse_) {
        // Where the 8-bit pixels tell the key apart, the picture keeps its colour key; else the
        // pixels the key marks are its alpha.
        if (key16Lookalike_) {
            hasAlpha_ = true;
            transparent_ = kPngNoColor;
        } else {
            alphaInUse_->Assign(static_cast<TGraphic*>(nullptr));
        }
    }
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
        key16Samples_[0] = ChunkWord();
        uint32_t v = GreyLevel(key16Samples_[0], depth_);
        transparent_ = static_cast<int32_t>(v + v * 0x10100);
        key16_ = depth_ == 16 && !hasAlpha_;
    } else if (colorKind_ == kKindRGB) {
        if (remaining_ < 6) return;
        uint32_t c[3];
        for (int i = 0; i < 3; ++i) {
            key16Samples_[i] = ChunkWord();
            c[i] = depth_ > 8 ? key16Samples_[i] >> 8 : key16Samples_[i] & 0xFF;
        }
        transparent_ = RGB(static_cast<uint8_t>(c[0]), static_cast<uint8_t>(c[1]), static_cast<uint8_t>(c[2]));
        key16_ = depth_ == 16 && !hasAlpha_;
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
    if ((hasAlpha_ || needMask_ || key16_) && AlphaBitmap) {
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
    // Deflate gives at most 1032 bytes for one compressed byte. Image data larger than the rest of the
    // file could give even so is not what the file holds (a header of a vast picture with a few bytes
    // after it): it is refused before the bitmaps of its size are taken.
    int64_t inflated = 0;
    for (int p = 0; p < passes; ++p)
        if (passWidth[p] > 0) inflated += passHeight[p] * ((passWidth[p] * pngBits + 7) / 8 + 1);
    const int64_t compressed = std::max<int64_t>(ByteCount() - Consumed(), 0);
    if (inflated > 1032 * compressed + 1032) Fail("Read Image (PNG): Read Error");
    PrepareBitmap();
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
            const bool keyed = key16_ && alphaLine;
            if (!interlace_) {
                ConvertRow(cur + 1, line, alphaLine, width, f);
                if (keyed && MarkKeyed16(cur + 1, alphaLine, width, f.channels, key16Samples_)) key16Lookalike_ = true;
            } else {
                ConvertRow(cur + 1, converted, alphaLine ? alphaRow : nullptr, passWidth[p], f);
                if (keyed && MarkKeyed16(cur + 1, alphaRow, passWidth[p], f.channels, key16Samples_))
                    key16Lookalike_ = true;
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

// ---- writer ----

namespace {

constexpr uint32_t kgIFgType = kgIFg;

void PutLong(std::vector<uint8_t>& out, uint32_t v) {
    out.push_back(static_cast<uint8_t>(v >> 24));
    out.push_back(static_cast<uint8_t>(v >> 16));
    out.push_back(static_cast<uint8_t>(v >> 8));
    out.push_back(static_cast<uint8_t>(v));
}

void PutWord(std::vector<uint8_t>& out, uint32_t v) {
    out.push_back(static_cast<uint8_t>(v >> 8));
    out.push_back(static_cast<uint8_t>(v));
}

inline int Luma(int r, int g, int b) { return (r * 77 + g * 150 + b * 29) >> 8; }

// The bits of storage behind a pixel format. Device and custom bitmaps are held as 32-bit pixels
// here, so they are written as such rather than misread as 24-bit rows.
int SourceBitsOf(TPixelFormat format) {
    switch (format) {
    case TPixelFormat::pf1bit: return 1;
    case TPixelFormat::pf4bit: return 4;
    case TPixelFormat::pf8bit: return 8;
    case TPixelFormat::pf15bit: return 15;
    case TPixelFormat::pf16bit: return 16;
    case TPixelFormat::pf24bit: return 24;
    default: return 32;
    }
}

// -1 and clNone mean no colour; system colours are resolved.
bool ResolveColor(TColor c, TColor& rgb) {
    if (c == -1 || c == clNone) return false;
    rgb = ColorToRGB(c) & 0xFFFFFF;
    return true;
}

// Filters one row of len bytes with bpp bytes per pixel into dst (the filter byte not included).
void ApplyFilter(int type, const uint8_t* raw, const uint8_t* prev, uint8_t* dst, int64_t len, int bpp) {
    switch (type) {
    case 1:
        for (int64_t i = 0; i < len; ++i) dst[i] = static_cast<uint8_t>(raw[i] - (i >= bpp ? raw[i - bpp] : 0));
        return;
    case 2:
        for (int64_t i = 0; i < len; ++i) dst[i] = static_cast<uint8_t>(raw[i] - prev[i]);
        return;
    case 3:
        for (int64_t i = 0; i < len; ++i) {
            const int left = i >= bpp ? raw[i - bpp] : 0;
            dst[i] = static_cast<uint8_t>(raw[i] - ((left + prev[i]) >> 1));
        }
        return;
    case 4:
        for (int64_t i = 0; i < len; ++i) {
            const int a = i >= bpp ? raw[i - bpp] : 0, b = prev[i], c = i >= bpp ? prev[i - bpp] : 0;
            const int pa = std::abs(b - c), pb = std::abs(a - c), pc = std::abs(a + b - 2 * c);
            const int pred = (pa <= pb && pa <= pc) ? a : (pb <= pc ? b : c);
            dst[i] = static_cast<uint8_t>(raw[i] - pred);
        }
        return;
    default: std::memcpy(dst, raw, static_cast<size_t>(len)); return;
    }
}

// Takes the pixels at column start + k x step of a whole converted row, packed, for one pass.
void PickPass(const uint8_t* full, uint8_t* out, int64_t pixels, int start, int step, int bits) {
    int64_t col = start;
    switch (bits) {
    case 1:
        for (int64_t k = 0; k < pixels; ++k, col += step)
            if ((full[col >> 3] >> (7 - (col & 7))) & 1) out[k >> 3] |= static_cast<uint8_t>(0x80 >> (k & 7));
        return;
    case 4:
        for (int64_t k = 0; k < pixels; ++k, col += step) {
            const unsigned v = (full[col >> 1] >> ((col & 1) ? 0 : 4)) & 15;
            out[k >> 1] |= static_cast<uint8_t>((k & 1) ? v : v << 4);
        }
        return;
    default: {
        const int bytes = bits / 8;
        for (int64_t k = 0; k < pixels; ++k, col += step) std::memcpy(out + k * bytes, full + col * bytes, bytes);
        return;
    }
    }
}

// How well a filtered row (filter byte included) is expected to compress: -1 is ideal, otherwise
// higher is better. Few distinct values and a few dominant ones both favour deflate.
int64_t ScoreRow(const uint8_t* row, int64_t n, int pngBits, uint32_t* counts) {
    std::memset(counts, 0, 256 * sizeof(uint32_t));
    for (int64_t i = 0; i < n; ++i) ++counts[row[i]];
    int64_t distinct = 0, t1 = 0, t2 = 0, t3 = 0;
    for (int v = 0; v < 256; ++v) {
        const int64_t c = counts[v];
        if (c == 0) continue;
        ++distinct;
        if (c > t1) {
            t3 = t2;
            t2 = t1;
            t1 = c;
        } else if (c > t2) {
            t3 = t2;
            t2 = c;
        } else if (c > t3) {
            t3 = c;
        }
    }
    if (distinct <= 8 || t1 * 100 / n >= 90) return -1;
    const double nd = static_cast<double>(n), dd = static_cast<double>(distinct);
    const double v = pngBits >= 8 ? nd / 1.5 / dd * 1000 + static_cast<double>(t1 + t2 + t3) / nd * 1000
                                  : nd / 1.5 / dd * 1500 + static_cast<double>(t1 + t2) / nd * 1000;
    return static_cast<int64_t>(std::nearbyint(v));
}

} // namespace

struct TPngWriteStream::Deflater {
    z_stream zs{};
    bool open = false;
    std::vector<uint8_t> output;
    // Two raw rows and two candidate rows, each with its filter byte in front, and the counts.
    std::vector<uint8_t> rows;
    uint8_t *cur = nullptr, *prev = nullptr, *candA = nullptr, *candB = nullptr;
    uint32_t counts[256] = {};
    std::vector<uint8_t> fullRow; // a whole converted row, from which interlaced passes take pixels
    ~Deflater() {
        if (open) deflateEnd(&zs);
    }
};

TPngWriteStream::TPngWriteStream() = default;
TPngWriteStream::~TPngWriteStream() = default;

void TPngWriteStream::WriteChunk(uint32_t type, const uint8_t* data, size_t size) {
    const uint8_t typeBytes[4] = {static_cast<uint8_t>(type >> 24), static_cast<uint8_t>(type >> 16),
                                  static_cast<uint8_t>(type >> 8), static_cast<uint8_t>(type)};
    uLong crc = crc32(0L, typeBytes, 4);
    if (size > 0) crc = crc32(crc, data, static_cast<uInt>(size));
    WriteLong(static_cast<uint32_t>(size));
    WriteBytes(typeBytes, 4);
    WriteBytes(data, static_cast<int64_t>(size));
    WriteLong(static_cast<uint32_t>(crc));
}

int TPngWriteStream::GreyOf(TColor color) const {
    const int luma = Luma(GetRValue(color), GetGValue(color), GetBValue(color));
    if (depth_ == 1) return luma > 127 ? 1 : 0;
    if (depth_ == 4) return luma >> 4;
    return luma;
}

int TPngWriteStream::NearestPaletteIndex(TColor color) const {
    const auto& pal = Bitmap_->Palette();
    std::vector<TPaletteEntry> entries;
    entries.reserve(pal.size());
    for (const auto& q : pal) entries.push_back(TPaletteEntry{q.rgbRed, q.rgbGreen, q.rgbBlue, 0});
    return NearestIndex(entries.data(), color, static_cast<int>(std::min<size_t>(entries.size(), 256)));
}

void TPngWriteStream::Prepare() {
    TBitmap& b = *Bitmap_;
    sourceBits_ = SourceBitsOf(b.PixelFormat());
    outputBits_ = sourceBits_ == 15 || sourceBits_ == 16 ? 24 : sourceBits_;
    TBitmap* a = AlphaBitmap;
    useAlpha_ = a && a != &b && !a->Empty() && a->Width() == b.Width() && a->Height() == b.Height() &&
                a->PixelFormat() == TPixelFormat::pf8bit;
    indexedGreyMode_ = IndexedGrey && sourceBits_ == 8 && useAlpha_ && !Grey;
    writeGrey_ = Grey || indexedGreyMode_;
    if (writeGrey_) {
        if (outputBits_ > 8) outputBits_ = 8;
        depth_ = outputBits_;
        colorType_ = useAlpha_ && depth_ == 8 ? 4 : 0;
        pngBits_ = colorType_ == 4 ? 16 : depth_;
    } else if (outputBits_ <= 8) {
        depth_ = outputBits_;
        colorType_ = 3;
        pngBits_ = outputBits_;
    } else {
        depth_ = 8;
        colorType_ = useAlpha_ ? 6 : 2;
        pngBits_ = useAlpha_ ? 32 : 24;
    }
    writeAlpha_ = colorType_ == 4 || colorType_ == 6;
    rowBytes_ = (static_cast<int64_t>(b.Width()) * pngBits_ + 7) / 8;

    invertMono_ = false;
    if (writeGrey_ && !indexedGreyMode_ && sourceBits_ <= 8) {
        const auto& pal = b.Palette();
        auto luma16 = [&](size_t i) {
            return i < pal.size() ? pal[i].rgbRed * 77 + pal[i].rgbGreen * 150 + pal[i].rgbBlue * 29 : 0;
        };
        const int entries = 1 << sourceBits_;
        if (pal.empty()) {
            for (int i = 0; i < entries; ++i) greyTable_[i] = static_cast<uint8_t>(i);
        } else if (sourceBits_ == 1) {
            // A bitmap whose first colour is the brighter one is written with its bits inverted,
            // since grey 1 is white.
            invertMono_ = luma16(0) > luma16(1);
        } else {
            const int shift = sourceBits_ == 4 ? 12 : 8;
            for (int i = 0; i < entries; ++i) greyTable_[i] = static_cast<uint8_t>(luma16(i) >> shift);
        }
    }
}

void TPngWriteStream::WriteHeaderChunks() {
    TBitmap& b = *Bitmap_;
    int written = 0;
    auto step = [&] { StepProgress(++written); };

    if (WriteSignature) WriteBytes(kSignature, 8);

    std::vector<uint8_t> d;
    PutLong(d, static_cast<uint32_t>(b.Width()));
    PutLong(d, static_cast<uint32_t>(b.Height()));
    d.push_back(static_cast<uint8_t>(depth_));
    d.push_back(static_cast<uint8_t>(colorType_));
    d.push_back(0);
    d.push_back(0);
    d.push_back(Interlace == 1 ? 1 : 0);
    WriteChunk(kIHDR, d);
    step();

    TPngTime t{};
    bool haveTime = false;
    if (TimeIsNow) {
        std::time_t now = std::time(nullptr);
        std::tm utc{};
        gmtime_r(&now, &utc);
        t = TPngTime{static_cast<uint16_t>(utc.tm_year + 1900), static_cast<uint8_t>(utc.tm_mon + 1),
                     static_cast<uint8_t>(utc.tm_mday),      static_cast<uint8_t>(utc.tm_hour),
                     static_cast<uint8_t>(utc.tm_min),       static_cast<uint8_t>(utc.tm_sec)};
        haveTime = true;
    } else if (Time) {
        t = *Time;
        haveTime = true;
    }
    if (haveTime && t.Year > 0 && t.Month >= 1 && t.Month <= 12 && t.Day >= 1 && t.Day <= 31 && t.Hour < 24 &&
        t.Minute < 60 && t.Second <= 60) {
        d.clear();
        PutWord(d, t.Year);
        for (uint8_t v : {t.Month, t.Day, t.Hour, t.Minute, t.Second}) d.push_back(v);
        WriteChunk(ktIME, d);
    }
    step();

    auto text = [&](const std::string& keyword, const std::string& value) {
        d.assign(keyword.begin(), keyword.end());
        d.push_back(0);
        d.insert(d.end(), value.begin(), value.end());
        WriteChunk(ktEXt, d);
    };
    if (!Comment.empty()) text("Comment", Comment);
    text("Software", "PngImage ver 3.3");
    step();

    d.clear();
    PutLong(d, 0x474C4433);
    d.push_back(!Key.empty() && OnRowTransform ? 1 : 0);
    d.push_back(indexedGreyMode_ ? 1 : 0);
    if (PrivateRecord && !PrivateRecord->Text.empty()) {
        const auto& r = *PrivateRecord;
        PutWord(d, 3);
        PutLong(d, static_cast<uint32_t>(r.Text.size()));
        d.insert(d.end(), r.Text.begin(), r.Text.end());
        for (uint32_t v : r.Values) PutLong(d, v);
        for (uint16_t v : r.Shorts) PutWord(d, v);
        d.resize(r.Text.size() + 64, 0);
    } else {
        PutWord(d, 0);
    }
    WriteChunk(ktpNg, d);
    step();

    if (GifExtension && (GifExtension->Bytes[0] || GifExtension->Bytes[1] || GifExtension->Bytes[2]))
        WriteChunk(kgIFgType, GifExtension->Bytes, 4);
    const double gammaValue = std::nearbyint(Gamma * 100000.0);
    if (gammaValue >= 1 && gammaValue <= 0xFFFFFFFFu) {
        d.clear();
        PutLong(d, static_cast<uint32_t>(gammaValue));
        WriteChunk(kgAMA, d);
    }
    if (Chromaticities && Chromaticities->Values[0] != 0 && Chromaticities->Values[1] > 0) {
        d.clear();
        for (uint32_t v : Chromaticities->Values) PutLong(d, v);
        WriteChunk(kcHRM, d);
    }
    step();

    if (!writeGrey_) {
        uint32_t bits = 0;
        if (sourceBits_ == 15) bits = 0x050505 | (writeAlpha_ ? 0x08000000u : 0);
        else if (sourceBits_ == 16) bits = 0x050605 | (writeAlpha_ ? 0x08000000u : 0);
        else if (SignificantBits >= 1) bits = SignificantBits;
        if (bits) {
            // Each channel's significant bits lie in 1..8 for the samples written; a zero or
            // larger value would make the chunk invalid, so it is read as "all eight".
            d.clear();
            for (int c = 0; c < (writeAlpha_ ? 4 : 3); ++c) {
                const unsigned v = (bits >> (8 * c)) & 0xFF;
                d.push_back(static_cast<uint8_t>(v >= 1 && v <= 8 ? v : 8));
            }
            WriteChunk(ksBIT, d);
        }
    }
    step();

    if ((!writeGrey_ || indexedGreyMode_) && outputBits_ <= 8 && !b.Palette().empty()) {
        d.clear();
        for (const auto& q : b.Palette()) {
            d.push_back(q.rgbRed);
            d.push_back(q.rgbGreen);
            d.push_back(q.rgbBlue);
        }
        WriteChunk(kPLTE, d);
    }
    step();

    TColor color;
    if (ResolveColor(Background, color)) {
        d.clear();
        if (writeGrey_ && !indexedGreyMode_) {
            PutWord(d, static_cast<uint32_t>(GreyOf(color)));
        } else if (sourceBits_ >= 15) {
            PutWord(d, GetRValue(color));
            PutWord(d, GetGValue(color));
            PutWord(d, GetBValue(color));
        } else {
            const int i = NearestPaletteIndex(color);
            // A grey image with its own palette keeps the two-byte form that grey images have.
            if (i >= 0 && indexedGreyMode_) PutWord(d, static_cast<uint32_t>(i));
            else if (i >= 0) d.push_back(static_cast<uint8_t>(i));
        }
        if (!d.empty()) WriteChunk(kbKGD, d);
    }
    step();

    if (!writeAlpha_) {
        const TColor key = b.Transparent() ? b.TransparentColor() : TransparentColor;
        if (ResolveColor(key, color)) {
            d.clear();
            if (writeGrey_) {
                PutWord(d, static_cast<uint32_t>(GreyOf(color)));
            } else if (sourceBits_ >= 15) {
                PutWord(d, GetRValue(color));
                PutWord(d, GetGValue(color));
                PutWord(d, GetBValue(color));
            } else {
                const int i = NearestPaletteIndex(color);
                if (i >= 0) {
                    d.assign(static_cast<size_t>(i) + 1, 255);
                    d[static_cast<size_t>(i)] = 0;
                }
            }
            if (!d.empty()) WriteChunk(ktRNS, d);
        }
    }
    step();

    if (PhysicalX >= 1 && PhysicalY >= 1) {
        d.clear();
        if (PhysicalUnit == 2) {
            // Dots per inch become dots per metre.
            PutLong(d, static_cast<uint32_t>(std::llround(PhysicalX * 100.0 / 254.0 * 100.0)));
            PutLong(d, static_cast<uint32_t>(std::llround(PhysicalY * 100.0 / 254.0 * 100.0)));
            d.push_back(1);
        } else {
            PutLong(d, PhysicalX);
            PutLong(d, PhysicalY);
            // Units beyond the two the format knows are written as "unknown".
            d.push_back(PhysicalUnit == 1 ? 1 : 0);
        }
        WriteChunk(kpHYs, d);
    }
    step();
}

void TPngWriteStream::ConvertRow(int y, uint8_t* out) {
    const TBitmap& b = *Bitmap_;
    const auto* src = static_cast<const uint8_t*>(b.ScanLine(y));
    const uint8_t* alpha = writeAlpha_ ? static_cast<const uint8_t*>(AlphaBitmap->ScanLine(y)) : nullptr;
    const int64_t width = b.Width();
    switch (sourceBits_) {
    case 1: {
        const int64_t bytes = (width + 7) / 8;
        if (writeGrey_ && invertMono_)
            for (int64_t i = 0; i < bytes; ++i) out[i] = static_cast<uint8_t>(~src[i]);
        else std::memcpy(out, src, static_cast<size_t>(bytes));
        if (width & 7) out[bytes - 1] &= static_cast<uint8_t>(0xFF00 >> (width & 7));
        return;
    }
    case 4: {
        const int64_t bytes = (width + 1) / 2;
        if (writeGrey_)
            for (int64_t i = 0; i < bytes; ++i)
                out[i] = static_cast<uint8_t>((greyTable_[src[i] >> 4] << 4) | greyTable_[src[i] & 15]);
        else std::memcpy(out, src, static_cast<size_t>(bytes));
        if (width & 1) out[bytes - 1] &= 0xF0;
        return;
    }
    case 8: {
        const bool table = writeGrey_ && !indexedGreyMode_;
        if (!alpha) {
            if (table)
                for (int64_t x = 0; x < width; ++x) out[x] = greyTable_[src[x]];
            else std::memcpy(out, src, static_cast<size_t>(width));
            return;
        }
        for (int64_t x = 0; x < width; ++x) {
            out[2 * x] = table ? greyTable_[src[x]] : src[x];
            out[2 * x + 1] = static_cast<uint8_t>(255 - alpha[x]);
        }
        return;
    }
    default: break;
    }
    if (sourceBits_ == 24 && !writeGrey_ && !alpha) {
        // Blue-first triples to red-first: the same swap the reader does.
        SwapRedBlue24(src, out, width);
        return;
    }
    // True-colour sources.
    const int channels = writeGrey_ ? 1 : 3;
    const int stride = channels + (alpha ? 1 : 0);
    for (int64_t x = 0; x < width; ++x) {
        int r, g, bl;
        if (sourceBits_ == 15 || sourceBits_ == 16) {
            const unsigned v = src[2 * x] | (src[2 * x + 1] << 8);
            auto c5 = [](unsigned c) { return static_cast<int>((c << 3) | (c >> 2)); };
            bl = c5(v & 31);
            if (sourceBits_ == 15) {
                g = c5((v >> 5) & 31);
                r = c5((v >> 10) & 31);
            } else {
                const unsigned g6 = (v >> 5) & 63;
                g = static_cast<int>((g6 << 2) | (g6 >> 4));
                r = c5((v >> 11) & 31);
            }
        } else {
            const uint8_t* p = src + x * (sourceBits_ == 24 ? 3 : 4);
            bl = p[0];
            g = p[1];
            r = p[2];
        }
        uint8_t* o = out + x * stride;
        if (writeGrey_) {
            o[0] = static_cast<uint8_t>(Luma(r, g, bl));
        } else {
            o[0] = static_cast<uint8_t>(r);
            o[1] = static_cast<uint8_t>(g);
            o[2] = static_cast<uint8_t>(bl);
        }
        if (alpha) o[channels] = static_cast<uint8_t>(255 - alpha[x]);
    }
}

void TPngWriteStream::FlushIdat(size_t bytes) {
    if (bytes > 0) WriteChunk(kIDAT, deflater_->output.data(), bytes);
    deflater_->zs.next_out = deflater_->output.data();
    deflater_->zs.avail_out = static_cast<uInt>(deflater_->output.size());
}

void TPngWriteStream::DeflateBytes(const uint8_t* data, int64_t len, int flush) {
    z_stream& zs = deflater_->zs;
    zs.next_in = const_cast<Bytef*>(data);
    zs.avail_in = static_cast<uInt>(len);
    for (;;) {
        const int ret = deflate(&zs, flush);
        if (ret < 0 && ret != Z_BUF_ERROR) Fail("Write Image (PNG): Write Error");
        if (zs.avail_out == 0) FlushIdat(deflater_->output.size());
        if (flush == Z_FINISH ? ret == Z_STREAM_END : zs.avail_in == 0 && zs.avail_out > 0) break;
        if (Stopped()) break;
    }
}

const uint8_t* TPngWriteStream::FilterRow(const uint8_t* raw, const uint8_t* prev, int64_t len) {
    // raw and prev point at the filter byte's place; the data follow it.
    Deflater& z = *deflater_;
    const int bpp = std::max(1, (pngBits_ + 7) / 8);
    auto build = [&](int type, uint8_t* dst) {
        dst[0] = static_cast<uint8_t>(type);
        ApplyFilter(type, raw + 1, prev + 1, dst + 1, len, bpp);
        return dst;
    };
    if (Filter >= 2 && Filter <= 5) return build(Filter - 1, z.candA);
    z.cur[0] = 0;
    if (Filter != 0) return z.cur;

    const uint8_t* best = z.cur;
    int64_t bestScore = ScoreRow(z.cur, len + 1, pngBits_, z.counts);
    if (bestScore == -1 || outputBits_ == 4) return best;
    if (outputBits_ == 1 || outputBits_ == 8) bestScore *= 2;
    uint8_t* spare = z.candA;
    for (int type = 1; type <= 4; ++type) {
        build(type, spare);
        const int64_t score = ScoreRow(spare, len + 1, pngBits_, z.counts);
        if (score == -1) return spare;
        if (score > bestScore) {
            bestScore = score;
            best = spare;
            spare = spare == z.candA ? z.candB : z.candA;
        }
    }
    return best;
}

void TPngWriteStream::WriteImageData() {
    TBitmap& b = *Bitmap_;
    const int64_t width = b.Width(), height = b.Height();
    deflater_ = std::make_unique<Deflater>();
    Deflater& z = *deflater_;
    const int64_t slot = rowBytes_ + 1 + 4;
    z.rows.assign(static_cast<size_t>(4 * slot), 0);
    z.cur = z.rows.data();
    z.prev = z.cur + slot;
    z.candA = z.prev + slot;
    z.candB = z.candA + slot;
    const bool interlaced = Interlace == 1;
    if (interlaced) z.fullRow.assign(static_cast<size_t>(rowBytes_ + 4), 0);

    int size = OutputBufferSize;
    if (size < 1 || size >= 0x40000) size = 24576;
    z.output.resize(static_cast<size_t>(size));
    int level = Z_DEFAULT_COMPRESSION;
    switch (Compression) {
    case 0: level = 0; break;
    case 2: level = 1; break;
    case 3: level = 9; break;
    default: break;
    }
    if (deflateInit(&z.zs, level) != Z_OK) Fail("Write Image (PNG): Write Error");
    z.open = true;
    z.zs.next_out = z.output.data();
    z.zs.avail_out = static_cast<uInt>(z.output.size());

    int64_t passWidth[7], passHeight[7], totalRows = 0;
    const int passes = interlaced ? 7 : 1;
    for (int p = 0; p < passes; ++p) {
        if (interlaced) {
            passWidth[p] = width > kPassCol[p] ? (width - kPassCol[p] + kPassColStep[p] - 1) / kPassColStep[p] : 0;
            passHeight[p] = height > kPassRow[p] ? (height - kPassRow[p] + kPassRowStep[p] - 1) / kPassRowStep[p] : 0;
        } else {
            passWidth[p] = width;
            passHeight[p] = height;
        }
        if (passWidth[p] > 0) totalRows += passHeight[p];
    }
    NewStage(totalRows, 98);

    const bool transform = !Key.empty() && OnRowTransform;
    int64_t running = 0;
    for (int p = 0; p < passes && !Stopped(); ++p) {
        if (passWidth[p] == 0 || passHeight[p] == 0) continue;
        const int64_t len = (passWidth[p] * pngBits_ + 7) / 8;
        std::memset(z.prev, 0, static_cast<size_t>(len + 1));
        for (int64_t r = 0; r < passHeight[p] && !Stopped(); ++r) {
            const int y = static_cast<int>(interlaced ? kPassRow[p] + r * kPassRowStep[p] : r);
            if (!interlaced) {
                ConvertRow(y, z.cur + 1);
            } else {
                ConvertRow(y, z.fullRow.data());
                std::memset(z.cur + 1, 0, static_cast<size_t>(len));
                PickPass(z.fullRow.data(), z.cur + 1, passWidth[p], kPassCol[p], kPassColStep[p], pngBits_);
            }
            if (transform) OnRowTransform(z.cur + 1, Key, static_cast<int>(running), static_cast<int>(len));
            const uint8_t* filtered = FilterRow(z.cur, z.prev, len);
            if (ChosenFilters) ChosenFilters->push_back(filtered[0]);
            DeflateBytes(filtered, len + 1, Z_NO_FLUSH);
            std::swap(z.cur, z.prev);
            ++running;
            if (running % 4 == 2 || height < 4) StepProgress(running);
        }
    }
    if (Stopped()) return;
    DeflateBytes(nullptr, 0, Z_FINISH);
    FlushIdat(z.output.size() - z.zs.avail_out);
    deflateReset(&z.zs);
}

void TPngWriteStream::SaveImage() {
    if (!Bitmap_ || Bitmap_->Empty()) Fail("Write Image (PNG): Write Error");
    Prepare();
    StartProgress();
    NewStage(10, 30);
    WriteHeaderChunks();
    if (Stopped()) return;
    WriteImageData();
    deflater_.reset();
    if (Stopped()) return;
    WriteChunk(kIEND, nullptr, 0);
    EndProgress();
}

} // namespace lumora
