// The mode letter and the window handle from the command line.
#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>

#include "engine/saver/SaverEntry.h"
#include "tests/support/TempDir.h"

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

TEST(LumSaverTest, OneSaverLockPerDisplayWhateverTheSpelling) {
    test::TempDir runtime;
    EnvScope folder("XDG_RUNTIME_DIR", runtime.Path());
    // Each holds the lock for the first name; the second name reaches the same X server or not.
    struct Case {
        const char* held;
        const char* other;
        bool same;
    } cases[] = {
        {":77.0", ":77.1", true},    {":77", "unix:77", true},      {":77", ":77.0", true},
        {"unix:77.2", "unix/:77", true}, {":77", ":077", true},      {":77", ":78", false},
        {":77", "otherhost:77", false},  {"otherhost:77", "OtherHost:77.1", true},
        {":77", "tcp/localhost:77", false},
    };
    for (const Case& c : cases) {
        std::optional<TSaverDisplayLock> first(std::in_place);
        {
            EnvScope display("DISPLAY", c.held);
            ASSERT_TRUE(first->Claim()) << c.held;
        }
        EnvScope display("DISPLAY", c.other);
        std::optional<TSaverDisplayLock> second(std::in_place);
        EXPECT_EQ(second->Claim(), !c.same) << c.held << " then " << c.other;
        if (!c.same) continue;
        first.reset(); // the first saver ends
        EXPECT_TRUE(second->Claim()) << c.held << " then " << c.other;
    }
}

} // namespace
} // namespace lumora
