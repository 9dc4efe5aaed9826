#pragma once
// Helpers of the audio library tests: test sounds made with Debian tools, WAV reading, a library
// session on a chosen output, and a loopback HTTP server.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "audiolib/AudioLib.h"
#include "tests/audiolib/LoopbackServer.h"
#include "tests/support/HaveTool.h"

namespace lumora::test {

#define REQUIRE_TOOL(tool) \
    if (!::lumora::test::HaveTool(tool)) GTEST_SKIP() << tool << " is not installed"

inline bool Shell(const std::string& command) { return std::system((command + " >/dev/null 2>&1").c_str()) == 0; }

inline std::vector<uint8_t> ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// The bytes of a WAV file's "data" chunk (empty when there is none).
inline std::vector<uint8_t> WavData(const std::string& path) {
    auto bytes = ReadBytes(path);
    size_t pos = 12;
    while (pos + 8 <= bytes.size()) {
        uint32_t size;
        std::memcpy(&size, &bytes[pos + 4], 4);
        if (std::memcmp(&bytes[pos], "data", 4) == 0) {
            size_t end = std::min(bytes.size(), pos + 8 + static_cast<size_t>(size));
            return std::vector<uint8_t>(bytes.begin() + static_cast<long>(pos + 8), bytes.begin() + static_cast<long>(end));
        }
        pos += 8 + size + (size & 1);
    }
    return {};
}

inline std::vector<int16_t> Samples(const std::vector<uint8_t>& bytes) {
    std::vector<int16_t> s(bytes.size() / 2);
    std::memcpy(s.data(), bytes.data(), s.size() * 2);
    return s;
}

// Index of the first frame (of `chans` samples) that is not silent, or size when all are.
inline size_t FirstSound(const std::vector<int16_t>& s, size_t chans) {
    for (size_t i = 0; i < s.size(); ++i)
        if (s[i] != 0) return i / chans;
    return s.size() / chans;
}

inline bool WaitFor(const std::function<bool()>& done, int timeoutMs) {
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

// The library initialised on an output for the length of a test.
class LibrarySession {
public:
    explicit LibrarySession(const std::string& output, DWORD freq = 44100) {
        setenv("LUMORA_AUDIO_OUTPUT", output.c_str(), 1);
        ok_ = BASS_Init(-1, freq, 0, nullptr, nullptr) != 0;
        // Unity gain, as the player sets it up.
        BASS_SetConfig(BASS_CONFIG_MAXVOL, 255);
        BASS_SetConfig(BASS_CONFIG_GVOL_STREAM, 255);
        BASS_SetConfig(BASS_CONFIG_GVOL_MUSIC, 255);
    }
    ~LibrarySession() {
        if (ok_) BASS_Free();
        BASS_SetConfig(BASS_CONFIG_MAXVOL, 100);
        BASS_SetConfig(BASS_CONFIG_GVOL_STREAM, 100);
        BASS_SetConfig(BASS_CONFIG_GVOL_MUSIC, 100);
    }
    bool Ok() const { return ok_; }

private:
    bool ok_;
};

// Counts the calls of a sync.
struct SyncCounter {
    std::atomic<int> Calls{0};
    static void Proc(HSYNC, DWORD, DWORD, void* user) { ++static_cast<SyncCounter*>(user)->Calls; }
};

} // namespace lumora::test
