// Lingmoor.dll, the localiser: the language-file format, what a missing or malformed file
// leaves behind, and how registered variables follow the chosen language.
#include "services/Text.h"
#include "tests/support/TestRegistry.h"
#include "tidyhive/Lingmoor.h"
#include "tidyhive/Siblings.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <array>
#include <string>

namespace tidyhive {
namespace {

ILocalizer *Localizer()
{
    static ILocalizer *localizer = [] {
        HMODULE module = LoadLibraryW(L"Lingmoor.dll");
        auto getInstance =
            module ? reinterpret_cast<GetInstanceFn>(GetProcAddress(module, kGetInstanceExport)) : nullptr;
        return getInstance ? reinterpret_cast<ILocalizer *>(getInstance(kLocalizerInstanceId, 0)) : nullptr;
    }();
    return localizer;
}

std::wstring Text(BSTR text)
{
    return FromBstr(text);
}

// Three registered variables with English texts, in a folder of the test's own.
class LingmoorTest : public ::testing::Test {
protected:
    static constexpr std::array<const wchar_t *, 3> kKeys = {L"FIRST_TEXT", L"SECOND_TEXT", L"THIRD_TEXT"};
    static constexpr std::array<const wchar_t *, 3> kEnglish = {L"First", L"Second", L"Third: %s"};

    void SetUp() override
    {
        localizer_ = Localizer();
        ASSERT_NE(localizer_, nullptr) << "Lingmoor.dll did not give its localiser";
        localizer_->UnregisterAll();
        localizer_->SetLanguage(L"");
        localizer_->SetLanguageFolder(folder_.Path().c_str());
        for (size_t i = 0; i < kKeys.size(); ++i) {
            variables_[i] = SysAllocString(kEnglish[i]);
            localizer_->RegisterText(kKeys[i], &variables_[i]);
        }
    }
    void TearDown() override
    {
        if (localizer_) {
            localizer_->UnregisterAll();
            localizer_->SetLanguage(L"");
            localizer_->SetLanguageFolder(L"");
        }
        for (BSTR &variable : variables_) {
            SysFreeString(variable);
        }
    }

    std::wstring Problem()
    {
        BSTR problem = nullptr;
        const HRESULT result = localizer_->GetLoadProblem(&problem);
        std::wstring text = Text(problem);
        SysFreeString(problem);
        EXPECT_EQ(result == S_OK, !text.empty());
        return text;
    }
    bool AllEnglish() const
    {
        for (size_t i = 0; i < kKeys.size(); ++i) {
            if (Text(variables_[i]) != kEnglish[i]) {
                return false;
            }
        }
        return true;
    }

    ILocalizer *localizer_ = nullptr;
    testing::TTestFolder folder_;
    std::array<BSTR, 3> variables_{};
};

TEST_F(LingmoorTest, WellFormedFilesAreRead)
{
    struct Case {
        const char *name;
        std::string content;
        std::array<const wchar_t *, 3> expected;
    };
    const Case cases[] = {
        {"plain", "FIRST_TEXT=Erste\nSECOND_TEXT=Zweite\n", {L"Erste", L"Zweite", L"Third: %s"}},
        {"byte-order mark and CR LF",
         "\xEF\xBB\xBF"
         "FIRST_TEXT=Erste\r\nTHIRD_TEXT=Dritte: %s\r\n",
         {L"Erste", L"Second", L"Dritte: %s"}},
        {"comments, blank lines, no final line end",
         "# comment\n\n   # indented comment\nSECOND_TEXT=Zweite",
         {L"First", L"Zweite", L"Third: %s"}},
        {"spaces around key and after =, trailing spaces kept",
         "  FIRST_TEXT =  Erste  \n",
         {L"Erste  ", L"Second", L"Third: %s"}},
        {"escapes",
         "FIRST_TEXT=a\\nb\\tc\\\\d\nSECOND_TEXT=\\sZweite\nTHIRD_TEXT=x\\ry",
         {L"a\nb\tc\\d", L" Zweite", L"x\ry"}},
        {"key case does not matter", "first_text=Erste\n", {L"Erste", L"Second", L"Third: %s"}},
        {"unknown keys are ignored", "NOT_A_KEY=x\nFIRST_TEXT=Erste\n", {L"Erste", L"Second", L"Third: %s"}},
        {"empty text keeps English",
         "FIRST_TEXT=\nSECOND_TEXT=Zweite\n",
         {L"First", L"Zweite", L"Third: %s"}},
        {"later line wins", "FIRST_TEXT=Eins\nFIRST_TEXT=Erste\n", {L"Erste", L"Second", L"Third: %s"}},
        {"text holds = and #", "FIRST_TEXT=a=b # c\n", {L"a=b # c", L"Second", L"Third: %s"}},
        {"beyond ASCII",
         "FIRST_TEXT=\xC3\x9C"
         "bersprungen \xE4\xB8\xAD\n",
         {L"\u00dcbersprungen \u4e2d", L"Second", L"Third: %s"}},
        {"empty file", "", {L"First", L"Second", L"Third: %s"}},
    };
    for (const Case &c : cases) {
        folder_.AddFile(L"TST.lng", c.content);
        localizer_->SetLanguage(L"TST");
        EXPECT_EQ(Problem(), L"") << c.name;
        for (size_t i = 0; i < kKeys.size(); ++i) {
            EXPECT_EQ(Text(variables_[i]), c.expected[i]) << c.name << ", key " << WideToUtf8(kKeys[i]);
        }
    }
}

TEST_F(LingmoorTest, MalformedFileLeavesEveryTextEnglish)
{
    struct Case {
        const char *name;
        std::string content;
        const wchar_t *problem;
    };
    const Case cases[] = {
        {"no =", "FIRST_TEXT=Erste\nSECOND_TEXT Zweite\n", L"line 2: no \"=\""},
        {"no key", "=Erste\n", L"line 1: the key is missing"},
        {"space in key", "FIRST TEXT=Erste\n", L"line 1: a key holds only"},
        {"unknown escape", "FIRST_TEXT=Erste\n# x\nSECOND_TEXT=a\\qb\n", L"line 3: unknown escape \\q"},
        {"backslash at the end", "FIRST_TEXT=Erste\\\n", L"line 1: a backslash ends the line"},
        {"not UTF-8",
         "FIRST_TEXT=\xFC"
         "bersprungen\n",
         L"not UTF-8"},
        {"NUL", std::string("FIRST_TEXT=a\0b\n", 15), L"line 1: the line holds a NUL"},
    };
    for (const Case &c : cases) {
        folder_.AddFile(L"TST.lng", "FIRST_TEXT=Erste\n");
        localizer_->SetLanguage(L"TST");
        ASSERT_EQ(Text(variables_[0]), L"Erste") << c.name;

        folder_.AddFile(L"TST.lng", c.content);
        localizer_->Reload();
        const std::wstring problem = Problem();
        EXPECT_NE(problem.find(c.problem), std::wstring::npos) << c.name << ": " << WideToUtf8(problem);
        EXPECT_NE(problem.find(L"TST.lng"), std::wstring::npos) << c.name << ": " << WideToUtf8(problem);
        EXPECT_TRUE(AllEnglish()) << c.name << ": " << WideToUtf8(Text(variables_[0]));
    }
}

TEST_F(LingmoorTest, MissingFileAndEnglishNames)
{
    struct Case {
        const wchar_t *language;
        bool problem;
    };
    const Case cases[] = {
        {L"", false},   {L"ENU", false},    {L"ENG", false},    {L"enu", false},
        {L"XYZ", true}, {L"..\\TST", true}, {L"C:\\TST", true}, {L"TST.lng", true},
    };
    folder_.AddFile(L"TST.lng", "FIRST_TEXT=Erste\n");
    for (const Case &c : cases) {
        localizer_->SetLanguage(L"TST");
        ASSERT_EQ(Text(variables_[0]), L"Erste");
        localizer_->SetLanguage(c.language);
        EXPECT_EQ(!Problem().empty(), c.problem) << WideToUtf8(c.language) << ": " << WideToUtf8(Problem());
        EXPECT_TRUE(AllEnglish()) << WideToUtf8(c.language);
    }
    // An English file, where one exists, is used like any other.
    folder_.AddFile(L"ENG.lng", "SECOND_TEXT=Colour\n");
    localizer_->SetLanguage(L"ENG");
    EXPECT_EQ(Text(variables_[1]), L"Colour");
}

TEST_F(LingmoorTest, VariablesFollowTheLanguage)
{
    folder_.AddFile(L"AAA.lng", "FIRST_TEXT=A1\nSECOND_TEXT=A2\n");
    folder_.AddFile(L"BBB.lng", "SECOND_TEXT=B2\nTHIRD_TEXT=B3 %s\n");
    localizer_->SetLanguage(L"AAA");
    EXPECT_EQ(Text(variables_[0]), L"A1");
    EXPECT_EQ(Text(variables_[1]), L"A2");
    localizer_->SetLanguage(L"BBB");
    EXPECT_EQ(Text(variables_[0]), L"First") << "a key the new language lacks goes back to English";
    EXPECT_EQ(Text(variables_[1]), L"B2");
    EXPECT_EQ(Text(variables_[2]), L"B3 %s");

    // A variable registered after the language was chosen gets its translation at once.
    BSTR late = SysAllocString(L"Late English");
    folder_.AddFile(L"BBB.lng", "SECOND_TEXT=B2\nTHIRD_TEXT=B3 %s\nLATE_TEXT=Sp\xC3\xA4t\n");
    localizer_->Reload();
    localizer_->RegisterText(L"LATE_TEXT", &late);
    EXPECT_EQ(Text(late), L"Sp\u00e4t");
    EXPECT_EQ(localizer_->GetTextCount(), 4);
    // Registering the same variable again keeps its English text for later.
    localizer_->RegisterText(L"LATE_TEXT", &late);
    EXPECT_EQ(localizer_->GetTextCount(), 4);
    localizer_->SetLanguage(L"ENU");
    EXPECT_EQ(Text(late), L"Late English");

    BSTR translated = nullptr;
    localizer_->SetLanguage(L"AAA");
    ASSERT_EQ(localizer_->Translate(L"first_text", &translated), S_OK);
    EXPECT_EQ(Text(translated), L"A1");
    SysFreeString(translated);
    translated = nullptr;
    ASSERT_EQ(localizer_->Translate(L"THIRD_TEXT", &translated), S_OK);
    EXPECT_EQ(Text(translated), L"Third: %s");
    SysFreeString(translated);
    EXPECT_EQ(localizer_->Translate(L"NO_SUCH_TEXT", &translated), E_INVALIDARG);

    localizer_->UnregisterAll();
    localizer_->SetLanguage(L"BBB");
    EXPECT_EQ(Text(late), L"Late English") << "an unregistered variable was written";
    SysFreeString(late);
}

TEST_F(LingmoorTest, SampleTranslationIsWellFormed)
{
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring folder(path);
    folder.resize(folder.find_last_of(L'\\') + 1);
    localizer_->SetLanguageFolder((folder + L"Lang").c_str());
    localizer_->SetLanguage(L"DEU");
    EXPECT_EQ(Problem(), L"");
}

} // namespace
} // namespace tidyhive
