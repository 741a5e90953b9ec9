// The algorithm base in the real registry: emptiness tests, the fix template with its
// after-fix clean-up, the empty-key check, descriptions, views and trace lines.
#include "validation/ValidationAlgorithm.h"

#include "scan/DetectedProblemKeys.h"
#include "services/Text.h"
#include "tests/support/TestDebugLog.h"
#include "tests/support/TestRegistry.h"
#include "validation/EmptyKeyValidationAlgorithm.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <stdexcept>
#include <vector>

namespace tidyhive {
namespace {

using testing::TCapturedDebugLog;
using testing::TTestKey;

void SetRaw(const TTestKey &test, const std::wstring &relative, const std::wstring &name, DWORD type,
            const std::vector<BYTE> &data)
{
    test.CreateSubKey(relative);
    HKEY key = nullptr;
    const std::wstring path = test.SubPath() + (relative.empty() ? L"" : L"\\" + relative);
    ASSERT_EQ(RegOpenKeyExW(test.Root(), path.c_str(), 0, KEY_SET_VALUE | test.View(), &key), ERROR_SUCCESS);
    RegSetValueExW(key, name.c_str(), 0, type, data.empty() ? nullptr : data.data(),
                   static_cast<DWORD>(data.size()));
    RegCloseKey(key);
}

// Judges a value invalid while its data starts with "bad:". The fix looks at the value's
// data as it is now: a value gone or made good since the scan is left alone.
class TBadValueAlgorithm : public TValidationAlgorithm {
public:
    using TValidationAlgorithm::TValidationAlgorithm;

    bool IsValid(const std::wstring &, const std::wstring &, const std::wstring &AData) override
    {
        return !StartsWithText(AData, L"bad:");
    }
    std::wstring GetDescriptionText() override { return L"A bad value."; }
    bool FIX(const std::wstring &AKey, const std::wstring &AValue, const std::wstring &) override
    {
        ++fixes;
        if (!FRegistry->ValueExists(AKey, AValue)) {
            return true;
        }
        bool success = false;
        const std::wstring current = FRegistry->ReadStringSafe(AKey, AValue, success);
        if (!success) {
            return false;
        }
        if (IsValid(AKey, AValue, current)) {
            return true;
        }
        const bool deleted = FRegistry->DeleteValue(AKey, AValue);
        return answer.value_or(deleted);
    }
    int fixes = 0;
    std::optional<bool> answer; // overrides the result when set
};

// Overrides nothing about descriptions.
class TUndescribedAlgorithm : public TValidationAlgorithm {
public:
    bool IsValid(const std::wstring &, const std::wstring &, const std::wstring &) override { return true; }
    bool FIX(const std::wstring &, const std::wstring &, const std::wstring &) override { return true; }
};

// Every call fails: safe calls report failure, plain calls raise.
class TFailingRegistry : public TAlgorithmRegistry {
public:
    void Set64BitView(bool) override {}
    bool Is64BitView() const override { return false; }
    bool KeyExists(const std::wstring &) override { throw EAlgorithmRegistryError("registry unavailable"); }
    bool KeyExistsSafe(const std::wstring &, bool &success) override { return Fail(success); }
    bool GetKeyNamesSafe(const std::wstring &, std::vector<std::wstring> &names, bool &success) override
    {
        names.clear();
        return Fail(success);
    }
    bool GetValueNamesSafe(const std::wstring &, std::vector<std::wstring> &names, bool &success) override
    {
        names.clear();
        return Fail(success);
    }
    bool GetValueTypeSafe(const std::wstring &, const std::wstring &, DWORD &, bool &success) override
    {
        return Fail(success);
    }
    std::wstring ReadStringSafe(const std::wstring &, const std::wstring &, bool &success) override
    {
        success = false;
        return {};
    }
    bool DeleteKeySafe(const std::wstring &, bool &success) override { return Fail(success); }
    bool DeleteValue(const std::wstring &, const std::wstring &) override
    {
        throw EAlgorithmRegistryError("no");
    }
    bool ValueExists(const std::wstring &, const std::wstring &) override
    {
        throw EAlgorithmRegistryError("no");
    }
    void WriteString(const std::wstring &, const std::wstring &, const std::wstring &) override
    {
        throw EAlgorithmRegistryError("no");
    }
    unsigned long ChangeCount() const override { return 0; }

private:
    static bool Fail(bool &success)
    {
        success = false;
        return false;
    }
};

TEST(ValidationAlgorithmTest, EmptinessTestsJudgeSubkeysValuesAndTheDefaultValue)
{
    struct TCase {
        const char *name;
        void (*seed)(const TTestKey &); // fills the key "K" (or leaves it missing)
        bool empty;
        bool emptyExceptDefault;
        bool hasSubKeys;
    };
    const TCase cases[] = {
        {"nothing at all", [](const TTestKey &t) { t.CreateSubKey(L"K"); }, true, true, false},
        {"blank text default", [](const TTestKey &t) { t.SetString(L"K", L"", L""); }, true, true, false},
        {"whitespace and control default", [](const TTestKey &t) { t.SetString(L"K", L"", L" \t\r\n "); },
         true, true, false},
        {"blank expandable default", [](const TTestKey &t) { t.SetString(L"K", L"", L"   ", REG_EXPAND_SZ); },
         true, true, false},
        {"text default", [](const TTestKey &t) { t.SetString(L"K", L"", L" x "); }, false, true, false},
        {"number default", [](const TTestKey &t) { t.SetDword(L"K", L"", 0); }, false, true, false},
        {"binary default",
         [](const TTestKey &t) {
             SetRaw(t, L"K", L"", REG_BINARY, {0, 0});
         },
         false, true, false},
        {"empty binary default", [](const TTestKey &t) { SetRaw(t, L"K", L"", REG_BINARY, {}); }, false, true,
         false},
        {"list default",
         [](const TTestKey &t) {
             SetRaw(t, L"K", L"", REG_MULTI_SZ, {0, 0, 0, 0});
         },
         false, true, false},
        {"one named value", [](const TTestKey &t) { t.SetString(L"K", L"v", L""); }, false, false, false},
        {"a subkey", [](const TTestKey &t) { t.CreateSubKey(L"K\\S"); }, false, false, true},
        {"missing key", [](const TTestKey &) {}, false, false, true},
    };
    for (const TCase &c : cases) {
        TTestKey test(L"Empty");
        c.seed(test);
        TEmptyKeyValidationAlgorithm algorithm;
        const std::wstring key = test.FullPath() + L"\\K";
        EXPECT_EQ(algorithm.IsKeyEmpty(key), c.empty) << c.name;
        EXPECT_EQ(algorithm.IsKeyEmptyExceptDefault(key), c.emptyExceptDefault) << c.name;
        EXPECT_EQ(algorithm.HasSubKeys(key), c.hasSubKeys) << c.name;
        EXPECT_EQ(algorithm.IsValid(key, L"", L""), !c.empty) << c.name;
    }
}

TEST(ValidationAlgorithmTest, TheCleanUpRemovesTheChainOfEmptiedKeysUpToTheFirstNonEmptyOne)
{
    struct TCase {
        const char *name;
        void (*extra)(const TTestKey &);
        bool aRemains, bRemains;
    };
    const TCase cases[] = {
        {"every ancestor empties", [](const TTestKey &) {}, false, false},
        {"A holds a value", [](const TTestKey &t) { t.SetString(L"A", L"other", L"x"); }, true, false},
        {"B has another subkey", [](const TTestKey &t) { t.CreateSubKey(L"A\\B\\D"); }, true, true},
        {"A has a non-blank default", [](const TTestKey &t) { t.SetString(L"A", L"", L"x"); }, true, false},
    };
    for (const TCase &c : cases) {
        TTestKey test(L"Chain");
        test.SetString(L"", L"keep", L"the walk stops here");
        test.SetString(L"A\\B\\C", L"v", L"bad:C:\\gone.exe");
        c.extra(test);
        TBadValueAlgorithm algorithm;
        algorithm.SetAutoDeleteEmptyKey(true);
        const std::wstring key = test.FullPath() + L"\\A\\B\\C";
        EXPECT_TRUE(algorithm.ApplyFix(key, L"v", L"bad:C:\\gone.exe")) << c.name;
        EXPECT_FALSE(test.Exists(L"A\\B\\C")) << c.name;
        EXPECT_EQ(test.Exists(L"A\\B"), c.bRemains) << c.name;
        EXPECT_EQ(test.Exists(L"A"), c.aRemains) << c.name;
        EXPECT_TRUE(test.Exists()) << c.name << ": the walk went past the first non-empty key";
    }
}

TEST(ValidationAlgorithmTest, AutoDeleteAnyKeyRemovesTheWholeKeyThenItsEmptyAncestors)
{
    TTestKey test(L"AnyKey");
    test.SetString(L"", L"keep", L"x");
    test.SetString(L"A\\C", L"v", L"bad:x");
    test.SetString(L"A\\C", L"w", L"good");
    test.SetString(L"A\\C\\S", L"deep", L"good");
    TBadValueAlgorithm algorithm;
    algorithm.SetAutoDeleteAnyKey(true);
    EXPECT_TRUE(algorithm.GetAutoDeleteEmptyKey()) << "AutoDeleteAnyKey implies AutoDeleteEmptyKey";
    EXPECT_TRUE(algorithm.ApplyFix(test.FullPath() + L"\\A\\C", L"v", L"bad:x"));
    EXPECT_FALSE(test.Exists(L"A\\C"));
    EXPECT_FALSE(test.Exists(L"A"));
    EXPECT_TRUE(test.Exists());
    algorithm.SetAutoDeleteAnyKey(false);
    EXPECT_FALSE(algorithm.GetAutoDeleteAnyKey());
    EXPECT_TRUE(algorithm.GetAutoDeleteEmptyKey())
        << "switching AutoDeleteAnyKey off leaves AutoDeleteEmptyKey";
}

TEST(ValidationAlgorithmTest, NoCleanUpWhenTheFixChangedNothingOrFailed)
{
    struct TCase {
        const char *name;
        bool anyKey;
        const wchar_t *dataNow; // null: the value is gone since the scan
        std::optional<bool> answer;
        bool expectedResult;
        bool valueRemains;
    };
    const TCase cases[] = {
        {"value made valid since the scan, any-key clean-up",
         true,
         L"C:\\Windows\\notepad.exe",
         {},
         true,
         true},
        {"value made valid since the scan, empty-key clean-up",
         false,
         L"C:\\Windows\\notepad.exe",
         {},
         true,
         true},
        {"value gone since the scan, key now empty", false, nullptr, {}, true, false},
        {"value gone since the scan, any-key clean-up", true, nullptr, {}, true, false},
        {"fix reports failure", true, L"bad:x", false, false, false},
    };
    for (const TCase &c : cases) {
        TTestKey test(L"NoCleanUp");
        test.SetString(L"", L"keep", L"x");
        test.CreateSubKey(L"A\\C");
        if (c.dataNow) {
            test.SetString(L"A\\C", L"v", c.dataNow);
        }
        if (c.anyKey) {
            test.SetString(L"A\\C", L"w", L"good");
        }
        TBadValueAlgorithm algorithm;
        algorithm.answer = c.answer;
        if (c.anyKey) {
            algorithm.SetAutoDeleteAnyKey(true);
        } else {
            algorithm.SetAutoDeleteEmptyKey(true);
        }
        EXPECT_EQ(algorithm.ApplyFix(test.FullPath() + L"\\A\\C", L"v", L"bad:recorded at scan"),
                  c.expectedResult)
            << c.name;
        EXPECT_EQ(algorithm.fixes, 1) << c.name;
        EXPECT_TRUE(test.Exists(L"A\\C")) << c.name << ": the key was cleaned up";
        EXPECT_EQ(test.ValueExists(L"A\\C", L"v"), c.valueRemains) << c.name;
    }
}

TEST(ValidationAlgorithmTest, TheEmptyKeyFixDeletesOnlyAKeyThatIsStillEmpty)
{
    {
        TTestKey test(L"EmptyFix");
        test.SetString(L"", L"keep", L"x");
        test.CreateSubKey(L"A\\B\\E");
        TEmptyKeyValidationAlgorithm algorithm;
        EXPECT_TRUE(algorithm.ApplyFix(test.FullPath() + L"\\A\\B\\E", L"", L""));
        EXPECT_FALSE(test.Exists(L"A")) << "the emptied parents stay";
        EXPECT_TRUE(test.Exists());
    }
    {
        TTestKey test(L"EmptyFixGone");
        TEmptyKeyValidationAlgorithm algorithm;
        EXPECT_TRUE(algorithm.ApplyFix(test.FullPath() + L"\\Deleted\\Meanwhile", L"", L""))
            << "a key deleted in the meantime leaves nothing to fix";
    }
    {
        TTestKey test(L"EmptyFixFilled");
        test.SetString(L"", L"keep", L"x");
        test.SetString(L"A\\E", L"gained", L"content");
        TEmptyKeyValidationAlgorithm algorithm;
        EXPECT_FALSE(algorithm.ApplyFix(test.FullPath() + L"\\A\\E", L"", L""));
        EXPECT_TRUE(test.ValueExists(L"A\\E", L"gained"));
    }
}

TEST(ValidationAlgorithmTest, ExistenceErrorsOfTheEmptyKeyFixReachTheCaller)
{
    TEmptyKeyValidationAlgorithm algorithm(std::make_unique<TFailingRegistry>());
    EXPECT_THROW(algorithm.ApplyFix(L"HKEY_CURRENT_USER\\Software\\X", L"", L""), EAlgorithmRegistryError);
    // A failing registry makes every emptiness test answer "not empty".
    EXPECT_FALSE(algorithm.IsKeyEmpty(L"HKEY_CURRENT_USER\\Software\\X"));
    EXPECT_FALSE(algorithm.IsKeyEmptyExceptDefault(L"HKEY_CURRENT_USER\\Software\\X"));
    EXPECT_TRUE(algorithm.HasSubKeys(L"HKEY_CURRENT_USER\\Software\\X"));
    EXPECT_TRUE(algorithm.IsValid(L"HKEY_CURRENT_USER\\Software\\X", L"", L""));

    TDetectedProblemKeysCollection collection(rctSoftware);
    TDetectedProblemKey *problem = collection.AddNew();
    problem->SetKeyPath(L"HKEY_CURRENT_USER\\Software\\X");
    problem->Algorithm = &algorithm;
    EXPECT_THROW(problem->FixProblem(), EAlgorithmRegistryError);
    EXPECT_EQ(problem->Fix(), FALSE);
}

TEST(ValidationAlgorithmTest, RootsAreNeverDeleted)
{
    TEmptyKeyValidationAlgorithm algorithm;
    algorithm.DeleteEmptyKey(L"HKEY_CURRENT_USER");
    algorithm.DeleteAnyKey(L"HKEY_CURRENT_USER");
    bool success = true;
    EXPECT_FALSE(algorithm.Registry().DeleteKeySafe(L"HKEY_CURRENT_USER", success));
    EXPECT_FALSE(success);
    TTestKey probe(L"RootStillThere");
    EXPECT_TRUE(probe.Exists());
}

TEST(ValidationAlgorithmTest, DescriptionsAtThreeLevels)
{
    TDetectedProblemKeysCollection collection(rctSoftware);
    TDetectedProblemKey *problem = collection.AddNew();
    problem->SetKeyPath(L"HKEY_CURRENT_USER\\Software\\100%s %d %n");

    TEmptyKeyValidationAlgorithm empty;
    IValidationAlgorithm *algorithm = &empty;
    EXPECT_EQ(TBstr(algorithm->GetDescription()).Str(), L"Empty, unused registry key.");
    EXPECT_EQ(TBstr(algorithm->GetShortDescription(problem)).Str(),
              L"This registry key doesn't contain any usefull data and can be removed.");
    EXPECT_EQ(
        TBstr(algorithm->GetCompleteDescription(problem)).Str(),
        L"This registry key <key>HKEY_CURRENT_USER\\Software\\100%s %d %n</key> doesn't contain any usefull "
        L"data and can be removed.");

    // Without its own texts an algorithm raises inside and answers empty at the boundary.
    TUndescribedAlgorithm undescribed;
    EXPECT_THROW(undescribed.GetDescriptionText(), std::runtime_error);
    EXPECT_THROW(undescribed.GetShortDescriptionText(problem), std::runtime_error);
    EXPECT_EQ(undescribed.GetDescription(), nullptr);
    EXPECT_EQ(undescribed.GetCompleteDescription(problem), nullptr);

    TBadValueAlgorithm bad;
    EXPECT_EQ(TBstr(bad.GetShortDescription(problem)).Str(), L"A bad value.");
}

TEST(ValidationAlgorithmTest, TheFixFollowsTheViewTheProblemWasFoundIn)
{
    if (!OsHasTwoRegistryViews()) {
        GTEST_SKIP() << "a 32-bit system has one registry view";
    }
    // HKLM\Software is redirected: a key made in the 64-bit view is not seen in the other.
    TTestKey test(L"View", true, HKEY_LOCAL_MACHINE, L"Software\\TidyhiveTests");
    test.SetString(L"", L"keep", L"x");
    test.CreateSubKey(L"E");
    const std::wstring key = test.FullPath() + L"\\E";

    TEmptyKeyValidationAlgorithm algorithm;
    EXPECT_TRUE(algorithm.IsValid(key, L"", L"")) << "the 32-bit view judged a key it cannot see";
    algorithm.SetUse64BitView(true);
    EXPECT_TRUE(algorithm.GetUse64BitView());
    EXPECT_TRUE(algorithm.Registry().Is64BitView());
    EXPECT_FALSE(algorithm.IsValid(key, L"", L""));
    algorithm.SetUse64BitView(false);
    EXPECT_FALSE(algorithm.Registry().Is64BitView());
    algorithm.SetDisableFsRedirection(true);
    EXPECT_TRUE(algorithm.GetDisableFsRedirection());

    TDetectedProblemKeysCollection collection(rctSoftware);
    TDetectedProblemKey *problem = collection.AddNew();
    problem->SetKeyPath(key);
    problem->Algorithm = &algorithm;
    problem->Use64BitView = true;
    EXPECT_EQ(problem->Fix(), TRUE);
    EXPECT_FALSE(test.Exists(L"E")) << "the fix did not reach the 64-bit view";
    EXPECT_TRUE(test.Exists());
}

TEST(ValidationAlgorithmTest, TraceLinesOfTheTemplateAndTheUpwardWalk)
{
    TCapturedDebugLog log;
    TTestKey test(L"Trace");
    test.SetString(L"", L"keep", L"x");
    test.SetString(L"C", L"v", L"bad:x");
    TBadValueAlgorithm algorithm;
    algorithm.SetAutoDeleteEmptyKey(true);
    const std::wstring key = test.FullPath() + L"\\C";
    ASSERT_TRUE(algorithm.ApplyFix(key, L"v", L"bad:x"));

    const std::vector<std::wstring> expected = {
        L"TValidationAlgorithm.Start",
        L"AKey: " + key,
        L"AValue: v",
        L"AData: bad:x",
        L"TValidationAlgorithm.DeleteEmptyKey.Start",
        L"AKey: " + key,
        L"Registry.DeleteKeySafe",
        L"SeparateRootAndLastKey",
        L"DeleteEmptyKey",
        L"TValidationAlgorithm.DeleteEmptyKey.Start",
        L"AKey: " + test.FullPath(),
        L"TValidationAlgorithm.DeleteEmptyKey.End",
        L"TValidationAlgorithm.DeleteEmptyKey.End",
        L"TValidationAlgorithm",
    };
    // The recorded registry utility traces its own deletion steps in between; they belong to
    // the registry layer and are tested there.
    std::vector<std::wstring> messages = log.Messages();
    std::erase_if(messages, [](const std::wstring &line) {
        return line.starts_with(L"TRegistryUtility.") || line.starts_with(L"TBackvaultRegistry.");
    });
    EXPECT_EQ(messages, expected) << log.Text();
}

} // namespace
} // namespace tidyhive
