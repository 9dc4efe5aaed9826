#pragma once
// How the program's heap gives memory back to the system over a night of pictures.

namespace lumora {

// Run once at start, before any other thread: blocks the size of a picture are mapped on their own
// and unmapped when freed, and the threads share two heap arenas instead of one each.
void KeepHeapSmallOverLongRuns();
// Hands the free pages inside the heap back to the system; after a picture was read and handed over
// the reading thread's working memory is all free at once.
void ReleaseFreeHeapPages();

} // namespace lumora
