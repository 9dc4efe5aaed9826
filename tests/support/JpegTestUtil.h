#pragma once
// JPEG files for the tests: a picture that looks different under every turn and mirror, an EXIF
// block written by hand into it, and ImageMagick's upright reading of a file as the oracle.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "framework/Graphics.h"

namespace lumora::test {

// A w x h JPEG (Qt's writer): a red ramp across, a green ramp down and a blue block near the top
// left, so that each of the eight orientations gives other pixels.
std::string TestJpeg(int w, int h);

// One entry of an EXIF directory; a value of up to four bytes is stored in the entry, a SHORT of
// count 1 in its first two bytes.
struct TExifEntry {
    uint16_t tag, type;
    uint32_t count, value;
};
// The TIFF structure of an EXIF block: byte order, header, and IFD0 at ifdOffset holding the entries,
// followed by the offset of the next directory.
std::string ExifTiff(bool bigEndian, const std::vector<TExifEntry>& ifd0, uint32_t ifdOffset = 8,
                     uint32_t nextIfd = 0);
// The APP1 segment (marker and length) of "Exif\0\0" followed by tiff.
std::string ExifSegment(const std::string& tiff);
// The JPEG with segment put right after its start-of-image marker.
std::string WithSegment(const std::string& jpeg, const std::string& segment);
// TestJpeg(w, h) carrying an orientation tag among other IFD0 entries, as cameras write it.
std::string OrientedJpeg(int w, int h, int orientation, bool bigEndian = false);

// Pixels of a binary PPM or an RGB PAM as 0x00RRGGBB words; empty when the bytes are no such file.
std::vector<uint32_t> ReadPpm(const std::string& bytes, int& w, int& h);
// The same as a pf32bit bitmap; null when the bytes are no such file.
std::unique_ptr<TBitmap> PpmBitmap(const std::string& bytes);
// ImageMagick's reading of a picture file turned upright (convert -auto-orient) as a pf32bit bitmap;
// null when convert fails.
std::unique_ptr<TBitmap> UprightByImageMagick(const std::string& path);
// The orientation ImageMagick reads from a file ("TopLeft", "RightTop", ..., "Undefined").
std::string ImageMagickOrientation(const std::string& path);
// ImageMagick's name of orientation 1 to 8.
const char* OrientationName(int orientation);
// The largest difference of one colour channel between two pictures; -1 when their sizes differ.
int MaxChannelDifference(const TBitmap& a, const TBitmap& b);

} // namespace lumora::test
