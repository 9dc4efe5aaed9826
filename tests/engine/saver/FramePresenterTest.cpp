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

TEST(FramePresenterTest, MarksBecomeAFewRectanglesThatCoverEachOfThem) {
    struct Case {
        const char* what;
        std::vector<TRect> marks;
        size_t rects; // how many rectangles they become
    } cases[] = {
        {"inside an earlier one", {{0, 0, 100, 100}, {10, 10, 20, 20}}, 1},
        {"covering earlier ones", {{10, 10, 20, 20}, {50, 50, 60, 60}, {0, 0, 100, 100}}, 1},
        {"far apart, while there is room", {{0, 0, 4, 4}, {500, 0, 504, 4}, {0, 500, 4, 504}}, 3},
        {"empty", {{5, 5, 5, 9}, {7, 7, 3, 9}}, 0},
    };
    for (const Case& c : cases) {
        TDirtyArea area;
        for (const TRect& m : c.marks) area.Add(m);
        EXPECT_EQ(area.Rects().size(), c.rects) << c.what;
        for (const TRect& m : c.marks) {
            if (m.IsEmpty()) continue;
            EXPECT_TRUE(Covered(area.Rects(), m.Left, m.Top)) << c.what;
            EXPECT_TRUE(Covered(area.Rects(), m.Right - 1, m.Bottom - 1)) << c.what;
        }
    }
    // Scattered cells, as the fog marks them: every pixel of every cell is covered by the few.
    RandSeed(3);
    TDirtyArea area;
    std::vector<TRect> cells;
    for (int i = 0; i < 2000; ++i) {
        const int x = Random(960) * 2, y = Random(540) * 2;
        cells.push_back(TRect{x, y, x + 2, y + 2});
        area.Add(cells.back());
        ASSERT_LE(area.Rects().size(), TDirtyArea::Capacity);
    }
    for (const TRect& cell : cells)
        for (int y = cell.Top; y < cell.Bottom; ++y)
            for (int x = cell.Left; x < cell.Right; ++x) ASSERT_TRUE(Covered(area.Rects(), x, y)) << x << "," << y;
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
// them until the change took minutes); a few rectangles per frame of 10 ms come to under 20,000,
// even with each idle call taking a millisecond.
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
