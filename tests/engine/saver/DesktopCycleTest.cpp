// The picture cycle on virtual time: first change from the desktop, the effect choice, instant
// changes without effects, size modes, unreadable files, monitors in turn, deferred closes.
#include <gtest/gtest.h>

#include "tests/engine/saver/DesktopTestSupport.h"
#include "tests/support/JpegTestUtil.h"
#include "tests/support/MagickFlatten.h"
#include "tests/support/TempDir.h"

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

TEST(DesktopCycleTest, WithOneEffectEnabledEveryLaterChangeUsesIt) {
    SaverHarness h;
    h.PictureFolder({clRed, clLime, clBlue, clYellow});
    h.OnlyEffects({3}); // colour-through, code 86
    h.Set("Setting", "Interval", "1");
    TDesktopWindow& w = h.Open();
    h.NextChange();
    EXPECT_EQ(w.Engine().EffectCode(), 0);
    for (int change = 0; change < 3; ++change) {
        // The interval counts from the end of the previous change, not from its start.
        uint32_t ended = h.clock.timeGetTime();
        while (!w.Changing() && h.clock.timeGetTime() - ended < 5000)
            h.Run(10);
        EXPECT_GE(h.clock.timeGetTime() - ended, 1000u) << change;
        EXPECT_LT(h.clock.timeGetTime() - ended, 1100u) << change;
        h.NextChange();
        EXPECT_EQ(w.Engine().EffectCode(), 86) << change;
    }
}

TEST(DesktopCycleTest, WithoutEffectsPicturesStandWholeOncePerIntervalAndAWaitingTrackStarts) {
    SaverHarness h;
    h.PictureFolder({clRed, clLime, clBlue});
    h.OnlyEffects({});
    h.Set("Setting", "Interval", "2");
    h.Set("Setting", "PosRandom", "0");
    std::vector<std::string> played;
    TSaverExtras extras;
    extras.PlayTrack = [&](TDesktopWindow&, const std::string& name) { played.push_back(name); };
    TDesktopWindow& w = h.Open(extras);
    auto centre = [&] { return h.FormPixel(160, 120); };
    h.Run(100); // the first tick
    EXPECT_EQ(centre(), Px(clRed));
    EXPECT_FALSE(w.Changing());
    EXPECT_EQ(w.Timer1.Interval(), 2000u);
    // A track asked for during a change waits for its end, which here comes at once.
    w.PlayTrack("during");
    EXPECT_EQ(played, std::vector<std::string>{"during"});
    h.Run(1900);
    EXPECT_EQ(centre(), Px(clRed));
    h.Run(200);
    EXPECT_EQ(centre(), Px(clLime));
    h.Run(2000);
    EXPECT_EQ(centre(), Px(clBlue));
    EXPECT_EQ(w.Engine().EffectCode(), NoEffectCode);
}

TEST(DesktopCycleTest, TrackAskedForDuringAChangeStartsWhenItEnds) {
    SaverHarness h;
    h.PictureFolder({clRed, clLime});
    h.dir.WriteFile("music/t1.wav", "");
    h.Set("Setting", "UseSound", "1");
    h.Set("Setting", "SoundFolder", h.dir.File("music"));
    std::vector<std::string> played;
    TSaverExtras extras;
    extras.PlayTrack = [&](TDesktopWindow&, const std::string& name) { played.push_back(name); };
    TDesktopWindow& w = h.Open(extras);
    ASSERT_EQ(played, std::vector<std::string>{h.dir.File("music/t1.wav")}); // the first track, at once
    played.clear();
    h.Run(200);
    ASSERT_TRUE(w.Changing());
    w.PlayTrack("x");
    EXPECT_TRUE(w.TrackDeferred);
    while (w.Changing() && h.clock.timeGetTime() < 10000) {
        EXPECT_TRUE(played.empty());
        h.Run(10);
    }
    // The change's end starts the play list's current track.
    EXPECT_FALSE(w.TrackDeferred);
    EXPECT_EQ(played, std::vector<std::string>{h.dir.File("music/t1.wav")});
}

TEST(DesktopCycleTest, UnreadableFilesShowTheNoticeAndTheShowGoesOn) {
    SaverHarness h({TMonitor{TRect{0, 0, 640, 480}, true}});
    h.dir.WriteFile("pics/p10.jpg", "this is text, not a picture");
    h.dir.WriteFile("pics/p11.bmp", "");
    h.dir.WriteFile("pics/p12.jpg", std::string("\xFF\xD8\xFF\xE0 broken", 11));
    test::WriteSolidBmp(h.dir, "pics/p13.bmp", 30, 20, clLime);
    h.Set("Setting", "Folder", h.dir.File("pics"));
    h.Set("Setting", "OrdRandom", "0");
    h.Set("Setting", "Interval", "1");
    TDesktopWindow& w = h.Open();
    for (int i = 0; i < 3; ++i) {
        h.NextChange();
        EXPECT_EQ(w.CurrentPicture().Width(), 400) << i;
        EXPECT_EQ(w.CurrentPicture().Height(), 64) << i;
        const TBoundsRec& r = w.NewPictureRect();
        EXPECT_EQ(h.FormPixel(r.X + 1, r.Y + 1), Px(clNavy)) << i;
    }
    h.NextChange();
    EXPECT_EQ(w.CurrentPicture().Width(), 30);
}

TEST(DesktopCycleTest, TransparentPartsOfAPictureShowTheBackgroundColour) {
    // A green circle on a clear field, with a square of red at 60 %, in every format that carries
    // transparency; the picture tool shows it over black, the show's usual background.
    const std::string draw = "convert -size 40x30 xc:none -fill lime -draw 'circle 20,15 20,5' "
                             "-fill 'rgba(255,0,0,0.6)' -draw 'rectangle 2,2 12,12' ";
    const std::pair<const char*, const char*> kinds[] = {
        {"p10.png", "PNG32:"},
        {"p10.gif", ""},
        {"p10.tga", "-type TrueColorAlpha "},
        {"p10.tif", "-type TrueColorAlpha -depth 8 -compress lzw -define tiff:alpha=unassociated "},
        {"p11.tif", "-type TrueColorAlpha -depth 8 -compress lzw -define tiff:alpha=associated "},
    };
    const std::string tool = std::string(LUMORA_BINARY_DIR) + "/bin/lumora-pictool";
    for (const auto& [name, format] : kinds) {
        SCOPED_TRACE(name);
        SaverHarness h;
        const std::string file = h.dir.File(std::string("pics/") + name);
        std::filesystem::create_directories(h.dir.File("pics"));
        ASSERT_EQ(std::system((draw + format + file).c_str()), 0);
        const TColor background = TColor(0x00996633);
        h.Set("Setting", "Folder", h.dir.File("pics"));
        h.Set("Setting", "BackGround", ColorToString(background));
        h.OnlyEffects({});
        TDesktopWindow& w = h.Open();
        h.Run(100);
        ExpectPixelsNear(w.CurrentPicture(), test::FlattenWithImageMagick(file, background), 1, "the picture shown");
        const TBoundsRec& r = w.NewPictureRect();
        EXPECT_EQ(h.FormPixel(r.X, r.Y), Px(background));

        const std::string pam = h.dir.File("shown.pam");
        ASSERT_EQ(std::system(("'" + tool + "' '" + file + "' '" + pam + "'").c_str()), 0);
        std::unique_ptr<TBitmap> written = test::PpmBitmap(test::ReadFile(pam));
        ASSERT_TRUE(written);
        ExpectPixelsNear(*written, test::FlattenWithImageMagick(file, clBlack), 1, "the picture tool's");
    }
}

TEST(DesktopCycleTest, TwoMonitorsTakeTurnsStartingWithThePrimary) {
    SaverHarness h({TMonitor{TRect{0, 0, 200, 150}, false}, TMonitor{TRect{200, 0, 400, 150}, true}});
    h.PictureFolder({clRed, clLime, clBlue});
    h.Set("Setting", "MultiMon", "1");
    h.Set("Setting", "PosRandom", "0");
    h.Set("Setting", "Interval", "1");
    TDesktopWindow& w = h.Open();
    EXPECT_EQ(w.CurrentMonitor(), 1);
    h.NextChange();
    EXPECT_EQ(h.FormPixel(300, 75), Px(clRed)); // on the primary, the right-hand monitor
    EXPECT_EQ(w.CurrentMonitor(), 0);
    h.NextChange();
    EXPECT_EQ(h.FormPixel(100, 75), Px(clLime));
    EXPECT_EQ(h.FormPixel(300, 75), Px(clRed));
    h.NextChange();
    EXPECT_EQ(h.FormPixel(300, 75), Px(clBlue));
    EXPECT_EQ(h.FormPixel(100, 75), Px(clLime));
}

TEST(DesktopCycleTest, WithoutAFolderTheNoticeAsksForOne) {
    SaverHarness h;
    h.Set("Setting", "Folder", "");
    TDesktopWindow& w = h.Open();
    ASSERT_NE(w.Notice(), nullptr);
    EXPECT_EQ(w.Notice()->Width(), 680);
    EXPECT_EQ(w.Notice()->Height(), 200);
    EXPECT_EQ(w.BackGround(), ColorToRGB(clNavy));
    EXPECT_TRUE(w.PosRandom());
    h.Run(200);
    EXPECT_EQ(w.CurrentPicture().Width(), 680);
}

TEST(DesktopCycleTest, AnEmptyFolderShowsTheNoticeAndTheCycleAndTheMusicGoOn) {
    SaverHarness h;
    h.dir.WriteFile("empty/readme.txt", "no pictures");
    h.Set("Setting", "Folder", h.dir.File("empty"));
    h.Set("Setting", "Interval", "1");
    std::vector<std::string> played;
    TSaverExtras extras;
    extras.PlayTrack = [&](TDesktopWindow&, const std::string& name) { played.push_back(name); };
    TDesktopWindow& w = h.Open(extras);
    h.NextChange();
    ASSERT_FALSE(w.Changing());
    EXPECT_EQ(w.CurrentPicture().Width(), 680);
    EXPECT_EQ(h.FormPixel(319, 239), Px(clNavy));
    EXPECT_EQ(h.FormPixel(0, 239), Px(clNavy));
    // The next track starts at once instead of waiting for a change that never ends.
    w.PlayTrack("next");
    EXPECT_EQ(played, std::vector<std::string>{"next"});
    h.NextChange();
    EXPECT_EQ(h.changesEnded, 2);
}

} // namespace
} // namespace lumora
