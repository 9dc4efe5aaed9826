#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QFont>
#include <QMouseEvent>

#include <string>
#include <vector>

#include "engine/saver/ScrollingText.h"
#include "platform/system/Clock.h"

using namespace lumora;

TEST(ScrollingText, FadeColorStepsFromBoxToTextAndChecksItsRange) {
    EXPECT_EQ(TScrollingText::FadeColor(clBlack, clWhite, 1, 15), clBlack);
    EXPECT_EQ(TScrollingText::FadeColor(clBlack, clWhite, 15, 15), clWhite);
    EXPECT_EQ(TScrollingText::FadeColor(clBlack, clWhite, 8, 15), RGB(128, 128, 128));
    EXPECT_EQ(TScrollingText::FadeColor(clWhite, clBlack, 2, 3), RGB(127, 127, 127));
    EXPECT_EQ(TScrollingText::FadeColor(clNavy, clAqua, 1, 1), clNavy); // a single line never divides by zero
    try {
        TScrollingText::FadeColor(clBlack, clWhite, 0, 15);
        FAIL();
    } catch (const ERangeError& e) {
        EXPECT_STREQ(e.what(), "ColorIndex can't be less than 1 or greater than 15");
    }
    EXPECT_THROW(TScrollingText::FadeColor(clBlack, clWhite, 16, 15), ERangeError);
}

TEST(ScrollingText, PositionWrapsAfterOneCycleInBothDirections) {
    VirtualClock clock;
    SetClock(&clock);
    {
        TScrollingText t;
        t.resize(100, 18);
        t.SetText("Track name");
        t.SetTextDirection(TTextDirection::tdRightToLeft);
        t.Loaded();
        int strip = t.StripWidth();
        EXPECT_GT(strip, 200);
        EXPECT_EQ(t.Position(), 0);
        int cycle = strip - 100;
        for (int i = 0; i < cycle - 1; ++i) t.Tick();
        EXPECT_EQ(t.Position(), -(cycle - 1));
        t.Tick();
        EXPECT_EQ(t.Position(), 0);

        t.SetTextDirection(TTextDirection::tdLeftToRight);
        t.Loaded();
        EXPECT_EQ(t.Position(), 100 - strip);
        t.SetPixelJump(cycle);
        t.Tick();
        EXPECT_EQ(t.Position(), 100 - strip);
        // The timer drives it on the platform clock.
        t.SetPixelJump(1);
        t.SetSpeed(70);
        clock.Advance(700);
        EXPECT_EQ(t.Position(), 100 - strip + 10);
        t.SetSpeed(0); // stopped, not a busy loop
        clock.Advance(700);
        EXPECT_EQ(t.Position(), 100 - strip + 10);
    }
    SetClock(nullptr);
}

TEST(ScrollingText, FrameShowsFadedTextColourOnlyUnderGlyphs) {
    TScrollingText t;
    t.resize(120, 20);
    t.Font.Color = clAqua;
    t.Font.SetHeight(-14);
    t.SetBackgroundColor(clNavy);
    t.SetEdgeFadeWidth(10);
    t.SetText("WWWW");
    t.SetTextDirection(TTextDirection::tdRightToLeft);
    t.Loaded();
    // Move the text to the middle of the box.
    for (int i = 0; i < 60; ++i) t.Tick();
    const TBitmap& f = t.Frame();
    int aqua = 0, navy = 0;
    for (int y = 0; y < 20; ++y)
        for (int x = 0; x < 120; ++x) {
            uint32_t p = f.Row32(y)[x];
            EXPECT_EQ(p >> 24, 0u);
            aqua += p == ColorToPixel(clAqua);
            navy += p == ColorToPixel(clNavy);
        }
    EXPECT_GT(aqua, 20);  // glyph cores show the text colour
    EXPECT_GT(navy, 1000); // everything else is the box
    // The outermost columns are the box colour even under a glyph.
    for (int y = 0; y < 20; ++y) {
        EXPECT_EQ(f.Row32(y)[0], ColorToPixel(clNavy));
        EXPECT_EQ(f.Row32(y)[119], ColorToPixel(clNavy));
    }
}

TEST(ScrollingText, EmptyAndHugeTextsAndVisibility) {
    TScrollingText t;
    t.resize(80, 18);
    t.SetText("");
    t.Loaded();
    EXPECT_EQ(t.StripWidth(), 160);
    t.Tick();
    t.SetText(std::string(20000, 'M'));
    EXPECT_LE(t.StripWidth(), 32000);
    EXPECT_GT(t.StripWidth(), 10000);
    EXPECT_TRUE(t.Enabled());
    t.SetVisible(true); // same value: Enabled untouched
    EXPECT_TRUE(t.Enabled());
    t.SetEnabled(false);
    t.SetVisible(true);
    EXPECT_FALSE(t.Enabled());
    t.SetVisible(false);
    EXPECT_FALSE(t.Enabled());
    int pos = t.Position();
    t.Tick();
    EXPECT_EQ(t.Position(), pos);
    t.SetVisible(true);
    EXPECT_TRUE(t.Enabled());
}

TEST(ScrollingText, FontFollowsTheParentUntilEditedAndEditsShowAtTheNextFrame) {
    QWidget parent;
    QFont big("IPAPGothic");
    big.setPixelSize(20);
    big.setBold(true);
    parent.setFont(big);
    auto* t = new TScrollingText(&parent);
    EXPECT_TRUE(t->ParentFont());
    EXPECT_EQ(t->Font.Height(), -20);
    EXPECT_TRUE(t->Font.Style & fsBold);
    QFont small = big;
    small.setPixelSize(12);
    small.setBold(false);
    parent.setFont(small);
    EXPECT_EQ(t->Font.Height(), -12);
    EXPECT_FALSE(t->Font.Style & fsBold);

    t->resize(100, 18);
    t->SetText("Wide");
    t->Loaded();
    const int strip = t->StripWidth();
    t->Font.SetHeight(-36); // no FontChanged call
    t->Frame();
    EXPECT_GT(t->StripWidth(), strip);
    EXPECT_FALSE(t->ParentFont());
    parent.setFont(big); // the edited font stays the control's own
    EXPECT_EQ(t->Font.Height(), -36);
    t->SetParentFont(true);
    EXPECT_EQ(t->Font.Height(), -20);
}

TEST(ScrollingText, MouseEventsArePassedOnAndALeftClickInsideClicks) {
    TScrollingText t;
    t.resize(100, 18);
    std::vector<std::string> log;
    auto name = [](TMouseButton b) {
        return b == TMouseButton::mbLeft ? "L" : b == TMouseButton::mbRight ? "R" : "M";
    };
    t.OnMouseDown = [&](TMouseButton b, int x, int y) {
        log.push_back(std::string("down ") + name(b) + " " + std::to_string(x) + "," + std::to_string(y));
    };
    t.OnMouseUp = [&](TMouseButton b, int x, int y) {
        log.push_back(std::string("up ") + name(b) + " " + std::to_string(x) + "," + std::to_string(y));
    };
    t.OnClick = [&] { log.push_back("click"); };
    auto send = [&](QEvent::Type type, Qt::MouseButton button, QPoint at) {
        QMouseEvent event(type, QPointF(at), QPointF(t.mapToGlobal(at)), button,
                          type == QEvent::MouseButtonPress ? button : Qt::NoButton, Qt::NoModifier);
        QCoreApplication::sendEvent(&t, &event);
    };
    send(QEvent::MouseButtonPress, Qt::LeftButton, {10, 5});
    send(QEvent::MouseButtonRelease, Qt::LeftButton, {12, 6});
    send(QEvent::MouseButtonPress, Qt::RightButton, {3, 4});
    send(QEvent::MouseButtonRelease, Qt::RightButton, {3, 4});
    send(QEvent::MouseButtonPress, Qt::LeftButton, {10, 5});
    send(QEvent::MouseButtonRelease, Qt::LeftButton, {150, 5}); // let go outside: no click
    EXPECT_EQ(log, (std::vector<std::string>{"down L 10,5", "up L 12,6", "click", "down R 3,4", "up R 3,4",
                                             "down L 10,5", "up L 150,5"}));
}
