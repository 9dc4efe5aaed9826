#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "framework/Registry.h"

namespace lumora {
namespace {

const char* kKey = "Software\\Test\\App";

std::vector<std::string> Names(const TStringList& list) {
    std::vector<std::string> out;
    for (int i = 0; i < list.Count(); ++i) out.push_back(list[i]);
    return out;
}

TEST(RegIniFile, TypedValuesRoundTripAsStrings) {
    auto store = std::make_shared<TMemoryRegistryStore>();
    {
        TRegIniFile ini(kKey, store);
        ini.WriteInteger("Setting", "Interval", -42);
        ini.WriteBool("Setting", "On", true);
        ini.WriteBool("Setting", "Off", false);
        ini.WriteString("Setting", "Folder", "/home/me/写真");
        ini.WriteString("Setting", "Junk", "12a");
        // Reads see the object's own writes before it is closed.
        EXPECT_EQ(ini.ReadInteger("Setting", "Interval", 5), -42);
    }
    TRegIniFile ini(kKey, store);
    EXPECT_EQ(ini.ReadInteger("Setting", "Interval", 5), -42);
    EXPECT_EQ(ini.ReadString("Setting", "Interval", ""), "-42");
    EXPECT_EQ(ini.ReadString("Setting", "On", ""), "1");
    EXPECT_TRUE(ini.ReadBool("Setting", "On", false));
    EXPECT_FALSE(ini.ReadBool("Setting", "Off", true));
    EXPECT_EQ(ini.ReadString("Setting", "Folder", ""), "/home/me/写真");
    // Not a number, a missing value, a missing section: the default.
    EXPECT_EQ(ini.ReadInteger("Setting", "Junk", 7), 7);
    EXPECT_EQ(ini.ReadInteger("Setting", "Missing", 8), 8);
    EXPECT_EQ(ini.ReadString("Nowhere", "Folder", "dflt"), "dflt");
    EXPECT_TRUE(ini.ReadBool("Nowhere", "On", true));
    EXPECT_FALSE(ini.SectionExists("Nowhere"));
}

TEST(RegIniFile, NonStringValuesFollowTheirType) {
    auto store = std::make_shared<TMemoryRegistryStore>();
    {
        TRegistry reg(store);
        ASSERT_TRUE(reg.OpenKey(std::string(kKey) + "\\Setting", true));
        reg.WriteInteger("Count", 10);
        reg.WriteBinaryData("Raw", std::string("\x01\x02", 2));
        reg.WriteExpandString("Path", "%HOME%/x");
    }
    TRegIniFile ini(kKey, store);
    EXPECT_EQ(ini.ReadInteger("Setting", "Count", 0), 10);
    EXPECT_THROW(ini.ReadString("Setting", "Count", ""), ERegistryException);
    EXPECT_THROW(ini.ReadString("Setting", "Raw", ""), ERegistryException);
    EXPECT_THROW(ini.ReadInteger("Setting", "Raw", 0), ERegistryException);
    EXPECT_EQ(ini.ReadString("Setting", "Path", ""), "%HOME%/x");
}

TEST(RegIniFile, NamesIgnoreCaseKeepCaseAndCreationOrder) {
    auto store = std::make_shared<TMemoryRegistryStore>();
    {
        TRegIniFile ini(kKey, store);
        ini.WriteString("GroupDef", "GP10", "c");
        ini.WriteString("GroupDef", "GP9", "b");
        ini.WriteString("GroupDef", "gp0", "a");
        ini.WriteString("GROUPDEF", "GP0", "A"); // same value, new text, old name and place
        ini.WriteString("Ä", "ö", "umlaut");
    }
    TRegIniFile ini(kKey, store);
    TStringList names;
    ini.ReadSection("groupdef", names);
    EXPECT_EQ(Names(names), (std::vector<std::string>{"GP10", "GP9", "gp0"}));
    EXPECT_EQ(ini.ReadString("GroupDef", "Gp0", ""), "A");
    EXPECT_EQ(ini.ReadString("ä", "Ö", ""), "umlaut");
    ini.ReadSections(names);
    EXPECT_EQ(Names(names), (std::vector<std::string>{"GroupDef", "Ä"}));
    EXPECT_TRUE(ini.ValueExists("GROUPDEF", "gp10"));
    EXPECT_FALSE(ini.ValueExists("GroupDef", "GP11"));
}

TEST(RegIniFile, EraseAndDelete) {
    auto store = std::make_shared<TMemoryRegistryStore>();
    {
        TRegIniFile ini(kKey, store);
        ini.WriteString("GP0", "GP0-0", "x");
        ini.WriteString("GP0\\Deeper", "v", "y");
        ini.WriteString("Keep", "a", "1");
        ini.WriteString("Keep", "b", "2");
    }
    {
        TRegIniFile ini(kKey, store);
        ini.EraseSection("gp0");
        ini.DeleteKey("Keep", "A");
        ini.EraseSection(""); // the key itself is never erased as a section
    }
    TRegIniFile ini(kKey, store);
    EXPECT_FALSE(ini.SectionExists("GP0"));
    EXPECT_FALSE(ini.SectionExists("GP0\\Deeper"));
    EXPECT_FALSE(ini.ValueExists("Keep", "a"));
    EXPECT_EQ(ini.ReadString("Keep", "b", ""), "2");
}

TEST(RegIniFile, OneReadAndOneWritePerObject) {
    auto store = std::make_shared<TMemoryRegistryStore>();
    {
        TRegIniFile ini(kKey, store); // creates the key: one write when it closes
        for (int i = 0; i < 50; ++i) ini.WriteInteger("S", 'V' + std::to_string(i), i);
    }
    EXPECT_EQ(store->WriteCount(), 1);
    {
        TRegIniFile ini(kKey, store);
        EXPECT_EQ(ini.ReadInteger("S", "V7", 0), 7);
        ini.WriteInteger("S", "V7", 7); // the same value again changes nothing
    }
    EXPECT_EQ(store->WriteCount(), 1);
}

TEST(RegIniFile, ReadOnlyObjectLeavesAMissingKeyMissing) {
    auto store = std::make_shared<TMemoryRegistryStore>();
    {
        TRegIniFile ini(kKey, store, TRegIniFile::ReadOnly);
        EXPECT_EQ(ini.ReadString("S", "V", "dflt"), "dflt");
        EXPECT_FALSE(ini.SectionExists(""));
    }
    EXPECT_EQ(store->WriteCount(), 0);
    EXPECT_FALSE(TRegistry(store).KeyExists(kKey));
    {
        // Writing through it still creates what it writes.
        TRegIniFile ini(kKey, store, TRegIniFile::ReadOnly);
        ini.WriteString("S", "V", "x");
    }
    EXPECT_EQ(TRegIniFile(kKey, store).ReadString("S", "V", ""), "x");
}

TEST(RegIniFile, TwoOpenObjectsKeepEachOthersWrites) {
    auto store = std::make_shared<TMemoryRegistryStore>();
    {
        TRegIniFile a(kKey, store);
        TRegIniFile b(kKey, store);
        a.WriteString("S", "FromA", "a");
        b.WriteString("S", "FromB", "b");
        b.EraseSection("Other");
    }
    TRegIniFile ini(kKey, store);
    EXPECT_EQ(ini.ReadString("S", "FromA", ""), "a");
    EXPECT_EQ(ini.ReadString("S", "FromB", ""), "b");
}

TEST(RegIniFile, FailedWriteIsReportedAndChangesNothing) {
    auto store = std::make_shared<TMemoryRegistryStore>();
    {
        TRegIniFile ini(kKey, store);
        ini.WriteString("S", "Old", "1");
    }
    store->FailWrites = true;
    {
        TRegIniFile ini(kKey, store);
        ini.WriteString("S", "Old", "2");
        ini.WriteString("S", "New", "3");
        EXPECT_THROW(ini.UpdateFile(), ERegistryException);
    }
    store->FailWrites = false;
    TRegIniFile ini(kKey, store);
    EXPECT_EQ(ini.ReadString("S", "Old", ""), "1");
    EXPECT_FALSE(ini.ValueExists("S", "New"));
}

TEST(RegistryBatch, SeveralObjectsWriteAsOneUpdateOrNotAtAll) {
    auto store = std::make_shared<TMemoryRegistryStore>();
    {
        TRegIniFile ini(kKey, store);
        ini.WriteString("S", "Kept", "1");
    }
    auto batch = std::make_shared<TRegistryBatch>(store);
    {
        TRegIniFile a(kKey, batch);
        a.WriteString("S", "A", "a");
        a.UpdateFile();
        TRegIniFile b(kKey, batch);
        EXPECT_EQ(b.ReadString("S", "A", ""), "a"); // the batch reads its own updates
        b.WriteString("S", "B", "b");
    }
    {
        // Meanwhile someone else writes: the batch lands on top of it.
        TRegIniFile other(kKey, store);
        other.WriteString("S", "Other", "o");
    }
    EXPECT_EQ(store->WriteCount(), 2);
    store->FailWrites = true;
    EXPECT_THROW(batch->Commit(), ERegistryException);
    store->FailWrites = false;
    EXPECT_FALSE(TRegIniFile(kKey, store).ValueExists("S", "A"));

    auto retry = std::make_shared<TRegistryBatch>(store);
    {
        TRegIniFile a(kKey, retry);
        a.WriteString("S", "A", "a");
        TRegIniFile b(kKey, retry);
        b.WriteString("S", "B", "b");
    }
    retry->Commit();
    EXPECT_EQ(store->WriteCount(), 3);
    TRegIniFile ini(kKey, store);
    EXPECT_EQ(ini.ReadString("S", "A", ""), "a");
    EXPECT_EQ(ini.ReadString("S", "B", ""), "b");
    EXPECT_EQ(ini.ReadString("S", "Other", ""), "o");
    EXPECT_EQ(ini.ReadString("S", "Kept", ""), "1");
}

TEST(Registry, KeyNavigation) {
    auto store = std::make_shared<TMemoryRegistryStore>();
    TRegistry reg(store);
    EXPECT_FALSE(reg.OpenKey("Software\\Missing", false));
    ASSERT_TRUE(reg.OpenKey("Software\\A", true));
    ASSERT_TRUE(reg.OpenKey("B\\C", true)); // relative to the open key
    EXPECT_EQ(reg.CurrentPath(), "Software\\A\\B\\C");
    reg.WriteString("", "default value");
    EXPECT_TRUE(reg.KeyExists("\\Software\\a\\b"));
    ASSERT_TRUE(reg.OpenKey("\\Software\\A", false));
    TStringList names;
    reg.GetKeyNames(names);
    EXPECT_EQ(Names(names), std::vector<std::string>{"B"});
    EXPECT_TRUE(reg.DeleteKey("B"));
    EXPECT_FALSE(reg.KeyExists("B"));
    EXPECT_FALSE(reg.DeleteKey("\\")); // the root is never deleted
    EXPECT_FALSE(reg.OpenKey("Bad\nName", true));
    EXPECT_THROW(reg.WriteString("Bad\nName", "x"), ERegistryException);
    ASSERT_TRUE(reg.OpenKeyReadOnly("\\Software\\A"));
    EXPECT_THROW(reg.WriteString("x", "y"), ERegistryException);
    reg.CloseKey();
    TRegistry again(store);
    EXPECT_TRUE(again.KeyExists("Software\\A"));
    EXPECT_FALSE(again.KeyExists("Software\\A\\B"));
}

} // namespace
} // namespace lumora
