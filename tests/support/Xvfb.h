#pragma once
// Running scripts inside a fresh X server (Xvfb) for the end-to-end tests.

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

// What a script printed as "key=value" on a line of its own; empty when it printed no such line.
inline std::string ScriptValue(const std::string& out, const std::string& key) {
    std::istringstream in(out);
    std::string line;
    while (std::getline(in, line))
        if (line.rfind(key + "=", 0) == 0) return line.substr(key.size() + 1);
    return "";
}

} // namespace lumora::test
