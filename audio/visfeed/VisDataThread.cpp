#include "audio/visfeed/VisDataThread.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "audio/player/BassLoader.h"
#include "platform/system/Clock.h"

namespace lumora {

namespace {

constexpr uint32_t kFirstDueMs = 250;
constexpr uint32_t kMinPeriodMs = 10;
// A wait this long without a signal means the timer has stopped, and the thread ends.
constexpr uint32_t kSilenceMs = 1000;

void PutDword(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
    p[2] = static_cast<uint8_t>(v >> 16);
    p[3] = static_cast<uint8_t>(v >> 24);
}

// The frame-ready flag is shared with the host process.
std::atomic_ref<uint32_t> FrameReady(uint8_t* block) {
    return std::atomic_ref<uint32_t>(*reinterpret_cast<uint32_t*>(block + voFrameReady));
}

// scale x magnitude truncated to an integer; its low byte is what the host gets. Values beyond an
// integer (or not a number) are cut to its range first instead of being undefined.
uint8_t SpectrumByte(float magnitude, int scale) {
    const double v = static_cast<double>(magnitude) * scale;
    if (!(v == v)) return 0;
    const double cut = std::clamp(v, -2147483648.0, 2147483647.0);
    return static_cast<uint8_t>(static_cast<int64_t>(cut) & 0xFF);
}

} // namespace

// ---- TVisDataThread ----

TVisDataThread::TVisDataThread() : fft_(2048), samples_(8 * kVisValues) {
    memory_.ShareName = "VisHostSharedMemory";
    memory_.Size = kVisBlockSize;
    memory_.SetTargetApplication("VisHost");
    if (memory_.Open()) {
        block_ = memory_.MapView();
        if (block_) {
            timer_ = Ipc().CreateWaitableTimer();
            ready_ = timer_ != nullptr;
        }
    }
}

TVisDataThread::~TVisDataThread() {
    terminate_ = true;
    suspended_ = false;
    if (timer_) timer_->Wake();
    if (thread_.joinable()) thread_.join();
    if (timer_) timer_->Cancel();
    timer_.reset();
    memory_.Close();
}

void TVisDataThread::SetParameters(uint32_t latencyMs, uint32_t delayMs, uint32_t spectrumChannels,
                                   uint32_t waveformChannels) {
    latency_ = latencyMs;
    delay_ = delayMs;
    spectrumChannels_ = spectrumChannels;
    waveformChannels_ = waveformChannels;
    SetPeriod(delayMs);
}

void TVisDataThread::SetPeriod(uint32_t delayMs) {
    const uint32_t value = std::max(delayMs, kMinPeriodMs);
    // A period that changes re-arms the running timer. That includes the first period a host
    // sends after the thread armed its one-shot timer: otherwise the feed would write one frame
    // and end.
    const uint32_t old = period_.exchange(value);
    if (value != old && (old != 0 || armed_)) {
        // The period is in place before the thread is told to use it.
        rearm_ = true;
        if (timer_) timer_->Wake();
    }
}

void TVisDataThread::SetPlayChannel(DWORD channel, int sampleRate, int channels) {
    play_ = channel;
    playRate_ = sampleRate;
    playChannels_ = channels;
}

void TVisDataThread::Notify(uint64_t wParam, int64_t lParam) {
    if (hostThread_ == 0) return;
    TIpcMessage m;
    m.Msg = MessageNumber();
    m.WParam = wParam;
    m.LParam = lParam;
    Ipc().PostThreadMessage(hostThread_, m);
}

void TVisDataThread::ResetAndResume() {
    skipped_ = 0;
    if (block_) FrameReady(block_).store(0);
    Resume();
}

void TVisDataThread::Suspend() {
    if (suspended_.exchange(true) || !timer_) return;
    timer_->Wake();
}

void TVisDataThread::Resume() {
    if (!ready_ || finished_) return;
    if (!started_.exchange(true)) {
        suspended_ = false;
        thread_ = std::thread([this] { Execute(); });
        return;
    }
    if (suspended_.exchange(false)) timer_->Wake();
}

void TVisDataThread::Execute() {
    if (!timer_->Set(kFirstDueMs, period_)) {
        const std::string text = std::strerror(errno);
        QueueOnMainThread([text] { MessageBox(text, "Error", TMsgIcon::Error); });
        finished_ = true;
        return;
    }
    armed_ = true;
    // A signal that comes while the thread is suspended is kept, as a signalled timer stays
    // signalled, and written as soon as the thread resumes.
    bool pending = false;
    while (!terminate_) {
        if (rearm_.exchange(false)) {
            timer_->Cancel();
            timer_->Set(kFirstDueMs, period_);
        }
        if (suspended_) {
            if (timer_->Wait(UINT32_MAX) == TWaitResult::Fired) pending = true;
            continue;
        }
        if (pending) {
            pending = false;
            WriteFrame();
            continue;
        }
        // Periods longer than the silence limit would otherwise end the thread after each frame.
        const TWaitResult r = timer_->Wait(kSilenceMs + period_);
        if (r == TWaitResult::Fired) {
            // A suspension that came while the signal did holds the frame back until the resume.
            if (suspended_) pending = true;
            else WriteFrame();
        } else if (r == TWaitResult::TimedOut) {
            break;
        }
    }
    finished_ = true;
}

void TVisDataThread::WriteFrame() {
    if (!block_ || !BASS_ChannelIsActive || !BASS_ChannelGetData) return;
    const DWORD play = play_;
    const int channels = std::max(0, playChannels_.load());
    if (BASS_ChannelIsActive(play) != BASS_ACTIVE_PLAYING) return;
    const DWORD available = BASS_ChannelGetData(play, nullptr, 0);
    if (available == ~DWORD{0} || available < static_cast<DWORD>(channels) * 2048) return;

    auto ready = FrameReady(block_);
    if (ready.load() != 0 && ++skipped_ < 10) return;
    skipped_ = 0;

    PutDword(block_ + voPlayRate, static_cast<uint32_t>(playRate_.load()));
    PutDword(block_ + voPlayChannels, static_cast<uint32_t>(std::min(channels, 2)));
    PutDword(block_ + voPosition, position_);
    uint8_t* out = block_ + voData;
    const int scale = scale_;

    const uint32_t spectrum = spectrumChannels_;
    auto mixedSpectrum = [&](int copies) {
        std::fill(fft_.begin(), fft_.end(), 0.f);
        BASS_ChannelGetData(play, fft_.data(), BASS_DATA_FFT2048);
        for (int k = 0; k < copies; ++k)
            for (int i = 1; i <= kVisValues; ++i) *out++ = SpectrumByte(fft_[i], scale);
    };
    if (spectrum == 1) {
        mixedSpectrum(1);
    } else if (spectrum >= 2) {
        if (channels == 2) {
            // Per channel, interleaved: left from the even entries, right from the odd ones.
            std::fill(fft_.begin(), fft_.end(), 0.f);
            BASS_ChannelGetData(play, fft_.data(), BASS_DATA_FFT2048 | BASS_DATA_FFT_INDIVIDUAL);
            for (int c = 0; c < 2; ++c)
                for (int i = 1; i <= kVisValues; ++i) *out++ = SpectrumByte(fft_[2 * i + c], scale);
        } else {
            mixedSpectrum(2);
        }
    }

    const uint32_t waveform = waveformChannels_;
    if (waveform > 0 && channels >= 1 && channels <= 8) {
        std::fill(samples_.begin(), samples_.end(), int16_t{0});
        BASS_ChannelGetData(play, samples_.data(), static_cast<DWORD>(channels * kVisValues * 2));
        const int blocks = waveform >= 2 ? 2 : 1;
        for (int b = 0; b < blocks; ++b) {
            // A mono channel gives its one block twice.
            const int channel = channels == 1 ? 0 : b;
            for (int i = 0; i < kVisValues; ++i)
                *out++ = static_cast<uint8_t>(static_cast<uint16_t>(samples_[i * channels + channel]) >> 8);
        }
    }

    ready.store(1);
    Notify(vnNewFrame, 0);
}

// ---- TVisFeed ----

TVisFeed::TVisFeed() {
    if (!thread_.Ready()) return;
    window_ = Ipc().CreateWindow("TAudioPlayer", "", [this](TIpcMessage& m) {
        if (m.Msg != MessageNumber() || !Deliver) return;
        // Commands point at up to four dwords; missing ones read as zero.
        if (m.Data.size() < 4) m.Data.resize(4, 0);
        TMessage message;
        message.Msg = m.Msg;
        message.WParam = static_cast<uintptr_t>(m.WParam);
        message.LParam = reinterpret_cast<intptr_t>(m.Data.data());
        Deliver(message);
    });
}

TVisFeed::~TVisFeed() { window_.reset(); }

void TVisFeed::WriteDword(int offset, uint32_t value) {
    if (thread_.Block()) PutDword(thread_.Block() + offset, value);
}

void TVisFeed::HandleCommand(uint64_t wParam, const uint32_t* data, bool playing) {
    if (!thread_.Ready() || !data) return;
    switch (wParam) {
    case vcStart:
        thread_.SetHostThreadId(data[0]);
        runValue_ = data[1];
        active_ = true;
        if (playing && thread_.Suspended()) thread_.ResetAndResume();
        break;
    case vcParameters: thread_.SetParameters(data[0], data[1], data[2], data[3]); break;
    case vcStopped:
        runValue_ = 0;
        active_ = false;
        if (!thread_.Suspended()) thread_.Suspend();
        break;
    default: break;
    }
}

void TVisFeed::TrackInfo(int sampleRate, int bitRate, int channels, int64_t durationMs, const std::string& title) {
    uint8_t* block = thread_.Block();
    if (!block) return;
    WriteDword(voSampleRate, static_cast<uint32_t>(sampleRate));
    WriteDword(voBitRate, static_cast<uint32_t>(bitRate));
    WriteDword(voChannels, static_cast<uint32_t>(channels));
    WriteDword(voDuration, static_cast<uint32_t>(std::max<int64_t>(durationMs, 0)));
    std::memset(block + voTitle, 0, 256);
    std::memcpy(block + voTitle, title.data(), std::min<size_t>(title.size(), 255));
    thread_.Notify(vnTrackInfo, 272);
}

void TVisFeed::SyncFlag(bool sync) {
    if (!thread_.Block()) return;
    WriteDword(voSync, sync ? 1 : 0);
    thread_.Notify(vnSync, 4);
}

void TVisFeed::ModeChanged(int newMode, bool playing) {
    if (!thread_.Ready()) return;
    if (!playing && !thread_.Suspended()) thread_.Suspend();
    if (!active_) return;
    WriteDword(voMode, static_cast<uint32_t>(newMode));
    thread_.Notify(vnMode, 4);
    if (playing) thread_.ResetAndResume();
}

void TVisFeed::Shutdown(uint32_t limitMs) {
    if (!active_) return;
    active_ = false;
    if (!thread_.Suspended()) thread_.Suspend();
    // The host answers with its stopped command; a host that never does is not waited for forever.
    const uint32_t start = timeGetTime();
    while (runValue_ != 0 && timeGetTime() - start < limitMs) {
        Application().ProcessMessages();
        if (runValue_ == 0) break;
        Sleep(20);
    }
}

} // namespace lumora
