// TRestoreManager: the engine's one contact with the backup library. It opens, titles and
// closes the backup session around a clean, hands out the library's interface, and knows
// whether backing up is enabled for the host.
//
// Several roots in one process share the manager: one session is open at a time, and a
// second BeginSession waits until the first session has ended, so that two cleans never
// record into one session.
#pragma once

#include "services/ComPtr.h"
#include "tidyhive/Backvault.h"
#include "tidyhive/Tunestore.h"

#include <windows.h>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

namespace tidyhive {

class TRestoreManager {
public:
    // Where the settings library comes from: a borrowed ISettings, or null when it is missing
    // (backing up then stays enabled).
    using TSettingsSource = ISettings *(*)();

    // The single manager, created on first call with the backup library of the host-library
    // loader (a missing Backvault.dll ends the process there).
    static TRestoreManager &Instance();
    // Frees the single manager (at the library's Free, never at process exit).
    static void FreeInstance();
    // Puts manager in place of the single one (tests, hosts with their own backup library)
    // and answers the one it replaces; null makes the next Instance create one again.
    static std::unique_ptr<TRestoreManager> ReplaceInstance(std::unique_ptr<TRestoreManager> manager);

    // backup may be null: sessions then do nothing, and registry changes are not recorded.
    explicit TRestoreManager(IBackvault *backup, TSettingsSource settings = &OptionalSettings);
    ~TRestoreManager();
    TRestoreManager(const TRestoreManager &) = delete;
    TRestoreManager &operator=(const TRestoreManager &) = delete;

    // Waits until no session is open (calling whileWaiting, which may raise to give up, about
    // every 100 ms), refreshes the backup-enabled flag from the settings library and begins
    // a session. Answers the library's status. Every BeginSession that returns normally must
    // be followed by EndSession; TBackupSession does that for a scope.
    int BeginSession(const std::wstring &title, const std::function<void()> &whileWaiting = {});
    void SetSessionTitle(const std::wstring &title);
    // Ends the session with the backup-enabled flag; answers the library's status, 0 when it
    // failed (logged, never raised).
    int EndSession();

    bool BackupEnabled() const { return backupEnabled_.load(); }
    IBackvault *Backup() const { return backup_.Get(); }
    std::wstring SessionId() const;
    bool SessionOpen() const;

    // Tunestore.dll's settings if it is there; unlike the other services, a missing settings
    // library is no reason to end the process.
    static ISettings *OptionalSettings();

private:
    bool ReadBackupEnabled() const;
    void ReleaseSession();

    TComPtr<IBackvault> backup_;
    TSettingsSource settings_;
    std::atomic<bool> backupEnabled_{true};
    mutable std::mutex mutex_; // guards sessionId_ and sessionOpen_
    std::condition_variable sessionEnded_;
    std::wstring sessionId_;
    bool sessionOpen_ = false;
};

// One backup session for one scope: begun on construction, ended by End or, at the latest,
// when the scope ends (also when an exception passes).
class TBackupSession {
public:
    TBackupSession(TRestoreManager &manager, const std::wstring &title,
                   const std::function<void()> &whileWaiting = {});
    ~TBackupSession();
    TBackupSession(const TBackupSession &) = delete;
    TBackupSession &operator=(const TBackupSession &) = delete;

    int BeginStatus() const { return beginStatus_; }
    void SetTitle(const std::wstring &title) { manager_.SetSessionTitle(title); }
    // Ends the session once; later calls answer 0.
    int End();

private:
    TRestoreManager &manager_;
    int beginStatus_;
    bool open_ = true;
};

} // namespace tidyhive
