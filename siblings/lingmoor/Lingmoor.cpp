// Lingmoor.dll: the localiser. Keeps the registered text variables and the chosen
// language's settings.
#include "siblings/common/SiblingObject.h"
#include "tidyhive/Lingmoor.h"

#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace tidyhive::siblings {

TIDYHIVE_SIBLING_INTERFACE(ILocalizer, IID_ILocalizer);

namespace {

class TLocalizer : public TSiblingObject<ILocalizer> {
public:
    HRESULT STDMETHODCALLTYPE GetLanguage(BSTR* language) override
    {
        std::lock_guard guard(mutex_);
        return ReturnBstr(language_, language);
    }
    LONG STDMETHODCALLTYPE GetTextCount() override
    {
        std::lock_guard guard(mutex_);
        return static_cast<LONG>(texts_.size());
    }
    HRESULT STDMETHODCALLTYPE Translate(LPCWSTR key, BSTR* text) override
    {
        std::lock_guard guard(mutex_);
        for (const auto& [name, variable] : texts_) {
            if (key && lstrcmpiW(name.c_str(), key) == 0) {
                return ReturnBstr(*variable ? std::wstring(*variable, SysStringLen(*variable)) : L"", text);
            }
        }
        return E_INVALIDARG;
    }
    HRESULT STDMETHODCALLTYPE Reload() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE GetLanguageFolder(BSTR* folder) override
    {
        std::lock_guard guard(mutex_);
        return ReturnBstr(folder_, folder);
    }
    void STDMETHODCALLTYPE SetLanguage(LPCWSTR language) override
    {
        std::lock_guard guard(mutex_);
        language_ = language ? language : L"";
    }
    void STDMETHODCALLTYPE SetLanguageOption(LONG option) override { option_ = option; }
    LONG STDMETHODCALLTYPE GetLanguageOption() override { return option_; }
    HRESULT STDMETHODCALLTYPE GetModuleFileName(BSTR* fileName) override
    {
        std::lock_guard guard(mutex_);
        return ReturnBstr(moduleFileName_, fileName);
    }
    void STDMETHODCALLTYPE SetModuleFileName(LPCWSTR fileName) override
    {
        std::lock_guard guard(mutex_);
        moduleFileName_ = fileName ? fileName : L"";
    }
    void STDMETHODCALLTYPE SetLanguageFolder(LPCWSTR folder) override
    {
        std::lock_guard guard(mutex_);
        folder_ = folder ? folder : L"";
    }
    void STDMETHODCALLTYPE UnregisterAll() override
    {
        std::lock_guard guard(mutex_);
        texts_.clear();
    }
    HRESULT STDMETHODCALLTYPE Reserved15() override { return E_NOTIMPL; }
    void STDMETHODCALLTYPE RegisterText(LPCWSTR key, BSTR* variable) override
    {
        if (!key || !variable) {
            return;
        }
        std::lock_guard guard(mutex_);
        texts_.emplace_back(key, variable);
    }

private:
    std::mutex mutex_;
    std::wstring language_;
    std::wstring folder_;
    std::wstring moduleFileName_;
    LONG option_ = 0;
    std::vector<std::pair<std::wstring, BSTR*>> texts_;
};

}  // namespace
}  // namespace tidyhive::siblings

using namespace tidyhive;
using namespace tidyhive::siblings;

extern "C" IUnknown* WINAPI GetInstance(const char* identifier, LONG)
{
    if (!SameIdentifier(identifier, kLocalizerInstanceId)) {
        return nullptr;
    }
    static TLocalizer* localizer = new TLocalizer();
    localizer->AddRef();
    return static_cast<ILocalizer*>(localizer);
}
