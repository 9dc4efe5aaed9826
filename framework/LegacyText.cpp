#include "framework/LegacyText.h"

#include <iconv.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <cmath>
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

// ---- The model of written text ----

// How often each character follows another in the text people write, learned from word lists and
// a Japanese dictionary by tools/make-legacy-text-model. Characters count as symbols: most on
// their own, kanji in groups by how common they are, the rest of Unicode by block. Values are
// natural logarithms of probabilities in hundredths.
enum TClass : uint8_t {
#define LEGACY_TEXT_MODEL_CLASS_NAMES
#include "framework/LegacyTextModel.inc"
#undef LEGACY_TEXT_MODEL_CLASS_NAMES
};

constexpr size_t symbolCount = LEGACY_TEXT_MODEL_SYMBOLS;
constexpr size_t classCount = LEGACY_TEXT_MODEL_CLASSES;

struct TSymbolRange {
    char32_t First, Last;
    uint16_t Symbol; // of First
    bool Each;       // each code point its own symbol, counting on from Symbol
};
constexpr TSymbolRange symbolRanges[] = {
#define LEGACY_TEXT_MODEL_RANGES
#include "framework/LegacyTextModel.inc"
#undef LEGACY_TEXT_MODEL_RANGES
};

struct TKanjiGroup {
    uint16_t CodePoint;
    uint8_t Group; // 1 most common ... 3; kanji not listed are group 4
};
constexpr TKanjiGroup kanjiGroups[] = {
#define LEGACY_TEXT_MODEL_KANJI
#include "framework/LegacyTextModel.inc"
#undef LEGACY_TEXT_MODEL_KANJI
};

struct TSymbolData {
    uint8_t Class;
    int16_t Leave;   // what the symbol leaves to the pairs of classes for what follows it
    int16_t InClass; // the share of one of its characters in its class
    uint16_t Size;   // how many characters it stands for
};
constexpr TSymbolData symbolData[] = {
#define LEGACY_TEXT_MODEL_SYMBOL
#include "framework/LegacyTextModel.inc"
#undef LEGACY_TEXT_MODEL_SYMBOL
};
static_assert(std::size(symbolData) == symbolCount);

constexpr int16_t classPairs[] = {
#define LEGACY_TEXT_MODEL_CLASS_PAIRS
#include "framework/LegacyTextModel.inc"
#undef LEGACY_TEXT_MODEL_CLASS_PAIRS
};
static_assert(std::size(classPairs) == classCount * classCount);

// What a class adds after two others, beyond what it has after the one before: for the classes
// never seen after them, and for those seen.
constexpr int16_t classContexts[] = {
#define LEGACY_TEXT_MODEL_CLASS_CONTEXTS
#include "framework/LegacyTextModel.inc"
#undef LEGACY_TEXT_MODEL_CLASS_CONTEXTS
};
static_assert(std::size(classContexts) == classCount * classCount);
struct TClassTriple {
    uint32_t Key; // (two back * classes + before) * classes + class
    int16_t Lift;
};
constexpr TClassTriple classTriples[] = {
#define LEGACY_TEXT_MODEL_CLASS_TRIPLES
#include "framework/LegacyTextModel.inc"
#undef LEGACY_TEXT_MODEL_CLASS_TRIPLES
};

struct TSymbolPair {
    uint16_t Before, After;
    int16_t Value;
};
constexpr TSymbolPair symbolPairs[] = {
#define LEGACY_TEXT_MODEL_PAIRS
#include "framework/LegacyTextModel.inc"
#undef LEGACY_TEXT_MODEL_PAIRS
};

constexpr uint16_t boundary = 0; // the start and the end of the text

// Latin Extended-A pairs capitals and small letters, the capital first, except in two stretches;
// Extended-B counts as small letters.
bool IsExtendedCapital(char32_t c) {
    if (c == 0x178) return true;
    if ((c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E)) return c % 2 == 1;
    return c <= 0x17F && c != 0x138 && c != 0x149 && c != 0x17F && c % 2 == 0;
}

// The learned tables spread out for lookups in constant time: every pair of symbols, what the
// pairs of classes give where the pair itself was never seen.
class TModel {
public:
    static const TModel& Get() {
        static const TModel model;
        return model;
    }

    uint16_t SymbolOf(char32_t c) const { return c < 0x10000 ? plane_[c] : FindSymbol(c); }

private:
    uint16_t FindSymbol(char32_t c) const {
        if (c < 0x100) return latin_[c];
        if (c >= 0x4E00 && c <= 0x9FFF) return static_cast<uint16_t>(LEGACY_TEXT_MODEL_KANJI1 + kanjiGroup_[c - 0x4E00] - 1);
        const TSymbolRange* end = std::end(symbolRanges);
        const TSymbolRange* r = std::upper_bound(std::begin(symbolRanges), end, c,
                                                 [](char32_t v, const TSymbolRange& x) { return v < x.First; });
        if (r == std::begin(symbolRanges) || c > (--r)->Last) return LEGACY_TEXT_MODEL_OTHER;
        if (r->Each) return static_cast<uint16_t>(r->Symbol + (c - r->First));
        if (c <= 0x24F && IsExtendedCapital(c)) return LEGACY_TEXT_MODEL_LATUPPER;
        return r->Symbol;
    }

public:
    int32_t Follow(uint16_t before, uint16_t after) const { return follow_[before * symbolCount + after]; }
    uint8_t ClassOf(uint16_t symbol) const { return symbolData[symbol].Class; }
    int32_t Lift(uint8_t back, uint8_t before, uint8_t cls) const { return lift_[(back * classCount + before) * classCount + cls]; }
    // The symbol of a byte of Windows-1252.
    uint16_t Western(unsigned char b) const { return western_[b]; }
    // The symbol of a single byte of CP932 or of a lead byte and the next, as iconv reads them;
    // noSymbol where it reads none (a lead byte alone, an unused byte or pair).
    static constexpr uint16_t noSymbol = 0xFFFF;
    uint16_t CP932Single(unsigned char b) const { return cp932Single_[b]; }
    uint16_t CP932Double(unsigned char lead, unsigned char trail) const { return cp932Double_[lead << 8 | trail]; }
    // The quote a symbol stands for, or 0.
    char32_t QuoteOf(uint16_t symbol) const { return quoteOf_[symbol]; }
    // That the next character's first byte in UTF-8 (or its lead byte in CP932) is this one: what a
    // field's end cut of a character tells of it. Summed over the symbols, so only for a cut.
    enum class TForm { Utf8, CP932 };
    int64_t LeadAfter(uint16_t before, unsigned char lead, TForm form) const {
        if (lead < 0x80) return -32000;
        // Summed over the symbols once for each symbol before a cut, and kept.
        thread_local std::vector<std::array<int32_t, 0x80>> sums[2];
        auto& rows = sums[form == TForm::Utf8 ? 0 : 1];
        if (rows.empty()) rows.resize(symbolCount);
        auto& row = rows[before];
        if (row[0] == 0) {
            const auto& leads = form == TForm::Utf8 ? utf8Leads_ : cp932Leads_;
            std::array<double, 0x80> sum{};
            for (size_t a = 1; a < symbolCount; ++a) {
                auto [low, high] = leads[a];
                if (low == 0) continue;
                double share = std::exp(follow_[before * symbolCount + a] / 100.0) * symbolData[a].Size / (high - low + 1);
                for (unsigned b = low; b <= high; ++b) sum[b - 0x80] += share;
            }
            for (size_t b = 0; b < 0x80; ++b) row[b] = static_cast<int32_t>(std::lround(std::log(std::max(sum[b], 1e-30)) * 100)) - 1;
        }
        return row[lead - 0x80];
    }

private:
    using TLeads = std::pair<unsigned char, unsigned char>; // the first bytes a symbol's characters begin with

    TModel() : follow_(symbolCount * symbolCount), utf8Leads_(symbolCount), cp932Leads_(symbolCount) {
        for (char32_t c = 0; c < 0x100; ++c) latin_[c] = static_cast<uint16_t>(symbolRanges[0].Symbol + c);
        kanjiGroup_.assign(0x9FFF - 0x4E00 + 1, 4);
        for (const auto& k : kanjiGroups) kanjiGroup_[k.CodePoint - 0x4E00] = k.Group;
        // The symbols of the Basic Multilingual Plane looked up directly.
        plane_.resize(0x10000);
        for (char32_t c = 0; c < 0x10000; ++c) plane_[c] = FindSymbol(c);
        for (size_t b = 0; b < symbolCount; ++b)
            for (size_t a = 0; a < symbolCount; ++a)
                follow_[b * symbolCount + a] = static_cast<int16_t>(
                    std::max(-32000, symbolData[b].Leave + classPairs[symbolData[b].Class * classCount + symbolData[a].Class] +
                                         symbolData[a].InClass));
        for (const auto& p : symbolPairs) follow_[p.Before * symbolCount + p.After] = p.Value;
        lift_.resize(classCount * classCount * classCount);
        for (size_t i = 0; i < lift_.size(); ++i) lift_[i] = classContexts[i / classCount];
        for (const auto& t : classTriples) lift_[t.Key] = t.Lift;
        for (unsigned b = 0; b < 0x100; ++b) {
            std::u32string c = CodePoints(Windows1252ToUtf8(std::string(1, static_cast<char>(b))));
            western_[b] = SymbolOf(c.empty() ? char32_t{0xFFFD} : c[0]);
        }
        // CP932 read by iconv once for every byte and pair, so that scoring its reading needs no
        // conversion: the text is converted only when it wins.
        cp932Single_.fill(noSymbol);
        cp932Double_.assign(0x10000, noSymbol);
        TIconv cp932("UTF-8", "CP932");
        auto one = [&](const std::string& in) {
            auto text = cp932.Convert(in);
            if (!text || text->empty()) return noSymbol;
            std::u32string c = CodePoints(*text);
            return c.size() == 1 ? SymbolOf(c[0]) : noSymbol;
        };
        quoteOf_.assign(symbolCount, 0);
        for (char32_t q : {U'„', U'“', U'”', U'‘', U'’', U'«', U'‹', U'»', U'›'}) quoteOf_[SymbolOf(q)] = q;
        for (unsigned b = 0; b < 0x100; ++b) {
            if (IsLeadByte(static_cast<unsigned char>(b))) {
                for (unsigned t = 0x40; t <= 0xFC; ++t)
                    cp932Double_[b << 8 | t] = one(std::string{static_cast<char>(b), static_cast<char>(t)});
            } else {
                cp932Single_[b] = one(std::string(1, static_cast<char>(b)));
            }
        }
        // The lead bytes of each symbol: its own character's, or the span of its group's.
        for (const auto& r : symbolRanges) {
            if (!r.Each) continue;
            for (char32_t c = std::max<char32_t>(r.First, 0x80); c <= r.Last; ++c) {
                std::string utf8 = Utf8Of(c);
                auto lead = static_cast<unsigned char>(utf8[0]);
                auto symbol = static_cast<uint16_t>(r.Symbol + (c - r.First));
                utf8Leads_[symbol] = {lead, lead};
                if (auto cp932 = Utf8ToCP932(utf8); cp932 && cp932->size() == 2)
                    cp932Leads_[symbol] = {static_cast<unsigned char>((*cp932)[0]), static_cast<unsigned char>((*cp932)[0])};
            }
        }
        for (size_t a = 1; a < symbolCount; ++a) {
            bool own = utf8Leads_[a].first != 0;
            switch (symbolData[a].Class) {
            case KANJI1:
            case KANJI2:
            case KANJI3:
                if (!own) utf8Leads_[a] = {0xE4, 0xE9}, cp932Leads_[a] = {0x88, 0x98};
                break;
            case KANJI4:
                if (!own) utf8Leads_[a] = {0xE3, 0xE9}, cp932Leads_[a] = {0x98, 0xEA};
                break;
            case LATLOWER:
            case LATUPPER:
                if (!own) utf8Leads_[a] = {0xC4, 0xC5};
                break;
            case GREEK: utf8Leads_[a] = {0xCD, 0xCF}, cp932Leads_[a] = {0x83, 0x83}; break;
            case CYRILLIC: utf8Leads_[a] = {0xD0, 0xD3}, cp932Leads_[a] = {0x84, 0x84}; break;
            case SYMBOL:
                if (!own) utf8Leads_[a] = {0xE2, 0xE3}, cp932Leads_[a] = {0x81, 0x87};
                break;
            case OTHER: utf8Leads_[a] = {0xC2, 0xF4}; break;
            default: break;
            }
        }
    }

    static bool IsLeadByte(unsigned char c) { return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC); }

    static std::string Utf8Of(char32_t c) {
        std::string out;
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
        return out;
    }

    std::vector<int16_t> follow_, lift_;
    std::array<uint16_t, 0x100> latin_{};
    std::array<uint16_t, 0x100> western_{};
    std::array<uint16_t, 0x100> cp932Single_{};
    std::vector<uint16_t> cp932Double_;
    std::vector<char32_t> quoteOf_;
    std::vector<uint8_t> kanjiGroup_;
    std::vector<uint16_t> plane_;
    std::vector<TLeads> utf8Leads_, cp932Leads_;
};

// The likelihood of a text, character by character.
struct TLikelihood {
    const TModel& Model = TModel::Get();
    uint16_t Last = boundary;
    uint8_t Before = 0, Back = 0; // the classes of Last and of the character before it
    int64_t Total = 0;
    size_t BeyondAscii = 0; // characters
    // Quotes still open: “ or „ (which “ closes), ‘, « and ‹.
    size_t Double = 0, German = 0, Single = 0, Guillemet = 0;

    void Quote(char32_t c) {
        auto close = [](size_t& open) { open -= open > 0; };
        switch (c) {
        case U'„': ++German; break;
        case U'“': German ? close(German) : void(++Double); break;
        case U'”': close(Double); break;
        case U'‘': ++Single; break;
        case U'’': close(Single); break;
        case U'«':
        case U'‹': ++Guillemet; break;
        case U'»':
        case U'›': close(Guillemet); break;
        default: break;
        }
    }

    void Add(uint16_t symbol) {
        uint8_t cls = Model.ClassOf(symbol);
        Total += Model.Follow(Last, symbol) + Model.Lift(Back, Before, cls);
        Back = Before;
        Before = cls;
        Last = symbol;
    }
    void Add(char32_t c) {
        if (c >= 0x80) {
            ++BeyondAscii;
            if ((c >= 0x2018 && c <= 0x201E) || c == 0xAB || c == 0xBB || c == 0x2039 || c == 0x203A) Quote(c);
        }
        Add(Model.SymbolOf(c));
    }
    // Text in UTF-8, in one pass.
    void AddUtf8(std::string_view utf8) {
        for (size_t i = 0; i < utf8.size();) {
            auto b = static_cast<unsigned char>(utf8[i]);
            if (b < 0x80) {
                Add(char32_t{b});
                ++i;
                continue;
            }
            int extra = b < 0xE0 ? 1 : b < 0xF0 ? 2 : 3;
            char32_t c = extra == 1 ? (b & 0x1F) : extra == 2 ? (b & 0x0F) : (b & 0x07);
            for (int k = 1; k <= extra && i + k < utf8.size(); ++k)
                c = (c << 6) | (static_cast<unsigned char>(utf8[i + k]) & 0x3F);
            Add(c);
            i += static_cast<size_t>(extra) + 1;
        }
    }
    void AddWestern(std::string_view bytes) {
        for (unsigned char b : bytes) {
            uint16_t symbol = Model.Western(b);
            if (b >= 0x80) {
                ++BeyondAscii;
                if (char32_t quote = Model.QuoteOf(symbol)) Quote(quote);
            }
            Add(symbol);
        }
    }
    // Bytes read as CP932; false when they are no CP932 text.
    bool AddCP932(std::string_view bytes) {
        for (size_t i = 0; i < bytes.size(); ++i) {
            auto b = static_cast<unsigned char>(bytes[i]);
            uint16_t symbol = Model.CP932Single(b);
            if (symbol == TModel::noSymbol) {
                if (i + 1 == bytes.size()) return false;
                symbol = Model.CP932Double(b, static_cast<unsigned char>(bytes[++i]));
                if (symbol == TModel::noSymbol) return false;
            }
            if (b >= 0x80) {
                ++BeyondAscii;
                if (char32_t quote = Model.QuoteOf(symbol)) Quote(quote);
            }
            Add(symbol);
        }
        return true;
    }

    // The text ends here: an opening quote never closed counts against it.
    void End() {
        Add(boundary);
        Total += static_cast<int64_t>(Double + German + Single + Guillemet) * LEGACY_TEXT_MODEL_UNCLOSED;
    }
};

// Valid multi-byte UTF-8 is seldom anything else by chance: each of its characters beyond ASCII
// counts this much for it.
constexpr int64_t utf8Prior = 700;

struct TReading {
    TTextReading Reading = TTextReading::Windows1252;
    int64_t Score = 0;
};

bool IsCP932Lead(unsigned char c) { return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC); }

// The most likely reading of the bytes; whole: the text ends where the bytes do (a full fixed-size
// field's text may go on past them). A tie goes to UTF-8, then CP932.
TReading MostLikely(std::string_view bytes, bool whole) {
    TReading best;
    {
        TLikelihood western;
        western.AddWestern(bytes);
        if (whole) western.End();
        best.Score = western.Total;
    }
    if (TLikelihood japanese; japanese.AddCP932(bytes)) {
        if (whole) japanese.End();
        if (japanese.Total >= best.Score) best = {TTextReading::CP932, japanese.Total};
    }
    if (IsValidUtf8(bytes)) {
        TLikelihood utf8;
        utf8.AddUtf8(bytes);
        if (whole) utf8.End();
        int64_t score = utf8.Total + utf8Prior * static_cast<int64_t>(utf8.BeyondAscii);
        if (score >= best.Score) best = {TTextReading::Utf8, score};
    }
    return best;
}

// The text of the reading that won, converted only now.
std::string TextOf(TReading reading, std::string_view bytes) {
    switch (reading.Reading) {
    case TTextReading::CP932:
        if (auto text = CP932ToUtf8(bytes)) return *text;
        return Windows1252ToUtf8(bytes);
    case TTextReading::Windows1252: return Windows1252ToUtf8(bytes);
    default: return std::string(bytes);
    }
}

// The bytes without a lead byte of CP932 left alone at their end, when they end in one.
std::optional<std::string_view> WithoutCutLead(std::string_view bytes) {
    size_t at = 0;
    while (at + 1 < bytes.size()) at += IsCP932Lead(static_cast<unsigned char>(bytes[at])) ? 2 : 1;
    if (at + 1 != bytes.size() || !IsCP932Lead(static_cast<unsigned char>(bytes[at]))) return std::nullopt;
    return bytes.substr(0, at);
}

// The bytes without the start of a UTF-8 sequence that the end cut, when they are valid UTF-8 up to it.
std::optional<std::string_view> WithoutCutUtf8(std::string_view bytes) {
    for (size_t back = 1; back <= 3 && back <= bytes.size(); ++back) {
        auto b = static_cast<unsigned char>(bytes[bytes.size() - back]);
        if ((b & 0xC0) == 0x80) continue; // a continuation byte
        size_t length = b >= 0xC2 && b <= 0xDF ? 2 : b >= 0xE0 && b <= 0xEF ? 3 : b >= 0xF0 && b <= 0xF4 ? 4 : 0;
        if (length <= back) return std::nullopt;
        std::string_view before = bytes.substr(0, bytes.size() - back);
        if (!IsValidUtf8(before)) return std::nullopt;
        return before;
    }
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

std::string Windows1252ToUtf8(std::string_view bytes) {
    // A single-byte code page: each byte's text found once through iconv, then looked up. The five
    // bytes Windows-1252 leaves unused (0x81, 0x8D, 0x8F, 0x90, 0x9D) read as ISO-8859-1.
    struct TChar {
        char Bytes[4] = {};
        size_t Size = 0;
    };
    static const std::array<TChar, 0x100> table = [] {
        std::array<TChar, 0x100> t;
        TIconv cd("UTF-8", "WINDOWS-1252");
        for (unsigned b = 0; b < 0x100; ++b) {
            std::string byte(1, static_cast<char>(b));
            std::string text = cd.Convert(byte).value_or(DecodeLatin1(byte));
            t[b].Size = std::min<size_t>(text.size(), 4);
            std::copy_n(text.data(), t[b].Size, t[b].Bytes);
        }
        return t;
    }();
    size_t size = 0;
    for (unsigned char b : bytes) size += table[b].Size;
    std::string out(size + 4, '\0');
    char* at = out.data();
    for (unsigned char b : bytes) {
        std::memcpy(at, table[b].Bytes, 4);
        at += table[b].Size;
    }
    out.resize(size);
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
    return MostLikely(bytes, true).Reading;
}

std::string DecodeLegacyText(std::string_view bytes) {
    if (IsAscii(bytes)) return std::string(bytes);
    return TextOf(MostLikely(bytes, true), bytes);
}

std::string DecodeFullLegacyField(std::string_view bytes) {
    if (IsAscii(bytes)) return std::string(bytes);
    TReading best = MostLikely(bytes, false);
    // The field without the start of a character the cut took in two: a CP932 lead byte, or the
    // first bytes of a UTF-8 sequence; likely as far as the text goes, and as likely as it is that
    // such a character came next.
    std::string_view read = bytes;
    if (auto cut = WithoutCutLead(bytes)) {
        if (TLikelihood japanese; japanese.AddCP932(*cut)) {
            int64_t score = japanese.Total + japanese.Model.LeadAfter(japanese.Last, static_cast<unsigned char>(bytes.back()),
                                                                      TModel::TForm::CP932);
            if (score > best.Score) {
                best = {TTextReading::CP932, score};
                read = *cut;
            }
        }
    }
    if (auto cut = WithoutCutUtf8(bytes)) {
        TLikelihood utf8;
        utf8.AddUtf8(*cut);
        // Valid UTF-8 before the cut is the evidence; the bytes of the cut character are a guess.
        int64_t score = utf8.Total +
                        utf8.Model.LeadAfter(utf8.Last, static_cast<unsigned char>(bytes[cut->size()]), TModel::TForm::Utf8) +
                        utf8Prior * static_cast<int64_t>(utf8.BeyondAscii);
        if (score > best.Score) return std::string(*cut);
    }
    return TextOf(best, read);
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
