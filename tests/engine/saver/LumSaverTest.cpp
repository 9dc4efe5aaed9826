// The mode letter and the window handle from the command line, and the one saver per X server.
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>

#include "engine/saver/SaverEntry.h"
#include "tests/support/Xvfb.h"

namespace lumora {
namespace {

char Mode(std::vector<const char*> args) {
    args.insert(args.begin(), "lumora");
    return ModeLetter(static_cast<int>(args.size()), args.data());
}

TNativeHandle Handle(std::vector<const char*> args) {
    args.insert(args.begin(), "lumora");
    return HandleArgument(static_cast<int>(args.size()), args.data());
}

TEST(LumSaverTest, ModeLetterIsTheFirstArgumentsSecondCharacter) {
    EXPECT_EQ(Mode({}), 'C');
    for (const char* s : {"/S", "/s", "-s", "/s:99", "/sXYZ", "-S"}) EXPECT_EQ(Mode({s}), 'S') << s;
    EXPECT_EQ(Mode({"/p", "1234"}), 'P');
    EXPECT_EQ(Mode({"/c:6789"}), 'C');
    EXPECT_EQ(Mode({"/a", "5"}), 'A');
    EXPECT_EQ(Mode({"/i"}), 'I');
    EXPECT_EQ(Mode({"/x"}), 'X');
    EXPECT_EQ(Mode({"/1"}), '1');
    // One character, or none at all, is no mode.
    EXPECT_EQ(Mode({"s"}), '\0');
    EXPECT_EQ(Mode({""}), '\0');
    // Only ASCII letters are upper-cased.
    EXPECT_EQ(Mode({"/\xC3\xA9"}), '\xC3');
}

TEST(LumSaverTest, HandleIsZeroUnlessAValidWindowId) {
    EXPECT_EQ(Handle({"/p", "1234"}), TNativeHandle(1234));
    EXPECT_EQ(Handle({"/p", "$1F"}), TNativeHandle(31));
    EXPECT_EQ(Handle({"/p"}), TNativeHandle(0));
    EXPECT_EQ(Handle({"/p", "abc"}), TNativeHandle(0));
    EXPECT_EQ(Handle({"/p", "12abc"}), TNativeHandle(0));
    EXPECT_EQ(Handle({"/p", "-5"}), TNativeHandle(0));
    EXPECT_EQ(Handle({"/p", "99999999999999999999"}), TNativeHandle(0));
    EXPECT_EQ(Handle({"/p", ""}), TNativeHandle(0));
}

// Sets an environment variable for one scope and puts the old value back.
class EnvScope {
public:
    EnvScope(const char* name, const std::string& value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old;
        setenv(name, value.c_str(), 1);
    }
    ~EnvScope() {
        if (old_)
            setenv(name_, old_->c_str(), 1);
        else
            unsetenv(name_);
    }

private:
    const char* name_;
    std::optional<std::string> old_;
};

// The saver's claim on a display is held by the X server: every name of one server reaches it, a
// second server has its own, and it is free again once its holder is gone. Run inside two fresh
// servers, the second one listening on TCP as well.
TEST(LumSaverTest, OneSaverLockPerXServerWhateverItsName) {
    if (const char* other = std::getenv("LUMORA_TEST_OTHER_DISPLAY")) {
        const std::string own = std::getenv("DISPLAY"), number = own.substr(1);
        struct Case {
            std::string held, asking;
            bool same;
        } cases[] = {
            {own, own, true},
            {own, "unix:" + number, true},
            {own + ".0", own, true},
            {"unix/:" + number, own + ".0", true},
            {own, "localhost:" + number, true},
            {"127.0.0.1:" + number + ".0", own, true},
            {own, other, false},
        };
        for (const Case& c : cases) {
            std::optional<TSaverDisplayLock> first(std::in_place);
            {
                EnvScope display("DISPLAY", c.held);
                ASSERT_TRUE(first->Claim()) << c.held;
            }
            EnvScope display("DISPLAY", c.asking);
            TSaverDisplayLock second;
            EXPECT_EQ(second.Claim(), !c.same) << c.held << " then " << c.asking;
            if (!c.same) continue;
            first.reset(); // the first saver ends
            EXPECT_TRUE(second.Claim()) << c.held << " then " << c.asking;
        }
        return;
    }
    if (!test::HaveTool("Xvfb") || !test::HaveTool("xdpyinfo")) GTEST_SKIP() << "no Xvfb or xdpyinfo";
    char self[4096] = {};
    ASSERT_GT(readlink("/proc/self/exe", self, sizeof self - 1), 0);
    const std::string command = "timeout 60 " + test::WithXvfb() +
                                " '-screen 0 64x64x24' bash -c 'LUMORA_TEST_OTHER_DISPLAY=$DISPLAY " +
                                test::WithXvfb() + " \"-screen 0 64x64x24 -listen tcp\" " + self +
                                " --gtest_filter=LumSaverTest.OneSaverLockPerXServerWhateverItsName' 2>&1; "
                                "echo \"exit=$?\"";
    const std::string out = test::CommandOutput(command);
    EXPECT_EQ(test::ScriptValue(out, "exit"), "0") << out;

    // Without a server to ask there is nothing to share.
    EnvScope display("DISPLAY", ":59999");
    TSaverDisplayLock one, two;
    EXPECT_TRUE(one.Claim());
    EXPECT_TRUE(two.Claim());
}

} // namespace
} // namespace lumora
