// The saver window's life: monitors and the covered area, the cursor, the input that closes it,
// the preview, the old consumer line's password, and closing while a picture loads.
#include <QKeyEvent>

#include <gtest/gtest.h>

#include "tests/engine/saver/DesktopTestSupport.h"

namespace lumora {
namespace {

using test::SaverHarness;

TEST(DesktopInputTest, MouseMovesCloseOnlyFromTwoPixelsAfterTheFirstEvent) {
    SaverHarness h;
    h.PictureFolder({clRed});
    TDesktopWindow& w = h.Open();
    w.FormMouseMove(500, 500); // the first event only records, wherever it is
    EXPECT_FALSE(w.Closed());
    w.FormMouseMove(501, 499); // one pixel of jitter on both axes
    w.FormMouseMove(499, 501);
    EXPECT_FALSE(w.Closed());
    EXPECT_EQ(w.MouseMoves(), 3);
    w.FormMouseMove(500, 502); // two pixels on one axis
    EXPECT_TRUE(w.Closed());
    EXPECT_FALSE(w.isVisible());
}

TEST(DesktopInputTest, EachStopSwitchDecidesItsOwnInput) {
    struct Case {
        const char* name;
        std::function<void(TDesktopWindow&)> input;
    } cases[] = {
        {"StopOnKey", [](TDesktopWindow& w) { w.FormKeyDown('A'); }},
        {"StopOnMouseClick", [](TDesktopWindow& w) { w.FormClick(); }},
        {"StopOnMouseMove",
         [](TDesktopWindow& w) {
             w.FormMouseMove(10, 10);
             w.FormMouseMove(40, 10);
         }},
        {"StopOnPwrSave", [](TDesktopWindow& w) { w.MonitorPowerCommand(); }},
    };
    for (const auto& c : cases)
        for (bool on : {false, true}) {
            SaverHarness h;
            h.PictureFolder({clRed});
            h.Set("Setting", c.name, on ? "1" : "0");
            TDesktopWindow& w = h.Open();
            c.input(w);
            EXPECT_EQ(w.Closed(), on) << c.name << " " << on;
        }
}

TEST(DesktopInputTest, KeyEventsReachTheWindowAndTheCursorComesBack) {
    SaverHarness h;
    h.PictureFolder({clRed});
    TDesktopWindow& w = h.Open();
    EXPECT_TRUE(h.cursorHidden);
    bool closedCalled = false;
    w.OnClosed = [&] { closedCalled = true; };
    QKeyEvent press(QEvent::KeyPress, Qt::Key_Space, Qt::NoModifier, " ");
    QCoreApplication::sendEvent(&w, &press);
    EXPECT_TRUE(w.Closed());
    EXPECT_TRUE(closedCalled);
    EXPECT_FALSE(h.cursorHidden);
}

TEST(DesktopInputTest, MonitorPowerSavingClosesThroughTheDisplayWatch) {
    SaverHarness h;
    h.PictureFolder({clRed});
    TDesktopWindow& w = h.Open();
    h.Run(600);
    EXPECT_FALSE(w.Closed());
    h.power.state = TMonitorPower::Standby;
    h.Run(600);
    EXPECT_TRUE(w.Closed());
}

TEST(DesktopInputTest, PreviewIgnoresInputAndFollowsItsParent) {
    SaverHarness h;
    h.PictureFolder({clRed});
    h.natives.windows[0x4200007] = TRect{0, 0, 152, 112};
    PreviewWnd = 0x4200007;
    TDesktopWindow& w = h.Open();
    EXPECT_TRUE(w.IsPreview());
    EXPECT_EQ(h.natives.embedded[&w], TNativeHandle(0x4200007));
    EXPECT_EQ(w.FormBitmap().Width(), 152);
    EXPECT_EQ(w.Monitors().size(), 1u);
    EXPECT_EQ(w.Monitors()[0].Width, 152);
    EXPECT_EQ(w.PreviewScale(), 152 * 1000 / 320);
    EXPECT_FALSE(h.cursorHidden);
    EXPECT_FALSE(w.UseSound());
    w.FormKeyDown('A');
    w.FormClick();
    w.FormMouseMove(0, 0);
    w.FormMouseMove(100, 100);
    w.MonitorPowerCommand();
    EXPECT_FALSE(w.Closed());
    h.natives.windows.clear(); // the control panel destroyed the preview box
    h.Run(600);
    EXPECT_TRUE(w.Closed());
}

TEST(DesktopInputTest, WrongOldLinePasswordKeepsTheSaverAndRearmsTheMoveThreshold) {
    SaverHarness h;
    h.PictureFolder({clRed});
    SetOSLine(TOSLine::Win9x);
    SetScreenSaveUsePasswordSource([] { return true; });
    TDesktopWindow& w = h.Open();
    EXPECT_TRUE(ScreenSaverRunning());
    w.FormMouseMove(10, 10);
    w.FormMouseMove(50, 50);
    EXPECT_EQ(h.password.verifyCalls, 1);
    EXPECT_FALSE(w.Closed());
    EXPECT_TRUE(h.cursorHidden);
    EXPECT_EQ(w.MouseMoves(), 0); // re-armed
    w.FormMouseMove(52, 50);      // records only
    EXPECT_FALSE(w.Closed());
    h.password.verifyAnswer = true;
    w.FormMouseMove(60, 50);
    EXPECT_EQ(h.password.verifyCalls, 2);
    EXPECT_TRUE(w.Closed());
    EXPECT_FALSE(ScreenSaverRunning());
    EXPECT_FALSE(h.cursorHidden);
}

TEST(DesktopInputTest, NoPasswordWantedOrNoProviderClosesAtOnce) {
    SaverHarness h;
    h.PictureFolder({clRed});
    SetOSLine(TOSLine::Win9x);
    SetScreenSaveUsePasswordSource([] { return false; });
    TDesktopWindow& w = h.Open();
    w.FormClick();
    EXPECT_TRUE(w.Closed());
    EXPECT_EQ(h.password.verifyCalls, 0);

    SaverHarness h2;
    h2.PictureFolder({clRed});
    SetOSLine(TOSLine::Win9x);
    SetScreenSaveUsePasswordSource([] { return true; });
    h2.password.canVerify = false;
    TDesktopWindow& w2 = h2.Open();
    w2.FormClick();
    EXPECT_TRUE(w2.Closed());
    EXPECT_EQ(h2.password.verifyCalls, 0);
}

TEST(DesktopInputTest, TwoMonitorsAreLaidOutRelativeToTheCoveredArea) {
    SaverHarness h({TMonitor{TRect{0, 0, 320, 240}, true}, TMonitor{TRect{-200, 40, 0, 190}, false}});
    h.PictureFolder({clRed});
    h.Set("Setting", "MultiMon", "1");
    TDesktopWindow& w = h.Open();
    EXPECT_EQ(w.CoveredArea(), (TRect{-200, 0, 320, 240}));
    ASSERT_EQ(w.Monitors().size(), 2u);
    EXPECT_EQ(w.Monitors()[0].Left, 200);
    EXPECT_EQ(w.Monitors()[0].Top, 0);
    EXPECT_EQ(w.Monitors()[1].Left, 0);
    EXPECT_EQ(w.Monitors()[1].Top, 40);
    EXPECT_EQ(w.Monitors()[1].Width, 200);
    EXPECT_EQ(w.LogoMonitor(), 0);
    EXPECT_EQ(w.CurrentMonitor(), 0);
    EXPECT_EQ(w.FormBitmap().Width(), 520);
    EXPECT_EQ(h.grabber.lastArea, (TRect{-200, 0, 320, 240}));
}

TEST(DesktopInputTest, SeparateXScreensStandSideBySideEachWithItsOwnSnapshot) {
    {
        SaverHarness h({TMonitor{TRect{0, 0, 320, 240}, true, 0}, TMonitor{TRect{0, 0, 200, 100}, false, 1}});
        h.grabber.pixel = [&h](int, int) { return h.grabber.lastScreen == 1 ? 0x00AA0000u : 0x000000BBu; };
        h.PictureFolder({clRed});
        h.Set("Setting", "MultiMon", "1");
        TDesktopWindow& w = h.Open();
        ASSERT_EQ(w.Monitors().size(), 2u);
        EXPECT_EQ(w.Monitors()[1].Left, 320);
        EXPECT_EQ(w.Monitors()[1].Top, 0);
        EXPECT_EQ(w.FormBitmap().Width(), 520);
        EXPECT_EQ(w.FormBitmap().Height(), 240);
        ASSERT_EQ(w.ScreenParts().size(), 2u);
        EXPECT_EQ(w.ScreenParts()[1].XScreen, 1);
        EXPECT_EQ(w.ScreenParts()[1].FormLeft, 320);
        EXPECT_EQ(h.FormPixel(319, 10), 0x000000BBu);
        EXPECT_EQ(h.FormPixel(320, 10), 0x00AA0000u);
        EXPECT_EQ(h.FormPixel(519, 99), 0x00AA0000u);
        EXPECT_EQ(h.FormPixel(519, 100), 0u); // below the smaller screen
    }
    // Without "MultiMon" only the primary's screen is covered.
    SaverHarness single({TMonitor{TRect{0, 0, 200, 100}, false, 1}, TMonitor{TRect{0, 0, 320, 240}, true, 0}});
    TDesktopWindow& one = single.Open();
    EXPECT_EQ(one.FormBitmap().Width(), 320);
    EXPECT_EQ(one.ScreenParts().size(), 1u);
    EXPECT_EQ(single.grabber.lastScreen, 0);
}

TEST(DesktopInputTest, MultiMonWithOneMonitorOrOffCoversThePrimaryScreen) {
    for (const char* multi : {"0", "1"}) {
        SaverHarness h({TMonitor{TRect{0, 0, 300, 200}, true}});
        h.PictureFolder({clRed});
        h.Set("Setting", "MultiMon", multi);
        TDesktopWindow& w = h.Open();
        EXPECT_EQ(w.CoveredArea(), (TRect{0, 0, 300, 200}));
        ASSERT_EQ(w.Monitors().size(), 1u);
        EXPECT_EQ(w.Monitors()[0].Left, 0);
        EXPECT_EQ(w.Monitors()[0].Width, 300);
    }
    // Without "MultiMon" the primary monitor is shown even when it is not listed first.
    SaverHarness h({TMonitor{TRect{-640, 0, 0, 480}, false}, TMonitor{TRect{0, 0, 300, 200}, true}});
    h.PictureFolder({clRed});
    TDesktopWindow& w = h.Open();
    EXPECT_EQ(w.CoveredArea(), (TRect{0, 0, 300, 200}));
    EXPECT_EQ(w.Monitors()[0].Left, 0);
}

TEST(DesktopInputTest, NoEffectEnabledGivesNoEffectCode) {
    SaverHarness h;
    h.PictureFolder({clRed});
    h.OnlyEffects({});
    TDesktopWindow& w = h.Open();
    EXPECT_EQ(w.Engine().EffectCode(), NoEffectCode);
    EXPECT_TRUE(w.EnabledEffects().empty());
}

TEST(DesktopInputTest, CloseWhileLoadingWaitsForTheHandOver) {
    SaverHarness h;
    h.PictureFolder({clRed}, 1200, 900);
    TDesktopWindow& w = h.Open();
    h.clock.Advance(100); // the first tick starts the reading thread
    ASSERT_TRUE(w.Loading());
    w.FormKeyDown('A');
    EXPECT_FALSE(w.Closed());
    EXPECT_TRUE(w.CloseDeferred());
    h.WaitForReader();
    EXPECT_FALSE(w.Loading());
    EXPECT_TRUE(w.Closed());
}

TEST(DesktopInputTest, DestroyingTheWindowWhileAPictureLoadsIsSafe) {
    SaverHarness h;
    h.PictureFolder({clRed}, 2000, 1500);
    h.Open();
    h.clock.Advance(100);
    ASSERT_TRUE(h.window->Loading());
    h.window.reset();
    // The window waited for its reading thread and cancelled the hand-over: nothing is left to
    // reach the freed window.
    EXPECT_FALSE(CheckSynchronize(100));
}

} // namespace
} // namespace lumora
