// The picture cycle on virtual time: first change from the desktop, the effect choice, instant
// changes without effects, size modes, unreadable files, monitors in turn, deferred closes.
#include <gtest/gtest.h>

#include "tests/engine/DesktopTestSupport.h"

namespace lumora {
namespace {

using test::Px;
using test::SaverHarness;

TEST(DesktopCycleTest, FirstChangeFadesFromTheDesktopToTheFirstPicture) {
    SaverHarness h;
    h.PictureFolder({clRed, clLime, clBlue});
    h.OnlyEffects({11}); // only a shift effect is on; the first change is still the cross-fade
    TDesktopWindow& w = h.Open();
    EXPECT_EQ(h.FormPixel(5, 5), 0x00102030u); // the form opens showing the desktop
    EXPECT_EQ(w.Engine().EffectCode(), 0);
    h.Run(100);
    EXPECT_TRUE(w.Changing());
    EXPECT_EQ(w.Engine().EffectCode(), 0);
    h.Run(3200);
    EXPECT_FALSE(w.Changing());
    const TBoundsRec& r = w.NewPictureRect();
    EXPECT_EQ(r.W, 64);
    EXPECT_EQ(h.FormPixel(r.X + 3, r.Y + 3), Px(clRed));
    EXPECT_EQ(h.FormPixel(r.X + r.W - 1, r.Y + r.H - 1), Px(clRed));
    EXPECT_TRUE(w.Timer1.Enabled());
    EXPECT_EQ(w.Timer1.Interval(), 5000u);
}

} // namespace
} // namespace lumora
