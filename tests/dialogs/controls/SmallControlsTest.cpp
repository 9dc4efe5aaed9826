#include <string>
#include <vector>

#include <QAbstractItemView>
#include <QApplication>
#include <QClipboard>
#include <QLineEdit>
#include <QTest>

#include <gtest/gtest.h>

#include "dialogs/controls/ColorComboBox.h"
#include "dialogs/controls/NumEdit.h"
#include "dialogs/controls/UrlLabel.h"
#include "framework/Forms.h"

namespace lumora {
namespace {

TEST(IntEdit, KeyFilterAndChangeNotification) {
    TIntEdit edit;
    EXPECT_EQ(edit.text(), "0");
    EXPECT_EQ(edit.maxLength(), 11);
    edit.SetMin(0);
    edit.SetMax(99);
    int changes = 0;
    edit.OnChange = [&] { ++changes; };
    edit.clear();
    QTest::keyClicks(&edit, "12a");
    EXPECT_EQ(edit.text(), "12");
    EXPECT_EQ(edit.Value(), 12);
    EXPECT_EQ(changes, 2); // "1" and "12"
    QTest::keyClicks(&edit, "3");
    EXPECT_EQ(changes, 2); // 123 is out of range: no notification
    changes = 0;
    edit.setText("abc"); // pasted text bypasses the key filter
    EXPECT_EQ(changes, 0);
    EXPECT_THROW(edit.Value(), EConvertError);
    edit.setText("-5");
    EXPECT_EQ(changes, 0);
    EXPECT_THROW(edit.Validate(), ERangeError);
}

TEST(IntEdit, LimitsMoveTheValue) {
    TIntEdit edit;
    edit.SetValue(5);
    edit.SetMin(10);
    EXPECT_EQ(edit.Value(), 10);
    edit.SetMax(3); // below Min: Min follows down, the value too
    EXPECT_EQ(edit.Min(), 3);
    EXPECT_EQ(edit.Value(), 3);
    edit.SetMin(7);
    EXPECT_EQ(edit.Max(), 7);
    EXPECT_EQ(edit.Value(), 7);
}

TEST(IntEdit, LeavingWithABadValueShowsTheMessageAndKeepsFocus) {
    std::vector<std::string> shown;
    SetMessageReporter([&](const std::string& text, const std::string&, TMsgIcon, int) {
        shown.push_back(text);
        return 1;
    });
    QWidget form;
    auto* edit = new TIntEdit(&form);
    auto* other = new QLineEdit(&form);
    edit->SetMin(1);
    edit->SetMax(999);
    other->move(0, 40);
    form.show();
    QApplication::setActiveWindow(&form);
    edit->setFocus();
    QApplication::processEvents();
    edit->setText("0");
    other->setFocus(Qt::TabFocusReason);
    QApplication::processEvents();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0], "1 から 999 の間の値でなければなりません");
    EXPECT_TRUE(edit->hasFocus());
    edit->setText("abc");
    other->setFocus(Qt::TabFocusReason);
    QApplication::processEvents();
    EXPECT_EQ(shown.size(), 2u);
    EXPECT_TRUE(edit->hasFocus());
    edit->setText("5");
    other->setFocus(Qt::TabFocusReason);
    QApplication::processEvents();
    EXPECT_EQ(shown.size(), 2u);
    EXPECT_TRUE(other->hasFocus());
    SetMessageReporter(nullptr);
}

TEST(UpDown, StepsWithinRangeAndFollowsTheEdit) {
    TIntEdit edit;
    TUpDown updown;
    updown.SetRange(1, 999);
    updown.SetPosition(5);
    updown.SetAssociate(&edit);
    EXPECT_EQ(edit.text(), "5");
    updown.StepUp();
    EXPECT_EQ(edit.text(), "6");
    updown.SetPosition(5000);
    EXPECT_EQ(updown.Position(), 999);
    edit.setText("42");
    EXPECT_EQ(updown.Position(), 42);
    edit.setText("0"); // outside the range: the position stays
    EXPECT_EQ(updown.Position(), 42);
}

TEST(ColorComboBox, NamedColoursMapBothWays) {
    TColorComboBox box;
    ASSERT_EQ(box.count(), 18);
    EXPECT_EQ(box.itemText(0).toStdString(), "ｶｽﾀﾑ色");
    EXPECT_EQ(box.itemText(17).toStdString(), "ﾃﾞｽｸﾄｯﾌﾟ色");
    for (int i = 1; i < 18; ++i) {
        EXPECT_EQ(box.IndexOfColor(box.ColorOfIndex(i)), i) << i;
        box.SetSelectColor(box.ColorOfIndex(i));
        EXPECT_EQ(box.currentIndex(), i);
    }
    EXPECT_EQ(box.ColorOfIndex(10), 0x0000FF);
    EXPECT_EQ(box.ColorOfIndex(17), clBackground);
    EXPECT_EQ(box.ColorOfIndex(-1), box.Color);
    int changes = 0;
    box.OnChange = [&] { ++changes; };
    box.SetSelectColor(0x123456);
    EXPECT_EQ(box.currentIndex(), 0);
    EXPECT_EQ(box.CustomColor(), 0x123456);
    EXPECT_EQ(changes, 1);
    box.SetCustomColor(0x654321); // the custom entry is selected: the selection follows
    EXPECT_EQ(box.SelectColor(), 0x654321);
    EXPECT_EQ(changes, 2);
}

TEST(ColorComboBox, ClickOnNameDoesNotOpenTheList) {
    TColorComboBox box;
    box.resize(150, 22);
    box.show();
    int clicks = 0, doubles = 0;
    box.OnClick = [&] { ++clicks; };
    box.OnDblClick = [&] { ++doubles; };
    QTest::mouseClick(&box, Qt::LeftButton, {}, QPoint(20, 11));
    EXPECT_EQ(clicks, 1);
    EXPECT_FALSE(box.view()->isVisible());
    QTest::mouseDClick(&box, Qt::LeftButton, {}, QPoint(20, 11));
    EXPECT_EQ(doubles, 1);
    QTest::mouseClick(&box, Qt::LeftButton, {}, QPoint(145, 11));
    EXPECT_EQ(clicks, 1); // the arrow opens the list instead of clicking
    EXPECT_TRUE(box.view()->isVisible());
    box.hidePopup();
}

TEST(UrlLabel, OpensOnPressAndCopies) {
    std::vector<std::string> opened;
    SetUrlOpener([&](const std::string& link) {
        opened.push_back(link);
        return true;
    });
    TUrlLabel label;
    EXPECT_EQ(label.Caption(), "Default Caption");
    EXPECT_TRUE(label.font().underline());
    EXPECT_EQ(label.FontColor(), 0xFF0000);
    label.GoURL = "https://example.org/lumora";
    label.show();
    QTest::mousePress(&label, Qt::LeftButton);
    EXPECT_EQ(label.FontColor(), 0x800080);
    QTest::mouseRelease(&label, Qt::LeftButton);
    EXPECT_EQ(label.FontColor(), 0xFF0000);
    label.SetClick(false); // only the cursor changes: the link still opens
    label.GoURL = "  ";
    label.setText("https://caption.example");
    QTest::mouseClick(&label, Qt::LeftButton);
    EXPECT_EQ(opened, (std::vector<std::string>{"https://example.org/lumora", "https://caption.example"}));
    label.CopyLink();
    EXPECT_EQ(QGuiApplication::clipboard()->text().toStdString(), "https://caption.example");
    SetUrlOpener(nullptr);
}

} // namespace
} // namespace lumora
