// The log manager: where the report goes, what BeginReport writes, the sections the scan and
// clean managers write through it (read back from the file), and the performance boost.
#include "clean/LogManager.h"

#include "services/DateTimeText.h"
#include "tests/support/EngineLibrary.h"
#include "tests/support/TestRegistry.h"
#include "tests/support/XmlTree.h"

#include <gtest/gtest.h>
#include <shlobj.h>

#include <climits>
#include <string>
#include <vector>

namespace tidyhive::testing {
namespace {

std::string Narrow(const std::wstring &text)
{
    std::string out;
    for (wchar_t c : text) {
        out += c < 0x80 ? static_cast<char>(c) : '?';
    }
    return out;
}

bool FolderExists(const std::wstring &path)
{
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::wstring LocaleDateTime(const SYSTEMTIME &time)
{
    wchar_t date[128] = {};
    wchar_t clock[128] = {};
    GetDateFormatW(LOCALE_USER_DEFAULT, DATE_SHORTDATE, &time, nullptr, date, 128);
    GetTimeFormatW(LOCALE_USER_DEFAULT, 0, &time, nullptr, clock, 128);
    return std::wstring(date) + L" " + clock;
}

TEST(LogManagerTest, PerformanceBoostFollowsItsTable)
{
    struct Case {
        LONG fixed;
        LONG boost;
    };
    const std::vector<Case> cases = {
        {LONG_MIN, 0}, {-1, 0},    {0, 0},     {499, 0},    {500, 1},    {749, 1},     {750, 2},
        {1250, 2},     {1251, 3},  {1750, 4},  {2250, 4},   {2750, 6},   {4749, 9},    {4750, 10},
        {5000, 10},    {5001, 12}, {6000, 12}, {10000, 13}, {20000, 14}, {100000, 15}, {LONG_MAX, 15},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(TLogManager::PerformanceBoost(c.fixed), c.boost) << "problems fixed: " << c.fixed;
    }
}

TEST(LogManagerTest, PerformanceBoostNeverFallsAndNeverPassesFifteen)
{
    LONG previous = 0;
    for (LONG fixed = 0; fixed < 2000000; fixed += 37) {
        const LONG boost = TLogManager::PerformanceBoost(fixed);
        ASSERT_GE(boost, previous) << "problems fixed: " << fixed;
        ASSERT_LE(boost, 15) << "problems fixed: " << fixed;
        previous = boost;
    }
}

TEST(LogManagerTest, TheReportLivesInTheUsersReportFolder)
{
    wchar_t appData[MAX_PATH] = {};
    ASSERT_EQ(SHGetFolderPathW(nullptr, CSIDL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, appData), S_OK);
    EXPECT_EQ(TLogManager::ReportFolder(), std::wstring(appData) + L"\\Quorvanta\\Tidyhive\\User Reports\\");
    EXPECT_EQ(&TLogManager::Instance(), &TLogManager::Instance());
}

TEST(LogManagerTest, TheFirstBeginReportCreatesTheFolderAndWritesInfo)
{
    TTestFolder folder;
    const std::wstring reports = folder.Path() + L"Quorvanta\\Tidyhive\\User Reports\\";
    TLogManager manager(reports);

    // Before a report exists the element calls do nothing.
    EXPECT_FALSE(manager.HasReport());
    manager.OpenElement(L"early");
    manager.SetAttribute(L"a", L"b");
    manager.CloseElement();
    manager.CloseElementNamed(L"early");
    EXPECT_FALSE(FolderExists(folder.Path() + L"Quorvanta")) << "nothing is written before BeginReport";

    SYSTEMTIME before;
    GetLocalTime(&before);
    manager.BeginReport();
    SYSTEMTIME after;
    GetLocalTime(&after);
    EXPECT_TRUE(manager.HasReport());
    ASSERT_TRUE(FolderExists(reports));
    const TXmlNode tree = ParseXmlFile(reports + L"tidyhive.xml");
    ASSERT_EQ(tree.children.size(), 1u) << Narrow(Describe(tree));
    const TXmlNode &info = tree.children[0];
    EXPECT_EQ(info.name, L"info");
    ASSERT_EQ(info.attributes.size(), 2u) << Narrow(Describe(tree));
    EXPECT_EQ(info.attributes[0].first, L"reportTime");
    const std::wstring reportTime = info.attributes[0].second;
    EXPECT_TRUE(reportTime == LocaleDateTime(before) || reportTime == LocaleDateTime(after))
        << Narrow(reportTime) << " is not " << Narrow(LocaleDateTime(before));
    wchar_t user[257] = {};
    DWORD size = 257;
    GetUserNameW(user, &size);
    EXPECT_EQ(info.attributes[1], std::make_pair(std::wstring(L"user"), std::wstring(user)));
    EXPECT_EQ(manager.ReportFileName(), reports + L"tidyhive.xml");
}

TEST(LogManagerTest, TheManagersSectionsReachTheFileAndBeginReportStartsAfresh)
{
    TTestFolder folder;
    TLogManager manager(folder.Path());
    manager.BeginReport();

    // As the scan manager writes its log.
    manager.OpenElement(L"scanLog");
    manager.WriteElement(L"summary", {{L"categoriesCount", L"1"}, {L"scanTotalTime", ElapsedText(65030)}});
    manager.CloseElementNamed(L"scanLog");
    // As the clean manager writes its log: "problems" is closed together with "category".
    manager.OpenElement(L"cleanLog");
    manager.OpenElement(L"categories");
    manager.OpenElement(L"category");
    manager.SetAttribute(L"name", L"File Extensions");
    manager.OpenElement(L"problems");
    manager.OpenElement(L"problem");
    manager.SetAttribute(L"key", L"HKEY_CURRENT_USER\\Software\\A&B\\<x>");
    manager.SetAttribute(L"value", L"\"q\"");
    manager.SetAttribute(L"description", L"Invalid file or folder reference");
    manager.SetAttribute(L"status", L"Fixed");
    manager.CloseElementNamed(L"problem");
    manager.CloseElementNamed(L"category");
    manager.CloseElementNamed(L"categories");
    manager.WriteElement(
        L"summary",
        {{L"problemsFixed", L"1"}, {L"performanceBoost", std::to_wstring(TLogManager::PerformanceBoost(1))}});
    manager.CloseElementNamed(L"cleanLog");

    TXmlNode tree = ParseXmlFile(folder.Path() + L"tidyhive.xml");
    ASSERT_FALSE(tree.children.empty());
    tree.children[0].attributes.clear(); // info, checked elsewhere
    const TXmlNode expected = Element(
        L"report", {},
        {Element(L"info"),
         Element(L"scanLog", {},
                 {Element(L"summary", {{L"categoriesCount", L"1"}, {L"scanTotalTime", L"00:01:05.30"}})}),
         Element(L"cleanLog", {},
                 {Element(L"categories", {},
                          {Element(L"category", {{L"name", L"File Extensions"}},
                                   {Element(L"problems", {},
                                            {Element(L"problem",
                                                     {{L"key", L"HKEY_CURRENT_USER\\Software\\A&B\\<x>"},
                                                      {L"value", L"\"q\""},
                                                      {L"description", L"Invalid file or folder reference"},
                                                      {L"status", L"Fixed"}})})})}),
                  Element(L"summary", {{L"problemsFixed", L"1"}, {L"performanceBoost", L"0"}})})});
    EXPECT_EQ(Describe(tree), Describe(expected));

    manager.BeginReport();
    tree = ParseXmlFile(folder.Path() + L"tidyhive.xml");
    ASSERT_EQ(tree.children.size(), 1u) << Narrow(Describe(tree));
    EXPECT_EQ(tree.children[0].name, L"info");
}

TEST(LogManagerTest, EveryRootSharesTheLogManager)
{
    TEngineLibrary library;
    TRootOwner first(library.CreateRoot());
    TRootOwner second(library.CreateRoot());
    ASSERT_NE(first->GetLogManager(), nullptr);
    EXPECT_EQ(first->GetLogManager(), second->GetLogManager());
}

} // namespace
} // namespace tidyhive::testing
