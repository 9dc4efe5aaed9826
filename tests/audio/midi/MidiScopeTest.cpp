// The activity scope's picture: where a note's cell goes, how tall it grows, what is ignored, and
// the 25 ms hand-over.
#include <memory>

#include <gtest/gtest.h>

#include "audio/midi/MidiScope.h"
#include "platform/system/Clock.h"

namespace lumora {
namespace {

// Pixels of column x, rows top..bottom-1, as colours.
std::vector<TColor> Column(TMidiScope& scope, int x, int top, int bottom) {
    std::vector<TColor> out;
    for (int y = top; y < bottom; ++y) out.push_back(scope.Bitmap().GetPixel(x, y));
    return out;
}

bool AllNavy(TMidiScope& scope) {
    for (int y = 0; y < TMidiScope::kHeight; ++y)
        for (int x = 0; x < TMidiScope::kWidth; ++x)
            if (scope.Bitmap().GetPixel(x, y) != clNavy) return false;
    return true;
}

TEST(MidiScope, CellsGrowWithVelocity) {
    TMidiScope scope;
    EXPECT_EQ(scope.width(), 101);
    EXPECT_EQ(scope.height(), 25);
    EXPECT_TRUE(AllNavy(scope));
    scope.SetActive(true);
    const TColor red = TMidiScope::ChannelColor(0);
    EXPECT_EQ(red, 0x0000FF);
    EXPECT_EQ(TMidiScope::ChannelColor(15), 0xFFFFFF);

    // Note 60 on channel 0: columns 44..47, the cell rows 2..5; velocity 127 colours rows 3..5.
    scope.NoteEvent(0x90, 60, 127);
    EXPECT_EQ(scope.Level(0, 60), 127);
    for (int x = 44; x < 48; ++x)
        EXPECT_EQ(Column(scope, x, 1, 7), (std::vector<TColor>{clNavy, clNavy, red, red, red, clNavy})) << x;
    EXPECT_EQ(scope.Bitmap().GetPixel(43, 5), clNavy);
    EXPECT_EQ(scope.Bitmap().GetPixel(48, 5), clNavy);

    // Velocity 31 or less colours nothing; 32 one row.
    scope.NoteEvent(0x90, 60, 31);
    EXPECT_EQ(Column(scope, 44, 2, 6), (std::vector<TColor>(4, clNavy)));
    scope.NoteEvent(0x90, 60, 32);
    EXPECT_EQ(Column(scope, 44, 2, 6), (std::vector<TColor>{clNavy, clNavy, clNavy, red}));
    // A note-off clears the cell.
    scope.NoteEvent(0x80, 60, 64);
    EXPECT_EQ(scope.Level(0, 60), 0);
    EXPECT_TRUE(AllNavy(scope));

    // Channel 15 sits 15 rows lower in its own colour; notes below 16 fall off the left edge.
    scope.NoteEvent(0x9F, 14, 100);
    EXPECT_EQ(Column(scope, 0, 17, 21), (std::vector<TColor>{clNavy, 0xFFFFFF, 0xFFFFFF, 0xFFFFFF}));
    EXPECT_EQ(Column(scope, 1, 17, 21), (std::vector<TColor>{clNavy, 0xFFFFFF, 0xFFFFFF, 0xFFFFFF}));
    EXPECT_EQ(scope.Bitmap().GetPixel(2, 20), clNavy);
}

TEST(MidiScope, OtherMessagesAndBadBytesLeaveItAlone) {
    TMidiScope scope;
    scope.SetActive(true);
    scope.NoteEvent(0x90, 70, 100);
    TBitmap before;
    before.Assign(scope.Bitmap());
    for (int ch = 0; ch < 16; ++ch) scope.NoteEvent(0xB0 + ch, 120, 0); // all sound off
    scope.NoteEvent(0xFF, 0x2F, 0);
    scope.NoteEvent(0x90, 0x80, 127); // a data byte of $80 and above names no note
    scope.NoteEvent(0x90, 0xFF, 127);
    for (int y = 0; y < 25; ++y)
        for (int x = 0; x < 101; ++x) ASSERT_EQ(scope.Bitmap().GetPixel(x, y), before.GetPixel(x, y));
    EXPECT_EQ(scope.Level(0, 70), 100);
}

TEST(MidiScope, InactiveOrHiddenScopes) {
    TMidiScope scope;
    scope.NoteEvent(0x90, 60, 127); // inactive: the level changes, nothing is drawn
    EXPECT_EQ(scope.Level(0, 60), 127);
    EXPECT_TRUE(AllNavy(scope));
    scope.SetActive(true);
    scope.NoteEvent(0x90, 61, 127);
    EXPECT_FALSE(AllNavy(scope));
    scope.SetActive(false); // switching fills the picture navy again
    EXPECT_TRUE(AllNavy(scope));
    scope.SetActive(true);
    scope.hide();
    scope.NoteEvent(0x90, 62, 127);
    EXPECT_EQ(scope.Level(0, 62), 0);
    EXPECT_TRUE(AllNavy(scope));
}

TEST(MidiScope, HandsThePictureOverEvery25Ms) {
    VirtualClock clock;
    SetClock(&clock);
    {
        TMidiScope scope;
        int calls = 0;
        scope.OnMIDIVisTData = [&](TMidiScope* sender, TBitmap& bmp) {
            ++calls;
            EXPECT_EQ(sender, &scope);
            EXPECT_EQ(&bmp, &scope.Bitmap());
        };
        clock.Advance(100);
        EXPECT_EQ(calls, 0);
        scope.SetActive(true);
        clock.Advance(100);
        EXPECT_EQ(calls, 4);
        scope.SetActive(false);
        clock.Advance(100);
        EXPECT_EQ(calls, 4);
    }
    SetClock(nullptr);
}

} // namespace
} // namespace lumora
