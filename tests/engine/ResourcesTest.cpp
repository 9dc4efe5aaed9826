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
