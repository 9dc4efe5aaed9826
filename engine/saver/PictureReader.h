#pragma once
// The picture-reading thread: decodes one file through the picture classes, scales it for the
// monitor by the size settings, and hands the bitmap to the main thread.

#include <functional>
#include <memory>
#include <string>

#include "framework/Forms.h"
#include "framework/Graphics.h"

namespace lumora {

// The text drawn in place of a picture that cannot be read.
extern const char* const kUnreadablePictureText;

// The navy 400 x 64 notice with the red text, pf32bit.
std::unique_ptr<TBitmap> MakeUnreadableNotice();
// Loads a file through the picture classes as a pf32bit bitmap, transparent parts shown over the
// background colour; a file that cannot be read, runs out of memory or decodes to nothing gives the
// notice instead.
std::unique_ptr<TBitmap> LoadPictureOrNotice(const std::string& fileName, TColor background = clBlack);
// The same for bytes in a stream, decoded by the picture class of the extension ("jpg").
std::unique_ptr<TBitmap> DecodePictureOrNotice(const std::string& extension, TStream& stream,
                                               TColor background = clBlack);

// How a picture is fitted to its monitor.
struct TImgReadSize {
    int TargetWidth = 0, TargetHeight = 0; // the monitor record's size
    int SizeMode = 1;                      // "SizeAdjust": 0 keep and crop, 1 shrink only, 2 fit
    int SizeLimitX = 0, SizeLimitY = 0;    // "SizeAdjustX", "SizeAdjustY"
    int PreviewScale = 1000;               // per mille; 1000 full screen
    bool Smooth = true;                    // "CImgFilter"
    TColor Background = clBlack;           // "BackGround", which shows through transparent pictures
};
void ScaleForMonitor(std::unique_ptr<TBitmap>& bmp, const TImgReadSize& size);
// The reading thread's work: LoadPictureOrNotice, then ScaleForMonitor, with the notice (scaled the
// same way) when the scaled size is beyond the pixel budget. A JPEG that is shrunk smoothly is
// fitted while it decodes, never held whole; the pixels are the same.
std::unique_ptr<TBitmap> ReadPictureForMonitor(const std::string& fileName, const TImgReadSize& size);
// The same for bytes in a stream, as DecodePictureOrNotice reads them.
std::unique_ptr<TBitmap> ReadPictureForMonitor(const std::string& extension, TStream& stream,
                                               const TImgReadSize& size);

class TImgRead : public TThread {
public:
    explicit TImgRead(bool createSuspended = true);
    ~TImgRead() override;

    // Filled by the window before Start.
    std::string FileName;
    TImgReadSize Size;

    // Runs on the main thread with the finished bitmap (empty when the picture decoded to nothing).
    std::function<void(std::unique_ptr<TBitmap>)> OnHandOver;
    // Main thread: after this neither the hand-over nor OnTerminate's owner check let the thread
    // reach its owner (the window is going away).
    void CancelHandOver() { cancelled_ = true; }
    bool Cancelled() const { return cancelled_; }
    bool HandedOver() const { return handedOver_; }

protected:
    void Execute() override;

private:
    void HandOver();
    std::unique_ptr<TBitmap> bitmap_;
    bool cancelled_ = false;  // main thread only
    bool handedOver_ = false; // main thread only
};

} // namespace lumora
