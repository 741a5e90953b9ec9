// The file-extensions category end to end: a FileExts tree of the test's own, scanned in
// both views, described, and fixed through the recorded route.
#include "categories/FileExtsCategoryScanner.h"

#include "clean/RestoreManager.h"
#include "engine/CategoryScannersFactory.h"
#include "registry/Wow64.h"
#include "services/Text.h"
#include "tests/registry/FakeBackvault.h"
#include "tests/registry/RecordingRegAccess.h"
#include "tests/support/TestRegistry.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

namespace tidyhive {
namespace {

using testing::TFakeBackvault;
using testing::TRecordingRegAccess;
using testing::TTestKey;

std::string Show(const std::wstring& text)
{
    return WideToUtf8(text);
}

std::string Show(const std::vector<std::wstring>& list)
{
    std::string text = "[";
    for (const std::wstring& item : list) {
        text += (text.size() > 1 ? ", \"" : "\"") + WideToUtf8(item) + "\"";
    }
    return text + "]";
}

ISettings* NoSettings()
{
    return nullptr;
}

// The engine's restore manager with a recording backup library for one test.
class TRecordedChanges {
public:
    TRecordedChanges()
        : backup_(&access_), previous_(TRestoreManager::ReplaceInstance(
                                 std::make_unique<TRestoreManager>(&backup_, &NoSettings)))
    {
    }
    ~TRecordedChanges() { TRestoreManager::ReplaceInstance(std::move(previous_)); }
    std::vector<std::wstring> Changes() const { return access_.Changes(); }

private:
    TRecordingRegAccess access_;
    TFakeBackvault backup_;
    std::unique_ptr<TRestoreManager> previous_;
};

// The category's scanner with its root moved into a test key.
class TTestFileExtsScanner : public TFileExtsCategoryScanner {
public:
    explicit TTestFileExtsScanner(std::wstring root)
        : TFileExtsCategoryScanner(*FindCategoryDescriptor(rctFileExts)), root_(std::move(root))
    {
    }
    std::wstring GetRootKey(int) override { return root_; }

    std::wstring Relative(const std::wstring& key) const
    {
        return key.size() > root_.size() ? key.substr(root_.size() + 1) : L".";
    }
    // "key|value|data|E (empty key) or A (the category's algorithm)|32 or 64".
    std::vector<std::wstring> ProblemList()
    {
        std::vector<std::wstring> list;
        for (LONG index = 0; index < Problems().Count(); ++index) {
            TDetectedProblemKey* problem = Problems().Items(index);
            const wchar_t* kind = problem->Algorithm == &Algorithm() ? L"A" : L"E";
            list.push_back(Relative(problem->KeyPath()) + L"|" + problem->ValueName() + L"|" +
                           problem->Data() + L"|" + kind + L"|" + (problem->Use64BitView ? L"64" : L"32"));
        }
        return list;
    }
    TDetectedProblemKey* Find(const std::wstring& relativeKey, const std::wstring& value, bool view64 = false)
    {
        for (LONG index = 0; index < Problems().Count(); ++index) {
            TDetectedProblemKey* problem = Problems().Items(index);
            if (Relative(problem->KeyPath()) == relativeKey && problem->ValueName() == value &&
                problem->Use64BitView == view64) {
                return problem;
            }
        }
        return nullptr;
    }

private:
    std::wstring root_;
};

// The same key in the 64-bit view as well, for as long as it lives.
class TTwin64 {
public:
    explicit TTwin64(const TTestKey& key) : key_(key)
    {
        HKEY created = nullptr;
        if (RegCreateKeyExW(key_.Root(), key_.SubPath().c_str(), 0, nullptr, 0,
                            KEY_ALL_ACCESS | KEY_WOW64_64KEY, nullptr, &created, nullptr) == ERROR_SUCCESS) {
            RegCloseKey(created);
        }
    }
    ~TTwin64() { RegDeleteKeyExW(key_.Root(), key_.SubPath().c_str(), KEY_WOW64_64KEY, 0); }
    TTwin64(const TTwin64&) = delete;
    TTwin64& operator=(const TTwin64&) = delete;

private:
    const TTestKey& key_;
};

// A registered application (under App Paths) and a ProgID (a class key), both of the test's
// own. Class keys are one tree for both views on Windows but two under Wine: the ProgID is
// made in both.
struct TRegisteredNames {
    TTestKey app{L"App", false, HKEY_LOCAL_MACHINE,
                 L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths"};
    TTestKey progId{L"Prog", false, HKEY_LOCAL_MACHINE, L"Software\\Classes"};
    TTwin64 progId64{progId};
    std::wstring App() const { return LastName(app); }
    std::wstring ProgId() const { return LastName(progId); }
    static std::wstring LastName(const TTestKey& key)
    {
        return key.SubPath().substr(key.SubPath().rfind(L'\\') + 1);
    }
};

std::vector<std::wstring> OnlyView(const std::vector<std::wstring>& problems, const wchar_t* view)
{
    std::vector<std::wstring> result;
    for (const std::wstring& problem : problems) {
        if (problem.ends_with(view)) {
            result.push_back(problem.substr(0, problem.size() - 3));
        }
    }
    return result;
}

TEST(FileExtsCategory, FactoryMakesTheCategoryScanner)
{
    std::unique_ptr<TBaseCategoryScanner> scanner =
        TCategoryScannersFactory::Instance().CreateScanner(rctFileExts);
    ASSERT_NE(dynamic_cast<TFileExtsCategoryScanner*>(scanner.get()), nullptr);
    EXPECT_EQ(scanner->GetRootKey(0),
              L"HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\FileExts");
    EXPECT_EQ(scanner->GetKeyPattern(0), L"<![^\\..+]>");
    EXPECT_EQ(scanner->GetRootCount(), IsWow64() ? 2 : 1);
    EXPECT_FALSE(scanner->IsRoot64Bit(0));
    EXPECT_TRUE(scanner->IsRoot64Bit(1));
    EXPECT_TRUE(scanner->ScanSubKeys);
    EXPECT_FALSE(scanner->CheckDefaultValue);
    EXPECT_EQ(TBstr(scanner->GetName()).Str(), L"File Extentions");
    // Other categories keep the base scanner for now.
    std::unique_ptr<TBaseCategoryScanner> fonts =
        TCategoryScannersFactory::Instance().CreateScanner(rctFonts);
    ASSERT_NE(fonts, nullptr);
    EXPECT_EQ(dynamic_cast<TFileExtsCategoryScanner*>(fonts.get()), nullptr);
    EXPECT_EQ(fonts->GetRootCount(), 0);
}

TEST(FileExtsCategory, FindsDeadReferencesInEveryKindOfRecord)
{
    const TRegisteredNames names;
    const std::wstring gone = L"gone-" + testing::NewGuidText() + L".exe";
    const std::wstring missingProgId = L"Missing-" + testing::NewGuidText();
    TTestKey test(L"FileExts");
    const std::wstring root = test.CreateSubKey(L"FileExts");
    test.SetString(L"FileExts\\.txt\\OpenWithList", L"a", names.App());
    test.SetString(L"FileExts\\.txt\\OpenWithList", L"b", gone);
    test.SetString(L"FileExts\\.txt\\OpenWithList", L"c", L"");
    test.SetString(L"FileExts\\.txt\\OpenWithList", L"MRUList", L"bac");
    test.SetString(L"FileExts\\.txt\\OpenWithProgids", names.ProgId(), L"");
    test.SetString(L"FileExts\\.txt\\OpenWithProgids", missingProgId, L"");
    test.SetString(L"FileExts\\.doc\\UserChoice", L"Progid", missingProgId);
    test.SetString(L"FileExts\\.doc", L"Application", gone);
    test.SetString(L"FileExts\\.doc", L"MRUList", L"zz");
    test.SetString(L"FileExts\\.doc", L"Other", L"anything");
    test.SetString(L"FileExts\\.ok\\UserChoice", L"Progid", names.ProgId());
    test.SetString(L"FileExts\\.ok", L"Application", names.App());
    test.CreateSubKey(L"FileExts\\.empty");
    test.CreateSubKey(L"FileExts\\.xyz\\OpenWithList");
    // Not extensions: never walked.
    test.SetString(L"FileExts\\notext\\UserChoice", L"Progid", missingProgId);
    test.CreateSubKey(L"FileExts\\.");

    TTestFileExtsScanner scanner(root);
    const int total = scanner.GetTotalValuesCount();
    scanner.Scan();
    // Subkeys before each extension's own values; extensions in registry order.
    const std::vector<std::wstring> expected = {
        L".doc\\UserChoice|Progid|" + missingProgId + L"|A",
        L".doc|Application|" + gone + L"|A",
        L".empty|||E",
        L".txt\\OpenWithList|b|" + gone + L"|A",
        L".txt\\OpenWithProgids|" + missingProgId + L"||A",
        L".xyz\\OpenWithList|||E",
    };
    const std::vector<std::wstring> problems = scanner.ProblemList();
    EXPECT_EQ(OnlyView(problems, L"|32"), expected) << Show(problems);
    const int walks = IsWow64() ? 2 : 1;
    // HKEY_CURRENT_USER\Software is one tree in both views: the second walk finds it all again.
    EXPECT_EQ(OnlyView(problems, L"|64"), IsWow64() ? expected : std::vector<std::wstring>{})
        << Show(problems);
    EXPECT_EQ(total, 12 * walks);
    EXPECT_EQ(scanner.ValuesScanned(), 12 * walks);
    EXPECT_EQ(scanner.KeysScanned(), 10 * walks);

    TDetectedProblemKey* progIdProblem = scanner.Find(L".txt\\OpenWithProgids", missingProgId);
    ASSERT_NE(progIdProblem, nullptr);
    EXPECT_EQ(scanner.Algorithm().GetShortDescriptionText(progIdProblem), L"Invalid ProgId reference: ");
    TDetectedProblemKey* appProblem = scanner.Find(L".txt\\OpenWithList", L"b");
    ASSERT_NE(appProblem, nullptr);
    EXPECT_EQ(scanner.Algorithm().GetShortDescriptionText(appProblem),
              L"Invalid Application reference: " + gone);
    EXPECT_EQ(scanner.Algorithm().GetCompleteDescriptionText(appProblem),
              L"This registry key <key>" + root +
                  L"\\.txt\\OpenWithList</key> points to invalid Application "
                  L"reference: " +
                  gone + L". This key can be deleted.");
    TDetectedProblemKey* choiceProblem = scanner.Find(L".doc\\UserChoice", L"Progid");
    ASSERT_NE(choiceProblem, nullptr);
    EXPECT_EQ(scanner.Algorithm().GetShortDescriptionText(choiceProblem),
              L"Invalid ProgId reference: " + missingProgId);
    EXPECT_EQ(scanner.Algorithm().GetDescriptionText(), L"Invalid File Extention.");
    EXPECT_EQ(scanner.GetValueDescription(root + L"\\.txt\\OpenWithList", L"b", gone), L"Extention: .txt");
    EXPECT_EQ(scanner.GetValueDescription(root + L"\\.doc", L"Application", gone), L"Extention: .doc");
}

TEST(FileExtsCategory, JudgesEntriesByKeyAndValueName)
{
    const TRegisteredNames names;
    TFileExtentionValidationAlgorithm algorithm;
    const std::wstring base = L"HKEY_CURRENT_USER\\Software\\X\\FileExts\\.txt";
    struct TCase {
        std::wstring key;
        std::wstring value;
        std::wstring data;
        bool valid;
    };
    const TCase cases[] = {
        {base + L"\\OpenWithList", L"MRUList", L"gone.exe", true},
        {base + L"\\OpenWithList", L"mrulist", L"", true},
        {base + L"\\OpenWithList", L"a", names.App(), true},
        {base + L"\\openwithlist", L"a", L"gone-xyz-unregistered.exe", false},
        {base + L"\\OpenWithList", L"a", L"", true},
        {base + L"\\OpenWithProgids", names.ProgId(), L"", true},
        {base + L"\\OpenWithProgids", L"NoSuchProgId-xyz", L"", false},
        {base + L"\\UserChoice", L"Progid", names.ProgId(), true},
        {base + L"\\UserChoice", L"ProgId", L"NoSuchProgId-xyz", false},
        {base + L"\\UserChoice", L"Progid", L"", true},
        {base, L"Application", names.App(), true},
        {base, L"APPLICATION", L"gone-xyz-unregistered.exe", false},
        {base, L"Other", L"gone-xyz-unregistered.exe", true},
        {base + L"\\UserChoice", L"Hash", L"NoSuchProgId-xyz", true},
    };
    for (const TCase& test : cases) {
        EXPECT_EQ(algorithm.IsValid(test.key, test.value, test.data), test.valid)
            << Show(test.key) << " " << Show(test.value) << " = " << Show(test.data);
    }
}

TEST(FileExtsCategory, AReferenceRegisteredInTheOtherViewIsAlive)
{
    if (!IsWow64()) {
        GTEST_SKIP() << "a 32-bit system has one view";
    }
    // Registered for 64-bit programs only, and judged while walking the 32-bit view.
    const TTestKey progId64{L"Prog", true, HKEY_LOCAL_MACHINE, L"Software\\Classes"};
    const TTestKey app64{L"App", true, HKEY_LOCAL_MACHINE,
                         L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths"};
    TFileExtentionValidationAlgorithm algorithm;
    algorithm.SetUse64BitView(false);
    const std::wstring base = L"HKEY_CURRENT_USER\\Software\\X\\FileExts\\.txt";
    EXPECT_TRUE(algorithm.IsValid(base + L"\\OpenWithProgids", TRegisteredNames::LastName(progId64), L""));
    EXPECT_TRUE(algorithm.IsValid(base + L"\\OpenWithList", L"a", TRegisteredNames::LastName(app64)));
    EXPECT_TRUE(algorithm.IsValid(base + L"\\UserChoice", L"Progid", TRegisteredNames::LastName(progId64)));
    EXPECT_FALSE(algorithm.IsValid(base + L"\\OpenWithProgids", L"NoSuchProgId-xyz", L""));
}

TEST(FileExtsCategory, FixRepairsTheOpenWithListAndRemovesEmptiedKeys)
{
    const TRegisteredNames names;
    const std::wstring gone = L"gone-" + testing::NewGuidText() + L".exe";
    TTestKey test(L"FileExts");
    const std::wstring root = test.CreateSubKey(L"FileExts");
    test.SetString(L"FileExts\\.txt\\OpenWithList", L"a", names.App());
    test.SetString(L"FileExts\\.txt\\OpenWithList", L"b", gone);
    test.SetString(L"FileExts\\.txt\\OpenWithList", L"MRUList", L"ba");
    test.SetString(L"FileExts\\.log\\OpenWithList", L"a", gone);
    test.SetString(L"FileExts\\.log\\OpenWithList", L"MRUList", L"a");
    test.SetString(L"FileExts\\.doc\\UserChoice", L"Progid", L"Missing-" + testing::NewGuidText());
    test.SetString(L"FileExts\\.doc\\OpenWithProgids", names.ProgId(), L"");
    const std::wstring missingProgId = L"Missing-" + testing::NewGuidText();
    test.SetString(L"FileExts\\.bak\\OpenWithProgids", missingProgId, L"");
    test.SetString(L"FileExts\\.bak", L"Keep", L"x");

    TTestFileExtsScanner scanner(root);
    scanner.Scan();
    ASSERT_EQ(OnlyView(scanner.ProblemList(), L"|32").size(), 4u) << Show(scanner.ProblemList());

    TRecordedChanges recorded;
    TDetectedProblemKey* b = scanner.Find(L".txt\\OpenWithList", L"b");
    ASSERT_NE(b, nullptr);
    EXPECT_TRUE(b->FixProblem());
    EXPECT_FALSE(test.ValueExists(L"FileExts\\.txt\\OpenWithList", L"b"));
    EXPECT_TRUE(test.ValueExists(L"FileExts\\.txt\\OpenWithList", L"a"));
    bool read = false;
    TWin32AlgorithmRegistry plain;
    EXPECT_EQ(plain.ReadStringSafe(root + L"\\.txt\\OpenWithList", L"MRUList", read), L"a");
    const std::wstring listPath = root + L"\\.txt\\OpenWithList";
    const std::vector<std::wstring> changes = recorded.Changes();
    EXPECT_EQ(changes, (std::vector<std::wstring>{L"DeleteValue " + listPath + L" b",
                                                  L"SetValue " + listPath + L" MRUList"}))
        << "every change goes through the backup library: " << Show(changes);

    // The last listed entry: the order list goes too, then the emptied keys.
    TDetectedProblemKey* last = scanner.Find(L".log\\OpenWithList", L"a");
    ASSERT_NE(last, nullptr);
    EXPECT_TRUE(last->FixProblem());
    EXPECT_FALSE(test.Exists(L"FileExts\\.log\\OpenWithList"));
    EXPECT_FALSE(test.Exists(L"FileExts\\.log"));
    EXPECT_TRUE(test.Exists(L"FileExts"));

    TDetectedProblemKey* choice = scanner.Find(L".doc\\UserChoice", L"Progid");
    ASSERT_NE(choice, nullptr);
    EXPECT_TRUE(choice->FixProblem());
    EXPECT_FALSE(test.Exists(L"FileExts\\.doc\\UserChoice")) << "emptied by the fix";
    EXPECT_TRUE(test.Exists(L"FileExts\\.doc\\OpenWithProgids"));

    TDetectedProblemKey* progId = scanner.Find(L".bak\\OpenWithProgids", missingProgId);
    ASSERT_NE(progId, nullptr);
    EXPECT_TRUE(progId->FixProblem());
    EXPECT_FALSE(test.Exists(L"FileExts\\.bak\\OpenWithProgids"));
    EXPECT_TRUE(test.Exists(L"FileExts\\.bak"));

    // Scanned again: nothing left to find.
    scanner.Scan();
    EXPECT_EQ(scanner.ProblemList(), std::vector<std::wstring>{}) << Show(scanner.ProblemList());
}

TEST(FileExtsCategory, FixLeavesEntriesThatChangedSinceTheScan)
{
    const TRegisteredNames names;
    const std::wstring missing = L"Missing-" + testing::NewGuidText();
    TTestKey test(L"FileExts");
    const std::wstring root = test.CreateSubKey(L"FileExts");
    test.SetString(L"FileExts\\.one\\UserChoice", L"Progid", missing);
    test.SetString(L"FileExts\\.two\\UserChoice", L"Progid", missing);
    test.SetString(L"FileExts\\.two", L"Keep", L"x");
    TTestFileExtsScanner scanner(root);
    scanner.Scan();
    TDetectedProblemKey* rewritten = scanner.Find(L".one\\UserChoice", L"Progid");
    TDetectedProblemKey* removed = scanner.Find(L".two\\UserChoice", L"Progid");
    ASSERT_NE(rewritten, nullptr);
    ASSERT_NE(removed, nullptr);

    // Rewritten to a valid ProgID since the scan: the value stays.
    test.SetString(L"FileExts\\.one\\UserChoice", L"Progid", names.ProgId());
    // Removed since the scan, leaving its key empty: nothing changes, the key stays too.
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExW(test.Root(), (test.SubPath() + L"\\FileExts\\.two\\UserChoice").c_str(), 0,
                            KEY_SET_VALUE | test.View(), &key),
              ERROR_SUCCESS);
    RegDeleteValueW(key, L"Progid");
    RegCloseKey(key);

    TRecordedChanges recorded;
    EXPECT_TRUE(rewritten->FixProblem());
    EXPECT_TRUE(removed->FixProblem());
    EXPECT_TRUE(test.ValueExists(L"FileExts\\.one\\UserChoice", L"Progid"));
    EXPECT_TRUE(test.Exists(L"FileExts\\.two\\UserChoice")) << "no change, so no clean-up";
    EXPECT_EQ(recorded.Changes(), std::vector<std::wstring>{}) << Show(recorded.Changes());
}

TEST(FileExtsCategory, SecondWalkUsesThe64BitView)
{
    if (!IsWow64()) {
        GTEST_SKIP() << "a 32-bit system has one view";
    }
    // HKEY_LOCAL_MACHINE\Software is redirected: each view holds its own tree here.
    const std::wstring gone = L"gone-" + testing::NewGuidText() + L".exe";
    TTestKey view32(L"FileExtsView", false, HKEY_LOCAL_MACHINE);
    const std::wstring root = view32.CreateSubKey(L"FileExts");
    HKEY created = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE,
                              (view32.SubPath() + L"\\FileExts\\.v64\\OpenWithList").c_str(), 0, nullptr, 0,
                              KEY_ALL_ACCESS | KEY_WOW64_64KEY, nullptr, &created, nullptr),
              ERROR_SUCCESS);
    RegSetValueExW(created, L"a", 0, REG_SZ, reinterpret_cast<const BYTE*>(gone.c_str()),
                   static_cast<DWORD>((gone.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(created);
    // The 64-bit twin of the test key goes with it.
    struct TTwinCleanup {
        std::wstring subPath;
        ~TTwinCleanup()
        {
            RegDeleteTreeW(HKEY_LOCAL_MACHINE, subPath.c_str());  // view of a 64-bit process
            HKEY parent = nullptr;
            if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software\\TidyhiveTests", 0,
                              KEY_ALL_ACCESS | KEY_WOW64_64KEY, &parent) == ERROR_SUCCESS) {
                RegDeleteTreeW(parent, subPath.substr(subPath.rfind(L'\\') + 1).c_str());
                RegDeleteKeyExW(parent, subPath.substr(subPath.rfind(L'\\') + 1).c_str(), KEY_WOW64_64KEY, 0);
                RegCloseKey(parent);
            }
        }
    } cleanup{view32.SubPath()};
    view32.SetString(L"FileExts\\.v32\\OpenWithList", L"a", gone);

    TTestFileExtsScanner scanner(root);
    scanner.Scan();
    const std::vector<std::wstring> expected = {L".v32\\OpenWithList|a|" + gone + L"|A|32",
                                                L".v64\\OpenWithList|a|" + gone + L"|A|64"};
    EXPECT_EQ(scanner.ProblemList(), expected) << Show(scanner.ProblemList());

    // The fix works in the view of its problem.
    TRecordedChanges recorded;
    TDetectedProblemKey* problem64 = scanner.Find(L".v64\\OpenWithList", L"a", true);
    ASSERT_NE(problem64, nullptr);
    EXPECT_TRUE(problem64->FixProblem());
    HKEY probe = nullptr;
    EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, (view32.SubPath() + L"\\FileExts\\.v64").c_str(), 0,
                            KEY_READ | KEY_WOW64_64KEY, &probe),
              ERROR_FILE_NOT_FOUND)
        << "emptied extension key removed in the 64-bit view";
    if (probe) {
        RegCloseKey(probe);
    }
    EXPECT_TRUE(view32.ValueExists(L"FileExts\\.v32\\OpenWithList", L"a")) << "the 32-bit view is untouched";
}

}  // namespace
}  // namespace tidyhive
