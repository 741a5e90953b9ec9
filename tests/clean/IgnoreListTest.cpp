// Ignore items, lists and the user's list file.
#include "clean/DefaultIgnoreLists.h"
#include "clean/EncodedStringList.h"
#include "clean/IgnoreListCollection.h"
#include "clean/LibStream.h"
#include "services/Text.h"
#include "tests/support/EngineLibrary.h"
#include "tests/support/TestRegistry.h"

#include <gtest/gtest.h>

#include <fstream>

namespace tidyhive {
namespace {

using testing::TTestFolder;
using testing::TTestKey;

struct MatchCase {
    const wchar_t* key;
    const wchar_t* value;
    bool ignored;
};

void ExpectMatches(TIgnoreList& list, std::initializer_list<MatchCase> cases)
{
    for (const MatchCase& c : cases) {
        EXPECT_EQ(list.Ignored(c.key, c.value), c.ignored)
            << "key " << WideToUtf8(c.key) << ", value " << WideToUtf8(c.value);
    }
}

TEST(IgnoreList, WholeKeyItemCoversTheKeyItsSubkeysAndEveryValue)
{
    TIgnoreList list;
    list.AddItem(L"HKEY_CURRENT_USER\\Software\\A", L"*");
    ExpectMatches(list, {{L"HKEY_CURRENT_USER\\Software\\A", L"", true},
                         {L"HKEY_CURRENT_USER\\Software\\A\\B", L"anything", true},
                         {L"hkey_current_user\\software\\a\\b\\c", L"x", true},
                         {L"HKEY_CURRENT_USER\\Software\\AB", L"", false},
                         {L"HKEY_CURRENT_USER\\Software", L"", false}});
}

TEST(IgnoreList, ValueItemCoversExactlyThatValueAndSpecialCharactersAreLiteral)
{
    TIgnoreList list;
    list.AddItem(L"HKEY_CURRENT_USER\\Software\\A", L"X");
    list.AddItem(L"HKEY_CLASSES_ROOT\\.t$t\\[x](y)", L"a.b*c+?{1}|^");
    ExpectMatches(list, {{L"HKEY_CURRENT_USER\\Software\\A", L"X", true},
                         {L"HKEY_CURRENT_USER\\Software\\A", L"x", true},
                         {L"HKEY_CURRENT_USER\\Software\\A", L"XY", false},
                         {L"HKEY_CURRENT_USER\\Software\\A\\B", L"X", false},
                         {L"HKEY_CLASSES_ROOT\\.t$t\\[x](y)", L"a.b*c+?{1}|^", true},
                         {L"HKEY_CLASSES_ROOT\\.tat\\x(y)", L"aXbc", false}});
}

TEST(IgnoreList, AddDropsOneTrailingBackslashAndShowsKeyAndValue)
{
    TIgnoreList list;
    EXPECT_EQ(list.AddItem(L"HKEY_CURRENT_USER\\Software\\A\\", L"v"), 0);
    EXPECT_EQ(testing::Take(list.GetItem(0)->GetKey()), L"HKEY_CURRENT_USER\\Software\\A");
    EXPECT_EQ(testing::Take(list.GetItem(0)->GetDisplay()), L"HKEY_CURRENT_USER\\Software\\A: v");
    EXPECT_EQ(list.IndexOfDisplay(L"hkey_current_user\\software\\a: V"), 0);
    EXPECT_EQ(list.GetItem(1), nullptr);
    list.DeleteItem(5);  // out of range: nothing
    EXPECT_EQ(list.GetCount(), 1);
    list.GetItem(0)->Delete();
    EXPECT_EQ(list.GetCount(), 0);
    EXPECT_FALSE(list.Ignored(L"HKEY_CURRENT_USER\\Software\\A", L"v"));
}

TEST(IgnoreList, ItemsThatCannotBeStoredAreRefused)
{
    TIgnoreList list;
    for (const wchar_t* bad : {L"a\r\nb", L"line\nbreak", L"x</key>y", L"<value>", L"<regex>z"}) {
        EXPECT_EQ(list.Add(L"HKEY_CURRENT_USER\\Software", bad), -1) << WideToUtf8(bad);
        EXPECT_EQ(list.Add(bad, L"v"), -1) << WideToUtf8(bad);
    }
    EXPECT_EQ(list.GetCount(), 0);
}

TEST(IgnoreList, LongListsSplitIntoSeveralGroupsThatAllMatch)
{
    TIgnoreList list;
    for (int i = 0; i < 200; ++i) {
        list.AddItem(L"HKEY_CURRENT_USER\\Software\\Vendor" + std::to_wstring(i) + L"\\Some\\Longer\\Path",
                     L"v");
    }
    EXPECT_GE(list.GroupCount(), 2u);
    EXPECT_TRUE(list.Ignored(L"HKEY_CURRENT_USER\\Software\\Vendor199\\Some\\Longer\\Path", L"v"));
    EXPECT_TRUE(list.Ignored(L"HKEY_CURRENT_USER\\Software\\Vendor0\\Some\\Longer\\Path", L"v"));
    EXPECT_FALSE(list.Ignored(L"HKEY_CURRENT_USER\\Software\\Vendor200\\Some\\Longer\\Path", L"v"));
    list.Clear();
    EXPECT_EQ(list.GroupCount(), 0u);
}

TEST(IgnoreList, UnreadableLinesAreLeftOutAndTheRestLoads)
{
    TTestKey key(L"Ignore");
    TEncodedStringList lines;
    lines.Add(L"<type>TIgnoreItem</type><key>" + key.FullPath() + L"</key><value>kept</value>");
    lines.Add(L"<type>TNoSuchItem</type><key>" + key.FullPath() + L"</key><value>x</value>");
    lines.Add(
        L"<type>TCustomIgnoreItem</type><key>k</key><value>v</value><display>d</display><regex>((</regex>");
    lines.Add(L"<type>TCustomIgnoreItem</type><key>k</key><value>v</value><display>custom</display>"
              L"<regex><key>custom\\\\.*</key></regex>");
    lines.Add(L"<type>TIgnoreItem</type><key>" + key.FullPath() + L"\\Gone</key><value>dropped</value>");
    TMemoryStream stream;
    lines.SaveToStream(stream);
    stream.Seek(0);

    TIgnoreList list;
    EXPECT_EQ(list.LoadFromStream(stream), 2u) << "the unknown class and the bad expression";
    ASSERT_EQ(list.Count(), 2);
    EXPECT_TRUE(list.Ignored(key.FullPath(), L"kept"));
    EXPECT_TRUE(list.Ignored(L"custom\\deep\\key", L"any"));
    EXPECT_EQ(list.Displays()[1], L"custom");
}

class IgnoreListFile : public ::testing::Test {
protected:
    TTestFolder folder;
    TTestKey key{L"IgnoreFile"};
    std::wstring fileName = folder.Path() + L"Quorvanta\\Registry Cleaner\\tidyhive.igl";
};

TEST_F(IgnoreListFile, SaveAndLoadRoundTripAndDeletedKeysAreDropped)
{
    const std::wstring kept = key.CreateSubKey(L"Kept");
    const std::wstring gone = key.CreateSubKey(L"Gone");
    {
        TIgnoreListCollection lists;
        EXPECT_TRUE(lists.Load(fileName).empty());
        lists.GetList(rctStartup)->AddItem(kept, L"Run \x00e9\x4e2d");
        lists.GetList(rctStartup)->AddItem(gone, L"*");
        lists.GetList(rctUndefined)->AddItem(kept, L"v");
        lists.Save();
    }
    ASSERT_NE(GetFileAttributesW(fileName.c_str()), INVALID_FILE_ATTRIBUTES) << "the folder is created too";
    RegDeleteKeyExW(key.Root(), (key.SubPath() + L"\\Gone").c_str(), key.View(), 0);

    TIgnoreListCollection loaded;
    loaded.Load(fileName);
    ASSERT_EQ(loaded.GetList(rctStartup)->Count(), 1);
    EXPECT_TRUE(loaded.GetList(rctStartup)->Ignored(kept, L"Run \x00e9\x4e2d"));
    EXPECT_EQ(loaded.GetList(rctUndefined)->Count(), 1);
    EXPECT_EQ(loaded.GetList(rctFonts)->Count(), 0);
    EXPECT_EQ(loaded.GetList(17), nullptr);
}

TEST_F(IgnoreListFile, SavingAllEmptyListsDeletesTheFile)
{
    TIgnoreListCollection lists;
    lists.Load(fileName);
    lists.GetList(rctFonts)->AddItem(key.FullPath(), L"v");
    lists.Save();
    ASSERT_NE(GetFileAttributesW(fileName.c_str()), INVALID_FILE_ATTRIBUTES);
    lists.ClearAll();
    lists.Save();
    EXPECT_EQ(GetFileAttributesW(fileName.c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST_F(IgnoreListFile, CorruptFileIsKeptAsideAndTheListsStartEmpty)
{
    {
        TIgnoreListCollection lists;
        lists.Load(fileName);
        lists.GetList(rctFonts)->AddItem(key.FullPath(), L"v");
        lists.Save();
    }
    {
        std::fstream file(fileName.c_str(), std::ios::in | std::ios::out | std::ios::binary);
        file.seekp(5);
        file.put('\x7f');  // a header byte
    }
    TIgnoreListCollection lists;
    const std::wstring aside = lists.Load(fileName);
    ASSERT_FALSE(aside.empty());
    EXPECT_NE(aside.find(L"tidyhive.igl.corrupt-"), std::wstring::npos) << WideToUtf8(aside);
    EXPECT_NE(GetFileAttributesW(aside.c_str()), INVALID_FILE_ATTRIBUTES) << "the user's file is kept";
    EXPECT_EQ(GetFileAttributesW(fileName.c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(lists.GetList(rctFonts)->Count(), 0);
}

TEST(DefaultIgnoreLists, BuiltInEntriesOfExistingKeysCoverTheirSubtrees)
{
    TIgnoreList software;
    LoadDefaultIgnoreList(rctSoftware, software);
    EXPECT_GT(software.Count(), 0) << "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft exists in every prefix";
    EXPECT_TRUE(software.Ignored(L"HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows", L"x"));
    EXPECT_FALSE(software.Ignored(L"HKEY_LOCAL_MACHINE\\SOFTWARE\\SomeVendor", L""));

    TIgnoreList fonts;
    LoadDefaultIgnoreList(rctFonts, fonts);
    EXPECT_EQ(fonts.Count(), 0) << "no built-in entries for fonts";
}

TEST(RootIgnoreLists, EveryTypeHasAListAndOutOfRangeIsEmpty)
{
    testing::TEngineLibrary library;
    testing::TRootOwner root(library.CreateRoot());
    for (int type = 0; type <= rctInternet; ++type) {
        EXPECT_NE(root->GetIgnoreList(static_cast<TCategoryType>(type)), nullptr) << type;
    }
    EXPECT_EQ(root->GetIgnoreList(17), nullptr);
    EXPECT_EQ(root->GetIgnoreList(255), nullptr);
    EXPECT_NE(root->GetIgnoreList(rctFonts), root->GetIgnoreList(rctStartup));
}

}  // namespace
}  // namespace tidyhive
