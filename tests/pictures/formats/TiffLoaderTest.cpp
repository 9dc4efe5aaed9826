// The TIFF loader against libtiff on files libtiff writes: both byte orders, no compression, LZW
// and PackBits, grey, palette, RGB, RGBA, CMYK, several strips and the differencing predictor; and
// against ImageMagick's turning of every orientation.

#include <tiffio.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>

#include <gtest/gtest.h>

#include "pictures/formats/GraphicCompression.h"
#include "pictures/formats/GraphicFormats.h"
#include "tests/pictures/PictureTestUtil.h"
#include "tests/support/TempDir.h"

using namespace lumora;
using namespace lumora::test;

namespace {

struct TiffSpec {
    int width = 29, height = 23, bits = 8, spp = 1, photometric = PHOTOMETRIC_MINISBLACK;
    int compression = COMPRESSION_NONE, predictor = 1, rowsPerStrip = 0;
    int extra = 0, extraKind = EXTRASAMPLE_UNASSALPHA;
    bool bigEndian = false;
    bool longRuns = false; // stretches of a thousand equal bytes
    uint32_t seed = 7;
};

std::string Describe(const TiffSpec& s) {
    return std::string(s.bigEndian ? "MM" : "II") + " bits " + std::to_string(s.bits) + " spp " +
           std::to_string(s.spp) + " photometric " + std::to_string(s.photometric) + " compression " +
           std::to_string(s.compression) + " predictor " + std::to_string(s.predictor) + " rows/strip " +
           std::to_string(s.rowsPerStrip);
}

int64_t RowBytes(const TiffSpec& s) { return (static_cast<int64_t>(s.width) * s.bits * s.spp + 7) / 8; }

// Writes the file with libtiff and returns the samples it was given (16-bit ones in machine order).
Bytes WriteTiff(const std::string& path, const TiffSpec& s) {
    TIFF* t = TIFFOpen(path.c_str(), s.bigEndian ? "wb" : "wl");
    if (!t) throw std::runtime_error("TIFFOpen failed");
    TIFFSetField(t, TIFFTAG_IMAGEWIDTH, s.width);
    TIFFSetField(t, TIFFTAG_IMAGELENGTH, s.height);
    TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, s.bits);
    TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, s.spp);
    TIFFSetField(t, TIFFTAG_PHOTOMETRIC, s.photometric);
    TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(t, TIFFTAG_COMPRESSION, s.compression);
    if (s.predictor != 1) TIFFSetField(t, TIFFTAG_PREDICTOR, s.predictor);
    TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, s.rowsPerStrip ? s.rowsPerStrip : s.height);
    if (s.extra) {
        uint16_t kinds[4] = {static_cast<uint16_t>(s.extraKind), 0, 0, 0};
        TIFFSetField(t, TIFFTAG_EXTRASAMPLES, s.extra, kinds);
    }
    if (s.photometric == PHOTOMETRIC_SEPARATED) TIFFSetField(t, TIFFTAG_INKSET, INKSET_CMYK);
    if (s.photometric == PHOTOMETRIC_PALETTE) {
        const int n = 1 << s.bits;
        std::vector<uint16_t> r(n), g(n), b(n);
        Bytes c = PseudoRandomBytes(3 * n, 5);
        for (int i = 0; i < n; ++i) {
            r[i] = static_cast<uint16_t>(c[3 * i] * 257);
            g[i] = static_cast<uint16_t>(c[3 * i + 1] * 257);
            b[i] = static_cast<uint16_t>(c[3 * i + 2] * 257);
        }
        TIFFSetField(t, TIFFTAG_COLORMAP, r.data(), g.data(), b.data());
    }
    Bytes samples = PseudoRandomBytes(RowBytes(s) * s.height, s.seed);
    // Repeated stretches give the compressors runs and strings to find.
    for (size_t i = 1; i < samples.size(); ++i)
        if ((i / 5) % 3 == 0 || (s.longRuns && (i / 1000) % 2 == 0)) samples[i] = samples[i - 1];
    for (int y = 0; y < s.height; ++y) {
        Bytes row(samples.begin() + y * RowBytes(s), samples.begin() + (y + 1) * RowBytes(s));
        if (TIFFWriteScanline(t, row.data(), y, 0) < 0) throw std::runtime_error("TIFFWriteScanline failed");
    }
    TIFFClose(t);
    return samples;
}

// What libtiff decodes, row by row, as raw samples.
Bytes ReadSamplesWithLibtiff(const std::string& path) {
    TIFF* t = TIFFOpen(path.c_str(), "r");
    if (!t) throw std::runtime_error("TIFFOpen failed");
    uint32_t h = 0;
    TIFFGetField(t, TIFFTAG_IMAGELENGTH, &h);
    const tmsize_t line = TIFFScanlineSize(t);
    Bytes out(static_cast<size_t>(line) * h);
    for (uint32_t y = 0; y < h; ++y) TIFFReadScanline(t, out.data() + y * line, y, 0);
    TIFFClose(t);
    return out;
}

// libtiff's own rendering of the picture as top-down RGBA.
std::vector<uint32_t> ReadRgbaWithLibtiff(const std::string& path, int w, int h) {
    TIFF* t = TIFFOpen(path.c_str(), "r");
    std::vector<uint32_t> px(static_cast<size_t>(w) * h);
    TIFFReadRGBAImageOriented(t, w, h, px.data(), ORIENTATION_TOPLEFT, 0);
    TIFFClose(t);
    return px;
}

// The colour each pixel must show, from its samples.
TColor Expected(const TiffSpec& s, const Bytes& samples, int x, int y, const std::string& path) {
    const uint8_t* row = samples.data() + y * RowBytes(s);
    auto sample = [&](int i) -> unsigned { // sample i of pixel x, scaled to 8 bits
        int64_t n = static_cast<int64_t>(x) * s.spp + i;
        if (s.bits == 16) {
            uint16_t v;
            std::memcpy(&v, row + 2 * n, 2);
            return v >> 8;
        }
        if (s.bits == 8) return row[n];
        unsigned v = (row[(n * s.bits) >> 3] >> (8 - s.bits - ((n * s.bits) & 7))) & ((1u << s.bits) - 1);
        return v;
    };
    if (s.spp - s.extra == 1) {
        unsigned v = sample(0);
        if (s.photometric == PHOTOMETRIC_PALETTE) {
            uint16_t *r, *g, *b;
            TIFF* t = TIFFOpen(path.c_str(), "r");
            TIFFGetField(t, TIFFTAG_COLORMAP, &r, &g, &b);
            TColor c = RGB(r[v] >> 8, g[v] >> 8, b[v] >> 8);
            TIFFClose(t);
            return c;
        }
        const unsigned max = s.bits >= 8 ? 255 : (1u << s.bits) - 1;
        unsigned level = v * 255 / max;
        if (s.photometric == PHOTOMETRIC_MINISWHITE) level = 255 - level;
        return RGB(level, level, level);
    }
    if (s.photometric == PHOTOMETRIC_SEPARATED && s.bits == 16) {
        // Full 16-bit ink values, the sum narrowed to 8 bits before it is taken from white.
        auto full = [&](int i) -> int64_t {
            uint16_t v;
            std::memcpy(&v, row + 2 * (static_cast<int64_t>(x) * s.spp + i), 2);
            return v;
        };
        auto chan = [&](int c) {
            int64_t k = full(3), v = full(c);
            return static_cast<uint8_t>(std::clamp<int64_t>(255 - ((v - (v * k + 32767) / 65535 + k) >> 8), 0, 255));
        };
        return RGB(chan(0), chan(1), chan(2));
    }
    if (s.photometric == PHOTOMETRIC_SEPARATED) {
        auto chan = [&](int c) {
            int64_t k = sample(3), v = sample(c);
            return static_cast<uint8_t>(std::clamp<int64_t>(255 - (v - (v * k + 127) / 255 + k), 0, 255));
        };
        return RGB(chan(0), chan(1), chan(2));
    }
    return RGB(sample(0), sample(1), sample(2));
}

void CheckTiff(const TiffSpec& s, bool compareWithRgbaRendering, int tolerance = 0) {
    SCOPED_TRACE(Describe(s));
    TempDir dir;
    const std::string path = dir.File("t.tif");
    Bytes written = WriteTiff(path, s);
    Bytes decoded = ReadSamplesWithLibtiff(path);
    ASSERT_EQ(decoded, written) << "libtiff does not read back what it wrote";

    TTIFFGraphic g;
    g.LoadFromFile(path);
    ASSERT_EQ(g.Width(), s.width);
    ASSERT_EQ(g.Height(), s.height);
    std::vector<uint32_t> rgba;
    if (compareWithRgbaRendering) rgba = ReadRgbaWithLibtiff(path, s.width, s.height);
    int bad = 0;
    for (int y = 0; y < s.height && bad < 3; ++y)
        for (int x = 0; x < s.width && bad < 3; ++x) {
            TColor ours = g.GetPixel(x, y);
            TColor want = Expected(s, written, x, y, path);
            if (ours != want) {
                ADD_FAILURE() << "pixel " << x << "," << y << " is " << std::hex << ours << ", expected " << want;
                ++bad;
            }
            if (compareWithRgbaRendering) {
                uint32_t p = rgba[static_cast<size_t>(y) * s.width + x];
                int dr = std::abs(int(TIFFGetR(p)) - GetRValue(ours)), dg = std::abs(int(TIFFGetG(p)) - GetGValue(ours)),
                    db = std::abs(int(TIFFGetB(p)) - GetBValue(ours));
                if (std::max({dr, dg, db}) > tolerance) {
                    ADD_FAILURE() << "pixel " << x << "," << y << " is " << std::hex << ours << ", libtiff shows "
                                  << (p & 0xFFFFFF);
                    ++bad;
                }
            }
        }
    if (g.PixelFormat() == TPixelFormat::pf32bit) {
        for (int y = 0; y < s.height; ++y)
            for (int x = 0; x < s.width; ++x) ASSERT_EQ(g.Row32(y)[x] >> 24, 0u);
    }
}

} // namespace

TEST(TiffLoader, GreyDepthsInBothByteOrdersAndEveryCompression) {
    for (bool big : {false, true})
        for (int compression : {COMPRESSION_NONE, COMPRESSION_LZW, COMPRESSION_PACKBITS})
            for (int bits : {1, 4, 8, 16})
                for (int photometric : {PHOTOMETRIC_MINISBLACK, PHOTOMETRIC_MINISWHITE}) {
                    TiffSpec s;
                    s.bigEndian = big;
                    s.compression = compression;
                    s.bits = bits;
                    s.photometric = photometric;
                    // libtiff shows 16-bit grey through its own scaling; our rule is the high byte.
                    CheckTiff(s, bits <= 8);
                }
}

TEST(TiffLoader, PaletteRgbAndCmykMatchLibtiff) {
    for (bool big : {false, true})
        for (int compression : {COMPRESSION_NONE, COMPRESSION_LZW, COMPRESSION_PACKBITS}) {
            TiffSpec s;
            s.bigEndian = big;
            s.compression = compression;
            for (int bits : {4, 8}) {
                s.bits = bits;
                s.photometric = PHOTOMETRIC_PALETTE;
                CheckTiff(s, true);
            }
            s.photometric = PHOTOMETRIC_RGB;
            s.spp = 3;
            for (int bits : {8, 16}) {
                s.bits = bits;
                CheckTiff(s, bits == 8);
            }
            s.photometric = PHOTOMETRIC_SEPARATED;
            s.spp = 4;
            s.bits = 8;
            CheckTiff(s, true, 1);
            s.bits = 16;
            CheckTiff(s, false);
        }
}

TEST(TiffLoader, RgbaWithEitherAlphaKindShowsTheColourSamples) {
    for (int kind : {EXTRASAMPLE_ASSOCALPHA, EXTRASAMPLE_UNASSALPHA})
        for (int bits : {8, 16})
            for (bool big : {false, true}) {
                TiffSpec s;
                s.photometric = PHOTOMETRIC_RGB;
                s.spp = 4;
                s.extra = 1;
                s.extraKind = kind;
                s.bits = bits;
                s.bigEndian = big;
                s.compression = COMPRESSION_LZW;
                CheckTiff(s, false);
            }
    // Grey with an alpha sample: the grey sample of each pixel.
    TiffSpec grey;
    grey.spp = 2;
    grey.extra = 1;
    CheckTiff(grey, true);
}

TEST(TiffLoader, SeveralStripsAndThePredictor) {
    // A width of 32 gives RGB rows the bitmap's own row length, so they are decoded in place.
    for (int width : {29, 32})
        for (bool big : {false, true})
            for (int rows : {1, 5, 7}) {
                TiffSpec s;
                s.width = width;
                s.bigEndian = big;
                s.rowsPerStrip = rows;
                s.compression = COMPRESSION_LZW;
                s.photometric = PHOTOMETRIC_RGB;
                s.spp = 3;
                CheckTiff(s, true);
                s.compression = COMPRESSION_PACKBITS;
                CheckTiff(s, true);
                s.compression = COMPRESSION_LZW;
                s.predictor = 2;
                for (int bits : {8, 16}) {
                    s.bits = bits;
                    CheckTiff(s, bits == 8);
                }
                s.spp = 1;
                s.photometric = PHOTOMETRIC_MINISBLACK;
                CheckTiff(s, false);
                s.bits = 8;
                CheckTiff(s, true);
                s.spp = 4;
                s.photometric = PHOTOMETRIC_SEPARATED;
                CheckTiff(s, true, 1);
            }
}

TEST(TiffLoader, LargePictureDecodesLikeLibtiff) {
    // Long enough for the LZW table to fill and be cleared several times.
    TiffSpec s;
    s.width = 300;
    s.height = 200;
    s.spp = 3;
    s.photometric = PHOTOMETRIC_RGB;
    s.compression = COMPRESSION_LZW;
    CheckTiff(s, true);
    // Long runs make LZW strings that overlap their own copies at every distance.
    s.longRuns = true;
    CheckTiff(s, true);
    s.spp = 1;
    s.photometric = PHOTOMETRIC_MINISBLACK;
    CheckTiff(s, true);
}

namespace {

// A file libtiff writes with the given fields and pixel bytes, as strips (one call per strip) or,
// when tileSize is set, as square tiles.
void WriteRawTiff(const std::string& path, int w, int h, int bits, int spp, int photometric,
                  const std::function<void(TIFF*)>& fields, const Bytes& data, int tileSize = 0) {
    TIFF* t = TIFFOpen(path.c_str(), "w");
    TIFFSetField(t, TIFFTAG_IMAGEWIDTH, w);
    TIFFSetField(t, TIFFTAG_IMAGELENGTH, h);
    TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, bits);
    TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, spp);
    TIFFSetField(t, TIFFTAG_PHOTOMETRIC, photometric);
    TIFFSetField(t, TIFFTAG_COMPRESSION, COMPRESSION_NONE);
    TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    if (tileSize) {
        TIFFSetField(t, TIFFTAG_TILEWIDTH, tileSize);
        TIFFSetField(t, TIFFTAG_TILELENGTH, tileSize);
    } else {
        TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, h);
    }
    fields(t);
    if (tileSize) {
        const tmsize_t tile = TIFFTileSize(t);
        for (uint32_t i = 0; i < TIFFNumberOfTiles(t); ++i) {
            Bytes piece = PseudoRandomBytes(static_cast<size_t>(tile), i + 1);
            TIFFWriteEncodedTile(t, i, piece.data(), tile);
        }
    } else {
        const tmsize_t strip = TIFFStripSize(t);
        const uint32_t strips = TIFFNumberOfStrips(t);
        Bytes padded = data;
        padded.resize(static_cast<size_t>(strip) * strips);
        for (uint32_t i = 0; i < strips; ++i) TIFFWriteEncodedStrip(t, i, padded.data() + i * strip, strip);
    }
    TIFFClose(t);
}

// Our pixels against libtiff's RGBA rendering; returns the largest channel difference.
int LargestDifferenceFromLibtiff(const std::string& path, int w, int h) {
    TTIFFGraphic g;
    g.LoadFromFile(path);
    EXPECT_EQ(g.Width(), w);
    EXPECT_EQ(g.Height(), h);
    std::vector<uint32_t> rgba = ReadRgbaWithLibtiff(path, w, h);
    int worst = 0;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            TColor ours = g.GetPixel(x, y);
            uint32_t p = rgba[static_cast<size_t>(y) * w + x];
            worst = std::max({worst, std::abs(int(TIFFGetR(p)) - GetRValue(ours)),
                              std::abs(int(TIFFGetG(p)) - GetGValue(ours)),
                              std::abs(int(TIFFGetB(p)) - GetBValue(ours))});
        }
    return worst;
}

// A little-endian file libtiff wrote, for editing its first directory in place.
struct LittleEndianTiff {
    explicit LittleEndianTiff(const std::string& path) : path(path) {
        const std::string text = ReadFile(path);
        file.assign(text.begin(), text.end());
    }
    uint32_t Get(size_t at, int n) const {
        uint32_t v = 0;
        for (int i = n - 1; i >= 0; --i)
            v = (v << 8) | file[at + i];
        return v;
    }
    size_t Directory() const { return Get(4, 4); }
    size_t Count() const { return Get(Directory(), 2); }
    // Where the directory's entry of tag starts; 0 when it has none.
    size_t Entry(uint16_t tag) const {
        for (size_t i = 0; i < Count(); ++i)
            if (Get(Directory() + 2 + 12 * i, 2) == tag) return Directory() + 2 + 12 * i;
        return 0;
    }
    void Save() const {
        std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(file.data()), file.size());
    }
    std::string path;
    Bytes file;
};

// Changes the directory of a little-endian file libtiff wrote: the entry of `tag` gets `value` in
// place, or is dropped when value is negative.
void EditTag(const std::string& path, uint16_t tag, int64_t value) {
    LittleEndianTiff tiff(path);
    const size_t entry = tiff.Entry(tag), ifd = tiff.Directory(), count = tiff.Count();
    if (!entry) return;
    Bytes& file = tiff.file;
    if (value < 0) {
        // The entries after it and the link to the next directory move up; what follows them
        // stays where it was.
        file.erase(file.begin() + static_cast<long>(entry), file.begin() + static_cast<long>(entry + 12));
        file.insert(file.begin() + static_cast<long>(ifd + 2 + 12 * (count - 1) + 4), 12, 0);
        file[ifd] = static_cast<uint8_t>(count - 1);
        file[ifd + 1] = static_cast<uint8_t>((count - 1) >> 8);
    } else {
        for (int b = 0; b < 4; ++b)
            file[entry + 8 + b] = static_cast<uint8_t>(value >> (8 * b));
    }
    tiff.Save();
}

// Sets the StripByteCounts of a little-endian file libtiff wrote to 0: every strip's, or the last one's.
void ZeroStripByteCounts(const std::string& path, bool lastOnly) {
    LittleEndianTiff tiff(path);
    const size_t entry = tiff.Entry(TIFFTAG_STRIPBYTECOUNTS);
    if (!entry) return;
    const size_t size = tiff.Get(entry + 2, 2) == TIFF_SHORT ? 2 : 4, count = tiff.Get(entry + 4, 4);
    const size_t at = count * size <= 4 ? entry + 8 : tiff.Get(entry + 8, 4);
    for (size_t k = lastOnly ? count - 1 : 0; k < count; ++k)
        std::fill_n(tiff.file.begin() + static_cast<long>(at + k * size), size, 0);
    tiff.Save();
}

// Whether libtiff's RGBA rendering reads the file through to its end.
bool LibtiffRenders(const std::string& path, int w, int h) {
    TIFF* t = TIFFOpen(path.c_str(), "r");
    if (!t) return false;
    std::vector<uint32_t> px(static_cast<size_t>(w) * h);
    const int ok = TIFFReadRGBAImageOriented(t, w, h, px.data(), ORIENTATION_TOPLEFT, 1);
    TIFFClose(t);
    return ok != 0;
}

} // namespace

TEST(TiffLoader, LayoutsItDoesNotReadRaiseAnErrorInsteadOfAWrongPicture) {
    TempDir dir;
    const std::string path = dir.File("t.tif");
    const int w = 40, h = 24;
    auto refused = [&](const char* what, int bits, int spp, int photometric, const std::function<void(TIFF*)>& fields,
                       int tileSize = 0) {
        SCOPED_TRACE(what);
        Bytes data = PseudoRandomBytes(static_cast<size_t>(w) * h * spp * 4, 3);
        WriteRawTiff(path, w, h, bits, spp, photometric, fields, data, tileSize);
        TTIFFGraphic g;
        EXPECT_THROW(g.LoadFromFile(path), EInvalidGraphic);
    };
    auto none = [](TIFF*) {};
    refused("tiled", 8, 3, PHOTOMETRIC_RGB, none, 16);
    refused("tiled grey", 8, 1, PHOTOMETRIC_MINISBLACK, none, 16);
    refused("separate planes", 8, 3, PHOTOMETRIC_RGB,
            [](TIFF* t) { TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_SEPARATE); });
    refused("2-bit grey", 2, 1, PHOTOMETRIC_MINISBLACK, none);
    refused("12-bit grey", 12, 1, PHOTOMETRIC_MINISBLACK, none);
    refused("4-bit RGB", 4, 3, PHOTOMETRIC_RGB, none);
    refused("signed samples", 8, 1, PHOTOMETRIC_MINISBLACK,
            [](TIFF* t) { TIFFSetField(t, TIFFTAG_SAMPLEFORMAT, SAMPLEFORMAT_INT); });
    refused("16-bit float RGB", 16, 3, PHOTOMETRIC_RGB,
            [](TIFF* t) { TIFFSetField(t, TIFFTAG_SAMPLEFORMAT, SAMPLEFORMAT_IEEEFP); });
    refused("two colour channels", 8, 2, PHOTOMETRIC_MINISBLACK, none);
    refused("transparency mask", 1, 1, PHOTOMETRIC_MASK, none);
    refused("16-bit Lab", 16, 3, PHOTOMETRIC_CIELAB, none);
    refused("reversed bit order", 1, 1, PHOTOMETRIC_MINISBLACK,
            [](TIFF* t) { TIFFSetField(t, TIFFTAG_FILLORDER, FILLORDER_LSB2MSB); });
    refused("YCbCr subsampled 1x4", 8, 3, PHOTOMETRIC_YCBCR,
            [](TIFF* t) { TIFFSetField(t, TIFFTAG_YCBCRSUBSAMPLING, 1, 4); });

    // Strip tables that say nothing of where the rows are, which libtiff refuses too: several strips
    // of no rows each, and LZW strips without their byte counts.
    auto broken = [&](const char* what, int compression, const std::function<void()>& edit) {
        SCOPED_TRACE(what);
        TiffSpec s;
        s.compression = compression;
        s.rowsPerStrip = 5;
        WriteTiff(path, s);
        edit();
        EXPECT_FALSE(LibtiffRenders(path, s.width, s.height));
        TTIFFGraphic g;
        EXPECT_THROW(g.LoadFromFile(path), EInvalidGraphic);
    };
    broken("strips of 0 rows", COMPRESSION_NONE, [&] { EditTag(path, TIFFTAG_ROWSPERSTRIP, 0); });
    broken("LZW strips of 0 rows", COMPRESSION_LZW, [&] { EditTag(path, TIFFTAG_ROWSPERSTRIP, 0); });
    broken("LZW without byte counts", COMPRESSION_LZW, [&] { EditTag(path, TIFFTAG_STRIPBYTECOUNTS, -1); });
    broken("LZW strips of 0 bytes", COMPRESSION_LZW, [&] { ZeroStripByteCounts(path, false); });
    broken("PackBits strips of 0 bytes", COMPRESSION_PACKBITS, [&] { ZeroStripByteCounts(path, false); });
    broken("uncompressed strips of 0 bytes", COMPRESSION_NONE, [&] { ZeroStripByteCounts(path, false); });
    broken("the last LZW strip of 0 bytes", COMPRESSION_LZW, [&] { ZeroStripByteCounts(path, true); });
    broken("the last PackBits strip of 0 bytes", COMPRESSION_PACKBITS, [&] { ZeroStripByteCounts(path, true); });
    // One strip without its byte count, or with a count of 0, runs to the end of the file, as libtiff
    // reads it ("Bogus StripByteCounts").
    for (int compression : {COMPRESSION_LZW, COMPRESSION_PACKBITS, COMPRESSION_NONE})
        for (bool zero : {false, true}) {
            SCOPED_TRACE("one strip, compression " + std::to_string(compression) + (zero ? ", 0 bytes" : ", no count"));
            TiffSpec one;
            one.compression = compression;
            WriteTiff(path, one);
            if (zero) ZeroStripByteCounts(path, false);
            else EditTag(path, TIFFTAG_STRIPBYTECOUNTS, -1);
            ASSERT_TRUE(LibtiffRenders(path, one.width, one.height));
            EXPECT_EQ(LargestDifferenceFromLibtiff(path, one.width, one.height), 0);
        }

    // The layouts it reads still load.
    WriteRawTiff(path, w, h, 8, 3, PHOTOMETRIC_RGB, none, PseudoRandomBytes(w * h * 3, 4));
    TTIFFGraphic g;
    EXPECT_NO_THROW(g.LoadFromFile(path));
}

TEST(TiffLoader, EveryOrientationShowsAsImageMagickTurnsIt) {
    TempDir dir;
    const std::string path = dir.File("t.tif"), upright = dir.File("upright.ppm");
    // Odd sizes, so a turn that exchanged the wrong sides or packed pixels at the wrong bit shows.
    const int w = 13, h = 7;
    struct Layout {
        int bits, spp, photometric;
    };
    for (Layout l : {Layout{1, 1, PHOTOMETRIC_MINISBLACK}, Layout{4, 1, PHOTOMETRIC_PALETTE},
                     Layout{8, 1, PHOTOMETRIC_MINISBLACK}, Layout{8, 3, PHOTOMETRIC_RGB}})
        for (int orientation = 1; orientation <= 8; ++orientation) {
            SCOPED_TRACE("bits " + std::to_string(l.bits) + " spp " + std::to_string(l.spp) + " orientation " +
                         std::to_string(orientation));
            const Bytes data = PseudoRandomBytes(static_cast<size_t>(w) * h * l.spp * l.bits / 8 + h, 31);
            WriteRawTiff(path, w, h, l.bits, l.spp, l.photometric,
                         [&](TIFF* t) {
                             TIFFSetField(t, TIFFTAG_ORIENTATION, orientation);
                             if (l.photometric != PHOTOMETRIC_PALETTE) return;
                             std::vector<uint16_t> r(16), g(16), b(16);
                             for (int i = 0; i < 16; ++i) {
                                 r[i] = static_cast<uint16_t>(i * 16 * 257);
                                 g[i] = static_cast<uint16_t>((255 - i * 9) * 257);
                                 b[i] = static_cast<uint16_t>((i * 77 % 256) * 257);
                             }
                             TIFFSetField(t, TIFFTAG_COLORMAP, r.data(), g.data(), b.data());
                         },
                         data);
            ASSERT_EQ(std::system(("convert " + path + " -auto-orient -depth 8 ppm:" + upright).c_str()), 0);
            std::ifstream in(upright, std::ios::binary);
            std::string magic;
            int uw = 0, uh = 0, maxval = 0;
            in >> magic >> uw >> uh >> maxval;
            in.get();
            std::string want((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
            ASSERT_EQ(magic, "P6");
            ASSERT_EQ(want.size(), static_cast<size_t>(uw) * uh * 3);

            TTIFFGraphic g;
            g.LoadFromFile(path);
            ASSERT_EQ(g.Width(), uw);
            ASSERT_EQ(g.Height(), uh);
            int bad = 0;
            for (int y = 0; y < uh && bad < 3; ++y)
                for (int x = 0; x < uw && bad < 3; ++x) {
                    const auto* p = reinterpret_cast<const uint8_t*>(want.data()) + 3 * (static_cast<size_t>(y) * uw + x);
                    if (g.GetPixel(x, y) != RGB(p[0], p[1], p[2])) {
                        ADD_FAILURE() << "pixel " << x << "," << y << " is " << std::hex << g.GetPixel(x, y)
                                      << ", ImageMagick shows " << RGB(p[0], p[1], p[2]);
                        ++bad;
                    }
                }
        }
}

TEST(TiffLoader, LabAndYCbCrAgreeWithLibtiff) {
    TempDir dir;
    const std::string path = dir.File("t.tif");
    const int w = 37, h = 21;
    // Every L level with a spread of a and b, in a file without and with its own white point.
    Bytes lab = PseudoRandomBytes(static_cast<size_t>(w) * h * 3, 11);
    for (size_t i = 0; i < lab.size() / 3; ++i) lab[3 * i] = static_cast<uint8_t>(i);
    for (bool ownWhite : {false, true}) {
        WriteRawTiff(path, w, h, 8, 3, PHOTOMETRIC_CIELAB,
                     [&](TIFF* t) {
                         static float d65[2] = {0.3127f, 0.3290f};
                         if (ownWhite) TIFFSetField(t, TIFFTAG_WHITEPOINT, d65);
                     },
                     lab);
        EXPECT_LE(LargestDifferenceFromLibtiff(path, w, h), 2) << "Lab, own white point " << ownWhite;
    }
    // YCbCr in each subsampling libtiff renders, with the default and with other coefficients and ranges.
    const int samplings[][2] = {{1, 1}, {2, 1}, {2, 2}, {4, 1}, {4, 2}, {4, 4}, {1, 2}};
    for (const auto& sampling : samplings)
        for (bool custom : {false, true}) {
            const int sh = sampling[0], sv = sampling[1];
            SCOPED_TRACE("YCbCr " + std::to_string(sh) + "x" + std::to_string(sv) + (custom ? " custom" : ""));
            const size_t blocks = static_cast<size_t>((w + sh - 1) / sh) * ((h + sv - 1) / sv);
            Bytes data = PseudoRandomBytes(blocks * (sh * sv + 2), 12 + sh * 4 + sv);
            WriteRawTiff(path, w, h, 8, 3, PHOTOMETRIC_YCBCR,
                         [&](TIFF* t) {
                             TIFFSetField(t, TIFFTAG_YCBCRSUBSAMPLING, sh, sv);
                             if (custom) {
                                 static float coefficients[3] = {0.2126f, 0.7152f, 0.0722f};
                                 static float range[6] = {16, 235, 128, 240, 128, 240};
                                 TIFFSetField(t, TIFFTAG_YCBCRCOEFFICIENTS, coefficients);
                                 TIFFSetField(t, TIFFTAG_REFERENCEBLACKWHITE, range);
                             }
                         },
                         data);
            EXPECT_LE(LargestDifferenceFromLibtiff(path, w, h), 2);
        }
}
