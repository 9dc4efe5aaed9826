#pragma once
// What the program wrote to its WAV output (16-bit stereo): the left channel's samples, and where
// they sound.

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "tests/support/TempDir.h"

namespace lumora::test {

// The left channel of a 16-bit stereo WAV file.
inline std::vector<int16_t> LeftChannel(const std::string& path) {
    std::string bytes = ReadFile(path);
    std::vector<int16_t> left;
    size_t at = 12;
    while (at + 8 <= bytes.size()) {
        uint32_t size = static_cast<uint8_t>(bytes[at + 4]) | static_cast<uint8_t>(bytes[at + 5]) << 8 |
                        static_cast<uint8_t>(bytes[at + 6]) << 16 |
                        static_cast<uint32_t>(static_cast<uint8_t>(bytes[at + 7])) << 24;
        if (bytes.compare(at, 4, "data") == 0) {
            size_t end = std::min(bytes.size(), at + 8 + size);
            for (size_t p = at + 8; p + 4 <= end; p += 4)
                left.push_back(static_cast<int16_t>(static_cast<uint8_t>(bytes[p]) |
                                                    static_cast<uint8_t>(bytes[p + 1]) << 8));
            break;
        }
        at += 8 + size + (size & 1);
    }
    return left;
}

// Sound (true) or silence in 50 ms windows at 44.1 kHz: the loudness of each window against a
// threshold far above the output's noise and far below a sounding note.
inline std::vector<bool> LoudWindows(const std::vector<int16_t>& samples) {
    const size_t window = 2205;
    std::vector<bool> loud;
    for (size_t w = 0; w + window <= samples.size(); w += window) {
        double energy = 0;
        for (size_t i = w; i < w + window; ++i) energy += double(samples[i]) * samples[i];
        loud.push_back(std::sqrt(energy / double(window)) > 60);
    }
    return loud;
}

} // namespace lumora::test
