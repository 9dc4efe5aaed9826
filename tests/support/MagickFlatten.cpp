#include "tests/support/MagickFlatten.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>

#include <gtest/gtest.h>

namespace lumora::test {

std::string ColorText(TColor color) {
    char text[8];
    std::snprintf(text, sizeof text, "#%02X%02X%02X", GetRValue(color), GetGValue(color), GetBValue(color));
    return text;
}

FlatPicture FlattenWithImageMagick(const std::string& file, TColor background) {
    const std::string colour = ColorText(background);
    const std::string out = file + ".flat.ppm";
    // A grey file is taken into sRGB first: flattened as grey, this ImageMagick writes it through a
    // gamma curve that no viewer shows. Only the first image counts (an animation's later frames
    // would be flattened onto it), and the way the file stores its rows (a TIFF's orientation, a
    // Targa's row order), which ImageMagick keeps beside the pixels, is applied as the loaders do.
    const std::string command = "convert '" + file + "[0]' -auto-orient -colorspace sRGB -background '" + colour +
                                "' -flatten -depth 8 'ppm:" + out + "' 2>/dev/null";
    if (std::system(command.c_str()) != 0) return FlatPicture{};
    return ReadPpm(out);
}

FlatPicture ReadPpm(const std::string& path) {
    FlatPicture p;
    std::ifstream s(path, std::ios::binary);
    std::string magic;
    int maxval = 0;
    s >> magic >> p.width >> p.height >> maxval;
    s.get();
    for (int i = 0; i < p.width * p.height; ++i) {
        uint8_t v[3];
        s.read(reinterpret_cast<char*>(v), 3);
        p.colors.push_back(RGB(v[0], v[1], v[2]));
    }
    if (!s || magic != "P6" || maxval != 255) p.colors.clear();
    return p;
}

void ExpectPixelsNear(const TBitmap& ours, const FlatPicture& reference, int tolerance,
                      const std::string& what) {
    ASSERT_FALSE(reference.colors.empty()) << what << ": ImageMagick could not read the file";
    ASSERT_EQ(ours.Width(), reference.width) << what;
    ASSERT_EQ(ours.Height(), reference.height) << what;
    auto near = [&](uint8_t a, uint8_t b) { return std::abs(a - b) <= tolerance; };
    int bad = 0;
    for (int y = 0; y < reference.height && bad < 3; ++y)
        for (int x = 0; x < reference.width && bad < 3; ++x) {
            const TColor got = ours.GetPixel(x, y),
                         want = reference.colors[static_cast<size_t>(y) * reference.width + x];
            if (near(GetRValue(got), GetRValue(want)) && near(GetGValue(got), GetGValue(want)) &&
                near(GetBValue(got), GetBValue(want)))
                continue;
            ADD_FAILURE() << what << ": pixel " << x << "," << y << " is " << ColorText(got)
                          << ", ImageMagick shows " << ColorText(want);
            ++bad;
        }
}

} // namespace lumora::test
