// Replays the minimal bad files kept for each fixed fault: each loads the way the show loads a
// picture, and either gives a picture or raises the message listed beside it.

#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

#include "framework/Checked.h"
#include "pictures/formats/GraphicFormats.h"
#include "pictures/png/PngImage.h"

using namespace lumora;

TEST(Crashers, EachKeptFileLoadsOrRaisesItsMessage) {
    RegisterGraphicFormats();
    RegisterPngFormat();
    const std::string folder = std::string(LUMORA_SOURCE_DIR) + "/tests/pictures/crashers/";
    std::ifstream list(folder + "expected.txt");
    ASSERT_TRUE(list) << "missing " << folder << "expected.txt";
    int files = 0;
    std::string line;
    while (std::getline(list, line)) {
        if (line.empty() || line[0] == '#') continue;
        const size_t tab = line.find('\t');
        ASSERT_NE(tab, std::string::npos) << line;
        const std::string name = line.substr(0, tab), expected = line.substr(tab + 1);
        ++files;
        std::string message;
        try {
            TPicture picture;
            picture.LoadFromFile(folder + name);
            TBitmap bitmap;
            bitmap.Assign(picture.Graphic());
            bitmap.SetPixelFormat(TPixelFormat::pf32bit);
        } catch (const Exception& e) {
            message = e.Message();
        }
        EXPECT_EQ(message, expected) << name;
    }
    EXPECT_GE(files, 20);
}
