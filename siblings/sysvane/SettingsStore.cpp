#include "siblings/sysvane/SettingsStore.h"

#include <cstring>

namespace tidyhive::siblings {
namespace {

std::wstring Name(LPCWSTR name) { return name ? std::wstring(name) : std::wstring(); }

std::wstring TextOf(const std::vector<BYTE>& data)
{
    std::wstring text(reinterpret_cast<const wchar_t*>(data.data()), data.size() / sizeof(wchar_t));
    while (!text.empty() && text.back() == L'\0') {
        text.pop_back();
    }
    return text;
}

}  // namespace

TSettingsStore::Value TSettingsStore::MakeDword(LONG v)
{
    Value value{REG_DWORD, std::vector<BYTE>(sizeof(DWORD)), true};
    std::memcpy(value.data.data(), &v, sizeof(DWORD));
    return value;
}

TSettingsStore::Value TSettingsStore::MakeText(const std::wstring& v)
{
    const auto* bytes = reinterpret_cast<const BYTE*>(v.c_str());
    return Value{REG_SZ, std::vector<BYTE>(bytes, bytes + (v.size() + 1) * sizeof(wchar_t)), true};
}

TSettingsStore::Value TSettingsStore::MakeDouble(double v)
{
    Value value{REG_BINARY, std::vector<BYTE>(sizeof(double)), true};
    std::memcpy(value.data.data(), &v, sizeof(double));
    return value;
}

const TSettingsStore::Value* TSettingsStore::Find(const std::wstring& name) const
{
    if (auto it = stored_.find(name); it != stored_.end()) {
        return &it->second;
    }
    if (auto it = defaults_.find(name); it != defaults_.end()) {
        return &it->second;
    }
    return nullptr;
}

HRESULT STDMETHODCALLTYPE TSettingsStore::Close()
{
    std::lock_guard guard(mutex_);
    open_ = false;
    stored_.clear();
    return S_OK;
}

HKEY STDMETHODCALLTYPE TSettingsStore::GetRootKey()
{
    return root_;
}

HRESULT STDMETHODCALLTYPE TSettingsStore::GetKeyPath(BSTR* path)
{
    std::lock_guard guard(mutex_);
    return ReturnBstr(path_, path);
}

HRESULT STDMETHODCALLTYPE TSettingsStore::Open(HKEY root, LPCWSTR keyPath)
{
    {
        std::lock_guard guard(mutex_);
        root_ = root;
        path_ = Name(keyPath);
        open_ = true;
    }
    return Reload();
}

HRESULT STDMETHODCALLTYPE TSettingsStore::Reload()
{
    std::lock_guard guard(mutex_);
    stored_.clear();
    deleted_.clear();
    if (!open_) {
        return S_FALSE;
    }
    HKEY key = nullptr;
    const LONG status = RegOpenKeyExW(root_, path_.c_str(), 0, KEY_READ, &key);
    if (status == ERROR_FILE_NOT_FOUND) {
        return S_OK;  // nothing stored yet
    }
    if (status != ERROR_SUCCESS) {
        return HRESULT_FROM_WIN32(status);
    }
    for (DWORD index = 0;; ++index) {
        wchar_t name[16384];
        DWORD nameLength = 16384;
        DWORD type = 0;
        DWORD size = 0;
        LONG result = RegEnumValueW(key, index, name, &nameLength, nullptr, &type, nullptr, &size);
        if (result != ERROR_SUCCESS) {
            break;
        }
        Value value{type, std::vector<BYTE>(size), false};
        nameLength = 16384;
        result = RegEnumValueW(key, index, name, &nameLength, nullptr, &type, value.data.data(), &size);
        if (result == ERROR_SUCCESS) {
            value.data.resize(size);
            stored_[std::wstring(name, nameLength)] = std::move(value);
        }
    }
    RegCloseKey(key);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE TSettingsStore::Flush()
{
    std::lock_guard guard(mutex_);
    if (!open_) {
        return S_FALSE;
    }
    HKEY key = nullptr;
    LONG status = RegCreateKeyExW(root_, path_.c_str(), 0, nullptr, 0, KEY_READ | KEY_WRITE, nullptr, &key, nullptr);
    if (status != ERROR_SUCCESS) {
        return HRESULT_FROM_WIN32(status);
    }
    for (const std::wstring& name : deleted_) {
        RegDeleteValueW(key, name.c_str());
    }
    deleted_.clear();
    for (auto& [name, value] : stored_) {
        if (!value.dirty) {
            continue;
        }
        const LONG result = RegSetValueExW(key, name.c_str(), 0, value.type, value.data.data(),
                                           static_cast<DWORD>(value.data.size()));
        if (result == ERROR_SUCCESS) {
            value.dirty = false;
        } else {
            status = result;
        }
    }
    RegCloseKey(key);
    return HRESULT_FROM_WIN32(status);
}

void STDMETHODCALLTYPE TSettingsStore::RegisterInteger(LPCWSTR name, LONG value)
{
    std::lock_guard guard(mutex_);
    defaults_[Name(name)] = MakeDword(value);
}

void STDMETHODCALLTYPE TSettingsStore::RegisterBoolean(LPCWSTR name, BOOL value)
{
    std::lock_guard guard(mutex_);
    defaults_[Name(name)] = MakeDword(value ? 1 : 0);
}

void STDMETHODCALLTYPE TSettingsStore::RegisterText(LPCWSTR name, LPCWSTR value)
{
    std::lock_guard guard(mutex_);
    defaults_[Name(name)] = MakeText(Name(value));
}

void STDMETHODCALLTYPE TSettingsStore::RegisterDouble(LPCWSTR name, double value)
{
    std::lock_guard guard(mutex_);
    defaults_[Name(name)] = MakeDouble(value);
}

HRESULT STDMETHODCALLTYPE TSettingsStore::DeleteValue(LPCWSTR name)
{
    std::lock_guard guard(mutex_);
    if (stored_.erase(Name(name)) == 0) {
        return S_FALSE;
    }
    deleted_.push_back(Name(name));
    return S_OK;
}

LONG STDMETHODCALLTYPE TSettingsStore::GetValueCount()
{
    std::lock_guard guard(mutex_);
    return static_cast<LONG>(stored_.size());
}

HRESULT STDMETHODCALLTYPE TSettingsStore::GetValueName(LONG index, BSTR* name)
{
    std::lock_guard guard(mutex_);
    if (index < 0 || index >= static_cast<LONG>(stored_.size())) {
        return E_INVALIDARG;
    }
    auto it = stored_.begin();
    std::advance(it, index);
    return ReturnBstr(it->first, name);
}

void TSettingsStore::Write(LPCWSTR name, Value value)
{
    std::lock_guard guard(mutex_);
    stored_[Name(name)] = std::move(value);
}

void STDMETHODCALLTYPE TSettingsStore::WriteInteger(LPCWSTR name, LONG value)
{
    Write(name, MakeDword(value));
}

void STDMETHODCALLTYPE TSettingsStore::WriteText(LPCWSTR name, LPCWSTR value)
{
    Write(name, MakeText(Name(value)));
}

void STDMETHODCALLTYPE TSettingsStore::WriteDouble(LPCWSTR name, double value)
{
    Write(name, MakeDouble(value));
}

void STDMETHODCALLTYPE TSettingsStore::WriteBoolean(LPCWSTR name, BOOL value)
{
    Write(name, MakeDword(value ? 1 : 0));
}

LONG STDMETHODCALLTYPE TSettingsStore::ReadInteger(LPCWSTR name)
{
    std::lock_guard guard(mutex_);
    const Value* value = Find(Name(name));
    if (!value) {
        return 0;
    }
    if (value->type == REG_DWORD && value->data.size() >= sizeof(DWORD)) {
        LONG result = 0;
        std::memcpy(&result, value->data.data(), sizeof(result));
        return result;
    }
    if (value->type == REG_SZ || value->type == REG_EXPAND_SZ) {
        return _wtol(TextOf(value->data).c_str());
    }
    return 0;
}

HRESULT STDMETHODCALLTYPE TSettingsStore::ReadText(LPCWSTR name, BSTR* out)
{
    std::lock_guard guard(mutex_);
    const Value* value = Find(Name(name));
    if (!value) {
        return ReturnBstr(L"", out);
    }
    if (value->type == REG_DWORD && value->data.size() >= sizeof(DWORD)) {
        LONG number = 0;
        std::memcpy(&number, value->data.data(), sizeof(number));
        return ReturnBstr(std::to_wstring(number), out);
    }
    return ReturnBstr(TextOf(value->data), out);
}

BOOL STDMETHODCALLTYPE TSettingsStore::ReadBoolean(LPCWSTR name)
{
    {
        // A Boolean a host wrote as text reads back as what it says.
        std::lock_guard guard(mutex_);
        const Value* value = Find(Name(name));
        if (value && (value->type == REG_SZ || value->type == REG_EXPAND_SZ)) {
            const std::wstring text = TextOf(value->data);
            if (lstrcmpiW(text.c_str(), L"true") == 0) {
                return TRUE;
            }
            if (lstrcmpiW(text.c_str(), L"false") == 0) {
                return FALSE;
            }
        }
    }
    return ReadInteger(name) != 0 ? TRUE : FALSE;
}

double STDMETHODCALLTYPE TSettingsStore::ReadDouble(LPCWSTR name)
{
    std::lock_guard guard(mutex_);
    const Value* value = Find(Name(name));
    if (value && value->type == REG_BINARY && value->data.size() == sizeof(double)) {
        double result = 0;
        std::memcpy(&result, value->data.data(), sizeof(result));
        return result;
    }
    return 0;
}

BOOL STDMETHODCALLTYPE TSettingsStore::ValueExists(LPCWSTR name)
{
    std::lock_guard guard(mutex_);
    return stored_.count(Name(name)) ? TRUE : FALSE;
}

}  // namespace tidyhive::siblings
