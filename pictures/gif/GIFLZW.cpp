#include "pictures/gif/GIFLZW.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

namespace lumora {

namespace {

// Reads ahead in large pieces (a file stream would otherwise pay a system call per sub-block) and
// hands back what it did not use when it is done, so the stream ends where the frame's data ends.
class TReadAhead {
public:
    explicit TReadAhead(TStream& stream) : stream_(stream) {}
    ~TReadAhead() {
        if (end_ > pos_) stream_.Seek(-static_cast<int64_t>(end_ - pos_), TSeekOrigin::soCurrent);
    }
    TReadAhead(const TReadAhead&) = delete;
    TReadAhead& operator=(const TReadAhead&) = delete;

    int ReadByte() {
        if (pos_ == end_ && !Fill()) return -1;
        return buffer_[pos_++];
    }
    // Copies up to count bytes; returns how many there were.
    size_t Read(uint8_t* out, size_t count) {
        size_t got = 0;
        while (got < count) {
            if (pos_ == end_ && !Fill()) break;
            size_t n = std::min(count - got, end_ - pos_);
            std::memcpy(out + got, buffer_ + pos_, n);
            pos_ += n;
            got += n;
        }
        return got;
    }
    // Skips up to count bytes; returns how many there were.
    size_t Skip(size_t count) {
        size_t done = 0;
        while (done < count) {
            if (pos_ == end_ && !Fill()) break;
            size_t n = std::min(count - done, end_ - pos_);
            pos_ += n;
            done += n;
        }
        return done;
    }

private:
    bool Fill() {
        int64_t got = stream_.Read(buffer_, sizeof buffer_);
        pos_ = 0;
        end_ = got > 0 ? static_cast<size_t>(got) : 0;
        return end_ > 0;
    }
    TStream& stream_;
    uint8_t buffer_[16384];
    size_t pos_ = 0, end_ = 0;
};

constexpr int kTableSize = 4096;

// The decoder proper: codes are taken least-significant bit first from the run of data sub-blocks.
class TLZWDecoder {
public:
    TLZWDecoder(TReadAhead& in, const TGIFWarning& warning) : in_(in), warning_(warning) {}

    // Decodes up to total pixels into the rows (in the order the data gives them); returns how many
    // were produced, or -1 when the minimum code size is beyond what the tables serve (the data is
    // then skipped whole, so the next block is read from its start).
    template <class Rows>
    int64_t Decode(Rows& rows, int64_t total) {
        int64_t room = 0;
        const int minSize = in_.ReadByte();
        if (minSize < 0) return 0;
        // The tables hold 4096 codes: with a clear code of 4096 or more not one code could be kept.
        if (minSize > 11) {
            SkipRest();
            return -1;
        }
        minSize_ = minSize;
        clearCode_ = 1 << minSize;
        endCode_ = clearCode_ + 1;
        int64_t pos = 0;
        bool cleared = false;
        int prev = 0, firstByte = 0;
        while (pos < total) {
            int code = cleared ? GetCode() : clearCode_; // the data starts as if with a clear code
            if (code < 0) break;
            if (code == clearCode_) {
                Reset();
                do code = GetCode();
                while (code == clearCode_);
                // After a clear only a plain pixel can come; the end code or a code the table does
                // not hold yet ends the frame's data.
                if (code < 0 || code >= clearCode_) {
                    if (code == endCode_) SkipRest();
                    break;
                }
                cleared = true;
                prev = firstByte = code;
                *rows.At(pos++, room) = static_cast<uint8_t>(code);
                continue;
            }
            if (code == endCode_) {
                SkipRest();
                break;
            }
            const int incoming = code;
            int sp = 0;
            if (code >= next_) {
                stack_[sp++] = static_cast<uint8_t>(firstByte);
                code = prev;
            }
            while (code >= clearCode_) {
                // A chain longer than the table has codes loops through itself.
                if (sp >= kTableSize || prefix_[code] == code) throw GIFException("Circular decoder table entry");
                stack_[sp++] = suffix_[code];
                code = prefix_[code];
            }
            firstByte = suffix_[code];
            stack_[sp++] = static_cast<uint8_t>(firstByte);
            if (next_ < kTableSize) {
                prefix_[next_] = static_cast<uint16_t>(prev);
                suffix_[next_] = static_cast<uint8_t>(firstByte);
                ++next_;
                if (next_ >= limit_ && limit_ <= kTableSize - 1) {
                    limit_ *= 2;
                    ++codeSize_;
                }
            }
            prev = incoming;
            // The string sits reversed on the stack; copy it out whole, cut at the frame's end.
            const int64_t n = std::min<int64_t>(sp, total - pos);
            for (int64_t i = 0; i < n;) {
                uint8_t* d = rows.At(pos + i, room);
                const int64_t m = std::min<int64_t>(room, n - i);
                for (int64_t j = 0; j < m; ++j) d[j] = stack_[sp - 1 - i - j];
                i += m;
            }
            pos += n;
        }
        // Whatever follows the last pixel (the end code, or data a careless encoder left) is skipped,
        // so the next block is read from its start.
        SkipRest();
        return pos;
    }

    // Whether the stream ended inside a data sub-block.
    bool EndedInBlock() const { return endedInBlock_; }

private:
    void Reset() {
        for (int i = 0; i < clearCode_; ++i) {
            prefix_[i] = 0;
            suffix_[i] = static_cast<uint8_t>(i);
        }
        std::memset(prefix_ + clearCode_, 0, sizeof(uint16_t) * (kTableSize - clearCode_));
        std::memset(suffix_ + clearCode_, 0, kTableSize - clearCode_);
        codeSize_ = minSize_ + 1;
        limit_ = 2 * clearCode_;
        next_ = clearCode_ + 2;
    }

    // The next code of the current size, or -1 when the data has run out.
    int GetCode() {
        while (bits_ < codeSize_) {
            if (blockPos_ < blockLen_) {
                acc_ |= static_cast<uint32_t>(block_[blockPos_++]) << bits_;
                bits_ += 8;
                continue;
            }
            if (noMoreData_) {
                // Pixels are still wanted but the data has run out.
                if (!underrunWarned_) {
                    underrunWarned_ = true;
                    Warn("Decoder bit buffer under-run");
                }
                return -1;
            }
            const int length = in_.ReadByte();
            if (length <= 0) {
                zeroLengthSeen_ = length == 0;
                noMoreData_ = true;
                continue;
            }
            blockLen_ = static_cast<int>(in_.Read(block_, static_cast<size_t>(length)));
            blockPos_ = 0;
            if (blockLen_ < length) {
                Warn("Premature end of data");
                noMoreData_ = endedInBlock_ = true;
            }
        }
        const int code = static_cast<int>(acc_ & ((1u << codeSize_) - 1));
        acc_ >>= codeSize_;
        bits_ -= codeSize_;
        return code;
    }

    // Reads and drops data sub-blocks up to and including the zero-length one (or the stream's end).
    void SkipRest() {
        blockPos_ = blockLen_;
        while (!zeroLengthSeen_ && !noMoreData_) {
            const int length = in_.ReadByte();
            if (length <= 0) {
                zeroLengthSeen_ = length == 0;
                noMoreData_ = true;
                break;
            }
            if (in_.Skip(static_cast<size_t>(length)) < static_cast<size_t>(length)) noMoreData_ = endedInBlock_ = true;
        }
    }

    void Warn(const std::string& message) {
        if (warning_) warning_(1, message);
    }

    TReadAhead& in_;
    const TGIFWarning& warning_;
    int minSize_ = 0, clearCode_ = 0, endCode_ = 0;
    int codeSize_ = 0, limit_ = 0, next_ = 0;
    uint32_t acc_ = 0;
    int bits_ = 0;
    uint8_t block_[255];
    int blockPos_ = 0, blockLen_ = 0;
    bool zeroLengthSeen_ = false, noMoreData_ = false, underrunWarned_ = false, endedInBlock_ = false;
    uint16_t prefix_[kTableSize] = {};
    uint8_t suffix_[kTableSize] = {};
    uint8_t stack_[kTableSize + 1];
};

// Pixels in file order are the frame's pixels in order.
struct TSequentialRows {
    uint8_t* pixels;
    uint8_t* At(int64_t pos, int64_t& room) const {
        room = std::numeric_limits<int64_t>::max();
        return pixels + pos;
    }
};

// Interlaced rows come as 0, 8, 16, ...; 4, 12, ...; 2, 6, ...; 1, 3, 5, ...: each decoded row goes
// straight to its place.
struct TInterlacedRows {
    uint8_t* pixels;
    int64_t width;
    std::vector<int> order; // the frame's row for each row of the data
    TInterlacedRows(uint8_t* p, int w, int height) : pixels(p), width(w) {
        static const int kStart[4] = {0, 4, 2, 1}, kStep[4] = {8, 8, 4, 2};
        order.reserve(static_cast<size_t>(height));
        for (int pass = 0; pass < 4; ++pass)
            for (int row = kStart[pass]; row < height; row += kStep[pass]) order.push_back(row);
    }
    uint8_t* At(int64_t pos, int64_t& room) const {
        const int64_t column = pos % width;
        room = width - column;
        return pixels + static_cast<int64_t>(order[static_cast<size_t>(pos / width)]) * width + column;
    }
};

} // namespace

int64_t MaxGIFDataPixels(int64_t bytes, int minCodeSize) {
    const int64_t perCode = kTableSize + 1 - (int64_t(1) << std::clamp(minCodeSize, 0, 11));
    // Rounded up by a whole code, for the bits a last partial code may hold.
    return (std::max<int64_t>(bytes, 0) * 8 / 12 + 1) * perCode;
}

TGIFFrameData DecodeGIFFrame(TStream& stream, uint8_t* pixels, int width, int height, bool interlaced,
                             const TGIFWarning& warning) {
    const int64_t total = static_cast<int64_t>(std::max(width, 0)) * std::max(height, 0);
    TReadAhead in(stream);
    auto decoder = std::make_unique<TLZWDecoder>(in, warning);
    TGIFFrameData result;
    if (!interlaced || height <= 1) {
        TSequentialRows rows{pixels};
        result.Pixels = decoder->Decode(rows, total);
    } else {
        TInterlacedRows rows(pixels, width, height);
        result.Pixels = decoder->Decode(rows, total);
    }
    result.EndedInBlock = decoder->EndedInBlock();
    return result;
}

// ---- sub-block writer ----

TGIFWriter::TGIFWriter(TStream& target, TGIFWarning warning) : target_(target), warning_(std::move(warning)) {}

TGIFWriter::~TGIFWriter() {
    try {
        Flush();
    } catch (...) {
        // A failing target has already reported itself through the writes before.
    }
}

int64_t TGIFWriter::Write(const void* buffer, int64_t count) {
    const auto* p = static_cast<const uint8_t*>(buffer);
    for (int64_t left = count; left > 0;) {
        pending_ = true;
        const int64_t n = std::min<int64_t>(left, 256 - fill_);
        std::memcpy(block_ + fill_, p, static_cast<size_t>(n));
        fill_ += static_cast<int>(n);
        p += n;
        left -= n;
        if (fill_ == 256) Flush();
    }
    return count;
}

void TGIFWriter::WriteByte(uint8_t value) {
    pending_ = true;
    block_[fill_++] = value;
    if (fill_ == 256) Flush();
}

void TGIFWriter::Flush() {
    if (!pending_ || fill_ <= 1) {
        pending_ = false;
        return;
    }
    block_[0] = static_cast<uint8_t>(fill_ - 1);
    target_.WriteBuffer(block_, fill_);
    fill_ = 1;
    pending_ = false;
}

int64_t TGIFWriter::Read(void*, int64_t) { throw Exception("Invalid stream operation"); }
int64_t TGIFWriter::Seek(int64_t, TSeekOrigin) { throw Exception("Invalid stream operation"); }
int64_t TGIFWriter::Size() { throw Exception("Invalid stream operation"); }
void TGIFWriter::SetSize(int64_t) { throw Exception("Invalid stream operation"); }

// ---- hash table ----

void THashTable::Clear() { std::memset(slots_, 0xFF, sizeof slots_); }

void THashTable::Insert(uint32_t key, uint32_t code) {
    int h = Hash(key);
    // The probe path is bounded: a full path drops the entry, which costs only compression.
    for (int probes = 0; probes < kSize; ++probes) {
        if ((slots_[h] >> 12) == 0xFFFFF) {
            slots_[h] = (key << 12) | (code & 0xFFF);
            return;
        }
        h = NextSlot(h);
    }
}

uint32_t THashTable::Lookup(uint32_t key) const {
    int h = Hash(key);
    for (int probes = 0; probes < kSize; ++probes) {
        const uint32_t slot = slots_[h];
        if ((slot >> 12) == 0xFFFFF) return kNotFound;
        if ((slot >> 12) == key) return slot & 0xFFF;
        h = NextSlot(h);
    }
    return kNotFound;
}

// ---- encoders ----

void TGIFEncoder::Encode(TStream& stream, int bitsPerPixel, int colors, const uint8_t* data, bool interlaced,
                         int height, int width) {
    MaxColor = colors;
    BitsPerPixel = std::clamp(bitsPerPixel, 2, 8);
    Width = width;
    Height = height;
    Interlaced = interlaced;
    Data = data;
    InitCodeSize = BitsPerPixel + 1;
    const uint8_t minSize = static_cast<uint8_t>(BitsPerPixel);
    stream.WriteBuffer(&minSize, 1);
    CodeSize = InitCodeSize;
    MaxCode = (1 << CodeSize) - 1;
    ClearCode = 1 << BitsPerPixel;
    EndCode = ClearCode + 1;
    BaseCode = ClearCode + 2;
    Bucket = 0;
    BucketBits = 0;
    ClearFlag = false;
    row_ = pass_ = 0;
    cursor_ = data;
    done_ = false;
    runLeft_ = interlaced ? width : static_cast<int64_t>(width) * height;
    Writer = std::make_unique<TGIFWriter>(stream, OnWarning);
    if (data && height >= 1 && width >= 1) Compress();
    Output(EndCode);
    Writer.reset();
    const uint8_t terminator = 0;
    stream.WriteBuffer(&terminator, 1);
}

int TGIFEncoder::NextPixel() {
    while (runLeft_ == 0) {
        if (!Interlaced || done_) {
            done_ = true;
            return -1;
        }
        // The next row of the pass, or the first row of the next pass that has one.
        static const int kStart[4] = {0, 4, 2, 1}, kStep[4] = {8, 8, 4, 2};
        int row = row_ + kStep[pass_];
        while (row >= Height) {
            if (++pass_ >= 4) {
                done_ = true;
                return -1;
            }
            row = kStart[pass_];
        }
        row_ = row;
        cursor_ = Data + static_cast<int64_t>(row) * Width;
        runLeft_ = Width;
    }
    --runLeft_;
    const int pixel = *cursor_++;
    if (pixel >= MaxColor) throw GIFException("Color not in color table");
    return pixel;
}

void TGIFEncoder::Output(int code) {
    if (BucketBits > 0) Bucket = (static_cast<uint32_t>(code) << BucketBits) | (Bucket & ((1u << BucketBits) - 1));
    else Bucket = static_cast<uint32_t>(code);
    BucketBits += CodeSize;
    while (BucketBits >= 8) {
        Writer->WriteByte(static_cast<uint8_t>(Bucket));
        Bucket >>= 8;
        BucketBits -= 8;
    }
    if (code == EndCode) {
        while (BucketBits > 0) {
            Writer->WriteByte(static_cast<uint8_t>(Bucket));
            Bucket >>= 8;
            BucketBits -= 8;
        }
        BucketBits = 0;
    }
}

void TGIFEncoder::Clear() {
    ClearFlag = true;
    Output(ClearCode);
}

void TLZWEncoder::Output(int code) {
    TGIFEncoder::Output(code);
    if (freeEntry_ > MaxCode || ClearFlag) {
        if (ClearFlag) {
            CodeSize = InitCodeSize;
            MaxCode = (1 << CodeSize) - 1;
            ClearFlag = false;
        } else {
            ++CodeSize;
            MaxCode = CodeSize == 12 ? kTableSize : (1 << CodeSize) - 1;
        }
    }
}

void TLZWEncoder::Clear() {
    TGIFEncoder::Clear();
    hash_->Clear();
    freeEntry_ = ClearCode + 2;
}

void TLZWEncoder::Compress() {
    hash_ = std::make_unique<THashTable>();
    freeEntry_ = ClearCode + 2;
    Clear();
    prefix_ = NextPixel();
    for (int c = NextPixel(); c >= 0; c = NextPixel()) {
        const uint32_t key = (static_cast<uint32_t>(prefix_) << 8) | static_cast<uint32_t>(c);
        const uint32_t found = hash_->Lookup(key);
        if (found != THashTable::kNotFound) {
            prefix_ = static_cast<int>(found);
            continue;
        }
        Output(prefix_);
        prefix_ = c;
        // Code 4095 is never handed out: the table starts over instead.
        if (freeEntry_ >= kTableSize - 1) {
            Clear();
        } else {
            hash_->Insert(key, static_cast<uint32_t>(freeEntry_));
            ++freeEntry_;
        }
    }
    Output(prefix_);
    hash_.reset();
}

void TRLEEncoder::Clear() {
    outBump_ = outBumpInit_;
    outClear_ = outClearInit_;
    outCount_ = 0;
    tableMax_ = 0;
    TGIFEncoder::Clear();
    CodeSize = InitCodeSize;
}

void TRLEEncoder::PlainOutput(int code) {
    ClearFlag = false;
    Output(code);
    ++outCount_;
    if (outCount_ >= outBump_) {
        ++CodeSize;
        outBump_ += 1 << (CodeSize - 1);
    }
    if (outCount_ >= outClear_) Clear();
}

int64_t TRLEEncoder::TriangleCount(int64_t count, int64_t nrepcodes) {
    int64_t cost = 0;
    const int64_t perRepeat = nrepcodes * (nrepcodes + 1) / 2;
    while (count >= perRepeat) {
        cost += nrepcodes;
        count -= perRepeat;
    }
    if (count > 0) {
        // The smallest k with k(k+1) >= 2 count, from a square-root estimate.
        auto k = static_cast<int64_t>(std::sqrt(static_cast<double>(2 * count)));
        while (k > 0 && (k - 1) * k >= 2 * count) --k;
        while (k * (k + 1) < 2 * count) ++k;
        cost += k;
    }
    return cost;
}

void TRLEEncoder::FlushFromClear(int count) {
    outClear_ = maxOutCodes_;
    tablePixel_ = runPixel_;
    int k = 1;
    while (count > 0) {
        if (k == 1) {
            tableMax_ = 1;
            PlainOutput(runPixel_);
            --count;
        } else if (k <= count) {
            tableMax_ = k;
            PlainOutput(BaseCode + k - 2);
            count -= k;
        } else {
            ++tableMax_;
            PlainOutput(count == 1 ? runPixel_ : BaseCode + count - 2);
            count = 0;
        }
        k = outCount_ == 0 ? 1 : k + 1;
    }
    outClear_ = outClearInit_;
    if (outCount_ >= outClear_) Clear();
}

void TRLEEncoder::FlushClearOrRepeat(int count) {
    if (1 + TriangleCount(count, maxOutCodes_) < count) {
        Clear();
        FlushFromClear(count);
    } else {
        for (int i = 0; i < count; ++i) PlainOutput(runPixel_);
    }
}

void TRLEEncoder::FlushWithTable(int count) {
    int64_t repeats = count / tableMax_;
    int64_t rest = count % tableMax_;
    int64_t extra = rest > 0 ? 1 : 0;
    if (outCount_ + repeats + extra > maxOutCodes_) {
        repeats = maxOutCodes_ - outCount_;
        rest = count - repeats * tableMax_;
        extra = 1 + TriangleCount(rest, maxOutCodes_);
    }
    if (1 + TriangleCount(count, maxOutCodes_) >= repeats + extra) {
        outClear_ = maxOutCodes_;
        for (int64_t i = 0; i < repeats; ++i) PlainOutput(BaseCode + tableMax_ - 2);
        if (rest > 0) {
            if (ClearFlag) FlushFromClear(static_cast<int>(rest));
            else if (rest == 1) PlainOutput(runPixel_);
            else PlainOutput(BaseCode + static_cast<int>(rest) - 2);
        }
        outClear_ = outClearInit_;
        if (outCount_ >= outClear_) Clear();
    } else {
        Clear();
        FlushFromClear(count);
    }
}

void TRLEEncoder::FlushRun(int count) {
    if (count == 1) PlainOutput(runPixel_);
    else if (ClearFlag) FlushFromClear(count);
    else if (tableMax_ >= 2 && tablePixel_ == runPixel_) FlushWithTable(count);
    else FlushClearOrRepeat(count);
}

void TRLEEncoder::Compress() {
    outBumpInit_ = ClearCode - 1;
    outClearInit_ = BitsPerPixel > 3 ? ClearCode - 2 : 9;
    maxOutCodes_ = 4095 - BaseCode;
    Clear();
    runPixel_ = -1;
    int runCount = 0;
    for (int c = NextPixel(); c >= 0; c = NextPixel()) {
        if (runCount > 0 && c != runPixel_) {
            FlushRun(runCount);
            runCount = 0;
        }
        runPixel_ = c;
        // Very long runs go out in pieces, so counts stay well inside an int.
        if (++runCount == (1 << 30)) {
            FlushRun(runCount);
            runCount = 0;
        }
    }
    if (runCount > 0) FlushRun(runCount);
}

} // namespace lumora
