#pragma once
// A bounded reader over bytes held in memory, shared by every tag and stream reader.
//
// Every read is checked against the end of the bytes. A read that does not fit marks the reader as
// failed and yields zeros; the failure is sticky, so a parser can read a whole record and test
// Failed() once. Offsets and sizes are 64-bit so that no value taken from a file can wrap.

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "framework/Classes.h"

namespace lumora {

class TByteReader {
public:
    TByteReader() = default;
    TByteReader(const uint8_t* data, uint64_t size) : data_(data), size_(data ? size : 0) {}
    explicit TByteReader(std::span<const uint8_t> bytes) : TByteReader(bytes.data(), bytes.size()) {}
    explicit TByteReader(const std::vector<uint8_t>& bytes) : TByteReader(bytes.data(), bytes.size()) {}

    uint64_t Size() const { return size_; }
    uint64_t Position() const { return pos_; }
    uint64_t Remaining() const { return size_ - pos_; }
    bool Failed() const { return failed_; }
    bool AtEnd() const { return pos_ >= size_; }
    const uint8_t* Data() const { return data_; }

    // Moves to an absolute offset; an offset past the end fails and leaves the position unchanged.
    bool Seek(uint64_t offset) {
        if (offset > size_) return Fail();
        pos_ = offset;
        return true;
    }
    bool Skip(uint64_t count) {
        if (count > Remaining()) return Fail();
        pos_ += count;
        return true;
    }
    // True when count bytes can be read from the current position.
    bool Has(uint64_t count) const { return count <= Remaining(); }

    uint8_t U8() {
        uint8_t v = 0;
        Take(&v, 1);
        return v;
    }
    uint16_t LE16() { return static_cast<uint16_t>(Little(2)); }
    uint32_t LE32() { return static_cast<uint32_t>(Little(4)); }
    uint64_t LE64() { return Little(8); }
    uint16_t BE16() { return static_cast<uint16_t>(Big(2)); }
    uint32_t BE24() { return static_cast<uint32_t>(Big(3)); }
    uint32_t BE32() { return static_cast<uint32_t>(Big(4)); }
    // Four bytes of seven bits each, most significant first (the ID3v2 size format).
    uint32_t Synchsafe32() {
        uint8_t b[4] = {};
        if (!Take(b, 4)) return 0;
        return (uint32_t(b[0] & 0x7F) << 21) | (uint32_t(b[1] & 0x7F) << 14) | (uint32_t(b[2] & 0x7F) << 7) |
               uint32_t(b[3] & 0x7F);
    }

    // The next count bytes as a view; empty (and failed) when they are not all there.
    std::span<const uint8_t> Bytes(uint64_t count) {
        if (count > Remaining()) {
            Fail();
            return {};
        }
        std::span<const uint8_t> out(data_ + pos_, count);
        pos_ += count;
        return out;
    }
    std::string String(uint64_t count) {
        auto b = Bytes(count);
        return std::string(reinterpret_cast<const char*>(b.data()), b.size());
    }
    // A reader over the next count bytes, advancing past them.
    TByteReader Sub(uint64_t count) {
        auto b = Bytes(count);
        TByteReader r(b.data(), b.size());
        if (failed_) r.failed_ = true;
        return r;
    }
    // True when the bytes at the current position equal magic; does not advance.
    bool Peek(std::string_view magic) const {
        return magic.size() <= Remaining() && std::memcmp(data_ + pos_, magic.data(), magic.size()) == 0;
    }

    // Helpers for bytes already known to be in range.
    static uint32_t BE32At(const uint8_t* p) {
        return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
    }
    static uint32_t LE32At(const uint8_t* p) {
        return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
    }
    static uint16_t LE16At(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

private:
    bool Fail() {
        failed_ = true;
        return false;
    }
    bool Take(uint8_t* out, uint64_t count) {
        if (failed_ || count > Remaining()) {
            std::memset(out, 0, count);
            return Fail();
        }
        std::memcpy(out, data_ + pos_, count);
        pos_ += count;
        return true;
    }
    uint64_t Little(int n) {
        uint8_t b[8] = {};
        if (!Take(b, n)) return 0;
        uint64_t v = 0;
        for (int i = n - 1; i >= 0; --i) v = (v << 8) | b[i];
        return v;
    }
    uint64_t Big(int n) {
        uint8_t b[8] = {};
        if (!Take(b, n)) return 0;
        uint64_t v = 0;
        for (int i = 0; i < n; ++i) v = (v << 8) | b[i];
        return v;
    }

    const uint8_t* data_ = nullptr;
    uint64_t size_ = 0;
    uint64_t pos_ = 0;
    bool failed_ = false;
};

// Reads up to count bytes at offset; the result holds what the stream had (fewer at its end).
inline std::vector<uint8_t> ReadStreamAt(TStream& stream, int64_t offset, int64_t count) {
    std::vector<uint8_t> out;
    if (offset < 0 || count <= 0) return out;
    // Small reads just try (asking for the size costs a system call); large ones are bounded first.
    if (count > (int64_t(1) << 20)) {
        int64_t size = stream.Size();
        if (offset >= size) return out;
        count = std::min(count, size - offset);
    }
    out.resize(static_cast<size_t>(count));
    out.resize(static_cast<size_t>(std::max<int64_t>(0, stream.ReadAt(offset, out.data(), count))));
    return out;
}

} // namespace lumora
