#include "host/OptionsCommand.h"

#include "host/Console.h"
#include "host/Engine.h"

namespace tidyhive::host {
namespace {

// The engine's ten options, as a host presents them.
constexpr const wchar_t* kOptionNames[] = {
    L"RegistryCleaner.UseIgnoreList",
    L"RegistryCleaner.ScanCDDriveReferences",
    L"RegistryCleaner.ScanRemovableMediaReferences",
    L"RegistryCleaner.ScanUserMenuShortcuts",
    L"RegistryCleaner.ScanCommonMenuShortcuts",
    L"RegistryCleaner.ScanRecentFolderShortcuts",
    L"RegistryCleaner.ScanOfficeRecentFolderShortcuts",
    L"RegistryCleaner.ScanDesktopShortcuts",
    L"RegistryCleaner.ScanCommonDesktopShortcuts",
    L"RegistryCleaner.ScanQuickLaunchShortcuts",
};

std::wstring VariantText(VARIANT& value)
{
    switch (value.vt) {
    case VT_BOOL:
        return value.boolVal ? L"true" : L"false";
    case VT_NULL:
    case VT_EMPTY:
        return L"(unset)";
    default: {
        VARIANT text;
        VariantInit(&text);
        std::wstring result = L"?";
        if (SUCCEEDED(VariantChangeType(&text, &value, 0, VT_BSTR))) {
            result = TakeText(text.bstrVal);
            text.vt = VT_EMPTY;
        }
        VariantClear(&text);
        return result;
    }
    }
}

const wchar_t* FindOption(const std::wstring& name)
{
    for (const wchar_t* option : kOptionNames) {
        if (lstrcmpiW(option, name.c_str()) == 0) {
            return option;
        }
    }
    return nullptr;
}

}  // namespace

int OptionsCommand(const std::vector<std::wstring>& args)
{
    const bool list = args.empty();
    const bool set = args.size() == 3 && args[0] == L"set";
    if (!list && !set) {
        ErrLine(L"usage: tidyhive options | options set NAME true|false");
        return 2;
    }
    const wchar_t* name = nullptr;
    bool newValue = false;
    if (set) {
        name = FindOption(args[1]);
        if (!name) {
            ErrLine(L"tidyhive options: unknown option '" + args[1] +
                    L"' (run 'tidyhive options' for the list)");
            return 2;
        }
        if (args[2] != L"true" && args[2] != L"false") {
            ErrLine(L"tidyhive options: the value must be true or false, not '" + args[2] + L"'");
            return 2;
        }
        newValue = args[2] == L"true";
    }
    TEngine engine;
    if (!engine.Open()) {
        ErrLine(L"tidyhive: " + engine.error());
        return 1;
    }
    IRegistryCleanerOptions* options = engine->GetOptions();
    if (set) {
        VARIANT value;
        VariantInit(&value);
        value.vt = VT_BOOL;
        value.boolVal = newValue ? VARIANT_TRUE : VARIANT_FALSE;
        options->SetOption(name, &value);
    }
    for (const wchar_t* option : kOptionNames) {
        if (set && option != name) {
            continue;
        }
        VARIANT value;
        VariantInit(&value);
        options->GetOption(option, &value);
        OutLine(std::wstring(option) + L"\t" + VariantText(value));
        VariantClear(&value);
    }
    return 0;
}

}  // namespace tidyhive::host
