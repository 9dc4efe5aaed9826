#include "pictures/gif/GIFQuantize.h"

#include <algorithm>
#include <cstdlib>

#include "framework/Checked.h"
#include "pictures/gif/GIFLZW.h"

namespace lumora {

namespace {

const uint8_t kSystem20[20][3] = {
    {0, 0, 0},       {128, 0, 0},     {0, 128, 0},     {128, 128, 0},   {0, 0, 128},
    {128, 0, 128},   {0, 128, 128},   {192, 192, 192}, {192, 220, 192}, {166, 202, 240},
    {255, 251, 240}, {160, 160, 164}, {128, 128, 128}, {255, 0, 0},     {0, 255, 0},
    {255, 255, 0},   {0, 0, 255},     {255, 0, 255},   {0, 255, 255},   {255, 255, 255},
};

std::shared_ptr<TLogPalette> NewPalette() {
    auto p = std::make_shared<TLogPalette>();
    p->Version = 0x300;
    return p;
}

} // namespace

std::shared_ptr<TLogPalette> WebPalette() {
    auto p = NewPalette();
    for (int r = 0; r < 6; ++r)
        for (int g = 0; g < 6; ++g)
            for (int b = 0; b < 6; ++b)
                p->Entries.push_back(TPaletteEntry{static_cast<uint8_t>(r * 51), static_cast<uint8_t>(g * 51),
                                                   static_cast<uint8_t>(b * 51), 0});
    return p;
}

std::shared_ptr<TLogPalette> SystemPalette20() {
    auto p = NewPalette();
    for (const auto& c : kSystem20) p->Entries.push_back(TPaletteEntry{c[0], c[1], c[2], 4});
    return p;
}

std::shared_ptr<TLogPalette> HalftonePalette() {
    // The system colours, the 216-colour cube and a grey ramp between its greys: 256 in all.
    auto p = NewPalette();
    for (int i = 0; i < 10; ++i) p->Entries.push_back(TPaletteEntry{kSystem20[i][0], kSystem20[i][1], kSystem20[i][2], 4});
    for (int r = 0; r < 6; ++r)
        for (int g = 0; g < 6; ++g)
            for (int b = 0; b < 6; ++b)
                p->Entries.push_back(TPaletteEntry{static_cast<uint8_t>(r * 51), static_cast<uint8_t>(g * 51),
                                                   static_cast<uint8_t>(b * 51), 4});
    for (int i = 0; i < 20; ++i) {
        // Greys that fall between the cube's steps of 51.
        const uint8_t grey = static_cast<uint8_t>(8 + (i * 255) / 21);
        p->Entries.push_back(TPaletteEntry{grey, grey, grey, 4});
    }
    for (int i = 10; i < 20; ++i) p->Entries.push_back(TPaletteEntry{kSystem20[i][0], kSystem20[i][1], kSystem20[i][2], 4});
    p->Entries.resize(256);
    return p;
}

std::shared_ptr<TLogPalette> GrayPalette(int levels, const uint8_t* values) {
    auto p = NewPalette();
    for (int i = 0; i < levels; ++i) {
        const uint8_t v = values ? values[i] : static_cast<uint8_t>(levels > 1 ? i * 255 / (levels - 1) : 0);
        p->Entries.push_back(TPaletteEntry{v, v, v, 4});
    }
    return p;
}

std::shared_ptr<TLogPalette> FourGrayPalette() {
    static const uint8_t values[4] = {0, 128, 192, 255};
    return GrayPalette(4, values);
}

std::shared_ptr<TLogPalette> MonochromePalette() { return GrayPalette(2); }

// ---- lookups ----

TFastColorLookup::TFastColorLookup(const TLogPalette& palette)
    : TColorLookup(static_cast<int>(std::min<size_t>(palette.Entries.size(), 256))),
      entries_(palette.Entries.begin(), palette.Entries.begin() + Colors), cache_(32768, 0xFFFF) {
    for (int i = 0; i < Colors; ++i) {
        const TPaletteEntry& e = entries_[static_cast<size_t>(i)];
        uint16_t& slot = cache_[(e.peRed >> 3) | ((e.peGreen >> 3) << 5) | ((e.peBlue >> 3) << 10)];
        if (slot == 0xFFFF) slot = static_cast<uint16_t>(i);
    }
}

int TFastColorLookup::Lookup(int red, int green, int blue, uint8_t& r, uint8_t& g, uint8_t& b) {
    if (Colors == 0) {
        r = g = b = 0;
        return 0;
    }
    uint16_t& slot = cache_[(red >> 3) | ((green >> 3) << 5) | ((blue >> 3) << 10)];
    if (slot == 0xFFFF) {
        int best = 0x30000, index = 0;
        for (int i = 0; i < Colors; ++i) {
            const TPaletteEntry& e = entries_[static_cast<size_t>(i)];
            const int d = std::abs(e.peRed - red) + std::abs(e.peGreen - green) + std::abs(e.peBlue - blue);
            if (d < best) {
                best = d;
                index = i;
            }
        }
        slot = static_cast<uint16_t>(index);
    }
    const TPaletteEntry& e = entries_[slot];
    r = e.peRed;
    g = e.peGreen;
    b = e.peBlue;
    return slot;
}

int TNetscapeColorLookup::Lookup(int red, int green, int blue, uint8_t& r, uint8_t& g, uint8_t& b) {
    const int lr = (red + 3) / 51, lg = (green + 3) / 51, lb = (blue + 3) / 51;
    r = static_cast<uint8_t>(lr * 51);
    g = static_cast<uint8_t>(lg * 51);
    b = static_cast<uint8_t>(lb * 51);
    return lb + 6 * lg + 36 * lr;
}

int TGrayScaleLookup::Lookup(int red, int green, int blue, uint8_t& r, uint8_t& g, uint8_t& b) {
    const int grey = (29 * blue + 150 * green + 77 * red) >> 8;
    r = g = b = static_cast<uint8_t>(grey);
    return grey;
}

int TMonochromeLookup::Lookup(int red, int green, int blue, uint8_t& r, uint8_t& g, uint8_t& b) {
    if (29 * blue + 150 * green + 77 * red < 32513) {
        r = g = b = 0;
        return 0;
    }
    r = g = b = 255;
    return 1;
}

// ---- ditherers ----

int TDitherEngine::Dither(int red, int green, int blue, uint8_t& r, uint8_t& g, uint8_t& b) {
    const int index = lookup_.Lookup(red, green, blue, r, g, b);
    Column += Direction;
    return index;
}

void TDitherEngine::NextLine() {
    Direction = -Direction;
    Column = Direction > 0 ? 0 : Width - 1;
}

TFloydSteinbergDitherer::TFloydSteinbergDitherer(int width, TColorLookup& lookup) : TDitherEngine(width, lookup) {
    for (auto& row : row_) row.assign(static_cast<size_t>(width) + 2, 0);
}

int TFloydSteinbergDitherer::Dither(int red, int green, int blue, uint8_t& r, uint8_t& g, uint8_t& b) {
    // Entry x + 1 holds what the row above left for column x; the pixel behind this one in the
    // walking direction receives its share from here on, so entries line up column for column
    // whichever way a row is walked.
    const int here = Column + 1, behind = here - Direction;
    int corrected[3];
    const int input[3] = {red, green, blue};
    for (int c = 0; c < 3; ++c)
        corrected[c] = std::clamp(input[c] + (row_[c][static_cast<size_t>(here)] + running_[c] + 8) / 16, 0, 255);
    uint8_t out[3];
    const int index = TDitherEngine::Dither(corrected[0], corrected[1], corrected[2], out[0], out[1], out[2]);
    for (int c = 0; c < 3; ++c) {
        const int e = corrected[c] - out[c];
        row_[c][static_cast<size_t>(behind)] = below_[c] + 3 * e;
        below_[c] = nextBelow_[c] + 5 * e;
        nextBelow_[c] = e;
        running_[c] = 7 * e;
    }
    r = out[0];
    g = out[1];
    b = out[2];
    return index;
}

void TFloydSteinbergDitherer::NextLine() {
    // The column just walked past the end gets what is still held for it.
    const int last = Column - Direction + 1;
    for (int c = 0; c < 3; ++c) {
        if (last >= 0 && last < static_cast<int>(row_[c].size())) row_[c][static_cast<size_t>(last)] = below_[c];
        running_[c] = below_[c] = nextBelow_[c] = 0;
    }
    TDitherEngine::NextLine();
}

TKernelDitherer::TKernelDitherer(int width, TColorLookup& lookup, std::vector<Tap> kernel, int divisor)
    : TDitherEngine(width, lookup), kernel_(std::move(kernel)), divisor_(divisor), guard_(0), rows_(1) {
    for (const Tap& t : kernel_) {
        guard_ = std::max(guard_, std::abs(t.dx));
        rows_ = std::max(rows_, t.dy + 1);
    }
    for (auto& channel : errors_)
        channel.assign(static_cast<size_t>(rows_), std::vector<int>(static_cast<size_t>(width + 2 * guard_), 0));
}

int TKernelDitherer::Dither(int red, int green, int blue, uint8_t& r, uint8_t& g, uint8_t& b) {
    const int x = Column + guard_;
    const int input[3] = {red, green, blue};
    int corrected[3];
    for (int c = 0; c < 3; ++c)
        corrected[c] = std::clamp(input[c] + (errors_[c][0][static_cast<size_t>(x)] + divisor_ / 2) / divisor_, 0, 255);
    uint8_t out[3];
    const int index = TDitherEngine::Dither(corrected[0], corrected[1], corrected[2], out[0], out[1], out[2]);
    for (int c = 0; c < 3; ++c) {
        const int e = corrected[c] - out[c];
        if (e == 0) continue;
        for (const Tap& t : kernel_) errors_[c][static_cast<size_t>(t.dy)][static_cast<size_t>(x + t.dx * Direction)] += t.weight * e;
    }
    r = out[0];
    g = out[1];
    b = out[2];
    return index;
}

void TKernelDitherer::NextLine() {
    for (auto& channel : errors_) {
        std::fill(channel[0].begin(), channel[0].end(), 0);
        std::rotate(channel.begin(), channel.begin() + 1, channel.end());
    }
    TDitherEngine::NextLine();
}

TStuckiDitherer::TStuckiDitherer(int width, TColorLookup& lookup)
    : TKernelDitherer(width, lookup,
                      {{0, 1, 8}, {0, 2, 4}, {1, -2, 2}, {1, -1, 4}, {1, 0, 8}, {1, 1, 4}, {1, 2, 2},
                       {2, -2, 1}, {2, -1, 2}, {2, 0, 4}, {2, 1, 2}, {2, 2, 1}},
                      42) {}

TSierraDitherer::TSierraDitherer(int width, TColorLookup& lookup)
    : TKernelDitherer(width, lookup,
                      {{0, 1, 5}, {0, 2, 3}, {1, -2, 2}, {1, -1, 4}, {1, 0, 5}, {1, 1, 4}, {1, 2, 2},
                       {2, -1, 2}, {2, 0, 3}, {2, 1, 2}},
                      32) {}

TJaJuNiDitherer::TJaJuNiDitherer(int width, TColorLookup& lookup)
    : TKernelDitherer(width, lookup,
                      {{0, 1, 7}, {0, 2, 5}, {1, -2, 3}, {1, -1, 5}, {1, 0, 7}, {1, 1, 5}, {1, 2, 3},
                       {2, -2, 1}, {2, -1, 3}, {2, 0, 5}, {2, 1, 3}, {2, 2, 1}},
                      48) {}

TSteveArcheDitherer::TSteveArcheDitherer(int width, TColorLookup& lookup)
    : TKernelDitherer(width, lookup,
                      {{0, 2, 32}, {1, -3, 12}, {1, -1, 26}, {1, 1, 30}, {1, 3, 16}, {2, -2, 12}, {2, 0, 26},
                       {2, 2, 12}, {3, -3, 5}, {3, -1, 12}, {3, 1, 12}, {3, 3, 5}},
                      200) {}

TBurkesDitherer::TBurkesDitherer(int width, TColorLookup& lookup)
    : TKernelDitherer(width, lookup,
                      {{0, 1, 8}, {0, 2, 4}, {1, -2, 2}, {1, -1, 4}, {1, 0, 8}, {1, 1, 4}, {1, 2, 2}}, 32) {}

std::unique_ptr<TDitherEngine> CreateDitherer(uint8_t ditherMode, int width, TColorLookup& lookup) {
    switch (ditherMode) {
    case 0: return std::make_unique<TDitherEngine>(width, lookup);
    case 1: return std::make_unique<TFloydSteinbergDitherer>(width, lookup);
    case 2: return std::make_unique<TStuckiDitherer>(width, lookup);
    case 3: return std::make_unique<TSierraDitherer>(width, lookup);
    case 4: return std::make_unique<TJaJuNiDitherer>(width, lookup);
    case 5: return std::make_unique<TSteveArcheDitherer>(width, lookup);
    case 6: return std::make_unique<TBurkesDitherer>(width, lookup);
    default: return nullptr;
    }
}

// ---- octree ----

namespace {

struct TOctreeNode {
    bool IsLeaf = false;
    int64_t PixelCount = 0, Red = 0, Green = 0, Blue = 0;
    int Next = -1; // next reducible node of the same level
    int Children[8] = {-1, -1, -1, -1, -1, -1, -1, -1};
};

class TColorQuantizer {
public:
    explicit TColorQuantizer(int colorBits) : colorBits_(colorBits) {
        reducible_.assign(static_cast<size_t>(colorBits + 1), -1);
        root_ = NewNode(0);
    }

    void AddColor(int r, int g, int b) {
        int node = root_;
        for (int level = 0;; ++level) {
            if (nodes_[static_cast<size_t>(node)].IsLeaf) {
                TOctreeNode& n = nodes_[static_cast<size_t>(node)];
                ++n.PixelCount;
                n.Red += r;
                n.Green += g;
                n.Blue += b;
                return;
            }
            const int shift = 7 - level;
            const int child = (((r >> shift) & 1) << 2) | (((g >> shift) & 1) << 1) | ((b >> shift) & 1);
            int next = nodes_[static_cast<size_t>(node)].Children[child];
            if (next < 0) {
                next = NewNode(level + 1);
                nodes_[static_cast<size_t>(node)].Children[child] = next;
            }
            node = next;
        }
    }

    // True when a node could be reduced.
    bool Reduce() {
        int level = colorBits_ - 1;
        while (level >= 1 && reducible_[static_cast<size_t>(level)] < 0) --level;
        if (level < 1) return false;
        const int node = reducible_[static_cast<size_t>(level)];
        TOctreeNode& n = nodes_[static_cast<size_t>(node)];
        reducible_[static_cast<size_t>(level)] = n.Next;
        int children = 0;
        for (int& c : n.Children) {
            if (c < 0) continue;
            const TOctreeNode& child = nodes_[static_cast<size_t>(c)];
            n.Red += child.Red;
            n.Green += child.Green;
            n.Blue += child.Blue;
            n.PixelCount += child.PixelCount;
            c = -1;
            ++children;
        }
        n.IsLeaf = true;
        leafCount_ += 1 - children;
        return true;
    }

    int LeafCount() const { return leafCount_; }

    void Colors(int node, std::vector<TPaletteEntry>& out) const {
        const TOctreeNode& n = nodes_[static_cast<size_t>(node)];
        if (n.IsLeaf) {
            if (n.PixelCount == 0) out.push_back(TPaletteEntry{0, 0, 0, 4});
            else
                out.push_back(TPaletteEntry{static_cast<uint8_t>(n.Red / n.PixelCount),
                                            static_cast<uint8_t>(n.Green / n.PixelCount),
                                            static_cast<uint8_t>(n.Blue / n.PixelCount), 4});
            return;
        }
        for (int c : n.Children)
            if (c >= 0) Colors(c, out);
    }
    int Root() const { return root_; }

private:
    int NewNode(int level) {
        TOctreeNode n;
        if (level == colorBits_) {
            n.IsLeaf = true;
            ++leafCount_;
        } else {
            n.Next = reducible_[static_cast<size_t>(level)];
            reducible_[static_cast<size_t>(level)] = static_cast<int>(nodes_.size());
        }
        nodes_.push_back(n);
        return static_cast<int>(nodes_.size()) - 1;
    }

    std::vector<TOctreeNode> nodes_;
    std::vector<int> reducible_;
    int root_ = 0, leafCount_ = 0;
    int colorBits_;
};

} // namespace

std::shared_ptr<TLogPalette> CreateOptimizedPalette(const TBitmap& source24, int maxColors, int colorBits,
                                                    bool keepSystemColors) {
    if (keepSystemColors) maxColors = 236;
    maxColors = std::clamp(maxColors, 1, 256);
    colorBits = std::clamp(colorBits, 1, 8);
    TColorQuantizer tree(colorBits);
    for (int y = 0; y < source24.Height(); ++y) {
        const auto* row = static_cast<const uint8_t*>(source24.ScanLine(y));
        for (int x = 0; x < source24.Width(); ++x) {
            tree.AddColor(row[3 * x + 2], row[3 * x + 1], row[3 * x]);
            while (tree.LeafCount() > maxColors)
                if (!tree.Reduce()) break;
        }
    }
    std::vector<TPaletteEntry> colors;
    tree.Colors(tree.Root(), colors);
    colors.resize(static_cast<size_t>(maxColors), TPaletteEntry{0, 0, 0, 4});
    auto palette = NewPalette();
    if (keepSystemColors) {
        palette->Entries.assign(256, TPaletteEntry{0, 0, 0, 4});
        for (int i = 0; i < 10; ++i) palette->Entries[static_cast<size_t>(i)] = TPaletteEntry{kSystem20[i][0], kSystem20[i][1], kSystem20[i][2], 4};
        for (int i = 0; i < 10; ++i)
            palette->Entries[static_cast<size_t>(246 + i)] = TPaletteEntry{kSystem20[10 + i][0], kSystem20[10 + i][1], kSystem20[10 + i][2], 4};
        for (int i = 0; i < maxColors; ++i) palette->Entries[static_cast<size_t>(10 + i)] = colors[static_cast<size_t>(i)];
    } else {
        palette->Entries = colors;
    }
    return palette;
}

// ---- row writer ----

TDIBWriter::TDIBWriter(TBitmap& target, const TLogPalette* palette, int height, int width, TPixelFormat format)
    : target_(target), height_(height), width_(width), format_(format) {
    if (format != TPixelFormat::pf8bit && format != TPixelFormat::pf24bit) throw GIFException("Unsupported PixelFormat");
    if (width <= 0 || height <= 0) throw GIFException("Invalid image dimensions");
    if (palette)
        for (const TPaletteEntry& e : palette->Entries) palette_.push_back(TRGBQuad{e.peBlue, e.peGreen, e.peRed, 0});
}

TDIBWriter::~TDIBWriter() {
    try {
        Commit();
    } catch (...) {
        // Committing only moves memory that exists already.
    }
}

uint8_t* TDIBWriter::ScanLine(int row) {
    if (!rows_) {
        if (!FitsPixelBudget(width_, height_)) throw EOutOfMemory("Failed to allocate memory for GIF DIB");
        rows_ = std::make_unique<TBitmap>();
        rows_->SetPixelFormat(format_);
        rows_->SetSize(width_, height_);
        if (format_ == TPixelFormat::pf8bit) rows_->SetPalette(palette_);
    }
    return static_cast<uint8_t*>(rows_->ScanLine(row));
}

void TDIBWriter::Commit() {
    if (!rows_) return;
    target_.TakeFrom(*rows_);
    rows_.reset();
}

// ---- reduction ----

std::unique_ptr<TBitmap> ReduceColors(TBitmap& bitmap, uint8_t colorReduction, uint8_t ditherMode, int reductionBits,
                                      const TLogPalette* customPalette, int* colorsOut) {
    auto result = std::make_unique<TBitmap>();
    if (colorsOut) *colorsOut = 0;
    if (colorReduction == 0) {
        result->Assign(bitmap);
        result->SetPixelFormat(TPixelFormat::pf24bit);
        return result;
    }
    bitmap.SetPixelFormat(TPixelFormat::pf24bit);
    std::shared_ptr<TLogPalette> palette;
    std::unique_ptr<TColorLookup> lookup;
    switch (colorReduction) {
    case 1: palette = SystemPalette20(); break;
    case 2: palette = HalftonePalette(); break;
    case 3: palette = FourGrayPalette(); break;
    case 4:
        palette = MonochromePalette();
        lookup = std::make_unique<TMonochromeLookup>();
        break;
    case 5:
        palette = GrayPalette(256);
        lookup = std::make_unique<TGrayScaleLookup>();
        break;
    case 6:
        palette = WebPalette();
        lookup = std::make_unique<TNetscapeColorLookup>();
        break;
    case 7: palette = CreateOptimizedPalette(bitmap, 1 << std::clamp(reductionBits, 1, 8), 8, false); break;
    case 8: palette = CreateOptimizedPalette(bitmap, 256, 8, true); break;
    case 9:
        if (customPalette) palette = std::make_shared<TLogPalette>(*customPalette);
        else palette = NewPalette();
        break;
    default: return result;
    }
    if (!lookup) lookup = std::make_unique<TFastColorLookup>(*palette);
    if (lookup->Colors == 0 || ditherMode > 6 || bitmap.Empty()) return result;
    std::unique_ptr<TDitherEngine> ditherer = CreateDitherer(ditherMode, bitmap.Width(), *lookup);
    {
        TDIBWriter writer(*result, palette.get(), bitmap.Height(), bitmap.Width(), TPixelFormat::pf8bit);
        for (int y = 0; y < bitmap.Height(); ++y) {
            const auto* src = static_cast<const uint8_t*>(bitmap.ScanLine(y));
            uint8_t* dst = writer.ScanLine(y);
            uint8_t r, g, b;
            while (ditherer->Column >= 0 && ditherer->Column < bitmap.Width()) {
                const int x = ditherer->Column;
                dst[x] = static_cast<uint8_t>(ditherer->Dither(src[3 * x + 2], src[3 * x + 1], src[3 * x], r, g, b));
            }
            ditherer->NextLine();
        }
    }
    if (colorsOut) *colorsOut = static_cast<int>(palette->Entries.size());
    return result;
}

} // namespace lumora
