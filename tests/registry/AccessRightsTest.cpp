// Effective rights, the locked-key test and making a key deletable, on real access lists.
#include "registry/AccessRights.h"
#include "registry/RegistryUtility.h"
#include "registry/SecurityObjects.h"
#include "registry/Wow64.h"
#include "services/Text.h"
#include "tests/registry/FakeBackvault.h"
#include "tests/registry/KeySecurity.h"
#include "tests/registry/LogCapture.h"
#include "tests/registry/RecordingRegAccess.h"
#include "tests/support/TestRegistry.h"

#include <gtest/gtest.h>

#include <aclapi.h>
#include <sddl.h>

#include <algorithm>
#include <vector>

namespace tidyhive {
namespace {

using testing::ForCurrentUser;
using testing::KeySecurityText;
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

// Denies the current user DELETE, with another owner (SYSTEM): Wine enforces a denying entry
// only against a caller who does not own the key. Administrators keep WRITE_DAC.
constexpr wchar_t kDenyDelete[] = L"O:SYD:(D;;SD;;;%U)(A;;KA;;;SY)(A;;KA;;;BA)(A;;KR;;;%U)";
// No WRITE_DAC for the user, but WRITE_OWNER: the list can be rewritten only after taking
// ownership.
constexpr wchar_t kOwnerOnly[] = L"O:SYD:(A;;KR;;;%U)(A;;WO;;;%U)(A;;KA;;;SY)";
// Neither READ_CONTROL nor WRITE_OWNER, but WRITE_DAC: the list cannot be read.
constexpr wchar_t kUnreadable[] = L"O:SYD:(D;;RCWO;;;%U)(A;;WD;;;%U)(A;;KA;;;SY)";

struct TEntry {
    BYTE type;
    BYTE flags;
    ACCESS_MASK mask;
    std::wstring sid;
    bool operator==(const TEntry &) const = default;
};

std::wstring SidText(PSID sid)
{
    LPWSTR text = nullptr;
    if (!sid || !ConvertSidToStringSidW(sid, &text)) {
        return L"?";
    }
    std::wstring result = text;
    LocalFree(text);
    return result;
}

std::vector<TEntry> ListOf(HKEY root, const std::wstring &subPath, REGSAM view)
{
    std::vector<TEntry> entries;
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, subPath.c_str(), 0, READ_CONTROL | view, &key) != ERROR_SUCCESS) {
        return entries;
    }
    PACL list = nullptr;
    TLocalMemory<void> descriptor;
    if (GetSecurityInfo(key, SE_REGISTRY_KEY, DACL_SECURITY_INFORMATION, nullptr, nullptr, &list, nullptr,
                        descriptor.Out()) == ERROR_SUCCESS &&
        list) {
        for (DWORD index = 0; index < list->AceCount; ++index) {
            void *ace = nullptr;
            GetAce(list, index, &ace);
            const TACEntry entry(static_cast<const ACE_HEADER *>(ace));
            entries.push_back({entry.Type(), entry.Flags(), entry.Mask(), SidText(entry.Sid())});
        }
    }
    RegCloseKey(key);
    return entries;
}

std::string Show(const std::vector<TEntry> &entries)
{
    std::string text;
    for (const TEntry &entry : entries) {
        char line[160];
        snprintf(line, sizeof(line), "[type %u flags %u mask 0x%lx %s] ", entry.type, entry.flags,
                 static_cast<unsigned long>(entry.mask), Show(entry.sid).c_str());
        text += line;
    }
    return text;
}

// The same subkey path in the other view, removed afterwards.
class TTwinKey {
public:
    TTwinKey(const TTestKey &key) : key_(key), view_(RegistryViewFlag(key.View() != KEY_WOW64_64KEY))
    {
        HKEY twin = nullptr;
        created_ = RegCreateKeyExW(key.Root(), key.SubPath().c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | view_,
                                   nullptr, &twin, nullptr) == ERROR_SUCCESS;
        if (created_) {
            RegCloseKey(twin);
        }
    }
    ~TTwinKey()
    {
        if (created_) {
            RegDeleteKeyExW(key_.Root(), key_.SubPath().c_str(), view_, 0);
        }
    }
    bool Exists() const
    {
        HKEY twin = nullptr;
        if (RegOpenKeyExW(key_.Root(), key_.SubPath().c_str(), 0, KEY_READ | view_, &twin) != ERROR_SUCCESS) {
            return false;
        }
        RegCloseKey(twin);
        return true;
    }
    REGSAM View() const { return view_; }
    bool Created() const { return created_; }

private:
    const TTestKey &key_;
    REGSAM view_;
    bool created_ = false;
};

TEST(AccessRights, OwnKeyIsUnlocked)
{
    for (bool view64 : {false, true}) {
        TTestKey key(L"Rights", view64, HKEY_LOCAL_MACHINE);
        const ACCESS_MASK rights = GetRegKeyEffectiveRights(key.FullPath(), key.View());
        EXPECT_EQ(rights & KEY_ALL_ACCESS, static_cast<ACCESS_MASK>(KEY_ALL_ACCESS))
            << Show(key.FullPath()) << " rights 0x" << std::hex << rights;
        EXPECT_TRUE(IsRegKeyUnlocked(key.FullPath(), key.View()));
        EXPECT_EQ(GetRegKeyEffectiveRights(key.FullPath() + L"\\Missing", key.View()), 0u);
    }
}

TEST(AccessRights, RootsWithoutSecurityNameCountAsLocked)
{
    TDebugLogCapture log;
    const std::wstring paths[] = {L"HKEY_CURRENT_CONFIG\\System", L"HKEY_CURRENT_CONFIG\\Software",
                                  L"HKEY_PERFORMANCE_DATA", L"HKEY_DYN_DATA\\Config"};
    for (const std::wstring &path : paths) {
        EXPECT_EQ(GetRegKeyEffectiveRights(path), 0u) << Show(path);
        EXPECT_FALSE(IsRegKeyUnlocked(path)) << Show(path);
        EXPECT_TRUE(log.Contains(L"Locked key: " + path)) << Show(path);
    }
    // A key there that the user fully controls is locked all the same.
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_CONFIG, L"Software", 0, KEY_ALL_ACCESS, &key) == ERROR_SUCCESS) {
        RegCloseKey(key);
        EXPECT_FALSE(IsRegKeyUnlocked(L"HKEY_CURRENT_CONFIG\\Software"));
    }
}

class LockedKeyTest : public ::testing::TestWithParam<bool> {};

TEST_P(LockedKeyTest, DenyingKeyIsMadeDeletableInItsView)
{
    const bool view64 = GetParam();
    TTestKey key(L"Locked", view64, HKEY_LOCAL_MACHINE);
    key.SetString(L"", L"value", L"x");
    key.SetString(L"Child", L"inner", L"y");
    TTwinKey twin(key);
    ASSERT_TRUE(twin.Created());
    TKeyUnlocker unlocker(key.Root(), key.SubPath(), key.View());
    ASSERT_EQ(SetKeySecurityText(key.Root(), key.SubPath(), key.View(), ForCurrentUser(kDenyDelete)), 0u);
    const std::wstring twinSecurity = KeySecurityText(key.Root(), key.SubPath(), twin.View());

    ASSERT_FALSE(IsRegKeyUnlocked(key.FullPath(), key.View())) << "the test key should be locked";
    HKEY probe = nullptr;
    EXPECT_EQ(RegOpenKeyExW(key.Root(), key.SubPath().c_str(), 0, DELETE | key.View(), &probe),
              ERROR_ACCESS_DENIED)
        << "the key should refuse deletion";

    TRecordingRegAccess access;
    TFakeBackvault backup(&access);
    TRegistryUtility utility(&backup);
    utility.Set64BitView(view64);
    EXPECT_TRUE(utility.DeleteKey(key.FullPath()));
    EXPECT_FALSE(key.Exists()) << "made deletable and deleted";

    const std::vector<std::wstring> changes = access.Changes();
    EXPECT_NE(std::find(changes.begin(), changes.end(), L"SetKeySecurity " + key.FullPath() + L" Dacl"),
              changes.end())
        << "the new list is written through the backup library";
    EXPECT_TRUE(twin.Exists()) << "the other view's key is not touched";
    EXPECT_EQ(KeySecurityText(key.Root(), key.SubPath(), twin.View()), twinSecurity);
    for (const auto &open : access.Opens()) {
        if (open.path.rfind(key.FullPath(), 0) == 0 && open.access != kExistenceProbe32 &&
            open.access != kExistenceProbe64) {
            EXPECT_EQ(open.access & kRegistryViewBits, key.View()) << Show(open.path);
        }
    }
}

TEST_P(LockedKeyTest, GrantKeepsEveryEntryAsItWas)
{
    const bool view64 = GetParam();
    TTestKey key(L"Grant", view64, HKEY_LOCAL_MACHINE);
    TKeyUnlocker unlocker(key.Root(), key.SubPath(), key.View());
    ASSERT_EQ(
        SetKeySecurityText(key.Root(), key.SubPath(), key.View(),
                           ForCurrentUser(L"O:SYD:(D;CI;SD;;;%U)(A;OICI;KA;;;SY)(A;;KA;;;BA)(A;CIIO;GR;;;BU)"
                                          L"(A;;KR;;;%U)")),
        0u);
    const std::vector<TEntry> before = ListOf(key.Root(), key.SubPath(), key.View());
    ASSERT_EQ(before.size(), 5u) << Show(before);
    ASSERT_EQ(before[0].type, ACCESS_DENIED_ACE_TYPE) << Show(before);

    TRecordingRegAccess access;
    const TRegAccessRoute route(&access);
    TFilesAccessRights rights(&route);
    ASSERT_TRUE(rights.CurrentUserEntry().has_value());
    EXPECT_TRUE(rights.GrantRegKeyFullAccess(key.Root(), key.SubPath(), key.View()));
    EXPECT_EQ(rights.ObjectName(), L"MACHINE\\" + key.SubPath());
    EXPECT_EQ(rights.ObjectKind(), SE_REGISTRY_KEY);
    EXPECT_EQ(rights.EntryListName(), rights.ObjectName());
    EXPECT_EQ(rights.EntryList().size(), before.size());

    const std::vector<TEntry> after = ListOf(key.Root(), key.SubPath(), key.View());
    ASSERT_EQ(after.size(), before.size() + 1) << Show(after);
    const TEntry user{ACCESS_ALLOWED_ACE_TYPE, OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE,
                      kCurrentUserEntryRights, testing::CurrentUserSidText()};
    EXPECT_EQ(after.front(), user) << Show(after);
    EXPECT_EQ(std::vector<TEntry>(after.begin() + 1, after.end()), before)
        << "before: " << Show(before) << "\nafter: " << Show(after);
    EXPECT_NE(KeySecurityText(key.Root(), key.SubPath(), key.View()).find(L"O:SY"), std::wstring::npos)
        << "the owner stays when the list could be written";
    EXPECT_TRUE(IsRegKeyUnlocked(key.FullPath(), key.View()));
    EXPECT_EQ(access.Changes(), (std::vector<std::wstring>{L"SetKeySecurity " + key.FullPath() + L" Dacl"}));
    EXPECT_EQ(access.OpenHandles(), 0u);
}

TEST_P(LockedKeyTest, OwnershipIsTakenWhenTheListMayNotBeWritten)
{
    const bool view64 = GetParam();
    TTestKey key(L"Owner", view64, HKEY_LOCAL_MACHINE);
    TKeyUnlocker unlocker(key.Root(), key.SubPath(), key.View());
    ASSERT_EQ(SetKeySecurityText(key.Root(), key.SubPath(), key.View(), ForCurrentUser(kOwnerOnly)), 0u);
    HKEY probe = nullptr;
    ASSERT_NE(RegOpenKeyExW(key.Root(), key.SubPath().c_str(), 0, WRITE_DAC | key.View(), &probe),
              ERROR_SUCCESS)
        << "the test key should refuse WRITE_DAC";

    TRecordingRegAccess access;
    TFakeBackvault backup(&access);
    TRegistryUtility utility(&backup);
    utility.Set64BitView(view64);
    EXPECT_TRUE(utility.DeleteKey(key.FullPath()));
    EXPECT_FALSE(key.Exists());
    EXPECT_EQ(access.Changes(), (std::vector<std::wstring>{L"SetKeySecurity " + key.FullPath() + L" Owner",
                                                           L"SetKeySecurity " + key.FullPath() + L" Dacl",
                                                           L"DeleteKey " + key.FullPath()}));
}

TEST_P(LockedKeyTest, UnreadableListIsLeftAlone)
{
    const bool view64 = GetParam();
    TTestKey key(L"Unreadable", view64, HKEY_LOCAL_MACHINE);
    TKeyUnlocker unlocker(key.Root(), key.SubPath(), key.View());
    ASSERT_EQ(SetKeySecurityText(key.Root(), key.SubPath(), key.View(), ForCurrentUser(kUnreadable)), 0u);

    TRecordingRegAccess access;
    const TRegAccessRoute route(&access);
    TFilesAccessRights rights(&route);
    EXPECT_FALSE(rights.GrantRegKeyFullAccess(key.Root(), key.SubPath(), key.View()));
    for (const std::wstring &call : access.Calls()) {
        EXPECT_EQ(call.find(L"SetKeySecurity"), std::wstring::npos) << Show(call);
    }
    HKEY probe = nullptr;
    ASSERT_EQ(RegOpenKeyExW(key.Root(), key.SubPath().c_str(), 0, WRITE_DAC | key.View(), &probe),
              ERROR_SUCCESS)
        << "the key and its WRITE_DAC entry are as they were";
    RegCloseKey(probe);
    EXPECT_EQ(GetRegKeyEffectiveRights(key.FullPath(), key.View()), 0u) << "still unreadable";
}

INSTANTIATE_TEST_SUITE_P(BothViews, LockedKeyTest, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool> &info) {
                             return info.param ? "View64" : "View32";
                         });

TEST(AccessRights, FullAccessKeyGetsNoSecurityCall)
{
    TTestKey key(L"Open");
    TRecordingRegAccess access;
    const TRegAccessRoute route(&access);
    TFilesAccessRights rights(&route);
    EXPECT_TRUE(rights.RegKeyHasFullAccess(key.Root(), key.SubPath(), key.View()));
    EXPECT_FALSE(rights.RegKeyHasFullAccess(key.Root(), key.SubPath() + L"\\Missing", key.View()));
    EXPECT_TRUE(access.Calls().empty()) << "the probe uses the plain registry";
}

TEST(AccessRights, EntriesKeepTheirKind)
{
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:(D;OICI;SD;;;WD)(A;CIIO;GR;;;BU)",
                                                                     SDDL_REVISION_1, &descriptor, nullptr));
    TLocalMemory<void> owner(descriptor);
    PACL list = nullptr;
    BOOL present = FALSE;
    BOOL defaulted = FALSE;
    ASSERT_TRUE(GetSecurityDescriptorDacl(descriptor, &present, &list, &defaulted));
    void *ace = nullptr;
    ASSERT_TRUE(GetAce(list, 0, &ace));
    const TACEntry deny(static_cast<const ACE_HEADER *>(ace));
    EXPECT_EQ(deny.Type(), ACCESS_DENIED_ACE_TYPE);
    EXPECT_EQ(deny.Flags(), OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE);
    EXPECT_EQ(deny.Mask(), static_cast<ACCESS_MASK>(DELETE));
    EXPECT_EQ(SidText(deny.Sid()), L"S-1-1-0");
    EXPECT_EQ(deny.SidLength(), 12u);
    ASSERT_TRUE(GetAce(list, 1, &ace));
    const TACEntry allow(static_cast<const ACE_HEADER *>(ace));
    EXPECT_EQ(allow.Type(), ACCESS_ALLOWED_ACE_TYPE);
    EXPECT_EQ(allow.Flags(), CONTAINER_INHERIT_ACE | INHERIT_ONLY_ACE);
    EXPECT_EQ(SidText(allow.Sid()), L"S-1-5-32-545");
}

} // namespace
} // namespace tidyhive
