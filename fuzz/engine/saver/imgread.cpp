// The reading thread's work on untrusted bytes: decode by extension (the first byte picks one of
// the registered picture classes) over a background colour, fall back to the notice, then scale for
// a monitor by each size mode. Nothing may crash, the result is always a pf32bit picture within the
// budget, and the reading thread's own way through the same bytes gives the same pixels.
#include <QGuiApplication>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "engine/saver/PictureReader.h"
#include "engine/saver/PictureFormats.h"
#include "framework/Checked.h"
#include "platform/display/Bell.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace lumora;
    static const bool ready = [] {
        // The notice is drawn with a font, which needs the application object.
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
        static int argc = 1;
        static char name[] = "fuzz_imgread";
        static char* argv[] = {name, nullptr};
        new QGuiApplication(argc, argv);
        static FakeBell bell;
        SetBell(&bell);
        RegisterPictureFormats();
        // Keep every allocation small enough for the fuzzer's memory limit.
        SetPixelBudget(int64_t(4) << 20);
        return true;
    }();
    (void)ready;
    if (size < 3) return 0;
    static const char* const kExtensions[] = {"bmp", "jpg", "png", "gif", "tif", "tga", "pcx"};
    const char* ext = kExtensions[data[0] % (sizeof kExtensions / sizeof *kExtensions)];
    const int mode = data[1] % 4;
    const int scale = data[2] & 1 ? 250 : 1000;
    TImgReadSize s;
    s.TargetWidth = 320;
    s.TargetHeight = 240;
    s.SizeMode = mode;
    s.SizeLimitX = 200;
    s.SizeLimitY = 150;
    s.PreviewScale = scale;
    s.Smooth = data[2] & 2;
    s.Background = data[2] & 4 ? RGB(0x33, 0x66, 0xCC) : clBlack;
    TBytesStream stream(data + 3, static_cast<int64_t>(size - 3));
    std::unique_ptr<TBitmap> bmp = DecodePictureOrNotice(ext, stream, s.Background);
    if (bmp->PixelFormat() != TPixelFormat::pf32bit || bmp->Width() <= 0) std::abort();
    try {
        ScaleForMonitor(bmp, s);
    } catch (const EOutOfMemory&) {
        // An enlargement beyond the budget is refused, never attempted; the reading thread shows
        // the notice instead.
        bmp = MakeUnreadableNotice();
        try {
            ScaleForMonitor(bmp, s);
        } catch (const EOutOfMemory&) {
        }
    }
    // The reading thread's way (a JPEG fitted while it decodes) gives the same pixels.
    TBytesStream again(data + 3, static_cast<int64_t>(size - 3));
    std::unique_ptr<TBitmap> read = ReadPictureForMonitor(ext, again, s);
    if (read->Width() != bmp->Width() || read->Height() != bmp->Height() ||
        read->PixelFormat() != bmp->PixelFormat())
        std::abort();
    for (int y = 0; y < bmp->Height(); ++y)
        if (std::memcmp(read->Row32(y), bmp->Row32(y), size_t(bmp->Width()) * 4) != 0) std::abort();
    return 0;
}
