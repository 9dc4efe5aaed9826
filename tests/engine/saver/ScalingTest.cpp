// Resizing: the sizes the saver asks for, the resampling arithmetic against a direct reading of
// the formulas, and the guards for empty and degenerate inputs.
#include <algorithm>
#include <cmath>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <random>

#include <gtest/gtest.h>

#include "engine/saver/Scaling.h"

namespace lumora {
namespace {

std::unique_ptr<TBitmap> Noise(int w, int h, uint32_t seed) {
    auto b = std::make_unique<TBitmap>(w, h);
    std::mt19937 rng(seed);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) b->Row32(y)[x] = rng() & 0x00FFFFFF;
    return b;
}

uint8_t Ch(uint32_t p, int c) { return static_cast<uint8_t>(p >> (8 * c)); }

// The area average exactly as written: inclusive blocks from Ceil(i / r) to Trunc((i + 1) / r).
uint32_t AreaReference(const TBitmap& src, double r, int x, int y) {
    int x0 = static_cast<int>(std::ceil(x / r)), x1 = std::min<int>(std::trunc((x + 1) / r), src.Width() - 1);
    int y0 = static_cast<int>(std::ceil(y / r)), y1 = std::min<int>(std::trunc((y + 1) / r), src.Height() - 1);
    uint64_t sum[3] = {};
    for (int sy = y0; sy <= y1; ++sy)
        for (int sx = x0; sx <= x1; ++sx)
            for (int c = 0; c < 3; ++c) sum[c] += Ch(src.Row32(sy)[sx], c);
    uint64_t n = uint64_t(x1 - x0 + 1) * (y1 - y0 + 1);
    return uint32_t(sum[0] / n) | uint32_t(sum[1] / n) << 8 | uint32_t(sum[2] / n) << 16;
}

uint32_t BilinearReference(const TBitmap& src, double r, int x, int y) {
    double fx = x / r, fy = y / r, wx = fx - std::trunc(fx), wy = fy - std::trunc(fy);
    int x0 = int(fx), y0 = int(fy);
    int x1 = x0 + 1 >= src.Width() ? x0 : x0 + 1, y1 = y0 + 1 >= src.Height() ? y0 : y0 + 1;
    uint32_t out = 0;
    for (int c = 0; c < 3; ++c) {
        double v = ((Ch(src.Row32(y0)[x0], c) * (1 - wx) + Ch(src.Row32(y0)[x1], c) * wx) * (1 - wy)) +
                   ((Ch(src.Row32(y1)[x0], c) * (1 - wx) + Ch(src.Row32(y1)[x1], c) * wx) * wy);
        out |= uint32_t(std::trunc(v)) << (8 * c);
    }
    return out;
}

TEST(ScalingTest, FitKeepsAspectAndFillsOneSide) {
    struct Case { int bw, bh, W, H, ew, eh; } cases[] = {
        {1000, 500, 800, 600, 800, 400}, {1000, 500, 400, 600, 400, 200}, {500, 1000, 800, 600, 300, 600},
        {3000, 2000, 1920, 1080, 1620, 1080}, {640, 480, 1920, 1080, 1440, 1080}, {10, 10, 7, 3, 3, 3},
    };
    for (bool smooth : {true, false})
        for (const auto& c : cases) {
            auto b = Noise(c.bw, c.bh, 1);
            FitBitmap(c.W, c.H, smooth, b);
            EXPECT_EQ(b->Width(), c.ew) << c.bw << "x" << c.bh << " into " << c.W << "x" << c.H;
            EXPECT_EQ(b->Height(), c.eh) << c.bw << "x" << c.bh << " into " << c.W << "x" << c.H;
            EXPECT_EQ(b->PixelFormat(), TPixelFormat::pf32bit);
        }
}

TEST(ScalingTest, RequestedSideIsExactForEverySize) {
    // A ratio such as 49/127 has no exact floating-point form; the side asked for must still come
    // out exactly, never one pixel short.
    for (int sw = 1; sw <= 130; sw += 3)
        for (int target : {1, 7, 49, 64, 99, 255}) {
            auto b = Noise(sw, 5, 2);
            ResizeBitmap(target, 1, true, b);
            if (target * 5 >= sw) { // the width sets the ratio
                EXPECT_EQ(b->Width(), target) << sw << " -> " << target;
                EXPECT_GE(b->Height(), 1);
            } else {
                EXPECT_EQ(b->Height(), 1) << sw << " -> " << target;
                EXPECT_GE(b->Width(), target);
            }
        }
}

TEST(ScalingTest, AreaAverageMatchesTheFormula) {
    for (double r : {0.5, 0.27, 0.333, 0.1, 0.9}) {
        auto src = Noise(97, 61, 3);
        TBitmap dst;
        ShrinkBitmap(*src, dst, r);
        ASSERT_EQ(dst.Width(), int(std::trunc(97 * r)));
        ASSERT_EQ(dst.Height(), int(std::trunc(61 * r)));
        for (int y = 0; y < dst.Height(); ++y)
            for (int x = 0; x < dst.Width(); ++x)
                ASSERT_EQ(dst.Row32(y)[x], AreaReference(*src, r, x, y)) << "ratio " << r << " at " << x << "," << y;
    }
}

TEST(ScalingTest, LargePicturesWorkedInBandsMatchTheFormula) {
    // Big enough to be split into bands of rows worked on side by side.
    auto src = Noise(2500, 1700, 10);
    for (double r : {0.27, 0.5}) {
        TBitmap dst;
        ShrinkBitmap(*src, dst, r);
        for (int y = 0; y < dst.Height(); y += 3)
            for (int x = y % 7; x < dst.Width(); x += 7)
                ASSERT_EQ(dst.Row32(y)[x], AreaReference(*src, r, x, y)) << "ratio " << r << " at " << x << "," << y;
        // The last row of every band is there too.
        int y = dst.Height() - 1;
        for (int x = 0; x < dst.Width(); ++x) ASSERT_EQ(dst.Row32(y)[x], AreaReference(*src, r, x, y));
    }
}

TEST(ScalingTest, AreaAverageOfWideBlocksUsesFullSums) {
    // Blocks wider than the packed lanes can hold take the plain path; a white source must stay white.
    auto src = std::make_unique<TBitmap>(1200, 600);
    for (int y = 0; y < 600; ++y) std::fill(src->Row32(y), src->Row32(y) + 1200, 0x00FFFFFFu);
    TBitmap dst;
    ShrinkBitmap(*src, dst, 0.002);
    ASSERT_EQ(dst.Width(), 2);
    ASSERT_EQ(dst.Height(), 1);
    EXPECT_EQ(dst.Row32(0)[0], 0x00FFFFFFu);
    EXPECT_EQ(dst.Row32(0)[1], 0x00FFFFFFu);
    auto noise = Noise(900, 300, 4);
    ShrinkBitmap(*noise, dst, 1.0 / 300);
    for (int x = 0; x < dst.Width(); ++x) EXPECT_EQ(dst.Row32(0)[x], AreaReference(*noise, 1.0 / 300, x, 0));
}

TEST(ScalingTest, FittingRowsAsTheyArriveGivesTheSamePixelsAsFittingTheWhole) {
    struct Case { int w, h, W, H; } cases[] = {
        {3001, 2003, 1920, 1080}, {2003, 3001, 1920, 1080}, {601, 403, 160, 90}, {333, 999, 200, 100},
        {97, 61, 96, 60},         {1031, 257, 50, 50},      {640, 480, 639, 479}, {1000, 500, 400, 200},
        {10000, 3, 100, 100},     {5, 901, 7, 7},
    };
    // A picture stored turned or mirrored sends its rows as stored and is fitted as it stands upright.
    for (const auto& c : cases)
        for (int orientation = 1; orientation <= 8; ++orientation) {
            // Photograph-sized cases are checked upright and on their side only, to keep the test quick.
            if (c.w * c.h > 1'000'000 && orientation != 1 && orientation != 6) continue;
            SCOPED_TRACE(std::to_string(c.w) + "x" + std::to_string(c.h) + " into " + std::to_string(c.W) +
                         "x" + std::to_string(c.H) + ", orientation " + std::to_string(orientation));
            auto src = Noise(c.w, c.h, static_cast<uint32_t>(c.w + c.h));
            // The spare byte must not leak into the averages either way.
            for (int y = 0; y < c.h; y += 2) src->Row32(y)[y % c.w] |= 0xFF000000u;
            std::unique_ptr<TRowFit> fit = TRowFit::Plan(c.w, c.h, c.W, c.H, orientation);
            ASSERT_TRUE(fit);
            for (int y = 0; y < c.h; ++y) {
                std::copy(src->Row32(y), src->Row32(y) + c.w, fit->SourceRow(y));
                fit->RowDone(y);
            }
            std::unique_ptr<TBitmap> rows = fit->Result();
            OrientUpright(*src, orientation);
            FitBitmap(c.W, c.H, true, src);
            ASSERT_EQ(rows->Width(), src->Width());
            ASSERT_EQ(rows->Height(), src->Height());
            EXPECT_EQ(rows->PixelFormat(), TPixelFormat::pf32bit);
            for (int y = 0; y < src->Height(); ++y)
                ASSERT_TRUE(std::equal(src->Row32(y), src->Row32(y) + src->Width(), rows->Row32(y)))
                    << "row " << y;
        }
    // A decoder that stops early (damaged data) gets the rows made so far, or drops the fit, at once.
    // On its side (orientation 6) the stored rows made so far are the upright picture's columns from
    // the right, and the worker writes them upright in strips: a strip cut short still shows.
    auto src = Noise(601, 403, 11);
    for (int orientation : {1, 6})
        for (bool take : {true, false}) {
            SCOPED_TRACE("stopping early, orientation " + std::to_string(orientation));
            std::unique_ptr<TRowFit> fit = TRowFit::Plan(601, 403, 160, 90, orientation);
            ASSERT_TRUE(fit);
            for (int y = 0; y < 200; ++y) {
                std::copy(src->Row32(y), src->Row32(y) + 601, fit->SourceRow(y));
                fit->RowDone(y);
            }
            if (!take) continue;
            std::unique_ptr<TBitmap> part = fit->Result();
            auto whole = std::make_unique<TBitmap>();
            whole->Assign(*src);
            OrientUpright(*whole, orientation);
            FitBitmap(160, 90, true, whole);
            ASSERT_EQ(part->Width(), whole->Width());
            ASSERT_EQ(part->Height(), whole->Height());
            for (int y = 0; y < part->Height(); ++y)
                for (int x = 0; x < part->Width(); ++x) {
                    // Upright, destination row y reads source rows up to Trunc((y + 1) * 403 / 90); on
                    // its side, upright column x reads stored rows down to 402 - Ceil(x * 601 / 90).
                    const bool complete =
                        orientation == 1 ? (y + 1) * 403 / 90 < 200 : 402 - (x * 601 + 89) / 90 < 200;
                    ASSERT_EQ(part->Row32(y)[x], complete ? whole->Row32(y)[x] : 0u) << x << "," << y;
                }
        }
    // Enlarging, keeping the size, blocks too large for the packed sums, and empty boxes are left to
    // FitBitmap on the whole picture.
    EXPECT_FALSE(TRowFit::Plan(300, 200, 1920, 1080));
    EXPECT_FALSE(TRowFit::Plan(300, 200, 300, 400));
    EXPECT_FALSE(TRowFit::Plan(1200, 600, 2, 1));
    EXPECT_FALSE(TRowFit::Plan(300, 200, 0, 100));
    EXPECT_FALSE(TRowFit::Plan(0, 200, 100, 100));
}

// The decoder may write into a slot of the ring only once every block that reads the row there is
// averaged. The worker is held before each destination row until the decoder has written all it
// may and waits for a slot (a row from that block's first on), or has written the whole picture: a
// slot given back too soon then holds a later row when its block is averaged.
struct THeldWorker {
    std::mutex mutex;
    std::condition_variable changed;
    int sourceHeight = 0, fittedHeight = 0;
    int waitingFor = -1; // the furthest row the decoder has waited to see averaged
    bool decoderDone = false;
};
THeldWorker* g_held = nullptr;

void HoldTheWorker(TRowFit::TStep step, int row) {
    THeldWorker& h = *g_held;
    std::unique_lock lock(h.mutex);
    if (step == TRowFit::TStep::WaitingForRow) {
        h.waitingFor = std::max(h.waitingFor, row);
        h.changed.notify_all();
        return;
    }
    // Destination row d reads source rows from Ceil(d / ratio) on; the height sets the ratio here.
    const int first = static_cast<int>((int64_t(row) * h.sourceHeight + h.fittedHeight - 1) / h.fittedHeight);
    h.changed.wait(lock, [&] { return h.decoderDone || h.waitingFor >= first; });
}

TEST(ScalingTest, FittingRowsAsTheyArriveNeverOverwritesARowStillToBeAveraged) {
    struct Case {
        int w, h, W, H;
    } cases[] = {{4000, 3000, 1000, 750}, {6000, 1000, 1800, 300}, {12000, 403, 3200, 90}}; // taller than the ring
    for (const auto& c : cases) {
        auto src = Noise(c.w, c.h, static_cast<uint32_t>(c.w * 7 + c.h));
        THeldWorker held;
        held.sourceHeight = c.h;
        held.fittedHeight = c.H;
        g_held = &held;
        TRowFit::TestProbe = HoldTheWorker;
        std::unique_ptr<TRowFit> fit = TRowFit::Plan(c.w, c.h, c.W, c.H);
        ASSERT_TRUE(fit);
        for (int y = 0; y < c.h; ++y) {
            std::copy(src->Row32(y), src->Row32(y) + c.w, fit->SourceRow(y));
            fit->RowDone(y);
        }
        {
            std::lock_guard lock(held.mutex);
            held.decoderDone = true;
        }
        held.changed.notify_all();
        std::unique_ptr<TBitmap> rows = fit->Result();
        fit.reset();
        TRowFit::TestProbe = nullptr;
        g_held = nullptr;
        FitBitmap(c.W, c.H, true, src);
        ASSERT_EQ(rows->Height(), c.H);
        int wrong = 0;
        for (int y = 0; y < c.H; ++y)
            for (int x = 0; x < src->Width(); ++x)
                wrong += rows->Row32(y)[x] != src->Row32(y)[x];
        EXPECT_EQ(wrong, 0) << c.w << "x" << c.h << " into " << c.W << "x" << c.H;
        // The decoder did run ahead into a full ring.
        EXPECT_GE(held.waitingFor, 0) << c.w << "x" << c.h;
    }
}

TEST(ScalingTest, EnlargingInterpolatesAndRepeatsTheEdge) {
    auto src = std::make_unique<TBitmap>(2, 1);
    src->Row32(0)[0] = 0x00000000;
    src->Row32(0)[1] = 0x00C8640A; // red 200, green 100, blue 10
    TBitmap dst;
    ShrinkBitmap(*src, dst, 2.0);
    ASSERT_EQ(dst.Width(), 4);
    ASSERT_EQ(dst.Height(), 2);
    EXPECT_EQ(dst.Row32(0)[0], 0x00000000u);
    EXPECT_EQ(dst.Row32(0)[1], 0x00643205u); // half way
    EXPECT_EQ(dst.Row32(0)[2], 0x00C8640Au);
    EXPECT_EQ(dst.Row32(0)[3], 0x00C8640Au); // the last column repeats the edge
    EXPECT_EQ(dst.Row32(1)[1], 0x00643205u); // so does the last row

    auto noise = Noise(13, 9, 5);
    for (double r : {2.0, 1.7, 3.3}) {
        ShrinkBitmap(*noise, dst, r);
        for (int y = 0; y < dst.Height(); ++y)
            for (int x = 0; x < dst.Width(); ++x)
                ASSERT_EQ(dst.Row32(y)[x], BilinearReference(*noise, r, x, y)) << r << " " << x << "," << y;
    }
}

TEST(ScalingTest, RatioOneCopiesAndByteThreeStaysZero) {
    auto src = Noise(31, 17, 6);
    TBitmap dst;
    ShrinkBitmap(*src, dst, 1.0);
    ASSERT_EQ(dst.Width(), 31);
    for (int y = 0; y < 17; ++y)
        for (int x = 0; x < 31; ++x) ASSERT_EQ(dst.Row32(y)[x], src->Row32(y)[x]);
    // A source whose spare byte is set must not leak it into the result.
    for (int y = 0; y < 17; ++y)
        for (int x = 0; x < 31; ++x) src->Row32(y)[x] |= 0xFF000000u;
    for (double r : {0.4, 2.5}) {
        ShrinkBitmap(*src, dst, r);
        for (int y = 0; y < dst.Height(); ++y)
            for (int x = 0; x < dst.Width(); ++x) ASSERT_EQ(dst.Row32(y)[x] >> 24, 0u);
    }
}

TEST(ScalingTest, DegenerateInputsAreLeftAloneOrKeptVisible) {
    auto empty = std::make_unique<TBitmap>();
    FitBitmap(100, 100, true, empty);
    EXPECT_EQ(empty->Width(), 0);

    auto b = Noise(40, 20, 7);
    TBitmap* before = b.get();
    FitBitmap(0, 100, true, b);
    FitBitmap(100, -5, true, b);
    FitBitmap(-100, -5, false, b);
    EXPECT_EQ(b.get(), before);
    EXPECT_EQ(b->Width(), 40);

    // An extreme aspect ratio keeps a one-pixel sliver instead of vanishing.
    auto sliver = Noise(10000, 1, 8);
    FitBitmap(100, 100, true, sliver);
    EXPECT_EQ(sliver->Width(), 100);
    EXPECT_EQ(sliver->Height(), 1);

    TBitmap dst;
    ShrinkBitmap(*Noise(4, 4, 9), dst, 0.0);
    EXPECT_EQ(dst.Width(), 0);
    ShrinkBitmap(*Noise(4, 4, 9), dst, std::nan(""));
    EXPECT_EQ(dst.Width(), 0);
}

TEST(ScalingTest, PlainStretchIsNearestNeighbour) {
    auto src = std::make_unique<TBitmap>(2, 2);
    src->Row32(0)[0] = 1;
    src->Row32(0)[1] = 2;
    src->Row32(1)[0] = 3;
    src->Row32(1)[1] = 4;
    ResizeBitmap(4, 6, false, src);
    ASSERT_EQ(src->Width(), 4);
    ASSERT_EQ(src->Height(), 6);
    EXPECT_EQ(src->Row32(0)[1], 1u);
    EXPECT_EQ(src->Row32(2)[2], 2u);
    EXPECT_EQ(src->Row32(5)[3], 4u);
}

} // namespace
} // namespace lumora
