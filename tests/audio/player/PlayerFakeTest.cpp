// The audio player over a fake library (single-channel mode, so no thread is involved): opening,
// failures, the end of play, volume and the supported types.

#include <gtest/gtest.h>

#include "audio/player/AudioPlayer.h"
#include "tests/audio/player/PlayerTestUtil.h"

namespace lumora::playertest {
namespace {

class PlayerFake : public ::testing::Test {
protected:
    void SetUp() override {
        wavA_ = WriteWav(scope_.Dir(), "a.wav", 44100, 2, 4410);
        wavB_ = WriteWav(scope_.Dir(), "refuse-b.wav", 44100, 2, 4410);
    }
    std::unique_ptr<TAudioPlayer> MakePlayer() {
        auto p = std::make_unique<TAudioPlayer>();
        p->SetSingleChannel(true);
        p->OnModeChange = [this](TObject*, TPlayerMode from, TPlayerMode to) { modes_.emplace_back(from, to); };
        p->OnPlayEnd = [this](TObject*) { ++ends_; };
        return p;
    }
    FakeLibraryScope scope_;
    MessageCapture boxes_;
    std::string wavA_, wavB_;
    std::vector<std::pair<TPlayerMode, TPlayerMode>> modes_;
    int ends_ = 0;
};

TEST_F(PlayerFake, OpenWhilePlayingWithAFailingSourceResumesTheOldOneAndReportsTheCode) {
    auto player = MakePlayer();
    ASSERT_TRUE(player->Ready());
    ASSERT_TRUE(player->Open(wavA_));
    player->Play();
    ASSERT_EQ(player->Mode(), plmPlaying);
    DWORD old = player->SourceChannel();
    FakeBass::Get().refuse = "refuse";
    EXPECT_FALSE(player->Open(wavB_));
    EXPECT_EQ(boxes_.Last(), "Can't play the specified stream file : " + wavB_ + "\r\n(error code: 2)");
    EXPECT_EQ(boxes_.Boxes().back().Caption, "Error");
    EXPECT_EQ(player->Mode(), plmPlaying);
    EXPECT_EQ(player->SourceChannel(), old);
    EXPECT_EQ(FakeBass::Get().State(old), static_cast<DWORD>(BASS_ACTIVE_PLAYING));
    EXPECT_EQ(player->FileName(), wavA_);
    EXPECT_EQ(player->StreamInfo().FileName, wavA_);
    // Paused on the way, then resumed.
    std::vector<std::pair<TPlayerMode, TPlayerMode>> expected = {
        {plmStandby, plmReady}, {plmReady, plmPlaying}, {plmPlaying, plmPaused}, {plmPaused, plmPlaying}};
    EXPECT_EQ(modes_, expected);

    // A file the information reader rejects never reaches the library.
    std::string junk = scope_.Dir().WriteFile("junk.xyz123", "x");
    EXPECT_FALSE(player->Open(junk));
    EXPECT_EQ(boxes_.Last(), "Invalid stream file (" + junk + ") !");
    EXPECT_EQ(player->Mode(), plmPlaying);
    // Names that are not UTF-8 show as the pickers show them: Windows-1252, and CP932 ("ソング").
    for (auto [name, shown] : {std::pair{"bad\xE9.mp3", "bad\xC3\xA9.mp3"},
                               std::pair{"\x83\x5C\x83\x93\x83\x4F.xyz123", "ソング.xyz123"}}) {
        EXPECT_FALSE(player->Open(scope_.Dir().WriteFile(name, "x")));
        EXPECT_EQ(boxes_.Last(), "Invalid stream file (" + scope_.Dir().File(shown) + ") !");
    }
    std::string refused = WriteWav(scope_.Dir(), "refuse-\x8E\xCA\x90\x5E.wav", 44100, 2, 4410);
    EXPECT_FALSE(player->Open(refused));
    EXPECT_EQ(boxes_.Last(), "Can't play the specified stream file : " + scope_.Dir().File("refuse-写真.wav") +
                                 "\r\n(error code: 2)");
    // A WMA or ASF stream from the net needs its plug-in.
    EXPECT_FALSE(player->Open("http://example.invalid/radio.wma"));
    EXPECT_EQ(boxes_.Last(), "Winamp input plug-in for ASF (or WMA) file is not loaded.");
    EXPECT_EQ(player->Mode(), plmPlaying);
}

TEST_F(PlayerFake, EndOfPlayReachesOnPlayEndOnceAndReplayingAddsNoSecondSync) {
    auto player = MakePlayer();
    ASSERT_TRUE(player->Open(wavA_));
    player->Play();
    DWORD h = player->SourceChannel();
    FakeBass::Get().FireEnd(h);
    PumpUntil([&] { return ends_ > 0; }, 2000);
    Pump(20);
    EXPECT_EQ(ends_, 1);
    EXPECT_EQ(player->Mode(), plmStopped);
    std::vector<std::pair<TPlayerMode, TPlayerMode>> expected = {
        {plmStandby, plmReady}, {plmReady, plmPlaying}, {plmPlaying, plmStopped}};
    EXPECT_EQ(modes_, expected);

    // Play after the end starts from the start, and the end comes once more, not twice.
    FakeBass::Get().positionsSet.clear();
    player->Play();
    ASSERT_EQ(player->Mode(), plmPlaying);
    ASSERT_FALSE(FakeBass::Get().positionsSet.empty());
    EXPECT_EQ(FakeBass::Get().positionsSet.front().second, 0u);
    EXPECT_EQ(FakeBass::Get().EndSyncCount(h), 1u);
    FakeBass::Get().FireEnd(h);
    PumpUntil([&] { return ends_ > 1; }, 2000);
    Pump(20);
    EXPECT_EQ(ends_, 2);
}

TEST_F(PlayerFake, AnEndFromTheTrackBeforeDoesNotStopTheNextOne) {
    auto player = MakePlayer();
    ASSERT_TRUE(player->Open(wavA_));
    player->Play();
    DWORD first = player->SourceChannel();
    // The end arrives while the next track is being opened.
    FakeBass::Get().FireEnd(first);
    std::string wavC = WriteWav(scope_.Dir(), "c.wav", 22050, 1, 2000);
    ASSERT_TRUE(player->Open(wavC));
    player->Play();
    Pump(50);
    EXPECT_EQ(ends_, 0);
    EXPECT_EQ(player->Mode(), plmPlaying);
}

TEST_F(PlayerFake, PauseStopAndVolumeFollowTheRules) {
    auto player = MakePlayer();
    ASSERT_TRUE(player->Open(wavA_));
    player->Stop(); // not playing: nothing
    EXPECT_EQ(player->Mode(), plmReady);
    player->Play();
    player->Pause();
    ASSERT_EQ(player->Mode(), plmPaused);
    player->Stop(); // paused: nothing
    EXPECT_EQ(player->Mode(), plmPaused);
    player->Play(); // resumes
    EXPECT_EQ(player->Mode(), plmPlaying);
    player->SetVolume(300);
    EXPECT_EQ(player->Volume(), 255);
    EXPECT_EQ(FakeBass::Get().config[BASS_CONFIG_GVOL_STREAM], 255u);
    EXPECT_EQ(FakeBass::Get().config[BASS_CONFIG_GVOL_MUSIC], 255u);
    player->SetVolume(-4);
    EXPECT_EQ(FakeBass::Get().config[BASS_CONFIG_GVOL_STREAM], 0u);
    player->SetVolume(100);
    EXPECT_EQ(FakeBass::Get().config[BASS_CONFIG_GVOL_STREAM], 100u);
    EXPECT_EQ(player->GetPlayLength(), 10000);
    player->Close();
    EXPECT_EQ(player->Mode(), plmStandby);
    EXPECT_EQ(player->GetPosition(), 0);
    EXPECT_FALSE(player->Seekable());
}

TEST_F(PlayerFake, ASixteenBitFileOnAnEightBitChannelIsRefusedAndNothingOfItIsKept) {
    auto player = MakePlayer();
    ASSERT_TRUE(player->Open(wavA_));
    player->Play();
    DWORD old = player->SourceChannel();
    FakeBass::Get().eightBit = true;
    std::string wavC = WriteWav(scope_.Dir(), "c.wav", 44100, 2, 1000);
    EXPECT_FALSE(player->Open(wavC));
    EXPECT_EQ(boxes_.Last(), "Sound card does not support 16-bit sources.");
    EXPECT_EQ(player->SourceChannel(), old);
    EXPECT_EQ(player->ChannelKind(), ckStream);
    EXPECT_EQ(player->Mode(), plmPlaying);
    ASSERT_EQ(FakeBass::Get().freed.size(), 1u); // the refused channel, not the playing one
    EXPECT_NE(FakeBass::Get().freed[0], old);
}

TEST_F(PlayerFake, SupportedTypesFollowTheAddOns) {
    const std::string base = "*.wav;*.mp1;*.mp2;*.mp3;*.ogg;*.aiff;*.MO3;*.IT;*.XM;*.S3M;*.MTM;*.MOD;*.UMX;";
    {
        auto player = MakePlayer();
        EXPECT_EQ(player->SupportedTypes(), base + "*.cda;*.wma;");
        EXPECT_EQ(player->BASSDLLVer(), "1.515");
        EXPECT_TRUE(player->DX8EffectReady());
    }
    scope_.loader.MissingFiles = {"libbasscd.so"};
    {
        auto player = MakePlayer();
        EXPECT_EQ(player->SupportedTypes(), base + "*.wma;");
        // No WMA add-on needed for this; a ".cda" file is refused without its add-on.
    }
    scope_.loader.MissingFiles = {"libbasswma.so", "libbasscd.so"};
    {
        auto player = MakePlayer();
        EXPECT_EQ(player->SupportedTypes(), base);
        std::string wma = scope_.Dir().WriteFile("x.wma", std::string(100, '\0'));
        EXPECT_FALSE(player->Open(wma));
    }
    scope_.loader.MissingFiles = {"libbass.so"};
    {
        auto player = MakePlayer();
        EXPECT_EQ(player->SupportedTypes(), "");
        EXPECT_EQ(player->BASSDLLVer(), "");
        EXPECT_FALSE(player->Open(wavA_));
        EXPECT_EQ(boxes_.Last(), "Player is not ready !");
    }
}

TEST_F(PlayerFake, StartUpFailuresAreReported) {
    FakeBass::Get().version = 0x02020005;
    {
        auto player = MakePlayer();
        EXPECT_FALSE(player->Ready());
        EXPECT_EQ(boxes_.Last(), "BASS version is not 2.3.0.1 !");
    }
    FakeBass::Get().version = 0x02030001;
    FakeBass::Get().initOk = false;
    FakeBass::Get().error = BASS_ERROR_FREQ;
    {
        auto player = MakePlayer();
        EXPECT_FALSE(player->Ready());
        EXPECT_FALSE(player->NoSoundOutput());
        EXPECT_EQ(boxes_.Last(), "Can't initialize device\r\n(error code: 25)");
    }
    // No sound output to open (the library tells why, once): no box of the player's, and the owner
    // can say what cannot be played.
    for (int error : {BASS_ERROR_DEVICE, BASS_ERROR_CREATE}) {
        const size_t before = boxes_.Count();
        FakeBass::Get().error = error;
        auto player = MakePlayer();
        EXPECT_FALSE(player->Ready());
        EXPECT_TRUE(player->NoSoundOutput());
        EXPECT_EQ(boxes_.Count(), before) << error;
    }
}

TEST_F(PlayerFake, EffectParametersFollowTheLevelsAndUnchangedGainsAreNotWrittenAgain) {
    auto player = MakePlayer();
    ASSERT_TRUE(player->Open(wavA_));
    player->Play();
    FakeBass& f = FakeBass::Get();
    player->SetEchoLevel(0);
    player->SetReverbLevel(32);
    player->SetSoundEffects(sefEqualizer | sefEcho | sefReverb);
    auto echo = f.Effects(BASS_FX_ECHO);
    ASSERT_EQ(echo.size(), 1u);
    EXPECT_EQ(echo[0].Echo.fWetDryMix, 0);
    EXPECT_EQ(echo[0].Echo.fFeedback, 30);
    EXPECT_EQ(echo[0].Echo.fLeftDelay, 500); // the delays stay as the library gave them
    EXPECT_EQ(echo[0].Echo.fRightDelay, 500);
    auto reverb = f.Effects(BASS_FX_REVERB);
    ASSERT_EQ(reverb.size(), 1u);
    EXPECT_EQ(reverb[0].Reverb.fInGain, 0);
    EXPECT_EQ(reverb[0].Reverb.fReverbMix, 0);
    EXPECT_EQ(reverb[0].Reverb.fReverbTime, 1000);
    EXPECT_FLOAT_EQ(reverb[0].Reverb.fHighFreqRTRatio, 0.1f);
    auto eq = f.Effects(BASS_FX_PARAMEQ);
    ASSERT_EQ(eq.size(), 10u);
    for (size_t b = 0; b < eq.size(); ++b) {
        EXPECT_EQ(eq[b].Eq.fCenter, kEqBandTable[b].Center) << b;
        EXPECT_EQ(eq[b].Eq.fBandwidth, kEqBandTable[b].Bandwidth) << b;
    }

    std::array<float, kEqBands> gains{};
    gains[0] = 20;
    gains[1] = -20;
    gains[2] = 3.5f;
    player->SetEQGains(gains);
    eq = f.Effects(BASS_FX_PARAMEQ);
    EXPECT_EQ(eq[0].Eq.fGain, 15);
    EXPECT_EQ(eq[1].Eq.fGain, -15);
    EXPECT_EQ(eq[2].Eq.fGain, 3.5f);
    const int writes = eq[2].Sets, untouched = eq[3].Sets;
    gains[2] = 3.5005f; // less than 0.001 dB away: not written
    player->SetEQGains(gains);
    EXPECT_EQ(f.Effects(BASS_FX_PARAMEQ)[2].Sets, writes);
    gains[2] = 3.502f;
    player->SetEQGains(gains);
    eq = f.Effects(BASS_FX_PARAMEQ);
    EXPECT_EQ(eq[2].Sets, writes + 1);
    EXPECT_EQ(eq[2].Eq.fGain, 3.502f);
    EXPECT_EQ(eq[3].Sets, untouched);

    player->SetEchoLevel(33); // ignored
    EXPECT_EQ(f.Effects(BASS_FX_ECHO)[0].Echo.fWetDryMix, 0);
    player->SetEchoLevel(32);
    EXPECT_FLOAT_EQ(f.Effects(BASS_FX_ECHO)[0].Echo.fWetDryMix, 38.4f);
    player->SetReverbLevel(0);
    EXPECT_EQ(f.Effects(BASS_FX_REVERB)[0].Reverb.fReverbMix, -16);
    // Switched off, each effect leaves the channel.
    player->SetSoundEffects(0);
    EXPECT_TRUE(f.Effects(BASS_FX_ECHO).empty());
    EXPECT_TRUE(f.Effects(BASS_FX_PARAMEQ).empty());
    EXPECT_TRUE(f.Effects(BASS_FX_REVERB).empty());
}

TEST_F(PlayerFake, ModulesTakeTheirOwnLength) {
    auto player = MakePlayer();
    std::string mod = scope_.Dir().WriteFile("song.mod", "My Module Title\0\0\0\0\0" + std::string(2000, '\0'));
    ASSERT_TRUE(player->Open(mod));
    EXPECT_EQ(player->ChannelKind(), ckMusic);
    EXPECT_EQ(player->StreamInfo().Title, "My Module Title");
    EXPECT_EQ(player->StreamInfo().Duration, 10000);
    EXPECT_EQ(player->DecoderName(), "BASS_Native");
}

} // namespace
} // namespace lumora::playertest
