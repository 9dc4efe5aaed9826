#include "engine/saver/FramePresenter.h"

#include <cstdint>
#include <limits>
#include <utility>

#include <QPainter>
#include <QRegion>
#include <QWidget>

namespace lumora {

namespace {

int64_t Area(const TRect& r) { return int64_t(r.Width()) * r.Height(); }

bool Contains(const TRect& outer, const TRect& inner) {
    return inner.Left >= outer.Left && inner.Top >= outer.Top && inner.Right <= outer.Right &&
           inner.Bottom <= outer.Bottom;
}

// Drops the rectangles that r covers (r itself is at index keep).
void DropCovered(std::vector<TRect>& rects, size_t keep) {
    const TRect r = rects[keep];
    size_t out = 0;
    for (size_t i = 0; i < rects.size(); ++i)
        if (i == keep || !Contains(r, rects[i])) rects[out++] = rects[i];
    rects.resize(out);
}

} // namespace

void TDirtyArea::Add(const TRect& r) {
    if (r.IsEmpty()) return;
    for (const TRect& e : rects_)
        if (Contains(e, r)) return;
    rects_.push_back(r);
    DropCovered(rects_, rects_.size() - 1);
    while (rects_.size() > Capacity) {
        size_t bestI = 0, bestJ = 1;
        int64_t bestGrowth = std::numeric_limits<int64_t>::max();
        for (size_t i = 0; i < rects_.size(); ++i)
            for (size_t j = i + 1; j < rects_.size(); ++j) {
                int64_t growth = Area(UnionRect(rects_[i], rects_[j])) - Area(rects_[i]) - Area(rects_[j]);
                if (growth < bestGrowth) {
                    bestGrowth = growth;
                    bestI = i;
                    bestJ = j;
                }
            }
        rects_[bestI] = UnionRect(rects_[bestI], rects_[bestJ]);
        rects_.erase(rects_.begin() + static_cast<std::ptrdiff_t>(bestJ));
        DropCovered(rects_, bestI); // bestI < bestJ, so erasing did not move it
    }
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
    std::vector<TRect> rects = dirty_.Rects();
    dirty_.Clear();
    for (const TRect& r : rects) repaint_(r);
}

void PaintFramebuffer(QWidget& window, const QRegion& region, TBitmap& form, int formLeft) {
    QImage image = form.AsQImage();
    if (image.isNull()) return;
    QPainter painter(&window);
    for (const QRect& r : region) painter.drawImage(r.topLeft(), image, r.translated(formLeft, 0));
}

} // namespace lumora
