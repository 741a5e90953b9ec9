// The restore manager with a fake backup library and fake settings.
#include "clean/RestoreManager.h"
#include "registry/RegistryUtility.h"
#include "services/Text.h"
#include "tests/registry/FakeBackvault.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace tidyhive {
namespace {

using testing::TFakeBackvault;

std::string Show(const std::vector<std::wstring> &lines)
{
    std::string text;
    for (const std::wstring &line : lines) {
        text += "\n  " + WideToUtf8(line);
    }
    return text;
}

// Settings whose answer a test chooses; records which program was asked about.
class TFakeApplicationSettings : public IApplicationSettings {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void **object) override
    {
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++references); }
    ULONG STDMETHODCALLTYPE Release() override { return static_cast<ULONG>(--references); }
    BOOL STDMETHODCALLTYPE IsBackupEnabled(LPCWSTR program) override
    {
        askedFor = program;
        return enabled;
    }
    HRESULT STDMETHODCALLTYPE SetBackupEnabled(LPCWSTR, BOOL) override { return E_NOTIMPL; }

    std::atomic<LONG> references{0};
    BOOL enabled = TRUE;
    std::wstring askedFor;
};

class TFakeSettings : public ISettings {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void **object) override
    {
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 1; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE GetSettingsPath(BSTR *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Reserved4() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Reserved5() override { return E_NOTIMPL; }
    IApplicationSettings *STDMETHODCALLTYPE GetApplicationSettings() override
    {
        application.AddRef(); // a new reference for the caller
        return &application;
    }

    TFakeApplicationSettings application;
};

TFakeSettings gSettings;
ISettings *FakeSettings()
{
    return &gSettings;
}
ISettings *NoSettings()
{
    return nullptr;
}

TEST(RestoreManager, SessionAroundAClean)
{
    TFakeBackvault backup;
    gSettings.application.enabled = FALSE;
    {
        TRestoreManager manager(&backup, &FakeSettings);
        EXPECT_TRUE(manager.BackupEnabled()) << "enabled until a session says otherwise";
        EXPECT_EQ(manager.Backup(), &backup);
        EXPECT_EQ(manager.BeginSession(L"Removed 3"), 7);
        EXPECT_TRUE(manager.SessionOpen());
        EXPECT_EQ(manager.SessionId(), L"session-1");
        EXPECT_FALSE(manager.BackupEnabled()) << "from the settings library";
        EXPECT_EQ(gSettings.application.askedFor, L"tidyhive.exe");
        manager.SetSessionTitle(L"Removed 2");
        EXPECT_EQ(manager.EndSession(), 9);
        EXPECT_FALSE(manager.SessionOpen());
    }
    EXPECT_EQ(backup.Calls(), (std::vector<std::wstring>{L"Begin Removed 3 | Registry Cleaner",
                                                         L"Title Removed 2", L"End disabled"}))
        << Show(backup.Calls());
    EXPECT_EQ(backup.References(), 1) << "the manager releases the library";
    EXPECT_EQ(gSettings.application.references, 0) << "the per-application settings are released";
    gSettings.application.enabled = TRUE;
}

TEST(RestoreManager, MissingSettingsLeaveBackingUpEnabled)
{
    TFakeBackvault backup;
    TRestoreManager manager(&backup, &NoSettings);
    {
        TBackupSession session(manager, L"Title");
        EXPECT_EQ(session.BeginStatus(), 7);
        EXPECT_TRUE(manager.BackupEnabled());
        EXPECT_EQ(session.End(), 9);
        EXPECT_EQ(session.End(), 0) << "ended once";
    }
    EXPECT_EQ(backup.Calls().back(), L"End enabled");
    EXPECT_EQ(backup.Calls().size(), 2u);
}

TEST(RestoreManager, SessionEndsWhenAnExceptionPasses)
{
    TFakeBackvault backup;
    TRestoreManager manager(&backup, &NoSettings);
    try {
        TBackupSession session(manager, L"Title");
        throw std::runtime_error("fix failed");
    } catch (const std::runtime_error &) {
    }
    EXPECT_FALSE(manager.SessionOpen());
    EXPECT_EQ(backup.Calls().back(), L"End enabled");
}

// Two roots cleaning at once: the second session waits until the first has ended.
TEST(RestoreManager, SessionsOfTwoRootsNeverInterleave)
{
    TFakeBackvault backup;
    TRestoreManager manager(&backup, &NoSettings);
    std::atomic<int> fixesInside{0};
    std::atomic<int> mostInside{0};
    auto clean = [&](const std::wstring &root) {
        for (int round = 0; round < 5; ++round) {
            TBackupSession session(manager, root);
            const int inside = ++fixesInside;
            int most = mostInside;
            while (inside > most && !mostInside.compare_exchange_weak(most, inside)) {
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
            session.SetTitle(root + L" done");
            --fixesInside;
        }
    };
    std::thread first(clean, L"A");
    std::thread second(clean, L"B");
    first.join();
    second.join();
    EXPECT_EQ(backup.MostOpenAtOnce(), 1);
    EXPECT_EQ(mostInside, 1);
    // Every session's calls are contiguous: begin, title, end.
    const std::vector<std::wstring> calls = backup.Calls();
    ASSERT_EQ(calls.size(), 30u) << Show(calls);
    for (size_t at = 0; at < calls.size(); at += 3) {
        const std::wstring root = calls[at].substr(6, 1);
        EXPECT_EQ(calls[at], L"Begin " + root + L" | Registry Cleaner") << Show(calls);
        EXPECT_EQ(calls[at + 1], L"Title " + root + L" done") << Show(calls);
        EXPECT_EQ(calls[at + 2], L"End enabled") << Show(calls);
    }
}

TEST(RestoreManager, WaitingForASessionCanBeGivenUp)
{
    TFakeBackvault backup;
    TRestoreManager manager(&backup, &NoSettings);
    TBackupSession first(manager, L"First");
    std::atomic<int> checks{0};
    bool gaveUp = false;
    std::thread second([&] {
        try {
            manager.BeginSession(L"Second", [&] {
                if (++checks == 3) {
                    throw std::runtime_error("stopped");
                }
            });
        } catch (const std::runtime_error &) {
            gaveUp = true;
        }
    });
    second.join();
    EXPECT_TRUE(gaveUp);
    EXPECT_GE(checks, 3);
    EXPECT_TRUE(manager.SessionOpen()) << "the first session is still open";
    EXPECT_EQ(backup.Calls(), (std::vector<std::wstring>{L"Begin First | Registry Cleaner"}));
    first.End();
    // The slot is free again.
    TBackupSession third(manager, L"Third");
    EXPECT_EQ(backup.Calls().back(), L"Begin Third | Registry Cleaner");
}

TEST(RestoreManager, WithoutBackupLibrarySessionsDoNothing)
{
    TRestoreManager manager(nullptr, &NoSettings);
    EXPECT_EQ(manager.BeginSession(L"Title"), 0);
    manager.SetSessionTitle(L"Other");
    EXPECT_EQ(manager.EndSession(), 0);
    EXPECT_EQ(manager.Backup(), nullptr);
}

TEST(RestoreManager, SingleInstanceCanBeReplaced)
{
    TFakeBackvault backup;
    auto previous = TRestoreManager::ReplaceInstance(std::make_unique<TRestoreManager>(&backup, &NoSettings));
    EXPECT_EQ(TRestoreManager::Instance().Backup(), &backup);
    EXPECT_EQ(&TRestoreManager::Instance(), &TRestoreManager::Instance());
    {
        // A modifying utility created without arguments uses the single manager's library.
        TRegistryUtility utility;
        EXPECT_GE(backup.References(), 2);
    }
    TRestoreManager::FreeInstance();
    EXPECT_EQ(backup.References(), 1);
    TRestoreManager::ReplaceInstance(std::move(previous));
}

TEST(RestoreManager, SettingsLibraryIsOptional)
{
    // Tunestore.dll sits beside the tests; its settings answer whether backing up is on.
    ISettings *settings = TRestoreManager::OptionalSettings();
    ASSERT_NE(settings, nullptr);
    auto application = TComPtr<IApplicationSettings>::Adopt(settings->GetApplicationSettings());
    ASSERT_TRUE(application);
}

} // namespace
} // namespace tidyhive
