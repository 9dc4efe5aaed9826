#include "audio/midi/SynthSound.h"

#include <algorithm>
#include <memory>

#include "audio/midi/MidiOut.h"
#include "audio/mixer/VolumeRoutines.h"
#include "audio/player/BassLoader.h"
#include "framework/SysUtils.h"
#include "platform/devices/SoftSynth.h"
#include "platform/system/System.h"

namespace lumora {

namespace {

// One stream of the audio library whose procedure is the synthesizer's renderer. It holds the
// library loaded (and its device started, when no player has started it yet) while it plays.
class TBassSynthStream : public ISynthSoundStream {
public:
    static std::unique_ptr<ISynthSoundStream> Start(TSynthRender render) {
        std::unique_ptr<TBassSynthStream> stream(new TBassSynthStream(std::move(render)));
        if (!stream->stream_) return nullptr;
        return stream;
    }
    ~TBassSynthStream() override {
        // Freeing waits for a render in progress on the mixing thread.
        if (stream_) BASS_StreamFree(stream_);
        if (loaded_) UnloadBassLibrary();
    }

private:
    explicit TBassSynthStream(TSynthRender render) : render_(std::move(render)) {
        loaded_ = LoadBassLibrary(IncludeTrailingPathDelimiter(ProgramFolder()) + kBassLibraryFile);
        if (!loaded_) return;
        if (!BASS_Init(-1, kSoftSynthRate, 0, nullptr, nullptr) && BASS_ErrorGetCode() != BASS_ERROR_ALREADY) return;
        stream_ = BASS_StreamCreate(kSoftSynthRate, 2, BASS_SAMPLE_FLOAT, &Render, this);
        if (stream_ && !BASS_ChannelPlay(stream_, 0)) {
            BASS_StreamFree(stream_);
            stream_ = 0;
        }
    }

    static DWORD Render(HSTREAM, void* buffer, DWORD length, void* user) {
        const DWORD frames = length / (2 * sizeof(float));
        static_cast<TBassSynthStream*>(user)->render_(static_cast<float*>(buffer), frames);
        return frames * 2 * sizeof(float);
    }

    TSynthRender render_;
    bool loaded_ = false;
    HSTREAM stream_ = 0;
};

} // namespace

void SetMidiSourceVolume(TAudioMixer& mixer, const TMidiOutput& output, int level) {
    constexpr int kWaveLine = 1, kSynthLine = 2; // SetSourceVolume's kinds
    if (OpensSoftSynth(MidiDevices(), output.DeviceID())) {
        // The wave line carries the synthesizer too: opened fully again, as at the start, so that
        // the level a wave track left on it does not scale MIDI's.
        SetSourceVolume(mixer, kWaveLine, 65535);
        SetSoftSynthLevel(static_cast<uint16_t>(std::clamp(level, 0, 65535)));
    } else {
        SetSourceVolume(mixer, kSynthLine, level);
    }
}

void ConnectSoftSynthSound() {
    if (!SynthSoundOutputConnected()) SetSynthSoundOutput(&TBassSynthStream::Start);
}

} // namespace lumora
