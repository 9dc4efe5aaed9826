// The WMA and CD add-ons on top of the core library.

#include <gtest/gtest.h>

#include "tests/audiolib/AudioTestUtil.h"
#include "tests/support/TempDir.h"

namespace lumora::test {
namespace {

class Addons : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(lib_.Ok()); }
    void TearDown() override { unsetenv("LUMORA_CD_TABLE"); }
    LibrarySession lib_{"null"};
    TempDir dir_;
};

TEST_F(Addons, CdDrivesComeOnlyFromTheTable) {
    unsetenv("LUMORA_CD_TABLE");
    EXPECT_EQ(BASS_CD_GetDriveDescription(0), nullptr);
    REQUIRE_TOOL("sox");
    std::string t1 = dir_.File("t1.wav"), t2 = dir_.File("t2.wav");
    ASSERT_TRUE(Shell("sox -n -r 44100 -c 2 -b 16 " + t1 + " synth 0.5 sine 500"));
    ASSERT_TRUE(Shell("sox -n -r 22050 -c 1 -b 16 " + t2 + " synth 1.0 sine 700"));
    std::string table = dir_.WriteFile("cd.txt", "# test drives\nq|Test Drive|" + t1 + "|" + t2 + "\nbad line\nE|Empty\n");
    setenv("LUMORA_CD_TABLE", table.c_str(), 1);
    ASSERT_NE(BASS_CD_GetDriveDescription(0), nullptr);
    EXPECT_STREQ(BASS_CD_GetDriveDescription(0), "Test Drive");
    EXPECT_EQ(BASS_CD_GetDriveLetter(0), static_cast<DWORD>('Q' - 'A'));
    EXPECT_STREQ(BASS_CD_GetDriveDescription(1), "Empty");
    EXPECT_EQ(BASS_CD_GetDriveDescription(2), nullptr);
    EXPECT_EQ(BASS_CD_GetTracks(0), 2u);
    EXPECT_TRUE(BASS_CD_IsReady(0));
    EXPECT_FALSE(BASS_CD_IsReady(1));
    // Lengths are in disc bytes (16-bit stereo at 44.1 kHz) whatever the track file holds.
    EXPECT_EQ(BASS_CD_GetTrackLength(0, 0), 22050u * 4);
    EXPECT_EQ(BASS_CD_GetTrackLength(0, 1), 44100u * 4);
    EXPECT_EQ(BASS_CD_GetTrackLength(0, 2), ~QWORD{0});

    HSTREAM h = BASS_CD_StreamCreateFile("Q:/Track02.cda", BASS_STREAM_DECODE);
    ASSERT_NE(h, 0u) << BASS_ErrorGetCode();
    EXPECT_EQ(BASS_CD_StreamGetTrack(h), 1u);
    BASS_CHANNELINFO info{};
    BASS_ChannelGetInfo(h, &info);
    EXPECT_EQ(info.ctype, static_cast<DWORD>(BASS_CTYPE_STREAM_CD));
    EXPECT_EQ(info.freq, 22050u);
    EXPECT_EQ(BASS_CD_StreamCreateFile("Z:/Track01.cda", 0), 0u);
    EXPECT_EQ(BASS_CD_StreamCreateFile("Q:/Track09.cda", 0), 0u);
    EXPECT_EQ(BASS_CD_StreamCreateFile("Q:/notes.txt", 0), 0u);
}

TEST_F(Addons, WmaStreamsPlayAndOtherFilesAreRefused) {
    REQUIRE_TOOL("sox");
    REQUIRE_TOOL("ffmpeg");
    std::string wav = dir_.File("t.wav"), wma = dir_.File("t.wma");
    ASSERT_TRUE(Shell("sox -n -r 44100 -c 2 -b 16 " + wav + " synth 0.5 sine 500"));
    ASSERT_TRUE(Shell("ffmpeg -v quiet -y -i " + wav + " -c:a wmav2 -b:a 64k -metadata title=Windy " + wma));
    HSTREAM h = BASS_WMA_StreamCreateFile(0, wma.c_str(), 0, 0, BASS_STREAM_DECODE);
    ASSERT_NE(h, 0u) << BASS_ErrorGetCode();
    BASS_CHANNELINFO info{};
    BASS_ChannelGetInfo(h, &info);
    EXPECT_EQ(info.ctype, static_cast<DWORD>(BASS_CTYPE_STREAM_WMA));
    EXPECT_NEAR(BASS_ChannelBytes2Seconds(h, BASS_ChannelGetLength(h)), 0.5, 0.1);
    bool titled = false;
    for (const char* p = BASS_ChannelGetTags(h, BASS_TAG_WMA); p && *p; p += std::strlen(p) + 1)
        titled = titled || std::string(p) == "title=Windy";
    EXPECT_TRUE(titled);
    EXPECT_EQ(BASS_WMA_StreamCreateFile(0, wav.c_str(), 0, 0, 0), 0u);
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_FILEFORM);
    EXPECT_EQ(BASS_WMA_EncodeOpenFile(44100, 2, 0, 64000, "x.wma"), 0u);
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_NOTAVAIL);
}

} // namespace
} // namespace lumora::test
