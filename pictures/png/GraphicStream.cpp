#include "pictures/png/GraphicStream.h"

#include <algorithm>
#include <cstring>

namespace lumora {

// ---- staged progress ----

int TStagedProgress::Start() {
    base_ = last_ = span_ = 0;
    remaining_ = 99;
    return 0;
}

void TStagedProgress::NewStage(int mode, int64_t total, int share, int64_t position) {
    base_ += span_;
    last_ = base_;
    remaining_ -= span_;
    mode_ = mode;
    total_ = total > 0 ? total : 1;
    stageStart_ = position;
    span_ = share >= 1 && share <= 99 ? remaining_ * share / 100 : remaining_;
}

int TStagedProgress::Step(int64_t value) {
    int64_t increase;
    if (mode_ == 0) increase = (value - stageStart_) * span_ / total_;
    else increase = value < total_ ? value * span_ / total_ : span_;
    int64_t now = base_ + std::clamp<int64_t>(increase, 0, span_);
    if (now <= last_) return -1;
    last_ = static_cast<int>(now);
    return last_;
}

// ---- read side ----

void TCustomReadStream::Open(TStream& source, int64_t count) {
    source_ = &source;
    start_ = source.Position();
    const int64_t left = std::max<int64_t>(source.Size() - start_, 0);
    count_ = count < 1 ? left : std::min(count, left);
    position_ = sourceRead_ = avail_ = 0;
    stop_ = eof_ = headerSkipped_ = false;
    inPlace_ = false;
    if (count_ <= 0) {
        eof_ = true;
        return;
    }
    if (auto* memory = dynamic_cast<TMemoryStream*>(&source)) {
        // Memory is read where it lies, without a copy.
        inPlace_ = true;
        cur_ = memory->Memory() + start_;
        avail_ = sourceRead_ = count_;
    } else {
        buffer_.resize(kBufferSize);
        Fill(0);
    }
    if (SkipHeader && count_ > 128 && avail_ > 128 && cur_[0] == 0 && cur_[74] == 0) {
        Skip(128);
        headerSkipped_ = true;
    }
}

void TCustomReadStream::Close() {
    if (!source_) return;
    buffer_.clear();
    buffer_.shrink_to_fit();
    source_->SetPosition(start_ + position_);
    source_ = nullptr;
}

void TCustomReadStream::Fill(int64_t kept) {
    // kept bytes are already at the buffer's start.
    const int64_t want = std::min(count_ - sourceRead_, kBufferSize - kept);
    int64_t got = want > 0 ? source_->Read(buffer_.data() + kept, want) : 0;
    got = std::max<int64_t>(got, 0);
    sourceRead_ += got;
    cur_ = buffer_.data();
    avail_ = kept + got;
}

bool TCustomReadStream::Ensure(int64_t n) {
    if (eof_ || stop_) return false;
    if (n > count_ - position_) {
        eof_ = true;
        return false;
    }
    if (avail_ >= n) return true;
    std::memmove(buffer_.data(), cur_, static_cast<size_t>(avail_));
    Fill(avail_);
    if (avail_ < n) {
        eof_ = true; // the source gave less than its size promised
        return false;
    }
    return true;
}

uint8_t TCustomReadStream::ReadByte() {
    if (!Ensure(1)) return 0;
    uint8_t v = *cur_++;
    --avail_;
    ++position_;
    return v;
}

uint16_t TCustomReadStream::ReadWord() {
    if (!Ensure(2)) return 0;
    uint16_t v = static_cast<uint16_t>((cur_[0] << 8) | cur_[1]);
    cur_ += 2;
    avail_ -= 2;
    position_ += 2;
    return v;
}

uint32_t TCustomReadStream::ReadLong() {
    if (!Ensure(4)) return 0;
    uint32_t v = (static_cast<uint32_t>(cur_[0]) << 24) | (cur_[1] << 16) | (cur_[2] << 8) | cur_[3];
    cur_ += 4;
    avail_ -= 4;
    position_ += 4;
    return v;
}

int64_t TCustomReadStream::ReadBytes(void* dest, int64_t n) {
    if (n <= 0 || eof_ || stop_) return 0;
    if (n > count_ - position_) {
        eof_ = true;
        return 0;
    }
    auto* d = static_cast<uint8_t*>(dest);
    int64_t take = std::min(n, avail_);
    std::memcpy(d, cur_, static_cast<size_t>(take));
    cur_ += take;
    avail_ -= take;
    int64_t done = take;
    if (done < n) {
        int64_t rest = n - done;
        if (rest >= kBufferSize) {
            // Large runs bypass the buffer.
            int64_t got = std::max<int64_t>(source_->Read(d + done, rest), 0);
            sourceRead_ += got;
            if (got < rest) {
                position_ += done + got;
                eof_ = true;
                return 0;
            }
        } else {
            Fill(0);
            if (avail_ < rest) {
                eof_ = true;
                return 0;
            }
            std::memcpy(d + done, cur_, static_cast<size_t>(rest));
            cur_ += rest;
            avail_ -= rest;
        }
    }
    position_ += n;
    return n;
}

void TCustomReadStream::Skip(int64_t n) {
    if (n <= 0 || eof_ || stop_) return;
    if (n > count_ - position_) {
        eof_ = true;
        return;
    }
    if (n <= avail_) {
        cur_ += n;
        avail_ -= n;
    } else {
        const int64_t missing = n - avail_;
        source_->Seek(missing, TSeekOrigin::soCurrent);
        sourceRead_ += missing;
        avail_ = 0;
    }
    position_ += n;
}

void TCustomReadStream::StartProgress() { stop_ = DoProgress(progress_.Start()) || stop_; }

void TCustomReadStream::NewStage(int mode, int64_t total, int share) {
    progress_.NewStage(mode, mode == 0 ? count_ : total, share, position_);
}

void TCustomReadStream::StepProgress(int64_t count) {
    int p = progress_.Step(progress_.Mode() == 0 ? position_ : count);
    if (p >= 0) stop_ = DoProgress(p) || stop_;
}

void TCustomReadStream::EndProgress() { stop_ = DoProgress(progress_.End()) || stop_; }

// ---- pixel formats ----

TPixelFormat PixelFormatForBits(int bits) {
    switch (bits) {
    case 1: return TPixelFormat::pf1bit;
    case 4: return TPixelFormat::pf4bit;
    case 8: return TPixelFormat::pf8bit;
    case 15: return TPixelFormat::pf15bit;
    case 16: return TPixelFormat::pf16bit;
    case 32: return TPixelFormat::pf32bit;
    default: return TPixelFormat::pf24bit;
    }
}

int BitsForPixelFormat(TPixelFormat format) {
    switch (format) {
    case TPixelFormat::pf1bit: return 1;
    case TPixelFormat::pf4bit: return 4;
    case TPixelFormat::pf8bit: return 8;
    case TPixelFormat::pf15bit:
    case TPixelFormat::pfCustom: return 15;
    case TPixelFormat::pf16bit: return 16;
    case TPixelFormat::pf32bit: return 32;
    default: return 24;
    }
}

// ---- graphic read stream ----

void TCustomGraphicReadStream::Load(TBitmap& bitmap, TStream& stream, int64_t count) {
    struct Guard {
        TCustomGraphicReadStream& self;
        TBitmap& bitmap;
        TNotifyEvent saved;
        ~Guard() {
            self.Close();
            self.FreePalette();
            bitmap.OnChange = std::move(saved);
            self.Bitmap_ = nullptr;
        }
    } guard{*this, bitmap, std::move(bitmap.OnChange)};
    bitmap.OnChange = nullptr;
    Open(stream, count);
    Bitmap_ = &bitmap;
    Comment.clear();
    std::fill(std::begin(Values_), std::end(Values_), 0);
    LoadImage();
}

std::vector<TRGBQuad>& TCustomGraphicReadStream::PaletteBuffer() {
    if (palette_.empty()) palette_.resize(256);
    return palette_;
}

bool TCustomGraphicReadStream::DoProgress(int percent) {
    if (Bitmap_ && Bitmap_->OnProgress) {
        TProgressStage stage = percent <= 0 ? 0 : percent >= 100 ? 2 : 1;
        Bitmap_->OnProgress(Bitmap_, stage, static_cast<uint8_t>(std::min(percent, 100)), RedrawNow, TRect{}, {});
    }
    return false;
}

void TCustomGraphicReadStream::SetupBitmap() {
    TBitmap& b = *Bitmap_;
    b.Assign(static_cast<TGraphic*>(nullptr));
    b.SetTransparent(false);
    b.SetPixelFormat(PixelFormatForBits(BitmapBits_));
    b.SetSize(Width_, Height_);
    if (HasPalette()) {
        std::vector<TRGBQuad> p(palette_.begin(), palette_.begin() + std::clamp(PaletteCount_, 0, 256));
        b.SetPalette(p);
    }
}

// ---- write side ----

void TCustomWriteStream::WriteBytes(const void* data, int64_t n) {
    if (n <= 0 || stop_ || !target_) return;
    if (n < kBufferSize - 16) {
        if (used_ + n >= kBufferSize) Flush();
        std::memcpy(buffer_.data() + used_, data, static_cast<size_t>(n));
        used_ += n;
        return;
    }
    Flush();
    target_->WriteBuffer(data, n);
    total_ += n;
}

void TCustomWriteStream::WriteLong(uint32_t v) {
    uint8_t b[4] = {static_cast<uint8_t>(v >> 24), static_cast<uint8_t>(v >> 16), static_cast<uint8_t>(v >> 8),
                    static_cast<uint8_t>(v)};
    WriteBytes(b, 4);
}

void TCustomWriteStream::Flush() {
    if (used_ > 0 && target_) {
        target_->WriteBuffer(buffer_.data(), used_);
        total_ += used_;
    }
    used_ = 0;
}

void TCustomWriteStream::StartProgress() { stop_ = DoProgress(progress_.Start()) || stop_; }
void TCustomWriteStream::NewStage(int64_t total, int share) { progress_.NewStage(1, total, share, 0); }
void TCustomWriteStream::StepProgress(int64_t count) {
    int p = progress_.Step(count);
    if (p >= 0) stop_ = DoProgress(p) || stop_;
}
void TCustomWriteStream::EndProgress() { stop_ = DoProgress(progress_.End()) || stop_; }

void TCustomGraphicWriteStream::Save(TBitmap& bitmap, TStream& stream) {
    Bind(stream);
    Bitmap_ = &bitmap;
    struct Unbind {
        TBitmap*& bitmap;
        ~Unbind() { bitmap = nullptr; }
    } unbind{Bitmap_};
    SaveImage();
    Flush();
}

bool TCustomGraphicWriteStream::DoProgress(int percent) {
    if (Bitmap_ && Bitmap_->OnProgress) {
        TProgressStage stage = percent <= 0 ? 0 : percent >= 100 ? 2 : 1;
        Bitmap_->OnProgress(Bitmap_, stage, static_cast<uint8_t>(std::min(percent, 100)), RedrawNow, TRect{}, {});
    }
    return false;
}

} // namespace lumora
