// Reference-counted COM object base for the sibling libraries, and identifier matching
// for their "GetInstance" exports.
#pragma once

#include <windows.h>
#include <unknwn.h>

#include <string>
#include <tuple>

namespace tidyhive::siblings {

template <class I>
struct SiblingInterfaceId;

template <class... Interfaces>
class TSiblingObject : public Interfaces... {
public:
    TSiblingObject() = default;
    TSiblingObject(const TSiblingObject&) = delete;
    TSiblingObject& operator=(const TSiblingObject&) = delete;
    virtual ~TSiblingObject() = default;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override
    {
        if (!object) {
            return E_POINTER;
        }
        *object = nullptr;
        if (IsEqualIID(iid, IID_IUnknown)) {
            *object = static_cast<First*>(this);
        } else if (!(Match<Interfaces>(iid, object) || ...)) {
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&count_)); }
    ULONG STDMETHODCALLTYPE Release() override
    {
        const LONG left = InterlockedDecrement(&count_);
        if (left == 0) {
            delete this;
        }
        return static_cast<ULONG>(left);
    }

private:
    using First = std::tuple_element_t<0, std::tuple<Interfaces...>>;
    template <class I>
    bool Match(REFIID iid, void** object)
    {
        if (IsEqualIID(iid, SiblingInterfaceId<I>::value)) {
            *object = static_cast<I*>(this);
            return true;
        }
        return false;
    }
    volatile LONG count_ = 1;  // the creator's reference
};

#define TIDYHIVE_SIBLING_INTERFACE(Interface, Id)                                                            \
    template <>                                                                                               \
    struct SiblingInterfaceId<Interface> {                                                                    \
        static constexpr const IID& value = Id;                                                               \
    }

// Case-insensitive match of the identifier text a host passes to GetInstance.
inline bool SameIdentifier(const char* given, const char* expected)
{
    return given && lstrcmpiA(given, expected) == 0;
}

// A BSTR copy of the text into *out; E_POINTER for a null out, E_OUTOFMEMORY on failure.
inline HRESULT ReturnBstr(const std::wstring& text, BSTR* out)
{
    if (!out) {
        return E_POINTER;
    }
    *out = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    return *out ? S_OK : E_OUTOFMEMORY;
}

// The folder of a module (null: the process's executable), with a trailing backslash.
inline std::wstring ModuleFolder(HMODULE module)
{
    std::wstring buffer(MAX_PATH, L'\0');
    const DWORD length = GetModuleFileNameW(module, buffer.data(), static_cast<DWORD>(buffer.size()));
    buffer.resize(length);
    const size_t slash = buffer.find_last_of(L"\\/");
    return slash == std::wstring::npos ? std::wstring() : buffer.substr(0, slash + 1);
}

}  // namespace tidyhive::siblings
