#pragma once
// Whether a command-line tool the tests call is on the PATH.

#include <cstdlib>
#include <string>

namespace lumora::test {

inline bool HaveTool(const std::string& tool) {
    return std::system(("command -v " + tool + " >/dev/null 2>&1").c_str()) == 0;
}

} // namespace lumora::test
