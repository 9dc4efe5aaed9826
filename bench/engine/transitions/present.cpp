// Transitions as the user sees them: each effect presented through a window the way the saver window
// presents its framebuffer (marks merged and handed to the window system once per frame, the paint
// event drawing from the framebuffer), with the steps run as the saver runs them, from the idle
// handler whenever the event queue runs empty. Run it in an X server: tools/bench starts Xvfb at
// 1920 x 1080; --size=3840x2160 runs at that size (in a server of that size).
//
// Duration/<settings index>: the wall time from the preparation until the new picture stands whole
// on the screen, against the same transition drawn into a framebuffer that nobody presents (its own
// waits, its timing model and its arithmetic, on this machine). "ratio" is presented / reference,
// goal 1.2 (1.5 with one processor); "expected_ms" is what the effect's waits and frames alone come
// to (the same transition on a virtual clock).
// Present/<code>: frames presented per second during a 3 s transition, one effect of each time-based
// family; goal at least 45, or every frame of a schedule with fewer ("fps" and "goal_min").

#include <benchmark/benchmark.h>
#include <sched.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QEventLoop>
#include <QPaintEvent>
#include <QWidget>

#include "bench/BenchHost.h"
#include "engine/saver/FramePresenter.h"
#include "engine/transitions/EffectTable.h"
#include "engine/transitions/Transition.h"
#include "framework/Forms.h"
#include "platform/system/Clock.h"
#include "platform/system/Random.h"

namespace lumora {
namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point t0) {
    return std::chrono::duration<double>(Clock::now() - t0).count();
}

// The old picture on the monitor, the new one to come, the form showing the old one.
void SetUpChange(bench::TBenchTransitionHost& host, const TBitmap& oldPic, int code) {
    host.monitors[0].Bitmap->Assign(oldPic);
    host.CoverMonitor();
    for (int y = 0; y < oldPic.Height(); ++y)
        std::copy(oldPic.Row32(y), oldPic.Row32(y) + oldPic.Width(), host.form.Row32(y));
    host.engine.SetEffectCode(static_cast<uint8_t>(code));
    RandSeed(1);
    host.engine.PrepareTransition();
}

// The transition drawn into a framebuffer nobody presents, stepped as fast as it lets itself.
class TUnpresented : public bench::TBenchTransitionHost {
public:
    TUnpresented(int w, int h, const TBitmap& oldPic, const TBitmap& newPic)
        : TBenchTransitionHost(w, h, EffectCount), oldPic_(oldPic) {
        picture->Assign(newPic);
    }
    // Milliseconds from the preparation to the end on the clock installed now.
    uint32_t Run(int code) {
        SetUpChange(*this, oldPic_, code);
        const uint32_t t0 = timeGetTime();
        while (!ended) {
            bool done = true;
            engine.TransitionStep(done);
        }
        return timeGetTime() - t0;
    }

private:
    const TBitmap& oldPic_;
};

// One monitor filling the window; the transition engine draws into the window's framebuffer.
class TPresentWindow : public QWidget, public bench::TBenchTransitionHost {
public:
    TPresentWindow(int w, int h, const TBitmap& oldPic, const TBitmap& newPic)
        : TBenchTransitionHost(w, h, EffectCount), oldPic_(oldPic) {
        setAttribute(Qt::WA_OpaquePaintEvent);
        setAttribute(Qt::WA_NoSystemBackground);
        setWindowFlags(Qt::Window | Qt::FramelessWindowHint | Qt::X11BypassWindowManagerHint);
        setGeometry(0, 0, w, h);
        picture->Assign(newPic);
    }

    // Runs the effect as the saver does; returns the seconds until the new picture has been painted
    // whole, and the frames painted per second on the way.
    std::pair<double, double> Run(int code) {
        SetUpChange(*this, oldPic_, code);
        update();
        QApplication::processEvents();
        paints_ = 0;
        finalPresented_ = false;
        const Clock::time_point t0 = Clock::now();
        Application().OnIdle = [this](bool& done) { engine.TransitionStep(done); };
        loop_.exec();
        const double seconds = Seconds(t0);
        return {seconds, seconds > 0 ? paints_ / seconds : 0};
    }

    void InvalidateFormRect(const TRect& r) override {
        presenter_.Mark(IntersectRect(r, TRect{0, 0, width(), height()}));
    }
    void EndTransition() override {
        ended = true;
        Application().OnIdle = nullptr;
        engine.DrawPicture();
        presenter_.Present(); // as the saver window hands over the last frame
        if (!finalPresented_) {
            // The last frames already showed the picture whole: nothing more is owed once what
            // was handed over before has been painted.
            QCoreApplication::sendPostedEvents(this, QEvent::UpdateRequest);
            loop_.quit();
        }
    }

protected:
    void paintEvent(QPaintEvent* event) override {
        PaintFramebuffer(*this, event->region(), form, 0);
        ++paints_;
        if (finalPresented_) loop_.quit();
    }

private:
    const TBitmap& oldPic_;
    QEventLoop loop_;
    int paints_ = 0;
    bool finalPresented_ = false; // the frame with the whole new picture has been handed over
    TFramePresenter presenter_{[this](const TRect& r) {
        update(QRect(r.Left, r.Top, r.Width(), r.Height()));
        if (ended) finalPresented_ = true;
    }};
};

struct TBench {
    int w = 1920, h = 1080;
    TBitmap oldPic, newPic;
    TPresentWindow* window = nullptr;
    TUnpresented* unpresented = nullptr;
    double goal = 1.2;
};
TBench g;

void BM_Duration(benchmark::State& state, int index) {
    const int code = EffectCodeTable[static_cast<size_t>(index)];
    state.SetLabel(EffectTable[static_cast<size_t>(index)].Name);
    uint32_t expectedMs;
    {
        // The virtual clock also runs the timers while it lives, so it lives only for this run.
        VirtualClock virtualClock;
        SetClock(&virtualClock);
        expectedMs = g.unpresented->Run(code);
        SetClock(nullptr);
    }
    for (auto _ : state) {
        const double reference = g.unpresented->Run(code) / 1000.0;
        const double presented = g.window->Run(code).first;
        state.SetIterationTime(presented);
        state.counters["ratio"] = presented / std::max(reference, 1e-3);
        state.counters["goal"] = g.goal;
        state.counters["presented_ms"] = presented * 1000;
        state.counters["reference_ms"] = reference * 1000;
        state.counters["expected_ms"] = expectedMs;
    }
}

void BM_Present(benchmark::State& state, int code, int frames) {
    for (auto _ : state) {
        const double fps = g.window->Run(code).second;
        state.SetIterationTime(1);
        state.counters["fps"] = fps;
        // A schedule of fewer frames than that in 3 s can only show every one of them.
        state.counters["goal_min"] = std::min(45.0, (frames - 1) / 3.0);
    }
}

// Takes --size=WxH out of the arguments.
void ReadSize(int& argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "--size=", 7) != 0) continue;
        if (std::sscanf(argv[i] + 7, "%dx%d", &g.w, &g.h) != 2 || g.w <= 0 || g.h <= 0) {
            std::fprintf(stderr, "--size=WIDTHxHEIGHT\n");
            std::exit(2);
        }
        std::copy(argv + i + 1, argv + argc, argv + i);
        --argc;
        --i;
    }
}

} // namespace
} // namespace lumora

int main(int argc, char** argv) {
    using namespace lumora;
    ReadSize(argc, argv);
    QApplication app(argc, argv);
    cpu_set_t cpus;
    if (sched_getaffinity(0, sizeof cpus, &cpus) == 0 && CPU_COUNT(&cpus) == 1) g.goal = 1.5;
    bench::FillPattern(g.oldPic, g.w, g.h, 1);
    bench::FillPattern(g.newPic, g.w, g.h, 2);
    TPresentWindow window(g.w, g.h, g.oldPic, g.newPic);
    TUnpresented unpresented(g.w, g.h, g.oldPic, g.newPic);
    window.show();
    QApplication::processEvents();
    g.window = &window;
    g.unpresented = &unpresented;
    // The idle handler runs whenever the event queue runs empty, as in the saver.
    QObject::connect(QAbstractEventDispatcher::instance(), &QAbstractEventDispatcher::aboutToBlock,
                     [] { Application().DoIdle(); });
    for (int i = 0; i < EffectCount; ++i)
        benchmark::RegisterBenchmark(("Duration/" + std::to_string(i)).c_str(), BM_Duration, i)
            ->UseManualTime()
            ->Unit(benchmark::kMillisecond)
            ->Iterations(1);
    // One effect of each time-based family (blend, channel blend, block blend, poster blend, light,
    // noise lines, mosaic, split, split RGB, rotation, spray, colour noise, fisheye, twist, wave,
    // convert, turn, split turn, stretch, scroll, banded scroll, wipe) with the frames of its schedule.
    const std::pair<int, int> fpsCodes[] = {{0, 256},  {39, 256}, {68, 512}, {80, 512}, {21, 512}, {22, 24},
                                            {23, 32},  {24, 32},  {51, 32},  {25, 360}, {26, 32},  {49, 32},
                                            {52, 32},  {53, 32},  {63, 768}, {72, 320}, {66, 128}, {67, 512},
                                            {27, g.h}, {29, g.w}, {31, g.h}, {54, g.h}, {2, g.w}};
    for (auto [code, frames] : fpsCodes)
        benchmark::RegisterBenchmark(("Present/" + std::to_string(code)).c_str(), BM_Present, code, frames)
            ->UseManualTime()
            ->Iterations(1);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
