#include "framework/LegacyText.h"

#include <iconv.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <initializer_list>
#include <vector>

namespace lumora {

namespace {

// One conversion descriptor per direction and thread, opened on first use. A descriptor that
// cannot be opened (no such converter installed) makes every conversion through it fail.
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

// ---- Characters ----

// Kanji a Japanese reader meets every day (tools/make-legacy-text-tables).
constexpr uint16_t commonKanji[] = {
#include "framework/CommonKanji.inc"
};

bool IsCommonKanji(char32_t c) {
    return c <= 0xFFFF && std::binary_search(std::begin(commonKanji), std::end(commonKanji), static_cast<uint16_t>(c));
}

bool IsAsciiLetter(char32_t c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
bool IsDigit(char32_t c) { return c >= '0' && c <= '9'; }
bool IsBlank(char32_t c) { return c == 0 || c == ' ' || c == '\t' || c == 0xA0 || c == 0x3000; }

// Letters of the Western code pages and the Latin blocks of UTF-8, beyond ASCII.
bool IsLatinLetter(char32_t c) { return c >= 0xC0 && c <= 0x17F && c != 0xD7 && c != 0xF7; }
bool IsLetter(char32_t c) { return IsAsciiLetter(c) || IsLatinLetter(c); }
bool IsUpper(char32_t c) {
    if (c < 0x80) return c >= 'A' && c <= 'Z';
    if (c >= 0xC0 && c <= 0xDE) return c != 0xD7;
    // Latin Extended-A pairs capitals and small letters, the capital first, except in two stretches.
    if (c >= 0x100 && c <= 0x17F) {
        if (c == 0x178) return true;
        if ((c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E)) return c % 2 == 1;
        return c != 0x138 && c != 0x149 && c != 0x17F && c % 2 == 0;
    }
    return false;
}
bool IsLower(char32_t c) { return IsLetter(c) && !IsUpper(c); }
// Accented capitals Western text rarely holds without plain letters beside them.
bool IsRareCapital(char32_t c) {
    return c == 0xC2 || c == 0xCA || c == 0xCC || c == 0xCE || c == 0xCF || c == 0xCB || c == 0xD0 || c == 0xD2 ||
           c == 0xD4 || c == 0xD9 || c == 0xDB || c == 0xDD || c == 0xDE || c == 0x178;
}

bool IsKana(char32_t c) {
    return (c >= 0x3041 && c <= 0x3096) || (c >= 0x309D && c <= 0x309E) || (c >= 0x30A1 && c <= 0x30FA) ||
           (c >= 0x30FC && c <= 0x30FE) || c == 0x3005 || c == 0x3006;
}
bool IsKanji(char32_t c) { return (c >= 0x4E00 && c <= 0x9FFF) || (c >= 0xF900 && c <= 0xFAFF) || c == 0x3007; }
bool IsFullWidthForm(char32_t c) { return (c >= 0xFF01 && c <= 0xFF5E) || (c >= 0xFFE0 && c <= 0xFFE5); }
// Greek and Cyrillic: whole words of them are text (in UTF-8, or full-width in CP932), a lone
// letter among Latin ones is not.
bool IsGreekOrCyrillic(char32_t c) { return c >= 0x0370 && c <= 0x04FF; }
// The punctuation and symbols of the double-byte rows of CP932: CJK punctuation, arrows, shapes,
// circled numbers, box drawing.
bool IsWideSymbol(char32_t c) {
    return (c >= 0x3000 && c <= 0x303F && !IsKana(c) && c != 0x3007) ||
           (c >= 0x2010 && c <= 0x2312 && c != 0x2013 && c != 0x2014 && !(c >= 0x2018 && c <= 0x201E) &&
            c != 0x2026 && c != 0x20AC && c != 0x2122 && c != 0x2022 && c != 0x2020 && c != 0x2021 &&
            c != 0x2030 && c != 0x2039 && c != 0x203A) ||
           (c >= 0x2460 && c <= 0x27BF) || (c >= 0x3200 && c <= 0x33FF);
}
bool IsWideJapanese(char32_t c) { return IsKana(c) || IsKanji(c) || IsFullWidthForm(c) || IsWideSymbol(c); }
bool IsHalfWidth(char32_t c) { return c >= 0xFF61 && c <= 0xFF9F; }
bool IsHalfWidthLetter(char32_t c) { return c >= 0xFF66 && c <= 0xFF9D && c != 0xFF70; }
// Half-width katakana that take the voiced mark ﾞ (ｳ, ｶ-ﾄ, ﾊ-ﾎ) and the semi-voiced mark ﾟ (ﾊ-ﾎ).
bool TakesVoicedMark(char32_t c) { return c == 0xFF73 || (c >= 0xFF76 && c <= 0xFF84) || (c >= 0xFF8A && c <= 0xFF8E); }
bool TakesSemiVoicedMark(char32_t c) { return c >= 0xFF8A && c <= 0xFF8E; }

bool IsControl(char32_t c) { return (c < 0x20 && c != '\t' && c != '\n' && c != '\r') || (c >= 0x7F && c <= 0x9F); }
bool IsUnreadable(char32_t c) {
    return (c >= 0xE000 && c <= 0xF8FF) || c == 0xFFFD || (c >= 0xFFF0 && c <= 0xFFFF) || (c >= 0xD800 && c <= 0xDFFF);
}

std::u32string CodePoints(std::string_view utf8) {
    std::u32string out;
    for (size_t i = 0; i < utf8.size();) {
        auto b = static_cast<unsigned char>(utf8[i]);
        int extra = b < 0x80 ? 0 : b < 0xE0 ? 1 : b < 0xF0 ? 2 : 3;
        char32_t c = extra == 0 ? b : extra == 1 ? (b & 0x1F) : extra == 2 ? (b & 0x0F) : (b & 0x07);
        for (int k = 1; k <= extra && i + k < utf8.size(); ++k) c = (c << 6) | (static_cast<unsigned char>(utf8[i + k]) & 0x3F);
        out += c;
        i += static_cast<size_t>(extra) + 1;
    }
    return out;
}

// ---- Plausibility ----

// How much the characters look like text a person wrote, summed over the characters beyond ASCII
// in their places (ASCII alone reads the same in every reading). Roughly one point per byte of a
// character where it belongs, less where it does not.
class TPlausibility {
public:
    explicit TPlausibility(const std::u32string& text) : t_(text) { MarkWords(); }

    // utf8Bonus: what each character beyond ASCII adds for being valid UTF-8, more where it is in
    // its place than where it is not.
    double Score(bool utf8Bonus = false) const {
        double score = 0;
        for (size_t i = 0; i < t_.size(); ++i) {
            double one = CharScore(i);
            if (utf8Bonus && t_[i] >= 0x80) one += one > 0 ? 3 : 1;
            score += one;
        }
        return score;
    }

private:
    struct TWord {
        size_t Begin = 0, End = 0, Ascii = 0, Upper = 0, Lower = 0;
    };
    const std::u32string& t_;
    std::vector<TWord> words_;
    std::vector<int> wordOf_;

    char32_t At(size_t i) const { return i < t_.size() ? t_[i] : 0; }
    bool HoldsAsciiLetter() const { return std::any_of(t_.begin(), t_.end(), IsAsciiLetter); }
    char32_t Before(size_t i) const { return i > 0 ? t_[i - 1] : 0; }

    void MarkWords() {
        wordOf_.assign(t_.size(), -1);
        for (size_t i = 0; i < t_.size();) {
            if (!IsLetter(t_[i])) {
                ++i;
                continue;
            }
            TWord w;
            w.Begin = i;
            while (i < t_.size() && IsLetter(t_[i])) {
                w.Ascii += IsAsciiLetter(t_[i]);
                w.Upper += IsUpper(t_[i]);
                w.Lower += IsLower(t_[i]);
                wordOf_[i] = static_cast<int>(words_.size());
                ++i;
            }
            w.End = i;
            words_.push_back(w);
        }
    }

    // The run of characters around i that the predicate holds for.
    template <class Pred> std::pair<size_t, size_t> RunAround(size_t i, Pred pred) const {
        size_t b = i, e = i + 1;
        while (b > 0 && pred(t_[b - 1])) --b;
        while (e < t_.size() && pred(t_[e])) ++e;
        return {b, e};
    }

    double CharScore(size_t i) const {
        char32_t c = t_[i];
        if (IsControl(c)) return c < 0x80 ? -4 : -6;
        if (c < 0x80) return 0;
        if (IsUnreadable(c)) return -8;
        if (IsLatinLetter(c)) return LatinLetterScore(i);
        if (IsHalfWidth(c)) return HalfWidthScore(i);
        if (IsGreekOrCyrillic(c)) return GreekOrCyrillicScore(i);
        if (IsWideJapanese(c)) return WideJapaneseScore(i);
        return PunctuationScore(i);
    }

    double LatinLetterScore(size_t i) const {
        char32_t c = t_[i];
        const TWord& w = words_[static_cast<size_t>(wordOf_[i])];
        size_t length = w.End - w.Begin;
        if (IsLower(c)) {
            // A small letter right before a capital within a word is no word ("éA").
            if (i + 1 < w.End && IsUpper(t_[i + 1]) && w.Lower > 1) return -2;
            if (length >= 3) return 1.5;
            if (length == 2) return 0.5;
            return c == 0xE0 || c == 0xE9 ? 0.5 : -0.5; // "à", "é" stand alone as words
        }
        if (w.Lower == 0) {
            // A word in capitals: with plain letters ("ÉTÉ", "CRÜE") like any; made of accented
            // capitals alone ("ÅÄÖ"), only of those Western text has; glued to a plain capital or
            // two ("AÅÄ"), rather a capital run.
            bool afterAccented = i > w.Begin && !IsAsciiLetter(t_[i - 1]);
            if (w.Ascii >= length - w.Ascii) return IsRareCapital(c) || afterAccented ? 0.5 : 1.5;
            if (i > w.Begin && t_[i - 1] == c) return -1;
            if (length == 1) return c == 0xC0 || c == 0xC9 ? 1 : 0.2; // "À", "É"
            double value = IsRareCapital(c) ? 0.2 : length == 2 ? 0.9 : 1.3;
            return w.Ascii == 0 ? value : value / 2;
        }
        if (i == w.Begin) {
            if (length == 1) return c == 0xC0 || c == 0xC9 ? 1 : 0.2; // "À", "É"
            return IsUpper(t_[i + 1]) ? -1 : 1.5;                       // "Été", not "ŽVol"
        }
        return -2; // a capital after small letters
    }

    double HalfWidthScore(size_t i) const {
        char32_t c = t_[i], prev = Before(i);
        auto [b, e] = RunAround(i, IsHalfWidth);
        size_t length = e - b;
        bool prevInRun = i > b;
        bool touchesLetters = IsLetter(Before(b)) || IsLetter(At(e));
        double score;
        if (c == 0xFF9E) score = prevInRun && TakesVoicedMark(prev) ? 1.5 : -3;
        else if (c == 0xFF9F) score = prevInRun && TakesSemiVoicedMark(prev) ? 1.5 : -3;
        else if (c >= 0xFF67 && c <= 0xFF6F) score = prevInRun && (IsHalfWidthLetter(prev) || prev == 0xFF9E || prev == 0xFF9F) ? 1 : -2;
        else if (c == 0xFF70) score = prevInRun && IsHalfWidthLetter(prev) ? 1 : -1;
        else if (c == 0xFF9D) score = prevInRun ? 1 : -0.5;
        else if (c >= 0xFF61 && c <= 0xFF65) score = length > 1 ? 0.3 : -1.5;
        else score = 1;
        if (length == 1) score -= touchesLetters ? 2.5 : HoldsAsciiLetter() ? 1.5 : 0.5;
        else if (IsLetter(Before(b)) && IsLetter(At(e))) score -= 1; // wedged into a Latin word
        return score;
    }

    double WideJapaneseScore(size_t i) const {
        char32_t c = t_[i];
        auto [b, e] = RunAround(i, IsWideJapanese);
        size_t length = e - b;
        bool letterBefore = IsLetter(Before(b)), letterAfter = IsLetter(At(e));
        double score;
        bool rare = false;
        if (IsKana(c)) {
            score = 2;
        } else if (IsKanji(c)) {
            rare = !IsCommonKanji(c);
            score = rare ? 1 : 2;
        } else if (IsFullWidthForm(c)) {
            score = length > 1 ? 1.5 : 0.3;
        } else {
            // Symbols among Japanese text ("【公式】", "☆"), not among others of their kind.
            bool japanese = false;
            for (size_t k = b; k < e; ++k) japanese = japanese || IsKana(t_[k]) || IsKanji(t_[k]) || IsFullWidthForm(t_[k]);
            score = japanese ? 0.5 : -1;
        }
        // A lone kana or kanji glued to Latin letters ("I知 Yours"), a rare kanji wedged between
        // them ("Cr鑪e") or standing alone among Latin words ("Sommaren 舐 kort") is how Western
        // bytes look in CP932, not how Japanese is written.
        if (!IsKana(c) && !IsKanji(c)) return score;
        if (length == 1 && (letterBefore || letterAfter)) score -= letterBefore && letterAfter ? 4 : letterAfter ? 2 : 1.5;
        else if (rare && (letterBefore || letterAfter)) score -= letterBefore && letterAfter ? 2 : 1;
        else if (rare && length == 1 && HoldsAsciiLetter()) score -= 1;
        return score;
    }

    double GreekOrCyrillicScore(size_t i) const {
        auto [b, e] = RunAround(i, IsGreekOrCyrillic);
        if (IsLetter(Before(b)) || IsLetter(At(e))) return -3;
        return e - b > 1 ? 1 : -2;
    }

    double PunctuationScore(size_t i) const {
        char32_t c = t_[i], p = Before(i), n = At(i + 1);
        bool pLetter = IsLetter(p), nLetter = IsLetter(n), pDigit = IsDigit(p), nDigit = IsDigit(n);
        bool pOpen = p == 0 || IsBlank(p) || p == '(' || p == '[' || p == '"' || p == 0x201E || p == 0xAB;
        bool nClose = n == 0 || IsBlank(n) || n == ')' || n == ']' || n == ',' || n == '.' || n == '!' || n == '?' ||
                      n == ':' || n == ';' || n == 0x2026 || n == 0xBB || n == 0x201D || n == 0x2019;
        // An opening quote counts where its closing one follows.
        auto closedLater = [&](std::initializer_list<char32_t> closers) {
            for (size_t k = i + 1; k < t_.size(); ++k)
                for (char32_t closer : closers)
                    if (t_[k] == closer) return true;
            return false;
        };
        switch (c) {
        case 0x2019: // ’
            if (pLetter && nLetter) return 2;
            if (pLetter && nClose) return 1;
            if (pOpen && (nLetter || nDigit)) return 0.8;
            return -1;
        case 0x2018: // ‘
            if (pOpen && (nLetter || nDigit)) return closedLater({0x2019}) ? 1.5 : 0.5; // or "‘Round Midnight"
            return -1;
        case 0x201C: // “ opens, or closes German „…“
            if (pOpen && (nLetter || nDigit || n == 0x2026)) return closedLater({0x201D}) ? 1.5 : -0.5;
            if ((pLetter || pDigit || p == '.' || p == '!' || p == '?' || p == 0x2026) && nClose &&
                t_.find(char32_t{0x201E}) < i)
                return 1.5;
            return -1;
        case 0x201D: // ”, closing a quote
            if ((pLetter || pDigit || p == '.' || p == '!' || p == '?' || p == 0x2026) && nClose)
                return t_.find(char32_t{0x201C}) < i ? 1.5 : -0.5;
            return -1;
        case 0x201E: // „
            if (pOpen && (nLetter || nDigit)) return closedLater({0x201C, 0x201D}) ? 1.5 : -0.5;
            return -1;
        case 0x201A: // ‚
            return pOpen && nLetter ? 0.5 : -1.5;
        case 0x2013: // –
        case 0x2014: // —
            if (IsBlank(p) && IsBlank(n)) return 1.5;
            if (pDigit && nDigit) return 1.5;
            if ((p == 0 || IsBlank(p)) && nLetter) return 0.5; // a line of dialogue: "–Mi tonner"
            if (pLetter && nLetter) return c == 0x2014 ? 1 : 0;
            if (p == 0 || n == 0) return 0.3;
            return -0.5;
        case 0x2026: // …
            if ((pLetter || pDigit || p == '.' || p == '!' || p == '?' || p == ')') && (nClose || nLetter)) return 1.5;
            if (pOpen && (nLetter || nDigit)) return 1;
            return -0.5;
        case 0x20AC: // €
            if (pDigit || nDigit) return 1.5;
            if (IsBlank(p) && (IsBlank(n) || n == 0)) return 0.5;
            return -1;
        case 0x2122: // ™
        case 0xAE:   // ®
            if (pLetter || pDigit || p == ')') return nLetter || nDigit ? -1 : 1.5;
            return c == 0xAE && pOpen && !nLetter ? 0.8 : -1;
        case 0xA9: // ©
            return (pOpen || IsBlank(p)) && (IsBlank(n) || nDigit || n == 0) ? 0.8 : -1;
        case 0x2022: // •
            return IsBlank(p) && IsBlank(n) ? 0.5 : -1;
        case 0x2030: // ‰
            return pDigit ? 0.5 : -2;
        case 0x2039: // ‹
        case 0x203A: // ›
            return -0.5;
        case 0xA1: // ¡
        case 0xBF: // ¿
            return pOpen && (nLetter || nDigit) ? 1.5 : -2;
        case 0xAB: // «
            return pOpen && (nLetter || nDigit || IsBlank(n)) && closedLater({0xBB}) ? 1.2 : -1.5;
        case 0xBB: // »
            return (pLetter || pDigit || IsBlank(p) || p == '.' || p == '!' || p == '?') && nClose ? 1.2 : -1.5;
        case 0xB0: // °
        case 0xBA: // º (1º)
        case 0xAA: // ª (2ª)
            return pDigit ? 1.2 : -1.5;
        case 0xB2: // ²
        case 0xB3: // ³
            return (pLetter || pDigit) && !nLetter ? 0.5 : -1.5;
        case 0xA3: // £
        case 0xA5: // ¥
            return nDigit ? 1 : -1.5;
        case 0xBC: // ¼
        case 0xBD: // ½
        case 0xBE: // ¾
            return (pDigit || pOpen) && !nLetter ? 0.5 : -1.5;
        case 0xB7: // ·
            return (pLetter && nLetter) || (IsBlank(p) && IsBlank(n)) ? 0.5 : -1.5;
        case 0xA7: // §
            return pOpen && (IsBlank(n) || nDigit) ? 0.5 : -1.5;
        case 0xD7: // × ("2×3", "SPY×FAMILY", "A × B")
            return (pDigit || pLetter || IsBlank(p)) && (nDigit || nLetter || IsBlank(n)) ? 0.5 : -2;
        default:
            return -2;
        }
    }
};

double Plausibility(std::string_view utf8, bool utf8Bonus = false) {
    std::u32string text = CodePoints(utf8);
    return TPlausibility(text).Score(utf8Bonus);
}

bool HoldsMultiByteUtf8(std::string_view bytes) { return !IsAscii(bytes) && IsValidUtf8(bytes); }

struct TCandidate {
    TTextReading Reading = TTextReading::Ascii;
    std::string Text;
    double Score = 0;
};

// Every reading of the bytes with its plausibility, in the order that wins ties.
std::vector<TCandidate> Readings(std::string_view bytes) {
    std::vector<TCandidate> out;
    if (HoldsMultiByteUtf8(bytes)) {
        // Valid multi-byte UTF-8 is seldom anything else: each sequence counts for it.
        std::string text(bytes);
        out.push_back({TTextReading::Utf8, text, Plausibility(text, true)});
    }
    if (auto text = CP932ToUtf8(bytes)) out.push_back({TTextReading::CP932, *text, Plausibility(*text)});
    std::string western = Windows1252ToUtf8(bytes);
    out.push_back({TTextReading::Windows1252, western, Plausibility(western)});
    return out;
}

const TCandidate& Best(const std::vector<TCandidate>& candidates) {
    const TCandidate* best = &candidates.front();
    for (const auto& c : candidates)
        if (c.Score > best->Score) best = &c;
    return *best;
}

bool IsCP932Lead(unsigned char c) { return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC); }

// The bytes without a lead byte of CP932 left alone at their end, when they end in one.
std::optional<std::string_view> WithoutCutLead(std::string_view bytes) {
    size_t at = 0;
    while (at + 1 < bytes.size()) at += IsCP932Lead(static_cast<unsigned char>(bytes[at])) ? 2 : 1;
    if (at + 1 != bytes.size() || !IsCP932Lead(static_cast<unsigned char>(bytes[at]))) return std::nullopt;
    return bytes.substr(0, at);
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

std::string Windows1252ToUtf8(std::string_view bytes) {
    thread_local TIconv cd("UTF-8", "WINDOWS-1252");
    if (auto whole = cd.Convert(bytes)) return *whole;
    // The five bytes Windows-1252 leaves unused (0x81, 0x8D, 0x8F, 0x90, 0x9D) read as ISO-8859-1.
    std::string out;
    size_t start = 0;
    for (size_t i = 0; i <= bytes.size(); ++i) {
        if (i < bytes.size() && cd.Convert(bytes.substr(i, 1))) continue;
        if (auto part = cd.Convert(bytes.substr(start, i - start))) out += *part;
        if (i < bytes.size()) out += DecodeLatin1(bytes.substr(i, 1));
        start = i + 1;
    }
    return out;
}

std::optional<std::string> Utf8ToWindows1252(std::string_view utf8) {
    thread_local TIconv cd("WINDOWS-1252", "UTF-8");
    return cd.Convert(utf8);
}

bool IsAscii(std::string_view bytes) {
    for (unsigned char c : bytes)
        if (c >= 0x80) return false;
    return true;
}

TTextReading ChooseReading(std::string_view bytes) {
    if (IsAscii(bytes)) return TTextReading::Ascii;
    return Best(Readings(bytes)).Reading;
}

std::string DecodeLegacyText(std::string_view bytes) {
    if (IsAscii(bytes)) return std::string(bytes);
    return Best(Readings(bytes)).Text;
}

std::string DecodeFullLegacyField(std::string_view bytes) {
    if (IsAscii(bytes)) return std::string(bytes);
    std::vector<TCandidate> candidates = Readings(bytes);
    // The field without the lead byte of a cut character, read as CP932 (that is where a cut
    // happens) or as the rest reads best.
    if (auto cut = WithoutCutLead(bytes)) {
        std::vector<TCandidate> shorter = IsAscii(*cut) ? std::vector<TCandidate>{{TTextReading::Ascii, std::string(*cut), 0}}
                                                        : Readings(*cut);
        // A full field is where cuts happen: the cut reading wins ties and near ties.
        const TCandidate& best = Best(shorter);
        if (best.Score + 0.5 > Best(candidates).Score) return best.Text;
    }
    return Best(candidates).Text;
}

bool IsValidUtf8(std::string_view bytes) {
    for (size_t at = 0; at < bytes.size();) {
        auto byte = [&](size_t i) { return static_cast<unsigned char>(bytes[i]); };
        unsigned char lead = byte(at);
        if (lead < 0x80) {
            ++at;
            continue;
        }
        size_t length = lead >= 0xC2 && lead <= 0xDF   ? 2
                        : lead >= 0xE0 && lead <= 0xEF ? 3
                        : lead >= 0xF0 && lead <= 0xF4 ? 4
                                                       : 0;
        if (length == 0 || at + length > bytes.size()) return false;
        // The second byte's range excludes overlong forms, surrogates and code points past U+10FFFF.
        unsigned char second = byte(at + 1);
        unsigned char low = lead == 0xE0 ? 0xA0 : lead == 0xF0 ? 0x90 : 0x80;
        unsigned char high = lead == 0xED ? 0x9F : lead == 0xF4 ? 0x8F : 0xBF;
        if (second < low || second > high) return false;
        for (size_t i = 2; i < length; ++i)
            if ((byte(at + i) & 0xC0) != 0x80) return false;
        at += length;
    }
    return true;
}

std::string SanitizeUtf8(std::string_view bytes) {
    if (IsValidUtf8(bytes)) return std::string(bytes);
    return DecodeLegacyText(bytes);
}

} // namespace lumora
