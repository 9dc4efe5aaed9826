// Registry text files: reading any bytes never fails, and what was read writes back to text that
// reads to the same tree.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "framework/Registry.h"
#include "platform/system/RegistryFile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace lumora;
    TRegParseResult first = ParseRegistryText(std::string(reinterpret_cast<const char*>(data), size));
    std::string text = FormatRegistryText(first.Tree);
    TRegParseResult second = ParseRegistryText(text);
    if (second.Damaged() || !(second.Tree == first.Tree) || FormatRegistryText(second.Tree) != text) std::abort();
    return 0;
}
