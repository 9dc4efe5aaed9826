#pragma once
// A stand-in for the saver window that runs the transition engine on a plain framebuffer.

#include <cstdint>
#include <vector>

#include "engine/transitions/Transition.h"
#include "framework/Graphics.h"

namespace lumora::testing {

// A picture whose every pixel differs from its neighbours (byte 3 zero).
inline void Pattern(TBitmap& b, int w, int h, int seed = 0) {
    b.SetPixelFormat(TPixelFormat::pf32bit);
    b.SetSize(w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            b.Row32(y)[x] = uint32_t((x * 37 + y * 11 + seed) & 0xFF) | (uint32_t((x * 5 + y * 29 + seed * 3) & 0xFF) << 8) |
                            (uint32_t(((x ^ y) * 3 + seed * 7) & 0xFF) << 16);
}

class TFakeHost : public ITransitionHost {
public:
    TFakeHost(int formW, int formH) : Form(formW, formH, TPixelFormat::pf32bit) {
        Mons.resize(1);
        Mons[0].Width = formW;
        Mons[0].Height = formH;
        Picture.SetPixelFormat(TPixelFormat::pf32bit);
        FillForm(Canary);
    }

    static constexpr uint32_t Canary = 0x00ABCDEF;
    TBitmap Form;
    std::vector<TMonitorRec> Mons;
    int Current = 0;
    TBitmap Picture;
    TBoundsRec NewRect;
    TColor Bg = 0x00204060; // pixel 0x00604020
    int Speed = 5;
    bool PosRnd = false, Preview = false, NoPics = false;
    int LogoH = 0, LogoMon = 0, Enabled = 88;
    TRect Logo{};
    int Ends = 0, HideLogos = 0, Captions = 0, DrawPictures = 0;
    bool DirtyOutsideForm = false;
    TBitmap BeforeEnd; // the form as the last frame left it
    TTransitionEngine Engine{*this};

    void FillForm(uint32_t p) {
        for (int y = 0; y < Form.Height(); ++y)
            for (int x = 0; x < Form.Width(); ++x) Form.Row32(y)[x] = p;
    }
    uint32_t BgPixel() const { return SwapRB(Bg); }
    // The old picture shown on the current monitor at (x, y).
    void SetOld(int w, int h, int x, int y, int seed = 1) {
        TMonitorRec& m = Mons[static_cast<size_t>(Current)];
        Pattern(*m.Bitmap, w, h, seed);
        if (w == 0 || h == 0) m.Bitmap->SetSize(0, 0);
        m.X = x, m.Y = y, m.W = w, m.H = h;
        // The screen shows it, as the previous transition left it.
        for (int yy = 0; yy < h; ++yy)
            for (int xx = 0; xx < w; ++xx)
                if (x + xx >= 0 && y + yy >= 0 && x + xx < Form.Width() && y + yy < Form.Height())
                    Form.Row32(y + yy)[x + xx] = m.Bitmap->Row32(yy)[xx];
    }
    void SetNew(int w, int h, int seed = 2) {
        Pattern(Picture, w, h, seed);
        if (w == 0 || h == 0) Picture.SetSize(0, 0);
    }

    TBitmap& FormBitmap() override { return Form; }
    void InvalidateFormRect(const TRect& r) override {
        if (r.Left < 0 || r.Top < 0 || r.Right > Form.Width() || r.Bottom > Form.Height() || r.IsEmpty())
            DirtyOutsideForm = true;
    }
    TColor BackGround() override { return Bg; }
    int ChgSpeed() override { return Speed; }
    bool PosRandom() override { return PosRnd; }
    bool IsPreview() override { return Preview; }
    int LogoHeight() override { return LogoH; }
    TRect LogoRect() override { return Logo; }
    int LogoMonitor() override { return LogoMon; }
    void HideLogo() override { ++HideLogos; }
    std::vector<TMonitorRec>& Monitors() override { return Mons; }
    int CurrentMonitor() override { return Current; }
    TBitmap& CurrentPicture() override { return Picture; }
    TBoundsRec& NewPictureRect() override { return NewRect; }
    void DrawCaption() override { ++Captions; }
    void DrawPicture() override {
        ++DrawPictures;
        Engine.DrawPicture();
    }
    void EndTransition() override {
        ++Ends;
        BeforeEnd.Assign(Form);
        Engine.DrawPicture();
    }
    bool NoPictures() override { return NoPics; }
    int EnabledEffectCount() override { return Enabled; }
};

} // namespace lumora::testing
