#include "platform/system/Heap.h"

#include <malloc.h>

namespace lumora {

namespace {
// Anything from a few rows of a photo up is mapped on its own. glibc's default threshold moves up to
// the largest block freed so far (up to 32 MB): after the first picture every later screen-sized
// bitmap and decoder buffer is carved from the heap instead, and the heap keeps the pages it grew
// to around whatever small block is still live above them.
constexpr int kMapOnItsOwnBytes = 256 * 1024;
// Each reading thread is new; with an arena per thread the free memory of every past reader stays
// in an arena of its own. Two arenas leave the main thread and the busy workers room to allocate
// side by side.
constexpr int kArenas = 2;
} // namespace

void KeepHeapSmallOverLongRuns() {
    mallopt(M_MMAP_THRESHOLD, kMapOnItsOwnBytes);
    mallopt(M_ARENA_MAX, kArenas);
}

void ReleaseFreeHeapPages() { malloc_trim(0); }

} // namespace lumora
