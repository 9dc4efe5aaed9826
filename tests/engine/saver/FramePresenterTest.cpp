// Presenting the framebuffer: the marks of a frame become a few rectangles that cover every one of
// them, and a reveal of thousands of small cells hands the window system a few repaints per frame.
#include <QCoreApplication>
#include <QPaintEvent>

#include <gtest/gtest.h>

#include "engine/saver/FramePresenter.h"
#include "platform/system/Random.h"
#include "tests/engine/saver/DesktopTestSupport.h"

namespace lumora {
namespace {

bool Covered(const std::vector<TRect>& rects, int x, int y) {
    for (const TRect& r : rects)
        if (x >= r.Left && x < r.Right && y >= r.Top && y < r.Bottom) return true;
    return false;
}

TEST(FramePresenterTest, MarksBecomeAFewRectanglesOnTheTileGridThatCoverEachOfThem) {
    constexpr int T = TDirtyArea::Tile;
    struct Case {
        const char* what;
        std::vector<TRect> marks;
        std::vector<TRect> rects;
    } cases[] = {
        {"one inside another", {{0, 0, T + T / 2, T + T / 2}, {10, 10, 20, 20}}, {{0, 0, 2 * T, 2 * T}}},
        {"far apart", {{0, 0, 4, 4}, {10 * T + 1, 0, 10 * T + 5, 4}}, {{0, 0, T, T}, {10 * T, 0, 11 * T, T}}},
        {"the same columns on rows next to each other",
         {{0, 0, 3 * T + 5, 10}, {0, T + 4, 3 * T + 5, T + 14}},
         {{0, 0, 4 * T, 2 * T}}},
        {"rows with a row between",
         {{0, 0, T, 1}, {0, 2 * T, T, 2 * T + 1}},
         {{0, 0, T, T}, {0, 2 * T, T, 3 * T}}},
        {"on a tile's last pixel", {{T - 1, T - 1, T, T}}, {{0, 0, T, T}}},
        {"a pixel past a tile's corner", {{T - 1, T - 1, T + 1, T + 1}}, {{0, 0, 2 * T, 2 * T}}},
        // The sides of a zoom's square on a tall screen: more runs than a present hands over, but two
        // rectangles once stacked.
        {"two tall columns apart",
         {{0, 0, 2, 200 * T}, {40 * T, 0, 40 * T + 2, 200 * T}},
         {{0, 0, T, 200 * T}, {40 * T, 0, 41 * T, 200 * T}}},
        {"empty", {{5, 5, 5, 9}, {7, 7, 3, 9}}, {}},
    };
    for (const Case& c : cases) {
        TDirtyArea area;
        for (const TRect& m : c.marks)
            area.Add(m);
        EXPECT_EQ(area.TakeRects(), c.rects) << c.what;
        EXPECT_TRUE(area.TakeRects().empty()) << c.what; // taking them clears them
    }
    // Scattered cells, as the fog marks them: every pixel of every cell is covered by a few
    // rectangles, all on the grid.
    RandSeed(3);
    for (int count : {40, 2000}) {
        TDirtyArea area;
        std::vector<TRect> cells;
        for (int i = 0; i < count; ++i) {
            const int x = Random(960) * 2, y = Random(540) * 2;
            cells.push_back(TRect{x, y, x + 2, y + 2});
            area.Add(cells.back());
        }
        const std::vector<TRect> rects = area.TakeRects();
        EXPECT_LE(rects.size(), TDirtyArea::MaxRects) << count;
        for (const TRect& r : rects)
            EXPECT_TRUE(r.Left % T == 0 && r.Top % T == 0 && r.Right % T == 0 && r.Bottom % T == 0) << count;
        for (const TRect& cell : cells)
            for (int y = cell.Top; y < cell.Bottom; ++y)
                for (int x = cell.Left; x < cell.Right; ++x)
                    ASSERT_TRUE(Covered(rects, x, y)) << count << ": " << x << "," << y;
    }
}

// Counts the rectangles of the paint events a window gets.
class PaintCounter : public QObject {
public:
    int64_t rects = 0;
    int paints = 0;

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint) {
            rects += static_cast<QPaintEvent*>(event)->region().rectCount();
            ++paints;
        }
        return false;
    }
};

// At 1920 x 1080 the fog reveals 518,400 cells of 2 x 2 pixels. Handed over one by one they reached
// the paint events as over 300,000 pieces (and the X window system's cost per repaint grew with
// them until the change took minutes); tiles gathered over a frame come to under 20,000, even with
// each idle call taking a millisecond.
TEST(FramePresenterTest, TheFogHandsTheWindowSystemAFewRectanglesPerFrame) {
    for (int index : {71, 72, 73}) { // 霧, 霧下へ, 霧上へ
        test::SaverHarness h({TMonitor{TRect{0, 0, 1920, 1080}, true}});
        h.PictureFolder({clRed, clBlue}, 1920, 1080);
        h.OnlyEffects({index});
        h.Set("Setting", "Interval", "1");
        TDesktopWindow& w = h.Open();
        h.NextChange(); // the cross-fade from the desktop
        PaintCounter counter;
        w.installEventFilter(&counter);
        const int target = h.changesEnded + 1;
        // Idle calls with the events between them, as the event loop gives them, and time moving on.
        for (int pass = 0; pass < 200000 && h.changesEnded < target; ++pass) {
            h.clock.Advance(1);
            h.WaitForReader();
            Application().DoIdle();
            QCoreApplication::processEvents();
        }
        w.removeEventFilter(&counter);
        ASSERT_EQ(h.changesEnded, target) << index;
        EXPECT_EQ(w.Engine().EffectCode(), EffectCodeTable[static_cast<size_t>(index)]);
        const TBoundsRec& r = w.NewPictureRect();
        EXPECT_EQ(h.FormPixel(r.X, r.Y), test::Px(clBlue)) << index;
        EXPECT_EQ(h.FormPixel(r.X + r.W - 1, r.Y + r.H - 1), test::Px(clBlue)) << index;
        EXPECT_GT(counter.paints, 0) << index;
        EXPECT_LT(counter.rects, 50000) << index;
    }
}

} // namespace
} // namespace lumora
