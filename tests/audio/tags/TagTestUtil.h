#pragma once
// Helpers of the tag reader tests: Debian tools that make real files, byte builders for tags.

#include <sys/wait.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <string>

#include "tests/support/CommandOutput.h"
#include "tests/support/HaveTool.h"
#include "tests/support/TempDir.h"

namespace lumora::test {

// Runs a shell command quietly; true when it exits with status 0.
inline bool Run(const std::string& command) {
    int r = std::system((command + " >/dev/null 2>&1").c_str());
    return r != -1 && WIFEXITED(r) && WEXITSTATUS(r) == 0;
}

inline std::string Quoted(const std::string& s) {
    std::string out = "'";
    for (char c : s) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

#define REQUIRE_TOOL(name) \
    if (!::lumora::test::HaveTool(name)) GTEST_SKIP() << name " is not installed (tools/setup installs it)"

// Runs tests/audio/tags/mutagen_tags.py (mutagen, the independent oracle) and returns what it prints;
// "dump FILE" gives every value mutagen reads, one sorted line each.
inline bool HaveMutagen() { return Run("/usr/bin/python3 -c 'import mutagen'"); }
inline std::string Mutagen(const std::string& args) {
    return CommandOutput("/usr/bin/python3 " +
                         Quoted(std::string(LUMORA_SOURCE_DIR) + "/tests/audio/tags/mutagen_tags.py") + " " + args +
                         " 2>&1");
}

// Every value mutagen reads from the file, one sorted line each.
inline std::string MutagenDump(const std::string& path) { return Mutagen("dump " + Quoted(path)); }

// The text with its first `from` replaced by `to` (unchanged without one): a dump after one edit.
inline std::string Replaced(std::string text, const std::string& from, const std::string& to) {
    size_t at = text.find(from);
    return at == std::string::npos ? text : text.substr(0, at) + to + text.substr(at + from.size());
}

#define REQUIRE_MUTAGEN() \
    if (!::lumora::test::HaveMutagen()) GTEST_SKIP() << "python3-mutagen is not installed (tools/setup installs it)"

// A short 16-bit sine WAV made by sox.
inline std::string MakeWav(const TempDir& dir, const std::string& name, double seconds, int rate = 44100,
                           int channels = 2) {
    std::string path = dir.File(name);
    Run("sox -n -b 16 -r " + std::to_string(rate) + " -c " + std::to_string(channels) + " " + Quoted(path) +
        " synth " + std::to_string(seconds) + " sine 440");
    return path;
}

inline std::string BE32(uint32_t v) {
    return {char(v >> 24), char(v >> 16), char(v >> 8), char(v)};
}
inline std::string LE32(uint32_t v) { return {char(v), char(v >> 8), char(v >> 16), char(v >> 24)}; }
inline std::string LE16(uint16_t v) { return {char(v), char(v >> 8)}; }
inline std::string Synchsafe(uint32_t v) {
    return {char((v >> 21) & 0x7F), char((v >> 14) & 0x7F), char((v >> 7) & 0x7F), char(v & 0x7F)};
}

// ID3v2 frames and tags written byte by byte.
inline std::string Frame22(const std::string& id, const std::string& data) {
    uint32_t n = static_cast<uint32_t>(data.size());
    return id + std::string{char(n >> 16), char(n >> 8), char(n)} + data;
}
inline std::string Frame23(const std::string& id, const std::string& data, uint8_t f0 = 0, uint8_t f1 = 0) {
    return id + BE32(static_cast<uint32_t>(data.size())) + std::string{char(f0), char(f1)} + data;
}
inline std::string Frame24(const std::string& id, const std::string& data, uint8_t f0 = 0, uint8_t f1 = 0) {
    return id + Synchsafe(static_cast<uint32_t>(data.size())) + std::string{char(f0), char(f1)} + data;
}
inline std::string Tag(int version, const std::string& frames, size_t padding = 0, uint8_t flags = 0) {
    return std::string("ID3") + char(version) + '\0' + char(flags) +
           Synchsafe(static_cast<uint32_t>(frames.size() + padding)) + frames + std::string(padding, '\0');
}
inline std::string Latin(const std::string& text) { return std::string(1, '\0') + text; }

// MPEG-1 Layer III frames at 128 kbit/s, 44.1 kHz, stereo, without padding: 417 bytes each.
inline std::string MpegFrames(int count, uint8_t modeByte = 0x00) {
    std::string frame(417, '\0');
    frame[0] = '\xFF';
    frame[1] = '\xFB';
    frame[2] = '\x90';
    frame[3] = static_cast<char>(modeByte);
    std::string out;
    for (int i = 0; i < count; ++i) out += frame;
    return out;
}


} // namespace lumora::test
