#include "framework/LegacyText.h"

#include <iconv.h>

#include <cerrno>

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

bool IsCP932Lead(unsigned char c) { return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC); }
bool IsLatin1Control(unsigned char c) { return c >= 0x80 && c <= 0x9F; }
bool IsAsciiLetter(unsigned char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
// À to ÿ without × and ÷.
bool IsLatin1Letter(unsigned char c) { return c >= 0xC0 && c != 0xD7 && c != 0xF7; }

// The user-defined area of CP932 (lead bytes 0xF0-0xF9) converts to U+E000-U+E757, characters
// that no font shows; text holding one is not Japanese anyone wrote.
bool HoldsPrivateUse(std::string_view utf8) {
    for (size_t i = 0; i + 1 < utf8.size(); ++i) {
        auto lead = static_cast<unsigned char>(utf8[i]), next = static_cast<unsigned char>(utf8[i + 1]);
        if (lead == 0xEE || (lead == 0xEF && next >= 0x80 && next <= 0xA3)) return true;
    }
    return false;
}

// Whether the run of bytes [begin, end), all 0x80 or above, looks like ISO-8859-1 among ASCII text.
bool LooksLatin1(std::string_view s, size_t begin, size_t end) {
    auto at = [&](size_t i) { return i < s.size() ? static_cast<unsigned char>(s[i]) : 0; };
    // A small accented letter before an ASCII capital ("åK") is no word; a rare kanji ("薔").
    if (end - begin == 1) return !(at(begin) >= 0xE0 && at(end) >= 'A' && at(end) <= 'Z');
    if (end - begin != 2) return false;
    bool touchesLetter = (begin > 0 && IsAsciiLetter(at(begin - 1))) || IsAsciiLetter(at(end));
    return touchesLetter && (IsLatin1Letter(at(begin)) || IsLatin1Letter(at(end - 1)));
}

// Length of the well-formed UTF-8 sequence at s[at]; 0 when none starts there.
size_t Utf8SequenceAt(std::string_view s, size_t at) {
    auto byte = [&](size_t i) { return static_cast<unsigned char>(s[i]); };
    unsigned char lead = byte(at);
    if (lead < 0x80) return 1;
    size_t length = lead >= 0xC2 && lead <= 0xDF   ? 2
                    : lead >= 0xE0 && lead <= 0xEF ? 3
                    : lead >= 0xF0 && lead <= 0xF4 ? 4
                                                   : 0;
    if (length == 0 || at + length > s.size()) return 0;
    // The second byte's range excludes overlong forms, surrogates and code points past U+10FFFF.
    unsigned char second = byte(at + 1);
    unsigned char low = lead == 0xE0 ? 0xA0 : lead == 0xF0 ? 0x90 : 0x80;
    unsigned char high = lead == 0xED ? 0x9F : lead == 0xF4 ? 0x8F : 0xBF;
    if (second < low || second > high) return 0;
    for (size_t i = 2; i < length; ++i)
        if ((byte(at + i) & 0xC0) != 0x80) return 0;
    return length;
}

// The Japanese reading of the bytes when they read as Japanese.
std::optional<std::string> JapaneseReading(std::string_view bytes) {
    if (IsAscii(bytes)) return std::nullopt;
    std::optional<std::string> text = CP932ToUtf8(bytes);
    if (!text || HoldsPrivateUse(*text)) return std::nullopt;
    int japanese = 0, latin1 = 0;
    for (size_t i = 0; i < bytes.size();) {
        if (static_cast<unsigned char>(bytes[i]) < 0x80) {
            ++i;
            continue;
        }
        size_t end = i;
        while (end < bytes.size() && static_cast<unsigned char>(bytes[end]) >= 0x80) {
            if (IsLatin1Control(static_cast<unsigned char>(bytes[end]))) return text;
            ++end;
        }
        ++(LooksLatin1(bytes, i, end) ? latin1 : japanese);
        i = end;
    }
    if (japanese > 0 && japanese >= latin1) return text;
    return std::nullopt;
}

} // namespace

std::optional<std::string> CP932ToUtf8(std::string_view bytes) {
    thread_local TIconv cd("UTF-8", "CP932");
    return cd.Convert(bytes);
}

std::optional<std::string> Utf8ToCP932(std::string_view utf8) {
    thread_local TIconv cd("CP932", "UTF-8");
    return cd.Convert(utf8);
}

std::string DecodeLatin1(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size() * 2);
    for (unsigned char c : bytes) {
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

bool IsAscii(std::string_view bytes) {
    for (unsigned char c : bytes)
        if (c >= 0x80) return false;
    return true;
}

bool ReadsAsJapanese(std::string_view bytes) { return JapaneseReading(bytes).has_value(); }

std::string DecodeLegacyText(std::string_view bytes) {
    if (IsAscii(bytes)) return std::string(bytes);
    if (auto text = JapaneseReading(bytes)) return *text;
    return DecodeLatin1(bytes);
}

std::string DecodeFullLegacyField(std::string_view bytes) {
    // Walk the CP932 characters to see whether the last byte is a lead byte left alone.
    size_t at = 0;
    while (at + 1 < bytes.size()) at += IsCP932Lead(static_cast<unsigned char>(bytes[at])) ? 2 : 1;
    if (at + 1 == bytes.size()) {
        auto last = static_cast<unsigned char>(bytes[at]);
        std::string_view whole = bytes.substr(0, at);
        if (IsCP932Lead(last) && (IsLatin1Control(last) || ReadsAsJapanese(whole))) return DecodeLegacyText(whole);
    }
    return DecodeLegacyText(bytes);
}

bool IsValidUtf8(std::string_view bytes) {
    for (size_t at = 0; at < bytes.size();) {
        size_t length = Utf8SequenceAt(bytes, at);
        if (length == 0) return false;
        at += length;
    }
    return true;
}

std::string SanitizeUtf8(std::string_view bytes) {
    if (IsValidUtf8(bytes)) return std::string(bytes);
    return DecodeLegacyText(bytes);
}

} // namespace lumora
