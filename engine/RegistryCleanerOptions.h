// The scan options: ten named Boolean options, persisted in the host's settings store,
// readable and writable by the host, and observed by the engine objects that depend on them.
#pragma once

#include "engine/CommonInterfacedObject.h"
#include "services/Lock.h"
#include "services/Variant.h"

#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace tidyhive {

// Option names, as the host and the settings store know them (case-sensitive).
inline constexpr wchar_t kOptionUseIgnoreList[] = L"RegistryCleaner.UseIgnoreList";
inline constexpr wchar_t kOptionScanCDDriveReferences[] = L"RegistryCleaner.ScanCDDriveReferences";
inline constexpr wchar_t kOptionScanRemovableMediaReferences[] =
    L"RegistryCleaner.ScanRemovableMediaReferences";
inline constexpr wchar_t kOptionScanUserMenuShortcuts[] = L"RegistryCleaner.ScanUserMenuShortcuts";
inline constexpr wchar_t kOptionScanCommonMenuShortcuts[] = L"RegistryCleaner.ScanCommonMenuShortcuts";
inline constexpr wchar_t kOptionScanRecentFolderShortcuts[] = L"RegistryCleaner.ScanRecentFolderShortcuts";
inline constexpr wchar_t kOptionScanOfficeRecentFolderShortcuts[] =
    L"RegistryCleaner.ScanOfficeRecentFolderShortcuts";
inline constexpr wchar_t kOptionScanDesktopShortcuts[] = L"RegistryCleaner.ScanDesktopShortcuts";
inline constexpr wchar_t kOptionScanCommonDesktopShortcuts[] = L"RegistryCleaner.ScanCommonDesktopShortcuts";
inline constexpr wchar_t kOptionScanQuickLaunchShortcuts[] = L"RegistryCleaner.ScanQuickLaunchShortcuts";

// How a value is kept in the settings store, by its variant type: Boolean (VT_BOOL),
// integer (VT_I1, VT_I2, VT_I4, VT_I8, VT_UI1, VT_UI2, VT_UI4) or text (VT_BSTR). A value
// of any other type is held in memory only.
enum class TOptionKind { Boolean, Integer, Text, Other };
TOptionKind OptionKindOf(const VARIANT &value);

class TRegistryCleanerOptions;

class TRegistryCleanerOption {
public:
    TRegistryCleanerOption(std::wstring name, TVariant value, TRegistryCleanerOptions &owner);

    const std::wstring &Name() const { return name_; }
    const TVariant &Value() const { return value_; }
    // A value different from the current one is stored, written to the settings store by
    // its kind, and announced to the owner's listeners; an equal one changes nothing.
    void SetValue(const TVariant &value);

private:
    std::wstring name_;
    TVariant value_;
    TRegistryCleanerOptions &owner_;
};

using TRegistryCleanerOptionList = std::vector<std::unique_ptr<TRegistryCleanerOption>>;

class TRegistryCleanerOptions : public TCommonInterfacedObject<IRegistryCleanerOptions> {
public:
    // The process-wide options over the host's settings store (Sysvane's "Options"), created
    // on first use; they live until the process ends.
    static TRegistryCleanerOptions &Instance();

    // Options over the given store: registers the defaults with it and loads the stored
    // values. The store must stay alive as long as the options.
    explicit TRegistryCleanerOptions(ISettingsStore *store);

    // A copy of the option's value; VT_NULL for a name that matches no option.
    void STDMETHODCALLTYPE GetOption(LPCWSTR name, VARIANT *value) override;
    // Sets an option and flushes the store. A name that matches no option, or a value that
    // cannot be copied (an unknown variant type), changes and flushes nothing.
    void STDMETHODCALLTYPE SetOption(LPCWSTR name, const VARIANT *value) override;

    // Listeners hear the name of every option that changes, on the thread that changed it,
    // in the order they were added, while the options' lock is held (they may read options
    // and add or remove listeners meanwhile). Adding twice registers once. A listener
    // removed while a notification runs is not called afterwards; since RemoveListener
    // waits for a running notification, call it first thing in the destructor of the class
    // that implements OptionsChanged.
    void AddListener(IFileNameValidator *listener);
    void RemoveListener(IFileNameValidator *listener);

    // An option's current value as a Boolean (for the scanners): a Boolean as it is, a
    // number as nonzero, a text as the runtime converts it ("True", "False", "1", "0");
    // false for an unknown name or a value that does not convert.
    bool BooleanOption(std::wstring_view name);
    // A copy of an option's value; VT_NULL for an unknown name.
    TVariant Option(std::wstring_view name);

private:
    friend class TRegistryCleanerOption;

    TRegistryCleanerOption *Find(std::wstring_view name) const;
    void Load();
    void Write(const std::wstring &name, const TVariant &value);
    void NotifyListeners(const std::wstring &name);

    ISettingsStore *store_;
    TLock lock_; // re-entrant: listeners may read options while being notified
    TRegistryCleanerOptionList options_;
    std::vector<IFileNameValidator *> listeners_; // not counted
};

} // namespace tidyhive
