// The step-based reveals, call by call: which pieces each idle call copies onto the screen, in which
// order, and how long it waits. Before every call the form is painted with a marker colour, so what
// the call drew is exactly what no longer shows the marker.

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "engine/transitions/Transition.h"
#include "platform/system/Clock.h"
#include "platform/system/Random.h"
#include "tests/engine/transitions/TransitionTestHost.h"

namespace lumora {
namespace {

using testing::TFakeHost;

constexpr uint32_t kMarker = 0xFF000000u; // byte 3 is never drawn

// What one idle call drew.
struct TCall {
    TRect box;     // the bounding box of the drawn pixels (empty when nothing was drawn)
    int count = 0; // drawn pixels
    std::set<int> xs, ys;
    uint32_t ms = 0; // how long the call waited
    bool ended = false;

    bool Is(const TRect& r) const { return box == r && count == r.Width() * r.Height(); }
};

// The form 260 x 200; both pictures 200 x 150 centred, so the update rectangle is (30, 25, 230, 175)
// and every piece inside it meets a picture.
constexpr TRect kU{30, 25, 230, 175};

class StepRevealTest : public ::testing::Test {
protected:
    void SetUp() override {
        clock_ = std::make_unique<VirtualClock>(5000);
        SetClock(clock_.get());
        RandSeed(11);
    }
    void TearDown() override { SetClock(nullptr); }

    std::vector<TCall> Record(int code, int speed = 5, int maxCalls = 20000) {
        host_ = std::make_unique<TFakeHost>(260, 200);
        TFakeHost& h = *host_;
        h.Speed = speed;
        h.SetOld(200, 150, 30, 25, 1);
        h.SetNew(200, 150, 2);
        h.Engine.SetEffectCode(static_cast<uint8_t>(code));
        h.Engine.PrepareTransition();
        std::vector<TCall> calls;
        while (h.Ends == 0 && static_cast<int>(calls.size()) < maxCalls) {
            h.FillForm(kMarker);
            uint32_t t0 = timeGetTime();
            bool done = true;
            h.Engine.TransitionStep(done);
            TCall c;
            c.ms = timeGetTime() - t0;
            c.ended = h.Ends != 0;
            // The call that ends has the stand-in redraw the picture: look at what was there before.
            TBitmap& f = c.ended ? h.BeforeEnd : h.Form;
            for (int y = 0; y < f.Height(); ++y)
                for (int x = 0; x < f.Width(); ++x) {
                    if (f.Row32(y)[x] == kMarker) continue;
                    c.box = c.count ? UnionRect(c.box, TRect{x, y, x + 1, y + 1}) : TRect{x, y, x + 1, y + 1};
                    ++c.count;
                    c.xs.insert(x);
                    c.ys.insert(y);
                }
            calls.push_back(std::move(c));
        }
        return calls;
    }

    std::unique_ptr<VirtualClock> clock_;
    std::unique_ptr<TFakeHost> host_;
};

TRect Clip(const TRect& r) { return IntersectRect(r, kU); }

// Checks the calls against the pieces (one per call, clipped to the area; an empty piece draws
// nothing, and waits only when the family always waits), then one last call that only ends.
void ExpectPieces(const std::vector<TCall>& calls, const std::vector<TRect>& pieces, uint32_t wait,
                  const std::string& what, bool alwaysWaits = false) {
    ASSERT_EQ(calls.size(), pieces.size() + 1) << what;
    for (size_t i = 0; i < pieces.size(); ++i) {
        TRect want = Clip(pieces[i]);
        if (want.IsEmpty()) {
            EXPECT_EQ(calls[i].count, 0) << what << " piece " << i;
            EXPECT_EQ(calls[i].ms, alwaysWaits ? wait : 0u) << what << " piece " << i;
            continue;
        }
        EXPECT_TRUE(calls[i].Is(want)) << what << " piece " << i << ": drew " << calls[i].box.Left << ","
                                       << calls[i].box.Top << ".." << calls[i].box.Right << ","
                                       << calls[i].box.Bottom << " wanted " << want.Left << "," << want.Top << ".."
                                       << want.Right << "," << want.Bottom;
        EXPECT_EQ(calls[i].ms, wait) << what << " piece " << i;
    }
    EXPECT_TRUE(calls.back().ended) << what;
    EXPECT_EQ(calls.back().count, 0) << what;
}

TRect Block(int column, int row) { return Bounds(kU.Left + 48 * column, kU.Top + 48 * row, 48, 48); }

TEST_F(StepRevealTest, BlocksGoByColumnsRowsDiagonalsAndSpiral) {
    std::vector<TRect> columns, rows, diagonals, spiral;
    // 200 x 150 in blocks of 48: five columns, four rows.
    for (int c = 0; c < 5; ++c)
        for (int r = 0; r < 4; ++r) columns.push_back(Block(c, r));
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 5; ++c) rows.push_back(Block(c, r));
    // Anti-diagonals from the top-left corner, each from the left edge up to the top; 2 x (200 + 48)
    // div 48 = 10 of them.
    for (int i = 0; i < 10; ++i)
        for (int j = 0; j <= i; ++j) diagonals.push_back(Block(j, i - j));
    // Clockwise on the screen around the centre (130, 100): ring 0 is the four blocks touching it,
    // starting below right; each ring starts on the right side going down.
    const int cx = 130, cy = 100;
    auto at = [&](int bx, int by) { return Bounds(cx + 48 * bx, cy + 48 * by, 48, 48); };
    spiral = {at(0, 0), at(-1, 0), at(-1, -1), at(0, -1)};
    for (int i = 1; i <= 2; ++i) {
        for (int p = 0; p <= 2 * i; ++p) spiral.push_back(at(i, p - i));          // right side, down
        for (int p = 0; p <= 2 * i; ++p) spiral.push_back(at(i - p - 1, i));      // bottom, leftwards
        for (int p = 0; p <= 2 * i; ++p) spiral.push_back(at(-i - 1, i - p - 1)); // left side, up
        for (int p = 0; p <= 2 * i; ++p) spiral.push_back(at(p - i, -i - 1));     // top, rightwards
    }
    for (int speed : {0, 5, 10}) {
        uint32_t wait = uint32_t(speed * 3 + 5);
        ExpectPieces(Record(13, speed), columns, wait, "columns");
        ExpectPieces(Record(14, speed), rows, wait, "rows");
        ExpectPieces(Record(15, speed), diagonals, wait, "diagonals");
        ExpectPieces(Record(16, speed), spiral, wait, "spiral");
    }
}

TEST_F(StepRevealTest, RandomBlocksGrowAndStopAtThreeThousand) {
    auto calls = Record(17, 6);
    ASSERT_EQ(calls.size(), 3001u);
    int whole = 0;
    for (int n = 0; n < 3000; ++n) {
        const TCall& c = calls[size_t(n)];
        int side = 16 + n / 50; // one pixel more every 50 blocks
        ASSERT_GT(c.count, 0) << n;
        EXPECT_LE(c.box.Width(), side) << n;
        EXPECT_LE(c.box.Height(), side) << n;
        EXPECT_EQ(c.count, c.box.Width() * c.box.Height()) << n;
        // A block clear of the area's edges shows its full size.
        if (c.box.Left > kU.Left && c.box.Top > kU.Top && c.box.Right < kU.Right && c.box.Bottom < kU.Bottom) {
            EXPECT_EQ(c.box.Width(), side) << n;
            EXPECT_EQ(c.box.Height(), side) << n;
            ++whole;
        }
        EXPECT_EQ(c.ms, 2u) << n; // "ChgSpeed" div 3
    }
    EXPECT_GT(whole, 1000);
    EXPECT_TRUE(calls.back().ended);
}

TEST_F(StepRevealTest, LinesBackAndForthDoorAndRandom) {
    // Two-pixel lines at 0, 4, ... up to the far edge, then back on the lines between, down to -2.
    std::vector<TRect> columns, rows, door;
    auto backAndForth = [](int limit) {
        std::vector<int> qs;
        for (int q = 0; q < limit; q += 4) qs.push_back(q);
        for (int q = qs.back() + 4 - 2; q >= -2; q -= 4) qs.push_back(q);
        return qs;
    };
    for (int q : backAndForth(200)) columns.push_back(TRect{kU.Left + q, kU.Top, kU.Left + q + 2, kU.Bottom});
    for (int q : backAndForth(150)) rows.push_back(TRect{kU.Left, kU.Top + q, kU.Right, kU.Top + q + 2});
    EXPECT_EQ(backAndForth(12), (std::vector<int>{0, 4, 8, 10, 6, 2, -2}));
    // The door: from the left at 0, 4, 8, ... and from the right at 198, 194, ... in turns.
    for (int q = 0; q <= 200; q += 2) {
        int x = q % 4 == 0 ? q : 200 - q;
        door.push_back(TRect{kU.Left + x, kU.Top, kU.Left + x + 2, kU.Bottom});
    }
    ExpectPieces(Record(8, 3), columns, 8, "back and forth, columns", true);
    ExpectPieces(Record(9, 3), rows, 8, "back and forth, rows", true);
    ExpectPieces(Record(10, 3), door, 8, "door", true);
    // Random lines: every one-pixel column (row) of the area once, in no fixed order.
    for (int code : {11, 12}) {
        auto calls = Record(code, 4);
        int n = code == 11 ? 200 : 150;
        ASSERT_EQ(calls.size(), size_t(n) + 1);
        std::set<int> seen;
        bool inOrder = true;
        for (int i = 0; i < n; ++i) {
            const TCall& c = calls[size_t(i)];
            int at = code == 11 ? c.box.Left - kU.Left : c.box.Top - kU.Top;
            TRect want = code == 11 ? TRect{kU.Left + at, kU.Top, kU.Left + at + 1, kU.Bottom}
                                    : TRect{kU.Left, kU.Top + at, kU.Right, kU.Top + at + 1};
            EXPECT_TRUE(c.Is(want)) << code << " call " << i;
            EXPECT_EQ(c.ms, 5u);
            inOrder = inOrder && at == i;
            seen.insert(at);
        }
        EXPECT_EQ(seen.size(), size_t(n));
        EXPECT_FALSE(inOrder);
    }
}

TEST_F(StepRevealTest, BlindsTakeSixteenStepsOfEverySixteenthLine) {
    for (int code : {6, 7}) {
        auto calls = Record(code, 2);
        ASSERT_EQ(calls.size(), 16u);
        for (int s = 0; s < 16; ++s) {
            const TCall& c = calls[size_t(s)];
            EXPECT_EQ(c.ms, 36u);
            const std::set<int>& lines = code == 6 ? c.xs : c.ys;
            std::set<int> want;
            for (int v = (code == 6 ? kU.Left : kU.Top) + s; v < (code == 6 ? kU.Right : kU.Bottom); v += 16) want.insert(v);
            EXPECT_EQ(lines, want) << code << " step " << s;
            EXPECT_EQ(c.count, int(want.size()) * (code == 6 ? kU.Height() : kU.Width())) << code << " step " << s;
        }
        EXPECT_TRUE(calls.back().ended);
    }
}

TEST_F(StepRevealTest, ZoomDrawsSquareRingsAboutTheCentre) {
    // Size 200: 50 rings; ring q has the half side t = 2q (in) or 2 (50 - q) (out) about (130, 100).
    for (int code : {4, 5}) {
        auto calls = Record(code, 3);
        ASSERT_EQ(calls.size(), 51u);
        for (int q = 0; q < 50; ++q) {
            const TCall& c = calls[size_t(q)];
            int t = code == 4 ? 2 * q : 2 * (50 - q);
            TRect outer = Clip(TRect{130 - t - 2, 100 - t - 2, 130 + t + 2, 100 + t + 2});
            TRect inner = Clip(TRect{130 - t, 100 - t, 130 + t, 100 + t});
            int ring = outer.Width() * outer.Height() - inner.Width() * inner.Height();
            EXPECT_EQ(c.count, ring) << code << " ring " << q;
            if (ring > 0) {
                EXPECT_EQ(c.box, outer) << code << " ring " << q;
            }
            EXPECT_EQ(c.ms, 6u);
        }
    }
}

// The compress shows the new picture up to its edge and the old one squeezed into the next m
// columns: column i after the edge shows the old column m + T[m - i] after it.
TEST_F(StepRevealTest, CompressSqueezesTheOldPictureBehindTheEdge) {
    std::array<int, 50> table{};
    table[0] = -1;
    for (int j = 1; j < 50; ++j) table[size_t(j)] = table[size_t(j - 1)] - (2 + (j - 1) / 4);
    EXPECT_EQ(table[5], -12);
    EXPECT_EQ(table[49], -375);
    for (int speed : {0, 10}) {
        int m = speed * 4 + 10;
        auto calls = Record(1, speed);
        ASSERT_EQ(calls.size(), 201u);
        TFakeHost& h = *host_;
        for (int n = 0; n < 200; ++n) {
            const TCall& c = calls[size_t(n)];
            EXPECT_EQ(c.ms, 0u);
            int squeezed = std::min(m, 200 - 1 - n);
            EXPECT_TRUE(c.Is(TRect{kU.Left + n, kU.Top, kU.Left + n + 1 + squeezed, kU.Bottom})) << speed << " step " << n;
        }
        // Replays step n = 60 alone to read its columns.
        h.FillForm(kMarker);
        h.Engine.SetEffectCode(1);
        h.SetOld(200, 150, 30, 25, 1);
        h.Engine.PrepareTransition();
        h.Engine.State().Step = 60;
        bool done;
        h.Engine.TransitionStep(done);
        TBitmap& old = *h.Mons[0].Bitmap;
        for (int y : {kU.Top, kU.Top + 70, kU.Bottom - 1}) {
            EXPECT_EQ(h.Form.Row32(y)[kU.Left + 60], h.Picture.Row32(y - kU.Top)[60]);
            for (int i = 1; i <= m; ++i) {
                int from = 60 + m + table[size_t(m - i)];
                uint32_t want = from >= 0 ? old.Row32(y - kU.Top)[from] : h.BgPixel();
                ASSERT_EQ(h.Form.Row32(y)[kU.Left + 60 + i], want) << "speed " << speed << " column " << i;
            }
        }
    }
}

// Bubbles (cells of 6) and fog (cells of 2): "down" opens from the top, "up" from the bottom, the
// even ones anywhere; the pause (a quarter of the speed, in ms) comes on every 4th (bubbles) or
// 128th (fog) call, after each cell.
TEST_F(StepRevealTest, CellsOpenFromTheirSideAndPauseInTheirRhythm) {
    struct Case {
        int code, cell, perCall, rhythm;
    } cases[] = {{18, 6, 16, 4},   {19, 6, 16, 4},   {20, 6, 16, 4},
                 {60, 2, 64, 128}, {61, 2, 64, 128}, {62, 2, 64, 128}};
    // At 4 a third or a fifth of the speed would round to the same pause as a quarter; at 10 they
    // would not.
    for (int speed : {4, 10}) {
        for (const Case& k : cases) {
            auto calls = Record(k.code, speed);
            int columns = (200 + k.cell - 1) / k.cell, cells = columns * ((150 + k.cell - 1) / k.cell);
            ASSERT_EQ(calls.size(), size_t((cells + k.perCall - 1) / k.perCall)) << k.code;
            // The first call's cells come from the first (last) step + 2 x cells-per-call indexes.
            int window = cells / k.cell + 2 * k.perCall;
            int reach = (window + columns - 1) / columns * k.cell; // rows of pixels those indexes cover
            const TCall& first = calls[0];
            // Cells at the right edge are cut.
            EXPECT_GT(first.count, k.perCall * k.cell * k.cell / 2) << k.code;
            EXPECT_LE(first.count, k.perCall * k.cell * k.cell) << k.code;
            if (k.code == 19 || k.code == 61) {
                EXPECT_LE(first.box.Bottom, kU.Top + reach) << k.code;
            } else if (k.code == 20 || k.code == 62) {
                EXPECT_GE(first.box.Top, kU.Bottom - reach) << k.code;
            } else {
                EXPECT_GT(first.box.Bottom, kU.Top + reach) << k.code;
            }
            for (size_t i = 0; i + 1 < calls.size(); ++i)
                EXPECT_EQ(calls[i].ms,
                          (i + 1) % size_t(k.rhythm) == 0 ? uint32_t(k.perCall * (speed / 4)) : 0u)
                    << k.code << " speed " << speed << " call " << i;
        }
    }
}

// The wipes follow the clock: each call uncovers the strip from where the last one stopped.
TEST_F(StepRevealTest, WipesUncoverStripAfterStrip) {
    for (int code : {2, 3}) {
        auto calls = Record(code);
        int edge = code == 2 ? kU.Left : kU.Top;
        for (const TCall& c : calls) {
            if (c.count == 0) continue;
            TRect want = code == 2 ? TRect{edge, kU.Top, c.box.Right, kU.Bottom} : TRect{kU.Left, edge, kU.Right, c.box.Bottom};
            EXPECT_TRUE(c.Is(want)) << code;
            edge = code == 2 ? c.box.Right : c.box.Bottom;
        }
        EXPECT_EQ(edge, code == 2 ? kU.Right : kU.Bottom);
    }
}

} // namespace
} // namespace lumora
