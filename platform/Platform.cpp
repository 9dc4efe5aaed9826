#include "platform/Platform.h"

#include <memory>

#include "framework/Registry.h"
#include "platform/system/RegistryFile.h"
#include "platform/system/System.h"

namespace lumora {

void InstallPlatform() {
    UseUtf8CharacterSet();
    SetRegistryStore(std::make_shared<TFileRegistryStore>(DefaultRegistryPath()));
}

} // namespace lumora
