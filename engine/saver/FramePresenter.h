#pragma once
// Presenting the saver window's framebuffer: drawing marks what changed, and the marks are handed
// to the window system at most once per frame, as a few rectangles. A reveal that copies thousands
// of small cells would otherwise hand over thousands of areas, and the window system's cost per
// repaint grows with the number of pieces it has to track.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "framework/Classes.h"
#include "framework/Forms.h"
#include "framework/Graphics.h"

class QRegion;
class QWidget;

namespace lumora {

// The changed part of a framebuffer, kept as the tiles of a grid that the marks touch. Repainting
// whole tiles costs little more than repainting the marks, and every area handed over lines up with
// the grid, so however many frames the window system adds up, what it tracks stays a few thousand
// tiles at most instead of every small mark apart.
class TDirtyArea {
public:
    static constexpr int Tile = 32;         // pixels a side
    static constexpr size_t MaxRects = 128; // rectangles a present hands over before rows merge

    // r lies within the framebuffer (its negative part is left out).
    void Add(const TRect& r);
    // The marked tiles as rectangles (runs along the rows, stacked where rows repeat); beyond
    // MaxRects rectangles, each row's runs become one from its first marked tile to its last. Clears.
    std::vector<TRect> TakeRects();

private:
    std::vector<std::vector<uint8_t>> rows_; // one flag per tile, grown as marks reach further
};

// Collects the marks of a framebuffer and hands them to Repaint on a timer of one frame: the first
// mark after a present starts it, so a burst of marks costs one repaint of its few rectangles and
// nothing waits for the display in between.
class TFramePresenter {
public:
    static constexpr uint32_t FrameMs = 10; // the time-based effects' own frame, so each is shown

    explicit TFramePresenter(std::function<void(const TRect&)> repaint);
    // r lies within the framebuffer; the rectangles handed to repaint may reach past its right and
    // bottom edges to the end of their tiles.
    void Mark(const TRect& r);
    // Hands over what is marked now rather than at the end of the frame: for the last frame of a
    // change, which nothing follows that a frame's wait would gather.
    void Present();

private:
    std::function<void(const TRect&)> repaint_;
    TDirtyArea dirty_;
    TTimer timer_;
};

// Paints the region of a window from the framebuffer, whose column formLeft is the window's left edge.
void PaintFramebuffer(QWidget& window, const QRegion& region, TBitmap& form, int formLeft);

} // namespace lumora
