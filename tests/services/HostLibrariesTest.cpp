// The sibling-library loader: a service that cannot be had ends the process after its
// message; one that can is handed out and kept.
#include "services/HostLibraries.h"
#include "tests/support/EngineLibrary.h"

#include <gtest/gtest.h>

namespace tidyhive {
namespace {

TEST(HostLibraries, MissingLibraryOrMissingExportEndsTheProcess)
{
    struct Case {
        const wchar_t* library;
        const char* why;
    };
    for (const Case& c : {Case{L"NoSuchSibling.dll", "the library is missing"},
                          Case{L"version.dll", "the library has no GetInstance"}}) {
        const testing::TChildResult result = testing::RunChild(L"LoaderProbe.exe", c.library);
        EXPECT_EQ(result.exitCode, kFatalLibraryExitCode) << c.why << "; output: " << result.output;
        EXPECT_EQ(result.output.find("loaded"), std::string::npos) << c.why;
    }
}

TEST(HostLibraries, PresentServiceIsHandedOutOnceAndKept)
{
    const testing::TChildResult result = testing::RunChild(L"LoaderProbe.exe", L"Sysvane.dll");
    EXPECT_EQ(result.exitCode, 0u) << result.output;
    EXPECT_NE(result.output.find("loaded"), std::string::npos) << result.output;

    EXPECT_EQ(GetHelper(), GetHelper());
    EXPECT_FALSE(SiblingText(GetHelper(), &ISysHelper::GetAppDataFolder).empty());
    EXPECT_EQ(SiblingText(GetGlobals(), &IGlobals::GetSettingsPath), L"Software\\Quorvanta\\Tidyhive\\");
}

TEST(HostLibraries, LibraryListLoadsEachNameOnceCaseInsensitively)
{
    TLibraryList& list = TLibraryList::Instance();
    HMODULE first = list.GetModule("Sysvane.dll");
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(list.GetModule("SYSVANE.DLL"), first);
    EXPECT_EQ(list.GetModule("NoSuchSibling.dll"), nullptr);
}

}  // namespace
}  // namespace tidyhive
