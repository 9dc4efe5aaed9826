// lumora-pictool FILE OUT.pam: loads a picture through the picture classes the way the reading thread
// does (transparent parts over black, the show's usual background), turns it into 32-bit pixels and
// writes them as a PAM file. Exit status 1 with the exception's message when the picture cannot be read.

#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "engine/saver/PictureFormats.h"
#include "framework/Graphics.h"

using namespace lumora;

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: lumora-pictool FILE OUT.pam\n");
        return 2;
    }
    try {
        RegisterPictureFormats();
        TPicture picture;
        picture.LoadFromFile(argv[1]);
        TBitmap bitmap;
        AssignOverBackground(bitmap, picture.Graphic(), clBlack);
        bitmap.SetPixelFormat(TPixelFormat::pf32bit);
        const int w = bitmap.Width(), h = bitmap.Height();
        const std::string head = "P7\nWIDTH " + std::to_string(w) + "\nHEIGHT " + std::to_string(h) +
                                 "\nDEPTH 3\nMAXVAL 255\nTUPLTYPE RGB\nENDHDR\n";
        TFileStream file(argv[2], fmCreate);
        file.WriteBuffer(head.data(), static_cast<int64_t>(head.size()));
        // Row by row: the memory the tool takes is the picture's, which is what it is run to measure.
        std::vector<char> row(static_cast<size_t>(w) * 3);
        for (int y = 0; y < h; ++y) {
            const uint32_t* p = bitmap.Row32(y);
            for (int x = 0; x < w; ++x) {
                row[3 * x] = static_cast<char>(p[x] >> 16);
                row[3 * x + 1] = static_cast<char>(p[x] >> 8);
                row[3 * x + 2] = static_cast<char>(p[x]);
            }
            file.WriteBuffer(row.data(), static_cast<int64_t>(row.size()));
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    return 0;
}
