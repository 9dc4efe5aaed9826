// Presenting the framebuffer: the marks of a frame become a few rectangles that cover every one of
// them, and a reveal of thousands of small cells hands the window system a few repaints per frame.
#include <QCoreApplication>
#include <QImage>
#include <QPaintEvent>
#include <QPixmap>
#include <QScreen>

#include <gtest/gtest.h>

#include "engine/saver/FramePresenter.h"
#include "platform/system/Random.h"
#include "tests/engine/saver/DesktopTestSupport.h"
#include "tests/support/HaveTool.h"
#include "tests/support/Xvfb.h"

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

// What the window shows, read back from the X server, against the framebuffer: the pixels that
// differ, and the first of them.
struct TScreenDiff {
    int count = 0;
    int x = -1, y = -1;
};
TScreenDiff CompareWithScreen(QWidget& window, TBitmap& form) {
    const QImage shown = window.screen()->grabWindow(window.winId()).toImage().convertToFormat(QImage::Format_RGB32);
    TScreenDiff diff;
    if (shown.width() != form.Width() || shown.height() != form.Height()) {
        diff.count = -1;
        return diff;
    }
    for (int y = 0; y < form.Height(); ++y) {
        const auto* s = reinterpret_cast<const uint32_t*>(shown.constScanLine(y));
        const uint32_t* f = form.Row32(y);
        for (int x = 0; x < form.Width(); ++x)
            if ((s[x] & 0xFFFFFF) != (f[x] & 0xFFFFFF) && diff.count++ == 0) diff.x = x, diff.y = y;
    }
    return diff;
}

// Whatever the presenter hands over in a frame reaches the screen: after every present, the window
// in the X server shows the framebuffer whole, for effects of each family, on a screen whose sides
// are no multiple of a tile. Time is virtual, so the presents fall at the same points however busy
// the machine; the comparison waits for nothing but the events the present posted.
TEST(FramePresenterTest, AfterEveryPresentTheScreenShowsTheFramebuffer) {
    if (!test::InTestXServer()) {
        if (!test::HaveTool("Xvfb")) GTEST_SKIP() << "no Xvfb";
        std::string out;
        const int status = test::RunTestInXvfb("-screen 0 1000x613x24",
                                               "FramePresenterTest.AfterEveryPresentTheScreenShowsTheFramebuffer", out);
        EXPECT_TRUE(status == 0 && out.find("[  PASSED  ] 1 test") != std::string::npos) << out;
        return;
    }
    // ﾌﾞﾚﾝﾄﾞ, ﾘﾌﾟﾙ&ﾌﾞﾚﾝﾄﾞ, ﾓｻﾞｲｸ, ｽﾌﾟﾚｰ, 圧縮, 伸縮下へ, ｽﾞｰﾑｲﾝ, ﾌﾞﾗｲﾝﾄﾞ横, 霧, 移動下へ, 次ﾍﾟｰｼﾞ左右,
    // and none (each picture drawn whole at once)
    for (int index : {0, 5, 28, 40, 47, 48, 54, 57, 71, 74, 86, -1}) {
        test::SaverHarness h({TMonitor{TRect{0, 0, 1000, 613}, true}});
        // A picture smaller than the screen between two that fill it: the changes draw the
        // background around it too.
        test::WriteSolidBmp(h.dir, "pics/p10.bmp", 1000, 613, clRed);
        test::WriteSolidBmp(h.dir, "pics/p11.bmp", 777, 451, clBlue);
        test::WriteSolidBmp(h.dir, "pics/p12.bmp", 1000, 613, clLime);
        h.Set("Setting", "Folder", h.dir.File("pics"));
        h.Set("Setting", "OrdRandom", "0");
        h.OnlyEffects(index < 0 ? std::vector<int>{} : std::vector<int>{index});
        h.Set("Setting", "Interval", "1");
        TDesktopWindow& w = h.Open();
        PaintCounter counter;
        w.installEventFilter(&counter);
        int presents = 0;
        // The first change fades from the desktop; the next two run the effect, and are watched.
        bool shown = true;
        for (int pass = 0; pass < 100000 && h.changesEnded < 3 && shown; ++pass) {
            // The presenter's frame ends on a timer, and the time that fires it processes the
            // events it posted (the last frame is handed over at the end of the change, in an idle
            // call): a paint here is a present, and nothing has drawn since.
            const int paints = counter.paints;
            h.clock.Advance(1);
            QCoreApplication::processEvents();
            if (counter.paints != paints && h.changesEnded >= 1) {
                ++presents;
                const TScreenDiff diff = CompareWithScreen(w, w.FormBitmap());
                shown = diff.count == 0;
                EXPECT_TRUE(shown) << "effect " << index << ", present " << presents << ", change "
                                   << h.changesEnded + 1 << ": " << diff.count << " pixels differ, the first at "
                                   << diff.x << "," << diff.y;
            }
            h.WaitForReader();
            Application().DoIdle();
        }
        w.removeEventFilter(&counter);
        if (!shown) continue;
        ASSERT_EQ(h.changesEnded, 3) << index;
        // A frame after the last change nothing is owed, whether or not anything was presented.
        h.clock.Advance(TFramePresenter::FrameMs);
        QCoreApplication::processEvents();
        const TScreenDiff diff = CompareWithScreen(w, w.FormBitmap());
        EXPECT_EQ(diff.count, 0) << "effect " << index << " at the end, the first at " << diff.x << "," << diff.y;
        EXPECT_EQ(w.Engine().EffectCode(), index < 0 ? NoEffectCode : EffectCodeTable[static_cast<size_t>(index)]);
        EXPECT_GE(presents, index < 0 ? 2 : 10) << index;
    }
}

} // namespace
} // namespace lumora
