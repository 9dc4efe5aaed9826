#pragma once
// What an unprivileged user runs in the tests that run the program as the README's users do:
// where the tests run as root, such commands run as "nobody", who may not reach the build (a
// checkout in root's home), so it runs a copy of the program and its audio libraries.

#include <unistd.h>

#include <filesystem>
#include <string>

namespace lumora::test {

// The prefix of a shell command that runs it as an unprivileged user (see WhyNotAsUser() for where
// root cannot). The user gets none of the tests' XDG folders, which are root's own: they are the
// ones under the HOME the command is given.
inline std::string AsUser() {
    return geteuid() == 0 ? "setpriv --reuid=nobody --regid=nogroup --clear-groups env -u XDG_CONFIG_HOME "
                            "-u XDG_CACHE_HOME -u XDG_DATA_HOME -u XDG_STATE_HOME -u XDG_RUNTIME_DIR "
                          : "";
}

// Copies the program, under the name given, and the libraries beside it into folder (made, and
// open to everyone); returns the copy's path.
inline std::string CopyOfTheProgram(const std::string& folder, const std::string& name = "lumora") {
    namespace fs = std::filesystem;
    fs::create_directories(folder);
    fs::permissions(folder, fs::perms::all);
    for (const auto& file : fs::directory_iterator(std::string(LUMORA_BINARY_DIR) + "/bin"))
        if (file.path().extension() == ".so") fs::copy_file(file.path(), folder + "/" + file.path().filename().string());
    const std::string copy = folder + "/" + name;
    fs::copy_file(std::string(LUMORA_BINARY_DIR) + "/bin/lumora", copy);
    return copy;
}

// A path as the shell reads it back.
inline std::string ShellQuoted(const std::string& path) {
    std::string quoted = "'";
    for (char c : path) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

} // namespace lumora::test
