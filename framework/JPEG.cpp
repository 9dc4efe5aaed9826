#include "framework/JPEG.h"

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <exception>
#include <vector>

#include <jpeglib.h>
#include <jerror.h>

#include "framework/ByteOrder.h"
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

// The orientation of the first EXIF block among the APP1 segments libjpeg kept.
int StoredOrientation(const jpeg_decompress_struct& info) {
    for (jpeg_saved_marker_ptr m = info.marker_list; m; m = m->next)
        if (m->marker == JPEG_APP0 + 1 && m->data_length >= 6 && std::memcmp(m->data, "Exif\0\0", 6) == 0)
            return ExifOrientation(m->data, m->data_length);
    return 1;
}

// The rest of a stream, read in pieces as libjpeg asks for them: a photograph's file is never held
// whole, and its reading goes along with the decoding. A read that fails ends the decoding with the
// stream's own exception.
struct StreamSource {
    jpeg_source_mgr base;
    TStream* stream = nullptr;
    std::vector<uint8_t> buffer;
    bool anyRead = false;
    std::exception_ptr failure;

    static StreamSource& Of(j_decompress_ptr info) { return *reinterpret_cast<StreamSource*>(info->src); }

    static void Init(j_decompress_ptr) {}
    static void Term(j_decompress_ptr) {}

    static boolean Fill(j_decompress_ptr info) {
        StreamSource& src = Of(info);
        int64_t got = 0;
        try {
            got = src.stream->Read(src.buffer.data(), static_cast<int64_t>(src.buffer.size()));
        } catch (...) {
            src.failure = std::current_exception();
        }
        if (src.failure) ERREXIT(info, JERR_FILE_READ);
        if (got <= 0) {
            // As libjpeg's own sources do: nothing at all is an error, a file cut short ends in an
            // inserted end-of-image marker.
            if (!src.anyRead) ERREXIT(info, JERR_INPUT_EMPTY);
            WARNMS(info, JWRN_JPEG_EOF);
            src.buffer[0] = 0xFF;
            src.buffer[1] = JPEG_EOI;
            got = 2;
        }
        src.anyRead = true;
        src.base.next_input_byte = src.buffer.data();
        src.base.bytes_in_buffer = static_cast<size_t>(got);
        return TRUE;
    }

    static void Skip(j_decompress_ptr info, long count) {
        StreamSource& src = Of(info);
        if (count <= 0) return;
        while (static_cast<size_t>(count) > src.base.bytes_in_buffer) {
            count -= static_cast<long>(src.base.bytes_in_buffer);
            Fill(info);
        }
        src.base.next_input_byte += count;
        src.base.bytes_in_buffer -= static_cast<size_t>(count);
    }

    StreamSource(TStream& s) : stream(&s), buffer(64 * 1024) {
        std::memset(&base, 0, sizeof base);
        base.init_source = Init;
        base.fill_input_buffer = Fill;
        base.skip_input_data = Skip;
        base.resync_to_restart = jpeg_resync_to_restart;
        base.term_source = Term;
    }
};

// Decodes into sink from the source that setSource gives libjpeg; returns an empty string on
// success or the error text. A source's failure is rethrown.
// Fewer bytes than the coded data of a picture of this size could take: Huffman codes give every
// block of every component at least one bit, so a file whose rest holds less is cut short or junk,
// and its pixels would be mostly made up. (Arithmetic coding has no such floor.)
bool CodedDataCannotFill(const jpeg_decompress_struct& info, int64_t bytesLeft) {
    if (info.arith_code) return false;
    int64_t blocks = 0;
    for (int c = 0; c < info.num_components; ++c)
        blocks += static_cast<int64_t>(info.comp_info[c].width_in_blocks) * info.comp_info[c].height_in_blocks;
    return bytesLeft < (blocks + 7) / 8;
}

// bytesAfter: what the source holds beyond libjpeg's buffer.
template <typename SetSource, typename BytesAfter>
std::string Decode(SetSource setSource, BytesAfter bytesAfter, const std::exception_ptr* sourceFailure,
                   TJpegRowSink& sink) {
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
        if (sourceFailure && *sourceFailure) std::rethrow_exception(*sourceFailure);
        return err.message[0] ? err.message : "JPEG error";
    }
    jpeg_create_decompress(&info);
    try {
        setSource(&info);
        jpeg_save_markers(&info, JPEG_APP0 + 1, 0xFFFF);
        jpeg_read_header(&info, TRUE);
        // Refused before the rows are taken: such a picture would cost its whole size in memory.
        if (CodedDataCannotFill(info, static_cast<int64_t>(info.src->bytes_in_buffer) + bytesAfter())) {
            jpeg_destroy_decompress(&info);
            return "Premature end of JPEG file";
        }
        const int orientation = StoredOrientation(info);
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
        sink.Begin(static_cast<int>(info.output_width), static_cast<int>(info.output_height), orientation);
        jpeg_start_decompress(&info);
        // The width as a local: read from libjpeg's struct, which the row might alias, the loop
        // below would reload it for every pixel instead of running vectorised.
        const size_t width = info.output_width;
        if (cmyk) cmykRow.resize(width * 4);
        while (info.output_scanline < info.output_height) {
            int y = static_cast<int>(info.output_scanline);
            uint32_t* row = sink.Row(y);
            if (cmyk) {
                JSAMPROW p = cmykRow.data();
                jpeg_read_scanlines(&info, &p, 1);
                // Adobe writes inverted CMYK; this is the conversion every viewer uses.
                for (size_t x = 0; x < width; ++x) {
                    unsigned c = p[4 * x], m = p[4 * x + 1], yy = p[4 * x + 2], k = p[4 * x + 3];
                    row[x] = ((c * k / 255) << 16) | ((m * k / 255) << 8) | (yy * k / 255);
                }
            } else {
                JSAMPROW p = reinterpret_cast<JSAMPROW>(row);
                jpeg_read_scanlines(&info, &p, 1);
            }
            sink.RowDone(y);
        }
        jpeg_finish_decompress(&info);
    } catch (...) {
        // The sink gave up (no memory for its rows): libjpeg's state goes before the exception.
        jpeg_destroy_decompress(&info);
        throw;
    }
    jpeg_destroy_decompress(&info);
    return {};
}

// The whole picture in one bitmap, as stored.
class TBitmapSink : public TJpegRowSink {
public:
    explicit TBitmapSink(TBitmap& bitmap) : bitmap_(bitmap) {}
    void Begin(int width, int height, int orientation) override {
        bitmap_.SetPixelFormat(TPixelFormat::pf32bit);
        bitmap_.SetSize(width, height);
        orientation_ = orientation;
    }
    uint32_t* Row(int y) override { return bitmap_.Row32(y); }
    void RowDone(int y) override { ClearSpareBytes(bitmap_.Row32(y), bitmap_.Width()); }
    int Orientation() const { return orientation_; }

private:
    TBitmap& bitmap_;
    int orientation_ = 1;
};

void ThrowIfFailed(const std::string& error) {
    if (!error.empty()) throw EInvalidGraphic("JPEG error #" + error);
}

void DecodeOrThrow(const uint8_t* data, size_t size, TJpegRowSink& sink) {
    ThrowIfFailed(Decode([&](j_decompress_ptr info) { jpeg_mem_src(info, data, static_cast<unsigned long>(size)); },
                         [] { return int64_t(0); }, nullptr, sink));
}

void DecodeOrThrow(TStream& stream, TJpegRowSink& sink) {
    StreamSource source(stream);
    ThrowIfFailed(Decode([&](j_decompress_ptr info) { info->src = &source.base; },
                         [&] { return std::max<int64_t>(0, stream.Size() - stream.Position()); }, &source.failure,
                         sink));
}

} // namespace

void TJpegRowSink::ClearSpareBytes(uint32_t* row, int width) {
    for (int x = 0; x < width; ++x) row[x] &= 0x00FFFFFF;
}

TJPEGImage::TJPEGImage() : bitmap_(std::make_unique<TBitmap>()) {}
TJPEGImage::~TJPEGImage() = default;

namespace {
// The whole picture, decoded by decodeInto into a sink, turned upright.
template <typename DecodeInto> std::unique_ptr<TBitmap> UprightBitmap(DecodeInto decodeInto) {
    auto bitmap = std::make_unique<TBitmap>();
    TBitmapSink sink(*bitmap);
    decodeInto(sink);
    OrientUpright(*bitmap, sink.Orientation());
    return bitmap;
}
} // namespace

void TJPEGImage::LoadFromMemory(const uint8_t* data, size_t size) {
    bitmap_ = UprightBitmap([&](TBitmapSink& sink) { DecodeOrThrow(data, size, sink); });
}

void TJPEGImage::LoadFromStream(TStream& stream) {
    bitmap_ = UprightBitmap([&](TBitmapSink& sink) { DecodeOrThrow(stream, sink); });
}

void DecodeJpegRows(TStream& stream, TJpegRowSink& sink) { DecodeOrThrow(stream, sink); }

int ExifOrientation(const uint8_t* app1, size_t size) {
    // "Exif\0\0", then a TIFF structure: byte order, 42, the offset of IFD0; IFD0 is an entry count
    // and 12-byte entries (tag, type, count, value). Only IFD0 is read, so no chain of offsets is
    // ever followed.
    constexpr size_t kHeader = 6;
    if (size < kHeader + 8 || std::memcmp(app1, "Exif\0\0", kHeader) != 0) return 1;
    const uint8_t* tiff = app1 + kHeader;
    const size_t length = size - kHeader;
    const bool big = tiff[0] == 'M' && tiff[1] == 'M';
    if (!big && !(tiff[0] == 'I' && tiff[1] == 'I')) return 1;
    if (Get16(tiff + 2, big) != 42) return 1;
    const uint32_t ifd = Get32(tiff + 4, big);
    if (ifd < 8 || ifd > length - 2) return 1;
    const size_t count = Get16(tiff + ifd, big);
    // A directory cut short is taken as damaged as a whole.
    if (count * 12 > length - ifd - 2) return 1;
    for (size_t i = 0; i < count; ++i) {
        const uint8_t* entry = tiff + ifd + 2 + 12 * i;
        if (Get16(entry, big) != 0x0112) continue;
        // One SHORT, stored in the first two bytes of the value field.
        if (Get16(entry + 2, big) != 3 || Get32(entry + 4, big) != 1) return 1;
        const int orientation = Get16(entry + 8, big);
        return orientation >= 1 && orientation <= 8 ? orientation : 1;
    }
    return 1;
}

void RegisterFrameworkFormats() {
    RegisterFileFormat("bmp", "Bitmaps", [] { return std::make_unique<TBitmap>(); });
}

void RegisterJpegFormat() {
    RegisterFileFormat("jpeg", "JPEG Image File", [] { return std::make_unique<TJPEGImage>(); });
    RegisterFileFormat("jpg", "JPEG Image File", [] { return std::make_unique<TJPEGImage>(); });
}

} // namespace lumora
