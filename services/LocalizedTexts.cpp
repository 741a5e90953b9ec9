#include "services/LocalizedTexts.h"

#include "services/DebugLog.h"
#include "services/HostLibraries.h"
#include "services/Text.h"

#include <windows.h>

#include <array>
#include <mutex>
#include <shared_mutex>

namespace tidyhive {
namespace {

constexpr size_t kCount = static_cast<size_t>(TextKey::Count);

constexpr std::array<const wchar_t *, kCount> kNames = {
#define TIDYHIVE_TEXT(key, text) L## #key,
#include "services/LocalizedTextList.inc"
#undef TIDYHIVE_TEXT
};

constexpr std::array<const wchar_t *, kCount> kDefaults = {
#define TIDYHIVE_TEXT(key, text) text,
#include "services/LocalizedTextList.inc"
#undef TIDYHIVE_TEXT
};

// The variables the localiser writes into. Readers take the shared side; the localiser
// writes only while the engine holds the exclusive side (registration, language choice).
struct TextVariables {
    std::shared_mutex mutex;
    std::array<BSTR, kCount> values{};
    TextVariables()
    {
        for (size_t i = 0; i < kCount; ++i) {
            values[i] = SysAllocString(kDefaults[i]);
        }
    }
};

TextVariables &Variables()
{
    static TextVariables *variables = new TextVariables(); // lives until the process ends
    return *variables;
}

std::wstring HostFolder()
{
    std::wstring buffer(MAX_PATH, L'\0');
    DWORD length = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    buffer.resize(length);
    const size_t slash = buffer.find_last_of(L"\\/");
    return slash == std::wstring::npos ? std::wstring() : buffer.substr(0, slash + 1);
}

std::wstring EngineFileName()
{
    HMODULE self = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&EngineFileName), &self);
    std::wstring buffer(MAX_PATH, L'\0');
    DWORD length = GetModuleFileNameW(self, buffer.data(), static_cast<DWORD>(buffer.size()));
    buffer.resize(length);
    return buffer;
}

void ChooseLanguage(ILocalizer *localizer)
{
    ISettingsStore *options = GetOptions();
    IGlobals *globals = GetGlobals();
    const std::wstring settingsPath = SiblingText(globals, &IGlobals::GetSettingsPath);
    options->Open(HKEY_CURRENT_USER, (settingsPath + L"Settings").c_str());

    wchar_t abbreviation[4] = {};
    GetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_SABBREVLANGNAME, abbreviation, 4);
    abbreviation[3] = L'\0';
    options->RegisterText(L"Language", abbreviation);
    options->Reload();
    TBstr language;
    options->ReadText(L"Language", language.Out());

    localizer->SetLanguageFolder((HostFolder() + L"Lang").c_str());
    localizer->SetModuleFileName(EngineFileName().c_str());
    localizer->SetLanguage(language.Str().c_str());
    localizer->SetLanguageOption(0);
}

// The localiser cannot write the engine's log itself: it tells why a language file was not
// used, and the engine writes that as one line.
void LogLanguageProblem(ILocalizer *localizer)
{
    TBstr problem;
    if (localizer->GetLoadProblem(problem.Out()) == S_OK) {
        DebugLog::Log(L"Localizer - SetLanguage - ", problem.Str());
    }
}

} // namespace

std::wstring LoadText(TextKey key)
{
    const size_t index = static_cast<size_t>(key);
    if (index >= kCount) {
        return {};
    }
    TextVariables &variables = Variables();
    std::shared_lock guard(variables.mutex);
    return FromBstr(variables.values[index]);
}

const wchar_t *TextKeyName(TextKey key)
{
    const size_t index = static_cast<size_t>(key);
    return index < kCount ? kNames[index] : L"";
}

const wchar_t *DefaultText(TextKey key)
{
    const size_t index = static_cast<size_t>(key);
    return index < kCount ? kDefaults[index] : L"";
}

void InitializeLocalizedTexts()
{
    static std::once_flag once;
    std::call_once(once, [] {
        ILocalizer *localizer = GetLocalizer();
        GetHelper();
        TextVariables &variables = Variables();
        std::unique_lock guard(variables.mutex);
        for (size_t i = 0; i < kCount; ++i) {
            localizer->RegisterText(kNames[i], &variables.values[i]);
        }
        try {
            ChooseLanguage(localizer);
            LogLanguageProblem(localizer);
        } catch (...) {
            DebugLog::Log(L"Language could not be chosen: the English texts stay");
        }
    });
}

void SetTextLanguage(const std::wstring &language)
{
    InitializeLocalizedTexts();
    ILocalizer *localizer = GetLocalizer();
    std::unique_lock guard(Variables().mutex);
    localizer->SetLanguage(language.c_str());
    localizer->SetLanguageOption(0);
    LogLanguageProblem(localizer);
}

} // namespace tidyhive
