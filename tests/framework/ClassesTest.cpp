#include <gtest/gtest.h>

#include "framework/Classes.h"
#include "tests/support/TempDir.h"

using namespace lumora;

TEST(Streams, ShortReadRaisesStreamReadError) {
    TMemoryStream m(std::vector<uint8_t>{1, 2, 3});
    uint8_t buf[4];
    EXPECT_EQ(m.Read(buf, 4), 3);
    m.SetPosition(1);
    try {
        m.ReadBuffer(buf, 3);
        FAIL();
    } catch (const EReadError& e) {
        EXPECT_STREQ(e.what(), "Stream read error");
    }
}

TEST(Streams, FileStreamCreateWriteReadAndMissingFile) {
    test::TempDir dir;
    {
        TFileStream f(dir.File("x.bin"), fmCreate);
        f.WriteBuffer("hello", 5);
    }
    TFileStream f(dir.File("x.bin"), fmOpenRead);
    EXPECT_EQ(f.Size(), 5);
    char buf[5];
    f.ReadBuffer(buf, 5);
    EXPECT_EQ(std::string(buf, 5), "hello");
    EXPECT_THROW(TFileStream(dir.File("missing"), fmOpenRead), EFOpenError);
    EXPECT_THROW(TFileStream(dir.Path(), fmOpenRead), EFOpenError);
}

TEST(StringList, SortedFindDuplicatesAndOwnership) {
    struct Counted : TObject {
        int* n;
        explicit Counted(int* c) : n(c) {}
        ~Counted() override { ++*n; }
    };
    int freed = 0;
    {
        TStringList l;
        l.SetSorted(true);
        l.SetOwnsObjects(true);
        l.AddObject("b.jpg", new Counted(&freed));
        l.Add("A.jpg");
        l.Add("c.jpg");
        l.Add("a.JPG"); // duplicate ignoring case: ignored
        ASSERT_EQ(l.Count(), 3);
        EXPECT_EQ(l[0], "A.jpg");
        int i;
        EXPECT_TRUE(l.Find("C.JPG", i));
        EXPECT_EQ(i, 2);
        EXPECT_FALSE(l.Find("bb", i));
        EXPECT_EQ(i, 2);
    }
    EXPECT_EQ(freed, 1);
    TStringList v;
    v.SetValue("Name", "x=y");
    EXPECT_EQ(v.Values("name"), "x=y");
    EXPECT_THROW(v.Strings(5), ERangeError);
}

TEST(SysUtils, IntegerTextAndPaths) {
    int v;
    EXPECT_TRUE(TryStrToInt(" -12 ", v));
    EXPECT_EQ(v, -12);
    EXPECT_TRUE(TryStrToInt("$FF", v));
    EXPECT_EQ(v, 255);
    EXPECT_TRUE(TryStrToInt("-2147483648", v));
    EXPECT_FALSE(TryStrToInt("2147483648", v));
    EXPECT_FALSE(TryStrToInt("12a", v));
    EXPECT_FALSE(TryStrToInt("", v));
    EXPECT_EQ(StrToIntDef("x", 7), 7);
    EXPECT_EQ(ExtractFileExt("/a.b/c"), "");
    EXPECT_EQ(ExtractFileExt("/a/c.TIFF"), ".TIFF");
    EXPECT_EQ(ExtractFilePath("/a/c.txt"), "/a/");
    EXPECT_EQ(IncludeTrailingPathDelimiter("/a"), "/a/");
}
