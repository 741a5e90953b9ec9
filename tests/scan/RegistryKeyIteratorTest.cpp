// Key patterns in the real registry: splitting, groups, literal elements, depth-first order,
// both views and the Wow6432Node rule.
#include "scan/RegistryKeyIterator.h"

#include "registry/Wow64.h"
#include "scan/Task.h"
#include "services/Text.h"
#include "tests/support/TestRegistry.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tidyhive {
namespace {

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

// The keys the pattern selects below root, relative to root ("" for root itself).
std::vector<std::wstring> Walk(const std::wstring& root, const std::wstring& pattern, bool view64 = false)
{
    std::vector<std::wstring> keys;
    TRegistryKeyIterator iterator(
        root,
        [&](const std::wstring& key) {
            EXPECT_TRUE(StartsWithText(key, root)) << Show(key);
            keys.push_back(key.size() > root.size() ? key.substr(root.size() + 1) : std::wstring());
        },
        view64, pattern);
    iterator.Iterate();
    return keys;
}

TEST(RegistryKeyIterator, SplitsElementsKeepingBackslashesInsideGroups)
{
    struct TCase {
        std::wstring pattern;
        std::vector<std::wstring> elements;
    };
    const TCase cases[] = {
        {L"<![^\\..+]>\\OpenWithList\\<![.+]>", {L"<![^\\..+]>", L"OpenWithList", L"<![.+]>"}},
        {L"<![^\\..+]>", {L"<![^\\..+]>"}},
        {L"<![^[^\\.].+]>\\Shell", {L"<![^[^\\.].+]>", L"Shell"}},
        {L"CLSID\\<![.+]>\\<![InprocServer(32)?|LocalServer(32)?]>",
         {L"CLSID", L"<![.+]>", L"<![InprocServer(32)?|LocalServer(32)?]>"}},
        {L"TypeLib\\<![.+]>\\<![.+]>\\<![^\\d]>\\<![win(16|32|64)]>",
         {L"TypeLib", L"<![.+]>", L"<![.+]>", L"<![^\\d]>", L"<![win(16|32|64)]>"}},
        {L"<![^\\..+]>\\OpenWithList\\<![.+]>\\Shell\\<![.+]>\\Command",
         {L"<![^\\..+]>", L"OpenWithList", L"<![.+]>", L"Shell", L"<![.+]>", L"Command"}},
        {L"\\Applications\\<![.+]>\\Shell", {L"", L"Applications", L"<![.+]>", L"Shell"}},
        {L"Software", {L"Software"}},
        {L"", {}},
    };
    for (const TCase& test : cases) {
        std::wstring rest = test.pattern;
        std::vector<std::wstring> elements;
        while (!rest.empty() && elements.size() < 20) {
            elements.push_back(TRegistryKeyIterator::SplitFirstElement(rest));
        }
        EXPECT_EQ(elements, test.elements) << Show(test.pattern) << " gave " << Show(elements);
    }
}

TEST(RegistryKeyIterator, RecognisesGroups)
{
    struct TCase {
        std::wstring element;
        bool group;
        std::wstring expression;
    };
    const TCase cases[] = {
        {L"<![^\\..+]>", true, L"^\\..+"}, {L"<![.+]>", true, L".+"}, {L"<![a]>tail", true, L"a"},
        {L"<![unclosed", false, L""},      {L"plain", false, L""},    {L"x<![a]>", false, L""},
    };
    for (const TCase& test : cases) {
        std::wstring expression;
        EXPECT_EQ(TRegistryKeyIterator::IsGroup(test.element, expression), test.group) << Show(test.element);
        if (test.group) {
            EXPECT_EQ(expression, test.expression) << Show(test.element);
        }
    }
}

TEST(RegistryKeyIterator, GroupsSelectMatchingSubkeys)
{
    TTestKey root(L"Iterator");
    for (const wchar_t* name : {L".txt", L".log", L".", L"x", L"abc", L"def", L"txtfile"}) {
        root.CreateSubKey(name);
    }
    root.CreateSubKey(L".txt\\Shell");
    root.CreateSubKey(L"x\\Shell");
    root.CreateSubKey(L"abc\\Shell");
    root.CreateSubKey(L"txtfile\\Shell");
    root.CreateSubKey(L"CLSID\\{A}\\InprocServer32");
    root.CreateSubKey(L"CLSID\\{A}\\LocalServer");
    root.CreateSubKey(L"CLSID\\{A}\\InprocHandler32");
    root.CreateSubKey(L"CLSID\\{B}\\InprocServer");
    root.CreateSubKey(L"CLSID\\{B}\\LocalServer32");
    root.CreateSubKey(L"CLSID\\{B}\\LocalServerOld");
    root.CreateSubKey(L"Digits\\1.0");
    root.CreateSubKey(L"Digits\\a1");

    struct TCase {
        std::wstring pattern;
        std::vector<std::wstring> keys;
    };
    const TCase cases[] = {
        // Extensions: a leading dot and at least one more character; "." alone is no extension.
        {L"<![^\\..+]>", {L".log", L".txt"}},
        // At least two characters, not beginning with a dot; "x" is too short.
        {L"<![^[^\\.].+]>\\Shell", {L"abc\\Shell", L"txtfile\\Shell"}},
        // Unanchored: LocalServerOld matches too; every key once.
        {L"CLSID\\<![.+]>\\<![InprocServer(32)?|LocalServer(32)?]>",
         {L"CLSID\\{A}\\InprocServer32", L"CLSID\\{A}\\LocalServer", L"CLSID\\{B}\\InprocServer",
          L"CLSID\\{B}\\LocalServer32", L"CLSID\\{B}\\LocalServerOld"}},
        {L"Digits\\<![^\\d]>", {L"Digits\\1.0"}},
        // Case-insensitive.
        {L"<![^TXT]>", {L"txtfile"}},
        // Literal elements are opened directly; a missing one ends the branch.
        {L"CLSID\\{A}\\LocalServer", {L"CLSID\\{A}\\LocalServer"}},
        {L"CLSID\\{C}\\LocalServer", {}},
        {L"Missing\\<![.+]>", {}},
    };
    for (const TCase& test : cases) {
        const std::vector<std::wstring> keys = Walk(root.FullPath(), test.pattern);
        EXPECT_EQ(keys, test.keys) << "pattern " << Show(test.pattern) << " gave " << Show(keys);
    }
}

TEST(RegistryKeyIterator, WalksDepthFirstAndRestoresTheExpressionAfterDescending)
{
    TTestKey root(L"Iterator");
    for (const wchar_t* name : {L"a\\1", L"a\\2", L"a\\x", L"ab\\1", L"b\\1", L"ba\\9"}) {
        root.CreateSubKey(name);
    }
    const std::vector<std::wstring> all = Walk(root.FullPath(), L"<![.+]>\\<![.+]>");
    const std::vector<std::wstring> allExpected = {L"a\\1", L"a\\2", L"a\\x", L"ab\\1", L"b\\1", L"ba\\9"};
    EXPECT_EQ(all, allExpected) << Show(all);

    // The inner group replaces the outer expression; the outer one must be back for "ab".
    const std::vector<std::wstring> nested = Walk(root.FullPath(), L"<![^a]>\\<![^\\d]>");
    const std::vector<std::wstring> nestedExpected = {L"a\\1", L"a\\2", L"ab\\1"};
    EXPECT_EQ(nested, nestedExpected) << Show(nested);
}

TEST(RegistryKeyIterator, EmptyPatternNamesTheRootItself)
{
    TTestKey root(L"Iterator");
    EXPECT_EQ(Walk(root.FullPath(), L""), std::vector<std::wstring>{L""});
    EXPECT_TRUE(Walk(root.FullPath() + L"\\Missing", L"").empty());
}

TEST(RegistryKeyIterator, LeadingBackslashIsTheSamePattern)
{
    TTestKey root(L"Iterator");
    root.CreateSubKey(L"Applications\\one.exe\\Shell");
    root.CreateSubKey(L"Applications\\two.exe\\Shell");
    root.CreateSubKey(L"Applications\\three.exe");
    const std::vector<std::wstring> plain = Walk(root.FullPath(), L"Applications\\<![.+]>\\Shell");
    const std::vector<std::wstring> leading = Walk(root.FullPath(), L"\\Applications\\<![.+]>\\Shell");
    const std::vector<std::wstring> expected = {L"Applications\\one.exe\\Shell",
                                                L"Applications\\two.exe\\Shell"};
    EXPECT_EQ(plain, expected) << Show(plain);
    EXPECT_EQ(leading, expected) << Show(leading);
}

TEST(RegistryKeyIterator, SkipsWow6432NodeOnA64BitSystem)
{
    if (!IsWow64()) {
        GTEST_SKIP() << "a 32-bit system has no Wow6432Node";
    }
    // The node is a real subkey in the 64-bit view only (the 32-bit view is redirected into
    // it, and Wine does so for any key that has one).
    TTestKey root(L"Iterator", true);
    root.CreateSubKey(L"p1\\Wow6432Node\\k");
    root.CreateSubKey(L"p2\\WOW6432NODE\\k");
    root.CreateSubKey(L"p3\\Other\\k");
    for (const wchar_t* pattern : {L"<![.+]>\\<![.+]>", L"<![.+]>\\<![node|other]>"}) {
        const std::vector<std::wstring> keys = Walk(root.FullPath(), pattern, true);
        EXPECT_EQ(keys, std::vector<std::wstring>{L"p3\\Other"}) << Show(pattern) << " gave " << Show(keys);
    }
    // A literal element names the key outright.
    EXPECT_EQ(Walk(root.FullPath(), L"p1\\Wow6432Node\\k", true),
              std::vector<std::wstring>{L"p1\\Wow6432Node\\k"});
}

TEST(RegistryKeyIterator, WalksTheViewItIsGiven)
{
    if (!IsWow64()) {
        GTEST_SKIP() << "a 32-bit system has one view";
    }
    // HKLM\Software is redirected, so each view has a tree of its own there.
    for (bool view64 : {false, true}) {
        TTestKey root(L"IteratorView", view64, HKEY_LOCAL_MACHINE);
        root.CreateSubKey(L"only\\here");
        EXPECT_EQ(Walk(root.FullPath(), L"<![.+]>\\<![.+]>", view64),
                  std::vector<std::wstring>{L"only\\here"})
            << "view64 " << view64;
        EXPECT_TRUE(Walk(root.FullPath(), L"<![.+]>\\<![.+]>", !view64).empty()) << "view64 " << view64;
        EXPECT_TRUE(Walk(root.FullPath(), L"", !view64).empty()) << "view64 " << view64;
    }
}

TEST(RegistryKeyIterator, CallbackExceptionsAndBadExpressionsPassOut)
{
    TTestKey root(L"Iterator");
    root.CreateSubKey(L"a");
    root.CreateSubKey(L"b");
    int calls = 0;
    TRegistryKeyIterator stopping(
        root.FullPath(),
        [&](const std::wstring&) {
            ++calls;
            throw EAbortTask();
        },
        false, L"<![.+]>");
    EXPECT_THROW(stopping.Iterate(), EAbortTask);
    EXPECT_EQ(calls, 1);

    TRegistryKeyIterator bad(
        root.FullPath(), [](const std::wstring&) {}, false, L"<![(unclosed]>");
    EXPECT_THROW(bad.Iterate(), EPerlRegEx);

    // Without a callback nothing happens.
    TRegistryKeyIterator silent(root.FullPath(), nullptr, false, L"<![(unclosed]>");
    EXPECT_NO_THROW(silent.Iterate());
}

}  // namespace
}  // namespace tidyhive
