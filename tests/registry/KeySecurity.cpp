#include "tests/registry/KeySecurity.h"

#include "registry/AccessRights.h"

#include <aclapi.h>
#include <sddl.h>

#include <vector>

namespace tidyhive::testing {

std::wstring CurrentUserSidText()
{
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
        return {};
    }
    DWORD size = 0;
    GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    std::vector<DWORD> buffer(size / sizeof(DWORD) + 1);
    std::wstring result;
    if (GetTokenInformation(token, TokenUser, buffer.data(), size, &size)) {
        LPWSTR text = nullptr;
        if (ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER *>(buffer.data())->User.Sid, &text)) {
            result = text;
            LocalFree(text);
        }
    }
    CloseHandle(token);
    return result;
}

std::wstring ForCurrentUser(std::wstring sddl)
{
    const std::wstring user = CurrentUserSidText();
    for (size_t at = sddl.find(L"%U"); at != std::wstring::npos; at = sddl.find(L"%U", at + user.size())) {
        sddl.replace(at, 2, user);
    }
    return sddl;
}

DWORD SetKeySecurityText(HKEY root, const std::wstring &subPath, REGSAM view, const std::wstring &sddl)
{
    EnableProcessPrivilege(SE_RESTORE_NAME);
    EnableProcessPrivilege(SE_TAKE_OWNERSHIP_NAME);
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1, &descriptor,
                                                              nullptr)) {
        return GetLastError();
    }
    PSID owner = nullptr;
    BOOL defaulted = FALSE;
    GetSecurityDescriptorOwner(descriptor, &owner, &defaulted);
    PACL list = nullptr;
    BOOL present = FALSE;
    GetSecurityDescriptorDacl(descriptor, &present, &list, &defaulted);
    HKEY key = nullptr;
    DWORD status =
        RegOpenKeyExW(root, subPath.c_str(), 0, WRITE_DAC | (owner ? WRITE_OWNER : 0) | view, &key);
    if (status == ERROR_SUCCESS) {
        const SECURITY_INFORMATION what =
            DACL_SECURITY_INFORMATION | (owner ? OWNER_SECURITY_INFORMATION : 0);
        status = SetSecurityInfo(key, SE_REGISTRY_KEY, what, owner, nullptr, list, nullptr);
        RegCloseKey(key);
    }
    LocalFree(descriptor);
    return status;
}

std::wstring KeySecurityText(HKEY root, const std::wstring &subPath, REGSAM view)
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, subPath.c_str(), 0, READ_CONTROL | view, &key) != ERROR_SUCCESS) {
        return {};
    }
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    std::wstring result;
    if (GetSecurityInfo(key, SE_REGISTRY_KEY, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, nullptr,
                        nullptr, nullptr, nullptr, &descriptor) == ERROR_SUCCESS) {
        LPWSTR text = nullptr;
        if (ConvertSecurityDescriptorToStringSecurityDescriptorW(
                descriptor, SDDL_REVISION_1, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &text,
                nullptr)) {
            result = text;
            LocalFree(text);
        }
        LocalFree(descriptor);
    }
    RegCloseKey(key);
    return result;
}

TKeyUnlocker::~TKeyUnlocker()
{
    const std::wstring open = ForCurrentUser(L"O:%UD:(A;OICI;KA;;;%U)(A;OICI;KA;;;BA)");
    if (SetKeySecurityText(root_, subPath_, view_, open) == ERROR_SUCCESS ||
        SetKeySecurityText(root_, subPath_, view_, ForCurrentUser(L"D:(A;OICI;KA;;;%U)(A;OICI;KA;;;BA)")) ==
            ERROR_SUCCESS) {
        return;
    }
    // Without WRITE_DAC: become the owner first, which brings it.
    HKEY key = nullptr;
    if (RegOpenKeyExW(root_, subPath_.c_str(), 0, WRITE_OWNER | view_, &key) == ERROR_SUCCESS) {
        PSECURITY_DESCRIPTOR descriptor = nullptr;
        if (ConvertStringSecurityDescriptorToSecurityDescriptorW(ForCurrentUser(L"O:%U").c_str(),
                                                                 SDDL_REVISION_1, &descriptor, nullptr)) {
            PSID owner = nullptr;
            BOOL defaulted = FALSE;
            GetSecurityDescriptorOwner(descriptor, &owner, &defaulted);
            SetSecurityInfo(key, SE_REGISTRY_KEY, OWNER_SECURITY_INFORMATION, owner, nullptr, nullptr,
                            nullptr);
            LocalFree(descriptor);
        }
        RegCloseKey(key);
    }
    SetKeySecurityText(root_, subPath_, view_, open);
}

} // namespace tidyhive::testing
