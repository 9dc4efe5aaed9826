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

namespace lumora::test {

inline bool HaveTool(const std::string& tool) {
    return std::system(("command -v " + tool + " >/dev/null 2>&1").c_str()) == 0;
}

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

// A loopback HTTP server answering every request with the same response, written in pieces with
// an optional pause between them so a client sees the body arrive over time.
class LoopbackServer {
public:
    explicit LoopbackServer(std::string response, size_t piece = 0, int pauseMs = 0)
        : response_(std::move(response)), piece_(piece), pauseMs_(pauseMs) {
        fd_ = socket(AF_INET, SOCK_STREAM, 0);
        int one = 1;
        setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        addr.sin_port = 0;
        bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
        listen(fd_, 8);
        socklen_t len = sizeof addr;
        getsockname(fd_, reinterpret_cast<sockaddr*>(&addr), &len);
        port_ = ntohs(addr.sin_port);
        thread_ = std::thread([this] { Serve(); });
    }
    ~LoopbackServer() {
        stop_ = true;
        shutdown(fd_, SHUT_RDWR);
        close(fd_);
        thread_.join();
    }
    std::string Url(const std::string& path) const { return "http://127.0.0.1:" + std::to_string(port_) + path; }
    int Requests() const { return requests_; }
    std::string LastRequest() const {
        std::lock_guard lock(mutex_);
        return lastRequest_;
    }

private:
    void Serve() {
        while (!stop_) {
            int c = accept(fd_, nullptr, nullptr);
            if (c < 0) return;
            std::string request;
            char buf[1024];
            while (request.find("\r\n\r\n") == std::string::npos) {
                ssize_t n = recv(c, buf, sizeof buf, 0);
                if (n <= 0) break;
                request.append(buf, static_cast<size_t>(n));
            }
            {
                std::lock_guard lock(mutex_);
                lastRequest_ = request;
            }
            ++requests_;
            size_t piece = piece_ ? piece_ : response_.size();
            for (size_t pos = 0; pos < response_.size() && !stop_; pos += piece) {
                size_t n = std::min(piece, response_.size() - pos);
                if (send(c, response_.data() + pos, n, MSG_NOSIGNAL) < 0) break;
                if (pauseMs_) std::this_thread::sleep_for(std::chrono::milliseconds(pauseMs_));
            }
            close(c);
        }
    }
    std::string response_;
    size_t piece_;
    int pauseMs_;
    int fd_ = -1;
    int port_ = 0;
    std::atomic<bool> stop_{false};
    std::atomic<int> requests_{0};
    mutable std::mutex mutex_;
    std::string lastRequest_;
    std::thread thread_;
};

} // namespace lumora::test
