#pragma once
// Builds standard MIDI file bytes for the MIDI tests.

#include <cstdint>
#include <string>
#include <vector>

namespace lumora::test {

inline std::string VarLen(uint32_t v) {
    std::string out(1, static_cast<char>(v & 0x7F));
    while (v >>= 7) out.insert(out.begin(), static_cast<char>(0x80 | (v & 0x7F)));
    return out;
}

inline std::string Be(uint32_t v, int bytes) {
    std::string out;
    for (int i = bytes - 1; i >= 0; --i) out += static_cast<char>((v >> (8 * i)) & 0xFF);
    return out;
}

inline std::string Chunk(const std::string& id, const std::string& body) { return id + Be(body.size(), 4) + body; }

inline std::string Bytes(std::initializer_list<int> bytes) {
    std::string out;
    for (int b : bytes) out += static_cast<char>(b);
    return out;
}

// A whole file: header chunk then one track chunk per body.
inline std::string Smf(int format, int division, const std::vector<std::string>& tracks) {
    std::string out = Chunk("MThd", Be(format, 2) + Be(tracks.size(), 2) + Be(division, 2));
    for (const auto& t : tracks) out += Chunk("MTrk", t);
    return out;
}

inline std::string Tempo(uint32_t delta, uint32_t microsecondsPerQuarter) {
    return VarLen(delta) + Bytes({0xFF, 0x51, 0x03}) + Be(microsecondsPerQuarter, 3);
}
inline std::string EndOfTrack(uint32_t delta = 0) { return VarLen(delta) + Bytes({0xFF, 0x2F, 0x00}); }
inline std::string Msg(uint32_t delta, std::initializer_list<int> bytes) { return VarLen(delta) + Bytes(bytes); }

} // namespace lumora::test
