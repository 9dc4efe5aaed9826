// The heap settings the saver runs under all night, checked in a child process so the settings
// and the threads stay out of the other tests.

#include <fcntl.h>
#include <malloc.h>
#include <sys/wait.h>
#include <unistd.h>

#include <barrier>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "platform/system/Heap.h"
#include "tests/support/Sanitizer.h"

using namespace lumora;

namespace {

// The check's name, for the test program started again as a child.
constexpr const char* kCheckVariable = "LUMORA_HEAP_CHECK";

// Runs the named check in this test program started anew, so that its heap is as fresh as the
// saver's when it sets the heap up: in this process earlier tests have left free blocks and arenas
// that a new allocation would reuse whatever the settings. The child's exit code is the check's.
int InFreshProcessWithHeapSettings(const char* check) {
    std::fflush(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        setenv(kCheckVariable, check, 1);
        if (const int quiet = open("/dev/null", O_WRONLY); quiet >= 0) dup2(quiet, STDOUT_FILENO);
        execl("/proc/self/exe", "tests_platform", "--gtest_filter=Heap.Check", nullptr);
        _exit(127);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 100;
}

// After a 20 MB block came and went, a block the size of a few screen rows is still mapped on its
// own, so freeing it gives its pages back: glibc's default raises its mapping threshold to the
// largest block freed and would carve this one from the heap.
int RowsBlockIsMappedAfterAPictureWasFreed() {
    void* picture = std::malloc(20 << 20);
    static_cast<volatile char*>(picture)[0] = 1;
    std::free(picture);
    const size_t before = mallinfo2().hblkhd;
    void* rows = std::malloc(1 << 20);
    static_cast<volatile char*>(rows)[0] = 1;
    const size_t after = mallinfo2().hblkhd;
    std::free(rows);
    return after >= before + (1 << 20) ? 0 : 1;
}

// Eight threads holding memory at the same time share two arenas; by default each new thread
// would get an arena of its own, which keeps its free memory after the thread is gone.
int ThreadsShareTwoArenas() {
    constexpr int kThreads = 8;
    std::barrier holding(kThreads);
    std::vector<std::thread> threads;
    for (int i = 0; i < kThreads; ++i)
        threads.emplace_back([&holding] {
            void* block = std::malloc(1000);
            static_cast<volatile char*>(block)[0] = 1;
            holding.arrive_and_wait(); // all hold a block before any frees it
            std::free(block);
        });
    // Arenas outlive their threads, so they are counted afterwards.
    for (auto& t : threads)
        t.join();
    char* text = nullptr;
    size_t size = 0;
    FILE* out = open_memstream(&text, &size);
    malloc_info(0, out);
    std::fclose(out);
    int arenas = 0;
    for (const char* p = text; (p = std::strstr(p, "<heap nr=")) != nullptr; ++p)
        ++arenas;
    std::free(text);
    return arenas <= 2 ? 0 : 1;
}

} // namespace

// The checks' side, run by the test program started again as a separate process.
TEST(Heap, Check) {
    const char* check = std::getenv(kCheckVariable);
    if (!check) GTEST_SKIP() << "runs only as the child process of the test below";
    KeepHeapSmallOverLongRuns();
    const int result =
        std::strcmp(check, "rows") == 0 ? RowsBlockIsMappedAfterAPictureWasFreed() : ThreadsShareTwoArenas();
    std::fflush(nullptr);
    _exit(result);
}

TEST(Heap, PictureSizedBlocksAreMappedOnTheirOwnAndThreadsShareTwoArenas) {
    // The sanitizer's allocator has no arenas and ignores the settings.
    if (test::BuiltWithAddressSanitizer()) GTEST_SKIP() << "built with a sanitizer";
    EXPECT_EQ(InFreshProcessWithHeapSettings("rows"), 0);
    EXPECT_EQ(InFreshProcessWithHeapSettings("arenas"), 0);
}
