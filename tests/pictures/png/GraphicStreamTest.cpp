// The buffered codec streams (in place over memory and buffered over other streams), staged
// progress, and the palette routines with the system information object.

#include <gtest/gtest.h>

#include "pictures/png/GraphicStream.h"
#include "pictures/common/PaletteRoutines.h"
#include "platform/display/DisplayMode.h"
#include "platform/display/Screens.h"
#include "platform/system/System.h"
#include "tests/pictures/PictureTestUtil.h"

using namespace lumora;
using namespace lumora::test;

namespace {

// A stream that is not a memory stream, so the reader takes its buffered path.
class PlainStream : public TStream {
public:
    explicit PlainStream(Bytes b) : inner_(std::move(b)) {}
    int64_t Read(void* buffer, int64_t count) override { return inner_.Read(buffer, count); }
    int64_t Write(const void* buffer, int64_t count) override { return inner_.Write(buffer, count); }
    int64_t Seek(int64_t offset, TSeekOrigin origin) override { return inner_.Seek(offset, origin); }
    int64_t Size() override { return inner_.Size(); }

private:
    TMemoryStream inner_;
};

class Reader : public TCustomReadStream {
public:
    using TCustomReadStream::Close;
    using TCustomReadStream::Open;
    using TCustomReadStream::ReadByte;
    using TCustomReadStream::ReadBytes;
    using TCustomReadStream::ReadLong;
    using TCustomReadStream::ReadWord;
    using TCustomReadStream::Skip;
};

class Writer : public TCustomWriteStream {
public:
    using TCustomWriteStream::Bind;
    using TCustomWriteStream::Flush;
    using TCustomWriteStream::WriteBytes;
    using TCustomWriteStream::WriteLong;
};

Bytes Counting(size_t n) {
    Bytes b(n);
    for (size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>(i * 7 + (i >> 8));
    return b;
}

} // namespace

TEST(GraphicStream, ReadsAreBigEndianAndStopAtTheCountOnBothPaths) {
    const Bytes data = Counting(300000);
    for (bool inPlace : {true, false}) {
        SCOPED_TRACE(inPlace ? "memory" : "buffered");
        std::unique_ptr<TStream> s;
        if (inPlace) s = std::make_unique<TMemoryStream>(data);
        else s = std::make_unique<PlainStream>(data);
        s->SetPosition(10); // a source in the middle is read from there
        Reader r;
        r.Open(*s, 0);
        EXPECT_EQ(r.ReadByte(), data[10]);
        r.Skip(65533);
        const size_t at = 10 + 1 + 65533; // a 32-bit read straddling the first buffer's end
        EXPECT_EQ(r.ReadLong(), (uint32_t(data[at]) << 24) | (data[at + 1] << 16) | (data[at + 2] << 8) | data[at + 3]);
        EXPECT_EQ(r.ReadWord(), (data[at + 4] << 8) | data[at + 5]);
        // Zero-length reads and skips change nothing and do not stop the stream.
        EXPECT_EQ(r.ReadBytes(nullptr, 0), 0);
        r.Skip(0);
        EXPECT_FALSE(r.Stopped());
        Bytes big(100000);
        ASSERT_EQ(r.ReadBytes(big.data(), 100000), 100000);
        EXPECT_TRUE(std::equal(big.begin(), big.end(), data.begin() + at + 6));
        r.Skip(70000); // past the buffered bytes
        const int64_t left = r.ByteCount() - r.Consumed();
        Bytes rest(static_cast<size_t>(left) + 1);
        EXPECT_EQ(r.ReadBytes(rest.data(), left + 1), 0); // one byte too many
        EXPECT_TRUE(r.EndOfData());
        EXPECT_EQ(r.ReadLong(), 0u);
        r.Close();
        EXPECT_EQ(s->Position(), 10 + r.Consumed());
    }
    // Exactly the remaining bytes succeed.
    PlainStream s(Counting(5));
    Reader r;
    r.Open(s, 0);
    Bytes all(5);
    EXPECT_EQ(r.ReadBytes(all.data(), 5), 5);
    EXPECT_FALSE(r.EndOfData());
    EXPECT_EQ(r.ReadByte(), 0);
    EXPECT_TRUE(r.EndOfData());
}

TEST(GraphicStream, LeadingHeaderIsSkippedOnlyWhenItLooksLikeOne) {
    Bytes data(300, 1);
    data[0] = 0;
    data[74] = 0;
    data[128] = 0x42;
    for (bool skip : {true, false}) {
        TMemoryStream m(data);
        Reader r;
        r.SkipHeader = skip;
        r.Open(m, 0);
        EXPECT_EQ(r.HeaderSkipped(), skip);
        EXPECT_EQ(r.ReadByte(), skip ? 0x42 : 0);
    }
    data[74] = 9;
    TMemoryStream m(data);
    Reader r;
    r.SkipHeader = true;
    r.Open(m, 0);
    EXPECT_FALSE(r.HeaderSkipped());
}

TEST(GraphicStream, WritesAreBufferedBigEndianAndEndWhole) {
    TMemoryStream out;
    Writer w;
    w.Bind(out);
    w.WriteLong(0x01020304);
    w.WriteBytes(nullptr, 0);
    EXPECT_FALSE(w.Stopped());
    Bytes big = Counting(70000), small = Counting(65000);
    w.WriteBytes(small.data(), static_cast<int64_t>(small.size()));
    w.WriteBytes(big.data(), static_cast<int64_t>(big.size()));
    w.WriteBytes(small.data(), 3);
    w.Flush();
    Bytes want = {1, 2, 3, 4};
    want.insert(want.end(), small.begin(), small.end());
    want.insert(want.end(), big.begin(), big.end());
    want.insert(want.end(), small.begin(), small.begin() + 3);
    EXPECT_EQ(out.Bytes(), want);
    EXPECT_EQ(w.TotalWritten(), static_cast<int64_t>(want.size()));
}

TEST(GraphicStream, StagedProgressGrowsThroughItsShares) {
    TStagedProgress p;
    EXPECT_EQ(p.Start(), 0);
    p.NewStage(0, 1000, 30, 0); // 29 of the 99 percent left
    EXPECT_EQ(p.Step(500), 14);
    EXPECT_EQ(p.Step(500), -1); // no news
    EXPECT_EQ(p.Step(1000), 29);
    p.NewStage(1, 10, 98, 0); // 98 % of the remaining 70
    EXPECT_EQ(p.Step(5), 29 + 34);
    EXPECT_EQ(p.Step(10), 29 + 68);
    p.NewStage(1, 0, 0, 0); // the rest
    EXPECT_EQ(p.Step(1), 99);
    EXPECT_EQ(p.End(), 100);
    // Huge totals do not overflow.
    TStagedProgress q;
    q.Start();
    q.NewStage(1, int64_t(1) << 40, 50, 0);
    EXPECT_EQ(q.Step(int64_t(1) << 39), 24);
}

TEST(GraphicStream, PixelFormatsForBitCounts) {
    EXPECT_EQ(PixelFormatForBits(1), TPixelFormat::pf1bit);
    EXPECT_EQ(PixelFormatForBits(15), TPixelFormat::pf15bit);
    EXPECT_EQ(PixelFormatForBits(48), TPixelFormat::pf24bit);
    EXPECT_EQ(BitsForPixelFormat(TPixelFormat::pfCustom), 15);
    EXPECT_EQ(BitsForPixelFormat(TPixelFormat::pfDevice), 24);
    EXPECT_EQ(BitsForPixelFormat(TPixelFormat::pf32bit), 32);
}

TEST(PaletteRoutines, RowLengthsNearestEntriesAndRamps) {
    EXPECT_EQ(RowLength(1, 1), 4);
    EXPECT_EQ(RowLength(3, 24), 12);
    EXPECT_EQ(RowLength(33, 1), 8);
    TRGBQuad codec[4] = {{0, 0, 0, 0}, {10, 20, 30, 0}, {200, 200, 200, 0}, {10, 20, 30, 0}};
    TLogPalette pal = CreatePaletteFromEntries(codec, 4);
    EXPECT_EQ(pal.Version, 0x300);
    EXPECT_EQ(pal.Entries[1], (TPaletteEntry{30, 20, 10, 0}));
    EXPECT_EQ(NearestIndex(&pal, RGB(30, 20, 10)), 1); // the first of two equal entries
    EXPECT_EQ(NearestIndex(&pal, RGB(190, 190, 255)), 2);
    EXPECT_EQ(NearestIndex(&pal, RGB(5, 5, 5)), 0);
    EXPECT_EQ(NearestIndex(static_cast<const TLogPalette*>(nullptr), 0), -1);
    TLogPalette empty;
    EXPECT_EQ(NearestIndex(&empty, 0), -1);
    TRGBQuad back[256];
    EXPECT_EQ(PaletteToEntries(pal, back), 4);
    EXPECT_EQ(back[2].rgbBlue, 200);
    EXPECT_EQ(back[1].rgbRed, 30);
    TRGBQuad ramp[256];
    EXPECT_EQ(MakeGreyRamp(ramp, 2), 4);
    EXPECT_EQ(ramp[3].rgbGreen, 255);
    EXPECT_EQ(ramp[1].rgbRed, 85);
    EXPECT_EQ(MakeGreyRamp(ramp, 7), 256);
    EXPECT_EQ(ramp[77].rgbBlue, 77);
}

TEST(SystemInfo, AsksTheDisplayAndUsesFixedValuesOnlyWithoutOne) {
    FakeScreens screens({TMonitor{TRect{0, 0, 1024, 768}, true}});
    SetScreens(&screens);
    FakeDisplayModeSource display;
    SetDisplayModeSource(&display);
    display.mode = TDisplayMode{1024, 768, 16, 1, false, 0, 75};
    TSystemInfo normal;
    EXPECT_EQ(display.queries, 1);
    EXPECT_EQ(normal.ScreenWidth, 1024);
    EXPECT_EQ(normal.ScreenHeight, 768);
    EXPECT_EQ(normal.ColorBits, 16);
    EXPECT_EQ(normal.RefreshRate, 75);
    EXPECT_EQ(normal.Version.Size, 148u);
    display.mode = TDisplayMode{1024, 768, 8, 1, true, 256, 0};
    TSystemInfo paletted;
    EXPECT_EQ(paletted.ColorBits, 8);
    EXPECT_EQ(paletted.RefreshRate, 60); // the server did not say
    display.mode->PaletteSize = 100;
    EXPECT_EQ(TSystemInfo().ColorBits, 0);
    display.mode.reset();
    TSystemInfo headless;
    EXPECT_EQ(headless.ColorBits, 32);
    EXPECT_EQ(headless.RefreshRate, 60);
    SetOSLine(TOSLine::Win9x);
    TSystemInfo old;
    EXPECT_EQ(old.Version.PlatformId, 1u);
    SetOSLine(TOSLine::NT);
    SetDisplayModeSource(nullptr);
    SetScreens(nullptr);
}
