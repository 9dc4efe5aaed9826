#pragma once
// Tests that run "lumora /i" as root link the program into mate-screensaver's folder of programs;
// this puts back what was there before.

#include <filesystem>
#include <string>

#include "platform/session/Installer.h"

namespace lumora::test {

class SaverLinkRestorer {
public:
    SaverLinkRestorer() : link_(SaverLinkPath(kMateSaverFolder)) {
        std::error_code ec;
        had_ = std::filesystem::is_symlink(link_, ec);
        if (had_) target_ = std::filesystem::read_symlink(link_, ec);
    }
    ~SaverLinkRestorer() {
        std::error_code ec;
        if (!std::filesystem::is_symlink(link_, ec)) return; // nothing of ours was made
        std::filesystem::remove(link_, ec);
        if (had_) std::filesystem::create_symlink(target_, link_, ec);
    }
    SaverLinkRestorer(const SaverLinkRestorer&) = delete;
    SaverLinkRestorer& operator=(const SaverLinkRestorer&) = delete;

private:
    std::string link_;
    bool had_ = false;
    std::filesystem::path target_;
};

} // namespace lumora::test
