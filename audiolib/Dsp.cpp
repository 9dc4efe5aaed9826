#include "audiolib/Dsp.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstring>

namespace lumora::audiolib {

namespace {
constexpr double kPi = 3.14159265358979323846;

void Fft(std::vector<std::complex<float>>& a) {
    const size_t n = a.size();
    for (size_t i = 1, j = 0; i < n; ++i) {
        size_t bit = n >> 1;
        for (; j & bit; bit >>= 1) j ^= bit;
        j ^= bit;
        if (i < j) std::swap(a[i], a[j]);
    }
    for (size_t len = 2; len <= n; len <<= 1) {
        double ang = -2 * kPi / static_cast<double>(len);
        std::complex<float> wl(static_cast<float>(std::cos(ang)), static_cast<float>(std::sin(ang)));
        for (size_t i = 0; i < n; i += len) {
            std::complex<float> w(1, 0);
            for (size_t k = 0; k < len / 2; ++k) {
                auto u = a[i + k], v = a[i + k + len / 2] * w;
                a[i + k] = u + v;
                a[i + k + len / 2] = u - v;
                w *= wl;
            }
        }
    }
}

float DbToGain(float db) { return std::pow(10.f, db / 20.f); }
} // namespace

void FftMagnitudes(const float* samples, size_t n, bool window, float* out) {
    std::vector<std::complex<float>> a(n);
    for (size_t i = 0; i < n; ++i) {
        float w = window ? static_cast<float>(0.5 - 0.5 * std::cos(2 * kPi * static_cast<double>(i) /
                                                                     static_cast<double>(n)))
                         : 1.f;
        a[i] = {samples[i] * w, 0};
    }
    Fft(a);
    // A windowed sine of amplitude A gives A * n / 4 at its bin (A * n / 2 without the window).
    float scale = (window ? 4.f : 2.f) / static_cast<float>(n);
    for (size_t i = 0; i < n / 2; ++i) out[i] = std::abs(a[i]) * scale;
}

namespace {

// One peaking band (biquad per channel, direct form I).
class ParamEq : public Effect {
public:
    ParamEq(DWORD rate, DWORD chans) : rate_(rate), state_(chans) { Update(); }
    bool SetParameters(const void* par) override {
        auto p = *static_cast<const BASS_FXPARAMEQ*>(par);
        if (!(p.fCenter >= 80 && p.fCenter <= 16000) || !(p.fBandwidth >= 1 && p.fBandwidth <= 36) ||
            !(p.fGain >= -15 && p.fGain <= 15))
            return false;
        par_ = p;
        Update();
        return true;
    }
    void GetParameters(void* par) const override { *static_cast<BASS_FXPARAMEQ*>(par) = par_; }
    void Process(float* data, size_t frames) override {
        if (par_.fGain == 0) return; // a flat band passes the signal untouched
        const size_t chans = state_.size();
        for (size_t f = 0; f < frames; ++f) {
            for (size_t c = 0; c < chans; ++c) {
                auto& s = state_[c];
                float x = data[f * chans + c];
                float y = b0_ * x + b1_ * s.x1 + b2_ * s.x2 - a1_ * s.y1 - a2_ * s.y2;
                s.x2 = s.x1;
                s.x1 = x;
                s.y2 = s.y1;
                s.y1 = y;
                data[f * chans + c] = y;
            }
        }
    }

private:
    void Update() {
        // A centre at or above the channel's upper band edge is pulled just below it.
        double f0 = std::min<double>(par_.fCenter, rate_ * 0.45);
        double a = std::pow(10.0, par_.fGain / 40.0);
        double w0 = 2 * kPi * f0 / rate_;
        double octaves = par_.fBandwidth / 12.0;
        double alpha = std::sin(w0) * std::sinh(std::log(2.0) / 2 * octaves * w0 / std::sin(w0));
        double a0 = 1 + alpha / a;
        b0_ = static_cast<float>((1 + alpha * a) / a0);
        b1_ = static_cast<float>(-2 * std::cos(w0) / a0);
        b2_ = static_cast<float>((1 - alpha * a) / a0);
        a1_ = b1_;
        a2_ = static_cast<float>((1 - alpha / a) / a0);
    }
    struct State {
        float x1 = 0, x2 = 0, y1 = 0, y2 = 0;
    };
    DWORD rate_;
    BASS_FXPARAMEQ par_{8000, 12, 0};
    std::vector<State> state_;
    float b0_ = 1, b1_ = 0, b2_ = 0, a1_ = 0, a2_ = 0;
};

class Echo : public Effect {
public:
    Echo(DWORD rate, DWORD chans) : rate_(rate), chans_(chans) {
        // Room for the longest delay allowed.
        size_t len = static_cast<size_t>(rate_) * 2 + 1;
        lines_.assign(chans_, std::vector<float>(len, 0.f));
    }
    bool SetParameters(const void* par) override {
        auto p = *static_cast<const BASS_FXECHO*>(par);
        if (!(p.fWetDryMix >= 0 && p.fWetDryMix <= 100) || !(p.fFeedback >= 0 && p.fFeedback <= 100) ||
            !(p.fLeftDelay >= 1 && p.fLeftDelay <= 2000) || !(p.fRightDelay >= 1 && p.fRightDelay <= 2000))
            return false;
        par_ = p;
        return true;
    }
    void GetParameters(void* par) const override { *static_cast<BASS_FXECHO*>(par) = par_; }
    void Process(float* data, size_t frames) override {
        const size_t len = lines_[0].size();
        const float wet = par_.fWetDryMix / 100.f, fb = par_.fFeedback / 100.f;
        size_t delay[2] = {DelayFrames(par_.fLeftDelay), DelayFrames(par_.fRightDelay)};
        for (size_t f = 0; f < frames; ++f) {
            float delayed[8] = {};
            for (size_t c = 0; c < chans_ && c < 8; ++c)
                delayed[c] = lines_[c][(pos_ + len - delay[c & 1]) % len];
            for (size_t c = 0; c < chans_; ++c) {
                float x = data[f * chans_ + c];
                float d = c < 8 ? delayed[c] : 0.f;
                // With the pan delay each repeat crosses to the other side.
                float back = (par_.lPanDelay && chans_ == 2) ? delayed[c ^ 1] : d;
                lines_[c][pos_] = x + back * fb;
                data[f * chans_ + c] = x * (1 - wet) + d * wet;
            }
            pos_ = (pos_ + 1) % len;
        }
    }

private:
    size_t DelayFrames(float ms) const {
        size_t d = static_cast<size_t>(std::lround(ms * static_cast<double>(rate_) / 1000.0));
        return d < 1 ? 1 : d >= lines_[0].size() ? lines_[0].size() - 1 : d;
    }
    DWORD rate_;
    size_t chans_;
    BASS_FXECHO par_{50, 50, 500, 500, 0};
    std::vector<std::vector<float>> lines_;
    size_t pos_ = 0;
};

// A small Schroeder reverb: four damped combs in parallel and two all-passes in series per channel,
// the comb feedback set from the reverb time and the damping from the high-frequency ratio.
class Reverb : public Effect {
public:
    Reverb(DWORD rate, DWORD chans) : rate_(rate), chans_(chans) {
        static const double combMs[4] = {29.7, 37.1, 41.1, 43.7};
        static const double allMs[2] = {5.0, 1.7};
        for (size_t c = 0; c < chans_; ++c) {
            Side s;
            for (int i = 0; i < 4; ++i) // a little spread between the sides
                s.combs[i].line.assign(Frames(combMs[i] + 0.37 * static_cast<double>(c)), 0.f);
            for (int i = 0; i < 2; ++i) s.alls[i].line.assign(Frames(allMs[i]), 0.f);
            sides_.push_back(std::move(s));
        }
        Update();
    }
    bool SetParameters(const void* par) override {
        auto p = *static_cast<const BASS_FXREVERB*>(par);
        if (!(p.fInGain >= -96 && p.fInGain <= 0) || !(p.fReverbMix >= -96 && p.fReverbMix <= 0) ||
            !(p.fReverbTime >= 0.001f && p.fReverbTime <= 3000) ||
            !(p.fHighFreqRTRatio >= 0.001f && p.fHighFreqRTRatio <= 0.999f))
            return false;
        par_ = p;
        Update();
        return true;
    }
    void GetParameters(void* par) const override { *static_cast<BASS_FXREVERB*>(par) = par_; }
    void Process(float* data, size_t frames) override {
        for (size_t f = 0; f < frames; ++f) {
            for (size_t c = 0; c < chans_; ++c) {
                float x = data[f * chans_ + c];
                float in = x * inGain_;
                auto& s = sides_[c];
                float acc = 0;
                for (int i = 0; i < 4; ++i) {
                    auto& cb = s.combs[i];
                    float y = cb.line[cb.pos];
                    cb.store = y * (1 - damp_) + cb.store * damp_;
                    cb.line[cb.pos] = in + cb.store * cb.feedback;
                    cb.pos = (cb.pos + 1) % cb.line.size();
                    acc += y;
                }
                acc *= 0.25f;
                for (auto& ap : s.alls) {
                    float b = ap.line[ap.pos];
                    float y = -acc + b;
                    ap.line[ap.pos] = acc + b * 0.5f;
                    ap.pos = (ap.pos + 1) % ap.line.size();
                    acc = y;
                }
                data[f * chans_ + c] = x + acc * mix_;
            }
        }
    }

private:
    size_t Frames(double ms) const {
        size_t n = static_cast<size_t>(ms * rate_ / 1000.0);
        return n < 1 ? 1 : n;
    }
    void Update() {
        inGain_ = DbToGain(par_.fInGain);
        mix_ = par_.fReverbMix <= -96 ? 0.f : DbToGain(par_.fReverbMix);
        // A lower high-frequency ratio damps the highs harder.
        damp_ = static_cast<float>(0.05 + 0.9 * (1.0 - par_.fHighFreqRTRatio) * 0.5);
        for (auto& s : sides_)
            for (auto& cb : s.combs) {
                double delaySec = static_cast<double>(cb.line.size()) / rate_;
                // Decay by 60 dB over the reverb time.
                cb.feedback = static_cast<float>(std::pow(10.0, -3.0 * delaySec / (par_.fReverbTime / 1000.0)));
            }
    }
    struct Comb {
        std::vector<float> line;
        size_t pos = 0;
        float store = 0, feedback = 0;
    };
    struct AllPass {
        std::vector<float> line;
        size_t pos = 0;
    };
    struct Side {
        Comb combs[4];
        AllPass alls[2];
    };
    DWORD rate_;
    size_t chans_;
    BASS_FXREVERB par_{0, 0, 1000, 0.001f};
    std::vector<Side> sides_;
    float inGain_ = 1, mix_ = 1, damp_ = 0.5f;
};

} // namespace

std::unique_ptr<Effect> CreateEffect(DWORD type, DWORD rate, DWORD chans) {
    if (rate == 0 || chans == 0) return nullptr;
    switch (type) {
    case BASS_FX_PARAMEQ: return std::make_unique<ParamEq>(rate, chans);
    case BASS_FX_ECHO: return std::make_unique<Echo>(rate, chans);
    case BASS_FX_REVERB: return std::make_unique<Reverb>(rate, chans);
    default: return nullptr;
    }
}

} // namespace lumora::audiolib
