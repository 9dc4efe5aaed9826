#pragma once
// Small parsers of untrusted bytes used by the audio library: ID3 block bounds, the ICY metadata
// interleaved in a radio stream, and the CD drive table. Header-only and free of library state so
// the fuzz targets exercise exactly this code.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace lumora::audiolib {

// Largest ID3v2 tag the library hands out; a larger declared size is treated as no tag.
constexpr uint64_t kMaxId3v2Bytes = 16u << 20;

// Total size (header, body and footer) of an ID3v2 tag starting at `head` (at least 10 bytes), or
// nothing when the bytes are not a tag header.
inline std::optional<uint64_t> Id3v2TotalSize(const uint8_t* head, size_t size) {
    if (size < 10 || head[0] != 'I' || head[1] != 'D' || head[2] != '3') return std::nullopt;
    if (head[3] == 0xFF || head[4] == 0xFF) return std::nullopt;
    uint64_t body = 0;
    for (int i = 6; i < 10; ++i) {
        if (head[i] & 0x80) return std::nullopt; // sizes are 7 bits per byte
        body = (body << 7) | head[i];
    }
    uint64_t total = 10 + body + ((head[5] & 0x10) ? 10 : 0);
    if (total > kMaxId3v2Bytes) return std::nullopt;
    return total;
}

// The tag block as the library keeps it: exactly the declared size, zero-filled past the end of
// the available bytes, so a reader bounded by the declared size never reads past the block.
inline std::vector<uint8_t> Id3v2Block(const uint8_t* data, size_t size) {
    auto total = Id3v2TotalSize(data, size);
    if (!total) return {};
    std::vector<uint8_t> block(static_cast<size_t>(*total), 0);
    size_t have = size < block.size() ? size : block.size();
    for (size_t i = 0; i < have; ++i) block[i] = data[i];
    return block;
}

inline bool IsId3v1Block(const uint8_t* tail, size_t size) {
    return size >= 128 && tail[0] == 'T' && tail[1] == 'A' && tail[2] == 'G';
}

// Splits a radio stream with ICY metadata (a metadata block after every `interval` audio bytes: one
// length byte times 16, then that many bytes of text) into audio and metadata. Feed it the bytes
// as they arrive, in pieces of any size.
class IcyDemuxer {
public:
    using AudioSink = std::function<void(const uint8_t*, size_t)>;
    using MetaSink = std::function<void(const std::string&)>;
    IcyDemuxer(uint64_t interval, AudioSink audio, MetaSink meta)
        : interval_(interval), audio_(std::move(audio)), meta_(std::move(meta)) {}

    void Feed(const uint8_t* data, size_t size) {
        while (size > 0) {
            if (interval_ == 0) {
                audio_(data, size);
                return;
            }
            if (metaLeft_ == 0 && untilMeta_ > 0) {
                size_t n = static_cast<size_t>(untilMeta_ < size ? untilMeta_ : size);
                audio_(data, n);
                data += n;
                size -= n;
                untilMeta_ -= n;
                continue;
            }
            if (!inMeta_) { // the length byte
                inMeta_ = true;
                metaLeft_ = static_cast<size_t>(*data) * 16;
                text_.clear();
                ++data;
                --size;
                if (metaLeft_ == 0) EndMeta();
                continue;
            }
            size_t n = metaLeft_ < size ? metaLeft_ : size;
            text_.append(reinterpret_cast<const char*>(data), n);
            data += n;
            size -= n;
            metaLeft_ -= n;
            if (metaLeft_ == 0) EndMeta();
        }
    }

private:
    void EndMeta() {
        inMeta_ = false;
        untilMeta_ = interval_;
        // The block is padded with zero bytes; an empty block repeats the last title and is skipped.
        size_t end = text_.find('\0');
        if (end != std::string::npos) text_.resize(end);
        if (!text_.empty()) meta_(text_);
    }

    uint64_t interval_;
    uint64_t untilMeta_ = interval_;
    size_t metaLeft_ = 0;
    bool inMeta_ = false;
    std::string text_;
    AudioSink audio_;
    MetaSink meta_;
};

// A header line "Name: value" split at the first colon, name and value trimmed of blanks.
inline bool SplitHeader(std::string_view line, std::string& name, std::string& value) {
    size_t colon = line.find(':');
    if (colon == std::string_view::npos) return false;
    auto trim = [](std::string_view s) {
        while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
        while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r' || s.back() == '\n'))
            s.remove_suffix(1);
        return s;
    };
    name = std::string(trim(line.substr(0, colon)));
    value = std::string(trim(line.substr(colon + 1)));
    return !name.empty();
}

// One drive of the CD table: "LETTER|description|track1|track2|...".
struct CdDrive {
    char Letter = 0;
    std::string Description;
    std::vector<std::string> Tracks;
};

inline std::optional<CdDrive> ParseCdTableLine(std::string_view line) {
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.remove_suffix(1);
    if (line.empty() || line.front() == '#') return std::nullopt;
    std::vector<std::string> fields;
    size_t start = 0;
    while (true) {
        size_t bar = line.find('|', start);
        fields.emplace_back(line.substr(start, bar == std::string_view::npos ? std::string_view::npos : bar - start));
        if (bar == std::string_view::npos) break;
        start = bar + 1;
    }
    if (fields.size() < 2 || fields[0].size() != 1) return std::nullopt;
    char letter = fields[0][0];
    if (letter >= 'a' && letter <= 'z') letter = static_cast<char>(letter - 'a' + 'A');
    if (letter < 'A' || letter > 'Z') return std::nullopt;
    CdDrive drive;
    drive.Letter = letter;
    drive.Description = fields[1];
    for (size_t i = 2; i < fields.size() && i < 2 + 99; ++i)
        if (!fields[i].empty()) drive.Tracks.push_back(fields[i]);
    return drive;
}

// Track number (1-based) of a ".cda" file name: the two digits before the extension; 0 when none.
inline int CdaTrackNumber(std::string_view name) {
    if (name.size() < 6) return 0;
    std::string_view ext = name.substr(name.size() - 4);
    auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    if (ext[0] != '.' || lower(ext[1]) != 'c' || lower(ext[2]) != 'd' || lower(ext[3]) != 'a') return 0;
    char a = name[name.size() - 6], b = name[name.size() - 5];
    if (a < '0' || a > '9' || b < '0' || b > '9') return 0;
    return (a - '0') * 10 + (b - '0');
}

} // namespace lumora::audiolib
