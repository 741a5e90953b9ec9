// Reading and writing registry state exactly as stored: raw value data of any type and
// length, whole key trees, security descriptors, in a chosen registry view.
#pragma once

#include "siblings/backvault/Records.h"
#include "siblings/backvault/Win32Owners.h"

#include <string>
#include <vector>

namespace tidyhive::backvault {

// Predefined roots travel as the low 32 bits of their handle value.
uint32_t RootValue(HKEY predefined);
HKEY RootHandle(uint32_t root);
std::wstring RootName(uint32_t root);

// True on 64-bit Windows, also in a 32-bit process there.
bool IsOs64();
// The view an access mask selects in this process: its view bits, or the process's own
// view when it has none; 0 on a 32-bit system, where there is only one.
uint32_t ViewOf(REGSAM access);

std::vector<std::wstring> SplitPath(const std::wstring &path);
std::wstring JoinPath(const std::vector<std::wstring> &names, size_t count);
// A relative key path appended to a location's path, normalised.
std::wstring AppendPath(const std::wstring &path, const wchar_t *subKey);

// "HKEY_CURRENT_USER\Software\Key (64-bit view)".
std::wstring Describe(const TRegLocation &location);
// "value "Name" of HKEY_...\Key (64-bit view)" or "default value of ...".
std::wstring DescribeValue(const TRegLocation &location, const std::wstring &name);

// Each answers a Windows error code; outputs are unchanged on failure unless said.
LONG OpenLocation(const TRegLocation &location, REGSAM access, TRegKey &key);
// Creates the key and any missing parents; the class is given to the last key only.
LONG CreateLocation(const TRegLocation &location, const std::wstring &keyClass, TRegKey &key);
// ERROR_SUCCESS with exists = false when the key is missing; an error leaves exists true
// (a key that cannot be opened is not known to be gone).
LONG ProbeKey(const TRegLocation &location, bool &exists);
// A missing value answers ERROR_SUCCESS with state.present = false.
LONG ReadValue(HKEY key, const std::wstring &name, TValueState &state);
// As ReadValue; a missing key reads as a missing value.
LONG ReadValueAt(const TRegLocation &location, const std::wstring &name, TValueState &state);
// Stores exactly these bytes (RegSetValueEx would otherwise add a terminator to some
// strings that lack one).
LONG WriteValue(HKEY key, const std::wstring &name, uint32_t type, const TBytes &data);
// The key, its class, security, values and all subkeys. snapshot.name is left as given.
LONG CaptureKey(HKEY key, REGSAM view, TKeySnapshot &snapshot);
// Whether the key holds no value and no subkey.
LONG IsKeyEmpty(HKEY key, bool &empty);

// Self-relative security descriptor with the requested parts.
LONG ReadSecurity(HKEY key, SECURITY_INFORMATION information, TBytes &descriptor);
// Compares the parts named by information (owner, group, access list, audit list).
bool SameSecurity(const TBytes &left, const TBytes &right, SECURITY_INFORMATION information);
inline constexpr SECURITY_INFORMATION kSnapshotSecurity =
    OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;

// The key as regedit names it, with the view resolved (a redirected key of the 32-bit
// view gets its Wow6432Node path). Keys that are gone resolve through their nearest
// existing parent.
std::wstring PhysicalPath(const TRegLocation &location);

} // namespace tidyhive::backvault

namespace tidyhive::backvault {
// The parts of a security descriptor a security change records and restores.
inline constexpr SECURITY_INFORMATION kRecordedSecurity =
    OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION |
    SACL_SECURITY_INFORMATION | LABEL_SECURITY_INFORMATION;
} // namespace tidyhive::backvault
