#pragma once
// Compositing routines of the cross-fading transitions. A destination is a row table with its width
// (the work bitmap, or the form's rows behind the update rectangle); the pictures are read through
// their own rows. Every routine clips to its source and destination, whatever the offsets.

#include <array>
#include <cstdint>

#include "engine/Common.h"
#include "framework/Graphics.h"

namespace lumora {

// Where the old and the new picture stand in the destination.
struct TComposeGeometry {
    int OldX = 0, OldY = 0, NewX = 0, NewY = 0;
};

// Weight per level: 0 linear (weight = level), 1 peak (rising to 384 at 128 and back to 256 at
// 256), 2 delayed (each region blends over 256 levels from its own delay; level 0..512).
enum TBlendKind { bkLinear = 0, bkPeak = 1, bkDelayed = 2 };

// Blends the old picture into the new one, both into and out of the background colour where they
// do not overlap. One pixel of every 2 x 2 square is written per call, chosen by framesDrawn mod 4.
void CompositeBlend(TPLines& dst, int dstW, TBitmap& oldPic, TBitmap& newPic, const TComposeGeometry& g,
                    int framesDrawn, TColor bg, int level, int mode);
inline void BlendMode0(TPLines& d, int w, TBitmap& o, TBitmap& n, const TComposeGeometry& g, int f, TColor bg,
                       int level) {
    CompositeBlend(d, w, o, n, g, f, bg, level, bkLinear);
}
inline void BlendMode1(TPLines& d, int w, TBitmap& o, TBitmap& n, const TComposeGeometry& g, int f, TColor bg,
                       int level) {
    CompositeBlend(d, w, o, n, g, f, bg, level, bkPeak);
}
inline void BlendMode2(TPLines& d, int w, TBitmap& o, TBitmap& n, const TComposeGeometry& g, int f, TColor bg,
                       int level) {
    CompositeBlend(d, w, o, n, g, f, bg, level, bkDelayed);
}
// A picture read as ShiftLines(Pic, S) called Times times would leave it, without moving its rows.
struct TShiftedPicture {
    TBitmap& Pic;
    int S = 0, Times = 0;
};
// CompositeBlend with the old picture read as shifted.
void ShiftedBlend(TPLines& dst, int dstW, const TShiftedPicture& oldPic, TBitmap& newPic, const TComposeGeometry& g,
                  int framesDrawn, TColor bg, int level, int mode);
// As CompositeBlend in mode 0 (ColorThrough) or 2 (ColorThroughBlock), except that a pixel where
// both pictures overlap stays old while any of its channels reaches the threshold, and is new after.
void ColorThrough(TPLines& dst, int dstW, TBitmap& oldPic, TBitmap& newPic, const TComposeGeometry& g,
                  int framesDrawn, TColor bg, int level);
void ColorThroughBlock(TPLines& dst, int dstW, TBitmap& oldPic, TBitmap& newPic, const TComposeGeometry& g,
                       int framesDrawn, TColor bg, int level);
// Blends one channel (0 blue, 1 red, 2 green) linearly; the other two fade to black over the first
// half of the levels and up to the new values over the second half.
void CompositeBlendRGB(TPLines& dst, int dstW, TBitmap& oldPic, TBitmap& newPic, const TComposeGeometry& g,
                       int framesDrawn, TColor bg, int level, int channelMode);
// The fade-out and fade-in tables of the channel blend at a level (index d + 255).
struct TChannelBlendTables {
    std::array<int16_t, kBlendTableSize> FadeIn{}, FadeOut{};
};
TChannelBlendTables ChannelBlendTables(int level);

// Every destination row := the background; the source is copied in at (dx, dy).
void ComposeOnBackground(TPLines& dst, int dstW, TBitmap& src, TColor bg, int dy, int dx);
// Lets the picture drip downwards by up to amount - 1 rows (random per pixel).
void MeltLines(TBitmap& pic, int amount);
// P[i] = the nearest multiple of v to i (ties to even), in 8 bits.
std::array<uint8_t, 256> MakePosterTable(int v);
// Applies the table to the pixels of the phase's 2 x 2 position.
void PosterizeLines(TBitmap& pic, const std::array<uint8_t, 256>& table, int phase);
// ComposeOnBackground with the picture read as shifted.
void ShiftedCompose(TPLines& dst, int dstW, const TShiftedPicture& pic, TColor bg, int dy, int dx);
// PosterizeLines(pic, table, phase), then ComposeOnBackground(dst, dstW, pic, bg, dy, dx), in one pass.
void PosterizeAndCompose(TPLines& dst, int dstW, TBitmap& pic, const std::array<uint8_t, 256>& table, int phase,
                         TColor bg, int dy, int dx);
// Odd rows move s pixels to the left, even rows s pixels to the right; rows not wider than s stay.
void ShiftLines(TBitmap& pic, int s);

} // namespace lumora
