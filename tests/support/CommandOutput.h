#pragma once
// What a shell command prints, for tests that run the real program or an outside tool.

#include <cstdio>
#include <string>
#include <vector>

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

// A program run to its end with its output left alone: its exit status (-1 when it did not exit) and the
// most memory it held resident, in KiB, as the kernel counted it. A small Python process starts it:
// a child of the test program itself would be charged the test program's own peak, which it
// inherits when it starts.
struct MeasuredRun {
    int exitStatus = -1;
    long peakKiB = 0;
};
inline MeasuredRun RunMeasured(const std::vector<std::string>& args) {
    std::string command = "python3 -c 'import resource, subprocess, sys; s = subprocess.run(sys.argv[1:]).returncode; "
                          "print(s, resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss)'";
    for (const std::string& a : args) command += " '" + a + "'";
    MeasuredRun run;
    if (std::sscanf(CommandOutput(command + " 2>/dev/null").c_str(), "%d %ld", &run.exitStatus, &run.peakKiB) != 2)
        run.exitStatus = -1;
    return run;
}

} // namespace lumora::test
