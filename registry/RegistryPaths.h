// Registry paths: a long root name ("HKEY_LOCAL_MACHINE") and key names joined by
// backslashes. Root names are matched case-insensitively; short forms such as HKLM are not
// recognised.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

namespace tidyhive {

struct TRegistryRoot {
    const wchar_t* name;            // "HKEY_LOCAL_MACHINE"
    HKEY key;                       // the predefined handle
    const wchar_t* securityPrefix;  // "MACHINE" for the security functions; null where none exists
};

// The seven roots in the order in which paths are matched against them.
const TRegistryRoot* RegistryRoots(size_t& count);

// The root handle of the first root name the path begins with (a plain prefix test, no
// separator required); HKEY_CLASSES_ROOT when the path begins with none.
HKEY ExtractRootFromKey(std::wstring_view path);

// Everything after the first backslash; empty when the path holds none.
std::wstring ExtractKeyWithotRoot(std::wstring_view path);

// The name the security functions give the key ("MACHINE\SOFTWARE\..."), for paths below
// HKEY_CLASSES_ROOT, HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE and HKEY_USERS; empty otherwise.
std::wstring RegPathToSecurityName(std::wstring_view path);

// The long name of a predefined root ("HKEY_USERS"); empty for any other handle.
std::wstring RegRootName(HKEY root);

// The text after the last backslash; the whole text when there is none.
std::wstring ExtractLastKey(std::wstring_view path);

// Moves the last component of path into last and removes it, with its backslash, from path.
// Without a backslash, last is empty and path is unchanged.
void SplitLastKey(std::wstring& path, std::wstring& last);

}  // namespace tidyhive
