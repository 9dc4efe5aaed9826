#pragma once
// Loading shared objects by path, binding names and freeing them: dlopen on Linux, or a test double.

#include <string>

namespace lumora {

class IModuleLoader {
public:
    virtual ~IModuleLoader() = default;
    virtual void* Load(const std::string& path) = 0; // nullptr on failure
    virtual void* Symbol(void* module, const char* name) = 0;
    virtual bool Free(void* module) = 0;
};
IModuleLoader& ModuleLoader();
void SetModuleLoader(IModuleLoader* loader); // nullptr = the real one

} // namespace lumora
