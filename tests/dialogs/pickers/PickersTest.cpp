#include <chrono>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QStandardItemModel>
#include <QTest>
#include <QToolButton>
#include <QTreeView>

#include <gtest/gtest.h>

#include "audio/tagforms/TagItemDialog.h"
#include "dialogs/pickers/Pickers.h"
#include "dialogs/pickers/PictureFolderPicker.h"
#include "dialogs/pickers/PicturePreview.h"
#include "dialogs/pickers/SoundFolderPicker.h"
#include "dialogs/settings/SaverSettings.h"
#include "engine/saver/PictureFormats.h"
#include "engine/settings/Settings.h"
#include "framework/Forms.h"
#include "framework/Graphics.h"
#include "framework/Registry.h"
#include "platform/shell/Shell.h"
#include "platform/system/RegistryFile.h"
#include "tests/audio/tags/TagTestUtil.h"
#include "tests/dialogs/settings/SubDialogsTestSupport.h"
#include "tests/platform/shell/ShellLinkBuilder.h"
#include "tests/support/JpegTestUtil.h"
#include "tests/support/TempDir.h"
#include "tests/support/TestScreen.h"

namespace lumora {
namespace {

namespace fs = std::filesystem;
using test::Find;
using test::LE16;
using test::LE32;

std::string Text(QWidget& form, const char* name) { return Find<QLabel>(form, name)->text().toStdString(); }

void SaveArtefact(QWidget& form, const std::string& name) {
    form.grab().save(QString::fromStdString(std::string(LUMORA_BINARY_DIR) + "/" + name));
}

// An ID3v1 tag: title, artist, album, year, comment, track 0, genre.
std::string Id3v1(const std::string& title, const std::string& artist, uint8_t genre) {
    auto field = [](const std::string& s, size_t n) { return (s + std::string(n, '\0')).substr(0, n); };
    return "TAG" + field(title, 30) + field(artist, 30) + field("v1 album", 30) + "1999" + field("v1 note", 30) +
           std::string(1, char(genre));
}

// The 44-byte header of a 16-bit stereo 22050 Hz WAVE file holding seconds of silence.
std::string Wav(int seconds) {
    uint32_t data = 22050u * 4 * static_cast<uint32_t>(seconds);
    return "RIFF" + LE32(36 + data) + "WAVEfmt " + LE32(16) + LE16(1) + LE16(2) + LE32(22050) + LE32(22050 * 4) +
           LE16(4) + LE16(16) + "data" + LE32(data) + std::string(data, '\0');
}

class Pickers : public ::testing::Test {
protected:
    test::TempDir dir;
    std::string root;
    std::shared_ptr<TMemoryRegistryStore> store = std::make_shared<TMemoryRegistryStore>();
    std::unique_ptr<TRegData> data;
    std::vector<std::string> messages;
    TFakeShellUi ui;

    void SetUp() override {
        RegisterPictureFormats();
        SetRegistryStore(store);
        SetShellUi(&ui);
        root = dir.File("root");
        fs::create_directories(root + "/pics");
        TBitmap wide(40, 20);
        wide.SaveToFile(dir.File("root/pics/wide.bmp"));
        TBitmap tall(10, 40);
        tall.SaveToFile(dir.File("root/pics/tall.bmp"));
        dir.WriteFile("root/pics/broken.bmp", "BM not really");
        dir.WriteFile("root/pics/to-wide.lnk", test::BuildShellLink({".\\wide.bmp", "", "", ""}));
        dir.WriteFile("root/pics/sub/deep.png", "p");
        dir.WriteFile("root/music/both.mp3", test::Tag(3, test::Frame23("TIT2", test::Latin("v2 title")) +
                                                             test::Frame23("TPE1", test::Latin("v2 artist"))) +
                                                 test::MpegFrames(40) + Id3v1("v1 title", "v1 artist", 17));
        dir.WriteFile("root/music/old.mp3", test::MpegFrames(40) + Id3v1("old title", "old artist", 17));
        dir.WriteFile("root/music/tone.wav", Wav(3));
        dir.WriteFile("root/music/song.mid", "MThd");
        dir.WriteFile("root/music/to-both.lnk", test::BuildShellLink({".\\both.mp3", "", "", ""}));
        SetShellPlaces({{"Root", root}});
        data = std::make_unique<TRegData>(kLumoraKey);
        SetMessageReporter([this](const std::string& text, const std::string&, TMsgIcon, int) {
            messages.push_back(text);
            return 1;
        });
    }
    void TearDown() override {
        PickerModalRunner() = [](QDialog& dialog) { return dialog.exec(); };
        SetMessageReporter(nullptr);
        SetShellPlaces({});
        SetShellUi(nullptr);
        SetRegistryStore(std::make_shared<TMemoryRegistryStore>());
    }
    std::string Stored(const std::string& name) {
        TRegIniFile ini(kLumoraKey);
        return ini.ReadString("Setting", name, "<missing>");
    }
    // Clicks the tree's node with the caption below the node of a folder, as a user would.
    static void ClickFolder(TPickerForm& form, const std::string& parent, const QString& caption) {
        auto* tree = form.findChild<TFolderView*>("FolderView1");
        ASSERT_TRUE(tree->SelectPath(parent)) << parent;
        QTreeWidgetItem* node = tree->currentItem();
        node->setExpanded(true);
        QTreeWidgetItem* child = nullptr;
        for (int i = 0; i < node->childCount(); ++i)
            if (node->child(i)->text(0) == caption) child = node->child(i);
        ASSERT_TRUE(child) << caption.toStdString();
        tree->scrollToItem(child);
        QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, tree->visualItemRect(child).center());
        ASSERT_EQ(tree->currentItem(), child);
    }
    // Chooses a history entry with the keyboard, as a user would.
    static void ChooseHistory(TPickerForm& form, const QString& text) {
        auto* combo = Find<QComboBox>(form, "ComboBox1");
        int row = combo->findText(text);
        ASSERT_GE(row, 0) << text.toStdString();
        QTest::keyClick(combo, Qt::Key_F4);
        ASSERT_TRUE(combo->view()->isVisible());
        combo->view()->setCurrentIndex(combo->model()->index(row, 0));
        QTest::keyClick(combo->view(), Qt::Key_Return);
    }
    static void Select(TPickerForm& form, const std::string& name) {
        TFileView* list = form.findChild<TFileView*>("FileView1");
        int row = list->FindRow(name);
        ASSERT_GE(row, 0) << name;
        list->SelectRow(row);
    }
};

TEST(PickerHelpers, FitRatioMaskAndPlayTime) {
    EXPECT_DOUBLE_EQ(FitRatio(40, 20, 126, 98), 126.0 / 40);
    EXPECT_DOUBLE_EQ(FitRatio(10, 40, 126, 98), 98.0 / 40);
    EXPECT_DOUBLE_EQ(FitRatio(1000, 2000, 126, 98), 98.0 / 2000);
    EXPECT_EQ(FitRatio(10, 0, 126, 98), 0);
    EXPECT_EQ(FitRatio(10, 10, 126, 0), 0);
    EXPECT_EQ(FitRatio(0, 10, 126, 98), 0);

    EXPECT_EQ(MaskFromPatterns("*.jpg;*.bmp"), (std::vector<std::string>{".jpg", ".bmp"}));
    EXPECT_EQ(MaskFromPatterns(";;*.*;*;.png;"), (std::vector<std::string>{".", ".png"}));
    EXPECT_TRUE(MaskFromPatterns("").empty());

    EXPECT_EQ(PlayTimeText(185.6), "3:06");
    EXPECT_EQ(PlayTimeText(59.4), "0:59");
    EXPECT_EQ(PlayTimeText(3600), "60:00");
    EXPECT_EQ(PlayTimeText(-5), "0:00");
    EXPECT_EQ(PlayTimeText(std::nan("")), "0:00");

    // Each name of a path reads as UTF-8 when it is, else as 8-bit text: CP932 where it reads as
    // Japanese, Windows-1252 otherwise, also where those bytes happen to be valid CP932 ("Crème").
    EXPECT_EQ(FileNameText("/写真/caf\xE9"), QString::fromUtf8("/写真/caf\u00e9"));
    EXPECT_EQ(FileNameText("/\x8E\xCA\x90\x5E/Cr\xE8me.jpg"), QString::fromUtf8("/写真/Crème.jpg"));
    EXPECT_EQ(FileNameText("\xD6lgem\xE4lde/\x83\x5C\x83\x93\x83\x4F.mp3"), QString::fromUtf8("Ölgemälde/ソング.mp3"));
    // Broken UTF-8: a cut sequence that is a CP932 kanji, and bytes CP932 does not use.
    EXPECT_EQ(FileNameText("\xE5\x86/\xC0\xAF\xED\xA0\x80"),
              QString::fromUtf8("蜀/\u00c0\u00af\u00ed\u00a0\u20ac"));
    EXPECT_EQ(FileNameText(""), QString());
}

TEST_F(Pickers, PictureFolderPickerPreviewsAndRemembersItsViews) {
    data->ImgBtnState = 7;
    data->ImgPreview = true;
    TDSelect form(nullptr, *data);
    form.Folder = root + "/pics";
    form.Mask = "*.jpg;*.bmp";
    form.show();
    // A stored view state other than 0 and 1 opens the report view.
    EXPECT_TRUE(Find<QToolButton>(form, "SpeedButton6")->isChecked());
    EXPECT_EQ(form.findChild<TFileView*>("FileView1")->ViewStyle(), TViewStyle::vsReport);
    EXPECT_EQ(form.findChild<TFolderView*>("FolderView1")->SelectedPath(), root + "/pics");
    EXPECT_EQ(Find<QComboBox>(form, "ComboBox1")->currentText().toStdString(), root + "/pics");
    EXPECT_TRUE(Find<QPushButton>(form, "Button2")->isEnabled());
    TFileView* list = form.findChild<TFileView*>("FileView1");
    EXPECT_EQ(list->Count(), 4); // the three pictures and the shortcut; the sub-folder is not listed

    Select(form, "wide.bmp");
    EXPECT_EQ(Text(form, "Label2"), "wide.bmp");
    EXPECT_EQ(Text(form, "Label3"), "(40x20)");
    EXPECT_EQ(form.ThumbnailSize(), QSize(126, 63));
    EXPECT_EQ(Find<QWidget>(form, "Image1")->pos(), QPoint(8, 7 + (98 - 63) / 2));
    EXPECT_TRUE(Find<QPushButton>(form, "BitBtn1")->isEnabled());
    SaveArtefact(form, "picker-pictures.png");

    Select(form, "tall.bmp");
    EXPECT_EQ(form.ThumbnailSize(), QSize(24, 98));
    // A shortcut previews its target under its own name.
    Select(form, "to-wide.lnk");
    EXPECT_EQ(Text(form, "Label2"), "to-wide.lnk");
    EXPECT_EQ(Text(form, "Label3"), "(40x20)");

    Select(form, "broken.bmp");
    EXPECT_EQ(messages, std::vector<std::string>{"画像ﾌｧｲﾙが不正です"});
    EXPECT_FALSE(Find<QPushButton>(form, "BitBtn1")->isEnabled());
    // Picking the same file again does not read it again.
    list->ReportView()->clearSelection();
    EXPECT_EQ(Text(form, "Label2"), "");
    Select(form, "broken.bmp");
    Select(form, "broken.bmp");
    EXPECT_EQ(messages.size(), 2u);

    // The virtual desktop is no folder to choose.
    QTreeWidget* tree = form.findChild<TFolderView*>("FolderView1");
    tree->setCurrentItem(tree->topLevelItem(0));
    EXPECT_FALSE(Find<QPushButton>(form, "Button2")->isEnabled());
    Find<QComboBox>(form, "ComboBox1")->setCurrentIndex(0);
    form.ComboBox1Change();
    EXPECT_EQ(form.findChild<TFolderView*>("FolderView1")->SelectedPath(), root + "/pics");

    QTest::mouseClick(Find<QToolButton>(form, "SpeedButton2"), Qt::LeftButton);
    EXPECT_EQ(data->ImgBtnState, 0);
    EXPECT_EQ(list->ViewStyle(), TViewStyle::vsIcon);
    QTest::mouseClick(Find<QToolButton>(form, "SpeedButton4"), Qt::LeftButton);
    EXPECT_EQ(data->ImgBtnState, 1);
    QTest::mouseClick(Find<QToolButton>(form, "SpeedButton1"), Qt::LeftButton);
    EXPECT_FALSE(data->ImgPreview);
    EXPECT_FALSE(Find<QWidget>(form, "Panel4")->isVisible());
    EXPECT_EQ(Stored("ImgBtnState"), "<missing>");
    // Cancel still writes the view switches.
    QTest::mouseClick(Find<QPushButton>(form, "Button1"), Qt::LeftButton);
    EXPECT_EQ(form.result(), QDialog::Rejected);
    EXPECT_EQ(Stored("ImgBtnState"), "1");
    EXPECT_EQ(Stored("ImgPreview"), "0");
    EXPECT_EQ(form.Folder, root + "/pics");
}

TEST_F(Pickers, ShowButtonOpensThePictureWindow) {
    TDSelect form(nullptr, *data);
    form.Folder = root + "/pics";
    form.Mask = "*.bmp";
    form.show();
    std::string caption;
    QSize size;
    PickerModalRunner() = [&](QDialog& dialog) {
        caption = dialog.windowTitle().toStdString();
        size = dialog.size();
        auto& preview = dynamic_cast<TIPrev&>(dialog);
        // The window follows the mouse while the left button is held.
        QPoint start = preview.pos();
        preview.Image1MouseDown(QPoint(100, 100));
        preview.Image1MouseMove(QPoint(110, 95), true);
        preview.Image1MouseMove(QPoint(120, 90), true);
        preview.Image1MouseMove(QPoint(500, 500), false);
        EXPECT_EQ(preview.pos(), start + QPoint(20, -10));
        EXPECT_EQ(preview.PopupMenu1->actions().value(0)->text().toStdString(), "閉じる");
        return 0;
    };
    Select(form, "to-wide.lnk");
    QTest::mouseClick(Find<QPushButton>(form, "BitBtn1"), Qt::LeftButton);
    EXPECT_EQ(caption, root + "/pics/wide.bmp");
    EXPECT_EQ(size, QSize(40, 20));

    // A picture that cannot be read reaches the application's handler, which shows its message.
    caption.clear();
    Select(form, "broken.bmp");
    messages.clear();
    EXPECT_THROW(form.SpeedButton5Click(), std::exception);
    EXPECT_TRUE(caption.empty());
    form.findChild<TFileView*>("FileView1")->SelectRow(0);
    Select(form, "broken.bmp");
    Find<QPushButton>(form, "BitBtn1")->setEnabled(true);
    messages.clear();
    QTest::mouseClick(Find<QPushButton>(form, "BitBtn1"), Qt::LeftButton);
    EXPECT_TRUE(caption.empty());
    EXPECT_EQ(messages, std::vector<std::string>{"Bitmap image is not valid"});
}

TEST_F(Pickers, PhotosArePreviewedUprightAsImageMagickTurnsThem) {
    for (int orientation = 1; orientation <= 8; ++orientation)
        dir.WriteFile("root/photos/" + std::to_string(orientation) + ".jpg",
                      test::OrientedJpeg(40, 20, orientation));
    TDSelect form(nullptr, *data);
    form.Folder = root + "/photos";
    form.Mask = "*.jpg";
    form.show();
    QSize window;
    PickerModalRunner() = [&](QDialog& dialog) {
        window = dialog.size();
        return 0;
    };
    for (int orientation = 1; orientation <= 8; ++orientation) {
        SCOPED_TRACE("orientation " + std::to_string(orientation));
        const std::string name = std::to_string(orientation) + ".jpg";
        std::unique_ptr<TBitmap> upright = test::UprightByImageMagick(dir.File("root/photos/" + name));
        ASSERT_TRUE(upright);
        Select(form, name);
        const bool portrait = orientation >= 5;
        EXPECT_EQ(Text(form, "Label3"), portrait ? "(20x40)" : "(40x20)");
        EXPECT_EQ(form.ThumbnailSize(), portrait ? QSize(49, 98) : QSize(126, 63));
        // Near each corner the thumbnail shows what ImageMagick puts there.
        const QImage thumbnail = Find<QWidget>(form, "Image1")->grab().toImage();
        for (double fx : {0.125, 0.875})
            for (double fy : {0.125, 0.875}) {
                const QColor got =
                    thumbnail.pixelColor(int(fx * thumbnail.width()), int(fy * thumbnail.height()));
                const TColor want =
                    upright->GetPixel(int(fx * upright->Width()), int(fy * upright->Height()));
                EXPECT_NEAR(got.red(), GetRValue(want), 24) << fx << "," << fy;
                EXPECT_NEAR(got.green(), GetGValue(want), 24) << fx << "," << fy;
                EXPECT_NEAR(got.blue(), GetBValue(want), 24) << fx << "," << fy;
            }
        if (orientation == 6) SaveArtefact(form, "picker-photo-turned.png");
        // The picture window stands the photo upright too.
        QTest::mouseClick(Find<QPushButton>(form, "BitBtn1"), Qt::LeftButton);
        EXPECT_EQ(window, portrait ? QSize(20, 40) : QSize(40, 20));
    }
}

// A folder and files from an archive of a Japanese system ("音楽", "ソング.mp3" in CP932) and of a
// Western one ("Crème.mp3", "I’m Yours – Live.mp3" in Windows-1252), their ID3v1 titles in the same
// 8-bit texts or in UTF-8: the tree,
// the list, the name and the tags read as their readers read them, and play by their bytes.
TEST_F(Pickers, SoundFolderPickerShowsNamesAndTagsThatAreNotUtf8) {
    const std::string folder = root + "/\x89\xb9\x8a\x79";
    dir.WriteFile("root/\x89\xb9\x8a\x79/\x83\x5C\x83\x93\x83\x4F.mp3",
                  test::MpegFrames(40) + Id3v1("\x8f\xe3\x82\xf0\x8c\xfc\x82\xa2\x82\xc4", "\x8d\xe2\x96\x7b\x8b\xe3", 17));
    dir.WriteFile("root/\x89\xb9\x8a\x79/Cr\xE8me.mp3", test::MpegFrames(40) + Id3v1("Cr\xE8me br\xFBl\xE9" "e", "\xD6lgem\xE4lde", 17));
    // Windows-1252 punctuation in a name and in tags, and UTF-8 in an ID3v1 tag.
    dir.WriteFile("root/\x89\xb9\x8a\x79/I\x92m Yours \x96 Live.mp3",
                  test::MpegFrames(40) + Id3v1("Caf\xE9\x85 \x93Heroes\x94", "\x8e" "ena", 17));
    dir.WriteFile("root/\x89\xb9\x8a\x79/utf8.mp3",
                  test::MpegFrames(40) + Id3v1("\xC3\x9C" "ber Caf\xC3\xA9", "\xE5\x86\x99\xE7\x9C\x9F", 17));
    data->SndBtnState = 2;
    TDSelect2 form(nullptr, *data);
    form.Folder = root;
    form.Mask = "*.mp3";
    std::vector<std::pair<std::string, bool>> played;
    form.OnPlay = [&](const std::string& file, bool bass) { played.push_back({file, bass}); };
    form.show();
    ClickFolder(form, root, QString::fromUtf8("音楽"));
    struct {
        const char *Name, *Title, *Artist;
    } files[] = {{"Crème.mp3", "Crème brûlée", "Ölgemälde"},
                 {"ソング.mp3", "上を向いて", "坂本九"},
                 {"utf8.mp3", "Über Café", "写真"},
                 {"I’m Yours – Live.mp3", "Café… “Heroes”", "Žena"}};
    for (const auto& f : files) {
        SCOPED_TRACE(f.Name);
        Select(form, f.Name);
        EXPECT_EQ(Text(form, "Label2"), f.Name);
        EXPECT_EQ(form.ValueTexts()[6], f.Title);
        EXPECT_EQ(form.ValueTexts()[7], f.Artist);
    }
    SaveArtefact(form, "picker-sounds-not-utf8.png");
    Select(form, "ソング.mp3");
    QTest::mouseClick(Find<QPushButton>(form, "BitBtn1"), Qt::LeftButton);
    ASSERT_EQ(played.size(), 1u);
    EXPECT_EQ(played[0], std::make_pair(folder + "/\x83\x5C\x83\x93\x83\x4F.mp3", true));
}

TEST_F(Pickers, SoundFolderPickerShowsTagsAndPlays) {
    data->SndBtnState = 0;
    TDSelect2 form(nullptr, *data);
    form.Folder = root + "/music";
    form.Mask = "*.mp3;*.wav;*.mid";
    std::vector<std::pair<std::string, bool>> played;
    form.OnPlay = [&](const std::string& file, bool bass) { played.push_back({file, bass}); };
    form.show();
    EXPECT_EQ(form.windowTitle().toStdString(), "ｻｳﾝﾄﾞﾌｫﾙﾀﾞの選択(*.mp3;*.wav;*.mid)");
    EXPECT_TRUE(Find<QToolButton>(form, "SpeedButton2")->isChecked());
    // Choosing a folder leaves nothing to play until a file is selected.
    EXPECT_FALSE(Find<QPushButton>(form, "BitBtn1")->isEnabled());

    Select(form, "both.mp3");
    std::vector<std::string> v = form.ValueTexts();
    EXPECT_EQ(v[1], "MPEG 1Layer III");
    EXPECT_EQ(v[2], "128Kbit/秒");
    EXPECT_EQ(v[3], "44100Hz");
    EXPECT_EQ(v[6], "v2 title");
    EXPECT_EQ(v[7], "v2 artist");
    EXPECT_EQ(v[8], ""); // the ID3v2 tag has no album; the ID3v1 one is not mixed in
    SaveArtefact(form, "picker-sounds.png");

    Select(form, "old.mp3");
    v = form.ValueTexts();
    EXPECT_EQ(v[6], "old title");
    EXPECT_EQ(v[8], "v1 album");
    EXPECT_EQ(v[9], "1999");
    EXPECT_EQ(v[10], "Rock");

    Select(form, "tone.wav");
    v = form.ValueTexts();
    EXPECT_EQ(v[0], "0:03");
    EXPECT_EQ(v[1], "Windows Wave");
    EXPECT_EQ(v[3], "22050Hz");
    EXPECT_EQ(v[2], "");
    EXPECT_EQ(v[6], "");

    Select(form, "song.mid");
    EXPECT_EQ(Text(form, "Label2"), "song.mid");
    for (const auto& text : form.ValueTexts()) EXPECT_EQ(text, "");
    QTest::mouseClick(Find<QPushButton>(form, "BitBtn1"), Qt::LeftButton);

    // A shortcut to an MP3 shows the target's tags and plays through the sound preview.
    Select(form, "to-both.lnk");
    EXPECT_EQ(form.ValueTexts()[6], "v2 title");
    EXPECT_EQ(Text(form, "Label2"), "to-both.lnk");
    QTest::mouseClick(Find<QPushButton>(form, "BitBtn1"), Qt::LeftButton);
    ASSERT_EQ(played.size(), 2u);
    EXPECT_EQ(played[0], std::make_pair(root + "/music/song.mid", false));
    EXPECT_EQ(played[1], std::make_pair(root + "/music/to-both.lnk", true));

    QTest::mouseClick(Find<QToolButton>(form, "SpeedButton6"), Qt::LeftButton);
    QTest::mouseClick(Find<QToolButton>(form, "SpeedButton1"), Qt::LeftButton);
    QTest::mouseClick(Find<QPushButton>(form, "Button2"), Qt::LeftButton);
    EXPECT_EQ(form.result(), QDialog::Accepted);
    EXPECT_EQ(form.Folder, root + "/music");
    EXPECT_EQ(Stored("SndBtnState"), "2");
    EXPECT_EQ(Stored("SndPreview"), "0");
    EXPECT_EQ(Stored("ImgBtnState"), "<missing>");
}

TEST_F(Pickers, SoundPickerOpensTheTagFormOfTheSelectedFile) {
    TDSelect2 form(nullptr, *data);
    form.Folder = root + "/music";
    form.Mask = "*.mp3;*.wav;*.mid";
    std::vector<std::string> shown;
    // The form edits the ID3v2 title and saves it, as a user would.
    InfoFormModalRunner() = [&](QDialog& dialog) {
        shown.push_back(dialog.windowTitle().toStdString());
        if (shown.size() == 1) SaveArtefact(dialog, "picker-tag-form.png");
        Find<QLineEdit>(dialog, "Tag2_Title")->setText("edited " + QString::number(shown.size()));
        // A long comment makes the tag, and so the file, kilobytes longer.
        if (shown.size() == 1) Find<QPlainTextEdit>(dialog, "Tag2_Comment")->setPlainText(QString(9000, 'c'));
        QTest::mouseClick(Find<QPushButton>(dialog, "btnUpdate"), Qt::LeftButton);
        return dialog.result();
    };
    form.show();
    auto* button = Find<QPushButton>(form, "BitBtn2");
    EXPECT_FALSE(button->isEnabled());
    Select(form, "tone.wav");
    EXPECT_FALSE(button->isEnabled());

    // The file's row shows its size and date as they are after the save.
    fs::last_write_time(root + "/music/both.mp3", fs::file_time_type::clock::now() - std::chrono::hours(24 * 400));
    auto* files = form.findChild<TFileView*>("FileView1");
    files->Fill();
    Select(form, "both.mp3");
    ASSERT_TRUE(button->isEnabled());
    SaveArtefact(form, "picker-tag-button.png");
    int row = files->FindRow("both.mp3");
    std::string size = files->ItemText(row, 1), date = files->ItemText(row, 3);
    QTest::mouseClick(button, Qt::LeftButton);
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(form.ValueTexts()[6], "edited 1"); // the panel shows the saved tag
    EXPECT_NE(files->ItemText(row, 1), size);
    EXPECT_NE(files->ItemText(row, 3), date);

    // The file list's context menu reaches the same form, through a shortcut as well.
    Select(form, "to-both.lnk");
    ui.Choose = {"ﾀｸﾞ情報(&I)..."};
    emit form.findChild<TFileView*>("FileView1")->customContextMenuRequested(QPoint(4, 4));
    EXPECT_EQ(ui.MenuTexts, std::vector<std::string>{"ﾀｸﾞ情報(&I)..."});
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_EQ(shown[1], shown[0]);
    EXPECT_EQ(form.ValueTexts()[6], "edited 2");
    EXPECT_TRUE(messages.empty());
    InfoFormModalRunner() = [](QDialog& dialog) { return dialog.exec(); };
}

TEST_F(Pickers, PickerFollowsARenameOrRemovalOfTheShownFolder) {
    fs::create_directories(root + "/pics/gone");
    {
        TDSelect form(nullptr, *data);
        form.Folder = root + "/pics/sub";
        form.show();
        auto* tree = form.findChild<TFolderView*>("FolderView1");
        ASSERT_EQ(tree->SelectedPath(), root + "/pics/sub");
        QTest::keyClick(tree, Qt::Key_F2);
        auto* editor = tree->viewport()->findChild<QLineEdit*>();
        ASSERT_TRUE(editor);
        editor->selectAll();
        QTest::keyClicks(editor, "renamed");
        QTest::keyClick(editor, Qt::Key_Return);
        QApplication::processEvents(); // the edit is handed over after the key
        ASSERT_TRUE(fs::is_directory(root + "/pics/renamed"));
        EXPECT_EQ(tree->SelectedPath(), root + "/pics/renamed");
        auto* history = Find<QComboBox>(form, "ComboBox1");
        EXPECT_EQ(history->currentText().toStdString(), root + "/pics/renamed");
        EXPECT_EQ(history->findText(QString::fromStdString(root + "/pics/sub")), -1);
        QTest::mouseClick(Find<QPushButton>(form, "Button2"), Qt::LeftButton);
        EXPECT_EQ(form.result(), QDialog::Accepted);
        EXPECT_EQ(form.Folder, root + "/pics/renamed");
    }
    TDSelect form(nullptr, *data);
    form.Folder = root + "/pics/gone";
    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&form));
    fs::remove(root + "/pics/gone");
    QTest::mouseClick(Find<QPushButton>(form, "Button2"), Qt::LeftButton);
    EXPECT_EQ(form.result(), 0); // still open, now on what is left
    EXPECT_EQ(form.findChild<TFolderView*>("FolderView1")->SelectedPath(), root + "/pics");
    // Enter presses OK again.
    ASSERT_TRUE(QApplication::focusWidget());
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    EXPECT_EQ(form.result(), QDialog::Accepted);
    EXPECT_EQ(form.Folder, root + "/pics");
}

TEST_F(Pickers, AHistoryEntryRemovedMeanwhileIsNoChoice) {
    fs::create_directories(root + "/pics/a");
    fs::create_directories(root + "/pics/b");
    TDSelect form(nullptr, *data);
    form.Folder = root + "/pics";
    form.show();
    ClickFolder(form, root + "/pics", "a");
    ClickFolder(form, root + "/pics", "b");
    auto* history = Find<QComboBox>(form, "ComboBox1");
    ASSERT_GE(history->findText(QString::fromStdString(root + "/pics/a")), 0);
    fs::remove(root + "/pics/a");
    ChooseHistory(form, QString::fromStdString(root + "/pics/a"));
    EXPECT_EQ(form.findChild<TFolderView*>("FolderView1")->SelectedPath(), root + "/pics/b");
    EXPECT_EQ(history->currentText().toStdString(), root + "/pics/b");
    EXPECT_EQ(history->findText(QString::fromStdString(root + "/pics/a")), -1);
    QTest::mouseClick(Find<QPushButton>(form, "Button2"), Qt::LeftButton);
    EXPECT_EQ(form.result(), QDialog::Accepted);
    EXPECT_EQ(form.Folder, root + "/pics/b");
}

// A folder whose name is not UTF-8 (a Latin-1 "é") is shown by name and stored as its bytes.
TEST_F(Pickers, AFolderNamedInLatin1IsChosenAndStoredAsItsBytes) {
    const std::string latin1 = root + "/pics/caf\xE9";
    fs::create_directories(latin1);
    TBitmap(8, 8).SaveToFile(latin1 + "/in.bmp");
    const std::string registry = dir.File("registry.reg");
    SetRegistryStore(std::make_shared<TFileRegistryStore>(registry));
    InstallPickers();
    std::string listed;
    PickerModalRunner() = [&](QDialog& dialog) {
        dialog.show();
        auto& picker = dynamic_cast<TPickerForm&>(dialog);
        ClickFolder(picker, root + "/pics", QString::fromUtf8("caf\u00e9"));
        TFileView* list = dialog.findChild<TFileView*>("FileView1");
        if (list->Count() > 0) listed = list->ItemText(0, 0);
        EXPECT_EQ(Find<QComboBox>(dialog, "ComboBox1")->currentText(),
                  QString::fromStdString(root) + "/pics/caf\u00e9");
        QTest::mouseClick(dialog.findChild<QPushButton*>("Button2"), Qt::LeftButton);
        return dialog.result();
    };
    {
        TSaverSettings settings;
        settings.show();
        QTest::mouseClick(Find<QToolButton>(settings, "SpeedButton1"), Qt::LeftButton);
        EXPECT_EQ(listed, "in.bmp");
        EXPECT_EQ(Find<QLineEdit>(settings, "EdtPictFolder")->text(),
                  QString::fromStdString(root) + "/pics/caf\u00e9");
        QTest::mouseClick(Find<QPushButton>(settings, "Button3"), Qt::LeftButton);
        ASSERT_EQ(settings.result(), QDialog::Accepted);
    }
    EXPECT_EQ(Stored("Folder"), latin1);
    EXPECT_NE(test::ReadFile(registry).find("\"Folder\"=\"" + latin1 + "\"\n"), std::string::npos);
    // Opened again, the picker starts in that folder and OK keeps it as it is.
    std::string started;
    PickerModalRunner() = [&](QDialog& dialog) {
        dialog.show();
        started = dialog.findChild<TFolderView*>("FolderView1")->SelectedPath();
        QTest::mouseClick(dialog.findChild<QPushButton*>("Button2"), Qt::LeftButton);
        return dialog.result();
    };
    {
        TSaverSettings settings;
        settings.show();
        QTest::mouseClick(Find<QToolButton>(settings, "SpeedButton1"), Qt::LeftButton);
        QTest::mouseClick(Find<QPushButton>(settings, "Button3"), Qt::LeftButton);
    }
    EXPECT_EQ(started, latin1);
    EXPECT_EQ(Stored("Folder"), latin1);
    SettingsDialogHooks().PictureFolder = nullptr;
    SettingsDialogHooks().SoundFolder = nullptr;
}

TEST_F(Pickers, HiddenItemsAreNotListedButAStoredHiddenFolderIsKept) {
    TBitmap picture(8, 8);
    fs::create_directories(root + "/.config/pics");
    fs::create_directories(root + "/.cache");
    fs::create_directories(root + "/.config/pics/.hidden");
    picture.SaveToFile(root + "/.config/pics/.thumb.bmp");
    picture.SaveToFile(root + "/.config/pics/shown.bmp");
    TDSelect form(nullptr, *data);
    form.Folder = root + "/.config/pics";
    form.Mask = "*.bmp";
    form.show();
    TFolderView* tree = form.findChild<TFolderView*>("FolderView1");
    EXPECT_EQ(tree->SelectedPath(), root + "/.config/pics");
    // The hidden folder on the way is shown; the others are not, and the folder's own hidden
    // folder gives it nothing to open.
    EXPECT_EQ(tree->findItems(".config", Qt::MatchExactly | Qt::MatchRecursive).size(), 1);
    EXPECT_TRUE(tree->findItems(".cache", Qt::MatchExactly | Qt::MatchRecursive).empty());
    EXPECT_NE(tree->currentItem()->childIndicatorPolicy(), QTreeWidgetItem::ShowIndicator);
    TFileView* list = form.findChild<TFileView*>("FileView1");
    EXPECT_EQ(list->Count(), 1);
    EXPECT_LT(list->FindRow(".thumb.bmp"), 0);
    EXPECT_GE(list->FindRow("shown.bmp"), 0);
    QTest::mouseClick(Find<QPushButton>(form, "Button2"), Qt::LeftButton);
    EXPECT_EQ(form.result(), QDialog::Accepted);
    EXPECT_EQ(form.Folder, root + "/.config/pics");
}

TEST_F(Pickers, ListsTakeTheRoomOfTheWindow) {
    data->ImgBtnState = data->SndBtnState = 2;
    data->ImgPreview = data->SndPreview = true;
    for (bool sound : {false, true}) {
        std::unique_ptr<TPickerForm> form;
        if (sound) form = std::make_unique<TDSelect2>(nullptr, *data);
        else form = std::make_unique<TDSelect>(nullptr, *data);
        form->Folder = root + (sound ? "/music" : "/pics");
        form->show();
        // Nothing is selected yet: nothing to show or play.
        EXPECT_FALSE(Find<QPushButton>(*form, "BitBtn1")->isEnabled()) << sound;
        TFileView* list = form->findChild<TFileView*>("FileView1");
        QWidget* panel = Find<QWidget>(*form, "Panel4");
        QPushButton* ok = Find<QPushButton>(*form, "Button2");
        QApplication::processEvents();
        QTreeView* report = list->ReportView();
        int narrowWidth = 0;
        for (QSize size : {form->minimumSize(), QSize(1000, 700)}) {
            form->resize(size);
            QApplication::processEvents();
            ASSERT_EQ(form->size(), size);
            // The list reaches the panel; the panel and OK keep to the right and bottom edges.
            EXPECT_EQ(panel->geometry().right(), size.width() - 9);
            EXPECT_EQ(list->geometry().right(), panel->geometry().left() - 5);
            EXPECT_EQ(list->geometry().bottom(), panel->geometry().bottom());
            EXPECT_EQ(ok->geometry().bottom(), size.height() - 9);
            EXPECT_GT(ok->geometry().top(), list->geometry().bottom());
            test::ExpectInside(*form);
            if (narrowWidth == 0) narrowWidth = list->width();
            test::SaveShot(*form, std::string(sound ? "picker-sounds-" : "picker-pictures-") +
                                      std::to_string(size.width()) + "x" + std::to_string(size.height()));
        }
        // The tree takes a third of the extra width, the list the rest.
        int extra = 1000 - form->minimumWidth();
        EXPECT_EQ(list->width(), narrowWidth + extra - extra / 3);
        // The name column takes what the others leave.
        EXPECT_EQ(report->columnWidth(0) + report->columnWidth(1) + report->columnWidth(2) + report->columnWidth(3),
                  report->viewport()->width());
        // Without the panel the list reaches the right edge.
        QTest::mouseClick(Find<QToolButton>(*form, "SpeedButton1"), Qt::LeftButton);
        EXPECT_EQ(list->geometry().right(), 1000 - 9);
    }
}

// The pickers open no larger than the free area of the screen, with every button on it; where the
// screen has the room, the file list shows its four columns whole beside the panel, and no column
// and no name in them is cut.
TEST_F(Pickers, OpenWithinTheScreenWithTheColumnsWholeWhereThereIsRoom) {
    const std::optional<test::TTestScreen> screen = test::TestScreen();
    if (!screen) {
        for (QSize size : {QSize(800, 600), QSize(1920, 1200), QSize(580, 450)}) {
            std::string out;
            EXPECT_EQ(test::RunOnTestScreen(size.width(), size.height(), 1,
                                            "Pickers.OpenWithinTheScreenWithTheColumnsWholeWhereThereIsRoom",
                                            out),
                      0)
                << size.width() << "x" << size.height() << "\n"
                << out;
        }
        return;
    }
    {
        TRegIniFile ini(kLumoraKey);
        ini.WriteString("Setting", "Folder", root + "/pics");
        ini.WriteString("Setting", "UseSound", "1");
        ini.WriteString("Setting", "SoundFolder", root + "/music");
    }
    InstallPickers();
    TSaverSettings settings;
    settings.show();
    for (const char* button : {"SpeedButton1", "SpeedButton2"}) {
        bool opened = false;
        PickerModalRunner() = [&](QDialog& dialog) {
            opened = true;
            dialog.show();
            QApplication::processEvents();
            const QRect free = dialog.screen()->availableGeometry();
            EXPECT_EQ(free.size(), screen->Size);
            EXPECT_TRUE(free.contains(dialog.frameGeometry())) << button;
            for (QAbstractButton* b : dialog.findChildren<QAbstractButton*>()) {
                if (b->isVisible()) {
                    EXPECT_TRUE(free.contains(QRect(b->mapToGlobal(QPoint(0, 0)), b->size())))
                        << button << " " << b->objectName().toStdString();
                }
            }
            test::SaveShot(dialog, std::string("picker-") + button + "-" + std::to_string(free.width()) +
                                       "x" + std::to_string(free.height()));
            TFileView* list = dialog.findChild<TFileView*>("FileView1");
            QTreeView* report = list->ReportView();
            QHeaderView* header = report->header();
            EXPECT_GT(list->Count(), 0) << button;
            if (free.width() < 1200) return static_cast<int>(QDialog::Rejected);
            EXPECT_FALSE(report->horizontalScrollBar()->isVisible()) << button;
            const QFontMetrics metrics = report->fontMetrics();
            for (int c = 0; c < 4; ++c) {
                const int end = header->sectionViewportPosition(c) + header->sectionSize(c);
                EXPECT_LE(end, report->viewport()->width()) << button << " column " << c;
                QString title = list->findChild<QStandardItemModel*>()->horizontalHeaderItem(c)->text();
                EXPECT_LT(metrics.horizontalAdvance(title) + 8, header->sectionSize(c)) << button << " " << c;
                // Type names come from the desktop's database, in its language, and may be longer.
                for (int row = 0; c != 2 && row < list->Count(); ++row) {
                    QString text = QString::fromStdString(list->ItemText(row, c)).trimmed();
                    int room = header->sectionSize(c) - (c == 0 ? report->iconSize().width() + 8 : 8);
                    EXPECT_LE(metrics.horizontalAdvance(text), room) << button << " " << text.toStdString();
                }
            }
            return static_cast<int>(QDialog::Rejected);
        };
        QTest::mouseClick(Find<QToolButton>(settings, button), Qt::LeftButton);
        EXPECT_TRUE(opened) << button;
    }
    SettingsDialogHooks().PictureFolder = nullptr;
    SettingsDialogHooks().SoundFolder = nullptr;
}

TEST_F(Pickers, SettingsDialogHooksOpenThePickers) {
    InstallPickers();
    ASSERT_TRUE(SettingsDialogHooks().PictureFolder);
    ASSERT_TRUE(SettingsDialogHooks().SoundFolder);
    TSaverSettings settings;
    std::string title;
    PickerModalRunner() = [&](QDialog& dialog) {
        dialog.show();
        title = dialog.windowTitle().toStdString();
        auto& picker = dynamic_cast<TPickerForm&>(dialog);
        EXPECT_TRUE(picker.FolderDisplay);
        dialog.findChild<TFolderView*>("FolderView1")->SelectPath(root + "/pics/sub");
        QTest::mouseClick(dialog.findChild<QPushButton*>("Button2"), Qt::LeftButton);
        return dialog.result();
    };
    TFolderPick pick;
    pick.StartFolder = root + "/pics";
    pick.Mask = "*.png";
    pick.Caption = "画像ﾌｫﾙﾀﾞの選択(*.png)";
    pick.SubFolders = true;
    ASSERT_TRUE(SettingsDialogHooks().PictureFolder(settings, pick));
    EXPECT_EQ(pick.Chosen, root + "/pics/sub");
    EXPECT_EQ(title, pick.Caption);
    pick.Chosen.clear();
    ASSERT_TRUE(SettingsDialogHooks().SoundFolder(settings, pick));
    EXPECT_EQ(pick.Chosen, root + "/pics/sub");
    EXPECT_EQ(title, "ｻｳﾝﾄﾞﾌｫﾙﾀﾞの選択(*.png)");

    PickerModalRunner() = [](QDialog&) { return static_cast<int>(QDialog::Rejected); };
    pick.Chosen.clear();
    EXPECT_FALSE(SettingsDialogHooks().PictureFolder(settings, pick));
    EXPECT_TRUE(pick.Chosen.empty());
    SettingsDialogHooks().PictureFolder = nullptr;
    SettingsDialogHooks().SoundFolder = nullptr;
}

} // namespace
} // namespace lumora
