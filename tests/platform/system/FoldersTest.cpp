// Where the user's files go: the settings, the screen saver entry and the Trash, for any
// environment a program may be started in (no HOME under "env -i" or a service, a relative HOME or
// XDG variables).
#include <pwd.h>
#include <unistd.h>

#include <optional>
#include <string>

#include <gtest/gtest.h>

#include "platform/session/Installer.h"
#include "platform/shell/Shell.h"
#include "platform/system/RegistryFile.h"
#include "platform/system/System.h"
#include "tests/support/ScopedEnv.h"

namespace lumora {
namespace {

TEST(FoldersTest, UserFilesGoToTheAccountsHomeOrAnAbsoluteXdgFolder) {
    const passwd* account = getpwuid(getuid());
    ASSERT_NE(account, nullptr);
    const std::string home = account->pw_dir;
    test::ScopedEnv registry("LUMORA_REGISTRY", std::nullopt);
    const struct Case {
        std::optional<std::string> home, config, data;
        std::string configFolder, dataFolder;
    } cases[] = {
        {"/home/u", std::nullopt, std::nullopt, "/home/u/.config", "/home/u/.local/share"},
        {"/home/u", "/x/config", "/x/data", "/x/config", "/x/data"},
        // No HOME: the account's home from the password database.
        {std::nullopt, std::nullopt, std::nullopt, home + "/.config", home + "/.local/share"},
        {"", std::nullopt, std::nullopt, home + "/.config", home + "/.local/share"},
        // A relative HOME is no home: the files would go wherever the program was started.
        {"u", std::nullopt, std::nullopt, home + "/.config", home + "/.local/share"},
        {"./home/u", "/x/config", std::nullopt, "/x/config", home + "/.local/share"},
        // A relative or empty XDG folder is ignored, as the XDG rules ask.
        {"/home/u", "config", "share", "/home/u/.config", "/home/u/.local/share"},
        {"/home/u", "./c", "", "/home/u/.config", "/home/u/.local/share"},
    };
    for (const Case& c : cases) {
        test::ScopedEnv h("HOME", c.home), x("XDG_CONFIG_HOME", c.config), d("XDG_DATA_HOME", c.data);
        const std::string where = c.home.value_or("(no HOME)") + " " + c.config.value_or("-") + " " + c.data.value_or("-");
        EXPECT_EQ(HomeFolder(), c.home && c.home->starts_with('/') ? *c.home : home) << where;
        EXPECT_EQ(ConfigFolder(), c.configFolder) << where;
        EXPECT_EQ(DefaultRegistryPath(), c.configFolder + "/lumora/registry.reg") << where;
        EXPECT_EQ(DataFolder(), c.dataFolder) << where;
        EXPECT_EQ(TrashFolder(), c.dataFolder + "/Trash") << where;
        EXPECT_EQ(ScreenSaverEntryPath(), c.dataFolder + "/applications/screensavers/lumora.desktop") << where;
    }
}

} // namespace
} // namespace lumora
