#include <sys/stat.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "audio/tags/TagText.h"
#include "audio/tags/WMAEditor.h"
#include "audio/tags/WMAfile.h"
#include "platform/system/SafeRewrite.h"
#include "tests/audio/tags/TagTestUtil.h"
#include "tests/audio/tags/WMATestUtil.h"

namespace lumora {
namespace {

using namespace test::asf;
using test::LE16;
using test::LE32;
using test::TempDir;

std::vector<uint8_t> Bytes(const std::string& s) { return std::vector<uint8_t>(s.begin(), s.end()); }

// A file with every attribute object and every value type, an object the editor does not know,
// and data that is no header.
std::string RichFile() {
    std::string ext = Extension({Metadata({MetaRecord(0, 1, "Stream Flag", 2, LE16(1)),
                                           MetaRecord(0, 1, "Stream Rate", 3, LE32(48000))}),
                                 Library({MetaRecord(2, 0, "WM/MediaClassPrimaryID", 6, std::string(16, '\x5A')),
                                          MetaRecord(0, 0, "WM/Big", 1, "blob")}),
                                 Object(Guid(0x12345678, 0x1, 0x2, 0x0304050607080910), "opaque ext")});
    std::string header = Header({FileProperties(128000, 0), StreamProperties(2, 44100, 16000),
                                 ContentDescription({"Title one", "The Author", "", "A description", ""}),
                                 Extended({Item("WM/AlbumTitle", 0, Wide("Album")), Item("WM/Picture", 1, "\x01\x02\x03"),
                                           Item("IsVBR", 2, LE32(1)), Item("WM/TrackNumber", 3, LE32(7)),
                                           Item("WM/Big64", 4, LE64(0x1122334455667788ull)),
                                           Item("WM/Word", 5, LE16(513))}),
                                 ext, Object(Guid(0xABCDEF01, 0x2, 0x3, 0x0102030405060708), "unknown object")});
    return WithData(header, 4000);
}

TWMAttribute Get(const TWMMetadataEditor& e, uint16_t stream, const std::string& name) {
    auto found = e.GetAttributeIndices(stream, name);
    TWMAttribute a;
    if (found.empty()) throw std::runtime_error("no attribute " + name);
    e.GetAttributeByIndex(stream, found[0], a);
    return a;
}

class WMAEditor : public ::testing::Test {
protected:
    TempDir dir;
    void TearDown() override { SetRewriteFaultHook(nullptr); }
};

TEST_F(WMAEditor, ListsEveryAttributeWithItsType) {
    TWMMetadataEditor e;
    ASSERT_EQ(e.Open(dir.WriteFile("rich.wma", RichFile())), wmOK);
    std::vector<std::string> names;
    std::vector<TWMTAttrDataType> types;
    for (const TWMAttribute& a : e.Header().Attributes(0)) {
        names.push_back(a.Name);
        types.push_back(a.Type);
    }
    EXPECT_EQ(names, (std::vector<std::string>{"Title", "Author", "Description", "WM/AlbumTitle", "WM/Picture", "IsVBR",
                                               "WM/TrackNumber", "WM/Big64", "WM/Word", "WM/MediaClassPrimaryID", "WM/Big", "Duration", "Bitrate",
                                               "FileSize", "Seekable", "Broadcast"}));
    EXPECT_EQ(types, (std::vector<TWMTAttrDataType>{WMT_TYPE_STRING, WMT_TYPE_STRING, WMT_TYPE_STRING, WMT_TYPE_STRING,
                                                    WMT_TYPE_BINARY, WMT_TYPE_BOOL, WMT_TYPE_DWORD, WMT_TYPE_QWORD,
                                                    WMT_TYPE_WORD, WMT_TYPE_GUID, WMT_TYPE_BINARY, WMT_TYPE_QWORD, WMT_TYPE_DWORD,
                                                    WMT_TYPE_QWORD, WMT_TYPE_BOOL, WMT_TYPE_BOOL}));
    EXPECT_EQ(WMValueText(Get(e, 0, "title").Value), "Title one");
    EXPECT_EQ(Get(e, 0, "WM/Picture").Value, Bytes("\x01\x02\x03"));
    EXPECT_EQ(WMValueNumber(WMT_TYPE_BOOL, Get(e, 0, "IsVBR").Value), 1u);
    EXPECT_EQ(WMValueNumber(WMT_TYPE_DWORD, Get(e, 0, "WM/TrackNumber").Value), 7u);
    EXPECT_EQ(WMValueNumber(WMT_TYPE_QWORD, Get(e, 0, "WM/Big64").Value), 0x1122334455667788ull);
    EXPECT_EQ(WMValueNumber(WMT_TYPE_WORD, Get(e, 0, "WM/Word").Value), 513u);
    EXPECT_EQ(WMValueNumber(WMT_TYPE_DWORD, Get(e, 0, "Bitrate").Value), 128000u);
    EXPECT_EQ(WMValueNumber(WMT_TYPE_QWORD, Get(e, 0, "FileSize").Value), RichFile().size());
    EXPECT_TRUE(Get(e, 0, "FileSize").ReadOnly);

    // Stream attributes: the metadata object's two-byte Boolean comes out as four bytes.
    ASSERT_EQ(e.GetAttributeCount(1), 2);
    TWMAttribute flag = Get(e, 1, "Stream Flag");
    EXPECT_EQ(flag.Type, WMT_TYPE_BOOL);
    EXPECT_EQ(flag.Value, (std::vector<uint8_t>{1, 0, 0, 0}));
    TWMAttribute guid = Get(e, 0, "WM/MediaClassPrimaryID");
    EXPECT_EQ(guid.Type, WMT_TYPE_GUID);
    EXPECT_EQ(guid.Language, 2);

    // A search of every stream gives file-level attributes the index they have in stream 0.
    EXPECT_EQ(e.GetAttributeIndices(wmAnyStream, "WM/Word"), e.GetAttributeIndices(0, "WM/Word"));
    EXPECT_EQ(e.GetAttributeIndices(wmAnyStream, "Stream Rate"), (std::vector<uint16_t>{17}));
    uint16_t english = 2;
    EXPECT_EQ(e.GetAttributeIndices(0, "WM/MediaClassPrimaryID", &english).size(), 1u);
    uint16_t other = 0;
    EXPECT_TRUE(e.GetAttributeIndices(0, "WM/MediaClassPrimaryID", &other).empty());
}

TEST_F(WMAEditor, EditsEveryObjectAndKeepsTheRestByteIdentical) {
    std::string original = RichFile();
    std::string file = dir.WriteFile("rich.wma", original);
    TWMMetadataEditor e;
    ASSERT_EQ(e.Open(file), wmOK);
    uint64_t oldHeaderSize = e.Header().Size();
    auto index = [&](uint16_t stream, const char* name) { return e.GetAttributeIndices(stream, name).at(0); };

    EXPECT_EQ(e.ModifyAttribute(0, index(0, "Title"), WMT_TYPE_STRING, 0, WMStringValue("Longer title than before")), wmOK);
    EXPECT_EQ(e.DeleteAttribute(0, index(0, "Author")), wmOK);
    uint16_t added = 0;
    EXPECT_EQ(e.AddAttribute(0, "Copyright", added, WMT_TYPE_STRING, 0, WMStringValue("(c) us")), wmOK);
    EXPECT_EQ(added, index(0, "Copyright"));
    EXPECT_EQ(e.ModifyAttribute(0, index(0, "WM/TrackNumber"), WMT_TYPE_STRING, 0, WMStringValue("9/12")), wmOK);
    EXPECT_EQ(e.DeleteAttribute(0, index(0, "WM/Picture")), wmOK);
    EXPECT_EQ(e.AddAttribute(0, "WM/Composer", added, WMT_TYPE_STRING, 0, WMStringValue("Someone")), wmOK);
    // A stream attribute, a GUID and a value too large for the extended content go to the library.
    EXPECT_EQ(e.AddAttribute(3, "Per Stream", added, WMT_TYPE_DWORD, 0, Bytes(LE32(5))), wmOK);
    EXPECT_EQ(e.AddAttribute(0, "WM/Lyrics", added, WMT_TYPE_STRING, 0, WMStringValue(std::string(40000, 'l'))), wmOK);
    EXPECT_EQ(e.ModifyAttribute(1, index(1, "Stream Flag"), WMT_TYPE_BOOL, 0, Bytes(LE32(0))), wmOK);
    EXPECT_EQ(e.DeleteAttribute(0, index(0, "WM/Big")), wmOK);
    std::vector<TWMAttribute> before = e.Header().Attributes(wmAnyStream);
    ASSERT_EQ(e.Flush(), wmOK);

    std::string rewritten = test::ReadFile(file);
    TWMMetadataEditor again;
    ASSERT_EQ(again.Open(file), wmOK);
    // Everything listed before the write is listed after it, but the size the file now has.
    std::vector<TWMAttribute> after = again.Header().Attributes(wmAnyStream);
    ASSERT_EQ(after.size(), before.size());
    for (size_t i = 0; i < after.size(); ++i) {
        if (after[i].Name == "FileSize") continue;
        EXPECT_EQ(after[i], before[i]) << after[i].Name;
    }
    EXPECT_EQ(WMValueNumber(WMT_TYPE_QWORD, Get(again, 0, "FileSize").Value), rewritten.size());
    EXPECT_EQ(WMValueText(Get(again, 0, "Title").Value), "Longer title than before");
    EXPECT_TRUE(again.GetAttributeIndices(0, "Author").empty());
    EXPECT_EQ(WMValueNumber(WMT_TYPE_BOOL, Get(again, 1, "Stream Flag").Value), 0u);
    EXPECT_EQ(WMValueNumber(WMT_TYPE_DWORD, Get(again, 3, "Per Stream").Value), 5u);
    EXPECT_EQ(WMValueText(Get(again, 0, "WM/Lyrics").Value).size(), 40000u);

    // The data after the header is untouched, and so is every object the edits did not reach.
    uint64_t newHeaderSize = again.Header().Size();
    EXPECT_EQ(rewritten.substr(newHeaderSize), original.substr(oldHeaderSize));
    std::vector<std::string> oldObjects = TopObjects(original), newObjects = TopObjects(rewritten);
    ASSERT_EQ(newObjects.size(), oldObjects.size());
    EXPECT_EQ(LE32At(rewritten, 24), oldObjects.size());
    EXPECT_EQ(newObjects[1], oldObjects[1]); // stream properties
    EXPECT_EQ(newObjects[5], oldObjects[5]); // the unknown object
    std::string props = oldObjects[0];
    props.replace(40, 8, LE64(rewritten.size()));
    EXPECT_EQ(newObjects[0], props);
    EXPECT_NE(newObjects[4].find("opaque ext"), std::string::npos);

    // Our own stream reader sees the new texts.
    TWMAfile wma;
    ASSERT_TRUE(wma.LoadFromFile(file));
    EXPECT_EQ(wma.Title(), "Longer title than before");
    EXPECT_EQ(wma.Track(), 0); // "9/12" is no number for the reader
}

TEST_F(WMAEditor, NewObjectsAreAddedWhenTheFileHasNone) {
    std::string header = Header({FileProperties(64000, 0), StreamProperties(1, 22050, 8000)});
    std::string file = dir.WriteFile("bare.wma", WithData(header, 1000));
    TWMMetadataEditor e;
    ASSERT_EQ(e.Open(file), wmOK);
    uint16_t added = 0;
    ASSERT_EQ(e.AddAttribute(0, "Title", added, WMT_TYPE_STRING, 0, WMStringValue("Bare")), wmOK);
    ASSERT_EQ(e.AddAttribute(0, "WM/Genre", added, WMT_TYPE_STRING, 0, WMStringValue("Pop")), wmOK);
    std::vector<uint8_t> guid(16, 7);
    ASSERT_EQ(e.AddAttribute(0, "WM/Id", added, WMT_TYPE_GUID, 0, guid), wmOK);
    ASSERT_EQ(e.Flush(), wmOK);
    std::string rewritten = test::ReadFile(file);
    EXPECT_EQ(LE32At(rewritten, 24), 5u);
    TWMMetadataEditor again;
    ASSERT_EQ(again.Open(file), wmOK);
    EXPECT_EQ(WMValueText(Get(again, 0, "Title").Value), "Bare");
    EXPECT_EQ(WMValueText(Get(again, 0, "WM/Genre").Value), "Pop");
    EXPECT_EQ(Get(again, 0, "WM/Id").Value, guid);
    TWMAfile wma;
    ASSERT_TRUE(wma.LoadFromFile(file));
    EXPECT_EQ(wma.Genre(), "Pop");
}

TEST_F(WMAEditor, RefusesWhatTheFormatCannotHold) {
    std::string file = dir.WriteFile("rich.wma", RichFile());
    TWMMetadataEditor e;
    EXPECT_EQ(e.Flush(), wmErrNotOpen);
    ASSERT_EQ(e.Open(file), wmOK);
    uint16_t size = e.GetAttributeIndices(0, "FileSize").at(0);
    EXPECT_EQ(e.ModifyAttribute(0, size, WMT_TYPE_QWORD, 0, Bytes(LE64(1))), wmErrReadOnly);
    EXPECT_EQ(e.DeleteAttribute(0, size), wmErrReadOnly);
    uint16_t added = 0;
    EXPECT_EQ(e.AddAttribute(0, "filesize", added, WMT_TYPE_QWORD, 0, Bytes(LE64(1))), wmErrReadOnly);
    EXPECT_EQ(e.AddAttribute(0, "Odd", added, WMT_TYPE_DWORD, 0, Bytes("abc")), wmErrInvalidArg);
    EXPECT_EQ(e.AddAttribute(0, "Odd", added, WMT_TYPE_STRING, 0, Bytes("abc")), wmErrInvalidArg);
    EXPECT_EQ(e.AddAttribute(0, "", added, WMT_TYPE_STRING, 0, WMStringValue("x")), wmErrInvalidArg);
    EXPECT_EQ(e.AddAttribute(200, "Stream", added, WMT_TYPE_STRING, 0, WMStringValue("x")), wmErrTooLarge);
    uint16_t title = e.GetAttributeIndices(0, "Title").at(0);
    EXPECT_EQ(e.ModifyAttribute(0, title, WMT_TYPE_DWORD, 0, Bytes(LE32(1))), wmErrTooLarge);
    EXPECT_EQ(e.ModifyAttribute(0, title, WMT_TYPE_STRING, 0, WMStringValue(std::string(40000, 'x'))), wmErrTooLarge);
    EXPECT_EQ(e.ModifyAttribute(0, 999, WMT_TYPE_STRING, 0, WMStringValue("x")), wmErrInvalidArg);
    EXPECT_EQ(e.DeleteAttribute(7, 0), wmErrInvalidArg);
    // Nothing was accepted, so nothing is written.
    struct stat st {};
    ASSERT_EQ(stat(file.c_str(), &st), 0);
    ino_t inode = st.st_ino;
    EXPECT_EQ(e.Flush(), wmOK);
    ASSERT_EQ(stat(file.c_str(), &st), 0);
    EXPECT_EQ(st.st_ino, inode);
}

TEST_F(WMAEditor, FailedWritesLeaveTheOriginalIdentical) {
    std::string original = RichFile();
    std::string file = dir.WriteFile("rich.wma", original);
    for (TRewriteStep failing : {TRewriteStep::Create, TRewriteStep::Write, TRewriteStep::Sync, TRewriteStep::Rename}) {
        TWMMetadataEditor e;
        ASSERT_EQ(e.Open(file), wmOK);
        uint16_t added = 0;
        ASSERT_EQ(e.AddAttribute(0, "WM/Mood", added, WMT_TYPE_STRING, 0, WMStringValue("calm")), wmOK);
        SetRewriteFaultHook([failing](TRewriteStep step, int64_t index) {
            return step == failing && (step != TRewriteStep::Write || index == 1);
        });
        EXPECT_EQ(e.Flush(), wmErrWriteFailed);
        SetRewriteFaultHook(nullptr);
        EXPECT_EQ(test::ReadFile(file), original);
        EXPECT_EQ(std::vector<std::string>(), OtherFiles(dir.Path(), "rich.wma"));
        // The changes are still there for another try.
        ASSERT_EQ(e.Flush(), wmOK);
        EXPECT_NE(test::ReadFile(file), original);
        dir.WriteFile("rich.wma", original);
    }
}

TEST_F(WMAEditor, AFileChangedSinceOpeningIsNotOverwritten) {
    std::string original = RichFile();
    std::string file = dir.WriteFile("rich.wma", original);
    TWMMetadataEditor e;
    ASSERT_EQ(e.Open(file), wmOK);
    uint16_t title = e.GetAttributeIndices(0, "Title").at(0);
    ASSERT_EQ(e.ModifyAttribute(0, title, WMT_TYPE_STRING, 0, WMStringValue("Mine")), wmOK);
    std::string changed = original;
    changed[200] ^= 0x55;
    dir.WriteFile("rich.wma", changed);
    EXPECT_EQ(e.Flush(), wmErrWriteFailed);
    EXPECT_EQ(test::ReadFile(file), changed);
    dir.WriteFile("rich.wma", original + "more");
    EXPECT_EQ(e.Flush(), wmErrWriteFailed);
    EXPECT_EQ(test::ReadFile(file), original + "more");
}

TEST_F(WMAEditor, DamagedHeadersAreRefusedWithoutACrash) {
    TWMMetadataEditor e;
    EXPECT_EQ(e.Open(dir.File("missing.wma")), wmErrFileNotFound);
    EXPECT_EQ(e.Open(dir.WriteFile("empty.wma", "")), wmErrInvalidData);
    EXPECT_EQ(e.Open(dir.WriteFile("text.wma", std::string(100, 'x'))), wmErrInvalidData);
    EXPECT_FALSE(e.IsOpen());

    std::string good = RichFile();
    uint64_t headerSize = LE32At(good, 16);
    auto opens = [&](const std::string& bytes) { return e.Open(dir.WriteFile("bad.wma", bytes)) == wmOK; };
    // A header longer than the file, an object count past the objects, an object running past the header.
    std::string longer = good;
    longer.replace(16, 8, LE64(good.size() + 1));
    EXPECT_FALSE(opens(longer));
    std::string counted = good;
    counted.replace(24, 4, LE32(50));
    EXPECT_FALSE(opens(counted));
    std::string overrun = good;
    overrun.replace(30 + 16, 8, LE64(headerSize));
    EXPECT_FALSE(opens(overrun));
    // An extended content item whose value runs past its object.
    std::string item = good;
    size_t at = item.find(Wide("WM/Word"));
    ASSERT_NE(at, std::string::npos);
    item.replace(at + Wide("WM/Word").size() + 2, 2, LE16(0xFFFF));
    EXPECT_FALSE(opens(item));

    // Every cut of the header, and every single-byte change of it, either opens or is refused;
    // what opens rebuilds into a header that reads back the same.
    for (uint64_t cut = 0; cut < headerSize; cut += 7) {
        std::string bytes = good.substr(0, cut);
        if (cut >= 24) bytes.replace(16, 8, LE64(cut));
        opens(bytes);
    }
    for (uint64_t i = 0; i < headerSize; ++i) {
        std::string bytes = good;
        bytes[i] = static_cast<char>(bytes[i] ^ 0xA5);
        if (!opens(bytes)) continue;
        std::vector<uint8_t> rebuilt = e.Header().Rebuild(bytes.size() - e.Header().Size());
        TAsfHeader reread;
        ASSERT_EQ(reread.Parse(rebuilt), wmOK) << "byte " << i;
        EXPECT_EQ(reread.Attributes(wmAnyStream).size(), e.Header().Attributes(wmAnyStream).size());
    }
}

} // namespace
} // namespace lumora
