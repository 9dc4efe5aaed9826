#pragma once
// Presenting the saver window's framebuffer: drawing marks what changed, and the marks are handed
// to the window system at most once per frame, as a few rectangles. A reveal that copies thousands
// of small cells would otherwise hand over thousands of areas, and the window system's cost per
// repaint grows with the number of pieces it has to track.

#include <cstddef>
#include <functional>
#include <vector>

#include "framework/Classes.h"
#include "framework/Forms.h"
#include "framework/Graphics.h"

class QRegion;
class QWidget;

namespace lumora {

// The changed part of a framebuffer as at most Capacity rectangles. A rectangle that does not fit
// is merged with another, choosing the pair whose bounding box adds the least area, so scattered
// small marks become a few larger ones and marks far apart stay apart while there is room.
class TDirtyArea {
public:
    static constexpr size_t Capacity = 8;

    void Add(const TRect& r);
    const std::vector<TRect>& Rects() const { return rects_; }
    bool Empty() const { return rects_.empty(); }
    void Clear() { rects_.clear(); }

private:
    std::vector<TRect> rects_;
};

// Collects the marks of a framebuffer and hands them to Repaint on a timer of one frame: the first
// mark after a present starts it, so a burst of marks costs one repaint of its few rectangles and
// nothing waits for the display in between.
class TFramePresenter {
public:
    static constexpr uint32_t FrameMs = 10;

    explicit TFramePresenter(std::function<void(const TRect&)> repaint);
    void Mark(const TRect& r);
    // Hands the marks over now (the frame timer does it otherwise).
    void Present();

private:
    std::function<void(const TRect&)> repaint_;
    TDirtyArea dirty_;
    TTimer timer_;
};

// Paints the region of a window from the framebuffer, whose column formLeft is the window's left edge.
void PaintFramebuffer(QWidget& window, const QRegion& region, TBitmap& form, int formLeft);

} // namespace lumora
