#include <gtest/gtest.h>

#include <vector>

#include "audio/player/SoundEffects.h"

using namespace lumora;

TEST(Spectrum, SingleBinLandsInItsBandAndBandZeroIsBinOne) {
    float fft[256] = {};
    TBandOut levels{};
    fft[0] = 1.0f; // bin 0 is never shown
    fft[157] = 0.5f;
    UpdateBands(fft, levels);
    for (int i = 0; i < 24; ++i) EXPECT_EQ(levels[i], 0) << i;
    EXPECT_EQ(levels[24], 184); // 0.5 x (24 x 0.15 + 1) x 80 = 184
    fft[157] = 0;
    fft[200] = 1.0f; // above the last band: not shown
    fft[1] = 0.25f;
    UpdateBands(fft, levels);
    EXPECT_EQ(levels[0], 20);
    EXPECT_EQ(levels[24], 182);
}

TEST(Spectrum, LevelsFallTwoPerTickToZero) {
    float fft[256] = {};
    TBandOut levels{};
    fft[1] = 1.25f; // 100
    UpdateBands(fft, levels);
    ASSERT_EQ(levels[0], 100);
    fft[1] = 0;
    int ticks = 0;
    while (levels[0] > 0) {
        UpdateBands(fft, levels);
        ++ticks;
    }
    EXPECT_EQ(ticks, 50); // 1.25 s at 25 ms per tick
    levels[1] = 1;
    UpdateBands(fft, levels);
    EXPECT_EQ(levels[1], 0);
}

TEST(Spectrum, HalvesRoundToEven) {
    float fft[256] = {};
    TBandOut levels{};
    fft[1] = 0.05625f; // 4.5 -> 4
    UpdateBands(fft, levels);
    EXPECT_EQ(levels[0], 4);
}

TEST(EffectFormulas, Edges) {
    EXPECT_FLOAT_EQ(EchoWetDryMix(0), 0.f);
    EXPECT_FLOAT_EQ(EchoWetDryMix(32), 38.4f);
    EXPECT_FLOAT_EQ(ReverbMixDb(32), 0.f);
    EXPECT_FLOAT_EQ(ReverbMixDb(0), -16.f);
    EXPECT_FLOAT_EQ(ClampEqGain(20.f), 15.f);
    EXPECT_FLOAT_EQ(ClampEqGain(-20.f), -15.f);
}

TEST(Flanger, SilenceStaysSilentAndImpulseComesBackAtTheTap) {
    TFlanger f;
    std::vector<int16_t> buf(2 * 2000, 0);
    f.Process(buf.data(), 2000);
    for (int16_t s : buf) EXPECT_EQ(s, 0);

    f.Reset();
    std::vector<int16_t> impulse(2 * 400, 0);
    impulse[0] = 1000;  // left
    impulse[1] = -1000; // right
    f.Process(impulse.data(), 400);
    EXPECT_EQ(impulse[0], 1000);
    // The tap reads 175 frames ahead of the write position, so the impulse written at frame 0 comes
    // back once the write position has gone round to 350 - 175.
    int echoFrame = -1;
    for (int n = 1; n < 400; ++n)
        if (impulse[2 * n] != 0) {
            echoFrame = n;
            break;
        }
    EXPECT_GE(echoFrame, 174);
    EXPECT_LE(echoFrame, 176);
    EXPECT_NEAR(impulse[2 * echoFrame] + impulse[2 * echoFrame + 2], 1000, 2);
    EXPECT_NEAR(impulse[2 * echoFrame + 1] + impulse[2 * echoFrame + 3], -1000, 2);
}

TEST(Flanger, ClampsAndPassesOtherSampleSizes) {
    TFlanger f;
    std::vector<int16_t> loud(2 * 700, 32767);
    f.Process(loud.data(), 700);
    EXPECT_EQ(loud[2 * 699], 32767);
    std::vector<int16_t> low(2 * 700, -32768);
    f.Process(low.data(), 700);
    EXPECT_EQ(low[2 * 699], -32768);

    ResetFlanger();
    std::vector<uint8_t> bytes(400, 0x80);
    int eightBit = 1;
    FlangerDSP(0, 0, bytes.data(), 400, &eightBit);
    for (uint8_t b : bytes) EXPECT_EQ(b, 0x80);
}

TEST(Flanger, SweepTurnsAtTheEnds) {
    TFlanger f;
    std::vector<int16_t> buf(2 * 100000, 0);
    f.Process(buf.data(), 100000); // 175 + 0.002 x 100000 = 375: turned at 350
    EXPECT_LT(f.Delay(), 350.f);
    EXPECT_GT(f.Delay(), 320.f);
}
