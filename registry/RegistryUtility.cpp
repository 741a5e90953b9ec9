#include "registry/RegistryUtility.h"

#include "clean/RestoreManager.h"
#include "registry/RegistryPaths.h"
#include "registry/Wow64.h"

namespace tidyhive {
namespace {

void TraceDelete(const wchar_t* step)
{
    DebugLog::Log(std::wstring(L"TRegistryUtility.DeleteKey") + step);
}

REGSAM WithView(REGSAM access, bool view64)
{
    return (access & ~kRegistryViewBits) | RegistryViewFlag(view64);
}

}  // namespace

TBaseRegistryUtility::TBaseRegistryUtility(const wchar_t* className,
                                           std::unique_ptr<TBackvaultRegistry> registry)
    : className_(className), registry_(std::move(registry))
{
}

TBaseRegistryUtility::~TBaseRegistryUtility() = default;

void TBaseRegistryUtility::CloseKey()
{
    if (!currentPath_.empty()) {
        registry_->CloseKey();
        currentPath_.clear();
    }
}

bool TBaseRegistryUtility::OpenKey(const std::wstring& path)
{
    return Logged(L"OpenKey", [&] {
        if (path.empty() || path == currentPath_) {
            return true;
        }
        CloseKey();
        // Also a key the registry object may hold without a path of ours: the key below
        // opens against the root only.
        registry_->CloseKey();
        registry_->SetRootKey(ExtractRootFromKey(path));
        if (!registry_->OpenKey(ExtractKeyWithotRoot(path), false)) {
            return false;
        }
        currentPath_ = path;
        return true;
    });
}

bool TBaseRegistryUtility::GetKeyNames(const std::wstring& path, TNameList& names)
{
    names.clear();
    if (!OpenKey(path)) {
        return false;
    }
    registry_->GetKeyNames(names);
    return true;
}

bool TBaseRegistryUtility::GetValueNames(const std::wstring& path, TNameList& names)
{
    names.clear();
    if (!OpenKey(path)) {
        return false;
    }
    registry_->GetValueNames(names);
    return true;
}

std::wstring TBaseRegistryUtility::ReadString(const std::wstring& path, const std::wstring& name)
{
    if (!OpenKey(path)) {
        return {};
    }
    return registry_->ReadStringIfString(name);
}

bool TBaseRegistryUtility::GetValueTexts(const std::wstring& path, TValueTextList& values)
{
    values.clear();
    if (!OpenKey(path)) {
        return false;
    }
    registry_->GetValueTexts(values);
    return true;
}

bool TBaseRegistryUtility::GetValueTextsSafe(const std::wstring& path, TValueTextList& values, bool& success)
{
    return SafeCall(success, false, [&] { return GetValueTexts(path, values); });
}

bool TBaseRegistryUtility::GetContentSafe(const std::wstring& path, TNameList& names, TValueTextList& values,
                                          bool& success)
{
    return SafeCall(success, false, [&] {
        names.clear();
        values.clear();
        if (!OpenKey(path)) {
            return false;
        }
        registry_->GetContent(names, values);
        return true;
    });
}

bool TBaseRegistryUtility::GetKeyNamesSafe(const std::wstring& path, TNameList& names, bool& success)
{
    return SafeCall(success, false, [&] { return GetKeyNames(path, names); });
}

bool TBaseRegistryUtility::GetValueNamesSafe(const std::wstring& path, TNameList& names, bool& success)
{
    return SafeCall(success, false, [&] { return GetValueNames(path, names); });
}

std::wstring TBaseRegistryUtility::ReadStringSafe(const std::wstring& path, const std::wstring& name,
                                                  bool& success)
{
    return SafeCall(success, std::wstring(), [&] { return ReadString(path, name); });
}

// The read route: a registry object without a backup library is the plain registry.
TStdRegistryUtility::TStdRegistryUtility() : TBaseRegistryUtility(L"TStdRegistryUtility", nullptr)
{
    RecreateRegistryAccess(WithView(KEY_READ, false));
}

void TStdRegistryUtility::RecreateRegistryAccess(REGSAM access)
{
    Logged(L"RecreateRegistryAccess", [&] {
        HKEY root = nullptr;
        std::wstring openPath;
        bool keyWasOpen = false;
        if (registry_) {
            root = registry_->RootKey();
            openPath = registry_->CurrentPath();
            keyWasOpen = registry_->CurrentKey() != nullptr;
        }
        registry_.reset();
        registry_ = std::make_unique<TBackvaultRegistry>(nullptr, access);
        if (root) {
            registry_->SetRootKey(root);
            if (keyWasOpen && !registry_->OpenKey(openPath, false)) {
                currentPath_.clear();  // not in the new view: the next call opens afresh
            }
        }
    });
}

void TStdRegistryUtility::Set64BitView(bool view64)
{
    if (view64 == view64_ || Wow64KeyAccessFlag() == 0) {
        return;
    }
    RecreateRegistryAccess(WithView(registry_->Access(), view64));
    view64_ = view64;
}

bool TStdRegistryUtility::KeyExists(const std::wstring& path)
{
    return Logged(L"KeyExists", [&] {
        CloseKey();
        registry_->SetRootKey(ExtractRootFromKey(path));
        const bool exists = registry_->OpenKey(ExtractKeyWithotRoot(path), false);
        registry_->CloseKey();
        return exists;
    });
}

TRegistryUtility::TRegistryUtility() : TRegistryUtility(TRestoreManager::Instance().Backup()) {}

TRegistryUtility::TRegistryUtility(IBackvault* backup)
    : TBaseRegistryUtility(L"TRegistryUtility",
                           std::make_unique<TBackvaultRegistry>(backup, WithView(KEY_ALL_ACCESS, false))),
      rights_(std::make_unique<TFilesAccessRights>(&registry_->Route()))
{
}

TRegistryUtility::~TRegistryUtility() = default;

void TRegistryUtility::Set64BitView(bool view64)
{
    if (view64 == view64_ || Wow64KeyAccessFlag() == 0) {
        return;
    }
    CloseKey();
    registry_->SetAccess(WithView(registry_->Access(), view64));
    view64_ = view64;
}

bool TRegistryUtility::KeyExists(const std::wstring& path)
{
    return Logged(L"KeyExists", [&] {
        CloseKey();
        registry_->SetRootKey(ExtractRootFromKey(path));
        return registry_->KeyExists(ExtractKeyWithotRoot(path));
    });
}

bool TRegistryUtility::KeyExistsSafe(const std::wstring& path, bool& success)
{
    return SafeCall(success, false, [&] { return KeyExists(path); });
}

bool TRegistryUtility::DeleteKey(const std::wstring& path)
{
    TraceDelete(L"");
    if (!KeyExists(path)) {
        return true;
    }
    CloseKey();
    TraceDelete(L".ExtractRootFromKey");
    const HKEY root = ExtractRootFromKey(path);
    TraceDelete(L".ExtractKeyWithotRoot");
    const std::wstring key = ExtractKeyWithotRoot(path);
    if (key.empty()) {
        DebugLog::Log(L"TRegistryUtility.DeleteKey - refused to delete a root: " + path);
        return false;
    }
    TraceDelete(L".RegKeyHasFullAccess");
    const REGSAM view = registry_->Access() & kRegistryViewBits;
    if (!rights_->RegKeyHasFullAccess(root, key, view)) {
        // The deletion is tried whatever the grant answers: it may still succeed.
        rights_->GrantRegKeyFullAccess(root, key, view);
    }
    TraceDelete(L".FRegistry.DeleteKey");
    registry_->SetRootKey(root);
    return registry_->DeleteKey(key);
}

bool TRegistryUtility::DeleteKeySafe(const std::wstring& path, bool& success)
{
    DebugLog::Log(L"TRegistryUtility.DeleteKeySafe");
    const bool result = SafeCall(success, false, [&] { return DeleteKey(path); });
    if (success) {
        DebugLog::Log(L"TRegistryUtility.DeleteKeySafe.End");
    }
    return result;
}

bool TRegistryUtility::DeleteValue(const std::wstring& path, const std::wstring& name)
{
    if (!ValueExists(path, name)) {
        return true;
    }
    const HKEY root = ExtractRootFromKey(path);
    const std::wstring key = ExtractKeyWithotRoot(path);
    const REGSAM view = registry_->Access() & kRegistryViewBits;
    if (!rights_->RegKeyHasFullAccess(root, key, view)) {
        rights_->GrantRegKeyFullAccess(root, key, view);
    }
    return OpenKey(path) && registry_->DeleteValue(name);
}

bool TRegistryUtility::KeyEmpty(const std::wstring& path)
{
    return Logged(L"KeyEmpty", [&] {
        if (!OpenKey(path)) {
            return false;
        }
        TNameList names;
        registry_->GetKeyNames(names);
        if (!names.empty()) {
            return false;
        }
        registry_->GetValueNames(names);
        return names.empty();
    });
}

bool TRegistryUtility::ValueExists(const std::wstring& path, const std::wstring& name)
{
    return Logged(L"ValueExists", [&] { return !OpenKey(path) || registry_->ValueExists(name); });
}

void TRegistryUtility::WriteString(const std::wstring& path, const std::wstring& name,
                                   const std::wstring& value)
{
    if (OpenKey(path)) {
        registry_->WriteString(name, value);
    }
}

TRegDataType TRegistryUtility::GetDataType(const std::wstring& name) const
{
    return registry_->GetDataType(name);
}

}  // namespace tidyhive
