#include "audiolib/Decoder.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
}

#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <mutex>

namespace lumora::audiolib {

namespace {

constexpr int kIoBufferSize = 32768;
// Consecutive undecodable packets after which a stream counts as ended rather than damaged here.
constexpr int kMaxBadPackets = 1000;
// The most frames of silence that make up for a decode ending short of the stream's stated end (the
// half of a Vorbis block that FFmpeg's decoder leaves out at the very end); a decode that ends
// further back ends the stream there.
constexpr uint64_t kMaxEndPadFrames = 4096;
// How many times the usual run-up a seek decodes before a packet that decodes to nothing, when
// the target lies a few frames after it.
constexpr int64_t kLostLead = 4;

AVSampleFormat AvFormat(SampleFormat f) {
    switch (f) {
    case SampleFormat::U8: return AV_SAMPLE_FMT_U8;
    case SampleFormat::F32: return AV_SAMPLE_FMT_FLT;
    default: return AV_SAMPLE_FMT_S16;
    }
}

int IoRead(void* opaque, uint8_t* buf, int size) {
    auto* src = static_cast<ByteSource*>(opaque);
    int n = src->Read(buf, size);
    if (n == 0) return AVERROR_EOF;
    if (n < 0) return AVERROR(EIO);
    return n;
}

int64_t IoSeek(void* opaque, int64_t offset, int whence) {
    auto* src = static_cast<ByteSource*>(opaque);
    whence &= ~AVSEEK_FORCE;
    if (whence == AVSEEK_SIZE) return src->Size ? src->Size() : -1;
    if (!src->Seek) return -1;
    if (whence == SEEK_END) {
        int64_t size = src->Size ? src->Size() : -1;
        if (size < 0) return -1;
        offset += size;
    } else if (whence != SEEK_SET) {
        return -1;
    }
    return src->Seek(offset);
}

void QuietFfmpegOnce() {
    static std::once_flag once;
    std::call_once(once, [] { av_log_set_level(AV_LOG_QUIET); });
}

// Whether the bytes begin with a header the MPEG audio decoder takes (it gives nothing for a packet
// that does not).
bool IsMpegAudioHeader(const uint8_t* data, int size) {
    if (!data || size < 4) return false;
    const uint32_t h =
        (uint32_t{data[0]} << 24) | (uint32_t{data[1]} << 16) | (uint32_t{data[2]} << 8) | data[3];
    return (h & 0xFFE00000u) == 0xFFE00000u && ((h >> 19) & 3) != 1 && ((h >> 17) & 3) != 0 &&
           ((h >> 12) & 15) != 15 && ((h >> 10) & 3) != 3;
}

// Whether the side information of the MPEG layer III frame at `frame` (`size` bytes of it at hand)
// is one the decoder takes: it gives nothing for a frame whose granules claim more than 576 values
// below the count-one region, or switch their windows to a block type of 0 (damage, mostly).
bool SideInfoDecodes(const uint8_t* frame, int64_t size) {
    const bool mpeg1 = ((frame[1] >> 3) & 3) == 3, mono = (frame[3] >> 6) == 3, crc = !(frame[1] & 1);
    const int64_t sideBytes = mpeg1 ? (mono ? 17 : 32) : (mono ? 9 : 17);
    int64_t bit = (4 + (crc ? 2 : 0)) * 8;
    if (bit / 8 + sideBytes > size) return true; // the rest is not at hand: the decoder sees to it
    auto bits = [&](int n) {
        uint32_t v = 0;
        for (int i = 0; i < n; ++i, ++bit) v = (v << 1) | ((frame[bit >> 3] >> (7 - (bit & 7))) & 1);
        return v;
    };
    const int chans = mono ? 1 : 2;
    bit += mpeg1 ? 9 + (mono ? 5 : 3) + 4 * chans : 8 + (mono ? 1 : 2); // reservoir start, private bits, scfsi
    for (int gr = 0; gr < (mpeg1 ? 2 : 1); ++gr) {
        for (int ch = 0; ch < chans; ++ch) {
            bit += 12; // part2_3_length
            if (bits(9) > 288) return false;
            bit += 8 + (mpeg1 ? 4 : 9); // global gain, scale factor compression
            if (bits(1)) {
                if (bits(2) == 0) return false;
                bit += 1 + 2 * 5 + 3 * 3;
            } else {
                bit += 3 * 5 + 4 + 3;
            }
            bit += mpeg1 ? 3 : 2;
        }
    }
    return true;
}

DWORD CTypeFor(AVCodecID id, const char* container) {
    std::string c = container ? container : "";
    switch (id) {
    case AV_CODEC_ID_MP3: return BASS_CTYPE_STREAM_MP3;
    case AV_CODEC_ID_MP2: return BASS_CTYPE_STREAM_MP2;
    case AV_CODEC_ID_MP1: return BASS_CTYPE_STREAM_MP1;
    case AV_CODEC_ID_VORBIS: return BASS_CTYPE_STREAM_OGG;
    case AV_CODEC_ID_WMAV1:
    case AV_CODEC_ID_WMAV2:
    case AV_CODEC_ID_WMAPRO:
    case AV_CODEC_ID_WMALOSSLESS: return BASS_CTYPE_STREAM_WMA;
    default: break;
    }
    if (c.find("aiff") != std::string::npos) return BASS_CTYPE_STREAM_AIFF;
    if (c.find("wav") != std::string::npos) return BASS_CTYPE_STREAM_WAV;
    if (c.find("ogg") != std::string::npos) return BASS_CTYPE_STREAM_OGG;
    return BASS_CTYPE_STREAM;
}

} // namespace

Decoder::~Decoder() { Close(); }

void Decoder::Close() {
    swr_free(&linkSwr_);
    part_.reset();
    swr_free(&swr_);
    avcodec_free_context(&dec_);
    avformat_close_input(&fmt_);
    if (io_) {
        av_freep(&io_->buffer);
        avio_context_free(&io_);
    }
    av_packet_free(&pkt_);
    av_frame_free(&frame_);
}

std::unique_ptr<Decoder> Decoder::Open(const std::string& path, std::unique_ptr<ByteSource> source,
                                       SampleFormat format, int& error, bool exactLength) {
    QuietFfmpegOnce();
    std::unique_ptr<Decoder> d(new Decoder);
    d->path_ = path;
    d->source_ = std::move(source);
    d->format_ = format;
    d->atHand_ = exactLength;
    if (!d->Init(error)) return nullptr;
    const AVCodecID codec = d->dec_->codec_id;
    if (d->endsAtLength_ && !d->OpenChain() && !d->dec_) {
        error = BASS_ERROR_FILEOPEN;
        return nullptr;
    }
    // MPEG audio containers count the encoder's delay and padding that the decode trims; ASF counts
    // every packet's time while the WMA decode gives a frame less than it takes in.
    // A WAV file's sample count (its fact chunk, or the data size over the byte rate) leaves out
    // the padding of the last ADPCM block, which decodes all the same.
    const bool containerLengthOff = codec == AV_CODEC_ID_MP3 || codec == AV_CODEC_ID_MP2 ||
                                    codec == AV_CODEC_ID_MP1 || codec == AV_CODEC_ID_WMAV1 ||
                                    codec == AV_CODEC_ID_WMAV2 || d->blockFrames_ > 0;
    if (exactLength && containerLengthOff && (!d->source_ || d->source_->Seek)) {
        if (codec == AV_CODEC_ID_MP3 || codec == AV_CODEC_ID_MP2 || codec == AV_CODEC_ID_MP1)
            d->FindUndecodablePackets();
        d->MeasureLength();
    }
    // Reading the file over again failed (its bytes went away: a stream from the net that is freed
    // while it is measured).
    if (!d->dec_) {
        error = BASS_ERROR_FILEOPEN;
        return nullptr;
    }
    return d;
}

void Decoder::FindUndecodablePackets() {
    // Bytes between two frames (damage, or a tag in the middle of the stream) make the reader give a
    // packet that does not start with a frame header, a false header among them makes it give a
    // frame that is none, and a damaged frame can start as a frame does: the decoder gives nothing
    // for such a packet (or, for a false frame of another rate, fewer frames than its time), and the
    // decode from the start runs short of the timestamps that follow. Decoding the stream finds
    // every such place; a stream whose frames follow each other unbroken and whole, as most do, has
    // none, and the frame headers alone tell that in a fraction of the time.
    lost_.clear();
    int64_t firstPos = -1;
    while (firstPos < 0 && av_read_frame(fmt_, pkt_) >= 0) {
        if (pkt_->stream_index == stream_ && pkt_->pos >= 0) firstPos = pkt_->pos;
        av_packet_unref(pkt_);
    }
    const bool unbroken = firstPos >= 0 && FramesFollowOn(firstPos);
    if (!Reopen() || unbroken) return;
    // The decode from the start, as Read gives it, against the timestamps: where a frame's place by
    // its timestamp lies past the frames given before it, packets went by that gave less than their
    // time (nothing, or a false frame of another rate converted to the stream's).
    std::vector<LostPacket> lost;
    const size_t frameBytes = chans_ * static_cast<size_t>(BytesPerSample(format_));
    int64_t given = 0, behind = 0;
    while (DecodeMore()) {
        const int64_t got = static_cast<int64_t>((pending_.size() - pendingPos_) / frameBytes);
        pending_.clear();
        pendingPos_ = 0;
        if (lastKnown_ && lastAt_ != given + behind) {
            const int64_t frames = lastAt_ - given - behind;
            lost.push_back({lastAt_ + startStamp_ - std::max<int64_t>(frames, 0), frames});
            behind += frames;
        }
        given += got;
    }
    lost_ = std::move(lost);
    Reopen();
}

bool Decoder::FramesFollowOn(int64_t pos) {
    // A file is read through a reader of its own: the demuxer's may have been set up for small reads.
    AVIOContext* own = nullptr;
    if (!source_ && avio_open2(&own, path_.c_str(), AVIO_FLAG_READ, nullptr, nullptr) < 0) return false;
    std::unique_ptr<AVIOContext*, void (*)(AVIOContext**)> closeOwn(&own,
                                                                    [](AVIOContext** c) { avio_closep(c); });
    AVIOContext* pb = own ? own : fmt_->pb;
    const int64_t size = pb ? avio_size(pb) : -1;
    if (size <= 0) return false;
    static const int kRates[3] = {44100, 48000, 32000}; // MPEG-1; halved for MPEG-2, quartered for 2.5
    static const int kKbps[5][15] = {
        {0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448}, // MPEG-1 layer I
        {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384},    // MPEG-1 layer II
        {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320},     // MPEG-1 layer III
        {0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256},    // MPEG-2 layer I
        {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160}};        // MPEG-2 layers II, III
    // The file is read in large blocks: a seek to every frame costs several times as much.
    std::vector<uint8_t> block(1 << 16);
    int64_t blockStart = 0, blockEnd = 0;
    uint8_t h[4] = {};
    // The header, its check word and the layer III side information, at their longest.
    constexpr int64_t kLook = 4 + 2 + 32;
    while (pos + 4 <= size) {
        const int64_t look = std::min(kLook, size - pos);
        if (pos < blockStart || pos + look > blockEnd) {
            if (avio_seek(pb, pos, SEEK_SET) != pos) return false;
            const int got = avio_read(pb, block.data(), static_cast<int>(block.size()));
            if (got < look) return false;
            blockStart = pos;
            blockEnd = pos + got;
        }
        const uint8_t* frame = block.data() + (pos - blockStart);
        std::memcpy(h, frame, 4);
        if (!IsMpegAudioHeader(h, 4)) break;
        const int version = (h[1] >> 3) & 3, layer = 4 - ((h[1] >> 1) & 3), padding = (h[2] >> 1) & 1;
        const bool mpeg1 = version == 3;
        const int kbps = kKbps[mpeg1 ? layer - 1 : (layer == 1 ? 3 : 4)][h[2] >> 4];
        if (kbps == 0) return false; // free format: the size is not in the header
        const int rate = kRates[(h[2] >> 2) & 3] >> (mpeg1 ? 0 : version == 2 ? 1 : 2);
        const int64_t frameBytes = layer == 1 ? (12000 * kbps / rate + padding) * 4
                                              : (layer == 3 && !mpeg1 ? 72000 : 144000) * kbps / rate + padding;
        // A frame cut short by the end of the file is decoded as far as it goes.
        if (layer == 3 && pos + frameBytes <= size && !SideInfoDecodes(frame, look)) return false;
        pos += frameBytes;
    }
    // The last frame may be cut short; an ID3v1 tag may follow it.
    return pos >= size || (size - pos == 128 && std::memcmp(h, "TAG", 3) == 0);
}

int64_t Decoder::LostBeforeStamp(int64_t at) const {
    int64_t lost = 0;
    for (const LostPacket& p : lost_) {
        if (p.At >= at) break;
        lost += p.Frames;
    }
    return lost;
}

int64_t Decoder::LostBeforeFrame(int64_t frame) const {
    int64_t lost = 0;
    for (const LostPacket& p : lost_) {
        if (p.At - startStamp_ - lost > frame) break;
        lost += p.Frames;
    }
    return lost;
}

void Decoder::MeasureLength() {
    // Decoding the last two seconds (from the start when the container's length overshoots) gives
    // the frame where the decode ends.
    const uint64_t tail = 2 * static_cast<uint64_t>(rate_);
    uint64_t from = lengthFrames_ > tail ? lengthFrames_ - tail : 0;
    const size_t frameBytes = chans_ * static_cast<size_t>(BytesPerSample(format_));
    std::vector<uint8_t> scratch(frameBytes * 4096);
    auto framesToEnd = [&] {
        uint64_t frames = 0;
        bool ended = false;
        while (!ended) {
            size_t n = Read(scratch.data(), scratch.size(), ended);
            if (n == 0) break;
            frames += n / frameBytes;
        }
        return frames;
    };
    if (!SeekFrame(from)) return;
    uint64_t frames = framesToEnd();
    if (frames == 0 && from > 0) {
        from = 0;
        if (!SeekFrame(0)) return;
        frames = framesToEnd();
    }
    if (from + frames > 0) measuredFrames_ = from + frames;
    SeekFrame(0);
    if (measuredFrames_) lengthFrames_ = measuredFrames_;
}

bool Decoder::Init(int& error) {
    pkt_ = av_packet_alloc();
    frame_ = av_frame_alloc();
    if (!pkt_ || !frame_) {
        error = BASS_ERROR_MEM;
        return false;
    }
    if (source_) {
        auto* buffer = static_cast<uint8_t*>(av_malloc(kIoBufferSize));
        io_ = buffer ? avio_alloc_context(buffer, kIoBufferSize, 0, source_.get(), IoRead, nullptr,
                                          source_->Seek ? IoSeek : nullptr)
                     : nullptr;
        if (!io_) {
            av_free(buffer);
            error = BASS_ERROR_MEM;
            return false;
        }
        if (!source_->Seek) io_->seekable = 0;
        fmt_ = avformat_alloc_context();
        if (!fmt_) {
            error = BASS_ERROR_MEM;
            return false;
        }
        fmt_->pb = io_;
        fmt_->flags |= AVFMT_FLAG_CUSTOM_IO;
        // A stream from the net must start playing after a little of it has arrived, not after the
        // seconds of it that FFmpeg would otherwise look at first.
        fmt_->probesize = 32768;
        fmt_->max_analyze_duration = AV_TIME_BASE / 4;
    }
    if (avformat_open_input(&fmt_, source_ ? nullptr : path_.c_str(), nullptr, nullptr) < 0) {
        fmt_ = nullptr; // freed by the failed open
        error = source_ ? BASS_ERROR_FILEFORM : (access(path_.c_str(), R_OK) == 0 ? BASS_ERROR_FILEFORM
                                                                                  : BASS_ERROR_FILEOPEN);
        return false;
    }
    // The WAV reader leaves the file at the start of the samples.
    const int64_t headerEnd = fmt_->pb ? avio_tell(fmt_->pb) : -1;
    // A stream from the net whose header already says everything starts at once; reading ahead to
    // learn more would hold it up by seconds at a radio station's rate.
    bool known = false;
    if (source_) {
        for (unsigned i = 0; i < fmt_->nb_streams; ++i) {
            const AVCodecParameters* p = fmt_->streams[i]->codecpar;
            if (p->codec_type == AVMEDIA_TYPE_AUDIO && p->codec_id != AV_CODEC_ID_NONE && p->sample_rate > 0 &&
                p->ch_layout.nb_channels > 0)
                known = true;
        }
    }
    if (!known && avformat_find_stream_info(fmt_, nullptr) < 0) {
        error = BASS_ERROR_FILEFORM;
        return false;
    }
    const AVCodec* codec = nullptr;
    stream_ = av_find_best_stream(fmt_, AVMEDIA_TYPE_AUDIO, -1, -1, &codec, 0);
    if (stream_ < 0 || !codec) {
        error = stream_ == AVERROR_DECODER_NOT_FOUND ? BASS_ERROR_CODEC : BASS_ERROR_FILEFORM;
        return false;
    }
    // Pictures and other streams (cover art in MP3 files) are never read.
    for (unsigned i = 0; i < fmt_->nb_streams; ++i)
        if (static_cast<int>(i) != stream_) fmt_->streams[i]->discard = AVDISCARD_ALL;
    AVStream* st = fmt_->streams[stream_];
    dec_ = avcodec_alloc_context3(codec);
    if (!dec_ || avcodec_parameters_to_context(dec_, st->codecpar) < 0) {
        error = BASS_ERROR_MEM;
        return false;
    }
    dec_->pkt_timebase = st->time_base;
    if (avcodec_open2(dec_, codec, nullptr) < 0) {
        error = BASS_ERROR_CODEC;
        return false;
    }
    int chans = dec_->ch_layout.nb_channels;
    if (chans <= 0 || chans > 32 || dec_->sample_rate <= 0 || dec_->sample_rate > 384000) {
        error = BASS_ERROR_FORMAT;
        return false;
    }
    rate_ = static_cast<DWORD>(dec_->sample_rate);
    chans_ = static_cast<DWORD>(chans);
    ctype_ = CTypeFor(codec->id, fmt_->iformat ? fmt_->iformat->name : nullptr);
    int bits = st->codecpar->bits_per_raw_sample ? st->codecpar->bits_per_raw_sample
                                                 : st->codecpar->bits_per_coded_sample;
    origRes_ = bits > 0 && bits <= 64 ? static_cast<DWORD>(bits) : 0;
    // WMA (versions 1 and 2) decodes in frames of one length, fixed by the rate and version, so
    // every position is a multiple of it; its packet times in milliseconds only come near one.
    grid_ = 0;
    const bool coarseStamps = static_cast<int64_t>(st->time_base.num) * dec_->sample_rate > st->time_base.den;
    if (coarseStamps && (codec->id == AV_CODEC_ID_WMAV1 || codec->id == AV_CODEC_ID_WMAV2)) {
        const int rate = dec_->sample_rate;
        grid_ = rate <= 16000                                                        ? 512
                : rate <= 22050 || (rate <= 32000 && codec->id == AV_CODEC_ID_WMAV1) ? 1024
                                                                                     : 2048;
    }
    // ADPCM in WAV comes in blocks of one size that each decode on their own (every block starts
    // with the decoder's state), so a block's place in the file tells exactly where its samples
    // are; the reader's timestamps come from the byte rate, which misses that by a frame or two.
    blockFrames_ = 0;
    if ((codec->id == AV_CODEC_ID_ADPCM_IMA_WAV || codec->id == AV_CODEC_ID_ADPCM_MS) && fmt_->iformat &&
        std::strcmp(fmt_->iformat->name, "wav") == 0 && st->codecpar->block_align > 0 && headerEnd >= 0) {
        const int frames = av_get_audio_frame_duration2(st->codecpar, st->codecpar->block_align);
        if (frames > 0) {
            blockFrames_ = frames;
            blockBytes_ = st->codecpar->block_align;
            dataStart_ = headerEnd;
        }
    }
    // The last page of an Ogg Vorbis stream gives where the stream ends (its granule position), and
    // FFmpeg does not always cut the decode there: not when that page is also the first one, and
    // when the page says more than the decoder gives, the decode falls short of it.
    // Only a whole file at hand tells that page.
    endsAtLength_ = atHand_ && codec->id == AV_CODEC_ID_VORBIS && fmt_->iformat &&
                    std::strcmp(fmt_->iformat->name, "ogg") == 0;
    nextFrame_ = 0;
    atStart_ = true;
    if (measuredFrames_ > 0) {
        lengthFrames_ = measuredFrames_;
    } else if (st->duration != AV_NOPTS_VALUE && st->duration > 0) {
        lengthFrames_ = static_cast<uint64_t>(av_rescale_q(st->duration, st->time_base, AVRational{1, dec_->sample_rate}));
    } else if (fmt_->duration != AV_NOPTS_VALUE && fmt_->duration > 0) {
        lengthFrames_ = static_cast<uint64_t>(av_rescale(fmt_->duration, dec_->sample_rate, AV_TIME_BASE));
    }
    return true;
}

std::string Decoder::MetadataList() const {
    std::string list;
    std::vector<std::string> seen;
    auto add = [&](AVDictionary* dict) {
        const AVDictionaryEntry* e = nullptr;
        while ((e = av_dict_get(dict, "", e, AV_DICT_IGNORE_SUFFIX))) {
            std::string item = std::string(e->key) + "=" + e->value;
            if (std::find(seen.begin(), seen.end(), item) != seen.end()) continue;
            seen.push_back(item);
            list += item;
            list.push_back('\0');
        }
    };
    if (fmt_) {
        add(fmt_->metadata);
        add(fmt_->streams[stream_]->metadata);
    }
    return list;
}

int64_t Decoder::FilePos() const {
    if (!links_.empty()) {
        const int64_t pos = part_ ? part_->FilePos() : -1;
        return pos >= 0 ? links_[link_].Begin + pos : -1;
    }
    return fmt_ && fmt_->pb ? avio_tell(fmt_->pb) : -1;
}

void Decoder::ConvertFrame() {
    AVChannelLayout outLayout{};
    av_channel_layout_default(&outLayout, static_cast<int>(chans_));
    if (!swr_) {
        AVChannelLayout inLayout{};
        if (frame_->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC || frame_->ch_layout.nb_channels <= 0)
            av_channel_layout_default(&inLayout, frame_->ch_layout.nb_channels > 0 ? frame_->ch_layout.nb_channels
                                                                                    : static_cast<int>(chans_));
        else
            av_channel_layout_copy(&inLayout, &frame_->ch_layout);
        // The input layout is kept as the stream gives it: with the same channel count the
        // conversion only reorders nothing and changes the sample format.
        if (inLayout.nb_channels == static_cast<int>(chans_)) av_channel_layout_copy(&outLayout, &inLayout);
        int rc = swr_alloc_set_opts2(&swr_, &outLayout, AvFormat(format_), static_cast<int>(rate_), &inLayout,
                                     static_cast<AVSampleFormat>(frame_->format), frame_->sample_rate, 0, nullptr);
        av_channel_layout_uninit(&inLayout);
        swrInFormat_ = frame_->format;
        swrInRate_ = frame_->sample_rate;
        swrInChans_ = frame_->ch_layout.nb_channels;
        if (rc < 0 || swr_init(swr_) < 0) {
            swr_free(&swr_);
            av_channel_layout_uninit(&outLayout);
            return;
        }
    }
    av_channel_layout_uninit(&outLayout);
    int outMax = swr_get_out_samples(swr_, frame_->nb_samples);
    if (outMax <= 0) return;
    const size_t frameBytes = chans_ * static_cast<size_t>(BytesPerSample(format_));
    // Keep the unread part at the front, then append.
    pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(pendingPos_));
    pendingPos_ = 0;
    size_t old = pending_.size();
    pending_.resize(old + static_cast<size_t>(outMax) * frameBytes);
    uint8_t* outPtr = pending_.data() + old;
    int got = swr_convert(swr_, &outPtr, outMax, const_cast<const uint8_t**>(frame_->extended_data),
                          frame_->nb_samples);
    if (got < 0) got = 0;
    pending_.resize(old + static_cast<size_t>(got) * frameBytes);
    // Frames before a seek target are dropped so the position is exact.
    if (discard_ > 0) {
        size_t drop = std::min<size_t>(static_cast<size_t>(discard_), static_cast<size_t>(got));
        pending_.erase(pending_.begin() + static_cast<std::ptrdiff_t>(old),
                       pending_.begin() + static_cast<std::ptrdiff_t>(old + drop * frameBytes));
        discard_ -= static_cast<int64_t>(drop);
    }
}

bool Decoder::DecodeMore() {
    if (!dec_) return false;
    int bad = 0;
    while (true) {
        int rc = avcodec_receive_frame(dec_, frame_);
        if (rc == 0) {
            // The first frame after a seek tells how far before the target the stream landed. A frame
            // after a format change gets a new converter.
            if (swr_ && (frame_->format != swrInFormat_ || frame_->sample_rate != swrInRate_ ||
                         frame_->ch_layout.nb_channels != swrInChans_))
                swr_free(&swr_);
            if (atStart_) {
                atStart_ = false;
                firstPage_ = frame_->pkt_pos;
                if (!startStampKnown_) {
                    int64_t at = 0;
                    startStamp_ = FramePosition(at) ? at : 0;
                    startStampKnown_ = true;
                }
            }
            lastKnown_ = FramePosition(lastAt_);
            lastPage_ = frame_->pkt_pos;
            if (seekTarget_ >= 0) {
                int64_t at = 0;
                if (FramePosition(at)) discard_ = std::max<int64_t>(0, seekTarget_ - at);
                seekTarget_ = -1;
            }
            ConvertFrame();
            av_frame_unref(frame_);
            return true;
        }
        if (rc == AVERROR_EOF) return false;
        if (rc != AVERROR(EAGAIN)) {
            if (++bad > kMaxBadPackets) return false;
            continue;
        }
        if (inputDone_) return false;
        rc = av_read_frame(fmt_, pkt_);
        if (rc < 0) {
            inputDone_ = true;
            avcodec_send_packet(dec_, nullptr); // drain what the decoder holds
            continue;
        }
        if (pkt_->stream_index == stream_) {
            if (avcodec_send_packet(dec_, pkt_) < 0 && ++bad > kMaxBadPackets) {
                av_packet_unref(pkt_);
                return false;
            }
        }
        av_packet_unref(pkt_);
    }
}

size_t Decoder::Read(uint8_t* out, size_t bytes, bool& ended) {
    if (!links_.empty()) return ReadChain(out, bytes, ended);
    const size_t frameBytes = chans_ * static_cast<size_t>(BytesPerSample(format_));
    bytes -= bytes % frameBytes;
    // A stream that ends where its container says ends there whatever the decoder gives.
    const bool toLength = endsAtLength_ && nextFrame_ >= 0 && lengthFrames_ > 0;
    const uint64_t left = !toLength ? UINT64_MAX
                          : lengthFrames_ > static_cast<uint64_t>(nextFrame_)
                              ? lengthFrames_ - static_cast<uint64_t>(nextFrame_)
                              : 0;
    if (left < bytes / frameBytes) bytes = static_cast<size_t>(left) * frameBytes;
    size_t got = 0;
    while (got < bytes) {
        size_t avail = pending_.size() - pendingPos_;
        if (avail == 0) {
            if (ended_ || !DecodeMore()) {
                ended_ = true;
                // The decode stopped a little short of the stated end: the frames it leaves out
                // are silence, so the stream's length and every place in it stay as stated.
                if (toLength && left - got / frameBytes <= kMaxEndPadFrames) {
                    std::memset(out + got, 0, bytes - got);
                    got = bytes;
                }
                break;
            }
            continue;
        }
        size_t n = std::min(avail, bytes - got);
        std::memcpy(out + got, pending_.data() + pendingPos_, n);
        pendingPos_ += n;
        got += n;
    }
    ended = (toLength && got / frameBytes == left) || (ended_ && pending_.size() == pendingPos_);
    if (nextFrame_ >= 0) nextFrame_ += static_cast<int64_t>(got / frameBytes);
    return got;
}

bool Decoder::Reopen() {
    Close();
    int error = 0;
    if ((source_ && (!source_->Seek || source_->Seek(0) != 0)) || !Init(error)) {
        // Nothing is left half open: every later call finds no decoder and fails or ends.
        Close();
        return false;
    }
    return true;
}

bool Decoder::FramePosition(int64_t& at) {
    const int64_t pts = frame_->best_effort_timestamp;
    if (pts == AV_NOPTS_VALUE) return false;
    const AVStream* st = fmt_->streams[stream_];
    const int64_t start = st->start_time != AV_NOPTS_VALUE ? st->start_time : 0;
    at = av_rescale_q(pts - start, st->time_base, AVRational{1, static_cast<int>(rate_)});
    at -= LostBeforeStamp(at);
    if (startStampKnown_) at -= startStamp_;
    if (grid_ > 0) at = (at >= 0 ? at + grid_ / 2 : at - grid_ / 2) / grid_ * grid_;
    return true;
}

void Decoder::DropDecoded() {
    pending_.clear();
    pendingPos_ = 0;
    inputDone_ = ended_ = false;
    discard_ = 0;
    seekTarget_ = -1;
}

bool Decoder::LearnStartStamp() {
    if (!atStart_ && !Reopen()) return false;
    DropDecoded();
    DecodeMore();
    startStampKnown_ = true; // a stream that gives no frame keeps its timestamps as they are
    return true;
}

int64_t Decoder::Layer3FrameSize() const {
    if (dec_->codec_id != AV_CODEC_ID_MP3) return 0;
    return rate_ >= 32000 ? 1152 : 576; // MPEG-1, or MPEG-2 and 2.5
}

int64_t Decoder::PrerollFrames() const {
    if (blockFrames_ > 0) return 0;
    const AVCodecDescriptor* desc = avcodec_descriptor_get(dec_->codec_id);
    if (desc && (desc->props & AV_CODEC_PROP_LOSSLESS) && !(desc->props & AV_CODEC_PROP_LOSSY)) return 0;
    // An MP3 frame's samples come from its own data and its two predecessors' (the transform
    // overlap, and the synthesis filter's history); the bit reservoir is found by bytes from there.
    if (const int64_t frameSize = Layer3FrameSize()) return 2 * frameSize;
    // Ten codec frames reach past the transform overlap of every other lossy codec we read.
    return 10 * static_cast<int64_t>(std::max(dec_->frame_size, 1152));
}

int64_t Decoder::ReservoirStart(int64_t fromTs) const {
    // A layer III frame's data may begin up to 511 bytes (MPEG-1) or 255 bytes (MPEG-2 and 2.5)
    // before its own, in the data areas of the frames before it: at a low bit rate that is many
    // frames back. Those areas are what is left of each frame after its header, check word and
    // side information (counted at their largest, so the step back is never too short).
    AVStream* st = fmt_->streams[stream_];
    const int64_t frameSize = Layer3FrameSize();
    const bool mpeg1 = frameSize == 1152;
    const int64_t reach = mpeg1 ? 511 : 255;
    const int64_t overhead = 4 + 2 + (mpeg1 ? (chans_ == 1 ? 17 : 32) : (chans_ == 1 ? 9 : 17));
    const int64_t frameTicks =
        std::max<int64_t>(1, av_rescale_q(frameSize, AVRational{1, static_cast<int>(rate_)}, st->time_base));
    // The index holds where every frame read so far begins (or every few, in a long file).
    const int from = av_index_search_timestamp(st, fromTs, AVSEEK_FLAG_BACKWARD);
    const AVIndexEntry* fromEntry = from >= 0 ? avformat_index_get_entry(st, from) : nullptr;
    // Without one, ten frames in all, which serve the usual rates.
    if (!fromEntry || fromEntry->pos < 0) return fromTs - 8 * frameTicks;
    // Bytes that decode to nothing are no part of any frame's reservoir: past such a packet, the
    // reservoir of the frames before it must be whole too, as it is in a decode from the start.
    const int64_t start = st->start_time != AV_NOPTS_VALUE ? st->start_time : 0;
    auto lostFrom = [&](int64_t ts) {
        for (const LostPacket& p : lost_) {
            const int64_t lostTs =
                av_rescale_q(p.At, AVRational{1, static_cast<int>(rate_)}, st->time_base) + start;
            if (lostTs >= ts && lostTs < fromEntry->timestamp) return true;
        }
        return false;
    };
    for (int i = from - 1; i > 0; --i) {
        const AVIndexEntry* e = avformat_index_get_entry(st, i);
        if (!e || e->pos < 0 || e->pos >= fromEntry->pos) break;
        if (lostFrom(e->timestamp)) {
            fromEntry = e;
            continue;
        }
        const int64_t frames = (fromEntry->timestamp - e->timestamp + frameTicks - 1) / frameTicks;
        if (fromEntry->pos - e->pos - frames * overhead >= reach) return e->timestamp;
    }
    return AV_NOPTS_VALUE; // the reservoir reaches back to the stream's first frame
}

bool Decoder::SeekByDecoding(uint64_t frame) {
    // Without an index the stream is decoded from the start up to the frame.
    if (!Reopen()) return Fail(BASS_ERROR_FILEOPEN, false);
    DropDecoded();
    discard_ = static_cast<int64_t>(frame);
    return true;
}

bool Decoder::SeekToBlock(uint64_t frame) {
    const uint64_t block = frame / static_cast<uint64_t>(blockFrames_);
    const int64_t pos = dataStart_ + static_cast<int64_t>(block) * blockBytes_;
    if (av_seek_frame(fmt_, stream_, pos, AVSEEK_FLAG_BYTE) < 0) return SeekByDecoding(frame);
    atStart_ = false;
    avcodec_flush_buffers(dec_);
    swr_free(&swr_);
    discard_ = static_cast<int64_t>(frame - block * static_cast<uint64_t>(blockFrames_));
    return true;
}

bool Decoder::SeekFrame(uint64_t frame) {
    if (!SeekTo(frame)) {
        nextFrame_ = -1;
        return false;
    }
    nextFrame_ = static_cast<int64_t>(frame);
    return true;
}

bool Decoder::SkipTo(uint64_t frame) {
    const size_t frameBytes = chans_ * static_cast<size_t>(BytesPerSample(format_));
    const uint64_t skip = frame - static_cast<uint64_t>(nextFrame_);
    const uint64_t held = (pending_.size() - pendingPos_) / frameBytes;
    if (skip <= held) {
        pendingPos_ += static_cast<size_t>(skip) * frameBytes;
    } else {
        pendingPos_ = pending_.size();
        discard_ += static_cast<int64_t>(skip - held);
    }
    return true;
}

bool Decoder::SeekOgg(uint64_t frame, int64_t preroll) {
    if (source_ && !source_->Seek) return Fail(BASS_ERROR_NOTAVAIL, false);
    // FFmpeg's Ogg reader indexes the last page as it reads it, and a seek that lands there through
    // that index gives its packets wrong times and loses the last packet's end trimming. A fresh
    // reader searches the pages instead and lands before the last one.
    if (!Reopen()) return Fail(BASS_ERROR_FILEOPEN, false);
    AVStream* st = fmt_->streams[stream_];
    const int64_t start = st->start_time != AV_NOPTS_VALUE ? st->start_time : 0;
    const int64_t ts = av_rescale_q(static_cast<int64_t>(frame) - preroll,
                                    AVRational{1, static_cast<int>(rate_)}, st->time_base) +
                       start;
    if (av_seek_frame(fmt_, stream_, ts, AVSEEK_FLAG_BACKWARD) < 0) return SeekByDecoding(frame);
    atStart_ = false;
    DropDecoded();
    int64_t landed = 0;
    // A landing past the target (the reader finds pages by their times) is made good from the start.
    if (!FindLanding(landed) || landed > static_cast<int64_t>(frame)) return SeekByDecoding(frame);
    nextFrame_ = landed;
    return SkipTo(frame);
}

bool Decoder::FindLanding(int64_t& landed) {
    // FFmpeg's Ogg reader labels the frames of the first page it reads after a seek with a guess
    // (a FLAC page's frames one frame late), and it labels the Vorbis frame that follows a long block
    // with a short one a few hundred frames late. A frame that begins on a later page and whose label
    // runs on into the next frame's is labelled right, and the frames before it lie just before it.
    const size_t frameBytes = chans_ * static_cast<size_t>(BytesPerSample(format_));
    bool firstKnown = false;
    int64_t firstAt = 0, firstPage = 0;
    bool prevKnown = false;
    int64_t prevAt = 0, prevPage = 0;
    int64_t prevBefore = 0; // frames held ahead of the previous frame
    int64_t held = 0;
    while (DecodeMore()) {
        const int64_t now = static_cast<int64_t>((pending_.size() - pendingPos_) / frameBytes);
        if (now == held) continue; // a frame that gave nothing
        if (held > 0 && prevKnown && lastKnown_ && prevPage > firstPage &&
            prevAt + (held - prevBefore) == lastAt_) {
            landed = prevAt - prevBefore;
            return true;
        }
        if (held == 0) {
            firstKnown = lastKnown_;
            firstAt = lastAt_;
            firstPage = lastPage_;
        }
        prevKnown = lastKnown_;
        prevAt = lastAt_;
        prevPage = lastPage_;
        prevBefore = held;
        held = now;
    }
    if (held == 0) return false;
    // The end came first: where it lies is known, or else the first label is all there is. On the
    // stream's first page, which is then also its last, FFmpeg's decode ends elsewhere than the page
    // says (the place is found by decoding from the start, which is short then).
    if (firstPage >= 0 && firstPage == firstPage_) return false;
    if (lengthFrames_ > 0) {
        landed = static_cast<int64_t>(lengthFrames_) - held;
        return true;
    }
    landed = firstAt;
    return firstKnown;
}

bool Decoder::SeekTo(uint64_t frame) {
    if (!links_.empty()) return SeekChain(frame);
    if (!dec_) return Fail(BASS_ERROR_FILEOPEN, false);
    // A seek by timestamp needs to know what the first frame's timestamp names.
    if (!startStampKnown_ && static_cast<int64_t>(frame) > PrerollFrames() && (!source_ || source_->Seek) &&
        !LearnStartStamp())
        return Fail(BASS_ERROR_FILEOPEN, false);
    DropDecoded();
    // A lossy decoder needs the frames before the target to rebuild its state (the MP3 bit reservoir,
    // the overlap of transforms); without them the first samples come out silent or faded in. So
    // decoding starts that far before the target and what comes before it is dropped.
    const int64_t preroll = PrerollFrames();
    if (blockFrames_ > 0 && frame > 0) return SeekToBlock(frame);
    // Near the start, opening again and decoding from there gives exactly what a whole decode does,
    // the decoder's start-up trimming included.
    if (static_cast<int64_t>(frame) <= preroll) {
        if (frame == 0 && source_ && !source_->Seek) return Fail(BASS_ERROR_NOTAVAIL, false);
        return SeekByDecoding(frame);
    }
    if (fmt_->iformat && std::strcmp(fmt_->iformat->name, "ogg") == 0) return SeekOgg(frame, preroll);
    AVStream* st = fmt_->streams[stream_];
    int64_t start = st->start_time != AV_NOPTS_VALUE ? st->start_time : 0;
    // The frames decoded before the target are counted in the decode, where packets that decode
    // to nothing take no room. Such a packet leaves the decoder holding what the frames before it
    // left there, from several frames back: the frames up to a few after it are a whole decode's
    // only when the decode runs through it from well before it.
    int64_t from = static_cast<int64_t>(frame) - preroll;
    std::vector<int64_t> lostPlaces;
    int64_t lostSoFar = 0;
    for (const LostPacket& p : lost_) {
        const int64_t place = p.At - startStamp_ - lostSoFar;
        if (place > static_cast<int64_t>(frame)) break;
        lostPlaces.push_back(place);
        lostSoFar += p.Frames;
    }
    for (auto place = lostPlaces.rbegin(); place != lostPlaces.rend(); ++place)
        if (*place >= from - kLostLead * preroll) from = *place - kLostLead * preroll;
    if (from <= 0) return SeekByDecoding(frame);
    const int64_t stamp = from + LostBeforeFrame(from);
    int64_t ts = av_rescale_q(stamp, AVRational{1, static_cast<int>(rate_)}, st->time_base) + start;
    if (av_seek_frame(fmt_, stream_, ts, AVSEEK_FLAG_BACKWARD) < 0) return SeekByDecoding(frame);
    if (Layer3FrameSize()) {
        // The seek has indexed the frames up to here, so the step back over the bit reservoir can
        // be measured in bytes.
        const int64_t from = ReservoirStart(ts);
        if (from == AV_NOPTS_VALUE || from <= start) return SeekByDecoding(frame);
        if (av_seek_frame(fmt_, stream_, from, AVSEEK_FLAG_BACKWARD) < 0) return SeekByDecoding(frame);
    }
    atStart_ = false;
    avcodec_flush_buffers(dec_);
    // After a flush, FFmpeg's MPEG audio decoder labels the first frame with the rate of the last
    // one it decoded, which a false frame header may have set to another.
    dec_->sample_rate = static_cast<int>(rate_);
    swr_free(&swr_);
    seekTarget_ = static_cast<int64_t>(frame);
    return true;
}

std::vector<int64_t> Decoder::OggLinkStarts() {
    // A link begins with its stream's first page (marked as such); the pages are followed by the
    // sizes in their headers, so a page's bytes are never taken for a header.
    AVIOContext* own = nullptr;
    if (!source_ && avio_open2(&own, path_.c_str(), AVIO_FLAG_READ, nullptr, nullptr) < 0) return {};
    std::unique_ptr<AVIOContext*, void (*)(AVIOContext**)> closeOwn(&own,
                                                                    [](AVIOContext** c) { avio_closep(c); });
    AVIOContext* pb = own ? own : fmt_->pb;
    const int64_t size = pb ? avio_size(pb) : -1;
    if (size <= 0) return {};
    std::vector<int64_t> starts;
    std::vector<uint8_t> block(1 << 16);
    int64_t blockStart = 0, blockEnd = 0, pos = 0;
    bool lastFirst = false; // the page before was a stream's first
    constexpr int64_t kHeader = 27;
    while (pos + kHeader <= size) {
        const int64_t look = std::min<int64_t>(kHeader + 255, size - pos);
        if (pos < blockStart || pos + look > blockEnd) {
            if (avio_seek(pb, pos, SEEK_SET) != pos) return {};
            const int got = avio_read(pb, block.data(), static_cast<int>(block.size()));
            if (got < look) return {};
            blockStart = pos;
            blockEnd = pos + got;
        }
        const uint8_t* page = block.data() + (pos - blockStart);
        if (std::memcmp(page, "OggS", 4) != 0 || page[4] != 0) break;
        const int segments = page[26];
        if (kHeader + segments > look) break;
        int64_t body = 0;
        for (int i = 0; i < segments; ++i) body += page[kHeader + i];
        const bool first = (page[5] & 2) != 0;
        if (first && !lastFirst) starts.push_back(pos);
        lastFirst = first;
        pos += kHeader + segments + body;
    }
    return starts;
}

namespace {

// The bytes of a link of a file, as a file of their own.
std::unique_ptr<ByteSource> LinkBytes(const std::string& path, ByteSource* whole, int64_t begin, int64_t end) {
    auto src = std::make_unique<ByteSource>();
    auto pos = std::make_shared<int64_t>(0);
    std::shared_ptr<AVIOContext> file;
    if (!whole) {
        AVIOContext* io = nullptr;
        if (avio_open2(&io, path.c_str(), AVIO_FLAG_READ, nullptr, nullptr) < 0) return nullptr;
        file.reset(io, [](AVIOContext* c) { avio_closep(&c); });
    }
    src->Read = [file, whole, pos, begin, end](uint8_t* buf, int size) -> int {
        const int n = static_cast<int>(std::min<int64_t>(size, end - begin - *pos));
        if (n <= 0) return 0;
        int got;
        if (file) {
            if (avio_seek(file.get(), begin + *pos, SEEK_SET) < 0) return -1;
            got = avio_read(file.get(), buf, n);
            if (got == AVERROR_EOF) got = 0;
        } else {
            if (whole->Seek(begin + *pos) != begin + *pos) return -1;
            got = whole->Read(buf, n);
        }
        if (got > 0) *pos += got;
        return got;
    };
    src->Seek = [pos, begin, end](int64_t to) -> int64_t {
        if (to < 0 || to > end - begin) return -1;
        *pos = to;
        return to;
    };
    src->Size = [begin, end] { return end - begin; };
    return src;
}

} // namespace

bool Decoder::OpenChain() {
    if (isLink_) return false;
    const std::vector<int64_t> starts = OggLinkStarts();
    // Reading the pages moved the reader of a file from memory.
    if (source_ && !Reopen()) return false;
    if (starts.size() < 2) return false;
    const int64_t size = source_ ? (source_->Size ? source_->Size() : -1) : avio_size(fmt_->pb);
    if (size <= 0) return false;
    // Each link is a stream of its own, with its own length (as its last page gives it), rate and
    // channels; one of another rate or channel count is converted to the first one's.
    std::vector<Link> links;
    uint64_t first = 0;
    for (size_t i = 0; i < starts.size(); ++i) {
        const int64_t end = i + 1 < starts.size() ? starts[i + 1] : size;
        links_ = {{starts[i], end, first, 0, 0, 0}};
        if (!OpenLink(0) || part_->LengthFrames() == 0) break; // the links from a damaged one on are lost
        const uint64_t frames = static_cast<uint64_t>(
            av_rescale(static_cast<int64_t>(part_->LengthFrames()), rate_, part_->Rate()));
        links.push_back({starts[i], end, first, frames, part_->Rate(), part_->Chans()});
        first += frames;
    }
    links_.clear();
    part_.reset();
    if (links.size() < 2) return false;
    links_ = std::move(links);
    lengthFrames_ = first;
    if (!OpenLink(0)) {
        links_.clear();
        return false;
    }
    return true;
}

bool Decoder::OpenLink(size_t link) {
    part_.reset();
    swr_free(&linkSwr_);
    linkOut_.clear();
    linkOutPos_ = 0;
    linkInputDone_ = false;
    partDone_ = 0;
    link_ = link;
    const Link& l = links_[link];
    auto bytes = LinkBytes(path_, source_.get(), l.Begin, l.End);
    if (!bytes) return false;
    std::unique_ptr<Decoder> d(new Decoder);
    d->source_ = std::move(bytes);
    d->format_ = format_;
    d->atHand_ = true;
    d->isLink_ = true;
    int error = 0;
    if (!d->Init(error)) return false;
    part_ = std::move(d);
    if (part_->Rate() != rate_ || part_->Chans() != chans_) {
        AVChannelLayout in{}, out{};
        av_channel_layout_default(&in, static_cast<int>(part_->Chans()));
        av_channel_layout_default(&out, static_cast<int>(chans_));
        const int rc = swr_alloc_set_opts2(&linkSwr_, &out, AvFormat(format_), static_cast<int>(rate_), &in,
                                           AvFormat(format_), static_cast<int>(part_->Rate()), 0, nullptr);
        av_channel_layout_uninit(&in);
        av_channel_layout_uninit(&out);
        if (rc < 0 || swr_init(linkSwr_) < 0) {
            swr_free(&linkSwr_);
            part_.reset();
            return false;
        }
    }
    return true;
}

size_t Decoder::ReadLink(uint8_t* out, size_t frames) {
    const size_t frameBytes = chans_ * static_cast<size_t>(BytesPerSample(format_));
    if (!linkSwr_) {
        bool ended = false;
        return part_->Read(out, frames * frameBytes, ended) / frameBytes;
    }
    const size_t inFrameBytes = part_->Chans() * static_cast<size_t>(BytesPerSample(format_));
    while (linkOut_.size() - linkOutPos_ < frames * frameBytes && !linkInputDone_) {
        linkIn_.resize(4096 * inFrameBytes);
        bool ended = false;
        const size_t in = part_->Read(linkIn_.data(), linkIn_.size(), ended) / inFrameBytes;
        linkInputDone_ = in == 0;
        const int room = swr_get_out_samples(linkSwr_, static_cast<int>(in));
        if (room <= 0) continue;
        linkOut_.erase(linkOut_.begin(), linkOut_.begin() + static_cast<std::ptrdiff_t>(linkOutPos_));
        linkOutPos_ = 0;
        const size_t old = linkOut_.size();
        linkOut_.resize(old + static_cast<size_t>(room) * frameBytes);
        uint8_t* to = linkOut_.data() + old;
        const uint8_t* from = linkIn_.data();
        // At the link's end, what the converter holds comes out.
        const int got = swr_convert(linkSwr_, &to, room, in ? &from : nullptr, static_cast<int>(in));
        linkOut_.resize(old + static_cast<size_t>(std::max(got, 0)) * frameBytes);
    }
    const size_t n = std::min(frames * frameBytes, linkOut_.size() - linkOutPos_);
    std::memcpy(out, linkOut_.data() + linkOutPos_, n);
    linkOutPos_ += n;
    return n / frameBytes;
}

size_t Decoder::ReadChain(uint8_t* out, size_t bytes, bool& ended) {
    const size_t frameBytes = chans_ * static_cast<size_t>(BytesPerSample(format_));
    size_t got = 0;
    const size_t want = bytes / frameBytes;
    while (got < want && part_) {
        const Link& l = links_[link_];
        const uint64_t left = l.Frames > partDone_ ? l.Frames - partDone_ : 0;
        if (left == 0) {
            if (link_ + 1 >= links_.size() || !OpenLink(link_ + 1)) break;
            continue;
        }
        const size_t ask = static_cast<size_t>(std::min<uint64_t>(left, want - got));
        size_t n = ReadLink(out + got * frameBytes, ask);
        if (n == 0) {
            // The link's decode ends short of its length (by the few frames a rate conversion
            // leaves, or by damage): silence makes it up, so every place in the file stays where
            // the lengths put it.
            n = ask;
            std::memset(out + got * frameBytes, 0, n * frameBytes);
        }
        got += n;
        partDone_ += n;
    }
    ended = !part_ || (link_ + 1 == links_.size() && partDone_ >= links_[link_].Frames);
    if (nextFrame_ >= 0) nextFrame_ += static_cast<int64_t>(got);
    return got * frameBytes;
}

bool Decoder::SeekChain(uint64_t frame) {
    if (frame > lengthFrames_) return Fail(BASS_ERROR_POSITION, false);
    size_t link = 0;
    while (link + 1 < links_.size() && links_[link + 1].First <= frame) ++link;
    if ((link != link_ || !part_ || linkSwr_) && !OpenLink(link)) return Fail(BASS_ERROR_FILEOPEN, false);
    const Link& l = links_[link];
    const uint64_t local = frame - l.First;
    const uint64_t inner = linkSwr_ ? static_cast<uint64_t>(av_rescale(static_cast<int64_t>(local), l.Rate, rate_))
                                    : local;
    if (!part_->SeekFrame(std::min(inner, part_->LengthFrames()))) return false;
    partDone_ = local;
    return true;
}

} // namespace lumora::audiolib
