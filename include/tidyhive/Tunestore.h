// Tunestore.dll: per-application settings (whether backing up is enabled).
#pragma once

#include <windows.h>
#include <unknwn.h>

namespace tidyhive {

inline constexpr char kTunestoreLibrary[] = "Tunestore.dll";
inline constexpr char kSettingsInstanceId[] = "{EFD8173C-C76D-4A9A-87BF-359D2ED08AFD}";

// {313B09A9-C299-4D0D-8509-FF27E2861B25}
inline constexpr IID IID_IApplicationSettings = {
    0x313B09A9, 0xC299, 0x4D0D, {0x85, 0x09, 0xFF, 0x27, 0xE2, 0x86, 0x1B, 0x25}};
struct IApplicationSettings : IUnknown {
    // Whether changes made by this program are backed up (true unless switched off).
    virtual BOOL STDMETHODCALLTYPE IsBackupEnabled(LPCWSTR programFileName) = 0;                  // 3
    virtual HRESULT STDMETHODCALLTYPE SetBackupEnabled(LPCWSTR programFileName, BOOL value) = 0;  // 4
};

// {EFD8173C-C76D-4A9A-87BF-359D2ED08AFD}
inline constexpr IID IID_ISettings = {
    0xEFD8173C, 0xC76D, 0x4A9A, {0x87, 0xBF, 0x35, 0x9D, 0x2E, 0xD0, 0x8A, 0xFD}};
struct ISettings : IUnknown {
    // Registry path (under HKEY_CURRENT_USER) where the settings live.
    virtual HRESULT STDMETHODCALLTYPE GetSettingsPath(BSTR* path) = 0;  // 3
    virtual HRESULT STDMETHODCALLTYPE Reserved4() = 0;                  // 4
    virtual HRESULT STDMETHODCALLTYPE Reserved5() = 0;                  // 5
    // A new per-application settings object; the caller releases it.
    virtual IApplicationSettings* STDMETHODCALLTYPE GetApplicationSettings() = 0;  // 6
};

}  // namespace tidyhive
