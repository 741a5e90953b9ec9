// The process-wide state behind the library's interfaces: the storage folder and the
// session being recorded. One lock orders every recorded change with its journal record.
#pragma once

#include "siblings/backvault/Journal.h"
#include "siblings/backvault/Records.h"
#include "siblings/backvault/Win32Owners.h"

#include <memory>
#include <string>

namespace tidyhive::backvault {

class TVault {
public:
    TLock &Lock() { return lock_; }

    // The folder that holds the session folders.
    std::wstring StorageFolder();
    // Empty: back to the default. Refused while a session is open.
    void SetStorageFolder(const std::wstring &folder);

    bool IsRecording() const { return journal_ != nullptr; }
    // Whether a change must be recorded before it is made. Throws EBackvault after a
    // BeginSession that failed, until EndSession: the caller believes its changes are
    // recorded, so none is made unrecorded.
    bool MustRecord() const;
    const std::wstring &OpenSessionId() const { return sessionId_; }
    // Each throws EBackvault.
    std::wstring Begin(const std::wstring &title, const std::wstring &program);
    void SetTitle(const std::wstring &title);
    // Closes the session; without keep, its stored data is removed.
    void End(bool keep);

    // Puts a change on disk before it is made; answers its sequence number. Throws
    // EBackvault, and then the change must not be made.
    uint32_t RecordChange(TRecordKind kind, const TBytes &payload);
    // What became of a change. Not flushed on its own: a restore compares the registry
    // with both states of the change, so a lost outcome costs nothing.
    void RecordOutcome(const TOutcome &outcome) noexcept;
    // A fresh name inside the open session's folder for a kept file: the name relative to
    // the session folder in relativeName, the full path as the answer.
    std::wstring NewKeptFile(std::wstring &relativeName);

private:
    std::wstring Open(const std::wstring &title, const std::wstring &program);
    TLock lock_;
    std::wstring storage_;
    std::unique_ptr<TJournalWriter> journal_;
    std::wstring sessionId_;
    std::wstring sessionFolder_;
    std::wstring beginFailure_; // why the last BeginSession failed, until EndSession
    uint32_t changes_ = 0;
    uint32_t keptFiles_ = 0;
};

// The single vault of the process, created on first use and never destroyed (nothing
// runs at unload).
TVault &Vault();

} // namespace tidyhive::backvault
