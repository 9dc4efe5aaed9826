#include "audio/tags/TagText.h"

#include <algorithm>
#include <vector>

namespace lumora {

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
