// PNG decoding: our reader against libpng on the same files, timed in turn within each iteration.
// The "ratio" counter is our time over libpng's (goal: at most 1.0).

#include <png.h>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <ctime>
#include <cmath>
#include <cstring>
#include <stdexcept>
#include <vector>

#include "bench/BenchSupport.h"
#include "framework/Graphics.h"
#include "pictures/png/PngStream.h"

using namespace lumora;

namespace {

using Bytes = std::vector<uint8_t>;

void Append(png_structp png, png_bytep data, png_size_t size) {
    auto* out = static_cast<Bytes*>(png_get_io_ptr(png));
    out->insert(out->end(), data, data + size);
}

// A photograph-like picture: smooth gradients with a little noise, so every filter gets chosen.
Bytes MakePng(int width, int height, int colorType, bool interlace) {
    const int channels = colorType == PNG_COLOR_TYPE_RGB_ALPHA ? 4 : colorType == PNG_COLOR_TYPE_RGB ? 3 : 1;
    Bytes out;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) throw std::runtime_error("libpng write failed");
    png_set_write_fn(png, &out, Append, nullptr);
    png_set_IHDR(png, info, width, height, 8, colorType, interlace ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    const int passes = png_set_interlace_handling(png);
    Bytes row(static_cast<size_t>(width) * channels);
    uint32_t noise = 12345;
    for (int pass = 0; pass < passes; ++pass)
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x)
                for (int c = 0; c < channels; ++c) {
                    noise = noise * 1103515245 + 12345;
                    double v = 128 + 100 * std::sin(x * 0.01 * (c + 1) + y * 0.013) + ((noise >> 16) & 7);
                    row[static_cast<size_t>(x) * channels + c] = static_cast<uint8_t>(std::clamp(v, 0.0, 255.0));
                }
            png_write_row(png, row.data());
        }
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return out;
}

struct Source {
    const Bytes* data;
    size_t pos;
};

void Read(png_structp png, png_bytep out, png_size_t size) {
    auto* s = static_cast<Source*>(png_get_io_ptr(png));
    std::memcpy(out, s->data->data() + s->pos, size);
    s->pos += size;
}

// libpng decoding into blue-first rows, the layout our bitmaps hold.
void DecodeWithLibpng(const Bytes& file, Bytes& pixels) {
    Source src{&file, 0};
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) throw std::runtime_error("libpng read failed");
    png_set_read_fn(png, &src, Read);
    png_read_info(png, info);
    png_set_bgr(png);
    png_set_interlace_handling(png);
    png_read_update_info(png, info);
    const size_t rowBytes = png_get_rowbytes(png, info);
    const uint32_t height = png_get_image_height(png, info);
    pixels.assign(rowBytes * height, 0);
    std::vector<png_bytep> rows(height);
    for (uint32_t y = 0; y < height; ++y) rows[y] = pixels.data() + y * rowBytes;
    png_read_image(png, rows.data());
    png_read_end(png, nullptr);
    png_destroy_read_struct(&png, &info, nullptr);
}

void Compare(benchmark::State& state, int colorType, bool interlace) {
    const Bytes file = MakePng(1600, 1200, colorType, interlace);
    // Each side makes a new picture, as a load does.
    bench::CompareFastest(
        state, "libpng",
        [&] {
            TMemoryStream stream(file);
            TBitmap bitmap, alpha;
            TPngReadStream reader;
            reader.AlphaBitmap = &alpha;
            reader.Load(bitmap, stream);
            benchmark::DoNotOptimize(bitmap.Bits());
        },
        [&] {
            Bytes pixels;
            DecodeWithLibpng(file, pixels);
        });
}

void BM_PngRgb(benchmark::State& s) { Compare(s, PNG_COLOR_TYPE_RGB, false); }
void BM_PngRgba(benchmark::State& s) { Compare(s, PNG_COLOR_TYPE_RGB_ALPHA, false); }
void BM_PngGrey(benchmark::State& s) { Compare(s, PNG_COLOR_TYPE_GRAY, false); }
void BM_PngRgbInterlaced(benchmark::State& s) { Compare(s, PNG_COLOR_TYPE_RGB, true); }

} // namespace

BENCHMARK(BM_PngRgb)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(30);
BENCHMARK(BM_PngRgba)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(30);
BENCHMARK(BM_PngGrey)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(30);
BENCHMARK(BM_PngRgbInterlaced)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(30);
BENCHMARK_MAIN();
