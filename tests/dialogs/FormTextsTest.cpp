// Every text of every form and dialog fits its control: each label, button, check box, radio
// button and group box title measured by its own font against the room its control gives it,
// with the forms showing what they show in use (a file's tags and stream, a picture's size), at
// 96 dpi and again at 192 dpi (the program run again at twice the scale).

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QStyleOptionButton>
#include <QStyleOptionGroupBox>
#include <QTabWidget>
#include <QToolButton>

#include <gtest/gtest.h>

#include "audio/player/AudioPlayer.h"
#include "audio/plugins/PluginManagerDialog.h"
#include "audio/tagforms/MPEGInfoBox.h"
#include "audio/tagforms/OGGInfoBox.h"
#include "audio/tagforms/TagItemDialog.h"
#include "audio/tagforms/WMAInfoBox.h"
#include "dialogs/pickers/LogoPicker.h"
#include "dialogs/pickers/PictureFolderPicker.h"
#include "dialogs/pickers/SoundFolderPicker.h"
#include "dialogs/previews/MidiPreview.h"
#include "dialogs/previews/SoundPreview.h"
#include "dialogs/settings/GroupsDialog.h"
#include "dialogs/settings/PictureSizeDialog.h"
#include "dialogs/settings/ThemeNameInput.h"
#include "dialogs/settings/ThemesDialog.h"
#include "engine/saver/PictureFormats.h"
#include "platform/shell/Shell.h"
#include "tests/audio/tags/TagTestUtil.h"
#include "tests/audio/tags/WMATestUtil.h"
#include "tests/dialogs/settings/SubDialogsTestSupport.h"
#include "tests/support/TestScreen.h"

namespace lumora::test {
namespace {

// The text as drawn: a mnemonic's "&" is not shown, "&&" shows one "&".
QString Drawn(QString text, bool mnemonic) {
    if (!mnemonic) return text;
    text.replace("&&", QChar(1));
    text.remove('&');
    return text.replace(QChar(1), '&');
}

int WidestLine(const QFontMetrics& metrics, const QString& text) {
    int widest = 0;
    for (const QString& line : text.split('\n'))
        widest = std::max(widest, metrics.horizontalAdvance(line));
    return widest;
}

// "name: "text" needs W x H, has W x H" for each shown text of the form that its control cuts.
std::vector<std::string> CutTexts(QWidget& form) {
    std::vector<std::string> cut;
    auto check = [&](QWidget* w, const QString& text, int needW, int needH, QRect room) {
        if (needW <= room.width() && needH <= room.height()) return;
        cut.push_back(w->objectName().toStdString() + ": \"" + text.toStdString() + "\" needs " +
                      std::to_string(needW) + "x" + std::to_string(needH) + ", has " +
                      std::to_string(room.width()) + "x" + std::to_string(room.height()));
    };
    for (QWidget* w : form.findChildren<QWidget*>()) {
        if (!w->isVisibleTo(&form) || w->window() != &form) continue;
        const QFontMetrics metrics = w->fontMetrics();
        if (auto* label = qobject_cast<QLabel*>(w)) {
            if (label->text().isEmpty() || label->textFormat() == Qt::RichText) continue;
            const QString text = Drawn(label->text(), label->buddy() != nullptr);
            QRect room = label->contentsRect().adjusted(label->margin(), label->margin(), -label->margin(),
                                                        -label->margin());
            int indent = label->indent();
            if (indent < 0) indent = label->frameWidth() > 0 ? metrics.horizontalAdvance('x') / 2 : 0;
            room.setWidth(room.width() - indent);
            if (label->wordWrap()) {
                // Broken into lines at the spaces: no word may be wider than the room, nor the lines taller.
                const QRect lines =
                    metrics.boundingRect(QRect(0, 0, room.width(), 1 << 20), Qt::TextWordWrap, text);
                check(w, text, lines.width(), lines.height(), room);
                continue;
            }
            const int lines = static_cast<int>(text.count('\n')) + 1;
            check(w, text, WidestLine(metrics, text), metrics.height() + (lines - 1) * metrics.lineSpacing(),
                  room);
        } else if (auto* button = qobject_cast<QAbstractButton*>(w)) {
            if (button->text().isEmpty()) continue;
            auto* tool = qobject_cast<QToolButton*>(w);
            if (tool && tool->toolButtonStyle() == Qt::ToolButtonIconOnly && !tool->icon().isNull()) continue;
            const QString text = Drawn(button->text(), true);
            QStyleOptionButton option;
            option.initFrom(button);
            option.text = button->text();
            option.icon = button->icon();
            option.iconSize = button->iconSize();
            QRect room;
            int need = metrics.horizontalAdvance(text);
            if (qobject_cast<QCheckBox*>(w)) {
                room = w->style()->subElementRect(QStyle::SE_CheckBoxContents, &option, w);
            } else if (qobject_cast<QRadioButton*>(w)) {
                room = w->style()->subElementRect(QStyle::SE_RadioButtonContents, &option, w);
            } else if (tool) {
                const int frame = w->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, w);
                room = w->rect().adjusted(frame, frame, -frame, -frame);
            } else {
                room = w->style()->subElementRect(QStyle::SE_PushButtonContents, &option, w);
            }
            if (!button->icon().isNull() && !tool) need += button->iconSize().width() + 4;
            check(w, text, need, metrics.height(), room);
        } else if (auto* box = qobject_cast<QGroupBox*>(w)) {
            if (box->title().isEmpty()) continue;
            QStyleOptionGroupBox option;
            option.initFrom(box);
            option.text = box->title();
            option.subControls = QStyle::SC_GroupBoxLabel;
            option.textAlignment = box->alignment();
            const QRect label =
                w->style()->subControlRect(QStyle::CC_GroupBox, &option, QStyle::SC_GroupBoxLabel, w);
            const QString text = Drawn(box->title(), true);
            check(w, text, label.left() + metrics.horizontalAdvance(text), metrics.height(),
                  QRect(0, 0, box->width(), box->height()));
        }
    }
    return cut;
}

class FormTexts : public SubDialogTest {
protected:
    std::string root;
    std::vector<std::pair<std::string, std::vector<std::string>>> found;

    void SetUp() override {
        SubDialogTest::SetUp();
        RegisterPictureFormats();
        root = dir.File("root");
        std::filesystem::create_directories(dir.File("root/pics"));
        std::filesystem::create_directories(dir.File("root/music"));
        TBitmap(40, 20).SaveToFile(dir.File("root/pics/wide.bmp"));
        SetShellPlaces({{"Root", root}});
        InfoFormModalRunner() = [](QDialog&) { return static_cast<int>(QDialog::Rejected); };
    }
    void TearDown() override {
        InfoFormModalRunner() = [](QDialog& dialog) { return dialog.exec(); };
        SetShellPlaces({});
        SubDialogTest::TearDown();
    }
    // Shows the form and notes what it cuts, under the name given.
    void Check(QWidget& form, const std::string& name) {
        form.show();
        QApplication::processEvents();
        std::vector<std::string> cut = CutTexts(form);
        SaveShot(form, "texts-" + name);
        found.push_back({name, cut});
    }
};

TEST_F(FormTexts, EveryTextFitsItsControlAtNormalAndDoubleScale) {
    const std::optional<TTestScreen> screen = TestScreen();
    if (!screen) {
        std::string out;
        EXPECT_EQ(
            RunOnTestScreen(1920, 1200, 2, "FormTexts.EveryTextFitsItsControlAtNormalAndDoubleScale", out), 0)
            << "at double scale:\n"
            << out;
    }
    const bool tools = HaveTool("sox") && HaveTool("oggenc") && HaveTool("ffmpeg");
    std::string mp3, ogg, wma;
    if (tools) {
        mp3 = dir.WriteFile("root/music/both.mp3",
                            test::Tag(3, test::Frame23("TIT2", test::Latin("A title")) +
                                             test::Frame23("COMM", std::string("\0eng\0A comment", 14))) +
                                test::MpegFrames(40));
        const std::string wav = MakeWav(dir, "root/music/tone.wav", 1.0);
        ogg = dir.File("root/music/tone.ogg");
        ASSERT_TRUE(test::Run("oggenc -Q -q 1 " + Quoted(wav) + " -o " + Quoted(ogg)));
        wma = asf::MakeWma(dir, "root/music/tone.wma", {{"title", "Tone"}, {"comment", "A comment"}});
    }

    auto settings = OpenSettings();
    auto* tabs = Find<QTabWidget>(*settings, "PageControl1");
    for (int i = 0; i < tabs->count(); ++i) {
        tabs->setCurrentIndex(i);
        Check(*settings, "settings-tab" + std::to_string(i + 1));
    }
    {
        TExtSetup themes(*settings);
        Check(themes, "themes");
    }
    {
        TGetString name;
        Check(name, "theme-name");
    }
    {
        TGroup groups(*settings);
        Check(groups, "groups");
    }
    {
        TImgSSet size;
        Check(size, "picture-size");
    }
    {
        TDSelect pictures(settings.get(), settings->CurrentData());
        pictures.Folder = root + "/pics";
        pictures.Mask = "*.bmp";
        pictures.show();
        TFileView* list = pictures.findChild<TFileView*>("FileView1");
        list->SelectRow(list->FindRow("wide.bmp"));
        Check(pictures, "picture-picker");
    }
    if (tools) {
        TDSelect2 sounds(settings.get(), settings->CurrentData());
        sounds.Folder = root + "/music";
        sounds.Mask = "*.mp3;*.wav;*.ogg;*.wma";
        sounds.show();
        TFileView* list = sounds.findChild<TFileView*>("FileView1");
        for (const char* file : {"both.mp3", "tone.wav", "tone.ogg", "tone.wma"}) {
            list->SelectRow(list->FindRow(file));
            Check(sounds, std::string("sound-picker-") + file);
        }
    }
    {
        TLogoSelect logo(settings.get());
        Check(logo, "logo");
    }
    {
        TSPrev preview(settings.get());
        Check(preview, "sound-preview");
        preview.close();
    }
    {
        TSPrev2 preview(settings.get());
        Check(preview, "midi-preview");
        preview.close();
    }
    {
        TTAGEditForm item(nullptr);
        Check(item, "tag-item");
    }
    {
        TPluginConfigForm plugins;
        Check(plugins, "plug-ins");
    }
    if (tools) {
        auto mpeg = TMPEGFileInfoForm::Open(nullptr, mp3);
        ASSERT_TRUE(mpeg);
        Check(*mpeg, "mpeg-form");
        auto vorbis = TOggVorbisInfoForm::Open(nullptr, ogg);
        ASSERT_TRUE(vorbis);
        Check(*vorbis, "ogg-form");
        TStreamInfo info;
        info.FileName = wma;
        info.SampleRate = 44100;
        info.Channels = 2;
        auto media = TWMAInfoForm::Open(nullptr, wma, info);
        ASSERT_TRUE(media);
        Check(*media, "wma-form");
    }

    for (const auto& [name, cut] : found)
        EXPECT_TRUE(cut.empty()) << "scale " << (screen ? screen->Scale : 1) << ", " << name << ":\n  "
                                 << testing::PrintToString(cut);
}

} // namespace
} // namespace lumora::test
