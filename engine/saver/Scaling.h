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

// The smooth shrink of FitBitmap made while the picture's rows arrive from the top, as a decoder
// makes them: a worker thread averages each destination row as soon as its source rows are there,
// and only the rows still to be averaged are kept, so a large photograph is never held whole. The
// pixels are FitBitmap's.
class TRowFit {
public:
    // Null when fitting a width x height picture into W x H is not a shrink made this way; the
    // caller then keeps the whole picture and calls FitBitmap. A picture stored in another
    // orientation (OrientUpright's) is fitted as it stands upright: its rows still come as stored,
    // and the worker writes the fit of the upright picture, so the picture is never turned at full
    // size.
    static std::unique_ptr<TRowFit> Plan(int width, int height, int W, int H, int orientation = 1);
    ~TRowFit();
    // Where source row y is to be written (width pf32bit pixels, whose spare byte is never read);
    // waits while the worker still needs the row that was there. Rows come in order from 0, each
    // asked for after the one before it is done, all from one thread.
    uint32_t* SourceRow(int y);
    // Source row y holds its pixels: the destination rows it completes are made.
    void RowDone(int y);
    // The fitted picture, once every source row is done (rows never completed stay black).
    std::unique_ptr<TBitmap> Result();

    // A test's hold on the hand-over between the threads; null in the program. Called by the
    // worker before it averages destination row `row`, and by the decoding thread, under the fit's
    // lock, each time the slot it asks for still holds source row `row`.
    enum class TStep { Averaging, WaitingForRow };
    static inline void (*TestProbe)(TStep step, int row) = nullptr;

private:
    TRowFit();
    struct TState;
    std::unique_ptr<TState> s_;
};

} // namespace lumora
