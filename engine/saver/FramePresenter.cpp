#include "engine/saver/FramePresenter.h"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <utility>

#include <QPainter>
#include <QRegion>
#include <QWidget>

namespace lumora {

void TDirtyArea::Add(const TRect& r) {
    const TRect inside =
        IntersectRect(r, TRect{0, 0, std::numeric_limits<int>::max(), std::numeric_limits<int>::max()});
    if (inside.IsEmpty()) return;
    const size_t firstRow = size_t(inside.Top / Tile), lastRow = size_t((inside.Bottom - 1) / Tile);
    const size_t firstCol = size_t(inside.Left / Tile), lastCol = size_t((inside.Right - 1) / Tile);
    if (rows_.size() <= lastRow) rows_.resize(lastRow + 1);
    for (size_t y = firstRow; y <= lastRow; ++y) {
        std::vector<uint8_t>& row = rows_[y];
        if (row.size() <= lastCol) row.resize(lastCol + 1);
        std::fill(row.begin() + std::ptrdiff_t(firstCol), row.begin() + std::ptrdiff_t(lastCol + 1),
                  uint8_t(1));
    }
}

std::vector<TRect> TDirtyArea::TakeRects() {
    struct Run {
        size_t first, last; // tiles, inclusive
    };
    std::vector<std::vector<Run>> runs(rows_.size());
    for (size_t y = 0; y < rows_.size(); ++y) {
        const std::vector<uint8_t>& row = rows_[y];
        for (size_t x = 0; x < row.size();) {
            if (!row[x]) {
                ++x;
                continue;
            }
            size_t end = x;
            while (end + 1 < row.size() && row[end + 1])
                ++end;
            runs[y].push_back(Run{x, end});
            x = end + 1;
        }
    }
    // A run that the row above had too grows that row's rectangle downwards.
    auto stack = [&] {
        std::vector<TRect> rects;
        std::vector<std::pair<Run, size_t>> open, next; // runs of the row above, with their rectangle
        for (size_t y = 0; y < runs.size(); ++y) {
            next.clear();
            for (const Run& run : runs[y]) {
                auto above = std::find_if(open.begin(), open.end(), [&](const auto& o) {
                    return o.first.first == run.first && o.first.last == run.last;
                });
                size_t index;
                if (above != open.end()) {
                    index = above->second;
                    rects[index].Bottom = int((y + 1) * Tile);
                } else {
                    index = rects.size();
                    rects.push_back(TRect{int(run.first * Tile), int(y * Tile), int((run.last + 1) * Tile),
                                          int((y + 1) * Tile)});
                }
                next.emplace_back(run, index);
            }
            std::swap(open, next);
        }
        return rects;
    };
    std::vector<TRect> rects = stack();
    if (rects.size() > MaxRects) {
        for (std::vector<Run>& row : runs)
            if (row.size() > 1) row = {Run{row.front().first, row.back().last}};
        rects = stack();
    }
    for (std::vector<uint8_t>& row : rows_)
        std::fill(row.begin(), row.end(), uint8_t(0));
    return rects;
}

TFramePresenter::TFramePresenter(std::function<void(const TRect&)> repaint) : repaint_(std::move(repaint)) {
    timer_.SetEnabled(false);
    timer_.SetInterval(FrameMs);
    timer_.OnTimer = [this] { Present(); };
}

void TFramePresenter::Mark(const TRect& r) {
    if (r.IsEmpty()) return;
    dirty_.Add(r);
    if (!timer_.Enabled()) timer_.SetEnabled(true);
}

void TFramePresenter::Present() {
    timer_.SetEnabled(false);
    // Taken first: a repaint may mark again.
    const std::vector<TRect> rects = dirty_.TakeRects();
    for (const TRect& r : rects)
        repaint_(r);
}

void PaintFramebuffer(QWidget& window, const QRegion& region, TBitmap& form, int formLeft) {
    QImage image = form.AsQImage();
    if (image.isNull()) return;
    QPainter painter(&window);
    for (const QRect& r : region)
        painter.drawImage(r.topLeft(), image, r.translated(formLeft, 0));
}

} // namespace lumora
