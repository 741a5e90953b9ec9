// Backvault.dll: backup sessions with recorded, undoable registry and file changes.
#pragma once

#include <windows.h>
#include <unknwn.h>

namespace tidyhive {

inline constexpr char kBackvaultLibrary[] = "Backvault.dll";
inline constexpr char kBackvaultInstanceId[] = "{EE9506EC-06E0-438F-B9CA-65A47523CA35}";

// Registry access that records the state each change replaces in the open session.
// Every method mirrors the wide Windows function of the same name and answers its
// error code (ERROR_SUCCESS on success). Without an open session changes are made
// but not recorded. While a session is open, a change that cannot be recorded is not
// made: a change through a handle this interface did not open answers
// ERROR_INVALID_HANDLE, a journal that cannot be written answers its write error.
// {9A6CAB47-5BF9-4593-9DF8-8EC733EC5450}
inline constexpr IID IID_IRegAccess = {
    0x9A6CAB47, 0x5BF9, 0x4593, {0x9D, 0xF8, 0x8E, 0xC7, 0x33, 0xEC, 0x54, 0x50}};
struct IRegAccess : IUnknown {
    virtual LONG STDMETHODCALLTYPE RegCreateKeyEx(HKEY key, LPCWSTR subKey, DWORD reserved, LPWSTR keyClass,
                                                  DWORD options, REGSAM access,
                                                  LPSECURITY_ATTRIBUTES security, PHKEY result,
                                                  LPDWORD disposition) = 0;                      // 3
    virtual LONG STDMETHODCALLTYPE RegOpenKeyEx(HKEY key, LPCWSTR subKey, DWORD options, REGSAM access,
                                                PHKEY result) = 0;                               // 4
    virtual LONG STDMETHODCALLTYPE RegQueryValueEx(HKEY key, LPCWSTR valueName, LPDWORD reserved,
                                                   LPDWORD type, LPBYTE data, LPDWORD dataSize) = 0;  // 5
    virtual LONG STDMETHODCALLTYPE RegDeleteValue(HKEY key, LPCWSTR valueName) = 0;              // 6
    virtual LONG STDMETHODCALLTYPE RegDeleteKeyEx(HKEY key, LPCWSTR subKey, REGSAM view,
                                                  DWORD reserved) = 0;                           // 7
    virtual LONG STDMETHODCALLTYPE RegSetValueEx(HKEY key, LPCWSTR valueName, DWORD reserved, DWORD type,
                                                 const BYTE* data, DWORD dataSize) = 0;          // 8
    virtual LONG STDMETHODCALLTYPE RegEnumKeyEx(HKEY key, DWORD index, LPWSTR name, LPDWORD nameLength,
                                                LPDWORD reserved, LPWSTR keyClass, LPDWORD classLength,
                                                PFILETIME lastWrite) = 0;                        // 9
    virtual LONG STDMETHODCALLTYPE RegEnumValue(HKEY key, DWORD index, LPWSTR name, LPDWORD nameLength,
                                                LPDWORD reserved, LPDWORD type, LPBYTE data,
                                                LPDWORD dataSize) = 0;                           // 10
    virtual LONG STDMETHODCALLTYPE RegQueryInfoKey(HKEY key, LPWSTR keyClass, LPDWORD classLength,
                                                   LPDWORD reserved, LPDWORD subKeys,
                                                   LPDWORD maxSubKeyLength, LPDWORD maxClassLength,
                                                   LPDWORD values, LPDWORD maxValueNameLength,
                                                   LPDWORD maxValueLength, LPDWORD securityDescriptor,
                                                   PFILETIME lastWrite) = 0;                     // 11
    virtual LONG STDMETHODCALLTYPE RegFlushKey(HKEY key) = 0;                                    // 12
    virtual LONG STDMETHODCALLTYPE RegGetKeySecurity(HKEY key, SECURITY_INFORMATION information,
                                                     PSECURITY_DESCRIPTOR descriptor,
                                                     LPDWORD descriptorSize) = 0;                // 13
    virtual LONG STDMETHODCALLTYPE RegCloseKey(HKEY key) = 0;                                    // 14
    // Records the owner and access list the change replaces, so that undo restores them.
    virtual LONG STDMETHODCALLTYPE RegSetKeySecurity(HKEY key, SECURITY_INFORMATION information,
                                                     PSECURITY_DESCRIPTOR descriptor) = 0;       // 15
};

// File access that keeps each removed file in the open session. As with IRegAccess, an
// operation that cannot be recorded is not made. DeleteFile removes read-only files too.
// {DA52DE2B-DDAF-4059-B030-2EC10A793DE7}
inline constexpr IID IID_IFileAccess = {
    0xDA52DE2B, 0xDDAF, 0x4059, {0xB0, 0x30, 0x2E, 0xC1, 0x0A, 0x79, 0x3D, 0xE7}};
struct IFileAccess : IUnknown {
    virtual BOOL STDMETHODCALLTYPE CopyFile(LPCWSTR existing, LPCWSTR target, BOOL failIfExists) = 0;  // 3
    virtual BOOL STDMETHODCALLTYPE MoveFile(LPCWSTR existing, LPCWSTR target) = 0;                     // 4
    virtual BOOL STDMETHODCALLTYPE CreateDirectory(LPCWSTR path) = 0;                                  // 5
    virtual BOOL STDMETHODCALLTYPE DeleteFile(LPCWSTR path) = 0;                                       // 6
    virtual BOOL STDMETHODCALLTYPE RemoveDirectory(LPCWSTR path) = 0;                                  // 7
    virtual BOOL STDMETHODCALLTYPE SetFileAttributes(LPCWSTR path, DWORD attributes) = 0;              // 8
    virtual DWORD STDMETHODCALLTYPE GetLastError() = 0;                                                // 9
};

// One session as listed for a host. Texts are BSTRs the caller frees (ClearSessionInfo).
struct BackvaultSessionInfo {
    BSTR id;
    BSTR title;         // for a damaged session: why it cannot be read
    BSTR program;
    FILETIME started;   // UTC
    FILETIME finished;  // UTC; zero while the session is open or was never closed
    LONG changes;
    BOOL complete;      // closed normally (false after a crash in the middle of a session)
    BOOL damaged;       // the journal cannot be read for certain; the session cannot be restored
};

// Sessions live in folders under the user's application data folder
// ("Quorvanta\Backvault\Sessions\<id>") unless SetStorageFolder names another. Failed
// calls leave a message for GetLastErrorText on the calling thread.
// {EE9506EC-06E0-438F-B9CA-65A47523CA35}
inline constexpr IID IID_IBackvault = {
    0xEE9506EC, 0x06E0, 0x438F, {0xB9, 0xCA, 0x65, 0xA4, 0x75, 0x23, 0xCA, 0x35}};
struct IBackvault : IUnknown {
    virtual IRegAccess* STDMETHODCALLTYPE GetRegAccess() = 0;                                 // 3
    virtual HRESULT STDMETHODCALLTYPE GetStorageFolder(BSTR* folder) = 0;                     // 4
    virtual IFileAccess* STDMETHODCALLTYPE GetFileAccess() = 0;                               // 5
    // Reads the storage folder afresh; sessions newest first, for GetSessionInfo.
    virtual LONG STDMETHODCALLTYPE GetSessionCount() = 0;                                     // 6
    virtual HRESULT STDMETHODCALLTYPE GetSessionInfo(LONG index, BackvaultSessionInfo* info) = 0;  // 7
    // Undo a session. report receives a readable account of what was restored and of each
    // conflict; conflicts are left alone unless overwrite is true. S_OK: all restored;
    // S_FALSE: conflicts left as they are; failure: something could not be restored, or the
    // journal is damaged and nothing was touched (report and GetLastErrorText say why).
    virtual HRESULT STDMETHODCALLTYPE RestoreSession(LPCWSTR id, BOOL overwrite, BSTR* report) = 0;  // 8
    virtual HRESULT STDMETHODCALLTYPE DeleteSession(LPCWSTR id) = 0;                          // 9
    // Writes a regedit file ("Windows Registry Editor Version 5.00") that re-creates what
    // the session removed.
    virtual HRESULT STDMETHODCALLTYPE ExportSession(LPCWSTR id, LPCWSTR fileName) = 0;        // 10
    // The message of the last failed call on this thread.
    virtual HRESULT STDMETHODCALLTYPE GetLastErrorText(BSTR* text) = 0;                       // 11
    // 1 when the session began (id receives its identifier), 0 when not (another session
    // is still open, or the storage folder cannot be written).
    virtual LONG STDMETHODCALLTYPE BeginSession(LPCWSTR title, LPCWSTR program, BSTR* id) = 0;  // 12
    virtual void STDMETHODCALLTYPE SetSessionTitle(LPCWSTR title) = 0;                        // 13
    // Closes the open session: 1 on success, 0 when none was open or it could not be
    // sealed. Without backupEnabled the session's stored data is removed.
    virtual LONG STDMETHODCALLTYPE EndSession(BOOL backupEnabled) = 0;                        // 14
    virtual BOOL STDMETHODCALLTYPE IsSessionOpen() = 0;                                       // 15
    // Empty or null: back to the default folder. Refused while a session is open.
    virtual HRESULT STDMETHODCALLTYPE SetStorageFolder(LPCWSTR folder) = 0;                   // 16
    // One session by identifier (E_... with HRESULT_FROM_WIN32(ERROR_NOT_FOUND) if none).
    virtual HRESULT STDMETHODCALLTYPE FindSession(LPCWSTR id, BackvaultSessionInfo* info) = 0;  // 17
    virtual HRESULT STDMETHODCALLTYPE Reserved18() = 0;                                       // 18
    virtual HRESULT STDMETHODCALLTYPE Reserved19() = 0;                                       // 19
    virtual HRESULT STDMETHODCALLTYPE Reserved20() = 0;                                       // 20
    virtual HRESULT STDMETHODCALLTYPE Reserved21() = 0;                                       // 21
    virtual HRESULT STDMETHODCALLTYPE Reserved22() = 0;                                       // 22
    virtual HRESULT STDMETHODCALLTYPE Reserved23() = 0;                                       // 23
};

inline void ClearSessionInfo(BackvaultSessionInfo& info)
{
    SysFreeString(info.id);
    SysFreeString(info.title);
    SysFreeString(info.program);
    info = {};
}

}  // namespace tidyhive
