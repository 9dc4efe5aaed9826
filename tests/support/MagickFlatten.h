#pragma once
// ImageMagick as the reference for how a picture with transparency looks laid over a colour.

#include <string>
#include <vector>

#include "framework/Graphics.h"

namespace lumora::test {

// `convert FILE -background COLOUR -flatten`: the picture's pixels blended over the colour, 8-bit RGB
// row by row. Empty when convert cannot read the file.
struct FlatPicture {
    int width = 0, height = 0;
    std::vector<TColor> colors;
};
FlatPicture FlattenWithImageMagick(const std::string& file, TColor background);
// An 8-bit P6 file as such a picture (empty when it is none).
FlatPicture ReadPpm(const std::string& path);

// "#RRGGBB".
std::string ColorText(TColor color);

// Checks every pixel of a bitmap against the reference, each channel within `tolerance` (rounding of
// the blend); the first few differences are reported.
void ExpectPixelsNear(const TBitmap& ours, const FlatPicture& reference, int tolerance,
                      const std::string& what);

} // namespace lumora::test
