#pragma once
// Pixel routines of the distortion and recolouring transitions, each on a row table with its width.
// Pictures are read through their own rows; every source position is checked before it is read.

#include <array>
#include <cstdint>
#include <vector>

#include "engine/Common.h"
#include "framework/Graphics.h"

namespace lumora {

// cos(2 pi i / 256); sin(i) is read as WaveCos(i + 192).
double WaveCos(int i);
// m(k) = 16 - |16 - k|: the size rule of the mosaic and split.
inline int MosaicSize(int k) { return 16 - (k > 16 ? k - 16 : 16 - k); }

// The picture written at (dx, dy) of dst through the light table of code (21, 70, 71, 46-48) at
// level v, on the pixels of one 2 x 2 phase of dst; the phase's pixels outside the picture get bg.
// The tables are computed by arithmetic, four pixels at a time.
void LightPictureFast(TPLines& dst, int dstW, TBitmap& pic, int dx, int dy, int code, int v, uint32_t bg, int phase);
// Rows of the picture (standing at dx, dy) moved sideways by random amounts up to jitter, wrapping
// at the right edge; channel -1 moves whole pixels, 0..2 only that byte (the rest stays).
void NoiseRows(TPLines& dst, int dstW, TBitmap& pic, int dx, int dy, int jitter, uint32_t bg, int channel);
// ComposeOnBackground(dst, dstW, pic, composeBg, dy, dx), then NoiseRows, in one pass.
void ComposeAndNoiseRows(TPLines& dst, int dstW, TBitmap& pic, int dx, int dy, int jitter, TColor composeBg,
                         uint32_t bg, int channel);
// Cells of side cell, each filled with its middle pixel.
void Mosaic(TPLines& dst, int dstW, int cell);
// The same as composing the picture at (dx, dy) on the background and then Mosaic, without the
// composing pass (every pixel of the destination belongs to a cell).
void MosaicFrom(TPLines& dst, int dstW, TBitmap& pic, int dx, int dy, uint32_t bg, int cell);
// Each pixel := the average of the four pixels s away diagonally (clamped), in place.
void SplitBlur(TPLines& dst, int dstW, int s);
// ComposeOnBackground(dst, dstW, pic, bg, dy, dx), then SplitBlur(dst, dstW, s), without the
// composing pass.
void ComposeAndSplitBlur(TPLines& dst, int dstW, TBitmap& pic, TColor bg, int dy, int dx, int s);
// Red from s to the right, green from s to the left, blue from s above, in the picture's frame.
void SplitRGB(TPLines& dst, int dstW, TBitmap& pic, int dx, int dy, int s, uint32_t bg);

void RotatePicture(TPLines& dst, int dstW, TBitmap& pic, int angle, uint32_t bg);
// Each pixel from a random place up to radius - 1 away on each axis (clamped to the picture).
void Spray(TPLines& dst, int dstW, TBitmap& pic, int radius);
// Whether the routines may use AVX2 where the CPU has it; both paths draw the same frames, and
// tests compare them.
void AllowAvx2(bool allow);
void ColorNoise(TPLines& dst, int dstW, TBitmap& pic, int n);
void WhiteNoise(TPLines& dst, int dstW, TBitmap& pic, int n);
// What the fisheye and the twist keep for one transition: each 2 x 2 block's distance to the
// centre, rebuilt when the sizes or the centre change.
struct TWarpCache {
    int Rows = -1, Cols = -1;
    float Cx = -1, Cy = -1;
    std::vector<float> Radius;
};
// A lens of radius max(dst W, dst H) x p at the picture's centre; pull 1 is the full lens, 0 none
// (every source position moves that share of the way back to where it stands).
void Fisheye(TPLines& dst, int dstW, TBitmap& pic, double p, double pull, TWarpCache* cache = nullptr);
// Each block's source turned about the centre by twist radians per pixel of distance: a positive
// twist takes each source from counter-clockwise of its block on the screen, so the picture turns
// clockwise, the more the farther out.
void Twist(TPLines& dst, int dstW, TBitmap& pic, double twist, TWarpCache* cache = nullptr);
// The twist of frame k of n: 1 / (k^3 + 32) radians per pixel, less the last frame's, so that the
// last frame shows the picture untwisted.
inline double TwistAt(int k, int n) {
    return 1.0 / (double(k) * k * k + 32) - 1.0 / (double(n) * n * n + 32);
}
// kind 0 both axes, 1 rows (vertical displacement), 2 columns (horizontal displacement).
void Wave(TPLines& dst, int dstW, TBitmap& pic, const std::array<int, 256>& amp, double f, int kind);

void Emboss(TBitmap& pic);
// mode 1: blue := red, green := 0, red := blue; 2: blue := 0, green := red, red := blue;
// 3: blue := green, green := blue, red := 0.
void ColorSwap(TBitmap& pic, int mode);
// Channels below the threshold stay, the others become 255 - c.
void InvertPicture(TBitmap& pic, int threshold);

// Folds the old picture towards the cell's centre line (f 0..63) and unfolds the new one (65..127);
// above 128 the cell shows the new picture and is finished (true).
bool TurnCell(TPLines& dst, int dstW, const TRect& cell, int f, TBitmap& oldPic, int ox, int oy, TBitmap& newPic,
              int nx, int ny, uint32_t bg);

} // namespace lumora
