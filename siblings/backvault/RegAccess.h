// IRegAccess: the registry functions, each change recorded in the open session before it
// is made. Keys are real handles; the object remembers which key each handle it opened
// addresses, so that a change through a handle can be recorded by location.
#pragma once

#include "siblings/backvault/Records.h"
#include "siblings/common/SiblingObject.h"
#include "tidyhive/Backvault.h"

#include <map>
#include <optional>

namespace tidyhive::siblings {
TIDYHIVE_SIBLING_INTERFACE(IRegAccess, IID_IRegAccess);
}

namespace tidyhive::backvault {

class TRegAccess : public siblings::TSiblingObject<IRegAccess> {
public:
    LONG STDMETHODCALLTYPE RegCreateKeyEx(HKEY key, LPCWSTR subKey, DWORD reserved, LPWSTR keyClass,
                                          DWORD options, REGSAM access, LPSECURITY_ATTRIBUTES security,
                                          PHKEY result, LPDWORD disposition) override;
    LONG STDMETHODCALLTYPE RegOpenKeyEx(HKEY key, LPCWSTR subKey, DWORD options, REGSAM access,
                                        PHKEY result) override;
    LONG STDMETHODCALLTYPE RegQueryValueEx(HKEY key, LPCWSTR valueName, LPDWORD reserved, LPDWORD type,
                                           LPBYTE data, LPDWORD dataSize) override;
    LONG STDMETHODCALLTYPE RegDeleteValue(HKEY key, LPCWSTR valueName) override;
    LONG STDMETHODCALLTYPE RegDeleteKeyEx(HKEY key, LPCWSTR subKey, REGSAM view, DWORD reserved) override;
    LONG STDMETHODCALLTYPE RegSetValueEx(HKEY key, LPCWSTR valueName, DWORD reserved, DWORD type,
                                         const BYTE *data, DWORD dataSize) override;
    LONG STDMETHODCALLTYPE RegEnumKeyEx(HKEY key, DWORD index, LPWSTR name, LPDWORD nameLength,
                                        LPDWORD reserved, LPWSTR keyClass, LPDWORD classLength,
                                        PFILETIME lastWrite) override;
    LONG STDMETHODCALLTYPE RegEnumValue(HKEY key, DWORD index, LPWSTR name, LPDWORD nameLength,
                                        LPDWORD reserved, LPDWORD type, LPBYTE data,
                                        LPDWORD dataSize) override;
    LONG STDMETHODCALLTYPE RegQueryInfoKey(HKEY key, LPWSTR keyClass, LPDWORD classLength, LPDWORD reserved,
                                           LPDWORD subKeys, LPDWORD maxSubKeyLength, LPDWORD maxClassLength,
                                           LPDWORD values, LPDWORD maxValueNameLength, LPDWORD maxValueLength,
                                           LPDWORD securityDescriptor, PFILETIME lastWrite) override;
    LONG STDMETHODCALLTYPE RegFlushKey(HKEY key) override;
    LONG STDMETHODCALLTYPE RegGetKeySecurity(HKEY key, SECURITY_INFORMATION information,
                                             PSECURITY_DESCRIPTOR descriptor,
                                             LPDWORD descriptorSize) override;
    LONG STDMETHODCALLTYPE RegCloseKey(HKEY key) override;
    LONG STDMETHODCALLTYPE RegSetKeySecurity(HKEY key, SECURITY_INFORMATION information,
                                             PSECURITY_DESCRIPTOR descriptor) override;

private:
    // Where a key opened relative to key addresses; none for a handle this object did not
    // open (a change through it cannot be recorded).
    std::optional<TRegLocation> Resolve(HKEY key, LPCWSTR subKey, REGSAM access) const;
    void Remember(HKEY handle, const std::optional<TRegLocation> &location);

    struct THandleEntry {
        bool known = false;
        TRegLocation location;
    };
    std::map<HKEY, THandleEntry> handles_; // under the vault's lock
};

} // namespace tidyhive::backvault
