#include "tests/support/JpegTestUtil.h"

#include <QBuffer>
#include <QImage>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <sstream>

#include "tests/support/CommandOutput.h"

namespace lumora::test {

namespace {
std::string Run(const std::string& command) {
    int status = -1;
    std::string out = CommandOutput(command, &status);
    return status == 0 ? out : std::string();
}

void Put(std::string& out, uint32_t v, int bytes, bool big) {
    for (int i = 0; i < bytes; ++i) {
        const int shift = big ? 8 * (bytes - 1 - i) : 8 * i;
        out.push_back(static_cast<char>(v >> shift));
    }
}
} // namespace

std::string TestJpeg(int w, int h) {
    QImage img(w, h, QImage::Format_RGB32);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const bool block = x < w / 3 && y < h / 4;
            img.setPixel(x, y,
                         qRgb(x * 255 / std::max(w - 1, 1), y * 255 / std::max(h - 1, 1), block ? 230 : 30));
        }
    QByteArray bytes;
    QBuffer buf(&bytes);
    buf.open(QIODevice::WriteOnly);
    img.save(&buf, "JPEG", 95);
    return bytes.toStdString();
}

std::string ExifTiff(bool bigEndian, const std::vector<TExifEntry>& ifd0, uint32_t ifdOffset,
                     uint32_t nextIfd) {
    std::string out = bigEndian ? "MM" : "II";
    Put(out, 42, 2, bigEndian);
    Put(out, ifdOffset, 4, bigEndian);
    if (out.size() < ifdOffset) out.resize(ifdOffset, '\0');
    Put(out, static_cast<uint32_t>(ifd0.size()), 2, bigEndian);
    for (const TExifEntry& e : ifd0) {
        Put(out, e.tag, 2, bigEndian);
        Put(out, e.type, 2, bigEndian);
        Put(out, e.count, 4, bigEndian);
        if (e.type == 3 && e.count == 1) {
            Put(out, e.value, 2, bigEndian);
            Put(out, 0, 2, bigEndian);
        } else {
            Put(out, e.value, 4, bigEndian);
        }
    }
    Put(out, nextIfd, 4, bigEndian);
    return out;
}

std::string ExifSegment(const std::string& tiff) {
    const std::string payload = std::string("Exif\0\0", 6) + tiff;
    std::string out = "\xFF\xE1";
    Put(out, static_cast<uint32_t>(payload.size() + 2), 2, true);
    return out + payload;
}

std::string WithSegment(const std::string& jpeg, const std::string& segment) {
    return jpeg.substr(0, 2) + segment + jpeg.substr(2);
}

std::string OrientedJpeg(int w, int h, int orientation, bool bigEndian) {
    const std::vector<TExifEntry> ifd0 = {
        {0x0100, 4, 1, static_cast<uint32_t>(w)},           // image width
        {0x0112, 3, 1, static_cast<uint32_t>(orientation)}, // orientation
        {0x0128, 3, 1, 2},                                  // resolution unit: inches
    };
    return WithSegment(TestJpeg(w, h), ExifSegment(ExifTiff(bigEndian, ifd0)));
}

std::vector<uint32_t> ReadPpm(const std::string& bytes, int& w, int& h) {
    std::istringstream in(bytes);
    std::string magic;
    int maxval = 0, depth = 3;
    w = h = 0;
    in >> magic;
    if (magic == "P6") {
        in >> w >> h >> maxval;
    } else if (magic == "P7") {
        for (std::string key; in >> key && key != "ENDHDR";) {
            if (key == "WIDTH")
                in >> w;
            else if (key == "HEIGHT")
                in >> h;
            else if (key == "DEPTH")
                in >> depth;
            else if (key == "MAXVAL")
                in >> maxval;
            else
                in.ignore(1 << 20, '\n');
        }
    }
    in.get();
    if (maxval != 255 || depth != 3 || w <= 0 || h <= 0) return {};
    std::vector<uint32_t> px(static_cast<size_t>(w) * h);
    for (auto& p : px) {
        unsigned char rgb[3];
        in.read(reinterpret_cast<char*>(rgb), 3);
        p = (rgb[0] << 16) | (rgb[1] << 8) | rgb[2];
    }
    return in ? px : std::vector<uint32_t>{};
}

std::unique_ptr<TBitmap> PpmBitmap(const std::string& bytes) {
    int w = 0, h = 0;
    const std::vector<uint32_t> px = ReadPpm(bytes, w, h);
    if (px.empty()) return nullptr;
    auto bmp = std::make_unique<TBitmap>(w, h);
    for (int y = 0; y < h; ++y)
        std::copy(px.begin() + int64_t(y) * w, px.begin() + int64_t(y + 1) * w, bmp->Row32(y));
    return bmp;
}

std::unique_ptr<TBitmap> UprightByImageMagick(const std::string& path) {
    return PpmBitmap(Run("convert '" + path + "' -auto-orient -depth 8 ppm:-"));
}

std::string ImageMagickOrientation(const std::string& path) {
    return Run("identify -format '%[orientation]' '" + path + "'");
}

const char* OrientationName(int orientation) {
    static const char* const kNames[] = {"Undefined", "TopLeft",  "TopRight",    "BottomRight", "BottomLeft",
                                         "LeftTop",   "RightTop", "RightBottom", "LeftBottom"};
    return orientation >= 1 && orientation <= 8 ? kNames[orientation] : kNames[0];
}

int MaxChannelDifference(const TBitmap& a, const TBitmap& b) {
    if (a.Width() != b.Width() || a.Height() != b.Height()) return -1;
    int most = 0;
    for (int y = 0; y < a.Height(); ++y)
        for (int x = 0; x < a.Width(); ++x) {
            const TColor p = a.GetPixel(x, y), q = b.GetPixel(x, y);
            for (int shift = 0; shift <= 16; shift += 8)
                most = std::max(most, std::abs(int((p >> shift) & 0xFF) - int((q >> shift) & 0xFF)));
        }
    return most;
}

} // namespace lumora::test
