// Channels over local files and memory (FFmpeg), tracker modules (libopenmpt) and user procedures.

#include <libopenmpt/libopenmpt.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>

#include "audiolib/Decoder.h"
#include "audiolib/TagBlocks.h"

namespace lumora::audiolib {

namespace {

// Largest module file the library loads into memory.
constexpr uint64_t kMaxModuleBytes = 256u << 20;

struct FileTags {
    std::vector<uint8_t> Id3v1;
    std::vector<uint8_t> Id3v2;
};

// The ID3 blocks at the two ends of a file, as the library hands them out.
FileTags ReadFileTags(const std::string& path, uint64_t& fileSize) {
    FileTags tags;
    std::ifstream in(path, std::ios::binary);
    if (!in) return tags;
    in.seekg(0, std::ios::end);
    auto end = in.tellg();
    fileSize = end > 0 ? static_cast<uint64_t>(end) : 0;
    in.seekg(0);
    uint8_t head[10];
    if (in.read(reinterpret_cast<char*>(head), 10)) {
        if (auto total = Id3v2TotalSize(head, 10)) {
            std::vector<uint8_t> bytes(static_cast<size_t>(std::min<uint64_t>(*total, fileSize)));
            in.seekg(0);
            in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
            bytes.resize(static_cast<size_t>(in.gcount()));
            tags.Id3v2 = Id3v2Block(bytes.data(), bytes.size());
        }
    }
    in.clear();
    if (fileSize >= 128) {
        uint8_t tail[128];
        in.seekg(static_cast<std::streamoff>(fileSize - 128));
        if (in.read(reinterpret_cast<char*>(tail), 128) && IsId3v1Block(tail, 128)) tags.Id3v1.assign(tail, tail + 128);
    }
    return tags;
}

class FileChannel : public Channel {
public:
    FileChannel(std::unique_ptr<Decoder> dec, DWORD flags, std::string path, FileTags tags, uint64_t fileSize)
        : Channel(dec->Rate(), dec->Chans(), flags, dec->CType()), dec_(std::move(dec)), tags_(std::move(tags)),
          fileSize_(fileSize) {
        FileName = std::move(path);
        OrigRes = dec_->OrigRes();
        metadata_ = dec_->MetadataList();
        metadata_.push_back('\0');
    }
    size_t Produce(uint8_t* out, size_t bytes, bool& ended) override { return dec_->Read(out, bytes, ended); }
    bool SeekBytes(uint64_t pos) override { return dec_->SeekFrame(pos / FrameBytes()); }
    bool LengthBytes(uint64_t& bytes) override {
        if (dec_->LengthFrames() == 0) return Fail(BASS_ERROR_NOTAVAIL, false);
        bytes = dec_->LengthFrames() * FrameBytes();
        return true;
    }
    const char* Tags(DWORD kind) override {
        switch (kind) {
        case BASS_TAG_ID3:
            if (!tags_.Id3v1.empty()) return reinterpret_cast<const char*>(tags_.Id3v1.data());
            break;
        case BASS_TAG_ID3V2:
            if (!tags_.Id3v2.empty()) return reinterpret_cast<const char*>(tags_.Id3v2.data());
            break;
        case BASS_TAG_OGG:
            if (CType == BASS_CTYPE_STREAM_OGG && metadata_.size() > 1) return metadata_.data();
            break;
        case BASS_TAG_WMA:
            if (CType == BASS_CTYPE_STREAM_WMA && metadata_.size() > 1) return metadata_.data();
            break;
        default: break;
        }
        return Fail<const char*>(BASS_ERROR_NOTAVAIL, nullptr);
    }
    QWORD FilePosition(DWORD mode) override {
        switch (mode) {
        case BASS_FILEPOS_CURRENT: {
            int64_t p = dec_->FilePos();
            return p < 0 ? ~QWORD{0} : static_cast<QWORD>(p);
        }
        case BASS_FILEPOS_DOWNLOAD:
        case BASS_FILEPOS_END: return fileSize_;
        case BASS_FILEPOS_START: return tags_.Id3v2.size();
        default: return Fail(BASS_ERROR_ILLPARAM, ~QWORD{0});
        }
    }

private:
    std::unique_ptr<Decoder> dec_;
    FileTags tags_;
    uint64_t fileSize_;
    std::string metadata_;
};

class MusicChannel : public Channel {
public:
    MusicChannel(openmpt_module* mod, DWORD freq, DWORD flags, std::string path)
        : Channel(freq, (flags & BASS_SAMPLE_MONO) ? 1 : 2, flags, BASS_CTYPE_MUSIC_MOD), mod_(mod) {
        FileName = std::move(path);
        OrigRes = 16;
    }
    ~MusicChannel() override { openmpt_module_destroy(mod_); }
    bool IsMusic() const override { return true; }
    size_t Produce(uint8_t* out, size_t bytes, bool& ended) override {
        size_t frames = bytes / FrameBytes();
        size_t done = 0;
        while (done < frames) {
            size_t want = std::min<size_t>(frames - done, 4096);
            size_t got;
            if (Format == SampleFormat::F32) {
                auto* f = reinterpret_cast<float*>(out) + done * Chans;
                got = Chans == 1 ? openmpt_module_read_float_mono(mod_, static_cast<int32_t>(Freq), want, f)
                                 : openmpt_module_read_interleaved_float_stereo(mod_, static_cast<int32_t>(Freq), want, f);
            } else {
                scratch_.resize(want * Chans);
                got = Chans == 1 ? openmpt_module_read_mono(mod_, static_cast<int32_t>(Freq), want, scratch_.data())
                                 : openmpt_module_read_interleaved_stereo(mod_, static_cast<int32_t>(Freq), want,
                                                                          scratch_.data());
                if (Format == SampleFormat::S16) {
                    std::memcpy(out + done * FrameBytes(), scratch_.data(), got * Chans * 2);
                } else {
                    for (size_t i = 0; i < got * Chans; ++i)
                        out[done * Chans + i] = static_cast<uint8_t>((scratch_[i] >> 8) + 128);
                }
            }
            if (got == 0) {
                ended = true;
                break;
            }
            done += got;
        }
        return done * FrameBytes();
    }
    bool SeekBytes(uint64_t pos) override {
        double seconds = static_cast<double>(pos / FrameBytes()) / Freq;
        openmpt_module_set_position_seconds(mod_, seconds);
        return true;
    }
    bool LengthBytes(uint64_t& bytes) override {
        double seconds = openmpt_module_get_duration_seconds(mod_);
        if (!(seconds >= 0) || seconds > 1e7) return Fail(BASS_ERROR_NOTAVAIL, false);
        bytes = static_cast<uint64_t>(std::llround(seconds * Freq)) * FrameBytes();
        return true;
    }

private:
    openmpt_module* mod_;
    std::vector<int16_t> scratch_;
};

class UserChannel : public Channel {
public:
    UserChannel(DWORD freq, DWORD chans, DWORD flags, STREAMPROC* proc, void* user)
        : Channel(freq, chans, flags, BASS_CTYPE_STREAM), proc_(proc), user_(user) {}
    bool IsUserStream() const override { return true; }
    size_t Produce(uint8_t* out, size_t bytes, bool& ended) override {
        DWORD r = proc_(Handle, out, static_cast<DWORD>(bytes), user_);
        if (r & BASS_STREAMPROC_END) ended = true;
        // A procedure that claims more than it was asked for gets only what fits.
        return std::min<size_t>(r & ~BASS_STREAMPROC_END, bytes);
    }

private:
    STREAMPROC* proc_;
    void* user_;
};

} // namespace

ChannelPtr OpenFileChannel(const std::string& path, DWORD flags, int& error) {
    auto dec = Decoder::Open(path, nullptr, FormatFromFlags(flags), error, true);
    if (!dec) return nullptr;
    uint64_t size = 0;
    FileTags tags = ReadFileTags(path, size);
    return std::make_shared<FileChannel>(std::move(dec), flags, path, std::move(tags), size);
}

ChannelPtr OpenMemoryChannel(const void* data, size_t size, DWORD flags, int& error) {
    struct Cursor {
        const uint8_t* data;
        size_t size;
        size_t pos = 0;
    };
    auto cur = std::make_shared<Cursor>(Cursor{static_cast<const uint8_t*>(data), size});
    auto src = std::make_unique<ByteSource>();
    src->Read = [cur](uint8_t* buf, int n) {
        size_t k = std::min<size_t>(static_cast<size_t>(n), cur->size - cur->pos);
        std::memcpy(buf, cur->data + cur->pos, k);
        cur->pos += k;
        return static_cast<int>(k);
    };
    src->Seek = [cur](int64_t pos) -> int64_t {
        if (pos < 0 || static_cast<uint64_t>(pos) > cur->size) return -1;
        cur->pos = static_cast<size_t>(pos);
        return pos;
    };
    src->Size = [cur] { return static_cast<int64_t>(cur->size); };
    auto dec = Decoder::Open("", std::move(src), FormatFromFlags(flags), error, true);
    if (!dec) return nullptr;
    FileTags tags;
    auto* bytes = static_cast<const uint8_t*>(data);
    tags.Id3v2 = Id3v2Block(bytes, size);
    if (size >= 128 && IsId3v1Block(bytes + size - 128, 128)) tags.Id3v1.assign(bytes + size - 128, bytes + size);
    return std::make_shared<FileChannel>(std::move(dec), flags, std::string(), std::move(tags), size);
}

ChannelPtr OpenMusicChannel(const std::string& path, const void* mem, size_t size, DWORD flags, DWORD freq,
                            int& error) {
    std::vector<char> bytes;
    if (!mem) {
        std::ifstream in(path, std::ios::binary);
        if (!in) {
            error = BASS_ERROR_FILEOPEN;
            return nullptr;
        }
        in.seekg(0, std::ios::end);
        auto end = in.tellg();
        if (end <= 0 || static_cast<uint64_t>(end) > kMaxModuleBytes) {
            error = BASS_ERROR_FILEFORM;
            return nullptr;
        }
        bytes.resize(static_cast<size_t>(end));
        in.seekg(0);
        if (!in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()))) {
            error = BASS_ERROR_FILEOPEN;
            return nullptr;
        }
        mem = bytes.data();
        size = bytes.size();
    }
    int err = 0;
    openmpt_module* mod = openmpt_module_create_from_memory2(mem, size, openmpt_log_func_silent, nullptr,
                                                             openmpt_error_func_ignore, nullptr, &err, nullptr, nullptr);
    if (!mod) {
        error = BASS_ERROR_FILEFORM;
        return nullptr;
    }
    if (flags & BASS_SAMPLE_LOOP) openmpt_module_set_repeat_count(mod, -1);
    return std::make_shared<MusicChannel>(mod, freq, flags, path);
}

ChannelPtr OpenUserChannel(DWORD freq, DWORD chans, DWORD flags, STREAMPROC* proc, void* user) {
    return std::make_shared<UserChannel>(freq, chans, flags, proc, user);
}

} // namespace lumora::audiolib
