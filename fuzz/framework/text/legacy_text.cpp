// 8-bit text of no declared code page: any bytes read as valid UTF-8 in one of the readings, whole
// or as a full ID3v1 field; and any text the 8-bit code pages hold is written to bytes that read
// back as it, whole or cut to a field.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "framework/LegacyText.h"

namespace {

std::string TrimRight(std::string text) {
    while (!text.empty() && static_cast<unsigned char>(text.back()) <= 0x20) text.pop_back();
    return text;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace lumora;
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    const std::string read = DecodeLegacyText(bytes);
    if (!IsValidUtf8(read) || !IsValidUtf8(DecodeFullLegacyField(bytes)) || !IsValidUtf8(SanitizeUtf8(bytes))) std::abort();
    if (IsAscii(bytes) != (ChooseReading(bytes) == TTextReading::Ascii)) std::abort();
    // What was read, written again: exact wherever the writer says so.
    for (const std::string& text : {read, IsValidUtf8(bytes) ? bytes : read}) {
        TLegacyEncoding whole = EncodeLegacyText(text);
        if (whole.Exact && DecodeLegacyText(whole.Bytes) != TrimRight(text)) std::abort();
        TLegacyEncoding field = EncodeLegacyText(text, 30);
        if (field.Bytes.size() > 30) std::abort();
        std::string back = TrimRight(field.Bytes.size() == 30 ? DecodeFullLegacyField(field.Bytes)
                                                               : DecodeLegacyText(field.Bytes));
        if (field.Exact && TrimRight(text).compare(0, back.size(), back) != 0) std::abort();
    }
    return 0;
}
