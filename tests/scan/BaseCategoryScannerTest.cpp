// The base scanner over test keys: the counting and validating passes, the default-value
// and empty-key rules, the ignore filters, locked keys, the progress texts and two views.
#include "scan/BaseCategoryScanner.h"

#include "clean/IgnoreList.h"
#include "registry/Wow64.h"
#include "services/Text.h"
#include "tests/registry/KeySecurity.h"
#include "tests/support/TestDebugLog.h"
#include "tests/support/TestRegistry.h"
#include "validation/EmptyKeyValidationAlgorithm.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tidyhive {
namespace {

using testing::TCapturedDebugLog;
using testing::TTestKey;

// Current user may read, SYSTEM owns the key, deletion is denied to the current user.
constexpr wchar_t kDenyDelete[] = L"O:SYD:(D;;SD;;;%U)(A;;KA;;;SY)(A;;KA;;;BA)(A;;KR;;;%U)";

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

class TRejectingAlgorithm : public TValidationAlgorithm {
public:
    TRejectingAlgorithm() : TValidationAlgorithm(std::make_unique<TWin32AlgorithmRegistry>()) {}
    bool IsValid(const std::wstring&, const std::wstring&, const std::wstring&) override { return false; }
    bool FIX(const std::wstring&, const std::wstring&, const std::wstring&) override { return false; }
    std::wstring GetDescriptionText() override { return L"rejected"; }
};

struct TRoot {
    std::wstring key;
    std::wstring pattern;
    bool view64 = false;
};

// Rejects every value whose data begins with "bad"; writes down what it was asked.
class TTestScanner : public TBaseCategoryScanner {
public:
    explicit TTestScanner(std::vector<TRoot> roots)
        : TBaseCategoryScanner(*FindCategoryDescriptor(rctHelpFiles)), roots_(std::move(roots))
    {
    }

    int GetRootCount() override { return static_cast<int>(roots_.size()); }
    std::wstring GetRootKey(int Index) override { return roots_[Index].key; }
    std::wstring GetKeyPattern(int Index) override { return roots_[Index].pattern; }
    bool IsRoot64Bit(int Index) override { return roots_[Index].view64; }
    bool SkipEmptyKeyCheck(const std::wstring&) override { return skipEmpty; }
    const wchar_t* ClassName() const override { return L"TTestScanner"; }
    TValidationAlgorithm* ValidateValue(const std::wstring& AKey, const std::wstring& AValue,
                                        const std::wstring& AData) override
    {
        validated.push_back(Relative(AKey) + L"|" + AValue + L"|" + AData);
        descriptions.push_back(CurrentItemDescription());
        return StartsWithText(AData, L"bad") ? &reject : nullptr;
    }

    std::wstring Relative(const std::wstring& key) const
    {
        const std::wstring& root = roots_.front().key;
        return key.size() > root.size() ? key.substr(root.size() + 1) : L".";
    }
    // "key|value|data|E or R|32 or 64" per problem.
    std::vector<std::wstring> ProblemList()
    {
        std::vector<std::wstring> list;
        for (LONG index = 0; index < Problems().Count(); ++index) {
            TDetectedProblemKey* problem = Problems().Items(index);
            const std::wstring kind = problem->Algorithm == &EmptyKeyAlgorithm() ? L"E"
                                      : problem->Algorithm == &reject            ? L"R"
                                                                                 : L"?";
            list.push_back(Relative(problem->KeyPath()) + L"|" + problem->ValueName() + L"|" +
                           problem->Data() + L"|" + kind + L"|" + (problem->Use64BitView ? L"64" : L"32"));
        }
        return list;
    }

    void RootWalked(int Index, bool AValidate, int& ACount) override
    {
        walked.push_back(std::to_wstring(Index) + (AValidate ? L" validated" : L" counted"));
        ACount += extraPerRoot;
    }

    bool skipEmpty = true;
    int extraPerRoot = 0;
    std::vector<std::wstring> walked;
    std::vector<std::wstring> validated;
    std::vector<std::wstring> descriptions;
    TRejectingAlgorithm reject;

private:
    std::vector<TRoot> roots_;
};

struct TCounters {
    int total, keys, values, ignored;
    bool operator==(const TCounters&) const = default;
};

std::ostream& operator<<(std::ostream& out, const TCounters& c)
{
    return out << "{total " << c.total << ", keys " << c.keys << ", values " << c.values << ", ignored "
               << c.ignored << "}";
}

TCounters RunBothPasses(TTestScanner& scanner)
{
    const int total = scanner.GetTotalValuesCount();
    scanner.Scan();
    return {total, scanner.KeysScanned(), scanner.ValuesScanned(), scanner.ValuesIgnored()};
}

TEST(BaseCategoryScanner, CountsAndRecordsInvalidValues)
{
    TTestKey root(L"Scanner");
    root.SetString(L"k1", L"v1", L"good");
    root.SetString(L"k1", L"v2", L"bad one");
    root.SetDword(L"k1", L"number", 5);
    root.SetString(L"k2", L"x", L"bad two", REG_EXPAND_SZ);
    TTestScanner scanner({{root.FullPath(), L"<![.+]>"}});

    EXPECT_EQ(RunBothPasses(scanner), (TCounters{4, 2, 4, 0}));
    const std::vector<std::wstring> problems = scanner.ProblemList();
    const std::vector<std::wstring> expected = {L"k1|v2|bad one|R|32", L"k2|x|bad two|R|32"};
    EXPECT_EQ(problems, expected) << Show(problems);
    // A value that is no string is judged with empty data.
    EXPECT_NE(std::find(scanner.validated.begin(), scanner.validated.end(), L"k1|number|"),
              scanner.validated.end())
        << Show(scanner.validated);

    // The next scan starts afresh.
    scanner.Scan();
    EXPECT_EQ(scanner.ProblemList(), expected);
    EXPECT_EQ(scanner.KeysScanned(), 2);
}

TEST(BaseCategoryScanner, IgnoredEntriesRaiseOnlyTheIgnoredCounter)
{
    TTestKey root(L"Scanner");
    root.SetString(L"k1", L"v1", L"bad one");
    root.SetString(L"k1", L"v2", L"bad two");
    root.SetString(L"k2", L"x", L"bad three");
    root.SetString(L"k2\\deep", L"y", L"bad four");
    TIgnoreList user;
    TTestScanner scanner({{root.FullPath(), L"<![.+]>"}});
    scanner.ScanSubKeys = true;
    scanner.SetUserIgnoreList(&user);
    EXPECT_EQ(RunBothPasses(scanner), (TCounters{4, 3, 4, 0}));

    // One value: still validated and counted, but only the ignored counter records it.
    user.AddItem(root.FullPath() + L"\\k1", L"v2");
    EXPECT_EQ(RunBothPasses(scanner), (TCounters{4, 3, 4, 1}));
    EXPECT_EQ(scanner.ProblemList(),
              (std::vector<std::wstring>{L"k1|v1|bad one|R|32", L"k2\\deep|y|bad four|R|32",
                                         L"k2|x|bad three|R|32"}))
        << Show(scanner.ProblemList());

    // A whole key: skipped with everything below it, counted nowhere.
    user.AddItem(root.FullPath() + L"\\k2", L"*");
    scanner.validated.clear();
    EXPECT_EQ(RunBothPasses(scanner), (TCounters{2, 1, 2, 1}));
    EXPECT_EQ(scanner.ProblemList(), std::vector<std::wstring>{L"k1|v1|bad one|R|32"});
    for (const std::wstring& entry : scanner.validated) {
        EXPECT_FALSE(StartsWithText(entry, L"k2")) << Show(entry);
    }
}

TEST(BaseCategoryScanner, DefaultValueAndEmptyKeyRules)
{
    struct TCase {
        const char* name;
        bool checkDefault;
        bool skipEmpty;
        // Values of key "k": default (nullptr: none) and one named value (nullptr: none).
        const wchar_t* defaultData;
        const wchar_t* namedData;
        std::vector<std::wstring> validated;
        std::vector<std::wstring> problems;
    };
    const TCase cases[] = {
        {"only default, not checked, empty check skipped", false, true, L"bad", nullptr, {}, {}},
        // The empty-key check runs and finds the key not empty; nothing else is judged.
        {"only default, not checked", false, false, L"bad", nullptr, {}, {}},
        {"only default, checked", true, true, L"bad", nullptr, {L"k||bad"}, {L"k||bad|R|32"}},
        {"only default, checked, empty check on",
         true,
         false,
         L"bad",
         nullptr,
         {L"k||bad"},
         {L"k||bad|R|32"}},
        {"default and named, not checked",
         false,
         false,
         L"bad",
         L"bad named",
         {L"k|v|bad named"},
         {L"k|v|bad named|R|32"}},
        {"default and named, checked",
         true,
         false,
         L"bad",
         L"bad named",
         {L"k||bad", L"k|v|bad named"},
         {L"k||bad|R|32", L"k|v|bad named|R|32"}},
        {"no values, empty check skipped", false, true, nullptr, nullptr, {}, {}},
        {"no values", false, false, nullptr, nullptr, {}, {L"k|||E|32"}},
        // The default is added for judging; the key is empty, so it is not judged.
        {"no values, checked", true, false, nullptr, nullptr, {}, {L"k|||E|32"}},
        {"no values, checked, empty check skipped", true, true, nullptr, nullptr, {L"k||"}, {}},
        // A blank default is no content: an empty-key problem, and its values are not judged.
        {"blank default, checked", true, false, L"  ", nullptr, {}, {L"k|||E|32"}},
        {"blank default, not checked", false, false, L"", nullptr, {}, {L"k|||E|32"}},
    };
    for (const TCase& test : cases) {
        TTestKey root(L"Scanner");
        root.CreateSubKey(L"k");
        if (test.defaultData) {
            root.SetString(L"k", L"", test.defaultData);
        }
        if (test.namedData) {
            root.SetString(L"k", L"v", test.namedData);
        }
        TTestScanner scanner({{root.FullPath(), L"<![.+]>"}});
        scanner.CheckDefaultValue = test.checkDefault;
        scanner.skipEmpty = test.skipEmpty;
        scanner.Scan();
        EXPECT_EQ(scanner.validated, test.validated) << test.name << ": judged " << Show(scanner.validated);
        EXPECT_EQ(scanner.ProblemList(), test.problems)
            << test.name << ": found " << Show(scanner.ProblemList());
        EXPECT_EQ(scanner.ValuesScanned(), static_cast<int>(test.validated.size())) << test.name;
    }
}

TEST(BaseCategoryScanner, SubkeysComeFirstAndWow6432NodeIsLeftOut)
{
    // In the 64-bit view, where the node is a subkey like any other.
    TTestKey root(L"Scanner", true);
    root.SetString(L"", L"v", L"root");
    root.SetString(L"c1", L"v", L"child");
    root.SetString(L"c1\\g", L"v", L"grandchild");
    root.SetString(L"c2", L"v", L"second child");
    root.SetString(L"Wow6432Node", L"v", L"view node");
    TTestScanner scanner({{root.FullPath(), L"", true}});
    scanner.ScanSubKeys = true;
    scanner.Scan();
    std::vector<std::wstring> expected = {L"c1\\g|v|grandchild", L"c1|v|child", L"c2|v|second child"};
    if (!IsWow64()) {
        expected.push_back(L"Wow6432Node|v|view node");
    }
    expected.push_back(L".|v|root");
    EXPECT_EQ(scanner.validated, expected) << Show(scanner.validated);
}

TEST(BaseCategoryScanner, LockedKeysRecordNothing)
{
    TCapturedDebugLog log;
    TTestKey root(L"ScannerLocked", false, HKEY_LOCAL_MACHINE);
    root.SetString(L"locked", L"v", L"bad locked");
    root.CreateSubKey(L"lockedEmpty");
    root.SetString(L"open", L"v", L"bad open");
    testing::TKeyUnlocker unlock1(root.Root(), root.SubPath() + L"\\locked", root.View());
    testing::TKeyUnlocker unlock2(root.Root(), root.SubPath() + L"\\lockedEmpty", root.View());
    for (const wchar_t* name : {L"\\locked", L"\\lockedEmpty"}) {
        ASSERT_EQ(testing::SetKeySecurityText(root.Root(), root.SubPath() + name, root.View(),
                                              testing::ForCurrentUser(kDenyDelete)),
                  0u);
    }
    TTestScanner scanner({{root.FullPath(), L"<![.+]>"}});
    scanner.skipEmpty = false;
    EXPECT_EQ(RunBothPasses(scanner), (TCounters{2, 3, 2, 0}));
    EXPECT_EQ(scanner.ProblemList(), std::vector<std::wstring>{L"open|v|bad open|R|32"})
        << Show(scanner.ProblemList());
    EXPECT_EQ(log.Count(L"Locked key: " + root.FullPath() + L"\\locked"), 1u) << Show(log.Text());
    EXPECT_EQ(log.Count(L"Locked key: " + root.FullPath() + L"\\lockedEmpty"), 1u) << Show(log.Text());
}

TEST(BaseCategoryScanner, ProgressTexts)
{
    TTestKey root(L"Scanner");
    root.SetString(L"K", L"Foo", L"data");
    TTestScanner scanner({{root.FullPath(), L"<![.+]>"}});
    EXPECT_EQ(scanner.CurrentItemDescription(), L"Determinating category keys...");
    EXPECT_EQ(scanner.CurrentKey(), L"");
    scanner.Scan();
    ASSERT_EQ(scanner.descriptions.size(), 1u);
    EXPECT_EQ(scanner.descriptions[0], root.FullPath() + L"\\K (Foo)");
    EXPECT_EQ(scanner.CurrentKey(), root.FullPath() + L"\\K");
    scanner.Reset();
    EXPECT_EQ(scanner.CurrentItemDescription(), L"Determinating category keys...");
}

TEST(BaseCategoryScanner, TracesEachValidation)
{
    TTestKey root(L"Scanner");
    root.SetString(L"K", L"Foo", L"data");
    TTestScanner scanner({{root.FullPath(), L"<![.+]>"}});
    TCapturedDebugLog log;
    scanner.Scan();
    const std::vector<std::wstring> lines = log.Messages();
    const std::vector<std::wstring> expected = {L"***** TBaseCategoryScanner.TryValidateValue.Start ******",
                                                L"Class is: TTestScanner",
                                                L"AKey: " + root.FullPath() + L"\\K",
                                                L"AValue: Foo",
                                                L"AData: data",
                                                L"***** TBaseCategoryScanner.TryValidateValue *******"};
    const auto start = std::search(lines.begin(), lines.end(), expected.begin(), expected.end());
    EXPECT_NE(start, lines.end()) << Show(log.Text());
}

TEST(BaseCategoryScanner, SecondRootInThe64BitViewCarriesTheFlag)
{
    TTestKey shared(L"Scanner");
    shared.SetString(L"k", L"v", L"bad");
    TTestScanner scanner({{shared.FullPath(), L"<![.+]>", false}, {shared.FullPath(), L"<![.+]>", true}});
    EXPECT_EQ(RunBothPasses(scanner), (TCounters{2, 2, 2, 0}));
    const std::vector<std::wstring> expected = {L"k|v|bad|R|32",
                                                IsWow64() ? L"k|v|bad|R|64" : L"k|v|bad|R|32"};
    EXPECT_EQ(scanner.ProblemList(), expected) << Show(scanner.ProblemList());
    EXPECT_EQ(scanner.EmptyKeyAlgorithm().GetUse64BitView(), IsWow64()) << "the last root selected its view";
}

TEST(BaseCategoryScanner, EachRootIsWalkedInItsOwnView)
{
    if (!IsWow64()) {
        GTEST_SKIP() << "a 32-bit system has one view";
    }
    TTestKey only64(L"ScannerView", true, HKEY_LOCAL_MACHINE);
    only64.SetString(L"k", L"v", L"bad");
    only64.CreateSubKey(L"empty");
    TTestScanner scanner({{only64.FullPath(), L"<![.+]>", false}, {only64.FullPath(), L"<![.+]>", true}});
    scanner.skipEmpty = false;
    EXPECT_EQ(RunBothPasses(scanner), (TCounters{1, 2, 1, 0}));
    const std::vector<std::wstring> expected = {L"empty|||E|64", L"k|v|bad|R|64"};
    EXPECT_EQ(scanner.ProblemList(), expected) << Show(scanner.ProblemList());
}

// The same path names two different keys in the two views of HKEY_LOCAL_MACHINE\Software:
// what the counting pass read in one view must never be judged for the other.
TEST(BaseCategoryScanner, EachViewIsJudgedOnItsOwnDataAfterCounting)
{
    if (!IsWow64()) {
        GTEST_SKIP() << "a 32-bit system has one view";
    }
    TTestKey keys32(L"ScannerTwin", false, HKEY_LOCAL_MACHINE);
    keys32.SetString(L"", L"v", L"bad-32");
    // Its twin in the 64-bit view, under the same path, removed with the test.
    struct TTwin {
        std::wstring path;
        ~TTwin() { RegDeleteKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), KEY_WOW64_64KEY, 0); }
    } twin{keys32.SubPath()};
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, twin.path.c_str(), 0, nullptr, 0,
                              KEY_ALL_ACCESS | KEY_WOW64_64KEY, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    const std::wstring good = L"good-64";
    RegSetValueExW(key, L"v", 0, REG_SZ, reinterpret_cast<const BYTE*>(good.c_str()),
                   static_cast<DWORD>((good.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(key);

    TTestScanner scanner({{keys32.FullPath(), L"", false}, {keys32.FullPath(), L"", true}});
    EXPECT_EQ(RunBothPasses(scanner), (TCounters{2, 2, 2, 0}));
    const std::vector<std::wstring> expected = {L".|v|bad-32|R|32"};
    EXPECT_EQ(scanner.ProblemList(), expected) << Show(scanner.ProblemList());
    const std::vector<std::wstring> judged = {L".|v|bad-32", L".|v|good-64"};
    EXPECT_EQ(scanner.validated, judged) << Show(scanner.validated);
}

TEST(BaseCategoryScanner, EachRootEndsWithTheScannersHookEvenWhenItsKeyIsMissing)
{
    TTestKey present(L"Scanner");
    present.SetString(L"", L"v", L"good");
    TTestScanner scanner(
        {{present.FullPath(), L""}, {present.FullPath() + L"\\missing-" + testing::NewGuidText(), L""}});
    scanner.extraPerRoot = 3;
    EXPECT_EQ(scanner.GetTotalValuesCount(), 1 + 2 * 3) << "what the hook counts joins the progress total";
    scanner.Scan();
    const std::vector<std::wstring> expected = {L"0 counted", L"1 counted", L"0 validated", L"1 validated"};
    EXPECT_EQ(scanner.walked, expected) << Show(scanner.walked);
}

TEST(BaseCategoryScanner, ScannerWithoutRootsScansNothing)
{
    TBaseCategoryScanner scanner(*FindCategoryDescriptor(rctFonts));
    EXPECT_EQ(scanner.GetRootCount(), 0);
    EXPECT_EQ(scanner.GetTotalValuesCount(), 0);
    scanner.Scan();
    EXPECT_EQ(scanner.Problems().Count(), 0);
    EXPECT_EQ(scanner.KeysScanned(), 0);
    EXPECT_EQ(scanner.CurrentItemDescription(), L"Determinating category keys...");
}

}  // namespace
}  // namespace tidyhive
