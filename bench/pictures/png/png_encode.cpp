// PNG encoding: our writer against libpng's on the same bitmap, timed in turn within each iteration.
// The "ratio" counter is our time over libpng's (goal: at most 1.0); "size_ratio" compares the files.

#include <png.h>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <ctime>
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

void NoFlush(png_structp) {}

// A photograph-like picture: smooth gradients with a little noise.
std::unique_ptr<TBitmap> MakePhoto(int width, int height, TPixelFormat format) {
    auto b = std::make_unique<TBitmap>(width, height, format);
    const int bytes = format == TPixelFormat::pf32bit ? 4 : 3;
    uint32_t noise = 12345;
    for (int y = 0; y < height; ++y) {
        auto* row = static_cast<uint8_t*>(b->ScanLine(y));
        for (int x = 0; x < width; ++x)
            for (int c = 0; c < 3; ++c) {
                noise = noise * 1103515245 + 12345;
                const double v = 128 + 100 * std::sin(x * 0.01 * (c + 1) + y * 0.013) + ((noise >> 16) & 7);
                row[x * bytes + c] = static_cast<uint8_t>(std::clamp(v, 0.0, 255.0));
            }
    }
    return b;
}

std::unique_ptr<TBitmap> MakeAlpha(int width, int height) {
    auto a = std::make_unique<TBitmap>(width, height, TPixelFormat::pf8bit);
    for (int y = 0; y < height; ++y) {
        auto* row = static_cast<uint8_t*>(a->ScanLine(y));
        for (int x = 0; x < width; ++x) row[x] = static_cast<uint8_t>((x + y) / 16);
    }
    return a;
}

// libpng writing the same pixels: blue-first rows in, as our bitmaps hold them.
Bytes EncodeWithLibpng(const TBitmap& b, const TBitmap* alpha, int filters) {
    Bytes out;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) throw std::runtime_error("libpng write failed");
    png_set_write_fn(png, &out, Append, NoFlush);
    png_set_IHDR(png, info, b.Width(), b.Height(), 8, alpha ? PNG_COLOR_TYPE_RGB_ALPHA : PNG_COLOR_TYPE_RGB,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_set_filter(png, 0, filters);
    png_write_info(png, info);
    png_set_bgr(png);
    Bytes row(static_cast<size_t>(b.Width()) * 4);
    for (int y = 0; y < b.Height(); ++y) {
        const auto* src = static_cast<const uint8_t*>(b.ScanLine(y));
        if (alpha) {
            const auto* a = static_cast<const uint8_t*>(alpha->ScanLine(y));
            for (int x = 0; x < b.Width(); ++x) {
                std::memcpy(&row[4 * x], src + 3 * x, 3);
                row[4 * x + 3] = static_cast<uint8_t>(255 - a[x]);
            }
            png_write_row(png, row.data());
        } else {
            png_write_row(png, const_cast<png_bytep>(src));
        }
    }
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return out;
}

void Compare(benchmark::State& state, bool adaptive, bool withAlpha) {
    const auto bitmap = MakePhoto(1600, 1200, TPixelFormat::pf24bit);
    const auto alpha = withAlpha ? MakeAlpha(1600, 1200) : nullptr;
    size_t ourSize = 0, theirSize = 0;
    bench::CompareFastest(
        state, "libpng",
        [&] {
            TMemoryStream stream;
            TPngWriteStream writer;
            writer.Filter = adaptive ? 0 : 1;
            writer.AlphaBitmap = alpha.get();
            writer.Save(*bitmap, stream);
            ourSize = static_cast<size_t>(stream.Size());
        },
        [&] {
            Bytes file = EncodeWithLibpng(*bitmap, alpha.get(), adaptive ? PNG_ALL_FILTERS : PNG_FILTER_NONE);
            theirSize = file.size();
        });
    state.counters["size_ratio"] = static_cast<double>(ourSize) / static_cast<double>(theirSize);
}

void BM_PngEncodeRgbNoFilter(benchmark::State& s) { Compare(s, false, false); }
void BM_PngEncodeRgbAdaptive(benchmark::State& s) { Compare(s, true, false); }
void BM_PngEncodeRgbaNoFilter(benchmark::State& s) { Compare(s, false, true); }

} // namespace

BENCHMARK(BM_PngEncodeRgbNoFilter)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(8);
BENCHMARK(BM_PngEncodeRgbAdaptive)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(8);
BENCHMARK(BM_PngEncodeRgbaNoFilter)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(8);
BENCHMARK_MAIN();
