// GIF decoding: our reader against giflib on the same files, timed in turn within each iteration.
// The "ratio" counter is our time over giflib's (goal: at most 1.0). Both sides decode every frame
// into its indices; ours also reads the blocks into its object model.

#include <gif_lib.h>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <ctime>
#include <vector>

#include "bench/BenchSupport.h"
#include "pictures/gif/GIFImage.h"

using namespace lumora;

namespace {

using Bytes = std::vector<uint8_t>;

int Append(GifFileType* gif, const GifByteType* data, int size) {
    static_cast<Bytes*>(gif->UserData)->insert(static_cast<Bytes*>(gif->UserData)->end(), data, data + size);
    return size;
}

// A photograph-like 256-colour picture (smooth areas with noise), written by giflib.
Bytes MakeGif(int width, int height, bool interlace, int noise) {
    Bytes out;
    int error = 0;
    GifFileType* gif = EGifOpen(&out, Append, &error);
    std::vector<GifColorType> colors(256);
    for (int i = 0; i < 256; ++i)
        colors[static_cast<size_t>(i)] = GifColorType{static_cast<GifByteType>(i), static_cast<GifByteType>(255 - i),
                                                      static_cast<GifByteType>(i * 3)};
    ColorMapObject* map = GifMakeMapObject(256, colors.data());
    EGifPutScreenDesc(gif, width, height, 8, 0, map);
    EGifPutImageDesc(gif, 0, 0, width, height, interlace, nullptr);
    std::vector<GifPixelType> row(static_cast<size_t>(width));
    uint32_t s = 12345;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            s = s * 1103515245 + 12345;
            const double v = 128 + 100 * std::sin(x * 0.01 + y * 0.013) + static_cast<int>((s >> 16) % (noise + 1));
            row[static_cast<size_t>(x)] = static_cast<GifPixelType>(std::clamp(v, 0.0, 255.0));
        }
        EGifPutLine(gif, row.data(), width);
    }
    EGifCloseFile(gif, &error);
    GifFreeMapObject(map);
    return out;
}

struct Source {
    const Bytes* data;
    size_t pos;
};

int Read(GifFileType* gif, GifByteType* out, int size) {
    auto* s = static_cast<Source*>(gif->UserData);
    const size_t n = std::min<size_t>(static_cast<size_t>(size), s->data->size() - s->pos);
    std::memcpy(out, s->data->data() + s->pos, n);
    s->pos += n;
    return static_cast<int>(n);
}

void Compare(benchmark::State& state, bool interlace, int noise) {
    const Bytes file = MakeGif(1600, 1200, interlace, noise);
    bench::CompareFastest(
        state, "giflib",
        [&] {
            TBytesStream stream(file.data(), static_cast<int64_t>(file.size()));
            TGIFImage image;
            image.LoadFromStream(stream);
            benchmark::DoNotOptimize(image.Images()[0]->Data());
        },
        [&] {
            Source src{&file, 0};
            int error = 0;
            GifFileType* gif = DGifOpen(&src, Read, &error);
            DGifSlurp(gif);
            benchmark::DoNotOptimize(gif->SavedImages[0].RasterBits);
            DGifCloseFile(gif, &error);
        });
}

void BM_GifSmooth(benchmark::State& s) { Compare(s, false, 2); }
void BM_GifNoisy(benchmark::State& s) { Compare(s, false, 40); }
void BM_GifInterlaced(benchmark::State& s) { Compare(s, true, 2); }

} // namespace

BENCHMARK(BM_GifSmooth)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(30);
BENCHMARK(BM_GifNoisy)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(30);
BENCHMARK(BM_GifInterlaced)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(30);
BENCHMARK_MAIN();
