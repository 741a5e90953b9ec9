// Docuframe.dll as the engine uses it: a report's element tree, read back from the file by
// the platform's XML parser after every kind of change.
#include "tests/support/EngineLibrary.h"
#include "tests/support/TestRegistry.h"
#include "tests/support/XmlTree.h"
#include "tidyhive/Siblings.h"

#include <gtest/gtest.h>
#include <wrl/client.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

using Microsoft::WRL::ComPtr;

namespace tidyhive::testing {
namespace {

class DocuframeTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        module_ = LoadLibraryW((TestBinFolder() + L"Docuframe.dll").c_str());
        ASSERT_NE(module_, nullptr) << "cannot load Docuframe.dll";
        auto getInstance = reinterpret_cast<GetInstanceFn>(GetProcAddress(module_, kGetInstanceExport));
        ASSERT_NE(getInstance, nullptr);
        manager_.Attach(reinterpret_cast<IReportManager *>(getInstance(kReportGeneratorInstanceId, 0)));
        ASSERT_NE(manager_, nullptr);
        fileName_ = folder_.Path() + L"tidyhive.xml";
    }

    // A new report on the test's file and its writer.
    void Open()
    {
        ASSERT_EQ(manager_->OpenReport(fileName_.c_str(), &report_), S_OK);
        ASSERT_EQ(report_->GetXmlReport(&writer_), S_OK);
    }

    // The file's tree, or a description of why it does not parse.
    std::wstring FileTree() const
    {
        try {
            return Describe(ParseXmlFile(fileName_));
        } catch (const std::exception &error) {
            const std::string what = error.what();
            return L"not readable: " + std::wstring(what.begin(), what.end());
        }
    }

    HMODULE module_ = nullptr;
    ComPtr<IReportManager> manager_;
    TTestFolder folder_;
    std::wstring fileName_;
    ComPtr<IReport> report_;
    ComPtr<IXmlReport> writer_;
};

TEST_F(DocuframeTest, ManagerAndReportAnswerTheirInterfaces)
{
    Open();
    ComPtr<IAbstractReport> abstract;
    EXPECT_EQ(
        writer_->QueryInterface(IID_IAbstractReport, reinterpret_cast<void **>(abstract.GetAddressOf())),
        S_OK);
    EXPECT_EQ(static_cast<IAbstractReport *>(writer_.Get()), abstract.Get());
    ComPtr<IXmlReport> again;
    EXPECT_EQ(abstract->QueryInterface(IID_IXmlReport, reinterpret_cast<void **>(again.GetAddressOf())),
              S_OK);
    EXPECT_EQ(again.Get(), writer_.Get());

    BSTR name = nullptr;
    ASSERT_EQ(report_->GetFileName(&name), S_OK);
    EXPECT_EQ(Take(name), fileName_);
    EXPECT_TRUE(writer_->GetAutoSave());

    IReport *none = reinterpret_cast<IReport *>(1);
    EXPECT_EQ(manager_->OpenReport(L"", &none), E_INVALIDARG);
    EXPECT_EQ(none, nullptr);
    EXPECT_EQ(manager_->OpenReport(fileName_.c_str(), nullptr), E_POINTER);
}

TEST_F(DocuframeTest, OpeningAReportLeavesAnExistingFileAloneUntilItChanges)
{
    folder_.AddFile(L"tidyhive.xml", "<old/>");
    Open();
    EXPECT_EQ(ReadFileText(fileName_), "<old/>");
    writer_->Reset();
    EXPECT_EQ(FileTree(), L"report");
}

// The engine's sections, with texts a registry holds: markup characters, quotes, non-ASCII,
// whitespace that a parser would otherwise normalise, and characters XML cannot carry.
TEST_F(DocuframeTest, WritesTheEngineSectionsWithEveryTextIntact)
{
    struct Case {
        std::wstring value;
        std::wstring readBack;
    };
    const std::vector<Case> cases = {
        {L"plain", L"plain"},
        {L"", L""},
        {L"HKEY_CURRENT_USER\\Software\\A & B <C> \"D\" 'E' ]]> x",
         L"HKEY_CURRENT_USER\\Software\\A & B <C> \"D\" 'E' ]]> x"},
        {L"&amp; &lt; &#65;", L"&amp; &lt; &#65;"},
        {L"Gr\u00FC\u00DFe \u00F1 \u65E5\u672C \U0001F600 \u20AC",
         L"Gr\u00FC\u00DFe \u00F1 \u65E5\u672C \U0001F600 \u20AC"},
        {L"tab\there\r\nline two\nthree  spaced", L"tab\there\r\nline two\nthree  spaced"},
        {L"bell\x07 esc\x1B us\x1F end", L"bell\uFFFD esc\uFFFD us\uFFFD end"},
        {std::wstring(L"lone \xD800 high, lone \xDC00 low"), L"lone \uFFFD high, lone \uFFFD low"},
        {L"non-characters \uFFFE \uFFFF", L"non-characters \uFFFD \uFFFD"},
        {L"del \x7F c1 \x85", L"del \x7F c1 \x85"},
    };
    Open();
    writer_->Reset();
    writer_->OpenElement(L"info");
    writer_->SetAttribute(L"reportTime", L"01/02/2024 10:11:12");
    writer_->SetAttribute(L"user", L"J\u00F6rg <admin> & \"co\"");
    writer_->CloseElement();
    writer_->OpenElement(L"scanLog");
    writer_->OpenElement(L"summary");
    writer_->SetAttribute(L"categoriesCount", L"2");
    writer_->SetAttribute(L"totalProblemsFound", L"10");
    writer_->CloseElementNamed(L"summary");
    writer_->CloseElementNamed(L"scanLog");
    writer_->OpenElement(L"cleanLog");
    writer_->OpenElement(L"categories");
    writer_->OpenElement(L"category");
    writer_->SetAttribute(L"name", L"File Extensions");
    writer_->OpenElement(L"problems");
    std::vector<TXmlNode> problems;
    for (const Case &c : cases) {
        writer_->OpenElement(L"problem");
        writer_->SetAttribute(L"key", c.value.c_str());
        writer_->SetAttribute(L"value", L"v");
        writer_->SetAttribute(L"description", c.value.c_str());
        writer_->SetAttribute(L"status", L"Fixed");
        writer_->CloseElementNamed(L"problem");
        problems.push_back(Element(
            L"problem",
            {{L"key", c.readBack}, {L"value", L"v"}, {L"description", c.readBack}, {L"status", L"Fixed"}}));
    }
    writer_->CloseElementNamed(L"category"); // "problems" is still open inside it
    writer_->OpenElement(L"category");
    writer_->SetAttribute(L"name", L"Startup");
    writer_->OpenElement(L"problems");
    writer_->CloseElementNamed(L"category");
    writer_->CloseElementNamed(L"categories");
    writer_->OpenElement(L"summary");
    writer_->SetAttribute(L"problemsFixed", L"10");
    writer_->SetAttribute(L"performanceBoost", L"0");
    writer_->CloseElementNamed(L"summary");
    writer_->CloseElementNamed(L"cleanLog");

    const TXmlNode expected =
        Element(L"report", {},
                {Element(L"info",
                         {{L"reportTime", L"01/02/2024 10:11:12"}, {L"user", L"J\u00F6rg <admin> & \"co\""}}),
                 Element(L"scanLog", {},
                         {Element(L"summary", {{L"categoriesCount", L"2"}, {L"totalProblemsFound", L"10"}})}),
                 Element(L"cleanLog", {},
                         {Element(L"categories", {},
                                  {Element(L"category", {{L"name", L"File Extensions"}},
                                           {Element(L"problems", {}, problems)}),
                                   Element(L"category", {{L"name", L"Startup"}}, {Element(L"problems")})}),
                          Element(L"summary", {{L"problemsFixed", L"10"}, {L"performanceBoost", L"0"}})})});
    EXPECT_EQ(FileTree(), Describe(expected));

    const std::string bytes = ReadFileText(fileName_);
    EXPECT_EQ(bytes.rfind("<?xml version=\"1.0\" encoding=\"UTF-8\"?>", 0), 0u) << bytes.substr(0, 60);
    EXPECT_NE(bytes.find("\xE6\x97\xA5\xE6\x9C\xAC"), std::string::npos)
        << "non-ASCII text is stored as UTF-8";
}

// Whatever moment the process dies at, the file on disk is a whole document holding every
// element finished so far.
TEST_F(DocuframeTest, TheFileIsAWholeDocumentAfterEveryCall)
{
    Open();
    struct Step {
        const wchar_t *call;
        std::function<void()> run;
        std::wstring tree;
    };
    IXmlReport *w = nullptr;
    const std::vector<Step> steps = {
        {L"Reset", [&] { w->Reset(); }, L"report"},
        {L"OpenElement cleanLog", [&] { w->OpenElement(L"cleanLog"); }, L"report"},
        {L"OpenElement categories", [&] { w->OpenElement(L"categories"); }, L"report[cleanLog]"},
        {L"OpenElement category", [&] { w->OpenElement(L"category"); }, L"report[cleanLog[categories]]"},
        {L"SetAttribute name", [&] { w->SetAttribute(L"name", L"Fonts"); }, L"report[cleanLog[categories]]"},
        {L"OpenElement problems", [&] { w->OpenElement(L"problems"); },
         L"report[cleanLog[categories[category{name=\"Fonts\"}]]]"},
        {L"OpenElement problem", [&] { w->OpenElement(L"problem"); },
         L"report[cleanLog[categories[category{name=\"Fonts\"}[problems]]]]"},
        {L"SetAttribute key", [&] { w->SetAttribute(L"key", L"k<1>"); },
         L"report[cleanLog[categories[category{name=\"Fonts\"}[problems]]]]"},
        {L"CloseElementNamed problem", [&] { w->CloseElementNamed(L"problem"); },
         L"report[cleanLog[categories[category{name=\"Fonts\"}[problems[problem{key=\"k<1>\"}]]]]]"},
        {L"OpenElement problem", [&] { w->OpenElement(L"problem"); },
         L"report[cleanLog[categories[category{name=\"Fonts\"}[problems[problem{key=\"k<1>\"}]]]]]"},
        {L"CloseElementNamed category", [&] { w->CloseElementNamed(L"category"); },
         L"report[cleanLog[categories[category{name=\"Fonts\"}[problems[problem{key=\"k<1>\"}, problem]]]]]"},
        {L"CloseElementNamed cleanLog", [&] { w->CloseElementNamed(L"cleanLog"); },
         L"report[cleanLog[categories[category{name=\"Fonts\"}[problems[problem{key=\"k<1>\"}, problem]]]]]"},
        {L"Reset", [&] { w->Reset(); }, L"report"},
        {L"OpenElement info", [&] { w->OpenElement(L"info"); }, L"report"},
        {L"CloseElement", [&] { w->CloseElement(); }, L"report[info]"},
    };
    w = writer_.Get();
    for (const Step &step : steps) {
        step.run();
        EXPECT_EQ(FileTree(), step.tree) << "after " << std::string(step.call, step.call + wcslen(step.call));
    }
}

TEST_F(DocuframeTest, CloseElementNamedClosesTheInnermostOfThatNameWithEverythingInsideIt)
{
    struct Case {
        const char *what;
        std::vector<std::wstring> open;
        std::wstring closeNamed;
        std::wstring tree; // after the close, one more element "next" and closing everything
    };
    const std::vector<Case> cases = {
        {"innermost of two with the same name", {L"a", L"b", L"a", L"c"}, L"a", L"report[a[b[a[c], next]]]"},
        {"outermost closes all", {L"a", L"b", L"c"}, L"a", L"report[a[b[c]], next]"},
        {"the innermost itself", {L"a", L"b"}, L"b", L"report[a[b, next]]"},
        {"a name not open does nothing", {L"a", L"b"}, L"x", L"report[a[b[next]]]"},
        {"names are case-sensitive", {L"a", L"b"}, L"A", L"report[a[b[next]]]"},
        {"an empty name matches nothing open", {L"a"}, L"", L"report[a[next]]"},
    };
    for (const Case &c : cases) {
        Open();
        writer_->Reset();
        for (const std::wstring &name : c.open) {
            writer_->OpenElement(name.c_str());
        }
        writer_->CloseElementNamed(c.closeNamed.c_str());
        writer_->OpenElement(L"next");
        for (int i = 0; i < 8; ++i) {
            writer_->CloseElement(); // surplus closes do nothing
        }
        EXPECT_EQ(FileTree(), c.tree) << c.what;
        writer_.Reset();
        report_.Reset();
    }
}

TEST_F(DocuframeTest, AttributesGoToTheInnermostOpenElementAndAreReplacedByName)
{
    Open();
    writer_->Reset();
    writer_->SetAttribute(L"lost", L"no element open");
    writer_->OpenElement(L"category");
    writer_->SetAttribute(L"name", L"first");
    writer_->SetAttribute(L"name", L"second");
    writer_->OpenElement(L"problems");
    writer_->OpenElement(L"problem");
    writer_->CloseElement();
    writer_->CloseElement();
    // The category already has children on disk: its start tag is rewritten.
    writer_->SetAttribute(L"late", L"a & b");
    writer_->SetAttribute(L"name", L"third");
    writer_->OpenElement(L"more");
    writer_->CloseElementNamed(L"category");
    EXPECT_EQ(FileTree(), L"report[category{name=\"third\", late=\"a & b\"}[problems[problem], more]]");
}

TEST_F(DocuframeTest, NamesThatCannotBeXmlNamesAreMadeSafe)
{
    Open();
    writer_->Reset();
    writer_->OpenElement(L"1st place");
    writer_->SetAttribute(L"a b", L"1");
    writer_->SetAttribute(L"x:y", L"2");
    writer_->SetAttribute(L"", L"3");
    writer_->OpenElement(L"<bad>&");
    writer_->OpenElement(L"\u00C4rger-\u00E9t\u00E9.2");
    writer_->CloseElementNamed(L"1st place"); // closed by the name it was opened with
    writer_->OpenElement(L"after");
    writer_->CloseElement();
    EXPECT_EQ(
        FileTree(),
        L"report[_1st_place{a_b=\"1\", x_y=\"2\", _=\"3\"}[_bad__[\\u00C4rger-\\u00E9t\\u00E9.2]], after]");
}

TEST_F(DocuframeTest, WithoutAutoSaveTheFileChangesAtSaveAndAtTheLastRelease)
{
    Open();
    writer_->Reset();
    writer_->SetAutoSave(FALSE);
    EXPECT_FALSE(writer_->GetAutoSave());
    writer_->OpenElement(L"info");
    writer_->CloseElement();
    EXPECT_EQ(FileTree(), L"report");
    EXPECT_EQ(report_->Save(), S_OK);
    EXPECT_EQ(FileTree(), L"report[info]");
    writer_->OpenElement(L"scanLog");
    writer_->OpenElement(L"summary");
    writer_.Reset();
    report_.Reset();
    EXPECT_EQ(FileTree(), L"report[info, scanLog[summary]]");
}

TEST_F(DocuframeTest, ANewFileNameTakesTheWholeDocument)
{
    Open();
    writer_->Reset();
    writer_->OpenElement(L"info");
    writer_->CloseElement();
    writer_->OpenElement(L"scanLog");
    writer_->OpenElement(L"summary");
    const std::wstring moved = folder_.Path() + L"moved.xml";
    EXPECT_EQ(writer_->SetFileName(moved.c_str()), S_OK);
    EXPECT_EQ(writer_->SetFileName(L""), E_INVALIDARG);
    writer_->CloseElement();
    EXPECT_EQ(Describe(ParseXmlFile(moved)), L"report[info, scanLog[summary]]");
    EXPECT_EQ(FileTree(), L"report[info, scanLog]") << "the old file stays as it was";
}

TEST_F(DocuframeTest, LeavesNoTemporaryFilesBehind)
{
    Open();
    for (int i = 0; i < 3; ++i) {
        writer_->Reset();
        writer_->OpenElement(L"info");
        writer_->CloseElement();
    }
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((folder_.Path() + L"*").c_str(), &found);
    ASSERT_NE(search, INVALID_HANDLE_VALUE);
    do {
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
            names.emplace_back(found.cFileName);
        }
    } while (FindNextFileW(search, &found));
    FindClose(search);
    ASSERT_EQ(names.size(), 1u);
    EXPECT_EQ(names[0], L"tidyhive.xml");
}

// A reader that holds the report without allowing deletion blocks the replacement of the
// file; the report is then rewritten in place.
TEST_F(DocuframeTest, AReaderHoldingTheFileDoesNotStopTheReport)
{
    Open();
    writer_->Reset();
    HANDLE reader = CreateFileW(fileName_.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(reader, INVALID_HANDLE_VALUE);
    writer_->OpenElement(L"info");
    writer_->CloseElement();
    writer_->Reset();
    writer_->OpenElement(L"scanLog");
    writer_->CloseElement();
    CloseHandle(reader);
    EXPECT_EQ(FileTree(), L"report[scanLog]");
}

// A clean of many thousands of problems costs one small write per problem.
TEST_F(DocuframeTest, TenThousandProblemsStayCheap)
{
    constexpr int kProblems = 10000;
    Open();
    const auto start = std::chrono::steady_clock::now();
    writer_->Reset();
    writer_->OpenElement(L"cleanLog");
    writer_->OpenElement(L"categories");
    writer_->OpenElement(L"category");
    writer_->SetAttribute(L"name", L"Classes");
    writer_->OpenElement(L"problems");
    for (int i = 0; i < kProblems; ++i) {
        const std::wstring key = L"HKEY_CLASSES_ROOT\\CLSID\\{" + std::to_wstring(i) + L"}\\InprocServer32";
        writer_->OpenElement(L"problem");
        writer_->SetAttribute(L"key", key.c_str());
        writer_->SetAttribute(L"value", L"");
        writer_->SetAttribute(L"description", L"Invalid file or folder reference");
        writer_->SetAttribute(L"status", L"Fixed");
        writer_->CloseElementNamed(L"problem");
    }
    writer_->CloseElementNamed(L"cleanLog");
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    RecordProperty("seconds", std::to_string(seconds));
    EXPECT_LT(seconds, 10.0) << "writing " << kProblems << " problems took " << seconds << " s";

    const TXmlNode tree = ParseXmlFile(fileName_);
    ASSERT_EQ(tree.children.size(), 1u);
    const TXmlNode &problems = tree.children[0].children.at(0).children.at(0).children.at(0);
    ASSERT_EQ(problems.children.size(), static_cast<size_t>(kProblems));
    EXPECT_EQ(problems.children.back().attributes.at(0).second,
              L"HKEY_CLASSES_ROOT\\CLSID\\{" + std::to_wstring(kProblems - 1) + L"}\\InprocServer32");
}

} // namespace
} // namespace tidyhive::testing
