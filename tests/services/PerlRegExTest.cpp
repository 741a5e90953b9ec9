// The regular-expression facade: matching as the engine's objects set it up, the recompile
// rule, groups, the iteration of MatchNext, and the error messages.
#include "services/PerlRegEx.h"
#include "services/Text.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tidyhive {
namespace {

std::string Narrow(const std::wstring &text)
{
    return WideToUtf8(text);
}

// Match with the engine's options; the matched text, or "<none>".
std::wstring EngineMatch(const std::wstring &regEx, const std::wstring &subject)
{
    TPerlRegEx re(kEngineRegExOptions, regEx);
    re.SetSubject(subject);
    return re.Match() ? re.MatchedText() : L"<none>";
}

std::wstring CompileError(const std::wstring &regEx, TPerlRegExOptions options = kEngineRegExOptions)
{
    TPerlRegEx re(options, regEx);
    try {
        re.Compile();
    } catch (const EPerlRegEx &error) {
        EXPECT_EQ(Utf8ToWide(error.what()), error.Message());
        return error.Message();
    }
    return L"<compiled>";
}

TEST(PerlRegExTest, NoEmptyMatchIsTheDefault)
{
    TPerlRegEx re;
    EXPECT_EQ(re.MatchFlags(), static_cast<TPerlRegExMatchFlags>(preNotEmpty));
    re.SetOptions(kEngineRegExOptions);
    re.SetRegEx(LR"(([^\|\?:\*<>/\"]+[\\]?)*)");
    re.SetSubject(L"");
    EXPECT_FALSE(re.Match());
    EXPECT_LT(re.MatchResult(), 0);
    EXPECT_EQ(re.GroupCount(), -1);
    EXPECT_EQ(re.MatchedText(), L"");

    // Only the flag keeps the empty match away.
    re.SetMatchFlags(0);
    re.SetSubject(L"");
    EXPECT_TRUE(re.Match());
    EXPECT_EQ(re.MatchedLength(), 0);

    struct Case {
        const wchar_t *regEx;
        const wchar_t *subject;
        const wchar_t *expected;
    };
    const Case cases[] = {
        {LR"(([^\|\?:\*<>/\"]+[\\]?)*)", L"Windows\\System32", L"Windows\\System32"},
        {L"x*", L"bbb", L"<none>"}, // every position offers only an empty match
        {L"x*", L"bbxx", L"xx"},
        {L"^", L"abc", L"<none>"},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(EngineMatch(c.regEx, c.subject), c.expected)
            << Narrow(c.regEx) << " on \"" << Narrow(c.subject) << "\"";
    }
}

TEST(PerlRegExTest, CompiledPatternIsKeptUntilExpressionOrOptionsChange)
{
    TPerlRegEx re(kEngineRegExOptions, L"abc");
    re.SetSubject(L"xxABCxx");
    EXPECT_FALSE(re.Compiled());
    ASSERT_TRUE(re.Match());
    EXPECT_TRUE(re.Compiled());
    re.Study();
    EXPECT_TRUE(re.Studied());

    re.SetRegEx(L"abc"); // same text
    EXPECT_TRUE(re.Compiled());
    EXPECT_TRUE(re.Studied());
    EXPECT_EQ(re.MatchedText(), L"ABC") << "the match results were discarded by an unchanged expression";
    re.SetOptions(kEngineRegExOptions); // same options
    EXPECT_TRUE(re.Compiled());

    re.SetRegEx(L"x+");
    EXPECT_FALSE(re.Compiled());
    EXPECT_FALSE(re.Studied());
    EXPECT_EQ(re.GroupCount(), -1);
    EXPECT_EQ(re.MatchedText(), L"");
    ASSERT_TRUE(re.Match());
    EXPECT_TRUE(re.Compiled());
    EXPECT_EQ(re.MatchedText(), L"xx");

    re.SetOptions(preSingleLine);
    EXPECT_FALSE(re.Compiled());
    re.SetRegEx(L"abc");
    EXPECT_FALSE(re.Match()) << "case-sensitive now";
}

TEST(PerlRegExTest, GroupsPastTheCountAreEmpty)
{
    TPerlRegEx re(kEngineRegExOptions, L"(a+)-(b+)");
    re.SetSubject(L"xx aa-bbb yy");
    ASSERT_TRUE(re.Match());
    EXPECT_EQ(re.GroupCount(), 2);
    EXPECT_EQ(re.GroupText(0), L"aa-bbb");
    EXPECT_EQ(re.GroupText(1), L"aa");
    EXPECT_EQ(re.GroupText(2), L"bbb");
    EXPECT_EQ(re.GroupOffset(2), 7);
    EXPECT_EQ(re.GroupLength(2), 3);
    for (int index : {3, 5, 99, 1000, -1}) {
        EXPECT_EQ(re.GroupText(index), L"") << "group " << index;
        EXPECT_EQ(re.GroupOffset(index), 0) << "group " << index;
    }

    // A group that took no part reads as empty; the count is the highest that did.
    re.SetRegEx(L"(a)|(b)|(c)");
    re.SetSubject(L"b");
    ASSERT_TRUE(re.Match());
    EXPECT_EQ(re.GroupCount(), 2);
    EXPECT_EQ(re.GroupText(1), L"");
    EXPECT_EQ(re.GroupOffset(1), 0);
    EXPECT_EQ(re.GroupText(2), L"b");
    EXPECT_EQ(re.GroupText(3), L"");
}

TEST(PerlRegExTest, NamedGroupsHaveTheirNumbers)
{
    TPerlRegEx re(kEngineRegExOptions, LR"((?P<drive>[a-z]{1}:\\)([^\|\?:;\*<>/\"]+[\\]?)*)");
    EXPECT_EQ(re.GroupNumber(L"drive"), 1);
    EXPECT_LT(re.GroupNumber(L"folder"), 0);
    re.SetSubject(L"\"C:\\Program Files\\App\\app.exe\" /run");
    ASSERT_TRUE(re.Match());
    EXPECT_EQ(re.GroupText(re.GroupNumber(L"drive")), L"C:\\");
    EXPECT_EQ(re.MatchedText(), L"C:\\Program Files\\App\\app.exe");

    re.SetRegEx(
        L"\\{(?P<guid>[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12})\\}(?P<option>,\\d+)?");
    re.SetSubject(L"x {01234567-89ab-CDEF-0123-456789abcdef},7");
    ASSERT_TRUE(re.Match());
    EXPECT_EQ(re.GroupNumber(L"guid"), 1);
    EXPECT_EQ(re.GroupNumber(L"option"), 2);
    EXPECT_EQ(re.GroupText(re.GroupNumber(L"guid")), L"01234567-89ab-CDEF-0123-456789abcdef");
    EXPECT_EQ(re.GroupText(re.GroupNumber(L"option")), L",7");
}

TEST(PerlRegExTest, EmptyAndMalformedExpressionsGiveTheirMessages)
{
    TPerlRegEx empty;
    empty.SetSubject(L"abc");
    for (auto call : {+[](TPerlRegEx &re) { re.Compile(); }, +[](TPerlRegEx &re) { re.Match(); },
                      +[](TPerlRegEx &re) { re.Study(); }}) {
        try {
            call(empty);
            ADD_FAILURE() << "an empty expression was accepted";
        } catch (const EPerlRegEx &error) {
            EXPECT_EQ(error.Message(),
                      L"TPerlRegEx.Compile() - Please specify a regular expression in RegEx first");
        }
    }

    struct Case {
        const wchar_t *regEx;
        const wchar_t *message;
    };
    const Case cases[] = {
        {L"(abc", L"TPerlRegEx.Compile() - Error in regex at offset 4: missing closing parenthesis"},
        {L"*a",
         L"TPerlRegEx.Compile() - Error in regex at offset 0: quantifier does not follow a repeatable item"},
        {L"ab[c",
         L"TPerlRegEx.Compile() - Error in regex at offset 4: missing terminating ] for character class"},
        {L"a{3,1}",
         L"TPerlRegEx.Compile() - Error in regex at offset 5: numbers out of order in {} quantifier"},
        {L"(?P<x>a)(?P<x>b)",
         L"TPerlRegEx.Compile() - Error in regex at offset 14: two named subpatterns have the same name "
         L"(PCRE2_DUPNAMES not set)"},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(CompileError(c.regEx), c.message) << Narrow(c.regEx);
    }

    // A failed compile leaves nothing behind, and the next call raises again.
    TPerlRegEx re(kEngineRegExOptions, L"(abc");
    re.SetSubject(L"abc");
    EXPECT_THROW(re.Match(), EPerlRegEx);
    EXPECT_FALSE(re.Compiled());
    EXPECT_THROW(re.Match(), EPerlRegEx);
    re.SetRegEx(L"(abc)");
    EXPECT_TRUE(re.Match());
}

TEST(PerlRegExTest, EngineObjectsIgnoreCaseAndLetDotMatchLineBreaks)
{
    struct Case {
        const wchar_t *regEx;
        const wchar_t *subject;
        const wchar_t *expected;
    };
    const Case cases[] = {
        {LR"(^software\microsoft$)", L"SOFTWARE\\Microsoft", L"<none>"}, // "\m" is a plain "m"
        {LR"(^software\\microsoft$)", L"SOFTWARE\\Microsoft", L"SOFTWARE\\Microsoft"},
        {L"^\\.[a-z0-9]+$", L".TXT", L".TXT"},
        {L"a.b", L"xa\nby", L"a\nb"},
        {L"a.b", L"xa\r\nby", L"<none>"}, // one character only
        {L"a..b", L"xa\r\nby", L"a\r\nb"},
        {L"begin.*end", L"BEGIN\r\nmiddle\r\nEND", L"BEGIN\r\nmiddle\r\nEND"},
        {L"soft", L"Microsoft Software", L"soft"},     // anywhere in the subject, first occurrence
        {L"^b$", L"a\nb", L"<none>"},                  // "^" and "$" are the subject's ends
        {L"\u00c4rger", L"\u00e4RGER", L"\u00e4RGER"}, // letters beyond ASCII fold too
        {L"\u0416", L"\u0436", L"\u0436"},
        {L"[A-Z]:\\\\", L"c:\\", L"c:\\"},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(EngineMatch(c.regEx, c.subject), c.expected)
            << Narrow(c.regEx) << " on \"" << Narrow(c.subject) << "\"";
    }

    // Without the engine's options the same patterns are strict.
    TPerlRegEx strict(0, L"a.b");
    strict.SetSubject(L"a\nb");
    EXPECT_FALSE(strict.Match());
    strict.SetRegEx(L"abc");
    strict.SetSubject(L"ABC");
    EXPECT_FALSE(strict.Match());
}

TEST(PerlRegExTest, EveryOptionAndFlagTakesEffect)
{
    struct Case {
        TPerlRegExOptions options;
        TPerlRegExMatchFlags flags;
        const wchar_t *regEx;
        const wchar_t *subject;
        const wchar_t *expected;
    };
    const Case cases[] = {
        {preMultiLine, preNotEmpty, L"^b$", L"a\nb\nc", L"b"},
        {0, preNotEmpty, L"^b$", L"a\nb\nc", L"<none>"},
        {preExtended, preNotEmpty, L"a b c  # comment", L"abc", L"abc"},
        {0, preNotEmpty, L"a b", L"ab", L"<none>"},
        {preAnchored, preNotEmpty, L"b", L"ab", L"<none>"},
        {preAnchored, preNotEmpty, L"a", L"ab", L"a"},
        {0, preNotEmpty, L"a$", L"a\n", L"a"},
        {preDollarEndOnly, preNotEmpty, L"a$", L"a\n", L"<none>"},
        {0, preNotEmpty, L"a+", L"aaa", L"aaa"},
        {preUnGreedy, preNotEmpty, L"a+", L"aaa", L"a"},
        {0, preNotEmpty, L"\\q", L"q", L"q"}, // lenient escapes without preExtra
        {0, preNotEmpty | preNotBOL, L"^a", L"abc", L"<none>"},
        {0, preNotEmpty | preNotEOL, L"c$", L"abc", L"<none>"},
        {0, preNotEmpty | preNotEOL, L"c", L"abc", L"c"},
    };
    for (const Case &c : cases) {
        TPerlRegEx re(c.options, c.regEx);
        re.SetMatchFlags(c.flags);
        re.SetSubject(c.subject);
        const std::wstring got = re.Match() ? re.MatchedText() : L"<none>";
        EXPECT_EQ(got, c.expected) << "options " << c.options << ", flags " << c.flags << ": "
                                   << Narrow(c.regEx) << " on \"" << Narrow(c.subject) << "\"";
    }

    EXPECT_EQ(CompileError(L"\\q", preExtra),
              L"TPerlRegEx.Compile() - Error in regex at offset 1: unrecognized character follows \\");
}

TEST(PerlRegExTest, MatchNextWalksThroughTheSubject)
{
    TPerlRegEx re(kEngineRegExOptions, LR"([a-z]:\\[^;]*)");
    re.SetSubject(L"C:\\One;x;D:\\Two");
    std::vector<std::wstring> found;
    std::vector<int> offsets;
    int calls = 0;
    re.OnMatch = [&](TPerlRegEx &self) {
        ++calls;
        EXPECT_EQ(&self, &re);
    };
    for (bool more = re.Match(); more; more = re.MatchNext()) {
        found.push_back(re.MatchedText());
        offsets.push_back(re.MatchedOffset());
        ASSERT_LT(found.size(), 10u) << "no progress";
    }
    EXPECT_EQ(found, (std::vector<std::wstring>{L"C:\\One", L"D:\\Two"}));
    EXPECT_EQ(offsets, (std::vector<int>{1, 10}));
    EXPECT_EQ(calls, 2);
    EXPECT_EQ(re.Start(), 16);
    EXPECT_EQ(re.Stop(), 15);
    EXPECT_FALSE(re.MatchNext()) << "past Stop";

    // Stop bounds the search.
    re.SetSubject(L"C:\\One;x;D:\\Two");
    re.SetStop(8);
    ASSERT_TRUE(re.Match());
    EXPECT_FALSE(re.MatchNext());
    re.SetStop(1000);
    EXPECT_EQ(re.Stop(), 15);

    // Without the no-empty flag an empty match still moves Start on.
    TPerlRegEx empties(kEngineRegExOptions, L"x*");
    empties.SetMatchFlags(0);
    empties.SetSubject(L"ab");
    int count = 0;
    for (bool more = empties.Match(); more; more = empties.MatchNext()) {
        ASSERT_LT(++count, 10) << "no progress";
    }
    EXPECT_EQ(count, 2);
}

TEST(PerlRegExTest, MatchAgainSearchesFromTheBeginning)
{
    TPerlRegEx re(kEngineRegExOptions, L"c");
    re.SetSubject(L"abc");
    ASSERT_TRUE(re.Match());
    EXPECT_EQ(re.Start(), 4);
    EXPECT_TRUE(re.Match()) << "a match that ended the subject must not hide it from the next Match";
    re.SetRegEx(L"a");
    EXPECT_TRUE(re.Match());
    EXPECT_EQ(re.MatchedOffset(), 1);
}

TEST(PerlRegExTest, StudiedPatternMatchesTheSame)
{
    const wchar_t *subjects[] = {L"{01234567-89AB-CDEF-0123-456789ABCDEF}", L"{0123}", L".txt", L""};
    TPerlRegEx plain(kEngineRegExOptions,
                     LR"(^\{[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}\}$)");
    TPerlRegEx studied(kEngineRegExOptions, plain.RegEx());
    studied.Study();
    EXPECT_TRUE(studied.Studied());
    EXPECT_TRUE(studied.Compiled());
    for (const wchar_t *subject : subjects) {
        plain.SetSubject(subject);
        studied.SetSubject(subject);
        EXPECT_EQ(plain.Match(), studied.Match()) << Narrow(subject);
        EXPECT_EQ(plain.MatchedText(), studied.MatchedText()) << Narrow(subject);
    }
}

TEST(PerlRegExTest, MalformedUtf16SubjectIsSearchedWithoutFailing)
{
    TPerlRegEx re(kEngineRegExOptions, L"b+");
    re.SetSubject(std::wstring(L"a\xD800") + L"bb\xDC00");
    ASSERT_TRUE(re.Match());
    EXPECT_EQ(re.MatchedText(), L"bb");
    EXPECT_EQ(re.MatchedOffset(), 3);

    // A character outside the basic plane is one character for ".".
    re.SetRegEx(L"^a.b$");
    re.SetSubject(L"a\U0001F600b");
    EXPECT_TRUE(re.Match());
}

} // namespace
} // namespace tidyhive
