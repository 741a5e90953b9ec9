// TBackvaultRegistry against the prefix's registry, in both views.
#include "registry/BackvaultRegistry.h"
#include "registry/RegistryException.h"
#include "registry/Wow64.h"
#include "services/Text.h"
#include "tests/registry/FakeBackvault.h"
#include "tests/registry/RecordingRegAccess.h"
#include "tests/support/TestRegistry.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace tidyhive {
namespace {

using testing::TFakeBackvault;
using testing::TRecordingRegAccess;
using testing::TTestKey;

std::string Show(const std::wstring &text)
{
    return WideToUtf8(text);
}

// Raw value data of any type below the test key.
void SetRaw(const TTestKey &key, const std::wstring &name, DWORD type, const void *data, DWORD size)
{
    HKEY handle = nullptr;
    ASSERT_EQ(RegOpenKeyExW(key.Root(), key.SubPath().c_str(), 0, KEY_SET_VALUE | key.View(), &handle),
              ERROR_SUCCESS);
    EXPECT_EQ(RegSetValueExW(handle, name.c_str(), 0, type, static_cast<const BYTE *>(data), size),
              ERROR_SUCCESS);
    RegCloseKey(handle);
}

class ViewTest : public ::testing::TestWithParam<bool> {
protected:
    bool View64() const { return GetParam(); }
    REGSAM View() const { return RegistryViewFlag(View64()); }
};

TEST_P(ViewTest, KeyInOneViewOnlyExists)
{
    // HKLM\Software is redirected, so the key lives in one view alone.
    TTestKey key(L"OneView", View64(), HKEY_LOCAL_MACHINE);
    HKEY other = nullptr;
    ASSERT_NE(RegOpenKeyExW(HKEY_LOCAL_MACHINE, key.SubPath().c_str(), 0,
                            KEY_READ | RegistryViewFlag(!View64()), &other),
              ERROR_SUCCESS)
        << "the key should not be visible in the other view";

    for (bool registryView64 : {false, true}) {
        TBackvaultRegistry registry(nullptr, KEY_ALL_ACCESS | RegistryViewFlag(registryView64));
        registry.SetRootKey(HKEY_LOCAL_MACHINE);
        EXPECT_TRUE(registry.KeyExists(key.SubPath()))
            << Show(key.SubPath()) << " registry view64=" << registryView64;
        EXPECT_TRUE(registry.KeyExists(L"\\" + key.SubPath()));
        EXPECT_EQ(registry.Access(), KEY_ALL_ACCESS | RegistryViewFlag(registryView64)) << "access restored";
        EXPECT_FALSE(registry.KeyExists(key.SubPath() + L"\\Missing"));
    }
}

TEST_P(ViewTest, ReadStringOfEveryKind)
{
    TTestKey key(L"Kinds", View64(), HKEY_LOCAL_MACHINE);
    const wchar_t text[] = L"C:\\a.exe";
    const wchar_t noZero[] = {L'a', L'b', L'c'};
    const wchar_t embedded[] = L"ab\0cd";
    const wchar_t multi[] = L"one\0two\0";
    const DWORD number = 5;
    const BYTE binary[] = {1, 2, 3};
    SetRaw(key, L"sz", REG_SZ, text, sizeof(text));
    SetRaw(key, L"expand", REG_EXPAND_SZ, L"%windir%\\x", sizeof(L"%windir%\\x"));
    SetRaw(key, L"emptySz", REG_SZ, L"", sizeof(wchar_t));
    SetRaw(key, L"zeroSize", REG_SZ, nullptr, 0);
    SetRaw(key, L"noZero", REG_SZ, noZero, sizeof(noZero));
    SetRaw(key, L"embedded", REG_SZ, embedded, sizeof(embedded));
    SetRaw(key, L"dword", REG_DWORD, &number, sizeof(number));
    SetRaw(key, L"multi", REG_MULTI_SZ, multi, sizeof(multi));
    SetRaw(key, L"binary", REG_BINARY, binary, sizeof(binary));
    SetRaw(key, L"", REG_SZ, L"default", sizeof(L"default"));

    TBackvaultRegistry registry(nullptr, KEY_READ | View());
    registry.SetRootKey(HKEY_LOCAL_MACHINE);
    ASSERT_TRUE(registry.OpenKey(key.SubPath(), false));

    struct Case {
        const wchar_t *name;
        const wchar_t *text; // null: raises ERegistryException
        TRegDataType type;
    };
    const Case cases[] = {
        {L"sz", L"C:\\a.exe", TRegDataType::rdString},
        {L"expand", L"%windir%\\x", TRegDataType::rdExpandString},
        {L"emptySz", L"", TRegDataType::rdString},
        {L"zeroSize", L"", TRegDataType::rdString},
        {L"noZero", L"abc", TRegDataType::rdString},
        {L"embedded", L"ab", TRegDataType::rdString},
        {L"", L"default", TRegDataType::rdString},
        {L"missing", L"", TRegDataType::rdUnknown},
        {L"dword", nullptr, TRegDataType::rdInteger},
        {L"multi", nullptr, TRegDataType::rdMultiString},
        {L"binary", nullptr, TRegDataType::rdBinary},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(registry.GetDataType(c.name), c.type) << Show(c.name);
        if (c.text) {
            EXPECT_EQ(registry.ReadString(c.name), c.text) << Show(c.name);
            continue;
        }
        try {
            const std::wstring read = registry.ReadString(c.name);
            ADD_FAILURE() << Show(c.name) << " read as \"" << Show(read) << "\" instead of raising";
        } catch (const ERegistryException &error) {
            EXPECT_NE(error.Message().find(c.name), std::wstring::npos) << Show(error.Message());
        }
    }
    EXPECT_EQ(registry.GetDataSize(L"missing"), -1);
    EXPECT_EQ(registry.GetDataSize(L"emptySz"), static_cast<long long>(sizeof(wchar_t)));
    EXPECT_TRUE(registry.ValueExists(L"zeroSize"));
    EXPECT_FALSE(registry.ValueExists(L"missing"));
}

INSTANTIATE_TEST_SUITE_P(BothViews, ViewTest, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool> &info) {
                             return info.param ? "View64" : "View32";
                         });

TEST(BackvaultRegistry, OpeningRelativeAndAbsoluteKeys)
{
    TTestKey key(L"Open");
    key.CreateSubKey(L"A\\B");
    TBackvaultRegistry registry(nullptr);
    registry.SetRootKey(HKEY_CURRENT_USER);

    ASSERT_TRUE(registry.OpenKey(key.SubPath(), false));
    EXPECT_EQ(registry.CurrentPath(), key.SubPath());
    ASSERT_TRUE(registry.OpenKey(L"A", false)) << "relative to the open key";
    EXPECT_EQ(registry.CurrentPath(), key.SubPath() + L"\\A");
    const HKEY before = registry.CurrentKey();
    EXPECT_FALSE(registry.OpenKey(L"Missing", false));
    EXPECT_EQ(registry.CurrentKey(), before) << "a failed open keeps the open key";
    EXPECT_EQ(registry.CurrentPath(), key.SubPath() + L"\\A");
    ASSERT_TRUE(registry.OpenKey(L"\\" + key.SubPath() + L"\\A\\B", false)) << "absolute, below the root";
    EXPECT_EQ(registry.CurrentPath(), key.SubPath() + L"\\A\\B");

    registry.SetRootKey(HKEY_USERS);
    EXPECT_EQ(registry.CurrentKey(), nullptr) << "a new root closes the open key";
    EXPECT_TRUE(registry.CurrentPath().empty());
    ASSERT_TRUE(registry.OpenKey(L"", false)) << "an empty key with none open opens the root";
    EXPECT_NE(registry.CurrentKey(), nullptr);
    EXPECT_TRUE(registry.CurrentPath().empty());
    TNameList names;
    registry.GetKeyNames(names);
    EXPECT_FALSE(names.empty()) << "HKEY_USERS lists its users";
}

TEST(BackvaultRegistry, NamesOfKeysAndValues)
{
    TTestKey key(L"Names");
    key.CreateSubKey(L"One");
    key.CreateSubKey(L"Two");
    key.SetString(L"", L"v1", L"x");
    key.SetString(L"", L"", L"default");
    TBackvaultRegistry registry(nullptr);
    ASSERT_TRUE(registry.OpenKey(key.SubPath(), false));
    TNameList names{L"stale"};
    registry.GetKeyNames(names);
    EXPECT_EQ(names, (TNameList{L"One", L"Two"}));
    registry.GetValueNames(names);
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (TNameList{L"", L"v1"}));
    TRegKeyInfo info;
    ASSERT_TRUE(registry.GetKeyInfo(info));
    EXPECT_EQ(info.numSubKeys, 2u);
    EXPECT_EQ(info.numValues, 2u);

    registry.CloseKey();
    registry.GetKeyNames(names);
    EXPECT_TRUE(names.empty()) << "no key open, no names";
    EXPECT_FALSE(registry.GetKeyInfo(info));
}

TEST(BackvaultRegistry, ChangesGoThroughTheBackupLibrary)
{
    TTestKey key(L"Recorded");
    TRecordingRegAccess access;
    TFakeBackvault backup(&access);
    {
        TBackvaultRegistry registry(&backup);
        EXPECT_TRUE(registry.Recorded());
        ASSERT_TRUE(registry.OpenKey(key.SubPath() + L"\\New", true));
        registry.WriteString(L"name", L"value");
        EXPECT_TRUE(registry.ValueExists(L"name"));
        EXPECT_EQ(registry.ReadString(L"name"), L"value");
        EXPECT_TRUE(registry.DeleteValue(L"name"));
        EXPECT_FALSE(registry.ValueExists(L"name"));
    }
    const std::wstring path = key.FullPath() + L"\\New";
    EXPECT_EQ(access.Calls(),
              (std::vector<std::wstring>{L"Create " + path, L"SetValue " + path + L" name",
                                         L"DeleteValue " + path + L" name", L"Close " + path}));
    EXPECT_EQ(access.OpenHandles(), 0u);
    EXPECT_EQ(access.References(), 1) << "every reference handed out was released";
    EXPECT_TRUE(key.Exists(L"New"));
}

TEST(BackvaultRegistry, WriteWithoutAKeyRaises)
{
    TBackvaultRegistry registry(nullptr);
    EXPECT_THROW(registry.WriteString(L"name", L"value"), ERegistryException);
    EXPECT_FALSE(registry.DeleteValue(L"name"));
}

TEST(BackvaultRegistry, DeletingTheBaseKeyItselfIsRefused)
{
    TTestKey key(L"Base");
    key.CreateSubKey(L"Child");
    key.SetString(L"", L"value", L"x");
    TRecordingRegAccess access;
    TFakeBackvault backup(&access);
    TBackvaultRegistry registry(&backup);
    ASSERT_TRUE(registry.OpenKey(key.SubPath(), false));
    access.Clear();
    EXPECT_FALSE(registry.DeleteKey(L""));
    EXPECT_FALSE(registry.DeleteKey(L"\\"));
    EXPECT_TRUE(access.Calls().empty()) << "nothing may be touched";
    EXPECT_TRUE(key.Exists(L"Child"));
    EXPECT_TRUE(key.ValueExists(L"", L"value"));
}

TEST(BackvaultRegistry, PartialFailureKeepsTheKey)
{
    TTestKey key(L"Partial");
    key.SetString(L"Sub", L"s", L"x");
    key.SetString(L"", L"a", L"1");
    key.SetString(L"", L"keep", L"2");
    key.SetString(L"", L"z", L"3");
    TRecordingRegAccess access;
    access.FailDeletionOfValue(L"keep");
    TFakeBackvault backup(&access);
    TBackvaultRegistry registry(&backup);
    const size_t slash = key.SubPath().rfind(L'\\');
    ASSERT_TRUE(registry.OpenKey(key.SubPath().substr(0, slash), false));
    const std::wstring name = key.SubPath().substr(slash + 1);

    EXPECT_FALSE(registry.DeleteKey(name));
    EXPECT_TRUE(key.Exists()) << "the key stays when a value cannot be removed";
    EXPECT_FALSE(key.Exists(L"Sub")) << "subkeys already deleted stay deleted";
    EXPECT_FALSE(key.ValueExists(L"", L"a"));
    EXPECT_TRUE(key.ValueExists(L"", L"keep"));
    EXPECT_TRUE(key.ValueExists(L"", L"z")) << "deletion stops at the first failure";
    for (const std::wstring &call : access.Calls()) {
        EXPECT_NE(call, L"DeleteKey " + key.FullPath()) << "the key itself must not be deleted";
    }
    EXPECT_EQ(access.OpenHandles(), 1u) << "only the key opened before stays open";
}

} // namespace
} // namespace tidyhive
