// Shared main of the test programs: a Qt application on the offscreen platform, then GoogleTest.
#include <QApplication>

#include <cstdlib>

#include <gtest/gtest.h>

#include "framework/Registry.h"
#include "platform/Platform.h"
#include "tests/support/PrivateSaverFolder.h"

int main(int argc, char** argv) {
    // Before any thread starts: a mount namespace is one process's only while it has one thread.
    lumora::test::MakeSaverFolderPrivate();
    // The tools the tests run (lame, vorbiscomment, xdotool) read their arguments and write text in
    // the caller's locale, which is ASCII for a login without LANG: the tests and everything they
    // start run in one UTF-8 locale, whatever the caller's. Tests that run the program in another
    // locale say so where they start it.
    setenv("LC_ALL", "C.UTF-8", 1);
    if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    lumora::InstallPlatform();
    // Tests never touch the user's own settings: without an explicit registry file they get one in memory.
    if (!std::getenv("LUMORA_REGISTRY")) lumora::SetRegistryStore(std::make_shared<lumora::TMemoryRegistryStore>());
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
