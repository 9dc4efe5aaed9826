#pragma once
// Resizing of 32-bit bitmaps: area average when shrinking, bilinear when enlarging, plain
// stretching when smoothing is off, and fitting into a box with the aspect ratio kept.

#include <memory>

#include "framework/Graphics.h"

namespace lumora {

// Dst becomes Trunc(Src width x Ratio) by Trunc(Src height x Ratio), pf32bit, filled by resampling.
void ShrinkBitmap(const TBitmap& Src, TBitmap& Dst, double Ratio);
// Bmp is replaced by a W x H picture. Smooth resampling keeps the aspect ratio: one side is exactly
// as asked and the other equal or larger (the ratio is the larger of the two).
void ResizeBitmap(int W, int H, bool Smooth, std::unique_ptr<TBitmap>& Bmp);
// Bmp is resized to the largest size that fits W x H with its aspect ratio kept; nothing happens for
// an empty bitmap or an empty (or negative) box.
void FitBitmap(int W, int H, bool Smooth, std::unique_ptr<TBitmap>& Bmp);

} // namespace lumora
