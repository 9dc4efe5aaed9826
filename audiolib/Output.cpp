#include "audiolib/Output.h"

#include <alsa/asoundlib.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <thread>

namespace lumora::audiolib {

namespace {

using SteadyClock = std::chrono::steady_clock;

// Keeps a writer to real time: each block may start only when the previous one would have played.
class Pacer {
public:
    explicit Pacer(uint32_t rate) : rate_(rate) {}
    void Wait(size_t frames) {
        auto now = SteadyClock::now();
        if (written_ == 0) start_ = now;
        auto due = start_ + std::chrono::microseconds(written_ * 1000000 / rate_);
        if (due > now) {
            std::this_thread::sleep_until(due);
        } else if (now - due > std::chrono::milliseconds(200)) {
            // Far behind (the process was stopped, or the machine is loaded): a card would have
            // underrun, so carry on from now instead of rushing to catch up.
            start_ = now;
            written_ = 0;
        }
        written_ += frames;
    }

private:
    uint32_t rate_;
    uint64_t written_ = 0;
    SteadyClock::time_point start_;
};

class NullOutput : public Output {
public:
    NullOutput(uint32_t rate, bool paced) : pacer_(rate), paced_(paced) {}
    void Write(const int16_t*, size_t count) override {
        if (paced_) pacer_.Wait(count);
    }
    void Close() override {}
    std::string Description() const override { return paced_ ? "Null output" : "Null output (unpaced)"; }
    bool Paced() const override { return paced_; }

private:
    Pacer pacer_;
    bool paced_;
};

void PutLE32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

class WavOutput : public Output {
public:
    WavOutput(FILE* f, std::string path, uint32_t rate) : file_(f), path_(std::move(path)), rate_(rate), pacer_(rate) {
        WriteHeader();
    }
    ~WavOutput() override { Close(); }
    void Write(const int16_t* frames, size_t count) override {
        pacer_.Wait(count);
        if (!file_) return;
        uint64_t bytes = count * 4;
        // The RIFF sizes are 32-bit; past that the file stops growing rather than lying about its size.
        if (dataBytes_ + bytes > 0xFFFFFFFFull - 36) return;
        if (std::fwrite(frames, 1, bytes, file_) != bytes) return;
        dataBytes_ += bytes;
        // Keep the header current about once a second so the file stays readable if we are killed.
        sinceHeader_ += count;
        if (sinceHeader_ >= rate_) {
            sinceHeader_ = 0;
            WriteHeader();
        }
    }
    void Close() override {
        if (!file_) return;
        WriteHeader();
        std::fclose(file_);
        file_ = nullptr;
    }
    std::string Description() const override { return "WAV file: " + path_; }

private:
    void WriteHeader() {
        uint8_t h[44];
        std::memcpy(h, "RIFF", 4);
        PutLE32(h + 4, static_cast<uint32_t>(36 + dataBytes_));
        std::memcpy(h + 8, "WAVEfmt ", 8);
        PutLE32(h + 16, 16);
        h[20] = 1; // PCM
        h[21] = 0;
        h[22] = 2; // stereo
        h[23] = 0;
        PutLE32(h + 24, rate_);
        PutLE32(h + 28, rate_ * 4);
        h[32] = 4;
        h[33] = 0;
        h[34] = 16;
        h[35] = 0;
        std::memcpy(h + 36, "data", 4);
        PutLE32(h + 40, static_cast<uint32_t>(dataBytes_));
        long pos = std::ftell(file_);
        std::fseek(file_, 0, SEEK_SET);
        std::fwrite(h, 1, sizeof h, file_);
        std::fseek(file_, pos < 44 ? 44 : pos, SEEK_SET);
        std::fflush(file_);
    }
    FILE* file_;
    std::string path_;
    uint32_t rate_;
    uint64_t dataBytes_ = 0;
    uint64_t sinceHeader_ = 0;
    Pacer pacer_;
};

class AlsaOutput : public Output {
public:
    AlsaOutput(snd_pcm_t* pcm, std::string device) : pcm_(pcm), device_(std::move(device)) {}
    ~AlsaOutput() override { Close(); }
    void Write(const int16_t* frames, size_t count) override {
        while (pcm_ && count > 0) {
            snd_pcm_sframes_t n = snd_pcm_writei(pcm_, frames, count);
            if (n < 0) {
                // An underrun or a suspend: recover and write the block again; give up on a dead device.
                if (snd_pcm_recover(pcm_, static_cast<int>(n), 1) < 0) {
                    std::this_thread::sleep_for(std::chrono::milliseconds(20));
                    return;
                }
                continue;
            }
            frames += n * 2;
            count -= static_cast<size_t>(n);
        }
    }
    void Close() override {
        if (!pcm_) return;
        snd_pcm_drain(pcm_);
        snd_pcm_close(pcm_);
        pcm_ = nullptr;
    }
    std::string Description() const override { return "ALSA: " + device_; }
    uint32_t LatencyMs() const override { return 100; }

private:
    snd_pcm_t* pcm_;
    std::string device_;
};

void DropAlsaError(const char*, int, const char*, int, const char*, ...) {}

} // namespace

std::unique_ptr<Output> OpenOutput(const std::string& setting, uint32_t rate, std::string& error) {
    if (setting == "null") return std::make_unique<NullOutput>(rate, true);
    if (setting == "null:fast") return std::make_unique<NullOutput>(rate, false);
    if (setting.rfind("wav:", 0) == 0) {
        std::string path = setting.substr(4);
        if (path.empty()) {
            error = "wav output needs a file name";
            return nullptr;
        }
        FILE* f = std::fopen(path.c_str(), "w+b");
        if (!f) {
            error = "cannot create " + path;
            return nullptr;
        }
        return std::make_unique<WavOutput>(f, path, rate);
    }
    std::string device = "default";
    if (setting.rfind("alsa:", 0) == 0 && setting.size() > 5) {
        device = setting.substr(5);
    } else if (!setting.empty() && setting != "alsa") {
        error = "unknown output \"" + setting + "\"";
        return nullptr;
    }
    // ALSA's own lines for a device it cannot open are held back: the caller tells the failure in
    // our words (the handler is the process's, so this holds for every ALSA user in it).
    static std::once_flag quiet;
    std::call_once(quiet, [] { snd_lib_error_set_handler(DropAlsaError); });
    snd_pcm_t* pcm = nullptr;
    int rc = snd_pcm_open(&pcm, device.c_str(), SND_PCM_STREAM_PLAYBACK, 0);
    if (rc < 0) {
        error = std::string("cannot open ALSA device ") + device + ": " + snd_strerror(rc);
        return nullptr;
    }
    rc = snd_pcm_set_params(pcm, SND_PCM_FORMAT_S16_LE, SND_PCM_ACCESS_RW_INTERLEAVED, 2, rate, 1, 100000);
    if (rc < 0) {
        error = std::string("cannot set up ALSA device ") + device + ": " + snd_strerror(rc);
        snd_pcm_close(pcm);
        return nullptr;
    }
    return std::make_unique<AlsaOutput>(pcm, device);
}

} // namespace lumora::audiolib
