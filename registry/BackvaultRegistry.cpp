#include "registry/BackvaultRegistry.h"

#include "registry/RegistryException.h"
#include "registry/Wow64.h"
#include "services/DebugLog.h"
#include "services/Text.h"

#include <algorithm>

namespace tidyhive {
namespace {

// Longest names the registry allows, in characters with the terminating zero.
constexpr DWORD kMaxKeyNameChars = 256;
constexpr DWORD kMaxValueNameChars = 16384;

LPCWSTR ValueName(const std::wstring& name)
{
    return name.empty() ? nullptr : name.c_str();
}

// A name key-relative and without its leading backslash; relative tells which it was.
std::wstring StripRoot(const std::wstring& key, bool& relative)
{
    relative = key.empty() || key.front() != L'\\';
    return relative ? key : key.substr(1);
}

void Trace(const wchar_t* step)
{
    DebugLog::Log(std::wstring(L"TBackvaultRegistry.DeleteKey.") + step);
}

// One name at an index; grows the buffer once when the key changed since it was measured.
template <class EnumFn> LONG EnumName(DWORD longest, DWORD maxChars, std::wstring& name, EnumFn enumerate)
{
    DWORD capacity = std::max<DWORD>(longest + 1, 2);
    for (int attempt = 0; attempt < 2; ++attempt) {
        name.assign(capacity, L'\0');
        DWORD length = capacity;
        const LONG status = enumerate(name.data(), &length);
        if (status == ERROR_SUCCESS) {
            name.resize(std::min(length, capacity));
            return status;
        }
        if (status != ERROR_MORE_DATA) {
            name.clear();
            return status;
        }
        capacity = maxChars;
    }
    name.clear();
    return ERROR_MORE_DATA;
}

LONG EnumKeyName(HKEY key, DWORD index, DWORD longest, std::wstring& name)
{
    return EnumName(longest, kMaxKeyNameChars, name, [&](wchar_t* buffer, DWORD* length) {
        return RegEnumKeyExW(key, index, buffer, length, nullptr, nullptr, nullptr, nullptr);
    });
}

LONG EnumValueName(HKEY key, DWORD index, DWORD longest, std::wstring& name)
{
    return EnumName(longest, kMaxValueNameChars, name, [&](wchar_t* buffer, DWORD* length) {
        return RegEnumValueW(key, index, buffer, length, nullptr, nullptr, nullptr, nullptr);
    });
}

}  // namespace

TRegDataType DataTypeFromRegType(DWORD type)
{
    switch (type) {
    case REG_SZ:
        return TRegDataType::rdString;
    case REG_MULTI_SZ:
        return TRegDataType::rdMultiString;
    case REG_EXPAND_SZ:
        return TRegDataType::rdExpandString;
    case REG_DWORD:
        return TRegDataType::rdInteger;
    case REG_BINARY:
        return TRegDataType::rdBinary;
    default:
        return TRegDataType::rdUnknown;
    }
}

DWORD RegTypeFromDataType(TRegDataType type)
{
    switch (type) {
    case TRegDataType::rdString:
        return REG_SZ;
    case TRegDataType::rdExpandString:
        return REG_EXPAND_SZ;
    case TRegDataType::rdInteger:
        return REG_DWORD;
    case TRegDataType::rdBinary:
        return REG_BINARY;
    default:
        return REG_NONE;
    }
}

bool QueryKeyInfo(HKEY key, TRegKeyInfo& info)
{
    info = {};
    if (!key) {
        return false;
    }
    return RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &info.numSubKeys, &info.maxSubKeyLen, nullptr,
                            &info.numValues, &info.maxValueLen, &info.maxDataLen, nullptr,
                            &info.fileTime) == ERROR_SUCCESS;
}

void EnumKeyNames(HKEY key, const TRegKeyInfo& info, TNameList& names)
{
    std::wstring name;
    for (DWORD index = 0; index < info.numSubKeys; ++index) {
        if (EnumKeyName(key, index, info.maxSubKeyLen, name) == ERROR_SUCCESS) {
            names.push_back(name);
        }
    }
}

void EnumValueNames(HKEY key, const TRegKeyInfo& info, TNameList& names)
{
    std::wstring name;
    for (DWORD index = 0; index < info.numValues; ++index) {
        if (EnumValueName(key, index, info.maxValueLen, name) == ERROR_SUCCESS) {
            names.push_back(name);
        }
    }
}

TBackvaultRegistry::TBackvaultRegistry(IBackvault* backup, REGSAM access)
    : route_([backup] {
          // The library hands out a reference of ours; the route keeps its own.
          const auto access = TComPtr<IRegAccess>::Adopt(backup ? backup->GetRegAccess() : nullptr);
          return TRegAccessRoute(access.Get());
      }()),
      access_(access)
{
}

TBackvaultRegistry::~TBackvaultRegistry()
{
    CloseKey();
}

void TBackvaultRegistry::SetRootKey(HKEY root)
{
    if (root != rootKey_) {
        rootKey_ = root;
        CloseKey();
    }
}

void TBackvaultRegistry::CloseKey()
{
    if (currentKey_) {
        currentKey_.Close();
        currentPath_.clear();
    }
}

HKEY TBackvaultRegistry::GetBaseKey(bool relative) const
{
    return currentKey_ && relative ? currentKey_.Get() : rootKey_;
}

TRoutedKey TBackvaultRegistry::GetKey(const std::wstring& key) const
{
    bool relative = true;
    const std::wstring name = StripRoot(key, relative);
    TRoutedKey result;
    result.Open(route_, GetBaseKey(relative), name, access_);
    return result;
}

bool TBackvaultRegistry::OpenKey(const std::wstring& key, bool canCreate)
{
    bool relative = true;
    const std::wstring name = StripRoot(key, relative);
    HKEY opened = nullptr;
    const HKEY base = GetBaseKey(relative);
    LONG status = ERROR_SUCCESS;
    if (canCreate && !name.empty()) {
        status = route_.CreateKey(base, name, access_, opened);
    } else if (!route_.Recorded() && base == rootKey_) {
        status = readCache_.Open(base, name, access_, opened);
    } else {
        status = route_.OpenKey(base, name, access_, opened);
    }
    if (status != ERROR_SUCCESS) {
        return false;
    }
    TRoutedKey newKey(route_, opened);
    std::wstring path = name;
    if (relative && currentKey_) {
        path = currentPath_;
        if (!path.empty() && path.back() != L'\\') {
            path += L'\\';
        }
        path += name;
    }
    CloseKey();
    currentKey_ = std::move(newKey);
    currentPath_ = std::move(path);
    return true;
}

bool TBackvaultRegistry::KeyExists(const std::wstring& key)
{
    struct TAccessRestore {
        TBackvaultRegistry& self;
        REGSAM saved;
        ~TAccessRestore() { self.access_ = saved; }
    } restore{*this, access_};
    for (REGSAM probe : {kExistenceProbe32, kExistenceProbe64}) {
        access_ = probe;
        if (GetKey(key)) {
            return true;
        }
    }
    return false;
}

bool TBackvaultRegistry::DeleteKey(const std::wstring& key)
{
    bool relative = true;
    const std::wstring name = StripRoot(key, relative);
    if (name.empty()) {
        // Deleting "" would empty the base key (a whole root, with no key open) and then fail.
        DebugLog::Log(L"TBackvaultRegistry.DeleteKey - refused to delete the base key itself");
        return false;
    }
    return DeleteTree(GetBaseKey(relative), name);
}

bool TBackvaultRegistry::DeleteTree(HKEY parent, const std::wstring& key)
{
    Trace(L"Start");
    bool valuesDeleted = true;
    {
        TRoutedKey deleting;
        deleting.Open(route_, parent, key, access_);
        Trace(L"CurrentKey");
        Trace(L"ValuesDeleted");
        if (deleting) {
            Trace(L"SetCurrentKey");
            TRegKeyInfo info;
            if (QueryKeyInfo(deleting.Get(), info)) {
                std::wstring subKey;
                // From the highest index down, so that each deletion leaves the lower indexes as they were.
                for (DWORD index = info.numSubKeys; index-- > 0;) {
                    if (EnumKeyName(deleting.Get(), index, info.maxSubKeyLen, subKey) == ERROR_SUCCESS) {
                        DeleteTree(deleting.Get(), subKey);
                    }
                }
            }
            Trace(L"Info.NumValues");
            if (info.numValues > 0) {
                TNameList values;
                TRegKeyInfo current;
                if (QueryKeyInfo(deleting.Get(), current)) {
                    EnumValueNames(deleting.Get(), current, values);
                }
                Trace(L"Values.Count");
                for (const std::wstring& value : values) {
                    if (route_.DeleteValue(deleting.Get(), value) != ERROR_SUCCESS) {
                        valuesDeleted = false;
                        break;
                    }
                }
            }
        }
    }
    if (!valuesDeleted) {
        return false;
    }
    Trace(L"GetBaseKey");
    Trace(L"BackvaultRegDeleteKeyEx");
    return route_.DeleteKey(parent, key, access_ & kRegistryViewBits) == ERROR_SUCCESS;
}

bool TBackvaultRegistry::DeleteValue(const std::wstring& name)
{
    return currentKey_ && route_.DeleteValue(currentKey_.Get(), name) == ERROR_SUCCESS;
}

bool TBackvaultRegistry::GetKeyInfo(TRegKeyInfo& info) const
{
    return QueryKeyInfo(currentKey_.Get(), info);
}

void TBackvaultRegistry::GetKeyNames(TNameList& names) const
{
    names.clear();
    TRegKeyInfo info;
    if (GetKeyInfo(info)) {
        EnumKeyNames(currentKey_.Get(), info, names);
    }
}

void TBackvaultRegistry::GetValueNames(TNameList& names) const
{
    names.clear();
    TRegKeyInfo info;
    if (GetKeyInfo(info)) {
        EnumValueNames(currentKey_.Get(), info, names);
    }
}

void TBackvaultRegistry::GetValueTexts(TValueTextList& values) const
{
    values.clear();
    TRegKeyInfo info;
    if (GetKeyInfo(info)) {
        ReadValueTexts(info, values);
    }
}

void TBackvaultRegistry::GetContent(TNameList& names, TValueTextList& values) const
{
    names.clear();
    values.clear();
    TRegKeyInfo info;
    if (GetKeyInfo(info)) {
        EnumKeyNames(currentKey_.Get(), info, names);
        ReadValueTexts(info, values);
    }
}

void TBackvaultRegistry::ReadValueTexts(const TRegKeyInfo& info, TValueTextList& values) const
{
    std::wstring name;
    std::vector<BYTE> data;
    for (DWORD index = 0; index < info.numValues; ++index) {
        // Measured sizes first; a value that grew since is read again at its new size.
        DWORD nameCapacity = std::max<DWORD>(info.maxValueLen + 1, 2);
        DWORD dataCapacity = info.maxDataLen;
        LONG status = ERROR_MORE_DATA;
        DWORD type = REG_NONE;
        DWORD nameLength = 0;
        DWORD dataLength = 0;
        for (int attempt = 0; attempt < 3 && status == ERROR_MORE_DATA; ++attempt) {
            name.assign(nameCapacity, L'\0');
            data.assign(dataCapacity + sizeof(wchar_t), 0);
            nameLength = nameCapacity;
            dataLength = dataCapacity;
            status = RegEnumValueW(currentKey_.Get(), index, name.data(), &nameLength, nullptr, &type,
                                   data.data(), &dataLength);
            if (status == ERROR_MORE_DATA) {
                nameCapacity = kMaxValueNameChars;
                dataCapacity = std::max(dataLength, dataCapacity * 2 + 256);
            }
        }
        if (status != ERROR_SUCCESS) {
            continue;
        }
        TValueText value;
        value.name.assign(name.data(), std::min(nameLength, nameCapacity));
        const TRegDataType kind = DataTypeFromRegType(type);
        if (kind == TRegDataType::rdString || kind == TRegDataType::rdExpandString) {
            value.text.assign(reinterpret_cast<const wchar_t*>(data.data()),
                              std::min<size_t>(dataLength, dataCapacity) / sizeof(wchar_t));
            const size_t zero = value.text.find(L'\0');
            if (zero != std::wstring::npos) {
                value.text.resize(zero);
            }
        }
        values.push_back(std::move(value));
    }
}

bool TBackvaultRegistry::GetDataInfo(const std::wstring& name, TRegDataInfo& info) const
{
    info = {};
    if (!currentKey_) {
        return false;
    }
    DWORD type = REG_NONE;
    DWORD size = 0;
    if (RegQueryValueExW(currentKey_.Get(), ValueName(name), nullptr, &type, nullptr, &size) !=
        ERROR_SUCCESS) {
        return false;
    }
    info.regData = DataTypeFromRegType(type);
    info.dataSize = size;
    return true;
}

long long TBackvaultRegistry::GetDataSize(const std::wstring& name) const
{
    TRegDataInfo info;
    return GetDataInfo(name, info) ? static_cast<long long>(info.dataSize) : -1;
}

TRegDataType TBackvaultRegistry::GetDataType(const std::wstring& name) const
{
    TRegDataInfo info;
    return GetDataInfo(name, info) ? info.regData : TRegDataType::rdUnknown;
}

bool TBackvaultRegistry::ValueExists(const std::wstring& name) const
{
    TRegDataInfo info;
    return GetDataInfo(name, info);
}

std::wstring TBackvaultRegistry::ReadString(const std::wstring& name) const
{
    const long long size = GetDataSize(name);
    if (size <= 0) {
        return {};
    }
    std::vector<BYTE> data(static_cast<size_t>(size) + sizeof(wchar_t));
    DWORD type = REG_NONE;
    DWORD length = static_cast<DWORD>(size);
    LONG status = RegQueryValueExW(currentKey_.Get(), ValueName(name), nullptr, &type, data.data(), &length);
    if (status == ERROR_MORE_DATA) {
        // The value grew since it was measured: read it once more at its new size.
        data.assign(length + sizeof(wchar_t), 0);
        status = RegQueryValueExW(currentKey_.Get(), ValueName(name), nullptr, &type, data.data(), &length);
    }
    if (status != ERROR_SUCCESS) {
        throw ERegistryException(FormatText(L"Failed to get data for '%s'", name.c_str()));
    }
    const TRegDataType kind = DataTypeFromRegType(type);
    if (kind != TRegDataType::rdString && kind != TRegDataType::rdExpandString) {
        throw ERegistryException(FormatText(L"Invalid data type for '%s'", name.c_str()));
    }
    std::wstring text(reinterpret_cast<const wchar_t*>(data.data()), length / sizeof(wchar_t));
    const size_t zero = text.find(L'\0');
    if (zero != std::wstring::npos) {
        text.resize(zero);
    }
    return text;
}

std::wstring TBackvaultRegistry::ReadStringIfString(const std::wstring& name) const
{
    if (!currentKey_) {
        return {};
    }
    // Most texts fit; a longer one is read again at the size the registry names.
    std::vector<BYTE> data(512 + sizeof(wchar_t));
    DWORD type = REG_NONE;
    DWORD length = 512;
    LONG status = RegQueryValueExW(currentKey_.Get(), ValueName(name), nullptr, &type, data.data(), &length);
    for (int attempt = 0; status == ERROR_MORE_DATA; ++attempt) {
        if (attempt == 2) {
            throw ERegistryException(FormatText(L"Failed to get data for '%s'", name.c_str()));
        }
        data.assign(length + sizeof(wchar_t), 0);
        status = RegQueryValueExW(currentKey_.Get(), ValueName(name), nullptr, &type, data.data(), &length);
    }
    const TRegDataType kind = DataTypeFromRegType(type);
    if (status != ERROR_SUCCESS || (kind != TRegDataType::rdString && kind != TRegDataType::rdExpandString)) {
        return {};
    }
    std::wstring text(reinterpret_cast<const wchar_t*>(data.data()), length / sizeof(wchar_t));
    const size_t zero = text.find(L'\0');
    if (zero != std::wstring::npos) {
        text.resize(zero);
    }
    return text;
}

void TBackvaultRegistry::WriteString(const std::wstring& name, const std::wstring& value)
{
    const DWORD size = static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t));
    const LONG status =
        currentKey_ ? route_.SetValue(currentKey_.Get(), name, RegTypeFromDataType(TRegDataType::rdString),
                                      reinterpret_cast<const BYTE*>(value.c_str()), size)
                    : ERROR_INVALID_HANDLE;
    if (status != ERROR_SUCCESS) {
        throw ERegistryException(FormatText(L"Failed to set data for '%s'", name.c_str()));
    }
}

}  // namespace tidyhive
