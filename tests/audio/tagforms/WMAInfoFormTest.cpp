#include <memory>
#include <string>
#include <vector>

#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>

#include <gtest/gtest.h>

#include "audio/player/AudioPlayer.h"
#include "audio/tagforms/OGGInfoBox.h"
#include "audio/tagforms/SoundInfoForm.h"
#include "audio/tagforms/TagItemDialog.h"
#include "audio/tags/WMAEditor.h"
#include "audio/tagforms/WMAInfoBox.h"
#include "audio/tags/WMAReader.h"
#include "audio/tags/WMAfile.h"
#include "framework/Forms.h"
#include "framework/SysUtils.h"
#include "tests/audio/tags/TagSaveCases.h"
#include "tests/audio/tags/TagTestUtil.h"
#include "tests/audio/tags/WMATestUtil.h"

namespace lumora {
namespace {

using namespace test::asf;
using test::LE16;
using test::Quoted;
using test::LE32;
using test::TempDir;

template <typename T>
T* Find(QWidget& form, const char* name) {
    T* widget = form.findChild<T*>(name);
    if (!widget) throw std::runtime_error(std::string("no control ") + name);
    return widget;
}
std::string Label(QWidget& form, const char* name) { return Find<QLabel>(form, name)->text().toStdString(); }
std::string Edit(QWidget& form, const char* name) { return Find<QLineEdit>(form, name)->text().toStdString(); }
void Set(QWidget& form, const char* name, const std::string& text) {
    Find<QLineEdit>(form, name)->setText(QString::fromStdString(text));
}

// The bytes after the header: the data object with the audio packets and any index after it.
std::string AfterHeader(const std::string& file) { return file.substr(LE64At(file, 16)); }

class WMATags : public ::testing::Test {
protected:
    TempDir dir;
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

TEST_F(WMATags, ReadsAndWritesAnFfmpegFile) {
    REQUIRE_TOOL("ffmpeg");
    REQUIRE_TOOL("ffprobe");
    std::string file = MakeWma(dir, "tone.wma", {{"title", "Tone"}, {"artist", "Sine"}, {"album", "Tests"},
                                                 {"genre", "Pop"}, {"track", "5"}, {"date", "2001"},
                                                 {"composer", "Nobody"}, {"copyright", "(c) 2001"}});
    std::string original = test::ReadFile(file);
    ASSERT_FALSE(original.empty());

    TWMAReader reader;
    TTagsData tags;
    ASSERT_TRUE(reader.LoadTags(file, tags));
    EXPECT_EQ(tags.Title, "Tone");
    EXPECT_EQ(tags.Author, "Sine");
    EXPECT_EQ(tags.AlbumTitle, "Tests");
    EXPECT_EQ(tags.Genre, "Pop");
    EXPECT_EQ(tags.TrackNumber, "5");
    EXPECT_EQ(tags.Composer, "Nobody");
    EXPECT_EQ(tags.Copyright, "(c) 2001");
    EXPECT_EQ(tags.FileSize, static_cast<int64_t>(original.size()));
    EXPECT_GT(tags.BitRate, 0);
    EXPECT_EQ(tags.Duration, 2);

    // Change some, clear some, add some; the title is longer than the old 255-byte fields held.
    std::string longTitle;
    for (int i = 0; i < 100; ++i) longTitle += "ä歌";
    tags.Title = longTitle;
    tags.Author = "Sawtooth";
    tags.Genre.clear();
    tags.Copyright.clear();
    tags.URL = "https://example.org/tone";
    tags.Lyrics = "la la\r\nla";
    tags.EncodedBy = "lumora";
    tags.Year = "1999";
    ASSERT_TRUE(reader.SaveTags(tags));
    EXPECT_TRUE(messages.empty());

    std::string rewritten = test::ReadFile(file);
    EXPECT_EQ(AfterHeader(rewritten), AfterHeader(original));
    EXPECT_EQ(LE64At(rewritten, 16) + AfterHeader(rewritten).size(), rewritten.size());

    TTagsData again;
    ASSERT_TRUE(reader.LoadTags(file, again));
    EXPECT_EQ(again.Title, longTitle);
    EXPECT_EQ(again.Author, "Sawtooth");
    EXPECT_EQ(again.Genre, "");
    EXPECT_EQ(again.Copyright, "");
    EXPECT_EQ(again.URL, "https://example.org/tone");
    EXPECT_EQ(again.Lyrics, "la la\r\nla");
    EXPECT_EQ(again.AlbumTitle, "Tests");
    EXPECT_EQ(again.Year, "1999");
    EXPECT_EQ(again.EncodedBy, "lumora");
    EXPECT_EQ(again.FileSize, static_cast<int64_t>(rewritten.size()));

    EXPECT_EQ(ProbeTag(file, "title"), longTitle);
    EXPECT_EQ(ProbeTag(file, "artist"), "Sawtooth");
    EXPECT_EQ(ProbeTag(file, "album"), "Tests");
    EXPECT_EQ(ProbeTag(file, "genre"), "<none>");
    EXPECT_EQ(ProbeTag(file, "copyright"), "<none>");
    EXPECT_EQ(ProbeTag(file, "track"), "5");
    // ffmpeg still decodes every packet without complaint.
    EXPECT_EQ(Capture("ffmpeg -v error -i " + test::Quoted(file) + " -f null - 2>&1"), "");

    TWMAfile wma;
    ASSERT_TRUE(wma.LoadFromFile(file));
    EXPECT_TRUE(wma.Valid());
    EXPECT_EQ(wma.Artist(), "Sawtooth");
    EXPECT_EQ(wma.Track(), 5);
}

TEST_F(WMATags, FailuresReportAndLeaveTheFileAlone) {
    TWMAReader reader;
    TTagsData tags;
    tags.Title = "never written";
    EXPECT_FALSE(reader.SaveTags(tags));
    EXPECT_FALSE(reader.LoadTags(dir.File("missing.wma"), tags));
    std::string damaged = Header({FileProperties(64000, 0)});
    damaged.replace(24, 4, LE32(3));
    std::string file = dir.WriteFile("damaged.wma", damaged + "data");
    EXPECT_FALSE(reader.LoadTags(file, tags));
    EXPECT_EQ(messages, (std::vector<std::string>{"Could not save Tags ! (Check if the file is opened for other purpose.)",
                                                  "Could Not Load Tags!", "Could Not Load Tags!"}));
    // The damaged file was remembered as the last one asked for; saving to it fails too.
    EXPECT_FALSE(reader.SaveTags(tags));
    EXPECT_EQ(test::ReadFile(file), damaged + "data");

    // A file that goes away after loading is an error for the caller's handler, which names it as
    // the pickers show it ("ソング" in CP932).
    std::string gone = dir.WriteFile("\x83\x5C\x83\x93\x83\x4F.wma", WithData(Header({FileProperties(64000, 0)}), 100));
    ASSERT_TRUE(reader.LoadTags(gone, tags));
    std::remove(gone.c_str());
    try {
        reader.SaveTags(tags);
        ADD_FAILURE() << "no exception";
    } catch (const Exception& e) {
        EXPECT_EQ(e.Message(), "The file\r\n" + dir.File("ソング.wma") + "\r\ndoes'nt exists!");
    }
}

TEST_F(WMATags, StreamAttributesOfTheSameNameAreLeftAlone) {
    // A genre kept for stream 1 only: saving adds a file-level one and keeps the stream's.
    std::string header = Header({FileProperties(64000, 0),
                                 Extension({Metadata({MetaRecord(0, 1, "WM/Genre", 0, Wide("Stream genre"))})})});
    std::string file = dir.WriteFile("streams.wma", WithData(header, 500));
    TWMAReader reader;
    TTagsData tags;
    ASSERT_TRUE(reader.LoadTags(file, tags));
    EXPECT_EQ(tags.Genre, "");
    tags.Genre = "File genre";
    ASSERT_TRUE(reader.SaveTags(tags));
    TWMMetadataEditor e;
    ASSERT_EQ(e.Open(file), wmOK);
    TWMAttribute a;
    ASSERT_EQ(e.GetAttributeByIndex(1, 0, a), wmOK);
    EXPECT_EQ(WMValueText(a.Value), "Stream genre");
    ASSERT_TRUE(reader.LoadTags(file, tags));
    EXPECT_EQ(tags.Genre, "File genre");
}

TEST_F(WMATags, FormShowsTheFileAndUpdatesItsTags) {
    std::string header = Header({FileProperties(128000, 0), StreamProperties(2, 44100, 16000),
                                 ContentDescription({"Song", "Singer", "", "Line one\nLine two", ""}),
                                 Extended({Item("WMFSDKVersion", 0, Wide("9.00.00.2980")), Item("IsVBR", 2, LE32(1)),
                                           Item("WM/AlbumTitle", 0, Wide("Record")),
                                           Item("WM/Genre", 0, Wide("Rock")), Item("WM/Genre", 0, Wide("Blues")),
                                           Item("WM/TrackNumber", 0, Wide("3"))})});
    std::string file = dir.WriteFile("song.wma", WithData(header, 2'000'000));
    TStreamInfo info;
    info.SampleRate = 44100;
    info.Channels = 2;

    EXPECT_FALSE(TWMAInfoForm::Open(nullptr, dir.File("missing.wma"), info));
    EXPECT_FALSE(ShowWMAInfo(nullptr, dir.WriteFile("noise.wma", std::string(300, 'n')), info));
    EXPECT_EQ(messages.size(), 2u);
    messages.clear();

    std::unique_ptr<TWMAInfoForm> form = TWMAInfoForm::Open(nullptr, file, info);
    ASSERT_TRUE(form);
    form->show();
    EXPECT_EQ(form->windowTitle().toStdString(), "WMA info + tag editor");
    int64_t size = static_cast<int64_t>(test::ReadFile(file).size());
    EXPECT_EQ(Label(*form, "lbSize"), "File Size: " + GroupedNumber(size) + " bytes");
    // The play duration of the file properties (2 s) less the preroll (1 s); 2,000,1xx bytes at
    // 128 kbit/s would make two minutes and five seconds.
    EXPECT_EQ(Label(*form, "lbLength"), "Length: 0:01");
    EXPECT_EQ(Label(*form, "lbBitrate"), "Bitrate: 128 KBPS");
    EXPECT_EQ(Label(*form, "lbVBR"), "VBR: Yes");
    EXPECT_EQ(Label(*form, "lbVersion"), "WMFSDK Version: 9.00.00.2980");
    EXPECT_EQ(Label(*form, "lbSamplingrate"), "Samplingrate: 44100 Hz");
    EXPECT_EQ(Label(*form, "lbChannels"), "Channels: 2");
    EXPECT_EQ(Edit(*form, "fTitle"), "Song");
    EXPECT_EQ(Edit(*form, "fArtist"), "Singer");
    EXPECT_EQ(Edit(*form, "fAlbum"), "Record");
    EXPECT_EQ(Edit(*form, "fTrack"), "3");
    EXPECT_EQ(Find<QPlainTextEdit>(*form, "fComments")->toPlainText().toStdString(), "Line one\nLine two");
    form->grab().save(LUMORA_BINARY_DIR "/form-wma-info.png");

    // Cancel writes nothing.
    std::string before = test::ReadFile(file);
    Set(*form, "fTitle", "Not saved");
    Find<QPushButton>(*form, "btnCancel")->click();
    EXPECT_EQ(form->result(), QDialog::Rejected);
    EXPECT_EQ(test::ReadFile(file), before);

    // Showing again starts from the file, not from the edits left behind. Of two genres the form
    // shows the last; saving other fields keeps both.
    ASSERT_TRUE(form->FormShow());
    EXPECT_EQ(Edit(*form, "fTitle"), "Song");
    EXPECT_EQ(Edit(*form, "fGenre"), "Blues");
    Set(*form, "fTitle", "Old song");
    Find<QPushButton>(*form, "btnUpdate")->click();
    auto genres = [&] {
        TWMMetadataEditor e;
        e.Open(file);
        return e.GetAttributeIndices(0, "WM/Genre").size();
    };
    EXPECT_EQ(genres(), 2u);
    ASSERT_TRUE(form->FormShow());
    EXPECT_EQ(Edit(*form, "fTitle"), "Old song");
    Set(*form, "fTitle", "New song");
    Set(*form, "fGenre", "Folk");
    Set(*form, "fTrack", "");
    Find<QPlainTextEdit>(*form, "fLyrics")->setPlainText("words");
    Find<QPushButton>(*form, "btnUpdate")->click();
    EXPECT_EQ(form->result(), QDialog::Accepted);
    EXPECT_TRUE(messages.empty());
    TWMAReader reader;
    TTagsData tags;
    ASSERT_TRUE(reader.LoadTags(file, tags));
    EXPECT_EQ(tags.Title, "New song");
    EXPECT_EQ(tags.Genre, "Folk");
    EXPECT_EQ(genres(), 1u);
    EXPECT_EQ(tags.TrackNumber, "");
    EXPECT_EQ(tags.Lyrics, "words");
    EXPECT_EQ(tags.Description, "Line one\nLine two");
    // The form does not write the SDK version, so the one in the file stays.
    EXPECT_EQ(tags.WMFSDKVersion, "9.00.00.2980");
    EXPECT_EQ(AfterHeader(test::ReadFile(file)), AfterHeader(before));
}

TEST_F(WMATags, FormShowsANumericTrackAndThePlayTime) {
    REQUIRE_TOOL("ffmpeg");
    REQUIRE_MUTAGEN();
    std::string file = dir.File("numbered.wma");
    ASSERT_TRUE(
        test::Run("ffmpeg -v error -f lavfi -i sine=d=4 -c:a wmav2 -metadata album=Old " + Quoted(file)));
    ASSERT_EQ(test::Mutagen("asf-track " + Quoted(file) + " 7"), "");
    // 140 KB of lyrics, which the file size the form saves counts in.
    ASSERT_EQ(test::Mutagen("asf-big " + Quoted(file) + " 70000"), "");
    std::string before = test::MutagenDump(file);
    ASSERT_NE(before.find("wm/tracknumber='7'"), std::string::npos) << before;
    auto trackType = [&] {
        TWMMetadataEditor e;
        TWMAttribute a;
        if (e.Open(file) != wmOK) return -1;
        auto found = e.GetAttributeIndices(0, "WM/TrackNumber");
        return found.size() == 1 && e.GetAttributeByIndex(0, found[0], a) == wmOK ? int(a.Type) : -1;
    };
    ASSERT_EQ(trackType(), WMT_TYPE_DWORD);

    TStreamInfo info;
    std::unique_ptr<TWMAInfoForm> form = TWMAInfoForm::Open(nullptr, file, info);
    ASSERT_TRUE(form);
    EXPECT_EQ(Edit(*form, "fTrack"), "7");
    EXPECT_EQ(Label(*form, "lbLength"), "Length: 0:04");
    Set(*form, "fAlbum", "New");
    Find<QPushButton>(*form, "btnUpdate")->click();
    EXPECT_TRUE(messages.empty());
    std::string edited = test::Replaced(before, "wm/albumtitle='Old'", "wm/albumtitle='New'");
    EXPECT_EQ(test::MutagenDump(file), edited);
    EXPECT_EQ(trackType(), WMT_TYPE_DWORD);
    ASSERT_TRUE(form->FormShow());
    EXPECT_EQ(Label(*form, "lbLength"), "Length: 0:04");

    // An edited track is written as text.
    Set(*form, "fTrack", "8/12");
    Find<QPushButton>(*form, "btnUpdate")->click();
    EXPECT_EQ(test::MutagenDump(file), test::Replaced(edited, "wm/tracknumber='7'", "wm/tracknumber='8/12'"));
    EXPECT_EQ(trackType(), WMT_TYPE_STRING);
}

TEST_F(WMATags, FormWritesOnlyWhatWasEdited) {
    REQUIRE_TOOL("ffmpeg");
    REQUIRE_MUTAGEN();
    std::string file = MakeWma(dir, "crlf.wma", {{"artist", "Singer"}});
    // A description and lyrics with CRLF line ends, an album longer than a line edit holds.
    ASSERT_EQ(test::Mutagen("crlf-long " + Quoted(file) + " 40000"), "");
    std::string before = test::MutagenDump(file);
    ASSERT_NE(before.find("description='first line\\r\\nsecond line\\r\\n'"), std::string::npos) << before;

    TStreamInfo info;
    std::unique_ptr<TWMAInfoForm> form = TWMAInfoForm::Open(nullptr, file, info);
    ASSERT_TRUE(form);
    Set(*form, "fTitle", "New");
    Find<QPushButton>(*form, "btnUpdate")->click();
    EXPECT_EQ(form->result(), QDialog::Accepted);
    EXPECT_TRUE(messages.empty());
    EXPECT_EQ(test::MutagenDump(file), test::Replaced(before, "title='Old'", "title='New'"));
}

TEST_F(WMATags, FormSavesValuesLongerThanTheContentObjectsHold) {
    REQUIRE_TOOL("ffmpeg");
    REQUIRE_MUTAGEN();
    for (const auto& c : test::WmaLongCases()) {
        SCOPED_TRACE(std::string(c.Name) + (c.Existing ? " existing, " : " new, ") + std::to_string(c.Units));
        std::string field = c.Field;
        bool memo = field == "lyrics" || field == "description";
        const char* control = field == "title"     ? "fTitle"
                              : field == "album"   ? "fAlbum"
                              : field == "composer" ? "fComposer"
                              : field == "lyrics"  ? "fLyrics"
                                                   : "fComments";
        std::string file = test::MakeWmaFor(dir, "long.wma", c);
        std::string before = test::MutagenDump(file);
        std::string text = test::LongText(c.Units, memo);
        TStreamInfo info;
        std::unique_ptr<TWMAInfoForm> form = TWMAInfoForm::Open(nullptr, file, info);
        ASSERT_TRUE(form);
        form->show();
        if (memo) {
            Find<QPlainTextEdit>(*form, control)->setPlainText(QString::fromStdString(text));
        } else {
            // A line edit holds up to 32,767 units: a longer value is the tag tool's to write.
            if (static_cast<int>(c.Units) > Find<QLineEdit>(*form, control)->maxLength()) continue;
            Set(*form, control, text);
        }
        Find<QPushButton>(*form, "btnUpdate")->click();
        EXPECT_EQ(form->result(), QDialog::Accepted);
        EXPECT_TRUE(messages.empty()) << messages.front();
        messages.clear();
        std::string name = LowerCase(c.Name);
        EXPECT_EQ(test::MutagenValues(file, c.Name), std::vector<std::string>{text});
        EXPECT_EQ(test::WithoutNames(test::MutagenDump(file), {name}), test::WithoutNames(before, {name}));
        EXPECT_EQ(Capture("ffmpeg -v error -i " + Quoted(file) + " -f null - 2>&1"), "");

        // Shown again, the value is there whole.
        ASSERT_TRUE(form->FormShow());
        std::string shown = memo ? Find<QPlainTextEdit>(*form, control)->toPlainText().toStdString() : Edit(*form, control);
        EXPECT_TRUE(shown == text) << shown.size() << " bytes shown, " << text.size() << " saved";
    }
}

TEST_F(WMATags, EachSoundKindReachesItsOwnForm) {
    REQUIRE_TOOL("ffmpeg");
    REQUIRE_TOOL("oggenc");
    std::string wma = MakeWma(dir, "tone.wma", {{"title", "Tone"}});
    std::string wav = test::MakeWav(dir, "tone.wav", 0.5, 22050, 1);
    std::string ogg = dir.File("tone.ogg");
    ASSERT_TRUE(test::Run("oggenc -Q " + Quoted(wav) + " -o " + Quoted(ogg)));
    std::string mp3 = dir.WriteFile("tone.MP3", test::MpegFrames(20));
    std::vector<std::string> shown;
    InfoFormModalRunner() = [&](QDialog& dialog) {
        std::string title = dialog.windowTitle().toStdString();
        if (auto* rate = dialog.findChild<QLabel*>("lbSamplingrate")) title += " / " + rate->text().toStdString();
        shown.push_back(title);
        dialog.grab().save(QString::fromStdString(std::string(LUMORA_BINARY_DIR) + "/form-reached-" +
                                                  std::to_string(shown.size()) + ".png"));
        return 0;
    };
    EXPECT_TRUE(HasSoundInfoForm(wma) && HasSoundInfoForm(ogg) && HasSoundInfoForm(mp3));
    EXPECT_FALSE(HasSoundInfoForm(wav));
    EXPECT_TRUE(ShowSoundInfoForm(nullptr, mp3));
    EXPECT_TRUE(ShowSoundInfoForm(nullptr, ogg));
    // Without the player's stream information the WMA header gives the rate.
    EXPECT_TRUE(ShowSoundInfoForm(nullptr, wma));
    TStreamInfo playing;
    playing.SampleRate = 8000;
    EXPECT_TRUE(ShowSoundInfoForm(nullptr, wma, &playing));
    EXPECT_FALSE(ShowSoundInfoForm(nullptr, wav));
    EXPECT_FALSE(ShowSoundInfoForm(nullptr, dir.WriteFile("noise.ogg", "not ogg")));
    EXPECT_EQ(shown, (std::vector<std::string>{"MPEG file info box + ID3 tag editor", "Ogg Vorbis info + tag editor",
                                               "WMA info + tag editor / Samplingrate: 44100 Hz",
                                               "WMA info + tag editor / Samplingrate: 8000 Hz"}));
}

TEST(WMAInfoFormTexts, LengthDropsTheMinutesLeadingZero) {
    EXPECT_EQ(ShortMinutesSeconds(0), "0:00");
    EXPECT_EQ(ShortMinutesSeconds(125), "2:05");
    EXPECT_EQ(ShortMinutesSeconds(600), "10:00");
    EXPECT_EQ(ShortMinutesSeconds(6000), "100:00");
}

} // namespace
} // namespace lumora
