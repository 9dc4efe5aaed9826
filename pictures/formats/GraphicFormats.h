#pragma once
// TIFF, Targa, PCX and simple GIF picture classes: each is a bitmap that decodes its file straight
// into its own rows. Only Targa is also written.

#include <cstdint>
#include <string>
#include <vector>

#include "framework/Graphics.h"

namespace lumora {

// A bitmap whose file gave each pixel an opacity: the opacities are kept beside the colour rows
// (whose byte 3 stays zero, as every bitmap's), and the picture shows over a colour blended by them.
class TAlphaBitmap : public TBitmap {
public:
    void AssignOver(TBitmap& dest, TColor background) override;
    bool HasAlpha() const { return !clearness_.Empty(); }

protected:
    // Moves byte 3 of each 32-bit pixel, its opacity, out of the rows; premultiplied: the colours
    // were multiplied by it.
    void TakeAlphaFromPixels(bool premultiplied);
    void DropAlpha() { clearness_.Assign(static_cast<TGraphic*>(nullptr)); }

private:
    TBitmap clearness_; // 255 minus each pixel's opacity
    bool premultiplied_ = false;
};

class TTIFFGraphic : public TAlphaBitmap {
public:
    TTIFFGraphic();
    // Throws EInvalidGraphic("Invalid TIFF file.") or ("TIFF: Unknown compression scheme"), the LZW
    // decoder's error, or the stream's read error when the file is cut short.
    void LoadFromStream(TStream& stream) override;
    void SaveToStream(TStream& stream) override {}

    struct TDirectoryEntry {
        uint16_t Tag = 0;
        uint16_t Type = 0;
        uint32_t Count = 0;
        uint8_t Value[4] = {}; // the value-or-offset field as stored in the file
    };

private:
    std::vector<uint32_t> TagList(uint16_t tag);
    uint32_t TagValue(uint16_t tag, uint32_t fallback);
    std::vector<float> TagRationals(uint16_t tag);
    const TDirectoryEntry* FindTag(uint16_t tag) const;

    TStream* stream_ = nullptr;
    int64_t base_ = 0;
    int64_t size_ = 0; // bytes from base to the stream's end
    bool bigEndian_ = false;
    std::vector<TDirectoryEntry> entries_;
};

class TTargaGraphic : public TAlphaBitmap {
public:
    // Throws EInvalidGraphic("Targa: invalid image") on a pixel size it cannot show or data cut short,
    // and EInvalidGraphic("Targa: ... not supported") on a kind of file it does not read.
    void LoadFromStream(TStream& stream) override;
    // Always the run-length form.
    void SaveToStream(TStream& stream) override { SaveToStreamCompressed(stream, true); }
    // Writes top-down rows; 1- and 4-bit bitmaps are turned into 8 bits after the user agrees.
    void SaveToStreamCompressed(TStream& stream, bool compressed);
    std::string ImageID;
};

class TPCXGraphic : public TBitmap {
public:
    // Throws EInvalidGraphic("Not a PCX or SCR file.") or ("PCX: wrong pixel format").
    void LoadFromStream(TStream& stream) override;
    void SaveToStream(TStream& stream) override {}
};

// Reads the first image of a GIF file; saving is the bitmap's own (BMP).
class TGIFGraphic : public TBitmap {
public:
    // Throws EInvalidGraphic("Not a valid GIF file.") or the LZW decoder's error.
    void LoadFromStream(TStream& stream) override;
};

// Registers "tiff", "tif", "tga", "pcx" and "gif" with the picture classes above.
void RegisterGraphicFormats();

} // namespace lumora
