// GIF reading and writing checked against giflib: frames giflib writes decode to the same indices
// here, and frames our encoders write decode in giflib to what we wrote. Then the reader's checks,
// each with the bad input that triggers it.

#include <gif_lib.h>

#include <algorithm>
#include <atomic>
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "pictures/gif/GIFImage.h"
#include "pictures/gif/GIFLZW.h"
#include "tests/support/MagickFlatten.h"
#include "tests/support/TempDir.h"

using namespace lumora;

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Noise(size_t n, uint32_t seed, int colors) {
    Bytes b(n);
    uint32_t s = seed * 2654435761u + 7;
    for (auto& v : b) {
        s ^= s << 13;
        s ^= s >> 17;
        s ^= s << 5;
        v = static_cast<uint8_t>((s >> 8) % colors);
    }
    return b;
}

// Long runs with a little noise: the kind of data that fills the LZW table and forces clears.
Bytes Runs(size_t n, uint32_t seed, int colors) {
    Bytes b = Noise(n, seed, colors);
    for (size_t i = 1; i < n; ++i)
        if (b[i] % 5 != 0) b[i] = b[i - 1];
    return b;
}

struct OracleFrame {
    int left = 0, top = 0, width = 0, height = 0;
    bool interlaced = false;
    int localColors = 0; // 0: uses the global map
    Bytes pixels;
};

int WriteToBytes(GifFileType* gif, const GifByteType* data, int size) {
    auto* out = static_cast<Bytes*>(gif->UserData);
    out->insert(out->end(), data, data + size);
    return size;
}

ColorMapObject* MakeMap(int count, int seed) {
    std::vector<GifColorType> colors(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i)
        colors[static_cast<size_t>(i)] = GifColorType{static_cast<GifByteType>(i * 7 + seed),
                                                      static_cast<GifByteType>(255 - i), static_cast<GifByteType>(i * 3)};
    return GifMakeMapObject(count, colors.data());
}

// A GIF written by giflib; interlaced frames get their rows in the file's order.
Bytes GiflibWrite(int width, int height, int globalColors, const std::vector<OracleFrame>& frames) {
    Bytes out;
    int error = 0;
    GifFileType* gif = EGifOpen(&out, WriteToBytes, &error);
    EXPECT_NE(gif, nullptr);
    ColorMapObject* global = globalColors ? MakeMap(globalColors, 1) : nullptr;
    EGifPutScreenDesc(gif, width, height, 8, 0, global);
    for (const OracleFrame& f : frames) {
        ColorMapObject* local = f.localColors ? MakeMap(f.localColors, 50) : nullptr;
        EGifPutImageDesc(gif, f.left, f.top, f.width, f.height, f.interlaced, local);
        std::vector<int> order;
        if (f.interlaced) {
            const int start[4] = {0, 4, 2, 1}, step[4] = {8, 8, 4, 2};
            for (int p = 0; p < 4; ++p)
                for (int r = start[p]; r < f.height; r += step[p]) order.push_back(r);
        } else {
            for (int r = 0; r < f.height; ++r) order.push_back(r);
        }
        for (int r : order) {
            Bytes row(f.pixels.begin() + static_cast<long>(r) * f.width, f.pixels.begin() + static_cast<long>(r + 1) * f.width);
            EGifPutLine(gif, row.data(), f.width);
        }
        if (local) GifFreeMapObject(local);
    }
    EGifCloseFile(gif, &error);
    if (global) GifFreeMapObject(global);
    return out;
}

struct Source {
    const Bytes* data;
    size_t pos = 0;
};

int ReadFromBytes(GifFileType* gif, GifByteType* out, int size) {
    auto* s = static_cast<Source*>(gif->UserData);
    const size_t n = std::min<size_t>(static_cast<size_t>(size), s->data->size() - s->pos);
    std::memcpy(out, s->data->data() + s->pos, n);
    s->pos += n;
    return static_cast<int>(n);
}

// Every frame's indices as giflib decodes them (rows in place).
std::vector<Bytes> GiflibDecode(const Bytes& file) {
    Source src{&file};
    int error = 0;
    GifFileType* gif = DGifOpen(&src, ReadFromBytes, &error);
    EXPECT_NE(gif, nullptr) << error;
    std::vector<Bytes> frames;
    if (!gif) return frames;
    EXPECT_EQ(DGifSlurp(gif), GIF_OK) << gif->Error;
    for (int i = 0; i < gif->ImageCount; ++i) {
        const SavedImage& im = gif->SavedImages[i];
        frames.emplace_back(im.RasterBits, im.RasterBits + static_cast<size_t>(im.ImageDesc.Width) * im.ImageDesc.Height);
    }
    DGifCloseFile(gif, &error);
    return frames;
}

struct Warnings {
    std::vector<std::string> list;
    TGIFWarningEvent Handler() {
        return [this](const void*, int, const std::string& m) { list.push_back(m); };
    }
    bool Has(const std::string& m) const { return std::find(list.begin(), list.end(), m) != list.end(); }
};

std::unique_ptr<TGIFImage> Load(const Bytes& file, Warnings* warnings = nullptr) {
    auto image = std::make_unique<TGIFImage>();
    if (warnings) image->OnWarning = warnings->Handler();
    TBytesStream stream(file.data(), static_cast<int64_t>(file.size()));
    image->LoadFromStream(stream);
    return image;
}

Bytes Save(TGIFImage& image) {
    TMemoryStream out;
    image.SaveToStream(out);
    return out.Bytes();
}

std::string LoadError(const Bytes& file) {
    try {
        Load(file);
    } catch (const Exception& e) {
        return e.Message();
    }
    return {};
}

// A hand-made GIF: header, optional global map, then raw blocks.
Bytes Gif(int width, int height, int globalBits, const Bytes& blocks, const char* version = "GIF89a") {
    Bytes b(version, version + 6);
    b.insert(b.end(), {static_cast<uint8_t>(width), static_cast<uint8_t>(width >> 8), static_cast<uint8_t>(height),
                       static_cast<uint8_t>(height >> 8),
                       static_cast<uint8_t>(globalBits ? 0x80 | (globalBits - 1) : 0), 0, 0});
    for (int i = 0; i < (globalBits ? 1 << globalBits : 0); ++i) b.insert(b.end(), {uint8_t(i * 40), uint8_t(i * 20), uint8_t(255 - i)});
    b.insert(b.end(), blocks.begin(), blocks.end());
    return b;
}

// Packs codes of the given sizes least-significant bit first into one data sub-block run.
Bytes LzwData(int minSize, const std::vector<std::pair<int, int>>& codes) {
    Bytes packed;
    uint32_t acc = 0;
    int bits = 0;
    for (auto [code, size] : codes) {
        acc |= static_cast<uint32_t>(code) << bits;
        bits += size;
        while (bits >= 8) {
            packed.push_back(static_cast<uint8_t>(acc));
            acc >>= 8;
            bits -= 8;
        }
    }
    if (bits > 0) packed.push_back(static_cast<uint8_t>(acc));
    Bytes out{static_cast<uint8_t>(minSize)};
    for (size_t at = 0; at < packed.size(); at += 255) {
        const size_t n = std::min<size_t>(255, packed.size() - at);
        out.push_back(static_cast<uint8_t>(n));
        out.insert(out.end(), packed.begin() + static_cast<long>(at), packed.begin() + static_cast<long>(at + n));
    }
    out.push_back(0);
    return out;
}

Bytes Descriptor(int left, int top, int width, int height, uint8_t packed = 0) {
    return {',', uint8_t(left), uint8_t(left >> 8), uint8_t(top), uint8_t(top >> 8), uint8_t(width), uint8_t(width >> 8),
            uint8_t(height), uint8_t(height >> 8), packed};
}

Bytes Cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

// Walks an LZW code stream (minimum code size byte, sub-blocks) as a decoder would and returns the
// highest table entry a decoder fills before a clear or the end code.
int LargestDecoderEntry(const Bytes& data) {
    const int minSize = data[0], clear = 1 << minSize;
    Bytes packed;
    for (size_t at = 1; at < data.size() && data[at] != 0; at += data[at] + 1u)
        packed.insert(packed.end(), data.begin() + static_cast<long>(at) + 1, data.begin() + static_cast<long>(at) + 1 + data[at]);
    int size = minSize + 1, next = clear + 2, largest = 0;
    bool first = true;
    for (size_t bit = 0; bit + static_cast<size_t>(size) <= packed.size() * 8;) {
        int code = 0;
        for (int i = 0; i < size; ++i, ++bit) code |= ((packed[bit / 8] >> (bit % 8)) & 1) << i;
        if (code == clear + 1) break;
        if (code == clear) {
            size = minSize + 1;
            next = clear + 2;
            first = true;
            continue;
        }
        if (!first) {
            largest = std::max(largest, next);
            ++next;
            if (next == (1 << size) && size < 12) ++size;
        }
        first = false;
    }
    return largest;
}

// A 2x2 frame of pixels 0, 1, 2, 3 with minimum code size 2.
Bytes SmallFrame() { return Cat({Descriptor(0, 0, 2, 2), LzwData(2, {{4, 3}, {0, 3}, {1, 3}, {2, 3}, {3, 4}, {5, 4}})}); }

const Bytes kTrailer{';'};

} // namespace

TEST(GIFReaderOracle, FramesGiflibWritesDecodeToTheSameIndices) {
    struct Case {
        int w, h, globalColors;
        std::vector<OracleFrame> frames;
    };
    std::vector<Case> cases;
    for (int colors : {2, 4, 16, 256})
        for (bool interlaced : {false, true}) {
            OracleFrame f{0, 0, 97, 61, interlaced, 0, Noise(97 * 61, colors + interlaced, colors)};
            cases.push_back({97, 61, colors, {f}});
        }
    // Large frames of runs fill the code table and force clear codes; local maps and offsets too.
    cases.push_back({300, 200, 256, {OracleFrame{0, 0, 300, 200, false, 0, Runs(300 * 200, 3, 256)}}});
    cases.push_back({64, 64, 4,
                     {OracleFrame{0, 0, 64, 64, false, 0, Noise(64 * 64, 9, 4)},
                      OracleFrame{10, 20, 30, 7, true, 32, Noise(30 * 7, 10, 32)},
                      OracleFrame{1, 1, 1, 1, false, 2, Bytes{1}},
                      OracleFrame{0, 0, 3, 3, true, 0, Noise(9, 11, 4)}}});
    for (const Case& c : cases) {
        const Bytes file = GiflibWrite(c.w, c.h, c.globalColors, c.frames);
        const std::vector<Bytes> expected = GiflibDecode(file);
        Warnings warnings;
        auto image = Load(file, &warnings);
        ASSERT_EQ(image->Images().Count(), static_cast<int>(c.frames.size()));
        for (size_t i = 0; i < c.frames.size(); ++i) {
            TGIFSubImage& frame = *image->Images()[static_cast<int>(i)];
            EXPECT_EQ(frame.Left(), c.frames[i].left);
            EXPECT_EQ(frame.Interlaced(), c.frames[i].interlaced);
            EXPECT_EQ(Bytes(frame.Data(), frame.Data() + frame.DataSize()), expected[i]) << c.w << "x" << c.h << " frame " << i;
            EXPECT_EQ(Bytes(frame.Data(), frame.Data() + frame.DataSize()), c.frames[i].pixels);
        }
        EXPECT_TRUE(warnings.list.empty()) << warnings.list.front();
    }
}

namespace {

// Where the LZW data of a file's frame lies: from its minimum code size byte up to and including its
// terminating zero-length sub-block (or the end of the file).
std::pair<size_t, size_t> FrameData(const Bytes& gif, int frame) {
    size_t at = 13 + ((gif[10] & 0x80) ? 3u * (2u << (gif[10] & 7)) : 0u);
    auto skipBlocks = [&] {
        while (at < gif.size() && gif[at] != 0) at += gif[at] + 1u;
        return ++at;
    };
    for (int seen = 0; at < gif.size();) {
        if (gif[at] == '!') {
            at += 2;
            skipBlocks();
        } else if (gif[at] == ',') {
            const uint8_t packed = gif[at + 9];
            at += 10 + ((packed & 0x80) ? 3u * (2u << (packed & 7)) : 0u);
            const size_t start = at;
            ++at;
            skipBlocks();
            if (seen++ == frame) return {start, std::min(at, gif.size())};
        } else {
            break;
        }
    }
    return {gif.size(), gif.size()};
}

} // namespace

TEST(GIFReaderOracle, FilesCutShortAreReadOrRefusedAsGiftopnmReadsTheirFirstImage) {
    // A first frame that its data cannot fill is refused, as giftopnm refuses it; one that the data
    // fills is read as giftopnm reads it, whatever became of the file after it. Files are cut two
    // ways: the file's end anywhere, and a frame's data cut short with the blocks closed after it.
    test::TempDir dir;
    std::vector<std::pair<std::string, Bytes>> sources = {
        {"noise", GiflibWrite(97, 61, 16, {OracleFrame{0, 0, 97, 61, false, 0, Noise(97 * 61, 1, 16)}})},
        {"interlaced runs", GiflibWrite(64, 40, 256, {OracleFrame{0, 0, 64, 40, true, 0, Runs(64 * 40, 2, 256)}})},
        {"two frames", GiflibWrite(40, 30, 4, {OracleFrame{0, 0, 40, 30, false, 0, Noise(40 * 30, 3, 4)},
                                               OracleFrame{5, 5, 20, 10, false, 32, Noise(20 * 10, 4, 32)}})},
    };
    ASSERT_EQ(std::system(("convert -delay 15 -loop 0 -size 16x12 gradient:red-blue xc:green "
                           "gradient:yellow-black -colors 32 " + dir.File("three.gif")).c_str()),
              0);
    const std::string three = test::ReadFile(dir.File("three.gif"));
    sources.emplace_back("three ImageMagick frames", Bytes(three.begin(), three.end()));

    std::vector<std::pair<std::string, Bytes>> cuts;
    for (const auto& [name, file] : sources) {
        // The file's end: at every byte up to a little past the first frame's data, then sparser.
        const size_t firstEnd = FrameData(file, 0).second;
        const size_t step = std::max<size_t>(1, firstEnd / 80);
        for (size_t n = 1; n < file.size(); n += n < firstEnd + 8 ? step : 37)
            cuts.emplace_back(name + ", its first " + std::to_string(n) + " bytes", Bytes(file.begin(), file.begin() + n));
        // A frame's data kept in part, in sub-blocks closed by a zero-length one and the trailer.
        for (int frame : {0, 1}) {
            const auto [start, end] = FrameData(file, frame);
            if (start >= file.size()) continue;
            Bytes packed;
            for (size_t at = start + 1; at < end && file[at] != 0; at += file[at] + 1u)
                packed.insert(packed.end(), file.begin() + static_cast<long>(at) + 1,
                              file.begin() + static_cast<long>(at) + 1 + file[at]);
            for (int percent : {0, 2, 25, 50, 75, 99, 100}) {
                Bytes cut(file.begin(), file.begin() + static_cast<long>(start) + 1);
                const size_t keep = packed.size() * static_cast<size_t>(percent) / 100;
                for (size_t at = 0; at < keep; at += 255) {
                    const size_t n = std::min<size_t>(255, keep - at);
                    cut.push_back(static_cast<uint8_t>(n));
                    cut.insert(cut.end(), packed.begin() + static_cast<long>(at), packed.begin() + static_cast<long>(at + n));
                }
                cut.insert(cut.end(), {0, ';'});
                cuts.emplace_back(name + ", frame " + std::to_string(frame) + " with " + std::to_string(percent) +
                                      "% of its data",
                                  cut);
            }
        }
    }
    for (size_t i = 0; i < cuts.size(); ++i)
        dir.WriteFile(std::to_string(i) + ".gif", std::string(cuts[i].second.begin(), cuts[i].second.end()));
    // One shell for every file: giftopnm writes the first image, whole or not at all.
    ASSERT_EQ(std::system(("cd " + dir.Path() + " && for i in $(seq 0 " + std::to_string(cuts.size() - 1) +
                           "); do giftopnm $i.gif > $i.ppm 2>/dev/null; done; true").c_str()),
              0);
    int refused = 0, read = 0;
    for (size_t i = 0; i < cuts.size(); ++i) {
        const std::string& what = cuts[i].first;
        const Bytes& bytes = cuts[i].second;
        const test::FlatPicture netpbm = test::ReadPpm(dir.File(std::to_string(i) + ".ppm"));
        std::unique_ptr<TGIFImage> image;
        const std::string error = [&]() -> std::string {
            try {
                image = Load(bytes);
            } catch (const Exception& e) {
                return e.Message();
            }
            return {};
        }();
        ASSERT_EQ(error.empty(), !netpbm.colors.empty()) << what << (error.empty() ? "" : ": " + error);
        if (!image) {
            ++refused;
            continue;
        }
        ++read;
        TGIFSubImage& first = *image->Images()[0];
        ASSERT_EQ(first.Width() * first.Height(), netpbm.width * netpbm.height) << what;
        for (int p = 0; p < netpbm.width * netpbm.height; ++p)
            ASSERT_EQ(first.ActiveColorMap().Colors(first.Data()[p]), netpbm.colors[static_cast<size_t>(p)])
                << what << ", pixel " << p;
    }
    EXPECT_GT(refused, 200);
    EXPECT_GT(read, 30);
}

TEST(GIFReaderOracle, ScreensLargerThanTheFirstFrameShowItWhereItLies) {
    // The logical screen around a frame is background, which takes no bytes: a small frame on a large
    // screen is a whole file. The still is the screen's size with the frame at its place, its pixels
    // as giftopnm reads them.
    test::TempDir dir;
    struct Geometry {
        int screenW, screenH, left, top, w, h;
    };
    std::vector<Geometry> shapes = {{800, 800, 385, 385, 30, 30}, {1920, 1080, 0, 0, 64, 64},
                                    {1920, 1080, 1856, 1016, 64, 64}, {4000, 3000, 7, 9, 5, 3}};
    uint32_t s = 12345;
    for (int i = 0; i < 12; ++i) {
        s = s * 1103515245u + 12345u;
        const int w = 1 + static_cast<int>(s >> 8) % 90, h = 1 + static_cast<int>(s >> 18) % 70;
        const int sw = w + 1 + static_cast<int>(s >> 4) % 2500, sh = h + static_cast<int>(s >> 14) % 1500;
        shapes.push_back({sw, sh, static_cast<int>(s >> 3) % (sw - w + 1), static_cast<int>(s >> 9) % (sh - h + 1), w, h});
    }
    std::vector<Bytes> files;
    for (size_t i = 0; i < shapes.size(); ++i) {
        const Geometry& g = shapes[i];
        files.push_back(GiflibWrite(g.screenW, g.screenH, 16,
                                    {OracleFrame{g.left, g.top, g.w, g.h, i % 3 == 1, 0,
                                                 Noise(static_cast<size_t>(g.w) * g.h, static_cast<uint32_t>(i + 1), 16)}}));
    }
    ASSERT_EQ(std::system(("convert -size 30x30 xc:red -page 800x800+385+385 " + dir.File("page.gif")).c_str()), 0);
    const std::string page = test::ReadFile(dir.File("page.gif"));
    files.emplace_back(page.begin(), page.end());
    shapes.push_back({800, 800, 385, 385, 30, 30});
    for (size_t i = 0; i < files.size(); ++i)
        dir.WriteFile(std::to_string(i) + ".gif", std::string(files[i].begin(), files[i].end()));
    ASSERT_EQ(std::system(("cd " + dir.Path() + " && for i in $(seq 0 " + std::to_string(files.size() - 1) +
                           "); do giftopnm $i.gif > $i.ppm 2>/dev/null; done; true").c_str()),
              0);
    for (size_t i = 0; i < files.size(); ++i) {
        const Geometry& g = shapes[i];
        const std::string what = std::to_string(g.w) + "x" + std::to_string(g.h) + " at " + std::to_string(g.left) +
                                 "," + std::to_string(g.top) + " on " + std::to_string(g.screenW) + "x" +
                                 std::to_string(g.screenH);
        const test::FlatPicture netpbm = test::ReadPpm(dir.File(std::to_string(i) + ".ppm"));
        ASSERT_EQ(netpbm.width * netpbm.height, g.w * g.h) << what;
        std::unique_ptr<TGIFImage> image;
        try {
            image = Load(files[i]);
        } catch (const Exception& e) {
            FAIL() << what << ": " << e.Message();
        }
        TBitmap still;
        still.Assign(image.get());
        still.SetPixelFormat(TPixelFormat::pf32bit);
        ASSERT_EQ(still.Width(), g.screenW) << what;
        ASSERT_EQ(still.Height(), g.screenH) << what;
        for (int y = 0; y < g.h; ++y)
            for (int x = 0; x < g.w; ++x)
                ASSERT_EQ(still.GetPixel(g.left + x, g.top + y), netpbm.colors[static_cast<size_t>(y * g.w + x)])
                    << what << ", pixel " << x << "," << y;
    }
}

TEST(GIFWriterOracle, BothEncodersWriteWhatGiflibDecodesBack) {
    struct Case {
        int w, h, colors;
        bool interlaced;
        Bytes pixels;
    };
    std::vector<Case> cases = {
        {1, 1, 2, false, {1}},
        {3, 1, 2, true, {1, 0, 1}},
        {5, 3, 4, true, Noise(15, 1, 4)},
        {7, 4, 8, true, Noise(28, 2, 8)},
        {200, 150, 256, false, Noise(200 * 150, 3, 256)},
        {320, 240, 256, true, Runs(320 * 240, 4, 256)},
        {257, 101, 16, false, Runs(257 * 101, 5, 16)},
        {1000, 1, 2, false, Bytes(1000, 1)}, // one long run
        {640, 400, 4, false, Runs(640 * 400, 6, 4)},
    };
    for (uint8_t compression : {gcLZW, gcRLE})
        for (const Case& c : cases) {
            TGIFImage image;
            image.Compression = compression;
            auto frame = std::make_unique<TGIFSubImage>(&image);
            frame->SetBounds(0, 0, c.w, c.h);
            frame->SetInterlaced(c.interlaced);
            for (int i = 0; i < c.colors; ++i) frame->ColorMap().Add(RGB(uint8_t(i), uint8_t(i * 2), uint8_t(255 - i)));
            std::memcpy(frame->Data(), c.pixels.data(), c.pixels.size());
            image.Add(std::move(frame));
            const Bytes file = Save(image);
            const std::vector<Bytes> decoded = GiflibDecode(file);
            ASSERT_EQ(decoded.size(), 1u);
            EXPECT_EQ(decoded[0], c.pixels) << "compression " << int(compression) << " " << c.w << "x" << c.h;
            auto back = Load(file);
            EXPECT_EQ(Bytes(back->Images()[0]->Data(), back->Images()[0]->Data() + back->Images()[0]->DataSize()), c.pixels);
        }
}

TEST(GIFEncoder, MinimumCodeSizeIsTwoAndCodesStayBelow4095) {
    // A 1-bit frame is written with minimum code size 2.
    TMemoryStream out;
    TLZWEncoder lzw;
    const Bytes pixels{0, 1, 1, 0};
    lzw.Encode(out, 1, 2, pixels.data(), false, 2, 2);
    EXPECT_EQ(out.Bytes()[0], 2);

    // Random 8-bit data fills the table again and again; giflib decodes the stream back, and a decoder
    // walking it never fills entry 4095 (giflib would accept that, so the codes are counted too).
    const Bytes noise = Noise(512 * 512, 42, 256);
    TMemoryStream frame;
    lzw.Encode(frame, 8, 256, noise.data(), false, 512, 512);
    const std::vector<Bytes> decoded = GiflibDecode(Cat({Gif(512, 512, 8, Cat({Descriptor(0, 0, 512, 512), frame.Bytes()})), kTrailer}));
    ASSERT_EQ(decoded.size(), 1u);
    EXPECT_EQ(decoded[0], noise);
    EXPECT_EQ(LargestDecoderEntry(frame.Bytes()), 4094) << "the table starts over before code 4095 is handed out";

    // A pixel equal to the colour count is refused.
    TMemoryStream bad;
    const Bytes tooHigh{0, 1, 4};
    EXPECT_THROW(
        {
            try {
                lzw.Encode(bad, 2, 4, tooHigh.data(), false, 1, 3);
            } catch (const GIFException& e) {
                EXPECT_STREQ(e.what(), "Color not in color table");
                throw;
            }
        },
        GIFException);
}

TEST(GIFEncoder, RunLengthCodesAThousandPixelRunInFewCodes) {
    const Bytes run(1000, 3);
    TMemoryStream out;
    TRLEEncoder rle;
    rle.Encode(out, 2, 4, run.data(), false, 1, 1000);
    // Runs of growing length: about sqrt(2 x 1000) codes of at most 12 bits instead of 1000.
    EXPECT_LT(out.Bytes().size(), 120u);
    TBytesStream in(out.Bytes().data(), static_cast<int64_t>(out.Bytes().size()));
    Bytes decoded(1000, 0);
    DecodeGIFFrame(in, decoded.data(), 1000, 1, false, nullptr);
    EXPECT_EQ(decoded, run);
}

TEST(GIFWriterStream, PacksSubBlocksOf255AndRefusesReading) {
    TMemoryStream target;
    {
        TGIFWriter writer(target, nullptr);
        Bytes data(600, 7);
        writer.Write(data.data(), 600);
        uint8_t x;
        EXPECT_THROW(writer.Read(&x, 1), Exception);
        EXPECT_THROW(writer.Seek(0, TSeekOrigin::soBeginning), Exception);
    }
    const Bytes& b = target.Bytes();
    ASSERT_EQ(b.size(), 603u);
    EXPECT_EQ(b[0], 255);
    EXPECT_EQ(b[256], 255);
    EXPECT_EQ(b[512], 90);
}

TEST(GIFReader, TolerantReadingOfOddFiles) {
    // Four bytes in front of the signature are skipped; five are not.
    const Bytes plain = Gif(2, 2, 2, Cat({SmallFrame(), kTrailer}));
    EXPECT_EQ(LoadError(Cat({Bytes{1, 2, 3, 4}, plain})), "");
    EXPECT_EQ(LoadError(Cat({Bytes{1, 2, 3, 4, 5}, plain})), "Invalid GIF signature");
    // Lower-case signature and any version bytes.
    Bytes lower = Gif(2, 2, 2, Cat({SmallFrame(), kTrailer}), "gifXYZ");
    EXPECT_EQ(LoadError(lower), "");

    // Zero bytes between blocks are skipped; a comment after the last image is a frame of its own.
    Bytes comment{'!', 0xFE, 3, 'a', 'b', 'c', 2, 'd', 'e', 0};
    auto image = Load(Gif(2, 2, 2, Cat({Bytes{0, 0}, SmallFrame(), Bytes{0}, comment, kTrailer})));
    ASSERT_EQ(image->Images().Count(), 2);
    EXPECT_EQ(Bytes(image->Images()[0]->Data(), image->Images()[0]->Data() + 4), (Bytes{0, 1, 2, 3}));
    EXPECT_TRUE(image->Images()[1]->Empty());
    auto* text = dynamic_cast<TGIFCommentExtension*>(image->Images()[1]->Extensions()[0]);
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(text->Text, (std::vector<std::string>{"abc", "de"}));

    // No trailer at all loads quietly; another byte there warns.
    Warnings quiet, noisy;
    Load(Gif(2, 2, 2, SmallFrame()), &quiet);
    EXPECT_TRUE(quiet.list.empty());
    Load(Gif(2, 2, 2, Cat({SmallFrame(), Bytes{'x'}})), &noisy);
    EXPECT_TRUE(noisy.Has("Unknown GIF block type"));
    EXPECT_TRUE(noisy.Has("Invalid Image trailer"));
}

TEST(GIFReader, FrameEdgeCases) {
    // Width 0 takes the logical screen's size.
    Warnings w1;
    auto image = Load(Gif(3, 2, 2, Cat({Descriptor(0, 0, 0, 5), LzwData(2, {{4, 3}, {1, 3}, {6, 3}, {6, 3}, {1, 4}, {5, 4}}), kTrailer})), &w1);
    EXPECT_EQ(image->Images()[0]->Width(), 3);
    EXPECT_EQ(image->Images()[0]->Height(), 2);
    EXPECT_TRUE(w1.Has("Image exceeds Logical Screen size"));

    // A graphic control block cut short after the last image leaves its frame opaque.
    Warnings w2;
    image = Load(Gif(2, 2, 2, Cat({SmallFrame(), Bytes{'!', 0xF9, 4, 1}})), &w2);
    EXPECT_TRUE(w2.Has("Premature end of data"));
    ASSERT_EQ(image->Images().Count(), 2);
    EXPECT_FALSE(image->Images()[1]->Transparent());

    // Data of a later frame that stops early: the rest of a transparent frame keeps the transparent
    // index.
    Warnings w3;
    const Bytes gce{'!', 0xF9, 4, 1, 0, 0, 2, 0};
    const Bytes stopsEarly = Cat({gce, Descriptor(0, 0, 4, 1), Bytes{2, 1, 0x04, 0}});
    image = Load(Gif(4, 2, 2, Cat({SmallFrame(), stopsEarly})), &w3);
    EXPECT_EQ(Bytes(image->Images()[1]->Data(), image->Images()[1]->Data() + 4), (Bytes{0, 2, 2, 2}));
    EXPECT_FALSE(w3.list.empty());

    // A later frame's sub-block longer than the file warns and keeps what is there.
    Warnings w4;
    image = Load(Gif(2, 2, 2, Cat({SmallFrame(), Descriptor(0, 0, 2, 2), Bytes{2, 200, 0x04}})), &w4);
    EXPECT_TRUE(w4.Has("Premature end of data"));
    EXPECT_EQ(image->Images().Count(), 2);

    // The first picture is what the file shows: a file without one, or whose first frame its data
    // cannot fill, is refused.
    const std::pair<const char*, Bytes> refused[] = {
        {"no image", Gif(2, 2, 2, Bytes{'!', 0xF9, 4, 1})},
        {"a comment and the trailer", Gif(2, 2, 2, Cat({Bytes{'!', 0xFE, 1, 'a', 0}, kTrailer}))},
        {"an image descriptor cut short", Gif(2, 2, 2, Cat({Descriptor(0, 0, 2, 2)}))},
        {"data that stops early", Gif(4, 1, 2, stopsEarly)},
        {"an end code before the last pixel", Gif(2, 2, 2, Cat({Descriptor(0, 0, 2, 2), LzwData(2, {{4, 3}, {0, 3}, {1, 3}, {5, 3}}), kTrailer}))},
        {"a sub-block longer than the file", Gif(2, 2, 2, Cat({Descriptor(0, 0, 2, 2), Bytes{2, 200, 0x04}}))},
        {"pixels whole, the last sub-block cut", Gif(2, 2, 2, Cat({Descriptor(0, 0, 2, 2), Bytes{2, 5, 0x44, 0x34}}))},
    };
    for (const auto& [what, file] : refused) EXPECT_NE(LoadError(file), "") << what;

    // Interlaced, width 3, height 1.
    image = Load(Gif(3, 1, 2, Cat({Descriptor(0, 0, 3, 1, 0x40), LzwData(2, {{4, 3}, {1, 3}, {2, 3}, {3, 3}, {5, 3}}), kTrailer})));
    EXPECT_EQ(Bytes(image->Images()[0]->Data(), image->Images()[0]->Data() + 3), (Bytes{1, 2, 3}));
}

TEST(GIFReader, DataLeftAfterTheLastPixelDoesNotHideTheNextFrame) {
    // The first frame's data goes on past its four pixels without an end code; the second frame
    // still reads from its own start.
    const Bytes first = Cat({Descriptor(0, 0, 2, 2), LzwData(2, {{4, 3}, {0, 3}, {1, 3}, {2, 3}, {3, 4}, {1, 4}, {1, 4}, {2, 4}})});
    auto image = Load(Gif(2, 2, 2, Cat({first, SmallFrame(), kTrailer})));
    ASSERT_EQ(image->Images().Count(), 2);
    EXPECT_EQ(Bytes(image->Images()[1]->Data(), image->Images()[1]->Data() + 4), (Bytes{0, 1, 2, 3}));
}

TEST(GIFReader, ApplicationExtensions) {
    auto loopBlock = [](const char* id, Bytes data) {
        Bytes b{'!', 0xFF, 11};
        std::copy(id, id + 11, std::back_inserter(b));
        b.insert(b.end(), data.begin(), data.end());
        return b;
    };
    // The loop extension under both names.
    for (const char* id : {"NETSCAPE2.0", "ANIMEXTS1.0"}) {
        auto image = Load(Gif(2, 2, 2, Cat({loopBlock(id, {3, 1, 5, 0, 0}), SmallFrame(), kTrailer})));
        auto* loop = dynamic_cast<TGIFAppExtNSLoop*>(image->Images()[0]->Extensions()[0]);
        ASSERT_NE(loop, nullptr) << id;
        EXPECT_EQ(loop->Loops, 5);
    }
    // A loop block in front of a last frame that is left out (a minimum code size of 12) stays, in a
    // frame of its own blocks.
    {
        const Bytes unreadable = Cat({Descriptor(0, 0, 2, 2), Bytes{12, 2, 0xFF, 0xFF, 0}});
        auto image = Load(Gif(
            2, 2, 2, Cat({SmallFrame(), loopBlock("NETSCAPE2.0", {3, 1, 5, 0, 0}), unreadable, kTrailer})));
        ASSERT_EQ(image->Images().Count(), 2);
        EXPECT_TRUE(image->Images()[1]->Empty());
        auto* loop = dynamic_cast<TGIFAppExtNSLoop*>(image->Images()[1]->Extensions()[0]);
        ASSERT_NE(loop, nullptr);
        EXPECT_EQ(loop->Loops, 5);
    }
    // An identifier nobody registered is kept and written back byte for byte.
    const Bytes unknown = loopBlock("XMP DataXMP", {4, 'a', 'b', 'c', 'd', 1, 'e', 0});
    auto image = Load(Gif(2, 2, 2, Cat({unknown, SmallFrame(), kTrailer})));
    ASSERT_NE(dynamic_cast<TGIFUnknownAppExtension*>(image->Images()[0]->Extensions()[0]), nullptr);
    const Bytes saved = Save(*image);
    EXPECT_NE(std::search(saved.begin(), saved.end(), unknown.begin(), unknown.end()), saved.end());
    // A loop sub-block of id 1 with one data byte is refused.
    EXPECT_EQ(LoadError(Gif(2, 2, 2, Cat({loopBlock("NETSCAPE2.0", {2, 1, 5, 0}), SmallFrame(), kTrailer}))),
              "Invalid GIF data");
    EXPECT_EQ(LoadError(Gif(2, 2, 2, Cat({Bytes{'!', 0xFF, 5, 1, 2, 3, 4, 5, 0}, SmallFrame(), kTrailer}))),
              "Unsupported Application Extension block size");
    // A block longer than an identifier is read whole as an unknown one.
    image = Load(Gif(2, 2, 2, Cat({Bytes{'!', 0xFF, 12, 'A', 'B', 'C', 'D', 'E', 'F', 'G', 'H', '1', '2', '3', '4', 0},
                                   SmallFrame(), kTrailer})));
    EXPECT_NE(dynamic_cast<TGIFUnknownAppExtension*>(image->Images()[0]->Extensions()[0]), nullptr);
}

TEST(GIFReader, EveryErrorForItsBadInput) {
    const Bytes good = Gif(2, 2, 2, Cat({SmallFrame(), kTrailer}));
    // Cut short: the error, and the stream back where the GIF began.
    const Bytes cut(good.begin(), good.begin() + 20);
    TBytesStream stream(cut.data(), static_cast<int64_t>(cut.size()));
    stream.SetPosition(0);
    TGIFImage image;
    try {
        image.LoadFromStream(stream);
        ADD_FAILURE() << "no error";
    } catch (const GIFException& e) {
        EXPECT_STREQ(e.what(), "Premature end of data");
    }
    EXPECT_EQ(stream.Position(), 0);

    EXPECT_EQ(LoadError(Gif(2, 2, 2, Cat({Bytes{'!', 0x02, 0}, SmallFrame()}))), "Unknown extension type");
    // A code table entry that is its own prefix.
    EXPECT_EQ(LoadError(Gif(10, 10, 2, Cat({Descriptor(0, 0, 10, 10), LzwData(2, {{4, 3}, {0, 3}, {7, 3}, {7, 3}, {7, 4}})}))),
              "Circular decoder table entry");

    // Extensions reading at the wrong place.
    TGIFImage owner;
    TGIFSubImage frame(&owner);
    auto readExtension = [&](TGIFExtension& e, Bytes bytes) {
        TBytesStream s(bytes.data(), static_cast<int64_t>(bytes.size()));
        try {
            e.LoadFromStream(s);
        } catch (const GIFException& ex) {
            return std::string(ex.what());
        }
        return std::string();
    };
    TGIFCommentExtension comment(&frame);
    EXPECT_EQ(readExtension(comment, {'x', 0xFE, 0}), "Invalid extension introducer");
    EXPECT_EQ(readExtension(comment, {'!', 0xF9, 0}), "Internal error: Extension Instance does not match Extension Label");

    // Colour maps.
    TGIFLocalColorMap& map = frame.ColorMap();
    EXPECT_THROW(map.Colors(0), GIFException);
    for (int i = 0; i < 256; ++i) map.Add(RGB(uint8_t(i), 0, 0));
    try {
        map.Add(clWhite);
        ADD_FAILURE();
    } catch (const GIFException& e) {
        EXPECT_STREQ(e.what(), "Color table overflow");
    }
    try {
        map.Delete(256);
        ADD_FAILURE();
    } catch (const GIFException& e) {
        EXPECT_STREQ(e.what(), "Invalid color index");
    }
    map.Clear();
    try {
        map.Colors(0);
    } catch (const GIFException& e) {
        EXPECT_STREQ(e.what(), "Color table is empty");
    }
    // An index outside the map warns and reads entry 0.
    Warnings w;
    owner.OnWarning = w.Handler();
    map.Add(clRed);
    EXPECT_EQ(map.Colors(7), clRed);
    EXPECT_TRUE(w.Has("Invalid color index"));
}

TEST(GIFReader, ColorMapLookupsAndSizes) {
    TGIFImage owner;
    TGIFSubImage frame(&owner);
    TGIFColorMap& map = frame.ColorMap();
    EXPECT_EQ(map.BitsPerPixel(), 0);
    map.Add(clRed);
    EXPECT_EQ(map.BitsPerPixel(), 1);
    map.Add(clBlue);
    map.Add(clRed);
    EXPECT_EQ(map.BitsPerPixel(), 2);
    EXPECT_EQ(map.IndexOf(clRed), 2) << "an unsorted map is searched from the end";
    EXPECT_EQ(map.AddUnique(clBlue), 1);
    EXPECT_EQ(map.IndexOf(clLime), -1);
    for (int i = 0; i < 2; ++i) map.Add(clWhite);
    EXPECT_EQ(map.BitsPerPixel(), 3);
    TMemoryStream out;
    map.SaveToStream(out);
    EXPECT_EQ(out.Size(), 8 * 3) << "padded with black to a power of two";
}

// Allocations of at least g_watchFrom bytes are counted while a test sets it.
namespace {
std::atomic<size_t> g_watchFrom{0};
std::atomic<int> g_largeAllocations{0};
} // namespace

// Every plain form of new and delete is replaced together, so each block is freed the way it was made.
static void* CountedAllocation(size_t size) noexcept {
    const size_t from = g_watchFrom.load();
    if (from && size >= from) ++g_largeAllocations;
    return std::malloc(size ? size : 1);
}
void* operator new(size_t size) {
    if (void* p = CountedAllocation(size)) return p;
    throw std::bad_alloc();
}
void* operator new[](size_t size) {
    if (void* p = CountedAllocation(size)) return p;
    throw std::bad_alloc();
}
void* operator new(size_t size, const std::nothrow_t&) noexcept { return CountedAllocation(size); }
void* operator new[](size_t size, const std::nothrow_t&) noexcept { return CountedAllocation(size); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, size_t) noexcept { std::free(p); }
void operator delete[](void* p, size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }

TEST(GIFReader, InterlacedFrameDecodesIntoItsOwnPixelsOnly) {
    const int w = 640, h = 480;
    const Bytes file = GiflibWrite(w, h, 256, {OracleFrame{0, 0, w, h, true, 0, Runs(size_t(w) * h, 9, 256)}});
    g_largeAllocations = 0;
    g_watchFrom = size_t(w) * h / 2;
    auto image = Load(file);
    g_watchFrom = 0;
    EXPECT_EQ(g_largeAllocations.load(), 1) << "the frame's pixels, and no second buffer of its size";
    EXPECT_EQ(Bytes(image->Images()[0]->Data(), image->Images()[0]->Data() + w * h), GiflibDecode(file)[0]);
}

TEST(GIFReader, FramesAndScreensBeyondWhatTheirBytesHoldAreRefusedBeforeTheirMemoryIsTaken) {
    // The most pixels LZW gives: after a clear, codes whose strings grow by one pixel each until the
    // table is full, then its longest string, 4091 pixels, again and again in 12-bit codes.
    std::vector<std::pair<int, int>> codes = {{4, 3}, {0, 3}};
    for (int code = 6, size = 3; code < 4096; ++code) {
        codes.push_back({code, size});
        if (code + 1 == 1 << size && size < 12) ++size;
    }
    const int repeats = 3000;
    for (int i = 0; i < repeats; ++i) codes.push_back({4095, 12});
    codes.push_back({5, 12});
    const int width = 4091, height = 2046 + repeats; // 1 + 2 + ... + 4091 pixels, then the repeats
    const Bytes densest = Gif(width, height, 1, Cat({Descriptor(0, 0, width, height), LzwData(2, codes), kTrailer}));
    ASSERT_GT(int64_t(width) * height / static_cast<int64_t>(densest.size()), 2000) << "pixels a byte";
    auto image = Load(densest);
    ASSERT_EQ(image->Images().Count(), 1);
    const TGIFSubImage& frame = *image->Images()[0];
    EXPECT_EQ(std::count(frame.Data(), frame.Data() + frame.DataSize(), 0), int64_t(width) * height);

    // An 8000 x 8000 frame of 2,000 bytes of data, a frame a little beyond 2,731 pixels a byte, and
    // a screen beyond the pixel budget around a frame of one pixel: none of them is read into memory.
    Bytes zeros(2000, 0);
    zeros[0] = 4;
    std::vector<std::pair<int, int>> zeroCodes;
    for (uint8_t b : zeros) zeroCodes.push_back({b, 8});
    const Bytes onePixel = Cat({Descriptor(0, 0, 1, 1), LzwData(2, {{4, 3}, {1, 3}, {5, 3}})});
    struct Beyond {
        const char* what;
        Bytes file;
        const char* error;
    };
    const Beyond beyond[] = {
        {"8000 x 8000 of 2,000 bytes", Gif(8000, 8000, 1, Cat({Descriptor(0, 0, 8000, 8000), LzwData(2, zeroCodes), kTrailer})),
         "Premature end of data"},
        {"2,750 pixels a byte", Gif(2750, 2000, 1, Cat({Descriptor(0, 0, 2750, 2000), LzwData(2, zeroCodes), kTrailer})),
         "Premature end of data"},
        {"a 65535 x 65535 screen around one pixel", Gif(65535, 65535, 1, Cat({onePixel, kTrailer})),
         "Out of memory: logical screen of 65535x65535"},
    };
    for (const auto& [what, file, expected] : beyond) {
        g_largeAllocations = 0;
        g_watchFrom = 1 << 20;
        const std::string error = LoadError(file);
        g_watchFrom = 0;
        EXPECT_EQ(error, expected) << what;
        EXPECT_EQ(g_largeAllocations.load(), 0) << what;
    }
}
