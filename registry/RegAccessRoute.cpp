#include "registry/RegAccessRoute.h"

namespace tidyhive {
namespace {

// The empty name is the default value; the W functions take it as null.
LPCWSTR ValueName(const std::wstring& name)
{
    return name.empty() ? nullptr : name.c_str();
}

}  // namespace

LONG TRegAccessRoute::OpenKey(HKEY parent, const std::wstring& subKey, REGSAM access, HKEY& result) const
{
    result = nullptr;
    const LONG status = access_ ? access_->RegOpenKeyEx(parent, subKey.c_str(), 0, access, &result)
                                : RegOpenKeyExW(parent, subKey.c_str(), 0, access, &result);
    if (status != ERROR_SUCCESS) {
        result = nullptr;
    }
    return status;
}

LONG TRegAccessRoute::CreateKey(HKEY parent, const std::wstring& subKey, REGSAM access, HKEY& result) const
{
    result = nullptr;
    DWORD disposition = 0;
    const LONG status = access_ ? access_->RegCreateKeyEx(parent, subKey.c_str(), 0, nullptr, 0, access,
                                                          nullptr, &result, &disposition)
                                : RegCreateKeyExW(parent, subKey.c_str(), 0, nullptr, 0, access, nullptr,
                                                  &result, &disposition);
    if (status != ERROR_SUCCESS) {
        result = nullptr;
    }
    return status;
}

LONG TRegAccessRoute::SetValue(HKEY key, const std::wstring& name, DWORD type, const BYTE* data,
                               DWORD size) const
{
    return access_ ? access_->RegSetValueEx(key, ValueName(name), 0, type, data, size)
                   : RegSetValueExW(key, ValueName(name), 0, type, data, size);
}

LONG TRegAccessRoute::DeleteValue(HKEY key, const std::wstring& name) const
{
    return access_ ? access_->RegDeleteValue(key, ValueName(name)) : RegDeleteValueW(key, ValueName(name));
}

LONG TRegAccessRoute::DeleteKey(HKEY parent, const std::wstring& subKey, REGSAM view) const
{
    return access_ ? access_->RegDeleteKeyEx(parent, subKey.c_str(), view, 0)
                   : RegDeleteKeyExW(parent, subKey.c_str(), view, 0);
}

LONG TRegAccessRoute::SetKeySecurity(HKEY key, SECURITY_INFORMATION information,
                                     PSECURITY_DESCRIPTOR descriptor) const
{
    return access_ ? access_->RegSetKeySecurity(key, information, descriptor)
                   : RegSetKeySecurity(key, information, descriptor);
}

LONG TRegAccessRoute::CloseKey(HKEY key) const
{
    return access_ ? access_->RegCloseKey(key) : RegCloseKey(key);
}

}  // namespace tidyhive
