#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <set>

#include "audio/tags/ID3v2.h"
#include "platform/system/SafeRewrite.h"
#include "tests/audio/tags/TagTestUtil.h"

namespace lumora {
namespace {

using test::ReadFile;
using test::TempDir;

std::set<std::string> Listing(const std::string& dir) {
    std::set<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir)) names.insert(e.path().filename().string());
    return names;
}

struct HookGuard {
    explicit HookGuard(TRewriteFaultHook hook) { SetRewriteFaultHook(std::move(hook)); }
    ~HookGuard() { SetRewriteFaultHook(nullptr); }
};

// A file whose ID3v2 tag must be rebuilt (none yet) so that saving goes through a rewrite.
std::string Rebuildable(const TempDir& dir, const std::string& name) {
    return dir.WriteFile(name, test::MpegFrames(200));
}

bool SaveTitle(const std::string& path, const std::string& title) {
    TID3v2 tag;
    tag.SetTitle(title);
    return tag.SaveToFile(path);
}

TEST(TagSafeRewrite, InjectedFailuresLeaveTheOriginalAndNoTemporaryFile) {
    TempDir dir;
    std::string path = Rebuildable(dir, "a.mp3");
    std::string original = ReadFile(path);
    auto before = Listing(dir.Path());
    struct Case {
        TRewriteStep step;
        int64_t index;
    } cases[] = {{TRewriteStep::Create, 0}, {TRewriteStep::Write, 0}, {TRewriteStep::Write, 1},
                 {TRewriteStep::Sync, 0},   {TRewriteStep::Rename, 0}};
    for (const auto& c : cases) {
        HookGuard guard([&](TRewriteStep step, int64_t index) { return step == c.step && index == c.index; });
        EXPECT_FALSE(SaveTitle(path, "x")) << int(c.step) << "/" << c.index;
        EXPECT_EQ(ReadFile(path), original);
        EXPECT_EQ(Listing(dir.Path()), before);
    }
    EXPECT_TRUE(SaveTitle(path, "x"));
    EXPECT_NE(ReadFile(path), original);
}

TEST(TagSafeRewrite, ProducerFailureAndShortSourceAreRefused) {
    TempDir dir;
    std::string path = dir.WriteFile("b.bin", "0123456789");
    EXPECT_FALSE(RewriteFile(path, [](int64_t, TRewriteOutput& out) { return out.Write(std::string("x")) && false; }));
    EXPECT_FALSE(RewriteFile(path, [](int64_t, TRewriteOutput& out) { return out.CopySource(5, 6); }));
    EXPECT_EQ(ReadFile(path), "0123456789");
    EXPECT_EQ(Listing(dir.Path()).size(), 1u);
    EXPECT_TRUE(RewriteFile(path, [](int64_t size, TRewriteOutput& out) {
        return size == 10 && out.CopySource(5, -1) && out.Write(std::string("!"));
    }));
    EXPECT_EQ(ReadFile(path), "56789!");
    EXPECT_FALSE(RewriteFile(dir.File("missing"), [](int64_t, TRewriteOutput&) { return true; }));
}

TEST(TagSafeRewrite, AStrayTildeFileIsNeverTouched) {
    TempDir dir;
    std::string path = Rebuildable(dir, "c.mp3");
    dir.WriteFile("c.mp3~", "somebody else's file");
    ASSERT_TRUE(SaveTitle(path, "Stray"));
    EXPECT_EQ(ReadFile(dir.File("c.mp3~")), "somebody else's file");
    EXPECT_EQ(Listing(dir.Path()), (std::set<std::string>{"c.mp3", "c.mp3~"}));
    TID3v2 tag;
    ASSERT_TRUE(tag.ReadFromFile(path));
    EXPECT_EQ(tag.Title(), "Stray");
    // A failed rebuild does not remove it either.
    HookGuard guard([](TRewriteStep step, int64_t) { return step == TRewriteStep::Rename; });
    EXPECT_FALSE(tag.RemoveFromFile(path));
    EXPECT_EQ(ReadFile(dir.File("c.mp3~")), "somebody else's file");
}

TEST(TagSafeRewrite, SymlinkTargetIsUpdatedAndModeKept) {
    TempDir dir;
    std::string target = Rebuildable(dir, "real.mp3");
    ASSERT_EQ(::chmod(target.c_str(), 0640), 0);
    std::string link = dir.File("link.mp3");
    ASSERT_EQ(::symlink("real.mp3", link.c_str()), 0);
    ASSERT_TRUE(SaveTitle(link, "Linked"));
    struct stat st;
    ASSERT_EQ(::lstat(link.c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    ASSERT_EQ(::stat(target.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    TID3v2 tag;
    ASSERT_TRUE(tag.ReadFromFile(target));
    EXPECT_EQ(tag.Title(), "Linked");
    EXPECT_EQ(Listing(dir.Path()), (std::set<std::string>{"link.mp3", "real.mp3"}));
}

TEST(TagSafeRewrite, WriterKilledMidCopyLeavesTheOriginal) {
    TempDir dir;
    std::string path = Rebuildable(dir, "k.mp3");
    std::string original = ReadFile(path);
    pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        SetRewriteFaultHook([](TRewriteStep step, int64_t index) {
            if (step == TRewriteStep::Write && index == 1) ::raise(SIGKILL);
            return false;
        });
        SaveTitle(path, "never");
        ::_exit(0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status));
    EXPECT_EQ(ReadFile(path), original);
    EXPECT_EQ(Listing(dir.Path()), (std::set<std::string>{"k.mp3"}));
}

TEST(TagSafeRewrite, RegionWritesTouchOnlyTheirRegion) {
    TempDir dir;
    std::string path = dir.WriteFile("r.bin", "abcdefgh");
    EXPECT_TRUE(WriteFileRegion(path, 2, "XY", 2));
    EXPECT_EQ(ReadFile(path), "abXYefgh");
    EXPECT_FALSE(WriteFileRegion(path, 7, "XY", 2));      // would run past the end
    EXPECT_FALSE(WriteFileRegion(path, 9, "XY", 2, true)); // an append must start at the end
    EXPECT_EQ(ReadFile(path), "abXYefgh");
    {
        HookGuard guard([](TRewriteStep step, int64_t) { return step == TRewriteStep::Sync; });
        EXPECT_FALSE(WriteFileRegion(path, 8, "XY", 2, true));
    }
    EXPECT_EQ(ReadFile(path), "abXYefgh"); // the failed append was cut off again
    EXPECT_TRUE(WriteFileRegion(path, 8, "XY", 2, true));
    EXPECT_EQ(ReadFile(path), "abXYefghXY");
    EXPECT_TRUE(TruncateFileTo(path, 4));
    EXPECT_FALSE(TruncateFileTo(path, 5));
    EXPECT_EQ(ReadFile(path), "abXY");
}

} // namespace
} // namespace lumora
