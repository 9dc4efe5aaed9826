#pragma once
// A saver window with music on virtual time: a player double that ends tracks when told, the fake
// MIDI devices and mixer logging into the test's folder, and a sound folder the test fills.

#include <QLabel>

#include <algorithm>
#include <cmath>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "audio/mixer/VolumeRoutines.h"
#include "engine/music/SaverMusic.h"
#include "engine/saver/SaverOverlays.h"
#include "platform/devices/MidiDevices.h"
#include "platform/devices/MixerDevices.h"
#include "platform/devices/SoftSynth.h"
#include "tests/engine/saver/DesktopTestSupport.h"

namespace lumora::test {

// What the player double was asked and what it reports.
struct PlayerLog {
    bool ready = true;
    std::set<std::string> refuse; // file-name parts whose Open fails
    std::set<std::string> crash;  // file-name parts whose Open throws
    std::vector<std::string> opened;
    std::vector<std::string> calls;
    int64_t position = 0;
    int64_t length = 0;
    bool playing = false;
    bool open = false;
    class FakePlayer* player = nullptr;
};

class FakePlayer : public ISaverPlayer {
public:
    explicit FakePlayer(std::shared_ptr<PlayerLog> log) : log_(std::move(log)) { log_->player = this; }
    ~FakePlayer() override { log_->player = nullptr; }
    bool Ready() const override { return log_->ready; }
    bool Open(const std::string& name) override {
        std::string part = ExtractFileName(name);
        log_->opened.push_back(part);
        if (log_->crash.count(part)) throw EReadError("cannot read " + part);
        if (log_->refuse.count(part)) return false;
        log_->open = true;
        return true;
    }
    void Play() override { log_->playing = log_->open; }
    void Stop() override {
        log_->calls.push_back("stop");
        log_->playing = false;
    }
    void Close() override {
        log_->calls.push_back("close");
        log_->playing = false;
        log_->open = false;
    }
    bool Playing() const override { return log_->playing; }
    int64_t GetPosition() override { return log_->position; }
    int64_t GetPlayLength() override { return log_->length; }
    uint8_t SoundEffects() const override { return flags_; }
    void SetSoundEffects(uint8_t flags) override {
        flags_ = flags;
        log_->calls.push_back("effects " + std::to_string(flags));
    }
    void SetEQGains(const std::array<float, kEqBands>& gains) override {
        std::string text = "eq";
        for (float g : gains)
            text += ' ' + std::to_string(static_cast<int>(g));
        log_->calls.push_back(text);
    }
    void SetEchoLevel(int level) override { log_->calls.push_back("echo " + std::to_string(level)); }
    void SetReverbLevel(int level) override { log_->calls.push_back("reverb " + std::to_string(level)); }
    void SetVolume(int volume) override { log_->calls.push_back("volume " + std::to_string(volume)); }

    // The track plays to its end.
    void End() {
        log_->playing = false;
        if (OnPlayEnd) OnPlayEnd();
    }

private:
    std::shared_ptr<PlayerLog> log_;
    uint8_t flags_ = 0;
};

inline std::string DeviceDir(const TempDir& dir) {
    std::filesystem::create_directories(dir.File("dev"));
    return dir.File("dev");
}

class MusicHarness : public SaverHarness {
public:
    MusicHarness() : midi(DeviceDir(dir)), mixer(DeviceDir(dir)) {
        SetSaverPlayerFactory([log = player] { return std::make_unique<FakePlayer>(log); });
        SetMidiDevices(&midi);
        SetMixerDevices(&mixer);
        ClearSavedMixer();
        // One picture that stands still for a minute, changed without an effect.
        PictureFolder({clRed});
        OnlyEffects({});
        Set("Setting", "Interval", "60");
        Set("Setting", "UseSound", "1");
        Set("Setting", "SoundFolder", dir.File("music"));
        Set("Setting", "SndRandom", "0");
        Set("Setting", "SndInterval", "0");
        Set("EFECT", "MidiDevice", "Fake Synthesizer");
    }
    ~MusicHarness() {
        window.reset();
        SetSaverPlayerFactory(nullptr);
        SetMidiDevices(nullptr);
        SetMixerDevices(nullptr);
        ClearSavedMixer();
    }

    TDesktopWindow& Open() { return SaverHarness::Open(MakeSaverExtras()); }

    // A track file of the given size in the sound folder.
    std::string Track(const std::string& name, size_t size = 50000) {
        return dir.WriteFile("music/" + name, std::string(size, 'x'));
    }
    TSaverMusic& Music() { return *TSaverMusic::Find(*window); }
    TSaverOverlays& Overlays() { return TSaverOverlays::Of(*window); }
    std::string Notice() { return window->Label1->isVisible() ? window->Label1->text().toStdString() : ""; }
    std::string MidiLog() { return ReadFile(dir.File("dev/midi.log")); }
    std::vector<uint32_t> Volume(const std::string& line) {
        TFakeMixerDevices::LineState state;
        if (!mixer.GetLineState(0, line, state)) return {};
        return state.Volume;
    }
    // Ends the playing track through the player.
    void EndTrack() { player->player->End(); }

    std::shared_ptr<PlayerLog> player = std::make_shared<PlayerLog>();
    TFakeMidiDevices midi;
    TFakeMixerDevices mixer;
};

// The saver with the built-in synthesizer as its MIDI device (in front of the fake ports), its sound
// output a double that renders in step with the virtual clock: 10 ms of samples after each 10 ms
// step, silence while the synthesizer is stopped. A note's place in the samples is therefore the
// virtual time it was sent, however fast the machine.
class SynthHarness : public MusicHarness {
public:
    SynthHarness() : synth(WithSoftSynth(std::make_unique<TFakeMidiDevices>(DeviceDir(dir)), SoftSynthFontPath())) {
        SetMidiDevices(synth.get());
        Set("EFECT", "MidiDevice", kSoftSynthName);
        SetSynthSoundOutput([this](TSynthRender r) -> std::unique_ptr<ISynthSoundStream> {
            render = std::move(r);
            return std::make_unique<Stream>(render);
        });
    }
    ~SynthHarness() {
        window.reset();
        SetMidiDevices(nullptr);
        SetSynthSoundOutput(nullptr); // the next MIDI output connects the real one again
    }
    void Play(uint32_t ms) {
        std::vector<float> frames(2 * kBlock);
        for (uint32_t t = 0; t < ms; t += 10) {
            Run(10);
            std::fill(frames.begin(), frames.end(), 0.f);
            if (render) render(frames.data(), kBlock);
            for (size_t i = 0; i < kBlock; ++i) left.push_back(frames[2 * i]);
        }
    }
    // Stretches of sound as (first 10 ms block, blocks): blocks louder than a tenth of the loudest.
    std::vector<std::pair<size_t, size_t>> Sounds() const {
        std::vector<double> rms;
        for (size_t b = 0; b + kBlock <= left.size(); b += kBlock) {
            double sum = 0;
            for (size_t i = b; i < b + kBlock; ++i) sum += double(left[i]) * left[i];
            rms.push_back(std::sqrt(sum / kBlock));
        }
        const double loudest = rms.empty() ? 0 : *std::max_element(rms.begin(), rms.end());
        std::vector<std::pair<size_t, size_t>> sounds;
        for (size_t b = 0; b < rms.size(); ++b) {
            if (loudest == 0 || rms[b] < loudest / 10) continue;
            if (!sounds.empty() && sounds.back().first + sounds.back().second == b)
                ++sounds.back().second;
            else
                sounds.push_back({b, 1});
        }
        return sounds;
    }
    double Rms() const {
        double sum = 0;
        for (float s : left) sum += double(s) * s;
        return left.empty() ? 0 : std::sqrt(sum / double(left.size()));
    }

    static constexpr size_t kBlock = kSoftSynthRate / 100;
    std::unique_ptr<IMidiDevices> synth;
    TSynthRender render;
    std::vector<float> left; // the left channel as rendered

private:
    struct Stream : ISynthSoundStream {
        explicit Stream(TSynthRender& r) : render(r) {}
        ~Stream() override { render = nullptr; }
        TSynthRender& render;
    };
};

// A MIDI file's variable-length number: seven bits a byte, the first bytes flagged by their top bit.
inline void AppendVariableLength(std::string& out, uint32_t v) {
    std::string bytes(1, static_cast<char>(v & 0x7F));
    while (v >>= 7)
        bytes.insert(bytes.begin(), static_cast<char>(0x80 | (v & 0x7F)));
    out += bytes;
}

// A format-0 MIDI file (960 ticks a second) that plays middle C on an organ, which holds its level
// while the key is down, for each (start, length) in seconds.
inline std::string OrganTune(const std::vector<std::pair<double, double>>& notes) {
    std::string track;
    auto vlq = [&](uint32_t v) { AppendVariableLength(track, v); };
    vlq(0);
    track += std::string("\xC0\x13", 2);
    uint32_t at = 0;
    for (auto [start, length] : notes) {
        const auto on = static_cast<uint32_t>(std::lround(start * 960)),
                   off = static_cast<uint32_t>(std::lround((start + length) * 960));
        vlq(on - at);
        track += "\x90\x3C\x64";
        vlq(off - on);
        track += std::string("\x80\x3C\x00", 3);
        at = off;
    }
    vlq(0);
    track += std::string("\xFF\x2F\x00", 3);
    auto be32 = [](uint32_t v) {
        return std::string{static_cast<char>(v >> 24), static_cast<char>(v >> 16), static_cast<char>(v >> 8),
                           static_cast<char>(v)};
    };
    return "MThd" + be32(6) + std::string("\x00\x00\x00\x01\x01\xE0", 6) + "MTrk" +
           be32(static_cast<uint32_t>(track.size())) + track;
}

// Bytes of a format-0 MIDI file with one note of the given length in ticks (480 per quarter, 120 bpm).
inline std::string OneNoteMidi(int ticks) {
    std::string track;
    auto vlq = [&](uint32_t v) { AppendVariableLength(track, v); };
    vlq(0);
    track += "\x90\x3C\x64";
    vlq(static_cast<uint32_t>(ticks));
    track += std::string("\x80\x3C\x00", 3);
    vlq(0);
    track += std::string("\xFF\x2F\x00", 3);
    auto be32 = [](uint32_t v) {
        return std::string{static_cast<char>(v >> 24), static_cast<char>(v >> 16), static_cast<char>(v >> 8),
                           static_cast<char>(v)};
    };
    std::string file = "MThd" + be32(6) + std::string("\x00\x00\x00\x01\x01\xE0", 6);
    file += "MTrk" + be32(static_cast<uint32_t>(track.size())) + track;
    return file;
}

inline std::string Le32(uint32_t v) {
    return std::string{static_cast<char>(v), static_cast<char>(v >> 8), static_cast<char>(v >> 16),
                       static_cast<char>(v >> 24)};
}
// The same song in the RIFF wrapping of ".rmi" files.
inline std::string RiffMidi(const std::string& smf) {
    std::string data = "data" + Le32(static_cast<uint32_t>(smf.size())) + smf;
    return "RIFF" + Le32(static_cast<uint32_t>(4 + data.size())) + "RMID" + data;
}

} // namespace lumora::test
