#pragma once
// The ASF object GUIDs that the WMA readers and the metadata editor look for, in file byte order,
// and the file properties both of them read.

#include <array>
#include <cstdint>

#include "audio/tags/ByteReader.h"

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

// The fields of the file properties object that the readers use.
struct TFileProperties {
    uint64_t FileSize = 0;
    uint64_t PlayDuration = 0; // 100-nanosecond units, the preroll included
    uint64_t Preroll = 0;      // milliseconds
    uint32_t Flags = 0;        // 1: a broadcast, whose play duration is not known
    uint32_t MaxBitRate = 0;

    bool Broadcast() const { return Flags & 1; }
    // The time that plays, in 100-nanosecond units: the play duration less the preroll, the time
    // the first packet is held back.
    uint64_t PlayTime() const {
        const uint64_t prerollTicks = Preroll > UINT64_MAX / 10000 ? UINT64_MAX : Preroll * 10000;
        return PlayDuration > prerollTicks ? PlayDuration - prerollTicks : 0;
    }
};

// Reads the file properties from the object's body (what follows its header); false when it is cut short.
inline bool ReadFileProperties(TByteReader body, TFileProperties& out) {
    TFileProperties p;
    body.Skip(16);
    p.FileSize = body.LE64();
    body.Skip(16);
    p.PlayDuration = body.LE64();
    body.Skip(8);
    p.Preroll = body.LE64();
    p.Flags = body.LE32();
    body.Skip(8);
    p.MaxBitRate = body.LE32();
    if (body.Failed()) return false;
    out = p;
    return true;
}

} // namespace lumora::asf
