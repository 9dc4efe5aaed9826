// Writing 8-bit legacy text: the reader's rule run backwards. Only the public readings of
// LegacyText.h are used, so the writer follows whatever the reader decides.

#include <algorithm>
#include <tuple>
#include <vector>

#include "framework/LegacyText.h"

namespace lumora {

namespace {

std::string TrimRight(std::string text) {
    while (!text.empty() && static_cast<unsigned char>(text.back()) <= 0x20) text.pop_back();
    return text;
}

// The characters of valid UTF-8 text, each as its bytes.
std::vector<std::string_view> Characters(std::string_view utf8) {
    std::vector<std::string_view> out;
    for (size_t at = 0; at < utf8.size();) {
        auto lead = static_cast<unsigned char>(utf8[at]);
        size_t length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
        length = std::min(length, utf8.size() - at);
        out.push_back(utf8.substr(at, length));
        at += length;
    }
    return out;
}

// Kana, kanji and the full- and half-width forms: text a Japanese system wrote, which goes to
// CP932 when both code pages read it back alike.
bool IsJapanese(std::string_view character) {
    if (character.size() != 3) return false;
    auto b = [&](size_t i) { return static_cast<unsigned char>(character[i]); };
    char32_t c = ((b(0) & 0x0Fu) << 12) | ((b(1) & 0x3Fu) << 6) | (b(2) & 0x3Fu);
    return (c >= 0x3000 && c <= 0x30FF) || (c >= 0x3400 && c <= 0x9FFF) || (c >= 0xF900 && c <= 0xFAFF) ||
           (c >= 0xFF01 && c <= 0xFF9F);
}

// One code page's bytes for each character, "?" where the code page has none.
struct TForm {
    std::vector<std::string> Pieces;
    std::vector<bool> Held;
};

template <typename Convert>
TForm Encode(const std::vector<std::string_view>& chars, Convert convert) {
    TForm form;
    for (std::string_view c : chars) {
        std::optional<std::string> bytes =
            static_cast<unsigned char>(c[0]) < 0x80 ? std::optional<std::string>(c) : convert(c);
        form.Held.push_back(bytes.has_value());
        form.Pieces.push_back(bytes ? *bytes : std::string("?"));
    }
    return form;
}

} // namespace

TLegacyEncoding EncodeLegacyText(std::string_view utf8, size_t maxBytes, size_t fieldBytes) {
    if (fieldBytes == std::string::npos) fieldBytes = maxBytes;
    std::string text = TrimRight(std::string(utf8));
    if (IsAscii(text)) return {TrimRight(text.substr(0, std::min(maxBytes, text.size()))), true};
    std::vector<std::string_view> chars = Characters(text);
    bool japanese = std::any_of(chars.begin(), chars.end(), IsJapanese);
    // The preferred form first: it wins where both read back alike.
    std::vector<TForm> forms;
    forms.push_back(Encode(chars, Utf8ToWindows1252));
    forms.push_back(Encode(chars, Utf8ToCP932));
    if (japanese) std::swap(forms[0], forms[1]);

    auto readBack = [&](const std::string& bytes) {
        return TrimRight(bytes.size() == fieldBytes ? DecodeFullLegacyField(bytes) : DecodeLegacyText(bytes));
    };
    // The text a form's first characters stand for: as typed, "?" for what it cannot hold.
    auto meant = [&](const TForm& form, size_t count) {
        std::string out;
        for (size_t i = 0; i < count; ++i) out += form.Held[i] ? std::string(chars[i]) : std::string("?");
        return TrimRight(out);
    };
    // Text that some form holds within maxBytes keeps the most of its letters (a "?" only where no
    // form keeps one), reading back deciding among equals: bytes that hold a letter are worth more
    // than a "?" that reads back. A longer text is cut where it reads back with the most of it.
    auto fitOf = [&](const TForm& form) {
        size_t fit = 0, used = 0;
        while (fit < chars.size() && used + form.Pieces[fit].size() <= maxBytes) used += form.Pieces[fit++].size();
        return fit;
    };
    bool fits = std::any_of(forms.begin(), forms.end(), [&](const TForm& form) { return fitOf(form) == chars.size(); });
    struct TChoice {
        std::string Bytes;
        bool ReadsBack = false;
        size_t Kept = 0;      // characters stored as typed
        size_t Unheld = 0;    // characters stored as "?"
        size_t Count = 0;     // characters stored
        size_t Preference = 0;
        // Among bytes that keep as many letters, a clean cut is worth more than "?" in their place.
        auto Key(bool whole) const {
            long kept = static_cast<long>(Kept), readBack = ReadsBack ? kept : 0;
            return std::make_tuple(whole ? kept : readBack, whole ? readBack : 0, -static_cast<long>(Unheld),
                                   static_cast<long>(Count), -static_cast<long>(Preference));
        }
    };
    std::optional<TChoice> best;
    for (size_t f = 0; f < forms.size(); ++f) {
        const TForm& form = forms[f];
        size_t fit = fitOf(form);
        // Text that fits is written whole or not in this form; a cut may move back to where it reads
        // back. The longest cut is kept even when it does not read back, for when nothing does.
        size_t least = fit < chars.size() ? 1 : fit;
        for (size_t count = fit; count >= least && count > 0; --count) {
            TChoice choice;
            for (size_t i = 0; i < count; ++i) {
                choice.Bytes += form.Pieces[i];
                choice.Kept += form.Held[i];
            }
            choice.Bytes = TrimRight(choice.Bytes);
            choice.Unheld = count - choice.Kept;
            choice.Count = count;
            choice.Preference = f;
            choice.ReadsBack = readBack(choice.Bytes) == meant(form, count);
            if (!best || choice.Key(fits) > best->Key(fits)) best = choice;
            // Shorter cuts of this form only lose text once one reads back.
            if (choice.ReadsBack) break;
        }
    }
    if (!best) return {std::string(), false};
    return {best->Bytes, best->ReadsBack && best->Unheld == 0};
}

} // namespace lumora
