#pragma once
// The saver window as far as the transition engine sees it, for the benchmarks: one monitor
// filling the form, nothing else on screen.

#include <memory>
#include <vector>

#include "engine/transitions/Transition.h"

namespace lumora::bench {

// A 32-bit picture of smooth ramps and a coarse checker, different for each seed.
inline void FillPattern(TBitmap& b, int width, int height, int seed) {
    b.SetPixelFormat(TPixelFormat::pf32bit);
    b.SetSize(width, height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            b.Row32(y)[x] = uint32_t((x * 7 + y * 3 + seed) & 0xFF) | (uint32_t((x + y * 5 + seed) & 0xFF) << 8) |
                            (uint32_t(((x >> 2) ^ (y >> 2)) & 0xFF) << 16);
}

class TBenchTransitionHost : public ITransitionHost {
public:
    TBenchTransitionHost(int width, int height, int enabledEffects)
        : form(width, height, TPixelFormat::pf32bit), enabledEffects_(enabledEffects) {
        monitors.resize(1);
        monitors[0].Width = width;
        monitors[0].Height = height;
    }
    // The monitor's last picture covers it whole; no transition has ended yet.
    void CoverMonitor() {
        monitors[0].X = monitors[0].Y = 0;
        monitors[0].W = monitors[0].Width;
        monitors[0].H = monitors[0].Height;
        ended = false;
    }

    TBitmap form;
    std::vector<TMonitorRec> monitors;
    std::unique_ptr<TBitmap> picture = std::make_unique<TBitmap>();
    TBoundsRec newRect;
    bool ended = false;
    int speed = 5; // "ChgSpeed"
    TTransitionEngine engine{*this};

    TBitmap& FormBitmap() override { return form; }
    void InvalidateFormRect(const TRect&) override {}
    TColor BackGround() override { return clBlack; }
    int ChgSpeed() override { return speed; }
    bool PosRandom() override { return false; }
    bool IsPreview() override { return false; }
    int LogoHeight() override { return 0; }
    TRect LogoRect() override { return {}; }
    int LogoMonitor() override { return 0; }
    void HideLogo() override {}
    std::vector<TMonitorRec>& Monitors() override { return monitors; }
    int CurrentMonitor() override { return 0; }
    TBitmap& CurrentPicture() override { return *picture; }
    TBoundsRec& NewPictureRect() override { return newRect; }
    void DrawCaption() override {}
    void DrawPicture() override { engine.DrawPicture(); }
    void EndTransition() override { ended = true; }
    bool NoPictures() override { return false; }
    int EnabledEffectCount() override { return enabledEffects_; }

private:
    int enabledEffects_;
};

} // namespace lumora::bench
