// The picture-size dialog: modes, presets, number boxes, the 64-pixel floor, the box restored
// after mode 0, and what reaches the settings dialog.

#include <QFocusEvent>
#include <QFrame>
#include <QPushButton>
#include <QLabel>
#include <QRadioButton>
#include <QSlider>
#include <QToolButton>

#include "dialogs/settings/PictureSizeDialog.h"
#include "dialogs/controls/NumEdit.h"
#include "tests/dialogs/settings/SubDialogsTestSupport.h"

namespace lumora::test {
namespace {

class PictureSize : public SubDialogTest {
protected:
    std::unique_ptr<TImgSSet> Open(int mode, int x, int y) {
        auto form = std::make_unique<TImgSSet>();
        form->Mode = mode;
        form->BoxX = x;
        form->BoxY = y;
        form->show();
        return form;
    }
    static int BarX(TImgSSet& f) { return Find<QSlider>(f, "TrackBarX")->value(); }
    static int BarY(TImgSSet& f) { return Find<QSlider>(f, "TrackBarY")->value(); }
    static std::string BoxX(TImgSSet& f) { return Find<TIntEdit>(f, "IntEditX")->text().toStdString(); }
    static std::string BoxY(TImgSSet& f) { return Find<TIntEdit>(f, "IntEditY")->text().toStdString(); }
    static void Choose(TImgSSet& f, int mode) {
        QTest::mouseClick(Find<QRadioButton>(f, ("RadioGroup1Item" + std::to_string(mode)).c_str()), Qt::LeftButton);
    }
    static void TypeAndLeave(TImgSSet& f, const char* edit, const char* text) {
        auto* box = Find<TIntEdit>(f, edit);
        box->setText(text);
        QFocusEvent out(QEvent::FocusOut, Qt::TabFocusReason);
        QApplication::sendEvent(box, &out);
    }
};

TEST_F(PictureSize, OpeningInModeZeroShowsTheScreenAndLeavingItRestoresTheBox) {
    auto form = Open(0, 800, 600);
    EXPECT_EQ(form->windowTitle().toStdString(), "画像サイズ設定");
    EXPECT_EQ(form->ScreenW, 1920);
    EXPECT_EQ(form->ScreenH, 1080);
    EXPECT_EQ(BarX(*form), 1920);
    EXPECT_EQ(BarY(*form), 1080);
    EXPECT_EQ(BoxX(*form), "1920");
    EXPECT_EQ(BoxY(*form), "1080");
    for (const char* name : {"TrackBarX", "IntEditX", "TrackBarY", "IntEditY", "SpeedButton1", "SpeedButton5"})
        EXPECT_FALSE(Find<QWidget>(*form, name)->isEnabled()) << name;
    SaveShot(*form, "picture-size-mode0");

    Choose(*form, 1);
    EXPECT_EQ(BarX(*form), 800);
    EXPECT_EQ(BarY(*form), 600);
    EXPECT_EQ(BoxX(*form), "800");
    EXPECT_TRUE(Find<QWidget>(*form, "TrackBarX")->isEnabled());
    EXPECT_TRUE(Find<QWidget>(*form, "SpeedButton3")->isEnabled());

    // Into mode 0 and out again, this time from an edited box.
    Find<QSlider>(*form, "TrackBarX")->setValue(1000);
    Choose(*form, 0);
    EXPECT_EQ(BarX(*form), 1920);
    Choose(*form, 2);
    EXPECT_EQ(BarX(*form), 1000);
    EXPECT_EQ(BarY(*form), 600);
    form->close();
    EXPECT_EQ(form->Mode, 2);
    EXPECT_EQ(form->BoxX, 1000);
    EXPECT_EQ(form->BoxY, 600);
}

TEST_F(PictureSize, SwitchingBetweenTheFittingModesKeepsTheEditedBox) {
    auto form = Open(1, 800, 600);
    Find<QSlider>(*form, "TrackBarX")->setValue(500);
    Find<QSlider>(*form, "TrackBarY")->setValue(400);
    Choose(*form, 2);
    EXPECT_EQ(BarX(*form), 500);
    EXPECT_EQ(BarY(*form), 400);
    Choose(*form, 1);
    EXPECT_EQ(BarX(*form), 500);
}

TEST_F(PictureSize, PresetsScaleTheScreenSize) {
    auto form = Open(1, 800, 600);
    SaveShot(*form, "picture-size");
    ExpectInside(*form);
    const std::vector<std::tuple<const char*, int, int>> presets = {{"SpeedButton3", 1344, 756},
                                                                    {"SpeedButton2", 1632, 918},
                                                                    {"SpeedButton4", 1056, 594},
                                                                    {"SpeedButton5", 768, 432},
                                                                    {"SpeedButton1", 1920, 1080}};
    for (auto [button, x, y] : presets) {
        QTest::mouseClick(Find<QToolButton>(*form, button), Qt::LeftButton);
        EXPECT_EQ(BarX(*form), x) << button;
        EXPECT_EQ(BarY(*form), y) << button;
        EXPECT_EQ(BoxX(*form), std::to_string(x)) << button;
        EXPECT_EQ(BoxY(*form), std::to_string(y)) << button;
    }
}

TEST_F(PictureSize, NumberBoxesMoveTheBarsAndNeverGoBelow64) {
    auto form = Open(1, 800, 600);
    TypeAndLeave(*form, "IntEditX", "30");
    EXPECT_EQ(BarX(*form), 64);
    EXPECT_EQ(BoxX(*form), "64");
    TypeAndLeave(*form, "IntEditX", "800");
    EXPECT_EQ(BarX(*form), 800);
    TypeAndLeave(*form, "IntEditY", "0");
    EXPECT_EQ(BarY(*form), 64);
    EXPECT_EQ(BoxY(*form), "64");
    Find<QSlider>(*form, "TrackBarY")->setValue(10);
    EXPECT_EQ(BarY(*form), 64);
    // A box holding no number leaves its bar alone, and closing takes the bar's position.
    TypeAndLeave(*form, "IntEditX", "");
    EXPECT_EQ(BarX(*form), 800);
    form->close();
    EXPECT_EQ(form->BoxX, 800);
    EXPECT_EQ(form->BoxY, 64);
    EXPECT_EQ(form->Mode, 1);
    // A stored box below the floor opens raised to it.
    auto small = Open(2, 10, 20);
    EXPECT_EQ(BoxX(*small), "64");
    EXPECT_EQ(BoxY(*small), "64");
}

TEST_F(PictureSize, EnterInANumberBoxStoresWhatLeavingItWouldGive) {
    struct Case {
        const char* box;
        const char* typed;
        int x, y;
    };
    for (const Case& c : {Case{"IntEditX", "30", 64, 600}, Case{"IntEditX", "99999", 1920, 600},
                          Case{"IntEditX", "800", 800, 600}, Case{"IntEditY", "5", 700, 64},
                          Case{"IntEditY", "99999", 700, 1080}}) {
        auto form = Open(1, 700, 600);
        auto* box = Find<TIntEdit>(*form, c.box);
        box->setFocus();
        box->selectAll();
        QTest::keyClicks(box, c.typed);
        QTest::keyClick(box, Qt::Key_Return);
        EXPECT_EQ(form->result(), QDialog::Accepted) << c.box << " " << c.typed;
        EXPECT_EQ(form->BoxX, c.x) << c.box << " " << c.typed;
        EXPECT_EQ(form->BoxY, c.y) << c.box << " " << c.typed;
    }
    EXPECT_TRUE(messages.empty());
}

TEST_F(PictureSize, TheBoxPictureFollowsTheBars) {
    auto form = Open(1, 960, 540);
    QRect outer = Find<QFrame>(*form, "Shape1")->geometry();
    QRect box = Find<QFrame>(*form, "Shape2")->geometry();
    EXPECT_EQ(box.width(), outer.width() / 2);
    EXPECT_EQ(box.height(), outer.height() / 2);
    EXPECT_TRUE(QRect(QPoint(0, 0), outer.size()).contains(box));
    QTest::mouseClick(Find<QToolButton>(*form, "SpeedButton1"), Qt::LeftButton);
    box = Find<QFrame>(*form, "Shape2")->geometry();
    EXPECT_EQ(box.size(), outer.size());
}

TEST_F(PictureSize, NoMonitorGivesAnEmptyScreenWithoutFailing) {
    FakeScreens none{{}};
    SetScreens(&none);
    auto form = Open(1, 800, 600);
    EXPECT_EQ(form->ScreenW, 0);
    EXPECT_EQ(Find<QFrame>(*form, "Shape2")->width(), 0);
    QTest::mouseClick(Find<QToolButton>(*form, "SpeedButton3"), Qt::LeftButton);
    Choose(*form, 0);
    form->close();
    EXPECT_EQ(form->Mode, 0);
    EXPECT_TRUE(messages.empty());
}

TEST_F(PictureSize, OkOfTheDialogReachesTheSettingsRecordAndLabel) {
    TSettingsDialogHooks saved = SettingsDialogHooks();
    auto dlg = OpenSettings();
    std::unique_ptr<TImgSSet> shown; // a child of the dialog: freed first
    // The hook as installed, with the modal loop replaced by a scripted user.
    SettingsDialogHooks().PictureSize = [&](TSaverSettings& dlg, int& mode, int& x, int& y) {
        shown = std::make_unique<TImgSSet>(&dlg);
        shown->Mode = mode;
        shown->BoxX = x;
        shown->BoxY = y;
        shown->show();
        Choose(*shown, 2);
        QTest::mouseClick(Find<QToolButton>(*shown, "SpeedButton5"), Qt::LeftButton);
        QTest::mouseClick(Find<QPushButton>(*shown, "Button1"), Qt::LeftButton);
        if (shown->result() != QDialog::Accepted) return false;
        mode = shown->Mode;
        x = shown->BoxX;
        y = shown->BoxY;
        return true;
    };
    dlg->Button1Click();
    EXPECT_EQ(dlg->CurrentData().SizeAdjust, 2);
    EXPECT_EQ(dlg->CurrentData().SizeAdjustX, 768);
    EXPECT_EQ(dlg->CurrentData().SizeAdjustY, 432);
    EXPECT_EQ(Find<QLabel>(*dlg, "Label4")->text().toStdString(), "768×432に合わせる");
    SettingsDialogHooks() = saved;
}

} // namespace
} // namespace lumora::test
