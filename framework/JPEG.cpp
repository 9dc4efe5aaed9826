#include "framework/JPEG.h"

#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <vector>

#include <jpeglib.h>

#include "framework/Checked.h"

namespace lumora {

namespace {

// libjpeg reports fatal errors through error_exit; we jump back to the decoder's frame and throw
// there, so no C++ exception ever unwinds through libjpeg's C frames.
struct ErrorManager {
    jpeg_error_mgr base;
    jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
};

void ErrorExit(j_common_ptr info) {
    auto* err = reinterpret_cast<ErrorManager*>(info->err);
    (*info->err->format_message)(info, err->message);
    longjmp(err->jump, 1);
}

void OutputMessage(j_common_ptr) {} // warnings are not shown to anyone

// Decodes into bitmap; returns an empty string on success or the error text.
std::string Decode(const uint8_t* data, size_t size, TBitmap& bitmap) {
    jpeg_decompress_struct info;
    ErrorManager err;
    std::memset(&info, 0, sizeof info);
    info.err = jpeg_std_error(&err.base);
    err.base.error_exit = ErrorExit;
    err.base.output_message = OutputMessage;
    err.message[0] = 0;
    std::vector<uint8_t> cmykRow;
    if (setjmp(err.jump)) {
        jpeg_destroy_decompress(&info);
        return err.message[0] ? err.message : "JPEG error";
    }
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, data, static_cast<unsigned long>(size));
    jpeg_read_header(&info, TRUE);
    bool cmyk = info.jpeg_color_space == JCS_CMYK || info.jpeg_color_space == JCS_YCCK;
    info.out_color_space = cmyk ? JCS_CMYK : JCS_EXT_BGRX;
    jpeg_calc_output_dimensions(&info);
    // A picture over the pixel budget is decoded at a half, a quarter or an eighth of its size,
    // whichever first fits; it is scaled to the screen afterwards anyway.
    while (!FitsPixelBudget(info.output_width, info.output_height) && info.scale_denom < 8) {
        info.scale_num = 1;
        info.scale_denom *= 2;
        jpeg_calc_output_dimensions(&info);
    }
    if (!FitsPixelBudget(info.output_width, info.output_height)) {
        jpeg_destroy_decompress(&info);
        return "JPEG image is too large";
    }
    bitmap.SetPixelFormat(TPixelFormat::pf32bit);
    bitmap.SetSize(static_cast<int>(info.output_width), static_cast<int>(info.output_height));
    jpeg_start_decompress(&info);
    if (cmyk) cmykRow.resize(static_cast<size_t>(info.output_width) * 4);
    while (info.output_scanline < info.output_height) {
        int y = static_cast<int>(info.output_scanline);
        uint32_t* row = bitmap.Row32(y);
        if (cmyk) {
            JSAMPROW p = cmykRow.data();
            jpeg_read_scanlines(&info, &p, 1);
            // Adobe writes inverted CMYK; this is the conversion every viewer uses.
            for (JDIMENSION x = 0; x < info.output_width; ++x) {
                unsigned c = p[4 * x], m = p[4 * x + 1], yy = p[4 * x + 2], k = p[4 * x + 3];
                row[x] = ((c * k / 255) << 16) | ((m * k / 255) << 8) | (yy * k / 255);
            }
        } else {
            JSAMPROW p = reinterpret_cast<JSAMPROW>(row);
            jpeg_read_scanlines(&info, &p, 1);
            for (JDIMENSION x = 0; x < info.output_width; ++x) row[x] &= 0x00FFFFFF;
        }
    }
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    return {};
}

} // namespace

TJPEGImage::TJPEGImage() : bitmap_(std::make_unique<TBitmap>()) {}
TJPEGImage::~TJPEGImage() = default;

void TJPEGImage::LoadFromMemory(const uint8_t* data, size_t size) {
    auto bitmap = std::make_unique<TBitmap>();
    std::string error = Decode(data, size, *bitmap);
    if (!error.empty()) throw EInvalidGraphic("JPEG error #" + error);
    bitmap_ = std::move(bitmap);
}

void TJPEGImage::LoadFromStream(TStream& stream) {
    int64_t size = stream.Size() - stream.Position();
    if (size <= 0) throw EInvalidGraphic("JPEG error #Empty input file");
    std::vector<uint8_t> bytes(static_cast<size_t>(size));
    stream.ReadBuffer(bytes.data(), size);
    LoadFromMemory(bytes.data(), bytes.size());
}

void RegisterFrameworkFormats() {
    RegisterFileFormat("bmp", "Bitmaps", [] { return std::make_unique<TBitmap>(); });
}

void RegisterJpegFormat() {
    RegisterFileFormat("jpeg", "JPEG Image File", [] { return std::make_unique<TJPEGImage>(); });
    RegisterFileFormat("jpg", "JPEG Image File", [] { return std::make_unique<TJPEGImage>(); });
}

} // namespace lumora
