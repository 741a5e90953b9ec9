#include "siblings/backvault/FileAccess.h"

#include "siblings/backvault/BackvaultError.h"
#include "siblings/backvault/FileState.h"
#include "siblings/backvault/Vault.h"

#include <optional>

namespace tidyhive::backvault {
namespace {

DWORD ErrorSlot()
{
    static const DWORD slot = TlsAlloc();
    return slot;
}

BOOL Answer(DWORD error)
{
    TlsSetValue(ErrorSlot(), reinterpret_cast<void*>(static_cast<ULONG_PTR>(error)));
    SetLastError(error);
    return error == ERROR_SUCCESS;
}

// Runs a file method: an operation that cannot be recorded is not made.
template <class Body> BOOL Run(Body&& body) noexcept
{
    try {
        return Answer(body());
    } catch (const EBackvault& error) {
        SetLastErrorText(error.Message());
        return Answer(error.Code() ? error.Code() : ERROR_GEN_FAILURE);
    } catch (const std::bad_alloc&) {
        SetLastErrorText(L"Not enough memory to record the change.");
        return Answer(ERROR_NOT_ENOUGH_MEMORY);
    } catch (...) {
        SetLastErrorText(L"Unexpected failure while recording a file change.");
        return Answer(ERROR_GEN_FAILURE);
    }
}

std::wstring PathOf(LPCWSTR path)
{
    if (!path || !*path) {
        throw EBackvault(L"No path was given", ERROR_INVALID_PARAMETER);
    }
    return path;
}

void Check(DWORD status, const std::wstring& what)
{
    if (status != ERROR_SUCCESS) {
        throw EBackvault(WithSystemMessage(what, status), status);
    }
}

TFileState ReadState(const std::wstring& path, bool withContent)
{
    TFileState state;
    Check(ReadFileState(path, withContent, state),
          L"Cannot read " + path + L" to record it before the change");
    return state;
}

// Keeps the file in the session; the kept copy goes away again if the change is not
// recorded after all.
class TKeptCopy {
public:
    TKeptCopy(TVault& vault, const std::wstring& path, TFileState& state)
    {
        std::wstring relative;
        file_ = vault.NewKeptFile(relative);
        Check(KeepFile(path, file_, state), L"Cannot keep a copy of " + path + L" before the change");
        state.blob = relative;
    }
    ~TKeptCopy()
    {
        if (!committed_) {
            DeleteFileW(file_.c_str());
        }
    }
    TKeptCopy(const TKeptCopy&) = delete;
    TKeptCopy& operator=(const TKeptCopy&) = delete;
    void Commit() { committed_ = true; }

private:
    std::wstring file_;
    bool committed_ = false;
};

uint32_t RecordEntries(TVault& vault, const std::vector<TFileEntry>& entries)
{
    TFileChange change;
    change.entries = entries;
    return vault.RecordChange(TRecordKind::FileChange, Encode(change));
}

// One file operation inside the vault's lock: when the session must record, plan writes what
// the operation will change and answers its intent (none: nothing to record); then the
// operation runs (answering its Windows error code) and its outcome closes the intent.
template <class Plan, class Operation> DWORD Recorded(Plan&& plan, Operation&& operation)
{
    TVault& vault = Vault();
    TLockGuard guard(vault.Lock());
    const std::optional<uint32_t> intent = vault.MustRecord() ? plan(vault) : std::nullopt;
    const DWORD status = operation();
    if (intent) {
        vault.RecordOutcome(TOutcome{*intent, status, false, {}});
    }
    return status;
}

// The error code of a platform call that answered done.
DWORD StatusOf(BOOL done)
{
    return done ? ERROR_SUCCESS : ::GetLastError();
}

}  // namespace

BOOL STDMETHODCALLTYPE TFileAccess::DeleteFile(LPCWSTR path)
{
    return Run([&]() -> DWORD {
        const std::wstring file = PathOf(path);
        return Recorded(
            [&](TVault& vault) -> std::optional<uint32_t> {
                const TFileState current = ReadState(file, false);
                if (current.kind != TFileKind::File) {
                    return std::nullopt;
                }
                TFileEntry entry;
                entry.operation = TFileOperation::Delete;
                entry.path = file;
                TKeptCopy kept(vault, file, entry.before);
                const uint32_t intent = RecordEntries(vault, {entry});
                kept.Commit();
                return intent;
            },
            [&] { return RemoveFile(file); });
    });
}

BOOL STDMETHODCALLTYPE TFileAccess::CopyFile(LPCWSTR existing, LPCWSTR target, BOOL failIfExists)
{
    return Run([&]() -> DWORD {
        const std::wstring source = PathOf(existing);
        const std::wstring destination = PathOf(target);
        return Recorded(
            [&](TVault& vault) -> std::optional<uint32_t> {
                TFileEntry entry;
                entry.operation = TFileOperation::CopyTarget;
                entry.path = destination;
                entry.before = ReadState(destination, false);
                entry.after = ReadState(source, true);
                entry.after.blob.clear();
                const bool replaces = entry.before.kind == TFileKind::File && !failIfExists;
                const bool possible = entry.after.kind == TFileKind::File &&
                                      (entry.before.kind == TFileKind::Absent || replaces);
                if (!possible) {
                    return std::nullopt;
                }
                std::optional<TKeptCopy> kept;
                if (replaces) {
                    kept.emplace(vault, destination, entry.before);
                }
                const uint32_t intent = RecordEntries(vault, {entry});
                if (kept) {
                    kept->Commit();
                }
                return intent;
            },
            [&] { return StatusOf(::CopyFileW(source.c_str(), destination.c_str(), failIfExists)); });
    });
}

BOOL STDMETHODCALLTYPE TFileAccess::MoveFile(LPCWSTR existing, LPCWSTR target)
{
    return Run([&]() -> DWORD {
        const std::wstring source = PathOf(existing);
        const std::wstring destination = PathOf(target);
        return Recorded(
            [&](TVault& vault) -> std::optional<uint32_t> {
                const TFileState sourceState = ReadState(source, false);
                const TFileState targetState = ReadState(destination, false);
                if (sourceState.kind == TFileKind::Directory) {
                    throw EBackvault(L"Moving the folder " + source +
                                         L" cannot be recorded; only files can be moved "
                                         L"during a session",
                                     ERROR_NOT_SUPPORTED);
                }
                if (sourceState.kind != TFileKind::File || targetState.kind != TFileKind::Absent) {
                    return std::nullopt;
                }
                TFileEntry from;
                from.operation = TFileOperation::MoveSource;
                from.path = source;
                TKeptCopy kept(vault, source, from.before);
                TFileEntry to;
                to.operation = TFileOperation::MoveTarget;
                to.path = destination;
                to.after = from.before;
                to.after.blob.clear();
                const uint32_t intent = RecordEntries(vault, {from, to});
                kept.Commit();
                return intent;
            },
            [&] { return StatusOf(::MoveFileW(source.c_str(), destination.c_str())); });
    });
}

BOOL STDMETHODCALLTYPE TFileAccess::CreateDirectory(LPCWSTR path)
{
    return Run([&]() -> DWORD {
        const std::wstring folder = PathOf(path);
        return Recorded(
            [&](TVault& vault) -> std::optional<uint32_t> {
                if (ReadState(folder, false).kind != TFileKind::Absent) {
                    return std::nullopt;
                }
                TFileEntry entry;
                entry.operation = TFileOperation::CreateDirectory;
                entry.path = folder;
                entry.after.kind = TFileKind::Directory;
                return RecordEntries(vault, {entry});
            },
            [&] { return StatusOf(::CreateDirectoryW(folder.c_str(), nullptr)); });
    });
}

BOOL STDMETHODCALLTYPE TFileAccess::RemoveDirectory(LPCWSTR path)
{
    return Run([&]() -> DWORD {
        const std::wstring folder = PathOf(path);
        return Recorded(
            [&](TVault& vault) -> std::optional<uint32_t> {
                TFileEntry entry;
                entry.operation = TFileOperation::RemoveDirectory;
                entry.path = folder;
                entry.before = ReadState(folder, false);
                if (entry.before.kind != TFileKind::Directory) {
                    return std::nullopt;
                }
                return RecordEntries(vault, {entry});
            },
            [&] { return StatusOf(::RemoveDirectoryW(folder.c_str())); });
    });
}

BOOL STDMETHODCALLTYPE TFileAccess::SetFileAttributes(LPCWSTR path, DWORD attributes)
{
    return Run([&]() -> DWORD {
        const std::wstring file = PathOf(path);
        return Recorded(
            [&](TVault& vault) -> std::optional<uint32_t> {
                TFileEntry entry;
                entry.operation = TFileOperation::Attributes;
                entry.path = file;
                entry.before = ReadState(file, false);
                if (entry.before.kind == TFileKind::Absent) {
                    return std::nullopt;
                }
                entry.after = entry.before;
                entry.after.attributes = attributes;
                return RecordEntries(vault, {entry});
            },
            [&] { return StatusOf(::SetFileAttributesW(file.c_str(), attributes)); });
    });
}

DWORD STDMETHODCALLTYPE TFileAccess::GetLastError()
{
    return static_cast<DWORD>(reinterpret_cast<ULONG_PTR>(TlsGetValue(ErrorSlot())));
}

}  // namespace tidyhive::backvault
