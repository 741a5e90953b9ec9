// Sessions of Backvault.dll: what a restore does with later edits, keys a session created,
// security it changed, the session list, and the calls it refuses.
#include "tests/support/BackvaultTesting.h"
#include "tests/support/TestRegistry.h"

#include <gtest/gtest.h>
#include <sddl.h>

namespace tidyhive::testing {
namespace {

std::wstring ReadString(const TTestKey &key, const std::wstring &relative, const std::wstring &name)
{
    const std::wstring path = relative.empty() ? key.SubPath() : key.SubPath() + L"\\" + relative;
    wchar_t text[256] = {};
    DWORD size = sizeof(text);
    if (RegGetValueW(HKEY_CURRENT_USER, path.c_str(), name.c_str(), RRF_RT_REG_SZ, nullptr, text, &size) !=
        ERROR_SUCCESS) {
        return L"<missing>";
    }
    return text;
}

HKEY OpenThrough(IRegAccess *reg, const TTestKey &key, const std::wstring &relative = {})
{
    const std::wstring path = relative.empty() ? key.SubPath() : key.SubPath() + L"\\" + relative;
    HKEY handle = nullptr;
    EXPECT_EQ(
        reg->RegOpenKeyEx(HKEY_CURRENT_USER, path.c_str(), 0, KEY_ALL_ACCESS | KEY_WOW64_64KEY, &handle),
        ERROR_SUCCESS);
    return handle;
}

void SetThrough(IRegAccess *reg, HKEY key, const std::wstring &name, const std::wstring &text)
{
    EXPECT_EQ(reg->RegSetValueEx(key, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE *>(text.c_str()),
                                 static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t))),
              ERROR_SUCCESS);
}

std::wstring Sddl(HKEY root, const std::wstring &path)
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, path.c_str(), 0, READ_CONTROL | KEY_WOW64_64KEY, &key) != ERROR_SUCCESS) {
        return L"<no key>";
    }
    BYTE descriptor[4096] = {};
    DWORD size = sizeof(descriptor);
    RegGetKeySecurity(key, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, descriptor, &size);
    RegCloseKey(key);
    wchar_t *text = nullptr;
    ConvertSecurityDescriptorToStringSecurityDescriptorW(
        descriptor, SDDL_REVISION_1, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &text, nullptr);
    std::wstring result = text ? text : L"<unreadable>";
    LocalFree(text);
    return result;
}

TEST(BackvaultSession, LaterEditIsAConflictLeftAloneUntilOverwriteIsAsked)
{
    TTestFolder storage;
    TBackvaultInstance backvault(storage.Path() + L"Sessions");
    TTestKey key(L"Conflict", true);
    key.SetString({}, L"Edited later", L"original a");
    key.SetString({}, L"Deleted", L"original b");
    key.SetString({}, L"Replaced", L"original c");

    const std::wstring id = backvault.Begin();
    HKEY handle = OpenThrough(backvault.reg(), key);
    SetThrough(backvault.reg(), handle, L"Edited later", L"cleaned a");
    EXPECT_EQ(backvault.reg()->RegDeleteValue(handle, L"Deleted"), ERROR_SUCCESS);
    SetThrough(backvault.reg(), handle, L"Replaced", L"cleaned c");
    SetThrough(backvault.reg(), handle, L"Added", L"new d");
    // Data without its terminator, followed by a zero: the registry adds one; a restore
    // must still recognise the value as the session left it.
    const wchar_t unterminated[] = {L'x', L'y', 0};
    EXPECT_EQ(backvault.reg()->RegSetValueEx(handle, L"Short", 0, REG_SZ,
                                             reinterpret_cast<const BYTE *>(unterminated),
                                             2 * sizeof(wchar_t)),
              ERROR_SUCCESS);
    backvault.reg()->RegCloseKey(handle);
    EXPECT_EQ(backvault->EndSession(TRUE), 1);

    key.SetString({}, L"Edited later", L"the user's own edit");

    std::wstring report;
    EXPECT_EQ(backvault.Restore(id, false, report), S_FALSE) << report;
    EXPECT_EQ(ReadString(key, {}, L"Edited later"), L"the user's own edit");
    EXPECT_EQ(ReadString(key, {}, L"Deleted"), L"original b");
    EXPECT_EQ(ReadString(key, {}, L"Replaced"), L"original c");
    EXPECT_EQ(ReadString(key, {}, L"Added"), L"<missing>");
    EXPECT_FALSE(key.ValueExists({}, L"Short")) << report;
    EXPECT_NE(report.find(L"Conflict: value \"Edited later\" of HKEY_CURRENT_USER\\" + key.SubPath() +
                          L" (64-bit view) was changed after the session; left as it is."),
              std::wstring::npos)
        << report;
    EXPECT_NE(report.find(L"Restored the value \"Deleted\""), std::wstring::npos) << report;
    EXPECT_NE(report.find(L"Removed the value \"Added\""), std::wstring::npos) << report;
    EXPECT_NE(report.find(L"conflicts left as they are: 1"), std::wstring::npos) << report;

    // Again: the conflict is still reported, everything else is in place already.
    EXPECT_EQ(backvault.Restore(id, false, report), S_FALSE) << report;
    EXPECT_NE(report.find(L"Restored: 0, already in place: 4, conflicts left as they are: 1"),
              std::wstring::npos)
        << report;

    // Overwriting puts the recorded state back; a further restore finds nothing to do.
    EXPECT_EQ(backvault.Restore(id, true, report), S_OK) << report;
    EXPECT_EQ(ReadString(key, {}, L"Edited later"), L"original a");
    EXPECT_NE(report.find(L"was changed after the session; overwritten."), std::wstring::npos) << report;
    EXPECT_EQ(backvault.Restore(id, false, report), S_OK) << report;
    EXPECT_NE(report.find(L"Restored: 0, already in place: 5, conflicts left as they are: 0"),
              std::wstring::npos)
        << report;
}

TEST(BackvaultSession, KeysTheSessionCreatedAreRemovedWhileEmpty)
{
    TTestFolder storage;
    TBackvaultInstance backvault(storage.Path() + L"Sessions");
    TTestKey key(L"Created", true);
    key.SetString(L"Existing", L"Keep", L"kept");

    const std::wstring id = backvault.Begin();
    HKEY handle = OpenThrough(backvault.reg(), key);
    HKEY created = nullptr;
    DWORD disposition = 0;
    ASSERT_EQ(backvault.reg()->RegCreateKeyEx(handle, L"New\\Deeper\\Deepest", 0, nullptr, 0,
                                              KEY_ALL_ACCESS | KEY_WOW64_64KEY, nullptr, &created,
                                              &disposition),
              ERROR_SUCCESS);
    EXPECT_EQ(disposition, static_cast<DWORD>(REG_CREATED_NEW_KEY));
    SetThrough(backvault.reg(), created, L"Value", L"in a new key");
    backvault.reg()->RegCloseKey(created);
    HKEY existing = nullptr;
    ASSERT_EQ(backvault.reg()->RegCreateKeyEx(handle, L"Existing", 0, nullptr, 0,
                                              KEY_ALL_ACCESS | KEY_WOW64_64KEY, nullptr, &existing,
                                              &disposition),
              ERROR_SUCCESS);
    EXPECT_EQ(disposition, static_cast<DWORD>(REG_OPENED_EXISTING_KEY));
    backvault.reg()->RegCloseKey(existing);
    backvault.reg()->RegCloseKey(handle);
    backvault->EndSession(TRUE);

    // A key the user filled in after the session stays, as a conflict.
    key.SetString(L"New\\Sibling", L"Mine", L"the user's");
    std::wstring report;
    EXPECT_EQ(backvault.Restore(id, false, report), S_FALSE) << report;
    EXPECT_FALSE(key.Exists(L"New\\Deeper")) << report;
    EXPECT_TRUE(key.Exists(L"New\\Sibling")) << report;
    EXPECT_TRUE(key.ValueExists(L"Existing", L"Keep"));
    EXPECT_NE(report.find(L"Conflict: the key HKEY_CURRENT_USER\\" + key.SubPath() + L"\\New (64-bit view)"),
              std::wstring::npos)
        << report;

    EXPECT_EQ(backvault.Restore(id, true, report), S_OK) << report;
    EXPECT_FALSE(key.Exists(L"New")) << report;
    EXPECT_TRUE(key.ValueExists(L"Existing", L"Keep"));
}

TEST(BackvaultSession, OwnerAndPermissionsChangedBeforeADeletionComeBack)
{
    TTestFolder storage;
    TBackvaultInstance backvault(storage.Path() + L"Sessions");
    TTestKey key(L"Security", true);
    key.SetString(L"Locked", L"Value", L"data");
    const std::wstring path = key.SubPath() + L"\\Locked";
    // An access list of the key's own, protected from inheritance, with a deny entry.
    PSECURITY_DESCRIPTOR original = nullptr;
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(
        L"D:P(D;;KA;;;AN)(A;;KA;;;BA)(A;;KA;;;SY)(A;;KR;;;WD)(A;;KA;;;CO)", SDDL_REVISION_1, &original,
        nullptr));
    {
        HKEY locked = nullptr;
        RegOpenKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, KEY_ALL_ACCESS | KEY_WOW64_64KEY, &locked);
        ASSERT_EQ(RegSetKeySecurity(locked, DACL_SECURITY_INFORMATION, original), ERROR_SUCCESS);
        RegCloseKey(locked);
    }
    LocalFree(original);
    const std::wstring before = Sddl(HKEY_CURRENT_USER, path);
    ASSERT_NE(before.find(L"(D;;KA;;;AN)"), std::wstring::npos) << before;

    // As the engine makes a key deletable: everyone gets full access, then the key goes.
    const std::wstring id = backvault.Begin();
    HKEY handle = OpenThrough(backvault.reg(), key, L"Locked");
    PSECURITY_DESCRIPTOR open = nullptr;
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:P(A;;KA;;;WD)", SDDL_REVISION_1,
                                                                     &open, nullptr));
    EXPECT_EQ(backvault.reg()->RegSetKeySecurity(handle, DACL_SECURITY_INFORMATION, open), ERROR_SUCCESS);
    LocalFree(open);
    EXPECT_EQ(backvault.reg()->RegDeleteValue(handle, L"Value"), ERROR_SUCCESS);
    backvault.reg()->RegCloseKey(handle);
    HKEY parent = OpenThrough(backvault.reg(), key);
    EXPECT_EQ(backvault.reg()->RegDeleteKeyEx(parent, L"Locked", KEY_WOW64_64KEY, 0), ERROR_SUCCESS);
    backvault.reg()->RegCloseKey(parent);
    backvault->EndSession(TRUE);
    ASSERT_FALSE(key.Exists(L"Locked"));

    std::wstring report;
    EXPECT_EQ(backvault.Restore(id, false, report), S_OK) << report;
    EXPECT_EQ(Sddl(HKEY_CURRENT_USER, path), before) << report;
    EXPECT_EQ(ReadString(key, L"Locked", L"Value"), L"data");
    EXPECT_NE(report.find(L"Restored the owner and permissions of HKEY_CURRENT_USER\\" + path),
              std::wstring::npos)
        << report;
    EXPECT_EQ(backvault.Restore(id, false, report), S_OK) << report;
    EXPECT_NE(report.find(L"Restored: 0,"), std::wstring::npos) << report;
}

TEST(BackvaultSession, ListNewestFirstWithTitleProgramTimesAndChanges)
{
    TTestFolder storage;
    TBackvaultInstance backvault(storage.Path() + L"Sessions");
    TTestKey key(L"List", true);
    key.SetString({}, L"A", L"a");
    key.SetString({}, L"B", L"b");

    const std::wstring first = backvault.Begin(L"First");
    backvault->EndSession(TRUE);
    const std::wstring second = backvault.Begin(L"Registry Cleaner: Removed 9 records from the registry");
    HKEY handle = OpenThrough(backvault.reg(), key);
    backvault.reg()->RegDeleteValue(handle, L"A");
    backvault.reg()->RegDeleteValue(handle, L"B");
    backvault.reg()->RegDeleteValue(handle, L"Not there");
    backvault.reg()->RegCloseKey(handle);
    backvault->SetSessionTitle(L"Registry Cleaner: Removed 2 records from the registry");
    EXPECT_TRUE(backvault->IsSessionOpen());

    ASSERT_EQ(backvault->GetSessionCount(), 2);
    BackvaultSessionInfo info = {};
    ASSERT_EQ(backvault->GetSessionInfo(0, &info), S_OK);
    EXPECT_EQ(std::wstring(info.id), second);
    EXPECT_EQ(std::wstring(info.title), L"Registry Cleaner: Removed 2 records from the registry");
    EXPECT_EQ(std::wstring(info.program), L"Registry Cleaner");
    EXPECT_EQ(info.changes, 2);
    EXPECT_FALSE(info.complete) << "still open";
    EXPECT_EQ(info.finished.dwHighDateTime, 0u);
    ClearSessionInfo(info);

    backvault->EndSession(TRUE);
    EXPECT_FALSE(backvault->IsSessionOpen());
    ASSERT_EQ(backvault->GetSessionCount(), 2);
    ASSERT_EQ(backvault->GetSessionInfo(0, &info), S_OK);
    EXPECT_TRUE(info.complete);
    EXPECT_GE(CompareFileTime(&info.finished, &info.started), 0);
    ClearSessionInfo(info);
    ASSERT_EQ(backvault->GetSessionInfo(1, &info), S_OK);
    EXPECT_EQ(std::wstring(info.id), first);
    EXPECT_EQ(info.changes, 0);
    ClearSessionInfo(info);
    EXPECT_EQ(backvault->GetSessionInfo(2, &info), E_INVALIDARG);
    ASSERT_EQ(backvault->FindSession(first.c_str(), &info), S_OK);
    EXPECT_EQ(std::wstring(info.title), L"First");
    ClearSessionInfo(info);

    EXPECT_EQ(backvault->DeleteSession(first.c_str()), S_OK);
    EXPECT_EQ(backvault->GetSessionCount(), 1);
    EXPECT_EQ(backvault->FindSession(first.c_str(), &info), HRESULT_FROM_WIN32(ERROR_NOT_FOUND));
}

TEST(BackvaultSession, RefusesWhatItCannotDoSafely)
{
    TTestFolder storage;
    TBackvaultInstance backvault(storage.Path() + L"Sessions");
    TTestKey key(L"Refuse", true);
    key.SetString({}, L"Value", L"untouched");

    const std::wstring id = backvault.Begin();
    ASSERT_FALSE(id.empty());
    BSTR other = nullptr;
    EXPECT_EQ(backvault->BeginSession(L"Second", L"Registry Cleaner", &other), 0) << "one session at a time";
    EXPECT_EQ(other, nullptr);
    EXPECT_NE(backvault.LastError().find(L"Session " + id + L" is still open"), std::wstring::npos)
        << backvault.LastError();
    std::wstring report;
    EXPECT_EQ(backvault.Restore(id, false, report), HRESULT_FROM_WIN32(ERROR_BUSY));
    EXPECT_EQ(backvault->DeleteSession(id.c_str()), HRESULT_FROM_WIN32(ERROR_BUSY));
    EXPECT_EQ(backvault->SetStorageFolder(L"C:\\elsewhere"), HRESULT_FROM_WIN32(ERROR_BUSY));

    // A change through a handle the library did not open cannot be recorded: not made.
    HKEY foreign = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, key.SubPath().c_str(), 0, KEY_ALL_ACCESS | KEY_WOW64_64KEY,
                            &foreign),
              ERROR_SUCCESS);
    const wchar_t data[] = L"changed";
    EXPECT_EQ(backvault.reg()->RegSetValueEx(foreign, L"Value", 0, REG_SZ,
                                             reinterpret_cast<const BYTE *>(data), sizeof(data)),
              ERROR_INVALID_HANDLE);
    EXPECT_EQ(backvault.reg()->RegDeleteValue(foreign, L"Value"), ERROR_INVALID_HANDLE);
    RegCloseKey(foreign);
    EXPECT_EQ(ReadString(key, {}, L"Value"), L"untouched");
    EXPECT_NE(backvault.LastError().find(L"not opened through the backup library"), std::wstring::npos);
    EXPECT_EQ(backvault->EndSession(TRUE), 1);
    EXPECT_EQ(backvault->EndSession(TRUE), 0) << "no session is open";

    // Identifiers never become paths outside the storage folder.
    for (const wchar_t *bad : {L"..\\..\\Windows", L"", L"20240101-000000-zzzz", L"..", L"C:\\x"}) {
        EXPECT_EQ(backvault.Restore(bad, false, report), HRESULT_FROM_WIN32(ERROR_INVALID_PARAMETER))
            << std::wstring(bad).size();
        EXPECT_EQ(backvault->DeleteSession(bad), HRESULT_FROM_WIN32(ERROR_INVALID_PARAMETER));
    }
    EXPECT_EQ(backvault.Restore(L"20240101-000000-abcd", false, report), HRESULT_FROM_WIN32(ERROR_NOT_FOUND))
        << report;
    EXPECT_NE(report.find(L"Nothing was restored"), std::wstring::npos) << report;
}

TEST(BackvaultSession, AfterAFailedBeginNoChangeIsMadeUnrecorded)
{
    TTestFolder storage;
    // A storage folder below a file cannot be created.
    const std::wstring blocker = storage.AddFile(L"not a folder");
    TBackvaultInstance backvault(blocker + L"\\Sessions");
    TTestKey key(L"FailedBegin", true);
    key.SetString({}, L"Value", L"kept");

    BSTR id = nullptr;
    EXPECT_EQ(backvault->BeginSession(L"Title", L"Registry Cleaner", &id), 0);
    EXPECT_EQ(id, nullptr);
    EXPECT_NE(backvault.LastError().find(L"Cannot create"), std::wstring::npos) << backvault.LastError();
    HKEY handle = nullptr;
    ASSERT_EQ(backvault.reg()->RegOpenKeyEx(HKEY_CURRENT_USER, key.SubPath().c_str(), 0,
                                            KEY_ALL_ACCESS | KEY_WOW64_64KEY, &handle),
              ERROR_SUCCESS);
    EXPECT_EQ(backvault.reg()->RegDeleteValue(handle, L"Value"), ERROR_INVALID_STATE);
    EXPECT_TRUE(key.ValueExists({}, L"Value"));
    const std::wstring file = storage.AddFile(L"kept.lnk");
    EXPECT_FALSE(backvault.files()->DeleteFile(file.c_str()));
    EXPECT_EQ(backvault.files()->GetLastError(), static_cast<DWORD>(ERROR_INVALID_STATE));
    EXPECT_NE(GetFileAttributesW(file.c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(backvault->EndSession(TRUE), 0);

    // Outside a session, changes are made again (and not recorded).
    EXPECT_EQ(backvault.reg()->RegDeleteValue(handle, L"Value"), ERROR_SUCCESS);
    backvault.reg()->RegCloseKey(handle);
}

TEST(BackvaultSession, SessionOfAProgramWithoutBackupIsNotKept)
{
    TTestFolder storage;
    TBackvaultInstance backvault(storage.Path() + L"Sessions");
    const std::wstring id = backvault.Begin();
    ASSERT_FALSE(id.empty());
    EXPECT_EQ(backvault->EndSession(FALSE), 1);
    EXPECT_EQ(backvault->GetSessionCount(), 0);
    EXPECT_EQ(GetFileAttributesW((storage.Path() + L"Sessions\\" + id).c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST(BackvaultSession, WithoutASessionChangesAreMadeAndNotRecorded)
{
    TTestFolder storage;
    TBackvaultInstance backvault(storage.Path() + L"Sessions");
    TTestKey key(L"NoSession", true);
    key.SetString({}, L"Value", L"x");
    HKEY handle = OpenThrough(backvault.reg(), key);
    EXPECT_EQ(backvault.reg()->RegDeleteValue(handle, L"Value"), ERROR_SUCCESS);
    backvault.reg()->RegCloseKey(handle);
    EXPECT_FALSE(key.ValueExists({}, L"Value"));
    EXPECT_EQ(backvault->GetSessionCount(), 0);
}

} // namespace
} // namespace tidyhive::testing
