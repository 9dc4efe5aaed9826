// Scanning a picture tree of 100 000 files in 1 000 folders into a play list, against `find` listing
// the same tree in the same run (the list goes to /dev/null). The ratio is the "ratio" counter.
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include <benchmark/benchmark.h>

#include "engine/playlists/PlayLists.h"
#include "tests/platform/shell/ShellLinkBuilder.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kFolders = 1000;
constexpr int kFilesPerFolder = 100;

// The tree: ten top folders of a hundred folders each; in every folder mostly pictures of the
// listed kinds, some other files, and in every tenth folder one shortcut to a picture beside it.
class TTree {
public:
    TTree() {
        char tmpl[] = "/tmp/lumora-scan-XXXXXX";
        root_ = mkdtemp(tmpl);
        const char* exts[] = {".jpg", ".PNG", ".gif", ".bmp", ".txt", ".jpeg", ".tif", ".db"};
        for (int f = 0; f < kFolders; ++f) {
            std::string folder = root_ + "/g" + std::to_string(f / 100) + "/f" + std::to_string(f);
            std::filesystem::create_directories(folder);
            int files = kFilesPerFolder;
            if (f % 10 == 0) {
                lumora::test::TLinkSpec spec;
                spec.RelativePath = ".\\p0.jpg";
                std::ofstream(folder + "/link.lnk", std::ios::binary) << lumora::test::BuildShellLink(spec);
                --files;
            }
            for (int i = 0; i < files; ++i) {
                std::string path = folder + "/p" + std::to_string(i) + exts[i % 8];
                int fd = ::open(path.c_str(), O_CREAT | O_WRONLY, 0644);
                if (fd >= 0) ::close(fd);
            }
        }
    }
    ~TTree() { std::filesystem::remove_all(root_); }
    const std::string& Root() const { return root_; }

private:
    std::string root_;
};

TTree& Tree() {
    static TTree tree;
    return tree;
}

double RunFind(const std::string& root) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    const char* argv[] = {"find", root.c_str(), "-type", "f", nullptr};
    auto t0 = Clock::now();
    pid_t pid;
    if (posix_spawnp(&pid, "find", &actions, nullptr, const_cast<char**>(argv), environ) != 0) std::abort();
    int status = 0;
    waitpid(pid, &status, 0);
    auto t1 = Clock::now();
    posix_spawn_file_actions_destroy(&actions);
    return std::chrono::duration<double>(t1 - t0).count();
}

void BM_ScanTreeVsFind(benchmark::State& state) {
    const std::string& root = Tree().Root();
    RunFind(root); // warm the directory cache for both
    double ours = 0, reference = 0;
    int listed = 0;
    for (auto _ : state) {
        reference += RunFind(root);
        auto t0 = Clock::now();
        lumora::TFileProc proc(root, false, true, lumora::kPictureExtensions);
        auto t1 = Clock::now();
        listed = proc.Files.Count();
        double t = std::chrono::duration<double>(t1 - t0).count();
        ours += t;
        state.SetIterationTime(t);
    }
    state.counters["ratio"] = ours / reference;
    state.counters["find_ms"] = reference * 1000 / state.iterations();
    state.counters["listed"] = listed;
}
BENCHMARK(BM_ScanTreeVsFind)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(10);

} // namespace

BENCHMARK_MAIN();
