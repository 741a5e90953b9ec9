// Lingmoor.dll: the localiser. The engine registers every text variable with it; when a
// language other than English is chosen, it writes the translations into the variables.
// Translations come from "<language folder>\<language>.lng" (format: lang/README.md).
//
// Variables are written only inside RegisterText, SetLanguage, SetLanguageFolder and
// Reload; the caller keeps every reader of the variables out while it makes these calls.
#pragma once

#include <windows.h>
#include <unknwn.h>

namespace tidyhive {

inline constexpr char kLingmoorLibrary[] = "Lingmoor.dll";
inline constexpr char kLocalizerInstanceId[] = "{6F79FD80-41BF-42B9-80E7-D811CE73A0D6}";

// {6F79FD80-41BF-42B9-80E7-D811CE73A0D6}
inline constexpr IID IID_ILocalizer = {
    0x6F79FD80, 0x41BF, 0x42B9, {0x80, 0xE7, 0xD8, 0x11, 0xCE, 0x73, 0xA0, 0xD6}};
struct ILocalizer : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetLanguage(BSTR* language) = 0;                  // 3
    virtual LONG STDMETHODCALLTYPE GetTextCount() = 0;                                  // 4
    // The translation of a key in the current language, or the registered default.
    virtual HRESULT STDMETHODCALLTYPE Translate(LPCWSTR key, BSTR* text) = 0;           // 5
    virtual HRESULT STDMETHODCALLTYPE Reload() = 0;                                     // 6
    virtual HRESULT STDMETHODCALLTYPE GetLanguageFolder(BSTR* folder) = 0;              // 7
    virtual void STDMETHODCALLTYPE SetLanguage(LPCWSTR language) = 0;                   // 8
    virtual void STDMETHODCALLTYPE SetLanguageOption(LONG option) = 0;                  // 9
    virtual LONG STDMETHODCALLTYPE GetLanguageOption() = 0;                             // 10
    virtual HRESULT STDMETHODCALLTYPE GetModuleFileName(BSTR* fileName) = 0;            // 11
    virtual void STDMETHODCALLTYPE SetModuleFileName(LPCWSTR fileName) = 0;             // 12
    virtual void STDMETHODCALLTYPE SetLanguageFolder(LPCWSTR folder) = 0;               // 13
    // Forgets every registered variable (the engine calls it before it unloads).
    virtual void STDMETHODCALLTYPE UnregisterAll() = 0;                                 // 14
    // Why the chosen language's texts could not be used (a missing or malformed language
    // file): S_OK with the reason, or S_FALSE and null when the last load went well. The
    // engine writes the reason to its debug log.
    virtual HRESULT STDMETHODCALLTYPE GetLoadProblem(BSTR* problem) = 0;                // 15
    // Registers a text variable under key. The variable holds the default (English) text;
    // the localiser may replace it (SysFreeString the old, store a new BSTR) now and
    // whenever the language changes. The variable must outlive the registration.
    virtual void STDMETHODCALLTYPE RegisterText(LPCWSTR key, BSTR* variable) = 0;       // 16
};

}  // namespace tidyhive
