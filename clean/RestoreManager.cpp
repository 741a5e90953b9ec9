#include "clean/RestoreManager.h"

#include "registry/RegistryException.h"
#include "services/DebugLog.h"
#include "services/HostLibraries.h"
#include "services/Text.h"

#include <chrono>

namespace tidyhive {
namespace {

constexpr wchar_t kProgramName[] = L"Registry Cleaner";
constexpr wchar_t kHostFileName[] = L"tidyhive.exe";

std::mutex gInstanceMutex;
// A plain pointer: the manager is freed at the library's Free, never by a destructor that
// would run at process exit.
TRestoreManager *gInstance = nullptr;

} // namespace

TRestoreManager &TRestoreManager::Instance()
{
    std::lock_guard guard(gInstanceMutex);
    if (!gInstance) {
        gInstance = new TRestoreManager(GetBackvault());
    }
    return *gInstance;
}

void TRestoreManager::FreeInstance()
{
    std::lock_guard guard(gInstanceMutex);
    delete gInstance;
    gInstance = nullptr;
}

std::unique_ptr<TRestoreManager> TRestoreManager::ReplaceInstance(std::unique_ptr<TRestoreManager> manager)
{
    std::lock_guard guard(gInstanceMutex);
    std::unique_ptr<TRestoreManager> previous(gInstance);
    gInstance = manager.release();
    return previous;
}

ISettings *TRestoreManager::OptionalSettings()
{
    static TServiceCache cache{nullptr};
    return reinterpret_cast<ISettings *>(
        GetLibraryInstance(cache, kTunestoreLibrary, kSettingsInstanceId, 0));
}

TRestoreManager::TRestoreManager(IBackvault *backup, TSettingsSource settings)
    : backup_(TComPtr<IBackvault>::Share(backup)), settings_(settings)
{
}

TRestoreManager::~TRestoreManager() = default;

bool TRestoreManager::ReadBackupEnabled() const
{
    ISettings *settings = settings_ ? settings_() : nullptr;
    if (!settings) {
        return true;
    }
    const auto application = TComPtr<IApplicationSettings>::Adopt(settings->GetApplicationSettings());
    return !application || application->IsBackupEnabled(kHostFileName) != FALSE;
}

int TRestoreManager::BeginSession(const std::wstring &title, const std::function<void()> &whileWaiting)
{
    {
        std::unique_lock lock(mutex_);
        while (sessionOpen_) {
            if (!whileWaiting) {
                sessionEnded_.wait(lock);
                continue;
            }
            sessionEnded_.wait_for(lock, std::chrono::milliseconds(100));
            if (sessionOpen_) {
                lock.unlock();
                whileWaiting();
                lock.lock();
            }
        }
        sessionOpen_ = true;
    }
    try {
        backupEnabled_ = true;
        backupEnabled_ = ReadBackupEnabled();
        TBstr id;
        const int status = backup_ ? backup_->BeginSession(title.c_str(), kProgramName, id.Out()) : 0;
        std::lock_guard guard(mutex_);
        sessionId_ = id.Str();
        return status;
    } catch (...) {
        ReleaseSession();
        throw;
    }
}

void TRestoreManager::SetSessionTitle(const std::wstring &title)
{
    if (backup_) {
        backup_->SetSessionTitle(title.c_str());
    }
}

int TRestoreManager::EndSession()
{
    int status = 0;
    try {
        status = backup_ ? backup_->EndSession(backupEnabled_ ? TRUE : FALSE) : 0;
    } catch (const std::exception &error) {
        DebugLog::Failure(L"TRestoreManager", L"EndSession", ExceptionMessage(error));
        status = 0;
    } catch (...) {
        DebugLog::Failure(L"TRestoreManager", L"EndSession", L"unknown error");
        status = 0;
    }
    ReleaseSession();
    return status;
}

void TRestoreManager::ReleaseSession()
{
    {
        std::lock_guard guard(mutex_);
        sessionOpen_ = false;
    }
    sessionEnded_.notify_all();
}

std::wstring TRestoreManager::SessionId() const
{
    std::lock_guard guard(mutex_);
    return sessionId_;
}

bool TRestoreManager::SessionOpen() const
{
    std::lock_guard guard(mutex_);
    return sessionOpen_;
}

TBackupSession::TBackupSession(TRestoreManager &manager, const std::wstring &title,
                               const std::function<void()> &whileWaiting)
    : manager_(manager), beginStatus_(manager.BeginSession(title, whileWaiting))
{
}

TBackupSession::~TBackupSession()
{
    End();
}

int TBackupSession::End()
{
    if (!open_) {
        return 0;
    }
    open_ = false;
    return manager_.EndSession();
}

} // namespace tidyhive
