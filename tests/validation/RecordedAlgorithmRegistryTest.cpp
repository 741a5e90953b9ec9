// The algorithms' registry access in the engine: changes through the backup library, change
// counting from what was really there, existence in the selected view only.
#include "validation/RecordedAlgorithmRegistry.h"

#include "clean/RestoreManager.h"
#include "registry/RegistryUtility.h"
#include "registry/Wow64.h"
#include "services/Text.h"
#include "tests/registry/FakeBackvault.h"
#include "tests/registry/RecordingRegAccess.h"
#include "tests/support/TestRegistry.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tidyhive {
namespace {

using testing::TFakeBackvault;
using testing::TRecordingRegAccess;
using testing::TTestKey;

std::string Show(const std::vector<std::wstring>& list)
{
    std::string text;
    for (const std::wstring& item : list) {
        text += "\n  " + WideToUtf8(item);
    }
    return text;
}

ISettings* NoSettings()
{
    return nullptr;
}

TEST(RecordedAlgorithmRegistry, CountsOnlyRealChangesAndRecordsThem)
{
    TTestKey test(L"Recorded");
    test.SetString(L"K", L"v", L"x");
    test.SetString(L"K\\Sub", L"w", L"y");
    const std::wstring key = test.FullPath() + L"\\K";
    TRecordingRegAccess access;
    TFakeBackvault backup(&access);
    TRecordedAlgorithmRegistry registry(&backup);

    EXPECT_TRUE(registry.DeleteValue(key, L"missing"));
    EXPECT_TRUE(registry.DeleteValue(key + L"\\Nowhere", L"v"));
    bool success = false;
    EXPECT_TRUE(registry.DeleteKeySafe(key + L"\\Nowhere", success));
    EXPECT_TRUE(success);
    registry.WriteString(key + L"\\Nowhere", L"v", L"z");
    EXPECT_EQ(registry.ChangeCount(), 0u) << "nothing was there to change";
    EXPECT_TRUE(access.Changes().empty()) << Show(access.Changes());
    EXPECT_FALSE(test.Exists(L"K\\Nowhere")) << "a write never creates a key";

    EXPECT_TRUE(registry.DeleteValue(key, L"v"));
    EXPECT_EQ(registry.ChangeCount(), 1u);
    registry.WriteString(key, L"n", L"text");
    EXPECT_EQ(registry.ChangeCount(), 2u);
    EXPECT_EQ(registry.ReadStringSafe(key, L"n", success), L"text");
    EXPECT_TRUE(registry.DeleteKeySafe(key + L"\\Sub", success));
    EXPECT_TRUE(success);
    EXPECT_EQ(registry.ChangeCount(), 3u);
    EXPECT_FALSE(test.Exists(L"K\\Sub"));
    EXPECT_FALSE(test.ValueExists(L"K", L"v"));

    const std::vector<std::wstring> changes = access.Changes();
    for (const std::wstring& expected :
         {L"DeleteValue " + key + L" v", L"SetValue " + key + L" n", L"DeleteValue " + key + L"\\Sub w"}) {
        EXPECT_NE(std::find(changes.begin(), changes.end(), expected), changes.end())
            << WideToUtf8(expected) << " missing from" << Show(changes);
    }

    // A bare root is never deleted.
    EXPECT_FALSE(registry.DeleteKeySafe(L"HKEY_CURRENT_USER", success));
    EXPECT_FALSE(success);
    EXPECT_EQ(registry.ChangeCount(), 3u);
}

TEST(RecordedAlgorithmRegistry, KeyExistsLooksAtTheSelectedViewOnly)
{
    if (!IsWow64()) {
        GTEST_SKIP() << "a 32-bit system has one view";
    }
    TTestKey only64(L"Recorded", true, HKEY_LOCAL_MACHINE);
    only64.SetString(L"", L"v", L"x");
    TRecordedAlgorithmRegistry registry(nullptr);
    registry.Set64BitView(false);
    EXPECT_FALSE(registry.KeyExists(only64.FullPath()));
    // The deletion in the 32-bit view finds nothing there and changes nothing.
    EXPECT_TRUE(registry.DeleteValue(only64.FullPath(), L"v"));
    EXPECT_EQ(registry.ChangeCount(), 0u);
    EXPECT_TRUE(only64.ValueExists(L"", L"v"));
    registry.Set64BitView(true);
    EXPECT_TRUE(registry.KeyExists(only64.FullPath()));
    EXPECT_TRUE(registry.DeleteValue(only64.FullPath(), L"v"));
    EXPECT_EQ(registry.ChangeCount(), 1u);
    EXPECT_FALSE(only64.ValueExists(L"", L"v"));
}

TEST(RecordedAlgorithmRegistry, EngineAccessFollowsTheRestoreManager)
{
    TTestKey test(L"Recorded");
    test.SetString(L"", L"v", L"x");
    TRecordingRegAccess access;
    TFakeBackvault backup(&access);
    auto previous = TRestoreManager::ReplaceInstance(std::make_unique<TRestoreManager>(&backup, &NoSettings));
    std::unique_ptr<TAlgorithmRegistry> registry = CreateAlgorithmRegistry();
    EXPECT_TRUE(registry->DeleteValue(test.FullPath(), L"v"));
    TRestoreManager::ReplaceInstance(std::move(previous));
    EXPECT_EQ(access.Changes(), std::vector<std::wstring>{L"DeleteValue " + test.FullPath() + L" v"})
        << Show(access.Changes());
}

}  // namespace
}  // namespace tidyhive
