#include "engine/RegistryCleanerOptions.h"

#include "engine/BoundaryGuard.h"
#include "services/HostLibraries.h"

#include <algorithm>
#include <mutex>

namespace tidyhive {
namespace {

struct TOptionDefault {
    const wchar_t *name;
    bool value;
};

// In the order of loading and of the option list.
constexpr TOptionDefault kDefaults[] = {
    {kOptionUseIgnoreList, true},
    {kOptionScanCDDriveReferences, false},
    {kOptionScanRemovableMediaReferences, false},
    {kOptionScanUserMenuShortcuts, true},
    {kOptionScanCommonMenuShortcuts, true},
    {kOptionScanRecentFolderShortcuts, true},
    {kOptionScanOfficeRecentFolderShortcuts, true},
    {kOptionScanDesktopShortcuts, true},
    {kOptionScanCommonDesktopShortcuts, true},
    {kOptionScanQuickLaunchShortcuts, true},
};

bool SameValue(const VARIANT &a, const VARIANT &b)
{
    if (a.vt == VT_BSTR && b.vt == VT_BSTR) {
        return SysStringLen(a.bstrVal) == SysStringLen(b.bstrVal) &&
               std::equal(a.bstrVal, a.bstrVal + SysStringLen(a.bstrVal), b.bstrVal);
    }
    if (a.vt == b.vt && (a.vt == VT_EMPTY || a.vt == VT_NULL)) {
        return true;
    }
    return VarCmp(const_cast<VARIANT *>(&a), const_cast<VARIANT *>(&b), LOCALE_USER_DEFAULT, 0) == VARCMP_EQ;
}

std::wstring Text(LPCWSTR text)
{
    return text ? std::wstring(text) : std::wstring();
}

} // namespace

TOptionKind OptionKindOf(const VARIANT &value)
{
    switch (value.vt) {
    case VT_BOOL:
        return TOptionKind::Boolean;
    case VT_I1:
    case VT_I2:
    case VT_I4:
    case VT_I8:
    case VT_UI1:
    case VT_UI2:
    case VT_UI4:
        return TOptionKind::Integer;
    case VT_BSTR:
        return TOptionKind::Text;
    default:
        return TOptionKind::Other;
    }
}

// TRegistryCleanerOption

TRegistryCleanerOption::TRegistryCleanerOption(std::wstring name, TVariant value,
                                               TRegistryCleanerOptions &owner)
    : name_(std::move(name)), value_(std::move(value)), owner_(owner)
{
}

void TRegistryCleanerOption::SetValue(const TVariant &value)
{
    if (SameValue(value_.Get(), value.Get())) {
        return;
    }
    value_ = value;
    owner_.Write(name_, value_);
    owner_.NotifyListeners(name_);
}

// TRegistryCleanerOptions

TRegistryCleanerOptions &TRegistryCleanerOptions::Instance()
{
    static std::mutex creation;
    static TRegistryCleanerOptions *instance = nullptr;
    std::lock_guard guard(creation);
    if (!instance) {
        instance = new TRegistryCleanerOptions(GetOptions());
    }
    return *instance;
}

TRegistryCleanerOptions::TRegistryCleanerOptions(ISettingsStore *store) : store_(store)
{
    TLockGuard guard(lock_);
    for (const TOptionDefault &option : kDefaults) {
        options_.push_back(
            std::make_unique<TRegistryCleanerOption>(option.name, TVariant::Boolean(option.value), *this));
        store_->RegisterBoolean(option.name, option.value ? TRUE : FALSE);
    }
    Load();
}

void TRegistryCleanerOptions::Load()
{
    store_->Reload();
    for (const auto &option : options_) {
        const wchar_t *name = option->Name().c_str();
        if (!store_->ValueExists(name)) {
            continue;
        }
        // The kind of the value held decides how the stored one is read.
        switch (OptionKindOf(option->Value().Get())) {
        case TOptionKind::Boolean:
            option->SetValue(TVariant::Boolean(store_->ReadBoolean(name) != FALSE));
            break;
        case TOptionKind::Integer:
            option->SetValue(TVariant::Integer(store_->ReadInteger(name)));
            break;
        case TOptionKind::Text: {
            TBstr text;
            store_->ReadText(name, text.Out());
            option->SetValue(TVariant::Text(text.Str()));
            break;
        }
        case TOptionKind::Other:
            break;
        }
    }
    store_->Flush();
}

void TRegistryCleanerOptions::Write(const std::wstring &name, const TVariant &value)
{
    switch (OptionKindOf(value.Get())) {
    case TOptionKind::Boolean:
        store_->WriteBoolean(name.c_str(), value.Get().boolVal != VARIANT_FALSE ? TRUE : FALSE);
        break;
    case TOptionKind::Integer: {
        // The store keeps 32-bit integers; a value beyond them stays in memory only.
        VARIANT number;
        VariantInit(&number);
        if (SUCCEEDED(VariantChangeType(&number, const_cast<VARIANT *>(&value.Get()), 0, VT_I4))) {
            store_->WriteInteger(name.c_str(), number.lVal);
        }
        break;
    }
    case TOptionKind::Text:
        store_->WriteText(name.c_str(), value.Get().bstrVal ? value.Get().bstrVal : L"");
        break;
    case TOptionKind::Other:
        break;
    }
}

void TRegistryCleanerOptions::NotifyListeners(const std::wstring &name)
{
    // Over a copy, since a listener may add or remove listeners, itself included.
    const std::vector<IFileNameValidator *> snapshot = listeners_;
    for (IFileNameValidator *listener : snapshot) {
        if (std::find(listeners_.begin(), listeners_.end(), listener) == listeners_.end()) {
            continue;
        }
        GuardedVoid(L"RegistryCleanerOptions - OptionsChanged",
                    [&] { listener->OptionsChanged(name.c_str()); });
    }
}

TRegistryCleanerOption *TRegistryCleanerOptions::Find(std::wstring_view name) const
{
    for (const auto &option : options_) {
        if (option->Name() == name) {
            return option.get();
        }
    }
    return nullptr;
}

void STDMETHODCALLTYPE TRegistryCleanerOptions::GetOption(LPCWSTR name, VARIANT *value)
{
    if (!value) {
        return;
    }
    VariantInit(value);
    GuardedVoid(L"RegistryCleanerOptions - GetOption", [&] {
        TLockGuard guard(lock_);
        if (TRegistryCleanerOption *option = Find(Text(name))) {
            option->Value().CopyTo(value);
        } else {
            value->vt = VT_NULL;
        }
    });
}

void STDMETHODCALLTYPE TRegistryCleanerOptions::SetOption(LPCWSTR name, const VARIANT *value)
{
    GuardedVoid(L"RegistryCleanerOptions - SetOption", [&] {
        if (!value) {
            return;
        }
        TLockGuard guard(lock_);
        TRegistryCleanerOption *option = Find(Text(name));
        TVariant copy;
        if (!option || FAILED(copy.Assign(*value))) {
            return;
        }
        option->SetValue(copy);
        store_->Flush();
    });
}

void TRegistryCleanerOptions::AddListener(IFileNameValidator *listener)
{
    TLockGuard guard(lock_);
    if (listener && std::find(listeners_.begin(), listeners_.end(), listener) == listeners_.end()) {
        listeners_.push_back(listener);
    }
}

void TRegistryCleanerOptions::RemoveListener(IFileNameValidator *listener)
{
    TLockGuard guard(lock_);
    std::erase(listeners_, listener);
}

bool TRegistryCleanerOptions::BooleanOption(std::wstring_view name)
{
    const TVariant value = Option(name);
    if (value.Type() == VT_BOOL) {
        return value.Get().boolVal != VARIANT_FALSE;
    }
    VARIANT converted;
    VariantInit(&converted);
    if (FAILED(VariantChangeType(&converted, const_cast<VARIANT *>(&value.Get()), 0, VT_BOOL))) {
        return false;
    }
    return converted.boolVal != VARIANT_FALSE;
}

TVariant TRegistryCleanerOptions::Option(std::wstring_view name)
{
    TLockGuard guard(lock_);
    if (TRegistryCleanerOption *option = Find(name)) {
        return option->Value();
    }
    TVariant none;
    VARIANT null;
    VariantInit(&null);
    null.vt = VT_NULL;
    none.Assign(null);
    return none;
}

} // namespace tidyhive
