#include "platform/Platform.h"

#include <memory>

#include "framework/Registry.h"
#include "platform/system/RegistryFile.h"

namespace lumora {

void InstallPlatform() {
    SetRegistryStore(std::make_shared<TFileRegistryStore>(DefaultRegistryPath()));
}

} // namespace lumora
