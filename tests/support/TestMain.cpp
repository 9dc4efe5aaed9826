// Shared main of the test programs: a Qt application on the offscreen platform, then GoogleTest.
#include <QApplication>

#include <cstdlib>

#include <gtest/gtest.h>

#include "framework/Registry.h"
#include "platform/Platform.h"

int main(int argc, char** argv) {
    if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    lumora::InstallPlatform();
    // Tests never touch the user's own settings: without an explicit registry file they get one in memory.
    if (!std::getenv("LUMORA_REGISTRY")) lumora::SetRegistryStore(std::make_shared<lumora::TMemoryRegistryStore>());
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
