#include "platform/system/Modules.h"

#include <dlfcn.h>

namespace lumora {

namespace {

class DlLoader : public IModuleLoader {
public:
    // dlopen shows no dialog for a missing or damaged file, so nothing needs switching off around it.
    void* Load(const std::string& path) override { return dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL); }
    void* Symbol(void* module, const char* name) override { return dlsym(module, name); }
    bool Free(void* module) override { return dlclose(module) == 0; }
};

DlLoader g_dlLoader;
IModuleLoader* g_loader = &g_dlLoader;

} // namespace

IModuleLoader& ModuleLoader() { return *g_loader; }
void SetModuleLoader(IModuleLoader* loader) { g_loader = loader ? loader : &g_dlLoader; }

} // namespace lumora
