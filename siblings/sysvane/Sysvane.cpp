// Sysvane.dll: folders, product globals and the settings store of the host.
#include "siblings/common/SiblingObject.h"
#include "siblings/sysvane/SettingsStore.h"
#include "tidyhive/Sysvane.h"

#include <shlobj.h>

namespace tidyhive::siblings {

TIDYHIVE_SIBLING_INTERFACE(ISysHelper, IID_ISysHelper);
TIDYHIVE_SIBLING_INTERFACE(IGlobals, IID_IGlobals);
TIDYHIVE_SIBLING_INTERFACE(IDiskHelper, IID_IDiskHelper);
TIDYHIVE_SIBLING_INTERFACE(IShellHelper, IID_IShellHelper);

namespace {

std::wstring WithSlash(std::wstring folder)
{
    if (!folder.empty() && folder.back() != L'\\') {
        folder += L'\\';
    }
    return folder;
}

HRESULT ShellFolder(int csidl, BSTR* out)
{
    wchar_t path[MAX_PATH] = {};
    const HRESULT status = SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, path);
    if (FAILED(status)) {
        if (out) {
            *out = nullptr;
        }
        return status;
    }
    return ReturnBstr(WithSlash(path), out);
}

std::wstring HostFileName()
{
    std::wstring buffer(MAX_PATH, L'\0');
    buffer.resize(GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size())));
    return buffer;
}

class THelper : public TSiblingObject<ISysHelper> {
public:
    HRESULT STDMETHODCALLTYPE GetWindowsFolder(BSTR* folder) override { return ShellFolder(CSIDL_WINDOWS, folder); }
    HRESULT STDMETHODCALLTYPE GetSystemFolder(BSTR* folder) override { return ShellFolder(CSIDL_SYSTEM, folder); }
    HRESULT STDMETHODCALLTYPE GetTempFolder(BSTR* folder) override
    {
        wchar_t path[MAX_PATH + 1] = {};
        GetTempPathW(MAX_PATH + 1, path);
        return ReturnBstr(WithSlash(path), folder);
    }
    HRESULT STDMETHODCALLTYPE GetProgramFilesFolder(BSTR* folder) override
    {
        return ShellFolder(CSIDL_PROGRAM_FILES, folder);
    }
    HRESULT STDMETHODCALLTYPE GetCommonAppDataFolder(BSTR* folder) override
    {
        return ShellFolder(CSIDL_COMMON_APPDATA, folder);
    }
    HRESULT STDMETHODCALLTYPE GetHostFolder(BSTR* folder) override { return ReturnBstr(ModuleFolder(nullptr), folder); }
    HRESULT STDMETHODCALLTYPE GetLocalAppDataFolder(BSTR* folder) override
    {
        return ShellFolder(CSIDL_LOCAL_APPDATA, folder);
    }
    HRESULT STDMETHODCALLTYPE GetAppDataFolder(BSTR* folder) override { return ShellFolder(CSIDL_APPDATA, folder); }
    HRESULT STDMETHODCALLTYPE GetHostFileName(BSTR* fileName) override { return ReturnBstr(HostFileName(), fileName); }
    HRESULT STDMETHODCALLTYPE GetSpecialFolder(LONG csidl, BSTR* folder) override
    {
        return ShellFolder(static_cast<int>(csidl), folder);
    }
};

class TGlobals : public TSiblingObject<IGlobals> {
public:
    HRESULT STDMETHODCALLTYPE GetVersion(BSTR* text) override { return ReturnBstr(L"0.1", text); }
    HRESULT STDMETHODCALLTYPE GetCompanyName(BSTR* text) override { return ReturnBstr(L"Quorvanta", text); }
    HRESULT STDMETHODCALLTYPE GetProductName(BSTR* text) override { return ReturnBstr(L"Tidyhive", text); }
    HRESULT STDMETHODCALLTYPE GetCopyright(BSTR* text) override { return ReturnBstr(L"Quorvanta", text); }
    HRESULT STDMETHODCALLTYPE GetWebSite(BSTR* text) override { return ReturnBstr(L"", text); }
    HRESULT STDMETHODCALLTYPE GetSupportAddress(BSTR* text) override { return ReturnBstr(L"", text); }
    HRESULT STDMETHODCALLTYPE GetHostFileName(BSTR* text) override { return ReturnBstr(HostFileName(), text); }
    HRESULT STDMETHODCALLTYPE GetHostFolder(BSTR* text) override { return ReturnBstr(ModuleFolder(nullptr), text); }
    HRESULT STDMETHODCALLTYPE GetLanguageFolder(BSTR* text) override
    {
        return ReturnBstr(ModuleFolder(nullptr) + L"Lang\\", text);
    }
    HRESULT STDMETHODCALLTYPE GetSettingsPath(BSTR* text) override
    {
        return ReturnBstr(L"Software\\Quorvanta\\Tidyhive\\", text);
    }
    HRESULT STDMETHODCALLTYPE Reserved13() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Reserved14() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Reserved15() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Reserved16() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Reserved17() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Reserved18() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Reserved19() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Reserved20() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Reserved21() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Reserved22() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetUserName(BSTR* text) override
    {
        wchar_t name[257] = {};
        DWORD size = 257;
        if (!::GetUserNameW(name, &size)) {
            return ReturnBstr(L"", text);
        }
        return ReturnBstr(name, text);
    }
};

class TDiskHelper : public TSiblingObject<IDiskHelper> {
public:
    BOOL STDMETHODCALLTYPE FileExists(LPCWSTR path) override
    {
        const DWORD attributes = path ? GetFileAttributesW(path) : INVALID_FILE_ATTRIBUTES;
        return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
    }
    BOOL STDMETHODCALLTYPE FolderExists(LPCWSTR path) override
    {
        const DWORD attributes = path ? GetFileAttributesW(path) : INVALID_FILE_ATTRIBUTES;
        return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
    }
};

class TShellHelper : public TSiblingObject<IShellHelper> {
public:
    HRESULT STDMETHODCALLTYPE GetSpecialFolder(LONG csidl, BSTR* folder) override
    {
        return ShellFolder(static_cast<int>(csidl), folder);
    }
};

// One instance of each service for the life of the process; every GetInstance call
// hands out a new reference to it, as its own interface.
template <class Interface, class T>
IUnknown* Single()
{
    static T* instance = new T();
    instance->AddRef();
    return static_cast<Interface*>(instance);
}

}  // namespace
}  // namespace tidyhive::siblings

using namespace tidyhive;
using namespace tidyhive::siblings;

extern "C" IUnknown* WINAPI GetInstance(const char* identifier, LONG)
{
    if (SameIdentifier(identifier, kHelperInstanceId)) {
        return Single<ISysHelper, THelper>();
    }
    if (SameIdentifier(identifier, kGlobalsInstanceId)) {
        return Single<IGlobals, TGlobals>();
    }
    if (SameIdentifier(identifier, kOptionsInstanceId)) {
        return Single<ISettingsStore, TSettingsStore>();
    }
    if (SameIdentifier(identifier, kDiskHelperInstanceId)) {
        return Single<IDiskHelper, TDiskHelper>();
    }
    if (SameIdentifier(identifier, kShellHelperInstanceId)) {
        return Single<IShellHelper, TShellHelper>();
    }
    return nullptr;
}
