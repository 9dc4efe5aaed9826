#include "engine/saver/Scaling.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <condition_variable>
#include <cstring>
#include <limits>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#include "framework/Checked.h"
#include "framework/Forms.h"

namespace lumora {

namespace {

// The scale factor, either as the caller's floating-point ratio or, when the target size is known
// exactly, as the fraction num / den, so that source positions come out exact.
struct TRatio {
    double value = 1.0;
    int64_t num = 0, den = 0; // den > 0: exact fraction
    bool Exact() const { return den > 0; }
    bool Shrinks() const { return Exact() ? num < den : value < 1.0; }
};

// Long resizes on the main thread keep the window responsive.
void KeepResponsive(int row) {
    if (row % 100 == 0 && IsMainThread()) Application().ProcessMessages();
}

// Inclusive source span of each destination index for the area average:
// from Ceil(i / ratio) to Trunc((i + 1) / ratio), capped at the last source index.
void AreaSpans(const TRatio& r, int dstCount, int srcCount, std::vector<int>& first, std::vector<int>& last) {
    first.resize(dstCount);
    last.resize(dstCount);
    for (int i = 0; i < dstCount; ++i) {
        int64_t a, b;
        if (r.Exact()) {
            a = (int64_t(i) * r.den + r.num - 1) / r.num;
            b = (int64_t(i + 1) * r.den) / r.num;
        } else {
            a = static_cast<int64_t>(std::ceil(i / r.value));
            b = static_cast<int64_t>(std::trunc((i + 1) / r.value));
        }
        a = std::clamp<int64_t>(a, 0, srcCount - 1);
        b = std::clamp<int64_t>(b, a, srcCount - 1);
        first[i] = static_cast<int>(a);
        last[i] = static_cast<int>(b);
    }
}

// Source position of each destination index for the bilinear enlargement: the two neighbours and
// the weight of the second.
void BilinearTaps(const TRatio& r, int dstCount, int srcCount, std::vector<int>& p0, std::vector<int>& p1,
                  std::vector<double>& w) {
    p0.resize(dstCount);
    p1.resize(dstCount);
    w.resize(dstCount);
    for (int i = 0; i < dstCount; ++i) {
        int64_t whole;
        double frac;
        if (r.Exact()) {
            int64_t n = int64_t(i) * r.den;
            whole = n / r.num;
            frac = static_cast<double>(n % r.num) / static_cast<double>(r.num);
        } else {
            double f = i / r.value;
            whole = static_cast<int64_t>(std::trunc(f));
            frac = f - std::trunc(f);
        }
        whole = std::clamp<int64_t>(whole, 0, srcCount - 1);
        p0[i] = static_cast<int>(whole);
        p1[i] = whole + 1 >= srcCount ? static_cast<int>(whole) : static_cast<int>(whole + 1);
        w[i] = frac;
    }
}

// Blocks of at most 257 rows: the block's rows are first added column by column with blue and red
// in the two 16-bit halves of one word (a run the compiler vectorises), then running sums along
// the row give every block's total in three subtractions, without a branch per block.
constexpr int kMaxPackedRows = 257;

// Column sums of a run of rows, two rows per pass so each sum is stored once per pair.
__attribute__((target_clones("avx2", "default"))) void SumRows(const uint32_t* const* rows, int count, int width,
                                                                uint32_t* blueRed, uint32_t* green) {
    int k = 0;
    if (count % 2 == 1) {
        const uint32_t* s = rows[0];
        for (int x = 0; x < width; ++x) {
            blueRed[x] = s[x] & 0x00FF00FFu;
            green[x] = (s[x] >> 8) & 0xFFu;
        }
        k = 1;
    } else {
        const uint32_t* s0 = rows[0];
        const uint32_t* s1 = rows[1];
        for (int x = 0; x < width; ++x) {
            blueRed[x] = (s0[x] & 0x00FF00FFu) + (s1[x] & 0x00FF00FFu);
            green[x] = ((s0[x] >> 8) & 0xFFu) + ((s1[x] >> 8) & 0xFFu);
        }
        k = 2;
    }
    for (; k < count; k += 2) {
        const uint32_t* s0 = rows[k];
        const uint32_t* s1 = rows[k + 1];
        for (int x = 0; x < width; ++x) {
            blueRed[x] += (s0[x] & 0x00FF00FFu) + (s1[x] & 0x00FF00FFu);
            green[x] += ((s0[x] >> 8) & 0xFFu) + ((s1[x] >> 8) & 0xFFu);
        }
    }
}

// Division of a block's sum by its pixel count n as a multiplication: with m = 2^32 div n + 1,
// (s * m) >> 32 equals s div n for every sum s <= 255 n as long as n < 4104.
constexpr int64_t kMaxReciprocalCount = 4103;
std::vector<uint64_t> Reciprocals(int64_t maxCount) {
    std::vector<uint64_t> m(size_t(maxCount) + 1, 0);
    for (int64_t n = 1; n <= maxCount; ++n) m[size_t(n)] = (uint64_t(1) << 32) / uint64_t(n) + 1;
    return m;
}

// Makes destination rows of the packed area average, one at a time, from the source rows of
// each row's block.
class TPackedAverager {
public:
    TPackedAverager(int srcWidth, const std::vector<int>& x0, const std::vector<int>& x1,
                    const std::vector<uint64_t>& reciprocal)
        : sw_(srcWidth), x0_(x0), x1_(x1), reciprocal_(reciprocal), blueRed_(size_t(srcWidth)),
          green_(size_t(srcWidth)), pg_(size_t(srcWidth) + 1), pbr_(size_t(srcWidth) + 1) {}

    void Row(const uint32_t* const* rows, int count, uint32_t* __restrict d) {
        const int sw = sw_, dw = static_cast<int>(x0_.size());
        SumRows(rows, count, sw, blueRed_.data(), green_.data());
        {
            const uint32_t* __restrict vbr = blueRed_.data();
            const uint32_t* __restrict vg = green_.data();
            uint64_t* __restrict outBr = pbr_.data();
            uint32_t* __restrict outG = pg_.data();
            uint64_t br = 0;
            uint32_t g = 0;
            outBr[0] = 0;
            outG[0] = 0;
            for (int x = 0; x < sw; ++x) {
                const uint32_t v = vbr[x];
                br += (v & 0xFFFFu) | (uint64_t(v >> 16) << 32);
                g += vg[x];
                outBr[x + 1] = br;
                outG[x + 1] = g;
            }
        }
        const size_t rowsInBlock = size_t(count);
        const uint64_t* __restrict sumBr = pbr_.data();
        const uint32_t* __restrict sumG = pg_.data();
        const uint64_t* __restrict recip = reciprocal_.data();
        const int* __restrict first = x0_.data();
        const int* __restrict last = x1_.data();
        for (int x = 0; x < dw; ++x) {
            const int a = first[x], e = last[x] + 1;
            const uint64_t m = recip[size_t(e - a) * rowsInBlock];
            const uint64_t sbr = sumBr[e] - sumBr[a];
            uint32_t qb = static_cast<uint32_t>(((sbr & 0xFFFFFFFFu) * m) >> 32);
            uint32_t qr = static_cast<uint32_t>(((sbr >> 32) * m) >> 32);
            uint32_t qg = static_cast<uint32_t>((uint64_t(sumG[e] - sumG[a]) * m) >> 32);
            d[x] = qb | (qg << 8) | (qr << 16);
        }
    }

private:
    int sw_;
    const std::vector<int>& x0_;
    const std::vector<int>& x1_;
    const std::vector<uint64_t>& reciprocal_;
    std::vector<uint32_t> blueRed_, green_, pg_;
    // Running sums of blue and red in the two halves of one 64-bit word: both only grow, so the
    // difference of two of them never borrows across the halves.
    std::vector<uint64_t> pbr_;
};

void AreaAveragePackedRows(const TBitmap& src, TBitmap& dst, const std::vector<int>& x0, const std::vector<int>& x1,
                           const std::vector<int>& y0, const std::vector<int>& y1,
                           const std::vector<uint64_t>& reciprocal, int rowBegin, int rowEnd, bool responsive) {
    TPackedAverager averager(src.Width(), x0, x1, reciprocal);
    std::vector<const uint32_t*> rows;
    for (int y = rowBegin; y < rowEnd; ++y) {
        if (responsive) KeepResponsive(y);
        rows.clear();
        for (int sy = y0[y]; sy <= y1[y]; ++sy) rows.push_back(src.Row32(sy));
        averager.Row(rows.data(), static_cast<int>(rows.size()), dst.Row32(y));
    }
}

// Large pictures are split into bands of destination rows worked on side by side; the calling
// thread takes the first band and keeps the window responsive meanwhile.
void AreaAveragePacked(const TBitmap& src, TBitmap& dst, const std::vector<int>& x0, const std::vector<int>& x1,
                       const std::vector<int>& y0, const std::vector<int>& y1, int64_t maxCount) {
    const std::vector<uint64_t> reciprocal = Reciprocals(maxCount);
    const int dh = dst.Height();
    const int64_t work = int64_t(src.Width()) * src.Height();
    int bands = 1;
    if (work >= 4'000'000) bands = static_cast<int>(std::clamp<unsigned>(std::thread::hardware_concurrency(), 1, 4));
    bands = std::min(bands, dh);
    std::vector<std::thread> workers;
    auto bandStart = [&](int i) { return static_cast<int>(int64_t(dh) * i / bands); };
    for (int i = 1; i < bands; ++i)
        workers.emplace_back([&, i] {
            AreaAveragePackedRows(src, dst, x0, x1, y0, y1, reciprocal, bandStart(i), bandStart(i + 1), false);
        });
    AreaAveragePackedRows(src, dst, x0, x1, y0, y1, reciprocal, 0, bandStart(1), true);
    for (auto& w : workers) w.join();
}

// Any block size: 64-bit sums per channel.
void AreaAverageWide(const TBitmap& src, TBitmap& dst, const std::vector<int>& x0, const std::vector<int>& x1,
                     const std::vector<int>& y0, const std::vector<int>& y1) {
    const int dw = dst.Width(), dh = dst.Height();
    std::vector<uint64_t> sums(size_t(dw) * 3);
    for (int y = 0; y < dh; ++y) {
        KeepResponsive(y);
        std::fill(sums.begin(), sums.end(), 0);
        for (int sy = y0[y]; sy <= y1[y]; ++sy) {
            const uint32_t* s = src.Row32(sy);
            uint64_t* acc = sums.data();
            for (int x = 0; x < dw; ++x, acc += 3)
                for (int sx = x0[x], e = x1[x]; sx <= e; ++sx) {
                    uint32_t p = s[sx];
                    acc[0] += p & 0xFF;
                    acc[1] += (p >> 8) & 0xFF;
                    acc[2] += (p >> 16) & 0xFF;
                }
        }
        uint32_t* d = dst.Row32(y);
        const uint64_t* acc = sums.data();
        const uint64_t rows = uint64_t(y1[y] - y0[y] + 1);
        for (int x = 0; x < dw; ++x, acc += 3) {
            const uint64_t n = rows * uint64_t(x1[x] - x0[x] + 1);
            d[x] = uint32_t(acc[0] / n) | uint32_t(acc[1] / n) << 8 | uint32_t(acc[2] / n) << 16;
        }
    }
}

// The blocks of an area average and whether the packed sums can add them up.
struct TAreaBlocks {
    std::vector<int> x0, x1, y0, y1;
    int64_t widest = 0, tallest = 0;
    bool packed = false;
};

// The largest blocks decide the packed sums: running sums along a source row of width sw must stay
// within 32 bits, and a block's count within the reciprocal table.
void MeasureBlocks(TAreaBlocks& b, int sw) {
    for (size_t x = 0; x < b.x0.size(); ++x) b.widest = std::max<int64_t>(b.widest, b.x1[x] - b.x0[x] + 1);
    for (size_t y = 0; y < b.y0.size(); ++y) b.tallest = std::max<int64_t>(b.tallest, b.y1[y] - b.y0[y] + 1);
    b.packed = b.tallest <= kMaxPackedRows && int64_t(sw) * b.tallest * 255 < (int64_t(1) << 32) &&
               b.widest * b.tallest <= kMaxReciprocalCount;
}

// Spans of the upright picture as spans of the stored one along the axis they lie on: with the axis
// counted from the far side, the last destination index reads the first source indices.
void FlipSpans(std::vector<int>& first, std::vector<int>& last, int srcCount) {
    std::reverse(first.begin(), first.end());
    std::reverse(last.begin(), last.end());
    for (size_t i = 0; i < first.size(); ++i) {
        const int a = first[i];
        first[i] = srcCount - 1 - last[i];
        last[i] = srcCount - 1 - a;
    }
}

// The blocks of the area average of a sw x sh picture into dw x dh. A picture stored in another
// orientation is averaged as it stands upright, with the blocks laid out on the picture as stored:
// the averages come out as the result in the stored orientation, still to be turned upright.
TAreaBlocks PlanAreaAverage(const TRatio& r, int sw, int sh, int dw, int dh, int orientation = 1) {
    const TOrientationTurn turn = OrientationTurn(orientation);
    TAreaBlocks b;
    // Upright columns lie along the stored rows when the picture is transposed.
    AreaSpans(r, dw, turn.transpose ? sh : sw, turn.transpose ? b.y0 : b.x0, turn.transpose ? b.y1 : b.x1);
    AreaSpans(r, dh, turn.transpose ? sw : sh, turn.transpose ? b.x0 : b.y0, turn.transpose ? b.x1 : b.y1);
    if (turn.flipX) FlipSpans(b.x0, b.x1, sw);
    if (turn.flipY) FlipSpans(b.y0, b.y1, sh);
    MeasureBlocks(b, sw);
    return b;
}

void AreaAverage(const TBitmap& src, TBitmap& dst, const TRatio& r) {
    const TAreaBlocks b = PlanAreaAverage(r, src.Width(), src.Height(), dst.Width(), dst.Height());
    if (b.packed) AreaAveragePacked(src, dst, b.x0, b.x1, b.y0, b.y1, b.widest * b.tallest);
    else AreaAverageWide(src, dst, b.x0, b.x1, b.y0, b.y1);
}

void Bilinear(const TBitmap& src, TBitmap& dst, const TRatio& r) {
    const int sw = src.Width(), sh = src.Height(), dw = dst.Width(), dh = dst.Height();
    std::vector<int> xa, xb, ya, yb;
    std::vector<double> wx, wy;
    BilinearTaps(r, dw, sw, xa, xb, wx);
    BilinearTaps(r, dh, sh, ya, yb, wy);
    for (int y = 0; y < dh; ++y) {
        KeepResponsive(y);
        const uint32_t* r0 = src.Row32(ya[y]);
        const uint32_t* r1 = src.Row32(yb[y]);
        const double fy = wy[y], gy = 1.0 - fy;
        uint32_t* d = dst.Row32(y);
        for (int x = 0; x < dw; ++x) {
            const double fx = wx[x], gx = 1.0 - fx;
            const uint32_t p00 = r0[xa[x]], p01 = r0[xb[x]], p10 = r1[xa[x]], p11 = r1[xb[x]];
            uint32_t out = 0;
            for (int shift = 0; shift <= 16; shift += 8) {
                double c00 = (p00 >> shift) & 0xFF, c01 = (p01 >> shift) & 0xFF;
                double c10 = (p10 >> shift) & 0xFF, c11 = (p11 >> shift) & 0xFF;
                double v = ((c00 * gx + c01 * fx) * gy) + ((c10 * gx + c11 * fx) * fy);
                out |= static_cast<uint32_t>(std::clamp(std::trunc(v), 0.0, 255.0)) << shift;
            }
            d[x] = out;
        }
    }
}

// Reads the source as 32-bit pixels, converting a copy when it has another format.
const TBitmap& As32(const TBitmap& src, TBitmap& scratch) {
    if (src.PixelFormat() == TPixelFormat::pf32bit) return src;
    scratch.Assign(src);
    scratch.SetPixelFormat(TPixelFormat::pf32bit);
    return scratch;
}

void Resample(const TBitmap& srcAny, TBitmap& dst, int dw, int dh, const TRatio& r) {
    if (dw > 0 && dh > 0 && !FitsPixelBudget(dw, dh))
        throw EOutOfMemory("Out of memory: bitmap of " + std::to_string(dw) + "x" + std::to_string(dh));
    dst.SetPixelFormat(TPixelFormat::pf32bit);
    dst.SetSize(std::max(dw, 0), std::max(dh, 0));
    if (dst.Width() == 0 || dst.Height() == 0 || srcAny.Width() <= 0 || srcAny.Height() <= 0) return;
    TBitmap scratch;
    const TBitmap& src = As32(srcAny, scratch);
    if (r.Shrinks()) AreaAverage(src, dst, r);
    else Bilinear(src, dst, r);
}

int ClampToInt(int64_t v) { return static_cast<int>(std::clamp<int64_t>(v, 0, std::numeric_limits<int>::max())); }

} // namespace

void ShrinkBitmap(const TBitmap& Src, TBitmap& Dst, double Ratio) {
    if (!(Ratio > 0.0) || !std::isfinite(Ratio)) {
        Dst.SetPixelFormat(TPixelFormat::pf32bit);
        Dst.SetSize(0, 0);
        return;
    }
    if (Ratio == 1.0) {
        Dst.Assign(Src);
        Dst.SetPixelFormat(TPixelFormat::pf32bit);
        return;
    }
    double w = std::trunc(Src.Width() * Ratio), h = std::trunc(Src.Height() * Ratio);
    if (w > std::numeric_limits<int>::max() || h > std::numeric_limits<int>::max())
        throw EOutOfMemory("Out of memory: bitmap too large");
    TRatio r;
    r.value = Ratio;
    Resample(Src, Dst, static_cast<int>(w), static_cast<int>(h), r);
}

namespace {
// Smooth resize to an exact size at the given ratio; a ratio of one is a plain copy.
std::unique_ptr<TBitmap> SmoothTo(const TBitmap& src, int dw, int dh, TRatio r) {
    auto result = std::make_unique<TBitmap>();
    r.value = static_cast<double>(r.num) / static_cast<double>(r.den);
    if (r.num == r.den && dw == src.Width() && dh == src.Height()) {
        result->Assign(src);
        result->SetPixelFormat(TPixelFormat::pf32bit);
    } else {
        Resample(src, *result, dw, dh, r);
    }
    return result;
}
} // namespace

void ResizeBitmap(int W, int H, bool Smooth, std::unique_ptr<TBitmap>& Bmp) {
    W = std::max(W, 0);
    H = std::max(H, 0);
    if (!Bmp) Bmp = std::make_unique<TBitmap>();
    const int64_t bw = Bmp->Width(), bh = Bmp->Height();
    std::unique_ptr<TBitmap> result;
    if (bw <= 0 || bh <= 0 || W == 0 || H == 0) {
        result = std::make_unique<TBitmap>();
        result->SetPixelFormat(Bmp->PixelFormat());
        result->SetSize(W, H);
    } else if (Smooth) {
        // The larger ratio wins; its side is taken exactly and the other follows in integers.
        TRatio r;
        int dw, dh;
        if (int64_t(W) * bh >= int64_t(H) * bw) {
            r.num = W;
            r.den = bw;
            dw = W;
            dh = ClampToInt(std::max<int64_t>(1, bh * W / bw));
        } else {
            r.num = H;
            r.den = bh;
            dh = H;
            dw = ClampToInt(std::max<int64_t>(1, bw * H / bh));
        }
        result = SmoothTo(*Bmp, dw, dh, r);
    } else {
        if (!FitsPixelBudget(W, H))
            throw EOutOfMemory("Out of memory: bitmap of " + std::to_string(W) + "x" + std::to_string(H));
        result = std::make_unique<TBitmap>();
        result->SetPixelFormat(Bmp->PixelFormat());
        result->SetSize(W, H);
        result->Canvas().StretchDraw(TRect{0, 0, W, H}, *Bmp);
    }
    Bmp = std::move(result);
}

namespace {
// The size a bw x bh picture fits W x H at, and the ratio: the side that fills the box sets it. The
// other side never shrinks to nothing: a sliver of a picture stays one pixel wide.
void FitSize(int64_t bw, int64_t bh, int W, int H, int& dw, int& dh, TRatio& r) {
    const int64_t pictureAspect = bw * 1000 / bh;
    const int64_t boxAspect = int64_t(W) * 1000 / H;
    if (pictureAspect <= boxAspect) {
        dh = H;
        dw = ClampToInt(std::max<int64_t>(1, bw * H / bh));
        r.num = H;
        r.den = bh;
    } else {
        dw = W;
        dh = ClampToInt(std::max<int64_t>(1, bh * W / bw));
        r.num = W;
        r.den = bw;
    }
}
} // namespace

void FitBitmap(int W, int H, bool Smooth, std::unique_ptr<TBitmap>& Bmp) {
    if (!Bmp || Bmp->Width() <= 0 || Bmp->Height() <= 0 || W <= 0 || H <= 0) return;
    Bmp->SetPixelFormat(TPixelFormat::pf32bit);
    TRatio r;
    int dw, dh;
    FitSize(Bmp->Width(), Bmp->Height(), W, H, dw, dh, r);
    if (Smooth) Bmp = SmoothTo(*Bmp, dw, dh, r);
    else ResizeBitmap(dw, dh, false, Bmp);
}

// The decoding thread writes source rows into a ring; a worker averages the blocks as their rows
// arrive, a few blocks per wake-up, and frees their slots. The ring holds at least two such batches
// and enough pixels for the decoder to run on for some milliseconds (6 MB, about 250 rows of a
// 24-megapixel photograph) while the worker waits to be scheduled: with only two batches the
// decoder stalls on every late wake-up of the worker.
constexpr int kBlocksPerWake = 4;
constexpr int64_t kRingPixels = 1536 * 1024;
// A picture turned a quarter is written upright by the worker in strips of this many averaged
// rows, so that each upright row takes a run of pixels at once instead of one pixel per row.
constexpr int kTurnStrip = 16;

struct TRowFit::TState {
    int width = 0, height = 0, slots = 0;
    TOrientationTurn turn; // how the stored picture stands upright
    TAreaBlocks blocks;
    std::vector<uint64_t> reciprocal;
    std::unique_ptr<TPackedAverager> averager;
    std::unique_ptr<uint32_t[]> ring; // source row y in slot y % slots; written before it is read
    std::unique_ptr<TBitmap> result;  // upright
    std::vector<uint32_t> strip;      // averaged rows as stored, waiting to be turned

    std::mutex mutex;
    std::condition_variable rowsCame, slotsFreed;
    int arrived = 0;  // source rows done
    int wanted = 0;   // the worker sleeps until this many have arrived
    int released = 0; // rows below this are averaged into every block that reads them
    bool closed = false;
    int placed = 0; // averaged rows, as stored, in their upright places
    std::thread worker;

    uint32_t* Slot(int y) { return ring.get() + size_t(y % slots) * size_t(width); }

    int StoredWidth() const { return static_cast<int>(blocks.x0.size()); }
    int StoredHeight() const { return static_cast<int>(blocks.y0.size()); }

    // Where averaged row d, as stored, is made: straight into the result when it stands there
    // unchanged, else into the strip.
    uint32_t* Averaged(int d) {
        if (!turn.transpose && !turn.flipX)
            return result->Row32(turn.flipY ? StoredHeight() - 1 - d : d);
        return strip.data() + size_t(turn.transpose ? d % kTurnStrip : 0) * size_t(StoredWidth());
    }

    // Averaged rows from `first` to d, as stored, go to their upright places.
    void PlaceUpright(int first, int d) {
        const int sw = StoredWidth(), sh = StoredHeight();
        if (!turn.transpose) {
            if (!turn.flipX) return; // made in place
            const uint32_t* s = strip.data();
            std::reverse_copy(s, s + sw, result->Row32(turn.flipY ? sh - 1 - d : d));
            return;
        }
        // Stored column x is upright row x, stored row d upright column d, each counted from the far
        // side when flipped.
        const int n = d - first + 1;
        const uint32_t* s = strip.data() + size_t(first % kTurnStrip) * size_t(sw);
        for (int x = 0; x < sw; ++x) {
            uint32_t* row = result->Row32(turn.flipX ? sw - 1 - x : x);
            if (turn.flipY) {
                uint32_t* out = row + (sh - 1 - first);
                for (int k = 0; k < n; ++k) out[-k] = s[size_t(k) * size_t(sw) + size_t(x)];
            } else {
                uint32_t* out = row + first;
                for (int k = 0; k < n; ++k) out[k] = s[size_t(k) * size_t(sw) + size_t(x)];
            }
        }
    }

    void Work() {
        const int dh = StoredHeight();
        std::vector<const uint32_t*> rows;
        int ready = 0;     // blocks whose rows have all arrived
        int unplaced = 0;  // the first averaged row not yet in its upright place
        for (int d = 0; d < dh; ++d) {
            if (d == ready) {
                std::unique_lock lock(mutex);
                wanted = blocks.y1[size_t(std::min(d + kBlocksPerWake, dh) - 1)] + 1;
                rowsCame.wait(lock, [&] { return arrived >= wanted || closed; });
                while (ready < dh && blocks.y1[size_t(ready)] < arrived) ++ready;
                if (ready == d) break; // the rows stopped short
            }
            if (TestProbe) TestProbe(TStep::Averaging, d);
            rows.clear();
            for (int sy = blocks.y0[size_t(d)]; sy <= blocks.y1[size_t(d)]; ++sy) rows.push_back(Slot(sy));
            averager->Row(rows.data(), static_cast<int>(rows.size()), Averaged(d));
            {
                std::lock_guard lock(mutex);
                released = d + 1 < dh ? blocks.y0[size_t(d) + 1] : height;
            }
            slotsFreed.notify_one();
            if (!turn.transpose || (d + 1) % kTurnStrip == 0 || d + 1 == dh) {
                PlaceUpright(unplaced, d);
                unplaced = d + 1;
            }
        }
        // Rows averaged before the decoding stopped still show.
        if (unplaced < ready) PlaceUpright(unplaced, ready - 1);
        placed = ready;
    }

    // The result is allocated uncleared, so that the decoding thread does not spend its time on
    // it: what the worker never made is cleared to black here.
    void ClearUnmade() {
        const int sw = StoredWidth(), sh = StoredHeight();
        if (placed >= sh) return;
        if (!turn.transpose) {
            for (int d = placed; d < sh; ++d) {
                uint32_t* row = result->Row32(turn.flipY ? sh - 1 - d : d);
                std::fill(row, row + sw, 0u);
            }
            return;
        }
        for (int x = 0; x < sw; ++x) {
            uint32_t* row = result->Row32(x);
            if (turn.flipY) std::fill(row, row + (sh - placed), 0u);
            else std::fill(row + placed, row + sh, 0u);
        }
    }

    void Close() {
        {
            std::lock_guard lock(mutex);
            closed = true;
        }
        rowsCame.notify_one();
        if (worker.joinable()) worker.join();
    }
};

TRowFit::TRowFit() : s_(std::make_unique<TState>()) {}
TRowFit::~TRowFit() { s_->Close(); }

std::unique_ptr<TRowFit> TRowFit::Plan(int width, int height, int W, int H, int orientation) {
    if (width <= 0 || height <= 0 || W <= 0 || H <= 0) return nullptr;
    const bool turned = OrientationTurn(orientation).transpose;
    TRatio r;
    int dw, dh;
    FitSize(turned ? height : width, turned ? width : height, W, H, dw, dh, r);
    if (!r.Shrinks() || !FitsPixelBudget(dw, dh)) return nullptr;
    r.value = static_cast<double>(r.num) / static_cast<double>(r.den);
    std::unique_ptr<TRowFit> fit(new TRowFit());
    TState& s = *fit->s_;
    s.blocks = PlanAreaAverage(r, width, height, dw, dh, orientation);
    if (!s.blocks.packed) return nullptr;
    s.width = width;
    s.height = height;
    s.turn = OrientationTurn(orientation);
    // A block's rows are consecutive and the blocks move down the picture, so the rows from the
    // first block of a batch to the last row the worker waits for span at most this many.
    const int storedRows = static_cast<int>(s.blocks.y0.size());
    int batchRows = 0;
    for (int d = 0; d < storedRows; ++d)
        batchRows = std::max(batchRows, s.blocks.y1[size_t(std::min(d + kBlocksPerWake, storedRows) - 1)] -
                                            s.blocks.y0[size_t(d)] + 1);
    // A ring as tall as the picture never wraps.
    s.slots = static_cast<int>(std::min<int64_t>(height, std::max<int64_t>(2 * batchRows, kRingPixels / width)));
    s.ring.reset(new uint32_t[size_t(s.slots) * size_t(width)]);
    s.reciprocal = Reciprocals(s.blocks.widest * s.blocks.tallest);
    s.averager = std::make_unique<TPackedAverager>(width, s.blocks.x0, s.blocks.x1, s.reciprocal);
    s.result = std::make_unique<TBitmap>();
    s.result->SetPixelFormat(TPixelFormat::pf32bit);
    const int storedColumns = static_cast<int>(s.blocks.x0.size());
    if (s.turn.transpose) s.result->SetSizeForOverwrite(storedRows, storedColumns);
    else s.result->SetSizeForOverwrite(storedColumns, storedRows);
    if (s.turn.transpose || s.turn.flipX)
        s.strip.resize(size_t(s.turn.transpose ? kTurnStrip : 1) * size_t(storedColumns));
    try {
        s.worker = std::thread([&s] { s.Work(); });
    } catch (const std::system_error&) {
        return nullptr; // no thread to spare: the whole picture is fitted afterwards instead
    }
    return fit;
}

uint32_t* TRowFit::SourceRow(int y) {
    TState& s = *s_;
    std::unique_lock lock(s.mutex);
    // The slot's last row must be averaged into every block that reads it.
    s.slotsFreed.wait(lock, [&] {
        const bool free = s.released > y - s.slots;
        if (!free && TestProbe) TestProbe(TStep::WaitingForRow, y - s.slots);
        return free;
    });
    return s.Slot(y);
}

void TRowFit::RowDone(int y) {
    TState& s = *s_;
    bool wake;
    {
        std::lock_guard lock(s.mutex);
        s.arrived = y + 1;
        wake = s.arrived >= s.wanted;
    }
    if (wake) s.rowsCame.notify_one();
}

std::unique_ptr<TBitmap> TRowFit::Result() {
    s_->Close();
    s_->ClearUnmade();
    return std::move(s_->result);
}

} // namespace lumora
