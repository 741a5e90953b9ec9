// Backvault.dll: backup sessions that record every registry and file change before it is
// made, and undo them exactly.
#include "siblings/backvault/BackvaultError.h"
#include "siblings/backvault/FileAccess.h"
#include "siblings/backvault/RegAccess.h"
#include "siblings/backvault/RegFileExport.h"
#include "siblings/backvault/SessionRestorer.h"
#include "siblings/backvault/SessionStore.h"
#include "siblings/backvault/Vault.h"
#include "siblings/common/SiblingObject.h"
#include "tidyhive/Backvault.h"

#include <vector>

namespace tidyhive::siblings {
TIDYHIVE_SIBLING_INTERFACE(IBackvault, IID_IBackvault);
}

namespace tidyhive::backvault {
namespace {

FILETIME ToFileTime(uint64_t value)
{
    FILETIME time;
    time.dwLowDateTime = static_cast<DWORD>(value & 0xFFFFFFFFu);
    time.dwHighDateTime = static_cast<DWORD>(value >> 32);
    return time;
}

std::wstring TextOf(LPCWSTR text)
{
    return text ? text : L"";
}

HRESULT Failure(const EBackvault &error)
{
    SetLastErrorText(error.Message());
    return error.Code() ? HRESULT_FROM_WIN32(error.Code()) : E_FAIL;
}

// Runs a method that answers an HRESULT.
template <class Body> HRESULT RunHr(Body &&body) noexcept
{
    try {
        return body();
    } catch (const EBackvault &error) {
        return Failure(error);
    } catch (const std::bad_alloc &) {
        SetLastErrorText(L"Not enough memory.");
        return E_OUTOFMEMORY;
    } catch (...) {
        SetLastErrorText(L"Unexpected failure inside the backup library.");
        return E_UNEXPECTED;
    }
}

class TBackvault : public siblings::TSiblingObject<IBackvault> {
public:
    TBackvault() : regAccess_(new TRegAccess()), fileAccess_(new TFileAccess()) {}
    ~TBackvault() override
    {
        regAccess_->Release();
        fileAccess_->Release();
    }

    IRegAccess *STDMETHODCALLTYPE GetRegAccess() override
    {
        regAccess_->AddRef();
        return regAccess_;
    }

    HRESULT STDMETHODCALLTYPE GetStorageFolder(BSTR *folder) override
    {
        return RunHr([&] { return siblings::ReturnBstr(Vault().StorageFolder(), folder); });
    }

    IFileAccess *STDMETHODCALLTYPE GetFileAccess() override
    {
        fileAccess_->AddRef();
        return fileAccess_;
    }

    LONG STDMETHODCALLTYPE GetSessionCount() override
    {
        return Guarded<LONG>(0, [&] {
            TLockGuard guard(Vault().Lock());
            sessions_ = ListSessions(Vault().StorageFolder());
            return static_cast<LONG>(sessions_.size());
        });
    }

    HRESULT STDMETHODCALLTYPE GetSessionInfo(LONG index, BackvaultSessionInfo *info) override
    {
        return RunHr([&]() -> HRESULT {
            if (!info) {
                return E_POINTER;
            }
            *info = {};
            TLockGuard guard(Vault().Lock());
            if (index < 0 || static_cast<size_t>(index) >= sessions_.size()) {
                SetLastErrorText(L"There is no session number " + std::to_wstring(index) +
                                 L" (GetSessionCount lists them)");
                return E_INVALIDARG;
            }
            const TSessionSummary &session = sessions_[static_cast<size_t>(index)];
            BackvaultSessionInfo result = {};
            result.started = ToFileTime(session.started);
            result.finished = ToFileTime(session.finished);
            result.changes = static_cast<LONG>(session.changes);
            result.complete = session.complete;
            result.damaged = session.damaged;
            HRESULT status = siblings::ReturnBstr(session.id, &result.id);
            if (SUCCEEDED(status)) {
                status =
                    siblings::ReturnBstr(session.damaged ? session.problem : session.title, &result.title);
            }
            if (SUCCEEDED(status)) {
                status = siblings::ReturnBstr(session.program, &result.program);
            }
            if (FAILED(status)) {
                ClearSessionInfo(result);
                return status;
            }
            *info = result;
            return S_OK;
        });
    }

    HRESULT STDMETHODCALLTYPE RestoreSession(LPCWSTR id, BOOL overwrite, BSTR *report) override
    {
        if (report) {
            *report = nullptr;
        }
        return RunHr([&]() -> HRESULT {
            TVault &vault = Vault();
            TLockGuard guard(vault.Lock());
            const std::wstring session = TextOf(id);
            if (vault.IsRecording() && session == vault.OpenSessionId()) {
                throw EBackvault(L"Session " + session + L" is still open; end it before restoring it",
                                 ERROR_BUSY);
            }
            const TRestoreResult result =
                RestoreStoredSession(vault.StorageFolder(), session, overwrite != FALSE);
            if (report) {
                const HRESULT copied = siblings::ReturnBstr(result.report, report);
                if (FAILED(copied)) {
                    return copied;
                }
            }
            return result.status;
        });
    }

    HRESULT STDMETHODCALLTYPE DeleteSession(LPCWSTR id) override
    {
        return RunHr([&]() -> HRESULT {
            TVault &vault = Vault();
            TLockGuard guard(vault.Lock());
            const std::wstring session = TextOf(id);
            if (vault.IsRecording() && session == vault.OpenSessionId()) {
                throw EBackvault(L"Session " + session + L" is still open; end it before deleting it",
                                 ERROR_BUSY);
            }
            RemoveSessionFolder(vault.StorageFolder(), session);
            return S_OK;
        });
    }

    HRESULT STDMETHODCALLTYPE ExportSession(LPCWSTR id, LPCWSTR fileName) override
    {
        return RunHr([&]() -> HRESULT {
            if (!fileName || !*fileName) {
                throw EBackvault(L"No file name was given for the export", ERROR_INVALID_PARAMETER);
            }
            TVault &vault = Vault();
            TLockGuard guard(vault.Lock());
            ExportStoredSession(vault.StorageFolder(), TextOf(id), fileName);
            return S_OK;
        });
    }

    HRESULT STDMETHODCALLTYPE GetLastErrorText(BSTR *text) override
    {
        return siblings::ReturnBstr(LastErrorText(), text);
    }

    LONG STDMETHODCALLTYPE BeginSession(LPCWSTR title, LPCWSTR program, BSTR *id) override
    {
        if (id) {
            *id = nullptr;
        }
        return Guarded<LONG>(0, [&]() -> LONG {
            const std::wstring session = Vault().Begin(TextOf(title), TextOf(program));
            if (id && FAILED(siblings::ReturnBstr(session, id))) {
                SetLastErrorText(L"Not enough memory for the session identifier.");
            }
            return 1;
        });
    }

    void STDMETHODCALLTYPE SetSessionTitle(LPCWSTR title) override
    {
        Guarded<int>(0, [&] {
            Vault().SetTitle(TextOf(title));
            return 0;
        });
    }

    LONG STDMETHODCALLTYPE EndSession(BOOL backupEnabled) override
    {
        return Guarded<LONG>(0, [&]() -> LONG {
            Vault().End(backupEnabled != FALSE);
            return 1;
        });
    }

    BOOL STDMETHODCALLTYPE IsSessionOpen() override
    {
        return Guarded<BOOL>(FALSE, [&]() -> BOOL {
            TLockGuard guard(Vault().Lock());
            return Vault().IsRecording();
        });
    }

    HRESULT STDMETHODCALLTYPE SetStorageFolder(LPCWSTR folder) override
    {
        return RunHr([&]() -> HRESULT {
            Vault().SetStorageFolder(TextOf(folder));
            return S_OK;
        });
    }

    HRESULT STDMETHODCALLTYPE Reserved18() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Reserved19() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Reserved20() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Reserved21() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Reserved22() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Reserved23() override { return E_NOTIMPL; }

    HRESULT STDMETHODCALLTYPE FindSession(LPCWSTR id, BackvaultSessionInfo *info) override
    {
        return RunHr([&]() -> HRESULT {
            if (!info) {
                return E_POINTER;
            }
            *info = {};
            TLockGuard guard(Vault().Lock());
            sessions_ = ListSessions(Vault().StorageFolder());
            for (size_t index = 0; index < sessions_.size(); ++index) {
                if (sessions_[index].id == TextOf(id)) {
                    return GetSessionInfo(static_cast<LONG>(index), info);
                }
            }
            throw EBackvault(L"There is no session " + TextOf(id) + L" in " + Vault().StorageFolder(),
                             ERROR_NOT_FOUND);
        });
    }

private:
    TRegAccess *regAccess_;
    TFileAccess *fileAccess_;
    std::vector<TSessionSummary> sessions_; // the list GetSessionCount took, under the vault's lock
};

} // namespace
} // namespace tidyhive::backvault

using namespace tidyhive;

extern "C" IUnknown *WINAPI GetInstance(const char *identifier, LONG)
{
    if (!siblings::SameIdentifier(identifier, kBackvaultInstanceId)) {
        return nullptr;
    }
    return backvault::Guarded<IUnknown *>(nullptr, []() -> IUnknown * {
        // One library object per process; each caller gets its own reference.
        static backvault::TBackvault *instance = new backvault::TBackvault();
        instance->AddRef();
        return static_cast<IBackvault *>(instance);
    });
}
