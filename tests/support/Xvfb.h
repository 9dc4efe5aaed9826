#pragma once
// The command that runs what follows it inside a fresh Xvfb: WithXvfb() + " '-screen 0 640x480x24' CMD".

#include <string>

namespace lumora::test {

inline std::string WithXvfb() { return "bash '" + std::string(LUMORA_SOURCE_DIR) + "/tests/support/with-xvfb'"; }

} // namespace lumora::test
