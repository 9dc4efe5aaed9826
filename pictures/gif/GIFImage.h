#pragma once
// The GIF image library: a picture class that holds a whole GIF file (header, frames, extensions),
// reads and writes it, renders frames with their transparency, converts other pictures into frames,
// and plays animations on a painter thread.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "framework/Classes.h"
#include "framework/Forms.h"
#include "framework/Graphics.h"
#include "pictures/gif/GIFLZW.h"
#include "pictures/common/PaletteRoutines.h"

namespace lumora {

class TGIFImage;
class TGIFSubImage;
class TGIFPainter;
class TGIFGraphicControlExtension;

// A palette handed out by an image or a frame; shared, so a holder never sees it freed.
using HPALETTE = std::shared_ptr<const TLogPalette>;

enum TGIFVersion { gvUnknown = 0, gv87a = 1, gv89a = 2 };

using TGIFDrawOptions = uint16_t;
enum : TGIFDrawOptions {
    drThreaded = 0x0001,
    drTransparent = 0x0002,
    drAnimate = 0x0004,
    drLoop = 0x0008,
    drLoopForever = 0x0010,
    drCheckCanvas = 0x0020,
    drDirectDraw = 0x0040,
    drClearOnLoop = 0x0080,
    drTile = 0x0100,
    drWebPalette = 0x0200,
    drWebPaletteOnPaletteDisplay = 0x0400,
};
constexpr TGIFDrawOptions GIFDefaultDrawOptions = 0x060F;

// Colour reductions (what a true-colour picture becomes when it turns into a frame).
enum : uint8_t {
    rmNone = 0,
    rmWindows20 = 1,
    rmHalftone = 2,
    rmFourGrays = 3,
    rmMonochrome = 4,
    rmGrayScale = 5,
    rmNetscape = 6,
    rmQuantize = 7,
    rmQuantizeWindows = 8,
    rmPalette = 9,
};
// Ditherers of the colour reduction.
enum : uint8_t { dmNearest = 0, dmFloydSteinberg, dmStucki, dmSierra, dmJaJuNI, dmSteveArche, dmBurkes };
// Compression of frames on writing.
enum : uint8_t { gcLZW = 0, gcRLE = 1 };

// Option bits of TGIFImage::Optimize.
enum : uint8_t {
    ooCrop = 0x01,
    ooMerge = 0x02,
    ooCleanup = 0x04,
    ooColorMap = 0x08,
    ooReduceColors = 0x10,
};

using TGIFWarningEvent = std::function<void(const void* sender, int severity, const std::string& message)>;
using TGIFPainterEvent = std::function<void(TGIFPainter* sender)>;

// Optimises every image before it is saved through WriteData; off, and nothing in the program turns it on.
extern bool GIFImageOptimizeOnSave;
// Whether the display shows at most 8 bits per pixel; decided once from the display's facts.
bool GIFPaletteDisplay();
void SetGIFPaletteDisplay(bool paletteDisplay);
// The clipboard format number of "GIF Image".
uint16_t CF_GIF();

// ---- file structure ----

// Base of everything a GIF file is made of: it knows its image and reads and writes itself.
class TGIFItem {
public:
    explicit TGIFItem(TGIFImage* image) : image_(image) {}
    virtual ~TGIFItem() = default;
    TGIFItem(const TGIFItem&) = delete;
    TGIFItem& operator=(const TGIFItem&) = delete;

    // The version the item needs (gv87a or gv89a).
    virtual TGIFVersion GetVersion() const { return gv87a; }
    virtual void Warning(int severity, const std::string& message);
    virtual void SaveToStream(TStream& stream) = 0;
    virtual void LoadFromStream(TStream& stream) = 0;
    void SaveToFile(const std::string& fileName);
    void LoadFromFile(const std::string& fileName);
    TGIFImage* Image() const { return image_; }

protected:
    TGIFImage* image_;
};

struct TGIFColor {
    uint8_t Red = 0, Green = 0, Blue = 0;
    bool operator==(const TGIFColor&) const = default;
};

// A colour table of at most 256 entries.
class TGIFColorMap {
public:
    TGIFColorMap() = default;
    virtual ~TGIFColorMap() = default;
    TGIFColorMap(const TGIFColorMap&) = delete;
    TGIFColorMap& operator=(const TGIFColorMap&) = delete;

    int Count() const { return static_cast<int>(entries_.size()); }
    bool Optimized() const { return optimized_; }
    void SetOptimized(bool value) { optimized_ = value; }
    void Clear();
    void Assign(const TGIFColorMap& source);
    // Clears the map, then reads count entries (3 bytes each).
    void LoadFromStream(TStream& stream, int count);
    // The entries, then black ones up to the map's power-of-two size; nothing for an empty map.
    void SaveToStream(TStream& stream) const;
    // Colours are colour values 0x00BBGGRR.
    int Add(TColor color);
    int AddUnique(TColor color);
    int IndexOf(TColor color) const;
    void Delete(int index);
    TColor Colors(int index);
    const TGIFColor& Entry(int index) const { return entries_[static_cast<size_t>(index)]; }
    TGIFColor& Entry(int index) { return entries_[static_cast<size_t>(index)]; }
    void ImportPalette(const TLogPalette& palette);
    // Entries in the blue, green, red order of device-independent colour tables.
    void ImportRGB(const TRGBQuad* entries, int count);
    void ImportColorTable(const std::vector<TRGBQuad>& table) { ImportRGB(table.data(), static_cast<int>(table.size())); }
    HPALETTE ExportPalette() const;
    int BitsPerPixel() const;
    // Sorts the entries by how many pixels use them, most used first; false for 0 or 1 entries.
    bool Optimize();

    virtual void Warning(int severity, const std::string& message);
    virtual void Changed() {}

protected:
    // The frames whose pixels index this map.
    virtual std::vector<TGIFSubImage*> UsingFrames() = 0;
    // An index held outside the frames (the header's background colour), or -1; sorting keeps its
    // entry and tells the new place through MovedIndex.
    virtual int HeldIndex() const { return -1; }
    virtual void MovedIndex(int) {}

private:
    std::vector<TGIFColor> entries_;
    bool optimized_ = false;
};

class TGIFHeader;
class TGIFGlobalColorMap : public TGIFColorMap {
public:
    explicit TGIFGlobalColorMap(TGIFHeader* header) : header_(header) {}
    void Warning(int severity, const std::string& message) override;
    void Changed() override;

protected:
    std::vector<TGIFSubImage*> UsingFrames() override;
    int HeldIndex() const override;
    void MovedIndex(int index) override;

private:
    TGIFHeader* header_;
};

class TGIFLocalColorMap : public TGIFColorMap {
public:
    explicit TGIFLocalColorMap(TGIFSubImage* frame) : frame_(frame) {}
    void Warning(int severity, const std::string& message) override;
    void Changed() override;

protected:
    std::vector<TGIFSubImage*> UsingFrames() override;

private:
    TGIFSubImage* frame_;
};

// Logical screen descriptor and global colour map.
class TGIFHeader : public TGIFItem {
public:
    explicit TGIFHeader(TGIFImage* image);
    TGIFVersion GetVersion() const override;
    void LoadFromStream(TStream& stream) override;
    void SaveToStream(TStream& stream) override;
    void Assign(const TGIFHeader& source);
    void Clear();

    int Width() const { return width_; }
    int Height() const { return height_; }
    void SetWidth(int width) { width_ = static_cast<uint16_t>(width); }
    void SetHeight(int height) { height_ = static_cast<uint16_t>(height); }
    uint8_t Packed() const { return packed_; }
    uint8_t BackgroundColorIndex() const { return background_; }
    void SetBackgroundColorIndex(uint8_t index) { background_ = index; }
    uint8_t AspectRatio() const { return aspect_; }
    void SetAspectRatio(uint8_t ratio) { aspect_ = ratio; }
    // The global map's entry at the background index.
    TColor BackgroundColor();
    TGIFGlobalColorMap& ColorMap() { return colorMap_; }

private:
    uint16_t width_ = 0, height_ = 0;
    uint8_t packed_ = 0, background_ = 0, aspect_ = 0;
    TGIFGlobalColorMap colorMap_;
};

// Base of the blocks led by "!" and a label.
class TGIFExtension : public TGIFItem {
public:
    explicit TGIFExtension(TGIFSubImage* frame);
    TGIFVersion GetVersion() const override { return gv89a; }
    virtual uint8_t GetExtensionType() const = 0;
    TGIFSubImage* SubImage() const { return frame_; }
    // Hands the block to another frame of the image. Not for a graphic control block, which its
    // frame keeps track of.
    void MoveToFrame(TGIFSubImage* frame) { frame_ = frame; }

protected:
    // Reads "!" and the label, checking both.
    void ReadIntroducer(TStream& stream);
    void WriteIntroducer(TStream& stream);
    TGIFSubImage* frame_;
};

// Creates the extension class that can read the block at the stream's position, or none.
std::unique_ptr<TGIFExtension> FindExtension(TStream& stream, TGIFSubImage* frame);
using TGIFExtensionFactory = std::function<std::unique_ptr<TGIFExtension>(TGIFSubImage*)>;
// Adds a class for a label, or for an application identifier of 11 bytes; later registrations win.
void RegisterExtension(uint8_t label, TGIFExtensionFactory factory);
void RegisterApplicationExtension(const std::string& identifier, TGIFExtensionFactory factory);

class TGIFGraphicControlExtension : public TGIFExtension {
public:
    static constexpr uint8_t kLabel = 0xF9;
    explicit TGIFGraphicControlExtension(TGIFSubImage* frame);
    ~TGIFGraphicControlExtension() override;
    uint8_t GetExtensionType() const override { return kLabel; }
    void LoadFromStream(TStream& stream) override;
    void SaveToStream(TStream& stream) override;

    uint8_t Disposal() const { return (packed_ >> 2) & 7; }
    void SetDisposal(uint8_t disposal) { packed_ = static_cast<uint8_t>((packed_ & ~0x1C) | ((disposal & 7) << 2)); }
    bool UserInput() const { return packed_ & 0x02; }
    void SetUserInput(bool value) { packed_ = static_cast<uint8_t>(value ? packed_ | 2 : packed_ & ~2); }
    bool Transparent() const { return packed_ & 0x01; }
    void SetTransparent(bool value);
    int Delay() const { return delay_; }
    void SetDelay(int delay) { delay_ = static_cast<uint16_t>(delay); }
    uint8_t TransparentColorIndex() const { return transparentIndex_; }
    void SetTransparentColorIndex(uint8_t index) { transparentIndex_ = index; }
    uint8_t Packed() const { return packed_; }

private:
    uint8_t blockSize_ = 4, packed_ = 0;
    uint16_t delay_ = 0;
    uint8_t transparentIndex_ = 0, terminator_ = 0;
};

class TGIFTextExtension : public TGIFExtension {
public:
    static constexpr uint8_t kLabel = 0x01;
    using TGIFExtension::TGIFExtension;
    uint8_t GetExtensionType() const override { return kLabel; }
    void LoadFromStream(TStream& stream) override;
    void SaveToStream(TStream& stream) override;
    // Block size (12), grid left, top, width, height (u16), cell width, height, foreground, background.
    uint8_t Block[13] = {12, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    std::vector<std::string> Text;
};

class TGIFCommentExtension : public TGIFExtension {
public:
    static constexpr uint8_t kLabel = 0xFE;
    using TGIFExtension::TGIFExtension;
    uint8_t GetExtensionType() const override { return kLabel; }
    void LoadFromStream(TStream& stream) override;
    void SaveToStream(TStream& stream) override;
    std::vector<std::string> Text;
};

class TGIFApplicationExtension : public TGIFExtension {
public:
    static constexpr uint8_t kLabel = 0xFF;
    using TGIFExtension::TGIFExtension;
    uint8_t GetExtensionType() const override { return kLabel; }
    void LoadFromStream(TStream& stream) override;
    void SaveToStream(TStream& stream) override;
    // Application name (8 bytes) and authentication code (3 bytes).
    std::string Identifier() const { return std::string(reinterpret_cast<const char*>(identifier_), 11); }
    void SetIdentifier(const std::string& identifier);

protected:
    virtual void LoadData(TStream& stream) = 0;
    virtual void SaveData(TStream& stream) = 0;
    uint8_t identifier_[11] = {};
};

// An application block of an identifier no class knows, kept byte for byte.
class TGIFUnknownAppExtension : public TGIFApplicationExtension {
public:
    using TGIFApplicationExtension::TGIFApplicationExtension;
    std::vector<std::vector<uint8_t>> Blocks;

protected:
    void LoadData(TStream& stream) override;
    void SaveData(TStream& stream) override;
};

// The loop extension ("NETSCAPE2.0", also read as "ANIMEXTS1.0").
class TGIFAppExtNSLoop : public TGIFApplicationExtension {
public:
    explicit TGIFAppExtNSLoop(TGIFSubImage* frame);
    int Loops = 0; // 0 = for ever
    uint32_t BufferSize = 0;

protected:
    void LoadData(TStream& stream) override;
    void SaveData(TStream& stream) override;
};

// An owning list of items of one image.
template <class T>
class TGIFList {
public:
    explicit TGIFList(TGIFImage* image) : image_(image) {}
    virtual ~TGIFList() { Clear(); }
    TGIFList(const TGIFList&) = delete;
    TGIFList& operator=(const TGIFList&) = delete;

    int Count() const { return static_cast<int>(items_.size()); }
    T* Items(int index) const { return items_.at(static_cast<size_t>(index)).get(); }
    T* operator[](int index) const { return Items(index); }
    int Add(std::unique_ptr<T> item) {
        items_.push_back(std::move(item));
        return Count() - 1;
    }
    void Insert(int index, std::unique_ptr<T> item) { items_.insert(items_.begin() + index, std::move(item)); }
    int IndexOf(const T* item) const {
        for (int i = 0; i < Count(); ++i)
            if (items_[static_cast<size_t>(i)].get() == item) return i;
        return -1;
    }
    // Takes the item out of the list without freeing it.
    std::unique_ptr<T> Remove(T* item) {
        int i = IndexOf(item);
        if (i < 0) return nullptr;
        std::unique_ptr<T> taken = std::move(items_[static_cast<size_t>(i)]);
        items_.erase(items_.begin() + i);
        return taken;
    }
    void Delete(int index) {
        std::unique_ptr<T> taken = std::move(items_.at(static_cast<size_t>(index)));
        items_.erase(items_.begin() + index);
    }
    void Clear() {
        // Items may look at the list while they are freed, so it is emptied first.
        std::vector<std::unique_ptr<T>> old;
        old.swap(items_);
        while (!old.empty()) old.pop_back();
    }
    void SaveToStream(TStream& stream) const {
        for (auto& item : items_) item->SaveToStream(stream);
    }
    TGIFImage* Image() const { return image_; }

protected:
    std::vector<std::unique_ptr<T>> items_;
    TGIFImage* image_;
};

class TGIFExtensionList : public TGIFList<TGIFExtension> {
public:
    explicit TGIFExtensionList(TGIFSubImage* frame);
    // Reads the extensions in front of an image (up to "," or ";").
    void LoadFromStream(TStream& stream, TGIFSubImage* frame);
};

// One frame: its place on the logical screen, colour map, pixel indices and extensions.
class TGIFSubImage : public TGIFItem {
public:
    explicit TGIFSubImage(TGIFImage* image);
    ~TGIFSubImage() override;
    TGIFVersion GetVersion() const override;
    void LoadFromStream(TStream& stream) override;
    void SaveToStream(TStream& stream) override;
    void Clear();

    bool Empty() const { return (data_.empty() && stored_.empty()) || Width() == 0 || Height() == 0; }
    int Left() const { return left_; }
    int Top() const { return top_; }
    int Width() const { return width_; }
    int Height() const { return height_; }
    void SetLeft(int v) { SetBounds(v, top_, width_, height_); }
    void SetTop(int v) { SetBounds(left_, v, width_, height_); }
    void SetWidth(int v) { SetBounds(left_, top_, v, height_); }
    void SetHeight(int v) { SetBounds(left_, top_, width_, v); }
    void SetBounds(int left, int top, int width, int height);
    TRect BoundsRect() const { return TRect{left_, top_, left_ + width_, top_ + height_}; }
    // Whether reading passed over the frame's data because its minimum code size is beyond the
    // decoder's tables.
    bool PassedOver() const { return passedOver_; }
    // True when the frame's data ended before it gave every pixel (the rest keeps the fill value), or
    // the file ended inside it.
    bool CutShort() const { return cutShort_; }
    bool Interlaced() const { return packed_ & 0x40; }
    void SetInterlaced(bool value) { packed_ = static_cast<uint8_t>(value ? packed_ | 0x40 : packed_ & ~0x40); }
    uint8_t Packed() const { return packed_; }

    uint8_t Pixels(int x, int y) const;
    uint8_t* Scanline(int y);
    // The pixels, decoded again from the file's data when they were released. Through the writable
    // access the frame keeps them from then on, as they may be changed.
    uint8_t* Data();
    const uint8_t* Data() const;
    int64_t DataSize() const;
    // Tells the frame that its pixels were changed from outside.
    void PixelsChanged();
    // Frees the decoded pixels of a frame read from a file, and what was rendered from them, until they
    // are wanted again: an animation then holds the frame it shows, not all of them at once.
    void ReleasePixels();

    TGIFLocalColorMap& ColorMap() { return colorMap_; }
    // The local map when it has entries, else the global one when it has, else the empty local one.
    TGIFColorMap& ActiveColorMap();
    TGIFExtensionList& Extensions() { return extensions_; }
    bool Transparent() const { return transparent_; }
    TGIFGraphicControlExtension* GraphicControlExtension() const { return gce_; }
    // The transparent index of the frame's graphic control extension, or -1 when opaque.
    int TransparentIndex() const;
    // Delay in 1/100 s from the graphic control extension (0 without one).
    int Delay() const;

    HPALETTE GetPalette();
    void SetPalette(HPALETTE palette);
    // The frame as an 8-bit bitmap with its palette, rendered on first use and cached.
    TBitmap& Bitmap();
    bool HasBitmap() const { return bitmap_ != nullptr; }
    // The transparency mask (a set bit marks a transparent pixel), or none.
    const TBitmap* Mask();
    void AssignTo(TBitmap& dest);
    void Draw(TCanvas& canvas, const TRect& rect, bool doTransparent, bool doTile);
    void Assign(const TGIFSubImage& source);
    // Converts a picture into this frame (colour reduction by the image's settings for true colour).
    void Assign(TGraphic* source);

    // Called by the graphic control extension as it is read, created and freed.
    void GraphicControlAttached(TGIFGraphicControlExtension* gce);
    void GraphicControlDetached(TGIFGraphicControlExtension* gce);
    void SetTransparentFlag(bool value) { transparent_ = value; }
    void FreeBitmap();
    void FreeMask();

private:
    friend class TGIFImage;
    void AllocateData();
    void DecodeStored() const;
    void Render();
    void ImportBitmap(TBitmap& bitmap);
    void ApplyMask(const std::vector<uint8_t>& maskBits);

    std::unique_ptr<TBitmap> bitmap_;
    std::unique_ptr<TBitmap> mask_;
    bool needMask_ = true;
    HPALETTE palette_;
    mutable std::vector<uint8_t> data_; // empty while released
    // The frame's data as the file holds it (minimum code size, sub-blocks), while the pixels are those
    // it decodes to, and the value the pixels it does not reach keep.
    std::vector<uint8_t> stored_;
    uint8_t storedFill_ = 0;
    TGIFLocalColorMap colorMap_;
    uint8_t separator_ = 0x2C;
    uint16_t left_ = 0, top_ = 0, width_ = 0, height_ = 0;
    uint8_t packed_ = 0;
    TGIFExtensionList extensions_;
    bool transparent_ = false;
    bool passedOver_ = false;
    bool cutShort_ = false;
    TGIFGraphicControlExtension* gce_ = nullptr;
};

class TGIFImageList : public TGIFList<TGIFSubImage> {
public:
    using TGIFList<TGIFSubImage>::TGIFList;
    // Reads frames until the trailer (or a block it cannot read). Frames whose data cannot be decoded
    // are left out, their blocks other than the graphic control block going to the next frame. The
    // file is refused when that leaves no frame with pixels, and when the first frame with pixels has
    // too little data to fill it.
    void LoadFromStream(TStream& stream, TGIFImage* image);
};

class TGIFTrailer : public TGIFItem {
public:
    using TGIFItem::TGIFItem;
    void LoadFromStream(TStream& stream) override;
    void SaveToStream(TStream& stream) override;
};

// ---- the picture class ----

class TGIFImage : public TGraphic {
public:
    TGIFImage();
    ~TGIFImage() override;
    TGIFImage(const TGIFImage&) = delete;
    TGIFImage& operator=(const TGIFImage&) = delete;

    void LoadFromStream(TStream& stream) override;
    void SaveToStream(TStream& stream) override;
    // Saves, first optimising when the unit's optimise-before-saving switch is on.
    void WriteData(TStream& stream);
    int Width() const override { return header_.Width(); }
    int Height() const override { return header_.Height(); }
    bool Empty() const override { return images_.Count() == 0; }
    void SetWidth(int width);
    void SetHeight(int height);
    // The first frame on a canvas of the logical screen's size.
    void AssignTo(TBitmap& dest) override;
    // The still bitmap over the colour: the first frame's transparent pixels and the logical screen
    // around the frame show it.
    void AssignOver(TBitmap& dest, TColor background) override;
    void Draw(TCanvas& canvas, const TRect& rect) override;
    bool Equals(const TGraphic* graphic) const { return graphic == this; }
    HPALETTE GetPalette();
    void SetPalette(HPALETTE palette);

    void Assign(TGraphic* source);
    int Add(TGraphic* source);
    int Add(std::unique_ptr<TGIFSubImage> frame);
    void Clear();
    // The still bitmap (cached until the image changes), or none for an empty image.
    TBitmap* Bitmap();
    void Optimize(uint8_t options, uint8_t colorReduction, uint8_t ditherMode, int reductionBits);

    // Clipboard: the GIF format carries a whole GIF file, the bitmap format (CF_BITMAP) BMP bytes.
    // Without data the clipboard's own content of that format is read.
    void LoadFromClipboardFormat(uint16_t format, const std::vector<uint8_t>* data);
    // Gives the still bitmap as CF_BITMAP and BMP bytes, and places the whole GIF on the clipboard.
    void SaveToClipboardFormat(uint16_t& format, std::vector<uint8_t>& data);

    virtual void Warning(const void* sender, int severity, const std::string& message);

    TGIFImageList& Images() { return images_; }
    const TGIFImageList& Images() const { return images_; }
    TGIFHeader& Header() { return header_; }
    TGIFDrawOptions DrawOptions = GIFDefaultDrawOptions;
    uint8_t ColorReduction = rmNetscape;
    int ReductionBits = 8;
    uint8_t DitherMode = dmNearest;
    uint8_t Compression = gcLZW;
    TThreadPriority ThreadPriority = TThreadPriority::tpNormal;
    TColor BackgroundColor = clNone;
    TGIFWarningEvent OnWarning;
    TGIFPainterEvent OnPaintStart, OnFramePaint, OnFramePainted, OnLoopRestart, OnPaintEnd;
    int AnimationSpeed() const { return animationSpeed_; }
    void SetAnimationSpeed(int speed);
    TGIFPainter* Painter() const { return painter_; }

    // Whether the web palette renders the frames (the options and the display decide).
    bool DoDither() const;
    // The background colour the painter restores to.
    TColor ResolvedBackgroundColor();
    void Changed();
    void PaletteModified() { paletteModified_ = true; }
    bool IsPaletteModified() const { return paletteModified_; }
    void DoProgress(TProgressStage stage, uint8_t percent, const std::string& message) {
        Progress(stage, percent, message);
    }
    // Counts decoded frame pixels against the image's share of the pixel budget.
    void ChargePixels(int64_t pixels);
    // Tells the current painter to stop and frees the still bitmap.
    void FreeBitmap();

    // Painter bookkeeping (the painter list and its lock).
    std::recursive_mutex& PaintersLock() { return paintersMutex_; }
    std::vector<TGIFPainter*>& Painters() { return painters_; }
    TGIFPainter*& PainterRef() { return painter_; }

    // Stops every painter of the image and waits until the threaded ones have ended.
    void StopAllPainters();

private:
    // AssignOver for a first frame the still bitmap shows at its place.
    void LayFirstFrame(TBitmap& dest, TColor background);
    void StopPainter();
    void CopyFrom(TGIFImage& source);
    void PaintBackBuffer(TCanvas& canvas, const TRect& rect);

    bool drawing_ = false;
    bool paletteBusy_ = false;
    bool paletteModified_ = false;
    TGIFImageList images_;
    TGIFHeader header_;
    HPALETTE globalPalette_;
    HPALETTE stillPalette_;
    std::recursive_mutex paintersMutex_;
    std::vector<TGIFPainter*> painters_;
    std::unique_ptr<TBitmap> bitmap_;
    TGIFPainter* painter_ = nullptr;
    int animationSpeed_ = 100;
    int64_t chargedPixels_ = 0;
};

// ---- the animation painter ----

// How long the painter shows a frame of the given delay (1/100 s, 0 when none is given), in its units
// of 12 ms: a frame without a delay for 10, and none for fewer than 3.
int PlayedDelay(int delay);

// Plays an image on a canvas: frames in turn with their delays, disposal methods, the loop count
// and the animation speed. Threaded, it paints through synchronised calls on the main thread;
// otherwise it runs inside the image's Draw.
class TGIFPainter : public TThread {
public:
    TGIFPainter(TGIFPainter** painterRef, TGIFDrawOptions options, const TRect& rect, TCanvas& canvas,
                TGIFImage* image);
    ~TGIFPainter() override;

    // Ends the play: terminates, and wakes a threaded painter from its wait.
    void Stop();
    // Runs a threaded painter; plays an inline one to its end (and frees it).
    void Run();
    void SetAnimationSpeed(int speed);
    int AnimationSpeed() const { return animationSpeed_; }
    int ActiveImage() const { return activeImage_; }
    void SetActiveImage(int index) { activeImage_ = index; }
    bool Started() const { return started_; }
    bool Threaded() const { return options_ & drThreaded; }
    TGIFDrawOptions DrawOptions() const { return options_; }
    TCanvas& Canvas() const { return canvas_; }
    const TRect& Rect() const { return rect_; }
    TGIFImage* Image() const { return image_; }
    void DetachImage() { image_ = nullptr; }
    TGIFPainterEvent OnPaintStart, OnFramePaint, OnFramePainted, OnLoopRestart, OnPaintEnd;

protected:
    void Execute() override;

private:
    void DoEvent(const TGIFPainterEvent& event);
    void PaintFrame();
    void PlainPaint();
    void ComposingPaint();
    void RestoreToBackground(TBitmap& target, TGIFSubImage& frame);
    // Waits ms on the event (threaded; ms < 0 for ever); true when woken before the time was up.
    bool WaitEvent(int64_t ms);
    void WaitInline(int64_t ms);
    void Cleanup();

    TGIFPainter** painterRef_;
    TGIFImage* image_;
    TCanvas& canvas_;
    TRect rect_;
    TGIFDrawOptions options_;
    std::atomic<int> animationSpeed_;
    std::atomic<int> activeImage_{-1};
    uint8_t disposal_ = 1, previousDisposal_ = 1;
    TColor backgroundColor_ = clWhite;
    TPoint canvasSize_; // the target's size when the play began, for drCheckCanvas
    std::unique_ptr<TBitmap> buffer_, previousBuffer_, background_;
    bool hasEvent_ = false;
    std::mutex eventMutex_;
    std::condition_variable eventCond_;
    bool signalled_ = false;
    std::atomic<bool> restart_{false};
    std::atomic<bool> started_{false};
    bool cleanedUp_ = false;
    bool running_ = false;
};

// Registers "gif" with the GIF image class (after the simple loader, so this class wins the extension)
// and the "GIF Image" clipboard format.
void RegisterGifImageFormat();

} // namespace lumora
