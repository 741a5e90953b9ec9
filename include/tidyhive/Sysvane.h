// Sysvane.dll: general services of the host (folders, globals, the settings store).
#pragma once

#include <windows.h>
#include <unknwn.h>

namespace tidyhive {

inline constexpr char kSysvaneLibrary[] = "Sysvane.dll";
inline constexpr char kHelperInstanceId[] = "{5C9ABD04-59E8-4686-8E32-FF648BB7FDD5}";
inline constexpr char kDiskHelperInstanceId[] = "{CA5528BF-C171-4675-9657-B9DC1B0B3AFF}";
inline constexpr char kOptionsInstanceId[] = "{6D84DC42-1982-4CEE-A37E-5DF3BD71C1AD}";
inline constexpr char kGlobalsInstanceId[] = "{E3B78765-F359-4D65-86A3-5FE2CA92922E}";
inline constexpr char kShellHelperInstanceId[] = "{6773075A-4E7A-4292-A6B9-12F24F316C36}";

// Folders. Every folder text ends with a path separator.
// {5C9ABD04-59E8-4686-8E32-FF648BB7FDD5}
inline constexpr IID IID_ISysHelper = {
    0x5C9ABD04, 0x59E8, 0x4686, {0x8E, 0x32, 0xFF, 0x64, 0x8B, 0xB7, 0xFD, 0xD5}};
struct ISysHelper : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetWindowsFolder(BSTR* folder) = 0;         // 3
    virtual HRESULT STDMETHODCALLTYPE GetSystemFolder(BSTR* folder) = 0;          // 4
    virtual HRESULT STDMETHODCALLTYPE GetTempFolder(BSTR* folder) = 0;            // 5
    virtual HRESULT STDMETHODCALLTYPE GetProgramFilesFolder(BSTR* folder) = 0;    // 6
    virtual HRESULT STDMETHODCALLTYPE GetCommonAppDataFolder(BSTR* folder) = 0;   // 7
    // Folder of the host executable.
    virtual HRESULT STDMETHODCALLTYPE GetHostFolder(BSTR* folder) = 0;            // 8
    virtual HRESULT STDMETHODCALLTYPE GetLocalAppDataFolder(BSTR* folder) = 0;    // 9
    // The current user's application-data folder.
    virtual HRESULT STDMETHODCALLTYPE GetAppDataFolder(BSTR* folder) = 0;         // 10
    virtual HRESULT STDMETHODCALLTYPE GetHostFileName(BSTR* fileName) = 0;        // 11
    // A shell folder by its CSIDL number.
    virtual HRESULT STDMETHODCALLTYPE GetSpecialFolder(LONG csidl, BSTR* folder) = 0;  // 12
};

// Product texts and paths.
// {E3B78765-F359-4D65-86A3-5FE2CA92922E}
inline constexpr IID IID_IGlobals = {
    0xE3B78765, 0xF359, 0x4D65, {0x86, 0xA3, 0x5F, 0xE2, 0xCA, 0x92, 0x92, 0x2E}};
struct IGlobals : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetVersion(BSTR* text) = 0;          // 3
    virtual HRESULT STDMETHODCALLTYPE GetCompanyName(BSTR* text) = 0;      // 4
    virtual HRESULT STDMETHODCALLTYPE GetProductName(BSTR* text) = 0;      // 5
    virtual HRESULT STDMETHODCALLTYPE GetCopyright(BSTR* text) = 0;        // 6
    virtual HRESULT STDMETHODCALLTYPE GetWebSite(BSTR* text) = 0;          // 7
    virtual HRESULT STDMETHODCALLTYPE GetSupportAddress(BSTR* text) = 0;   // 8
    virtual HRESULT STDMETHODCALLTYPE GetHostFileName(BSTR* text) = 0;     // 9
    virtual HRESULT STDMETHODCALLTYPE GetHostFolder(BSTR* text) = 0;       // 10
    virtual HRESULT STDMETHODCALLTYPE GetLanguageFolder(BSTR* text) = 0;   // 11
    // Registry path of the application's settings under HKEY_CURRENT_USER, with a
    // trailing backslash: "Software\Quorvanta\Tidyhive\".
    virtual HRESULT STDMETHODCALLTYPE GetSettingsPath(BSTR* text) = 0;     // 12
    virtual HRESULT STDMETHODCALLTYPE Reserved13() = 0;                    // 13
    virtual HRESULT STDMETHODCALLTYPE Reserved14() = 0;                    // 14
    virtual HRESULT STDMETHODCALLTYPE Reserved15() = 0;                    // 15
    virtual HRESULT STDMETHODCALLTYPE Reserved16() = 0;                    // 16
    virtual HRESULT STDMETHODCALLTYPE Reserved17() = 0;                    // 17
    virtual HRESULT STDMETHODCALLTYPE Reserved18() = 0;                    // 18
    virtual HRESULT STDMETHODCALLTYPE Reserved19() = 0;                    // 19
    virtual HRESULT STDMETHODCALLTYPE Reserved20() = 0;                    // 20
    virtual HRESULT STDMETHODCALLTYPE Reserved21() = 0;                    // 21
    virtual HRESULT STDMETHODCALLTYPE Reserved22() = 0;                    // 22
    virtual HRESULT STDMETHODCALLTYPE GetUserName(BSTR* text) = 0;         // 23
};

// A settings store: typed values with registered defaults, kept in one registry key.
// Reads answer the stored value, else the registered default, else zero/empty.
// {6D84DC42-1982-4CEE-A37E-5DF3BD71C1AD}
inline constexpr IID IID_ISettingsStore = {
    0x6D84DC42, 0x1982, 0x4CEE, {0xA3, 0x7E, 0x5D, 0xF3, 0xBD, 0x71, 0xC1, 0xAD}};
struct ISettingsStore : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Close() = 0;                                         // 3
    virtual HKEY STDMETHODCALLTYPE GetRootKey() = 0;                                       // 4
    virtual HRESULT STDMETHODCALLTYPE GetKeyPath(BSTR* path) = 0;                          // 5
    virtual HRESULT STDMETHODCALLTYPE Open(HKEY root, LPCWSTR keyPath) = 0;                // 6
    virtual HRESULT STDMETHODCALLTYPE Reload() = 0;                                        // 7
    virtual HRESULT STDMETHODCALLTYPE Flush() = 0;                                         // 8
    virtual void STDMETHODCALLTYPE RegisterInteger(LPCWSTR name, LONG value) = 0;          // 9
    virtual void STDMETHODCALLTYPE RegisterBoolean(LPCWSTR name, BOOL value) = 0;          // 10
    virtual void STDMETHODCALLTYPE RegisterText(LPCWSTR name, LPCWSTR value) = 0;          // 11
    virtual void STDMETHODCALLTYPE RegisterDouble(LPCWSTR name, double value) = 0;         // 12
    virtual HRESULT STDMETHODCALLTYPE DeleteValue(LPCWSTR name) = 0;                       // 13
    virtual LONG STDMETHODCALLTYPE GetValueCount() = 0;                                    // 14
    virtual HRESULT STDMETHODCALLTYPE GetValueName(LONG index, BSTR* name) = 0;            // 15
    virtual void STDMETHODCALLTYPE WriteInteger(LPCWSTR name, LONG value) = 0;             // 16
    virtual void STDMETHODCALLTYPE WriteText(LPCWSTR name, LPCWSTR value) = 0;             // 17
    virtual void STDMETHODCALLTYPE WriteDouble(LPCWSTR name, double value) = 0;            // 18
    virtual void STDMETHODCALLTYPE WriteBoolean(LPCWSTR name, BOOL value) = 0;             // 19
    virtual LONG STDMETHODCALLTYPE ReadInteger(LPCWSTR name) = 0;                          // 20
    virtual HRESULT STDMETHODCALLTYPE ReadText(LPCWSTR name, BSTR* value) = 0;             // 21
    virtual BOOL STDMETHODCALLTYPE ReadBoolean(LPCWSTR name) = 0;                          // 22
    virtual double STDMETHODCALLTYPE ReadDouble(LPCWSTR name) = 0;                         // 23
    virtual BOOL STDMETHODCALLTYPE ValueExists(LPCWSTR name) = 0;                          // 24
};

// Disk and shell helpers; their slots are added as the categories that use them arrive.
// {CA5528BF-C171-4675-9657-B9DC1B0B3AFF}
inline constexpr IID IID_IDiskHelper = {
    0xCA5528BF, 0xC171, 0x4675, {0x96, 0x57, 0xB9, 0xDC, 0x1B, 0x0B, 0x3A, 0xFF}};
struct IDiskHelper : IUnknown {
    virtual BOOL STDMETHODCALLTYPE FileExists(LPCWSTR path) = 0;    // 3
    virtual BOOL STDMETHODCALLTYPE FolderExists(LPCWSTR path) = 0;  // 4
};

// {6773075A-4E7A-4292-A6B9-12F24F316C36}
inline constexpr IID IID_IShellHelper = {
    0x6773075A, 0x4E7A, 0x4292, {0xA6, 0xB9, 0x12, 0xF2, 0x4F, 0x31, 0x6C, 0x36}};
struct IShellHelper : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetSpecialFolder(LONG csidl, BSTR* folder) = 0;  // 3
};

}  // namespace tidyhive
