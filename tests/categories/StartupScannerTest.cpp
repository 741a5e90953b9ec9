// The startup scanner as the factory makes it, over the user's real Run key.
#include "engine/CategoryScannersFactory.h"
#include "scan/DetectedProblemKeys.h"
#include "tests/support/TestRegistry.h"

#include <gtest/gtest.h>

namespace tidyhive {
namespace {

constexpr wchar_t kRun[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";

// Values of a test's own under the user's Run key, removed afterwards (and the key too,
// when the test had to create it).
class TRunValues {
public:
    TRunValues()
    {
        HKEY key = nullptr;
        DWORD disposition = 0;
        RegCreateKeyExW(HKEY_CURRENT_USER, kRun, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, &disposition);
        created_ = disposition == REG_CREATED_NEW_KEY;
        RegCloseKey(key);
    }
    ~TRunValues()
    {
        HKEY key = nullptr;
        if (RegOpenKeyExW(HKEY_CURRENT_USER, kRun, 0, KEY_ALL_ACCESS, &key) == ERROR_SUCCESS) {
            for (const std::wstring& name : names_) {
                RegDeleteValueW(key, name.c_str());
            }
            RegCloseKey(key);
        }
        if (created_) {
            RegDeleteKeyW(HKEY_CURRENT_USER, kRun);
        }
    }
    std::wstring Add(const std::wstring& prefix, const std::wstring& command)
    {
        const std::wstring name = prefix + testing::NewGuidText();
        HKEY key = nullptr;
        RegOpenKeyExW(HKEY_CURRENT_USER, kRun, 0, KEY_ALL_ACCESS, &key);
        RegSetValueExW(key, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(command.c_str()),
                       static_cast<DWORD>((command.size() + 1) * sizeof(wchar_t)));
        RegCloseKey(key);
        names_.push_back(name);
        return name;
    }

private:
    bool created_ = false;
    std::vector<std::wstring> names_;
};

TEST(StartupScanner, ReportsTheDeadRunValueAndNotItsLiveLookAlikes)
{
    TRunValues run;
    const std::wstring dead = run.Add(L"TidyhiveDead-", L"\"C:\\no-such-folder-" + testing::NewGuidText() +
                                                            L"\\gone.exe\" /background");
    const std::wstring live = run.Add(L"TidyhiveLive-", L"cmd.exe /c exit");
    const std::wstring expanded = run.Add(L"TidyhiveEnv-", L"%windir%\\system32\\cmd.exe");

    auto scanner = TCategoryScannersFactory::Instance().CreateScanner(rctStartup);
    ASSERT_NE(scanner, nullptr);
    EXPECT_GT(scanner->GetTotalValuesCount(), 2);
    scanner->Scan();

    bool foundDead = false;
    TDetectedProblemKeysCollection& problems = scanner->Problems();
    for (LONG i = 0; i < problems.Count(); ++i) {
        const std::wstring name = problems.Items(i)->ValueName();
        EXPECT_NE(name, live) << "cmd.exe is found on the search path";
        EXPECT_NE(name, expanded) << "%windir% is expanded";
        foundDead = foundDead || name == dead;
    }
    EXPECT_TRUE(foundDead) << "the Run value naming a missing program is reported";
}

}  // namespace
}  // namespace tidyhive
