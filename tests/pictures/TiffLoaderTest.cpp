// The TIFF loader against libtiff on files libtiff writes: both byte orders, no compression, LZW
// and PackBits, grey, palette, RGB, RGBA, CMYK, several strips and the differencing predictor.

#include <tiffio.h>

#include <cstring>
#include <functional>

#include <gtest/gtest.h>

#include "pictures/GraphicCompression.h"
#include "pictures/GraphicFormats.h"
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
        if ((i / 5) % 3 == 0) samples[i] = samples[i - 1];
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
    if (g.PixelFormat() == TPixelFormat::pf32bit)
        for (int y = 0; y < s.height; ++y)
            for (int x = 0; x < s.width; ++x) ASSERT_EQ(g.Row32(y)[x] >> 24, 0u);
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
    for (bool big : {false, true})
        for (int rows : {1, 5, 7}) {
            TiffSpec s;
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
}
