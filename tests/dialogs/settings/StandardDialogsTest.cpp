// The framework's standard dialogs as the settings dialog shows them: the message box's button
// sets, the font dialog with its colour, and Qt's own dialogs in Japanese (kept as screenshots).

#include <algorithm>

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QColorDialog>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFontDialog>
#include <QHeaderView>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QToolButton>

#include "framework/Dialogs.h"
#include "framework/Graphics.h"
#include "tests/dialogs/settings/SubDialogsTestSupport.h"

namespace lumora::test {
namespace {

std::vector<std::string> ButtonTexts(QWidget& box) {
    std::vector<std::string> texts;
    for (QAbstractButton* button : box.findChild<QDialogButtonBox*>()->buttons())
        texts.push_back(button->text().remove('&').toStdString());
    std::sort(texts.begin(), texts.end());
    return texts;
}

// The buttons' texts from left to right, as they stand on the screen.
std::vector<std::string> ButtonsInOrder(QWidget& box) {
    QList<QAbstractButton*> buttons = box.findChild<QDialogButtonBox*>()->buttons();
    std::sort(buttons.begin(), buttons.end(), [&](QAbstractButton* a, QAbstractButton* b) {
        return a->mapTo(&box, QPoint()).x() < b->mapTo(&box, QPoint()).x();
    });
    std::vector<std::string> texts;
    for (QAbstractButton* button : buttons) texts.push_back(button->text().remove('&').toStdString());
    return texts;
}

QAbstractButton* ButtonNamed(QWidget& box, const std::string& text) {
    for (QAbstractButton* button : box.findChild<QDialogButtonBox*>()->buttons())
        if (button->text().remove('&').toStdString() == text) return button;
    return nullptr;
}

class StandardDialogs : public SubDialogTest {
protected:
    void SetUp() override {
        SubDialogTest::SetUp();
        LoadQtTranslations();
    }
    // Answers a message box of the set by clicking the button with the text; returns the answer.
    int Answer(int buttons, const std::string& click, std::vector<std::string>* texts = nullptr) {
        WhenModal([&](QWidget& box) {
            if (texts) *texts = ButtonTexts(box);
            QAbstractButton* button = ButtonNamed(box, click);
            EXPECT_TRUE(button) << click << " not among " << testing::PrintToString(ButtonTexts(box));
            if (button) QTest::mouseClick(button, Qt::LeftButton);
            else static_cast<QDialog&>(box).reject();
        });
        return RunMessageBox("本当に?", "Lumora", TMsgIcon::Question, buttons);
    }
};

TEST_F(StandardDialogs, EveryMessageBoxButtonSetAnswers) {
    std::vector<std::string> texts;
    EXPECT_EQ(Answer(MB_OK, "OK", &texts), IDOK);
    EXPECT_EQ(texts, std::vector<std::string>{"OK"});
    EXPECT_EQ(Answer(MB_OKCANCEL, "キャンセル", &texts), IDCANCEL);
    EXPECT_EQ(texts, (std::vector<std::string>{"OK", "キャンセル"}));
    EXPECT_EQ(Answer(MB_OKCANCEL, "OK"), IDOK);
    EXPECT_EQ(Answer(MB_YESNO, "いいえ(N)", &texts), IDNO);
    EXPECT_EQ(texts.size(), 2u);
    EXPECT_EQ(Answer(MB_YESNO, "はい(Y)"), IDYES);
    EXPECT_EQ(Answer(MB_YESNOCANCEL, "キャンセル", &texts), IDCANCEL);
    EXPECT_EQ(texts.size(), 3u);
    EXPECT_EQ(Answer(MB_RETRYCANCEL, "再試行"), IDRETRY);
    EXPECT_EQ(Answer(MB_ABORTRETRYIGNORE, "無視"), IDIGNORE);
    EXPECT_EQ(Answer(MB_ABORTRETRYIGNORE, "中止"), IDABORT);
    // Each set stands in its own order, whatever the desktop's habit for dialog buttons.
    for (auto [buttons, order] : std::vector<std::pair<int, std::vector<std::string>>>{
             {MB_ABORTRETRYIGNORE, {"中止", "再試行", "無視"}},
             {MB_OKCANCEL, {"OK", "キャンセル"}},
             {MB_YESNOCANCEL, {"はい(Y)", "いいえ(N)", "キャンセル"}},
             {MB_YESNO, {"はい(Y)", "いいえ(N)"}},
             {MB_RETRYCANCEL, {"再試行", "キャンセル"}}}) {
        std::vector<std::string> shown;
        WhenModal([&](QWidget& box) {
            box.adjustSize();
            QApplication::processEvents();
            shown = ButtonsInOrder(box);
            QTest::keyClick(&box, Qt::Key_Escape);
        });
        RunMessageBox("本当に?", "Lumora", TMsgIcon::Question, buttons);
        EXPECT_EQ(shown, order) << buttons;
    }
    // Escape is the set's way out: an OK/Cancel box is cancelled.
    WhenModal([](QWidget& box) { QTest::keyClick(&box, Qt::Key_Escape); });
    EXPECT_EQ(RunMessageBox("Targa", "Warning", TMsgIcon::Warning, MB_OKCANCEL), IDCANCEL);
}

TEST_F(StandardDialogs, CaptionFontDialogSetsTheColour) {
    Put(kLumoraKey, "Setting", "CapDisp", "1");
    auto dlg = OpenSettings();
    ASSERT_EQ(dlg->CurrentData().CapFont.Color, 0xFFFFFF);
    auto* fontButton = Find<QPushButton>(*dlg, "FontBtn");
    ASSERT_TRUE(fontButton->isEnabled());
    WhenModal([](QWidget& form) {
        auto* colors = Find<QComboBox>(form, "FontColor");
        EXPECT_EQ(colors->currentText().toStdString(), "白");
        EXPECT_EQ(Find<QFontDialog>(form, "FontFaces")->currentFont().family().toStdString(), "IPAPGothic");
        SaveShot(form, "font-dialog");
        QTest::keyClick(colors, Qt::Key_Home);
        for (int i = 0; i < 9; ++i) QTest::keyClick(colors, Qt::Key_Down);
        EXPECT_EQ(colors->currentText().toStdString(), "赤");
        QTest::mouseClick(ButtonNamed(form, "OK"), Qt::LeftButton);
    });
    QTest::mouseClick(fontButton, Qt::LeftButton);
    EXPECT_EQ(dlg->CurrentData().CapFont.Color, 0x0000FF);
    EXPECT_EQ(dlg->CurrentData().CapFont.Name, "ＭＳ Ｐゴシック");
    // Cancel keeps the colour.
    WhenModal([](QWidget& form) {
        QTest::keyClick(Find<QComboBox>(form, "FontColor"), Qt::Key_Home);
        QTest::mouseClick(ButtonNamed(form, "キャンセル"), Qt::LeftButton);
    });
    QTest::mouseClick(fontButton, Qt::LeftButton);
    EXPECT_EQ(dlg->CurrentData().CapFont.Color, 0x0000FF);
    QTest::mouseClick(Find<QPushButton>(*dlg, "Button3"), Qt::LeftButton);
    TRegData saved(kLumoraKey);
    saved.Load();
    EXPECT_EQ(saved.CapFont.Color, 0x0000FF);
}

TEST_F(StandardDialogs, LogoDialogAddsTheBitmapExtensionToATypedName) {
    std::filesystem::create_directories(dir.File("logos"));
    TBitmap(4, 4).SaveToFile(dir.File("logos/first.bmp"));
    TBitmap(4, 4).SaveToFile(dir.File("logos/rings.bmp"));
    Put(kLumoraKey, "LOGO", "DispTitle", "1");
    Put(kLumoraKey, "LOGO", "UseTitle", "1");
    Put(kLumoraKey, "LOGO", "TitleBmp", dir.File("logos/first.bmp"));
    auto dlg = OpenSettings();
    auto* browse = Find<QToolButton>(*dlg, "SpeedButton3");
    ASSERT_TRUE(browse->isEnabled());
    WhenModal([](QWidget& form) {
        EXPECT_EQ(form.windowTitle().toStdString(), "ﾛｺﾞｲﾒｰｼﾞの選択");
        auto* name = Find<QLineEdit>(form, "fileNameEdit");
        QTest::keyClicks(name, "rings");
        // A name the dialog cannot find brings up its notice: close it, so the test goes on.
        QTimer::singleShot(0, [] {
            auto* notice = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (notice) notice->reject();
        });
        QTest::keyClick(name, Qt::Key_Return);
    });
    QTest::mouseClick(browse, Qt::LeftButton);
    EXPECT_EQ(Find<QLineEdit>(*dlg, "EdtLogoImg")->text().toStdString(), dir.File("logos/rings.bmp"));
}

// A folder and files named in Latin-1 ("é", "ö") and CP932 ("ロゴ"): the logo dialog opens in the
// logo's folder, lists the files by the names the pickers show, and a double click on one makes it
// the logo, kept as its bytes.
TEST_F(StandardDialogs, LogoDialogOpensInTheLogosFolderAndListsNamesThatAreNotUtf8) {
    const std::string folder = dir.File("logos/caf\xE9");
    std::filesystem::create_directories(folder);
    TBitmap(4, 4).SaveToFile(folder + "/first.bmp");
    TBitmap(4, 4).SaveToFile(folder + "/s\xF6.bmp");
    TBitmap(4, 4).SaveToFile(folder + "/\x83\x8D\x83\x53.bmp"); // "ロゴ" in CP932
    Put(kLumoraKey, "LOGO", "DispTitle", "1");
    Put(kLumoraKey, "LOGO", "UseTitle", "1");
    Put(kLumoraKey, "LOGO", "TitleBmp", folder + "/first.bmp");
    auto dlg = OpenSettings();
    std::vector<std::string> listed;
    WhenModal([&](QWidget& form) {
        QApplication::processEvents();
        SaveShot(form, "logo-dialog");
        QAbstractItemView* view = nullptr;
        QModelIndex chosen;
        for (QAbstractItemView* v : form.findChildren<QAbstractItemView*>()) {
            if (!v->isVisible() || qobject_cast<QHeaderView*>(v)) continue;
            for (int row = 0; row < v->model()->rowCount(v->rootIndex()); ++row) {
                QModelIndex index = v->model()->index(row, 0, v->rootIndex());
                std::string name = index.data().toString().toStdString();
                if (name.size() > 4 && name.substr(name.size() - 4) == ".bmp") listed.push_back(name);
                if (index.data().toString() == QString::fromUtf8("s\u00f6.bmp")) view = v, chosen = index;
            }
        }
        if (!view) return static_cast<QDialog&>(form).reject();
        view->scrollTo(chosen);
        QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, view->visualRect(chosen).center());
        QTest::mouseDClick(view->viewport(), Qt::LeftButton, {}, view->visualRect(chosen).center());
    });
    QTest::mouseClick(Find<QToolButton>(*dlg, "SpeedButton3"), Qt::LeftButton);
    std::sort(listed.begin(), listed.end());
    EXPECT_EQ(listed, (std::vector<std::string>{"first.bmp", "s\u00f6.bmp", "ロゴ.bmp"}));
    EXPECT_EQ(Find<QLineEdit>(*dlg, "EdtLogoImg")->text().toStdString(),
              dir.File("logos/caf\u00e9/s\u00f6.bmp"));
    QTest::mouseClick(Find<QPushButton>(*dlg, "Button3"), Qt::LeftButton);
    EXPECT_EQ(Get(kLumoraKey, "LOGO", "TitleBmp"), folder + "/s\xF6.bmp");
}

TEST_F(StandardDialogs, QtDialogsSpeakJapanese) {
    auto dlg = OpenSettings();
    // Screenshot, then close, whatever Qt dialog opens next.
    auto shootAndClose = [](const std::string& name, const std::string& expected) {
        WhenModal([name, expected](QWidget& form) {
            SaveShot(form, name);
            bool found = false;
            for (QAbstractButton* button : form.findChildren<QAbstractButton*>())
                found = found || button->text().remove('&').toStdString() == expected;
            EXPECT_TRUE(found) << name << " has no " << expected;
            QTest::keyClick(&form, Qt::Key_Escape);
        });
    };
    shootAndClose("colour-dialog", "キャンセル");
    QColorDialog::getColor(Qt::white, dlg.get(), {}, QColorDialog::DontUseNativeDialog);
    shootAndClose("file-dialog", "キャンセル");
    QFileDialog::getOpenFileName(dlg.get(), QStringLiteral("ﾛｺﾞｲﾒｰｼﾞの選択"), QString::fromStdString(dir.File("")),
                                 QStringLiteral("ビットマップファイル (*.bmp)"), nullptr,
                                 QFileDialog::DontUseNativeDialog);
    shootAndClose("message-box", "キャンセル");
    RunMessageBox("Targa image: 1 or 4 bit color depth not allowed. Convert to 256 colors?", "Warning",
                  TMsgIcon::Warning, MB_OKCANCEL);
}

} // namespace
} // namespace lumora::test
