// The animation painter: plays the frames of a GIF image on a canvas with their delays and disposal
// methods. A threaded painter touches the image and the canvas only inside synchronised calls on the
// main thread, so the image is never read while the main thread changes it.

#include <algorithm>
#include <chrono>
#include <limits>

#include "framework/Checked.h"
#include "pictures/gif/GIFImage.h"
#include "platform/system/Clock.h"

namespace lumora {

namespace {

// Frame delays count in units of 12 ms.
constexpr int64_t kUnitMs = 12;
constexpr int kDefaultDelay = 10, kMinimumDelay = 3, kInlineMaximumDelay = 1000;

int64_t RoundDiv(int64_t num, int64_t den) { return num >= 0 ? (num + den / 2) / den : -((-num + den / 2) / den); }

TRect ScaledFrameRect(const TGIFSubImage& frame, const TRect& rect, int screenWidth, int screenHeight) {
    if (screenWidth <= 0 || screenHeight <= 0) return rect;
    const int64_t rw = rect.Width(), rh = rect.Height();
    return TRect{rect.Left + static_cast<int>(RoundDiv(frame.Left() * rw, screenWidth)),
                 rect.Top + static_cast<int>(RoundDiv(frame.Top() * rh, screenHeight)),
                 rect.Left + static_cast<int>(RoundDiv((frame.Left() + frame.Width()) * rw, screenWidth)),
                 rect.Top + static_cast<int>(RoundDiv((frame.Top() + frame.Height()) * rh, screenHeight))};
}

} // namespace

int PlayedDelay(int delay) {
    return delay > 0 ? std::max(delay, kMinimumDelay) : kDefaultDelay;
}

TGIFPainter::TGIFPainter(TGIFPainter** painterRef, TGIFDrawOptions options, const TRect& rect, TCanvas& canvas,
                         TGIFImage* image)
    : TThread(true), painterRef_(painterRef), image_(image), canvas_(canvas), rect_(rect), options_(options),
      animationSpeed_(image ? image->AnimationSpeed() : 100) {
    if (painterRef_) *painterRef_ = this;
    hasEvent_ = (options_ & drThreaded) && (options_ & drAnimate) && image_ && image_->Images().Count() >= 2 &&
                animationSpeed_ >= 0;
    backgroundColor_ = image_ ? image_->ResolvedBackgroundColor() : clWhite;
    canvasSize_ = TPoint{canvas_.Bitmap().Width(), canvas_.Bitmap().Height()};
    if (!image_) return;
    // Which disposal methods the play will need decides the buffers made now.
    bool restoreBackground = options_ & drClearOnLoop, restorePrevious = false;
    for (int i = 0; i < image_->Images().Count(); ++i)
        if (TGIFGraphicControlExtension* gce = image_->Images()[i]->GraphicControlExtension()) {
            restoreBackground |= gce->Disposal() == 2;
            restorePrevious |= gce->Disposal() == 3;
        }
    const int w = rect_.Width(), h = rect_.Height();
    if (w <= 0 || h <= 0) return;
    const TRect whole{0, 0, w, h};
    if (restoreBackground && (options_ & drTransparent)) {
        background_ = std::make_unique<TBitmap>(w, h);
        background_->Canvas().CopyRect(whole, canvas_, rect_);
    }
    if (restoreBackground || restorePrevious) {
        buffer_ = std::make_unique<TBitmap>(w, h);
        buffer_->Canvas().Brush.Color = backgroundColor_;
        buffer_->Canvas().CopyRect(whole, canvas_, rect_);
        previousBuffer_ = std::make_unique<TBitmap>(w, h);
        previousBuffer_->Canvas().Brush.Color = backgroundColor_;
    }
}

TGIFPainter::~TGIFPainter() { Cleanup(); }

void TGIFPainter::Cleanup() {
    if (cleanedUp_) return;
    cleanedUp_ = true;
    if (TGIFImage* image = image_) {
        std::lock_guard lock(image->PaintersLock());
        if (painterRef_ && *painterRef_ == this) *painterRef_ = nullptr;
        auto& list = image->Painters();
        list.erase(std::remove(list.begin(), list.end(), this), list.end());
    }
    image_ = nullptr;
    buffer_.reset();
    previousBuffer_.reset();
    background_.reset();
}

void TGIFPainter::Stop() {
    Terminate();
    if (!Threaded()) return;
    {
        std::lock_guard lock(eventMutex_);
        signalled_ = true;
    }
    eventCond_.notify_all();
    Priority = TThreadPriority::tpNormal;
    if (!running_) Run(); // a painter never started runs just long enough to see it must end
}

void TGIFPainter::Run() {
    if (running_) return;
    running_ = true;
    if (Threaded()) {
        FreeOnTerminate = true;
        OnTerminate = [this] { Cleanup(); };
        TThread::Start();
        return;
    }
    Execute();
    Cleanup();
    delete this;
}

void TGIFPainter::SetAnimationSpeed(int speed) {
    speed = std::clamp(speed, 0, 1000);
    if (speed == animationSpeed_) return;
    animationSpeed_ = speed;
    if (hasEvent_) {
        {
            std::lock_guard lock(eventMutex_);
            signalled_ = true;
        }
        eventCond_.notify_all();
    } else {
        restart_ = true;
    }
}

bool TGIFPainter::WaitEvent(int64_t ms) {
    std::unique_lock lock(eventMutex_);
    bool woken;
    if (ms < 0) {
        eventCond_.wait(lock, [this] { return signalled_; });
        woken = true;
    } else {
        woken = eventCond_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return signalled_; });
    }
    signalled_ = false; // the event resets itself
    return woken;
}

void TGIFPainter::WaitInline(int64_t ms) {
    const uint32_t start = timeGetTime();
    for (;;) {
        const int64_t elapsed = static_cast<uint32_t>(timeGetTime() - start);
        if (elapsed >= ms || Terminated()) return;
        Sleep(static_cast<uint32_t>(std::min<int64_t>(100, ms - elapsed)));
        // The program's own messages go on while an inline painter plays.
        if (IsMainThread()) Application().ProcessMessages();
        if (Application().Terminated()) Terminate();
    }
}

void TGIFPainter::DoEvent(const TGIFPainterEvent& event) {
    if (!event || Terminated()) return;
    if (Threaded()) {
        Synchronize([&] {
            if (!Terminated()) event(this);
        });
    } else {
        event(this);
    }
}

void TGIFPainter::Execute() {
    auto sync = [this](const std::function<void()>& fn) {
        if (Threaded()) Synchronize(fn);
        else fn();
    };
    restart_ = true;
    while (restart_ && !Terminated()) {
        activeImage_ = 0;
        DoEvent(OnPaintStart);
        restart_ = false;
        int64_t loopsLeft = 1;
        int firstFrame = 0;
        bool loopSeen = false;
        int pending = Threaded() ? 0 : 1;
        previousDisposal_ = 1;
        uint32_t start = timeGetTime();
        int64_t lastWait = 0;
        bool firstPass = true;
        while ((loopsLeft != 0 || (options_ & drLoopForever)) && !Terminated() && !restart_) {
            activeImage_ = firstFrame;
            if (!firstPass) DoEvent(OnLoopRestart);
            firstPass = false;
            while (!Terminated() && !restart_) {
                // Look at the frame (and render it) where the image lives.
                bool endOfPass = false;
                sync([&] {
                    if (!image_ || Terminated() || activeImage_ >= image_->Images().Count() || activeImage_ < 0) {
                        endOfPass = true;
                        return;
                    }
                    TGIFSubImage& frame = *image_->Images()[activeImage_];
                    if (frame.Empty()) {
                        endOfPass = true;
                        return;
                    }
                    if (pending > 0) frame.Bitmap();
                });
                if (endOfPass) break;
                if (pending > 0) {
                    const int speed = animationSpeed_;
                    int64_t wait = -1;
                    if (speed > 0) {
                        const int64_t lag = (static_cast<int64_t>(static_cast<uint32_t>(timeGetTime() - start)) - lastWait) / 2;
                        const auto scaled = CheckedMul(pending * kUnitMs - lag, 100);
                        wait = scaled ? RoundDiv(*scaled, speed) : kInlineMaximumDelay * kUnitMs;
                        wait = std::max<int64_t>(wait, 0);
                    } else if (!Threaded()) {
                        wait = kInlineMaximumDelay * kUnitMs;
                    }
                    start = timeGetTime();
                    lastWait = std::max<int64_t>(wait, 0);
                    if (Threaded()) {
                        if (WaitEvent(wait)) {
                            // Woken early (a speed change or a stop): the next wait starts afresh.
                            start = timeGetTime();
                            lastWait = 0;
                        }
                    } else {
                        WaitInline(wait);
                    }
                } else {
                    std::this_thread::yield();
                }
                if (Terminated()) break;
                DoEvent(OnFramePaint);
                if (Terminated()) break;
                int delay = 0;
                sync([&] {
                    if (!image_ || Terminated() || activeImage_ >= image_->Images().Count()) return;
                    TGIFSubImage& frame = *image_->Images()[activeImage_];
                    disposal_ = 1;
                    for (int i = 0; i < frame.Extensions().Count(); ++i) {
                        TGIFExtension* e = frame.Extensions()[i];
                        if (auto* loop = dynamic_cast<TGIFAppExtNSLoop*>(e)) {
                            if (!loopSeen) {
                                loopSeen = true;
                                loopsLeft = loop->Loops;
                                if (Threaded() && (loop->Loops == 0 || (options_ & drLoopForever))) loopsLeft = -1;
                                firstFrame = activeImage_;
                            }
                        } else if (auto* gce = dynamic_cast<TGIFGraphicControlExtension*>(e)) {
                            disposal_ = gce->Disposal();
                        }
                    }
                    PaintFrame();
                    delay = frame.Delay();
                    // Drawn, a frame after the first gives its pixels back until the next loop draws it.
                    if (activeImage_ > 0) frame.ReleasePixels();
                });
                previousDisposal_ = disposal_;
                if (Terminated()) break;
                pending = PlayedDelay(delay);
                if (!Threaded()) pending = std::min(pending, kInlineMaximumDelay);
                const int shown = activeImage_;
                DoEvent(OnFramePainted);
                if (activeImage_ == shown) activeImage_ = shown + 1;
                if (!(options_ & drAnimate)) break;
            }
            if (loopsLeft > 0) --loopsLeft;
            if (!((options_ & drAnimate) && (options_ & drLoop))) break;
        }
    }
    activeImage_ = -1;
    DoEvent(OnPaintEnd);
}

void TGIFPainter::PaintFrame() {
    // A target that is no longer the surface the play started on (freed or remade at another size)
    // ends the play quietly.
    if ((options_ & drCheckCanvas) &&
        (canvas_.Bitmap().Width() != canvasSize_.X || canvas_.Bitmap().Height() != canvasSize_.Y)) {
        Terminate();
        return;
    }
    if (buffer_) ComposingPaint();
    else PlainPaint();
    // The target's owner learns that its picture changed (the image's back buffer passes it on).
    if (!Terminated() && canvas_.Bitmap().OnChange) canvas_.Bitmap().OnChange();
}

void TGIFPainter::PlainPaint() {
    TGIFSubImage& frame = *image_->Images()[activeImage_];
    frame.Draw(canvas_, rect_, options_ & drTransparent, options_ & drTile);
    started_ = true;
}

void TGIFPainter::ComposingPaint() {
    TGIFSubImage& frame = *image_->Images()[activeImage_];
    const TRect whole{0, 0, rect_.Width(), rect_.Height()};
    TBitmap* surface = buffer_.get();
    bool copyToTarget = true, restoreAfter = false;
    switch (disposal_) {
    case 2: restoreAfter = true; break;
    case 3:
        if (previousDisposal_ <= 1) {
            // Straight onto the target, so the buffer keeps the picture from before this frame.
            surface = nullptr;
            copyToTarget = false;
        } else {
            previousBuffer_->Canvas().CopyRect(whole, buffer_->Canvas(), whole);
            surface = previousBuffer_.get();
        }
        break;
    default: break;
    }
    if ((options_ & drClearOnLoop) && activeImage_ == 0 && surface) RestoreToBackground(*surface, frame);
    if (surface) frame.Draw(surface->Canvas(), whole, options_ & drTransparent, options_ & drTile);
    else frame.Draw(canvas_, rect_, options_ & drTransparent, options_ & drTile);
    if (copyToTarget) canvas_.CopyRect(rect_, surface->Canvas(), whole);
    if (restoreAfter) RestoreToBackground(*buffer_, frame);
    started_ = true;
}

void TGIFPainter::RestoreToBackground(TBitmap& target, TGIFSubImage& frame) {
    const TRect whole{0, 0, target.Width(), target.Height()};
    const int sw = image_->Width(), sh = image_->Height();
    std::vector<TRect> areas;
    if ((options_ & drTile) && frame.Width() < sw && frame.Height() < sh) {
        for (int64_t y = frame.Top(); y < whole.Bottom; y += std::max(sh, 1))
            for (int64_t x = frame.Left(); x < whole.Right; x += std::max(sw, 1))
                areas.push_back(TRect{static_cast<int>(x), static_cast<int>(y), static_cast<int>(x + frame.Width()),
                                      static_cast<int>(y + frame.Height())});
    } else {
        areas.push_back(ScaledFrameRect(frame, whole, sw, sh));
    }
    for (const TRect& area : areas) {
        if (options_ & drTransparent) {
            if (background_) target.Canvas().CopyRect(area, background_->Canvas(), area);
        } else {
            target.Canvas().Brush.Color = (options_ & drTile) ? ColorToRGB(image_->ResolvedBackgroundColor()) : backgroundColor_;
            target.Canvas().FillRect(area);
        }
    }
}

} // namespace lumora
