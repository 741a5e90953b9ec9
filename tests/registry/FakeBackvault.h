// A fake backup library for tests: hands out the given IRegAccess (or none) and writes down
// the session calls, checking that no two sessions are ever open at once.
#pragma once

#include "tidyhive/Backvault.h"

#include <windows.h>
#include <oleauto.h>

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

namespace tidyhive::testing {

class TFakeBackvault : public IBackvault {
public:
    explicit TFakeBackvault(IRegAccess *access = nullptr) : access_(access) {}

    std::vector<std::wstring> Calls() const
    {
        std::lock_guard guard(mutex_);
        return calls_;
    }
    // The most sessions that were open at one time.
    int MostOpenAtOnce() const { return mostOpen_; }
    LONG References() const { return references_; }
    LONG beginStatus = 7;
    LONG endStatus = 9;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **object) override
    {
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IBackvault)) {
            *object = static_cast<IBackvault *>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++references_); }
    ULONG STDMETHODCALLTYPE Release() override { return static_cast<ULONG>(--references_); }

    IRegAccess *STDMETHODCALLTYPE GetRegAccess() override
    {
        if (access_) {
            access_->AddRef(); // the caller owns the reference it is given
        }
        return access_;
    }
    HRESULT STDMETHODCALLTYPE GetStorageFolder(BSTR *) override { return E_NOTIMPL; }
    IFileAccess *STDMETHODCALLTYPE GetFileAccess() override { return nullptr; }
    LONG STDMETHODCALLTYPE GetSessionCount() override { return 0; }
    HRESULT STDMETHODCALLTYPE GetSessionInfo(LONG, BackvaultSessionInfo *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE RestoreSession(LPCWSTR, BOOL, BSTR *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE DeleteSession(LPCWSTR) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE ExportSession(LPCWSTR, LPCWSTR) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetLastErrorText(BSTR *) override { return E_NOTIMPL; }
    LONG STDMETHODCALLTYPE BeginSession(LPCWSTR title, LPCWSTR program, BSTR *id) override
    {
        const int open = ++open_;
        int most = mostOpen_;
        while (open > most && !mostOpen_.compare_exchange_weak(most, open)) {
        }
        Record(std::wstring(L"Begin ") + title + L" | " + program);
        const std::wstring session = L"session-" + std::to_wstring(++sessions_);
        *id = SysAllocString(session.c_str());
        return beginStatus;
    }
    void STDMETHODCALLTYPE SetSessionTitle(LPCWSTR title) override
    {
        Record(std::wstring(L"Title ") + title);
    }
    LONG STDMETHODCALLTYPE EndSession(BOOL backupEnabled) override
    {
        Record(backupEnabled ? L"End enabled" : L"End disabled");
        --open_;
        return endStatus;
    }
    BOOL STDMETHODCALLTYPE IsSessionOpen() override { return open_ > 0; }
    HRESULT STDMETHODCALLTYPE SetStorageFolder(LPCWSTR) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE FindSession(LPCWSTR, BackvaultSessionInfo*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Reserved18() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Reserved19() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Reserved20() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Reserved21() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Reserved22() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Reserved23() override { return E_NOTIMPL; }

private:
    void Record(const std::wstring &call)
    {
        std::lock_guard guard(mutex_);
        calls_.push_back(call);
    }

    IRegAccess *access_;
    mutable std::mutex mutex_;
    std::vector<std::wstring> calls_;
    std::atomic<int> open_{0};
    std::atomic<int> mostOpen_{0};
    std::atomic<int> sessions_{0};
    std::atomic<LONG> references_{1};
};

} // namespace tidyhive::testing
