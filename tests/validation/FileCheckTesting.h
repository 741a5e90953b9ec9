// Helpers of the file-check tests: options over a settings store in memory, and folders of
// a test's own below a chosen parent (the program folders).
#pragma once

#include "engine/RegistryCleanerOptions.h"
#include "tests/support/TestRegistry.h"

#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>

#include <map>
#include <stdexcept>
#include <string>

namespace tidyhive::testing {

// Keeps Booleans in memory; nothing persists.
class TMemorySettingsStore : public ISettingsStore {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** object) override
    {
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 1; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE Close() override { return S_OK; }
    HKEY STDMETHODCALLTYPE GetRootKey() override { return nullptr; }
    HRESULT STDMETHODCALLTYPE GetKeyPath(BSTR* path) override
    {
        *path = nullptr;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Open(HKEY, LPCWSTR) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE Reload() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE Flush() override { return S_OK; }
    void STDMETHODCALLTYPE RegisterInteger(LPCWSTR, LONG) override {}
    void STDMETHODCALLTYPE RegisterBoolean(LPCWSTR, BOOL) override {}
    void STDMETHODCALLTYPE RegisterText(LPCWSTR, LPCWSTR) override {}
    void STDMETHODCALLTYPE RegisterDouble(LPCWSTR, double) override {}
    HRESULT STDMETHODCALLTYPE DeleteValue(LPCWSTR name) override
    {
        booleans_.erase(name);
        return S_OK;
    }
    LONG STDMETHODCALLTYPE GetValueCount() override { return static_cast<LONG>(booleans_.size()); }
    HRESULT STDMETHODCALLTYPE GetValueName(LONG, BSTR* name) override
    {
        *name = nullptr;
        return E_NOTIMPL;
    }
    void STDMETHODCALLTYPE WriteInteger(LPCWSTR, LONG) override {}
    void STDMETHODCALLTYPE WriteText(LPCWSTR, LPCWSTR) override {}
    void STDMETHODCALLTYPE WriteDouble(LPCWSTR, double) override {}
    void STDMETHODCALLTYPE WriteBoolean(LPCWSTR name, BOOL value) override { booleans_[name] = value; }
    LONG STDMETHODCALLTYPE ReadInteger(LPCWSTR) override { return 0; }
    HRESULT STDMETHODCALLTYPE ReadText(LPCWSTR, BSTR* value) override
    {
        *value = nullptr;
        return S_OK;
    }
    BOOL STDMETHODCALLTYPE ReadBoolean(LPCWSTR name) override
    {
        const auto found = booleans_.find(name);
        return found != booleans_.end() ? found->second : FALSE;
    }
    double STDMETHODCALLTYPE ReadDouble(LPCWSTR) override { return 0; }
    BOOL STDMETHODCALLTYPE ValueExists(LPCWSTR name) override { return booleans_.count(name) ? TRUE : FALSE; }

private:
    std::map<std::wstring, BOOL> booleans_;
};

// Options of a test's own, starting from the defaults.
class TTestOptions {
public:
    TTestOptions() : options_(&store_) {}
    TRegistryCleanerOptions& Get() { return options_; }
    void Set(const wchar_t* name, bool value)
    {
        VARIANT variant;
        VariantInit(&variant);
        variant.vt = VT_BOOL;
        variant.boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
        options_.SetOption(name, &variant);
    }

private:
    TMemorySettingsStore store_;
    TRegistryCleanerOptions options_;
};

// A uniquely named folder below parent, removed with its content afterwards.
class TOwnFolder {
public:
    explicit TOwnFolder(const std::wstring& parent)
        : path_(parent + (parent.empty() || parent.back() == L'\\' ? L"" : L"\\") + L"tidyhive-test-" +
                NewGuidText() + L"\\")
    {
        if (SHCreateDirectoryExW(nullptr, path_.c_str(), nullptr) != ERROR_SUCCESS) {
            throw std::runtime_error("cannot create a test folder");
        }
    }
    ~TOwnFolder()
    {
        std::wstring from = path_.substr(0, path_.size() - 1);
        from.push_back(L'\0');
        SHFILEOPSTRUCTW operation = {};
        operation.wFunc = FO_DELETE;
        operation.pFrom = from.c_str();
        operation.fFlags = FOF_NO_UI;
        SHFileOperationW(&operation);
    }
    TOwnFolder(const TOwnFolder&) = delete;
    TOwnFolder& operator=(const TOwnFolder&) = delete;

    // With a trailing backslash.
    const std::wstring& Path() const { return path_; }
    // The folder's name alone.
    std::wstring Name() const
    {
        const std::wstring bare = path_.substr(0, path_.size() - 1);
        return bare.substr(bare.rfind(L'\\') + 1);
    }
    std::wstring AddFile(const std::wstring& relative) const
    {
        const std::wstring path = path_ + relative;
        SHCreateDirectoryExW(nullptr, path.substr(0, path.find_last_of(L'\\')).c_str(), nullptr);
        HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE) {
            throw std::runtime_error("cannot create a test file");
        }
        CloseHandle(file);
        return path;
    }

private:
    std::wstring path_;
};

}  // namespace tidyhive::testing
