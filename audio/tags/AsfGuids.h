#pragma once
// The ASF object GUIDs that the WMA readers and the metadata editor look for, in file byte order.

#include <array>
#include <cstdint>

namespace lumora::asf {

using TGuid = std::array<uint8_t, 16>;

// A GUID in its textual form turned into the byte order ASF files store.
inline TGuid GuidOf(const char* text) {
    auto hex = [](char c) -> uint8_t { return static_cast<uint8_t>(c <= '9' ? c - '0' : (c & ~0x20) - 'A' + 10); };
    uint8_t v[16];
    int n = 0;
    for (const char* p = text; *p && n < 16; ++p) {
        if (*p == '-') continue;
        v[n++] = static_cast<uint8_t>(hex(p[0]) << 4 | hex(p[1]));
        ++p;
    }
    return {v[3], v[2], v[1], v[0], v[5], v[4], v[7], v[6], v[8], v[9], v[10], v[11], v[12], v[13], v[14], v[15]};
}

inline const TGuid Header = GuidOf("75B22630-668E-11CF-A6D9-00AA0062CE6C");
inline const TGuid FileProperties = GuidOf("8CABDCA1-A947-11CF-8EE4-00C00C205365");
inline const TGuid StreamProperties = GuidOf("B7DC0791-A9B7-11CF-8EE6-00C00C205365");
inline const TGuid ContentDescription = GuidOf("75B22633-668E-11CF-A6D9-00AA0062CE6C");
inline const TGuid ExtendedContent = GuidOf("D2D0A440-E307-11D2-97F0-00A0C95EA850");
inline const TGuid HeaderExtension = GuidOf("5FBF03B5-A92E-11CF-8EE3-00C00C205365");
inline const TGuid HeaderExtensionReserved = GuidOf("ABD3D211-A9BA-11CF-8EE6-00C00C205365");
inline const TGuid Metadata = GuidOf("C5F8CBEA-5BAF-4877-8467-AA8C44FA4CCA");
inline const TGuid MetadataLibrary = GuidOf("44231C94-9498-49D1-A141-1D134E457054");
inline const TGuid AudioMedia = GuidOf("F8699E40-5B4D-11CF-A8FD-00805F5C442B");

} // namespace lumora::asf
