// The registry utilities against the prefix's registry, with a recording backup library.
#include "registry/PathFunctions.h"
#include "registry/RegistryPaths.h"
#include "registry/RegistryUtility.h"
#include "registry/Wow64.h"
#include "services/Text.h"
#include "tests/registry/FakeBackvault.h"
#include "tests/registry/KeySecurity.h"
#include "tests/registry/LogCapture.h"
#include "tests/registry/RecordingRegAccess.h"
#include "tests/support/TestRegistry.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <stdexcept>
#include <vector>

namespace tidyhive {
namespace {

using testing::ForCurrentUser;
using testing::SetKeySecurityText;
using testing::TDebugLogCapture;
using testing::TFakeBackvault;
using testing::TKeyUnlocker;
using testing::TRecordingRegAccess;
using testing::TTestKey;

std::string Show(const std::wstring &text)
{
    return WideToUtf8(text);
}

std::string Show(const std::vector<std::wstring> &lines)
{
    std::string text;
    for (const std::wstring &line : lines) {
        text += "\n  " + Show(line);
    }
    return text;
}

void SetRaw(const TTestKey &key, const std::wstring &relative, const std::wstring &name, DWORD type,
            const void *data, DWORD size)
{
    key.CreateSubKey(relative);
    const std::wstring path = relative.empty() ? key.SubPath() : key.SubPath() + L"\\" + relative;
    HKEY handle = nullptr;
    ASSERT_EQ(RegOpenKeyExW(key.Root(), path.c_str(), 0, KEY_SET_VALUE | key.View(), &handle), ERROR_SUCCESS);
    EXPECT_EQ(RegSetValueExW(handle, name.c_str(), 0, type, static_cast<const BYTE *>(data), size),
              ERROR_SUCCESS);
    RegCloseKey(handle);
}

// A backup library whose registry access fails by raising, as a broken library might.
class TThrowingRegAccess : public TRecordingRegAccess {
public:
    LONG STDMETHODCALLTYPE RegOpenKeyEx(HKEY, LPCWSTR, DWORD, REGSAM, PHKEY) override
    {
        throw std::runtime_error("open refused");
    }
};

class UtilityViewTest : public ::testing::TestWithParam<bool> {};

TEST_P(UtilityViewTest, RecursiveDeletionCallsInOrder)
{
    const bool view64 = GetParam();
    TTestKey key(L"Tree", view64, HKEY_LOCAL_MACHINE);
    key.SetString(L"", L"v1", L"1");
    key.SetString(L"", L"v2", L"2");
    key.SetString(L"A", L"a", L"x");
    key.SetString(L"A\\A1", L"x", L"y");
    key.CreateSubKey(L"B");
    key.CreateSubKey(L"C");

    TRecordingRegAccess access;
    TFakeBackvault backup(&access);
    TRegistryUtility utility(&backup);
    utility.Set64BitView(view64);
    ASSERT_TRUE(utility.DeleteKey(key.FullPath()));
    EXPECT_FALSE(key.Exists());

    const std::wstring k = key.FullPath();
    std::vector<std::wstring> expected;
    if (view64) {
        expected.push_back(L"Open " + k + L" failed"); // the existence probe tries the 32-bit view first
    }
    const std::vector<std::wstring> deletion = {
        L"Open " + k,
        L"Close " + k,
        // Subkeys from the highest index down, each emptied depth first before it goes.
        L"Open " + k,
        L"Open " + k + L"\\C",
        L"Close " + k + L"\\C",
        L"DeleteKey " + k + L"\\C",
        L"Open " + k + L"\\B",
        L"Close " + k + L"\\B",
        L"DeleteKey " + k + L"\\B",
        L"Open " + k + L"\\A",
        L"Open " + k + L"\\A\\A1",
        L"DeleteValue " + k + L"\\A\\A1 x",
        L"Close " + k + L"\\A\\A1",
        L"DeleteKey " + k + L"\\A\\A1",
        L"DeleteValue " + k + L"\\A a",
        L"Close " + k + L"\\A",
        L"DeleteKey " + k + L"\\A",
        // Then the key's values one by one, then the key.
        L"DeleteValue " + k + L" v1",
        L"DeleteValue " + k + L" v2",
        L"Close " + k,
        L"DeleteKey " + k,
    };
    expected.insert(expected.end(), deletion.begin(), deletion.end());
    EXPECT_EQ(access.Calls(), expected) << "calls:" << Show(access.Calls());
    for (REGSAM view : access.DeleteViews()) {
        EXPECT_EQ(view, key.View()) << "every deletion in the key's view";
    }
    EXPECT_EQ(access.OpenHandles(), 0u);
}

TEST_P(UtilityViewTest, ExistenceInEitherView)
{
    const bool view64 = GetParam();
    TTestKey key(L"Exists", view64, HKEY_LOCAL_MACHINE);
    TRegistryUtility utility(nullptr);
    TStdRegistryUtility reader;
    for (bool utilityView64 : {false, true}) {
        utility.Set64BitView(utilityView64);
        reader.Set64BitView(utilityView64);
        EXPECT_TRUE(utility.KeyExists(key.FullPath())) << "both views are probed";
        EXPECT_EQ(reader.KeyExists(key.FullPath()), utilityView64 == view64) << "only the selected view";
        EXPECT_FALSE(utility.KeyExists(key.FullPath() + L"\\Missing"));
    }
}

INSTANTIATE_TEST_SUITE_P(BothViews, UtilityViewTest, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool> &info) {
                             return info.param ? "View64" : "View32";
                         });

TEST(RegistryUtility, DeletionTraceLines)
{
    TTestKey key(L"Trace");
    key.SetString(L"Sub", L"value", L"x");
    TDebugLogCapture log;
    TRegistryUtility utility(nullptr);
    bool success = false;
    ASSERT_TRUE(utility.DeleteKeySafe(key.FullPath(), success));
    EXPECT_TRUE(success);

    const std::vector<std::wstring> lines = log.Lines();
    const std::vector<std::wstring> order = {
        L"TRegistryUtility.DeleteKeySafe",
        L"TRegistryUtility.DeleteKey",
        L"TRegistryUtility.DeleteKey.ExtractRootFromKey",
        L"TRegistryUtility.DeleteKey.ExtractKeyWithotRoot",
        L"TRegistryUtility.DeleteKey.RegKeyHasFullAccess",
        L"TRegistryUtility.DeleteKey.FRegistry.DeleteKey",
        L"TBackvaultRegistry.DeleteKey.Start",
        L"TBackvaultRegistry.DeleteKey.CurrentKey",
        L"TBackvaultRegistry.DeleteKey.ValuesDeleted",
        L"TBackvaultRegistry.DeleteKey.SetCurrentKey",
        L"TBackvaultRegistry.DeleteKey.Info.NumValues",
        L"TBackvaultRegistry.DeleteKey.Values.Count",
        L"TBackvaultRegistry.DeleteKey.GetBaseKey",
        L"TBackvaultRegistry.DeleteKey.BackvaultRegDeleteKeyEx",
        L"TRegistryUtility.DeleteKeySafe.End",
    };
    // Each line first appears in this order.
    size_t previous = 0;
    for (const std::wstring &line : order) {
        const auto found = std::find(lines.begin(), lines.end(), line);
        ASSERT_NE(found, lines.end()) << Show(line) << " missing from" << Show(lines);
        const size_t at = static_cast<size_t>(found - lines.begin());
        EXPECT_GE(at, previous) << Show(line) << " out of order in" << Show(lines);
        previous = at;
    }
}

TEST(RegistryUtility, KeyOpensOncePerPath)
{
    TTestKey key(L"Once");
    key.SetString(L"", L"a", L"1");
    TRecordingRegAccess access;
    TFakeBackvault backup(&access);
    TRegistryUtility utility(&backup);
    EXPECT_EQ(utility.ReadString(key.FullPath(), L"a"), L"1");
    EXPECT_EQ(utility.ReadString(key.FullPath(), L"a"), L"1");
    EXPECT_TRUE(utility.ValueExists(key.FullPath(), L"a"));
    EXPECT_EQ(access.Opens().size(), 1u) << Show(access.Calls());
    EXPECT_EQ(utility.CurrentPath(), key.FullPath());

    // The comparison is case-sensitive: another spelling opens the key again.
    std::wstring other = key.FullPath();
    std::transform(other.begin(), other.end(), other.begin(), ::towlower);
    EXPECT_EQ(utility.ReadString(other, L"a"), L"1");
    EXPECT_EQ(access.Opens().size(), 2u) << Show(access.Calls());
    EXPECT_TRUE(utility.OpenKey(L"")) << "an empty path changes nothing";
    EXPECT_EQ(utility.CurrentPath(), other);

    EXPECT_FALSE(utility.OpenKey(key.FullPath() + L"\\Missing"));
    EXPECT_TRUE(utility.CurrentPath().empty()) << "a failed open leaves no key open";
    utility.CloseKey();
    EXPECT_EQ(access.OpenHandles(), 0u);
}

TEST(RegistryUtility, MissingKeysAndValuesCountAsDeleted)
{
    TTestKey key(L"Missing");
    key.SetString(L"", L"present", L"x");
    TRecordingRegAccess access;
    TFakeBackvault backup(&access);
    TRegistryUtility utility(&backup);

    EXPECT_TRUE(utility.DeleteKey(key.FullPath() + L"\\Gone"));
    EXPECT_TRUE(utility.DeleteValue(key.FullPath(), L"absent"));
    EXPECT_TRUE(access.Changes().empty()) << Show(access.Changes());
    EXPECT_TRUE(key.ValueExists(L"", L"present"));

    EXPECT_TRUE(utility.DeleteValue(key.FullPath(), L"present"));
    EXPECT_FALSE(key.ValueExists(L"", L"present"));
    EXPECT_EQ(access.Changes(), (std::vector<std::wstring>{L"DeleteValue " + key.FullPath() + L" present"}));
    // A value in a key that does not open is reported as existing.
    EXPECT_TRUE(utility.ValueExists(key.FullPath() + L"\\Gone", L"any"));
}

TEST(RegistryUtility, RootsAloneAreNeverDeleted)
{
    TRecordingRegAccess access;
    TFakeBackvault backup(&access);
    TRegistryUtility utility(&backup);
    for (const wchar_t *path : {L"HKEY_CURRENT_USER", L"HKEY_CURRENT_USER\\", L"HKEY_USERS"}) {
        EXPECT_FALSE(utility.DeleteKey(path)) << Show(path);
    }
    EXPECT_TRUE(access.Changes().empty()) << Show(access.Changes());
}

TEST(RegistryUtility, EmptyKeys)
{
    TTestKey key(L"Empty");
    key.CreateSubKey(L"Nothing");
    key.SetString(L"DefaultOnly", L"", L"x");
    key.SetString(L"ValueOnly", L"v", L"");
    key.CreateSubKey(L"SubOnly\\Child");
    struct Case {
        const wchar_t *relative;
        bool empty;
    };
    const Case cases[] = {{L"Nothing", true},
                          {L"DefaultOnly", false},
                          {L"ValueOnly", false},
                          {L"SubOnly", false},
                          {L"Gone", false}};
    TRegistryUtility utility(nullptr);
    for (const Case &c : cases) {
        EXPECT_EQ(utility.KeyEmpty(key.FullPath() + L"\\" + c.relative), c.empty) << Show(c.relative);
    }
}

TEST(RegistryUtility, ReadStringOnlyReadsText)
{
    TTestKey key(L"Read");
    const wchar_t multi[] = L"one\0two\0";
    const DWORD number = 3;
    SetRaw(key, L"", L"multi", REG_MULTI_SZ, multi, sizeof(multi));
    SetRaw(key, L"", L"dword", REG_DWORD, &number, sizeof(number));
    SetRaw(key, L"", L"binary", REG_BINARY, "ab", 2);
    SetRaw(key, L"", L"empty", REG_SZ, L"", sizeof(wchar_t));
    SetRaw(key, L"", L"expand", REG_EXPAND_SZ, L"%TEMP%", sizeof(L"%TEMP%"));
    SetRaw(key, L"", L"", REG_SZ, L"default", sizeof(L"default"));
    struct Case {
        const wchar_t *name;
        const wchar_t *text;
    };
    const Case cases[] = {{L"multi", L""},        {L"dword", L""},   {L"binary", L""}, {L"empty", L""},
                          {L"expand", L"%TEMP%"}, {L"", L"default"}, {L"missing", L""}};
    TRegistryUtility utility(nullptr);
    TStdRegistryUtility reader;
    for (const Case &c : cases) {
        bool success = false;
        EXPECT_EQ(utility.ReadString(key.FullPath(), c.name), c.text) << Show(c.name);
        EXPECT_EQ(reader.ReadString(key.FullPath(), c.name), c.text) << Show(c.name);
        EXPECT_EQ(reader.ReadStringSafe(key.FullPath(), c.name, success), c.text) << Show(c.name);
        EXPECT_TRUE(success) << Show(c.name);
    }
    ASSERT_TRUE(utility.OpenKey(key.FullPath()));
    EXPECT_EQ(utility.GetDataType(L"multi"), TRegDataType::rdMultiString);
    EXPECT_EQ(utility.GetDataType(L"expand"), TRegDataType::rdExpandString);
    EXPECT_EQ(reader.ReadString(key.FullPath() + L"\\Gone", L"x"), L"");
}

TEST(RegistryUtility, NamesOfKeysAndValues)
{
    TTestKey key(L"Lists");
    key.CreateSubKey(L"K1");
    key.CreateSubKey(L"K2");
    key.SetString(L"", L"v", L"x");
    TRegistryUtility utility(nullptr);
    TStdRegistryUtility reader;
    TNameList names;
    for (TBaseRegistryUtility *each : std::initializer_list<TBaseRegistryUtility *>{&utility, &reader}) {
        ASSERT_TRUE(each->GetKeyNames(key.FullPath(), names));
        EXPECT_EQ(names, (TNameList{L"K1", L"K2"}));
        ASSERT_TRUE(each->GetValueNames(key.FullPath(), names));
        EXPECT_EQ(names, (TNameList{L"v"}));
        bool success = false;
        EXPECT_FALSE(each->GetKeyNamesSafe(key.FullPath() + L"\\Gone", names, success));
        EXPECT_TRUE(success) << "a missing key is an answer, not a failure";
        EXPECT_TRUE(names.empty());
    }
}

TEST(RegistryUtility, WriteString)
{
    TTestKey key(L"Write");
    TRecordingRegAccess access;
    TFakeBackvault backup(&access);
    TRegistryUtility utility(&backup);
    utility.WriteString(key.FullPath(), L"name", L"text");
    utility.WriteString(key.FullPath() + L"\\Gone", L"name", L"text");
    EXPECT_EQ(utility.ReadString(key.FullPath(), L"name"), L"text");
    EXPECT_EQ(access.Changes(), (std::vector<std::wstring>{L"SetValue " + key.FullPath() + L" name"}));
    EXPECT_FALSE(key.Exists(L"Gone")) << "never creates a key";
}

TEST(RegistryUtility, ViewSwitching)
{
    TRegistryUtility utility(nullptr);
    TStdRegistryUtility reader;
    EXPECT_EQ(utility.Registry().Access(), KEY_ALL_ACCESS | RegistryViewFlag(false));
    EXPECT_EQ(reader.Registry().Access(), KEY_READ | RegistryViewFlag(false));

    utility.Set64BitView(true);
    reader.Set64BitView(true);
    EXPECT_TRUE(utility.Is64BitView());
    EXPECT_EQ(utility.Registry().Access(), static_cast<REGSAM>(KEY_ALL_ACCESS | KEY_WOW64_64KEY));
    EXPECT_EQ(reader.Registry().Access(), static_cast<REGSAM>(KEY_READ | KEY_WOW64_64KEY));

    utility.Set64BitView(false);
    reader.Set64BitView(false);
    EXPECT_FALSE(utility.Is64BitView());
    EXPECT_EQ(utility.Registry().Access() & KEY_WOW64_64KEY, 0u);
    EXPECT_EQ(reader.Registry().Access() & KEY_WOW64_64KEY, 0u);
    EXPECT_EQ(utility.Registry().Access(), KEY_ALL_ACCESS | RegistryViewFlag(false));
}

TEST(RegistryUtility, ReaderReopensInTheNewView)
{
    TTestKey both(L"Both", false, HKEY_CURRENT_USER); // HKCU\Software is shared by the views
    TTestKey only32(L"Only32", false, HKEY_LOCAL_MACHINE);
    TStdRegistryUtility reader;
    ASSERT_TRUE(reader.OpenKey(both.FullPath()));
    reader.Set64BitView(true);
    EXPECT_EQ(reader.CurrentPath(), both.FullPath());
    EXPECT_NE(reader.Registry().CurrentKey(), nullptr) << "reopened in the 64-bit view";

    reader.Set64BitView(false);
    ASSERT_TRUE(reader.OpenKey(only32.FullPath()));
    reader.Set64BitView(true);
    EXPECT_TRUE(reader.CurrentPath().empty()) << "the key is not in the 64-bit view";
    EXPECT_FALSE(reader.OpenKey(only32.FullPath()));
}

TEST(RegistryUtility, PlainOperationsLogAndRaiseSafeOnesAnswerFalse)
{
    TTestKey key(L"Raise");
    TThrowingRegAccess access;
    TFakeBackvault backup(&access);
    TDebugLogCapture log;
    TRegistryUtility utility(&backup);

    EXPECT_THROW(utility.KeyExists(key.FullPath()), std::runtime_error);
    EXPECT_TRUE(log.Contains(L"RegistryUtility - KeyExists - open refused")) << Show(log.Lines());
    EXPECT_THROW(utility.ValueExists(key.FullPath(), L"v"), std::runtime_error);
    EXPECT_TRUE(log.Contains(L"RegistryUtility - OpenKey - open refused"));
    EXPECT_TRUE(log.Contains(L"RegistryUtility - ValueExists - open refused"));
    EXPECT_THROW(utility.KeyEmpty(key.FullPath()), std::runtime_error);
    EXPECT_TRUE(log.Contains(L"RegistryUtility - KeyEmpty - open refused"));

    bool success = true;
    EXPECT_FALSE(utility.KeyExistsSafe(key.FullPath(), success));
    EXPECT_FALSE(success);
    success = true;
    TNameList names;
    EXPECT_FALSE(utility.GetKeyNamesSafe(key.FullPath(), names, success));
    EXPECT_FALSE(success);
    success = true;
    EXPECT_FALSE(utility.GetValueNamesSafe(key.FullPath(), names, success));
    EXPECT_FALSE(success);
    success = true;
    EXPECT_EQ(utility.ReadStringSafe(key.FullPath(), L"v", success), L"");
    EXPECT_FALSE(success);
    success = true;
    EXPECT_FALSE(utility.DeleteKeySafe(key.FullPath(), success));
    EXPECT_FALSE(success);
    EXPECT_TRUE(log.Contains(L"open refused")) << "the message as an error line";
    EXPECT_TRUE(log.Contains(L"TRegistryUtility.DeleteKeySafe"));
    EXPECT_FALSE(log.Contains(L"TRegistryUtility.DeleteKeySafe.End")) << "only after a normal return";
    EXPECT_TRUE(key.Exists());
}

TEST(RegistryUtility, LockedKeyUnderRootWithoutSecurityNameFailsSafely)
{
    std::unique_ptr<TTestKey> key;
    try {
        key = std::make_unique<TTestKey>(L"Config", false, HKEY_CURRENT_CONFIG, L"Software\\TidyhiveTests");
    } catch (const std::exception &error) {
        GTEST_SKIP() << "cannot create a key under HKEY_CURRENT_CONFIG here: " << error.what();
    }
    TKeyUnlocker unlocker(key->Root(), key->SubPath(), key->View());
    ASSERT_EQ(SetKeySecurityText(key->Root(), key->SubPath(), key->View(),
                                 ForCurrentUser(L"O:SYD:(D;;SD;;;%U)(A;;KA;;;SY)(A;;KA;;;BA)(A;;KR;;;%U)")),
              0u);
    TDebugLogCapture log;
    TRegistryUtility utility(nullptr);
    try {
        utility.DeleteKey(key->FullPath());
        ADD_FAILURE() << "no exception for a key without a security name";
    } catch (const ERegistryException &error) {
        EXPECT_EQ(error.Message(), L"Unknown reg root: 2147483653");
    }
    bool success = true;
    EXPECT_FALSE(utility.DeleteKeySafe(key->FullPath(), success));
    EXPECT_FALSE(success);
    EXPECT_TRUE(log.Contains(L"Unknown reg root: 2147483653")) << Show(log.Lines());
    EXPECT_TRUE(key->Exists());
}

TEST(RegistryUtility, SafeCallCatchesEverything)
{
    TDebugLogCapture log;
    bool success = true;
    EXPECT_EQ(SafeCall(success, 5, []() -> int { throw ERegistryException(L"broken \u00e9"); }), 5);
    EXPECT_FALSE(success);
    EXPECT_EQ(SafeCall(success, 5, []() -> int { throw 42; }), 5);
    EXPECT_FALSE(success);
    EXPECT_EQ(SafeCall(success, 5, [] { return 6; }), 6);
    EXPECT_TRUE(success);
    EXPECT_TRUE(log.Contains(L"broken \u00e9")) << Show(log.Lines());
}

TEST(PathFunctions, DelimitedFields)
{
    struct Case {
        const wchar_t *text;
        const wchar_t *name;
        const wchar_t *value;
    };
    const Case cases[] = {
        {L"v2.10|Action=Allow|App=C:\\a.exe|Name=Tool|", L"App", L"C:\\a.exe"},
        {L"v2.10|Action=Allow|app=C:\\a.exe|Name=Tool|", L"APP", L"C:\\a.exe"},
        {L"v2.10|Name=Tool|", L"Name", L"Tool"},
        {L"v2.10|Name=Tool", L"Name", L"Tool"}, // no closing separator: to the end
        {L"v2.10|Action=Allow|", L"App", L""},
        {L"App|", L"App", L""},
        {L"App", L"App", L""},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(GetDelimitedField(c.text, c.name, L"|"), c.value) << Show(c.text) << " / " << Show(c.name);
    }
}

TEST(PathFunctions, ForceFoldersCreatesEveryLevel)
{
    testing::TTestFolder folder;
    const std::wstring deep = folder.Path() + L"a\\b\\c\\";
    ForceFolders(deep);
    const DWORD attributes = GetFileAttributesW(deep.c_str());
    EXPECT_NE(attributes, INVALID_FILE_ATTRIBUTES);
    EXPECT_TRUE(attributes & FILE_ATTRIBUTE_DIRECTORY);
    ForceFolders(deep); // existing folders are no error
}

TEST(PathFunctions, SearchPathFindsExecutables)
{
    const std::wstring found = SearchExecutableInPath(L"cmd");
    EXPECT_FALSE(found.empty()) << "cmd.exe through PATHEXT";
    EXPECT_TRUE(StartsWithText(ExtractLastKey(found), L"cmd.")) << Show(found);
    EXPECT_FALSE(SearchExecutableInPath(L"cmd.exe").empty());
    EXPECT_TRUE(SearchExecutableInPath(L"no-such-program-7f3a").empty());
    EXPECT_TRUE(SearchExecutableInPath(L"").empty());
}

} // namespace
} // namespace tidyhive
