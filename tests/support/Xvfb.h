#pragma once
// Running scripts inside a fresh X server (Xvfb) for the end-to-end tests.

#include <cstdio>
#include <string>

namespace lumora::test {

// The command that runs what follows it inside a fresh Xvfb: WithXvfb() + " '-screen 0 640x480x24' CMD".
inline std::string WithXvfb() { return "bash '" + std::string(LUMORA_SOURCE_DIR) + "/tests/support/with-xvfb'"; }

// Runs the bash script at scriptPath inside a fresh Xvfb started with serverArgs and returns what it
// printed, standard error included, so a failure shows the program's own words.
inline std::string RunScriptInXvfb(const std::string& serverArgs, const std::string& scriptPath) {
    const std::string command = "timeout 120 " + WithXvfb() + " '" + serverArgs + "' bash " + scriptPath + " 2>&1";
    std::string out;
    if (FILE* p = popen(command.c_str(), "r")) {
        char buf[512];
        while (fgets(buf, sizeof buf, p)) out += buf;
        pclose(p);
    }
    return out;
}

} // namespace lumora::test
