#include "engine/saver/SaverOverlays.h"

#include <algorithm>
#include <cmath>
#include <map>

#include "engine/Common.h"
#include "engine/saver/SaverWindow.h"
#include "framework/SysUtils.h"
#include "platform/system/Random.h"

namespace lumora {

namespace {
constexpr TColor kNavy = clNavy;

// The overlays of each live window (main thread only).
std::map<const TDesktopWindow*, TSaverOverlays*>& AllOverlays() {
    static std::map<const TDesktopWindow*, TSaverOverlays*> overlays;
    return overlays;
}
} // namespace

TSaverOverlays* TSaverOverlays::Find(const TDesktopWindow& window) {
    auto it = AllOverlays().find(&window);
    return it == AllOverlays().end() ? nullptr : it->second;
}

TSaverOverlays& TSaverOverlays::Of(TDesktopWindow& window) {
    if (TSaverOverlays* found = Find(window)) return *found;
    return *new TSaverOverlays(window);
}

TSaverOverlays::~TSaverOverlays() {
    AllOverlays().erase(&window_);
}

TSaverOverlays::TSaverOverlays(TDesktopWindow& window) : QObject(&window), window_(window) {
    AllOverlays()[&window] = this;
    // The ticker: aqua bold text on navy, scrolling right to left.
    ScrollingText2 = new TScrollingText(&window);
    ScrollingText2->resize(kTickerW, kTickerH);
    ScrollingText2->SetBackgroundColor(clNavy);
    ScrollingText2->Font.Name = "IPAPGothic";
    ScrollingText2->Font.Color = clAqua;
    ScrollingText2->Font.Style = fsBold;
    ScrollingText2->Font.SetHeight(-11);
    ScrollingText2->SetSpeed(70);
    ScrollingText2->SetTextDirection(TTextDirection::tdRightToLeft);
    ScrollingText2->SetText("");
    ScrollingText2->FontChanged();
    ScrollingText2->Loaded();
    ScrollingText2->SetVisible(false);
    // The scope paints nothing itself; its pictures are copied onto the logo.
    MidiScope1 = new TMidiScope(&window);
    MidiScope1->setVisible(false);
    // A child without mouse tracking keeps the moves over it to itself; these two track the mouse
    // and, handling no moves, pass them on, so a move over the logo ends the saver as anywhere.
    ScrollingText2->setMouseTracking(true);
    MidiScope1->setMouseTracking(true);
}

bool TSaverOverlays::SpectrumOn() const {
    const TRegData& s = window_.Settings();
    return s.DispTitle && !window_.IsPreview() && s.LogoSpectrum && s.UseSound;
}

void TSaverOverlays::CopyToForm(const TBitmap& bmp, int x, int y) {
    TBitmap& form = window_.FormBitmap();
    TRect r = IntersectRect(TRect{x, y, x + bmp.Width(), y + bmp.Height()},
                            TRect{0, 0, form.Width(), form.Height()});
    if (r.IsEmpty()) return;
    for (int row = r.Top; row < r.Bottom; ++row) {
        const uint32_t* src = bmp.Row32(row - y) + (r.Left - x);
        std::copy(src, src + r.Width(), form.Row32(row) + r.Left);
    }
    window_.InvalidateFormRect(r);
}

void TSaverOverlays::FillForm(const TRect& rect, TColor color) {
    TBitmap& form = window_.FormBitmap();
    TRect r = IntersectRect(rect, TRect{0, 0, form.Width(), form.Height()});
    if (r.IsEmpty()) return;
    uint32_t px = ColorToPixel(color);
    for (int row = r.Top; row < r.Bottom; ++row)
        std::fill(form.Row32(row) + r.Left, form.Row32(row) + r.Right, px);
    window_.InvalidateFormRect(r);
}

// ---- the logo ----

void TSaverOverlays::PlaceLogo() {
    std::vector<TMonitorRec>& monitors = window_.Monitors();
    int index = window_.LogoMonitor();
    if (index < 0 || index >= static_cast<int>(monitors.size())) return;
    const TMonitorRec& m = monitors[static_cast<size_t>(index)];
    const int w = window_.Logo().Width(), h = window_.Logo().Height();
    int mode = window_.Settings().LogoImgPos;
    // Positions other than the five listed stand for the first one.
    if (mode < 0 || mode > 4) mode = 0;
    const int centred = m.Left + (m.Width - w) / 2;
    const int top = m.Top, bottom = m.Top + m.Height - h;
    // A logo too wide for the margins on both sides has no random range: it stands centred.
    const int range = m.Width - w - 2 * kLogoMargin;
    int left = centred, y = bottom;
    switch (mode) {
    case 0:
        break;
    case 1:
        y = top;
        break;
    case 2:
        left = range > 0 ? m.Left + kLogoMargin + Random(range) : centred;
        break;
    case 3:
        y = top;
        left = range > 0 ? m.Left + kLogoMargin + Random(range) : centred;
        break;
    case 4: {
        int corner = Random(4);
        y = corner == 0 || corner == 2 ? top : bottom;
        if (range > 0) left = corner < 2 ? m.Left + kLogoMargin : m.Left + m.Width - w - kLogoMargin;
        break;
    }
    }
    TRect next{left, y, left + w, y + h};
    TRect& current = window_.LogoRectOnForm;
    if (next == current) {
        if (!window_.LogoVisible) ShowLogo();
        return;
    }
    if (window_.LogoVisible) HideLogo();
    current = next;
    ShowLogo();
}

void TSaverOverlays::ShowLogo() {
    const TRegData& s = window_.Settings();
    TBitmap& logo = window_.Logo();
    if (!s.DispTitle || window_.IsPreview() || logo.Width() <= 0 || logo.Height() <= 0) return;
    logo.SetPixelFormat(TPixelFormat::pf32bit);
    const TRect& r = window_.LogoRectOnForm;
    if (s.UseTitle && !s.TitleTrans) {
        CopyToForm(logo, r.Left, r.Top);
    } else {
        // The bottom-left pixel's colour lets the picture below show through.
        TBitmap& form = window_.FormBitmap();
        const uint32_t key = logo.Row32(logo.Height() - 1)[0];
        TRect clip = IntersectRect(TRect{r.Left, r.Top, r.Left + logo.Width(), r.Top + logo.Height()},
                                   TRect{0, 0, form.Width(), form.Height()});
        for (int row = clip.Top; row < clip.Bottom; ++row) {
            const uint32_t* src = logo.Row32(row - r.Top);
            uint32_t* dst = form.Row32(row);
            for (int x = clip.Left; x < clip.Right; ++x)
                if (src[x - r.Left] != key) dst[x] = src[x - r.Left];
        }
        if (!clip.IsEmpty()) window_.InvalidateFormRect(clip);
    }
    if (s.LogoSpectrum && s.UseSound) {
        MidiScope1->move(r.Left + kScopeX, r.Top + kScopeY);
        MidiScope1->setVisible(true);
        ScrollingText2->move(r.Left + kTickerX, r.Top + kTickerY);
        ScrollingText2->SetVisible(true);
        ScrollingText2->raise();
    }
    window_.LogoVisible = true;
}

void TSaverOverlays::HideLogo() {
    const TRegData& s = window_.Settings();
    if (s.LogoSpectrum && s.UseSound) {
        MidiScope1->setVisible(false);
        ScrollingText2->SetVisible(false);
    }
    // Under the logo lies the last picture of the logo's own monitor, whichever monitor the change
    // that moves it ran on.
    window_.Engine().RestoreArea(window_.LogoRectOnForm, window_.LogoMonitor());
    window_.LogoVisible = false;
}

void TSaverOverlays::ShowProgress(int p) {
    // The bar belongs to the logo: before the logo stands (or while it is hidden) there is nowhere
    // to draw it.
    if (!SpectrumOn() || !window_.LogoVisible) return;
    const TRect& r = window_.LogoRectOnForm;
    const int x = r.Left + kProgressX, y = r.Top + kProgressY;
    FillForm(TRect{x, y, x + kProgressW, y + kProgressH}, kNavy);
    // The bar holds 18 pixels; a position past the end (a length that grew) stays within it.
    p = std::clamp(p, 0, kProgressW);
    if (p > 0) FillForm(TRect{x, y, x + p, y + kProgressH}, clRed);
}

// ---- the spectrum ----

void TSaverOverlays::CreateBasicImage() {
    for (TBitmap* b : {&basic_, &spectrum_}) {
        b->SetPixelFormat(TPixelFormat::pf32bit);
        b->SetSize(kSpectrumW, kSpectrumH);
    }
    const uint32_t navy = ColorToPixel(kNavy);
    for (int row = 0; row < kSpectrumH; ++row)
        std::fill(basic_.Row32(row), basic_.Row32(row) + kSpectrumW, navy);
    spectrum_.Assign(basic_);
    bar_.SetPixelFormat(TPixelFormat::pf32bit);
    bar_.SetSize(3, kBarHeight);
    // Red at the top turning yellow, then yellow fading towards yellow-green below the middle.
    int red = 255, green = 0;
    for (int row = 0; row < kBarHeight; ++row) {
        if (row > 12)
            red = std::max(0, red - 10);
        else
            green = std::min(255, green + 32);
        uint32_t px = ColorToPixel(RGB(static_cast<uint8_t>(red), static_cast<uint8_t>(green), 0));
        std::fill(bar_.Row32(row), bar_.Row32(row) + 3, px);
    }
    peak_.fill(0);
    hold_.fill(0);
}

void TSaverOverlays::ShowBackground() {
    if (!SpectrumOn() || !window_.LogoVisible || basic_.Width() == 0) return;
    CopyToForm(basic_, window_.LogoRectOnForm.Left + kSpectrumX, window_.LogoRectOnForm.Top + kSpectrumY);
}

void TSaverOverlays::DisplayFFTBand(const TBandOut& bands, uint32_t position, uint32_t length) {
    if (!SpectrumOn() || !window_.LogoVisible) return;
    if (basic_.Width() == 0) CreateBasicImage();
    spectrum_.Assign(basic_);
    const uint32_t silver = ColorToPixel(clSilver);
    for (int i = 0; i < 25; ++i) {
        const int level = std::min<int>(bands[static_cast<size_t>(i)], kBarHeight);
        const int x = i * 4 + 2;
        for (int row = kBarHeight - level; row < kBarHeight; ++row)
            std::copy(bar_.Row32(row), bar_.Row32(row) + 3, spectrum_.Row32(row) + x);
        // The peak mark stays for a while above a falling level, then drops ever faster.
        double& peak = peak_[static_cast<size_t>(i)];
        int& hold = hold_[static_cast<size_t>(i)];
        const int top = static_cast<int>(std::trunc(peak));
        if (level >= top) {
            peak = level + 0.01;
            hold = 0;
        } else if (top > 0) {
            std::fill(spectrum_.Row32(kBarHeight - top) + x, spectrum_.Row32(kBarHeight - top) + x + 3,
                      silver);
            if (hold >= 8) peak -= (hold - 8) * 0.3;
            if (peak < 0)
                peak = 0;
            else
                ++hold;
        }
    }
    CopyToForm(spectrum_, window_.LogoRectOnForm.Left + kSpectrumX, window_.LogoRectOnForm.Top + kSpectrumY);
    if (length > 0) ShowProgress(static_cast<int>(uint64_t(position) * kProgressW / length));
}

void TSaverOverlays::MidiScope1MIDIVisTData(TBitmap& bmp, int playTimeMs, int songLengthMs, int trackCount) {
    if (!SpectrumOn()) return;
    if (window_.LogoVisible)
        CopyToForm(bmp, window_.LogoRectOnForm.Left + kSpectrumX, window_.LogoRectOnForm.Top + kSpectrumY);
    // A song of no length has no progress to show.
    if (songLengthMs > 0 && playTimeMs <= songLengthMs && trackCount > 0 && MidiScope1->Visible())
        ShowProgress(static_cast<int>(int64_t(playTimeMs) * kProgressW / songLengthMs));
}

// ---- the caption ----

void TSaverOverlays::DrawCaption(TBitmap& picture) {
    const TRegData& s = window_.Settings();
    if (s.Folder.empty() || window_.IsPreview() || s.CapDisp <= 0) return;
    if (picture.Width() <= 0 || picture.Height() <= 0) return;
    std::string path;
    window_.FileManager().CurrentCaption(path);
    if (path.empty()) return;
    const std::string text = FileNameUtf8(path);
    TCanvas& c = picture.Canvas();
    c.Font.Assign(s.CapFont);
    TPoint extent = c.TextExtent(text);
    const int tw = extent.X + 2, th = extent.Y + 2;
    c.Brush.Style = TBrushStyle::bsClear;
    // The outline is the background colour, or its inverse where the text has that colour itself.
    TColor background = window_.BackGround();
    TColor outline =
        ColorToRGB(background) == ColorToRGB(c.Font.Color) ? (ColorToRGB(background) ^ 0xFFFFFF) : background;
    const int x = std::max(0, (picture.Width() - tw) / 2);
    const int y = s.CapDisp == 2 ? picture.Height() - th : 0;
    const TColor fontColor = c.Font.Color;
    c.Font.Color = outline;
    static constexpr int kRing[8][2] = {{0, 0}, {1, 0}, {2, 0}, {0, 1}, {2, 1}, {0, 2}, {1, 2}, {2, 2}};
    for (const auto& d : kRing)
        c.TextOut(x + d[0], y + d[1], text);
    c.Font.Color = fontColor;
    c.TextOut(x + 1, y + 1, text);
    c.Brush.Style = TBrushStyle::bsSolid;
}

} // namespace lumora
