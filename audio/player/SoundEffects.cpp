#include "audio/player/SoundEffects.h"

#include <cmath>
#include <cstring>

namespace lumora {

void UpdateBands(const float* fft, TBandOut& levels) {
    for (int i = 0; i < 25; ++i) {
        int hi = kBandEdges[i];
        int lo = i == 0 ? 1 : kBandEdges[i - 1] + 1;
        float m = 0;
        for (int b = lo; b <= hi; ++b)
            if (fft[b] > m) m = fft[b];
        // Round half to even, then keep 16 bits, as the level is a 16-bit word.
        double scaled = std::nearbyint(static_cast<double>(m) * (i * 0.15 + 1.0) * 80.0);
        auto value = static_cast<uint16_t>(static_cast<int64_t>(scaled) & 0xFFFF);
        uint16_t& level = levels[i];
        if (level < value) level = value;
        else level = level < 2 ? 0 : static_cast<uint16_t>(level - 2);
        if (level < value) level = value;
    }
}

void TFlanger::Reset() {
    std::memset(line_, 0, sizeof line_);
    pos_ = 0;
    delay_ = 175.0f;
    step_ = 0.002f;
}

void TFlanger::Process(int16_t* s, int64_t frames) {
    for (int64_t n = 0; n < frames; ++n) {
        float rounded = std::nearbyint(delay_);
        int i0 = (pos_ + static_cast<int>(rounded)) % kLineFrames;
        if (i0 < 0) i0 += kLineFrames;
        int i1 = (i0 + 1) % kLineFrames;
        float f = delay_ - rounded;
        for (int c = 0; c < 2; ++c) {
            float delayed = (1 - f) * line_[i0][c] + f * line_[i1][c];
            int16_t in = s[2 * n + c];
            line_[pos_][c] = in;
            long out = in + std::lround(delayed);
            s[2 * n + c] = static_cast<int16_t>(out > 32767 ? 32767 : out < -32768 ? -32768 : out);
        }
        if (++pos_ == kLineFrames) pos_ = 0;
        delay_ += step_;
        if (delay_ < 0 || delay_ >= kLineFrames) step_ = -step_;
    }
}

namespace {
TFlanger& SharedFlanger() {
    static TFlanger flanger;
    return flanger;
}
} // namespace

void ResetFlanger() { SharedFlanger().Reset(); }

void FlangerDSP(uint32_t, uint32_t, void* buffer, uint32_t length, void* user) {
    int bytesPerSample = user ? *static_cast<const int*>(user) : 2;
    if (bytesPerSample != 2 || !buffer) return;
    SharedFlanger().Process(static_cast<int16_t*>(buffer), length / 4);
}

} // namespace lumora
