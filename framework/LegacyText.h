#pragma once
// 8-bit text of no declared code page: the text fields of the older tag formats, the Ogg and WMA
// values that are not valid UTF-8, MIDI meta text, and file names that are not UTF-8. Such bytes
// were written in UTF-8 (Linux and phone taggers), in code page 932 (Japanese Windows) or in
// Windows-1252 (Western Windows: Latin-1 with ’ “ ” – — … € ™ œ š ž at 0x80-0x9F). The same
// bytes often decode in two or all three of them; the reading shown is the one that looks most
// like text a person wrote, judged over the whole string. Every place that shows such bytes goes
// through DecodeLegacyText, so a tag and a file name read alike; the stored bytes never change.

#include <optional>
#include <string>
#include <string_view>

namespace lumora {

enum class TTextReading { Ascii, Utf8, CP932, Windows1252 };

// The reading of the bytes a person most likely wrote:
// - No byte of 0x80 or above: ASCII, the same in every reading.
// - Each reading that decodes the bytes exactly (Windows-1252 always does, its five unused bytes
//   as the control codes of ISO-8859-1) is scored by a model of the text people write: how often
//   each character follows the one before, and each kind of character the two kinds before it,
//   learned from word lists and a Japanese dictionary (tools/make-legacy-text-model), with an
//   opening quote never closed counting against it. One pass over the bytes per reading.
// - Valid UTF-8 holding a multi-byte sequence is a strong hint of its own: each character beyond
//   ASCII counts for it.
// The most likely reading wins; a tie goes to UTF-8, then CP932.
TTextReading ChooseReading(std::string_view bytes);

// 8-bit text in UTF-8, in the reading ChooseReading gives. Never fails.
std::string DecodeLegacyText(std::string_view bytes);

// The text of a fixed-size field whose bytes run to its very last byte (ID3v1): such a field may
// have cut a character in two, and end in a CP932 lead byte or the first bytes of a UTF-8
// sequence. Then the whole characters before the cut are a reading too, as likely as the text
// before it and that such a character came next ("…Theme" + the lead byte of a kanji against
// "…Claude Franç"). The field's text may go on past it, and a quote it opened may close there.
// Text with a length of its own is never cut: it goes through DecodeLegacyText.
std::string DecodeFullLegacyField(std::string_view bytes);

// 8-bit bytes for the text in Windows-1252 or CP932, the code pages of the tools that write these
// fields (UTF-8 is read, never written: those tools would show it as other letters). Both are tried,
// each with "?" for the characters it cannot hold. When a form fits the whole text into maxBytes,
// the bytes that keep the most of its characters win, among equals those that read back
// (DecodeLegacyText, or DecodeFullLegacyField for bytes that fill a field of fieldBytes); so a "?"
// stands only for a character the other form lacks too. Text no form fits is cut on a character
// boundary where it reads back with the most of it, in either form; when no cut reads back, the
// longest is written. Either way the result says when it does not read back as typed. fieldBytes
// defaults to maxBytes.
struct TLegacyEncoding {
    std::string Bytes;
    // The bytes read back as the text (or as the start of it that fits): false when a character
    // had to become "?" or the bytes read back as other text.
    bool Exact = true;
};
TLegacyEncoding EncodeLegacyText(std::string_view utf8, size_t maxBytes = std::string::npos,
                                 size_t fieldBytes = std::string::npos);

// Valid UTF-8 as it is; anything else is 8-bit legacy text (DecodeLegacyText).
std::string SanitizeUtf8(std::string_view bytes);
bool IsValidUtf8(std::string_view bytes);
// No byte of 0x80 or above: the same text in every one of these readings.
bool IsAscii(std::string_view bytes);

// Exact conversions: the whole text converted, or nothing when a byte sequence is not valid in the
// code page (or no converter is installed). Windows-1252 decoding always succeeds: its five unused
// bytes read as the control codes of ISO-8859-1.
std::optional<std::string> CP932ToUtf8(std::string_view bytes);
std::optional<std::string> Utf8ToCP932(std::string_view utf8);
std::string Windows1252ToUtf8(std::string_view bytes);
// ISO-8859-1, for the text that is declared so (URLs of ID3v2 link frames).
std::string DecodeLatin1(std::string_view bytes);
std::optional<std::string> Utf8ToWindows1252(std::string_view utf8);

} // namespace lumora
