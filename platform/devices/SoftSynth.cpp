#include "platform/devices/SoftSynth.h"

#include <fluidsynth.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <vector>

#include "platform/devices/AlsaErrors.h"

namespace lumora {

namespace {

constexpr double kSynthGain = 0.8;
// Longer than the reverb's tail at FluidSynth's default room.
constexpr uint32_t kEffectTailFrames = 2 * kSoftSynthRate;

std::atomic<uint16_t> g_level{65535};

TSynthSoundOutput& SoundOutput() {
    static TSynthSoundOutput output;
    return output;
}

// FluidSynth's own remarks (a sample it could not pin in memory, a missing preset) are its business;
// only what stops it from playing is worth a line of the program's.
void LogSynthError(int, const char* message, void*) { std::fprintf(stderr, "lumora: synthesizer: %s\n", message); }

void QuietenSynthLog() {
    static std::once_flag once;
    std::call_once(once, [] {
        fluid_set_log_function(FLUID_PANIC, LogSynthError, nullptr);
        fluid_set_log_function(FLUID_ERR, LogSynthError, nullptr);
        fluid_set_log_function(FLUID_WARN, nullptr, nullptr);
        fluid_set_log_function(FLUID_INFO, nullptr, nullptr);
        fluid_set_log_function(FLUID_DBG, nullptr, nullptr);
    });
}

// One FluidSynth instance shared by the ports of a device set: the sound font is read once, at the
// first open, and the instance plays through one sound stream while any port is open.
class SoftSynthEngine {
public:
    explicit SoftSynthEngine(std::string font) : font_(std::move(font)) {}
    ~SoftSynthEngine() {
        stream_.reset(); // no render may run on a synthesizer being taken apart
        if (synth_) delete_fluid_synth(synth_);
        if (settings_) delete_fluid_settings(settings_);
    }

    int Acquire() {
        if (users_ == 0) {
            if (!SoundOutput()) return MMSYSERR_NOTENABLED;
            if (!Load()) return MMSYSERR_ERROR;
            fluid_synth_system_reset(synth_);
            FlushEffects();
            g_level = 65535;
            stream_ = SoundOutput()([this](float* frames, size_t count) {
                fluid_synth_write_float(synth_, static_cast<int>(count), frames, 0, 2, frames, 1, 2);
                // After the effects, so that a lowered level also lowers the reverb's tail.
                if (const uint16_t level = g_level.load(std::memory_order_relaxed); level != 65535) {
                    const float gain = float(level) / 65535.0f;
                    for (size_t i = 0; i < 2 * count; ++i) frames[i] *= gain;
                }
            });
            if (!stream_) return MMSYSERR_NOTENABLED;
        }
        ++users_;
        return MMSYSERR_NOERROR;
    }

    void Release() {
        if (users_ == 0 || --users_ > 0) return;
        stream_.reset();
    }

    fluid_synth_t* Synth() const { return synth_; }

private:
    // The reverb and chorus keep the tail of the last song, frozen when its stream stopped; played
    // through in silence here, it cannot ring out at the start of the next one.
    void FlushEffects() {
        std::vector<float> scratch(2 * 4096);
        for (uint32_t done = 0; done < kEffectTailFrames; done += 4096)
            fluid_synth_write_float(synth_, 4096, scratch.data(), 0, 2, scratch.data(), 1, 2);
    }

    bool Load() {
        if (synth_) return true;
        if (failed_) return false;
        QuietenSynthLog();
        settings_ = new_fluid_settings();
        if (settings_) {
            fluid_settings_setnum(settings_, "synth.sample-rate", kSoftSynthRate);
            // Pinning the samples in memory fails under the usual lock limit and buys nothing here.
            fluid_settings_setint(settings_, "synth.lock-memory", 0);
            // FluidSynth's own default (0.2) leaves a tune far below the music at the same volume.
            fluid_settings_setnum(settings_, "synth.gain", kSynthGain);
            synth_ = new_fluid_synth(settings_);
        }
        if (!synth_ || fluid_synth_sfload(synth_, font_.c_str(), 1) == FLUID_FAILED) {
            std::fprintf(stderr, "lumora: the software synthesizer cannot read its sound font %s\n", font_.c_str());
            if (synth_) delete_fluid_synth(synth_);
            if (settings_) delete_fluid_settings(settings_);
            synth_ = nullptr;
            settings_ = nullptr;
            failed_ = true;
            return false;
        }
        return true;
    }

    std::string font_;
    fluid_settings_t* settings_ = nullptr;
    fluid_synth_t* synth_ = nullptr;
    bool failed_ = false;
    int users_ = 0;
    std::unique_ptr<ISynthSoundStream> stream_;
};

class SoftSynthPort : public IMidiOutPort {
public:
    explicit SoftSynthPort(std::shared_ptr<SoftSynthEngine> engine) : engine_(std::move(engine)) {}
    ~SoftSynthPort() override { Release(); }

    int ShortMsg(uint32_t message) override {
        if (!engine_) return MMSYSERR_INVALHANDLE;
        fluid_synth_t* synth = engine_->Synth();
        const uint8_t status = message & 0xFF;
        // Data bytes are masked so that a stray high bit cannot turn into a status of its own.
        const int d1 = (message >> 8) & 0x7F, d2 = (message >> 16) & 0x7F;
        const int channel = status & 0x0F;
        switch (status & 0xF0) {
        case 0x80: fluid_synth_noteoff(synth, channel, d1); break;
        case 0x90: fluid_synth_noteon(synth, channel, d1, d2); break; // velocity 0 ends the note
        case 0xA0: fluid_synth_key_pressure(synth, channel, d1, d2); break;
        case 0xB0: fluid_synth_cc(synth, channel, d1, d2); break;
        case 0xC0: fluid_synth_program_change(synth, channel, d1); break;
        case 0xD0: fluid_synth_channel_pressure(synth, channel, d1); break;
        case 0xE0: fluid_synth_pitch_bend(synth, channel, d1 | d2 << 7); break;
        default: break; // system messages (timing, sensing) mean nothing to a synthesizer
        }
        return MMSYSERR_NOERROR;
    }

    int LongMsg(const uint8_t* data, size_t length, HWND notify, intptr_t user) override {
        if (!engine_) return MMSYSERR_INVALHANDLE;
        if (!data && length) return MMSYSERR_INVALPARAM;
        // FluidSynth takes the block without its framing bytes.
        size_t begin = length > 0 && data[0] == 0xF0 ? 1 : 0, end = length;
        if (end > begin && data[end - 1] == 0xF7) --end;
        if (end > begin)
            fluid_synth_sysex(engine_->Synth(), reinterpret_cast<const char*>(data + begin), static_cast<int>(end - begin),
                              nullptr, nullptr, nullptr, 0);
        PostMessage(notify, MOM_DONE, 0, user);
        return MMSYSERR_NOERROR;
    }

    int Close() override {
        if (!engine_) return MMSYSERR_INVALHANDLE;
        Release();
        return MMSYSERR_NOERROR;
    }

private:
    void Release() {
        if (!engine_) return;
        engine_->Release();
        engine_.reset();
    }
    std::shared_ptr<SoftSynthEngine> engine_;
};

class SoftSynthDevices : public IMidiDevices {
public:
    SoftSynthDevices(std::unique_ptr<IMidiDevices> ports, const std::string& font)
        : ports_(std::move(ports)), engine_(std::make_shared<SoftSynthEngine>(font)) {}

    int NumDevs() override { return 1 + ports_->NumDevs(); }

    int GetDevCaps(int id, TMidiOutCaps& caps) override {
        if (id != 0) return ports_->GetDevCaps(id == MIDI_MAPPER ? id : id - 1, caps);
        caps = TMidiOutCaps{};
        caps.ProductName = kSoftSynthName;
        caps.Technology = MOD_SWSYNTH;
        caps.Voices = caps.Notes = 256; // FluidSynth's polyphony
        return MMSYSERR_NOERROR;
    }

    int Open(int id, std::unique_ptr<IMidiOutPort>& port) override {
        if (id != 0 && id != MIDI_MAPPER) return ports_->Open(id - 1, port);
        if (int code = engine_->Acquire()) return code;
        port = std::make_unique<SoftSynthPort>(engine_);
        return MMSYSERR_NOERROR;
    }

private:
    std::unique_ptr<IMidiDevices> ports_;
    std::shared_ptr<SoftSynthEngine> engine_;
};

} // namespace

void SetSynthSoundOutput(TSynthSoundOutput output) { SoundOutput() = std::move(output); }
bool SynthSoundOutputConnected() { return static_cast<bool>(SoundOutput()); }

void SetSoftSynthLevel(uint16_t level) { g_level = level; }
uint16_t SoftSynthLevel() { return g_level; }

bool OpensSoftSynth(IMidiDevices& devices, int id) {
    if (id != 0 && id != MIDI_MAPPER) return false;
    // The mapper opens device 0 when that is the synthesizer (and never otherwise).
    TMidiOutCaps caps;
    return devices.GetDevCaps(0, caps) == MMSYSERR_NOERROR && caps.Technology == MOD_SWSYNTH &&
           caps.ProductName == kSoftSynthName;
}

std::vector<std::string> SoftSynthFontCandidates() {
    // LUMORA_SOUNDFONT_DIR stands in for the system's sound-font folder (tests, or a font kept
    // elsewhere).
    const char* env = std::getenv("LUMORA_SOUNDFONT_DIR");
    std::string folder = env && *env ? env : "/usr/share/sounds/sf2";
    if (folder.back() != '/') folder += '/';
    // The small font first: it loads in a blink and keeps the saver's memory low all night, where
    // the large one (default-GM usually points at it) costs 140 MB.
    return {folder + "TimGM6mb.sf2", folder + "default-GM.sf2", folder + "FluidR3_GM.sf2"};
}

std::string SoftSynthFontPath() {
    for (const std::string& path : SoftSynthFontCandidates())
        if (::access(path.c_str(), R_OK) == 0) return path;
    return "";
}

std::unique_ptr<IMidiDevices> WithSoftSynth(std::unique_ptr<IMidiDevices> ports, const std::string& font) {
    if (font.empty()) {
        // Without a synthesizer of its own MIDI can only go to the sequencer's ports, which on most
        // desktops make no sound: the user is told once what is missing and where it comes from.
        std::string looked;
        for (const std::string& path : SoftSynthFontCandidates()) looked += (looked.empty() ? "" : ", ") + path;
        TellMissingDevice("sound font", "no General MIDI sound font (looked for " + looked +
                                            "), so MIDI plays only through the sequencer's ports; the Debian "
                                            "package timgm6mb-soundfont or fluid-soundfont-gm provides one");
        return ports;
    }
    return std::make_unique<SoftSynthDevices>(std::move(ports), font);
}

} // namespace lumora
