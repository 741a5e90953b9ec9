// Lingmoor.dll: the localiser. Keeps the registered text variables with their English
// defaults and writes the chosen language's translations into them.
#include "siblings/common/SiblingObject.h"
#include "siblings/lingmoor/LanguageFile.h"
#include "tidyhive/Lingmoor.h"

#include <atomic>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace tidyhive::siblings {

TIDYHIVE_SIBLING_INTERFACE(ILocalizer, IID_ILocalizer);

namespace {

std::wstring BstrText(BSTR text)
{
    return text ? std::wstring(text, SysStringLen(text)) : std::wstring();
}

// The language name read as "keep the built-in English texts" when no file for it exists.
bool IsEnglish(const std::wstring &language)
{
    return language.size() == 3 && TranslationKey(language).starts_with(L"EN");
}

// Nothing may leave an interface method as an exception: a failure answers the fallback
// (allocation is the only thing that can fail here).
template <class Body> auto Guarded(decltype(std::declval<Body>()()) fallback, Body &&body) noexcept
{
    try {
        return body();
    } catch (...) {
        return fallback;
    }
}

template <class Body> void GuardedVoid(Body &&body) noexcept
{
    try {
        body();
    } catch (...) {
    }
}

struct Registration {
    std::wstring key; // upper-cased
    BSTR *variable;
    std::wstring english; // the text the variable held when it was registered
};

class TLocalizer : public TSiblingObject<ILocalizer> {
public:
    HRESULT STDMETHODCALLTYPE GetLanguage(BSTR *language) override
    {
        return Guarded(HRESULT(E_OUTOFMEMORY), [&]() -> HRESULT {
            std::lock_guard guard(mutex_);
            return ReturnBstr(language_, language);
        });
    }
    LONG STDMETHODCALLTYPE GetTextCount() override
    {
        std::lock_guard guard(mutex_);
        return static_cast<LONG>(registrations_.size());
    }
    HRESULT STDMETHODCALLTYPE Translate(LPCWSTR key, BSTR *text) override
    {
        return Guarded(HRESULT(E_OUTOFMEMORY), [&]() -> HRESULT {
            if (!key) {
                return E_INVALIDARG;
            }
            std::lock_guard guard(mutex_);
            const std::wstring upper = TranslationKey(key);
            if (auto found = translations_.find(upper); found != translations_.end()) {
                return ReturnBstr(found->second, text);
            }
            for (const Registration &registration : registrations_) {
                if (registration.key == upper) {
                    return ReturnBstr(registration.english, text);
                }
            }
            return E_INVALIDARG;
        });
    }
    HRESULT STDMETHODCALLTYPE Reload() override
    {
        return Guarded(HRESULT(E_OUTOFMEMORY), [&]() -> HRESULT {
            std::lock_guard guard(mutex_);
            LoadLanguage();
            ApplyAll();
            return problem_.empty() ? S_OK : S_FALSE;
        });
    }
    HRESULT STDMETHODCALLTYPE GetLanguageFolder(BSTR *folder) override
    {
        return Guarded(HRESULT(E_OUTOFMEMORY), [&]() -> HRESULT {
            std::lock_guard guard(mutex_);
            return ReturnBstr(folder_, folder);
        });
    }
    void STDMETHODCALLTYPE SetLanguage(LPCWSTR language) override
    {
        GuardedVoid([&] {
            std::lock_guard guard(mutex_);
            language_ = language ? language : L"";
            LoadLanguage();
            ApplyAll();
        });
    }
    // The option has no meaning of its own here; it is kept for the caller to read back.
    void STDMETHODCALLTYPE SetLanguageOption(LONG option) override { option_.store(option); }
    LONG STDMETHODCALLTYPE GetLanguageOption() override { return option_.load(); }
    HRESULT STDMETHODCALLTYPE GetModuleFileName(BSTR *fileName) override
    {
        return Guarded(HRESULT(E_OUTOFMEMORY), [&]() -> HRESULT {
            std::lock_guard guard(mutex_);
            return ReturnBstr(moduleFileName_, fileName);
        });
    }
    void STDMETHODCALLTYPE SetModuleFileName(LPCWSTR fileName) override
    {
        GuardedVoid([&] {
            std::lock_guard guard(mutex_);
            moduleFileName_ = fileName ? fileName : L"";
        });
    }
    void STDMETHODCALLTYPE SetLanguageFolder(LPCWSTR folder) override
    {
        GuardedVoid([&] {
            std::lock_guard guard(mutex_);
            const std::wstring changed = folder ? folder : L"";
            if (changed == folder_) {
                return;
            }
            folder_ = changed;
            if (!language_.empty()) {
                LoadLanguage();
                ApplyAll();
            }
        });
    }
    void STDMETHODCALLTYPE UnregisterAll() override
    {
        GuardedVoid([&] {
            std::lock_guard guard(mutex_);
            registrations_.clear();
        });
    }
    HRESULT STDMETHODCALLTYPE GetLoadProblem(BSTR *problem) override
    {
        return Guarded(HRESULT(E_OUTOFMEMORY), [&]() -> HRESULT {
            if (!problem) {
                return E_POINTER;
            }
            std::lock_guard guard(mutex_);
            if (problem_.empty()) {
                *problem = nullptr;
                return S_FALSE;
            }
            return ReturnBstr(problem_, problem);
        });
    }
    void STDMETHODCALLTYPE RegisterText(LPCWSTR key, BSTR *variable) override
    {
        GuardedVoid([&] {
            if (!key || !variable) {
                return;
            }
            std::lock_guard guard(mutex_);
            Registration *registration = nullptr;
            for (Registration &existing : registrations_) {
                if (existing.variable == variable) {
                    registration = &existing; // registered again: its English text is kept
                    break;
                }
            }
            if (registration) {
                registration->key = TranslationKey(key);
            } else {
                registrations_.push_back({TranslationKey(key), variable, BstrText(*variable)});
                registration = &registrations_.back();
            }
            Apply(*registration);
        });
    }

private:
    std::wstring Folder() const
    {
        if (!folder_.empty()) {
            return folder_;
        }
        // Without a folder: "Lang" beside the module that registered the texts.
        const size_t slash = moduleFileName_.find_last_of(L"\\/");
        return slash == std::wstring::npos ? std::wstring() : moduleFileName_.substr(0, slash + 1) + L"Lang";
    }

    // Reads the current language's file into translations_; on any fault the translations
    // are empty (every text English) and problem_ says why.
    void LoadLanguage()
    {
        translations_.clear();
        problem_.clear();
        if (language_.empty()) {
            return;
        }
        if (!IsPlainLanguageName(language_)) {
            problem_ =
                L"language \"" + language_ + L"\" is not a plain language name: the English texts stay";
            return;
        }
        std::wstring folder = Folder();
        if (!folder.empty() && folder.back() != L'\\' && folder.back() != L'/') {
            folder.push_back(L'\\');
        }
        const std::wstring fileName = folder + language_ + L".lng";
        if (IsEnglish(language_) && GetFileAttributesW(fileName.c_str()) == INVALID_FILE_ATTRIBUTES) {
            return; // English is built in
        }
        std::wstring problem;
        if (!LoadLanguageFile(fileName, translations_, problem)) {
            problem_ = problem + L": the English texts stay";
        }
    }

    void ApplyAll()
    {
        for (Registration &registration : registrations_) {
            Apply(registration);
        }
    }

    // Puts the translation, or else the English text, into the variable.
    void Apply(Registration &registration)
    {
        const auto found = translations_.find(registration.key);
        const std::wstring &text = found != translations_.end() ? found->second : registration.english;
        BSTR current = *registration.variable;
        if (current && SysStringLen(current) == text.size() &&
            text.compare(0, text.size(), current, text.size()) == 0) {
            return;
        }
        BSTR replacement = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
        if (!replacement) {
            return; // out of memory: the variable keeps its text
        }
        SysFreeString(std::exchange(*registration.variable, replacement));
    }

    std::mutex mutex_;
    std::wstring language_;
    std::wstring folder_;
    std::wstring moduleFileName_;
    std::wstring problem_;
    std::atomic<LONG> option_ = 0;
    std::vector<Registration> registrations_;
    TTranslations translations_;
};

} // namespace
} // namespace tidyhive::siblings

using namespace tidyhive;
using namespace tidyhive::siblings;

extern "C" IUnknown *WINAPI GetInstance(const char *identifier, LONG)
{
    if (!SameIdentifier(identifier, kLocalizerInstanceId)) {
        return nullptr;
    }
    try {
        static TLocalizer *localizer = new TLocalizer();
        localizer->AddRef();
        return static_cast<ILocalizer *>(localizer);
    } catch (...) {
        return nullptr;
    }
}
