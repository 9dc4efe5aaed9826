// Feeds arbitrary bytes to the inter-process message decoder: it must refuse them or give a message
// that encodes back to exactly the same bytes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "platform/system/Ipc.h"

using namespace lumora;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    TIpcMessage message;
    if (!DecodeIpcMessage(data, size, message)) return 0;
    const auto again = EncodeIpcMessage(message);
    if (again.size() != size || std::memcmp(again.data(), data, size) != 0) std::abort();
    return 0;
}
