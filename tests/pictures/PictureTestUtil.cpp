#include "tests/pictures/PictureTestUtil.h"

#include <png.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <iterator>
#include <stdexcept>

namespace lumora::test {

Bytes PngChunk(const char* type, const Bytes& data) {
    Bytes out;
    Put32BE(out, static_cast<uint32_t>(data.size()));
    std::copy(type, type + 4, std::back_inserter(out));
    std::copy(data.begin(), data.end(), std::back_inserter(out));
    uLong crc = crc32(0, reinterpret_cast<const Bytef*>(type), 4);
    if (!data.empty()) crc = crc32(crc, data.data(), static_cast<uInt>(data.size()));
    Put32BE(out, static_cast<uint32_t>(crc));
    return out;
}

Bytes PngHeader(uint32_t width, uint32_t height, uint8_t depth, uint8_t colorType, uint8_t interlace,
                uint8_t compression, uint8_t filter) {
    Bytes d;
    Put32BE(d, width);
    Put32BE(d, height);
    d.push_back(depth);
    d.push_back(colorType);
    d.push_back(compression);
    d.push_back(filter);
    d.push_back(interlace);
    return PngChunk("IHDR", d);
}

Bytes PngSignature() { return Bytes{137, 80, 78, 71, 13, 10, 26, 10}; }

Bytes Deflate(const Bytes& raw) {
    uLongf size = compressBound(static_cast<uLong>(raw.size()));
    Bytes out(size);
    if (compress(out.data(), &size, raw.data(), static_cast<uLong>(raw.size())) != Z_OK)
        throw std::runtime_error("compress failed");
    out.resize(size);
    return out;
}

Bytes RechunkIdat(const Bytes& png, size_t size) {
    Bytes out(png.begin(), png.begin() + 8), idat;
    size_t pos = 8;
    bool placed = false;
    while (pos + 12 <= png.size()) {
        uint32_t len = (png[pos] << 24) | (png[pos + 1] << 16) | (png[pos + 2] << 8) | png[pos + 3];
        std::string type(png.begin() + pos + 4, png.begin() + pos + 8);
        Bytes data(png.begin() + pos + 8, png.begin() + pos + 8 + len);
        pos += 12 + len;
        if (type == "IDAT") {
            idat.insert(idat.end(), data.begin(), data.end());
            continue;
        }
        if (!idat.empty() && !placed) {
            for (size_t i = 0; i < idat.size(); i += size) {
                Bytes part(idat.begin() + i, idat.begin() + std::min(idat.size(), i + size));
                Bytes c = PngChunk("IDAT", part);
                out.insert(out.end(), c.begin(), c.end());
            }
            placed = true;
        }
        Bytes c = PngChunk(type.c_str(), data);
        out.insert(out.end(), c.begin(), c.end());
    }
    return out;
}

std::vector<TColor> Colors(const TBitmap& bitmap) {
    std::vector<TColor> c;
    c.reserve(static_cast<size_t>(bitmap.Width()) * bitmap.Height());
    for (int y = 0; y < bitmap.Height(); ++y)
        for (int x = 0; x < bitmap.Width(); ++x) c.push_back(bitmap.GetPixel(x, y));
    return c;
}

std::string BytesToString(const Bytes& b) { return std::string(b.begin(), b.end()); }

namespace {

struct ReadSource {
    const Bytes* data;
    size_t pos = 0;
    std::vector<std::string>* warnings;
};

void ReadFromVector(png_structp png, png_bytep out, png_size_t size) {
    auto* src = static_cast<ReadSource*>(png_get_io_ptr(png));
    if (src->pos + size > src->data->size()) png_error(png, "read past end");
    std::memcpy(out, src->data->data() + src->pos, size);
    src->pos += size;
}

void RecordWarning(png_structp png, png_const_charp message) {
    static_cast<std::vector<std::string>*>(png_get_error_ptr(png))->emplace_back(message);
}

} // namespace

LibpngImage ReadWithLibpng(const Bytes& file) {
    LibpngImage r;
    ReadSource src{&file, 0, &r.warnings};
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_read_struct(&png, &info, nullptr);
        throw std::runtime_error("libpng read failed");
    }
    png_set_read_fn(png, &src, ReadFromVector);
    png_set_error_fn(png, &r.warnings, nullptr, RecordWarning);
    png_read_info(png, info);
    r.colorType = png_get_color_type(png, info);
    r.depth = png_get_bit_depth(png, info);
    r.interlace = png_get_interlace_type(png, info);
    png_set_expand(png);
    png_set_strip_16(png);
    png_set_gray_to_rgb(png);
    png_set_filler(png, 0xFF, PNG_FILLER_AFTER);
    png_set_interlace_handling(png);
    png_read_update_info(png, info);
    r.width = static_cast<int>(png_get_image_width(png, info));
    r.height = static_cast<int>(png_get_image_height(png, info));
    r.rgba.resize(static_cast<size_t>(r.width) * r.height * 4);
    std::vector<png_bytep> rows(r.height);
    for (int y = 0; y < r.height; ++y) rows[y] = r.rgba.data() + static_cast<size_t>(y) * r.width * 4;
    png_read_image(png, rows.data());
    png_read_end(png, nullptr);
    png_destroy_read_struct(&png, &info, nullptr);
    return r;
}

} // namespace lumora::test
