#pragma once
// Decompressors of the simple picture loaders: TIFF and GIF LZW, PackBits, PCX and Targa run length,
// and the Targa run-length encoder. Every decoder is bounded by its input and its output.

#include <cstdint>

namespace lumora {

class TDecoder {
public:
    virtual ~TDecoder() = default;
    // Decodes up to packedSize bytes from source into at most unpackedSize bytes of dest; source is
    // advanced past the bytes used. Returns the number of bytes decoded; the bytes after them are
    // unspecified (a decoder may copy in whole pieces), so callers clear them when data runs short.
    virtual int64_t Decode(const uint8_t*& source, uint8_t* dest, int64_t packedSize, int64_t unpackedSize) = 0;
    // The most bytes packedSize bytes can decode to: loaders refuse a picture larger than that
    // before taking its memory.
    virtual int64_t MaxUnpackedSize(int64_t packedSize) const = 0;
    // None of the loaders encodes; the slot is kept so the decoder family stays one interface.
    virtual void Encode() {}
};

// The LZW decoders copy whole strings from earlier output: each table entry is the place and length
// of a string already written, so a code costs one copy instead of a walk down a prefix chain.

// TIFF flavour: codes most significant bit first, code size grows one code early.
class TTIFFLZW : public TDecoder {
public:
    // Throws EInvalidGraphic("TIF LZW: invalid opcode.") on a code the table does not hold yet.
    int64_t Decode(const uint8_t*& source, uint8_t* dest, int64_t packedSize, int64_t unpackedSize) override;
    int64_t MaxUnpackedSize(int64_t packedSize) const override;
};

// GIF flavour: codes least significant bit first, initial code size from the file (1..11).
class TGIFLZW : public TDecoder {
public:
    uint8_t InitialCodeSize = 8;
    // Throws EInvalidGraphic("GIF LZW: invalid opcode.").
    int64_t Decode(const uint8_t*& source, uint8_t* dest, int64_t packedSize, int64_t unpackedSize) override;
    int64_t MaxUnpackedSize(int64_t packedSize) const override;
};

class TPackbitsRLE : public TDecoder {
public:
    int64_t Decode(const uint8_t*& source, uint8_t* dest, int64_t packedSize, int64_t unpackedSize) override;
    int64_t MaxUnpackedSize(int64_t packedSize) const override;
};

class TPCXRLE : public TDecoder {
public:
    int64_t Decode(const uint8_t*& source, uint8_t* dest, int64_t packedSize, int64_t unpackedSize) override;
    int64_t MaxUnpackedSize(int64_t packedSize) const override;
};

// Decodes run-length Targa pixels into count output bytes, reading at most sourceSize bytes.
// Returns the number of source bytes used; written, when given, gets the number of output bytes
// filled. Output not reached is left as it was.
int64_t TargaRleDecode(const uint8_t* source, int64_t sourceSize, uint8_t* dest, int64_t count, int bitsPerPixel,
                       int64_t* written = nullptr);
// Encodes pixelCount pixels of bytesPerPixel bytes; dest must hold pixelCount x (bytesPerPixel + 1)
// bytes in the worst case. Returns the number of bytes written.
int64_t TargaRleEncode(const uint8_t* source, uint8_t* dest, int64_t pixelCount, int bytesPerPixel);

// Targa pixels compared as big-endian integers of 1 to 4 bytes.
uint32_t ReadPackedPixel(const uint8_t* p, int bytesPerPixel);
// Pixels from p that differ from their successor (all but the last when none repeat), at most 128.
int CountLiteralPixels(const uint8_t* p, int64_t remaining, int bytesPerPixel);
// Length of the run of equal pixels starting at p, at most 128.
int CountRepeatedPixels(const uint8_t* p, int64_t remaining, int bytesPerPixel);

} // namespace lumora
