#include <cmath>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include <QCheckBox>
#include <QComboBox>
#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

#include "audio/tags/ID3v1.h"
#include "audio/tagforms/MPEGInfoBox.h"
#include "audio/tagforms/OGGInfoBox.h"
#include "audio/tags/OggVorbis.h"
#include "audio/tagforms/TagItemDialog.h"
#include "framework/Forms.h"
#include "framework/SysUtils.h"
#include "tests/audio/tags/TagSaveCases.h"
#include "tests/audio/tags/TagTestUtil.h"
#include "tests/support/TempDir.h"

namespace lumora {
namespace {

template <typename T>
T* Find(QWidget& form, const char* name) {
    T* widget = form.findChild<T*>(name);
    if (!widget) throw std::runtime_error(std::string("no control ") + name);
    return widget;
}

std::string Text(QWidget& form, const char* name) { return Find<QLabel>(form, name)->text().toStdString(); }
void Set(QWidget& form, const char* name, const char* text) { Find<QLineEdit>(form, name)->setText(text); }
void Click(QWidget& form, const char* name) { Find<QAbstractButton>(form, name)->click(); }

std::string Id3v1(const std::string& title, uint8_t genre) {
    auto field = [](const std::string& s, size_t n) { return (s + std::string(n, '\0')).substr(0, n); };
    return "TAG" + field(title, 30) + field("v1 artist", 30) + field("v1 album", 30) + "2001" + field("note", 30) +
           std::string(1, char(genre));
}

class InfoForms : public ::testing::Test {
protected:
    test::TempDir dir;
    std::vector<std::string> messages;
    void SetUp() override {
        SetMessageReporter([this](const std::string& text, const std::string&, TMsgIcon, int) {
            messages.push_back(text);
            return 1;
        });
    }
    void TearDown() override {
        SetMessageReporter(nullptr);
        InfoFormModalRunner() = [](QDialog& dialog) { return dialog.exec(); };
    }
};

TEST(InfoFormTexts, NumbersTimesAndEmphasis) {
    EXPECT_EQ(GroupedNumber(0), "0");
    EXPECT_EQ(GroupedNumber(999), "999");
    EXPECT_EQ(GroupedNumber(1234567), "1,234,567");
    EXPECT_EQ(GroupedNumber(-1000), "-1,000");
    EXPECT_EQ(MinutesSeconds(185.6), "03:05");
    EXPECT_EQ(MinutesSeconds(6000), "100:00");
    EXPECT_EQ(MinutesSeconds(std::nan("")), "00:00");
    EXPECT_EQ(EmphasisText(0), "None");
    EXPECT_EQ(EmphasisText(1), "50/15 ms");
    EXPECT_EQ(EmphasisText(3), "CCIT J.17");
}

TEST_F(InfoForms, TagItemEditorTellsOkFromCancel) {
    TTAGEditForm edit(nullptr);
    edit.show();
    EXPECT_EQ(edit.Result, 0);
    edit.SetTag("NAME", "line 1\nline 2");
    EXPECT_EQ(edit.TagValue(), "line 1\nline 2");
    Click(edit, "btnOK");
    EXPECT_EQ(edit.Result, 1);
    Click(edit, "btnCancel");
    EXPECT_EQ(edit.Result, 2);
}

TEST_F(InfoForms, MpegFormShowsStreamAndEditsBothTags) {
    std::string file = dir.WriteFile("song.mp3", test::Tag(3, test::Frame23("TIT2", test::Latin("v2 title")) +
                                                                test::Frame23("TCON", test::Latin("Jazz"))) +
                                                     test::MpegFrames(40) + Id3v1("v1 title", 17));
    EXPECT_FALSE(TMPEGFileInfoForm::Open(nullptr, dir.WriteFile("noise.mp3", std::string(5000, 'x'))));
    EXPECT_FALSE(ShowMPEGFileInfo(nullptr, dir.File("missing.mp3")));
    std::unique_ptr<TMPEGFileInfoForm> form = TMPEGFileInfoForm::Open(nullptr, file);
    ASSERT_TRUE(form);
    form->show();
    EXPECT_EQ(Text(*form, "lbSize"), "Size: " + std::to_string(test::ReadFile(file).size()) + " bytes");
    EXPECT_EQ(Text(*form, "lbType"), "MPEG 1 Layer III");
    EXPECT_EQ(Text(*form, "lbFreq_Channels"), "44100Hz Stereo");
    EXPECT_EQ(Text(*form, "lbCRC"), "CRCs: No");
    EXPECT_EQ(Text(*form, "lbEmphasis"), "Emphasis: None");
    EXPECT_TRUE(Find<QCheckBox>(*form, "cbID3v1Tag")->isChecked());
    EXPECT_EQ(Find<QComboBox>(*form, "Tag1_Genre")->currentText().toStdString(), "Rock");
    EXPECT_EQ(Find<QComboBox>(*form, "Tag1_Genre")->itemText(0).toStdString(), "");
    EXPECT_EQ(Find<QComboBox>(*form, "Tag2_Genre")->currentText().toStdString(), "Jazz");
    EXPECT_EQ(Find<QLineEdit>(*form, "Tag2_Title")->text().toStdString(), "v2 title");

    // Turning a tag off disables its group and the button that copies out of it.
    Click(*form, "cbID3v1Tag");
    EXPECT_FALSE(Find<QLineEdit>(*form, "Tag1_Title")->isEnabled());
    EXPECT_FALSE(Find<QPushButton>(*form, "btnCopyFrom")->isEnabled());
    Click(*form, "btnCopyTo");
    EXPECT_TRUE(Find<QCheckBox>(*form, "cbID3v1Tag")->isChecked());
    EXPECT_EQ(Find<QLineEdit>(*form, "Tag1_Title")->text().toStdString(), "v2 title");
    EXPECT_EQ(Find<QComboBox>(*form, "Tag1_Genre")->currentText().toStdString(), "Jazz");
    Click(*form, "btnUndo");
    EXPECT_EQ(Find<QLineEdit>(*form, "Tag1_Title")->text().toStdString(), "v1 title");

    // A track that is no number stops the update before anything is written.
    std::string before = test::ReadFile(file);
    Set(*form, "Tag1_TrackNo", "x");
    Click(*form, "btnUpdate");
    EXPECT_EQ(messages.size(), 1u);
    EXPECT_EQ(test::ReadFile(file), before);

    Set(*form, "Tag1_TrackNo", "7");
    Set(*form, "Tag1_Title", "new v1");
    Find<QComboBox>(*form, "Tag1_Genre")->setCurrentIndex(0);
    Click(*form, "cbID3v2Tag");
    Click(*form, "btnUpdate");
    EXPECT_EQ(form->result(), QDialog::Accepted);
    TMPEGaudio reread;
    ASSERT_TRUE(reread.LoadFromFile(file));
    EXPECT_FALSE(reread.ID3v2().Exists());
    ASSERT_TRUE(reread.ID3v1().Exists());
    EXPECT_EQ(reread.ID3v1().Title(), "new v1");
    EXPECT_EQ(reread.ID3v1().Track(), 7);
    // No genre chosen is stored as the format's "none".
    EXPECT_EQ(reread.ID3v1().Genre(), 255);
    EXPECT_EQ(messages.size(), 1u);
    form->grab().save(LUMORA_BINARY_DIR "/form-mpeg-info.png");

    // Western text goes to the ID3v1 tag in Windows-1252, Japanese in CP932, and reads back as typed;
    // a letter neither holds is saved as "?" and the field is named in one line.
    messages.clear();
    form = TMPEGFileInfoForm::Open(nullptr, file);
    ASSERT_TRUE(form);
    form->show();
    Set(*form, "Tag1_Title", "Dvořák – “Largo”");
    Set(*form, "Tag1_Artist", "Crème Brûlée™");
    Set(*form, "Tag1_Album", "ﾄﾞﾗｺﾞﾝｸｴｽﾄ 序曲");
    Click(*form, "btnUpdate");
    ASSERT_TRUE(reread.LoadFromFile(file));
    EXPECT_EQ(reread.ID3v1().Title(), "Dvo?ák – “Largo”");
    EXPECT_EQ(reread.ID3v1().Artist(), "Crème Brûlée™");
    EXPECT_EQ(reread.ID3v1().Album(), "ﾄﾞﾗｺﾞﾝｸｴｽﾄ 序曲");
    EXPECT_EQ(messages, std::vector<std::string>{"ID3v1 title: saved as it reads back, not as typed (\"?\" for letters the tag cannot hold)."});
    form = TMPEGFileInfoForm::Open(nullptr, file);
    ASSERT_TRUE(form);
    form->show();
    EXPECT_EQ(Find<QLineEdit>(*form, "Tag1_Artist")->text().toStdString(), "Crème Brûlée™");
    form->grab().save(LUMORA_BINARY_DIR "/form-mpeg-id3v1-text.png");
}

// The path label shows a name that is not UTF-8 as the pickers show it, never as "\uFFFD".
TEST_F(InfoForms, MpegFormShowsANameThatIsNotUtf8AsThePickersDo) {
    for (auto [name, shown] : {std::pair{"caf\xE9.mp3", "café.mp3"},
                               std::pair{"\x8E\xCA\x90\x5E/\x83\x5C\x83\x93\x83\x4F.mp3", "写真/ソング.mp3"}}) {
        std::string file = dir.WriteFile(name, test::MpegFrames(40) + Id3v1("v1 title", 17));
        std::unique_ptr<TMPEGFileInfoForm> form = TMPEGFileInfoForm::Open(nullptr, file);
        ASSERT_TRUE(form);
        form->show();
        QLabel* label = Find<QLabel>(*form, "fFileName");
        EXPECT_EQ(label->text(), QFontMetrics(label->font())
                                     .elidedText(QString::fromStdString(dir.File(shown)), Qt::ElideMiddle, label->width()));
        EXPECT_TRUE(label->text().endsWith(QString::fromUtf8(shown).section('/', -1)));
    }
}

TEST_F(InfoForms, MpegFormSavesATrackWithItsTotal) {
    REQUIRE_TOOL("sox");
    REQUIRE_TOOL("lame");
    REQUIRE_MUTAGEN();
    std::string wav = test::MakeWav(dir, "in.wav", 0.5);
    std::string file = dir.File("lame.mp3");
    ASSERT_TRUE(test::Run("lame --quiet --id3v2-only --tt Title --tn 7/12 " + wav + " " + file));
    std::string before = test::MutagenDump(file);
    ASSERT_NE(before.find("TRCK='7/12'"), std::string::npos) << before;

    for (const char* typed : {"7/12", "8/12"}) {
        std::unique_ptr<TMPEGFileInfoForm> form = TMPEGFileInfoForm::Open(nullptr, file);
        ASSERT_TRUE(form);
        form->show();
        EXPECT_EQ(Find<QLineEdit>(*form, "Tag2_TrackNo")->text().toStdString(), "7/12");
        Set(*form, "Tag2_TrackNo", typed);
        Click(*form, "btnUpdate");
        EXPECT_EQ(form->result(), QDialog::Accepted);
        EXPECT_TRUE(messages.empty()) << messages.front();
        if (std::string(typed) == "7/12") {
            EXPECT_EQ(test::MutagenDump(file), before);
        }
    }
    std::string after = test::MutagenDump(file);
    EXPECT_NE(after.find("TRCK='8/12'"), std::string::npos) << after;
}

TEST_F(InfoForms, MpegFormWritesOnlyWhatWasEdited) {
    REQUIRE_TOOL("sox");
    REQUIRE_TOOL("lame");
    REQUIRE_MUTAGEN();
    std::string wav = test::MakeWav(dir, "in.wav", 0.5);
    // Edits the title alone and returns what mutagen reads afterwards.
    auto editTitle = [&](const std::string& file, const char* edit, const char* title) {
        std::unique_ptr<TMPEGFileInfoForm> form = TMPEGFileInfoForm::Open(nullptr, file);
        if (!form) return std::string("no form");
        form->show();
        Set(*form, edit, title);
        Click(*form, "btnUpdate");
        EXPECT_EQ(form->result(), QDialog::Accepted);
        return test::MutagenDump(file);
    };

    // Track texts the form could not take as typed.
    for (const char* track : {"A7", "7/", "0"}) {
        SCOPED_TRACE(track);
        std::string file = dir.File("track.mp3");
        ASSERT_TRUE(
            test::Run("lame --quiet --id3v2-only --tt Title --tn " + test::Quoted(track) + " " + wav + " " + file));
        std::string before = test::MutagenDump(file);
        ASSERT_NE(before.find("TRCK='" + std::string(track) + "'"), std::string::npos) << before;
        EXPECT_EQ(editTitle(file, "Tag2_Title", "New title"),
                  test::Replaced(before, "TIT2='Title'", "TIT2='New title'"));
        EXPECT_TRUE(messages.empty()) << messages.front();
        messages.clear();
    }

    // ID3v1 alone: a genre byte without a name in the table (150), and a comment whose last bytes,
    // a blank and a digit, read as a track number.
    for (const char* command : {"id3v1 %s 150", "id3v1-comment-tail %s"}) {
        SCOPED_TRACE(command);
        std::string file = dir.File("v1.mp3");
        ASSERT_TRUE(test::Run("lame --quiet " + wav + " " + file));
        char args[512];
        std::snprintf(args, sizeof args, command, test::Quoted(file).c_str());
        ASSERT_EQ(test::Mutagen(args), "");
        std::string before = test::MutagenDump(file);
        std::string bytes = test::ReadFile(file);
        EXPECT_EQ(editTitle(file, "Tag1_Title", "Neu"), test::Replaced(before, "TIT2='Die Ärzte'", "TIT2='Neu'"));
        EXPECT_EQ(test::ReadFile(file).substr(bytes.size() - 31), bytes.substr(bytes.size() - 31));
        EXPECT_TRUE(messages.empty()) << messages.front();
    }
}

TEST_F(InfoForms, OggFormEditsStandardAndOtherComments) {
    REQUIRE_TOOL("sox");
    REQUIRE_TOOL("oggenc");
    REQUIRE_TOOL("vorbiscomment");
    std::string wav = test::MakeWav(dir, "tone.wav", 1.0);
    std::string file = dir.File("tone.ogg");
    ASSERT_TRUE(test::Run("oggenc -Q -q 1 " + test::Quoted(wav) + " -o " + test::Quoted(file)));
    ASSERT_TRUE(test::Run("vorbiscomment -w -t TITLE=Tone -t FOO=bar -t MOOD=calm " + test::Quoted(file)));
    EXPECT_FALSE(TOggVorbisInfoForm::Open(nullptr, wav));

    std::unique_ptr<TOggVorbisInfoForm> form = TOggVorbisInfoForm::Open(nullptr, file);
    ASSERT_TRUE(form);
    form->show();
    EXPECT_EQ(Find<QLineEdit>(*form, "Tag_Title")->text().toStdString(), "Tone");
    EXPECT_EQ(Text(*form, "lbSamplingRate"), "Sampling rate: 44100 Hz");
    EXPECT_EQ(Text(*form, "lbChannels"), "Channels: 2");
    EXPECT_EQ(Text(*form, "lbFileSize").rfind("File size: ", 0), 0u);
    EXPECT_EQ(form->ExtraItems(), (std::vector<std::string>{"FOO=bar", "MOOD=calm"}));

    std::vector<std::pair<std::string, std::string>> answers{{"title", "x"}, {"foo", "y"}, {"NEW", "value"}};
    size_t next = 0;
    InfoFormModalRunner() = [&](QDialog& dialog) {
        auto& edit = dynamic_cast<TTAGEditForm&>(dialog);
        edit.SetTag(answers[next].first, answers[next].second);
        ++next;
        edit.btnOKClick();
        return 1;
    };
    form->btnAddNewClick();
    form->btnAddNewClick();
    EXPECT_EQ(messages, (std::vector<std::string>{"Can't add predefined TAG ID.", "Duplicate TAG ID."}));
    form->btnAddNewClick();
    EXPECT_EQ(form->ExtraItems(), (std::vector<std::string>{"FOO=bar", "MOOD=calm", "NEW=value"}));
    // A double click edits an item in place.
    answers.push_back({"MOOD", "happy"});
    Find<QListWidget>(*form, "ExtraTagList")->setCurrentRow(1);
    form->ExtraTagListDblClick();
    EXPECT_EQ(form->ExtraItems()[1], "MOOD=happy");
    Find<QListWidget>(*form, "ExtraTagList")->setCurrentRow(0);
    Click(*form, "btnDelete");

    Set(*form, "Tag_Title", "Tone two");
    Set(*form, "Tag_TrackNo", "3");
    Click(*form, "btnUpdate");
    EXPECT_EQ(form->result(), QDialog::Accepted);
    TOggVorbis reread;
    ASSERT_TRUE(reread.LoadFromFile(file));
    EXPECT_EQ(reread.Title(), "Tone two");
    EXPECT_EQ(reread.Track(), 3);
    EXPECT_EQ(reread.Extra(), std::string("MOOD=happy\0NEW=value", 20));
}

TEST_F(InfoForms, OggFormKeepsATrackTextThatIsNoNumber) {
    REQUIRE_TOOL("sox");
    REQUIRE_TOOL("oggenc");
    REQUIRE_TOOL("vorbiscomment");
    REQUIRE_MUTAGEN();
    std::string wav = test::MakeWav(dir, "tone.wav", 1.0);
    std::string file = dir.File("side.ogg");
    ASSERT_TRUE(test::Run("oggenc -Q -q 1 " + test::Quoted(wav) + " -o " + test::Quoted(file)));
    ASSERT_TRUE(test::Run("vorbiscomment -w -t TITLE=Tone -t 'TRACKNUMBER=Side A' " + test::Quoted(file)));
    std::string before = test::MutagenDump(file);
    ASSERT_NE(before.find("tracknumber='Side A'"), std::string::npos) << before;

    // Updated without an edit, then with another title: the track stays as stored.
    for (const char* title : {"Tone", "Tone two"}) {
        std::unique_ptr<TOggVorbisInfoForm> form = TOggVorbisInfoForm::Open(nullptr, file);
        ASSERT_TRUE(form);
        form->show();
        EXPECT_EQ(Find<QLineEdit>(*form, "Tag_TrackNo")->text().toStdString(), "");
        Set(*form, "Tag_Title", title);
        Click(*form, "btnUpdate");
        EXPECT_EQ(form->result(), QDialog::Accepted);
        EXPECT_EQ(test::MutagenDump(file),
                  test::Replaced(before, "title='Tone'", std::string("title='") + title + "'"));
    }
    EXPECT_TRUE(messages.empty());
}

TEST_F(InfoForms, OggFormWritesOnlyWhatWasEdited) {
    REQUIRE_TOOL("sox");
    REQUIRE_TOOL("oggenc");
    REQUIRE_MUTAGEN();
    std::string wav = test::MakeWav(dir, "tone.wav", 1.0);
    std::string file = dir.File("crlf.ogg");
    ASSERT_TRUE(test::Run("oggenc -Q -q 1 " + test::Quoted(wav) + " -o " + test::Quoted(file)));
    // A comment and lyrics with CRLF line ends, an album longer than a line edit holds.
    ASSERT_EQ(test::Mutagen("crlf-long " + test::Quoted(file) + " 40000"), "");
    std::string before = test::MutagenDump(file);
    ASSERT_NE(before.find("comment='first line\\r\\nsecond line\\r\\n'"), std::string::npos) << before;

    std::unique_ptr<TOggVorbisInfoForm> form = TOggVorbisInfoForm::Open(nullptr, file);
    ASSERT_TRUE(form);
    form->show();
    Set(*form, "Tag_Title", "New");
    Click(*form, "btnUpdate");
    EXPECT_EQ(form->result(), QDialog::Accepted);
    EXPECT_TRUE(messages.empty());
    EXPECT_EQ(test::MutagenDump(file), test::Replaced(before, "title='Old'", "title='New'"));
}

TEST_F(InfoForms, OggFormClearsAFieldShownFromItsStandIn) {
    REQUIRE_TOOL("sox");
    REQUIRE_TOOL("oggenc");
    REQUIRE_TOOL("vorbiscomment");
    REQUIRE_MUTAGEN();
    std::string wav = test::MakeWav(dir, "tone.wav", 1.0);
    std::string file = dir.File("standin.ogg");
    ASSERT_TRUE(test::Run("oggenc -Q -q 1 " + test::Quoted(wav) + " -o " + test::Quoted(file)));
    ASSERT_TRUE(test::Run("vorbiscomment -w -t TITLE=Tone -t ARTIST=Singer -t PERFORMER=Band -t COMMENT=Note "
                          "-t DESCRIPTION=Text " +
                          test::Quoted(file)));

    std::unique_ptr<TOggVorbisInfoForm> form = TOggVorbisInfoForm::Open(nullptr, file);
    ASSERT_TRUE(form);
    form->show();
    Set(*form, "Tag_Artist", "");
    Find<QPlainTextEdit>(*form, "Tag_Comment")->setPlainText("");
    Click(*form, "btnUpdate");
    EXPECT_EQ(form->result(), QDialog::Accepted);
    EXPECT_TRUE(messages.empty());
    EXPECT_EQ(test::MutagenDump(file), "title='Tone'\n");

    form = TOggVorbisInfoForm::Open(nullptr, file);
    ASSERT_TRUE(form);
    EXPECT_EQ(Find<QLineEdit>(*form, "Tag_Artist")->text().toStdString(), "");
    EXPECT_EQ(Find<QPlainTextEdit>(*form, "Tag_Comment")->toPlainText().toStdString(), "");
}

// The control of the Ogg form that shows a field (the tag tool's name of it).
QWidget* OggControl(QWidget& form, const std::string& field) {
    const char* name = field == "title"    ? "Tag_Title"
                       : field == "artist" ? "Tag_Artist"
                       : field == "album"  ? "Tag_Album"
                       : field == "track"  ? "Tag_TrackNo"
                       : field == "date"   ? "Tag_Date"
                       : field == "genre"  ? "Tag_Genre"
                                           : "Tag_Comment";
    return Find<QWidget>(form, name);
}

std::string ControlText(QWidget* control) {
    if (auto* edit = qobject_cast<QLineEdit*>(control)) return edit->text().toStdString();
    if (auto* combo = qobject_cast<QComboBox*>(control)) return combo->currentText().toStdString();
    return qobject_cast<QPlainTextEdit*>(control)->toPlainText().toStdString();
}

void SetControlText(QWidget* control, const std::string& text) {
    QString q = QString::fromStdString(text);
    if (auto* edit = qobject_cast<QLineEdit*>(control)) edit->setText(q);
    else if (auto* combo = qobject_cast<QComboBox*>(control)) combo->setCurrentText(q);
    else qobject_cast<QPlainTextEdit*>(control)->setPlainText(q);
}

TEST_F(InfoForms, OggFormClearsEveryValueOfAFieldAndOfItsStandIn) {
    REQUIRE_TOOL("sox");
    REQUIRE_TOOL("oggenc");
    REQUIRE_MUTAGEN();
    std::string wav = test::MakeWav(dir, "tone.wav", 1.0);
    for (const auto& c : test::OggClearCases()) {
        SCOPED_TRACE(std::string(c.Field) + " of " + c.Comments.front());
        std::string file = test::MakeOgg(dir, "clear.ogg", wav, c.Comments);
        std::string before = test::MutagenDump(file);
        ASSERT_NE(test::WithoutNames(before, c.Gone), before);

        std::unique_ptr<TOggVorbisInfoForm> form = TOggVorbisInfoForm::Open(nullptr, file);
        ASSERT_TRUE(form);
        form->show();
        ASSERT_NE(ControlText(OggControl(*form, c.Field)), "");
        SetControlText(OggControl(*form, c.Field), "");
        Click(*form, "btnUpdate");
        EXPECT_EQ(form->result(), QDialog::Accepted);
        EXPECT_TRUE(messages.empty());
        EXPECT_EQ(test::MutagenDump(file), test::WithoutNames(before, c.Gone));

        // Opened again, the field is empty and no other comment holds a value of it.
        form = TOggVorbisInfoForm::Open(nullptr, file);
        ASSERT_TRUE(form);
        EXPECT_EQ(ControlText(OggControl(*form, c.Field)), "");
        for (const auto& item : form->ExtraItems())
            for (const auto& gone : c.Gone) EXPECT_NE(LowerCase(item.substr(0, item.find('='))), gone) << item;
    }
}

TEST_F(InfoForms, OggFormKeepsCommentsWithZeroBytes) {
    REQUIRE_TOOL("sox");
    REQUIRE_TOOL("oggenc");
    REQUIRE_MUTAGEN();
    std::string wav = test::MakeWav(dir, "tone.wav", 1.0);
    for (const auto& c : test::OggZeroCases()) {
        std::vector<std::string> comments = c.Comments;
        comments.push_back("ALBUM=Old");
        std::string file = test::MakeOgg(dir, "zero.ogg", wav, comments);
        std::string before = test::MutagenDump(file);
        SCOPED_TRACE(before);
        // Updated without an edit, then with another album.
        for (const char* album : {"Old", "New"}) {
            std::unique_ptr<TOggVorbisInfoForm> form = TOggVorbisInfoForm::Open(nullptr, file);
            ASSERT_TRUE(form);
            form->show();
            EXPECT_EQ(form->ExtraItems(), c.OtherItems);
            Set(*form, "Tag_Album", album);
            Click(*form, "btnUpdate");
            EXPECT_EQ(form->result(), QDialog::Accepted);
            EXPECT_EQ(test::MutagenDump(file), test::Replaced(before, "album='Old'", std::string("album='") + album + "'"));
        }
        EXPECT_TRUE(messages.empty());
    }
}

} // namespace
} // namespace lumora
