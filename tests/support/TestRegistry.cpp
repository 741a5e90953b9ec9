#include "tests/support/TestRegistry.h"

#include <objbase.h>
#include <shellapi.h>
#include <shlobj.h>

#include "services/Text.h"

#include <stdexcept>
#include <string>

namespace tidyhive::testing {

std::wstring NewGuidText()
{
    GUID guid;
    CoCreateGuid(&guid);
    wchar_t text[64] = {};
    StringFromGUID2(guid, text, 64);
    return text;
}

TEnsuredKey::TEnsuredKey(HKEY root, std::wstring path, REGSAM view)
    : root_(root), path_(std::move(path)), view_(view)
{
    HKEY key = nullptr;
    DWORD disposition = 0;
    const LONG status = RegCreateKeyExW(root_, path_.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | view_, nullptr,
                                        &key, &disposition);
    if (status != ERROR_SUCCESS) {
        throw std::runtime_error("cannot open or create " + WideToUtf8(path_) + ": error " +
                                 std::to_string(status));
    }
    created_ = disposition == REG_CREATED_NEW_KEY;
    RegCloseKey(key);
}

TEnsuredKey::~TEnsuredKey()
{
    HKEY key = nullptr;
    if (!created_ || RegOpenKeyExW(root_, path_.c_str(), 0, KEY_READ | view_, &key) != ERROR_SUCCESS) {
        return;
    }
    DWORD subkeys = 1;
    DWORD values = 1;
    RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values, nullptr, nullptr,
                     nullptr, nullptr);
    RegCloseKey(key);
    if (subkeys == 0 && values == 0) {
        RegDeleteKeyExW(root_, path_.c_str(), view_, 0);
    }
}

std::wstring TEnsuredKey::FullPath() const
{
    return RootName(root_) + L"\\" + path_;
}

std::wstring RootName(HKEY root)
{
    if (root == HKEY_CLASSES_ROOT)
        return L"HKEY_CLASSES_ROOT";
    if (root == HKEY_CURRENT_USER)
        return L"HKEY_CURRENT_USER";
    if (root == HKEY_LOCAL_MACHINE)
        return L"HKEY_LOCAL_MACHINE";
    if (root == HKEY_USERS)
        return L"HKEY_USERS";
    if (root == HKEY_CURRENT_CONFIG)
        return L"HKEY_CURRENT_CONFIG";
    return L"";
}

TTestKey::TTestKey(const std::wstring& prefix, bool view64, HKEY root, const std::wstring& parent)
    : root_(root), view_(view64 ? KEY_WOW64_64KEY : KEY_WOW64_32KEY),
      subPath_(parent + L"\\" + prefix + L"-" + NewGuidText())
{
    HKEY key = nullptr;
    const LONG status = RegCreateKeyExW(root_, subPath_.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | view_,
                                        nullptr, &key, nullptr);
    if (status != ERROR_SUCCESS) {
        throw std::runtime_error("cannot create the test key: error " + std::to_string(status));
    }
    RegCloseKey(key);
}

TTestKey::~TTestKey()
{
    const size_t slash = subPath_.find_last_of(L'\\');
    HKEY parent = nullptr;
    if (RegOpenKeyExW(root_, subPath_.substr(0, slash).c_str(), 0, KEY_ALL_ACCESS | view_, &parent) ==
        ERROR_SUCCESS) {
        RegDeleteTreeW(parent, subPath_.substr(slash + 1).c_str());
        RegDeleteKeyExW(parent, subPath_.substr(slash + 1).c_str(), view_, 0);
        RegCloseKey(parent);
    }
}

std::wstring TTestKey::FullPath() const
{
    return RootName(root_) + L"\\" + subPath_;
}

std::wstring TTestKey::Join(const std::wstring& relative) const
{
    return relative.empty() ? subPath_ : subPath_ + L"\\" + relative;
}

std::wstring TTestKey::CreateSubKey(const std::wstring& relative) const
{
    HKEY key = nullptr;
    const LONG status = RegCreateKeyExW(root_, Join(relative).c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | view_,
                                        nullptr, &key, nullptr);
    if (status != ERROR_SUCCESS) {
        throw std::runtime_error("cannot create a test subkey: error " + std::to_string(status));
    }
    RegCloseKey(key);
    return RootName(root_) + L"\\" + Join(relative);
}

void TTestKey::SetString(const std::wstring& relative, const std::wstring& name, const std::wstring& value,
                         DWORD type) const
{
    CreateSubKey(relative);
    HKEY key = nullptr;
    RegOpenKeyExW(root_, Join(relative).c_str(), 0, KEY_ALL_ACCESS | view_, &key);
    RegSetValueExW(key, name.empty() ? nullptr : name.c_str(), 0, type,
                   reinterpret_cast<const BYTE*>(value.c_str()),
                   static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
}

void TTestKey::SetDword(const std::wstring& relative, const std::wstring& name, DWORD value) const
{
    CreateSubKey(relative);
    HKEY key = nullptr;
    RegOpenKeyExW(root_, Join(relative).c_str(), 0, KEY_ALL_ACCESS | view_, &key);
    RegSetValueExW(key, name.empty() ? nullptr : name.c_str(), 0, REG_DWORD,
                   reinterpret_cast<const BYTE*>(&value), sizeof(value));
    RegCloseKey(key);
}

bool TTestKey::Exists(const std::wstring& relative) const
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(root_, Join(relative).c_str(), 0, KEY_READ | view_, &key) != ERROR_SUCCESS) {
        return false;
    }
    RegCloseKey(key);
    return true;
}

bool TTestKey::ValueExists(const std::wstring& relative, const std::wstring& name) const
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(root_, Join(relative).c_str(), 0, KEY_READ | view_, &key) != ERROR_SUCCESS) {
        return false;
    }
    const LONG status =
        RegQueryValueExW(key, name.empty() ? nullptr : name.c_str(), nullptr, nullptr, nullptr, nullptr);
    RegCloseKey(key);
    return status == ERROR_SUCCESS;
}

TTestFolder::TTestFolder()
{
    wchar_t temp[MAX_PATH + 1] = {};
    GetTempPathW(MAX_PATH + 1, temp);
    path_ = std::wstring(temp) + L"tidyhive-test-" + NewGuidText() + L"\\";
    if (!CreateDirectoryW(path_.c_str(), nullptr)) {
        throw std::runtime_error("cannot create the test folder");
    }
}

TTestFolder::~TTestFolder()
{
    // SHFileOperation wants a double-null-terminated list.
    std::wstring from = path_.substr(0, path_.size() - 1);
    from.push_back(L'\0');
    SHFILEOPSTRUCTW operation = {};
    operation.wFunc = FO_DELETE;
    operation.pFrom = from.c_str();
    operation.fFlags = FOF_NO_UI;
    SHFileOperationW(&operation);
}

std::wstring TTestFolder::AddFile(const std::wstring& relative, const std::string& content) const
{
    const std::wstring path = path_ + relative;
    const size_t slash = path.find_last_of(L'\\');
    SHCreateDirectoryExW(nullptr, path.substr(0, slash).c_str(), nullptr);
    HANDLE file =
        CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        throw std::runtime_error("cannot create a test file");
    }
    DWORD written = 0;
    WriteFile(file, content.data(), static_cast<DWORD>(content.size()), &written, nullptr);
    CloseHandle(file);
    return path;
}

std::string ReadWholeFile(const std::wstring& path)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return {};
    }
    std::string content;
    char buffer[4096];
    DWORD read = 0;
    while (ReadFile(file, buffer, sizeof(buffer), &read, nullptr) && read > 0) {
        content.append(buffer, read);
    }
    CloseHandle(file);
    return content;
}

}  // namespace tidyhive::testing
