// Shortcut files are untrusted bytes: parse them and map the paths they name.
#include <cstddef>
#include <cstdint>

#include "platform/shell/ShellLink.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    lumora::TShellLinkData link;
    if (lumora::ParseShellLink(data, size, link)) {
        auto candidates = lumora::ShellLinkCandidates("/fuzz/links/a.lnk", link);
        for (const auto& c : candidates)
            if (c.empty()) __builtin_trap();
    }
    return 0;
}
