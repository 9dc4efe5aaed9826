// Item ID lists come back from the views' item data as raw bytes: parse them and walk them.
#include <cstddef>
#include <cstdint>

#include "platform/shell/Shell.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    lumora::TItemIdList id;
    if (!lumora::TItemIdList::FromBytes(data, size, id)) return 0;
    int count = id.Count();
    if (id.Size() > size) __builtin_trap();
    auto items = id.Split(count);
    if (static_cast<int>(items.size()) != count) __builtin_trap();
    if (!(lumora::TItemIdList::Join(items) == id)) __builtin_trap();
    for (int i = 0; i < count; ++i) (void)id.ItemData(i);
    (void)id.Parent();
    (void)id.Last();
    (void)lumora::GetPathFromIdList(id);
    return 0;
}
