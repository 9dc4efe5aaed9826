#pragma once

namespace lumora {

// Connects the framework's seams to the real platform services (registry store and the like).
// Called once at start-up by the program and by every test program.
void InstallPlatform();

} // namespace lumora
