// A recording IRegAccess for tests: forwards every call to the real registry and writes
// down what it did, naming each key by the full path it was opened with, so that a test can
// compare the exact sequence of recorded changes. A value name can be made to fail deletion.
#pragma once

#include "tests/support/TestRegistry.h"
#include "tidyhive/Backvault.h"

#include <windows.h>

#include <atomic>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

namespace tidyhive::testing {

class TRecordingRegAccess : public IRegAccess {
public:
    struct TOpen {
        std::wstring path;
        REGSAM access;
    };

    // Every call, as "Open <path>", "Create <path>", "DeleteValue <path> <name>",
    // "DeleteKey <path>", "SetValue <path> <name>", "SetKeySecurity <path> <info>",
    // "Close <path>".
    std::vector<std::wstring> Calls() const
    {
        std::lock_guard guard(mutex_);
        return calls_;
    }
    std::vector<TOpen> Opens() const
    {
        std::lock_guard guard(mutex_);
        return opens_;
    }
    // Calls that change something (no opens or closes).
    std::vector<std::wstring> Changes() const
    {
        std::vector<std::wstring> changes;
        for (const std::wstring &call : Calls()) {
            if (call.rfind(L"Open ", 0) != 0 && call.rfind(L"Close ", 0) != 0) {
                changes.push_back(call);
            }
        }
        return changes;
    }
    void Clear()
    {
        std::lock_guard guard(mutex_);
        calls_.clear();
        opens_.clear();
    }
    void FailDeletionOfValue(const std::wstring &name) { failingValues_.insert(name); }
    // Keys still open (handles opened through this object and not closed).
    size_t OpenHandles() const
    {
        std::lock_guard guard(mutex_);
        return labels_.size();
    }
    LONG References() const { return references_; }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **object) override
    {
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IRegAccess)) {
            *object = static_cast<IRegAccess *>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++references_); }
    ULONG STDMETHODCALLTYPE Release() override { return static_cast<ULONG>(--references_); }

    LONG STDMETHODCALLTYPE RegCreateKeyEx(HKEY key, LPCWSTR subKey, DWORD reserved, LPWSTR keyClass,
                                          DWORD options, REGSAM access, LPSECURITY_ATTRIBUTES security,
                                          PHKEY result, LPDWORD disposition) override
    {
        const LONG status = ::RegCreateKeyExW(key, subKey, reserved, keyClass, options, access, security,
                                              result, disposition);
        Opened(L"Create ", key, subKey, access, status, result);
        return status;
    }
    LONG STDMETHODCALLTYPE RegOpenKeyEx(HKEY key, LPCWSTR subKey, DWORD options, REGSAM access,
                                        PHKEY result) override
    {
        const LONG status = ::RegOpenKeyExW(key, subKey, options, access, result);
        Opened(L"Open ", key, subKey, access, status, result);
        return status;
    }
    LONG STDMETHODCALLTYPE RegQueryValueEx(HKEY key, LPCWSTR valueName, LPDWORD reserved, LPDWORD type,
                                           LPBYTE data, LPDWORD dataSize) override
    {
        return ::RegQueryValueExW(key, valueName, reserved, type, data, dataSize);
    }
    LONG STDMETHODCALLTYPE RegDeleteValue(HKEY key, LPCWSTR valueName) override
    {
        const std::wstring name = valueName ? valueName : L"";
        Record(L"DeleteValue " + Label(key) + L" " + name);
        if (failingValues_.count(name)) {
            return ERROR_ACCESS_DENIED;
        }
        return ::RegDeleteValueW(key, valueName);
    }
    LONG STDMETHODCALLTYPE RegDeleteKeyEx(HKEY key, LPCWSTR subKey, REGSAM view, DWORD reserved) override
    {
        Record(L"DeleteKey " + Join(Label(key), subKey));
        deleteViews_.push_back(view);
        return ::RegDeleteKeyExW(key, subKey, view, reserved);
    }
    LONG STDMETHODCALLTYPE RegSetValueEx(HKEY key, LPCWSTR valueName, DWORD reserved, DWORD type,
                                         const BYTE *data, DWORD dataSize) override
    {
        Record(L"SetValue " + Label(key) + L" " + (valueName ? valueName : L""));
        return ::RegSetValueExW(key, valueName, reserved, type, data, dataSize);
    }
    LONG STDMETHODCALLTYPE RegEnumKeyEx(HKEY key, DWORD index, LPWSTR name, LPDWORD nameLength,
                                        LPDWORD reserved, LPWSTR keyClass, LPDWORD classLength,
                                        PFILETIME lastWrite) override
    {
        return ::RegEnumKeyExW(key, index, name, nameLength, reserved, keyClass, classLength, lastWrite);
    }
    LONG STDMETHODCALLTYPE RegEnumValue(HKEY key, DWORD index, LPWSTR name, LPDWORD nameLength,
                                        LPDWORD reserved, LPDWORD type, LPBYTE data,
                                        LPDWORD dataSize) override
    {
        return ::RegEnumValueW(key, index, name, nameLength, reserved, type, data, dataSize);
    }
    LONG STDMETHODCALLTYPE RegQueryInfoKey(HKEY key, LPWSTR keyClass, LPDWORD classLength, LPDWORD reserved,
                                           LPDWORD subKeys, LPDWORD maxSubKeyLength, LPDWORD maxClassLength,
                                           LPDWORD values, LPDWORD maxValueNameLength, LPDWORD maxValueLength,
                                           LPDWORD securityDescriptor, PFILETIME lastWrite) override
    {
        return ::RegQueryInfoKeyW(key, keyClass, classLength, reserved, subKeys, maxSubKeyLength,
                                  maxClassLength, values, maxValueNameLength, maxValueLength,
                                  securityDescriptor, lastWrite);
    }
    LONG STDMETHODCALLTYPE RegFlushKey(HKEY key) override { return ::RegFlushKey(key); }
    LONG STDMETHODCALLTYPE RegGetKeySecurity(HKEY key, SECURITY_INFORMATION information,
                                             PSECURITY_DESCRIPTOR descriptor, LPDWORD descriptorSize) override
    {
        return ::RegGetKeySecurity(key, information, descriptor, descriptorSize);
    }
    LONG STDMETHODCALLTYPE RegCloseKey(HKEY key) override
    {
        Record(L"Close " + Label(key));
        {
            std::lock_guard guard(mutex_);
            labels_.erase(key);
        }
        return ::RegCloseKey(key);
    }
    LONG STDMETHODCALLTYPE RegSetKeySecurity(HKEY key, SECURITY_INFORMATION information,
                                             PSECURITY_DESCRIPTOR descriptor) override
    {
        std::wstring what;
        if (information & OWNER_SECURITY_INFORMATION) {
            what += L"Owner";
        }
        if (information & DACL_SECURITY_INFORMATION) {
            what += what.empty() ? L"Dacl" : L"+Dacl";
        }
        Record(L"SetKeySecurity " + Label(key) + L" " + what);
        return ::RegSetKeySecurity(key, information, descriptor);
    }

    const std::vector<REGSAM> &DeleteViews() const { return deleteViews_; }

private:
    static std::wstring Join(const std::wstring &parent, LPCWSTR subKey)
    {
        const std::wstring sub = subKey ? subKey : L"";
        return sub.empty() ? parent : parent + L"\\" + sub;
    }
    std::wstring Label(HKEY key) const
    {
        const std::wstring root = RootName(key);
        if (!root.empty()) {
            return root;
        }
        std::lock_guard guard(mutex_);
        const auto found = labels_.find(key);
        return found == labels_.end() ? L"?" : found->second;
    }
    void Opened(const wchar_t *verb, HKEY parent, LPCWSTR subKey, REGSAM access, LONG status, PHKEY result)
    {
        const std::wstring path = Join(Label(parent), subKey);
        Record(verb + path + (status == ERROR_SUCCESS ? L"" : L" failed"));
        std::lock_guard guard(mutex_);
        opens_.push_back({path, access});
        if (status == ERROR_SUCCESS) {
            labels_[*result] = path;
        }
    }
    void Record(const std::wstring &call)
    {
        std::lock_guard guard(mutex_);
        calls_.push_back(call);
    }

    mutable std::mutex mutex_;
    std::vector<std::wstring> calls_;
    std::vector<TOpen> opens_;
    std::vector<REGSAM> deleteViews_;
    std::map<HKEY, std::wstring> labels_;
    std::set<std::wstring> failingValues_;
    std::atomic<LONG> references_{1};
};

} // namespace tidyhive::testing
