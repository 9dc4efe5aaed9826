#include "engine/transitions/Transition.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "engine/transitions/Compositors.h"
#include "engine/transitions/Effects.h"
#include "platform/system/Clock.h"
#include "platform/system/Random.h"

namespace lumora {

TTransitionState::TTransitionState() : Scratch(std::make_unique<TEffectScratch>()) {}
TTransitionState::~TTransitionState() = default;

TTransitionEngine::TTransitionEngine(ITransitionHost& host) : host_(host) {}
TTransitionEngine::~TTransitionEngine() = default;

// ---- Timing ----

int TTransitionEngine::Duration(int chgSpeed) { return (std::clamp(chgSpeed, 0, 10) - 5) * 500 + 3000; }

int TTransitionEngine::FrameAt(int n, uint32_t elapsed, int duration) {
    if (n <= 0) return 0;
    if (duration <= 0) return n;
    double k = std::nearbyint(static_cast<double>(n) * static_cast<double>(elapsed) / duration);
    return k >= n ? n : static_cast<int>(k);
}

TFamily FamilyOf(int code) {
    if (code == 0 || (code >= 39 && code <= 41) || code == 68 || code == 69 || (code >= 77 && code <= 87))
        return TFamily::Blend;
    if ((code >= 1 && code <= 20) || (code >= 60 && code <= 62)) return TFamily::Reveal;
    if (code >= 27 && code <= 30) return TFamily::Stretch;
    if ((code >= 31 && code <= 38) || (code >= 54 && code <= 59)) return TFamily::Scroll;
    if ((code >= 21 && code <= 26) || (code >= 42 && code <= 53) || (code >= 63 && code <= 67) ||
        (code >= 70 && code <= 76))
        return TFamily::Pixel;
    return TFamily::None;
}

namespace {

bool Empty(const TBitmap& b) { return b.Width() <= 0 || b.Height() <= 0; }

TRect FormClient(TBitmap& form) { return TRect{0, 0, form.Width(), form.Height()}; }

void Fill(TBitmap& form, const TRect& r, uint32_t pixel) {
    TRect c = IntersectRect(r, FormClient(form));
    if (c.IsEmpty()) return;
    for (int y = c.Top; y < c.Bottom; ++y) std::fill(form.Row32(y) + c.Left, form.Row32(y) + c.Right, pixel);
}

// Fills the part of outer that lies outside inner.
void FillOutside(TBitmap& form, const TRect& outer, const TRect& inner, uint32_t pixel) {
    TRect in = IntersectRect(outer, inner);
    if (in.IsEmpty()) {
        Fill(form, outer, pixel);
        return;
    }
    Fill(form, TRect{outer.Left, outer.Top, outer.Right, in.Top}, pixel);
    Fill(form, TRect{outer.Left, in.Bottom, outer.Right, outer.Bottom}, pixel);
    Fill(form, TRect{outer.Left, in.Top, in.Left, in.Bottom}, pixel);
    Fill(form, TRect{in.Right, in.Top, outer.Right, in.Bottom}, pixel);
}

// Copies src's pixels of srcRect to the form at (x, y), clipped to both.
void Blit(TBitmap& form, int x, int y, TBitmap& src, TRect srcRect) {
    srcRect = IntersectRect(srcRect, TRect{0, 0, src.Width(), src.Height()});
    if (srcRect.IsEmpty()) return;
    TRect dst = IntersectRect(Bounds(x, y, srcRect.Width(), srcRect.Height()), FormClient(form));
    if (dst.IsEmpty()) return;
    int sx = srcRect.Left + (dst.Left - x), sy = srcRect.Top + (dst.Top - y);
    size_t bytes = static_cast<size_t>(dst.Width()) * 4;
    for (int row = 0; row < dst.Height(); ++row)
        std::memcpy(form.Row32(dst.Top + row) + dst.Left, src.Row32(sy + row) + sx, bytes);
}

// Draws r, moved by (dx, dy), from a picture standing at pic on the form: the picture's part
// copied, the rest in the background.
void CopyFromPicture(ITransitionHost& host, TBitmap& pic, const TRect& picRect, const TRect& r, int dx, int dy) {
    TBitmap& form = host.FormBitmap();
    uint32_t bg = SwapRB(host.BackGround());
    TRect moved{r.Left + dx, r.Top + dy, r.Right + dx, r.Bottom + dy};
    TRect inter = Empty(pic) ? TRect{} : IntersectRect(r, picRect);
    if (inter.IsEmpty()) {
        Fill(form, moved, bg);
    } else {
        TRect innerMoved{inter.Left + dx, inter.Top + dy, inter.Right + dx, inter.Bottom + dy};
        FillOutside(form, moved, innerMoved, bg);
        Blit(form, innerMoved.Left, innerMoved.Top, pic,
             TRect{inter.Left - picRect.Left, inter.Top - picRect.Top, inter.Right - picRect.Left,
                   inter.Bottom - picRect.Top});
    }
    TRect dirty = IntersectRect(moved, FormClient(form));
    if (!dirty.IsEmpty()) host.InvalidateFormRect(dirty);
}

TRect PictureRect(const TBoundsRec& r, const TBitmap& pic) { return Bounds(r.X, r.Y, pic.Width(), pic.Height()); }

} // namespace

// ---- Services on the form ----

void TTransitionEngine::AreaCopy(const TRect& r) { AreaCopy(r, 0, 0); }

void TTransitionEngine::AreaCopy(const TRect& r, int dx, int dy) {
    TRect cut = IntersectRect(r, MakeBoundsRect(state_.Update));
    if (cut.IsEmpty()) return;
    TBitmap& pic = host_.CurrentPicture();
    CopyFromPicture(host_, pic, PictureRect(host_.NewPictureRect(), pic), cut, dx, dy);
}

void TTransitionEngine::RestoreArea(const TRect& r) { RestoreArea(r, host_.CurrentMonitor()); }

void TTransitionEngine::RestoreArea(const TRect& r, int monitor) {
    // The logo may reach beyond the update rectangle, so the whole of r is restored (on the form).
    TRect cut = IntersectRect(r, FormClient(host_.FormBitmap()));
    if (cut.IsEmpty()) return;
    auto& monitors = host_.Monitors();
    if (monitor < 0 || monitor >= static_cast<int>(monitors.size())) return;
    TMonitorRec& mon = monitors[static_cast<size_t>(monitor)];
    CopyFromPicture(host_, *mon.Bitmap, Bounds(mon.X, mon.Y, mon.Bitmap->Width(), mon.Bitmap->Height()), cut, 0,
                    0);
}

namespace {

// Grows changed by the pixels [left, right) of row y.
void Widen(TRect& changed, int left, int right, int y) {
    const TRect row{left, y, right, y + 1};
    changed = changed.IsEmpty() ? row : UnionRect(changed, row);
}

// Fill, writing only the part of each row that differs from the pixel, and growing changed by it.
void FillChanged(TBitmap& form, const TRect& r, uint32_t pixel, TRect& changed) {
    const TRect c = IntersectRect(r, FormClient(form));
    if (c.IsEmpty()) return;
    for (int y = c.Top; y < c.Bottom; ++y) {
        uint32_t* d = form.Row32(y);
        int left = c.Left, right = c.Right;
        while (left < right && d[left] == pixel) ++left;
        while (right > left && d[right - 1] == pixel) --right;
        if (left == right) continue;
        std::fill(d + left, d + right, pixel);
        Widen(changed, left, right, y);
    }
}

void FillOutsideChanged(TBitmap& form, const TRect& outer, const TRect& inner, uint32_t pixel, TRect& changed) {
    const TRect in = IntersectRect(outer, inner);
    if (in.IsEmpty()) {
        FillChanged(form, outer, pixel, changed);
        return;
    }
    FillChanged(form, TRect{outer.Left, outer.Top, outer.Right, in.Top}, pixel, changed);
    FillChanged(form, TRect{outer.Left, in.Bottom, outer.Right, outer.Bottom}, pixel, changed);
    FillChanged(form, TRect{outer.Left, in.Top, in.Left, in.Bottom}, pixel, changed);
    FillChanged(form, TRect{in.Right, in.Top, outer.Right, in.Bottom}, pixel, changed);
}

// Blit, writing only the part of each row that differs from the picture, and growing changed by it.
void BlitChanged(TBitmap& form, int x, int y, TBitmap& src, TRect& changed) {
    const TRect srcRect{0, 0, src.Width(), src.Height()};
    const TRect dst = IntersectRect(Bounds(x, y, srcRect.Width(), srcRect.Height()), FormClient(form));
    if (dst.IsEmpty()) return;
    for (int row = dst.Top; row < dst.Bottom; ++row) {
        uint32_t* d = form.Row32(row);
        const uint32_t* s = src.Row32(row - y);
        int left = dst.Left, right = dst.Right;
        // Most rows stand as they are: a whole-row comparison finds them fastest.
        if (std::memcmp(d + left, s + (left - x), static_cast<size_t>(right - left) * 4) == 0) continue;
        while (left < right && d[left] == s[left - x]) ++left;
        while (right > left && d[right - 1] == s[right - 1 - x]) --right;
        if (left == right) continue;
        std::memcpy(d + left, s + (left - x), static_cast<size_t>(right - left) * 4);
        Widen(changed, left, right, row);
    }
}

} // namespace

void TTransitionEngine::DrawPicture() {
    TBitmap& form = host_.FormBitmap();
    TBitmap& pic = host_.CurrentPicture();
    uint32_t bg = SwapRB(host_.BackGround());
    TRect u = MakeBoundsRect(state_.Update);
    // Only what differs is marked: at the end of a change the screen already shows nearly all of
    // the picture, and repainting the whole of it would cost a frame of the full screen.
    TRect changed{};
    if (Empty(pic)) {
        FillChanged(form, u, bg, changed);
    } else {
        TRect p = PictureRect(host_.NewPictureRect(), pic);
        FillOutsideChanged(form, u, p, bg, changed);
        BlitChanged(form, p.Left, p.Top, pic, changed);
    }
    if (!changed.IsEmpty()) host_.InvalidateFormRect(changed);
}

void TTransitionEngine::MakeScanLines() {
    BitmapToLines(state_.WorkLines, *state_.Work);
    auto& monitors = host_.Monitors();
    int cur = host_.CurrentMonitor();
    if (cur >= 0 && cur < static_cast<int>(monitors.size()))
        BitmapToLines(state_.OldLines, *monitors[static_cast<size_t>(cur)].Bitmap);
    else state_.OldLines.clear();
    BitmapToLines(state_.NewLines, host_.CurrentPicture());
}

// ---- Preparation ----

void TTransitionEngine::PrepareTransition() {
    TTransitionState& s = state_;
    auto& monitors = host_.Monitors();
    int cur = host_.CurrentMonitor();
    if (monitors.empty()) return;
    if (cur < 0 || cur >= static_cast<int>(monitors.size())) cur = 0;
    TMonitorRec& mon = monitors[static_cast<size_t>(cur)];
    TBitmap& pic = host_.CurrentPicture();
    bool preview = host_.IsPreview();
    int speed = std::clamp(host_.ChgSpeed(), 0, 10);
    TColor bg = host_.BackGround();
    uint8_t code = s.EffectCode;

    if (!Empty(pic)) host_.DrawCaption();

    // Where the new picture goes: centred, or at random inside the margin when it fits.
    int m = preview ? 2 : std::min(host_.LogoHeight(), 40);
    int pw = pic.Width(), ph = pic.Height();
    TBoundsRec& np = host_.NewPictureRect();
    if (host_.PosRandom()) {
        np.X = pw < mon.Width - 2 * m ? Random(mon.Width - 2 * m - pw) + mon.Left + m : (mon.Width - pw) / 2 + mon.Left;
        np.Y = ph < mon.Height - 2 * m ? Random(mon.Height - 2 * m - ph) + mon.Top + m
                                       : (mon.Height - ph) / 2 + mon.Top;
    } else {
        np.X = (mon.Width - pw) / 2 + mon.Left;
        np.Y = (mon.Height - ph) / 2 + mon.Top;
    }
    np.W = pw;
    np.H = ph;

    // The update rectangle holds both pictures.
    TBoundsRec u;
    if (mon.W == 0 && mon.H == 0) {
        mon.X = np.X;
        mon.Y = np.Y;
        mon.W = np.W;
        mon.H = np.H;
        u = np;
    } else {
        TRect box = UnionRect(MakeBoundsRect(mon.X, mon.Y, mon.W, mon.H), MakeBoundsRect(np));
        int w = std::max(mon.W, np.W), h = std::max(mon.H, np.H);
        if (!host_.PosRandom() && mon.Width >= w && mon.Height >= h) {
            TRect centred = Bounds(mon.Left + (mon.Width - w) / 2, mon.Top + (mon.Height - h) / 2, w, h);
            // Centred pictures always lie inside this rectangle; should the old one stand elsewhere,
            // the rectangle grows to keep it covered.
            TRect all = UnionRect(centred, box);
            u = TBoundsRec{all.Left, all.Top, all.Width(), all.Height()};
        } else {
            // A rectangle larger than the monitor cannot be centred on it: the bounding box of the two
            // pictures keeps both of them covered on the right monitor.
            u = TBoundsRec{box.Left, box.Top, box.Width(), box.Height()};
        }
    }
    s.Update = u;
    TRect uRect = MakeBoundsRect(u);

    if (cur == host_.LogoMonitor() && !IntersectRect(uRect, host_.LogoRect()).IsEmpty()) host_.HideLogo();

    TBitmap& form = host_.FormBitmap();
    mon.EffectDirty = IntersectRect(uRect, FormClient(form));

    s.Work = std::make_unique<TBitmap>(0, 0, TPixelFormat::pf32bit);
    s.Work->Canvas().Brush.Color = bg;
    s.StartTime = timeGetTime();
    s.DoneCount = 0;
    s.FramesDrawn = 0;
    s.Step = 0;
    s.LastFrame = -1;
    s.Ended = false;
    s.Scratch = std::make_unique<TEffectScratch>();
    s.WorkLines.clear();
    s.OldLines.clear();
    s.NewLines.clear();

    if (host_.EnabledEffectCount() == 0) host_.DrawPicture();

    mon.LastUpdate = uRect;

    TBitmap& old = *mon.Bitmap;
    s.Scratch->OldWasEmpty = Empty(old);
    auto sizeWork = [&](int w, int h) {
        s.Work->SetSize(w, h);
        MakeScanLines();
    };
    auto composeOld = [&]() {
        ComposeOnBackground(s.WorkLines, s.Work->Width(), old, bg, mon.Y - u.Y, mon.X - u.X);
    };
    int cellsPreview = preview ? 1 : 0;
    if (code <= 87) {
        switch (code) {
        case 0: case 21: case 22: case 23: case 24: case 39: case 40: case 41: case 42: case 43: case 44:
        case 46: case 47: case 48: case 51: case 68: case 69: case 70: case 71:
        case 77: case 78: case 79: case 80: case 81: case 82: case 83: case 84: case 85: case 86: case 87:
            sizeWork(u.W, u.H);
            if (!(code >= 22 && code <= 24) && !(code >= 42 && code <= 44) && code != 51 && code != 82 && code != 83)
                composeOld();
            break;
        case 25: case 26: case 45: case 49: case 50: case 52: case 53: case 63: case 64: case 65:
            s.FrameCount = (code == 25 || code == 45) ? 360 : (code >= 63) ? 768 : 32;
            if (code == 63) BuildWaveTable(s.WaveAmp, 16);
            if (code == 64 || code == 65) BuildWaveTable(s.WaveAmp, 32);
            s.Update = np;
            sizeWork(pw, ph);
            // Pixels a distortion never reaches (the edges of odd sizes) show the picture itself.
            ComposeOnBackground(s.WorkLines, s.Work->Width(), pic, bg, 0, 0);
            break;
        case 72: case 73: case 74: case 75: case 76:
            s.Update = np;
            s.Work->SetSize(pw, ph);
            old.SetSize(pw, ph);
            mon.X = np.X;
            mon.Y = np.Y;
            mon.W = np.W;
            mon.H = np.H;
            old.Assign(pic);
            old.SetPixelFormat(TPixelFormat::pf32bit);
            ConvertPicture(old, code);
            MakeScanLines();
            ComposeOnBackground(s.WorkLines, s.Work->Width(), old, bg, 0, 0);
            break;
        case 18: case 19: case 20: case 60: case 61: case 62: {
            s.CellSize = cellsPreview ? 1 : (code >= 60 ? 2 : 6);
            int64_t rows = (int64_t(u.H) + s.CellSize - 1) / s.CellSize;
            int64_t cols = (int64_t(u.W) + s.CellSize - 1) / s.CellSize;
            int64_t cells = rows * cols;
            s.Step = static_cast<int>(std::min<int64_t>(cells / s.CellSize, INT32_MAX));
            RandPoolInit(cells);
            break;
        }
        case 13: case 14: case 15:
            s.BlockW = s.BlockH = preview ? 8 : 48;
            s.Column = s.Row = 0;
            break;
        case 16:
            s.Side = s.Position = s.Ring = 0;
            s.BlockW = s.BlockH = preview ? 8 : 48;
            break;
        case 17:
            s.BlockW = s.BlockH = preview ? 2 : 16;
            break;
        case 11:
            RandPoolInit(mon.EffectDirty.Width());
            break;
        case 12:
            RandPoolInit(mon.EffectDirty.Height());
            break;
        case 1:
            s.CompressW = speed * 4 + 10;
            break;
        case 27: case 28: case 29: case 30: case 31: case 32: case 33: case 34: case 35: case 36: case 37: case 38:
        case 54: case 55: case 56: case 57: case 58: case 59:
            s.FrameCount = code <= 30 ? 48 : 160;
            s.BandSize = preview ? 16 : 100;
            if (code <= 30) sizeWork(u.W, u.H);
            else s.Work->SetSize(u.W, u.H);
            break;
        case 66: case 67: {
            s.FrameCount = code == 66 ? 128 : 512;
            sizeWork(u.W, u.H);
            if (code == 67) {
                int64_t cells = ((int64_t(u.W) + 99) / 100) * ((int64_t(u.H) + 99) / 100);
                RandPoolInit(cells); // one finished-flag per cell
            }
            // The area around the old picture shows the background, as in every other family.
            composeOld();
            break;
        }
        default: // 2-10: nothing to set up
            break;
        }
    }

    // Frames go straight into the form when the update rectangle lies wholly on it.
    TRect finalU = MakeBoundsRect(s.Update);
    TEffectScratch& sc = *s.Scratch;
    sc.Direct = !finalU.IsEmpty() && IntersectRect(finalU, FormClient(form)) == finalU &&
                s.Work->Width() == s.Update.W && s.Work->Height() == s.Update.H;
    if (sc.Direct) {
        sc.FormLines.resize(static_cast<size_t>(s.Update.H));
        for (int y = 0; y < s.Update.H; ++y) sc.FormLines[static_cast<size_t>(y)] = form.Row32(s.Update.Y + y) + s.Update.X;
    }
}

// ---- Frames ----

void TTransitionEngine::TransitionStep(bool& Done) {
    TTransitionState& s = state_;
    if (s.Ended || host_.NoPictures()) return;
    auto& monitors = host_.Monitors();
    int cur = host_.CurrentMonitor();
    if (monitors.empty()) return;
    if (cur < 0 || cur >= static_cast<int>(monitors.size())) cur = 0;
    TMonitorRec& mon = monitors[static_cast<size_t>(cur)];
    TBitmap& pic = host_.CurrentPicture();
    uint8_t code = s.EffectCode;
    if (code > 87) return;
    TEffectContext c{*this,
                     host_,
                     s,
                     mon,
                     host_.FormBitmap(),
                     *mon.Bitmap,
                     pic,
                     host_.NewPictureRect(),
                     timeGetTime(),
                     std::clamp(host_.ChgSpeed(), 0, 10),
                     host_.BackGround(),
                     SwapRB(host_.BackGround()),
                     host_.IsPreview()};
    // Nothing to change from or to: end at once rather than stall the show. The convert family
    // has put the converted new picture in the old one's place by now; a real picture before it
    // still stands on the form, and its frames clear it.
    const bool convertClears = code >= 72 && code <= 76 && !s.Scratch->OldWasEmpty;
    if (c.OldEmpty() && c.NewEmpty() && !convertClears) {
        Done = false;
        EndNow(c);
        return;
    }
    switch (FamilyOf(code)) {
    case TFamily::Blend: StepBlendFamily(c, Done); break;
    case TFamily::Reveal: StepRevealFamily(c, Done); break;
    case TFamily::Scroll: StepScrollFamily(c, Done); break;
    case TFamily::Stretch: StepStretchFamily(c, Done); break;
    case TFamily::Pixel: StepPixelFamily(c, Done); break;
    case TFamily::None: break;
    }
}

// ---- Helpers shared by the families ----

void EndNow(TEffectContext& c) {
    if (c.S.Ended) return;
    c.S.Ended = true;
    c.Host.EndTransition();
}

int TimedFrame(const TEffectContext& c, int n, int extraMs) {
    return TTransitionEngine::FrameAt(n, c.Now - c.S.StartTime, TTransitionEngine::Duration(c.Speed) + extraMs);
}

bool BeginTimedFrame(TEffectContext& c, int n, int headStart, int extraMs, int& k, bool& Done) {
    if (c.S.LastFrame < 0) c.S.LastFrame = 0;
    k = std::min(n, TimedFrame(c, n, extraMs) + headStart);
    if (k != c.S.LastFrame) return true;
    PreciseWait(10);
    Done = false;
    if (k >= n) EndNow(c);
    return false;
}

void EndTimedFrame(TEffectContext& c, int k, int n, bool& Done) {
    c.S.LastFrame = k;
    PreciseWait(10);
    Done = false;
    if (k >= n) EndNow(c);
}

TPLines& FrameLines(TEffectContext& c) {
    TEffectScratch& sc = *c.S.Scratch;
    if (!sc.Direct) return c.S.WorkLines;
    if (!sc.Synced) {
        // The first frame starts from what the preparation put in the work bitmap.
        TBitmap& w = *c.S.Work;
        for (int y = 0; y < w.Height(); ++y)
            std::memcpy(sc.FormLines[static_cast<size_t>(y)], w.Row32(y), static_cast<size_t>(w.Width()) * 4);
        sc.Synced = true;
    }
    return sc.FormLines;
}

void DrawWork(TEffectContext& c) {
    TBoundsRec& u = c.S.Update;
    TEffectScratch& sc = *c.S.Scratch;
    if (!sc.Direct) Blit(c.Form, u.X, u.Y, *c.S.Work, TRect{0, 0, c.S.Work->Width(), c.S.Work->Height()});
    else FrameLines(c); // a frame that wrote nothing still shows the work bitmap
    TRect dirty = IntersectRect(Bounds(u.X, u.Y, c.S.Work->Width(), c.S.Work->Height()), FormClient(c.Form));
    if (!dirty.IsEmpty()) c.Host.InvalidateFormRect(dirty);
}

void FillForm(TEffectContext& c, const TRect& r, uint32_t pixel) {
    TRect d = IntersectRect(r, FormClient(c.Form));
    if (d.IsEmpty()) return;
    Fill(c.Form, d, pixel);
    c.Host.InvalidateFormRect(d);
}

void ScrollForm(TEffectContext& c, int dx, int dy, const TRect& clip) {
    TRect client = FormClient(c.Form);
    TRect dst = IntersectRect(IntersectRect(clip, client), TRect{client.Left + dx, client.Top + dy,
                                                                  client.Right + dx, client.Bottom + dy});
    if (dst.IsEmpty()) {
        FillForm(c, clip, c.BgPix);
        return;
    }
    size_t bytes = static_cast<size_t>(dst.Width()) * 4;
    auto move = [&](int y) { std::memmove(c.Form.Row32(y) + dst.Left, c.Form.Row32(y - dy) + dst.Left - dx, bytes); };
    if (dy > 0)
        for (int y = dst.Bottom - 1; y >= dst.Top; --y) move(y);
    else
        for (int y = dst.Top; y < dst.Bottom; ++y) move(y);
    // What would come from beyond the form is unknown: it shows the background.
    TRect whole = IntersectRect(clip, client);
    FillOutside(c.Form, whole, dst, c.BgPix);
    c.Host.InvalidateFormRect(whole);
}

void InterlaceBorder(TEffectContext& c, const TRect& outer, const TRect& inner, int phase) {
    if (phase < 0 || phase > 4 || outer.IsEmpty()) return;
    uint32_t bg = c.BgPix;
    TRect in = IntersectRect(outer, inner);
    auto dirty = [&]() {
        TRect d = IntersectRect(outer, FormClient(c.Form));
        if (!d.IsEmpty()) c.Host.InvalidateFormRect(d);
    };
    if (phase == 4) {
        FillOutside(c.Form, outer, in, bg);
        dirty();
        return;
    }
    auto mod4 = [](int v) { return ((v % 4) + 4) % 4; };
    if (phase == 0 || phase == 2) {
        for (int y = outer.Top; y < outer.Bottom; ++y) {
            if (mod4(y) != phase) continue;
            if (in.IsEmpty() || y < in.Top || y >= in.Bottom) {
                Fill(c.Form, TRect{outer.Left, y, outer.Right, y + 1}, bg);
            } else {
                Fill(c.Form, TRect{outer.Left, y, in.Left, y + 1}, bg);
                Fill(c.Form, TRect{in.Right, y, outer.Right, y + 1}, bg);
            }
        }
    } else {
        for (int x = outer.Left; x < outer.Right; ++x) {
            if (mod4(x) != phase) continue;
            if (in.IsEmpty() || x < in.Left || x >= in.Right) {
                Fill(c.Form, TRect{x, outer.Top, x + 1, outer.Bottom}, bg);
            } else {
                Fill(c.Form, TRect{x, outer.Top, x + 1, in.Top}, bg);
                Fill(c.Form, TRect{x, in.Bottom, x + 1, outer.Bottom}, bg);
            }
        }
    }
    dirty();
}

bool MeetsPicture(const TEffectContext& c, const TRect& r) {
    return !IntersectRect(r, c.OldRect()).IsEmpty() || !IntersectRect(r, c.NewRc()).IsEmpty();
}

TRect FormRect(const TEffectContext& c) { return FormClient(c.Form); }

} // namespace lumora
