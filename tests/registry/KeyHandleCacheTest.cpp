// Opening below cached ancestors must answer exactly as opening the whole path does, also
// after ancestors were deleted and made again and across the two registry views.
#include "registry/KeyHandleCache.h"
#include "registry/LookupMemo.h"
#include "registry/RegKey.h"
#include "services/Text.h"
#include "tests/support/TestRegistry.h"
#include "validation/AlgorithmRegistry.h"

#include <gtest/gtest.h>

#include <optional>

namespace tidyhive {
namespace {

using testing::TTestKey;

// The text of value "v" of the key behind a handle; empty when there is none.
std::wstring ValueOf(HKEY key)
{
    wchar_t text[64] = {};
    DWORD size = sizeof(text) - sizeof(wchar_t);
    if (RegQueryValueExW(key, L"v", nullptr, nullptr, reinterpret_cast<BYTE*>(text), &size) !=
        ERROR_SUCCESS) {
        return {};
    }
    return text;
}

// Opens path through the cache and answers the status and the key's value "v".
std::pair<LONG, std::wstring> OpenAndRead(TKeyHandleCache& cache, const TTestKey& key,
                                          const std::wstring& path)
{
    HKEY opened = nullptr;
    const LONG status = cache.Open(key.Root(), key.SubPath() + path, KEY_READ | key.View(), opened);
    const TRegKey owner(opened);
    return {status, opened ? ValueOf(opened) : std::wstring()};
}

TEST(KeyHandleCache, AnswersAsAWholePathOpenDoes)
{
    const TTestKey key(L"Cache");
    key.SetString(L"A\\B\\C", L"v", L"c");
    key.SetString(L"A\\B\\D", L"v", L"d");
    key.SetString(L"A", L"v", L"a");
    TKeyHandleCache cache;
    std::optional<TLookupMemoScope> scan(std::in_place);
    const struct {
        std::wstring path;
        LONG status;
        std::wstring value;
    } cases[] = {
        {L"\\A\\B\\C", ERROR_SUCCESS, L"c"},
        {L"\\a\\b\\d", ERROR_SUCCESS, L"d"},  // names compare without case
        {L"\\A", ERROR_SUCCESS, L"a"},        // an ancestor kept open, opened once more
        {L"\\A\\B\\Missing", ERROR_FILE_NOT_FOUND, L""},
        {L"\\A\\Missing\\C", ERROR_FILE_NOT_FOUND, L""},
        {L"\\A\\B\\C", ERROR_SUCCESS, L"c"},
    };
    for (const auto& c : cases) {
        const auto [status, value] = OpenAndRead(cache, key, c.path);
        EXPECT_EQ(status, c.status) << "path " << WideToUtf8(c.path);
        EXPECT_EQ(value, c.value) << "path " << WideToUtf8(c.path);
    }
    EXPECT_GT(cache.Size(), 0u);
    scan.reset();
    EXPECT_EQ(cache.Size(), 0u) << "no handle outlasts the scan";
    EXPECT_EQ(OpenAndRead(cache, key, L"\\A\\B\\C").second, L"c") << "outside a scan every path opens whole";
    EXPECT_EQ(cache.Size(), 0u);
}

TEST(KeyHandleCache, AncestorDeletedAndMadeAgainIsOpenedAfresh)
{
    const TTestKey key(L"Cache");
    key.SetString(L"A\\B\\C", L"v", L"first");
    TKeyHandleCache cache;
    const TLookupMemoScope scan;
    ASSERT_EQ(OpenAndRead(cache, key, L"\\A\\B\\C").second, L"first");

    HKEY parent = nullptr;
    ASSERT_EQ(RegOpenKeyExW(key.Root(), key.SubPath().c_str(), 0, KEY_ALL_ACCESS | key.View(), &parent),
              ERROR_SUCCESS);
    const TRegKey parentOwner(parent);
    ASSERT_EQ(RegDeleteTreeW(parent, L"A"), ERROR_SUCCESS);
    EXPECT_EQ(OpenAndRead(cache, key, L"\\A\\B\\C").first, ERROR_FILE_NOT_FOUND);

    key.SetString(L"A\\B\\C", L"v", L"second");
    const auto [status, value] = OpenAndRead(cache, key, L"\\A\\B\\C");
    EXPECT_EQ(status, ERROR_SUCCESS);
    EXPECT_EQ(value, L"second");
}

TEST(KeyHandleCache, KeepsTheViewsApart)
{
    // HKEY_LOCAL_MACHINE\Software is redirected: the two views hold different keys.
    const TTestKey view32(L"CacheView", false, HKEY_LOCAL_MACHINE, L"Software\\TidyhiveTests");
    view32.SetString(L"Deep\\Key", L"v", L"32");
    TKeyHandleCache cache;
    const TLookupMemoScope scan;
    EXPECT_EQ(OpenAndRead(cache, view32, L"\\Deep\\Key").second, L"32");
    HKEY opened = nullptr;
    EXPECT_EQ(
        cache.Open(HKEY_LOCAL_MACHINE, view32.SubPath() + L"\\Deep\\Key", KEY_READ | KEY_WOW64_64KEY, opened),
        ERROR_FILE_NOT_FOUND);
    const TRegKey owner(opened);
}

TEST(LookupMemo, KeepsAnswersWithinAScanOnly)
{
    const TTestKey key(L"Memo");
    TWin32AlgorithmRegistry registry;
    const std::wstring path = key.FullPath() + L"\\Later";
    {
        const TLookupMemoScope scan;
        EXPECT_FALSE(registry.KeyExists(path));
        key.CreateSubKey(L"Later");
        EXPECT_FALSE(registry.KeyExists(path)) << "judged as first looked at during the scan";
    }
    EXPECT_TRUE(registry.KeyExists(path)) << "outside a scan every lookup is fresh";
}

}  // namespace
}  // namespace tidyhive
