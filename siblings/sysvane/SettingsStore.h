// A settings store kept in one registry key: typed values with registered defaults.
// Writes stay in memory until Flush; Reload reads the key afresh.
#pragma once

#include "siblings/common/SiblingObject.h"
#include "tidyhive/Sysvane.h"

#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace tidyhive::siblings {

TIDYHIVE_SIBLING_INTERFACE(ISettingsStore, IID_ISettingsStore);

class TSettingsStore : public TSiblingObject<ISettingsStore> {
public:
    HRESULT STDMETHODCALLTYPE Close() override;
    HKEY STDMETHODCALLTYPE GetRootKey() override;
    HRESULT STDMETHODCALLTYPE GetKeyPath(BSTR* path) override;
    HRESULT STDMETHODCALLTYPE Open(HKEY root, LPCWSTR keyPath) override;
    HRESULT STDMETHODCALLTYPE Reload() override;
    HRESULT STDMETHODCALLTYPE Flush() override;
    void STDMETHODCALLTYPE RegisterInteger(LPCWSTR name, LONG value) override;
    void STDMETHODCALLTYPE RegisterBoolean(LPCWSTR name, BOOL value) override;
    void STDMETHODCALLTYPE RegisterText(LPCWSTR name, LPCWSTR value) override;
    void STDMETHODCALLTYPE RegisterDouble(LPCWSTR name, double value) override;
    HRESULT STDMETHODCALLTYPE DeleteValue(LPCWSTR name) override;
    LONG STDMETHODCALLTYPE GetValueCount() override;
    HRESULT STDMETHODCALLTYPE GetValueName(LONG index, BSTR* name) override;
    void STDMETHODCALLTYPE WriteInteger(LPCWSTR name, LONG value) override;
    void STDMETHODCALLTYPE WriteText(LPCWSTR name, LPCWSTR value) override;
    void STDMETHODCALLTYPE WriteDouble(LPCWSTR name, double value) override;
    void STDMETHODCALLTYPE WriteBoolean(LPCWSTR name, BOOL value) override;
    LONG STDMETHODCALLTYPE ReadInteger(LPCWSTR name) override;
    HRESULT STDMETHODCALLTYPE ReadText(LPCWSTR name, BSTR* value) override;
    BOOL STDMETHODCALLTYPE ReadBoolean(LPCWSTR name) override;
    double STDMETHODCALLTYPE ReadDouble(LPCWSTR name) override;
    BOOL STDMETHODCALLTYPE ValueExists(LPCWSTR name) override;

private:
    // Every value is kept as registry type and raw bytes.
    struct Value {
        DWORD type = REG_NONE;
        std::vector<BYTE> data;
        bool dirty = false;
    };
    static Value MakeDword(LONG v);
    static Value MakeText(const std::wstring& v);
    static Value MakeDouble(double v);
    const Value* Find(const std::wstring& name) const;
    void Write(LPCWSTR name, Value value);

    std::mutex mutex_;
    HKEY root_ = HKEY_CURRENT_USER;
    std::wstring path_;
    bool open_ = false;
    std::map<std::wstring, Value> defaults_;
    std::map<std::wstring, Value> stored_;
    std::vector<std::wstring> deleted_;
};

}  // namespace tidyhive::siblings
