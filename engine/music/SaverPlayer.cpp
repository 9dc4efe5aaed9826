// The program's audio player behind the music's player seam.

#include "audio/player/AudioPlayer.h"
#include "engine/music/SaverMusic.h"

namespace lumora {

namespace {

class TProgramPlayer : public ISaverPlayer {
public:
    TProgramPlayer() {
        player_.OnPlayEnd = [this](TObject*) {
            if (OnPlayEnd) OnPlayEnd();
        };
        player_.OnNewFFTData = [this](TObject*, const TBandOut& bands) {
            if (OnNewFFTData) OnNewFFTData(bands);
        };
    }
    ~TProgramPlayer() override {
        player_.OnPlayEnd = nullptr;
        player_.OnNewFFTData = nullptr;
    }

    bool Ready() const override { return !player_.BASSDLLVer().empty() && player_.Ready(); }
    bool Open(const std::string& name) override { return player_.Open(name); }
    void Play() override { player_.Play(); }
    void Stop() override { player_.Stop(); }
    void Close() override { player_.Close(); }
    bool Playing() const override { return player_.Mode() == plmPlaying; }
    int64_t GetPosition() override { return player_.GetPosition(); }
    int64_t GetPlayLength() override { return player_.GetPlayLength(); }
    uint8_t SoundEffects() const override { return player_.SoundEffects(); }
    void SetSoundEffects(uint8_t flags) override { player_.SetSoundEffects(flags); }
    void SetEQGains(const std::array<float, kEqBands>& gains) override { player_.SetEQGains(gains); }
    void SetEchoLevel(int level) override { player_.SetEchoLevel(level); }
    void SetReverbLevel(int level) override { player_.SetReverbLevel(level); }
    void SetVolume(int volume) override { player_.SetVolume(volume); }

private:
    TAudioPlayer player_;
};

} // namespace

std::unique_ptr<ISaverPlayer> MakeProgramPlayer() {
    return std::make_unique<TProgramPlayer>();
}

} // namespace lumora
