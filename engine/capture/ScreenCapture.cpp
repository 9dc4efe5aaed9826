#include "engine/capture/ScreenCapture.h"

#include "framework/SysUtils.h"
#include "pictures/gif/GIFImage.h"

namespace lumora {

TScreenCapture::TScreenCapture() {
    timer_.SetEnabled(false);
    timer_.OnTimer = [this] { MotionStep(); };
}

TScreenCapture::~TScreenCapture() { timer_.SetEnabled(false); }

void TScreenCapture::SetCaptureMode(TCaptureMode mode) {
    if (!active_) captureMode_ = mode;
}

void TScreenCapture::SetActive(bool active) {
    if (loading_) {
        active_ = false;
        return;
    }
    if (active && captureMode_ != TCaptureMode::cmMotionGIF)
        throw Exception("Active can only be set to true if capturemode is cmMotionGIF.");
    if (active == active_) return;
    active_ = active;
    if (active) {
        recording_.reset();
        recording_ = std::make_unique<TGIFImage>();
        // Screen content keeps its colours best with a palette made for each frame; a recording is
        // stored, not shown, so it is drawn without threads.
        recording_->ColorReduction = rmQuantize;
        recording_->ReductionBits = 8;
        recording_->DrawOptions = static_cast<TGIFDrawOptions>(recording_->DrawOptions & ~drThreaded);
        timer_.SetInterval(static_cast<uint32_t>(std::max(0, MotionGifInterval)));
        timer_.SetEnabled(true);
    } else {
        timer_.SetEnabled(false);
    }
}

void TScreenCapture::MotionStep() {
    timer_.SetEnabled(false);
    std::unique_ptr<TBitmap> frame;
    Capture(Left, Top, 0, frame, Height, Width);
    TGIFSubImage* added = recording_->Images()[recording_->Add(frame.get())];
    auto control = std::make_unique<TGIFGraphicControlExtension>(added);
    control->SetDelay(MotionGifInterval / 10);
    added->Extensions().Add(std::move(control));
    if (active_) timer_.SetEnabled(true);
}

} // namespace lumora
