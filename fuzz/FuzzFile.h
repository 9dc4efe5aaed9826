#pragma once
// A scratch file holding the fuzzer's input, for the savers that work on files.

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

class TFuzzFile {
public:
    // The process id keeps fuzzers that run side by side apart; TMPDIR gives each run a folder.
    TFuzzFile(const uint8_t* data, size_t size, const char* suffix) {
        const char* dir = std::getenv("TMPDIR");
        path_ = std::string(dir && *dir ? dir : "/tmp") + "/lumora-fuzz-" + std::to_string(::getpid()) + suffix;
        if (FILE* f = std::fopen(path_.c_str(), "wb")) {
            ok_ = std::fwrite(data, 1, size, f) == size;
            ok_ = std::fclose(f) == 0 && ok_;
        }
    }
    ~TFuzzFile() { std::remove(path_.c_str()); }
    TFuzzFile(const TFuzzFile&) = delete;
    TFuzzFile& operator=(const TFuzzFile&) = delete;

    bool Ok() const { return ok_; }
    const std::string& Path() const { return path_; }

private:
    std::string path_;
    bool ok_ = false;
};
