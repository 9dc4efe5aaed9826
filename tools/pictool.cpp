// lumora-pictool FILE OUT.pam: loads a picture through the picture classes the way the reading thread
// does (transparent parts over black, the show's usual background), turns it into 32-bit pixels and
// writes them as a PAM file. Exit status 1 with the exception's message when the picture cannot be read.
// lumora-pictool --list FOLDER: lists a folder the way the picture picker fills its file list (folders
// first, sorted by name, each name as shown) and prints one name a line.

#include <algorithm>
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "engine/saver/PictureFormats.h"
#include "framework/Graphics.h"
#include "framework/SysUtils.h"
#include "platform/shell/Shell.h"

using namespace lumora;

namespace {

int ListFolder(const std::string& path) {
    TItemIdList absolute;
    if (!ParseDisplayName(path, absolute)) {
        std::fprintf(stderr, "cannot find %s\n", path.c_str());
        return 1;
    }
    TShellFolder folder(absolute);
    std::vector<TItemIdList> items;
    if (!folder.EnumObjects(SHCONTF_FOLDERS | SHCONTF_NONFOLDERS, items)) {
        std::fprintf(stderr, "cannot list %s\n", path.c_str());
        return 1;
    }
    std::sort(items.begin(), items.end(),
              [&](const TItemIdList& a, const TItemIdList& b) { return folder.CompareIds(a, b) < 0; });
    std::string out;
    for (const auto& item : items) out += FileNameUtf8(folder.DisplayNameOf(item, SHGDN_INFOLDER)) + "\n";
    std::fputs(out.c_str(), stdout);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::string(argv[1]) == "--list") return ListFolder(argv[2]);
    if (argc != 3) {
        std::fprintf(stderr, "usage: lumora-pictool FILE OUT.pam\n       lumora-pictool --list FOLDER\n");
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
