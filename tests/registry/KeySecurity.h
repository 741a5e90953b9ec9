// Owner and access lists of test keys, written and read as security descriptor strings, and
// an owner that makes a locked test key deletable again when the test ends.
#pragma once

#include <windows.h>

#include <string>

namespace tidyhive::testing {

std::wstring CurrentUserSidText();

// Replaces "%U" in an SDDL text by the current user's SID.
std::wstring ForCurrentUser(std::wstring sddl);

// Writes the owner (when the text has one) and the access list of the key in the view,
// with the privileges that setting another owner needs. Answers the Win32 error.
DWORD SetKeySecurityText(HKEY root, const std::wstring &subPath, REGSAM view, const std::wstring &sddl);

// Owner and access list as SDDL; empty when they cannot be read.
std::wstring KeySecurityText(HKEY root, const std::wstring &subPath, REGSAM view);

// Gives the key back to the current user with full access (if it still exists) when it goes,
// so that the test key's own clean-up can remove it even after a failed test.
class TKeyUnlocker {
public:
    TKeyUnlocker(HKEY root, std::wstring subPath, REGSAM view)
        : root_(root), subPath_(std::move(subPath)), view_(view)
    {
    }
    ~TKeyUnlocker();
    TKeyUnlocker(const TKeyUnlocker &) = delete;
    TKeyUnlocker &operator=(const TKeyUnlocker &) = delete;

private:
    HKEY root_;
    std::wstring subPath_;
    REGSAM view_;
};

} // namespace tidyhive::testing
