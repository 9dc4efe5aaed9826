#include "audiolib/Core.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace lumora::audiolib {

namespace {
// Frames of played audio kept per channel for sample and FFT reads (enough for a 4096-point FFT).
constexpr size_t kHistoryFrames = 4096;
} // namespace

SampleFormat FormatFromFlags(DWORD flags) {
    if (flags & BASS_SAMPLE_FLOAT) return SampleFormat::F32;
    if (flags & BASS_SAMPLE_8BITS) return SampleFormat::U8;
    return SampleFormat::S16;
}

int BytesPerSample(SampleFormat f) { return f == SampleFormat::U8 ? 1 : f == SampleFormat::S16 ? 2 : 4; }

void ToFloat(SampleFormat f, const uint8_t* in, float* out, size_t samples) {
    switch (f) {
    case SampleFormat::U8:
        for (size_t i = 0; i < samples; ++i) out[i] = (static_cast<int>(in[i]) - 128) / 128.f;
        break;
    case SampleFormat::S16:
        for (size_t i = 0; i < samples; ++i) {
            int16_t v;
            std::memcpy(&v, in + i * 2, 2);
            out[i] = v / 32768.f;
        }
        break;
    case SampleFormat::F32: std::memcpy(out, in, samples * 4); break;
    }
}

void FromFloat(SampleFormat f, const float* in, uint8_t* out, size_t samples) {
    switch (f) {
    case SampleFormat::U8:
        for (size_t i = 0; i < samples; ++i) {
            long v = std::lrint(in[i] * 128.f) + 128;
            out[i] = static_cast<uint8_t>(std::clamp(v, 0L, 255L));
        }
        break;
    case SampleFormat::S16:
        for (size_t i = 0; i < samples; ++i) {
            long v = std::lrint(in[i] * 32768.f);
            int16_t s = static_cast<int16_t>(std::clamp(v, -32768L, 32767L));
            std::memcpy(out + i * 2, &s, 2);
        }
        break;
    case SampleFormat::F32: std::memcpy(out, in, samples * 4); break;
    }
}

Channel::Channel(DWORD freq, DWORD chans, DWORD flags, DWORD ctype)
    : Freq(freq), Chans(chans), Flags(flags), CType(ctype), Format(FormatFromFlags(flags)) {
    if (!Decode()) history_.assign(kHistoryFrames * chans, 0.f);
}

Channel::~Channel() = default;

bool Channel::SeekBytes(uint64_t) { return Fail(BASS_ERROR_NOTAVAIL, false); }
bool Channel::LengthBytes(uint64_t&) { return Fail(BASS_ERROR_NOTAVAIL, false); }
const char* Channel::Tags(DWORD) { return Fail<const char*>(BASS_ERROR_NOTAVAIL, nullptr); }
QWORD Channel::FilePosition(DWORD) { return Fail(BASS_ERROR_NOTFILE, ~QWORD{0}); }

void Channel::CollectSyncs(DWORD type, DWORD data, std::vector<PendingSync>& due) {
    std::lock_guard lock(SyncMutex);
    CollectSyncsLocked(type, data, due);
}

void Channel::CollectSyncsLocked(DWORD type, DWORD data, std::vector<PendingSync>& due) {
    for (auto it = Syncs.begin(); it != Syncs.end();) {
        if (it->Type == type) {
            due.push_back({it->Handle, Handle, data, it->Proc, it->User});
            if (it->OneTime) {
                it = Syncs.erase(it);
                continue;
            }
        }
        ++it;
    }
}

size_t Channel::Read(uint8_t* out, size_t bytes, std::vector<PendingSync>& due) {
    const size_t fb = FrameBytes();
    bytes -= bytes % fb;
    std::lock_guard lock(DecodeMutex);
    // The mixing thread may have picked the channel just before it was freed; once freeing has
    // returned, the caller's source and procedures may be gone.
    if (Freed) return 0;
    if (Ended) {
        if (!Decode()) State = PlayState::Stopped;
        return 0;
    }
    if (bytes == 0) return 0;
    size_t got = 0;
    bool ended = false;
    int emptyLoops = 0;
    while (got < bytes) {
        bool end = false;
        size_t n = Produce(out + got, bytes - got, end);
        n -= n % fb;
        got += n;
        if (end) {
            // A looping channel starts over and tells its end syncs each time round; an empty source
            // that cannot give anything even after starting over ends for good.
            if ((Flags & BASS_SAMPLE_LOOP) && (n > 0 || ++emptyLoops < 2)) {
                CollectSyncs(BASS_SYNC_END, 0, due);
                if (SeekBytes(0)) continue;
            }
            ended = true;
            break;
        }
        if (n == 0) break;
    }
    if (got > 0) ApplyChain(out, got);
    Position += got;
    Stalled = (got == 0 && !ended);
    if (ended) {
        Ended = true;
        if (!Decode()) State = PlayState::Stopped;
        CollectSyncs(BASS_SYNC_END, 0, due);
    }
    return got;
}

void Channel::ApplyChain(uint8_t* data, size_t bytes) {
    if (Chain.empty()) return;
    const size_t samples = bytes / static_cast<size_t>(BytesPerSample(Format));
    bool inFloat = false;
    for (auto& item : Chain) {
        if (item.Fx) {
            if (!inFloat) {
                chainScratch_.resize(samples);
                ToFloat(Format, data, chainScratch_.data(), samples);
                inFloat = true;
            }
            item.Fx->Process(chainScratch_.data(), samples / Chans);
        } else if (item.Proc) {
            if (inFloat) {
                FromFloat(Format, chainScratch_.data(), data, samples);
                inFloat = false;
            }
            item.Proc(item.Handle, Handle, data, static_cast<DWORD>(bytes), item.User);
        }
    }
    if (inFloat) FromFloat(Format, chainScratch_.data(), data, samples);
}

bool Channel::Seek(uint64_t pos) {
    pos -= pos % FrameBytes();
    std::lock_guard lock(DecodeMutex);
    uint64_t length = 0;
    if (LengthBytes(length) && pos > length) return Fail(BASS_ERROR_POSITION, false);
    if (!SeekBytes(pos)) return false;
    Position = pos;
    Ended = false;
    Stalled = false;
    ResampleIn.clear();
    ResamplePos = 0;
    return true;
}

void Channel::Restart() {
    std::lock_guard lock(DecodeMutex);
    // Files and modules start over; a user stream only forgets what it has played.
    if (!IsUserStream()) SeekBytes(0);
    Position = 0;
    Ended = false;
    Stalled = false;
    ResampleIn.clear();
    ResamplePos = 0;
    std::lock_guard h(historyMutex_);
    std::fill(history_.begin(), history_.end(), 0.f);
}

void Channel::RecordHistory(const float* data, size_t frames) {
    std::lock_guard lock(historyMutex_);
    if (history_.empty()) return;
    const size_t total = kHistoryFrames;
    if (frames > total) {
        data += (frames - total) * Chans;
        frames = total;
    }
    for (size_t f = 0; f < frames; ++f) {
        std::memcpy(&history_[historyPos_ * Chans], data + f * Chans, Chans * sizeof(float));
        historyPos_ = (historyPos_ + 1) % total;
    }
}

void Channel::RecentFrames(float* out, size_t frames) {
    std::lock_guard lock(historyMutex_);
    const size_t total = kHistoryFrames;
    size_t zeros = frames > total ? frames - total : 0;
    std::fill(out, out + zeros * Chans, 0.f);
    out += zeros * Chans;
    frames -= zeros;
    if (history_.empty()) {
        std::fill(out, out + frames * Chans, 0.f);
        return;
    }
    size_t start = (historyPos_ + total - frames) % total;
    for (size_t f = 0; f < frames; ++f)
        std::memcpy(out + f * Chans, &history_[((start + f) % total) * Chans], Chans * sizeof(float));
}

} // namespace lumora::audiolib
