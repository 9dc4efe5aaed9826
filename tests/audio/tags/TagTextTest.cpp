#include <gtest/gtest.h>

#include "audio/tags/TagText.h"

namespace lumora {
namespace {

TEST(TagText, Utf16HonoursALeadingByteOrderMarkOnly) {
    using std::string;
    // U+30FF and U+00FF have 0xFF in one byte; neither is taken for a byte-order mark.
    string le("\xFF\xFE\xFF\x30\xFF\x00", 6);
    string be("\xFE\xFF\x30\xFF\x00\xFF", 6);
    EXPECT_EQ(DecodeUtf16(le, TByteOrder::BigEndian), "ヿÿ");
    EXPECT_EQ(DecodeUtf16(be, TByteOrder::LittleEndian), "ヿÿ");
    EXPECT_EQ(DecodeUtf16(string("A\0B\0", 4), TByteOrder::LittleEndian), "AB");
    EXPECT_EQ(DecodeUtf16(string("\0A\0B", 4), TByteOrder::BigEndian), "AB");
    // The text ends at the first zero unit; an odd last byte is ignored.
    EXPECT_EQ(DecodeUtf16(string("A\0\0\0B\0", 6), TByteOrder::LittleEndian), "A");
    EXPECT_EQ(DecodeUtf16(string("A\0B", 3), TByteOrder::LittleEndian), "A");
}

TEST(TagText, Utf16SurrogatesRoundTripAndBrokenOnesAreReplaced) {
    std::string text = "a😀é";
    for (auto order : {TByteOrder::LittleEndian, TByteOrder::BigEndian}) {
        std::string bytes = EncodeUtf16(text, order, true);
        EXPECT_EQ(bytes.size(), 2u + 2 + 4 + 2);
        EXPECT_EQ(DecodeUtf16(bytes, TByteOrder::LittleEndian), text);
    }
    EXPECT_EQ(DecodeUtf16(std::string("\x3D\xD8" "A\0", 4), TByteOrder::LittleEndian), "\xEF\xBF\xBD" "A");
    EXPECT_EQ(DecodeUtf16(std::string("\x00\xDC", 2), TByteOrder::LittleEndian), "\xEF\xBF\xBD");
}

TEST(TagText, Latin1EncodingHoldsOnlyItsCharacters) {
    EXPECT_EQ(EncodeLatin1("é"), std::optional<std::string>("\xe9"));
    EXPECT_FALSE(EncodeLatin1("日").has_value());
}

TEST(TagText, TrimsAndParsesDecimals) {
    EXPECT_EQ(TrimControl(std::string("\0 x y \t\0", 8)), "x y");
    EXPECT_EQ(TrimControlRight("  x  "), "  x");
    EXPECT_EQ(ParseDecimal("007", 100), std::optional<uint32_t>(7));
    EXPECT_FALSE(ParseDecimal("A7", 100));
    EXPECT_FALSE(ParseDecimal("", 100));
    EXPECT_FALSE(ParseDecimal("101", 100));
    EXPECT_FALSE(ParseDecimal("99999999999", UINT32_MAX));
}

} // namespace
} // namespace lumora
