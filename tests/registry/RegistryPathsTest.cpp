// Registry path parsing and the 64-bit system helpers.
#include "registry/AccessRights.h"
#include "registry/RegistryException.h"
#include "registry/RegistryPaths.h"
#include "registry/Wow64.h"
#include "services/Text.h"

#include <gtest/gtest.h>

namespace tidyhive {
namespace {

std::string Show(const std::wstring &text)
{
    return WideToUtf8(text);
}

TEST(RegistryPaths, RootAndKeyOfAPath)
{
    struct Case {
        const wchar_t *path;
        HKEY root;
        const wchar_t *key;
    };
    const Case cases[] = {
        {L"HKEY_LOCAL_MACHINE\\Software\\Classes", HKEY_LOCAL_MACHINE, L"Software\\Classes"},
        {L"hkey_local_machine\\Software", HKEY_LOCAL_MACHINE, L"Software"},
        {L"Hkey_Current_User\\Software", HKEY_CURRENT_USER, L"Software"},
        // Short forms are not recognised: they fall back to HKEY_CLASSES_ROOT.
        {L"HKLM\\Software", HKEY_CLASSES_ROOT, L"Software"},
        {L"HKCU\\Software", HKEY_CLASSES_ROOT, L"Software"},
        {L"HKEY_USERS", HKEY_USERS, L""},
        {L"HKEY_USERS\\.DEFAULT\\Software", HKEY_USERS, L".DEFAULT\\Software"},
        {L"HKEY_CLASSES_ROOT\\.txt", HKEY_CLASSES_ROOT, L".txt"},
        {L"HKEY_PERFORMANCE_DATA\\Global", HKEY_PERFORMANCE_DATA, L"Global"},
        {L"HKEY_CURRENT_CONFIG\\System", HKEY_CURRENT_CONFIG, L"System"},
        {L"HKEY_DYN_DATA\\Config", HKEY_DYN_DATA, L"Config"},
        // A plain prefix test: no separator is required after the root name.
        {L"HKEY_USERSX\\Y", HKEY_USERS, L"Y"},
        {L"", HKEY_CLASSES_ROOT, L""},
        {L"HKEY_CURRENT_USER\\\\Software", HKEY_CURRENT_USER, L"\\Software"},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(ExtractRootFromKey(c.path), c.root) << Show(c.path);
        EXPECT_EQ(ExtractKeyWithotRoot(c.path), c.key) << Show(c.path);
    }
}

TEST(RegistryPaths, SecurityNames)
{
    struct Case {
        const wchar_t *path;
        const wchar_t *name;
    };
    const Case cases[] = {
        {L"HKEY_LOCAL_MACHINE\\Software\\X", L"MACHINE\\Software\\X"},
        {L"hkey_local_machine\\Software", L"MACHINE\\Software"},
        {L"HKEY_CLASSES_ROOT\\.txt", L"CLASSES_ROOT\\.txt"},
        {L"HKEY_CURRENT_USER\\Software", L"CURRENT_USER\\Software"},
        {L"HKEY_USERS\\.DEFAULT", L"USERS\\.DEFAULT"},
        {L"HKEY_CURRENT_CONFIG\\System", L""},
        {L"HKEY_PERFORMANCE_DATA\\Global", L""},
        {L"HKEY_DYN_DATA\\Config", L""},
        {L"HKEY_LOCAL_MACHINE", L""}, // the root alone has no backslash
        {L"HKLM\\Software", L""},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(RegPathToSecurityName(c.path), c.name) << Show(c.path);
    }
}

TEST(RegistryPaths, LastKey)
{
    struct Case {
        const wchar_t *path;
        const wchar_t *remaining;
        const wchar_t *last;
    };
    const Case cases[] = {
        {L"HKEY_CURRENT_USER\\Software\\Key", L"HKEY_CURRENT_USER\\Software", L"Key"},
        {L"Key", L"Key", L""},
        {L"Parent\\", L"Parent", L""},
        {L"", L"", L""},
    };
    for (const Case &c : cases) {
        std::wstring path = c.path;
        std::wstring last = L"stale";
        SplitLastKey(path, last);
        EXPECT_EQ(path, c.remaining) << Show(c.path);
        EXPECT_EQ(last, c.last) << Show(c.path);
    }
    EXPECT_EQ(ExtractLastKey(L"A\\B\\C"), L"C");
    EXPECT_EQ(ExtractLastKey(L"C"), L"C");
    EXPECT_EQ(ExtractLastKey(L"A\\"), L"");
}

TEST(RegistryPaths, ObjectNamesOfRoots)
{
    EXPECT_EQ(TFilesAccessRights::RegRootToObjectName(HKEY_LOCAL_MACHINE, L"Software\\X"),
              L"MACHINE\\Software\\X");
    EXPECT_EQ(TFilesAccessRights::RegRootToObjectName(HKEY_CLASSES_ROOT, L".txt"), L"CLASSES_ROOT\\.txt");
    EXPECT_EQ(TFilesAccessRights::RegRootToObjectName(HKEY_CURRENT_USER, L""), L"CURRENT_USER\\");
    EXPECT_EQ(TFilesAccessRights::RegRootToObjectName(HKEY_USERS, L".DEFAULT"), L"USERS\\.DEFAULT");
    try {
        TFilesAccessRights::RegRootToObjectName(HKEY_CURRENT_CONFIG, L"System");
        ADD_FAILURE() << "no exception for HKEY_CURRENT_CONFIG";
    } catch (const ERegistryException &error) {
        // The handle's 32-bit value, also in a 64-bit process where it is sign-extended.
        EXPECT_EQ(error.Message(), L"Unknown reg root: 2147483653");
    }
}

TEST(Wow64, SystemIsSixtyFourBitInBothBuilds)
{
    // The tests run on 64-bit Wine: a 32-bit process is under WOW64, a 64-bit one is native.
    EXPECT_TRUE(IsWow64());
    EXPECT_EQ(Wow64KeyAccessFlag(), static_cast<REGSAM>(KEY_WOW64_64KEY));
    EXPECT_EQ(RegistryViewFlag(true), static_cast<REGSAM>(KEY_WOW64_64KEY));
    EXPECT_EQ(RegistryViewFlag(false), static_cast<REGSAM>(KEY_WOW64_32KEY));
}

TEST(Wow64, RedirectionSwitchesAnswerSuccess)
{
    PVOID old = reinterpret_cast<PVOID>(static_cast<ULONG_PTR>(0x1234));
    ASSERT_TRUE(SuspendFsRedirection(old));
    if (sizeof(void *) == 8) {
        EXPECT_EQ(old, reinterpret_cast<PVOID>(static_cast<ULONG_PTR>(0x1234)))
            << "nothing to switch in 64 bits";
    }
    EXPECT_TRUE(ResumeFsRedirection(old));
    {
        TFsRedirectionSuspension suspension;
    }
}

} // namespace
} // namespace tidyhive
