#include "engine/ScreenCapture.h"

#include "framework/SysUtils.h"

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
        framesRecorded_ = 0;
        if (OnRecordingStart) OnRecordingStart();
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
    ++framesRecorded_;
    if (OnMotionFrame) OnMotionFrame(*frame, MotionGifInterval / 10);
    if (active_) timer_.SetEnabled(true);
}

} // namespace lumora
