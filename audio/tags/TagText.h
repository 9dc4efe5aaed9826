#pragma once
// Text conversions of the tag readers. Text is UTF-8 in memory; tags hold 8-bit legacy text
// (framework/LegacyText: the UTF-8, CP932 or Windows-1252 reading a person most likely wrote),
// UTF-16 in either byte order, or UTF-8.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "framework/LegacyText.h"

namespace lumora {

enum class TByteOrder { LittleEndian, BigEndian };

// UTF-16 code units up to the first zero unit (or the end). A leading byte-order mark, in either
// order, decides the order and is dropped; without one, fallbackOrder applies. An odd last byte
// is ignored and unpaired surrogates become U+FFFD.
std::string DecodeUtf16(std::string_view bytes, TByteOrder fallbackOrder);
// UTF-16 of the UTF-8 text, optionally led by a byte-order mark; no terminator.
std::string EncodeUtf16(std::string_view utf8, TByteOrder order, bool withBom);

// ISO-8859-1 bytes of the text, or nothing when a character is above U+00FF.
std::optional<std::string> EncodeLatin1(std::string_view utf8);
// Characters of code 0x20 or below removed from both ends, or from the end only.
std::string TrimControl(std::string_view text);
std::string TrimControlRight(std::string_view text);

// Appends the UTF-8 form of a code point (invalid ones as U+FFFD).
void AppendUtf8(std::string& out, uint32_t codePoint);
// Decodes one code point of valid UTF-8 at pos and advances pos; U+FFFD for a bad byte.
uint32_t NextCodePoint(std::string_view utf8, size_t& pos);

// A decimal number made of digits only (no sign, no blanks) that fits in max; else nothing.
std::optional<uint32_t> ParseDecimal(std::string_view text, uint32_t max);
// The number of a track text: empty is 0, else a number up to max, optionally followed by "/" and
// the number of tracks (7/12); nothing when either part is not a number.
std::optional<uint32_t> ParseTrackText(std::string_view text, uint32_t max);

} // namespace lumora
