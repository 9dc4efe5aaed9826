// From the picture tick to the first transition frame for a 24-megapixel JPEG (6000 x 4000),
// against decoding the same file with djpeg, measured in the same run. Our side runs the reading
// thread as the saver does (decode, fitted to a 1920 x 1080 monitor as the rows arrive, hand-over
// through Synchronize), then prepares the cross-fade and draws its first frame on a
// 1920 x 1080 framebuffer. The two sides take turns; the ratio is of the medians. The same photograph
// stored on its side, as phone cameras write it (EXIF orientation 6), is fitted upright as a portrait;
// its ratio is to stay within 5 % of the upright photograph's.

#include <QApplication>

#include <benchmark/benchmark.h>
#include <jpeglib.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "bench/BenchHost.h"
#include "engine/saver/PictureReader.h"
#include "engine/saver/PictureFormats.h"
#include "engine/transitions/Transition.h"
#include "platform/system/Clock.h"
#include "platform/Platform.h"

extern char** environ;

namespace lumora {
namespace {

constexpr int kPhotoW = 6000, kPhotoH = 4000, kFormW = 1920, kFormH = 1080;

// The APP1 payload of an EXIF block whose IFD0 holds only the orientation.
std::vector<JOCTET> ExifOrientationBlock(int orientation) {
    std::vector<JOCTET> b = {'E', 'x', 'i', 'f', 0, 0, 'I', 'I', 42, 0, 8, 0, 0, 0, // header, IFD0 at 8
                             1, 0, 0x12, 0x01, 3, 0, 1, 0, 0, 0,                      // one SHORT: 0x0112
                             static_cast<JOCTET>(orientation), 0, 0, 0, 0, 0, 0, 0};  // its value; no next IFD
    return b;
}

// A photograph-like picture (smooth gradients with fine noise) written as a baseline JPEG at
// quality 90 with the usual 2 x 2 colour subsampling; other than upright, it carries its orientation.
bool WriteTestJpeg(const std::string& path, int orientation) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    jpeg_compress_struct info;
    jpeg_error_mgr err;
    info.err = jpeg_std_error(&err);
    jpeg_create_compress(&info);
    jpeg_stdio_dest(&info, f);
    info.image_width = kPhotoW;
    info.image_height = kPhotoH;
    info.input_components = 3;
    info.in_color_space = JCS_RGB;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, 90, TRUE);
    jpeg_start_compress(&info, TRUE);
    if (orientation != 1) {
        const std::vector<JOCTET> exif = ExifOrientationBlock(orientation);
        jpeg_write_marker(&info, JPEG_APP0 + 1, exif.data(), static_cast<unsigned>(exif.size()));
    }
    std::mt19937 rng(7);
    std::vector<unsigned char> row(size_t(kPhotoW) * 3);
    while (info.next_scanline < info.image_height) {
        int y = static_cast<int>(info.next_scanline);
        for (int x = 0; x < kPhotoW; ++x) {
            int n = static_cast<int>(rng() & 15);
            row[size_t(x) * 3] = static_cast<unsigned char>((x * 255 / kPhotoW + n) & 0xFF);
            row[size_t(x) * 3 + 1] = static_cast<unsigned char>((y * 255 / kPhotoH + n) & 0xFF);
            row[size_t(x) * 3 + 2] = static_cast<unsigned char>(((x + y) / 40 + n) & 0xFF);
        }
        JSAMPROW rows[1] = {row.data()};
        jpeg_write_scanlines(&info, rows, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    std::fclose(f);
    return true;
}

// The saver window as far as the transition engine sees it: one 1920 x 1080 monitor showing an old
// picture, the cross-fade of the first change.
class TFirstFrameHost : public bench::TBenchTransitionHost {
public:
    TFirstFrameHost() : TBenchTransitionHost(kFormW, kFormH, 1) {}
    void Reset() {
        TBitmap& old = *monitors[0].Bitmap;
        old.SetPixelFormat(TPixelFormat::pf32bit);
        old.SetSize(kFormW, kFormH);
        for (int y = 0; y < kFormH; ++y)
            for (int x = 0; x < kFormW; ++x) old.Row32(y)[x] = uint32_t(x ^ y) & 0x00FFFFFF;
        CoverMonitor();
        picture = std::make_unique<TBitmap>();
    }
};

// Times of each side, per photograph.
struct TPhoto {
    std::string path;
    std::vector<double> ours, djpeg;
};
TPhoto g_upright, g_onItsSide;

double Seconds(std::chrono::steady_clock::time_point t0) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

// The tick: the reading thread decodes and fits the picture and hands it over; the main thread
// prepares the transition and draws its first frame.
double OurFirstFrame(TFirstFrameHost& host, VirtualClock& clock, const std::string& jpeg) {
    host.Reset();
    auto t0 = std::chrono::steady_clock::now();
    TImgRead reader(true);
    reader.FileName = jpeg;
    reader.Size.TargetWidth = kFormW;
    reader.Size.TargetHeight = kFormH;
    reader.Size.SizeMode = 1;
    reader.Size.SizeLimitX = kFormW;
    reader.Size.SizeLimitY = kFormH;
    reader.Size.Smooth = true;
    reader.OnHandOver = [&](std::unique_ptr<TBitmap> bmp) { host.picture = std::move(bmp); };
    reader.Start();
    reader.WaitFor();
    host.engine.SetEffectCode(0);
    host.engine.PrepareTransition();
    clock.Advance(20);
    bool done = true;
    host.engine.TransitionStep(done);
    double s = Seconds(t0);
    benchmark::DoNotOptimize(host.form.Row32(0));
    return s;
}

double DjpegDecode(const std::string& jpeg) {
    std::vector<std::string> args{"djpeg", "-outfile", "/dev/null", jpeg};
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    auto t0 = std::chrono::steady_clock::now();
    pid_t pid;
    if (posix_spawnp(&pid, "djpeg", nullptr, nullptr, argv.data(), environ) != 0) return -1;
    int status = 0;
    waitpid(pid, &status, 0);
    double s = Seconds(t0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? s : -1;
}

double Median(std::vector<double> v) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

void FirstFrame(benchmark::State& state, TPhoto& photo) {
    static TFirstFrameHost* host = new TFirstFrameHost();
    VirtualClock clock(1000);
    SetClock(&clock);
    int turn = 0;
    for (auto _ : state) {
        double ours, ref;
        if (turn++ % 2 == 0) {
            ours = OurFirstFrame(*host, clock, photo.path);
            ref = DjpegDecode(photo.path);
        } else {
            ref = DjpegDecode(photo.path);
            ours = OurFirstFrame(*host, clock, photo.path);
        }
        if (ref < 0) {
            state.SkipWithError("djpeg did not run (package libjpeg-turbo-progs)");
            break;
        }
        state.SetIterationTime(ours);
        photo.ours.push_back(ours);
        photo.djpeg.push_back(ref);
    }
    SetClock(nullptr);
    if (!photo.ours.empty()) {
        state.counters["ours_ms"] = Median(photo.ours) * 1e3;
        state.counters["djpeg_ms"] = Median(photo.djpeg) * 1e3;
        state.counters["ratio"] = Median(photo.ours) / Median(photo.djpeg);
    }
}

void BM_FirstFrame24MP(benchmark::State& state) { FirstFrame(state, g_upright); }
void BM_FirstFrame24MPOnItsSide(benchmark::State& state) { FirstFrame(state, g_onItsSide); }
BENCHMARK(BM_FirstFrame24MP)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(8);
BENCHMARK(BM_FirstFrame24MPOnItsSide)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(8);

} // namespace
} // namespace lumora

int main(int argc, char** argv) {
    using namespace lumora;
    if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    InstallPlatform();
    RegisterPictureFormats();
    char dir[] = "/tmp/lumora-first-frame-XXXXXX";
    if (!mkdtemp(dir)) return 1;
    g_upright.path = std::string(dir) + "/photo.jpg";
    g_onItsSide.path = std::string(dir) + "/on-its-side.jpg";
    if (!WriteTestJpeg(g_upright.path, 1) || !WriteTestJpeg(g_onItsSide.path, 6)) return 1;
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    for (const TPhoto* photo : {&g_upright, &g_onItsSide}) {
        if (!photo->ours.empty())
            std::printf("\n%s: tick to first frame %.1f ms, djpeg %.1f ms (medians of %zu): ratio %.2f (goal 1.3)\n",
                        photo == &g_upright ? "Upright" : "On its side", Median(photo->ours) * 1e3,
                        Median(photo->djpeg) * 1e3, photo->ours.size(), Median(photo->ours) / Median(photo->djpeg));
        std::remove(photo->path.c_str());
    }
    // Standing a photograph upright costs next to nothing beside its decoding.
    if (!g_upright.ours.empty() && !g_onItsSide.ours.empty())
        std::printf("On its side against upright: %.2f (goal 1.05)\n",
                    (Median(g_onItsSide.ours) / Median(g_onItsSide.djpeg)) /
                        (Median(g_upright.ours) / Median(g_upright.djpeg)));
    rmdir(dir);
    return 0;
}
