// Step-based reveals: pieces of the new picture copied onto the form one step per idle call
// (compress, wipes, zoom, blinds, lines, blocks, cells).

#include <algorithm>
#include <array>

#include "engine/transitions/Effects.h"
#include "platform/system/Random.h"

namespace lumora {

namespace {

// Offsets of the squeezed columns of the compress: -1, -3, -5, -7, -9, -12, ... (the step grows by
// one every four entries).
constexpr std::array<int, 50> CompressTable = [] {
    std::array<int, 50> t{};
    t[0] = -1;
    for (int j = 1; j < 50; ++j) t[static_cast<size_t>(j)] = t[static_cast<size_t>(j - 1)] - (2 + (j - 1) / 4);
    return t;
}();

void Copy(TEffectContext& c, int l, int t, int r, int b) { c.Engine.AreaCopy(TRect{l, t, r, b}); }

void Cells(TEffectContext& c) {
    TTransitionState& s = c.S;
    int code = s.EffectCode;
    bool bubbles = code <= 20;
    bool even = code == 18 || code == 60;
    bool mirror = code == 20 || code == 62;
    const TRect& e = c.Mon.EffectDirty;
    int cell = std::max(1, s.CellSize);
    int64_t columns = std::max<int64_t>(1, (int64_t(e.Width()) + cell - 1) / cell);
    s.DoneCount++;
    bool wait = s.DoneCount % (bubbles ? 4 : 128) == 0;
    for (int i = 0; i < (bubbles ? 16 : 64); ++i) {
        int64_t index;
        if (even) {
            index = RandPoolNext();
        } else {
            index = RandPoolNextIn(s.Step);
            s.Step = s.Step > INT32_MAX - 2 ? INT32_MAX : s.Step + 2;
        }
        if (index < 0) {
            EndNow(c);
            return;
        }
        if (mirror) index = RandPoolCount() - 1 - index;
        int64_t x = e.Left + cell * (index % columns), y = e.Top + cell * (index / columns);
        if (x > INT32_MAX - cell || y > INT32_MAX - cell) continue;
        TRect piece{int(x), int(y), int(x) + cell, int(y) + cell};
        if (!MeetsPicture(c, piece)) continue;
        c.Engine.AreaCopy(piece);
        if (wait) PreciseWait(c.Speed / 4);
    }
}

// Area copies of one-pixel columns x0, x0 + 16, ... (count of them) over rows [top, bottom), done
// row by row: the same pixels as one area copy per column, without walking the form by columns.
void CopyColumns(TEffectContext& c, int x0, int count, int top, int bottom) {
    TRect u = c.U();
    TRect form = FormRect(c);
    TRect rows = IntersectRect(TRect{u.Left, top, u.Right, bottom}, form);
    if (rows.IsEmpty() || count <= 0) return;
    TRect pic = c.NewEmpty() ? TRect{} : Bounds(c.NewRect.X, c.NewRect.Y, c.New.Width(), c.New.Height());
    int first = 0, last = count; // columns inside the update rectangle and the form
    while (first < last && x0 + 16 * first < rows.Left) ++first;
    while (last > first && x0 + 16 * (last - 1) >= rows.Right) --last;
    if (first >= last) return;
    for (int y = rows.Top; y < rows.Bottom; ++y) {
        uint32_t* d = c.Form.Row32(y);
        bool picRow = y >= pic.Top && y < pic.Bottom;
        const uint32_t* src = picRow ? c.New.Row32(y - pic.Top) : nullptr;
        for (int j = first; j < last; ++j) {
            int x = x0 + 16 * j;
            d[x] = (picRow && x >= pic.Left && x < pic.Right) ? src[x - pic.Left] : c.BgPix;
        }
    }
    c.Host.InvalidateFormRect(TRect{x0 + 16 * first, rows.Top, x0 + 16 * (last - 1) + 1, rows.Bottom});
}

void Blinds(TEffectContext& c) {
    TTransitionState& s = c.S;
    const TRect& e = c.Mon.EffectDirty;
    int step = s.DoneCount;
    if (step < 16) {
        if (s.EffectCode == 6) {
            CopyColumns(c, e.Left + step, (e.Width() + 15) / 16 + 1, e.Top, e.Bottom);
        } else {
            for (int j = 0; j <= (e.Height() + 15) / 16; ++j)
                Copy(c, e.Left, e.Top + 16 * j + step, e.Right, e.Top + 16 * j + step + 1);
        }
    }
    s.DoneCount = ++step;
    PreciseWait(c.Speed * 8 + 20);
    if (step >= 16) EndNow(c);
}

// One block: copied (with the blocks' pause) only when it shows part of a picture.
void Block(TEffectContext& c, const TRect& r) {
    if (!MeetsPicture(c, r)) return;
    c.Engine.AreaCopy(r);
    PreciseWait(c.Speed * 3 + 5);
}

void BlockColumns(TEffectContext& c) {
    TTransitionState& s = c.S;
    TBoundsRec& u = s.Update;
    int bw = s.BlockW, bh = s.BlockH;
    if (int64_t(bw) * s.Column >= u.W) {
        EndNow(c);
        return;
    }
    Block(c, TRect{u.X + s.Column * bw, u.Y + s.Row * bh, u.X + (s.Column + 1) * bw, u.Y + (s.Row + 1) * bh});
    if (int64_t(bh) * ++s.Row >= u.H) {
        s.Row = 0;
        s.Column++;
    }
}

void BlockRows(TEffectContext& c) {
    TTransitionState& s = c.S;
    TBoundsRec& u = s.Update;
    int bw = s.BlockW, bh = s.BlockH;
    if (int64_t(bh) * s.Row >= u.H) {
        EndNow(c);
        return;
    }
    Block(c, TRect{u.X + s.Column * bw, u.Y + s.Row * bh, u.X + (s.Column + 1) * bw, u.Y + (s.Row + 1) * bh});
    if (int64_t(bw) * ++s.Column >= u.W) {
        s.Column = 0;
        s.Row++;
    }
}

void BlockDiagonals(TEffectContext& c) {
    TTransitionState& s = c.S;
    TBoundsRec& u = s.Update;
    int bw = s.BlockW, bh = s.BlockH;
    if (s.Column > s.Row) {
        s.Column = 0;
        s.Row++;
    }
    int size = std::max(u.W, u.H);
    if (2 * (int64_t(size) + bw) / bw <= s.Row) {
        EndNow(c);
        return;
    }
    int j = s.Column, d = s.Row - s.Column;
    Block(c, TRect{u.X + j * bw, u.Y + d * bh, u.X + (j + 1) * bw, u.Y + (d + 1) * bh});
    s.Column++;
}

void Spiral(TEffectContext& c) {
    TTransitionState& s = c.S;
    TBoundsRec& u = s.Update;
    const TRect& e = c.Mon.EffectDirty;
    int bw = s.BlockW, bh = s.BlockH;
    int i = s.Ring, p = s.Position;
    if (2 * int64_t(i) * bw >= u.W && 2 * int64_t(i) * bh >= u.H) {
        EndNow(c);
        return;
    }
    int cx = e.Left + e.Width() / 2, cy = e.Top + e.Height() / 2;
    TRect r;
    switch (s.Side) {
    case 0: r = TRect{cx + i * bw, cy + (p - i) * bh, cx + (i + 1) * bw, cy + (p - i + 1) * bh}; break;
    case 1: r = TRect{cx + (i - p - 1) * bw, cy + i * bh, cx + (i - p) * bw, cy + (i + 1) * bh}; break;
    case 2: r = TRect{cx - (i + 1) * bw, cy + (i - p - 1) * bh, cx - i * bw, cy + (i - p) * bh}; break;
    default: r = TRect{cx + (p - i) * bw, cy - (i + 1) * bh, cx + (p - i + 1) * bw, cy - i * bh}; break;
    }
    Block(c, r);
    if (++s.Position >= 2 * i + 1) {
        s.Position = 0;
        s.Side = (s.Side + 1) % 4;
        if (s.Side == 0) s.Ring++;
    }
}

void RandomBlocks(TEffectContext& c) {
    TTransitionState& s = c.S;
    TBoundsRec& u = s.Update;
    int n = s.Step;
    if (n >= 3000) {
        EndNow(c);
        return;
    }
    int bw = s.BlockW, bh = s.BlockH;
    int y = Random(u.H) - bw / 2;
    int x = Random(u.W) - bh / 2;
    Copy(c, u.X + x, u.Y + y, u.X + x + bw + n / 50, u.Y + y + bh + n / 50);
    s.Step = n + 1;
    PreciseWait(c.Speed / 3);
}

void LinesBackAndForth(TEffectContext& c) {
    TTransitionState& s = c.S;
    TBoundsRec& u = s.Update;
    int q = s.Step;
    if (q < -2) {
        EndNow(c);
        return;
    }
    bool vertical = s.EffectCode == 8;
    if (vertical) Copy(c, u.X + q, u.Y, u.X + q + 2, u.Y + u.H);
    else Copy(c, u.X, u.Y + q, u.X + u.W, u.Y + q + 2);
    int limit = vertical ? u.W : u.H;
    if (q % 4 == 0) {
        q += 4;
        if (q >= limit) q -= 2;
    } else {
        q -= 4;
    }
    s.Step = q;
    PreciseWait(c.Speed * 2 + 2);
}

void LineDoor(TEffectContext& c) {
    TTransitionState& s = c.S;
    TBoundsRec& u = s.Update;
    int q = s.Step;
    if (q > u.W) {
        EndNow(c);
        return;
    }
    int w4 = u.W - u.W % 4;
    int x = q % 4 == 0 ? u.X + q : u.X + w4 - q;
    s.Step = q + 2;
    Copy(c, x, u.Y, x + 2, u.Y + u.H);
    PreciseWait(c.Speed * 2 + 2);
}

void RandomLines(TEffectContext& c) {
    const TRect& e = c.Mon.EffectDirty;
    int64_t index = RandPoolNext();
    if (index < 0) {
        EndNow(c);
        return;
    }
    int i = static_cast<int>(index);
    if (c.S.EffectCode == 11) Copy(c, e.Left + i, e.Top, e.Left + i + 1, e.Bottom);
    else Copy(c, e.Left, e.Top + i, e.Right, e.Top + i + 1);
    PreciseWait(c.Speed + 1);
}

void Compress(TEffectContext& c) {
    TTransitionState& s = c.S;
    const TRect& e = c.Mon.EffectDirty;
    int n = s.Step;
    if (e.Width() <= n) {
        EndNow(c);
        return;
    }
    Copy(c, e.Left + n, e.Top, e.Left + n + 1, e.Bottom);
    s.Step = n + 1;
    int m = std::clamp(s.CompressW, 0, static_cast<int>(CompressTable.size()));
    // The squeezed columns all span the same rows (those of the old picture on the form); a column
    // whose source lies outside the old picture's pixels takes the background instead.
    TRect old = c.OldRect();
    TRect oldPixels = IntersectRect(old, Bounds(c.Mon.X, c.Mon.Y, c.Old.Width(), c.Old.Height()));
    TRect rows = IntersectRect(IntersectRect(TRect{e.Left + n + 1, e.Top, e.Left + n + m + 1, e.Bottom}, old),
                               FormRect(c));
    if (rows.IsEmpty()) return;
    const bool oldRows = std::max(e.Top, oldPixels.Top) < std::min(e.Bottom, oldPixels.Bottom);
    std::array<int, CompressTable.size()> from{}; // per column of rows: the old picture's column, or -1
    for (int xc = rows.Left; xc < rows.Right; ++xc) {
        int xb = e.Left + n + m + CompressTable[static_cast<size_t>(m - (xc - e.Left - n))];
        from[static_cast<size_t>(xc - rows.Left)] =
            oldRows && xb >= oldPixels.Left && xb < oldPixels.Right ? xb - c.Mon.X : -1;
    }
    // Row by row rather than column by column: each row of the form and the old picture is read
    // once per step instead of once per column.
    const int top = std::max(rows.Top, oldPixels.Top), bottom = std::min(rows.Bottom, oldPixels.Bottom);
    const size_t width = static_cast<size_t>(rows.Width());
    for (int y = rows.Top; y < rows.Bottom; ++y) {
        uint32_t* d = c.Form.Row32(y) + rows.Left;
        const bool inside = y >= top && y < bottom;
        const uint32_t* src = inside ? c.Old.Row32(y - c.Mon.Y) : nullptr;
        for (size_t i = 0; i < width; ++i) {
            if (from[i] < 0) d[i] = c.BgPix;
            else if (inside) d[i] = src[from[i]];
        }
    }
    c.Host.InvalidateFormRect(rows);
}

void Wipe(TEffectContext& c, bool& Done) {
    TTransitionState& s = c.S;
    TBoundsRec& u = s.Update;
    bool horizontal = s.EffectCode == 2;
    int n = horizontal ? u.W : u.H;
    if (s.LastFrame < 0) s.LastFrame = 0;
    int k = TimedFrame(c, n);
    if (k != s.LastFrame) {
        int last = s.LastFrame;
        TRect strip = horizontal ? TRect{u.X + last, u.Y, u.X + k, u.Y + u.H} : TRect{u.X, u.Y + last, u.X + u.W, u.Y + k};
        strip = IntersectRect(strip, c.Mon.EffectDirty);
        if (!strip.IsEmpty()) c.Engine.AreaCopy(strip);
        s.LastFrame = k;
    }
    PreciseWait(10);
    Done = false;
    if (k >= n) EndNow(c);
}

void Zoom(TEffectContext& c) {
    TTransitionState& s = c.S;
    const TRect& e = c.Mon.EffectDirty;
    int q = s.Step;
    int size = std::max(e.Width(), e.Height());
    if (2 * q >= size / 2) {
        EndNow(c);
        return;
    }
    int cx = e.Left + e.Width() / 2, cy = e.Top + e.Height() / 2;
    int r = s.EffectCode == 4 ? q : size / 4 - q;
    int t = 2 * r;
    Copy(c, cx - t - 2, cy - t - 2, cx + t + 2, cy - t);
    Copy(c, cx - t - 2, cy + t, cx + t + 2, cy + t + 2);
    Copy(c, cx - t - 2, cy - t - 2, cx - t, cy + t);
    Copy(c, cx + t, cy - t, cx + t + 2, cy + t);
    PreciseWait(c.Speed * 2);
    s.Step = q + 1;
}

} // namespace

void StepRevealFamily(TEffectContext& c, bool& Done) {
    Done = false;
    switch (c.S.EffectCode) {
    case 1: Compress(c); break;
    case 2: case 3: Wipe(c, Done); break;
    case 4: case 5: Zoom(c); break;
    case 6: case 7: Blinds(c); break;
    case 8: case 9: LinesBackAndForth(c); break;
    case 10: LineDoor(c); break;
    case 11: case 12: RandomLines(c); break;
    case 13: BlockColumns(c); break;
    case 14: BlockRows(c); break;
    case 15: BlockDiagonals(c); break;
    case 16: Spiral(c); break;
    case 17: RandomBlocks(c); break;
    default: Cells(c); break; // 18-20, 60-62
    }
}

} // namespace lumora
