#include "tests/pictures/PictureTestUtil.h"

#include <zlib.h>

#include <cstring>
#include <stdexcept>

namespace lumora::test {

Bytes PngChunk(const char* type, const Bytes& data) {
    Bytes out;
    Put32BE(out, static_cast<uint32_t>(data.size()));
    out.insert(out.end(), type, type + 4);
    out.insert(out.end(), data.begin(), data.end());
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

} // namespace lumora::test
