// Tunestore.dll: per-application settings, kept under HKEY_CURRENT_USER.
#include "siblings/common/SiblingObject.h"
#include "tidyhive/Tunestore.h"

#include <string>

namespace tidyhive::siblings {

TIDYHIVE_SIBLING_INTERFACE(ISettings, IID_ISettings);
TIDYHIVE_SIBLING_INTERFACE(IApplicationSettings, IID_IApplicationSettings);

namespace {

constexpr wchar_t kApplicationsKey[] = L"Software\\Quorvanta\\Tunestore\\Applications\\";

// Backing up is on unless the value "BackupEnabled" of the program's key says 0.
class TApplicationSettings : public TSiblingObject<IApplicationSettings> {
public:
    BOOL STDMETHODCALLTYPE IsBackupEnabled(LPCWSTR programFileName) override
    {
        const std::wstring path = std::wstring(kApplicationsKey) + (programFileName ? programFileName : L"");
        DWORD value = 1;
        DWORD size = sizeof(value);
        const LONG status = RegGetValueW(HKEY_CURRENT_USER, path.c_str(), L"BackupEnabled", RRF_RT_REG_DWORD,
                                         nullptr, &value, &size);
        return status != ERROR_SUCCESS || value != 0;
    }
    HRESULT STDMETHODCALLTYPE SetBackupEnabled(LPCWSTR programFileName, BOOL value) override
    {
        const std::wstring path = std::wstring(kApplicationsKey) + (programFileName ? programFileName : L"");
        const DWORD data = value ? 1 : 0;
        return HRESULT_FROM_WIN32(RegSetKeyValueW(HKEY_CURRENT_USER, path.c_str(), L"BackupEnabled", REG_DWORD,
                                                  &data, sizeof(data)));
    }
};

class TSettings : public TSiblingObject<ISettings> {
public:
    HRESULT STDMETHODCALLTYPE GetSettingsPath(BSTR* path) override { return ReturnBstr(kApplicationsKey, path); }
    HRESULT STDMETHODCALLTYPE Reserved4() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Reserved5() override { return E_NOTIMPL; }
    IApplicationSettings* STDMETHODCALLTYPE GetApplicationSettings() override { return new TApplicationSettings(); }
};

}  // namespace
}  // namespace tidyhive::siblings

using namespace tidyhive;
using namespace tidyhive::siblings;

extern "C" IUnknown* WINAPI GetInstance(const char* identifier, LONG)
{
    if (!SameIdentifier(identifier, kSettingsInstanceId)) {
        return nullptr;
    }
    static TSettings* settings = new TSettings();
    settings->AddRef();
    return static_cast<ISettings*>(settings);
}
