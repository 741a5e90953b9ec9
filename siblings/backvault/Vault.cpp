#include "siblings/backvault/Vault.h"

#include "siblings/backvault/BackvaultError.h"
#include "siblings/backvault/SessionStore.h"

namespace tidyhive::backvault {
namespace {

uint64_t Now()
{
    FILETIME now = {};
    GetSystemTimeAsFileTime(&now);
    return (static_cast<uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
}

} // namespace

TVault &Vault()
{
    static TVault *vault = new TVault();
    return *vault;
}

std::wstring TVault::StorageFolder()
{
    TLockGuard guard(lock_);
    if (storage_.empty()) {
        storage_ = DefaultStorageFolder();
    }
    return storage_;
}

void TVault::SetStorageFolder(const std::wstring &folder)
{
    TLockGuard guard(lock_);
    if (IsRecording()) {
        throw EBackvault(L"The storage folder cannot change while session " + sessionId_ + L" is open",
                         ERROR_BUSY);
    }
    std::wstring normalized = folder;
    while (normalized.size() > 3 && (normalized.back() == L'\\' || normalized.back() == L'/')) {
        normalized.pop_back();
    }
    storage_ = normalized;
}

bool TVault::MustRecord() const
{
    if (!beginFailure_.empty()) {
        throw EBackvault(L"No change is made: the backup session could not begin. " + beginFailure_,
                         ERROR_INVALID_STATE);
    }
    return IsRecording();
}

std::wstring TVault::Begin(const std::wstring &title, const std::wstring &program)
{
    TLockGuard guard(lock_);
    if (IsRecording()) {
        // The open session goes on recording every change; it is not a failed begin.
        throw EBackvault(L"Session " + sessionId_ + L" is still open; end it before beginning another",
                         ERROR_BUSY);
    }
    try {
        return Open(title, program);
    } catch (const EBackvault &error) {
        beginFailure_ = error.Message();
        throw;
    } catch (...) {
        beginFailure_ = L"Unexpected failure.";
        throw;
    }
}

std::wstring TVault::Open(const std::wstring &title, const std::wstring &program)
{
    beginFailure_.clear();
    std::wstring folder;
    const std::wstring id = CreateSessionFolder(StorageFolder(), folder);
    TSessionHeader header;
    header.started = Now();
    header.title = title;
    header.program = program;
    header.processId = GetCurrentProcessId();
    header.pointerBits = sizeof(void *) * 8;
    try {
        journal_ = std::make_unique<TJournalWriter>(folder, Encode(header));
    } catch (...) {
        RemoveDirectoryW(folder.c_str()); // empty, or holding a journal that never got its first record
        DeleteFileW((folder + L"\\" + kJournalFileName).c_str());
        RemoveDirectoryW(folder.c_str());
        throw;
    }
    sessionId_ = id;
    sessionFolder_ = folder;
    changes_ = 0;
    keptFiles_ = 0;
    return id;
}

void TVault::SetTitle(const std::wstring &title)
{
    TLockGuard guard(lock_);
    if (!IsRecording()) {
        throw EBackvault(L"No session is open", ERROR_INVALID_STATE);
    }
    journal_->Append(TRecordKind::Title, EncodeText(title), true);
}

void TVault::End(bool keep)
{
    TLockGuard guard(lock_);
    if (!beginFailure_.empty()) {
        const std::wstring failure = beginFailure_;
        beginFailure_.clear();
        throw EBackvault(L"No session is open: it could not begin. " + failure, ERROR_INVALID_STATE);
    }
    if (!IsRecording()) {
        throw EBackvault(L"No session is open", ERROR_INVALID_STATE);
    }
    // The session closes whatever happens below, so that the next one can begin.
    std::unique_ptr<TJournalWriter> journal = std::move(journal_);
    const std::wstring id = sessionId_;
    sessionId_.clear();
    const std::wstring folder = std::move(sessionFolder_);
    TSessionEnd end;
    end.finished = Now();
    end.changes = changes_;
    journal->Append(TRecordKind::End, Encode(end), true);
    journal->Seal();
    journal.reset();
    if (!keep) {
        RemoveSessionFolder(StorageFolder(), id);
    }
}

uint32_t TVault::RecordChange(TRecordKind kind, const TBytes &payload)
{
    TLockGuard guard(lock_);
    if (!IsRecording()) {
        throw EBackvault(L"No session is open", ERROR_INVALID_STATE);
    }
    const uint32_t sequence = journal_->Append(kind, payload, true);
    ++changes_;
    return sequence;
}

void TVault::RecordOutcome(const TOutcome &outcome) noexcept
{
    try {
        TLockGuard guard(lock_);
        if (IsRecording()) {
            journal_->Append(TRecordKind::Outcome, Encode(outcome), false);
        }
    } catch (...) {
        // The change is on record already; its outcome is a convenience.
    }
}

std::wstring TVault::NewKeptFile(std::wstring &relativeName)
{
    TLockGuard guard(lock_);
    if (!IsRecording()) {
        throw EBackvault(L"No session is open", ERROR_INVALID_STATE);
    }
    CreateFolders(sessionFolder_ + L"\\files");
    relativeName =
        L"files\\" + std::to_wstring(journal_->Count()) + L"-" + std::to_wstring(keptFiles_++) + L".bin";
    return sessionFolder_ + L"\\" + relativeName;
}

} // namespace tidyhive::backvault
