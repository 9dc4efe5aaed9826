#pragma once
// What a shell command prints, for tests that run the real program or an outside tool.

#include <cstdio>
#include <string>

namespace lumora::test {

// What a shell command prints on standard output; status, when given, receives its wait status.
inline std::string CommandOutput(const std::string& command, int* status = nullptr) {
    std::string out;
    FILE* p = ::popen(command.c_str(), "r");
    if (!p) {
        if (status) *status = -1;
        return out;
    }
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    const int result = ::pclose(p);
    if (status) *status = result;
    return out;
}

} // namespace lumora::test
