// TIFF decoding: our loader against libtiff's strip decoding on the same files (LZW with and
// without the predictor, PackBits). The "ratio" counter is our time over libtiff's (goal: at most 1.0).

#include <tiffio.h>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <ctime>
#include <cmath>
#include <cstdio>
#include <stdexcept>
#include <string>
#include <vector>

#include <unistd.h>

#include "bench/BenchSupport.h"
#include "framework/Graphics.h"
#include "pictures/formats/GraphicFormats.h"

using namespace lumora;

namespace {

std::string WriteTiff(int compression, int predictor, int spp) {
    char path[] = "/tmp/lumora-bench-XXXXXX";
    int fd = mkstemp(path);
    if (fd < 0) throw std::runtime_error("mkstemp failed");
    close(fd);
    const int width = 1600, height = 1200;
    TIFF* t = TIFFOpen(path, "w");
    TIFFSetField(t, TIFFTAG_IMAGEWIDTH, width);
    TIFFSetField(t, TIFFTAG_IMAGELENGTH, height);
    TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, spp);
    TIFFSetField(t, TIFFTAG_PHOTOMETRIC, spp == 3 ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISBLACK);
    TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(t, TIFFTAG_COMPRESSION, compression);
    if (predictor != 1) TIFFSetField(t, TIFFTAG_PREDICTOR, predictor);
    TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, 16);
    std::vector<uint8_t> row(static_cast<size_t>(width) * spp);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x)
            for (int c = 0; c < spp; ++c) {
                // Flat areas with soft edges, as in scanned artwork.
                double v = 128 + 90 * std::sin(x * 0.004 * (c + 1)) * std::cos(y * 0.003);
                row[static_cast<size_t>(x) * spp + c] = static_cast<uint8_t>(static_cast<int>(v) & 0xF8);
            }
        TIFFWriteScanline(t, row.data(), y, 0);
    }
    TIFFClose(t);
    return path;
}

void DecodeWithLibtiff(const std::string& path, std::vector<uint8_t>& pixels) {
    TIFF* t = TIFFOpen(path.c_str(), "r");
    const tmsize_t stripSize = TIFFStripSize(t);
    const uint32_t strips = TIFFNumberOfStrips(t);
    pixels.assign(static_cast<size_t>(stripSize) * strips, 0);
    for (uint32_t s = 0; s < strips; ++s) TIFFReadEncodedStrip(t, s, pixels.data() + s * stripSize, stripSize);
    TIFFClose(t);
}

void Compare(benchmark::State& state, int compression, int predictor, int spp) {
    const std::string path = WriteTiff(compression, predictor, spp);
    bench::CompareFastest(
        state, "libtiff",
        [&] {
            TTIFFGraphic picture;
            picture.LoadFromFile(path);
            benchmark::DoNotOptimize(picture.Bits());
        },
        [&] {
            std::vector<uint8_t> pixels;
            DecodeWithLibtiff(path, pixels);
        });
    std::remove(path.c_str());
}

void BM_TiffLzwRgb(benchmark::State& s) { Compare(s, COMPRESSION_LZW, 1, 3); }
void BM_TiffLzwPredictorRgb(benchmark::State& s) { Compare(s, COMPRESSION_LZW, 2, 3); }
void BM_TiffLzwGrey(benchmark::State& s) { Compare(s, COMPRESSION_LZW, 1, 1); }
void BM_TiffPackBitsRgb(benchmark::State& s) { Compare(s, COMPRESSION_PACKBITS, 1, 3); }

} // namespace

BENCHMARK(BM_TiffLzwRgb)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(30);
BENCHMARK(BM_TiffLzwPredictorRgb)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(30);
BENCHMARK(BM_TiffLzwGrey)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(30);
BENCHMARK(BM_TiffPackBitsRgb)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(30);
BENCHMARK_MAIN();
