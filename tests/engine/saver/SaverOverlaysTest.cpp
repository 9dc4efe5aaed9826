// The saver's overlays: logo positions per mode on a fixed random source, drawing the logo opaque or
// keyed, the spectrum bars and peaks, the progress bar, and the caption with its outline.
#include <gtest/gtest.h>

#include <set>
#include <utility>

#include "engine/music/SaverMusic.h"
#include "engine/saver/SaverOverlays.h"
#include "tests/engine/music/SaverMusicTestSupport.h"
#include "tests/engine/saver/DesktopTestSupport.h"

namespace lumora {
namespace {

using test::Px;
using test::SaverHarness;

// A window on a 320 x 240 monitor showing one picture; the overlays are driven by hand.
struct OverlayHarness : SaverHarness {
    OverlayHarness() {
        // The overlays need no sound: the music runs without a player.
        SetSaverPlayerFactory([] { return std::unique_ptr<ISaverPlayer>(); });
        PictureFolder({clRed});
        OnlyEffects({});
        Set("Setting", "Interval", "60");
    }
    ~OverlayHarness() {
        window.reset();
        SetSaverPlayerFactory(nullptr);
    }
    TDesktopWindow& Open() { return SaverHarness::Open(MakeSaverExtras()); }
    TSaverOverlays& Overlays() { return TSaverOverlays::Of(*window); }
    TRect Place() {
        Overlays().PlaceLogo();
        return window->LogoRectOnForm;
    }
};

TEST(SaverOverlaysTest, FixedPositionsStayAndOutOfRangeModesCountAsTheFirst) {
    const std::pair<const char*, TRect> cases[] = {{"0", TRect{60, 210, 260, 240}},
                                                   {"1", TRect{60, 0, 260, 30}},
                                                   {"5", TRect{60, 210, 260, 240}},
                                                   {"-1", TRect{60, 210, 260, 240}}};
    for (const auto& [mode, expected] : cases) {
        OverlayHarness h;
        h.Set("LOGO", "LogoImgPos", mode);
        TDesktopWindow& w = h.Open();
        ASSERT_EQ(w.Logo().Width(), 200); // the title without the spectrum
        for (int i = 0; i < 3; ++i)
            EXPECT_EQ(h.Place(), expected) << mode;
        EXPECT_TRUE(w.LogoVisible);
    }
}

TEST(SaverOverlaysTest, RandomPositionsKeepTheSideMarginsAndTouchTheEdge) {
    for (int mode : {2, 3}) {
        OverlayHarness h;
        h.Set("LOGO", "LogoImgPos", std::to_string(mode));
        h.Open();
        RandSeed(42);
        std::set<int> lefts;
        for (int i = 0; i < 40; ++i) {
            TRect r = h.Place();
            EXPECT_GE(r.Left, 16);
            EXPECT_LE(r.Right, 320 - 16);
            EXPECT_EQ(r.Top, mode == 2 ? 210 : 0);
            lefts.insert(r.Left);
        }
        EXPECT_GT(lefts.size(), 10u) << "the logo moves";
        // The same seed gives the same walk.
        RandSeed(42);
        std::set<int> again;
        for (int i = 0; i < 40; ++i)
            again.insert(h.Place().Left);
        EXPECT_EQ(again, lefts);
    }
}

TEST(SaverOverlaysTest, CornerModeVisitsAllFourCorners) {
    OverlayHarness h;
    h.Set("LOGO", "LogoImgPos", "4");
    h.Open();
    RandSeed(3);
    std::set<std::pair<int, int>> corners;
    for (int i = 0; i < 40; ++i) {
        TRect r = h.Place();
        corners.insert({r.Left, r.Top});
    }
    EXPECT_EQ(corners, (std::set<std::pair<int, int>>{{16, 0}, {16, 210}, {104, 0}, {104, 210}}));
}

TEST(SaverOverlaysTest, LogoWiderThanTheMarginsAllowIsCentred) {
    for (const char* mode : {"2", "3", "4"}) {
        OverlayHarness h;
        h.Set("Setting", "UseSound", "1"); // the spectrum title, 300 pixels wide
        h.Set("LOGO", "LogoImgPos", mode);
        TDesktopWindow& w = h.Open();
        ASSERT_EQ(w.Logo().Width(), 300);
        for (int i = 0; i < 10; ++i)
            EXPECT_EQ(h.Place().Left, 10) << mode;
    }
}

TEST(SaverOverlaysTest, UsersTitleIsKeyedByItsBottomLeftPixelUnlessDrawnOpaque) {
    for (const char* trans : {"1", "0"}) {
        OverlayHarness h;
        TBitmap title(40, 20);
        title.Canvas().Brush.Color = clFuchsia;
        title.Canvas().FillRect(TRect{0, 0, 40, 20});
        title.Canvas().Brush.Color = clWhite;
        title.Canvas().FillRect(TRect{10, 5, 30, 15});
        title.SaveToFile(h.dir.File("title.bmp"));
        h.Set("LOGO", "UseTitle", "1");
        h.Set("LOGO", "TitleBmp", h.dir.File("title.bmp"));
        h.Set("LOGO", "TitleTrans", trans);
        h.Set("LOGO", "LogoImgPos", "0");
        h.Set("Setting", "PosRandom", "0");
        h.Set("Setting", "BackGround", "clLime"); // what stands below the logo
        h.Open();
        h.Run(200);
        TRect r = h.Place();
        EXPECT_EQ(r, (TRect{140, 220, 180, 240}));
        EXPECT_EQ(h.FormPixel(150, 230), Px(clWhite));
        EXPECT_EQ(h.FormPixel(141, 221), Px(std::string(trans) == "1" ? clLime : clFuchsia)) << trans;
    }
}

TEST(SaverOverlaysTest, HidingTheLogoRestoresThePictureBelow) {
    OverlayHarness h;
    h.Set("LOGO", "LogoImgPos", "1");
    h.Set("Setting", "PosRandom", "0");
    TDesktopWindow& w = h.Open();
    h.Run(200);
    TRect r = h.Place();
    ASSERT_TRUE(w.LogoVisible);
    uint32_t withLogo = h.FormPixel(r.Left + 20, r.Top + 15);
    h.Overlays().HideLogo();
    EXPECT_FALSE(w.LogoVisible);
    EXPECT_NE(withLogo, Px(clRed));
    // The area comes back from the monitor's last picture: the desktop snapshot, which stood
    // there before the first change.
    EXPECT_EQ(h.FormPixel(r.Left + 20, r.Top + 15), 0x00102030u);
    h.Overlays().ShowLogo();
    EXPECT_EQ(h.FormPixel(r.Left + 20, r.Top + 15), withLogo);
}

TEST(SaverOverlaysTest, MovingTheLogoAfterAChangeOnAnotherMonitorRestoresItsOwnMonitor) {
    // Two monitors side by side, the logo at random along the primary's bottom edge.
    OverlayHarness h;
    h.screens.monitors_ = {TMonitor{TRect{0, 0, 640, 480}, true}, TMonitor{TRect{640, 0, 1280, 480}, false}};
    h.PictureFolder({clRed, clLime, clBlue}, 640, 480);
    h.Set("Setting", "MultiMon", "1");
    h.Set("Setting", "SizeAdjust", "0");
    h.Set("Setting", "Interval", "1");
    h.Set("Setting", "PosRandom", "0");
    h.Set("LOGO", "LogoImgPos", "2");
    TDesktopWindow& w = h.Open();
    h.NextChange(); // red on the primary, the logo placed on it
    ASSERT_TRUE(w.LogoVisible);
    const TRect first = w.LogoRectOnForm;
    h.NextChange(); // lime on the other monitor; the logo moves
    const TRect second = w.LogoRectOnForm;
    ASSERT_NE(first, second);
    EXPECT_EQ(h.FormPixel(1000, 240), Px(clLime));
    int wrong = 0;
    for (int y = first.Top; y < first.Bottom; ++y)
        for (int x = first.Left; x < first.Right; ++x)
            if (x < second.Left || x >= second.Right || y < second.Top || y >= second.Bottom)
                wrong += h.FormPixel(x, y) != Px(clRed);
    EXPECT_EQ(wrong, 0); // the primary's picture came back where the logo stood
}

// A window with music and the spectrum title, the logo at the bottom centre (10, 210).
struct SpectrumHarness : OverlayHarness {
    SpectrumHarness() {
        Set("Setting", "UseSound", "1");
        Set("LOGO", "LogoImgPos", "0");
        Open();
        Overlays().CreateBasicImage();
        logo = Place();
    }
    // Spectrum column of band b, rows lit from the top of the spectrum image.
    uint32_t Spec(int band, int row) { return Overlays().SpectrumImage().Row32(row)[band * 4 + 2]; }
    uint32_t Bar(int row) { return Overlays().BarImage().Row32(row)[0]; }
    uint32_t ProgressPixel(int i) { return FormPixel(logo.Left + 11 + i, logo.Top + 10); }
    TRect logo;
};

TEST(SaverOverlaysTest, BarsRunFromRedThroughYellowTowardsYellowGreen) {
    SpectrumHarness h;
    EXPECT_EQ(h.Bar(0), Px(RGB(255, 32, 0)));
    EXPECT_EQ(h.Bar(6), Px(RGB(255, 224, 0)));
    EXPECT_EQ(h.Bar(7), Px(RGB(255, 255, 0)));
    EXPECT_EQ(h.Bar(12), Px(RGB(255, 255, 0)));
    EXPECT_EQ(h.Bar(13), Px(RGB(245, 255, 0)));
    EXPECT_EQ(h.Bar(23), Px(RGB(145, 255, 0)));
}

TEST(SaverOverlaysTest, LevelsStandOnTheBottomLineAndAreCappedAtTwentyFour) {
    SpectrumHarness h;
    TBandOut bands{};
    bands[0] = 30;
    bands[1] = 5;
    bands[24] = 1;
    h.Overlays().DisplayFFTBand(bands, 0, 0);
    for (int row = 0; row < 24; ++row)
        EXPECT_EQ(h.Spec(0, row), h.Bar(row)) << row;
    EXPECT_EQ(h.Spec(0, 24), Px(clNavy));
    EXPECT_EQ(h.Spec(1, 18), Px(clNavy));
    for (int row = 19; row < 24; ++row)
        EXPECT_EQ(h.Spec(1, row), h.Bar(row)) << row;
    EXPECT_EQ(h.Spec(24, 22), Px(clNavy));
    EXPECT_EQ(h.Spec(24, 23), h.Bar(23));
    EXPECT_EQ(h.Spec(2, 23), Px(clNavy));
    // Bars are 3 pixels wide with a navy gap.
    EXPECT_EQ(h.Overlays().SpectrumImage().Row32(23)[5], Px(clNavy));
    // The spectrum lands on the logo.
    EXPECT_EQ(h.FormPixel(h.logo.Left + 43 + 2, h.logo.Top + 2), h.Bar(0));
    EXPECT_EQ(h.FormPixel(h.logo.Left + 43 + 2, h.logo.Top + 2 + 24), Px(clNavy));
}

TEST(SaverOverlaysTest, PeakHoldsThenFallsEverFasterAndGoesOut) {
    SpectrumHarness h;
    TBandOut bands{};
    bands[3] = 20;
    h.Overlays().DisplayFFTBand(bands, 0, 0);
    bands[3] = 0;
    auto peakRow = [&]() {
        for (int row = 0; row < 25; ++row)
            if (h.Spec(3, row) == Px(clSilver)) return row;
        return -1;
    };
    std::vector<int> rows;
    for (int update = 0; update < 40; ++update) {
        h.Overlays().DisplayFFTBand(bands, 0, 0);
        rows.push_back(peakRow());
    }
    for (int i = 0; i < 10; ++i)
        EXPECT_EQ(rows[static_cast<size_t>(i)], 4) << i;
    EXPECT_EQ(rows[10], 5);
    // Each drop is at least as large as the one before, until the mark is gone.
    int out = 0;
    while (out < 40 && rows[static_cast<size_t>(out)] != -1)
        ++out;
    ASSERT_LT(out, 40);
    EXPECT_LT(out, 25);
    EXPECT_GE(rows[static_cast<size_t>(out - 1)] - rows[static_cast<size_t>(out - 2)], rows[11] - rows[10]);
    EXPECT_LT(h.Overlays().PeakLevel(3), 1.0);
    // A new level above the old peak takes the mark at once.
    bands[3] = 12;
    h.Overlays().DisplayFFTBand(bands, 0, 0);
    EXPECT_NEAR(h.Overlays().PeakLevel(3), 12.01, 1e-9);
    EXPECT_EQ(h.Overlays().HoldCount(3), 0);
}

TEST(SaverOverlaysTest, ProgressIsClampedAndSkipsUnknownLengths) {
    SpectrumHarness h;
    h.Overlays().DisplayFFTBand(TBandOut{}, 500, 1000);
    for (int i = 0; i < 18; ++i)
        EXPECT_EQ(h.ProgressPixel(i), Px(i < 9 ? clRed : clNavy)) << i;
    EXPECT_NE(h.ProgressPixel(18), Px(clNavy));
    // A position past the length (a stream that grew) fills the bar and no more.
    h.Overlays().ShowProgress(30);
    for (int i = 0; i < 18; ++i)
        EXPECT_EQ(h.ProgressPixel(i), Px(clRed)) << i;
    EXPECT_NE(h.ProgressPixel(18), Px(clRed));
    h.Overlays().ShowProgress(0);
    EXPECT_EQ(h.ProgressPixel(0), Px(clNavy));
    // No length: the bar is left as it is.
    h.Overlays().DisplayFFTBand(TBandOut{}, 500, 0);
    EXPECT_EQ(h.ProgressPixel(0), Px(clNavy));
    // A MIDI song of no length draws no progress either.
    TBitmap scope(101, 25);
    h.Overlays().MidiScope1->setVisible(true);
    h.Overlays().MidiScope1MIDIVisTData(scope, 0, 0, 1);
    EXPECT_EQ(h.ProgressPixel(0), Px(clNavy));
    h.Overlays().MidiScope1MIDIVisTData(scope, 1000, 2000, 1);
    EXPECT_EQ(h.ProgressPixel(8), Px(clRed));
    EXPECT_EQ(h.ProgressPixel(9), Px(clNavy));
    // The scope's picture lands where the spectrum goes.
    EXPECT_EQ(h.FormPixel(h.logo.Left + 43, h.logo.Top + 2), 0u);
}

TEST(SaverOverlaysTest, NoSpectrumWithoutTheLogoShown) {
    SpectrumHarness h;
    h.Overlays().HideLogo();
    uint32_t before = h.FormPixel(h.logo.Left + 45, h.logo.Top + 25);
    TBandOut bands{};
    bands.fill(24);
    h.Overlays().DisplayFFTBand(bands, 0, 0);
    EXPECT_EQ(h.FormPixel(h.logo.Left + 45, h.logo.Top + 25), before);
}

TEST(SaverOverlaysTest, NoProgressBeforeTheLogoIsPlaced) {
    // A MIDI track that starts with the show reports progress before the first change ends.
    OverlayHarness h;
    h.Set("Setting", "UseSound", "1");
    TDesktopWindow& w = h.Open();
    ASSERT_FALSE(w.LogoVisible);
    TBitmap scope(101, 25);
    h.Overlays().MidiScope1->setVisible(true);
    h.Overlays().MidiScope1MIDIVisTData(scope, 1000, 2000, 1);
    h.Overlays().ShowProgress(9);
    for (int x = 0; x < 40; ++x)
        for (int y = 0; y < 20; ++y)
            ASSERT_EQ(h.FormPixel(x, y), 0x00102030u) << x << "," << y; // the desktop, untouched
}

// Counts the pixels of one colour in a bitmap.
int CountPixels(TBitmap& b, TColor c, int x0 = 0, int x1 = -1) {
    if (x1 < 0) x1 = b.Width();
    int n = 0;
    for (int y = 0; y < b.Height(); ++y)
        for (int x = x0; x < x1; ++x)
            n += b.Row32(y)[x] == Px(c);
    return n;
}

TEST(SaverOverlaysTest, CaptionIsOutlinedInTheBackgroundOrItsInverse) {
    struct Case {
        TColor font, background, outline;
    } cases[] = {{clYellow, clBlack, clBlack}, {clBlack, clBlack, clWhite}};
    for (const Case& c : cases) {
        OverlayHarness h;
        h.Set("Setting", "CapDisp", "1");
        h.Set("Font", "CapColor", ColorToString(c.font));
        h.Set("Font", "CapSize", "20");
        h.Set("Font", "CapStyle", "1");
        h.Set("Setting", "BackGround", ColorToString(c.background));
        h.Open();
        TBitmap picture(300, 80);
        picture.Canvas().Brush.Color = clBlue;
        picture.Canvas().FillRect(TRect{0, 0, 300, 80});
        h.Overlays().DrawCaption(picture);
        EXPECT_GT(CountPixels(picture, c.outline), 20) << ColorToString(c.font);
        EXPECT_GT(CountPixels(picture, c.font), 5) << ColorToString(c.font);
        // The text stands at the top, centred.
        int topRows = 0, bottomRows = 0;
        for (int y = 0; y < 80; ++y)
            for (int x = 0; x < 300; ++x)
                if (picture.Row32(y)[x] != Px(clBlue)) (y < 40 ? topRows : bottomRows)++;
        EXPECT_GT(topRows, 0);
        EXPECT_EQ(bottomRows, 0);
        EXPECT_EQ(CountPixels(picture, c.outline, 0, 60), 0);
    }
}

TEST(SaverOverlaysTest, CaptionAtTheBottomAndWiderThanThePictureStartsAtTheLeftEdge) {
    OverlayHarness h;
    h.Set("Setting", "CapDisp", "2");
    h.Set("Font", "CapSize", "20");
    TDesktopWindow& w = h.Open();
    TBitmap picture(30, 80);
    picture.Canvas().Brush.Color = clBlue;
    picture.Canvas().FillRect(TRect{0, 0, 30, 80});
    h.Overlays().DrawCaption(picture);
    // The same text in the text colour, drawn one pixel in from the left edge of a wider picture.
    TBitmap reference(200, 80);
    TCanvas& c = reference.Canvas();
    c.Brush.Color = clBlue;
    c.FillRect(TRect{0, 0, 200, 80});
    c.Font.Assign(w.Settings().CapFont);
    const int y = 80 - (c.TextHeight("p10.bmp") + 2);
    c.Brush.Style = TBrushStyle::bsClear;
    c.TextOut(1, y + 1, "p10.bmp");
    int white = 0;
    for (int row = 0; row < 80; ++row)
        for (int x = 0; x < 30; ++x) {
            bool inCaption = picture.Row32(row)[x] == Px(clWhite);
            EXPECT_EQ(inCaption, reference.Row32(row)[x] == Px(clWhite)) << x << "," << row;
            white += inCaption;
            if (row < y) {
                EXPECT_EQ(picture.Row32(row)[x], Px(clBlue));
            }
        }
    EXPECT_GT(white, 10);
}

// A name that is not UTF-8 shows as the settings dialog and the pickers show it: the ticker names
// the track and the caption the picture as the same name in UTF-8 would, ISO-8859-1 ("café",
// "söng") and CP932 ("写真", "ソング") alike.
TEST(SaverOverlaysTest, TickerAndCaptionShowNamesThatAreNotUtf8AsTheDialogsDo) {
    struct {
        std::string folder8Bit, folderUtf8, track8Bit, trackUtf8;
    } rows[] = {
        {"caf\xE9", "café", "s\xF6ng.mid", "söng.mid"},
        {"\x8E\xCA\x90\x5E", "写真", "\x83\x5C\x83\x93\x83\x4F.mid", "ソング.mid"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.folderUtf8);
        std::vector<std::unique_ptr<TBitmap>> captions;
        for (bool utf8 : {false, true}) {
            test::MusicHarness h;
            test::WriteSolidBmp(h.dir, "named/" + (utf8 ? row.folderUtf8 : row.folder8Bit) + "/p.bmp", 64, 48, clRed);
            h.Set("Setting", "Folder", h.dir.File("named"));
            h.Set("Setting", "SFolder", "1");
            h.Set("Setting", "CapDisp", "1");
            h.Set("Font", "CapSize", "20");
            h.dir.WriteFile("music/" + (utf8 ? row.trackUtf8 : row.track8Bit), test::OneNoteMidi(480));
            h.Open();
            EXPECT_EQ(h.Overlays().ScrollingText2->Text(), row.trackUtf8);
            TBitmap& picture = *captions.emplace_back(std::make_unique<TBitmap>(300, 80));
            picture.Canvas().Brush.Color = clBlue;
            picture.Canvas().FillRect(TRect{0, 0, 300, 80});
            h.Overlays().DrawCaption(picture);
        }
        EXPECT_GT(CountPixels(*captions[0], clWhite), 20);
        for (int y = 0; y < 80; ++y)
            for (int x = 0; x < 300; ++x)
                ASSERT_EQ(captions[0]->Row32(y)[x], captions[1]->Row32(y)[x]) << x << "," << y;
    }
}

TEST(SaverOverlaysTest, NoCaptionWhenSwitchedOff) {
    OverlayHarness h;
    h.Open();
    TBitmap picture(300, 80);
    picture.Canvas().Brush.Color = clBlue;
    picture.Canvas().FillRect(TRect{0, 0, 300, 80});
    h.Overlays().DrawCaption(picture);
    EXPECT_EQ(CountPixels(picture, clBlue), 300 * 80);
}

} // namespace
} // namespace lumora
