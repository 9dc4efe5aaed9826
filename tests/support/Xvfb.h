#pragma once
// Running scripts inside a fresh X server (Xvfb) for the end-to-end tests.

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>

#include "tests/support/CommandOutput.h"
#include "tests/support/HaveTool.h"

namespace lumora::test {

// The command that runs what follows it inside a fresh Xvfb: WithXvfb() + " '-screen 0 640x480x24' CMD".
inline std::string WithXvfb() { return "bash '" + std::string(LUMORA_SOURCE_DIR) + "/tests/support/with-xvfb'"; }

// Put before the program in a command, it runs in the POSIX locale, as for a login without LANG:
// text, file names and window titles must not depend on the locale's character set.
inline constexpr const char* kPosixLocale = "LC_ALL=C ";

// Runs the bash script at scriptPath inside a fresh Xvfb started with serverArgs and returns what it
// printed, standard error included, so a failure shows the program's own words.
inline std::string RunScriptInXvfb(const std::string& serverArgs, const std::string& scriptPath) {
    const std::string command = "timeout 120 " + WithXvfb() + " '" + serverArgs + "' bash " + scriptPath + " 2>&1";
    return CommandOutput(command);
}

// True inside a run of RunTestInXvfb: the test program is a client of its own X server.
inline bool InTestXServer() { return std::getenv("LUMORA_TEST_XVFB") != nullptr; }

// Runs the test named by filter in a new run of this test program, on Qt's X11 platform inside a
// fresh Xvfb started with serverArgs; returns its exit status and puts what it printed into out.
inline int RunTestInXvfb(const std::string& serverArgs, const std::string& filter, std::string& out) {
    char self[4096] = {};
    if (readlink("/proc/self/exe", self, sizeof self - 1) <= 0) return -1;
    const std::string command = "timeout 300 " + WithXvfb() + " '" + serverArgs +
                                "' env LUMORA_TEST_XVFB=1 QT_QPA_PLATFORM=xcb '" + self +
                                "' --gtest_filter=" + filter + " 2>&1";
    int status = -1;
    out = CommandOutput(command, &status);
    return status;
}

// What a script printed as "key=value" on a line of its own; empty when it printed no such line.
inline std::string ScriptValue(const std::string& out, const std::string& key) {
    std::istringstream in(out);
    std::string line;
    while (std::getline(in, line))
        if (line.rfind(key + "=", 0) == 0) return line.substr(key.size() + 1);
    return "";
}

} // namespace lumora::test
