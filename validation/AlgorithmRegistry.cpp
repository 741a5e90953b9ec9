#include "validation/AlgorithmRegistry.h"

#include "validation/RecordedAlgorithmRegistry.h"

#include "registry/LookupMemo.h"
#include "services/DebugLog.h"
#include "services/Text.h"

#include <utility>

namespace tidyhive {
namespace {

struct TRootName {
    const wchar_t* name;
    HKEY key;
};

const TRootName kRoots[] = {
    {L"HKEY_CLASSES_ROOT", HKEY_CLASSES_ROOT},
    {L"HKEY_CURRENT_USER", HKEY_CURRENT_USER},
    {L"HKEY_LOCAL_MACHINE", HKEY_LOCAL_MACHINE},
    {L"HKEY_USERS", HKEY_USERS},
    {L"HKEY_PERFORMANCE_DATA", HKEY_PERFORMANCE_DATA},
    {L"HKEY_CURRENT_CONFIG", HKEY_CURRENT_CONFIG},
    {L"HKEY_DYN_DATA", HKEY_DYN_DATA},
};

[[noreturn]] void Fail(const char* operation, const std::wstring& path, LONG status)
{
    throw EAlgorithmRegistryError(std::string(operation) + " " + WideToUtf8(path) + " failed: error " +
                                  std::to_string(status));
}

// Splits a full path into its root handle and the key below it (no leading backslash).
void SplitPath(const std::wstring& path, HKEY& root, std::wstring& subKey)
{
    for (const TRootName& candidate : kRoots) {
        const std::wstring_view name(candidate.name);
        if (StartsWithText(path, name) && (path.size() == name.size() || path[name.size()] == L'\\')) {
            root = candidate.key;
            subKey = path.size() > name.size() ? path.substr(name.size() + 1) : std::wstring();
            return;
        }
    }
    throw EAlgorithmRegistryError("unknown registry root in " + WideToUtf8(path));
}

// Opens the key; answers false when it is not there, throws on any other failure.
bool OpenKey(TKeyHandleCache& cache, const std::wstring& path, REGSAM access, TRegKey& key)
{
    HKEY root = nullptr;
    std::wstring subKey;
    SplitPath(path, root, subKey);
    HKEY opened = nullptr;
    const LONG status = cache.Open(root, subKey, access, opened);
    key.Attach(opened);
    if (status == ERROR_SUCCESS) {
        return true;
    }
    if (status == ERROR_FILE_NOT_FOUND || status == ERROR_PATH_NOT_FOUND) {
        return false;
    }
    Fail("RegOpenKeyEx", path, status);
}

template <class Body> auto Safely(bool& success, Body&& body) -> decltype(body())
{
    try {
        auto result = body();
        success = true;
        return result;
    } catch (const std::exception& error) {
        DebugLog::LogError(Utf8ToWide(error.what()));
    } catch (...) {
        DebugLog::LogError(L"unknown registry error");
    }
    success = false;
    return {};
}

// Opens the key and runs body on it, as a "safe" call: false when the key is not there.
template <class Body>
bool OnKeySafely(TKeyHandleCache& cache, const std::wstring& path, REGSAM access, bool& success, Body&& body)
{
    return Safely(success, [&] {
        TRegKey key;
        if (!OpenKey(cache, path, access, key)) {
            return false;
        }
        body(key.Get());
        return true;
    });
}

void ListNames(const std::wstring& path, HKEY key, bool subKeys, std::vector<std::wstring>& names)
{
    DWORD maxKeyName = 0;
    DWORD maxValueName = 0;
    const LONG info = RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, &maxKeyName, nullptr, nullptr,
                                       &maxValueName, nullptr, nullptr, nullptr);
    if (info != ERROR_SUCCESS) {
        Fail("RegQueryInfoKey", path, info);
    }
    std::vector<wchar_t> buffer((subKeys ? maxKeyName : maxValueName) + 2);
    for (DWORD index = 0;;) {
        DWORD length = static_cast<DWORD>(buffer.size());
        const LONG status =
            subKeys ? RegEnumKeyExW(key, index, buffer.data(), &length, nullptr, nullptr, nullptr, nullptr)
                    : RegEnumValueW(key, index, buffer.data(), &length, nullptr, nullptr, nullptr, nullptr);
        if (status == ERROR_NO_MORE_ITEMS) {
            return;
        }
        if (status == ERROR_MORE_DATA) {
            buffer.resize(buffer.size() * 2 + 256);  // grew since the query
            continue;
        }
        if (status != ERROR_SUCCESS) {
            Fail(subKeys ? "RegEnumKeyEx" : "RegEnumValue", path, status);
        }
        names.emplace_back(buffer.data(), length);
        ++index;
    }
}

}  // namespace

std::unique_ptr<TAlgorithmRegistry> CreateAlgorithmRegistry()
{
    return std::make_unique<TRecordedAlgorithmRegistry>();
}

bool OsHasTwoRegistryViews()
{
#ifdef _WIN64
    return true;
#else
    static const bool wow64 = [] {
        using IsWow64ProcessFn = BOOL(WINAPI*)(HANDLE, PBOOL);
        const auto isWow64Process = reinterpret_cast<IsWow64ProcessFn>(
            GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "IsWow64Process"));
        BOOL result = FALSE;
        return isWow64Process && isWow64Process(GetCurrentProcess(), &result) && result;
    }();
    return wow64;
#endif
}

void TWin32AlgorithmRegistry::Set64BitView(bool value)
{
    if (OsHasTwoRegistryViews()) {
        view64_ = value;
    }
}

bool TWin32AlgorithmRegistry::KeyExists(const std::wstring& path)
{
    return KeyExistsInView(path, ViewFlag());
}

bool TWin32AlgorithmRegistry::KeyExistsInEitherView(const std::wstring& path)
{
    // The 32-bit view first, as the registry utility probes.
    return KeyExistsInView(path, KEY_WOW64_32KEY) ||
           (OsHasTwoRegistryViews() && KeyExistsInView(path, KEY_WOW64_64KEY));
}

bool TWin32AlgorithmRegistry::KeyExistsInView(const std::wstring& path, REGSAM view)
{
    if (const std::optional<bool> known = TLookupMemoScope::KeyExists(view, path)) {
        return *known;
    }
    HKEY root = nullptr;
    std::wstring subKey;
    SplitPath(path, root, subKey);
    TRegKey key;
    HKEY opened = nullptr;
    const LONG status = cache_.Open(root, subKey, KEY_READ | view, opened);
    key.Attach(opened);
    if (status != ERROR_SUCCESS && status != ERROR_ACCESS_DENIED && status != ERROR_FILE_NOT_FOUND &&
        status != ERROR_PATH_NOT_FOUND) {
        Fail("RegOpenKeyEx", path, status);
    }
    // A key we may not read is there all the same.
    const bool exists = status == ERROR_SUCCESS || status == ERROR_ACCESS_DENIED;
    TLookupMemoScope::RememberKeyExists(view, path, exists);
    return exists;
}

bool TWin32AlgorithmRegistry::KeyExistsSafe(const std::wstring& path, bool& success)
{
    return Safely(success, [&] { return KeyExists(path); });
}

bool TWin32AlgorithmRegistry::GetKeyCountsSafe(const std::wstring& path, DWORD& subKeys, DWORD& values,
                                               bool& success)
{
    subKeys = values = 0;
    if (const auto known = TLookupMemoScope::KeyCounts(ViewFlag(), path)) {
        subKeys = known->subKeys;
        values = known->values;
        success = true;
        return true;
    }
    return OnKeySafely(cache_, path, KEY_READ | ViewFlag(), success, [&](HKEY key) {
        const LONG status = RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subKeys, nullptr, nullptr,
                                             &values, nullptr, nullptr, nullptr, nullptr);
        if (status != ERROR_SUCCESS) {
            Fail("RegQueryInfoKey", path, status);
        }
    });
}

bool TWin32AlgorithmRegistry::GetKeyNamesSafe(const std::wstring& path, std::vector<std::wstring>& names,
                                              bool& success)
{
    names.clear();
    return OnKeySafely(cache_, path, KEY_READ | ViewFlag(), success,
                       [&](HKEY key) { ListNames(path, key, true, names); });
}

bool TWin32AlgorithmRegistry::GetValueNamesSafe(const std::wstring& path, std::vector<std::wstring>& names,
                                                bool& success)
{
    names.clear();
    return OnKeySafely(cache_, path, KEY_READ | ViewFlag(), success,
                       [&](HKEY key) { ListNames(path, key, false, names); });
}

bool TWin32AlgorithmRegistry::GetValueTypeSafe(const std::wstring& path, const std::wstring& name,
                                               DWORD& type, bool& success)
{
    type = REG_NONE;
    return Safely(success, [&] {
        TRegKey key;
        if (!OpenKey(cache_, path, KEY_QUERY_VALUE | ViewFlag(), key)) {
            return false;
        }
        const LONG status = RegQueryValueExW(key.Get(), name.c_str(), nullptr, &type, nullptr, nullptr);
        if (status == ERROR_FILE_NOT_FOUND) {
            return false;
        }
        if (status != ERROR_SUCCESS) {
            Fail("RegQueryValueEx", path, status);
        }
        return true;
    });
}

std::wstring TWin32AlgorithmRegistry::ReadStringSafe(const std::wstring& path, const std::wstring& name,
                                                     bool& success)
{
    return Safely(success, [&]() -> std::wstring {
        TRegKey key;
        if (!OpenKey(cache_, path, KEY_QUERY_VALUE | ViewFlag(), key)) {
            return {};
        }
        std::vector<BYTE> data(256);
        for (;;) {
            DWORD type = REG_NONE;
            DWORD size = static_cast<DWORD>(data.size());
            const LONG status = RegQueryValueExW(key.Get(), name.c_str(), nullptr, &type, data.data(), &size);
            if (status == ERROR_MORE_DATA) {
                data.resize(size + sizeof(wchar_t));
                continue;
            }
            if (status == ERROR_FILE_NOT_FOUND) {
                return {};
            }
            if (status != ERROR_SUCCESS) {
                Fail("RegQueryValueEx", path, status);
            }
            if (type != REG_SZ && type != REG_EXPAND_SZ) {
                return {};
            }
            std::wstring text(reinterpret_cast<const wchar_t*>(data.data()), size / sizeof(wchar_t));
            const size_t end = text.find(L'\0');
            if (end != std::wstring::npos) {
                text.resize(end);
            }
            return text;
        }
    });
}

bool TWin32AlgorithmRegistry::DeleteKeySafe(const std::wstring& path, bool& success)
{
    return Safely(success, [&] {
        HKEY root = nullptr;
        std::wstring subKey;
        SplitPath(path, root, subKey);
        if (subKey.empty()) {
            throw EAlgorithmRegistryError("refusing to delete the root " + WideToUtf8(path));
        }
        if (!KeyExists(path)) {
            return true;
        }
        {
            TRegKey key;
            const LONG opened =
                key.Open(root, subKey.c_str(),
                         DELETE | KEY_ENUMERATE_SUB_KEYS | KEY_QUERY_VALUE | KEY_SET_VALUE | ViewFlag());
            if (opened != ERROR_SUCCESS) {
                Fail("RegOpenKeyEx", path, opened);
            }
            const LONG cleared = RegDeleteTreeW(key.Get(), nullptr);
            if (cleared != ERROR_SUCCESS) {
                Fail("RegDeleteTree", path, cleared);
            }
        }
        const LONG status = RegDeleteKeyExW(root, subKey.c_str(), ViewFlag(), 0);
        if (status != ERROR_SUCCESS) {
            Fail("RegDeleteKeyEx", path, status);
        }
        ++changes_;
        return true;
    });
}

bool TWin32AlgorithmRegistry::DeleteValue(const std::wstring& path, const std::wstring& name)
{
    TRegKey key;
    if (!OpenKey(cache_, path, KEY_SET_VALUE | KEY_QUERY_VALUE | ViewFlag(), key)) {
        return true;
    }
    const LONG status = RegDeleteValueW(key.Get(), name.c_str());
    if (status == ERROR_FILE_NOT_FOUND) {
        return true;
    }
    if (status != ERROR_SUCCESS) {
        Fail("RegDeleteValue", path, status);
    }
    ++changes_;
    return true;
}

bool TWin32AlgorithmRegistry::ValueExists(const std::wstring& path, const std::wstring& name)
{
    TRegKey key;
    if (!OpenKey(cache_, path, KEY_QUERY_VALUE | ViewFlag(), key)) {
        return false;
    }
    const LONG status = RegQueryValueExW(key.Get(), name.c_str(), nullptr, nullptr, nullptr, nullptr);
    if (status == ERROR_FILE_NOT_FOUND) {
        return false;
    }
    if (status != ERROR_SUCCESS) {
        Fail("RegQueryValueEx", path, status);
    }
    return true;
}

void TWin32AlgorithmRegistry::WriteString(const std::wstring& path, const std::wstring& name,
                                          const std::wstring& text)
{
    TRegKey key;
    if (!OpenKey(cache_, path, KEY_SET_VALUE | ViewFlag(), key)) {
        return;
    }
    const LONG status =
        RegSetValueExW(key.Get(), name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                       static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
    if (status != ERROR_SUCCESS) {
        Fail("RegSetValueEx", path, status);
    }
    ++changes_;
}

}  // namespace tidyhive
