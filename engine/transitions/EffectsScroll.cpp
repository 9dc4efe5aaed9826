// Scroll transitions (codes 31-38, 54-59), which move the form's content and draw only the strip
// that enters, and the stretches (27-30), which squeeze one picture and stretch the other.

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "engine/transitions/Effects.h"
#include "engine/transitions/RowBands.h"

namespace lumora {

namespace {

enum class TScrollKind { Move, NextPage, PrevPage };

// Rectangles and moves written along the axis of movement (a) and across it (b).
struct TAxis {
    bool vertical;
    TRect R(int a0, int b0, int a1, int b1) const { return vertical ? TRect{b0, a0, b1, a1} : TRect{a0, b0, a1, b1}; }
    void Scroll(TEffectContext& c, int da, const TRect& clip) const {
        if (vertical) ScrollForm(c, 0, da, clip);
        else ScrollForm(c, da, 0, clip);
    }
    void CopyMoved(TEffectContext& c, const TRect& r, int da) const {
        if (vertical) c.Engine.AreaCopy(r, 0, da);
        else c.Engine.AreaCopy(r, da, 0);
    }
};

// One band (or the whole area) of a scroll: [b0, b1) across the movement, moving forwards (right
// or down) or backwards. ua, w: the update rectangle along the axis; ea0, ea1: the effect area's
// bounds along it.
void ScrollBand(TEffectContext& c, const TAxis& ax, TScrollKind kind, bool forward, int b0, int b1, int k, int last) {
    TBoundsRec& u = c.S.Update;
    const TRect& e = c.Mon.EffectDirty;
    int ua = ax.vertical ? u.Y : u.X, w = ax.vertical ? u.H : u.W;
    int ea0 = ax.vertical ? e.Top : e.Left, ea1 = ax.vertical ? e.Bottom : e.Right;
    int d = k - last;
    TRect band = IntersectRect(ax.R(ea0, b0, ea1, b1), e);
    if (band.IsEmpty()) return;
    auto clipped = [&](const TRect& r) { return IntersectRect(r, band); };
    switch (kind) {
    case TScrollKind::Move:
        // Everything moves; the strip that enters shows the new picture where it has reached the
        // visible area and the background beyond it.
        if (forward) {
            ax.Scroll(c, d, band);
            FillForm(c, clipped(ax.R(ea0, b0, ea0 + d, b1)), c.BgPix);
            ax.CopyMoved(c, clipped(ax.R(ea0 + w - k, b0, ea0 + w - last, b1)), k - w);
        } else {
            ax.Scroll(c, -d, band);
            FillForm(c, clipped(ax.R(ea1 - d, b0, ea1, b1)), c.BgPix);
            ax.CopyMoved(c, clipped(ax.R(ea1 - w + last, b0, ea1 - w + k, b1)), w - k);
        }
        break;
    case TScrollKind::NextPage:
        // The old picture's remaining part slides out; the new picture is uncovered in place.
        if (forward) {
            TRect rest = clipped(ax.R(ua + k, b0, ua + w, b1));
            if (!rest.IsEmpty()) ax.Scroll(c, d, rest);
            c.Engine.AreaCopy(clipped(ax.R(ua + last, b0, ua + k, b1)));
        } else {
            TRect rest = clipped(ax.R(ua, b0, ua + w - last, b1));
            if (!rest.IsEmpty()) ax.Scroll(c, -d, rest);
            FillForm(c, clipped(ax.R(ua + w - k, b0, ua + w - last, b1)), c.BgPix);
            c.Engine.AreaCopy(clipped(ax.R(ua + w - k, b0, ua + w - last, b1)));
        }
        break;
    case TScrollKind::PrevPage:
        // The part of the new picture already in slides on (to where it stands now, so that it
        // grows by exactly the strip that enters); the old picture stays.
        if (forward) {
            TRect in = clipped(ax.R(ua, b0, ua + k, b1));
            if (!in.IsEmpty()) ax.Scroll(c, d, in);
            if (ua + k > ea0) ax.CopyMoved(c, clipped(ax.R(ea0 + w - k, b0, ea0 + w - last, b1)), k - w);
        } else {
            TRect in = clipped(ax.R(ua + w - k, b0, ua + w, b1));
            if (!in.IsEmpty()) ax.Scroll(c, -d, in);
            if (k >= ua + w - ea1) ax.CopyMoved(c, clipped(ax.R(ea1 - w + last, b0, ea1 - w + k, b1)), w - k);
        }
        break;
    }
}

} // namespace

void StepScrollFamily(TEffectContext& c, bool& Done) {
    TTransitionState& s = c.S;
    int code = s.EffectCode;
    bool vertical = code == 31 || code == 32 || code == 35 || code == 36 || code == 54 || code == 56 || code == 58;
    TAxis ax{vertical};
    int n = vertical ? s.Update.H : s.Update.W;
    Done = false;
    if (s.LastFrame < 0) s.LastFrame = 0;
    if (s.LastFrame >= n) {
        s.DoneCount = s.FrameCount;
        EndNow(c);
        return;
    }
    int k = TimedFrame(c, n);
    if (k == s.LastFrame) {
        PreciseWait(10);
        return;
    }
    int last = s.LastFrame;
    const TRect& e = c.Mon.EffectDirty;
    int eb0 = vertical ? e.Left : e.Top, eb1 = vertical ? e.Right : e.Bottom;
    TScrollKind kind = TScrollKind::Move;
    bool forward = true;
    switch (code) {
    case 31: case 33: break;
    case 32: case 34: forward = false; break;
    case 35: case 37: kind = TScrollKind::NextPage; break;
    case 36: case 38: kind = TScrollKind::PrevPage; forward = false; break;
    case 54: case 55: kind = TScrollKind::NextPage; break;
    case 58: case 59: kind = TScrollKind::PrevPage; break;
    default: break; // 56, 57: banded moves
    }
    if (code >= 54) {
        // Bands across the movement; even ones (by their start) move forwards, odd ones backwards.
        int band = std::max(1, s.BandSize);
        for (int b = eb0; b < eb1; b += band)
            ScrollBand(c, ax, kind, (b / band) % 2 == 0, b, std::min(b + band, eb1), k, last);
    } else {
        ScrollBand(c, ax, kind, forward, eb0, eb1, k, last);
    }
    s.LastFrame = k;
    PreciseWait(10);
}

namespace {

// Copies source row sy (of a picture standing at column px of the work area) into dst.
void CopyRow(uint32_t* dst, int dstW, const TBitmap& pic, int sy, int px) {
    int x0 = std::max(0, px), x1 = std::min(dstW, px + pic.Width());
    if (x1 <= x0) return;
    std::memcpy(dst + x0, pic.Row32(sy) + (x0 - px), static_cast<size_t>(x1 - x0) * 4);
}

struct TPlaced {
    TBitmap& pic;
    int dx, dy; // offset in the update rectangle
};

void StretchRows(TPLines& dst, int w, const TPlaced& a, const TPlaced& b, uint32_t bg, int s) {
    int h = static_cast<int>(dst.size());
    bool stretched = s > 0 && s < h;
    ForRowBands(h, [&](int first, int last) {
        for (int y = first; y < last; ++y) {
            uint32_t* d = dst[static_cast<size_t>(y)];
            std::fill(d, d + w, bg);
            if (!stretched) continue;
            const TPlaced& p = y < s ? a : b;
            double pos = y < s ? double(y) * h / s : double(y - s) * h / (h - s);
            int row = static_cast<int>(std::nearbyint(pos)) - p.dy;
            if (row < 0 || row >= p.pic.Height()) continue;
            CopyRow(d, w, p.pic, row, p.dx);
        }
    });
}

// A picture stretched (nearest pixel) into columns [x0, x1) and rows [y0, y0 + its height): the
// source column of each destination column, worked out once for all rows.
struct TColumnStretch {
    TBitmap& pic;
    int y0 = 0;
    int64_t lo = 0, hi = 0;
    std::vector<int> column;

    TColumnStretch(TBitmap& p, int w, int64_t x0, int64_t x1, int top) : pic(p), y0(top) {
        int pw = pic.Width(), ph = pic.Height();
        if (pw <= 0 || ph <= 0 || x1 <= x0) return;
        int64_t span = x1 - x0;
        lo = std::max<int64_t>(0, x0);
        hi = std::max(lo, std::min<int64_t>(w, x1));
        column.resize(static_cast<size_t>(hi - lo));
        for (int64_t x = lo; x < hi; ++x) column[static_cast<size_t>(x - lo)] = static_cast<int>((x - x0) * pw / span);
    }
    bool Covers(int y) const { return !column.empty() && y >= y0 && y < y0 + pic.Height(); }
    // Rows y .. y + n - 1 (n up to 4) of the destination rows d: four rows at once share each
    // look into the column table.
    void Rows(uint32_t* const* d, int y, int n) const {
        const uint32_t* src[4];
        uint32_t* out[4];
        int m = 0;
        for (int r = 0; r < n; ++r)
            if (Covers(y + r)) src[m] = pic.Row32(y + r - y0), out[m] = d[r] + lo, ++m;
        const size_t count = column.size();
        if (m == 4) {
            for (size_t i = 0; i < count; ++i) {
                const int c = column[i];
                out[0][i] = src[0][c], out[1][i] = src[1][c], out[2][i] = src[2][c], out[3][i] = src[3][c];
            }
            return;
        }
        for (int r = 0; r < m; ++r)
            for (size_t i = 0; i < count; ++i) out[r][i] = src[r][column[i]];
    }
};

void StretchColumns(TPLines& dst, int w, const TPlaced& a, const TPlaced& b, uint32_t bg, int s) {
    int h = static_cast<int>(dst.size());
    if (s <= 0 || s >= w) {
        ForRowBands(h, [&](int first, int last) {
            for (int y = first; y < last; ++y) std::fill(dst[static_cast<size_t>(y)], dst[static_cast<size_t>(y)] + w, bg);
        });
        return;
    }
    int64_t fa = int64_t(s) * 1024 / w;
    TColumnStretch sa(a.pic, w, fa * a.dx / 1024, (int64_t(a.pic.Width()) + a.dx) * fa / 1024, a.dy);
    int64_t fb = int64_t(w - s) * 1024 / w;
    TColumnStretch sb(b.pic, w, s + fb * b.dx / 1024, s + (int64_t(b.pic.Width()) + b.dx) * fb / 1024, b.dy);
    ForRowBands(h, [&](int first, int last) {
        for (int y0 = first; y0 < last; y0 += 4) {
            const int n = std::min(4, last - y0);
            for (int y = y0; y < y0 + n; ++y) {
                uint32_t* d = dst[static_cast<size_t>(y)];
                // The background only where neither picture lands on this row.
                int64_t a0 = sa.Covers(y) ? sa.lo : w, a1 = sa.Covers(y) ? sa.hi : w;
                int64_t b0 = sb.Covers(y) ? sb.lo : w, b1 = sb.Covers(y) ? sb.hi : w;
                if (b0 < a0) std::swap(a0, b0), std::swap(a1, b1);
                std::fill(d, d + a0, bg);
                std::fill(d + std::min(a1, b0), d + b0, bg);
                std::fill(d + std::max(a1, b1), d + w, bg);
            }
            sa.Rows(&dst[static_cast<size_t>(y0)], y0, n);
            sb.Rows(&dst[static_cast<size_t>(y0)], y0, n);
        }
    });
}

} // namespace

void StepStretchFamily(TEffectContext& c, bool& Done) {
    TTransitionState& s = c.S;
    int code = s.EffectCode;
    bool vertical = code == 27 || code == 28;
    TBoundsRec& u = s.Update;
    int n = vertical ? u.H : u.W;
    Done = false;
    if (s.LastFrame < 0) s.LastFrame = 0;
    if (s.LastFrame >= n) {
        s.DoneCount = s.FrameCount;
        EndNow(c);
        return;
    }
    int k = TimedFrame(c, n, vertical ? 0 : 500);
    if (k != s.LastFrame) {
        // The frame at n is never shown (the end draws the picture whole), so it is not built.
        if (k < n) {
            TPlaced oldP{c.Old, c.Mon.X - u.X, c.Mon.Y - u.Y};
            TPlaced newP{c.New, c.NewRect.X - u.X, c.NewRect.Y - u.Y};
            TPLines& dst = FrameLines(c);
            int w = c.S.Work->Width();
            switch (code) {
            case 27: StretchRows(dst, w, newP, oldP, c.BgPix, k); break;
            case 28: StretchRows(dst, w, oldP, newP, c.BgPix, n - k); break;
            case 29: StretchColumns(dst, w, newP, oldP, c.BgPix, k); break;
            default: StretchColumns(dst, w, oldP, newP, c.BgPix, n - k); break;
            }
        }
        s.LastFrame = k;
    }
    if (s.LastFrame != n && (k != 0 || s.LastFrame != 0)) DrawWork(c);
    PreciseWait(10);
}

} // namespace lumora
