// Loading the audio library and its add-ons by name.

#include <gtest/gtest.h>

#include "audio/player/BassLoader.h"
#include "tests/audio/player/PlayerTestUtil.h"

namespace lumora::playertest {
namespace {

TEST(PlayerLoader, ALibraryMissingOneEntryIsRefusedAndLeavesNothingBound) {
    FakeLibraryScope scope;
    scope.loader.MissingEntry = "BASS_FXGetParameters"; // the last of the 95
    EXPECT_FALSE(LoadBassLibrary("/x/libbass.so"));
    EXPECT_FALSE(BassLibraryLoaded());
    EXPECT_EQ(BASS_SetConfig, nullptr); // bound before the missing one, cleared again
    EXPECT_EQ(scope.loader.Frees, 1);

    scope.loader.MissingEntry.clear();
    ASSERT_TRUE(LoadBassLibrary("/x/libbass.so"));
    EXPECT_NE(BASS_FXGetParameters, nullptr);
    int loads = scope.loader.Loads, frees = scope.loader.Frees;
    EXPECT_TRUE(LoadBassLibrary("/x/libbass.so")); // a second user: not loaded again
    EXPECT_EQ(scope.loader.Loads, loads);
    UnloadBassLibrary(); // the first user goes; the other one still calls in
    EXPECT_TRUE(BassLibraryLoaded());
    EXPECT_NE(BASS_ChannelPlay, nullptr);
    EXPECT_EQ(FakeBass::Get().freeCalls, 0);
    EXPECT_EQ(scope.loader.Frees, frees);
    UnloadBassLibrary();
    EXPECT_EQ(FakeBass::Get().freeCalls, 1); // the library is told before it goes
    EXPECT_EQ(scope.loader.Frees, frees + 1);
    EXPECT_FALSE(BassLibraryLoaded());
    EXPECT_EQ(BASS_ChannelPlay, nullptr);
    UnloadBassLibrary(); // one unload too many does nothing
    EXPECT_EQ(FakeBass::Get().freeCalls, 1);
}

TEST(PlayerLoader, AddOnsLoadOnTheirOwnAndAreOptional) {
    FakeLibraryScope scope;
    scope.loader.MissingFiles = {"libbasswma.so"};
    scope.loader.MissingEntry = "BASS_CD_Analog_GetPosition";
    EXPECT_TRUE(LoadBassLibrary("/x/libbass.so"));
    EXPECT_FALSE(LoadBassWmaLibrary("/x/libbasswma.so"));
    EXPECT_FALSE(LoadBassCdLibrary("/x/libbasscd.so"));
    EXPECT_EQ(BASS_WMA_StreamCreateFile, nullptr);
    EXPECT_EQ(BASS_CD_GetDriveDescription, nullptr);
    EXPECT_TRUE(BassLibraryLoaded());
    UnloadBassLibrary();

    // An add-on, too, stays for as long as one of its users does.
    scope.loader.MissingFiles.clear();
    scope.loader.MissingEntry.clear();
    ASSERT_TRUE(LoadBassWmaLibrary("/x/libbasswma.so"));
    ASSERT_TRUE(LoadBassWmaLibrary("/x/libbasswma.so"));
    UnloadBassWmaLibrary();
    EXPECT_TRUE(BassWmaLibraryLoaded());
    EXPECT_NE(BASS_WMA_StreamCreateFile, nullptr);
    UnloadBassWmaLibrary();
    EXPECT_FALSE(BassWmaLibraryLoaded());
}

TEST(PlayerLoader, TheRealLibrariesBindEveryEntry) {
    std::string bin = std::string(LUMORA_BINARY_DIR) + "/bin/";
    ASSERT_TRUE(LoadBassLibrary(bin + kBassLibraryFile));
    ASSERT_TRUE(LoadBassWmaLibrary(bin + kBassWmaLibraryFile));
    ASSERT_TRUE(LoadBassCdLibrary(bin + kBassCdLibraryFile));
    EXPECT_EQ(BASS_GetVersion(), 0x02030001u);
    EXPECT_EQ(BASS_CD_GetDriveDescription(0), nullptr); // no drives without a table
    UnloadBassLibrary();
    UnloadBassWmaLibrary();
    UnloadBassCdLibrary();
    EXPECT_FALSE(LoadBassLibrary(bin + "libnothing.so"));
    EXPECT_FALSE(LoadBassLibrary(std::string(LUMORA_BINARY_DIR) + "/test-plugins/in_test.so"));
}

} // namespace
} // namespace lumora::playertest
