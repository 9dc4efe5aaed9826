#include "platform/Platform.h"

#include <memory>

#include "framework/Registry.h"
#include "platform/Registry.h"

namespace lumora {

void InstallPlatform() {
    SetRegistryStore(std::make_shared<TFileRegistryStore>(DefaultRegistryPath()));
}

} // namespace lumora
