// Round trips through Backvault.dll in the prefix's real registry and file system: what a
// session deletes comes back byte for byte, in the right registry view.
#include "tests/support/BackvaultTesting.h"
#include "tests/support/TestRegistry.h"

#include <gtest/gtest.h>

namespace tidyhive::testing {
namespace {

const std::wstring kTestsParent = L"Software\\TidyhiveTests";

// regedit's own export of a key (64-bit regedit: physical paths, Wow6432Node included).
std::vector<uint8_t> RegeditExport(const std::wstring &key, const TTestFolder &folder,
                                   const std::wstring &name)
{
    const std::wstring file = folder.Path() + name;
    DeleteFileW(file.c_str());
    const int code = RunProcess(L"regedit.exe /E \"" + file + L"\" \"" + key + L"\"");
    EXPECT_EQ(code, 0) << "regedit /E " << std::string(key.begin(), key.end());
    return ReadFileBytes(file);
}

TEST(BackvaultRoundTrip, TreeDeletedLikeTheEngineInBothViewsComesBackExactly)
{
    TTestFolder storage;
    TBackvaultInstance backvault(storage.Path() + L"Sessions");
    // The same path in both views of a redirected root, each with its own content, so that
    // a mix-up of the views shows.
    const std::wstring path = kTestsParent + L"\\RoundTrip-" + NewGuidText();
    TKeyTreeGuard guard64(HKEY_LOCAL_MACHINE, path, KEY_WOW64_64KEY);
    TKeyTreeGuard guard32(HKEY_LOCAL_MACHINE, path, KEY_WOW64_32KEY);
    CreateTestTree(HKEY_LOCAL_MACHINE, path, KEY_WOW64_64KEY, L"sixty-four");
    CreateTestTree(HKEY_LOCAL_MACHINE, path, KEY_WOW64_32KEY, L"thirty-two");
    const std::wstring before64 = DumpTree(HKEY_LOCAL_MACHINE, path, KEY_WOW64_64KEY);
    const std::wstring before32 = DumpTree(HKEY_LOCAL_MACHINE, path, KEY_WOW64_32KEY);
    ASSERT_FALSE(before64.empty());
    ASSERT_NE(before64, before32) << "the two views must hold different trees";
    ASSERT_NE(before32.find(L"class=TopClass"), std::wstring::npos)
        << "key classes are part of the round trip";
    const std::wstring physical64 = L"HKEY_LOCAL_MACHINE\\" + path;
    const std::wstring physical32 = L"HKEY_LOCAL_MACHINE\\Software\\Wow6432Node\\" + path.substr(9);
    const std::vector<uint8_t> regedit64 = RegeditExport(physical64, storage, L"before64.reg");
    const std::vector<uint8_t> regedit32 = RegeditExport(physical32, storage, L"before32.reg");
    ASSERT_GT(regedit64.size(), 100000u);
    ASSERT_GT(regedit32.size(), 100000u);

    const std::wstring id = backvault.Begin();
    ASSERT_FALSE(id.empty()) << backvault.LastError();
    EXPECT_TRUE(
        DeleteLikeEngine(backvault.reg(), HKEY_LOCAL_MACHINE, path, KEY_ALL_ACCESS | KEY_WOW64_64KEY));
    EXPECT_TRUE(
        DeleteLikeEngine(backvault.reg(), HKEY_LOCAL_MACHINE, path, KEY_ALL_ACCESS | KEY_WOW64_32KEY));
    backvault->SetSessionTitle(L"Registry Cleaner: Removed 2 records from the registry");
    ASSERT_EQ(backvault->EndSession(TRUE), 1) << backvault.LastError();
    ASSERT_EQ(DumpTree(HKEY_LOCAL_MACHINE, path, KEY_WOW64_64KEY), L"");
    ASSERT_EQ(DumpTree(HKEY_LOCAL_MACHINE, path, KEY_WOW64_32KEY), L"");

    std::wstring report;
    EXPECT_EQ(backvault.Restore(id, false, report), S_OK) << report;
    EXPECT_EQ(DumpTree(HKEY_LOCAL_MACHINE, path, KEY_WOW64_64KEY), before64) << report;
    EXPECT_EQ(DumpTree(HKEY_LOCAL_MACHINE, path, KEY_WOW64_32KEY), before32) << report;
    EXPECT_EQ(RegeditExport(physical64, storage, L"after64.reg"), regedit64)
        << "regedit's export of the 64-bit tree";
    EXPECT_EQ(RegeditExport(physical32, storage, L"after32.reg"), regedit32)
        << "regedit's export of the 32-bit tree";
    EXPECT_NE(report.find(L"Restored the key HKEY_LOCAL_MACHINE\\" + path + L" (32-bit view)"),
              std::wstring::npos)
        << report;

    // A second restore finds everything in place and changes nothing.
    EXPECT_EQ(backvault.Restore(id, false, report), S_OK) << report;
    EXPECT_NE(report.find(L"Restored: 0,"), std::wstring::npos) << report;
    EXPECT_EQ(report.find(L"Conflict"), std::wstring::npos) << report;
    EXPECT_EQ(DumpTree(HKEY_LOCAL_MACHINE, path, KEY_WOW64_64KEY), before64);
    EXPECT_EQ(DumpTree(HKEY_LOCAL_MACHINE, path, KEY_WOW64_32KEY), before32);
}

TEST(BackvaultRoundTrip, DirectDeletionOfAKeyRecordsWhatItStillHolds)
{
    TTestFolder storage;
    TBackvaultInstance backvault(storage.Path() + L"Sessions");
    TTestKey key(L"Direct", true);
    CreateTestTree(HKEY_CURRENT_USER, key.SubPath() + L"\\Leaf", KEY_WOW64_64KEY, L"leaf");
    // A key whose subkeys are gone but whose values are all still there.
    const std::wstring leaf = key.SubPath() + L"\\Leaf";
    for (const wchar_t *sub : {L"\\Sub-Ωmega leaf", L"\\Empty key", L"\\Second"}) {
        HKEY parent = nullptr;
        RegOpenKeyExW(HKEY_CURRENT_USER, leaf.c_str(), 0, KEY_ALL_ACCESS | KEY_WOW64_64KEY, &parent);
        RegDeleteTreeW(parent, sub + 1);
        RegCloseKey(parent);
    }
    const std::wstring before = DumpTree(HKEY_CURRENT_USER, leaf, KEY_WOW64_64KEY);
    ASSERT_NE(before.find(L"Large binary"), std::wstring::npos);

    const std::wstring id = backvault.Begin();
    HKEY parent = nullptr;
    ASSERT_EQ(backvault.reg()->RegOpenKeyEx(HKEY_CURRENT_USER, key.SubPath().c_str(), 0,
                                            KEY_ALL_ACCESS | KEY_WOW64_64KEY, &parent),
              ERROR_SUCCESS);
    EXPECT_EQ(backvault.reg()->RegDeleteKeyEx(parent, L"Leaf", KEY_WOW64_64KEY, 0), ERROR_SUCCESS);
    backvault.reg()->RegCloseKey(parent);
    backvault->EndSession(TRUE);
    ASSERT_FALSE(key.Exists(L"Leaf"));

    std::wstring report;
    EXPECT_EQ(backvault.Restore(id, false, report), S_OK) << report;
    EXPECT_EQ(DumpTree(HKEY_CURRENT_USER, leaf, KEY_WOW64_64KEY), before) << report;
}

TEST(BackvaultRoundTrip, DeletedFilesComeBackWithContentAttributesAndTimes)
{
    TTestFolder storage;
    TTestFolder work;
    TBackvaultInstance backvault(storage.Path() + L"Sessions");

    struct TCase {
        const wchar_t *name;
        std::string content;
        DWORD attributes;
    };
    std::string binary(200 * 1024, '\0');
    for (size_t index = 0; index < binary.size(); ++index) {
        binary[index] = static_cast<char>((index * 7919) >> 3);
    }
    const TCase cases[] = {
        {L"plain.lnk", "shortcut bytes", FILE_ATTRIBUTE_ARCHIVE},
        {L"read-only and hidden.lnk", "locked", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN},
        {L"empty.lnk", "", FILE_ATTRIBUTE_ARCHIVE},
        {L"große Datei 日本.bin", binary, FILE_ATTRIBUTE_ARCHIVE},
        {L"sub folder\\nested.lnk", "nested", FILE_ATTRIBUTE_ARCHIVE},
    };
    struct TBefore {
        std::wstring path;
        std::vector<uint8_t> bytes;
        WIN32_FILE_ATTRIBUTE_DATA data;
    };
    std::vector<TBefore> before;
    for (const TCase &item : cases) {
        const std::wstring path = work.AddFile(item.name, item.content);
        HANDLE file = CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        SYSTEMTIME system = {2001, 2, 0, 3, 4, 5, 6, 0};
        FILETIME time = {};
        SystemTimeToFileTime(&system, &time);
        FILETIME access = time;
        access.dwLowDateTime += 10000000;
        FILETIME write = time;
        write.dwHighDateTime += 1;
        SetFileTime(file, &time, &access, &write);
        CloseHandle(file);
        SetFileAttributesW(path.c_str(), item.attributes);
        TBefore entry{path, ReadFileBytes(path), {}};
        GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &entry.data);
        before.push_back(entry);
    }

    const std::wstring id = backvault.Begin();
    for (const TBefore &entry : before) {
        EXPECT_TRUE(backvault.files()->DeleteFile(entry.path.c_str()))
            << "error " << backvault.files()->GetLastError();
        EXPECT_EQ(GetFileAttributesW(entry.path.c_str()), INVALID_FILE_ATTRIBUTES);
    }
    EXPECT_TRUE(backvault.files()->RemoveDirectory((work.Path() + L"sub folder").c_str()));
    backvault->EndSession(TRUE);

    std::wstring report;
    EXPECT_EQ(backvault.Restore(id, false, report), S_OK) << report;
    for (const TBefore &entry : before) {
        SCOPED_TRACE(std::string(entry.path.begin(), entry.path.end()));
        WIN32_FILE_ATTRIBUTE_DATA after = {};
        ASSERT_TRUE(GetFileAttributesExW(entry.path.c_str(), GetFileExInfoStandard, &after)) << report;
        EXPECT_EQ(ReadFileBytes(entry.path), entry.bytes);
        EXPECT_EQ(after.dwFileAttributes, entry.data.dwFileAttributes);
        EXPECT_EQ(CompareFileTime(&after.ftLastWriteTime, &entry.data.ftLastWriteTime), 0);
        EXPECT_EQ(CompareFileTime(&after.ftLastAccessTime, &entry.data.ftLastAccessTime), 0);
        EXPECT_EQ(CompareFileTime(&after.ftCreationTime, &entry.data.ftCreationTime), 0);
    }
    // Again: everything is in place, nothing is touched.
    EXPECT_EQ(backvault.Restore(id, false, report), S_OK) << report;
    EXPECT_NE(report.find(L"Restored: 0,"), std::wstring::npos) << report;
    for (const TBefore &entry : before) {
        SetFileAttributesW(entry.path.c_str(), FILE_ATTRIBUTE_NORMAL); // so the folder can go
    }
}

TEST(BackvaultRoundTrip, ExportImportsWithRegeditAndRecreatesWhatTheSessionRemoved)
{
    TTestFolder storage;
    TBackvaultInstance backvault(storage.Path() + L"Sessions");
    const std::wstring path = kTestsParent + L"\\Export-" + NewGuidText();
    TKeyTreeGuard guard64(HKEY_CURRENT_USER, path, KEY_WOW64_64KEY);
    TKeyTreeGuard guard32(HKEY_LOCAL_MACHINE, path, KEY_WOW64_32KEY);
    // A regedit file carries neither key classes nor strings without their terminator.
    const TTreeOptions options{false, false};
    CreateTestTree(HKEY_CURRENT_USER, path, KEY_WOW64_64KEY, L"user", options);
    CreateTestTree(HKEY_LOCAL_MACHINE, path, KEY_WOW64_32KEY, L"machine32", options);
    // A value the session only changes: the export brings back its old data.
    TTestKey changed(L"Changed", true);
    changed.SetString({}, L"Kept", L"old data");
    const std::wstring userBefore = DumpTree(HKEY_CURRENT_USER, path, KEY_WOW64_64KEY, false);
    const std::wstring machineBefore = DumpTree(HKEY_LOCAL_MACHINE, path, KEY_WOW64_32KEY, false);

    const std::wstring id = backvault.Begin();
    EXPECT_TRUE(DeleteLikeEngine(backvault.reg(), HKEY_CURRENT_USER, path, KEY_ALL_ACCESS | KEY_WOW64_64KEY));
    EXPECT_TRUE(
        DeleteLikeEngine(backvault.reg(), HKEY_LOCAL_MACHINE, path, KEY_ALL_ACCESS | KEY_WOW64_32KEY));
    HKEY key = nullptr;
    ASSERT_EQ(backvault.reg()->RegOpenKeyEx(HKEY_CURRENT_USER, changed.SubPath().c_str(), 0,
                                            KEY_ALL_ACCESS | KEY_WOW64_64KEY, &key),
              ERROR_SUCCESS);
    const wchar_t data[] = L"new data";
    backvault.reg()->RegSetValueEx(key, L"Kept", 0, REG_SZ, reinterpret_cast<const BYTE *>(data),
                                   sizeof(data));
    backvault.reg()->RegSetValueEx(key, L"Added", 0, REG_SZ, reinterpret_cast<const BYTE *>(data),
                                   sizeof(data));
    backvault.reg()->RegCloseKey(key);
    backvault->EndSession(TRUE);

    const std::wstring file = storage.Path() + L"session.reg";
    ASSERT_EQ(backvault->ExportSession(id.c_str(), file.c_str()), S_OK) << backvault.LastError();
    const std::vector<uint8_t> bytes = ReadFileBytes(file);
    const std::wstring header = L"\xFEFFWindows Registry Editor Version 5.00\r\n";
    ASSERT_GT(bytes.size(), header.size() * 2);
    EXPECT_EQ(std::wstring(reinterpret_cast<const wchar_t *>(bytes.data()), header.size()), header);
    const std::wstring text(reinterpret_cast<const wchar_t *>(bytes.data()), bytes.size() / 2);
    EXPECT_NE(text.find(L"[HKEY_LOCAL_MACHINE\\Software\\Wow6432Node\\" + path.substr(9) + L"]"),
              std::wstring::npos)
        << "the 32-bit view's key goes by its physical path";
    EXPECT_NE(text.find(L"\"Unusual type\"=hex(12345):10,20,30"), std::wstring::npos);
    EXPECT_NE(text.find(L"\"Dword\"=dword:deadbeef"), std::wstring::npos);
    EXPECT_EQ(text.find(L"\"Added\""), std::wstring::npos) << "a value the session added is not re-created";

    ASSERT_EQ(RunProcess(L"regedit.exe /S \"" + file + L"\""), 0);
    EXPECT_EQ(DumpTree(HKEY_CURRENT_USER, path, KEY_WOW64_64KEY, false), userBefore);
    EXPECT_EQ(DumpTree(HKEY_LOCAL_MACHINE, path, KEY_WOW64_32KEY, false), machineBefore);
    wchar_t kept[64] = {};
    DWORD size = sizeof(kept);
    RegGetValueW(HKEY_CURRENT_USER, changed.SubPath().c_str(), L"Kept", RRF_RT_REG_SZ, nullptr, kept, &size);
    EXPECT_STREQ(kept, L"old data");
}

} // namespace
} // namespace tidyhive::testing
