#include "platform/Platform.h"

namespace lumora {

void InstallPlatform() {}

} // namespace lumora
