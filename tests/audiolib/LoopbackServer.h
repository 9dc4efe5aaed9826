#pragma once
// A loopback HTTP server for the stream tests of the library and the player.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>

namespace lumora::test {

// `body` in HTTP chunked transfer coding, in chunks of `chunk` bytes.
inline std::string ChunkedBody(const std::string& body, size_t chunk) {
    std::string out;
    char size[32];
    for (size_t pos = 0; pos < body.size(); pos += chunk) {
        size_t n = std::min(chunk, body.size() - pos);
        std::snprintf(size, sizeof size, "%zx\r\n", n);
        out += size;
        out.append(body, pos, n);
        out += "\r\n";
    }
    return out + "0\r\n\r\n";
}

// A response whose head is followed by the same body over and over, for as long as the client reads.
struct EndlessResponse {
    std::string Head, Body;
};

// A loopback HTTP server answering every request with the same response, written in pieces with
// an optional pause after each so a client sees the body arrive over time. The connection closes
// after each response, which ends a body that has no length; the server's end cuts a pause short.
class LoopbackServer {
public:
    explicit LoopbackServer(std::string response, size_t piece = 0, int pauseMs = 0)
        : response_(std::move(response)), piece_(piece), pauseMs_(pauseMs) {
        Start();
    }
    explicit LoopbackServer(EndlessResponse endless, size_t piece = 64 << 10)
        : response_(std::move(endless.Head)), repeated_(std::move(endless.Body)), piece_(piece) {
        Start();
    }
    ~LoopbackServer() {
        {
            std::lock_guard lock(mutex_);
            stop_ = true;
            if (client_ >= 0) shutdown(client_, SHUT_RDWR);
        }
        wake_.notify_all();
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
    void Start() {
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
    // Sends `data` in pieces, pausing after each; false once the client is gone or the server ends.
    bool SendPieces(int c, const std::string& data) {
        size_t piece = piece_ ? piece_ : data.size();
        for (size_t pos = 0; pos < data.size(); pos += piece) {
            size_t n = std::min(piece, data.size() - pos);
            if (stop_ || send(c, data.data() + pos, n, MSG_NOSIGNAL) < 0) return false;
            if (pauseMs_) {
                std::unique_lock lock(mutex_);
                wake_.wait_for(lock, std::chrono::milliseconds(pauseMs_), [this] { return stop_.load(); });
            }
        }
        return !stop_;
    }
    void Serve() {
        while (!stop_) {
            int c = accept(fd_, nullptr, nullptr);
            if (c < 0) return;
            {
                std::lock_guard lock(mutex_);
                if (stop_) {
                    close(c);
                    return;
                }
                client_ = c;
            }
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
            if (SendPieces(c, response_) && !repeated_.empty())
                while (SendPieces(c, repeated_)) {
                }
            {
                std::lock_guard lock(mutex_);
                client_ = -1;
            }
            close(c);
        }
    }
    std::string response_;
    std::string repeated_;
    size_t piece_;
    int pauseMs_ = 0;
    int fd_ = -1;
    int port_ = 0;
    std::atomic<bool> stop_{false};
    std::atomic<int> requests_{0};
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    int client_ = -1;
    std::string lastRequest_;
    std::thread thread_;
};

} // namespace lumora::test
