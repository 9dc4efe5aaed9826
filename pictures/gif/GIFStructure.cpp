// The blocks of a GIF file: header, colour maps, extensions, frame and extension lists, trailer,
// each reading and writing itself.

#include <algorithm>
#include <cstring>
#include <mutex>

#include "pictures/gif/GIFImage.h"

namespace lumora {

namespace {

void ReadCheck(TStream& stream, void* buffer, int64_t count) {
    if (stream.Read(buffer, count) != count) throw GIFException("Premature end of data");
}

bool ReadByte(TStream& stream, uint8_t& value) { return stream.Read(&value, 1) == 1; }

void WriteByte(TStream& stream, uint8_t value) { stream.WriteBuffer(&value, 1); }

void StepBack(TStream& stream) { stream.Seek(-1, TSeekOrigin::soCurrent); }

uint16_t Get16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

void Put16(uint8_t* p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}

// Each sub-block is one string.
void ReadStrings(TStream& stream, std::vector<std::string>& strings) {
    strings.clear();
    uint8_t size;
    while (ReadByte(stream, size) && size != 0) {
        std::string s(size, '\0');
        ReadCheck(stream, s.data(), size);
        strings.push_back(std::move(s));
    }
}

// Each string in pieces of at most 255 bytes, one sub-block each, then the zero-length sub-block.
void WriteStrings(TStream& stream, const std::vector<std::string>& strings) {
    for (const std::string& s : strings)
        for (size_t at = 0; at < s.size(); at += 255) {
            const size_t n = std::min<size_t>(255, s.size() - at);
            WriteByte(stream, static_cast<uint8_t>(n));
            stream.WriteBuffer(s.data() + at, static_cast<int64_t>(n));
        }
    WriteByte(stream, 0);
}

// ---- extension class registries ----

struct LabelEntry {
    uint8_t label;
    TGIFExtensionFactory factory;
};
struct AppEntry {
    std::string identifier;
    TGIFExtensionFactory factory;
};

std::mutex g_registryMutex;

std::vector<LabelEntry>& LabelRegistry() {
    static std::vector<LabelEntry> registry = [] {
        std::vector<LabelEntry> r;
        r.push_back({TGIFTextExtension::kLabel, [](TGIFSubImage* f) { return std::make_unique<TGIFTextExtension>(f); }});
        r.push_back({TGIFGraphicControlExtension::kLabel,
                     [](TGIFSubImage* f) { return std::make_unique<TGIFGraphicControlExtension>(f); }});
        r.push_back({TGIFCommentExtension::kLabel,
                     [](TGIFSubImage* f) { return std::make_unique<TGIFCommentExtension>(f); }});
        // Application blocks are told apart by their identifier (below).
        r.push_back({TGIFApplicationExtension::kLabel, nullptr});
        return r;
    }();
    return registry;
}

std::vector<AppEntry>& AppRegistry() {
    static std::vector<AppEntry> registry = [] {
        std::vector<AppEntry> r;
        auto loop = [](TGIFSubImage* f) { return std::make_unique<TGIFAppExtNSLoop>(f); };
        r.push_back({"NETSCAPE2.0", loop});
        r.push_back({"ANIMEXTS1.0", loop});
        return r;
    }();
    return registry;
}

std::unique_ptr<TGIFExtension> MakeUnknownApp(TGIFSubImage* frame) {
    return std::make_unique<TGIFUnknownAppExtension>(frame);
}

// Which application class reads the block after the label.
std::unique_ptr<TGIFExtension> FindApplicationExtension(TStream& stream, TGIFSubImage* frame) {
    uint8_t size;
    if (!ReadByte(stream, size)) return nullptr;
    if (size == 10) {
        uint8_t skip[10];
        if (stream.Read(skip, 10) < 10) return nullptr;
        return MakeUnknownApp(frame);
    }
    if (size == 11) {
        char id[11];
        if (stream.Read(id, 11) == 11) {
            const std::string identifier(id, 11);
            std::lock_guard lock(g_registryMutex);
            auto& reg = AppRegistry();
            for (auto it = reg.rbegin(); it != reg.rend(); ++it)
                if (it->identifier == identifier) return it->factory(frame);
            return MakeUnknownApp(frame);
        }
    }
    // Other sizes and short identifiers: a block kept whole reads what it can (or reports why not).
    return MakeUnknownApp(frame);
}

} // namespace

std::unique_ptr<TGIFExtension> FindExtension(TStream& stream, TGIFSubImage* frame) {
    const int64_t pos = stream.Position();
    std::unique_ptr<TGIFExtension> result;
    uint8_t label;
    if (ReadByte(stream, label)) {
        TGIFExtensionFactory factory;
        bool found = false;
        {
            std::lock_guard lock(g_registryMutex);
            auto& reg = LabelRegistry();
            for (auto it = reg.rbegin(); it != reg.rend(); ++it)
                if (it->label == label) {
                    factory = it->factory;
                    found = true;
                    break;
                }
        }
        if (found) result = factory ? factory(frame) : FindApplicationExtension(stream, frame);
    }
    stream.SetPosition(pos);
    return result;
}

void RegisterExtension(uint8_t label, TGIFExtensionFactory factory) {
    std::lock_guard lock(g_registryMutex);
    LabelRegistry().push_back({label, std::move(factory)});
}

void RegisterApplicationExtension(const std::string& identifier, TGIFExtensionFactory factory) {
    std::string id = identifier;
    id.resize(11, '\0');
    std::lock_guard lock(g_registryMutex);
    AppRegistry().push_back({id, std::move(factory)});
}

// ---- items ----

void TGIFItem::Warning(int severity, const std::string& message) {
    if (image_) image_->Warning(this, severity, message);
}

void TGIFItem::SaveToFile(const std::string& fileName) {
    TFileStream f(fileName, fmCreate);
    SaveToStream(f);
}

void TGIFItem::LoadFromFile(const std::string& fileName) {
    TFileStream f(fileName, fmOpenRead | fmShareDenyWrite);
    LoadFromStream(f);
}

// ---- colour maps ----

void TGIFColorMap::Clear() {
    entries_.clear();
    optimized_ = false;
}

void TGIFColorMap::Assign(const TGIFColorMap& source) {
    if (&source == this) return;
    entries_ = source.entries_;
    optimized_ = source.optimized_;
}

void TGIFColorMap::LoadFromStream(TStream& stream, int count) {
    Clear();
    count = std::clamp(count, 0, 256);
    uint8_t raw[256 * 3];
    ReadCheck(stream, raw, count * 3);
    entries_.resize(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) entries_[static_cast<size_t>(i)] = TGIFColor{raw[3 * i], raw[3 * i + 1], raw[3 * i + 2]};
}

void TGIFColorMap::SaveToStream(TStream& stream) const {
    if (entries_.empty()) return;
    const int size = 1 << BitsPerPixel();
    std::vector<uint8_t> raw(static_cast<size_t>(size) * 3, 0);
    for (size_t i = 0; i < entries_.size(); ++i) {
        raw[3 * i] = entries_[i].Red;
        raw[3 * i + 1] = entries_[i].Green;
        raw[3 * i + 2] = entries_[i].Blue;
    }
    stream.WriteBuffer(raw.data(), static_cast<int64_t>(raw.size()));
}

int TGIFColorMap::Add(TColor color) {
    if (Count() >= 256) throw GIFException("Color table overflow");
    entries_.push_back(TGIFColor{GetRValue(color), GetGValue(color), GetBValue(color)});
    optimized_ = false;
    return Count() - 1;
}

int TGIFColorMap::AddUnique(TColor color) {
    const int i = IndexOf(color);
    return i >= 0 ? i : Add(color);
}

int TGIFColorMap::IndexOf(TColor color) const {
    const TGIFColor c{GetRValue(color), GetGValue(color), GetBValue(color)};
    // A sorted map has its most used colours first, so it is searched from the front.
    if (optimized_) {
        for (int i = 0; i < Count(); ++i)
            if (entries_[static_cast<size_t>(i)] == c) return i;
    } else {
        for (int i = Count() - 1; i >= 0; --i)
            if (entries_[static_cast<size_t>(i)] == c) return i;
    }
    return -1;
}

void TGIFColorMap::Delete(int index) {
    if (index < 0 || index >= Count()) throw GIFException("Invalid color index");
    entries_.erase(entries_.begin() + index);
    optimized_ = false;
}

TColor TGIFColorMap::Colors(int index) {
    if (entries_.empty()) throw GIFException("Color table is empty");
    if (index < 0 || index >= Count()) {
        Warning(1, "Invalid color index");
        index = 0;
    }
    const TGIFColor& c = entries_[static_cast<size_t>(index)];
    return RGB(c.Red, c.Green, c.Blue);
}

void TGIFColorMap::ImportPalette(const TLogPalette& palette) {
    Clear();
    for (size_t i = 0; i < palette.Entries.size() && i < 256; ++i) {
        const TPaletteEntry& e = palette.Entries[i];
        entries_.push_back(TGIFColor{e.peRed, e.peGreen, e.peBlue});
    }
}

void TGIFColorMap::ImportRGB(const TRGBQuad* entries, int count) {
    Clear();
    for (int i = 0; i < count && i < 256; ++i)
        entries_.push_back(TGIFColor{entries[i].rgbRed, entries[i].rgbGreen, entries[i].rgbBlue});
}

HPALETTE TGIFColorMap::ExportPalette() const {
    if (entries_.empty()) return nullptr;
    auto palette = std::make_shared<TLogPalette>();
    palette->Version = 0x300;
    for (const TGIFColor& c : entries_) palette->Entries.push_back(TPaletteEntry{c.Red, c.Green, c.Blue, 4});
    return palette;
}

int TGIFColorMap::BitsPerPixel() const {
    const int n = Count();
    if (n == 0) return 0;
    if (n <= 2) return 1;
    int b = 1;
    while ((1 << b) < n) ++b;
    return b;
}

void TGIFColorMap::Warning(int, const std::string&) {}

bool TGIFColorMap::Optimize() {
    if (Count() <= 1) return false;
    optimized_ = true;
    const std::vector<TGIFSubImage*> frames = UsingFrames();
    const int n = Count();
    std::vector<int64_t> counts(static_cast<size_t>(n), 0);
    for (TGIFSubImage* f : frames) {
        const uint8_t* p = f->Data();
        for (int64_t i = 0; i < f->DataSize(); ++i)
            if (p[i] < n) ++counts[p[i]];
    }
    // An entry no pixel uses is dropped, unless a frame's transparent index or the background names it.
    std::vector<bool> keep(static_cast<size_t>(n), false);
    for (int i = 0; i < n; ++i) keep[static_cast<size_t>(i)] = counts[static_cast<size_t>(i)] > 0;
    for (TGIFSubImage* f : frames)
        if (const int t = f->TransparentIndex(); t >= 0 && t < n) keep[static_cast<size_t>(t)] = true;
    const int held = HeldIndex();
    if (held >= 0 && held < n) keep[static_cast<size_t>(held)] = true;
    std::vector<int> order(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i) order[static_cast<size_t>(i)] = i;
    std::stable_sort(order.begin(), order.end(), [&](int a, int b) {
        return counts[a] != counts[b] ? counts[a] > counts[b] : keep[a] && !keep[b];
    });
    bool unchanged = true;
    for (int i = 0; i < n; ++i)
        if (order[static_cast<size_t>(i)] != i) unchanged = false;
    if (unchanged) return true;
    uint8_t newPos[256];
    for (int i = 0; i < 256; ++i) newPos[i] = static_cast<uint8_t>(i);
    for (int i = 0; i < n; ++i) newPos[order[static_cast<size_t>(i)]] = static_cast<uint8_t>(i);
    for (TGIFSubImage* f : frames) {
        uint8_t* p = f->Data();
        for (int64_t i = 0; i < f->DataSize(); ++i) p[i] = newPos[p[i]];
        if (f->Transparent() && f->GraphicControlExtension())
            f->GraphicControlExtension()->SetTransparentColorIndex(
                newPos[f->GraphicControlExtension()->TransparentColorIndex()]);
        f->PixelsChanged();
    }
    if (held >= 0 && held < n) MovedIndex(newPos[held]);
    std::vector<TGIFColor> sorted;
    for (int i = 0; i < n; ++i)
        if (keep[static_cast<size_t>(order[static_cast<size_t>(i)])]) sorted.push_back(entries_[order[static_cast<size_t>(i)]]);
    entries_ = std::move(sorted);
    Changed();
    return true;
}

void TGIFGlobalColorMap::Warning(int severity, const std::string& message) { header_->Warning(severity, message); }

void TGIFGlobalColorMap::Changed() {
    if (header_->Image()) header_->Image()->SetPalette(nullptr);
}

std::vector<TGIFSubImage*> TGIFGlobalColorMap::UsingFrames() {
    std::vector<TGIFSubImage*> frames;
    if (TGIFImage* image = header_->Image())
        for (int i = 0; i < image->Images().Count(); ++i)
            if (&image->Images()[i]->ActiveColorMap() == this) frames.push_back(image->Images()[i]);
    return frames;
}

int TGIFGlobalColorMap::HeldIndex() const { return header_->BackgroundColorIndex(); }

void TGIFGlobalColorMap::MovedIndex(int index) { header_->SetBackgroundColorIndex(static_cast<uint8_t>(index)); }

void TGIFLocalColorMap::Warning(int severity, const std::string& message) { frame_->Warning(severity, message); }

void TGIFLocalColorMap::Changed() { frame_->SetPalette(nullptr); }

std::vector<TGIFSubImage*> TGIFLocalColorMap::UsingFrames() { return {frame_}; }

// ---- header ----

TGIFHeader::TGIFHeader(TGIFImage* image) : TGIFItem(image), colorMap_(this) {}

TGIFVersion TGIFHeader::GetVersion() const { return colorMap_.Optimized() || aspect_ != 0 ? gv89a : gv87a; }

void TGIFHeader::Clear() {
    width_ = height_ = 0;
    packed_ = background_ = aspect_ = 0;
    colorMap_.Clear();
}

void TGIFHeader::Assign(const TGIFHeader& source) {
    width_ = source.width_;
    height_ = source.height_;
    packed_ = source.packed_;
    background_ = source.background_;
    aspect_ = source.aspect_;
    colorMap_.Assign(source.colorMap_);
}

TColor TGIFHeader::BackgroundColor() { return colorMap_.Colors(background_); }

void TGIFHeader::LoadFromStream(TStream& stream) {
    const int64_t pos = stream.Position();
    char signature[6];
    ReadCheck(stream, signature, 6);
    auto isGif = [&] { return UpperCase(std::string(signature, 3)) == "GIF"; };
    if (!isGif()) {
        // Some files carry four bytes of something else in front of the signature.
        stream.SetPosition(pos + 4);
        ReadCheck(stream, signature, 6);
        if (!isGif()) throw GIFException("Invalid GIF signature");
    }
    uint8_t lsd[7];
    ReadCheck(stream, lsd, 7);
    width_ = Get16(lsd);
    height_ = Get16(lsd + 2);
    packed_ = lsd[4];
    background_ = lsd[5];
    aspect_ = lsd[6];
    if (packed_ & 0x80) {
        const int entries = 2 << (packed_ & 7);
        if (entries < 2 || entries > 256) throw GIFException("Invalid number of colors specified in Screen Descriptor");
        colorMap_.LoadFromStream(stream, entries);
    } else {
        colorMap_.Clear();
    }
}

void TGIFHeader::SaveToStream(TStream& stream) {
    TGIFVersion version = gvUnknown;
    TGIFImage* image = Image();
    if (image)
        for (int i = 0; i < image->Images().Count(); ++i) {
            version = std::max(version, image->Images()[i]->GetVersion());
            if (version == gv89a) break;
        }
    if (version == gvUnknown) throw GIFException("Unsupported GIF version");
    stream.WriteBuffer(version == gv89a ? "GIF89a" : "GIF87a", 6);
    int maxBits = colorMap_.BitsPerPixel();
    if (image)
        for (int i = 0; i < image->Images().Count(); ++i)
            maxBits = std::max(maxBits, image->Images()[i]->ColorMap().BitsPerPixel());
    packed_ = 0;
    if (colorMap_.Count() > 0) {
        packed_ |= 0x80;
        if (colorMap_.Optimized()) packed_ |= 0x08;
    }
    packed_ |= static_cast<uint8_t>((std::max(maxBits - 1, 0) & 7) << 4);
    packed_ |= static_cast<uint8_t>(std::max(colorMap_.BitsPerPixel() - 1, 0) & 7);
    uint8_t lsd[7];
    Put16(lsd, width_);
    Put16(lsd + 2, height_);
    lsd[4] = packed_;
    lsd[5] = background_;
    lsd[6] = aspect_;
    stream.WriteBuffer(lsd, 7);
    if (packed_ & 0x80) colorMap_.SaveToStream(stream);
}

// ---- extensions ----

TGIFExtension::TGIFExtension(TGIFSubImage* frame) : TGIFItem(frame ? frame->Image() : nullptr), frame_(frame) {}

void TGIFExtension::ReadIntroducer(TStream& stream) {
    uint8_t head[2];
    ReadCheck(stream, head, 2);
    if (head[0] != '!') throw GIFException("Invalid extension introducer");
    if (head[1] != GetExtensionType())
        throw GIFException("Internal error: Extension Instance does not match Extension Label");
}

void TGIFExtension::WriteIntroducer(TStream& stream) {
    const uint8_t head[2] = {'!', GetExtensionType()};
    stream.WriteBuffer(head, 2);
}

TGIFGraphicControlExtension::TGIFGraphicControlExtension(TGIFSubImage* frame) : TGIFExtension(frame) {
    if (frame_) frame_->GraphicControlAttached(this);
}

TGIFGraphicControlExtension::~TGIFGraphicControlExtension() {
    if (frame_) frame_->GraphicControlDetached(this);
}

void TGIFGraphicControlExtension::SetTransparent(bool value) {
    packed_ = static_cast<uint8_t>(value ? packed_ | 1 : packed_ & ~1);
    if (frame_ && frame_->GraphicControlExtension() == this) {
        frame_->SetTransparentFlag(value);
        frame_->FreeBitmap();
        frame_->FreeMask();
    }
}

void TGIFGraphicControlExtension::LoadFromStream(TStream& stream) {
    ReadIntroducer(stream);
    uint8_t b[6];
    if (stream.Read(b, 6) < 6) {
        Warning(1, "Premature end of data");
        return;
    }
    blockSize_ = b[0];
    packed_ = b[1];
    delay_ = Get16(b + 2);
    transparentIndex_ = b[4];
    terminator_ = b[5];
    if (Transparent() && frame_) frame_->SetTransparentFlag(true);
}

void TGIFGraphicControlExtension::SaveToStream(TStream& stream) {
    WriteIntroducer(stream);
    uint8_t b[6] = {blockSize_, packed_, 0, 0, transparentIndex_, 0};
    Put16(b + 2, delay_);
    stream.WriteBuffer(b, 6);
}

void TGIFTextExtension::LoadFromStream(TStream& stream) {
    ReadIntroducer(stream);
    ReadCheck(stream, Block, 13);
    ReadStrings(stream, Text);
}

void TGIFTextExtension::SaveToStream(TStream& stream) {
    WriteIntroducer(stream);
    stream.WriteBuffer(Block, 13);
    WriteStrings(stream, Text);
}

void TGIFCommentExtension::LoadFromStream(TStream& stream) {
    ReadIntroducer(stream);
    ReadStrings(stream, Text);
}

void TGIFCommentExtension::SaveToStream(TStream& stream) {
    WriteIntroducer(stream);
    WriteStrings(stream, Text);
}

void TGIFApplicationExtension::SetIdentifier(const std::string& identifier) {
    std::memset(identifier_, 0, sizeof identifier_);
    std::memcpy(identifier_, identifier.data(), std::min<size_t>(identifier.size(), 11));
}

void TGIFApplicationExtension::LoadFromStream(TStream& stream) {
    ReadIntroducer(stream);
    uint8_t size;
    ReadCheck(stream, &size, 1);
    if (size == 10) {
        // An identifier one byte short: the byte after it completes it and is read again as data.
        std::memset(identifier_, 0, sizeof identifier_);
        ReadCheck(stream, identifier_, 11);
        StepBack(stream);
    } else if (size < 10) {
        throw GIFException("Unsupported Application Extension block size");
    } else {
        ReadCheck(stream, identifier_, 11);
        if (size > 11) {
            std::vector<uint8_t> rest(size - 11u);
            ReadCheck(stream, rest.data(), static_cast<int64_t>(rest.size()));
        }
    }
    LoadData(stream);
}

void TGIFApplicationExtension::SaveToStream(TStream& stream) {
    WriteIntroducer(stream);
    WriteByte(stream, 11);
    stream.WriteBuffer(identifier_, 11);
    SaveData(stream);
}

void TGIFUnknownAppExtension::LoadData(TStream& stream) {
    Blocks.clear();
    uint8_t size;
    while (ReadByte(stream, size) && size != 0) {
        std::vector<uint8_t> block(size);
        ReadCheck(stream, block.data(), size);
        Blocks.push_back(std::move(block));
    }
}

void TGIFUnknownAppExtension::SaveData(TStream& stream) {
    for (const auto& block : Blocks) {
        if (block.empty()) continue;
        WriteByte(stream, static_cast<uint8_t>(std::min<size_t>(block.size(), 255)));
        stream.WriteBuffer(block.data(), static_cast<int64_t>(std::min<size_t>(block.size(), 255)));
    }
    WriteByte(stream, 0);
}

TGIFAppExtNSLoop::TGIFAppExtNSLoop(TGIFSubImage* frame) : TGIFApplicationExtension(frame) {
    SetIdentifier("NETSCAPE2.0");
}

void TGIFAppExtNSLoop::LoadData(TStream& stream) {
    uint8_t size;
    if (!ReadByte(stream, size)) return;
    while (size != 0) {
        uint8_t id;
        ReadCheck(stream, &id, 1);
        int rest = size - 1;
        if ((id & 7) == 1) {
            if (rest < 2) throw GIFException("Invalid GIF data");
            uint8_t b[2];
            ReadCheck(stream, b, 2);
            Loops = Get16(b);
            rest -= 2;
        } else if ((id & 7) == 2) {
            if (rest < 4) throw GIFException("Invalid GIF data");
            uint8_t b[4];
            ReadCheck(stream, b, 4);
            BufferSize = b[0] | (b[1] << 8) | (b[2] << 16) | (static_cast<uint32_t>(b[3]) << 24);
            rest -= 4;
        }
        if (rest > 0) {
            uint8_t skip[255];
            ReadCheck(stream, skip, rest);
        }
        if (!ReadByte(stream, size)) return;
    }
}

void TGIFAppExtNSLoop::SaveData(TStream& stream) {
    const uint8_t loop[4] = {3, 1, static_cast<uint8_t>(Loops), static_cast<uint8_t>(Loops >> 8)};
    stream.WriteBuffer(loop, 4);
    if (BufferSize != 0) {
        const uint8_t buffer[6] = {5,
                                   2,
                                   static_cast<uint8_t>(BufferSize),
                                   static_cast<uint8_t>(BufferSize >> 8),
                                   static_cast<uint8_t>(BufferSize >> 16),
                                   static_cast<uint8_t>(BufferSize >> 24)};
        stream.WriteBuffer(buffer, 6);
    }
    WriteByte(stream, 0);
}

// ---- lists ----

TGIFExtensionList::TGIFExtensionList(TGIFSubImage* frame) : TGIFList<TGIFExtension>(frame ? frame->Image() : nullptr) {}

void TGIFExtensionList::LoadFromStream(TStream& stream, TGIFSubImage* frame) {
    uint8_t b;
    if (!ReadByte(stream, b)) return;
    bool warned = false;
    while (b != ',' && b != ';') {
        // A byte that starts no block is a stray (a zero terminator some writers put after the
        // graphic control block, or other noise): the extensions in front of the image go on after
        // it, as other readers take them.
        if (b != '!') {
            if (b != 0 && !warned && frame) {
                frame->Warning(1, "Invalid extension introducer");
                warned = true;
            }
            if (!ReadByte(stream, b)) return;
            continue;
        }
        std::unique_ptr<TGIFExtension> extension = FindExtension(stream, frame);
        if (!extension) throw GIFException("Unknown extension type");
        StepBack(stream);
        extension->LoadFromStream(stream);
        Add(std::move(extension));
        if (!ReadByte(stream, b)) return;
    }
    StepBack(stream);
}

void TGIFImageList::LoadFromStream(TStream& stream, TGIFImage* image) {
    // The introducer of the next block. Bytes that start no block are skipped: zeros quietly, any
    // other stray with a warning, as other readers skip them. When no block follows, the stream is
    // left at the first stray byte, for the trailer to report.
    // blockStart: where the bytes in front of the block (strays included) begin.
    int64_t blockStart = 0;
    auto nextBlock = [&](uint8_t& b) {
        blockStart = stream.Position();
        int64_t stray = -1;
        while (ReadByte(stream, b)) {
            if (b == ',' || b == '!' || b == ';') return true;
            if (b != 0 && stray < 0) {
                stray = stream.Position() - 1;
                image->Warning(image, 1, "Unknown GIF block type");
            }
        }
        if (stray >= 0) stream.SetPosition(stray);
        return false;
    };
    bool passedOver = false;
    // The blocks in front of a frame that is left out, but its graphic control block, are the file's
    // (the loop block above all): the next frame takes them in front of its own, or, with no frame
    // after it, a frame of its own blocks does.
    std::vector<std::unique_ptr<TGIFExtension>> carried;
    auto handOver = [&](TGIFSubImage& frame) {
        for (size_t i = 0; i < carried.size(); ++i) {
            carried[i]->MoveToFrame(&frame);
            frame.Extensions().Insert(static_cast<int>(i), std::move(carried[i]));
        }
        carried.clear();
    };
    auto hasPicture = [&] {
        for (int i = 0; i < Count(); ++i)
            if (!(*this)[i]->Empty()) return true;
        return false;
    };
    // Reading ends here, at the trailer or wherever the blocks stop. A file with no picture in it
    // would show nothing as if it were one, so it is refused.
    auto done = [&](bool atTrailer) {
        if (!carried.empty()) {
            auto rest = std::make_unique<TGIFSubImage>(image);
            handOver(*rest);
            Add(std::move(rest));
        }
        if (hasPicture()) return;
        if (passedOver) throw GIFException("Unsupported LZW code size");
        throw GIFException(atTrailer ? "Image is empty" : "Premature end of data");
    };
    uint8_t b;
    if (!nextBlock(b)) return done(false);
    const int64_t size = stream.Size();
    while (b != ';') {
        StepBack(stream);
        auto frame = std::make_unique<TGIFSubImage>(image);
        try {
            frame->LoadFromStream(stream);
        } catch (const EOutOfMemory&) {
            throw;
        } catch (const Exception& e) {
            // Bad data after the frames read (junk at the end of a file, a block cut short) ends the
            // frames there, as other readers keep what they have; with no frame yet, the file is bad.
            if (Count() == 0) throw;
            image->Warning(image, 1, e.Message());
            stream.SetPosition(blockStart);
            return done(false);
        }
        if (frame->PassedOver()) {
            passedOver = true;
            TGIFExtensionList& blocks = frame->Extensions();
            for (int i = 0; i < blocks.Count();)
                if (dynamic_cast<TGIFGraphicControlExtension*>(blocks[i]))
                    ++i;
                else
                    carried.push_back(blocks.Remove(blocks[i]));
        } else {
            // The first picture is what the file shows: one its data cannot fill would show flat colour
            // where the picture is missing, so the file is refused, as other readers refuse it. A later
            // frame cut short is kept with what it holds, and ends the animation when the file ends.
            if (frame->CutShort() && !hasPicture()) throw GIFException("Premature end of data");
            // Only the first picture is shown at once; the frames after it are decoded again when an
            // animation draws them, so a file of many frames holds one of them, not all.
            if (hasPicture()) frame->ReleasePixels();
            handOver(*frame);
            Add(std::move(frame));
        }
        if (size > 0) image->DoProgress(1, static_cast<uint8_t>(std::clamp<int64_t>(stream.Position() * 100 / size, 0, 100)), "Loading...");
        if (!nextBlock(b)) return done(false);
    }
    StepBack(stream);
    done(true);
}

void TGIFTrailer::LoadFromStream(TStream& stream) {
    uint8_t b;
    if (ReadByte(stream, b) && b != ';') Warning(1, "Invalid Image trailer");
}

void TGIFTrailer::SaveToStream(TStream& stream) { WriteByte(stream, ';'); }

} // namespace lumora
