#include <gtest/gtest.h>

#include "resources/Resources.h"

using namespace lumora;

TEST(Resources, TitleBitmapsLoadWithRoomForTheOverlays) {
    TBitmap logo, plain;
    ASSERT_TRUE(LoadResourceBitmap("LMTITLE", logo));
    ASSERT_TRUE(LoadResourceBitmap("LMTITLE2", plain));
    EXPECT_EQ(logo.PixelFormat(), TPixelFormat::pf32bit);
    // The spectrum (43,2 102x25), progress bar (11,10) and ticker (149,8) must fit inside the logo.
    EXPECT_GE(logo.Width(), 149 + 140);
    EXPECT_GE(logo.Height(), 27);
    // The bottom-left pixel is the transparent colour, and the plate is not.
    EXPECT_EQ(logo.GetPixel(0, logo.Height() - 1), clFuchsia);
    EXPECT_NE(logo.GetPixel(logo.Width() / 2, logo.Height() / 2), clFuchsia);
    EXPECT_EQ(plain.GetPixel(0, plain.Height() - 1), clFuchsia);
    TBitmap none;
    EXPECT_FALSE(LoadResourceBitmap("NOSUCH", none));
}

TEST(Resources, TitleEdgesHoldNoBlendWithTheKeyColour) {
    // The plates are blue-grey, red never above green; red standing out near the keyed-out magenta
    // is magenta mixed in, a pink fringe on the screen.
    for (const char* name : {"LMTITLE", "LMTITLE2"}) {
        TBitmap b;
        ASSERT_TRUE(LoadResourceBitmap(name, b));
        const TColor key = b.GetPixel(0, b.Height() - 1);
        auto nearKey = [&](int x, int y) {
            for (int dy = -2; dy <= 2; ++dy)
                for (int dx = -2; dx <= 2; ++dx) {
                    const int nx = x + dx, ny = y + dy;
                    if (nx >= 0 && ny >= 0 && nx < b.Width() && ny < b.Height() && b.GetPixel(nx, ny) == key)
                        return true;
                }
            return false;
        };
        int fringe = 0;
        for (int y = 0; y < b.Height(); ++y)
            for (int x = 0; x < b.Width(); ++x) {
                const TColor c = b.GetPixel(x, y);
                const int red = c & 0xFF, green = (c >> 8) & 0xFF;
                fringe += c != key && nearKey(x, y) && red > green + 16;
            }
        EXPECT_EQ(fringe, 0) << name;
    }
}
