#include "audio/tags/TagText.h"

#include <iconv.h>

#include <algorithm>
#include <cerrno>
#include <vector>

namespace lumora {

namespace {

// One conversion descriptor per direction and thread, opened on first use. A descriptor that
// cannot be opened (no CP932 module installed) makes every conversion through it fail, which the
// callers treat as "not CP932".
class TIconv {
public:
    TIconv(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
    ~TIconv() {
        if (cd_ != reinterpret_cast<iconv_t>(-1)) iconv_close(cd_);
    }
    TIconv(const TIconv&) = delete;
    TIconv& operator=(const TIconv&) = delete;

    // The whole input converted, or nothing when any byte sequence is invalid or unmappable.
    std::optional<std::string> Convert(std::string_view in) {
        if (cd_ == reinterpret_cast<iconv_t>(-1)) return std::nullopt;
        iconv(cd_, nullptr, nullptr, nullptr, nullptr);
        std::string out(in.size() * 4 + 16, '\0');
        char* src = const_cast<char*>(in.data());
        size_t srcLeft = in.size();
        char* dst = out.data();
        size_t dstLeft = out.size();
        while (srcLeft > 0) {
            size_t r = iconv(cd_, &src, &srcLeft, &dst, &dstLeft);
            if (r == static_cast<size_t>(-1)) {
                if (errno == E2BIG) {
                    size_t used = out.size() - dstLeft;
                    out.resize(out.size() * 2);
                    dst = out.data() + used;
                    dstLeft = out.size() - used;
                    continue;
                }
                return std::nullopt;
            }
            // glibc counts characters it replaced instead of failing as irreversible; refuse them.
            if (r > 0) return std::nullopt;
        }
        if (iconv(cd_, nullptr, nullptr, &dst, &dstLeft) == static_cast<size_t>(-1)) return std::nullopt;
        out.resize(out.size() - dstLeft);
        return out;
    }

private:
    iconv_t cd_;
};

TIconv& FromCP932() {
    thread_local TIconv cd("UTF-8", "CP932");
    return cd;
}

TIconv& ToCP932() {
    thread_local TIconv cd("CP932", "UTF-8");
    return cd;
}

bool IsAscii(std::string_view s) {
    for (unsigned char c : s)
        if (c >= 0x80) return false;
    return true;
}

bool IsCP932Lead(unsigned char c) {
    return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
}

// The length of the text without a lone CP932 lead byte at its end: the first half of a character
// that a fixed-size field cut off.
size_t WithoutCutCharacter(std::string_view bytes) {
    size_t i = 0;
    while (i < bytes.size()) {
        if (!IsCP932Lead(static_cast<unsigned char>(bytes[i]))) {
            ++i;
        } else if (i + 1 == bytes.size()) {
            return i;
        } else {
            i += 2;
        }
    }
    return bytes.size();
}

} // namespace

void AppendUtf8(std::string& out, uint32_t c) {
    if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) c = 0xFFFD;
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

uint32_t NextCodePoint(std::string_view s, size_t& pos) {
    auto byte = [&](size_t i) { return static_cast<unsigned char>(s[i]); };
    unsigned char b = byte(pos);
    int extra;
    uint32_t c, min;
    if (b < 0x80) {
        ++pos;
        return b;
    } else if ((b & 0xE0) == 0xC0) {
        extra = 1, c = b & 0x1F, min = 0x80;
    } else if ((b & 0xF0) == 0xE0) {
        extra = 2, c = b & 0x0F, min = 0x800;
    } else if ((b & 0xF8) == 0xF0) {
        extra = 3, c = b & 0x07, min = 0x10000;
    } else {
        ++pos;
        return 0xFFFD;
    }
    if (pos + extra >= s.size()) { // the sequence is cut by the end of the text
        ++pos;
        return 0xFFFD;
    }
    for (int i = 1; i <= extra; ++i) {
        unsigned char t = byte(pos + i);
        if ((t & 0xC0) != 0x80) {
            ++pos;
            return 0xFFFD;
        }
        c = (c << 6) | (t & 0x3F);
    }
    if (c < min || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
        ++pos;
        return 0xFFFD;
    }
    pos += extra + 1;
    return c;
}

bool IsValidUtf8(std::string_view s) {
    size_t pos = 0;
    while (pos < s.size()) {
        unsigned char b = static_cast<unsigned char>(s[pos]);
        if (b < 0x80) {
            ++pos;
            continue;
        }
        size_t before = pos;
        uint32_t c = NextCodePoint(s, pos);
        // A genuine U+FFFD is three bytes long; a replacement for a bad byte advances by one.
        if (c == 0xFFFD && pos - before != 3) return false;
    }
    return true;
}

std::string SanitizeUtf8(std::string_view bytes) {
    if (IsValidUtf8(bytes)) return std::string(bytes);
    return DecodeLegacy8Bit(bytes);
}

std::string DecodeLatin1(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size() * 2);
    for (unsigned char c : bytes) AppendUtf8(out, c);
    return out;
}

std::string DecodeLegacy8Bit(std::string_view bytes) {
    if (IsAscii(bytes)) return std::string(bytes);
    if (auto s = FromCP932().Convert(bytes)) return *s;
    // A field cut inside its last character keeps the whole characters before the cut. Plain ASCII
    // before one such byte is taken for an ISO-8859-1 word instead ("Caf\xE9").
    std::string_view whole = bytes.substr(0, WithoutCutCharacter(bytes));
    if (whole.size() < bytes.size() && !IsAscii(whole))
        if (auto s = FromCP932().Convert(whole)) return *s;
    return DecodeLatin1(bytes);
}

std::string DecodeUtf16(std::string_view bytes, TByteOrder order) {
    size_t pos = 0;
    auto unitAt = [&](size_t i, TByteOrder o) -> uint16_t {
        auto lo = static_cast<unsigned char>(bytes[i]), hi = static_cast<unsigned char>(bytes[i + 1]);
        if (o == TByteOrder::BigEndian) std::swap(lo, hi);
        return static_cast<uint16_t>(lo | (hi << 8));
    };
    if (bytes.size() >= 2) {
        auto b0 = static_cast<unsigned char>(bytes[0]), b1 = static_cast<unsigned char>(bytes[1]);
        if (b0 == 0xFF && b1 == 0xFE) {
            order = TByteOrder::LittleEndian;
            pos = 2;
        } else if (b0 == 0xFE && b1 == 0xFF) {
            order = TByteOrder::BigEndian;
            pos = 2;
        }
    }
    std::string out;
    out.reserve(bytes.size());
    while (pos + 1 < bytes.size()) {
        uint16_t u = unitAt(pos, order);
        pos += 2;
        if (u == 0) break;
        if (u >= 0xD800 && u <= 0xDBFF) {
            if (pos + 1 < bytes.size()) {
                uint16_t low = unitAt(pos, order);
                if (low >= 0xDC00 && low <= 0xDFFF) {
                    pos += 2;
                    AppendUtf8(out, 0x10000 + ((uint32_t(u) - 0xD800) << 10) + (low - 0xDC00));
                    continue;
                }
            }
            AppendUtf8(out, 0xFFFD);
        } else if (u >= 0xDC00 && u <= 0xDFFF) {
            AppendUtf8(out, 0xFFFD);
        } else {
            AppendUtf8(out, u);
        }
    }
    return out;
}

std::string EncodeUtf16(std::string_view utf8, TByteOrder order, bool withBom) {
    std::string out;
    auto put = [&](uint16_t u) {
        char lo = static_cast<char>(u & 0xFF), hi = static_cast<char>(u >> 8);
        if (order == TByteOrder::LittleEndian) {
            out += lo;
            out += hi;
        } else {
            out += hi;
            out += lo;
        }
    };
    if (withBom) put(0xFEFF);
    size_t pos = 0;
    while (pos < utf8.size()) {
        uint32_t c = NextCodePoint(utf8, pos);
        if (c >= 0x10000) {
            c -= 0x10000;
            put(static_cast<uint16_t>(0xD800 + (c >> 10)));
            put(static_cast<uint16_t>(0xDC00 + (c & 0x3FF)));
        } else {
            put(static_cast<uint16_t>(c));
        }
    }
    return out;
}

std::optional<std::string> EncodeLatin1(std::string_view utf8) {
    std::string out;
    out.reserve(utf8.size());
    size_t pos = 0;
    while (pos < utf8.size()) {
        uint32_t c = NextCodePoint(utf8, pos);
        if (c > 0xFF) return std::nullopt;
        out += static_cast<char>(c);
    }
    return out;
}

std::string EncodeCP932(std::string_view utf8, size_t maxBytes) {
    if (IsAscii(utf8)) return std::string(utf8.substr(0, std::min(maxBytes, utf8.size())));
    std::string out;
    size_t pos = 0;
    while (pos < utf8.size()) {
        size_t start = pos;
        uint32_t c = NextCodePoint(utf8, pos);
        std::string piece;
        if (c < 0x80) {
            piece = static_cast<char>(c);
        } else if (auto s = ToCP932().Convert(utf8.substr(start, pos - start)); s && c != 0xFFFD) {
            piece = *s;
        } else {
            piece = "?";
        }
        if (out.size() + piece.size() > maxBytes) break;
        out += piece;
    }
    return out;
}

std::string FitCP932(std::string_view utf8, size_t maxBytes) {
    if (IsAscii(utf8)) return std::string(utf8.substr(0, std::min(maxBytes, utf8.size())));
    size_t used = 0, pos = 0;
    while (pos < utf8.size()) {
        size_t start = pos;
        uint32_t c = NextCodePoint(utf8, pos);
        size_t width = 1;
        if (c >= 0x80) {
            if (auto s = ToCP932().Convert(utf8.substr(start, pos - start)); s && c != 0xFFFD) width = s->size();
        }
        if (used + width > maxBytes) return std::string(utf8.substr(0, start));
        used += width;
    }
    return std::string(utf8);
}

std::string TrimControl(std::string_view text) {
    size_t b = 0, e = text.size();
    while (b < e && static_cast<unsigned char>(text[b]) <= 0x20) ++b;
    while (e > b && static_cast<unsigned char>(text[e - 1]) <= 0x20) --e;
    return std::string(text.substr(b, e - b));
}

std::string TrimControlRight(std::string_view text) {
    size_t e = text.size();
    while (e > 0 && static_cast<unsigned char>(text[e - 1]) <= 0x20) --e;
    return std::string(text.substr(0, e));
}

std::optional<uint32_t> ParseDecimal(std::string_view text, uint32_t max) {
    if (text.empty() || text.size() > 10) return std::nullopt;
    uint64_t v = 0;
    for (char ch : text) {
        if (ch < '0' || ch > '9') return std::nullopt;
        v = v * 10 + static_cast<uint64_t>(ch - '0');
    }
    if (v > max) return std::nullopt;
    return static_cast<uint32_t>(v);
}

std::optional<uint32_t> ParseTrackText(std::string_view text, uint32_t max) {
    size_t slash = text.find('/');
    std::string_view number = text.substr(0, slash);
    if (slash != std::string_view::npos && !ParseDecimal(text.substr(slash + 1), 0xFFFF)) return std::nullopt;
    return number.empty() ? std::optional<uint32_t>(0) : ParseDecimal(number, max);
}

} // namespace lumora
