#include "platform/display/CursorList.h"

#include <map>
#include <mutex>
#include <optional>

namespace lumora {

namespace {

struct TCursorEntry {
    std::function<QCursor()> make;
    std::optional<QCursor> cursor;
};

// Function-local so registration from another module's static initialisation finds it built.
std::map<int, TCursorEntry>& Cursors() {
    static std::map<int, TCursorEntry> cursors;
    return cursors;
}

std::mutex& CursorsMutex() {
    static std::mutex mutex;
    return mutex;
}

} // namespace

void RegisterCursor(int index, std::function<QCursor()> make) {
    std::lock_guard lock(CursorsMutex());
    Cursors()[index] = TCursorEntry{std::move(make), std::nullopt};
}

bool CursorRegistered(int index) {
    std::lock_guard lock(CursorsMutex());
    return Cursors().count(index) != 0;
}

QCursor CursorByIndex(int index) {
    std::lock_guard lock(CursorsMutex());
    auto it = Cursors().find(index);
    if (it == Cursors().end() || !it->second.make) return QCursor(Qt::ArrowCursor);
    if (!it->second.cursor) it->second.cursor = it->second.make();
    return *it->second.cursor;
}

} // namespace lumora
