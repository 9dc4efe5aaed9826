// Reading the tags and stream properties of 1000 generated MP3 files, beside a reference that
// opens each file and copies into memory exactly the bytes our readers look at.
//
// Counters: "ratio" is our time over the reference time measured in the same run (goal: 2 or less).

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "audio/tags/MPEGaudio.h"

namespace {

std::string Synchsafe(uint32_t v) {
    return {char((v >> 21) & 0x7F), char((v >> 14) & 0x7F), char((v >> 7) & 0x7F), char(v & 0x7F)};
}

std::string Frame(const std::string& id, const std::string& text) {
    std::string data = std::string(1, '\0') + text;
    uint32_t n = static_cast<uint32_t>(data.size());
    return id + std::string{char(n >> 24), char(n >> 16), char(n >> 8), char(n), 0, 0} + data;
}

class TFiles {
public:
    TFiles() {
        dir_ = std::filesystem::temp_directory_path() / ("lumora-bench-tags-" + std::to_string(::getpid()));
        std::filesystem::create_directories(dir_);
        std::string frame(417, '\0');
        frame.replace(0, 4, std::string("\xFF\xFB\x90\x00", 4));
        for (int i = 0; i < 1000; ++i) {
            std::string frames = Frame("TIT2", "Title number " + std::to_string(i)) + Frame("TPE1", "Some artist") +
                                 Frame("TALB", "An album") + Frame("TRCK", std::to_string(i % 20 + 1) + "/20") +
                                 Frame("TCON", "(17)") + Frame("TYER", "2004");
            std::string tag = "ID3" + std::string("\x03\0\0", 3) + Synchsafe(static_cast<uint32_t>(frames.size() + 1024)) +
                              frames + std::string(1024, '\0');
            std::string audio;
            for (int f = 0; f < 40 + i % 10; ++f) audio += frame;
            std::string v1(128, '\0');
            v1.replace(0, 8, "TAGTitle");
            std::string path = (dir_ / ("track" + std::to_string(i) + ".mp3")).string();
            std::ofstream(path, std::ios::binary) << tag << audio << v1;
            paths_.push_back(path);
        }
    }
    ~TFiles() {
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }
    const std::vector<std::string>& Paths() const { return paths_; }

private:
    std::filesystem::path dir_;
    std::vector<std::string> paths_;
};

const TFiles& Files() {
    static TFiles files;
    return files;
}

// What our readers read of one file: the ID3v2 header and tag, the last 128 bytes, the search
// block after the tag and the block before the ID3v1 tag.
int64_t CopyReadBytes(const std::string& path, std::vector<char>& buffer) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return 0;
    int64_t size = ::lseek(fd, 0, SEEK_END);
    char header[10];
    int64_t total = ::pread(fd, header, 10, 0);
    int64_t tagSize = ((header[6] & 0x7F) << 21 | (header[7] & 0x7F) << 14 | (header[8] & 0x7F) << 7 | (header[9] & 0x7F)) + 10;
    struct Range {
        int64_t offset, count;
    } ranges[] = {{0, tagSize}, {size - 128, 128}, {tagSize, 3458}, {size - 128 - 3458, 3458}};
    for (const auto& r : ranges) {
        buffer.resize(static_cast<size_t>(r.count));
        total += ::pread(fd, buffer.data(), static_cast<size_t>(r.count), r.offset);
    }
    ::close(fd);
    return total;
}

void BM_TagRead(benchmark::State& state) {
    const auto& paths = Files().Paths();
    std::vector<char> buffer;
    double ours = 0, reference = 0;
    int64_t checksum = 0;
    for (auto _ : state) {
        auto t0 = std::chrono::steady_clock::now();
        for (const auto& p : paths) checksum += CopyReadBytes(p, buffer);
        auto t1 = std::chrono::steady_clock::now();
        for (const auto& p : paths) {
            lumora::TMPEGaudio mpeg;
            mpeg.LoadFromFile(p);
            checksum += mpeg.BitRate() + mpeg.Frames() + static_cast<int64_t>(mpeg.Duration()) +
                        mpeg.ID3v2().Title().size() + mpeg.ID3v1().Title().size() + mpeg.EncoderText().size();
        }
        auto t2 = std::chrono::steady_clock::now();
        reference += std::chrono::duration<double>(t1 - t0).count();
        ours += std::chrono::duration<double>(t2 - t1).count();
        state.SetIterationTime(std::chrono::duration<double>(t2 - t1).count());
    }
    benchmark::DoNotOptimize(checksum);
    state.counters["files"] = static_cast<double>(paths.size());
    state.counters["reference_ms"] = reference * 1000 / static_cast<double>(state.iterations());
    state.counters["ratio"] = reference > 0 ? ours / reference : 0;
}
BENCHMARK(BM_TagRead)->UseManualTime()->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
