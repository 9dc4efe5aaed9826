#pragma once
// 8-bit text of no declared code page: the text fields of the older tag formats and MIDI files, and
// file names that are not UTF-8. Japanese systems wrote such bytes in code page 932, Western ones in
// ISO-8859-1; the bytes themselves decide which of the two a reader of them would see. Every place
// that shows such bytes goes through DecodeLegacyText, so a tag and a file name read alike.

#include <optional>
#include <string>
#include <string_view>

namespace lumora {

// Whether the bytes read as Japanese in CP932 rather than as ISO-8859-1:
// 1. They must hold a byte of 0x80 or above and be valid CP932 with no character of the
//    user-defined area (private-use characters no reader can see).
// 2. A byte 0x80-0x9F settles it: it is a control code in ISO-8859-1, never text, while in CP932
//    it begins or ends every kana, full-width form, punctuation mark and common kanji.
// 3. Otherwise every byte of 0x80 and above is also a letter or sign of ISO-8859-1 (half-width
//    katakana, rare kanji), and each run of such bytes between ASCII counts for one reading:
//    a lone byte, or two holding an accented letter right next to an ASCII letter ("Crème",
//    "Ação", "«Ça»"), look like ISO-8859-1 among plain text; longer runs ("ｿﾝｸﾞ"), pairs standing
//    apart from ASCII letters ("ﾏﾏ"), and a small accented letter before an ASCII capital (the
//    rare kanji "薔" would read "åK") look like Japanese. The text reads as Japanese when the
//    Japanese-looking runs are at least as many as the others.
//    So a rare kanji alone whose second byte is a small ASCII letter ("鑪" = "èm") reads as
//    ISO-8859-1: among plain letters that is how an accented word looks.
bool ReadsAsJapanese(std::string_view bytes);

// 8-bit text in UTF-8: CP932 when it reads as Japanese, else ISO-8859-1. Never fails.
std::string DecodeLegacyText(std::string_view bytes);

// The text of a fixed-size field whose bytes run to its very last byte (ID3v1): such a field may
// have cut a CP932 character in two and end in its lead byte alone. That byte is dropped when it
// is 0x81-0x9F (a control code in ISO-8859-1) or when the rest reads as Japanese; otherwise it is
// the last letter of ISO-8859-1 text ("André"). Text with a length of its own is never cut: it
// goes through DecodeLegacyText.
std::string DecodeFullLegacyField(std::string_view bytes);

// Valid UTF-8 as it is; anything else is 8-bit legacy text (DecodeLegacyText).
std::string SanitizeUtf8(std::string_view bytes);
bool IsValidUtf8(std::string_view bytes);
// No byte of 0x80 or above: the same text in every one of these readings.
bool IsAscii(std::string_view bytes);

std::string DecodeLatin1(std::string_view bytes);
// The whole text converted, or nothing when a byte sequence is not valid CP932 (or no CP932
// converter is installed).
std::optional<std::string> CP932ToUtf8(std::string_view bytes);
std::optional<std::string> Utf8ToCP932(std::string_view utf8);

} // namespace lumora
