#pragma once
// The screen-capture component: one-shot captures (what the saver uses for its first picture) and a
// motion mode that records a region of the screen at a fixed interval.

#include <memory>

#include "engine/capture/BaseCapture.h"
#include "framework/Forms.h"

namespace lumora {

class TGIFImage;

enum class TCaptureMode { cmStillBitmap, cmStillJPEG, cmStillGIF, cmMotionGIF };

class TScreenCapture : public TBaseCapture {
public:
    TScreenCapture();
    ~TScreenCapture() override;

    TCaptureMode CaptureMode() const { return captureMode_; }
    // Ignored while recording.
    void SetCaptureMode(TCaptureMode mode);
    bool Active() const { return active_; }
    // True is refused (exception) unless the mode is cmMotionGIF; while the component is being
    // loaded from a stored description the value is kept as False.
    void SetActive(bool active);
    void SetLoading(bool loading) { loading_ = loading; }
    int MotionGifInterval = 0; // ms
    int Left = 0, Top = 0, Width = 0, Height = 0;

    // The animation being recorded (or last recorded): each step adds a frame whose graphic control
    // extension holds the interval. Made afresh by each start of recording; none before the first.
    TGIFImage* Recording() const { return recording_.get(); }

private:
    void MotionStep();
    TCaptureMode captureMode_ = TCaptureMode::cmStillBitmap;
    bool active_ = false;
    bool loading_ = false;
    std::unique_ptr<TGIFImage> recording_;
    TTimer timer_;
};

} // namespace lumora
