// Mixer devices: the volume mapping, the output gain, the fake's configuration and state, and the
// ALSA mixer as far as this machine has one.
#include <memory>

#include <gtest/gtest.h>

#include "platform/devices/MixerDevices.h"
#include "platform/devices/OutputGain.h"
#include "tests/support/TempDir.h"

namespace lumora {
namespace {

using namespace lumora::test;

TEST(MixerScale, RoundTripsBothWays) {
    const std::pair<long, long> ranges[] = {{0, 1}, {0, 31}, {0, 87}, {0, 255}, {-10, 10}, {-6400, 0}, {0, 65535}, {0, 65536}};
    for (auto [lo, hi] : ranges) {
        // Every raw step reads as a value that writes back to the same step; where the range has
        // more steps than values, every value writes a step that reads back as that value.
        if (hi - lo <= 65535) {
            for (long raw = lo; raw <= hi; ++raw) {
                uint32_t v = ScaleToMixer(raw, lo, hi);
                ASSERT_LE(v, 65535u);
                ASSERT_EQ(ScaleFromMixer(v, lo, hi), raw) << lo << ".." << hi << " raw " << raw;
            }
        } else {
            for (uint32_t v = 0; v <= 65535; ++v)
                ASSERT_EQ(ScaleToMixer(ScaleFromMixer(v, lo, hi), lo, hi), v) << lo << ".." << hi << " value " << v;
        }
        EXPECT_EQ(ScaleToMixer(lo, lo, hi), 0u);
        EXPECT_EQ(ScaleToMixer(hi, lo, hi), 65535u);
        EXPECT_EQ(ScaleFromMixer(65535, lo, hi), hi);
        EXPECT_EQ(ScaleFromMixer(0, lo, hi), lo);
    }
    EXPECT_EQ(ScaleToMixer(5, 3, 3), 0u); // an empty range never divides by zero
    EXPECT_EQ(ScaleFromMixer(100, 3, 3), 3);
}

TEST(OutputGain, PackingAndMute) {
    float l, r;
    UnpackOutputGain(PackOutputGain(65535, 0, false), l, r);
    EXPECT_FLOAT_EQ(l, 1.0f);
    EXPECT_FLOAT_EQ(r, 0.0f);
    UnpackOutputGain(PackOutputGain(65535, 65535, true), l, r);
    EXPECT_FLOAT_EQ(l, 0.0f);
    SetOutputGain(1000, 2000);
    SetOutputGainMuted(true);
    EXPECT_EQ(OutputGainLeft(), 1000);
    EXPECT_EQ(OutputGainRight(), 2000);
    EXPECT_TRUE(OutputGainMuted());
    SetOutputGain(3000, 4000); // the mute stays as it was
    EXPECT_TRUE(OutputGainMuted());
    SetOutputGainMuted(false);
    EXPECT_EQ(OutputGainWord().load(), PackOutputGain(3000, 4000, false));
    SetOutputGain(65535, 65535);
}

class FakeMixer : public ::testing::Test {
protected:
    TempDir dir;
};

TEST_F(FakeMixer, DefaultDeviceLayout) {
    TFakeMixerDevices devices(dir.Path());
    ASSERT_EQ(devices.NumDevs(), 1);
    std::unique_ptr<IMixer> mixer;
    ASSERT_EQ(devices.Open(0, 0, mixer), 0);
    TMixerCaps caps = mixer->Caps();
    EXPECT_EQ(caps.ProductName, "Fake Mixer");
    ASSERT_EQ(caps.Destinations, 2u);
    TMixerLine dest, src;
    ASSERT_EQ(mixer->GetDestination(0, dest), 0);
    EXPECT_EQ(dest.ComponentType, MIXERLINE_COMPONENTTYPE_DST_SPEAKERS);
    EXPECT_EQ(dest.Connections, 4u);
    ASSERT_EQ(mixer->GetSource(0, 0, src), 0);
    EXPECT_EQ(src.Name, "PCM");
    EXPECT_EQ(src.ComponentType, MIXERLINE_COMPONENTTYPE_SRC_WAVEOUT);
    EXPECT_NE(src.LineID, dest.LineID);
    EXPECT_EQ(mixer->GetSource(0, 4, src), MIXERR_INVALLINE);
    std::vector<TMixerControl> controls;
    ASSERT_EQ(mixer->GetSource(0, 2, src), 0); // CD: a volume and no mute
    ASSERT_EQ(mixer->GetLineControls(src.LineID, controls), 0);
    ASSERT_EQ(controls.size(), 1u);
    EXPECT_EQ(controls[0].ControlType, MIXERCONTROL_CONTROLTYPE_VOLUME);
}

TEST_F(FakeMixer, ValuesChannelsListsAndNotices) {
    dir.WriteFile("devices.conf", "mixer \"M\"\n"
                                  "destination \"Out\" speakers volume=10,20 mute=1 mute-disabled\n"
                                  "source \"Mono\" synthesizer mono volume=7\n"
                                  "destination \"In\" wavein mux select=1\n"
                                  "source \"A\" line\nsource \"B\" microphone\n"
                                  "bogus line\n");
    TFakeMixerDevices devices(dir.Path());
    std::vector<std::pair<uintptr_t, intptr_t>> notices;
    TMessageTarget target([&](TMessage& m) {
        if (m.Msg == MM_MIXM_CONTROL_CHANGE) notices.push_back({m.WParam, m.LParam});
    });
    std::unique_ptr<IMixer> mixer;
    ASSERT_EQ(devices.Open(0, target.Handle(), mixer), 0);
    TMixerLine out;
    mixer->GetDestination(0, out);
    std::vector<TMixerControl> controls;
    mixer->GetLineControls(out.LineID, controls);
    ASSERT_EQ(controls.size(), 2u);
    EXPECT_TRUE(controls[1].Control & MIXERCONTROL_CONTROLF_DISABLED);
    std::vector<uint32_t> values;
    ASSERT_EQ(mixer->GetControlDetails(controls[0].ControlID, 2, 1, values), 0);
    EXPECT_EQ(values, (std::vector<uint32_t>{10, 20}));
    // One channel given sets both; values beyond the range are refused.
    ASSERT_EQ(mixer->SetControlDetails(controls[0].ControlID, 1, 1, {300}), 0);
    mixer->GetControlDetails(controls[0].ControlID, 2, 1, values);
    EXPECT_EQ(values, (std::vector<uint32_t>{300, 300}));
    EXPECT_EQ(mixer->SetControlDetails(controls[0].ControlID, 2, 1, {1, 70000}), MIXERR_INVALVALUE);
    EXPECT_EQ(mixer->GetControlDetails(999, 1, 1, values), MIXERR_INVALCONTROL);

    TMixerLine in;
    mixer->GetDestination(1, in);
    mixer->GetLineControls(in.LineID, controls);
    ASSERT_EQ(controls.size(), 1u);
    EXPECT_EQ(controls[0].ControlType, MIXERCONTROL_CONTROLTYPE_MUX);
    EXPECT_EQ(controls[0].MultipleItems, 2u);
    std::vector<TMixerListText> texts;
    ASSERT_EQ(mixer->GetControlListText(controls[0].ControlID, texts), 0);
    TMixerLine a;
    mixer->GetSource(1, 0, a);
    EXPECT_EQ(texts[0].Param1, a.LineID);
    EXPECT_EQ(texts[1].Name, "B");
    mixer->GetControlDetails(controls[0].ControlID, 1, 2, values);
    EXPECT_EQ(values, (std::vector<uint32_t>{0, 1}));
    EXPECT_EQ(mixer->SetControlDetails(controls[0].ControlID, 1, 2, {0, 0}), MIXERR_INVALVALUE);
    EXPECT_EQ(mixer->SetControlDetails(controls[0].ControlID, 1, 2, {1, 1}), MIXERR_INVALVALUE);

    Application().ProcessMessages();
    ASSERT_EQ(notices.size(), 1u) << "only the successful set is reported";
    EXPECT_EQ(notices[0].first, 0u);
    EXPECT_NE(ReadFile(dir.File("mixer.log")).find("config-ignored bogus line"), std::string::npos);
}

TEST_F(FakeMixer, FailuresAndState) {
    dir.WriteFile("devices.conf", "mixer \"M\"\ndestination \"Out\" speakers volume=10 mute=0\nfail mixer-open 1\n");
    {
        TFakeMixerDevices devices(dir.Path());
        std::unique_ptr<IMixer> mixer;
        EXPECT_EQ(devices.Open(0, 0, mixer), MIXERR_ERROR);
        ASSERT_EQ(devices.Open(0, 0, mixer), 0);
        EXPECT_EQ(devices.Open(1, 0, mixer), MIXERR_BADDEVICEID);
        std::vector<TMixerControl> controls;
        mixer->GetLineControls(0xFFFF0000u, controls);
        devices.FailNext("mixer-set", 1);
        EXPECT_EQ(mixer->SetControlDetails(controls[0].ControlID, 2, 1, {5, 6}), MIXERR_ERROR);
        EXPECT_EQ(mixer->SetControlDetails(controls[0].ControlID, 2, 1, {7, 8}), 0);
        EXPECT_EQ(mixer->SetControlDetails(controls[1].ControlID, 1, 1, {1}), 0);
    }
    // A damaged state file line is skipped; the good ones are taken.
    std::string state = ReadFile(dir.File("mixer.state"));
    dir.WriteFile("mixer.state", state + "0 \"Out\" volume 99999 99999\nnonsense\n");
    TFakeMixerDevices devices(dir.Path());
    TFakeMixerDevices::LineState s;
    ASSERT_TRUE(devices.GetLineState(0, "Out", s));
    EXPECT_EQ(s.Volume, (std::vector<uint32_t>{7, 8}));
    EXPECT_EQ(s.Mute, 1);
    std::string log = ReadFile(dir.File("mixer.log"));
    EXPECT_NE(log.find("open-failed 0"), std::string::npos);
    EXPECT_NE(log.find("set-failed 0 \"Out\" volume"), std::string::npos);
    EXPECT_NE(log.find("set 0 \"Out\" volume 7 8"), std::string::npos);
    EXPECT_NE(log.find("close 0"), std::string::npos);
}

TEST(AlsaMixer, DeviceZeroAlwaysHasAWaveOutLine) {
    auto devices = CreateAlsaMixerDevices();
    ASSERT_GE(devices->NumDevs(), 1);
    std::unique_ptr<IMixer> mixer;
    ASSERT_EQ(devices->Open(0, 0, mixer), 0);
    if (mixer->Caps().ProductName != "Software output")
        GTEST_SKIP() << "a sound system is present; its volumes are left alone";
    TMixerLine dest, wave;
    ASSERT_EQ(mixer->GetDestination(0, dest), 0);
    EXPECT_EQ(dest.ComponentType, MIXERLINE_COMPONENTTYPE_DST_SPEAKERS);
    ASSERT_EQ(mixer->GetSource(0, 0, wave), 0);
    EXPECT_EQ(wave.ComponentType, MIXERLINE_COMPONENTTYPE_SRC_WAVEOUT);
    std::vector<TMixerControl> controls;
    ASSERT_EQ(mixer->GetLineControls(wave.LineID, controls), 0);
    ASSERT_EQ(controls.size(), 2u);
    ASSERT_EQ(mixer->SetControlDetails(controls[0].ControlID, 2, 1, {12345, 54321}), 0);
    EXPECT_EQ(OutputGainLeft(), 12345);
    EXPECT_EQ(OutputGainRight(), 54321);
    std::vector<uint32_t> values;
    mixer->GetControlDetails(controls[0].ControlID, 2, 1, values);
    EXPECT_EQ(values, (std::vector<uint32_t>{12345, 54321}));
    ASSERT_EQ(mixer->SetControlDetails(controls[1].ControlID, 1, 1, {1}), 0);
    EXPECT_TRUE(OutputGainMuted());
    SetOutputGain(65535, 65535);
    SetOutputGainMuted(false);
}

} // namespace
} // namespace lumora
