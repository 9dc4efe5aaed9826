// Frames presented per second during a 3 s transition at 1920 x 1080, one effect of each time-based
// family, in a real window: the window presents its framebuffer the way the saver window does
// (each frame marks its area, the paint event draws that part of the framebuffer), and the steps
// run between drained event queues on the real clock, as the idle handler does. Goal: at least 45
// frames per second, or every frame of a schedule with fewer. Run it in an X server (tools/bench starts Xvfb at 1920 x 1080); the "fps"
// counter is the figure, "goal_min" its goal.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <QApplication>
#include <QPaintEvent>
#include <QPainter>
#include <QWidget>

#include "bench/BenchHost.h"
#include "engine/transitions/Transition.h"
#include "platform/system/Random.h"

namespace lumora {
namespace {

constexpr int W = 1920, H = 1080;

// One monitor filling the window; the transition engine draws into the window's framebuffer.
class TPresentWindow : public QWidget, public bench::TBenchTransitionHost {
public:
    TPresentWindow() : TBenchTransitionHost(W, H, 88) {
        setAttribute(Qt::WA_OpaquePaintEvent);
        setAttribute(Qt::WA_NoSystemBackground);
        resize(W, H);
        bench::FillPattern(oldPic_, W, H, 1);
        bench::FillPattern(*picture, W, H, 2);
    }

    // Runs the effect from the old picture to the new one; returns frames presented per second.
    double Run(int code) {
        monitors[0].Bitmap->Assign(oldPic_);
        CoverMonitor();
        engine.SetEffectCode(static_cast<uint8_t>(code));
        engine.PrepareTransition();
        QApplication::processEvents();
        paints_ = 0;
        auto t0 = std::chrono::steady_clock::now();
        while (!ended) {
            QApplication::processEvents();
            bool done = true;
            engine.TransitionStep(done);
        }
        QApplication::processEvents();
        double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        return seconds > 0 ? paints_ / seconds : 0;
    }

    void InvalidateFormRect(const TRect& r) override { update(QRect(r.Left, r.Top, r.Width(), r.Height())); }
    void EndTransition() override {
        ended = true;
        engine.DrawPicture();
    }

protected:
    void paintEvent(QPaintEvent* event) override {
        QPainter painter(this);
        QImage image = form.AsQImage();
        for (const QRect& r : event->region()) painter.drawImage(r.topLeft(), image, r);
        ++paints_;
    }

private:
    TBitmap oldPic_;
    int paints_ = 0;
};

TPresentWindow* g_window = nullptr;

// One effect of each time-based family (blend, channel blend, block blend, poster blend, light,
// noise lines, mosaic, split, split RGB, rotation, spray, colour noise, fisheye, twist, wave,
// convert, turn, split turn, stretch, scroll, banded scroll, wipe) with the frames of its schedule.
const std::pair<int, int> kCodes[] = {{0, 256}, {39, 256}, {68, 512}, {80, 512}, {21, 512}, {22, 24},
                                      {23, 32},  {24, 32},  {51, 32},  {25, 360}, {26, 32},  {49, 32},
                                      {52, 32},  {53, 32},  {63, 768}, {72, 320}, {66, 128}, {67, 512},
                                      {27, H},   {29, W},   {31, H},   {54, H},   {2, W}};

void BM_Present(benchmark::State& state, int code, int frames) {
    RandSeed(1);
    for (auto _ : state) {
        double fps = g_window->Run(code);
        state.SetIterationTime(1);
        state.counters["fps"] = fps;
        // A schedule of fewer frames than that in 3 s can only show every one of them.
        state.counters["goal_min"] = std::min(45.0, (frames - 1) / 3.0);
    }
}

} // namespace
} // namespace lumora

int main(int argc, char** argv) {
    using namespace lumora;
    QApplication app(argc, argv);
    TPresentWindow window;
    window.show();
    QApplication::processEvents();
    g_window = &window;
    for (auto [code, frames] : kCodes)
        benchmark::RegisterBenchmark(("Present/" + std::to_string(code)).c_str(), BM_Present, code, frames)
            ->UseManualTime()
            ->Iterations(1);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
